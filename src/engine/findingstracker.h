#ifndef IEC101_FINDINGSTRACKER_H
#define IEC101_FINDINGSTRACKER_H

#include <QMap>
#include <QObject>
#include <QVector>

#include <memory>

#include "commandoutcome.h"
#include "commandrequest.h"
#include "finding.h"
#include "iec101engine_export.h"
#include "infoobject.h"
#include "lineframe.h"
#include "linestatistics.h"
#include "pointlist.h"
#include "protocolsettings.h"

namespace iec101 {

// Checks a line against the stations' signal lists as the frames cross it, and keeps the
// findings, the state of every listed point, the commands with their outcomes and the
// line's statistics for the report. It reads the frames themselves (both directions), so
// it works the same whether the frames are the engine's own or a listener's on a tapped
// line, and every finding knows the frame it came with. Command outcomes add what frames
// cannot show: a confirmation or termination that never came. GUI-less; lives on one
// thread.
class IEC101ENGINE_EXPORT FindingsTracker : public QObject
{
    Q_OBJECT
public:
    // A listed point as checked so far.
    struct PointCheck
    {
        int linkAddress = 0;
        PointList::Point point;
        bool seen = false;
        InfoObject last; // the latest report, when seen
        bool typeOk = true;
        bool valueOk = true;
        bool qualityOk = true;
        bool pass() const { return seen && typeOk && valueOk && qualityOk; }
    };

    struct CommandRecord
    {
        qint64 timeMs = 0; // when it ended
        CommandRequest request;
        CommandOutcome outcome;
    };

    explicit FindingsTracker(QObject* parent = nullptr);
    ~FindingsTracker() override;

    // A new session on the line: field sizes and stations (and their common addresses),
    // and the line's speed for the statistics. Forgets findings, points seen, commands and
    // statistics; keeps the point lists.
    void startSession(const ProtocolSettings& protocol, int baudRate = 0, int bitsPerOctet = 11);
    ProtocolSettings protocol() const;
    // The signal list of the station with this link address; an empty one removes it.
    void setPointList(int linkAddress, const PointList& list);
    const QMap<int, PointList>& pointLists() const;

    const QVector<Finding>& findings() const;
    // The end of an interrogation looks for missing points a part of a large list at a
    // time, the rest from the event loop; this finishes them now (before a report).
    void finishChecks();
    // The listed points in list order, station by station.
    QVector<PointCheck> pointChecks() const;
    const QVector<CommandRecord>& commands() const;
    const LineStatistics& statistics() const;
    // The time span of the session's frames (UTC ms since the epoch; 0 without frames).
    qint64 firstFrameMs() const;
    qint64 lastFrameMs() const;
    // New findings left out because there were already too many to keep.
    qint64 findingsNotKept() const;

public Q_SLOTS:
    // Frames in line order, as the engine or a listener hands them over.
    void addFrames(const QVector<iec101::LineFrame>& frames, int dropped = 0);
    // A command's final outcome.
    void addCommand(const iec101::CommandRequest& request, const iec101::CommandOutcome& outcome);

Q_SIGNALS:
    // A new finding at this index of findings(), or one found again (its count and time).
    void findingAdded(int index);
    void findingUpdated(int index);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace iec101

#endif // IEC101_FINDINGSTRACKER_H
