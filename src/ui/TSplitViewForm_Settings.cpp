#include "TSplitViewForm.h"

#include "TCvBlockSendPanel.h"
#include "TCvScriptPanel.h"

#include "TLogMemo.h"
#include "TSplitView.h"
#include "TUpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSpinBox>

using namespace Qt::Literals::StringLiterals;

QString TSplitViewForm::SettingsFileName() const
{
    return CorvaneCfgDir + u"Setting/Corvane.ini"_s;
}

void TSplitViewForm::TorvinLoadCfg()
{
    TCvSettings s;
    if (!QFileInfo(CorvaneCfgDir).isDir() || !LoadCorvaneIni(SettingsFileName(), s)) return;
    FLoopPanel->LoadSettings(s);
    FScriptPanel->LoadSettings(s);
    const TCvPreferences& p = s.Pref;
    FPreferences->LoadSettings(s);
    resize(p.MainFormWidth, p.MainFormHeight);
    SV_L->SetOpened(p.SV_LOPEN);
    SV_R->SetOpened(p.SV_ROPEN);
    FModemPanel->LoadSettings(s);
    FBlockSendPanel->LoadSettings(s);
    FPortSettings->LoadSettings(s);
    FTransferBox->LoadSettings(s);
    QFont font = Memo1->font();
    font.setFamily(p.FONTNAME);
    // A size that is no size keeps the one the view has.
    if (p.FONTSIZE > 0) font.setPointSize(p.FONTSIZE);
    Memo1->setFont(font);
    SetMemo1Colors(p.FONTCOLOR, p.BACKGROUNDCOLOR);
    FFindBar->LoadSettings(s);
}

bool TSplitViewForm::projectSave(bool SavePrivate)
{
    QDir().mkpath(CorvaneCfgDir + u"Setting"_s);
    if (!SavePrivate) return true;
    TCvSettings s;
    FLoopPanel->SaveSettings(s);
    FScriptPanel->SaveSettings(s);
    TCvPreferences& p = s.Pref;
    FPreferences->SaveSettings(s);
    p.SV_R_WIDTH = SV_R->OpenedWidth();
    p.MainFormWidth = width();
    p.MainFormHeight = height();
    p.SV_LOPEN = SV_L->IsOpened();
    p.SV_ROPEN = SV_R->IsOpened();
    FModemPanel->SaveSettings(s);
    FBlockSendPanel->SaveSettings(s);
    FPortSettings->SaveSettings(s);
    FTransferBox->SaveSettings(s);
    p.FONTNAME = Memo1->font().family();
    p.FONTSIZE = Memo1->font().pointSize();
    p.FONTCOLOR = FMemo1FontColor;
    p.BACKGROUNDCOLOR = FMemo1BackgroundColor;
    FFindBar->SaveSettings(s);
    return SaveCorvaneIni(SettingsFileName(), s, &FLastSaveError);
}
