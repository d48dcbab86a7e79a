// How long each control-direction type takes through the typed interface, from send() to
// its commandFinished, against what the line itself needs: step commands, setpoints,
// bitstrings, their time-tagged forms, select and execute where the type has a select,
// the test command, the reset, the delay acquisition, the parameters and a deactivation,
// each repeated at random phases of the polling tick on relays paced at 9600 and 38400
// baud. The line's limit for one run is the octets that crossed the relay (both
// directions) while it lasted, x 11 bits / baud.
// Usage: bench_commandtypes [repetitions=9]
#include <QtTest>

#include <iec60870_common.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "benchfigures.h"
#include "controlhandler.h"
#include "enginefixture.h"
#include "linerelay.h"

using namespace iec101;
using Execution = CommandRequest::Execution;
namespace ioa = slavesim::ioa;

namespace {

struct Trip
{
    double ms = -1; // -1: no outcome within the time allowed, or not a success
    double limitMs = 0;
};

struct Series
{
    const char* name;
    CommandRequest request;
};

Trip runCommand(EngineFixture& f, int baud, CommandRequest request)
{
    const auto lineBytes = [&f] {
        return f.relay()->masterByteCount() + f.relay()->slaveByteCount();
    };
    Trip trip;
    bool ended = false;
    bool succeeded = false;
    qint64 bytes = 0;
    QElapsedTimer clock;
    static quint64 nextId = 1000000;
    request.id = ++nextId;
    const auto connection = QObject::connect(
        &f, &EngineFixture::commandFinished, [&](const CommandRequest& done, const CommandOutcome& outcome) {
            if (done.id != request.id || ended)
                return;
            ended = true;
            succeeded = outcome.succeeded() && !outcome.terminationMissing;
            trip.ms = clock.nsecsElapsed() / 1e6;
            bytes = lineBytes() - bytes;
        });
    bytes = lineBytes();
    clock.start();
    f.send(request);
    QElapsedTimer waited;
    waited.start();
    while (!ended && waited.elapsed() < 30000)
        QTest::qWait(1);
    QObject::disconnect(connection);
    if (!succeeded)
        trip.ms = -1;
    trip.limitMs = benchfigures::lineMs(bytes, baud);
    return trip;
}

void printTrips(int baud, const char* name, const QVector<Trip>& trips)
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
        ratios << t.ms / t.limitMs;
    }
    const double low = ms.isEmpty() ? -1 : *std::min_element(ms.cbegin(), ms.cend());
    const double high = ms.isEmpty() ? -1 : *std::max_element(ms.cbegin(), ms.cend());
    std::printf("%-6d %-34s %8.1f %8.1f %8.1f %10.1f %6.2f", baud, name, benchfigures::median(ms), low, high,
                benchfigures::median(limits), benchfigures::median(ratios));
    if (failed)
        std::printf("  (%d failed)", failed);
    std::printf("\n");
    std::fflush(stdout);
}

QVector<Series> allSeries()
{
    const auto sbe = Execution::SelectBeforeExecute;
    const int setpoint = ioa::kFirstSetpoint;
    const int step = ioa::kFirstStepCommand;
    const int bits = ioa::kFirstBitstringCommand;
    return {
        {"C_RC_NA_1 direct", CommandRequest::of(C_RC_NA_1, step, 2)},
        {"C_RC_NA_1 select, execute", CommandRequest::of(C_RC_NA_1, step, 1, sbe)},
        {"C_SE_NA_1 direct", CommandRequest::of(C_SE_NA_1, setpoint, 0.5)},
        {"C_SE_NA_1 select, execute", CommandRequest::of(C_SE_NA_1, setpoint, -0.25, sbe)},
        {"C_SE_NB_1 direct", CommandRequest::of(C_SE_NB_1, setpoint + 1, 1234)},
        {"C_SE_NB_1 select, execute", CommandRequest::of(C_SE_NB_1, setpoint + 1, -7, sbe)},
        {"C_SE_NC_1 direct", CommandRequest::of(C_SE_NC_1, setpoint + 2, 230.5)},
        {"C_SE_NC_1 select, execute", CommandRequest::of(C_SE_NC_1, setpoint + 2, 49.9, sbe)},
        {"C_BO_NA_1", CommandRequest::of(C_BO_NA_1, bits, 0xA5A5F00Fu)},
        {"C_SC_TA_1 select, execute", CommandRequest::of(C_SC_TA_1, ioa::kFirstSingleCommand, true, sbe)},
        {"C_DC_TA_1 select, execute", CommandRequest::of(C_DC_TA_1, ioa::kDoubleCommandBase + 1, 2, sbe)},
        {"C_RC_TA_1 select, execute", CommandRequest::of(C_RC_TA_1, step, 2, sbe)},
        {"C_SE_TA_1 select, execute", CommandRequest::of(C_SE_TA_1, setpoint, 0.75, sbe)},
        {"C_SE_TB_1 select, execute", CommandRequest::of(C_SE_TB_1, setpoint + 1, 100, sbe)},
        {"C_SE_TC_1 select, execute", CommandRequest::of(C_SE_TC_1, setpoint + 2, 12.5, sbe)},
        {"C_BO_TA_1", CommandRequest::of(C_BO_TA_1, bits + 1, 0xFFu)},
        {"C_TS_NA_1", CommandRequest::of(C_TS_NA_1, 0, QVariant())},
        {"C_RP_NA_1", CommandRequest::of(C_RP_NA_1, 0, QVariant(), Execution::Direct, 1)},
        {"C_CD_NA_1", CommandRequest::of(C_CD_NA_1, 0, QVariant())},
        {"P_ME_NA_1", CommandRequest::of(P_ME_NA_1, ioa::kFirstMeasured, 0.1, Execution::Direct, 1)},
        {"P_ME_NB_1", CommandRequest::of(P_ME_NB_1, ioa::kFirstMeasured, 10, Execution::Direct, 3)},
        {"P_ME_NC_1", CommandRequest::of(P_ME_NC_1, ioa::kFirstMeasured, 250.0, Execution::Direct, 4)},
        {"P_AC_NA_1", CommandRequest::of(P_AC_NA_1, ioa::kFirstMeasured, QVariant(), Execution::Direct, 2)},
        {"C_SE_NB_1 select only", CommandRequest::of(C_SE_NB_1, setpoint + 3, 5, Execution::SelectOnly)},
        {"C_SE_NB_1 deactivation", CommandRequest::of(C_SE_NB_1, setpoint + 3, 5, Execution::Deactivate)},
    };
}

void typeTrips(int baud, int repetitions, std::mt19937& random)
{
    EngineFixture f;
    if (!f.startLine(SlaveSimLine::Transport::Relay, baud) || !f.bringUpTyped(120000)) {
        std::printf("bring-up failed at %d baud\n", baud);
        return;
    }
    // A pause of 250 to 450 ms before each command: the line has gone quiet, and the
    // command meets the 200 ms polling tick at a random phase.
    std::uniform_int_distribution<int> pause(250, 450);
    for (const Series& s : allSeries()) {
        QVector<Trip> trips;
        for (int i = 0; i < repetitions; ++i) {
            QTest::qWait(pause(random));
            trips << runCommand(f, baud, s.request);
        }
        printTrips(baud, s.name, trips);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 9;
    std::mt19937 random(14);
    std::printf("round trip send -> commandFinished, ms over %d runs each\n", repetitions);
    std::printf("%-6s %-34s %8s %8s %8s %10s %6s\n", "baud", "command", "median", "min", "max", "line limit",
                "ratio");
    for (int baud : {38400, 9600})
        typeTrips(baud, repetitions, random);
    return 0;
}
