#include "responseview.h"

#include <QAction>
#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QSignalBlocker>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "csvexport.h"
#include "csvwriter.h"
#include "objectkind.h"
#include "objecttext.h"
#include "pointlist.h"

#include <algorithm>
#include <memory>

namespace iec101 {

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

// Text colours that read at 4.5:1 or better on the backgrounds above (WCAG): white on
// #505050 and dark cyan, black on dark gray, where no light colour reaches 4.5:1.
const QBrush& valueTextBrush()
{
    static const QBrush brush(Qt::white);
    return brush;
}

const QBrush& addressTextBrush()
{
    static const QBrush brush(Qt::black);
    return brush;
}

int addressAt(const QStandardItemModel* model, int row)
{
    const QStandardItem* cell = model->item(row, 0);
    return cell ? cell->text().toInt(nullptr, 10) : 0;
}

// Binary search, the tables being sorted by address: the row of the address, or the
// row where it belongs.
int lowerBound(const QStandardItemModel* model, int address)
{
    int lo = 0;
    int hi = model->rowCount();
    while (lo < hi) {
        const int mid = (lo + hi) >> 1;
        if (addressAt(model, mid) < address)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

int findRow(const QStandardItemModel* model, int address)
{
    const int row = lowerBound(model, address);
    return row < model->rowCount() && addressAt(model, row) == address ? row : -1;
}

// A value cell, keeping the object it shows for exports. Its serial names the highlight
// it was created with (0: none), so a highlight timer recognises its own cell and never a
// later one, even one that reuses the freed address of an earlier item.
class ValueItem : public QStandardItem
{
public:
    ValueItem(const InfoObject& object, const PointList::Point* point, const QBrush& background,
              quint64 highlight)
        : QStandardItem(point ? PointList::valueText(*point, object) : ObjectText::valueText(object)),
          object(object), serial(highlight)
    {
        // A listed point reads with its name and engineering value; the raw value stays at hand.
        if (point) {
            if (!point->name.isEmpty())
                setText(point->name + QStringLiteral(": ") + text());
            setToolTip(QStringLiteral("%1\nraw value %2")
                           .arg(ObjectText::typeText(object.typeId), ObjectText::valueText(object)));
        }
        setBackground(background);
        setForeground(valueTextBrush());
    }
    const InfoObject object;
    const quint64 serial;
};

} // namespace

ResponseView::ResponseView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("responseView"));
    makeResponseBox();
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

    makeTable(SingleTable, singleModel, singleView, singleExportAction, QStringLiteral("single"),
              tr("Single"));
    makeTable(DoubleTable, doubleModel, doubleView, doubleExportAction, QStringLiteral("double"),
              tr("Double"));
    makeTable(MeasuredTable, measuredModel, measuredView, measuredExportAction, QStringLiteral("measured"),
              tr("Measured"));
    makeTable(TotalTable, totalModel, totalView, totalExportAction, QStringLiteral("total"),
              tr("Intergrated total"));
    modelViews.insert(singleModel, singleView);
    modelViews.insert(doubleModel, doubleView);
    modelViews.insert(measuredModel, measuredView);
    modelViews.insert(totalModel, totalView);

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

// name: the start of the object names of the view and its export action.
void ResponseView::makeTable(Table table, QStandardItemModel*& model, QTableView*& view,
                             QAction*& exportAction, const QString& name, const QString& title)
{
    // The model's object name is its title: clearTable() takes the value column's header from it.
    model = new QStandardItemModel(responseBox);
    model->setObjectName(title);
    view = new QTableView;
    view->setObjectName(name + QStringLiteral("View"));
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setModel(model);
    clearTable(model);
    // The address column just as wide as the widest address (3 octets) or its title,
    // the rest for the value and its title. The sizes hold for the sections that every
    // clearing of the model creates anew.
    QHeaderView* header = view->horizontalHeader();
    const QFontMetrics metrics = header->fontMetrics();
    const int addressWidth = qMax(metrics.horizontalAdvance(QStringLiteral("16777215")),
                                  metrics.horizontalAdvance(QStringLiteral("Address")));
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setDefaultSectionSize(addressWidth + 2 * metrics.averageCharWidth());
    header->setStretchLastSection(true);
    // Row numbers say nothing the address does not; the value needs the room.
    view->verticalHeader()->hide();
    // Never narrower than both column titles and the scroll bar of a long table: the
    // layout shares out the rest, so a title such as "Intergrated total" stays whole.
    view->setMinimumWidth(header->defaultSectionSize() + header->sectionSizeHint(1) + 2 * view->frameWidth() +
                          view->style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    exportAction = new QAction(tr("Export CSV..."), view);
    exportAction->setObjectName(name + QStringLiteral("ExportAction"));
    view->addAction(exportAction);
    view->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(exportAction, &QAction::triggered, this, [this, table, name] {
        CsvExport::toChosenFile(
            this, name + QStringLiteral(".csv"),
            [this, table](QIODevice* device, QString* error) { return exportCsv(table, device, error); });
    });
}

QStandardItemModel* ResponseView::modelOf(Table table) const
{
    switch (table) {
    case SingleTable:
        return singleModel;
    case DoubleTable:
        return doubleModel;
    case MeasuredTable:
        return measuredModel;
    case TotalTable:
        break;
    }
    return totalModel;
}

bool ResponseView::exportCsv(Table table, QIODevice* device, QString* errorString) const
{
    const QStandardItemModel* model = modelOf(table);
    CsvWriter writer(device);
    writer.writeHeader({QStringLiteral("Address"), QStringLiteral("Value"), QStringLiteral("Quality")});
    for (int row = 0; row < model->rowCount() && !writer.hasError(); ++row) {
        const auto* item = dynamic_cast<const ValueItem*>(model->item(row, 1));
        if (item) {
            writer.writeRow({addressAt(model, row), ObjectText::plainValueText(item->object),
                             ObjectText::qualityText(item->object)});
        }
    }
    if (writer.finish())
        return true;
    if (errorString)
        *errorString = writer.errorString();
    return false;
}

QStandardItemModel* ResponseView::tableFor(int typeId) const
{
    switch (ObjectKind::kindOf(typeId)) {
    case ObjectKind::SinglePoint:
        return singleModel;
    case ObjectKind::DoublePoint:
        return doubleModel;
    case ObjectKind::Measured:
        return measuredModel;
    case ObjectKind::IntegratedTotal:
        return totalModel;
    default:
        return nullptr;
    }
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

void ResponseView::setPointLists(const QMap<int, PointList>* lists)
{
    pointLists = lists;
}

const PointList::Point* ResponseView::pointOf(const InfoObject& object) const
{
    if (!pointLists)
        return nullptr;
    const auto list = pointLists->constFind(object.linkAddress);
    return list == pointLists->cend() ? nullptr : list->find(object.commonAddress, object.address);
}

void ResponseView::clearTable(QStandardItemModel* model)
{
    model->clear();
    model->setHorizontalHeaderLabels({QStringLiteral("Address"), model->objectName()});
}

void ResponseView::startHighlight(QStandardItemModel* model, int row, int address, QStandardItem* item)
{
    if (highlightModel != model)
        startHighlightTimer();
    highlightModel = model;
    pendingHighlights.append({row, address, static_cast<ValueItem*>(item)->serial});
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
            // Restore only if the cell still holds the item of this highlight; a row
            // inserted since has moved it down, and its address finds it again.
            auto* current = dynamic_cast<ValueItem*>(model->item(cell.row, 1));
            if (!current || current->serial != cell.serial) {
                const int row = findRow(model, cell.address);
                current = row >= 0 ? dynamic_cast<ValueItem*>(model->item(row, 1)) : nullptr;
            }
            if (current && current->serial == cell.serial)
                current->setBackground(valueBrush());
        }
    });
    pendingHighlights = QVector<Highlight>();
}

