#pragma once

#include <QWidget>

class QVariantAnimation;

// A panel on the left or right edge of the window that slides open to its opened
// width and closes to nothing. Its content keeps the opened width while it slides.
class TSplitView : public QWidget {
    Q_OBJECT
public:
    enum class Placement { Left, Right };

    TSplitView(Placement placement, QWidget* parent = nullptr);

    QWidget* Content() const { return FContent; }
    bool IsOpened() const { return FOpened; }
    int OpenedWidth() const { return FOpenedWidth; }
    // Takes effect at once while the panel is open.
    void SetOpenedWidth(int width);
    // Pixels per animation frame; 0 switches the animation off.
    void SetAnimationStep(int step) { FStep = step; }

    void Open();
    void Close();
    void SetOpened(bool open);

signals:
    void Opened();
    void Closed();

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void AnimateTo(int width);
    void PlaceContent();

    Placement FPlacement;
    QWidget* FContent = nullptr;
    QVariantAnimation* FAnimation = nullptr;
    bool FOpened = false;
    int FOpenedWidth = 200;
    int FStep = 60;
};
