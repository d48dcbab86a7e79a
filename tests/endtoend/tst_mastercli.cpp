// The command-line master as a script runs it: the built program against the simulated
// station on a pty pair, its stdout read as JSON lines, its exit status and stderr
// checked, and what the station received compared with what the program was told.

#include <QtTest>

#include <csignal>
#include <cstring>
#include <functional>

#include <iec60870_common.h>

#include "masterrun.h"
#include "ptypair.h"
#include "slavesimline.h"
#include "stationsline.h"

namespace ioa = slavesim::ioa;

namespace {

const QString kMaster = QStringLiteral(IEC101_MASTER);

QStringList lineArguments(const SlaveSimLine& line)
{
    return {QStringLiteral("--port"), line.masterPort(), QStringLiteral("--parity"), QStringLiteral("N")};
}

// What the station received, as "type" or "type select".
QStringList receivedTexts(slavesim::SlaveSim& slave)
{
    QStringList texts;
    for (const slavesim::ReceivedAsdu& asdu : slave.received())
        texts << QString::number(asdu.typeId) + (asdu.select ? QStringLiteral(" select") : QString());
    return texts;
}

bool isEvent(const QJsonObject& record, const char* event)
{
    return record.value(QStringLiteral("event")).toString() == QLatin1String(event);
}

bool isObject(const QJsonObject& record, int cot, int address)
{
    return record.value(QStringLiteral("event")).toString() == QLatin1String("object") &&
           record.value(QStringLiteral("cot")).toInt() == cot &&
           record.value(QStringLiteral("ioa")).toInt() == address;
}

} // namespace

class TestMasterCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void runsCommands_data();
    void runsCommands();
    void refusesBadUsage_data();
    void refusesBadUsage();
    void portProblems_data();
    void portProblems();
    void capture_data();
    void capture();
    void reportsWhatArrivesMeanwhile();
    void signalEndsRun_data();
    void signalEndsRun();
    void stationBusyForGood();
    void severalStations();

private:
    QTemporaryDir dir;
};

void TestMasterCli::initTestCase()
{
    QVERIFY(dir.isValid());
}

