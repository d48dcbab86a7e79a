// GUI-thread cost of the line monitor at 200 frames per second: one batch of 40 frames
// per 200 ms polling tick, handed to a shown monitor whose table is already at its
// 20,000-frame limit, timed from the hand-over until the table is repainted. Also the
// resident memory once the limit is reached and after five times as many frames more.
// The first figure paints the table with the style's general item delegate, the one the
// monitor's own FrameRowDelegate replaced.
// Usage: bench_linemonitor [ticks=500]

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "framebuilder.h"
#include "linemonitor.h"

#include "residentmemory.h"

using namespace iec101;

namespace {

constexpr int kFramesPerTick = 40; // 200 frames/s at one batch per 200 ms tick
constexpr qint64 kTickUs = 200000;

// A busy line: half idle polling, half class 1 requests answered with 10 single points.
QVector<LineFrame> batch(qint64 tick)
{
    static const QByteArray poll = FrameBuilder::fixed(0x7B);
    static const QByteArray noData = FrameBuilder::fixed(0x09);
    static const QByteArray request = FrameBuilder::fixed(0x5A);
    static const QByteArray data = FrameBuilder::variable(0x28, FrameBuilder::interrogatedPoints(10));
    QVector<LineFrame> frames;
    for (int i = 0; i < kFramesPerTick; ++i) {
        LineFrame frame;
        frame.timeUs = 1765000000000000 + tick * kTickUs + i * (kTickUs / kFramesPerTick);
        frame.sent = i % 2 == 0;
        const bool idle = (i / 2) % 2 == 0;
        frame.octets = frame.sent ? (idle ? poll : request) : (idle ? noData : data);
        frames.append(frame);
    }
    return frames;
}

// CPU time of this thread, so that other processes on the machine do not count.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Figures
{
    double cpuMean = 0;
    double handOverMean = 0; // addFrames alone
    double mean = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Figures run(iec101::LineMonitor& monitor, qint64& tick, int ticks)
{
    std::vector<double> ms;
    double handOver = 0;
    double cpu = 0;
    QElapsedTimer timer;
    for (int i = 0; i < ticks; ++i) {
        const QVector<LineFrame> frames = batch(tick++);
        const double cpuBefore = threadCpuMs();
        timer.start();
        monitor.addFrames(frames, 0);
        handOver += timer.nsecsElapsed() / 1e6 / ticks;
        // Layout requests and the repaint of the table, as the event loop would run them.
        QCoreApplication::processEvents();
        ms.push_back(timer.nsecsElapsed() / 1e6);
        cpu += (threadCpuMs() - cpuBefore) / ticks;
    }
    std::sort(ms.begin(), ms.end());
    Figures f;
    f.handOverMean = handOver;
    f.cpuMean = cpu;
    for (double v : ms)
        f.mean += v / ms.size();
    f.median = ms[ms.size() / 2];
    f.p99 = ms[size_t(0.99 * (ms.size() - 1))];
    f.max = ms.back();
    return f;
}

void print(const char* what, const Figures& f)
{
    std::printf("  %-32s CPU %.3f ms; wall mean %.3f ms (hand-over %.3f ms), median %.3f ms, p99 %.3f ms, "
                "max %.3f ms per tick\n",
                what, f.cpuMean, f.mean, f.handOverMean, f.median, f.p99, f.max);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(10, QByteArray(argv[1]).toInt()) : 500;

    const qint64 rssStart = residentKiB();
    iec101::LineMonitor monitor;
    monitor.resize(1400, 360);
    monitor.show();
    QCoreApplication::processEvents();

    qint64 tick = 0;
    // Fill to the limit first: from then on every batch also drops the 40 oldest rows.
    QElapsedTimer fill;
    fill.start();
    while (tick * kFramesPerTick < iec101::LineMonitor::kMaxFrames)
        monitor.addFrames(batch(tick++), 0);
    QCoreApplication::processEvents();
    const double fillMs = fill.nsecsElapsed() / 1e6;
    const qint64 rssFull = residentKiB();

    std::printf("Line monitor, %d frames per batch (200 frames/s at a 200 ms tick), %d ticks each, table at "
                "%d frames\n",
                kFramesPerTick, ticks, iec101::LineMonitor::kMaxFrames);
    // Before: the style's general item painting, which the monitor's own delegate replaces.
    auto* table = monitor.findChild<QTableView*>(QStringLiteral("frameTable"));
    QAbstractItemDelegate* own = table->itemDelegate();
    QStyledItemDelegate styled;
    table->setItemDelegate(&styled);
    print("before: style's item painting", run(monitor, tick, ticks));
    table->setItemDelegate(own);
    print("following the newest frame", run(monitor, tick, ticks));
    monitor.findChild<QCheckBox*>(QStringLiteral("hideIdleCheckBox"))->setChecked(true);
    print("idle polling hidden", run(monitor, tick, ticks));
    monitor.findChild<QCheckBox*>(QStringLiteral("hideIdleCheckBox"))->setChecked(false);
    QTemporaryDir dir;
    monitor.startRecording(dir.filePath(QStringLiteral("bench.pcap")));
    print("recording to a pcap file", run(monitor, tick, ticks));
    monitor.stopRecording();

    // Five times the limit more: memory must stay where the limit put it.
    while (tick * kFramesPerTick < 6 * iec101::LineMonitor::kMaxFrames)
        monitor.addFrames(batch(tick++), 0);
    QCoreApplication::processEvents();
    const qint64 rssAfter = residentKiB();
    std::printf("  filling the empty table to %d frames: %.0f ms\n", iec101::LineMonitor::kMaxFrames, fillMs);
    std::printf("  resident memory: %lld KiB at start, +%lld KiB at the limit, +%lld KiB after %lld frames\n",
                static_cast<long long>(rssStart), static_cast<long long>(rssFull - rssStart),
                static_cast<long long>(rssAfter - rssStart), static_cast<long long>(tick * kFramesPerTick));
    return 0;
}
