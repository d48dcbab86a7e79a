#ifndef IEC101_SLAVESIM_EVENTSOURCE_H
#define IEC101_SLAVESIM_EVENTSOURCE_H

#include <QtGlobal>

#include <optional>
#include <random>

#include "outbox.h"
#include "pointdatabase.h"
#include "slavesim.h"

namespace slavesim {

// What the simulated station reports on its own: random spontaneous events at the
// configured rate (single points toggling, measured values wandering), measured values
// sent periodically, and the events scripts inject.
// Not thread-safe: SlaveSim calls it with its mutex held.
class EventSource
{
public:
    EventSource(const Config& stationConfig, PointDatabase& database, Outbox& stationOutbox);

    // Sends what is due now; called on every turn of the station's loop.
    void poll();
    void setCyclicRate(double perSecond) { cyclicRate = perSecond; }

    // A spontaneous event (cause 3). A known point of the same kind takes the value and
    // reports it with its quality; timeMs unset: now.
    void inject(int address, Kind kind, double value, bool withTime, std::optional<qint64> timeMs);

private:
    void randomEvent(qint64 now);
    void periodicValue(qint64 now);

    const Config& config;
    PointDatabase& points;
    Outbox& outbox;
    std::mt19937 rng{12345};
    qint64 nextEventMs = 0;
    double cyclicRate = 0.0;
    qint64 nextCyclicMs = 0;
    int nextCyclicPoint = 0;
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_EVENTSOURCE_H
