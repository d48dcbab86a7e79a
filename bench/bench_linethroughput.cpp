// How much the engine gets through a serial line: spontaneous events per second,
// and the time a general interrogation takes from "Available" to its end, over a
// bare pty pair and over a relay that paces every byte like a real line.
// Run twice: with the engine tuned as it is, and with one exchange per tick (the
// reference), so both sets of figures come from the same machine and run.
#include <QtTest>

#include <cstdio>

#include "benchfigures.h"
#include "enginefixture.h"
#include "linerelay.h"

using namespace iec101;

namespace {

struct EventRun
{
    int rate = 0;
    int events = 0;
    double deliveredPerSecond = 0;
    double lagAfterLastSeconds = -1; // -1: not all delivered in time
};

// Injects events at a fixed rate for a few seconds and times their delivery.
EventRun runEvents(EngineFixture& f, int rate, int seconds)
{
    EventRun run;
    run.rate = rate;
    run.events = rate * seconds;
    int injected = 0;
    int delivered = 0;
    QElapsedTimer clock;
    qint64 lastInjectedMs = 0;
    qint64 lastDeliveredMs = 0;
    auto connection =
        QObject::connect(&f, &EngineFixture::spontaneousDataReady, [&](const QVector<InfoObject>& o) {
            delivered += o.size();
            lastDeliveredMs = clock.elapsed();
        });
    QTimer pace;
    pace.setTimerType(Qt::PreciseTimer);
    pace.setInterval(1000 / rate);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        // Catch up on late timer ticks so the offered rate is the nominal one.
        while (injected < run.events && injected * 1000 / rate <= clock.elapsed()) {
            f.slave().injectMeasured(slavesim::ioa::kFirstMeasured, float(injected++), false);
            lastInjectedMs = clock.elapsed();
        }
    });
    clock.start();
    pace.start();
    QElapsedTimer waited;
    waited.start();
    while ((injected < run.events || delivered < run.events) && waited.elapsed() < (seconds + 30) * 1000)
        QTest::qWait(5);
    pace.stop();
    QObject::disconnect(connection);
    if (delivered >= run.events) {
        run.lagAfterLastSeconds = (lastDeliveredMs - lastInjectedMs) / 1000.0;
        run.deliveredPerSecond = run.events * 1000.0 / qMax<qint64>(1, lastDeliveredMs);
    } else {
        run.deliveredPerSecond = delivered * 1000.0 / qMax<qint64>(1, clock.elapsed());
        // Let the backlog run out so the next rate starts clean.
        QElapsedTimer drain;
        drain.start();
        while (delivered < injected && drain.elapsed() < 120000)
            QTest::qWait(20);
    }
    return run;
}

// A direct pty pair for a negative rate, else the relay paced at that rate (0: unpaced).
bool startLine(EngineFixture& f, int relayBaud)
{
    return relayBaud < 0 ? f.startLine() : f.startLine(SlaveSimLine::Transport::Relay, relayBaud);
}

struct GiRun
{
    double seconds = -1;
    int objects = 0;
    qint64 lineBytes = 0;
};

// A fresh connection; times the initial interrogation from "Available" to its end.
GiRun runInterrogation(int points, int relayBaud, const EngineTuning& tuning)
{
    GiRun run;
    slavesim::Config config;
    config.extraPoints = points;
    EngineFixture f(config);
    f.setTuning(tuning);
    if (!startLine(f, relayBaud))
        return run;
    QElapsedTimer clock;
    qint64 startBytes = 0;
    auto lineBytes = [&f] {
        return f.relay() ? f.relay()->masterByteCount() + f.relay()->slaveByteCount() : 0;
    };
    QObject::connect(&f, &EngineFixture::linkLayerStateChangedSignal, [&](const QString& state) {
        if (state.startsWith(QLatin1String("Available")) && !clock.isValid()) {
            clock.start();
            startBytes = lineBytes();
        }
    });
    QObject::connect(&f, &EngineFixture::requestedDataReady,
                     [&](const QVector<InfoObject>& objects, Command::CommandType type) {
                         if (type == Command::Interrogation && run.seconds < 0) {
                             run.seconds = clock.elapsed() / 1000.0;
                             run.objects = objects.size();
                             run.lineBytes = lineBytes() - startBytes;
                         }
                     });
    f.connectEngine();
    QElapsedTimer waited;
    waited.start();
    while (run.seconds < 0 && waited.elapsed() < 300000)
        QTest::qWait(10);
    return run;
}

