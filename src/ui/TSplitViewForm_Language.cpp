#include "TSplitViewForm.h"

#include "CvLanguage.h"
#include "TCvComPortObj.h"
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
#include <QStatusBar>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
bool IsCaptioned(const QObject* o)
{
    return qobject_cast<const QAbstractButton*>(o) || qobject_cast<const QLabel*>(o) || qobject_cast<const QAction*>(o);
}

int RowOfKey(const QString& key) { return key.mid(8).toInt(); }
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
    if (Lang != u"EN"_s) return;
    const QList<QObject*> all = findChildren<QObject*>();
    for (QObject* o : all)
        if (IsCaptioned(o) && !GetLangKey(o->objectName()).isEmpty())
            SetControlCaption(o, GetLangCaption(o->objectName(), u"EN"_s));
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
    for (const QObject* o : std::as_const(controls)) items.append({GetLangKey(o->objectName()), ControlCaption(o)});
    if (!ApplyLangFileTo(FileName, items)) return;
    for (qsizetype i = 0; i < controls.size(); ++i) SetControlCaption(controls[i], items[i].Caption);
}

void TSplitViewForm::UpdateUiLaunguage(const QString& Lang)
{
    UILanguage = Lang == u"EN"_s ? u"EN"_s : u"CN"_s;
    const QString file = LangFileName(UILanguage);
    // English captions start from the built-in ones also when the file exists: a damaged file
    // then leaves its missing captions in English rather than in the other language.
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
    for (int c = 0; c < t.GridHeader.size(); ++c) StringGrid1->SetCells(c, 0, t.GridHeader[c]);
    StatusPanels[0]->setText(t.StatusHint);
    ApplyModemCaptions(Lang);
    ApplyTextCaptions(Lang);
    ApplyFindCaptions(Lang);
    ApplyVirtualPortCaptions(Lang);
}

void TSplitViewForm::CheckBox6Click()
{
    UpdateUiLaunguage(CheckBox6->isChecked() ? u"EN"_s : u"CN"_s);
    // No device is selected yet while the window starts.
    if (ComboBoxEx1->currentIndex() >= 0) MultiComportProcess(ComboBoxEx1->currentText());
}

void TSplitViewForm::ApplyUiFont(const QString&)
{
    QFont font(u"Segoe UI"_s, 10);
    // Where Segoe UI is missing, the desktop's sans face stands in.
    font.setFamilies({u"Segoe UI"_s, u"Noto Sans"_s, u"DejaVu Sans"_s, u"WenQuanYi Micro Hei"_s});
    const QList<QWidget*> all = findChildren<QWidget*>();
    for (QWidget* w : all) {
        const bool panel = w->objectName().startsWith(u"Panel"_s) || qobject_cast<TSplitView*>(w);
        if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w) || panel || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<TStringGrid*>(w))
            w->setFont(font);
    }
}

void TSplitViewForm::PrintBanner(const QString& Lang)
{
    const QString lang = Lang == u"EN"_s ? u"EN"_s : u"CN"_s;
    for (const QString& line : BannerLines(lang)) MainLogPrint(line);
    if (lang == u"EN"_s) Memo2->clear();
}

void TSplitViewForm::PrintPortBanner(TCvComPortObj* Obj)
{
    if (!Obj) return;
    for (const QString& line : BannerLines(UILanguage)) Obj->Log(line);
    if (UILanguage == u"EN"_s) Memo2->clear();
}
