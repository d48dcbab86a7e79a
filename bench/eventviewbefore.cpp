#include "eventviewbefore.h"

#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include "objecttext.h"
#include "reverseproxymodel.h"

using namespace iec101;

namespace {

// The time text as it was made: the offset now and the offset then, each a local-time
// conversion that has the C library check the zone file again.
QString timeTextBefore(const QVariant& timestamp)
{
    if (timestamp.isNull())
        return QString();
    const qint64 nowOffset = QDateTime::currentDateTime().offsetFromUtc();
    const qint64 shifted = timestamp.toLongLong() - nowOffset * 1000;
    const int offsetThen = QDateTime::fromMSecsSinceEpoch(shifted).offsetFromUtc();
    const QDateTime fields = QDateTime::fromMSecsSinceEpoch(shifted, Qt::UTC).addSecs(offsetThen);
    QString text = fields.date().toString(Qt::TextDate);
    text.insert(text.lastIndexOf(QLatin1Char(' ')), QLatin1Char(' ') + fields.time().toString(Qt::TextDate));
    return text;
}

} // namespace

EventViewBefore::EventViewBefore(QWidget* parent) : QWidget(parent)
{
    auto* eventBox = new QGroupBox(QStringLiteral("Event log"));
    eventModel = new QStandardItemModel;
    eventModel->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Type"),
                                           QStringLiteral("Address of change"), QStringLiteral("Value")});
    eventTree = new QTreeView;
    auto* newestFirst = new ReverseProxyModel(this);
    newestFirst->setSourceModel(eventModel);
    eventTree->setModel(newestFirst);
    eventTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventTree->header()->setSectionResizeMode(QHeaderView::Stretch);
    eventTree->setRootIsDecorated(false);
    eventTree->setUniformRowHeights(true);
    auto* boxLayout = new QVBoxLayout(eventBox);
    boxLayout->addWidget(eventTree);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(eventBox);
}

EventViewBefore::~EventViewBefore()
{
    eventTree->setModel(nullptr);
    delete eventModel;
}

void EventViewBefore::addEvent(const InfoObject& object)
{
    const QList<QStandardItem*> row{
        new QStandardItem(timeTextBefore(object.timestamp)),
        new QStandardItem(ObjectText::typeText(object.typeId)),
        new QStandardItem(QStringLiteral("%1").arg(object.address)),
        new QStandardItem(ObjectText::valueText(object)),
    };
    eventModel->appendRow(row);
}

void EventViewBefore::clearEvents()
{
    eventModel->removeRows(0, eventModel->rowCount());
}
