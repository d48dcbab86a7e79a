#ifndef IEC101_LINEMONITORMODEL_H
#define IEC101_LINEMONITORMODEL_H

#include <QAbstractTableModel>
#include <QString>
#include <QVector>

#include <deque>

#include "lineframe.h"

namespace iec101 {

// The frames of the line monitor's table, oldest first: time, direction, summary and
// octets. Keeps at most `capacity` frames, dropping the oldest. It can hide idle
// polling (a class 2 request and the slave's answer without data) without forgetting
// those frames, so showing them again brings them back in place.
class LineMonitorModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, SummaryColumn, OctetsColumn, ColumnCount };

    struct Row
    {
        LineFrame frame;
        QString summary;
        bool malformed = false;
        bool class2Request = false;
        bool noDataAnswer = false;
        bool idle = false; // set by the model once the pair is complete
    };

    explicit LineMonitorModel(int capacity, QObject* parent = nullptr);

    // Appends one batch in line order.
    void append(QVector<Row> batch);
    void clear();
    void setHideIdle(bool hide);
    bool hidesIdle() const { return hideIdle; }
    // The row showing the frame of this time (LineFrame::timeUs); -1 when none shown has it.
    int rowAtTime(qint64 timeUs) const;
    // Frames kept, shown or hidden.
    int frameCount() const { return int(rows.size()); }
    // Offset of local time from UTC used for the time column; the monitor sets it per
    // batch, so a row never pays for a time-zone look-up.
    void setUtcOffset(int seconds) { utcOffsetSeconds = seconds; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const Row& rowAt(int row) const;
    void evict(int count);
    void hideLastShown();

    int capacity;
    bool hideIdle = false;
    int utcOffsetSeconds = 0;
    std::deque<Row> rows;
    quint64 firstSequence = 0; // sequence number of rows.front()
    std::deque<quint64> shown; // sequence numbers of the frames that are not idle
};

} // namespace iec101

#endif // IEC101_LINEMONITORMODEL_H
