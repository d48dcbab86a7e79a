// What a tap on a busy line hears, made up for the listen-mode benchmarks: an unbalanced
// master polling one station for class 1 data and the station answering with spontaneous
// measured values and single points (some outside their range, some with quality flags),
// and now and then a general interrogation of every point the station has. The octets are
// written into one end of a pty pair at a chosen pace, from a thread of their own.
#ifndef IEC101_TAPFEED_H
#define IEC101_TAPFEED_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <thread>

class TapFeed
{
public:
    // The station reports the first `points` addresses of pointAddress(); each answer
    // carries objectsPerAnswer objects.
    TapFeed(int points, int objectsPerAnswer);
    ~TapFeed();

    // Object address of the n-th point: single points from 1, measured values from 100001.
    static int pointAddress(int n);
    static bool isMeasured(int n);

    // One poll and its answer; objects counts what the answer carries.
    QByteArray exchange(int* objects);
    // A general interrogation: activation, confirmation, every point, termination.
    QByteArray interrogation(int* objects);

    // Writes into the device at path until stop(): with baud > 0, octets as fast as a line
    // of that speed (11 bits an octet) carries them; else objectsPerSecond objects a second
    // (0: as fast as the device takes them). An interrogation every interrogationEveryS
    // seconds (0: none; the first at once).
    bool start(const QString& path, int baud, int objectsPerSecond, int interrogationEveryS);
    // Ends the feed after the exchange in progress (whole exchanges only); the reader must
    // go on reading until finished(), or the last write waits for it for ever.
    void requestStop() { running = false; }
    bool finished() const { return done; }
    // Waits for the writer's thread (requestStop() first, unless it may write on).
    void stop();

    qint64 octetsWritten() const { return octets; }
    qint64 framesWritten() const { return frames; }
    qint64 objectsWritten() const { return objects; }

private:
    QByteArray master(int control, const QByteArray& asdu = QByteArray());
    QByteArray station(int control, const QByteArray& asdu = QByteArray());

    int points;
    int perAnswer;
    int next = 0;
    int fcb = 0;
    quint32 turn = 0;
    std::atomic<bool> running{false};
    std::atomic<bool> done{false};
    std::atomic<qint64> octets{0};
    std::atomic<qint64> frames{0};
    std::atomic<qint64> objects{0};
    qint64 framesBuilt = 0;
    std::thread writer;
    int fd = -1;
};

#endif // IEC101_TAPFEED_H
