// The simulated slave: an IEC 60870-5-101 controlled station (unbalanced mode) on a serial
// device, as a library for tests and for the iec101-slave-sim program.
//
// SlaveSim wraps lib60870's CS101 slave with a point database that follows the address plan
// the master's command panel assumes, runs it on its own thread and lets tests script it at
// runtime from any thread: command behaviour, local/remote mode, values, spontaneous events,
// a paused line and hostile frames. Everything it receives is recorded for inspection.
#ifndef IEC101_SLAVESIM_H
#define IEC101_SLAVESIM_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

#include "stationaddressplan.h"

namespace slavesim {

// Addresses of the simulated slave's fixed points: the station address plan the master's
// command panel assumes, and the slave's own data points. Extra points
// (Config::extraPoints) are single points starting at kExtraPointBase + 1.
namespace ioa {
constexpr int kLocalRemote = iec101::StationAddressPlan::kLocalRemote;         // single point, true = local
constexpr int kObjectStateBase = iec101::StationAddressPlan::kObjectStateBase; // + n, n = 1..kObjectCount
constexpr int kDoubleCommandBase = iec101::StationAddressPlan::kDoubleCommandBase; // + n: moves object n
constexpr int kFirstSingleCommand = iec101::StationAddressPlan::kFirstSingleCommand;
constexpr int kLastSingleCommand = iec101::StationAddressPlan::kLastSingleCommand;
constexpr int kObjectCount = iec101::StationAddressPlan::kControlObjectCount;
constexpr int kFirstSinglePoint = 1001; // kSinglePointCount plain single points
constexpr int kFirstMeasured = 4001;    // kMeasuredCount short floats
constexpr int kFirstCounter = 5001;     // kCounterCount integrated totals
constexpr int kExtraPointBase = 100000;
constexpr int kSinglePointCount = 10;
constexpr int kMeasuredCount = 5;
constexpr int kCounterCount = 4;
constexpr int kMaxExtraPoints = 90000; // keeps extra points below the object states
// Field profile only: step positions and bitstrings, reported with the measured values.
constexpr int kFirstStep = 3001;
constexpr int kStepCount = 2;
constexpr int kFirstBitstring = 4501;
constexpr int kBitstringCount = 2;
} // namespace ioa

// Basic: the point plan above as short floats, CP56 time tags on events. Field: as stations
// on real lines report: measured values in the chosen format, step positions and bitstrings
// besides them, CP24 time tags on events, and an end of initialisation once started.
enum class Profile { Basic, Field };
// Type of the measured values (4001..) in the field profile: M_ME_NC, M_ME_NA or M_ME_NB.
enum class MeasuredFormat { Float, Normalized, Scaled };

struct Config
{
    QString portPath;
    int baudRate = 9600;
    int dataBits = 8;
    char parity = 'E'; // 'N', 'E' or 'O'
    int stopBits = 1;
    int linkAddress = 1;
    int linkAddressLength = 2; // octets, 1 or 2
    int commonAddress = 1;
    // Further common addresses the station answers for (a bay controller per address): each
    // is interrogated on its own, or all of them through the global address; events go out
    // under the first.
    QVector<int> extraCommonAddresses;
    // Balanced mode (point to point): the station sends its events without being polled;
    // masterLinkAddress is the link address of the master it talks to.
    bool balanced = false;
    int masterLinkAddress = 0;
    int sizeOfCA = 2;
    int sizeOfIOA = 3;
    int sizeOfCOT = 2;
    int maxAsduSize = 249;
    bool localMode = false;
    int extraPoints = 0;                 // additional single points for large interrogations
    double eventRate = 0.0;              // random spontaneous events per second, 0 = none
    bool echoBroadcastClockSync = false; // answer a broadcast clock sync with ACT_CON (CA 65535/255)
    double cyclicRate = 0.0;             // measured values sent periodically (cause 1) per second, 0 = none
    bool terminations = true;            // false: commands and interrogations are confirmed, never terminated
    bool requireSelect = false;          // true: an execute without a select first is refused
    Profile profile = Profile::Basic;
    MeasuredFormat measuredFormat = MeasuredFormat::Float;
    // Quality bits sent with chosen points, by address: QDS (IV 0x80, NT 0x40, SB 0x20, BL 0x10,
    // OV 0x01), for counters IV 0x80, CA 0x40, CY 0x20.
    QMap<int, int> quality;
};

// How the simulated slave answers commands (C_SC, C_DC, and also C_IC, C_CI, C_RD, C_CS where noted).
enum class CommandMode {
    Normal,
    AnswerSelectOnly, // select of C_SC/C_DC confirmed, execute ignored; other commands normal
    Silent,           // no answer to any command, interrogation, read or clock sync
    Negative,         // every command, interrogation and clock sync gets a negative ACT_CON;
                      // reads get a negative unknown-address answer
};

// One ASDU the simulated slave received from the master.
struct ReceivedAsdu
{
    int typeId = 0;
    int cot = 0;
    bool negative = false;
    bool test = false;
    int commonAddress = 0;
    int ioa = 0; // address of the first element, 0 when there is none
    bool select = false;
    // C_SC: state 0/1; C_DC: state 0..3; C_IC: QOI; C_CI: QCC; C_CS: carried time (ms since
    // epoch, fields read as UTC); C_RC: 1 lower, 2 higher; C_BO: the 32 bits; C_CD: the ms
    // within the minute it carried; others 0.
    qint64 value = 0;
    // Setpoints and parameters of measured values: the value as decoded (normalized ones as
    // the fraction).
    double number = 0;
    int qualifier = 0;     // QU, QL, QRP, QPM or QPA as the type has it
    qint64 timeTagMs = -1; // CP56Time2a of a time-tagged command, fields read as UTC; -1: none
    bool summerTime = false;
    qint64 receivedAtMs = 0; // wall clock, ms since epoch
};

class SlaveSim
{
public:
    using LogHandler = std::function<void(const QString& line)>;

