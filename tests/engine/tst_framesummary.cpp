// The line monitor's one-line summary of FT1.2 frames, built here octet by octet: every
// frame kind and function code the master and the simulated slave use, the ASDU
// header fields, and frames that must come out as "malformed" rather than misread.
#include <QtTest>

#include <iec60870_common.h>

#include "framebuilder.h"
#include "framesummary.h"

using namespace iec101;

namespace {

using FrameBuilder::octets;
using Layout = FrameSummary::Layout;

QByteArray fixedFrame(int control, int address = 1, int addressSize = 2)
{
    return FrameBuilder::fixed(control, address, addressSize);
}

QByteArray variableFrame(int control, const QByteArray& asdu, int address = 1, int addressSize = 2)
{
    return FrameBuilder::variable(control, asdu, address, addressSize);
}

// C_IC_NA_1, activation, CA 1, IOA 0, QOI 20 in the default layout.
const QByteArray kInterrogation = FrameBuilder::interrogation(6);

Layout smallLayout()
{
    Layout layout;
    layout.linkAddressSize = 1;
    layout.causeSize = 1;
    layout.commonAddressSize = 1;
    layout.objectAddressSize = 2;
    return layout;
}

} // namespace

Q_DECLARE_METATYPE(FrameSummary::Layout)

class TestFrameSummary : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void summaryLine_data();
    void summaryLine();
    void everyTruncationIsMalformed();
};

