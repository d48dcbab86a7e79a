// How the simulated slave puts one of its points on the line: the lib60870 information
// object for the point's kind, the simulated slave's measured-value format and a time tag.
#pragma once

#include <QtGlobal>

#include <cs101_information_objects.h>

#include "slavesim.h"

namespace slavesim {

enum class Kind { Single, Double, Measured, Counter, Step, Bitstring };
enum class TimeTag { None, CP24, CP56 };

// A point's state as the simulated slave keeps it.
struct Point
{
    Kind kind;
    double value;    // double points 0..3; step positions -64..63; bitstrings the 32 bits
    int group;       // interrogation group (1..16), or counter group (1..4) for counters
    int quality = 0; // QDS bits, or IV 0x80, CA 0x40, CY 0x20 for counters
    bool transient = false;
};

// A new information object (the caller destroys it), or nullptr if the library builds none.
// Measured points take the type of `format`; counters carry `sequence`; timeMs is the time
// tag as ms since the epoch, encoded as UTC fields (CP24: minute, second, ms of them).
InformationObject encodePoint(int address, const Point& point, MeasuredFormat format, TimeTag tag,
                              qint64 timeMs, int sequence);

} // namespace slavesim
