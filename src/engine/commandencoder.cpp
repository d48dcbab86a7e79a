#include "commandencoder.h"

#include <cs101_information_objects.h>

#include <cstring>

namespace iec101 {

namespace CommandEncoder {

bool isSupported(int typeId)
{
    switch (typeId) {
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_IC_NA_1:
    case C_CI_NA_1:
    case C_RD_NA_1:
    case C_CS_NA_1:
        return true;
    default:
        return false;
    }
}

QString validate(const CommandRequest& request)
{
    if (!isSupported(request.typeId))
        return QStringLiteral("type %1 is not supported").arg(request.typeId);
    const bool process = request.typeId == C_SC_NA_1 || request.typeId == C_DC_NA_1;
    if ((process || request.typeId == C_RD_NA_1) &&
        (request.objectAddress < 0 || request.objectAddress > 0xffffff))
        return QStringLiteral("object address %1 out of range 0..16777215").arg(request.objectAddress);
    if (process && (request.qualifier < 0 || request.qualifier > 31))
        return QStringLiteral("qualifier %1 out of range 0..31").arg(request.qualifier);
    if (!process && request.execution != CommandRequest::Execution::Direct)
        return QStringLiteral("select and deactivation apply to commands only");
    switch (request.typeId) {
    case C_DC_NA_1: {
        const int state = request.value.toInt();
        if (state < 0 || state > 3 || !request.value.isValid())
            return QStringLiteral("value %1 out of range 0..3").arg(request.value.toString());
        break;
    }
    case C_IC_NA_1:
        if (request.qualifier < 0 || request.qualifier > 255)
            return QStringLiteral("qualifier %1 out of range 0..255").arg(request.qualifier);
        break;
    case C_CI_NA_1:
        if (request.qualifier < 0 || request.qualifier > 255)
            return QStringLiteral("qualifier %1 out of range 0..255").arg(request.qualifier);
        break;
    default:
        break;
    }
    return QString();
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

InformationObject createObject(const CommandRequest& request, bool select, const QDateTime& now,
                               const ProtocolSettings& settings)
{
    Q_UNUSED(now)
    Q_UNUSED(settings)
    switch (request.typeId) {
    case C_SC_NA_1:
        return InformationObject(SingleCommand_create(nullptr, request.objectAddress, request.value.toBool(),
                                                      select, request.qualifier));
    case C_DC_NA_1:
        return InformationObject(DoubleCommand_create(nullptr, request.objectAddress, request.value.toInt(),
                                                      select, request.qualifier));
    default:
        return nullptr;
    }
}

} // namespace CommandEncoder

} // namespace iec101
