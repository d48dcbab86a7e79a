#ifndef IEC101_LINEMONITOR_H
#define IEC101_LINEMONITOR_H

#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

#include "iec101view_export.h"
#include "lineframe.h"
#include "serialparam.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace iec101 {

class LineMonitorModel;

// Every frame on the serial line as one table row (time, direction, summary, octets),
// with pause, clear, a filter for idle polling and a line of statistics; it keeps the
// last kMaxFrames frames. It can record the frames to a pcap file that Wireshark opens.
// Iec101View builds it and feeds it; a host places it where it likes (see
// Iec101View::lineMonitor()).
class IEC101VIEW_EXPORT LineMonitor : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxFrames = 20000;

    explicit LineMonitor(QWidget* parent = nullptr);
    ~LineMonitor() override;

    // The serial parameters and the six protocol settings of a new connection: the
    // summaries use its field sizes, the utilisation its speed and character size.
    void setSession(const SerialParam& param, const int* settings);

    // Writes every frame from now on to a pcap file (link type 250) until
    // stopRecording(). A file that cannot be opened or written ends the recording
    // with recordingFailed(); the connection is not affected.
    bool startRecording(const QString& path);
    void stopRecording();
    bool isRecording() const;

    QString statisticsText() const;

    // Selects and scrolls to the frame of this time (LineFrame::timeUs), e.g. the one a
    // finding came with; false when the monitor no longer holds it.
    bool showFrame(qint64 timeUs);

Q_SIGNALS:
    // A recording ended because its file could not be written, with the reason, e.g.
    // "Recording stopped: cannot write /tmp/x.pcap: No space left on device".
    void recordingFailed(const QString& message);

public Q_SLOTS:
    // One batch of frames from the engine, and how many it had to drop before it.
    void addFrames(const QVector<LineFrame>& frames, int dropped);
    void setPaused(bool paused);
    void clear();

private Q_SLOTS:
    void recordClicked();

private:
    struct State;

    void showFrames(const QVector<LineFrame>& frames);
    void updateStatistics();
    void updateRecording();
    void recordingError(const QString& reason);

    std::unique_ptr<State> state;
    LineMonitorModel* frameModel = nullptr;
    QTableView* frameTable = nullptr;
    QPushButton* pauseButton = nullptr;
    QPushButton* clearButton = nullptr;
    QCheckBox* hideIdleCheckBox = nullptr;
    QPushButton* recordButton = nullptr;
    QLabel* recordingLabel = nullptr;
    QLabel* statisticsLabel = nullptr;
};

} // namespace iec101

#endif // IEC101_LINEMONITOR_H
