#include <QBuffer>
#include <QCheckBox>
#include <QColor>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include "responseview.h"

#include <cmath>

using namespace iec101;

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

// A table as "address:value" per row, "*" marking a highlighted value ("?" an unknown colour).
QString table(ResponseView& view, const char* name)
{
    const QAbstractItemModel* m = view.findChild<QTableView*>(name)->model();
    QStringList rows;
    for (int r = 0; r < m->rowCount(); ++r) {
        const QColor colour = m->index(r, 1).data(Qt::BackgroundRole).value<QBrush>().color();
        const char* mark = colour == Qt::darkCyan ? "*" : colour == QColor("#505050") ? "" : "?";
        rows << m->index(r, 0).data().toString() + ':' + m->index(r, 1).data().toString() + mark;
    }
    return rows.join(' ');
}

// WCAG 2 contrast ratio of two colours, 1 to 21.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

} // namespace

class TestResponseView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void updates_data();
    void updates();
    void secondUpdateKeepsHighlight();
    void scrollsToFirstHighlightSinceLastScroll();
    void counterAndReady();
    void cellsReadAtWcagContrast();
    void exportsATable_data();
    void exportsATable();
};

void TestResponseView::updates_data()
{
    QTest::addColumn<QVector<InfoObject>>("before"); // loaded by an interrogation
    QTest::addColumn<QVector<InfoObject>>("objects");
    QTest::addColumn<int>("readAddress"); // -1: objects are an interrogation, else one updateObject()
    QTest::addColumn<QString>("tables");  // "single | double"

    const QVector<InfoObject> none, listed{object(1, 5), object(1, 10), object(1, 20)};
    QTest::newRow("listed, read") << listed << QVector<InfoObject>{object(1, 10, 0)} << 10
                                  << "5:1 10:0* 20:1 | ";
    QTest::newRow("listed, spontaneous, time tag")
        << listed << QVector<InfoObject>{object(30, 20, 0)} << 0 << "5:1 10:1 20:0* | ";
    QTest::newRow("unlisted read inserts its row in order")
        << listed << QVector<InfoObject>{object(1, 7, 0)} << 7 << "5:1 7:0 10:1 20:1 | ";
    QTest::newRow("unlisted spontaneous ignored")
        << listed << QVector<InfoObject>{object(1, 7, 0)} << 0 << "5:1 10:1 20:1 | ";
    QTest::newRow("unlisted, other read pending")
        << listed << QVector<InfoObject>{object(1, 7, 0)} << 8 << "5:1 10:1 20:1 | ";
    QTest::newRow("type without table")
        << listed << QVector<InfoObject>{object(45, 10, 0)} << 10 << "5:1 10:1 20:1 | ";
    QTest::newRow("runs 1,1,1,3,3") << none << (run(1, 1, 3) + run(3, 7, 2)) << -1 << "1:1 2:1 3:1 | 7:1 8:1";
    QTest::newRow("types without table skipped")
        << none << (run(45, 1, 2) + run(1, 1, 1) + run(102, 5, 3) + run(3, 9, 1) + run(100, 1, 1)) << -1
        << "1:1 | 9:1";
    QTest::newRow("types sharing a table fill it together, by address")
        << listed << (run(30, 8, 2) + run(1, 1, 2) + run(3, 4, 1) + run(2, 3, 1)) << -1
        << "1:1 2:1 3:1 8:1 9:1 | 4:1";
    QTest::newRow("repeated interrogation highlights the rows listed before")
        << run(1, 1, 3) << run(1, 0, 4) << -1 << "0:1 1:1* 2:1* 3:1* | ";
    QTest::newRow("descending order sorted, last of an address counts")
        << none << QVector<InfoObject>{object(1, 30), object(1, 20, 0), object(1, 10), object(2, 20, 1)} << -1
        << "10:1 20:1 30:1 | ";
}

void TestResponseView::updates()
{
    QFETCH(QVector<InfoObject>, before);
    QFETCH(QVector<InfoObject>, objects);
    QFETCH(int, readAddress);
    QFETCH(QString, tables);

    ResponseView view;
    view.updateObjects(before);
    if (readAddress < 0)
        view.updateObjects(objects);
    else
        view.updateObject(objects.first(), readAddress);
    QCOMPARE(table(view, "singleView") + " | " + table(view, "doubleView"), tables);
}

