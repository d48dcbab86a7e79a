#include "pointlist.h"

#include <QFile>
#include <QLocale>
#include <QSet>
#include <QStringList>

#include <cmath>

#include "asdudecoder.h"
#include "objecttext.h"

namespace iec101 {

namespace {

constexpr int kMaxObjectAddress = 0xFFFFFF;
constexpr int kMaxCommonAddress = 0xFFFF;
constexpr int kLastMonitoringPoint = 40; // M_IT_TB_1; 41 to 44 are not defined

enum Column { Ca, Ioa, Type, Name, Unit, Scale, Offset, States, Expected, Group, ColumnCount };

const char* const kColumnNames[ColumnCount] = {"ca",    "ioa",    "type",   "name",     "unit",
                                               "scale", "offset", "states", "expected", "group"};

// One CSV record and the line it starts on.
struct Record
{
    int line = 0;
    QStringList fields;
};

// RFC 4180 records; a quoted field may hold line breaks, so lines and records differ.
// False with the line of an unterminated quote.
bool splitRecords(const QString& text, QVector<Record>* records, int* badLine)
{
    Record record;
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    int line = 1;
    record.line = 1;
    int quoteLine = 0;
    const auto endField = [&] {
        record.fields.append(field);
        field.clear();
        fieldStarted = false;
    };
    const auto endRecord = [&] {
        endField();
        // A blank line is no record.
        if (!(record.fields.size() == 1 && record.fields.first().trimmed().isEmpty()))
            records->append(record);
        record = Record();
        record.line = line;
    };
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < size && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
            quoteLine = line;
        } else if (c == QLatin1Char(',')) {
            endField();
        } else if (c == QLatin1Char('\r')) {
            // CR LF and a lone CR end the record alike.
            if (i + 1 < size && text.at(i + 1) == QLatin1Char('\n'))
                continue;
            ++line;
            endRecord();
        } else if (c == QLatin1Char('\n')) {
            ++line;
            endRecord();
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        *badLine = quoteLine;
        return false;
    }
    if (fieldStarted || !record.fields.isEmpty() || !field.isEmpty())
        endRecord();
    return true;
}

bool parseInteger(const QString& text, qint64 min, qint64 max, qint64* value)
{
    const QString t = text.trimmed();
    bool ok = false;
    const qint64 number = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                              ? t.mid(2).toLongLong(&ok, 16)
                              : t.toLongLong(&ok, 10);
    if (!ok || number < min || number > max)
        return false;
    *value = number;
    return true;
}

bool parseNumber(const QString& text, double* value)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(number))
        return false;
    *value = number;
    return true;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 7);
}

// "0=open;1=closed"
bool parseStates(const QString& text, QMap<int, QString>* states, QString* why)
{
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int equals = part.indexOf(QLatin1Char('='));
        qint64 raw = 0;
        if (equals < 0 || !parseInteger(part.left(equals), -(qint64(1) << 31), (qint64(1) << 31) - 1, &raw) ||
            part.mid(equals + 1).trimmed().isEmpty()) {
            *why = QStringLiteral("states: \"%1\" is not VALUE=TEXT").arg(part.trimmed());
            return false;
        }
        if (states->contains(int(raw))) {
            *why = QStringLiteral("states: %1 given twice").arg(raw);
            return false;
        }
        states->insert(int(raw), part.mid(equals + 1).trimmed());
    }
    return true;
}

