#include "PtyPair.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvFastLineSeries.h"
#include "TCvPlotPage.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TTabSet.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

QString Name(const PtyPair& p)
{
    return u"Virtual Port (%1)"_s.arg(p.SlavePath());
}

bool Shows(const TLogMemo* memo, const QString& text)
{
    for (qint64 i = 0; i < memo->ShownLineCount(); ++i)
        if (memo->ShownLine(i).contains(text)) return true;
    return false;
}

// A window with two ptys added as virtual ports.
struct Rig {
    UiTestEnv env;
    PtyPair a, b;
    std::unique_ptr<TSplitViewForm> w;

    Rig()
    {
        w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->AddVirtualPort(a.SlavePath()));
        QVERIFY(w->AddVirtualPort(b.SlavePath()));
    }
    template <class T> T* Find(const char* name) const
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        if (!c) qWarning("no control %s", name);
        return c;
    }
    TCvComPortObj* Obj(const PtyPair& p) const { return w->GetDeciceByFullName(Name(p)); }
    void Open(const PtyPair& p)
    {
        Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
            ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(Name(p)));
        w->ComboBoxEx1Change();
        Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
        QVERIFY(Obj(p)->Connected());
    }
    // The device sends bytes; returns when the port object has counted them.
    void Receive(PtyPair& p, const QByteArray& bytes)
    {
        TCvComPortObj* obj = Obj(p);
        const qint64 before = obj->FComReceiveCount.load();
        QVERIFY(p.Write(bytes));
        QTRY_COMPARE(obj->FComReceiveCount.load(), before + bytes.size());
    }
    void FillMemo1(const QStringList& lines)
    {
        Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Clear();
        for (const QString& l : lines) Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Add(l);
        Ui::Find<TLogMemo>(*w, u"Memo1"_s)->ClearSelection();
    }
};

} // namespace

class TstFindPause : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void findInLog_data();
    void findInLog();
    void escClosesBarOnly();
    void ctrlFWhileLogTakesTyping();
    void findSearchesSelectedPage();
    void matchCaseRemembered();
    void pauseHoldsLogView();
    void pauseHoldsChart();
    void pauseFreezesThePlotOnShow();
    void scrolledUpLogStaysWhileDataArrives();
};

void TstFindPause::findInLog_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matchCase");
    // n / p: the Next and Previous buttons; E / S: Enter and Shift+Enter in the text box.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("line"); // -1: not found
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("status");
    // The log: 0 "alpha beta", 1 "Gamma ALPHA", 2 "delta", 3 "alpha alpha".
    QTest::newRow("next twice") << u"alpha"_s << false << u"nn"_s << 1 << 6 << u"Found in line 2."_s;
    QTest::newRow("enter, with case") << u"alpha"_s << true << u"EEE"_s << 3 << 6 << u"Found in line 4."_s;
    QTest::newRow("wraps to the top") << u"alpha"_s << true << u"EEEE"_s << 0 << 0
                                      << u"Search wrapped past the end to the top; found in line 1."_s;
    QTest::newRow("previous from the bottom")
        << u"alpha"_s << false << u"pS"_s << 3 << 0 << u"Found in line 4."_s;
    QTest::newRow("previous wraps to the end")
        << u"beta"_s << false << u"nS"_s << 0 << 6
        << u"Search wrapped past the top to the end; found in line 1."_s;
    QTest::newRow("any case") << u"DELTA"_s << false << u"n"_s << 2 << 0 << u"Found in line 3."_s;
    QTest::newRow("case: not found") << u"DELTA"_s << true << u"n"_s << -1 << 0 << u"Not found: \"DELTA\""_s;
    QTest::newRow("not found") << u"omega"_s << false << u"S"_s << -1 << 0 << u"Not found: \"omega\""_s;
}

