// Renders each panel offscreen in a typical state and saves it as a PNG, to look at
// the layout without a display: panelshots <output directory>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFont>
#include <QSettings>
#include <QTemporaryDir>

#include "commandview.h"
#include "eventview.h"
#include "iec101network.h"
#include "responseview.h"
#include "serialdialog.h"
#include "stationaddressplan.h"

using namespace iec101;

namespace {

InfoObject make(int typeId, int address, const QVariant& value, qint64 stamp = 0)
{
    InfoObject o;
    o.typeId = typeId;
    o.address = address;
    o.value = value;
    if (stamp)
        o.timestamp = QVariant::fromValue<qulonglong>(stamp);
    return o;
}

bool save(QWidget& widget, const QDir& dir, const QString& name)
{
    widget.show();
    QApplication::processEvents();
    const bool ok = widget.grab().save(dir.filePath(name));
    qInfo("%s %s", qPrintable(dir.filePath(name)), ok ? "written" : "FAILED");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInfo("default font: %s", qPrintable(QApplication::font().toString()));
    // The offscreen platform's default font is larger than a desktop's; use a typical desktop size.
    QFont font = QApplication::font();
    font.setPointSize(9);
    QApplication::setFont(font);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    const QMetaObject& mo = iec101::Iec101Network::staticMetaObject;
    auto engineEnum = [&mo](const char* name) {
        return mo.enumerator(mo.indexOfEnumerator(name));
    };
    bool ok = true;

    CommandView commands;
    commands.setFixedWidth(300);
    commands.setQccEnum(engineEnum("QCC"));
    commands.setQoiEnum(engineEnum("QOI"));
    commands.resetState();
    commands.findChild<QComboBox*>(QStringLiteral("controlObjectCombo"))->setCurrentIndex(2);
    commands.checkLocalRemoteSwitch(StationAddressPlan::kLocalRemote, false);
    commands.checkObjectState(StationAddressPlan::kObjectStateBase + 2, 2);
    commands.timeSyncReady(make(103, 0, QVariant(), QDateTime::currentDateTimeUtc().toMSecsSinceEpoch()));
    ok &= save(commands, dir, QStringLiteral("command-panel.png"));

    const qint64 now = QDateTime::currentDateTimeUtc().toMSecsSinceEpoch();
    EventView events;
    events.resize(760, 260);
    events.addEvent(make(30, 1001, true, now - 61000));
    events.addEvent(make(31, 196610, 2, now - 42000));
    events.addEvent(make(36, 4001, 231.75f, now - 20000));
    events.addEvent(make(37, 5001, 1234567, now - 5000));
    events.addEvent(make(1, 1002, false));
    ok &= save(events, dir, QStringLiteral("event-log.png"));

    ResponseView responses;
    responses.resize(760, 320);
    QVector<InfoObject> interrogation;
    for (int i = 0; i < 6; ++i)
        interrogation << make(1, 1001 + i, i % 2 == 0);
    for (int i = 1; i <= 4; ++i)
        interrogation << make(3, 196608 + i, 1 + i % 2);
    for (int i = 0; i < 5; ++i)
        interrogation << make(13, 4001 + i, 220.5f + i * 0.25f);
    for (int i = 0; i < 3; ++i)
        interrogation << make(15, 5001 + i, 123456 * (i + 1));
    responses.updateObjects(interrogation);
    responses.responseFinished(false);
    responses.responseFinished(true);
    responses.updateObject(make(13, 4003, 230.125f), 0);
    ok &= save(responses, dir, QStringLiteral("response-table.png"));

    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QWidget host;
    host.setObjectName(QStringLiteral("IEC101"));
    SerialDialog dialog(15, &host);
    dialog.setMetaEnumList(
        {engineEnum("BaudRate"), engineEnum("DataBits"), engineEnum("Parity"), engineEnum("StopBits")});
    ok &= save(dialog, dir, QStringLiteral("serial-dialog.png"));

    return ok ? 0 : 1;
}
