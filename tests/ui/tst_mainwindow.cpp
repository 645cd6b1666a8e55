#include "CvLanguage.h"
#include "PtyPair.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TSplitterBar.h"
#include "TStringGrid.h"
#include "TTabSet.h"
#include "TUpDown.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

void Drag(QWidget* bar, int dx)
{
    const QPointF local(2, 10);
    const QPointF global = bar->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QMouseEvent move(QEvent::MouseMove, local + QPointF(dx, 0), global + QPointF(dx, 0), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + QPointF(dx, 0), global + QPointF(dx, 0),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &release);
}

QStringList ActionTexts(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions()) out << (a->isSeparator() ? u"-"_s : a->text());
    return out;
}

} // namespace

class TstMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void everyRegionAndControlExists();
    void foldersAndLogFileName();
    void escapeKey_data();
    void escapeKey();
    void functionKeysToggleOnePanel();
    void f2AfterNarrowDragOpensAt300();
    void splitterShownOnlyWithRightPanel();
    void gridContentColumnFollowsThePanel();
    void sidePagesFitThePanel_data();
    void sidePagesFitThePanel();
    void fitsALaptopScreen_data();
    void fitsALaptopScreen();
    void tabStripsMirrorPageCaptions();
    void tabSelectionDrivesRightPanel();
    void deviceTabSelectsTheDevice();
    void mainLogPrintPrefixes_data();
    void mainLogPrintPrefixes();
    void mainLogPrintTakesAnEmptyLastLine();
    void windowMenu();
    void helpPageShowsLocalFileWithoutWaiting();
    void shortcutAtClose_data();
    void shortcutAtClose();
    void createShortcutRules();
    void closingWithoutDeviceWritesSettings();
};

void TstMainWindow::everyRegionAndControlExists()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    const char* const names[] = {"SV_L",
                                 "SV_R",
                                 "Splitter1",
                                 "Panel1",
                                 "Notebook1",
                                 "Notebook2",
                                 "Notebook3",
                                 "TabSet1",
                                 "TabSet2",
                                 "TabSet3",
                                 "Memo1",
                                 "Chart1",
                                 "W4207315",
                                 "StatusBar1",
                                 "PopupMenu1",
                                 "CloseTheDevice1",
                                 "Timer1",
                                 "Timer2",
                                 "ComboBoxEx1",
                                 "Button2",
                                 "GroupBox1",
                                 "GroupBox2",
                                 "GroupBox6",
                                 "ComboBox1",
                                 "ComboBox2",
                                 "ComboBox3",
                                 "ComboBox4",
                                 "ComboBox5",
                                 "ComboBox6",
                                 "ComboBox7",
                                 "ComboBox8",
                                 "ComboBox9",
                                 "ComboBox10",
                                 "ComboBox11",
                                 "ComboBox12",
                                 "Edit5",
                                 "UpDown1",
                                 "Edit22",
                                 "UpDown3",
                                 "Edit2",
                                 "UpDown2",
                                 "Edit3",
                                 "UpDown5",
                                 "cbxVclStyles",
                                 "Memo2",
                                 "Memo3",
                                 "Memo5",
                                 "Panel2",
                                 "Panel4",
                                 "Panel15",
                                 "GroupBox10",
                                 "StringGrid1",
                                 "Label16",
                                 "Label17",
                                 "ThemeMenu",
                                 "TableRules",
                                 "ButtonRuleAdd",
                                 "ButtonRuleRemove",
                                 "LabelRulesPort",
                                 "MemoScript",
                                 "ButtonScriptRun",
                                 "ButtonScriptStop",
                                 "ButtonScriptOpen",
                                 "ButtonScriptSave",
                                 "ComboBoxScriptRecent",
                                 "LabelScriptState"};
    for (const char* name : names) QVERIFY2(w->findChild<QObject*>(QString::fromLatin1(name)), name);
    for (int r = 3; r < LangTable().size(); ++r)
        QVERIFY2(w->findChild<QObject*>(LangTable()[r].Name), qPrintable(LangTable()[r].Name));

    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCount(), 3);
    // The waveform is the first tab of the chart page, beside the ports' plots.
    QVERIFY(Ui::Find<TNotebook>(*w, u"Notebook2"_s)
                ->widget(1)
                ->isAncestorOf(Ui::Find<TCvChart>(*w, u"Chart1"_s)));
    // The graphic page is the panel the chart tests drive, bound to the chart in the centre.
    QCOMPARE(Ui::Find<TCvChartPanel>(*w, u"ChartPanel"_s)->Page()->Chart(),
             Ui::Find<TCvChart>(*w, u"Chart1"_s));
    QCOMPARE(Ui::Find<QTextBrowser>(*w, u"W4207315"_s)->parentWidget(),
             Ui::Find<TNotebook>(*w, u"Notebook2"_s)->widget(2));
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_L"_s)->OpenedWidth(), 318);
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->OpenedWidth(), 321);
    QCOMPARE(w->StatusPanels[0]->width(), 210);
    QCOMPARE(w->StatusPanels[1]->width(), 230);
    QCOMPARE(w->StatusPanels[1]->text(), ProductWebAddress);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(0, 1), u"0001 "_s);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(0, 999), u"0999 "_s);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Col(), 2);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Row(), 2);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox1"_s)->itemText(0), u"Custom"_s);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox5"_s)->count(), 4);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox6"_s)->currentIndex(), 0);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->count(), 5);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->itemText(4), u"File"_s);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->currentIndex(), 0);
    QVERIFY(!w->CheckGlyph(true).isNull() && w->CheckGlyph(true).size() == w->CheckGlyph(false).size());
    QVERIFY(!Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive() && !Ui::Find<QTimer>(*w, u"Timer2"_s)->isActive());
    QCOMPARE(Ui::Find<QTimer>(*w, u"Timer2"_s)->interval(), 10000);
}

