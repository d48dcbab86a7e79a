#include "responseview.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "eventview.h"

namespace {

constexpr int HighlightMs = 3000;
// Tags each highlighted item with the serial of its highlight, so a timer never
// mistakes a later item that happens to reuse the freed address for its own.
constexpr int HighlightSerialRole = Qt::UserRole + 1;

QBrush valueBrush()
{
    return QBrush(QColor(QStringLiteral("#505050")));
}

} // namespace

ResponseView::ResponseView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("responseView"));
    makeResponseBox();
    fillTypeMaps();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(responseBox);
}

void ResponseView::makeResponseBox()
{
    responseBox = new QGroupBox(tr("Read / Interrogation response"));
    responseBox->setObjectName(QStringLiteral("responseBox"));
    auto* countLabel = new QLabel(tr("Packet count: "));
    packetCountEdit = new QLineEdit(QStringLiteral("0"));
    packetCountEdit->setObjectName(QStringLiteral("packetCountEdit"));
    packetCountEdit->setReadOnly(true);
    readyCheckBox = new QCheckBox(tr("Ready"));
    readyCheckBox->setObjectName(QStringLiteral("readyCheckBox"));
    readyCheckBox->setAttribute(Qt::WA_TransparentForMouseEvents);
    scrollCheckBox = new QCheckBox(tr("Scroll to updated value"));
    scrollCheckBox->setObjectName(QStringLiteral("scrollCheckBox"));
    scrollCheckBox->setChecked(true);

    makeTable(singleModel, singleView, responseBox, tr("Single"));
    makeTable(doubleModel, doubleView, responseBox, tr("Double"));
    makeTable(measuredModel, measuredView, responseBox, tr("Measured"));
    makeTable(totalModel, totalView, responseBox, tr("Intergrated total"));
    singleView->setObjectName(QStringLiteral("singleView"));
    doubleView->setObjectName(QStringLiteral("doubleView"));
    measuredView->setObjectName(QStringLiteral("measuredView"));
    totalView->setObjectName(QStringLiteral("totalView"));

    auto* grid = new QGridLayout(responseBox);
    auto* header = new QGridLayout;
    header->addWidget(countLabel, 0, 0);
    header->addWidget(packetCountEdit, 0, 1);
    header->addWidget(scrollCheckBox, 0, 2);
    header->addWidget(readyCheckBox, 0, 3);
    grid->addLayout(header, 0, 0, 1, 4);
    grid->addWidget(singleView, 1, 0);
    grid->addWidget(doubleView, 1, 1);
    grid->addWidget(measuredView, 1, 2);
    grid->addWidget(totalView, 1, 3);
}

void ResponseView::makeTable(QStandardItemModel*& model, QTableView*& view, QWidget* parent,
                             const QString& title)
{
    // The model's object name is its title: clearTable() takes the value column's header from it.
    model = new QStandardItemModel(parent);
    model->setObjectName(title);
    view = new QTableView;
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setModel(model);
    clearTable(model);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

void ResponseView::fillTypeMaps()
{
    typeModels.insert(1, singleModel);    // M_SP_NA_1
    typeModels.insert(30, singleModel);   // M_SP_TB_1
    typeModels.insert(3, doubleModel);    // M_DP_NA_1
    typeModels.insert(31, doubleModel);   // M_DP_TB_1
    typeModels.insert(13, measuredModel); // M_ME_NC_1
    typeModels.insert(36, measuredModel); // M_ME_TF_1
    typeModels.insert(15, totalModel);    // M_IT_NA_1
    typeModels.insert(37, totalModel);    // M_IT_TB_1
    modelViews.insert(singleModel, singleView);
    modelViews.insert(doubleModel, doubleView);
    modelViews.insert(measuredModel, measuredView);
    modelViews.insert(totalModel, totalView);
}

void ResponseView::clearResponses()
{
    clearTable(singleModel);
    clearTable(doubleModel);
    clearTable(measuredModel);
    clearTable(totalModel);
    packetCountEdit->setText(QStringLiteral("0"));
    readyCheckBox->setChecked(false);
}

void ResponseView::clearReady()
{
    readyCheckBox->setChecked(false);
}

void ResponseView::responseFinished(bool initialDataReady)
{
    if (readyCheckBox->isChecked())
        return;
    if (initialDataReady)
        readyCheckBox->setChecked(true);
    packetCountEdit->setText(QStringLiteral("%1").arg(packetCountEdit->text().toInt(nullptr, 10) + 1));
}

void ResponseView::clearTable(QStandardItemModel* model)
{
    model->clear();
    model->setHorizontalHeaderLabels({QStringLiteral("Address"), model->objectName()});
}

int ResponseView::findRow(const InfoObject& object, QStandardItemModel* model) const
{
    // Binary search: rows of one kind arrive in ascending address order.
    int lo = 0;
    int hi = model->rowCount() - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) >> 1;
        const QStandardItem* cell = model->item(mid, 0);
        const int key = cell ? cell->text().toInt(nullptr, 10) : 0;
        if (object.address > key)
            lo = mid + 1;
        else if (object.address == key)
            return mid;
        else
            hi = mid - 1;
    }
    return -1;
}

