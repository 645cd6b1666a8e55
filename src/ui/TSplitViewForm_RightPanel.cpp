#include "TSplitViewForm.h"

#include "CvWidgets.h"
#include "TCvBlockSendPanel.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvProtocolPanel.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TStringGrid.h"
#include "TTabSet.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {
QVBoxLayout* PageColumn(QWidget* page)
{
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(5, 5, 5, 5);
    column->setSpacing(4);
    return column;
}

} // namespace

void TSplitViewForm::CreateRightPanel()
{
    SV_R = Named(new TSplitView(TSplitView::Placement::Right), u"SV_R"_s);
    auto* column = new QVBoxLayout(SV_R->Content());
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    Notebook3 = Named(new TNotebook, u"Notebook3"_s);
    TabSet3 = Named(new TTabSet, u"TabSet3"_s);
    column->addWidget(Notebook3, 1);
    column->addWidget(TabSet3);
    FBlockSendPanel = new TCvBlockSendPanel;
    PageColumn(Notebook3->AddPage(u"块发送"_s))->addWidget(FBlockSendPanel);
    CreateSingleSendPage(Notebook3->AddPage(u"Corvane 单条发送"_s));
    FProtocolPanel = new TCvProtocolPanel;
    PageColumn(Notebook3->AddPage(u"协议转换"_s))->addWidget(FProtocolPanel);
    // The graphic page drives Chart1 in the centre; the chart tests test this same class.
    QVBoxLayout* graphic = PageColumn(Notebook3->AddPage(u"Graphic "_s));
    FChartPanel = new TCvChartPanel(Chart1);
    graphic->addWidget(FChartPanel);
}

void TSplitViewForm::CreateSingleSendPage(QWidget* page)
{
    QVBoxLayout* column = PageColumn(page);
    StringGrid1 = Named(new TStringGrid(4, 1000), u"StringGrid1"_s);
    StringGrid1->SetColWidth(0, 50);
    StringGrid1->SetColWidth(1, 25);
    StringGrid1->SetColWidth(2, 217);
    StringGrid1->SetColWidth(3, 205);
    StringGrid1->verticalHeader()->setDefaultSectionSize(22);
    column->addWidget(StringGrid1, 1);
    Panel4 = Named(new QWidget, u"Panel4"_s);
    auto* loopRow = new QHBoxLayout(Panel4);
    loopRow->setContentsMargins(0, 0, 0, 0);
    Button3 = NewButton(u"Button3"_s, u"停止循环"_s);
    Button1 = NewButton(u"Button1"_s, u"循环发送选中的内容"_s);
    loopRow->addWidget(Button3);
    loopRow->addWidget(Button1, 1);
    column->addWidget(Panel4);
}
