// iec101-slave-sim: the simulated controlled station as a command-line program, for trying the
// master by hand against a serial line or one end of a pty pair.

#include "slavesim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QMap>
#include <QSocketNotifier>
#include <QTimer>

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

// "IOA=FLAGS", FLAGS a comma-separated list of IV, NT, SB, BL, OV (points, measured values)
// or CY, CA, IV (counters).
bool parseQuality(const QString& text, QMap<int, int>& quality)
{
    static const QMap<QString, int> bits{{"IV", 0x80}, {"NT", 0x40}, {"SB", 0x20}, {"BL", 0x10},
                                         {"OV", 0x01}, {"CA", 0x40}, {"CY", 0x20}};
    const QStringList parts = text.split(QLatin1Char('='));
    bool ok = false;
    const int address = parts.value(0).toInt(&ok, 0);
    if (parts.size() != 2 || !ok || address < 0) {
        return false;
    }
    int flags = 0;
    for (const QString& name : parts.at(1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int bit = bits.value(name.trimmed().toUpper());
        if (bit == 0) {
            return false;
        }
        flags |= bit;
    }
    quality[address] |= flags;
    return true;
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
        "(refused in local mode, reported with cause 3); 2949121..2949159 single commands;\n"
        "1001..1010 single points, 4001..4005 short floats, 5001..5004 integrated totals, and\n"
        "100001.. the extra single points. Commands take select before execute or a direct execute.\n"
        "Setpoints 6001..6004 (any format), step commands 7001..7002, bitstring commands\n"
        "8001..8002, each reported back at + 100; parameters for 4001..4005 and 6101..6104;\n"
        "test, reset of the process and delay acquisition confirmed.\n"
        "Profile field: 4001..4005 in the format of --measured, 3001..3002 step positions, 4501..4502\n"
        "bitstrings, CP24 time tags on events, end of initialisation after start.\n"
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
    const QCommandLineOption profileOpt("profile", "Point plan and types: basic or field.", "name", "basic");
    const QCommandLineOption measuredOpt(
        "measured", "Field profile: measured values as float, normalized or scaled.", "format", "float");
    const QCommandLineOption qualityOpt("quality",
                                        "Quality flags of a point, e.g. 4001=IV,NT (IV NT SB BL OV; counters "
                                        "CY CA IV). Repeatable.",
                                        "ioa=flags");
    const QCommandLineOption refuseOpt(
        "refuse",
        "Commands to this object address get a negative confirmation; 0 refuses the interrogations. "
        "Repeatable.",
        "ioa");
    const QCommandLineOption noTerminationOpt("no-termination",
                                              "Confirm commands and interrogations, never terminate them.");
    const QCommandLineOption cyclicOpt(
        "cyclic-rate", "Measured values sent periodically (cause 1) per second (0 = none).", "rate", "0");
    const QCommandLineOption busyAfterOpt(
        "busy-after", "Seconds after start at which the station answers \"busy\" (with --busy-for).", "s");
    const QCommandLineOption busyForOpt("busy-for", "How long it answers \"busy\" (with --busy-after).",
                                        "ms");
    const QCommandLineOption extraCaOpt(
        "extra-ca", "A further common address the station answers for. Repeatable.", "addr");
    const QCommandLineOption balancedOpt("balanced",
                                         "Balanced mode (point to point): events go out unpolled.");
    const QCommandLineOption masterAddressOpt("master-address", "Balanced mode: the master's link address.",
                                              "addr", "0");
    parser.addOptions({extraCaOpt, balancedOpt, masterAddressOpt});
    parser.addOptions({portOpt,    baudOpt,      dataBitsOpt, parityOpt, stopBitsOpt,
                       linkOpt,    linkSizeOpt,  caOpt,       caSizeOpt, ioaSizeOpt,
                       cotSizeOpt, localOpt,     remoteOpt,   rateOpt,   extraOpt,
                       profileOpt, measuredOpt,  qualityOpt,  refuseOpt, noTerminationOpt,
                       cyclicOpt,  busyAfterOpt, busyForOpt});
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
    const QString profile = parser.value(profileOpt).toLower();
    const QString measured = parser.value(measuredOpt).toLower();
    static const QMap<QString, slavesim::MeasuredFormat> formats{
        {"float", slavesim::MeasuredFormat::Float},
        {"normalized", slavesim::MeasuredFormat::Normalized},
        {"scaled", slavesim::MeasuredFormat::Scaled}};
    bool qualityOk = true;
    for (const QString& entry : parser.values(qualityOpt)) {
        qualityOk = qualityOk && parseQuality(entry, config.quality);
    }
    QVector<int> refused;
    bool refusedOk = true;
    for (const QString& entry : parser.values(refuseOpt)) {
        int address = 0;
        refusedOk = refusedOk && toInt(entry, 0, 0xFFFFFF, address);
        refused.append(address);
    }
    bool extraCaOk = true;
    for (const QString& entry : parser.values(extraCaOpt)) {
        int ca = 0;
        extraCaOk = extraCaOk && toInt(entry, 0, config.sizeOfCA == 1 ? 255 : 65535, ca);
        config.extraCommonAddresses.append(ca);
    }
    config.balanced = parser.isSet(balancedOpt);
    extraCaOk = extraCaOk && toInt(parser.value(masterAddressOpt), 0,
                                   config.linkAddressLength == 1 ? 255 : 65535, config.masterLinkAddress);
    bool cyclicOk = false;
    config.cyclicRate = parser.value(cyclicOpt).toDouble(&cyclicOk);
    config.terminations = !parser.isSet(noTerminationOpt);
    // Busy needs both its start and its length.
    bool busyOk = parser.isSet(busyAfterOpt) == parser.isSet(busyForOpt);
    double busyAfterS = 0.0;
    int busyForMs = 0;
    if (busyOk && parser.isSet(busyAfterOpt)) {
        busyAfterS = parser.value(busyAfterOpt).toDouble(&busyOk);
        busyOk = busyOk && busyAfterS >= 0.0 && busyAfterS <= 86400.0 &&
                 toInt(parser.value(busyForOpt), 1, 86400000, busyForMs);
    }
    if (!valid || !qualityOk || !refusedOk || !extraCaOk || !cyclicOk || config.cyclicRate < 0 || !busyOk ||
        (profile != "basic" && profile != "field") || !formats.contains(measured)) {
        std::fprintf(stderr, "Invalid or missing options; see --help.\n");
        return 2;
    }
    config.parity = parity.at(0).toLatin1();
    config.localMode = parser.isSet(localOpt);
    config.profile = profile == "field" ? slavesim::Profile::Field : slavesim::Profile::Basic;
    config.measuredFormat = formats.value(measured);

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
        slave.setRefusedAddresses(refused);
        QTimer busyTimer;
        busyTimer.setSingleShot(true);
        QObject::connect(&busyTimer, &QTimer::timeout, &app, [&slave, busyForMs] {
            printLine(QStringLiteral("answering busy for %1 ms").arg(busyForMs));
            slave.setBusy(busyForMs);
        });
        if (!slave.start()) {
            std::fprintf(stderr, "%s\n", qPrintable(slave.errorString()));
            rc = 1;
        } else {
            printLine(QStringLiteral("slave: link address %1 (%2 octet), CA %3 (%4 octet), IOA %5 octets, "
                                     "COT %6 octets, %7 mode, %8 profile")
                          .arg(config.linkAddress)
                          .arg(config.linkAddressLength)
                          .arg(config.commonAddress)
                          .arg(config.sizeOfCA)
                          .arg(config.sizeOfIOA)
                          .arg(config.sizeOfCOT)
                          .arg(config.localMode ? "local" : "remote")
                          .arg(profile));
            if (busyForMs > 0) {
                busyTimer.start(int(busyAfterS * 1000.0));
            }
            rc = app.exec();
            slave.stop();
            printLine(QStringLiteral("stopped"));
        }
    }
    ::close(signalFds[0]);
    ::close(signalFds[1]);
    return rc;
}
