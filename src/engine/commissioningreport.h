#ifndef IEC101_COMMISSIONINGREPORT_H
#define IEC101_COMMISSIONINGREPORT_H

#include <QDateTime>
#include <QString>
#include <QVector>

#include "finding.h"
#include "iec101engine_export.h"
#include "protocolsettings.h"
#include "serialsettings.h"

class QIODevice;

namespace iec101 {

class FindingsTracker;

// The evidence a commissioning engineer leaves with, written once for the view and the
// command-line master: the station settings, the signal list checked point by point,
// the findings, the commands with their outcomes and the line's statistics, as one HTML
// document that QTextDocument lays out into the PDF; and the findings as CSV beside it.
// QtCore only: rendering to PDF (QtGui) is the caller's (ReportPdf, iec101-report).
class IEC101ENGINE_EXPORT CommissioningReport
{
public:
    struct Session
    {
        QString title = QStringLiteral("Commissioning report");
        SerialSettings serial;
        ProtocolSettings protocol;
        bool listenOnly = false;
        QString secondPort; // the station's side of a full-duplex tap
        QDateTime written;  // null: now
    };

    CommissioningReport() = delete;

    static QString html(const Session& session, const FindingsTracker& tracker);

    // time,la,ca,ioa,kind,detail: RFC 4180 with a header row; time in ISO 8601 with its
    // offset from UTC, la/ca/ioa empty where a finding has none, kind as the JSON
    // records name it.
    static bool writeFindingsCsv(const QVector<Finding>& findings, QIODevice* device, QString* error);
    static bool writeFindingsCsv(const QVector<Finding>& findings, const QString& path, QString* error);
    // Where the findings go beside a report: the report's path with ".csv" appended.
    static QString findingsCsvPath(const QString& reportPath);
};

} // namespace iec101

#endif // IEC101_COMMISSIONINGREPORT_H
