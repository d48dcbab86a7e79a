// The findings: worked out from frames built by hand for each kind (and for the cases that
// must not count), from command outcomes, and from a scripted run of the engine against the
// simulated station with a known set of faults, which must be found exactly.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "findingstracker.h"
#include "ft12.h"
#include "slavesim.h"

using namespace iec101;

namespace {

constexpr int kPrm = 0x40;
constexpr int kFcb = 0x20;
constexpr int kFcv = 0x10;
constexpr int kDfc = 0x10;
constexpr int kAcd = 0x20;

// One ASDU in the default layout: 2-octet cause, 2-octet common address, 3-octet object
// addresses; one object.
QByteArray asdu(int typeId, int cause, int ca, int ioa, const QByteArray& element)
{
    QByteArray a;
    a.append(char(typeId)).append(char(1)).append(char(cause)).append(char(0));
    a.append(char(ca & 0xFF)).append(char(ca >> 8));
    a.append(char(ioa & 0xFF)).append(char((ioa >> 8) & 0xFF)).append(char(ioa >> 16));
    return a + element;
}

QByteArray floatElement(float value, quint8 quality = 0)
{
    QByteArray e(reinterpret_cast<const char*>(&value), 4);
    return e.append(char(quality));
}

// A conversation, one frame at a time, 1 ms apart.
class Line
{
public:
    Line& master(int control, const QByteArray& userData = QByteArray())
    {
        return add(true, userData.isNull() ? Ft12::fixedFrame(quint8(control), 1, 2)
                                           : Ft12::variableFrame(quint8(control), 1, 2, userData));
    }
    Line& station(int control, const QByteArray& userData = QByteArray())
    {
        return add(false, userData.isNull() ? Ft12::fixedFrame(quint8(control), 1, 2)
                                            : Ft12::variableFrame(quint8(control), 1, 2, userData));
    }
    Line& raw(bool sent, const QByteArray& octets) { return add(sent, octets); }
    // Link status, reset and the general interrogation's activation and confirmation.
    Line& start()
    {
        master(kPrm | 9).station(11).master(kPrm | 0).station(0);
        return master(kPrm | kFcb | kFcv | 3, asdu(C_IC_NA_1, 6, 1, 0, QByteArray(1, 20))).station(kAcd);
    }
    QVector<LineFrame> frames;

private:
    Line& add(bool sent, const QByteArray& octets)
    {
        LineFrame frame;
        frame.timeUs = 1700000000000000LL + frames.size() * 1000;
        frame.sent = sent;
        frame.octets = octets;
        frames.append(frame);
        return *this;
    }
};

QStringList kinds(const FindingsTracker& tracker)
{
    QStringList names;
    for (const Finding& finding : tracker.findings())
        names << Finding::kindName(finding.kind) + (finding.objectAddress >= 0
                                                        ? QStringLiteral(" %1").arg(finding.objectAddress)
                                                        : QString());
    return names;
}

PointList pointList(const QByteArray& rows)
{
    QVector<PointList::Problem> problems;
    const PointList list = PointList::fromCsv("ioa,type,name,expected\n" + rows, &problems);
    if (!problems.isEmpty())
        qFatal("bad list in the test: %s", qPrintable(problems.first().reason));
    return list;
}

} // namespace

class TestFindings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fromFrames_data();
    void fromFrames();
    void fromOutcomes_data();
    void fromOutcomes();
    void largeListCheckedAPartAtATime();
    void scriptedStation();
};

