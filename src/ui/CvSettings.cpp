#include "CvSettings.h"

#include "CvMessages.h"
#include "IniFile.h"

#include <QFileInfo>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// System colour numbers as the settings file counts them, mapped to palette roles.
bool RoleOfSystemColor(int number, QPalette::ColorGroup* group, QPalette::ColorRole* role)
{
    *group = QPalette::Active;
    switch (number) {
    case 0: *role = QPalette::Mid; return true;  // scroll bar
    case 1: *role = QPalette::Dark; return true; // desktop
    case 2:
    case 13:
    case 29: *role = QPalette::Highlight; return true; // active caption, highlight, menu highlight
    case 3:
    case 28: *role = QPalette::Midlight; return true; // inactive caption
    case 4:
    case 15:
    case 30: *role = QPalette::Button; return true; // menu, button face, menu bar
    case 5: *role = QPalette::Base; return true;    // window
    case 6:
    case 16: *role = QPalette::Dark; return true;      // window frame, button shadow
    case 7: *role = QPalette::WindowText; return true; // menu text
    case 8: *role = QPalette::Text; return true;       // window text
    case 9:
    case 14: *role = QPalette::HighlightedText; return true; // caption text, highlight text
    case 10:
    case 11:
    case 22: *role = QPalette::Midlight; return true; // borders, 3D light
    case 12: *role = QPalette::Window; return true;   // application workspace
    case 17:
        *group = QPalette::Disabled;
        *role = QPalette::Text;
        return true; // grey text
    case 18: *role = QPalette::ButtonText; return true;
    case 19:
        *group = QPalette::Inactive;
        *role = QPalette::WindowText;
        return true;
    case 20: *role = QPalette::Light; return true;       // button highlight
    case 21: *role = QPalette::Shadow; return true;      // 3D dark shadow
    case 23: *role = QPalette::ToolTipText; return true; // info text
    case 24: *role = QPalette::ToolTipBase; return true; // info background
    case 26: *role = QPalette::Link; return true;        // hot light
    case 27: *role = QPalette::Highlight; return true;
    default: return false;
    }
}

} // namespace