void ResponseView::updateRow(QStandardItemModel* model, const InfoObject& object, int row)
{
    auto* item = new ValueItem(object, pointOf(object), highlightBrush(), ++highlightSerial);
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
    startHighlight(model, row, object.address, item);
}

void ResponseView::insertRow(QStandardItemModel* model, const InfoObject& object, int row, bool highlight)
{
    auto* addressItem = new QStandardItem(QStringLiteral("%1").arg(object.address));
    addressItem->setBackground(addressBrush());
    addressItem->setForeground(addressTextBrush());
    auto* valueItem = highlight ? new ValueItem(object, pointOf(object), highlightBrush(), ++highlightSerial)
                                : new ValueItem(object, pointOf(object), valueBrush(), 0);
    model->insertRow(row, QList<QStandardItem*>{addressItem, valueItem});
    if (highlight)
        startHighlight(model, row, object.address, valueItem);
}

void ResponseView::replaceTable(QStandardItemModel* model, QVector<InfoObject> objects)
{
    // Each address once, in ascending order, whatever order the slave sent them in.
    const auto byAddress = [](const InfoObject& a, const InfoObject& b) {
        return a.address < b.address;
    };
    if (!std::is_sorted(objects.cbegin(), objects.cend(), byAddress))
        std::stable_sort(objects.begin(), objects.end(), byAddress);
    QVector<int> listed(model->rowCount());
    for (int row = 0; row < listed.size(); ++row)
        listed[row] = addressAt(model, row);
    clearTable(model);
    for (int i = 0; i < objects.size(); ++i) {
        // Of an address reported twice, the later value counts.
        if (i + 1 < objects.size() && objects.at(i + 1).address == objects.at(i).address)
            continue;
        const InfoObject& object = objects.at(i);
        // Rows the table listed before light up: they are what a repeated interrogation refreshed.
        insertRow(model, object, model->rowCount(),
                  std::binary_search(listed.cbegin(), listed.cend(), object.address));
    }
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
    QStandardItemModel* model = tableFor(object.typeId);
    if (!model)
        return;
    const int row = lowerBound(model, object.address);
    if (row < model->rowCount() && addressAt(model, row) == object.address)
        updateRow(model, object, row);
    else if (object.address == readAddress)
        insertRow(model, object, row, false);
    startHighlightTimer();
    scrollToUpdated(modelViews.value(model));
}

void ResponseView::updateObjects(const QVector<InfoObject>& objects)
{
    QMap<QStandardItemModel*, QVector<InfoObject>> perTable;
    for (const InfoObject& object : objects) {
        if (QStandardItemModel* model = tableFor(object.typeId))
            perTable[model].append(object);
    }
    for (QStandardItemModel* model : {singleModel, doubleModel, measuredModel, totalModel}) {
        const auto table = perTable.constFind(model);
        if (table == perTable.cend())
            continue;
        replaceTable(model, *table);
        scrollToUpdated(modelViews.value(model));
    }
    startHighlightTimer();
}

} // namespace iec101
