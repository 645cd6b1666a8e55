#include "TCvConsole.h"

#include "CvMessages.h"

#include <vterm.h>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

// A flood is interpreted in slices: this much at a time, and no longer than this before the
// event loop gets its turn.
constexpr qsizetype kSliceBytes = 16 * 1024;
constexpr qint64 kSliceBudgetMs = 6;
// At most one repaint a frame.
constexpr int kFrameMs = 16;

quint32 ColourOf(const VTermColor& c)
{
    if (VTERM_COLOR_IS_INDEXED(&c)) return TCvTextStyle::Palette(c.indexed.idx);
    return TCvTextStyle::Rgb(c.rgb.red, c.rgb.green, c.rgb.blue);
}

QString CharsText(const char32_t* chars, int count)
{
    return QString::fromUcs4(chars, count);
}

bool IsBlank(char32_t c)
{
    return c == 0 || c == U' ';
}

} // namespace

// libvterm's state layer calls these with the console as its user data.
struct TCvConsoleGlue {
    static TCvConsole* Of(void* user) { return static_cast<TCvConsole*>(user); }

    static int PutGlyph(VTermGlyphInfo* info, VTermPos pos, void* user)
    {
        char32_t chars[3] = {0, 0, 0};
        for (int k = 0; k < 3 && k < VTERM_MAX_CHARS_PER_CELL && info->chars[k]; ++k)
            chars[k] = info->chars[k];
        Of(user)->PutGlyph(chars, info->width, pos.row, pos.col);
        return 1;
    }
    static int MoveCursor(VTermPos pos, VTermPos, int visible, void* user)
    {
        TCvConsole* c = Of(user);
        c->FCursorRow = pos.row;
        c->FCursorCol = pos.col;
        c->FCursorVisible = visible != 0;
        c->ScheduleRepaint();
        return 1;
    }
    static int ScrollRect(VTermRect r, int downward, int rightward, void* user)
    {
        return Of(user)->ScrollRect(r.start_row, r.end_row, r.start_col, r.end_col, downward, rightward) ? 1
                                                                                                         : 0;
    }
    static int MoveRect(VTermRect dest, VTermRect src, void* user)
    {
        Of(user)->MoveRect(dest.start_row, dest.start_col, src.start_row, src.start_col,
                           src.end_row - src.start_row, src.end_col - src.start_col);
        return 1;
    }
    static int Erase(VTermRect r, int, void* user)
    {
        Of(user)->EraseRect(r.start_row, r.end_row, r.start_col, r.end_col);
        return 1;
    }
    static int InitPen(void* user)
    {
        Of(user)->FPen = TCvTextStyle();
        return 1;
    }
    static int SetPenAttr(VTermAttr attr, VTermValue* val, void* user)
    {
        TCvTextStyle& pen = Of(user)->FPen;
        switch (attr) {
        case VTERM_ATTR_BOLD: pen.Set(TCvTextStyle::Bold, val->boolean); break;
        case VTERM_ATTR_UNDERLINE: pen.Set(TCvTextStyle::Underline, val->number != 0); break;
        case VTERM_ATTR_ITALIC: pen.Set(TCvTextStyle::Italic, val->boolean); break;
        case VTERM_ATTR_REVERSE: pen.Set(TCvTextStyle::Inverse, val->boolean); break;
        case VTERM_ATTR_STRIKE: pen.Set(TCvTextStyle::Strike, val->boolean); break;
        case VTERM_ATTR_FOREGROUND:
            pen.SetForeground(VTERM_COLOR_IS_DEFAULT_FG(&val->color) ? 0 : ColourOf(val->color));
            break;
        case VTERM_ATTR_BACKGROUND:
            pen.SetBackground(VTERM_COLOR_IS_DEFAULT_BG(&val->color) ? 0 : ColourOf(val->color));
            break;
        default: break; // blink and fonts are not shown
        }
        return 1;
    }
    static int TermProp(VTermProp prop, VTermValue* val, void* user)
    {
        TCvConsole* c = Of(user);
        switch (prop) {
        case VTERM_PROP_CURSORVISIBLE: c->FCursorVisible = val->boolean != 0; break;
        case VTERM_PROP_ALTSCREEN: {
            const bool on = val->boolean != 0;
            if (on && !c->FAltScreen)
                for (TCvConsole::TRow& row : c->FAlt) c->BlankRow(row);
            c->FAltScreen = on;
            c->FScrolledBack = 0;
            break;
        }
        case VTERM_PROP_TITLE:
            c->FTitle = QString::fromUtf8(val->string ? val->string : "");
            c->FTitleChanged = true;
            break;
        default: break;
        }
        c->ScheduleRepaint();
        return 1;
    }
    static int Bell(void* user)
    {
        Of(user)->FBellPending = true;
        return 1;
    }
    static int Resize(int rows, int cols, VTermPos* delta, void* user)
    {
        Of(user)->Resize(rows, cols, &delta->row);
        return 1;
    }
    static void Output(const char* s, size_t len, void* user) { Of(user)->FOut.append(s, qsizetype(len)); }
};

