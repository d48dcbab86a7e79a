#include "linelistener.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QPair>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <iec60870_common.h>

#include "ft12.h"
#include "lineframebuffer.h"
#include "objectkind.h"
#include "portwatch.h"
#include "userdatadecoder.h"

namespace iec101 {

namespace {

constexpr int kHandOverMs = 50;
constexpr int kCheckMs = 100;
// A frame begun and not finished after this much silence is given up, so that the next
// one starts clean; a frame's octets follow each other without gaps.
constexpr qint64 kStalledFrameMs = 1000;
constexpr int kReadChunk = 4096;
// Commands a tapped line can have waiting at once; activations beyond them (a line full of
// noise that decodes as commands) are not followed.
constexpr int kMaxPending = 1000;

speed_t speedOf(int baud)
{
    switch (baud) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B9600;
    }
}

// Read-only, no controlling terminal, in the line's character format. Setting the format
// changes the receiver only; nothing goes out.
int openReadOnly(const QString& path, const SerialSettings& serial, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("Cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        tio.c_cflag |= (serial.dataBits == 7 ? CS7 : CS8) | CREAD | CLOCAL;
        if (serial.parity == 'E' || serial.parity == 'O')
            tio.c_cflag |= PARENB | (serial.parity == 'O' ? PARODD : 0);
        if (serial.stopBits == 2)
            tio.c_cflag |= CSTOPB;
        cfsetispeed(&tio, speedOf(serial.baudRate));
        cfsetospeed(&tio, speedOf(serial.baudRate));
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// The key of a command: where it went and to which object.
using CommandKey = QPair<QPair<int, int>, QPair<int, int>>; // (la, ca), (type, ioa)

} // namespace

struct LineListener::Private
{
    struct Device
    {
        int fd = -1;
        QSocketNotifier* notifier = nullptr;
        std::unique_ptr<Ft12::Reassembler> reassembler;
        int direction = -1; // -1 both; 1 the master's; 0 the station's
        QString path;
        qint64 lastOctetMs = 0;
        QByteArray recent; // the last octets fed, at least as many as the reassembler holds
    };

    struct Pending
    {
        CommandRequest request;
        qint64 sentMs = 0;
        qint64 confirmedMs = -1;    // waiting for the termination once confirmed
        QVector<InfoObject> answer; // an interrogation's data, a read's object
    };

    explicit Private(LineListener* listener) : q(listener) {}

    bool openDevice(const QString& portName, int direction);
    void readDevice(Device& device);
    void frameComplete(const QByteArray& octets, int direction);
    void userData(const Ft12::Frame& frame, bool fromMaster);
    void masterAsdu(int linkAddress, const AsduHeader& header, const QByteArray& userData);
    void stationAsdu(int linkAddress, const AsduHeader& header, const QVector<InfoObject>& objects);
    void finish(const CommandKey& key, CommandOutcome outcome);
    // The command of the other master that data under this header answers, if one waits.
    CommandKey answered(int linkAddress, const AsduHeader& header) const;
    void checkTimes();
    void handOver();
    void setState(int linkAddress, LinkState state);
    int stationOf(int linkAddress) const;

    LineListener* q;
    SerialSettings serial;
    ProtocolSettings protocol;
    UserDataDecoder decoder;
    std::vector<std::unique_ptr<Device>> devices;
    LineFrameBuffer frames;
    bool batchOut = false; // a batch was handed over and not taken yet
    bool lastFromMaster = false;
    QHash<int, LinkState> states;
    QHash<CommandKey, Pending> pending;
    quint64 nextId = 0;
    QTimer* handOverTimer = nullptr;
    QTimer* checkTimer = nullptr;
};

LineListener::LineListener(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this))
{
    d->handOverTimer = new QTimer(this);
    d->handOverTimer->setObjectName(QStringLiteral("handOverTimer"));
    connect(d->handOverTimer, &QTimer::timeout, this, [this] { d->handOver(); });
    d->checkTimer = new QTimer(this);
    d->checkTimer->setObjectName(QStringLiteral("checkTimer"));
    connect(d->checkTimer, &QTimer::timeout, this, [this] { d->checkTimes(); });
}

LineListener::~LineListener()
{
    // Quietly: nobody may be left to hear it.
    const QSignalBlocker blocker(this);
    close();
}

bool LineListener::isOpen() const
{
    return !d->devices.empty();
}

void LineListener::open(const SerialSettings& serial, const ProtocolSettings& protocol,
                        const QString& secondPort)
{
    if (isOpen())
        close();
    d->serial = serial;
    d->protocol = protocol;
    d->decoder = UserDataDecoder(protocol);
    d->states.clear();
    d->pending.clear();
    d->lastFromMaster = false;
    const bool twoDevices = !secondPort.isEmpty();
    if (!d->openDevice(serial.portName, twoDevices ? 1 : -1) ||
        (twoDevices && !d->openDevice(secondPort, 0))) {
        close();
        return;
    }
    for (const Station& station : protocol.stationList())
        d->setState(station.linkAddress, LinkState::Connecting);
    Q_EMIT statusMessage(twoDevices ? QStringLiteral("Listening on %1 (master) and %2 (station), read only")
                                          .arg(d->devices[0]->path, d->devices[1]->path)
                                    : QStringLiteral("Listening on %1, read only").arg(d->devices[0]->path));
    d->handOverTimer->start(kHandOverMs);
    d->checkTimer->start(kCheckMs);
}

void LineListener::close()
{
    const bool wasOpen = isOpen();
    for (auto& device : d->devices) {
        delete device->notifier;
        if (device->fd >= 0)
            ::close(device->fd);
    }
    d->devices.clear();
    d->handOverTimer->stop();
    d->checkTimer->stop();
    // Commands still waiting end with the line.
    const auto keys = d->pending.keys();
    for (const CommandKey& key : keys) {
        CommandOutcome outcome;
        outcome.result = CommandOutcome::Result::NotSent;
        outcome.reason = CommandOutcome::Reason::Closed;
        d->finish(key, outcome);
    }
    d->batchOut = false;
    d->handOver();
    if (wasOpen || !d->states.isEmpty()) {
        const auto addresses = d->states.keys();
        for (int address : addresses)
            d->setState(address, LinkState::Disconnected);
    }
    d->states.clear();
}

void LineListener::lineFramesTaken()
{
    d->batchOut = false;
}

bool LineListener::Private::openDevice(const QString& portName, int direction)
{
    const QString path = PortWatch(portName).path();
    QString error;
    const int fd = openReadOnly(path, serial, &error);
    if (fd < 0) {
        Q_EMIT q->statusMessage(error);
        const QVector<Station> list = protocol.stationList();
        Q_EMIT q->linkStateChanged(list.isEmpty() ? protocol.linkAddress : list.first().linkAddress,
                                   LinkState::Disconnected);
        return false;
    }
    auto device = std::make_unique<Device>();
    device->fd = fd;
    device->path = path;
    device->direction = direction;
    device->reassembler = std::make_unique<Ft12::Reassembler>(protocol.linkAddressOctets());
    device->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, q);
    Device* raw = device.get();
    QObject::connect(device->notifier, &QSocketNotifier::activated, q, [this, raw] { readDevice(*raw); });
    devices.push_back(std::move(device));
    return true;
}

