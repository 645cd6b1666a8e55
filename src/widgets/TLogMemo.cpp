#include "TLogMemo.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// A line longer than this is painted from the part on screen only, one character width per
// character (the view's font is fixed-width): a line of megabytes costs what a screenful costs.
constexpr qsizetype kLongLineBytes = 4096;

qsizetype Utf8Len(uchar c)
{
    return c < 0xC0 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
}

// UTF-16 units from .. from + count of UTF-8 text, found by counting, not by decoding it all.
QString Utf8Slice(const QByteArray& utf8, qint64 from, qint64 count)
{
    const char* p = utf8.constData();
    const qsizetype n = utf8.size();
    qsizetype b = 0;
    for (qint64 unit = 0; b < n && unit < from;) {
        const qsizetype len = Utf8Len(uchar(p[b]));
        unit += len == 4 ? 2 : 1;
        b += len;
    }
    qsizetype e = b;
    for (qint64 unit = 0; e < n && unit < count;) {
        const qsizetype len = Utf8Len(uchar(p[e]));
        unit += len == 4 ? 2 : 1;
        e += len;
    }
    return QString::fromUtf8(p + std::min(b, n), std::min(e, n) - std::min(b, n));
}

} // namespace

TLogMemo::TLogMemo(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(false);
    FTextColor = palette().color(QPalette::Text);
    FBackground = palette().color(QPalette::Base);
    FColours = TCvTextColours(FTextColor, FBackground);
    // Repaints are paced: a flood of changes costs at most one relayout and paint per 30 ms.
    FRefresh.setSingleShot(true);
    FRefresh.setInterval(30);
    connect(&FRefresh, &QTimer::timeout, this, [this] {
        UpdateScrollBars();
        viewport()->update();
    });
    FModel.SetOnChanged([this] { ModelChanged(); });
}

void TLogMemo::ModelChanged()
{
    if (FPaused) {
        // Lines kept coming: nothing on screen changes. A cleared or shortened model
        // is shown as it is now, and stays paused from there.
        if (FModel.LineCount() >= FFrozenLines) return;
        Freeze();
    }
    if (FHasSelection && (FAnchor.line >= FModel.LineCount() + 1 || FCursor.line >= FModel.LineCount() + 1))
        FHasSelection = false;
    if (!FRefresh.isActive()) FRefresh.start();
}

void TLogMemo::Freeze()
{
    FFrozenLines = FModel.LineCount();
    FFrozenLast = FFrozenLines > 0 ? FModel.Line(FFrozenLines - 1) : QString();
    FFrozenLastRuns = FFrozenLines > 0 ? FModel.LineRuns(FFrozenLines - 1) : TCvStyleRuns();
}

void TLogMemo::SetPaused(bool on)
{
    if (FPaused == on) return;
    if (on) Freeze();
    FPaused = on;
    if (!on) {
        FFrozenLines = 0;
        FFrozenLast.clear();
        FFrozenLastRuns.clear();
    }
    UpdateScrollBars();
    viewport()->update();
    emit PausedChanged(on);
}

qint64 TLogMemo::ShownLineCount() const
{
    return FPaused ? std::min(FFrozenLines, FModel.LineCount()) : FModel.LineCount();
}

QString TLogMemo::ShownLine(qint64 i) const
{
    if (FPaused && i == FFrozenLines - 1) return FFrozenLast;
    return i < ShownLineCount() ? FModel.Line(i) : QString();
}

qint64 TLogMemo::FirstVisibleLine() const
{
    return verticalScrollBar()->value();
}

qint64 TLogMemo::LastVisibleLine() const
{
    return std::max<qint64>(0, std::min<qint64>(FirstVisibleLine() + VisibleLines(), ShownLineCount()) - 1);
}

void TLogMemo::SetReadOnly(bool on)
{
    // Every receive event sets this: only a real change may cost a repaint.
    if (FReadOnly == on) return;
    FReadOnly = on;
    viewport()->update();
}

int TLogMemo::LineHeight() const
{
    return std::max(1, fontMetrics().lineSpacing());
}