void TestMasterCli::runsCommands_data()
{
    QTest::addColumn<QVector<int>>("refused");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("terminations");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<bool>("viaScript");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QString>("firstDetail");
    QTest::addColumn<QStringList>("stationGot");

    const int normal = int(slavesim::CommandMode::Normal);
    const QStringList noInitial{QStringLiteral("--no-initial")};
    QTest::newRow("initial data, then a read, single, double commands and a clock sync")
        << QVector<int>{} << normal << true << QStringList{}
        << QStringList{"C_RD_NA_1 4001", "C_SC_NA_1 2949121 1 select", "C_DC_NA_1 3014657 2 select qu=1",
                       "C_CS_NA_1"}
        << false << 0
        << QStringList{"C_RD_NA_1 4001 -> confirmed", "C_SC_NA_1 2949121 1 select -> terminated",
                       "C_DC_NA_1 3014657 2 select qu=1 -> terminated", "C_CS_NA_1 -> confirmed"}
        << QString() << QStringList{"100", "101", "102", "45 select", "45", "46 select", "46", "103"};
    QTest::newRow("a script with comments and a wait runs like arguments")
        << QVector<int>{} << normal << true << noInitial
        << QStringList{"# read, then interrogate", "C_RD_NA_1 0x3E9   # 1001", "", "wait 0.2",
                       "C_IC_NA_1 qoi=20"}
        << true << 0 << QStringList{"C_RD_NA_1 0x3E9 -> confirmed", "C_IC_NA_1 qoi=20 -> terminated"}
        << QString() << QStringList{"102", "100"};
    QTest::newRow("refused select: no execute; a direct execute elsewhere; the run goes on, exit 1")
        << QVector<int>{2949125} << normal << true << noInitial
        << QStringList{"C_SC_NA_1 2949125 1 select", "c_sc_na_1  2949122 0", "C_RD_NA_1 4002"} << false << 1
        << QStringList{"C_SC_NA_1 2949125 1 select -> refused", "c_sc_na_1 2949122 0 -> terminated",
                       "C_RD_NA_1 4002 -> confirmed"}
        << QStringLiteral("refused: negative activation confirmation of the select (7)")
        << QStringList{"45 select", "45", "102"};
    QTest::newRow("silent station: timed out, exit 1")
        << QVector<int>{} << int(slavesim::CommandMode::Silent) << true
        << QStringList{"--no-initial", "--timeout-ms", "800"} << QStringList{"C_RD_NA_1 4001"} << false << 1
        << QStringList{"C_RD_NA_1 4001 -> timed-out"} << QStringLiteral("timed out waiting for the answer")
        << QStringList{"102"};
    QTest::newRow("no termination: confirmed all the same, exit 0")
        << QVector<int>{} << normal << false << noInitial << QStringList{"C_DC_NA_1 3014658 1 select"}
        << false << 0 << QStringList{"C_DC_NA_1 3014658 1 select -> confirmed"}
        << QStringLiteral("confirmed, not terminated") << QStringList{"46 select", "46"};
    QTest::newRow("bad script line: named, nothing sent, exit 2")
        << QVector<int>{} << normal << true << QStringList{}
        << QStringList{"C_RD_NA_1 4001", "# fine so far", "C_SC_NA_1 2949121 2"} << true << 2 << QStringList{}
        << QString() << QStringList{};
    QTest::newRow("setpoints, a step, a bitstring, parameters and the system commands")
        << QVector<int>{} << normal << true << noInitial
        << QStringList{"C_SE_NB_1 6002 -5 select ql=1",
                       "C_RC_NA_1 7001 higher",
                       "C_SE_NC_1 6003 12.5",
                       "C_BO_NA_1 8001 0xA5A5F00F",
                       "C_SE_TA_1 6001 0.5 time",
                       "C_TS_NA_1",
                       "C_RP_NA_1 qrp=2",
                       "C_CD_NA_1",
                       "C_CS_NA_1 delay",
                       "P_ME_NC_1 4001 2.5 kpa=3",
                       "P_AC_NA_1 4001"}
        << false << 0
        << QStringList{"C_SE_NB_1 6002 -5 select ql=1 -> terminated",
                       "C_RC_NA_1 7001 higher -> terminated",
                       "C_SE_NC_1 6003 12.5 -> terminated",
                       "C_BO_NA_1 8001 0xA5A5F00F -> terminated",
                       "C_SE_TA_1 6001 0.5 time -> terminated",
                       "C_TS_NA_1 -> confirmed",
                       "C_RP_NA_1 qrp=2 -> confirmed",
                       "C_CD_NA_1 -> confirmed",
                       "C_CS_NA_1 delay -> confirmed",
                       "P_ME_NC_1 4001 2.5 kpa=3 -> confirmed",
                       "P_AC_NA_1 4001 -> confirmed"}
        << QString()
        << QStringList{"49 select", "49", "47", "50", "51", "61", "105", "106", "103", "112", "113"};
    QTest::newRow("select-only, then deactivate of the same object")
        << QVector<int>{} << normal << true << noInitial
        << QStringList{"C_SE_NB_1 6001 300 select-only", "deactivate 6001"} << false << 0
        << QStringList{"C_SE_NB_1 6001 300 select-only -> confirmed", "deactivate 6001 -> confirmed"}
        << QString() << QStringList{"49 select", "49 select"};
    QTest::newRow("setpoint to an unknown address: refused with its cause, no execute")
        << QVector<int>{} << normal << true << noInitial << QStringList{"C_SE_NC_1 6999 1 select"} << false
        << 1 << QStringList{"C_SE_NC_1 6999 1 select -> refused"}
        << QStringLiteral("refused: unknown object address (47)") << QStringList{"50 select"};
    // The station refuses interrogations for address 0; the engine tries each three times.
    QTest::newRow("initial interrogations refused: reported, exit still 0")
        << QVector<int>{0} << normal << true << QStringList{} << QStringList{"C_RD_NA_1 4003"} << false << 0
        << QStringList{"C_RD_NA_1 4003 -> confirmed"} << QString()
        << QStringList{"100", "101", "100", "101", "100", "101", "102"};
}

