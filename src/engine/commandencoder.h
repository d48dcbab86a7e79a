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

// Whether the engine sends this type at all (reads, interrogations and clock syncs
// included).
bool isSupported(int typeId);

// Empty when the request can be sent; otherwise why not, for example "value 2 out of
// range 0..1".
QString validate(const CommandRequest& request);

// A new information object for the request (the caller destroys it), the select bit
// set as asked; null for a type this encoder does not build. now stamps time-tagged
// types that carry no time of their own, in UTC or local time as settings say.
InformationObject createObject(const CommandRequest& request, bool select, const QDateTime& now,
                               const ProtocolSettings& settings);

// A CP56Time2a for the instant: its calendar fields in UTC, or in local time with the
// summer-time bit.
void fillTime(sCP56Time2a& time, const QDateTime& instant, bool utc);

} // namespace CommandEncoder

} // namespace iec101

#endif // IEC101_COMMANDENCODER_H
