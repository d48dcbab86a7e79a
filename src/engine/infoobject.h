#ifndef IEC101_INFOOBJECT_H
#define IEC101_INFOOBJECT_H

#include <QMetaType>
#include <QVariant>
#include <QVector>

#include "iec101view_export.h"

// Same handle type as lib60870's, declared here so that this header does not
// pull the library's headers into a host application.
typedef struct sInformationObject* InformationObject;

// One decoded information object out of one received ASDU.
// An invalid `value` marks a command confirmation rather than process data;
// `timestamp` is milliseconds since the epoch of the slave's calendar fields read as UTC.
struct IEC101VIEW_EXPORT InfoObject
{
    InfoObject() = default;
    // Takes the address from the library object and the type from its ASDU;
    // value, timestamp and spontaneous are filled by the decoder.
    InfoObject(InformationObject io, int typeId);

    int address = 0;
    int typeId = 0;
    QVariant value;
    QVariant timestamp;
    bool spontaneous = false;
};

Q_DECLARE_METATYPE(InfoObject)
Q_DECLARE_METATYPE(QVector<InfoObject>)

#endif // IEC101_INFOOBJECT_H
