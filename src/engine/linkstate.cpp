#include "linkstate.h"

namespace iec101 {

QString linkStateName(LinkState state)
{
    switch (state) {
    case LinkState::Disconnected:
        return QStringLiteral("disconnected");
    case LinkState::Connecting:
        return QStringLiteral("connecting");
    case LinkState::Available:
        return QStringLiteral("available");
    case LinkState::Busy:
        return QStringLiteral("busy");
    case LinkState::Error:
        break;
    }
    return QStringLiteral("error");
}

} // namespace iec101
