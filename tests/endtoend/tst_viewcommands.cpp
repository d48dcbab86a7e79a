// The command form in the real view against the simulated station: a setpoint sent from
// the form comes back to the form, a measured line delay goes into the command panel's
// clock sync when the form says so, and an unanswered periodic test command reaches the
// host's status bar.
#include <QtTest>
#include <QtWidgets>

#include <memory>

#include <iec60870_common.h>

#include "controlhandler.h"
#include "iec101view.h"
#include "scratchsettings.h"
#include "slavesimline.h"
#include "viewdriver.h"

using namespace iec101;

namespace {

constexpr int kLong = 20000;

// Local calendar fields read as UTC, as the station reads a clock sync's time.
qint64 localFields(qint64 msecsSinceEpoch)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toLocalTime();
    return QDateTime(local.date(), local.time(), Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

class TestViewCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void formIsAHiddenChildUntilPlaced();
    void setpointFromTheFormEndsInTheForm();
    void measuredDelayGoesIntoThePanelsClockSync();
    void unansweredTestCommandReachesTheStatusBar();

private:
    template <typename T> T* formWidget(const char* name)
    {
        return driver->widget<CommandForm>("commandForm")->findChild<T*>(QLatin1String(name));
    }
    void chooseType(const QString& name);
    QString sendFromForm();

    ScratchSettings scratch{QStringLiteral("tst_viewcommands")};
    SlaveSimLine line;
    std::unique_ptr<ViewDriver> driver;
};

void TestViewCommands::initTestCase()
{
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    driver = std::make_unique<ViewDriver>();
    QVERIFY(driver->connectTo(line));
}

void TestViewCommands::cleanupTestCase()
{
    driver.reset();
    line.stop();
}

void TestViewCommands::chooseType(const QString& name)
{
    auto* types = formWidget<QComboBox>("typeComboBox");
    types->setCurrentIndex(types->findText(name, Qt::MatchStartsWith));
}

// Presses Send and waits for the outcome line to leave "sent".
QString TestViewCommands::sendFromForm()
{
    auto* outcome = formWidget<QLabel>("outcomeLabel");
    formWidget<QPushButton>("sendButton")->click();
    const bool ended =
        QTest::qWaitFor([outcome] { return !outcome->text().endsWith(QLatin1String(": sent")); }, kLong);
    return ended ? outcome->text() : QStringLiteral("no outcome");
}

void TestViewCommands::formIsAHiddenChildUntilPlaced()
{
    auto* view = qobject_cast<Iec101View*>(driver->view());
    QVERIFY(view);
    CommandForm* form = view->commandForm();
    QVERIFY(form);
    QCOMPARE(form->objectName(), QStringLiteral("commandForm"));
    QCOMPARE(form->parentWidget(), view);
    QVERIFY(!form->isVisible());
}

void TestViewCommands::setpointFromTheFormEndsInTheForm()
{
    line.slave().clearReceived();
    chooseType(QStringLiteral("C_SE_NB_1"));
    formWidget<QSpinBox>("addressSpinBox")->setValue(slavesim::ioa::kFirstSetpoint);
    formWidget<QSpinBox>("scaledSpinBox")->setValue(77);
    formWidget<QComboBox>("executionComboBox")->setCurrentIndex(1); // select and execute
    const QString outcome = sendFromForm();
    QVERIFY2(outcome.startsWith(
                 QLatin1String("C_SE_NB_1 6001 77 select: terminated (activation termination, cause 10)")),
             qPrintable(outcome));
    QCOMPARE(formWidget<QTreeWidget>("historyView")->topLevelItemCount(), 1);
    const auto got = line.slave().received(C_SE_NB_1);
    QCOMPARE(got.size(), 2);
    QCOMPARE(got.last().number, 77.0);
}

void TestViewCommands::measuredDelayGoesIntoThePanelsClockSync()
{
    chooseType(QStringLiteral("C_CD_NA_1"));
    const QString outcome = sendFromForm();
    const QRegularExpressionMatch delay =
        QRegularExpression(QStringLiteral("line delay (\\d+) ms")).match(outcome);
    QVERIFY2(delay.hasMatch(), qPrintable(outcome));
    const qint64 delayMs = delay.captured(1).toLongLong();

    formWidget<QCheckBox>("addDelayCheckBox")->setChecked(true);
    line.slave().clearReceived();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    driver->widget<QPushButton>("timeSyncSendButton")->click();
    const auto sync = line.slave().waitForCommand(C_CS_NA_1, kLong);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(sync);
    QVERIFY2(sync->value >= localFields(before) + delayMs && sync->value <= localFields(after) + delayMs,
             qPrintable(QStringLiteral("%1, delay %2").arg(sync->value).arg(delayMs)));
    formWidget<QCheckBox>("addDelayCheckBox")->setChecked(false);
}

void TestViewCommands::unansweredTestCommandReachesTheStatusBar()
{
    auto* view = qobject_cast<Iec101View*>(driver->view());
    QSignalSpy status(view, &Iec101View::setStatusBarMessage);
    line.slave().setCommandMode(slavesim::CommandMode::Silent);
    // lib60870's station answers the test command itself: a paused station answers nothing.
    line.slave().pause();
    view->commandForm()->sendTestCommand();
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(status.cbegin(), status.cend(),
                                         [](const QList<QVariant>& args) {
                                             return args.first().toString().startsWith(
                                                 QLatin1String("Test command unanswered: "));
                                         }),
                             kLong);
    line.slave().resume();
    line.slave().setCommandMode(slavesim::CommandMode::Normal);
}

QTEST_MAIN(TestViewCommands)

#include "tst_viewcommands.moc"
