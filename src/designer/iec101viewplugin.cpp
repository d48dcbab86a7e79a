#include "iec101viewplugin.h"

#include <QIcon>

#include <iec101view.h>

Iec101ViewPlugin::Iec101ViewPlugin(QObject* parent) : QObject(parent) {}

QString Iec101ViewPlugin::name() const
{
    return QStringLiteral("iec101::Iec101View");
}

QString Iec101ViewPlugin::group() const
{
    return QStringLiteral("IEC 60870-5");
}

QString Iec101ViewPlugin::toolTip() const
{
    return QStringLiteral("IEC 60870-5-101 master view");
}

QString Iec101ViewPlugin::whatsThis() const
{
    return QStringLiteral("An IEC 60870-5-101 master for one slave on one serial line: connection, "
                          "commands, response tables and event log.");
}

// uic writes this include into the generated form code; the header is installed flat.
QString Iec101ViewPlugin::includeFile() const
{
    return QStringLiteral("iec101view.h");
}

QIcon Iec101ViewPlugin::icon() const
{
    return {};
}

bool Iec101ViewPlugin::isContainer() const
{
    return false;
}

QWidget* Iec101ViewPlugin::createWidget(QWidget* parent)
{
    return new iec101::Iec101View(parent);
}

// The name Designer gives a newly placed view, and so the member uic generates for it.
QString Iec101ViewPlugin::domXml() const
{
    return QStringLiteral("<ui language=\"c++\">\n"
                          " <widget class=\"iec101::Iec101View\" name=\"iec101View\"/>\n"
                          "</ui>\n");
}
