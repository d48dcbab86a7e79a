#include "iec101network.h"

#include <QTimer>

namespace iec101 {

// Skeleton so that the other subsystems build; the engine fills these in.
Iec101Network::Iec101Network(QObject* parent) : QObject(parent) {}
Iec101Network::~Iec101Network() = default;
void Iec101Network::doConnect(const SerialParam&, const int*) {}
void Iec101Network::doDisconnect() {}
void Iec101Network::sendCommand(Command::CommandType, const QVector<int>&) {}
void Iec101Network::timerPollingTimeOutHandler() {}
void Iec101Network::timerCommandHandler() {}
void Iec101Network::dataReceived(const QVector<InfoObject>&) {}

} // namespace iec101
