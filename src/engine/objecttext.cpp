#include "objecttext.h"

#include <QDateTime>

#include <limits>

#include <iec60870_common.h>

namespace iec101 {

namespace {

struct Flag
{
    quint8 bit;
    const char* name;
};

// Flags in the order they are shown, per kind of quality descriptor.
constexpr Flag kQdsFlags[] = {{0x80, "IV"}, {0x40, "NT"}, {0x20, "SB"}, {0x10, "BL"}, {0x01, "OV"}};
constexpr Flag kQdpFlags[] = {{0x80, "IV"}, {0x40, "NT"}, {0x20, "SB"}, {0x10, "BL"}, {0x08, "EI"}};
constexpr Flag kCounterFlags[] = {{0x20, "CY"}, {0x40, "CA"}, {0x80, "IV"}};

template <size_t N> QString flagText(quint8 quality, const Flag (&flags)[N])
{
    QString text;
    for (const Flag& flag : flags) {
        if (!(quality & flag.bit))
            continue;
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QLatin1String(flag.name);
    }
    return text;
}

// Up to six significant digits, exponent form from a million on: how values have always read.
QString numberText(double value)
{
    if (!qIsFinite(value))
        return QStringLiteral("?");
    return QStringLiteral("%1").arg(value, 0, 'g', -1);
}

QString hexText(uint value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString initialisationText(int coi)
{
    static const char* const causes[] = {"local power on", "local manual reset", "remote reset"};
    const int cause = coi & 0x7f;
    QString text = cause < 3 ? QLatin1String(causes[cause]) : QStringLiteral("cause %1").arg(cause);
    if (coi & 0x80)
        text += QStringLiteral(", after parameter change");
    return text;
}

constexpr qint64 kHourMs = 3600 * 1000;
constexpr qint64 kStampLimitMs = qint64(1) << 46; // about 2,200 years either side of 1970

// Bumped whenever the clock leaves the stretch kept for it (every hour, and at a change of
// offset), so that every stretch is looked up again: a zone the PC was switched to shows
// from the next hour on.
thread_local quint64 offsetGeneration = 0;

// A stretch of time, within one hour of UTC, in which local time keeps one offset from
// UTC. No zone changes its offset twice within an hour: an hour whose first and last
// millisecond have the same offset has it throughout, and in one with a change the
// change is found by bisection (some twenty look-ups, twice a year).
class OffsetWindow
{
public:
    bool contains(qint64 ms) const { return ms >= start && ms < end; }

    int offsetAt(qint64 ms, quint64 generation)
    {
        if (generation == lookedUpIn && contains(ms))
            return offset;
        qint64 from = ms - ((ms % kHourMs) + kHourMs) % kHourMs;
        qint64 to = from + kHourMs;
        const int before = lookUp(from);
        const int after = lookUp(to - 1);
        offset = before;
        if (before != after) {
            // lookUp(lo) == before and lookUp(hi) == after, until hi is the change.
            qint64 lo = from;
            qint64 hi = to - 1;
            while (hi - lo > 1) {
                const qint64 mid = lo + (hi - lo) / 2;
                if (lookUp(mid) == before)
                    lo = mid;
                else
                    hi = mid;
            }
            if (ms < hi) {
                to = hi;
            } else {
                from = hi;
                offset = after;
            }
        }
        start = from;
        end = to;
        lookedUpIn = generation;
        return offset;
    }

private:
    static int lookUp(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc(); }

    qint64 start = 0;
    qint64 end = 0; // empty until the first look-up
    int offset = 0;
    quint64 lookedUpIn = 0;
};

} // namespace

namespace ObjectText {

QString valueText(const InfoObject& object)
{
    const QString flags = qualityText(object);
    const QString value = plainValueText(object);
    return flags.isEmpty() ? value : value + QStringLiteral(" [") + flags + QLatin1Char(']');
}

QString plainValueText(const InfoObject& object)
{
    const QVariant& value = object.value;
    if (!value.isValid())
        return QStringLiteral("?");
    switch (object.typeId) {
    case M_ME_NA_1:
    case M_ME_TA_1:
    case M_ME_TD_1:
    case M_ME_ND_1:
    case M_ME_NC_1:
    case M_ME_TC_1:
    case M_ME_TF_1:
        return numberText(value.toDouble());
    case M_ME_NB_1:
    case M_ME_TB_1:
    case M_ME_TE_1:
        return QString::number(value.toInt());
    case M_ST_NA_1:
    case M_ST_TA_1:
    case M_ST_TB_1:
        return QString::number(value.toInt()) + (object.extra ? QStringLiteral(" (transient)") : QString());
    case M_BO_NA_1:
    case M_BO_TA_1:
    case M_BO_TB_1:
    case M_PS_NA_1:
        return hexText(value.toUInt(), 8);
    case M_EP_TA_1:
    case M_EP_TD_1:
        return QStringLiteral("%1 (%2 ms)").arg(value.toInt()).arg(object.extra);
    case M_EP_TB_1:
    case M_EP_TC_1:
    case M_EP_TE_1:
    case M_EP_TF_1:
        return QStringLiteral("0x%1 (%2 ms)").arg(hexText(value.toUInt(), 2)).arg(object.extra);
    case M_EI_NA_1:
        return initialisationText(value.toInt());
    default:
        // Points, double points and counter readings are whole numbers.
        return numberText(double(value.toInt()));
    }
}

QString qualityText(const InfoObject& object)
{
    switch (object.typeId) {
    case M_ME_ND_1:
    case M_EI_NA_1:
        return QString();
    case M_IT_NA_1:
    case M_IT_TA_1:
    case M_IT_TB_1:
        return flagText(object.quality, kCounterFlags);
    case M_EP_TA_1:
    case M_EP_TB_1:
    case M_EP_TC_1:
    case M_EP_TD_1:
    case M_EP_TE_1:
    case M_EP_TF_1:
        return flagText(object.quality, kQdpFlags);
    default:
        return flagText(object.quality, kQdsFlags);
    }
}

QString typeText(int typeId)
{
    return QStringLiteral("%1 (%2)").arg(typeName(typeId), QString::number(typeId));
}

QString typeName(int typeId)
{
    const char* name = TypeID_toString(static_cast<TypeID>(typeId));
    return QLatin1String(name ? name : "");
}

qint64 tagInstant(qint64 timestamp)
{
    // Beyond a few thousand years either way a stamp means nothing; bounded, the
    // arithmetic below cannot overflow.
    const qint64 stamp = qBound(-kStampLimitMs, timestamp, kStampLimitMs);
    thread_local OffsetWindow now;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    if (!now.contains(nowMs))
        ++offsetGeneration;
    return stamp - qint64(now.offsetAt(nowMs, offsetGeneration)) * 1000;
}

int utcOffsetAt(qint64 msecsSinceEpoch)
{
    thread_local OffsetWindow then;
    return then.offsetAt(msecsSinceEpoch, offsetGeneration);
}

QDateTime localFields(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch + qint64(utcOffsetAt(msecsSinceEpoch)) * 1000,
                                          Qt::UTC);
}

// Qt's text date format of a local date-time, "Fri Dec 6 06:30:39 2024" (no zone), with
// the time of day as given.
static QString localText(qint64 msecsSinceEpoch, bool withMs)
{
    const QDateTime fields = localFields(msecsSinceEpoch);
    QString text = fields.date().toString(Qt::TextDate);
    const QString time = withMs ? fields.time().toString(QStringLiteral("hh:mm:ss.zzz"))
                                : fields.time().toString(Qt::TextDate);
    text.insert(text.lastIndexOf(QLatin1Char(' ')), QLatin1Char(' ') + time);
    return text;
}

QString localTimeText(qint64 msecsSinceEpoch)
{
    return localText(msecsSinceEpoch, false);
}

QString localTimeTextMs(qint64 msecsSinceEpoch)
{
    return localText(msecsSinceEpoch, true);
}

QDateTime slaveDateTime(const QVariant& timestamp)
{
    if (timestamp.isNull())
        return QDateTime();
    return localFields(tagInstant(timestamp.toLongLong()));
}

QString timeText(const QVariant& timestamp)
{
    if (timestamp.isNull())
        return QString();
    return localTimeText(tagInstant(timestamp.toLongLong()));
}

} // namespace ObjectText

} // namespace iec101
