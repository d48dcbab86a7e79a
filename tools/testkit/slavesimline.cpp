#include "slavesimline.h"

#include "linerelay.h"
#include "ptypair.h"

using namespace iec101;

SlaveSimLine::SlaveSimLine(const slavesim::Config& config) : slaveConfig(config)
{
    slaveConfig.parity = 'N';
}

SlaveSimLine::~SlaveSimLine()
{
    stop();
}

bool SlaveSimLine::start(Transport transport, int relayBaud)
{
    masterPty = std::make_unique<PtyPair>(transport == Transport::Tcp ? PtyPair::Bridge::Tcp
                                                                      : PtyPair::Bridge::Direct);
    if (!masterPty->start()) {
        error = QStringLiteral("pty pair: ") + masterPty->errorString();
        return false;
    }
    slaveConfig.portPath = masterPty->pathB();
    if (transport == Transport::Relay) {
        slavePty = std::make_unique<PtyPair>();
        if (!slavePty->start()) {
            error = QStringLiteral("relay's pty pair: ") + slavePty->errorString();
            return false;
        }
        relayPtr = std::make_unique<LineRelay>(masterPty->pathB(), slavePty->pathA(), relayBaud);
        if (!relayPtr->start()) {
            error = QStringLiteral("relay did not start");
            return false;
        }
        slaveConfig.portPath = slavePty->pathB();
    }
    slavePtr = std::make_unique<slavesim::SlaveSim>(slaveConfig);
    if (!slavePtr->start()) {
        error = QStringLiteral("simulated slave: ") + slavePtr->errorString();
        return false;
    }
    return true;
}

void SlaveSimLine::stop()
{
    if (slavePtr)
        slavePtr->stop();
    if (relayPtr)
        relayPtr->stop();
}

QString SlaveSimLine::masterPort() const
{
    return masterPty ? masterPty->pathA() : QString();
}

SerialParam SlaveSimLine::serialParamFor(const slavesim::Config& config, const QString& port)
{
    SerialParam param;
    param.portName = port;
    param.baudRate = config.baudRate;
    param.dataBits = config.dataBits;
    param.parity = config.parity;
    param.stopBits = config.stopBits;
    return param;
}

iec101::ProtocolSettings SlaveSimLine::settingsFor(const slavesim::Config& config)
{
    iec101::ProtocolSettings settings;
    settings.commonAddress = config.commonAddress;
    settings.commonAddressSize = config.sizeOfCA;
    settings.linkAddress = config.linkAddress;
    settings.linkAddressSize = config.linkAddressLength;
    settings.objectAddressSize = config.sizeOfIOA;
    settings.causeSize = config.sizeOfCOT;
    return settings;
}

SerialParam SlaveSimLine::serialParam() const
{
    return serialParamFor(slaveConfig, masterPort());
}

iec101::ProtocolSettings SlaveSimLine::settings() const
{
    return settingsFor(slaveConfig);
}

iec101::SerialSettings SlaveSimLine::serialSettings() const
{
    return iec101::SerialSettings::fromParam(serialParam());
}

QStringList SlaveSimLine::settingTexts() const
{
    QStringList texts;
    for (int value : settings().toArray())
        texts << QString::number(value);
    return texts;
}

void SlaveSimLine::unplug()
{
    if (masterPty)
        masterPty->kill();
}

bool SlaveSimLine::plugBackIn()
{
    return masterPty && masterPty->restart();
}