void TstMainWindow::foldersAndLogFileName()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    QCOMPARE(w->CorvaneCfgDir, env.CfgDir());
    QVERIFY(QFileInfo(env.CfgDir() + u"Setting"_s).isDir());
    QVERIFY(QFileInfo(env.CfgDir() + u"Logs"_s).isDir());
    QVERIFY(QRegularExpression(u"^"_s + QRegularExpression::escape(env.CfgDir() + u"Logs/"_s) +
                               u"\\d{8}_\\d{6}$"_s)
                .match(w->CorvaneCfgDir_LogFileName)
                .hasMatch());
    QVERIFY(
        QRegularExpression(u"^\\d{8}_\\d{6}$"_s).match(TSplitViewForm::GetTimeStampFileName()).hasMatch());
}

void TstMainWindow::escapeKey_data()
{
    QTest::addColumn<bool>("leftOpen");
    QTest::addColumn<bool>("rightOpen");
    QTest::addColumn<bool>("after");
    QTest::newRow("both closed: open both") << false << false << true;
    QTest::newRow("only left open: close both") << true << false << false;
    QTest::newRow("only right open: close both") << false << true << false;
    QTest::newRow("both open: close both") << true << true << false;
}

void TstMainWindow::escapeKey()
{
    QFETCH(bool, leftOpen);
    QFETCH(bool, rightOpen);
    QFETCH(bool, after);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    Ui::Find<TSplitView>(*w, u"SV_L"_s)->SetOpened(leftOpen);
    Ui::Find<TSplitView>(*w, u"SV_R"_s)->SetOpened(rightOpen);
    QTest::keyClick(Ui::Find<TLogMemo>(*w, u"Memo1"_s), Qt::Key_Escape);
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened(), after);
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened(), after);
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_L"_s)->width(), after ? 318 : 0);
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), after ? 321 : 0);
}

void TstMainWindow::functionKeysToggleOnePanel()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The keys work wherever the focus is, also in an edit box.
    QTest::keyClick(Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s), Qt::Key_F1);
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened());
    QVERIFY(!Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QTest::keyClick(Ui::Find<QComboBox>(*w, u"ComboBox10"_s), Qt::Key_F2);
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QTest::keyClick(Ui::Find<TLogMemo>(*w, u"Memo1"_s), Qt::Key_F1);
    QVERIFY(!Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened());
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QVERIFY(Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->toPlainText().isEmpty());
}

