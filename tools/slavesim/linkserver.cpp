#include "linkserver.h"

#include <QDateTime>

#include <algorithm>

namespace slavesim {

using iec101::Ft12;

namespace {

// The library's own patience: a frame is awaited briefly, its octets one after the other.
constexpr int kFirstOctetTimeoutMs = 10;
constexpr int kNextOctetTimeoutMs = 100;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

LinkServer::LinkServer(const Config& stationConfig, const SlaveSim::LogHandler& logHandler,
                       UserDataHandler userData)
    : config(stationConfig), log(logHandler), userDataHandler(std::move(userData)),
      reassembler(stationConfig.linkAddressLength)
{}

void LinkServer::setPort(SerialPort linePort)
{
    port = linePort;
    reassembler.discardPending();
    frames.clear();
    intercepting = false;
    libExpectedFcb.reset();
    lastMasterFcb.reset();
}

bool LinkServer::busy() const
{
    return busyUntilMs > nowMs();
}

void LinkServer::setBusy(int durationMs)
{
    busyUntilMs = nowMs() + std::max(0, durationMs);
}

bool LinkServer::servesLine()
{
    if (!rawQueue.empty() || busy()) {
        intercepting = true;
    }
    return intercepting;
}

void LinkServer::discardInput()
{
    reassembler.discardPending();
    frames.clear();
}

void LinkServer::writeBytes(const QByteArray& bytes)
{
    if (port && !bytes.isEmpty()) {
        QByteArray copy = bytes; // the library's write takes a non-const buffer
        SerialPort_write(port, reinterpret_cast<uint8_t*>(copy.data()), 0, int(copy.size()));
    }
}

void LinkServer::writeFixed(int control)
{
    writeBytes(Ft12::fixedFrame(quint8(control), config.linkAddress, config.linkAddressLength));
}

void LinkServer::writeVariable(int control, const QByteArray& userData)
{
    // The length octet caps the frame.
    writeBytes(Ft12::variableFrame(quint8(control), config.linkAddress, config.linkAddressLength,
                                   userData.left(Ft12::maxUserDataSize(config.linkAddressLength))));
}

// Reads octet by octet and stops at the end of a frame, so that nothing the library should
// read once it has the line again is taken from the port. A frame that stalls half-way is
// dropped, as the library drops it.
std::optional<Ft12::Frame> LinkServer::nextFrame()
{
    SerialPort_setTimeout(port, kFirstOctetTimeoutMs);
    while (frames.empty()) {
        const int octet = SerialPort_readByte(port);
        if (octet < 0) {
            reassembler.discardPending();
            break;
        }
        const char c = char(octet);
        for (const QByteArray& octets : reassembler.feed(&c, 1)) {
            frames.push_back(Ft12::parse(octets, config.linkAddressLength).frame);
        }
        if (frames.empty() && reassembler.pendingSize() == 0) {
            break; // an octet of noise
        }
        SerialPort_setTimeout(port, kNextOctetTimeoutMs);
    }
    if (frames.empty()) {
        return std::nullopt;
    }
    const Ft12::Frame frame = frames.front();
    frames.pop_front();
    return frame;
}

void LinkServer::serve()
{
    const std::optional<Ft12::Frame> f = nextFrame();
    if (!f || f->kind == Ft12::Kind::SingleCharacter) {
        return;
    }
    const int broadcast = config.linkAddressLength == 2 ? 0xffff : 0xff;
    const bool prm = f->control & Ft12::kPrm;
    if (!prm || (f->linkAddress != config.linkAddress && f->linkAddress != broadcast)) {
        return;
    }
    const int fc = f->control & Ft12::kFunctionMask;
    const bool fcv = f->control & Ft12::kFcv;
    const bool fcb = f->control & Ft12::kFcb;
    if (busy()) {
        // DFC set on every answer: the status of the link (function 11), everything else
        // refused (function 1). The frame is not taken, so the frame count stays as it was.
        if (f->linkAddress == config.linkAddress) {
            writeFixed(Ft12::kDfc | (fc == 9 ? 0x0b : 0x01));
        }
        if (log) {
            log(QStringLiteral("busy: refused function %1").arg(fc));
        }
        return;
    }
    if (fcv) {
        if (!libExpectedFcb) {
            libExpectedFcb = fcb; // the library would have taken this very frame
        }
        lastMasterFcb = fcb;
    }
    // ACD is set on every answer so the master asks for class 1 data, where the library may
    // have answers waiting once it serves the line again.
    switch (fc) {
    case 0: // reset of remote link
        writeFixed(Ft12::kAcd | 0x00);
        lastMasterFcb = false; // the master starts again with FCB = 1
        break;
    case 3: // user data, confirmed
        userDataHandler(f->userData);
        writeFixed(Ft12::kAcd | 0x00);
        break;
    case 4: // user data, no reply (broadcast)
        userDataHandler(f->userData);
        break;
    case 9: // request status of link
        writeFixed(Ft12::kAcd | 0x0b);
        break;
    case 10: // request user data class 1
    case 11: // request user data class 2
        if (!rawQueue.empty()) {
            const QByteArray raw = rawQueue.front();
            rawQueue.pop_front();
            writeVariable(Ft12::kAcd | 0x08, raw);
            if (log) {
                log(QStringLiteral("TX raw ASDU %1").arg(QString::fromLatin1(raw.toHex(' '))));
            }
        } else {
            writeFixed(Ft12::kAcd | 0x09); // no data available
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

} // namespace slavesim