// A number, a range lo..hi, or one of the point's state texts.
bool parseExpected(const QString& text, PointList::Point* point, QString* why)
{
    const QString t = text.trimmed();
    const int dots = t.indexOf(QLatin1String(".."));
    double low = 0;
    double high = 0;
    if (dots >= 0) {
        if (!parseNumber(t.left(dots), &low) || !parseNumber(t.mid(dots + 2), &high)) {
            *why = QStringLiteral("expected: \"%1\" is not a range LOW..HIGH").arg(t);
            return false;
        }
        if (low > high) {
            *why = QStringLiteral("expected: %1 is above %2").arg(numberText(low), numberText(high));
            return false;
        }
    } else if (parseNumber(t, &low)) {
        high = low;
    } else {
        const auto state = std::find_if(point->states.cbegin(), point->states.cend(), [&t](const QString& s) {
            return s.compare(t, Qt::CaseInsensitive) == 0;
        });
        if (state == point->states.cend()) {
            *why = QStringLiteral(
                       "expected: \"%1\" is neither a number, a range LOW..HIGH nor one of the states")
                       .arg(t);
            return false;
        }
        low = high = PointList::engineeringValue(*point, state.key());
    }
    point->hasExpected = true;
    point->expectedLow = low;
    point->expectedHigh = high;
    return true;
}

// The value family of a monitoring type: the same value with or without a time tag.
int valueFamily(int typeId)
{
    switch (typeId) {
    case M_SP_NA_1:
    case M_SP_TA_1:
    case M_SP_TB_1:
        return M_SP_NA_1;
    case M_DP_NA_1:
    case M_DP_TA_1:
    case M_DP_TB_1:
        return M_DP_NA_1;
    case M_ST_NA_1:
    case M_ST_TA_1:
    case M_ST_TB_1:
        return M_ST_NA_1;
    case M_BO_NA_1:
    case M_BO_TA_1:
    case M_BO_TB_1:
        return M_BO_NA_1;
    case M_ME_NA_1:
    case M_ME_TA_1:
    case M_ME_TD_1:
    case M_ME_ND_1:
        return M_ME_NA_1;
    case M_ME_NB_1:
    case M_ME_TB_1:
    case M_ME_TE_1:
        return M_ME_NB_1;
    case M_ME_NC_1:
    case M_ME_TC_1:
    case M_ME_TF_1:
        return M_ME_NC_1;
    case M_IT_NA_1:
    case M_IT_TA_1:
    case M_IT_TB_1:
        return M_IT_NA_1;
    case M_EP_TA_1:
    case M_EP_TD_1:
        return M_EP_TA_1;
    case M_EP_TB_1:
    case M_EP_TE_1:
        return M_EP_TB_1;
    case M_EP_TC_1:
    case M_EP_TF_1:
        return M_EP_TC_1;
    default:
        return typeId;
    }
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

int PointList::typeFromText(const QString& text)
{
    const QString t = text.trimmed();
    qint64 number = 0;
    int typeId = 0;
    if (parseInteger(t, 1, kLastMonitoringPoint, &number)) {
        typeId = int(number);
    } else {
        for (int candidate = M_SP_NA_1; candidate <= kLastMonitoringPoint; ++candidate) {
            if (ObjectText::typeName(candidate).compare(t, Qt::CaseInsensitive) == 0) {
                typeId = candidate;
                break;
            }
        }
    }
    // Only the types a station reports points with (not 22 to 29, which are undefined).
    return typeId > 0 && asduElementSize(typeId) >= 0 ? typeId : 0;
}

bool PointList::sameKindOfValue(int listedType, int reportedType)
{
    return valueFamily(listedType) == valueFamily(reportedType);
}

PointList PointList::fromFile(const QString& path, QVector<Problem>* problems)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        problems->append({0, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())});
        return PointList();
    }
    // Read in pieces up to the limit: a device or a wrong file is not read on forever.
    QByteArray content;
    for (;;) {
        const QByteArray piece = file.read(qMin<qint64>(1 << 20, kMaxFileBytes + 1 - content.size()));
        if (piece.isEmpty())
            break;
        content += piece;
        if (content.size() > kMaxFileBytes) {
            problems->append({0, QStringLiteral("%1 is larger than %2 MB; not a signal list")
                                     .arg(path)
                                     .arg(kMaxFileBytes / (1024 * 1024))});
            return PointList();
        }
    }
    return fromCsv(content, problems);
}

