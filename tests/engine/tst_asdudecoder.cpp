// Decoding of ASDUs built by lib60870's own encoder, one row per type: the element size
// table that guards against lying element counts must agree with what the library
// writes, and each type must read as the operator is meant to see it.
#include <QtTest>

#include <cmath>
#include <functional>

#include "asdudecoder.h"
#include "objecttext.h"

#include <cs101_information_objects.h>

using namespace iec101;

namespace {

using Maker = std::function<InformationObject(int ioa)>;

// The master's clock while decoding: CP24 tags get its date and hour.
const QDateTime kClock(QDate(2026, 1, 1), QTime(0, 10), Qt::UTC);
const QDateTime kCp56Time(QDate(2025, 12, 31), QTime(18, 30, 15, 123), Qt::UTC);
const QDateTime kCp24Time(QDate(2026, 1, 1), QTime(0, 5, 30, 250), Qt::UTC);
// Minute 59 is ahead of the clock's minute 10: the previous hour, here of the previous day.
const QDateTime kCp24LateTime(QDate(2025, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
const QDateTime kNoTime;

sCP56Time2a cp56()
{
    sCP56Time2a time;
    CP56Time2a_createFromMsTimestamp(&time, quint64(kCp56Time.toMSecsSinceEpoch()));
    return time;
}

sCP24Time2a cp24(const QDateTime& at = kCp24Time)
{
    sCP24Time2a time{};
    CP24Time2a_setMinute(&time, at.time().minute());
    CP24Time2a_setSecond(&time, at.time().second());
    CP24Time2a_setMillisecond(&time, at.time().msec());
    return time;
}

sCP16Time2a cp16(int ms)
{
    sCP16Time2a time{};
    CP16Time2a_setEplapsedTimeInMs(&time, ms);
    return time;
}

template <typename T> InformationObject io(T object)
{
    return reinterpret_cast<InformationObject>(object);
}

sBinaryCounterReading counter(int value, int sequence, bool carry, bool adjusted, bool invalid)
{
    sBinaryCounterReading bcr{};
    BinaryCounterReading_create(&bcr, value, sequence, carry, adjusted, invalid);
    return bcr;
}

tSingleEvent singleEvent(EventState state, QualityDescriptorP quality)
{
    tSingleEvent e = 0;
    SingleEvent_setEventState(&e, state);
    SingleEvent_setQDP(&e, quality);
    return e;
}

constexpr QualityDescriptor IV = IEC60870_QUALITY_INVALID;
constexpr QualityDescriptor NT = IEC60870_QUALITY_NON_TOPICAL;

} // namespace

Q_DECLARE_METATYPE(Maker)

class TestAsduDecoder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyMonitoringType_data();
    void everyMonitoringType();
    void sequenceAddressesCount();
    void normalizedValuesAsTheStandardHasThem_data();
    void normalizedValuesAsTheStandardHasThem();
};

void TestAsduDecoder::everyMonitoringType_data()
{
    QTest::addColumn<int>("typeId");
    QTest::addColumn<int>("cot");
    QTest::addColumn<QString>("value");   // ObjectText::plainValueText
    QTest::addColumn<QString>("quality"); // ObjectText::qualityText
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<Maker>("make");
    const auto row = [](const char* name, int typeId, int cot, const char* value, const char* quality,
                        const QDateTime& time, const Maker& make) {
        QTest::newRow(name) << typeId << cot << QString(value) << QString(quality) << time << make;
    };

    // Single and double points.
    row("M_SP_NA_1 off is a value", 1, 20, "0", "", kNoTime,
        [](int a) { return io(SinglePointInformation_create(nullptr, a, false, 0)); });
    row("M_SP_TA_1 CP24, flags in order", 2, 3, "1", "IV NT", kCp24Time, [](int a) {
        sCP24Time2a t = cp24();
        return io(SinglePointWithCP24Time2a_create(nullptr, a, true, NT | IV, &t));
    });
    row("M_SP_TB_1 interrogated keeps its time", 30, 20, "1", "SB BL", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(SinglePointWithCP56Time2a_create(
            nullptr, a, true, IEC60870_QUALITY_BLOCKED | IEC60870_QUALITY_SUBSTITUTED, &t));
    });
    row("M_DP_NA_1", 3, 20, "2", "", kNoTime,
        [](int a) { return io(DoublePointInformation_create(nullptr, a, IEC60870_DOUBLE_POINT_ON, 0)); });
    row("M_DP_TA_1 CP24 across the hour", 4, 3, "0", "IV", kCp24LateTime, [](int a) {
        sCP24Time2a t = cp24(kCp24LateTime);
        return io(DoublePointWithCP24Time2a_create(nullptr, a, IEC60870_DOUBLE_POINT_INTERMEDIATE, IV, &t));
    });
    row("M_DP_TB_1 return information", 31, 11, "1", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(DoublePointWithCP56Time2a_create(nullptr, a, IEC60870_DOUBLE_POINT_OFF, 0, &t));
    });

    // Step positions and bitstrings.
    row("M_ST_NA_1 transient", 5, 20, "-5 (transient)", "", kNoTime,
        [](int a) { return io(StepPositionInformation_create(nullptr, a, -5, true, 0)); });
    row("M_ST_TA_1 overflow", 6, 3, "63", "OV", kCp24Time, [](int a) {
        sCP24Time2a t = cp24();
        return io(StepPositionWithCP24Time2a_create(nullptr, a, 63, false, IEC60870_QUALITY_OVERFLOW, &t));
    });
    row("M_ST_TB_1", 32, 3, "0", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(StepPositionWithCP56Time2a_create(nullptr, a, 0, false, 0, &t));
    });
    row("M_BO_NA_1 as 8 hex digits", 7, 20, "0000A5A5", "", kNoTime,
        [](int a) { return io(BitString32_createEx(nullptr, a, 0xa5a5, 0)); });
    row("M_BO_TA_1", 8, 3, "80000001", "NT", kCp24Time, [](int a) {
        sCP24Time2a t = cp24();
        return io(Bitstring32WithCP24Time2a_createEx(nullptr, a, 0x80000001u, NT, &t));
    });
    row("M_BO_TB_1", 33, 3, "FFFFFFFF", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(Bitstring32WithCP56Time2a_createEx(nullptr, a, 0xffffffffu, 0, &t));
    });

    // Measured values: normalized as the library's fraction (it scales by 32767, truncating),
    // scaled as integers, short floats.
    // The library's encoder multiplies a normalized value by 32767 and cuts off the
    // fraction (0.5 leaves as 0x3FFF); read as the standard has it, that is 16383 x 2^-15.
    row("M_ME_NA_1 normalized", 9, 20, "0.499969", "", kNoTime,
        [](int a) { return io(MeasuredValueNormalized_create(nullptr, a, 0.5f, 0)); });
    row("M_ME_TA_1", 10, 3, "-0.999969", "SB", kCp24Time, [](int a) {
        sCP24Time2a t = cp24();
        return io(MeasuredValueNormalizedWithCP24Time2a_create(nullptr, a, -1.0f,
                                                               IEC60870_QUALITY_SUBSTITUTED, &t));
    });
    row("M_ME_TD_1", 34, 3, "-0.249969", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(MeasuredValueNormalizedWithCP56Time2a_create(nullptr, a, -0.25f, 0, &t));
    });
    row("M_ME_ND_1 has no quality", 21, 20, "0.749969", "", kNoTime,
        [](int a) { return io(MeasuredValueNormalizedWithoutQuality_create(nullptr, a, 0.75f)); });
    row("M_ME_NB_1 scaled as an integer", 11, 20, "-32768", "", kNoTime,
        [](int a) { return io(MeasuredValueScaled_create(nullptr, a, -32768, 0)); });
    row("M_ME_TB_1", 12, 3, "12345", "BL", kCp24Time, [](int a) {
        sCP24Time2a t = cp24();
        return io(MeasuredValueScaledWithCP24Time2a_create(nullptr, a, 12345, IEC60870_QUALITY_BLOCKED, &t));
    });
    row("M_ME_TE_1", 35, 3, "300", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(MeasuredValueScaledWithCP56Time2a_create(nullptr, a, 300, 0, &t));
    });
    row("M_ME_NC_1 six significant digits", 13, 5, "123.457", "", kNoTime,
        [](int a) { return io(MeasuredValueShort_create(nullptr, a, 123.4567f, 0)); });
    row("M_ME_TC_1 invalid, not topical", 14, 3, "230.5", "IV NT", kCp24Time, [](int a) {
        sCP24Time2a t = cp24();
        return io(MeasuredValueShortWithCP24Time2a_create(nullptr, a, 230.5f, IV | NT, &t));
    });
    row("M_ME_TF_1 not a number cannot be rendered", 36, 3, "?", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(MeasuredValueShortWithCP56Time2a_create(nullptr, a, NAN, 0, &t));
    });

    // Integrated totals: counter readings as before, the flags of the reading.
    row("M_IT_NA_1 exponent from a million", 15, 37, "1.23457e+06", "", kNoTime, [](int a) {
        sBinaryCounterReading bcr = counter(1234567, 3, false, false, false);
        return io(IntegratedTotals_create(nullptr, a, &bcr));
    });
    row("M_IT_TA_1 carry, adjusted, invalid", 16, 3, "-42", "CY CA IV", kCp24Time, [](int a) {
        sBinaryCounterReading bcr = counter(-42, 31, true, true, true);
        sCP24Time2a t = cp24();
        return io(IntegratedTotalsWithCP24Time2a_create(nullptr, a, &bcr, &t));
    });
    row("M_IT_TB_1", 37, 3, "123456", "", kCp56Time, [](int a) {
        sBinaryCounterReading bcr = counter(123456, 0, false, false, false);
        sCP56Time2a t = cp56();
        return io(IntegratedTotalsWithCP56Time2a_create(nullptr, a, &bcr, &t));
    });

    // Protection events, packed single points and the end of initialisation: event log only.
    row("M_EP_TA_1 state and elapsed time", 17, 3, "2 (120 ms)", "EI", kCp24Time, [](int a) {
        tSingleEvent e = singleEvent(IEC60870_EVENTSTATE_ON, IEC60870_QUALITY_ELAPSED_TIME_INVALID);
        sCP16Time2a elapsed = cp16(120);
        sCP24Time2a t = cp24();
        return io(EventOfProtectionEquipment_create(nullptr, a, &e, &elapsed, &t));
    });
    row("M_EP_TB_1 start events in hex", 18, 3, "0x21 (250 ms)", "IV", kCp24Time, [](int a) {
        sCP16Time2a elapsed = cp16(250);
        sCP24Time2a t = cp24();
        return io(PackedStartEventsOfProtectionEquipment_create(nullptr, a, 0x21, IV, &elapsed, &t));
    });
    row("M_EP_TC_1", 19, 3, "0x05 (30 ms)", "", kCp24Time, [](int a) {
        sCP16Time2a operating = cp16(30);
        sCP24Time2a t = cp24();
        return io(PackedOutputCircuitInfo_create(nullptr, a, 0x05, 0, &operating, &t));
    });
    row("M_EP_TD_1", 38, 3, "1 (1000 ms)", "", kCp56Time, [](int a) {
        tSingleEvent e = singleEvent(IEC60870_EVENTSTATE_OFF, 0);
        sCP16Time2a elapsed = cp16(1000);
        sCP56Time2a t = cp56();
        return io(EventOfProtectionEquipmentWithCP56Time2a_create(nullptr, a, &e, &elapsed, &t));
    });
    row("M_EP_TE_1", 39, 3, "0x3F (5 ms)", "NT", kCp56Time, [](int a) {
        sCP16Time2a elapsed = cp16(5);
        sCP56Time2a t = cp56();
        return io(
            PackedStartEventsOfProtectionEquipmentWithCP56Time2a_create(nullptr, a, 0x3f, NT, &elapsed, &t));
    });
    row("M_EP_TF_1", 40, 3, "0x0F (65535 ms)", "", kCp56Time, [](int a) {
        sCP16Time2a operating = cp16(65535);
        sCP56Time2a t = cp56();
        return io(PackedOutputCircuitInfoWithCP56Time2a_create(nullptr, a, 0x0f, 0, &operating, &t));
    });
    row("M_PS_NA_1 status, then change detection", 20, 20, "00FF0001", "BL", kNoTime, [](int a) {
        sStatusAndStatusChangeDetection scd{{0xff, 0x00, 0x01, 0x00}};
        return io(PackedSinglePointWithSCD_create(nullptr, a, &scd, IEC60870_QUALITY_BLOCKED));
    });
    row("M_EI_NA_1 after a remote reset", 70, 4, "remote reset", "", kNoTime,
        [](int) { return io(EndOfInitialization_create(nullptr, 2)); });

    // Command types: no value; the clock sync echo carries its time. Their sizes must be right too.
    row("C_CS_NA_1 echo", 103, 7, "?", "", kCp56Time, [](int a) {
        sCP56Time2a t = cp56();
        return io(ClockSynchronizationCommand_create(nullptr, a, &t));
    });
    row("C_IC_NA_1", 100, 7, "?", "", kNoTime,
        [](int a) { return io(InterrogationCommand_create(nullptr, a, 20)); });
    row("C_SE_NC_1", 50, 7, "?", "", kNoTime,
        [](int a) { return io(SetpointCommandShort_create(nullptr, a, 1.0f, false, 0)); });
}

