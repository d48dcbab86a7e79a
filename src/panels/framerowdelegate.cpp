#include "framerowdelegate.h"

#include <QBrush>
#include <QPainter>

namespace iec101 {

namespace {

constexpr int kTextMargin = 4;

} // namespace

FrameRowDelegate::FrameRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void FrameRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    const QVariant background = index.data(Qt::BackgroundRole);
    if (selected)
        painter->fillRect(option.rect, option.palette.highlight());
    else if (background.canConvert<QBrush>())
        painter->fillRect(option.rect, background.value<QBrush>());

    const QVariant foreground = index.data(Qt::ForegroundRole);
    QPen pen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
    if (!selected && foreground.canConvert<QBrush>())
        pen.setColor(foreground.value<QBrush>().color());
    painter->setPen(pen);
    painter->drawText(option.rect.adjusted(kTextMargin, 0, -kTextMargin, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
}

} // namespace iec101