void TestMasterCli::runsCommands()
{
    QFETCH(QVector<int>, refused);
    QFETCH(int, mode);
    QFETCH(bool, terminations);
    QFETCH(QStringList, options);
    QFETCH(QStringList, commands);
    QFETCH(bool, viaScript);
    QFETCH(int, exitCode);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, firstDetail);
    QFETCH(QStringList, stationGot);

    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    slavesim::SlaveSim& slave = line.slave();
    slave.setRefusedAddresses(refused);
    slave.setCommandMode(slavesim::CommandMode(mode));
    slave.setTerminations(terminations);

    QStringList arguments = lineArguments(line) + options;
    if (viaScript) {
        const QString path = dir.filePath(QStringLiteral("%1.txt").arg(QTest::currentDataTag()));
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(commands.join(QLatin1Char('\n')).toUtf8());
        script.close();
        arguments << QStringLiteral("--script") << path;
    } else {
        arguments += commands;
    }
    MasterRun run(kMaster, arguments);
    const int exited = run.finish();
    QVERIFY2(run.badLines.isEmpty(), qPrintable(run.badLines.join(QLatin1Char('\n'))));
    QCOMPARE(run.outcomes(), outcomes);
    QCOMPARE(exited, exitCode);
    QCOMPARE(receivedTexts(slave), stationGot);
    if (exitCode == 2) {
        QVERIFY2(run.errors.contains(QLatin1String("line 3")), qPrintable(run.errors));
        QVERIFY(run.records.isEmpty());
        return;
    }
    const QVector<QJsonObject> commandRecords = run.ofEvent(QStringLiteral("command"));
    if (!firstDetail.isEmpty()) {
        const auto first =
            std::find_if(commandRecords.cbegin(), commandRecords.cend(),
                         [](const QJsonObject& r) { return !r.value(QStringLiteral("automatic")).toBool(); });
        QVERIFY(first != commandRecords.cend());
        QCOMPARE(first->value(QStringLiteral("detail")).toString(), firstDetail);
    }
    // A delay acquisition's record carries the delay it measured.
    for (const QJsonObject& record : commandRecords) {
        if (record.value(QStringLiteral("command")).toString() == QLatin1String("C_CD_NA_1"))
            QVERIFY(record.value(QStringLiteral("delayMs")).toInt(-1) >= 0);
    }
    const QVector<QJsonObject> links = run.ofEvent(QStringLiteral("link"));
    QVERIFY(std::any_of(links.cbegin(), links.cend(), [](const QJsonObject& r) {
        return r.value(QStringLiteral("state")).toString() == QLatin1String("available");
    }));
    QCOMPARE(links.last().value(QStringLiteral("state")).toString(), QStringLiteral("disconnected"));

    // A confirmed read's answer is an object record of its address.
    for (const QString& outcome : qAsConst(outcomes)) {
        if (!outcome.startsWith(QLatin1String("C_RD_NA_1")) ||
            !outcome.endsWith(QLatin1String("-> confirmed")))
            continue;
        const QString address = outcome.split(QLatin1Char(' ')).at(1);
        const int number = address.toInt(nullptr, address.startsWith(QLatin1String("0x")) ? 16 : 10);
        QVERIFY2(std::any_of(run.records.cbegin(), run.records.cend(),
                             [number](const QJsonObject& r) { return isObject(r, 5, number); }),
                 qPrintable(outcome));
    }

    if (options.contains(QStringLiteral("--no-initial"))) {
        QVERIFY(run.ofEvent(QStringLiteral("initial")).isEmpty());
        return;
    }
    // The engine's own interrogations come first, marked, with the station's data; the
    // initial record follows their last outcome, and the user's commands follow it.
    const QVector<QJsonObject> initial = run.ofEvent(QStringLiteral("initial"));
    QCOMPARE(initial.size(), 1);
    const bool complete = refused.isEmpty();
    QCOMPARE(initial.first().value(QStringLiteral("complete")).toBool(), complete);
    QStringList automatic;
    QStringList order;
    for (const QJsonObject& record : qAsConst(run.records)) {
        const auto step = [&order](const QString& kind) {
            if (order.isEmpty() || order.last() != kind)
                order << kind;
        };
        if (isEvent(record, "initial"))
            step(QStringLiteral("initial"));
        if (!isEvent(record, "command"))
            continue;
        const bool own = record.value(QStringLiteral("automatic")).toBool();
        step(own ? QStringLiteral("automatic") : QStringLiteral("user"));
        if (own)
            automatic << record.value(QStringLiteral("command")).toString() + QLatin1Char(' ') +
                             record.value(QStringLiteral("outcome")).toString();
    }
    QCOMPARE(order, (QStringList{"automatic", "initial", "user"}));
    if (complete) {
        QCOMPARE(automatic, (QStringList{"C_IC_NA_1 qoi=20 terminated", "C_CI_NA_1 qcc=5 terminated"}));
        const auto interrogated = [&run](int address) {
            return std::any_of(run.records.cbegin(), run.records.cend(),
                               [address](const QJsonObject& r) { return isObject(r, 20, address); });
        };
        QVERIFY(interrogated(ioa::kFirstSinglePoint));
        QVERIFY(interrogated(ioa::kFirstMeasured + ioa::kMeasuredCount - 1));
        QVERIFY(interrogated(ioa::kLocalRemote));
    } else {
        QCOMPARE(automatic.size(), 6);
        QCOMPARE(automatic.filter(QStringLiteral("refused")).size(), 6);
    }
}

