#include "lineframebuffer.h"

#include <chrono>

namespace iec101 {

void LineFrameBuffer::append(const unsigned char* octets, int size, bool sent)
{
    if (!octets || size <= 0)
        return;
    if (frames.size() >= kCapacity) {
        ++dropped;
        return;
    }
    LineFrame frame;
    frame.timeUs = std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
    frame.sent = sent;
    frame.octets = QByteArray(reinterpret_cast<const char*>(octets), size);
    frames.append(frame);
}

QVector<LineFrame> LineFrameBuffer::take(int* droppedSinceLastTake)
{
    if (droppedSinceLastTake)
        *droppedSinceLastTake = dropped;
    dropped = 0;
    QVector<LineFrame> batch;
    batch.swap(frames);
    return batch;
}

} // namespace iec101
