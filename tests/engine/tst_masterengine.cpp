// The typed engine against the simulated station over pty pairs: how each command ends,
// what the station saw of it, and how the engine copes with stations that refuse,
// forget terminations, chatter, say "busy", or send data nobody asked for.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "linerelay.h"
#include "masterengine.h"

using namespace iec101;
namespace ioa = slavesim::ioa;

using Result = CommandOutcome::Result;
using Step = CommandOutcome::Step;
using Reason = CommandOutcome::Reason;
using Execution = CommandRequest::Execution;

namespace {

constexpr int kLong = 20000; // generous: the machine may be loaded
constexpr int kCommandTimeoutMs = 1500;
constexpr int kTerminationWaitMs = 1000;

// What is done to the station before the command.
enum class Setup { Normal, RefusesTarget, NoTermination, Silent, Chatty, Down };

// Shorter waits than the product's, so that failing rows do not take long.
void useShortWaits(EngineFixture& f)
{
    f.settings.commandTimeoutMs = kCommandTimeoutMs;
    f.settings.terminationWaitMs = kTerminationWaitMs;
}

int received(EngineFixture& f, int typeId, bool select)
{
    int count = 0;
    for (const slavesim::ReceivedAsdu& asdu : f.slave().received(typeId))
        count += asdu.select == select ? 1 : 0;
    return count;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestMasterEngine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void outcomes_data();
    void outcomes();
    void invalidRequestsAreNeverSent_data();
    void invalidRequestsAreNeverSent();
    void refusedInitialInterrogationsDoNotBlock();
    void unterminatedInterrogationsLetTheQueueMove();
    void busyStationRecovers();
    void unsolicitedDataIsNeverAnAnswer();
    void waitingCommandPollsAtAPace();
    void lineRunsWhileCallerIsBlocked();
};

void TestMasterEngine::outcomes_data()
{
    QTest::addColumn<Setup>("station");
    QTest::addColumn<CommandRequest>("request");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("selects"); // frames the station received with the select bit
    QTest::addColumn<int>("executes");

    const int single = ioa::kFirstSingleCommand;
    const int close = ioa::kDoubleCommandBase + 2;
    const auto singleOn = [](int address, Execution execution) {
        return CommandRequest::singleCommand(address, true, execution);
    };
    QTest::newRow("select and execute terminated")
        << Setup::Normal << singleOn(single, Execution::SelectBeforeExecute) << int(Result::Terminated)
        << int(Step::None) << "terminated" << 1 << 1;
    QTest::newRow("direct execute terminated")
        << Setup::Normal << CommandRequest::doubleCommand(close, 2, Execution::Direct)
        << int(Result::Terminated) << int(Step::None) << "terminated" << 0 << 1;
    QTest::newRow("select only leaves it selected")
        << Setup::Normal << singleOn(single, Execution::SelectOnly) << int(Result::Confirmed)
        << int(Step::None) << "confirmed" << 1 << 0;
    QTest::newRow("refused select sends no execute")
        << Setup::RefusesTarget << singleOn(single, Execution::SelectBeforeExecute) << int(Result::Refused)
        << int(Step::SelectConfirmation) << "refused: negative activation confirmation of the select (7)" << 1
        << 0;
    QTest::newRow("unknown address refused with its cause")
        << Setup::Normal << CommandRequest::doubleCommand(ioa::kDoubleCommandBase + 99, 2)
        << int(Result::Refused) << int(Step::SelectConfirmation) << "refused: unknown object address (47)"
        << 1 << 0;
    QTest::newRow("read of an unknown address refused")
        << Setup::Normal << CommandRequest::read(4999) << int(Result::Refused) << int(Step::Answer)
        << "refused: unknown object address (47)" << 0 << 0;
    QTest::newRow("confirmed, never terminated")
        << Setup::NoTermination << CommandRequest::doubleCommand(close, 1) << int(Result::Confirmed)
        << int(Step::None) << "confirmed, not terminated" << 1 << 1;
    QTest::newRow("silent select times out")
        << Setup::Silent << singleOn(single, Execution::SelectBeforeExecute) << int(Result::TimedOut)
        << int(Step::SelectConfirmation) << "timed out waiting for the confirmation of the select" << 1 << 0;
    QTest::newRow("silent read times out")
        << Setup::Silent << CommandRequest::read(ioa::kFirstMeasured) << int(Result::TimedOut)
        << int(Step::Answer) << "timed out waiting for the answer" << 0 << 0;
    // Twenty events a second: none of them may keep the dead command waiting.
    QTest::newRow("chatty station, silent on commands")
        << Setup::Chatty << CommandRequest::clockSync() << int(Result::TimedOut) << int(Step::Confirmation)
        << "timed out waiting for the confirmation" << 0 << 0;
    QTest::newRow("link down: not sent at once")
        << Setup::Down << singleOn(single, Execution::SelectBeforeExecute) << int(Result::NotSent)
        << int(Step::None) << "not sent: link down" << 0 << 0;
}

void TestMasterEngine::outcomes()
{
    QFETCH(Setup, station);
    QFETCH(CommandRequest, request);
    QFETCH(int, result);
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(int, selects);
    QFETCH(int, executes);

    slavesim::Config config;
    config.eventRate = station == Setup::Chatty ? 20.0 : 0.0;
    EngineFixture f(config);
    useShortWaits(f);
    QVERIFY(f.bringUpTyped());
    f.slave().clearReceived();
    switch (station) {
    case Setup::RefusesTarget:
        f.slave().setRefusedAddresses({request.objectAddress});
        break;
    case Setup::NoTermination:
        f.slave().setTerminations(false);
        break;
    case Setup::Silent:
    case Setup::Chatty:
        f.slave().setCommandMode(slavesim::CommandMode::Silent);
        break;
    case Setup::Down:
        f.slave().pause();
        QTRY_VERIFY_WITH_TIMEOUT(f.linkStates.contains(LinkState::Error), kLong);
        break;
    case Setup::Normal:
        break;
    }
    const int unsolicitedBefore = f.unsolicited.size();
    const quint64 id = f.send(request);
    const auto done = f.waitForOutcome(id, kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), result);
    QCOMPARE(int(done->outcome.step), step);
    QCOMPARE(done->outcome.text(), text);
    QCOMPARE(done->request.objectAddress, request.objectAddress);
    if (done->outcome.result == Result::NotSent) {
        // At once, with a word for the operator.
        QCOMPARE(done->outcome.roundTripMs, qint64(-1));
        QVERIFY2(f.statusTexts.last().endsWith(text), qPrintable(f.statusTexts.join('\n')));
    } else {
        QVERIFY(done->outcome.roundTripMs >= 0);
    }
    if (station == Setup::Chatty) {
        // The events went on meanwhile, and did not restart the command's time.
        QVERIFY(f.unsolicited.size() > unsolicitedBefore);
        QVERIFY2(done->outcome.roundTripMs < kCommandTimeoutMs + 1000,
                 qPrintable(QString::number(done->outcome.roundTripMs)));
    }
    // Give an execute that should not come the time to arrive.
    QTest::qWait(300);
    if (request.typeId == C_SC_NA_1 || request.typeId == C_DC_NA_1) {
        QCOMPARE(received(f, request.typeId, true), selects);
        QCOMPARE(received(f, request.typeId, false), executes);
    }
}

