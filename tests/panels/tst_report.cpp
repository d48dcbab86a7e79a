// The commissioning report as an engineer reads it: laid out as PDF by the renderer the view
// and iec101-report share, read back with pdftotext, with the station settings, every listed
// point checked, the findings, the commands and the line's figures; the findings beside it
// as CSV; and a file that cannot be written said as such.
#include <QtTest>

#include <iec60870_common.h>

#include "commissioningreport.h"
#include "findingstracker.h"
#include "ft12.h"
#include "reportpdf.h"

using namespace iec101;

namespace {

QByteArray asdu(int typeId, int cause, int ioa, const QByteArray& element)
{
    QByteArray a;
    a.append(char(typeId))
        .append(char(1))
        .append(char(cause))
        .append(char(0))
        .append(char(1))
        .append(char(0));
    a.append(char(ioa & 0xFF)).append(char((ioa >> 8) & 0xFF)).append(char(ioa >> 16));
    return a + element;
}

LineFrame frame(bool sent, const QByteArray& octets, int n)
{
    LineFrame f;
    f.timeUs = 1700000000000000LL + n * 1000;
    f.sent = sent;
    f.octets = octets;
    return f;
}

// A station that answered a general interrogation without one listed point, with a value
// out of its range, and refused a command.
void feed(FindingsTracker& tracker)
{
    QVector<PointList::Problem> problems;
    tracker.setPointList(1, PointList::fromCsv("ioa,type,name,unit,states,expected\n"
                                               "1001,M_SP_NA_1,Breaker Q1 trip,,0=off;1=on,off\n"
                                               "1002,M_SP_NA_1,Door open,,,\n"
                                               "4001,M_ME_NC_1,Busbar voltage,kV,,10..20\n",
                                               &problems));
    float voltage = 25.5f;
    const QVector<QPair<bool, QByteArray>> conversation{
        {true, Ft12::fixedFrame(0x40, 1, 2)},
        {false, Ft12::fixedFrame(0x00, 1, 2)},
        {true, Ft12::variableFrame(0x73, 1, 2, asdu(C_IC_NA_1, 6, 0, QByteArray(1, 20)))},
        {false, Ft12::variableFrame(0x08, 1, 2, asdu(M_SP_NA_1, 20, 1001, QByteArray(1, 0)))},
        {false, Ft12::variableFrame(
                    0x08, 1, 2,
                    asdu(M_ME_NC_1, 20, 4001,
                         QByteArray(reinterpret_cast<const char*>(&voltage), 4) + QByteArray(1, 0)))},
        {false, Ft12::variableFrame(0x08, 1, 2, asdu(C_IC_NA_1, 10, 0, QByteArray(1, 20)))},
        {true, Ft12::variableFrame(0x53, 1, 2, asdu(C_SC_NA_1, 6, 2949122, QByteArray(1, char(0x81))))},
        {false,
         Ft12::variableFrame(0x08, 1, 2, asdu(C_SC_NA_1, 7 | 0x40, 2949122, QByteArray(1, char(0x81))))},
    };
    QVector<LineFrame> frames;
    for (const auto& step : conversation)
        frames << frame(step.first, step.second, frames.size());
    tracker.addFrames(frames);
    CommandOutcome refused;
    refused.result = CommandOutcome::Result::Refused;
    refused.negative = true;
    refused.cause = 7;
    tracker.addCommand(CommandRequest::singleCommand(2949122, true), refused);
}

} // namespace

class TestReport : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void pdfText();
    void findingsCsv();
    void unwritableFile();
};