    explicit SlaveSim(const Config& config);
    ~SlaveSim();
    SlaveSim(const SlaveSim&) = delete;
    SlaveSim& operator=(const SlaveSim&) = delete;

    // Opens the port and starts the slave's thread. False (see errorString) if the port does
    // not open. If the device later disappears, the thread closes it and reopens the same path
    // when it is back (a restarted pty pair).
    bool start();
    // Stops the thread and closes the port; safe to call repeatedly.
    void stop();
    bool isRunning() const;
    QString errorString() const;
    const Config& config() const;

    // Called on the slave's thread, one line per ASDU received or sent. Set before start().
    void setLogHandler(LogHandler handler);

    // --- scripting, thread-safe ---
    void setCommandMode(CommandMode mode);
    CommandMode commandMode() const;
    // Commands (select or direct execute) to these object addresses get a negative
    // activation confirmation (P/N = 1) and nothing else; address 0 refuses the
    // interrogations and counter interrogations.
    void setRefusedAddresses(const QVector<int>& addresses);
    // Whether confirmed commands and interrogations are terminated (cause 10).
    void setTerminations(bool terminate);
    // Measured values sent on their own with cause 1 (periodic) as class 2 data.
    void setCyclicRate(double perSecond);
    // For the next durationMs every request from the master is answered "busy": the data
    // flow control bit set, user data refused with function 1, the link status reported
    // with DFC. What the station holds for the master stays queued meanwhile.
    void setBusy(int durationMs);
    // Sets the local/remote point (65537) without reporting it.
    void setLocalMode(bool local);
    // Changes a known point's value without reporting it; false if the address is unknown.
    // Double points take 0..3, single points 0/1, counters the reading.
    bool setPointValue(int ioa, double value);
    std::optional<double> pointValue(int ioa) const;

    // Queue a spontaneous event (cause 3) as class 1 data. A known point of the same kind takes
    // the new value and reports it with its quality. With time: a CP56 tag, CP24 in the field
    // profile, whose measured values also keep their format. timeMs = time tag (ms since epoch,
    // encoded as UTC fields); unset = now.
    void injectSinglePoint(int ioa, bool value, bool withTime = true, std::optional<qint64> timeMs = {});
    void injectDoublePoint(int ioa, int state, bool withTime = true, std::optional<qint64> timeMs = {});
    void injectMeasured(int ioa, float value, bool withTime = true, std::optional<qint64> timeMs = {});

    // Stop serving the line (bytes from the master pile up) and serve it again.
    void pause();
    void resume();
    // Discard everything the master has sent so far and not yet read.
    void drainInput();

    // Answer the master's next request for class 1 or 2 data with these ASDU bytes verbatim
    // (FT1.2 variable frame, function code 8, ACD set, at most 255 - 1 - link address length
    // bytes). Several calls queue several answers. While any is pending the slave's thread reads
    // and answers the master's frames itself (status, reset, user data are handled; a request
    // with nothing raw left gets "no data"). The library does not see those frames, so its frame
    // count bit would fall out of step and it would repeat its previous frame (a duplicate ASDU);
    // the slave therefore serves one more FCV frame itself when needed to put it back in step.
    void sendRawAsdu(const QByteArray& asdu);
    bool rawAsduPending() const;

    // --- what the master sent ---
    QVector<ReceivedAsdu> received() const;
    QVector<ReceivedAsdu> received(int typeId) const;
    void clearReceived();
    // Waits until a record of this type exists (including ones recorded earlier; clear first to
    // wait for a new one). Returns the first such record, or nothing after timeoutMs.
    std::optional<ReceivedAsdu> waitForCommand(int typeId, int timeoutMs);

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace slavesim

#endif // IEC101_SLAVESIM_H
