// An operator's session with the whole product: the real view with its engine on the
// worker thread, talking to the simulated slave, driven through the widgets an operator
// would use, found by object name.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include <iec60870_common.h>

#include "scratchsettings.h"
#include "slavesimline.h"
#include "stationsline.h"
#include "viewdriver.h"

namespace ioa = slavesim::ioa;

namespace {

constexpr int kAnswerTimeout = 10000;

// Protocol settings deliberately away from the defaults, so that a connection only
// comes up if the values typed into the settings dialog reach the engine.
slavesim::Config awayFromDefaults()
{
    slavesim::Config config;
    config.commonAddress = 7;
    config.sizeOfCA = 1;
    config.linkAddress = 3;
    config.linkAddressLength = 1;
    config.sizeOfCOT = 1;
    // A station as found on the lines: scaled measured values, step positions and
    // bitstrings, CP24 time tags, quality flags on a few points.
    config.profile = slavesim::Profile::Field;
    config.measuredFormat = slavesim::MeasuredFormat::Scaled;
    config.quality = {{1003, 0x10}, {ioa::kFirstMeasured, 0xc0}, {5002, 0x20}};
    return config;
}

bool showsIcon(QLabel* label, const QString& resource)
{
    return label->pixmap(Qt::ReturnByValue).toImage() == QPixmap(resource).toImage();
}

// A table as "address:value" rows joined by "|".
QString tableText(const ViewDriver& driver, const char* tableName)
{
    const QAbstractItemModel* model = driver.widget<QTableView>(tableName)->model();
    QStringList rows;
    for (int row = 0; row < model->rowCount(); ++row)
        rows << model->index(row, 0).data().toString() + ':' + model->index(row, 1).data().toString();
    return rows.join('|');
}

// Text of the value cell of the row for `address`, or a null string.
QString tableValue(const ViewDriver& driver, const char* tableName, int address)
{
    const QAbstractItemModel* model = driver.widget<QTableView>(tableName)->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == QString::number(address))
            return model->index(row, 1).data().toString();
    }
    return QString();
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void connectDeliversInitialData();
    void readLocalRemote_data();
    void readLocalRemote();
    void objectStateIcon_data();
    void objectStateIcon();
    void closeMovesSwitchAndReadsBack();
    void spontaneousEventReachesLogAndTable();
    void disconnectShowsNotice();
    void stationBehindSerialToEthernetConverter();
    void switchReportedLastStillSetsTheMode();
    void threeStationsOnOneLine();

private:
    ScratchSettings scratch{QStringLiteral("tst_session")};
    SlaveSimLine line{awayFromDefaults()};
    std::unique_ptr<ViewDriver> driver;
};

void TestSession::initTestCase()
{
    QVERIFY2(line.start(), qPrintable(line.errorString()));
    driver = std::make_unique<ViewDriver>();
}

void TestSession::cleanupTestCase()
{
    driver.reset();
    line.stop();
}

void TestSession::connectDeliversInitialData()
{
    auto* status = driver->widget<QLineEdit>("statusLineEdit");
    QSignalSpy statusTexts(status, &QLineEdit::textChanged);
    QVERIFY(driver->connectTo(line));

    QStringList seen;
    for (const QList<QVariant>& args : qAsConst(statusTexts))
        seen << args.at(0).toString();
    QVERIFY2(seen.contains(QStringLiteral("Available. Waiting for initial data")),
             qPrintable(seen.join('|')));
    QCOMPARE(status->text(), QStringLiteral("Available"));
    QVERIFY(status->styleSheet().contains(QLatin1String("background-color: lime")));

    // Connected: the controls that would change the connection are locked.
    QVERIFY(!driver->widget<QPushButton>("connectButton")->isEnabled());
    QVERIFY(!driver->widget<QComboBox>("portComboBox")->isEnabled());
    QVERIFY(!driver->widget<QDialog>("settingDialog")->isEnabled());

    // Every table sorted by address, whatever order the slave sent; types share tables.
    QCOMPARE(tableText(*driver, "singleView"),
             "1001:0|1002:1|1003:0 [BL]|1004:1|1005:0|1006:1|1007:0|1008:1|1009:0|1010:1|65537:0");
    QStringList doubles;
    for (int n = 1; n <= ioa::kObjectCount; ++n)
        doubles << QStringLiteral("%1:%2").arg(ioa::kObjectStateBase + n).arg(n % 2 ? 1 : 2);
    QCOMPARE(tableText(*driver, "doubleView"), doubles.join('|'));
    QCOMPARE(tableText(*driver, "measuredView"), "3001:5|3002:-3 (transient)|4001:2305 [IV NT]|4002:4998|"
                                                 "4003:-1225|4004:5|4005:10000|4501:0000A5A5|4502:80000001");
    QCOMPARE(tableText(*driver, "totalView"), "5001:1000|5002:2000 [CY]|5003:3000|5004:4000");
    // At the host program's size every column title fits.
    driver->view()->resize(1200, 880);
    QTest::qWait(50);
    for (const char* table : {"singleView", "doubleView", "measuredView", "totalView"}) {
        const QHeaderView* header = driver->widget<QTableView>(table)->horizontalHeader();
        for (int column : {0, 1})
            QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column), table);
    }
    // The slave reports its switch first: the interrogation tells the mode.
    QCOMPARE(driver->widget<QLineEdit>("localRemoteEdit")->text(), "Remote mode. Select object to control");
    // It said it had started; the log shows it.
    const QAbstractItemModel* events = driver->widget<QTreeView>("eventTree")->model();
    QVERIFY(!events->match(events->index(0, 3), Qt::DisplayRole, "local power on").isEmpty());
}

