#ifndef IEC101_IEC101NETWORK_H
#define IEC101_IEC101NETWORK_H

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>

#include "command.h"
#include "infoobject.h"
#include "lineframe.h"
#include "lineframebuffer.h"
#include "portwatch.h"
#include "serialparam.h"

// hal_serial.h must precede cs101_master.h, which uses SerialPort without including it.
#include <hal_serial.h>

#include <cs101_master.h>

class QTimer;

namespace iec101 {

// The IEC 60870-5-101 master: one slave on one serial line, unbalanced mode.
// Lives on a worker thread and is reached only through queued signals. Its two
// timers stay on the thread that created the engine and are driven only through
// the start/stop signals, so no lib60870 call ever runs outside the worker thread.
// Besides the tick, a command runs the line itself, through calls posted to the
// worker, from the moment it goes out until its answer is in.
class Iec101Network : public QObject
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

Q_SIGNALS:
    void spontaneousDataReady(const QVector<InfoObject>& objects);
    void responseEnded(Command::CommandType commandType);
    void requestedDataReady(const QVector<InfoObject>& objects, Command::CommandType commandType);
    void linkLayerStateChangedSignal(const QString& state);
    void setStatusBarMessage(const QString& text);
    void startPollingTimer();
    void stopPollingTimer();
    void startCommandTimer();
    void stopCommandTimer();
    // Every frame sent and received since the last batch, at most one batch per polling
    // tick and none while the previous one has not been taken (lineFramesTaken); the
    // frames that did not fit the engine's bounded buffer meanwhile are only counted.
    void lineFramesReady(const QVector<LineFrame>& frames, int dropped);

public Q_SLOTS:
    void doConnect(const SerialParam& param, const int* lastSettings);
    void doDisconnect();
    void sendCommand(Command::CommandType commandType, const QVector<int>& values);
    // The receiver of lineFramesReady has taken its batch; the next one may follow.
    void lineFramesTaken();

private Q_SLOTS:
    void timerPollingTimeOutHandler();
    void timerCommandHandler();
    void dataReceived(const QVector<InfoObject>& objects);

private:
    friend void linkLayerStateHandler(void* parameter, int address, LinkLayerState state);
    friend bool asduReceivedHandler(void* parameter, int address, CS101_ASDU asdu);
    friend void lineFrameHandler(void* parameter, uint8_t* msg, int msgSize, bool sent);

    using QueuedCommand = QPair<Command::CommandType, QVector<int>>;

    void enqueueCommand(Command::CommandType commandType, const QVector<int>& values);
    void sendSingleCommand(const QVector<int>& values, bool select);
    void sendDoubleCommand(const QVector<int>& values, bool select);
    void sendClockSync(bool broadcast);
    bool answersPendingCommand(int typeId) const;
    void advanceCommandState(int typeId);
    void checkCommandProgress();
    void sendNextCommand();
    void finishCommand();
    void handOverLineFrames();
    void runLine();
    bool answerDue() const;
    void scheduleLineRun();
    void lineRunDue();

    CS101_Master master = nullptr;
    SerialPort serialPort = nullptr;
    int commonAddress = 0;
    int linkAddress = 0;
    QTimer* pollingTimer = nullptr;
    QTimer* commandTimer = nullptr;
    PortWatch port; // the port of the last connect
    Command::CommandType pendingCommand = Command::Read;
    QVector<int> pendingValues;
    int interrogationStep = 0;
    int singleCommandStep = 0;
    int doubleCommandStep = 0;
    QList<QueuedCommand> commandQueue;
    bool busy = false;
    bool connected = false;
    bool initialDataRequested = false;
    QVector<InfoObject> spontaneousObjects;
    QVector<InfoObject> requestedObjects;
    int ioaSize = 3;               // object address size in force, for checking received payloads
    quint64 receivedAsduCount = 0; // every ASDU the library reported, for the polling loop
    qint64 tickOverrunMs = 0;      // polling time spent beyond the tick interval, not yet made up
    bool portOpen = false;         // the last connect opened the line; polling waits otherwise
    LineFrameBuffer lineFrames;
    bool lineFramesOutstanding = false; // a batch is on its way to the GUI thread
    bool lineRunQueued = false;         // a run of the line for a command is posted to this thread
};

} // namespace iec101

#endif // IEC101_IEC101NETWORK_H