void TestMasterEngine::invalidRequestsAreNeverSent_data()
{
    QTest::addColumn<CommandRequest>("request");
    QTest::addColumn<QString>("detail");

    CommandRequest qualifier = CommandRequest::singleCommand(ioa::kFirstSingleCommand, true);
    qualifier.qualifier = 32;
    CommandRequest state = CommandRequest::doubleCommand(ioa::kDoubleCommandBase + 1, 4);
    CommandRequest address = CommandRequest::read(0x1000000);
    CommandRequest unknown;
    unknown.typeId = 200;
    CommandRequest selectedRead = CommandRequest::read(ioa::kFirstMeasured);
    selectedRead.execution = Execution::SelectBeforeExecute;
    QTest::newRow("qualifier beyond 31") << qualifier << "qualifier 32 out of range 0..31";
    QTest::newRow("double command state 4") << state << "value 4 out of range 0..3";
    QTest::newRow("object address beyond 3 octets")
        << address << "object address 16777216 out of range 0..16777215";
    QTest::newRow("unknown type") << unknown << "type 200 is not supported";
    QTest::newRow("a read cannot be selected")
        << selectedRead << "select and deactivation apply to commands only";
}

void TestMasterEngine::invalidRequestsAreNeverSent()
{
    QFETCH(CommandRequest, request);
    QFETCH(QString, detail);

    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    f.slave().clearReceived();
    const auto done = f.waitForOutcome(f.send(request), kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), int(Result::NotSent));
    QCOMPARE(int(done->outcome.reason), int(Reason::Invalid));
    QCOMPARE(done->outcome.detail, detail);
    // The engine is not stuck: the next command goes through, and it is all the station saw.
    const auto read = f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstMeasured)), kLong);
    QVERIFY(read);
    QCOMPARE(int(read->outcome.result), int(Result::Confirmed));
    QCOMPARE(f.slave().received().size(), 1);
}

