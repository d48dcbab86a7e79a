#ifndef IEC101_ASDUDECODER_H
#define IEC101_ASDUDECODER_H

#include <QVector>

#include "infoobject.h"

#include <iec60870_common.h>

// Turning received ASDUs into InfoObject records. Everything here must hold up
// against whatever a slave puts on the line: the library version we build on
// trusts the element count of an ASDU, so the count is checked against the
// payload before any element is read.

// Size in octets of one information element of the given type, without its
// object address, or -1 for a type whose layout is variable or not decoded
// (file transfer, security extensions, reserved and private type ids).
int asduElementSize(int typeId);

// Fills value and timestamp of an object already constructed from io.
void decodeInformationObject(InformationObject io, int typeId, InfoObject& object);

// One record per element of the ASDU, in order. Returns an empty vector for a
// null ASDU, no elements, an unknown or variable-length type, an address size
// outside 1..3, or a payload shorter than the declared elements need; elements
// that the library cannot build are skipped.
QVector<InfoObject> decodeAsdu(CS101_ASDU asdu, int sizeOfIOA);

#endif // IEC101_ASDUDECODER_H
