#include "soakstats.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTextStream>
#include <QTreeView>
#include <QWidget>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kProbeIntervalMs = 1;
constexpr int kMinuteMs = 60000;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident set size from /proc/self/statm (second field, in pages).
double residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields.at(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

} // namespace

SoakStats::SoakStats(QWidget* view, QObject* parent) : QObject(parent)
{
    if (const auto* tree = view->findChild<QTreeView*>(QStringLiteral("eventTree")))
        eventLog = tree->model();
    status = view->findChild<QLineEdit*>(QStringLiteral("statusLineEdit"));
    if (eventLog)
        connect(eventLog, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex& under, int first, int last) {
                    if (!under.isValid())
                        eventsThisMinute += last - first + 1;
                });
    probeTimer.setTimerType(Qt::PreciseTimer);
    probeTimer.setInterval(kProbeIntervalMs);
    connect(&probeTimer, &QTimer::timeout, this, &SoakStats::probe);
    minuteTimer.setTimerType(Qt::PreciseTimer);
    minuteTimer.setInterval(kMinuteMs);
    connect(&minuteTimer, &QTimer::timeout, this, [this] { writeLine(false); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (file.isOpen())
            writeLine(true);
    });
}

bool SoakStats::start(const QString& path)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream(&file)
        << "# iec101-host, one line a minute: resident memory, CPU of the process (percent of one "
           "core), longest GUI stall, events received by the event log, link status\n"
        << "minute\trss_mib\tcpu_percent\tlongest_stall_ms\tevents\tevents_total\tstatus\n";
    file.flush();
    clock.start();
    lastProbeNs = clock.nsecsElapsed();
    lastCpuSeconds = cpuSeconds();
    probeTimer.start();
    minuteTimer.start();
    return true;
}

void SoakStats::probe()
{
    const qint64 now = clock.nsecsElapsed();
    longestStallMs = qMax(longestStallMs, (now - lastProbeNs) / 1e6 - kProbeIntervalMs);
    lastProbeNs = now;
}

void SoakStats::writeLine(bool atQuit)
{
    const qint64 nowMs = clock.elapsed();
    const double cpu = cpuSeconds();
    const double cpuPercent =
        100.0 * (cpu - lastCpuSeconds) / (qMax<qint64>(1, nowMs - lastMinuteMs) / 1000.0);
    eventsTotal += eventsThisMinute;
    QTextStream(&file) << (atQuit ? QStringLiteral("end") : QString::number(++minute)) << '\t'
                       << QString::number(residentMiB(), 'f', 1) << '\t'
                       << QString::number(cpuPercent, 'f', 1) << '\t'
                       << QString::number(longestStallMs, 'f', 1) << '\t'
                       << (eventLog ? QString::number(eventsThisMinute) : QStringLiteral("-")) << '\t'
                       << (eventLog ? QString::number(eventsTotal) : QStringLiteral("-")) << '\t'
                       << (status ? status->text() : QString()) << '\n';
    file.flush();
    lastCpuSeconds = cpu;
    lastMinuteMs = nowMs;
    longestStallMs = 0;
    eventsThisMinute = 0;
}
