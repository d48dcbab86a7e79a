#include "slavesim.h"

// hal_serial.h must come first: the slave header uses SerialPort.
#include <hal_serial.h>

#include <cs101_information_objects.h>
#include <cs101_slave.h>
#include <iec60870_common.h>

#include <QDateTime>
#include <QFileInfo>

#include "pointencoder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace slavesim {

namespace {

// lib60870 information objects are heap objects; this deletes them on every path.
struct IoDeleter
{
    void operator()(sInformationObject* io) const
    {
        if (io) {
            InformationObject_destroy(io);
        }
    }
};
using IoPtr = std::unique_ptr<sInformationObject, IoDeleter>;

struct AsduDeleter
{
    void operator()(sCS101_ASDU* asdu) const
    {
        if (asdu) {
            CS101_ASDU_destroy(asdu);
        }
    }
};
using AsduPtr = std::unique_ptr<sCS101_ASDU, AsduDeleter>;

// One FT1.2 frame from the master, read by the simulated slave itself while it serves the link.
struct Frame
{
    int control = 0;
    int address = 0;
    QByteArray userData;
};

constexpr int kClassQueueSize = 2000; // deep enough for large interrogations
constexpr int kLineCheckMs = 100;
constexpr int kReopenMs = 200;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Bytes one element of a command type occupies after its address; -1 for types we do not decode.
int commandElementSize(int typeId)
{
    switch (typeId) {
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_IC_NA_1:
    case C_CI_NA_1:
        return 1;
    case C_RD_NA_1:
        return 0;
    case C_CS_NA_1:
        return 7;
    default:
        return -1;
    }
}

} // namespace

class SlaveSim::Impl
{
public:
    explicit Impl(const Config& c);

    // All members below are guarded by mutex; the lib60870 handlers run with it held.
    Config config;
    mutable std::mutex mutex;
    std::condition_variable receivedChanged;
    std::thread thread;
    std::atomic<bool> running{false};
    bool paused = false;
    SerialPort port = nullptr;
    bool portOpen = false;
    CS101_Slave slave = nullptr;
    QString openedTarget;
    QString error;
    LogHandler log;
    CommandMode mode = CommandMode::Normal;
    std::vector<int> refusedAddresses;
    qint64 busyUntilMs = 0;
    qint64 nextCyclicMs = 0;
    int nextCyclicPoint = 0;
    bool terminations = true; // from the configuration, changed at run time
    double cyclicRate = 0.0;
    std::map<int, Point> points;
    std::map<int, int> selections; // command address -> selected state
    QVector<ReceivedAsdu> records;
    std::deque<QByteArray> rawQueue;
    bool intercepting = false;
    std::optional<bool> libExpectedFcb;
    std::optional<bool> lastMasterFcb;
    int lastInterrogationAsdus = 0;
    int counterSequence = 0;
    std::mt19937 rng{12345};
    qint64 nextEventMs = 0;
    qint64 nextLineCheckMs = 0;

    bool openLine();
    void closeLine();
    void loop();
    void checkLine();
    void generateEvent();
    void generateCyclic();
    bool busy() const { return busyUntilMs > nowMs(); }
    bool isRefused(int address) const
    {
        return std::find(refusedAddresses.cbegin(), refusedAddresses.cend(), address) !=
               refusedAddresses.cend();
    }

    void logLine(const QString& line) const;
    QString describe(CS101_ASDU asdu) const;
    void send(CS101_ASDU asdu);
    void answer(CS101_ASDU asdu, int cot, bool negative);
    AsduPtr newAsdu(int cot) const;
    IoPtr makeObject(int ioa, const Point& p, TimeTag tag = TimeTag::None,
                     std::optional<qint64> timeMs = {}) const;
    TimeTag eventTag() const;
    void sendPoints(Kind kind, int group, int cot);
    void queueEvent(InformationObject io, int cot = CS101_COT_SPONTANEOUS);
    void injectEvent(int address, Kind kind, double value, bool withTime, std::optional<qint64> timeMs);
    bool isLocal() const;

    void record(CS101_ASDU asdu);
    void handleAsdu(CS101_ASDU asdu);
    void interrogation(CS101_ASDU asdu, int qoi);
    void counterInterrogation(CS101_ASDU asdu, int qcc);
    void read(CS101_ASDU asdu, int ioa);
    void clockSync(CS101_ASDU asdu);
    void command(CS101_ASDU asdu, bool isDouble);

    void serveLink();
    bool readFrame(Frame& frame);
    void writeFixed(int control);
    void writeVariable(int control, const QByteArray& data);
    void writeBytes(QByteArray bytes);
    void processUserData(const QByteArray& data);

    static bool asduHandler(void* parameter, IMasterConnection connection, CS101_ASDU asdu);
};