void TstFindPause::findInLog()
{
    QFETCH(QString, text);
    QFETCH(bool, matchCase);
    QFETCH(QString, steps);
    QFETCH(int, line);
    QFETCH(int, col);
    QFETCH(QString, status);
    Rig r;
    r.FillMemo1({u"alpha beta"_s, u"Gamma ALPHA"_s, u"delta"_s, u"alpha alpha"_s});
    auto* bar = r.Find<QWidget>("PanelFind");
    auto* edit = r.Find<QLineEdit>("EditFind");
    auto* next = r.Find<QPushButton>("ButtonFindNext");
    auto* prev = r.Find<QPushButton>("ButtonFindPrev");
    auto* caseBox = r.Find<QCheckBox>("CheckBoxFindCase");
    auto* label = r.Find<QLabel>("LabelFindStatus");
    QVERIFY(bar && edit && next && prev && caseBox && label);
    QVERIFY(!bar->isVisible());
    QTest::keyClick(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);
    caseBox->setChecked(matchCase);
    for (const QChar step : steps) {
        label->clear();
        if (step == u'n') next->click();
        else if (step == u'p') prev->click();
        else if (step == u'E') QTest::keyClick(edit, Qt::Key_Return);
        else QTest::keyClick(edit, Qt::Key_Return, Qt::ShiftModifier);
        QTRY_VERIFY(label->text().startsWith(u"Found"_s) || label->text().startsWith(u"Search wrapped"_s) ||
                    label->text().startsWith(u"Not found"_s));
    }
    QCOMPARE(label->text(), status);
    qint64 l1, c1, l2, c2;
    if (line < 0) {
        QVERIFY(!Ui::Find<TLogMemo>(*r.w, u"Memo1"_s)->HasMatch());
        return;
    }
    QVERIFY(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s)->HasMatch());
    QVERIFY(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s)->SelectionBounds(l1, c1, l2, c2));
    QCOMPARE(l1, qint64(line));
    QCOMPARE(c1, qint64(col));
    QCOMPARE(l2, qint64(line));
    QCOMPARE(c2, qint64(col + text.size()));
    QCOMPARE(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s)->SelectedText().toLower(), text.toLower());
}

void TstFindPause::escClosesBarOnly()
{
    Rig r;
    auto* bar = r.Find<QWidget>("PanelFind");
    auto* edit = r.Find<QLineEdit>("EditFind");
    QVERIFY(bar && edit);
    const bool left = Ui::Find<TSplitView>(*r.w, u"SV_L"_s)->IsOpened(),
               right = Ui::Find<TSplitView>(*r.w, u"SV_R"_s)->IsOpened();
    QTest::keyClick(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s), Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(Ui::Find<TSplitView>(*r.w, u"SV_L"_s)->IsOpened(), left);
    QCOMPARE(Ui::Find<TSplitView>(*r.w, u"SV_R"_s)->IsOpened(), right);
    // The close button does the same; Esc elsewhere still toggles the side panels.
    QTest::keyClick(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s), Qt::Key_F, Qt::ControlModifier);
    r.Find<QPushButton>("ButtonFindClose")->click();
    QVERIFY(!bar->isVisible());
    QTest::keyClick(Ui::Find<TLogMemo>(*r.w, u"Memo1"_s), Qt::Key_Escape);
    QVERIFY(Ui::Find<TSplitView>(*r.w, u"SV_L"_s)->IsOpened() != left ||
            Ui::Find<TSplitView>(*r.w, u"SV_R"_s)->IsOpened() != right);
}

