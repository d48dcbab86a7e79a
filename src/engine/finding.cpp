#include "finding.h"

namespace iec101 {

QString Finding::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Missing:
        return QStringLiteral("missing");
    case Kind::Unexpected:
        return QStringLiteral("unexpected");
    case Kind::Type:
        return QStringLiteral("type");
    case Kind::Range:
        return QStringLiteral("range");
    case Kind::Quality:
        return QStringLiteral("quality");
    case Kind::Refused:
        return QStringLiteral("refused");
    case Kind::NoTermination:
        return QStringLiteral("no-termination");
    case Kind::Timeout:
        return QStringLiteral("timeout");
    case Kind::CommonAddress:
        return QStringLiteral("ca");
    case Kind::Repeat:
        return QStringLiteral("repeat");
    case Kind::Busy:
        return QStringLiteral("busy");
    case Kind::LinkReset:
        return QStringLiteral("link-reset");
    }
    return QString();
}

QString Finding::kindTitle(Kind kind)
{
    switch (kind) {
    case Kind::Missing:
        return QStringLiteral("Missing");
    case Kind::Unexpected:
        return QStringLiteral("Not listed");
    case Kind::Type:
        return QStringLiteral("Wrong type");
    case Kind::Range:
        return QStringLiteral("Out of range");
    case Kind::Quality:
        return QStringLiteral("Quality");
    case Kind::Refused:
        return QStringLiteral("Refused");
    case Kind::NoTermination:
        return QStringLiteral("No termination");
    case Kind::Timeout:
        return QStringLiteral("Timed out");
    case Kind::CommonAddress:
        return QStringLiteral("Common address");
    case Kind::Repeat:
        return QStringLiteral("Repeat");
    case Kind::Busy:
        return QStringLiteral("Busy");
    case Kind::LinkReset:
        return QStringLiteral("Link reset");
    }
    return QString();
}

} // namespace iec101