SlaveSim::Impl::Impl(const Config& c) : config(c), terminations(c.terminations), cyclicRate(c.cyclicRate)
{
    points[ioa::kLocalRemote] = {Kind::Single, c.localMode ? 1.0 : 0.0, 1};
    for (int i = 0; i < ioa::kSinglePointCount; ++i) {
        points[ioa::kFirstSinglePoint + i] = {Kind::Single, double(i % 2), 1};
    }
    for (int n = 1; n <= ioa::kObjectCount; ++n) {
        points[ioa::kObjectStateBase + n] = {Kind::Double, n % 2 ? 1.0 : 2.0, 2};
    }
    for (int i = 0; i < ioa::kMeasuredCount; ++i) {
        points[ioa::kFirstMeasured + i] = {Kind::Measured, 10.5 * (i + 1), 3};
    }
    for (int i = 0; i < ioa::kCounterCount; ++i) {
        points[ioa::kFirstCounter + i] = {Kind::Counter, 1000.0 * (i + 1), i + 1};
    }
    const int extras = std::min(std::max(c.extraPoints, 0), ioa::kMaxExtraPoints);
    for (int i = 1; i <= extras; ++i) {
        points[ioa::kExtraPointBase + i] = {Kind::Single, double(i % 2), 4};
    }
    if (c.profile == Profile::Field) {
        // Values that read naturally in each format: volts, hertz, amperes, a power factor, watts.
        static const double floats[] = {230.5, 49.98, -12.25, 0.5, 1000.0};
        static const double normalizedValues[] = {0.5, -0.25, 0.125, 0.75, -1.0};
        static const double scaledValues[] = {2305, 4998, -1225, 5, 10000};
        const double* values = c.measuredFormat == MeasuredFormat::Normalized ? normalizedValues
                               : c.measuredFormat == MeasuredFormat::Scaled   ? scaledValues
                                                                              : floats;
        for (int i = 0; i < ioa::kMeasuredCount; ++i) {
            points[ioa::kFirstMeasured + i].value = values[i];
        }
        points[ioa::kFirstStep] = {Kind::Step, 5, 3};
        points[ioa::kFirstStep + 1] = {Kind::Step, -3, 3, 0, true};
        points[ioa::kFirstBitstring] = {Kind::Bitstring, double(0x0000a5a5), 3};
        points[ioa::kFirstBitstring + 1] = {Kind::Bitstring, double(0x80000001u), 3};
    }
    for (auto it = c.quality.cbegin(); it != c.quality.cend(); ++it) {
        const auto point = points.find(it.key());
        if (point != points.end()) {
            point->second.quality = it.value() & 0xff;
        }
    }
}

// ---------------------------------------------------------------- line and thread

bool SlaveSim::Impl::openLine()
{
    const QByteArray path = config.portPath.toLocal8Bit();
    port = SerialPort_create(path.constData(), config.baudRate, uint8_t(config.dataBits), config.parity,
                             uint8_t(config.stopBits));
    if (!port) {
        error = QStringLiteral("cannot create serial port %1").arg(config.portPath);
        return false;
    }
    if (!SerialPort_open(port)) {
        error = QStringLiteral("cannot open %1 (error %2)")
                    .arg(config.portPath)
                    .arg(int(SerialPort_getLastError(port)));
        SerialPort_destroy(port);
        port = nullptr;
        return false;
    }
    portOpen = true;
    openedTarget = QFileInfo(config.portPath).canonicalFilePath();

    sLinkLayerParameters ll{};
    ll.addressLength = config.linkAddressLength;
    ll.timeoutForAck = 200;
    ll.timeoutRepeat = 1000;
    ll.useSingleCharACK = false;
    ll.timeoutLinkState = 5000;
    sCS101_AppLayerParameters al{};
    al.sizeOfTypeId = 1;
    al.sizeOfVSQ = 1;
    al.sizeOfCOT = config.sizeOfCOT;
    al.originatorAddress = 0;
    al.sizeOfCA = config.sizeOfCA;
    al.sizeOfIOA = config.sizeOfIOA;
    al.maxSizeOfASDU = config.maxAsduSize;
    slave = CS101_Slave_createEx(port, &ll, &al, IEC60870_LINK_LAYER_UNBALANCED, kClassQueueSize,
                                 kClassQueueSize);
    if (!slave) {
        error = QStringLiteral("cannot create the CS101 slave");
        closeLine();
        return false;
    }
    CS101_Slave_setLinkLayerAddress(slave, config.linkAddress);
    // Every ASDU goes through one handler so that the slave, not the library, decides what
    // (if anything) is answered.
    CS101_Slave_setASDUHandler(slave, &Impl::asduHandler, this);
    intercepting = false;
    libExpectedFcb.reset();
    lastMasterFcb.reset();
    logLine(QStringLiteral("line %1 open").arg(config.portPath));
    return true;
}

void SlaveSim::Impl::closeLine()
{
    if (slave) {
        CS101_Slave_destroy(slave);
        slave = nullptr;
    }
    if (port) {
        // Closing twice would close fd 0, hence the flag.
        if (portOpen) {
            SerialPort_close(port);
        }
        SerialPort_destroy(port);
        port = nullptr;
        logLine(QStringLiteral("line %1 closed").arg(config.portPath));
    }
    portOpen = false;
}