void TstFindPause::ctrlFWhileLogTakesTyping()
{
    Rig r;
    r.Open(r.a);
    TLogMemo* memo = TLogMemo::Of(r.Obj(r.a)->LogView());
    QCOMPARE(memo, Ui::Find<TLogMemo>(*r.w, u"Memo1"_s));
    // Enter in the log starts the prompt: the log takes typing.
    QTest::keyClick(memo, Qt::Key_Return);
    QTRY_VERIFY(!memo->ReadOnly());
    const QByteArray before = memo->Model().Text();
    QTest::keyClick(memo, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(r.Find<QWidget>("PanelFind")->isVisible());
    QCOMPARE(r.w->focusWidget(), r.Find<QWidget>("EditFind"));
    // Nothing went into the prompt or out to the device.
    QCOMPARE(memo->Model().Text(), before);
    QVERIFY(r.a.ReadFor(200).isEmpty());
    // Typing in the log still works after the bar is closed.
    QTest::keyClick(r.Find<QLineEdit>("EditFind"), Qt::Key_Escape);
    QTest::keyClicks(memo, u"ab"_s);
    QVERIFY(memo->Model().Line(memo->Model().LineCount() - 1).endsWith(u"ab"_s));
}

void TstFindPause::findSearchesSelectedPage()
{
    Rig r;
    r.Open(r.a); // writes into the main log
    r.Open(r.b); // gets a page of its own, which is selected
    TLogMemo* memoB = TLogMemo::Of(r.Obj(r.b)->LogView());
    QVERIFY(memoB != Ui::Find<TLogMemo>(*r.w, u"Memo1"_s));
    QCOMPARE(r.w->CurrentLogMemo(), memoB);
    r.Receive(r.b, "reply from the second device\r\n");
    QTRY_VERIFY(Shows(memoB, u"second device"_s));
    auto* edit = r.Find<QLineEdit>("EditFind");
    auto* label = r.Find<QLabel>("LabelFindStatus");
    QTest::keyClick(memoB, Qt::Key_F, Qt::ControlModifier);
    edit->setText(u"second device"_s);
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY(label->text().startsWith(u"Found"_s));
    QVERIFY(memoB->HasMatch());
    QVERIFY(!Ui::Find<TLogMemo>(*r.w, u"Memo1"_s)->HasMatch());
    // The main log's page does not hold that text.
    Ui::Find<TTabSet>(*r.w, u"TabSet2"_s)->setCurrentIndex(0);
    QCOMPARE(r.w->CurrentLogMemo(), Ui::Find<TLogMemo>(*r.w, u"Memo1"_s));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY(label->text().startsWith(u"Not found"_s));
}

void TstFindPause::matchCaseRemembered()
{
    UiTestEnv env;
    {
        auto w = UiTestEnv::Start("en_US");
        auto* box = w->findChild<QCheckBox*>(u"CheckBoxFindCase"_s);
        QVERIFY(box);
        QVERIFY(!box->isChecked());
        box->setChecked(true);
        QVERIFY(w->projectSave(true));
        QVERIFY(ReadFile(w->SettingsFileName()).contains("FINDCASE=1"));
    }
    auto w = UiTestEnv::Start("en_US");
    QVERIFY(w->findChild<QCheckBox*>(u"CheckBoxFindCase"_s)->isChecked());
}

void TstFindPause::pauseHoldsLogView()
{
    Rig r;
    r.Open(r.a);
    TLogMemo* memo = Ui::Find<TLogMemo>(*r.w, u"Memo1"_s);
    TCvComPortObj* obj = r.Obj(r.a);
    auto* pause = r.Find<QPushButton>("ButtonPause");
    QVERIFY(pause && pause->isCheckable());
    QCOMPARE(pause->text(), u"Pause"_s);
    r.Receive(r.a, "before the pause\r\n");
    QTRY_VERIFY(Shows(memo, u"before the pause"_s));

    pause->click();
    QVERIFY(pause->isChecked());
    QVERIFY(memo->Paused());
    const qint64 shown = memo->ShownLineCount();
    QByteArray burst;
    for (int i = 0; i < 300; ++i) burst += "while paused " + QByteArray::number(i) + "\r\n";
    r.Receive(r.a, burst);
    // Counted and kept, not shown.
    QTRY_VERIFY(r.w->StatusPanels[2]->text().contains(u"Received: "_s +
                                                      QString::number(obj->FComReceiveCount.load())));
    QTRY_VERIFY(memo->Model().Text().contains("while paused 299"));
    QTest::qWait(100);
    QCOMPARE(memo->ShownLineCount(), shown);
    QVERIFY(!Shows(memo, u"while paused"_s));

    // Another device's page shows its own state; back on this one the button is still down.
    r.Open(r.b);
    QVERIFY(r.w->CurrentLogMemo() != memo);
    QVERIFY(!pause->isChecked());
    Ui::Find<TTabSet>(*r.w, u"TabSet2"_s)->setCurrentIndex(0);
    QVERIFY(pause->isChecked());

    pause->click();
    QVERIFY(!memo->Paused());
    const QByteArray text = memo->Model().Text();
    for (int i = 0; i < 300; ++i) {
        const QString line = u"while paused %1"_s.arg(i);
        QVERIFY2(Shows(memo, line), qPrintable(line));
        QCOMPARE(text.count(line.toUtf8() + "\r\n"), 1);
    }
    QTRY_VERIFY(memo->AtEnd());
}

void TstFindPause::pauseHoldsChart()
{
    Rig r;
    Ui::Find<QComboBox>(*r.w, u"ComboBox7"_s)->setCurrentIndex(rfGraphic);
    r.Open(r.a);
    TCvComPortObj* obj = r.Obj(r.a);
    QCOMPARE(obj->FReceiveFormat.load(), int(rfGraphic));
    auto* series = qobject_cast<TCvFastLineSeries*>(obj->Series());
    QVERIFY(series);
    // The waveform page.
    Ui::Find<TTabSet>(*r.w, u"TabSet2"_s)
        ->setCurrentIndex(Ui::Find<TNotebook>(*r.w, u"Notebook2"_s)->PageCount() - 2);
    QTRY_VERIFY(Ui::Find<TCvChart>(*r.w, u"Chart1"_s)->isVisible());
    // X of the last point drawn.
    const auto lastDrawn = [series] {
        const QLineSeries* line = series->LineSeries();
        return line->count() > 0 ? int(line->at(line->count() - 1).x()) : -1;
    };
    r.Receive(r.a, QByteArray(10, '\x20'));
    QTRY_COMPARE(series->Count(), 10);
    QTRY_COMPARE(lastDrawn(), 9);

    auto* pause = r.Find<QPushButton>("ButtonPause");
    pause->click();
    QVERIFY(pause->isChecked());
    QVERIFY(Ui::Find<TCvChart>(*r.w, u"Chart1"_s)->Frozen());
    r.Receive(r.a, QByteArray(40, '\x40'));
    // The points go on into the series; the drawing stays.
    QTRY_COMPARE(series->Count(), 50);
    QTest::qWait(200);
    QCOMPARE(lastDrawn(), 9);

    pause->click();
    QVERIFY(!Ui::Find<TCvChart>(*r.w, u"Chart1"_s)->Frozen());
    QTRY_COMPARE(lastDrawn(), 49);
}

// On the waveform page with a plot tab on show, the pause is that of the plot's port: its
// log and that plot hold, the waveform does not.
void TstFindPause::pauseFreezesThePlotOnShow()
{
    Rig r;
    r.Open(r.a);
    TCvComPortObj* obj = r.Obj(r.a);
    QCOMPARE(obj->FReceiveFormat.load(), int(rfAscii));
    auto* page = Ui::Find<TCvPlotPage>(*r.w, u"PlotPage:"_s + Name(r.a));
    auto* tabs = Ui::Find<QTabWidget>(*r.w, u"PlotTabs"_s);
    Ui::Find<TTabSet>(*r.w, u"TabSet2"_s)
        ->setCurrentIndex(Ui::Find<TNotebook>(*r.w, u"Notebook2"_s)->PageCount() - 2);
    tabs->setCurrentWidget(page);
    QTRY_VERIFY(page->isVisible());
    auto* pause = r.Find<QPushButton>("ButtonPause");
    QVERIFY(!pause->isChecked());
    pause->click();
    QVERIFY(page->Frozen());
    QVERIFY(TLogMemo::Of(obj->LogView())->Paused());
    QVERIFY(!Ui::Find<TCvChart>(*r.w, u"Chart1"_s)->Frozen());
    // Points go on into the plot while it holds.
    r.Receive(r.a, "1,2\r\n");
    page->Sync();
    QCOMPARE(page->Samples(), qint64(1));
    // The button shows the pause of the tab on show.
    tabs->setCurrentIndex(0);
    QVERIFY(!pause->isChecked());
    tabs->setCurrentWidget(page);
    QVERIFY(pause->isChecked());
    pause->click();
    QVERIFY(!page->Frozen());
    QVERIFY(!TLogMemo::Of(obj->LogView())->Paused());
}

void TstFindPause::scrolledUpLogStaysWhileDataArrives()
{
    Rig r;
    r.Open(r.a);
    TLogMemo* memo = Ui::Find<TLogMemo>(*r.w, u"Memo1"_s);
    QScrollBar* bar = memo->verticalScrollBar();
    QByteArray burst;
    for (int i = 0; i < 200; ++i) burst += "first " + QByteArray::number(i) + "\r\n";
    r.Receive(r.a, burst);
    QTRY_VERIFY(Shows(memo, u"first 199"_s));
    QTRY_VERIFY(bar->maximum() > 100);
    QTRY_VERIFY(memo->AtEnd());
    bar->setValue(20);
    burst.clear();
    for (int i = 0; i < 100; ++i) burst += "second " + QByteArray::number(i) + "\r\n";
    r.Receive(r.a, burst);
    QTRY_VERIFY(Shows(memo, u"second 99"_s));
    QTRY_COMPARE(bar->maximum(), int(memo->ShownLineCount()) - bar->pageStep());
    QCOMPARE(bar->value(), 20);
    // Back at the bottom, new lines are followed again.
    bar->setValue(bar->maximum());
    r.Receive(r.a, "third\r\n");
    QTRY_VERIFY(Shows(memo, u"third"_s));
    QTRY_COMPARE(bar->maximum(), int(memo->ShownLineCount()) - bar->pageStep());
    QTRY_VERIFY(memo->AtEnd());
}

QTEST_MAIN(TstFindPause)
#include "tst_findpause.moc"
