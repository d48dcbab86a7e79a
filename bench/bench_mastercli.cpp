// iec101-master's command round trips against what the line itself needs: a read, a
// single and a double command (select and execute) and a clock sync, each as a run of
// the program with --no-initial and that one command, over a relay paced at 9600 and
// 38400 baud. Per kind, the median of several runs of
//   - the round trip the program reports ("ms" of its command record), and the line's
//     limit for the octets that crossed the relay (both directions) between the link's
//     "available" record and the command record, x 11 bits / baud;
//   - the wall time of the whole run (start to exit: link set-up, command, close), and
//     the line's limit for all octets of the run.
// Usage: bench_mastercli [runs=7]
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "benchfigures.h"
#include "linerelay.h"
#include "slavesimline.h"

namespace {

struct Run
{
    bool ok = false;
    double reportedMs = 0;
    double commandLimitMs = 0;
    double wallMs = 0;
    double runLimitMs = 0;
};

// One run of the program; the relay's octet counts are taken as its records arrive.
Run runOnce(SlaveSimLine& line, int baud, const QString& command)
{
    LineRelay* relay = line.relay();
    const auto octets = [relay] {
        return relay->masterByteCount() + relay->slaveByteCount();
    };
    const auto limitMs = [baud](qint64 count) {
        return benchfigures::lineMs(count, baud);
    };

    Run run;
    QProcess process;
    QByteArray pending;
    qint64 atStart = octets();
    qint64 atAvailable = -1;
    qint64 atCommand = -1;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
        pending += process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QJsonObject record = QJsonDocument::fromJson(pending.left(end)).object();
            pending.remove(0, end + 1);
            const QString event = record.value(QStringLiteral("event")).toString();
            if (event == QLatin1String("link") &&
                record.value(QStringLiteral("state")) == QLatin1String("available") && atAvailable < 0) {
                atAvailable = octets();
            } else if (event == QLatin1String("command")) {
                atCommand = octets();
                run.reportedMs = record.value(QStringLiteral("ms")).toDouble();
                const QString outcome = record.value(QStringLiteral("outcome")).toString();
                run.ok = outcome == QLatin1String("confirmed") || outcome == QLatin1String("terminated");
            }
        }
    });
    QElapsedTimer wall;
    wall.start();
    process.start(QStringLiteral(IEC101_MASTER), {"--port", line.masterPort(), "--parity", "N", "--baud",
                                                  QString::number(baud), "--no-initial", command});
    // Records reach the slot only from the event loop.
    while (process.state() != QProcess::NotRunning && wall.elapsed() < 60000)
        QTest::qWait(1);
    run.wallMs = wall.nsecsElapsed() / 1e6;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || atAvailable < 0 ||
        atCommand < 0)
        run.ok = false;
    run.commandLimitMs = limitMs(atCommand - atAvailable);
    run.runLimitMs = limitMs(octets() - atStart);
    return run;
}

struct Series
{
    const char* name;
    std::function<QString(int run)> command;
};

void measure(int baud, int runs)
{
    SlaveSimLine line;
    if (!line.start(SlaveSimLine::Transport::Relay, baud)) {
        std::printf("line at %d baud: %s\n", baud, qPrintable(line.errorString()));
        return;
    }
    const QVector<Series> series{
        {"read",
         [](int) {
             return QStringLiteral("C_RD_NA_1 %1").arg(slavesim::ioa::kFirstMeasured);
         }},
        {"single select+exec",
         [](int i) {
             return QStringLiteral("C_SC_NA_1 %1 %2 select")
                 .arg(slavesim::ioa::kFirstSingleCommand)
                 .arg(i % 2);
         }},
        {"double select+exec",
         [](int i) {
             return QStringLiteral("C_DC_NA_1 %1 %2 select")
                 .arg(slavesim::ioa::kDoubleCommandBase + 1)
                 .arg(1 + i % 2);
         }},
        {"clock sync",
         [](int) {
             return QStringLiteral("C_CS_NA_1");
         }},
    };
    for (const Series& s : series) {
        QVector<double> reported, commandLimit, wall, runLimit;
        int failed = 0;
        for (int i = 0; i < runs; ++i) {
            // The station's side of the relay goes quiet between runs.
            QTest::qWait(300);
            const Run run = runOnce(line, baud, s.command(i));
            if (!run.ok) {
                ++failed;
                continue;
            }
            reported << run.reportedMs;
            commandLimit << run.commandLimitMs;
            wall << run.wallMs;
            runLimit << run.runLimitMs;
        }
        const double ms = benchfigures::median(reported);
        const double limit = benchfigures::median(commandLimit);
        const double wallMs = benchfigures::median(wall);
        const double runLimitMs = benchfigures::median(runLimit);
        std::printf("%6d  %-19s %8.0f %8.0f %6.2f %9.0f %8.0f %6.2f", baud, s.name, ms, limit,
                    limit > 0 ? ms / limit : 0.0, wallMs, runLimitMs,
                    runLimitMs > 0 ? wallMs / runLimitMs : 0.0);
        if (failed)
            std::printf("  (%d of %d runs failed)", failed, runs);
        std::printf("\n");
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 7;
    std::printf("iec101-master, one command per run with --no-initial; medians of %d runs, ms\n", runs);
    std::printf("%6s  %-19s %8s %8s %6s %9s %8s %6s\n", "baud", "command", "reported", "limit", "ratio",
                "run wall", "limit", "ratio");
    for (int baud : {9600, 38400})
        measure(baud, runs);
    return 0;
}