PointList PointList::fromCsv(const QByteArray& csv, QVector<Problem>* problems)
{
    PointList list;
    if (csv.contains('\0')) {
        problems->append({0, QStringLiteral("not a text file")});
        return list;
    }
    QString text = QString::fromUtf8(csv);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QVector<Record> records;
    int badLine = 0;
    const bool complete = splitRecords(text, &records, &badLine);
    if (records.isEmpty()) {
        problems->append({complete ? 0 : badLine, QStringLiteral("no header row")});
        return list;
    }

    // The header names the columns.
    int columnOf[ColumnCount];
    std::fill(std::begin(columnOf), std::end(columnOf), -1);
    const Record& header = records.first();
    for (int i = 0; i < header.fields.size(); ++i) {
        const QString name = header.fields.at(i).trimmed().toLower();
        for (int c = 0; c < ColumnCount; ++c) {
            if (name != QLatin1String(kColumnNames[c]))
                continue;
            if (columnOf[c] >= 0) {
                problems->append({header.line, QStringLiteral("column \"%1\" named twice").arg(name)});
                return list;
            }
            columnOf[c] = i;
        }
    }
    for (Column required : {Ioa, Type}) {
        if (columnOf[required] < 0) {
            problems->append({header.line, QStringLiteral("the header names no \"%1\" column")
                                               .arg(QLatin1String(kColumnNames[required]))});
            return list;
        }
    }

    QHash<quint64, int> lineOf;
    list.points.reserve(records.size() - 1);
    for (int r = 1; r < records.size(); ++r) {
        const Record& record = records.at(r);
        const auto fail = [&](const QString& reason) {
            problems->append({record.line, reason});
        };
        if (record.fields.size() > header.fields.size()) {
            fail(QStringLiteral("%1 fields, the header has %2")
                     .arg(record.fields.size())
                     .arg(header.fields.size()));
            continue;
        }
        const auto field = [&](Column c) {
            return columnOf[c] >= 0 ? record.fields.value(columnOf[c]).trimmed() : QString();
        };
        Point point;
        point.line = record.line;
        qint64 number = 0;
        if (field(Ioa).isEmpty()) {
            fail(QStringLiteral("no object address"));
            continue;
        }
        if (!parseInteger(field(Ioa), 1, kMaxObjectAddress, &number)) {
            fail(QStringLiteral("ioa: \"%1\" is not an object address (1..%2)")
                     .arg(field(Ioa))
                     .arg(kMaxObjectAddress));
            continue;
        }
        point.address = int(number);
        if (!field(Ca).isEmpty()) {
            if (!parseInteger(field(Ca), 0, kMaxCommonAddress, &number)) {
                fail(QStringLiteral("ca: \"%1\" is not a common address (0..%2)")
                         .arg(field(Ca))
                         .arg(kMaxCommonAddress));
                continue;
            }
            point.commonAddress = int(number);
        }
        if (field(Type).isEmpty()) {
            fail(QStringLiteral("no type"));
            continue;
        }
        point.typeId = typeFromText(field(Type));
        if (point.typeId == 0) {
            fail(QStringLiteral("type: \"%1\" is no monitoring type (M_SP_NA_1 .. M_IT_TB_1 or 1..40)")
                     .arg(field(Type)));
            continue;
        }
        point.name = field(Name);
        point.unit = field(Unit);
        point.group = field(Group);
        if (!field(Scale).isEmpty() && !parseNumber(field(Scale), &point.scale)) {
            fail(QStringLiteral("scale: \"%1\" is not a number").arg(field(Scale)));
            continue;
        }
        if (!field(Offset).isEmpty() && !parseNumber(field(Offset), &point.offset)) {
            fail(QStringLiteral("offset: \"%1\" is not a number").arg(field(Offset)));
            continue;
        }
        QString why;
        if (!parseStates(field(States), &point.states, &why) ||
            (!field(Expected).isEmpty() && !parseExpected(field(Expected), &point, &why))) {
            fail(why);
            continue;
        }
        const quint64 k = key(point.commonAddress, point.address);
        const auto earlier = lineOf.constFind(k);
        if (earlier != lineOf.cend()) {
            fail(QStringLiteral("object address %1 is listed already (line %2)")
                     .arg(point.address)
                     .arg(*earlier));
            continue;
        }
        lineOf.insert(k, record.line);
        list.index.insert(k, list.points.size());
        list.points.append(point);
    }
    if (!complete)
        problems->append(
            {badLine, QStringLiteral("a quoted field is not closed; the rest of the file is skipped")});
    return list;
}

