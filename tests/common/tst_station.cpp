// Smoke test of the simulated station against a plain lib60870 master over a pty pair: link-up,
// interrogation data, a read, a double command, and raw ASDUs sent byte-exact.

#include "ptypair.h"
#include "station.h"

#include <hal_serial.h>

#include <cs101_information_objects.h>
#include <cs101_master.h>

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {

constexpr int kCommonAddress = 65534;

// What the master's ASDU handler saw.
struct Received
{
    int typeId = -1; // -1: lib60870 handed over a NULL ASDU
    int cot = 0;
    bool negative = false;
    int elements = 0;
    int ioa = 0, value = -1; // first element and state of a double point ASDU
};

} // namespace

// One station for all cases, and a lib60870 master with the engine's link parameters driven by
// hand (poll + run every 20 ms).
class TestStation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void interrogationAndRead();
    void doubleCommand();
    void rawAsdu_data();
    void rawAsdu();

private:
    static bool onAsdu(void* self, int, CS101_ASDU asdu);
    // Drives the master until the condition holds or the time is up.
    template <typename Done> bool pumpUntil(Done done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > timeoutMs)
                return false;
            CS101_Master_pollSingleSlave(master, 1);
            CS101_Master_run(master);
            QThread::msleep(20);
        }
        return true;
    }
    int indexOf(int typeId, int cot) const;

    PtyPair pty;
    std::unique_ptr<sim::Station> station;
    SerialPort port = nullptr;
    CS101_Master master = nullptr;
    LinkLayerState linkState = LL_STATE_IDLE;
    QVector<Received> asdus;
    QVector<QByteArray> framesIn;
};

void TestStation::initTestCase()
{
    QVERIFY2(pty.start(), qPrintable(pty.errorString()));
    sim::StationConfig config;
    config.portPath = pty.pathA();
    config.parity = 'N';
    config.commonAddress = kCommonAddress;
    config.linkAddressLength = 1;
    config.extraPoints = 150; // several ASDUs for a station interrogation
    station = std::make_unique<sim::Station>(config);
    QVERIFY2(station->start(), qPrintable(station->errorString()));

    port = SerialPort_create(pty.pathB().toLocal8Bit().constData(), 9600, 8, 'N', 1);
    QVERIFY(port && SerialPort_open(port));
    sLinkLayerParameters ll{};
    ll.addressLength = 1;
    ll.timeoutForAck = 500;
    ll.timeoutRepeat = 2000;
    ll.timeoutLinkState = 5000;
    sCS101_AppLayerParameters al{1, 1, 2, 0, 2, 3, 249};
    master = CS101_Master_create(port, &ll, &al, IEC60870_LINK_LAYER_UNBALANCED);
    QVERIFY(master);
    CS101_Master_setASDUReceivedHandler(master, &TestStation::onAsdu, this);
    CS101_Master_setLinkLayerStateChanged(
        master, [](void* self, int, LinkLayerState s) { static_cast<TestStation*>(self)->linkState = s; },
        this);
    CS101_Master_setRawMessageHandler(
        master,
        [](void* self, uint8_t* msg, int size, bool sent) {
            if (!sent && msg)
                static_cast<TestStation*>(self)->framesIn.append(
                    QByteArray(reinterpret_cast<char*>(msg), size));
        },
        this);
    CS101_Master_addSlave(master, 1);
    CS101_Master_useSlaveAddress(master, 1);
    QVERIFY(pumpUntil([this] { return linkState == LL_STATE_AVAILABLE; }, 3000));
}

void TestStation::cleanupTestCase()
{
    if (master)
        CS101_Master_destroy(master);
    if (port) {
        SerialPort_close(port);
        SerialPort_destroy(port);
    }
}

void TestStation::init()
{
    asdus.clear();
    framesIn.clear();
}

bool TestStation::onAsdu(void* self, int, CS101_ASDU asdu)
{
    Received r;
    if (asdu) {
        r = {CS101_ASDU_getTypeID(asdu), CS101_ASDU_getCOT(asdu), CS101_ASDU_isNegative(asdu),
             CS101_ASDU_getNumberOfElements(asdu)};
        if (r.typeId == M_DP_NA_1 || r.typeId == M_DP_TB_1) {
            InformationObject io = CS101_ASDU_getElement(asdu, 0);
            r.ioa = InformationObject_getObjectAddress(io);
            r.value = DoublePointInformation_getValue(reinterpret_cast<DoublePointInformation>(io));
            InformationObject_destroy(io);
        }
    }
    static_cast<TestStation*>(self)->asdus.append(r);
    return true;
}

int TestStation::indexOf(int typeId, int cot) const
{
    for (int i = 0; i < asdus.size(); ++i) {
        if (asdus[i].typeId == typeId && asdus[i].cot == cot)
            return i;
    }
    return -1;
}

