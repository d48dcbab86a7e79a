#include "masteroptions.h"

#include <QCommandLineParser>

#include <algorithm>

#include "commandparser.h"

namespace iec101 {

namespace {

// What lib60870 sets up on Linux; it opens any other rate at 9600 without a word.
constexpr int kBaudRates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kMaxTimeoutMs = 3600 * 1000;

QString rangeText(qint64 min, qint64 max)
{
    if (max == min)
        return QString::number(min);
    return max == min + 1 ? QStringLiteral("%1 or %2").arg(min).arg(max)
                          : QStringLiteral("%1..%2").arg(min).arg(max);
}

// The options' values as read so far, and the first error.
class Reader
{
public:
    explicit Reader(const QCommandLineParser& source) : parser(source) {}

    // The option's whole-number value in min..max into *value; unchanged when absent.
    void integer(const QString& name, qint64 min, qint64 max, int* value)
    {
        if (!parser.isSet(name) || !error.isEmpty())
            return;
        bool ok = false;
        const QString text = parser.value(name);
        const qint64 number = text.toLongLong(&ok, 10);
        if (!ok || number < min || number > max) {
            error = QStringLiteral("--%1 must be %2, not \"%3\"").arg(name, rangeText(min, max), text);
            return;
        }
        *value = int(number);
    }

    void fail(const QString& text)
    {
        if (error.isEmpty())
            error = text;
    }

