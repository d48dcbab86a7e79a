// The engine against the simulated slave over pty pairs, run on a worker thread
// the way the view runs it.
#include <QtTest>

#include <limits>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "iec101network.h"
#include "linerelay.h"
#include "objecttext.h"

using namespace iec101;

using slavesim::CommandMode;
Q_DECLARE_METATYPE(slavesim::CommandMode)
namespace ioa = slavesim::ioa;

namespace {

constexpr int kLong = 20000; // generous: the machine may be loaded

const QString kCommandFail = QStringLiteral("Command fail (if DoubleCmd, try toggle local/remote)");

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int v : values)
        result.append(char(v));
    return result;
}

} // namespace

class TestIec101Network : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void linkStatesAndInitialData();
    void spontaneousDelivery();
    void command_data();
    void command();
    void queueRules();
    void dataNeverMovesACommand();
    void readBetweenTicks();
    void settingsAndClockSync_data();
    void settingsAndClockSync();
    void portGone_data();
    void portGone();
    void hostileFrames_data();
    void hostileFrames();
    void eventStorm();
    void nextCommandAfterCutLine();
    void cleanupTestCase();

private:
    // One link for all hostile-frame rows: each row must leave it working for the next.
    std::unique_ptr<EngineFixture> hostileLink;
};

void TestIec101Network::cleanupTestCase()
{
    hostileLink.reset();
}

void TestIec101Network::linkStatesAndInitialData()
{
    slavesim::Config config;
    config.extraPoints = 300;
    EngineFixture f(config);
    QVERIFY(f.bringUp());
    QCOMPARE(f.events.first(), QStringLiteral("state Available. Waiting for initial data"));
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 1);
    QCOMPARE(f.slave().received(C_CI_NA_1).size(), 1);

    // The interrogation answer spans several ASDUs but reaches the view as one vector, then the end.
    const int gi = f.events.indexOf(QRegularExpression("requested Interrogation \\d+"));
    QVERIFY(gi >= 0);
    QVERIFY2(f.events[gi].section(' ', 2).toInt() >= 320, qPrintable(f.events[gi]));
    QCOMPARE(f.events[gi + 1], QStringLiteral("ended Interrogation"));
    QCOMPARE(f.countEvents("requested Interrogation"), 1);

    // A slave that stops answering gives "Error"; when it is back, "Available" and nothing re-requested.
    f.slave().pause();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Error"), kLong);
    f.slave().drainInput();
    f.slave().resume();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Available"), kLong);
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 1);

    // A new connection runs the initial interrogations again.
    Q_EMIT f.doDisconnect();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Disconnected"), kLong);
    f.connectEngine();
    QTRY_COMPARE_WITH_TIMEOUT(f.countEvents("ended CounterInterrogation"), 2, kLong);
    QCOMPARE(f.countEvents("state Available. Waiting for initial data"), 2);
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 2);
    QCOMPARE(f.slave().received(C_CI_NA_1).size(), 2);
}

void TestIec101Network::spontaneousDelivery()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    f.events.clear();
    f.spontaneous.clear();

    // Idle: delivered at once, with its time tag.
    const qint64 tag = QDateTime::currentMSecsSinceEpoch() - 60000;
    f.slave().injectSinglePoint(ioa::kFirstSinglePoint, true, true, tag);
    QTRY_COMPARE_WITH_TIMEOUT(f.spontaneous.size(), 1, kLong);
    const InfoObject event = f.spontaneous.first().at(0).value<QVector<InfoObject>>().value(0);
    QCOMPARE(event.address, ioa::kFirstSinglePoint);
    QCOMPARE(event.typeId, int(M_SP_TB_1));
    QVERIFY(event.spontaneous);
    QCOMPARE(event.timestamp.toLongLong(), tag);

    // During a command: held back until the command's answer and end are out.
    f.events.clear();
    f.slave().setCommandMode(CommandMode::Silent);
    Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
    // Never block this thread: the engine's timers run on it.
    QTRY_COMPARE_WITH_TIMEOUT(f.slave().received(C_RD_NA_1).size(), 1, kLong);
    f.slave().injectDoublePoint(ioa::kObjectStateBase + 1, 2);
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("spontaneous 1"), kLong);
    QCOMPARE(f.events,
             QStringList({"status " + kCommandFail, "requested Read 0", "ended Read", "spontaneous 1"}));
    QVERIFY(f.spontaneous.last().at(0).value<QVector<InfoObject>>().value(0).timestamp.isValid());
}

