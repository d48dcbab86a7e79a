#include "protocolsettings.h"

#include <algorithm>

namespace iec101 {

namespace {

int clamped(int size, int low, int high)
{
    return std::max(low, std::min(size, high));
}

} // namespace

ProtocolSettings ProtocolSettings::fromArray(const int* settings)
{
    const int* values = settings ? settings : kDefaultProtocolSettings.data();
    ProtocolSettings result;
    result.commonAddress = values[CommonAddress];
    result.commonAddressSize = values[CommonAddressSize];
    result.linkAddress = values[LinkAddress];
    result.linkAddressSize = values[LinkAddressSize];
    result.objectAddressSize = values[ObjectAddressSize];
    result.causeSize = values[CauseSize];
    return result;
}

SettingArray ProtocolSettings::toArray() const
{
    return {commonAddress, commonAddressSize, linkAddress, linkAddressSize, objectAddressSize, causeSize};
}

int ProtocolSettings::linkAddressOctets() const
{
    return clamped(linkAddressSize, 0, 2);
}

int ProtocolSettings::commonAddressOctets() const
{
    return clamped(commonAddressSize, 1, 2);
}

int ProtocolSettings::objectAddressOctets() const
{
    return clamped(objectAddressSize, 1, 3);
}

int ProtocolSettings::causeOctets() const
{
    return clamped(causeSize, 1, 2);
}

int ProtocolSettings::broadcastLinkAddress() const
{
    return linkAddressOctets() == 2 ? 65535 : 255;
}

int ProtocolSettings::broadcastCommonAddress() const
{
    return commonAddressOctets() == 2 ? 65535 : 255;
}

} // namespace iec101