namespace {
const VTermStateCallbacks kStateCallbacks = {
    &TCvConsoleGlue::PutGlyph,
    &TCvConsoleGlue::MoveCursor,
    &TCvConsoleGlue::ScrollRect,
    &TCvConsoleGlue::MoveRect,
    &TCvConsoleGlue::Erase,
    &TCvConsoleGlue::InitPen,
    &TCvConsoleGlue::SetPenAttr,
    &TCvConsoleGlue::TermProp,
    &TCvConsoleGlue::Bell,
    &TCvConsoleGlue::Resize,
    nullptr,
};
} // namespace

TCvConsole::TCvConsole(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    FColours = TCvTextColours(palette().color(QPalette::Text), palette().color(QPalette::Base));

    FPrimary.assign(std::size_t(FRows), TRow(std::size_t(FCols)));
    FAlt = FPrimary;
    FVt = vterm_new(FRows, FCols);
    vterm_set_utf8(FVt, 1);
    vterm_output_set_callback(FVt, &TCvConsoleGlue::Output, this);
    FState = vterm_obtain_state(FVt);
    vterm_state_set_callbacks(FState, &kStateCallbacks, this);
    vterm_state_reset(FState, 1);

    FFeedTimer.setSingleShot(true);
    FFeedTimer.setInterval(0);
    connect(&FFeedTimer, &QTimer::timeout, this, [this] { ProcessBacklog(false); });
    FRepaint.setSingleShot(true);
    FRepaint.setInterval(kFrameMs);
    connect(&FRepaint, &QTimer::timeout, this, [this] {
        FRepaintDue = false;
        UpdateScrollBar();
        viewport()->update();
    });
    UpdateScrollBar();
}

TCvConsole::~TCvConsole()
{
    vterm_free(FVt);
}

void TCvConsole::SetEncoding(TTextEncoding e)
{
    FEncoding = e;
    FDecoder.SetEncoding(e);
}

void TCvConsole::SetScrollbackLines(int lines)
{
    FScrollbackMax = std::max(0, lines);
    while (int(FScrollback.size()) > FScrollbackMax) {
        FScrollback.pop_front();
        ++FDropped;
    }
    FScrolledBack = std::min(FScrolledBack, int(FScrollback.size()));
    UpdateScrollBar();
    viewport()->update();
}

void TCvConsole::SetColours(const QColor& text, const QColor& background)
{
    FColours = TCvTextColours(text, background);
    viewport()->update();
}

// ---- what the device sends ----

void TCvConsole::Feed(const QByteArray& bytes)
{
    if (bytes.isEmpty()) return;
    FBacklog.append(bytes);
    if (!FFeedTimer.isActive()) FFeedTimer.start();
}

void TCvConsole::FeedAll()
{
    FFeedTimer.stop();
    ProcessBacklog(true);
}

void TCvConsole::ProcessBacklog(bool all)
{
    QElapsedTimer t;
    t.start();
    while (FBacklogAt < FBacklog.size()) {
        const qsizetype n = std::min(kSliceBytes, FBacklog.size() - FBacklogAt);
        const char* p = FBacklog.constData() + FBacklogAt;
        if (FEncoding == TTextEncoding::Utf8) {
            // libvterm decodes UTF-8 itself, a character split between slices included.
            vterm_input_write(FVt, p, size_t(n));
        } else {
            const QByteArray utf8 = FDecoder.Decode(p, n).toUtf8();
            vterm_input_write(FVt, utf8.constData(), size_t(utf8.size()));
        }
        FBacklogAt += n;
        if (!all && t.elapsed() >= kSliceBudgetMs) break;
    }
    if (FBacklogAt >= FBacklog.size()) {
        FBacklog.clear();
        FBacklogAt = 0;
    } else if (FBacklogAt > (qsizetype(1) << 20)) {
        FBacklog.remove(0, FBacklogAt);
        FBacklogAt = 0;
    }
    // Answers to the device's queries (cursor position, device attributes) go back at once.
    FlushOutput();
    if (FTitleChanged) {
        FTitleChanged = false;
        emit TitleChanged(FTitle);
    }
    if (FBellPending) {
        FBellPending = false;
        emit Bell();
    }
    if (Backlog() > 0) FFeedTimer.start();
    else emit Drained();
}

