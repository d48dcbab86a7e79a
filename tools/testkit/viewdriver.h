// Operates the master's view (its own, shown on screen, or one given to it) through its
// widgets, found by object name, the way an operator would: settings dialog, port selection, Connect and
// Disconnect, or all of it at once for a simulated slave on a line. It also answers the modal notices the
// view raises, and records their texts and the time each appeared (milliseconds on clock(), which starts with
// the driver); the file dialog of an export it answers with the file it was told.
#ifndef IEC101_VIEWDRIVER_H
#define IEC101_VIEWDRIVER_H

#include <QComboBox>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <memory>

class SlaveSimLine;
class StationsLine;

namespace iec101 {
class Iec101View;
}

class ViewDriver : public QObject
{
    Q_OBJECT
public:
    // Builds and shows a view of its own.
    ViewDriver();
    explicit ViewDriver(QWidget* operated, QObject* parent = nullptr);
    ~ViewDriver() override;

    QWidget* view() const { return operatedView; }

    template <typename T> T* widget(const char* name) const
    {
        auto* found = operatedView->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no widget named %s", name);
        return found;
    }

    // Opens the settings dialog, types the six values into its fields, the station list
    // ("1:11;2:12", empty for the one station of the six) and the mode, and presses Ok.
    void applySettings(const QStringList& values, const QString& stations = QString(), bool balanced = false);
    // Selects a port by name; a name not in the list is added first, as if the list
    // had offered it when it was last refreshed. An empty name empties the list.
    void choosePort(const QString& name);
    void clickConnect();
    void clickDisconnect();
    // Picks an "Export CSV..." entry (the action of that name) and chooses path in its file dialog.
    void exportCsv(const char* actionName, const QString& path);

    QString status() const;
    bool connectEnabled() const;
    bool initialDataReady() const;

    // Types the line's settings, offers its port in the port list (as IEC101_EXTRA_PORTS
    // does for virtual ports), chooses it and connects; true once the initial data is in
    // and the status reads "Available".
    bool connectTo(const SlaveSimLine& line, int timeoutMs = 30000);
    // The same for several stations on one line, the station list typed as well.
    bool connectTo(const StationsLine& line, int timeoutMs = 30000);

    // Waits until the list of ports offers this one (it is refreshed every 2 s).
    bool waitForPort(const QString& name, int timeoutMs);

    const QElapsedTimer& clock() const { return started; }
    QStringList notices;
    QVector<qint64> noticeTimes;

private:
    void answerNotice();
    bool connectToPort(const QString& port, int timeoutMs);

    std::unique_ptr<iec101::Iec101View> ownView;
    QWidget* operatedView;
    QElapsedTimer started;
    QTimer noticeWatch;
    QString exportFile;
};

#endif // IEC101_VIEWDRIVER_H
