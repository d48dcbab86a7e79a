#ifndef IEC101_PROTOCOLSETTINGS_H
#define IEC101_PROTOCOLSETTINGS_H

#include <QMetaType>
#include <QString>
#include <QVector>

#include <array>

#include "iec101engine_export.h"

namespace iec101 {

// The six protocol settings as the view's settings dialog stores them and as the
// engine's original interface carries them: an array of ints, in this order.
enum ProtocolSetting {
    CommonAddress = 0,
    CommonAddressSize,
    LinkAddress,
    LinkAddressSize,
    ObjectAddressSize,
    CauseSize,
    ProtocolSettingCount
};

using SettingArray = std::array<int, ProtocolSettingCount>;

// What a new installation uses: common address 1 in 2 octets, link address 1 in 2
// octets, 3-octet object addresses, 2-octet cause of transmission.
constexpr SettingArray kDefaultProtocolSettings{1, 2, 1, 2, 3, 2};

// One controlled station on the line: its link address, and the common addresses it
// answers for (the first is the one commands go to unless they name another).
struct IEC101ENGINE_EXPORT Station
{
    int linkAddress = 1;
    QVector<int> commonAddresses{1};

    bool operator==(const Station& other) const
    {
        return linkAddress == other.linkAddress && commonAddresses == other.commonAddresses;
    }
};

// Unbalanced: the master polls each station in turn (RS-485, radio, several stations on a
// line). Balanced: point to point, both ends send when they have something.
enum class LinkMode { Unbalanced, Balanced };

// Everything the engine needs to know about the station and the application layer
// besides the serial line: addresses and field sizes, and how long a command may take.
struct IEC101ENGINE_EXPORT ProtocolSettings
{
    int commonAddress = 1;
    int commonAddressSize = 2; // octets, 1 or 2
    int linkAddress = 1;
    int linkAddressSize = 2;   // octets, 0 to 2
    int objectAddressSize = 3; // octets, 1 to 3
    int causeSize = 2;         // octets, 1 or 2

    // How long a command waits for each confirmation (select, execute, a Read's answer),
    // counted from the frame it answers.
    int commandTimeoutMs = 5000;
    // How long a confirmed command waits for its termination before it ends as
    // "confirmed, not terminated". An interrogation's own data restarts the wait.
    int terminationWaitMs = 5000;
    // Time tags we send (clock sync, time-tagged commands): UTC, or local time with
    // the summer-time bit.
    bool timeTagsInUtc = false;

    // The stations on the line, polled in turn. Empty: the one station of linkAddress and
    // commonAddress above.
    QVector<Station> stations;
    LinkMode mode = LinkMode::Unbalanced;
    // Balanced mode: the link address of this end (in the frames it sends) and the DIR bit
    // (set by the controlling station unless the two ends agree otherwise), and how long
    // the line may stay quiet before the link is tested.
    int ownLinkAddress = 0;
    bool dir = true;
    int linkTestIntervalMs = 10000;
    // A station that stopped answering is polled at most this often, so that it does not
    // hold up the others; its first poll after the link error waits half of it.
    int silentStationPollMs = 5000;

    // The stations as they are polled: `stations`, or the one of linkAddress and commonAddress.
    QVector<Station> stationList() const;

    // Stations as text, as stored and typed: "1:1;2:2;3:3,4" (link address, then its common
    // addresses). Empty text gives no list; false with a reason for text that is wrong.
    static bool parseStations(const QString& text, QVector<Station>* stations, QString* error = nullptr);
    static QString stationsText(const QVector<Station>& stations);

    // From the six-int array; a null pointer gives the defaults.
    static ProtocolSettings fromArray(const int* settings);
    SettingArray toArray() const;

    // The field sizes clamped to what the protocol allows; anything else would make the
    // library encode and decode garbage.
    int linkAddressOctets() const;
    int commonAddressOctets() const;
    int objectAddressOctets() const;
    int causeOctets() const;
    // The all-stations addresses for these sizes.
    int broadcastLinkAddress() const;
    int broadcastCommonAddress() const;
};

} // namespace iec101

Q_DECLARE_METATYPE(iec101::ProtocolSettings)

#endif // IEC101_PROTOCOLSETTINGS_H