// A station that refuses the interrogations: each is tried a bounded number of times,
// then reported, and meanwhile the operator's commands go through.
void TestMasterEngine::refusedInitialInterrogationsDoNotBlock()
{
    EngineFixture f;
    QVERIFY(f.startLine());
    f.slave().setRefusedAddresses({0});
    EngineTuning tuning;
    tuning.retryBackoffMs = 400;
    tuning.initialInterrogationAttempts = 3;
    f.setTuning(tuning);
    f.openTyped();
    QTRY_VERIFY_WITH_TIMEOUT(f.linkStates.contains(LinkState::Available), kLong);
    const auto read = f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstMeasured)), kLong);
    QVERIFY(read);
    QCOMPARE(int(read->outcome.result), int(Result::Confirmed));
    QCOMPARE(read->answer.size(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(f.initialDataFinished, kLong);
    QVERIFY(!f.initialDataComplete);
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 3);
    QCOMPARE(f.slave().received(C_CI_NA_1).size(), 3);
    QVERIFY(f.statusTexts.contains(QStringLiteral(
        "General interrogation failed after 3 attempts: refused: negative activation confirmation (7)")));
    QCOMPARE(f.statusTexts.count(QStringLiteral("Interrogation command fail. Retrying...")), 4);
    // Nothing more is tried.
    QTest::qWait(1000);
    QCOMPARE(f.slave().received(C_IC_NA_1).size(), 3);
}

// A station that never terminates its interrogations: each ends as confirmed, not
// terminated, with its data, and the commands queued behind them still go out.
void TestMasterEngine::unterminatedInterrogationsLetTheQueueMove()
{
    EngineFixture f;
    useShortWaits(f);
    QVERIFY(f.startLine());
    f.slave().setTerminations(false);
    f.openTyped();
    QTRY_VERIFY_WITH_TIMEOUT(f.linkStates.contains(LinkState::Available), kLong);
    const quint64 sync = f.send(CommandRequest::clockSync());
    QTRY_VERIFY_WITH_TIMEOUT(f.initialDataFinished, kLong);
    QVERIFY(f.initialDataComplete);
    const auto synced = f.waitForOutcome(sync, kLong);
    QVERIFY(synced);
    QCOMPARE(int(synced->outcome.result), int(Result::Confirmed));
    int interrogations = 0;
    for (const EngineFixture::Finished& done : qAsConst(f.finished)) {
        if (!done.request.isInterrogation())
            continue;
        ++interrogations;
        QCOMPARE(done.outcome.text(), QStringLiteral("confirmed, not terminated"));
        QVERIFY(!done.answer.isEmpty());
    }
    QCOMPARE(interrogations, 2);
}

