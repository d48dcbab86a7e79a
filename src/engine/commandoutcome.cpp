#include "commandoutcome.h"

#include <iec60870_common.h>

namespace iec101 {

QString causeText(int cause)
{
    switch (cause) {
    case 1:
        return QStringLiteral("periodic");
    case 2:
        return QStringLiteral("background scan");
    case 3:
        return QStringLiteral("spontaneous");
    case 4:
        return QStringLiteral("initialised");
    case 5:
        return QStringLiteral("request");
    case 6:
        return QStringLiteral("activation");
    case 7:
        return QStringLiteral("activation confirmation");
    case 8:
        return QStringLiteral("deactivation");
    case 9:
        return QStringLiteral("deactivation confirmation");
    case 10:
        return QStringLiteral("activation termination");
    case 11:
        return QStringLiteral("return information, remote command");
    case 12:
        return QStringLiteral("return information, local command");
    case 13:
        return QStringLiteral("file transfer");
    case 44:
        return QStringLiteral("unknown type identification");
    case 45:
        return QStringLiteral("unknown cause of transmission");
    case 46:
        return QStringLiteral("unknown common address");
    case 47:
        return QStringLiteral("unknown object address");
    default:
        break;
    }
    if (cause == 20)
        return QStringLiteral("interrogated by station");
    if (cause > 20 && cause <= 36)
        return QStringLiteral("interrogated by group %1").arg(cause - 20);
    if (cause == 37)
        return QStringLiteral("requested by general counter request");
    if (cause > 37 && cause <= 41)
        return QStringLiteral("requested by group %1 counter request").arg(cause - 37);
    return QStringLiteral("cause %1").arg(cause);
}

QString CommandOutcome::name() const
{
    switch (result) {
    case Result::Confirmed:
        return QStringLiteral("confirmed");
    case Result::Terminated:
        return QStringLiteral("terminated");
    case Result::Refused:
        return QStringLiteral("refused");
    case Result::TimedOut:
        return QStringLiteral("timed-out");
    case Result::NotSent:
        break;
    }
    return QStringLiteral("not-sent");
}

QString CommandOutcome::text() const
{
    switch (result) {
    case Result::Confirmed:
        if (measuredDelayMs >= 0)
            return QStringLiteral("confirmed, line delay %1 ms").arg(measuredDelayMs);
        return terminationMissing ? QStringLiteral("confirmed, not terminated") : QStringLiteral("confirmed");
    case Result::Terminated:
        return QStringLiteral("terminated");
    case Result::Refused: {
        // A negative activation confirmation names no reason of its own; the other causes do.
        const bool plainNegative = cause == 7 || cause == 9 || cause == 10;
        QString why = plainNegative ? QStringLiteral("negative ") + causeText(cause) : causeText(cause);
        if (plainNegative && step == Step::SelectConfirmation)
            why += QStringLiteral(" of the select");
        return QStringLiteral("refused: %1 (%2)").arg(why).arg(cause);
    }
    case Result::TimedOut:
        switch (step) {
        case Step::Answer:
            return QStringLiteral("timed out waiting for the answer");
        case Step::SelectConfirmation:
            return QStringLiteral("timed out waiting for the confirmation of the select");
        case Step::DeactivationConfirmation:
            return QStringLiteral("timed out waiting for the confirmation of the deactivation");
        case Step::Confirmation:
        case Step::None:
            break;
        }
        return QStringLiteral("timed out waiting for the confirmation");
    case Result::NotSent:
        break;
    }
    switch (reason) {
    case Reason::NotConnected:
        return QStringLiteral("not sent: not connected");
    case Reason::LinkDown:
        return QStringLiteral("not sent: link down");
    case Reason::QueueFull:
        return QStringLiteral("not sent: queue full");
    case Reason::Invalid:
        return QStringLiteral("not sent: %1")
            .arg(detail.isEmpty() ? QStringLiteral("invalid request") : detail);
    case Reason::Closed:
        return QStringLiteral("not sent: connection closed");
    case Reason::None:
        break;
    }
    return QStringLiteral("not sent");
}

bool isInterrogatedCause(int cause)
{
    return cause >= CS101_COT_INTERROGATED_BY_STATION && cause <= CS101_COT_INTERROGATED_BY_GROUP_16;
}

bool isCounterCause(int cause)
{
    return cause >= CS101_COT_REQUESTED_BY_GENERAL_COUNTER && cause <= CS101_COT_REQUESTED_BY_GROUP_4_COUNTER;
}

bool isRefusingCause(int cause)
{
    return cause >= CS101_COT_UNKNOWN_TYPE_ID && cause <= CS101_COT_UNKNOWN_IOA;
}

} // namespace iec101