// ---- the cells ----

TCvConsole::TGridCell TCvConsole::Blank() const
{
    // Erased cells take the background of the pen, as on xterm.
    TCvTextStyle back;
    back.SetBackground(FPen.Background());
    TGridCell c;
    c.Style = back.Bits();
    return c;
}

void TCvConsole::BlankRow(TRow& row) const
{
    std::fill(row.begin(), row.end(), Blank());
}

void TCvConsole::PutGlyph(const char32_t* chars, int width, int row, int col)
{
    std::vector<TRow>& grid = Grid();
    if (row < 0 || row >= int(grid.size()) || col < 0 || col >= FCols) return;
    TGridCell& c = grid[std::size_t(row)][std::size_t(col)];
    std::copy(chars, chars + 3, c.Ch);
    c.Style = FPen.Bits();
    if (width == 2 && col + 1 < FCols) {
        TGridCell& tail = grid[std::size_t(row)][std::size_t(col + 1)];
        tail = TGridCell();
        tail.Ch[0] = kWideTail;
        tail.Style = FPen.Bits();
    }
    ScheduleRepaint();
}

bool TCvConsole::ScrollRect(int startRow, int endRow, int startCol, int endCol, int downward, int rightward)
{
    // Whole rows only; anything else libvterm does with MoveRect and EraseRect.
    if (rightward != 0 || startCol != 0 || endCol != FCols) return false;
    std::vector<TRow>& grid = Grid();
    endRow = std::min(endRow, int(grid.size()));
    const int rows = endRow - startRow;
    if (rows <= 0 || downward == 0) return true;
    const int n = std::min(std::abs(downward), rows);
    const auto first = grid.begin() + startRow, last = grid.begin() + endRow;
    if (downward > 0) {
        // Rows leaving the top of the main screen are kept in the scrollback.
        if (startRow == 0 && !FAltScreen)
            for (int k = 0; k < n; ++k) PushRow(grid[std::size_t(k)]);
        std::rotate(first, first + n, last);
        for (auto it = last - n; it != last; ++it) BlankRow(*it);
    } else {
        std::rotate(first, last - n, last);
        for (auto it = first; it != first + n; ++it) BlankRow(*it);
    }
    ScheduleRepaint();
    return true;
}

void TCvConsole::MoveRect(int dRow, int dCol, int sRow, int sCol, int rows, int cols)
{
    std::vector<TRow>& grid = Grid();
    // Through a copy: the two rectangles may overlap either way.
    std::vector<TRow> part(std::size_t(std::max(0, rows)));
    for (int r = 0; r < rows; ++r) {
        if (sRow + r < 0 || sRow + r >= int(grid.size())) continue;
        const TRow& from = grid[std::size_t(sRow + r)];
        for (int c = 0; c < cols && sCol + c < int(from.size()); ++c)
            part[std::size_t(r)].push_back(from[std::size_t(sCol + c)]);
    }
    for (int r = 0; r < rows; ++r) {
        if (dRow + r < 0 || dRow + r >= int(grid.size())) continue;
        TRow& to = grid[std::size_t(dRow + r)];
        const TRow& from = part[std::size_t(r)];
        for (std::size_t c = 0; c < from.size() && dCol + int(c) < int(to.size()); ++c)
            to[std::size_t(dCol) + c] = from[c];
    }
    ScheduleRepaint();
}

void TCvConsole::EraseRect(int startRow, int endRow, int startCol, int endCol)
{
    std::vector<TRow>& grid = Grid();
    const TGridCell blank = Blank();
    for (int r = std::max(0, startRow); r < std::min(endRow, int(grid.size())); ++r) {
        TRow& row = grid[std::size_t(r)];
        for (int c = std::max(0, startCol); c < std::min(endCol, int(row.size())); ++c)
            row[std::size_t(c)] = blank;
    }
    ScheduleRepaint();
}

void TCvConsole::Resize(int rows, int cols, int* deltaRow)
{
    const auto fitColumns = [&](std::vector<TRow>& grid) {
        for (TRow& row : grid) row.resize(std::size_t(cols), Blank());
    };
    // The screen in use keeps the cursor's line: rows above it go to the scrollback (the main
    // screen) when it shrinks, and come back from it when it grows.
    const auto fitRows = [&](std::vector<TRow>& grid, bool active, bool keepsLines) {
        const int old = int(grid.size());
        if (rows < old) {
            const int over = active ? std::clamp(FCursorRow - (rows - 1), 0, old - rows) : 0;
            for (int k = 0; k < over; ++k)
                if (keepsLines) PushRow(grid[std::size_t(k)]);
            grid.erase(grid.begin(), grid.begin() + over);
            grid.resize(std::size_t(rows));
            if (active) *deltaRow -= over;
        } else if (rows > old) {
            int back = 0;
            if (active && keepsLines)
                while (back < rows - old && !FScrollback.empty()) {
                    grid.insert(grid.begin(), PopRow());
                    ++back;
                }
            grid.resize(std::size_t(rows), TRow(std::size_t(cols)));
            if (active) *deltaRow += back;
        }
    };
    fitColumns(FPrimary);
    fitColumns(FAlt);
    fitRows(FPrimary, !FAltScreen, true);
    fitRows(FAlt, FAltScreen, false);
    FRows = rows;
    FCols = cols;
    ScheduleRepaint();
}

