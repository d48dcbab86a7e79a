#ifndef IEC101_SERIALSETTINGS_H
#define IEC101_SERIALSETTINGS_H

#include <QMetaType>
#include <QString>

#include "iec101engine_export.h"

namespace iec101 {

class SerialParam;

// The serial line the engine opens: a port name as the system lists it (ttyUSB0,
// COM12) or an absolute device path, and the character format.
struct IEC101ENGINE_EXPORT SerialSettings
{
    QString portName;
    int baudRate = 9600;
    int dataBits = 8;
    char parity = 'E'; // 'E', 'O' or 'N'
    int stopBits = 1;

    static SerialSettings fromParam(const SerialParam& param);
    // Bits on the line per character: start, data, parity, stop.
    int bitsPerCharacter() const;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::SerialSettings)

#endif // IEC101_SERIALSETTINGS_H
