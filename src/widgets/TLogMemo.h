#pragma once

#include "CvTextColours.h"
#include "TLogKey.h"
#include "TLogModel.h"
#include "TLogView.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QTimer>

#include <functional>

class QPainter;

// The log view: shows a TLogModel, paints only the lines on screen (with the colour runs of
// the lines that have them), lets the user select and copy, and while not read-only takes
// typing on its last line (the terminal prompt).
// A port object writes into it through TLogView.
class TLogMemo : public QAbstractScrollArea, public TLogView {
    Q_OBJECT
public:
    explicit TLogMemo(QWidget* parent = nullptr);

    // The log view a port object writes into, when it is one of these.
    static TLogMemo* Of(TLogView* view) { return dynamic_cast<TLogMemo*>(view); }

    TLogModel& Model() override { return FModel; }
    const TLogModel& Model() const override { return FModel; }

    bool ReadOnly() const override { return FReadOnly; }
    void SetReadOnly(bool on) override;
    // New lines are to be shown: the view follows the end, unless the user has scrolled
    // up, in which case it stays where it is until the user is back at the bottom.
    void ScrollToEnd() override;
    bool IsShown() const override { return isVisible(); }
    bool InWindow() const override { return parentWidget() != nullptr; }
    // Goes to the end and follows it again (Ctrl+End, typing at the prompt).
    void JumpToEnd();
    bool AtEnd() const;
    bool FollowsEnd() const { return FFollowEnd; }

    // Paused, the view keeps showing the lines it showed; the model goes on taking what
    // arrives, and all of it shows when the pause ends.
    void SetPaused(bool on);
    bool Paused() const { return FPaused; }
    // What the view shows: the model's lines, or while paused those it showed then.
    qint64 ShownLineCount() const;
    QString ShownLine(qint64 i) const;
    qint64 FirstVisibleLine() const;
    qint64 LastVisibleLine() const;

    // Selects Length characters from column Col of Line, marks them as a find match and
    // scrolls them into view.
    void ShowMatch(qint64 Line, qint64 Col, qint64 Length);
    bool HasMatch() const { return FHasSelection && FMatch; }
    // The selection in text order; false without one.
    bool SelectionBounds(qint64& line1, qint64& col1, qint64& line2, qint64& col2) const;

    QString SelectedText() const;
    void SelectAll();
    void ClearSelection();
    void CopySelection();
    bool HasSelection() const { return FHasSelection; }

    void SetTextColor(const QColor& c);
    void SetBackgroundColor(const QColor& c);
    QColor TextColor() const { return FTextColor; }
    QColor BackgroundColor() const { return FBackground; }
    // How the colour runs of the lines are painted on the current colours.
    const TCvTextColours& TextColours() const { return FColours; }

    void SetOnKeyDown(TKeyHandler h) override { FOnKeyDown = std::move(h); }
    void SetOnKeyPress(TKeyHandler h) override { FOnKeyPress = std::move(h); }

    // The line the caret stands on: the last line (the prompt) while editable.
    qint64 CaretLine() const override;
    // A key as typed by the user, through the handlers and then the editor.
    void TypeKey(QKeyEvent* e);

signals:
    void PausedChanged(bool paused);

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
    void Freeze();
    // Paints text with its runs from x(0); xAt gives the x of a column. Columns [selFrom,
    // selTo) are selected: their background is already painted, their text takes selFg.
    template <typename XAt>
    void PaintRuns(QPainter& p, const QString& text, const TCvStyleRuns& runs, int y, qint64 selFrom,
                   qint64 selTo, const QColor& selFg, XAt xAt);

    TLogModel FModel;
    QTimer FRefresh;
    bool FReadOnly = true;
    bool FFollowEnd = true;
    bool FHasSelection = false;
    bool FSelecting = false;
    bool FMatch = false;
    bool FPaused = false;
    qint64 FFrozenLines = 0;
    QString FFrozenLast;
    TCvStyleRuns FFrozenLastRuns;
    Pos FAnchor, FCursor;
    QColor FTextColor;
    QColor FBackground;
    TCvTextColours FColours;
    TKeyHandler FOnKeyDown;
    TKeyHandler FOnKeyPress;
};
