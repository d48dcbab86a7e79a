#include "protocolsettings.h"

#include <QStringList>

#include <algorithm>

namespace iec101 {

namespace {

int clamped(int size, int low, int high)
{
    return std::max(low, std::min(size, high));
}

} // namespace

QVector<Station> ProtocolSettings::stationList() const
{
    if (stations.isEmpty()) {
        Station only;
        only.linkAddress = linkAddress;
        only.commonAddresses = {commonAddress};
        return {only};
    }
    // A station listed without common addresses answers for the one of the settings.
    QVector<Station> list = stations;
    for (Station& station : list) {
        if (station.commonAddresses.isEmpty())
            station.commonAddresses = {commonAddress};
    }
    return list;
}

bool ProtocolSettings::parseStations(const QString& text, QVector<Station>* stations, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    QVector<Station> parsed;
    for (const QString& entry : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList parts = entry.trimmed().split(QLatin1Char(':'));
        bool ok = false;
        Station station;
        station.linkAddress = parts.value(0).trimmed().toInt(&ok);
        if (!ok || parts.size() > 2 || station.linkAddress < 0 || station.linkAddress > 65534)
            return fail(QStringLiteral("\"%1\" is not a link address (0 to 65534)").arg(entry.trimmed()));
        station.commonAddresses.clear();
        for (const QString& ca : parts.value(1).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const int value = ca.trimmed().toInt(&ok);
            if (!ok || value < 0 || value > 65535)
                return fail(QStringLiteral("\"%1\" is not a common address (0 to 65535)").arg(ca.trimmed()));
            station.commonAddresses.append(value);
        }
        const bool repeated = std::any_of(parsed.cbegin(), parsed.cend(), [&](const Station& other) {
            return other.linkAddress == station.linkAddress;
        });
        if (repeated)
            return fail(QStringLiteral("link address %1 is listed twice").arg(station.linkAddress));
        parsed.append(station);
    }
    *stations = parsed;
    return true;
}

QString ProtocolSettings::stationsText(const QVector<Station>& stations)
{
    QStringList entries;
    for (const Station& station : stations) {
        QStringList cas;
        for (int ca : station.commonAddresses)
            cas << QString::number(ca);
        entries << QStringLiteral("%1:%2").arg(station.linkAddress).arg(cas.join(QLatin1Char(',')));
    }
    return entries.join(QLatin1Char(';'));
}

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
