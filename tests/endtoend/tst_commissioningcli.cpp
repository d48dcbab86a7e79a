// iec101-master for commissioning, run as a program: a signal list checked against the
// simulated station with a known set of faults (finding records, the PDF report read back
// with pdftotext, the findings CSV beside it), lists with bad rows and lists that are none,
// and listen mode on a tap of a line where the test kit's master talks to the station:
// commands refused before the port opens, the conversation reported, nothing sent. The
// program itself stays free of GUI libraries.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "masterengine.h"
#include "masterrun.h"
#include "slavesimline.h"
#include "stationsline.h"

namespace ioa = slavesim::ioa;
using namespace iec101;

namespace {

const QString kMaster = QStringLiteral(IEC101_MASTER);

// The simulated station's interrogation listed but for 1004; 1500 listed and not there,
// 4002 listed with another type, 4001 expected below its value.
QByteArray stationList()
{
    QByteArray rows = "ioa,type,name,unit,expected\n";
    for (int ioa = ioa::kFirstSinglePoint; ioa < ioa::kFirstSinglePoint + ioa::kSinglePointCount; ++ioa) {
        if (ioa != 1004)
            rows += QByteArray::number(ioa) + ",M_SP_NA_1,point,,\n";
    }
    rows += "1500,M_SP_NA_1,spare,,\n65537,1,local/remote,,\n";
    for (int n = 1; n <= ioa::kObjectCount; ++n)
        rows += QByteArray::number(ioa::kObjectStateBase + n) + ",M_DP_NA_1,switch,,\n";
    rows +=
        "4001,M_ME_NC_1,voltage,kV,0..5\n4002,M_ME_NB_1,current,A,\n4003,13,p,,\n4004,13,q,,\n4005,13,f,,\n";
    for (int ioa = ioa::kFirstCounter; ioa < ioa::kFirstCounter + ioa::kCounterCount; ++ioa)
        rows += QByteArray::number(ioa) + ",M_IT_NA_1,counter,,\n";
    return rows;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString pdfText(const QString& path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!pdftotext.waitForFinished(30000) || pdftotext.exitCode() != 0)
        return QString();
    return QString::fromUtf8(pdftotext.readAllStandardOutput());
}

} // namespace

class TestCommissioningCli : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void findingsAndReport();
    void badPointLists_data();
    void badPointLists();
    void listenRefusesCommands();
    void listenHearsAnotherMaster();
    void noGuiLibraries();
};

