// The event log at the sizes a week of unattended running produces: time per addEvent,
// resident memory per row at 100,000 and 1,000,000 rows, one more batch once a million
// rows are shown, clearing them (as Connect does) and exporting them. The log as it is
// (EventView) and as it was before its own model (EventViewBefore) run one after the
// other in the same run, each in a shown window as in the view and in a process of its
// own, so that the memory one leaves behind does not blur the next one's figures.
//
//   bench_eventlog [rows]   (default 1000000; the first figures are taken at 100,000)
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTreeView>

#include <malloc.h>

#include <cstdio>
#include <memory>

#include "eventlogmodel.h"
#include "eventview.h"
#include "eventviewbefore.h"

#include "residentmemory.h"

using namespace iec101;

namespace {

constexpr int kFirstMeasure = 100000;
constexpr int kBatch = 5;

// Time-tagged single points on a thousand addresses, as a busy station reports them.
InfoObject event(int i)
{
    InfoObject o;
    o.typeId = 30;
    o.address = 1001 + (i & 1023);
    o.value = bool(i & 1);
    o.spontaneous = true;
    o.timestamp = QVariant::fromValue<qulonglong>(1796000000000ULL + quint64(i) * 50);
    return o;
}

template <typename Log> void measure(const char* name, int rows)
{
    std::printf("%s\n", name);
    auto log = std::make_unique<Log>();
    log->resize(800, 400);
    log->show();
    // Painted rows once, so fonts and glyphs are in place before the base line is taken.
    for (int i = 0; i < 100; ++i)
        log->addEvent(event(i));
    QCoreApplication::processEvents();
    log->clearEvents();
    QCoreApplication::processEvents();
    malloc_trim(0);
    const qint64 base = residentKiB();

    int added = 0;
    for (int target : {kFirstMeasure, rows}) {
        QElapsedTimer timer;
        timer.start();
        for (; added < target; ++added)
            log->addEvent(event(added));
        const qint64 addNs = timer.nsecsElapsed();
        QCoreApplication::processEvents(); // the tree lays the rows out
        const double perRow = double(residentKiB() - base) * 1024.0 / target;
        std::printf("  %7d rows: addEvent %.2f us each (%d calls), resident growth %.1f octets a row\n",
                    target, addNs / 1000.0 / (target - (target == kFirstMeasure ? 0 : kFirstMeasure)),
                    target == kFirstMeasure ? target : target - kFirstMeasure, perRow);
        if (target == rows)
            break;
    }

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kBatch; ++i)
        log->addEvent(event(added++));
    QCoreApplication::processEvents();
    std::printf("  a batch of %d events at %d rows, shown: %.1f ms\n", kBatch, added,
                timer.nsecsElapsed() / 1e6);

    timer.start();
    log->clearEvents();
    QCoreApplication::processEvents();
    std::printf("  clear %d rows, shown: %.1f ms\n", added, timer.nsecsElapsed() / 1e6);
}

// The model alone, without a view: what the rows themselves take, and the export.
void measureModel(int rows)
{
    std::printf("EventLogModel alone\n");
    malloc_trim(0);
    const qint64 base = residentKiB();
    auto model = std::make_unique<EventLogModel>();
    for (int i = 0; i < rows; ++i)
        model->append(event(i));
    std::printf("  %7d rows: resident growth %.1f octets a row\n", rows,
                double(residentKiB() - base) * 1024.0 / rows);
    QFile sink(QStringLiteral("/dev/null"));
    sink.open(QIODevice::WriteOnly);
    QElapsedTimer timer;
    timer.start();
    QString error;
    const bool written = model->writeCsv(&sink, &error);
    std::printf("  CSV export of %d rows to /dev/null: %.2f s%s\n", rows, timer.nsecsElapsed() / 1e9,
                written ? "" : " (failed)");
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString kase = args.size() == 2 ? args.at(0) : QString();
    const int rows = args.value(args.size() == 2 ? 1 : 0, QStringLiteral("1000000")).toInt();
    if (rows <= kFirstMeasure) {
        std::fprintf(stderr, "bench_eventlog: rows must be more than %d\n", kFirstMeasure);
        return 2;
    }
    if (kase == QLatin1String("model"))
        measureModel(rows);
    else if (kase == QLatin1String("after"))
        measure<EventView>("EventView (after: own model, 32-octet rows, texts on demand)", rows);
    else if (kase == QLatin1String("before"))
        measure<EventViewBefore>("EventViewBefore (before: QStandardItemModel, reversing proxy)", rows);
    else {
        int status = 0;
        for (const char* each : {"model", "after", "before"}) {
            std::fflush(stdout);
            status |= QProcess::execute(QCoreApplication::applicationFilePath(),
                                        {QLatin1String(each), QString::number(rows)});
        }
        return status;
    }
    return 0;
}
