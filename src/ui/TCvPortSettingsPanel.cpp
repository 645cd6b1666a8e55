#include "TCvPortSettingsPanel.h"

#include "CvSettings.h"

#include "CvCodecs.h"
#include "CvInputBox.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCustomComPort.h"
#include "TCvComPortObj.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

void AddRow(QGridLayout* grid, QLabel* label, QWidget* field)
{
    const int r = grid->rowCount();
    grid->addWidget(label, r, 0);
    grid->addWidget(field, r, 1);
}

int IndexOfEncoding(TTextEncoding e)
{
    for (int i = 0; i < int(std::size(kTextEncodings)); ++i)
        if (kTextEncodings[i] == e) return i;
    return 0;
}

} // namespace

TCvPortSettingsPanel::TCvPortSettingsPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"PortSettingsPanel"_s);
    QVBoxLayout* column = FColumn = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    FComboBoxEx1 = NewComboBox(u"ComboBoxEx1"_s);
    // Device names can be long (a virtual port deep in a runtime folder): the list and the
    // open button shorten them rather than widen the panel, and show them whole as tool tips.
    FComboBoxEx1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FComboBoxEx1->setMinimumContentsLength(16);
    connect(FComboBoxEx1, &QComboBox::currentTextChanged, FComboBoxEx1, &QWidget::setToolTip);
    column->addWidget(FComboBoxEx1);
    auto* deviceRow = new QHBoxLayout;
    FButton4 = NewButton(u"Button4"_s, u"刷新设备"_s);
    FButton2 = Named(new TElideButton(u"打开串口"_s), u"Button2"_s);
    deviceRow->addWidget(FButton4, 1);
    deviceRow->addWidget(FButton2, 2);
    column->addLayout(deviceRow);

    FGroupBox2 = Named(new QGroupBox, u"GroupBox2"_s);
    auto* lines = new QGridLayout(FGroupBox2);
    FComboBox1 = NewComboBox(u"ComboBox1"_s);
    FComboBox2 = NewComboBox(u"ComboBox2"_s);
    FComboBox3 = NewComboBox(u"ComboBox3"_s);
    FComboBox4 = NewComboBox(u"ComboBox4"_s);
    FComboBox5 = NewComboBox(u"ComboBox5"_s);
    FComboBox6 =
        NewComboBox(u"ComboBox6"_s, {u"ASCII Format"_s, u"Hexadecimal Format"_s, u"Corvane Protocol"_s});
    AddRow(lines, NewLabel(u"Label2"_s, u"波特率数"_s), FComboBox1);
    AddRow(lines, NewLabel(u"Label12"_s, u"数据位数"_s), FComboBox2);
    AddRow(lines, NewLabel(u"Label9"_s, u"停止位数"_s), FComboBox3);
    AddRow(lines, NewLabel(u"Label5"_s, u"校验位数"_s), FComboBox4);
    AddRow(lines, NewLabel(u"Label15"_s, u"流控制符"_s), FComboBox5);
    AddRow(lines, NewLabel(u"Label13"_s, u"发送格式"_s), FComboBox6);
    lines->setColumnStretch(1, 1);
    column->addWidget(FGroupBox2);

    FGroupBox1 = Named(new QGroupBox, u"GroupBox1"_s);
    auto* receive = new QGridLayout(FGroupBox1);
    FComboBox7 = NewComboBox(u"ComboBox7"_s);
    AddRow(receive, NewLabel(u"Label10"_s, u"解析格式"_s), FComboBox7);
    FButton10 = NewButton(u"Button10"_s, u"清除当前串口接收记录的历史数据"_s);
    receive->addWidget(FButton10, receive->rowCount(), 0, 1, 2);
    receive->setColumnStretch(1, 1);
    column->addWidget(FGroupBox1);

    FButton12 = NewButton(u"Button12"_s, u"字体设置"_s);
    FButton17 = NewButton(u"Button17"_s, u"串口数据区域的字体背景颜色"_s);
    FButton23 = NewButton(u"Button23"_s, u"载入文件"_s);
    FButton24 = NewButton(u"Button24"_s, u"发送载入的文件流"_s);
    FButton13 = NewButton(u"Button13"_s, u"当前串口接收数据直接存入文件"_s);
    FButton14 = NewButton(u"Button14"_s, u"关闭文件"_s);
    // Long captions (English ones above all) get a row of their own.
    auto* buttons = new QGridLayout;
    buttons->addWidget(FButton12, 0, 0);
    buttons->addWidget(FButton23, 0, 1);
    buttons->addWidget(FButton17, 1, 0, 1, 2);
    buttons->addWidget(FButton24, 2, 0, 1, 2);
    buttons->addWidget(FButton13, 3, 0, 1, 2);
    buttons->addWidget(FButton14, 4, 0, 1, 2);
    column->addLayout(buttons);
    // The panel has a fixed width: lists may be narrower than their longest item.
    const QList<QComboBox*> lists = findChildren<QComboBox*>();
    for (QComboBox* box : lists) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(8);
    }

    // Beside the line settings, with the same per-port meaning.
    FCheckBoxReconnect = NewCheckBox(u"CheckBoxReconnect"_s, QString(), false);
    lines->addWidget(FCheckBoxReconnect, lines->rowCount(), 0, 1, 2);

    // How the selected port's text becomes bytes and bytes text: its encoding and which
    // received characters end a line. Both belong to the port and are kept in its own
    // settings file; a change takes effect on the open port at once.
    FLabelEncoding = NewLabel(u"LabelEncoding"_s, QString());
    FComboBoxEncoding = NewComboBox(u"ComboBoxEncoding"_s);
    for (const TTextEncoding e : kTextEncodings) FComboBoxEncoding->addItem(TextEncodingCaption(e));
    FLabelLineBreaks = NewLabel(u"LabelLineBreaks"_s, QString());
    FComboBoxLineBreaks = NewComboBox(u"ComboBoxLineBreaks"_s, {QString(), QString()});
    AddRow(lines, FLabelEncoding, FComboBoxEncoding);
    AddRow(lines, FLabelLineBreaks, FComboBoxLineBreaks);
    // What the log does with the device's escape sequences: colours, taken out, or shown.
    FLabelEscapes = NewLabel(u"LabelEscapes"_s, QString());
    FComboBoxEscapes = NewComboBox(u"ComboBoxEscapes"_s, {QString(), QString(), QString()});
    AddRow(lines, FLabelEscapes, FComboBoxEscapes);
    // What ends an ASCII send of the prompt, beside the send format it uses.
    FLabelEndPrompt = NewLabel(u"LabelEndPrompt"_s, QString());
    FComboBoxEndPrompt = NewComboBox(u"ComboBoxEndPrompt"_s, SendEndingItems());
    FComboBoxEndPrompt->setCurrentIndex(int(TSendEnding::None));
    AddRow(lines, FLabelEndPrompt, FComboBoxEndPrompt);
    // Their captions are long in English: they shorten rather than widen the settings panel.
    for (QComboBox* box : {FComboBoxEncoding, FComboBoxLineBreaks, FComboBoxEscapes, FComboBoxEndPrompt}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(6);
    }

    // The port's console: a terminal view in place of its log, and how its keys are sent.
    FGroupBoxConsole = Named(new QGroupBox, u"GroupBoxConsole"_s);
    auto* console = new QGridLayout(FGroupBoxConsole);
    FCheckBoxConsole = NewCheckBox(u"CheckBoxConsole"_s, QString(), false);
    console->addWidget(FCheckBoxConsole, 0, 0, 1, 2);
    FLabelConsoleEnter = NewLabel(u"LabelConsoleEnter"_s, QString());
    FComboBoxConsoleEnter = NewComboBox(u"ComboBoxConsoleEnter"_s, {u"CR"_s, u"LF"_s, u"CR LF"_s});
    AddRow(console, FLabelConsoleEnter, FComboBoxConsoleEnter);
    FLabelConsoleBackspace = NewLabel(u"LabelConsoleBackspace"_s, QString());
    FComboBoxConsoleBackspace = NewComboBox(u"ComboBoxConsoleBackspace"_s, {u"DEL (0x7F)"_s, u"BS (0x08)"_s});
    AddRow(console, FLabelConsoleBackspace, FComboBoxConsoleBackspace);
    FCheckBoxConsoleEcho = NewCheckBox(u"CheckBoxConsoleEcho"_s, QString(), false);
    console->addWidget(FCheckBoxConsoleEcho, console->rowCount(), 0, 1, 2);
    console->setColumnStretch(1, 1);
    column->insertWidget(column->indexOf(FGroupBox1) + 1, FGroupBoxConsole);

    connect(FComboBoxEx1, &QComboBox::activated, this, &TCvPortSettingsPanel::DeviceChosen);
    connect(FButton4, &QPushButton::clicked, this, &TCvPortSettingsPanel::RefreshClicked);
    connect(FButton2, &QPushButton::clicked, this, &TCvPortSettingsPanel::OpenClicked);
    // User choices only: the window sets these controls from a port object.
    connect(FComboBox1, &QComboBox::activated, this, &TCvPortSettingsPanel::ComboBox1Change);
    connect(FComboBox6, &QComboBox::activated, this, &TCvPortSettingsPanel::AttributesChosen);
    connect(FComboBoxEndPrompt, &QComboBox::activated, this, &TCvPortSettingsPanel::AttributesChosen);
    connect(FComboBoxEncoding, &QComboBox::activated, this, &TCvPortSettingsPanel::ComboBoxEncodingChange);
    connect(FComboBoxLineBreaks, &QComboBox::activated, this,
            &TCvPortSettingsPanel::ComboBoxLineBreaksChange);
    connect(FCheckBoxReconnect, &QCheckBox::clicked, this, &TCvPortSettingsPanel::CheckBoxReconnectClick);
    connect(FComboBoxEscapes, &QComboBox::activated, this, &TCvPortSettingsPanel::ComboBoxEscapesChange);
    connect(FCheckBoxConsole, &QCheckBox::clicked, this, &TCvPortSettingsPanel::ConsoleOptionsChange);
    connect(FComboBoxConsoleEnter, &QComboBox::activated, this, &TCvPortSettingsPanel::ConsoleOptionsChange);
    connect(FComboBoxConsoleBackspace, &QComboBox::activated, this,
            &TCvPortSettingsPanel::ConsoleOptionsChange);
    connect(FCheckBoxConsoleEcho, &QCheckBox::clicked, this, &TCvPortSettingsPanel::ConsoleOptionsChange);
    connect(FComboBox7, &QComboBox::activated, this, &TCvPortSettingsPanel::ReceiveFormatChosen);
    connect(FButton10, &QPushButton::clicked, this, &TCvPortSettingsPanel::ClearLogClicked);
    connect(FButton12, &QPushButton::clicked, this, &TCvPortSettingsPanel::FontClicked);
    connect(FButton17, &QPushButton::clicked, this, &TCvPortSettingsPanel::ColourClicked);
    connect(FButton23, &QPushButton::clicked, this, &TCvPortSettingsPanel::LoadFileClicked);
    connect(FButton24, &QPushButton::clicked, this, &TCvPortSettingsPanel::SendFileClicked);
    connect(FButton13, &QPushButton::clicked, this, &TCvPortSettingsPanel::CaptureClicked);
    connect(FButton14, &QPushButton::clicked, this, &TCvPortSettingsPanel::CloseCaptureClicked);
    ApplyCaptions(u"CN"_s);
}