void TCvConsole::PushRow(const TRow& row)
{
    if (FScrollbackMax == 0) return;
    TLine line;
    const int cols = int(row.size());
    line.Cells.resize(std::size_t(cols));
    int keep = 0;
    for (int i = 0; i < cols; ++i) {
        const TGridCell& c = row[std::size_t(i)];
        line.Cells[std::size_t(i)] = c.Ch[0];
        if (c.Ch[0] != kWideTail && c.Ch[1]) {
            std::u32string more(1, c.Ch[1]);
            if (c.Ch[2]) more += c.Ch[2];
            line.Combining.emplace_back(i, std::move(more));
        }
        const TCvTextStyle st(c.Style);
        if (!st.IsPlain()) {
            TSpan* back = line.Spans.empty() ? nullptr : &line.Spans.back();
            if (back && back->Col + back->Count == i && back->Style == st.Bits()) ++back->Count;
            else line.Spans.push_back({i, 1, st.Bits()});
        }
        if (!IsBlank(c.Ch[0]) || !st.IsPlain()) keep = i + 1;
    }
    // Trailing blanks are not kept (a wide character keeps its right half).
    if (keep < cols && row[std::size_t(keep)].Ch[0] == kWideTail) ++keep;
    line.Cells.resize(std::size_t(keep));
    line.Cells.shrink_to_fit();
    FScrollback.push_back(std::move(line));
    if (int(FScrollback.size()) > FScrollbackMax) {
        FScrollback.pop_front();
        ++FDropped;
    }
    // A reader scrolled back keeps seeing the same lines.
    if (FScrolledBack > 0) FScrolledBack = std::min(FScrolledBack + 1, int(FScrollback.size()));
}

TCvConsole::TRow TCvConsole::PopRow()
{
    const TLine line = std::move(FScrollback.back());
    FScrollback.pop_back();
    FScrolledBack = std::min(FScrolledBack, int(FScrollback.size()));
    TRow row(static_cast<std::size_t>(FCols));
    for (std::size_t i = 0; i < row.size() && i < line.Cells.size(); ++i) row[i].Ch[0] = line.Cells[i];
    for (const auto& [col, more] : line.Combining)
        if (col < int(row.size()))
            for (std::size_t k = 0; k < more.size() && k < 2; ++k) row[std::size_t(col)].Ch[k + 1] = more[k];
    for (const TSpan& sp : line.Spans)
        for (int c = sp.Col; c < std::min(int(row.size()), sp.Col + sp.Count); ++c)
            row[std::size_t(c)].Style = sp.Style;
    return row;
}

// ---- what goes to the device ----

void TCvConsole::FlushOutput()
{
    if (FOut.isEmpty()) return;
    QByteArray out;
    out.swap(FOut);
    emit Output(out);
}

void TCvConsole::Send(const QByteArray& bytes, const QByteArray& echo)
{
    FOut.append(bytes);
    FlushOutput();
    if (FLocalEcho && !echo.isEmpty()) Feed(echo);
}

void TCvConsole::SendText(const QString& text)
{
    if (text.isEmpty()) return;
    QByteArray bytes;
    // A character the port's encoding cannot carry is not sent at all, rather than as a wrong one.
    if (!EncodeText(text, FEncoding, &bytes)) {
        QApplication::beep();
        return;
    }
    FollowLive();
    Send(bytes, bytes);
}

void TCvConsole::Paste(const QString& text)
{
    if (text.isEmpty()) return;
    QString t = text;
    // Lines are entered with CR, as typed.
    t.replace(QLatin1String("\r\n"), QLatin1String("\r")).replace(QLatin1Char('\n'), QLatin1Char('\r'));
    QByteArray bytes;
    if (!EncodeText(t, FEncoding, &bytes)) {
        QApplication::beep();
        return;
    }
    FollowLive();
    // libvterm writes the bracket marks only while the device has bracketed paste on.
    vterm_keyboard_start_paste(FVt);
    FOut.append(bytes);
    vterm_keyboard_end_paste(FVt);
    FlushOutput();
    if (FLocalEcho) Feed(bytes);
}

