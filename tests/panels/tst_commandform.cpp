// The command form on its own, operated from the keyboard: each type gets the editor and
// qualifier it carries and leaves as the request it shows, values a type cannot carry are
// stopped at the form, outcomes of its own requests fill the outcome line and the history
// (exported as CSV), and an unanswered periodic test command reaches the status bar.
#include <QtTest>
#include <QtWidgets>

#include <iec60870_common.h>

#include "commandform.h"

using namespace iec101;
using Execution = CommandRequest::Execution;

Q_DECLARE_METATYPE(Execution)

namespace {

template <typename T> T* child(const CommandForm& form, const char* name)
{
    auto* found = form.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no widget named %s", name);
    return found;
}

// Picks the entry whose text starts with the type's name, from the keyboard.
void chooseType(CommandForm& form, const QString& name)
{
    auto* types = child<QComboBox>(form, "typeComboBox");
    const int index = types->findText(name, Qt::MatchStartsWith);
    QVERIFY(index >= 0);
    types->setFocus();
    while (types->currentIndex() != index)
        QTest::keyClick(types, types->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

void typeInto(QWidget* editor, const QString& text)
{
    editor->setFocus();
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, text);
}

CommandOutcome outcome(CommandOutcome::Result result, int cause, qint64 roundTripMs)
{
    CommandOutcome o;
    o.result = result;
    o.cause = cause;
    o.negative = result == CommandOutcome::Result::Refused;
    o.roundTripMs = roundTripMs;
    return o;
}

} // namespace

class TestCommandForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachTypeLeavesAsItsRequest_data();
    void eachTypeLeavesAsItsRequest();
    void valuesTheTypeCannotCarryStayInTheForm_data();
    void valuesTheTypeCannotCarryStayInTheForm();
    void outcomesFillTheHistory();
    void unansweredTestCommandIsReported();
};

void TestCommandForm::eachTypeLeavesAsItsRequest_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("timeTag");
    QTest::addColumn<QString>("editor"); // the value editor shown, and typed into when it is a text field
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("executionIndex"); // 0 direct, 1 select and execute, 2 select only
    QTest::addColumn<QString>("qualifierLabel");
    QTest::addColumn<int>("typeId");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("qualifier");
    QTest::addColumn<Execution>("execution");
    QTest::addColumn<int>("address"); // 0 for the types without an address

    QTest::newRow("single command selected then executed, QU kept at none")
        << "C_SC_NA_1" << false << "onOffComboBox" << QString() << 1 << "&QU:" << int(C_SC_NA_1)
        << QVariant(false) << 0 << Execution::SelectBeforeExecute << 4001;
    QTest::newRow("step command with time tag, select only")
        << "C_RC_NA_1" << true << "directionComboBox" << QString() << 2 << "&QU:" << int(C_RC_TA_1)
        << QVariant(IEC60870_STEP_LOWER) << 0 << Execution::SelectOnly << 4001;
    QTest::newRow("normalized setpoint from its spin box")
        << "C_SE_NA_1" << false << "normalizedSpinBox"
        << "0.5" << 0 << "&QL:" << int(C_SE_NA_1) << QVariant(0.5) << 0 << Execution::Direct << 4001;
    QTest::newRow("scaled setpoint with time tag")
        << "C_SE_NB_1" << true << "scaledSpinBox"
        << "-1234" << 1 << "&QL:" << int(C_SE_TB_1) << QVariant(-1234) << 0 << Execution::SelectBeforeExecute
        << 4001;
    QTest::newRow("short float setpoint in scientific notation")
        << "C_SE_NC_1" << false << "floatEdit"
        << "2.5e3" << 0 << "&QL:" << int(C_SE_NC_1) << QVariant(2500.0) << 0 << Execution::Direct << 4001;
    QTest::newRow("bitstring in hex digits") << "C_BO_NA_1" << false << "bitstringEdit"
                                             << "a5a5f00f" << 0 << "&Qualifier:" << int(C_BO_NA_1)
                                             << QVariant(0xA5A5F00Fu) << 0 << Execution::Direct << 4001;
    QTest::newRow("test command: no address, no value")
        << "C_TS_NA_1" << false << "noValuePage" << QString() << 0 << "&Qualifier:" << int(C_TS_NA_1)
        << QVariant() << 0 << Execution::Direct << 0;
    QTest::newRow("reset process defaults to a general reset")
        << "C_RP_NA_1" << false << "noValuePage" << QString() << 0 << "&QRP:" << int(C_RP_NA_1) << QVariant()
        << 1 << Execution::Direct << 0;
    QTest::newRow("parameter defaults to the threshold")
        << "P_ME_NB_1" << false << "scaledSpinBox"
        << "100" << 0 << "&KPA:" << int(P_ME_NB_1) << QVariant(100) << 1 << Execution::Direct << 4001;
    QTest::newRow("parameter activation of the object")
        << "P_AC_NA_1" << false << "noValuePage" << QString() << 0 << "&QPA:" << int(P_AC_NA_1) << QVariant()
        << 2 << Execution::Direct << 4001;
}

