#include "slavesim.h"

// hal_serial.h must come first: the slave header uses SerialPort.
#include <hal_serial.h>

#include <cs101_slave.h>

#include <QDateTime>
#include <QFileInfo>

#include "commandhandler.h"
#include "eventsource.h"
#include "linkserver.h"
#include "outbox.h"
#include "pointdatabase.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace slavesim {

namespace {

constexpr int kClassQueueSize = 2000; // deep enough for large interrogations
constexpr int kLineCheckMs = 100;
constexpr int kReopenMs = 200;

} // namespace

// The line, the thread and the station itself: its points, what it sends, how it
// answers the master, what it reports on its own, and the link server that takes the line
// over from the library for raw frames and busy answers. One mutex guards all of it: the
// station's thread holds it for each turn of its loop (the library's handlers run inside),
// every scripting call for its own duration.
class SlaveSim::Impl
{
public:
    explicit Impl(const Config& c);

    const Config config;
    LogHandler log;
    PointDatabase points{config};
    Outbox outbox{config, log};
    CommandHandler commands{config, points, outbox, log};
    EventSource events{config, points, outbox};
    LinkServer link{config, log, [this](const QByteArray& userData) {
                        handleUserData(userData);
                    }};

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
    qint64 nextLineCheckMs = 0;

    bool openLine();
    void closeLine();
    void checkLine();
    void loop();
    void logLine(const QString& line) const;
    void handleAsdu(CS101_ASDU asdu);
    void handleUserData(const QByteArray& userData);

    static bool asduHandler(void* parameter, IMasterConnection connection, CS101_ASDU asdu);
};

SlaveSim::Impl::Impl(const Config& c) : config(c) {}

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
    slave = CS101_Slave_createEx(
        port, &ll, &al, config.balanced ? IEC60870_LINK_LAYER_BALANCED : IEC60870_LINK_LAYER_UNBALANCED,
        kClassQueueSize, kClassQueueSize);
    if (!slave) {
        error = QStringLiteral("cannot create the CS101 slave");
        closeLine();
        return false;
    }
    CS101_Slave_setLinkLayerAddress(slave, config.linkAddress);
    if (config.balanced) {
        // The controlled station of a point-to-point link: DIR clear, the master's address known.
        CS101_Slave_setLinkLayerAddressOtherStation(slave, config.masterLinkAddress);
        CS101_Slave_setDIR(slave, false);
    }
    // Every ASDU goes through one handler so that the station, not the library, decides what
    // (if anything) is answered.
    CS101_Slave_setASDUHandler(slave, &Impl::asduHandler, this);
    outbox.setSlave(slave);
    link.setPort(port);
    logLine(QStringLiteral("line %1 open").arg(config.portPath));
    return true;
}

void SlaveSim::Impl::closeLine()
{
    outbox.setSlave(nullptr);
    link.setPort(nullptr);
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
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
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
                if (link.servesLine()) {
                    link.serve();
                } else {
                    CS101_Slave_run(slave); // waits about 10 ms for input
                }
                events.poll();
            }
        }
        // Outside the lock, so scripting calls from other threads get their turn.
        std::this_thread::sleep_for(std::chrono::milliseconds(idle ? 10 : 1));
    }
}

void SlaveSim::Impl::logLine(const QString& line) const
{
    if (log) {
        log(line);
    }
}

void SlaveSim::Impl::handleAsdu(CS101_ASDU asdu)
{
    commands.handle(asdu);
    receivedChanged.notify_all();
}

bool SlaveSim::Impl::asduHandler(void* parameter, IMasterConnection, CS101_ASDU asdu)
{
    auto* self = static_cast<Impl*>(parameter);
    if (self && asdu) {
        self->handleAsdu(asdu);
    }
    return true;
}

// User data the link server took off the line, decoded as the library decodes it.
void SlaveSim::Impl::handleUserData(const QByteArray& userData)
{
    if (!slave) {
        return;
    }
    QByteArray copy = userData; // the ASDU refers to this buffer and may rewrite its cause
    AsduPtr asdu(CS101_ASDU_createFromBuffer(CS101_Slave_getAppLayerParameters(slave),
                                             reinterpret_cast<uint8_t*>(copy.data()), int(copy.size())));
    if (asdu) {
        handleAsdu(asdu.get());
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
        d->outbox.sendObject(
            IoPtr(reinterpret_cast<InformationObject>(EndOfInitialization_create(nullptr, 0))),
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
    d->commands.setRefusedAddresses(addresses);
}

void SlaveSim::setTerminations(bool terminate)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->commands.setTerminations(terminate);
}

void SlaveSim::setCyclicRate(double perSecond)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->events.setCyclicRate(perSecond);
}

void SlaveSim::setBusy(int durationMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->link.setBusy(durationMs);
}

void SlaveSim::setCommandMode(CommandMode mode)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->commands.setMode(mode);
}

CommandMode SlaveSim::commandMode() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->commands.mode();
}

void SlaveSim::setLocalMode(bool local)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->points.setLocal(local);
}

bool SlaveSim::setPointValue(int address, double value)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    Point* p = d->points.find(address);
    if (!p) {
        return false;
    }
    p->value = value;
    return true;
}

std::optional<double> SlaveSim::pointValue(int address) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const Point* p = d->points.find(address);
    if (!p) {
        return std::nullopt;
    }
    return p->value;
}

void SlaveSim::injectSinglePoint(int address, bool value, bool withTime, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->events.inject(address, Kind::Single, value ? 1.0 : 0.0, withTime, timeMs);
}

void SlaveSim::injectDoublePoint(int address, int state, bool withTime, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->events.inject(address, Kind::Double, state & 3, withTime, timeMs);
}

void SlaveSim::injectMeasured(int address, float value, bool withTime, std::optional<qint64> timeMs)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->events.inject(address, Kind::Measured, value, withTime, timeMs);
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

void SlaveSim::drainInput()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->portOpen) {
        return;
    }
    d->link.discardInput();
    SerialPort_discardInBuffer(d->port);
    // Bytes still in flight are read and dropped too; bounded so a chattering line cannot hang us.
    SerialPort_setTimeout(d->port, 5);
    for (int i = 0; i < 65536 && SerialPort_readByte(d->port) >= 0; ++i) {
    }
}

void SlaveSim::sendRawAsdu(const QByteArray& asdu)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->link.queueRawAsdu(asdu);
}

bool SlaveSim::rawAsduPending() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->link.rawAsduPending();
}

QVector<ReceivedAsdu> SlaveSim::received() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->commands.received();
}

QVector<ReceivedAsdu> SlaveSim::received(int typeId) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    QVector<ReceivedAsdu> out;
    for (const ReceivedAsdu& r : d->commands.received()) {
        if (r.typeId == typeId) {
            out.append(r);
        }
    }
    return out;
}

void SlaveSim::clearReceived()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->commands.clearReceived();
}

std::optional<ReceivedAsdu> SlaveSim::waitForCommand(int typeId, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    std::optional<ReceivedAsdu> found;
    d->receivedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const ReceivedAsdu& r : d->commands.received()) {
            if (r.typeId == typeId) {
                found = r;
                return true;
            }
        }
        return false;
    });
    return found;
}

} // namespace slavesim
