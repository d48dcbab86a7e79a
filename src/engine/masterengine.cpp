#include "masterengine.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>

// hal_serial.h must precede cs101_master.h, which uses SerialPort without including it.
#include <hal_serial.h>

#include <cs101_information_objects.h>
#include <cs101_master.h>

#include "asdudecoder.h"
#include "commandencoder.h"
#include "ft12.h"
#include "lineframebuffer.h"
#include "metatypes.h"
#include "objectkind.h"
#include "portwatch.h"

namespace iec101 {

namespace {

// A round of poll and run that brings nothing may just be waiting for the answer to its
// own request; the second such round in a row means the station has nothing more.
constexpr int kQuietRoundsToStop = 2;
constexpr int kQoiStation = 20;
constexpr int kQccGeneral = 5;
constexpr int kShortestTickMs = 20;

constexpr int kFunctionUserDataConfirmed = 3;
constexpr int kFunctionUserDataNoReply = 4;

// Why the port did not open, as the operator should read it.
QString openFailure(int error)
{
#ifdef Q_OS_UNIX
    if (error != 0)
        return qt_error_string(error);
#else
    Q_UNUSED(error)
#endif
    return QStringLiteral("the port is in use or access to it is denied");
}

QString interrogationName(int typeId)
{
    return typeId == C_IC_NA_1 ? QStringLiteral("General interrogation")
                               : QStringLiteral("Counter interrogation");
}

} // namespace

struct MasterEngine::Private
{
    enum class Phase { Answer, SelectConfirmation, Confirmation, DeactivationConfirmation, Termination };

    struct Pending
    {
        CommandRequest request;
        int commonAddress = 0;
        Phase phase = Phase::Confirmation;
        QVector<InfoObject> answer;
        qint64 firstSentMs = 0;
        qint64 deadlineMs = 0;
        qint64 pausedRemainingMs = -1; // the step's time left while the station is busy
        bool resendOnRecovery = false; // its last frame was answered "busy", not taken
        // A delay acquisition: when its activation was built, on the engine's clock and as
        // the ms within the minute the frame carries.
        qint64 delaySentMs = -1;
        int delayStampMs = 0;
    };

    struct Retry
    {
        CommandRequest request;
        qint64 dueMs = 0;
    };

    // What the station's frames of one round of poll and run said.
    struct Round
    {
        int received = 0;
        bool acd = false;      // it has class 1 data waiting
        bool userData = false; // it sent an ASDU
    };

    // One station on the line, as the engine keeps track of it.
    struct StationState
    {
        Station station;
        LinkState state = LinkState::Connecting;
        bool initialRequested = false;
        int initialOpen = 0;         // automatic interrogations not yet ended for good
        bool initialComplete = true; // every one that ended brought its data
        qint64 nextPollMs = 0;       // a silent station is not polled before this
        bool busy = false;           // said "busy"; not polled until the back-off is over
        qint64 busySinceMs = -1;     // since when it has been busy without a break
    };

    explicit Private(MasterEngine* engine);

    MasterEngine* q;
    QElapsedTimer clock;

    // The line.
    CS101_Master master = nullptr;
    SerialPort serialPort = nullptr;
    bool portOpen = false; // the last open() opened the line; polling waits otherwise
    PortWatch port;
    SerialSettings serial;
    ProtocolSettings protocol;
    EngineTuning tuning;
    sLinkLayerParameters linkParameters{};
    sCS101_AppLayerParameters appParameters{};

    QTimer* tickTimer = nullptr;
    QTimer* stepTimer = nullptr;    // the pending command's current step
    QTimer* lineRunTimer = nullptr; // a command's next slice of the line
    QTimer* retryTimer = nullptr;   // the engine's own interrogations, tried again
    QTimer* busyTimer = nullptr;    // back-off from a busy station
    QTimer* linkDownTimer = nullptr;

    QVector<StationState> stations;
    int nextStation = 0;                       // round robin of the polls
    int pollsForPending = 0;                   // every other poll goes to the station a command waits for
    QVector<QPair<int, bool>> initialDataDone; // stations whose initial data just ended, and how
    qint64 lastTrafficMs = 0;                  // balanced mode: the link is tested after a quiet spell
    bool lineOpen = false;                     // a port was created: closing it is reported
    std::optional<Pending> pending;
    QList<CommandRequest> queue;
    QList<Retry> retries;
    QHash<quint64, int> attempts; // automatic request -> attempts so far
    quint64 nextId = 0;
    QHash<int, qint64> lineDelays; // link address -> the last delay acquisition's one-way delay

    quint64 receivedAsduCount = 0;
    Round round;
    bool lastSentUserData = false;
    bool broadcastGone = false; // the pending broadcast clock sync has left
    bool busyDetected = false;
    int busyAddress = -1; // the station whose frame said "busy"
    bool busyWaiting = false;
    int busyBackoffMs = 0;
    qint64 tickOverrunMs = 0;
    LineFrameBuffer lineFrames;
    bool lineFramesOutstanding = false;

    qint64 now() const { return clock.elapsed(); }
    bool balanced() const { return protocol.mode == LinkMode::Balanced; }
    // In balanced mode the station sends when it likes and waits for our acknowledgement:
    // the line is read far more often than a poll would be needed. With several stations
    // the ticks come as often as each station would be polled alone, so that each of them
    // is asked about as often as a single one is.
    int tickInterval() const
    {
        if (balanced())
            return std::min(tuning.tickMs, kShortestTickMs);
        return std::max(std::min(tuning.tickMs, kShortestTickMs),
                        tuning.tickMs / std::max(1, int(stations.size())));
    }
    StationState* stationOf(int linkAddress);
    const StationState* stationOf(int linkAddress) const;
    int firstLinkAddress() const
    {
        return stations.isEmpty() ? protocol.linkAddress : stations.first().station.linkAddress;
    }
    // The request with its station and common address filled in; false if the line has no such station.
    bool resolve(CommandRequest& request) const;
    bool ready(int linkAddress) const;

    void setState(StationState& station, LinkState next);
    void setAllStates(LinkState next);
    int pickStation();
    void createMaster();
    void destroyMaster();
    void closeLine();

    void runLine();
    bool answerDue() const;
    void scheduleLineRun(int delayMs);
    void lineRunDue();
    void handOverLineFrames();

    void start(const CommandRequest& request);
    bool transmit(Pending& command, bool select);
    void armStep(qint64 timeoutMs);
    void stepTimedOut();
    void finish(CommandOutcome outcome);
    void notSent(const CommandRequest& request, CommandOutcome::Reason reason,
                 const QString& detail = QString());
    void report(const CommandRequest& request, CommandOutcome& outcome);
    void reportInitialData();
    void sendNext();
    void scheduleRetries();
    void retryDue();
    void requestInitialData(StationState& station);

