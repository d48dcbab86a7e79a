#include <QAbstractItemModelTester>
#include <QTreeView>
#include <QtTest>

#include "eventview.h"

namespace {

InfoObject object(int typeId, int address, const QVariant& value, quint8 quality = 0)
{
    InfoObject o;
    o.typeId = typeId;
    o.address = address;
    o.value = value;
    o.quality = quality;
    return o;
}

} // namespace

class TestEventView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rowsNewestFirstAndClear();
};

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
    view.addEvent(object(13, 4001, 2.5f, InfoObject::Invalid));
    QCOMPARE(shown(), (QStringList{headers, "|M_ME_NC_1 (13)|4001|2.5 [IV]", "|M_SP_TB_1 (30)|100|0",
                                   "|M_SP_TB_1 (30)|100|1"}));
    view.clearEvents();
    view.addEvent(object(1, 3, false));
    view.addEvent(object(1, 4, false));
    QCOMPARE(shown(), (QStringList{headers, "|M_SP_NA_1 (1)|4|0", "|M_SP_NA_1 (1)|3|0"}));
}

QTEST_MAIN(TestEventView)
#include "tst_eventview.moc"
