// The simulated station against a plain lib60870 master over a pty pair: link-up, interrogation
// data, reads, select-before-execute, and raw ASDUs arriving byte-exact.

#include "ptypair.h"
#include "station.h"

#include <hal_serial.h>

#include <cs101_information_objects.h>
#include <cs101_master.h>

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

constexpr int kCommonAddress = 65534;

struct Object
{
    int ioa = 0;
    double value = 0;
    qint64 time = -1; // time tag, ms since epoch; -1 without one
};

// What the master's ASDU handler saw. asduBytes is rebuilt from the decoded header fields and
// the payload, so it equals the wire bytes only if the library delivered them unchanged.
struct Received
{
    bool null = false;
    int typeId = 0;
    int cot = 0;
    bool negative = false;
    int ca = 0;
    QVector<Object> objects;
    QByteArray asduBytes;
};

// A lib60870 master driven by hand (poll + run every 20 ms) with the engine's link parameters.
class Master
{
public:
    explicit Master(const QString& path)
    {
        m_port = SerialPort_create(path.toLocal8Bit().constData(), 9600, 8, 'N', 1);
        if (!m_port || !SerialPort_open(m_port)) {
            return;
        }
        m_open = true;
        sLinkLayerParameters ll{};
        ll.addressLength = 1;
        ll.timeoutForAck = 500;
        ll.timeoutRepeat = 2000;
        ll.useSingleCharACK = false;
        ll.timeoutLinkState = 5000;
        sCS101_AppLayerParameters al{1, 1, 2, 0, 2, 3, 249};
        m_master = CS101_Master_create(m_port, &ll, &al, IEC60870_LINK_LAYER_UNBALANCED);
        if (!m_master) {
            return;
        }
        CS101_Master_setASDUReceivedHandler(m_master, &Master::onAsdu, this);
        CS101_Master_setLinkLayerStateChanged(m_master, &Master::onState, this);
        CS101_Master_setRawMessageHandler(m_master, &Master::onRaw, this);
        CS101_Master_addSlave(m_master, 1);
        CS101_Master_useSlaveAddress(m_master, 1);
    }
    ~Master()
    {
        if (m_master) {
            CS101_Master_destroy(m_master);
        }
        if (m_port) {
            if (m_open) {
                SerialPort_close(m_port);
            }
            SerialPort_destroy(m_port);
        }
    }
    Master(const Master&) = delete;
    Master& operator=(const Master&) = delete;

    CS101_Master handle() const { return m_master; }

    // Drives the master until the condition holds or the time is up.
    bool pumpUntil(const std::function<bool()>& done, int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (!m_master || timer.elapsed() > timeoutMs) {
                return false;
            }
            CS101_Master_pollSingleSlave(m_master, 1);
            CS101_Master_run(m_master);
            QThread::msleep(20);
        }
        return true;
    }
    void pumpFor(int ms)
    {
        pumpUntil([] { return false; }, ms);
    }
    bool available() const { return m_state == LL_STATE_AVAILABLE; }

    QVector<Received> asdus;
    QVector<QByteArray> framesIn;

