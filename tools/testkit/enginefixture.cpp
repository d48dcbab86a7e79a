#include "enginefixture.h"

#include <QtTest>

#include "iec101network.h"
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
    iec101::registerMetaTypes();
    return true;
}

EngineFixture::EngineFixture(const slavesim::Config& slaveConfig, QObject* parent)
    : QObject(parent), line(slaveConfig), settings(line.settings())
{
    engine = new iec101::Iec101Network;
    using E = iec101::Iec101Network;
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

    // The engine's polling timer lives on this thread but belongs to the engine. It is the
    // timer whose queued start() arrives just before this fixture's own copy of the engine's
    // startPollingTimer: the signal posts both, in the order they were connected.
    QCoreApplication::instance()->installEventFilter(this);
    connect(engine, &E::startPollingTimer, this, [this] {
        if (pollingTimer || !lastCalledTimer)
            return;
        pollingTimer = lastCalledTimer;
        QCoreApplication::instance()->removeEventFilter(this);
        connect(pollingTimer, &QTimer::timeout, this, [this] {
            ++ticks;
            Q_EMIT pollingTick();
        });
    });

    engine->moveToThread(&worker);
    worker.start();
}

bool EngineFixture::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MetaCall) {
        if (auto* timer = qobject_cast<QTimer*>(watched))
            lastCalledTimer = timer;
    }
    return QObject::eventFilter(watched, event);
}

EngineFixture::~EngineFixture()
{
    Q_EMIT doDisconnect();
    worker.quit();
    worker.wait();
    // The worker is gone, so the engine and its timers (which live here) can go from this thread.
    delete engine;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    line.stop();
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
    Q_EMIT doConnect(param, settings.data());
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

void EngineFixture::sendCommands(const QVector<QPair<Command::CommandType, QVector<int>>>& commands)
{
    iec101::Iec101Network* target = engine;
    QMetaObject::invokeMethod(engine, [target, commands] {
        for (const auto& command : commands)
            target->sendCommand(command.first, command.second);
    });
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
