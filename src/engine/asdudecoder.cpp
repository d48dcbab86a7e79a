#include "asdudecoder.h"

#include <cs101_information_objects.h>

#include <algorithm>
#include <cmath>

namespace iec101 {

namespace {

// Causes under which the slave reports data unasked: spontaneous, initialised, and
// return information caused by a remote or a local command.
bool unsolicited(int cot)
{
    return cot == CS101_COT_SPONTANEOUS || cot == CS101_COT_INITIALIZED ||
           cot == CS101_COT_RETURN_INFO_REMOTE || cot == CS101_COT_RETURN_INFO_LOCAL;
}

bool hasCp24Tag(int typeId)
{
    switch (typeId) {
    case M_SP_TA_1:
    case M_DP_TA_1:
    case M_ST_TA_1:
    case M_BO_TA_1:
    case M_ME_TA_1:
    case M_ME_TB_1:
    case M_ME_TC_1:
    case M_IT_TA_1:
    case M_EP_TA_1:
    case M_EP_TB_1:
    case M_EP_TC_1:
        return true;
    default:
        return false;
    }
}

QVariant cp56Stamp(CP56Time2a time)
{
    if (!time)
        return QVariant();
    return QVariant(qulonglong(CP56Time2a_toMsTimestamp(time)));
}

// The master's clock as calendar fields held in UTC, so that reading them back costs no
// conversion; a null clock stands for the current local time.
QDateTime clockFields(const QDateTime& masterClock)
{
    const QDateTime clock = masterClock.isValid() ? masterClock : QDateTime::currentDateTime();
    return clock.timeSpec() == Qt::UTC ? clock : QDateTime(clock.date(), clock.time(), Qt::UTC);
}

QVariant cp24Stamp(CP24Time2a tag, const QDateTime& masterClock)
{
    if (!tag)
        return QVariant();
    return QVariant(qulonglong(completeCp24Time(tag, clockFields(masterClock))));
}

// A normalized value is its 16-bit two's complement number x 2^-15 (0x4000 is 0.5). The
// library divides by 32767 instead; its number is recovered and divided as it should be.
float standardNormalized(float fromLibrary)
{
    const long raw = std::lround(double(fromLibrary) * 32767.0);
    return float(double(std::clamp(raw, -32768L, 32767L)) / 32768.0);
}

int elapsedMs(CP16Time2a time)
{
    return time ? CP16Time2a_getEplapsedTimeInMs(time) : 0;
}

// The time tag of a decoded type, if it has one.
QVariant timeTag(InformationObject io, int typeId, const QDateTime& clock)
{
    switch (typeId) {
    case M_SP_TA_1:
        return cp24Stamp(SinglePointWithCP24Time2a_getTimestamp(SinglePointWithCP24Time2a(io)), clock);
    case M_DP_TA_1:
        return cp24Stamp(DoublePointWithCP24Time2a_getTimestamp(DoublePointWithCP24Time2a(io)), clock);
    case M_ST_TA_1:
        return cp24Stamp(StepPositionWithCP24Time2a_getTimestamp(StepPositionWithCP24Time2a(io)), clock);
    case M_BO_TA_1:
        return cp24Stamp(Bitstring32WithCP24Time2a_getTimestamp(Bitstring32WithCP24Time2a(io)), clock);
    case M_ME_TA_1:
        return cp24Stamp(
            MeasuredValueNormalizedWithCP24Time2a_getTimestamp(MeasuredValueNormalizedWithCP24Time2a(io)),
            clock);
    case M_ME_TB_1:
        return cp24Stamp(
            MeasuredValueScaledWithCP24Time2a_getTimestamp(MeasuredValueScaledWithCP24Time2a(io)), clock);
    case M_ME_TC_1:
        return cp24Stamp(MeasuredValueShortWithCP24Time2a_getTimestamp(MeasuredValueShortWithCP24Time2a(io)),
                         clock);
    case M_IT_TA_1:
        return cp24Stamp(IntegratedTotalsWithCP24Time2a_getTimestamp(IntegratedTotalsWithCP24Time2a(io)),
                         clock);
    case M_EP_TA_1:
        return cp24Stamp(EventOfProtectionEquipment_getTimestamp(EventOfProtectionEquipment(io)), clock);
    case M_EP_TB_1:
        return cp24Stamp(
            PackedStartEventsOfProtectionEquipment_getTimestamp(PackedStartEventsOfProtectionEquipment(io)),
            clock);
    case M_EP_TC_1:
        return cp24Stamp(PackedOutputCircuitInfo_getTimestamp(PackedOutputCircuitInfo(io)), clock);
    case M_SP_TB_1:
        return cp56Stamp(SinglePointWithCP56Time2a_getTimestamp(SinglePointWithCP56Time2a(io)));
    case M_DP_TB_1:
        return cp56Stamp(DoublePointWithCP56Time2a_getTimestamp(DoublePointWithCP56Time2a(io)));
    case M_ST_TB_1:
        return cp56Stamp(StepPositionWithCP56Time2a_getTimestamp(StepPositionWithCP56Time2a(io)));
    case M_BO_TB_1:
        return cp56Stamp(Bitstring32WithCP56Time2a_getTimestamp(Bitstring32WithCP56Time2a(io)));
    case M_ME_TD_1:
        return cp56Stamp(
            MeasuredValueNormalizedWithCP56Time2a_getTimestamp(MeasuredValueNormalizedWithCP56Time2a(io)));
    case M_ME_TE_1:
        return cp56Stamp(
            MeasuredValueScaledWithCP56Time2a_getTimestamp(MeasuredValueScaledWithCP56Time2a(io)));
    case M_ME_TF_1:
        return cp56Stamp(MeasuredValueShortWithCP56Time2a_getTimestamp(MeasuredValueShortWithCP56Time2a(io)));
    case M_IT_TB_1:
        return cp56Stamp(IntegratedTotalsWithCP56Time2a_getTimestamp(IntegratedTotalsWithCP56Time2a(io)));
    case M_EP_TD_1:
        return cp56Stamp(EventOfProtectionEquipmentWithCP56Time2a_getTimestamp(
            EventOfProtectionEquipmentWithCP56Time2a(io)));
    case M_EP_TE_1:
        return cp56Stamp(PackedStartEventsOfProtectionEquipmentWithCP56Time2a_getTimestamp(
            PackedStartEventsOfProtectionEquipmentWithCP56Time2a(io)));
    case M_EP_TF_1:
        return cp56Stamp(
            PackedOutputCircuitInfoWithCP56Time2a_getTimestamp(PackedOutputCircuitInfoWithCP56Time2a(io)));
    case C_CS_NA_1:
        return cp56Stamp(ClockSynchronizationCommand_getTime(ClockSynchronizationCommand(io)));
    default:
        return QVariant();
    }
}

} // namespace

bool readAsduHeader(CS101_ASDU asdu, int sizeOfIOA, AsduHeader& header)
{
    if (!asdu)
        return false;
    header.typeId = CS101_ASDU_getTypeID(asdu);
    header.cause = CS101_ASDU_getCOT(asdu);
    header.negative = CS101_ASDU_isNegative(asdu);
    header.test = CS101_ASDU_isTest(asdu);
    header.commonAddress = CS101_ASDU_getCA(asdu);
    header.elementCount = CS101_ASDU_getNumberOfElements(asdu);
    header.firstObjectAddress = -1;
    const uint8_t* payload = CS101_ASDU_getPayload(asdu);
    if (payload && sizeOfIOA >= 1 && sizeOfIOA <= 3 && CS101_ASDU_getPayloadSize(asdu) >= sizeOfIOA) {
        int address = 0;
        for (int i = 0; i < sizeOfIOA; ++i)
            address |= int(payload[i]) << (8 * i);
        header.firstObjectAddress = address;
    }
    return true;
}

int asduElementSize(int typeId)
{
    // Octets after the object address, as the standard lays them out. Time tags:
    // CP24Time2a 3, CP56Time2a 7; quality descriptors 1 octet.
    switch (typeId) {
    case M_SP_NA_1:
    case M_DP_NA_1:
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_RC_NA_1:
    case M_EI_NA_1:
    case C_IC_NA_1:
    case C_CI_NA_1:
    case C_RP_NA_1:
    case P_AC_NA_1:
        return 1;
    case M_ST_NA_1:
    case M_ME_ND_1:
    case C_TS_NA_1:
    case C_CD_NA_1:
        return 2;
    case M_ME_NA_1:
    case M_ME_NB_1:
    case C_SE_NA_1:
    case C_SE_NB_1:
    case P_ME_NA_1:
    case P_ME_NB_1:
        return 3;
    case M_SP_TA_1:
    case M_DP_TA_1:
    case C_BO_NA_1:
        return 4;
    case M_ST_TA_1:
    case M_BO_NA_1:
    case M_ME_NC_1:
    case M_IT_NA_1:
    case M_PS_NA_1:
    case C_SE_NC_1:
    case P_ME_NC_1:
        return 5;
    case M_ME_TA_1:
    case M_ME_TB_1:
    case M_EP_TA_1:
        return 6;
    case M_EP_TB_1:
    case M_EP_TC_1:
    case C_CS_NA_1:
        return 7;
    case M_BO_TA_1:
    case M_ME_TC_1:
    case M_IT_TA_1:
    case M_SP_TB_1:
    case M_DP_TB_1:
    case C_SC_TA_1:
    case C_DC_TA_1:
    case C_RC_TA_1:
        return 8;
    case M_ST_TB_1:
    case C_TS_TA_1:
        return 9;
    case M_ME_TD_1:
    case M_ME_TE_1:
    case M_EP_TD_1:
    case C_SE_TA_1:
    case C_SE_TB_1:
        return 10;
    case M_EP_TE_1:
    case M_EP_TF_1:
    case C_BO_TA_1:
        return 11;
    case M_BO_TB_1:
    case M_ME_TF_1:
    case M_IT_TB_1:
    case C_SE_TC_1:
        return 12;
    case C_RD_NA_1:
        return 0;
    default:
        return -1;
    }
}

qint64 completeCp24Time(CP24Time2a tag, const QDateTime& masterClock)
{
    constexpr qint64 kUnixEpochJulianDay = 2440588;
    constexpr qint64 kHourMs = 3600000;
    const QTime clock = masterClock.time();
    const qint64 hourStart =
        (masterClock.date().toJulianDay() - kUnixEpochJulianDay) * 24 * kHourMs + clock.hour() * kHourMs;
    const int minute = CP24Time2a_getMinute(tag);
    const qint64 stamp =
        hourStart + minute * 60000 + CP24Time2a_getSecond(tag) * 1000 + CP24Time2a_getMillisecond(tag);
    // A tag can only be from the past: a minute ahead of the clock's belongs to the previous hour.
    return minute > clock.minute() ? stamp - kHourMs : stamp;
}

void decodeInformationObject(InformationObject io, int typeId, InfoObject& object,
                             const QDateTime& masterClock)
{
    if (!io)
        return;
    // The variants with a time tag begin like the plain type, so its accessors read them too.
    switch (typeId) {
    case M_SP_NA_1:
    case M_SP_TA_1:
    case M_SP_TB_1:
        object.value = QVariant(bool(SinglePointInformation_getValue(SinglePointInformation(io))));
        object.quality = SinglePointInformation_getQuality(SinglePointInformation(io));
        break;
    case M_DP_NA_1:
    case M_DP_TA_1:
    case M_DP_TB_1:
        object.value = QVariant(int(DoublePointInformation_getValue(DoublePointInformation(io))));
        object.quality = DoublePointInformation_getQuality(DoublePointInformation(io));
        break;
    case M_ST_NA_1:
    case M_ST_TA_1:
    case M_ST_TB_1:
        object.value = QVariant(StepPositionInformation_getValue(StepPositionInformation(io)));
        object.quality = StepPositionInformation_getQuality(StepPositionInformation(io));
        object.extra = StepPositionInformation_isTransient(StepPositionInformation(io)) ? 1 : 0;
        break;
    case M_BO_NA_1:
    case M_BO_TA_1:
    case M_BO_TB_1:
        object.value = QVariant(uint(BitString32_getValue(BitString32(io))));
        object.quality = BitString32_getQuality(BitString32(io));
        break;
    case M_ME_NA_1:
    case M_ME_TA_1:
    case M_ME_TD_1:
        object.value =
            QVariant(standardNormalized(MeasuredValueNormalized_getValue(MeasuredValueNormalized(io))));
        object.quality = MeasuredValueNormalized_getQuality(MeasuredValueNormalized(io));
        break;
    case M_ME_ND_1:
        object.value = QVariant(standardNormalized(
            MeasuredValueNormalizedWithoutQuality_getValue(MeasuredValueNormalizedWithoutQuality(io))));
        break;
    case M_ME_NB_1:
    case M_ME_TB_1:
    case M_ME_TE_1:
        object.value = QVariant(MeasuredValueScaled_getValue(MeasuredValueScaled(io)));
        object.quality = MeasuredValueScaled_getQuality(MeasuredValueScaled(io));
        break;
    case M_ME_NC_1:
    case M_ME_TC_1:
    case M_ME_TF_1:
        object.value = QVariant(MeasuredValueShort_getValue(MeasuredValueShort(io)));
        object.quality = MeasuredValueShort_getQuality(MeasuredValueShort(io));
        break;
    case M_IT_NA_1:
    case M_IT_TA_1:
    case M_IT_TB_1: {
        BinaryCounterReading bcr = IntegratedTotals_getBCR(IntegratedTotals(io));
        if (!bcr)
            break;
        object.value = QVariant(int(BinaryCounterReading_getValue(bcr)));
        object.quality = (BinaryCounterReading_hasCarry(bcr) ? InfoObject::Carry : 0) |
                         (BinaryCounterReading_isAdjusted(bcr) ? InfoObject::Adjusted : 0) |
                         (BinaryCounterReading_isInvalid(bcr) ? InfoObject::Invalid : 0);
        object.extra = quint16(BinaryCounterReading_getSequenceNumber(bcr));
        break;
    }
    case M_EP_TA_1:
    case M_EP_TD_1: {
        const bool cp56 = typeId == M_EP_TD_1;
        auto withCp56 = EventOfProtectionEquipmentWithCP56Time2a(io);
        SingleEvent event = cp56 ? EventOfProtectionEquipmentWithCP56Time2a_getEvent(withCp56)
                                 : EventOfProtectionEquipment_getEvent(EventOfProtectionEquipment(io));
        if (!event)
            break;
        object.value = QVariant(int(SingleEvent_getEventState(event)));
        object.quality = SingleEvent_getQDP(event);
        object.extra = quint16(
            elapsedMs(cp56 ? EventOfProtectionEquipmentWithCP56Time2a_getElapsedTime(withCp56)
                           : EventOfProtectionEquipment_getElapsedTime(EventOfProtectionEquipment(io))));
        break;
    }
    case M_EP_TB_1:
        object.value = QVariant(uint(
            PackedStartEventsOfProtectionEquipment_getEvent(PackedStartEventsOfProtectionEquipment(io))));
        object.quality =
            PackedStartEventsOfProtectionEquipment_getQuality(PackedStartEventsOfProtectionEquipment(io));
        object.extra = quint16(elapsedMs(PackedStartEventsOfProtectionEquipment_getElapsedTime(
            PackedStartEventsOfProtectionEquipment(io))));
        break;
    case M_EP_TE_1: {
        auto events = PackedStartEventsOfProtectionEquipmentWithCP56Time2a(io);
        object.value = QVariant(uint(PackedStartEventsOfProtectionEquipmentWithCP56Time2a_getEvent(events)));
        object.quality = PackedStartEventsOfProtectionEquipmentWithCP56Time2a_getQuality(events);
        object.extra =
            quint16(elapsedMs(PackedStartEventsOfProtectionEquipmentWithCP56Time2a_getElapsedTime(events)));
        break;
    }
    case M_EP_TC_1:
        object.value = QVariant(uint(PackedOutputCircuitInfo_getOCI(PackedOutputCircuitInfo(io))));
        object.quality = PackedOutputCircuitInfo_getQuality(PackedOutputCircuitInfo(io));
        object.extra =
            quint16(elapsedMs(PackedOutputCircuitInfo_getOperatingTime(PackedOutputCircuitInfo(io))));
        break;
    case M_EP_TF_1: {
        auto circuits = PackedOutputCircuitInfoWithCP56Time2a(io);
        object.value = QVariant(uint(PackedOutputCircuitInfoWithCP56Time2a_getOCI(circuits)));
        object.quality = PackedOutputCircuitInfoWithCP56Time2a_getQuality(circuits);
        object.extra = quint16(elapsedMs(PackedOutputCircuitInfoWithCP56Time2a_getOperatingTime(circuits)));
        break;
    }
    case M_PS_NA_1: {
        // Status bits in the upper half, their change detection bits in the lower.
        StatusAndStatusChangeDetection scd = PackedSinglePointWithSCD_getSCD(PackedSinglePointWithSCD(io));
        if (scd)
            object.value = QVariant((uint(StatusAndStatusChangeDetection_getSTn(scd)) << 16) |
                                    StatusAndStatusChangeDetection_getCDn(scd));
        object.quality = PackedSinglePointWithSCD_getQuality(PackedSinglePointWithSCD(io));
        break;
    }
    case M_EI_NA_1:
        object.value = QVariant(int(EndOfInitialization_getCOI(EndOfInitialization(io))));
        break;
    case C_CD_NA_1:
        // The confirmation of a delay acquisition: the time the master sent plus the
        // station's own delay, in ms within the minute.
        object.value = QVariant(elapsedMs(DelayAcquisitionCommand_getDelay(DelayAcquisitionCommand(io))));
        break;
    default:
        break;
    }
    object.timestamp = timeTag(io, typeId, masterClock);
}

QVector<InfoObject> decodeAsdu(CS101_ASDU asdu, int sizeOfIOA, const QDateTime& masterClock)
{
    QVector<InfoObject> objects;
    // The library hands over a null ASDU for user data shorter than an ASDU header.
    if (!asdu)
        return objects;
    const int typeId = CS101_ASDU_getTypeID(asdu);
    const int count = CS101_ASDU_getNumberOfElements(asdu);
    if (count <= 0)
        return objects;

    // Without a known element size the payload cannot be checked, and the library
    // would read elements of a lying ASDU past the frame. Such types produce nothing;
    // the library itself builds no objects for most of them anyway.
    const int elementSize = asduElementSize(typeId);
    if (elementSize < 0 || sizeOfIOA < 1 || sizeOfIOA > 3)
        return objects;
    // SQ=1: one address, then the elements back to back; SQ=0: address and element each time.
    const int needed =
        CS101_ASDU_isSequence(asdu) ? sizeOfIOA + count * elementSize : count * (sizeOfIOA + elementSize);
    if (CS101_ASDU_getPayloadSize(asdu) < needed || !CS101_ASDU_getPayload(asdu))
        return objects;

    // One reading of the clock for all CP24 tags of the ASDU, and none without them.
    const QDateTime clock = hasCp24Tag(typeId) ? clockFields(masterClock) : masterClock;
    const int cause = CS101_ASDU_getCOT(asdu);
    const bool spontaneous = unsolicited(cause);
    const int commonAddress = CS101_ASDU_getCA(asdu);
    objects.reserve(count);
    for (int i = 0; i < count; ++i) {
        InformationObject io = CS101_ASDU_getElement(asdu, i);
        if (!io)
            continue;
        InfoObject object(io, typeId);
        object.spontaneous = spontaneous;
        object.cause = quint8(cause);
        object.commonAddress = commonAddress;
        decodeInformationObject(io, typeId, object, clock);
        objects.append(object);
        InformationObject_destroy(io);
    }
    return objects;
}

} // namespace iec101
