#ifndef IEC101_SLAVESIM_LINKSERVER_H
#define IEC101_SLAVESIM_LINKSERVER_H

#include <hal_serial.h>

#include <QByteArray>

#include <deque>
#include <functional>
#include <optional>

#include "ft12.h"
#include "slavesim.h"

namespace slavesim {

// Serves the FT1.2 link in place of lib60870 for as long as the library cannot: while ASDUs
// queued byte for byte (SlaveSim::sendRawAsdu) wait for the master's requests, and while the
// station is busy. It reads the master's frames and answers status, reset, user data and
// requests itself; user data goes to the station's handler as the library's would.
//
// The library never sees those frames, so its expected frame count bit (FCB) would fall out
// of step with the master, and it would answer the next FCV frame by repeating its previous
// frame (a duplicate ASDU at the master). To avoid that, the server keeps the line until the
// master's next FCB is the one the library expects, which costs at most one extra frame
// (answered with "no data", or taken as user data and acknowledged).
// Not thread-safe: SlaveSim calls it with its mutex held.
class LinkServer
{
public:
    using UserDataHandler = std::function<void(const QByteArray& userData)>;

    LinkServer(const Config& stationConfig, const SlaveSim::LogHandler& logHandler, UserDataHandler userData);

    // The port the line has now, null while it is closed. A new line starts afresh.
    void setPort(SerialPort linePort);

    // Whether the server, not the library, serves the line now: from the moment raw ASDUs
    // or busy answers are due until the library's frame count bit is in step again.
    bool servesLine();
    // Reads one frame from the master (waiting briefly) and answers it.
    void serve();

    void queueRawAsdu(const QByteArray& asdu) { rawQueue.push_back(asdu); }
    bool rawAsduPending() const { return !rawQueue.empty(); }
    void setBusy(int durationMs);
    // Forgets octets of a frame not complete yet, with the input the line discards.
    void discardInput();
    void writeBytes(const QByteArray& bytes);

private:
    bool busy() const;
    std::optional<iec101::Ft12::Frame> nextFrame();
    void writeFixed(int control);
    void writeVariable(int control, const QByteArray& userData);

    const Config& config;
    const SlaveSim::LogHandler& log;
    UserDataHandler userDataHandler;
    SerialPort port = nullptr;
    iec101::Ft12::Reassembler reassembler;
    std::deque<iec101::Ft12::Frame> frames; // complete, not answered yet
    std::deque<QByteArray> rawQueue;
    qint64 busyUntilMs = 0;
    bool intercepting = false;
    std::optional<bool> libExpectedFcb;
    std::optional<bool> lastMasterFcb;
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_LINKSERVER_H
