#ifndef IEC101_PCAPWRITER_H
#define IEC101_PCAPWRITER_H

#include <QFile>
#include <QString>
#include <QVector>

#include "lineframe.h"

namespace iec101 {

// Writes line frames to a classic pcap file that Wireshark reads as a serial-line
// capture: link type 250 (LINKTYPE_RTAC_SERIAL), each record a 12-octet header
// (big-endian seconds and microseconds, event type 1 sent / 2 received, control-line
// octet, two footer octets 0) followed by the frame. Every batch goes to the file at
// once, so a program that is killed leaves a readable capture behind.
class PcapWriter
{
public:
    static constexpr quint32 kLinkTypeRtacSerial = 250;

    // Creates or truncates the file and writes the file header.
    bool open(const QString& path);
    // Appends one record per frame in one write; false once anything failed to write.
    bool write(const QVector<LineFrame>& frames);
    void close();

    bool isOpen() const { return file.isOpen(); }
    QString fileName() const { return file.fileName(); }
    // What went wrong, for the operator: the file and the system's reason.
    QString errorString() const { return error; }
    quint64 recordCount() const { return records; }

private:
    bool writeAll(const QByteArray& octets);
    bool fail(const QString& what);

    QFile file;
    QString error;
    quint64 records = 0;
};

} // namespace iec101

#endif // IEC101_PCAPWRITER_H
