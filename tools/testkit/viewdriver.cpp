#include "viewdriver.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include "iec101view.h"
#include "slavesimline.h"
#include "stationsline.h"

namespace {

const char* const kSettingEdits[] = {"caEdit",      "caSizeEdit", "linkAddressEdit", "linkAddressSizeEdit",
                                     "ioaSizeEdit", "cotSizeEdit"};

} // namespace

ViewDriver::ViewDriver() : ViewDriver(nullptr)
{
    ownView = std::make_unique<iec101::Iec101View>(nullptr);
    operatedView = ownView.get();
    ownView->show();
}

ViewDriver::~ViewDriver() = default;

ViewDriver::ViewDriver(QWidget* operated, QObject* parent) : QObject(parent), operatedView(operated)
{
    started.start();
    connect(&noticeWatch, &QTimer::timeout, this, &ViewDriver::answerNotice);
    noticeWatch.start(2);
}

void ViewDriver::answerNotice()
{
    // A file dialog of an export is answered with the file chosen for it.
    auto* fileDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (fileDialog && fileDialog->isVisible() && !exportFile.isEmpty()) {
        fileDialog->selectFile(exportFile);
        exportFile.clear();
        static_cast<QDialog*>(fileDialog)->accept(); // as the Save button does
        return;
    }
    // The notice runs its own event loop, which keeps this timer going.
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    notices << box->text();
    noticeTimes << started.elapsed();
    box->button(QMessageBox::Ok)->click();
}

void ViewDriver::exportCsv(const char* actionName, const QString& path)
{
    exportFile = path;
    widget<QAction>(actionName)->trigger();
    exportFile.clear();
}

void ViewDriver::applySettings(const QStringList& values, const QString& stations, bool balanced)
{
    widget<QPushButton>("settingsButton")->click();
    auto* dialog = widget<QDialog>("settingDialog");
    for (int i = 0; i < values.size() && i < 6; ++i) {
        auto* edit = widget<QLineEdit>(kSettingEdits[i]);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, values.at(i));
        if (edit->text() != values.at(i))
            qInfo("%s: typed \"%s\", the field kept \"%s\"", kSettingEdits[i], qPrintable(values.at(i)),
                  qPrintable(edit->text()));
    }
    widget<QLineEdit>("stationsEdit")->setText(stations);
    widget<QCheckBox>("balancedCheckBox")->setChecked(balanced);
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
}

void ViewDriver::choosePort(const QString& name)
{
    auto* ports = widget<QComboBox>("portComboBox");
    if (name.isEmpty()) {
        ports->clear();
        return;
    }
    int index = ports->findText(name);
    if (index < 0) {
        ports->addItem(name);
        index = ports->count() - 1;
    }
    ports->setCurrentIndex(index);
}

void ViewDriver::clickConnect()
{
    widget<QPushButton>("connectButton")->click();
}

void ViewDriver::clickDisconnect()
{
    widget<QPushButton>("disconnectButton")->click();
}

QString ViewDriver::status() const
{
    return widget<QLineEdit>("statusLineEdit")->text();
}

bool ViewDriver::connectEnabled() const
{
    return widget<QPushButton>("connectButton")->isEnabled();
}

bool ViewDriver::initialDataReady() const
{
    return widget<QCheckBox>("initialDataCheckBox")->isChecked();
}

bool ViewDriver::waitForPort(const QString& name, int timeoutMs)
{
    auto* ports = widget<QComboBox>("portComboBox");
    return QTest::qWaitFor([ports, &name] { return ports->findText(name) >= 0; }, timeoutMs);
}

bool ViewDriver::connectTo(const SlaveSimLine& line, int timeoutMs)
{
    applySettings(line.settingTexts());
    return connectToPort(line.masterPort(), timeoutMs);
}

bool ViewDriver::connectTo(const StationsLine& line, int timeoutMs)
{
    const iec101::ProtocolSettings settings = line.settings();
    QStringList six;
    for (int value : settings.toArray())
        six << QString::number(value);
    applySettings(six, iec101::ProtocolSettings::stationsText(settings.stations));
    return connectToPort(line.masterPort(), timeoutMs);
}

bool ViewDriver::connectToPort(const QString& masterPort, int timeoutMs)
{
    const QByteArray port = masterPort.toLocal8Bit();
    QByteArray extra = qgetenv("IEC101_EXTRA_PORTS");
    if (!extra.split(':').contains(port))
        qputenv("IEC101_EXTRA_PORTS", extra.isEmpty() ? port : extra + ':' + port);
    // The list refreshes every 2 s; ask for it now instead of waiting.
    QMetaObject::invokeMethod(operatedView, "updateAvailablePorts");
    if (!waitForPort(masterPort, 5000))
        return false;
    choosePort(masterPort);
    clickConnect();
    return QTest::qWaitFor([this] { return initialDataReady() && status() == QLatin1String("Available"); },
                           timeoutMs);
}
