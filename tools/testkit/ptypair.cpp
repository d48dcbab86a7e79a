#include "ptypair.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

// A TCP port on the loopback interface that nobody listens on right now.
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QString ptyAddress(const QString& link)
{
    return QStringLiteral("pty,raw,echo=0,link=%1").arg(link);
}

} // namespace

PtyPair::PtyPair(Bridge joined) : bridge(joined)
{
    socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bridgeSocat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

PtyPair::~PtyPair()
{
    kill();
}

QString PtyPair::pathA() const
{
    return dir.filePath(QStringLiteral("A"));
}

QString PtyPair::pathB() const
{
    return dir.filePath(QStringLiteral("B"));
}

bool PtyPair::isRunning() const
{
    return socat.state() != QProcess::NotRunning;
}

bool PtyPair::startSocat(QProcess& process, const QStringList& args, int timeoutMs)
{
    // socat must not outlive a test that crashes: it would keep the test's output
    // pipe open and the pty links alive. setpriv makes the kernel kill it then.
    if (!QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        process.start(
            QStringLiteral("setpriv"),
            QStringList{QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("socat")} +
                args);
    else
        process.start(QStringLiteral("socat"), args);
    if (!process.waitForStarted(timeoutMs)) {
        error = QStringLiteral("socat did not start: %1").arg(process.errorString());
        return false;
    }
    return true;
}

bool PtyPair::start(int timeoutMs)
{
    if (!dir.isValid()) {
        error = QStringLiteral("no temporary directory");
        return false;
    }
    if (isRunning())
        return true;
    bool started = false;
    if (bridge == Bridge::Direct) {
        started = startSocat(socat, {ptyAddress(pathA()), ptyAddress(pathB())}, timeoutMs);
    } else {
        if (port == 0)
            port = freeLoopbackPort();
        // The converter serves the station's line on a TCP port; the master's bridge
        // connects to it, retrying until the converter listens.
        started = startSocat(socat,
                             {ptyAddress(pathB()),
                              QStringLiteral("tcp-listen:%1,bind=127.0.0.1,reuseaddr").arg(port)},
                             timeoutMs) &&
                  startSocat(bridgeSocat,
                             {ptyAddress(pathA()),
                              QStringLiteral("tcp:127.0.0.1:%1,retry=50,interval=0.1").arg(port)},
                             timeoutMs);
    }
    if (!started) {
        kill();
        return false;
    }
    const bool linked = waitUntil(
        [this] {
            return (QFileInfo::exists(pathA()) && QFileInfo::exists(pathB())) ||
                   socat.state() == QProcess::NotRunning;
        },
        timeoutMs);
    if (!linked || !QFileInfo::exists(pathA()) || !QFileInfo::exists(pathB())) {
        error = QStringLiteral("socat did not create %1 and %2").arg(pathA(), pathB());
        kill();
        return false;
    }
    return true;
}

void PtyPair::kill()
{
    for (QProcess* process : {&bridgeSocat, &socat}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        // SIGTERM lets socat remove its links; SIGKILL only if it does not go.
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
    // Links left behind by a killed socat would point to ptys that no longer exist.
    for (const QString& path : {pathA(), pathB()}) {
        if (QFileInfo(path).isSymLink())
            QFile::remove(path);
    }
}

bool PtyPair::restart(int timeoutMs)
{
    kill();
    return start(timeoutMs);
}
