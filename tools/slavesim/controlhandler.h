#ifndef IEC101_SLAVESIM_CONTROLHANDLER_H
#define IEC101_SLAVESIM_CONTROLHANDLER_H

#include <map>
#include <utility>

#include "lib60870ptr.h"
#include "outbox.h"
#include "slavesim.h"

namespace slavesim {

// Addresses the simulated station serves besides the station address plan: each control
// object n reports its state back on the measured point (n + kFeedbackOffset).
namespace ioa {
constexpr int kFirstSetpoint = 6001; // setpoints of any format (C_SE_*), as M_ME_* of that format
constexpr int kSetpointCount = 4;
constexpr int kFirstStepCommand = 7001; // regulating step commands (C_RC_*), as step positions
constexpr int kStepCommandCount = 2;
constexpr int kFirstBitstringCommand = 8001; // bitstring commands (C_BO_*), as bitstrings
constexpr int kBitstringCommandCount = 2;
constexpr int kFeedbackOffset = 100;
} // namespace ioa

// How the simulated station answers the control types beyond single and double commands:
// regulating step commands, setpoints, bitstrings (each with or without time tag), the
// reset of the process, the delay acquisition and the parameters of measured values (the
// test command never gets here: lib60870's slave confirms it itself). A setpoint's value, a step position and
// a bitstring are kept and reported back as monitored values (spontaneous); parameters are accepted for the
// measured values (4001..) and the setpoints' report points.
// Not thread-safe: SlaveSim calls it through CommandHandler with its mutex held.
class ControlHandler
{
public:
    // What the command handler decided for the ASDU at hand.
    struct Policy
    {
        bool negative = false;         // every command refused (CommandMode::Negative)
        bool refused = false;          // its address is one of the refused ones
        bool terminate = true;         // executed commands are terminated (cause 10)
        bool requireSelect = false;    // an execute without a select is refused
        bool answerSelectOnly = false; // executes are ignored (CommandMode::AnswerSelectOnly)
    };

    ControlHandler(const Config& stationConfig, Outbox& stationOutbox);

    // Whether this handler serves the type.
    static bool handles(int typeId);
    // Fills what the element carries into the record: value, select bit, qualifier, time
    // tag, for every control type (single and double commands included).
    static void decode(InformationObject io, ReceivedAsdu& r);

    void handle(CS101_ASDU asdu, const ReceivedAsdu& r, const Policy& policy);

    // A report point's kept value as a new object (a Read answers with it); null for an
    // address that has none yet.
    IoPtr report(int address) const;

private:
    bool isParameterAddress(int address) const;
    void execute(CS101_ASDU asdu, const ReceivedAsdu& r, const Policy& policy);
    void delayAcquisition(const ReceivedAsdu& r);
    void reportBack(int type, int address, double value);

    const Config& config;
    Outbox& outbox;
    std::map<int, double> selections;              // command address -> selected value
    std::map<int, std::pair<int, double>> reports; // report point -> its type and value
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_CONTROLHANDLER_H
