#include "eventview.h"

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
    eventTree->setModel(eventModel);
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
    // The stamp holds the slave's calendar fields read as UTC; shifting the local
    // time back by the current UTC offset shows those fields unchanged.
    const qint64 ms = timestamp.toLongLong();
    const QDateTime stamp = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    return stamp.addSecs(-offset).toString(Qt::TextDate);
}

QString EventView::valueText(const InfoObject& object)
{
    // Short floats (with or without time tag) as doubles; points and counters as ints.
    const double value = (object.typeId == M_ME_NC_1 || object.typeId == M_ME_TF_1)
                             ? object.value.toDouble()
                             : static_cast<double>(object.value.toInt());
    return QStringLiteral("%1").arg(value, 0, 'g', -1);
}

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
    eventModel->insertRow(0, row);
}

void EventView::clearEvents()
{
    eventModel->removeRows(0, eventModel->rowCount());
}
