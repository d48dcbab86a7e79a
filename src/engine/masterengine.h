#ifndef IEC101_MASTERENGINE_H
#define IEC101_MASTERENGINE_H

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

#include "commandoutcome.h"
#include "commandrequest.h"
#include "enginetuning.h"
#include "iec101engine_export.h"
#include "infoobject.h"
#include "lineframe.h"
#include "linkstate.h"
#include "protocolsettings.h"
#include "serialsettings.h"

namespace iec101 {

// The IEC 60870-5-101 master in unbalanced mode, with a typed interface: it opens the
// serial line through lib60870, polls the station, decodes what it sends and runs one
// command at a time, each to an outcome that says how it ended.
//
// It lives on one thread (a worker of the view, or the main thread of a program without
// a window) and owns its timers as children, so the line keeps going whatever another
// thread does. Everything else reaches it through queued calls of its slots, and takes
// what it reports from its signals.
class IEC101ENGINE_EXPORT MasterEngine : public QObject
{
    Q_OBJECT
public:
    // Commands that may wait behind the one in progress.
    static constexpr int kQueueCapacity = 32;

    explicit MasterEngine(QObject* parent = nullptr);
    ~MasterEngine() override;

    // On the engine's thread only. The link state of a station (the first one by default).
    LinkState linkState(int linkAddress = -1) const;
    bool isOpen() const;
    bool isCommandPending() const;
    // Whether a command of this type waits in the queue (not the one in progress).
    bool isQueued(int typeId) const;
    ProtocolSettings protocolSettings() const;
    EngineTuning tuning() const;

public Q_SLOTS:
    // Opens the line (closing an open one first) and starts polling; the interrogations
    // of the station follow on their own once the link is up.
    void open(const iec101::SerialSettings& serial, const iec101::ProtocolSettings& protocol);
    void close();
    // Sends the command, or queues it behind the one in progress. Every request ends in
    // exactly one commandFinished (more, with retrying set, for the engine's own
    // interrogations that it tries again).
    void send(const iec101::CommandRequest& request);
    // Takes effect at once, also while connected.
    void setTuning(const iec101::EngineTuning& tuning);
    // The receiver of lineFramesReady has taken its batch; the next one may follow.
    void lineFramesTaken();
    // One polling tick; the engine's own timer calls it, anyone else may add one.
    void tick();

Q_SIGNALS:
    void linkStateChanged(int linkAddress, iec101::LinkState state);
    // Objects the station sent on its own: spontaneous, periodic, background, return
    // information, end of initialisation; also late answers of commands that had ended.
    // Delivered as they arrive, whether a command is in progress or not.
    void dataReceived(const QVector<iec101::InfoObject>& objects);
    // The command's first frame is on its way.
    void commandSent(const iec101::CommandRequest& request);
    // How a command ended, with what answered it: a Read's object, an interrogation's
    // data, a clock sync's echo.
    void commandFinished(const iec101::CommandRequest& request, const iec101::CommandOutcome& outcome,
                         const QVector<iec101::InfoObject>& answer);
    // Both interrogations after the link came up have ended, for good; complete when
    // both brought their data.
    void initialDataFinished(int linkAddress, bool complete);
    // For the operator: a port that does not open, a command that failed, a busy station.
    void statusMessage(const QString& text);
    // The port exists but did not open (no permission, held by another program); emitted
    // from inside open(), before the status message that says the same for people.
    void portFailed(const QString& path, const QString& reason);
    // Every frame sent and received since the last batch, at most one batch per polling
    // tick and none while the previous one has not been taken (lineFramesTaken); frames
    // that did not fit the bounded buffer meanwhile are only counted.
    void lineFramesReady(const QVector<iec101::LineFrame>& frames, int dropped);
    // A polling tick ran the line (for tests and benchmarks that count them).
    void polled();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace iec101

#endif // IEC101_MASTERENGINE_H
