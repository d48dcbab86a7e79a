#include "enginefixture.h"

#include <QtTest>

#include "iec101network.h"
#include "masterengine.h"
#include "metatypes.h"

using namespace iec101;

QString commandName(Command::CommandType type)
{
    static const char* const names[] = {"Read",   "Interrogation", "CounterInterrogation",
                                        "Single", "Double",        "ClockSync"};
    return int(type) >= 0 && int(type) < 6 ? QString::fromLatin1(names[type]) : QString::number(type);
}

bool EngineFixture::registerTypes()
{
    registerMetaTypes();
    return true;
}

EngineFixture::EngineFixture(const slavesim::Config& slaveConfig, QObject* parent)
    : QObject(parent), line(slaveConfig), settings(line.settings())
{
    engine = new Iec101Network;
    MasterEngine* typed = engine->master();
    using E = Iec101Network;
    connect(this, &EngineFixture::doConnect, engine, &E::doConnect);
    connect(this, &EngineFixture::doDisconnect, engine, &E::doDisconnect);
    connect(this, &EngineFixture::sendCommand, engine, &E::sendCommand);
    connect(engine, &E::spontaneousDataReady, this, &EngineFixture::spontaneousDataReady);
    connect(engine, &E::requestedDataReady, this, &EngineFixture::requestedDataReady);
    connect(engine, &E::responseEnded, this, &EngineFixture::responseEnded);
    connect(engine, &E::linkLayerStateChangedSignal, this, &EngineFixture::linkLayerStateChangedSignal);
    connect(engine, &E::setStatusBarMessage, this, &EngineFixture::setStatusBarMessage);
    connect(engine, &E::lineFramesReady, this, [this](const QVector<LineFrame>& frames) {
        lineFrames += frames;
        QMetaObject::invokeMethod(engine, &E::lineFramesTaken, Qt::QueuedConnection);
    });

    connect(this, &EngineFixture::spontaneousDataReady, this, [this](const QVector<InfoObject>& objects) {
        events << QStringLiteral("spontaneous %1").arg(objects.size());
    });
    connect(this, &EngineFixture::requestedDataReady, this,
            [this](const QVector<InfoObject>& objects, Command::CommandType type) {
                events << QStringLiteral("requested %1 %2").arg(commandName(type)).arg(objects.size());
            });
    connect(this, &EngineFixture::responseEnded, this, [this](Command::CommandType type) {
        events << QStringLiteral("ended %1").arg(commandName(type));
    });
    connect(this, &EngineFixture::linkLayerStateChangedSignal, this,
            [this](const QString& state) { events << QStringLiteral("state ") + state; });
    connect(this, &EngineFixture::setStatusBarMessage, this,
            [this](const QString& text) { events << QStringLiteral("status ") + text; });

    // The typed face, recorded as it arrives on this thread.
    connect(typed, &MasterEngine::commandFinished, this,
            [this](const CommandRequest& request, const CommandOutcome& outcome,
                   const QVector<InfoObject>& answer) {
                finished.append({request, outcome, answer});
                Q_EMIT commandFinished(request, outcome);
            });
    connect(typed, &MasterEngine::dataReceived, this,
            [this](const QVector<InfoObject>& objects) { unsolicited += objects; });
    connect(typed, &MasterEngine::linkStateChanged, this, [this](int linkAddress, LinkState state) {
        linkStates.append(state);
        stationStates.append({linkAddress, state});
    });
    connect(typed, &MasterEngine::statusMessage, this, [this](const QString& text) { statusTexts << text; });
    connect(typed, &MasterEngine::initialDataFinished, this, [this](int linkAddress, bool complete) {
        initialDataFinished = true;
        initialDataComplete = complete;
        initialDataStations.append(linkAddress);
    });
    connect(typed, &MasterEngine::polled, this, [this] {
        ++ticks;
        Q_EMIT pollingTick();
    });

    engine->moveToThread(&worker);
    // The engine's timers live on the worker: the line is closed there, before it ends.
    connect(&worker, &QThread::finished, engine, &E::doDisconnect, Qt::DirectConnection);
    worker.start();
}

