#ifndef IEC101_EVENTVIEWBEFORE_H
#define IEC101_EVENTVIEWBEFORE_H

#include <QWidget>

#include "infoobject.h"

class QStandardItemModel;
class QTreeView;

// The event log as it was before its own model, kept as bench_eventlog's reference: a
// QStandardItemModel with four text items per row, shown newest first through a
// reversing proxy, and the time text made with two time-zone look-ups per event.
class EventViewBefore : public QWidget
{
    Q_OBJECT
public:
    explicit EventViewBefore(QWidget* parent = nullptr);
    ~EventViewBefore() override;

    void addEvent(const iec101::InfoObject& object);
    void clearEvents();

private:
    QStandardItemModel* eventModel = nullptr; // no parent: deleted by the destructor
    QTreeView* eventTree = nullptr;
};

#endif // IEC101_EVENTVIEWBEFORE_H
