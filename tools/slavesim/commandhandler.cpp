#include "commandhandler.h"

#include <QDateTime>
#include <QScopeGuard>

#include <algorithm>

#include "asdudecoder.h"

namespace slavesim {

namespace {

// Bytes one element of a command type occupies after its address; -1 for types we do not decode.
int commandElementSize(int typeId)
{
    switch (typeId) {
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_IC_NA_1:
    case C_CI_NA_1:
        return 1;
    case C_RD_NA_1:
        return 0;
    case C_CS_NA_1:
        return 7;
    case C_SC_TA_1:
    case C_DC_TA_1:
        return iec101::asduElementSize(typeId);
    default:
        return ControlHandler::handles(typeId) ? iec101::asduElementSize(typeId) : -1;
    }
}

// The select/execute types, and the parameter activation: a deactivation (cause 8) applies.
bool canDeactivate(int typeId)
{
    return (typeId >= C_SC_NA_1 && typeId <= C_SE_NC_1) || (typeId >= C_SC_TA_1 && typeId <= C_SE_TC_1) ||
           typeId == P_AC_NA_1;
}

} // namespace

CommandHandler::CommandHandler(const Config& stationConfig, PointDatabase& database, Outbox& stationOutbox,
                               const SlaveSim::LogHandler& logHandler)
    : config(stationConfig), points(database), outbox(stationOutbox), log(logHandler),
      terminations(stationConfig.terminations), control(stationConfig, stationOutbox)
{}

void CommandHandler::setRefusedAddresses(const QVector<int>& addresses)
{
    refusedAddresses.assign(addresses.cbegin(), addresses.cend());
}

bool CommandHandler::isRefused(int address) const
{
    return std::find(refusedAddresses.cbegin(), refusedAddresses.cend(), address) != refusedAddresses.cend();
}

ReceivedAsdu CommandHandler::record(CS101_ASDU asdu)
{
    ReceivedAsdu r;
    r.typeId = CS101_ASDU_getTypeID(asdu);
    r.cot = CS101_ASDU_getCOT(asdu);
    r.negative = CS101_ASDU_isNegative(asdu);
    r.test = CS101_ASDU_isTest(asdu);
    r.commonAddress = CS101_ASDU_getCA(asdu);
    r.receivedAtMs = QDateTime::currentMSecsSinceEpoch();
    // Only look inside when the payload really holds one element of a known type.
    const int elementSize = commandElementSize(r.typeId);
    if (elementSize >= 0 && CS101_ASDU_getNumberOfElements(asdu) > 0 &&
        CS101_ASDU_getPayloadSize(asdu) >= config.sizeOfIOA + elementSize) {
        IoPtr io(CS101_ASDU_getElement(asdu, 0));
        if (io) {
            r.ioa = InformationObject_getObjectAddress(io.get());
            switch (r.typeId) {
            case C_IC_NA_1:
                r.value = InterrogationCommand_getQOI(reinterpret_cast<InterrogationCommand>(io.get()));
                break;
            case C_CI_NA_1:
                r.value = CounterInterrogationCommand_getQCC(
                    reinterpret_cast<CounterInterrogationCommand>(io.get()));
                break;
            case C_CS_NA_1: {
                CP56Time2a t = ClockSynchronizationCommand_getTime(
                    reinterpret_cast<ClockSynchronizationCommand>(io.get()));
                r.value = t ? qint64(CP56Time2a_toMsTimestamp(t)) : 0;
                break;
            }
            default:
                ControlHandler::decode(io.get(), r);
                break;
            }
        }
    }
    records.append(r);
    if (log) {
        log(QStringLiteral("RX %1 IOA %2%3 value %4")
                .arg(Outbox::describe(asdu))
                .arg(r.ioa)
                .arg(r.select ? QStringLiteral(" select") : QString())
                .arg(r.value));
    }
    return r;
}

void CommandHandler::handle(CS101_ASDU asdu)
{
    const ReceivedAsdu r = record(asdu);
    const int type = r.typeId;
    if (commandElementSize(type) < 0) {
        if (commandMode != CommandMode::Silent) {
            outbox.answer(asdu, CS101_COT_UNKNOWN_TYPE_ID, true);
        }
        return;
    }
    if (type == C_CS_NA_1) {
        clockSync(asdu);
        return;
    }
    if (commandMode == CommandMode::Silent) {
        return;
    }
    // The global address asks every common address the station has at once (interrogations).
    const bool global = r.commonAddress == (config.sizeOfCA == 1 ? 0xff : 0xffff);
    const bool ownAddress =
        r.commonAddress == config.commonAddress || config.extraCommonAddresses.contains(r.commonAddress);
    if (!ownAddress && !(global && (type == C_IC_NA_1 || type == C_CI_NA_1))) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_CA, true);
        return;
    }
    // Answers go out under the common address they were asked with.
    outbox.useCommonAddress(global ? -1 : r.commonAddress);
    const auto ownAgain = qScopeGuard([this] { outbox.useCommonAddress(-1); });
    const bool deactivation = r.cot == CS101_COT_DEACTIVATION && canDeactivate(type);
    if (r.cot != CS101_COT_ACTIVATION && !(type == C_RD_NA_1 && r.cot == CS101_COT_REQUEST) &&
        !deactivation) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_COT, true);
        return;
    }
    switch (type) {
    case C_IC_NA_1:
        interrogation(asdu, int(r.value));
        break;
    case C_CI_NA_1:
        counterInterrogation(asdu, int(r.value));
        break;
    case C_RD_NA_1:
        read(asdu, r.ioa);
        break;
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_SC_TA_1:
    case C_DC_TA_1:
        command(asdu, r, type == C_DC_NA_1 || type == C_DC_TA_1);
        break;
    default: {
        ControlHandler::Policy policy;
        policy.negative = commandMode == CommandMode::Negative;
        policy.refused = isRefused(r.ioa);
        policy.terminate = terminations;
        policy.requireSelect = config.requireSelect;
        policy.answerSelectOnly = commandMode == CommandMode::AnswerSelectOnly;
        control.handle(asdu, r, policy);
        break;
    }
    }
}