int TLogMemo::VisibleLines() const
{
    return std::max(1, viewport()->height() / LineHeight());
}

bool TLogMemo::AtEnd() const
{
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TLogMemo::UpdateScrollBars()
{
    const qint64 lines = ShownLineCount() + (FReadOnly ? 0 : 1);
    const qint64 maxV = std::max<qint64>(0, lines - VisibleLines());
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, static_cast<int>(std::min<qint64>(maxV, INT_MAX)));
    v->setPageStep(VisibleLines());
    if (FFollowEnd) v->setValue(v->maximum());
    const int charW = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
    const qint64 width = FModel.MaxLineBytes() * charW + charW * 2;
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, static_cast<int>(std::clamp<qint64>(width - viewport()->width(), 0, INT_MAX)));
    h->setPageStep(viewport()->width());
}

void TLogMemo::ScrollToEnd()
{
    // Whether the view follows is the user's choice (scrollContentsBy): a view scrolled
    // up to read stays put while lines pour in.
    if (!FRefresh.isActive()) FRefresh.start();
}

void TLogMemo::JumpToEnd()
{
    FFollowEnd = true;
    if (!FRefresh.isActive()) FRefresh.start();
}

void TLogMemo::scrollContentsBy(int, int)
{
    // The user scrolling up stops following new lines until the end is reached again.
    FFollowEnd = AtEnd();
    viewport()->update();
}

void TLogMemo::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    UpdateScrollBars();
}

void TLogMemo::changeEvent(QEvent* e)
{
    QAbstractScrollArea::changeEvent(e);
    if (e->type() == QEvent::FontChange) UpdateScrollBars();
}

void TLogMemo::SetTextColor(const QColor& c)
{
    FTextColor = c;
    FColours = TCvTextColours(FTextColor, FBackground);
    viewport()->update();
}

void TLogMemo::SetBackgroundColor(const QColor& c)
{
    FBackground = c;
    FColours = TCvTextColours(FTextColor, FBackground);
    viewport()->update();
}

template <typename XAt>
void TLogMemo::PaintRuns(QPainter& p, const QString& text, const TCvStyleRuns& runs, int y, qint64 selFrom,
                         qint64 selTo, const QColor& selFg, XAt xAt)
{
    // Pieces between every run and selection edge, each painted in its own look.
    const qint64 n = text.size();
    std::vector<qint64> cuts{0, n, std::clamp<qint64>(selFrom, 0, n), std::clamp<qint64>(selTo, 0, n)};
    for (const TCvStyleRun& r : runs) {
        cuts.push_back(std::min<qint64>(r.Start, n));
        cuts.push_back(std::min<qint64>(qint64(r.Start) + r.Length, n));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    const QFontMetrics fm = fontMetrics();
    const int lh = LineHeight();
    std::size_t r = 0;
    for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
        const qint64 a = cuts[k], b = cuts[k + 1];
        while (r < runs.size() && qint64(runs[r].Start) + runs[r].Length <= a) ++r;
        const TCvTextStyle style(r < runs.size() && qint64(runs[r].Start) <= a ? runs[r].Style : 0);
        const bool selected = a >= selFrom && b <= selTo;
        const int xa = xAt(a);
        QColor pen = FTextColor;
        if (!style.IsPlain()) {
            const TCvTextColours::TPaint look = FColours.Resolve(style);
            if (look.FillBackground && !selected) p.fillRect(QRect(xa, y, xAt(b) - xa, lh), look.Background);
            pen = look.Foreground;
        }
        p.setPen(selected ? selFg : pen);
        const bool styledFont = style.Has(TCvTextStyle::Bold) || style.Has(TCvTextStyle::Italic) ||
                                style.Has(TCvTextStyle::Underline) || style.Has(TCvTextStyle::Strike);
        if (styledFont) {
            QFont f = font();
            f.setBold(style.Has(TCvTextStyle::Bold));
            f.setItalic(style.Has(TCvTextStyle::Italic));
            f.setUnderline(style.Has(TCvTextStyle::Underline));
            f.setStrikeOut(style.Has(TCvTextStyle::Strike));
            p.setFont(f);
        }
        p.drawText(xa, y + fm.ascent(), text.mid(a, b - a));
        if (styledFont) p.setFont(font());
    }
}