private:
    static void onState(void* p, int, LinkLayerState s) { static_cast<Master*>(p)->m_state = s; }
    static void onRaw(void* p, uint8_t* msg, int size, bool sent)
    {
        if (!sent && msg) {
            static_cast<Master*>(p)->framesIn.append(QByteArray(reinterpret_cast<const char*>(msg), size));
        }
    }
    static bool onAsdu(void* p, int, CS101_ASDU asdu)
    {
        Received r;
        if (!asdu) {
            r.null = true;
            static_cast<Master*>(p)->asdus.append(r);
            return true;
        }
        r.typeId = CS101_ASDU_getTypeID(asdu);
        r.cot = CS101_ASDU_getCOT(asdu);
        r.negative = CS101_ASDU_isNegative(asdu);
        r.ca = CS101_ASDU_getCA(asdu);
        const int n = CS101_ASDU_getNumberOfElements(asdu);
        const bool seq = CS101_ASDU_isSequence(asdu);
        r.asduBytes.append(char(r.typeId));
        r.asduBytes.append(char((seq ? 0x80 : 0) | n));
        r.asduBytes.append(char(r.cot | (r.negative ? 0x40 : 0) | (CS101_ASDU_isTest(asdu) ? 0x80 : 0)));
        r.asduBytes.append(char(CS101_ASDU_getOA(asdu)));
        r.asduBytes.append(char(r.ca & 0xff));
        r.asduBytes.append(char(r.ca >> 8));
        r.asduBytes.append(reinterpret_cast<const char*>(CS101_ASDU_getPayload(asdu)),
                           CS101_ASDU_getPayloadSize(asdu));
        // Elements are decoded only for well-formed, non-sequence ASDUs of the station's types.
        if (!seq && CS101_ASDU_getPayloadSize(asdu) > 0) {
            for (int i = 0; i < n; ++i) {
                InformationObject io = CS101_ASDU_getElement(asdu, i);
                if (!io) {
                    break;
                }
                Object o{InformationObject_getObjectAddress(io), 0};
                switch (r.typeId) {
                case M_SP_TB_1:
                    o.time = qint64(CP56Time2a_toMsTimestamp(SinglePointWithCP56Time2a_getTimestamp(
                        reinterpret_cast<SinglePointWithCP56Time2a>(io))));
                    [[fallthrough]];
                case M_SP_NA_1:
                    o.value = SinglePointInformation_getValue(reinterpret_cast<SinglePointInformation>(io));
                    break;
                case M_DP_TB_1:
                    o.time = qint64(CP56Time2a_toMsTimestamp(DoublePointWithCP56Time2a_getTimestamp(
                        reinterpret_cast<DoublePointWithCP56Time2a>(io))));
                    [[fallthrough]];
                case M_DP_NA_1:
                    o.value = DoublePointInformation_getValue(reinterpret_cast<DoublePointInformation>(io));
                    break;
                case M_ME_TF_1:
                    o.time = qint64(CP56Time2a_toMsTimestamp(MeasuredValueShortWithCP56Time2a_getTimestamp(
                        reinterpret_cast<MeasuredValueShortWithCP56Time2a>(io))));
                    [[fallthrough]];
                case M_ME_NC_1:
                    o.value = MeasuredValueShort_getValue(reinterpret_cast<MeasuredValueShort>(io));
                    break;
                case M_IT_NA_1:
                    o.value = BinaryCounterReading_getValue(
                        IntegratedTotals_getBCR(reinterpret_cast<IntegratedTotals>(io)));
                    break;
                default:
                    break;
                }
                r.objects.append(o);
                InformationObject_destroy(io);
            }
        }
        static_cast<Master*>(p)->asdus.append(r);
        return true;
    }

    SerialPort m_port = nullptr;
    bool m_open = false;
    CS101_Master m_master = nullptr;
    int m_state = -1;
};

using ReceivedAsdu = sim::ReceivedAsdu;

int indexOf(const QVector<Received>& asdus, int typeId, int cot, int from = 0)
{
    for (int i = from; i < asdus.size(); ++i) {
        if (asdus[i].typeId == typeId && asdus[i].cot == cot) {
            return i;
        }
    }
    return -1;
}

} // namespace

Q_DECLARE_METATYPE(sim::CommandMode)

class TestStation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void interrogation_data();
    void interrogation();
    void read_data();
    void read();
    void doubleCommand_data();
    void doubleCommand();
    void events_data();
    void events();
    void commandModes_data();
    void commandModes();
    void clockSync_data();
    void clockSync();
    void rawAsdu_data();
    void rawAsdu();
    void cutLineAndVanishedPort();

private:
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<sim::Station> m_station;
    std::unique_ptr<Master> m_master;
};

void TestStation::init()
{
    m_pty = std::make_unique<PtyPair>();
    QVERIFY2(m_pty->start(), qPrintable(m_pty->errorString()));
    sim::StationConfig config;
    config.portPath = m_pty->pathA();
    config.parity = 'N';
    config.commonAddress = kCommonAddress;
    config.linkAddressLength = 1;
    config.extraPoints = 150; // several ASDUs for a station interrogation
    m_station = std::make_unique<sim::Station>(config);
    QVERIFY2(m_station->start(), qPrintable(m_station->errorString()));
    m_master = std::make_unique<Master>(m_pty->pathB());
    QVERIFY(m_master->handle());
    QVERIFY(m_master->pumpUntil([this] { return m_master->available(); }, 3000));
}

void TestStation::cleanup()
{
    m_master.reset();
    m_station.reset();
    m_pty.reset();
}