    QString error;

private:
    const QCommandLineParser& parser;
};

qint64 largestAddress(int octets)
{
    return (qint64(1) << (8 * octets)) - 1;
}

} // namespace

bool MasterOptions::parse(const QStringList& arguments, MasterOptions* options, QString* error)
{
    QCommandLineParser parser;
    const auto valueOption = [&parser](const char* name) {
        parser.addOption(QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value")));
    };
    for (const char* name : {"port",
                             "baud",
                             "parity",
                             "data-bits",
                             "stop-bits",
                             "ca",
                             "ca-size",
                             "link-address",
                             "link-address-size",
                             "ioa-size",
                             "cot-size",
                             "timeout-ms",
                             "link-timeout-ms",
                             "capture",
                             "script",
                             "station",
                             "mode",
                             "own-address",
                             "points",
                             "report",
                             "listen-port2"})
        valueOption(name);
    parser.addOption(QCommandLineOption(QStringLiteral("no-initial")));
    parser.addOption(QCommandLineOption(QStringLiteral("listen")));
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    parser.addOption(QCommandLineOption(QStringLiteral("version")));
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }

    MasterOptions result;
    result.help = parser.isSet(QStringLiteral("help"));
    result.version = parser.isSet(QStringLiteral("version"));
    if (result.help || result.version) {
        *options = result;
        return true;
    }

    Reader read(parser);
    result.serial.portName = parser.value(QStringLiteral("port"));
    if (result.serial.portName.isEmpty())
        read.fail(QStringLiteral("--port PORT is required"));

    if (parser.isSet(QStringLiteral("baud"))) {
        const QString text = parser.value(QStringLiteral("baud"));
        bool ok = false;
        const int baud = text.toInt(&ok, 10);
        if (!ok || std::find(std::begin(kBaudRates), std::end(kBaudRates), baud) == std::end(kBaudRates)) {
            QStringList rates;
            for (int rate : kBaudRates)
                rates << QString::number(rate);
            read.fail(QStringLiteral("--baud must be one of %1, not \"%2\"")
                          .arg(rates.join(QStringLiteral(", ")), text));
        }
        result.serial.baudRate = baud;
    }
    if (parser.isSet(QStringLiteral("parity"))) {
        const QString text = parser.value(QStringLiteral("parity")).toUpper();
        if (text != QLatin1String("E") && text != QLatin1String("O") && text != QLatin1String("N"))
            read.fail(QStringLiteral("--parity must be E, O or N, not \"%1\"")
                          .arg(parser.value(QStringLiteral("parity"))));
        else
            result.serial.parity = text.at(0).toLatin1();
    }
    read.integer(QStringLiteral("data-bits"), 7, 8, &result.serial.dataBits);
    read.integer(QStringLiteral("stop-bits"), 1, 2, &result.serial.stopBits);

    ProtocolSettings& protocol = result.protocol;
    // The sizes first: they bound the addresses.
    read.integer(QStringLiteral("ca-size"), 1, 2, &protocol.commonAddressSize);
    read.integer(QStringLiteral("link-address-size"), 0, 2, &protocol.linkAddressSize);
    read.integer(QStringLiteral("ioa-size"), 1, 3, &protocol.objectAddressSize);
    read.integer(QStringLiteral("cot-size"), 1, 2, &protocol.causeSize);
    read.integer(QStringLiteral("ca"), 0, largestAddress(protocol.commonAddressSize),
                 &protocol.commonAddress);
    read.integer(QStringLiteral("link-address"), 0, largestAddress(protocol.linkAddressSize),
                 &protocol.linkAddress);
    // The default address too must fit a size that was given.
    if (protocol.linkAddress > largestAddress(protocol.linkAddressSize))
        read.fail(QStringLiteral("--link-address %1 does not fit --link-address-size %2 (%3)")
                      .arg(protocol.linkAddress)
                      .arg(protocol.linkAddressSize)
                      .arg(rangeText(0, largestAddress(protocol.linkAddressSize))));
    // The stations on the line; one given without common addresses answers for --ca.
    for (const QString& text : parser.values(QStringLiteral("station"))) {
        QVector<Station> parsed;
        QString why;
        if (text.contains(QLatin1Char(';')) || !ProtocolSettings::parseStations(text, &parsed, &why) ||
            parsed.size() != 1) {
            read.fail(QStringLiteral("--station must be LINK[:CA[,CA...]], not \"%1\"%2")
                          .arg(text, why.isEmpty() ? QString() : QStringLiteral(": ") + why));
            break;
        }
        Station station = parsed.first();
        if (station.linkAddress > largestAddress(protocol.linkAddressSize))
            read.fail(QStringLiteral("--station %1: link address %2 does not fit --link-address-size %3")
                          .arg(text)
                          .arg(station.linkAddress)
                          .arg(protocol.linkAddressSize));
        for (int ca : station.commonAddresses) {
            if (ca > largestAddress(protocol.commonAddressSize))
                read.fail(QStringLiteral("--station %1: common address %2 does not fit --ca-size %3")
                              .arg(text)
                              .arg(ca)
                              .arg(protocol.commonAddressSize));
        }
        if (station.commonAddresses.isEmpty())
            station.commonAddresses = {protocol.commonAddress};
        const bool repeated =
            std::any_of(protocol.stations.cbegin(), protocol.stations.cend(),
                        [&](const Station& other) { return other.linkAddress == station.linkAddress; });
        if (repeated)
            read.fail(QStringLiteral("--station: link address %1 given twice").arg(station.linkAddress));
        protocol.stations.append(station);
    }
    if (parser.isSet(QStringLiteral("mode"))) {
        const QString mode = parser.value(QStringLiteral("mode")).toLower();
        if (mode == QLatin1String("balanced"))
            protocol.mode = LinkMode::Balanced;
        else if (mode != QLatin1String("unbalanced"))
            read.fail(QStringLiteral("--mode must be balanced or unbalanced, not \"%1\"")
                          .arg(parser.value(QStringLiteral("mode"))));
    }
    read.integer(QStringLiteral("own-address"), 0, largestAddress(protocol.linkAddressSize),
                 &protocol.ownLinkAddress);
    if (parser.isSet(QStringLiteral("own-address")) && protocol.mode != LinkMode::Balanced)
        read.fail(QStringLiteral("--own-address applies to --mode balanced only"));
    if (protocol.mode == LinkMode::Balanced && protocol.stations.size() > 1)
        read.fail(QStringLiteral("--mode balanced is point to point: one station only"));
    read.integer(QStringLiteral("timeout-ms"), 1, kMaxTimeoutMs, &protocol.commandTimeoutMs);
    // A short confirmation time is for failing fast on a silent station; a station that
    // carries a command out (a breaker that travels) still gets its usual time to say so.
    protocol.terminationWaitMs = std::max(protocol.commandTimeoutMs, ProtocolSettings().terminationWaitMs);
    read.integer(QStringLiteral("link-timeout-ms"), 1, kMaxTimeoutMs, &result.linkTimeoutMs);
    result.initialData = !parser.isSet(QStringLiteral("no-initial"));
    result.capturePath = parser.value(QStringLiteral("capture"));
    result.scriptPath = parser.value(QStringLiteral("script"));
    result.commands = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("capture")) && result.capturePath.isEmpty())
        read.fail(QStringLiteral("--capture needs a file name"));
    if (parser.isSet(QStringLiteral("script")) && result.scriptPath.isEmpty())
        read.fail(QStringLiteral("--script needs a file name"));
    result.pointFiles = parser.values(QStringLiteral("points"));
    for (const QString& file : qAsConst(result.pointFiles)) {
        if (file.isEmpty() || file.endsWith(QLatin1Char('=')))
            read.fail(QStringLiteral("--points needs a file name (FILE or LINK=FILE)"));
    }
    result.reportPath = parser.value(QStringLiteral("report"));
    if (parser.isSet(QStringLiteral("report")) && result.reportPath.isEmpty())
        read.fail(QStringLiteral("--report needs a file name"));
    result.listen = parser.isSet(QStringLiteral("listen"));
    result.listenPort2 = parser.value(QStringLiteral("listen-port2"));
    if (parser.isSet(QStringLiteral("listen-port2")) && (!result.listen || result.listenPort2.isEmpty()))
        read.fail(QStringLiteral("--listen-port2 PORT goes with --listen"));
    if (!result.scriptPath.isEmpty() && !result.commands.isEmpty())
        read.fail(QStringLiteral("give commands either with --script or as arguments, not both"));

    if (!read.error.isEmpty()) {
        *error = read.error;
        return false;
    }
    *options = result;
    return true;
}

