#include "TLogMemo.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>

// The log view as the user handles it: selecting and copying, and scrolling while lines pour in.
class TstLogMemo : public QObject {
    Q_OBJECT
private slots:
    void selectAndCopy();
    // Lines added without a scroll request leave a scrolled-up view where the user put it.
    void scrolledUpViewStaysPut();
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
    QTRY_COMPARE(memo.verticalScrollBar()->maximum(), int(memo.Model().LineCount()) - memo.verticalScrollBar()->pageStep());
}

QTEST_MAIN(TstLogMemo)
#include "tst_logmemo.moc"
