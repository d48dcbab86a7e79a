// iec101-host: shows the IEC 60870-5-101 master view in a main window, with the
// view's status bar messages in the window's status bar, the line monitor in a dock
// below it with the findings tabbed with it, and the command form in a dock beside it (View
// menu shows and hides them). File > Export writes the event log or a response table to a
// CSV file; File > Import point list and Write report serve commissioning.
//
//   iec101-host [--port NAME] [--capture FILE] [--screenshot FILE [--after SECONDS]]
//               [--stats FILE] [--interrogation-every SECONDS] [--clock-sync-every SECONDS]
//               [--quit-after SECONDS] [--points FILE] [--report FILE] [--show-findings]
//
// --port selects NAME in the port list (a listed port or a path given in
// IEC101_EXTRA_PORTS) and presses Connect once the window is up. --capture records
// every frame on the line to a pcap file until the program ends (SIGINT and SIGTERM
// end it cleanly). --screenshot grabs the window into a PNG after SECONDS (default 5)
// and quits; it works under Xvfb and with QT_QPA_PLATFORM=offscreen. The last four
// serve long unattended runs (scripts/soak): per-minute figures into FILE, a general
// interrogation and an addressed clock sync pressed in the command panel at a fixed
// period, and a quit. --points imports the station's signal list at start, --report
// writes the commissioning report (PDF, findings beside it as FILE.csv) as the program ends,
// --show-findings puts the findings in front of the line monitor.

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDockWidget>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <limits>
#include <sys/socket.h>
#include <unistd.h>

#include <iec101view.h>

#include "soakstats.h"

