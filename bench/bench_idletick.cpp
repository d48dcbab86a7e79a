// Cost of a connected, idle engine: the 200 ms polling tick (port check, poll, run)
// as CPU time of the engine's worker thread, per tick and as a share of one core,
// measured over a quiet link to the simulated slave on a pty. The port check is a stat
// of the port's device node on each tick; the system's port list, asked again only when
// that node changes, is measured on its own for comparison.
// Usage: bench_idletick [seconds=20]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

#include <pthread.h>
#include <time.h>

#include <cstdio>
#include <functional>

#include "enginefixture.h"

namespace {

double threadCpuMs(pthread_t thread)
{
    clockid_t clock;
    if (pthread_getcpuclockid(thread, &clock) != 0)
        return 0;
    timespec ts{};
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

template <typename F> double cpuMsPerCall(int calls, F&& call)
{
    const double start = threadCpuMs(pthread_self());
    for (int i = 0; i < calls; ++i)
        call();
    return (threadCpuMs(pthread_self()) - start) / calls;
}

// Runs the event loop (sleeping while there is nothing to do) until the condition
// holds, checking it every 20 ms.
bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(20);
    if (!condition())
        loop.exec();
    return condition();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;

    EngineFixture f;
    if (!f.bringUp()) {
        std::fprintf(stderr, "the link did not come up\n");
        return 1;
    }
    pthread_t workerThread{};
    f.runOnWorker([&workerThread] { workerThread = pthread_self(); });
    waitFor([] { return false; }, 1000); // let the initial exchanges settle

    const double workerStart = threadCpuMs(workerThread);
    const double mainStart = threadCpuMs(pthread_self());
    QElapsedTimer wall;
    wall.start();
    {
        QEventLoop idle; // nothing but the engine's timers runs on this thread meanwhile
        QTimer::singleShot(seconds * 1000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    const double wallMs = wall.nsecsElapsed() / 1e6;
    const double workerMs = threadCpuMs(workerThread) - workerStart;
    const double mainMs = threadCpuMs(pthread_self()) - mainStart;
    const double ticks = wallMs / 200.0;

    // The port check on its own, on this thread (the engine is idle meanwhile).
    const QString path = f.line.masterPort();
    const double statMs = cpuMsPerCall(2000, [&] { (void)QFileInfo::exists(path); });
    int portCount = 0;
    const double enumerateMs =
        cpuMsPerCall(20, [&] { portCount = QSerialPortInfo::availablePorts().size(); });
    QElapsedTimer enumerateWall;
    enumerateWall.start();
    for (int i = 0; i < 20; ++i)
        (void)QSerialPortInfo::availablePorts();
    const double enumerateWallMs = enumerateWall.nsecsElapsed() / 1e6 / 20;

    const double perTick = workerMs / ticks;
    std::printf("idle connected engine over %.1f s (%.0f ticks of 200 ms)\n", wallMs / 1e3, ticks);
    std::printf("  worker thread: %.3f ms CPU per tick = %.2f %% of one core (pty: port checked by path)\n",
                perTick, 100.0 * perTick / 200.0);
    std::printf("  GUI thread (the engine's timers): %.3f ms CPU per tick = %.2f %% of one core\n",
                mainMs / ticks, 100.0 * mainMs / wallMs);
    std::printf("  port check by path (stat): %.4f ms CPU\n", statMs);
    std::printf(
        "  port check by name (QSerialPortInfo::availablePorts, %d ports): %.3f ms CPU, %.3f ms wall\n",
        portCount, enumerateMs, enumerateWallMs);
    return 0;
}
