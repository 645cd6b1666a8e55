#include "TLogMemo.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

// The log view as the user handles it: selecting and copying, and scrolling while lines pour in.
class TstLogMemo : public QObject {
    Q_OBJECT
private slots:
    void selectAndCopy();
    // Lines added without a scroll request leave a scrolled-up view where the user put it.
    void scrolledUpViewStaysPut();
    // The port object asks for the end after every chunk: a view the user scrolled up
    // still stays put, and follows again from the bottom.
    void scrollRequestsFollowOnlyAtBottom_data();
    void scrollRequestsFollowOnlyAtBottom();
    // Paused, the view keeps what it showed while the model takes more; resumed, all shows.
    void pauseFreezesView();
    void matchIsSelectedAndScrolledTo();
    // The colour runs of a line are painted, on light and dark colours, a long line too.
    void paintsColourRuns_data();
    void paintsColourRuns();
    // The device's named colours read on any log background.
    void namedColoursReadable_data();
    void namedColoursReadable();
};

void TstLogMemo::selectAndCopy()
{
    TLogMemo memo;
    memo.resize(600, 300);
    memo.show();
    memo.Model().Add(QStringLiteral("first line"));
    memo.Model().Add(QStringLiteral("second line"));
    QTest::qWait(50);
    const int lh = memo.fontMetrics().lineSpacing();
    const int cw = memo.fontMetrics().horizontalAdvance(QLatin1Char('x'));
    QWidget* vp = memo.viewport();
    // From "line" of the first line to "second" of the next.
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(2 + 6 * cw + 1, lh / 2));
    QTest::mouseMove(vp, QPoint(2 + 6 * cw + 1, lh + lh / 2));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(2 + 6 * cw + 1, lh + lh / 2));
    QVERIFY(memo.HasSelection());
    QCOMPARE(memo.SelectedText(), QStringLiteral("line\r\nsecond"));
    QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("line\r\nsecond"));
    memo.SelectAll();
    QCOMPARE(memo.SelectedText(), QStringLiteral("first line\r\nsecond line"));
}

void TstLogMemo::scrolledUpViewStaysPut()
{
    TLogMemo memo;
    memo.resize(600, 300);
    memo.show();
    for (int i = 0; i < 1000; ++i) memo.Model().Add(QStringLiteral("line %1").arg(i));
    memo.ScrollToEnd();
    QTRY_VERIFY(memo.AtEnd());
    QTRY_VERIFY(memo.verticalScrollBar()->maximum() > 900);
    memo.verticalScrollBar()->setValue(100);
    for (int i = 0; i < 100; ++i) memo.Model().Add(QStringLiteral("more %1").arg(i));
    QTest::qWait(100);
    QCOMPARE(memo.verticalScrollBar()->value(), 100);
    // Back at the end, it follows again.
    memo.verticalScrollBar()->setValue(memo.verticalScrollBar()->maximum());
    memo.Model().Add(QStringLiteral("last"));
    QTRY_COMPARE(memo.verticalScrollBar()->value(), memo.verticalScrollBar()->maximum());
    QTRY_COMPARE(memo.verticalScrollBar()->maximum(),
                 int(memo.Model().LineCount()) - memo.verticalScrollBar()->pageStep());
}

void TstLogMemo::scrollRequestsFollowOnlyAtBottom_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("scroll bar dragged") << false;
    QTest::newRow("Page Up and Ctrl+End") << true;
}

