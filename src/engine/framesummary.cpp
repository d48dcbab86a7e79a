#include "framesummary.h"

#include <QStringList>

#include <algorithm>

#include "asdudecoder.h"
#include "ft12.h"
#include "objecttext.h"
#include "protocolsettings.h"

namespace iec101 {

namespace {

const char* primaryFunctionName(int code)
{
    switch (code) {
    case 0:
        return "RESET_REMOTE_LINK";
    case 1:
        return "RESET_USER_PROCESS";
    case 2:
        return "TEST_LINK";
    case 3:
        return "USER_DATA_CONFIRMED";
    case 4:
        return "USER_DATA_NO_REPLY";
    case 8:
        return "REQUEST_ACCESS_DEMAND";
    case 9:
        return "REQUEST_LINK_STATUS";
    case 10:
        return "REQUEST_CLASS_1";
    case 11:
        return "REQUEST_CLASS_2";
    default:
        return "RESERVED";
    }
}

const char* secondaryFunctionName(int code)
{
    switch (code) {
    case 0:
        return "ACK";
    case 1:
        return "NACK";
    case 8:
        return "USER_DATA";
    case 9:
        return "NACK_NO_DATA";
    case 11:
        return "LINK_STATUS";
    case 14:
        return "LINK_NOT_FUNCTIONING";
    case 15:
        return "LINK_NOT_IMPLEMENTED";
    default:
        return "RESERVED";
    }
}

// Little-endian field of `size` octets at `at`; the caller has checked the bounds.
int field(const QByteArray& octets, int at, int size)
{
    int value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(octets.at(at + i));
    return value;
}

FrameSummary malformed(const QString& problem)
{
    FrameSummary summary;
    summary.problem = problem;
    return summary;
}

void readControl(FrameSummary& summary, quint8 control)
{
    summary.primary = control & 0x40;
    summary.functionCode = control & 0x0f;
    if (summary.primary) {
        summary.fcb = control & 0x20;
        summary.fcv = control & 0x10;
    } else {
        summary.acd = control & 0x20;
        summary.dfc = control & 0x10;
    }
}

// The ASDU in octets [from, from + size); false (and the reason) if it does not add up.
bool readAsdu(FrameSummary& s, const QByteArray& octets, int from, int size,
              const FrameSummary::Layout& layout)
{
    const int headerSize = 2 + layout.causeSize + layout.commonAddressSize;
    if (size < headerSize) {
        s.problem =
            QStringLiteral("ASDU of %1 octets is shorter than its header (%2)").arg(size).arg(headerSize);
        return false;
    }
    s.hasAsdu = true;
    s.typeId = quint8(octets.at(from));
    const quint8 vsq = quint8(octets.at(from + 1));
    s.sequence = vsq & 0x80;
    s.objectCount = vsq & 0x7f;
    const quint8 cot = quint8(octets.at(from + 2));
    s.cause = cot & 0x3f;
    s.negative = cot & 0x40;
    s.test = cot & 0x80;
    s.commonAddress = field(octets, from + 2 + layout.causeSize, layout.commonAddressSize);

    const int payload = size - headerSize;
    const int ioaSize = layout.objectAddressSize;
    if (s.objectCount == 0) {
        if (payload == 0)
            return true;
        s.problem = QStringLiteral("%1 octets after an ASDU of no objects").arg(payload);
        return false;
    }
    // Same rule as the decoder: the declared objects must fit the payload exactly
    // where the type's element size is known.
    const int elementSize = asduElementSize(s.typeId);
    if (elementSize >= 0) {
        const int needed =
            s.sequence ? ioaSize + s.objectCount * elementSize : s.objectCount * (ioaSize + elementSize);
        if (payload != needed) {
            s.problem = QStringLiteral("%1 objects of type %2 need %3 octets, the ASDU has %4")
                            .arg(s.objectCount)
                            .arg(s.typeId)
                            .arg(needed)
                            .arg(payload);
            return false;
        }
    } else if (payload < ioaSize) {
        s.problem = QStringLiteral("ASDU has no room for an object address");
        return false;
    }
    s.firstObjectAddress = field(octets, from + headerSize, ioaSize);
    return true;
}

QString faultText(Ft12::Fault fault, const QByteArray& octets, int linkSize)
{
    switch (fault) {
    case Ft12::Fault::None:
        break;
    case Ft12::Fault::Empty:
        return QStringLiteral("empty");
    case Ft12::Fault::UnknownStart:
        return QStringLiteral("unknown start character %1")
            .arg(QString::number(quint8(octets.at(0)), 16).toUpper());
    case Ft12::Fault::TrailingOctets:
        return QStringLiteral("%1 octets after the single character").arg(octets.size() - 1);
    case Ft12::Fault::FixedSize:
        return QStringLiteral("fixed frame of %1 octets, expected %2").arg(octets.size()).arg(4 + linkSize);
    case Ft12::Fault::TruncatedHeader:
        return QStringLiteral("truncated header");
    case Ft12::Fault::LengthsDiffer:
    case Ft12::Fault::NoSecondStart:
        return QStringLiteral("header octets do not match");
    case Ft12::Fault::VariableSize:
        return QStringLiteral("variable frame of %1 octets, its length says %2")
            .arg(octets.size())
            .arg(quint8(octets.at(1)) + 6);
    case Ft12::Fault::NoEnd:
        return QStringLiteral("no end character");
    case Ft12::Fault::BadChecksum:
        return QStringLiteral("bad checksum");
    case Ft12::Fault::LengthBelowAddress:
        return QStringLiteral("variable frame without user data");
    }
    return QString();
}

} // namespace

FrameSummary::Layout FrameSummary::Layout::fromSettings(const int* settings)
{
    const int* values = settings ? settings : kDefaultProtocolSettings.data();
    const auto clamp = [](int size, int low, int high) {
        return std::max(low, std::min(size, high));
    };
    Layout layout;
    layout.linkAddressSize = clamp(values[LinkAddressSize], 0, 2);
    layout.causeSize = clamp(values[CauseSize], 1, 2);
    layout.commonAddressSize = clamp(values[CommonAddressSize], 1, 2);
    layout.objectAddressSize = clamp(values[ObjectAddressSize], 1, 3);
    return layout;
}

FrameSummary FrameSummary::parse(const QByteArray& octets, const Layout& layout)
{
    const int linkSize = std::max(0, std::min(layout.linkAddressSize, 2));
    const Ft12::Parsed parsed = Ft12::parse(octets, linkSize);
    if (!parsed.ok())
        return malformed(faultText(parsed.fault, octets, linkSize));
    const Ft12::Frame& frame = parsed.frame;
    FrameSummary summary;
    switch (frame.kind) {
    case Ft12::Kind::SingleCharacter:
        summary.kind = Kind::SingleCharacter;
        return summary;
    case Ft12::Kind::Fixed:
        summary.kind = Kind::Fixed;
        break;
    case Ft12::Kind::Variable:
        if (frame.userData.isEmpty())
            return malformed(QStringLiteral("variable frame without user data"));
        summary.kind = Kind::Variable;
        break;
    }
    readControl(summary, frame.control);
    summary.linkAddress = frame.linkAddress;
    if (summary.kind == Kind::Variable &&
        !readAsdu(summary, frame.userData, 0, int(frame.userData.size()), layout))
        return malformed(summary.problem);
    return summary;
}

QString FrameSummary::hexText(const QByteArray& octets)
{
    return QString::fromLatin1(octets.toHex(' ').toUpper());
}

bool FrameSummary::isNoDataAnswer() const
{
    return kind == Kind::SingleCharacter || (kind == Kind::Fixed && !primary && functionCode == 9);
}

QString FrameSummary::text() const
{
    switch (kind) {
    case Kind::Malformed:
        return QStringLiteral("malformed: ") + problem;
    case Kind::SingleCharacter:
        return QStringLiteral("single character E5 (ACK)");
    case Kind::Fixed:
    case Kind::Variable:
        break;
    }
    QString line = QStringLiteral("%1, %2, %3 (%4), ")
                       .arg(kind == Kind::Fixed ? QLatin1String("fixed") : QLatin1String("variable"),
                            primary ? QLatin1String("PRM") : QLatin1String("SEC"),
                            QLatin1String(primary ? primaryFunctionName(functionCode)
                                                  : secondaryFunctionName(functionCode)))
                       .arg(functionCode);
    line += primary ? QStringLiteral("FCB=%1 FCV=%2").arg(int(fcb)).arg(int(fcv))
                    : QStringLiteral("ACD=%1 DFC=%2").arg(int(acd)).arg(int(dfc));
    line += QStringLiteral(", link %1").arg(linkAddress);
    if (!hasAsdu)
        return line;
    line += QStringLiteral("; %1, %2 (%3), P/N=%4 T=%5, CA %6")
                .arg(ObjectText::typeText(typeId),
                     QLatin1String(CS101_CauseOfTransmission_toString(CS101_CauseOfTransmission(cause))))
                .arg(cause)
                .arg(int(negative))
                .arg(int(test))
                .arg(commonAddress);
    if (firstObjectAddress >= 0)
        line += QStringLiteral(", IOA %1").arg(firstObjectAddress);
    line += objectCount == 1 ? QStringLiteral(", 1 object") : QStringLiteral(", %1 objects").arg(objectCount);
    return line;
}

} // namespace iec101
