#include "userdatadecoder.h"

namespace iec101 {

UserDataDecoder::UserDataDecoder(const ProtocolSettings& protocol)
{
    parameters.sizeOfTypeId = 1;
    parameters.sizeOfVSQ = 1;
    parameters.sizeOfCOT = protocol.causeOctets();
    parameters.originatorAddress = 0;
    parameters.sizeOfCA = protocol.commonAddressOctets();
    parameters.sizeOfIOA = protocol.objectAddressOctets();
    parameters.maxSizeOfASDU = 249;
}

bool UserDataDecoder::decode(const QByteArray& userData, AsduHeader* header, QVector<InfoObject>* objects,
                             const QDateTime& masterClock) const
{
    objects->clear();
    // The library keeps a pointer into the buffer and to the parameters while the ASDU lives;
    // both outlive it here. It refuses (null) user data shorter than a header.
    QByteArray copy = userData;
    CS101_ASDU asdu = CS101_ASDU_createFromBuffer(const_cast<sCS101_AppLayerParameters*>(&parameters),
                                                  reinterpret_cast<uint8_t*>(copy.data()), copy.size());
    if (!asdu)
        return false;
    const bool ok = readAsduHeader(asdu, parameters.sizeOfIOA, *header);
    if (ok)
        *objects = decodeAsdu(asdu, parameters.sizeOfIOA, masterClock);
    CS101_ASDU_destroy(asdu);
    return ok;
}

} // namespace iec101
