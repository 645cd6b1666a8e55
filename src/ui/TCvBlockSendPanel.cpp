#include "TCvBlockSendPanel.h"

#include "CvSettings.h"

#include "Corvane_CRC.h"
#include "CvCodecs.h"
#include "CvLanguage.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

const TCaption kCrcCalc = {u"计算校验"_s, u"Checksum"_s};
const TCaption kCrcAppend = {u"追加校验"_s, u"Append"_s};
const TCaption kCrcHelp = {
    u"上面十六进制字节的校验值；追加时低字节在前（CRC-16 与 CRC-32 均如此）"_s,
    u"Checksum of the hex bytes above; Append adds it low byte first (CRC-16 and CRC-32 too)"_s};

// The codecs' hex text without its last blank, to stand inside a caption or after the block.
QString TrimmedHex(const std::vector<std::uint8_t>& bytes)
{
    return HexText(bytes.data(), qsizetype(bytes.size())).trimmed();
}

// The block read as hex byte text, the way the send paths read it; on refusal *error
// says where. A checksum of misread bytes would look right and be wrong.
bool ReadHexBlock(const QString& text, std::vector<quint8>& bytes, QString* error)
{
    QByteArray parsed;
    if (!ParseHexText(text, &parsed, error)) return false;
    bytes.assign(parsed.cbegin(), parsed.cend());
    return true;
}

} // namespace

TCvBlockSendPanel::TCvBlockSendPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"BlockSendPanel"_s);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    FMemo3 = Named(new QPlainTextEdit(u"Corvane Serial Port Terminal\nCORVANE 科万串口终端"_s), u"Memo3"_s);
    FMemo3->setBackgroundRole(QPalette::ToolTipBase);
    QPalette info = FMemo3->palette();
    info.setColor(QPalette::Base, info.color(QPalette::ToolTipBase));
    info.setColor(QPalette::Text, info.color(QPalette::ToolTipText));
    FMemo3->setPalette(info);
    column->addWidget(FMemo3, 1);
    FButton9 = NewButton(u"Button9"_s, u"将上面的字符串转换成十六进制字节码"_s);
    FButton11 = NewButton(u"Button11"_s, u"将下面的十六进制字节码转换成字符串"_s);
    column->addWidget(FButton9);
    column->addWidget(FButton11);
    FMemo2 = Named(new QPlainTextEdit, u"Memo2"_s);
    FMemo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    column->addWidget(FMemo2, 2);
    auto* panel2 = Named(new QWidget, u"Panel2"_s);
    auto* sendRow = new QHBoxLayout(panel2);
    sendRow->setContentsMargins(0, 0, 0, 0);
    FButton7 = NewButton(u"Button7"_s, u"清除"_s);
    // The send-ending list shares the row: a long caption is shortened, never cut off.
    FButton8 = Named(new TElideButton(u"发送数据"_s), u"Button8"_s);
    sendRow->addWidget(FButton7);
    sendRow->addWidget(FButton8, 1);
    FComboBoxEndBlock = NewComboBox(u"ComboBoxEndBlock"_s, SendEndingItems());
    FComboBoxEndBlock->setCurrentIndex(int(TSendEnding::CrLf));
    sendRow->addWidget(FComboBoxEndBlock);
    column->addWidget(panel2);
    FButton25 = NewButton(u"Button25"_s, u"格式化成十六进制格式"_s);
    column->addWidget(FButton25);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    FComboCrcKind = NewComboBox(
        u"ComboCrcKind"_s, {u"CRC-16/MODBUS"_s, u"CRC-16/CCITT-FALSE"_s, u"CRC-32"_s, u"XOR"_s, u"SUM-8"_s});
    FEditCrcResult = Named(new QLineEdit, u"EditCrcResult"_s);
    FEditCrcResult->setReadOnly(true);
    FButtonCrcCalc = NewButton(u"ButtonCrcCalc"_s, kCrcCalc.CN);
    FButtonCrcAppend = NewButton(u"ButtonCrcAppend"_s, kCrcAppend.CN);
    FLabelCrcHelp = NewLabel(u"LabelCrcHelp"_s, kCrcHelp.CN);
    FLabelCrcHelp->setWordWrap(true);
    grid->addWidget(FComboCrcKind, 0, 0);
    grid->addWidget(FEditCrcResult, 0, 1);
    grid->addWidget(FButtonCrcCalc, 1, 0);
    grid->addWidget(FButtonCrcAppend, 1, 1);
    grid->addWidget(FLabelCrcHelp, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    connect(FButton8, &QPushButton::clicked, this, &TCvBlockSendPanel::SendClicked);
    connect(FButton7, &QPushButton::clicked, this, &TCvBlockSendPanel::ClearClicked);
    connect(FButton9, &QPushButton::clicked, this, &TCvBlockSendPanel::Button9Click);
    connect(FButton11, &QPushButton::clicked, this, &TCvBlockSendPanel::Button11Click);
    connect(FButton25, &QPushButton::clicked, this, &TCvBlockSendPanel::Button25Click);
    connect(FButtonCrcCalc, &QPushButton::clicked, this, &TCvBlockSendPanel::ButtonCrcCalcClick);
    connect(FButtonCrcAppend, &QPushButton::clicked, this, &TCvBlockSendPanel::ButtonCrcAppendClick);
    connect(FComboCrcKind, &QComboBox::currentIndexChanged, this, &TCvBlockSendPanel::ButtonCrcCalcClick);
    connect(FMemo2, &QPlainTextEdit::textChanged, this, &TCvBlockSendPanel::ButtonCrcCalcClick);
    ButtonCrcCalcClick();
}