void TestAsduDecoder::everyMonitoringType()
{
    QFETCH(int, typeId);
    QFETCH(int, cot);
    QFETCH(QString, value);
    QFETCH(QString, quality);
    QFETCH(QDateTime, time);
    QFETCH(Maker, make);

    for (const int ioaSize : {1, 3}) {
        sCS101_AppLayerParameters parameters{1, 1, 2, 0, 2, ioaSize, 249};
        CS101_ASDU asdu =
            CS101_ASDU_create(&parameters, false, CS101_CauseOfTransmission(cot), 0, 1, false, false);
        // The library reads system types (end of initialisation, commands from 100) as one element.
        const int count = typeId >= 70 ? 1 : 2;
        QVector<int> addresses;
        for (int i = 0; i < count; ++i) {
            InformationObject object = make((ioaSize == 1 ? 200 : 60000) + i);
            addresses << InformationObject_getObjectAddress(object);
            QVERIFY(CS101_ASDU_addInformationObject(asdu, object));
            InformationObject_destroy(object);
        }
        QCOMPARE(CS101_ASDU_getPayloadSize(asdu), count * (ioaSize + asduElementSize(typeId)));

        const QVector<InfoObject> objects = decodeAsdu(asdu, ioaSize, kClock);
        CS101_ASDU_destroy(asdu);
        QCOMPARE(objects.size(), count);
        for (int i = 0; i < count; ++i) {
            const InfoObject& object = objects[i];
            QCOMPARE(object.address, addresses[i]);
            QCOMPARE(object.typeId, typeId);
            QCOMPARE(object.spontaneous, cot == 3 || cot == 4 || cot == 11 || cot == 12);
            QCOMPARE(ObjectText::plainValueText(object), value);
            QCOMPARE(ObjectText::qualityText(object), quality);
            QCOMPARE(ObjectText::valueText(object), quality.isEmpty() ? value : value + " [" + quality + "]");
            QCOMPARE(object.timestamp.isValid(), time.isValid());
            if (time.isValid())
                QCOMPARE(QDateTime::fromMSecsSinceEpoch(object.timestamp.toLongLong(), Qt::UTC), time);
        }
    }
}

