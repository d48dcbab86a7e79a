// The whole product end to end: the real view with its engine on the worker thread,
// talking over a pty pair to the simulated slave, driven through the widgets an
// operator would use, found by object name.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "iec101view.h"
#include "ptypair.h"
#include "slavesim.h"

using iec101::Iec101View;

namespace {

constexpr int linkTimeout = 20000;
constexpr int answerTimeout = 10000;

// Protocol settings deliberately away from the defaults, so that a connection only
// comes up if the values typed into the settings dialog reach the engine.
constexpr int commonAddress = 7;
constexpr int linkAddress = 3;
const QStringList slaveSettings{"7", "1", "3", "1", "3", "1"};
const QStringList defaultSettings{"1", "2", "1", "2", "3", "2"};
const char* const settingEdits[] = {"caEdit",      "caSizeEdit", "linkAddressEdit", "linkAddressSizeEdit",
                                    "ioaSizeEdit", "cotSizeEdit"};

template <typename T> T* widget(QObject* parent, const char* name)
{
    auto* found = parent->findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no widget named %s", name);
    return found;
}

QStringList settingFields(Iec101View* view)
{
    QStringList texts;
    for (const char* name : settingEdits)
        texts << widget<QLineEdit>(view, name)->text();
    return texts;
}

bool showsIcon(QLabel* label, const QString& resource)
{
    return label->pixmap(Qt::ReturnByValue).toImage() == QPixmap(resource).toImage();
}

// Text of the value cell of the row for `address`, or a null string.
QString tableValue(QObject* parent, const char* tableName, int address)
{
    const QAbstractItemModel* model = widget<QTableView>(parent, tableName)->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->index(row, 0).data().toString() == QString::number(address))
            return model->index(row, 1).data().toString();
    }
    return QString();
}

} // namespace

class TestIec101View : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void settingsDialogStoresAndRestores();
    void extraPortsFollowTheirPaths();
    void styleSheetPaintsBackground();
    void connectDeliversInitialData();
    void readLocalRemote_data();
    void readLocalRemote();
    void objectStateIcon_data();
    void objectStateIcon();
    void closeMovesSwitchAndReadsBack();
    void spontaneousEventReachesLogAndTable();
    void disconnectShowsNotice();

private:
    std::unique_ptr<Iec101View> makeView();
    void applySettings(Iec101View* view, const QStringList& values);
    void connectView(Iec101View* view);

    QTemporaryDir settingsDir;
    PtyPair pty;
    std::unique_ptr<slavesim::SlaveSim> slave;
    std::unique_ptr<Iec101View> view;
};

void TestIec101View::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("iec101-test"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_iec101view"));

    QVERIFY2(pty.start(), qPrintable(pty.errorString()));
    qputenv("IEC101_EXTRA_PORTS", pty.pathA().toLocal8Bit());

    // A pty reopens (Disconnect, Connect) only without parity; the serial dialog
    // takes its choice from the store.
    QSettings().setValue(QStringLiteral("IEC101/Parity"), QStringLiteral("NoParity"));

    slavesim::Config config;
    config.portPath = pty.pathB();
    config.parity = 'N';
    config.commonAddress = commonAddress;
    config.sizeOfCA = 1;
    config.linkAddress = linkAddress;
    config.linkAddressLength = 1;
    config.sizeOfIOA = 3;
    config.sizeOfCOT = 1;
    slave = std::make_unique<slavesim::SlaveSim>(config);
    QVERIFY2(slave->start(), qPrintable(slave->errorString()));
}

void TestIec101View::cleanupTestCase()
{
    view.reset();
    if (slave)
        slave->stop();
}

std::unique_ptr<Iec101View> TestIec101View::makeView()
{
    auto made = std::make_unique<Iec101View>(nullptr);
    made->show();
    return made;
}

void TestIec101View::applySettings(Iec101View* target, const QStringList& values)
{
    widget<QPushButton>(target, "settingsButton")->click();
    auto* dialog = widget<QDialog>(target, "settingDialog");
    QVERIFY(dialog->isVisible());
    for (int i = 0; i < values.size(); ++i)
        widget<QLineEdit>(dialog, settingEdits[i])->setText(values.at(i));
    widget<QDialogButtonBox>(dialog, "settingButtonBox")->button(QDialogButtonBox::Ok)->click();
    QVERIFY(!dialog->isVisible());
}

