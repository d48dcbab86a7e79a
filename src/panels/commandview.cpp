#include "commandview.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QListView>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "metatypes.h"
#include "objecttext.h"
#include "stationaddressplan.h"

// The switch icons are compiled into the widgets layer. Built into the shared library
// they register themselves; a program that links the layer statically (the tests) must
// ask for them. Registering twice is harmless. Outside any namespace, as Qt requires.
static void registerIcons()
{
    Q_INIT_RESOURCE(icons);
}

namespace iec101 {

namespace {

const char* const kStatusStyle = "background-color: cyan; color: black;";

QComboBox* makeCombo(const char* name)
{
    auto* combo = new QComboBox;
    combo->setObjectName(QLatin1String(name));
    combo->setView(new QListView(combo));
    return combo;
}

template <typename W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

CommandView::CommandView(QWidget* parent) : QWidget(parent)
{
    registerIcons();
    // Its signal spells the command type by the name the engine registers.
    registerMetaTypes();
    setObjectName(QStringLiteral("commandView"));
    repeatTimer.setObjectName(QStringLiteral("repeatTimer"));
    repeatCheckBox.setObjectName(QStringLiteral("repeatCheckBox"));
    broadcastCheckBox.setObjectName(QStringLiteral("broadcastCheckBox"));
    repeatMinutesEdit.setObjectName(QStringLiteral("repeatMinutesEdit"));

    makeReadGroup();
    makeInterrogationGroup();
    makeSingleGroup();
    makeDoubleGroup();
    makeTimeSyncGroup();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(readGroup);
    layout->addWidget(interrogationGroup);
    layout->addWidget(singleGroup);
    layout->addWidget(doubleGroup);
    layout->addWidget(timeSyncGroup);

    interrogationGroup->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    readGroup->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    timeSyncGroup->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(readSendButton, &QPushButton::clicked, this, &CommandView::readCmdButtonClicked);
    connect(interrogationSendButton, &QPushButton::clicked, this,
            &CommandView::interrogationCmdButtonClicked);
    connect(singleSendButton, &QPushButton::clicked, this, &CommandView::singleCmdButtonClicked);
    connect(openButton, &QPushButton::clicked, this, &CommandView::doubleCmdOpenButtonClicked);
    connect(closeButton, &QPushButton::clicked, this, &CommandView::doubleCmdCloseButtonClicked);
    connect(timeSyncSendButton, &QPushButton::clicked, this, &CommandView::timeSyncClicked);
    connect(&repeatTimer, &QTimer::timeout, this, &CommandView::sendTimeSync);
    connect(interrogationTypeGroup, &QButtonGroup::idClicked, this,
            &CommandView::interrogationTypeButtonGroupClicked);
    connect(controlObjectCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CommandView::controlObjectChanged);
}

void CommandView::makeReadGroup()
{
    readGroup = named(new QGroupBox(tr("Read command")), "readGroup");
    readAddressEdit = named(new QLineEdit, "readAddressEdit");
    readAddressEdit->setPlaceholderText(QStringLiteral("Info Object Address"));
    readSendButton = named(new QPushButton(QStringLiteral("Send")), "readSendButton");

    auto* grid = new QGridLayout(readGroup);
    grid->addWidget(new QLabel(QStringLiteral("IOA:")), 0, 0);
    grid->addWidget(readAddressEdit, 0, 1);
    grid->addWidget(readSendButton, 0, 2);
}

void CommandView::makeInterrogationGroup()
{
    interrogationGroup = named(new QGroupBox(QStringLiteral("Interrogation command")), "interrogationGroup");
    interrogationTypeGroup = named(new QButtonGroup(this), "interrogationTypeGroup");
    generalInterrogationRadio =
        named(new QRadioButton(QStringLiteral("General interrogation")), "generalInterrogationRadio");
    counterInterrogationRadio =
        named(new QRadioButton(QStringLiteral("Counter interrogation")), "counterInterrogationRadio");
    generalInterrogationRadio->setChecked(true);
    interrogationTypeGroup->addButton(generalInterrogationRadio, 0);
    interrogationTypeGroup->addButton(counterInterrogationRadio, 1);
    qoiCombo = makeCombo("qoiCombo");
    qccCombo = makeCombo("qccCombo");
    qccCombo->setEnabled(false);
    interrogationSendButton = named(new QPushButton(QStringLiteral("Send")), "interrogationSendButton");

    auto* grid = new QGridLayout(interrogationGroup);
    grid->addWidget(generalInterrogationRadio, 0, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("QOI:")), 1, 0, Qt::AlignCenter);
    grid->addWidget(qoiCombo, 1, 1, 1, 2);
    grid->addWidget(counterInterrogationRadio, 2, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("QCC:")), 3, 0, Qt::AlignCenter);
    grid->addWidget(qccCombo, 3, 1, 1, 2);
    grid->addWidget(interrogationSendButton, 4, 2);
}