void TestIec101Network::command_data()
{
    QTest::addColumn<CommandMode>("mode");
    QTest::addColumn<Command::CommandType>("command");
    QTest::addColumn<QVector<int>>("values");
    QTest::addColumn<int>("sentType");
    QTest::addColumn<int>("sent");       // ASDUs the station receives: 2 = select, then execute
    QTest::addColumn<int>("answerType"); // type of the one object answered, 0 = empty answer
    QTest::addColumn<QString>("status"); // what the operator is told, if anything

    const auto read = [](int address) {
        return QVector<int>{address};
    };
    const QString none;
    QTest::newRow("read measured value") << CommandMode::Normal << Command::Read << read(ioa::kFirstMeasured)
                                         << int(C_RD_NA_1) << 1 << int(M_ME_NC_1) << none;
    QTest::newRow("read single point") << CommandMode::Normal << Command::Read << read(ioa::kFirstSinglePoint)
                                       << int(C_RD_NA_1) << 1 << int(M_SP_NA_1) << none;
    QTest::newRow("read, negative confirmation only")
        << CommandMode::Negative << Command::Read << read(ioa::kFirstMeasured) << int(C_RD_NA_1) << 1 << 0
        << QStringLiteral("C_RD_NA_1 4001: refused: unknown object address (47)");
    QTest::newRow("single on") << CommandMode::Normal << Command::Single
                               << QVector<int>{ioa::kFirstSingleCommand, 1} << int(C_SC_NA_1) << 2 << 0
                               << none;
    QTest::newRow("double close") << CommandMode::Normal << Command::Double
                                  << QVector<int>{ioa::kDoubleCommandBase + 2, 2} << int(C_DC_NA_1) << 2 << 0
                                  << none;
    QTest::newRow("silent read") << CommandMode::Silent << Command::Read << read(ioa::kFirstMeasured)
                                 << int(C_RD_NA_1) << 1 << 0 << kCommandFail;
    // The select is confirmed, so the execute goes out; the missing answer to it fails the command.
    QTest::newRow("double, only select answered")
        << CommandMode::AnswerSelectOnly << Command::Double << QVector<int>{ioa::kDoubleCommandBase + 1, 1}
        << int(C_DC_NA_1) << 2 << 0 << kCommandFail;
}

void TestIec101Network::command()
{
    QFETCH(CommandMode, mode);
    QFETCH(Command::CommandType, command);
    QFETCH(QVector<int>, values);
    QFETCH(int, sentType);
    QFETCH(int, sent);
    QFETCH(int, answerType);
    QFETCH(QString, status);

    EngineFixture f;
    QVERIFY(f.bringUp());
    f.events.clear();
    f.slave().setCommandMode(mode);
    Q_EMIT f.sendCommand(command, values);
    const QString name = commandName(command);
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended " + name), kLong);

    // A double command's spontaneous report of the moved switch may follow the end.
    QStringList expected{QStringLiteral("requested %1 %2").arg(name).arg(answerType ? 1 : 0),
                         "ended " + name};
    if (!status.isEmpty())
        expected.prepend("status " + status);
    QCOMPARE(f.events.mid(0, expected.size()), expected);
    if (answerType) {
        const InfoObject answer = f.lastRequested().first();
        QCOMPARE(answer.address, values.first());
        QCOMPARE(answer.typeId, answerType);
        QVERIFY(answer.value.isValid());
        QVERIFY(!answer.spontaneous);
    }
    const QVector<slavesim::ReceivedAsdu> asdus = f.slave().received(sentType);
    QCOMPARE(asdus.size(), sent);
    for (int i = 0; i < sent; ++i) {
        QCOMPARE(asdus[i].select, sent == 2 && i == 0);
        QCOMPARE(asdus[i].ioa, values.first());
        QCOMPARE(asdus[i].commonAddress, f.settings.commonAddress);
        if (values.size() > 1)
            QCOMPARE(asdus[i].value, qint64(values.last()));
    }

    // Not repeated, and the engine takes the next command.
    f.slave().setCommandMode(CommandMode::Normal);
    Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
    QTRY_COMPARE_WITH_TIMEOUT(f.countEvents("ended Read"), command == Command::Read ? 2 : 1, kLong);
    QCOMPARE(f.lastRequested().size(), 1);
    QCOMPARE(f.slave().received(sentType).size(), sent + (sentType == C_RD_NA_1 ? 1 : 0));
    QCOMPARE(f.statusMessages.size(), status.isEmpty() ? 0 : 1);
}

