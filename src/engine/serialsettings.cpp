#include "serialsettings.h"

#include "serialparam.h"

namespace iec101 {

SerialSettings SerialSettings::fromParam(const SerialParam& param)
{
    SerialSettings settings;
    settings.portName = param.portName;
    settings.baudRate = param.baudRate;
    settings.dataBits = param.dataBits;
    settings.parity = char(param.parity);
    settings.stopBits = param.stopBits;
    return settings;
}

int SerialSettings::bitsPerCharacter() const
{
    return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits;
}

} // namespace iec101
