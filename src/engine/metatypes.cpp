#include "metatypes.h"

#include <QMetaType>
#include <QVector>

#include "command.h"
#include "infoobject.h"
#include "lineframe.h"
#include "serialparam.h"

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
}

} // namespace iec101