void TestResponseView::secondUpdateKeepsHighlight()
{
    ResponseView view;
    view.updateObjects(run(3, 1, 2));
    QElapsedTimer clock;
    clock.start();
    view.updateObject(object(3, 2, 2), 0);
    QCOMPARE(table(view, "doubleView"), QString("1:1 2:2*"));
    QTest::qWait(1500);
    view.updateObject(object(3, 2, 1), 0);
    const qint64 second = clock.elapsed();
    // A read answer inserted above moves the highlighted cell down a row.
    view.updateObject(object(3, 0, 0), 0);
    // The first timer has fired by now but finds a different item in the cell.
    QTest::qWait(int(qMax<qint64>(0, 3600 - clock.elapsed())));
    QCOMPARE(table(view, "doubleView"), QString("0:0 1:1 2:1*"));
    QTRY_COMPARE_WITH_TIMEOUT(table(view, "doubleView"), QString("0:0 1:1 2:1"), 5000);
    QVERIFY(clock.elapsed() - second >= 2800);
}

void TestResponseView::scrollsToFirstHighlightSinceLastScroll()
{
    ResponseView view;
    view.resize(800, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto* scroll = view.findChild<QCheckBox*>("scrollCheckBox");
    QScrollBar* bar = view.findChild<QTableView*>("measuredView")->verticalScrollBar();
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

void TestResponseView::counterAndReady()
{
    ResponseView view;
    // Steps "<op>:<packet count>[*: Ready]"; ops f/t: responseFinished(false/true), r: clearReady,
    // c: clearResponses. The count stops once Ready; clearReady lets it count again.
    for (const QString& step : QString("f:1 f:2 t:3* f:3* r:3 t:4* t:4* c:0 f:1 t:2*").split(' ')) {
        if (step[0] == 'f' || step[0] == 't')
            view.responseFinished(step[0] == 't');
        else if (step[0] == 'r')
            view.clearReady();
        else
            view.clearResponses();
        const bool ready = view.findChild<QCheckBox*>("readyCheckBox")->isChecked();
        QCOMPARE(view.findChild<QLineEdit*>("packetCountEdit")->text() + (ready ? "*" : ""), step.mid(2));
    }
}

// Address cells, value cells and highlighted value cells, each read against its own background.
void TestResponseView::cellsReadAtWcagContrast()
{
    QCOMPARE(qRound(contrast(Qt::black, QColor("#505050")) * 10), 26); // the formula, on today's fault
    ResponseView view;
    view.updateObjects(run(13, 1, 2));
    view.updateObject(object(13, 2, 5), 0);
    const QAbstractItemModel* m = view.findChild<QTableView*>("measuredView")->model();
    QCOMPARE(table(view, "measuredView"), QString("1:1 2:5*"));
    for (int row = 0; row < m->rowCount(); ++row) {
        for (int column = 0; column < 2; ++column) {
            const QModelIndex cell = m->index(row, column);
            const QColor text = cell.data(Qt::ForegroundRole).value<QBrush>().color();
            const QColor background = cell.data(Qt::BackgroundRole).value<QBrush>().color();
            QVERIFY2(contrast(text, background) >= 4.5,
                     qPrintable(QString("%1 on %2").arg(text.name(), background.name())));
        }
    }
}

void TestResponseView::exportsATable_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<QByteArray>("csv");
    const QByteArray header("Address,Value,Quality\r\n");
    QTest::newRow("measured: value and flags apart, by address, as updated")
        << int(ResponseView::MeasuredTable) << header + "4001,230.5,IV NT\r\n4002,-7,\r\n";
    QTest::newRow("integrated totals: counter flags")
        << int(ResponseView::TotalTable) << header + "5002,123456,CY\r\n";
    QTest::newRow("an empty table: the header alone") << int(ResponseView::DoubleTable) << header;
}

void TestResponseView::exportsATable()
{
    QFETCH(int, table);
    QFETCH(QByteArray, csv);
    ResponseView view;
    InfoObject measured = object(13, 4001, 1.5f);
    InfoObject total = object(15, 5002, 123456);
    total.quality = InfoObject::Carry;
    view.updateObjects({object(11, 4002, -7), measured, total});
    measured.value = 230.5f;
    measured.quality = InfoObject::Invalid | InfoObject::NotTopical;
    view.updateObject(measured, 0);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(view.exportCsv(ResponseView::Table(table), &buffer, nullptr));
    QCOMPARE(buffer.data(), csv);
}

QTEST_MAIN(TestResponseView)
#include "tst_responseview.moc"
