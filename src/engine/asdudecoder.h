#ifndef IEC101_ASDUDECODER_H
#define IEC101_ASDUDECODER_H

#include <QDateTime>
#include <QVector>

#include "infoobject.h"

#include <iec60870_common.h>

namespace iec101 {

// Turning received ASDUs into InfoObject records. Everything here must hold up
// against whatever a slave puts on the line: the library version we build on
// trusts the element count of an ASDU, so the count is checked against the
// payload before any element is read.

// The header of a received ASDU and the address of its first object, read without
// touching its elements.
struct AsduHeader
{
    int typeId = 0;
    int cause = 0; // without the P/N and test bits
    bool negative = false;
    bool test = false;
    int commonAddress = 0;
    int elementCount = 0;
    int firstObjectAddress = -1; // -1 when the payload holds no address
};

// Null for a null ASDU (user data shorter than a header).
bool readAsduHeader(CS101_ASDU asdu, int sizeOfIOA, AsduHeader& header);

// Size in octets of one information element of the given type, without its
// object address, or -1 for a type whose layout is variable or not decoded
// (file transfer, security extensions, reserved and private type ids).
int asduElementSize(int typeId);

// Milliseconds since the epoch of the calendar fields a CP24 tag stands for, read as
// UTC: the date and hour come from the master's clock (its local calendar fields),
// the previous hour when the tag's minute is ahead of the clock's.
qint64 completeCp24Time(CP24Time2a tag, const QDateTime& masterClock);

// Fills value, quality, extra and timestamp of an object already constructed from io.
// masterClock completes CP24 tags; a null one stands for the current local time.
void decodeInformationObject(InformationObject io, int typeId, InfoObject& object,
                             const QDateTime& masterClock = QDateTime());

// One record per element of the ASDU, in order. Returns an empty vector for a
// null ASDU, no elements, an unknown or variable-length type, an address size
// outside 1..3, or a payload shorter than the declared elements need; elements
// that the library cannot build are skipped. masterClock as above.
QVector<InfoObject> decodeAsdu(CS101_ASDU asdu, int sizeOfIOA, const QDateTime& masterClock = QDateTime());

} // namespace iec101

#endif // IEC101_ASDUDECODER_H
