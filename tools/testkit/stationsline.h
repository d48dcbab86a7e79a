// Several simulated stations on one line, as on an RS-485 bus: a pty pair for the master,
// one for each station, the line bus joining them (paced like a line of a given speed or
// at once), a simulated station on each, and the protocol settings that list them.
#ifndef IEC101_STATIONSLINE_H
#define IEC101_STATIONSLINE_H

#include <QString>
#include <QVector>

#include <memory>
#include <vector>

#include "linebus.h"
#include "protocolsettings.h"
#include "serialparam.h"
#include "serialsettings.h"
#include "slavesim.h"

class PtyPair;

class StationsLine
{
public:
    // Ptys reopen only without parity, so the line and the stations use none. The field
    // sizes of the first station are the line's.
    explicit StationsLine(const QVector<slavesim::Config>& configs);
    // Stations with link addresses 1 to count and common addresses offset + 1 to offset + count.
    static QVector<slavesim::Config> numbered(int count, int commonAddressOffset = 0);
    ~StationsLine();
    StationsLine(const StationsLine&) = delete;
    StationsLine& operator=(const StationsLine&) = delete;

    // A tap device path that will hear the line (before start()): the far end of a pty
    // pair made for it is returned.
    QString addTap(LineBus::Tap direction);
    bool start(int baud = 0);
    void stop();
    QString errorString() const { return error; }

    QString masterPort() const;
    int stationCount() const { return int(stations.size()); }
    slavesim::SlaveSim& station(int index) { return *stations.at(size_t(index)); }
    LineBus* bus() { return linePtr.get(); }

    iec101::SerialSettings serialSettings() const;
    iec101::SerialParam serialParam() const;
    // Every station with its link address and common addresses.
    iec101::ProtocolSettings settings() const;

private:
    QVector<slavesim::Config> configs;
    std::unique_ptr<PtyPair> masterPty;
    std::vector<std::unique_ptr<PtyPair>> stationPtys;
    std::vector<std::unique_ptr<PtyPair>> tapPtys;
    std::vector<LineBus::Tap> tapDirections;
    std::unique_ptr<LineBus> linePtr;
    std::vector<std::unique_ptr<slavesim::SlaveSim>> stations;
    QString error;
};

#endif // IEC101_STATIONSLINE_H