void LineListener::Private::readDevice(Device& device)
{
    char buffer[kReadChunk];
    // At most a few chunks per wake-up, so that one flooding device cannot starve the
    // event loop; the notifier fires again for the rest.
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = ::read(device.fd, buffer, sizeof buffer);
        if (n > 0) {
            device.lastOctetMs = QDateTime::currentMSecsSinceEpoch();
            device.recent.append(buffer, int(n));
            if (device.recent.size() > 2 * Ft12::kMaxFrameSize)
                device.recent.remove(0, device.recent.size() - Ft12::kMaxFrameSize);
            const QVector<QByteArray> complete = device.reassembler->feed(buffer, int(n));
            for (const QByteArray& octets : complete)
                frameComplete(octets, device.direction);
            if (n < ssize_t(sizeof buffer))
                return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // End of file or an error: the tap is gone (an adapter pulled, a pty closed).
        Q_EMIT q->statusMessage(QStringLiteral("%1 went away; listening stopped").arg(device.path));
        QMetaObject::invokeMethod(q, &LineListener::close, Qt::QueuedConnection);
        device.notifier->setEnabled(false);
        return;
    }
}

void LineListener::Private::frameComplete(const QByteArray& octets, int direction)
{
    const Ft12::Parsed parsed = Ft12::parse(octets, protocol.linkAddressOctets());
    bool fromMaster = direction == 1;
    if (direction < 0) {
        if (parsed.frame.kind == Ft12::Kind::SingleCharacter)
            fromMaster = !lastFromMaster; // it acknowledges the frame before it
        else if (protocol.mode == LinkMode::Balanced)
            fromMaster = bool(parsed.frame.control & Ft12::kDir) == protocol.dir;
        else
            fromMaster = parsed.frame.control & Ft12::kPrm;
    }
    lastFromMaster = fromMaster;
    frames.append(reinterpret_cast<const unsigned char*>(octets.constData()), octets.size(), fromMaster);
    if (!parsed.ok() || parsed.frame.kind == Ft12::Kind::SingleCharacter)
        return;
    const int linkAddress = stationOf(parsed.frame.linkAddress);
    if (!fromMaster && !(parsed.frame.control & Ft12::kPrm)) {
        const bool busy = (parsed.frame.control & Ft12::kDfc) ||
                          (parsed.frame.control & Ft12::kFunctionMask) == Ft12::kFunctionBusy;
        setState(linkAddress, busy ? LinkState::Busy : LinkState::Available);
    }
    if (parsed.frame.kind == Ft12::Kind::Variable && !parsed.frame.userData.isEmpty())
        userData(parsed.frame, fromMaster);
}

