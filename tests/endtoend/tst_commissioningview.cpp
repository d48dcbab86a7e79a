// Commissioning in the view, operated through its widgets against the simulated station: a
// point list imported and remembered with the settings, names and engineering values in the
// tables and the log with the raw value at hand, the findings panel filled as data arrives,
// filtered, and leading to a finding's frame in the line monitor, the report written from the
// view; and listening on a tap while the test kit's master talks to the station, with the
// commands off and nothing sent.
#include <QtTest>
#include <QtWidgets>

#include <memory>

#include <iec60870_common.h>

#include "enginefixture.h"
#include "iec101view.h"
#include "linemonitormodel.h"
#include "scratchsettings.h"
#include "slavesimline.h"
#include "stationsline.h"
#include "viewdriver.h"

namespace ioa = slavesim::ioa;
using namespace iec101;

namespace {

constexpr int kLong = 30000;

QByteArray stationList()
{
    QByteArray rows = "ioa,type,name,unit,scale,states,expected\n"
                      "1001,M_SP_NA_1,Breaker Q1,,,0=off;1=on,\n";
    for (int ioa = ioa::kFirstSinglePoint + 1; ioa < ioa::kFirstSinglePoint + ioa::kSinglePointCount; ++ioa) {
        if (ioa != 1004)
            rows += QByteArray::number(ioa) + ",M_SP_NA_1,point,,,,\n";
    }
    rows += "1500,M_SP_NA_1,spare,,,,\n65537,1,local/remote,,,,\n";
    for (int n = 1; n <= ioa::kObjectCount; ++n)
        rows += QByteArray::number(ioa::kObjectStateBase + n) + ",M_DP_NA_1,switch,,,,\n";
    rows += "4001,M_ME_NC_1,voltage,kV,0.1,,0..1\n4002,M_ME_NB_1,current,A,,,\n4003,13,p,,,,\n4004,13,q,,,,\n"
            "4005,13,f,,,,\n";
    for (int ioa = ioa::kFirstCounter; ioa < ioa::kFirstCounter + ioa::kCounterCount; ++ioa)
        rows += QByteArray::number(ioa) + ",M_IT_NA_1,counter,,,,\n";
    return rows;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return QString();
    return path;
}

// The value cell of an address's row, or an invalid index.
QModelIndex valueCell(const ViewDriver& driver, const char* table, int address)
{
    const QAbstractItemModel* model = driver.widget<QTableView>(table)->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == QString::number(address))
            return model->index(row, 1);
    }
    return QModelIndex();
}

QStringList findingRows(const QAbstractItemModel* model)
{
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row)
        rows << model->index(row, 1).data().toString() + QLatin1Char(' ') +
                    model->index(row, 4).data().toString();
    rows.sort();
    return rows;
}

} // namespace

class TestCommissioningView : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void importedListIsRemembered();
    void sessionWithAPointList();
    void listenOnly();

private:
    ScratchSettings scratch{QStringLiteral("tst_commissioningview")};
};

void TestCommissioningView::importedListIsRemembered()
{
    QTemporaryDir dir;
    const QString list = writeFile(dir, QStringLiteral("list.csv"),
                                   "ioa,type,name\n1001,M_SP_NA_1,a\n1002,M_XX,b\n1003,1,c\n");
    const QString none = writeFile(dir, QStringLiteral("none.csv"), "address,kind\n1,1\n");
    {
        ViewDriver driver;
        auto* view = static_cast<Iec101View*>(driver.view());
        QVERIFY(view->importPointList(list));
        QCOMPARE(
            view->pointListProblems(),
            QStringList{"line 3: type: \"M_XX\" is no monitoring type (M_SP_NA_1 .. M_IT_TB_1 or 1..40)"});
        QCOMPARE(driver.widget<QLabel>("pointListLabel")->text(), QStringLiteral("2 listed point(s)"));
        // A file that is no list leaves the list in force as it was.
        QVERIFY(!view->importPointList(none));
        QVERIFY(view->pointListProblems().first().contains(QStringLiteral("no \"ioa\" column")));
        QVERIFY(!view->importPointList(dir.filePath(QStringLiteral("missing.csv"))));
        QCOMPARE(driver.widget<QLabel>("pointListLabel")->text(), QStringLiteral("2 listed point(s)"));
    }
    QFile::remove(list);
    // The next start has it, without the file.
    ViewDriver again;
    QCOMPARE(again.widget<QLabel>("pointListLabel")->text(), QStringLiteral("2 listed point(s)"));
}

