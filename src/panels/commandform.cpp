#include "commandform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cfloat>

#include <cs101_information_objects.h>

#include "commandencoder.h"
#include "csvexport.h"
#include "csvwriter.h"
#include "objecttext.h"

namespace iec101 {

namespace {

using Execution = CommandRequest::Execution;

// Ids of the form's requests: apart from the engine's own numbering (bit 63) and from
// the small numbers other senders use.
constexpr quint64 kIdBase = quint64(1) << 62;
constexpr int kDefaultTestIntervalS = 60;

struct TypeEntry
{
    int typeId;
    const char* what;
};

// The types as the form offers them; the time-tagged forms of 45 to 51 through the check box.
const TypeEntry kTypes[] = {
    {C_SC_NA_1, "single command"},         {C_DC_NA_1, "double command"},
    {C_RC_NA_1, "regulating step"},        {C_SE_NA_1, "setpoint, normalized"},
    {C_SE_NB_1, "setpoint, scaled"},       {C_SE_NC_1, "setpoint, short float"},
    {C_BO_NA_1, "bitstring of 32 bits"},   {C_TS_NA_1, "test command"},
    {C_RP_NA_1, "reset process"},          {C_CD_NA_1, "delay acquisition"},
    {P_ME_NA_1, "parameter, normalized"},  {P_ME_NB_1, "parameter, scaled"},
    {P_ME_NC_1, "parameter, short float"}, {P_AC_NA_1, "parameter activation"},
};

// The qualifier a type carries: its name, range, default and what its values mean.
struct Qualifier
{
    const char* name = nullptr;
    int min = 0;
    int max = 0;
    int fallback = 0;
    const char* hint = "";
};

Qualifier qualifierOf(int typeId)
{
    switch (typeId) {
    case C_SC_NA_1:
    case C_DC_NA_1:
    case C_RC_NA_1:
        return {"QU", 0, 31, 0, "0 none, 1 short pulse, 2 long pulse, 3 persistent"};
    case C_SE_NA_1:
    case C_SE_NB_1:
    case C_SE_NC_1:
        return {"QL", 0, 127, 0, "0 default"};
    case C_RP_NA_1:
        return {"QRP", 1, 255, 1, "1 general reset, 2 pending time-tagged information"};
    case P_ME_NA_1:
    case P_ME_NB_1:
    case P_ME_NC_1:
        return {"KPA", 1, 63, 1, "1 threshold, 2 smoothing, 3 low limit, 4 high limit"};
    case P_AC_NA_1:
        return {"QPA", 1, 255, 2, "1 loaded parameters, 2 this object's, 3 cyclic transmission"};
    default:
        return {};
    }
}

bool isAddressed(int typeId)
{
    return typeId != C_TS_NA_1 && typeId != C_RP_NA_1 && typeId != C_CD_NA_1;
}

} // namespace

CommandForm::CommandForm(QWidget* parent) : QWidget(parent)
{
    auto* commandBox = new QGroupBox(tr("Command"));
    commandBox->setObjectName(QStringLiteral("commandBox"));

    typeComboBox = new QComboBox;
    typeComboBox->setObjectName(QStringLiteral("typeComboBox"));
    buildTypes();
    timeTagCheckBox = new QCheckBox(tr("With &time tag"));
    timeTagCheckBox->setObjectName(QStringLiteral("timeTagCheckBox"));
    timeTagCheckBox->setToolTip(tr("CP56Time2a, stamped as the frame is sent"));

    addressSpinBox = new QSpinBox;
    addressSpinBox->setObjectName(QStringLiteral("addressSpinBox"));
    addressSpinBox->setRange(0, 0xffffff);

    valueStack = new QStackedWidget;
    valueStack->setObjectName(QStringLiteral("valueStack"));
    noValuePage = new QLabel(tr("(none)"));
    noValuePage->setObjectName(QStringLiteral("noValuePage"));
    onOffComboBox = new QComboBox;
    onOffComboBox->setObjectName(QStringLiteral("onOffComboBox"));
    onOffComboBox->addItem(tr("Off (0)"), false);
    onOffComboBox->addItem(tr("On (1)"), true);
    doubleStateComboBox = new QComboBox;
    doubleStateComboBox->setObjectName(QStringLiteral("doubleStateComboBox"));
    doubleStateComboBox->addItem(tr("Off (1)"), 1);
    doubleStateComboBox->addItem(tr("On (2)"), 2);
    directionComboBox = new QComboBox;
    directionComboBox->setObjectName(QStringLiteral("directionComboBox"));
    directionComboBox->addItem(tr("Lower (1)"), IEC60870_STEP_LOWER);
    directionComboBox->addItem(tr("Higher (2)"), IEC60870_STEP_HIGHER);
    normalizedSpinBox = new QDoubleSpinBox;
    normalizedSpinBox->setObjectName(QStringLiteral("normalizedSpinBox"));
    normalizedSpinBox->setDecimals(6);
    normalizedSpinBox->setRange(CommandEncoder::kNormalizedMin, CommandEncoder::kNormalizedMax);
    normalizedSpinBox->setSingleStep(0.01);
    scaledSpinBox = new QSpinBox;
    scaledSpinBox->setObjectName(QStringLiteral("scaledSpinBox"));
    scaledSpinBox->setRange(CommandEncoder::kScaledMin, CommandEncoder::kScaledMax);
    floatEdit = new QLineEdit(QStringLiteral("0"));
    floatEdit->setObjectName(QStringLiteral("floatEdit"));
    auto* floatValidator = new QDoubleValidator(-double(FLT_MAX), double(FLT_MAX), 9, floatEdit);
    floatValidator->setNotation(QDoubleValidator::ScientificNotation);
    floatValidator->setLocale(QLocale::c());
    floatEdit->setValidator(floatValidator);
    bitstringEdit = new QLineEdit(QStringLiteral("00000000"));
    bitstringEdit->setObjectName(QStringLiteral("bitstringEdit"));
    bitstringEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,8}")), bitstringEdit));
    bitstringEdit->setToolTip(tr("8 hex digits"));
    for (QWidget* page :
         {noValuePage, static_cast<QWidget*>(onOffComboBox), static_cast<QWidget*>(doubleStateComboBox),
          static_cast<QWidget*>(directionComboBox), static_cast<QWidget*>(normalizedSpinBox),
          static_cast<QWidget*>(scaledSpinBox), static_cast<QWidget*>(floatEdit),
          static_cast<QWidget*>(bitstringEdit)})
        valueStack->addWidget(page);

