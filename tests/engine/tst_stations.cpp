// Several stations on one line (the test kit's bus of simulated stations): each polled in
// turn, each answering under its own link and common address, none holding up the others.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "ft12.h"
#include "masterengine.h"
#include "stationsline.h"

using namespace iec101;
namespace ioa = slavesim::ioa;

using Result = CommandOutcome::Result;

namespace {

constexpr int kLong = 30000;

QVector<slavesim::Config> threeStations()
{
    return StationsLine::numbered(3, 10);
}

// The frames in the octets the master sent.
QVector<Ft12::Frame> framesSent(const QByteArray& octets, int linkAddressSize = 2)
{
    QVector<Ft12::Frame> frames;
    Ft12::Reassembler reassembler(linkAddressSize);
    for (const QByteArray& frame : reassembler.feed(octets)) {
        const Ft12::Parsed parsed = Ft12::parse(frame, linkAddressSize);
        if (parsed.ok())
            frames << parsed.frame;
    }
    return frames;
}

// Link address and type of every user-data frame the master sent.
QVector<QPair<int, int>> userDataSent(const QByteArray& octets)
{
    QVector<QPair<int, int>> sent;
    for (const Ft12::Frame& frame : framesSent(octets)) {
        if (frame.kind == Ft12::Kind::Variable && !frame.userData.isEmpty())
            sent.append({frame.linkAddress, quint8(frame.userData.at(0))});
    }
    return sent;
}

struct Line
{
    StationsLine stations{threeStations()};
    EngineFixture engine;
};

bool bringUp(Line& line)
{
    if (!line.stations.start()) {
        qWarning() << line.stations.errorString();
        return false;
    }
    line.engine.openTyped(line.stations.serialSettings(), line.stations.settings());
    return QTest::qWaitFor([&] { return line.engine.initialDataStations.size() == 3; }, kLong);
}

} // namespace

class TestStations : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachStationUnderItsOwnAddresses();
    void commandsReachOnlyTheStationAddressed_data();
    void commandsReachOnlyTheStationAddressed();
    void silentStationDoesNotStopTheOthers();
    void burstDoesNotStarveTheOthers();
    void busyStationDoesNotCostTheOthersTheirCommands();
    void severalCommonAddressesBehindOneStation();
    void balancedMode();
};

void TestStations::eachStationUnderItsOwnAddresses()
{
    Line line;
    QVERIFY(bringUp(line));
    QVERIFY(line.engine.initialDataComplete);
    int interrogations = 0;
    for (const EngineFixture::Finished& done : qAsConst(line.engine.finished)) {
        if (done.request.typeId != C_IC_NA_1)
            continue;
        ++interrogations;
        QCOMPARE(int(done.outcome.result), int(Result::Terminated));
        QCOMPARE(done.request.commonAddress, 10 + done.request.linkAddress);
        QVERIFY(!done.answer.isEmpty());
        for (const InfoObject& object : done.answer) {
            QCOMPARE(object.linkAddress, done.request.linkAddress);
            QCOMPARE(object.commonAddress, done.request.commonAddress);
        }
    }
    QCOMPARE(interrogations, 3);

    // Events of all three, each under its own addresses.
    for (int n = 0; n < 3; ++n)
        line.stations.station(n).injectMeasured(ioa::kFirstMeasured, float(n), false);
    QTRY_COMPARE_WITH_TIMEOUT(line.engine.unsolicited.size(), 3, kLong);
    for (const InfoObject& event : qAsConst(line.engine.unsolicited)) {
        QCOMPARE(event.linkAddress, int(event.value.toFloat()) + 1);
        QCOMPARE(event.commonAddress, 10 + event.linkAddress);
    }
}

void TestStations::commandsReachOnlyTheStationAddressed_data()
{
    QTest::addColumn<int>("station"); // index on the line, -1 for the request without a link address
    QTest::newRow("first station by default") << -1;
    QTest::newRow("second station") << 1;
    QTest::newRow("third station") << 2;
}

