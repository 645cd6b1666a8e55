#include "TSplitViewForm.h"

#include "CvWidgets.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TTabSet.h"
#include "TUpDown.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
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

void AddRow(QGridLayout* grid, QLabel* label, QWidget* field)
{
    const int r = grid->rowCount();
    grid->addWidget(label, r, 0);
    grid->addWidget(field, r, 1);
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
    CreateAdvancedPage(Notebook1->AddPage(u"高级"_s));
}

void TSplitViewForm::CreateSettingsPage(QWidget* page)
{
    QVBoxLayout* column = ScrollingPage(page);

    ComboBoxEx1 = NewComboBox(u"ComboBoxEx1"_s);
    // Device names can be long (a virtual port deep in a runtime folder): the list and the
    // open button shorten them rather than widen the panel, and show them whole as tool tips.
    ComboBoxEx1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBoxEx1->setMinimumContentsLength(16);
    connect(ComboBoxEx1, &QComboBox::currentTextChanged, ComboBoxEx1, &QWidget::setToolTip);
    column->addWidget(ComboBoxEx1);
    auto* deviceRow = new QHBoxLayout;
    Button4 = NewButton(u"Button4"_s, u"刷新设备"_s);
    Button2 = Named(new TElideButton(u"打开串口"_s), u"Button2"_s);
    deviceRow->addWidget(Button4, 1);
    deviceRow->addWidget(Button2, 2);
    column->addLayout(deviceRow);

    GroupBox2 = Named(new QGroupBox, u"GroupBox2"_s);
    auto* lines = new QGridLayout(GroupBox2);
    ComboBox1 = NewComboBox(u"ComboBox1"_s);
    ComboBox2 = NewComboBox(u"ComboBox2"_s);
    ComboBox3 = NewComboBox(u"ComboBox3"_s);
    ComboBox4 = NewComboBox(u"ComboBox4"_s);
    ComboBox5 = NewComboBox(u"ComboBox5"_s);
    ComboBox6 = NewComboBox(u"ComboBox6"_s, {u"ASCII Format"_s, u"Hexadecimal Format"_s, u"Corvane Protocol"_s});
    AddRow(lines, NewLabel(u"Label2"_s, u"波特率数"_s), ComboBox1);
    AddRow(lines, NewLabel(u"Label12"_s, u"数据位数"_s), ComboBox2);
    AddRow(lines, NewLabel(u"Label9"_s, u"停止位数"_s), ComboBox3);
    AddRow(lines, NewLabel(u"Label5"_s, u"校验位数"_s), ComboBox4);
    AddRow(lines, NewLabel(u"Label15"_s, u"流控制符"_s), ComboBox5);
    AddRow(lines, NewLabel(u"Label13"_s, u"发送格式"_s), ComboBox6);
    lines->setColumnStretch(1, 1);
    column->addWidget(GroupBox2);

    GroupBox1 = Named(new QGroupBox, u"GroupBox1"_s);
    auto* receive = new QGridLayout(GroupBox1);
    ComboBox7 = NewComboBox(u"ComboBox7"_s);
    AddRow(receive, NewLabel(u"Label10"_s, u"解析格式"_s), ComboBox7);
    Button10 = NewButton(u"Button10"_s, u"清除当前串口接收记录的历史数据"_s);
    receive->addWidget(Button10, receive->rowCount(), 0, 1, 2);
    receive->setColumnStretch(1, 1);
    column->addWidget(GroupBox1);

    GroupBox6 = Named(new QGroupBox, u"GroupBox6"_s);
    auto* loop = new QGridLayout(GroupBox6);
    UpDown1 = new TUpDown(u"UpDown1"_s, u"Edit5"_s, 1, 360000, 1000);
    UpDown1->setGroupSeparatorShown(true);
    UpDown1->setToolTip(u"ms"_s);
    UpDown3 = new TUpDown(u"UpDown3"_s, u"Edit22"_s, 0, 360000, 1);
    UpDown3->Edit()->setReadOnly(true);
    UpDown3->setToolTip(u"0 For Loop Always"_s);
    AddRow(loop, NewLabel(u"Label4"_s, u"循环发送的毫秒间隔"_s), UpDown1);
    AddRow(loop, NewLabel(u"Label14"_s, u"循环发送的次数设置      "_s), UpDown3);
    CheckBox19 = NewCheckBox(u"CheckBox19"_s, u"循环发送使能开关，启用循环发送功能"_s, true);
    loop->addWidget(CheckBox19, loop->rowCount(), 0, 1, 2);
    loop->setColumnStretch(1, 1);
    column->addWidget(GroupBox6);

    Button12 = NewButton(u"Button12"_s, u"字体设置"_s);
    Button17 = NewButton(u"Button17"_s, u"串口数据区域的字体背景颜色"_s);
    Button23 = NewButton(u"Button23"_s, u"载入文件"_s);
    Button24 = NewButton(u"Button24"_s, u"发送载入的文件流"_s);
    Button13 = NewButton(u"Button13"_s, u"当前串口接收数据直接存入文件"_s);
    Button14 = NewButton(u"Button14"_s, u"关闭文件"_s);
    // Long captions (English ones above all) get a row of their own.
    auto* buttons = new QGridLayout;
    buttons->addWidget(Button12, 0, 0);
    buttons->addWidget(Button23, 0, 1);
    buttons->addWidget(Button17, 1, 0, 1, 2);
    buttons->addWidget(Button24, 2, 0, 1, 2);
    buttons->addWidget(Button13, 3, 0, 1, 2);
    buttons->addWidget(Button14, 4, 0, 1, 2);
    column->addLayout(buttons);
    // The panel has a fixed width: lists may be narrower than their longest item.
    const QList<QComboBox*> lists = page->findChildren<QComboBox*>();
    for (QComboBox* box : lists) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(8);
    }
    CreateModemControls();
    column->addStretch(1);
}

