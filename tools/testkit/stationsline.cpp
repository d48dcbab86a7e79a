#include "stationsline.h"

#include "ptypair.h"

using namespace iec101;

StationsLine::StationsLine(const QVector<slavesim::Config>& stationConfigs) : configs(stationConfigs)
{
    for (slavesim::Config& config : configs)
        config.parity = 'N';
}

StationsLine::~StationsLine()
{
    stop();
}

QString StationsLine::addTap(LineBus::Tap direction)
{
    tapPtys.push_back(std::make_unique<PtyPair>());
    if (!tapPtys.back()->start()) {
        error = QStringLiteral("tap's pty pair: ") + tapPtys.back()->errorString();
        return QString();
    }
    tapDirections.push_back(direction);
    // The bus writes into one end; whoever listens opens the other.
    return tapPtys.back()->pathB();
}

bool StationsLine::start(int baud)
{
    masterPty = std::make_unique<PtyPair>();
    if (!masterPty->start()) {
        error = QStringLiteral("pty pair: ") + masterPty->errorString();
        return false;
    }
    QStringList stationSides;
    for (slavesim::Config& config : configs) {
        stationPtys.push_back(std::make_unique<PtyPair>());
        if (!stationPtys.back()->start()) {
            error = QStringLiteral("station's pty pair: ") + stationPtys.back()->errorString();
            return false;
        }
        stationSides << stationPtys.back()->pathA();
        config.portPath = stationPtys.back()->pathB();
    }
    linePtr = std::make_unique<LineBus>(masterPty->pathB(), stationSides, baud);
    for (size_t i = 0; i < tapPtys.size(); ++i)
        linePtr->addTap(tapPtys[i]->pathA(), tapDirections[i]);
    if (!linePtr->start()) {
        error = QStringLiteral("line bus: ") + linePtr->errorString();
        return false;
    }
    for (const slavesim::Config& config : qAsConst(configs)) {
        stations.push_back(std::make_unique<slavesim::SlaveSim>(config));
        if (!stations.back()->start()) {
            error =
                QStringLiteral("station %1: %2").arg(config.linkAddress).arg(stations.back()->errorString());
            return false;
        }
    }
    return true;
}

void StationsLine::stop()
{
    for (auto& station : stations)
        station->stop();
    if (linePtr)
        linePtr->stop();
}

QString StationsLine::masterPort() const
{
    return masterPty ? masterPty->pathA() : QString();
}

SerialParam StationsLine::serialParam() const
{
    const slavesim::Config first = configs.value(0);
    SerialParam param;
    param.portName = masterPort();
    param.baudRate = first.baudRate;
    param.dataBits = first.dataBits;
    param.parity = first.parity;
    param.stopBits = first.stopBits;
    return param;
}

SerialSettings StationsLine::serialSettings() const
{
    return SerialSettings::fromParam(serialParam());
}

ProtocolSettings StationsLine::settings() const
{
    const slavesim::Config first = configs.value(0);
    ProtocolSettings settings;
    settings.commonAddress = first.commonAddress;
    settings.commonAddressSize = first.sizeOfCA;
    settings.linkAddress = first.linkAddress;
    settings.linkAddressSize = first.linkAddressLength;
    settings.objectAddressSize = first.sizeOfIOA;
    settings.causeSize = first.sizeOfCOT;
    for (const slavesim::Config& config : configs) {
        Station station;
        station.linkAddress = config.linkAddress;
        station.commonAddresses = QVector<int>{config.commonAddress} + config.extraCommonAddresses;
        settings.stations.append(station);
    }
    return settings;
}
