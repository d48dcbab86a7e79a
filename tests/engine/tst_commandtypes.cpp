// Every control-direction type the engine sends, against the simulated station: the frame
// as it left (type, cause, qualifier, value octets, time tag), how the command ended, what
// the station made of it, and requests refused before anything goes out. Where tshark is
// installed, it must read every one of those frames without a malformed packet.
#include <QtTest>

#include <iec60870_common.h>

#include <cmath>

#include "commandencoder.h"
#include "controlhandler.h"
#include "enginefixture.h"
#include "masterengine.h"
#include "pcapwriter.h"
#include "tsharkfields.h"

using namespace iec101;
namespace ioa = slavesim::ioa;

using Result = CommandOutcome::Result;
using Execution = CommandRequest::Execution;

namespace {

constexpr int kLong = 20000;

enum class Setup { Normal, RefusesTarget, NoTermination };

// An ASDU the master sent, cut out of its frame (2-octet link address, cause and common
// address, 3-octet object address: the simulated station's layout).
struct SentAsdu
{
    int typeId = 0;
    int cause = 0;
    int objectAddress = 0;
    QByteArray element; // after the object address, time tag included
};

QVector<SentAsdu> sentAsdus(const QVector<LineFrame>& frames, int typeId)
{
    QVector<SentAsdu> found;
    for (const LineFrame& frame : frames) {
        const QByteArray& o = frame.octets;
        if (!frame.sent || o.size() < 7 + 9 + 2 || quint8(o[0]) != 0x68)
            continue;
        const QByteArray asdu = o.mid(7, o.size() - 9);
        if (quint8(asdu[0]) != typeId)
            continue;
        SentAsdu sent;
        sent.typeId = typeId;
        sent.cause = quint8(asdu[2]);
        sent.objectAddress = quint8(asdu[6]) | quint8(asdu[7]) << 8 | quint8(asdu[8]) << 16;
        sent.element = asdu.mid(9);
        found.append(sent);
    }
    return found;
}

// "6 00 40 00": the cause and the element's octets without a time tag.
QStringList describe(const QVector<SentAsdu>& asdus, bool timeTagged)
{
    QStringList texts;
    for (const SentAsdu& asdu : asdus) {
        const QByteArray element = timeTagged ? asdu.element.left(asdu.element.size() - 7) : asdu.element;
        texts
            << QStringLiteral("%1 %2").arg(asdu.cause).arg(QString::fromLatin1(element.toHex(' ').toUpper()));
    }
    return texts;
}

// A CP56Time2a's calendar fields, as a date and time without a zone, and its SU bit.
QDateTime tagFields(const QByteArray& tag, bool* summerTime)
{
    const auto octet = [&tag](int i) {
        return int(quint8(tag[i]));
    };
    const int ms = octet(0) | octet(1) << 8;
    *summerTime = octet(3) & 0x80;
    return QDateTime(QDate(2000 + (octet(6) & 0x7f), octet(5) & 0x0f, octet(4) & 0x1f),
                     QTime(octet(3) & 0x1f, octet(2) & 0x3f, ms / 1000, ms % 1000), Qt::UTC);
}

// An instant's calendar fields in UTC or local time, without a zone, to compare with a tag.
QDateTime fieldsOf(const QDateTime& instant, bool utc)
{
    const QDateTime at = utc ? instant.toUTC() : instant.toLocalTime();
    return QDateTime(at.date(), at.time(), Qt::UTC);
}

bool isNumberType(int typeId)
{
    const int type = CommandEncoder::untimedType(typeId);
    return (type >= C_SE_NA_1 && type <= C_SE_NC_1) || (typeId >= P_ME_NA_1 && typeId <= P_ME_NC_1);
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestCommandTypes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyTypeOnTheLine_data();
    void everyTypeOnTheLine();
    void valuesOutOfRangeAreNeverSent_data();
    void valuesOutOfRangeAreNeverSent();
    void deactivationCancelsTheSelect_data();
    void deactivationCancelsTheSelect();
    void timeTaggedCommandsCarryTheTimeOfSending_data();
    void timeTaggedCommandsCarryTheTimeOfSending();
    void delayAcquisitionFeedsTheClockSync();
    void tsharkDecodesEveryCommandFrame();
};

void TestCommandTypes::initTestCase()
{
    // Local time that is not UTC, so that the two kinds of time tag differ.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestCommandTypes::everyTypeOnTheLine_data()
{
    QTest::addColumn<Setup>("station");
    QTest::addColumn<CommandRequest>("request");
    QTest::addColumn<QStringList>("frames"); // cause and element octets of each frame sent
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QVariant>("received"); // the value as the station decoded it
    QTest::addColumn<int>("qualifier");     // as the station decoded it
    QTest::addColumn<int>("reportAddress"); // where the station reports the result back; 0: none
    QTest::addColumn<QVariant>("reportValue");

    const int single = ioa::kFirstSingleCommand;
    const int object = ioa::kDoubleCommandBase + 1;
    const int setpoint = ioa::kFirstSetpoint;
    const int step = ioa::kFirstStepCommand;
    const int bits = ioa::kFirstBitstringCommand;
    const int back = ioa::kFeedbackOffset;
    const auto sbe = Execution::SelectBeforeExecute;
    const Setup normal = Setup::Normal;

    QTest::newRow("single command with long pulse, direct")
        << normal << CommandRequest::of(C_SC_NA_1, single, true, Execution::Direct, 2) << QStringList{"6 09"}
        << "terminated" << QVariant(1) << 2 << 0 << QVariant();
    QTest::newRow("double command persistent, selected then executed, moves the object")
        << normal << CommandRequest::of(C_DC_NA_1, object, 2, sbe, 3) << QStringList{"6 8E", "6 0E"}
        << "terminated" << QVariant(2) << 3 << ioa::kObjectStateBase + 1 << QVariant(2);
    QTest::newRow("step higher, selected then executed, moves the position up")
        << normal << CommandRequest::of(C_RC_NA_1, step, 2, sbe) << QStringList{"6 82", "6 02"}
        << "terminated" << QVariant(2) << 0 << step + back << QVariant(1);
    QTest::newRow("step lower with short pulse moves the position down")
        << normal << CommandRequest::of(C_RC_NA_1, step + 1, 1, Execution::Direct, 1) << QStringList{"6 05"}
        << "terminated" << QVariant(1) << 1 << step + 1 + back << QVariant(-1);
    QTest::newRow("normalized setpoint one half is 0x4000 and reported back")
        << normal << CommandRequest::of(C_SE_NA_1, setpoint, 0.5) << QStringList{"6 00 40 00"} << "terminated"
        << QVariant(0.5) << 0 << setpoint + back << QVariant(0.5);
    QTest::newRow("normalized setpoint at the bottom of its range, selected with ql")
        << normal << CommandRequest::of(C_SE_NA_1, setpoint, -1.0, sbe, 1)
        << QStringList{"6 00 80 81", "6 00 80 01"} << "terminated" << QVariant(-1.0) << 1 << setpoint + back
        << QVariant(-1.0);
    QTest::newRow("scaled setpoint selected then executed")
        << normal << CommandRequest::of(C_SE_NB_1, setpoint + 1, -2, sbe, 5)
        << QStringList{"6 FE FF 85", "6 FE FF 05"} << "terminated" << QVariant(-2.0) << 5
        << setpoint + 1 + back << QVariant(-2);
    QTest::newRow("short float setpoint")
        << normal << CommandRequest::of(C_SE_NC_1, setpoint + 2, 230.5) << QStringList{"6 00 80 66 43 00"}
        << "terminated" << QVariant(230.5) << 0 << setpoint + 2 + back << QVariant(230.5);
    QTest::newRow("bitstring command kept and reported back")
        << normal << CommandRequest::of(C_BO_NA_1, bits, 0xA5A5F00Fu) << QStringList{"6 0F F0 A5 A5"}
        << "terminated" << QVariant(qint64(0xA5A5F00F)) << 0 << bits + back << QVariant(0xA5A5F00Fu);
    QTest::newRow("time-tagged single command")
        << normal << CommandRequest::of(C_SC_TA_1, single + 1, false) << QStringList{"6 00"} << "terminated"
        << QVariant(0) << 0 << 0 << QVariant();
    QTest::newRow("time-tagged double command selected then executed")
        << normal << CommandRequest::of(C_DC_TA_1, object + 1, 1, sbe) << QStringList{"6 81", "6 01"}
        << "terminated" << QVariant(1) << 0 << ioa::kObjectStateBase + 2 << QVariant(1);
    QTest::newRow("time-tagged step command")
        << normal << CommandRequest::of(C_RC_TA_1, step, 1) << QStringList{"6 01"} << "terminated"
        << QVariant(1) << 0 << step + back << QVariant(-1);
    QTest::newRow("time-tagged normalized setpoint")
        << normal << CommandRequest::of(C_SE_TA_1, setpoint + 3, -0.25) << QStringList{"6 00 E0 00"}
        << "terminated" << QVariant(-0.25) << 0 << setpoint + 3 + back << QVariant(-0.25);
    QTest::newRow("time-tagged scaled setpoint selected then executed")
        << normal << CommandRequest::of(C_SE_TB_1, setpoint + 3, 1234, sbe)
        << QStringList{"6 D2 04 80", "6 D2 04 00"} << "terminated" << QVariant(1234.0) << 0
        << setpoint + 3 + back << QVariant(1234);
    QTest::newRow("time-tagged short float setpoint")
        << normal << CommandRequest::of(C_SE_TC_1, setpoint, 1.5, Execution::Direct, 7)
        << QStringList{"6 00 00 C0 3F 07"} << "terminated" << QVariant(1.5) << 7 << setpoint + back
        << QVariant(1.5);
    QTest::newRow("time-tagged bitstring command")
        << normal << CommandRequest::of(C_BO_TA_1, bits + 1, 1u) << QStringList{"6 01 00 00 00"}
        << "terminated" << QVariant(1) << 0 << bits + 1 + back << QVariant(1u);
    QTest::newRow("test command carries the fixed pattern")
        << normal << CommandRequest::of(C_TS_NA_1, 0, QVariant()) << QStringList{"6 AA 55"} << "confirmed"
        << QVariant() << 0 << 0 << QVariant();
    QTest::newRow("reset of pending time-tagged information")
        << normal << CommandRequest::of(C_RP_NA_1, 0, QVariant(), Execution::Direct, 2) << QStringList{"6 02"}
        << "confirmed" << QVariant() << 2 << 0 << QVariant();
    QTest::newRow("threshold of a measured value, scaled")
        << normal << CommandRequest::of(P_ME_NB_1, ioa::kFirstMeasured, 100, Execution::Direct, 1)
        << QStringList{"6 64 00 01"} << "confirmed" << QVariant(100.0) << 1 << 0 << QVariant();
    QTest::newRow("smoothing factor, normalized")
        << normal << CommandRequest::of(P_ME_NA_1, ioa::kFirstMeasured + 1, -0.5, Execution::Direct, 2)
        << QStringList{"6 00 C0 02"} << "confirmed" << QVariant(-0.5) << 2 << 0 << QVariant();
    QTest::newRow("high limit of a setpoint's report, short float")
        << normal << CommandRequest::of(P_ME_NC_1, setpoint + back, 0.25, Execution::Direct, 4)
        << QStringList{"6 00 00 80 3E 04"} << "confirmed" << QVariant(0.25) << 4 << 0 << QVariant();
    QTest::newRow("parameter activation of the object")
        << normal << CommandRequest::of(P_AC_NA_1, ioa::kFirstMeasured, QVariant(), Execution::Direct, 2)
        << QStringList{"6 02"} << "confirmed" << QVariant() << 2 << 0 << QVariant();
    QTest::newRow("unknown address refused with its cause, no execute")
        << normal << CommandRequest::of(C_SE_NB_1, setpoint + 99, 1, sbe) << QStringList{"6 01 00 80"}
        << "refused: unknown object address (47)" << QVariant(1.0) << 0 << 0 << QVariant();
    QTest::newRow("refused select sends no execute")
        << Setup::RefusesTarget << CommandRequest::of(C_RC_NA_1, step, 2, sbe) << QStringList{"6 82"}
        << "refused: negative activation confirmation of the select (7)" << QVariant(2) << 0 << 0
        << QVariant();
    QTest::newRow("refused parameter")
        << Setup::RefusesTarget
        << CommandRequest::of(P_ME_NC_1, ioa::kFirstMeasured, 2.5, Execution::Direct, 1)
        << QStringList{"6 00 00 20 40 01"} << "refused: negative activation confirmation (7)" << QVariant(2.5)
        << 1 << 0 << QVariant();
    QTest::newRow("select-only leaves the setpoint selected, confirmed")
        << normal << CommandRequest::of(C_SE_NB_1, setpoint + 1, 7, Execution::SelectOnly)
        << QStringList{"6 07 00 80"} << "confirmed" << QVariant(7.0) << 0 << 0 << QVariant();
    QTest::newRow("station without terminations: confirmed, not terminated")
        << Setup::NoTermination << CommandRequest::of(C_SE_NC_1, setpoint, 1.0)
        << QStringList{"6 00 00 80 3F 00"} << "confirmed, not terminated" << QVariant(1.0) << 0
        << setpoint + back << QVariant(1.0);
}

void TestCommandTypes::everyTypeOnTheLine()
{
    QFETCH(Setup, station);
    QFETCH(CommandRequest, request);
    QFETCH(QStringList, frames);
    QFETCH(QString, outcome);
    QFETCH(QVariant, received);
    QFETCH(int, qualifier);
    QFETCH(int, reportAddress);
    QFETCH(QVariant, reportValue);

    EngineFixture f;
    f.settings.terminationWaitMs = 1000;
    QVERIFY(f.bringUpTyped());
    f.slave().clearReceived();
    if (station == Setup::RefusesTarget)
        f.slave().setRefusedAddresses({request.objectAddress});
    if (station == Setup::NoTermination)
        f.slave().setTerminations(false);

    const int framesBefore = f.lineFrames.size();
    const int unsolicitedBefore = f.unsolicited.size();
    const auto done = f.waitForOutcome(f.send(request), kLong);
    QVERIFY(done);
    QCOMPARE(done->outcome.text(), outcome);

    const bool timeTagged = request.isTimeTagged();
    QTRY_COMPARE_WITH_TIMEOUT(
        describe(sentAsdus(f.lineFrames.mid(framesBefore), request.typeId), timeTagged).size(), frames.size(),
        kLong);
    const QVector<SentAsdu> sent = sentAsdus(f.lineFrames.mid(framesBefore), request.typeId);
    QCOMPARE(describe(sent, timeTagged), frames);
    for (const SentAsdu& asdu : sent)
        QCOMPARE(asdu.objectAddress, request.objectAddress);

    // lib60870's station answers the test command itself; its handler never sees one.
    if (request.typeId == C_TS_NA_1)
        return;
    // The station's reading of the last frame.
    const QVector<slavesim::ReceivedAsdu> got = f.slave().received(request.typeId);
    QVERIFY(!got.isEmpty());
    const slavesim::ReceivedAsdu& last = got.last();
    QCOMPARE(last.qualifier, qualifier);
    if (received.isValid()) {
        if (isNumberType(request.typeId))
            QVERIFY2(std::fabs(last.number - received.toDouble()) < 1.0 / 16384,
                     qPrintable(QString::number(last.number)));
        else
            QCOMPARE(last.value, received.toLongLong());
    }
    QCOMPARE(last.timeTagMs >= 0, timeTagged);

    if (reportAddress != 0) {
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(f.unsolicited.cbegin() + unsolicitedBefore, f.unsolicited.cend(),
                                             [&](const InfoObject& o) { return o.address == reportAddress; }),
                                 kLong);
        const auto report = std::find_if(f.unsolicited.cbegin() + unsolicitedBefore, f.unsolicited.cend(),
                                         [&](const InfoObject& o) { return o.address == reportAddress; });
        QVERIFY2(std::fabs(report->value.toDouble() - reportValue.toDouble()) < 1.0 / 16384,
                 qPrintable(report->value.toString()));
        QVERIFY(report->spontaneous);
    }
}

void TestCommandTypes::valuesOutOfRangeAreNeverSent_data()
{
    QTest::addColumn<CommandRequest>("request");
    QTest::addColumn<QString>("detail");

    const int setpoint = ioa::kFirstSetpoint;
    QTest::newRow("normalized 1 is one step too high")
        << CommandRequest::of(C_SE_NA_1, setpoint, 1.0) << "value 1 out of range -1..0.9999694824";
    QTest::newRow("normalized below -1")
        << CommandRequest::of(C_SE_TA_1, setpoint, -1.01) << "value -1.01 out of range -1..0.9999694824";
    QTest::newRow("scaled beyond 16 bits")
        << CommandRequest::of(C_SE_NB_1, setpoint, 32768) << "value 32768 out of range -32768..32767";
    QTest::newRow("scaled takes whole numbers")
        << CommandRequest::of(P_ME_NB_1, ioa::kFirstMeasured, 1.5, Execution::Direct, 1)
        << "value 1.5 is not a whole number";
    QTest::newRow("short float must be finite")
        << CommandRequest::of(C_SE_NC_1, setpoint, std::numeric_limits<double>::infinity())
        << "value inf is not a finite short float";
    QTest::newRow("short float beyond its range")
        << CommandRequest::of(C_SE_TC_1, setpoint, 1e39) << "value 1e+39 is not a finite short float";
    QTest::newRow("a setpoint needs a value")
        << CommandRequest::of(C_SE_NC_1, setpoint, QVariant()) << "value (none) is not a finite short float";
    QTest::newRow("bitstring beyond 32 bits")
        << CommandRequest::of(C_BO_NA_1, ioa::kFirstBitstringCommand, qint64(1) << 32)
        << "value 4294967296 out of range 0..0xFFFFFFFF";
    QTest::newRow("step direction 3 is not permitted")
        << CommandRequest::of(C_RC_NA_1, ioa::kFirstStepCommand, 3)
        << "value 3 out of range 1 (lower)..2 (higher)";
    QTest::newRow("ql has 7 bits") << CommandRequest::of(C_SE_NB_1, setpoint, 1, Execution::Direct, 128)
                                   << "qualifier 128 out of range 0..127";
    QTest::newRow("qu has 5 bits") << CommandRequest::of(C_RC_TA_1, ioa::kFirstStepCommand, 1,
                                                         Execution::Direct, 32)
                                   << "qualifier 32 out of range 0..31";
    QTest::newRow("kpa 0 is not used")
        << CommandRequest::of(P_ME_NC_1, ioa::kFirstMeasured, 1.0) << "qualifier 0 out of range 1..63";
    QTest::newRow("qrp 0 is not used")
        << CommandRequest::of(C_RP_NA_1, 0, QVariant()) << "qualifier 0 out of range 1..255";
    QTest::newRow("qpa 0 is not used") << CommandRequest::of(P_AC_NA_1, ioa::kFirstMeasured, QVariant())
                                       << "qualifier 0 out of range 1..255";
    QTest::newRow("a bitstring cannot be selected")
        << CommandRequest::of(C_BO_NA_1, ioa::kFirstBitstringCommand, 1, Execution::SelectBeforeExecute)
        << "a bitstring command cannot be selected";
    QTest::newRow("a test command cannot be deactivated")
        << CommandRequest::of(C_TS_NA_1, 0, QVariant(), Execution::Deactivate)
        << "select and deactivation apply to commands only";
    QTest::newRow("a parameter cannot be selected")
        << CommandRequest::of(P_ME_NB_1, ioa::kFirstMeasured, 1, Execution::SelectOnly, 1)
        << "select and deactivation apply to commands only";
}

void TestCommandTypes::valuesOutOfRangeAreNeverSent()
{
    QFETCH(CommandRequest, request);
    QFETCH(QString, detail);

    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    f.slave().clearReceived();
    const int framesBefore = f.lineFrames.size();
    const auto done = f.waitForOutcome(f.send(request), kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), int(Result::NotSent));
    QCOMPARE(done->outcome.detail, detail);
    // The next command goes out, and is all the line and the station saw.
    const auto read = f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstMeasured)), kLong);
    QVERIFY(read);
    QCOMPARE(f.slave().received().size(), 1);
    QVERIFY(sentAsdus(f.lineFrames.mid(framesBefore), request.typeId).isEmpty());
}

