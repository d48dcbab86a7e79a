// iec101-master: an IEC 60870-5-101 master for scripts. It runs the engine the view
// uses, without a window, on the main thread: opens the line, waits for the link, takes
// the initial data, runs the given commands in order and writes what happens as JSON
// lines on stdout; messages for people go to stderr, and the exit status says how it
// went (see MasterRunner::ExitStatus and --help).

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include "commandparser.h"
#include "commissioningrecorder.h"
#include "linelistener.h"
#include "listenrunner.h"
#include "masterengine.h"
#include "masteroptions.h"
#include "masterrunner.h"
#include "pointlist.h"
#include "signalnotifier.h"

using namespace iec101;

namespace {

// More than any script a person writes; a device or a wrong file is not read on forever.
constexpr qint64 kMaxScriptBytes = 1024 * 1024;
constexpr int kErrorsShown = 10;

void printError(const QString& text)
{
    std::fprintf(stderr, "iec101-master: %s\n", qPrintable(text));
}

bool readScript(const QString& path, QString* script, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    // In pieces: a pipe (a shell's <(...)) hands over what it has, not the whole.
    QByteArray content;
    for (;;) {
        const QByteArray piece = file.read(kMaxScriptBytes + 1 - content.size());
        if (piece.isEmpty())
            break;
        content += piece;
        if (content.size() > kMaxScriptBytes) {
            *error =
                QStringLiteral("%1 is larger than %2 octets; not a script").arg(path).arg(kMaxScriptBytes);
            return false;
        }
    }
    if (content.contains('\0')) {
        *error = QStringLiteral("%1 is not a text file").arg(path);
        return false;
    }
    *script = QString::fromUtf8(content);
    return true;
}

// The signal lists of --points, each for its station (LINK=FILE, or FILE for the first).
// Rows that are wrong are said on stderr and left out; a file that is no list at all is
// a usage error.
bool loadPointLists(const MasterOptions& options, CommissioningRecorder* recorder)
{
    const QVector<Station> stations = options.protocol.stationList();
    for (const QString& argument : options.pointFiles) {
        int linkAddress = stations.first().linkAddress;
        QString path = argument;
        const int equals = argument.indexOf(QLatin1Char('='));
        bool numbered = false;
        const int number = equals > 0 ? argument.left(equals).toInt(&numbered, 10) : 0;
        if (numbered) {
            linkAddress = number;
            path = argument.mid(equals + 1);
        }
        QVector<PointList::Problem> problems;
        const PointList list = PointList::fromFile(path, &problems);
        for (const PointList::Problem& problem : problems) {
            printError(problem.line > 0
                           ? QStringLiteral("%1, line %2: %3").arg(path).arg(problem.line).arg(problem.reason)
                           : QStringLiteral("%1: %2").arg(path, problem.reason));
        }
        if (list.isEmpty() && !problems.isEmpty())
            return false;
        recorder->setPointList(linkAddress, list);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iec101-master"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IEC101_VERSION));

    MasterOptions options;
    QString error;
    if (!MasterOptions::parse(QCoreApplication::arguments(), &options, &error)) {
        printError(error);
        std::fprintf(stderr, "Try 'iec101-master --help'.\n");
        return MasterRunner::Usage;
    }
    if (options.help) {
        std::fputs(qPrintable(MasterOptions::helpText()), stdout);
        return MasterRunner::Success;
    }
    if (options.version) {
        std::printf("iec101-master %s\n", IEC101_VERSION);
        return MasterRunner::Success;
    }

    // Every command is read before the port opens: a bad line later in a script must not
    // leave a switch selected or half a sequence done.
    const CommandParser parser(options.protocol);
    QVector<ScriptStep> steps;
    QStringList errors;
    if (options.scriptPath.isEmpty()) {
        parser.parseArguments(options.commands, &steps, &errors);
    } else {
        QString script;
        if (!readScript(options.scriptPath, &script, &error)) {
            errors << error;
        } else if (!parser.parseScript(script, &steps, &errors)) {
            for (QString& line : errors)
                line = options.scriptPath + QStringLiteral(", ") + line;
        }
    }
    if (!errors.isEmpty()) {
        // Enough to fix the first few; a file that is no script at all need not fill the screen.
        for (const QString& line : errors.mid(0, kErrorsShown))
            printError(line);
        if (errors.size() > kErrorsShown)
            printError(QStringLiteral("%1 more errors").arg(errors.size() - kErrorsShown));
        return MasterRunner::Usage;
    }

    // A tap hears; it never speaks. Only waits run, and anything else is refused now.
    if (options.listen) {
        for (const ScriptStep& step : qAsConst(steps)) {
            if (step.kind != ScriptStep::Kind::Wait) {
                printError(QStringLiteral("--listen sends nothing: \"%1\" is refused (only wait runs)")
                               .arg(step.text));
                return MasterRunner::Usage;
            }
        }
    }

    CommissioningReport::Session session;
    session.serial = options.serial;
    session.protocol = options.protocol;
    session.listenOnly = options.listen;
    session.secondPort = options.listenPort2;
    CommissioningRecorder recorder(session);
    if (!loadPointLists(options, &recorder))
        return MasterRunner::Usage;
    FindingsTracker* tracker = recorder.tracker();

    // A reader that closed the pipe must not end the run before the line is closed.
    std::signal(SIGPIPE, SIG_IGN);
    const auto finished = [&options, &recorder](int status) {
        // Missing points of a large list still being looked for are found (and written) now.
        recorder.tracker()->finishChecks();
        QString error;
        if (!options.reportPath.isEmpty() && !recorder.writeReport(options.reportPath, &error)) {
            printError(error);
            if (status == MasterRunner::Success)
                status = MasterRunner::ReportFailed;
        }
        QCoreApplication::exit(status);
    };
    SignalNotifier signalNotifier;
    if (options.listen) {
        auto* runner = new ListenRunner(options, steps, &app);
        LineListener* tap = runner->listener();
        QObject::connect(tap, &LineListener::lineFramesReady, tracker, &FindingsTracker::addFrames);
        QObject::connect(tap, &LineListener::commandFinished, tracker, &FindingsTracker::addCommand);
        QObject::connect(&signalNotifier, &SignalNotifier::received, runner, &ListenRunner::interrupt);
        QObject::connect(runner, &ListenRunner::finished, &app, finished);
        QTimer::singleShot(0, runner, &ListenRunner::start);
        return app.exec();
    }
    auto* runner = new MasterRunner(options, steps, &app);
    MasterEngine* engine = runner->lineEngine();
    QObject::connect(engine, &MasterEngine::lineFramesReady, tracker, &FindingsTracker::addFrames);
    QObject::connect(engine, &MasterEngine::commandFinished, tracker, &FindingsTracker::addCommand);
    QObject::connect(&signalNotifier, &SignalNotifier::received, runner, &MasterRunner::interrupt);
    QObject::connect(runner, &MasterRunner::finished, &app, finished);
    QTimer::singleShot(0, runner, &MasterRunner::start);
    return app.exec();
}
