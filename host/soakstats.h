#ifndef IEC101_SOAKSTATS_H
#define IEC101_SOAKSTATS_H

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

class QAbstractItemModel;
class QLineEdit;
class QWidget;

// Figures of a long unattended run, one line a minute into a text file: resident
// memory, CPU used by the whole process, the longest stall of the GUI thread, and the
// events the view's event log received. A stall is measured as the lateness of a 1 ms
// precise timer on the GUI thread, the time the event loop could not react.
class SoakStats : public QObject
{
    Q_OBJECT
public:
    // view: the master's view; its event log and status are found by object name.
    explicit SoakStats(QWidget* view, QObject* parent = nullptr);

    // Opens (truncates) the file, writes the column header and starts measuring.
    bool start(const QString& path);
    QString errorString() const { return file.errorString(); }

private:
    void probe();
    // One line: a full minute, or at quit the part since the last one ("end").
    void writeLine(bool atQuit);

    QFile file;
    QTimer probeTimer;
    QTimer minuteTimer;
    QElapsedTimer clock;
    const QAbstractItemModel* eventLog = nullptr;
    const QLineEdit* status = nullptr;
    qint64 lastProbeNs = 0;
    double longestStallMs = 0;
    qint64 eventsThisMinute = 0;
    qint64 eventsTotal = 0;
    double lastCpuSeconds = 0;
    qint64 lastMinuteMs = 0;
    int minute = 0;
};

#endif // IEC101_SOAKSTATS_H
