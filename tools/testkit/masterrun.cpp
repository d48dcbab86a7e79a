#include "masterrun.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QtTest>

MasterRun::MasterRun(const QString& program, const QStringList& arguments,
                     const QProcessEnvironment& environment)
{
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [this] { readRecords(); });
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
}

MasterRun::~MasterRun()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

int MasterRun::finish()
{
    if (!process.waitForFinished(kTimeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    readRecords();
    errors = QString::fromUtf8(process.readAllStandardError());
    return process.exitCode();
}

bool MasterRun::waitFor(const std::function<bool(const QJsonObject&)>& match)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kTimeoutMs) {
        readRecords();
        for (const QJsonObject& record : qAsConst(records)) {
            if (match(record))
                return true;
        }
        if (process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
    return false;
}

QVector<QJsonObject> MasterRun::ofEvent(const QString& event) const
{
    QVector<QJsonObject> found;
    for (const QJsonObject& record : records) {
        if (record.value(QStringLiteral("event")).toString() == event)
            found << record;
    }
    return found;
}

QStringList MasterRun::outcomes() const
{
    QStringList texts;
    for (const QJsonObject& record : ofEvent(QStringLiteral("command"))) {
        if (!record.value(QStringLiteral("automatic")).toBool())
            texts << record.value(QStringLiteral("command")).toString() + QStringLiteral(" -> ") +
                         record.value(QStringLiteral("outcome")).toString();
    }
    return texts;
}

void MasterRun::readRecords()
{
    pending += process.readAllStandardOutput();
    int end;
    while ((end = pending.indexOf('\n')) >= 0) {
        const QByteArray line = pending.left(end);
        pending.remove(0, end + 1);
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        const bool timed = record.value(QStringLiteral("time")).toString().endsWith(QLatin1Char('Z'));
        if (!timed || !record.contains(QStringLiteral("event")))
            badLines << QString::fromUtf8(line);
        else
            records << record;
    }
}