void TCvConsole::PasteClipboard()
{
    Paste(QApplication::clipboard()->text());
}

bool TCvConsole::event(QEvent* e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        // Esc, the F-keys, Ctrl+letter and the rest belong to the device while the console
        // has the focus; Ctrl+Shift combinations (but copy and paste) stay the window's.
        auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers m = k->modifiers();
        const bool ctrlShift = (m & Qt::ControlModifier) && (m & Qt::ShiftModifier);
        if (!ctrlShift || k->key() == Qt::Key_C || k->key() == Qt::Key_V) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

void TCvConsole::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers m = e->modifiers();
    const bool ctrl = m & Qt::ControlModifier, shift = m & Qt::ShiftModifier, alt = m & Qt::AltModifier;
    const int key = e->key();
    if (ctrl && shift && key == Qt::Key_C) {
        CopySelection();
        return;
    }
    if ((ctrl && shift && key == Qt::Key_V) || (shift && !ctrl && key == Qt::Key_Insert)) {
        PasteClipboard();
        return;
    }
    if (shift && !ctrl && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        ScrollBack(key == Qt::Key_PageUp ? FRows - 1 : -(FRows - 1));
        return;
    }
    int mod = VTERM_MOD_NONE;
    if (shift) mod |= VTERM_MOD_SHIFT;
    if (alt) mod |= VTERM_MOD_ALT;
    if (ctrl) mod |= VTERM_MOD_CTRL;
    const auto vkey = [&](VTermKey k) {
        FollowLive();
        vterm_keyboard_key(FVt, k, VTermModifier(mod));
        FlushOutput();
    };
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        FollowLive();
        Send(FEnter == TEnterKey::Cr   ? QByteArray("\r")
             : FEnter == TEnterKey::Lf ? QByteArray("\n")
                                       : QByteArray("\r\n"),
             QByteArray("\r\n"));
        return;
    case Qt::Key_Backspace:
        FollowLive();
        Send(FBackspace == TBackspaceKey::Del ? QByteArray("\x7f") : QByteArray("\b"), QByteArray("\b \b"));
        return;
    case Qt::Key_Tab: vkey(VTERM_KEY_TAB); return;
    case Qt::Key_Backtab:
        mod |= VTERM_MOD_SHIFT;
        vkey(VTERM_KEY_TAB);
        return;
    case Qt::Key_Escape: vkey(VTERM_KEY_ESCAPE); return;
    case Qt::Key_Up: vkey(VTERM_KEY_UP); return;
    case Qt::Key_Down: vkey(VTERM_KEY_DOWN); return;
    case Qt::Key_Left: vkey(VTERM_KEY_LEFT); return;
    case Qt::Key_Right: vkey(VTERM_KEY_RIGHT); return;
    case Qt::Key_Home: vkey(VTERM_KEY_HOME); return;
    case Qt::Key_End: vkey(VTERM_KEY_END); return;
    case Qt::Key_PageUp: vkey(VTERM_KEY_PAGEUP); return;
    case Qt::Key_PageDown: vkey(VTERM_KEY_PAGEDOWN); return;
    case Qt::Key_Insert: vkey(VTERM_KEY_INS); return;
    case Qt::Key_Delete: vkey(VTERM_KEY_DEL); return;
    default: break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        vkey(VTermKey(VTERM_KEY_FUNCTION(key - Qt::Key_F1 + 1)));
        return;
    }
    if (ctrl && !alt) {
        // Ctrl+letter and the classic Ctrl+punctuation give their control codes.
        int code = -1;
        if (key >= Qt::Key_A && key <= Qt::Key_Z) code = key - Qt::Key_A + 1;
        else if (key == Qt::Key_BracketLeft) code = 0x1B;
        else if (key == Qt::Key_Backslash) code = 0x1C;
        else if (key == Qt::Key_BracketRight) code = 0x1D;
        else if (key == Qt::Key_AsciiCircum) code = 0x1E;
        else if (key == Qt::Key_Underscore || key == Qt::Key_Minus) code = 0x1F;
        else if (key == Qt::Key_At || key == Qt::Key_Space || key == Qt::Key_2) code = 0x00;
        else if (key == Qt::Key_Question) code = 0x7F;
        if (code >= 0) {
            FollowLive();
            Send(QByteArray(1, char(code)));
            return;
        }
    }
    const QString text = e->text();
    if (!text.isEmpty() && text.at(0).unicode() >= 0x20 && text.at(0).unicode() != 0x7F) {
        if (alt) {
            // Alt as Meta: the key after an escape.
            QByteArray bytes;
            if (EncodeText(text, FEncoding, &bytes)) {
                FollowLive();
                Send("\x1b" + bytes);
            }
            return;
        }
        SendText(text);
        return;
    }
    QAbstractScrollArea::keyPressEvent(e);
}

