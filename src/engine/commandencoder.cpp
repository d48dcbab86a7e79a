#include "commandencoder.h"

#include <cs101_information_objects.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace iec101 {

namespace CommandEncoder {

namespace {

using Execution = CommandRequest::Execution;

// Types addressed to one object; the others (interrogations, clock sync, test, reset,
// delay acquisition) go to address 0.
bool isAddressed(int typeId)
{
    return typeId == C_RD_NA_1 || (typeId >= C_SC_NA_1 && typeId <= C_BO_NA_1) ||
           (typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1) || (typeId >= P_ME_NA_1 && typeId <= P_AC_NA_1);
}

QString outOfRange(const QString& what, const QString& value, const QString& range)
{
    return QStringLiteral("%1 %2 out of range %3").arg(what, value, range);
}

QString checkQualifier(int qualifier, int min, int max)
{
    if (qualifier < min || qualifier > max)
        return outOfRange(QStringLiteral("qualifier"), QString::number(qualifier),
                          QStringLiteral("%1..%2").arg(min).arg(max));
    return QString();
}

QString valueText(const QVariant& value)
{
    return value.isValid() ? value.toString() : QStringLiteral("(none)");
}

// The value as a number, or why it is none.
bool readNumber(const QVariant& value, double* number)
{
    bool ok = false;
    *number = value.toDouble(&ok);
    return value.isValid() && ok;
}

QString checkNormalized(const QVariant& value)
{
    double number = 0;
    if (!readNumber(value, &number) || !(number >= kNormalizedMin && number <= kNormalizedMax))
        return outOfRange(QStringLiteral("value"), valueText(value),
                          QStringLiteral("-1..%1").arg(kNormalizedMax, 0, 'g', 10));
    return QString();
}

QString checkScaled(const QVariant& value)
{
    double number = 0;
    if (!readNumber(value, &number) || !(number >= kScaledMin && number <= kScaledMax))
        return outOfRange(QStringLiteral("value"), valueText(value),
                          QStringLiteral("%1..%2").arg(kScaledMin).arg(kScaledMax));
    if (number != std::trunc(number))
        return QStringLiteral("value %1 is not a whole number").arg(valueText(value));
    return QString();
}

QString checkShortFloat(const QVariant& value)
{
    double number = 0;
    if (!readNumber(value, &number) || !std::isfinite(number) || std::fabs(number) > double(FLT_MAX))
        return QStringLiteral("value %1 is not a finite short float").arg(valueText(value));
    return QString();
}

QString checkBitstring(const QVariant& value)
{
    bool ok = false;
    const qlonglong bits = value.toLongLong(&ok);
    double number = 0;
    if (!value.isValid() || !ok || bits < 0 || bits > 0xffffffffLL ||
        (readNumber(value, &number) && number != double(bits)))
        return outOfRange(QStringLiteral("value"), valueText(value), QStringLiteral("0..0xFFFFFFFF"));
    return QString();
}

// What goes with the value of each type: its range, and the qualifier's.
QString checkValue(const CommandRequest& request)
{
    const int type = untimedType(request.typeId);
    switch (type) {
    case C_SC_NA_1:
        if (!request.value.isValid())
            return outOfRange(QStringLiteral("value"), valueText(request.value), QStringLiteral("0..1"));
        return checkQualifier(request.qualifier, 0, 31);
    case C_DC_NA_1: {
        const int state = request.value.toInt();
        if (state < 0 || state > 3 || !request.value.isValid())
            return outOfRange(QStringLiteral("value"), valueText(request.value), QStringLiteral("0..3"));
        return checkQualifier(request.qualifier, 0, 31);
    }
    case C_RC_NA_1: {
        // 0 and 3 are "not permitted" step directions.
        bool ok = false;
        const int direction = request.value.toInt(&ok);
        if (!ok || direction < IEC60870_STEP_LOWER || direction > IEC60870_STEP_HIGHER)
            return outOfRange(QStringLiteral("value"), valueText(request.value),
                              QStringLiteral("1 (lower)..2 (higher)"));
        return checkQualifier(request.qualifier, 0, 31);
    }
    case C_SE_NA_1:
    case C_SE_NB_1:
    case C_SE_NC_1: {
        const QString problem = type == C_SE_NA_1   ? checkNormalized(request.value)
                                : type == C_SE_NB_1 ? checkScaled(request.value)
                                                    : checkShortFloat(request.value);
        return problem.isEmpty() ? checkQualifier(request.qualifier, 0, 127) : problem;
    }
    case C_BO_NA_1:
        return checkBitstring(request.value);
    case C_IC_NA_1:
    case C_CI_NA_1:
        return checkQualifier(request.qualifier, 0, 255);
    case C_RP_NA_1:
        return checkQualifier(request.qualifier, IEC60870_QRP_GENERAL_RESET, 255);
    case P_ME_NA_1:
    case P_ME_NB_1:
    case P_ME_NC_1: {
        const QString problem = type == P_ME_NA_1   ? checkNormalized(request.value)
                                : type == P_ME_NB_1 ? checkScaled(request.value)
                                                    : checkShortFloat(request.value);
        // KPA: 1 threshold, 2 smoothing factor, 3 low and 4 high limit; up to 63 for the
        // station's own kinds. LPC and POP are left clear.
        return problem.isEmpty() ? checkQualifier(request.qualifier, IEC60870_QPM_THRESHOLD_VALUE, 63)
                                 : problem;
    }
    case P_AC_NA_1:
        return checkQualifier(request.qualifier, IEC60870_QPA_DE_ACT_PREV_LOADED_PARAMETER, 255);
    default:
        return QString();
    }
}

} // namespace

bool isSupported(int typeId)
{
    switch (typeId) {
    case C_IC_NA_1:
    case C_CI_NA_1:
    case C_RD_NA_1:
    case C_CS_NA_1:
    case C_TS_NA_1:
    case C_RP_NA_1:
    case C_CD_NA_1:
        return true;
    default:
        return (typeId >= C_SC_NA_1 && typeId <= C_BO_NA_1) || (typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1) ||
               (typeId >= P_ME_NA_1 && typeId <= P_AC_NA_1);
    }
}

bool hasSelect(int typeId)
{
    const int type = untimedType(typeId);
    return type >= C_SC_NA_1 && type <= C_SE_NC_1;
}

int untimedType(int typeId)
{
    return typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1 ? typeId - (C_SC_TA_1 - C_SC_NA_1) : typeId;
}

int timedType(int typeId)
{
    return typeId >= C_SC_NA_1 && typeId <= C_BO_NA_1 ? typeId + (C_SC_TA_1 - C_SC_NA_1) : 0;
}

QString validate(const CommandRequest& request)
{
    if (!isSupported(request.typeId))
        return QStringLiteral("type %1 is not supported").arg(request.typeId);
    if (isAddressed(request.typeId) && (request.objectAddress < 0 || request.objectAddress > 0xffffff))
        return QStringLiteral("object address %1 out of range 0..16777215").arg(request.objectAddress);
    switch (request.execution) {
    case Execution::Direct:
        break;
    case Execution::SelectBeforeExecute:
    case Execution::SelectOnly:
        if (!hasSelect(request.typeId)) {
            return untimedType(request.typeId) == C_BO_NA_1
                       ? QStringLiteral("a bitstring command cannot be selected")
                       : QStringLiteral("select and deactivation apply to commands only");
        }
        break;
    case Execution::Deactivate:
        // A parameter activation is undone with the same cause as a select is cancelled.
        if (!hasSelect(request.typeId) && request.typeId != P_AC_NA_1)
            return QStringLiteral("select and deactivation apply to commands only");
        break;
    }
    return checkValue(request);
}

void fillTime(sCP56Time2a& time, const QDateTime& instant, bool utc)
{
    const QDateTime at = utc ? instant.toUTC() : instant.toLocalTime();
    std::memset(&time, 0, sizeof time);
    CP56Time2a_setMillisecond(&time, at.time().msec());
    CP56Time2a_setSecond(&time, at.time().second());
    CP56Time2a_setMinute(&time, at.time().minute());
    CP56Time2a_setHour(&time, at.time().hour());
    CP56Time2a_setDayOfMonth(&time, at.date().day());
    CP56Time2a_setDayOfWeek(&time, at.date().dayOfWeek());
    CP56Time2a_setMonth(&time, at.date().month());
    CP56Time2a_setYear(&time, at.date().year() % 100);
    CP56Time2a_setSummerTime(&time, !utc && at.isDaylightTime());
}

int normalizedValue(double value)
{
    return int(std::lround(std::clamp(value * 32768.0, -32768.0, 32767.0)));
}

void correctAsdu(CS101_ASDU asdu, const CommandRequest& request, int sizeOfIOA)
{
    const int type = untimedType(request.typeId);
    if (type != C_SE_NA_1 && type != P_ME_NA_1)
        return;
    uint8_t* payload = CS101_ASDU_getPayload(asdu);
    if (!payload || sizeOfIOA < 1 || CS101_ASDU_getPayloadSize(asdu) < sizeOfIOA + 2)
        return;
    const auto nva = quint16(qint16(normalizedValue(request.value.toDouble())));
    payload[sizeOfIOA] = uint8_t(nva & 0xff);
    payload[sizeOfIOA + 1] = uint8_t(nva >> 8);
}

int millisecondsInMinute(const QDateTime& instant)
{
    const QTime time = instant.toUTC().time();
    return time.second() * 1000 + time.msec();
}

InformationObject createObject(const CommandRequest& request, bool select, const QDateTime& now,
                               const ProtocolSettings& settings)
{
    const int ioa = request.objectAddress;
    const int qualifier = request.qualifier;
    const QVariant& value = request.value;
    sCP56Time2a tag;
    fillTime(tag, request.timeTag.isValid() ? request.timeTag : now, settings.timeTagsInUtc);
    const auto direction = StepCommandValue(value.toInt());
    switch (request.typeId) {
    case C_SC_NA_1:
        return InformationObject(SingleCommand_create(nullptr, ioa, value.toBool(), select, qualifier));
    case C_DC_NA_1:
        return InformationObject(DoubleCommand_create(nullptr, ioa, value.toInt(), select, qualifier));
    case C_RC_NA_1:
        return InformationObject(StepCommand_create(nullptr, ioa, direction, select, qualifier));
    case C_SE_NA_1:
        return InformationObject(
            SetpointCommandNormalized_create(nullptr, ioa, value.toFloat(), select, qualifier));
    case C_SE_NB_1:
        return InformationObject(
            SetpointCommandScaled_create(nullptr, ioa, value.toInt(), select, qualifier));
    case C_SE_NC_1:
        return InformationObject(
            SetpointCommandShort_create(nullptr, ioa, value.toFloat(), select, qualifier));
    case C_BO_NA_1:
        return InformationObject(Bitstring32Command_create(nullptr, ioa, uint32_t(value.toLongLong())));
    case C_SC_TA_1:
        return InformationObject(
            SingleCommandWithCP56Time2a_create(nullptr, ioa, value.toBool(), select, qualifier, &tag));
    case C_DC_TA_1:
        return InformationObject(
            DoubleCommandWithCP56Time2a_create(nullptr, ioa, value.toInt(), select, qualifier, &tag));
    case C_RC_TA_1:
        return InformationObject(
            StepCommandWithCP56Time2a_create(nullptr, ioa, direction, select, qualifier, &tag));
    case C_SE_TA_1:
        return InformationObject(SetpointCommandNormalizedWithCP56Time2a_create(nullptr, ioa, value.toFloat(),
                                                                                select, qualifier, &tag));
    case C_SE_TB_1:
        return InformationObject(
            SetpointCommandScaledWithCP56Time2a_create(nullptr, ioa, value.toInt(), select, qualifier, &tag));
    case C_SE_TC_1:
        return InformationObject(SetpointCommandShortWithCP56Time2a_create(nullptr, ioa, value.toFloat(),
                                                                           select, qualifier, &tag));
    case C_BO_TA_1:
        return InformationObject(
            Bitstring32CommandWithCP56Time2a_create(nullptr, ioa, uint32_t(value.toLongLong()), &tag));
    case C_TS_NA_1:
        // The library fills in the fixed pattern 0x55AA and address 0.
        return InformationObject(TestCommand_create(nullptr));
    case C_RP_NA_1:
        return InformationObject(ResetProcessCommand_create(nullptr, 0, QualifierOfRPC(qualifier)));
    case C_CD_NA_1: {
        sCP16Time2a sent;
        std::memset(&sent, 0, sizeof sent);
        CP16Time2a_setEplapsedTimeInMs(&sent, millisecondsInMinute(now));
        return InformationObject(DelayAcquisitionCommand_create(nullptr, 0, &sent));
    }
    case P_ME_NA_1:
        return InformationObject(ParameterNormalizedValue_create(nullptr, ioa, value.toFloat(),
                                                                 QualifierOfParameterMV(qualifier)));
    case P_ME_NB_1:
        return InformationObject(
            ParameterScaledValue_create(nullptr, ioa, value.toInt(), QualifierOfParameterMV(qualifier)));
    case P_ME_NC_1:
        return InformationObject(
            ParameterFloatValue_create(nullptr, ioa, value.toFloat(), QualifierOfParameterMV(qualifier)));
    case P_AC_NA_1:
        return InformationObject(
            ParameterActivation_create(nullptr, ioa, QualifierOfParameterActivation(qualifier)));
    default:
        return nullptr;
    }
}

} // namespace CommandEncoder

} // namespace iec101