int LineListener::Private::stationOf(int linkAddress) const
{
    if (protocol.mode != LinkMode::Balanced)
        return linkAddress;
    const QVector<Station> list = protocol.stationList();
    return list.isEmpty() ? linkAddress : list.first().linkAddress;
}

void LineListener::Private::userData(const Ft12::Frame& frame, bool fromMaster)
{
    AsduHeader header;
    QVector<InfoObject> objects;
    if (!decoder.decode(frame.userData, &header, &objects))
        return;
    const int linkAddress = stationOf(frame.linkAddress);
    if (fromMaster)
        masterAsdu(linkAddress, header, frame.userData);
    else
        stationAsdu(linkAddress, header, objects);
}

void LineListener::Private::masterAsdu(int linkAddress, const AsduHeader& header, const QByteArray& userData)
{
    const bool activation = header.cause == CS101_COT_ACTIVATION || header.cause == CS101_COT_DEACTIVATION;
    const bool read = header.typeId == C_RD_NA_1 && header.cause == CS101_COT_REQUEST;
    if (ObjectKind::isMonitoring(header.typeId) || !(activation || read))
        return;
    CommandRequest request;
    request.typeId = header.typeId;
    request.linkAddress = linkAddress;
    request.commonAddress = header.commonAddress;
    request.objectAddress = qMax(0, header.firstObjectAddress);
    request.id = ++nextId;
    // The qualifier octet closes the object of these types.
    const quint8 last = userData.isEmpty() ? 0 : quint8(userData.back());
    switch (header.typeId) {
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_RC_NA_1:
        request.value = header.typeId == C_SC_NA_1 ? QVariant(bool(last & 0x01)) : QVariant(int(last & 0x03));
        request.qualifier = (last >> 2) & 0x1F;
        request.execution =
            (last & 0x80) ? CommandRequest::Execution::SelectOnly : CommandRequest::Execution::Direct;
        break;
    case C_IC_NA_1:
    case C_CI_NA_1:
        request.qualifier = last;
        break;
    default:
        break;
    }
    if (header.cause == CS101_COT_DEACTIVATION)
        request.execution = CommandRequest::Execution::Deactivate;
    if (header.typeId == C_CS_NA_1 && header.commonAddress == protocol.broadcastCommonAddress())
        request.broadcast = true;
    const CommandKey key{{linkAddress, header.commonAddress}, {header.typeId, request.objectAddress}};
    if (pending.size() >= kMaxPending && !pending.contains(key))
        return;
    // A repeated activation of the same command restarts its wait.
    Pending command;
    command.request = request;
    command.sentMs = QDateTime::currentMSecsSinceEpoch();
    pending.insert(key, command);
}

