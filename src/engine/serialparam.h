#ifndef IEC101_SERIALPARAM_H
#define IEC101_SERIALPARAM_H

#include <QMetaType>
#include <QObject>
#include <QString>

#include "iec101engine_export.h"

namespace iec101 {

// The serial line settings handed to the engine on connect. A QObject for the
// meta-object system, but copied by value: a copy has no parent and no connections.
// The numeric fields hold values of the engine's BaudRate, DataBits, Parity
// (an ASCII letter) and StopBits enumerations.
class IEC101ENGINE_EXPORT SerialParam : public QObject
{
    Q_OBJECT
public:
    explicit SerialParam(QObject* parent = nullptr);
    SerialParam(const SerialParam& other);
    SerialParam& operator=(const SerialParam& other);
    ~SerialParam() override;

    QString portName;
    qint32 baudRate = 0;
    qint32 dataBits = 0;
    qint32 parity = 0;
    qint32 stopBits = 0;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::SerialParam)

#endif // IEC101_SERIALPARAM_H
