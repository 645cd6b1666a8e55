#pragma once

#include "TLogModel.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QTimer>

#include <functional>

// The log view: shows a TLogModel, paints only the lines on screen, lets the user select
// and copy, and while not read-only takes typing on its last line (the terminal prompt).
class TLogMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Return true to swallow the key.
    using TKeyHandler = std::function<bool(QKeyEvent*)>;

    explicit TLogMemo(QWidget* parent = nullptr);

    TLogModel& Model() { return FModel; }
    const TLogModel& Model() const { return FModel; }

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool on);
    void ScrollToEnd();
    bool AtEnd() const;

    QString SelectedText() const;
    void SelectAll();
    void ClearSelection();
    void CopySelection();
    bool HasSelection() const { return FHasSelection; }

    void SetTextColor(const QColor& c);
    void SetBackgroundColor(const QColor& c);
    QColor TextColor() const { return FTextColor; }
    QColor BackgroundColor() const { return FBackground; }

    void SetOnKeyDown(TKeyHandler h) { FOnKeyDown = std::move(h); }
    void SetOnKeyPress(TKeyHandler h) { FOnKeyPress = std::move(h); }

    // The line the caret stands on: the last line (the prompt) while editable.
    qint64 CaretLine() const;
    // A key as typed by the user, through the handlers and then the editor.
    void TypeKey(QKeyEvent* e);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    void changeEvent(QEvent*) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct Pos {
        qint64 line = 0;
        qint64 col = 0;
    };
    void ModelChanged();
    void UpdateScrollBars();
    Pos PosAt(const QPoint& p) const;
    int LineHeight() const;
    int VisibleLines() const;

    TLogModel FModel;
    QTimer FRefresh;
    bool FReadOnly = true;
    bool FFollowEnd = true;
    bool FHasSelection = false;
    bool FSelecting = false;
    Pos FAnchor, FCursor;
    QColor FTextColor;
    QColor FBackground;
    TKeyHandler FOnKeyDown;
    TKeyHandler FOnKeyPress;
};
