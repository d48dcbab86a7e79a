#ifndef IEC101_LINELISTENER_H
#define IEC101_LINELISTENER_H

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

#include "commandoutcome.h"
#include "commandrequest.h"
#include "iec101engine_export.h"
#include "infoobject.h"
#include "lineframe.h"
#include "linkstate.h"
#include "protocolsettings.h"
#include "serialsettings.h"

namespace iec101 {

// Listens to a line another master polls, through a tap on the pair, and never
// transmits: the device is opened read-only and nothing in this class writes to it. It
// reassembles FT1.2 frames of both directions (from one device that hears both, or two,
// one per direction, for a full-duplex tap), decodes their ASDUs with lib60870 and
// reports them with the engine's signals, so that the monitor, the capture, the tables,
// the log and the findings are fed as if the data were the engine's own: the station's
// objects, the other master's commands with the outcomes the station gave them, link
// states and the frames.
//
// With one device the direction of a frame is its PRM bit (in balanced mode its DIR
// bit); a single-character acknowledgement answers the frame before it. With two, the
// first device hears the master and the second the station. Lives on one thread.
class IEC101ENGINE_EXPORT LineListener : public QObject
{
    Q_OBJECT
public:
    explicit LineListener(QObject* parent = nullptr);
    ~LineListener() override;

    bool isOpen() const;

public Q_SLOTS:
    // Opens the device(s) read-only in the serial settings' character format; portName
    // hears both directions unless secondPort is given. A device that does not open is
    // reported by statusMessage and a Disconnected state.
    void open(const iec101::SerialSettings& serial, const iec101::ProtocolSettings& protocol,
              const QString& secondPort = QString());
    void close();
    // The receiver of lineFramesReady has taken its batch; the next one may follow.
    void lineFramesTaken();

Q_SIGNALS:
    void linkStateChanged(int linkAddress, iec101::LinkState state);
    void dataReceived(const QVector<iec101::InfoObject>& objects);
    // A command of the other master, ended by the station's answer or by its absence, with
    // what answered it (an interrogation's data, a read's object), as the engine reports
    // its own; data no command waits for comes by dataReceived.
    void commandFinished(const iec101::CommandRequest& request, const iec101::CommandOutcome& outcome,
                         const QVector<iec101::InfoObject>& answer);
    void statusMessage(const QString& text);
    void lineFramesReady(const QVector<iec101::LineFrame>& frames, int dropped);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace iec101

#endif // IEC101_LINELISTENER_H
