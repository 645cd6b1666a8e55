#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvWidgets.h"
#include "TCvBlockSendPanel.h"
#include "TCvComPortObj.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>

using namespace Qt::Literals::StringLiterals;

// The selected port's text encoding and line breaks. Both belong to the port and are kept
// in its own settings file; a change takes effect on the open port at once.

namespace {

int IndexOfEncoding(TTextEncoding e) {
    for (int i = 0; i < int(std::size(kTextEncodings)); ++i)
        if (kTextEncodings[i] == e) return i;
    return 0;
}

} // namespace

void TSplitViewForm::CreateTextControls() {
    auto* lines = qobject_cast<QGridLayout*>(GroupBox2->layout());
    LabelEncoding = NewLabel(u"LabelEncoding"_s, QString());
    ComboBoxEncoding = NewComboBox(u"ComboBoxEncoding"_s);
    for (const TTextEncoding e : kTextEncodings)
        ComboBoxEncoding->addItem(TextEncodingCaption(e));
    LabelLineBreaks = NewLabel(u"LabelLineBreaks"_s, QString());
    ComboBoxLineBreaks = NewComboBox(u"ComboBoxLineBreaks"_s, {QString(), QString()});
    if (lines) {
        const int row = lines->rowCount();
        lines->addWidget(LabelEncoding, row, 0);
        lines->addWidget(ComboBoxEncoding, row, 1);
        lines->addWidget(LabelLineBreaks, row + 1, 0);
        lines->addWidget(ComboBoxLineBreaks, row + 1, 1);
    }
    CheckBox12->setChecked(kDefaultTextEncoding != TTextEncoding::Bytes);

    // What ends an ASCII send, per panel: beside the block's send button, below the grid,
    // and for the prompt beside the send format it uses.
    const QStringList endings = SendEndingItems();
    ComboBoxEndGrid = NewComboBox(u"ComboBoxEndGrid"_s, endings);
    ComboBoxEndGrid->setCurrentIndex(int(TSendEnding::CrLf));
    if (auto* row = qobject_cast<QBoxLayout*>(Panel4->layout())) row->insertWidget(0, ComboBoxEndGrid);
    LabelEndPrompt = NewLabel(u"LabelEndPrompt"_s, QString());
    ComboBoxEndPrompt = NewComboBox(u"ComboBoxEndPrompt"_s, endings);
    ComboBoxEndPrompt->setCurrentIndex(int(TSendEnding::None));
    if (lines) {
        const int row = lines->rowCount();
        lines->addWidget(LabelEndPrompt, row, 0);
        lines->addWidget(ComboBoxEndPrompt, row, 1);
    }
    // Their captions are long in English: they shorten rather than widen the settings panel.
    for (QComboBox* box : {ComboBoxEncoding, ComboBoxLineBreaks, ComboBoxEndPrompt}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(6);
    }
    connect(ComboBoxEndPrompt, &QComboBox::activated, this, &TSplitViewForm::UpdateCvComPortObjAtrribute);
    connect(ComboBoxEncoding, &QComboBox::activated, this, &TSplitViewForm::ComboBoxEncodingChange);
    connect(ComboBoxLineBreaks, &QComboBox::activated, this, &TSplitViewForm::ComboBoxLineBreaksChange);
    connect(CheckBox12, &QCheckBox::clicked, this, &TSplitViewForm::CheckBox12Click);
    ApplyTextCaptions(u"CN"_s);
}

void TSplitViewForm::ApplyTextCaptions(const QString& Lang) {
    if (!ComboBoxLineBreaks) return;
    const bool en = Lang == u"EN"_s;
    LabelEncoding->setText(en ? u"Text encoding"_s : u"文本编码"_s);
    LabelLineBreaks->setText(en ? u"Line breaks"_s : u"接收换行"_s);
    ComboBoxLineBreaks->setItemText(0, en ? u"CR LF, LF or CR"_s : u"CR LF、LF 或 CR"_s);
    ComboBoxLineBreaks->setItemText(1, en ? u"CR LF only"_s : u"仅 CR LF"_s);
    ComboBoxEncoding->setItemText(IndexOfEncoding(TTextEncoding::Bytes),
                                  en ? u"One character per byte"_s : u"每字节一个字符"_s);
    const QString tip =
        en ? u"Kept for this port in its own settings file"_s : u"按端口保存在该端口的配置文件中"_s;
    ComboBoxEncoding->setToolTip(tip);
    LabelEndPrompt->setText(en ? u"Prompt sends"_s : u"终端命令结尾"_s);
    for (QComboBox* box : {ComboBoxEndGrid, ComboBoxEndPrompt}) CaptionSendEnding(box, Lang);
    FBlockSendPanel->ApplyCaptions(Lang);
    ComboBoxLineBreaks->setToolTip(tip);
}

void TSplitViewForm::ShowTextOptions(TCvComPortObj* Obj) {
    if (!ComboBoxEncoding) return;
    const TTextEncoding e = Obj ? Obj->TextEncoding() : kDefaultTextEncoding;
    ComboBoxEncoding->setCurrentIndex(IndexOfEncoding(e));
    ComboBoxLineBreaks->setCurrentIndex(Obj && Obj->LineBreaks() == TLineBreaks::CrLfOnly ? 1 : 0);
    CheckBox12->setChecked(e != TTextEncoding::Bytes);
}

void TSplitViewForm::StoreTextOptions(TCvComPortObj* Obj) {
    Obj->StoreSettings(stIniFile, FDevices->SettingsPathOf(Obj->FComportFullName));
    ShowTextOptions(Obj);
}

void TSplitViewForm::ComboBoxEncodingChange() {
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    const int i = ComboBoxEncoding->currentIndex();
    if (i < 0 || i >= int(std::size(kTextEncodings))) return;
    if (obj->TextEncoding() != kTextEncodings[i]) obj->SetTextEncoding(kTextEncodings[i]);
    StoreTextOptions(obj);
}

void TSplitViewForm::ComboBoxLineBreaksChange() {
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    obj->SetLineBreaks(ComboBoxLineBreaks->currentIndex() == 1 ? TLineBreaks::CrLfOnly : TLineBreaks::Any);
    StoreTextOptions(obj);
}

void TSplitViewForm::CheckBox12Click() {
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) {
        ShowTextOptions(nullptr);
        return;
    }
    // Unticked is the classic one character per byte; ticking it again gives text in the
    // system's encoding unless another text encoding is chosen already.
    const bool text = CheckBox12->isChecked();
    if (!text && obj->TextEncoding() != TTextEncoding::Bytes)
        obj->SetTextEncoding(TTextEncoding::Bytes);
    else if (text && obj->TextEncoding() == TTextEncoding::Bytes)
        obj->SetTextEncoding(kDefaultTextEncoding);
    StoreTextOptions(obj);
}
