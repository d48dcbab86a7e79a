// The view on its own, without a slave: its settings store, the port list, how it
// paints inside a host, and its exports.

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "commandform.h"
#include "findingspanel.h"
#include "iec101view.h"
#include "linemonitor.h"
#include "scratchsettings.h"
#include "viewdriver.h"

using namespace iec101;

using iec101::Iec101View;

namespace {

const QStringList kDefaultSettings{"1", "2", "1", "2", "3", "2"};
const char* const kSettingEdits[] = {"caEdit",      "caSizeEdit", "linkAddressEdit", "linkAddressSizeEdit",
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
    for (const char* name : kSettingEdits)
        texts << widget<QLineEdit>(view, name)->text();
    return texts;
}

std::unique_ptr<Iec101View> makeView()
{
    auto made = std::make_unique<Iec101View>(nullptr);
    made->show();
    return made;
}

} // namespace

class TestIec101View : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void settingsDialogStoresAndRestores();
    void extraPortsFollowTheirPaths();
    void styleSheetPaintsBackground();
    void exportFromContextMenu_data();
    void exportFromContextMenu();
    void exportErrors_data();
    void exportErrors();
    void panelsPlacedByTheHost();

private:
    ScratchSettings scratch{QStringLiteral("tst_iec101view")};
};

void TestIec101View::settingsDialogStoresAndRestores()
{
    QSettings store;
    store.remove(QStringLiteral("IEC101/settings"));

    auto first = makeView();
    QCOMPARE(settingFields(first.get()), kDefaultSettings);

    const QStringList typed{"100", "1", "200", "1", "2", "1"};
    ViewDriver(first.get()).applySettings(typed);
    for (int key = 1; key <= 6; ++key)
        QCOMPARE(store.value(QStringLiteral("IEC101/settings/%1").arg(key)).toString(), typed.at(key - 1));

    // Default goes back to what was loaded at construction, not to what was just saved,
    // and Cancel afterwards keeps it without touching the store.
    widget<QPushButton>(first.get(), "settingsButton")->click();
    widget<QPushButton>(first.get(), "defaultButton")->click();
    QCOMPARE(settingFields(first.get()), kDefaultSettings);
    widget<QLineEdit>(first.get(), "caEdit")->setText(QStringLiteral("55"));
    widget<QDialogButtonBox>(first.get(), "settingButtonBox")->button(QDialogButtonBox::Cancel)->click();
    QCOMPARE(settingFields(first.get()), kDefaultSettings);
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

void TestIec101View::exportFromContextMenu_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<QString>("file"); // in a scratch folder
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("notice");
    const QByteArray log(
        "Time,Type,Type ID,Address,Value,Quality,Spontaneous,Received,Link address,Common address\r\n");
    const QByteArray table("Address,Value,Quality\r\n");
    QTest::newRow("event log") << QByteArray("exportLogAction") << "log.csv" << log << "";
    QTest::newRow("Single table") << QByteArray("singleExportAction") << "single.csv" << table << "";
    QTest::newRow("Intergrated total table") << QByteArray("totalExportAction") << "total.csv" << table << "";
    QTest::newRow("a missing folder is named in a message")
        << QByteArray("doubleExportAction") << "missing/double.csv" << QByteArray()
        << "Cannot write %1: No such file or directory";
}

void TestIec101View::exportFromContextMenu()
{
    QFETCH(QByteArray, action);
    QFETCH(QString, file);
    QFETCH(QByteArray, written);
    QFETCH(QString, notice);
    QTemporaryDir dir;
    const QString path = dir.filePath(file);
    ViewDriver driver;
    driver.exportCsv(action.constData(), path);
    QFile exported(path);
    QCOMPARE(exported.open(QIODevice::ReadOnly) ? exported.readAll() : QByteArray(), written);
    QCOMPARE(driver.notices, notice.isEmpty() ? QStringList() : QStringList(notice.arg(path)));
}

void TestIec101View::exportErrors_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::newRow("a folder") << QDir::tempPath() << "Cannot write %1: Is a directory";
    QTest::newRow("a full disk") << "/dev/full"
                                 << "Cannot write %1: No space left on device";
    QTest::newRow("a device not open for writing") << ""
                                                   << "The file is not open for writing.";
}

void TestIec101View::exportErrors()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    Iec101View view;
    QBuffer closed;
    const auto exportLog = [&] {
        return path.isEmpty() ? view.exportEventLog(&closed) : view.exportEventLog(path);
    };
    const auto exportTable = [&] {
        using Table = Iec101View::ResponseTable;
        return path.isEmpty() ? view.exportTable(Table::Measured, &closed)
                              : view.exportTable(Table::Measured, path);
    };
    QVERIFY(!exportLog());
    QCOMPARE(view.exportErrorString(), error.arg(path));
    QVERIFY(!exportTable());
    QCOMPARE(view.exportErrorString(), error.arg(path));

    // A later export that succeeds leaves no error behind.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(view.exportTable(Iec101View::ResponseTable::IntegratedTotal, &buffer));
    QCOMPARE(buffer.data(), QByteArray("Address,Value,Quality\r\n"));
    QVERIFY(view.exportErrorString().isEmpty());
}

void TestIec101View::panelsPlacedByTheHost()
{
    QTemporaryDir dir;
    const QString port = dir.filePath(QStringLiteral("port")); // listed, but no serial port
    QVERIFY(QFile(port).open(QIODevice::WriteOnly));
    const QByteArray saved = qgetenv("IEC101_EXTRA_PORTS");
    qputenv("IEC101_EXTRA_PORTS", port.toLocal8Bit());
    auto view = makeView();
    qputenv("IEC101_EXTRA_PORTS", saved);
    auto* ports = widget<QComboBox>(view.get(), "portComboBox");
    ports->setCurrentIndex(ports->findText(port));

    // The window goes before the view, so its docked panels are destroyed while the view
    // still watches them, as in a host that closes its main window.
    QMainWindow window;
    QVector<QWidget*> panels{view->lineMonitor(), view->findingsPanel(), view->commandForm()};
    QVector<QDockWidget*> docks;
    for (QWidget* panel : panels) {
        QVERIFY(panel);
        QVERIFY(!panel->isVisibleTo(view.get()));
        docks << new QDockWidget(&window);
        docks.last()->setWidget(panel);
        window.addDockWidget(Qt::RightDockWidgetArea, docks.last());
        QVERIFY2(panel->isVisibleTo(docks.last()), qPrintable(panel->objectName()));
    }
    window.show();

    // The host may delete the form with its dock; connecting and disconnecting go on without it.
    delete docks.takeLast();
    QVERIFY(!view->commandForm());
    QVERIFY(QMetaObject::invokeMethod(view.get(), "connectClicked"));
    QVERIFY(QMetaObject::invokeMethod(view.get(), "disconnectClicked"));
    QTRY_COMPARE(widget<QPushButton>(view.get(), "connectButton")->isEnabled(), true);
}

QTEST_MAIN(TestIec101View)
#include "tst_iec101view.moc"