void TestMasterCli::refusesBadUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("said");

    // Commands are checked before the port is opened, so a port that is not there
    // must not be what the program complains about.
    const QStringList port{"--port", "/nonexistent/iec101/tty"};
    QTest::newRow("no port") << QStringList{"C_RD_NA_1 1"} << "--port PORT is required";
    QTest::newRow("baud rate the line cannot run")
        << port + QStringList{"--baud", "12345"} << "--baud must be one of";
    QTest::newRow("parity letter") << port + QStringList{"--parity", "X"} << "--parity must be E, O or N";
    QTest::newRow("common address beyond its size")
        << port + QStringList{"--ca-size", "1", "--ca", "256"} << "--ca must be 0..255, not \"256\"";
    QTest::newRow("link address size")
        << port + QStringList{"--link-address-size", "3"} << "--link-address-size";
    QTest::newRow("no timeout") << port + QStringList{"--timeout-ms", "0"} << "--timeout-ms must be";
    QTest::newRow("unknown option") << port + QStringList{"--speed", "9600"} << "Unknown option 'speed'";
    QTest::newRow("script and commands") << port + QStringList{"--script", "x", "C_RD_NA_1 1"} << "not both";
    QTest::newRow("object address beyond its size")
        << port + QStringList{"--ioa-size", "2", "C_RD_NA_1 65535", "C_RD_NA_1 65536"}
        << "argument 2 \"C_RD_NA_1 65536\": IOA must be 0..65535";
    QTest::newRow("a command's common address beyond its size")
        << port + QStringList{"--ca-size", "1", "--ca", "5", "C_IC_NA_1 ca=255", "C_IC_NA_1 ca=256"}
        << "argument 2 \"C_IC_NA_1 ca=256\": ca must be 0..255";
    QTest::newRow("unknown command") << port + QStringList{"C_XX_NA_1 5"} << "unknown command \"C_XX_NA_1\"";
    QTest::newRow("double command state")
        << port + QStringList{"C_DC_NA_1 3014657 0"} << "state must be 1 or 2";
    QTest::newRow("select where there is none")
        << port + QStringList{"C_RD_NA_1 4001 select"} << "unexpected \"select\"";
    QTest::newRow("argument given twice")
        << port + QStringList{"C_SC_NA_1 2949121 1 qu=1 qu=2"} << "qu= given twice";
    QTest::newRow("wait without seconds") << port + QStringList{"wait soon"} << "wait takes one number";
    QTest::newRow("normalized setpoint beyond its range")
        << port + QStringList{"C_SE_NA_1 6001 1.5"} << "value 1.5 out of range -1..0.9999694824";
    QTest::newRow("step direction is a word")
        << port + QStringList{"C_RC_NA_1 7001 up"} << "direction must be lower or higher, not \"up\"";
    QTest::newRow("bitstring beyond 32 bits")
        << port + QStringList{"C_BO_NA_1 8001 0x100000000"} << "bits must be 0x00000000..0xFFFFFFFF";
    QTest::newRow("time that is no time")
        << port + QStringList{"C_SE_TB_1 6001 5 time=yesterday"} << "time must be ISO 8601";
    QTest::newRow("deactivate with nothing selected and no type")
        << port + QStringList{"deactivate 6001"} << "no select-only of object 6001 before it";
    QTest::newRow("select and select-only")
        << port + QStringList{"C_SC_NA_1 2949121 1 select select-only"} << "select and select-only exclude";
    QTest::newRow("script that is not there")
        << port + QStringList{"--script", "/nonexistent/script"} << "cannot read /nonexistent/script";
}