void TestCommandTypes::deactivationCancelsTheSelect_data()
{
    QTest::addColumn<CommandRequest>("request");
    QTest::addColumn<QString>("selectFrame");
    QTest::addColumn<QString>("deactivationFrame");

    QTest::newRow("scaled setpoint") << CommandRequest::of(C_SE_NB_1, ioa::kFirstSetpoint, 300)
                                     << "6 2C 01 80"
                                     << "8 2C 01 80";
    QTest::newRow("step command") << CommandRequest::of(C_RC_NA_1, ioa::kFirstStepCommand, 2) << "6 82"
                                  << "8 82";
    QTest::newRow("time-tagged single command")
        << CommandRequest::of(C_SC_TA_1, ioa::kFirstSingleCommand, true) << "6 81"
        << "8 81";
}

// With a station that takes an execute only after a select, a deactivated select leaves
// nothing to execute.
void TestCommandTypes::deactivationCancelsTheSelect()
{
    QFETCH(CommandRequest, request);
    QFETCH(QString, selectFrame);
    QFETCH(QString, deactivationFrame);

    slavesim::Config config;
    config.requireSelect = true;
    EngineFixture f(config);
    QVERIFY(f.bringUpTyped());
    const int framesBefore = f.lineFrames.size();

    CommandRequest select = request;
    select.execution = Execution::SelectOnly;
    const auto selected = f.waitForOutcome(f.send(select), kLong);
    QVERIFY(selected);
    QCOMPARE(selected->outcome.text(), QStringLiteral("confirmed"));

    CommandRequest cancel = request;
    cancel.execution = Execution::Deactivate;
    const auto cancelled = f.waitForOutcome(f.send(cancel), kLong);
    QVERIFY(cancelled);
    QCOMPARE(cancelled->outcome.text(), QStringLiteral("confirmed"));
    QCOMPARE(cancelled->outcome.cause, int(CS101_COT_DEACTIVATION_CON));

    const auto executed = f.waitForOutcome(f.send(request), kLong);
    QVERIFY(executed);
    QCOMPARE(executed->outcome.text(), QStringLiteral("refused: negative activation confirmation (7)"));

    QTRY_VERIFY_WITH_TIMEOUT(sentAsdus(f.lineFrames.mid(framesBefore), request.typeId).size() >= 3, kLong);
    const QStringList frames =
        describe(sentAsdus(f.lineFrames.mid(framesBefore), request.typeId), request.isTimeTagged());
    QCOMPARE(frames.mid(0, 2), (QStringList{selectFrame, deactivationFrame}));
}

