// The engine wired up the way the view wires it, against the simulated slave on a line:
// built on the calling thread, moved to a worker thread of its own, driven through queued
// calls, with everything it emits recorded on the calling thread. Both faces of the engine
// are at hand: the original one (commands as a type and ints, answers by command type,
// recorded as short texts in `events`) and the typed one (requests and outcomes,
// recorded in `finished`).
#ifndef IEC101_ENGINEFIXTURE_H
#define IEC101_ENGINEFIXTURE_H

#include <QObject>
#include <QPair>
#include <QSignalSpy>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <functional>
#include <optional>

#include "command.h"
#include "commandoutcome.h"
#include "commandrequest.h"
#include "enginetuning.h"
#include "infoobject.h"
#include "lineframe.h"
#include "linkstate.h"
#include "protocolsettings.h"
#include "serialparam.h"
#include "serialsettings.h"
#include "slavesimline.h"

namespace iec101 {
class Iec101Network;
class MasterEngine;
} // namespace iec101

class EngineFixture : public QObject
{
    Q_OBJECT
public:
    explicit EngineFixture(const slavesim::Config& slaveConfig = {}, QObject* parent = nullptr);
    ~EngineFixture() override;

    // The line and the slave on it; bringUp() starts a direct line if none was started.
    SlaveSimLine line;
    slavesim::SlaveSim& slave() { return line.slave(); }
    LineRelay* relay() { return line.relay(); }
    bool startLine(SlaveSimLine::Transport transport = SlaveSimLine::Transport::Direct, int relayBaud = 0);

    // The protocol settings the next connect hands over: the slave's own by default.
    iec101::ProtocolSettings settings;

    // Connects through the original interface (six ints), or the typed one (which also
    // carries the time-outs).
    void connectTo(const QString& portName);
    void connectEngine();
    void openTyped();
    // The typed connect to any line, for example several stations on a bus.
    void openTyped(const iec101::SerialSettings& serial, const iec101::ProtocolSettings& protocol);
    // Connects and waits until the initial interrogation and counter interrogation are through:
    // through the original interface, or the typed one.
    bool bringUp(int timeoutMs = 30000);
    bool bringUpTyped(int timeoutMs = 30000);
    // Hands the commands to the engine in one go, as if they had piled up before the worker
    // got to them: each finds the ones before it still pending, however fast the line answers.
    void sendCommands(const QVector<QPair<iec101::Command::CommandType, QVector<int>>>& commands);
    // A typed request; its id is set (if it has none) and returned.
    quint64 send(iec101::CommandRequest request);
    void setTuning(const iec101::EngineTuning& tuning);
    // Runs `call` on the engine's worker thread and waits until it has run.
    void runOnWorker(const std::function<void()>& call);

    // Everything the original interface emitted, in arrival order, as short texts such as
    // "requested Read 1", "ended Read", "spontaneous 2", "state Available", "status ...".
    QStringList events;
    int countEvents(const QString& prefix) const;
    // Every object delivered spontaneously so far, in order.
    QVector<iec101::InfoObject> spontaneousObjects() const;
    QVector<iec101::InfoObject> lastRequested() const;

    // What the typed interface reported.
    struct Finished
    {
        iec101::CommandRequest request;
        iec101::CommandOutcome outcome;
        QVector<iec101::InfoObject> answer;
    };
    QVector<Finished> finished;
    // The final outcome of the request with this id (not the attempts the engine retried);
    // nothing while it has none.
    std::optional<Finished> outcomeOf(quint64 id) const;
    // Waits for the request's outcome.
    std::optional<Finished> waitForOutcome(quint64 id, int timeoutMs = 20000);
    QVector<iec101::InfoObject> unsolicited; // typed dataReceived, in order
    QVector<iec101::LinkState> linkStates;
    QVector<QPair<int, iec101::LinkState>> stationStates; // link address and state, in order
    QVector<int> initialDataStations;                     // link addresses whose initial data finished
    QStringList statusTexts;
    bool initialDataFinished = false;
    bool initialDataComplete = false;

    // Every frame the engine handed over, each batch taken at once as the view does.
    QVector<iec101::LineFrame> lineFrames;
    // Polling ticks so far; pollingTick() follows each one.
    int ticks = 0;

    iec101::MasterEngine* master() const;

private:
    // The spies below need the argument types registered before they are built.
    bool typesRegistered = registerTypes();
    static bool registerTypes();

public:
    QSignalSpy spontaneous{this, &EngineFixture::spontaneousDataReady};
    QSignalSpy requested{this, &EngineFixture::requestedDataReady};
    QSignalSpy statusMessages{this, &EngineFixture::setStatusBarMessage};

Q_SIGNALS:
    void pollingTick();

    // Towards the engine, as from the view.
    void doConnect(const iec101::SerialParam& param, const int* lastSettings);
    void doDisconnect();
    void sendCommand(iec101::Command::CommandType commandType, const QVector<int>& values);

    // Mirrors of the engine's signals, delivered on the calling thread.
    void spontaneousDataReady(const QVector<iec101::InfoObject>& objects);
    void responseEnded(iec101::Command::CommandType commandType);
    void requestedDataReady(const QVector<iec101::InfoObject>& objects,
                            iec101::Command::CommandType commandType);
    void linkLayerStateChangedSignal(const QString& state);
    void setStatusBarMessage(const QString& text);
    void commandFinished(const iec101::CommandRequest& request, const iec101::CommandOutcome& outcome);

private:
    QThread worker;
    iec101::Iec101Network* engine = nullptr;
    iec101::SettingArray legacySettings{};
    quint64 nextId = 0;
};

// The command's name as the recorded events spell it ("Read", "ClockSync", ...).
QString commandName(iec101::Command::CommandType type);

#endif // IEC101_ENGINEFIXTURE_H
