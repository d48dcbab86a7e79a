#include "ft12.h"

#include <algorithm>

namespace iec101 {

namespace {

int clampedAddressSize(int size)
{
    return std::clamp(size, 0, 2);
}

quint8 checksum(const char* data, int size)
{
    quint8 sum = 0;
    for (int i = 0; i < size; ++i)
        sum = quint8(sum + quint8(data[i]));
    return sum;
}

int littleEndian(const char* data, int size)
{
    int value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(data[i]);
    return value;
}

void appendAddress(QByteArray& frame, int address, int size)
{
    for (int i = 0; i < size; ++i)
        frame.append(char((address >> (8 * i)) & 0xff));
}

// What is wrong with [data, data + size) taken as exactly one frame.
Ft12::Fault check(const char* data, int size, int linkSize)
{
    if (size == 0)
        return Ft12::Fault::Empty;
    const quint8 start = quint8(data[0]);
    if (start == Ft12::kSingleCharacter)
        return size == 1 ? Ft12::Fault::None : Ft12::Fault::TrailingOctets;
    // Control field, link address and user data: what the checksum covers.
    const char* body = nullptr;
    int bodySize = 0;
    if (start == Ft12::kFixedStart) {
        if (size != 4 + linkSize)
            return Ft12::Fault::FixedSize;
        body = data + 1;
        bodySize = 1 + linkSize;
    } else if (start == Ft12::kVariableStart) {
        if (size < 4)
            return Ft12::Fault::TruncatedHeader;
        const int length = quint8(data[1]);
        if (quint8(data[2]) != length)
            return Ft12::Fault::LengthsDiffer;
        if (quint8(data[3]) != Ft12::kVariableStart)
            return Ft12::Fault::NoSecondStart;
        if (size != length + 6)
            return Ft12::Fault::VariableSize;
        body = data + 4;
        bodySize = length;
    } else {
        return Ft12::Fault::UnknownStart;
    }
    if (quint8(data[size - 1]) != Ft12::kEnd)
        return Ft12::Fault::NoEnd;
    if (checksum(body, bodySize) != quint8(data[size - 2]))
        return Ft12::Fault::BadChecksum;
    if (bodySize < 1 + linkSize)
        return Ft12::Fault::LengthBelowAddress;
    return Ft12::Fault::None;
}

// Size of the frame that would start at data[0]: 0 if none can start there, -1 if the
// octets available do not tell yet. A variable header that does not add up rules the
// start out at once, so garbage never holds up the search for long.
int candidateSize(const char* data, int available, int linkSize)
{
    switch (quint8(data[0])) {
    case Ft12::kSingleCharacter:
        return 1;
    case Ft12::kFixedStart:
        return 4 + linkSize;
    case Ft12::kVariableStart: {
        if (available < 4)
            return -1;
        const int length = quint8(data[1]);
        if (quint8(data[2]) != length || quint8(data[3]) != Ft12::kVariableStart || length < 1 + linkSize)
            return 0;
        return length + 6;
    }
    default:
        return 0;
    }
}

} // namespace

QByteArray Ft12::fixedFrame(quint8 control, int linkAddress, int linkAddressSize)
{
    const int addressSize = clampedAddressSize(linkAddressSize);
    QByteArray frame;
    frame.reserve(4 + addressSize);
    frame.append(char(kFixedStart));
    frame.append(char(control));
    appendAddress(frame, linkAddress, addressSize);
    frame.append(char(checksum(frame.constData() + 1, 1 + addressSize)));
    frame.append(char(kEnd));
    return frame;
}

QByteArray Ft12::variableFrame(quint8 control, int linkAddress, int linkAddressSize,
                               const QByteArray& userData)
{
    const int addressSize = clampedAddressSize(linkAddressSize);
    if (userData.size() > maxUserDataSize(addressSize))
        return QByteArray();
    const int length = 1 + addressSize + int(userData.size());
    QByteArray frame;
    frame.reserve(length + 6);
    frame.append(char(kVariableStart));
    frame.append(char(length));
    frame.append(char(length));
    frame.append(char(kVariableStart));
    frame.append(char(control));
    appendAddress(frame, linkAddress, addressSize);
    frame.append(userData);
    frame.append(char(checksum(frame.constData() + 4, length)));
    frame.append(char(kEnd));
    return frame;
}

int Ft12::maxUserDataSize(int linkAddressSize)
{
    return 255 - 1 - clampedAddressSize(linkAddressSize);
}

Ft12::Parsed Ft12::parse(const QByteArray& octets, int linkAddressSize)
{
    const int addressSize = clampedAddressSize(linkAddressSize);
    const char* data = octets.constData();
    Parsed parsed;
    parsed.fault = check(data, int(octets.size()), addressSize);
    if (!parsed.ok())
        return parsed;
    Frame& frame = parsed.frame;
    switch (quint8(data[0])) {
    case kFixedStart:
        frame.kind = Kind::Fixed;
        frame.control = quint8(data[1]);
        frame.linkAddress = littleEndian(data + 2, addressSize);
        break;
    case kVariableStart:
        frame.kind = Kind::Variable;
        frame.control = quint8(data[4]);
        frame.linkAddress = littleEndian(data + 5, addressSize);
        frame.userData = octets.mid(5 + addressSize, quint8(data[1]) - 1 - addressSize);
        break;
    default:
        frame.kind = Kind::SingleCharacter;
        break;
    }
    return parsed;
}

Ft12::Reassembler::Reassembler(int linkAddressSize) : linkAddressSize(clampedAddressSize(linkAddressSize)) {}

QVector<QByteArray> Ft12::Reassembler::feed(const char* data, int size)
{
    QVector<QByteArray> frames;
    if (size <= 0)
        return frames;
    buffer.append(data, size);
    const char* octets = buffer.constData();
    const int total = int(buffer.size());
    int pos = 0;
    while (pos < total) {
        const int available = total - pos;
        const int frameSize = candidateSize(octets + pos, available, linkAddressSize);
        if (frameSize < 0 || frameSize > available)
            break;
        if (frameSize > 0 && check(octets + pos, frameSize, linkAddressSize) == Fault::None) {
            frames.append(QByteArray(octets + pos, frameSize));
            pos += frameSize;
        } else {
            // One octet only: a real frame may start inside a damaged one.
            ++dropped;
            ++pos;
        }
    }
    buffer.remove(0, pos);
    return frames;
}

void Ft12::Reassembler::discardPending()
{
    dropped += buffer.size();
    buffer.clear();
}

} // namespace iec101
