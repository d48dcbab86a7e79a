#ifndef IEC101_TESTS_LINERELAY_H
#define IEC101_TESTS_LINERELAY_H

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// Joins two serial devices (typically the far ends of two pty pairs) so that the
// master talks to the station through it. It can hold each byte back for the time
// it would take on a real line of a given speed, and it records what the master
// sends, so tests can look at the frames themselves.
class LineRelay
{
public:
    // masterSide: the device the master's bytes come out of; slaveSide: the one the station reads.
    // baudRate 0 relays at once; otherwise every byte takes bitsPerChar / baudRate seconds.
    LineRelay(const QString& masterSide, const QString& slaveSide, int baudRate = 0, int bitsPerChar = 11);
    ~LineRelay();
    LineRelay(const LineRelay&) = delete;
    LineRelay& operator=(const LineRelay&) = delete;

    bool start();
    void stop();

    QByteArray masterBytes() const;
    void clearMasterBytes();
    // Bytes relayed so far in each direction, including cleared ones.
    qint64 masterByteCount() const { return masterCount; }
    qint64 slaveByteCount() const { return slaveCount; }

private:
    void run();

    QString masterPath;
    QString slavePath;
    long long charTimeNs = 0;
    int masterFd = -1;
    int slaveFd = -1;
    std::atomic<bool> running{false};
    std::atomic<qint64> masterCount{0};
    std::atomic<qint64> slaveCount{0};
    std::thread thread;
    mutable std::mutex mutex;
    QByteArray fromMaster;
};

#endif // IEC101_TESTS_LINERELAY_H
