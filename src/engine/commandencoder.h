#ifndef IEC101_COMMANDENCODER_H
#define IEC101_COMMANDENCODER_H

#include <QDateTime>
#include <QString>

#include "commandrequest.h"
#include "protocolsettings.h"

#include <iec60870_common.h>

namespace iec101 {

// Turns command requests of the process-command kind (control direction, types 45 to
// 64 and 104 to 113) into lib60870 information objects, and refuses requests that the
// type cannot carry before anything is sent.
namespace CommandEncoder {

// The ranges a value must lie in: normalized values are fractions of 2^15.
constexpr double kNormalizedMin = -1.0;
constexpr double kNormalizedMax = 1.0 - 1.0 / 32768.0;
constexpr int kScaledMin = -32768;
constexpr int kScaledMax = 32767;

// Whether the engine sends this type at all (reads, interrogations and clock syncs
// included).
bool isSupported(int typeId);
// Types whose object carries the select/execute bit (commands and setpoints, with and
// without time tag): they may be selected, and a select may be deactivated.
bool hasSelect(int typeId);
// The type without its time tag: 58 to 64 give 45 to 51, every other type itself.
int untimedType(int typeId);
// The type with a time tag: 45 to 51 give 58 to 64; 0 for a type that has none.
int timedType(int typeId);

// Empty when the request can be sent; otherwise why not, for example "value 2 out of
// range 0..1".
QString validate(const CommandRequest& request);

// A new information object for the request (the caller destroys it), the select bit
// set as asked; null for a type this encoder does not build. now stamps time-tagged
// types that carry no time of their own, in UTC or local time as settings say, and is
// the time of sending a delay acquisition carries.
InformationObject createObject(const CommandRequest& request, bool select, const QDateTime& now,
                               const ProtocolSettings& settings);

// The normalized value's 16 bits as the standard has them: value x 2^15.
int normalizedValue(double value);
// Puts right in an ASDU built from createObject's object what lib60870 2.3.4 codes its
// own way: a normalized value (setpoints 48 and 61, parameter 110), which the library
// scales by 32767 or 32767.5 instead of 2^15, so that 0.5 left as 0x3FFF and -1 could not
// leave at all as a parameter.
void correctAsdu(CS101_ASDU asdu, const CommandRequest& request, int sizeOfIOA);

// A CP56Time2a for the instant: its calendar fields in UTC, or in local time with the
// summer-time bit.
void fillTime(sCP56Time2a& time, const QDateTime& instant, bool utc);

// Milliseconds within the minute (0 to 59999) of the instant, as a CP16Time2a of a delay
// acquisition carries them: the seconds and milliseconds are the same in UTC and local
// time.
int millisecondsInMinute(const QDateTime& instant);

} // namespace CommandEncoder

} // namespace iec101

#endif // IEC101_COMMANDENCODER_H
