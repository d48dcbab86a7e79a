#include "metatypes.h"

#include <QMetaType>
#include <QVector>

#include "command.h"
#include "commandoutcome.h"
#include "commandrequest.h"
#include "enginetuning.h"
#include "infoobject.h"
#include "lineframe.h"
#include "linkstate.h"
#include "protocolsettings.h"
#include "serialparam.h"
#include "serialsettings.h"

namespace iec101 {

void registerMetaTypes()
{
    // The names the signal signatures spell, and the full ones.
    qRegisterMetaType<Command::CommandType>();
    qRegisterMetaType<Command::CommandType>("Command::CommandType");
    qRegisterMetaType<QVector<InfoObject>>();
    qRegisterMetaType<QVector<InfoObject>>("QVector<InfoObject>");
    qRegisterMetaType<SerialParam>();
    qRegisterMetaType<SerialParam>("SerialParam");
    qRegisterMetaType<QVector<int>>("QVector<int>");
    qRegisterMetaType<const int*>("const int *");
    qRegisterMetaType<QVector<LineFrame>>();
    qRegisterMetaType<QVector<LineFrame>>("QVector<LineFrame>");
    // The typed interface of the engine.
    qRegisterMetaType<CommandRequest>();
    qRegisterMetaType<CommandOutcome>();
    qRegisterMetaType<LinkState>();
    qRegisterMetaType<ProtocolSettings>();
    qRegisterMetaType<SerialSettings>();
    qRegisterMetaType<EngineTuning>();
}

} // namespace iec101
