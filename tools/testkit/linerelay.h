#ifndef IEC101_TESTS_LINERELAY_H
#define IEC101_TESTS_LINERELAY_H

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// How one direction of a noisy line damages the octets it carries. Each octet is
// independently lost with dropRate, else arrives with one bit flipped with corruptRate.
struct LineNoise
{
    double corruptRate = 0.0;
    double dropRate = 0.0;
};

// Joins two serial devices (typically the far ends of two pty pairs) so that the
// master talks to the simulated slave through it. It can hold each byte back for the time
// it would take on a real line of a given speed, damage octets like a noisy line,
// and it records what the master sends, so tests can look at the frames themselves.
class LineRelay
{
public:
    enum Direction { MasterToSlave = 0, SlaveToMaster = 1 };

    // masterSide: the device the master's bytes come out of; slaveSide: the one the slave reads.
    // baudRate 0 relays at once; otherwise every byte takes bitsPerChar / baudRate seconds.
    LineRelay(const QString& masterSide, const QString& slaveSide, int baudRate = 0, int bitsPerChar = 11);
    ~LineRelay();
    LineRelay(const LineRelay&) = delete;
    LineRelay& operator=(const LineRelay&) = delete;

    bool start();
    void stop();

    // Noise for the octets read from now on; may be changed while the relay runs. The damage
    // is drawn from one random stream per direction, both derived from seed(): the same seed
    // damages the same octet positions of each direction again. The seed is printed when
    // noise is first switched on; IEC101_LINE_SEED=<n> in the environment replays it.
    void setNoise(Direction direction, const LineNoise& noise);
    void setNoise(const LineNoise& noise);
    quint32 seed() const { return noiseSeed; }
    qint64 corruptedCount(Direction direction) const { return corrupted[direction]; }
    qint64 droppedCount(Direction direction) const { return dropped[direction]; }

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
    quint32 noiseSeed = 0;
    int masterFd = -1;
    int slaveFd = -1;
    std::atomic<bool> running{false};
    std::atomic<qint64> masterCount{0};
    std::atomic<qint64> slaveCount{0};
    std::atomic<qint64> corrupted[2] = {{0}, {0}};
    std::atomic<qint64> dropped[2] = {{0}, {0}};
    std::thread thread;
    mutable std::mutex mutex;
    QByteArray fromMaster;
    LineNoise noise[2];
    bool seedShown = false;
};

#endif // IEC101_TESTS_LINERELAY_H
