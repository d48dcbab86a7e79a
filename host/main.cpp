// iec101-host: shows the IEC 60870-5-101 master view in a main window, with the
// view's status bar messages in the window's status bar.
//
//   iec101-host [--port NAME] [--screenshot FILE [--after SECONDS]]
//
// --port selects NAME in the port list (a listed port or a path given in
// IEC101_EXTRA_PORTS) and presses Connect once the window is up. --screenshot grabs
// the window into a PNG after SECONDS (default 5) and quits; it works under Xvfb and
// with QT_QPA_PLATFORM=offscreen.

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QMainWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

#include <iec101view.h>

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
    parser.addOptions({portOption, screenshotOption, afterOption});
    parser.process(app);

    bool ok = false;
    const double after = parser.value(afterOption).toDouble(&ok);
    if (!ok || after < 0) {
        std::fprintf(stderr, "iec101-host: --after needs a number of seconds\n");
        return 2;
    }

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("IEC 101 master"));
    auto* view = new iec101::Iec101View(&window);
    window.setCentralWidget(view);
    // Room for the status text and the table headers; the layout sets the minimum.
    window.resize(1200, 900);
    QStatusBar* statusBar = window.statusBar();
    QObject::connect(view, &iec101::Iec101View::setStatusBarMessage, statusBar,
                     [statusBar](const QString& text) { statusBar->showMessage(text); });
    window.show();

    if (parser.isSet(portOption)) {
        const QString port = parser.value(portOption);
        QTimer::singleShot(0, view, [view, port] { connectTo(view, port); });
    }

    int result = 0;
    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        QTimer::singleShot(int(after * 1000), &window, [&window, &result, file] {
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
