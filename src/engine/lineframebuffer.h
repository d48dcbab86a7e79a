#ifndef IEC101_LINEFRAMEBUFFER_H
#define IEC101_LINEFRAMEBUFFER_H

#include <QVector>

#include "lineframe.h"

namespace iec101 {

// The frames the engine has seen on the line and not yet handed to the GUI thread.
// Bounded: once it holds kCapacity frames, newer ones are counted and dropped, so a
// GUI that stops taking batches cannot make the engine's memory grow.
class LineFrameBuffer
{
public:
    static constexpr int kCapacity = 20000;

    // Copies the octets at once: the library reuses its buffer.
    void append(const unsigned char* octets, int size, bool sent);
    bool isEmpty() const { return frames.isEmpty() && dropped == 0; }
    // Everything collected so far, and the number of frames dropped since the last take.
    QVector<LineFrame> take(int* droppedSinceLastTake);

private:
    QVector<LineFrame> frames;
    int dropped = 0;
};

} // namespace iec101

#endif // IEC101_LINEFRAMEBUFFER_H
