#include "TSplitViewForm.h"

#include "CvWidgets.h"
#include "TCvAnswerRulesPanel.h"
#include "TCvBlockSendPanel.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvProtocolPanel.h"
#include "TCvScriptPanel.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TTabSet.h"

#include <QGridLayout>
#include <QGroupBox>
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
    PageColumn(Notebook3->AddPage(u"Corvane 单条发送"_s))->addWidget(FLoopPanel);
    FProtocolPanel = new TCvProtocolPanel;
    PageColumn(Notebook3->AddPage(u"协议转换"_s))->addWidget(FProtocolPanel);
    // The graphic page drives Chart1 in the centre; the chart tests test this same class.
    QVBoxLayout* graphic = PageColumn(Notebook3->AddPage(u"Graphic "_s));
    FChartPanel = new TCvChartPanel(Chart1);
    graphic->addWidget(FChartPanel);
    FGraphicPage = Notebook3->PageCount() - 1;
    FAnswerRulesPanel = new TCvAnswerRulesPanel;
    PageColumn(Notebook3->AddPage(u"应答规则"_s))->addWidget(FAnswerRulesPanel);
    FScriptPanel = new TCvScriptPanel;
    PageColumn(Notebook3->AddPage(u"脚本"_s))->addWidget(FScriptPanel);
}
