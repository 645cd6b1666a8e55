#include "TSplitViewForm.h"

#include "TCvBlockSendPanel.h"

#include "TLogMemo.h"
#include "TSplitView.h"
#include "TStringGrid.h"
#include "TUpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QSpinBox>

using namespace Qt::Literals::StringLiterals;

QString TSplitViewForm::SettingsFileName() const { return CorvaneCfgDir + u"Setting/Corvane.ini"_s; }

void TSplitViewForm::TorvinLoadCfg()
{
    TCvSettings s;
    if (!QFileInfo(CorvaneCfgDir).isDir() || !LoadCorvaneIni(SettingsFileName(), s)) return;
    for (int r = 1; r <= TCvSettings::GridRows; ++r) {
        StringGrid1->SetCells(2, r, s.Content[r - 1]);
        StringGrid1->SetCells(3, r, s.Comment[r - 1]);
    }
    const TCvPreferences& p = s.Pref;
    cbxVclStyles->setCurrentIndex(p.Theme >= 0 && p.Theme < cbxVclStyles->count() ? p.Theme : -1);
    resize(p.MainFormWidth, p.MainFormHeight);
    // Setting a check box runs its handler, as a click would.
    CheckBox4->setChecked(p.SHOWLINENUMBER);
    CheckBox1->setChecked(p.DESKTOPSHOTCUT);
    SV_L->SetOpened(p.SV_LOPEN);
    SV_R->SetOpened(p.SV_ROPEN);
    CheckBox7->setChecked(p.ALPHABLEND);
    UpDown3->SetPosition(p.LOOPCOUNT);
    FModemPanel->SetLevels(p.MODEMDTR, p.MODEMRTS, p.PULSEMS);
    CheckBoxMsTime->setChecked(p.MSTIMESTAMP);
    SpinHexGapMs->setValue(p.HEXGAPMS);
    CheckBoxHexGap->setChecked(p.HEXGAPLINES);
    FBlockSendPanel->SetCrcKind(p.CRCKIND);
    FBlockSendPanel->SetEnding(p.ENDBLOCK);
    ComboBoxEndGrid->setCurrentIndex(p.ENDGRID);
    ComboBoxEndPrompt->setCurrentIndex(p.ENDPROMPT);
    QFont font = Memo1->font();
    font.setFamily(p.FONTNAME);
    // A size that is no size keeps the one the view has.
    if (p.FONTSIZE > 0) font.setPointSize(p.FONTSIZE);
    Memo1->setFont(font);
    SetMemo1Colors(p.FONTCOLOR, p.BACKGROUNDCOLOR);
    FFindBar->SetMatchCase(p.FINDCASE);
}

bool TSplitViewForm::projectSave(bool SavePrivate)
{
    QDir().mkpath(CorvaneCfgDir + u"Setting"_s);
    if (!SavePrivate) return true;
    TCvSettings s;
    for (int r = 1; r <= TCvSettings::GridRows; ++r) {
        s.Content[r - 1] = StringGrid1->Cells(2, r);
        s.Comment[r - 1] = StringGrid1->Cells(3, r);
    }
    TCvPreferences& p = s.Pref;
    p.Theme = cbxVclStyles->currentIndex();
    p.SV_R_WIDTH = SV_R->OpenedWidth();
    p.MainFormWidth = width();
    p.MainFormHeight = height();
    p.EnglishLanguage = CheckBox6->isChecked();
    p.DESKTOPSHOTCUT = CheckBox1->isChecked();
    p.SHOWLINENUMBER = CheckBox4->isChecked();
    p.SV_LOPEN = SV_L->IsOpened();
    p.SV_ROPEN = SV_R->IsOpened();
    p.ALPHABLEND = CheckBox7->isChecked();
    p.LOOPCOUNT = UpDown3->Position();
    p.MODEMDTR = FModemPanel->DTR();
    p.MODEMRTS = FModemPanel->RTS();
    p.PULSEMS = FModemPanel->PulseMs();
    p.MSTIMESTAMP = CheckBoxMsTime->isChecked();
    p.HEXGAPLINES = CheckBoxHexGap->isChecked();
    p.HEXGAPMS = SpinHexGapMs->value();
    p.CRCKIND = FBlockSendPanel->CrcKind();
    p.ENDBLOCK = int(FBlockSendPanel->Ending());
    p.ENDGRID = ComboBoxEndGrid->currentIndex();
    p.ENDPROMPT = ComboBoxEndPrompt->currentIndex();
    p.FONTNAME = Memo1->font().family();
    p.FONTSIZE = Memo1->font().pointSize();
    p.FONTCOLOR = FMemo1FontColor;
    p.BACKGROUNDCOLOR = FMemo1BackgroundColor;
    p.FINDCASE = FFindBar->MatchCase();
    return SaveCorvaneIni(SettingsFileName(), s, &FLastSaveError);
}