void ResponseView::startHighlight(QStandardItemModel* model, int row, QStandardItem* item)
{
    const quint64 serial = ++highlightSerial;
    item->setData(serial, HighlightSerialRole);
    // The model is the timer's context: a timer still pending when the panel goes
    // away dies with the model instead of touching it.
    QTimer::singleShot(HighlightMs, Qt::CoarseTimer, model, [model, row, item, serial]() {
        QStandardItem* current = model->item(row, 1);
        if (current == item && current->data(HighlightSerialRole).toULongLong() == serial)
            current->setBackground(valueBrush());
    });
    if (!updatedIndex.isValid())
        updatedIndex = model->index(row, 1);
}

void ResponseView::updateRow(QStandardItemModel* model, const InfoObject& object, int row)
{
    auto* item = new QStandardItem(EventView::valueText(object));
    item->setBackground(QBrush(Qt::darkCyan));
    model->setItem(row, 1, item);
    startHighlight(model, row, item);
}

void ResponseView::addRow(QStandardItemModel* model, const InfoObject& object, bool highlight)
{
    auto* addressItem = new QStandardItem(QStringLiteral("%1").arg(object.address));
    addressItem->setBackground(QBrush(Qt::darkGray));
    auto* valueItem = new QStandardItem(EventView::valueText(object));
    valueItem->setBackground(highlight ? QBrush(Qt::darkCyan) : valueBrush());
    model->appendRow(QList<QStandardItem*>{addressItem, valueItem});
    if (highlight)
        startHighlight(model, model->rowCount() - 1, valueItem);
}

void ResponseView::scrollToUpdated(QTableView* view)
{
    if (!scrollCheckBox->isChecked() || !updatedIndex.isValid())
        return;
    view->scrollTo(updatedIndex, QAbstractItemView::PositionAtTop);
    updatedIndex = QPersistentModelIndex();
}

void ResponseView::updateObject(const InfoObject& object, int readAddress)
{
    QStandardItemModel* model = typeModels.value(object.typeId, nullptr);
    if (!model)
        return;
    const int row = findRow(object, model);
    if (row >= 0) {
        updateRow(model, object, row);
    } else if (object.address == readAddress) {
        // A read of an address the table does not list replaces the table with that one row.
        clearTable(model);
        addRow(model, object, false);
    }
    scrollToUpdated(modelViews.value(model));
}

void ResponseView::updateObjects(const QVector<InfoObject>& objects)
{
    // Runs of consecutive objects of one type each replace their table. A run is
    // highlighted when the table already listed its first address (a repeated interrogation).
    QStandardItemModel* runModel = nullptr;
    bool known = false;
    for (int i = 0; i < objects.size(); ++i) {
        const InfoObject& object = objects.at(i);
        if (i == 0 || object.typeId != objects.at(i - 1).typeId) {
            if (runModel)
                scrollToUpdated(modelViews.value(runModel));
            runModel = typeModels.value(object.typeId, nullptr);
            if (!runModel)
                continue;
            known = findRow(object, runModel) >= 0;
            clearTable(runModel);
        }
        if (runModel)
            addRow(runModel, object, known);
    }
    if (runModel)
        scrollToUpdated(modelViews.value(runModel));
}