void TstLogMemo::scrollRequestsFollowOnlyAtBottom()
{
    QFETCH(bool, byKey);
    TLogMemo memo;
    memo.resize(600, 300);
    memo.show();
    QScrollBar* bar = memo.verticalScrollBar();
    for (int i = 0; i < 1000; ++i) memo.Model().Add(QStringLiteral("line %1").arg(i));
    memo.ScrollToEnd();
    QTRY_VERIFY(bar->maximum() > 900);
    QTRY_VERIFY(memo.AtEnd());
    if (byKey) QTest::keyClick(&memo, Qt::Key_PageUp);
    else bar->setValue(100);
    const int where = bar->value();
    QVERIFY(where < bar->maximum());
    QVERIFY(!memo.FollowsEnd());
    for (int i = 0; i < 100; ++i) {
        memo.Model().Add(QStringLiteral("more %1").arg(i));
        memo.ScrollToEnd();
    }
    // The new lines are there (the range grew) and the view did not move.
    QTRY_COMPARE(bar->maximum(), int(memo.Model().LineCount()) - bar->pageStep());
    QTest::qWait(100);
    QCOMPARE(bar->value(), where);
    // Back at the bottom, it follows again.
    if (byKey) QTest::keyClick(&memo, Qt::Key_End, Qt::ControlModifier);
    else bar->setValue(bar->maximum());
    QTRY_VERIFY(memo.AtEnd());
    QVERIFY(memo.FollowsEnd());
    for (int i = 0; i < 50; ++i) {
        memo.Model().Add(QStringLiteral("last %1").arg(i));
        memo.ScrollToEnd();
    }
    QTRY_COMPARE(bar->maximum(), int(memo.Model().LineCount()) - bar->pageStep());
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TstLogMemo::pauseFreezesView()
{
    TLogMemo memo;
    memo.resize(600, 300);
    memo.show();
    QScrollBar* bar = memo.verticalScrollBar();
    for (int i = 0; i < 200; ++i) memo.Model().Add(QStringLiteral("line %1").arg(i));
    memo.Model().AppendToLastLine(QStringLiteral(" partial"));
    memo.ScrollToEnd();
    QTRY_COMPARE(bar->maximum(), 200 - bar->pageStep());
    QTRY_VERIFY(memo.AtEnd());

    QSignalSpy paused(&memo, &TLogMemo::PausedChanged);
    memo.SetPaused(true);
    QCOMPARE(paused.size(), 1);
    const int maximum = bar->maximum();
    // The last line grows and new lines come while paused: the view shows none of it.
    memo.Model().AppendToLastLine(QStringLiteral(" more"));
    for (int i = 200; i < 500; ++i) {
        memo.Model().Add(QStringLiteral("line %1").arg(i));
        memo.ScrollToEnd();
    }
    QTest::qWait(100);
    QCOMPARE(memo.Model().LineCount(), 500);
    QCOMPARE(memo.ShownLineCount(), 200);
    QCOMPARE(memo.ShownLine(199), QStringLiteral("line 199 partial"));
    QCOMPARE(bar->maximum(), maximum);
    QCOMPARE(bar->value(), maximum);
    // Select All copies what is shown.
    memo.SelectAll();
    QVERIFY(memo.SelectedText().endsWith(QStringLiteral("line 199 partial")));

    memo.SetPaused(false);
    QCOMPARE(paused.size(), 2);
    QCOMPARE(memo.ShownLineCount(), 500);
    QCOMPARE(memo.ShownLine(199), QStringLiteral("line 199 partial more"));
    QTRY_COMPARE(bar->maximum(), 500 - bar->pageStep());
    QTRY_COMPARE(bar->value(), bar->maximum());

    // A log cleared while paused shows empty and stays paused from there.
    memo.SetPaused(true);
    memo.Model().Clear();
    QCOMPARE(memo.ShownLineCount(), 0);
    memo.Model().Add(QStringLiteral("after clear"));
    QCOMPARE(memo.ShownLineCount(), 0);
    memo.SetPaused(false);
    QCOMPARE(memo.ShownLine(0), QStringLiteral("after clear"));
}

void TstLogMemo::matchIsSelectedAndScrolledTo()
{
    TLogMemo memo;
    memo.resize(600, 300);
    memo.show();
    QScrollBar* bar = memo.verticalScrollBar();
    for (int i = 0; i < 1000; ++i) memo.Model().Add(QStringLiteral("line %1 text").arg(i));
    memo.ScrollToEnd();
    QTRY_VERIFY(memo.AtEnd());
    memo.ShowMatch(300, 9, 4);
    QVERIFY(memo.HasMatch());
    QCOMPARE(memo.SelectedText(), QStringLiteral("text"));
    QVERIFY(bar->value() <= 300 && 300 < bar->value() + bar->pageStep());
    // Looking at a match, the view no longer jumps to new lines.
    const int where = bar->value();
    memo.Model().Add(QStringLiteral("new"));
    memo.ScrollToEnd();
    QTest::qWait(100);
    QCOMPARE(bar->value(), where);
    // A click ends the match marking.
    QTest::mouseClick(memo.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!memo.HasMatch());
}

namespace {
TCvStyleRuns Run(quint32 start, quint32 length, bool background, int index)
{
    TCvTextStyle s;
    if (background) s.SetBackground(TCvTextStyle::Palette(index));
    else s.SetForeground(TCvTextStyle::Palette(index));
    return {{start, length, s.Bits()}};
}

// Pixels of the strip [x0, x1) of line `row` close to c.
int PixelsNear(const QImage& img, int x0, int x1, int row, int lh, const QColor& c)
{
    int n = 0;
    for (int y = row * lh; y < (row + 1) * lh && y < img.height(); ++y)
        for (int x = std::max(0, x0); x < std::min(x1, img.width()); ++x) {
            const QColor p = img.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) < 40 && std::abs(p.green() - c.green()) < 40 &&
                std::abs(p.blue() - c.blue()) < 40)
                ++n;
        }
    return n;
}
} // namespace

void TstLogMemo::paintsColourRuns_data()
{
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<int>("padding"); // characters before the runs: a long line is painted in part
    QTest::newRow("light") << QColor(Qt::black) << QColor(Qt::white) << 0;
    QTest::newRow("dark") << QColor(0xE8EAED) << QColor(0x1E1F22) << 0;
    QTest::newRow("long line, dark") << QColor(0xE8EAED) << QColor(0x1E1F22) << 6000;
}

