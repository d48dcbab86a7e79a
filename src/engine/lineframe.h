#ifndef IEC101_LINEFRAME_H
#define IEC101_LINEFRAME_H

#include <QByteArray>
#include <QMetaType>
#include <QVector>

namespace iec101 {

// One frame as it crossed the serial line, in either direction, exactly as the link
// layer sent or received it (corrupted frames included), with the wall-clock time it
// was handed over. The engine collects these for the line monitor and the capture file.
struct LineFrame
{
    qint64 timeUs = 0; // microseconds since the epoch (UTC)
    bool sent = false; // true: master to slave; false: slave to master
    QByteArray octets;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::LineFrame)
Q_DECLARE_METATYPE(QVector<iec101::LineFrame>)

#endif // IEC101_LINEFRAME_H
