#ifndef IEC101_JSONRECORDWRITER_H
#define IEC101_JSONRECORDWRITER_H

#include <QFile>
#include <QJsonObject>
#include <QString>

#include "commandoutcome.h"
#include "commandrequest.h"
#include "finding.h"
#include "infoobject.h"
#include "linkstate.h"

namespace iec101 {

// iec101-master's output: one compact JSON object per line, each with the time it was
// written ("time", UTC, ISO 8601 with milliseconds) and its kind ("event"), written
// through at once so that a reader of the pipe sees every record as it happens.
class JsonRecordWriter
{
public:
    // Writes to the process's standard output.
    JsonRecordWriter();

    void link(int linkAddress, LinkState state);
    void object(const InfoObject& object);
    // A command's final outcome; commandText as the user wrote it. The request says where
    // it went (link and common address) and whether it was one of the engine's own.
    void command(const QString& commandText, const CommandRequest& request, const CommandOutcome& outcome);
    void status(const QString& text);
    void initial(int linkAddress, bool complete);
    // A finding the moment it is found: kind, la, ca, ioa (null where it has none), detail.
    void finding(const Finding& finding);

private:
    void write(const QString& event, QJsonObject fields);

    QFile out;
};

} // namespace iec101

#endif // IEC101_JSONRECORDWRITER_H