void TCvConsole::inputMethodEvent(QInputMethodEvent* e)
{
    SendText(e->commitString());
    e->accept();
}

// ---- the screen ----

int TCvConsole::CharWidth() const
{
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('M')));
}

int TCvConsole::LineHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

void TCvConsole::ScheduleRepaint()
{
    // Called for every glyph: a flag is cheaper than asking the timer.
    if (FRepaintDue) return;
    FRepaintDue = true;
    FRepaint.start();
}

void TCvConsole::Relayout()
{
    if (!FVt) return;
    const int cols = std::max(2, viewport()->width() / CharWidth());
    const int rows = std::max(1, viewport()->height() / LineHeight());
    if (cols == FCols && rows == FRows) return;
    // libvterm calls Resize, which fits the cells and sets FRows and FCols.
    vterm_set_size(FVt, rows, cols);
    UpdateScrollBar();
    viewport()->update();
    emit SizeChanged(rows, cols);
}

void TCvConsole::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    Relayout();
}

void TCvConsole::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) Relayout();
}

void TCvConsole::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    vterm_state_focus_in(FState);
    FlushOutput();
    viewport()->update();
}

void TCvConsole::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    vterm_state_focus_out(FState);
    FlushOutput();
    viewport()->update();
}

void TCvConsole::UpdateScrollBar()
{
    QScrollBar* v = verticalScrollBar();
    const int count = int(FScrollback.size());
    const QSignalBlocker block(v);
    v->setRange(0, FAltScreen ? 0 : count);
    v->setPageStep(FRows);
    v->setValue(count - FScrolledBack);
}

void TCvConsole::scrollContentsBy(int, int)
{
    FScrolledBack =
        std::clamp(int(FScrollback.size()) - verticalScrollBar()->value(), 0, int(FScrollback.size()));
    viewport()->update();
}

void TCvConsole::ScrollBack(int lines)
{
    FScrolledBack = std::clamp(FScrolledBack + lines, 0, FAltScreen ? 0 : int(FScrollback.size()));
    UpdateScrollBar();
    viewport()->update();
}

void TCvConsole::FollowLive()
{
    if (FScrolledBack == 0) return;
    FScrolledBack = 0;
    UpdateScrollBar();
    viewport()->update();
}

void TCvConsole::ScreenCell(int row, int col, TCellInfo& out) const
{
    out = TCellInfo();
    const std::vector<TRow>& grid = Grid();
    if (row < 0 || row >= int(grid.size()) || col < 0 || col >= int(grid[std::size_t(row)].size())) return;
    const TRow& r = grid[std::size_t(row)];
    const TGridCell& c = r[std::size_t(col)];
    if (c.Ch[0] == kWideTail) {
        out.Width = 0;
        out.Style = TCvTextStyle(c.Style);
        return;
    }
    for (int k = 0; k < 3 && c.Ch[k]; ++k) out.Chars[out.Count++] = c.Ch[k];
    out.Width = (std::size_t(col + 1) < r.size() && r[std::size_t(col + 1)].Ch[0] == kWideTail) ? 2 : 1;
    out.Style = TCvTextStyle(c.Style);
}

void TCvConsole::RowCells(qint64 line, std::vector<TCellInfo>& out) const
{
    out.assign(std::size_t(FCols), TCellInfo());
    if (line >= LiveTop()) {
        const int row = int(line - LiveTop());
        for (int col = 0; col < FCols; ++col) ScreenCell(row, col, out[std::size_t(col)]);
        return;
    }
    const qint64 index = line - FDropped;
    if (index < 0 || index >= qint64(FScrollback.size())) return;
    const TLine& l = FScrollback[std::size_t(index)];
    const int n = std::min(FCols, int(l.Cells.size()));
    for (int col = 0; col < n; ++col) {
        TCellInfo& c = out[std::size_t(col)];
        const char32_t ch = l.Cells[std::size_t(col)];
        if (ch == kWideTail) {
            c.Width = 0;
            continue;
        }
        if (ch) c.Chars[c.Count++] = ch;
        c.Width = (col + 1 < int(l.Cells.size()) && l.Cells[std::size_t(col + 1)] == kWideTail) ? 2 : 1;
    }
    for (const auto& [col, more] : l.Combining)
        if (col < n)
            for (char32_t m : more)
                if (out[std::size_t(col)].Count < 6)
                    out[std::size_t(col)].Chars[out[std::size_t(col)].Count++] = m;
    for (const TSpan& s : l.Spans)
        for (int col = s.Col; col < std::min(n, s.Col + s.Count); ++col)
            out[std::size_t(col)].Style = TCvTextStyle(s.Style);
}