void TestMasterCli::refusesBadUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    MasterRun run(kMaster, arguments);
    QCOMPARE(run.finish(), 2);
    QVERIFY2(run.errors.contains(said), qPrintable(run.errors));
    QVERIFY(run.records.isEmpty() && run.badLines.isEmpty());
}

void TestMasterCli::portProblems_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::newRow("port that does not exist")
        << "/nonexistent/iec101/tty" << 2 << "cannot open /nonexistent/iec101/tty: No such file or directory";
    // A bare name is looked up in the system's port list, not in the working directory.
    QTest::newRow("name that is no port here")
        << "tst_mastercli" << 2 << "cannot open tst_mastercli: no serial port of that name";
    // Opening a directory fails even for root.
    QTest::newRow("device that does not open") << "<directory>" << 2 << ": Is a directory";
    QTest::newRow("no station on the line") << "<pty>" << 3 << "no link to station 1 on ";
}

void TestMasterCli::portProblems()
{
    QFETCH(QString, port);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    PtyPair pty;
    if (port == QLatin1String("<directory>")) {
        port = dir.path();
        said = QStringLiteral("cannot open ") + port + said;
    } else if (port == QLatin1String("<pty>")) {
        QVERIFY2(pty.start(), qPrintable(pty.errorString()));
        port = pty.pathA();
    }
    MasterRun run(kMaster, {"--port", port, "--parity", "N", "--link-timeout-ms", "1500", "C_RD_NA_1 4001"});
    QCOMPARE(run.finish(), exitCode);
    QVERIFY2(run.errors.contains(said), qPrintable(run.errors));
    QVERIFY(run.outcomes().isEmpty());
}

void TestMasterCli::capture_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("every frame to the file") << true;
    QTest::newRow("file that cannot be written: said, the run goes on") << false;
}

