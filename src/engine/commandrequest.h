#ifndef IEC101_COMMANDREQUEST_H
#define IEC101_COMMANDREQUEST_H

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVector>

#include "command.h"
#include "iec101engine_export.h"

namespace iec101 {

// One command for the station, as the operator, a script or the engine itself asks for
// it. The type is the IEC 60870-5-101 type identification of the control-direction
// ASDU (45 C_SC_NA_1, 100 C_IC_NA_1, 102 C_RD_NA_1, 103 C_CS_NA_1, ...).
//   value      single command: bool; double command: 1 off, 2 on; others by type
//              (a setpoint's number, a bitstring's 32 bits, a step direction 1 lower,
//              2 higher)
//   qualifier  QU of commands and QL of setpoints, QOI of an interrogation, QCC of a
//              counter interrogation, QRP, QPA or KPA as the type has it
//   timeTag    for the time-tagged types: the time to send; null: stamped at sending
struct IEC101ENGINE_EXPORT CommandRequest
{
    enum class Execution {
        Direct,              // one activation
        SelectBeforeExecute, // select, and the execute once the select is confirmed
        SelectOnly,          // the select alone; the object stays selected
        Deactivate,          // cause 8: cancels a select
    };
    enum class Origin {
        Operator,  // asked for from outside the engine
        Automatic, // the engine's own: the interrogations after the link comes up
    };
    // The common address and link address of the station in the settings.
    static constexpr int kOwnAddress = -1;

    int typeId = 0;
    int commonAddress = kOwnAddress;
    int linkAddress = kOwnAddress;
    int objectAddress = 0;
    QVariant value;
    int qualifier = 0;
    Execution execution = Execution::Direct;
    QDateTime timeTag;
    bool broadcast = false; // clock sync to every station
    // Clock sync: the time it carries is ahead by the line delay the last delay
    // acquisition (C_CD_NA_1) measured for the station, so that the station's clock
    // reads right when the frame arrives. Without a measurement it changes nothing.
    bool addMeasuredDelay = false;
    Origin origin = Origin::Operator;
    // Chosen by the sender to tell its answers apart; the engine numbers requests that
    // come without one.
    quint64 id = 0;

    // Any type with its fields; the others below are this for their type.
    static CommandRequest of(int typeId, int objectAddress, const QVariant& value = QVariant(),
                             Execution execution = Execution::Direct, int qualifier = 0);
    static CommandRequest read(int objectAddress);
    static CommandRequest interrogation(int qoi = 20);
    static CommandRequest counterInterrogation(int qcc = 5);
    static CommandRequest clockSync(bool broadcast = false);
    static CommandRequest singleCommand(int objectAddress, bool on,
                                        Execution execution = Execution::SelectBeforeExecute, int qu = 0);
    static CommandRequest doubleCommand(int objectAddress, int state,
                                        Execution execution = Execution::SelectBeforeExecute, int qu = 0);

    // The command of the original interface: a command type and its ints (Read {IOA},
    // Single {IOA, 0|1} with select before execute, ...). False for an empty list.
    static bool fromCommand(Command::CommandType type, const QVector<int>& values, CommandRequest* request);
    // The original interface's command type for this request, if it has one.
    bool commandType(Command::CommandType* type) const;

    bool isInterrogation() const;
    // Whether the station ends a confirmed activation with a termination (cause 10).
    bool expectsTermination() const;
    // Whether the type carries a CP56Time2a tag.
    bool isTimeTagged() const;
    // "C_SC_NA_1 2949121 1 select", "C_IC_NA_1 qoi=20": the type and what goes with it.
    QString text() const;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::CommandRequest)

#endif // IEC101_COMMANDREQUEST_H
