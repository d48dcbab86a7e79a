// The line monitor fed batch by batch the way the engine hands frames over: the idle
// polling filter (also for a poll answered in the next batch), the frame limit, pause
// and clear, and recordings whose file cannot be written.
#include <QtTest>
#include <QtWidgets>

#include <csignal>
#include <sys/resource.h>

#include "framebuilder.h"
#include "linemonitor.h"

using namespace iec101;

using iec101::LineMonitor;

namespace {

LineFrame frame(bool sent, const QByteArray& octets)
{
    static qint64 time = 1765000000000000;
    LineFrame f;
    f.timeUs = ++time;
    f.sent = sent;
    f.octets = octets;
    return f;
}

// The master's class 2 poll and the slave's "no data" answer: idle polling.
LineFrame poll()
{
    return frame(true, FrameBuilder::fixed(0x7B));
}

LineFrame noData()
{
    return frame(false, FrameBuilder::fixed(0x09));
}

LineFrame classOneRequest(int address = 1)
{
    return frame(true, FrameBuilder::fixed(0x5A, address));
}

LineFrame dataAnswer()
{
    return frame(false, FrameBuilder::variable(0x08, FrameBuilder::interrogatedPoints(3)));
}

int rows(LineMonitor& monitor)
{
    return monitor.findChild<QTableView*>(QStringLiteral("frameTable"))->model()->rowCount();
}

QString summaryAt(LineMonitor& monitor, int row)
{
    const QAbstractItemModel* model = monitor.findChild<QTableView*>(QStringLiteral("frameTable"))->model();
    return model->index(row, 2).data().toString();
}

void click(LineMonitor& monitor, const char* name)
{
    monitor.findChild<QAbstractButton*>(QLatin1String(name))->click();
}

} // namespace

class TestLineMonitor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void idlePollingFilter();
    void keepsTheLastFrames();
    void pauseAndClear();
    void unwritableCapture_data();
    void unwritableCapture();
};

void TestLineMonitor::idlePollingFilter()
{
    LineMonitor monitor;
    monitor.addFrames({poll(), noData(), classOneRequest(), dataAnswer(), poll(), dataAnswer(), poll()}, 0);
    QCOMPARE(rows(monitor), 7);

    click(monitor, "hideIdleCheckBox");
    // Left: the class 1 exchange, the poll answered with data, the poll still unanswered.
    QCOMPARE(rows(monitor), 5);
    // Its answer arrives with the next batch and both go.
    monitor.addFrames({noData(), classOneRequest()}, 0);
    QCOMPARE(rows(monitor), 5);
    QVERIFY(summaryAt(monitor, 4).contains(QStringLiteral("REQUEST_CLASS_1")));
    // A poll that timed out is not idle.
    monitor.addFrames({poll(), poll(), noData()}, 0);
    QCOMPARE(rows(monitor), 6);

    click(monitor, "hideIdleCheckBox");
    QCOMPARE(rows(monitor), 12);
}

void TestLineMonitor::keepsTheLastFrames()
{
    LineMonitor monitor;
    constexpr int total = LineMonitor::kMaxFrames + 5000;
    for (int batch = 0; batch < total / 1000; ++batch) {
        QVector<LineFrame> frames;
        for (int i = 0; i < 1000; ++i)
            frames.append(classOneRequest(batch * 1000 + i));
        monitor.addFrames(frames, 0);
    }
    QCOMPARE(rows(monitor), LineMonitor::kMaxFrames);
    QVERIFY(summaryAt(monitor, 0).endsWith(QStringLiteral("link 5000")));
    QVERIFY(summaryAt(monitor, rows(monitor) - 1).endsWith(QStringLiteral("link %1").arg(total - 1)));
    QVERIFY(monitor.statisticsText().startsWith(QStringLiteral("Sent %1,").arg(total)));
}

void TestLineMonitor::pauseAndClear()
{
    LineMonitor monitor;
    monitor.addFrames({classOneRequest(), dataAnswer()}, 0);
    click(monitor, "pauseButton");
    monitor.addFrames({classOneRequest(), dataAnswer()}, 3);
    // Held back from the table, but counted at once.
    QCOMPARE(rows(monitor), 2);
    QVERIFY2(monitor.statisticsText().startsWith(QStringLiteral("Sent 2, received 2,")),
             qPrintable(monitor.statisticsText()));
    QVERIFY(monitor.statisticsText().contains(QStringLiteral("dropped 3")));
    click(monitor, "pauseButton");
    QCOMPARE(rows(monitor), 4);

    click(monitor, "clearButton");
    QCOMPARE(rows(monitor), 0);
    QVERIFY(monitor.statisticsText().startsWith(QStringLiteral("Sent 0, received 0,")));
}

void TestLineMonitor::unwritableCapture_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("fileSizeLimit"); // octets a file may grow to, 0 = no limit
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("reason");

    // A read-only sysfs attribute refuses writing even to root.
    QTest::newRow("no permission") << "/sys/devices/system/cpu/online" << 0 << false
                                   << ": cannot open /sys/devices/system/cpu/online: ";
    QTest::newRow("disk full at once")
        << "/dev/full" << 0 << false << ": cannot write /dev/full: No space left on device";
    QTest::newRow("no room left while recording")
        << QString() << 40 << true << ": cannot write %1: File too large";
}

void TestLineMonitor::unwritableCapture()
{
    QFETCH(QString, path);
    QFETCH(int, fileSizeLimit);
    QFETCH(bool, starts);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("capture.pcap"));
        reason = reason.arg(path);
    }
    // The file header fits under the limit, the first batch does not.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto restore = qScopeGuard([&saved] { setrlimit(RLIMIT_FSIZE, &saved); });
    if (fileSizeLimit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(fileSizeLimit), saved.rlim_max};
        QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
    }

    LineMonitor monitor;
    QSignalSpy failed(&monitor, &LineMonitor::recordingFailed);
    QCOMPARE(monitor.startRecording(path), starts);
    monitor.addFrames({classOneRequest(), dataAnswer()}, 0);
    QCOMPARE(failed.size(), 1);
    const QString message = failed.first().first().toString();
    QVERIFY2(message.startsWith(QStringLiteral("Recording stopped") + reason), qPrintable(message));
    QVERIFY(!monitor.isRecording());
    QCOMPARE(monitor.findChild<QLabel*>(QStringLiteral("recordingLabel"))->text(), message);

    // The line goes on being shown, and nothing is written any more.
    monitor.addFrames({classOneRequest(), dataAnswer()}, 0);
    QCOMPARE(rows(monitor), 4);
    QCOMPARE(failed.size(), 1);
}

QTEST_MAIN(TestLineMonitor)
#include "tst_linemonitor.moc"
