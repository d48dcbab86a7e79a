// Recording the line to a pcap file and reading it back with tshark, the way an
// engineer opens it in Wireshark: the real view records a session with the simulated
// slave, and the host program records from its command line until it is told to end.
// Every record must dissect as IEC 60870-5-101 without a malformed packet, in the
// right direction and in the order the exchange took.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include <iec60870_common.h>

#include "iec101view.h"
#include "ptypair.h"
#include "scratchsettings.h"
#include "slavesimline.h"
#include "tsharkfields.h"
#include "viewdriver.h"

using namespace iec101;

using iec101::Iec101View;
using iec101::LineMonitor;

namespace {

constexpr int kLong = 20000;

// One decoded record: direction from the serial header, the link function, and for
// user data the ASDU's type, cause, P/N, QOI and select/execute bit.
struct Record
{
    QString text; // e.g. "sent 3 100/6 qoi 20" or "received 0"
    bool sentPrimary = false;
    bool wellFormed = false;
};

// tshark's reading of a capture made with the view's default settings.
QVector<Record> decode(const QString& path)
{
    QString error;
    const QList<QStringList> rows =
        tsharkFields(path,
                     {"rtacser.eventtype", "iec60870_101.ctrl_prm", "iec60870_101.ctrl_func_pri_to_sec",
                      "iec60870_101.ctrl_func_sec_to_pri", "iec60870_asdu.typeid", "iec60870_asdu.causetx",
                      "iec60870_asdu.nega", "iec60870_asdu.qoi", "iec60870_asdu.dco.se", "frame.protocols",
                      "_ws.expert", "_ws.malformed"},
                     &error);
    if (!error.isEmpty())
        qWarning() << error;
    QVector<Record> records;
    for (const QStringList& f : rows) {
        Record record;
        const bool sent = f[0] == QLatin1String("0x01");
        record.sentPrimary = sent && f[1] == QLatin1String("1");
        // The master sends only primary frames and the slave answers only with secondary ones.
        record.wellFormed =
            f[9].contains(QLatin1String("iec60870_101")) && !f[9].contains(QLatin1String("malformed")) &&
            (f[0] == QLatin1String("0x01") || f[0] == QLatin1String("0x02")) && record.sentPrimary == sent;
        record.text = (sent ? QStringLiteral("sent ") + f[2] : QStringLiteral("received ") + f[3]);
        if (!f[4].isEmpty()) {
            record.text += QStringLiteral(" %1/%2").arg(f[4], f[5]);
            if (f[6] == QLatin1String("1"))
                record.text += QStringLiteral(" negative");
            if (!f[7].isEmpty())
                record.text += QStringLiteral(" qoi ") + f[7];
            if (!f[8].isEmpty())
                record.text +=
                    f[8] == QLatin1String("1") ? QStringLiteral(" select") : QStringLiteral(" execute");
        }
        records.append(record);
    }
    return records;
}

// Checks that every record is well formed and that `expected` occur in this order.
void verifyCapture(const QVector<Record>& records, const QStringList& expected)
{
    QVERIFY(!records.isEmpty());
    QStringList texts;
    for (const Record& record : records) {
        QVERIFY2(record.wellFormed,
                 qPrintable(QStringLiteral("record %1: %2").arg(texts.size() + 1).arg(record.text)));
        texts << record.text;
    }
    int from = 0;
    for (const QString& step : expected) {
        const int at = texts.indexOf(step, from);
        // The records from there on (a whole session does not fit into one message).
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("%1 missing after record %2 of %3, which are:\n%4")
                                         .arg(step)
                                         .arg(from)
                                         .arg(texts.size())
                                         .arg(texts.mid(from).join(QLatin1Char('|')))));
        from = at + 1;
    }
}

} // namespace

class TestLineCapture : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void viewRecordsASession();
    void hostRecordsUntilItEnds();

private:
    ScratchSettings scratch{QStringLiteral("tst_linecapture")};
    QTemporaryDir dir;
};

void TestLineCapture::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QFAIL("tshark is missing; scripts/setup installs it");
    QVERIFY(dir.isValid());
}

