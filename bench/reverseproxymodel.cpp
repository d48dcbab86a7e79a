#include "reverseproxymodel.h"

ReverseProxyModel::ReverseProxyModel(QObject* parent) : QAbstractProxyModel(parent) {}

void ReverseProxyModel::setSourceModel(QAbstractItemModel* model)
{
    beginResetModel();
    for (const QMetaObject::Connection& connection : qAsConst(sourceConnections))
        disconnect(connection);
    sourceConnections.clear();
    QAbstractProxyModel::setSourceModel(model);
    if (model) {
        using M = QAbstractItemModel;
        auto& c = sourceConnections;
        c << connect(model, &M::rowsAboutToBeInserted, this, &ReverseProxyModel::sourceRowsAboutToBeInserted);
        c << connect(model, &M::rowsInserted, this, &ReverseProxyModel::endInsertRows);
        c << connect(model, &M::rowsAboutToBeRemoved, this, &ReverseProxyModel::sourceRowsAboutToBeRemoved);
        c << connect(model, &M::rowsRemoved, this, &ReverseProxyModel::endRemoveRows);
        c << connect(model, &M::dataChanged, this, &ReverseProxyModel::sourceDataChanged);
        c << connect(model, &M::headerDataChanged, this, &ReverseProxyModel::headerDataChanged);
        // Anything that reshapes the source wholesale is passed on as a reset.
        const auto begin = &ReverseProxyModel::beginResetModel;
        const auto end = &ReverseProxyModel::endResetModel;
        c << connect(model, &M::modelAboutToBeReset, this, begin)
          << connect(model, &M::modelReset, this, end);
        c << connect(model, &M::layoutAboutToBeChanged, this, begin)
          << connect(model, &M::layoutChanged, this, end);
        c << connect(model, &M::rowsAboutToBeMoved, this, begin) << connect(model, &M::rowsMoved, this, end);
        c << connect(model, &M::columnsAboutToBeInserted, this, begin)
          << connect(model, &M::columnsInserted, this, end);
        c << connect(model, &M::columnsAboutToBeRemoved, this, begin)
          << connect(model, &M::columnsRemoved, this, end);
        c << connect(model, &M::columnsAboutToBeMoved, this, begin)
          << connect(model, &M::columnsMoved, this, end);
    }
    endResetModel();
}

QModelIndex ReverseProxyModel::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!sourceModel() || !proxyIndex.isValid())
        return QModelIndex();
    return sourceModel()->index(sourceModel()->rowCount() - 1 - proxyIndex.row(), proxyIndex.column());
}

QModelIndex ReverseProxyModel::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceModel() || !sourceIndex.isValid() || sourceIndex.parent().isValid())
        return QModelIndex();
    return index(sourceModel()->rowCount() - 1 - sourceIndex.row(), sourceIndex.column());
}

QModelIndex ReverseProxyModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex ReverseProxyModel::parent(const QModelIndex&) const
{
    return QModelIndex();
}

int ReverseProxyModel::rowCount(const QModelIndex& parent) const
{
    return sourceModel() && !parent.isValid() ? sourceModel()->rowCount() : 0;
}

int ReverseProxyModel::columnCount(const QModelIndex& parent) const
{
    return sourceModel() && !parent.isValid() ? sourceModel()->columnCount() : 0;
}

QVariant ReverseProxyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!sourceModel())
        return QVariant();
    if (orientation == Qt::Vertical)
        section = sourceModel()->rowCount() - 1 - section;
    return sourceModel()->headerData(section, orientation, role);
}

void ReverseProxyModel::sourceRowsAboutToBeInserted(const QModelIndex&, int first, int last)
{
    // Source rows first..last of a source with n rows land at proxy rows n-first .. n-first+(last-first).
    const int n = sourceModel()->rowCount();
    beginInsertRows(QModelIndex(), n - first, n - first + (last - first));
}

void ReverseProxyModel::sourceRowsAboutToBeRemoved(const QModelIndex&, int first, int last)
{
    const int n = sourceModel()->rowCount();
    beginRemoveRows(QModelIndex(), n - 1 - last, n - 1 - first);
}

void ReverseProxyModel::sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                          const QVector<int>& roles)
{
    const QModelIndex a = mapFromSource(topLeft);
    const QModelIndex b = mapFromSource(bottomRight);
    if (!a.isValid() || !b.isValid())
        return;
    Q_EMIT dataChanged(index(qMin(a.row(), b.row()), qMin(a.column(), b.column())),
                       index(qMax(a.row(), b.row()), qMax(a.column(), b.column())), roles);
}