// "Busy" from the station: shown, polling backs off, the link is set up again, and the
// command and the events waiting at the station all arrive, once each.
void TestMasterEngine::busyStationRecovers()
{
    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    f.slave().setBusy(1500);
    for (int i = 0; i < 5; ++i)
        f.slave().injectMeasured(ioa::kFirstMeasured, float(i), false);
    QTRY_VERIFY_WITH_TIMEOUT(f.linkStates.contains(LinkState::Busy), kLong);
    const quint64 read = f.send(CommandRequest::read(ioa::kFirstSinglePoint));
    const auto done = f.waitForOutcome(read, kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), int(Result::Confirmed));
    QCOMPARE(done->answer.value(0).address, ioa::kFirstSinglePoint);
    QCOMPARE(f.linkStates.last(), LinkState::Available);
    QTRY_COMPARE_WITH_TIMEOUT(f.unsolicited.size(), 5, kLong);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(f.unsolicited.at(i).value.toFloat(), float(i));
    QVERIFY(f.statusTexts.contains(QStringLiteral("Station 1 is busy; polling paused")));
}

// Periodic data while nothing is pending is delivered as what it is; while a Read
// waits, only the object read answers it.
void TestMasterEngine::unsolicitedDataIsNeverAnAnswer()
{
    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    f.slave().setCyclicRate(20);
    QTRY_VERIFY_WITH_TIMEOUT(f.unsolicited.size() >= 5, kLong);
    for (const InfoObject& object : qAsConst(f.unsolicited)) {
        QCOMPARE(int(object.cause), int(CS101_COT_PERIODIC));
        QVERIFY(!object.spontaneous);
    }
    for (int i = 0; i < 5; ++i) {
        const auto done = f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstSinglePoint + i)), kLong);
        QVERIFY(done);
        QCOMPARE(done->answer.size(), 1);
        QCOMPARE(done->answer.first().address, ioa::kFirstSinglePoint + i);
        QCOMPARE(int(done->answer.first().cause), int(CS101_COT_REQUEST));
    }
}

// A station that answers every poll at once but never the command: while the command
// waits, the engine keeps asking, but at a pace, not as fast as a pty answers.
void TestMasterEngine::waitingCommandPollsAtAPace()
{
    EngineFixture f;
    f.settings.commandTimeoutMs = 2000;
    QVERIFY(f.bringUpTyped());
    f.slave().setCommandMode(slavesim::CommandMode::Silent);
    QTest::qWait(500);
    const int before = f.lineFrames.size();
    const auto done = f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstMeasured)), kLong);
    QVERIFY(done);
    QCOMPARE(int(done->outcome.result), int(Result::TimedOut));
    QTest::qWait(300); // the last batch of frames
    int requests = 0;
    for (int i = before; i < f.lineFrames.size(); ++i)
        requests += f.lineFrames.at(i).sent ? 1 : 0;
    // Unpaced it was about 2,800 requests a second; paced at 10 ms, at most 100.
    const double perSecond = 1000.0 * requests / done->outcome.roundTripMs;
    QVERIFY2(perSecond < 200, qPrintable(QString::number(perSecond)));
}

// The engine's timers live on its own thread: when the thread that talks to it is
// blocked (a GUI busy exporting a million rows), polling goes on, and what arrived
// meanwhile is all there once it returns.
void TestMasterEngine::lineRunsWhileCallerIsBlocked()
{
    EngineFixture f;
    QVERIFY(f.bringUpTyped());
    const qint64 blockedFromUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    for (int i = 0; i < 10; ++i)
        f.slave().injectMeasured(ioa::kFirstMeasured, float(i), false);
    QThread::msleep(1500);
    const qint64 blockedToUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    QTRY_COMPARE_WITH_TIMEOUT(f.unsolicited.size(), 10, kLong);
    QTest::qWait(400);
    int polls = 0;
    int answers = 0;
    for (const LineFrame& frame : qAsConst(f.lineFrames)) {
        if (frame.timeUs < blockedFromUs || frame.timeUs > blockedToUs)
            continue;
        polls += frame.sent ? 1 : 0;
        answers += !frame.sent && frame.octets.startsWith('\x68') ? 1 : 0;
    }
    QVERIFY2(polls >= 5, qPrintable(QString::number(polls)));
    QCOMPARE(answers, 10);
}

QTEST_GUILESS_MAIN(TestMasterEngine)
#include "tst_masterengine.moc"