void TestIec101View::connectView(Iec101View* target)
{
    auto* ports = widget<QComboBox>(target, "portComboBox");
    const int index = ports->findText(pty.pathA());
    QVERIFY2(index >= 0, "the pty from IEC101_EXTRA_PORTS is not in the port list");
    ports->setCurrentIndex(index);
    widget<QPushButton>(target, "connectButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(widget<QCheckBox>(target, "initialDataCheckBox")->isChecked(), linkTimeout);
}

void TestIec101View::settingsDialogStoresAndRestores()
{
    QSettings store;
    store.remove(QStringLiteral("IEC101/settings"));

    auto first = makeView();
    QCOMPARE(settingFields(first.get()), defaultSettings);

    const QStringList typed{"100", "1", "200", "1", "2", "1"};
    applySettings(first.get(), typed);
    for (int key = 1; key <= 6; ++key)
        QCOMPARE(store.value(QStringLiteral("IEC101/settings/%1").arg(key)).toString(), typed.at(key - 1));

    // Default goes back to what was loaded at construction, not to what was just saved,
    // and Cancel afterwards keeps it without touching the store.
    widget<QPushButton>(first.get(), "settingsButton")->click();
    widget<QPushButton>(first.get(), "defaultButton")->click();
    QCOMPARE(settingFields(first.get()), defaultSettings);
    widget<QLineEdit>(first.get(), "caEdit")->setText(QStringLiteral("55"));
    widget<QDialogButtonBox>(first.get(), "settingButtonBox")->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(settingFields(first.get()), defaultSettings);
    QCOMPARE(store.value(QStringLiteral("IEC101/settings/1")).toInt(), 100);

    // The saved values are the ones a new view loads.
    auto second = makeView();
    QCOMPARE(settingFields(second.get()), typed);
}

void TestIec101View::extraPortsFollowTheirPaths()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("first"));
    const QString second = dir.filePath(QStringLiteral("second"));
    for (const QString& path : {first, second})
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    const QByteArray saved = qgetenv("IEC101_EXTRA_PORTS");
    // Relative and missing entries are not offered.
    qputenv("IEC101_EXTRA_PORTS",
            (first + ":relative:" + dir.filePath("missing") + "::" + second).toLocal8Bit());

    auto portView = makeView();
    qputenv("IEC101_EXTRA_PORTS", saved);
    auto* ports = widget<QComboBox>(portView.get(), "portComboBox");
    const auto listed = [ports] {
        QStringList names;
        for (int i = 0; i < ports->count(); ++i)
            names << ports->itemText(i);
        return names;
    };
    const QStringList system = listed().mid(0, ports->count() - 2);
    QCOMPARE(listed(), system + QStringList({first, second}));

    // The choice survives a refresh while its path exists and falls back to the first
    // port once it is gone.
    ports->setCurrentIndex(ports->findText(second));
    qputenv("IEC101_EXTRA_PORTS", (first + ':' + second).toLocal8Bit());
    QMetaObject::invokeMethod(portView.get(), "updateAvailablePorts");
    QCOMPARE(ports->currentText(), second);
    QVERIFY(QFile::remove(second));
    QMetaObject::invokeMethod(portView.get(), "updateAvailablePorts");
    qputenv("IEC101_EXTRA_PORTS", saved);
    QCOMPARE(listed(), system + QStringList(first));
    QCOMPARE(ports->currentIndex(), 0);
}

void TestIec101View::styleSheetPaintsBackground()
{
    // Inside a host window, as a child: only the view's own painting can show the colour.
    QWidget host;
    auto* styled = new Iec101View(&host);
    styled->setStyleSheet(QStringLiteral("#IEC101 { background-color: rgb(10, 200, 30); }"));
    host.show();
    // A corner of the layout margin shows nothing but the view's background.
    // The host is grabbed: grabbing the view itself would fill in its palette anyway.
    const QPoint corner = styled->mapTo(&host, QPoint(2, 2));
    QCOMPARE(host.grab().toImage().pixelColor(corner), QColor(10, 200, 30));
}

void TestIec101View::connectDeliversInitialData()
{
    view = makeView();
    applySettings(view.get(), slaveSettings);

    auto* status = widget<QLineEdit>(view.get(), "statusLineEdit");
    QSignalSpy statusTexts(status, &QLineEdit::textChanged);
    connectView(view.get());

    QStringList seen;
    for (const QList<QVariant>& args : qAsConst(statusTexts))
        seen << args.at(0).toString();
    QVERIFY2(seen.contains(QStringLiteral("Available. Waiting for initial data")),
             qPrintable(seen.join('|')));
    QCOMPARE(status->text(), QStringLiteral("Available"));
    QVERIFY(status->styleSheet().contains(QLatin1String("background-color: lime")));

    // Connected: the controls that would change the connection are locked.
    QVERIFY(!widget<QPushButton>(view.get(), "connectButton")->isEnabled());
    QVERIFY(!widget<QComboBox>(view.get(), "portComboBox")->isEnabled());
    QVERIFY(!widget<QDialog>(view.get(), "settingDialog")->isEnabled());

    for (const char* table : {"singleView", "doubleView", "measuredView", "totalView"})
        QVERIFY2(widget<QTableView>(view.get(), table)->model()->rowCount() > 0, table);
}

void TestIec101View::readLocalRemote_data()
{
    QTest::addColumn<bool>("local");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("tableText");
    // Remote last: the tests after this one command the slave.
    QTest::newRow("local") << true << "Toggle local/remote switch to enable buttons"
                           << "1";
    QTest::newRow("remote") << false << "Remote mode. Select object to control"
                            << "0";
}

