#include "csvwriter.h"

#include <QDateTime>
#include <QFileDevice>

#include <algorithm>
#include <charconv>

namespace iec101 {

namespace {

QString fieldText(const QVariant& value)
{
    switch (value.userType()) {
    case QMetaType::QDateTime:
        return CsvWriter::timeText(value.toDateTime());
    case QMetaType::Float: {
        // Through double, a float shows the binary noise below its precision
        // (0.1f as 0.10000000149011612); the shortest text that reads back the same is wanted.
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value.toFloat());
        return QString::fromLatin1(buffer, int(result.ptr - buffer));
    }
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        return value.toString();
    }
}

QString quoted(const QString& field)
{
    static const QString special = QStringLiteral(",\"\r\n");
    const bool needsQuotes =
        std::any_of(field.cbegin(), field.cend(), [](QChar c) { return special.contains(c); });
    if (!needsQuotes)
        return field;
    QString text = field;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

CsvWriter::CsvWriter(QIODevice* output) : device(output) {}

bool CsvWriter::writeHeader(const QStringList& names)
{
    return writeRecord(names);
}

bool CsvWriter::writeRow(const QVariantList& fields)
{
    QStringList texts;
    texts.reserve(fields.size());
    for (const QVariant& field : fields)
        texts << fieldText(field);
    return writeRecord(texts);
}

bool CsvWriter::finish()
{
    if (hasError())
        return false;
    auto* file = qobject_cast<QFileDevice*>(device);
    if (file && !file->flush()) {
        error = QStringLiteral("Writing failed: %1").arg(file->errorString());
        return false;
    }
    return true;
}

QString CsvWriter::timeText(const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    return timeText(time.toMSecsSinceEpoch(), time.offsetFromUtc());
}

QString CsvWriter::timeText(qint64 msecsSinceEpoch, int offsetFromUtcSeconds)
{
    // Formatting the shifted time as UTC asks the time-zone database nothing, so a caller
    // that keeps the offset at hand writes a million rows without a look-up for each.
    const QDateTime wallClock =
        QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch + qint64(offsetFromUtcSeconds) * 1000, Qt::UTC);
    const int minutes = qAbs(offsetFromUtcSeconds) / 60;
    return wallClock.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
           QLatin1Char(offsetFromUtcSeconds < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

bool CsvWriter::writeRecord(const QStringList& fields)
{
    if (hasError())
        return false;
    if (!device || !device->isWritable()) {
        error = QStringLiteral("The file is not open for writing.");
        return false;
    }
    if (columns >= 0 && fields.size() != columns) {
        error = QStringLiteral("Record %1 has %2 fields instead of %3.")
                    .arg(records + 1)
                    .arg(fields.size())
                    .arg(columns);
        return false;
    }
    QStringList texts;
    texts.reserve(fields.size());
    for (const QString& field : fields)
        texts << quoted(field);
    const QByteArray bytes = (texts.join(QLatin1Char(',')) + QLatin1String("\r\n")).toUtf8();
    if (device->write(bytes) != bytes.size()) {
        const QString reason = device->errorString();
        error = QStringLiteral("Writing failed: %1")
                    .arg(reason.isEmpty() ? QStringLiteral("unknown error") : reason);
        return false;
    }
    columns = fields.size();
    ++records;
    return true;
}

} // namespace iec101
