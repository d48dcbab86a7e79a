#include "objecttext.h"

#include <QDateTime>

#include <iec60870_common.h>

namespace ObjectText {

QString valueText(const InfoObject& object)
{
    // Short floats (with or without time tag) as doubles; points and counters as ints.
    const double value = (object.typeId == M_ME_NC_1 || object.typeId == M_ME_TF_1)
                             ? object.value.toDouble()
                             : static_cast<double>(object.value.toInt());
    return QStringLiteral("%1").arg(value, 0, 'g', -1);
}

QString typeText(int typeId)
{
    const char* name = TypeID_toString(static_cast<TypeID>(typeId));
    return QStringLiteral("%1 (%2)").arg(QLatin1String(name ? name : ""), QString::number(typeId));
}

QDateTime slaveDateTime(const QVariant& timestamp)
{
    if (timestamp.isNull())
        return QDateTime();
    // The stamp holds the slave's calendar fields read as UTC. Shown is the local
    // time of (stamp - current UTC offset), which gives back those fields unchanged.
    // Computed on UTC date-times with just two zone look-ups: each local-time
    // conversion makes the C library check the zone file again.
    const qint64 nowOffset = QDateTime::currentDateTime().offsetFromUtc();
    const qint64 shifted = timestamp.toLongLong() - nowOffset * 1000;
    const int offsetThen = QDateTime::fromMSecsSinceEpoch(shifted).offsetFromUtc();
    return QDateTime::fromMSecsSinceEpoch(shifted, Qt::UTC).addSecs(offsetThen);
}

QString timeText(const QVariant& timestamp)
{
    const QDateTime fields = slaveDateTime(timestamp);
    if (!fields.isValid())
        return QString();
    // Qt's text date format of a local date-time: "Fri Dec 6 06:30:39 2024", no zone.
    QString text = fields.date().toString(Qt::TextDate);
    text.insert(text.lastIndexOf(QLatin1Char(' ')), QLatin1Char(' ') + fields.time().toString(Qt::TextDate));
    return text;
}

} // namespace ObjectText