namespace {

// Picks the port in the view's list and presses Connect, as the operator would.
bool connectTo(iec101::Iec101View* view, const QString& port)
{
    auto* ports = view->findChild<QComboBox*>(QStringLiteral("portComboBox"));
    auto* connectButton = view->findChild<QPushButton*>(QStringLiteral("connectButton"));
    if (!ports || !connectButton)
        return false;
    const int index = ports->findText(port);
    if (index < 0) {
        std::fprintf(stderr, "iec101-host: port %s is not in the port list\n", qPrintable(port));
        return false;
    }
    ports->setCurrentIndex(index);
    connectButton->click();
    return true;
}

// SIGINT and SIGTERM quit the event loop, so that a capture is closed and the view
// winds its engine down as on a normal exit. The handler only writes to a socket pair;
// the event loop reads it.
int signalSockets[2] = {-1, -1};

void quitOnSignal(int)
{
    const char byte = 1;
    if (::write(signalSockets[0], &byte, 1) < 0) {
        // Nothing to do: the process ends anyway if the loop never reads it.
    }
}

void installQuitOnSignal(QObject* context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier] {
        notifier->setEnabled(false);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = quitOnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Presses a button of the command panel every period, as an operator would; prepare
// sets the panel up before each press. False if the panel has no such button.
bool pressEvery(iec101::Iec101View* view, const char* button, int intervalMs,
                const std::function<void()>& prepare)
{
    auto* target = view->findChild<QPushButton*>(QLatin1String(button));
    if (!target)
        return false;
    auto* timer = new QTimer(view);
    QObject::connect(timer, &QTimer::timeout, target, [target, prepare] {
        prepare();
        target->click();
    });
    timer->start(intervalMs);
    return true;
}

// A period given in seconds as milliseconds for a timer, or -1 if it is not a number of at
// least one millisecond that a timer can hold (about 24 days): a zero interval would press
// a button on every pass of the event loop, and a larger one would wrap around.
int milliseconds(const QCommandLineParser& parser, const QCommandLineOption& option, double least = 0.001)
{
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || !(value >= least) || value > std::numeric_limits<int>::max() / 1000.0)
        return -1;
    return int(value * 1000);
}

// File > Export entries: each asks for a file and reports the outcome on the status bar.
void addExportMenu(QMainWindow* window, iec101::Iec101View* view)
{
    using Table = iec101::Iec101View::ResponseTable;
    struct Entry
    {
        const char* name;
        const char* text;
        const char* file;
        std::function<bool(const QString&)> write;
    };
    const Entry entries[] = {
        {"exportEventLogAction", "Export event log...", "event-log.csv",
         [view](const QString& path) {
             return view->exportEventLog(path);
         }},
        {"exportSingleAction", "Export Single table...", "single.csv",
         [view](const QString& path) {
             return view->exportTable(Table::Single, path);
         }},
        {"exportDoubleAction", "Export Double table...", "double.csv",
         [view](const QString& path) {
             return view->exportTable(Table::Double, path);
         }},
        {"exportMeasuredAction", "Export Measured table...", "measured.csv",
         [view](const QString& path) {
             return view->exportTable(Table::Measured, path);
         }},
        {"exportTotalAction", "Export Intergrated total table...", "total.csv",
         [view](const QString& path) {
             return view->exportTable(Table::IntegratedTotal, path);
         }},
    };
    QMenu* fileMenu = window->menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    for (const Entry& entry : entries) {
        QAction* action = fileMenu->addAction(QLatin1String(entry.text));
        action->setObjectName(QLatin1String(entry.name));
        QObject::connect(action, &QAction::triggered, window, [window, view, entry] {
            const QString path =
                QFileDialog::getSaveFileName(window, QStringLiteral("Export CSV"), QLatin1String(entry.file),
                                             QStringLiteral("CSV files (*.csv)"));
            if (path.isEmpty())
                return;
            window->statusBar()->showMessage(entry.write(path) ? QStringLiteral("Exported to ") + path
                                                               : view->exportErrorString());
        });
    }
}

// File > Import point list and Write report: each asks for a file and reports the outcome
// on the status bar (rows of the list that were left out in a message box).
void addCommissioningMenu(QMainWindow* window, iec101::Iec101View* view)
{
    QMenu* fileMenu = window->menuBar()->findChild<QMenu*>(QStringLiteral("fileMenu"));
    if (!fileMenu)
        return;
    fileMenu->addSeparator();
    QAction* importAction = fileMenu->addAction(QStringLiteral("Import point list..."));
    importAction->setObjectName(QStringLiteral("importPointListAction"));
    QObject::connect(importAction, &QAction::triggered, window, [window, view] {
        const QString path =
            QFileDialog::getOpenFileName(window, QStringLiteral("Import point list"), QString(),
                                         QStringLiteral("Point lists (*.csv);;All files (*)"));
        if (path.isEmpty())
            return;
        const bool loaded = view->importPointList(path);
        const QStringList problems = view->pointListProblems();
        window->statusBar()->showMessage(
            loaded ? QStringLiteral("Imported %1 (%2 rows left out)").arg(path).arg(problems.size())
                   : QStringLiteral("Not imported: %1").arg(problems.value(0)));
        if (loaded && !problems.isEmpty())
            QMessageBox::warning(window, QStringLiteral("Point list"),
                                 problems.mid(0, 20).join(QLatin1Char('\n')));
    });
    QAction* reportAction = fileMenu->addAction(QStringLiteral("Write report..."));
    reportAction->setObjectName(QStringLiteral("writeReportAction"));
    QObject::connect(reportAction, &QAction::triggered, window, [window, view] {
        const QString path =
            QFileDialog::getSaveFileName(window, QStringLiteral("Write report"), QStringLiteral("report.pdf"),
                                         QStringLiteral("PDF files (*.pdf)"));
        if (path.isEmpty())
            return;
        window->statusBar()->showMessage(view->writeReport(path) ? QStringLiteral("Report written to ") + path
                                                                 : view->reportErrorString());
    });
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("iec101"));
    QCoreApplication::setApplicationName(QStringLiteral("iec101-host"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("IEC 60870-5-101 master for one slave on one serial line."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Select port <name> and connect to it at start."),
                                        QStringLiteral("name"));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"), QStringLiteral("Save a picture of the window to <file> and quit."),
        QStringLiteral("file"));
    const QCommandLineOption afterOption(QStringLiteral("after"),
                                         QStringLiteral("Seconds to wait before the screenshot (default 5)."),
                                         QStringLiteral("seconds"), QStringLiteral("5"));
    const QCommandLineOption captureOption(
        QStringLiteral("capture"),
        QStringLiteral("Record every frame on the line to the pcap file <file> until the program ends."),
        QStringLiteral("file"));
    const QCommandLineOption statsOption(
        QStringLiteral("stats"),
        QStringLiteral("Write memory, CPU, longest GUI stall and events received to <file> each minute."),
        QStringLiteral("file"));
    const QCommandLineOption interrogationOption(
        QStringLiteral("interrogation-every"),
        QStringLiteral("Send a general interrogation every <seconds>."), QStringLiteral("seconds"));
    const QCommandLineOption clockSyncOption(QStringLiteral("clock-sync-every"),
                                             QStringLiteral("Send a clock sync every <seconds>."),
                                             QStringLiteral("seconds"));
    const QCommandLineOption quitOption(QStringLiteral("quit-after"), QStringLiteral("Quit after <seconds>."),
                                        QStringLiteral("seconds"));
    const QCommandLineOption pointsOption(
        QStringLiteral("points"), QStringLiteral("Import the station's point list (CSV) <file> at start."),
        QStringLiteral("file"));
    const QCommandLineOption reportOption(
        QStringLiteral("report"),
        QStringLiteral("Write the commissioning report (PDF) to <file> before the screenshot or quit."),
        QStringLiteral("file"));
    const QCommandLineOption showFindingsOption(
        QStringLiteral("show-findings"), QStringLiteral("Show the findings in front of the line monitor."));
    parser.addOptions({portOption, captureOption, screenshotOption, afterOption, statsOption,
                       interrogationOption, clockSyncOption, quitOption, pointsOption, reportOption,
                       showFindingsOption});
    parser.process(app);

    for (const QCommandLineOption* option : {&interrogationOption, &clockSyncOption, &quitOption}) {
        if (parser.isSet(*option) && milliseconds(parser, *option) < 0) {
            std::fprintf(stderr, "iec101-host: --%s needs a number of seconds from 0.001 to 2147483\n",
                         qPrintable(option->names().first()));
            return 2;
        }
    }

    const int afterMs = milliseconds(parser, afterOption, 0);
    if (afterMs < 0) {
        std::fprintf(stderr, "iec101-host: --after needs a number of seconds from 0 to 2147483\n");
        return 2;
    }

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("IEC 101 master"));
    auto* view = new iec101::Iec101View(&window);
    window.setCentralWidget(view);
    iec101::LineMonitor* monitor = view->lineMonitor();
    auto* monitorDock = new QDockWidget(QStringLiteral("Line monitor"), &window);
    monitorDock->setObjectName(QStringLiteral("monitorDock"));
    monitorDock->setWidget(monitor);
    window.addDockWidget(Qt::BottomDockWidgetArea, monitorDock);
    addExportMenu(&window, view);
    // The findings beside the view, tabbed with the line monitor; a finding's frame brings
    // the monitor to the front.
    auto* findingsDock = new QDockWidget(QStringLiteral("Findings"), &window);
    findingsDock->setObjectName(QStringLiteral("findingsDock"));
    findingsDock->setWidget(view->findingsPanel());
    window.addDockWidget(Qt::BottomDockWidgetArea, findingsDock);
    window.tabifyDockWidget(monitorDock, findingsDock);
    monitorDock->raise();
    QObject::connect(view->findingsPanel(), &iec101::FindingsPanel::frameRequested, monitorDock,
                     [monitorDock] {
                         monitorDock->show();
                         monitorDock->raise();
                     });
    addCommissioningMenu(&window, view);
    if (parser.isSet(showFindingsOption))
        findingsDock->raise();
    QMenu* viewMenu = window.menuBar()->addMenu(QStringLiteral("&View"));
    viewMenu->setObjectName(QStringLiteral("viewMenu"));
    viewMenu->addAction(monitorDock->toggleViewAction());
    viewMenu->addAction(findingsDock->toggleViewAction());
    auto* formDock = new QDockWidget(QStringLiteral("Commands"), &window);
    formDock->setObjectName(QStringLiteral("commandFormDock"));
    formDock->setWidget(view->commandForm());
    window.addDockWidget(Qt::RightDockWidgetArea, formDock);
    viewMenu->addAction(formDock->toggleViewAction());
    // Room for the status text, the table headers and a dozen monitor rows; the layout
    // sets the minimum.
    window.resize(1400, 1250);
    window.resizeDocks({monitorDock}, {360}, Qt::Vertical);
    QStatusBar* statusBar = window.statusBar();
    const auto showMessage = [statusBar](const QString& text) {
        statusBar->showMessage(text);
    };
    QObject::connect(view, &iec101::Iec101View::setStatusBarMessage, statusBar, showMessage);
    QObject::connect(monitor, &iec101::LineMonitor::recordingFailed, statusBar,
                     [showMessage](const QString& text) {
                         std::fprintf(stderr, "iec101-host: %s\n", qPrintable(text));
                         showMessage(text);
                     });
    installQuitOnSignal(&window);
    if (parser.isSet(pointsOption) && !view->importPointList(parser.value(pointsOption))) {
        std::fprintf(stderr, "iec101-host: %s\n", qPrintable(view->pointListProblems().value(0)));
        return 2;
    }
    for (const QString& problem : view->pointListProblems())
        std::fprintf(stderr, "iec101-host: %s: %s\n", qPrintable(parser.value(pointsOption)),
                     qPrintable(problem));
    // The report is written as the program ends (before a screenshot is taken, or on quit).
    const auto writeReport = [&parser, &reportOption, view] {
        if (parser.isSet(reportOption) && !view->writeReport(parser.value(reportOption)))
            std::fprintf(stderr, "iec101-host: %s\n", qPrintable(view->reportErrorString()));
    };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, view, writeReport);
    // Frames flow only while connected, so recording from here on records from the connect.
    if (parser.isSet(captureOption))
        monitor->startRecording(parser.value(captureOption));
    window.show();

    if (parser.isSet(statsOption)) {
        auto* stats = new SoakStats(view, &window);
        if (!stats->start(parser.value(statsOption))) {
            std::fprintf(stderr, "iec101-host: cannot write %s: %s\n", qPrintable(parser.value(statsOption)),
                         qPrintable(stats->errorString()));
            return 1;
        }
    }
    bool pressed = true;
    if (parser.isSet(interrogationOption)) {
        auto* general = view->findChild<QRadioButton*>(QStringLiteral("generalInterrogationRadio"));
        pressed =
            pressEvery(view, "interrogationSendButton", milliseconds(parser, interrogationOption), [general] {
                if (general)
                    general->click();
            });
    }
    if (parser.isSet(clockSyncOption)) {
        auto* broadcast = view->findChild<QCheckBox*>(QStringLiteral("broadcastCheckBox"));
        pressed = pressed &&
                  pressEvery(view, "timeSyncSendButton", milliseconds(parser, clockSyncOption), [broadcast] {
                      if (broadcast)
                          broadcast->setChecked(false);
                  });
    }
    if (!pressed) {
        std::fprintf(stderr, "iec101-host: the command panel has no such button\n");
        return 1;
    }
    if (parser.isSet(quitOption))
        QTimer::singleShot(milliseconds(parser, quitOption), &app, &QCoreApplication::quit);

    if (parser.isSet(portOption)) {
        const QString port = parser.value(portOption);
        QTimer::singleShot(0, view, [view, port] { connectTo(view, port); });
    }

    int result = 0;
    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        QTimer::singleShot(afterMs, &window, [&window, &result, file] {
            if (!window.grab().save(file, "PNG")) {
                std::fprintf(stderr, "iec101-host: cannot write %s\n", qPrintable(file));
                result = 1;
            }
            QCoreApplication::quit();
        });
    }

    const int loopResult = app.exec();
    return result != 0 ? result : loopResult;
}
