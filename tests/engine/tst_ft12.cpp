// FT1.2 framing: frames built octet for octet as the line carries them, taken apart again,
// every way a frame can be malformed, and the reassembler on a stream split anywhere,
// with garbage and damaged frames in it.
#include <QtTest>

#include "ft12.h"

using namespace iec101;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// C_IC_NA_1 activation, CA 1, IOA 0, QOI 20 in the default layout.
const QByteArray kInterrogation = hex("64 01 06 00 01 00 00 00 00 14");

QByteArray withOctet(QByteArray frame, int at, int value)
{
    frame[at] = char(value);
    return frame;
}

} // namespace

Q_DECLARE_METATYPE(Ft12::Kind)
Q_DECLARE_METATYPE(Ft12::Fault)

class TestFt12 : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void octetsOnTheLine_data();
    void octetsOnTheLine();
    void roundTrip_data();
    void roundTrip();
    void faults_data();
    void faults();
    void everySingleBitErrorIsCaught();
    void reassembly_data();
    void reassembly();
    void garbageKeepsMemoryBounded();
};

void TestFt12::octetsOnTheLine_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("fixed, 2-octet address little endian")
        << Ft12::fixedFrame(0x7B, 0x1234, 2) << hex("10 7B 34 12 C1 16");
    QTest::newRow("fixed, 1-octet address") << Ft12::fixedFrame(0x49, 7, 1) << hex("10 49 07 50 16");
    QTest::newRow("fixed, no address") << Ft12::fixedFrame(0x0B, 0, 0) << hex("10 0B 0B 16");
    QTest::newRow("variable, 2-octet address")
        << Ft12::variableFrame(0x73, 1, 2, kInterrogation)
        << hex("68 0D 0D 68 73 01 00 64 01 06 00 01 00 00 00 00 14 F4 16");
    QTest::newRow("variable, 1-octet address")
        << Ft12::variableFrame(0x08, 0xAB, 1, hex("01 02 03")) << hex("68 05 05 68 08 AB 01 02 03 B9 16");
    QTest::newRow("variable, no address")
        << Ft12::variableFrame(0x53, 0, 0, hex("2E")) << hex("68 02 02 68 53 2E 81 16");
    QTest::newRow("address size beyond 2 is taken as 2")
        << Ft12::fixedFrame(0x7B, 0x1234, 3) << hex("10 7B 34 12 C1 16");
    QTest::newRow("user data beyond the length octet builds nothing")
        << Ft12::variableFrame(0x08, 1, 2, QByteArray(253, '\x01')) << QByteArray();
}

void TestFt12::octetsOnTheLine()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void TestFt12::roundTrip_data()
{
    QTest::addColumn<Ft12::Kind>("kind");
    QTest::addColumn<int>("control");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("addressSize");
    QTest::addColumn<QByteArray>("userData");

    for (int size = 0; size <= 2; ++size) {
        const int address = size == 0 ? 0 : size == 1 ? 0xFE : 0xBEEF;
        QTest::addRow("fixed, %d-octet address", size)
            << Ft12::Kind::Fixed << 0x5A << address << size << QByteArray();
        QTest::addRow("variable, %d-octet address", size)
            << Ft12::Kind::Variable << 0x28 << address << size << kInterrogation;
        QTest::addRow("variable without user data, %d-octet address", size)
            << Ft12::Kind::Variable << 0x73 << address << size << QByteArray();
        QTest::addRow("longest variable frame, %d-octet address", size)
            << Ft12::Kind::Variable << 0x08 << address << size
            << QByteArray(Ft12::maxUserDataSize(size), '\xE5');
    }
}

void TestFt12::roundTrip()
{
    QFETCH(Ft12::Kind, kind);
    QFETCH(int, control);
    QFETCH(int, address);
    QFETCH(int, addressSize);
    QFETCH(QByteArray, userData);

    const QByteArray octets = kind == Ft12::Kind::Fixed
                                  ? Ft12::fixedFrame(quint8(control), address, addressSize)
                                  : Ft12::variableFrame(quint8(control), address, addressSize, userData);
    QVERIFY(octets.size() <= Ft12::kMaxFrameSize);
    const Ft12::Parsed parsed = Ft12::parse(octets, addressSize);
    QCOMPARE(int(parsed.fault), int(Ft12::Fault::None));
    QVERIFY(parsed.frame.kind == kind);
    QCOMPARE(int(parsed.frame.control), control);
    QCOMPARE(parsed.frame.linkAddress, address);
    QCOMPARE(parsed.frame.userData, userData);
}