void TCvPortSettingsPanel::AddBelowLineSettings(QWidget* Box)
{
    FColumn->insertWidget(FColumn->indexOf(FGroupBox2) + 1, Box);
}

void TCvPortSettingsPanel::AddBelowReceive(QWidget* Box)
{
    FColumn->insertWidget(FColumn->indexOf(FGroupBox1) + 1, Box);
}

TCvComPortObj* TCvPortSettingsPanel::Current() const
{
    return FPortByName ? FPortByName(CurrentDeviceName()) : nullptr;
}

// ---- the device list ----

int TCvPortSettingsPanel::DeviceCount() const
{
    return FComboBoxEx1->count();
}
int TCvPortSettingsPanel::CurrentDeviceIndex() const
{
    return FComboBoxEx1->currentIndex();
}
QString TCvPortSettingsPanel::CurrentDeviceText() const
{
    return FComboBoxEx1->currentText();
}

QString TCvPortSettingsPanel::CurrentDeviceName() const
{
    return FComboBoxEx1->currentIndex() < 0 ? QString() : FComboBoxEx1->currentText();
}

bool TCvPortSettingsPanel::SelectDevice(const QString& Name)
{
    const int item = FComboBoxEx1->findText(Name, Qt::MatchFixedString);
    if (item >= 0) FComboBoxEx1->setCurrentIndex(item);
    return item >= 0;
}