void TestIec101Network::queueRules()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    f.events.clear();
    f.slave().clearReceived();

    // While the read is pending: the first interrogation waits, the second is dropped.
    f.sendCommands({{Command::Read, {ioa::kFirstMeasured}},
                    {Command::Interrogation, {20}},
                    {Command::Interrogation, {21}},
                    {Command::CounterInterrogation, {5}}});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended CounterInterrogation"), kLong);
    QCOMPARE(f.events.filter(QRegularExpression("^ended ")),
             QStringList({"ended Read", "ended Interrogation", "ended CounterInterrogation"}));
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 1);
    QCOMPARE(f.slave().received(C_IC_NA_1).first().value, 20);

    // An interrogation asked for while one is pending (and none queued) runs after it;
    // an empty parameter list is not a command.
    f.events.clear();
    f.sendCommands({{Command::Interrogation, {20}},
                    {Command::Interrogation, {20}},
                    {Command::Read, {}},
                    {Command::Read, {ioa::kFirstMeasured}}});
    QTRY_COMPARE_WITH_TIMEOUT(f.countEvents("ended Read"), 1, kLong);
    QCOMPARE(f.countEvents("ended Interrogation"), 2);
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 3);
    QCOMPARE(f.slave().received(C_RD_NA_1).size(), 2);

    // A silent station: the operator's interrogation ends once, timed out, and the read
    // that waited behind it goes out next instead of an endless retry.
    f.events.clear();
    f.slave().clearReceived();
    f.slave().setCommandMode(CommandMode::Silent);
    Q_EMIT f.sendCommand(Command::Interrogation, {20});
    Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Read"), kLong);
    QCOMPARE(f.events.filter(QRegularExpression("^(ended|status) ")),
             QStringList({"status C_IC_NA_1 qoi=20: timed out waiting for the confirmation",
                          "ended Interrogation", "status " + kCommandFail, "ended Read"}));
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 1);
    QCOMPARE(f.slave().received(C_RD_NA_1).size(), 1);
}

// Data that arrives while a command waits for its confirmation is data, whatever its
// value: it neither ends the command nor repeats its execute, and it is delivered as what
// it is (here a late answer to a Read) once the command has ended.
void TestIec101Network::dataNeverMovesACommand()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    f.events.clear();
    f.slave().setCommandMode(CommandMode::AnswerSelectOnly);
    Q_EMIT f.sendCommand(Command::Single, {ioa::kFirstSingleCommand, 1});
    QTRY_COMPARE_WITH_TIMEOUT(f.slave().received(C_SC_NA_1).size(), 2, kLong);
    // A short float that is not a number (cause 5, address 4001), answering nothing.
    f.slave().sendRawAsdu(bytes({13, 0x01, 5, 0, 1, 0, 0xa1, 0x0f, 0, 0, 0, 0xc0, 0x7f, 0}));
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Single"), kLong);
    QCOMPARE(f.events,
             QStringList({"status " + kCommandFail, "requested Single 0", "ended Single", "spontaneous 1"}));
    QCOMPARE(f.slave().received(C_SC_NA_1).size(), 2);
    QCOMPARE(f.spontaneousObjects().last().address, ioa::kFirstMeasured);
    QCOMPARE(ObjectText::valueText(f.spontaneousObjects().last()), QStringLiteral("?"));
}

