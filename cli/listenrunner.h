#ifndef IEC101_LISTENRUNNER_H
#define IEC101_LISTENRUNNER_H

#include <QObject>
#include <QVector>

#include "jsonrecordwriter.h"
#include "masteroptions.h"
#include "pcapwriter.h"
#include "scriptstep.h"

class QTimer;

namespace iec101 {

class LineListener;

// One run of iec101-master --listen: opens the tap read-only, writes what the other
// master and the station say as the same records a run of its own writes, for the
// length of the wait steps (or until a signal when there are none), and closes it.
// Nothing is ever sent.
class ListenRunner : public QObject
{
    Q_OBJECT
public:
    ListenRunner(const MasterOptions& options, const QVector<ScriptStep>& steps, QObject* parent = nullptr);
    ~ListenRunner() override;

    LineListener* listener() const { return tap; }
    // Call once the event loop runs; finished follows, always.
    void start();
    void interrupt(int signalNumber);

Q_SIGNALS:
    void finished(int exitStatus);

private:
    void nextStep();
    void finish(int exitStatus);

    const MasterOptions options;
    const QVector<ScriptStep> steps;
    LineListener* tap = nullptr;
    JsonRecordWriter records;
    PcapWriter capture;
    QTimer* waitTimer = nullptr;
    int current = 0;
    bool done = false;
};

} // namespace iec101

#endif // IEC101_LISTENRUNNER_H
