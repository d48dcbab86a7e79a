#include "asdumutator.h"

#include <iterator>

namespace {

struct Layout
{
    int typeId;
    int elementSize; // octets after the object address
};

// The types the master turns into values, with their element sizes.
constexpr Layout layouts[] = {
    {1, 1}, {3, 1}, {13, 5}, {15, 5}, {30, 8}, {31, 8}, {36, 12}, {37, 12},
};

constexpr int headerSize = 6;
constexpr int ioaSize = 3;

} // namespace

AsduMutator::AsduMutator(quint32 seed) : rng(seed) {}

QByteArray AsduMutator::valid()
{
    const Layout& layout = layouts[bounded(int(std::size(layouts)))];
    const bool sequence = bounded(2) == 1;
    const int perElement = sequence ? layout.elementSize : ioaSize + layout.elementSize;
    const int room = (kMaxSize - headerSize - (sequence ? ioaSize : 0)) / perElement;
    const int count = 1 + bounded(qMin(room, 20));

    QByteArray asdu;
    asdu.append(char(layout.typeId));
    asdu.append(char((sequence ? 0x80 : 0) | count));
    asdu.append(char(bounded(2) ? 3 : 20)); // spontaneous or interrogated
    asdu.append(char(0));                   // originator
    asdu.append(char(1));                   // common address 1
    asdu.append(char(0));
    int address = 1001 + bounded(5000);
    for (int i = 0; i < count; ++i) {
        if (!sequence || i == 0) {
            asdu.append(char(address & 0xff));
            asdu.append(char((address >> 8) & 0xff));
            asdu.append(char((address >> 16) & 0xff));
            address += 1;
        }
        for (int j = 0; j < layout.elementSize; ++j)
            asdu.append(char(bounded(256)));
    }
    return asdu;
}

QByteArray AsduMutator::next()
{
    QByteArray asdu = valid();
    if (bounded(8) == 0) {
        ++validCount;
        return asdu;
    }
    const int mutations = 1 + bounded(3);
    for (int i = 0; i < mutations; ++i)
        mutate(asdu, Mutation(bounded(MutationCount)));
    return asdu.left(kMaxSize);
}

void AsduMutator::mutate(QByteArray& asdu, Mutation mutation)
{
    ++applied[mutation];
    switch (mutation) {
    case TypeId:
        if (!asdu.isEmpty())
            asdu[0] = char(bounded(256));
        break;
    case Vsq:
        if (asdu.size() > 1)
            asdu[1] = char(bounded(256));
        break;
    case ZeroElements:
        if (asdu.size() > 1)
            asdu[1] = char(asdu.at(1) & 0x80);
        break;
    case OverCount:
        if (asdu.size() > 1)
            asdu[1] = char((asdu.at(1) & 0x80) | qMin(127, (asdu.at(1) & 0x7f) + 1 + bounded(127)));
        break;
    case Truncate:
        asdu.truncate(bounded(asdu.size() + 1));
        break;
    case Pad: {
        const int extra = 1 + bounded(40);
        for (int i = 0; i < extra; ++i)
            asdu.append(char(bounded(256)));
        break;
    }
    case Cause:
        // Any cause, with or without the negative and test bits.
        if (asdu.size() > 2)
            asdu[2] = char(bounded(256));
        break;
    case FlipBytes:
        for (int i = bounded(4); i >= 0 && !asdu.isEmpty(); --i)
            asdu[bounded(asdu.size())] = char(bounded(256));
        break;
    case MutationCount:
        break;
    }
}

QStringList AsduMutator::statistics() const
{
    static const char* const names[] = {"type",     "vsq", "zero",  "overcount",
                                        "truncate", "pad", "cause", "flip"};
    QStringList parts;
    for (int i = 0; i < MutationCount; ++i)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(names[i])).arg(applied[i]);
    parts << QStringLiteral("unmutated=%1").arg(validCount);
    return parts;
}