void TestCommandForm::eachTypeLeavesAsItsRequest()
{
    QFETCH(QString, type);
    QFETCH(bool, timeTag);
    QFETCH(QString, editor);
    QFETCH(QString, typed);
    QFETCH(int, executionIndex);
    QFETCH(QString, qualifierLabel);
    QFETCH(int, typeId);
    QFETCH(QVariant, value);
    QFETCH(int, qualifier);
    QFETCH(Execution, execution);
    QFETCH(int, address);

    CommandForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QSignalSpy sent(&form, &CommandForm::sendRequested);
    chooseType(form, type);
    auto* timeTagBox = child<QCheckBox>(form, "timeTagCheckBox");
    if (timeTag) {
        QVERIFY(timeTagBox->isEnabled());
        timeTagBox->setFocus();
        QTest::keyClick(timeTagBox, Qt::Key_Space);
    }
    auto* addressBox = child<QSpinBox>(form, "addressSpinBox");
    QCOMPARE(addressBox->isEnabled(), address != 0);
    if (address != 0)
        typeInto(addressBox, QString::number(address));
    auto* stack = child<QStackedWidget>(form, "valueStack");
    QCOMPARE(stack->currentWidget()->objectName(), editor);
    if (!typed.isEmpty())
        typeInto(stack->currentWidget(), typed);
    QCOMPARE(child<QLabel>(form, "qualifierLabel")->text(), qualifierLabel);
    auto* executionBox = child<QComboBox>(form, "executionComboBox");
    // Select is offered where the object has a select bit, and only there.
    const bool selectable =
        (typeId >= C_SC_NA_1 && typeId <= C_SE_NC_1) || (typeId >= C_SC_TA_1 && typeId <= C_SE_TC_1);
    QCOMPARE(executionBox->isEnabled(), selectable);
    executionBox->setCurrentIndex(executionIndex);

    auto* send = child<QPushButton>(form, "sendButton");
    send->setFocus();
    QTest::keyClick(send, Qt::Key_Space);
    QCOMPARE(sent.size(), 1);
    const auto request = sent.first().first().value<CommandRequest>();
    QCOMPARE(request.typeId, typeId);
    QCOMPARE(request.objectAddress, address);
    QCOMPARE(request.qualifier, qualifier);
    QCOMPARE(int(request.execution), int(execution));
    QCOMPARE(request.value.isValid(), value.isValid());
    if (value.isValid())
        QCOMPARE(request.value.toDouble(), value.toDouble());
    QVERIFY(form.isOwnRequest(request.id));
}

void TestCommandForm::valuesTheTypeCannotCarryStayInTheForm_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("said");

    QTest::newRow("float beyond a short float") << "C_SE_NC_1"
                                                << "floatEdit"
                                                << "1e39"
                                                << "value 1e+39 is not a finite short float";
    QTest::newRow("half a number") << "P_ME_NC_1"
                                   << "floatEdit"
                                   << "-"
                                   << "value - is not a finite short float";
    QTest::newRow("no hex digits") << "C_BO_NA_1"
                                   << "bitstringEdit"
                                   << ""
                                   << "value  out of range 0..0xFFFFFFFF";
}

void TestCommandForm::valuesTheTypeCannotCarryStayInTheForm()
{
    QFETCH(QString, type);
    QFETCH(QString, editor);
    QFETCH(QString, typed);
    QFETCH(QString, said);

    CommandForm form;
    QSignalSpy sent(&form, &CommandForm::sendRequested);
    chooseType(form, type);
    auto* edit = child<QLineEdit>(form, editor.toLatin1().constData());
    edit->clear();
    QTest::keyClicks(edit, typed);
    auto* send = child<QPushButton>(form, "sendButton");
    send->setFocus();
    QTest::keyClick(send, Qt::Key_Space);
    QCOMPARE(sent.size(), 0);
    QVERIFY2(child<QLabel>(form, "outcomeLabel")->text().contains(said),
             qPrintable(child<QLabel>(form, "outcomeLabel")->text()));
}