// A read sent right after a polling tick is answered before the next one: the command runs
// the line itself (waiting for ticks, it took two: one to send it, one to fetch the answer).
// Judged by ticks, not by the clock; a loaded machine may hold the worker up for a whole
// tick now and then, so the best of three tries counts.
void TestIec101Network::readBetweenTicks()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    int fewestTicks = std::numeric_limits<int>::max();
    for (int attempt = 0; attempt < 3 && fewestTicks > 0; ++attempt) {
        int sentAt = -1;
        int endedAt = -1;
        const auto send = connect(&f, &EngineFixture::pollingTick, this, [&] {
            if (sentAt < 0) {
                sentAt = f.ticks;
                Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
            }
        });
        const auto end = connect(&f, &EngineFixture::responseEnded, this, [&] { endedAt = f.ticks; });
        QTRY_VERIFY_WITH_TIMEOUT(endedAt >= 0, kLong);
        disconnect(send);
        disconnect(end);
        QCOMPARE(f.lastRequested().size(), 1);
        fewestTicks = std::min(fewestTicks, endedAt - sentAt);
    }
    QCOMPARE(fewestTicks, 0);
}

void TestIec101Network::settingsAndClockSync_data()
{
    QTest::addColumn<QVector<int>>("settings"); // CA, its size, link address, its size, IOA size, COT size
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<QByteArray>("frame"); // control field, link address, then the ASDU header

    QTest::newRow("addressed, settings 65534, 2, 1, 1, 3, 2")
        << QVector<int>{65534, 2, 1, 1, 3, 2} << false << QByteArray();
    QTest::newRow("broadcast, 1-octet link, 2-octet CA")
        << QVector<int>{1, 2, 1, 1, 3, 2} << true << bytes({0x44, 0xff, 0x67, 0x01, 0x06, 0x00, 0xff, 0xff});
    QTest::newRow("broadcast, 2-octet link, 1-octet CA")
        << QVector<int>{1, 1, 1, 2, 3, 2} << true << bytes({0x44, 0xff, 0xff, 0x67, 0x01, 0x06, 0x00, 0xff});
}

