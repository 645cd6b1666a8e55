#pragma once

#include "CvCodecs.h"
#include "CvTextColours.h"
#include "CvTextStyle.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>

#include <deque>
#include <string>
#include <vector>

struct VTerm;
struct VTermState;

// A terminal view of a device: its VT100/xterm output is interpreted by libvterm's state
// layer (cursor moves, erase, scroll regions, the alternate screen, colours, UTF-8, wide
// characters, modes) into the cells kept here, which are painted with a scrollback,
// selection and copy. The cells are ours, not libvterm's screen layer, so that a scroll
// turns rows instead of moving every cell of the screen: a flood of lines stays cheap. Keys go back to the
// device as typed, through Output(): the owner sends those bytes through the port's write
// queue, so nothing here ever blocks on the device.
//
// While it has the focus, the console takes every key a device may need (Esc, Tab, F1-F12,
// Ctrl+letter); combinations with Ctrl+Shift other than Ctrl+Shift+C and Ctrl+Shift+V are
// left to the window, and Shift+PgUp/PgDn scroll back.
class TCvConsole : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TCvConsole(QWidget* parent = nullptr);
    ~TCvConsole() override;

    // Bytes the device sent, in the port's text encoding. A flood is taken in slices of a
    // few milliseconds, so the window stays responsive; the screen is repainted at most once
    // a frame.
    void Feed(const QByteArray& bytes);
    // Bytes received and not yet interpreted.
    qint64 Backlog() const { return FBacklog.size() - FBacklogAt; }
    // Interprets the whole backlog now (tests, and a port that closes).
    void FeedAll();

    enum class TEnterKey { Cr, Lf, CrLf };
    enum class TBackspaceKey { Del, Bs };
    void SetEnterKey(TEnterKey k) { FEnter = k; }
    TEnterKey EnterKey() const { return FEnter; }
    void SetBackspaceKey(TBackspaceKey k) { FBackspace = k; }
    TBackspaceKey BackspaceKey() const { return FBackspace; }
    // Typed text is also shown as the device would echo it. Off by default.
    void SetLocalEcho(bool on) { FLocalEcho = on; }
    bool LocalEcho() const { return FLocalEcho; }
    // The port's text encoding, both ways. UTF-8 by default.
    void SetEncoding(TTextEncoding e);
    TTextEncoding Encoding() const { return FEncoding; }
    // Lines kept above the screen; at least 10,000 by default.
    void SetScrollbackLines(int lines);
    int ScrollbackLines() const { return FScrollbackMax; }
    void SetColours(const QColor& text, const QColor& background);
    const TCvTextColours& Colours() const { return FColours; }

    // Sends typed text as the keyboard would (in the port's encoding).
    void SendText(const QString& text);
    // A paste: line breaks become CR, bracketed when the device turned bracketed paste on.
    void Paste(const QString& text);

    // The screen.
    int Rows() const { return FRows; }
    int Columns() const { return FCols; }
    struct TCell {
        QString Text;  // empty for a blank cell and for the right half of a wide character
        int Width = 1; // 2 for a wide character, 0 for its right half
        TCvTextStyle Style;
    };
    TCell Cell(int row, int col) const;
    // A screen row without its trailing blanks; ScreenText joins them with "\n".
    QString RowText(int row) const;
    QString ScreenText() const;
    QPoint CursorPos() const { return QPoint(FCursorCol, FCursorRow); }
    bool AltScreen() const { return FAltScreen; }
    QString Title() const { return FTitle; }
    // Lines scrolled off the top, the oldest first.
    int ScrollbackCount() const { return int(FScrollback.size()); }
    QString ScrollbackLine(int i) const;
    // Lines the view is scrolled back from the live screen (0: following it).
    int ScrolledBack() const { return FScrolledBack; }
    void ScrollBack(int lines);

    QString SelectedText() const;
    bool HasSelection() const { return FHasSelection; }
    void SelectAll();
    void ClearSelection();
    void CopySelection();
    void PasteClipboard();

