#include "commissioningreport.h"

#include <QFile>
#include <QMap>
#include <QSaveFile>

#include "csvwriter.h"
#include "findingstracker.h"
#include "linkstate.h"
#include "objecttext.h"

namespace iec101 {

namespace {

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString timeText(qint64 ms)
{
    return ms <= 0 ? QString()
                   : QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString addressText(int address)
{
    return address < 0 ? QString() : QString::number(address);
}

// One table: a header row and rows of plain texts, escaped here.
class Table
{
public:
    // widths: per cent of the page for each column. QTextDocument keeps to them as long as
    // every cell may wrap; a cell that may not takes what it needs from the others.
    Table(const QStringList& headers, const QVector<int>& widths)
    {
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\"><tr>");
        for (int i = 0; i < headers.size(); ++i)
            html +=
                QStringLiteral("<th align=\"left\" bgcolor=\"#d8dee8\" width=\"%1%\">").arg(widths.value(i)) +
                escaped(headers.at(i)) + QStringLiteral("</th>");
        html += QStringLiteral("</tr>");
    }
    // PASS and FAIL cells are coloured.
    void row(const QStringList& cells)
    {
        html += QStringLiteral("<tr>");
        for (int i = 0; i < cells.size(); ++i) {
            const QString& cell = cells.at(i);
            html += QStringLiteral("<td>");
            if (cell == QLatin1String("FAIL"))
                html += QStringLiteral("<font color=\"#b40000\"><b>FAIL</b></font>");
            else if (cell == QLatin1String("PASS"))
                html += QStringLiteral("<font color=\"#006400\">PASS</font>");
            else
                html += escaped(cell);
            html += QStringLiteral("</td>");
        }
        html += QStringLiteral("</tr>");
    }
    QString end() { return html + QStringLiteral("</table>"); }

private:
    QString html;
};

QString settingsSection(const CommissioningReport::Session& session)
{
    const ProtocolSettings& p = session.protocol;
    QString port = session.serial.portName;
    if (!session.secondPort.isEmpty())
        port += QStringLiteral(" (master), %1 (station)").arg(session.secondPort);
    const QString format = QStringLiteral("%1 baud, %2%3%4")
                               .arg(session.serial.baudRate)
                               .arg(session.serial.dataBits)
                               .arg(QChar::fromLatin1(session.serial.parity))
                               .arg(session.serial.stopBits);
    Table table({QStringLiteral("Setting"), QStringLiteral("Value")}, {25, 75});
    table.row({QStringLiteral("Port"), port});
    table.row({QStringLiteral("Character format"), format});
    table.row({QStringLiteral("Mode"), session.listenOnly
                                           ? QStringLiteral("listen only (tapped line, nothing sent)")
                                       : p.mode == LinkMode::Balanced ? QStringLiteral("balanced master")
                                                                      : QStringLiteral("unbalanced master")});
    QStringList stations;
    for (const Station& station : p.stationList()) {
        QStringList cas;
        for (int ca : station.commonAddresses)
            cas << QString::number(ca);
        stations << QStringLiteral("link %1, common address %2")
                        .arg(station.linkAddress)
                        .arg(cas.join(QStringLiteral(", ")));
    }
    table.row({QStringLiteral("Stations"), stations.join(QStringLiteral("; "))});
    table.row({QStringLiteral("Field sizes"),
               QStringLiteral("link address %1, common address %2, object address %3, cause %4 octets")
                   .arg(p.linkAddressOctets())
                   .arg(p.commonAddressOctets())
                   .arg(p.objectAddressOctets())
                   .arg(p.causeOctets())});
    table.row({QStringLiteral("Command time-out"),
               QStringLiteral("%1 ms, termination %2 ms").arg(p.commandTimeoutMs).arg(p.terminationWaitMs)});
    return QStringLiteral("<h2>Station settings</h2>") + table.end();
}

QString pointSection(const FindingsTracker& tracker, int* passed, int* failed)
{
    const QVector<FindingsTracker::PointCheck> checks = tracker.pointChecks();
    if (checks.isEmpty())
        return QStringLiteral("<h2>Point list check</h2><p>No point list was loaded.</p>");
    Table table({QStringLiteral("LA"), QStringLiteral("CA"), QStringLiteral("IOA"), QStringLiteral("Name"),
                 QStringLiteral("Type"), QStringLiteral("Seen"), QStringLiteral("Value"),
                 QStringLiteral("Raw"), QStringLiteral("Expected"), QStringLiteral("Quality"),
                 QStringLiteral("Result")},
                {4, 4, 9, 16, 12, 6, 12, 8, 11, 9, 8});
    for (const FindingsTracker::PointCheck& check : checks) {
        const PointList::Point& point = check.point;
        QString type = ObjectText::typeName(point.typeId);
        if (check.seen && !check.typeOk)
            type += QStringLiteral(", reported %1").arg(ObjectText::typeName(check.last.typeId));
        const QString quality = check.seen ? ObjectText::qualityText(check.last) : QString();
        check.pass() ? ++*passed : ++*failed;
        table.row({QString::number(check.linkAddress), addressText(point.commonAddress),
                   QString::number(point.address), point.name, type,
                   check.seen ? QStringLiteral("yes") : QStringLiteral("no"),
                   check.seen ? PointList::engineeringText(point, check.last) : QString(),
                   check.seen ? ObjectText::plainValueText(check.last) : QString(),
                   PointList::expectedText(point),
                   check.seen ? (quality.isEmpty() ? QStringLiteral("good") : quality) : QString(),
                   check.pass() ? QStringLiteral("PASS") : QStringLiteral("FAIL")});
    }
    return QStringLiteral("<h2>Point list check</h2>") + table.end();
}

QString findingsSection(const QVector<Finding>& findings, qint64 notKept)
{
    if (findings.isEmpty())
        return QStringLiteral("<h2>Findings</h2><p>None.</p>");
    const QString more =
        notKept == 0 ? QString() : QStringLiteral("<p>%1 more findings were not kept.</p>").arg(notKept);
    Table table({QStringLiteral("Time"), QStringLiteral("Kind"), QStringLiteral("LA"), QStringLiteral("CA"),
                 QStringLiteral("IOA"), QStringLiteral("Detail"), QStringLiteral("Count")},
                {14, 12, 4, 4, 8, 51, 7});
    for (const Finding& finding : findings)
        table.row({timeText(finding.timeMs), Finding::kindName(finding.kind),
                   addressText(finding.linkAddress), addressText(finding.commonAddress),
                   addressText(finding.objectAddress), finding.detail, QString::number(finding.count)});
    return QStringLiteral("<h2>Findings</h2>") + table.end() + more;
}

QString commandSection(const QVector<FindingsTracker::CommandRecord>& commands)
{
    if (commands.isEmpty())
        return QStringLiteral("<h2>Commands</h2><p>None.</p>");
    Table table({QStringLiteral("Time"), QStringLiteral("Command"), QStringLiteral("LA"),
                 QStringLiteral("CA"), QStringLiteral("Outcome"), QStringLiteral("ms")},
                {14, 30, 4, 4, 41, 7});
    for (const FindingsTracker::CommandRecord& record : commands)
        table.row({timeText(record.timeMs), record.request.text(), addressText(record.request.linkAddress),
                   addressText(record.request.commonAddress), record.outcome.text(),
                   record.outcome.roundTripMs < 0 ? QString() : QString::number(record.outcome.roundTripMs)});
    return QStringLiteral("<h2>Commands</h2>") + table.end();
}

QString statisticsSection(const FindingsTracker& tracker)
{
    const LineStatistics& s = tracker.statistics();
    Table table({QStringLiteral("Figure"), QStringLiteral("Count")}, {50, 50});
    table.row({QStringLiteral("Frames from the master"), QString::number(s.sent)});
    table.row({QStringLiteral("Frames from the stations"), QString::number(s.received)});
    table.row({QStringLiteral("Repeated requests"), QString::number(s.repeats)});
    table.row({QStringLiteral("Time-outs"), QString::number(s.timeouts)});
    table.row({QStringLiteral("Link resets"), QString::number(s.linkResets)});
    table.row({QStringLiteral("Negative confirmations"), QString::number(s.negativeConfirmations)});
    table.row({QStringLiteral("Bad frames"), QString::number(s.malformed)});
    table.row({QStringLiteral("Frames not handed over"), QString::number(s.dropped)});
    QString html = QStringLiteral("<h2>Line statistics</h2>") + table.end();
    if (tracker.firstFrameMs() > 0)
        html += QStringLiteral("<p>Frames from %1 to %2.</p>")
                    .arg(timeText(tracker.firstFrameMs()), timeText(tracker.lastFrameMs()));
    return html;
}

} // namespace

QString CommissioningReport::html(const Session& session, const FindingsTracker& tracker)
{
    const QDateTime written = session.written.isValid() ? session.written : QDateTime::currentDateTime();
    int passed = 0;
    int failed = 0;
    const QString points = pointSection(tracker, &passed, &failed);
    QMap<Finding::Kind, int> perKind;
    for (const Finding& finding : tracker.findings())
        ++perKind[finding.kind];
    QStringList kinds;
    for (auto it = perKind.cbegin(); it != perKind.cend(); ++it)
        kinds << QStringLiteral("%1 %2").arg(it.value()).arg(Finding::kindName(it.key()));

    QString html =
        QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body style=\"font-size:7pt\">");
    html += QStringLiteral("<h1>%1</h1>").arg(escaped(session.title));
    html += QStringLiteral("<p>Written %1.</p>").arg(escaped(written.toString(Qt::ISODate)));
    html += QStringLiteral("<h2>Summary</h2><p>Points listed: %1, passed: %2, failed: %3.<br>Findings: "
                           "%4.<br>Commands: %5.</p>")
                .arg(passed + failed)
                .arg(passed)
                .arg(failed)
                .arg(kinds.isEmpty() ? QStringLiteral("none") : escaped(kinds.join(QStringLiteral(", "))))
                .arg(tracker.commands().size());
    html += settingsSection(session);
    html += points;
    html += findingsSection(tracker.findings(), tracker.findingsNotKept());
    html += commandSection(tracker.commands());
    html += statisticsSection(tracker);
    html += QStringLiteral("</body></html>");
    return html;
}