qint64 TLogMemo::CaretLine() const
{
    return std::max<qint64>(0, FModel.LineCount() - 1);
}

void TLogMemo::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), FBackground);
    p.setFont(font());
    const QFontMetrics fm = fontMetrics();
    const int lh = LineHeight();
    const qint64 first = verticalScrollBar()->value();
    const qint64 count = ShownLineCount();
    const int x0 = 2 - horizontalScrollBar()->value();
    Pos a = FAnchor, b = FCursor;
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    // A find match stands out from an ordinary selection.
    const QColor selBg = FMatch ? QColor(255, 200, 0) : palette().color(QPalette::Highlight);
    const QColor selFg = FMatch ? QColor(Qt::black) : palette().color(QPalette::HighlightedText);
    const int charW = std::max(1, fm.horizontalAdvance(QLatin1Char('0')));
    for (int row = 0; row <= VisibleLines(); ++row) {
        const qint64 i = first + row;
        if (i >= count) break;
        const int y = row * lh;
        const bool frozenLast = FPaused && i == FFrozenLines - 1;
        const QByteArray utf8 = frozenLast ? QByteArray() : FModel.LineUtf8(i);
        if (utf8.size() > kLongLineBytes) {
            // Only the columns on screen, with a column of slack at both sides.
            const qint64 c0 = std::max<qint64>(0, horizontalScrollBar()->value() / charW - 1);
            const QString part = Utf8Slice(utf8, c0, viewport()->width() / charW + 3);
            const int xp = x0 + int(c0 * charW);
            qint64 f = part.size(), t = part.size();
            if (FHasSelection && i >= a.line && i <= b.line) {
                f = std::clamp<qint64>((i == a.line ? a.col : 0) - c0, 0, part.size());
                t = std::clamp<qint64>((i == b.line ? b.col : std::numeric_limits<qint64>::max() / 2) - c0, f,
                                       part.size());
                p.fillRect(QRect(xp + int(f * charW), y, int((t - f) * charW), lh), selBg);
            }
            if (FModel.LineHasRuns(i)) {
                // The runs over the part on screen, from its first column.
                TCvStyleRuns runs;
                for (const TCvStyleRun& r : FModel.LineRuns(i)) {
                    const qint64 rs = std::max<qint64>(r.Start, c0),
                                 re = std::min<qint64>(qint64(r.Start) + r.Length, c0 + part.size());
                    if (re > rs) runs.push_back({quint32(rs - c0), quint32(re - rs), r.Style});
                }
                PaintRuns(p, part, runs, y, f, t, selFg, [&](qint64 col) { return xp + int(col * charW); });
                continue;
            }
            p.setPen(FTextColor);
            p.drawText(xp, y + fm.ascent(), part.left(f));
            p.setPen(selFg);
            p.drawText(xp + int(f * charW), y + fm.ascent(), part.mid(f, t - f));
            p.setPen(FTextColor);
            p.drawText(xp + int(t * charW), y + fm.ascent(), part.mid(t));
            continue;
        }
        const QString text = frozenLast ? FFrozenLast : QString::fromUtf8(utf8);
        const TCvStyleRuns runs =
            frozenLast ? FFrozenLastRuns : (FModel.HasRuns() ? FModel.LineRuns(i) : TCvStyleRuns());
        if (!runs.empty()) {
            qint64 from = text.size(), to = text.size();
            if (FHasSelection && i >= a.line && i <= b.line) {
                from = i == a.line ? std::min<qint64>(a.col, text.size()) : 0;
                to = i == b.line ? std::min<qint64>(b.col, text.size()) : text.size();
                const int xs = x0 + fm.horizontalAdvance(text.left(from));
                const int xe =
                    x0 + fm.horizontalAdvance(text.left(to)) + (i == b.line ? 0 : fm.averageCharWidth());
                p.fillRect(QRect(xs, y, std::max(0, xe - xs), lh), selBg);
            }
            PaintRuns(p, text, runs, y, from, to, selFg,
                      [&](qint64 col) { return x0 + fm.horizontalAdvance(text.left(col)); });
        } else if (FHasSelection && i >= a.line && i <= b.line) {
            const qint64 from = i == a.line ? std::min<qint64>(a.col, text.size()) : 0;
            const qint64 to = i == b.line ? std::min<qint64>(b.col, text.size()) : text.size();
            const int xs = x0 + fm.horizontalAdvance(text.left(from));
            const int xe =
                x0 + fm.horizontalAdvance(text.left(to)) + (i == b.line ? 0 : fm.averageCharWidth());
            p.fillRect(QRect(xs, y, std::max(0, xe - xs), lh), selBg);
            p.setPen(FTextColor);
            p.drawText(x0, y + fm.ascent(), text.left(from));
            p.setPen(selFg);
            p.drawText(xs, y + fm.ascent(), text.mid(from, to - from));
            p.setPen(FTextColor);
            p.drawText(x0 + fm.horizontalAdvance(text.left(to)), y + fm.ascent(), text.mid(to));
        } else {
            p.setPen(FTextColor);
            p.drawText(x0, y + fm.ascent(), text);
        }
        if (!FReadOnly && i == count - 1 && hasFocus()) {
            const int cx = x0 + fm.horizontalAdvance(text);
            p.fillRect(QRect(cx, y, 2, lh), FTextColor);
        }
    }
}

