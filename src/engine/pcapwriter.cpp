#include "pcapwriter.h"

#include <QtEndian>

namespace iec101 {

namespace {

constexpr quint32 kMagic = 0xa1b2c3d4; // microsecond time stamps
constexpr quint16 kVersionMajor = 2;
constexpr quint16 kVersionMinor = 4;
constexpr quint32 kSnapLength = 65535;
constexpr int kRtacHeaderSize = 12;
constexpr quint8 kEventSent = 1;     // DATA_TX_START
constexpr quint8 kEventReceived = 2; // DATA_RX_START

// The file's own fields are little-endian (the magic number tells readers so); the
// serial header inside each record is big-endian.
template <typename T> void appendLittle(QByteArray& out, T value)
{
    char octets[sizeof(T)];
    qToLittleEndian(value, octets);
    out.append(octets, int(sizeof(T)));
}

template <typename T> void appendBig(QByteArray& out, T value)
{
    char octets[sizeof(T)];
    qToBigEndian(value, octets);
    out.append(octets, int(sizeof(T)));
}

} // namespace

bool PcapWriter::open(const QString& path)
{
    close();
    error.clear();
    records = 0;
    file.setFileName(path);
    // Unbuffered: each batch goes to the system in one write, and a full disk is
    // reported with the system's own reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot open"));
    QByteArray header;
    appendLittle<quint32>(header, kMagic);
    appendLittle<quint16>(header, kVersionMajor);
    appendLittle<quint16>(header, kVersionMinor);
    appendLittle<qint32>(header, 0); // time zone: stamps are UTC
    appendLittle<quint32>(header, 0);
    appendLittle<quint32>(header, kSnapLength);
    appendLittle<quint32>(header, kLinkTypeRtacSerial);
    if (!writeAll(header))
        return fail(QStringLiteral("cannot write"));
    return true;
}

bool PcapWriter::write(const QVector<LineFrame>& frames)
{
    if (!file.isOpen())
        return false;
    QByteArray out;
    for (const LineFrame& frame : frames) {
        const quint32 seconds = quint32(frame.timeUs / 1000000);
        const quint32 micros = quint32(frame.timeUs % 1000000);
        const quint32 length = quint32(kRtacHeaderSize + frame.octets.size());
        appendLittle<quint32>(out, seconds);
        appendLittle<quint32>(out, micros);
        appendLittle<quint32>(out, length);
        appendLittle<quint32>(out, length);
        appendBig<quint32>(out, seconds);
        appendBig<quint32>(out, micros);
        out.append(char(frame.sent ? kEventSent : kEventReceived));
        out.append(char(0)); // control lines: not known on this side of the port
        appendBig<quint16>(out, 0);
        out.append(frame.octets);
    }
    if (!writeAll(out))
        return fail(QStringLiteral("cannot write"));
    records += quint64(frames.size());
    return true;
}

bool PcapWriter::writeAll(const QByteArray& octets)
{
    // A nearly full disk takes part of a write; only the next attempt reports why.
    qint64 done = 0;
    while (done < octets.size()) {
        const qint64 written = file.write(octets.constData() + done, octets.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

void PcapWriter::close()
{
    if (file.isOpen())
        file.close();
}

bool PcapWriter::fail(const QString& what)
{
    error = QStringLiteral("%1 %2: %3").arg(what, file.fileName(), file.errorString());
    file.close();
    return false;
}

} // namespace iec101
