#ifndef IEC101_OBJECTTEXT_H
#define IEC101_OBJECTTEXT_H

#include <QDateTime>
#include <QString>
#include <QVariant>

#include "infoobject.h"

namespace iec101 {

// How a received object reads on screen and in exported files. The event log, the
// response tables and the command panel all take their texts from here, so an
// object reads the same wherever it appears.
namespace ObjectText {

// The value, followed by the quality flags in brackets when any is set: "230.5 [IV NT]".
QString valueText(const InfoObject& object);

// The value alone. Points and integrated totals as numbers of up to six significant
// digits ("%g"-like); normalized and short floating-point values the same way;
// scaled values as integers; step positions with " (transient)" while in transit;
// bitstrings and packed single points as 8 hex digits; protection events as state and
// elapsed time ("2 (120 ms)"), packed ones as hex octet and time ("0x21 (120 ms)");
// end of initialisation as its cause. "?" for a value that cannot be rendered.
QString plainValueText(const InfoObject& object);

// The quality flags that are set, in a fixed order and separated by spaces: IV NT SB
// BL EI OV as the type has them, CY CA IV for integrated totals; empty when good.
QString qualityText(const InfoObject& object);

// Type name and number, for example "M_SP_TB_1 (30)".
QString typeText(int typeId);

// The type's name alone, for example "M_SP_TB_1".
QString typeName(int typeId);

// A time tag holds the slave's calendar fields read as UTC (see InfoObject). Shown are
// those fields: the local time of the instant the tag stands for on this PC, the fields
// read at the offset from UTC in force now. Where the zone's offset at that instant
// differs from the one now (a tag from the other side of a summer time change), the
// fields shown differ by as much. Offsets are looked up once per hour of UTC and
// thread, not per tag: each look-up makes the C library check the zone file again.

// The instant (milliseconds since the epoch) a time tag stands for.
qint64 tagInstant(qint64 timestamp);

// The offset of local time from UTC at an instant, in seconds.
int utcOffsetAt(qint64 msecsSinceEpoch);

// The local calendar fields of an instant, as a date-time in UTC holding them.
QDateTime localFields(qint64 msecsSinceEpoch);

// localFields() in Qt's text date format ("Fri Dec 6 06:30:39 2024").
QString localTimeText(qint64 msecsSinceEpoch);
// The same with the milliseconds, the resolution of a time tag: "Fri Dec 6 06:30:39.125 2024".
QString localTimeTextMs(qint64 msecsSinceEpoch);

// The calendar fields of a time tag exactly as the slave sent them, for a stamp
// that holds those fields read as UTC. Null stamps give a null date-time.
QDateTime slaveDateTime(const QVariant& timestamp);

// slaveDateTime() in Qt's text date format ("Fri Dec 6 06:30:39 2024"), or an
// empty string without a stamp.
QString timeText(const QVariant& timestamp);

} // namespace ObjectText

} // namespace iec101

#endif // IEC101_OBJECTTEXT_H
