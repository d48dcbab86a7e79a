#ifndef IEC101_DATACALLBACKWRAPPER_H
#define IEC101_DATACALLBACKWRAPPER_H

#include <QObject>
#include <QVector>

#include "infoobject.h"

namespace iec101 {

// Carries the objects of one received ASDU out of lib60870's C callback into the
// Qt world. It lives on the engine's thread, so its signal reaches the engine as a
// direct call from inside CS101_Master_run.
class DataCallbackWrapper : public QObject
{
    Q_OBJECT
public:
    explicit DataCallbackWrapper(QObject* parent = nullptr);

Q_SIGNALS:
    void dataReceived(const QVector<InfoObject>& objects);
};

} // namespace iec101

#endif // IEC101_DATACALLBACKWRAPPER_H
