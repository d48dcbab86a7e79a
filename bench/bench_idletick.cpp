// Cost of a connected, idle engine: the 200 ms polling tick (port check, poll, run)
// as CPU time of the engine's worker thread, per tick and as a share of one core,
// measured over a quiet link to the simulated slave on a pty. The port check is a stat
// of the port's device node on each tick; the system's port list, asked again only when
// that node changes, is measured on its own for comparison.
// Then the same station silent on commands while a Read is always waiting: the worker's
// share of a core while the engine keeps polling for an answer that never comes.
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

bool runVariant(const char* name, const iec101::EngineTuning& tuning, int seconds)
{
    std::printf("== variant: %s\n", name);
    EngineFixture f;
    f.setTuning(tuning);
    if (!f.bringUp()) {
        std::fprintf(stderr, "the link did not come up\n");
        return false;
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
    std::printf("  calling thread (the view's, idle): %.3f ms CPU per tick = %.2f %% of one core\n",
                mainMs / ticks, 100.0 * mainMs / wallMs);
    std::printf("  port check by path (stat): %.4f ms CPU\n", statMs);
    std::printf(
        "  port check by name (QSerialPortInfo::availablePorts, %d ports): %.3f ms CPU, %.3f ms wall\n",
        portCount, enumerateMs, enumerateWallMs);

    // A station that answers every poll at once but never a command: the engine keeps
    // a Read waiting all the time, and must not spin on the fast line meanwhile.
    f.slave().setCommandMode(slavesim::CommandMode::Silent);
    const double waitingStart = threadCpuMs(workerThread);
    QElapsedTimer waitingWall;
    waitingWall.start();
    int reads = 0;
    while (waitingWall.elapsed() < seconds * 1000) {
        const quint64 id = f.send(iec101::CommandRequest::read(slavesim::ioa::kFirstMeasured));
        ++reads;
        if (!f.waitForOutcome(id, 30000))
            break;
    }
    const double waitingMs = threadCpuMs(workerThread) - waitingStart;
    std::printf("  waiting for a silent station (%d reads timed out in %.1f s): worker %.2f %% of one core\n",
                reads, waitingWall.elapsed() / 1e3, 100.0 * waitingMs / waitingWall.elapsed());
    return true;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    iec101::EngineTuning waitForTick;
    waitForTick.commandsRunLine = false;
    const bool ok = runVariant("commands run the line", iec101::EngineTuning(), seconds) &&
                    runVariant("commands wait for the tick", waitForTick, seconds);
    return ok ? 0 : 1;
}