void TestCommandForm::outcomesFillTheHistory()
{
    CommandForm form;
    QSignalSpy sent(&form, &CommandForm::sendRequested);
    chooseType(form, QStringLiteral("C_SE_NB_1"));
    child<QSpinBox>(form, "addressSpinBox")->setValue(6001);
    child<QSpinBox>(form, "scaledSpinBox")->setValue(42);
    child<QPushButton>(form, "sendButton")->click();
    chooseType(form, QStringLiteral("C_CD_NA_1"));
    child<QPushButton>(form, "sendButton")->click();
    QCOMPARE(sent.size(), 2);
    const auto setpoint = sent.at(0).first().value<CommandRequest>();
    const auto delay = sent.at(1).first().value<CommandRequest>();

    // Another sender's request with the same type is none of the form's business.
    CommandRequest foreign = setpoint;
    foreign.id = 7;
    form.commandFinished(foreign, outcome(CommandOutcome::Result::Terminated, 10, 5));
    QCOMPARE(form.historySize(), 0);

    form.commandFinished(setpoint, outcome(CommandOutcome::Result::Refused, 47, 120));
    QCOMPARE(child<QLabel>(form, "outcomeLabel")->text(),
             QStringLiteral("C_SE_NB_1 6001 42: refused: unknown object address (47), 120 ms"));
    CommandOutcome measured = outcome(CommandOutcome::Result::Confirmed, 7, 300);
    measured.measuredDelayMs = 95;
    form.commandFinished(delay, measured);
    QCOMPARE(
        child<QLabel>(form, "outcomeLabel")->text(),
        QStringLiteral("C_CD_NA_1: confirmed, line delay 95 ms (activation confirmation, cause 7), 300 ms"));
    // An outcome comes once: a repeat changes nothing.
    form.commandFinished(delay, measured);
    QCOMPARE(form.historySize(), 2);

    auto* history = child<QTreeWidget>(form, "historyView");
    QCOMPARE(history->topLevelItemCount(), 2);
    QCOMPARE(history->topLevelItem(0)->text(1), QStringLiteral("C_CD_NA_1"));
    QCOMPARE(history->topLevelItem(1)->text(2), QStringLiteral("refused: unknown object address (47)"));
    QCOMPARE(history->topLevelItem(1)->text(3), QStringLiteral("120 ms"));

    QBuffer csv;
    QVERIFY(csv.open(QIODevice::WriteOnly));
    QString error;
    QVERIFY(form.exportHistory(&csv, &error));
    const QList<QByteArray> lines = csv.data().split('\n');
    QCOMPARE(lines.at(0), QByteArray("Time,Command,Outcome,Cause,Round trip (ms),Line delay (ms)\r"));
    QVERIFY2(lines.at(1).endsWith(",C_CD_NA_1,\"confirmed, line delay 95 ms\",7,300,95\r"),
             lines.at(1).constData());
    QVERIFY2(lines.at(2).endsWith(",C_SE_NB_1 6001 42,refused: unknown object address (47),47,120,\r"),
             lines.at(2).constData());
}

void TestCommandForm::unansweredTestCommandIsReported()
{
    CommandForm form;
    QSignalSpy sent(&form, &CommandForm::sendRequested);
    QSignalSpy status(&form, &CommandForm::statusMessage);
    auto* periodic = child<QCheckBox>(form, "periodicTestCheckBox");
    periodic->setFocus();
    QTest::keyClick(periodic, Qt::Key_Space);
    QVERIFY(child<QTimer>(form, "testTimer")->isActive());

    // Without a line there is nothing to test, and nothing to report.
    form.sendTestCommand();
    QCOMPARE(sent.size(), 0);
    form.setLineOpen(true);
    form.sendTestCommand();
    // One at a time: a second tick while the first waits sends nothing.
    form.sendTestCommand();
    QCOMPARE(sent.size(), 1);
    const auto first = sent.first().first().value<CommandRequest>();
    QCOMPARE(first.typeId, int(C_TS_NA_1));
    form.commandFinished(first, outcome(CommandOutcome::Result::Confirmed, 7, 80));
    QCOMPARE(status.size(), 0);

    form.sendTestCommand();
    QCOMPARE(sent.size(), 2);
    CommandOutcome silent;
    silent.result = CommandOutcome::Result::TimedOut;
    silent.step = CommandOutcome::Step::Confirmation;
    form.commandFinished(sent.last().first().value<CommandRequest>(), silent);
    QCOMPARE(status.size(), 1);
    QCOMPARE(status.first().first().toString(),
             QStringLiteral("Test command unanswered: timed out waiting for the confirmation"));

    QTest::keyClick(periodic, Qt::Key_Space);
    QVERIFY(!child<QTimer>(form, "testTimer")->isActive());
}

QTEST_MAIN(TestCommandForm)

#include "tst_commandform.moc"
