#ifndef IEC101_PROTOCOLSETTINGS_H
#define IEC101_PROTOCOLSETTINGS_H

#include <array>

namespace iec101 {

// The six protocol settings travel as an array of ints (the view owns it, the engine
// reads it on connect); these name its entries.
enum ProtocolSetting {
    CommonAddress = 0,
    CommonAddressSize,
    LinkAddress,
    LinkAddressSize,
    ObjectAddressSize,
    CauseSize,
    ProtocolSettingCount
};

using ProtocolSettings = std::array<int, ProtocolSettingCount>;

// What a new installation uses: common address 1 in 2 octets, link address 1 in 2
// octets, 3-octet object addresses, 2-octet cause of transmission.
constexpr ProtocolSettings kDefaultProtocolSettings{1, 2, 1, 2, 3, 2};

} // namespace iec101

#endif // IEC101_PROTOCOLSETTINGS_H