void TstLogMemo::paintsColourRuns()
{
    QFETCH(QColor, text);
    QFETCH(QColor, background);
    QFETCH(int, padding);
    TLogMemo memo;
    memo.resize(600, 200);
    memo.show();
    memo.SetTextColor(text);
    memo.SetBackgroundColor(background);
    const QString pad(padding, QLatin1Char('.'));
    const QString tail(padding ? 200 : 0, QLatin1Char('-'));
    // Line 0: red letters then plain ones; line 1: a red background; line 2 plain.
    memo.Model().Add(pad + QStringLiteral("MMMMMMMMWWWWWWWW") + tail, Run(quint32(padding), 8, false, 1));
    memo.Model().Add(pad + QStringLiteral("            plain") + tail, Run(quint32(padding), 8, true, 1));
    memo.Model().Add(pad + QStringLiteral("MMMMMMMM") + tail);
    const int cw = memo.fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int lh = memo.fontMetrics().lineSpacing();
    QTest::qWait(100);
    // Scrolled so that the runs stand a few columns into the view.
    const int scroll = std::max(0, padding - 10) * cw;
    memo.horizontalScrollBar()->setValue(scroll);
    QCOMPARE(memo.horizontalScrollBar()->value(), scroll);
    QTest::qWait(50);
    const QImage img = memo.viewport()->grab().toImage();
    const int x0 = 2 + padding * cw - memo.horizontalScrollBar()->value();
    const QColor red = memo.TextColours().Resolve(TCvTextStyle(Run(0, 1, false, 1)[0].Style)).Foreground;
    const QColor redBack = memo.TextColours().Resolve(TCvTextStyle(Run(0, 1, true, 1)[0].Style)).Background;
    QVERIFY(ContrastRatio(red, background) >= TCvTextColours::kMinContrast);
    QVERIFY2(PixelsNear(img, x0, x0 + 8 * cw, 0, lh, red) > 10, "red letters");
    // (The first plain cell may catch the edge of the last red glyph.)
    QCOMPARE(PixelsNear(img, x0 + 9 * cw, x0 + 16 * cw, 0, lh, red), 0);
    QCOMPARE(img.pixelColor(x0 + 4 * cw, lh + lh / 2).rgb(), redBack.rgb());
    QCOMPARE(img.pixelColor(x0 + 10 * cw, lh + lh / 2).rgb(), background.rgb());
    QCOMPARE(PixelsNear(img, x0, x0 + 8 * cw, 2, lh, red), 0);
    // Copied, a coloured line is its text alone.
    memo.SelectAll();
    QCOMPARE(memo.SelectedText().left(padding + 16), pad + QStringLiteral("MMMMMMMMWWWWWWWW"));
}

void TstLogMemo::namedColoursReadable_data()
{
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");
    QTest::newRow("white") << QColor(Qt::black) << QColor(Qt::white);
    QTest::newRow("sand") << QColor(0x2E2414) << QColor(0xFBF6EC);
    QTest::newRow("graphite") << QColor(0xE8EAED) << QColor(0x1E1F22);
    QTest::newRow("midnight") << QColor(0xE1E8F7) << QColor(0x0D1322);
    QTest::newRow("black") << QColor(Qt::white) << QColor(Qt::black);
    QTest::newRow("mid grey") << QColor(Qt::black) << QColor(0x808080);
}

void TstLogMemo::namedColoursReadable()
{
    QFETCH(QColor, text);
    QFETCH(QColor, background);
    const TCvTextColours colours(text, background);
    for (int i = 0; i < 256; ++i) {
        TCvTextStyle s;
        s.SetForeground(TCvTextStyle::Palette(i));
        const QColor fg = colours.Resolve(s).Foreground;
        QVERIFY2(ContrastRatio(fg, background) >= TCvTextColours::kMinContrast,
                 qPrintable(QString::number(i)));
    }
    // Red, green and blue keep their hue.
    for (const auto& [index, channel] : {std::pair{1, 0}, std::pair{2, 1}, std::pair{4, 2}}) {
        TCvTextStyle s;
        s.SetForeground(TCvTextStyle::Palette(index));
        const QColor c = colours.Resolve(s).Foreground;
        const int v[3] = {c.red(), c.green(), c.blue()};
        QVERIFY2(v[channel] > v[(channel + 1) % 3] && v[channel] > v[(channel + 2) % 3],
                 qPrintable(c.name()));
    }
    // A 24-bit colour the device chose too close to the background is lifted too.
    TCvTextStyle near;
    near.SetForeground(TCvTextStyle::Rgb(background.red(), background.green(), background.blue()));
    QVERIFY(ContrastRatio(colours.Resolve(near).Foreground, background) >= TCvTextColours::kMinContrast);
    // Inverse paints the text colour as the background.
    TCvTextStyle inv;
    inv.Set(TCvTextStyle::Inverse, true);
    QCOMPARE(colours.Resolve(inv).Background, text);
    QVERIFY(colours.Resolve(inv).FillBackground);
}

QTEST_MAIN(TstLogMemo)
#include "tst_logmemo.moc"
