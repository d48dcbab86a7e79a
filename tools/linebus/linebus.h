// Several serial devices on one line, as on an RS-485 bus or a radio channel: what the
// master sends reaches every station, what a station sends reaches the master. The devices
// are typically the far ends of pty pairs (the master's, and one per station). The bus can
// pace every octet as a line of a given speed does (one medium: an octet in either
// direction waits for the one before it), and it can hand a copy of the traffic to taps,
// as a monitoring device clipped onto the pair hears it: both directions on one tap, or
// each direction on a tap of its own.
#ifndef IEC101_LINEBUS_H
#define IEC101_LINEBUS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class LineBus
{
public:
    enum class Tap { Both, FromMaster, FromStations };

    // baudRate 0 relays at once; otherwise every octet takes bitsPerChar / baudRate seconds.
    LineBus(const QString& masterSide, const QStringList& stationSides, int baudRate = 0,
            int bitsPerChar = 11);
    ~LineBus();
    LineBus(const LineBus&) = delete;
    LineBus& operator=(const LineBus&) = delete;

    // Taps are added before start().
    void addTap(const QString& path, Tap direction);
    bool start();
    void stop();
    QString errorString() const { return error; }

    // Everything the master sent so far.
    QByteArray masterBytes() const;
    void clearMasterBytes();
    // Octets the taps wrote towards the line (read and dropped): a listener must send none.
    qint64 tapByteCount() const { return tapCount; }

private:
    struct Port
    {
        QString path;
        int fd = -1;
        Tap tap = Tap::Both; // taps only
    };

    void run();

    Port master;
    std::vector<Port> stations;
    std::vector<Port> taps;
    long long charTimeNs = 0;
    std::atomic<bool> running{false};
    std::atomic<qint64> tapCount{0};
    std::thread thread;
    mutable std::mutex mutex;
    QByteArray fromMaster;
    QString error;
};

#endif // IEC101_LINEBUS_H
