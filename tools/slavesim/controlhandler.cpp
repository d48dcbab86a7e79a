#include "controlhandler.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>

namespace slavesim {

namespace {

// The type without its time tag: the time-tagged commands (58..64) act as their plain ones.
int untimed(int typeId)
{
    return typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1 ? typeId - (C_SC_TA_1 - C_SC_NA_1) : typeId;
}

bool inBlock(int address, int first, int count)
{
    return address >= first && address < first + count;
}

qint64 timeOf(CP56Time2a time)
{
    return time ? qint64(CP56Time2a_toMsTimestamp(time)) : -1;
}

} // namespace

ControlHandler::ControlHandler(const Config& stationConfig, Outbox& stationOutbox)
    : config(stationConfig), outbox(stationOutbox)
{}

bool ControlHandler::handles(int typeId)
{
    switch (untimed(typeId)) {
    case C_RC_NA_1:
    case C_SE_NA_1:
    case C_SE_NB_1:
    case C_SE_NC_1:
    case C_BO_NA_1:
    case C_RP_NA_1:
    case C_CD_NA_1:
    case P_ME_NA_1:
    case P_ME_NB_1:
    case P_ME_NC_1:
    case P_AC_NA_1:
        return true;
    default:
        return false;
    }
}

void ControlHandler::decode(InformationObject io, ReceivedAsdu& r)
{
    // The time-tagged objects begin like their plain ones, so the plain accessors read them.
    switch (r.typeId) {
    case C_SC_NA_1:
    case C_SC_TA_1:
        r.value = SingleCommand_getState(SingleCommand(io));
        r.select = SingleCommand_isSelect(SingleCommand(io));
        r.qualifier = SingleCommand_getQU(SingleCommand(io));
        break;
    case C_DC_NA_1:
    case C_DC_TA_1:
        r.value = DoubleCommand_getState(DoubleCommand(io));
        r.select = DoubleCommand_isSelect(DoubleCommand(io));
        r.qualifier = DoubleCommand_getQU(DoubleCommand(io));
        break;
    case C_RC_NA_1:
    case C_RC_TA_1:
        r.value = StepCommand_getState(StepCommand(io));
        r.select = StepCommand_isSelect(StepCommand(io));
        r.qualifier = StepCommand_getQU(StepCommand(io));
        break;
    case C_SE_NA_1:
    case C_SE_TA_1:
        r.number = SetpointCommandNormalized_getValue(SetpointCommandNormalized(io));
        r.select = SetpointCommandNormalized_isSelect(SetpointCommandNormalized(io));
        r.qualifier = SetpointCommandNormalized_getQL(SetpointCommandNormalized(io));
        break;
    case C_SE_NB_1:
    case C_SE_TB_1:
        r.number = SetpointCommandScaled_getValue(SetpointCommandScaled(io));
        r.select = SetpointCommandScaled_isSelect(SetpointCommandScaled(io));
        r.qualifier = SetpointCommandScaled_getQL(SetpointCommandScaled(io));
        break;
    case C_SE_NC_1:
    case C_SE_TC_1:
        r.number = SetpointCommandShort_getValue(SetpointCommandShort(io));
        r.select = SetpointCommandShort_isSelect(SetpointCommandShort(io));
        r.qualifier = SetpointCommandShort_getQL(SetpointCommandShort(io));
        break;
    case C_BO_NA_1:
    case C_BO_TA_1:
        r.value = Bitstring32Command_getValue(Bitstring32Command(io));
        break;
    case C_RP_NA_1:
        r.qualifier = ResetProcessCommand_getQRP(ResetProcessCommand(io));
        break;
    case C_CD_NA_1: {
        CP16Time2a delay = DelayAcquisitionCommand_getDelay(DelayAcquisitionCommand(io));
        r.value = delay ? CP16Time2a_getEplapsedTimeInMs(delay) : 0;
        break;
    }
    case P_ME_NA_1:
        r.number = ParameterNormalizedValue_getValue(ParameterNormalizedValue(io));
        r.qualifier = ParameterNormalizedValue_getQPM(ParameterNormalizedValue(io));
        break;
    case P_ME_NB_1:
        r.number = ParameterScaledValue_getValue(ParameterScaledValue(io));
        r.qualifier = ParameterScaledValue_getQPM(ParameterScaledValue(io));
        break;
    case P_ME_NC_1:
        r.number = ParameterFloatValue_getValue(ParameterFloatValue(io));
        r.qualifier = ParameterFloatValue_getQPM(ParameterFloatValue(io));
        break;
    case P_AC_NA_1:
        r.qualifier = ParameterActivation_getQuality(ParameterActivation(io));
        break;
    default:
        break;
    }
    CP56Time2a tag = nullptr;
    switch (r.typeId) {
    case C_SC_TA_1:
        tag = SingleCommandWithCP56Time2a_getTimestamp(SingleCommandWithCP56Time2a(io));
        break;
    case C_DC_TA_1:
        tag = DoubleCommandWithCP56Time2a_getTimestamp(DoubleCommandWithCP56Time2a(io));
        break;
    case C_RC_TA_1:
        tag = StepCommandWithCP56Time2a_getTimestamp(StepCommandWithCP56Time2a(io));
        break;
    case C_SE_TA_1:
        tag =
            SetpointCommandNormalizedWithCP56Time2a_getTimestamp(SetpointCommandNormalizedWithCP56Time2a(io));
        break;
    case C_SE_TB_1:
        tag = SetpointCommandScaledWithCP56Time2a_getTimestamp(SetpointCommandScaledWithCP56Time2a(io));
        break;
    case C_SE_TC_1:
        tag = SetpointCommandShortWithCP56Time2a_getTimestamp(SetpointCommandShortWithCP56Time2a(io));
        break;
    case C_BO_TA_1:
        tag = Bitstring32CommandWithCP56Time2a_getTimestamp(Bitstring32CommandWithCP56Time2a(io));
        break;
    default:
        break;
    }
    if (tag) {
        r.timeTagMs = timeOf(tag);
        r.summerTime = CP56Time2a_isSummerTime(tag);
    }
}

IoPtr ControlHandler::report(int address) const
{
    const auto it = reports.find(address);
    if (it == reports.end())
        return IoPtr();
    const auto [type, value] = it->second;
    switch (type) {
    case M_ST_NA_1:
        return IoPtr(InformationObject(
            StepPositionInformation_create(nullptr, address, int(value), false, IEC60870_QUALITY_GOOD)));
    case M_BO_NA_1:
        return IoPtr(InformationObject(BitString32_create(nullptr, address, uint32_t(qint64(value)))));
    case M_ME_NA_1:
        return IoPtr(InformationObject(
            MeasuredValueNormalized_create(nullptr, address, float(value), IEC60870_QUALITY_GOOD)));
    case M_ME_NB_1:
        return IoPtr(InformationObject(
            MeasuredValueScaled_create(nullptr, address, int(value), IEC60870_QUALITY_GOOD)));
    default:
        return IoPtr(InformationObject(
            MeasuredValueShort_create(nullptr, address, float(value), IEC60870_QUALITY_GOOD)));
    }
}

bool ControlHandler::isParameterAddress(int address) const
{
    return inBlock(address, ioa::kFirstMeasured, ioa::kMeasuredCount) ||
           inBlock(address, ioa::kFirstSetpoint + ioa::kFeedbackOffset, ioa::kSetpointCount);
}

void ControlHandler::handle(CS101_ASDU asdu, const ReceivedAsdu& r, const Policy& policy)
{
    const int type = untimed(r.typeId);
    switch (type) {
    case C_RP_NA_1:
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON,
                      policy.negative || (r.qualifier != IEC60870_QRP_GENERAL_RESET &&
                                          r.qualifier != IEC60870_QRP_RESET_PENDING_INFO_WITH_TIME_TAG));
        return;
    case C_CD_NA_1:
        if (policy.negative)
            outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        else
            delayAcquisition(r);
        return;
    case P_ME_NA_1:
    case P_ME_NB_1:
    case P_ME_NC_1:
    case P_AC_NA_1: {
        const bool known = isParameterAddress(r.ioa) || (type == P_AC_NA_1 && r.ioa == 0);
        if (!known) {
            outbox.answer(asdu, CS101_COT_UNKNOWN_IOA, true);
            return;
        }
        const int confirmation =
            r.cot == CS101_COT_DEACTIVATION ? CS101_COT_DEACTIVATION_CON : CS101_COT_ACTIVATION_CON;
        outbox.answer(asdu, confirmation, policy.negative || policy.refused);
        return;
    }
    default:
        execute(asdu, r, policy);
        return;
    }
}