bool CommissioningReport::writeFindingsCsv(const QVector<Finding>& findings, QIODevice* device,
                                           QString* error)
{
    CsvWriter writer(device);
    writer.writeHeader({QStringLiteral("time"), QStringLiteral("la"), QStringLiteral("ca"),
                        QStringLiteral("ioa"), QStringLiteral("kind"), QStringLiteral("detail")});
    for (const Finding& finding : findings) {
        const auto address = [](int value) {
            return value < 0 ? QVariant() : QVariant(value);
        };
        writer.writeRow({QDateTime::fromMSecsSinceEpoch(finding.timeMs), address(finding.linkAddress),
                         address(finding.commonAddress), address(finding.objectAddress),
                         Finding::kindName(finding.kind), finding.detail});
    }
    if (writer.finish())
        return true;
    *error = writer.errorString();
    return false;
}

bool CommissioningReport::writeFindingsCsv(const QVector<Finding>& findings, const QString& path,
                                           QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    QString why;
    if (!writeFindingsCsv(findings, &file, &why) || !file.commit()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, why.isEmpty() ? file.errorString() : why);
        return false;
    }
    return true;
}

QString CommissioningReport::findingsCsvPath(const QString& reportPath)
{
    return reportPath + QStringLiteral(".csv");
}

} // namespace iec101