void TestStation::interrogation_data()
{
    QTest::addColumn<int>("typeId"); // 100 or 101
    QTest::addColumn<int>("qualifier");
    QTest::addColumn<int>("dataCot");
    QTest::addColumn<int>("objects");
    QTest::addColumn<int>("minAsdus");

    // 1 local/remote + 10 single points + 150 extra, 10 double points, 5 floats.
    QTest::newRow("station") << int(C_IC_NA_1) << 20 << 20 << 176 << 4;
    QTest::newRow("group 2 (object states)") << int(C_IC_NA_1) << 22 << 22 << 10 << 1;
    QTest::newRow("counters, general") << int(C_CI_NA_1) << 5 << 37 << 4 << 1;
    QTest::newRow("counters, group 3") << int(C_CI_NA_1) << 3 << 40 << 1 << 1;
}

void TestStation::interrogation()
{
    QFETCH(int, typeId);
    QFETCH(int, qualifier);
    QFETCH(int, dataCot);
    QFETCH(int, objects);
    QFETCH(int, minAsdus);

    if (typeId == C_IC_NA_1) {
        CS101_Master_sendInterrogationCommand(m_master->handle(), CS101_COT_ACTIVATION, kCommonAddress,
                                              uint8_t(qualifier));
    } else {
        CS101_Master_sendCounterInterrogationCommand(m_master->handle(), CS101_COT_ACTIVATION, kCommonAddress,
                                                     uint8_t(qualifier));
    }
    const auto& asdus = m_master->asdus;
    QVERIFY(m_master->pumpUntil([&] { return indexOf(asdus, typeId, 10) >= 0; }, 8000));

    const int con = indexOf(asdus, typeId, 7);
    const int term = indexOf(asdus, typeId, 10);
    QVERIFY(con >= 0 && con < term);
    QVERIFY(!asdus[con].negative);
    int count = 0, dataAsdus = 0;
    QMap<int, int> lastIoaPerType;
    for (int i = con + 1; i < term; ++i) {
        QCOMPARE(asdus[i].cot, dataCot);
        QCOMPARE(asdus[i].ca, kCommonAddress);
        ++dataAsdus;
        for (const Object& o : asdus[i].objects) {
            QVERIFY2(o.ioa > lastIoaPerType.value(asdus[i].typeId, 0), "addresses ascend per type");
            lastIoaPerType[asdus[i].typeId] = o.ioa;
            ++count;
        }
    }
    QCOMPARE(count, objects);
    QVERIFY(dataAsdus >= minAsdus);
    QCOMPARE(m_station->received(typeId).value(0).value, qint64(qualifier));
}

void TestStation::read_data()
{
    QTest::addColumn<int>("ioa");
    QTest::addColumn<int>("typeId");
    QTest::addColumn<int>("cot");
    QTest::addColumn<bool>("negative");
    QTest::addColumn<double>("value");

    QTest::newRow("object 1 state (open)")
        << sim::ioa::ObjectStateBase + 1 << int(M_DP_NA_1) << 5 << false << 1.0;
    QTest::newRow("object 2 state (closed)")
        << sim::ioa::ObjectStateBase + 2 << int(M_DP_NA_1) << 5 << false << 2.0;
    QTest::newRow("local/remote") << sim::ioa::LocalRemote << int(M_SP_NA_1) << 5 << false << 0.0;
    QTest::newRow("float") << sim::ioa::FirstMeasured << int(M_ME_NC_1) << 5 << false << 10.5;
    QTest::newRow("unknown address") << 777 << int(C_RD_NA_1) << 47 << true << 0.0;
}

void TestStation::read()
{
    QFETCH(int, ioa);
    QFETCH(int, typeId);
    QFETCH(int, cot);
    QFETCH(bool, negative);
    QFETCH(double, value);

    CS101_Master_sendReadCommand(m_master->handle(), kCommonAddress, ioa);
    const auto& asdus = m_master->asdus;
    QVERIFY(m_master->pumpUntil([&] { return !asdus.isEmpty(); }, 3000));
    QCOMPARE(asdus[0].typeId, typeId);
    QCOMPARE(asdus[0].cot, cot);
    QCOMPARE(asdus[0].negative, negative);
    if (!negative) {
        QCOMPARE(asdus[0].objects.size(), 1);
        QCOMPARE(asdus[0].objects[0].ioa, ioa);
        QCOMPARE(asdus[0].objects[0].value, value);
    }
}