QColor ColorFromValue(TColorValue value, const QPalette& palette)
{
    const quint32 v = quint32(value);
    if ((v & 0xFF000000u) == 0xFF000000u) {
        QPalette::ColorGroup group;
        QPalette::ColorRole role;
        if (!RoleOfSystemColor(int(v & 0xFFu), &group, &role)) {
            group = QPalette::Active;
            role = QPalette::Text;
        }
        return palette.color(group, role);
    }
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

TColorValue ValueFromColor(const QColor& color)
{
    return TColorValue(color.red() | (color.green() << 8) | (color.blue() << 16));
}

bool LoadCorvaneIni(const QString& path, TCvSettings& Settings)
{
    if (!QFileInfo(path).isFile()) return false;
    TIniFile ini;
    ini.Load(path);
    for (int r = 1; r <= TCvSettings::GridRows; ++r) {
        Settings.Content[r - 1] = ini.ReadString(CustDataSection, QString::number(r) + u"_2"_s);
        Settings.Comment[r - 1] = ini.ReadString(CustDataSection, QString::number(r) + u"_3"_s);
    }
    const TCvPreferences d;
    TCvPreferences& p = Settings.Pref;
    const QString& s = PreferenceSection;
    p.Theme = ini.ReadInteger(s, u"Theme"_s, d.Theme);
    p.SV_R_WIDTH = ini.ReadInteger(s, u"SV_R_WIDTH"_s, d.SV_R_WIDTH);
    p.MainFormWidth = ini.ReadInteger(s, u"MainFormWidth"_s, d.MainFormWidth);
    p.MainFormHeight = ini.ReadInteger(s, u"MainFormHeight"_s, d.MainFormHeight);
    p.EnglishLanguage = ini.ReadBool(s, u"EnglishLanguage"_s, d.EnglishLanguage);
    p.DESKTOPSHOTCUT = ini.ReadBool(s, u"DESKTOPSHOTCUT"_s, d.DESKTOPSHOTCUT);
    p.SHOWLINENUMBER = ini.ReadBool(s, u"SHOWLINENUMBER"_s, d.SHOWLINENUMBER);
    p.SV_LOPEN = ini.ReadBool(s, u"SV_LOPEN"_s, d.SV_LOPEN);
    p.SV_ROPEN = ini.ReadBool(s, u"SV_ROPEN"_s, d.SV_ROPEN);
    p.ALPHABLEND = ini.ReadBool(s, u"ALPHABLEND"_s, d.ALPHABLEND);
    p.LOOPCOUNT = ini.ReadInteger(s, u"LOOPCOUNT"_s, d.LOOPCOUNT);
    p.FONTNAME = ini.ReadString(s, u"FONTNAME"_s, d.FONTNAME);
    p.FONTSIZE = ini.ReadInteger(s, u"FONTSIZE"_s, d.FONTSIZE);
    p.FONTCOLOR = ini.ReadInteger(s, u"FONTCOLOR"_s, d.FONTCOLOR);
    p.BACKGROUNDCOLOR = ini.ReadInteger(s, u"BACKGROUNDCOLOR"_s, d.BACKGROUNDCOLOR);
    p.MSTIMESTAMP = ini.ReadBool(s, u"MSTIMESTAMP"_s, d.MSTIMESTAMP);
    p.HEXGAPLINES = ini.ReadBool(s, u"HEXGAPLINES"_s, d.HEXGAPLINES);
    p.HEXGAPMS = std::clamp(ini.ReadInteger(s, u"HEXGAPMS"_s, d.HEXGAPMS), 1, 60000);
    p.MODEMDTR = ini.ReadBool(s, u"MODEMDTR"_s, d.MODEMDTR);
    p.MODEMRTS = ini.ReadBool(s, u"MODEMRTS"_s, d.MODEMRTS);
    p.PULSEMS = std::clamp(ini.ReadInteger(s, u"PULSEMS"_s, d.PULSEMS), 1, 10000);
    p.FINDCASE = ini.ReadBool(s, u"FINDCASE"_s, d.FINDCASE);
    p.CRCKIND = std::clamp(ini.ReadInteger(s, u"CRCKIND"_s, d.CRCKIND), 0, 4);
    p.ENDBLOCK = std::clamp(ini.ReadInteger(s, u"ENDBLOCK"_s, d.ENDBLOCK), 0, 3);
    p.ENDGRID = std::clamp(ini.ReadInteger(s, u"ENDGRID"_s, d.ENDGRID), 0, 3);
    p.ENDPROMPT = std::clamp(ini.ReadInteger(s, u"ENDPROMPT"_s, d.ENDPROMPT), 0, 3);
    p.BREAKMS = std::clamp(ini.ReadInteger(s, u"BREAKMS"_s, d.BREAKMS), 1, 10000);
    Settings.RecentScripts.clear();
    for (int i = 1; i <= 8; ++i) {
        const QString file = ini.ReadString(RecentScriptsSection, u"File%1"_s.arg(i));
        if (!file.isEmpty()) Settings.RecentScripts << file;
    }
    p.TRANSFERPROTOCOL = std::clamp(ini.ReadInteger(s, u"TRANSFERPROTOCOL"_s, d.TRANSFERPROTOCOL), 0, 4);
    p.RECEIVEFOLDER = ini.ReadString(s, u"RECEIVEFOLDER"_s, d.RECEIVEFOLDER);
    return true;
}

bool SaveCorvaneIni(const QString& path, const TCvSettings& Settings, QString* error)
{
    TIniFile ini;
    if (QFileInfo::exists(path) && !ini.Load(path)) {
        if (error) *error = Msg(u"Unable to write to %1"_s).arg(path);
        return false;
    }
    for (int r = 1; r <= TCvSettings::GridRows; ++r) {
        ini.WriteString(CustDataSection, QString::number(r) + u"_2"_s, Settings.Content[r - 1]);
        ini.WriteString(CustDataSection, QString::number(r) + u"_3"_s, Settings.Comment[r - 1]);
    }
    const TCvPreferences& p = Settings.Pref;
    const QString& s = PreferenceSection;
    ini.WriteInteger(s, u"Theme"_s, p.Theme);
    ini.WriteInteger(s, u"SV_R_WIDTH"_s, p.SV_R_WIDTH);
    ini.WriteInteger(s, u"MainFormWidth"_s, p.MainFormWidth);
    ini.WriteInteger(s, u"MainFormHeight"_s, p.MainFormHeight);
    ini.WriteBool(s, u"EnglishLanguage"_s, p.EnglishLanguage);
    ini.WriteBool(s, u"DESKTOPSHOTCUT"_s, p.DESKTOPSHOTCUT);
    ini.WriteBool(s, u"SHOWLINENUMBER"_s, p.SHOWLINENUMBER);
    ini.WriteBool(s, u"SV_LOPEN"_s, p.SV_LOPEN);
    ini.WriteBool(s, u"SV_ROPEN"_s, p.SV_ROPEN);
    ini.WriteBool(s, u"ALPHABLEND"_s, p.ALPHABLEND);
    ini.WriteInteger(s, u"LOOPCOUNT"_s, p.LOOPCOUNT);
    ini.WriteString(s, u"FONTNAME"_s, p.FONTNAME);
    ini.WriteInteger(s, u"FONTSIZE"_s, p.FONTSIZE);
    ini.WriteInteger(s, u"FONTCOLOR"_s, p.FONTCOLOR);
    ini.WriteInteger(s, u"BACKGROUNDCOLOR"_s, p.BACKGROUNDCOLOR);
    ini.WriteBool(s, u"MSTIMESTAMP"_s, p.MSTIMESTAMP);
    ini.WriteBool(s, u"HEXGAPLINES"_s, p.HEXGAPLINES);
    ini.WriteInteger(s, u"HEXGAPMS"_s, p.HEXGAPMS);
    ini.WriteBool(s, u"MODEMDTR"_s, p.MODEMDTR);
    ini.WriteBool(s, u"MODEMRTS"_s, p.MODEMRTS);
    ini.WriteInteger(s, u"PULSEMS"_s, p.PULSEMS);
    ini.WriteBool(s, u"FINDCASE"_s, p.FINDCASE);
    ini.WriteInteger(s, u"CRCKIND"_s, p.CRCKIND);
    ini.WriteInteger(s, u"ENDBLOCK"_s, p.ENDBLOCK);
    ini.WriteInteger(s, u"ENDGRID"_s, p.ENDGRID);
    ini.WriteInteger(s, u"ENDPROMPT"_s, p.ENDPROMPT);
    ini.WriteInteger(s, u"BREAKMS"_s, p.BREAKMS);
    // Files of users who never ran a script get no section.
    ini.EraseSection(RecentScriptsSection);
    for (int i = 0; i < Settings.RecentScripts.size() && i < 8; ++i)
        ini.WriteString(RecentScriptsSection, u"File%1"_s.arg(i + 1), Settings.RecentScripts[i]);
    ini.WriteInteger(s, u"TRANSFERPROTOCOL"_s, p.TRANSFERPROTOCOL);
    ini.WriteString(s, u"RECEIVEFOLDER"_s, p.RECEIVEFOLDER);
    QString why;
    if (ini.Save(path, &why)) return true;
    if (error)
        *error = why.isEmpty() ? Msg(u"Unable to write to %1"_s).arg(path)
                               : Msg(u"Unable to write to %1: %2"_s).arg(path, why);
    return false;
}
