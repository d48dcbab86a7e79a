// The real view with its engine against the simulated slave on a pty pair, in the
// situations operators get into: settings that make no sense, ports that are missing,
// refused or pulled while connected, and closing the view in the middle of things.
// None of them may crash or hang the program, and the operator must always be able to
// disconnect and connect again with good settings.

#include <QtTest>
#include <QtWidgets>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "iec101view.h"
#include "scratchsettings.h"
#include "slavesimline.h"
#include "viewdriver.h"

using namespace iec101;

using iec101::Iec101View;

namespace {

constexpr int kAnswerTimeout = 10000;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSlowdown = 3; // instrumented code on a shared two-core machine
#else
constexpr int kSlowdown = 1;
#endif

// An existing path that even root cannot open for writing (read-only sysfs attributes
// refuse write access to everyone), and why it refuses. Empty if this system lets it open.
QString refusedPath(QString* reason)
{
    const char* path = "/sys/devices/system/cpu/online";
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return QString();
    }
    *reason = qt_error_string(errno);
    return errno == EACCES || errno == EPERM || errno == EROFS ? QString::fromLatin1(path) : QString();
}

} // namespace

class TestConnectionFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void degenerateSettings_data();
    void degenerateSettings();
    void portVanishesWhileConnected();
    void destroyView_data();
    void destroyView();

private:
    // Presses Disconnect and waits for the notice and "Disconnected".
    void disconnectAndConfirm();

    ScratchSettings scratch{QStringLiteral("tst_connectionfaults")};
    SlaveSimLine line;
    std::unique_ptr<ViewDriver> driver;
};

void TestConnectionFaults::initTestCase()
{
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    qputenv("IEC101_EXTRA_PORTS", line.masterPort().toLocal8Bit());
}

void TestConnectionFaults::init()
{
    line.slave().setCommandMode(slavesim::CommandMode::Normal);
    driver = std::make_unique<ViewDriver>();
}

void TestConnectionFaults::cleanup()
{
    driver.reset();
}

void TestConnectionFaults::disconnectAndConfirm()
{
    const int before = driver->notices.size();
    driver->clickDisconnect();
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Disconnected"), kAnswerTimeout);
    QCOMPARE(driver->notices.size(), before + 1);
    QCOMPARE(driver->notices.last(), QStringLiteral("IEC101 disconnected."));
    QVERIFY(driver->connectEnabled());
}

void TestConnectionFaults::degenerateSettings_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("said");
    // Settings: common address, its size, link address, its size, object address size, cause size.
    const QString pty = QStringLiteral("<pty>");
    const QStringList none;
    // The station refuses both interrogations for a common address it does not have; each
    // is tried again later.
    const QStringList refused{QStringLiteral("Interrogation command fail. Retrying..."),
                              QStringLiteral("Interrogation command fail. Retrying...")};
    QTest::newRow("all sizes 0") << QStringList{"1", "0", "1", "0", "0", "0"} << pty << none;
    QTest::newRow("common address 0") << QStringList{"0", "2", "1", "2", "3", "2"} << pty << refused;
    // The global address: the station answers the interrogations for all its common addresses.
    QTest::newRow("common address 65535") << QStringList{"65535", "2", "1", "2", "3", "2"} << pty << none;
    QTest::newRow("link address 0") << QStringList{"1", "2", "0", "2", "3", "2"} << pty << none;
    QTest::newRow("link address 65535") << QStringList{"1", "2", "65535", "2", "3", "2"} << pty << none;
    QTest::newRow("link address 65535 in one octet")
        << QStringList{"1", "2", "65535", "1", "3", "2"} << pty << none;
    // The slave's own settings, with a port that is no good.
    const QStringList good = SlaveSimLine().settingTexts();
    QTest::newRow("empty port name") << good << QString() << none;
    QTest::newRow("port name not on this system") << good << QStringLiteral("ttyIEC101Missing0") << none;
    QTest::newRow("port path that does not exist")
        << good << QStringLiteral("/nonexistent/iec101/ttyX") << none;
    QTest::newRow("port without permission") << good << QStringLiteral("<refused>") << none;
}

