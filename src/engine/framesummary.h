#ifndef IEC101_FRAMESUMMARY_H
#define IEC101_FRAMESUMMARY_H

#include <QByteArray>
#include <QString>

namespace iec101 {

// What one FT1.2 frame of the line says, taken apart octet by octet for the line
// monitor: frame kind, link control field and address, and for user data the ASDU
// header, first object address and number of objects. Nothing is read beyond the
// frame: a frame whose length, framing, checksum or ASDU does not add up comes out
// as Malformed with the reason, never as a guess.
class FrameSummary
{
public:
    // Field sizes in octets, as in force for the session.
    struct Layout
    {
        int linkAddressSize = 2;
        int causeSize = 2;
        int commonAddressSize = 2;
        int objectAddressSize = 3;

        // From the six protocol settings (ProtocolSetting order), clamped to what the
        // engine itself clamps them to; a null array gives the defaults.
        static Layout fromSettings(const int* settings);
    };

    enum class Kind { Malformed, SingleCharacter, Fixed, Variable };

    static FrameSummary parse(const QByteArray& octets, const Layout& layout);
    // "68 09 09 68 ..." (upper-case, space-separated).
    static QString hexText(const QByteArray& octets);

    // One line, e.g. "fixed, PRM, REQUEST_CLASS_2 (11), FCB=1 FCV=1, link 1" or
    // "malformed: bad checksum".
    QString text() const;

    // Primary frames from the master's polling that ask for class 2 data, and the
    // slave's answers that carry none: together they are idle polling.
    bool isClass2Request() const { return kind == Kind::Fixed && primary && functionCode == 11; }
    bool isNoDataAnswer() const;

    Kind kind = Kind::Malformed;
    QString problem; // why the frame is malformed

    // Link layer (fixed and variable frames).
    bool primary = false; // PRM
    int functionCode = 0;
    bool fcb = false; // primary frames
    bool fcv = false;
    bool acd = false; // secondary frames
    bool dfc = false;
    int linkAddress = 0;

    // ASDU (variable frames).
    bool hasAsdu = false;
    int typeId = 0;
    int cause = 0;
    bool negative = false; // P/N
    bool test = false;     // T
    int commonAddress = 0;
    bool sequence = false; // SQ
    int objectCount = 0;
    int firstObjectAddress = -1; // -1 without objects
};

} // namespace iec101

#endif // IEC101_FRAMESUMMARY_H
