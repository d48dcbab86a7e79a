#ifndef IEC101_FINDINGSPANEL_H
#define IEC101_FINDINGSPANEL_H

#include <QString>
#include <QWidget>

#include "iec101view_export.h"

class QAction;
class QComboBox;
class QLabel;
class QModelIndex;
class QPushButton;
class QTableView;

namespace iec101 {

class FindingsModel;
class FindingsTracker;

// The findings of the session as they are found, one row each (time, kind, station,
// common and object address, name, detail, count), with a filter by kind and by station.
// Double-clicking a finding (or "Show frame") asks for its frame in the line monitor.
// "Import point list..." and "Write report..." ask for a file and pass it on; the view
// does the work. Iec101View builds it and feeds it; a host places it where it likes
// (see Iec101View::findingsPanel()).
class IEC101VIEW_EXPORT FindingsPanel : public QWidget
{
    Q_OBJECT
public:
    explicit FindingsPanel(FindingsTracker* tracker, QWidget* parent = nullptr);
    ~FindingsPanel() override;

    // The stations the station filter offers, and the number of listed points shown.
    void setStations(const QVector<int>& linkAddresses);
    void setPointListText(const QString& text);
    // The tracker started a new session.
    void reload();

Q_SIGNALS:
    // The frame a finding came with (LineFrame::timeUs).
    void frameRequested(qint64 timeUs);
    void pointListChosen(const QString& path);
    void reportChosen(const QString& path);

private:
    void filterChanged();
    void showFrameOf(const QModelIndex& index);

    FindingsModel* findingsModel = nullptr;
    QComboBox* kindComboBox = nullptr;
    QComboBox* stationComboBox = nullptr;
    QTableView* findingsTable = nullptr;
    QLabel* pointListLabel = nullptr;
    QLabel* countLabel = nullptr;
    QPushButton* importButton = nullptr;
    QPushButton* reportButton = nullptr;
    QAction* showFrameAction = nullptr;
    QAction* reportAction = nullptr;
};

} // namespace iec101

#endif // IEC101_FINDINGSPANEL_H