void LineListener::Private::stationAsdu(int linkAddress, const AsduHeader& header,
                                        const QVector<InfoObject>& objects)
{
    if (ObjectKind::isMonitoring(header.typeId)) {
        if (objects.isEmpty())
            return;
        QVector<InfoObject> data = objects;
        for (InfoObject& object : data)
            object.linkAddress = linkAddress;
        // Data that answers a command goes with its outcome, as the engine hands over its
        // own: a whole interrogation at once, not object by object.
        const CommandKey key = answered(linkAddress, header);
        const auto command = pending.find(key);
        if (command == pending.end()) {
            Q_EMIT q->dataReceived(data);
            return;
        }
        command->answer += data;
        if (key.second.first == C_RD_NA_1) {
            CommandOutcome outcome;
            outcome.result = CommandOutcome::Result::Confirmed;
            outcome.cause = header.cause;
            finish(key, outcome);
        }
        return;
    }
    const CommandKey key{{linkAddress, header.commonAddress},
                         {header.typeId, qMax(0, header.firstObjectAddress)}};
    const auto it = pending.find(key);
    if (it == pending.end())
        return;
    CommandOutcome outcome;
    outcome.cause = header.cause;
    outcome.negative = header.negative;
    if (header.negative || isRefusingCause(header.cause)) {
        outcome.result = CommandOutcome::Result::Refused;
        outcome.step = it->request.execution == CommandRequest::Execution::SelectOnly
                           ? CommandOutcome::Step::SelectConfirmation
                           : CommandOutcome::Step::Confirmation;
        finish(key, outcome);
    } else if (header.cause == CS101_COT_ACTIVATION_TERMINATION) {
        outcome.result = CommandOutcome::Result::Terminated;
        finish(key, outcome);
    } else if (header.cause == CS101_COT_ACTIVATION_CON || header.cause == CS101_COT_DEACTIVATION_CON) {
        if (it->request.expectsTermination()) {
            it->confirmedMs = QDateTime::currentMSecsSinceEpoch();
            return;
        }
        outcome.result = CommandOutcome::Result::Confirmed;
        finish(key, outcome);
    }
}

CommandKey LineListener::Private::answered(int linkAddress, const AsduHeader& header) const
{
    int typeId = 0;
    int address = 0;
    if (isInterrogatedCause(header.cause)) {
        typeId = C_IC_NA_1;
    } else if (isCounterCause(header.cause)) {
        typeId = C_CI_NA_1;
    } else if (header.cause == CS101_COT_REQUEST) {
        typeId = C_RD_NA_1;
        address = qMax(0, header.firstObjectAddress);
    } else {
        return {};
    }
    // An interrogation sent to every common address is answered from each of them.
    const CommandKey own{{linkAddress, header.commonAddress}, {typeId, address}};
    if (pending.contains(own) || typeId == C_RD_NA_1)
        return own;
    return {{linkAddress, protocol.broadcastCommonAddress()}, {typeId, address}};
}

void LineListener::Private::finish(const CommandKey& key, CommandOutcome outcome)
{
    const auto it = pending.find(key);
    if (it == pending.end())
        return;
    const Pending command = *it;
    pending.erase(it);
    if (outcome.result != CommandOutcome::Result::NotSent)
        outcome.roundTripMs = QDateTime::currentMSecsSinceEpoch() - command.sentMs;
    Q_EMIT q->commandFinished(command.request, outcome, command.answer);
}

void LineListener::Private::checkTimes()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (auto& device : devices) {
        if (device->reassembler->pendingSize() == 0 || now - device->lastOctetMs <= kStalledFrameMs)
            continue;
        // What the stalled start promised will not come (a length octet that lied): drop
        // its first octet and look again at the rest, which may hold whole frames.
        while (device->reassembler->pendingSize() > 0) {
            const QByteArray held = device->recent.right(device->reassembler->pendingSize());
            device->reassembler->discardPending();
            device->recent = held.mid(1);
            for (const QByteArray& octets : device->reassembler->feed(device->recent))
                frameComplete(octets, device->direction);
            device->recent = device->recent.right(device->reassembler->pendingSize());
        }
    }
    const auto keys = pending.keys();
    for (const CommandKey& key : keys) {
        const Pending& command = pending[key];
        CommandOutcome outcome;
        if (command.confirmedMs < 0 && now - command.sentMs > protocol.commandTimeoutMs) {
            outcome.result = CommandOutcome::Result::TimedOut;
            outcome.step = command.request.typeId == C_RD_NA_1 ? CommandOutcome::Step::Answer
                                                               : CommandOutcome::Step::Confirmation;
            finish(key, outcome);
        } else if (command.confirmedMs >= 0 && now - command.confirmedMs > protocol.terminationWaitMs) {
            outcome.result = CommandOutcome::Result::Confirmed;
            outcome.terminationMissing = true;
            outcome.cause = CS101_COT_ACTIVATION_CON;
            finish(key, outcome);
        }
    }
}

void LineListener::Private::handOver()
{
    if (batchOut || frames.isEmpty())
        return;
    int dropped = 0;
    const QVector<LineFrame> batch = frames.take(&dropped);
    batchOut = true;
    Q_EMIT q->lineFramesReady(batch, dropped);
}

void LineListener::Private::setState(int linkAddress, LinkState state)
{
    const auto it = states.constFind(linkAddress);
    if (it != states.cend() && *it == state)
        return;
    states.insert(linkAddress, state);
    Q_EMIT q->linkStateChanged(linkAddress, state);
}

} // namespace iec101
