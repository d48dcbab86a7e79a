#ifndef IEC101_MASTERRUNNER_H
#define IEC101_MASTERRUNNER_H

#include <QObject>
#include <QVector>

#include "jsonrecordwriter.h"
#include "masteroptions.h"
#include "pcapwriter.h"
#include "scriptstep.h"

class QTimer;

namespace iec101 {

class MasterEngine;

// One run of iec101-master: opens the line, waits (bounded) for the link, lets the
// engine's initial interrogations finish unless they are off, then runs the steps in
// order, each command to its final outcome, and closes the line. Everything the engine
// reports goes out as a record on the way; the exit status says how the run went.
class MasterRunner : public QObject
{
    Q_OBJECT
public:
    // Each means one thing. The initial interrogations are reported but count for none:
    // a run that needs their data asks for it with commands of its own.
    enum ExitStatus {
        Success = 0,       // every command confirmed (or terminated)
        CommandFailed = 1, // one refused, timed out or not sent; or the port lost, or the
                           // station busy for good, meanwhile
        Usage = 2,         // bad usage, or a port that cannot be opened
        NoLink = 3,        // the link did not come up (or the station stayed busy before any command)
        ReportFailed = 4,  // the run went well, its report (--report) could not be written
    };

    MasterRunner(const MasterOptions& options, const QVector<ScriptStep>& steps, QObject* parent = nullptr);
    ~MasterRunner() override;

    // The engine of the run, for whoever else follows what it reports.
    MasterEngine* lineEngine() const { return engine; }
    // Call once the event loop runs; finished follows, always.
    void start();
    // Ends the run now: what waits is reported as the engine ends it, the line and the
    // capture are closed, and the exit status is 128 + the signal's number.
    void interrupt(int signalNumber);

Q_SIGNALS:
    void finished(int exitStatus);

private:
    enum class Phase { Idle, WaitingForLink, InitialData, Steps, Done };

    void linkStateChanged(int linkAddress, LinkState state);
    void commandFinished(const CommandRequest& request, const CommandOutcome& outcome,
                         const QVector<InfoObject>& answer);
    void statusMessage(const QString& text);
    void lineFrames(const QVector<LineFrame>& frames, int dropped);
    void linkTimedOut();
    void busyTooLong();

    // Transitions run from the event loop, never from inside one of the engine's signals.
    void later(void (MasterRunner::*step)());
    void runSteps();
    void stepDone();
    bool allStationsSettled() const;
    QVector<int> linkAddresses() const;
    void sendCurrent();
    void captureFailed(const QString& reason);
    void fail(int exitStatus, const QString& message);
    void finish(int exitStatus);

    const MasterOptions options;
    const QVector<ScriptStep> steps;
    MasterEngine* engine = nullptr;
    JsonRecordWriter records;
    PcapWriter capture;
    QTimer* linkTimer = nullptr; // the link's bounded wait
    QTimer* waitTimer = nullptr; // a wait step
    QTimer* busyTimer = nullptr; // how long the station may stay busy

    Phase phase = Phase::Idle;
    int current = 0;        // the step in progress
    int currentStation = 0; // a step for every station (la=all): the station in progress
    quint64 currentId = 0;  // the request of the command in progress, 0 for none
    quint64 lastId = 0;
    bool waitingForLink = false; // the current command waits for a lost link to return
    QVector<int> stationsUp;     // stations whose link came up
    QVector<int> initialDone;    // stations whose initial data is through
    bool opening = false;        // inside the engine's open()
    QString openError;
    bool anyFailed = false;
    bool lineLost = false;
};

} // namespace iec101

#endif // IEC101_MASTERRUNNER_H
