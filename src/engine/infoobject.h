#ifndef IEC101_INFOOBJECT_H
#define IEC101_INFOOBJECT_H

#include <QMetaType>
#include <QVariant>
#include <QVector>

#include "iec101engine_export.h"

// Same handle type as lib60870's, declared here so that this header does not
// pull the library's headers into a host application.
typedef struct sInformationObject* InformationObject;

namespace iec101 {

// One decoded information object out of one received ASDU. ObjectText renders it.
//   value       the element's value: bool (single points), int (double points, step
//               positions, scaled values, counter readings, protection event states,
//               cause of initialisation), uint (bitstrings, packed protection events and
//               packed single points), float (normalized and short floating-point values).
//               int ms within the minute (a delay acquisition's confirmation).
//               Invalid when the element carries none (other command confirmations).
//   timestamp   milliseconds since the epoch of the slave's calendar fields read as UTC;
//               CP24 tags are completed with the master's date and hour.
//   spontaneous the slave sent it unasked: cause spontaneous, initialised or return information.
//   cause       cause of transmission of the carrying ASDU (without P/N and test bits):
//               3 spontaneous, 5 requested, 20 interrogated, 1 periodic, 2 background, ...
//   commonAddress, linkAddress  where it came from: the ASDU's common address and the
//               link address of the station that sent it.
//   receivedMs  when it reached the master: the PC's clock, ms since the epoch (0: unknown).
//   quality     the element's quality bits as sent (see QualityFlag).
//   extra       sequence number of a counter reading; 1 for a step position in transient
//               state; elapsed, relay or operating time in ms of protection events.
struct IEC101ENGINE_EXPORT InfoObject
{
    // Bits of `quality`. Points, measured values and bitstrings carry a QDS, protection
    // events a QDP (EI instead of OV); integrated totals the flags of their counter
    // reading, where 0x20 means carry and 0x40 adjusted.
    enum QualityFlag : quint8 {
        Overflow = 0x01,
        ElapsedTimeInvalid = 0x08,
        Blocked = 0x10,
        Substituted = 0x20,
        NotTopical = 0x40,
        Invalid = 0x80,
        Carry = 0x20,
        Adjusted = 0x40,
    };

    InfoObject() = default;
    // Takes the address from the library object and the type from its ASDU;
    // the other fields are filled by the decoder.
    InfoObject(InformationObject io, int typeId);

    int address = 0;
    int typeId = 0;
    QVariant value;
    QVariant timestamp;
    bool spontaneous = false;
    quint8 quality = 0;
    quint16 extra = 0;
    quint8 cause = 0;
    int commonAddress = 0;
    int linkAddress = 0;
    qint64 receivedMs = 0;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::InfoObject)
Q_DECLARE_METATYPE(QVector<iec101::InfoObject>)

#endif // IEC101_INFOOBJECT_H