void TstMainWindow::f2AfterNarrowDragOpensAt300()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F2);
    QTRY_VERIFY(Ui::Find<TSplitterBar>(*w, u"Splitter1"_s)->isVisible());
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), 321);

    Drag(Ui::Find<TSplitterBar>(*w, u"Splitter1"_s), 311);
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->OpenedWidth(), 10);
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), 10);
    QTest::keyClick(w.get(), Qt::Key_F2);
    QVERIFY(!Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QTest::keyClick(w.get(), Qt::Key_F2);
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->OpenedWidth(), 300);
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), 300);

    // A width of 20 or more is kept.
    Drag(Ui::Find<TSplitterBar>(*w, u"Splitter1"_s), 280);
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->OpenedWidth(), 20);
    QTest::keyClick(w.get(), Qt::Key_F2);
    QTest::keyClick(w.get(), Qt::Key_F2);
    QCOMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->OpenedWidth(), 20);
}

void TstMainWindow::splitterShownOnlyWithRightPanel()
{
    UiTestEnv env;
    env.WriteSetting(u"Corvane.ini"_s, "[MyPreference]\r\nSV_ROPEN=1\r\nSV_LOPEN=1\r\n");
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened());
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QTRY_VERIFY(Ui::Find<TSplitterBar>(*w, u"Splitter1"_s)->isVisible());
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), 321);
    QCOMPARE(Ui::Find<TSplitterBar>(*w, u"Splitter1"_s)->geometry().right() + 1,
             Ui::Find<TSplitView>(*w, u"SV_R"_s)->geometry().left());
    w->ShowHideRLPanel(1);
    QTRY_VERIFY(!Ui::Find<TSplitterBar>(*w, u"Splitter1"_s)->isVisible());
    w->ShowHideRLPanel(7);
    QVERIFY(!Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened());
}

void TstMainWindow::gridContentColumnFollowsThePanel()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->ShowHideRLPanel(1);
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), 321);
    Ui::Find<TTabSet>(*w, u"TabSet3"_s)->setCurrentIndex(1);
    const int narrow = Ui::Find<QPushButton>(*w, u"Button1"_s)->width();
    QVERIFY(narrow <= 240);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->ColWidth(2), narrow - 15);

    Drag(Ui::Find<TSplitterBar>(*w, u"Splitter1"_s), -200);
    QTRY_COMPARE(Ui::Find<TSplitView>(*w, u"SV_R"_s)->width(), 521);
    const int wide = Ui::Find<QPushButton>(*w, u"Button1"_s)->width();
    QVERIFY(wide > 240);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->ColWidth(2), 240 + (wide - 240) / 2);
}

void TstMainWindow::sidePagesFitThePanel_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("English") << QByteArray("en_US");
    QTest::newRow("Chinese") << QByteArray("zh_CN");
}

// A page wider than the side panel has its fields cut off at the right (the page scrolls
// only up and down).
void TstMainWindow::sidePagesFitThePanel()
{
    QFETCH(QByteArray, locale);
    UiTestEnv env;
    auto w = UiTestEnv::Start(locale.constData());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    Ui::Find<TSplitView>(*w, u"SV_L"_s)->Open();
    const QStringList pages{u"PortSettingsPanel"_s, u"PreferencesPanel"_s};
    for (int i = 0; i < pages.size(); ++i) {
        Ui::Find<TTabSet>(*w, u"TabSet1"_s)->setCurrentIndex(i);
        auto* panel = Ui::Find<QWidget>(*w, pages[i]);
        QTRY_VERIFY(panel->isVisible());
        QWidget* inner = panel->parentWidget();
        QWidget* viewport = inner->parentWidget();
        QVERIFY2(inner->width() <= viewport->width(),
                 qPrintable(
                     u"%1: %2 px wide in %3 px"_s.arg(pages[i]).arg(inner->width()).arg(viewport->width())));
    }
}

void TstMainWindow::fitsALaptopScreen_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("English") << QByteArray("en_US");
    QTest::newRow("Chinese") << QByteArray("zh_CN");
}

