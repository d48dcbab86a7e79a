#include "framebuilder.h"

namespace FrameBuilder {

namespace {

QByteArray linkAddress(int address, int size)
{
    return octets({address & 0xff, (address >> 8) & 0xff}).left(size);
}

char checksum(const QByteArray& data)
{
    int sum = 0;
    for (char c : data)
        sum += quint8(c);
    return char(sum & 0xff);
}

} // namespace

QByteArray octets(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

QByteArray fixed(int control, int address, int addressSize)
{
    const QByteArray body = char(control) + linkAddress(address, addressSize);
    return '\x10' + body + checksum(body) + '\x16';
}

QByteArray variable(int control, const QByteArray& asdu, int address, int addressSize)
{
    const QByteArray body = char(control) + linkAddress(address, addressSize) + asdu;
    const int length = body.size();
    return octets({0x68, length, length, 0x68}) + body + checksum(body) + '\x16';
}

QByteArray interrogation(int cause)
{
    return octets({100, 1, cause, 0, 1, 0, 0, 0, 0, 20});
}

QByteArray interrogatedPoints(int count)
{
    QByteArray asdu = octets({1, 0x80 | count, 20, 0, 1, 0, 0xE9, 0x03, 0});
    asdu.append(QByteArray(count, '\x01'));
    return asdu;
}

} // namespace FrameBuilder
