#include "linerelay.h"

#include <QtGlobal>

#include <deque>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

long long nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int openRaw(const QString& path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

// Bytes of one direction with the time each may be handed on.
struct Direction
{
    int from = -1;
    int to = -1;
    std::deque<std::pair<char, long long>> pending;
    long long lineFreeAt = 0;
};

} // namespace

LineRelay::LineRelay(const QString& masterSide, const QString& slaveSide, int baudRate, int bitsPerChar)
    : masterPath(masterSide), slavePath(slaveSide),
      charTimeNs(baudRate > 0 ? 1000000000LL * bitsPerChar / baudRate : 0)
{}

LineRelay::~LineRelay()
{
    stop();
}

bool LineRelay::start()
{
    masterFd = openRaw(masterPath);
    slaveFd = openRaw(slavePath);
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
    Direction directions[2];
    directions[0].from = masterFd;
    directions[0].to = slaveFd;
    directions[1].from = slaveFd;
    directions[1].to = masterFd;

    while (running) {
        long long now = nowNs();
        long long nextDue = now + 20000000LL;
        for (const Direction& d : directions)
            if (!d.pending.empty())
                nextDue = qMin(nextDue, d.pending.front().second);
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {slaveFd, POLLIN, 0}};
        // Woken to the nanosecond rather than the next whole millisecond: at 115200 baud a
        // character takes 95 us, and rounding each wait up would hold every frame's end back.
        const long long waitNs = qBound(0LL, nextDue - now, 20000000LL);
        const timespec timeout{time_t(waitNs / 1000000000LL), long(waitNs % 1000000000LL)};
        ::ppoll(fds, 2, &timeout, nullptr);

        now = nowNs();
        for (int i = 0; i < 2; ++i) {
            Direction& d = directions[i];
            if (fds[i].revents & POLLIN) {
                char buffer[512];
                const ssize_t n = ::read(d.from, buffer, sizeof buffer);
                for (ssize_t k = 0; k < n; ++k) {
                    // A byte leaves once the previous one is through and it has itself spent its time on the
                    // line.
                    d.lineFreeAt = qMax(d.lineFreeAt, now) + charTimeNs;
                    d.pending.emplace_back(buffer[k], d.lineFreeAt);
                }
                if (n > 0)
                    (i == 0 ? masterCount : slaveCount) += n;
                if (i == 0 && n > 0) {
                    std::lock_guard<std::mutex> lock(mutex);
                    fromMaster.append(buffer, int(n));
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
