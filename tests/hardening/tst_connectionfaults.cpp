// The real view with its engine against the simulated slave over a pty pair, in the
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
#include "ptypair.h"
#include "slavesim.h"
#include "viewdriver.h"

using iec101::Iec101View;

namespace {

constexpr int linkTimeout = 30000;
constexpr int answerTimeout = 10000;
const QStringList goodSettings{"1", "2", "1", "2", "3", "2"};

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int slowdown = 3; // instrumented code on a shared two-core machine
#else
constexpr int slowdown = 1;
#endif

// An existing path that even root cannot open for writing: read-only sysfs
// attributes refuse write access to everyone. Empty if this system lets it open.
QString refusedPath()
{
    const char* path = "/sys/devices/system/cpu/online";
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return QString();
    }
    return errno == EACCES || errno == EPERM || errno == EROFS ? QString::fromLatin1(path) : QString();
}

} // namespace

class TestConnectionFaults : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void degenerateSettings_data();
    void degenerateSettings();
    void portVanishesWhileConnected();
    void destroyView_data();
    void destroyView();

private:
    // Good settings, the pty, Connect; waits for the initial data and "Available".
    void connectGood();
    // Presses Disconnect and waits for the notice and "Disconnected".
    void disconnectAndConfirm();

    QTemporaryDir settingsDir;
    PtyPair pty;
    std::unique_ptr<slavesim::SlaveSim> slave;
    std::unique_ptr<Iec101View> view;
    std::unique_ptr<ViewDriver> driver;
};

void TestConnectionFaults::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("iec101-test"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_connectionfaults"));
    // A pty opens a second time only without parity.
    QSettings().setValue(QStringLiteral("IEC101/Parity"), QStringLiteral("NoParity"));

    QVERIFY2(pty.start(), qPrintable(pty.errorString()));
    qputenv("IEC101_EXTRA_PORTS", pty.pathA().toLocal8Bit());
    slavesim::Config config;
    config.portPath = pty.pathB();
    config.parity = 'N';
    slave = std::make_unique<slavesim::SlaveSim>(config);
    QVERIFY2(slave->start(), qPrintable(slave->errorString()));
}

void TestConnectionFaults::cleanupTestCase()
{
    if (slave)
        slave->stop();
}

void TestConnectionFaults::init()
{
    slave->setCommandMode(slavesim::CommandMode::Normal);
    view = std::make_unique<Iec101View>(nullptr);
    view->show();
    driver = std::make_unique<ViewDriver>(view.get());
}

void TestConnectionFaults::cleanup()
{
    driver.reset();
    view.reset();
}

void TestConnectionFaults::connectGood()
{
    driver->applySettings(goodSettings);
    QVERIFY(driver->waitForPort(pty.pathA(), 5000));
    driver->choosePort(pty.pathA());
    driver->clickConnect();
    QTRY_VERIFY_WITH_TIMEOUT(driver->initialDataReady(), linkTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Available"), answerTimeout);
}

void TestConnectionFaults::disconnectAndConfirm()
{
    const int before = driver->notices.size();
    driver->clickDisconnect();
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Disconnected"), answerTimeout);
    QCOMPARE(driver->notices.size(), before + 1);
    QCOMPARE(driver->notices.last(), QStringLiteral("IEC101 disconnected."));
    QVERIFY(driver->connectEnabled());
}

void TestConnectionFaults::degenerateSettings_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("port");
    // Settings: common address, its size, link address, its size, object address size, cause size.
    const QString line = QStringLiteral("<pty>");
    QTest::newRow("all sizes 0") << QStringList{"1", "0", "1", "0", "0", "0"} << line;
    QTest::newRow("common address 0") << QStringList{"0", "2", "1", "2", "3", "2"} << line;
    QTest::newRow("common address 65535") << QStringList{"65535", "2", "1", "2", "3", "2"} << line;
    QTest::newRow("link address 0") << QStringList{"1", "2", "0", "2", "3", "2"} << line;
    QTest::newRow("link address 65535") << QStringList{"1", "2", "65535", "2", "3", "2"} << line;
    QTest::newRow("link address 65535 in one octet") << QStringList{"1", "2", "65535", "1", "3", "2"} << line;
    QTest::newRow("empty port name") << goodSettings << QString();
    QTest::newRow("port name not on this system") << goodSettings << QStringLiteral("ttyIEC101Missing0");
    QTest::newRow("port path that does not exist")
        << goodSettings << QStringLiteral("/nonexistent/iec101/ttyX");
    QTest::newRow("port without permission") << goodSettings << QStringLiteral("<refused>");
}

void TestConnectionFaults::degenerateSettings()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, port);
    if (port == QLatin1String("<pty>"))
        port = pty.pathA();
    if (port == QLatin1String("<refused>")) {
        port = refusedPath();
        if (port.isEmpty())
            QSKIP("no path on this system refuses to open for writing (read-only sysfs attribute opened)");
    }

    driver->applySettings(settings);
    if (port == pty.pathA())
        QVERIFY(driver->waitForPort(port, 5000));
    driver->choosePort(port);
    driver->clickConnect();

    // Several polling ticks with the bad connection; the GUI keeps running meanwhile.
    QElapsedTimer waited;
    waited.start();
    QTest::qWait(1200);
    QVERIFY2(waited.elapsed() < 1200 + 2000 * slowdown, "the GUI thread was blocked");

    // Whatever state it reached, the operator can end it and start a good connection.
    if (!driver->connectEnabled())
        disconnectAndConfirm();
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Disconnected"), answerTimeout);
    connectGood();
    disconnectAndConfirm();
}

void TestConnectionFaults::portVanishesWhileConnected()
{
    connectGood();

    // The adapter is pulled: both ends of the pty pair disappear.
    pty.kill();
    const qint64 pulledAt = driver->clock().elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(!driver->notices.isEmpty(), answerTimeout);
    const qint64 noticed = driver->noticeTimes.first() - pulledAt;
    qInfo("notice shown %lld ms after the port vanished", noticed);
    QCOMPARE(driver->notices.first(), QStringLiteral("IEC101 disconnected."));
    QVERIFY2(noticed <= 400 * slowdown, qPrintable(QStringLiteral("took %1 ms").arg(noticed)));
    QTRY_COMPARE_WITH_TIMEOUT(driver->status(), QStringLiteral("Disconnected"), answerTimeout);
    QVERIFY(driver->connectEnabled());

    // The adapter comes back under the same name: connecting works again.
    QVERIFY2(pty.restart(), qPrintable(pty.errorString()));
    connectGood();
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
    connectGood();
    if (commandPending) {
        // The station takes the read and never answers it: the engine stays busy.
        slave->setCommandMode(slavesim::CommandMode::Silent);
        slave->clearReceived();
        driver->widget<QLineEdit>("readAddressEdit")->setText(QString::number(slavesim::ioa::kFirstMeasured));
        driver->widget<QPushButton>("readSendButton")->click();
        // The polling timer runs on this thread: wait with the event loop going.
        QTRY_VERIFY_WITH_TIMEOUT(!slave->received(102).isEmpty(), answerTimeout);
    }

    driver.reset();
    QElapsedTimer clock;
    clock.start();
    view.reset();
    const qint64 took = clock.elapsed();
    qInfo("view destroyed in %lld ms", took);
    QVERIFY2(took < 1000, qPrintable(QStringLiteral("took %1 ms").arg(took)));
}

QTEST_MAIN(TestConnectionFaults)
#include "tst_connectionfaults.moc"
