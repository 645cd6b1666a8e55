#pragma once

#include <QWidget>

// The drag bar on the inner edge of the right panel: dragging it to the left widens
// the panel, to the right narrows it.
class TSplitterBar : public QWidget {
    Q_OBJECT
public:
    explicit TSplitterBar(QWidget* parent = nullptr);

signals:
    // The mouse moved dx pixels to the right while dragging.
    void Dragged(int dx);
    void Moved();

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    bool FDragging = false;
    int FLastX = 0;
};
