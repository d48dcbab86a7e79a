#ifndef IEC101_FINDING_H
#define IEC101_FINDING_H

#include <QMetaType>
#include <QString>

#include "iec101engine_export.h"

namespace iec101 {

// Something about a station that a commissioning engineer has to look at: a listed point
// that did not come, one that came and is not listed, a wrong type, a value outside its
// range, quality flags, a refused or unanswered command, a wrong common address, and the
// line's repeats, busy answers and link resets. The same thing found again counts up on
// the first finding instead of adding another.
struct IEC101ENGINE_EXPORT Finding
{
    enum class Kind {
        Missing,       // listed, not reported by the end of a general interrogation
        Unexpected,    // reported, not listed
        Type,          // reported with another type than listed
        Range,         // engineering value outside the expected value or range
        Quality,       // quality flags set
        Refused,       // negative confirmation, or a cause that refuses (44 to 47)
        NoTermination, // confirmed, never terminated
        Timeout,       // no confirmation in time
        CommonAddress, // an answer from a common address the station is not set up with
        Repeat,        // a request repeated with the same frame count bit
        Busy,          // the station answered busy (DFC, or function 1)
        LinkReset,     // the link was reset again after data had flowed
    };
    static constexpr int kKindCount = int(Kind::LinkReset) + 1;

    qint64 timeMs = 0;     // when it was first found (UTC, ms since the epoch)
    qint64 lastTimeMs = 0; // when it was found last
    int count = 1;         // how often it was found
    int linkAddress = -1;
    int commonAddress = -1; // -1 where it concerns no common address
    int objectAddress = -1; // -1 where it concerns no object
    Kind kind = Kind::Missing;
    QString name;            // the point's name from the list, if it has one
    QString detail;          // in words, as found last
    qint64 frameTimeUs = -1; // the frame it came with (LineFrame::timeUs), -1 for none

    // "missing", "unexpected", "type", "range", "quality", "refused", "no-termination",
    // "timeout", "ca", "repeat", "busy", "link-reset".
    static QString kindName(Kind kind);
    // For people: "Missing", "Not listed", "Wrong type", ...
    static QString kindTitle(Kind kind);
};

} // namespace iec101

// Moved, not copied, when the findings grow: thousands are found at once at the end of an
// interrogation of a large list.
Q_DECLARE_TYPEINFO(iec101::Finding, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(iec101::Finding)

#endif // IEC101_FINDING_H
