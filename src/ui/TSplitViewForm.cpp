#include "TSplitViewForm.h"

#include "CvLanguage.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"
#include "TCvProtocolPanel.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TSplitterBar.h"
#include "TStringGrid.h"
#include "TTabSet.h"
#include "TUpDown.h"

#include "TCvChart.h"
#include "TCvPlotPage.h"
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

TSplitViewForm::TSplitViewForm(const QLocale& systemLocale, QWidget* parent)
    : QMainWindow(parent), FSystemLocale(systemLocale), FApplicationTitle(u"CORVANE 科万串口终端"_s)
{
    setObjectName(u"SplitViewForm"_s);
    setWindowTitle(FApplicationTitle);
    resize(1095, 634);

    auto* body = new QWidget;
    auto* row = new QHBoxLayout(body);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    setCentralWidget(body);

    // The loop's settings box goes on the left, its grid on the right.
    FLoopPanel = new TCvLoopPanel(this);
    CreateLeftPanel();
    CreateCentre();
    CreateRightPanel();
    Splitter1 = Named(new TSplitterBar, u"Splitter1"_s);
    Splitter1->hide();
    row->addWidget(SV_L);
    row->addWidget(Panel1, 1);
    row->addWidget(Splitter1);
    row->addWidget(SV_R);
    CreateStatusBar();
    CreateTimersAndMenus();
    CreateFindBar();

    connect(SV_L, &TSplitView::Closed, this, &TSplitViewForm::SV_LClosed);
    connect(SV_R, &TSplitView::Closed, this, &TSplitViewForm::SV_RClosed);
    connect(SV_R, &TSplitView::Opened, this, &TSplitViewForm::SV_ROpened);
    connect(Splitter1, &TSplitterBar::Dragged, this,
            [this](int dx) { SV_R->SetOpenedWidth(qMax(0, SV_R->OpenedWidth() - dx)); });
    connect(Splitter1, &TSplitterBar::Moved, this, &TSplitViewForm::Splitter1Moved);
    connect(TabSet1, &QTabBar::currentChanged, this, &TSplitViewForm::TabSet1Change);
    connect(TabSet2, &QTabBar::currentChanged, this, &TSplitViewForm::TabSet2Change);
    connect(TabSet3, &QTabBar::currentChanged, this, &TSplitViewForm::TabSet3Change);
    ConnectPreferences();
    FProtocolPanel->SetCurrentPort([this] { return GetDeciceByFullName(GetCurrentDeviceName()); });
    FProtocolPanel->SetSendGate([this](TCvComPortObj* port, std::function<void()> send) {
        return HoldWhileSendingFile(port, std::move(send));
    });
    ConnectPortSettings();
    ConnectLogHandlers();
    ConnectSendHandlers();
    ConnectAutomation();
    ConnectFileTransferHandlers();
    ConnectDevices();

    // As designed, the window starts transparent at 238.
    FPreferences->CheckBox7Click();
    FNetwork = new QNetworkAccessManager(this);
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    FormCreate();
}

TSplitViewForm::~TSplitViewForm() = default;

void TSplitViewForm::CreateCentre()
{
    Panel1 = Named(new QWidget, u"Panel1"_s);
    auto* column = new QVBoxLayout(Panel1);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Notebook2 = Named(new TNotebook, u"Notebook2"_s);
    TabSet2 = Named(new TTabSet, u"TabSet2"_s);
    column->addWidget(Notebook2, 1);
    column->addWidget(TabSet2);

    QWidget* logPage = Notebook2->AddPage(u"Corvane 串口记录"_s);
    auto* logLayout = new QVBoxLayout(logPage);
    logLayout->setContentsMargins(0, 0, 0, 0);
    Memo1 = Named(new TLogMemo, u"Memo1"_s);
    Memo1->SetReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(QFont(u"新宋体"_s, 14));
    SetMemo1Colors(ColorSilver, SystemColorWindowText);
    logLayout->addWidget(Memo1);

    CreateChartPage();
    CreateHelpPage();
}

void TSplitViewForm::CreateStatusBar()
{
    StatusBar1 = Named(new QStatusBar, u"StatusBar1"_s);
    StatusBar1->setSizeGripEnabled(true);
    const int widths[3] = {210, 230, 0};
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = Named(new QLabel, u"StatusBar1Panel"_s + QString::number(i));
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
        if (widths[i] > 0) StatusPanels[i]->setFixedWidth(widths[i]);
        else StatusPanels[i]->setMinimumWidth(50);
        StatusBar1->addWidget(StatusPanels[i], widths[i] > 0 ? 0 : 1);
    }
    StatusPanels[1]->setText(ProductWebAddress);
    setStatusBar(StatusBar1);
}

void TSplitViewForm::CreateTimersAndMenus()
{

    PopupMenu1 = Named(new QMenu(this), u"PopupMenu1"_s);
    CloseTheDevice1 = Named(PopupMenu1->addAction(u"Close Current Device"_s), u"CloseTheDevice1"_s);

    SystemMenu = Named(menuBar()->addMenu(u"&Corvane"_s), u"SystemMenu"_s);
}

void TSplitViewForm::SetMemo1Colors(TColorValue font, TColorValue background)
{
    FMemo1FontColor = font;
    FMemo1BackgroundColor = background;
    Memo1->SetTextColor(ColorFromValue(font, LogSystemPalette()));
    Memo1->SetBackgroundColor(ColorFromValue(background, LogSystemPalette()));
}

TCvComPortObj* TSplitViewForm::Memo1Tag() const
{
    return FMemo1Tag;
}
void TSplitViewForm::SetMemo1Tag(TCvComPortObj* Obj)
{
    FMemo1Tag = Obj;
}

void TSplitViewForm::closeEvent(QCloseEvent* event)
{
    if (!FClosed) {
        FClosed = true;
        FormClose();
    }
    event->accept();
}

void TSplitViewForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (FCentred) return;
    FCentred = true;
    if (const QScreen* s = screen()) {
        QRect r = frameGeometry();
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
}

void TSplitViewForm::CreateChartPage()
{
    QWidget* page = Notebook2->AddPage(u"波形"_s);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    Chart1 = new TCvChart(page);
    FPlotPages = new TCvPlotPages(Chart1, page);
    layout->addWidget(FPlotPages);
    // The pause button shows the pause of the tab on show.
    connect(FPlotPages, &QTabWidget::currentChanged, this, [this] { SyncPauseButton(); });
}

void TSplitViewForm::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // System colours of the log follow a new theme.
    if (event->type() == QEvent::PaletteChange && Memo1)
        SetMemo1Colors(FMemo1FontColor, FMemo1BackgroundColor);
}
