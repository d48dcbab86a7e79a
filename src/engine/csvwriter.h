#ifndef IEC101_CSVWRITER_H
#define IEC101_CSVWRITER_H

#include <QString>
#include <QStringList>
#include <QVariantList>

class QDateTime;
class QIODevice;

namespace iec101 {

// Writes tables as comma-separated values the way RFC 4180 has them: UTF-8 without a
// byte order mark, one record per line ended by CR LF, a field in double quotes when it
// holds a comma, a double quote, CR or LF, with its double quotes doubled. The first
// record (normally the header) fixes the number of fields; a row with another number is
// refused. Fields are texts, numbers, booleans or times: a time is written in ISO 8601
// with milliseconds and its offset from UTC, an empty or invalid value as an empty field.
// The first error stops the writer: later rows are refused, errorString() says why.
class CsvWriter
{
public:
    // The device stays the caller's; it must be open for writing.
    explicit CsvWriter(QIODevice* device);

    bool writeHeader(const QStringList& names);
    bool writeRow(const QVariantList& fields);
    // Pushes what a file device still buffers to the file, where a full disk shows.
    bool finish();

    bool hasError() const { return !error.isEmpty(); }
    QString errorString() const { return error; }

    // "2026-12-06T09:30:47.591+01:00": the wall-clock time at that offset, and the offset.
    static QString timeText(const QDateTime& time);
    static QString timeText(qint64 msecsSinceEpoch, int offsetFromUtcSeconds);

private:
    bool writeRecord(const QStringList& fields);

    QIODevice* device = nullptr;
    int columns = -1;
    qint64 records = 0;
    QString error;
};

} // namespace iec101

#endif // IEC101_CSVWRITER_H
