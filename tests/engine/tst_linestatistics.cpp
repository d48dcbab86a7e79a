// The line monitor's statistics: the counts worked out from the engine's own frames
// on a line that the test cuts for a moment, and the rate, utilisation and command
// progress worked out from frames with known times.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "framebuilder.h"
#include "framesummary.h"
#include "linestatistics.h"

using namespace iec101;

namespace {

constexpr int kLong = 20000;
constexpr qint64 kSecondUs = 1000000;

void addAll(LineStatistics& statistics, const QVector<LineFrame>& frames, int from = 0)
{
    for (int i = from; i < frames.size(); ++i)
        statistics.add(frames.at(i), FrameSummary::parse(frames.at(i).octets, FrameSummary::Layout()));
}

LineFrame frameAt(qint64 timeUs, bool sent, const QByteArray& octets)
{
    LineFrame frame;
    frame.timeUs = timeUs;
    frame.sent = sent;
    frame.octets = octets;
    return frame;
}

} // namespace

class TestLineStatistics : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void countsOnACutLine();
    void repeatsCountedPerStation();
    void rateAndUtilisation_data();
    void rateAndUtilisation();
    void interrogationProgress();
};

void TestLineStatistics::countsOnACutLine()
{
    EngineFixture f;
    QVERIFY(f.bringUp());
    QTest::qWait(1000); // idle polling

    LineStatistics clean;
    addAll(clean, f.lineFrames);
    QVERIFY2(clean.sent > 10 && clean.received > 10, qPrintable(clean.text(0)));
    QCOMPARE(clean.repeats, 0ULL);
    QCOMPARE(clean.timeouts, 0ULL);
    QCOMPARE(clean.linkResets, 1ULL);
    QCOMPARE(clean.malformed, 0ULL);
    // Every request answered (the last one's answer may still be on its way).
    QVERIFY(clean.sent - clean.received <= 1);

    // Cut: requests go unanswered and are repeated with the same FCB, then the link is
    // reset once the slave answers again.
    const int beforeCut = f.lineFrames.size();
    f.slave().pause();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Error"), kLong);
    f.slave().drainInput();
    f.slave().resume();
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("state Available"), kLong);
    QTest::qWait(1000);

    LineStatistics cut;
    addAll(cut, f.lineFrames, beforeCut);
    QVERIFY2(cut.timeouts >= 2, qPrintable(cut.text(0)));
    QVERIFY2(cut.repeats >= 1, qPrintable(cut.text(0)));
    QVERIFY2(cut.repeats < cut.timeouts, qPrintable(cut.text(0)));
    QCOMPARE(cut.linkResets, 1ULL);
    QVERIFY(qAbs(qint64(cut.sent - cut.received - cut.timeouts)) <= 1);

    // A negative confirmation is counted as one.
    f.slave().setCommandMode(slavesim::CommandMode::Negative);
    const int beforeCommand = f.lineFrames.size();
    Q_EMIT f.sendCommand(Command::Interrogation, {20});
    QTRY_VERIFY_WITH_TIMEOUT(f.events.contains("ended Interrogation"), kLong);
    QTest::qWait(500);
    LineStatistics negative;
    addAll(negative, f.lineFrames, beforeCommand);
    QCOMPARE(negative.negativeConfirmations, 1ULL);
}

// On a line with several stations each station's frame count bit toggles on its own:
// polls that go round the stations in turn are no repeats, a poll sent again to the same
// station with the same bit is one.
void TestLineStatistics::repeatsCountedPerStation()
{
    LineStatistics statistics;
    const int fcvFcb = 0x30; // FCV and FCB set
    const int request = 0x40 | 11;
    qint64 t = 0;
    for (int station : {1, 2, 3})
        statistics.add(
            frameAt(t += 1000, true, FrameBuilder::fixed(request | fcvFcb, station)),
            FrameSummary::parse(FrameBuilder::fixed(request | fcvFcb, station), FrameSummary::Layout()));
    for (int station : {1, 2, 3})
        statistics.add(
            frameAt(t += 1000, true, FrameBuilder::fixed(request | 0x10, station)),
            FrameSummary::parse(FrameBuilder::fixed(request | 0x10, station), FrameSummary::Layout()));
    QCOMPARE(statistics.repeats, 0ULL);
    statistics.add(frameAt(t += 1000, true, FrameBuilder::fixed(request | 0x10, 2)),
                   FrameSummary::parse(FrameBuilder::fixed(request | 0x10, 2), FrameSummary::Layout()));
    QCOMPARE(statistics.repeats, 1ULL);
}

void TestLineStatistics::rateAndUtilisation_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("bitsPerOctet");
    QTest::addColumn<int>("seconds"); // one 100-octet frame per second for this long
    QTest::addColumn<qint64>("nowUs");
    QTest::addColumn<int>("octetsPerSecond");
    QTest::addColumn<int>("percent");

    QTest::newRow("a full window at 9600 8E1") << 9600 << 11 << 10 << 10 * kSecondUs << 100 << 11;
    QTest::newRow("a short watch is averaged over its length")
        << 9600 << 10 << 2 << 2 * kSecondUs << 200 << 21;
    QTest::newRow("a silent line falls back to zero") << 9600 << 11 << 3 << 60 * kSecondUs << 0 << 0;
    QTest::newRow("no baud rate, no utilisation") << 0 << 11 << 10 << 10 * kSecondUs << 100 << 0;
}

void TestLineStatistics::rateAndUtilisation()
{
    QFETCH(int, baud);
    QFETCH(int, bitsPerOctet);
    QFETCH(int, seconds);
    QFETCH(qint64, nowUs);
    QFETCH(int, octetsPerSecond);
    QFETCH(int, percent);

    LineStatistics statistics;
    statistics.setLine(baud, bitsPerOctet);
    const QByteArray octets(100, '\x55');
    for (int i = 1; i <= seconds; ++i)
        statistics.add(frameAt(i * kSecondUs, false, octets),
                       FrameSummary::parse(octets, FrameSummary::Layout()));
    QCOMPARE(qRound(statistics.octetsPerSecond(nowUs)), octetsPerSecond);
    QCOMPARE(qRound(statistics.utilisation(nowUs) * 100), percent);
}

void TestLineStatistics::interrogationProgress()
{
    using namespace FrameBuilder;
    LineStatistics statistics;
    QVector<LineFrame> frames{frameAt(0, true, variable(0x73, interrogation(6))),
                              frameAt(1, false, variable(0x28, interrogation(7))),
                              frameAt(2, false, variable(0x28, interrogatedPoints(100))),
                              frameAt(3, false, variable(0x28, interrogatedPoints(27)))};
    addAll(statistics, frames);
    QCOMPARE(statistics.pendingCommand(4), QStringLiteral("C_IC_NA_1 (100)"));
    QCOMPARE(statistics.pendingObjects(), 127);
    QVERIFY(statistics.text(4).endsWith(
        QStringLiteral("answer to C_IC_NA_1 (100) arriving: 127 objects so far")));
    // Silence for as long as the engine waits ends the progress, as does the termination.
    QVERIFY(statistics.pendingCommand(3 + 6 * kSecondUs).isEmpty());
    addAll(statistics, {frameAt(5, false, variable(0x08, interrogation(10)))});
    QVERIFY(statistics.pendingCommand(6).isEmpty());
}

QTEST_GUILESS_MAIN(TestLineStatistics)
#include "tst_linestatistics.moc"