void TestFindings::fromFrames_data()
{
    QTest::addColumn<QVector<LineFrame>>("frames");
    QTest::addColumn<QByteArray>("list"); // ioa,type,name,expected rows; empty: none
    QTest::addColumn<QStringList>("expected");

    const QByteArray gi = asdu(C_IC_NA_1, 10, 1, 0, QByteArray(1, 20));
    const QByteArray point1001 = asdu(M_SP_NA_1, 20, 1, 1001, QByteArray(1, 1));
    QTest::newRow("the start of a session is no finding")
        << Line()
               .start()
               .master(kPrm | kFcv | 10)
               .station(8, asdu(C_IC_NA_1, 7, 1, 0, QByteArray(1, 20)))
               .frames
        << QByteArray() << QStringList();
    QTest::newRow("a link reset after data had flowed")
        << Line().start().master(kPrm | 0).station(0).frames << QByteArray() << QStringList{"link-reset"};
    QTest::newRow("a request repeated with the same FCB")
        << Line().start().master(kPrm | kFcv | 11).master(kPrm | kFcv | 11).frames << QByteArray()
        << QStringList{"repeat"};
    QTest::newRow("toggled FCBs are no repeat") << Line()
                                                       .start()
                                                       .master(kPrm | kFcv | 11)
                                                       .station(9)
                                                       .master(kPrm | kFcb | kFcv | 11)
                                                       .station(9)
                                                       .frames
                                                << QByteArray() << QStringList();
    QTest::newRow("busy: data flow control")
        << Line().start().master(kPrm | kFcv | 11).station(kDfc | 9).frames << QByteArray()
        << QStringList{"busy"};
    QTest::newRow("busy: message not accepted")
        << Line().start().master(kPrm | kFcv | 11).station(1).frames << QByteArray() << QStringList{"busy"};
    QTest::newRow("an answer from a common address not set up")
        << Line().start().station(8, asdu(M_SP_NA_1, 3, 9, 1001, QByteArray(1, 0))).frames << QByteArray()
        << QStringList{"ca"};
    QTest::newRow("a negative confirmation")
        << Line().start().station(8, asdu(C_SC_NA_1, 7 | 0x40, 1, 2949121, QByteArray(1, 1))).frames
        << QByteArray() << QStringList{"refused 2949121"};
    QTest::newRow("an unknown object address")
        << Line().start().station(8, asdu(C_SC_NA_1, 47, 1, 2949999, QByteArray(1, 1))).frames << QByteArray()
        << QStringList{"refused 2949999"};
    QTest::newRow("quality flags, counted once per point")
        << Line()
               .start()
               .station(8, asdu(M_ME_NC_1, 3, 1, 4001, floatElement(1.0f, 0x80)))
               .station(8, asdu(M_ME_NC_1, 3, 1, 4001, floatElement(2.0f, 0x40)))
               .frames
        << QByteArray() << QStringList{"quality 4001"};
    QTest::newRow("damaged frames are no findings")
        << Line()
               .start()
               .raw(false, QByteArray::fromHex("68090968080100ff"))
               .raw(false, QByteArray::fromHex("e5e5"))
               .frames
        << QByteArray() << QStringList();
    QTest::newRow("a listed point missing after the general interrogation")
        << Line().start().station(8, point1001).station(8, gi).frames << QByteArray("1001,1,a,\n1002,1,b,\n")
        << QStringList{"missing 1002"};
    QTest::newRow("a group interrogation misses nothing")
        << Line()
               .start()
               .master(kPrm | kFcv | 3, asdu(C_IC_NA_1, 6, 1, 0, QByteArray(1, 21)))
               .station(8, asdu(C_IC_NA_1, 10, 1, 0, QByteArray(1, 21)))
               .frames
        << QByteArray("1001,1,a,\n1002,1,b,\n") << QStringList();
    QTest::newRow("counters are missed by the counter interrogation only")
        << Line()
               .start()
               .station(8, point1001)
               .station(8, gi)
               .master(kPrm | kFcv | 3, asdu(C_CI_NA_1, 6, 1, 0, QByteArray(1, 5)))
               .station(8, asdu(C_CI_NA_1, 10, 1, 0, QByteArray(1, 5)))
               .frames
        << QByteArray("1001,1,a,\n5001,M_IT_NA_1,c,\n") << QStringList{"missing 5001"};
    QTest::newRow("reported, not listed") << Line()
                                                 .start()
                                                 .station(8, point1001)
                                                 .station(8, asdu(M_SP_NA_1, 3, 1, 1003, QByteArray(1, 0)))
                                                 .frames
                                          << QByteArray("1001,1,a,\n") << QStringList{"unexpected 1003"};
    QTest::newRow("another type than listed")
        << Line().start().station(8, asdu(M_ME_NC_1, 3, 1, 4001, floatElement(1.0f))).frames
        << QByteArray("4001,M_ME_NB_1,v,\n") << QStringList{"type 4001"};
    QTest::newRow("the listed type with a time tag is the listed type")
        << Line().start().station(8, asdu(M_SP_TB_1, 3, 1, 1001, QByteArray(1, 1) + QByteArray(7, 0))).frames
        << QByteArray("1001,M_SP_NA_1,a,\n") << QStringList();
    QTest::newRow("a value outside its range")
        << Line().start().station(8, asdu(M_ME_NC_1, 3, 1, 4001, floatElement(250.0f))).frames
        << QByteArray("4001,M_ME_NC_1,v,220..240\n") << QStringList{"range 4001"};
    QTest::newRow("a value inside its range")
        << Line().start().station(8, asdu(M_ME_NC_1, 3, 1, 4001, floatElement(230.0f))).frames
        << QByteArray("4001,M_ME_NC_1,v,220..240\n") << QStringList();
}

