#include "CvLanguage.h"
#include "TCvChart.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TSplitterBar.h"
#include "TStringGrid.h"
#include "TTabSet.h"
#include "TUpDown.h"
#include "UiTestEnv.h"

#include <QAction>
#include <QApplication>
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
#include <QTextBrowser>
#include <QTimer>
#include <QChartView>

using namespace Qt::Literals::StringLiterals;

namespace {

void Drag(QWidget* bar, int dx)
{
    const QPointF local(2, 10);
    const QPointF global = bar->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QMouseEvent move(QEvent::MouseMove, local + QPointF(dx, 0), global + QPointF(dx, 0), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + QPointF(dx, 0), global + QPointF(dx, 0), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
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
    const char* const names[] = {
        "SV_L", "SV_R", "Splitter1", "Panel1", "Notebook1", "Notebook2", "Notebook3", "TabSet1", "TabSet2",
        "TabSet3", "Memo1", "Chart1", "W4207315", "StatusBar1", "PopupMenu1", "CloseTheDevice1", "Timer1", "Timer2",
        "ComboBoxEx1", "Button2", "GroupBox1", "GroupBox2", "GroupBox6", "ComboBox1", "ComboBox2", "ComboBox3",
        "ComboBox4", "ComboBox5", "ComboBox6", "ComboBox7", "ComboBox8", "ComboBox9", "ComboBox10", "ComboBox11",
        "ComboBox12", "Edit5", "UpDown1", "Edit22", "UpDown3", "Edit2", "UpDown2", "Edit3", "UpDown5",
        "cbxVclStyles", "Memo2", "Memo3", "Memo5", "Panel2", "Panel4", "Panel15", "GroupBox10", "StringGrid1",
        "Label16", "Label17", "ThemeMenu"};
    for (const char* name : names) QVERIFY2(w->findChild<QObject*>(QString::fromLatin1(name)), name);
    for (int r = 3; r < LangTable().size(); ++r)
        QVERIFY2(w->findChild<QObject*>(LangTable()[r].Name), qPrintable(LangTable()[r].Name));

    QCOMPARE(w->Notebook2->PageCount(), 3);
    // The waveform is the first tab of the chart page, beside the ports' plots.
    QVERIFY(w->Notebook2->widget(1)->isAncestorOf(w->Chart1));
    QCOMPARE(w->W4207315->parentWidget(), w->Notebook2->widget(2));
    QCOMPARE(w->SV_L->OpenedWidth(), 318);
    QCOMPARE(w->SV_R->OpenedWidth(), 321);
    QCOMPARE(w->StatusPanels[0]->width(), 210);
    QCOMPARE(w->StatusPanels[1]->width(), 230);
    QCOMPARE(w->StatusPanels[1]->text(), ProductWebAddress);
    QCOMPARE(w->StringGrid1->Cells(0, 1), u"0001 "_s);
    QCOMPARE(w->StringGrid1->Cells(0, 999), u"0999 "_s);
    QCOMPARE(w->StringGrid1->Col(), 2);
    QCOMPARE(w->StringGrid1->Row(), 2);
    QCOMPARE(w->ComboBox1->itemText(0), u"Custom"_s);
    QCOMPARE(w->ComboBox5->count(), 4);
    QCOMPARE(w->ComboBox6->currentIndex(), 0);
    QCOMPARE(w->ComboBox7->count(), 5);
    QCOMPARE(w->ComboBox7->itemText(4), u"File"_s);
    QCOMPARE(w->ComboBox7->currentIndex(), 0);
    QVERIFY(!w->FCheck.isNull() && w->FCheck.size() == w->FNoCheck.size());
    QVERIFY(!w->Timer1->isActive() && !w->Timer2->isActive());
    QCOMPARE(w->Timer2->interval(), 10000);
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
    QVERIFY(QRegularExpression(u"^\\d{8}_\\d{6}$"_s).match(TSplitViewForm::GetTimeStampFileName()).hasMatch());
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
    w->SV_L->SetOpened(leftOpen);
    w->SV_R->SetOpened(rightOpen);
    QTest::keyClick(w->Memo1, Qt::Key_Escape);
    QCOMPARE(w->SV_L->IsOpened(), after);
    QCOMPARE(w->SV_R->IsOpened(), after);
    QTRY_COMPARE(w->SV_L->width(), after ? 318 : 0);
    QTRY_COMPARE(w->SV_R->width(), after ? 321 : 0);
}

void TstMainWindow::functionKeysToggleOnePanel()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    // The keys work wherever the focus is, also in an edit box.
    QTest::keyClick(w->Memo2, Qt::Key_F1);
    QVERIFY(w->SV_L->IsOpened());
    QVERIFY(!w->SV_R->IsOpened());
    QTest::keyClick(w->ComboBox10, Qt::Key_F2);
    QVERIFY(w->SV_R->IsOpened());
    QTest::keyClick(w->Memo1, Qt::Key_F1);
    QVERIFY(!w->SV_L->IsOpened());
    QVERIFY(w->SV_R->IsOpened());
    QVERIFY(w->Memo2->toPlainText().isEmpty());
}

void TstMainWindow::f2AfterNarrowDragOpensAt300()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F2);
    QTRY_VERIFY(w->Splitter1->isVisible());
    QTRY_COMPARE(w->SV_R->width(), 321);

    Drag(w->Splitter1, 311);
    QCOMPARE(w->SV_R->OpenedWidth(), 10);
    QTRY_COMPARE(w->SV_R->width(), 10);
    QTest::keyClick(w.get(), Qt::Key_F2);
    QVERIFY(!w->SV_R->IsOpened());
    QTest::keyClick(w.get(), Qt::Key_F2);
    QVERIFY(w->SV_R->IsOpened());
    QCOMPARE(w->SV_R->OpenedWidth(), 300);
    QTRY_COMPARE(w->SV_R->width(), 300);

    // A width of 20 or more is kept.
    Drag(w->Splitter1, 280);
    QCOMPARE(w->SV_R->OpenedWidth(), 20);
    QTest::keyClick(w.get(), Qt::Key_F2);
    QTest::keyClick(w.get(), Qt::Key_F2);
    QCOMPARE(w->SV_R->OpenedWidth(), 20);
}

