// Listen mode against a line at 115200 baud, the fastest rate lib60870 sets: a tap fed with
// a master polling a station that answers with spontaneous values (and a general
// interrogation every 10 s) at the line's full speed, the listener reassembling, decoding
// and reporting every frame and the findings tracker checking it against a point list, as
// iec101-master --listen does. Reports whether every frame and object was heard, and the
// process's CPU time as a share of the run; then the same feed as fast as the pty takes it,
// for the headroom over the line.
// Usage: bench_listener [seconds=20]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

#include <sys/resource.h>

#include "findingstracker.h"
#include "linelistener.h"
#include "ptypair.h"
#include "tapfeed.h"

using namespace iec101;

namespace {

constexpr int kPoints = 2000;
constexpr int kObjectsPerAnswer = 10;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

PointList stationList()
{
    QByteArray csv = "ioa,type,expected\n";
    for (int n = 0; n < kPoints; ++n)
        csv += QByteArray::number(TapFeed::pointAddress(n)) +
               (TapFeed::isMeasured(n) ? ",M_ME_NC_1,200..240\n" : ",M_SP_NA_1,\n");
    QVector<PointList::Problem> problems;
    return PointList::fromCsv(csv, &problems);
}

struct Figures
{
    qint64 octetsWritten = 0;
    qint64 framesWritten = 0;
    qint64 objectsWritten = 0;
    qint64 framesHeard = 0;
    qint64 objectsHeard = 0;
    int findings = 0;
    double seconds = 0;
    double cpu = 0;
};

Figures run(int baud, int seconds)
{
    Figures figures;
    PtyPair pty;
    if (!pty.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(pty.errorString()));
        return figures;
    }
    LineListener listener;
    FindingsTracker tracker;
    tracker.setPointList(1, stationList());
    QObject::connect(&listener, &LineListener::lineFramesReady, &listener,
                     [&](const QVector<LineFrame>& frames, int dropped) {
                         figures.framesHeard += frames.size() + dropped;
                         tracker.addFrames(frames, dropped);
                         listener.lineFramesTaken();
                     });
    QObject::connect(&listener, &LineListener::dataReceived, &listener,
                     [&](const QVector<InfoObject>& objects) { figures.objectsHeard += objects.size(); });
    // An interrogation's data comes with the outcome of the interrogation.
    QObject::connect(&listener, &LineListener::commandFinished, &listener,
                     [&](const CommandRequest&, const CommandOutcome&, const QVector<InfoObject>& answer) {
                         figures.objectsHeard += answer.size();
                     });
    SerialSettings serial;
    serial.portName = pty.pathB();
    serial.baudRate = 115200;
    serial.parity = 'N';
    listener.open(serial, ProtocolSettings());

    TapFeed feed(kPoints, kObjectsPerAnswer);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    feed.start(pty.pathA(), baud, 0, 10);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    feed.requestStop();
    QElapsedTimer stopping;
    stopping.start();
    while (!feed.finished() && stopping.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    feed.stop();
    // Whatever is still in the pty and the listener's batch.
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    figures.seconds = clock.elapsed() / 1000.0;
    figures.cpu = cpuSeconds() - cpuBefore;
    figures.octetsWritten = feed.octetsWritten();
    figures.framesWritten = feed.framesWritten();
    figures.objectsWritten = feed.objectsWritten();
    figures.findings = tracker.findings().size();
    return figures;
}

void print(const char* title, const Figures& f, int seconds)
{
    std::printf("%s\n", title);
    std::printf("  written: %lld octets (%.0f octets/s), %lld frames, %lld objects in %d s\n",
                static_cast<long long>(f.octetsWritten), f.octetsWritten / double(seconds),
                static_cast<long long>(f.framesWritten), static_cast<long long>(f.objectsWritten), seconds);
    std::printf("  heard:   %lld frames, %lld objects, %d findings\n", static_cast<long long>(f.framesHeard),
                static_cast<long long>(f.objectsHeard), f.findings);
    std::printf("  CPU of the process: %.2f s in %.1f s (%.1f %%)\n", f.cpu, f.seconds,
                100.0 * f.cpu / f.seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    const Figures line = run(115200, seconds);
    print("Tap at 115200 baud (10,473 octets/s):", line, seconds);
    const Figures fast = run(0, 5);
    print("The same feed as fast as the pty takes it:", fast, 5);
    std::printf("  that is %.1f times a 115200 baud line\n", fast.octetsWritten / 5.0 / (115200.0 / 11));
    return 0;
}
