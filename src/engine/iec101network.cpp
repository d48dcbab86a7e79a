#include "iec101network.h"

#include "commandoutcome.h"
#include "commandrequest.h"
#include "linkstate.h"
#include "masterengine.h"
#include "metatypes.h"
#include "protocolsettings.h"
#include "serialsettings.h"

namespace iec101 {

Iec101Network::Iec101Network(QObject* parent) : QObject(parent), engine(new MasterEngine(this))
{
    registerMetaTypes();
    // Same thread, so all of these are direct calls.
    connect(engine, &MasterEngine::linkStateChanged, this, &Iec101Network::linkStateChanged);
    connect(engine, &MasterEngine::commandFinished, this, &Iec101Network::commandFinished);
    connect(engine, &MasterEngine::statusMessage, this, &Iec101Network::setStatusBarMessage);
    connect(engine, &MasterEngine::lineFramesReady, this, &Iec101Network::lineFramesReady);
    connect(engine, &MasterEngine::commandSent, this, [this] {
        ++commandsOnLine;
        Q_EMIT startCommandTimer();
    });
    connect(engine, &MasterEngine::dataReceived, this, [this](const QVector<InfoObject>& objects) {
        // Events wait until the command in progress has delivered its answer.
        if (commandsOnLine > 0)
            heldObjects += objects;
        else
            Q_EMIT spontaneousDataReady(objects);
    });
}

Iec101Network::~Iec101Network() = default;

void Iec101Network::doConnect(const SerialParam& param, const int* lastSettings)
{
    heldObjects.clear();
    commandsOnLine = 0;
    lineOpen = true;
    waitingForInitialData = true;
    engine->open(SerialSettings::fromParam(param), ProtocolSettings::fromArray(lastSettings));
    Q_EMIT startPollingTimer();
}

void Iec101Network::doDisconnect()
{
    engine->close();
    Q_EMIT stopPollingTimer();
}

void Iec101Network::sendCommand(Command::CommandType commandType, const QVector<int>& values)
{
    CommandRequest request;
    if (!CommandRequest::fromCommand(commandType, values, &request))
        return;
    // A command of a type that already waits is dropped: an operator who presses a
    // button again while the first press waits gets one command, not two.
    if (engine->isCommandPending() && engine->isQueued(request.typeId))
        return;
    engine->send(request);
}

void Iec101Network::lineFramesTaken()
{
    engine->lineFramesTaken();
}

void Iec101Network::timerPollingTimeOutHandler()
{
    engine->tick();
}

void Iec101Network::timerCommandHandler() {}

void Iec101Network::dataReceived(const QVector<InfoObject>& objects)
{
    if (commandsOnLine > 0)
        heldObjects += objects;
    else if (!objects.isEmpty())
        Q_EMIT spontaneousDataReady(objects);
}

void Iec101Network::linkStateChanged(int linkAddress, LinkState state)
{
    Q_UNUSED(linkAddress)
    switch (state) {
    case LinkState::Available:
        Q_EMIT linkLayerStateChangedSignal(waitingForInitialData
                                               ? QStringLiteral("Available. Waiting for initial data")
                                               : QStringLiteral("Available"));
        waitingForInitialData = false;
        break;
    case LinkState::Error:
        Q_EMIT linkLayerStateChangedSignal(QStringLiteral("Error"));
        break;
    case LinkState::Busy:
        Q_EMIT linkLayerStateChangedSignal(QStringLiteral("Busy"));
        break;
    case LinkState::Disconnected:
        if (lineOpen)
            Q_EMIT linkLayerStateChangedSignal(QStringLiteral("Disconnected"));
        lineOpen = false;
        break;
    case LinkState::Connecting:
        break;
    }
}

void Iec101Network::commandFinished(const CommandRequest& request, const CommandOutcome& outcome,
                                    const QVector<InfoObject>& answer)
{
    // Commands that never went out were dropped in the original interface, and an
    // interrogation the engine tries again has not ended yet.
    if (outcome.result == CommandOutcome::Result::NotSent)
        return;
    if (commandsOnLine > 0 && --commandsOnLine == 0)
        Q_EMIT stopCommandTimer();
    Command::CommandType type = Command::Read;
    if (!outcome.retrying && request.commandType(&type)) {
        Q_EMIT requestedDataReady(answer, type);
        Q_EMIT responseEnded(type);
    }
    if (commandsOnLine == 0)
        flushHeldObjects();
}

void Iec101Network::flushHeldObjects()
{
    if (heldObjects.isEmpty())
        return;
    const QVector<InfoObject> objects = heldObjects;
    heldObjects.clear();
    Q_EMIT spontaneousDataReady(objects);
}

} // namespace iec101