bool TCvPortSettingsPanel::IsListed(const QString& Name) const
{
    return FComboBoxEx1->findText(Name, Qt::MatchFixedString) >= 0;
}

void TCvPortSettingsPanel::SelectDeviceAt(int Index)
{
    FComboBoxEx1->setCurrentIndex(Index);
}

void TCvPortSettingsPanel::SetDevices(const QStringList& Names, const QIcon& Icon, const QStringList& Tips)
{
    FComboBoxEx1->clear();
    for (qsizetype i = 0; i < Names.size(); ++i) {
        FComboBoxEx1->addItem(Icon, Names[i]);
        const QString tip = i < Tips.size() && !Tips[i].isEmpty() ? Tips[i] : Names[i];
        FComboBoxEx1->setItemData(FComboBoxEx1->count() - 1, tip, Qt::ToolTipRole);
    }
    FComboBoxEx1->setCurrentIndex(-1);
}

void TCvPortSettingsPanel::AddDeviceAction(QAction* Action)
{
    Action->setParent(FComboBoxEx1);
    FComboBoxEx1->addAction(Action);
    FComboBoxEx1->setContextMenuPolicy(Qt::ActionsContextMenu);
}

// ---- the line settings ----

void TCvPortSettingsPanel::FillLineLists()
{
    FComboBox1->addItems(TCustomComPort::BaudRateTexts());
    FComboBox2->addItems(TCustomComPort::DataBitsTexts());
    FComboBox3->addItems(TCustomComPort::StopBitsTexts());
    FComboBox4->addItems(TCustomComPort::ParityTexts());
    FComboBox5->addItems(TCustomComPort::FlowControlTexts());
    // The lists show the port layer's defaults until a device is selected.
    FComboBox1->setCurrentIndex(br9600);
    FComboBox2->setCurrentIndex(dbEight);
    FComboBox3->setCurrentIndex(sbOneStopBit);
    FComboBox4->setCurrentIndex(prNone);
    FComboBox5->setCurrentIndex(fcNone);
    FComboBox6->setCurrentIndex(0);
}

