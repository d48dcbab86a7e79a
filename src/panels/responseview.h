#ifndef IEC101_RESPONSEVIEW_H
#define IEC101_RESPONSEVIEW_H

#include <QMap>
#include <QPersistentModelIndex>
#include <QVector>
#include <QWidget>

#include "infoobject.h"
#include "pointlist.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QIODevice;
class QLineEdit;
class QStandardItem;
class QStandardItemModel;
class QTableView;

namespace iec101 {

// Latest value of every monitored object in four tables (single points, double
// points, measured values, integrated totals), each sorted by address. Interrogations
// load the tables, reads and spontaneous objects update single rows with a
// three-second highlight; a packet counter and a "Ready" indicator follow the
// finished responses. "Export CSV..." in a table's context menu writes it to a file.
class ResponseView : public QWidget
{
    Q_OBJECT
public:
    enum Table { SingleTable, DoubleTable, MeasuredTable, TotalTable };

    explicit ResponseView(QWidget* parent = nullptr);

    void clearResponses();
    void clearReady();
    void responseFinished(bool initialDataReady);
    // A read answer or an event: updates the row of its address; the answer to a Read of
    // an address the table does not list yet (readAddress) gets a row of its own.
    void updateObject(const InfoObject& object, int readAddress);
    // An interrogation result: each table it has objects for is replaced with them.
    void updateObjects(const QVector<InfoObject>& objects);

    // The stations' signal lists by link address (owned elsewhere, alive as long as this
    // panel): listed objects read with their name and engineering value, the raw value in
    // the tooltip. Rows shown already keep their text until they are updated.
    void setPointLists(const QMap<int, PointList>* lists);

    // A table as CSV, one row per address in the order shown: address, value, quality
    // flags. False with errorString set when the device cannot take it.
    bool exportCsv(Table table, QIODevice* device, QString* errorString) const;

private:
    void makeResponseBox();
    void makeTable(Table table, QStandardItemModel*& model, QTableView*& view, QAction*& exportAction,
                   const QString& name, const QString& title);
    QStandardItemModel* modelOf(Table table) const;
    QStandardItemModel* tableFor(int typeId) const;
    void clearTable(QStandardItemModel* model);
    const PointList::Point* pointOf(const InfoObject& object) const;
    void replaceTable(QStandardItemModel* model, QVector<InfoObject> objects);
    void updateRow(QStandardItemModel* model, const InfoObject& object, int row);
    void insertRow(QStandardItemModel* model, const InfoObject& object, int row, bool highlight);
    void scrollToUpdated(QTableView* view);
    void startHighlight(QStandardItemModel* model, int row, int address, QStandardItem* item);
    void startHighlightTimer();

    QMap<QStandardItemModel*, QTableView*> modelViews;
    QGroupBox* responseBox = nullptr;
    QLineEdit* packetCountEdit = nullptr;
    QStandardItemModel* singleModel = nullptr;
    QStandardItemModel* doubleModel = nullptr;
    QStandardItemModel* measuredModel = nullptr;
    QStandardItemModel* totalModel = nullptr;
    QTableView* singleView = nullptr;
    QTableView* doubleView = nullptr;
    QTableView* measuredView = nullptr;
    QTableView* totalView = nullptr;
    QAction* singleExportAction = nullptr;
    QAction* doubleExportAction = nullptr;
    QAction* measuredExportAction = nullptr;
    QAction* totalExportAction = nullptr;
    QCheckBox* readyCheckBox = nullptr;
    QCheckBox* scrollCheckBox = nullptr;
    // Persistent, so that a table cleared since the highlight invalidates it
    // instead of leaving an index into discarded rows.
    QPersistentModelIndex updatedIndex;
    const QMap<int, PointList>* pointLists = nullptr;
    // Cells highlighted by the current operation; they share one timer, started
    // when the operation ends, instead of one timer per cell.
    struct Highlight
    {
        int row;
        int address; // finds the cell again if rows were inserted above it meanwhile
        quint64 serial;
    };
    quint64 highlightSerial = 0;
    QStandardItemModel* highlightModel = nullptr;
    QVector<Highlight> pendingHighlights;
};

} // namespace iec101

#endif // IEC101_RESPONSEVIEW_H
