#include "TCvPreferencesPanel.h"

#include "CvCodecs.h"
#include "CvLanguage.h"
#include "CvPreferenceDialogs.h"
#include "CvSettings.h"
#include "CvThemes.h"
#include "CvWidgets.h"
#include "TCvComPortObj.h"
#include "TUpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const TCaption kMsTime = {u"时间信息精确到毫秒"_s, u"Milliseconds In The Time Stamp"_s};
const TCaption kHexGap = {u"十六进制接收停顿后换行(毫秒)"_s, u"Hexadecimal: New Line After A Pause (ms)"_s};

// The theme in use, application-wide like the style itself, and the style it set: a
// style set elsewhere makes the name stale.
QString gThemeName;
QPointer<QStyle> gThemeStyle;

void AddRow(QGridLayout* grid, QLabel* label, QWidget* field)
{
    const int r = grid->rowCount();
    // Long captions wrap, so the page fits the side panel instead of cutting off its fields.
    label->setWordWrap(true);
    grid->addWidget(label, r, 0);
    grid->addWidget(field, r, 1);
}

int HexCountOf(int position)
{
    return position == 0 ? 16 : position == 1 ? 32 : 0;
}

} // namespace

TCvPreferencesPanel::TCvPreferencesPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"PreferencesPanel"_s);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    // As in the page's column, whose spacing a nested grid would take.
    grid->setSpacing(4);
    grid->setColumnStretch(1, 1);
    const auto wide = [grid](QWidget* w) { grid->addWidget(w, grid->rowCount(), 0, 1, 2); };

    FcbxVclStyles = NewComboBox(u"cbxVclStyles"_s);
    FcbxVclStyles->setMaxVisibleItems(18);
    AddRow(grid, NewLabel(u"Label6"_s, u"主题风格"_s), FcbxVclStyles);
    FCheckBox7 = NewCheckBox(u"CheckBox7"_s, u"启用程序窗口背景透明效果"_s, true);
    wide(FCheckBox7);
    FUpDown2 = new TUpDown(u"UpDown2"_s, u"Edit2"_s, 1, 255, 238);
    FUpDown2->Edit()->setReadOnly(true);
    AddRow(grid, NewLabel(u"Label1"_s, u"窗口透明度,值越小越清爽"_s), FUpDown2);
    FCheckBox8 = NewCheckBox(u"CheckBox8"_s, u"自动保存串口数据记录到本地文件"_s, false);
    wide(FCheckBox8);
    FUpDown5 = new TUpDown(u"UpDown5"_s, u"Edit3"_s, 5, 32766, 10);
    FUpDown5->Edit()->setReadOnly(true);
    FUpDown5->setToolTip(u"单位秒"_s);
    AddRow(grid, NewLabel(u"Label3"_s, u"自动保存串口记录秒间隔"_s), FUpDown5);
    FButton6 = NewButton(u"Button6"_s, u"打开配置文件所在的目录"_s);
    wide(FButton6);
    FButton5 = NewButton(u"Button5"_s, u"清除串口缓存"_s);
    wide(FButton5);
    FCheckBox2 = NewCheckBox(u"CheckBox2"_s, u"始终保持在所有窗口的最顶层"_s, false);
    wide(FCheckBox2);
    FCheckBox25 = NewCheckBox(u"CheckBox25"_s, u"发送和接收记录前面显示时间信息"_s, false);
    wide(FCheckBox25);
    FCheckBox3 = NewCheckBox(u"CheckBox3"_s, u"发送和接收记录前面显示年月日期"_s, false);
    wide(FCheckBox3);
    FCheckBoxMsTime = NewCheckBox(u"CheckBoxMsTime"_s, u"时间信息精确到毫秒"_s, false);
    wide(FCheckBoxMsTime);
    FCheckBox4 = NewCheckBox(u"CheckBox4"_s, u"数据记录前面显示行号"_s, true);
    wide(FCheckBox4);
    FCheckBox5 = NewCheckBox(u"CheckBox5"_s, u"显示串口正在发送的数据"_s, true);
    wide(FCheckBox5);
    FCheckBox9 = NewCheckBox(u"CheckBox9"_s, u"十六进制格式接收附加字符解析"_s, true);
    wide(FCheckBox9);
    FComboBox8 = NewComboBox(u"ComboBox8"_s,
                             {u"Hexadecimal 16Bytes Align"_s, u"Hexadecimal 32Bytes Align"_s, u"None"_s});
    wide(FComboBox8);
    FCheckBoxHexGap = NewCheckBox(u"CheckBoxHexGap"_s, u"十六进制接收停顿后换行(毫秒)"_s, false);
    FSpinHexGapMs = Named(new QSpinBox, u"SpinHexGapMs"_s);
    FSpinHexGapMs->setRange(1, 60000);
    FSpinHexGapMs->setValue(20);
    FSpinHexGapMs->setToolTip(u"ms"_s);
    wide(FCheckBoxHexGap);
    wide(FSpinHexGapMs);
    FCheckBox6 = NewCheckBox(u"CheckBox6"_s, u"Switch To English Language"_s, false);
    wide(FCheckBox6);
    FCheckBox1 = NewCheckBox(u"CheckBox1"_s, u"创建桌面快捷方式"_s, true);
    wide(FCheckBox1);
    FCheckBox12 = NewCheckBox(u"CheckBox12"_s, u"字符串解析兼容UNICODE编码 "_s, true);
    wide(FCheckBox12);
    FCheckBox12->setChecked(kDefaultTextEncoding != TTextEncoding::Bytes);
    const QList<QComboBox*> lists = findChildren<QComboBox*>();
    for (QComboBox* box : lists) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(8);
    }
    FTimer2 = Named(new QTimer(this), u"Timer2"_s);
    FTimer2->setInterval(10000);

    connect(FCheckBox7, &QCheckBox::toggled, this, &TCvPreferencesPanel::CheckBox7Click);
    connect(FUpDown2, &QSpinBox::valueChanged, this, &TCvPreferencesPanel::UpDown2Changing);
    connect(FCheckBox8, &QCheckBox::toggled, this, &TCvPreferencesPanel::CheckBox8Click);
    connect(FUpDown5, &QSpinBox::valueChanged, this, &TCvPreferencesPanel::UpDown5Changing);
    connect(FButton6, &QPushButton::clicked, this, &TCvPreferencesPanel::Button6Click);
    connect(FCheckBox2, &QCheckBox::toggled, this, &TCvPreferencesPanel::StaysOnTopChanged);
    connect(FcbxVclStyles, &QComboBox::activated, this, &TCvPreferencesPanel::cbxVclStylesChange);
    connect(FCheckBox6, &QCheckBox::toggled, this, &TCvPreferencesPanel::LanguageToggled);
    connect(FButton5, &QPushButton::clicked, this, &TCvPreferencesPanel::ClearCacheClicked);
    connect(FTimer2, &QTimer::timeout, this, &TCvPreferencesPanel::AutoSaveDue);
    // User choices only: the window sets these boxes from a port object.
    for (QCheckBox* box : {FCheckBox3, FCheckBox4, FCheckBox5, FCheckBox9, FCheckBox25})
        connect(box, &QCheckBox::clicked, this, &TCvPreferencesPanel::DisplayClicked);
    connect(FComboBox8, &QComboBox::activated, this, &TCvPreferencesPanel::DisplayClicked);
    connect(FCheckBox12, &QCheckBox::clicked, this, &TCvPreferencesPanel::UnicodeClicked);
    connect(FCheckBoxMsTime, &QCheckBox::toggled, this, &TCvPreferencesPanel::DebugOptionsChanged);
    connect(FCheckBoxHexGap, &QCheckBox::toggled, this, &TCvPreferencesPanel::DebugOptionsChanged);
    connect(FSpinHexGapMs, &QSpinBox::valueChanged, this, &TCvPreferencesPanel::DebugOptionsChanged);
}

