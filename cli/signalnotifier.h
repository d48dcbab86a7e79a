#ifndef IEC101_SIGNALNOTIFIER_H
#define IEC101_SIGNALNOTIFIER_H

#include <QObject>

class QSocketNotifier;

namespace iec101 {

// SIGINT and SIGTERM as a Qt signal on the event loop, so that the program closes its
// line and its capture the way a normal end does. The handler only writes the signal's
// number to a socket pair; a second signal of the same kind takes its default action and
// ends the process at once, should the first one's clean end ever stick.
class SignalNotifier : public QObject
{
    Q_OBJECT
public:
    explicit SignalNotifier(QObject* parent = nullptr);
    ~SignalNotifier() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    QSocketNotifier* notifier = nullptr;
};

} // namespace iec101

#endif // IEC101_SIGNALNOTIFIER_H