signals:
    // Bytes for the device: keys, pastes and the answers to the device's own queries.
    void Output(const QByteArray& bytes);
    // The screen size in cells changed (a device over a serial line cannot be told; a pty can).
    void SizeChanged(int rows, int cols);
    void TitleChanged(const QString& title);
    void Bell();
    // The backlog was interpreted to its end.
    void Drained();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void inputMethodEvent(QInputMethodEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void contextMenuEvent(QContextMenuEvent*) override;
    void changeEvent(QEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;
    bool focusNextPrevChild(bool) override { return false; }
    void scrollContentsBy(int, int) override;

private:
    // One cell as painted or copied.
    struct TCellInfo {
        char32_t Chars[6] = {};
        int Count = 0; // characters in Chars; 0 for a blank cell
        int Width = 1; // 0: the right half of a wide character
        TCvTextStyle Style;
    };
    // A line scrolled off the screen: a character per column (kWideTail for the right half
    // of a wide character, 0 for blank), the style spans over it, and the combining
    // characters of the few cells that have them.
    struct TSpan {
        int Col;
        int Count;
        quint64 Style;
    };
    struct TLine {
        std::u32string Cells;
        std::vector<TSpan> Spans;
        std::vector<std::pair<int, std::u32string>> Combining;
    };
    struct TPos {
        qint64 line = 0; // counted from the first line ever scrolled off, so it survives trimming
        int col = 0;
    };

    static constexpr char32_t kWideTail = 0xFFFFFFFF;

    // libvterm's callbacks reach the members through it.
    friend struct TCvConsoleGlue;

    void ProcessBacklog(bool all);
    // A screen cell: up to three characters (a base and combining ones; kWideTail for the
    // right half of a wide character, 0 for blank) and its style.
    struct TGridCell {
        char32_t Ch[3] = {0, 0, 0};
        quint64 Style = 0;
    };
    using TRow = std::vector<TGridCell>;
    std::vector<TRow>& Grid() { return FAltScreen ? FAlt : FPrimary; }
    const std::vector<TRow>& Grid() const { return FAltScreen ? FAlt : FPrimary; }
    TGridCell Blank() const;
    void BlankRow(TRow& row) const;
    // A row scrolled off the top of the main screen goes to the scrollback, and comes back
    // when the screen grows.
    void PushRow(const TRow& row);
    TRow PopRow();
    // libvterm's state layer asks for these.
    void PutGlyph(const char32_t* chars, int width, int row, int col);
    bool ScrollRect(int startRow, int endRow, int startCol, int endCol, int downward, int rightward);
    void MoveRect(int dRow, int dCol, int sRow, int sCol, int rows, int cols);
    void EraseRect(int startRow, int endRow, int startCol, int endCol);
    void Resize(int rows, int cols, int* deltaRow);
    void FlushOutput();
    // Bytes for the device; echo is what local echo shows for them.
    void Send(const QByteArray& bytes, const QByteArray& echo = QByteArray());
    void ScheduleRepaint();
    void Relayout();
    void UpdateScrollBar();
    void FollowLive();
    int CharWidth() const;
    int LineHeight() const;
    // Lines before the screen, and the first of them still kept.
    qint64 FirstKeptLine() const { return FDropped; }
    qint64 LiveTop() const { return FDropped + qint64(FScrollback.size()); }
    qint64 TopLine() const { return LiveTop() - FScrolledBack; }
    void RowCells(qint64 line, std::vector<TCellInfo>& out) const;
    void ScreenCell(int row, int col, TCellInfo& out) const;
    TPos PosAt(const QPoint& p) const;
    bool Selected(qint64 line, int col) const;
    QString LineText(qint64 line, int from, int to) const;

    VTerm* FVt = nullptr;
    VTermState* FState = nullptr;
    std::vector<TRow> FPrimary;
    std::vector<TRow> FAlt;
    TCvTextStyle FPen; // what libvterm writes with now
    int FRows = 24;
    int FCols = 80;
    int FCursorRow = 0;
    int FCursorCol = 0;
    bool FCursorVisible = true;
    bool FAltScreen = false;
    QString FTitle;
    // Told once the input in hand is interpreted, never from inside libvterm.
    bool FTitleChanged = false;
    bool FBellPending = false;

    std::deque<TLine> FScrollback;
    qint64 FDropped = 0; // lines trimmed off the top of the scrollback
    int FScrollbackMax = 10000;
    int FScrolledBack = 0;

    QByteArray FBacklog;
    qsizetype FBacklogAt = 0;
    QTimer FFeedTimer;
    QTimer FRepaint;
    bool FRepaintDue = false;
    QByteArray FOut;

    TTextEncoding FEncoding = TTextEncoding::Utf8;
    TTextDecoder FDecoder;
    TEnterKey FEnter = TEnterKey::Cr;
    TBackspaceKey FBackspace = TBackspaceKey::Del;
    bool FLocalEcho = false;

    TCvTextColours FColours;
    bool FHasSelection = false;
    bool FSelecting = false;
    TPos FAnchor, FCursor;
    mutable std::vector<TCellInfo> FRowBuffer;
};
