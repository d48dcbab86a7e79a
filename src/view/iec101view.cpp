#include "iec101view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFile>
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
#include <QPointer>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSizePolicy>
#include <QStackedWidget>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <optional>

#include <iec60870_common.h>

#include "commandoutcome.h"
#include "commandrequest.h"
#include "commandview.h"
#include "commissioningreport.h"
#include "csvexport.h"
#include "eventview.h"
#include "findingstracker.h"
#include "iec101network.h"
#include "linelistener.h"
#include "linkstate.h"
#include "masterengine.h"
#include "metatypes.h"
#include "objectkind.h"
#include "pointlist.h"
#include "protocolsettings.h"
#include "reportpdf.h"
#include "responseview.h"
#include "serialdialog.h"
#include "serialsettings.h"

namespace iec101 {

namespace {

constexpr int kPortRefreshIntervalMs = 2000;
constexpr int kReadBackDelayMs = 500;
// Tables for addresses the settings do not list are made as data arrives; a station (or a
// tapped line) reporting ever new common addresses must not add tables without end.
constexpr int kMaxStationTables = 64;
constexpr int kAllSerialComboBoxes = 15;
constexpr int kSettingCount = ProtocolSettingCount;

const QString kRedStyle = QStringLiteral("background-color: red; color: white;");
const QString kYellowStyle = QStringLiteral("background-color: yellow; color: black;");
const QString kOrangeStyle = QStringLiteral("background-color: orange; color: black;");
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

struct Iec101View::Private
{
    explicit Private(Iec101View* view) : q(view) {}

    void makeConnectBox();
    void getRegistryValue();
    void makeSettingDialog();
    void disableConnectBox(bool disable);
    // The command panel and the command form, on or off (off while listening: why says so).
    void setCommandsEnabled(bool enabled, const QString& why);
    // A request goes to the station and common address selected, when there are several.
    void addressToSelected(CommandRequest& request) const;
    void showSwitchStates(const InfoObject& object);
    void connectEngine();
    // A station's link state from the engine or a listener.
    void stationLinkState(int linkAddress, LinkState state);
    void linkStateChanged(int linkAddress, LinkState state);
    void unsolicitedData(const QVector<InfoObject>& objects);
    void commandFinished(const CommandRequest& request, const CommandOutcome& outcome,
                         const QVector<InfoObject>& answer);
    void initialDataFinished(int linkAddress, bool complete);
    // The tables of one station and common address, made when first needed.
    ResponseView* responsesFor(int linkAddress, int commonAddress);
    ResponseView* responsesFor(const InfoObject& object)
    {
        return responsesFor(object.linkAddress, object.commonAddress);
    }
    ResponseView* currentResponses() const;
    void setUpStations(const ProtocolSettings& protocol);
    void showStationStates();
    ProtocolSettings protocolSettings() const;
    void makeCommissioning();
    void connectListener();
    void loadPointLists();
    void showPointListState();
    int currentLinkAddress() const { return protocolSettings().stationList().first().linkAddress; }
    // Runs call on the engine's thread, after whatever was posted to it before.
    template <typename Call> void onEngine(Call call)
    {
        QMetaObject::invokeMethod(engine, std::move(call), Qt::QueuedConnection);
    }

    Iec101View* q;
    QSettings settings;
    QThread workerThread;
    SerialDialog* serialDialog = nullptr;
    Iec101Network* network = nullptr;
    MasterEngine* engine = nullptr;
    QTimer* portRefreshTimer = nullptr;
    CommandView* commandView = nullptr;
    EventView* eventView = nullptr;
    ResponseView* responseView = nullptr; // the first station's tables
    // With several stations or common addresses, one set of tables each, and a selector over
    // them; commands from the command panel go to the station and common address selected.
    struct StationTables
    {
        int linkAddress = 0;
        int commonAddress = 0;
        ResponseView* responses = nullptr;
    };
    QVector<StationTables> stationTables;
    QComboBox* stationComboBox = nullptr;
    QCheckBox* allStationsCheckBox = nullptr;
    QStackedWidget* responseStack = nullptr;
    QMap<int, LinkState> stationStates; // by link address, since Connect
    QMap<int, bool> initialData;        // stations whose initial data ended, and whether complete
    QLineEdit* stationsEdit = nullptr;
    QCheckBox* balancedCheckBox = nullptr;
    QLineEdit* ownAddressEdit = nullptr;
    // The station list and mode in force, and as stored (read at construction).
    QString stationsText;
    bool balanced = false;
    int ownAddress = 0;
    QString registryStationsText;
    bool registryBalanced = false;
    int registryOwnAddress = 0;
    QPointer<LineMonitor> monitor;
    QPointer<CommandForm> form;
    QGroupBox* connectBox = nullptr;
    QComboBox* portComboBox = nullptr;
    QPushButton* settingsButton = nullptr;
    QPushButton* connectButton = nullptr;
    QPushButton* disconnectButton = nullptr;
    QLineEdit* statusLineEdit = nullptr;
    QCheckBox* initialDataCheckBox = nullptr;
    QDialog* settingDialog = nullptr;
    QLineEdit* caEdit = nullptr;
    QLineEdit* caSizeEdit = nullptr;
    QLineEdit* linkAddressEdit = nullptr;
    QLineEdit* linkAddressSizeEdit = nullptr;
    QLineEdit* ioaSizeEdit = nullptr;
    QLineEdit* cotSizeEdit = nullptr;
    QPushButton* defaultButton = nullptr;
    int lastSettings[kSettingCount] = {};
    int registrySettings[kSettingCount] = {};
    QString exportError;
    // Commissioning: the findings of the session, the point lists, listening on a tap.
    FindingsTracker* tracker = nullptr;
    QPointer<FindingsPanel> findingsPanel;
    LineListener* listener = nullptr; // on the worker thread, like the engine
    QCheckBox* listenCheckBox = nullptr;
    QComboBox* listenPortComboBox = nullptr;
    bool listening = false; // the current connection only listens
    QStringList pointProblems;
    QString reportError;
    // The line and mode of the last connect, which the report describes; until then the
    // settings as they stand.
    std::optional<CommissioningReport::Session> reportSession;
    bool connected = false;             // the operator connected and has not disconnected
    bool waitingForInitialData = false; // the link has not been available since Connect
};

Iec101View::Iec101View(QWidget* parent) : QWidget(parent), d(std::make_unique<Private>(this))
{
    setObjectName(QStringLiteral("IEC101"));

    registerMetaTypes();

    d->portRefreshTimer = new QTimer(this);
    d->portRefreshTimer->setObjectName(QStringLiteral("portRefreshTimer"));
    connect(d->portRefreshTimer, &QTimer::timeout, this, &Iec101View::updateAvailablePorts);

    d->makeConnectBox();
    d->getRegistryValue();
    d->makeSettingDialog();
    connect(d->settingDialog, &QDialog::finished, this, &Iec101View::settingDialogFinished);

    d->commandView = new CommandView(nullptr);
    d->commandView->setObjectName(QStringLiteral("commandView"));
    d->commandView->setQccEnum(engineEnum("QCC"));
    d->commandView->setQoiEnum(engineEnum("QOI"));
    connect(d->commandView, &CommandView::requestSendCommand, this, &Iec101View::sendCommandRequested);

    d->eventView = new EventView(nullptr);
    d->eventView->setObjectName(QStringLiteral("eventView"));
    d->responseView = new ResponseView(nullptr);
    d->responseView->setObjectName(QStringLiteral("responseView"));
    d->responseStack = new QStackedWidget;
    d->responseStack->setObjectName(QStringLiteral("responseStack"));
    d->responseStack->addWidget(d->responseView);
    d->stationComboBox = new QComboBox;
    d->stationComboBox->setObjectName(QStringLiteral("stationComboBox"));
    d->stationComboBox->setToolTip(tr("The station and common address whose tables are shown and whose "
                                      "commands the command panel sends"));
    d->stationComboBox->hide();
    connect(d->stationComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index >= 0 && index < d->stationTables.size())
            d->responseStack->setCurrentWidget(d->stationTables.at(index).responses);
    });

