#ifndef IEC101_REVERSEPROXYMODEL_H
#define IEC101_REVERSEPROXYMODEL_H

#include <QAbstractProxyModel>

// (The event log's reversing proxy before its own model, kept for bench_eventlog's reference.)
// Shows the rows of a flat (table-like) source model in reverse order, so a log
// can append at the end of its model and still show the newest row on top.
// Appending keeps the source model's own bookkeeping cheap: inserting at row 0 of
// a QStandardItemModel moves every row and makes clearing and destroying it
// quadratic in the number of rows.
class ReverseProxyModel : public QAbstractProxyModel
{
    Q_OBJECT
public:
    explicit ReverseProxyModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* model) override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Columns pass through unchanged; the base class would lose the headers of an empty model.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void sourceRowsAboutToBeInserted(const QModelIndex& parent, int first, int last);
    void sourceRowsAboutToBeRemoved(const QModelIndex& parent, int first, int last);
    void sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QVector<int>& roles);

    QList<QMetaObject::Connection> sourceConnections;
};

#endif // IEC101_REVERSEPROXYMODEL_H
