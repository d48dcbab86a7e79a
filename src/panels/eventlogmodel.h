#ifndef IEC101_EVENTLOGMODEL_H
#define IEC101_EVENTLOGMODEL_H

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

#include "infoobject.h"

class QIODevice;

namespace iec101 {

// The rows of the event log, newest first: time tag (to the millisecond), type, address,
// value, when it arrived at the PC and from which station and common address, for every
// object it is given, without a limit. Each is kept in 32 octets (the time tag and the
// arrival as instants, type, address, the value's bits, quality, extra, link and common
// address, whether it was spontaneous), 390 MB for a week at 20 events a second; a tree
// view showing them adds 40 octets a row of its own. The texts are made by ObjectText when the view asks for
// a cell, the same as they would have been on arrival.
class EventLogModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        TimeColumn,
        TypeColumn,
        AddressColumn,
        ValueColumn,
        ReceivedColumn,
        StationColumn,
        ColumnCount
    };

    explicit EventLogModel(QObject* parent = nullptr);

    // Adds objects in the order they arrived: the last one becomes the top row. One
    // batch is one insertion for the view.
    void append(const InfoObject& object);
    void append(const QVector<InfoObject>& objects);
    void clear();

    // The log as CSV, rows in the order shown: time in ISO 8601 with its offset from UTC
    // (empty without a time tag), type name and number, address, value, quality flags,
    // spontaneous, the time it was received (the same format), link address and common
    // address. False with errorString set when the device cannot take it.
    bool writeCsv(QIODevice* device, QString* errorString) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    enum ValueType : quint8 { NoValue, BoolValue, IntValue, UIntValue, FloatValue };
    enum RowFlag : quint8 { HasTime = 0x01, Spontaneous = 0x02 };

    // 4-octet alignment keeps it at 32 octets: the instants are split in two parts each.
    struct Row
    {
        quint32 timeLow = 0; // ObjectText::tagInstant() of the time tag, 48 bits
        qint16 timeHigh = 0;
        quint16 extra = 0;
        qint32 address = 0;
        quint32 value = 0;       // the bits of the bool, int, uint or float
        quint32 receivedLow = 0; // when it arrived, ms since the epoch, 48 bits
        qint16 receivedHigh = 0;
        quint16 linkAddress = 0;
        quint16 commonAddress = 0;
        quint8 typeId = 0;
        quint8 quality = 0;
        ValueType valueType = NoValue;
        quint8 flags = 0;
    };
    static_assert(sizeof(Row) == 32, "a row of the log takes 32 octets");

    // Rows are kept oldest first in blocks of 128 KiB: growing the log never moves a row,
    // and a million rows are 245 allocations.
    static constexpr int kBlockRows = 4096;

    static Row packed(const InfoObject& object);
    static qint64 instantOf(const Row& row);
    static qint64 receivedOf(const Row& row);
    static InfoObject objectOf(const Row& row);
    const Row& stored(int index) const { return blocks[size_t(index / kBlockRows)][index % kBlockRows]; }
    const Row& rowAt(int row) const { return stored(count - 1 - row); }
    void append(const InfoObject* objects, int objectCount);

    std::vector<std::unique_ptr<Row[]>> blocks;
    int count = 0;
};

} // namespace iec101

#endif // IEC101_EVENTLOGMODEL_H
