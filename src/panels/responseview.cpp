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
#include <QSignalBlocker>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "objecttext.h"

#include <memory>

namespace {

constexpr int kHighlightMs = 3000;

const QBrush& valueBrush()
{
    static const QBrush brush(QColor(0x50, 0x50, 0x50)); // "#505050"
    return brush;
}

const QBrush& highlightBrush()
{
    static const QBrush brush(Qt::darkCyan);
    return brush;
}

const QBrush& addressBrush()
{
    static const QBrush brush(Qt::darkGray);
    return brush;
}

// A value cell. Its serial names the highlight it was created with (0: none), so a
// highlight timer recognises its own cell and never a later one, even one that
// reuses the freed address of an earlier item.
class ValueItem : public QStandardItem
{
public:
    ValueItem(const QString& text, const QBrush& background, quint64 serial)
        : QStandardItem(text), serial(serial)
    {
        setBackground(background);
    }
    const quint64 serial;
};

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
    if (highlightModel != model)
        startHighlightTimer();
    highlightModel = model;
    pendingHighlights.append({row, static_cast<ValueItem*>(item)->serial});
    if (!updatedIndex.isValid())
        updatedIndex = model->index(row, 1);
}

void ResponseView::startHighlightTimer()
{
    if (pendingHighlights.isEmpty())
        return;
    // The model is the timer's context: a timer still pending when the panel goes
    // away dies with the model instead of touching it.
    QStandardItemModel* model = highlightModel;
    QTimer::singleShot(kHighlightMs, Qt::CoarseTimer, model, [model, cells = std::move(pendingHighlights)]() {
        for (const Highlight& cell : cells) {
            // Restore only if the cell still holds the item of this highlight.
            auto* current = dynamic_cast<ValueItem*>(model->item(cell.row, 1));
            if (current && current->serial == cell.serial)
                current->setBackground(valueBrush());
        }
    });
    pendingHighlights = QVector<Highlight>();
}

void ResponseView::updateRow(QStandardItemModel* model, const InfoObject& object, int row)
{
    auto* item = new ValueItem(ObjectText::valueText(object), highlightBrush(), ++highlightSerial);
    {
        // setItem() announces a layout change around the swap, and every view answers
        // that with a full relayout of the table. No row moves here: suppress those
        // announcements and report the one changed cell instead.
        const QSignalBlocker blocker(model);
        // Taken out first: an item that setItem() replaces is looked up again after it
        // has left the table, a scan of every cell; taken out, it is found at once.
        const std::unique_ptr<QStandardItem> replaced(model->takeItem(row, 1));
        model->setItem(row, 1, item);
    }
    const QModelIndex cell = model->index(row, 1);
    Q_EMIT model->dataChanged(cell, cell);
    startHighlight(model, row, item);
}

void ResponseView::addRow(QStandardItemModel* model, const InfoObject& object, bool highlight)
{
    auto* addressItem = new QStandardItem(QStringLiteral("%1").arg(object.address));
    addressItem->setBackground(addressBrush());
    auto* valueItem = highlight
                          ? new ValueItem(ObjectText::valueText(object), highlightBrush(), ++highlightSerial)
                          : new ValueItem(ObjectText::valueText(object), valueBrush(), 0);
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
    startHighlightTimer();
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
    startHighlightTimer();
    if (runModel)
        scrollToUpdated(modelViews.value(runModel));
}
