
namespace iec101 {
#ifndef IEC101_OBJECTKIND_H
#define IEC101_OBJECTKIND_H

// What a received type is to the master: data for one of the response tables, data
// for the event log only, or a command or system type that answers a command. The
// engine, the view and the tables all decide by these lists.
namespace ObjectKind {

enum Kind {
    Command,         // command and system types: confirmations and terminations
    SinglePoint,     // 1, 2, 30
    DoublePoint,     // 3, 4, 31
    Measured,        // step positions, bitstrings, normalized, scaled and short floats
    IntegratedTotal, // 15, 16, 37
    EventOnly,       // protection events, packed single points, end of initialisation
};

Kind kindOf(int typeId);

// Process data in monitor direction (types 1 to 44) and the end of initialisation (70):
// data, whatever the cause of transmission, never a step of a command.
bool isMonitoring(int typeId);

} // namespace ObjectKind

} // namespace iec101

#endif // IEC101_OBJECTKIND_H