void TestIec101Network::settingsAndClockSync()
{
    QFETCH(QVector<int>, settings);
    QFETCH(bool, broadcast);
    QFETCH(QByteArray, frame);

    slavesim::Config config;
    // The slave confirms a broadcast after all; the echo must not reach the Read below.
    config.echoBroadcastClockSync = true;
    config.commonAddress = settings[0];
    config.sizeOfCA = settings[1];
    config.linkAddress = settings[2];
    config.linkAddressLength = settings[3];
    config.sizeOfIOA = settings[4];
    config.sizeOfCOT = settings[5];
    EngineFixture f(config);
    QVERIFY(f.startLine(SlaveSimLine::Transport::Relay));
    QVERIFY(f.bringUp());
    f.events.clear();
    f.slave().clearReceived();
    f.relay()->clearMasterBytes();

    Q_EMIT f.sendCommand(Command::ClockSync, {broadcast ? 1 : 0});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended ClockSync"), kLong);
    if (!broadcast) {
        QCOMPARE(f.lastRequested().size(), 1);
        QCOMPARE(f.lastRequested().first().typeId, int(C_CS_NA_1));
        QVERIFY(f.lastRequested().first().timestamp.isValid());
    } else {
        // Finished without waiting for anything from the slave.
        QCOMPARE(f.events.first(), QStringLiteral("requested ClockSync 0"));
        QTRY_VERIFY_WITH_TIMEOUT(f.relay()->masterBytes().contains(frame), kLong);
    }

    // The time goes out as local calendar fields, year within the century.
    QTRY_COMPARE_WITH_TIMEOUT(f.slave().received(C_CS_NA_1).size(), 1, kLong);
    const auto received = f.slave().received(C_CS_NA_1).first();
    QCOMPARE(received.commonAddress, broadcast ? (settings[1] == 2 ? 0xffff : 0xff) : settings[0]);
    const QDateTime fields = QDateTime::fromMSecsSinceEpoch(received.value, Qt::UTC);
    const QDateTime localNow(QDate::currentDate(), QTime::currentTime(), Qt::UTC);
    QCOMPARE(fields.date().year() % 100, QDate::currentDate().year() % 100);
    QVERIFY2(qAbs(fields.msecsTo(localNow)) < 10000, qPrintable(fields.toString(Qt::ISODateWithMs)));

    // Later commands go to the slave's own link and common address again.
    f.relay()->clearMasterBytes();
    Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Read"), kLong);
    const QByteArray readHeader =
        settings[3] == 2 ? bytes({0x01, 0x00, 0x66, 0x01, 0x05}) : bytes({0x01, 0x66, 0x01, 0x05});
    QVERIFY(f.relay()->masterBytes().contains(readHeader));
    QCOMPARE(f.lastRequested().size(), 1);
    QCOMPARE(f.lastRequested().first().address, ioa::kFirstMeasured);
    const auto read = f.slave().received(C_RD_NA_1);
    QCOMPARE(read.size(), 1);
    QCOMPARE(read.first().commonAddress, settings[0]);
    QCOMPARE(read.first().ioa, ioa::kFirstMeasured);
}

void TestIec101Network::portGone_data()
{
    QTest::addColumn<QString>("port"); // empty: the connected line vanishes
    QTest::newRow("vanishes while connected") << QString();
    QTest::newRow("absolute path") << QStringLiteral("/nonexistent/iec101/ttyX");
    QTest::newRow("bare name") << QStringLiteral("ttyIEC101Missing0");
}

void TestIec101Network::portGone()
{
    QFETCH(QString, port);
    EngineFixture f;
    if (port.isEmpty()) {
        QVERIFY(f.bringUp());
        f.events.clear();
        f.line.unplug();
    } else {
        f.connectTo(port);
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.events, QStringList{"state Disconnected"}, kLong);
    // Polling has stopped: nothing more is reported.
    QTest::qWait(600);
    QCOMPARE(f.events, QStringList{"state Disconnected"});
}

void TestIec101Network::hostileFrames_data()
{
    QTest::addColumn<QByteArray>("asdu");
    QTest::addColumn<int>("objects");

    // Header: type, VSQ (bit 7 = SQ), COT, originator, common address (2 octets); IOAs 3 octets.
    QTest::newRow("valid control row") << bytes({1, 0x01, 3, 0, 1, 0, 0xe9, 0x03, 0, 1}) << 1;
    QTest::newRow("shorter than a header") << bytes({1, 0x01}) << 0;
    QTest::newRow("header only, one element declared") << bytes({1, 0x01, 3, 0, 1, 0}) << 0;
    QTest::newRow("zero elements") << bytes({1, 0x00, 3, 0, 1, 0, 0xe9, 0x03, 0, 1}) << 0;
    QTest::newRow("SQ=0 over-count") << bytes({1, 0x05, 3, 0, 1, 0, 0xe9, 0x03, 0, 1}) << 0;
    QTest::newRow("SQ=1 over-count") << bytes({1, 0x85, 3, 0, 1, 0, 0xe9, 0x03, 0, 1}) << 0;
    QTest::newRow("SQ=1 127 elements, no payload") << bytes({36, 0xff, 3, 0, 1, 0}) << 0;
    QTest::newRow("truncated time tag") << bytes({31, 0x01, 3, 0, 1, 0, 0x01, 0x00, 0x03, 2, 0, 0, 0}) << 0;
    QTest::newRow("truncated clock sync") << bytes({103, 0x01, 7, 0, 1, 0, 0, 0, 0, 1, 2, 3}) << 0;
    QTest::newRow("unknown type") << bytes({200, 0x01, 3, 0, 1, 0, 0xe9, 0x03, 0, 1, 2, 3, 4}) << 0;
    QTest::newRow("file segment") << bytes({125, 0x01, 3, 0, 1, 0, 0xe9, 0x03, 0, 1, 0, 1, 200}) << 0;
}

