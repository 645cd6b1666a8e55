#include "CvMessages.h"
#include "CvSettings.h"
#include "IniFile.h"
#include "TLogMemo.h"
#include "TSplitView.h"
#include "TStringGrid.h"
#include "TUpDown.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList ExpectedGridKeys()
{
    QStringList keys;
    for (int r = 1; r <= 999; ++r) keys << QString::number(r) + u"_2"_s << QString::number(r) + u"_3"_s;
    return keys;
}

const QStringList kPreferenceKeys = {
    u"Theme"_s, u"SV_R_WIDTH"_s, u"MainFormWidth"_s, u"MainFormHeight"_s, u"EnglishLanguage"_s,
    u"DESKTOPSHOTCUT"_s, u"SHOWLINENUMBER"_s, u"SV_LOPEN"_s, u"SV_ROPEN"_s, u"ALPHABLEND"_s, u"LOOPCOUNT"_s,
    u"FONTNAME"_s, u"FONTSIZE"_s, u"FONTCOLOR"_s, u"BACKGROUNDCOLOR"_s,
    // options added later, after the classic keys
    u"MSTIMESTAMP"_s, u"HEXGAPLINES"_s, u"HEXGAPMS"_s, u"MODEMDTR"_s, u"MODEMRTS"_s, u"PULSEMS"_s,
    u"FINDCASE"_s, u"CRCKIND"_s, u"ENDBLOCK"_s, u"ENDGRID"_s, u"ENDPROMPT"_s, u"BREAKMS"_s,
    // file transfers
    u"TRANSFERPROTOCOL"_s, u"RECEIVEFOLDER"_s};

} // namespace

class TstSettings : public QObject {
    Q_OBJECT
private slots:
    // Each test starts from the plain look, whatever theme an earlier one applied.
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void firstStartWithoutFile();
    void fileWithoutPreferences();
    void preferenceValues_data();
    void preferenceValues();
    void colours_data();
    void colours();
    void gridCellsWithBlanks();
    void pageControlsRoundTrip_data();
    void pageControlsRoundTrip();
    void writtenFileHasEveryKeyInOrder();
    void unknownKeysStayWhereTheyAre();
    void failedWriteLosesNothing_data();
    void failedWriteLosesNothing();
    void settingsFolderIsAFile();
    void unreadableFileIsNotReplaced();
};

void TstSettings::firstStartWithoutFile()
{
    UiTestEnv env;
    const QString activeStyle = QApplication::style()->name();
    auto w = UiTestEnv::Start("zh_CN");
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBox7"_s)->isChecked());
    QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown2"_s)->Position(), 238);
    QVERIFY(w->AlphaBlend());
    QCOMPARE(w->AlphaBlendValue(), 238);
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->isChecked());
    QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown3"_s)->Position(), 1);
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->isChecked());
    QCOMPARE(Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->currentText().toLower(), activeStyle.toLower());
    QVERIFY(!Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened());
    QVERIFY(!Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened());
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->TextColor(), QColor(0xC0, 0xC0, 0xC0));

    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    w->close();
    const QByteArray text = ReadFile(env.SettingDir() + u"Corvane.ini"_s);
    QCOMPARE(KeysInOrder(text, u"MyCustData"_s), ExpectedGridKeys());
    QCOMPARE(KeysInOrder(text, u"MyPreference"_s), kPreferenceKeys);
}

void TstSettings::fileWithoutPreferences()
{
    UiTestEnv env;
    env.WriteSetting(u"Corvane.ini"_s, "[MyCustData]\r\n1_2=AA BB\r\n");
    auto w = UiTestEnv::Start("zh_CN");
    QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBox7"_s)->isChecked());
    QVERIFY(!w->AlphaBlend());
    QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->isChecked());
    QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown3"_s)->Position(), 5);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->currentIndex(), 0);
    QCOMPARE(w->size(), QSize(1228, 664));
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font().family(), u"新宋体"_s);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font().pointSize(), 14);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(2, 1), u"AA BB"_s);
    // Without line numbers the banner has no prefix.
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Line(0), QString(61, u'#'));
}

