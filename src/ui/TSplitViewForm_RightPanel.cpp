#include "TSplitViewForm.h"

#include "CvWidgets.h"
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
    CreateBlockSendPage(Notebook3->AddPage(u"块发送"_s));
    CreateSingleSendPage(Notebook3->AddPage(u"Corvane 单条发送"_s));
    FProtocolPanel = new TCvProtocolPanel;
    PageColumn(Notebook3->AddPage(u"协议转换"_s))->addWidget(FProtocolPanel);
    // The graphic page drives Chart1 in the centre; the chart tests test this same class.
    QVBoxLayout* graphic = PageColumn(Notebook3->AddPage(u"Graphic "_s));
    FChartPanel = new TCvChartPanel(Chart1);
    graphic->addWidget(FChartPanel);
}

void TSplitViewForm::CreateBlockSendPage(QWidget* page)
{
    QVBoxLayout* column = PageColumn(page);
    Memo3 = Named(new QPlainTextEdit(u"Corvane Serial Port Terminal\nCORVANE 科万串口终端"_s), u"Memo3"_s);
    Memo3->setBackgroundRole(QPalette::ToolTipBase);
    QPalette info = Memo3->palette();
    info.setColor(QPalette::Base, info.color(QPalette::ToolTipBase));
    info.setColor(QPalette::Text, info.color(QPalette::ToolTipText));
    Memo3->setPalette(info);
    column->addWidget(Memo3, 1);
    Button9 = NewButton(u"Button9"_s, u"将上面的字符串转换成十六进制字节码"_s);
    Button11 = NewButton(u"Button11"_s, u"将下面的十六进制字节码转换成字符串"_s);
    column->addWidget(Button9);
    column->addWidget(Button11);
    Memo2 = Named(new QPlainTextEdit, u"Memo2"_s);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(Memo2, 2);
    Panel2 = Named(new QWidget, u"Panel2"_s);
    auto* sendRow = new QHBoxLayout(Panel2);
    sendRow->setContentsMargins(0, 0, 0, 0);
    Button7 = NewButton(u"Button7"_s, u"清除"_s);
    // The send-ending list shares the row: a long caption is shortened, never cut off.
    Button8 = Named(new TElideButton(u"发送数据"_s), u"Button8"_s);
    sendRow->addWidget(Button7);
    sendRow->addWidget(Button8, 1);
    column->addWidget(Panel2);
    Button25 = NewButton(u"Button25"_s, u"格式化成十六进制格式"_s);
    column->addWidget(Button25);
    CreateCrcRow(column);
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