TCvConsole::TCell TCvConsole::Cell(int row, int col) const
{
    TCellInfo c;
    ScreenCell(row, col, c);
    return {CharsText(c.Chars, c.Count), c.Width, c.Style};
}

QString TCvConsole::LineText(qint64 line, int from, int to) const
{
    RowCells(line, FRowBuffer);
    QString out;
    to = std::min(to, FCols);
    for (int col = std::max(0, from); col < to; ++col) {
        const TCellInfo& c = FRowBuffer[std::size_t(col)];
        if (c.Width == 0) continue;
        out += c.Count ? CharsText(c.Chars, c.Count) : QStringLiteral(" ");
    }
    while (out.endsWith(QLatin1Char(' '))) out.chop(1);
    return out;
}

QString TCvConsole::RowText(int row) const
{
    return LineText(LiveTop() + row, 0, FCols);
}

QString TCvConsole::ScreenText() const
{
    QStringList rows;
    for (int r = 0; r < FRows; ++r) rows << RowText(r);
    return rows.join(QLatin1Char('\n'));
}

QString TCvConsole::ScrollbackLine(int i) const
{
    if (i < 0 || i >= int(FScrollback.size())) return QString();
    return LineText(FDropped + i, 0, FCols);
}

void TCvConsole::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), FColours.Background());
    const QFont base = font();
    p.setFont(base);
    const QFontMetrics fm(base);
    const int cw = CharWidth(), lh = LineHeight(), ascent = fm.ascent();
    const qint64 top = TopLine();
    const int visible = viewport()->height() / lh + 1;
    const QColor selBg = palette().color(QPalette::Highlight),
                 selFg = palette().color(QPalette::HighlightedText);
    const bool cursorShown = FScrolledBack == 0 && FCursorVisible;
    QString batch;
    for (int r = 0; r < visible; ++r) {
        const qint64 line = top + r;
        if (line >= LiveTop() + FRows) break;
        RowCells(line, FRowBuffer);
        const int y = r * lh;
        int col = 0;
        while (col < FCols) {
            // A piece of cells in one look.
            const TCellInfo& first = FRowBuffer[std::size_t(col)];
            const bool sel = FHasSelection && Selected(line, col);
            int end = col + 1;
            while (end < FCols && FRowBuffer[std::size_t(end)].Style == first.Style &&
                   (FHasSelection ? Selected(line, end) : false) == sel)
                ++end;
            QColor fg = FColours.Text();
            if (sel) {
                p.fillRect(QRect(col * cw, y, (end - col) * cw, lh), selBg);
                fg = selFg;
            } else if (!first.Style.IsPlain()) {
                const TCvTextColours::TPaint look = FColours.Resolve(first.Style);
                if (look.FillBackground)
                    p.fillRect(QRect(col * cw, y, (end - col) * cw, lh), look.Background);
                fg = look.Foreground;
            }
            const TCvTextStyle st = first.Style;
            const bool fancy = st.Has(TCvTextStyle::Bold) || st.Has(TCvTextStyle::Italic) ||
                               st.Has(TCvTextStyle::Underline) || st.Has(TCvTextStyle::Strike);
            if (fancy) {
                QFont f = base;
                f.setBold(st.Has(TCvTextStyle::Bold));
                f.setItalic(st.Has(TCvTextStyle::Italic));
                f.setUnderline(st.Has(TCvTextStyle::Underline));
                f.setStrikeOut(st.Has(TCvTextStyle::Strike));
                p.setFont(f);
            }
            p.setPen(fg);
            // Plain ASCII goes out in one string; any other character at its own cell, so
            // wide and odd-width glyphs keep to the grid.
            int batchAt = col;
            batch.clear();
            const auto flush = [&] {
                if (!batch.isEmpty()) p.drawText(batchAt * cw, y + ascent, batch);
                batch.clear();
            };
            for (int c = col; c < end; ++c) {
                const TCellInfo& cell = FRowBuffer[std::size_t(c)];
                if (cell.Width == 0) continue;
                const bool ascii = cell.Count == 0 || (cell.Count == 1 && cell.Chars[0] < 0x7F);
                if (ascii) {
                    if (batch.isEmpty()) batchAt = c;
                    batch += cell.Count ? QChar(char16_t(cell.Chars[0])) : QLatin1Char(' ');
                } else {
                    flush();
                    p.drawText(c * cw, y + ascent, CharsText(cell.Chars, cell.Count));
                }
            }
            flush();
            if (fancy) p.setFont(base);
            col = end;
        }
        if (cursorShown && line == LiveTop() + FCursorRow) {
            const QRect cell(FCursorCol * cw, y, cw, lh);
            if (hasFocus()) {
                p.fillRect(cell, FColours.Text());
                TCellInfo c;
                ScreenCell(FCursorRow, FCursorCol, c);
                if (c.Count) {
                    p.setPen(FColours.Background());
                    p.drawText(cell.x(), y + ascent, CharsText(c.Chars, c.Count));
                }
            } else {
                p.setPen(FColours.Text());
                p.drawRect(cell.adjusted(0, 0, -1, -1));
            }
        }
    }
}

