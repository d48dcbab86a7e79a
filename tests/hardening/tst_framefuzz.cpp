// The engine against a station that sends mutated ASDUs, mixed with valid traffic,
// over a pty once the link is up. Nothing a slave sends may crash the engine or make a
// sanitizer complain, and afterwards the engine must still answer a plain read.

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <memory>

#include "asdumutator.h"
#include "iec101network.h"
#include "ptypair.h"
#include "slavesim.h"

using iec101::Iec101Network;

namespace {

constexpr int linkTimeout = 30000;

int fuzzSeconds()
{
    bool ok = false;
    const int fromEnv = qEnvironmentVariableIntValue("IEC101_FUZZ_SECONDS", &ok);
    if (ok && fromEnv > 0)
        return fromEnv;
#if defined(__SANITIZE_ADDRESS__)
    return 60;
#else
    return 30;
#endif
}

quint32 fuzzSeed()
{
    bool ok = false;
    const uint fromEnv = qEnvironmentVariable("IEC101_FUZZ_SEED").toUInt(&ok);
    return ok ? fromEnv : QRandomGenerator::system()->generate();
}

} // namespace

class TestFrameFuzz : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    // Towards the engine, queued to its worker thread as the view drives it.
    void doConnect(const SerialParam& param, const int* lastSettings);
    void doDisconnect();
    void sendCommand(Command::CommandType commandType, const QVector<int>& values);

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void mutatedAsdusLeaveEngineWorking();

private:
    // Sends a read of a known measured value until the answer arrives (a link error
    // caused by the fuzzing may drop the first requests).
    bool readAnswered(int timeoutMs);

    int settings[6] = {1, 2, 1, 2, 3, 2};
    PtyPair pty;
    std::unique_ptr<slavesim::SlaveSim> slave;
    QThread worker;
    Iec101Network* engine = nullptr;
    QStringList states;
    int completedResponses = 0;
    int delivered = 0;
    QVector<InfoObject> lastRead;
    bool readDone = false;
};

void TestFrameFuzz::initTestCase()
{
    qRegisterMetaType<SerialParam>("SerialParam");
    qRegisterMetaType<const int*>("const int *");
    qRegisterMetaType<QVector<int>>("QVector<int>");

    QVERIFY2(pty.start(), qPrintable(pty.errorString()));
    slavesim::Config config;
    config.portPath = pty.pathB();
    config.parity = 'N';
    slave = std::make_unique<slavesim::SlaveSim>(config);
    QVERIFY2(slave->start(), qPrintable(slave->errorString()));

    engine = new Iec101Network;
    connect(this, &TestFrameFuzz::doConnect, engine, &Iec101Network::doConnect);
    connect(this, &TestFrameFuzz::doDisconnect, engine, &Iec101Network::doDisconnect);
    connect(this, &TestFrameFuzz::sendCommand, engine, &Iec101Network::sendCommand);
    connect(engine, &Iec101Network::linkLayerStateChangedSignal, this,
            [this](const QString& state) { states << state; });
    connect(engine, &Iec101Network::spontaneousDataReady, this,
            [this](const QVector<InfoObject>& objects) { delivered += objects.size(); });
    connect(engine, &Iec101Network::requestedDataReady, this,
            [this](const QVector<InfoObject>& objects, Command::CommandType type) {
                delivered += objects.size();
                if (type == Command::Read) {
                    lastRead = objects;
                    readDone = true;
                }
            });
    connect(engine, &Iec101Network::responseEnded, this, [this] { ++completedResponses; });
    engine->moveToThread(&worker);
    worker.start();

    SerialParam param;
    param.portName = pty.pathA();
    param.baudRate = 9600;
    param.dataBits = 8;
    param.parity = 'N';
    param.stopBits = 1;
    Q_EMIT doConnect(param, settings);
    // Link up, then the initial interrogation and counter interrogation.
    QTRY_VERIFY_WITH_TIMEOUT(completedResponses >= 2, linkTimeout);
}

void TestFrameFuzz::cleanupTestCase()
{
    if (engine) {
        Q_EMIT doDisconnect();
        worker.quit();
        worker.wait();
        delete engine;
    }
    if (slave)
        slave->stop();
}

bool TestFrameFuzz::readAnswered(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        readDone = false;
        Q_EMIT sendCommand(Command::Read, {slavesim::ioa::kFirstMeasured});
        // A read that the engine took is answered or timed out within about 5 s.
        if (QTest::qWaitFor([this] { return readDone; }, 7000) && lastRead.size() == 1 &&
            lastRead.first().address == slavesim::ioa::kFirstMeasured)
            return true;
    }
    return false;
}

void TestFrameFuzz::mutatedAsdusLeaveEngineWorking()
{
    const int seconds = fuzzSeconds();
    const quint32 seed = fuzzSeed();
    qInfo("frame fuzzing for %d s, seed %u (repeat with IEC101_FUZZ_SEED=%u)", seconds, seed, seed);
    AsduMutator mutator(seed);
    QRandomGenerator traffic(seed ^ 0x5a5a5a5au);

    int sent = 0;
    int injected = 0;
    int reads = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        // A burst of hostile frames, answered one per class 1/2 request.
        const int burst = 1 + int(traffic.bounded(8u));
        for (int i = 0; i < burst; ++i)
            slave->sendRawAsdu(mutator.next());
        sent += burst;
        // The engine polls every 200 ms whatever it received: the burst must go out.
        QVERIFY2(QTest::qWaitFor([this] { return !slave->rawAsduPending(); }, 20000),
                 "the engine stopped fetching frames");

        // Then let the station's own stack serve valid traffic for a while: events,
        // and now and then a read or an interrogation from the master.
        const quint32 roll = traffic.bounded(10u);
        if (roll < 4) {
            slave->injectSinglePoint(slavesim::ioa::kFirstSinglePoint + int(traffic.bounded(10u)), roll % 2 == 0);
            slave->injectMeasured(slavesim::ioa::kFirstMeasured, float(traffic.bounded(1000u)));
            injected += 2;
        } else if (roll < 6) {
            Q_EMIT sendCommand(Command::Read, {slavesim::ioa::kFirstMeasured});
            ++reads;
        } else if (roll == 6) {
            Q_EMIT sendCommand(Command::Interrogation, {20});
        }
        QTest::qWait(100 + int(traffic.bounded(400u)));
    }
    qInfo("sent %d hostile or random ASDUs, injected %d events, %d reads; %d objects delivered; "
          "link states seen: %s",
          sent, injected, reads, delivered, qPrintable(states.join(QLatin1String(", "))));
    qInfo("mutations: %s", qPrintable(mutator.statistics().join(QLatin1Char(' '))));

    // Every queued frame went out, and the engine still does its job.
    QTRY_VERIFY_WITH_TIMEOUT(!slave->rawAsduPending(), 20000);
    QVERIFY2(sent >= seconds, "the station hardly sent anything: the fuzzing did not run");
    QVERIFY2(readAnswered(30000), "the engine no longer answers a read after the fuzzing");
    QVERIFY(!states.contains(QLatin1String("Disconnected")));
}

QTEST_GUILESS_MAIN(TestFrameFuzz)
#include "tst_framefuzz.moc"
