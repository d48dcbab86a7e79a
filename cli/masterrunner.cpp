#include "masterrunner.h"

#include <QDir>
#include <QTimer>

#include <cerrno>
#include <cstdio>

#include "masterengine.h"
#include "portwatch.h"

namespace iec101 {

namespace {

void tellUser(const QString& text)
{
    std::fprintf(stderr, "iec101-master: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

MasterRunner::MasterRunner(const MasterOptions& settings, const QVector<ScriptStep>& script, QObject* parent)
    : QObject(parent), options(settings), steps(script), engine(new MasterEngine(this)),
      linkTimer(new QTimer(this)), waitTimer(new QTimer(this)), busyTimer(new QTimer(this))
{
    EngineTuning tuning = engine->tuning();
    tuning.interrogateOnLinkUp = options.initialData;
    engine->setTuning(tuning);
    linkTimer->setSingleShot(true);
    waitTimer->setSingleShot(true);
    busyTimer->setSingleShot(true);

    // Same thread: direct calls, but for one.
    connect(engine, &MasterEngine::linkStateChanged, this, &MasterRunner::linkStateChanged);
    connect(engine, &MasterEngine::dataReceived, this, [this](const QVector<InfoObject>& objects) {
        for (const InfoObject& object : objects)
            records.object(object);
    });
    connect(engine, &MasterEngine::commandFinished, this, &MasterRunner::commandFinished);
    // The engine says so before it reports the last interrogation's outcome; the record
    // follows that outcome's.
    connect(
        engine, &MasterEngine::initialDataFinished, this,
        [this](int linkAddress, bool complete) {
            records.initial(linkAddress, complete);
            initialDone.append(linkAddress);
            // The steps start once every station that came up has its initial data.
            if (phase == Phase::InitialData && allStationsSettled()) {
                phase = Phase::Steps;
                runSteps();
            }
        },
        Qt::QueuedConnection);
    connect(engine, &MasterEngine::statusMessage, this, &MasterRunner::statusMessage);
    // The engine says so from inside open() when the device is there but does not open
    // (no permission, in use, not a terminal); it keeps trying otherwise, which a program
    // run from a script must not.
    connect(engine, &MasterEngine::portFailed, this, [this](const QString& path, const QString& reason) {
        if (opening)
            openError = QStringLiteral("cannot open %1: %2").arg(path, reason);
    });
    connect(engine, &MasterEngine::lineFramesReady, this, &MasterRunner::lineFrames);
    connect(linkTimer, &QTimer::timeout, this, &MasterRunner::linkTimedOut);
    connect(busyTimer, &QTimer::timeout, this, &MasterRunner::busyTooLong);
    connect(waitTimer, &QTimer::timeout, this, [this] {
        ++current;
        runSteps();
    });
}

QVector<int> MasterRunner::linkAddresses() const
{
    QVector<int> addresses;
    for (const Station& station : options.protocol.stationList())
        addresses << station.linkAddress;
    return addresses;
}

bool MasterRunner::allStationsSettled() const
{
    for (int address : stationsUp) {
        if (!initialDone.contains(address))
            return false;
    }
    return true;
}

MasterRunner::~MasterRunner() = default;

void MasterRunner::start()
{
    if (phase != Phase::Idle)
        return;
    // A port that is not there at all would only show as a line closed at the first tick;
    // said now, with the reason. The engine opens a name from the system's port list or
    // an absolute path, nothing else.
    PortWatch port(options.serial.portName);
    if (!port.available()) {
        const QString reason =
            QDir::isAbsolutePath(options.serial.portName)
                ? qt_error_string(ENOENT)
                : QStringLiteral("no serial port of that name here (a device path works too)");
        fail(Usage, QStringLiteral("cannot open %1: %2").arg(port.path(), reason));
        return;
    }
    if (!options.capturePath.isEmpty() && !capture.open(options.capturePath))
        captureFailed(capture.errorString());

    phase = Phase::WaitingForLink;
    linkTimer->start(options.linkTimeoutMs);
    opening = true;
    engine->open(options.serial, options.protocol);
    opening = false;
    if (!openError.isEmpty())
        fail(Usage, openError);
}

void MasterRunner::interrupt(int signalNumber)
{
    if (phase == Phase::Done)
        return;
    tellUser(QStringLiteral("stopped by signal %1; line closed").arg(signalNumber));
    finish(128 + signalNumber);
}

void MasterRunner::linkStateChanged(int linkAddress, LinkState state)
{
    records.link(linkAddress, state);
    if (phase == Phase::Done)
        return;
    if (state == LinkState::Available && !stationsUp.contains(linkAddress))
        stationsUp.append(linkAddress);
    // With several stations the run goes on once all are up, or when the link time is
    // over and at least one is; commands for one that is not end as not sent.
    if (state == LinkState::Available && phase == Phase::WaitingForLink &&
        stationsUp.size() < linkAddresses().size())
        return;
    // The engine holds commands and their time-outs while the station is busy, and
    // waits for as long as it stays so; a run from a script must end.
    if (state != LinkState::Busy)
        busyTimer->stop();
    else if (!busyTimer->isActive())
        busyTimer->start(options.linkTimeoutMs);
    if (state == LinkState::Available) {
        if (phase == Phase::WaitingForLink) {
            linkTimer->stop();
            phase = options.initialData ? Phase::InitialData : Phase::Steps;
            if (phase == Phase::Steps)
                later(&MasterRunner::runSteps);
        } else if (waitingForLink) {
            linkTimer->stop();
            waitingForLink = false;
            later(&MasterRunner::sendCurrent);
        }
        return;
    }
    if (state != LinkState::Disconnected)
        return;
    // The engine closed the line itself: the port vanished (or never was a port).
    if (phase == Phase::WaitingForLink) {
        // From the event loop: the engine is still inside its close().
        QTimer::singleShot(0, this, [this] {
            fail(Usage, QStringLiteral("cannot open %1: the port went away").arg(options.serial.portName));
        });
        return;
    }
    tellUser(QStringLiteral("%1 went away; the commands left are not sent").arg(options.serial.portName));
    lineLost = true;
    linkTimer->stop();
    waitTimer->stop();
    // The initial data never finish now; a wait has nothing left to report; a command
    // waiting for the link is sent and ends at once as not sent.
    if (phase == Phase::InitialData)
        phase = Phase::Steps;
    if (waitingForLink) {
        waitingForLink = false;
        later(&MasterRunner::sendCurrent);
    } else {
        later(&MasterRunner::runSteps);
    }
}

void MasterRunner::commandFinished(const CommandRequest& request, const CommandOutcome& outcome,
                                   const QVector<InfoObject>& answer)
{
    for (const InfoObject& object : answer)
        records.object(object);
    const bool automatic = request.origin == CommandRequest::Origin::Automatic;
    const bool ours = !automatic && currentId != 0 && request.id == currentId;
    records.command(ours ? steps.at(current).text : request.text(), request, outcome);
    if (!ours)
        return;
    currentId = 0;
    anyFailed = anyFailed || !outcome.succeeded();
    stepDone();
}

void MasterRunner::stepDone()
{
    // A step for every station goes on with the next station, then with the next step.
    if (current < steps.size() && steps.at(current).allStations &&
        ++currentStation < linkAddresses().size()) {
        if (phase == Phase::Steps)
            later(&MasterRunner::sendCurrent);
        return;
    }
    currentStation = 0;
    ++current;
    if (phase == Phase::Steps)
        later(&MasterRunner::runSteps);
}

void MasterRunner::statusMessage(const QString& text)
{
    records.status(text);
}

void MasterRunner::lineFrames(const QVector<LineFrame>& frames, int dropped)
{
    if (capture.isOpen()) {
        if (dropped > 0)
            records.status(QStringLiteral("%1 frames missing from the capture").arg(dropped));
        if (!capture.write(frames)) {
            captureFailed(capture.errorString());
            capture.close();
        }
    }
    engine->lineFramesTaken();
}

void MasterRunner::linkTimedOut()
{
    if (phase == Phase::WaitingForLink && !stationsUp.isEmpty()) {
        // Some stations answer: the run goes on with them.
        phase = options.initialData ? Phase::InitialData : Phase::Steps;
        if (phase == Phase::Steps || allStationsSettled()) {
            phase = Phase::Steps;
            later(&MasterRunner::runSteps);
        }
        return;
    }
    if (phase == Phase::WaitingForLink) {
        QStringList addresses;
        for (int address : linkAddresses())
            addresses << QString::number(address);
        fail(NoLink, QStringLiteral("no link to station %1 on %2 within %3 ms")
                         .arg(addresses.join(QStringLiteral(", ")))
                         .arg(options.serial.portName)
                         .arg(options.linkTimeoutMs));
        return;
    }
    if (waitingForLink) {
        // Sent all the same: the engine reports it as not sent, link down.
        waitingForLink = false;
        sendCurrent();
    }
}

void MasterRunner::busyTooLong()
{
    const QString message = QStringLiteral("station %1 stayed busy for %2 ms; giving up")
                                .arg(linkAddresses().value(0))
                                .arg(options.linkTimeoutMs);
    // Before the first command the link never was of use; after it, the command that
    // waits ends as the line closes, and counts.
    fail(phase == Phase::Steps ? CommandFailed : NoLink, message);
}

void MasterRunner::later(void (MasterRunner::*step)())
{
    QMetaObject::invokeMethod(this, step, Qt::QueuedConnection);
}

void MasterRunner::runSteps()
{
    if (phase != Phase::Steps || currentId != 0 || waitingForLink || waitTimer->isActive())
        return;
    // Waits after the line is gone have nothing to wait for.
    while (lineLost && current < steps.size() && steps.at(current).kind == ScriptStep::Kind::Wait)
        ++current;
    if (current >= steps.size()) {
        finish(anyFailed || lineLost ? CommandFailed : Success);
        return;
    }
    const ScriptStep& step = steps.at(current);
    if (step.kind == ScriptStep::Kind::Wait) {
        waitTimer->start(step.waitMs);
        return;
    }
    // A link lost meanwhile gets the same bounded time to come back as at the start; a
    // busy station takes the command into the engine's queue.
    const int address = step.allStations ? CommandRequest::kOwnAddress : step.request.linkAddress;
    const bool onLine = address == CommandRequest::kOwnAddress || linkAddresses().contains(address);
    const LinkState state = engine->linkState(address);
    // A station that is not on the line at all is the engine's to refuse, at once.
    if (onLine && !lineLost && state != LinkState::Available && state != LinkState::Busy) {
        waitingForLink = true;
        linkTimer->start(options.linkTimeoutMs);
        return;
    }
    sendCurrent();
}

void MasterRunner::sendCurrent()
{
    if (phase != Phase::Steps || current >= steps.size() || currentId != 0)
        return;
    CommandRequest request = steps.at(current).request;
    if (steps.at(current).allStations)
        request.linkAddress = linkAddresses().value(currentStation);
    request.id = ++lastId;
    currentId = request.id;
    // The outcome may come before send() returns (a command that cannot go out).
    engine->send(request);
}

void MasterRunner::captureFailed(const QString& reason)
{
    tellUser(reason);
    records.status(reason);
}

void MasterRunner::fail(int exitStatus, const QString& message)
{
    tellUser(message);
    finish(exitStatus);
}

void MasterRunner::finish(int exitStatus)
{
    if (phase == Phase::Done)
        return;
    phase = Phase::Done;
    linkTimer->stop();
    waitTimer->stop();
    busyTimer->stop();
    // Whatever still waits ends here and is reported; the line's last frames reach the
    // capture before it closes.
    engine->close();
    capture.close();
    Q_EMIT finished(exitStatus);
}

} // namespace iec101
