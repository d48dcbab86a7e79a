#ifndef IEC101_EVENTVIEW_H
#define IEC101_EVENTVIEW_H

#include <QString>
#include <QWidget>

#include "infoobject.h"

class QGroupBox;
class QStandardItemModel;
class QTreeView;

// Log of the objects the slave reports unasked (spontaneous events, its end of
// initialisation, return information), newest first: time tag as the slave sent it,
// type name and number, address and value text with its quality flags.
class EventView : public QWidget
{
    Q_OBJECT
public:
    explicit EventView(QWidget* parent = nullptr);
    ~EventView() override;

    void addEvent(const InfoObject& object);
    void clearEvents();

private:
    void makeEventBox();

    QGroupBox* eventBox = nullptr;
    QStandardItemModel* eventModel = nullptr; // no parent: deleted by the destructor
    QTreeView* eventTree = nullptr;
};

#endif // IEC101_EVENTVIEW_H