void TstMainWindow::splitterShownOnlyWithRightPanel()
{
    UiTestEnv env;
    env.WriteSetting(u"Corvane.ini"_s, "[MyPreference]\r\nSV_ROPEN=1\r\nSV_LOPEN=1\r\n");
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QVERIFY(w->SV_L->IsOpened());
    QVERIFY(w->SV_R->IsOpened());
    QTRY_VERIFY(w->Splitter1->isVisible());
    QTRY_COMPARE(w->SV_R->width(), 321);
    QCOMPARE(w->Splitter1->geometry().right() + 1, w->SV_R->geometry().left());
    w->ShowHideRLPanel(1);
    QTRY_VERIFY(!w->Splitter1->isVisible());
    w->ShowHideRLPanel(7);
    QVERIFY(!w->SV_R->IsOpened());
    QVERIFY(w->SV_L->IsOpened());
}

void TstMainWindow::gridContentColumnFollowsThePanel()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->ShowHideRLPanel(1);
    QTRY_COMPARE(w->SV_R->width(), 321);
    w->TabSet3->setCurrentIndex(1);
    const int narrow = w->Button1->width();
    QVERIFY(narrow <= 240);
    QCOMPARE(w->StringGrid1->ColWidth(2), narrow - 15);

    Drag(w->Splitter1, -200);
    QTRY_COMPARE(w->SV_R->width(), 521);
    const int wide = w->Button1->width();
    QVERIFY(wide > 240);
    QCOMPARE(w->StringGrid1->ColWidth(2), 240 + (wide - 240) / 2);
}

void TstMainWindow::tabStripsMirrorPageCaptions()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("zh_CN");
    const auto verify = [&w] {
        QCOMPARE(w->TabSet1->Tabs(), w->Notebook1->PageCaptions());
        QCOMPARE(w->TabSet2->Tabs(), w->Notebook2->PageCaptions());
        QCOMPARE(w->TabSet3->Tabs(), w->Notebook3->PageCaptions());
        QCOMPARE(w->TabSet1->currentIndex(), 0);
        QCOMPARE(w->TabSet2->currentIndex(), 0);
        QCOMPARE(w->TabSet3->currentIndex(), 0);
    };
    verify();
    QCOMPARE(w->TabSet2->Tabs(), QStringList({u"Corvane 串口助手 "_s, u" 图形 "_s, u" 帮助 "_s}));
    w->CheckBox6->click();
    verify();
    QCOMPARE(w->TabSet3->Tabs(), QStringList({u"Custom Data F2 "_s, u"Normal Send"_s, u" Protocol "_s, u" Graphic "_s}));

    // A device page goes before the waveform page.
    auto* page = new QWidget;
    w->Notebook2->InsertPage(w->Notebook2->PageCount() - 2, page, u"USB Serial (ttyUSB1)"_s);
    w->RefillTabSets();
    verify();
    QCOMPARE(w->TabSet2->tabText(1), u"USB Serial (ttyUSB1)"_s);
    QCOMPARE(w->TabSet2->tabText(3), u" Help "_s);
}