void TestMasterCli::capture()
{
    QFETCH(bool, writable);
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    const QString path =
        writable ? dir.filePath(QStringLiteral("line.pcap")) : QStringLiteral("/nonexistent/line.pcap");
    MasterRun run(kMaster,
                  lineArguments(line) + QStringList{"--no-initial", "--capture", path, "C_RD_NA_1 4001"});
    QCOMPARE(run.finish(), 0);
    QCOMPARE(run.outcomes(), QStringList{"C_RD_NA_1 4001 -> confirmed"});
    if (!writable) {
        QVERIFY2(run.errors.contains(path), qPrintable(run.errors));
        const QVector<QJsonObject> status = run.ofEvent(QStringLiteral("status"));
        QVERIFY(std::any_of(status.cbegin(), status.cend(), [&path](const QJsonObject& r) {
            return r.value(QStringLiteral("text")).toString().contains(path);
        }));
        return;
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray octets = file.readAll();
    // Classic pcap in this machine's byte order, link type 250, then the frames: at
    // least link status, reset, the read and their answers.
    const quint32 magic = 0xa1b2c3d4;
    QVERIFY(octets.size() > 24 + 6 * 13);
    QCOMPARE(QByteArray(octets.constData(), 4), QByteArray(reinterpret_cast<const char*>(&magic), 4));
    quint32 linkType = 0;
    std::memcpy(&linkType, octets.constData() + 20, 4);
    QCOMPARE(linkType, 250u);
}

void TestMasterCli::reportsWhatArrivesMeanwhile()
{
    slavesim::Config config;
    config.quality = {{ioa::kFirstMeasured, 0xc0}};
    SlaveSimLine line(config);
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    // Two hours east of UTC, without summer time and without a zone file.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TZ"), QStringLiteral("XYZ-2"));
    MasterRun run(kMaster, lineArguments(line) + QStringList{"wait 30"}, environment);
    QVERIFY(run.waitFor([](const QJsonObject& r) { return isEvent(r, "initial"); }));
    // The station's clock fields, 09:30:47.591.
    const qint64 stamp = QDateTime(QDate(2026, 12, 6), QTime(9, 30, 47, 591), Qt::UTC).toMSecsSinceEpoch();
    line.slave().injectSinglePoint(ioa::kFirstSinglePoint + 2, true, true, stamp);
    QVERIFY(run.waitFor([](const QJsonObject& r) { return isObject(r, 3, ioa::kFirstSinglePoint + 2); }));
    run.process.terminate();
    QCOMPARE(run.finish(), 128 + SIGTERM);

    // An empty object when there is none: its fields then fail the comparisons below.
    const auto find = [&run](int cot, int address) {
        const auto found = std::find_if(run.records.cbegin(), run.records.cend(),
                                        [=](const QJsonObject& r) { return isObject(r, cot, address); });
        return found == run.records.cend() ? QJsonObject() : *found;
    };
    // The event as the example in the documentation shows it.
    const QJsonObject event = find(3, ioa::kFirstSinglePoint + 2);
    QCOMPARE(event.value(QStringLiteral("type")).toString(), QStringLiteral("M_SP_TB_1"));
    QCOMPARE(event.value(QStringLiteral("typeId")).toInt(), M_SP_TB_1);
    QCOMPARE(event.value(QStringLiteral("ca")).toInt(), 1);
    QCOMPARE(event.value(QStringLiteral("value")), QJsonValue(1));
    QCOMPARE(event.value(QStringLiteral("quality")).toArray(), QJsonArray());
    // The station's clock runs on the local time the master's clock sync sets: its
    // fields are read as local time and written in UTC.
    QCOMPARE(event.value(QStringLiteral("timestamp")).toString(), QStringLiteral("2026-12-06T07:30:47.591Z"));
    // A flagged measured value from the interrogation: a number, its flags by name, no tag.
    const QJsonObject measured = find(20, ioa::kFirstMeasured);
    QVERIFY(measured.value(QStringLiteral("value")).isDouble());
    QCOMPARE(measured.value(QStringLiteral("quality")).toArray(), (QJsonArray{"IV", "NT"}));
    QVERIFY(measured.value(QStringLiteral("timestamp")).isNull());
}

void TestMasterCli::signalEndsRun_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("commandPending");
    QTest::newRow("SIGINT while a command waits for its answer") << int(SIGINT) << true;
    QTest::newRow("SIGTERM during a wait") << int(SIGTERM) << false;
}

void TestMasterCli::signalEndsRun()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, commandPending);
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    if (commandPending)
        line.slave().setCommandMode(slavesim::CommandMode::Silent);
    const QString capturePath = dir.filePath(QStringLiteral("signal.pcap"));
    MasterRun run(kMaster, lineArguments(line) + QStringList{"--no-initial", "--timeout-ms", "60000",
                                                             "--capture", capturePath,
                                                             commandPending ? "C_RD_NA_1 4001" : "wait 60"});
    QVERIFY(run.waitFor([](const QJsonObject& r) {
        return isEvent(r, "link") &&
               r.value(QStringLiteral("state")).toString() == QLatin1String("available");
    }));
    if (commandPending)
        QTRY_COMPARE_WITH_TIMEOUT(line.slave().received(C_RD_NA_1).size(), 1, MasterRun::kTimeoutMs);
    ::kill(pid_t(run.process.processId()), signalNumber);
    QCOMPARE(run.finish(), 128 + signalNumber);

    // What waited is reported as ended by the close, and the line is closed last.
    QCOMPARE(run.outcomes(), commandPending ? QStringList{"C_RD_NA_1 4001 -> timed-out"} : QStringList{});
    if (commandPending)
        QCOMPARE(run.ofEvent(QStringLiteral("command")).first().value(QStringLiteral("reason")).toString(),
                 QStringLiteral("closed"));
    QCOMPARE(run.records.last().value(QStringLiteral("state")).toString(), QStringLiteral("disconnected"));
    QVERIFY(QFileInfo(capturePath).size() > 24);
}