TLogMemo::Pos TLogMemo::PosAt(const QPoint& pt) const
{
    Pos pos;
    const qint64 count = ShownLineCount();
    pos.line = std::clamp<qint64>(verticalScrollBar()->value() + pt.y() / LineHeight(), 0,
                                  std::max<qint64>(0, count - 1));
    const QString text = ShownLine(pos.line);
    const QFontMetrics fm = fontMetrics();
    const int x = pt.x() - 2 + horizontalScrollBar()->value();
    if (text.size() > kLongLineBytes) {
        // As a long line is painted: one character width per character.
        const int charW = std::max(1, fm.horizontalAdvance(QLatin1Char('0')));
        pos.col = std::clamp<qint64>((x + charW / 2) / charW, 0, text.size());
        return pos;
    }
    qint64 col = 0;
    while (col < text.size() &&
           fm.horizontalAdvance(text.left(col + 1)) - fm.horizontalAdvance(text.at(col)) / 2 < x)
        ++col;
    pos.col = col;
    return pos;
}

void TLogMemo::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton) return;
    setFocus(Qt::MouseFocusReason);
    const Pos pos = PosAt(e->position().toPoint());
    if (!(e->modifiers() & Qt::ShiftModifier) || !FHasSelection) FAnchor = pos;
    FCursor = pos;
    FHasSelection = false;
    FMatch = false;
    FSelecting = true;
    viewport()->update();
}

void TLogMemo::mouseMoveEvent(QMouseEvent* e)
{
    if (!FSelecting) return;
    FCursor = PosAt(e->position().toPoint());
    FHasSelection = FCursor.line != FAnchor.line || FCursor.col != FAnchor.col;
    viewport()->update();
}

void TLogMemo::mouseReleaseEvent(QMouseEvent*)
{
    FSelecting = false;
}

QString TLogMemo::SelectedText() const
{
    if (!FHasSelection) return QString();
    Pos a = FAnchor, b = FCursor;
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    QString out;
    for (qint64 i = a.line; i <= b.line && i < ShownLineCount(); ++i) {
        const QString text = ShownLine(i);
        const qint64 from = i == a.line ? std::min<qint64>(a.col, text.size()) : 0;
        const qint64 to = i == b.line ? std::min<qint64>(b.col, text.size()) : text.size();
        if (i > a.line) out += QStringLiteral("\r\n");
        out += text.mid(from, to - from);
    }
    return out;
}

void TLogMemo::SelectAll()
{
    FAnchor = Pos{0, 0};
    const qint64 last = std::max<qint64>(0, ShownLineCount() - 1);
    FCursor = Pos{last, ShownLine(last).size()};
    FHasSelection = ShownLineCount() > 0;
    FMatch = false;
    viewport()->update();
}

