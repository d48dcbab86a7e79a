#ifndef IEC101_IEC101NETWORK_H
#define IEC101_IEC101NETWORK_H

#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include "command.h"
#include "iec101engine_export.h"
#include "infoobject.h"
#include "lineframe.h"
#include "serialparam.h"

namespace iec101 {

class MasterEngine;
struct CommandOutcome;
struct CommandRequest;
enum class LinkState;

// The engine's original interface: commands as a type and a list of ints, settings as six
// ints, the link state as display text, answers by command type. A thin layer over
// MasterEngine, its child, which does the work; new code uses that one through master().
// Lives on a worker thread and is reached only through queued signals.
class IEC101ENGINE_EXPORT Iec101Network : public QObject
{
    Q_OBJECT
public:
    enum BaudRate { Baud9600 = 9600, Baud19200 = 19200, Baud38400 = 38400 };
    Q_ENUM(BaudRate)
    enum DataBits { Data8 = 8 };
    Q_ENUM(DataBits)
    enum Parity { EvenParity = 'E', OddParity = 'O', NoParity = 'N' };
    Q_ENUM(Parity)
    enum StopBits { OneStop = 1, TwoStop = 2 };
    Q_ENUM(StopBits)
    enum class QCC { QCC_Group_1 = 1, QCC_Group_2, QCC_Group_3, QCC_Group_4, QCC_General };
    Q_ENUM(QCC)
    enum class QOI {
        QOI_Station = 20,
        QOI_Group_1,
        QOI_Group_2,
        QOI_Group_3,
        QOI_Group_4,
        QOI_Group_5,
        QOI_Group_6,
        QOI_Group_7,
        QOI_Group_8,
        QOI_Group_9,
        QOI_Group_10,
        QOI_Group_11,
        QOI_Group_12,
        QOI_Group_13,
        QOI_Group_14,
        QOI_Group_15,
        QOI_Group_16
    };
    Q_ENUM(QOI)

    explicit Iec101Network(QObject* parent = nullptr);
    ~Iec101Network() override;

    // The typed engine underneath, on the same thread.
    MasterEngine* master() const { return engine; }

Q_SIGNALS:
    void spontaneousDataReady(const QVector<InfoObject>& objects);
    void responseEnded(Command::CommandType commandType);
    void requestedDataReady(const QVector<InfoObject>& objects, Command::CommandType commandType);
    void linkLayerStateChangedSignal(const QString& state);
    void setStatusBarMessage(const QString& text);
    // The engine's timers are its own now and run on its thread; these still announce
    // when polling and a command's time-out start and stop.
    void startPollingTimer();
    void stopPollingTimer();
    void startCommandTimer();
    void stopCommandTimer();
    // Every frame sent and received since the last batch (see MasterEngine).
    void lineFramesReady(const QVector<LineFrame>& frames, int dropped);

public Q_SLOTS:
    void doConnect(const SerialParam& param, const int* lastSettings);
    void doDisconnect();
    void sendCommand(Command::CommandType commandType, const QVector<int>& values);
    // The receiver of lineFramesReady has taken its batch; the next one may follow.
    void lineFramesTaken();

private Q_SLOTS:
    // One polling tick more, besides the engine's own.
    void timerPollingTimeOutHandler();
    // Kept for the interface; a command's time-outs are the engine's.
    void timerCommandHandler();
    // Objects handed in as if the station had sent them unasked.
    void dataReceived(const QVector<InfoObject>& objects);

private:
    void linkStateChanged(int linkAddress, LinkState state);
    void commandFinished(const CommandRequest& request, const CommandOutcome& outcome,
                         const QVector<InfoObject>& answer);
    void flushHeldObjects();

    MasterEngine* engine = nullptr;
    bool lineOpen = false;
    bool waitingForInitialData = false;
    int commandsOnLine = 0;          // sent and not yet finished
    QVector<InfoObject> heldObjects; // unasked objects held back while a command runs
};

} // namespace iec101

#endif // IEC101_IEC101NETWORK_H