// A 1,366 x 768 laptop: with both side panels open, no page of the middle or of the right
// panel makes the window wider or taller than the screen leaves it (a title bar and a
// desktop panel take about 70 px of the height).
void TstMainWindow::fitsALaptopScreen()
{
    QFETCH(QByteArray, locale);
    constexpr int kWidth = 1366;
    constexpr int kHeight = 768 - 70;
    UiTestEnv env;
    PtyPair pty;
    auto w = UiTestEnv::Start(locale.constData());
    w->resize(kWidth, kHeight);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    Ui::Find<TSplitView>(*w, u"SV_L"_s)->Open();
    Ui::Find<TSplitView>(*w, u"SV_R"_s)->Open();
    // A port in ASCII has a plot tab beside the waveform.
    QVERIFY(w->AddVirtualPort(pty.SlavePath()));
    auto* list = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s);
    list->setCurrentIndex(list->findText(u"Virtual Port (%1)"_s.arg(pty.SlavePath())));
    w->ComboBoxEx1Change();
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    auto* plots = Ui::Find<QTabWidget>(*w, u"PlotTabs"_s);
    QCOMPARE(plots->count(), 2);

    QStringList tooBig;
    const auto check = [&](const QString& page) {
        QTest::qWait(20); // layouts settle through posted events
        const QSize min = w->minimumSizeHint();
        if (w->width() > kWidth || w->height() > kHeight || min.width() > kWidth || min.height() > kHeight)
            tooBig << u"%1: %2 x %3 (at least %4 x %5)"_s.arg(page)
                          .arg(w->width())
                          .arg(w->height())
                          .arg(min.width())
                          .arg(min.height());
    };
    auto* centre = Ui::Find<TTabSet>(*w, u"TabSet2"_s);
    auto* right = Ui::Find<TTabSet>(*w, u"TabSet3"_s);
    for (int i = 0; i < centre->count(); ++i) {
        centre->setCurrentIndex(i);
        if (i == centre->count() - 2) {
            for (int p = 0; p < plots->count(); ++p) {
                plots->setCurrentIndex(p);
                check(centre->tabText(i) + u" / "_s + plots->tabText(p));
            }
            // The plot's controls wrap onto a further row rather than run off the page.
            QWidget* plot = plots->widget(1);
            for (const char* name : {"PlotXMode", "PlotYMax", "PlotFollow", "PlotClear", "PlotSavePng"}) {
                const auto* c = Ui::Find<QWidget>(plot, QString::fromLatin1(name));
                const QRect at(c->mapTo(plot, QPoint(0, 0)), c->size());
                QVERIFY2(c->isVisible() && plot->rect().contains(at), name);
            }
        } else {
            check(centre->tabText(i));
        }
        for (int r = 0; r < right->count(); ++r) {
            right->setCurrentIndex(r);
            check(centre->tabText(i) + u" + "_s + right->tabText(r));
        }
    }
    QVERIFY2(tooBig.isEmpty(), qPrintable(tooBig.join(u'\n')));
}

void TstMainWindow::tabStripsMirrorPageCaptions()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    const auto verify = [&w] {
        QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet1"_s)->Tabs(),
                 Ui::Find<TNotebook>(*w, u"Notebook1"_s)->PageCaptions());
        QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->Tabs(),
                 Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCaptions());
        QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet3"_s)->Tabs(),
                 Ui::Find<TNotebook>(*w, u"Notebook3"_s)->PageCaptions());
        QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet1"_s)->currentIndex(), 0);
        QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->currentIndex(), 0);
        QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet3"_s)->currentIndex(), 0);
    };
    verify();
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->Tabs(),
             QStringList({u"Corvane 串口助手 "_s, u" 图形 "_s, u" 帮助 "_s}));
    Ui::Find<QCheckBox>(*w, u"CheckBox6"_s)->click();
    verify();
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet3"_s)->Tabs(),
             QStringList({u"Custom Data F2 "_s, u"Normal Send"_s, u" Protocol "_s, u" Graphic "_s,
                          u" Answer Rules "_s, u" Script "_s}));

    // A device page goes before the waveform page.
    auto* page = new QWidget;
    Ui::Find<TNotebook>(*w, u"Notebook2"_s)
        ->InsertPage(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCount() - 2, page,
                     u"USB Serial (ttyUSB1)"_s);
    w->RefillTabSets();
    verify();
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->tabText(1), u"USB Serial (ttyUSB1)"_s);
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->tabText(3), u" Help "_s);
}