void TestCommandTypes::timeTaggedCommandsCarryTheTimeOfSending_data()
{
    QTest::addColumn<CommandRequest>("request");
    QTest::addColumn<bool>("utc");

    const int setpoint = ioa::kFirstSetpoint;
    QTest::newRow("select and execute each stamped, UTC")
        << CommandRequest::of(C_SE_TB_1, setpoint, 5, Execution::SelectBeforeExecute) << true;
    QTest::newRow("select and execute each stamped, local time")
        << CommandRequest::of(C_SE_TB_1, setpoint, 5, Execution::SelectBeforeExecute) << false;
    QTest::newRow("double command, local time")
        << CommandRequest::of(C_DC_TA_1, ioa::kDoubleCommandBase + 3, 2) << false;
    QTest::newRow("bitstring, UTC") << CommandRequest::of(C_BO_TA_1, ioa::kFirstBitstringCommand, 7u) << true;
    CommandRequest given = CommandRequest::of(C_SE_TC_1, setpoint, 2.0);
    given.timeTag = QDateTime(QDate(2026, 7, 1), QTime(12, 30, 15, 250), Qt::UTC);
    QTest::newRow("a given time is sent as given, summer time in local time") << given << false;
}

void TestCommandTypes::timeTaggedCommandsCarryTheTimeOfSending()
{
    QFETCH(CommandRequest, request);
    QFETCH(bool, utc);

    EngineFixture f;
    f.settings.timeTagsInUtc = utc;
    QVERIFY(f.bringUpTyped());
    f.slave().clearReceived();
    const int framesBefore = f.lineFrames.size();
    const QDateTime before = QDateTime::currentDateTime();
    const auto done = f.waitForOutcome(f.send(request), kLong);
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY(done);
    QCOMPARE(done->outcome.text(), QStringLiteral("terminated"));

    const int expected = request.execution == Execution::SelectBeforeExecute ? 2 : 1;
    QTRY_COMPARE_WITH_TIMEOUT(sentAsdus(f.lineFrames.mid(framesBefore), request.typeId).size(), expected,
                              kLong);
    const QVector<SentAsdu> sent = sentAsdus(f.lineFrames.mid(framesBefore), request.typeId);
    const QVector<slavesim::ReceivedAsdu> got = f.slave().received(request.typeId);
    QCOMPARE(got.size(), expected);
    QDateTime previous;
    for (int i = 0; i < sent.size(); ++i) {
        bool summerTime = false;
        const QDateTime tag = tagFields(sent[i].element.right(7), &summerTime);
        if (request.timeTag.isValid()) {
            QCOMPARE(tag, fieldsOf(request.timeTag, utc));
            QCOMPARE(summerTime, !utc && request.timeTag.toLocalTime().isDaylightTime());
        } else {
            QVERIFY2(tag >= fieldsOf(before, utc) && tag <= fieldsOf(after, utc),
                     qPrintable(tag.toString(Qt::ISODateWithMs)));
            QCOMPARE(summerTime, !utc && before.isDaylightTime());
            // The execute is stamped when it goes, not with the select's time.
            if (previous.isValid())
                QVERIFY(tag >= previous);
            previous = tag;
        }
        // The station read the same fields.
        QCOMPARE(got[i].timeTagMs, tag.toMSecsSinceEpoch());
        QCOMPARE(got[i].summerTime, summerTime);
    }
}

