#include "linemonitor.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

#include "framerowdelegate.h"
#include "framesummary.h"
#include "linemonitormodel.h"
#include "linestatistics.h"
#include "pcapwriter.h"

namespace iec101 {

namespace {

constexpr int kRefreshMs = 1000;

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct LineMonitor::State
{
    FrameSummary::Layout layout;
    LineStatistics statistics;
    PcapWriter writer;
    QString recordingProblem;
    bool paused = false;
    QVector<LineMonitorModel::Row> held; // arrived while paused, shown on resume
};

LineMonitor::LineMonitor(QWidget* parent) : QWidget(parent), state(std::make_unique<State>())
{
    frameModel = new LineMonitorModel(kMaxFrames, this);
    frameModel->setObjectName(QStringLiteral("frameModel"));

    frameTable = new QTableView;
    frameTable->setObjectName(QStringLiteral("frameTable"));
    frameTable->setModel(frameModel);
    frameTable->setWordWrap(false);
    frameTable->setItemDelegate(new FrameRowDelegate(frameTable));
    frameTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    frameTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    frameTable->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Fixed row heights: with 20,000 rows nothing may be measured per row.
    frameTable->verticalHeader()->hide();
    frameTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    frameTable->verticalHeader()->setDefaultSectionSize(frameTable->fontMetrics().height() + 4);
    QHeaderView* header = frameTable->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    header->resizeSection(LineMonitorModel::TimeColumn,
                          frameTable->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000000")) +
                              16);
    header->resizeSection(LineMonitorModel::DirectionColumn,
                          frameTable->fontMetrics().horizontalAdvance(QStringLiteral("received")) + 16);
    header->resizeSection(LineMonitorModel::SummaryColumn, 640);

    pauseButton = new QPushButton(tr("Pause"));
    pauseButton->setObjectName(QStringLiteral("pauseButton"));
    pauseButton->setCheckable(true);
    clearButton = new QPushButton(tr("Clear"));
    clearButton->setObjectName(QStringLiteral("clearButton"));
    hideIdleCheckBox = new QCheckBox(tr("Hide idle polling"));
    hideIdleCheckBox->setObjectName(QStringLiteral("hideIdleCheckBox"));
    recordButton = new QPushButton(tr("Record..."));
    recordButton->setObjectName(QStringLiteral("recordButton"));
    recordingLabel = new QLabel;
    recordingLabel->setObjectName(QStringLiteral("recordingLabel"));
    recordingLabel->setTextFormat(Qt::PlainText);
    recordingLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // Plain labels whose width does not follow their text: they change with every
    // batch, and neither should lay out a document or the monitor each time.
    statisticsLabel = new QLabel;
    statisticsLabel->setObjectName(QStringLiteral("statisticsLabel"));
    statisticsLabel->setTextFormat(Qt::PlainText);
    statisticsLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

    auto* controls = new QHBoxLayout;
    controls->addWidget(pauseButton);
    controls->addWidget(clearButton);
    controls->addWidget(hideIdleCheckBox);
    controls->addWidget(recordButton);
    controls->addWidget(recordingLabel, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(statisticsLabel);
    layout->addWidget(frameTable);

    connect(pauseButton, &QPushButton::toggled, this, &LineMonitor::setPaused);
    connect(clearButton, &QPushButton::clicked, this, &LineMonitor::clear);
    connect(hideIdleCheckBox, &QCheckBox::toggled, frameModel, &LineMonitorModel::setHideIdle);
    connect(recordButton, &QPushButton::clicked, this, &LineMonitor::recordClicked);
    // Batches stop when the line is closed; the rate and a pending command still age.
    // The zone offset for the time column is looked up here too: once a second is
    // enough for a change of summer time, and a look-up per batch is not free.
    auto* refresh = new QTimer(this);
    refresh->setObjectName(QStringLiteral("refresh"));
    const auto update = [this] {
        frameModel->setUtcOffset(QDateTime::currentDateTime().offsetFromUtc());
        updateStatistics();
    };
    connect(refresh, &QTimer::timeout, this, update);
    refresh->start(kRefreshMs);
    update();
}

LineMonitor::~LineMonitor() = default;

void LineMonitor::setSession(const SerialParam& param, const int* settings)
{
    state->layout = FrameSummary::Layout::fromSettings(settings);
    const int parityBits = param.parity == 'N' ? 0 : 1;
    state->statistics.setLine(param.baudRate, 1 + param.dataBits + parityBits + param.stopBits);
    updateStatistics();
}

void LineMonitor::addFrames(const QVector<LineFrame>& frames, int dropped)
{
    state->statistics.addDropped(dropped);
    if (state->writer.isOpen()) {
        if (state->writer.write(frames))
            updateRecording();
        else
            recordingError(state->writer.errorString());
    }
    QVector<LineMonitorModel::Row> rows;
    rows.reserve(frames.size());
    for (const LineFrame& frame : frames) {
        const FrameSummary summary = FrameSummary::parse(frame.octets, state->layout);
        state->statistics.add(frame, summary);
        LineMonitorModel::Row row;
        row.frame = frame;
        row.summary = summary.text();
        row.malformed = summary.kind == FrameSummary::Kind::Malformed;
        row.class2Request = summary.isClass2Request();
        row.noDataAnswer = summary.isNoDataAnswer();
        rows.append(row);
    }
    if (state->paused) {
        state->held += rows;
        if (state->held.size() > kMaxFrames)
            state->held.remove(0, state->held.size() - kMaxFrames);
    } else {
        QScrollBar* scroll = frameTable->verticalScrollBar();
        const bool following = scroll->value() == scroll->maximum();
        frameModel->append(rows);
        if (following)
            frameTable->scrollToBottom();
    }
    updateStatistics();
}

void LineMonitor::setPaused(bool paused)
{
    if (paused == state->paused)
        return;
    state->paused = paused;
    pauseButton->setChecked(paused);
    if (!paused && !state->held.isEmpty()) {
        frameModel->append(std::exchange(state->held, {}));
        frameTable->scrollToBottom();
    }
}

void LineMonitor::clear()
{
    frameModel->clear();
    state->held.clear();
    state->statistics.clear();
    updateStatistics();
}

QString LineMonitor::statisticsText() const
{
    return statisticsLabel->text();
}

bool LineMonitor::showFrame(qint64 timeUs)
{
    // A frame held while paused is not in the table yet.
    setPaused(false);
    const int row = frameModel->rowAtTime(timeUs);
    if (row < 0)
        return false;
    frameTable->selectRow(row);
    frameTable->scrollTo(frameModel->index(row, 0), QAbstractItemView::PositionAtCenter);
    return true;
}

void LineMonitor::updateStatistics()
{
    statisticsLabel->setText(state->statistics.text(nowUs()));
}

bool LineMonitor::startRecording(const QString& path)
{
    state->recordingProblem.clear();
    if (!state->writer.open(path)) {
        recordingError(state->writer.errorString());
        return false;
    }
    updateRecording();
    return true;
}

void LineMonitor::stopRecording()
{
    state->writer.close();
    updateRecording();
}

bool LineMonitor::isRecording() const
{
    return state->writer.isOpen();
}

void LineMonitor::recordClicked()
{
    if (isRecording()) {
        stopRecording();
        return;
    }
    const QString path = QFileDialog::getSaveFileName(this, tr("Record the line"), QString(),
                                                      tr("pcap captures (*.pcap);;All files (*)"));
    if (!path.isEmpty())
        startRecording(path);
}

void LineMonitor::recordingError(const QString& reason)
{
    state->writer.close();
    state->recordingProblem = QStringLiteral("Recording stopped: ") + reason;
    updateRecording();
    Q_EMIT recordingFailed(state->recordingProblem);
}

void LineMonitor::updateRecording()
{
    const bool recording = isRecording();
    recordButton->setText(recording ? tr("Stop recording") : tr("Record..."));
    if (recording) {
        recordingLabel->setStyleSheet(QString());
        recordingLabel->setText(QStringLiteral("Recording to %1: %2 frames")
                                    .arg(state->writer.fileName())
                                    .arg(state->writer.recordCount()));
    } else {
        recordingLabel->setStyleSheet(state->recordingProblem.isEmpty() ? QString()
                                                                        : QStringLiteral("color: #b40000;"));
        recordingLabel->setText(state->recordingProblem);
    }
}

} // namespace iec101