void TCvPortSettingsPanel::FillReceiveFormats()
{
    FComboBox7->clear();
    FComboBox7->addItems(
        {u"ASCII Format"_s, u"Hexadecimal Format"_s, u"Graphic"_s, u"Corvane Protocol"_s, u"File"_s});
    FComboBox7->setCurrentIndex(0);
}

TCvLineValues TCvPortSettingsPanel::Lines() const
{
    return {FComboBox1->currentIndex(), FComboBox2->currentIndex(), FComboBox3->currentIndex(),
            FComboBox4->currentIndex(), FComboBox5->currentIndex(), FComboBox6->currentIndex(),
            FComboBox7->currentIndex()};
}

void TCvPortSettingsPanel::SetBaudRate(int Index)
{
    FComboBox1->setCurrentIndex(Index);
}
void TCvPortSettingsPanel::SetReceiveFormat(int Index)
{
    FComboBox7->setCurrentIndex(Index);
}
TSendEnding TCvPortSettingsPanel::PromptEnding() const
{
    return TSendEnding(FComboBoxEndPrompt->currentIndex());
}
int TCvPortSettingsPanel::PromptEndingIndex() const
{
    return FComboBoxEndPrompt->currentIndex();
}
void TCvPortSettingsPanel::LoadPromptEnding(int Index)
{
    FComboBoxEndPrompt->setCurrentIndex(Index);
}
QString TCvPortSettingsPanel::OpenCaption() const
{
    return FButton2->text();
}
void TCvPortSettingsPanel::SetOpenCaption(const QString& Caption)
{
    FButton2->setText(Caption);
}
QList<QWidget*> TCvPortSettingsPanel::FileSendButtons() const
{
    return {FButton23, FButton24};
}

void TCvPortSettingsPanel::ShowPort(TCvComPortObj* Obj)
{
    FComboBox1->setCurrentIndex(Obj->BaudRate());
    FComboBox2->setCurrentIndex(Obj->DataBits());
    FComboBox3->setCurrentIndex(Obj->StopBits());
    FComboBox4->setCurrentIndex(Obj->Parity().FBits);
    FComboBox5->setCurrentIndex(Obj->GetFlowControl());
    const bool open = Obj->Connected();
    if (open) {
        FComboBox6->setCurrentIndex(Obj->FSendFormat);
        FComboBox7->setCurrentIndex(Obj->FReceiveFormat.load());
    }
    for (QComboBox* list : {FComboBox1, FComboBox2, FComboBox3, FComboBox4, FComboBox5})
        list->setEnabled(!open);
    FCheckBoxReconnect->setChecked(Obj->Reconnect());
    ShowTextOptions(Obj);
}