    void linkStateReported(int address, LinkLayerState libraryState);
    void asduReceived(int address, CS101_ASDU asdu);
    bool answersPending(int address, const AsduHeader& header) const;
    bool collectsData(int address, const InfoObject& first) const;
    void advance(const AsduHeader& header, const QVector<InfoObject>& objects);
    qint64 measureLineDelay(const QVector<InfoObject>& objects);
    void frameSeen(const uint8_t* octets, int size, bool sent);

    void enterBusy();
    void giveUpOnBusy(StationState& station);
    void busyBackoffOver();
    void pauseStep();
    void resumeStep();
    void linkDownTooLong();

    static void linkStateHandler(void* parameter, int address, LinkLayerState state);
    static bool asduHandler(void* parameter, int address, CS101_ASDU asdu);
    static void rawFrameHandler(void* parameter, uint8_t* msg, int msgSize, bool sent);
};

MasterEngine::Private::Private(MasterEngine* engine) : q(engine)
{
    clock.start();
    auto makeTimer = [engine](bool singleShot) {
        auto* timer = new QTimer(engine);
        timer->setSingleShot(singleShot);
        return timer;
    };
    tickTimer = makeTimer(false);
    stepTimer = makeTimer(true);
    lineRunTimer = makeTimer(true);
    retryTimer = makeTimer(true);
    busyTimer = makeTimer(true);
    linkDownTimer = makeTimer(true);
    // Precise timers: the coarse kind may fire 5 % late, which on a short pause between
    // polls is the whole pause again.
    lineRunTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(tickTimer, &QTimer::timeout, engine, &MasterEngine::tick);
    QObject::connect(stepTimer, &QTimer::timeout, engine, [this] { stepTimedOut(); });
    QObject::connect(lineRunTimer, &QTimer::timeout, engine, [this] { lineRunDue(); });
    QObject::connect(retryTimer, &QTimer::timeout, engine, [this] { retryDue(); });
    QObject::connect(busyTimer, &QTimer::timeout, engine, [this] { busyBackoffOver(); });
    QObject::connect(linkDownTimer, &QTimer::timeout, engine, [this] { linkDownTooLong(); });
}

// ---------------------------------------------------------------- library callbacks

// Link-layer state callback of lib60870; runs inside CS101_Master_run.
void MasterEngine::Private::linkStateHandler(void* parameter, int address, LinkLayerState state)
{
    if (auto* self = static_cast<Private*>(parameter))
        self->linkStateReported(address, state);
}

// ASDU callback of lib60870; the ASDU is valid only during the call.
bool MasterEngine::Private::asduHandler(void* parameter, int address, CS101_ASDU asdu)
{
    auto* self = static_cast<Private*>(parameter);
    if (!self)
        return false;
    ++self->receivedAsduCount;
    self->asduReceived(address, asdu);
    return true;
}

// Raw frame callback of lib60870; runs inside CS101_Master_run for every frame sent or
// received, corrupted ones included.
void MasterEngine::Private::rawFrameHandler(void* parameter, uint8_t* msg, int msgSize, bool sent)
{
    auto* self = static_cast<Private*>(parameter);
    if (!self || !msg || msgSize <= 0)
        return;
    self->lineFrames.append(msg, msgSize, sent);
    self->frameSeen(msg, msgSize, sent);
}

void MasterEngine::Private::frameSeen(const uint8_t* octets, int size, bool sent)
{
    // Only frames that add up count: a damaged octet on a noisy line must not read as a
    // station saying "busy".
    const Ft12::Parsed parsed = Ft12::parse(
        QByteArray::fromRawData(reinterpret_cast<const char*>(octets), size), protocol.linkAddressOctets());
    const bool framed = parsed.ok() && parsed.frame.kind != Ft12::Kind::SingleCharacter;
    const int control = framed ? parsed.frame.control : -1;
    if (sent) {
        const int function = control >= 0 && (control & Ft12::kPrm) ? control & Ft12::kFunctionMask : -1;
        lastSentUserData = function == kFunctionUserDataConfirmed;
        if (function == kFunctionUserDataNoReply && pending && pending->request.broadcast)
            broadcastGone = true;
        return;
    }
    lastTrafficMs = now();
    ++round.received;
    // A single character (E5) is a plain acknowledgement or "no data".
    if (control < 0 || (control & Ft12::kPrm))
        return;
    if (control & Ft12::kAcd)
        round.acd = true;
    if (parsed.frame.kind == Ft12::Kind::Variable)
        round.userData = true;
    // "Busy": the data flow control bit, or the function that refuses a frame because
    // the station's buffers are full. The library's link layer stays busy for good
    // after one; the engine recovers around it.
    if ((control & Ft12::kDfc) || (control & Ft12::kFunctionMask) == Ft12::kFunctionBusy) {
        busyDetected = true;
        busyAddress = balanced() || stations.size() == 1 ? firstLinkAddress() : parsed.frame.linkAddress;
        if (pending && lastSentUserData && pending->request.linkAddress == busyAddress)
            pending->resendOnRecovery = true;
    }
}

void MasterEngine::Private::linkStateReported(int address, LinkLayerState libraryState)
{
    // Balanced mode knows one station, whatever address the library reports it with.
    StationState* station =
        balanced() ? (stations.isEmpty() ? nullptr : &stations.first()) : stationOf(address);
    if (!station)
        return;
    switch (libraryState) {
    case LL_STATE_AVAILABLE: {
        const bool afterBusy = station->state == LinkState::Busy;
        station->busy = false;
        station->busySinceMs = -1;
        station->nextPollMs = 0;
        if (std::none_of(stations.cbegin(), stations.cend(),
                         [](const StationState& s) { return s.state == LinkState::Error; }))
            linkDownTimer->stop();
        if (std::none_of(stations.cbegin(), stations.cend(), [](const StationState& s) { return s.busy; }))
            busyBackoffMs = 0;
        setState(*station, LinkState::Available);
        if (afterBusy && pending && pending->request.linkAddress == station->station.linkAddress)
            resumeStep();
        requestInitialData(*station);
        sendNext();
        break;
    }
    case LL_STATE_ERROR:
        if (station->state == LinkState::Available || station->state == LinkState::Connecting) {
            setState(*station, LinkState::Error);
            // Polled again after a while only: each poll of a station that does not answer
            // holds the line for the others until the library gives up on it.
            station->nextPollMs = now() + protocol.silentStationPollMs / 2;
            if (stations.size() > 1)
                Q_EMIT q->statusMessage(
                    QStringLiteral("Station %1 does not answer; polled every %2 s until it does")
                        .arg(station->station.linkAddress)
                        .arg(protocol.silentStationPollMs / 1000.0));
            linkDownTimer->start(std::max(0, protocol.commandTimeoutMs));
        }
        break;
    case LL_STATE_BUSY:
    case LL_STATE_IDLE:
    default:
        // The library passes through "busy" while it sets the link up; a station that
        // really is busy shows in its frames (frameSeen).
        break;
    }
}

// ---------------------------------------------------------------- line

MasterEngine::Private::StationState* MasterEngine::Private::stationOf(int address)
{
    for (StationState& station : stations) {
        if (station.station.linkAddress == address)
            return &station;
    }
    return nullptr;
}

const MasterEngine::Private::StationState* MasterEngine::Private::stationOf(int address) const
{
    return const_cast<Private*>(this)->stationOf(address);
}

bool MasterEngine::Private::resolve(CommandRequest& request) const
{
    if (stations.isEmpty())
        return false;
    const StationState* station = request.linkAddress == CommandRequest::kOwnAddress
                                      ? &stations.first()
                                      : stationOf(request.linkAddress);
    if (!station)
        return false;
    request.linkAddress = station->station.linkAddress;
    if (request.commonAddress == CommandRequest::kOwnAddress)
        request.commonAddress = station->station.commonAddresses.value(0, protocol.commonAddress);
    return true;
}

bool MasterEngine::Private::ready(int address) const
{
    const StationState* station = stationOf(address);
    return station && station->state == LinkState::Available && !station->busy;
}

void MasterEngine::Private::setState(StationState& station, LinkState next)
{
    if (station.state == next)
        return;
    station.state = next;
    Q_EMIT q->linkStateChanged(station.station.linkAddress, next);
}

void MasterEngine::Private::setAllStates(LinkState next)
{
    for (StationState& station : stations)
        setState(station, next);
}

int MasterEngine::Private::pickStation()
{
    // While a command waits, every other poll goes to its station, where the answer is.
    if (pending && ready(pending->request.linkAddress) && stations.size() > 1 && pollsForPending++ % 2 == 0)
        return pending->request.linkAddress;
    // Otherwise each station in turn, one poll each: a station with a burst of data gets
    // its share of the line, not all of it. Busy stations wait for the back-off; silent ones
    // are asked only now and then.
    const qint64 at = now();
    for (int k = 0; k < stations.size(); ++k) {
        const int index = (nextStation + k) % stations.size();
        StationState& station = stations[index];
        if (station.busy || (station.state == LinkState::Error && at < station.nextPollMs))
            continue;
        nextStation = (index + 1) % stations.size();
        if (station.state == LinkState::Error)
            station.nextPollMs = at + protocol.silentStationPollMs;
        return station.station.linkAddress;
    }
    return -1;
}

void MasterEngine::Private::createMaster()
{
    master = CS101_Master_create(serialPort, &linkParameters, &appParameters,
                                 balanced() ? IEC60870_LINK_LAYER_BALANCED : IEC60870_LINK_LAYER_UNBALANCED);
    if (!master)
        return;
    CS101_Master_setASDUReceivedHandler(master, &Private::asduHandler, this);
    CS101_Master_setLinkLayerStateChanged(master, &Private::linkStateHandler, this);
    CS101_Master_setRawMessageHandler(master, &Private::rawFrameHandler, this);
    if (balanced()) {
        CS101_Master_setOwnAddress(master, protocol.ownLinkAddress);
        CS101_Master_setDIR(master, protocol.dir);
    } else {
        for (const StationState& station : qAsConst(stations))
            CS101_Master_addSlave(master, station.station.linkAddress);
    }
    CS101_Master_useSlaveAddress(master, firstLinkAddress());
}

void MasterEngine::Private::destroyMaster()
{
    if (master) {
        CS101_Master_destroy(master);
        master = nullptr;
    }
}

void MasterEngine::Private::closeLine()
{
    tickTimer->stop();
    lineRunTimer->stop();
    busyTimer->stop();
    linkDownTimer->stop();
    retryTimer->stop();
    busyWaiting = false;
    busyDetected = false;
    portOpen = false;
    destroyMaster();
    if (serialPort) {
        // Closing twice would close whatever file descriptor the first close freed.
        SerialPort_close(serialPort);
        SerialPort_destroy(serialPort);
        serialPort = nullptr;
    }
    if (lineOpen)
        setAllStates(LinkState::Disconnected);
    lineOpen = false;
}

void MasterEngine::Private::runLine()
{
    // Drain the line while it delivers: the library takes at most one frame per run, so
    // one exchange per tick would let a busy station's event queue overflow. Quiet rounds
    // end the drain only while no answer is due; a command waiting for one keeps the line
    // running, in slices, with whatever reached this thread meanwhile (a close, a new
    // command) in between. A station that answers at once that it has nothing is asked
    // again after a short pause instead of at once, so a fast line does not spin.
    QElapsedTimer spent;
    spent.start();
    int quietRounds = 0;
    bool paced = false;
    // Quiet rounds end the drain as on a line with one station: the ticks already come
    // once per station as often (tickInterval), and the rounds go round the stations.
    const int quietRoundsToStop = kQuietRoundsToStop;
    do {
        const quint64 before = receivedAsduCount;
        round = Round();
        if (!balanced()) {
            const int address = pickStation();
            if (address >= 0)
                CS101_Master_pollSingleSlave(master, address);
        }
        CS101_Master_run(master);
        // The connection may have been closed from inside a callback.
        if (!master)
            return;
        if (busyDetected) {
            enterBusy();
            return;
        }
        if (broadcastGone) {
            broadcastGone = false;
            CommandOutcome outcome;
            outcome.result = CommandOutcome::Result::Confirmed;
            finish(outcome);
        }
        quietRounds = receivedAsduCount == before ? quietRounds + 1 : 0;
        if (answerDue() && round.received > 0 && !round.acd && !round.userData) {
            paced = true;
            break;
        }
    } while ((answerDue() || quietRounds < quietRoundsToStop) && spent.elapsed() < tuning.drainBudgetMs);
    if (answerDue())
        scheduleLineRun(paced ? tuning.quietPollMs : 0);
}

bool MasterEngine::Private::answerDue() const
{
    // Without the link there is no answer to wait for: the line goes back to the tick.
    return tuning.commandsRunLine && pending && ready(pending->request.linkAddress);
}

void MasterEngine::Private::scheduleLineRun(int delayMs)
{
    // A timer rather than a run from here: sends happen inside the library's callbacks
    // too, and the master must not be run from within its own run.
    if (!tuning.commandsRunLine)
        return;
    if (lineRunTimer->isActive() && lineRunTimer->remainingTime() <= delayMs)
        return;
    lineRunTimer->start(std::max(0, delayMs));
}

void MasterEngine::Private::lineRunDue()
{
    // The port check costs a stat, and a vanished port must not be run: the library
    // would spin on it.
    if (!master)
        return;
    if (!port.available()) {
        q->close();
        return;
    }
    if (portOpen)
        runLine();
}

void MasterEngine::Private::handOverLineFrames()
{
    // One batch in flight at most: a receiver that falls behind leaves the frames in the
    // bounded buffer instead of a growing queue of signals.
    if (lineFramesOutstanding || lineFrames.isEmpty())
        return;
    int dropped = 0;
    const QVector<LineFrame> frames = lineFrames.take(&dropped);
    lineFramesOutstanding = true;
    Q_EMIT q->lineFramesReady(frames, dropped);
}

// ---------------------------------------------------------------- busy station

void MasterEngine::Private::enterBusy()
{
    busyDetected = false;
    StationState* station = stationOf(busyAddress);
    if (!station)
        station = &stations.first();
    if (station->state != LinkState::Busy)
        Q_EMIT q->statusMessage(
            QStringLiteral("Station %1 is busy; polling paused").arg(station->station.linkAddress));
    if (station->busySinceMs < 0)
        station->busySinceMs = now();
    setState(*station, LinkState::Busy);
    station->busy = true;
    if (now() - station->busySinceMs > tuning.busyPatienceMs)
        giveUpOnBusy(*station);
    if (pending && pending->request.linkAddress == station->station.linkAddress) {
        lineRunTimer->stop();
        pauseStep();
    }
    if (busyWaiting)
        return;
    busyWaiting = true;
    busyBackoffMs = busyBackoffMs <= 0 ? tuning.busyBackoffMs
                                       : std::min(busyBackoffMs * 2,
                                                  std::max(tuning.busyBackoffMs, tuning.busyBackoffMaxMs));
    busyTimer->start(std::max(0, busyBackoffMs));
}

void MasterEngine::Private::giveUpOnBusy(StationState& station)
{
    // Nothing is lost while a station is busy for a moment; one that stays busy must not
    // hold its commands for ever.
    const int address = station.station.linkAddress;
    const bool affected = (pending && pending->request.linkAddress == address) ||
                          std::any_of(queue.cbegin(), queue.cend(), [address](const CommandRequest& r) {
                              return r.linkAddress == address;
                          });
    if (!affected)
        return;
    Q_EMIT q->statusMessage(QStringLiteral("Station %1 stays busy; its commands end").arg(address));
    const QList<CommandRequest> waiting = queue;
    queue.clear();
    for (const CommandRequest& request : waiting) {
        if (request.linkAddress == address)
            notSent(request, CommandOutcome::Reason::LinkDown, QStringLiteral("the station stays busy"));
        else
            queue.append(request);
    }
    if (pending && pending->request.linkAddress == address) {
        pending->pausedRemainingMs = -1;
        stepTimedOut();
    }
}

void MasterEngine::Private::busyBackoffOver()
{
    // The library's link layer leaves its busy state only through a new link set-up; a
    // fresh master on the same open port asks the station for its link status, resets
    // the link when it is ready, and polling goes on where it stopped. What the station
    // holds for us is still there; our own command, if its frame was refused, goes again.
    // A command under way with another, ready station would lose its answer with the old
    // master: the new link set-up waits for another back-off period.
    if (pending) {
        const StationState* owner = stationOf(pending->request.linkAddress);
        if (owner && !owner->busy) {
            busyTimer->start(std::max(0, busyBackoffMs));
            return;
        }
    }
    busyWaiting = false;
    if (!serialPort || !portOpen)
        return;
    for (StationState& station : stations)
        station.busy = false;
    destroyMaster();
    createMaster();
    if (!master) {
        q->close();
        return;
    }
    if (tuning.commandsRunLine)
        scheduleLineRun(0);
}

void MasterEngine::Private::pauseStep()
{
    if (!pending || pending->pausedRemainingMs >= 0)
        return;
    pending->pausedRemainingMs = std::max<qint64>(0, pending->deadlineMs - now());
    stepTimer->stop();
}

void MasterEngine::Private::resumeStep()
{
    if (!pending)
        return;
    if (pending->resendOnRecovery) {
        pending->resendOnRecovery = false;
        pending->pausedRemainingMs = -1;
        const bool select =
            pending->phase == Phase::SelectConfirmation || pending->phase == Phase::DeactivationConfirmation;
        if (!transmit(*pending, select))
            return;
        armStep(pending->phase == Phase::Termination ? protocol.terminationWaitMs
                                                     : protocol.commandTimeoutMs);
        scheduleLineRun(0);
        return;
    }
    if (pending->pausedRemainingMs >= 0) {
        const qint64 remaining = pending->pausedRemainingMs;
        pending->pausedRemainingMs = -1;
        armStep(remaining);
    }
    scheduleLineRun(0);
}

void MasterEngine::Private::linkDownTooLong()
{
    // Commands that waited for a station that did not come back within a command's time.
    const QList<CommandRequest> waiting = queue;
    queue.clear();
    for (const CommandRequest& request : waiting) {
        const StationState* station = stationOf(request.linkAddress);
        if (station && (station->state == LinkState::Available || station->state == LinkState::Busy))
            queue.append(request);
        else
            notSent(request, CommandOutcome::Reason::LinkDown);
    }
}

// ---------------------------------------------------------------- commands

void MasterEngine::Private::requestInitialData(StationState& station)
{
    if (station.initialRequested || !tuning.interrogateOnLinkUp)
        return;
    station.initialRequested = true;
    station.initialComplete = true;
    // Each common address the station answers for gives its own data.
    const QVector<int> commonAddresses = station.station.commonAddresses;
    const int linkAddress = station.station.linkAddress;
    station.initialOpen = 2 * commonAddresses.size();
    for (int ca : commonAddresses) {
        CommandRequest interrogation = CommandRequest::interrogation(kQoiStation);
        CommandRequest counters = CommandRequest::counterInterrogation(kQccGeneral);
        for (CommandRequest* request : {&interrogation, &counters}) {
            request->origin = CommandRequest::Origin::Automatic;
            request->linkAddress = linkAddress;
            request->commonAddress = ca;
            q->send(*request);
        }
    }
}

void MasterEngine::Private::start(const CommandRequest& request)
{
    Pending command;
    command.request = request;
    command.commonAddress = request.commonAddress;
    using Execution = CommandRequest::Execution;
    const bool select =
        request.execution == Execution::SelectBeforeExecute || request.execution == Execution::SelectOnly;
    if (request.typeId == C_RD_NA_1)
        command.phase = Phase::Answer;
    else if (select)
        command.phase = Phase::SelectConfirmation;
    else if (request.execution == Execution::Deactivate)
        command.phase = Phase::DeactivationConfirmation;
    else
        command.phase = Phase::Confirmation;
    pending = command;
    // A deactivation repeats the select it cancels, select bit included.
    if (!transmit(*pending, select || request.execution == Execution::Deactivate)) {
        const CommandRequest refused = pending->request;
        pending.reset();
        notSent(refused, CommandOutcome::Reason::Invalid, QStringLiteral("the library cannot build it"));
        sendNext();
        return;
    }
    pending->firstSentMs = now();
    armStep(protocol.commandTimeoutMs);
    Q_EMIT q->commandSent(request);
    // Nobody answers a broadcast: it ends once its frame is on the line (runLine), so that
    // the next command does not meet it still waiting in the library.
    broadcastGone = false;
    scheduleLineRun(0);
}

bool MasterEngine::Private::transmit(Pending& command, bool select)
{
    if (!master)
        return false;
    const CommandRequest& request = command.request;
    const int ca = command.commonAddress;
    CS101_Master_useSlaveAddress(master, request.linkAddress);
    switch (request.typeId) {
    case C_RD_NA_1:
        CS101_Master_sendReadCommand(master, ca, request.objectAddress);
        return true;
    case C_IC_NA_1:
        CS101_Master_sendInterrogationCommand(master, CS101_COT_ACTIVATION, ca,
                                              QualifierOfInterrogation(request.qualifier & 0xff));
        return true;
    case C_CI_NA_1:
        CS101_Master_sendCounterInterrogationCommand(master, CS101_COT_ACTIVATION, ca,
                                                     uint8_t(request.qualifier & 0xff));
        return true;
    case C_CS_NA_1: {
        sCP56Time2a time;
        QDateTime at = request.timeTag.isValid() ? request.timeTag : QDateTime::currentDateTime();
        if (request.addMeasuredDelay)
            at = at.addMSecs(lineDelays.value(request.linkAddress, 0));
        CommandEncoder::fillTime(time, at, protocol.timeTagsInUtc);
        if (!request.broadcast) {
            CS101_Master_sendClockSyncCommand(master, ca, &time);
            return true;
        }
        CS101_Master_useSlaveAddress(master, protocol.broadcastLinkAddress());
        CS101_Master_sendClockSyncCommand(master, protocol.broadcastCommonAddress(), &time);
        CS101_Master_useSlaveAddress(master, request.linkAddress);
        return true;
    }
    default:
        break;
    }
    // Time tags and a delay acquisition's time of sending are stamped as the frame is built.
    const QDateTime sentAt = QDateTime::currentDateTime();
    InformationObject object = CommandEncoder::createObject(request, select, sentAt, protocol);
    if (!object)
        return false;
    if (request.typeId == C_CD_NA_1) {
        command.delaySentMs = now();
        command.delayStampMs = CommandEncoder::millisecondsInMinute(sentAt);
    }
    const auto cause = request.execution == CommandRequest::Execution::Deactivate ? CS101_COT_DEACTIVATION
                                                                                  : CS101_COT_ACTIVATION;
    // Built here rather than by CS101_Master_sendProcessCommand, so that the encoder can
    // put the value octets right where the library codes them its own way.
    CS101_AppLayerParameters layout = CS101_Master_getAppLayerParameters(master);
    CS101_ASDU asdu = CS101_ASDU_create(layout, false, cause, layout->originatorAddress, ca, false, false);
    const bool added = asdu && CS101_ASDU_addInformationObject(asdu, object);
    InformationObject_destroy(object);
    if (!added) {
        if (asdu)
            CS101_ASDU_destroy(asdu);
        return false;
    }
    CommandEncoder::correctAsdu(asdu, request, layout->sizeOfIOA);
    CS101_Master_sendASDU(master, asdu);
    CS101_ASDU_destroy(asdu);
    return true;
}

void MasterEngine::Private::armStep(qint64 timeoutMs)
{
    if (!pending)
        return;
    const qint64 wait = std::max<qint64>(0, timeoutMs);
    pending->deadlineMs = now() + wait;
    stepTimer->start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

void MasterEngine::Private::stepTimedOut()
{
    if (!pending || pending->pausedRemainingMs >= 0)
        return;
    CommandOutcome outcome;
    switch (pending->phase) {
    case Phase::Termination:
        // Confirmed, and the station never said it was done: not a failure, but said.
        outcome.result = CommandOutcome::Result::Confirmed;
        outcome.terminationMissing = true;
        outcome.cause = CS101_COT_ACTIVATION_CON;
        break;
    case Phase::Answer:
        outcome.result = CommandOutcome::Result::TimedOut;
        outcome.step = CommandOutcome::Step::Answer;
        break;
    case Phase::SelectConfirmation:
        outcome.result = CommandOutcome::Result::TimedOut;
        outcome.step = CommandOutcome::Step::SelectConfirmation;
        break;
    case Phase::DeactivationConfirmation:
        outcome.result = CommandOutcome::Result::TimedOut;
        outcome.step = CommandOutcome::Step::DeactivationConfirmation;
        break;
    case Phase::Confirmation:
        outcome.result = CommandOutcome::Result::TimedOut;
        outcome.step = CommandOutcome::Step::Confirmation;
        break;
    }
    finish(outcome);
}

void MasterEngine::Private::finish(CommandOutcome outcome)
{
    if (!pending)
        return;
    stepTimer->stop();
    Pending done = *pending;
    pending.reset();
    outcome.roundTripMs = now() - done.firstSentMs;
    report(done.request, outcome);
    Q_EMIT q->commandFinished(done.request, outcome, done.answer);
    reportInitialData();
    if (outcome.result == CommandOutcome::Result::Confirmed && outcome.terminationMissing)
        Q_EMIT q->statusMessage(QStringLiteral("%1: confirmed, not terminated").arg(done.request.text()));
    sendNext();
}

void MasterEngine::Private::notSent(const CommandRequest& request, CommandOutcome::Reason reason,
                                    const QString& detail)
{
    CommandOutcome outcome;
    outcome.result = CommandOutcome::Result::NotSent;
    outcome.reason = reason;
    outcome.detail = detail;
    report(request, outcome);
    Q_EMIT q->commandFinished(request, outcome, {});
    reportInitialData();
    Q_EMIT q->statusMessage(QStringLiteral("%1 %2").arg(request.text(), outcome.text()));
}

// Decides whether a failed interrogation of the engine's own is tried again, tells the
// operator about failures, and keeps count of the initial data.
void MasterEngine::Private::report(const CommandRequest& request, CommandOutcome& outcome)
{
    const bool automatic = request.origin == CommandRequest::Origin::Automatic && request.isInterrogation();
    if (!outcome.succeeded()) {
        if (automatic && outcome.reason != CommandOutcome::Reason::Closed) {
            const int attempt = attempts.value(request.id, 1);
            if (attempt < std::max(1, tuning.initialInterrogationAttempts)) {
                outcome.retrying = true;
                attempts.insert(request.id, attempt + 1);
                const qint64 backoff = qint64(std::max(0, tuning.retryBackoffMs))
                                       << std::min(attempt - 1, 10);
                retries.append({request, now() + backoff});
                scheduleRetries();
                Q_EMIT q->statusMessage(QStringLiteral("Interrogation command fail. Retrying..."));
                return;
            }
            Q_EMIT q->statusMessage(QStringLiteral("%1 failed after %2 attempts: %3")
                                        .arg(interrogationName(request.typeId))
                                        .arg(attempt)
                                        .arg(outcome.text()));
        } else if (outcome.result == CommandOutcome::Result::TimedOut &&
                   (request.typeId == C_RD_NA_1 || request.typeId == C_SC_NA_1 ||
                    request.typeId == C_DC_NA_1 || request.typeId == C_CS_NA_1)) {
            Q_EMIT q->statusMessage(QStringLiteral("Command fail (if DoubleCmd, try toggle local/remote)"));
        } else if (outcome.result != CommandOutcome::Result::NotSent) {
            Q_EMIT q->statusMessage(QStringLiteral("%1: %2").arg(request.text(), outcome.text()));
        }
    }
    if (automatic) {
        attempts.remove(request.id);
        if (StationState* station = stationOf(request.linkAddress)) {
            station->initialComplete = station->initialComplete && outcome.succeeded();
            // Said after the outcome that ended it (see reportInitialData).
            if (station->initialOpen > 0 && --station->initialOpen == 0)
                initialDataDone.append({station->station.linkAddress, station->initialComplete});
        }
    }
}

void MasterEngine::Private::reportInitialData()
{
    // After the outcome of the last interrogation, so that a receiver has every outcome
    // in hand when it hears that the initial data is through.
    const QVector<QPair<int, bool>> done = initialDataDone;
    initialDataDone.clear();
    for (const auto& station : done)
        Q_EMIT q->initialDataFinished(station.first, station.second);
}

void MasterEngine::Private::scheduleRetries()
{
    if (retries.isEmpty()) {
        retryTimer->stop();
        return;
    }
    qint64 due = retries.first().dueMs;
    for (const Retry& retry : qAsConst(retries))
        due = std::min(due, retry.dueMs);
    retryTimer->start(int(std::max<qint64>(0, due - now())));
}

void MasterEngine::Private::retryDue()
{
    // Retries join the queue at its end: a station that keeps refusing an interrogation
    // never holds up what the operator asks for.
    const qint64 at = now();
    QList<Retry> due;
    for (auto it = retries.begin(); it != retries.end();) {
        if (it->dueMs <= at) {
            due.append(*it);
            it = retries.erase(it);
        } else {
            ++it;
        }
    }
    scheduleRetries();
    for (const Retry& retry : qAsConst(due))
        q->send(retry.request);
}

void MasterEngine::Private::sendNext()
{
    if (pending || !master)
        return;
    // The first command whose station can take it: one station that is down or busy does
    // not hold up the commands for the others.
    for (int i = 0; i < queue.size(); ++i) {
        if (ready(queue.at(i).linkAddress)) {
            start(queue.takeAt(i));
            return;
        }
    }
}

// ---------------------------------------------------------------- receiving

bool MasterEngine::Private::answersPending(int address, const AsduHeader& header) const
{
    if (!pending || header.typeId != pending->request.typeId)
        return false;
    if (!balanced() && address != pending->request.linkAddress)
        return false;
    const int cause = header.cause;
    if (cause != CS101_COT_ACTIVATION_CON && cause != CS101_COT_DEACTIVATION_CON &&
        cause != CS101_COT_ACTIVATION_TERMINATION && !isRefusingCause(cause))
        return false;
    // A station answers with the common address it was asked with; a refusal for an
    // unknown common address may carry anything there.
    if (header.commonAddress != pending->commonAddress && cause != CS101_COT_UNKNOWN_CA)
        return false;
    const bool addressed = pending->request.typeId != C_IC_NA_1 && pending->request.typeId != C_CI_NA_1 &&
                           pending->request.typeId != C_CS_NA_1 && pending->request.typeId != C_TS_NA_1 &&
                           pending->request.typeId != C_RP_NA_1 && pending->request.typeId != C_CD_NA_1;
    if (addressed && header.firstObjectAddress >= 0 &&
        header.firstObjectAddress != pending->request.objectAddress)
        return false;
    return true;
}

bool MasterEngine::Private::collectsData(int address, const InfoObject& first) const
{
    // Data answers a command of its own station and common address only (any of the
    // station's, for an interrogation of the global address).
    if (!pending || (!balanced() && address != pending->request.linkAddress))
        return false;
    if (first.commonAddress != pending->commonAddress &&
        pending->commonAddress != protocol.broadcastCommonAddress())
        return false;
    switch (pending->request.typeId) {
    case C_RD_NA_1:
        return pending->phase == Phase::Answer && first.cause == CS101_COT_REQUEST;
    case C_IC_NA_1:
        return isInterrogatedCause(first.cause);
    case C_CI_NA_1:
        return isCounterCause(first.cause);
    default:
        return false;
    }
}

void MasterEngine::Private::asduReceived(int address, CS101_ASDU asdu)
{
    AsduHeader header;
    if (!readAsduHeader(asdu, appParameters.sizeOfIOA, header) || header.elementCount <= 0)
        return;
    if (balanced())
        address = firstLinkAddress();
    QVector<InfoObject> objects = decodeAsdu(asdu, appParameters.sizeOfIOA);
    const qint64 received = QDateTime::currentMSecsSinceEpoch();
    for (InfoObject& object : objects) {
        object.linkAddress = address;
        object.receivedMs = received;
    }

    if (ObjectKind::isMonitoring(header.typeId)) {
        if (objects.isEmpty())
            return;
        // Data goes with a command only under the cause that answers it; everything else
        // is what it is (spontaneous, periodic, background, a late answer) and goes out now.
        if (collectsData(address, objects.first())) {
            pending->answer += objects;
            if (pending->request.typeId == C_RD_NA_1) {
                CommandOutcome outcome;
                outcome.result = CommandOutcome::Result::Confirmed;
                outcome.cause = header.cause;
                finish(outcome);
            } else if (pending->phase == Phase::Termination) {
                // A large interrogation keeps its termination wait alive with its own data.
                armStep(protocol.terminationWaitMs);
            }
            return;
        }
        Q_EMIT q->dataReceived(objects);
        return;
    }
    if (answersPending(address, header)) {
        advance(header, objects);
        return;
    }
    // A confirmation or termination of no pending command: a late echo (a broadcast clock
    // sync confirmed after all, a command that timed out) or a frame the station repeats
    // after a link recovery. Counted as an answer it would end or fill the next command.
}

void MasterEngine::Private::advance(const AsduHeader& header, const QVector<InfoObject>& objects)
{
    CommandOutcome outcome;
    outcome.cause = header.cause;
    outcome.negative = header.negative;
    const auto stepOf = [](Phase phase) {
        switch (phase) {
        case Phase::Answer:
            return CommandOutcome::Step::Answer;
        case Phase::SelectConfirmation:
            return CommandOutcome::Step::SelectConfirmation;
        case Phase::DeactivationConfirmation:
            return CommandOutcome::Step::DeactivationConfirmation;
        case Phase::Confirmation:
        case Phase::Termination:
            break;
        }
        return CommandOutcome::Step::Confirmation;
    };
    if (header.negative || isRefusingCause(header.cause)) {
        // Nothing follows a refusal: no execute after a refused select, no retry here.
        outcome.result = CommandOutcome::Result::Refused;
        outcome.step = stepOf(pending->phase);
        finish(outcome);
        return;
    }
    const bool hasTermination = pending->request.expectsTermination();
    switch (header.cause) {
    case CS101_COT_ACTIVATION_CON:
        switch (pending->phase) {
        case Phase::SelectConfirmation:
            if (pending->request.execution == CommandRequest::Execution::SelectOnly) {
                outcome.result = CommandOutcome::Result::Confirmed;
                finish(outcome);
                return;
            }
            pending->phase = Phase::Confirmation;
            if (!transmit(*pending, false)) {
                outcome.result = CommandOutcome::Result::NotSent;
                outcome.reason = CommandOutcome::Reason::Invalid;
                finish(outcome);
                return;
            }
            armStep(protocol.commandTimeoutMs);
            scheduleLineRun(0);
            return;
        case Phase::Confirmation:
            if (pending->request.typeId == C_CS_NA_1)
                pending->answer += objects; // the time the station was set to
            if (pending->request.typeId == C_CD_NA_1)
                outcome.measuredDelayMs = measureLineDelay(objects);
            if (hasTermination) {
                pending->phase = Phase::Termination;
                armStep(protocol.terminationWaitMs);
                return;
            }
            outcome.result = CommandOutcome::Result::Confirmed;
            finish(outcome);
            return;
        default:
            // A repeated confirmation (after a link recovery) changes nothing.
            return;
        }
    case CS101_COT_DEACTIVATION_CON:
        if (pending->phase == Phase::DeactivationConfirmation) {
            outcome.result = CommandOutcome::Result::Confirmed;
            finish(outcome);
        }
        return;
    case CS101_COT_ACTIVATION_TERMINATION:
        // Some stations leave out the confirmation and only terminate.
        if (pending->phase == Phase::Termination ||
            (pending->phase == Phase::Confirmation && hasTermination)) {
            outcome.result = CommandOutcome::Result::Terminated;
            finish(outcome);
        }
        return;
    default:
        return;
    }
}

// Delay acquisition: the activation carries the time it was built as ms within the minute
// (CP16Time2a); the station confirms with that time plus its own delay, from receiving the
// activation to sending the confirmation. What remains of the round trip, measured on the
// engine's clock, is the line's both ways; half of it is the one-way delay. On an
// unbalanced line the round trip includes the poll that fetches the confirmation, so the
// figure is an upper bound. The delay is kept per station and added to a later clock sync
// that asks for it (CommandRequest::addMeasuredDelay) by the master itself: it is not sent
// to the station (cause 3), which would then add it a second time.
qint64 MasterEngine::Private::measureLineDelay(const QVector<InfoObject>& objects)
{
    if (pending->delaySentMs < 0)
        return -1;
    const qint64 roundTrip = now() - pending->delaySentMs;
    qint64 stationDelay = 0;
    if (!objects.isEmpty() && objects.first().value.isValid()) {
        constexpr int kMinuteMs = 60000;
        const int returned = objects.first().value.toInt();
        stationDelay = ((returned - pending->delayStampMs) % kMinuteMs + kMinuteMs) % kMinuteMs;
    }
    // A station whose figure does not fit the round trip has said nothing usable about its
    // own delay.
    if (stationDelay > roundTrip)
        stationDelay = 0;
    const qint64 delay = (roundTrip - stationDelay) / 2;
    lineDelays.insert(pending->request.linkAddress, delay);
    return delay;
}

// ---------------------------------------------------------------- MasterEngine

MasterEngine::MasterEngine(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this))
{
    registerMetaTypes();
}

MasterEngine::~MasterEngine()
{
    // Timers are children and go with the engine; only the library's objects need closing.
    QSignalBlocker quiet(this);
    d->pending.reset();
    d->queue.clear();
    d->destroyMaster();
    if (d->serialPort) {
        SerialPort_close(d->serialPort);
        SerialPort_destroy(d->serialPort);
        d->serialPort = nullptr;
    }
}

LinkState MasterEngine::linkState(int linkAddress) const
{
    if (d->stations.isEmpty())
        return LinkState::Disconnected;
    const Private::StationState* station =
        linkAddress == CommandRequest::kOwnAddress ? &d->stations.first() : d->stationOf(linkAddress);
    return station ? station->state : LinkState::Disconnected;
}

bool MasterEngine::isOpen() const
{
    return d->serialPort != nullptr;
}

bool MasterEngine::isCommandPending() const
{
    return d->pending.has_value();
}

bool MasterEngine::isQueued(int typeId) const
{
    return std::any_of(d->queue.cbegin(), d->queue.cend(),
                       [typeId](const CommandRequest& request) { return request.typeId == typeId; });
}

ProtocolSettings MasterEngine::protocolSettings() const
{
    return d->protocol;
}

EngineTuning MasterEngine::tuning() const
{
    return d->tuning;
}

void MasterEngine::setTuning(const EngineTuning& tuning)
{
    d->tuning = tuning;
    d->tuning.tickMs = std::max(1, tuning.tickMs);
    d->tuning.drainBudgetMs = std::max(0, tuning.drainBudgetMs);
    d->tuning.quietPollMs = std::max(0, tuning.quietPollMs);
    if (d->tickTimer->isActive())
        d->tickTimer->start(d->tickInterval());
}

void MasterEngine::open(const SerialSettings& serial, const ProtocolSettings& protocol)
{
    // Never leak an open line: a second open replaces the first.
    if (d->master || d->serialPort)
        close();

    d->serial = serial;
    d->protocol = protocol;
    d->stations.clear();
    for (const Station& station : protocol.stationList()) {
        Private::StationState state;
        state.station = station;
        state.state = LinkState::Disconnected;
        d->stations.append(state);
        // Balanced mode is point to point: one station.
        if (protocol.mode == LinkMode::Balanced)
            break;
    }
    d->nextStation = 0;
    d->lastTrafficMs = d->now();
    d->tickOverrunMs = 0;
    d->busyBackoffMs = 0;
    d->round = Private::Round();
    d->lineDelays.clear();

    // The library opens the string it gets as a path.
    d->port = PortWatch(serial.portName);
    const QByteArray path = QFile::encodeName(d->port.path());
    d->serialPort = SerialPort_create(path.constData(), serial.baudRate, uint8_t(serial.dataBits),
                                      serial.parity, uint8_t(serial.stopBits));
    d->setAllStates(LinkState::Connecting);
    d->lineOpen = true;
    if (!d->serialPort) {
        d->closeLine();
        return;
    }

    std::memset(&d->linkParameters, 0, sizeof d->linkParameters);
    d->linkParameters.addressLength = protocol.linkAddressOctets();
    d->linkParameters.timeoutForAck = 500;
    d->linkParameters.timeoutRepeat = 2000;
    d->linkParameters.useSingleCharACK = false;
    d->linkParameters.timeoutLinkState = 5000; // the library's own default

    std::memset(&d->appParameters, 0, sizeof d->appParameters);
    d->appParameters.sizeOfTypeId = 1;
    d->appParameters.sizeOfVSQ = 1;
    d->appParameters.sizeOfCOT = protocol.causeOctets();
    d->appParameters.originatorAddress = 0;
    d->appParameters.sizeOfCA = protocol.commonAddressOctets();
    d->appParameters.sizeOfIOA = protocol.objectAddressOctets();
    d->appParameters.maxSizeOfASDU = 249;

    d->createMaster();
    if (!d->master) {
        SerialPort_destroy(d->serialPort);
        d->serialPort = nullptr;
        d->closeLine();
        return;
    }
    // A port that exists but cannot be opened (no permission, in use) is polled all the
    // same and the link never comes up, but the library must not be run on it: its read
    // would hand descriptor -1 to select(), which aborts the process.
    errno = 0;
    d->portOpen = SerialPort_open(d->serialPort);
    const int openError = errno;
    // Without a reason the operator would only see a link that never comes up. A port
    // that does not exist at all is reported as gone at the first tick instead.
    if (!d->portOpen && d->port.available()) {
        Q_EMIT portFailed(d->port.path(), openFailure(openError));
        Q_EMIT statusMessage(
            QStringLiteral("Cannot open %1: %2").arg(d->port.path(), openFailure(openError)));
    }
    d->tickTimer->start(d->tickInterval());
}

void MasterEngine::close()
{
    const bool wasOpen = d->serialPort || d->master;
    // What waited ends first, so that nothing is reported after the line is gone.
    if (d->pending) {
        CommandOutcome outcome;
        outcome.result = CommandOutcome::Result::TimedOut;
        outcome.step = d->pending->phase == Private::Phase::SelectConfirmation
                           ? CommandOutcome::Step::SelectConfirmation
                       : d->pending->phase == Private::Phase::Answer ? CommandOutcome::Step::Answer
                                                                     : CommandOutcome::Step::Confirmation;
        outcome.reason = CommandOutcome::Reason::Closed;
        outcome.detail = QStringLiteral("connection closed");
        const Private::Pending done = *d->pending;
        d->pending.reset();
        d->stepTimer->stop();
        outcome.roundTripMs = d->now() - done.firstSentMs;
        Q_EMIT commandFinished(done.request, outcome, done.answer);
    }
    const QList<CommandRequest> waiting = d->queue;
    d->queue.clear();
    d->retries.clear();
    d->attempts.clear();
    for (const CommandRequest& request : waiting) {
        CommandOutcome outcome;
        outcome.result = CommandOutcome::Result::NotSent;
        outcome.reason = CommandOutcome::Reason::Closed;
        Q_EMIT commandFinished(request, outcome, {});
    }
    for (Private::StationState& station : d->stations)
        station.initialOpen = 0;
    d->closeLine();
    // No tick follows: the last frames (often the ones that explain the end) go now.
    if (wasOpen)
        d->handOverLineFrames();
}

void MasterEngine::send(const CommandRequest& request)
{
    CommandRequest command = request;
    if (command.id == 0)
        command.id = (quint64(1) << 63) | ++d->nextId;
    if (!d->master) {
        d->notSent(command, CommandOutcome::Reason::NotConnected);
        return;
    }
    const QString problem = CommandEncoder::validate(command);
    if (!problem.isEmpty()) {
        d->notSent(command, CommandOutcome::Reason::Invalid, problem);
        return;
    }
    if (!d->resolve(command)) {
        d->notSent(command, CommandOutcome::Reason::Invalid,
                   QStringLiteral("no station with link address %1 on this line").arg(command.linkAddress));
        return;
    }
    // A busy station gets its commands once it is ready again; a station that does not
    // answer at all gets none.
    const LinkState state = linkState(command.linkAddress);
    if (state != LinkState::Available && state != LinkState::Busy) {
        d->notSent(command, CommandOutcome::Reason::LinkDown);
        return;
    }
    if (d->pending || !d->ready(command.linkAddress)) {
        if (d->queue.size() >= kQueueCapacity) {
            d->notSent(command, CommandOutcome::Reason::QueueFull);
            return;
        }
        d->queue.append(command);
        return;
    }
    d->start(command);
}

void MasterEngine::tick()
{
    // Whatever this tick puts on the line goes to the receiver in one batch at its end.
    const auto handOver = qScopeGuard([this] { d->handOverLineFrames(); });
    if (!d->master)
        return;
    // A tick that runs longer than the interval (a slow line busy with long frames) is
    // kept on account, and one tick is skipped per interval of it, so that ticks do not
    // pile up behind a busy line.
    if (d->tuning.drainBudgetMs > 0 && d->tickOverrunMs >= d->tickInterval()) {
        d->tickOverrunMs -= d->tickInterval();
        return;
    }
    if (!d->port.available()) {
        close();
        return;
    }
    if (!d->portOpen)
        return;
    // Balanced mode: a line that has been quiet for a while gets a link test.
    if (d->balanced() && d->now() - d->lastTrafficMs >= d->protocol.linkTestIntervalMs) {
        d->lastTrafficMs = d->now();
        CS101_Master_sendLinkLayerTestFunction(d->master);
    }
    // A command has a run of the line due (it just went out, or its answer is still due);
    // the tick leaves the line to it.
    if (d->lineRunTimer->isActive())
        return;
    QElapsedTimer spent;
    spent.start();
    d->runLine();
    d->tickOverrunMs = std::max<qint64>(0, d->tickOverrunMs + spent.elapsed() - d->tickInterval());
    Q_EMIT polled();
}

void MasterEngine::lineFramesTaken()
{
    d->lineFramesOutstanding = false;
    // While connected the next tick hands over the rest; after a close nothing would.
    if (!d->master)
        d->handOverLineFrames();
}

} // namespace iec101