    // Interrogations and clock syncs to every station and common address in turn.
    d->allStationsCheckBox = new QCheckBox(tr("Interrogations and clock syncs to all stations"));
    d->allStationsCheckBox->setObjectName(QStringLiteral("allStationsCheckBox"));
    d->allStationsCheckBox->hide();
    auto* stationRow = new QHBoxLayout;
    stationRow->addWidget(d->stationComboBox, 1);
    stationRow->addWidget(d->allStationsCheckBox);

    auto* dataLayout = new QVBoxLayout;
    dataLayout->addLayout(stationRow);
    dataLayout->addWidget(d->responseStack);
    dataLayout->addWidget(d->eventView);
    d->responseStack->setFixedHeight(525);

    auto* grid = new QGridLayout(this);
    grid->addWidget(d->connectBox, 0, 0, 1, 2);
    grid->addWidget(d->commandView, 1, 0);
    grid->addLayout(dataLayout, 1, 1);
    d->connectBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    d->commandView->setFixedWidth(300);

    d->monitor = new LineMonitor(this);
    d->monitor->setObjectName(QStringLiteral("lineMonitor"));
    d->monitor->hide();
    d->monitor->installEventFilter(this);
    d->form = new CommandForm(this);
    d->form->setObjectName(QStringLiteral("commandForm"));
    d->form->hide();
    d->form->installEventFilter(this);
    connect(d->form, &CommandForm::statusMessage, this, &Iec101View::setStatusBarMessage);
    connect(d->form, &CommandForm::sendRequested, this, [this](CommandRequest request) {
        d->addressToSelected(request);
        MasterEngine* engine = d->engine;
        d->onEngine([engine, request] { engine->send(request); });
    });

    d->network = new Iec101Network(nullptr);
    d->engine = d->network->master();
    d->connectEngine();
    d->makeCommissioning();

    connect(d->settingsButton, &QPushButton::clicked, d->settingDialog, &QDialog::show);
    connect(d->connectButton, &QPushButton::clicked, this, &Iec101View::connectClicked);
    connect(d->disconnectButton, &QPushButton::clicked, this, &Iec101View::disconnectClicked);

    d->network->moveToThread(&d->workerThread);
    d->listener->moveToThread(&d->workerThread);
    // The engine's timers run on the worker; the line is closed there, before it ends.
    Iec101Network* network = d->network;
    connect(&d->workerThread, &QThread::finished, network, &Iec101Network::doDisconnect,
            Qt::DirectConnection);
    connect(&d->workerThread, &QThread::finished, d->listener, &LineListener::close, Qt::DirectConnection);
    d->workerThread.start(QThread::InheritPriority);
}

Iec101View::~Iec101View()
{
    // Whatever the engine still reports while it winds down has no view to go to.
    disconnect(d->engine, nullptr, this, nullptr);
    disconnect(d->listener, nullptr, this, nullptr);
    d->workerThread.quit();
    d->workerThread.wait(QDeadlineTimer(QDeadlineTimer::Forever));
    // The thread has ended, so nothing else can touch the engine.
    delete d->listener;
    d->listener = nullptr;
    delete d->network;
    d->network = nullptr;
    d->engine = nullptr;
}

void Iec101View::Private::connectEngine()
{
    // The engine's signals reach the view queued, in the order it emitted them.
    QObject::connect(engine, &MasterEngine::linkStateChanged, q,
                     [this](int linkAddress, LinkState state) { stationLinkState(linkAddress, state); });
    QObject::connect(engine, &MasterEngine::statusMessage, q, &Iec101View::setStatusBarMessage);
    QObject::connect(engine, &MasterEngine::dataReceived, q,
                     [this](const QVector<InfoObject>& objects) { unsolicitedData(objects); });
    QObject::connect(
        engine, &MasterEngine::commandFinished, q,
        [this](const CommandRequest& request, const CommandOutcome& outcome,
               const QVector<InfoObject>& answer) { commandFinished(request, outcome, answer); });
    QObject::connect(engine, &MasterEngine::initialDataFinished, q,
                     [this](int linkAddress, bool complete) { initialDataFinished(linkAddress, complete); });
    MasterEngine* target = engine;
    QObject::connect(engine, &MasterEngine::lineFramesReady, q,
                     [this, target](const QVector<LineFrame>& frames, int dropped) {
                         if (monitor)
                             monitor->addFrames(frames, dropped);
                         tracker->addFrames(frames, dropped);
                         // Only now may the engine send the next batch.
                         QMetaObject::invokeMethod(target, &MasterEngine::lineFramesTaken,
                                                   Qt::QueuedConnection);
                     });
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
    return d->monitor.data();
}

