#include "iec101view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QListView>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPainter>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSizePolicy>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "commandview.h"
#include "csvexport.h"
#include "eventview.h"
#include "iec101network.h"
#include "metatypes.h"
#include "objectkind.h"
#include "protocolsettings.h"
#include "responseview.h"
#include "serialdialog.h"

namespace iec101 {

namespace {

constexpr int kPortRefreshIntervalMs = 2000;
constexpr int kReadBackDelayMs = 500;
constexpr int kAllSerialComboBoxes = 15;
constexpr int kSettingCount = ProtocolSettingCount;

const QString kRedStyle = QStringLiteral("background-color: red; color: white;");
const QString kYellowStyle = QStringLiteral("background-color: yellow; color: black;");
const QString kLimeStyle = QStringLiteral("background-color: lime; color: black;");

// Device paths of virtual serial ports (socat pty links and the like) that
// QSerialPortInfo does not list. Taken from IEC101_EXTRA_PORTS, ':'-separated;
// only absolute paths that currently exist are offered.
QStringList extraPorts()
{
    QStringList ports;
    const QString value = qEnvironmentVariable("IEC101_EXTRA_PORTS");
    for (const QString& path : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(path) && QFileInfo::exists(path))
            ports.append(path);
    }
    return ports;
}

QMetaEnum engineEnum(const char* name)
{
    const QMetaObject& meta = Iec101Network::staticMetaObject;
    return meta.enumerator(meta.indexOfEnumerator(name));
}

ResponseView::Table panelTable(Iec101View::ResponseTable table)
{
    switch (table) {
    case Iec101View::ResponseTable::Single:
        return ResponseView::SingleTable;
    case Iec101View::ResponseTable::Double:
        return ResponseView::DoubleTable;
    case Iec101View::ResponseTable::Measured:
        return ResponseView::MeasuredTable;
    case Iec101View::ResponseTable::IntegratedTotal:
        break;
    }
    return ResponseView::TotalTable;
}

} // namespace

Iec101View::Iec101View(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("IEC101"));

    registerMetaTypes();

    portRefreshTimer = new QTimer(this);
    portRefreshTimer->setObjectName(QStringLiteral("portRefreshTimer"));
    connect(portRefreshTimer, &QTimer::timeout, this, &Iec101View::updateAvailablePorts);

    makeConnectBox();
    getRegistryValue();
    makeSettingDialog();
    connect(settingDialog, &QDialog::finished, this, &Iec101View::settingDialogFinished);

    commandView = new CommandView(nullptr);
    commandView->setObjectName(QStringLiteral("commandView"));
    commandView->setQccEnum(engineEnum("QCC"));
    commandView->setQoiEnum(engineEnum("QOI"));
    connect(commandView, &CommandView::requestSendCommand, this, &Iec101View::sendCommandRequested);

    eventView = new EventView(nullptr);
    eventView->setObjectName(QStringLiteral("eventView"));
    responseView = new ResponseView(nullptr);
    responseView->setObjectName(QStringLiteral("responseView"));

    auto* dataLayout = new QVBoxLayout;
    dataLayout->addWidget(responseView);
    dataLayout->addWidget(eventView);
    responseView->setFixedHeight(525);

    auto* grid = new QGridLayout(this);
    grid->addWidget(connectBox, 0, 0, 1, 2);
    grid->addWidget(commandView, 1, 0);
    grid->addLayout(dataLayout, 1, 1);
    connectBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    commandView->setFixedWidth(300);

    monitor = new LineMonitor(this);
    monitor->setObjectName(QStringLiteral("lineMonitor"));
    monitor->hide();
    monitor->installEventFilter(this);

    network = new Iec101Network(nullptr);
    connect(this, &Iec101View::doConnect, network, &Iec101Network::doConnect);
    connect(this, &Iec101View::doDisconnect, network, &Iec101Network::doDisconnect);
    connect(this, &Iec101View::sendCommand, network, &Iec101Network::sendCommand);
    connect(network, &Iec101Network::linkLayerStateChangedSignal, this, &Iec101View::linkLayerStateChanged);
    connect(network, &Iec101Network::setStatusBarMessage, this, &Iec101View::setStatusBarMessage);
    connect(network, &Iec101Network::spontaneousDataReady, this, &Iec101View::spontaneousDataReady);
    connect(network, &Iec101Network::requestedDataReady, this, &Iec101View::requestedDataReady);
    connect(network, &Iec101Network::responseEnded, this, &Iec101View::responseEnded);
    connect(network, &Iec101Network::lineFramesReady, this,
            [this](const QVector<LineFrame>& frames, int dropped) {
                if (monitor)
                    monitor->addFrames(frames, dropped);
                // Only now may the engine send the next batch.
                QMetaObject::invokeMethod(network, &Iec101Network::lineFramesTaken, Qt::QueuedConnection);
            });

    connect(settingsButton, &QPushButton::clicked, settingDialog, &QDialog::show);
    connect(connectButton, &QPushButton::clicked, this, &Iec101View::connectClicked);
    connect(disconnectButton, &QPushButton::clicked, this, &Iec101View::disconnectClicked);

    network->moveToThread(&workerThread);
    workerThread.start(QThread::InheritPriority);
}

