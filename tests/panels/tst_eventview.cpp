#include <QAbstractItemModelTester>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

#include "eventview.h"

class TestEventView : public QObject
{
    Q_OBJECT
private:
    static InfoObject object(int typeId, int address, const QVariant& value)
    {
        InfoObject o;
        o.typeId = typeId;
        o.address = address;
        o.value = value;
        return o;
    }
    static QAbstractItemModel* model(EventView& view)
    {
        return view.findChild<QTreeView*>("eventTree")->model();
    }
    static QString cell(EventView& view, int row, int column)
    {
        return model(view)->index(row, column).data().toString();
    }

private Q_SLOTS:
    void valueText_data();
    void valueText();
    void rowsNewestFirst();
    void clearKeepsHeaders();
};

void TestEventView::valueText_data()
{
    QTest::addColumn<int>("typeId");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text");

    QTest::newRow("float one tenth") << 13 << QVariant(0.1f) << "0.1";
    QTest::newRow("float one half, time tag") << 36 << QVariant(0.5f) << "0.5";
    QTest::newRow("six significant digits") << 13 << QVariant(123.4567f) << "123.457";
    QTest::newRow("small float in exponent form") << 13 << QVariant(0.00001f) << "1e-05";
    QTest::newRow("negative float") << 36 << QVariant(-42.25f) << "-42.25";
    QTest::newRow("counter 1200000") << 15 << QVariant(1200000) << "1.2e+06";
    QTest::newRow("counter 1234567, time tag") << 37 << QVariant(1234567) << "1.23457e+06";
    QTest::newRow("six-digit counter") << 15 << QVariant(123456) << "123456";
    QTest::newRow("single point on") << 1 << QVariant(true) << "1";
    QTest::newRow("single point off") << 30 << QVariant(false) << "0";
    QTest::newRow("invalid value") << 102 << QVariant() << "0";
    QTest::newRow("invalid measured value") << 13 << QVariant() << "0";
}

void TestEventView::valueText()
{
    QFETCH(int, typeId);
    QFETCH(QVariant, value);
    QFETCH(QString, text);

    EventView view;
    view.addEvent(object(typeId, 1, value));
    QCOMPARE(cell(view, 0, 3), text);
    QCOMPARE(EventView::valueText(object(typeId, 1, value)), text);
}

void TestEventView::rowsNewestFirst()
{
    EventView view;
    QAbstractItemModelTester tester(model(view), QAbstractItemModelTester::FailureReportingMode::QtTest);
    view.addEvent(object(30, 100, true));
    view.addEvent(object(30, 100, false)); // same address: a second row, nothing merged
    view.addEvent(object(13, 4001, 2.5f));
    QCOMPARE(model(view)->rowCount(), 3);
    const QStringList newest{cell(view, 0, 0), cell(view, 0, 1), cell(view, 0, 2), cell(view, 0, 3)};
    QCOMPARE(newest, (QStringList{"", "M_ME_NC_1 (13)", "4001", "2.5"}));
    QCOMPARE(cell(view, 1, 1), QString("M_SP_TB_1 (30)"));
    QCOMPARE(cell(view, 1, 3), QString("0"));
    QCOMPARE(cell(view, 2, 3), QString("1"));
}

void TestEventView::clearKeepsHeaders()
{
    EventView view;
    QAbstractItemModelTester tester(model(view), QAbstractItemModelTester::FailureReportingMode::QtTest);
    view.addEvent(object(1, 1, true));
    view.addEvent(object(1, 2, true));
    view.clearEvents();
    QCOMPARE(model(view)->rowCount(), 0);
    QStringList headers;
    for (int c = 0; c < model(view)->columnCount(); ++c)
        headers << model(view)->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(headers, (QStringList{"Time", "Type", "Address of change", "Value"}));

    view.addEvent(object(1, 3, false));
    view.addEvent(object(1, 4, false));
    QCOMPARE(cell(view, 0, 2), QString("4"));
    QCOMPARE(cell(view, 1, 2), QString("3"));
}

QTEST_MAIN(TestEventView)
#include "tst_eventview.moc"
