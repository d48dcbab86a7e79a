#include "framebuilder.h"

#include "ft12.h"

using namespace iec101;

namespace FrameBuilder {

QByteArray octets(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

QByteArray fixed(int control, int address, int addressSize)
{
    return Ft12::fixedFrame(quint8(control), address, addressSize);
}

QByteArray variable(int control, const QByteArray& asdu, int address, int addressSize)
{
    return Ft12::variableFrame(quint8(control), address, addressSize, asdu);
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
