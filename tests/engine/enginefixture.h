#ifndef IEC101_TESTS_ENGINEFIXTURE_H
#define IEC101_TESTS_ENGINEFIXTURE_H

#include <QObject>
#include <QSignalSpy>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <memory>

#include "command.h"
#include "infoobject.h"
#include "serialparam.h"
#include "slavesim.h"

class LineRelay;
class PtyPair;

namespace iec101 {
class Iec101Network;
}

// The engine wired up the way the view does it: built on the test thread, moved
// to its own worker thread, driven through queued signals, its output received
// on the test thread. A simulated station sits on the far end of a pty pair.
class EngineFixture : public QObject
{
    Q_OBJECT
public:
    explicit EngineFixture(const slavesim::Config& slaveConfig = {}, QObject* parent = nullptr);
    ~EngineFixture() override;

    // The six protocol settings the next connect hands over.
    int settings[6] = {1, 2, 1, 2, 3, 2};

    // relayBaud >= 0 puts a LineRelay between the master's pty pair and the station's
    // (0 = no delay), so tests can see the frames the master sends.
    bool startSlave(int relayBaud = -1);
    LineRelay* relay() { return relayPtr.get(); }
    slavesim::SlaveSim& slave() { return *slavePtr; }
    PtyPair& line() { return *pty; }

    void connectTo(const QString& portName);
    void connectEngine();
    // Connects and waits until the initial interrogation and counter interrogation are through.
    bool bringUp(int timeoutMs = 30000);

private:
    // The spies below need the argument types registered before they are built.
    bool typesRegistered = registerTypes();
    static bool registerTypes();

public:
    // Everything the engine emitted, in arrival order, as short texts such as
    // "requested Read 1", "ended Read", "spontaneous 2", "state Available", "status ...".
    QStringList events;
    QSignalSpy spontaneous{this, &EngineFixture::spontaneousDataReady};
    QSignalSpy requested{this, &EngineFixture::requestedDataReady};
    QSignalSpy statusMessages{this, &EngineFixture::setStatusBarMessage};

    int countEvents(const QString& prefix) const;
    QVector<InfoObject> lastRequested() const;

Q_SIGNALS:
    // Towards the engine, as from the view.
    void doConnect(const SerialParam& param, const int* lastSettings);
    void doDisconnect();
    void sendCommand(Command::CommandType commandType, const QVector<int>& values);

    // Mirrors of the engine's signals, delivered on the test thread.
    void spontaneousDataReady(const QVector<InfoObject>& objects);
    void responseEnded(Command::CommandType commandType);
    void requestedDataReady(const QVector<InfoObject>& objects, Command::CommandType commandType);
    void linkLayerStateChangedSignal(const QString& state);
    void setStatusBarMessage(const QString& text);

private:
    std::unique_ptr<PtyPair> pty;
    std::unique_ptr<PtyPair> slavePty;
    std::unique_ptr<LineRelay> relayPtr;
    std::unique_ptr<slavesim::SlaveSim> slavePtr;
    slavesim::Config config;
    QThread worker;
    iec101::Iec101Network* engine = nullptr;
};

QString commandName(Command::CommandType type);

#endif // IEC101_TESTS_ENGINEFIXTURE_H
