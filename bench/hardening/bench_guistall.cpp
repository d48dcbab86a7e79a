// Longest stall of the GUI thread while the station streams spontaneous events into
// the real view (engine on its worker thread, event log, response table, command
// panel). A 1 ms precise timer on the GUI thread records how late each of its ticks
// comes; the longest lateness is the longest time the event loop could not react.
// Usage: bench_guistall [events per second=100] [seconds=20]

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "iec101view.h"
#include "ptypair.h"
#include "slavesim.h"
#include "viewdriver.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double rate = argc > 1 ? QByteArray(argv[1]).toDouble() : 100.0;
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 20;

    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("iec101-bench"));
    QCoreApplication::setApplicationName(QStringLiteral("bench_guistall"));
    QSettings().setValue(QStringLiteral("IEC101/Parity"), QStringLiteral("NoParity"));

    PtyPair pty;
    if (!pty.start()) {
        std::fprintf(stderr, "pty: %s\n", qPrintable(pty.errorString()));
        return 1;
    }
    qputenv("IEC101_EXTRA_PORTS", pty.pathA().toLocal8Bit());
    slavesim::Config config;
    config.portPath = pty.pathB();
    config.parity = 'N';
    slavesim::SlaveSim slave(config);
    if (!slave.start()) {
        std::fprintf(stderr, "station: %s\n", qPrintable(slave.errorString()));
        return 1;
    }

    auto view = std::make_unique<iec101::Iec101View>(nullptr);
    view->resize(1400, 900);
    view->show();
    ViewDriver driver(view.get());
    driver.choosePort(pty.pathA());
    driver.clickConnect();
    if (!QTest::qWaitFor([&] { return driver.status() == QLatin1String("Available"); }, 30000)) {
        std::fprintf(stderr, "the view did not reach Available\n");
        return 1;
    }
    QTest::qWait(500);

    const QAbstractItemModel* log = driver.widget<QTreeView>("eventTree")->model();
    const int rowsBefore = log->rowCount();

    // Events from the station at a steady rate, alternating single points and time-tagged
    // double points, injected from a timer of their own so that the GUI thread's stalls
    // do not slow the stream down.
    QThread injector;
    QTimer inject;
    inject.setTimerType(Qt::PreciseTimer);
    inject.setInterval(std::max(1, int(1000.0 / rate)));
    int injected = 0;
    QObject::connect(&inject, &QTimer::timeout, [&] {
        if (injected % 2 == 0)
            slave.injectSinglePoint(slavesim::ioa::kFirstSinglePoint + injected % 10, injected % 4 == 0);
        else
            slave.injectDoublePoint(slavesim::ioa::kObjectStateBase + 1 + injected % 10, 1 + injected % 2);
        ++injected;
    });
    inject.moveToThread(&injector);
    injector.start();
    QMetaObject::invokeMethod(&inject, QOverload<>::of(&QTimer::start));

    std::vector<double> lateness;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back((now - last) / 1e6 - 1.0);
        last = now;
    });
    probe.start(1);
    {
        // A plain event loop: QTest::qWait would sleep 10 ms between its rounds.
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    probe.stop();
    QMetaObject::invokeMethod(&inject, &QTimer::stop, Qt::BlockingQueuedConnection);
    injector.quit();
    injector.wait();
    QTest::qWait(1500); // what is still on its way

    std::vector<double> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    auto percentile = [&](double p) {
        return sorted.empty() ? 0.0 : sorted[size_t(p * (sorted.size() - 1))];
    };
    const int logged = log->rowCount() - rowsBefore;
    std::printf("GUI thread with %.0f events/s for %d s (%d injected, %d in the event log)\n", rate, seconds,
                injected, logged);
    std::printf("  1 ms probe: longest stall %.1f ms, p99 %.2f ms, p99.9 %.2f ms, median %.2f ms, "
                "stalls over 16 ms: %d\n",
                percentile(1.0), percentile(0.99), percentile(0.999), percentile(0.5),
                int(std::count_if(sorted.begin(), sorted.end(), [](double v) { return v > 16.0; })));
    view.reset();
    slave.stop();
    return 0;
}
