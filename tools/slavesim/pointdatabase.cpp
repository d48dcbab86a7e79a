#include "pointdatabase.h"

#include <QDateTime>

#include <algorithm>

namespace slavesim {

PointDatabase::PointDatabase(const Config& c) : config(c)
{
    points[ioa::kLocalRemote] = {Kind::Single, c.localMode ? 1.0 : 0.0, 1};
    for (int i = 0; i < ioa::kSinglePointCount; ++i) {
        points[ioa::kFirstSinglePoint + i] = {Kind::Single, double(i % 2), 1};
    }
    for (int n = 1; n <= ioa::kObjectCount; ++n) {
        points[ioa::kObjectStateBase + n] = {Kind::Double, n % 2 ? 1.0 : 2.0, 2};
    }
    for (int i = 0; i < ioa::kMeasuredCount; ++i) {
        points[ioa::kFirstMeasured + i] = {Kind::Measured, 10.5 * (i + 1), 3};
    }
    for (int i = 0; i < ioa::kCounterCount; ++i) {
        points[ioa::kFirstCounter + i] = {Kind::Counter, 1000.0 * (i + 1), i + 1};
    }
    const int extras = std::min(std::max(c.extraPoints, 0), ioa::kMaxExtraPoints);
    for (int i = 1; i <= extras; ++i) {
        points[ioa::kExtraPointBase + i] = {Kind::Single, double(i % 2), 4};
    }
    if (c.profile == Profile::Field) {
        // Values that read naturally in each format: volts, hertz, amperes, a power factor, watts.
        static const double floats[] = {230.5, 49.98, -12.25, 0.5, 1000.0};
        static const double normalizedValues[] = {0.5, -0.25, 0.125, 0.75, -1.0};
        static const double scaledValues[] = {2305, 4998, -1225, 5, 10000};
        const double* values = c.measuredFormat == MeasuredFormat::Normalized ? normalizedValues
                               : c.measuredFormat == MeasuredFormat::Scaled   ? scaledValues
                                                                              : floats;
        for (int i = 0; i < ioa::kMeasuredCount; ++i) {
            points[ioa::kFirstMeasured + i].value = values[i];
        }
        points[ioa::kFirstStep] = {Kind::Step, 5, 3};
        points[ioa::kFirstStep + 1] = {Kind::Step, -3, 3, 0, true};
        points[ioa::kFirstBitstring] = {Kind::Bitstring, double(0x0000a5a5), 3};
        points[ioa::kFirstBitstring + 1] = {Kind::Bitstring, double(0x80000001u), 3};
    }
    for (auto it = c.quality.cbegin(); it != c.quality.cend(); ++it) {
        const auto point = points.find(it.key());
        if (point != points.end()) {
            point->second.quality = it.value() & 0xff;
        }
    }
}

Point* PointDatabase::find(int address)
{
    const auto it = points.find(address);
    return it == points.end() ? nullptr : &it->second;
}

const Point* PointDatabase::find(int address) const
{
    const auto it = points.find(address);
    return it == points.end() ? nullptr : &it->second;
}

// Ascending addresses, except that the field profile sends the local/remote switch ahead of
// the other single points: stations report in an order of their own, not by address.
std::vector<std::pair<int, Point>> PointDatabase::select(Kind kind, int group) const
{
    std::vector<std::pair<int, Point>> selected;
    for (const auto& [address, p] : points) {
        if (p.kind == kind && (group == 0 || p.group == group)) {
            selected.emplace_back(address, p);
        }
    }
    if (config.profile == Profile::Field) {
        std::stable_partition(selected.begin(), selected.end(),
                              [](const auto& entry) { return entry.first == ioa::kLocalRemote; });
    }
    return selected;
}

bool PointDatabase::isLocal() const
{
    const Point* p = find(ioa::kLocalRemote);
    return p && p->value != 0.0;
}

void PointDatabase::setLocal(bool local)
{
    points[ioa::kLocalRemote].value = local ? 1.0 : 0.0;
}

IoPtr PointDatabase::encode(int address, const Point& p, TimeTag tag, std::optional<qint64> timeMs) const
{
    // Only the field profile lets measured values leave as anything but short floats.
    const MeasuredFormat format =
        config.profile == Profile::Field ? config.measuredFormat : MeasuredFormat::Float;
    return IoPtr(encodePoint(address, p, format, tag, timeMs.value_or(QDateTime::currentMSecsSinceEpoch()),
                             counterSequence));
}

TimeTag PointDatabase::eventTag() const
{
    return config.profile == Profile::Field ? TimeTag::CP24 : TimeTag::CP56;
}

} // namespace slavesim