QString MasterOptions::helpText()
{
    QString text =
        QStringLiteral("Usage: iec101-master --port PORT [options] [--script FILE | COMMAND ...]\n"
                       "An IEC 60870-5-101 master on one serial line: polls the station, runs the commands\n"
                       "in order and writes one JSON record per line on stdout (messages go to stderr).\n"
                       "\n"
                       "  --port PORT             serial device: /dev/ttyUSB0, ttyUSB0 or a pty's path\n"
                       "  --baud N                110 to 115200 (9600)\n"
                       "  --parity E|O|N          (E)  --data-bits 7|8 (8)  --stop-bits 1|2 (1)\n"
                       "  --ca N                  common address (1); --ca-size 1|2 octets (2)\n"
                       "  --link-address N        (1); --link-address-size 0..2 octets (2)\n"
                       "  --station LINK[:CA,...] a station on the line, repeatable (--station 1:1\n"
                       "                          --station 3:3,4); without it --link-address and --ca\n"
                       "  --mode balanced|unbalanced  (unbalanced); --own-address N: balanced mode's own\n"
                       "                          link address (0)\n"
                       "  --ioa-size 1..3         object address octets (3); --cot-size 1|2 (2)\n"
                       "  --timeout-ms N          wait for each confirmation (5000); a termination is\n"
                       "                          awaited as long, at least 5000\n"
                       "  --link-timeout-ms N     wait for the link to come up (10000)\n"
                       "  --no-initial            no general and counter interrogation at link-up\n"
                       "  --capture FILE          every frame to a pcap file (link type 250) until exit\n"
                       "  --script FILE           commands from FILE, one per line\n"
                       "  --points [LINK=]FILE    the station's signal list (CSV: ioa,type,name,unit,scale,\n"
                       "                          offset,states,expected,group,ca); findings as records\n"
                       "  --report FILE           a PDF report after the commands, findings in FILE.csv\n"
                       "  --listen                listen on a tapped line, never send: only wait runs\n"
                       "  --listen-port2 PORT     the station's side of a full-duplex tap\n"
                       "\n"
                       "Commands, one per argument or script line ('#' starts a comment):\n");
    for (const QString& line : CommandParser::usage())
        text += QStringLiteral("  ") + line + QLatin1Char('\n');
    text +=
        QStringLiteral("select: select before execute, else direct execute; select-only: the select\n"
                       "alone, the object stays selected; deactivate cancels it (cause 8), as the last\n"
                       "select-only of that IOA in the run, else as type=NAME. time: stamped at sending\n"
                       "(the default), or time=ISO8601; C_CS_NA_1 delay adds the delay C_CD_NA_1\n"
                       "measured. VALUE: normalized -1..1-2^-15, scaled -32768..32767, or a float.\n"
                       "IOA decimal or 0x hex;\n"
                       "la=N and ca=N send a command to another station or common address than the\n"
                       "first; la=all sends an interrogation or clock sync to each station in turn;\n"
                       "wait keeps polling and reports what arrives.\n"
                       "\n"
                       "Records: link, object, command, status, initial, finding. Exit status: 0 every\n"
                       "command confirmed, 1 one refused, timed out or not sent (or the port lost), 2 bad\n"
                       "usage or a port that does not open, 3 no link, 4 the report not written, 128+N\n"
                       "ended by signal N.\n");
    return text;
}

} // namespace iec101