void TestSession::readLocalRemote_data()
{
    QTest::addColumn<bool>("local");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("rowText");
    // Remote last: the tests after this one command the slave.
    QTest::newRow("local") << true << "Toggle local/remote switch to enable buttons"
                           << "1";
    QTest::newRow("remote") << false << "Remote mode. Select object to control"
                            << "0";
}

void TestSession::readLocalRemote()
{
    QFETCH(bool, local);
    QFETCH(QString, statusText);
    QFETCH(QString, rowText);
    line.slave().setLocalMode(local);

    driver->widget<QLineEdit>("readAddressEdit")->setText(QStringLiteral("65537"));
    driver->widget<QPushButton>("readSendButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(driver->widget<QLineEdit>("localRemoteEdit")->text(), statusText,
                              kAnswerTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(tableValue(*driver, "singleView", 65537), rowText, kAnswerTimeout);
    // The answer updates its row; the other rows stay.
    QCOMPARE(driver->widget<QTableView>("singleView")->model()->rowCount(), 11);
}

void TestSession::objectStateIcon_data()
{
    QTest::addColumn<int>("object");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<bool>("openEnabled");
    QTest::addColumn<bool>("closeEnabled");
    QTest::newRow("intermediate") << 1 << 0 << ":/icons/intermediate.png" << false << false;
    QTest::newRow("open") << 2 << 1 << ":/icons/unconnected.png" << false << true;
    QTest::newRow("closed") << 4 << 2 << ":/icons/connected.png" << true << false;
    QTest::newRow("faulty") << 5 << 3 << ":/icons/bad.png" << true << true;
}

void TestSession::objectStateIcon()
{
    QFETCH(int, object);
    QFETCH(int, state);
    QFETCH(QString, icon);
    QFETCH(bool, openEnabled);
    QFETCH(bool, closeEnabled);
    QVERIFY(line.slave().setPointValue(ioa::kObjectStateBase + object, state));

    // Choosing the object is all it takes: the panel reads its state.
    driver->widget<QComboBox>("controlObjectCombo")->setCurrentIndex(object);

    auto* label = driver->widget<QLabel>("objectStateLabel");
    QTRY_VERIFY_WITH_TIMEOUT(showsIcon(label, icon), kAnswerTimeout);
    QCOMPARE(driver->widget<QPushButton>("openButton")->isEnabled(), openEnabled);
    QCOMPARE(driver->widget<QPushButton>("closeButton")->isEnabled(), closeEnabled);
}

void TestSession::closeMovesSwitchAndReadsBack()
{
    constexpr int object = 3;
    constexpr int stateAddress = ioa::kObjectStateBase + object;
    QVERIFY(line.slave().setPointValue(stateAddress, 1));
    driver->widget<QComboBox>("controlObjectCombo")->setCurrentIndex(object);
    auto* label = driver->widget<QLabel>("objectStateLabel");
    auto* closeButton = driver->widget<QPushButton>("closeButton");
    // Wait for the selection's own read to be answered, so that only reads sent
    // after the command are recorded below.
    QTRY_VERIFY_WITH_TIMEOUT(showsIcon(label, QStringLiteral(":/icons/unconnected.png")), kAnswerTimeout);
    QVERIFY(closeButton->isEnabled());

    line.slave().clearReceived();
    closeButton->click();

    QTRY_COMPARE_WITH_TIMEOUT(line.slave().pointValue(stateAddress).value_or(-1), 2.0, kAnswerTimeout);
    // After the command has finished the view reads the object back by itself.
    auto readBack = [this] {
        const auto reads = line.slave().received(102);
        return std::any_of(reads.cbegin(), reads.cend(),
                           [](const slavesim::ReceivedAsdu& asdu) { return asdu.ioa == stateAddress; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(readBack(), kAnswerTimeout);

    QTRY_VERIFY_WITH_TIMEOUT(showsIcon(label, QStringLiteral(":/icons/connected.png")), kAnswerTimeout);
    QVERIFY(driver->widget<QPushButton>("openButton")->isEnabled());
    QVERIFY(!closeButton->isEnabled());
}

void TestSession::spontaneousEventReachesLogAndTable()
{
    const QAbstractItemModel* events = driver->widget<QTreeView>("eventTree")->model();
    const int before = events->rowCount();
    const int address = ioa::kFirstSinglePoint;
    const bool value = tableValue(*driver, "singleView", address) != QLatin1String("1");

    line.slave().injectSinglePoint(address, value);

    QTRY_COMPARE_WITH_TIMEOUT(events->rowCount(), before + 1, kAnswerTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(tableValue(*driver, "singleView", address), QString::number(int(value)),
                              kAnswerTimeout);
    // A CP24 tag, completed with the master's date and hour.
    QCOMPARE(events->index(0, 1).data().toString(), "M_SP_TA_1 (2)");
    // To the millisecond, the time tag's resolution.
    QString shown = events->index(0, 0).data().toString();
    QVERIFY2(QRegularExpression(QStringLiteral(" \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ")).match(shown).hasMatch(),
             qPrintable(shown));
    const QDateTime tagged = QDateTime::fromString(
        shown.replace(QRegularExpression(QStringLiteral("\\.\\d\\d\\d")), QString()), Qt::TextDate);
    QVERIFY2(qAbs(tagged.secsTo(QDateTime::currentDateTime())) < 120, qPrintable(tagged.toString()));
}

void TestSession::disconnectShowsNotice()
{
    driver->clickDisconnect();

    auto* status = driver->widget<QLineEdit>("statusLineEdit");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Disconnected"), kAnswerTimeout);
    QCOMPARE(driver->notices, QStringList{"IEC101 disconnected."});
    QVERIFY(status->styleSheet().contains(QLatin1String("background-color: red")));
    QVERIFY(driver->widget<QPushButton>("connectButton")->isEnabled());
    QVERIFY(driver->widget<QComboBox>("portComboBox")->isEnabled());
    // The initial data of the finished connection stays marked until the next Connect.
    QVERIFY(driver->widget<QCheckBox>("initialDataCheckBox")->isChecked());
}

// A station reached through a serial-to-Ethernet converter in raw TCP mode: a local pty
// bridged to the converter's TCP port is just another serial port to the master.
void TestSession::stationBehindSerialToEthernetConverter()
{
    SlaveSimLine converted;
    QVERIFY2(converted.start(SlaveSimLine::Transport::Tcp), qPrintable(converted.errorString()));
    ViewDriver remote;
    QVERIFY(remote.connectTo(converted));
    for (const char* table : {"singleView", "doubleView", "measuredView", "totalView"})
        QVERIFY2(remote.widget<QTableView>(table)->model()->rowCount() > 0, table);

    constexpr int object = 6;
    QVERIFY(converted.slave().setPointValue(ioa::kObjectStateBase + object, 2));
    remote.widget<QLineEdit>("readAddressEdit")->setText(QString::number(ioa::kLocalRemote));
    remote.widget<QPushButton>("readSendButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(remote.widget<QLineEdit>("localRemoteEdit")->text(),
                              QStringLiteral("Remote mode. Select object to control"), kAnswerTimeout);
    remote.widget<QComboBox>("controlObjectCombo")->setCurrentIndex(object);
    auto* openButton = remote.widget<QPushButton>("openButton");
    QTRY_VERIFY_WITH_TIMEOUT(openButton->isEnabled(), kAnswerTimeout);
    openButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(converted.slave().pointValue(ioa::kObjectStateBase + object).value_or(-1), 1.0,
                              kAnswerTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(remote.widget<QPushButton>("closeButton")->isEnabled(), kAnswerTimeout);
}

// A station that reports its local/remote switch after the other single points (by
// address, 65537 comes last): the interrogation still tells the mode, and periodic data
// that flows meanwhile only updates the tables.
void TestSession::switchReportedLastStillSetsTheMode()
{
    slavesim::Config config;
    config.localMode = true;
    config.cyclicRate = 20;
    SlaveSimLine basic(config);
    QVERIFY2(basic.start(), qPrintable(basic.errorString()));
    ViewDriver other;
    QVERIFY(other.connectTo(basic));
    QCOMPARE(other.widget<QLineEdit>("localRemoteEdit")->text(),
             QStringLiteral("Toggle local/remote switch to enable buttons"));
    QVERIFY(tableText(other, "singleView").endsWith(QLatin1String("|65537:1")));

    basic.slave().setLocalMode(false);
    other.widget<QLineEdit>("readAddressEdit")->setText(QString::number(ioa::kLocalRemote));
    other.widget<QPushButton>("readSendButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(other.widget<QLineEdit>("localRemoteEdit")->text(),
                              QStringLiteral("Remote mode. Select object to control"), kAnswerTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(tableValue(other, "singleView", ioa::kLocalRemote), QStringLiteral("0"),
                              kAnswerTimeout);
    // Periodic values are not events: the log holds the one event, none of them.
    const QAbstractItemModel* events = other.widget<QTreeView>("eventTree")->model();
    basic.slave().injectSinglePoint(ioa::kFirstSinglePoint, true);
    QTRY_COMPARE_WITH_TIMEOUT(events->rowCount(), 1, kAnswerTimeout);
    QTest::qWait(500);
    QCOMPARE(events->rowCount(), 1);
    QCOMPARE(events->index(0, 2).data().toString(), QString::number(ioa::kFirstSinglePoint));
}

// Three stations on one line: a selector over the tables shows each station's own data,
// the log names the station of each event, and the command panel's commands go to the
// station selected.
void TestSession::threeStationsOnOneLine()
{
    const QVector<slavesim::Config> configs = StationsLine::numbered(3, 10);
    StationsLine stations(configs);
    QVERIFY2(stations.start(), qPrintable(stations.errorString()));
    stations.station(2).setPointValue(ioa::kFirstSinglePoint, 1);
    ViewDriver view;
    QVERIFY(view.connectTo(stations));

    auto* selector = view.widget<QComboBox>("stationComboBox");
    QVERIFY(selector->isVisible());
    QCOMPARE(selector->count(), 3);
    QCOMPARE(selector->itemText(1), QStringLiteral("Station 2, CA 12: available"));
    // Each station's tables, filled by its own interrogation.
    auto* stack = view.widget<QStackedWidget>("responseStack");
    for (int n = 0; n < 3; ++n) {
        selector->setCurrentIndex(n);
        auto* singles = stack->currentWidget()->findChild<QTableView*>(QStringLiteral("singleView"));
        QVERIFY(singles->model()->rowCount() > 0);
        QCOMPARE(singles->model()->index(0, 1).data().toString(),
                 n == 2 ? QStringLiteral("1") : QStringLiteral("0"));
    }

    const QAbstractItemModel* events = view.widget<QTreeView>("eventTree")->model();
    QVERIFY(!view.widget<QTreeView>("eventTree")->isColumnHidden(5));
    stations.station(1).injectSinglePoint(ioa::kFirstSinglePoint, true);
    QTRY_COMPARE_WITH_TIMEOUT(events->rowCount(), 1, kAnswerTimeout);
    QCOMPARE(events->index(0, 5).data().toString(), QStringLiteral("2 / 12"));

    // A read from the command panel goes to the station selected, and only there.
    selector->setCurrentIndex(2);
    for (int n = 0; n < 3; ++n)
        stations.station(n).clearReceived();
    view.widget<QLineEdit>("readAddressEdit")->setText(QString::number(ioa::kFirstMeasured));
    view.widget<QPushButton>("readSendButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(stations.station(2).received(C_RD_NA_1).size(), 1, kAnswerTimeout);
    QCOMPARE(stations.station(2).received(C_RD_NA_1).first().commonAddress, 13);
    QCOMPARE(stations.station(0).received(C_RD_NA_1).size() + stations.station(1).received(C_RD_NA_1).size(),
             0);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
