#include "iec101network.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "asdudecoder.h"
#include "datacallbackwrapper.h"
#include "metatypes.h"
#include "objectkind.h"
#include "protocolsettings.h"

namespace iec101 {

namespace {

constexpr int kPollingIntervalMs = 200;
// Worker time one polling tick may spend draining the line. Building with 0 gives
// one exchange per tick, which the benchmarks use as the reference.
#ifndef IEC101_TICK_BUDGET_MS
#define IEC101_TICK_BUDGET_MS 150
#endif
constexpr int kTickBudgetMs = IEC101_TICK_BUDGET_MS;
// A command drives the line itself: it goes out at once instead of at the next tick,
// and the line keeps running until its answer is in. Building with 0 leaves commands
// to the polling tick, which the benchmarks use as the reference.
#ifndef IEC101_COMMANDS_RUN_LINE
#define IEC101_COMMANDS_RUN_LINE 1
#endif
constexpr bool kCommandsRunLine = IEC101_COMMANDS_RUN_LINE != 0;
// A round of poll and run that brings nothing may just be waiting for the answer to
// its own request; the second such round in a row means the slave has nothing more.
constexpr int kQuietRoundsToStop = 2;
constexpr int kCommandTimeoutMs = 5000;
constexpr int kQoiStation = 20;
constexpr int kQccGeneral = 5;

// A frame field size outside what the protocol allows would make the library
// encode and decode garbage; the nearest valid size is used instead.
int clampSize(int size, int low, int high)
{
    return std::max(low, std::min(size, high));
}

// Why the port did not open, as the operator should read it.
QString openFailure(int error)
{
#ifdef Q_OS_UNIX
    if (error != 0)
        return qt_error_string(error);
#else
    Q_UNUSED(error)
#endif
    return QStringLiteral("the port is in use or access to it is denied");
}

void deleteTimer(QTimer* timer)
{
    if (!timer)
        return;
    // The timers stay on the thread that built the engine; only that thread may
    // delete them, so from anywhere else the deletion is posted to it.
    if (timer->thread() == QThread::currentThread())
        delete timer;
    else
        timer->deleteLater();
}

} // namespace

// Link-layer state callback of lib60870; runs inside CS101_Master_run.
void linkLayerStateHandler(void* parameter, int address, LinkLayerState state)
{
    Q_UNUSED(address)
    auto* self = static_cast<Iec101Network*>(parameter);
    if (!self)
        return;
    switch (state) {
    case LL_STATE_IDLE:
    case LL_STATE_BUSY:
        self->connected = false;
        break;
    case LL_STATE_ERROR:
        self->connected = false;
        Q_EMIT self->linkLayerStateChangedSignal(QStringLiteral("Error"));
        break;
    case LL_STATE_AVAILABLE:
        if (!self->initialDataRequested) {
            Q_EMIT self->linkLayerStateChangedSignal(QStringLiteral("Available. Waiting for initial data"));
            self->connected = true;
            self->initialDataRequested = true;
            // The interrogation goes out at once, the counter interrogation waits in the queue.
            self->sendCommand(Command::Interrogation, {kQoiStation});
            self->sendCommand(Command::CounterInterrogation, {kQccGeneral});
        } else {
            Q_EMIT self->linkLayerStateChangedSignal(QStringLiteral("Available"));
            self->connected = true;
        }
        break;
    default:
        break;
    }
}

// ASDU callback of lib60870; the parameter is the connection's DataCallbackWrapper.
bool asduReceivedHandler(void* parameter, int address, CS101_ASDU asdu)
{
    Q_UNUSED(address)
    auto* wrapper = static_cast<DataCallbackWrapper*>(parameter);
    if (!wrapper)
        return false;
    auto* engine = qobject_cast<Iec101Network*>(wrapper->parent());
    if (engine)
        ++engine->receivedAsduCount;
    if (!asdu || CS101_ASDU_getNumberOfElements(asdu) <= 0)
        return false;
    const int sizeOfIOA = engine ? engine->ioaSize : 3;
    Q_EMIT wrapper->dataReceived(decodeAsdu(asdu, sizeOfIOA));
    return true;
}

// Raw frame callback of lib60870; runs inside CS101_Master_run for every frame sent
// or received, corrupted ones included.
void lineFrameHandler(void* parameter, uint8_t* msg, int msgSize, bool sent)
{
    auto* self = static_cast<Iec101Network*>(parameter);
    if (self)
        self->lineFrames.append(msg, msgSize, sent);
}

Iec101Network::Iec101Network(QObject* parent) : QObject(parent)
{
    registerMetaTypes();

    // Parentless on purpose: they stay on this thread when the engine moves to its
    // worker, and are only started and stopped through the engine's signals.
    commandTimer = new QTimer;
    commandTimer->setSingleShot(true);
    commandTimer->setInterval(kCommandTimeoutMs);
    connect(commandTimer, &QTimer::timeout, this, &Iec101Network::timerCommandHandler);
    connect(this, &Iec101Network::startCommandTimer, commandTimer, QOverload<>::of(&QTimer::start));
    connect(this, &Iec101Network::stopCommandTimer, commandTimer, &QTimer::stop);

    pollingTimer = new QTimer;
    pollingTimer->setInterval(kPollingIntervalMs);
    connect(pollingTimer, &QTimer::timeout, this, &Iec101Network::timerPollingTimeOutHandler);
    connect(this, &Iec101Network::startPollingTimer, pollingTimer, QOverload<>::of(&QTimer::start));
    connect(this, &Iec101Network::stopPollingTimer, pollingTimer, &QTimer::stop);
}

Iec101Network::~Iec101Network()
{
    doDisconnect();
    deleteTimer(commandTimer);
    deleteTimer(pollingTimer);
}

void Iec101Network::doConnect(const SerialParam& param, const int* lastSettings)
{
    // Never leak an open line: a second connect replaces the first.
    if (master || serialPort)
        doDisconnect();

    spontaneousObjects.clear();
    requestedObjects.clear();
    commandQueue = QList<QueuedCommand>();
    interrogationStep = 0;
    singleCommandStep = 0;
    doubleCommandStep = 0;
    busy = false;
    connected = false;
    initialDataRequested = false;
    tickOverrunMs = 0;

    // A missing array stands for the defaults.
    const int* settings = lastSettings ? lastSettings : kDefaultProtocolSettings.data();
    commonAddress = settings[CommonAddress];
    linkAddress = settings[LinkAddress];

    // The library opens the string it gets as a path.
    port = PortWatch(param.portName);
    const QByteArray path = QFile::encodeName(port.path());
    serialPort = SerialPort_create(path.constData(), param.baudRate, uint8_t(param.dataBits),
                                   char(param.parity), uint8_t(param.stopBits));
    if (!serialPort) {
        Q_EMIT linkLayerStateChangedSignal(QStringLiteral("Disconnected"));
        return;
    }

    sLinkLayerParameters linkParameters;
    std::memset(&linkParameters, 0, sizeof linkParameters);
    linkParameters.addressLength = clampSize(settings[LinkAddressSize], 0, 2);
    linkParameters.timeoutForAck = 500;
    linkParameters.timeoutRepeat = 2000;
    linkParameters.useSingleCharACK = false;
    linkParameters.timeoutLinkState = 5000; // the library's own default

    sCS101_AppLayerParameters appParameters;
    std::memset(&appParameters, 0, sizeof appParameters);
    appParameters.sizeOfTypeId = 1;
    appParameters.sizeOfVSQ = 1;
    appParameters.sizeOfCOT = clampSize(settings[CauseSize], 1, 2);
    appParameters.originatorAddress = 0;
    appParameters.sizeOfCA = clampSize(settings[CommonAddressSize], 1, 2);
    appParameters.sizeOfIOA = clampSize(settings[ObjectAddressSize], 1, 3);
    appParameters.maxSizeOfASDU = 249;
    ioaSize = appParameters.sizeOfIOA;

    master = CS101_Master_create(serialPort, &linkParameters, &appParameters, IEC60870_LINK_LAYER_UNBALANCED);
    if (!master) {
        SerialPort_destroy(serialPort);
        serialPort = nullptr;
        Q_EMIT linkLayerStateChangedSignal(QStringLiteral("Disconnected"));
        return;
    }

    // The wrapper of an earlier connection never emits again once its master is gone.
    qDeleteAll(findChildren<DataCallbackWrapper*>(QString(), Qt::FindDirectChildrenOnly));
    auto* wrapper = new DataCallbackWrapper(this);
    connect(wrapper, &DataCallbackWrapper::dataReceived, this, &Iec101Network::dataReceived);

    CS101_Master_setASDUReceivedHandler(master, asduReceivedHandler, wrapper);
    CS101_Master_setLinkLayerStateChanged(master, linkLayerStateHandler, this);
    CS101_Master_setRawMessageHandler(master, lineFrameHandler, this);
    CS101_Master_addSlave(master, linkAddress);
    CS101_Master_useSlaveAddress(master, linkAddress);
    // A port that exists but cannot be opened (no permission, in use) is polled all the
    // same and the link never comes up, but the library must not be run on it: its
    // read would hand descriptor -1 to select(), which aborts the process.
    errno = 0;
    portOpen = SerialPort_open(serialPort);
    const int openError = errno;
    // Without a reason the operator would only see a link that never comes up. A port
    // that does not exist at all is reported as gone at the first tick instead.
    if (!portOpen && port.available())
        Q_EMIT setStatusBarMessage(
            QStringLiteral("Cannot open %1: %2").arg(port.path(), openFailure(openError)));
    Q_EMIT startPollingTimer();
}

void Iec101Network::doDisconnect()
{
    connected = false;
    portOpen = false;
    if (master) {
        Q_EMIT stopPollingTimer();
        CS101_Master_destroy(master);
        master = nullptr;
    }
    if (serialPort) {
        // Closing twice would close whatever file descriptor the first close freed.
        SerialPort_close(serialPort);
        SerialPort_destroy(serialPort);
        serialPort = nullptr;
        Q_EMIT linkLayerStateChangedSignal(QStringLiteral("Disconnected"));
    }
    // No tick follows: the last frames (often the ones that explain the end) go now.
    handOverLineFrames();
}

void Iec101Network::timerPollingTimeOutHandler()
{
    // Whatever this tick puts on the line goes to the GUI in one batch at its end.
    const auto handOver = qScopeGuard([this] { handOverLineFrames(); });
    // A tick already queued when the connection closed.
    if (!master)
        return;
    // Ticks come from a fixed-rate timer on another thread, so a tick that runs longer
    // than the interval (a slow line busy with long frames) leaves the next ones queued
    // behind it. The overrun is kept on account and one queued tick is dropped per
    // interval of it: the line stays busy, yet the queue stays short and a disconnect
    // or command never waits behind a pile of ticks.
    if (kTickBudgetMs > 0 && tickOverrunMs >= kPollingIntervalMs) {
        tickOverrunMs -= kPollingIntervalMs;
        return;
    }
    if (!port.available()) {
        doDisconnect();
        return;
    }
    if (!portOpen)
        return;
    // A command has a run of the line posted (it just went out, or its answer is still due);
    // the tick leaves the line to it and only checks the port.
    if (lineRunQueued)
        return;
    QElapsedTimer spent;
    spent.start();
    runLine();
    tickOverrunMs = std::max<qint64>(0, tickOverrunMs + spent.elapsed() - kPollingIntervalMs);
}

void Iec101Network::runLine()
{
    // Drain the line while it delivers: the library takes at most one frame per run,
    // so one exchange per tick would let a busy slave's event queue overflow and
    // stretch large interrogations far beyond what the line allows. Quiet rounds end
    // the drain only while no answer is due; a command waiting for one keeps the line
    // running, and when the slice is used up the next one is posted right behind
    // whatever reached the worker meanwhile (a disconnect, a new command).
    QElapsedTimer spent;
    spent.start();
    int quietRounds = 0;
    do {
        const quint64 before = receivedAsduCount;
        CS101_Master_pollSingleSlave(master, linkAddress);
        CS101_Master_run(master);
        // The connection may have been closed from inside a callback.
        if (!master)
            return;
        quietRounds = receivedAsduCount == before ? quietRounds + 1 : 0;
    } while ((answerDue() || quietRounds < kQuietRoundsToStop) && spent.elapsed() < kTickBudgetMs);
    if (answerDue())
        scheduleLineRun();
}

bool Iec101Network::answerDue() const
{
    // Without the link there is no answer to wait for: the line goes back to the tick,
    // and the command ends by its time-out or when the link returns.
    return kCommandsRunLine && busy && connected;
}

void Iec101Network::scheduleLineRun()
{
    // Posted rather than run here: sends happen inside the library's callbacks too,
    // and the master must not be run from within its own run.
    if (!kCommandsRunLine || lineRunQueued)
        return;
    lineRunQueued = true;
    QMetaObject::invokeMethod(this, &Iec101Network::lineRunDue, Qt::QueuedConnection);
}

void Iec101Network::lineRunDue()
{
    lineRunQueued = false;
    // The connection may have closed since this was posted. The port check costs a stat,
    // and a vanished port must not be run: the library would spin on it.
    if (!master)
        return;
    if (!port.available()) {
        doDisconnect();
        return;
    }
    if (portOpen)
        runLine();
}

void Iec101Network::handOverLineFrames()
{
    // One batch in flight at most: a GUI thread that falls behind leaves the frames in
    // the bounded buffer instead of a growing queue of signals.
    if (lineFramesOutstanding || lineFrames.isEmpty())
        return;
    int dropped = 0;
    const QVector<LineFrame> frames = lineFrames.take(&dropped);
    lineFramesOutstanding = true;
    Q_EMIT lineFramesReady(frames, dropped);
}

void Iec101Network::lineFramesTaken()
{
    lineFramesOutstanding = false;
    // While connected the next tick hands over the rest; after a disconnect nothing would.
    if (!master)
        handOverLineFrames();
}

void Iec101Network::dataReceived(const QVector<InfoObject>& objects)
{
    // Any answer from the slave while a command is pending shows it is still working on it.
    if (busy)
        Q_EMIT startCommandTimer();
    if (objects.isEmpty())
        return;

    // All objects of one ASDU share type and cause. The type alone says whether they are
    // data or a step of a command: a value the decoder could not render is still data.
    const InfoObject& first = objects.first();
    if (ObjectKind::isMonitoring(first.typeId)) {
        if (first.spontaneous) {
            spontaneousObjects += objects;
            // Events wait until the pending command has delivered its answer.
            if (busy)
                return;
        } else {
            requestedObjects += objects;
            // Data answers a Read; any other command only ends on its own confirmations.
            if (busy && pendingCommand != Command::Read)
                return;
        }
    } else if (busy && answersPendingCommand(first.typeId)) {
        // The clock sync confirmation carries the time the slave was set to.
        if (first.typeId == C_CS_NA_1)
            requestedObjects += objects;
        advanceCommandState(first.typeId);
    } else {
        // A confirmation or termination of no pending command: a late echo (a broadcast
        // clock sync confirmed after all) or a frame the slave repeats after a link
        // recovery. Counted or kept, it would end or fill the next command's response.
        return;
    }
    checkCommandProgress();
}

bool Iec101Network::answersPendingCommand(int typeId) const
{
    switch (pendingCommand) {
    case Command::Read:
        return typeId == C_RD_NA_1;
    case Command::Interrogation:
        return typeId == C_IC_NA_1;
    case Command::CounterInterrogation:
        return typeId == C_CI_NA_1;
    case Command::Single:
        return typeId == C_SC_NA_1;
    case Command::Double:
        return typeId == C_DC_NA_1;
    case Command::ClockSync:
        return typeId == C_CS_NA_1;
    }
    return false;
}

void Iec101Network::finishCommand()
{
    Q_EMIT stopCommandTimer();
    if (busy) {
        Q_EMIT requestedDataReady(requestedObjects, pendingCommand);
        requestedObjects.clear();
        Q_EMIT responseEnded(pendingCommand);
    }
    if (!spontaneousObjects.isEmpty()) {
        Q_EMIT spontaneousDataReady(spontaneousObjects);
        spontaneousObjects.clear();
    }
    sendNextCommand();
}

void Iec101Network::sendCommand(Command::CommandType commandType, const QVector<int>& values)
{
    if (!connected || !master)
        return;
    if (busy) {
        enqueueCommand(commandType, values);
        return;
    }
    // Commands are built from the first and last parameter; an empty list has neither.
    if (values.isEmpty())
        return;

    busy = true;
    Q_EMIT startCommandTimer();
    pendingValues = values;
    pendingCommand = commandType;

    switch (commandType) {
    case Command::Read:
        CS101_Master_sendReadCommand(master, commonAddress, values.first());
        break;
    case Command::Interrogation:
        CS101_Master_sendInterrogationCommand(master, CS101_COT_ACTIVATION, commonAddress,
                                              QualifierOfInterrogation(values.first() & 0xff));
        break;
    case Command::CounterInterrogation:
        CS101_Master_sendCounterInterrogationCommand(master, CS101_COT_ACTIVATION, commonAddress,
                                                     uint8_t(values.first() & 0xff));
        break;
    case Command::Single:
        sendSingleCommand(values, true);
        break;
    case Command::Double:
        sendDoubleCommand(values, true);
        break;
    case Command::ClockSync:
        sendClockSync(values.first() != 0);
        break;
    }
    // The frame leaves at the next run of the master: run it now rather than at the next tick.
    scheduleLineRun();
}

void Iec101Network::enqueueCommand(Command::CommandType commandType, const QVector<int>& values)
{
    const bool alreadyQueued =
        std::any_of(commandQueue.cbegin(), commandQueue.cend(),
                    [commandType](const QueuedCommand& entry) { return entry.first == commandType; });
    if (alreadyQueued || values.isEmpty())
        return;
    commandQueue.append(qMakePair(commandType, values));
}

void Iec101Network::sendSingleCommand(const QVector<int>& values, bool select)
{
    if (!master || values.isEmpty())
        return;
    SingleCommand command = SingleCommand_create(nullptr, values.first(), values.last() != 0, select, 0);
    if (!command)
        return;
    CS101_Master_sendProcessCommand(master, CS101_COT_ACTIVATION, commonAddress, InformationObject(command));
    SingleCommand_destroy(command);
}

void Iec101Network::sendDoubleCommand(const QVector<int>& values, bool select)
{
    if (!master || values.isEmpty())
        return;
    DoubleCommand command = DoubleCommand_create(nullptr, values.first(), values.last(), select, 0);
    if (!command)
        return;
    CS101_Master_sendProcessCommand(master, CS101_COT_ACTIVATION, commonAddress, InformationObject(command));
    DoubleCommand_destroy(command);
}

void Iec101Network::sendClockSync(bool broadcast)
{
    if (!master)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    sCP56Time2a time;
    std::memset(&time, 0, sizeof time);
    CP56Time2a_setMillisecond(&time, now.time().msec());
    CP56Time2a_setSecond(&time, now.time().second());
    CP56Time2a_setMinute(&time, now.time().minute());
    CP56Time2a_setHour(&time, now.time().hour());
    CP56Time2a_setDayOfMonth(&time, now.date().day());
    CP56Time2a_setDayOfWeek(&time, now.date().dayOfWeek());
    CP56Time2a_setMonth(&time, now.date().month());
    CP56Time2a_setYear(&time, now.date().year() % 100);
    CP56Time2a_setSummerTime(&time, now.isDaylightTime());

    if (!broadcast) {
        CS101_Master_sendClockSyncCommand(master, commonAddress, &time);
        return;
    }

    LinkLayerParameters linkParameters = CS101_Master_getLinkLayerParameters(master);
    CS101_AppLayerParameters appParameters = CS101_Master_getAppLayerParameters(master);
    const int broadcastLinkAddress = linkParameters && linkParameters->addressLength == 2 ? 65535 : 255;
    const int broadcastCommonAddress = appParameters && appParameters->sizeOfCA == 2 ? 65535 : 255;
    CS101_Master_useSlaveAddress(master, broadcastLinkAddress);
    CS101_Master_sendClockSyncCommand(master, broadcastCommonAddress, &time);
    CS101_Master_useSlaveAddress(master, linkAddress);
    // Nobody answers a broadcast.
    finishCommand();
}

void Iec101Network::advanceCommandState(int typeId)
{
    if (!busy)
        return;
    switch (typeId) {
    case C_SC_NA_1:
        singleCommandStep = (singleCommandStep + 1) % 3;
        break;
    case C_DC_NA_1:
        doubleCommandStep = (doubleCommandStep + 1) % 3;
        break;
    case C_IC_NA_1:
    case C_CI_NA_1:
        interrogationStep = (interrogationStep + 1) % 2;
        break;
    default:
        break;
    }
}

void Iec101Network::checkCommandProgress()
{
    // Confirmed interrogation: the data and the termination are still to come.
    if (interrogationStep != 0)
        return;
    if (singleCommandStep != 0) {
        // The select is confirmed: execute.
        if (singleCommandStep == 1)
            sendSingleCommand(pendingValues, false);
        return;
    }
    if (doubleCommandStep == 0)
        finishCommand();
    else if (doubleCommandStep == 1)
        sendDoubleCommand(pendingValues, false);
}

void Iec101Network::timerCommandHandler()
{
    if (!busy)
        return;
    interrogationStep = 0;
    singleCommandStep = 0;
    doubleCommandStep = 0;
    if (pendingCommand == Command::Interrogation || pendingCommand == Command::CounterInterrogation) {
        // Interrogations are what the displays are built from: keep trying, ahead of everything else.
        commandQueue.prepend(qMakePair(pendingCommand, pendingValues));
        Q_EMIT setStatusBarMessage(QStringLiteral("Interrogation command fail. Retrying..."));
    } else {
        Q_EMIT setStatusBarMessage(QStringLiteral("Command fail (if DoubleCmd, try toggle local/remote)"));
    }
    finishCommand();
}

void Iec101Network::sendNextCommand()
{
    busy = false;
    if (!commandQueue.isEmpty() && connected) {
        const QueuedCommand next = commandQueue.takeFirst();
        sendCommand(next.first, next.second);
    }
}

} // namespace iec101