void TestFt12::faults_data()
{
    QTest::addColumn<QByteArray>("octets");
    QTest::addColumn<int>("addressSize");
    QTest::addColumn<Ft12::Fault>("fault");

    const QByteArray fixed = Ft12::fixedFrame(0x7B, 1, 2);
    const QByteArray variable = Ft12::variableFrame(0x73, 1, 2, kInterrogation);
    const int last = int(variable.size()) - 1;

    QTest::newRow("single character is a frame") << hex("E5") << 2 << Ft12::Fault::None;
    QTest::newRow("nothing") << QByteArray() << 2 << Ft12::Fault::Empty;
    QTest::newRow("unknown start character") << hex("55 7B 01 00 7C 16") << 2 << Ft12::Fault::UnknownStart;
    QTest::newRow("octets after the single character") << hex("E5 E5") << 2 << Ft12::Fault::TrailingOctets;
    QTest::newRow("fixed frame cut short") << fixed.left(5) << 2 << Ft12::Fault::FixedSize;
    QTest::newRow("fixed frame with an octet more") << fixed + hex("16") << 2 << Ft12::Fault::FixedSize;
    QTest::newRow("fixed frame read with the wrong address size") << fixed << 1 << Ft12::Fault::FixedSize;
    QTest::newRow("fixed frame without end character")
        << withOctet(fixed, 5, 0x17) << 2 << Ft12::Fault::NoEnd;
    QTest::newRow("fixed frame with bad checksum")
        << withOctet(fixed, 4, 0x7D) << 2 << Ft12::Fault::BadChecksum;
    QTest::newRow("variable header cut short") << variable.left(3) << 2 << Ft12::Fault::TruncatedHeader;
    QTest::newRow("length octets differ") << withOctet(variable, 2, 0x0C) << 2 << Ft12::Fault::LengthsDiffer;
    QTest::newRow("second start character missing")
        << withOctet(variable, 3, 0x10) << 2 << Ft12::Fault::NoSecondStart;
    QTest::newRow("variable frame cut short") << variable.left(last) << 2 << Ft12::Fault::VariableSize;
    QTest::newRow("variable frame with an octet more")
        << variable + hex("16") << 2 << Ft12::Fault::VariableSize;
    QTest::newRow("variable frame without end character")
        << withOctet(variable, last, 0x00) << 2 << Ft12::Fault::NoEnd;
    QTest::newRow("variable frame with bad checksum")
        << withOctet(variable, last - 1, 0xF5) << 2 << Ft12::Fault::BadChecksum;
    QTest::newRow("length leaves no room for the link address")
        << hex("68 02 02 68 73 01 74 16") << 2 << Ft12::Fault::LengthBelowAddress;
}

void TestFt12::faults()
{
    QFETCH(QByteArray, octets);
    QFETCH(int, addressSize);
    QFETCH(Ft12::Fault, fault);
    QCOMPARE(int(Ft12::parse(octets, addressSize).fault), int(fault));
}

void TestFt12::everySingleBitErrorIsCaught()
{
    const QByteArray frames[] = {Ft12::fixedFrame(0x7B, 0x1234, 2), Ft12::fixedFrame(0x0B, 0, 0),
                                 Ft12::variableFrame(0x73, 0x1234, 2, kInterrogation),
                                 Ft12::variableFrame(0x08, 3, 1, hex("01 02 03"))};
    const int sizes[] = {2, 0, 2, 1};
    for (int f = 0; f < 4; ++f) {
        for (int bit = 0; bit < frames[f].size() * 8; ++bit) {
            const QByteArray damaged =
                withOctet(frames[f], bit / 8, frames[f].at(bit / 8) ^ (1 << (bit % 8)));
            if (Ft12::parse(damaged, sizes[f]).ok())
                QFAIL(qPrintable(QStringLiteral("frame %1 passes with bit %2 flipped").arg(f).arg(bit)));
        }
    }
}