FindingsPanel* Iec101View::findingsPanel() const
{
    return d->findingsPanel.data();
}

CommandForm* Iec101View::commandForm() const
{
    return d->form.data();
}

bool Iec101View::exportEventLog(const QString& path)
{
    d->exportError.clear();
    return CsvExport::toFile(
        path, [this](QIODevice* device, QString* error) { return d->eventView->exportCsv(device, error); },
        &d->exportError);
}

bool Iec101View::exportEventLog(QIODevice* device)
{
    d->exportError.clear();
    return d->eventView->exportCsv(device, &d->exportError);
}

bool Iec101View::exportTable(ResponseTable table, const QString& path)
{
    d->exportError.clear();
    return CsvExport::toFile(
        path,
        [this, table](QIODevice* device, QString* error) {
            return d->currentResponses()->exportCsv(panelTable(table), device, error);
        },
        &d->exportError);
}

bool Iec101View::exportTable(ResponseTable table, QIODevice* device)
{
    d->exportError.clear();
    return d->currentResponses()->exportCsv(panelTable(table), device, &d->exportError);
}

QString Iec101View::exportErrorString() const
{
    return d->exportError;
}

bool Iec101View::eventFilter(QObject* watched, QEvent* event)
{
    // The view watches only the line monitor, the findings panel and the command form. Each
    // is hidden while it is an unplaced child of the view; a host that gives it another
    // parent wants to see it. The watched object is not cast to its own class here: the
    // filter also sees the events a panel gets while it is being destroyed.
    if (event->type() == QEvent::ParentChange) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->parentWidget() != this)
            widget->show();
    }
    return QWidget::eventFilter(watched, event);
}

void Iec101View::Private::makeConnectBox()
{
    connectBox = new QGroupBox(Iec101View::tr("Connection"));
    connectBox->setObjectName(QStringLiteral("connectBox"));

    auto* portLabel = new QLabel(QStringLiteral("Port: "));
    portLabel->setObjectName(QStringLiteral("portLabel"));
    portComboBox = new QComboBox;
    portComboBox->setObjectName(QStringLiteral("portComboBox"));
    portComboBox->setView(new QListView(portComboBox));

    q->updateAvailablePorts();
    portRefreshTimer->start(kPortRefreshIntervalMs);

    serialDialog = new SerialDialog(kAllSerialComboBoxes, q);
    serialDialog->setObjectName(QStringLiteral("serialDialog"));
    serialDialog->setMetaEnumList(QList<QMetaEnum>{engineEnum("BaudRate"), engineEnum("DataBits"),
                                                   engineEnum("Parity"), engineEnum("StopBits")});

    auto* serialButton = new QPushButton(Iec101View::tr("Serial parameters"));
    serialButton->setObjectName(QStringLiteral("serialButton"));
    settingsButton = new QPushButton(Iec101View::tr("IEC101 settings"));
    settingsButton->setObjectName(QStringLiteral("settingsButton"));
    connectButton = new QPushButton(Iec101View::tr("Connect"));
    connectButton->setObjectName(QStringLiteral("connectButton"));
    disconnectButton = new QPushButton(Iec101View::tr("Disconnect"));
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
    // Listening on a tapped line: the port opens read-only, a second one hears the
    // station's direction of a full-duplex tap.
    listenCheckBox = new QCheckBox(Iec101View::tr("Listen only"));
    listenCheckBox->setObjectName(QStringLiteral("listenCheckBox"));
    listenCheckBox->setToolTip(
        Iec101View::tr("Open the port read-only and decode what another master and the "
                       "station say; nothing is ever sent"));
    auto* listenPortLabel = new QLabel(Iec101View::tr("Station side: "));
    listenPortLabel->setObjectName(QStringLiteral("listenPortLabel"));
    listenPortComboBox = new QComboBox;
    listenPortComboBox->setObjectName(QStringLiteral("listenPortComboBox"));
    listenPortComboBox->setToolTip(Iec101View::tr("For a full-duplex tap: the port that hears the station "
                                                  "(the port above then hears the master)"));
    listenPortComboBox->setEnabled(false);
    grid->addWidget(listenCheckBox, 1, 0, 1, 2);
    grid->addWidget(listenPortLabel, 1, 2);
    grid->addWidget(listenPortComboBox, 1, 3);
    QObject::connect(listenCheckBox, &QCheckBox::toggled, listenPortComboBox, &QComboBox::setEnabled);
    q->updateAvailablePorts();

    QObject::connect(serialButton, &QPushButton::clicked, serialDialog, &QDialog::show);
}

void Iec101View::Private::getRegistryValue()
{
    settings.beginGroup(q->objectName());
    settings.beginGroup(QStringLiteral("settings"));
    for (int i = 0; i < kSettingCount; ++i)
        registrySettings[i] = settings.value(QString::number(i + 1), kDefaultProtocolSettings[i]).toInt();
    // Stored before there was a station list: the one station of the six settings.
    registryStationsText = settings.value(QStringLiteral("stations")).toString();
    registryBalanced = settings.value(QStringLiteral("mode")).toString() == QLatin1String("balanced");
    registryOwnAddress = settings.value(QStringLiteral("ownAddress"), 0).toInt();
    settings.endGroup();
    settings.endGroup();
}

