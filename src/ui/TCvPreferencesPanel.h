#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTimer;
class TCvComPortObj;
class TUpDown;
struct TCvSettings;

// What the preferences page says about a port's log: prefixes, the echo of sent data,
// hex layout and text (CheckBox12 unticked: one character per byte).
struct TCvDisplayOptions {
    bool ShowDate = false;
    bool ShowTime = false;
    bool ShowLineNumber = true;
    bool ShowSended = true;
    bool HexWithString = true;
    bool Unicode = true;
    int HexCount = 16; // bytes per hex line; 0: no alignment
};

// The preferences page (Notebook1's second page): theme (cbxVclStyles), transparency
// (CheckBox7, UpDown2), auto-save of the logs (CheckBox8, UpDown5, Timer2), the display
// options of the logs, the debugging options (CheckBoxMsTime, CheckBoxHexGap,
// SpinHexGapMs), the language switch (CheckBox6), the desktop shortcut (CheckBox1), the
// configuration folder (Button6) and the port-cache clear (Button5). What acts on the
// window or the ports goes out as signals.
class TCvPreferencesPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCvPreferencesPanel(QWidget* parent = nullptr);

    // The folder Button6 opens.
    void SetFolder(std::function<QString()> Provider) { FFolder = std::move(Provider); }

    // Themes: the styles Qt has, Fusion first, then our colour themes.
    static QStringList GetStyleNames();
    // Empty when Index lies outside the list.
    static QString GetStyleNameByIndex(int Index);
    // Application-wide; an unknown name changes nothing.
    static void ApplyStyleByName(const QString& Name);
    // The style or colour theme in use.
    static QString CurrentThemeName();
    // The list shows the style in use.
    void FillStyles();

    void ApplyCaptions(const QString& Lang);
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;

    TCvDisplayOptions Display() const;
    // What an open port shows, into the boxes.
    void ShowDisplay(const TCvComPortObj* Obj);
    void SetUnicode(bool On);
    // The time-stamp and gap options to a port object.
    void ApplyDebugOptions(TCvComPortObj* Obj) const;
    bool MsTimeStamp() const;
    bool English() const;
    void SetEnglish(bool On);
    bool CreateShortcutAtClose() const;
    // Transparency as asked for; platforms without window opacity (offscreen) ignore it.
    bool AlphaBlend() const { return FAlphaBlend; }
    int AlphaBlendValue() const { return FAlphaBlendValue; }

    void cbxVclStylesChange();
    void CheckBox7Click();
    void UpDown2Changing(int NewValue);
    void CheckBox8Click();
    void UpDown5Changing(int NewValue);
    void Button6Click();

signals:
    void OpacityChanged(qreal Opacity);
    void StaysOnTopChanged(bool On);
    void LanguageToggled();
    // A display option or CheckBox12 changed by the user.
    void DisplayClicked();
    void UnicodeClicked();
    void DebugOptionsChanged();
    void ClearCacheClicked();
    // Timer2: the open ports' logs are due to be saved.
    void AutoSaveDue();

private:
    QComboBox* FcbxVclStyles;
    QCheckBox* FCheckBox7;
    TUpDown* FUpDown2;
    QCheckBox* FCheckBox8;
    TUpDown* FUpDown5;
    QPushButton* FButton6;
    QPushButton* FButton5;
    QCheckBox* FCheckBox2;
    QCheckBox* FCheckBox25;
    QCheckBox* FCheckBox3;
    QCheckBox* FCheckBoxMsTime;
    QCheckBox* FCheckBox4;
    QCheckBox* FCheckBox5;
    QCheckBox* FCheckBox9;
    QComboBox* FComboBox8;
    QCheckBox* FCheckBoxHexGap;
    QSpinBox* FSpinHexGapMs;
    QCheckBox* FCheckBox6;
    QCheckBox* FCheckBox1;
    QCheckBox* FCheckBox12;
    QTimer* FTimer2;
    bool FAlphaBlend = false;
    int FAlphaBlendValue = 255;
    std::function<QString()> FFolder;
};
