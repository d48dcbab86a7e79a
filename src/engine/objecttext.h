#ifndef IEC101_OBJECTTEXT_H
#define IEC101_OBJECTTEXT_H

#include <QDateTime>
#include <QString>
#include <QVariant>

#include "infoobject.h"

// How a received object reads on screen and in exported files. The event log, the
// response tables and the command panel all take their texts from here, so an
// object reads the same wherever it appears.
namespace ObjectText {

// The object's value: measured values as doubles, everything else as integers,
// six significant digits ("%g"-like); an object without a value reads "0".
QString valueText(const InfoObject& object);

// Type name and number, for example "M_SP_TB_1 (30)".
QString typeText(int typeId);

// The calendar fields of a time tag exactly as the slave sent them, for a stamp
// that holds those fields read as UTC. Null stamps give a null date-time.
QDateTime slaveDateTime(const QVariant& timestamp);

// slaveDateTime() in Qt's text date format ("Fri Dec 6 06:30:39 2024"), or an
// empty string without a stamp.
QString timeText(const QVariant& timestamp);

} // namespace ObjectText

#endif // IEC101_OBJECTTEXT_H
