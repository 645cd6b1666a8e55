#include "TSplitViewForm.h"

#include "TCvAnswerRulesPanel.h"
#include "TCvScriptPanel.h"

#include "CvLanguage.h"
#include "CvMessages.h"
#include "TCvBlockSendPanel.h"
#include "TCvComPortObj.h"
#include "TCvPlotPage.h"
#include "TCvPortConsoles.h"
#include "TJvHidDevice.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TStringGrid.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
bool IsCaptioned(const QObject* o)
{
    return qobject_cast<const QAbstractButton*>(o) || qobject_cast<const QLabel*>(o) ||
           qobject_cast<const QAction*>(o);
}

int RowOfKey(const QString& key)
{
    return key.mid(8).toInt();
}
} // namespace

QString TSplitViewForm::ControlCaption(const QObject* control)
{
    if (const auto* b = qobject_cast<const QAbstractButton*>(control)) return b->text();
    if (const auto* l = qobject_cast<const QLabel*>(control)) return l->text();
    if (const auto* a = qobject_cast<const QAction*>(control)) return a->text();
    return {};
}

void TSplitViewForm::SetControlCaption(QObject* control, const QString& caption)
{
    if (auto* b = qobject_cast<QAbstractButton*>(control)) b->setText(caption);
    else if (auto* l = qobject_cast<QLabel*>(control)) l->setText(caption);
    else if (auto* a = qobject_cast<QAction*>(control)) a->setText(caption);
}

QString TSplitViewForm::LangFileName(const QString& Lang) const
{
    return CorvaneCfgDir + u"Setting/Lang_"_s + (Lang == u"EN"_s ? u"EN"_s : u"CN"_s) + u".ini"_s;
}

void TSplitViewForm::ApplyBuiltInCaptions(const QString& Lang)
{
    const QList<QObject*> all = findChildren<QObject*>();
    // The Chinese captions are the window's own, as built. They are taken at the first call,
    // which start-up makes before any caption changes, so that Chinese never depends on
    // what an earlier language left on the controls.
    if (FDesignCaptions.isEmpty())
        for (const QObject* o : all)
            if (IsCaptioned(o) && !GetLangKey(o->objectName()).isEmpty())
                FDesignCaptions.insert(o->objectName(), ControlCaption(o));
    const bool english = Lang == u"EN"_s;
    for (QObject* o : all)
        if (IsCaptioned(o) && !GetLangKey(o->objectName()).isEmpty())
            SetControlCaption(o, english ? GetLangCaption(o->objectName(), u"EN"_s)
                                         : FDesignCaptions.value(o->objectName(), ControlCaption(o)));
}

void TSplitViewForm::ApplyLangFile(const QString& FileName)
{
    QList<QObject*> controls;
    const QList<QObject*> all = findChildren<QObject*>();
    for (QObject* o : all)
        if (IsCaptioned(o) && !GetLangKey(o->objectName()).isEmpty()) controls << o;
    // The file lists its keys in row order.
    std::stable_sort(controls.begin(), controls.end(), [](const QObject* a, const QObject* b) {
        return RowOfKey(GetLangKey(a->objectName())) < RowOfKey(GetLangKey(b->objectName()));
    });
    QList<TCaptionItem> items;
    for (const QObject* o : std::as_const(controls))
        items.append({GetLangKey(o->objectName()), ControlCaption(o)});
    if (!ApplyLangFileTo(FileName, items)) return;
    // Earlier versions could write the English captions into the Chinese file; such a value
    // (exactly the built-in English caption) reads as missing, and the Chinese one shows.
    const bool chinese = FileName == LangFileName(u"CN"_s);
    for (qsizetype i = 0; i < controls.size(); ++i) {
        const QString name = controls[i]->objectName();
        const bool english = chinese && !FDesignCaptions.isEmpty() &&
                             items[i].Caption == GetLangCaption(name, u"EN"_s).trimmed() &&
                             FDesignCaptions.value(name).trimmed() != items[i].Caption;
        SetControlCaption(controls[i], english ? FDesignCaptions.value(name) : items[i].Caption);
    }
}