void TestConnectionFaults::degenerateSettings()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, port);
    QFETCH(QStringList, said);
    QStringList expectedMessages = said;
    if (port == QLatin1String("<pty>"))
        port = line.masterPort();
    if (port == QLatin1String("<refused>")) {
        QString reason;
        port = refusedPath(&reason);
        if (port.isEmpty())
            QSKIP("no path on this system refuses to open for writing (read-only sysfs attribute opened)");
        // Said once per Connect, however many ticks follow.
        expectedMessages << QStringLiteral("Cannot open %1: %2").arg(port, reason);
    }
    QSignalSpy messages(static_cast<Iec101View*>(driver->view()), &Iec101View::setStatusBarMessage);

    driver->applySettings(settings);
    if (port == line.masterPort())
        QVERIFY(driver->waitForPort(port, 5000));
    driver->choosePort(port);
    driver->clickConnect();

    // Several polling ticks with the bad connection; the GUI keeps running meanwhile.
    QElapsedTimer waited;
    waited.start();
    QTest::qWait(1200);
    QVERIFY2(waited.elapsed() < 1200 + 2000 * kSlowdown, "the GUI thread was blocked");
    QStringList texts;
    for (const QList<QVariant>& args : qAsConst(messages))
        texts << args.at(0).toString();
    QCOMPARE(texts, expectedMessages);

    // Whatever state it reached, the operator can end it and start a good connection.
    if (!driver->connectEnabled())
        disconnectAndConfirm();
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Disconnected"), kAnswerTimeout);
    QVERIFY(driver->connectTo(line));
    disconnectAndConfirm();
}

void TestConnectionFaults::portVanishesWhileConnected()
{
    QVERIFY(driver->connectTo(line));

    // The adapter is pulled: both ends of the pty pair disappear.
    line.unplug();
    const qint64 pulledAt = driver->clock().elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(!driver->notices.isEmpty(), kAnswerTimeout);
    const qint64 noticed = driver->noticeTimes.first() - pulledAt;
    qInfo("notice shown %lld ms after the port vanished", noticed);
    QCOMPARE(driver->notices.first(), QStringLiteral("IEC101 disconnected."));
    QVERIFY2(noticed <= 400 * kSlowdown, qPrintable(QStringLiteral("took %1 ms").arg(noticed)));
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Disconnected"), kAnswerTimeout);
    QVERIFY(driver->connectEnabled());

    // The adapter comes back under the same name: connecting works again.
    QVERIFY(line.plugBackIn());
    QVERIFY(driver->connectTo(line));
    disconnectAndConfirm();
}

void TestConnectionFaults::destroyView_data()
{
    QTest::addColumn<bool>("commandPending");
    QTest::newRow("connected") << false;
    QTest::newRow("command pending") << true;
}

void TestConnectionFaults::destroyView()
{
    QFETCH(bool, commandPending);
    QVERIFY(driver->connectTo(line));
    if (commandPending) {
        // The slave takes the read and never answers it: the engine stays busy.
        line.slave().setCommandMode(slavesim::CommandMode::Silent);
        line.slave().clearReceived();
        driver->widget<QLineEdit>("readAddressEdit")->setText(QString::number(slavesim::ioa::kFirstMeasured));
        driver->widget<QPushButton>("readSendButton")->click();
        // The polling timer runs on this thread: wait with the event loop going.
        QTRY_VERIFY_WITH_TIMEOUT(!line.slave().received(102).isEmpty(), kAnswerTimeout);
    }

    QElapsedTimer clock;
    clock.start();
    driver.reset(); // and with it the view
    const qint64 took = clock.elapsed();
    qInfo("view destroyed in %lld ms", took);
    QVERIFY2(took < 1000 * kSlowdown, qPrintable(QStringLiteral("took %1 ms").arg(took)));
}

QTEST_MAIN(TestConnectionFaults)
#include "tst_connectionfaults.moc"