void TestStations::commandsReachOnlyTheStationAddressed()
{
    QFETCH(int, station);
    Line line;
    QVERIFY(bringUp(line));
    for (int n = 0; n < 3; ++n)
        line.stations.station(n).clearReceived();
    line.stations.bus()->clearMasterBytes();

    CommandRequest request = CommandRequest::singleCommand(ioa::kFirstSingleCommand, true);
    if (station >= 0)
        request.linkAddress = station + 1;
    const auto done = line.engine.waitForOutcome(line.engine.send(request), kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), int(Result::Terminated));
    const int target = station >= 0 ? station : 0;
    QCOMPARE(done->request.linkAddress, target + 1);
    QCOMPARE(done->request.commonAddress, 11 + target);
    for (int n = 0; n < 3; ++n)
        QCOMPARE(line.stations.station(n).received(C_SC_NA_1).size(), n == target ? 2 : 0);
    const QVector<QPair<int, int>> sent = userDataSent(line.stations.bus()->masterBytes());
    QCOMPARE(sent, (QVector<QPair<int, int>>{{target + 1, C_SC_NA_1}, {target + 1, C_SC_NA_1}}));
}

// A station that stops answering is reported and asked only now and then; the others
// go on: their events arrive, their commands are answered.
void TestStations::silentStationDoesNotStopTheOthers()
{
    Line line;
    QVERIFY(bringUp(line));
    line.stations.station(1).pause();
    QTRY_VERIFY_WITH_TIMEOUT(line.engine.stationStates.contains({2, LinkState::Error}), kLong);
    QVERIFY(line.engine.statusTexts.contains(
        QStringLiteral("Station 2 does not answer; polled every 5 s until it does")));
    const int before = line.engine.unsolicited.size();
    for (int i = 0; i < 10; ++i) {
        line.stations.station(0).injectMeasured(ioa::kFirstMeasured, float(i), false);
        line.stations.station(2).injectMeasured(ioa::kFirstMeasured, float(i), false);
    }
    QTRY_COMPARE_WITH_TIMEOUT(line.engine.unsolicited.size(), before + 20, kLong);
    CommandRequest read = CommandRequest::read(ioa::kFirstSinglePoint);
    read.linkAddress = 3;
    const auto answered = line.engine.waitForOutcome(line.engine.send(read), kLong);
    QVERIFY(answered);
    QCOMPARE(int(answered->outcome.result), int(Result::Confirmed));
    // A command for the silent one is not sent.
    read.linkAddress = 2;
    const auto refused = line.engine.waitForOutcome(line.engine.send(read), kLong);
    QVERIFY(refused);
    QCOMPARE(refused->outcome.text(), QStringLiteral("not sent: link down"));

    line.stations.station(1).drainInput();
    line.stations.station(1).resume();
    QTRY_COMPARE_WITH_TIMEOUT(line.engine.stationStates.last(), qMakePair(2, LinkState::Available), kLong);
}

// A burst of 200 events at one station: the others are polled in between, so an event of
// another station arrives long before the burst is through.
void TestStations::burstDoesNotStarveTheOthers()
{
    Line line;
    QVERIFY(bringUp(line));
    for (int i = 0; i < 200; ++i)
        line.stations.station(0).injectMeasured(ioa::kFirstMeasured, float(i), false);
    line.stations.station(2).injectSinglePoint(ioa::kFirstSinglePoint, true, false);
    QTRY_COMPARE_WITH_TIMEOUT(line.engine.unsolicited.size(), 201, kLong);
    int position = -1;
    for (int i = 0; i < line.engine.unsolicited.size(); ++i) {
        if (line.engine.unsolicited.at(i).linkAddress == 3)
            position = i;
    }
    // One poll each in turn: the third station's event is among the first few.
    QVERIFY2(position >= 0 && position < 10, qPrintable(QString::number(position)));
}

// A station that says "busy" has its link set up again after a pause; the commands to
// the other stations meanwhile are not lost to that set-up.
void TestStations::busyStationDoesNotCostTheOthersTheirCommands()
{
    Line line;
    QVERIFY(bringUp(line));
    line.stations.station(1).setBusy(3000);
    QTRY_VERIFY_WITH_TIMEOUT(line.engine.stationStates.contains({2, LinkState::Busy}), kLong);
    QElapsedTimer busy;
    busy.start();
    int commands = 0;
    while (busy.elapsed() < 4000) {
        CommandRequest request = CommandRequest::singleCommand(ioa::kFirstSingleCommand, true);
        request.linkAddress = 1 + commands % 2 * 2; // stations 1 and 3 in turn
        const auto done = line.engine.waitForOutcome(line.engine.send(request), kLong);
        QVERIFY(done);
        QVERIFY2(done->outcome.result == Result::Terminated,
                 qPrintable(QStringLiteral("command %1: %2").arg(commands).arg(done->outcome.text())));
        ++commands;
    }
    QTRY_COMPARE_WITH_TIMEOUT(line.engine.stationStates.last(), qMakePair(2, LinkState::Available), kLong);
}