void TestLineCapture::viewRecordsASession()
{
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    slavesim::SlaveSim& slave = line.slave();

    // Placed the way a host places it: in a dock, where it shows.
    QMainWindow window;
    auto* view = new Iec101View(&window);
    window.setCentralWidget(view);
    LineMonitor* monitor = view->lineMonitor();
    QVERIFY(monitor && monitor->isHidden());
    auto* dock = new QDockWidget(&window);
    dock->setWidget(monitor);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    window.show();
    QVERIFY(monitor->isVisible());

    const QString path = dir.filePath(QStringLiteral("session.pcap"));
    QVERIFY(monitor->startRecording(path));
    ViewDriver driver(view);
    QVERIFY(driver.connectTo(line));

    // Reading the local/remote switch also lets the panel offer the double command.
    driver.widget<QLineEdit>("readAddressEdit")->setText(QString::number(slavesim::ioa::kLocalRemote));
    driver.widget<QPushButton>("readSendButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(slave.received(C_RD_NA_1).size(), 1, kLong);
    // Object 3 starts open, so Close is offered once its state has been read.
    driver.widget<QComboBox>("controlObjectCombo")->setCurrentIndex(3);
    QTRY_VERIFY_WITH_TIMEOUT(driver.widget<QPushButton>("closeButton")->isEnabled(), kLong);
    const int readsBefore = slave.received(C_RD_NA_1).size();
    driver.widget<QPushButton>("closeButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(slave.received(C_DC_NA_1).size(), 2, kLong);
    // Half a second after the command the view reads the switch back; its answer ends it,
    // so the engine is idle for what follows.
    QTRY_COMPARE_WITH_TIMEOUT(slave.received(C_RD_NA_1).size(), readsBefore + 1, kLong);
    QTest::qWait(300);
    // Disconnected as soon as the clock sync is on the line: its frames mostly meet no
    // further polling tick, and the record must still hold them.
    driver.widget<QPushButton>("timeSyncSendButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(slave.received(C_CS_NA_1).size(), 1, kLong);
    driver.clickDisconnect();
    QTRY_COMPARE_WITH_TIMEOUT(driver.status(), QStringLiteral("Disconnected"), kLong);
    QTest::qWait(300);
    monitor->stopRecording();

    const QVector<Record> records = decode(path);
    verifyCapture(records, {"sent 9", "received 11", "sent 0", "received 0", "sent 3 100/6 qoi 20",
                            "received 8 100/7 qoi 20", "received 8 100/10 qoi 20", "sent 3 102/5",
                            "sent 3 46/6 select", "received 8 46/7 select", "sent 3 46/6 execute",
                            "received 8 46/7 execute", "sent 3 103/6"});
    if (QTest::currentTestFailed())
        return;
    // One record per frame the monitor counted.
    const QRegularExpression counts(QStringLiteral("^Sent (\\d+), received (\\d+),"));
    const QRegularExpressionMatch match = counts.match(monitor->statisticsText());
    QVERIFY(match.hasMatch());
    QCOMPARE(records.size(), match.captured(1).toInt() + match.captured(2).toInt());
}

void TestLineCapture::hostRecordsUntilItEnds()
{
    PtyPair pty;
    QVERIFY2(pty.start(), qPrintable(pty.errorString()));
    QProcess slave;
    slave.start(QStringLiteral(IEC101_SLAVESIM),
                {"--port", pty.pathB(), "--baud", "9600", "--parity", "N", "--remote", "--event-rate", "2"});
    QVERIFY(slave.waitForStarted());
    const auto stopSlave = qScopeGuard([&slave] {
        slave.kill();
        slave.waitForFinished();
    });

    // The host's own settings store, without parity (a pty), defaults otherwise.
    QDir(dir.path()).mkpath(QStringLiteral("xdg/iec101"));
    QSettings store(dir.filePath(QStringLiteral("xdg/iec101/iec101-host.conf")), QSettings::IniFormat);
    store.setValue(QStringLiteral("IEC101/Parity"), QStringLiteral("NoParity"));
    store.sync();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("IEC101_EXTRA_PORTS"), pty.pathA());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const QString path = dir.filePath(QStringLiteral("host.pcap"));
    QProcess host;
    host.setProcessEnvironment(environment);
    host.start(QStringLiteral(IEC101_HOST), {"--port", pty.pathA(), "--capture", path});
    QVERIFY(host.waitForStarted());
    // Long enough for the initial interrogations and a few events.
    QTest::qWait(4000);
    host.terminate();
    QVERIFY(host.waitForFinished(10000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    // A sanitizer report on the way out ends the host with 1; show it.
    QVERIFY2(host.exitCode() == 0, host.readAllStandardError().constData());

    verifyCapture(decode(path), {"sent 0", "received 0", "sent 3 100/6 qoi 20", "received 8 100/7 qoi 20",
                                 "received 8 100/10 qoi 20", "sent 3 101/6", "received 8 101/10"});
}

QTEST_MAIN(TestLineCapture)
#include "tst_linecapture.moc"
