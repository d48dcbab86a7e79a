// Listening on a tapped line: the test kit's master talks to the simulated station over the
// line bus while a listener hears the pair through a tap. It must hear the conversation
// octet for octet as the master's own monitor has it, decode the same objects, see the
// commands end as the master saw them, and never send a single octet. Hostile octets on the
// tap must neither crash it nor keep it from the frames that follow.
#include <QtTest>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "ft12.h"
#include "linelistener.h"
#include "masterengine.h"
#include "ptypair.h"
#include "stationsline.h"

using namespace iec101;
namespace ioa = slavesim::ioa;

namespace {

constexpr int kLong = 30000;

// What a listener reports, gathered on the test's thread.
struct Heard
{
    explicit Heard(LineListener* listener)
    {
        QObject::connect(listener, &LineListener::lineFramesReady, listener,
                         [this, listener](const QVector<LineFrame>& batch, int dropped) {
                             frames += batch;
                             lost += dropped;
                             listener->lineFramesTaken();
                         });
        QObject::connect(listener, &LineListener::dataReceived, listener,
                         [this](const QVector<InfoObject>& batch) { objects += batch; });
        QObject::connect(listener, &LineListener::commandFinished, listener,
                         [this](const CommandRequest& request, const CommandOutcome& outcome,
                                const QVector<InfoObject>& answer) {
                             commands << request.text() + QStringLiteral(": ") + outcome.name();
                             objects += answer;
                         });
    }
    QVector<LineFrame> frames;
    int lost = 0;
    QVector<InfoObject> objects;
    QStringList commands;
};

QString objectText(const InfoObject& object)
{
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(object.typeId)
        .arg(object.commonAddress)
        .arg(object.address)
        .arg(object.value.toString())
        .arg(object.quality);
}

QStringList sortedTexts(const QVector<InfoObject>& objects)
{
    QStringList texts;
    for (const InfoObject& object : objects)
        texts << objectText(object);
    texts.sort();
    return texts;
}

QVector<LineFrame> direction(const QVector<LineFrame>& frames, bool sent)
{
    QVector<LineFrame> out;
    for (const LineFrame& frame : frames) {
        if (frame.sent == sent)
            out << frame;
    }
    return out;
}

// The master's frames, and the ones a listener heard: the same, but that the station's
// answer to the master's last request may follow after the master closed its port.
bool framesMatch(const QVector<LineFrame>& heard, const QVector<LineFrame>& own)
{
    if (heard.size() != own.size() && !(heard.size() == own.size() + 1 && !heard.last().sent))
        return false;
    for (int i = 0; i < own.size(); ++i) {
        if (heard.at(i).octets != own.at(i).octets || heard.at(i).sent != own.at(i).sent)
            return false;
    }
    return true;
}

// framesMatch() with messages that say where the two differ.
void compareFrames(const QVector<LineFrame>& heard, const QVector<LineFrame>& own)
{
    QVERIFY2(
        heard.size() == own.size() || (heard.size() == own.size() + 1 && !heard.last().sent),
        qPrintable(QStringLiteral("heard %1 frames, the master has %2").arg(heard.size()).arg(own.size())));
    for (int i = 0; i < own.size(); ++i) {
        QCOMPARE(heard.at(i).octets.toHex(' '), own.at(i).octets.toHex(' '));
        QCOMPARE(heard.at(i).sent, own.at(i).sent);
    }
}

// A session of the master: initial data, a read, a switch command, a refused command.
void runSession(EngineFixture& f, StationsLine& line)
{
    line.station(0).setRefusedAddresses({ioa::kFirstSingleCommand + 1});
    f.openTyped(line.serialSettings(), line.settings());
    QVERIFY(QTest::qWaitFor([&f] { return f.initialDataFinished; }, kLong));
    QVERIFY(f.waitForOutcome(f.send(CommandRequest::read(ioa::kFirstMeasured))));
    QVERIFY(f.waitForOutcome(f.send(CommandRequest::singleCommand(ioa::kFirstSingleCommand, true))));
    QVERIFY(f.waitForOutcome(f.send(CommandRequest::singleCommand(ioa::kFirstSingleCommand + 1, true))));
    QTest::qWait(300);
    MasterEngine* engine = f.master();
    f.runOnWorker([engine] { engine->close(); });
}

// The master's data: what came unasked, and the answers of its commands.
QVector<InfoObject> masterObjects(const EngineFixture& f)
{
    QVector<InfoObject> objects = f.unsolicited;
    for (const EngineFixture::Finished& finished : f.finished) {
        for (const InfoObject& object : finished.answer) {
            if (object.typeId < C_SC_NA_1)
                objects << object;
        }
    }
    return objects;
}

} // namespace

class TestLineListener : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneTapHearsTheConversation();
    void twoTapsHearOneDirectionEach();
    void hostileOctets_data();
    void hostileOctets();
    void portThatDoesNotOpen();
};