    qualifierSpinBox = new QSpinBox;
    qualifierSpinBox->setObjectName(QStringLiteral("qualifierSpinBox"));
    qualifierHint = new QLabel;
    qualifierHint->setObjectName(QStringLiteral("qualifierHint"));
    qualifierHint->setWordWrap(true);

    executionComboBox = new QComboBox;
    executionComboBox->setObjectName(QStringLiteral("executionComboBox"));
    executionComboBox->addItem(tr("Direct execute"), int(Execution::Direct));
    executionComboBox->addItem(tr("Select and execute"), int(Execution::SelectBeforeExecute));
    executionComboBox->addItem(tr("Select only"), int(Execution::SelectOnly));

    sendButton = new QPushButton(tr("&Send"));
    sendButton->setObjectName(QStringLiteral("sendButton"));
    sendButton->setDefault(true);
    deactivateButton = new QPushButton(tr("&Cancel select"));
    deactivateButton->setObjectName(QStringLiteral("deactivateButton"));
    deactivateButton->setToolTip(tr("Deactivation (cause 8) of the select of this object"));

    outcomeLabel = new QLabel;
    outcomeLabel->setObjectName(QStringLiteral("outcomeLabel"));
    outcomeLabel->setWordWrap(true);
    outcomeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    addDelayCheckBox = new QCheckBox(tr("Add the measured line &delay to clock syncs"));
    addDelayCheckBox->setObjectName(QStringLiteral("addDelayCheckBox"));

