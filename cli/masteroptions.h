#ifndef IEC101_MASTEROPTIONS_H
#define IEC101_MASTEROPTIONS_H

#include <QString>
#include <QStringList>

#include "protocolsettings.h"
#include "serialsettings.h"

namespace iec101 {

// iec101-master's command line, read into the engine's settings and the run's own:
// every value is checked against what the line and the protocol allow, so that a typing
// error is a usage error rather than a line that silently runs at other settings (the
// library opens an unknown baud rate at 9600).
struct MasterOptions
{
    static constexpr int kDefaultLinkTimeoutMs = 10000;

    SerialSettings serial;
    ProtocolSettings protocol;
    // How long the link may take to come up (at the start, and again before a command
    // when it was lost).
    int linkTimeoutMs = kDefaultLinkTimeoutMs;
    bool initialData = true;
    QString capturePath;
    // Signal lists: a file for the first station, or LINK=FILE for a station of its own.
    QStringList pointFiles;
    QString reportPath; // the report after the commands (PDF; the findings beside it as .csv)
    // Listen only on a tapped line: nothing is sent, only wait steps run. The second port
    // is the station's direction of a full-duplex tap (the first then hears the master).
    bool listen = false;
    QString listenPort2;
    QString scriptPath;
    QStringList commands;
    bool help = false;
    bool version = false;

    // The program's arguments, the program name first; false with what is wrong in
    // *error on a bad usage.
    static bool parse(const QStringList& arguments, MasterOptions* options, QString* error);
    static QString helpText();
};

} // namespace iec101

#endif // IEC101_MASTEROPTIONS_H
