// The small system calls the line bus and the test kit's relay share: a serial device
// opened raw and non-blocking, and a monotonic clock in nanoseconds for pacing octets.
#ifndef IEC101_RAWDEVICE_H
#define IEC101_RAWDEVICE_H

#include <QString>

namespace RawDevice {

// The device opened read-write, non-blocking, without becoming the controlling terminal,
// in raw mode; -1 when it does not open.
int open(const QString& path);
long long nowNs();

} // namespace RawDevice

#endif // IEC101_RAWDEVICE_H
