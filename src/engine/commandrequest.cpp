#include "commandrequest.h"

#include <QStringList>

#include <iec60870_common.h>

#include "objecttext.h"

namespace iec101 {

CommandRequest CommandRequest::of(int typeId, int objectAddress, const QVariant& value, Execution execution,
                                  int qualifier)
{
    CommandRequest request;
    request.typeId = typeId;
    request.objectAddress = objectAddress;
    request.value = value;
    request.execution = execution;
    request.qualifier = qualifier;
    return request;
}

CommandRequest CommandRequest::read(int objectAddress)
{
    return of(C_RD_NA_1, objectAddress);
}

CommandRequest CommandRequest::interrogation(int qoi)
{
    return of(C_IC_NA_1, 0, QVariant(), Execution::Direct, qoi);
}

CommandRequest CommandRequest::counterInterrogation(int qcc)
{
    return of(C_CI_NA_1, 0, QVariant(), Execution::Direct, qcc);
}

CommandRequest CommandRequest::clockSync(bool broadcast)
{
    CommandRequest request = of(C_CS_NA_1, 0);
    request.broadcast = broadcast;
    return request;
}

CommandRequest CommandRequest::singleCommand(int objectAddress, bool on, Execution execution, int qu)
{
    return of(C_SC_NA_1, objectAddress, on, execution, qu);
}

CommandRequest CommandRequest::doubleCommand(int objectAddress, int state, Execution execution, int qu)
{
    return of(C_DC_NA_1, objectAddress, state, execution, qu);
}

bool CommandRequest::fromCommand(Command::CommandType type, const QVector<int>& values,
                                 CommandRequest* request)
{
    // Commands are built from the first and last parameter; an empty list has neither.
    if (values.isEmpty())
        return false;
    switch (type) {
    case Command::Read:
        *request = read(values.first());
        return true;
    case Command::Interrogation:
        *request = interrogation(values.first() & 0xff);
        return true;
    case Command::CounterInterrogation:
        *request = counterInterrogation(values.first() & 0xff);
        return true;
    case Command::Single:
        *request = singleCommand(values.first(), values.last() != 0);
        return true;
    case Command::Double:
        *request = doubleCommand(values.first(), values.last());
        return true;
    case Command::ClockSync:
        *request = clockSync(values.first() != 0);
        return true;
    }
    return false;
}

bool CommandRequest::commandType(Command::CommandType* type) const
{
    switch (typeId) {
    case C_RD_NA_1:
        *type = Command::Read;
        return true;
    case C_IC_NA_1:
        *type = Command::Interrogation;
        return true;
    case C_CI_NA_1:
        *type = Command::CounterInterrogation;
        return true;
    case C_SC_NA_1:
        *type = Command::Single;
        return true;
    case C_DC_NA_1:
        *type = Command::Double;
        return true;
    case C_CS_NA_1:
        *type = Command::ClockSync;
        return true;
    default:
        return false;
    }
}

bool CommandRequest::isInterrogation() const
{
    return typeId == C_IC_NA_1 || typeId == C_CI_NA_1;
}

bool CommandRequest::expectsTermination() const
{
    if (execution == Execution::SelectOnly || execution == Execution::Deactivate)
        return false;
    // Process commands (with and without time tag) and the interrogations; reads, clock
    // syncs, tests, resets, delay acquisitions and parameters end with the confirmation.
    return (typeId >= C_SC_NA_1 && typeId <= C_BO_NA_1) || (typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1) ||
           isInterrogation();
}

bool CommandRequest::isTimeTagged() const
{
    return (typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1) || typeId == C_TS_TA_1;
}

QString CommandRequest::text() const
{
    QStringList parts{ObjectText::typeName(typeId)};
    const auto number = [](const QVariant& v) {
        const int type = v.userType();
        return type == QMetaType::Double || type == QMetaType::Float ? QString::number(v.toDouble(), 'g', 9)
                                                                     : QString::number(v.toLongLong());
    };
    const bool withAddress = typeId == C_RD_NA_1 || (typeId >= C_SC_NA_1 && typeId <= C_BO_NA_1) ||
                             (typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1) ||
                             (typeId >= P_ME_NA_1 && typeId <= P_AC_NA_1);
    if (withAddress)
        parts << QString::number(objectAddress);
    switch (typeId) {
    case C_IC_NA_1:
        parts << QStringLiteral("qoi=%1").arg(qualifier);
        break;
    case C_CI_NA_1:
        parts << QStringLiteral("qcc=%1").arg(qualifier);
        break;
    case C_CS_NA_1:
        if (broadcast)
            parts << QStringLiteral("broadcast");
        if (addMeasuredDelay)
            parts << QStringLiteral("delay");
        break;
    case C_SC_NA_1:
    case C_SC_TA_1:
        parts << (value.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
        break;
    case C_RC_NA_1:
    case C_RC_TA_1:
        parts << (value.toInt() == 2 ? QStringLiteral("higher") : QStringLiteral("lower"));
        break;
    case C_BO_NA_1:
    case C_BO_TA_1:
        parts << QStringLiteral("0x") +
                     QStringLiteral("%1").arg(value.toUInt(), 8, 16, QLatin1Char('0')).toUpper();
        break;
    case C_RP_NA_1:
        parts << QStringLiteral("qrp=%1").arg(qualifier);
        break;
    case P_AC_NA_1:
        parts << QStringLiteral("qpa=%1").arg(qualifier);
        break;
    default:
        if (withAddress && typeId != C_RD_NA_1 && value.isValid())
            parts << number(value);
        break;
    }
    if (execution == Execution::SelectBeforeExecute)
        parts << QStringLiteral("select");
    else if (execution == Execution::SelectOnly)
        parts << QStringLiteral("select-only");
    else if (execution == Execution::Deactivate)
        parts << QStringLiteral("deactivate");
    const bool command =
        (typeId >= C_SC_NA_1 && typeId <= C_BO_NA_1) || (typeId >= C_SC_TA_1 && typeId <= C_BO_TA_1);
    if (command && qualifier != 0 && typeId != C_BO_NA_1 && typeId != C_BO_TA_1) {
        const bool setpoint =
            (typeId >= C_SE_NA_1 && typeId <= C_SE_NC_1) || (typeId >= C_SE_TA_1 && typeId <= C_SE_TC_1);
        parts << QStringLiteral("%1=%2")
                     .arg(setpoint ? QStringLiteral("ql") : QStringLiteral("qu"))
                     .arg(qualifier);
    }
    if (typeId >= P_ME_NA_1 && typeId <= P_ME_NC_1 && qualifier != 0)
        parts << QStringLiteral("kpa=%1").arg(qualifier);
    if (isTimeTagged())
        parts << (timeTag.isValid() ? QStringLiteral("time=") + timeTag.toUTC().toString(Qt::ISODateWithMs)
                                    : QStringLiteral("time"));
    return parts.join(QLatin1Char(' '));
}

} // namespace iec101
