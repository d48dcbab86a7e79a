// Several stations on one line: the latency of each station's events from the moment the
// station has them to the moment the engine hands them on, against one full poll cycle of
// the line (every station asked once and answering "no data").
//   1. four stations on a 9600 baud line, one event a second each;
//   2. the same while the first station empties a burst of 200 events: the others' latency
//      during the burst against their latency without it (goal: at most twice);
//   3. one station in balanced mode, one event a second: latency against the time the
//      event's own frame takes on the line.
// Usage: bench_stations [seconds per phase=30]
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <map>

#include "benchfigures.h"
#include "enginefixture.h"
#include "stationsline.h"

using namespace iec101;

namespace {

constexpr int kBaud = 9600;
constexpr int kStations = 4;

struct Latencies
{
    QVector<double> ms;
    double median() const { return percentile(0.5); }
    double p95() const { return percentile(0.95); }
    double percentile(double p) const
    {
        if (ms.isEmpty())
            return -1;
        QVector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted.at(std::min(int(sorted.size()) - 1, int(p * sorted.size())));
    }
};

// Events injected at a station, by the value they carry, with the time they were injected.
struct Injected
{
    std::map<std::pair<int, int>, qint64> at; // (link address, value) -> ms since the epoch
    int next = 1;
};

void injectTick(StationsLine& line, Injected& injected, int station, int linkAddress)
{
    const int value = injected.next++;
    injected.at[{linkAddress, value}] = QDateTime::currentMSecsSinceEpoch();
    line.station(station).injectMeasured(slavesim::ioa::kFirstMeasured, float(value), false);
}

// Runs the event loop for `seconds`, injecting one event a second at each station (at
// phases spread over the second), and sorts the latencies of what arrives by station.
std::map<int, Latencies> measure(StationsLine& line, EngineFixture& f, Injected& injected, int seconds,
                                 int stations, const std::function<void()>& atStart = {})
{
    std::map<int, Latencies> latencies;
    const int seen = f.unsolicited.size();
    if (atStart)
        atStart();
    QElapsedTimer clock;
    clock.start();
    int ticks = 0;
    while (clock.elapsed() < seconds * 1000) {
        const int due = int(clock.elapsed() * stations / 1000);
        while (ticks <= due) {
            const int station = ticks % stations;
            injectTick(line, injected, station, station + 1);
            ++ticks;
        }
        QTest::qWait(5);
    }
    QTest::qWait(2000); // what is still on its way
    for (int i = seen; i < f.unsolicited.size(); ++i) {
        const InfoObject& object = f.unsolicited.at(i);
        const auto found = injected.at.find({object.linkAddress, int(object.value.toFloat())});
        if (found != injected.at.end())
            latencies[object.linkAddress].ms << double(object.receivedMs - found->second);
    }
    return latencies;
}

void print(const char* phase, const std::map<int, Latencies>& latencies)
{
    for (const auto& [station, l] : latencies)
        std::printf("%-28s station %d: %4d events, median %7.1f ms, 95th percentile %7.1f ms\n", phase,
                    station, int(l.ms.size()), l.median(), l.p95());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(5, QByteArray(argv[1]).toInt()) : 30;

    // One poll cycle: each station asked for class 2 data (a fixed frame of 6 octets with
    // a 2-octet link address) and answering "no data" (6 octets), at 11 bits an octet.
    const double cycleMs = 1000.0 * kStations * 12 * benchfigures::kBitsPerChar / kBaud;
    std::printf("%d stations at %d baud; one poll cycle (each station asked once, no data): %.1f ms\n\n",
                kStations, kBaud, cycleMs);
    {
        StationsLine line(StationsLine::numbered(kStations));
        if (!line.start(kBaud)) {
            std::fprintf(stderr, "%s\n", qPrintable(line.errorString()));
            return 1;
        }
        EngineFixture f;
        f.openTyped(line.serialSettings(), line.settings());
        if (!QTest::qWaitFor([&] { return f.initialDataStations.size() == kStations; }, 120000)) {
            std::fprintf(stderr, "the stations did not come up\n");
            return 1;
        }
        Injected injected;
        const auto quiet = measure(line, f, injected, seconds, kStations);
        print("one event a second each", quiet);
        // The burst: 200 events at the first station at once, the others as before.
        const auto burst = measure(line, f, injected, seconds, kStations, [&] {
            for (int i = 0; i < 200; ++i)
                injectTick(line, injected, 0, 1);
        });
        print("with 200 events at station 1", burst);
        std::printf("\nquiet stations during the burst against without it (goal: at most 2x):\n");
        for (int station = 2; station <= kStations; ++station) {
            const double before = quiet.at(station).median();
            const double during = burst.count(station) ? burst.at(station).median() : -1;
            std::printf(
                "  station %d: median %.1f -> %.1f ms (%.2fx), 95th percentile %.1f -> %.1f ms (%.2fx)\n",
                station, before, during, during / before, quiet.at(station).p95(),
                burst.count(station) ? burst.at(station).p95() : -1.0,
                burst.count(station) ? burst.at(station).p95() / quiet.at(station).p95() : -1.0);
        }
        std::printf("  station 1's burst of 200 events: last one after %.1f s\n\n",
                    burst.count(1)
                        ? *std::max_element(burst.at(1).ms.cbegin(), burst.at(1).ms.cend()) / 1000.0
                        : -1.0);
    }
    {
        slavesim::Config config;
        config.balanced = true;
        StationsLine line({config});
        if (!line.start(kBaud)) {
            std::fprintf(stderr, "%s\n", qPrintable(line.errorString()));
            return 1;
        }
        ProtocolSettings settings = line.settings();
        settings.mode = LinkMode::Balanced;
        EngineFixture f;
        f.openTyped(line.serialSettings(), settings);
        if (!QTest::qWaitFor([&] { return f.initialDataFinished; }, 120000)) {
            std::fprintf(stderr, "the balanced link did not come up\n");
            return 1;
        }
        Injected injected;
        const auto latencies = measure(line, f, injected, seconds, 1);
        // The event's frame (68 L L 68 C A A, an M_ME_NC_1 ASDU of 15 octets, CS 16) and the
        // master's acknowledgement (6 octets).
        const double frameMs = 1000.0 * (4 + 1 + 2 + 15 + 2 + 6) * benchfigures::kBitsPerChar / kBaud;
        print("balanced, one event a second", latencies);
        std::printf("  the event's frame and its acknowledgement take %.1f ms on the line\n", frameMs);
    }
    return 0;
}
