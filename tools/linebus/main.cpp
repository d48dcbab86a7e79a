// iec101-line-bus: joins a master's serial device with several stations' devices as one
// line, the way an RS-485 pair or a radio channel joins them, for trying a master against
// several simulated stations; taps hear the traffic as a monitoring device would.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include "linebus.h"

namespace {

int signalFds[2] = {-1, -1};

void onSignal(int)
{
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalFds[0], &b, 1);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iec101-line-bus"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Joins MASTER and each STATION device as one serial line: what the master sends\n"
                       "reaches every station, what a station sends reaches the master. Typically the\n"
                       "far ends of socat pty pairs. Runs until interrupted."));
    parser.addHelpOption();
    const QCommandLineOption baudOpt(QStringList{"b", "baud"},
                                     "Pace every octet as a line of this speed (0: at once).", "rate", "0");
    const QCommandLineOption tapOpt("tap", "A device that hears both directions. Repeatable.", "path");
    const QCommandLineOption tapMasterOpt("tap-from-master", "A device that hears what the master sends.",
                                          "path");
    const QCommandLineOption tapStationsOpt("tap-from-stations",
                                            "A device that hears what the stations send.", "path");
    parser.addOptions({baudOpt, tapOpt, tapMasterOpt, tapStationsOpt});
    parser.addPositionalArgument("master", "The master's device.");
    parser.addPositionalArgument("stations", "The stations' devices.", "STATION...");
    parser.process(app);

    const QStringList devices = parser.positionalArguments();
    bool baudOk = false;
    const int baud = parser.value(baudOpt).toInt(&baudOk);
    if (devices.size() < 2 || !baudOk || baud < 0 || baud > 1000000) {
        std::fprintf(stderr,
                     "iec101-line-bus: give the master's device and at least one station's; see --help\n");
        return 2;
    }
    LineBus bus(devices.first(), devices.mid(1), baud);
    for (const QString& path : parser.values(tapOpt))
        bus.addTap(path, LineBus::Tap::Both);
    for (const QString& path : parser.values(tapMasterOpt))
        bus.addTap(path, LineBus::Tap::FromMaster);
    for (const QString& path : parser.values(tapStationsOpt))
        bus.addTap(path, LineBus::Tap::FromStations);
    if (!bus.start()) {
        std::fprintf(stderr, "iec101-line-bus: %s\n", qPrintable(bus.errorString()));
        return 1;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalFds) != 0)
        return 1;
    QSocketNotifier notifier(signalFds[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    const int rc = app.exec();
    bus.stop();
    return rc;
}