// A vanished device makes the library read garbage in a tight loop, so the line is closed as
// soon as its path is gone or points to another device, and reopened when it is back.
void SlaveSim::Impl::checkLine()
{
    const qint64 now = nowMs();
    if (now < nextLineCheckMs) {
        return;
    }
    const QString target = QFileInfo(config.portPath).canonicalFilePath();
    if (portOpen) {
        nextLineCheckMs = now + kLineCheckMs;
        if (target.isEmpty() || target != openedTarget) {
            closeLine();
        }
    } else {
        nextLineCheckMs = now + kReopenMs;
        if (!target.isEmpty()) {
            openLine();
        }
    }
}

void SlaveSim::Impl::loop()
{
    while (running) {
        bool idle = true;
        {
            std::lock_guard<std::mutex> lock(mutex);
            checkLine();
            if (portOpen && !paused) {
                idle = false;
                if (!rawQueue.empty() || busy()) {
                    intercepting = true;
                }
                if (intercepting) {
                    serveLink();
                } else {
                    CS101_Slave_run(slave); // waits about 10 ms for input
                }
                generateEvent();
                generateCyclic();
            }
        }
        // Outside the lock, so scripting calls from other threads get their turn.
        std::this_thread::sleep_for(std::chrono::milliseconds(idle ? 10 : 1));
    }
}

void SlaveSim::Impl::generateCyclic()
{
    if (cyclicRate <= 0.0 || !slave) {
        return;
    }
    const qint64 now = nowMs();
    if (nextCyclicMs == 0 || nextCyclicMs < now - 1000) {
        nextCyclicMs = now;
    }
    if (now < nextCyclicMs) {
        return;
    }
    nextCyclicMs += std::max<qint64>(1, qint64(1000.0 / cyclicRate));
    // One measured value after the other, unchanged: what a station sends every cycle.
    const int address = ioa::kFirstMeasured + (nextCyclicPoint++ % ioa::kMeasuredCount);
    AsduPtr asdu = newAsdu(CS101_COT_PERIODIC);
    IoPtr io = makeObject(address, points[address]);
    if (asdu && io && CS101_ASDU_addInformationObject(asdu.get(), io.get())) {
        CS101_Slave_enqueueUserDataClass2(slave, asdu.get());
        logLine(QStringLiteral("TX %1 IOA %2 (class 2)").arg(describe(asdu.get())).arg(address));
    }
}

void SlaveSim::Impl::generateEvent()
{
    if (config.eventRate <= 0.0) {
        return;
    }
    const qint64 now = nowMs();
    if (nextEventMs == 0) {
        nextEventMs = now;
    }
    if (now < nextEventMs) {
        return;
    }
    // Counted from the previous due time, not from now: the loop's own latency would
    // otherwise stretch every interval and 20 events/s become about 18. After a pause
    // of more than a second the stream starts afresh instead of catching up.
    nextEventMs = std::max(nextEventMs + std::max<qint64>(1, qint64(1000.0 / config.eventRate)), now - 1000);
    std::uniform_int_distribution<int> pick(0, ioa::kSinglePointCount + ioa::kMeasuredCount - 1);
    const int i = pick(rng);
    if (i < ioa::kSinglePointCount) {
        Point& p = points[ioa::kFirstSinglePoint + i];
        p.value = p.value != 0.0 ? 0.0 : 1.0;
        queueEvent(makeObject(ioa::kFirstSinglePoint + i, p, eventTag()).release());
    } else {
        const int address = ioa::kFirstMeasured + i - ioa::kSinglePointCount;
        Point& p = points[address];
        // A step of about a hundredth of the value's range in the field profile's formats.
        const double range = config.profile != Profile::Field                      ? 1.0
                             : config.measuredFormat == MeasuredFormat::Normalized ? 0.01
                             : config.measuredFormat == MeasuredFormat::Scaled     ? 10.0
                                                                                   : 1.0;
        p.value += range * std::uniform_real_distribution<double>(-1.0, 1.0)(rng);
        if (config.profile == Profile::Field && config.measuredFormat == MeasuredFormat::Scaled) {
            p.value = std::round(p.value);
        }
        queueEvent(makeObject(address, p, eventTag()).release());
    }
}

// ---------------------------------------------------------------- sending

void SlaveSim::Impl::logLine(const QString& line) const
{
    if (log) {
        log(line);
    }
}

QString SlaveSim::Impl::describe(CS101_ASDU asdu) const
{
    const int type = CS101_ASDU_getTypeID(asdu);
    QString text = QStringLiteral("%1 COT %2%3 CA %4 n=%5")
                       .arg(QString::fromLatin1(TypeID_toString(TypeID(type))))
                       .arg(int(CS101_ASDU_getCOT(asdu)))
                       .arg(CS101_ASDU_isNegative(asdu) ? QStringLiteral(" negative") : QString())
                       .arg(CS101_ASDU_getCA(asdu))
                       .arg(CS101_ASDU_getNumberOfElements(asdu));
    return text;
}

