#ifndef IEC101_USERDATADECODER_H
#define IEC101_USERDATADECODER_H

#include <QByteArray>
#include <QDateTime>
#include <QVector>

#include "asdudecoder.h"
#include "infoobject.h"
#include "protocolsettings.h"

namespace iec101 {

// The ASDU in the user data of a variable frame, taken apart with lib60870 for those who
// see frames rather than the library's callbacks (a listener on a tapped line, the
// findings): CS101_ASDU_createFromBuffer with the session's field sizes, then the same
// hardened decoding the engine uses.
class UserDataDecoder
{
public:
    explicit UserDataDecoder(const ProtocolSettings& protocol = ProtocolSettings());

    // False for user data that holds no ASDU header; objects may be empty (commands,
    // lying element counts).
    bool decode(const QByteArray& userData, AsduHeader* header, QVector<InfoObject>* objects,
                const QDateTime& masterClock = QDateTime()) const;

private:
    sCS101_AppLayerParameters parameters{};
};

} // namespace iec101

#endif // IEC101_USERDATADECODER_H