void TestCommissioningCli::findingsAndReport()
{
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    line.slave().setRefusedAddresses({ioa::kFirstSingleCommand + 1});
    QTemporaryDir dir;
    const QString points = dir.filePath(QStringLiteral("points.csv"));
    const QString report = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY(writeFile(points, stationList()));

    MasterRun run(kMaster,
                  {QStringLiteral("--port"), line.masterPort(), QStringLiteral("--parity"),
                   QStringLiteral("N"), QStringLiteral("--points"), points, QStringLiteral("--report"),
                   report, QStringLiteral("C_SC_NA_1 2949122 1 select"), QStringLiteral("wait 0.5")});
    QCOMPARE(run.finish(), 1); // the refused command
    QStringList found;
    for (const QJsonObject& finding : run.ofEvent("finding")) {
        found << QStringLiteral("%1 %2 %3 %4")
                     .arg(finding.value(QStringLiteral("kind")).toString())
                     .arg(finding.value(QStringLiteral("la")).toInt())
                     .arg(finding.value(QStringLiteral("ca")).toInt())
                     .arg(finding.value(QStringLiteral("ioa")).toInt());
        QVERIFY(!finding.value(QStringLiteral("detail")).toString().isEmpty());
        QVERIFY(finding.value(QStringLiteral("time")).toString().endsWith(QLatin1Char('Z')));
    }
    found.sort();
    QCOMPARE(found, (QStringList{"missing 1 1 1500", "range 1 1 4001", "refused 1 1 2949122", "type 1 1 4002",
                                 "unexpected 1 1 1004"}));

    const QString text = pdfText(report);
    QVERIFY2(!text.isEmpty(), "no report, or pdftotext (poppler-utils) missing");
    QVERIFY2(text.contains(QStringLiteral("Points listed: 30, passed: 27, failed: 3.")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("C_IC_NA_1 qoi=20")));
    QFile csv(report + QStringLiteral(".csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().trimmed().split('\n');
    QCOMPARE(rows.first().trimmed(), QByteArray("time,la,ca,ioa,kind,detail"));
    QCOMPARE(rows.size(), 6);
}

void TestCommissioningCli::badPointLists_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("a bad row is said, the rest runs")
        << QByteArray("ioa,type\n1001,M_SP_NA_1\n1002,M_XX_NA_1\n") << 0
        << "points.csv, line 3: type: \"M_XX_NA_1\"";
    QTest::newRow("a file that is no list stops before the port opens")
        << QByteArray("address,kind\n1,2\n") << 2 << "points.csv, line 1: the header names no \"ioa\" column";
}

void TestCommissioningCli::badPointLists()
{
    QFETCH(QByteArray, list);
    QFETCH(int, status);
    QFETCH(QString, message);
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    QTemporaryDir dir;
    const QString points = dir.filePath(QStringLiteral("points.csv"));
    QVERIFY(writeFile(points, list));
    MasterRun run(kMaster, {QStringLiteral("--port"), line.masterPort(), QStringLiteral("--parity"),
                            QStringLiteral("N"), QStringLiteral("--no-initial"), QStringLiteral("--points"),
                            points, QStringLiteral("C_RD_NA_1 1001")});
    QCOMPARE(run.finish(), status);
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QCOMPARE(run.ofEvent("link").isEmpty(), status != 0);
}

void TestCommissioningCli::listenRefusesCommands()
{
    // The port does not exist: a refusal must come before any attempt to open it.
    MasterRun run(kMaster,
                  {QStringLiteral("--listen"), QStringLiteral("--port"), QStringLiteral("/nonexistent/tap"),
                   QStringLiteral("wait 1"), QStringLiteral("C_RD_NA_1 4001")});
    QCOMPARE(run.finish(), 2);
    QVERIFY2(run.errors.contains(QStringLiteral("--listen sends nothing: \"C_RD_NA_1 4001\" is refused")),
             qPrintable(run.errors));
    QVERIFY(run.records.isEmpty());
}

void TestCommissioningCli::listenHearsAnotherMaster()
{
    StationsLine line({slavesim::Config()});
    const QString tap = line.addTap(LineBus::Tap::Both);
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("heard.pdf"));

    MasterRun run(kMaster,
                  {QStringLiteral("--listen"), QStringLiteral("--port"), tap, QStringLiteral("--parity"),
                   QStringLiteral("N"), QStringLiteral("--report"), report, QStringLiteral("wait 8")});
    QVERIFY(run.waitFor([](const QJsonObject& record) {
        return record.value(QStringLiteral("event")) == QLatin1String("status");
    }));

    EngineFixture f;
    f.openTyped(line.serialSettings(), line.settings());
    QVERIFY(QTest::qWaitFor([&f] { return f.initialDataFinished; }, 30000));
    QVERIFY(f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstMeasured))));
    QCOMPARE(run.finish(), 0);

    int heardObjects = 0;
    for (const QJsonObject& object : run.ofEvent("object"))
        heardObjects += object.value(QStringLiteral("la")).toInt() == 1 ? 1 : 0;
    int ownObjects = f.unsolicited.size();
    for (const EngineFixture::Finished& finished : f.finished) {
        for (const InfoObject& object : finished.answer)
            ownObjects += object.typeId < C_SC_NA_1 ? 1 : 0;
    }
    QCOMPARE(heardObjects, ownObjects);
    QStringList commands;
    for (const QJsonObject& command : run.ofEvent("command"))
        commands << command.value(QStringLiteral("command")).toString() + QStringLiteral(" -> ") +
                        command.value(QStringLiteral("outcome")).toString();
    QVERIFY2(commands.contains(QStringLiteral("C_IC_NA_1 qoi=20 -> terminated")),
             qPrintable(commands.join('\n')));
    QVERIFY(commands.contains(QStringLiteral("C_RD_NA_1 4001 -> confirmed")));
    QVERIFY(pdfText(report).contains(QStringLiteral("listen only")));
    QCOMPARE(line.bus()->tapByteCount(), 0);
}

void TestCommissioningCli::noGuiLibraries()
{
    QProcess ldd;
    ldd.start(QStringLiteral("ldd"), {QStringLiteral(IEC101_MASTER)});
    QVERIFY(ldd.waitForFinished(10000));
    const QString libraries = QString::fromUtf8(ldd.readAllStandardOutput());
    QVERIFY(libraries.contains(QStringLiteral("libQt5Core")));
    QVERIFY(!libraries.contains(QStringLiteral("libQt5Gui")));
    QVERIFY(!libraries.contains(QStringLiteral("libQt5Widgets")));
}

QTEST_GUILESS_MAIN(TestCommissioningCli)
#include "tst_commissioningcli.moc"
