#include "listenrunner.h"

#include <QTimer>

#include <cstdio>

#include "linelistener.h"
#include "masterrunner.h"

namespace iec101 {

ListenRunner::ListenRunner(const MasterOptions& settings, const QVector<ScriptStep>& script, QObject* parent)
    : QObject(parent), options(settings), steps(script), tap(new LineListener(this)),
      waitTimer(new QTimer(this))
{
    waitTimer->setSingleShot(true);
    connect(waitTimer, &QTimer::timeout, this, [this] {
        ++current;
        nextStep();
    });
    connect(tap, &LineListener::linkStateChanged, this, [this](int linkAddress, LinkState state) {
        records.link(linkAddress, state);
        // The tap went away: nothing more to hear.
        if (state == LinkState::Disconnected && !done)
            QTimer::singleShot(0, this, [this] { finish(MasterRunner::CommandFailed); });
    });
    connect(tap, &LineListener::dataReceived, this, [this](const QVector<InfoObject>& objects) {
        for (const InfoObject& object : objects)
            records.object(object);
    });
    connect(tap, &LineListener::commandFinished, this,
            [this](const CommandRequest& request, const CommandOutcome& outcome,
                   const QVector<InfoObject>& answer) {
                // Its data just before the command's record, as a run of its own writes them.
                for (const InfoObject& object : answer)
                    records.object(object);
                records.command(request.text(), request, outcome);
            });
    connect(tap, &LineListener::statusMessage, this, [this](const QString& text) { records.status(text); });
    connect(tap, &LineListener::lineFramesReady, this, [this](const QVector<LineFrame>& frames, int) {
        if (capture.isOpen() && !capture.write(frames)) {
            std::fprintf(stderr, "iec101-master: %s\n", qPrintable(capture.errorString()));
            records.status(capture.errorString());
            capture.close();
        }
        tap->lineFramesTaken();
    });
}

ListenRunner::~ListenRunner() = default;

void ListenRunner::start()
{
    if (!options.capturePath.isEmpty() && !capture.open(options.capturePath)) {
        std::fprintf(stderr, "iec101-master: %s\n", qPrintable(capture.errorString()));
        records.status(capture.errorString());
    }
    tap->open(options.serial, options.protocol, options.listenPort2);
    if (!tap->isOpen()) {
        std::fprintf(stderr, "iec101-master: cannot listen on %s\n", qPrintable(options.serial.portName));
        finish(MasterRunner::Usage);
        return;
    }
    // The first wait starts now; the tap is heard from the first octet.
    current = 0;
    nextStep();
}

void ListenRunner::nextStep()
{
    if (done)
        return;
    // Without steps it listens until a signal ends it.
    if (steps.isEmpty())
        return;
    if (current >= steps.size()) {
        finish(MasterRunner::Success);
        return;
    }
    waitTimer->start(steps.at(current).waitMs);
}

void ListenRunner::interrupt(int signalNumber)
{
    if (done)
        return;
    std::fprintf(stderr, "iec101-master: stopped by signal %d; tap closed\n", signalNumber);
    finish(128 + signalNumber);
}

void ListenRunner::finish(int exitStatus)
{
    if (done)
        return;
    done = true;
    waitTimer->stop();
    tap->close();
    capture.close();
    Q_EMIT finished(exitStatus);
}

} // namespace iec101
