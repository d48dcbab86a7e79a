#include "linerelay.h"

#include <QtGlobal>

#include <deque>
#include <random>
#include <utility>

#include <poll.h>
#include <unistd.h>

#include "rawdevice.h"

namespace {

quint32 initialSeed()
{
    bool ok = false;
    const uint fromEnvironment = qEnvironmentVariable("IEC101_LINE_SEED").toUInt(&ok, 0);
    return ok ? quint32(fromEnvironment) : quint32(std::random_device{}());
}

// Bytes of one direction with the time each may be handed on, and the random stream
// that decides which of them the line damages.
struct Lane
{
    int from = -1;
    int to = -1;
    std::deque<std::pair<char, long long>> pending;
    long long lineFreeAt = 0;
    std::mt19937 random;
};

} // namespace

LineRelay::LineRelay(const QString& masterSide, const QString& slaveSide, int baudRate, int bitsPerChar)
    : masterPath(masterSide), slavePath(slaveSide),
      charTimeNs(baudRate > 0 ? 1000000000LL * bitsPerChar / baudRate : 0), noiseSeed(initialSeed())
{}

LineRelay::~LineRelay()
{
    stop();
}

bool LineRelay::start()
{
    masterFd = RawDevice::open(masterPath);
    slaveFd = RawDevice::open(slavePath);
    if (masterFd < 0 || slaveFd < 0) {
        stop();
        return false;
    }
    running = true;
    thread = std::thread([this] { run(); });
    return true;
}

void LineRelay::stop()
{
    running = false;
    if (thread.joinable())
        thread.join();
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
    masterFd = slaveFd = -1;
}

void LineRelay::setNoise(Direction direction, const LineNoise& lineNoise)
{
    std::lock_guard<std::mutex> lock(mutex);
    noise[direction] = lineNoise;
    if (!seedShown && (lineNoise.corruptRate > 0 || lineNoise.dropRate > 0)) {
        seedShown = true;
        qInfo("line relay: noise seed %u (IEC101_LINE_SEED=%u replays it)", noiseSeed, noiseSeed);
    }
}

void LineRelay::setNoise(const LineNoise& lineNoise)
{
    setNoise(MasterToSlave, lineNoise);
    setNoise(SlaveToMaster, lineNoise);
}

QByteArray LineRelay::masterBytes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return fromMaster;
}

void LineRelay::clearMasterBytes()
{
    std::lock_guard<std::mutex> lock(mutex);
    fromMaster.clear();
}

void LineRelay::run()
{
    Lane directions[2];
    directions[MasterToSlave].from = masterFd;
    directions[MasterToSlave].to = slaveFd;
    directions[MasterToSlave].random.seed(noiseSeed);
    directions[SlaveToMaster].from = slaveFd;
    directions[SlaveToMaster].to = masterFd;
    directions[SlaveToMaster].random.seed(noiseSeed ^ 0x9e3779b9u);
    std::uniform_real_distribution<double> chance(0.0, 1.0);

    while (running) {
        long long now = RawDevice::nowNs();
        long long nextDue = now + 20000000LL;
        for (const Lane& d : directions)
            if (!d.pending.empty())
                nextDue = qMin(nextDue, d.pending.front().second);
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {slaveFd, POLLIN, 0}};
        // Woken to the nanosecond rather than the next whole millisecond: at 115200 baud a
        // character takes 95 us, and rounding each wait up would hold every frame's end back.
        const long long waitNs = qBound(0LL, nextDue - now, 20000000LL);
        const timespec timeout{time_t(waitNs / 1000000000LL), long(waitNs % 1000000000LL)};
        ::ppoll(fds, 2, &timeout, nullptr);

        now = RawDevice::nowNs();
        for (int i = 0; i < 2; ++i) {
            Lane& d = directions[i];
            if (fds[i].revents & POLLIN) {
                char buffer[512];
                const ssize_t n = ::read(d.from, buffer, sizeof buffer);
                LineNoise damage;
                if (n > 0) {
                    (i == MasterToSlave ? masterCount : slaveCount) += n;
                    std::lock_guard<std::mutex> lock(mutex);
                    if (i == MasterToSlave)
                        fromMaster.append(buffer, int(n));
                    damage = noise[i];
                }
                const bool noisy = damage.corruptRate > 0 || damage.dropRate > 0;
                for (ssize_t k = 0; k < n; ++k) {
                    // A byte leaves once the previous one is through and it has itself spent its time on the
                    // line. A lost byte took its time on the line all the same.
                    d.lineFreeAt = qMax(d.lineFreeAt, now) + charTimeNs;
                    char octet = buffer[k];
                    if (noisy) {
                        // The same draws for every octet, damaged or not, tie each octet's fate to its
                        // position in the stream: a replay damages the same octets.
                        const double lose = chance(d.random);
                        const double flip = chance(d.random);
                        const int bit = int(d.random() % 8);
                        if (lose < damage.dropRate) {
                            ++dropped[i];
                            continue;
                        }
                        if (flip < damage.corruptRate) {
                            octet = char(octet ^ (1 << bit));
                            ++corrupted[i];
                        }
                    }
                    d.pending.emplace_back(octet, d.lineFreeAt);
                }
            }
            QByteArray out;
            while (!d.pending.empty() && d.pending.front().second <= now) {
                out.append(d.pending.front().first);
                d.pending.pop_front();
            }
            if (!out.isEmpty() && ::write(d.to, out.constData(), size_t(out.size())) < 0) {
                // The other end went away; what was in flight is lost, as on a cut line.
            }
        }
    }
}
