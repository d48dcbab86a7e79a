#include "eventview.h"

#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QTreeView>
#include <QVBoxLayout>

#include "csvexport.h"
#include "eventlogmodel.h"

namespace iec101 {

EventView::EventView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("eventView"));
    makeEventBox();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(eventBox);
}

void EventView::makeEventBox()
{
    eventBox = new QGroupBox(tr("Event log"));
    eventBox->setObjectName(QStringLiteral("eventBox"));

    eventTree = new QTreeView;
    eventTree->setObjectName(QStringLiteral("eventTree"));
    eventModel = new EventLogModel(eventTree);
    eventModel->setObjectName(QStringLiteral("eventModel"));
    eventTree->setModel(eventModel);
    eventTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    eventTree->header()->setSectionResizeMode(QHeaderView::Stretch);
    eventTree->setRootIsDecorated(false);
    // Every row is one line of text: lets the view skip asking each row for its height.
    eventTree->setUniformRowHeights(true);
    eventTree->setColumnHidden(EventLogModel::StationColumn, true);

    exportLogAction = new QAction(tr("Export CSV..."), eventTree);
    exportLogAction->setObjectName(QStringLiteral("exportLogAction"));
    eventTree->addAction(exportLogAction);
    eventTree->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(exportLogAction, &QAction::triggered, this, [this] {
        CsvExport::toChosenFile(
            this, QStringLiteral("event-log.csv"),
            [this](QIODevice* device, QString* error) { return exportCsv(device, error); });
    });

    auto* layout = new QVBoxLayout(eventBox);
    layout->addWidget(eventTree);
}

void EventView::addEvent(const InfoObject& object)
{
    eventModel->append(object);
}

void EventView::addEvents(const QVector<InfoObject>& objects)
{
    eventModel->append(objects);
}

void EventView::clearEvents()
{
    eventModel->clear();
}

void EventView::setStationColumnShown(bool shown)
{
    eventTree->setColumnHidden(EventLogModel::StationColumn, !shown);
}

bool EventView::exportCsv(QIODevice* device, QString* errorString) const
{
    return eventModel->writeCsv(device, errorString);
}

} // namespace iec101
