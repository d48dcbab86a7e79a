#ifndef IEC101_SLAVESIM_OUTBOX_H
#define IEC101_SLAVESIM_OUTBOX_H

// hal_serial.h must come first: the slave header uses SerialPort.
#include <hal_serial.h>

#include <cs101_slave.h>

#include <QString>

#include "lib60870ptr.h"
#include "slavesim.h"

namespace slavesim {

// What the simulated station sends through lib60870: ASDUs in its own layout, queued as
// class 1 data (answers and events) or class 2 data (periodic values), with a log line
// each. Nothing is sent while the line is closed (no library slave).
// Not thread-safe: SlaveSim calls it with its mutex held.
class Outbox
{
public:
    // log is SlaveSim's handler, which may be empty.
    Outbox(const Config& stationConfig, const SlaveSim::LogHandler& logHandler);

    void setSlave(CS101_Slave librarySlave) { slave = librarySlave; }
    bool isOpen() const { return slave != nullptr; }

    // An empty ASDU of the common address in use (the station's first, unless an answer for
    // another one is being built); null while the line is closed.
    AsduPtr newAsdu(int cot) const;
    // The common address the next ASDUs carry; negative: the station's first again.
    void useCommonAddress(int commonAddress) { currentCommonAddress = commonAddress; }
    void send(CS101_ASDU asdu);
    void sendPeriodic(CS101_ASDU asdu);
    // Sends a received ASDU back with the cause (and P/N) of the answer.
    void answer(CS101_ASDU asdu, int cot, bool negative);
    // One object in an ASDU of its own, as class 1 data.
    void sendObject(IoPtr io, int cot = CS101_COT_SPONTANEOUS);

    // "M_SP_NA_1 COT 3 CA 1 n=1", for the log.
    static QString describe(CS101_ASDU asdu);

private:
    void logSent(CS101_ASDU asdu, const QString& suffix) const;

    const Config& config;
    const SlaveSim::LogHandler& log;
    CS101_Slave slave = nullptr;
    int currentCommonAddress = -1;
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_OUTBOX_H