    auto* form = new QFormLayout;
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(typeComboBox, 1);
    typeRow->addWidget(timeTagCheckBox);
    const auto label = [](const QString& text, QWidget* buddy, const char* name) {
        auto* l = new QLabel(text);
        l->setObjectName(QLatin1String(name));
        l->setBuddy(buddy);
        return l;
    };
    form->addRow(label(tr("T&ype:"), typeComboBox, "typeLabel"), typeRow);
    form->addRow(label(tr("&Object address:"), addressSpinBox, "addressLabel"), addressSpinBox);
    form->addRow(label(tr("&Value:"), valueStack, "valueLabel"), valueStack);
    qualifierLabel = label(tr("&Qualifier:"), qualifierSpinBox, "qualifierLabel");
    form->addRow(qualifierLabel, qualifierSpinBox);
    form->addRow(QString(), qualifierHint);
    form->addRow(label(tr("E&xecution:"), executionComboBox, "executionLabel"), executionComboBox);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(deactivateButton);
    buttons->addWidget(sendButton);
    auto* commandLayout = new QVBoxLayout(commandBox);
    commandLayout->addLayout(form);
    commandLayout->addLayout(buttons);
    commandLayout->addWidget(outcomeLabel);
    commandLayout->addWidget(addDelayCheckBox);

    auto* historyBox = new QGroupBox(tr("History"));
    historyBox->setObjectName(QStringLiteral("historyBox"));
    historyView = new QTreeWidget;
    historyView->setObjectName(QStringLiteral("historyView"));
    historyView->setRootIsDecorated(false);
    historyView->setHeaderLabels({tr("Time"), tr("Command"), tr("Outcome"), tr("Round trip")});
    historyView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    exportButton = new QPushButton(tr("&Export CSV..."));
    exportButton->setObjectName(QStringLiteral("exportButton"));
    periodicTestCheckBox = new QCheckBox(tr("Test co&mmand every"));
    periodicTestCheckBox->setObjectName(QStringLiteral("periodicTestCheckBox"));
    testIntervalSpinBox = new QSpinBox;
    testIntervalSpinBox->setObjectName(QStringLiteral("testIntervalSpinBox"));
    testIntervalSpinBox->setRange(1, 86400);
    testIntervalSpinBox->setValue(kDefaultTestIntervalS);
    testIntervalSpinBox->setSuffix(tr(" s"));
    testTimer = new QTimer(this);
    testTimer->setObjectName(QStringLiteral("testTimer"));
    auto* historyButtons = new QHBoxLayout;
    historyButtons->addWidget(periodicTestCheckBox);
    historyButtons->addWidget(testIntervalSpinBox);
    historyButtons->addStretch();
    historyButtons->addWidget(exportButton);
    auto* historyLayout = new QVBoxLayout(historyBox);
    historyLayout->addWidget(historyView);
    historyLayout->addLayout(historyButtons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(commandBox);
    layout->addWidget(historyBox, 1);

    connect(typeComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &CommandForm::typeChanged);
    connect(timeTagCheckBox, &QCheckBox::toggled, this, &CommandForm::typeChanged);
    connect(sendButton, &QPushButton::clicked, this, &CommandForm::sendCommand);
    connect(deactivateButton, &QPushButton::clicked, this, &CommandForm::deactivateSelect);
    connect(floatEdit, &QLineEdit::returnPressed, this, &CommandForm::sendCommand);
    connect(bitstringEdit, &QLineEdit::returnPressed, this, &CommandForm::sendCommand);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        CsvExport::toChosenFile(
            this, QStringLiteral("command-history.csv"),
            [this](QIODevice* device, QString* error) { return exportHistory(device, error); });
    });
    connect(periodicTestCheckBox, &QCheckBox::toggled, this, &CommandForm::periodicTestToggled);
    connect(testIntervalSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int seconds) { testTimer->setInterval(seconds * 1000); });
    connect(testTimer, &QTimer::timeout, this, &CommandForm::sendTestCommand);
    testTimer->setInterval(kDefaultTestIntervalS * 1000);
    typeChanged();
}

CommandForm::~CommandForm() = default;

