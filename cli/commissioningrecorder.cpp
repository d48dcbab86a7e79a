#include "commissioningrecorder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace iec101 {

namespace {

// A report of a large station takes a few seconds to lay out; one that takes this long
// is not coming.
constexpr int kRendererTimeoutMs = 300000;

} // namespace

CommissioningRecorder::CommissioningRecorder(const CommissioningReport::Session& settings, QObject* parent)
    : QObject(parent), session(settings)
{
    findings.startSession(session.protocol, session.serial.baudRate, session.serial.bitsPerCharacter());
    connect(&findings, &FindingsTracker::findingAdded, this,
            [this](int index) { records.finding(findings.findings().at(index)); });
}

void CommissioningRecorder::setPointList(int linkAddress, const PointList& list)
{
    findings.setPointList(linkAddress, list);
}

QString CommissioningRecorder::rendererProgram()
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/iec101-report");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("iec101-report"));
}

bool CommissioningRecorder::writeReport(const QString& path, QString* error)
{
    findings.finishChecks();
    const QString csvPath = CommissioningReport::findingsCsvPath(path);
    if (!CommissioningReport::writeFindingsCsv(findings.findings(), csvPath, error))
        return false;
    const QString program = rendererProgram();
    if (program.isEmpty()) {
        *error = QStringLiteral(
                     "cannot write %1: iec101-report is not installed beside iec101-master or on the PATH")
                     .arg(path);
        return false;
    }
    QProcess renderer;
    renderer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    renderer.start(program, {path});
    if (!renderer.waitForStarted()) {
        *error = QStringLiteral("cannot run %1: %2").arg(program, renderer.errorString());
        return false;
    }
    renderer.write(CommissioningReport::html(session, findings).toUtf8());
    renderer.closeWriteChannel();
    if (!renderer.waitForFinished(kRendererTimeoutMs)) {
        renderer.kill();
        renderer.waitForFinished();
        *error = QStringLiteral("%1 did not finish the report").arg(program);
        return false;
    }
    if (renderer.exitStatus() != QProcess::NormalExit || renderer.exitCode() != 0) {
        *error = QStringLiteral("the report %1 was not written (%2 exited with %3)")
                     .arg(path, program)
                     .arg(renderer.exitCode());
        return false;
    }
    return true;
}

} // namespace iec101