void SlaveSim::Impl::send(CS101_ASDU asdu)
{
    if (!slave || !asdu) {
        return;
    }
    CS101_Slave_enqueueUserDataClass1(slave, asdu);
    if (log) {
        // Our own ASDUs and echoed commands of known types are well-formed, so their first
        // element can be decoded safely; an echoed unknown type is left alone.
        const bool decodable =
            CS101_ASDU_getNumberOfElements(asdu) > 0 && CS101_ASDU_getCOT(asdu) != CS101_COT_UNKNOWN_TYPE_ID;
        IoPtr first(decodable ? CS101_ASDU_getElement(asdu, 0) : nullptr);
        logLine(QStringLiteral("TX %1 IOA %2")
                    .arg(describe(asdu))
                    .arg(first ? InformationObject_getObjectAddress(first.get()) : 0));
    }
}

void SlaveSim::Impl::answer(CS101_ASDU asdu, int cot, bool negative)
{
    CS101_ASDU_setCOT(asdu, CS101_CauseOfTransmission(cot));
    CS101_ASDU_setNegative(asdu, negative);
    send(asdu);
}

AsduPtr SlaveSim::Impl::newAsdu(int cot) const
{
    if (!slave) {
        return AsduPtr();
    }
    return AsduPtr(CS101_ASDU_create(CS101_Slave_getAppLayerParameters(slave), false,
                                     CS101_CauseOfTransmission(cot), 0, config.commonAddress, false, false));
}

IoPtr SlaveSim::Impl::makeObject(int address, const Point& p, TimeTag tag, std::optional<qint64> timeMs) const
{
    // Only the field profile lets measured values leave as anything but short floats.
    const MeasuredFormat format =
        config.profile == Profile::Field ? config.measuredFormat : MeasuredFormat::Float;
    return IoPtr(encodePoint(address, p, format, tag, timeMs.value_or(nowMs()), counterSequence));
}

TimeTag SlaveSim::Impl::eventTag() const
{
    return config.profile == Profile::Field ? TimeTag::CP24 : TimeTag::CP56;
}

// Sends every point of one kind (and group, 0 = all) in ascending address order, packed into as
// few ASDUs as the maximum ASDU size allows. The field profile sends the local/remote switch
// ahead of the other single points: stations report in an order of their own, not by address.
void SlaveSim::Impl::sendPoints(Kind kind, int group, int cot)
{
    std::vector<std::pair<int, Point>> selected;
    for (const auto& [address, p] : points) {
        if (p.kind == kind && (group == 0 || p.group == group)) {
            selected.emplace_back(address, p);
        }
    }
    if (config.profile == Profile::Field) {
        std::stable_partition(selected.begin(), selected.end(),
                              [](const auto& entry) { return entry.first == ioa::kLocalRemote; });
    }
    AsduPtr asdu;
    int inAsdu = 0;
    for (const auto& [address, p] : selected) {
        IoPtr io = makeObject(address, p);
        if (!io) {
            continue;
        }
        if (!asdu) {
            asdu = newAsdu(cot);
            if (!asdu) {
                return;
            }
        }
        if (!CS101_ASDU_addInformationObject(asdu.get(), io.get())) {
            send(asdu.get());
            ++lastInterrogationAsdus;
            asdu = newAsdu(cot);
            inAsdu = 0;
            if (!asdu || !CS101_ASDU_addInformationObject(asdu.get(), io.get())) {
                return;
            }
        }
        ++inAsdu;
    }
    if (asdu && inAsdu > 0) {
        send(asdu.get());
        ++lastInterrogationAsdus;
    }
}

void SlaveSim::Impl::queueEvent(InformationObject raw, int cot)
{
    IoPtr io(raw);
    AsduPtr asdu = newAsdu(cot);
    if (!io || !asdu) {
        logLine(QStringLiteral("event dropped: line closed"));
        return;
    }
    CS101_ASDU_addInformationObject(asdu.get(), io.get());
    send(asdu.get());
}

bool SlaveSim::Impl::isLocal() const
{
    const auto it = points.find(ioa::kLocalRemote);
    return it != points.end() && it->second.value != 0.0;
}

// ---------------------------------------------------------------- receiving

bool SlaveSim::Impl::asduHandler(void* parameter, IMasterConnection, CS101_ASDU asdu)
{
    auto* self = static_cast<Impl*>(parameter);
    if (self && asdu) {
        self->handleAsdu(asdu);
    }
    return true;
}