Iec101View::~Iec101View()
{
    // Whatever the engine still reports while it winds down has no view to go to.
    disconnect(network, nullptr, this, nullptr);
    workerThread.quit();
    workerThread.wait(QDeadlineTimer(QDeadlineTimer::Forever));
    // The thread has ended, so nothing else can touch the engine: dispose of it here,
    // on the thread that owns its timers, which also closes a port left open.
    delete network;
    network = nullptr;
}

void Iec101View::paintEvent(QPaintEvent* event)
{
    // Lets a style sheet set by the host paint the view's background and border.
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    QWidget::paintEvent(event);
}

LineMonitor* Iec101View::lineMonitor() const
{
    return monitor.data();
}

bool Iec101View::exportEventLog(const QString& path)
{
    exportError.clear();
    return CsvExport::toFile(
        path, [this](QIODevice* device, QString* error) { return eventView->exportCsv(device, error); },
        &exportError);
}

bool Iec101View::exportEventLog(QIODevice* device)
{
    exportError.clear();
    return eventView->exportCsv(device, &exportError);
}

bool Iec101View::exportTable(ResponseTable table, const QString& path)
{
    exportError.clear();
    return CsvExport::toFile(
        path,
        [this, table](QIODevice* device, QString* error) {
            return responseView->exportCsv(panelTable(table), device, error);
        },
        &exportError);
}

bool Iec101View::exportTable(ResponseTable table, QIODevice* device)
{
    exportError.clear();
    return responseView->exportCsv(panelTable(table), device, &exportError);
}

QString Iec101View::exportErrorString() const
{
    return exportError;
}

bool Iec101View::eventFilter(QObject* watched, QEvent* event)
{
    // Hidden while it is an unplaced child of the view; a host that gives it another
    // parent wants to see it.
    if (watched == monitor && event->type() == QEvent::ParentChange && monitor->parentWidget() != this)
        monitor->show();
    return QWidget::eventFilter(watched, event);
}

void Iec101View::makeConnectBox()
{
    connectBox = new QGroupBox(tr("Connection"));
    connectBox->setObjectName(QStringLiteral("connectBox"));

    auto* portLabel = new QLabel(QStringLiteral("Port: "));
    portLabel->setObjectName(QStringLiteral("portLabel"));
    portComboBox = new QComboBox;
    portComboBox->setObjectName(QStringLiteral("portComboBox"));
    portComboBox->setView(new QListView(portComboBox));

    updateAvailablePorts();
    portRefreshTimer->start(kPortRefreshIntervalMs);

    serialDialog = new SerialDialog(kAllSerialComboBoxes, this);
    serialDialog->setObjectName(QStringLiteral("serialDialog"));
    serialDialog->setMetaEnumList(QList<QMetaEnum>{engineEnum("BaudRate"), engineEnum("DataBits"),
                                                   engineEnum("Parity"), engineEnum("StopBits")});

    auto* serialButton = new QPushButton(tr("Serial parameters"));
    serialButton->setObjectName(QStringLiteral("serialButton"));
    settingsButton = new QPushButton(tr("IEC101 settings"));
    settingsButton->setObjectName(QStringLiteral("settingsButton"));
    connectButton = new QPushButton(tr("Connect"));
    connectButton->setObjectName(QStringLiteral("connectButton"));
    disconnectButton = new QPushButton(tr("Disconnect"));
    disconnectButton->setObjectName(QStringLiteral("disconnectButton"));
    auto* statusLabel = new QLabel(QStringLiteral("Status: "));
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLineEdit = new QLineEdit;
    statusLineEdit->setObjectName(QStringLiteral("statusLineEdit"));
    statusLineEdit->setPlaceholderText(QStringLiteral("Status"));
    statusLineEdit->setReadOnly(true);
    initialDataCheckBox = new QCheckBox(QStringLiteral("Initial data ready"));
    initialDataCheckBox->setObjectName(QStringLiteral("initialDataCheckBox"));
    // An indicator only: the program sets it, the operator cannot.
    initialDataCheckBox->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* grid = new QGridLayout(connectBox);
    grid->addWidget(connectButton, 0, 0);
    grid->addWidget(disconnectButton, 0, 1);
    grid->addWidget(portLabel, 0, 2);
    grid->addWidget(portComboBox, 0, 3);
    grid->addWidget(serialButton, 0, 4);
    grid->addWidget(settingsButton, 0, 5);
    grid->addWidget(statusLabel, 0, 6);
    grid->addWidget(statusLineEdit, 0, 7);
    grid->addWidget(initialDataCheckBox, 0, 8);

    connect(serialButton, &QPushButton::clicked, serialDialog, &QDialog::show);
}