void TestLineListener::oneTapHearsTheConversation()
{
    StationsLine line({slavesim::Config()});
    const QString tap = line.addTap(LineBus::Tap::Both);
    QVERIFY2(line.start(), qPrintable(line.errorString()));

    LineListener listener;
    Heard heard(&listener);
    SerialSettings serial = line.serialSettings();
    serial.portName = tap;
    listener.open(serial, line.settings());
    QVERIFY(listener.isOpen());

    EngineFixture f;
    runSession(f, line);
    if (QTest::currentTestFailed())
        return;
    // Both sides' last batches come after the session; the messages, if they never match.
    static_cast<void>(QTest::qWaitFor([&] { return framesMatch(heard.frames, f.lineFrames); }, kLong));
    compareFrames(heard.frames, f.lineFrames);
    QCOMPARE(heard.lost, 0);
    QCOMPARE(sortedTexts(heard.objects), sortedTexts(masterObjects(f)));

    // The commands ended on the line as the master saw them.
    QVERIFY2(heard.commands.contains(QStringLiteral("C_IC_NA_1 qoi=20: terminated")),
             qPrintable(heard.commands.join('\n')));
    QVERIFY(heard.commands.contains(QStringLiteral("C_RD_NA_1 4001: confirmed")));
    QVERIFY(heard.commands.contains(QStringLiteral("C_SC_NA_1 2949121 1 select-only: confirmed")));
    QVERIFY(heard.commands.contains(QStringLiteral("C_SC_NA_1 2949121 1: terminated")));
    QVERIFY(heard.commands.contains(QStringLiteral("C_SC_NA_1 2949122 1 select-only: refused")));

    // Nothing went from the tap onto the line.
    QCOMPARE(line.bus()->tapByteCount(), 0);
}

void TestLineListener::twoTapsHearOneDirectionEach()
{
    StationsLine line({slavesim::Config()});
    const QString fromMaster = line.addTap(LineBus::Tap::FromMaster);
    const QString fromStation = line.addTap(LineBus::Tap::FromStations);
    QVERIFY2(line.start(), qPrintable(line.errorString()));

    LineListener listener;
    Heard heard(&listener);
    SerialSettings serial = line.serialSettings();
    serial.portName = fromMaster;
    listener.open(serial, line.settings(), fromStation);
    QVERIFY(listener.isOpen());

    EngineFixture f;
    runSession(f, line);
    if (QTest::currentTestFailed())
        return;
    // Each direction in its order; the two devices are read in turn.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            return framesMatch(direction(heard.frames, true), direction(f.lineFrames, true)) &&
                   framesMatch(direction(heard.frames, false), direction(f.lineFrames, false));
        },
        kLong));
    compareFrames(direction(heard.frames, true), direction(f.lineFrames, true));
    compareFrames(direction(heard.frames, false), direction(f.lineFrames, false));
    QCOMPARE(sortedTexts(heard.objects), sortedTexts(masterObjects(f)));
    QCOMPARE(line.bus()->tapByteCount(), 0);
}

void TestLineListener::hostileOctets_data()
{
    QTest::addColumn<QByteArray>("octets");

    const QByteArray point =
        QByteArray::fromHex("010103000100e90300") + QByteArray(1, 1); // M_SP_NA_1 1001 spont
    const QByteArray good = Ft12::variableFrame(0x08, 1, 2, point);
    QTest::newRow("garbage before a frame") << QByteArray::fromHex("00ff1610e5e568") + good;
    QTest::newRow("a frame cut short, then a whole one") << good.left(9) + good;
    QTest::newRow("a length octet that lies") << QByteArray::fromHex("68ffff6808010001") + good;
    QTest::newRow("a bad checksum") << [&] {
        QByteArray bad = good;
        bad[bad.size() - 2] = char(bad.at(bad.size() - 2) + 1);
        return bad + good;
    }();
    QTest::newRow("user data shorter than an ASDU header")
        << Ft12::variableFrame(0x08, 1, 2, QByteArray::fromHex("0101")) + good;
    QTest::newRow("a sequence that claims 127 elements")
        << Ft12::variableFrame(0x08, 1, 2, QByteArray::fromHex("01ff03000100e9030001")) + good;
    QTest::newRow("an unknown type") << Ft12::variableFrame(0x08, 1, 2,
                                                            QByteArray::fromHex("fe0103000100e903000102")) +
                                            good;
}

void TestLineListener::hostileOctets()
{
    QFETCH(QByteArray, octets);
    PtyPair pty;
    QVERIFY2(pty.start(), qPrintable(pty.errorString()));
    LineListener listener;
    Heard heard(&listener);
    SerialSettings serial;
    serial.portName = pty.pathB();
    serial.parity = 'N';
    listener.open(serial, ProtocolSettings());
    QVERIFY(listener.isOpen());

    QFile writer(pty.pathA());
    QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    // In small pieces, as a line delivers them.
    for (int i = 0; i < octets.size(); i += 3)
        writer.write(octets.mid(i, 3));
    // The whole frame at the end is heard and decoded, whatever came before it.
    QTRY_VERIFY_WITH_TIMEOUT(!heard.objects.isEmpty(), 5000);
    QCOMPARE(heard.objects.last().address, 1001);
    QCOMPARE(heard.objects.last().value.toBool(), true);
    // Frames are handed over in batches, after the objects they carried.
    QTRY_VERIFY_WITH_TIMEOUT(!heard.frames.isEmpty(), 5000);
    QCOMPARE(heard.frames.last().sent, false);
}

void TestLineListener::portThatDoesNotOpen()
{
    LineListener listener;
    QSignalSpy status(&listener, &LineListener::statusMessage);
    QSignalSpy states(&listener, &LineListener::linkStateChanged);
    SerialSettings serial;
    serial.portName = QStringLiteral("/nonexistent/tap");
    listener.open(serial, ProtocolSettings());
    QVERIFY(!listener.isOpen());
    QCOMPARE(status.count(), 1);
    QVERIFY(status.first().first().toString().startsWith(QLatin1String("Cannot open /nonexistent/tap")));
    QCOMPARE(states.last().at(1).value<LinkState>(), LinkState::Disconnected);
}

QTEST_GUILESS_MAIN(TestLineListener)
#include "tst_linelistener.moc"
