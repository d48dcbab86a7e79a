#ifndef IEC101_FINDINGSMODEL_H
#define IEC101_FINDINGSMODEL_H

#include <QAbstractTableModel>
#include <QHash>
#include <QPointer>
#include <QVector>

#include <optional>

#include "finding.h"

namespace iec101 {

class FindingsTracker;

// The findings of a tracker as table rows in the order they were found, narrowed to one
// kind and one station when asked: time, kind, station, common address, object address,
// name, detail, count. Rows are added and updated as the tracker finds, gathered into one
// insertion per turn of the event loop (the end of an interrogation may find thousands of
// points missing at once); nothing is copied.
class FindingsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        TimeColumn,
        KindColumn,
        StationColumn,
        CommonAddressColumn,
        ObjectAddressColumn,
        NameColumn,
        DetailColumn,
        CountColumn,
        ColumnCount
    };

    explicit FindingsModel(FindingsTracker* tracker, QObject* parent = nullptr);

    // No value: every kind, every station.
    void setKindFilter(std::optional<Finding::Kind> kind);
    void setStationFilter(std::optional<int> linkAddress);
    // The tracker started over (a new session): the rows follow.
    void reload();

    const Finding* findingAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    bool accepts(const Finding& finding) const;
    void added(int index);
    void updated(int index);
    void insertPending();
    void changePending();

    QPointer<FindingsTracker> tracker;
    std::optional<Finding::Kind> kindFilter;
    std::optional<int> stationFilter;
    QVector<int> rows;            // indices into the tracker's findings
    QHash<int, int> rowOfFinding; // and back
    QVector<int> pending;         // found, not yet rows
    bool insertScheduled = false;
    int firstChanged = -1; // rows whose count or words changed since the last turn
    int lastChanged = -1;
};

} // namespace iec101

#endif // IEC101_FINDINGSMODEL_H