QString TCvBlockSendPanel::Text() const
{
    return FMemo2->toPlainText();
}
TSendEnding TCvBlockSendPanel::Ending() const
{
    return TSendEnding(FComboBoxEndBlock->currentIndex());
}
void TCvBlockSendPanel::SetEnding(int Index)
{
    FComboBoxEndBlock->setCurrentIndex(Index);
}
int TCvBlockSendPanel::CrcKind() const
{
    return FComboCrcKind->currentIndex();
}
void TCvBlockSendPanel::SetCrcKind(int Index)
{
    FComboCrcKind->setCurrentIndex(Index);
}

void TCvBlockSendPanel::ApplyCaptions(const QString& Lang)
{
    FButtonCrcCalc->setText(Pick(kCrcCalc, Lang));
    FButtonCrcAppend->setText(Pick(kCrcAppend, Lang));
    FLabelCrcHelp->setText(Pick(kCrcHelp, Lang));
    CaptionSendEnding(FComboBoxEndBlock, Lang);
}

TTextEncoding TCvBlockSendPanel::Encoding() const
{
    return FEncoding ? FEncoding() : kDefaultTextEncoding;
}

void TCvBlockSendPanel::Button9Click()
{
    QString text = TrimControl(FMemo3->toPlainText());
    text.replace(u"\r\n"_s, u"\n"_s).replace(u'\n', u"\r\n"_s);
    QByteArray bytes;
    qsizetype bad = 0;
    if (!EncodeText(text, Encoding(), &bytes, &bad)) {
        ShowInformation(window()->windowTitle(), UnencodableMessage(text, bad, Encoding()));
        return;
    }
    FMemo2->appendPlainText(HexText(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size()));
}

void TCvBlockSendPanel::Button11Click()
{
    QByteArray bytes;
    QString why;
    if (!ParseHexText(FMemo2->toPlainText(), &bytes, &why)) {
        ShowInformation(window()->windowTitle(), why);
        return;
    }
    // The text ends at the first zero byte, as it always did.
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0) bytes.truncate(zero);
    FMemo3->appendPlainText(
        BytesToString(reinterpret_cast<const quint8*>(bytes.constData()), int(bytes.size()), Encoding()));
}

void TCvBlockSendPanel::Button25Click()
{
    QByteArray bytes;
    QString why;
    if (!ParseHexText(FMemo2->toPlainText(), &bytes, &why)) {
        ShowInformation(window()->windowTitle(), why);
        return;
    }
    // Every value of the block is kept.
    FMemo2->setPlainText(HexText(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size()));
    const qsizetype n = bytes.size();
    const QString caption = FButton8->text();
    const qsizetype open = caption.indexOf(u'(');
    if (open < 0) FButton8->setText(caption + u" ( "_s + QString::number(n) + u" ) Bytes"_s);
    else FButton8->setText(caption.left(open) + u"( "_s + QString::number(n) + u" ) Bytes"_s);
}

void TCvBlockSendPanel::ButtonCrcCalcClick()
{
    std::vector<quint8> bytes;
    QString error;
    if (!ReadHexBlock(FMemo2->toPlainText(), bytes, &error)) {
        FEditCrcResult->setText(error);
        FEditCrcResult->setToolTip(error);
        FEditCrcResult->setCursorPosition(0);
        return;
    }
    FEditCrcResult->setToolTip({});
    if (bytes.empty()) {
        FEditCrcResult->clear();
        return;
    }
    const auto kind =
        static_cast<TChecksumKind>(qBound(0, FComboCrcKind->currentIndex(), ChecksumKindCount - 1));
    const int width = ChecksumWidth(kind);
    const quint32 value = ChecksumValue(kind, bytes.data(), int(bytes.size()));
    // The value as a number, then the bytes as Append adds them.
    FEditCrcResult->setText(u"0x"_s + QString::number(value, 16).toUpper().rightJustified(2 * width, u'0') +
                            u"  ("_s + TrimmedHex(ChecksumBytes(kind, bytes.data(), int(bytes.size()))) +
                            u')');
}

void TCvBlockSendPanel::ButtonCrcAppendClick()
{
    std::vector<quint8> bytes;
    QString error;
    if (!ReadHexBlock(FMemo2->toPlainText(), bytes, &error)) {
        ButtonCrcCalcClick();
        return;
    }
    if (bytes.empty()) {
        FEditCrcResult->setText(Msg(u"The block holds no bytes to check."_s));
        return;
    }
    const auto kind =
        static_cast<TChecksumKind>(qBound(0, FComboCrcKind->currentIndex(), ChecksumKindCount - 1));
    QString text = FMemo2->toPlainText();
    while (!text.isEmpty() && text.back().unicode() <= 32) text.chop(1);
    FMemo2->setPlainText(text + u' ' + TrimmedHex(ChecksumBytes(kind, bytes.data(), int(bytes.size()))));
}

void TCvBlockSendPanel::LoadSettings(const TCvSettings& s)
{
    SetCrcKind(s.Pref.CRCKIND);
    SetEnding(s.Pref.ENDBLOCK);
}

void TCvBlockSendPanel::SaveSettings(TCvSettings& s) const
{
    s.Pref.CRCKIND = CrcKind();
    s.Pref.ENDBLOCK = int(Ending());
}
