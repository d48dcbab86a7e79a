#include "ptypair.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <functional>

namespace {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QThread::msleep(10);
    }
    return true;
}

} // namespace

PtyPair::PtyPair()
{
    m_socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

PtyPair::~PtyPair()
{
    kill();
}

QString PtyPair::pathA() const
{
    return m_dir.filePath(QStringLiteral("A"));
}

QString PtyPair::pathB() const
{
    return m_dir.filePath(QStringLiteral("B"));
}

bool PtyPair::isRunning() const
{
    return m_socat.state() != QProcess::NotRunning;
}

bool PtyPair::start(int timeoutMs)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return false;
    }
    if (isRunning()) {
        return true;
    }
    const QStringList args{QStringLiteral("pty,raw,echo=0,link=%1").arg(pathA()),
                           QStringLiteral("pty,raw,echo=0,link=%1").arg(pathB())};
    // socat must not outlive a test that crashes: it would keep the test's output
    // pipe open and the pty links alive. setpriv makes the kernel kill it then.
    if (!QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        m_socat.start(
            QStringLiteral("setpriv"),
            QStringList{QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("socat")} +
                args);
    else
        m_socat.start(QStringLiteral("socat"), args);
    if (!m_socat.waitForStarted(timeoutMs)) {
        m_error = QStringLiteral("socat did not start: %1").arg(m_socat.errorString());
        return false;
    }
    const bool linked = waitUntil(
        [this] {
            return (QFileInfo::exists(pathA()) && QFileInfo::exists(pathB())) ||
                   m_socat.state() == QProcess::NotRunning;
        },
        timeoutMs);
    if (!linked || !QFileInfo::exists(pathA()) || !QFileInfo::exists(pathB())) {
        m_error = QStringLiteral("socat did not create %1 and %2").arg(pathA(), pathB());
        kill();
        return false;
    }
    return true;
}

void PtyPair::kill()
{
    if (isRunning()) {
        // SIGTERM lets socat remove its links; SIGKILL only if it does not go.
        m_socat.terminate();
        if (!m_socat.waitForFinished(3000)) {
            m_socat.kill();
            m_socat.waitForFinished(3000);
        }
    }
    // Links left behind by a killed socat would point to ptys that no longer exist.
    for (const QString& path : {pathA(), pathB()}) {
        if (QFileInfo(path).isSymLink()) {
            QFile::remove(path);
        }
    }
}

bool PtyPair::restart(int timeoutMs)
{
    kill();
    return start(timeoutMs);
}
