#ifndef IEC101_LINESTATISTICS_H
#define IEC101_LINESTATISTICS_H

#include <QHash>
#include <QString>

#include <deque>
#include <utility>

#include "lineframe.h"

namespace iec101 {

class FrameSummary;

// Running figures of a serial line, worked out from the frames that cross it: frames
// each way, repeated requests, time-outs, link resets, negative confirmations, bad
// frames, octets per second and line utilisation, and the progress of a command whose
// answer is still arriving.
class LineStatistics
{
public:
    // Bits one octet takes on the line (start, data, parity, stop) and the baud rate,
    // for the utilisation.
    void setLine(int baudRate, int bitsPerOctet);
    void add(const LineFrame& frame, const FrameSummary& summary);
    void addDropped(int count) { dropped += count; }
    void clear();

    // Octets per second over the last few seconds before nowUs (both directions).
    double octetsPerSecond(qint64 nowUs) const;
    // Share of the line's capacity those octets take, 0 without a baud rate.
    double utilisation(qint64 nowUs) const;

    // The command whose answer is still arriving, e.g. "C_IC_NA_1 (100)", and the
    // objects received for it so far; empty once it is answered, or when the line has
    // been silent about it as long as the engine waits for an answer.
    QString pendingCommand(qint64 nowUs) const;
    int pendingObjects() const { return progressObjects; }

    // The figures as one line for the monitor.
    QString text(qint64 nowUs) const;

    quint64 sent = 0;
    quint64 received = 0;
    quint64 repeats = 0;  // primary frames with FCV whose FCB did not toggle
    quint64 timeouts = 0; // requests followed by the master's next frame, not an answer
    quint64 linkResets = 0;
    quint64 negativeConfirmations = 0;
    quint64 malformed = 0; // received frames that do not parse (checksum, length, framing)
    quint64 dropped = 0;   // frames the engine could not hand over

private:
    void trackProgress(const LineFrame& frame, const FrameSummary& summary);

    int baudRate = 0;
    int bitsPerOctet = 11;
    bool awaitingAnswer = false;
    // FCB of the last primary frame with FCV to each station (by link address): each
    // station's frame count bit toggles on its own.
    QHash<int, int> lastFcb;
    std::deque<std::pair<qint64, int>> recentOctets; // (time, octets) of the last seconds
    qint64 firstFrameUs = -1;
    int progressType = 0; // type id of the pending command, 0 = none
    int progressObjects = 0;
    qint64 progressActivityUs = 0;
};

} // namespace iec101

#endif // IEC101_LINESTATISTICS_H