void TstMainWindow::tabSelectionDrivesRightPanel()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    Ui::Find<TTabSet>(*w, u"TabSet3"_s)->setCurrentIndex(1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook3"_s)->currentIndex(), 1);
    Ui::Find<TTabSet>(*w, u"TabSet2"_s)->setCurrentIndex(1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->currentIndex(), 1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook3"_s)->currentIndex(), 3);
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet3"_s)->currentIndex(), 3);
    Ui::Find<TTabSet>(*w, u"TabSet2"_s)->setCurrentIndex(0);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->currentIndex(), 0);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook3"_s)->currentIndex(), 0);
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet3"_s)->currentIndex(), 0);
    Ui::Find<TTabSet>(*w, u"TabSet1"_s)->setCurrentIndex(1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook1"_s)->currentIndex(), 1);
    w->SwitchTab(Ui::Find<TTabSet>(*w, u"TabSet1"_s), -1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook1"_s)->currentIndex(), 1);
}

void TstMainWindow::deviceTabSelectsTheDevice()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->addItems({u"Serial Port (ttyS0)"_s, u"USB Serial Device (ttyACM0)"_s});
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->setCurrentIndex(0);
    Ui::Find<TNotebook>(*w, u"Notebook2"_s)->InsertPage(1, new QWidget, u"usb serial device (ttyacm0)"_s);
    w->RefillTabSets();
    Ui::Find<TTabSet>(*w, u"TabSet3"_s)->setCurrentIndex(2);
    Ui::Find<TTabSet>(*w, u"TabSet2"_s)->setCurrentIndex(1);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->currentIndex(), 1);
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook3"_s)->currentIndex(), 0);
}

void TstMainWindow::mainLogPrintPrefixes_data()
{
    QTest::addColumn<bool>("lineNumbers");
    QTest::addColumn<bool>("date");
    QTest::addColumn<bool>("time");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("nothing") << false << false << false << u"^hello$"_s;
    QTest::newRow("line numbers") << true << false << false << u"^00\\| hello$"_s;
    QTest::newRow("time") << false << false << true << u"^\\d\\d:\\d\\d:\\d\\d hello$"_s;
    QTest::newRow("date") << false << true << false << u"^\\d{8} hello$"_s;
    QTest::newRow("all") << true << true << true << u"^00\\| \\d{8}/\\d\\d:\\d\\d:\\d\\d hello$"_s;
}

void TstMainWindow::mainLogPrintPrefixes()
{
    QFETCH(bool, lineNumbers);
    QFETCH(bool, date);
    QFETCH(bool, time);
    QFETCH(QString, pattern);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->setChecked(lineNumbers);
    Ui::Find<QCheckBox>(*w, u"CheckBox3"_s)->setChecked(date);
    Ui::Find<QCheckBox>(*w, u"CheckBox25"_s)->setChecked(time);
    Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Clear();
    w->MainLogPrint(u"hello"_s);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().LineCount(), 1);
    const QString line = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Line(0);
    QVERIFY2(QRegularExpression(pattern).match(line).hasMatch(), qPrintable(line));
    w->MainLogPrint(u"again"_s);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Line(1).startsWith(u"01| "_s), lineNumbers);
}

void TstMainWindow::mainLogPrintTakesAnEmptyLastLine()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    TLogModel& m = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model();
    QCOMPARE(m.LineCount(), 5);
    m.Add(u"Device X was opened."_s);
    m.Add(QString());
    QCOMPARE(m.LineCount(), 7);
    w->MainLogPrint(u"next"_s);
    QCOMPARE(m.LineCount(), 7);
    QCOMPARE(m.Line(5), u"Device X was opened."_s);
    QCOMPARE(m.Line(6), u"06| next"_s);
    QVERIFY(m.EndsWithCrlf());
}

void TstMainWindow::windowMenu()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    QCOMPARE(ActionTexts(Ui::Find<QMenu>(*w, u"SystemMenu"_s)),
             QStringList({u"-"_s, u"Theme"_s, u"-"_s, u"Keep At The Top Always "_s, u"Version :4.20"_s,
                          u"-"_s, u"Help Support"_s}));
    QStringList styles;
    for (int i = 0; i < Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->count(); ++i)
        styles << Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->itemText(i);
    QCOMPARE(ActionTexts(Ui::Find<QMenu>(*w, u"ThemeMenu"_s)), styles);
    QCOMPARE(styles.first(), u"Fusion"_s);

    const QList<QAction*> entries = Ui::Find<QMenu>(*w, u"SystemMenu"_s)->actions();
    entries[4]->trigger();
    const QString title = u"Corvane SerialPort Complex Terminal R2018a"_s;
    QCOMPARE(env.boxes, QStringList({title + u"|"_s + title + u"  Version :4.20"_s}));

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QSize size = w->size();
    entries[3]->trigger();
    QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(w->isVisible());
    QCOMPARE(w->size(), size);
    QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBox2"_s)->isChecked());

    entries[6]->trigger();
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->currentIndex(),
             Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCount() - 1);
    QCOMPARE(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->currentIndex(),
             Ui::Find<TNotebook>(*w, u"Notebook2"_s)->PageCount() - 1);
}

