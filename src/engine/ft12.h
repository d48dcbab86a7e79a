#ifndef IEC101_FT12_H
#define IEC101_FT12_H

#include <QByteArray>
#include <QVector>

namespace iec101 {

// FT1.2 framing of IEC 60870-5-101, written once for everything that builds or takes
// apart frames itself: the single character E5, the fixed frame 10 C A.. CS 16 and the
// variable frame 68 L L 68 C A.. data CS 16, with a link address of 0, 1 or 2 octets
// (little endian; other sizes are clamped to that range). The checksum is the sum of
// C, A.. and data modulo 256. Framing only: what the control field and user data mean
// is left to the caller.
class Ft12
{
public:
    enum class Kind { SingleCharacter, Fixed, Variable };

    // Why octets are not one frame, in the order they are checked.
    enum class Fault {
        None,
        Empty,
        UnknownStart,    // the first octet is none of E5, 10, 68
        TrailingOctets,  // octets after the single character
        FixedSize,       // a fixed frame of the wrong size for the link address
        TruncatedHeader, // fewer than the four header octets of a variable frame
        LengthsDiffer,   // the two length octets of a variable frame differ
        NoSecondStart,   // the fourth octet of a variable frame is not 68
        VariableSize,    // the size is not what the length octet says
        NoEnd,           // the last octet is not 16
        BadChecksum,
        LengthBelowAddress, // the length leaves no room for control field and link address
    };

    struct Frame
    {
        Kind kind = Kind::SingleCharacter;
        quint8 control = 0; // fixed and variable frames
        int linkAddress = 0;
        QByteArray userData; // variable frames; may be empty
    };

    struct Parsed
    {
        Fault fault = Fault::Empty;
        Frame frame; // valid only without a fault
        bool ok() const { return fault == Fault::None; }
    };

    // Hands out complete frames from octets as they arrive: chunks may be split anywhere
    // and garbage may lie before and between frames. Octets that cannot start a frame,
    // and frames that turn out damaged, are dropped one octet at a time so that a frame
    // starting inside them is still found. Holds less than one frame between calls.
    class Reassembler
    {
    public:
        explicit Reassembler(int linkAddressSize);

        // The frames (their octets, each one parses) completed by this chunk, in order.
        QVector<QByteArray> feed(const char* data, int size);
        QVector<QByteArray> feed(const QByteArray& chunk) { return feed(chunk.constData(), chunk.size()); }

        // Octets held for a frame not complete yet.
        int pendingSize() const { return int(buffer.size()); }
        // Octets dropped as garbage or damaged frames, since construction.
        qint64 droppedOctets() const { return dropped; }
        // Drops a frame not complete yet, e.g. when the line stalled in the middle of it.
        void discardPending();

    private:
        int linkAddressSize;
        QByteArray buffer;
        qint64 dropped = 0;
    };

    // Control field bits: PRM (from the primary), DIR (balanced: from the controlling
    // station); from a primary FCB and FCV, from a secondary ACD and DFC.
    static constexpr quint8 kPrm = 0x40;
    static constexpr quint8 kDir = 0x80;
    static constexpr quint8 kFcb = 0x20;
    static constexpr quint8 kFcv = 0x10;
    static constexpr quint8 kAcd = 0x20;
    static constexpr quint8 kDfc = 0x10;
    static constexpr quint8 kFunctionMask = 0x0f;
    // The secondary's function "link busy, message not accepted".
    static constexpr quint8 kFunctionBusy = 1;

    static constexpr quint8 kSingleCharacter = 0xE5;
    static constexpr quint8 kFixedStart = 0x10;
    static constexpr quint8 kVariableStart = 0x68;
    static constexpr quint8 kEnd = 0x16;
    // A variable frame with the largest length octet.
    static constexpr int kMaxFrameSize = 255 + 6;

    Ft12() = delete;

    static QByteArray fixedFrame(quint8 control, int linkAddress, int linkAddressSize);
    // Empty if the user data does not fit the length octet (see maxUserDataSize).
    static QByteArray variableFrame(quint8 control, int linkAddress, int linkAddressSize,
                                    const QByteArray& userData);
    static int maxUserDataSize(int linkAddressSize);

    // Exactly one frame: every octet must belong to it.
    static Parsed parse(const QByteArray& octets, int linkAddressSize);
};

} // namespace iec101

#endif // IEC101_FT12_H
