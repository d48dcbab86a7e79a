#include "tapfeed.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <iec60870_common.h>

#include "ft12.h"

using iec101::Ft12;

namespace {

constexpr int kLinkAddress = 1;
constexpr int kPrm = 0x40;
constexpr int kFcv = 0x10;

QByteArray header(int typeId, int count, int cause)
{
    QByteArray a;
    a.append(char(typeId))
        .append(char(count))
        .append(char(cause))
        .append(char(0))
        .append(char(1))
        .append(char(0));
    return a;
}

QByteArray address(int ioa)
{
    return QByteArray().append(char(ioa & 0xFF)).append(char((ioa >> 8) & 0xFF)).append(char(ioa >> 16));
}

} // namespace

TapFeed::TapFeed(int pointCount, int objectsPerAnswer) : points(pointCount), perAnswer(objectsPerAnswer) {}

TapFeed::~TapFeed()
{
    stop();
}

int TapFeed::pointAddress(int n)
{
    return isMeasured(n) ? 100001 + n / 2 : 1 + n / 2;
}

bool TapFeed::isMeasured(int n)
{
    return n % 2 == 1;
}

QByteArray TapFeed::master(int control, const QByteArray& asdu)
{
    ++framesBuilt;
    return asdu.isNull() ? Ft12::fixedFrame(quint8(control), kLinkAddress, 2)
                         : Ft12::variableFrame(quint8(control), kLinkAddress, 2, asdu);
}

QByteArray TapFeed::station(int control, const QByteArray& asdu)
{
    return master(control, asdu);
}

QByteArray TapFeed::exchange(int* count)
{
    fcb ^= 0x20;
    QByteArray out = master(kPrm | fcb | kFcv | 10);
    // Measured values and single points in separate ASDUs, as a station sends them.
    QByteArray measured;
    QByteArray singles;
    int measuredCount = 0;
    int singleCount = 0;
    for (int i = 0; i < perAnswer; ++i, next = (next + 1) % points) {
        ++turn;
        if (isMeasured(next)) {
            // Mostly inside 200..240, every 20th outside, every 50th invalid.
            const float value = turn % 20 == 0 ? 250.0f : 200.0f + float(turn % 40);
            measured += address(pointAddress(next)) + QByteArray(reinterpret_cast<const char*>(&value), 4) +
                        QByteArray(1, turn % 50 == 0 ? char(0x80) : char(0));
            ++measuredCount;
        } else {
            singles += address(pointAddress(next)) + QByteArray(1, char(turn % 2));
            ++singleCount;
        }
    }
    // One answer a poll: the single points wait for the next one.
    if (measuredCount > 0)
        out += station(0x28, header(M_ME_NC_1, measuredCount, 3) + measured);
    if (measuredCount > 0 && singleCount > 0) {
        fcb ^= 0x20;
        out += master(kPrm | fcb | kFcv | 10);
    }
    if (singleCount > 0)
        out += station(0x28, header(M_SP_NA_1, singleCount, 3) + singles);
    *count = perAnswer;
    return out;
}

QByteArray TapFeed::interrogation(int* count)
{
    fcb ^= 0x20;
    QByteArray out = master(kPrm | fcb | kFcv | 3, header(C_IC_NA_1, 1, 6) + address(0) + QByteArray(1, 20));
    out += station(0x20);
    fcb ^= 0x20;
    out += master(kPrm | fcb | kFcv | 10);
    out += station(0x28, header(C_IC_NA_1, 1, 7) + address(0) + QByteArray(1, 20));
    // Twenty objects an ASDU, each answer fetched with a poll of its own.
    for (int first = 0; first < points; first += 20) {
        QByteArray measured;
        QByteArray singles;
        int measuredCount = 0;
        int singleCount = 0;
        for (int n = first; n < qMin(points, first + 20); ++n) {
            if (isMeasured(n)) {
                const float value = 220.0f;
                measured += address(pointAddress(n)) + QByteArray(reinterpret_cast<const char*>(&value), 4) +
                            QByteArray(1, 0);
                ++measuredCount;
            } else {
                singles += address(pointAddress(n)) + QByteArray(1, 0);
                ++singleCount;
            }
        }
        fcb ^= 0x20;
        out += master(kPrm | fcb | kFcv | 10);
        out += station(0x28, header(M_ME_NC_1, measuredCount, 20) + measured);
        fcb ^= 0x20;
        out += master(kPrm | fcb | kFcv | 10);
        out += station(0x28, header(M_SP_NA_1, singleCount, 20) + singles);
    }
    fcb ^= 0x20;
    out += master(kPrm | fcb | kFcv | 10);
    out += station(0x08, header(C_IC_NA_1, 1, 10) + address(0) + QByteArray(1, 20));
    *count = points;
    return out;
}

bool TapFeed::start(const QString& path, int baud, int objectsPerSecond, int interrogationEveryS)
{
    fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY);
    if (fd < 0)
        return false;
    running = true;
    done = false;
    writer = std::thread([this, baud, objectsPerSecond, interrogationEveryS] {
        QElapsedTimer clock;
        clock.start();
        qint64 nextInterrogationMs = interrogationEveryS > 0 ? 0 : -1;
        // What the pace allows by now, against what went out.
        qint64 owedOctets = 0;
        qint64 owedObjects = 0;
        QByteArray held;
        int heldObjects = 0;
        qint64 heldFrames = 0;
        // Once stopped, what was begun goes out whole, so that the counts are of whole exchanges.
        while (running || !held.isEmpty()) {
            if (held.isEmpty()) {
                const qint64 before = framesBuilt;
                if (nextInterrogationMs >= 0 && clock.elapsed() >= nextInterrogationMs) {
                    held = interrogation(&heldObjects);
                    nextInterrogationMs += qint64(interrogationEveryS) * 1000;
                } else {
                    held = exchange(&heldObjects);
                }
                heldFrames = framesBuilt - before;
            }
            const qint64 elapsedUs = clock.nsecsElapsed() / 1000;
            if (baud > 0)
                owedOctets = elapsedUs * baud / 11 / 1000000 - octets;
            else if (objectsPerSecond > 0)
                owedObjects = elapsedUs * objectsPerSecond / 1000000 - objects;
            const bool due = !running || (baud > 0               ? owedOctets >= 1
                                          : objectsPerSecond > 0 ? owedObjects >= heldObjects
                                                                 : true);
            if (!due) {
                QThread::usleep(1000);
                continue;
            }
            // At a line's pace the octets go out as the line carries them, a frame split anywhere.
            const int size = baud > 0 && running ? int(qMin<qint64>(owedOctets, held.size())) : held.size();
            const ssize_t n = ::write(fd, held.constData(), size_t(size));
            if (n <= 0) {
                QThread::usleep(1000);
                continue;
            }
            held.remove(0, int(n));
            octets += n;
            if (held.isEmpty()) {
                objects += heldObjects;
                frames += heldFrames;
            }
        }
        done = true;
    });
    return true;
}

void TapFeed::stop()
{
    running = false;
    if (writer.joinable())
        writer.join();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
