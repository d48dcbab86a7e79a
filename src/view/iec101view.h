#ifndef IEC101_IEC101VIEW_H
#define IEC101_IEC101VIEW_H

#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

#include "command.h"
#include "commandform.h"
#include "findingspanel.h"
#include "iec101view_export.h"
#include "infoobject.h"
#include "linemonitor.h"
#include "serialparam.h"

class QIODevice;
class QPaintEvent;

namespace iec101 {

// The IEC 60870-5-101 master as one widget for a host application: connection box,
// protocol settings dialog, command panel, response tables and event log. The
// protocol engine runs on a worker thread owned by the view and is reached only
// through queued calls; everything else lives on the GUI thread.
class IEC101VIEW_EXPORT Iec101View : public QWidget
{
    Q_OBJECT
public:
    explicit Iec101View(QWidget* parent = nullptr);
    ~Iec101View() override;

    // The monitor of every frame on the line, fed by this view. It is not part of the
    // view's layout: the view keeps it as a hidden child until the host places it
    // (a dock, a layout, a window of its own), which shows it. Null once a new
    // owner the host gave it has destroyed it.
    LineMonitor* lineMonitor() const;
    // The form for every command type, fed by this view like the line monitor and, like
    // it, a hidden child until the host places it. Its commands go to this view's engine.
    CommandForm* commandForm() const;

    // The findings of the session (see FindingsPanel), beside the layout like the line
    // monitor: a hidden child until the host places it.
    FindingsPanel* findingsPanel() const;

    // Reads a station's signal list (CSV, see PointList) for the station of this link
    // address (-1: the one in the settings) and remembers it with the settings. Rows that
    // are wrong are left out and listed in pointListProblems() ("line 7: ..."); false,
    // with the list in force unchanged, when the file is no list at all.
    bool importPointList(const QString& path, int linkAddress = -1);
    QStringList pointListProblems() const;

    // Writes the commissioning report of the session as PDF to path (created or
    // replaced), and its findings beside it as path + ".csv". False when either cannot be
    // written; reportErrorString() says why.
    bool writeReport(const QString& path);
    QString reportErrorString() const;

    // The response tables, by their titles.
    enum class ResponseTable { Single, Double, Measured, IntegratedTotal };
    Q_ENUM(ResponseTable)

    // Exports as CSV (RFC 4180, UTF-8, a header row): the event log in the order shown,
    // newest first, with time (ISO 8601 with its offset from UTC; empty without a time
    // tag), type name, type ID, address, value, quality flags and spontaneous; a response
    // table with address, value and quality flags. To the file at path, created or
    // replaced, or to a device open for writing. False when it could not be written;
    // exportErrorString() then says why (for a path, naming the file).
    bool exportEventLog(const QString& path);
    bool exportEventLog(QIODevice* device);
    bool exportTable(ResponseTable table, const QString& path);
    bool exportTable(ResponseTable table, QIODevice* device);
    QString exportErrorString() const;

Q_SIGNALS:
    // Emitted as the operator connects, disconnects and sends a command, for hosts that
    // observe them; the view drives its engine itself.
    void doConnect(const SerialParam& param, const int* lastSettings);
    void doDisconnect();
    void setStatusBarMessage(const QString& text);
    void sendCommand(Command::CommandType commandType, const QVector<int>& values);

private Q_SLOTS:
    void connectClicked();
    void disconnectClicked();
    void sendCommandRequested(Command::CommandType commandType, const QVector<int>& values);
    void defaultClicked();
    void updateAvailablePorts();
    void linkLayerStateChanged(const QString& state);
    void spontaneousDataReady(const QVector<InfoObject>& objects);
    void requestedDataReady(const QVector<InfoObject>& objects, Command::CommandType commandType);
    void responseEnded(Command::CommandType commandType);
    void readResponseReady(const InfoObject& object);
    void interrogationResponseReady(const QVector<InfoObject>& objects);
    void settingDialogFinished(int result);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace iec101

#endif // IEC101_IEC101VIEW_H
