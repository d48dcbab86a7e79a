#ifndef IEC101_LINKSTATE_H
#define IEC101_LINKSTATE_H

#include <QMetaType>
#include <QString>

#include "iec101engine_export.h"

namespace iec101 {

// Where the link to a station stands, as the engine reports it.
enum class LinkState {
    Disconnected, // no port open
    Connecting,   // port open, the link not (yet) established
    Available,    // the station answers; commands go out
    Busy,         // the station said it cannot take more (DFC); the engine backs off
    Error,        // the station stopped answering; the library keeps trying
};

// "disconnected", "connecting", "available", "busy", "error": the words the
// command-line master writes.
IEC101ENGINE_EXPORT QString linkStateName(LinkState state);

} // namespace iec101

Q_DECLARE_METATYPE(iec101::LinkState)

#endif // IEC101_LINKSTATE_H
