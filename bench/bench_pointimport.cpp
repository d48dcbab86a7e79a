// A large station's signal list: 50,000 rows with every column filled (names, units,
// scaling, state texts, expected ranges, groups) read from a file, then checked against a
// general interrogation that reports every point, and the report's content made from it.
// Usage: bench_pointimport [rows=50000]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include <iec60870_common.h>

#include "commissioningreport.h"
#include "findingstracker.h"
#include "ft12.h"
#include "pointlist.h"

using namespace iec101;

namespace {

QByteArray list(int rows)
{
    QByteArray csv = "ioa,type,name,unit,scale,offset,states,expected,group\r\n";
    for (int n = 0; n < rows; ++n) {
        const int ioa = 10000 + n;
        if (n % 2 == 0)
            csv += QByteArray::number(ioa) + ",M_DP_TB_1,\"Feeder " + QByteArray::number(n) +
                   ", breaker\",,,,1=open;2=closed,closed,Switchgear\r\n";
        else
            csv += QByteArray::number(ioa) + ",M_ME_NB_1,Voltage " + QByteArray::number(n) +
                   ",kV,0.01,0,,200..240,Measurements\r\n";
    }
    return csv;
}

QByteArray header(int typeId, int count, int cause)
{
    QByteArray a;
    return a.append(char(typeId))
        .append(char(count))
        .append(char(cause))
        .append(char(0))
        .append(char(1))
        .append(char(0));
}

QByteArray address(int ioa)
{
    return QByteArray().append(char(ioa & 0xFF)).append(char((ioa >> 8) & 0xFF)).append(char(ioa >> 16));
}

// The interrogation of the first `rows` listed points, 20 objects a frame, and its termination.
QVector<LineFrame> interrogation(int rows)
{
    QVector<LineFrame> frames;
    const auto add = [&frames](bool sent, const QByteArray& asdu) {
        LineFrame frame;
        frame.timeUs = 1700000000000000LL + frames.size();
        frame.sent = sent;
        frame.octets = Ft12::variableFrame(sent ? 0x73 : 0x08, 1, 2, asdu);
        frames << frame;
    };
    add(true, header(C_IC_NA_1, 1, 6) + address(0) + QByteArray(1, 20));
    for (int first = 0; first < rows; first += 20) {
        QByteArray doubles;
        QByteArray scaled;
        int doubleCount = 0;
        int scaledCount = 0;
        for (int n = first; n < qMin(rows, first + 20); ++n) {
            if (n % 2 == 0) {
                doubles += address(10000 + n) + QByteArray(1, 2);
                ++doubleCount;
            } else {
                const qint16 raw = qint16(22000 + n % 100);
                scaled += address(10000 + n) + QByteArray(reinterpret_cast<const char*>(&raw), 2) +
                          QByteArray(1, 0);
                ++scaledCount;
            }
        }
        add(false, header(M_DP_NA_1, doubleCount, 20) + doubles);
        add(false, header(M_ME_NB_1, scaledCount, 20) + scaled);
    }
    add(false, header(C_IC_NA_1, 1, 10) + address(0) + QByteArray(1, 20));
    return frames;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 50000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("points.csv"));
    const QByteArray csv = list(rows);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size())
        return 1;
    file.close();

    QElapsedTimer clock;
    clock.start();
    QVector<PointList::Problem> problems;
    const PointList points = PointList::fromFile(path, &problems);
    const qint64 readMs = clock.elapsed();

    const QVector<LineFrame> frames = interrogation(rows);
    FindingsTracker tracker;
    tracker.setPointList(1, points);
    clock.restart();
    tracker.addFrames(frames);
    const qint64 checkMs = clock.elapsed();

    clock.restart();
    const QVector<FindingsTracker::PointCheck> checks = tracker.pointChecks();
    int passed = 0;
    for (const FindingsTracker::PointCheck& check : checks)
        passed += check.pass() ? 1 : 0;
    const qint64 checksMs = clock.elapsed();

    clock.restart();
    const QString html = CommissioningReport::html(CommissioningReport::Session(), tracker);
    const qint64 htmlMs = clock.elapsed();

    // A station that has only a few of the listed points: every interrogation finds the
    // rest missing, the first time as new findings, then counting them again.
    const int reported = qMin(rows, 2000);
    const QVector<LineFrame> few = interrogation(reported);
    FindingsTracker sparse;
    sparse.setPointList(1, points);
    clock.restart();
    sparse.addFrames(few);
    const qint64 firstPartMs = clock.elapsed();
    sparse.finishChecks();
    const qint64 firstMissingMs = clock.elapsed();
    const int missing = sparse.findings().size();
    clock.restart();
    sparse.addFrames(few);
    sparse.finishChecks();
    const qint64 againMissingMs = clock.elapsed();

    std::printf("Point list of %d rows (%.1f MB), %d loaded, %d problems\n", rows, csv.size() / 1e6,
                points.size(), int(problems.size()));
    std::printf("  read and parsed from the file: %lld ms\n", static_cast<long long>(readMs));
    std::printf("  general interrogation of every point (%d frames) checked: %lld ms, %d findings\n",
                int(frames.size()), static_cast<long long>(checkMs), int(tracker.findings().size()));
    std::printf("  point by point check: %lld ms, %d passed\n", static_cast<long long>(checksMs), passed);
    std::printf(
        "  interrogation of %d of them (%d frames): %d missing found in %lld ms, %lld ms of it in the\n"
        "  call that brought the termination (the rest a part at a time); the same again: %lld ms\n",
        reported, int(few.size()), missing, static_cast<long long>(firstMissingMs),
        static_cast<long long>(firstPartMs), static_cast<long long>(againMissingMs));
    std::printf("  report content: %lld ms, %.1f million characters of HTML\n",
                static_cast<long long>(htmlMs), html.size() / 1e6);
    return 0;
}
