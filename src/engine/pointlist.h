#ifndef IEC101_POINTLIST_H
#define IEC101_POINTLIST_H

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVector>

#include "iec101engine_export.h"
#include "infoobject.h"

namespace iec101 {

// A station's signal list as a commissioning engineer brings it: for each object address
// its type, name, unit, scaling, state texts, the value it should have and a group. Read
// from CSV with a header row that names the columns (any order; only ioa and type are
// required); a row that is wrong is reported with its line and reason, the others load.
// Engineering value = raw value x scale + offset.
class IEC101ENGINE_EXPORT PointList
{
public:
    struct Point
    {
        int commonAddress = -1; // -1: whatever common address the station answers with
        int address = 0;
        int typeId = 0;
        QString name;
        QString unit;
        double scale = 1.0;
        double offset = 0.0;
        QMap<int, QString> states; // raw value -> text, e.g. 0 open, 1 closed
        bool hasExpected = false;
        double expectedLow = 0.0; // engineering values; low == high for a single value
        double expectedHigh = 0.0;
        QString group;
        int line = 0; // line of the CSV file it was read from
    };

    struct Problem
    {
        int line = 0; // 0: the file as a whole
        QString reason;
    };

    // Larger than any signal list; a file beyond it is not one.
    static constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

    PointList() = default;

    // Every row that is right; each wrong one (and a file that is no list at all) adds a
    // problem. The CSV is UTF-8 (a byte order mark is skipped), comma-separated, with
    // fields in double quotes where they hold commas, quotes or line breaks.
    static PointList fromCsv(const QByteArray& csv, QVector<Problem>* problems);
    // The file read and parsed; a file that cannot be read is one problem.
    static PointList fromFile(const QString& path, QVector<Problem>* problems);
    // The list written back as CSV with every column, in the form fromCsv() reads.
    QByteArray toCsv() const;

    bool isEmpty() const { return points.isEmpty(); }
    int size() const { return points.size(); }
    const QVector<Point>& all() const { return points; }
    // The point at this address: the one listed for the common address, else the one
    // listed for any; null when none is.
    const Point* find(int commonAddress, int address) const;

    // The object's value as a number (bools 0/1), false when it has none.
    static bool rawNumber(const InfoObject& object, double* value);
    static double engineeringValue(const Point& point, double raw);
    // The state text, or the engineering value with its unit ("231.4 kV").
    static QString engineeringText(const Point& point, const InfoObject& object);
    // What the tables show: engineeringText() followed by the quality flags in brackets
    // as ObjectText has them ("231.4 kV [IV]").
    static QString valueText(const Point& point, const InfoObject& object);
    // Whether the object's engineering value lies in the expected range; true without one.
    static bool inExpectedRange(const Point& point, const InfoObject& object);
    static QString expectedText(const Point& point);

    // Type names (M_ME_NB_1) and numbers (11) of the monitoring direction; 0 for others.
    static int typeFromText(const QString& text);
    // Types that carry the same value with or without a time tag (M_SP_NA_1, M_SP_TB_1):
    // a point listed as one and reported as the other has its listed type.
    static bool sameKindOfValue(int listedType, int reportedType);

private:
    static quint64 key(int commonAddress, int address)
    {
        return (quint64(quint32(commonAddress)) << 32) | quint32(address);
    }

    QVector<Point> points;
    QHash<quint64, int> index; // (common address, address) -> points
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::PointList)

#endif // IEC101_POINTLIST_H