// The measured delay is the outcome's, and a clock sync that asks for it carries a time
// that much ahead; one that does not ask carries the time of sending.
void TestCommandTypes::delayAcquisitionFeedsTheClockSync()
{
    EngineFixture f;
    f.settings.timeTagsInUtc = true;
    QVERIFY(f.bringUpTyped());
    f.slave().clearReceived();
    const int framesBefore = f.lineFrames.size();

    const QDateTime sentAfter = QDateTime::currentDateTimeUtc();
    const auto delay = f.waitForOutcome(f.send(CommandRequest::of(C_CD_NA_1, 0, QVariant())), kLong);
    QVERIFY(delay);
    QCOMPARE(int(delay->outcome.result), int(Result::Confirmed));
    const qint64 measured = delay->outcome.measuredDelayMs;
    QVERIFY(measured >= 0);
    QVERIFY(measured <= delay->outcome.roundTripMs);
    QCOMPARE(delay->outcome.text(), QStringLiteral("confirmed, line delay %1 ms").arg(measured));
    // The activation carried its time of sending as ms within the minute.
    const auto activation = f.slave().received(C_CD_NA_1);
    QCOMPARE(activation.size(), 1);
    const qint64 stamp = activation.first().value;
    const qint64 earliest = (sentAfter.time().second() * 1000 + sentAfter.time().msec());
    QVERIFY2((stamp - earliest + 60000) % 60000 < 10000,
             qPrintable(QStringLiteral("%1 %2").arg(stamp).arg(earliest)));
    QTRY_VERIFY_WITH_TIMEOUT(!sentAsdus(f.lineFrames.mid(framesBefore), C_CD_NA_1).isEmpty(), kLong);
    QCOMPARE(sentAsdus(f.lineFrames.mid(framesBefore), C_CD_NA_1).first().objectAddress, 0);

    for (const bool addDelay : {false, true}) {
        f.slave().clearReceived();
        CommandRequest sync = CommandRequest::clockSync();
        sync.addMeasuredDelay = addDelay;
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const auto synced = f.waitForOutcome(f.send(sync), kLong);
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        QVERIFY(synced);
        QCOMPARE(int(synced->outcome.result), int(Result::Confirmed));
        const auto got = f.slave().received(C_CS_NA_1);
        QCOMPARE(got.size(), 1);
        const qint64 offset = addDelay ? measured : 0;
        QVERIFY2(got.first().value >= before + offset && got.first().value <= after + offset,
                 qPrintable(QStringLiteral("%1 in %2..%3")
                                .arg(got.first().value)
                                .arg(before + offset)
                                .arg(after + offset)));
    }
}

