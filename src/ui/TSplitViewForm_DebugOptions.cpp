#include "TSplitViewForm.h"

#include "Corvane_CRC.h"
#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TCaption {
    QString CN;
    QString EN;
};

const TCaption kMsTime = {u"时间信息精确到毫秒"_s, u"Milliseconds In The Time Stamp"_s};
const TCaption kHexGap = {u"十六进制接收停顿后换行(毫秒)"_s, u"Hexadecimal: New Line After A Pause (ms)"_s};
const TCaption kCrcCalc = {u"计算校验"_s, u"Checksum"_s};
const TCaption kCrcAppend = {u"追加校验"_s, u"Append"_s};
const TCaption kCrcHelp = {u"上面十六进制字节的校验值；追加时低字节在前（CRC-16 与 CRC-32 均如此）"_s,
                           u"Checksum of the hex bytes above; Append adds it low byte first (CRC-16 and CRC-32 too)"_s};

const QString& Pick(const TCaption& c, const QString& lang) { return lang == u"EN"_s ? c.EN : c.CN; }

// The codecs' hex text without its last blank, to stand inside a caption or after the block.
QString HexText(const std::vector<std::uint8_t>& bytes)
{
    return ::HexText(bytes.data(), qsizetype(bytes.size())).trimmed();
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

void TSplitViewForm::CreateCrcRow(QBoxLayout* column)
{
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    ComboCrcKind = NewComboBox(u"ComboCrcKind"_s, {u"CRC-16/MODBUS"_s, u"CRC-16/CCITT-FALSE"_s, u"CRC-32"_s,
                                                   u"XOR"_s, u"SUM-8"_s});
    EditCrcResult = Named(new QLineEdit, u"EditCrcResult"_s);
    EditCrcResult->setReadOnly(true);
    ButtonCrcCalc = NewButton(u"ButtonCrcCalc"_s, kCrcCalc.CN);
    ButtonCrcAppend = NewButton(u"ButtonCrcAppend"_s, kCrcAppend.CN);
    LabelCrcHelp = NewLabel(u"LabelCrcHelp"_s, kCrcHelp.CN);
    LabelCrcHelp->setWordWrap(true);
    grid->addWidget(ComboCrcKind, 0, 0);
    grid->addWidget(EditCrcResult, 0, 1);
    grid->addWidget(ButtonCrcCalc, 1, 0);
    grid->addWidget(ButtonCrcAppend, 1, 1);
    grid->addWidget(LabelCrcHelp, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);
}

void TSplitViewForm::ConnectDebugOptions()
{
    connect(CheckBoxMsTime, &QCheckBox::toggled, this, [this] { ApplyDebugOptions(); });
    connect(CheckBoxHexGap, &QCheckBox::toggled, this, [this] { ApplyDebugOptions(); });
    connect(SpinHexGapMs, &QSpinBox::valueChanged, this, [this] { ApplyDebugOptions(); });
    connect(ButtonCrcCalc, &QPushButton::clicked, this, &TSplitViewForm::ButtonCrcCalcClick);
    connect(ButtonCrcAppend, &QPushButton::clicked, this, &TSplitViewForm::ButtonCrcAppendClick);
    connect(ComboCrcKind, &QComboBox::currentIndexChanged, this, &TSplitViewForm::ButtonCrcCalcClick);
    connect(Memo2, &QPlainTextEdit::textChanged, this, &TSplitViewForm::ButtonCrcCalcClick);
    // After CheckBox6Click, which sets UILanguage.
    connect(CheckBox6, &QCheckBox::toggled, this, &TSplitViewForm::ApplyDebugCaptions);
    ButtonCrcCalcClick();
}

void TSplitViewForm::ApplyDebugCaptions()
{
    CheckBoxMsTime->setText(Pick(kMsTime, UILanguage));
    CheckBoxHexGap->setText(Pick(kHexGap, UILanguage));
    ButtonCrcCalc->setText(Pick(kCrcCalc, UILanguage));
    ButtonCrcAppend->setText(Pick(kCrcAppend, UILanguage));
    LabelCrcHelp->setText(Pick(kCrcHelp, UILanguage));
}

void TSplitViewForm::ApplyDebugOptions(TCvComPortObj* Obj)
{
    const auto apply = [this](TCvComPortObj* o) {
        o->FShowMilliseconds = CheckBoxMsTime->isChecked();
        o->FHexGapMs = SpinHexGapMs->value();
        o->FHexGapLines = CheckBoxHexGap->isChecked();
    };
    if (Obj) {
        apply(Obj);
        return;
    }
    for (const TCvComPortListEntry& e : CvComPortList())
        if (e.Obj) apply(e.Obj);
}

void TSplitViewForm::ButtonCrcCalcClick()
{
    std::vector<quint8> bytes;
    QString error;
    if (!ReadHexBlock(Memo2->toPlainText(), bytes, &error)) {
        EditCrcResult->setText(error);
        EditCrcResult->setToolTip(error);
        EditCrcResult->setCursorPosition(0);
        return;
    }
    EditCrcResult->setToolTip({});
    if (bytes.empty()) {
        EditCrcResult->clear();
        return;
    }
    const auto kind = static_cast<TChecksumKind>(qBound(0, ComboCrcKind->currentIndex(), ChecksumKindCount - 1));
    const int width = ChecksumWidth(kind);
    const quint32 value = ChecksumValue(kind, bytes.data(), int(bytes.size()));
    // The value as a number, then the bytes as Append adds them.
    EditCrcResult->setText(u"0x"_s + QString::number(value, 16).toUpper().rightJustified(2 * width, u'0') + u"  ("_s +
                           HexText(ChecksumBytes(kind, bytes.data(), int(bytes.size()))) + u')');
}

void TSplitViewForm::ButtonCrcAppendClick()
{
    std::vector<quint8> bytes;
    QString error;
    if (!ReadHexBlock(Memo2->toPlainText(), bytes, &error)) {
        ButtonCrcCalcClick();
        return;
    }
    if (bytes.empty()) {
        EditCrcResult->setText(Msg(u"The block holds no bytes to check."_s));
        return;
    }
    const auto kind = static_cast<TChecksumKind>(qBound(0, ComboCrcKind->currentIndex(), ChecksumKindCount - 1));
    QString text = Memo2->toPlainText();
    while (!text.isEmpty() && text.back().unicode() <= 32) text.chop(1);
    Memo2->setPlainText(text + u' ' + HexText(ChecksumBytes(kind, bytes.data(), int(bytes.size()))));
}
