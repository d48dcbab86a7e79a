#ifndef IEC101_RESPONSEVIEW_H
#define IEC101_RESPONSEVIEW_H

#include <QMap>
#include <QPersistentModelIndex>
#include <QVector>
#include <QWidget>

#include "infoobject.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QStandardItem;
class QStandardItemModel;
class QTableView;

// Latest value of every monitored object in four tables (single points, double
// points, measured values, integrated totals). Interrogations load the tables,
// reads and spontaneous objects update single rows with a three-second highlight;
// a packet counter and a "Ready" indicator follow the finished responses.
class ResponseView : public QWidget
{
    Q_OBJECT
public:
    explicit ResponseView(QWidget* parent = nullptr);

    void clearResponses();
    void clearReady();
    void responseFinished(bool initialDataReady);
    void updateObject(const InfoObject& object, int readAddress);
    void updateObjects(const QVector<InfoObject>& objects);

private:
    void makeResponseBox();
    void makeTable(QStandardItemModel*& model, QTableView*& view, QWidget* parent, const QString& title);
    void fillTypeMaps();
    void clearTable(QStandardItemModel* model);
    int findRow(const InfoObject& object, QStandardItemModel* model) const;
    void updateRow(QStandardItemModel* model, const InfoObject& object, int row);
    void addRow(QStandardItemModel* model, const InfoObject& object, bool highlight);
    void scrollToUpdated(QTableView* view);
    void startHighlight(QStandardItemModel* model, int row, QStandardItem* item);
    void startHighlightTimer();

    QMap<int, QStandardItemModel*> typeModels;
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
    QCheckBox* readyCheckBox = nullptr;
    QCheckBox* scrollCheckBox = nullptr;
    // Persistent, so that a table cleared since the highlight invalidates it
    // instead of leaving an index into discarded rows.
    QPersistentModelIndex updatedIndex;
    // Cells highlighted by the current operation; they share one timer, started
    // when the operation ends, instead of one timer per cell.
    struct Highlight
    {
        int row;
        quint64 serial;
    };
    quint64 highlightSerial = 0;
    QStandardItemModel* highlightModel = nullptr;
    QVector<Highlight> pendingHighlights;
};

#endif // IEC101_RESPONSEVIEW_H