void TstMainWindow::tabSelectionDrivesRightPanel()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->TabSet3->setCurrentIndex(1);
    QCOMPARE(w->Notebook3->currentIndex(), 1);
    w->TabSet2->setCurrentIndex(1);
    QCOMPARE(w->Notebook2->currentIndex(), 1);
    QCOMPARE(w->Notebook3->currentIndex(), 3);
    QCOMPARE(w->TabSet3->currentIndex(), 3);
    w->TabSet2->setCurrentIndex(0);
    QCOMPARE(w->Notebook2->currentIndex(), 0);
    QCOMPARE(w->Notebook3->currentIndex(), 0);
    QCOMPARE(w->TabSet3->currentIndex(), 0);
    w->TabSet1->setCurrentIndex(1);
    QCOMPARE(w->Notebook1->currentIndex(), 1);
    w->SwitchTab(w->TabSet1, -1);
    QCOMPARE(w->Notebook1->currentIndex(), 1);
}

void TstMainWindow::deviceTabSelectsTheDevice()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->ComboBoxEx1->addItems({u"Serial Port (ttyS0)"_s, u"USB Serial Device (ttyACM0)"_s});
    w->ComboBoxEx1->setCurrentIndex(0);
    w->Notebook2->InsertPage(1, new QWidget, u"usb serial device (ttyacm0)"_s);
    w->RefillTabSets();
    w->TabSet3->setCurrentIndex(2);
    w->TabSet2->setCurrentIndex(1);
    QCOMPARE(w->ComboBoxEx1->currentIndex(), 1);
    QCOMPARE(w->Notebook3->currentIndex(), 0);
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
    w->CheckBox4->setChecked(lineNumbers);
    w->CheckBox3->setChecked(date);
    w->CheckBox25->setChecked(time);
    w->Memo1->Model().Clear();
    w->MainLogPrint(u"hello"_s);
    QCOMPARE(w->Memo1->Model().LineCount(), 1);
    const QString line = w->Memo1->Model().Line(0);
    QVERIFY2(QRegularExpression(pattern).match(line).hasMatch(), qPrintable(line));
    w->MainLogPrint(u"again"_s);
    QCOMPARE(w->Memo1->Model().Line(1).startsWith(u"01| "_s), lineNumbers);
}

void TstMainWindow::mainLogPrintTakesAnEmptyLastLine()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    TLogModel& m = w->Memo1->Model();
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
    QCOMPARE(ActionTexts(w->SystemMenu), QStringList({u"-"_s, u"Theme"_s, u"-"_s, u"Keep At The Top Always "_s,
                                                      u"Version :4.20"_s, u"-"_s, u"Help Support"_s}));
    QStringList styles;
    for (int i = 0; i < w->cbxVclStyles->count(); ++i) styles << w->cbxVclStyles->itemText(i);
    QCOMPARE(ActionTexts(w->ThemeMenu), styles);
    QCOMPARE(styles.first(), u"Fusion"_s);

    const QList<QAction*> entries = w->SystemMenu->actions();
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
    QVERIFY(!w->CheckBox2->isChecked());

    entries[6]->trigger();
    QCOMPARE(w->Notebook2->currentIndex(), w->Notebook2->PageCount() - 1);
    QCOMPARE(w->TabSet2->currentIndex(), w->Notebook2->PageCount() - 1);
}

void TstMainWindow::helpPageShowsLocalFileWithoutWaiting()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QElapsedTimer clock;
    clock.start();
    w->TabSet2->setCurrentIndex(w->TabSet2->count() - 1);
    QVERIFY2(clock.elapsed() < 1000, "selecting the help page waited");
    QCOMPARE(w->Notebook2->currentIndex(), 2);
    QCOMPARE(w->W4207315->source(), QUrl(w->LocalHelpAddress()));
    QVERIFY(w->LocalHelpAddress().endsWith(u"/Corvane Software – 科万串口助手.html"_s));
    QVERIFY(w->W4207315->toPlainText().contains(u"Corvane Protocol — wire format"_s));

    // The window keeps handling events while the probe is out, and the local page stays.
    bool ticked = false;
    QTimer::singleShot(20, w.get(), [&ticked] { ticked = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ticked, 500);
    QTest::keyClick(w.get(), Qt::Key_F1);
    QVERIFY(w->SV_L->IsOpened());
    QTest::qWait(TSplitViewForm::ProbeTimeoutMs + 500);
    QCOMPARE(w->W4207315->source(), QUrl(w->LocalHelpAddress()));
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
    w->CheckBox1->setChecked(ticked);
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
    w->CheckBox1->setChecked(false);
    w->UpDown3->SetPosition(42);
    QVERIFY(!QFile::exists(env.SettingDir() + u"Corvane.ini"_s));
    w->close();
    QVERIFY(ReadFile(env.SettingDir() + u"Corvane.ini"_s).contains("\r\nLOOPCOUNT=42\r\n"));
    QVERIFY(env.boxes.isEmpty());
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