void Iec101View::Private::makeSettingDialog()
{
    settingDialog = new QDialog(q);
    settingDialog->setObjectName(QStringLiteral("settingDialog"));
    settingDialog->setWindowTitle(Iec101View::tr("IEC101 Settings"));

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
        {caEdit, "caEdit", Iec101View::tr("Common adress of ASDU: "), "0-65534", 0, 65534},
        {caSizeEdit, "caSizeEdit", Iec101View::tr("Common adress of ASDU size: "), "1-2", 1, 2},
        {linkAddressEdit, "linkAddressEdit", Iec101View::tr("Link layer address: "), "0-65534", 0, 65534},
        {linkAddressSizeEdit, "linkAddressSizeEdit", Iec101View::tr("Link layer address size: "), "1-2", 1,
         2},
        {ioaSizeEdit, "ioaSizeEdit", Iec101View::tr("Info object address size: "), "2-3", 2, 3},
        {cotSizeEdit, "cotSizeEdit", Iec101View::tr("Cause of transmission size: "), "1-2", 1, 2},
    }};

    auto* grid = new QGridLayout(settingDialog);
    int row = 0;
    for (const Field& field : fields) {
        auto* label = new QLabel(field.label);
        label->setObjectName(QLatin1String(field.name).chopped(4) + QStringLiteral("Label"));
        field.edit = new QLineEdit;
        field.edit->setObjectName(QLatin1String(field.name));
        field.edit->setPlaceholderText(QLatin1String(field.placeholder));
        field.edit->setValidator(new QIntValidator(field.bottom, field.top, q));
        grid->addWidget(label, row, 0);
        grid->addWidget(field.edit, row, 1);
        ++row;
    }

    // Several stations on the line, and balanced mode: beyond the six settings.
    auto* stationsLabel = new QLabel(Iec101View::tr("Stations (link:CA,CA;...): "));
    stationsLabel->setObjectName(QStringLiteral("stationsLabel"));
    stationsEdit = new QLineEdit;
    stationsEdit->setObjectName(QStringLiteral("stationsEdit"));
    stationsEdit->setPlaceholderText(Iec101View::tr("one station: the link and common address above"));
    stationsEdit->setToolTip(
        Iec101View::tr("Several stations on the line, polled in turn, each with its common "
                       "addresses: 1:1;2:2;3:3,4. Empty: the one station above."));
    grid->addWidget(stationsLabel, row, 0);
    grid->addWidget(stationsEdit, row++, 1);
    balancedCheckBox = new QCheckBox(Iec101View::tr("Balanced mode (point to point)"));
    balancedCheckBox->setObjectName(QStringLiteral("balancedCheckBox"));
    auto* ownAddressLabel = new QLabel(Iec101View::tr("Own link address (balanced): "));
    ownAddressLabel->setObjectName(QStringLiteral("ownAddressLabel"));
    ownAddressEdit = new QLineEdit;
    ownAddressEdit->setObjectName(QStringLiteral("ownAddressEdit"));
    ownAddressEdit->setPlaceholderText(QStringLiteral("0-65534"));
    ownAddressEdit->setValidator(new QIntValidator(0, 65534, q));
    grid->addWidget(balancedCheckBox, row++, 0, 1, 2);
    grid->addWidget(ownAddressLabel, row, 0);
    grid->addWidget(ownAddressEdit, row++, 1);

    defaultButton = new QPushButton(Iec101View::tr("Default"));
    defaultButton->setObjectName(QStringLiteral("defaultButton"));
    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttonBox->setObjectName(QStringLiteral("settingButtonBox"));
    auto* bottomRow = new QHBoxLayout;
    bottomRow->addWidget(defaultButton);
    bottomRow->addWidget(buttonBox);
    grid->addLayout(bottomRow, row, 0, 1, 2);

    QObject::connect(buttonBox, &QDialogButtonBox::accepted, settingDialog, &QDialog::accept);
    QObject::connect(buttonBox, &QDialogButtonBox::rejected, settingDialog, &QDialog::reject);
    QObject::connect(defaultButton, &QPushButton::clicked, q, &Iec101View::defaultClicked);

    // Puts the stored values in force and into the fields.
    defaultButton->click();
}

void Iec101View::Private::setCommandsEnabled(bool enabled, const QString& why)
{
    commandView->setEnabled(enabled);
    commandView->setToolTip(why);
    if (form) {
        form->setEnabled(enabled);
        form->setToolTip(why);
    }
}

void Iec101View::Private::addressToSelected(CommandRequest& request) const
{
    const int selected = stationComboBox->currentIndex();
    if (stationTables.size() > 1 && selected >= 0 && selected < stationTables.size()) {
        request.linkAddress = stationTables.at(selected).linkAddress;
        request.commonAddress = stationTables.at(selected).commonAddress;
    }
}

void Iec101View::Private::disableConnectBox(bool disable)
{
    connectButton->setDisabled(disable);
    portComboBox->setDisabled(disable);
    listenCheckBox->setDisabled(disable);
    listenPortComboBox->setDisabled(disable || !listenCheckBox->isChecked());
    serialDialog->setDisabled(disable);
    settingDialog->setDisabled(disable);
}

void Iec101View::connectClicked()
{
    d->portRefreshTimer->stop();
    d->disableConnectBox(true);

    d->initialDataCheckBox->setChecked(false);
    d->connected = true;
    d->waitingForInitialData = true;

    d->commandView->resetState();
    d->eventView->clearEvents();
    d->responseView->clearResponses();
    const ProtocolSettings protocol = d->protocolSettings();
    d->setUpStations(protocol);

    SerialParam param = d->serialDialog->serialParam();
    param.portName = d->portComboBox->currentText();
    d->serialDialog->saveSettings();
    if (d->monitor)
        d->monitor->setSession(param, d->lastSettings);

    const SerialSettings serial = SerialSettings::fromParam(param);
    d->tracker->startSession(protocol, serial.baudRate, serial.bitsPerCharacter());
    if (d->findingsPanel) {
        QVector<int> stations;
        for (const Station& station : protocol.stationList())
            stations << station.linkAddress;
        d->findingsPanel->setStations(stations);
        d->findingsPanel->reload();
    }
    d->listening = d->listenCheckBox->isChecked();
    CommissioningReport::Session session;
    session.serial = serial;
    session.protocol = protocol;
    session.listenOnly = d->listening;
    if (d->listening)
        session.secondPort = d->listenPortComboBox->currentText();
    d->reportSession = session;
    if (d->listening) {
        // The other master's interrogations are its own: there is no initial data to wait for.
        d->waitingForInitialData = false;
        // Nothing may go out on a tapped line: the commands are off while it listens.
        d->setCommandsEnabled(false, tr("Listen only: commands are off, nothing is sent on the tapped line"));
        LineListener* listener = d->listener;
        const QString second = d->listenPortComboBox->currentText();
        QMetaObject::invokeMethod(
            listener, [listener, serial, protocol, second] { listener->open(serial, protocol, second); },
            Qt::QueuedConnection);
        return;
    }
    if (d->form)
        d->form->setLineOpen(true);
    Q_EMIT doConnect(param, d->lastSettings);
    MasterEngine* engine = d->engine;
    d->onEngine([engine, serial, protocol] { engine->open(serial, protocol); });
}