void TestCommissioningView::sessionWithAPointList()
{
    SlaveSimLine line;
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    QTemporaryDir dir;
    ViewDriver driver;
    auto* view = static_cast<Iec101View*>(driver.view());
    QVERIFY(view->importPointList(writeFile(dir, QStringLiteral("station.csv"), stationList())));
    QVERIFY(driver.connectTo(line));

    // Found as the interrogation came in.
    const QAbstractItemModel* findings = driver.widget<QTableView>("findingsTable")->model();
    QTRY_COMPARE_WITH_TIMEOUT(
        findingRows(findings),
        (QStringList{"Missing 1500", "Not listed 1004", "Out of range 4001", "Wrong type 4002"}), kLong);

    // Names and engineering values in the tables, the raw value in the tooltip.
    const QModelIndex breaker = valueCell(driver, "singleView", 1001);
    QCOMPARE(breaker.data().toString(), QStringLiteral("Breaker Q1: off"));
    QVERIFY(breaker.data(Qt::ToolTipRole).toString().contains(QStringLiteral("raw value 0")));
    QCOMPARE(valueCell(driver, "measuredView", 4001).data().toString(), QStringLiteral("voltage: 1.05 kV"));
    QCOMPARE(valueCell(driver, "singleView", 1004).data().toString(), QStringLiteral("1"));
    // And in the log.
    line.slave().injectSinglePoint(1001, true);
    const QAbstractItemModel* log = driver.widget<QTreeView>("eventTree")->model();
    QTRY_VERIFY_WITH_TIMEOUT(log->rowCount() > 0, kLong);
    QCOMPARE(log->index(0, 2).data().toString(), QStringLiteral("1001 Breaker Q1"));
    QCOMPARE(log->index(0, 3).data().toString(), QStringLiteral("on"));
    QVERIFY(log->index(0, 3).data(Qt::ToolTipRole).toString().contains(QStringLiteral("raw value 1")));

    // One kind at a time, and from a finding to its frame.
    auto* kinds = driver.widget<QComboBox>("kindComboBox");
    kinds->setCurrentIndex(kinds->findText(QStringLiteral("Out of range")));
    QCOMPARE(findingRows(findings), QStringList{"Out of range 4001"});
    auto* table = driver.widget<QTableView>("findingsTable");
    table->setCurrentIndex(findings->index(0, 0));
    driver.widget<QAction>("showFrameAction")->trigger();
    auto* frames = driver.widget<QTableView>("frameTable");
    const QModelIndexList selected = frames->selectionModel()->selectedRows(LineMonitorModel::SummaryColumn);
    QCOMPARE(selected.size(), 1);
    QVERIFY2(selected.first().data().toString().contains(
                 QStringLiteral("M_ME_NC_1 (13), INTERROGATED_BY_STATION")),
             qPrintable(selected.first().data().toString()));
    kinds->setCurrentIndex(0);
    QCOMPARE(findings->rowCount(), 4);

    const QString report = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY2(view->writeReport(report), qPrintable(view->reportErrorString()));
    QVERIFY(QFileInfo(report).size() > 0);
    QVERIFY(QFile::exists(report + QStringLiteral(".csv")));
    QVERIFY(!view->writeReport(QStringLiteral("/nonexistent/report.pdf")));
    QVERIFY(view->reportErrorString().startsWith(QStringLiteral("Cannot write /nonexistent/report.pdf")));
}

void TestCommissioningView::listenOnly()
{
    StationsLine line({slavesim::Config()});
    const QString tap = line.addTap(LineBus::Tap::Both);
    QVERIFY2(line.start(), qPrintable(line.errorString()));

    ViewDriver driver;
    QStringList settings;
    for (int value : line.settings().toArray())
        settings << QString::number(value);
    driver.applySettings(settings);
    driver.widget<QCheckBox>("listenCheckBox")->setChecked(true);
    driver.choosePort(tap);
    driver.clickConnect();
    auto* commands = driver.widget<QWidget>("commandView");
    QVERIFY(!commands->isEnabled());
    QVERIFY(commands->toolTip().contains(QStringLiteral("nothing is sent")));

    EngineFixture f;
    f.openTyped(line.serialSettings(), line.settings());
    QVERIFY(QTest::qWaitFor([&f] { return f.initialDataFinished; }, kLong));
    // The other master's interrogation reached the tables, its frames the monitor.
    QTRY_VERIFY_WITH_TIMEOUT(valueCell(driver, "measuredView", ioa::kFirstMeasured).isValid(), kLong);
    QTRY_VERIFY_WITH_TIMEOUT(valueCell(driver, "totalView", ioa::kFirstCounter).isValid(), kLong);
    QCOMPARE(driver.status(), QStringLiteral("Available"));
    QVERIFY(driver.widget<QTableView>("frameTable")->model()->rowCount() > 0);
    QCOMPARE(line.bus()->tapByteCount(), 0);

    driver.clickDisconnect();
    QVERIFY(commands->isEnabled());
}

QTEST_MAIN(TestCommissioningView)
#include "tst_commissioningview.moc"
