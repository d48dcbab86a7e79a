#include "findingsmodel.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

#include "findingstracker.h"

namespace iec101 {

FindingsModel::FindingsModel(FindingsTracker* findings, QObject* parent)
    : QAbstractTableModel(parent), tracker(findings)
{
    connect(tracker, &FindingsTracker::findingAdded, this, &FindingsModel::added);
    connect(tracker, &FindingsTracker::findingUpdated, this, &FindingsModel::updated);
    reload();
}

void FindingsModel::setKindFilter(std::optional<Finding::Kind> kind)
{
    kindFilter = kind;
    reload();
}

void FindingsModel::setStationFilter(std::optional<int> linkAddress)
{
    stationFilter = linkAddress;
    reload();
}

bool FindingsModel::accepts(const Finding& finding) const
{
    return (!kindFilter || finding.kind == *kindFilter) &&
           (!stationFilter || finding.linkAddress == *stationFilter);
}

void FindingsModel::reload()
{
    beginResetModel();
    rows.clear();
    rowOfFinding.clear();
    pending.clear();
    firstChanged = lastChanged = -1;
    if (tracker) {
        const QVector<Finding>& findings = tracker->findings();
        for (int i = 0; i < findings.size(); ++i) {
            if (accepts(findings.at(i))) {
                rowOfFinding.insert(i, rows.size());
                rows.append(i);
            }
        }
    }
    endResetModel();
}

void FindingsModel::added(int index)
{
    pending.append(index);
    if (insertScheduled)
        return;
    insertScheduled = true;
    QMetaObject::invokeMethod(this, &FindingsModel::insertPending, Qt::QueuedConnection);
}

void FindingsModel::insertPending()
{
    insertScheduled = false;
    QVector<int> accepted;
    for (int index : qAsConst(pending)) {
        if (tracker && index < tracker->findings().size() && !rowOfFinding.contains(index) &&
            accepts(tracker->findings().at(index)))
            accepted.append(index);
    }
    pending.clear();
    if (accepted.isEmpty())
        return;
    beginInsertRows(QModelIndex(), rows.size(), rows.size() + accepted.size() - 1);
    for (int index : qAsConst(accepted)) {
        rowOfFinding.insert(index, rows.size());
        rows.append(index);
    }
    endInsertRows();
}

void FindingsModel::updated(int index)
{
    const auto row = rowOfFinding.constFind(index);
    if (row == rowOfFinding.cend())
        return;
    // One change for the rows of one turn: an interrogation counts thousands up at once.
    const bool scheduled = firstChanged >= 0;
    firstChanged = scheduled ? qMin(firstChanged, *row) : *row;
    lastChanged = scheduled ? qMax(lastChanged, *row) : *row;
    if (!scheduled)
        QMetaObject::invokeMethod(this, &FindingsModel::changePending, Qt::QueuedConnection);
}

void FindingsModel::changePending()
{
    if (firstChanged < 0)
        return;
    const int first = firstChanged;
    const int last = qMin(lastChanged, rows.size() - 1);
    firstChanged = lastChanged = -1;
    if (first <= last)
        Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

const Finding* FindingsModel::findingAt(int row) const
{
    if (!tracker || row < 0 || row >= rows.size())
        return nullptr;
    return &tracker->findings().at(rows.at(row));
}

int FindingsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int FindingsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FindingsModel::data(const QModelIndex& index, int role) const
{
    const Finding* finding = index.isValid() ? findingAt(index.row()) : nullptr;
    if (!finding)
        return QVariant();
    const auto address = [](int value) {
        return value < 0 ? QString() : QString::number(value);
    };
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case TimeColumn:
            return QDateTime::fromMSecsSinceEpoch(finding->timeMs).toString(QStringLiteral("HH:mm:ss.zzz"));
        case KindColumn:
            return Finding::kindTitle(finding->kind);
        case StationColumn:
            return address(finding->linkAddress);
        case CommonAddressColumn:
            return address(finding->commonAddress);
        case ObjectAddressColumn:
            return address(finding->objectAddress);
        case NameColumn:
            return finding->name;
        case DetailColumn:
            return finding->detail;
        case CountColumn:
            return finding->count;
        default:
            return QVariant();
        }
    }
    if (role == Qt::ToolTipRole) {
        QString tip = finding->detail;
        if (finding->count > 1)
            tip += QStringLiteral("\nFound %1 times, last at %2")
                       .arg(finding->count)
                       .arg(QDateTime::fromMSecsSinceEpoch(finding->lastTimeMs)
                                .toString(QStringLiteral("HH:mm:ss.zzz")));
        if (finding->frameTimeUs >= 0)
            tip += QStringLiteral("\nDouble-click to show its frame in the line monitor");
        return tip;
    }
    if (role == Qt::ForegroundRole && index.column() == KindColumn) {
        switch (finding->kind) {
        case Finding::Kind::Repeat:
        case Finding::Kind::Busy:
        case Finding::Kind::LinkReset:
        case Finding::Kind::Quality:
            return QBrush(QColor(0x80, 0x50, 0x00));
        default:
            return QBrush(QColor(0xb4, 0x00, 0x00));
        }
    }
    return QVariant();
}

QVariant FindingsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case KindColumn:
        return tr("Kind");
    case StationColumn:
        return tr("Link");
    case CommonAddressColumn:
        return tr("CA");
    case ObjectAddressColumn:
        return tr("IOA");
    case NameColumn:
        return tr("Name");
    case DetailColumn:
        return tr("Detail");
    case CountColumn:
        return tr("Count");
    default:
        return QVariant();
    }
}

} // namespace iec101
