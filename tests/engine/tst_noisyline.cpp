// The engine over a paced 9600 baud line that damages octets: the link layer repeats
// what was lost, so events, an interrogation and a double command all get through,
// complete and once each.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "linerelay.h"

using namespace iec101;

Q_DECLARE_METATYPE(LineNoise)
namespace ioa = slavesim::ioa;

namespace {

constexpr int kBaud = 9600;
constexpr int kEventsPerSecond = 4;
constexpr int kStreamSeconds = 40;
constexpr int kLong = 60000; // a repeated frame costs seconds on this line

QVector<InfoObject> delivered(const QSignalSpy& spy)
{
    QVector<InfoObject> all;
    for (const QList<QVariant>& args : spy)
        all += args.at(0).value<QVector<InfoObject>>();
    return all;
}

QVector<InfoObject> answerTo(const QSignalSpy& requested, Command::CommandType type)
{
    QVector<InfoObject> answer;
    for (const QList<QVariant>& args : requested)
        if (args.at(1).value<Command::CommandType>() == type)
            answer = args.at(0).value<QVector<InfoObject>>();
    return answer;
}

} // namespace

class TestNoisyLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void survivesDamage_data();
    void survivesDamage();
    void cleanupTestCase();

private:
    qint64 damagedOctets = 0;
};

void TestNoisyLine::survivesDamage_data()
{
    QTest::addColumn<LineNoise>("toSlave");
    QTest::addColumn<LineNoise>("toMaster");
    const LineNoise corrupt{0.001, 0.0};
    const LineNoise lose{0.0, 0.001};
    QTest::newRow("one octet in a thousand corrupted, both ways") << corrupt << corrupt;
    QTest::newRow("one in a thousand lost towards the slave, corrupted towards the master")
        << lose << corrupt;
}

void TestNoisyLine::survivesDamage()
{
    QFETCH(LineNoise, toSlave);
    QFETCH(LineNoise, toMaster);
    EngineFixture f;
    QVERIFY(f.startLine(SlaveSimLine::Transport::Relay, kBaud));
    f.relay()->setNoise(LineRelay::MasterToSlave, toSlave);
    f.relay()->setNoise(LineRelay::SlaveToMaster, toMaster);
    QVERIFY(f.bringUp(kLong));
    const int interrogated = answerTo(f.requested, Command::Interrogation).size();
    f.events.clear();
    f.spontaneous.clear();
    f.requested.clear();
    f.slave().clearReceived();

    // A steady stream of numbered events; an interrogation and a double command run through it.
    constexpr int kEvents = kEventsPerSecond * kStreamSeconds;
    int injected = 0;
    QTimer pace;
    pace.setInterval(1000 / kEventsPerSecond);
    connect(&pace, &QTimer::timeout, this, [&] {
        if (injected < kEvents)
            f.slave().injectMeasured(ioa::kFirstMeasured, float(injected++), false);
        if (injected == kEvents / 4)
            Q_EMIT f.sendCommand(Command::Interrogation, {20});
        if (injected == kEvents / 2)
            Q_EMIT f.sendCommand(Command::Double, {ioa::kDoubleCommandBase + 4, 2});
    });
    pace.start();
    QTRY_COMPARE_WITH_TIMEOUT(injected, kEvents, kStreamSeconds * 1000 + kLong);
    QTRY_VERIFY_WITH_TIMEOUT(f.countEvents("ended Double") > 0, kLong);

    // Every event once, in order: the numbers run 0, 1, 2, ... without gap or repeat.
    auto measured = [&f] {
        QVector<float> values;
        for (const InfoObject& o : delivered(f.spontaneous))
            if (o.address == ioa::kFirstMeasured)
                values << o.value.toFloat();
        return values;
    };
    QTRY_VERIFY_WITH_TIMEOUT(measured().size() >= kEvents, kLong);
    QTest::qWait(1000); // a late duplicate would show up here
    const QVector<float> values = measured();
    QCOMPARE(values.size(), kEvents);
    for (int i = 0; i < kEvents; ++i)
        QCOMPARE(values[i], float(i));

    // The switch moved once, and the station saw one select and one execute.
    int switchReports = 0;
    for (const InfoObject& o : delivered(f.spontaneous))
        switchReports += o.address == ioa::kObjectStateBase + 4 ? 1 : 0;
    QCOMPARE(switchReports, 1);
    QCOMPARE(f.slave().received(C_DC_NA_1).size(), 2);

    // The interrogation brought every point once, and each command ended once, without failure.
    QCOMPARE(f.countEvents("ended Interrogation"), 1);
    QCOMPARE(f.countEvents("ended Double"), 1);
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 1);
    const QVector<InfoObject> answer = answerTo(f.requested, Command::Interrogation);
    QSet<int> addresses;
    for (const InfoObject& o : answer)
        addresses.insert(o.address);
    QCOMPARE(answer.size(), interrogated);
    QCOMPARE(addresses.size(), interrogated);
    QCOMPARE(f.statusMessages.size(), 0);

    // The link may have gone through "Error" and back; it never dropped the connection.
    const QStringList states = f.events.filter(QRegularExpression("^state "));
    for (const QString& state : states)
        QVERIFY2(state == "state Error" || state == "state Available", qPrintable(state));
    QVERIFY(states.isEmpty() || states.last() == "state Available");

    const LineRelay& line = *f.relay();
    const qint64 damaged =
        line.corruptedCount(LineRelay::MasterToSlave) + line.corruptedCount(LineRelay::SlaveToMaster) +
        line.droppedCount(LineRelay::MasterToSlave) + line.droppedCount(LineRelay::SlaveToMaster);
    qInfo("%lld of %lld octets damaged, link errors: %d", damaged,
          line.masterByteCount() + line.slaveByteCount(), states.count("state Error"));
    damagedOctets += damaged;
}

void TestNoisyLine::cleanupTestCase()
{
    // About seven octets a row are damaged; none at all would mean the line was clean.
    QVERIFY(damagedOctets > 0);
}

QTEST_GUILESS_MAIN(TestNoisyLine)
#include "tst_noisyline.moc"