void TestCommandTypes::tsharkDecodesEveryCommandFrame()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed");

    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    const int setpoint = ioa::kFirstSetpoint;
    const int step = ioa::kFirstStepCommand;
    const int bits = ioa::kFirstBitstringCommand;
    const auto sbe = Execution::SelectBeforeExecute;
    CommandRequest selectOnly = CommandRequest::of(C_SE_NB_1, setpoint, 3, Execution::SelectOnly);
    CommandRequest cancel = selectOnly;
    cancel.execution = Execution::Deactivate;
    const QVector<CommandRequest> requests{
        CommandRequest::of(C_RC_NA_1, step, 2, sbe),
        CommandRequest::of(C_SE_NA_1, setpoint, 0.5, sbe, 1),
        CommandRequest::of(C_SE_NB_1, setpoint, -7),
        CommandRequest::of(C_SE_NC_1, setpoint, 12.5, sbe),
        CommandRequest::of(C_BO_NA_1, bits, 0x12345678u),
        CommandRequest::of(C_SC_TA_1, ioa::kFirstSingleCommand, true, sbe),
        CommandRequest::of(C_DC_TA_1, ioa::kDoubleCommandBase + 1, 2),
        CommandRequest::of(C_RC_TA_1, step, 1),
        CommandRequest::of(C_SE_TA_1, setpoint, 0.25),
        CommandRequest::of(C_SE_TB_1, setpoint, 9, sbe),
        CommandRequest::of(C_SE_TC_1, setpoint, 3.5),
        CommandRequest::of(C_BO_TA_1, bits, 0xFFu),
        CommandRequest::of(C_TS_NA_1, 0, QVariant()),
        CommandRequest::of(C_RP_NA_1, 0, QVariant(), Execution::Direct, 1),
        CommandRequest::of(C_CD_NA_1, 0, QVariant()),
        CommandRequest::of(P_ME_NA_1, ioa::kFirstMeasured, 0.5, Execution::Direct, 1),
        CommandRequest::of(P_ME_NB_1, ioa::kFirstMeasured, 10, Execution::Direct, 3),
        CommandRequest::of(P_ME_NC_1, ioa::kFirstMeasured, 0.75, Execution::Direct, 4),
        CommandRequest::of(P_AC_NA_1, ioa::kFirstMeasured, QVariant(), Execution::Direct, 2),
        selectOnly,
        cancel,
    };
    const int framesBefore = f.lineFrames.size();
    QSet<int> types;
    for (const CommandRequest& request : requests) {
        const auto done = f.waitForOutcome(f.send(request), kLong);
        QVERIFY(done);
        QVERIFY2(done->outcome.succeeded(), qPrintable(request.text() + ": " + done->outcome.text()));
        types.insert(request.typeId);
    }
    // The last batch of frames comes after the last outcome.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(types.cbegin(), types.cend(),
                    [&](int type) { return !sentAsdus(f.lineFrames.mid(framesBefore), type).isEmpty(); }),
        kLong);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("commands.pcap"));
    PcapWriter writer;
    QVERIFY(writer.open(path));
    QVERIFY(writer.write(f.lineFrames.mid(framesBefore)));
    writer.close();

    QString error;
    const QList<QStringList> rows = tsharkFields(
        path, {"rtacser.eventtype", "iec60870_asdu.typeid", "_ws.malformed", "_ws.expert"}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QSet<int> decodedTypes;
    for (const QStringList& fields : rows) {
        const QByteArray line = fields.join(QLatin1Char('|')).toLatin1();
        QVERIFY2(fields[2].isEmpty(), line.constData());
        QVERIFY2(!fields[3].contains(QLatin1String("alformed")), line.constData());
        if (fields[0] == QLatin1String("0x01") && !fields[1].isEmpty())
            decodedTypes.insert(fields[1].split(QLatin1Char(',')).first().toInt());
    }
    QCOMPARE(decodedTypes.intersect(types), types);
}

QTEST_GUILESS_MAIN(TestCommandTypes)

#include "tst_commandtypes.moc"
