#include "linebus.h"

#include <QtGlobal>

#include <deque>

#include <poll.h>
#include <unistd.h>

#include "rawdevice.h"

namespace {

void writeAll(int fd, const QByteArray& octets)
{
    if (fd >= 0 && !octets.isEmpty() && ::write(fd, octets.constData(), size_t(octets.size())) < 0) {
        // A device that went away loses what was in flight, as a cut line does.
    }
}

// One octet on the medium: where it came from (-1 the master, else a station's index)
// and when it has crossed the line.
struct Octet
{
    char value;
    int from;
    long long dueNs;
};

} // namespace

LineBus::LineBus(const QString& masterSide, const QStringList& stationSides, int baudRate, int bitsPerChar)
    : charTimeNs(baudRate > 0 ? 1000000000LL * bitsPerChar / baudRate : 0)
{
    master.path = masterSide;
    for (const QString& path : stationSides)
        stations.push_back({path, -1, Tap::Both});
}

LineBus::~LineBus()
{
    stop();
}

void LineBus::addTap(const QString& path, Tap direction)
{
    taps.push_back({path, -1, direction});
}

bool LineBus::start()
{
    std::vector<Port*> all{&master};
    for (Port& port : stations)
        all.push_back(&port);
    for (Port& port : taps)
        all.push_back(&port);
    for (Port* port : all) {
        port->fd = RawDevice::open(port->path);
        if (port->fd < 0) {
            error = QStringLiteral("cannot open %1").arg(port->path);
            stop();
            return false;
        }
    }
    running = true;
    thread = std::thread([this] { run(); });
    return true;
}

void LineBus::stop()
{
    running = false;
    if (thread.joinable())
        thread.join();
    std::vector<Port*> all{&master};
    for (Port& port : stations)
        all.push_back(&port);
    for (Port& port : taps)
        all.push_back(&port);
    for (Port* port : all) {
        if (port->fd >= 0)
            ::close(port->fd);
        port->fd = -1;
    }
}

QByteArray LineBus::masterBytes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return fromMaster;
}

void LineBus::clearMasterBytes()
{
    std::lock_guard<std::mutex> lock(mutex);
    fromMaster.clear();
}

void LineBus::run()
{
    // Everything read from the master or a station, in the order it takes the medium.
    std::deque<Octet> medium;
    long long lineFreeAt = 0;
    std::vector<pollfd> fds;
    fds.push_back({master.fd, POLLIN, 0});
    for (const Port& station : stations)
        fds.push_back({station.fd, POLLIN, 0});
    // Taps only listen; what a tap writes is read and dropped so that it cannot block.
    for (const Port& tap : taps)
        fds.push_back({tap.fd, POLLIN, 0});

    while (running) {
        long long now = RawDevice::nowNs();
        const long long nextDue = medium.empty() ? now + 20000000LL : medium.front().dueNs;
        const long long waitNs = qBound(0LL, nextDue - now, 20000000LL);
        const timespec timeout{time_t(waitNs / 1000000000LL), long(waitNs % 1000000000LL)};
        ::ppoll(fds.data(), nfds_t(fds.size()), &timeout, nullptr);

        now = RawDevice::nowNs();
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            char buffer[512];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0 && i > stations.size())
                tapCount += n;
            if (n <= 0 || i > stations.size())
                continue;
            const int from = int(i) - 1;
            if (from < 0) {
                std::lock_guard<std::mutex> lock(mutex);
                fromMaster.append(buffer, int(n));
            }
            for (ssize_t k = 0; k < n; ++k) {
                lineFreeAt = qMax(lineFreeAt, now) + charTimeNs;
                medium.push_back({buffer[k], from, lineFreeAt});
            }
        }

        // Octets that have crossed the line, gathered per receiver in order.
        QByteArray toStations;
        QByteArray toMaster;
        QByteArray both;
        while (!medium.empty() && medium.front().dueNs <= now) {
            const Octet octet = medium.front();
            medium.pop_front();
            (octet.from < 0 ? toStations : toMaster).append(octet.value);
            both.append(octet.value);
        }
        for (const Port& station : stations)
            writeAll(station.fd, toStations);
        writeAll(master.fd, toMaster);
        for (const Port& tap : taps)
            writeAll(tap.fd, tap.tap == Tap::Both         ? both
                             : tap.tap == Tap::FromMaster ? toStations
                                                          : toMaster);
    }
}
