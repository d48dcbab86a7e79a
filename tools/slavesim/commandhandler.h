#ifndef IEC101_SLAVESIM_COMMANDHANDLER_H
#define IEC101_SLAVESIM_COMMANDHANDLER_H

#include <QVector>

#include <map>
#include <vector>

#include "controlhandler.h"
#include "outbox.h"
#include "pointdatabase.h"
#include "slavesim.h"

namespace slavesim {

// How the simulated station answers what the master sends: general and counter
// interrogation, read, clock synchronisation, single and double commands with select
// before execute; the other control types go to ControlHandler. Scripts bend it: a command mode, refused
// addresses, no terminations. Every ASDU received is recorded first, whatever happens to it. Not thread-safe:
// SlaveSim calls it with its mutex held.
class CommandHandler
{
public:
    CommandHandler(const Config& stationConfig, PointDatabase& database, Outbox& stationOutbox,
                   const SlaveSim::LogHandler& logHandler);

    void handle(CS101_ASDU asdu);

    CommandMode mode() const { return commandMode; }
    void setMode(CommandMode mode) { commandMode = mode; }
    void setRefusedAddresses(const QVector<int>& addresses);
    void setTerminations(bool terminate) { terminations = terminate; }

    const QVector<ReceivedAsdu>& received() const { return records; }
    void clearReceived() { records.clear(); }

private:
    ReceivedAsdu record(CS101_ASDU asdu);
    bool isRefused(int address) const;
    void sendPoints(Kind kind, int group, int cot);
    // The common addresses an interrogation asks for: its own, or all for the global one.
    QVector<int> commonAddressesAsked(CS101_ASDU asdu) const;
    void interrogation(CS101_ASDU asdu, int qoi);
    void counterInterrogation(CS101_ASDU asdu, int qcc);
    void read(CS101_ASDU asdu, int address);
    void clockSync(CS101_ASDU asdu);
    void command(CS101_ASDU asdu, const ReceivedAsdu& r, bool isDouble);

    const Config& config;
    PointDatabase& points;
    Outbox& outbox;
    const SlaveSim::LogHandler& log;
    CommandMode commandMode = CommandMode::Normal;
    std::vector<int> refusedAddresses;
    bool terminations = true;
    std::map<int, int> selections; // command address -> selected state
    QVector<ReceivedAsdu> records;
    ControlHandler control;
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_COMMANDHANDLER_H