void SlaveSim::Impl::record(CS101_ASDU asdu)
{
    ReceivedAsdu r;
    r.typeId = CS101_ASDU_getTypeID(asdu);
    r.cot = CS101_ASDU_getCOT(asdu);
    r.negative = CS101_ASDU_isNegative(asdu);
    r.test = CS101_ASDU_isTest(asdu);
    r.commonAddress = CS101_ASDU_getCA(asdu);
    r.receivedAtMs = nowMs();
    // Only look inside when the payload really holds one element of a known type.
    const int elementSize = commandElementSize(r.typeId);
    if (elementSize >= 0 && CS101_ASDU_getNumberOfElements(asdu) > 0 &&
        CS101_ASDU_getPayloadSize(asdu) >= config.sizeOfIOA + elementSize) {
        IoPtr io(CS101_ASDU_getElement(asdu, 0));
        if (io) {
            r.ioa = InformationObject_getObjectAddress(io.get());
            switch (r.typeId) {
            case C_SC_NA_1:
                r.value = SingleCommand_getState(reinterpret_cast<SingleCommand>(io.get()));
                r.select = SingleCommand_isSelect(reinterpret_cast<SingleCommand>(io.get()));
                break;
            case C_DC_NA_1:
                r.value = DoubleCommand_getState(reinterpret_cast<DoubleCommand>(io.get()));
                r.select = DoubleCommand_isSelect(reinterpret_cast<DoubleCommand>(io.get()));
                break;
            case C_IC_NA_1:
                r.value = InterrogationCommand_getQOI(reinterpret_cast<InterrogationCommand>(io.get()));
                break;
            case C_CI_NA_1:
                r.value = CounterInterrogationCommand_getQCC(
                    reinterpret_cast<CounterInterrogationCommand>(io.get()));
                break;
            case C_CS_NA_1: {
                CP56Time2a t = ClockSynchronizationCommand_getTime(
                    reinterpret_cast<ClockSynchronizationCommand>(io.get()));
                r.value = t ? qint64(CP56Time2a_toMsTimestamp(t)) : 0;
                break;
            }
            default:
                break;
            }
        }
    }
    records.append(r);
    receivedChanged.notify_all();
    logLine(QStringLiteral("RX %1 IOA %2%3 value %4")
                .arg(describe(asdu))
                .arg(r.ioa)
                .arg(r.select ? QStringLiteral(" select") : QString())
                .arg(r.value));
}

void SlaveSim::Impl::handleAsdu(CS101_ASDU asdu)
{
    record(asdu);
    const ReceivedAsdu r = records.constLast();
    const int type = r.typeId;
    if (commandElementSize(type) < 0) {
        if (mode != CommandMode::Silent) {
            answer(asdu, CS101_COT_UNKNOWN_TYPE_ID, true);
        }
        return;
    }
    if (type == C_CS_NA_1) {
        clockSync(asdu);
        return;
    }
    if (mode == CommandMode::Silent) {
        return;
    }
    if (r.commonAddress != config.commonAddress) {
        answer(asdu, CS101_COT_UNKNOWN_CA, true);
        return;
    }
    const bool deactivation = r.cot == CS101_COT_DEACTIVATION && (type == C_SC_NA_1 || type == C_DC_NA_1);
    if (r.cot != CS101_COT_ACTIVATION && !(type == C_RD_NA_1 && r.cot == CS101_COT_REQUEST) &&
        !deactivation) {
        answer(asdu, CS101_COT_UNKNOWN_COT, true);
        return;
    }
    switch (type) {
    case C_IC_NA_1:
        interrogation(asdu, int(r.value));
        break;
    case C_CI_NA_1:
        counterInterrogation(asdu, int(r.value));
        break;
    case C_RD_NA_1:
        read(asdu, r.ioa);
        break;
    case C_SC_NA_1:
    case C_DC_NA_1:
        command(asdu, type == C_DC_NA_1);
        break;
    default:
        break;
    }
}

