#include "eventview.h"

#include "reverseproxymodel.h"

#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include <cs101_information_objects.h>

EventView::EventView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("eventView"));
    makeEventBox();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(eventBox);
}

EventView::~EventView()
{
    // The model has no parent; detach it from the tree first so the view never sees it half destroyed.
    eventTree->setModel(nullptr);
    delete eventModel;
}

void EventView::makeEventBox()
{
    eventBox = new QGroupBox(tr("Event log"));
    eventBox->setObjectName(QStringLiteral("eventBox"));

    eventModel = new QStandardItemModel;
    eventModel->setObjectName(QStringLiteral("eventModel"));
    eventModel->setHorizontalHeaderLabels({tr("Time"), tr("Type"), tr("Address of change"), tr("Value")});

    eventTree = new QTreeView;
    eventTree->setObjectName(QStringLiteral("eventTree"));
    // The model keeps rows oldest first (appending is cheap at any size); the tree
    // shows them newest first through a reversing proxy.
    auto* newestFirst = new ReverseProxyModel(this);
    newestFirst->setObjectName(QStringLiteral("newestFirst"));
    newestFirst->setSourceModel(eventModel);
    eventTree->setModel(newestFirst);
    eventTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventTree->header()->setSectionResizeMode(QHeaderView::Stretch);
    eventTree->setRootIsDecorated(false);
    // Every row is one line of text: lets the view skip asking each row for its height.
    eventTree->setUniformRowHeights(true);

    auto* layout = new QVBoxLayout(eventBox);
    layout->addWidget(eventTree);
}

QString EventView::timeText(const QVariant& timestamp)
{
    if (timestamp.isNull())
        return QString();
    // The stamp holds the slave's calendar fields read as UTC. Shown is the local
    // time of (stamp - current UTC offset), which gives back those fields unchanged.
    // Computed on UTC date-times with just two zone look-ups: each local-time
    // conversion makes the C library check the zone file again.
    const qint64 nowOffset = QDateTime::currentDateTime().offsetFromUtc();
    const qint64 shifted = timestamp.toLongLong() - nowOffset * 1000;
    const int offsetThen = QDateTime::fromMSecsSinceEpoch(shifted).offsetFromUtc();
    const QDateTime fields = QDateTime::fromMSecsSinceEpoch(shifted, Qt::UTC).addSecs(offsetThen);
    // Qt's text date format of a local date-time: "Fri Dec 6 06:30:39 2024", no zone.
    QString text = fields.date().toString(Qt::TextDate);
    text.insert(text.lastIndexOf(QLatin1Char(' ')), QLatin1Char(' ') + fields.time().toString(Qt::TextDate));
    return text;
}

QString EventView::valueText(const InfoObject& object)
{
    // Short floats (with or without time tag) as doubles; points and counters as ints.
    const double value = (object.typeId == M_ME_NC_1 || object.typeId == M_ME_TF_1)
                             ? object.value.toDouble()
                             : static_cast<double>(object.value.toInt());
    return QStringLiteral("%1").arg(value, 0, 'g', -1);
}

// Row 0 of the tree is the newest object: it is the last row of the model.
void EventView::addEvent(const InfoObject& object)
{
    const char* typeName = TypeID_toString(static_cast<TypeID>(object.typeId));
    const QList<QStandardItem*> row{
        new QStandardItem(timeText(object.timestamp)),
        new QStandardItem(QStringLiteral("%1 (%2)").arg(QLatin1String(typeName ? typeName : ""),
                                                        QString::number(object.typeId))),
        new QStandardItem(QStringLiteral("%1").arg(object.address)),
        new QStandardItem(valueText(object)),
    };
    eventModel->appendRow(row);
}

void EventView::clearEvents()
{
    eventModel->removeRows(0, eventModel->rowCount());
}