QByteArray PointList::toCsv() const
{
    QString out = QStringLiteral("ca,ioa,type,name,unit,scale,offset,states,expected,group\r\n");
    for (const Point& point : points) {
        QStringList states;
        for (auto it = point.states.cbegin(); it != point.states.cend(); ++it)
            states << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
        QString expected;
        if (point.hasExpected)
            expected =
                point.expectedLow == point.expectedHigh
                    ? numberText(point.expectedLow)
                    : numberText(point.expectedLow) + QLatin1String("..") + numberText(point.expectedHigh);
        const QStringList fields{point.commonAddress < 0 ? QString() : QString::number(point.commonAddress),
                                 QString::number(point.address),
                                 ObjectText::typeName(point.typeId),
                                 point.name,
                                 point.unit,
                                 numberText(point.scale),
                                 numberText(point.offset),
                                 states.join(QLatin1Char(';')),
                                 expected,
                                 point.group};
        QStringList quoted;
        for (const QString& field : fields)
            quoted << csvField(field);
        out += quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
    }
    return out.toUtf8();
}

const PointList::Point* PointList::find(int commonAddress, int address) const
{
    auto it = index.constFind(key(commonAddress, address));
    if (it == index.cend())
        it = index.constFind(key(-1, address));
    return it == index.cend() ? nullptr : &points.at(*it);
}

bool PointList::rawNumber(const InfoObject& object, double* value)
{
    switch (object.value.userType()) {
    case QMetaType::Bool:
        *value = object.value.toBool() ? 1 : 0;
        return true;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        *value = object.value.toDouble();
        return std::isfinite(*value);
    default:
        return false;
    }
}

double PointList::engineeringValue(const Point& point, double raw)
{
    return raw * point.scale + point.offset;
}

QString PointList::valueText(const Point& point, const InfoObject& object)
{
    const QString text = engineeringText(point, object);
    const QString flags = ObjectText::qualityText(object);
    return flags.isEmpty() ? text : text + QStringLiteral(" [") + flags + QLatin1Char(']');
}

QString PointList::engineeringText(const Point& point, const InfoObject& object)
{
    double raw = 0;
    QString text;
    if (!rawNumber(object, &raw)) {
        text = ObjectText::plainValueText(object);
    } else if (!point.states.isEmpty() && raw == std::floor(raw) && point.states.contains(int(raw))) {
        text = point.states.value(int(raw));
    } else {
        text = numberText(engineeringValue(point, raw));
        if (!point.unit.isEmpty())
            text += QLatin1Char(' ') + point.unit;
    }
    return text;
}

bool PointList::inExpectedRange(const Point& point, const InfoObject& object)
{
    double raw = 0;
    if (!point.hasExpected || !rawNumber(object, &raw))
        return true;
    // Compared at the precision the values are shown with: 0.1 x 3 is 0.3 here.
    const double value = numberText(engineeringValue(point, raw)).toDouble();
    return value >= point.expectedLow && value <= point.expectedHigh;
}

QString PointList::expectedText(const Point& point)
{
    if (!point.hasExpected)
        return QString();
    const auto one = [&point](double value) {
        if (!point.states.isEmpty()) {
            for (auto it = point.states.cbegin(); it != point.states.cend(); ++it) {
                if (engineeringValue(point, it.key()) == value)
                    return it.value();
            }
        }
        return point.unit.isEmpty() ? numberText(value) : numberText(value) + QLatin1Char(' ') + point.unit;
    };
    return point.expectedLow == point.expectedHigh
               ? one(point.expectedLow)
               : one(point.expectedLow) + QLatin1String(" .. ") + one(point.expectedHigh);
}

} // namespace iec101
