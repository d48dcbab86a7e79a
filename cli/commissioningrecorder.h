#ifndef IEC101_COMMISSIONINGRECORDER_H
#define IEC101_COMMISSIONINGRECORDER_H

#include <QObject>
#include <QString>

#include "commissioningreport.h"
#include "findingstracker.h"
#include "jsonrecordwriter.h"

namespace iec101 {

// iec101-master's side of commissioning: the stations' point lists, the findings kept as
// the frames and outcomes of a run arrive (each written as a finding record the moment it
// is found), and the report at the end. The PDF is laid out by iec101-report, run with
// the report's HTML, so that this program never loads a GUI library.
class CommissioningRecorder : public QObject
{
    Q_OBJECT
public:
    explicit CommissioningRecorder(const CommissioningReport::Session& session, QObject* parent = nullptr);

    void setPointList(int linkAddress, const PointList& list);
    FindingsTracker* tracker() { return &findings; }

    // Writes the report as PDF to path and the findings beside it (path + ".csv"); false
    // with the reason when either cannot be written.
    bool writeReport(const QString& path, QString* error);

    // iec101-report beside this program, else on the PATH; empty when there is none.
    static QString rendererProgram();

private:
    CommissioningReport::Session session;
    FindingsTracker findings;
    JsonRecordWriter records;
};

} // namespace iec101

#endif // IEC101_COMMISSIONINGRECORDER_H