// Sends every point of one kind (and group, 0 = all), packed into as few ASDUs as the maximum
// ASDU size allows.
void CommandHandler::sendPoints(Kind kind, int group, int cot)
{
    AsduPtr asdu;
    int inAsdu = 0;
    for (const auto& [address, p] : points.select(kind, group)) {
        IoPtr io = points.encode(address, p);
        if (!io) {
            continue;
        }
        if (!asdu) {
            asdu = outbox.newAsdu(cot);
            if (!asdu) {
                return;
            }
        }
        if (!CS101_ASDU_addInformationObject(asdu.get(), io.get())) {
            outbox.send(asdu.get());
            asdu = outbox.newAsdu(cot);
            inAsdu = 0;
            if (!asdu || !CS101_ASDU_addInformationObject(asdu.get(), io.get())) {
                return;
            }
        }
        ++inAsdu;
    }
    if (asdu && inAsdu > 0) {
        outbox.send(asdu.get());
    }
}

QVector<int> CommandHandler::commonAddressesAsked(CS101_ASDU asdu) const
{
    const int ca = CS101_ASDU_getCA(asdu);
    if (ca != (config.sizeOfCA == 1 ? 0xff : 0xffff))
        return {ca};
    return QVector<int>{config.commonAddress} + config.extraCommonAddresses;
}

void CommandHandler::interrogation(CS101_ASDU asdu, int qoi)
{
    if (commandMode == CommandMode::Negative || isRefused(0) || qoi < CS101_COT_INTERROGATED_BY_STATION ||
        qoi > CS101_COT_INTERROGATED_BY_GROUP_16) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);
    const int group = qoi - CS101_COT_INTERROGATED_BY_STATION; // 0 = station
    for (int ca : commonAddressesAsked(asdu)) {
        outbox.useCommonAddress(ca);
        for (Kind kind : {Kind::Single, Kind::Double, Kind::Measured, Kind::Step, Kind::Bitstring}) {
            sendPoints(kind, group, qoi); // the cause equals the qualifier (20 + group)
        }
    }
    if (terminations) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
    }
}

