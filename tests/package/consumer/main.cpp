// Shows the installed view in a window of its own, the way a host application does,
// and checks that it came up complete. Exits non-zero if anything is missing.

#include <QApplication>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

#include <iec101view.h>

int main(int argc, char* argv[])
{
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("iec101-consumer"));
    QCoreApplication::setApplicationName(QStringLiteral("consumer"));

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* view = new iec101::Iec101View(&window);
    layout->addWidget(view);
    // The line monitor is the host's to place; placed, it shows.
    layout->addWidget(view->lineMonitor());
    QObject::connect(view->lineMonitor(), &iec101::LineMonitor::recordingFailed, &window, [] {});
    int received = 0;
    QObject::connect(view, &iec101::Iec101View::setStatusBarMessage, &window, [&received] { ++received; });
    window.show();

    int result = 1;
    QTimer::singleShot(200, &app, [&] {
        const bool complete = view->isVisible() && view->objectName() == QLatin1String("IEC101") &&
                              view->findChild<QPushButton*>(QStringLiteral("connectButton")) != nullptr &&
                              view->lineMonitor()->isVisible() && !view->lineMonitor()->isRecording();
        std::printf("consumer: view %s\n", complete ? "shown" : "incomplete");
        result = complete ? 0 : 1;
        app.quit();
    });
    app.exec();
    return result;
}