void CommandForm::buildTypes()
{
    for (const TypeEntry& entry : kTypes) {
        typeComboBox->addItem(QStringLiteral("%1 (%2) %3")
                                  .arg(ObjectText::typeName(entry.typeId))
                                  .arg(entry.typeId)
                                  .arg(tr(entry.what)),
                              entry.typeId);
    }
}

int CommandForm::currentType() const
{
    const int plain = typeComboBox->currentData().toInt();
    return timeTagCheckBox->isChecked() && CommandEncoder::timedType(plain) != 0
               ? CommandEncoder::timedType(plain)
               : plain;
}

// Each type shows only what it carries: its value editor, its qualifier, select where the
// object has a select bit, the time tag where a time-tagged form exists.
void CommandForm::typeChanged()
{
    const int plain = typeComboBox->currentData().toInt();
    timeTagCheckBox->setEnabled(CommandEncoder::timedType(plain) != 0);
    addressSpinBox->setEnabled(isAddressed(plain));
    QWidget* page = noValuePage;
    switch (plain) {
    case C_SC_NA_1:
        page = onOffComboBox;
        break;
    case C_DC_NA_1:
        page = doubleStateComboBox;
        break;
    case C_RC_NA_1:
        page = directionComboBox;
        break;
    case C_SE_NA_1:
    case P_ME_NA_1:
        page = normalizedSpinBox;
        break;
    case C_SE_NB_1:
    case P_ME_NB_1:
        page = scaledSpinBox;
        break;
    case C_SE_NC_1:
    case P_ME_NC_1:
        page = floatEdit;
        break;
    case C_BO_NA_1:
        page = bitstringEdit;
        break;
    default:
        break;
    }
    valueStack->setCurrentWidget(page);
    const Qualifier qualifier = qualifierOf(plain);
    const bool hasQualifier = qualifier.name != nullptr;
    qualifierSpinBox->setEnabled(hasQualifier);
    // A qualifier of the same kind (QU of a single, then of a double command) keeps its
    // value; another kind starts from its default.
    const QString kind = QLatin1String(qualifier.name);
    if (hasQualifier && kind != qualifierKind) {
        qualifierSpinBox->setRange(qualifier.min, qualifier.max);
        qualifierSpinBox->setValue(qualifier.fallback);
    }
    qualifierKind = kind;
    qualifierLabel->setText(hasQualifier ? QStringLiteral("&%1:").arg(kind) : tr("&Qualifier:"));
    qualifierHint->setText(QLatin1String(qualifier.hint));
    const bool selectable = CommandEncoder::hasSelect(plain);
    executionComboBox->setEnabled(selectable);
    if (!selectable)
        executionComboBox->setCurrentIndex(0);
    deactivateButton->setEnabled(selectable || plain == P_AC_NA_1);
}

CommandRequest CommandForm::request(Execution execution) const
{
    CommandRequest request;
    request.typeId = currentType();
    request.objectAddress = isAddressed(request.typeId) ? addressSpinBox->value() : 0;
    request.execution = execution;
    if (qualifierSpinBox->isEnabled())
        request.qualifier = qualifierSpinBox->value();
    QWidget* page = valueStack->currentWidget();
    if (page == onOffComboBox) {
        request.value = onOffComboBox->currentData();
    } else if (page == doubleStateComboBox) {
        request.value = doubleStateComboBox->currentData();
    } else if (page == directionComboBox) {
        request.value = directionComboBox->currentData();
    } else if (page == normalizedSpinBox) {
        request.value = normalizedSpinBox->value();
    } else if (page == scaledSpinBox) {
        request.value = scaledSpinBox->value();
    } else if (page == floatEdit) {
        bool ok = false;
        const double number = QLocale::c().toDouble(floatEdit->text(), &ok);
        // Text that is no number stays text: the check before sending names it.
        request.value = ok ? QVariant(number) : QVariant(floatEdit->text());
    } else if (page == bitstringEdit) {
        bool ok = false;
        const uint bits = bitstringEdit->text().toUInt(&ok, 16);
        request.value = ok ? QVariant(bits) : QVariant(bitstringEdit->text());
    }
    return request;
}