// ---- themes ----

QStringList TCvPreferencesPanel::GetStyleNames()
{
    // Fusion is the plain look and comes first; our colour themes follow the styles.
    QStringList names = QStyleFactory::keys();
    const qsizetype fusion = names.indexOf(u"Fusion"_s, 0);
    if (fusion > 0) names.move(fusion, 0);
    for (const TCvTheme& t : CvThemes()) names << t.Name;
    return names;
}

QString TCvPreferencesPanel::GetStyleNameByIndex(int Index)
{
    return GetStyleNames().value(Index);
}

QString TCvPreferencesPanel::CurrentThemeName()
{
    QStyle* active = QApplication::style();
    return gThemeName.isEmpty() || active != gThemeStyle ? active->name() : gThemeName;
}

void TCvPreferencesPanel::ApplyStyleByName(const QString& Name)
{
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

void TCvPreferencesPanel::FillStyles()
{
    FcbxVclStyles->addItems(GetStyleNames());
    const int active = FcbxVclStyles->findText(QApplication::style()->name(), Qt::MatchFixedString);
    FcbxVclStyles->setCurrentIndex(active >= 0 ? active : 0);
}

void TCvPreferencesPanel::cbxVclStylesChange()
{
    const QString name = FcbxVclStyles->currentText();
    if (name.isEmpty()) return;
    if (CurrentThemeName().compare(name, Qt::CaseInsensitive) != 0) ApplyStyleByName(name);
    window()->update();
}

// ---- the window ----

void TCvPreferencesPanel::CheckBox7Click()
{
    FAlphaBlend = FCheckBox7->isChecked();
    FAlphaBlendValue = FUpDown2->Position();
    emit OpacityChanged(FAlphaBlend ? FAlphaBlendValue / 255.0 : 1.0);
}

void TCvPreferencesPanel::UpDown2Changing(int NewValue)
{
    FAlphaBlendValue = NewValue;
    if (FAlphaBlend) emit OpacityChanged(NewValue / 255.0);
}

void TCvPreferencesPanel::CheckBox8Click()
{
    if (FCheckBox8->isChecked()) FTimer2->start();
    else FTimer2->stop();
}

void TCvPreferencesPanel::UpDown5Changing(int NewValue)
{
    FTimer2->setInterval(NewValue * 1000);
}

void TCvPreferencesPanel::Button6Click()
{
    OpenFolder(FFolder ? FFolder() : QString());
}

bool TCvPreferencesPanel::English() const
{
    return FCheckBox6->isChecked();
}
void TCvPreferencesPanel::SetEnglish(bool On)
{
    FCheckBox6->setChecked(On);
}
bool TCvPreferencesPanel::CreateShortcutAtClose() const
{
    return FCheckBox1->isChecked();
}

void TCvPreferencesPanel::ApplyCaptions(const QString& Lang)
{
    FCheckBoxMsTime->setText(Pick(kMsTime, Lang));
    FCheckBoxHexGap->setText(Pick(kHexGap, Lang));
}

// ---- the ports' logs ----

TCvDisplayOptions TCvPreferencesPanel::Display() const
{
    return {FCheckBox3->isChecked(),
            FCheckBox25->isChecked(),
            FCheckBox4->isChecked(),
            FCheckBox5->isChecked(),
            FCheckBox9->isChecked(),
            FCheckBox12->isChecked(),
            HexCountOf(FComboBox8->currentIndex())};
}

void TCvPreferencesPanel::ShowDisplay(const TCvComPortObj* Obj)
{
    FCheckBox3->setChecked(Obj->FShowDate);
    FCheckBox25->setChecked(Obj->FShowTime);
    FCheckBox4->setChecked(Obj->FShowLineNumber);
    FCheckBox5->setChecked(Obj->FShowSendedLog);
    FCheckBox9->setChecked(Obj->FHexModeWithString.load());
}

void TCvPreferencesPanel::SetUnicode(bool On)
{
    FCheckBox12->setChecked(On);
}

bool TCvPreferencesPanel::MsTimeStamp() const
{
    return FCheckBoxMsTime->isChecked();
}

void TCvPreferencesPanel::ApplyDebugOptions(TCvComPortObj* Obj) const
{
    Obj->FShowMilliseconds = FCheckBoxMsTime->isChecked();
    Obj->FHexGapMs = FSpinHexGapMs->value();
    Obj->FHexGapLines = FCheckBoxHexGap->isChecked();
}

// ---- Corvane.ini ----

void TCvPreferencesPanel::LoadSettings(const TCvSettings& s)
{
    const TCvPreferences& p = s.Pref;
    FcbxVclStyles->setCurrentIndex(p.Theme >= 0 && p.Theme < FcbxVclStyles->count() ? p.Theme : -1);
    // Setting a check box runs its handler, as a click would.
    FCheckBox4->setChecked(p.SHOWLINENUMBER);
    FCheckBox1->setChecked(p.DESKTOPSHOTCUT);
    FCheckBox7->setChecked(p.ALPHABLEND);
    FCheckBoxMsTime->setChecked(p.MSTIMESTAMP);
    FSpinHexGapMs->setValue(p.HEXGAPMS);
    FCheckBoxHexGap->setChecked(p.HEXGAPLINES);
}

void TCvPreferencesPanel::SaveSettings(TCvSettings& s) const
{
    TCvPreferences& p = s.Pref;
    p.Theme = FcbxVclStyles->currentIndex();
    p.EnglishLanguage = FCheckBox6->isChecked();
    p.DESKTOPSHOTCUT = FCheckBox1->isChecked();
    p.SHOWLINENUMBER = FCheckBox4->isChecked();
    p.ALPHABLEND = FCheckBox7->isChecked();
    p.MSTIMESTAMP = FCheckBoxMsTime->isChecked();
    p.HEXGAPLINES = FCheckBoxHexGap->isChecked();
    p.HEXGAPMS = FSpinHexGapMs->value();
}