void TstSettings::preferenceValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("value");
    QTest::newRow("hex font size") << QByteArray("FONTSIZE=0x1F") << u"fontSize"_s << QVariant(31);
    QTest::newRow("upper-case hex") << QByteArray("FONTSIZE=0X10") << u"fontSize"_s << QVariant(16);
    QTest::newRow("not a number") << QByteArray("FONTSIZE=big") << u"fontSize"_s << QVariant(14);
    QTest::newRow("font name") << QByteArray("FONTNAME=DejaVu Sans Mono") << u"fontName"_s
                               << QVariant(u"DejaVu Sans Mono"_s);
    QTest::newRow("loop count clamped")
        << QByteArray("LOOPCOUNT=999999") << u"loopCount"_s << QVariant(360000);
    QTest::newRow("loop count zero") << QByteArray("LOOPCOUNT=0") << u"loopCount"_s << QVariant(0);
    QTest::newRow("any non-zero is true")
        << QByteArray("SHOWLINENUMBER=7") << u"lineNumbers"_s << QVariant(true);
    QTest::newRow("shortcut off") << QByteArray("DESKTOPSHOTCUT=0") << u"shortcut"_s << QVariant(false);
    QTest::newRow("theme outside the list") << QByteArray("Theme=500") << u"theme"_s << QVariant(-1);
    QTest::newRow("theme 1") << QByteArray("Theme=1") << u"theme"_s << QVariant(1);
    QTest::newRow("width") << QByteArray("MainFormWidth=900") << u"width"_s << QVariant(900);
    QTest::newRow("transparency") << QByteArray("ALPHABLEND=1") << u"alphaBlend"_s << QVariant(true);
    QTest::newRow("left panel open") << QByteArray("SV_LOPEN=1") << u"leftOpen"_s << QVariant(true);
    QTest::newRow("right panel open") << QByteArray("SV_ROPEN=1") << u"rightOpen"_s << QVariant(true);
}

void TstSettings::preferenceValues()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, property);
    QFETCH(QVariant, value);
    UiTestEnv env;
    env.WriteSetting(u"Corvane.ini"_s, "[MyPreference]\r\n" + line + "\r\n");
    auto w = UiTestEnv::Start("en_US");
    QVariant actual;
    if (property == u"fontSize"_s) actual = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font().pointSize();
    else if (property == u"fontName"_s) actual = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->font().family();
    else if (property == u"loopCount"_s) actual = Ui::Find<TUpDown>(*w, u"UpDown3"_s)->Position();
    else if (property == u"lineNumbers"_s) actual = Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->isChecked();
    else if (property == u"shortcut"_s) actual = Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->isChecked();
    else if (property == u"theme"_s) actual = Ui::Find<QComboBox>(*w, u"cbxVclStyles"_s)->currentIndex();
    else if (property == u"width"_s) actual = w->width();
    else if (property == u"alphaBlend"_s) actual = w->AlphaBlend() && w->AlphaBlendValue() == 238;
    else if (property == u"leftOpen"_s) actual = Ui::Find<TSplitView>(*w, u"SV_L"_s)->IsOpened();
    else if (property == u"rightOpen"_s) actual = Ui::Find<TSplitView>(*w, u"SV_R"_s)->IsOpened();
    QCOMPARE(actual, value);
}

void TstSettings::colours_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("role"); // -1: a plain colour
    QTest::addColumn<QColor>("plain");
    QTest::newRow("system window text") << QByteArray("-16777208") << int(QPalette::Text) << QColor();
    QTest::newRow("system window text as hex") << QByteArray("0xFF000008") << int(QPalette::Text) << QColor();
    QTest::newRow("system info background")
        << QByteArray("-16777192") << int(QPalette::ToolTipBase) << QColor();
    QTest::newRow("plain red") << QByteArray("255") << -1 << QColor(255, 0, 0);
    QTest::newRow("plain blue") << QByteArray("0xFF0000") << -1 << QColor(0, 0, 255);
}

void TstSettings::colours()
{
    QFETCH(QByteArray, value);
    QFETCH(int, role);
    QFETCH(QColor, plain);
    UiTestEnv env;
    env.WriteSetting(u"Corvane.ini"_s,
                     "[MyPreference]\r\nBACKGROUNDCOLOR=" + value + "\r\nFONTCOLOR=" + value + "\r\n");
    auto w = UiTestEnv::Start("en_US");
    const QColor expected =
        role < 0 ? plain : w->palette().color(QPalette::Active, QPalette::ColorRole(role));
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->BackgroundColor(), expected);
    QCOMPARE(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->TextColor(), expected);
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    w->close();
    // A system colour is written back as the system colour, not as what it looked like.
    TIniFile ini;
    QVERIFY(ini.Load(env.SettingDir() + u"Corvane.ini"_s));
    int parsed = 0;
    QVERIFY(TIniFile::ParseInteger(QString::fromLatin1(value), &parsed));
    QCOMPARE(ini.ReadString(u"MyPreference"_s, u"BACKGROUNDCOLOR"_s), QString::number(parsed));
}

