#include "TFlowLayout.h"

#include <QStyle>
#include <QWidget>

#include <algorithm>

TFlowLayout::TFlowLayout(QWidget* parent, int spacing) : QLayout(parent)
{
    if (spacing >= 0) setSpacing(spacing);
}

TFlowLayout::~TFlowLayout()
{
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void TFlowLayout::addItem(QLayoutItem* item)
{
    FItems.append(item);
}

int TFlowLayout::count() const
{
    return int(FItems.size());
}

QLayoutItem* TFlowLayout::itemAt(int index) const
{
    return FItems.value(index);
}

QLayoutItem* TFlowLayout::takeAt(int index)
{
    if (index < 0 || index >= FItems.size()) return nullptr;
    return FItems.takeAt(index);
}

Qt::Orientations TFlowLayout::expandingDirections() const
{
    return {};
}

bool TFlowLayout::hasHeightForWidth() const
{
    return true;
}

int TFlowLayout::heightForWidth(int width) const
{
    return Arrange(QRect(0, 0, width, 0), false);
}

QSize TFlowLayout::minimumSize() const
{
    // As narrow as the widest item: everything else wraps.
    QSize size;
    for (const QLayoutItem* item : FItems)
        if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize TFlowLayout::sizeHint() const
{
    // One row when there is room for it.
    int width = 0;
    int height = 0;
    int shown = 0;
    for (const QLayoutItem* item : FItems) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        width += hint.width();
        height = std::max(height, hint.height());
        ++shown;
    }
    const QMargins m = contentsMargins();
    return QSize(width + std::max(shown - 1, 0) * Gap() + m.left() + m.right(),
                 height + m.top() + m.bottom());
}

void TFlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    Arrange(rect, true);
}

int TFlowLayout::RowsAt(int width) const
{
    int rows = 0;
    Arrange(QRect(0, 0, width, 0), false, &rows);
    return rows;
}

int TFlowLayout::Gap() const
{
    if (spacing() >= 0) return spacing();
    const QWidget* w = parentWidget();
    return w ? w->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, w) : 6;
}

int TFlowLayout::Arrange(const QRect& rect, bool apply, int* rows) const
{
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = Gap();
    int x = area.x();
    int y = area.y();
    int rowHeight = 0;
    int rowCount = 0;
    for (QLayoutItem* item : FItems) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint().boundedTo(item->maximumSize()).expandedTo(item->minimumSize());
        // A new row when this one is full, unless the item starts the row anyway.
        if (x > area.x() && x + hint.width() > area.right() + 1) {
            x = area.x();
            y += rowHeight + gap;
            rowHeight = 0;
        }
        if (rowHeight == 0) ++rowCount;
        if (apply)
            item->setGeometry(
                QRect(QPoint(x, y), QSize(std::min(hint.width(), area.width()), hint.height())));
        x += hint.width() + gap;
        rowHeight = std::max(rowHeight, hint.height());
    }
    if (rows) *rows = rowCount;
    const QMargins m = contentsMargins();
    return y + rowHeight - rect.y() + m.bottom();
}
