// Decoding of ASDUs built by lib60870's own encoder: the element size table that
// guards against lying element counts must agree with what the library writes,
// and each decoded type must land in the right value/timestamp fields.
#include <QtTest>

#include "asdudecoder.h"

#include <cs101_information_objects.h>

namespace {

constexpr quint64 kTime = 1767225600123ULL; // 2026-01-01 00:00:00.123 UTC

using Maker = InformationObject (*)(int ioa);

sCP56Time2a timeTag()
{
    sCP56Time2a time;
    CP56Time2a_createFromMsTimestamp(&time, kTime);
    return time;
}

InformationObject makeTime(int ioa, InformationObject (*make)(int, CP56Time2a))
{
    sCP56Time2a time = timeTag();
    return make(ioa, &time);
}

} // namespace

Q_DECLARE_METATYPE(Maker)

class TestAsduDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void decodesWhatTheLibraryEncodes_data();
    void decodesWhatTheLibraryEncodes();
    void sequenceAddressesCount();
};

void TestAsduDecoder::decodesWhatTheLibraryEncodes_data()
{
    QTest::addColumn<Maker>("make");
    QTest::addColumn<int>("typeId");
    QTest::addColumn<int>("cot");
    QTest::addColumn<int>("ioaSize");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("timestamped");

    const QVariant none;
    QTest::newRow("M_SP_NA_1 off is a valid value")
        << Maker([](int a) { return InformationObject(SinglePointInformation_create(nullptr, a, false, 0)); })
        << 1 << 20 << 3 << QVariant(false) << false;
    QTest::newRow("M_DP_NA_1") << Maker([](int a) {
        return InformationObject(DoublePointInformation_create(nullptr, a, IEC60870_DOUBLE_POINT_ON, 0));
    }) << 3 << 20 << 3 << QVariant(2)
                               << false;
    QTest::newRow("M_ME_NC_1") << Maker([](int a) {
        return InformationObject(MeasuredValueShort_create(nullptr, a, 12.5f, 0));
    }) << 13 << 5 << 1 << QVariant(12.5f)
                               << false;
    QTest::newRow("M_IT_NA_1") << Maker([](int a) {
        sBinaryCounterReading bcr{};
        BinaryCounterReading_setValue(&bcr, -42);
        return InformationObject(IntegratedTotals_create(nullptr, a, &bcr));
    }) << 15 << 37 << 3 << QVariant(-42)
                               << false;
    QTest::newRow("M_SP_TB_1 interrogated keeps no time") << Maker([](int a) {
        return makeTime(a, [](int b, CP56Time2a t) {
            return InformationObject(SinglePointWithCP56Time2a_create(nullptr, b, true, 0, t));
        });
    }) << 30 << 20 << 3 << QVariant(true) << false;
    QTest::newRow("M_DP_TB_1 spontaneous") << Maker([](int a) {
        return makeTime(a, [](int b, CP56Time2a t) {
            return InformationObject(
                DoublePointWithCP56Time2a_create(nullptr, b, IEC60870_DOUBLE_POINT_OFF, 0, t));
        });
    }) << 31 << 3 << 3 << QVariant(1) << true;
    QTest::newRow("M_ME_TF_1 spontaneous") << Maker([](int a) {
        return makeTime(a, [](int b, CP56Time2a t) {
            return InformationObject(MeasuredValueShortWithCP56Time2a_create(nullptr, b, -1.5f, 0, t));
        });
    }) << 36 << 3 << 2 << QVariant(-1.5f) << true;
    QTest::newRow("M_IT_TB_1 spontaneous") << Maker([](int a) {
        return makeTime(a, [](int b, CP56Time2a t) {
            sBinaryCounterReading bcr{};
            BinaryCounterReading_setValue(&bcr, 7);
            return InformationObject(IntegratedTotalsWithCP56Time2a_create(nullptr, b, &bcr, t));
        });
    }) << 37 << 3 << 3 << QVariant(7) << true;
    QTest::newRow("C_CS_NA_1 echo always has its time") << Maker([](int a) {
        return makeTime(a, [](int b, CP56Time2a t) {
            return InformationObject(ClockSynchronizationCommand_create(nullptr, b, t));
        });
    }) << 103 << 7 << 3 << none << true;
    QTest::newRow("C_IC_NA_1") << Maker([](int a) {
        return InformationObject(InterrogationCommand_create(nullptr, a, 20));
    }) << 100 << 7 << 3 << none << false;
    // Types the engine does not decode still need the right size to get past the payload check.
    QTest::newRow("M_ME_NA_1") << Maker([](int a) {
        return InformationObject(MeasuredValueNormalized_create(nullptr, a, 0.5f, 0));
    }) << 9 << 20 << 3 << none << false;
    QTest::newRow("M_ME_NB_1") << Maker([](int a) {
        return InformationObject(MeasuredValueScaled_create(nullptr, a, 300, 0));
    }) << 11 << 20 << 3 << none << false;
    QTest::newRow("M_BO_NA_1") << Maker([](int a) {
        return InformationObject(BitString32_create(nullptr, a, 9));
    }) << 7 << 20 << 3 << none << false;
    QTest::newRow("C_SE_NC_1") << Maker([](int a) {
        return InformationObject(SetpointCommandShort_create(nullptr, a, 1.0f, false, 0));
    }) << 50 << 7 << 3 << none << false;
}