void TestIec101View::readLocalRemote()
{
    QFETCH(bool, local);
    QFETCH(QString, statusText);
    QFETCH(QString, tableText);
    QVERIFY(view);
    slave->setLocalMode(local);

    widget<QLineEdit>(view.get(), "readAddressEdit")->setText(QStringLiteral("65537"));
    widget<QPushButton>(view.get(), "readSendButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(widget<QLineEdit>(view.get(), "localRemoteEdit")->text(), statusText,
                              answerTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(tableValue(view.get(), "singleView", 65537), tableText, answerTimeout);
}

void TestIec101View::objectStateIcon_data()
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

void TestIec101View::objectStateIcon()
{
    QFETCH(int, object);
    QFETCH(int, state);
    QFETCH(QString, icon);
    QFETCH(bool, openEnabled);
    QFETCH(bool, closeEnabled);
    QVERIFY(view);
    QVERIFY(slave->setPointValue(slavesim::ioa::kObjectStateBase + object, state));

    // Choosing the object is all it takes: the panel reads its state.
    widget<QComboBox>(view.get(), "controlObjectCombo")->setCurrentIndex(object);

    auto* label = widget<QLabel>(view.get(), "objectStateLabel");
    QTRY_VERIFY_WITH_TIMEOUT(showsIcon(label, icon), answerTimeout);
    QCOMPARE(widget<QPushButton>(view.get(), "openButton")->isEnabled(), openEnabled);
    QCOMPARE(widget<QPushButton>(view.get(), "closeButton")->isEnabled(), closeEnabled);
}

void TestIec101View::closeMovesSwitchAndReadsBack()
{
    QVERIFY(view);
    constexpr int object = 3;
    constexpr int stateAddress = slavesim::ioa::kObjectStateBase + object;
    QVERIFY(slave->setPointValue(stateAddress, 1));
    widget<QComboBox>(view.get(), "controlObjectCombo")->setCurrentIndex(object);
    auto* label = widget<QLabel>(view.get(), "objectStateLabel");
    auto* closeButton = widget<QPushButton>(view.get(), "closeButton");
    // Wait for the selection's own read to be answered, so that only reads sent
    // after the command are recorded below.
    QTRY_VERIFY_WITH_TIMEOUT(showsIcon(label, QStringLiteral(":/icons/unconnected.png")), answerTimeout);
    QVERIFY(closeButton->isEnabled());

    slave->clearReceived();
    closeButton->click();

    QTRY_COMPARE_WITH_TIMEOUT(slave->pointValue(stateAddress).value_or(-1), 2.0, answerTimeout);
    // After the command has finished the view reads the object back by itself.
    auto readBack = [this] {
        const auto reads = slave->received(102);
        return std::any_of(reads.cbegin(), reads.cend(),
                           [](const slavesim::ReceivedAsdu& asdu) { return asdu.ioa == stateAddress; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(readBack(), answerTimeout);

    QTRY_VERIFY_WITH_TIMEOUT(showsIcon(label, QStringLiteral(":/icons/connected.png")), answerTimeout);
    QVERIFY(widget<QPushButton>(view.get(), "openButton")->isEnabled());
    QVERIFY(!closeButton->isEnabled());
}

void TestIec101View::spontaneousEventReachesLogAndTable()
{
    QVERIFY(view);
    const QAbstractItemModel* events = widget<QTreeView>(view.get(), "eventTree")->model();
    const int before = events->rowCount();
    const int address = slavesim::ioa::kFirstSinglePoint;
    const bool value = tableValue(view.get(), "singleView", address) != QLatin1String("1");

    slave->injectSinglePoint(address, value);

    QTRY_COMPARE_WITH_TIMEOUT(events->rowCount(), before + 1, answerTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(tableValue(view.get(), "singleView", address), QString::number(int(value)),
                              answerTimeout);
}

void TestIec101View::disconnectShowsNotice()
{
    QVERIFY(view);
    // The notice is modal; close it from inside its event loop as the operator would.
    QString noticeText;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            noticeText = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start(20);

    widget<QPushButton>(view.get(), "disconnectButton")->click();

    auto* status = widget<QLineEdit>(view.get(), "statusLineEdit");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Disconnected"), answerTimeout);
    QCOMPARE(noticeText, QStringLiteral("IEC101 disconnected."));
    QVERIFY(status->styleSheet().contains(QLatin1String("background-color: red")));
    QVERIFY(widget<QPushButton>(view.get(), "connectButton")->isEnabled());
    QVERIFY(widget<QComboBox>(view.get(), "portComboBox")->isEnabled());
    // The initial data of the finished connection stays marked until the next Connect.
    QVERIFY(widget<QCheckBox>(view.get(), "initialDataCheckBox")->isChecked());
}

QTEST_MAIN(TestIec101View)
#include "tst_iec101view.moc"