void TstSettings::gridCellsWithBlanks()
{
    UiTestEnv env;
    {
        auto w = UiTestEnv::Start("zh_CN");
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"  AA BB  "_s);
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(3, 1, u" note"_s);
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(1, 1, u"1"_s);
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 999, u"last row"_s);
        Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
        w->close();
    }
    const QByteArray text = ReadFile(env.SettingDir() + u"Corvane.ini"_s);
    QVERIFY(text.contains("\r\n1_2=  AA BB  \r\n1_3= note\r\n2_2=\r\n"));
    QVERIFY(text.contains("\r\n999_2=last row\r\n"));

    auto w = UiTestEnv::Start("zh_CN");
    // Read back as the profile rules return it: without the outer blanks.
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(2, 1), u"AA BB"_s);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(3, 1), u"note"_s);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(2, 999), u"last row"_s);
    QCOMPARE(Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->Cells(1, 1), QString());
}

// Each settings page writes its own controls into Corvane.ini and reads them back.
void TstSettings::pageControlsRoundTrip_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("grid ending") << u"ComboBoxEndGrid"_s << 1 << QByteArray("ENDGRID=1");
    QTest::newRow("loop count") << u"UpDown3"_s << 42 << QByteArray("LOOPCOUNT=42");
    QTest::newRow("prompt ending") << u"ComboBoxEndPrompt"_s << 2 << QByteArray("ENDPROMPT=2");
    QTest::newRow("transfer protocol") << u"ComboTransferProtocol"_s << 3 << QByteArray("TRANSFERPROTOCOL=3");
    QTest::newRow("theme") << u"cbxVclStyles"_s << 1 << QByteArray("Theme=1");
    QTest::newRow("line numbers") << u"CheckBox4"_s << 0 << QByteArray("SHOWLINENUMBER=0");
    QTest::newRow("transparency") << u"CheckBox7"_s << 0 << QByteArray("ALPHABLEND=0");
    QTest::newRow("ms time") << u"CheckBoxMsTime"_s << 1 << QByteArray("MSTIMESTAMP=1");
    QTest::newRow("hex gap lines") << u"CheckBoxHexGap"_s << 1 << QByteArray("HEXGAPLINES=1");
    QTest::newRow("hex gap ms") << u"SpinHexGapMs"_s << 250 << QByteArray("HEXGAPMS=250");
}

void TstSettings::pageControlsRoundTrip()
{
    QFETCH(QString, control);
    QFETCH(int, value);
    QFETCH(QByteArray, line);
    const auto set = [](QObject* o, int v) {
        if (auto* box = qobject_cast<QComboBox*>(o)) box->setCurrentIndex(v);
        else if (auto* check = qobject_cast<QCheckBox*>(o)) check->setChecked(v != 0);
        else if (auto* spin = qobject_cast<QSpinBox*>(o)) spin->setValue(v);
    };
    const auto get = [](const QObject* o) {
        if (auto* box = qobject_cast<const QComboBox*>(o)) return box->currentIndex();
        if (auto* check = qobject_cast<const QCheckBox*>(o)) return int(check->isChecked());
        if (auto* spin = qobject_cast<const QSpinBox*>(o)) return spin->value();
        return -1;
    };
    UiTestEnv env;
    {
        auto w = UiTestEnv::Start("en_US");
        QVERIFY(get(Ui::Find(*w, control)) != value);
        set(Ui::Find(*w, control), value);
        Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
        w->close();
    }
    QVERIFY(ReadFile(env.SettingDir() + u"Corvane.ini"_s).contains("\r\n" + line + "\r\n"));
    auto w = UiTestEnv::Start("en_US");
    QCOMPARE(get(Ui::Find(*w, control)), value);
}