void TLogMemo::ClearSelection()
{
    FHasSelection = false;
    FMatch = false;
    viewport()->update();
}

bool TLogMemo::SelectionBounds(qint64& line1, qint64& col1, qint64& line2, qint64& col2) const
{
    if (!FHasSelection) return false;
    Pos a = FAnchor, b = FCursor;
    if (b.line < a.line || (b.line == a.line && b.col < a.col)) std::swap(a, b);
    line1 = a.line;
    col1 = a.col;
    line2 = b.line;
    col2 = b.col;
    return true;
}

void TLogMemo::ShowMatch(qint64 Line, qint64 Col, qint64 Length)
{
    if (Line < 0 || Line >= ShownLineCount()) return;
    FAnchor = Pos{Line, Col};
    FCursor = Pos{Line, Col + Length};
    FHasSelection = true;
    FMatch = true;
    UpdateScrollBars();
    QScrollBar* v = verticalScrollBar();
    if (Line < v->value() || Line >= v->value() + VisibleLines())
        v->setValue(static_cast<int>(std::clamp<qint64>(Line - VisibleLines() / 2, 0, v->maximum())));
    const QString text = ShownLine(Line);
    const QFontMetrics fm = fontMetrics();
    const int xs = fm.horizontalAdvance(text.left(Col));
    const int xe = fm.horizontalAdvance(text.left(Col + Length));
    QScrollBar* h = horizontalScrollBar();
    const int w = viewport()->width();
    if (xs < h->value() || xe + 4 > h->value() + w) h->setValue(std::clamp(xs - w / 3, 0, h->maximum()));
    viewport()->update();
}

void TLogMemo::CopySelection()
{
    if (FHasSelection) QApplication::clipboard()->setText(SelectedText());
}

void TLogMemo::contextMenuEvent(QContextMenuEvent* e)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("Copy"));
    copy->setEnabled(FHasSelection);
    QAction* all = menu.addAction(tr("Select All"));
    QAction* chosen = menu.exec(e->globalPos());
    if (chosen == copy) CopySelection();
    else if (chosen == all) SelectAll();
}

void TLogMemo::keyPressEvent(QKeyEvent* e)
{
    TypeKey(e);
}

void TLogMemo::TypeKey(QKeyEvent* e)
{
    // Copying a selection wins over the terminal's Ctrl+C.
    if (e->matches(QKeySequence::Copy) && FHasSelection) {
        CopySelection();
        return;
    }
    if (e->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    const TLogKey key{e->key(), e->modifiers(), e->text()};
    if (FOnKeyDown && FOnKeyDown(key)) return;
    const QString& text = key.Text;
    const bool isChar = !text.isEmpty() && (text.at(0).unicode() >= 32 || text.at(0) == QLatin1Char('\r') ||
                                            text.at(0) == QLatin1Char('\b'));
    // Typing goes where the prompt is: the view follows the end again.
    if (isChar && FOnKeyPress) {
        FFollowEnd = true;
        if (FOnKeyPress(key)) return;
    }
    switch (e->key()) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        if (e->key() == Qt::Key_End && (e->modifiers() & Qt::ControlModifier)) JumpToEnd();
        else if (e->key() == Qt::Key_Home && (e->modifiers() & Qt::ControlModifier))
            verticalScrollBar()->setValue(0);
        else if (e->key() == Qt::Key_PageUp)
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
        else if (e->key() == Qt::Key_PageDown)
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        return;
    default: break;
    }
    if (FReadOnly || !isChar) return;
    if (text.at(0) == QLatin1Char('\b') || e->key() == Qt::Key_Backspace) {
        const qint64 last = FModel.LineCount() - 1;
        if (last < 0) return;
        QString line = FModel.Line(last);
        if (line.isEmpty()) return;
        line.chop(1);
        FModel.ReplaceLine(last, line);
        return;
    }
    if (text.at(0) == QLatin1Char('\r')) return;
    FModel.AppendToLastLine(text);
    JumpToEnd();
}
