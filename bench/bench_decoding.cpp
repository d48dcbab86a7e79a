// ASDUs per second through the receive path: the ASDU built from a frame's user data
// (as lib60870 does before calling the handler) and turned into InfoObject records by
// decodeAsdu. One line per kind of ASDU.

#include <QByteArray>
#include <QElapsedTimer>
#include <QVector>

#include <cstdio>

#include "asdudecoder.h"

#include <cs101_information_objects.h>

using namespace iec101;

namespace {

constexpr int headerSize = 6; // type, VSQ, cause, originator, common address (2)

QByteArray makeAsdu(int typeId, int cause, int count, bool sequence, int elementSize)
{
    QByteArray asdu;
    asdu.append(char(typeId));
    asdu.append(char((sequence ? 0x80 : 0) | count));
    asdu.append(char(cause));
    asdu.append(char(0));
    asdu.append(char(1));
    asdu.append(char(0));
    for (int i = 0; i < count; ++i) {
        if (!sequence || i == 0) {
            const int address = 1001 + i;
            asdu.append(char(address & 0xff));
            asdu.append(char((address >> 8) & 0xff));
            asdu.append(char(0));
        }
        QByteArray element(elementSize, char(0));
        element[0] = char(i & 1);
        if (elementSize >= 12) { // value + quality + CP56Time2a: a valid time tag
            const char time[7] = {0x10, 0x27, 30, 10, 0x21, 4, 26};
            element.replace(elementSize - 7, 7, time, 7);
        }
        asdu.append(element);
    }
    return asdu;
}

void measure(const char* name, QByteArray asdu)
{
    sCS101_AppLayerParameters parameters{1, 1, 2, 0, 2, 3, 249};
    QElapsedTimer clock;
    clock.start();
    long asdus = 0;
    long objects = 0;
    while (clock.elapsed() < 1000) {
        for (int i = 0; i < 1000; ++i) {
            CS101_ASDU parsed = CS101_ASDU_createFromBuffer(
                &parameters, reinterpret_cast<uint8_t*>(asdu.data()), asdu.size());
            objects += decodeAsdu(parsed, parameters.sizeOfIOA).size();
            CS101_ASDU_destroy(parsed);
        }
        asdus += 1000;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("%-44s %4d octets  %10.0f ASDUs/s  %11.0f objects/s\n", name, int(asdu.size()),
                asdus / seconds, objects / seconds);
}

} // namespace

int main()
{
    std::printf("decodeAsdu, each kind for 1 s (ASDU built from the octets + decoded + freed)\n");
    measure("M_DP_TB_1, 1 spontaneous event", makeAsdu(31, 3, 1, false, 8));
    measure("M_SP_NA_1, 60 interrogated, SQ=0", makeAsdu(1, 20, 60, false, 1));
    measure("M_SP_NA_1, 127 interrogated, SQ=1", makeAsdu(1, 20, 127, true, 1));
    measure("M_ME_NC_1, 30 interrogated, SQ=0", makeAsdu(13, 20, 30, false, 5));
    measure("M_ME_TF_1, 16 spontaneous, SQ=0", makeAsdu(36, 3, 16, false, 12));
    // CP24 tags take the date and hour from the clock, read once per ASDU.
    measure("M_ME_TB_1 (scaled, CP24), 26 spontaneous, SQ=0", makeAsdu(12, 3, 26, false, 6));
    measure("M_SP_NA_1 over-count (rejected before decoding)",
            makeAsdu(1, 3, 1, true, 1).replace(1, 1, QByteArray(1, char(0x80 | 100))));
    return 0;
}