// One link address answering for three common addresses (a bay controller each): each is
// interrogated on its own at link-up, the global address asks all three at once, and a
// command goes to the common address it names.
void TestStations::severalCommonAddressesBehindOneStation()
{
    slavesim::Config config;
    config.linkAddress = 5;
    config.commonAddress = 21;
    config.extraCommonAddresses = {22, 23};
    StationsLine line({config});
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    EngineFixture engine;
    engine.openTyped(line.serialSettings(), line.settings());
    QTRY_VERIFY_WITH_TIMEOUT(engine.initialDataFinished, kLong);
    QVERIFY(engine.initialDataComplete);
    QSet<int> interrogated;
    for (const EngineFixture::Finished& done : qAsConst(engine.finished)) {
        if (done.request.typeId != C_IC_NA_1)
            continue;
        interrogated << done.request.commonAddress;
        QVERIFY(!done.answer.isEmpty());
        for (const InfoObject& object : done.answer)
            QCOMPARE(object.commonAddress, done.request.commonAddress);
    }
    QCOMPARE(interrogated, (QSet<int>{21, 22, 23}));

    CommandRequest global = CommandRequest::interrogation();
    global.commonAddress = 0xffff;
    const auto all = engine.waitForOutcome(engine.send(global), kLong);
    QVERIFY(all);
    QCOMPARE(int(all->outcome.result), int(Result::Terminated));
    QSet<int> answered;
    for (const InfoObject& object : all->answer)
        answered << object.commonAddress;
    QCOMPARE(answered, (QSet<int>{21, 22, 23}));

    line.station(0).clearReceived();
    CommandRequest command = CommandRequest::doubleCommand(ioa::kDoubleCommandBase + 1, 2);
    command.commonAddress = 22;
    const auto done = engine.waitForOutcome(engine.send(command), kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), int(Result::Terminated));
    QCOMPARE(line.station(0).received(C_DC_NA_1).value(0).commonAddress, 22);
}

// Balanced mode, point to point: the station sends its events without being polled;
// commands and clock syncs go out and are answered as in unbalanced mode.
void TestStations::balancedMode()
{
    slavesim::Config config;
    config.balanced = true;
    config.linkAddress = 1;
    config.masterLinkAddress = 0;
    StationsLine line({config});
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    ProtocolSettings settings = line.settings();
    settings.mode = LinkMode::Balanced;
    settings.ownLinkAddress = 0;
    EngineFixture engine;
    engine.openTyped(line.serialSettings(), settings);
    QTRY_VERIFY_WITH_TIMEOUT(engine.initialDataFinished, kLong);
    QVERIFY(engine.initialDataComplete);

    for (int i = 0; i < 5; ++i)
        line.station(0).injectMeasured(ioa::kFirstMeasured, float(i), false);
    QTRY_COMPARE_WITH_TIMEOUT(engine.unsolicited.size(), 5, kLong);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(engine.unsolicited.at(i).value.toFloat(), float(i));

    const auto command = engine.waitForOutcome(
        engine.send(CommandRequest::singleCommand(ioa::kFirstSingleCommand, true)), kLong);
    QVERIFY(command);
    QCOMPARE(int(command->outcome.result), int(Result::Terminated));
    const auto sync = engine.waitForOutcome(engine.send(CommandRequest::clockSync()), kLong);
    QVERIFY(sync);
    QCOMPARE(int(sync->outcome.result), int(Result::Confirmed));
    QCOMPARE(line.station(0).received(C_CS_NA_1).size(), 1);
    // No requests for class 1 or class 2 data in balanced mode: the master never polls.
    const QVector<Ft12::Frame> sent = framesSent(line.bus()->masterBytes());
    QVERIFY(!sent.isEmpty());
    for (const Ft12::Frame& frame : sent) {
        const int function = frame.control & 0x0f;
        QVERIFY2(!(frame.control & 0x40) || (function != 10 && function != 11),
                 qPrintable(QString::number(frame.control, 16)));
    }
}

QTEST_GUILESS_MAIN(TestStations)
#include "tst_stations.moc"