void TestFindings::fromFrames()
{
    QFETCH(QVector<LineFrame>, frames);
    QFETCH(QByteArray, list);
    QFETCH(QStringList, expected);
    FindingsTracker tracker;
    tracker.startSession(ProtocolSettings());
    if (!list.isEmpty())
        tracker.setPointList(1, pointList(list));
    QSignalSpy added(&tracker, &FindingsTracker::findingAdded);
    tracker.addFrames(frames);
    QCOMPARE(kinds(tracker), expected);
    QCOMPARE(added.count(), expected.size());
    // Each finding knows the frame it came with.
    for (const Finding& finding : tracker.findings()) {
        const bool known = std::any_of(frames.cbegin(), frames.cend(), [&](const LineFrame& frame) {
            return frame.timeUs == finding.frameTimeUs;
        });
        QVERIFY(known);
        QCOMPARE(finding.linkAddress, 1);
    }
}

void TestFindings::fromOutcomes_data()
{
    QTest::addColumn<CommandOutcome>("outcome");
    QTest::addColumn<QStringList>("expected");

    CommandOutcome outcome;
    outcome.result = CommandOutcome::Result::TimedOut;
    outcome.step = CommandOutcome::Step::Confirmation;
    QTest::newRow("no confirmation in time") << outcome << QStringList{"timeout 2949121"};
    outcome = CommandOutcome();
    outcome.result = CommandOutcome::Result::Confirmed;
    outcome.terminationMissing = true;
    QTest::newRow("confirmed, never terminated") << outcome << QStringList{"no-termination 2949121"};
    outcome = CommandOutcome();
    outcome.result = CommandOutcome::Result::Refused;
    outcome.negative = true;
    QTest::newRow("a refusal is read from the line, not twice") << outcome << QStringList();
    outcome = CommandOutcome();
    outcome.result = CommandOutcome::Result::Terminated;
    QTest::newRow("terminated") << outcome << QStringList();
}

void TestFindings::fromOutcomes()
{
    QFETCH(CommandOutcome, outcome);
    QFETCH(QStringList, expected);
    FindingsTracker tracker;
    tracker.startSession(ProtocolSettings());
    const CommandRequest request = CommandRequest::singleCommand(2949121, true);
    tracker.addCommand(request, outcome);
    QCOMPARE(kinds(tracker), expected);
    QCOMPARE(tracker.commands().size(), 1);
    for (const Finding& finding : tracker.findings()) {
        QCOMPARE(finding.linkAddress, 1);
        QCOMPARE(finding.commonAddress, 1);
        QVERIFY(finding.detail.startsWith(QLatin1String("C_SC_NA_1 2949121 1 select")));
    }
}