EngineFixture::~EngineFixture()
{
    worker.quit();
    worker.wait();
    // The worker is gone, so the engine can go from this thread.
    delete engine;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    line.stop();
}

MasterEngine* EngineFixture::master() const
{
    return engine->master();
}

bool EngineFixture::startLine(SlaveSimLine::Transport transport, int relayBaud)
{
    if (line.start(transport, relayBaud))
        return true;
    qWarning() << "line:" << line.errorString();
    return false;
}

void EngineFixture::connectEngine()
{
    connectTo(line.masterPort());
}

void EngineFixture::connectTo(const QString& portName)
{
    SerialParam param = line.serialParam();
    param.portName = portName;
    // The engine reads the array on its own thread, after this returns.
    legacySettings = settings.toArray();
    Q_EMIT doConnect(param, legacySettings.data());
}

void EngineFixture::openTyped()
{
    openTyped(line.serialSettings(), settings);
}

void EngineFixture::openTyped(const SerialSettings& serial, const ProtocolSettings& protocol)
{
    MasterEngine* typed = master();
    QMetaObject::invokeMethod(typed, [typed, serial, protocol] { typed->open(serial, protocol); });
}

bool EngineFixture::bringUp(int timeoutMs)
{
    if (line.masterPort().isEmpty() && !startLine())
        return false;
    connectEngine();
    const bool up = QTest::qWaitFor(
        [this] {
            return events.contains(QStringLiteral("ended Interrogation")) &&
                   events.contains(QStringLiteral("ended CounterInterrogation"));
        },
        timeoutMs);
    if (!up)
        qWarning() << "bring-up timed out; events:" << events;
    return up;
}

bool EngineFixture::bringUpTyped(int timeoutMs)
{
    if (line.masterPort().isEmpty() && !startLine())
        return false;
    openTyped();
    const bool up = QTest::qWaitFor([this] { return initialDataFinished; }, timeoutMs);
    if (!up)
        qWarning() << "bring-up timed out; status:" << statusTexts;
    return up;
}

void EngineFixture::sendCommands(const QVector<QPair<Command::CommandType, QVector<int>>>& commands)
{
    Iec101Network* target = engine;
    QMetaObject::invokeMethod(engine, [target, commands] {
        for (const auto& command : commands)
            target->sendCommand(command.first, command.second);
    });
}

quint64 EngineFixture::send(CommandRequest request)
{
    if (request.id == 0)
        request.id = ++nextId;
    MasterEngine* typed = master();
    QMetaObject::invokeMethod(typed, [typed, request] { typed->send(request); });
    return request.id;
}

void EngineFixture::setTuning(const EngineTuning& tuning)
{
    MasterEngine* typed = master();
    QMetaObject::invokeMethod(typed, [typed, tuning] { typed->setTuning(tuning); });
}

void EngineFixture::runOnWorker(const std::function<void()>& call)
{
    QMetaObject::invokeMethod(engine, call, Qt::BlockingQueuedConnection);
}

int EngineFixture::countEvents(const QString& prefix) const
{
    return int(std::count_if(events.cbegin(), events.cend(),
                             [&](const QString& e) { return e.startsWith(prefix); }));
}

QVector<InfoObject> EngineFixture::spontaneousObjects() const
{
    QVector<InfoObject> all;
    for (const QList<QVariant>& args : spontaneous)
        all += args.at(0).value<QVector<InfoObject>>();
    return all;
}

QVector<InfoObject> EngineFixture::lastRequested() const
{
    return requested.isEmpty() ? QVector<InfoObject>() : requested.last().at(0).value<QVector<InfoObject>>();
}

std::optional<EngineFixture::Finished> EngineFixture::outcomeOf(quint64 id) const
{
    for (int i = finished.size() - 1; i >= 0; --i) {
        if (finished.at(i).request.id == id && !finished.at(i).outcome.retrying)
            return finished.at(i);
    }
    return std::nullopt;
}

std::optional<EngineFixture::Finished> EngineFixture::waitForOutcome(quint64 id, int timeoutMs)
{
    if (!QTest::qWaitFor([&] { return outcomeOf(id).has_value(); }, timeoutMs))
        return std::nullopt;
    return outcomeOf(id);
}