void TestFt12::reassembly_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("addressSize");
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<int>("dropped");
    QTest::addColumn<int>("pending");

    const QByteArray poll = Ft12::fixedFrame(0x7B, 1, 2);
    const QByteArray ack = hex("E5");
    const QByteArray data = Ft12::variableFrame(0x28, 1, 2, kInterrogation);
    QByteArray damaged = data;
    damaged[damaged.size() - 2] = char(damaged.at(damaged.size() - 2) + 1);
    const QByteArray garbage = hex("00 FF 16 55");

    QTest::newRow("every kind back to back")
        << poll + ack + data + poll << 2 << QByteArrayList{poll, ack, data, poll} << 0 << 0;
    QTest::newRow("garbage before and between frames is dropped")
        << garbage + poll + garbage + data + garbage << 2 << QByteArrayList{poll, data} << 12 << 0;
    QTest::newRow("a cut-off fixed start is dropped when it does not add up")
        << hex("10 7B") + poll << 2 << QByteArrayList{poll} << 2 << 0;
    QTest::newRow("a damaged frame is dropped, the next one still found")
        << damaged + poll << 2 << QByteArrayList{poll} << int(damaged.size()) << 0;
    QTest::newRow("variable headers that do not add up are skipped at once")
        << hex("68 05 06 68 68 05 05 10") + poll << 2 << QByteArrayList{poll} << 8 << 0;
    // The false header asks for 38 octets; the frames inside come out once it fails.
    QTest::newRow("frames inside a false header are found once it fails")
        << hex("68 20 20 68") + poll + data + poll + data << 2 << QByteArrayList{poll, data, poll, data} << 4
        << 0;
    QTest::newRow("a frame cut off at the end is held back")
        << poll + data.left(7) << 2 << QByteArrayList{poll} << 0 << 7;
    QTest::newRow("a lone start character at the end is held back")
        << data + hex("68") << 2 << QByteArrayList{data} << 0 << 1;
    QTest::newRow("1-octet link address")
        << Ft12::fixedFrame(0x5A, 3, 1) + garbage + Ft12::variableFrame(0x08, 3, 1, kInterrogation) << 1
        << QByteArrayList{Ft12::fixedFrame(0x5A, 3, 1), Ft12::variableFrame(0x08, 3, 1, kInterrogation)} << 4
        << 0;
    QTest::newRow("no link address") << Ft12::fixedFrame(0x0B, 0, 0) + ack +
                                            Ft12::variableFrame(0x08, 0, 0, kInterrogation)
                                     << 0
                                     << QByteArrayList{Ft12::fixedFrame(0x0B, 0, 0), ack,
                                                       Ft12::variableFrame(0x08, 0, 0, kInterrogation)}
                                     << 0 << 0;
}

void TestFt12::reassembly()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, addressSize);
    QFETCH(QByteArrayList, frames);
    QFETCH(int, dropped);
    QFETCH(int, pending);

    // The same frames whichever way the stream is cut: in one piece, in two pieces split at
    // every position, and octet by octet.
    const auto matches = [&](const QVector<QByteArray>& chunks) {
        Ft12::Reassembler reassembler(addressSize);
        QByteArrayList out;
        for (const QByteArray& chunk : chunks)
            out += reassembler.feed(chunk).toList();
        return out == frames && reassembler.droppedOctets() == dropped &&
               reassembler.pendingSize() == pending;
    };
    QVERIFY2(matches({stream}), "in one piece");
    for (int at = 0; at <= stream.size(); ++at)
        QVERIFY2(matches({stream.left(at), stream.mid(at)}),
                 qPrintable(QStringLiteral("split at %1").arg(at)));
    QVector<QByteArray> octets;
    for (char c : stream)
        octets.append(QByteArray(1, c));
    QVERIFY2(matches(octets), "octet by octet");
}

void TestFt12::garbageKeepsMemoryBounded()
{
    // Random octets with plenty of start characters in them, then valid frames: less than
    // one frame is ever held, and the line resynchronises.
    QRandomGenerator random(4711);
    Ft12::Reassembler reassembler(2);
    static const char starts[] = {'\x10', '\x68', '\x16'};
    for (int i = 0; i < 2000; ++i) {
        QByteArray chunk(int(random.bounded(1, 64)), '\0');
        for (char& c : chunk)
            c = random.bounded(4) == 0 ? starts[random.bounded(3)] : char(random.bounded(256));
        for (const QByteArray& frame : reassembler.feed(chunk))
            QVERIFY(Ft12::parse(frame, 2).ok());
        QVERIFY(reassembler.pendingSize() < Ft12::kMaxFrameSize);
    }
    const QByteArray poll = Ft12::fixedFrame(0x7B, 1, 2);
    QByteArrayList out;
    for (int i = 0; i < 2 * Ft12::kMaxFrameSize / poll.size(); ++i)
        out += reassembler.feed(poll).toList();
    QVERIFY(!out.isEmpty());
    QCOMPARE(out.constLast(), poll);
    QCOMPARE(reassembler.pendingSize(), 0);
}

QTEST_GUILESS_MAIN(TestFt12)
#include "tst_ft12.moc"
