#include "viewdriver.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

const char* const settingEdits[] = {"caEdit",      "caSizeEdit", "linkAddressEdit", "linkAddressSizeEdit",
                                    "ioaSizeEdit", "cotSizeEdit"};

} // namespace

ViewDriver::ViewDriver(QWidget* view, QObject* parent) : QObject(parent), view(view)
{
    started.start();
    connect(&noticeWatch, &QTimer::timeout, this, &ViewDriver::answerNotice);
    noticeWatch.start(2);
}

void ViewDriver::answerNotice()
{
    // The notice runs its own event loop, which keeps this timer going.
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    notices << box->text();
    noticeTimes << started.elapsed();
    box->button(QMessageBox::Ok)->click();
}

void ViewDriver::applySettings(const QStringList& values)
{
    widget<QPushButton>("settingsButton")->click();
    auto* dialog = widget<QDialog>("settingDialog");
    for (int i = 0; i < values.size() && i < 6; ++i) {
        auto* edit = widget<QLineEdit>(settingEdits[i]);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, values.at(i));
        if (edit->text() != values.at(i))
            qInfo("%s: typed \"%s\", the field kept \"%s\"", settingEdits[i], qPrintable(values.at(i)),
                  qPrintable(edit->text()));
    }
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
