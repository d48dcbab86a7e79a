#include "asdudecoder.h"

#include <cs101_information_objects.h>

namespace {

constexpr int kSpontaneous = CS101_COT_SPONTANEOUS;

QVariant msTimestamp(CP56Time2a time)
{
    if (!time)
        return QVariant();
    return QVariant(qulonglong(CP56Time2a_toMsTimestamp(time)));
}

} // namespace

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

void decodeInformationObject(InformationObject io, int typeId, InfoObject& object)
{
    if (!io)
        return;
    switch (typeId) {
    case M_SP_NA_1:
    case M_SP_TB_1:
        object.value = QVariant(bool(SinglePointInformation_getValue(SinglePointInformation(io))));
        break;
    case M_DP_NA_1:
    case M_DP_TB_1:
        object.value = QVariant(int(DoublePointInformation_getValue(DoublePointInformation(io))));
        break;
    case M_ME_NC_1:
    case M_ME_TF_1:
        object.value = QVariant(MeasuredValueShort_getValue(MeasuredValueShort(io)));
        break;
    case M_IT_NA_1:
    case M_IT_TB_1: {
        BinaryCounterReading bcr = IntegratedTotals_getBCR(IntegratedTotals(io));
        if (bcr)
            object.value = QVariant(int(BinaryCounterReading_getValue(bcr)));
        break;
    }
    case C_CS_NA_1:
        object.timestamp = msTimestamp(ClockSynchronizationCommand_getTime(ClockSynchronizationCommand(io)));
        return;
    default:
        return;
    }

    // Time tags of interrogated objects are not shown, so only spontaneous ones are decoded.
    if (!object.spontaneous)
        return;
    switch (typeId) {
    case M_SP_TB_1:
        object.timestamp = msTimestamp(SinglePointWithCP56Time2a_getTimestamp(SinglePointWithCP56Time2a(io)));
        break;
    case M_DP_TB_1:
        object.timestamp = msTimestamp(DoublePointWithCP56Time2a_getTimestamp(DoublePointWithCP56Time2a(io)));
        break;
    case M_ME_TF_1:
        object.timestamp =
            msTimestamp(MeasuredValueShortWithCP56Time2a_getTimestamp(MeasuredValueShortWithCP56Time2a(io)));
        break;
    case M_IT_TB_1:
        object.timestamp =
            msTimestamp(IntegratedTotalsWithCP56Time2a_getTimestamp(IntegratedTotalsWithCP56Time2a(io)));
        break;
    default:
        break;
    }
}

QVector<InfoObject> decodeAsdu(CS101_ASDU asdu, int sizeOfIOA)
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

    const bool spontaneous = CS101_ASDU_getCOT(asdu) == kSpontaneous;
    objects.reserve(count);
    for (int i = 0; i < count; ++i) {
        InformationObject io = CS101_ASDU_getElement(asdu, i);
        if (!io)
            continue;
        InfoObject object(io, typeId);
        object.spontaneous = spontaneous;
        decodeInformationObject(io, typeId, object);
        objects.append(object);
        InformationObject_destroy(io);
    }
    return objects;
}
