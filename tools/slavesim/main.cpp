// iec101-slave-sim: the simulated controlled station as a command-line program, for trying the
// master by hand against a serial line or one end of a pty pair.

#include "slavesim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalFds[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up and quits.
void onSignal(int)
{
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalFds[0], &b, 1);
}

void printLine(const QString& line)
{
    const QByteArray text =
        (QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line + QLatin1Char('\n'))
            .toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

bool toInt(const QString& text, int min, int max, int& out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < min || v > max) {
        return false;
    }
    out = v;
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iec101-slave-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated IEC 60870-5-101 controlled station (unbalanced mode).\n"
        "Points: 65537 local/remote switch (single point, 1 = local); 196609..196618 states of\n"
        "control objects 1..10 (double points); 3014657..3014666 double commands moving them\n"
        "(refused in local mode, reported as M_DP_TB_1 cause 3); 2949121..2949159 single commands;\n"
        "1001..1010 single points, 4001..4005 short floats, 5001..5004 integrated totals, and\n"
        "100001.. the extra single points. Commands need select before execute.\n"
        "Each ASDU received (RX) or sent (TX) is logged on one line of standard output."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringList{"p", "port"}, "Serial device path (required).", "path");
    const QCommandLineOption baudOpt(QStringList{"b", "baud"}, "Baud rate, 110..115200.", "rate", "9600");
    const QCommandLineOption dataBitsOpt("data-bits", "Data bits, 7 or 8.", "n", "8");
    const QCommandLineOption parityOpt("parity", "Parity: E, O or N (ptys: use N).", "E|O|N", "E");
    const QCommandLineOption stopBitsOpt("stop-bits", "Stop bits, 1 or 2.", "n", "1");
    const QCommandLineOption linkOpt("link-address", "Link address of the slave.", "addr", "1");
    const QCommandLineOption linkSizeOpt("link-address-size", "Link address size in octets, 1 or 2.", "n",
                                         "2");
    const QCommandLineOption caOpt("ca", "Common address of ASDU.", "addr", "1");
    const QCommandLineOption caSizeOpt("ca-size", "Common address size in octets, 1 or 2.", "n", "2");
    const QCommandLineOption ioaSizeOpt("ioa-size", "Information object address size, 1..3.", "n", "3");
    const QCommandLineOption cotSizeOpt("cot-size", "Cause of transmission size, 1 or 2.", "n", "2");
    const QCommandLineOption localOpt("local", "Start in local mode (double commands refused).");
    const QCommandLineOption remoteOpt("remote", "Start in remote mode (the default).");
    const QCommandLineOption rateOpt("event-rate", "Random spontaneous events per second (0 = none).", "rate",
                                     "0");
    const QCommandLineOption extraOpt("extra-points", "Additional single points for large interrogations.",
                                      "n", "0");
    parser.addOptions({portOpt, baudOpt, dataBitsOpt, parityOpt, stopBitsOpt, linkOpt, linkSizeOpt, caOpt,
                       caSizeOpt, ioaSizeOpt, cotSizeOpt, localOpt, remoteOpt, rateOpt, extraOpt});
    parser.process(app);

    slavesim::Config config;
    config.portPath = parser.value(portOpt);
    const QString parity = parser.value(parityOpt).toUpper();
    bool rateOk = false;
    config.eventRate = parser.value(rateOpt).toDouble(&rateOk);
    const bool valid =
        !config.portPath.isEmpty() && (parity == "E" || parity == "O" || parity == "N") && rateOk &&
        config.eventRate >= 0 && !(parser.isSet(localOpt) && parser.isSet(remoteOpt)) &&
        toInt(parser.value(baudOpt), 110, 115200, config.baudRate) &&
        toInt(parser.value(dataBitsOpt), 7, 8, config.dataBits) &&
        toInt(parser.value(stopBitsOpt), 1, 2, config.stopBits) &&
        toInt(parser.value(linkSizeOpt), 1, 2, config.linkAddressLength) &&
        toInt(parser.value(linkOpt), 0, config.linkAddressLength == 1 ? 255 : 65535, config.linkAddress) &&
        toInt(parser.value(caSizeOpt), 1, 2, config.sizeOfCA) &&
        toInt(parser.value(caOpt), 0, config.sizeOfCA == 1 ? 255 : 65535, config.commonAddress) &&
        toInt(parser.value(ioaSizeOpt), 1, 3, config.sizeOfIOA) &&
        toInt(parser.value(cotSizeOpt), 1, 2, config.sizeOfCOT) &&
        toInt(parser.value(extraOpt), 0, slavesim::ioa::kMaxExtraPoints, config.extraPoints);
    if (!valid) {
        std::fprintf(stderr, "Invalid or missing options; see --help.\n");
        return 2;
    }
    config.parity = parity.at(0).toLatin1();
    config.localMode = parser.isSet(localOpt);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalFds) != 0) {
        std::perror("socketpair");
        return 1;
    }
    QSocketNotifier notifier(signalFds[1], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    int rc = 0;
    {
        slavesim::SlaveSim slave(config);
        slave.setLogHandler(printLine);
        if (!slave.start()) {
            std::fprintf(stderr, "%s\n", qPrintable(slave.errorString()));
            rc = 1;
        } else {
            printLine(QStringLiteral("station: link address %1 (%2 octet), CA %3 (%4 octet), IOA %5 octets, "
                                     "COT %6 octets, %7 mode")
                          .arg(config.linkAddress)
                          .arg(config.linkAddressLength)
                          .arg(config.commonAddress)
                          .arg(config.sizeOfCA)
                          .arg(config.sizeOfIOA)
                          .arg(config.sizeOfCOT)
                          .arg(config.localMode ? "local" : "remote"));
            rc = app.exec();
            slave.stop();
            printLine(QStringLiteral("stopped"));
        }
    }
    ::close(signalFds[0]);
    ::close(signalFds[1]);
    return rc;
}
