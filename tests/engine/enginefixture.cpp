#include "enginefixture.h"

#include <QtTest>

#include "iec101network.h"
#include "linerelay.h"
#include "ptypair.h"

QString commandName(Command::CommandType type)
{
    static const char* const names[] = {"Read",   "Interrogation", "CounterInterrogation",
                                        "Single", "Double",        "ClockSync"};
    return int(type) >= 0 && int(type) < 6 ? QString::fromLatin1(names[type]) : QString::number(type);
}

bool EngineFixture::registerTypes()
{
    qRegisterMetaType<SerialParam>("SerialParam");
    qRegisterMetaType<const int*>("const int *");
    qRegisterMetaType<QVector<int>>("QVector<int>");
    qRegisterMetaType<Command::CommandType>("Command::CommandType");
    qRegisterMetaType<QVector<InfoObject>>("QVector<InfoObject>");
    return true;
}

EngineFixture::EngineFixture(const slavesim::Config& slaveConfig, QObject* parent)
    : QObject(parent), pty(std::make_unique<PtyPair>()), config(slaveConfig)
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

    engine->moveToThread(&worker);
    worker.start();
}

EngineFixture::~EngineFixture()
{
    Q_EMIT doDisconnect();
    worker.quit();
    worker.wait();
    // The worker is gone, so the engine and its timers (which live here) can go from this thread.
    delete engine;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (slavePtr)
        slavePtr->stop();
    if (relayPtr)
        relayPtr->stop();
}

bool EngineFixture::startSlave(int relayBaud)
{
    if (!pty->start()) {
        qWarning() << "pty pair:" << pty->errorString();
        return false;
    }
    config.portPath = pty->pathB();
    if (relayBaud >= 0) {
        slavePty = std::make_unique<PtyPair>();
        if (!slavePty->start())
            return false;
        relayPtr = std::make_unique<LineRelay>(pty->pathB(), slavePty->pathA(), relayBaud);
        if (!relayPtr->start())
            return false;
        config.portPath = slavePty->pathB();
    }
    config.parity = 'N';
    slavePtr = std::make_unique<slavesim::SlaveSim>(config);
    if (!slavePtr->start()) {
        qWarning() << "station:" << slavePtr->errorString();
        return false;
    }
    return true;
}

void EngineFixture::connectEngine()
{
    connectTo(pty->pathA());
}

void EngineFixture::connectTo(const QString& portName)
{
    SerialParam param;
    param.portName = portName;
    param.baudRate = config.baudRate;
    param.dataBits = 8;
    param.parity = 'N'; // a pty reopened with parity refuses to open
    param.stopBits = 1;
    Q_EMIT doConnect(param, settings);
}

bool EngineFixture::bringUp(int timeoutMs)
{
    if (!slavePtr && !startSlave())
        return false;
    connectEngine();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (events.contains(QStringLiteral("ended Interrogation")) &&
            events.contains(QStringLiteral("ended CounterInterrogation")))
            return true;
        QTest::qWait(20);
    }
    qWarning() << "bring-up timed out; events:" << events;
    return false;
}

int EngineFixture::countEvents(const QString& prefix) const
{
    return int(std::count_if(events.cbegin(), events.cend(),
                             [&](const QString& e) { return e.startsWith(prefix); }));
}

QVector<InfoObject> EngineFixture::lastRequested() const
{
    return requested.isEmpty() ? QVector<InfoObject>() : requested.last().at(0).value<QVector<InfoObject>>();
}