void TstSettings::writtenFileHasEveryKeyInOrder()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Corvane.ini"_s);
    TCvSettings s;
    s.Content[0] = u"first"_s;
    s.Comment[998] = u"备注"_s;
    s.Pref.Theme = 3;
    s.Pref.BACKGROUNDCOLOR = SystemColorWindowText;
    s.Pref.FONTNAME = u"新宋体"_s;
    QVERIFY(SaveCorvaneIni(path, s));
    const QByteArray text = ReadFile(path);
    QCOMPARE(KeysInOrder(text, u"MyCustData"_s), ExpectedGridKeys());
    QCOMPARE(KeysInOrder(text, u"MyPreference"_s), kPreferenceKeys);
    QVERIFY(text.startsWith("[MyCustData]\r\n1_2=first\r\n"));
    QVERIFY(text.contains("999_3=备注\r\n[MyPreference]\r\nTheme=3\r\n"));
    QVERIFY(text.contains(
        "\r\nFONTNAME=新宋体\r\nFONTSIZE=14\r\nFONTCOLOR=12632256\r\nBACKGROUNDCOLOR=-16777208\r\n"));

    TCvSettings back;
    QVERIFY(LoadCorvaneIni(path, back));
    QCOMPARE(back.Content[0], u"first"_s);
    QCOMPARE(back.Comment[998], u"备注"_s);
    QCOMPARE(back.Pref.Theme, 3);
    QCOMPARE(back.Pref.BACKGROUNDCOLOR, SystemColorWindowText);
}

void TstSettings::unknownKeysStayWhereTheyAre()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Corvane.ini"_s);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("; mine\r\n[MyPreference]\r\nmyKey=kept\r\nFONTSIZE=20\r\n[Other]\r\nx=1\r\n");
    }
    TCvSettings s;
    QVERIFY(SaveCorvaneIni(path, s));
    const QByteArray text = ReadFile(path);
    QVERIFY(text.startsWith("; mine\r\n[MyPreference]\r\nmyKey=kept\r\nFONTSIZE=14\r\nTheme=0\r\n"));
    QVERIFY(text.contains("[Other]\r\nx=1\r\n"));
    QCOMPARE(KeysInOrder(text, u"MyCustData"_s), ExpectedGridKeys());
}

void TstSettings::failedWriteLosesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("read-only folder") << u"readonly"_s;
    QTest::newRow("file size limit (full disk)") << u"fsize"_s;
}

void TstSettings::failedWriteLosesNothing()
{
    QFETCH(QString, how);
    UiTestEnv env;
    QByteArray before;
    {
        auto w = UiTestEnv::Start("zh_CN");
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"kept"_s);
        Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
        w->close();
        before = ReadFile(env.SettingDir() + u"Corvane.ini"_s);
    }
    QVERIFY(before.contains("1_2=kept"));

    auto w = UiTestEnv::Start("zh_CN");
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, QString(4000, u'x'));
    bool written = true;
    if (how == u"readonly"_s) {
        QFile::setPermissions(env.SettingDir(), QFile::ReadOwner | QFile::ExeOwner);
        written = w->projectSave(true);
        QFile::setPermissions(env.SettingDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (written)
            QSKIP(
                "This user writes into read-only folders (root); the size-limit row covers a failed write.");
    } else {
        // The temporary file cannot grow past the limit, as on a full disk.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 2048;
        setrlimit(RLIMIT_FSIZE, &small);
        written = w->projectSave(true);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    QVERIFY(!written);
    // In the window's language (Chinese here).
    QVERIFY(w->LastSaveError().startsWith(Msg(u"Unable to write to %1"_s).section(u'%', 0, 0)));
    QCOMPARE(ReadFile(env.SettingDir() + u"Corvane.ini"_s), before);
    QCOMPARE(QDir(env.SettingDir()).entryList(QDir::Files),
             QStringList({u"Corvane.ini"_s, u"Lang_CN.ini"_s}));
}

void TstSettings::settingsFolderIsAFile()
{
    UiTestEnv env;
    QDir().mkpath(env.CfgDir());
    {
        QFile f(env.CfgDir() + u"Setting"_s);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a folder");
    }
    auto w = UiTestEnv::Start("en_US");
    QCOMPARE(w->UILanguage, u"EN"_s);
    QCOMPARE(Ui::Find<QPushButton>(*w, u"Button3"_s)->text(), u"StopSend"_s);
    QVERIFY(!w->projectSave(true));
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    w->close();
    QCOMPARE(ReadFile(env.CfgDir() + u"Setting"_s), QByteArray("not a folder"));
}

void TstSettings::unreadableFileIsNotReplaced()
{
    UiTestEnv env;
    // Larger than any settings file of ours: refused on reading, so not overwritten.
    env.WriteSetting(u"Corvane.ini"_s, QByteArray(TIniFile::MaxFileBytes + 1, 'a'));
    auto w = UiTestEnv::Start("zh_CN");
    QVERIFY(!w->projectSave(true));
    QCOMPARE(QFileInfo(env.SettingDir() + u"Corvane.ini"_s).size(), TIniFile::MaxFileBytes + 1);
}

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
