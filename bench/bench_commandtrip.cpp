// How long a command takes from sendCommand to responseEnded, against what the line
// itself needs: read, single and double command (select and execute), an interrogation
// of 100 points and an addressed clock sync, each repeated at random phases of the
// polling tick, on a bare pty and on relays paced at 9600 and 38400 baud; then single
// interrogations of 1,000 and 5,000 points at 9600, 38400 and 115200 baud.
// The line's limit for one run is the octets that crossed the relay (both directions)
// while it lasted, x 11 bits / baud.
// Run twice: with the engine as it is, and with commands left to the polling tick (the
// reference), so both sets come from the same machine and run.
// Usage: bench_commandtrip [repetitions=15]
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>

#include "benchfigures.h"
#include "enginefixture.h"
#include "linerelay.h"

using namespace iec101;

namespace {

struct Trip
{
    double ms = -1; // -1: no end within the time allowed
    double limitMs = 0;
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < timeoutMs)
        QTest::qWait(1);
    return condition();
}

// One command from sendCommand to its responseEnded, with the line's limit for that time.
Trip runCommand(EngineFixture& f, int baud, Command::CommandType type, const QVector<int>& values,
                int timeoutMs = 30000)
{
    auto lineBytes = [&f] {
        return f.relay() ? f.relay()->masterByteCount() + f.relay()->slaveByteCount() : 0;
    };
    Trip trip;
    bool ended = false;
    qint64 bytes = 0;
    QElapsedTimer clock;
    const auto connection = QObject::connect(&f, &EngineFixture::responseEnded, [&](Command::CommandType t) {
        if (t != type || ended)
            return;
        ended = true;
        trip.ms = clock.nsecsElapsed() / 1e6;
        bytes = lineBytes() - bytes;
    });
    bytes = lineBytes();
    clock.start();
    Q_EMIT f.sendCommand(type, values);
    waitUntil([&] { return ended; }, timeoutMs);
    QObject::disconnect(connection);
    if (baud > 0)
        trip.limitMs = benchfigures::lineMs(bytes, baud);
    return trip;
}

struct Series
{
    const char* name;
    Command::CommandType type;
    std::function<QVector<int>(int repetition)> values;
};

void printTrips(const char* line, const char* name, int baud, const QVector<Trip>& trips)
{
    QVector<double> ms;
    QVector<double> limits;
    QVector<double> ratios;
    int failed = 0;
    for (const Trip& t : trips) {
        if (t.ms < 0) {
            ++failed;
            continue;
        }
        ms << t.ms;
        limits << t.limitMs;
        if (t.limitMs > 0)
            ratios << t.ms / t.limitMs;
    }
    const double low = ms.isEmpty() ? -1 : *std::min_element(ms.cbegin(), ms.cend());
    const double high = ms.isEmpty() ? -1 : *std::max_element(ms.cbegin(), ms.cend());
    if (baud > 0)
        std::printf("%-7s %-16s %9.1f %9.1f %9.1f %11.1f %7.2f", line, name, benchfigures::median(ms), low,
                    high, benchfigures::median(limits), benchfigures::median(ratios));
    else
        std::printf("%-7s %-16s %9.1f %9.1f %9.1f %11s %7s", line, name, benchfigures::median(ms), low, high,
                    "-", "-");
    if (failed)
        std::printf("  (%d without an end)", failed);
    std::printf("\n");
    std::fflush(stdout);
}

void commandTrips(int baud, int repetitions, std::mt19937& random, const EngineTuning& tuning)
{
    slavesim::Config config;
    config.extraPoints = 100;
    EngineFixture f(config);
    f.setTuning(tuning);
    const bool lineUp = baud > 0 ? f.startLine(SlaveSimLine::Transport::Relay, baud) : f.startLine();
    if (!lineUp || !f.bringUp(120000)) {
        std::printf("bring-up failed at %d baud\n", baud);
        return;
    }
    const QByteArray line = baud > 0 ? QByteArray::number(baud) : QByteArray("pty");
    const QVector<Series> series{
        {"read", Command::Read,
         [](int) {
             return QVector<int>{slavesim::ioa::kFirstMeasured};
         }},
        {"single command", Command::Single,
         [](int i) {
             return QVector<int>{slavesim::ioa::kFirstSingleCommand, i % 2};
         }},
        {"double command", Command::Double,
         [](int i) {
             return QVector<int>{slavesim::ioa::kDoubleCommandBase + 1, 1 + i % 2};
         }},
        {"interrogation", Command::Interrogation,
         [](int) {
             return QVector<int>{20};
         }},
        {"clock sync", Command::ClockSync,
         [](int) {
             return QVector<int>{0};
         }},
    };
    // A pause of 250 to 450 ms before each command: the line has gone quiet, and the
    // command meets the 200 ms polling tick at a random phase.
    std::uniform_int_distribution<int> pause(250, 450);
    for (const Series& s : series) {
        QVector<Trip> trips;
        for (int i = 0; i < repetitions; ++i) {
            QTest::qWait(pause(random));
            trips << runCommand(f, baud, s.type, s.values(i));
        }
        printTrips(line.constData(), s.name, baud, trips);
    }
}

void largeInterrogation(int points, int baud, const EngineTuning& tuning)
{
    slavesim::Config config;
    config.extraPoints = points;
    EngineFixture f(config);
    f.setTuning(tuning);
    if (!f.startLine(SlaveSimLine::Transport::Relay, baud) || !f.bringUp(300000)) {
        std::printf("bring-up failed: %d points at %d baud\n", points, baud);
        return;
    }
    QTest::qWait(500);
    const Trip trip = runCommand(f, baud, Command::Interrogation, {20}, 300000);
    std::printf("%8d %8d %10.2f s %10.2f s %8.3f\n", points, baud, trip.ms / 1000, trip.limitMs / 1000,
                trip.limitMs > 0 ? trip.ms / trip.limitMs : 0.0);
    std::fflush(stdout);
}

} // namespace

void runVariant(const char* name, const EngineTuning& tuning, int repetitions)
{
    std::mt19937 random(14);
    std::printf("\n== variant: %s\n", name);
    std::printf("\nround trip sendCommand -> responseEnded, ms over %d runs each (simulated slave: 100 extra "
                "points)\n",
                repetitions);
    std::printf("%-7s %-16s %9s %9s %9s %11s %7s\n", "line", "command", "median", "min", "max", "line limit",
                "ratio");
    for (int baud : {0, 38400, 9600})
        commandTrips(baud, repetitions, random, tuning);

    std::printf("\ninterrogation of many points, sendCommand -> responseEnded\n");
    std::printf("%8s %8s %12s %12s %8s\n", "points", "baud", "time", "line limit", "ratio");
    for (int baud : {115200, 38400, 9600})
        for (int points : {1000, 5000})
            largeInterrogation(points, baud, tuning);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 15;
    // The engine as it is, and with commands left to the polling tick (sent at the next
    // tick, answers fetched by its drain): the reference for what running the line at
    // once gains.
    runVariant("commands run the line", EngineTuning(), repetitions);
    EngineTuning waitForTick;
    waitForTick.commandsRunLine = false;
    runVariant("commands wait for the tick", waitForTick, repetitions);
    return 0;
}
