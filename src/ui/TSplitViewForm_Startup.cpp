#include "TSplitViewForm.h"

#include "TCvScriptPanel.h"

#include "CvCodecs.h"
#include "CvExceptions.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "SafeSave.h"
#include "TCustomComPort.h"
#include "TCvChart.h"
#include "TCvChartPanel.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TSplitterBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace {
// Widths of the controls the side panels are sized from, as designed.
constexpr int kGroupBox1DesignWidth = 308;
constexpr int kButton9DesignWidth = 311;

constexpr int CSIDL_DESKTOP = 0;
constexpr int CSIDL_PERSONAL = 5;
constexpr int CSIDL_COMMON_APPDATA = 35;
} // namespace

void TSplitViewForm::FormCreate()
{
    FDevices->CreateHidController();
    qApp->installEventFilter(this);
    FLoopPanel->PrepareGrid();

    FPortSettings->FillLineLists();

    FPreferences->FillStyles();

    Memo1->Model().Clear();
    SetMemo1Tag(nullptr);
    FChartPanel->Page()->SetCurrentPortProvider(
        [this] { return GetDeciceByFullName(GetCurrentDeviceName()); });
    Chart1->CharInit(false);
    FDevices->HidNames().clear();

    CreateFolders();
    TorvinLoadCfg();

    SV_L->SetOpenedWidth(kGroupBox1DesignWidth + 10);
    SV_R->SetOpenedWidth(kButton9DesignWidth + 10);
    Splitter1->setVisible(SV_R->IsOpened());

    const bool chinese =
        FSystemLocale.language() == QLocale::Chinese && FSystemLocale.territory() == QLocale::China;
    if (chinese) {
        UILanguage = u"CN"_s;
        UpdateUiLaunguage(u"CN"_s);
        PrintBanner(u"CN"_s);
    } else {
        UILanguage = u"EN"_s;
        UpdateUiLaunguage(u"EN"_s);
        PrintBanner(u"EN"_s);
        FPreferences->SetEnglish(true);
    }
    for (const QString& folder : std::as_const(FFolderProblems))
        MainLogPrint(Msg(u"Can not create folder %1"_s).arg(folder));
    ApplyUiFont(UILanguage);
    BuildSystemMenu();
    ApplyParentColors();
    StartDevices();
    Button4Click();
    // The help browser never opens dialogs of its own, so it needs no silent mode.
    FPreferences->cbxVclStylesChange();
    RefillTabSets();

    FPortSettings->FillReceiveFormats();
}

void TSplitViewForm::FormClose()
{
    // A file send or transfer in progress stops first, and says how far it got; so does a script.
    FFileSender->CancelNow();
    FScriptPanel->StopAndWait();
    // Every step is guarded: the window always closes. What could not be written is told in
    // one message, so a full disk or a read-only folder never loses settings or logs silently.
    QStringList failed;
    try {
        if (!projectSave(true)) failed << FLastSaveError;
    } catch (...) {
        qWarning("Saving the settings at close failed: %s", qPrintable(CurrentExceptionText()));
    }
    try {
        failed << MultiComPortSaveLog();
    } catch (...) {
        qWarning("Saving the logs at close failed: %s", qPrintable(CurrentExceptionText()));
    }
    if (!failed.isEmpty()) {
        qWarning("%s", qPrintable(failed.join(u'\n')));
        ShowInformation(FApplicationTitle, failed.join(u'\n'));
    }
    FLoopPanel->ForgetTarget();
    try {
        if (FPreferences->CreateShortcutAtClose())
            CreateShortcut(QCoreApplication::applicationFilePath(), {}, {}, -1);
    } catch (...) {
        qWarning("Creating the desktop shortcut failed: %s", qPrintable(CurrentExceptionText()));
    }
}

QString TSplitViewForm::ConfigFolder()
{
    return GetSpecialFolderPath(CSIDL_COMMON_APPDATA) + u"/My Corvane/"_s;
}

void TSplitViewForm::CreateFolders()
{
    CorvaneCfgDir = ConfigFolder();
    CorvaneCfgDir_LogFileName = CorvaneCfgDir + u"Logs/"_s + GetTimeStampFileName();
    FDevices->SetFolders(CorvaneCfgDir, CorvaneCfgDir_LogFileName);
    // A folder that cannot be made is told once after the banner; reads then give defaults and
    // each write reports its own failure.
    FFolderProblems.clear();
    for (const QString& folder : {CorvaneCfgDir, CorvaneCfgDir + u"Setting"_s, CorvaneCfgDir + u"Logs"_s})
        if (!QDir().mkpath(folder)) FFolderProblems << folder;
}

QString TSplitViewForm::GetTimeStampFileName()
{
    return QDateTime::currentDateTime().toString(u"yyyyMMdd_HHmmss"_s);
}

QString TSplitViewForm::GetSpecialFolderPath(int Csidl)
{
    switch (Csidl) {
    case CSIDL_DESKTOP: return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    case CSIDL_PERSONAL: return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case CSIDL_COMMON_APPDATA: {
        const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        // Never fall back to the file-system root.
        return path.isEmpty() ? QDir::homePath() + u"/.local/share"_s : path;
    }
    default: return {};
    }
}

namespace {
// A value of the Exec key: quoted, with the characters the desktop-entry format reserves escaped.
QString DesktopExecArgument(const QString& path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'%', u"%%"_s);
    // The desktop-entry string rules then double every backslash once more.
    quoted.replace(u'\\', u"\\\\"_s);
    return u'"' + quoted + u'"';
}
} // namespace

bool TSplitViewForm::CreateShortcut(const QString& Target, QString Name, const QString& Folder, int Csidl)
{
    const QFileInfo target(Target);
    if (!target.exists()) return false;
    if (Name.isEmpty()) Name = target.completeBaseName();
    if (Folder.isEmpty() && Csidl == -1) Csidl = CSIDL_DESKTOP;

    QString dir;
    if (Csidl >= 0) {
        dir = GetSpecialFolderPath(Csidl);
        if (dir.isEmpty()) return false;
    } else {
        dir = Folder;
        while (dir.size() > 1 && dir.endsWith(u'/')) dir.chop(1);
        if (!QFileInfo(dir).isDir()) return false;
    }

    const QString path = dir + u'/' + Name + u".desktop"_s;
    const QString entry = u"[Desktop Entry]\n"
                          u"Type=Application\n"
                          u"Version=1.0\n"
                          u"Name="_s +
                          Name + u"\nExec="_s + DesktopExecArgument(target.absoluteFilePath()) +
                          u"\nPath="_s + target.absolutePath() + u"\nTerminal=false\n"_s;
    if (!SaveFileWhole(path, entry.toUtf8())) return false;
    // Launchers are started only when they may be executed.
    QFile::setPermissions(path,
                          QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return true;
}
