// Several stations on one line (the test kit's bus of simulated stations): each polled in
// turn, each answering under its own link and common address, none holding up the others.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "masterengine.h"
#include "stationsline.h"

using namespace iec101;
namespace ioa = slavesim::ioa;

using Result = CommandOutcome::Result;

namespace {

constexpr int kLong = 30000;

QVector<slavesim::Config> threeStations()
{
    QVector<slavesim::Config> configs;
    for (int n = 1; n <= 3; ++n) {
        slavesim::Config config;
        config.linkAddress = n;
        config.commonAddress = 10 + n;
        configs << config;
    }
    return configs;
}

// Link address and type of every user-data frame the master sent, from the octets on the line.
QVector<QPair<int, int>> userDataSent(const QByteArray& octets, int linkAddressSize = 2)
{
    QVector<QPair<int, int>> frames;
    for (int i = 0; i + 6 + linkAddressSize < octets.size(); ++i) {
        if (quint8(octets[i]) != 0x68 || octets[i + 1] != octets[i + 2] || quint8(octets[i + 3]) != 0x68)
            continue;
        int address = 0;
        for (int k = 0; k < linkAddressSize; ++k)
            address |= quint8(octets[i + 5 + k]) << (8 * k);
        frames.append({address, quint8(octets[i + 5 + linkAddressSize])});
        i += 4 + quint8(octets[i + 1]) + 1;
    }
    return frames;
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

QTEST_GUILESS_MAIN(TestStations)
#include "tst_stations.moc"