void TestFindings::largeListCheckedAPartAtATime()
{
    // 5,000 listed points, one reported: the rest is found missing over several turns of the
    // event loop, or at once when asked to finish (before a report).
    QByteArray rows;
    for (int ioa = 1; ioa <= 5000; ++ioa)
        rows += QByteArray::number(ioa) + ",M_SP_NA_1,p,\n";
    const QVector<LineFrame> frames = Line()
                                          .start()
                                          .station(8, asdu(M_SP_NA_1, 20, 1, 1, QByteArray(1, 1)))
                                          .station(8, asdu(C_IC_NA_1, 10, 1, 0, QByteArray(1, 20)))
                                          .frames;
    for (bool finish : {false, true}) {
        FindingsTracker tracker;
        tracker.setPointList(1, pointList(rows));
        QSignalSpy added(&tracker, &FindingsTracker::findingAdded);
        tracker.addFrames(frames);
        QVERIFY(tracker.findings().size() < 4999);
        if (finish)
            tracker.finishChecks();
        else
            QTRY_COMPARE(tracker.findings().size(), 4999);
        QCOMPARE(tracker.findings().size(), 4999);
        QCOMPARE(added.count(), 4999);
        QCOMPARE(tracker.findings().last().objectAddress, 5000);
    }
}

void TestFindings::scriptedStation()
{
    // The station's whole interrogation listed, but for: 1004 left out, 1500 listed and not
    // there, 4002 listed with another type, 4001 expected below its value; a command to
    // 2949122 refused. Counters are listed and come with the counter interrogation.
    QByteArray rows;
    for (int ioa = slavesim::ioa::kFirstSinglePoint; ioa < slavesim::ioa::kFirstSinglePoint + 10; ++ioa) {
        if (ioa != 1004)
            rows += QByteArray::number(ioa) + ",M_SP_NA_1,point " + QByteArray::number(ioa) + ",\n";
    }
    rows += "1500,M_SP_NA_1,spare,\n65537,M_SP_NA_1,local/remote,\n";
    for (int n = 1; n <= slavesim::ioa::kObjectCount; ++n)
        rows += QByteArray::number(slavesim::ioa::kObjectStateBase + n) + ",M_DP_TB_1,switch,\n";
    rows += "4001,M_ME_NC_1,voltage,0..5\n4002,M_ME_NB_1,current,\n4003,M_ME_TF_1,power,\n"
            "4004,M_ME_NC_1,cos phi,\n4005,M_ME_NC_1,frequency,\n";
    for (int ioa = slavesim::ioa::kFirstCounter; ioa < slavesim::ioa::kFirstCounter + 4; ++ioa)
        rows += QByteArray::number(ioa) + ",M_IT_NA_1,counter,\n";

    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    f.slave().setRefusedAddresses({slavesim::ioa::kFirstSingleCommand + 1});
    const auto done =
        f.waitForOutcome(f.send(CommandRequest::singleCommand(slavesim::ioa::kFirstSingleCommand + 1, true)));
    QVERIFY(done);
    QCOMPARE(done->outcome.result, CommandOutcome::Result::Refused);
    // The frames of the refusal (a negative activation confirmation) reach the fixture with a
    // later batch.
    const auto refusalHeard = [&f] {
        return std::any_of(f.lineFrames.cbegin(), f.lineFrames.cend(), [](const LineFrame& frame) {
            const QByteArray& o = frame.octets;
            return !frame.sent && o.size() > 9 && quint8(o[0]) == 0x68 && quint8(o[7]) == C_SC_NA_1 &&
                   (quint8(o[9]) & 0x40);
        });
    };
    QTRY_VERIFY_WITH_TIMEOUT(refusalHeard(), 10000);

    FindingsTracker tracker;
    tracker.startSession(f.line.settings(), 9600, 11);
    tracker.setPointList(1, pointList(rows));
    tracker.addFrames(f.lineFrames);
    for (const EngineFixture::Finished& finished : f.finished)
        tracker.addCommand(finished.request, finished.outcome);

    QStringList found = kinds(tracker);
    found.sort();
    QStringList expected{"missing 1500", "range 4001", "refused 2949122", "type 4002", "unexpected 1004"};
    QCOMPARE(found, expected);

    // Every listed point checked: all pass but the three with findings.
    QStringList failing;
    for (const FindingsTracker::PointCheck& check : tracker.pointChecks()) {
        if (!check.pass())
            failing << QString::number(check.point.address);
    }
    QCOMPARE(failing, (QStringList{"1500", "4001", "4002"}));
    QCOMPARE(tracker.statistics().negativeConfirmations, 1ULL);
}

QTEST_GUILESS_MAIN(TestFindings)
#include "tst_findings.moc"