void TestMasterCli::stationBusyForGood()
{
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    MasterRun run(kMaster, lineArguments(line) + QStringList{"--no-initial", "--link-timeout-ms", "2000",
                                                             "wait 1.5", "C_RD_NA_1 4001"});
    QVERIFY(run.waitFor([](const QJsonObject& r) {
        return isEvent(r, "link") &&
               r.value(QStringLiteral("state")).toString() == QLatin1String("available");
    }));
    // Busy from the wait on, so the read meets a busy station.
    line.slave().setBusy(MasterRun::kTimeoutMs);
    const int exited = run.finish();
    // The engine would hold the read for as long as the station stays busy.
    QCOMPARE(run.outcomes(), QStringList{"C_RD_NA_1 4001 -> not-sent"});
    QCOMPARE(exited, 1);
    QVERIFY2(run.errors.contains(QLatin1String("stayed busy")), qPrintable(run.errors));
}

// Three stations on one line: the initial data of each, an interrogation of every station
// in turn, and a read of one named by its link address; every record says where it is from.
void TestMasterCli::severalStations()
{
    const QVector<slavesim::Config> configs = StationsLine::numbered(3, 10);
    StationsLine line(configs);
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    MasterRun run(kMaster, {"--port", line.masterPort(), "--parity", "N", "--station", "1:11", "--station",
                            "2:12", "--station", "3:13", "C_IC_NA_1 la=all", "C_RD_NA_1 4001 la=2"});
    QCOMPARE(run.finish(), 0);
    QVERIFY2(run.badLines.isEmpty(), qPrintable(run.badLines.join('\n')));
    for (const QJsonObject& record : qAsConst(run.records))
        QVERIFY2(record.contains(QStringLiteral("la")) && record.contains(QStringLiteral("ca")),
                 QJsonDocument(record).toJson(QJsonDocument::Compact).constData());
    QCOMPARE(run.ofEvent(QStringLiteral("initial")).size(), 3);
    QStringList commands;
    for (const QJsonObject& record : run.ofEvent(QStringLiteral("command"))) {
        if (!record.value(QStringLiteral("automatic")).toBool())
            commands << QStringLiteral("%1 la=%2 ca=%3 %4")
                            .arg(record.value(QStringLiteral("command")).toString())
                            .arg(record.value(QStringLiteral("la")).toInt())
                            .arg(record.value(QStringLiteral("ca")).toInt())
                            .arg(record.value(QStringLiteral("outcome")).toString());
    }
    QCOMPARE(
        commands,
        QStringList({"C_IC_NA_1 la=all la=1 ca=11 terminated", "C_IC_NA_1 la=all la=2 ca=12 terminated",
                     "C_IC_NA_1 la=all la=3 ca=13 terminated", "C_RD_NA_1 4001 la=2 la=2 ca=12 confirmed"}));
    // Each station's objects under its own addresses; the read's answer from station 2.
    for (const QJsonObject& record : run.ofEvent(QStringLiteral("object")))
        QCOMPARE(record.value(QStringLiteral("ca")).toInt(), 10 + record.value(QStringLiteral("la")).toInt());
    QVERIFY(run.waitFor([](const QJsonObject& record) {
        return isObject(record, CS101_COT_REQUEST, ioa::kFirstMeasured) &&
               record.value(QStringLiteral("la")).toInt() == 2;
    }));
    for (int n = 0; n < 3; ++n)
        QCOMPARE(line.station(n).received(C_IC_NA_1).size(), 2);
    QCOMPARE(line.station(1).received(C_RD_NA_1).size(), 1);
    QCOMPARE(line.station(0).received(C_RD_NA_1).size() + line.station(2).received(C_RD_NA_1).size(), 0);
}

QTEST_GUILESS_MAIN(TestMasterCli)
#include "tst_mastercli.moc"
