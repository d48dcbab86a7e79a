// The engine over a paced 9600 baud line that corrupts a share of its octets (both
// directions, one bit flipped per damaged octet). For each share: a numbered event
// stream at 4 events/s, with a general interrogation and a double command in turn
// every few seconds; what reached the engine's output, how long the requests took,
// and how often the link fell into "Error". Then twice, on a fresh connection, the
// initial interrogation of a station with 1,000 extra points, whose answer fills
// full-size frames.
// Usage: bench_noisyline [seconds per share=120] [N...: only the shares 1/N; 0 = a clean line]
// IEC101_LINE_SEED=<seed printed> replays a run's damage.

#include <QtTest>

#include <algorithm>
#include <cstdio>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "linerelay.h"

using namespace iec101;

namespace {

constexpr int kBaud = 9600;
constexpr int kEventsPerSecond = 4;
constexpr int kRequestEveryMs = 10000;
constexpr int kStationPoints = 26; // what a general interrogation of the station brings

struct Timing
{
    QVector<double> seconds;
    int failed = 0; // a "fail" status message while it was pending
    int unfinished = 0;

    QString summary() const
    {
        if (seconds.isEmpty())
            return QStringLiteral("none finished");
        QVector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return QStringLiteral("%1 done, median %2 s, max %3 s")
            .arg(sorted.size())
            .arg(sorted[sorted.size() / 2], 0, 'f', 2)
            .arg(sorted.last(), 0, 'f', 2);
    }
};

struct NoisyRun
{
    double share = 0;
    int injected = 0;
    int once = 0;
    int missing = 0;
    int duplicated = 0;
    int outOfOrder = 0;
    Timing interrogation;
    int incompleteInterrogations = 0;
    Timing command;
    int linkErrors = 0;
    double minutes = 0;
    qint64 octets = 0;
    qint64 damaged = 0;
    quint32 seed = 0;
    double bringUpSeconds = -1;
};

NoisyRun run(double share, int seconds)
{
    NoisyRun r;
    r.share = share;
    EngineFixture f;
    if (!f.startLine(SlaveSimLine::Transport::Relay, kBaud))
        return r;
    f.relay()->setNoise(LineNoise{share, 0.0});
    r.seed = f.relay()->seed();
    QElapsedTimer clock;
    clock.start();
    if (!f.bringUp(300000))
        return r;
    r.bringUpSeconds = clock.elapsed() / 1000.0;

    // One request at a time, timed from the send to its end.
    QVector<int> values;
    bool pending = false;
    bool pendingFailed = false;
    Command::CommandType pendingType = Command::Interrogation;
    QElapsedTimer requestClock;
    int requests = 0;
    QObject::connect(&f, &EngineFixture::spontaneousDataReady, [&](const QVector<InfoObject>& objects) {
        for (const InfoObject& o : objects)
            if (o.address == slavesim::ioa::kFirstMeasured)
                values << int(o.value.toFloat());
    });
    QObject::connect(&f, &EngineFixture::setStatusBarMessage,
                     [&](const QString&) { pendingFailed = pending; });
    QObject::connect(&f, &EngineFixture::requestedDataReady,
                     [&](const QVector<InfoObject>& objects, Command::CommandType type) {
                         if (pending && type == Command::Interrogation && type == pendingType) {
                             QSet<int> addresses;
                             for (const InfoObject& o : objects)
                                 addresses.insert(o.address);
                             if (objects.size() != kStationPoints || addresses.size() != kStationPoints)
                                 ++r.incompleteInterrogations;
                         }
                     });
    QObject::connect(&f, &EngineFixture::responseEnded, [&](Command::CommandType type) {
        if (!pending || type != pendingType)
            return;
        Timing& timing = type == Command::Interrogation ? r.interrogation : r.command;
        if (pendingFailed)
            ++timing.failed;
        else
            timing.seconds << requestClock.elapsed() / 1000.0;
        pending = false;
    });
    const int errorsBefore = f.countEvents(QStringLiteral("state Error"));
    const qint64 octetsBefore = f.relay()->masterByteCount() + f.relay()->slaveByteCount();
    auto damage = [&f] {
        const LineRelay& l = *f.relay();
        return l.corruptedCount(LineRelay::MasterToSlave) + l.corruptedCount(LineRelay::SlaveToMaster);
    };
    const qint64 damagedBefore = damage();

    const int events = seconds * kEventsPerSecond;
    QElapsedTimer streamClock;
    streamClock.start();
    QTimer pace;
    pace.setInterval(50);
    QObject::connect(&pace, &QTimer::timeout, [&] {
        while (r.injected < events && r.injected * 1000 / kEventsPerSecond <= streamClock.elapsed())
            f.slave().injectMeasured(slavesim::ioa::kFirstMeasured, float(r.injected++), false);
        if (!pending && streamClock.elapsed() >= (requests + 1) * kRequestEveryMs &&
            streamClock.elapsed() < seconds * 1000) {
            pendingType = requests % 2 == 0 ? Command::Interrogation : Command::Double;
            pending = true;
            pendingFailed = false;
            requestClock.start();
            if (pendingType == Command::Interrogation)
                Q_EMIT f.sendCommand(Command::Interrogation, {20});
            else
                Q_EMIT f.sendCommand(Command::Double,
                                     {slavesim::ioa::kDoubleCommandBase + 1, 1 + (requests / 2) % 2});
            ++requests;
        }
    });
    pace.start();
    while (r.injected < events || (values.size() < events && streamClock.elapsed() < (seconds + 60) * 1000) ||
           (pending && streamClock.elapsed() < (seconds + 60) * 1000))
        QTest::qWait(20);
    QTest::qWait(2000); // late repeats
    pace.stop();
    if (pending)
        ++(pendingType == Command::Interrogation ? r.interrogation : r.command).unfinished;

    r.minutes = streamClock.elapsed() / 60000.0;
    r.linkErrors = f.countEvents(QStringLiteral("state Error")) - errorsBefore;
    r.octets = f.relay()->masterByteCount() + f.relay()->slaveByteCount() - octetsBefore;
    r.damaged = damage() - damagedBefore;
    QVector<int> count(events, 0);
    int last = -1;
    for (int v : qAsConst(values)) {
        if (v >= 0 && v < events)
            ++count[v];
        if (v < last)
            ++r.outOfOrder;
        last = v;
    }
    for (int c : qAsConst(count)) {
        r.once += c == 1 ? 1 : 0;
        r.missing += c == 0 ? 1 : 0;
        r.duplicated += c > 1 ? 1 : 0;
    }
    return r;
}

struct LargeInterrogation
{
    double seconds = -1; // -1: no answer in time
    int objects = 0;
    int expected = 0;
    int timedOut = 0; // attempts the engine gave up on (and repeated)
    int linkErrors = 0;
};

// A fresh connection to a station with many points: its initial interrogation, whose
// answer fills full-size frames (about 290 ms each on this line), timed from "Available".
LargeInterrogation runLargeInterrogation(double share, int points, int timeoutMs)
{
    LargeInterrogation run;
    slavesim::Config config;
    config.extraPoints = points;
    EngineFixture f(config);
    if (!f.startLine(SlaveSimLine::Transport::Relay, kBaud))
        return run;
    f.relay()->setNoise(LineNoise{share, 0.0});
    QElapsedTimer clock;
    QObject::connect(&f, &EngineFixture::linkLayerStateChangedSignal, [&](const QString& state) {
        if (state.startsWith(QLatin1String("Available")) && !clock.isValid())
            clock.start();
    });
    // The engine reports a timed-out attempt (status first, then what came) and tries again.
    bool attemptFailed = false;
    QObject::connect(&f, &EngineFixture::setStatusBarMessage, [&](const QString&) { attemptFailed = true; });
    QObject::connect(&f, &EngineFixture::requestedDataReady,
                     [&](const QVector<InfoObject>& objects, Command::CommandType type) {
                         if (type != Command::Interrogation || run.seconds >= 0)
                             return;
                         if (attemptFailed) {
                             ++run.timedOut;
                             attemptFailed = false;
                             return;
                         }
                         run.seconds = clock.elapsed() / 1000.0;
                         run.objects = objects.size();
                     });
    f.connectEngine();
    QElapsedTimer waited;
    waited.start();
    while (run.seconds < 0 && waited.elapsed() < timeoutMs)
        QTest::qWait(20);
    run.expected = points + kStationPoints;
    run.linkErrors = f.countEvents(QStringLiteral("state Error"));
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, QByteArray(argv[1]).toInt()) : 120;
    std::printf("noisy line: %d baud, %d events/s for %d s per share, an interrogation or a double command "
                "every %d s\n",
                kBaud, kEventsPerSecond, seconds, kRequestEveryMs / 1000);
    QVector<double> shares{0.0, 1.0 / 1000, 1.0 / 300, 1.0 / 100};
    if (argc > 2) {
        shares.clear();
        for (int i = 2; i < argc; ++i) {
            const int n = QByteArray(argv[i]).toInt();
            shares << (n > 0 ? 1.0 / n : 0.0);
        }
    }
    for (double share : qAsConst(shares)) {
        const NoisyRun r = run(share, seconds);
        std::printf("\ncorrupted octets: %s (seed %u)\n",
                    share > 0 ? qPrintable(QStringLiteral("1/%1").arg(qRound(1 / share))) : "none", r.seed);
        if (r.bringUpSeconds < 0) {
            std::printf("  bring-up failed\n");
            continue;
        }
        std::printf("  bring-up (link, interrogation, counter interrogation): %.2f s\n", r.bringUpSeconds);
        std::printf("  events: %d sent, %d delivered once, %d missing, %d duplicated, %d out of order\n",
                    r.injected, r.once, r.missing, r.duplicated, r.outOfOrder);
        std::printf("  interrogation: %s, %d failed, %d unfinished, %d incomplete\n",
                    qPrintable(r.interrogation.summary()), r.interrogation.failed, r.interrogation.unfinished,
                    r.incompleteInterrogations);
        std::printf("  double command: %s, %d failed, %d unfinished\n", qPrintable(r.command.summary()),
                    r.command.failed, r.command.unfinished);
        std::printf("  link errors: %d in %.1f min = %.1f per minute; %lld of %lld octets corrupted\n",
                    r.linkErrors, r.minutes, r.linkErrors / r.minutes, static_cast<long long>(r.damaged),
                    static_cast<long long>(r.octets));
        for (int i = 0; i < 2; ++i) {
            const LargeInterrogation gi = runLargeInterrogation(share, 1000, 90000);
            if (gi.seconds < 0)
                std::printf(
                    "  interrogation of %d points in full frames: not finished in 90 s, %d attempts timed "
                    "out, %d link errors\n",
                    gi.expected, gi.timedOut, gi.linkErrors);
            else
                std::printf(
                    "  interrogation of %d points in full frames: %.2f s, %d objects, %d attempts timed "
                    "out, %d link errors\n",
                    gi.expected, gi.seconds, gi.objects, gi.timedOut, gi.linkErrors);
            std::fflush(stdout);
        }
    }
    return 0;
}
