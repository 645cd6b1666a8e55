#include "TSplitViewForm.h"

#include "CvPreferenceDialogs.h"
#include "CvThemes.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TUpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDialog>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {
TFontAsker gFontAsker;
TColorAsker gColorAsker;
TFolderOpener gFolderOpener;
// The theme in use, application-wide like the style itself, and the style it set: a
// style set elsewhere makes the name stale.
QString gThemeName;
QPointer<QStyle> gThemeStyle;
} // namespace

void SetFontAsker(TFontAsker asker) {
    gFontAsker = std::move(asker);
}
void SetColorAsker(TColorAsker asker) {
    gColorAsker = std::move(asker);
}
void SetFolderOpener(TFolderOpener opener) {
    gFolderOpener = std::move(opener);
}

bool AskFont(QWidget* parent, const QFont& initial, QFont* chosen) {
    if (gFontAsker) return gFontAsker(parent, initial, chosen);
    bool ok = false;
    const QFont f = QFontDialog::getFont(&ok, initial, parent);
    if (ok) *chosen = f;
    return ok;
}

bool AskColor(QWidget* parent, const QColor& initial, QColor* chosen) {
    if (gColorAsker) return gColorAsker(parent, initial, chosen);
    const QColor c = QColorDialog::getColor(initial, parent);
    if (c.isValid()) *chosen = c;
    return c.isValid();
}

void OpenFolder(const QString& path) {
    if (gFolderOpener)
        gFolderOpener(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TSplitViewForm::ConnectPreferences() {
    connect(CheckBox7, &QCheckBox::toggled, this, &TSplitViewForm::CheckBox7Click);
    connect(UpDown2, &QSpinBox::valueChanged, this, &TSplitViewForm::UpDown2Changing);
    connect(CheckBox8, &QCheckBox::toggled, this, &TSplitViewForm::CheckBox8Click);
    connect(UpDown5, &QSpinBox::valueChanged, this, &TSplitViewForm::UpDown5Changing);
    connect(Button6, &QPushButton::clicked, this, &TSplitViewForm::Button6Click);
    connect(CheckBox2, &QCheckBox::toggled, this, &TSplitViewForm::CheckBox2Click);
    connect(cbxVclStyles, &QComboBox::activated, this, &TSplitViewForm::cbxVclStylesChange);
    // The display options (CheckBox25, 3, 4, 5, 9, ComboBox8, ComboBox6) are wired with the
    // device controls: they write the settings panel into the current device.
    connect(Button12, &QPushButton::clicked, this, &TSplitViewForm::Button12Click);
    connect(Button17, &QPushButton::clicked, this, &TSplitViewForm::Button17Click);
}

void TSplitViewForm::CheckBox7Click() {
    FAlphaBlend = CheckBox7->isChecked();
    FAlphaBlendValue = UpDown2->Position();
    setWindowOpacity(FAlphaBlend ? FAlphaBlendValue / 255.0 : 1.0);
}

void TSplitViewForm::UpDown2Changing(int NewValue) {
    FAlphaBlendValue = NewValue;
    if (FAlphaBlend) setWindowOpacity(NewValue / 255.0);
}

void TSplitViewForm::CheckBox8Click() {
    if (CheckBox8->isChecked())
        Timer2->start();
    else
        Timer2->stop();
}

void TSplitViewForm::UpDown5Changing(int NewValue) {
    Timer2->setInterval(NewValue * 1000);
}

void TSplitViewForm::Button6Click() {
    OpenFolder(CorvaneCfgDir);
}

void TSplitViewForm::CheckBox2Click() {
    SetStaysOnTop(CheckBox2->isChecked());
}

void TSplitViewForm::SetStaysOnTop(bool on) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
    // Changing the window flags hides the window; show it again where it was.
    const QRect where = geometry();
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    setGeometry(where);
    if (visible) show();
}

void TSplitViewForm::Button12Click() {
    TCvComPortObj* port = GetDeciceByFullName(GetCurrentDeviceName());
    TLogMemo* log = port ? TLogMemo::Of(port->LogMemo()) : nullptr;
    QFont chosen;
    if (!AskFont(this, log ? log->font() : Memo1->font(), &chosen)) return;
    Memo1->setFont(chosen);
    if (log) log->setFont(chosen);
}

void TSplitViewForm::Button17Click() {
    TCvComPortObj* port = GetDeciceByFullName(GetCurrentDeviceName());
    TLogMemo* log = port ? TLogMemo::Of(port->LogMemo()) : nullptr;
    QColor chosen;
    if (!AskColor(this, Memo1->BackgroundColor(), &chosen) || !chosen.isValid()) return;
    SetMemo1Colors(FMemo1FontColor, ValueFromColor(chosen));
    if (log) log->SetBackgroundColor(chosen);
}

QPalette TSplitViewForm::LogSystemPalette() {
    return QApplication::style()->standardPalette();
}

QStringList TSplitViewForm::GetStyleNames() const {
    // Fusion is the plain look and comes first; our colour themes follow the styles.
    QStringList names = QStyleFactory::keys();
    const qsizetype fusion = names.indexOf(u"Fusion"_s, 0);
    if (fusion > 0) names.move(fusion, 0);
    for (const TCvTheme& t : CvThemes())
        names << t.Name;
    return names;
}

QString TSplitViewForm::GetStyleNameByIndex(int Index) const {
    return GetStyleNames().value(Index);
}

QString TSplitViewForm::CurrentThemeName() {
    QStyle* active = QApplication::style();
    return gThemeName.isEmpty() || active != gThemeStyle ? active->name() : gThemeName;
}

void TSplitViewForm::ApplyStyleByName(const QString& Name) {
    if (const TCvTheme* theme = FindCvTheme(Name)) {
        if (QApplication::style()->name().compare(u"Fusion"_s, Qt::CaseInsensitive) != 0)
            QApplication::setStyle(u"Fusion"_s);
        QApplication::setPalette(theme->Palette);
        gThemeName = Name;
        gThemeStyle = QApplication::style();
        return;
    }
    if (!QStyleFactory::keys().contains(Name, Qt::CaseInsensitive)) return;
    QStyle* s = QStyleFactory::create(Name);
    if (!s) return;
    QApplication::setStyle(s);
    // A style brings its own colours back after one of our themes.
    QApplication::setPalette(s->standardPalette());
    gThemeName = Name;
    gThemeStyle = s;
}

void TSplitViewForm::cbxVclStylesChange() {
    const QString name = cbxVclStyles->currentText();
    if (name.isEmpty()) return;
    if (CurrentThemeName().compare(name, Qt::CaseInsensitive) != 0) ApplyStyleByName(name);
    update();
}

void TSplitViewForm::ApplyParentColors() {
    const QList<QWidget*> all = findChildren<QWidget*>();
    for (QWidget* w : all)
        if (qobject_cast<QGroupBox*>(w) || w->objectName().startsWith(u"Panel"_s)) {
            if (QWidget* parent = w->parentWidget()) w->setBackgroundRole(parent->backgroundRole());
            w->setAutoFillBackground(true);
        }
}
