#include <QAbstractItemModelTester>
#include <QTreeView>
#include <QtTest>

#include "eventview.h"
#include "objecttext.h"

namespace {

InfoObject object(int typeId, int address, const QVariant& value)
{
    InfoObject o;
    o.typeId = typeId;
    o.address = address;
    o.value = value;
    return o;
}

} // namespace

class TestEventView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void valueText_data();
    void valueText();
    void rowsNewestFirstAndClear();
};

void TestEventView::valueText_data()
{
    QTest::addColumn<int>("typeId");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("float one tenth") << 13 << QVariant(0.1f) << "0.1";
    QTest::newRow("float one half, time tag") << 36 << QVariant(0.5f) << "0.5";
    QTest::newRow("six significant digits") << 13 << QVariant(123.4567f) << "123.457";
    QTest::newRow("counter 1200000") << 15 << QVariant(1200000) << "1.2e+06";
    QTest::newRow("counter 1234567, time tag") << 37 << QVariant(1234567) << "1.23457e+06";
    QTest::newRow("six-digit counter") << 15 << QVariant(123456) << "123456";
    QTest::newRow("single point off, time tag") << 30 << QVariant(false) << "0";
    QTest::newRow("invalid value") << 102 << QVariant() << "0";
    QTest::newRow("invalid measured value") << 13 << QVariant() << "0";
}

void TestEventView::valueText()
{
    QFETCH(int, typeId);
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QCOMPARE(ObjectText::valueText(object(typeId, 1, value)), text);
}

void TestEventView::rowsNewestFirstAndClear()
{
    EventView view;
    QAbstractItemModel* model = view.findChild<QTreeView*>("eventTree")->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // The headers, then each row from the top, cells joined by "|".
    const auto shown = [model] {
        QStringList lines;
        for (int r = -1; r < model->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < model->columnCount(); ++c)
                cells
                    << (r < 0 ? model->headerData(c, Qt::Horizontal) : model->index(r, c).data()).toString();
            lines << cells.join('|');
        }
        return lines;
    };
    const QString headers = "Time|Type|Address of change|Value";
    view.addEvent(object(30, 100, true));
    view.addEvent(object(30, 100, false)); // same address: a second row, nothing merged
    view.addEvent(object(13, 4001, 2.5f));
    QCOMPARE(shown(), (QStringList{headers, "|M_ME_NC_1 (13)|4001|2.5", "|M_SP_TB_1 (30)|100|0",
                                   "|M_SP_TB_1 (30)|100|1"}));
    view.clearEvents();
    view.addEvent(object(1, 3, false));
    view.addEvent(object(1, 4, false));
    QCOMPARE(shown(), (QStringList{headers, "|M_SP_NA_1 (1)|4|0", "|M_SP_NA_1 (1)|3|0"}));
}

QTEST_MAIN(TestEventView)
#include "tst_eventview.moc"