void TSplitViewForm::CreateAdvancedPage(QWidget* page)
{
    QVBoxLayout* column = ScrollingPage(page);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);
    const auto wide = [grid](QWidget* w) { grid->addWidget(w, grid->rowCount(), 0, 1, 2); };

    cbxVclStyles = NewComboBox(u"cbxVclStyles"_s);
    cbxVclStyles->setMaxVisibleItems(18);
    AddRow(grid, NewLabel(u"Label6"_s, u"主题风格"_s), cbxVclStyles);
    CheckBox7 = NewCheckBox(u"CheckBox7"_s, u"启用程序窗口背景透明效果"_s, true);
    wide(CheckBox7);
    UpDown2 = new TUpDown(u"UpDown2"_s, u"Edit2"_s, 1, 255, 238);
    UpDown2->Edit()->setReadOnly(true);
    AddRow(grid, NewLabel(u"Label1"_s, u"窗口透明度,值越小越清爽"_s), UpDown2);
    CheckBox8 = NewCheckBox(u"CheckBox8"_s, u"自动保存串口数据记录到本地文件"_s, false);
    wide(CheckBox8);
    UpDown5 = new TUpDown(u"UpDown5"_s, u"Edit3"_s, 5, 32766, 10);
    UpDown5->Edit()->setReadOnly(true);
    UpDown5->setToolTip(u"单位秒"_s);
    AddRow(grid, NewLabel(u"Label3"_s, u"自动保存串口记录秒间隔"_s), UpDown5);
    Button6 = NewButton(u"Button6"_s, u"打开配置文件所在的目录"_s);
    wide(Button6);
    Button5 = NewButton(u"Button5"_s, u"清除串口缓存"_s);
    wide(Button5);
    CheckBox2 = NewCheckBox(u"CheckBox2"_s, u"始终保持在所有窗口的最顶层"_s, false);
    wide(CheckBox2);
    CheckBox25 = NewCheckBox(u"CheckBox25"_s, u"发送和接收记录前面显示时间信息"_s, false);
    wide(CheckBox25);
    CheckBox3 = NewCheckBox(u"CheckBox3"_s, u"发送和接收记录前面显示年月日期"_s, false);
    wide(CheckBox3);
    CheckBoxMsTime = NewCheckBox(u"CheckBoxMsTime"_s, u"时间信息精确到毫秒"_s, false);
    wide(CheckBoxMsTime);
    CheckBox4 = NewCheckBox(u"CheckBox4"_s, u"数据记录前面显示行号"_s, true);
    wide(CheckBox4);
    CheckBox5 = NewCheckBox(u"CheckBox5"_s, u"显示串口正在发送的数据"_s, true);
    wide(CheckBox5);
    CheckBox9 = NewCheckBox(u"CheckBox9"_s, u"十六进制格式接收附加字符解析"_s, true);
    wide(CheckBox9);
    ComboBox8 = NewComboBox(u"ComboBox8"_s, {u"Hexadecimal 16Bytes Align"_s, u"Hexadecimal 32Bytes Align"_s, u"None"_s});
    wide(ComboBox8);
    CheckBoxHexGap = NewCheckBox(u"CheckBoxHexGap"_s, u"十六进制接收停顿后换行(毫秒)"_s, false);
    SpinHexGapMs = Named(new QSpinBox, u"SpinHexGapMs"_s);
    SpinHexGapMs->setRange(1, 60000);
    SpinHexGapMs->setValue(20);
    SpinHexGapMs->setToolTip(u"ms"_s);
    wide(CheckBoxHexGap);
    wide(SpinHexGapMs);
    CheckBox6 = NewCheckBox(u"CheckBox6"_s, u"Switch To English Language"_s, false);
    wide(CheckBox6);
    CheckBox1 = NewCheckBox(u"CheckBox1"_s, u"创建桌面快捷方式"_s, true);
    wide(CheckBox1);
    CheckBox12 = NewCheckBox(u"CheckBox12"_s, u"字符串解析兼容UNICODE编码 "_s, true);
    wide(CheckBox12);
    const QList<QComboBox*> lists = page->findChildren<QComboBox*>();
    for (QComboBox* box : lists) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(8);
    }
    column->addStretch(1);
}
