#include "eventview.h"

#include "objecttext.h"
#include "reverseproxymodel.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

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

// Row 0 of the tree is the newest object: it is the last row of the model.
void EventView::addEvent(const InfoObject& object)
{
    const QList<QStandardItem*> row{
        new QStandardItem(ObjectText::timeText(object.timestamp)),
        new QStandardItem(ObjectText::typeText(object.typeId)),
        new QStandardItem(QStringLiteral("%1").arg(object.address)),
        new QStandardItem(ObjectText::valueText(object)),
    };
    eventModel->appendRow(row);
}

void EventView::clearEvents()
{
    eventModel->removeRows(0, eventModel->rowCount());
}
