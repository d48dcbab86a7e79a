#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include "responseview.h"

namespace {

InfoObject object(int typeId, int address, const QVariant& value = 1)
{
    InfoObject o;
    o.typeId = typeId;
    o.address = address;
    o.value = value;
    return o;
}

QVector<InfoObject> run(int typeId, int first, int count)
{
    QVector<InfoObject> objects;
    for (int i = 0; i < count; ++i)
        objects << object(typeId, first + i);
    return objects;
}

const QColor Highlight(Qt::darkCyan);
const QColor Normal("#505050");

} // namespace

class TestResponseView : public QObject
{
    Q_OBJECT
private:
    static QTableView* table(ResponseView& view, const char* name)
    {
        return view.findChild<QTableView*>(name);
    }
    static QStringList addresses(ResponseView& view, const char* name)
    {
        QStringList list;
        const QAbstractItemModel* m = table(view, name)->model();
        for (int r = 0; r < m->rowCount(); ++r)
            list << m->index(r, 0).data().toString();
        return list;
    }
    static QColor background(ResponseView& view, const char* name, int row)
    {
        return table(view, name)->model()->index(row, 1).data(Qt::BackgroundRole).value<QBrush>().color();
    }
    static QString value(ResponseView& view, const char* name, int row)
    {
        return table(view, name)->model()->index(row, 1).data().toString();
    }

private Q_SLOTS:
    void updateObjectMerge_data();
    void updateObjectMerge();
    void secondUpdateKeepsHighlight();
    void interrogationRuns_data();
    void interrogationRuns();
    void scrollsToFirstHighlightSinceLastScroll();
    void counterAndReady_data();
    void counterAndReady();
};

void TestResponseView::updateObjectMerge_data()
{
    QTest::addColumn<InfoObject>("update");
    QTest::addColumn<int>("readAddress");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("changedRow"); // -1: no value changed

    // The Single table lists 5, 10 and 20 before each case.
    QTest::newRow("listed, read") << object(1, 10, 0) << 10 << QStringList{"5", "10", "20"} << 1;
    QTest::newRow("listed, spontaneous, time tag")
        << object(30, 20, 0) << 0 << QStringList{"5", "10", "20"} << 2;
    QTest::newRow("unlisted read replaces table") << object(1, 100, 0) << 100 << QStringList{"100"} << -1;
    QTest::newRow("unlisted spontaneous ignored")
        << object(1, 7, 0) << 0 << QStringList{"5", "10", "20"} << -1;
    QTest::newRow("unlisted, other read pending")
        << object(1, 7, 0) << 8 << QStringList{"5", "10", "20"} << -1;
    QTest::newRow("type without table") << object(45, 10, 0) << 10 << QStringList{"5", "10", "20"} << -1;
}

void TestResponseView::updateObjectMerge()
{
    QFETCH(InfoObject, update);
    QFETCH(int, readAddress);
    QFETCH(QStringList, rows);
    QFETCH(int, changedRow);

    ResponseView view;
    view.updateObjects({object(1, 5), object(1, 10), object(1, 20)});
    view.updateObject(update, readAddress);
    QCOMPARE(addresses(view, "singleView"), rows);
    for (int r = 0; r < rows.size(); ++r) {
        const bool changed = r == changedRow;
        const bool replaced = changedRow < 0 && rows.size() == 1;
        QCOMPARE(value(view, "singleView", r), changed || replaced ? QString("0") : QString("1"));
        QCOMPARE(background(view, "singleView", r), changed ? Highlight : Normal);
        QCOMPARE(
            table(view, "singleView")->model()->index(r, 0).data(Qt::BackgroundRole).value<QBrush>().color(),
            QColor(Qt::darkGray));
    }
}

void TestResponseView::secondUpdateKeepsHighlight()
{
    ResponseView view;
    view.updateObjects({object(3, 1), object(3, 2)});
    QElapsedTimer clock;
    clock.start();
    view.updateObject(object(3, 2, 2), 0);
    QCOMPARE(background(view, "doubleView", 1), Highlight);
    QTest::qWait(1500);
    view.updateObject(object(3, 2, 1), 0);
    const qint64 second = clock.elapsed();
    // The first timer has fired by now but finds a different item in the cell.
    QTest::qWait(int(qMax<qint64>(0, 3600 - clock.elapsed())));
    QCOMPARE(background(view, "doubleView", 1), Highlight);
    QCOMPARE(value(view, "doubleView", 1), QString("1"));
    QTRY_COMPARE_WITH_TIMEOUT(background(view, "doubleView", 1), Normal, 5000);
    QVERIFY(clock.elapsed() - second >= 2800);
}

