// Resident memory of this process, for benchmarks that measure what their data costs.
#ifndef IEC101_RESIDENTMEMORY_H
#define IEC101_RESIDENTMEMORY_H

#include <QtGlobal>

// The resident set size in KiB (VmRSS of /proc/self/status), or -1 where there is none.
qint64 residentKiB();

#endif // IEC101_RESIDENTMEMORY_H
