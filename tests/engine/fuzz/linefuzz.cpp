// Line fuzzing: the simulated slave sends mutated ASDUs, mixed with valid traffic, to the
// engine over a pty once the link is up. Nothing a slave sends may crash the engine or
// make a sanitizer complain, and afterwards the engine must still answer a plain read.
// Run by scripts/fuzz --line; exits non-zero when the engine stops working.
//
//   linefuzz [seconds=30] [seed]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <cstdio>

#include "asdumutator.h"
#include "enginefixture.h"

using namespace iec101;

namespace ioa = slavesim::ioa;

namespace {

int fail(const char* why)
{
    std::fprintf(stderr, "linefuzz: FAILED: %s\n", why);
    return 1;
}

// Sends a read of a known measured value until its answer arrives: a link error that the
// fuzzing caused may swallow the first requests.
bool readAnswered(EngineFixture& f, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const int before = f.countEvents(QStringLiteral("ended Read"));
        Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
        // A read that the engine took is answered or timed out within about 5 s.
        if (QTest::qWaitFor([&] { return f.countEvents(QStringLiteral("ended Read")) > before; }, 7000) &&
            f.lastRequested().size() == 1 && f.lastRequested().first().address == ioa::kFirstMeasured)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 30;
    const quint32 seed = argc > 2 ? QByteArray(argv[2]).toUInt() : QRandomGenerator::system()->generate();
    std::printf("line fuzzing for %d s, seed %u (repeat with: linefuzz %d %u)\n", seconds, seed, seconds,
                seed);

    EngineFixture f;
    if (!f.bringUp())
        return fail("the link did not come up");
    AsduMutator mutator(seed);
    QRandomGenerator traffic(seed ^ 0x5a5a5a5au);

    int sent = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        // A burst of hostile frames, answered one per class 1/2 request.
        const int burst = 1 + int(traffic.bounded(8u));
        for (int i = 0; i < burst; ++i)
            f.slave().sendRawAsdu(mutator.next());
        sent += burst;
        // The engine polls every 200 ms whatever it received: the burst must go out.
        if (!QTest::qWaitFor([&f] { return !f.slave().rawAsduPending(); }, 20000))
            return fail("the engine stopped fetching frames");

        // Then the slave's own stack serves valid traffic for a while: events, and now and
        // then a read or an interrogation from the master.
        const quint32 roll = traffic.bounded(10u);
        if (roll < 4) {
            f.slave().injectSinglePoint(ioa::kFirstSinglePoint + int(traffic.bounded(10u)), roll % 2 == 0);
            f.slave().injectMeasured(ioa::kFirstMeasured, float(traffic.bounded(1000u)));
        } else if (roll < 6) {
            Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
        } else if (roll == 6) {
            Q_EMIT f.sendCommand(Command::Interrogation, {20});
        }
        QTest::qWait(100 + int(traffic.bounded(400u)));
    }
    std::printf("sent %d hostile or random ASDUs; %d spontaneous objects delivered; mutations: %s\n", sent,
                f.spontaneousObjects().size(), qPrintable(mutator.statistics().join(QLatin1Char(' '))));

    if (!readAnswered(f, 30000))
        return fail("the engine no longer answers a read after the fuzzing");
    if (f.events.contains(QStringLiteral("state Disconnected")))
        return fail("the connection was closed");
    std::printf("linefuzz: passed\n");
    return 0;
}