void SlaveSim::Impl::interrogation(CS101_ASDU asdu, int qoi)
{
    if (mode == CommandMode::Negative || isRefused(0) || qoi < CS101_COT_INTERROGATED_BY_STATION ||
        qoi > CS101_COT_INTERROGATED_BY_GROUP_16) {
        answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    answer(asdu, CS101_COT_ACTIVATION_CON, false);
    lastInterrogationAsdus = 0;
    const int group = qoi - CS101_COT_INTERROGATED_BY_STATION; // 0 = station
    for (Kind kind : {Kind::Single, Kind::Double, Kind::Measured, Kind::Step, Kind::Bitstring}) {
        sendPoints(kind, group, qoi); // the cause equals the qualifier (20 + group)
    }
    if (terminations) {
        answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
    }
}

void SlaveSim::Impl::counterInterrogation(CS101_ASDU asdu, int qcc)
{
    const int request = qcc & 0x3f; // 1..4 one group, 5 all
    if (mode == CommandMode::Negative || isRefused(0) || request < 1 || request > 5) {
        answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    answer(asdu, CS101_COT_ACTIVATION_CON, false);
    lastInterrogationAsdus = 0;
    ++counterSequence;
    const int group = request == 5 ? 0 : request;
    sendPoints(Kind::Counter, group, CS101_COT_REQUESTED_BY_GENERAL_COUNTER + group);
    if (terminations) {
        answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
    }
}

void SlaveSim::Impl::read(CS101_ASDU asdu, int address)
{
    const auto it = points.find(address);
    if (mode == CommandMode::Negative || it == points.end()) {
        answer(asdu, CS101_COT_UNKNOWN_IOA, true);
        return;
    }
    AsduPtr out = newAsdu(CS101_COT_REQUEST);
    IoPtr io = makeObject(address, it->second);
    if (out && io && CS101_ASDU_addInformationObject(out.get(), io.get())) {
        send(out.get());
    }
}

void SlaveSim::Impl::clockSync(CS101_ASDU asdu)
{
    const int ca = CS101_ASDU_getCA(asdu);
    const bool broadcast = ca == (config.sizeOfCA == 1 ? 0xff : 0xffff);
    if (broadcast) {
        // A broadcast is sent without reply; a confirmation is optional and off by default.
        if (config.echoBroadcastClockSync && mode != CommandMode::Silent) {
            answer(asdu, CS101_COT_ACTIVATION_CON, false);
        }
        return;
    }
    if (mode == CommandMode::Silent) {
        return;
    }
    if (ca != config.commonAddress) {
        answer(asdu, CS101_COT_UNKNOWN_CA, true);
        return;
    }
    if (CS101_ASDU_getCOT(asdu) != CS101_COT_ACTIVATION) {
        answer(asdu, CS101_COT_UNKNOWN_COT, true);
        return;
    }
    // The confirmation echoes the time the master sent.
    answer(asdu, CS101_COT_ACTIVATION_CON, mode == CommandMode::Negative);
}

// Select before execute: a select is remembered per address; an execute is accepted only after
// a select of the same address and state, which it consumes.
void SlaveSim::Impl::command(CS101_ASDU asdu, bool isDouble)
{
    const ReceivedAsdu r = records.constLast();
    int object = 0;
    if (isDouble) {
        object = r.ioa - ioa::kDoubleCommandBase;
        if (object < 1 || object > ioa::kObjectCount) {
            answer(asdu, CS101_COT_UNKNOWN_IOA, true);
            return;
        }
    } else if (r.ioa < ioa::kFirstSingleCommand || r.ioa > ioa::kLastSingleCommand) {
        answer(asdu, CS101_COT_UNKNOWN_IOA, true);
        return;
    }
    if (r.cot == CS101_COT_DEACTIVATION) {
        selections.erase(r.ioa);
        answer(asdu, CS101_COT_DEACTIVATION_CON, false);
        return;
    }
    const bool refused = mode == CommandMode::Negative || isRefused(r.ioa) || (isDouble && isLocal()) ||
                         (isDouble && r.value != 1 && r.value != 2);
    if (refused) {
        selections.erase(r.ioa);
        answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    if (r.select) {
        selections[r.ioa] = int(r.value);
        answer(asdu, CS101_COT_ACTIVATION_CON, false);
        return;
    }
    if (mode == CommandMode::AnswerSelectOnly) {
        return;
    }
    const auto sel = selections.find(r.ioa);
    if (sel == selections.end() || sel->second != r.value) {
        answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    selections.erase(sel);
    answer(asdu, CS101_COT_ACTIVATION_CON, false);
    if (isDouble) {
        const int stateAddress = ioa::kObjectStateBase + object;
        Point& state = points[stateAddress];
        state.value = double(r.value);
        queueEvent(makeObject(stateAddress, state, eventTag()).release());
    }
    if (terminations) {
        answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
    }
}

// ---------------------------------------------------------------- serving the link directly
//
// While raw ASDUs are pending the library is not run: the slave reads the master's frames
// itself and answers them. The library never sees those frames, so its expected frame count bit
// (FCB) would fall out of step with the master, and it would answer the next FCV frame by
// repeating its previous frame (a duplicate ASDU at the master). To avoid that, the slave keeps
// serving the link until the master's next FCB is the one the library expects, which costs at
// most one extra frame (answered with "no data", or taken as user data and acknowledged).

bool SlaveSim::Impl::readFrame(Frame& frame)
{
    SerialPort_setTimeout(port, 10);
    const int first = SerialPort_readByte(port);
    if (first < 0) {
        return false;
    }
    SerialPort_setTimeout(port, 100);
    auto next = [this](int& out) {
        out = SerialPort_readByte(port);
        return out >= 0;
    };
    const int addrLen = config.linkAddressLength;
    QByteArray body; // control, address, user data
    int b = 0;
    if (first == 0x10) {
        for (int i = 0; i < 1 + addrLen; ++i) {
            if (!next(b)) {
                return false;
            }
            body.append(char(b));
        }
    } else if (first == 0x68) {
        int l1 = 0, l2 = 0, start2 = 0;
        if (!next(l1) || !next(l2) || !next(start2) || l1 != l2 || start2 != 0x68 || l1 < 1 + addrLen) {
            return false;
        }
        for (int i = 0; i < l1; ++i) {
            if (!next(b)) {
                return false;
            }
            body.append(char(b));
        }
    } else {
        return false; // single character or noise
    }
    int checksum = 0, end = 0;
    if (!next(checksum) || !next(end) || end != 0x16) {
        return false;
    }
    int sum = 0;
    for (char c : body) {
        sum += uint8_t(c);
    }
    if ((sum & 0xff) != checksum) {
        return false;
    }
    frame.control = uint8_t(body[0]);
    frame.address = uint8_t(body[1]);
    if (addrLen == 2) {
        frame.address |= uint8_t(body[2]) << 8;
    }
    frame.userData = body.mid(1 + addrLen);
    return true;
}

void SlaveSim::Impl::writeBytes(QByteArray bytes)
{
    if (portOpen && !bytes.isEmpty()) {
        SerialPort_write(port, reinterpret_cast<uint8_t*>(bytes.data()), 0, bytes.size());
    }
}

void SlaveSim::Impl::writeFixed(int control)
{
    QByteArray f;
    f.append(char(0x10));
    f.append(char(control));
    int sum = control;
    for (int i = 0; i < config.linkAddressLength; ++i) {
        const int octet = (config.linkAddress >> (8 * i)) & 0xff;
        f.append(char(octet));
        sum += octet;
    }
    f.append(char(sum & 0xff));
    f.append(char(0x16));
    writeBytes(f);
}

void SlaveSim::Impl::writeVariable(int control, const QByteArray& data)
{
    QByteArray body;
    body.append(char(control));
    for (int i = 0; i < config.linkAddressLength; ++i) {
        body.append(char((config.linkAddress >> (8 * i)) & 0xff));
    }
    body.append(data.left(255 - body.size())); // the length octet caps the frame
    int sum = 0;
    for (char c : body) {
        sum += uint8_t(c);
    }
    QByteArray f;
    f.append(char(0x68));
    f.append(char(body.size()));
    f.append(char(body.size()));
    f.append(char(0x68));
    f.append(body);
    f.append(char(sum & 0xff));
    f.append(char(0x16));
    writeBytes(f);
}

void SlaveSim::Impl::processUserData(const QByteArray& data)
{
    QByteArray copy = data; // the ASDU refers to this buffer and may rewrite its cause
    AsduPtr asdu(CS101_ASDU_createFromBuffer(CS101_Slave_getAppLayerParameters(slave),
                                             reinterpret_cast<uint8_t*>(copy.data()), copy.size()));
    if (asdu) {
        handleAsdu(asdu.get());
    }
}

void SlaveSim::Impl::serveLink()
{
    Frame f;
    if (!readFrame(f)) {
        return;
    }
    const int broadcast = config.linkAddressLength == 2 ? 0xffff : 0xff;
    const bool prm = f.control & 0x40;
    if (!prm || (f.address != config.linkAddress && f.address != broadcast)) {
        return;
    }
    const int fc = f.control & 0x0f;
    const bool fcv = f.control & 0x10;
    const bool fcb = f.control & 0x20;
    if (busy()) {
        // DFC set on every answer: the status of the link (function 11), everything else
        // refused (function 1). The frame is not taken, so the frame count stays as it was.
        constexpr int dfc = 0x10;
        if (f.address == config.linkAddress) {
            writeFixed(dfc | (fc == 9 ? 0x0b : 0x01));
        }
        logLine(QStringLiteral("busy: refused function %1").arg(fc));
        return;
    }
    if (fcv) {
        if (!libExpectedFcb) {
            libExpectedFcb = fcb; // the library would have taken this very frame
        }
        lastMasterFcb = fcb;
    }
    // ACD is set on every answer so the master asks for class 1 data, where the library may have
    // answers waiting once it serves the line again.
    constexpr int acd = 0x20;
    switch (fc) {
    case 0: // reset of remote link
        writeFixed(acd | 0x00);
        lastMasterFcb = false; // the master starts again with FCB = 1
        break;
    case 3: // user data, confirmed
        processUserData(f.userData);
        writeFixed(acd | 0x00);
        break;
    case 4: // user data, no reply (broadcast)
        processUserData(f.userData);
        break;
    case 9: // request status of link
        writeFixed(acd | 0x0b);
        break;
    case 10: // request user data class 1
    case 11: // request user data class 2
        if (!rawQueue.empty()) {
            const QByteArray raw = rawQueue.front();
            rawQueue.pop_front();
            writeVariable(acd | 0x08, raw);
            logLine(QStringLiteral("TX raw ASDU %1").arg(QString::fromLatin1(raw.toHex(' '))));
        } else {
            writeFixed(acd | 0x09); // no data available
        }
        break;
    default:
        break;
    }
    if (rawQueue.empty()) {
        const bool inStep = !libExpectedFcb || (lastMasterFcb && !*lastMasterFcb == *libExpectedFcb);
        if (inStep) {
            intercepting = false;
            libExpectedFcb.reset();
            lastMasterFcb.reset();
        }
    }
}

// ---------------------------------------------------------------- SlaveSim

SlaveSim::SlaveSim(const Config& config) : d(std::make_unique<Impl>(config)) {}

SlaveSim::~SlaveSim()
{
    stop();
}

bool SlaveSim::start()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->running) {
        return true;
    }
    if (!d->portOpen && !d->openLine()) {
        return false;
    }
    if (d->config.profile == Profile::Field) {
        // A station that has just started says so: end of initialisation, local power on.
        d->queueEvent(reinterpret_cast<InformationObject>(EndOfInitialization_create(nullptr, 0)),
                      CS101_COT_INITIALIZED);
    }
    d->running = true;
    d->thread = std::thread([this] { d->loop(); });
    return true;
}

void SlaveSim::stop()
{
    d->running = false;
    if (d->thread.joinable()) {
        d->thread.join();
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    d->closeLine();
}

bool SlaveSim::isRunning() const
{
    return d->running;
}

QString SlaveSim::errorString() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->error;
}

const Config& SlaveSim::config() const
{
    return d->config; // never changed after construction
}

void SlaveSim::setLogHandler(LogHandler handler)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log = std::move(handler);
}

void SlaveSim::setRefusedAddresses(const QVector<int>& addresses)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->refusedAddresses.assign(addresses.cbegin(), addresses.cend());
}

