// A settings store of the test's own: the application's QSettings (where the view keeps
// its serial and protocol settings) go to a temporary directory for as long as the
// object lives, under the given application name. Parity is preset to none, because a
// pty can be reopened (Disconnect, Connect) only without parity.
#ifndef IEC101_SCRATCHSETTINGS_H
#define IEC101_SCRATCHSETTINGS_H

#include <QString>
#include <QTemporaryDir>

class ScratchSettings
{
public:
    explicit ScratchSettings(const QString& applicationName);
    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
};

#endif // IEC101_SCRATCHSETTINGS_H
