// Fuzz entry point for the ASDU decoder: the bytes become one received ASDU, as the
// library would build it from a frame's user data, and go through decodeAsdu.
//
// The first octet chooses the application-layer field sizes, so that every layout
// the settings dialog allows (and a size of 0 it should never let through) is
// exercised: bits 0-1 object address size 0..3, bit 2 common address size 1 or 2,
// bit 3 cause size 1 or 2.
// The rest is the ASDU. Built with libFuzzer by scripts/fuzz; the corpus replay
// test calls the same function.

#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "asdudecoder.h"
#include "objecttext.h"

#include <cs101_information_objects.h>

using namespace iec101;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 512)
        return 0;
    const uint8_t layout = data[0];

    sCS101_AppLayerParameters parameters{};
    parameters.sizeOfTypeId = 1;
    parameters.sizeOfVSQ = 1;
    parameters.sizeOfIOA = layout & 0x03;
    parameters.sizeOfCA = (layout & 0x04) ? 2 : 1;
    parameters.sizeOfCOT = (layout & 0x08) ? 2 : 1;
    parameters.originatorAddress = 0;
    parameters.maxSizeOfASDU = 249;

    // The library keeps a pointer to the buffer and may write into it; give it its own copy.
    QByteArray buffer(reinterpret_cast<const char*>(data + 1), int(size - 1));
    CS101_ASDU asdu =
        CS101_ASDU_createFromBuffer(&parameters, reinterpret_cast<uint8_t*>(buffer.data()), buffer.size());
    const QVector<InfoObject> objects = decodeAsdu(asdu, parameters.sizeOfIOA);
    // Touch every field and render the texts the operator would see, so that reading
    // garbage anywhere shows under the sanitizers.
    volatile quint64 sink = 0;
    for (const InfoObject& object : objects)
        sink += quint64(object.address) + quint64(object.typeId) + object.value.toULongLong() +
                object.timestamp.toULongLong() + object.spontaneous + object.quality + object.extra +
                quint64(ObjectText::valueText(object).size() + ObjectText::timeText(object.timestamp).size());
    (void)sink;
    if (asdu)
        CS101_ASDU_destroy(asdu);
    return 0;
}