void TCvPortSettingsPanel::ComboBox1Change()
{
    TCvComPortObj* obj = Current();
    const QString title = FTitle ? FTitle() : QString();
    if (FComboBoxEx1->count() == 0 || !obj) {
        ShowInformation(title, Msg(u"Please specify a device for custom baudrate."_s));
        return;
    }
    if (FComboBox1->currentIndex() != brCustom) return;
    const QString answer =
        InputBox(title, Msg(u"Please Input Custom Baudrate:"_s), QString::number(obj->CustomBaudRate()));
    bool ok = false;
    const int rate = answer.trimmed().toInt(&ok);
    // No line runs at zero or a negative rate.
    if (!ok || rate <= 0) {
        FComboBox1->setCurrentIndex(br115200);
        ShowInformation(title, Msg(u"Wrong baud rate,Please input a integer number "_s));
        return;
    }
    obj->SetCustomBaudRate(rate);
    ShowInformation(title, Msg(u"You have set custom baudrate to: %1.                    "_s).arg(answer));
    obj->Log(Msg(u"You have set custom baudrate to: %1"_s).arg(answer));
}

void TCvPortSettingsPanel::ApplyCaptions(const QString& Lang)
{
    const bool en = Lang == u"EN"_s;
    FLabelEncoding->setText(en ? u"Text encoding"_s : u"文本编码"_s);
    FLabelLineBreaks->setText(en ? u"Line breaks"_s : u"接收换行"_s);
    FComboBoxLineBreaks->setItemText(0, en ? u"CR LF, LF or CR"_s : u"CR LF、LF 或 CR"_s);
    FComboBoxLineBreaks->setItemText(1, en ? u"CR LF only"_s : u"仅 CR LF"_s);
    FComboBoxEncoding->setItemText(IndexOfEncoding(TTextEncoding::Bytes),
                                   en ? u"One character per byte"_s : u"每字节一个字符"_s);
    const QString tip =
        en ? u"Kept for this port in its own settings file"_s : u"按端口保存在该端口的配置文件中"_s;
    FComboBoxEncoding->setToolTip(tip);
    FLabelEndPrompt->setText(en ? u"Prompt sends"_s : u"终端命令结尾"_s);
    CaptionSendEnding(FComboBoxEndPrompt, Lang);
    FComboBoxLineBreaks->setToolTip(tip);
    FCheckBoxReconnect->setText(en ? u"Reopen when the device comes back"_s
                                   : u"设备拔出后重新插入时自动重新打开"_s);
    FCheckBoxReconnect->setToolTip(tip);
    FLabelEscapes->setText(en ? u"Escape sequences"_s : u"转义序列"_s);
    FComboBoxEscapes->setItemText(0, en ? u"Colours"_s : u"显示颜色"_s);
    FComboBoxEscapes->setItemText(1, en ? u"Remove"_s : u"去除"_s);
    FComboBoxEscapes->setItemText(2, en ? u"Show (␛[0;32m)"_s : u"原样显示 (␛[0;32m)"_s);
    FComboBoxEscapes->setToolTip(
        en ? u"What the log does with the device's colour and cursor codes; "
             u"kept for this port in its own settings file"_s
           : u"日志如何处理设备发来的颜色和光标控制码；按端口保存在该端口的配置文件中"_s);
    FGroupBoxConsole->setTitle(en ? u"Console"_s : u"控制台"_s);
    FCheckBoxConsole->setText(en ? u"Console"_s : u"控制台"_s);
    FCheckBoxConsole->setToolTip(
        en ? u"A terminal in place of the log: keys go to the device as typed. "
             u"Ctrl+Shift+F1 / Ctrl+Shift+F2 open the side panels meanwhile"_s
           : u"以终端代替日志：按键按原样发送给设备。此时用 Ctrl+Shift+F1 / Ctrl+Shift+F2 打开两侧面板"_s);
    FLabelConsoleEnter->setText(en ? u"Enter sends"_s : u"回车发送"_s);
    FLabelConsoleBackspace->setText(en ? u"Backspace sends"_s : u"退格发送"_s);
    FCheckBoxConsoleEcho->setText(en ? u"Local echo"_s : u"本地回显"_s);
    for (QWidget* w :
         {static_cast<QWidget*>(FComboBoxConsoleEnter), static_cast<QWidget*>(FComboBoxConsoleBackspace),
          static_cast<QWidget*>(FCheckBoxConsoleEcho)})
        w->setToolTip(tip);
}

// ---- the port's own options ----