void TestFrameSummary::summaryLine_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QString>("line");

    const Layout standard;
    QTest::newRow("class 2 poll carries FCB and FCV")
        << fixedFrame(0x7B) << standard << "fixed, PRM, REQUEST_CLASS_2 (11), FCB=1 FCV=1, link 1";
    QTest::newRow("class 1 poll with FCB clear")
        << fixedFrame(0x5A) << standard << "fixed, PRM, REQUEST_CLASS_1 (10), FCB=0 FCV=1, link 1";
    QTest::newRow("reset of the remote link")
        << fixedFrame(0x40) << standard << "fixed, PRM, RESET_REMOTE_LINK (0), FCB=0 FCV=0, link 1";
    QTest::newRow("link status request, 2-octet address little-endian")
        << fixedFrame(0x49, 0x1234) << standard
        << "fixed, PRM, REQUEST_LINK_STATUS (9), FCB=0 FCV=0, link 4660";
    QTest::newRow("ACK with ACD: class 1 data waiting")
        << fixedFrame(0x20) << standard << "fixed, SEC, ACK (0), ACD=1 DFC=0, link 1";
    QTest::newRow("no data, DFC set")
        << fixedFrame(0x19) << standard << "fixed, SEC, NACK_NO_DATA (9), ACD=0 DFC=1, link 1";
    QTest::newRow("NACK: link busy") << fixedFrame(0x01) << standard
                                     << "fixed, SEC, NACK (1), ACD=0 DFC=0, link 1";
    QTest::newRow("link status answer")
        << fixedFrame(0x0B) << standard << "fixed, SEC, LINK_STATUS (11), ACD=0 DFC=0, link 1";
    QTest::newRow("single character") << octets({0xE5}) << standard << "single character E5 (ACK)";
    QTest::newRow("interrogation activation")
        << variableFrame(0x73, kInterrogation) << standard
        << "variable, PRM, USER_DATA_CONFIRMED (3), FCB=1 FCV=1, link 1; C_IC_NA_1 (100), ACTIVATION (6), "
           "P/N=0 T=0, CA 1, IOA 0, 1 object";
    QTest::newRow("negative confirmation sets P/N")
        << variableFrame(0x28, octets({100, 1, 0x47, 0, 1, 0, 0, 0, 0, 20})) << standard
        << "variable, SEC, USER_DATA (8), ACD=1 DFC=0, link 1; C_IC_NA_1 (100), ACTIVATION_CON (7), P/N=1 "
           "T=0, "
           "CA 1, IOA 0, 1 object";
    QTest::newRow("interrogated points in sequence: first address and count")
        << variableFrame(0x08, octets({1, 0x83, 20, 0, 1, 0, 0xE9, 0x03, 0, 1, 0, 1})) << standard
        << "variable, SEC, USER_DATA (8), ACD=0 DFC=0, link 1; M_SP_NA_1 (1), INTERROGATED_BY_STATION (20), "
           "P/N=0 T=0, CA 1, IOA 1001, 3 objects";
    QTest::newRow("double command select")
        << variableFrame(0x53, octets({46, 1, 6, 0, 1, 0, 0x02, 0x00, 0x2E, 0x82})) << standard
        << "variable, PRM, USER_DATA_CONFIRMED (3), FCB=0 FCV=1, link 1; C_DC_NA_1 (46), ACTIVATION (6), "
           "P/N=0 T=0, CA 1, IOA 3014658, 1 object";
    QTest::newRow("read request")
        << variableFrame(0x73, octets({102, 1, 5, 0, 1, 0, 0xA1, 0x0F, 0})) << standard
        << "variable, PRM, USER_DATA_CONFIRMED (3), FCB=1 FCV=1, link 1; C_RD_NA_1 (102), REQUEST (5), "
           "P/N=0 T=0, CA 1, IOA 4001, 1 object";
    QTest::newRow("broadcast clock sync, no reply, test bit")
        << variableFrame(0x44, octets({103, 1, 0x86, 0, 0xFF, 0xFF, 0, 0, 0, 1, 2, 3, 4, 5, 6, 26}), 0xFFFF)
        << standard
        << "variable, PRM, USER_DATA_NO_REPLY (4), FCB=0 FCV=0, link 65535; C_CS_NA_1 (103), ACTIVATION (6), "
           "P/N=0 T=1, CA 65535, IOA 0, 1 object";
    QTest::newRow("session with 1-octet link, cause and common address, 2-octet objects")
        << variableFrame(0x08, octets({3, 1, 3, 7, 0x10, 0x27, 2}), 3, 1) << smallLayout()
        << "variable, SEC, USER_DATA (8), ACD=0 DFC=0, link 3; M_DP_NA_1 (3), SPONTANEOUS (3), P/N=0 T=0, CA "
           "7, "
           "IOA 10000, 1 object";
    const int degenerateSettings[6] = {1, 0, 1, 7, 9, -1};
    QTest::newRow("degenerate settings read with the sizes the engine clamps them to")
        << variableFrame(0x08, octets({1, 1, 3, 1, 0xE9, 0x03, 0, 1}))
        << Layout::fromSettings(degenerateSettings)
        << "variable, SEC, USER_DATA (8), ACD=0 DFC=0, link 1; M_SP_NA_1 (1), SPONTANEOUS (3), P/N=0 T=0, CA "
           "1, "
           "IOA 1001, 1 object";
    QTest::newRow("unknown type keeps its header")
        << variableFrame(0x08, octets({200, 1, 3, 0, 1, 0, 5, 0, 0, 9, 9})) << standard
        << "variable, SEC, USER_DATA (8), ACD=0 DFC=0, link 1; unknown (200), SPONTANEOUS (3), P/N=0 T=0, CA "
           "1, "
           "IOA 5, 1 object";

    QByteArray badChecksum = fixedFrame(0x7B);
    badChecksum[4] = char(badChecksum.at(4) + 1);
    QByteArray noEnd = variableFrame(0x73, kInterrogation);
    noEnd[noEnd.size() - 1] = '\x17';
    QByteArray lengthsDiffer = variableFrame(0x73, kInterrogation);
    lengthsDiffer[2] = char(lengthsDiffer.at(2) - 1);
    QTest::newRow("bad checksum") << badChecksum << standard << "malformed: bad checksum";
    QTest::newRow("truncated fixed frame")
        << fixedFrame(0x7B).left(3) << standard << "malformed: fixed frame of 3 octets, expected 6";
    QTest::newRow("fixed frame of a 1-octet link address read with 2")
        << fixedFrame(0x7B, 1, 1) << standard << "malformed: fixed frame of 5 octets, expected 6";
    QTest::newRow("truncated variable frame") << variableFrame(0x73, kInterrogation).left(6) << standard
                                              << "malformed: variable frame of 6 octets, its length says 19";
    QTest::newRow("length octets differ")
        << lengthsDiffer << standard << "malformed: header octets do not match";
    QTest::newRow("no end character") << noEnd << standard << "malformed: no end character";
    QTest::newRow("ASDU shorter than its header")
        << variableFrame(0x08, octets({1, 1, 3})) << standard
        << "malformed: ASDU of 3 octets is shorter than its header (6)";
    QTest::newRow("sequence declaring more objects than it holds")
        << variableFrame(0x08, octets({1, 0xFF, 20, 0, 1, 0, 0xE9, 0x03, 0, 1})) << standard
        << "malformed: 127 objects of type 1 need 130 octets, the ASDU has 4";
    QTest::newRow("objects trailing an ASDU of none")
        << variableFrame(0x08, octets({1, 0, 20, 0, 1, 0, 1})) << standard
        << "malformed: 1 octets after an ASDU of no objects";
    QTest::newRow("unknown type without room for an address")
        << variableFrame(0x08, octets({200, 1, 3, 0, 1, 0, 5})) << standard
        << "malformed: ASDU has no room for an object address";
    QTest::newRow("unknown start character")
        << octets({0x55, 1}) << standard << "malformed: unknown start character 55";
    QTest::newRow("single character with more after it")
        << octets({0xE5, 0xE5}) << standard << "malformed: 1 octets after the single character";
    QTest::newRow("empty") << QByteArray() << standard << "malformed: empty";
}

void TestFrameSummary::summaryLine()
{
    QFETCH(QByteArray, frame);
    QFETCH(Layout, layout);
    QFETCH(QString, line);
    QCOMPARE(FrameSummary::parse(frame, layout).text(), line);
}

void TestFrameSummary::everyTruncationIsMalformed()
{
    // Whatever the cut, nothing is read past the end and nothing passes as a frame.
    const QByteArray frames[] = {variableFrame(0x73, kInterrogation), fixedFrame(0x7B)};
    for (const QByteArray& frame : frames) {
        QVERIFY(FrameSummary::parse(frame, Layout()).kind != FrameSummary::Kind::Malformed);
        for (int size = 0; size < frame.size(); ++size)
            QCOMPARE(FrameSummary::parse(frame.left(size), Layout()).kind, FrameSummary::Kind::Malformed);
    }
    QCOMPARE(FrameSummary::hexText(fixedFrame(0x7B)), QStringLiteral("10 7B 01 00 7C 16"));
}

QTEST_GUILESS_MAIN(TestFrameSummary)
#include "tst_framesummary.moc"