void TestResponseView::interrogationRuns_data()
{
    QTest::addColumn<QVector<InfoObject>>("before");
    QTest::addColumn<QVector<InfoObject>>("objects");
    QTest::addColumn<QStringList>("single");
    QTest::addColumn<QStringList>("doubles");
    QTest::addColumn<bool>("highlighted"); // every row of the Single table

    const QVector<InfoObject> none;
    QTest::newRow("1,1,1,3,3") << none << (run(1, 1, 3) + run(3, 7, 2)) << QStringList{"1", "2", "3"}
                               << QStringList{"7", "8"} << false;
    QTest::newRow("types without table skipped")
        << none << (run(45, 1, 2) + run(1, 1, 1) + run(102, 5, 3) + run(3, 9, 1) + run(100, 1, 1))
        << QStringList{"1"} << QStringList{"9"} << false;
    QTest::newRow("second run of a table replaces the first")
        << none << (run(1, 1, 2) + run(3, 4, 1) + run(30, 8, 2)) << QStringList{"8", "9"} << QStringList{"4"}
        << false;
    QTest::newRow("repeated interrogation highlights")
        << run(1, 1, 3) << run(1, 1, 4) << QStringList{"1", "2", "3", "4"} << QStringList{} << true;
    QTest::newRow("first address new: no highlight")
        << run(1, 1, 3) << run(1, 0, 3) << QStringList{"0", "1", "2"} << QStringList{} << false;
    QTest::newRow("descending order kept")
        << none << QVector<InfoObject>{object(1, 30), object(1, 20), object(1, 10)}
        << QStringList{"30", "20", "10"} << QStringList{} << false;
}

void TestResponseView::interrogationRuns()
{
    QFETCH(QVector<InfoObject>, before);
    QFETCH(QVector<InfoObject>, objects);
    QFETCH(QStringList, single);
    QFETCH(QStringList, doubles);
    QFETCH(bool, highlighted);

    ResponseView view;
    view.updateObjects(before);
    view.updateObjects(objects);
    QCOMPARE(addresses(view, "singleView"), single);
    QCOMPARE(addresses(view, "doubleView"), doubles);
    for (int r = 0; r < single.size(); ++r)
        QCOMPARE(background(view, "singleView", r), highlighted ? Highlight : Normal);
}

void TestResponseView::scrollsToFirstHighlightSinceLastScroll()
{
    ResponseView view;
    view.resize(800, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto* scroll = view.findChild<QCheckBox*>("scrollCheckBox");
    QScrollBar* bar = table(view, "measuredView")->verticalScrollBar();
    view.updateObjects(run(13, 1000, 200));
    QTest::qWait(20); // let the table lay out its new rows

    scroll->setChecked(false);
    view.updateObject(object(13, 1150), 0);
    view.updateObject(object(13, 1020), 0);
    QCOMPARE(bar->value(), 0);
    scroll->setChecked(true);
    view.updateObject(object(13, 1100), 0);
    QCOMPARE(bar->value(), 150);

    // A highlight left pending in a table that is then cleared is forgotten, not followed.
    scroll->setChecked(false);
    view.updateObject(object(13, 1180), 0);
    view.clearResponses();
    view.updateObjects(run(13, 1000, 200));
    QTest::qWait(20);
    scroll->setChecked(true);
    view.updateObject(object(13, 1060), 0);
    QCOMPARE(bar->value(), 60);
}

void TestResponseView::counterAndReady_data()
{
    QTest::addColumn<QString>("steps"); // f/t: responseFinished(false/true), r: clearReady, c: clearResponses
    QTest::addColumn<QString>("count");
    QTest::addColumn<bool>("ready");

    QTest::newRow("counts while not ready") << "fff"
                                            << "3" << false;
    QTest::newRow("connect: two interrogations") << "ft"
                                                 << "2" << true;
    QTest::newRow("stops once ready") << "ftff"
                                      << "2" << true;
    QTest::newRow("twice after clearReady") << "ftrtt"
                                            << "3" << true;
    QTest::newRow("clearReady keeps count") << "ftr"
                                            << "2" << false;
    QTest::newRow("clearResponses resets") << "ftcf"
                                           << "1" << false;
}

void TestResponseView::counterAndReady()
{
    QFETCH(QString, steps);
    QFETCH(QString, count);
    QFETCH(bool, ready);

    ResponseView view;
    for (const QChar step : steps) {
        if (step == 'f' || step == 't')
            view.responseFinished(step == 't');
        else if (step == 'r')
            view.clearReady();
        else
            view.clearResponses();
    }
    QCOMPARE(view.findChild<QLineEdit*>("packetCountEdit")->text(), count);
    QCOMPARE(view.findChild<QCheckBox*>("readyCheckBox")->isChecked(), ready);
}

QTEST_MAIN(TestResponseView)
#include "tst_responseview.moc"
