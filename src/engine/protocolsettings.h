#ifndef IEC101_PROTOCOLSETTINGS_H
#define IEC101_PROTOCOLSETTINGS_H

#include <QMetaType>

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