void Iec101View::disconnectClicked()
{
    d->connected = false;
    if (d->listening) {
        d->listening = false;
        LineListener* listener = d->listener;
        QMetaObject::invokeMethod(listener, &LineListener::close, Qt::QueuedConnection);
        d->setCommandsEnabled(true, QString());
        d->disableConnectBox(false);
        d->portRefreshTimer->start(kPortRefreshIntervalMs);
        return;
    }
    if (d->form)
        d->form->setLineOpen(false);
    Q_EMIT doDisconnect();
    MasterEngine* engine = d->engine;
    d->onEngine([engine] { engine->close(); });
    d->disableConnectBox(false);
    d->portRefreshTimer->start(kPortRefreshIntervalMs);
}

void Iec101View::sendCommandRequested(Command::CommandType commandType, const QVector<int>& values)
{
    d->currentResponses()->clearReady();
    Q_EMIT sendCommand(commandType, values);
    CommandRequest request;
    if (!CommandRequest::fromCommand(commandType, values, &request))
        return;
    if (request.typeId == C_CS_NA_1 && d->form)
        request.addMeasuredDelay = d->form->addsDelayToClockSync();
    QVector<CommandRequest> requests{request};
    const bool toAll = d->allStationsCheckBox->isChecked() && !request.broadcast &&
                       (request.isInterrogation() || request.typeId == C_CS_NA_1);
    if (d->stationTables.size() > 1 && toAll) {
        requests.clear();
        for (const Private::StationTables& tables : qAsConst(d->stationTables)) {
            CommandRequest each = request;
            each.linkAddress = tables.linkAddress;
            each.commonAddress = tables.commonAddress;
            requests << each;
        }
    } else {
        d->addressToSelected(requests.first());
    }
    MasterEngine* engine = d->engine;
    if (requests.size() > 1) {
        // One after another, each station and common address in turn.
        d->onEngine([engine, requests] {
            for (const CommandRequest& each : requests)
                engine->send(each);
        });
        return;
    }
    const CommandRequest single = requests.first();
    d->onEngine([engine, single] {
        // A command of a type that already waits is dropped: an operator who presses a
        // button again while the first press waits gets one command, not two.
        if (engine->isCommandPending() && engine->isQueued(single.typeId))
            return;
        engine->send(single);
    });
}

void Iec101View::defaultClicked()
{
    for (int i = 0; i < kSettingCount; ++i)
        d->lastSettings[i] = d->registrySettings[i];
    d->stationsText = d->registryStationsText;
    d->balanced = d->registryBalanced;
    d->ownAddress = d->registryOwnAddress;
    settingDialogFinished(0);
}

void Iec101View::updateAvailablePorts()
{
    const QString current = d->portComboBox->currentText();
    d->portComboBox->clear();

    QStringList names;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        names.append(info.portName());
    names.append(extraPorts());

    // Keep the operator's choice while a port of that name exists, else the first one.
    int index = 0;
    for (int i = 0; i < names.size(); ++i) {
        d->portComboBox->addItem(names.at(i));
        if (names.at(i) == current)
            index = i;
    }
    d->portComboBox->setCurrentIndex(index);
    // The station's side of a full-duplex tap is optional: the first entry is none.
    if (d->listenPortComboBox) {
        const QString second = d->listenPortComboBox->currentText();
        d->listenPortComboBox->clear();
        d->listenPortComboBox->addItem(QString());
        d->listenPortComboBox->addItems(names);
        d->listenPortComboBox->setCurrentIndex(qMax(0, d->listenPortComboBox->findText(second)));
    }
}

void Iec101View::Private::stationLinkState(int linkAddress, LinkState state)
{
    stationStates.insert(linkAddress, state);
    showStationStates();
    // The line as a whole: the first station's state, or a summary of all.
    if (stationTables.isEmpty() || linkAddress == stationTables.first().linkAddress ||
        stationStates.size() > 1)
        linkStateChanged(linkAddress, state);
}

void Iec101View::Private::linkStateChanged(int linkAddress, LinkState state)
{
    QSet<int> addresses;
    for (const StationTables& tables : qAsConst(stationTables))
        addresses << tables.linkAddress;
    if (addresses.size() > 1) {
        // Several stations: the line is closed once (the first station says so), otherwise
        // the status names those that are not available.
        if (state == LinkState::Disconnected) {
            if (linkAddress == stationTables.first().linkAddress)
                q->linkLayerStateChanged(QStringLiteral("Disconnected"));
            return;
        }
        QStringList notAvailable;
        bool anyAvailable = false;
        for (int address : addresses) {
            const LinkState each = stationStates.value(address, LinkState::Connecting);
            if (each == LinkState::Available)
                anyAvailable = true;
            else
                notAvailable << QStringLiteral("%1 %2").arg(address).arg(linkStateName(each));
        }
        if (!anyAvailable && notAvailable.size() == addresses.size() && state == LinkState::Connecting)
            return;
        QString text = waitingForInitialData ? QStringLiteral("Available. Waiting for initial data")
                                             : QStringLiteral("Available");
        if (!notAvailable.isEmpty())
            text = anyAvailable
                       ? QStringLiteral("%1; station %2").arg(text, notAvailable.join(QStringLiteral(", ")))
                       : QStringLiteral("Error; station %1").arg(notAvailable.join(QStringLiteral(", ")));
        q->linkLayerStateChanged(text);
        if (anyAvailable && !notAvailable.isEmpty())
            statusLineEdit->setStyleSheet(kYellowStyle);
        return;
    }
    switch (state) {
    case LinkState::Available:
        q->linkLayerStateChanged(waitingForInitialData ? QStringLiteral("Available. Waiting for initial data")
                                                       : QStringLiteral("Available"));
        break;
    case LinkState::Error:
        q->linkLayerStateChanged(QStringLiteral("Error"));
        break;
    case LinkState::Busy:
        q->linkLayerStateChanged(QStringLiteral("Busy"));
        break;
    case LinkState::Disconnected:
        q->linkLayerStateChanged(QStringLiteral("Disconnected"));
        break;
    case LinkState::Connecting:
        break;
    }
}

