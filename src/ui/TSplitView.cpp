#include "TSplitView.h"

#include <QVariantAnimation>

namespace {
constexpr int kFrameMs = 15;
}

TSplitView::TSplitView(Placement placement, QWidget* parent) : QWidget(parent), FPlacement(placement)
{
    FContent = new QWidget(this);
    FContent->hide();
    setFixedWidth(0);
    FAnimation = new QVariantAnimation(this);
    connect(FAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& v) { setFixedWidth(v.toInt()); });
    connect(FAnimation, &QVariantAnimation::finished, this, [this] {
        setFixedWidth(FOpened ? FOpenedWidth : 0);
        FContent->setVisible(FOpened);
        if (FOpened) emit Opened();
        else emit Closed();
    });
}

void TSplitView::SetOpenedWidth(int width)
{
    FOpenedWidth = qMax(0, width);
    PlaceContent();
    if (FOpened && FAnimation->state() != QAbstractAnimation::Running) setFixedWidth(FOpenedWidth);
}

void TSplitView::Open()
{
    SetOpened(true);
}
void TSplitView::Close()
{
    SetOpened(false);
}

void TSplitView::SetOpened(bool open)
{
    if (open == FOpened) return;
    FOpened = open;
    if (open) FContent->show();
    AnimateTo(open ? FOpenedWidth : 0);
}

void TSplitView::AnimateTo(int width)
{
    FAnimation->stop();
    const int distance = qAbs(width - this->width());
    const int frames = FStep > 0 ? (distance + FStep - 1) / FStep : 0;
    FAnimation->setStartValue(this->width());
    FAnimation->setEndValue(width);
    FAnimation->setDuration(frames * kFrameMs);
    FAnimation->start();
}

void TSplitView::resizeEvent(QResizeEvent*)
{
    PlaceContent();
}

void TSplitView::PlaceContent()
{
    const int x = FPlacement == Placement::Left ? width() - FOpenedWidth : 0;
    FContent->setGeometry(x, 0, FOpenedWidth, height());
}