// ---- selection ----

TCvConsole::TPos TCvConsole::PosAt(const QPoint& pt) const
{
    TPos pos;
    const qint64 last = LiveTop() + FRows - 1;
    pos.line = std::clamp<qint64>(TopLine() + pt.y() / LineHeight(), FirstKeptLine(), last);
    pos.col = std::clamp((pt.x() + CharWidth() / 2) / CharWidth(), 0, FCols);
    return pos;
}

bool TCvConsole::Selected(qint64 line, int col) const
{
    TPos a = FAnchor, b = FCursor;
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    if (line < a.line || line > b.line) return false;
    if (line == a.line && col < a.col) return false;
    if (line == b.line && col >= b.col) return false;
    return true;
}

QString TCvConsole::SelectedText() const
{
    if (!FHasSelection) return QString();
    TPos a = FAnchor, b = FCursor;
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    QStringList lines;
    for (qint64 l = std::max(a.line, FirstKeptLine()); l <= b.line; ++l)
        lines << LineText(l, l == a.line ? a.col : 0, l == b.line ? b.col : FCols);
    return lines.join(QLatin1Char('\n'));
}

void TCvConsole::SelectAll()
{
    FAnchor = {FirstKeptLine(), 0};
    FCursor = {LiveTop() + FRows - 1, FCols};
    FHasSelection = true;
    viewport()->update();
}

void TCvConsole::ClearSelection()
{
    FHasSelection = false;
    viewport()->update();
}

void TCvConsole::CopySelection()
{
    if (FHasSelection) QApplication::clipboard()->setText(SelectedText());
}

void TCvConsole::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    FAnchor = FCursor = PosAt(e->position().toPoint());
    FHasSelection = false;
    FSelecting = true;
    viewport()->update();
}

void TCvConsole::mouseMoveEvent(QMouseEvent* e)
{
    if (!FSelecting) return;
    FCursor = PosAt(e->position().toPoint());
    FHasSelection = FCursor.line != FAnchor.line || FCursor.col != FAnchor.col;
    viewport()->update();
}

void TCvConsole::mouseReleaseEvent(QMouseEvent*)
{
    FSelecting = false;
}

void TCvConsole::mouseDoubleClickEvent(QMouseEvent* e)
{
    // A word: the cells around the click that are not blank.
    const TPos at = PosAt(e->position().toPoint() - QPoint(CharWidth() / 2, 0));
    RowCells(at.line, FRowBuffer);
    const auto blank = [&](int c) {
        const TCellInfo& cell = FRowBuffer[std::size_t(c)];
        return cell.Width != 0 && (cell.Count == 0 || cell.Chars[0] == U' ');
    };
    const int col = std::min(at.col, FCols - 1);
    if (blank(col)) return;
    int from = col, to = col + 1;
    while (from > 0 && !blank(from - 1)) --from;
    while (to < FCols && !blank(to)) ++to;
    FAnchor = {at.line, from};
    FCursor = {at.line, to};
    FHasSelection = true;
    FSelecting = false;
    viewport()->update();
}

void TCvConsole::contextMenuEvent(QContextMenuEvent* e)
{
    const QString lang = MessageLanguage();
    QMenu menu(this);
    QAction* copy = menu.addAction(Pick({u"复制"_s, u"Copy"_s}, lang) + u"\tCtrl+Shift+C"_s);
    copy->setEnabled(FHasSelection);
    QAction* paste = menu.addAction(Pick({u"粘贴"_s, u"Paste"_s}, lang) + u"\tCtrl+Shift+V"_s);
    paste->setEnabled(!QApplication::clipboard()->text().isEmpty());
    QAction* all = menu.addAction(Pick({u"全选"_s, u"Select All"_s}, lang));
    // What the owner gave the console (the break key).
    if (!actions().isEmpty()) {
        menu.addSeparator();
        menu.addActions(actions());
    }
    QAction* chosen = menu.exec(e->globalPos());
    if (chosen == copy) CopySelection();
    else if (chosen == paste) PasteClipboard();
    else if (chosen == all) SelectAll();
}