void Iec101View::linkLayerStateChanged(const QString& state)
{
    if (state == QLatin1String("Disconnected")) {
        d->statusLineEdit->setStyleSheet(kRedStyle);
        disconnectClicked();
        QMessageBox::information(this, QStringLiteral("Notice"), QStringLiteral("IEC101 disconnected."),
                                 QMessageBox::Ok);
    } else if (state.contains(QLatin1String("Available"))) {
        d->statusLineEdit->setStyleSheet(kLimeStyle);
    } else if (state == QLatin1String("Error")) {
        d->statusLineEdit->setStyleSheet(kYellowStyle);
    } else if (state == QLatin1String("Busy")) {
        d->statusLineEdit->setStyleSheet(kOrangeStyle);
    }
    d->statusLineEdit->setText(state);
    // A text too long for the field shows its beginning.
    d->statusLineEdit->setCursorPosition(0);
}

void Iec101View::Private::unsolicitedData(const QVector<InfoObject>& objects)
{
    // Spontaneous objects go to the log and update the tables; periodic and background
    // data, and late answers, only update the tables, where they add their rows.
    QVector<InfoObject> events;
    for (const InfoObject& object : objects) {
        if (object.spontaneous)
            events.append(object);
    }
    if (!events.isEmpty())
        q->spontaneousDataReady(events);
    for (const InfoObject& object : objects) {
        if (!object.spontaneous) {
            showSwitchStates(object);
            responsesFor(object)->updateObject(object, object.address);
        }
    }
}

void Iec101View::spontaneousDataReady(const QVector<InfoObject>& objects)
{
    // One insertion into the log for the whole batch.
    d->eventView->addEvents(objects);
    for (const InfoObject& object : objects)
        readResponseReady(object);
}

void Iec101View::Private::commandFinished(const CommandRequest& request, const CommandOutcome& outcome,
                                          const QVector<InfoObject>& answer)
{
    // The form's own commands end in the form; the tables have nothing to do with them.
    if (form && form->isOwnRequest(request.id)) {
        form->commandFinished(request, outcome);
        return;
    }
    // A command that never went out left the tables as they were; an interrogation the
    // engine tries again has not ended yet.
    if (outcome.result == CommandOutcome::Result::NotSent || outcome.retrying)
        return;
    Command::CommandType type = Command::Read;
    const bool panel = request.commandType(&type);
    if (request.typeId == C_RD_NA_1) {
        // The answer carries the address that was read, so a row is added for it even
        // when the table does not list it yet.
        for (const InfoObject& object : answer) {
            if (!ObjectKind::isMonitoring(object.typeId))
                continue;
            showSwitchStates(object);
            responsesFor(object)->updateObject(object, request.objectAddress);
        }
    } else if (panel) {
        q->requestedDataReady(answer, type);
    }
    if (panel)
        q->responseEnded(type);
    else
        currentResponses()->responseFinished(initialDataCheckBox->isChecked());
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
        d->commandView->timeSyncReady(echo == objects.cend() ? InfoObject() : *echo);
    }
    // Data the station sent with a command's confirmations.
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
                           [this] { d->commandView->readControlObjectState(); });
    }
    d->currentResponses()->responseFinished(d->initialDataCheckBox->isChecked());
}

void Iec101View::readResponseReady(const InfoObject& object)
{
    d->showSwitchStates(object);
    d->responsesFor(object)->updateObject(object, 0);
}

void Iec101View::Private::showSwitchStates(const InfoObject& object)
{
    // The local/remote switch is a single point and the switching devices are double
    // points, whichever variant of time tag the station sends them with.
    const ObjectKind::Kind kind = ObjectKind::kindOf(object.typeId);
    if (kind == ObjectKind::SinglePoint)
        commandView->checkLocalRemoteSwitch(object.address, object.value.toBool());
    if (kind == ObjectKind::DoublePoint)
        commandView->checkObjectState(object.address, object.value.toInt());
}

void Iec101View::Private::initialDataFinished(int linkAddress, bool complete)
{
    // Both interrogations after the link came up have ended for good, at every station;
    // with their data the initial data is complete. Either way the line is now simply
    // available.
    initialData.insert(linkAddress, complete);
    QSet<int> addresses;
    for (const StationTables& tables : qAsConst(stationTables))
        addresses << tables.linkAddress;
    for (int address : addresses) {
        if (!initialData.contains(address))
            return;
    }
    waitingForInitialData = false;
    initialDataCheckBox->setChecked(
        std::all_of(initialData.cbegin(), initialData.cend(), [](bool c) { return c; }));
    if (connected)
        q->linkLayerStateChanged(QStringLiteral("Available"));
}

ResponseView* Iec101View::Private::responsesFor(int linkAddress, int commonAddress)
{
    for (const StationTables& tables : qAsConst(stationTables)) {
        if (tables.linkAddress == linkAddress && tables.commonAddress == commonAddress)
            return tables.responses;
    }
    // One station and common address: all goes to the one set of tables, whatever the
    // station puts in its common address field. So does all past the last table allowed.
    if (stationTables.size() <= 1 || stationTables.size() >= kMaxStationTables)
        return responseView;
    // An address the list does not have (a station answering under another common
    // address): tables of its own, so that its data is not mixed with another's.
    auto* responses = new ResponseView(nullptr);
    responses->setObjectName(QStringLiteral("responseView_%1_%2").arg(linkAddress).arg(commonAddress));
    responses->setPointLists(&tracker->pointLists());
    responseStack->addWidget(responses);
    stationTables.append({linkAddress, commonAddress, responses});
    showStationStates();
    return responses;
}