void TestAsduDecoder::decodesWhatTheLibraryEncodes()
{
    QFETCH(Maker, make);
    QFETCH(int, typeId);
    QFETCH(int, cot);
    QFETCH(int, ioaSize);
    QFETCH(QVariant, value);
    QFETCH(bool, timestamped);

    sCS101_AppLayerParameters parameters{1, 1, 2, 0, 2, ioaSize, 249};
    CS101_ASDU asdu =
        CS101_ASDU_create(&parameters, false, CS101_CauseOfTransmission(cot), 0, 1, false, false);
    const int ioa = ioaSize == 1 ? 200 : 60000;
    // The library reads system commands (TypeID 100 and up) as single-element ASDUs.
    const int count = typeId >= 100 ? 1 : 2;
    for (int i = 0; i < count; ++i) {
        InformationObject io = make(ioa + i);
        QVERIFY(CS101_ASDU_addInformationObject(asdu, io));
        InformationObject_destroy(io);
    }
    QCOMPARE(CS101_ASDU_getPayloadSize(asdu), count * (ioaSize + asduElementSize(typeId)));

    const QVector<InfoObject> objects = decodeAsdu(asdu, ioaSize);
    CS101_ASDU_destroy(asdu);
    QCOMPARE(objects.size(), count);
    for (int i = 0; i < count; ++i) {
        QCOMPARE(objects[i].address, ioa + i);
        QCOMPARE(objects[i].typeId, typeId);
        QCOMPARE(objects[i].spontaneous, cot == 3);
        QCOMPARE(objects[i].value, value);
        QCOMPARE(objects[i].timestamp.isValid(), timestamped);
        if (timestamped)
            QCOMPARE(objects[i].timestamp.toULongLong(), kTime);
    }
}

// SQ=1 carries one address; the library numbers the following elements from it.
void TestAsduDecoder::sequenceAddressesCount()
{
    sCS101_AppLayerParameters parameters{1, 1, 2, 0, 2, 3, 249};
    CS101_ASDU asdu =
        CS101_ASDU_create(&parameters, true, CS101_COT_INTERROGATED_BY_STATION, 0, 1, false, false);
    for (int i = 0; i < 5; ++i) {
        InformationObject io = InformationObject(SinglePointInformation_create(nullptr, 1001 + i, i % 2, 0));
        QVERIFY(CS101_ASDU_addInformationObject(asdu, io));
        InformationObject_destroy(io);
    }
    const QVector<InfoObject> objects = decodeAsdu(asdu, 3);
    CS101_ASDU_destroy(asdu);
    QCOMPARE(objects.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(objects[i].address, 1001 + i);
        QCOMPARE(objects[i].value, QVariant(bool(i % 2)));
    }
}

QTEST_GUILESS_MAIN(TestAsduDecoder)
#include "tst_asdudecoder.moc"