void TCvPortSettingsPanel::ShowTextOptions(TCvComPortObj* Obj)
{
    const TTextEncoding e = Obj ? Obj->TextEncoding() : kDefaultTextEncoding;
    FComboBoxEncoding->setCurrentIndex(IndexOfEncoding(e));
    FComboBoxLineBreaks->setCurrentIndex(Obj && Obj->LineBreaks() == TLineBreaks::CrLfOnly ? 1 : 0);
    FComboBoxEscapes->setCurrentIndex(int(Obj ? Obj->AnsiMode() : kDefaultAnsiMode));
    const TCvConsoleOptions console = Obj ? Obj->ConsoleOptions() : TCvConsoleOptions();
    FCheckBoxConsole->setChecked(console.Shown);
    FComboBoxConsoleEnter->setCurrentIndex(console.Enter);
    FComboBoxConsoleBackspace->setCurrentIndex(console.BackspaceBs ? 1 : 0);
    FCheckBoxConsoleEcho->setChecked(console.LocalEcho);
    emit TextEncodingShown(e != TTextEncoding::Bytes);
}

void TCvPortSettingsPanel::StoreTextOptions(TCvComPortObj* Obj)
{
    if (FSettingsPath) Obj->StoreSettings(stIniFile, FSettingsPath(Obj->FComportFullName));
    ShowTextOptions(Obj);
    // The console sends in the port's encoding, and shows or hides by its switch.
    emit ConsoleChosen();
}

void TCvPortSettingsPanel::ComboBoxEncodingChange()
{
    TCvComPortObj* obj = Current();
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    const int i = FComboBoxEncoding->currentIndex();
    if (i < 0 || i >= int(std::size(kTextEncodings))) return;
    if (obj->TextEncoding() != kTextEncodings[i]) obj->SetTextEncoding(kTextEncodings[i]);
    StoreTextOptions(obj);
}

void TCvPortSettingsPanel::ComboBoxLineBreaksChange()
{
    TCvComPortObj* obj = Current();
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    obj->SetLineBreaks(FComboBoxLineBreaks->currentIndex() == 1 ? TLineBreaks::CrLfOnly : TLineBreaks::Any);
    StoreTextOptions(obj);
}

void TCvPortSettingsPanel::ComboBoxEscapesChange()
{
    TCvComPortObj* obj = Current();
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    const int i = FComboBoxEscapes->currentIndex();
    if (i < 0 || i > int(TAnsiMode::Show)) return;
    obj->SetAnsiMode(TAnsiMode(i));
    StoreTextOptions(obj);
}

void TCvPortSettingsPanel::ConsoleOptionsChange()
{
    TCvComPortObj* obj = Current();
    if (!obj) {
        // A HID device, or none: it has no console.
        ShowTextOptions(nullptr);
        return;
    }
    TCvConsoleOptions o;
    o.Shown = FCheckBoxConsole->isChecked();
    o.Enter = std::clamp(FComboBoxConsoleEnter->currentIndex(), 0, 2);
    o.BackspaceBs = FComboBoxConsoleBackspace->currentIndex() == 1;
    o.LocalEcho = FCheckBoxConsoleEcho->isChecked();
    obj->SetConsoleOptions(o);
    StoreTextOptions(obj);
}

void TCvPortSettingsPanel::UnicodeChosen(bool Text)
{
    TCvComPortObj* obj = Current();
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    // Unticked is the classic one character per byte; ticking it again gives text in the
    // system's encoding unless another text encoding is chosen already.
    if (!Text && obj->TextEncoding() != TTextEncoding::Bytes) obj->SetTextEncoding(TTextEncoding::Bytes);
    else if (Text && obj->TextEncoding() == TTextEncoding::Bytes) obj->SetTextEncoding(kDefaultTextEncoding);
    StoreTextOptions(obj);
}

void TCvPortSettingsPanel::CheckBoxReconnectClick()
{
    TCvComPortObj* obj = Current();
    if (!obj) {
        // A HID device, or none: nothing to keep the option for.
        FCheckBoxReconnect->setChecked(false);
        return;
    }
    obj->SetReconnect(FCheckBoxReconnect->isChecked());
    if (FSettingsPath) obj->StoreSettings(stIniFile, FSettingsPath(obj->FComportFullName));
    if (!obj->Reconnect()) emit ReconnectDropped(obj->FComportFullName);
}

void TCvPortSettingsPanel::LoadSettings(const TCvSettings& s)
{
    LoadPromptEnding(s.Pref.ENDPROMPT);
}

void TCvPortSettingsPanel::SaveSettings(TCvSettings& s) const
{
    s.Pref.ENDPROMPT = PromptEndingIndex();
}
