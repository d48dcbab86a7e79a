#ifndef IEC101_METATYPES_H
#define IEC101_METATYPES_H

namespace iec101 {

// Registers, under the names the queued signals between view and engine use, every
// type that crosses the thread boundary. Safe to call more than once.
void registerMetaTypes();

} // namespace iec101

#endif // IEC101_METATYPES_H