void TestStation::doubleCommand_data()
{
    QTest::addColumn<bool>("local");
    QTest::addColumn<int>("object");
    QTest::addColumn<int>("state");

    QTest::newRow("remote: close object 1") << false << 1 << 2;
    QTest::newRow("remote: open object 2") << false << 2 << 1;
    QTest::newRow("local: refused") << true << 1 << 2;
}

void TestStation::doubleCommand()
{
    QFETCH(bool, local);
    QFETCH(int, object);
    QFETCH(int, state);

    m_station->setLocalMode(local);
    const int stateIoa = sim::ioa::ObjectStateBase + object;
    const double before = m_station->pointValue(stateIoa).value_or(-1);
    const auto& asdus = m_master->asdus;
    auto sendCommand = [&](bool select) {
        DoubleCommand dc =
            DoubleCommand_create(nullptr, sim::ioa::DoubleCommandBase + object, state, select, 0);
        QVERIFY(dc);
        CS101_Master_sendProcessCommand(m_master->handle(), CS101_COT_ACTIVATION, kCommonAddress,
                                        reinterpret_cast<InformationObject>(dc));
        DoubleCommand_destroy(dc);
    };

    sendCommand(true);
    QVERIFY(m_master->pumpUntil([&] { return indexOf(asdus, C_DC_NA_1, 7) >= 0; }, 3000));
    QCOMPARE(asdus[indexOf(asdus, C_DC_NA_1, 7)].negative, local);
    sendCommand(false);
    if (local) {
        QVERIFY(m_master->pumpUntil([&] { return indexOf(asdus, C_DC_NA_1, 7, 1) >= 0; }, 3000));
        m_master->pumpFor(300);
        QVERIFY(asdus[indexOf(asdus, C_DC_NA_1, 7, 1)].negative);
        QCOMPARE(indexOf(asdus, C_DC_NA_1, 10), -1);
        QCOMPARE(m_station->pointValue(stateIoa).value_or(-1), before);
        return;
    }
    QVERIFY(m_master->pumpUntil([&] { return indexOf(asdus, C_DC_NA_1, 10) >= 0; }, 3000));
    const int event = indexOf(asdus, M_DP_TB_1, 3);
    QVERIFY(event >= 0);
    QCOMPARE(asdus[event].objects.value(0).ioa, stateIoa);
    QCOMPARE(asdus[event].objects.value(0).value, double(state));
    QCOMPARE(m_station->pointValue(stateIoa).value_or(-1), double(state));
    const auto commands = m_station->received(C_DC_NA_1);
    QCOMPARE(commands.size(), 2);
    QVERIFY(commands[0].select && !commands[1].select);
}

void TestStation::events_data()
{
    QTest::addColumn<int>("kind"); // 0 single, 1 double, 2 measured
    QTest::addColumn<bool>("withTime");
    QTest::addColumn<int>("typeId");
    QTest::addColumn<int>("ioa");
    QTest::addColumn<double>("value");

    QTest::newRow("single, timed") << 0 << true << int(M_SP_TB_1) << sim::ioa::LocalRemote << 1.0;
    QTest::newRow("single, untimed") << 0 << false << int(M_SP_NA_1) << sim::ioa::FirstSinglePoint << 0.0;
    QTest::newRow("double, timed") << 1 << true << int(M_DP_TB_1) << sim::ioa::ObjectStateBase + 3 << 3.0;
    QTest::newRow("double, untimed") << 1 << false << int(M_DP_NA_1) << sim::ioa::ObjectStateBase + 4 << 0.0;
    QTest::newRow("measured, timed") << 2 << true << int(M_ME_TF_1) << sim::ioa::FirstMeasured << -2.5;
    QTest::newRow("unknown address") << 2 << false << int(M_ME_NC_1) << 42 << 7.25;
}