// Select before execute as for single and double commands: a select is remembered per
// address, the execute that follows must carry the same value and consumes it.
void ControlHandler::execute(CS101_ASDU asdu, const ReceivedAsdu& r, const Policy& policy)
{
    const int type = untimed(r.typeId);
    const bool known = type == C_RC_NA_1 ? inBlock(r.ioa, ioa::kFirstStepCommand, ioa::kStepCommandCount)
                       : type == C_BO_NA_1
                           ? inBlock(r.ioa, ioa::kFirstBitstringCommand, ioa::kBitstringCommandCount)
                           : inBlock(r.ioa, ioa::kFirstSetpoint, ioa::kSetpointCount);
    if (!known) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_IOA, true);
        return;
    }
    if (r.cot == CS101_COT_DEACTIVATION) {
        selections.erase(r.ioa);
        outbox.answer(asdu, CS101_COT_DEACTIVATION_CON, false);
        return;
    }
    const double commanded = type == C_RC_NA_1 || type == C_BO_NA_1 ? double(r.value) : r.number;
    const bool badStep =
        type == C_RC_NA_1 && r.value != IEC60870_STEP_LOWER && r.value != IEC60870_STEP_HIGHER;
    if (policy.negative || policy.refused || badStep) {
        selections.erase(r.ioa);
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    if (r.select) {
        selections[r.ioa] = commanded;
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);
        return;
    }
    if (policy.answerSelectOnly)
        return;
    const auto selected = selections.find(r.ioa);
    const bool mismatched = selected != selections.end() && selected->second != commanded;
    if (mismatched || (selected == selections.end() && policy.requireSelect)) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    if (selected != selections.end())
        selections.erase(selected);
    outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);

    const int report = r.ioa + ioa::kFeedbackOffset;
    switch (type) {
    case C_RC_NA_1: {
        // One step per command, held at the ends of the range.
        const auto kept = reports.find(report);
        const double position =
            (kept == reports.end() ? 0.0 : kept->second.second) + (r.value == IEC60870_STEP_HIGHER ? 1 : -1);
        reportBack(M_ST_NA_1, report, std::clamp(position, -64.0, 63.0));
        break;
    }
    case C_BO_NA_1:
        reportBack(M_BO_NA_1, report, commanded);
        break;
    case C_SE_NA_1:
        reportBack(M_ME_NA_1, report, commanded);
        break;
    case C_SE_NB_1:
        reportBack(M_ME_NB_1, report, commanded);
        break;
    default:
        reportBack(M_ME_NC_1, report, commanded);
        break;
    }
    if (policy.terminate)
        outbox.answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
}

void ControlHandler::reportBack(int type, int address, double value)
{
    reports[address] = {type, value};
    outbox.sendObject(report(address));
}

// The confirmation carries the master's time of sending plus the station's own delay,
// from the activation's arrival to this answer.
void ControlHandler::delayAcquisition(const ReceivedAsdu& r)
{
    constexpr qint64 kMinuteMs = 60000;
    const qint64 stationDelay = std::max<qint64>(0, QDateTime::currentMSecsSinceEpoch() - r.receivedAtMs);
    sCP16Time2a answer;
    std::memset(&answer, 0, sizeof answer);
    CP16Time2a_setEplapsedTimeInMs(&answer, int((r.value + stationDelay) % kMinuteMs));
    AsduPtr out = outbox.newAsdu(CS101_COT_ACTIVATION_CON);
    IoPtr io(InformationObject(DelayAcquisitionCommand_create(nullptr, 0, &answer)));
    if (out && io && CS101_ASDU_addInformationObject(out.get(), io.get()))
        outbox.send(out.get());
}

} // namespace slavesim
