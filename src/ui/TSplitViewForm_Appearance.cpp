#include "TSplitViewForm.h"

#include "CvPreferenceDialogs.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QApplication>
#include <QColorDialog>
#include <QDesktopServices>
#include <QFontDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QStyle>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {
TFontAsker gFontAsker;
TColorAsker gColorAsker;
TFolderOpener gFolderOpener;
} // namespace

void SetFontAsker(TFontAsker asker)
{
    gFontAsker = std::move(asker);
}
void SetColorAsker(TColorAsker asker)
{
    gColorAsker = std::move(asker);
}
void SetFolderOpener(TFolderOpener opener)
{
    gFolderOpener = std::move(opener);
}

bool AskFont(QWidget* parent, const QFont& initial, QFont* chosen)
{
    if (gFontAsker) return gFontAsker(parent, initial, chosen);
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, initial, parent);
    if (ok) *chosen = f;
    return ok;
}

bool AskColor(QWidget* parent, const QColor& initial, QColor* chosen)
{
    if (gColorAsker) return gColorAsker(parent, initial, chosen);
    const QColor c = QColorDialog::getColor(initial, parent);
    if (c.isValid()) *chosen = c;
    return c.isValid();
}

void OpenFolder(const QString& path)
{
    if (gFolderOpener) gFolderOpener(path);
    else QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TSplitViewForm::ConnectPreferences()
{
    TCvPreferencesPanel* p = FPreferences;
    p->SetFolder([this] { return CorvaneCfgDir; });
    connect(p, &TCvPreferencesPanel::OpacityChanged, this, &QWidget::setWindowOpacity);
    connect(p, &TCvPreferencesPanel::StaysOnTopChanged, this, &TSplitViewForm::SetStaysOnTop);
    connect(p, &TCvPreferencesPanel::LanguageToggled, this, &TSplitViewForm::CheckBox6Click);
    // The display options write the settings panel into the current device.
    connect(p, &TCvPreferencesPanel::DisplayClicked, this, &TSplitViewForm::UpdateCvComPortObjAtrribute);
    connect(p, &TCvPreferencesPanel::UnicodeClicked, this, &TSplitViewForm::CheckBox12Click);
    connect(p, &TCvPreferencesPanel::DebugOptionsChanged, this, [this] { ApplyDebugOptions(); });
    connect(p, &TCvPreferencesPanel::ClearCacheClicked, this, &TSplitViewForm::Button5Click);
    connect(p, &TCvPreferencesPanel::AutoSaveDue, this, &TSplitViewForm::Timer2Timer);
    connect(FPortSettings, &TCvPortSettingsPanel::FontClicked, this, &TSplitViewForm::Button12Click);
    connect(FPortSettings, &TCvPortSettingsPanel::ColourClicked, this, &TSplitViewForm::Button17Click);
}

void TSplitViewForm::ApplyDebugOptions(TCvComPortObj* Obj)
{
    if (Obj) {
        FPreferences->ApplyDebugOptions(Obj);
        return;
    }
    for (const TCvComPortListEntry& e : CvComPortList())
        if (e.Obj) FPreferences->ApplyDebugOptions(e.Obj);
}

void TSplitViewForm::SetStaysOnTop(bool on)
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
    // Changing the window flags hides the window; show it again where it was.
    const QRect where = geometry();
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    setGeometry(where);
    if (visible) show();
}

void TSplitViewForm::Button12Click()
{
    TCvComPortObj* port = GetDeciceByFullName(GetCurrentDeviceName());
    TLogMemo* log = port ? TLogMemo::Of(port->LogView()) : nullptr;
    QFont chosen;
    if (!AskFont(this, log ? log->font() : Memo1->font(), &chosen)) return;
    Memo1->setFont(chosen);
    if (log) log->setFont(chosen);
}

void TSplitViewForm::Button17Click()
{
    TCvComPortObj* port = GetDeciceByFullName(GetCurrentDeviceName());
    TLogMemo* log = port ? TLogMemo::Of(port->LogView()) : nullptr;
    QColor chosen;
    if (!AskColor(this, Memo1->BackgroundColor(), &chosen) || !chosen.isValid()) return;
    SetMemo1Colors(FMemo1FontColor, ValueFromColor(chosen));
    if (log) log->SetBackgroundColor(chosen);
}

QPalette TSplitViewForm::LogSystemPalette()
{
    return QApplication::style()->standardPalette();
}

void TSplitViewForm::ApplyParentColors()
{
    const QList<QWidget*> all = findChildren<QWidget*>();
    for (QWidget* w : all)
        if (qobject_cast<QGroupBox*>(w) || w->objectName().startsWith(u"Panel"_s)) {
            if (QWidget* parent = w->parentWidget()) w->setBackgroundRole(parent->backgroundRole());
            w->setAutoFillBackground(true);
        }
}
