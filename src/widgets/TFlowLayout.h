#pragma once

#include <QLayout>
#include <QList>

// A row of controls that wraps onto further rows when its width runs out, like words in a
// line of text: a toolbar that never makes the window wider than the screen. Items keep
// their size hints and their order; rows are as tall as their tallest item.
class TFlowLayout : public QLayout {
public:
    explicit TFlowLayout(QWidget* parent = nullptr, int spacing = -1);
    ~TFlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

    // The rows the items take at that width (for tests).
    int RowsAt(int width) const;

private:
    // Lays the items out in rect (only measures when apply is false); the height used.
    int Arrange(const QRect& rect, bool apply, int* rows = nullptr) const;
    int Gap() const;

    QList<QLayoutItem*> FItems;
};
