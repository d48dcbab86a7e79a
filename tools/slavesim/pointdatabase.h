#ifndef IEC101_SLAVESIM_POINTDATABASE_H
#define IEC101_SLAVESIM_POINTDATABASE_H

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "lib60870ptr.h"
#include "pointencoder.h"
#include "slavesim.h"

namespace slavesim {

// The simulated station's points by address: the station address plan (local/remote switch,
// states of the control objects), the data points of the profile and the extra points, with
// their values, groups and quality, and how each goes on the line as a lib60870 object.
// Not thread-safe: SlaveSim calls it with its mutex held.
class PointDatabase
{
public:
    explicit PointDatabase(const Config& config);

    Point* find(int address);
    const Point* find(int address) const;

    // Every point of a kind in an interrogation group (0: all), in the order the station
    // reports them.
    std::vector<std::pair<int, Point>> select(Kind kind, int group) const;

    bool isLocal() const;
    void setLocal(bool local);

    // A new object for the point in the profile's types; timeMs unset: now.
    IoPtr encode(int address, const Point& point, TimeTag tag = TimeTag::None,
                 std::optional<qint64> timeMs = {}) const;
    // The time tag events carry: CP56, CP24 in the field profile.
    TimeTag eventTag() const;
    // Counters carry a sequence number that each counter interrogation advances.
    void advanceCounterSequence() { ++counterSequence; }

private:
    const Config& config;
    std::map<int, Point> points;
    int counterSequence = 0;
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_POINTDATABASE_H