bool CommandForm::isOwnRequest(quint64 id) const
{
    return ownIds.contains(id);
}

bool CommandForm::addsDelayToClockSync() const
{
    return addDelayCheckBox->isChecked();
}

void CommandForm::sendCommand()
{
    send(request(Execution(executionComboBox->currentData().toInt())));
}

void CommandForm::deactivateSelect()
{
    send(request(Execution::Deactivate));
}

void CommandForm::sendTestCommand()
{
    // One at a time: the engine ends each within its command time-out. Without a line
    // there is nothing to test.
    if (testId != 0 || !lineOpen)
        return;
    CommandRequest test;
    test.typeId = C_TS_NA_1;
    testId = send(test);
}

quint64 CommandForm::send(CommandRequest request)
{
    request.id = kIdBase + ++nextId;
    // Checked here as the engine would, so that the operator reads why at once and
    // nothing goes to the engine.
    const QString problem = CommandEncoder::validate(request);
    if (!problem.isEmpty()) {
        outcomeLabel->setText(tr("%1: not sent: %2").arg(request.text(), problem));
        return 0;
    }
    ownIds.insert(request.id);
    outcomeLabel->setText(tr("%1: sent").arg(request.text()));
    Q_EMIT sendRequested(request);
    return request.id;
}

void CommandForm::commandFinished(const CommandRequest& request, const CommandOutcome& outcome)
{
    if (!ownIds.remove(request.id))
        return;
    QString text = outcome.text();
    // The cause of a refusal is in its words already.
    if (outcome.cause != 0 && outcome.result != CommandOutcome::Result::Refused)
        text += tr(" (%1, cause %2)").arg(causeText(outcome.cause)).arg(outcome.cause);
    const QString trip = outcome.roundTripMs >= 0 ? tr(", %1 ms").arg(outcome.roundTripMs) : QString();
    outcomeLabel->setText(tr("%1: %2%3").arg(request.text(), text, trip));
    if (request.id == testId) {
        testId = 0;
        // Without a connection there is nothing to test; said once by the view already.
        const bool offline = outcome.result == CommandOutcome::Result::NotSent &&
                             outcome.reason == CommandOutcome::Reason::NotConnected;
        if (!outcome.succeeded() && !offline)
            Q_EMIT statusMessage(tr("Test command unanswered: %1").arg(outcome.text()));
    }
    addEntry({QDateTime::currentDateTime(), request.text(), outcome.text(), outcome.cause,
              outcome.roundTripMs, outcome.measuredDelayMs});
}

void CommandForm::addEntry(const Entry& entry)
{
    history.prepend(entry);
    auto* item = new QTreeWidgetItem(
        {entry.time.toString(QStringLiteral("HH:mm:ss.zzz")), entry.command, entry.outcome,
         entry.roundTripMs >= 0 ? tr("%1 ms").arg(entry.roundTripMs) : QString()});
    historyView->insertTopLevelItem(0, item);
    while (history.size() > kHistoryLimit) {
        history.removeLast();
        delete historyView->takeTopLevelItem(historyView->topLevelItemCount() - 1);
    }
}

bool CommandForm::exportHistory(QIODevice* device, QString* errorString) const
{
    CsvWriter writer(device);
    writer.writeHeader({QStringLiteral("Time"), QStringLiteral("Command"), QStringLiteral("Outcome"),
                        QStringLiteral("Cause"), QStringLiteral("Round trip (ms)"),
                        QStringLiteral("Line delay (ms)")});
    const auto number = [](qint64 value) {
        return value >= 0 ? QVariant(value) : QVariant();
    };
    for (const Entry& entry : history) {
        writer.writeRow({entry.time, entry.command, entry.outcome,
                         entry.cause != 0 ? QVariant(entry.cause) : QVariant(), number(entry.roundTripMs),
                         number(entry.delayMs)});
    }
    writer.finish();
    if (writer.hasError() && errorString)
        *errorString = writer.errorString();
    return !writer.hasError();
}

void CommandForm::periodicTestToggled(bool on)
{
    if (on)
        testTimer->start();
    else
        testTimer->stop();
}

} // namespace iec101
