#include "TSplitViewForm.h"

#include "Corvane_CRC.h"
#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvLanguage.h"
#include "CvWidgets.h"
#include "TCvBlockSendPanel.h"
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

const TCaption kMsTime = {u"时间信息精确到毫秒"_s, u"Milliseconds In The Time Stamp"_s};
const TCaption kHexGap = {u"十六进制接收停顿后换行(毫秒)"_s, u"Hexadecimal: New Line After A Pause (ms)"_s};


} // namespace

void TSplitViewForm::ConnectDebugOptions()
{
    connect(CheckBoxMsTime, &QCheckBox::toggled, this, [this] { ApplyDebugOptions(); });
    connect(CheckBoxHexGap, &QCheckBox::toggled, this, [this] { ApplyDebugOptions(); });
    connect(SpinHexGapMs, &QSpinBox::valueChanged, this, [this] { ApplyDebugOptions(); });
    // After CheckBox6Click, which sets UILanguage.
    connect(CheckBox6, &QCheckBox::toggled, this, &TSplitViewForm::ApplyDebugCaptions);
}

void TSplitViewForm::ApplyDebugCaptions()
{
    CheckBoxMsTime->setText(Pick(kMsTime, UILanguage));
    CheckBoxHexGap->setText(Pick(kHexGap, UILanguage));
    FBlockSendPanel->ApplyCaptions(UILanguage);
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

