#include "findingspanel.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <optional>

#include "findingsmodel.h"
#include "findingstracker.h"

namespace iec101 {

FindingsPanel::FindingsPanel(FindingsTracker* tracker, QWidget* parent) : QWidget(parent)
{
    findingsModel = new FindingsModel(tracker, this);
    findingsModel->setObjectName(QStringLiteral("findingsModel"));

    kindComboBox = new QComboBox;
    kindComboBox->setObjectName(QStringLiteral("kindComboBox"));
    kindComboBox->addItem(tr("All kinds"), -1);
    for (int kind = 0; kind < Finding::kKindCount; ++kind)
        kindComboBox->addItem(Finding::kindTitle(Finding::Kind(kind)), kind);
    stationComboBox = new QComboBox;
    stationComboBox->setObjectName(QStringLiteral("stationComboBox"));
    stationComboBox->addItem(tr("All stations"), -1);
    pointListLabel = new QLabel(tr("No point list"));
    pointListLabel->setObjectName(QStringLiteral("pointListLabel"));
    countLabel = new QLabel;
    countLabel->setObjectName(QStringLiteral("countLabel"));
    importButton = new QPushButton(tr("Import point list..."));
    importButton->setObjectName(QStringLiteral("importButton"));
    reportButton = new QPushButton(tr("Write report..."));
    reportButton->setObjectName(QStringLiteral("reportButton"));

    findingsTable = new QTableView;
    findingsTable->setObjectName(QStringLiteral("findingsTable"));
    findingsTable->setModel(findingsModel);
    findingsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    findingsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    findingsTable->setWordWrap(false);
    findingsTable->verticalHeader()->hide();
    findingsTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    findingsTable->verticalHeader()->setDefaultSectionSize(findingsTable->fontMetrics().height() + 4);
    findingsTable->horizontalHeader()->setStretchLastSection(false);
    findingsTable->horizontalHeader()->setSectionResizeMode(FindingsModel::DetailColumn,
                                                            QHeaderView::Stretch);
    const int digit = findingsTable->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    findingsTable->setColumnWidth(FindingsModel::TimeColumn, digit * 14);
    findingsTable->setColumnWidth(FindingsModel::KindColumn, digit * 15);
    findingsTable->setColumnWidth(FindingsModel::StationColumn, digit * 6);
    findingsTable->setColumnWidth(FindingsModel::CommonAddressColumn, digit * 6);
    findingsTable->setColumnWidth(FindingsModel::ObjectAddressColumn, digit * 9);
    findingsTable->setColumnWidth(FindingsModel::NameColumn, digit * 18);
    findingsTable->setColumnWidth(FindingsModel::CountColumn, digit * 6);

    showFrameAction = new QAction(tr("Show frame"), findingsTable);
    showFrameAction->setObjectName(QStringLiteral("showFrameAction"));
    reportAction = new QAction(tr("Write report..."), findingsTable);
    reportAction->setObjectName(QStringLiteral("reportAction"));
    findingsTable->addAction(showFrameAction);
    findingsTable->addAction(reportAction);
    findingsTable->setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* controls = new QHBoxLayout;
    auto* kindLabel = new QLabel(tr("Kind:"));
    kindLabel->setObjectName(QStringLiteral("kindLabel"));
    auto* stationLabel = new QLabel(tr("Station:"));
    stationLabel->setObjectName(QStringLiteral("stationLabel"));
    controls->addWidget(kindLabel);
    controls->addWidget(kindComboBox);
    controls->addWidget(stationLabel);
    controls->addWidget(stationComboBox);
    controls->addWidget(countLabel);
    controls->addStretch(1);
    controls->addWidget(pointListLabel);
    controls->addWidget(importButton);
    controls->addWidget(reportButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(findingsTable);

    connect(kindComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &FindingsPanel::filterChanged);
    connect(stationComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &FindingsPanel::filterChanged);
    connect(findingsTable, &QTableView::doubleClicked, this, &FindingsPanel::showFrameOf);
    connect(showFrameAction, &QAction::triggered, this,
            [this] { showFrameOf(findingsTable->currentIndex()); });
    const auto updateCount = [this] {
        countLabel->setText(tr("%n finding(s)", nullptr, findingsModel->rowCount()));
    };
    connect(findingsModel, &QAbstractItemModel::rowsInserted, this, updateCount);
    connect(findingsModel, &QAbstractItemModel::modelReset, this, updateCount);
    updateCount();
    connect(importButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Import point list"), QString(),
                                                          tr("Point lists (*.csv);;All files (*)"));
        if (!path.isEmpty())
            Q_EMIT pointListChosen(path);
    });
    const auto chooseReport = [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, tr("Write report"), QStringLiteral("report.pdf"), tr("PDF files (*.pdf)"));
        if (!path.isEmpty())
            Q_EMIT reportChosen(path);
    };
    connect(reportButton, &QPushButton::clicked, this, chooseReport);
    connect(reportAction, &QAction::triggered, this, chooseReport);
}

FindingsPanel::~FindingsPanel() = default;

void FindingsPanel::setStations(const QVector<int>& linkAddresses)
{
    const int current = stationComboBox->currentData().toInt();
    const QSignalBlocker blocker(stationComboBox);
    stationComboBox->clear();
    stationComboBox->addItem(tr("All stations"), -1);
    for (int address : linkAddresses)
        stationComboBox->addItem(tr("Link %1").arg(address), address);
    const int index = stationComboBox->findData(current);
    stationComboBox->setCurrentIndex(qMax(0, index));
    filterChanged();
}

void FindingsPanel::setPointListText(const QString& text)
{
    pointListLabel->setText(text);
}

void FindingsPanel::reload()
{
    findingsModel->reload();
}

void FindingsPanel::filterChanged()
{
    const int kind = kindComboBox->currentData().toInt();
    const int station = stationComboBox->currentData().toInt();
    findingsModel->setKindFilter(kind < 0 ? std::nullopt : std::optional<Finding::Kind>(Finding::Kind(kind)));
    findingsModel->setStationFilter(station < 0 ? std::nullopt : std::optional<int>(station));
}

void FindingsPanel::showFrameOf(const QModelIndex& index)
{
    const Finding* finding = index.isValid() ? findingsModel->findingAt(index.row()) : nullptr;
    if (finding && finding->frameTimeUs >= 0)
        Q_EMIT frameRequested(finding->frameTimeUs);
}

} // namespace iec101
