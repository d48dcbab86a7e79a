#include "eventlogmodel.h"

#include <QIODevice>

#include <cstring>

#include "csvwriter.h"
#include "objecttext.h"

namespace iec101 {

EventLogModel::EventLogModel(QObject* parent) : QAbstractTableModel(parent) {}

EventLogModel::Row EventLogModel::packed(const InfoObject& object)
{
    Row row;
    if (!object.timestamp.isNull()) {
        const qint64 instant = ObjectText::tagInstant(object.timestamp.toLongLong());
        row.timeLow = quint32(instant & 0xffffffff);
        row.timeHigh = qint16(instant >> 32);
        row.flags |= HasTime;
    }
    if (object.spontaneous)
        row.flags |= Spontaneous;
    row.receivedLow = quint32(object.receivedMs & 0xffffffff);
    row.receivedHigh = qint16(object.receivedMs >> 32);
    row.linkAddress = quint16(object.linkAddress);
    row.commonAddress = quint16(object.commonAddress);
    row.extra = object.extra;
    row.address = object.address;
    row.typeId = quint8(object.typeId); // a type identification is one octet
    row.quality = object.quality;
    // The decoder hands out bool, int, uint and float; anything else is kept as the
    // nearest of those.
    const QVariant& value = object.value;
    switch (value.userType()) {
    case QMetaType::UnknownType:
        break;
    case QMetaType::Bool:
        row.valueType = BoolValue;
        row.value = value.toBool();
        break;
    case QMetaType::Float:
    case QMetaType::Double: {
        row.valueType = FloatValue;
        const float number = value.toFloat();
        std::memcpy(&row.value, &number, sizeof number);
        break;
    }
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        row.valueType = UIntValue;
        row.value = value.toUInt();
        break;
    default:
        row.valueType = IntValue;
        row.value = quint32(value.toInt());
        break;
    }
    return row;
}

qint64 EventLogModel::instantOf(const Row& row)
{
    return qint64(row.timeHigh) * (qint64(1) << 32) + row.timeLow;
}

qint64 EventLogModel::receivedOf(const Row& row)
{
    return qint64(row.receivedHigh) * (qint64(1) << 32) + row.receivedLow;
}

// The object as far as its value and quality texts need it (no time tag: the row keeps
// the instant, which ObjectText renders directly).
InfoObject EventLogModel::objectOf(const Row& row)
{
    InfoObject object;
    object.typeId = row.typeId;
    object.address = row.address;
    object.quality = row.quality;
    object.extra = row.extra;
    object.spontaneous = row.flags & Spontaneous;
    switch (row.valueType) {
    case NoValue:
        break;
    case BoolValue:
        object.value = QVariant(row.value != 0);
        break;
    case IntValue:
        object.value = QVariant(int(row.value));
        break;
    case UIntValue:
        object.value = QVariant(uint(row.value));
        break;
    case FloatValue: {
        float number;
        std::memcpy(&number, &row.value, sizeof number);
        object.value = QVariant(number);
        break;
    }
    }
    return object;
}

void EventLogModel::append(const InfoObject& object)
{
    append(&object, 1);
}

void EventLogModel::append(const QVector<InfoObject>& objects)
{
    append(objects.constData(), objects.size());
}

void EventLogModel::append(const InfoObject* objects, int objectCount)
{
    if (objectCount <= 0)
        return;
    // New rows go on top; the view only learns that there are objectCount more rows.
    beginInsertRows(QModelIndex(), 0, objectCount - 1);
    for (int i = 0; i < objectCount; ++i, ++count) {
        if (count % kBlockRows == 0)
            blocks.emplace_back(new Row[kBlockRows]);
        blocks.back()[count % kBlockRows] = packed(objects[i]);
    }
    endInsertRows();
}

void EventLogModel::clear()
{
    beginResetModel();
    std::vector<std::unique_ptr<Row[]>>().swap(blocks);
    count = 0;
    endResetModel();
}

bool EventLogModel::writeCsv(QIODevice* device, QString* errorString) const
{
    CsvWriter writer(device);
    writer.writeHeader({QStringLiteral("Time"), QStringLiteral("Type"), QStringLiteral("Type ID"),
                        QStringLiteral("Address"), QStringLiteral("Value"), QStringLiteral("Quality"),
                        QStringLiteral("Spontaneous"), QStringLiteral("Received"),
                        QStringLiteral("Link address"), QStringLiteral("Common address")});
    for (int index = count - 1; index >= 0 && !writer.hasError(); --index) {
        const Row& row = stored(index);
        const InfoObject object = objectOf(row);
        QString time;
        if (row.flags & HasTime) {
            const qint64 instant = instantOf(row);
            time = CsvWriter::timeText(instant, ObjectText::utcOffsetAt(instant));
        }
        const qint64 arrival = receivedOf(row);
        const QString received =
            arrival != 0 ? CsvWriter::timeText(arrival, ObjectText::utcOffsetAt(arrival)) : QString();
        writer.writeRow({time, ObjectText::typeName(object.typeId), object.typeId, object.address,
                         ObjectText::plainValueText(object), ObjectText::qualityText(object),
                         object.spontaneous, received, int(row.linkAddress), int(row.commonAddress)});
    }
    if (writer.finish())
        return true;
    if (errorString)
        *errorString = writer.errorString();
    return false;
}

int EventLogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count;
}

int EventLogModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventLogModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= count)
        return QVariant();
    const Row& row = rowAt(index.row());
    switch (index.column()) {
    case TimeColumn:
        return (row.flags & HasTime) ? ObjectText::localTimeTextMs(instantOf(row)) : QString();
    case TypeColumn:
        return ObjectText::typeText(row.typeId);
    case AddressColumn:
        return QString::number(row.address);
    case ValueColumn:
        return ObjectText::valueText(objectOf(row));
    case ReceivedColumn: {
        const qint64 arrival = receivedOf(row);
        return arrival != 0 ? ObjectText::localTimeTextMs(arrival) : QString();
    }
    case StationColumn:
        return QStringLiteral("%1 / %2").arg(row.linkAddress).arg(row.commonAddress);
    default:
        return QVariant();
    }
}

QVariant EventLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case TypeColumn:
        return tr("Type");
    case AddressColumn:
        return tr("Address of change");
    case ValueColumn:
        return tr("Value");
    case ReceivedColumn:
        return tr("Received");
    case StationColumn:
        return tr("Station / CA");
    default:
        return QVariant();
    }
}

Qt::ItemFlags EventLogModel::flags(const QModelIndex& index) const
{
    // Never having children spares the tree a look-up per row when it lays the rows out.
    const Qt::ItemFlags base = QAbstractTableModel::flags(index);
    return index.isValid() ? base | Qt::ItemNeverHasChildren : base;
}

} // namespace iec101