ResponseView* Iec101View::Private::currentResponses() const
{
    const int index = stationComboBox->currentIndex();
    return index >= 0 && index < stationTables.size() ? stationTables.at(index).responses : responseView;
}

void Iec101View::Private::setUpStations(const ProtocolSettings& protocol)
{
    // The tables of the last connection's other stations go; the first set stays.
    for (const StationTables& tables : qAsConst(stationTables)) {
        if (tables.responses != responseView) {
            responseStack->removeWidget(tables.responses);
            tables.responses->deleteLater();
        }
    }
    stationTables.clear();
    stationStates.clear();
    initialData.clear();
    for (const Station& station : protocol.stationList()) {
        for (int ca : station.commonAddresses) {
            ResponseView* responses = responseView;
            if (!stationTables.isEmpty()) {
                responses = new ResponseView(nullptr);
                responses->setObjectName(
                    QStringLiteral("responseView_%1_%2").arg(station.linkAddress).arg(ca));
                responses->setPointLists(&tracker->pointLists());
                responseStack->addWidget(responses);
            }
            stationTables.append({station.linkAddress, ca, responses});
        }
        if (protocol.mode == LinkMode::Balanced)
            break;
    }
    responseStack->setCurrentWidget(responseView);
    showStationStates();
    stationComboBox->setCurrentIndex(0);
    const bool several = stationTables.size() > 1;
    stationComboBox->setVisible(several);
    allStationsCheckBox->setVisible(several);
    eventView->setStationColumnShown(several);
}

void Iec101View::Private::showStationStates()
{
    const QSignalBlocker quiet(stationComboBox);
    const int selected = stationComboBox->currentIndex();
    stationComboBox->clear();
    for (const StationTables& tables : qAsConst(stationTables)) {
        stationComboBox->addItem(
            QStringLiteral("Station %1, CA %2: %3")
                .arg(tables.linkAddress)
                .arg(tables.commonAddress)
                .arg(linkStateName(stationStates.value(tables.linkAddress, LinkState::Connecting))));
    }
    stationComboBox->setCurrentIndex(std::max(0, std::min(selected, stationComboBox->count() - 1)));
}

ProtocolSettings Iec101View::Private::protocolSettings() const
{
    ProtocolSettings protocol = ProtocolSettings::fromArray(lastSettings);
    ProtocolSettings::parseStations(stationsText, &protocol.stations);
    protocol.mode = balanced ? LinkMode::Balanced : LinkMode::Unbalanced;
    protocol.ownLinkAddress = ownAddress;
    return protocol;
}

void Iec101View::interrogationResponseReady(const QVector<InfoObject>& objects)
{
    if (objects.isEmpty())
        return;
    // The local/remote switch counts wherever the station puts it in its answer. Each
    // station and common address loads its own tables.
    QMap<QPair<int, int>, QVector<InfoObject>> perStation;
    for (const InfoObject& object : objects) {
        d->showSwitchStates(object);
        perStation[qMakePair(object.linkAddress, object.commonAddress)].append(object);
    }
    for (auto it = perStation.cbegin(); it != perStation.cend(); ++it)
        d->responsesFor(it.key().first, it.key().second)->updateObjects(it.value());
}

void Iec101View::settingDialogFinished(int result)
{
    const std::array<QLineEdit*, kSettingCount> edits{
        d->caEdit, d->caSizeEdit, d->linkAddressEdit, d->linkAddressSizeEdit, d->ioaSizeEdit, d->cotSizeEdit};
    if (result != 0) {
        for (int i = 0; i < kSettingCount; ++i)
            d->lastSettings[i] = edits[i]->text().toInt();
        // A station list that does not read is not taken; the operator hears why.
        QVector<Station> stations;
        QString problem;
        if (ProtocolSettings::parseStations(d->stationsEdit->text(), &stations, &problem))
            d->stationsText = ProtocolSettings::stationsText(stations);
        else
            Q_EMIT setStatusBarMessage(tr("Station list not taken: %1").arg(problem));
        d->balanced = d->balancedCheckBox->isChecked();
        d->ownAddress = d->ownAddressEdit->text().toInt();
        d->settings.beginGroup(objectName());
        d->settings.beginGroup(QStringLiteral("settings"));
        for (int i = 0; i < kSettingCount; ++i)
            d->settings.setValue(QString::number(i + 1), d->lastSettings[i]);
        d->settings.setValue(QStringLiteral("stations"), d->stationsText);
        d->settings.setValue(QStringLiteral("mode"),
                             d->balanced ? QStringLiteral("balanced") : QStringLiteral("unbalanced"));
        d->settings.setValue(QStringLiteral("ownAddress"), d->ownAddress);
        d->settings.endGroup();
        d->settings.endGroup();
        return;
    }
    for (int i = 0; i < kSettingCount; ++i)
        edits[i]->setText(QStringLiteral("%1").arg(d->lastSettings[i]));
    d->stationsEdit->setText(d->stationsText);
    d->balancedCheckBox->setChecked(d->balanced);
    d->ownAddressEdit->setText(QString::number(d->ownAddress));
}