// While a long interrogation keeps a slow line saturated, how long a disconnect
// waits before the engine reports it.
double disconnectLatency(int points, int relayBaud, int afterMs, const EngineTuning& tuning)
{
    slavesim::Config config;
    config.extraPoints = points;
    EngineFixture f(config);
    f.setTuning(tuning);
    if (!startLine(f, relayBaud))
        return -1;
    QElapsedTimer clock;
    bool available = false;
    double latency = -1;
    QObject::connect(&f, &EngineFixture::linkLayerStateChangedSignal, [&](const QString& state) {
        if (state.startsWith(QLatin1String("Available")))
            available = true;
        if (state == QLatin1String("Disconnected") && clock.isValid())
            latency = clock.elapsed() / 1000.0;
    });
    f.connectEngine();
    QElapsedTimer waited;
    waited.start();
    while (!available && waited.elapsed() < 30000)
        QTest::qWait(10);
    QTest::qWait(afterMs);
    clock.start();
    Q_EMIT f.doDisconnect();
    while (latency < 0 && clock.elapsed() < 120000)
        QTest::qWait(5);
    return latency;
}

} // namespace

void runVariant(const char* name, const EngineTuning& tuning)
{
    std::printf("\n== variant: %s\n", name);
    {
        EngineFixture f;
        f.setTuning(tuning);
        if (!f.bringUp()) {
            std::printf("bring-up failed\n");
            return;
        }
        std::printf("\nspontaneous events over a pty (one ASDU per event, 5 s per rate)\n");
        std::printf("%8s %8s %14s %18s\n", "offered", "events", "delivered/s", "lag after last");
        for (int rate : {5, 10, 20, 50, 100, 200}) {
            const EventRun run = runEvents(f, rate, 5);
            if (run.lagAfterLastSeconds >= 0)
                std::printf("%6d/s %8d %14.1f %16.2f s\n", run.rate, run.events, run.deliveredPerSecond,
                            run.lagAfterLastSeconds);
            else
                std::printf("%6d/s %8d %14.1f %18s\n", run.rate, run.events, run.deliveredPerSecond,
                            "not all in time");
            std::fflush(stdout);
            if (run.lagAfterLastSeconds < 0 || run.lagAfterLastSeconds > 2.0)
                break; // the line is saturated; higher rates only take longer
        }
    }

    std::printf("\ngeneral interrogation, \"Available\" to end of response\n");
    std::printf("%8s %8s %8s %10s %12s %12s %8s\n", "points", "objects", "line", "time", "line bytes",
                "line limit", "ratio");
    for (int baud : {0, 38400, 9600}) {
        for (int points : {1000, 5000}) {
            const GiRun run = runInterrogation(points, baud > 0 ? baud : -1, tuning);
            if (baud == 0) {
                std::printf("%8d %8d %8s %8.2f s %12s %12s %8s\n", points, run.objects, "pty", run.seconds,
                            "-", "-", "-");
            } else {
                const double limit = double(run.lineBytes) * benchfigures::kBitsPerChar / baud;
                std::printf("%8d %8d %8d %8.2f s %12lld %10.2f s %8.2f\n", points, run.objects, baud,
                            run.seconds, static_cast<long long>(run.lineBytes), limit,
                            limit > 0 ? run.seconds / limit : 0.0);
            }
            std::fflush(stdout);
        }
    }

    std::printf(
        "\ndisconnect 15 s into a 5000-point interrogation at 9600 baud: %.2f s until \"Disconnected\"\n",
        disconnectLatency(5000, 9600, 15000, tuning));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The engine as it is, and with one poll-and-run exchange per tick and commands left
    // to the ticks: the reference the drain is measured against.
    runVariant("as it is", EngineTuning());
    EngineTuning oneExchange;
    oneExchange.drainBudgetMs = 0;
    oneExchange.commandsRunLine = false;
    runVariant("one exchange per tick", oneExchange);
    return 0;
}