void CommandHandler::counterInterrogation(CS101_ASDU asdu, int qcc)
{
    const int request = qcc & 0x3f; // 1..4 one group, 5 all
    if (commandMode == CommandMode::Negative || isRefused(0) || request < 1 || request > 5) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);
    points.advanceCounterSequence();
    const int group = request == 5 ? 0 : request;
    for (int ca : commonAddressesAsked(asdu)) {
        outbox.useCommonAddress(ca);
        sendPoints(Kind::Counter, group, CS101_COT_REQUESTED_BY_GENERAL_COUNTER + group);
    }
    if (terminations) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
    }
}

void CommandHandler::read(CS101_ASDU asdu, int address)
{
    const Point* p = points.find(address);
    // The points that report setpoints, step positions and bitstrings back, once commanded.
    IoPtr io = p ? points.encode(address, *p) : control.report(address);
    if (commandMode == CommandMode::Negative || !io) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_IOA, true);
        return;
    }
    AsduPtr out = outbox.newAsdu(CS101_COT_REQUEST);
    if (out && io && CS101_ASDU_addInformationObject(out.get(), io.get())) {
        outbox.send(out.get());
    }
}

void CommandHandler::clockSync(CS101_ASDU asdu)
{
    const int ca = CS101_ASDU_getCA(asdu);
    const bool broadcast = ca == (config.sizeOfCA == 1 ? 0xff : 0xffff);
    if (broadcast) {
        // A broadcast is sent without reply; a confirmation is optional and off by default.
        if (config.echoBroadcastClockSync && commandMode != CommandMode::Silent) {
            outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);
        }
        return;
    }
    if (commandMode == CommandMode::Silent) {
        return;
    }
    if (ca != config.commonAddress) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_CA, true);
        return;
    }
    if (CS101_ASDU_getCOT(asdu) != CS101_COT_ACTIVATION) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_COT, true);
        return;
    }
    // The confirmation echoes the time the master sent.
    outbox.answer(asdu, CS101_COT_ACTIVATION_CON, commandMode == CommandMode::Negative);
}

// Select before execute: a select is remembered per address, and the execute that follows
// must match it (address and state); it consumes it. An execute without a select is a
// direct execute, carried out unless the station is configured to require the select.
void CommandHandler::command(CS101_ASDU asdu, const ReceivedAsdu& r, bool isDouble)
{
    int object = 0;
    if (isDouble) {
        object = r.ioa - ioa::kDoubleCommandBase;
        if (object < 1 || object > ioa::kObjectCount) {
            outbox.answer(asdu, CS101_COT_UNKNOWN_IOA, true);
            return;
        }
    } else if (r.ioa < ioa::kFirstSingleCommand || r.ioa > ioa::kLastSingleCommand) {
        outbox.answer(asdu, CS101_COT_UNKNOWN_IOA, true);
        return;
    }
    if (r.cot == CS101_COT_DEACTIVATION) {
        selections.erase(r.ioa);
        outbox.answer(asdu, CS101_COT_DEACTIVATION_CON, false);
        return;
    }
    const bool refused = commandMode == CommandMode::Negative || isRefused(r.ioa) ||
                         (isDouble && points.isLocal()) || (isDouble && r.value != 1 && r.value != 2);
    if (refused) {
        selections.erase(r.ioa);
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    if (r.select) {
        selections[r.ioa] = int(r.value);
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);
        return;
    }
    if (commandMode == CommandMode::AnswerSelectOnly) {
        return;
    }
    const auto sel = selections.find(r.ioa);
    const bool mismatched = sel != selections.end() && sel->second != r.value;
    if (mismatched || (sel == selections.end() && config.requireSelect)) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_CON, true);
        return;
    }
    if (sel != selections.end())
        selections.erase(sel);
    outbox.answer(asdu, CS101_COT_ACTIVATION_CON, false);
    if (isDouble) {
        const int stateAddress = ioa::kObjectStateBase + object;
        if (Point* state = points.find(stateAddress)) {
            state->value = double(r.value);
            outbox.sendObject(points.encode(stateAddress, *state, points.eventTag()));
        }
    }
    if (terminations) {
        outbox.answer(asdu, CS101_COT_ACTIVATION_TERMINATION, false);
    }
}

} // namespace slavesim
