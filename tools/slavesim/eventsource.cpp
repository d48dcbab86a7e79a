#include "eventsource.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace slavesim {

EventSource::EventSource(const Config& stationConfig, PointDatabase& database, Outbox& stationOutbox)
    : config(stationConfig), points(database), outbox(stationOutbox), cyclicRate(stationConfig.cyclicRate)
{}

void EventSource::poll()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    randomEvent(now);
    periodicValue(now);
}

void EventSource::inject(int address, Kind kind, double value, bool withTime, std::optional<qint64> timeMs)
{
    Point p{kind, value, 0};
    Point* known = points.find(address);
    if (known && known->kind == kind) {
        known->value = value;
        p = *known;
    }
    outbox.sendObject(points.encode(address, p, withTime ? points.eventTag() : TimeTag::None, timeMs));
}

void EventSource::randomEvent(qint64 now)
{
    if (config.eventRate <= 0.0) {
        return;
    }
    if (nextEventMs == 0) {
        nextEventMs = now;
    }
    if (now < nextEventMs) {
        return;
    }
    // Counted from the previous due time, not from now: the loop's own latency would
    // otherwise stretch every interval and 20 events/s become about 18. After a pause
    // of more than a second the stream starts afresh instead of catching up.
    nextEventMs = std::max(nextEventMs + std::max<qint64>(1, qint64(1000.0 / config.eventRate)), now - 1000);
    std::uniform_int_distribution<int> pick(0, ioa::kSinglePointCount + ioa::kMeasuredCount - 1);
    const int i = pick(rng);
    if (i < ioa::kSinglePointCount) {
        const int address = ioa::kFirstSinglePoint + i;
        if (Point* p = points.find(address)) {
            p->value = p->value != 0.0 ? 0.0 : 1.0;
            outbox.sendObject(points.encode(address, *p, points.eventTag()));
        }
        return;
    }
    const int address = ioa::kFirstMeasured + i - ioa::kSinglePointCount;
    Point* p = points.find(address);
    if (!p) {
        return;
    }
    // A step of about a hundredth of the value's range in the field profile's formats.
    const double range = config.profile != Profile::Field                      ? 1.0
                         : config.measuredFormat == MeasuredFormat::Normalized ? 0.01
                         : config.measuredFormat == MeasuredFormat::Scaled     ? 10.0
                                                                               : 1.0;
    p->value += range * std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
    if (config.profile == Profile::Field && config.measuredFormat == MeasuredFormat::Scaled) {
        p->value = std::round(p->value);
    }
    outbox.sendObject(points.encode(address, *p, points.eventTag()));
}

void EventSource::periodicValue(qint64 now)
{
    if (cyclicRate <= 0.0 || !outbox.isOpen()) {
        return;
    }
    if (nextCyclicMs == 0 || nextCyclicMs < now - 1000) {
        nextCyclicMs = now;
    }
    if (now < nextCyclicMs) {
        return;
    }
    nextCyclicMs += std::max<qint64>(1, qint64(1000.0 / cyclicRate));
    // One measured value after the other, unchanged: what a station sends every cycle.
    const int address = ioa::kFirstMeasured + (nextCyclicPoint++ % ioa::kMeasuredCount);
    const Point* p = points.find(address);
    AsduPtr asdu = outbox.newAsdu(CS101_COT_PERIODIC);
    IoPtr io = p ? points.encode(address, *p) : IoPtr();
    if (asdu && io && CS101_ASDU_addInformationObject(asdu.get(), io.get())) {
        outbox.sendPeriodic(asdu.get());
    }
}

} // namespace slavesim