// Injected events arrive as cause 3 with the given time tag, and known points take the value.
void TestStation::events()
{
    QFETCH(int, kind);
    QFETCH(bool, withTime);
    QFETCH(int, typeId);
    QFETCH(int, ioa);
    QFETCH(double, value);

    const qint64 time = 1767225600000LL + 45678; // 2026-01-01 00:00:45.678 UTC
    if (kind == 0) {
        m_station->injectSinglePoint(ioa, value != 0, withTime, time);
    } else if (kind == 1) {
        m_station->injectDoublePoint(ioa, int(value), withTime, time);
    } else {
        m_station->injectMeasured(ioa, float(value), withTime, time);
    }
    QVERIFY(m_master->pumpUntil([this] { return !m_master->asdus.isEmpty(); }, 3000));
    const Received& r = m_master->asdus.first();
    QCOMPARE(r.typeId, typeId);
    QCOMPARE(r.cot, 3);
    QCOMPARE(r.objects.size(), 1);
    QCOMPARE(r.objects[0].ioa, ioa);
    QCOMPARE(r.objects[0].value, value);
    QCOMPARE(r.objects[0].time, withTime ? time : -1);
    if (ioa != 42) {
        QCOMPARE(m_station->pointValue(ioa).value_or(-99), value);
    }
    QCOMPARE(m_station->isLocalMode(), ioa == sim::ioa::LocalRemote);
}

using Answers = QVector<QPair<int, bool>>; // (cause, negative) of each C_SC_NA_1 answer

void TestStation::commandModes_data()
{
    QTest::addColumn<sim::CommandMode>("mode");
    QTest::addColumn<int>("ioa");
    QTest::addColumn<Answers>("answers");

    const int ioa = sim::ioa::FirstSingleCommand + 4;
    QTest::newRow("normal") << sim::CommandMode::Normal << ioa
                            << Answers{{7, false}, {7, false}, {10, false}};
    QTest::newRow("select only") << sim::CommandMode::AnswerSelectOnly << ioa << Answers{{7, false}};
    QTest::newRow("negative") << sim::CommandMode::Negative << ioa << Answers{{7, true}, {7, true}};
    QTest::newRow("silent") << sim::CommandMode::Silent << ioa << Answers{};
    QTest::newRow("unknown address") << sim::CommandMode::Normal << 12345 << Answers{{47, true}, {47, true}};
}

// Select then execute of a single command, whatever the station answers in between.
void TestStation::commandModes()
{
    QFETCH(sim::CommandMode, mode);
    QFETCH(int, ioa);
    QFETCH(Answers, answers);

    m_station->setCommandMode(mode);
    for (bool select : {true, false}) {
        SingleCommand sc = SingleCommand_create(nullptr, ioa, true, select, 0);
        QVERIFY(sc);
        CS101_Master_sendProcessCommand(m_master->handle(), CS101_COT_ACTIVATION, kCommonAddress,
                                        reinterpret_cast<InformationObject>(sc));
        SingleCommand_destroy(sc);
        const int expected = select ? 1 : 2;
        QVERIFY(m_master->pumpUntil([&] { return m_station->received(C_SC_NA_1).size() == expected; }, 2000));
        m_master->pumpFor(400);
    }
    Answers got;
    for (const Received& r : m_master->asdus) {
        QCOMPARE(r.typeId, int(C_SC_NA_1));
        got.append({r.cot, r.negative});
    }
    QCOMPARE(got, answers);
    const auto commands = m_station->received(C_SC_NA_1);
    QCOMPARE(commands.size(), 2);
    QCOMPARE(commands[0].ioa, ioa);
    QVERIFY(commands[0].select && !commands[1].select);
    QCOMPARE(commands[1].value, qint64(1));
}

void TestStation::clockSync_data()
{
    QTest::addColumn<bool>("broadcast");
    QTest::newRow("addressed") << false;
    QTest::newRow("broadcast") << true;
}

void TestStation::clockSync()
{
    QFETCH(bool, broadcast);

    const qint64 time = 1767225600000LL + 123; // 2026-01-01 00:00:00.123 UTC
    sCP56Time2a t{};
    CP56Time2a_setFromMsTimestamp(&t, uint64_t(time));
    if (broadcast) {
        CS101_Master_useSlaveAddress(m_master->handle(), 255);
        CS101_Master_sendClockSyncCommand(m_master->handle(), 65535, &t);
        CS101_Master_useSlaveAddress(m_master->handle(), 1);
    } else {
        CS101_Master_sendClockSyncCommand(m_master->handle(), kCommonAddress, &t);
    }
    QVERIFY(m_master->pumpUntil([this] { return !m_station->received(C_CS_NA_1).isEmpty(); }, 3000));
    m_master->pumpFor(600);
    const ReceivedAsdu sync = m_station->received(C_CS_NA_1).first();
    QCOMPARE(sync.value, time);
    QCOMPARE(sync.commonAddress, broadcast ? 65535 : kCommonAddress);
    if (broadcast) {
        QVERIFY(m_master->asdus.isEmpty());
    } else {
        QCOMPARE(m_master->asdus.size(), 1);
        QCOMPARE(m_master->asdus[0].typeId, int(C_CS_NA_1));
        QCOMPARE(m_master->asdus[0].cot, 7);
        QCOMPARE(m_master->asdus[0].asduBytes.right(7),
                 QByteArray(reinterpret_cast<const char*>(t.encodedValue), 7));
    }
}

