// Speed of the response tables at sizes a large station produces (the event log has
// bench_eventlog).
#include <QCheckBox>
#include <QtTest>

#include "responseview.h"

using namespace iec101;

namespace {

QVector<InfoObject> measuredRun(int count, float value)
{
    QVector<InfoObject> objects;
    objects.reserve(count);
    for (int i = 0; i < count; ++i) {
        InfoObject o;
        o.typeId = 13;
        o.address = 16385 + i;
        o.value = value + float(i) / 8;
        objects << o;
    }
    return objects;
}

} // namespace

class BenchDisplays : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void responseFirstLoad10k();
    void responseRepeatedLoad10k();
    void responseUpdateObject10k_data();
    void responseUpdateObject10k();
};

// An interrogation into empty tables: no highlight.
void BenchDisplays::responseFirstLoad10k()
{
    ResponseView view;
    view.resize(1000, 600);
    view.show();
    const QVector<InfoObject> objects = measuredRun(10000, 1.5f);
    QBENCHMARK
    {
        view.clearResponses();
        view.updateObjects(objects);
    }
}

// A repeated interrogation: every row highlighted, one highlight timer per cell.
void BenchDisplays::responseRepeatedLoad10k()
{
    ResponseView view;
    view.resize(1000, 600);
    view.show();
    const QVector<InfoObject> objects = measuredRun(10000, 1.5f);
    view.updateObjects(objects);
    QBENCHMARK
    {
        view.updateObjects(objects);
    }
}

void BenchDisplays::responseUpdateObject10k_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("scroll");
    QTest::newRow("10000 rows, scroll to updated value") << 10000 << true;
    QTest::newRow("10000 rows, no scrolling") << 10000 << false;
    // Against the 10,000-row figure these show how the cost grows with the table.
    QTest::newRow("1000 rows, scroll to updated value") << 1000 << true;
    QTest::newRow("100000 rows, scroll to updated value") << 100000 << true;
}

void BenchDisplays::responseUpdateObject10k()
{
    QFETCH(int, rows);
    QFETCH(bool, scroll);
    ResponseView view;
    view.findChild<QCheckBox*>(QStringLiteral("scrollCheckBox"))->setChecked(scroll);
    view.resize(1000, 600);
    view.show();
    const QVector<InfoObject> objects = measuredRun(rows, 1.5f);
    view.updateObjects(objects);
    QCoreApplication::processEvents();
    int i = 0;
    QBENCHMARK
    {
        InfoObject o = objects.at((i * 7919) % objects.size());
        o.value = float(i);
        view.updateObject(o, 0);
        ++i;
    }
}

QTEST_MAIN(BenchDisplays)
#include "bench_displays.moc"