void TestReport::pdfText()
{
    FindingsTracker tracker;
    CommissioningReport::Session session;
    session.serial.portName = QStringLiteral("/dev/ttyUSB3");
    session.serial.baudRate = 19200;
    tracker.startSession(session.protocol, 19200, 11);
    feed(tracker);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    QString error;
    QVERIFY2(ReportPdf::write(CommissioningReport::html(session, tracker), path, &error), qPrintable(error));

    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    QVERIFY2(pdftotext.waitForFinished(30000) && pdftotext.exitCode() == 0,
             "pdftotext (poppler-utils, installed by scripts/setup) did not read the report");
    const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
    const auto has = [&text](const QString& part) {
        if (!text.contains(part))
            qWarning().noquote() << text;
        return text.contains(part);
    };
    // The settings, the summary and every section.
    QVERIFY(has(QStringLiteral("/dev/ttyUSB3")));
    QVERIFY(has(QStringLiteral("19200 baud, 8E1")));
    QVERIFY(has(QStringLiteral("Points listed: 3, passed: 1, failed: 2.")));
    QVERIFY(has(QStringLiteral("Findings: 1 missing, 1 range, 1 refused.")));
    for (const char* section :
         {"Station settings", "Point list check", "Findings", "Commands", "Line statistics"})
        QVERIFY(has(QLatin1String(section)));
    // Point by point, one line each: seen or not, the value with its unit, pass or fail.
    const QStringList lines = text.split(QLatin1Char('\n'));
    const auto lineOf = [&lines](const QString& name) {
        for (const QString& line : lines) {
            if (line.contains(name))
                return line.simplified();
        }
        return QString();
    };
    // (Long cells may wrap; the first line of a row holds the start of each cell.)
    const auto rowHas = [&lineOf](const QString& address, const QStringList& cells) {
        const QString line = lineOf(QLatin1Char(' ') + address + QLatin1Char(' '));
        int at = 0;
        for (const QString& cell : cells) {
            at = line.indexOf(cell, at);
            if (at < 0) {
                qWarning().noquote() << "row" << address << "lacks" << cell << "in order:" << line;
                return false;
            }
        }
        return true;
    };
    QVERIFY(
        rowHas(QStringLiteral("1001"), {"Breaker", "M_SP_NA_1", "yes", "off", "0", "off", "good", "PASS"}));
    QVERIFY(rowHas(QStringLiteral("1002"), {"Door", "M_SP_NA_1", "no", "FAIL"}));
    QVERIFY(
        rowHas(QStringLiteral("4001"), {"Busbar", "M_ME_NC_1", "yes", "25.5", "25.5", "10", "good", "FAIL"}));
    // The findings by kind, and the command with its outcome.
    QVERIFY(has(QStringLiteral(" missing ")));
    QVERIFY(has(QStringLiteral(" range ")));
    QVERIFY(has(QStringLiteral(" refused ")));
    QVERIFY(lineOf(QStringLiteral("C_SC_NA_1 2949122 1 select")).contains(QStringLiteral("refused")));
    QVERIFY(has(QStringLiteral("Negative confirmations")));
}

void TestReport::findingsCsv()
{
    FindingsTracker tracker;
    tracker.startSession(ProtocolSettings());
    feed(tracker);
    QTemporaryDir dir;
    const QString path = CommissioningReport::findingsCsvPath(dir.filePath(QStringLiteral("r.pdf")));
    QCOMPARE(path, dir.filePath(QStringLiteral("r.pdf.csv")));
    QString error;
    QVERIFY2(CommissioningReport::writeFindingsCsv(tracker.findings(), path, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = file.readAll().split('\n');
    QCOMPARE(rows.first(), QByteArray("time,la,ca,ioa,kind,detail\r"));
    QCOMPARE(rows.size(), 5); // header, three findings, the empty rest after the last CR LF
    // In the order found: the value with its frame, the missing point with the end of the
    // interrogation, the refusal.
    QVERIFY(rows.at(1).contains(",1,1,4001,range,\"Busbar voltage: 25.5 kV, expected 10 kV .. 20 kV\""));
    QVERIFY(rows.at(2).contains(",1,1,1002,missing,"));
    QVERIFY(rows.at(3).contains(",1,1,2949122,refused,"));
    const QString frameTime = QDateTime::fromMSecsSinceEpoch(1700000000004LL).toString(Qt::ISODateWithMs);
    QVERIFY2(rows.at(1).startsWith(frameTime.toUtf8()), rows.at(1).constData());
}

void TestReport::unwritableFile()
{
    FindingsTracker tracker;
    QString error;
    QVERIFY(
        !ReportPdf::write(QStringLiteral("<p>x</p>"), QStringLiteral("/nonexistent/dir/report.pdf"), &error));
    QVERIFY2(error.startsWith(QLatin1String("Cannot write /nonexistent/dir/report.pdf")), qPrintable(error));
    QVERIFY(!CommissioningReport::writeFindingsCsv(tracker.findings(),
                                                   QStringLiteral("/nonexistent/dir/r.csv"), &error));
    QVERIFY2(error.startsWith(QLatin1String("Cannot write /nonexistent/dir/r.csv")), qPrintable(error));
}

QTEST_MAIN(TestReport)
#include "tst_report.moc"
