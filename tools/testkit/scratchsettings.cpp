#include "scratchsettings.h"

#include <QCoreApplication>
#include <QSettings>

ScratchSettings::ScratchSettings(const QString& applicationName)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QCoreApplication::setOrganizationName(QStringLiteral("iec101-test"));
    QCoreApplication::setApplicationName(applicationName);
    QSettings().setValue(QStringLiteral("IEC101/Parity"), QStringLiteral("NoParity"));
}