void Iec101View::getRegistryValue()
{
    settings.beginGroup(objectName());
    settings.beginGroup(QStringLiteral("settings"));
    for (int i = 0; i < kSettingCount; ++i)
        registrySettings[i] = settings.value(QString::number(i + 1), kDefaultProtocolSettings[i]).toInt();
    settings.endGroup();
    settings.endGroup();
}

void Iec101View::makeSettingDialog()
{
    settingDialog = new QDialog(this);
    settingDialog->setObjectName(QStringLiteral("settingDialog"));
    settingDialog->setWindowTitle(tr("IEC101 Settings"));

    struct Field
    {
        QLineEdit*& edit;
        const char* name;
        QString label;
        const char* placeholder;
        int bottom;
        int top;
    };
    const std::array<Field, kSettingCount> fields{{
        {caEdit, "caEdit", tr("Common adress of ASDU: "), "0-65534", 0, 65534},
        {caSizeEdit, "caSizeEdit", tr("Common adress of ASDU size: "), "1-2", 1, 2},
        {linkAddressEdit, "linkAddressEdit", tr("Link layer address: "), "0-65534", 0, 65534},
        {linkAddressSizeEdit, "linkAddressSizeEdit", tr("Link layer address size: "), "1-2", 1, 2},
        {ioaSizeEdit, "ioaSizeEdit", tr("Info object address size: "), "2-3", 2, 3},
        {cotSizeEdit, "cotSizeEdit", tr("Cause of transmission size: "), "1-2", 1, 2},
    }};

    auto* grid = new QGridLayout(settingDialog);
    int row = 0;
    for (const Field& field : fields) {
        auto* label = new QLabel(field.label);
        label->setObjectName(QLatin1String(field.name).chopped(4) + QStringLiteral("Label"));
        field.edit = new QLineEdit;
        field.edit->setObjectName(QLatin1String(field.name));
        field.edit->setPlaceholderText(QLatin1String(field.placeholder));
        field.edit->setValidator(new QIntValidator(field.bottom, field.top, this));
        grid->addWidget(label, row, 0);
        grid->addWidget(field.edit, row, 1);
        ++row;
    }

    defaultButton = new QPushButton(tr("Default"));
    defaultButton->setObjectName(QStringLiteral("defaultButton"));
    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttonBox->setObjectName(QStringLiteral("settingButtonBox"));
    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(defaultButton);
    bottomRow->addWidget(buttonBox);
    grid->addLayout(bottomRow, row, 0, 1, 2);

    connect(buttonBox, &QDialogButtonBox::accepted, settingDialog, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, settingDialog, &QDialog::reject);
    connect(defaultButton, &QPushButton::clicked, this, &Iec101View::defaultClicked);

    // Puts the stored values in force and into the fields.
    defaultButton->click();
}

void Iec101View::disableConnectBox(bool disable)
{
    connectButton->setDisabled(disable);
    portComboBox->setDisabled(disable);
    serialDialog->setDisabled(disable);
    settingDialog->setDisabled(disable);
}

void Iec101View::connectClicked()
{
    portRefreshTimer->stop();
    disableConnectBox(true);

    initialResponseCount = 0;
    initialDataCheckBox->setChecked(false);

    commandView->resetState();
    eventView->clearEvents();
    responseView->clearResponses();

    SerialParam param = serialDialog->serialParam();
    param.portName = portComboBox->currentText();
    serialDialog->saveSettings();
    if (monitor)
        monitor->setSession(param, lastSettings);

    // The engine reads lastSettings on its own thread; the settings dialog stays
    // disabled until the next disconnect, so the array cannot change meanwhile.
    Q_EMIT doConnect(param, lastSettings);
}

void Iec101View::disconnectClicked()
{
    Q_EMIT doDisconnect();
    disableConnectBox(false);
    portRefreshTimer->start(kPortRefreshIntervalMs);
}

void Iec101View::sendCommandRequested(Command::CommandType commandType, const QVector<int>& values)
{
    responseView->clearReady();
    Q_EMIT sendCommand(commandType, values);
}

void Iec101View::defaultClicked()
{
    for (int i = 0; i < kSettingCount; ++i)
        lastSettings[i] = registrySettings[i];
    settingDialogFinished(0);
}

