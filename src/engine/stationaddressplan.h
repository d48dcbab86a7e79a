#ifndef IEC101_STATIONADDRESSPLAN_H
#define IEC101_STATIONADDRESSPLAN_H

namespace iec101 {

// The controlled station's object addresses that the master's command panel assumes:
// the station's local/remote switch, the double-point state of each control object, the
// double commands that move those objects and a block of single commands. The simulated
// station serves the same plan.
namespace StationAddressPlan {

constexpr int kLocalRemote = 65537;          // 0x010001, single point, true = local
constexpr int kObjectStateBase = 196608;     // 0x030000 + n: double-point state of object n
constexpr int kDoubleCommandBase = 3014656;  // 0x2E0000 + n: double command of object n
constexpr int kFirstSingleCommand = 2949121; // 0x2D0001
constexpr int kLastSingleCommand = 2949159;  // 0x2D0027
constexpr int kControlObjectCount = 10;      // n = 1..kControlObjectCount

} // namespace StationAddressPlan

} // namespace iec101

#endif // IEC101_STATIONADDRESSPLAN_H
