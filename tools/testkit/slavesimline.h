// The simulated slave on a virtual serial line, ready for a master: a socat pty pair (joined
// directly, through the paced relay, or bridged over TCP as through a serial-to-Ethernet
// converter), the slave on its far end, and the serial and protocol settings that match the
// slave's configuration. One start() brings it all up.
#ifndef IEC101_SLAVESIMLINE_H
#define IEC101_SLAVESIMLINE_H

#include <QString>
#include <QStringList>

#include <memory>

#include "protocolsettings.h"
#include "serialparam.h"
#include "serialsettings.h"
#include "slavesim.h"

class LineRelay;
class PtyPair;

class SlaveSimLine
{
public:
    enum class Transport { Direct, Relay, Tcp };

    // Ptys reopen only without parity, so the line and the slave always use none.
    explicit SlaveSimLine(const slavesim::Config& config = {});
    ~SlaveSimLine();
    SlaveSimLine(const SlaveSimLine&) = delete;
    SlaveSimLine& operator=(const SlaveSimLine&) = delete;

    // Brings up the line and starts the slave on it; relayBaud paces the relay (0: at
    // once). False, with the reason in errorString(), if any part fails.
    bool start(Transport transport = Transport::Direct, int relayBaud = 0);
    void stop();
    QString errorString() const { return error; }

    // The settings a master needs for a station of this configuration, on the given port.
    static iec101::SerialParam serialParamFor(const slavesim::Config& config, const QString& port);
    static iec101::ProtocolSettings settingsFor(const slavesim::Config& config);

    // The port the master opens, and the settings that reach the slave through it.
    QString masterPort() const;
    iec101::SerialParam serialParam() const;
    iec101::ProtocolSettings settings() const;
    iec101::SerialSettings serialSettings() const;
    // The same six settings as an operator types them into the view's settings dialog.
    QStringList settingTexts() const;

    slavesim::SlaveSim& slave() { return *slavePtr; }
    const slavesim::Config& config() const { return slaveConfig; }
    // The relay between master and slave, or null on a line without one.
    LineRelay* relay() { return relayPtr.get(); }

    // The master's port disappears, as when an adapter is pulled, and comes back.
    void unplug();
    bool plugBackIn();

private:
    slavesim::Config slaveConfig;
    std::unique_ptr<PtyPair> masterPty;
    std::unique_ptr<PtyPair> slavePty; // the far side of the relay
    std::unique_ptr<LineRelay> relayPtr;
    std::unique_ptr<slavesim::SlaveSim> slavePtr;
    QString error;
};

#endif // IEC101_SLAVESIMLINE_H