void TSplitViewForm::UpdateUiLaunguage(const QString& Lang)
{
    UILanguage = Lang == u"EN"_s ? u"EN"_s : u"CN"_s;
    SetMessageLanguage(UILanguage);
    const QString file = LangFileName(UILanguage);
    // Captions start from the built-in ones also when the file exists: a missing file is then
    // written in its own language, and a damaged one leaves its missing captions in that
    // language rather than in the other one.
    ApplyBuiltInCaptions(UILanguage);
    ApplyLangFile(file);
    ApplySystemFixedTexts(UILanguage);
    if (UILanguage == u"EN"_s) ApplyUiFont(u"EN"_s);
    RefillTabSets();
}

void TSplitViewForm::ApplySystemFixedTexts(const QString& Lang)
{
    const TFixedTexts& t = FixedTexts(Lang);
    FApplicationTitle = t.Title;
    QApplication::setApplicationDisplayName(t.Title);
    setWindowTitle(t.Title);
    for (int i = 0; i < t.Notebook1.size(); ++i) Notebook1->SetPageCaption(i, t.Notebook1[i]);
    // While a device writes into the main log, its page carries the device's name.
    if (!Memo1Tag()) Notebook2->SetPageCaption(0, t.Notebook2Log);
    const int pages = Notebook2->PageCount();
    Notebook2->SetPageCaption(pages - 2, t.Notebook2Graphic);
    Notebook2->SetPageCaption(pages - 1, t.Notebook2Help);
    for (int i = 0; i < t.Notebook3.size(); ++i) Notebook3->SetPageCaption(i, t.Notebook3[i]);
    FLoopPanel->ApplyCaptions(Lang);
    FPreferences->ApplyCaptions(Lang);
    StatusPanels[0]->setText(t.StatusHint);
    FModemPanel->ApplyCaptions(Lang);
    if (FConsoles) FConsoles->ApplyCaptions(Lang);
    FPortSettings->ApplyCaptions(Lang);
    FTransferBox->ApplyCaptions(Lang);
    FBlockSendPanel->ApplyCaptions(Lang);
    FAnswerRulesPanel->ApplyCaptions(Lang);
    FScriptPanel->ApplyCaptions(Lang);
    ApplyFindCaptions(Lang);
    ApplyVirtualPortCaptions(Lang);
    if (FPlotPages) FPlotPages->SetLanguage(Lang); // the plot tabs and pages
}

void TSplitViewForm::CheckBox6Click()
{
    UpdateUiLaunguage(FPreferences->English() ? u"EN"_s : u"CN"_s);
    // The open button is re-captioned in the new language whatever is selected: a serial
    // device, a HID device, or nothing (also while the window starts).
    const QString name = GetCurrentDeviceName();
    if (GetDeciceByFullName(name)) {
        MultiComportProcess(name);
    } else if (TJvHidDevice* hid = CheckHID(name)) {
        FPortSettings->SetOpenCaption(hid->IsCheckedOut() ? GetLangCaption(u"OPRATION_CLOSE"_s, UILanguage)
                                                          : GetLangCaption(u"OPRATION_OPEN2"_s, UILanguage) +
                                                                u' ' + hid->PortName());
    } else {
        FPortSettings->SetOpenCaption(GetLangCaption(u"OPRATION_OPEN"_s, UILanguage));
    }
}

void TSplitViewForm::ApplyUiFont(const QString&)
{
    QFont font(u"Segoe UI"_s, 10);
    // Where Segoe UI is missing, the desktop's sans face stands in.
    font.setFamilies({u"Segoe UI"_s, u"Noto Sans"_s, u"DejaVu Sans"_s, u"WenQuanYi Micro Hei"_s});
    const QList<QWidget*> all = findChildren<QWidget*>();
    for (QWidget* w : all) {
        const bool panel = w->objectName().startsWith(u"Panel"_s) || qobject_cast<TSplitView*>(w);
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) || panel ||
            qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) ||
            qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<TStringGrid*>(w))
            w->setFont(font);
    }
}

void TSplitViewForm::PrintBanner(const QString& Lang)
{
    const QString lang = Lang == u"EN"_s ? u"EN"_s : u"CN"_s;
    // The block editor is the user's text: a banner never touches it.
    for (const QString& line : BannerLines(lang)) MainLogPrint(line);
}

void TSplitViewForm::PrintPortBanner(TCvComPortObj* Obj)
{
    if (!Obj) return;
    for (const QString& line : BannerLines(UILanguage)) Obj->Log(line);
}
