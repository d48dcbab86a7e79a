#include "stationsline.h"

#include "ptypair.h"
#include "slavesimline.h"

using namespace iec101;

QVector<slavesim::Config> StationsLine::numbered(int count, int commonAddressOffset)
{
    QVector<slavesim::Config> configs;
    for (int n = 1; n <= count; ++n) {
        slavesim::Config config;
        config.linkAddress = n;
        config.commonAddress = commonAddressOffset + n;
        configs << config;
    }
    return configs;
}

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
    return SlaveSimLine::serialParamFor(configs.value(0), masterPort());
}

SerialSettings StationsLine::serialSettings() const
{
    return SerialSettings::fromParam(serialParam());
}

ProtocolSettings StationsLine::settings() const
{
    ProtocolSettings settings = SlaveSimLine::settingsFor(configs.value(0));
    for (const slavesim::Config& config : configs) {
        Station station;
        station.linkAddress = config.linkAddress;
        station.commonAddresses = QVector<int>{config.commonAddress} + config.extraCommonAddresses;
        settings.stations.append(station);
    }
    return settings;
}
