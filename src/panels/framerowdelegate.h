#ifndef IEC101_FRAMEROWDELEGATE_H
#define IEC101_FRAMEROWDELEGATE_H

#include <QStyledItemDelegate>

namespace iec101 {

// Paints the line monitor's cells as one line of text each, on the row's background,
// without the style's item layout: at 200 frames per second every repaint shows a
// dozen new rows, and the general item painting (icons, check boxes, eliding, text
// layout) costs several times the drawing itself.
class FrameRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit FrameRowDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace iec101

#endif // IEC101_FRAMEROWDELEGATE_H