void Iec101View::updateAvailablePorts()
{
    const QString current = portComboBox->currentText();
    portComboBox->clear();

    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        names.append(info.portName());
    names.append(extraPorts());

    // Keep the operator's choice while a port of that name exists, else the first one.
    int index = 0;
    for (int i = 0; i < names.size(); ++i) {
        portComboBox->addItem(names.at(i));
        if (names.at(i) == current)
            index = i;
    }
    portComboBox->setCurrentIndex(index);
}

void Iec101View::linkLayerStateChanged(const QString& state)
{
    if (state == QLatin1String("Disconnected")) {
        statusLineEdit->setStyleSheet(kRedStyle);
        disconnectClicked();
        QMessageBox::information(this, QStringLiteral("Notice"), QStringLiteral("IEC101 disconnected."),
                                 QMessageBox::Ok);
    } else if (state.contains(QLatin1String("Available"))) {
        statusLineEdit->setStyleSheet(kLimeStyle);
    } else if (state == QLatin1String("Error")) {
        statusLineEdit->setStyleSheet(kYellowStyle);
    }
    statusLineEdit->setText(state);
    // A text too long for the field shows its beginning.
    statusLineEdit->setCursorPosition(0);
}

void Iec101View::spontaneousDataReady(const QVector<InfoObject>& objects)
{
    // One insertion into the log for the whole batch.
    eventView->addEvents(objects);
    for (const InfoObject& object : objects)
        readResponseReady(object);
}

void Iec101View::requestedDataReady(const QVector<InfoObject>& objects, Command::CommandType commandType)
{
    if (commandType == Command::Interrogation || commandType == Command::CounterInterrogation) {
        interrogationResponseReady(objects);
        return;
    }
    if (commandType == Command::ClockSync) {
        const auto echo = std::find_if(objects.cbegin(), objects.cend(),
                                       [](const InfoObject& object) { return object.typeId == C_CS_NA_1; });
        commandView->timeSyncReady(echo == objects.cend() ? InfoObject() : *echo);
    }
    // The answer to a Read, and data the slave sent besides a command's confirmations.
    for (const InfoObject& object : objects) {
        if (ObjectKind::isMonitoring(object.typeId))
            readResponseReady(object);
    }
}

void Iec101View::responseEnded(Command::CommandType commandType)
{
    if (commandType == Command::Double) {
        // Read the switched object back once the station has had time to move it.
        QTimer::singleShot(kReadBackDelayMs, Qt::PreciseTimer, this,
                           [this] { commandView->readControlObjectState(); });
    }
    responseView->responseFinished(initialDataCheckBox->isChecked());
}

void Iec101View::readResponseReady(const InfoObject& object)
{
    showSwitchStates(object, true);
    const int readAddress = commandView->takeRequestedReadAddress();
    responseView->updateObject(object, readAddress);
}

void Iec101View::showSwitchStates(const InfoObject& object, bool localRemote)
{
    // The local/remote switch is a single point and the switching devices are double
    // points, whichever variant of time tag the slave sends them with.
    const ObjectKind::Kind kind = ObjectKind::kindOf(object.typeId);
    if (localRemote && kind == ObjectKind::SinglePoint)
        commandView->checkLocalRemoteSwitch(object.address, object.value.toBool());
    if (kind == ObjectKind::DoublePoint)
        commandView->checkObjectState(object.address, object.value.toInt());
}

void Iec101View::interrogationResponseReady(const QVector<InfoObject>& objects)
{
    // The engine's automatic general and counter interrogation after a connect are
    // the first two responses; once both are in, the initial data is complete.
    if (initialResponseCount < 2) {
        ++initialResponseCount;
        if (initialResponseCount == 2) {
            initialDataCheckBox->setChecked(true);
            linkLayerStateChanged(QStringLiteral("Available"));
        }
    }
    if (objects.isEmpty())
        return;

    // Of an interrogation result, only a first object can tell the local/remote mode.
    for (int i = 0; i < objects.size(); ++i)
        showSwitchStates(objects.at(i), i == 0);
    responseView->updateObjects(objects);
}

void Iec101View::settingDialogFinished(int result)
{
    const std::array<QLineEdit*, kSettingCount> edits{
        caEdit, caSizeEdit, linkAddressEdit, linkAddressSizeEdit, ioaSizeEdit, cotSizeEdit};
    if (result != 0) {
        for (int i = 0; i < kSettingCount; ++i)
            lastSettings[i] = edits[i]->text().toInt();
        settings.beginGroup(objectName());
        settings.beginGroup(QStringLiteral("settings"));
        for (int i = 0; i < kSettingCount; ++i)
            settings.setValue(QString::number(i + 1), lastSettings[i]);
        settings.endGroup();
        settings.endGroup();
    } else {
        for (int i = 0; i < kSettingCount; ++i)
            edits[i]->setText(QStringLiteral("%1").arg(lastSettings[i]));
    }
}

} // namespace iec101