void TestIec101Network::hostileFrames()
{
    QFETCH(QByteArray, asdu);
    QFETCH(int, objects);

    if (!hostileLink) {
        hostileLink = std::make_unique<EngineFixture>();
        QVERIFY(hostileLink->bringUp());
    }
    EngineFixture& f = *hostileLink;
    f.spontaneous.clear();
    f.requested.clear();
    f.events.clear();
    f.slave().sendRawAsdu(asdu);
    QTRY_VERIFY_WITH_TIMEOUT(!f.slave().rawAsduPending(), kLong);

    // Still alive and answering, and the bad frame produced nothing.
    Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Read"), kLong);
    QCOMPARE(f.lastRequested().size(), 1);
    QCOMPARE(f.spontaneousObjects().size(), objects);
}

// 20 events per second for 10 s: more than one ASDU per polling tick. All of them
// arrive, in order, and the engine keeps up with the slave while they come.
void TestIec101Network::eventStorm()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    f.spontaneous.clear();

    constexpr int kEvents = 200;
    int injected = 0;
    QTimer pace;
    pace.setInterval(50);
    connect(&pace, &QTimer::timeout, this, [&] {
        if (injected < kEvents)
            f.slave().injectMeasured(ioa::kFirstMeasured, float(injected++), false);
    });
    pace.start();
    QTRY_COMPARE_WITH_TIMEOUT(injected, kEvents, 60000);
    // One exchange per tick would leave about three quarters of the storm queued at the slave.
    const int backlog = kEvents - f.spontaneousObjects().size();
    QVERIFY2(backlog < kEvents / 2, qPrintable(QString::number(backlog)));
    QTRY_COMPARE_WITH_TIMEOUT(f.spontaneousObjects().size(), kEvents, kLong);
    const QVector<InfoObject> all = f.spontaneousObjects();
    for (int i = 0; i < kEvents; ++i)
        QCOMPARE(all[i].value.toFloat(), float(i));
}

// The slave freezes and its input is thrown away while the master keeps asking; when
// it answers again it may repeat its last frame. The next command still goes through.
void TestIec101Network::nextCommandAfterCutLine()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    f.events.clear();
    Q_EMIT f.sendCommand(Command::Double, {ioa::kDoubleCommandBase + 3, 2});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Double"), kLong);
    f.slave().pause();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Error"), kLong);
    f.slave().drainInput();
    f.slave().resume();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Available"), kLong);

    f.events.clear();
    f.statusMessages.clear();
    // On failure: the status messages, then what the engine did.
    const auto story = [&f] {
        QStringList lines;
        for (const QList<QVariant>& message : qAsConst(f.statusMessages))
            lines << QStringLiteral("status: ") + message.value(0).toString();
        return (lines + f.events).join(QLatin1Char('\n')).toLocal8Bit();
    };
    Q_EMIT f.sendCommand(Command::Single, {ioa::kFirstSingleCommand, 1});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Single"), kLong);
    QVERIFY2(f.statusMessages.isEmpty(), story().constData());
    Q_EMIT f.sendCommand(Command::Read, {ioa::kFirstMeasured});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Read"), kLong);
    QVERIFY2(f.statusMessages.isEmpty(), story().constData());
    QCOMPARE(f.lastRequested().size(), 1);
}

QTEST_GUILESS_MAIN(TestIec101Network)
#include "tst_iec101network.moc"
