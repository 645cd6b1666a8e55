#include "TSplitterBar.h"

#include <QMouseEvent>
#include <QStyleOption>
#include <QStylePainter>

TSplitterBar::TSplitterBar(QWidget* parent) : QWidget(parent)
{
    setFixedWidth(5);
    setCursor(Qt::SplitHCursor);
}

void TSplitterBar::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOption opt;
    opt.initFrom(this);
    opt.state |= QStyle::State_Horizontal;
    p.drawPrimitive(QStyle::PE_IndicatorDockWidgetResizeHandle, opt);
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(0, 0, 0, height());
    p.drawLine(width() - 1, 0, width() - 1, height());
}

void TSplitterBar::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    FDragging = true;
    FLastX = qRound(e->globalPosition().x());
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* e)
{
    if (!FDragging) return;
    const int x = qRound(e->globalPosition().x());
    if (x == FLastX) return;
    emit Dragged(x - FLastX);
    FLastX = x;
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent* e)
{
    if (!FDragging || e->button() != Qt::LeftButton) return;
    FDragging = false;
    emit Moved();
}
