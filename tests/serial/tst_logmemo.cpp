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

QTEST_MAIN(TstLogMemo)
#include "tst_logmemo.moc"