void CommandView::makeSingleGroup()
{
    singleGroup = named(new QGroupBox(tr("Single command")), "singleGroup");
    singleAddressCombo = makeCombo("singleAddressCombo");
    for (int address = StationAddressPlan::kFirstSingleCommand;
         address <= StationAddressPlan::kLastSingleCommand; ++address)
        singleAddressCombo->addItem(QStringLiteral("%1").arg(address));
    singleValueGroup = named(new QButtonGroup(this), "singleValueGroup");
    singleOnRadio = named(new QRadioButton(QStringLiteral("1")), "singleOnRadio");
    singleOffRadio = named(new QRadioButton(QStringLiteral("0")), "singleOffRadio");
    singleOnRadio->setChecked(true);
    singleValueGroup->addButton(singleOnRadio, 1);
    singleValueGroup->addButton(singleOffRadio, 0);
    singleSendButton = named(new QPushButton(tr("Send")), "singleSendButton");

    auto* grid = new QGridLayout(singleGroup);
    grid->setVerticalSpacing(15);
    grid->addWidget(new QLabel(QStringLiteral("Information Object Address:")), 0, 0, 1, 2);
    grid->addWidget(singleAddressCombo, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Value:")), 1, 0, 2, 1, Qt::AlignVCenter);
    grid->addWidget(singleOnRadio, 1, 1);
    grid->addWidget(singleOffRadio, 2, 1);
    grid->addWidget(singleSendButton, 1, 2, 2, 1, Qt::AlignVCenter);
}

void CommandView::makeDoubleGroup()
{
    doubleGroup = named(new QGroupBox(tr("Double command")), "doubleGroup");
    objectStateLabel = named(new QLabel, "objectStateLabel");
    objectStateLabel->setPixmap(QPixmap(QStringLiteral(":/icons/unconnected.png")));
    controlObjectCombo = makeCombo("controlObjectCombo");
    controlObjectCombo->addItem(tr("<Select>"));
    for (int n = 1; n <= StationAddressPlan::kControlObjectCount; ++n)
        controlObjectCombo->addItem(tr(QStringLiteral("Object %1").arg(n).toUtf8().constData()));
    openButton = named(new QPushButton(tr("Open")), "openButton");
    closeButton = named(new QPushButton(tr("Close")), "closeButton");
    openButton->setEnabled(false);
    closeButton->setEnabled(false);
    localRemoteEdit = named(new QLineEdit, "localRemoteEdit");
    localRemoteEdit->setPlaceholderText(QStringLiteral("Local / remote status"));
    localRemoteEdit->setReadOnly(true);

    auto* grid = new QGridLayout(doubleGroup);
    grid->addWidget(objectStateLabel, 0, 0, 3, 1, Qt::AlignVCenter);
    grid->addWidget(controlObjectCombo, 0, 1);
    grid->addWidget(openButton, 1, 1);
    grid->addWidget(closeButton, 2, 1);
    grid->addWidget(localRemoteEdit, 3, 0, 1, 2);
}

void CommandView::makeTimeSyncGroup()
{
    timeSyncGroup = named(new QGroupBox(tr("Time Sync")), "timeSyncGroup");
    repeatCheckBox.setText(tr("Repeat (mins)"));
    repeatMinutesEdit.setValidator(new QIntValidator(1, 60, &repeatMinutesEdit));
    broadcastCheckBox.setText(tr("Broadcast"));
    syncStatusLabel = named(new QLabel(tr("Never sync")), "syncStatusLabel");
    timeSyncSendButton = named(new QPushButton(tr("Send")), "timeSyncSendButton");

    auto* column = new QVBoxLayout(timeSyncGroup);
    column->setSpacing(15);
    auto* repeatRow = new QHBoxLayout;
    repeatRow->addWidget(&repeatCheckBox);
    repeatRow->addWidget(&repeatMinutesEdit);
    column->addLayout(repeatRow);
    column->addWidget(&broadcastCheckBox);
    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(syncStatusLabel);
    sendRow->addWidget(timeSyncSendButton);
    column->addLayout(sendRow);
}

void CommandView::setQccEnum(QMetaEnum metaEnum)
{
    qccEnum = metaEnum;
    for (int i = 0; i < metaEnum.keyCount(); ++i)
        qccCombo->addItem(QLatin1String(metaEnum.key(i)));
    qccCombo->setCurrentIndex(4);
}

void CommandView::setQoiEnum(QMetaEnum metaEnum)
{
    qoiEnum = metaEnum;
    for (int i = 0; i < metaEnum.keyCount(); ++i)
        qoiCombo->addItem(QLatin1String(metaEnum.key(i)));
}

int CommandView::takeRequestedReadAddress()
{
    const int address = requestedReadAddress;
    requestedReadAddress = 0;
    return address;
}

void CommandView::readControlObjectState()
{
    Q_EMIT requestSendCommand(Command::Read,
                              {StationAddressPlan::kObjectStateBase + controlObjectCombo->currentIndex()});
}

void CommandView::interrogationTypeButtonGroupClicked(int index)
{
    const bool counter = index != 0;
    qccCombo->setEnabled(counter);
    qoiCombo->setEnabled(!counter);
}

void CommandView::readCmdButtonClicked()
{
    // A text that is not a decimal int (empty, garbage, out of range) reads as 0.
    requestedReadAddress = readAddressEdit->text().toInt(nullptr, 10);
    Q_EMIT requestSendCommand(Command::Read, {requestedReadAddress});
}

void CommandView::interrogationCmdButtonClicked()
{
    if (generalInterrogationRadio->isChecked())
        Q_EMIT requestSendCommand(Command::Interrogation,
                                  {qoiEnum.keyToValue(qoiCombo->currentText().toLatin1().constData())});
    else if (counterInterrogationRadio->isChecked())
        Q_EMIT requestSendCommand(Command::CounterInterrogation,
                                  {qccEnum.keyToValue(qccCombo->currentText().toLatin1().constData())});
}

void CommandView::singleCmdButtonClicked()
{
    Q_EMIT requestSendCommand(Command::Single, {singleAddressCombo->currentText().toInt(nullptr, 10),
                                                singleValueGroup->checkedId()});
}

void CommandView::doubleCmdOpenButtonClicked()
{
    Q_EMIT requestSendCommand(
        Command::Double, {StationAddressPlan::kDoubleCommandBase + controlObjectCombo->currentIndex(), 1});
}

void CommandView::doubleCmdCloseButtonClicked()
{
    Q_EMIT requestSendCommand(
        Command::Double, {StationAddressPlan::kDoubleCommandBase + controlObjectCombo->currentIndex(), 2});
}

void CommandView::sendTimeSync()
{
    Q_EMIT requestSendCommand(Command::ClockSync, {broadcastCheckBox.isChecked() ? 1 : 0});
}

void CommandView::timeSyncClicked()
{
    if (timeSyncSendButton->text() == tr("Stop")) {
        timeSyncSendButton->setText(tr("Send"));
        repeatTimer.stop();
        return;
    }
    // An empty, unparsable or zero interval degrades to a single request.
    const int minutes = repeatCheckBox.isChecked() ? repeatMinutesEdit.text().toInt(nullptr, 10) : 0;
    if (minutes <= 0) {
        sendTimeSync();
        return;
    }
    timeSyncSendButton->setText(tr("Stop"));
    sendTimeSync();
    repeatTimer.setSingleShot(false);
    // The validator keeps the field within 1..60; clamp anyway so no text can overflow the interval.
    repeatTimer.start(qMin(minutes, 60) * 60000);
}

void CommandView::controlObjectChanged()
{
    if (controlObjectCombo->currentIndex() <= 0) {
        openButton->setEnabled(false);
        closeButton->setEnabled(false);
        objectStateLabel->setPixmap(QPixmap(QStringLiteral(":/icons/unconnected.png")));
        return;
    }
    // The icon and the buttons keep their state until the object's state arrives.
    readControlObjectState();
}

void CommandView::setLocalMode(bool local)
{
    localMode = local;
    if (local) {
        openButton->setEnabled(false);
        closeButton->setEnabled(false);
        localRemoteEdit->setText(QStringLiteral("Toggle local/remote switch to enable buttons"));
    } else {
        controlObjectChanged();
        localRemoteEdit->setText(QStringLiteral("Remote mode. Select object to control"));
    }
    localRemoteEdit->setStyleSheet(QLatin1String(kStatusStyle));
    localRemoteEdit->setCursorPosition(0);
}

void CommandView::showObjectState(int value)
{
    // Open sends OFF and Close sends ON: only the command that changes the state is offered.
    struct StateView
    {
        const char* icon;
        bool open;
        bool close;
    };
    static const StateView states[] = {
        {":/icons/intermediate.png", false, false}, // 0 intermediate
        {":/icons/unconnected.png", false, true},   // 1 off
        {":/icons/connected.png", true, false},     // 2 on
        {":/icons/bad.png", true, true},            // 3 indeterminate
    };
    if (value < 0 || value > 3)
        return;
    const StateView& state = states[value];
    if (!localMode) {
        openButton->setEnabled(state.open);
        closeButton->setEnabled(state.close);
    }
    objectStateLabel->setPixmap(QPixmap(QLatin1String(state.icon)));
}

void CommandView::checkLocalRemoteSwitch(int address, bool value)
{
    if (address == StationAddressPlan::kLocalRemote)
        setLocalMode(value);
}

void CommandView::checkObjectState(int address, int value)
{
    if (address == StationAddressPlan::kObjectStateBase + controlObjectCombo->currentIndex())
        showObjectState(value);
}

void CommandView::timeSyncReady(InfoObject object)
{
    // The slave's echo of the time it was set to, as its own calendar fields.
    const QDateTime shown = object.timestamp.isNull() ? QDateTime::currentDateTime()
                                                      : ObjectText::slaveDateTime(object.timestamp);
    syncStatusLabel->setText(QStringLiteral("Synced at ") +
                             shown.toString(QStringLiteral("hh:mm:ss dd.MM.yyyy")));
}

void CommandView::resetState()
{
    requestedReadAddress = 0;
    controlObjectCombo->setCurrentIndex(0);
    syncStatusLabel->setText(QStringLiteral("Never sync"));
    timeSyncSendButton->setText(tr("Send"));
    repeatTimer.stop();
    setLocalMode(true);
    localRemoteEdit->setText(QStringLiteral("Unknown local/remote state (try read IOA 65537)"));
    // The field is narrower than this text: show its beginning, not its end.
    localRemoteEdit->setCursorPosition(0);
}

} // namespace iec101