void Iec101View::Private::makeCommissioning()
{
    tracker = new FindingsTracker(q);
    tracker->setObjectName(QStringLiteral("findingsTracker"));
    QObject::connect(engine, &MasterEngine::commandFinished, tracker, &FindingsTracker::addCommand);

    findingsPanel = new FindingsPanel(tracker, q);
    findingsPanel->setObjectName(QStringLiteral("findingsPanel"));
    findingsPanel->hide();
    findingsPanel->installEventFilter(q);
    QObject::connect(findingsPanel, &FindingsPanel::frameRequested, q, [this](qint64 timeUs) {
        if (!monitor || !monitor->showFrame(timeUs))
            Q_EMIT q->setStatusBarMessage(Iec101View::tr("The line monitor no longer holds that frame"));
    });
    QObject::connect(findingsPanel, &FindingsPanel::pointListChosen, q, [this](const QString& path) {
        const bool loaded = q->importPointList(path);
        if (!pointProblems.isEmpty() || !loaded) {
            const int shown = 20;
            QString text = pointProblems.mid(0, shown).join(QLatin1Char('\n'));
            if (pointProblems.size() > shown)
                text += Iec101View::tr("\n... and %1 more").arg(pointProblems.size() - shown);
            QMessageBox::warning(q, Iec101View::tr("Point list"),
                                 loaded ? Iec101View::tr("Loaded, without these rows:\n%1").arg(text)
                                        : Iec101View::tr("Not loaded:\n%1").arg(text));
        }
    });
    QObject::connect(findingsPanel, &FindingsPanel::reportChosen, q, [this](const QString& path) {
        Q_EMIT q->setStatusBarMessage(q->writeReport(path) ? Iec101View::tr("Report written to %1").arg(path)
                                                           : reportError);
    });

    listener = new LineListener(nullptr);
    listener->setObjectName(QStringLiteral("lineListener"));
    connectListener();

    loadPointLists();
    responseView->setPointLists(&tracker->pointLists());
    eventView->setPointLists(&tracker->pointLists());
    showPointListState();
}

void Iec101View::Private::connectListener()
{
    // What the tap hears reaches the view as the engine's reports do.
    QObject::connect(listener, &LineListener::linkStateChanged, q,
                     [this](int linkAddress, LinkState state) { stationLinkState(linkAddress, state); });
    QObject::connect(listener, &LineListener::statusMessage, q, &Iec101View::setStatusBarMessage);
    QObject::connect(listener, &LineListener::dataReceived, q,
                     [this](const QVector<InfoObject>& objects) { unsolicitedData(objects); });
    QObject::connect(listener, &LineListener::commandFinished, tracker, &FindingsTracker::addCommand);
    // The other master's answers fill the tables as the view's own would (without the read
    // back after a switch command: nothing is sent on a tap).
    QObject::connect(
        listener, &LineListener::commandFinished, q,
        [this](const CommandRequest& request, const CommandOutcome&, const QVector<InfoObject>& answer) {
            if (request.isInterrogation())
                q->interrogationResponseReady(answer);
            else
                unsolicitedData(answer);
        });
    LineListener* target = listener;
    QObject::connect(listener, &LineListener::lineFramesReady, q,
                     [this, target](const QVector<LineFrame>& frames, int dropped) {
                         if (monitor)
                             monitor->addFrames(frames, dropped);
                         tracker->addFrames(frames, dropped);
                         QMetaObject::invokeMethod(target, &LineListener::lineFramesTaken,
                                                   Qt::QueuedConnection);
                     });
}

void Iec101View::Private::loadPointLists()
{
    // Each station's list as it was imported, kept with the view's settings.
    settings.beginGroup(q->objectName());
    settings.beginGroup(QStringLiteral("points"));
    const QStringList stations = settings.childGroups();
    for (const QString& station : stations) {
        bool ok = false;
        const int linkAddress = station.toInt(&ok);
        if (!ok)
            continue;
        QVector<PointList::Problem> problems;
        tracker->setPointList(
            linkAddress,
            PointList::fromCsv(settings.value(station + QStringLiteral("/csv")).toByteArray(), &problems));
    }
    settings.endGroup();
    settings.endGroup();
}

void Iec101View::Private::showPointListState()
{
    if (!findingsPanel)
        return;
    int points = 0;
    for (const PointList& list : tracker->pointLists())
        points += list.size();
    findingsPanel->setPointListText(points == 0 ? Iec101View::tr("No point list")
                                                : Iec101View::tr("%n listed point(s)", nullptr, points));
}

bool Iec101View::importPointList(const QString& path, int linkAddress)
{
    d->pointProblems.clear();
    if (linkAddress < 0)
        linkAddress = d->currentLinkAddress();
    QVector<PointList::Problem> problems;
    const PointList list = PointList::fromFile(path, &problems);
    for (const PointList::Problem& problem : problems)
        d->pointProblems << (problem.line > 0 ? tr("line %1: %2").arg(problem.line).arg(problem.reason)
                                              : problem.reason);
    if (list.isEmpty() && !problems.isEmpty())
        return false;
    d->tracker->setPointList(linkAddress, list);
    // The list as it was read, so that it loads the same next time even if the file moved.
    d->settings.beginGroup(objectName());
    d->settings.beginGroup(QStringLiteral("points"));
    d->settings.setValue(QStringLiteral("%1/csv").arg(linkAddress), list.toCsv());
    d->settings.setValue(QStringLiteral("%1/file").arg(linkAddress), QFileInfo(path).absoluteFilePath());
    d->settings.endGroup();
    d->settings.endGroup();
    d->responseView->setPointLists(&d->tracker->pointLists());
    d->eventView->setPointLists(&d->tracker->pointLists());
    d->showPointListState();
    return true;
}

QStringList Iec101View::pointListProblems() const
{
    return d->pointProblems;
}

bool Iec101View::writeReport(const QString& path)
{
    d->reportError.clear();
    CommissioningReport::Session session;
    if (d->reportSession) {
        session = *d->reportSession;
    } else {
        SerialParam param = d->serialDialog->serialParam();
        param.portName = d->portComboBox->currentText();
        session.serial = SerialSettings::fromParam(param);
        session.protocol = d->tracker->protocol();
        session.listenOnly = d->listenCheckBox->isChecked();
        if (session.listenOnly)
            session.secondPort = d->listenPortComboBox->currentText();
    }
    d->tracker->finishChecks();
    if (!ReportPdf::write(CommissioningReport::html(session, *d->tracker), path, &d->reportError))
        return false;
    return CommissioningReport::writeFindingsCsv(d->tracker->findings(),
                                                 CommissioningReport::findingsCsvPath(path), &d->reportError);
}

QString Iec101View::reportErrorString() const
{
    return d->reportError;
}

} // namespace iec101
