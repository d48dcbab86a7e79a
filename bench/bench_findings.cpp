// Findings kept up to date in the real view at 1,000 objects/s: the view listens on a tap
// (listener on its worker thread) where a master polls a station of 2,000 points that
// reports spontaneous values (some outside their range, some invalid) and answers a
// general interrogation every 10 s; the view's point list has the station's 2,000 points,
// or 50,000 of which 48,000 the station does not have (every interrogation finds them
// missing again). A 1 ms precise timer on the GUI thread records how late each tick comes.
// Usage: bench_findings [seconds=20]

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "iec101view.h"
#include "ptypair.h"
#include "scratchsettings.h"
#include "tapfeed.h"
#include "viewdriver.h"

namespace {

constexpr int kStationPoints = 2000;
constexpr int kObjectsPerSecond = 1000;

QString writeList(const QTemporaryDir& dir, int listed)
{
    QByteArray csv = "ioa,type,name,unit,expected\n";
    for (int n = 0; n < listed; ++n) {
        // Beyond the station's points, addresses it never reports.
        const int address = n < kStationPoints ? TapFeed::pointAddress(n) : 1000000 + n;
        csv += QByteArray::number(address) +
               (TapFeed::isMeasured(n) ? ",M_ME_NC_1,Voltage " + QByteArray::number(n) + ",kV,200..240\n"
                                       : ",M_SP_NA_1,Alarm " + QByteArray::number(n) + ",,\n");
    }
    const QString path = dir.filePath(QStringLiteral("list%1.csv").arg(listed));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(csv);
    return path;
}

void run(int listed, int seconds)
{
    QTemporaryDir dir;
    PtyPair pty;
    if (!pty.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(pty.errorString()));
        return;
    }
    ViewDriver driver;
    driver.view()->resize(1400, 900);
    auto* view = static_cast<iec101::Iec101View*>(driver.view());
    view->findingsPanel()->setParent(nullptr); // placed on its own, as a host docks it
    view->findingsPanel()->resize(1200, 400);
    view->findingsPanel()->show();
    QElapsedTimer importClock;
    importClock.start();
    if (listed > 0 && !view->importPointList(writeList(dir, listed))) {
        std::fprintf(stderr, "list not imported\n");
        return;
    }
    const qint64 importMs = importClock.elapsed();
    driver.widget<QCheckBox>("listenCheckBox")->setChecked(true);
    driver.choosePort(pty.pathB());
    driver.clickConnect();
    QTest::qWait(500);

    TapFeed feed(kStationPoints, 20);
    feed.start(pty.pathA(), 0, kObjectsPerSecond, 10);

    std::vector<double> lateness;
    QStringList stalls; // those over 16 ms, and when
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back((now - last) / 1e6 - 1.0);
        if (lateness.back() > 16)
            stalls
                << QStringLiteral("%1 ms at %2 s").arg(lateness.back(), 0, 'f', 1).arg(now / 1e9, 0, 'f', 1);
        last = now;
    });
    probe.start(1);
    {
        QEventLoop loop;
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    probe.stop();
    feed.requestStop();
    QElapsedTimer stopping;
    stopping.start();
    while (!feed.finished() && stopping.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    feed.stop();
    QTest::qWait(1000);
    const QAbstractItemModel* findings =
        view->findingsPanel()->findChild<QTableView*>(QStringLiteral("findingsTable"))->model();

    std::sort(lateness.begin(), lateness.end());
    const auto percentile = [&](double p) {
        return lateness.empty() ? 0.0 : lateness[size_t(p * (lateness.size() - 1))];
    };
    std::printf(
        "%s, station of %d, %d objects/s for %d s (%lld objects written), %d findings\n",
        qPrintable(listed > 0 ? QStringLiteral("List of %1 points").arg(listed) : QStringLiteral("No list")),
        kStationPoints, kObjectsPerSecond, seconds, static_cast<long long>(feed.objectsWritten()),
        findings->rowCount());
    std::printf("  imported into the view (read, checked, kept with the settings) in %lld ms\n",
                static_cast<long long>(importMs));
    std::printf("  1 ms probe: longest stall %.1f ms, p99 %.2f ms, p99.9 %.2f ms, median %.2f ms, stalls "
                "over 16 ms: %d\n",
                percentile(1.0), percentile(0.99), percentile(0.999), percentile(0.5),
                int(std::count_if(lateness.begin(), lateness.end(), [](double v) { return v > 16.0; })));
    if (!stalls.isEmpty())
        std::printf("  (%s; the interrogations end at about 2, 12, 22 s)\n",
                    qPrintable(stalls.join(QStringLiteral(", "))));
    driver.clickDisconnect();
    QTest::qWait(200);
    delete view->findingsPanel();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    ScratchSettings scratch(QStringLiteral("bench_findings"));
    // The same feed without a list: what the tables, the log and the monitor cost alone.
    run(0, seconds);
    run(kStationPoints, seconds);
    run(50000, seconds);
    return 0;
}