void TestStation::rawAsdu_data()
{
    QTest::addColumn<QByteArray>("asdu");
    QTest::addColumn<bool>("null"); // lib60870 hands the master a NULL ASDU

    // M_SP_NA_1, 1 element, COT 3, OA 0, CA 65534, IOA 1001, value 1.
    QTest::newRow("well-formed") << QByteArray::fromHex("01 01 03 00 feff e90300 01") << false;
    QTest::newRow("shorter than a header") << QByteArray::fromHex("01 01 03") << true;
    QTest::newRow("declares 5, holds 1") << QByteArray::fromHex("01 05 03 00 feff e90300 01") << false;
    QTest::newRow("sequence overcount") << QByteArray::fromHex("01 8a 14 00 feff e90300 01 00") << false;
}

void TestStation::rawAsdu()
{
    QFETCH(QByteArray, asdu);
    QFETCH(bool, null);

    // A read first, so that the station's last frame before the raw one carries data: a station
    // whose frame count bit falls out of step repeats it after the raw frame.
    CS101_Master_sendReadCommand(m_master->handle(), kCommonAddress, sim::ioa::FirstMeasured);
    QVERIFY(m_master->pumpUntil([this] { return !m_master->asdus.isEmpty(); }, 3000));
    m_master->asdus.clear();
    m_master->framesIn.clear();
    m_station->sendRawAsdu(asdu);
    QVERIFY(m_master->pumpUntil([this] { return !m_master->asdus.isEmpty(); }, 3000));
    const Received got = m_master->asdus.first();
    QCOMPARE(got.null, null);
    if (!null) {
        QCOMPARE(got.asduBytes.toHex(' '), asdu.toHex(' '));
    }
    QByteArray frame = QByteArray::fromHex("68") + char(asdu.size() + 2) + char(asdu.size() + 2) +
                       QByteArray::fromHex("68 28 01") + asdu;
    int sum = 0;
    for (int i = 4; i < frame.size(); ++i) {
        sum += uint8_t(frame[i]);
    }
    frame += char(sum & 0xff);
    frame += char(0x16);
    QVERIFY(m_master->framesIn.contains(frame));
    QVERIFY(!m_station->rawAsduPending());

    // Back to normal operation, with no repeated frame from a confused frame count bit.
    m_master->asdus.clear();
    CS101_Master_sendReadCommand(m_master->handle(), kCommonAddress, sim::ioa::FirstSinglePoint);
    QVERIFY(m_master->pumpUntil([this] { return !m_master->asdus.isEmpty(); }, 3000));
    m_master->pumpFor(300);
    QCOMPARE(m_master->asdus.size(), 1);
    QCOMPARE(m_master->asdus[0].typeId, int(M_SP_NA_1));
    QCOMPARE(m_master->asdus[0].cot, 5);
}

// A paused station with its input drained looks like a cut line; a vanished pty closes the
// station's port, which it reopens when the pty pair is back on the same paths.
void TestStation::cutLineAndVanishedPort()
{
    m_station->pause();
    QVERIFY(m_master->pumpUntil([this] { return !m_master->available(); }, 3000));
    m_station->drainInput();
    m_station->resume();
    QVERIFY(m_master->pumpUntil([this] { return m_master->available(); }, 8000));

    m_master.reset();
    QVERIFY(m_pty->restart());
    m_master = std::make_unique<Master>(m_pty->pathB());
    QVERIFY(m_master->handle());
    QVERIFY(m_master->pumpUntil([this] { return m_master->available(); }, 5000));
    CS101_Master_sendReadCommand(m_master->handle(), kCommonAddress, sim::ioa::LocalRemote);
    QVERIFY(m_master->pumpUntil([this] { return !m_master->asdus.isEmpty(); }, 3000));
    QCOMPARE(m_master->asdus[0].cot, 5);
}

QTEST_GUILESS_MAIN(TestStation)
#include "tst_station.moc"
