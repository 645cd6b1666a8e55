#pragma once

// Corvane.ini: the single-send grid and the preferences, read once at start-up and
// written once at close. Nothing here touches a widget.

#include <QColor>
#include <QPalette>
#include <QString>
#include <QStringList>

#include <array>

// Colours as the settings file stores them: 0x00BBGGRR for a plain colour,
// 0xFF0000nn for system colour number nn (8 = window text).
using TColorValue = qint32;
constexpr TColorValue SystemColorWindowText = qint32(0xFF000008u);
constexpr TColorValue ColorSilver = 0xC0C0C0;

// A system colour resolves through the palette; an unknown number gives window text.
QColor ColorFromValue(TColorValue value, const QPalette& palette);
TColorValue ValueFromColor(const QColor& color);

struct TCvPreferences {
    int Theme = 0;
    int SV_R_WIDTH = 0;
    int MainFormWidth = 1228;
    int MainFormHeight = 664;
    bool EnglishLanguage = false;
    bool DESKTOPSHOTCUT = true;
    bool SHOWLINENUMBER = false;
    bool SV_LOPEN = false;
    bool SV_ROPEN = false;
    bool ALPHABLEND = false;
    int LOOPCOUNT = 5;
    QString FONTNAME = QStringLiteral("新宋体");
    int FONTSIZE = 14;
    TColorValue FONTCOLOR = ColorSilver;
    TColorValue BACKGROUNDCOLOR = SystemColorWindowText;
    // Options beyond the classic set; each is off (or neutral) by default so the
    // behaviour without them stays as it always was.
    bool MSTIMESTAMP = false; // ".mmm" after the seconds of time prefixes
    bool HEXGAPLINES = false; // hex display: a new line after a receive gap
    int HEXGAPMS = 20;        // that gap, in milliseconds
    bool MODEMDTR = false;    // DTR level set on ports (low: as the port layer sets it by default)
    bool MODEMRTS = false;    // RTS level set on ports (low unless hardware flow control drives it)
    int PULSEMS = 100;        // length of a DTR/RTS pulse
    bool FINDCASE = false;    // find in log: match case
    int CRCKIND = 0;          // checksum calculator: selected kind
    // What ends an ASCII send of the block editor, a grid row and the prompt: 0 none,
    // 1 CR, 2 LF, 3 CR LF.
    int ENDBLOCK = 3;
    int ENDGRID = 3;
    int ENDPROMPT = 0;
    int BREAKMS = 250;        // length of a break sent from the modem panel
    int TRANSFERPROTOCOL = 0; // file transfer: 0 raw, 1 XMODEM, 2 XMODEM-1K, 3 YMODEM, 4 ZMODEM
    QString RECEIVEFOLDER;    // where received files go; empty until one is chosen
};

struct TCvSettings {
    static constexpr int GridRows = 999;
    TCvPreferences Pref;
    // Index r - 1 holds grid row r: column 2 (content) and column 3 (comment).
    std::array<QString, GridRows> Content;
    std::array<QString, GridRows> Comment;
    // The script page's recent files, newest first (section RecentScripts, File1 ...).
    QStringList RecentScripts;
};

inline const QString CustDataSection = QStringLiteral("MyCustData");
inline const QString PreferenceSection = QStringLiteral("MyPreference");
inline const QString RecentScriptsSection = QStringLiteral("RecentScripts");

// False, with Settings untouched, when the file does not exist. Otherwise every key
// is read, a missing or unparsable one giving its default.
bool LoadCorvaneIni(const QString& path, TCvSettings& Settings);

// Writes every grid key, then the preference keys in their fixed order, into the
// file as it stands (other keys and lines stay), through one temporary file renamed
// over the old one. On failure the old file is left as it was and *error says why.
// A file that exists but cannot be read is not replaced: its keys would be lost.
bool SaveCorvaneIni(const QString& path, const TCvSettings& Settings, QString* error = nullptr);
