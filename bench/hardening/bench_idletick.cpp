// Cost of a connected, idle engine: the 200 ms polling tick (port check, poll, run)
// as CPU time of the engine's worker thread, per tick and as a share of one core,
// measured over a quiet link to the simulated slave on a pty. The pty is opened by
// path, which the engine checks with one stat; a real adapter is checked by
// enumerating the system's serial ports, whose cost is measured on its own and added.
// Usage: bench_idletick [seconds=20]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimer>

#include <pthread.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

#include "iec101network.h"
#include "ptypair.h"
#include "slavesim.h"

using iec101::Iec101Network;

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

// The port check the engine would make for a named adapter if it enumerated only when
// the device node of its port is not the one it last enumerated for: a stat per tick,
// the full enumeration when the node appeared, vanished or was replaced.
struct NodeCheck
{
    QString name;
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
    dev_t special = 0;
    bool listed = false;

    bool available()
    {
        struct stat st;
        const bool present = ::stat(QByteArray("/dev/" + name.toLocal8Bit()).constData(), &st) == 0;
        if (present && known && st.st_dev == device && st.st_ino == inode && st.st_rdev == special)
            return listed;
        known = present;
        device = present ? st.st_dev : 0;
        inode = present ? st.st_ino : 0;
        special = present ? st.st_rdev : 0;
        const auto ports = QSerialPortInfo::availablePorts();
        listed = std::any_of(ports.cbegin(), ports.cend(),
                             [this](const QSerialPortInfo& info) { return info.portName() == name; });
        return listed;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    qRegisterMetaType<SerialParam>("SerialParam");

    PtyPair pty;
    if (!pty.start()) {
        std::fprintf(stderr, "pty: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    slavesim::Config config;
    config.portPath = pty.pathB();
    config.parity = 'N';
    slavesim::SlaveSim slave(config);
    if (!slave.start()) {
        std::fprintf(stderr, "station: %s\n", qPrintable(slave.errorString()));
        return 1;
    }

    QThread worker;
    auto engine = std::make_unique<Iec101Network>();
    int responses = 0;
    QObject::connect(engine.get(), &Iec101Network::responseEnded, &app, [&] { ++responses; });
    engine->moveToThread(&worker);
    worker.start();
    pthread_t workerThread{};
    QMetaObject::invokeMethod(
        engine.get(), [&] { workerThread = pthread_self(); }, Qt::BlockingQueuedConnection);

    static const int settings[6] = {1, 2, 1, 2, 3, 2};
    SerialParam param;
    param.portName = pty.pathA();
    param.baudRate = 9600;
    param.dataBits = 8;
    param.parity = 'N';
    param.stopBits = 1;
    Iec101Network* raw = engine.get();
    QMetaObject::invokeMethod(raw, [raw, param] { raw->doConnect(param, settings); });
    if (!waitFor([&] { return responses >= 2; }, 30000)) {
        std::fprintf(stderr, "the link did not come up\n");
        return 1;
    }
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

    QMetaObject::invokeMethod(
        raw, [raw] { raw->doDisconnect(); }, Qt::BlockingQueuedConnection);
    worker.quit();
    worker.wait();
    engine.reset();
    slave.stop();

    // The port check on its own, on this (now idle) thread.
    const QString path = pty.pathA();
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
    const double adapterTick = perTick - statMs + enumerateMs;
    std::printf("  tick with a named adapter (enumeration instead of stat): %.3f ms = %.2f %% of one core\n",
                adapterTick, 100.0 * adapterTick / 200.0);

    // The same decision made through the device node first, for the first listed port.
    const auto ports = QSerialPortInfo::availablePorts();
    if (!ports.isEmpty()) {
        NodeCheck check{ports.first().portName()};
        const bool first = check.available();
        bool same = true;
        const double cachedMs = cpuMsPerCall(2000, [&] { same = check.available() == first && same; });
        const double cachedTick = perTick - statMs + cachedMs;
        std::printf(
            "  node-first check of %s: %.4f ms CPU (decision %s, unchanged: %s); tick %.3f ms = %.2f %% "
            "of one core\n",
            qPrintable(check.name), cachedMs, first ? "listed" : "not listed", same ? "yes" : "NO",
            cachedTick, 100.0 * cachedTick / 200.0);
    }
    return 0;
}