void SlaveSim::setTerminations(bool terminate)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->terminations = terminate;
}

void SlaveSim::setCyclicRate(double perSecond)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->cyclicRate = perSecond;
}

void SlaveSim::setBusy(int durationMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->busyUntilMs = nowMs() + std::max(0, durationMs);
}

void SlaveSim::setCommandMode(CommandMode mode)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->mode = mode;
}

CommandMode SlaveSim::commandMode() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->mode;
}

void SlaveSim::setLocalMode(bool local)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->points[ioa::kLocalRemote].value = local ? 1.0 : 0.0;
}

bool SlaveSim::isLocalMode() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->isLocal();
}

bool SlaveSim::setPointValue(int address, double value)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto it = d->points.find(address);
    if (it == d->points.end()) {
        return false;
    }
    it->second.value = value;
    return true;
}

std::optional<double> SlaveSim::pointValue(int address) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto it = d->points.find(address);
    if (it == d->points.end()) {
        return std::nullopt;
    }
    return it->second.value;
}

void SlaveSim::Impl::injectEvent(int address, Kind kind, double value, bool withTime,
                                 std::optional<qint64> timeMs)
{
    Point p{kind, value, 0};
    const auto it = points.find(address);
    if (it != points.end() && it->second.kind == kind) {
        it->second.value = value;
        p = it->second;
    }
    queueEvent(makeObject(address, p, withTime ? eventTag() : TimeTag::None, timeMs).release());
}

