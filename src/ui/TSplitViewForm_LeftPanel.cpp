#include "TSplitViewForm.h"

#include "CvWidgets.h"
#include "TCvModemPanel.h"
#include "TCvPortSettingsPanel.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TTabSet.h"

#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// Pages of the side panels scroll when the window is too low for them.
QVBoxLayout* ScrollingPage(QWidget* page)
{
    auto* outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* inner = new QWidget;
    scroll->setWidget(inner);
    outer->addWidget(scroll);
    auto* column = new QVBoxLayout(inner);
    column->setContentsMargins(5, 5, 5, 5);
    column->setSpacing(4);
    return column;
}

} // namespace

void TSplitViewForm::CreateLeftPanel()
{
    SV_L = Named(new TSplitView(TSplitView::Placement::Left), u"SV_L"_s);
    auto* column = new QVBoxLayout(SV_L->Content());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Notebook1 = Named(new TNotebook, u"Notebook1"_s);
    TabSet1 = Named(new TTabSet, u"TabSet1"_s);
    column->addWidget(Notebook1, 1);
    column->addWidget(TabSet1);
    CreateSettingsPage(Notebook1->AddPage(u"Corvane 串口设置"_s));
    FPreferences = new TCvPreferencesPanel;
    QVBoxLayout* preferences = ScrollingPage(Notebook1->AddPage(u"高级"_s));
    preferences->addWidget(FPreferences);
    preferences->addStretch(1);
}

void TSplitViewForm::CreateSettingsPage(QWidget* page)
{
    QVBoxLayout* column = ScrollingPage(page);
    FPortSettings = new TCvPortSettingsPanel;
    column->addWidget(FPortSettings);
    // Below the file buttons, which end the settings panel.
    FTransferBox = new TCvTransferBox;
    column->addWidget(FTransferBox);
    column->addStretch(1);
    FModemPanel = new TCvModemPanel;
    FModemPanel->SetCurrentPort([this] { return GetDeciceByFullName(GetCurrentDeviceName()); });
    FModemPanel->ApplyCaptions(u"CN"_s);
    FPortSettings->AddBelowLineSettings(FModemPanel);
    // The loop's settings, beside the port's.
    FPortSettings->AddBelowReceive(FLoopPanel->SettingsBox());
}
