#ifndef IEC101_COMMAND_H
#define IEC101_COMMAND_H

#include <QMetaType>

namespace iec101 {

// Selects a command that the operator (or the engine itself) sends to the slave.
// Every command carries a QVector<int> of parameters:
//   Read {IOA}, Interrogation {QOI}, CounterInterrogation {QCC},
//   Single {IOA, 0 off | 1 on}, Double {IOA, 1 off | 2 on}, ClockSync {0 addressed | 1 broadcast}.
namespace Command {
enum CommandType {
    Read = 0,
    Interrogation = 1,
    CounterInterrogation = 2,
    Single = 3,
    Double = 4,
    ClockSync = 5
};
} // namespace Command

} // namespace iec101

Q_DECLARE_METATYPE(iec101::Command::CommandType)

#endif // IEC101_COMMAND_H
