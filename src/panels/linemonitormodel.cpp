#include "linemonitormodel.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

#include "framesummary.h"

namespace iec101 {

namespace {

constexpr qint64 kDayUs = 86400LL * 1000000LL;

bool completesIdlePoll(const LineMonitorModel::Row& request, const LineMonitorModel::Row& answer)
{
    return request.frame.sent && request.class2Request && !request.idle && !answer.frame.sent &&
           answer.noDataAnswer;
}

} // namespace

LineMonitorModel::LineMonitorModel(int maxFrames, QObject* parent)
    : QAbstractTableModel(parent), capacity(std::max(1, maxFrames))
{}

const LineMonitorModel::Row& LineMonitorModel::rowAt(int row) const
{
    return hideIdle ? rows[size_t(shown[size_t(row)] - firstSequence)] : rows[size_t(row)];
}

int LineMonitorModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return int(hideIdle ? shown.size() : rows.size());
}

int LineMonitorModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

void LineMonitorModel::append(QVector<Row> batch)
{
    if (batch.isEmpty())
        return;
    if (batch.size() > capacity)
        batch.remove(0, batch.size() - capacity);
    const int overflow = int(rows.size()) + batch.size() - capacity;
    if (overflow > 0)
        evict(overflow);

    // A poll at the end of the previous batch may be answered at the start of this one.
    if (!rows.empty() && completesIdlePoll(rows.back(), batch.first())) {
        rows.back().idle = true;
        batch.first().idle = true;
        if (hideIdle)
            hideLastShown();
    }
    for (int i = 1; i < batch.size(); ++i) {
        if (completesIdlePoll(batch.at(i - 1), batch.at(i))) {
            batch[i - 1].idle = true;
            batch[i].idle = true;
        }
    }

    const int visible =
        hideIdle ? int(std::count_if(batch.cbegin(), batch.cend(), [](const Row& r) { return !r.idle; }))
                 : batch.size();
    const int first = rowCount();
    if (visible > 0)
        beginInsertRows(QModelIndex(), first, first + visible - 1);
    quint64 sequence = firstSequence + rows.size();
    for (Row& row : batch) {
        if (!row.idle)
            shown.push_back(sequence);
        rows.push_back(std::move(row));
        ++sequence;
    }
    if (visible > 0)
        endInsertRows();
}

int LineMonitorModel::rowAtTime(qint64 timeUs) const
{
    // Rows are in line order, which is time order.
    int lo = 0;
    int hi = rowCount();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (rowAt(mid).frame.timeUs < timeUs)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < rowCount() && rowAt(lo).frame.timeUs == timeUs ? lo : -1;
}

void LineMonitorModel::evict(int count)
{
    count = std::min(count, int(rows.size()));
    if (count <= 0)
        return;
    const quint64 end = firstSequence + quint64(count);
    const int shownGone = int(
        std::find_if(shown.cbegin(), shown.cend(), [end](quint64 s) { return s >= end; }) - shown.cbegin());
    const int gone = hideIdle ? shownGone : count;
    if (gone > 0)
        beginRemoveRows(QModelIndex(), 0, gone - 1);
    rows.erase(rows.begin(), rows.begin() + count);
    shown.erase(shown.begin(), shown.begin() + shownGone);
    firstSequence = end;
    if (gone > 0)
        endRemoveRows();
}

void LineMonitorModel::hideLastShown()
{
    const quint64 last = firstSequence + rows.size() - 1;
    if (shown.empty() || shown.back() != last)
        return;
    const int row = int(shown.size()) - 1;
    beginRemoveRows(QModelIndex(), row, row);
    shown.pop_back();
    endRemoveRows();
}

void LineMonitorModel::clear()
{
    beginResetModel();
    firstSequence += rows.size();
    rows.clear();
    shown.clear();
    endResetModel();
}

void LineMonitorModel::setHideIdle(bool hide)
{
    if (hide == hideIdle)
        return;
    beginResetModel();
    hideIdle = hide;
    // Pairs completed while shown were not removed from the shown list; rebuild it.
    shown.clear();
    quint64 sequence = firstSequence;
    for (const Row& row : rows) {
        if (!row.idle)
            shown.push_back(sequence);
        ++sequence;
    }
    endResetModel();
}

QVariant LineMonitorModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const Row& row = rowAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn: {
            const qint64 local = row.frame.timeUs + qint64(utcOffsetSeconds) * 1000000;
            const qint64 ofDay = ((local % kDayUs) + kDayUs) % kDayUs;
            const qint64 seconds = ofDay / 1000000;
            return QString::asprintf("%02d:%02d:%02d.%06d", int(seconds / 3600), int(seconds / 60 % 60),
                                     int(seconds % 60), int(ofDay % 1000000));
        }
        case DirectionColumn:
            return row.frame.sent ? QStringLiteral("sent") : QStringLiteral("received");
        case SummaryColumn:
            return row.summary;
        case OctetsColumn:
            return FrameSummary::hexText(row.frame.octets);
        default:
            return QVariant();
        }
    case Qt::ToolTipRole:
        return index.column() == SummaryColumn ? QVariant(row.summary) : QVariant();
    case Qt::ForegroundRole:
        if (row.malformed)
            return QBrush(QColor(180, 0, 0));
        if (row.idle)
            return QBrush(QColor(128, 128, 128));
        return QVariant();
    case Qt::BackgroundRole:
        return row.frame.sent ? QVariant() : QVariant(QBrush(QColor(236, 244, 255)));
    default:
        return QVariant();
    }
}

QVariant LineMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case DirectionColumn:
        return QStringLiteral("Direction");
    case SummaryColumn:
        return QStringLiteral("Summary");
    case OctetsColumn:
        return QStringLiteral("Octets");
    default:
        return QVariant();
    }
}

} // namespace iec101