void SlaveSim::injectSinglePoint(int address, bool value, bool withTime, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->injectEvent(address, Kind::Single, value ? 1.0 : 0.0, withTime, timeMs);
}

void SlaveSim::injectDoublePoint(int address, int state, bool withTime, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->injectEvent(address, Kind::Double, state & 3, withTime, timeMs);
}

void SlaveSim::injectMeasured(int address, float value, bool withTime, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->injectEvent(address, Kind::Measured, value, withTime, timeMs);
}

bool SlaveSim::injectPoint(int address, double value, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto it = d->points.find(address);
    if (it == d->points.end()) {
        return false;
    }
    d->injectEvent(address, it->second.kind, value, true, timeMs);
    return true;
}

void SlaveSim::pause()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->paused = true;
}

void SlaveSim::resume()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->paused = false;
}

bool SlaveSim::isPaused() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->paused;
}

void SlaveSim::drainInput()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->portOpen) {
        return;
    }
    SerialPort_discardInBuffer(d->port);
    // Bytes still in flight are read and dropped too; bounded so a chattering line cannot hang us.
    SerialPort_setTimeout(d->port, 5);
    for (int i = 0; i < 65536 && SerialPort_readByte(d->port) >= 0; ++i) {
    }
}

void SlaveSim::sendRawAsdu(const QByteArray& asdu)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->rawQueue.push_back(asdu);
}

bool SlaveSim::rawAsduPending() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return !d->rawQueue.empty();
}

bool SlaveSim::writeRawBytes(const QByteArray& bytes)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->portOpen) {
        return false;
    }
    d->writeBytes(bytes);
    return true;
}

QVector<ReceivedAsdu> SlaveSim::received() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->records;
}

QVector<ReceivedAsdu> SlaveSim::received(int typeId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QVector<ReceivedAsdu> out;
    for (const ReceivedAsdu& r : d->records) {
        if (r.typeId == typeId) {
            out.append(r);
        }
    }
    return out;
}

void SlaveSim::clearReceived()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->records.clear();
}

std::optional<ReceivedAsdu> SlaveSim::waitForCommand(int typeId, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    std::optional<ReceivedAsdu> found;
    d->receivedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const ReceivedAsdu& r : d->records) {
            if (r.typeId == typeId) {
                found = r;
                return true;
            }
        }
        return false;
    });
    return found;
}

int SlaveSim::lastInterrogationAsduCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->lastInterrogationAsdus;
}

} // namespace slavesim