void TestStation::interrogationAndRead()
{
    CS101_Master_sendInterrogationCommand(master, CS101_COT_ACTIVATION, kCommonAddress, 20);
    QVERIFY(pumpUntil([&] { return indexOf(C_IC_NA_1, 10) >= 0; }, 8000));
    const int con = indexOf(C_IC_NA_1, 7);
    const int term = indexOf(C_IC_NA_1, 10);
    QVERIFY(con >= 0 && con < term && !asdus[con].negative);
    int objects = 0;
    for (int i = con + 1; i < term; ++i) {
        QCOMPARE(asdus[i].cot, 20);
        objects += asdus[i].elements;
    }
    // 1 local/remote + 10 single points + 150 extra, 10 double points, 5 floats.
    QCOMPARE(objects, 176);
    QVERIFY(term - con - 1 >= 4);

    asdus.clear();
    CS101_Master_sendReadCommand(master, kCommonAddress, sim::ioa::ObjectStateBase + 2);
    QVERIFY(pumpUntil([&] { return !asdus.isEmpty(); }, 3000));
    QCOMPARE(asdus[0].typeId, int(M_DP_NA_1));
    QCOMPARE(asdus[0].cot, 5);
    QCOMPARE(asdus[0].ioa, sim::ioa::ObjectStateBase + 2);
    QCOMPARE(asdus[0].value, 2); // object 2 starts closed
}

// Select then execute closes object 1; the station confirms, terminates and reports the new state.
void TestStation::doubleCommand()
{
    for (bool select : {true, false}) {
        DoubleCommand dc = DoubleCommand_create(nullptr, sim::ioa::DoubleCommandBase + 1, 2, select, 0);
        CS101_Master_sendProcessCommand(master, CS101_COT_ACTIVATION, kCommonAddress,
                                        reinterpret_cast<InformationObject>(dc));
        DoubleCommand_destroy(dc);
        const int cot = select ? 7 : 10; // the select's confirmation, the execution's termination
        QVERIFY(pumpUntil([&] { return indexOf(C_DC_NA_1, cot) >= 0; }, 3000));
    }
    QVERIFY(pumpUntil([&] { return indexOf(M_DP_TB_1, 3) >= 0; }, 3000));
    for (const Received& r : asdus)
        QVERIFY(!r.negative);
    const Received& event = asdus[indexOf(M_DP_TB_1, 3)];
    QCOMPARE(event.ioa, sim::ioa::ObjectStateBase + 1);
    QCOMPARE(event.value, 2);
    QCOMPARE(station->pointValue(sim::ioa::ObjectStateBase + 1).value_or(-1), 2.0);
    const auto commands = station->received(C_DC_NA_1);
    QVERIFY(commands[0].select && !commands[1].select);
}

void TestStation::rawAsdu_data()
{
    QTest::addColumn<QByteArray>("asdu");
    QTest::addColumn<int>("typeId"); // -1: lib60870 hands the master a NULL ASDU

    // M_SP_NA_1, 1 element, COT 3, OA 0, CA 65534, IOA 1001, value 1.
    QTest::newRow("well-formed") << QByteArray::fromHex("01 01 03 00 feff e90300 01") << 1;
    QTest::newRow("shorter than a header") << QByteArray::fromHex("01 01 03") << -1;
}

void TestStation::rawAsdu()
{
    QFETCH(QByteArray, asdu);
    QFETCH(int, typeId);

    // A read first, so that the station's last frame before the raw one carries data: a station
    // whose frame count bit falls out of step repeats it after the raw frame.
    CS101_Master_sendReadCommand(master, kCommonAddress, sim::ioa::FirstMeasured);
    QVERIFY(pumpUntil([&] { return !asdus.isEmpty(); }, 3000));
    asdus.clear();
    station->sendRawAsdu(asdu);
    QVERIFY(pumpUntil([&] { return !asdus.isEmpty(); }, 3000));
    QCOMPARE(asdus[0].typeId, typeId);
    // The wire bytes: variable frame, function code 8 with ACD, link address 1, then the checksum.
    const QByteArray frame = QByteArray::fromHex("68") + char(asdu.size() + 2) + char(asdu.size() + 2) +
                             QByteArray::fromHex("68 28 01") + asdu;
    uint8_t sum = 0;
    for (int i = 4; i < frame.size(); ++i)
        sum += uint8_t(frame[i]);
    QVERIFY(framesIn.contains(frame + char(sum) + char(0x16)));
    QVERIFY(!station->rawAsduPending());

    // Back to normal operation, with no repeated frame from a confused frame count bit.
    asdus.clear();
    CS101_Master_sendReadCommand(master, kCommonAddress, sim::ioa::FirstSinglePoint);
    QVERIFY(pumpUntil([&] { return !asdus.isEmpty(); }, 3000));
    pumpUntil([] { return false; }, 300);
    QCOMPARE(asdus.size(), 1);
    QCOMPARE(asdus[0].typeId, int(M_SP_NA_1));
    QCOMPARE(asdus[0].cot, 5);
}

QTEST_GUILESS_MAIN(TestStation)
#include "tst_station.moc"