void TstMainWindow::helpPageShowsLocalFileWithoutWaiting()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QElapsedTimer clock;
    clock.start();
    Ui::Find<TTabSet>(*w, u"TabSet2"_s)->setCurrentIndex(Ui::Find<TTabSet>(*w, u"TabSet2"_s)->count() - 1);
    QVERIFY2(clock.elapsed() < 1000, "selecting the help page waited");
    QCOMPARE(Ui::Find<TNotebook>(*w, u"Notebook2"_s)->currentIndex(), 2);
    QCOMPARE(Ui::Find<QTextBrowser>(*w, u"W4207315"_s)->source(), QUrl(w->LocalHelpAddress()));
    QVERIFY(w->LocalHelpAddress().endsWith(u"/Corvane Software – 科万串口助手.html"_s));
    QVERIFY(Ui::Find<QTextBrowser>(*w, u"W4207315"_s)
                ->toPlainText()
                .contains(u"Corvane Protocol — wire format"_s));

    // The window keeps handling events while the probe is out, and the local page stays.
    bool ticked = false;
    QTimer::singleShot(20, w.get(), [&ticked] { ticked = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ticked, 500);
    QTest::keyClick(w.get(), Qt::Key_F1);
    QVERIFY(Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened());
    QTest::qWait(TSplitViewForm::ProbeTimeoutMs + 500);
    QCOMPARE(Ui::Find<QTextBrowser>(*w, u"W4207315"_s)->source(), QUrl(w->LocalHelpAddress()));
}

void TstMainWindow::shortcutAtClose_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::newRow("ticked") << true;
    QTest::newRow("unticked") << false;
}

void TstMainWindow::shortcutAtClose()
{
    QFETCH(bool, ticked);
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(ticked);
    w->close();
    const QString exe = QCoreApplication::applicationFilePath();
    const QString link = env.DesktopDir() + u'/' + QFileInfo(exe).completeBaseName() + u".desktop"_s;
    QCOMPARE(QFileInfo::exists(link), ticked);
    if (!ticked) return;
    const QString text = QString::fromUtf8(ReadFile(link));
    QVERIFY(text.startsWith(u"[Desktop Entry]\n"_s));
    QVERIFY(text.contains(u"\nExec=\""_s + exe + u"\"\n"_s));
    QVERIFY(text.contains(u"\nPath="_s + QFileInfo(exe).absolutePath() + u"\n"_s));
    QVERIFY(text.contains(u"\nName="_s + QFileInfo(exe).completeBaseName() + u"\n"_s));
    QVERIFY(QFileInfo(link).isExecutable());
}

void TstMainWindow::createShortcutRules()
{
    UiTestEnv env;
    const QString exe = QCoreApplication::applicationFilePath();
    QVERIFY(!TSplitViewForm::CreateShortcut(env.tmp.filePath(u"missing"_s), {}, {}, -1));
    QVERIFY(!TSplitViewForm::CreateShortcut(exe, u"x"_s, env.tmp.filePath(u"no such folder"_s), -1));
    QVERIFY(TSplitViewForm::CreateShortcut(exe, u"Named"_s, env.tmp.path() + u"/"_s, -1));
    QVERIFY(QFileInfo::exists(env.tmp.filePath(u"Named.desktop"_s)));
    QVERIFY(TSplitViewForm::CreateShortcut(exe, {}, {}, 0));
    QVERIFY(QFileInfo::exists(env.DesktopDir() + u'/' + QFileInfo(exe).completeBaseName() + u".desktop"_s));
    // Writing it again replaces it.
    QVERIFY(TSplitViewForm::CreateShortcut(exe, {}, {}, 0));
}

void TstMainWindow::closingWithoutDeviceWritesSettings()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(42);
    QVERIFY(!QFile::exists(env.SettingDir() + u"Corvane.ini"_s));
    w->close();
    QVERIFY(ReadFile(env.SettingDir() + u"Corvane.ini"_s).contains("\r\nLOOPCOUNT=42\r\n"));
    QVERIFY(env.boxes.isEmpty());
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
