#include "signalnotifier.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace iec101 {

namespace {

int sockets[2] = {-1, -1};

void onSignal(int signalNumber)
{
    // Only async-signal-safe calls here.
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (::write(sockets[0], &byte, 1) < 0) {
        // Nothing to do: with the handler reset, the next signal ends the process.
    }
}

} // namespace

SignalNotifier::SignalNotifier(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return;
    notifier = new QSocketNotifier(sockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        if (::read(sockets[1], &byte, 1) == 1)
            Q_EMIT received(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Reset to the default action once delivered: a second signal ends the process.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

SignalNotifier::~SignalNotifier()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete notifier;
    for (int& fd : sockets) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace iec101
