// Polling while the thread that talks to the engine is blocked, as a GUI thread is
// while it exports a million-row log (about 2 s): the engine is brought up, events flow
// at 10 per second, and the calling thread sleeps for 3 s. Counted from the frames'
// own time stamps: requests the engine sent and ASDUs it received inside the window.
// Usage: bench_blockedcaller [blocked seconds=3]
#include <QtTest>

#include <cstdio>

#include "enginefixture.h"

using namespace iec101;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 3;

    slavesim::Config config;
    config.eventRate = 10;
    EngineFixture f(config);
    if (!f.bringUp()) {
        std::fprintf(stderr, "the link did not come up\n");
        return 1;
    }
    QTest::qWait(1000);
    const qint64 fromUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    QThread::sleep(seconds);
    const qint64 toUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    // The frames of the window reach this thread once it runs again.
    QTest::qWait(1500);

    int requests = 0;
    int asdus = 0;
    for (const LineFrame& frame : qAsConst(f.lineFrames)) {
        if (frame.timeUs < fromUs || frame.timeUs > toUs)
            continue;
        requests += frame.sent ? 1 : 0;
        asdus += !frame.sent && frame.octets.startsWith('\x68') ? 1 : 0;
    }
    std::printf("calling thread blocked %d s, station sending 10 events/s\n", seconds);
    std::printf("  requests sent while blocked: %d (%.1f per second)\n", requests,
                double(requests) / seconds);
    std::printf("  ASDUs received while blocked: %d (%.1f per second)\n", asdus, double(asdus) / seconds);
    return 0;
}
