#ifndef IEC101_EVENTVIEW_H
#define IEC101_EVENTVIEW_H

#include <QString>
#include <QVector>
#include <QWidget>

#include "infoobject.h"

class QAction;
class QGroupBox;
class QIODevice;
class QTreeView;

namespace iec101 {
class EventLogModel;

// Log of the objects the slave reports unasked (spontaneous events, its end of
// initialisation, return information), newest first: time tag as the slave sent it (to
// the millisecond), type name and number, address, value text with its quality flags,
// the PC's time of arrival, and with several stations where it came from. It keeps every
// event until the next Connect; "Export CSV..." in its context menu writes it to a file.
class EventView : public QWidget
{
    Q_OBJECT
public:
    explicit EventView(QWidget* parent = nullptr);

    void addEvent(const InfoObject& object);
    // The objects of one batch, in the order they arrived.
    void addEvents(const QVector<InfoObject>& objects);
    void clearEvents();
    // Which station and common address each row came from: a column of its own, shown
    // when the line has more than one of them.
    void setStationColumnShown(bool shown);

    // The log as CSV (see EventLogModel::writeCsv).
    bool exportCsv(QIODevice* device, QString* errorString) const;

private:
    void makeEventBox();

    QGroupBox* eventBox = nullptr;
    EventLogModel* eventModel = nullptr;
    QTreeView* eventTree = nullptr;
    QAction* exportLogAction = nullptr;
};

} // namespace iec101

#endif // IEC101_EVENTVIEW_H