// SQ=1 carries one address; the library numbers the following elements from it.
void TestAsduDecoder::sequenceAddressesCount()
{
    sCS101_AppLayerParameters parameters{1, 1, 2, 0, 2, 3, 249};
    CS101_ASDU asdu =
        CS101_ASDU_create(&parameters, true, CS101_COT_INTERROGATED_BY_STATION, 0, 1, false, false);
    for (int i = 0; i < 5; ++i) {
        InformationObject object = io(MeasuredValueScaled_create(nullptr, 1001 + i, i - 2, 0));
        QVERIFY(CS101_ASDU_addInformationObject(asdu, object));
        InformationObject_destroy(object);
    }
    const QVector<InfoObject> objects = decodeAsdu(asdu, 3);
    CS101_ASDU_destroy(asdu);
    QCOMPARE(objects.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(objects[i].address, 1001 + i);
        QCOMPARE(objects[i].value, QVariant(i - 2));
    }
}

// A normalized value is its 16 bits x 2^-15, as the octets on the line have them.
void TestAsduDecoder::normalizedValuesAsTheStandardHasThem_data()
{
    QTest::addColumn<int>("octets");
    QTest::addColumn<float>("value");
    QTest::newRow("0x4000 is a half") << 0x4000 << 0.5f;
    QTest::newRow("0x8000 is minus one") << 0x8000 << -1.0f;
    QTest::newRow("0x7FFF is one less 2^-15") << 0x7fff << float(32767.0 / 32768.0);
    QTest::newRow("0xE000 is minus a quarter") << 0xe000 << -0.25f;
}

void TestAsduDecoder::normalizedValuesAsTheStandardHasThem()
{
    QFETCH(int, octets);
    QFETCH(float, value);
    sCS101_AppLayerParameters parameters{1, 1, 2, 0, 2, 3, 249};
    // M_ME_NA_1, one element, spontaneous, CA 1, IOA 4001, the value, quality 0.
    QByteArray asduOctets("\x09\x01\x03\x00\x01\x00\xa1\x0f\x00", 9);
    asduOctets.append(char(octets & 0xff)).append(char(octets >> 8)).append('\0');
    CS101_ASDU asdu = CS101_ASDU_createFromBuffer(&parameters, reinterpret_cast<uint8_t*>(asduOctets.data()),
                                                  asduOctets.size());
    QVERIFY(asdu);
    const QVector<InfoObject> objects = decodeAsdu(asdu, 3);
    CS101_ASDU_destroy(asdu);
    QCOMPARE(objects.size(), 1);
    QCOMPARE(objects.first().value.toFloat(), value);
}

QTEST_GUILESS_MAIN(TestAsduDecoder)
#include "tst_asdudecoder.moc"
