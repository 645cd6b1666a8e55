#include "CvLanguage.h"
#include "CvMessages.h"
#include "IniFile.h"
#include "PtyPair.h"
#include "TCvComPortObj.h"
#include "THidScriptedBackend.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TStringGrid.h"
#include "TTabSet.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Row {
    QString name, chinese, english;
};

// Row number, control, Chinese caption as designed, English caption.
const QList<Row>& Expected()
{
    static const QList<Row> rows = {
        {u"OPRATION_OPEN"_s, u"打开串口设备"_s, u"Open The Device"_s},
        {u"OPRATION_OPEN2"_s, u"打开 HID 设备"_s, u"Open The HID Device"_s},
        {u"OPRATION_CLOSE"_s, u"关闭设备"_s, u"Close The Device"_s},
        {u"Button4"_s, u"刷新设备"_s, u"Get Ports"_s},
        {u"Label2"_s, u"波特率数"_s, u"Baud Rate"_s},
        {u"Label5"_s, u"校验位数"_s, u"Parity"_s},
        {u"Label9"_s, u"停止位数"_s, u"Stop Bits"_s},
        {u"Label12"_s, u"数据位数"_s, u"Data Bits"_s},
        {u"Label13"_s, u"发送格式"_s, u"SendFormat"_s},
        {u"Label15"_s, u"流控制符"_s, u"FlowControl"_s},
        {u"Button7"_s, u"清除"_s, u"Clear Above"_s},
        {u"Button8"_s, u"发送数据"_s, u"Send Block Content Above"_s},
        {u"CheckBox8"_s, u"自动保存串口数据记录到本地文件"_s, u"Enable Auto Save The Log To File"_s},
        {u"Button6"_s, u"打开配置文件所在的目录"_s, u"Open The Log File Position"_s},
        {u"Button5"_s, u"清除串口缓存"_s, u"Clear Data Logs"_s},
        {u"CheckBox7"_s, u"启用程序窗口背景透明效果"_s, u"Enable Alpha Blend"_s},
        {u"CheckBox2"_s, u"始终保持在所有窗口的最顶层"_s, u"Always Stay At The Top"_s},
        {u"CheckBox25"_s, u"发送和接收记录前面显示时间信息"_s, u"Show The Time Stamp "_s},
        {u"CheckBox3"_s, u"发送和接收记录前面显示年月日期"_s, u"Show The Date Stamp"_s},
        {u"CheckBox4"_s, u"数据记录前面显示行号"_s, u"Show Line Number For Log"_s},
        {u"CheckBox5"_s, u"显示串口正在发送的数据"_s, u"Show The Data You Are Sending"_s},
        {u"Button1"_s, u"循环发送选中的内容"_s, u"Start Loop For Sending Data"_s},
        {u"Button3"_s, u"停止循环"_s, u"StopSend"_s},
        {u"Label14"_s, u"循环发送的次数设置      "_s, u"The Loop Times You Want  "_s},
        {u"Label4"_s, u"循环发送的毫秒间隔"_s, u"The Loop Interval"_s},
        {u"CheckBox19"_s, u"循环发送使能开关，启用循环发送功能"_s, u"Enable The Loop Funtion"_s},
        {u"Label6"_s, u"主题风格"_s, u"Main Style"_s},
        {u"Label7"_s, u"通讯协议"_s, u"Protocol"_s},
        {u"Label8"_s, u"器件地址"_s, u"DevAdress"_s},
        {u"Button9"_s, u"将上面的字符串转换成十六进制字节码"_s, u"Start Converting To Hexade"_s},
        {u"Label10"_s, u"解析格式"_s, u"ReceiveFormat"_s},
        {u"Label11"_s, u"内部地址"_s, u"MemAddress"_s},
        {u"Label1"_s, u"窗口透明度,值越小越清爽"_s, u"Main Form AlphaBlend Value"_s},
        {u"Label3"_s, u"自动保存串口记录秒间隔"_s, u"Second Interval For Auto Saving"_s},
        {u"Button11"_s, u"将下面的十六进制字节码转换成字符串"_s, u"Start Converting To String"_s},
        {u"Button10"_s, u"清除当前串口接收记录的历史数据"_s, u"Clear Received Data Logs"_s},
        {u"CheckBox6"_s, u"Switch To English Language"_s, u"Switch To English Language"_s},
        {u"CheckBox9"_s, u"十六进制格式接收附加字符解析"_s, u"Parse As String When Hexadecimal"_s},
        {u"Button13"_s, u"当前串口接收数据直接存入文件"_s, u"Data Received Direct to File"_s},
        {u"Button14"_s, u"关闭文件"_s, u"FileFinished"_s},
        {u"CheckBox1"_s, u"创建桌面快捷方式"_s, u"Create Desktop Shortcut"_s},
        {u"Button15"_s, u"全屏显示所有数据"_s, u"Show All Point"_s},
        {u"Button16"_s, u"发送操作"_s, u"Do The Operation"_s},
        {u"Button18"_s, u"放大图形 ZOOM OUT"_s, u"Zoom Out"_s},
        {u"Button19"_s, u"缩小图形 ZOOM IN"_s, u"Zoom In"_s},
        {u"ButtonColor1"_s, u"设置图形 1 的颜色"_s, u"Graphic One Color"_s},
        {u"ButtonColor2"_s, u"设置图形 2 的颜色"_s, u"Graphic Two Color"_s},
        {u"Button20"_s, u"将数据导出到EXCEL"_s, u"Export Data To Excel"_s},
        {u"Button21"_s, u"清除图表数据"_s, u"Clear Graphic Data"_s},
        {u"Button22"_s, u"将图形保存为图片"_s, u"Save Graphic to BMP"_s},
        {u"Button23"_s, u"载入文件"_s, u"Load File"_s},
        {u"Button24"_s, u"发送载入的文件流"_s, u"Send The File You Loaded"_s},
        {u"CheckBox10"_s, u"图形跟随向左滚动 "_s, u"Show All Data"_s},
        {u"CheckBox11"_s, u"图形叠加在一起"_s, u"Overlap Graphics"_s},
        {u"Label18"_s, u"操作类型"_s, u"Operation"_s},
        {u"CheckBox12"_s, u"字符串解析兼容UNICODE编码 "_s, u"Compatible To Unicode"_s},
        {u"Button12"_s, u"字体设置"_s, u"Font"_s},
        {u"Button17"_s, u"串口数据区域的字体背景颜色"_s, u"Background Color For Message Log"_s},
        {u"Button25"_s, u"格式化成十六进制格式"_s, u"Format To Hexade"_s},
    };
    return rows;
}

QString Caption(const TSplitViewForm& w, const QString& name)
{
    const QObject* o = w.findChild<QObject*>(name);
    return o ? TSplitViewForm::ControlCaption(o) : u"<missing %1>"_s.arg(name);
}

// Captions read back from a language file lose their outer blanks, as every value does.
void VerifyCaptions(const TSplitViewForm& w, bool english, bool fromFile)
{
    for (int r = 3; r < Expected().size(); ++r) {
        const Row& row = Expected()[r];
        const QString caption = english ? row.english : row.chinese;
        QCOMPARE(Caption(w, row.name), fromFile ? caption.trimmed() : caption);
    }
}

void VerifyTabStrips(const TSplitViewForm& w)
{
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet1"_s)->Tabs(),
             Ui::Find<TNotebook>(w, u"Notebook1"_s)->PageCaptions());
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet2"_s)->Tabs(),
             Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions());
    QCOMPARE(Ui::Find<TTabSet>(w, u"TabSet3"_s)->Tabs(),
             Ui::Find<TNotebook>(w, u"Notebook3"_s)->PageCaptions());
}

QStringList LangKeys(const QString& path)
{
    return KeysInOrder(ReadFile(path), u"LANGUAGE"_s);
}

QStringList AllMessageKeys()
{
    QStringList keys;
    for (int r = 3; r <= 58; ++r) keys << u"MESSAGE_"_s + QString::number(r);
    return keys;
}

} // namespace

class TstLanguage : public QObject {
    Q_OBJECT
private slots:
    void tableMatchesTheDesign();
    void captionLookup_data();
    void captionLookup();
    void langFileCreatedOrRead();
    void startupLanguage_data();
    void startupLanguage();
    void switchingBackAndForth();
    void englishStartThenChinese();
    void incompleteChineseFile_data();
    void incompleteChineseFile();
    void editedMessage22ChangesButton3_data();
    void editedMessage22ChangesButton3();
    void labelsWithoutRowKeepTheirText();
    void fixedTextsFollowTheLanguage();
    void uiFontLeavesTheLogAlone();
    void portBannerFollowsTheLanguage_data();
    void portBannerFollowsTheLanguage();
    void messageTableIsComplete();
    void messagesFollowTheLanguage();
    void plotPageFollowsTheLanguage();
};

void TstLanguage::tableMatchesTheDesign()
{
    const QList<TLang>& table = LangTable();
    QCOMPARE(table.size(), 59);
    for (int r = 0; r < 59; ++r) {
        QCOMPARE(table[r].Name, Expected()[r].name);
        QCOMPARE(table[r].Caption2, Expected()[r].english);
        QCOMPARE(table[r].Caption1, r < 3 ? Expected()[r].chinese : QString());
    }
}

void TstLanguage::captionLookup_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("key");
    QTest::newRow("close CN") << u"OPRATION_CLOSE"_s << u"CN"_s << u"关闭设备"_s << u"MESSAGE_2"_s;
    QTest::newRow("close EN") << u"OPRATION_CLOSE"_s << u"EN"_s << u"Close The Device"_s << u"MESSAGE_2"_s;
    QTest::newRow("other lang is English")
        << u"OPRATION_OPEN"_s << u"xx"_s << u"Open The Device"_s << u"MESSAGE_0"_s;
    QTest::newRow("control CN is empty") << u"Button3"_s << u"CN"_s << QString() << u"MESSAGE_22"_s;
    QTest::newRow("last row") << u"Button25"_s << u"EN"_s << u"Format To Hexade"_s << u"MESSAGE_58"_s;
    QTest::newRow("case matters") << u"button3"_s << u"EN"_s << QString() << QString();
    QTest::newRow("unlisted") << u"Label16"_s << u"EN"_s << QString() << QString();
}

void TstLanguage::captionLookup()
{
    QFETCH(QString, name);
    QFETCH(QString, lang);
    QFETCH(QString, caption);
    QFETCH(QString, key);
    QCOMPARE(GetLangCaption(name, lang), caption);
    QCOMPARE(GetLangKey(name), key);
}

void TstLanguage::langFileCreatedOrRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Lang_EN.ini"_s);
    QList<TCaptionItem> items = {{u"MESSAGE_3"_s, u"Get Ports"_s}, {u"MESSAGE_22"_s, u"StopSend"_s}};
    QVERIFY(!ApplyLangFileTo(path, items));
    QCOMPARE(items[1].Caption, u"StopSend"_s);
    QCOMPARE(ReadFile(path), "[LANGUAGE]\r\nMESSAGE_3=Get Ports\r\nMESSAGE_22=StopSend\r\n");

    TIniFile ini;
    QVERIFY(ini.Load(path));
    ini.WriteString(u"LANGUAGE"_s, u"MESSAGE_22"_s, u"Stop"_s);
    ini.WriteString(u"LANGUAGE"_s, u"MESSAGE_3"_s, QString());
    QVERIFY(ini.Save(path));
    const QByteArray before = ReadFile(path);
    QList<TCaptionItem> again = {
        {u"MESSAGE_3"_s, u"x"_s}, {u"MESSAGE_22"_s, u"y"_s}, {u"MESSAGE_40"_s, u"kept"_s}};
    QVERIFY(ApplyLangFileTo(path, again));
    QCOMPARE(again[0].Caption, QString());
    QCOMPARE(again[1].Caption, u"Stop"_s);
    QCOMPARE(again[2].Caption, u"kept"_s);
    QCOMPARE(ReadFile(path), before);
}

void TstLanguage::startupLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("english");
    QTest::newRow("Chinese (China)") << u"zh_CN"_s << false;
    QTest::newRow("English (US)") << u"en_US"_s << true;
    QTest::newRow("Chinese (Taiwan)") << u"zh_TW"_s << true;
    QTest::newRow("German") << u"de_DE"_s << true;
}

void TstLanguage::startupLanguage()
{
    QFETCH(QString, locale);
    QFETCH(bool, english);
    UiTestEnv env;
    TSplitViewForm w{QLocale(locale)};

    QCOMPARE(w.UILanguage, english ? u"EN"_s : u"CN"_s);
    QCOMPARE(Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->isChecked(), english);
    // English is applied twice at start-up, the second time from the file the first wrote.
    VerifyCaptions(w, english, english);
    QCOMPARE(Ui::Find<QPushButton>(w, u"Button2"_s)->text(),
             english ? u"Open The Device"_s : u"打开串口设备"_s);
    QCOMPARE(w.windowTitle(),
             english ? u"Corvane SerialPort Complex Terminal R2018a"_s : u"CORVANE 科万串口终端"_s);
    VerifyTabStrips(w);

    const QStringList banner = BannerLines(english ? u"EN"_s : u"CN"_s);
    QCOMPARE(Ui::Find<TLogMemo>(w, u"Memo1"_s)->Model().LineCount(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(Ui::Find<TLogMemo>(w, u"Memo1"_s)->Model().Line(i), u"0%1| "_s.arg(i) + banner[i]);
    QCOMPARE(banner[0], QString(61, u'#'));
    QCOMPARE(banner[1], english ? u"Corvane Serial Port Tool"_s : u"CORVANE 科万串口终端"_s);
    QCOMPARE(banner[2], u"Version :4.20"_s);

    const QString created = env.SettingDir() + (english ? u"Lang_EN.ini"_s : u"Lang_CN.ini"_s);
    const QString other = env.SettingDir() + (english ? u"Lang_CN.ini"_s : u"Lang_EN.ini"_s);
    QCOMPARE(LangKeys(created), AllMessageKeys());
    QVERIFY(!QFile::exists(other));
    TIniFile ini;
    QVERIFY(ini.Load(created));
    QCOMPARE(ini.ReadString(u"LANGUAGE"_s, u"MESSAGE_3"_s), english ? u"Get Ports"_s : u"刷新设备"_s);
}

void TstLanguage::switchingBackAndForth()
{
    UiTestEnv env;
    TSplitViewForm w{QLocale(u"zh_CN"_s)};
    Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    QCOMPARE(w.UILanguage, u"EN"_s);
    VerifyCaptions(w, true, false);
    VerifyTabStrips(w);
    QCOMPARE(LangKeys(env.SettingDir() + u"Lang_EN.ini"_s), AllMessageKeys());

    Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    QCOMPARE(w.UILanguage, u"CN"_s);
    VerifyCaptions(w, false, true);
    VerifyTabStrips(w);

    Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    VerifyCaptions(w, true, true);
}

void TstLanguage::englishStartThenChinese()
{
    UiTestEnv env;
    TSplitViewForm w{QLocale(u"en_GB"_s)};
    w.findChild<QCheckBox*>(u"CheckBox6"_s)->click();
    QCOMPARE(w.UILanguage, u"CN"_s);
    // No Chinese file yet: the built-in Chinese captions show and become the Chinese file.
    VerifyCaptions(w, false, false);
    QCOMPARE(w.findChild<QPushButton*>(u"Button4"_s)->text(), u"刷新设备"_s);
    TIniFile ini;
    QVERIFY(ini.Load(env.SettingDir() + u"Lang_CN.ini"_s));
    QCOMPARE(ini.ReadString(u"LANGUAGE"_s, u"MESSAGE_22"_s), u"停止循环"_s);
    for (int r = 3; r < Expected().size(); ++r)
        QCOMPARE(ini.ReadString(u"LANGUAGE"_s, u"MESSAGE_"_s + QString::number(r)),
                 Expected()[r].chinese.trimmed());
    QCOMPARE(LangKeys(env.SettingDir() + u"Lang_CN.ini"_s), AllMessageKeys());
    QCOMPARE(w.windowTitle(), u"CORVANE 科万串口终端"_s);
}

void TstLanguage::incompleteChineseFile_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("Chinese start") << u"zh_CN"_s;
    QTest::newRow("English start, then Chinese") << u"en_US"_s;
}

void TstLanguage::incompleteChineseFile()
{
    QFETCH(QString, locale);
    UiTestEnv env;
    // A file that names two captions only; the others come from the built-in Chinese ones. The
    // English caption an earlier version wrote into it counts as missing.
    const QByteArray file = "[LANGUAGE]\r\nMESSAGE_3=Get Ports\r\nMESSAGE_22=Stop it\r\n";
    env.WriteSetting(u"Lang_CN.ini"_s, file);
    TSplitViewForm w{QLocale(locale)};
    auto* english = w.findChild<QCheckBox*>(u"CheckBox6"_s);
    if (english->isChecked()) english->click();
    QCOMPARE(w.UILanguage, u"CN"_s);
    QCOMPARE(w.findChild<QPushButton*>(u"Button3"_s)->text(), u"Stop it"_s);
    QCOMPARE(w.findChild<QPushButton*>(u"Button4"_s)->text(), u"刷新设备"_s);
    QCOMPARE(w.findChild<QLabel*>(u"Label2"_s)->text(), u"波特率数"_s);
    // An existing file is never rewritten.
    QCOMPARE(ReadFile(env.SettingDir() + u"Lang_CN.ini"_s), file);
}

void TstLanguage::editedMessage22ChangesButton3_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("next start on an English system") << u"en_US"_s;
    QTest::newRow("next switch to English") << u"zh_CN"_s;
}

void TstLanguage::editedMessage22ChangesButton3()
{
    QFETCH(QString, locale);
    UiTestEnv env;
    {
        TSplitViewForm first{QLocale(u"en_US"_s)};
    }
    const QString path = env.SettingDir() + u"Lang_EN.ini"_s;
    TIniFile ini;
    QVERIFY(ini.Load(path));
    QVERIFY(ini.WriteString(u"LANGUAGE"_s, u"MESSAGE_22"_s, u"Stop"_s));
    QVERIFY(ini.Save(path));

    TSplitViewForm w{QLocale(locale)};
    if (!Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->isChecked()) {
        QCOMPARE(Ui::Find<QPushButton>(w, u"Button3"_s)->text(), u"停止循环"_s);
        Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    }
    QCOMPARE(Ui::Find<QPushButton>(w, u"Button3"_s)->text(), u"Stop"_s);
    QCOMPARE(Ui::Find<QPushButton>(w, u"Button1"_s)->text(), u"Start Loop For Sending Data"_s);
}

void TstLanguage::labelsWithoutRowKeepTheirText()
{
    UiTestEnv env;
    TSplitViewForm w{QLocale(u"zh_CN"_s)};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(Ui::Find<QLabel>(w, u"Label16"_s)->text(), u"X:"_s);
        QCOMPARE(Ui::Find<QLabel>(w, u"Label17"_s)->text(), u"Y: "_s);
        QCOMPARE(Ui::Find<QAction>(w, u"CloseTheDevice1"_s)->text(), u"Close Current Device"_s);
        Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    }
}

void TstLanguage::fixedTextsFollowTheLanguage()
{
    UiTestEnv env;
    TSplitViewForm w{QLocale(u"zh_CN"_s)};
    const auto verify = [&w](const TFixedTexts& t) {
        QCOMPARE(w.windowTitle(), t.Title);
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook1"_s)->PageCaptions(), t.Notebook1);
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaptions(),
                 QStringList({t.Notebook2Log, t.Notebook2Graphic, t.Notebook2Help}));
        QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook3"_s)->PageCaptions(), t.Notebook3);
        for (int c = 0; c < 4; ++c)
            QCOMPARE(Ui::Find<TStringGrid>(w, u"StringGrid1"_s)->Cells(c, 0), t.GridHeader[c]);
        QCOMPARE(w.StatusPanels[0]->text(), t.StatusHint);
    };
    verify(FixedTexts(u"CN"_s));
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook3"_s)->PageCaption(0), u"Corvane 数据发送 F2"_s);
    Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    verify(FixedTexts(u"EN"_s));
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook3"_s)->PageCaption(1), u"Normal Send"_s);
    QCOMPARE(Ui::Find<TStringGrid>(w, u"StringGrid1"_s)->Cells(1, 0), u" X"_s);

    // While a device writes into the main log, its page keeps the device's name.
    TCvComPortObj holder(nullptr, u"USB Serial (ttyUSB0)"_s);
    w.SetMemo1Tag(&holder);
    Ui::Find<TNotebook>(w, u"Notebook2"_s)->SetPageCaption(0, holder.FComportFullName);
    Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->click();
    QCOMPARE(Ui::Find<TNotebook>(w, u"Notebook2"_s)->PageCaption(0), u"USB Serial (ttyUSB0)"_s);
    VerifyTabStrips(w);
    w.SetMemo1Tag(nullptr);
}

void TstLanguage::uiFontLeavesTheLogAlone()
{
    UiTestEnv env;
    TSplitViewForm w{QLocale(u"en_US"_s)};
    QCOMPARE(Ui::Find<QPushButton>(w, u"Button4"_s)->font().family(), u"Segoe UI"_s);
    QCOMPARE(Ui::Find<QPushButton>(w, u"Button4"_s)->font().pointSize(), 10);
    QCOMPARE(Ui::Find<QCheckBox>(w, u"CheckBox6"_s)->font().pointSize(), 10);
    QCOMPARE(Ui::Find<TLogMemo>(w, u"Memo1"_s)->font().family(), u"新宋体"_s);
    QCOMPARE(Ui::Find<TLogMemo>(w, u"Memo1"_s)->font().pointSize(), 14);
}

void TstLanguage::portBannerFollowsTheLanguage_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("lang");
    QTest::newRow("Chinese") << u"zh_CN"_s << u"CN"_s;
    QTest::newRow("English") << u"en_US"_s << u"EN"_s;
}

void TstLanguage::portBannerFollowsTheLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, lang);
    UiTestEnv env;
    TSplitViewForm w{QLocale(locale)};
    TCvComPortObj obj(nullptr, u"USB Serial (ttyUSB1)"_s);
    obj.CvComPortObjInit2({}, {}, br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii, rfAscii, nullptr,
                          false, false, false, false, true);
    QWidget page;
    TLogMemo memo(&page);
    obj.SetLogView(&memo);
    Ui::Find<QPlainTextEdit>(w, u"Memo2"_s)->setPlainText(u"AA BB"_s);
    w.PrintPortBanner(&obj);
    QStringList lines;
    for (qint64 i = 0; i < obj.LogView()->Model().LineCount(); ++i) lines << obj.LogView()->Model().Line(i);
    QCOMPARE(lines, BannerLines(lang));
    // The block-send text is the user's: a banner never empties it.
    QCOMPARE(w.findChild<QPlainTextEdit*>(u"Memo2"_s)->toPlainText(), u"AA BB"_s);
    QVERIFY(env.boxes.isEmpty());
    obj.SetLogView(nullptr);
}

namespace {
const QRegularExpression& Chinese()
{
    static const QRegularExpression cjk(u"[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"_s);
    return cjk;
}

QStringList Markers(const QString& text)
{
    static const QRegularExpression marker(u"%[0-9]"_s);
    QStringList found;
    for (auto it = marker.globalMatch(text); it.hasNext();) found << it.next().captured();
    found.sort();
    return found;
}
} // namespace

void TstLanguage::messageTableIsComplete()
{
    QSet<QString> seen;
    for (const TCvMessage& m : MessageTable()) {
        QVERIFY2(!seen.contains(m.English), qPrintable(m.English));
        seen.insert(m.English);
        QVERIFY2(Chinese().match(m.Chinese).hasMatch(), qPrintable(m.English));
        QCOMPARE(Markers(m.Chinese), Markers(m.English));
        QCOMPARE(Msg(m.English, u"EN"_s), m.English);
        QCOMPARE(Msg(m.English, u"CN"_s), m.Chinese);
    }
}

// Switched to Chinese, every line the window writes and every box it shows is Chinese.
void TstLanguage::messagesFollowTheLanguage()
{
    UiTestEnv env;
    PtyPair port;
    TSplitViewForm::SetHidBackendFactory([] {
        auto b = std::make_unique<THidScriptedBackend>();
        THidScriptedBackend::TDevice held{"/dev/hidraw3", u"Pad"_s, 0x00AB, 0x00CD,
                                          THidScriptedBackend::Descriptor(8, 8)};
        held.Openable = false;
        b->Plug(held);
        return b;
    });
    auto w = UiTestEnv::Start("en_US");
    TSplitViewForm::SetHidBackendFactory({});
    auto* button2 = w->findChild<QPushButton*>(u"Button2"_s);
    auto* devices = w->findChild<QComboBox*>(u"ComboBoxEx1"_s);
    w->findChild<QCheckBox*>(u"CheckBox6"_s)->click();
    QCOMPARE(w->UILanguage, u"CN"_s);
    const qint64 bannerEnd = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().LineCount();

    button2->click();     // "No device found"
    w->ComboBox1Change(); // no device for a custom baud rate
    QVERIFY(!w->AddVirtualPort(u"relative/path"_s));
    QVERIFY(!w->RemoveVirtualPort(u"/dev/corvane-none"_s));
    QVERIFY(w->AddVirtualPort(port.SlavePath()));
    const QString name = u"Virtual Port (%1)"_s.arg(port.SlavePath());
    devices->setCurrentIndex(devices->findText(name));
    w->ComboBoxEx1Change();
    button2->click(); // opened, into the main log
    QVERIFY(w->GetDeciceByFullName(name)->Connected());
    // A file loaded and sent, with its progress and end lines.
    QTemporaryDir files;
    const QString file = files.filePath(u"f.bin"_s);
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("0123456789");
    }
    w->OpenDialog1 = [&] { return file; };
    w->findChild<QPushButton*>(u"Button23"_s)->click();
    w->findChild<QPushButton*>(u"Button24"_s)->click();
    QTRY_VERIFY(Ui::Find<TLogMemo>(*w, u"Memo1"_s)
                    ->Model()
                    .Line(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().LineCount() - 1)
                    .contains(u"文件发送成功"_s));
    // Hex that cannot be read, in the format tool and in a block send; loop sending refused.
    auto* block = w->findChild<QPlainTextEdit*>(u"Memo2"_s);
    block->setPlainText(u"AA bb 1"_s);
    w->findChild<QPushButton*>(u"Button25"_s)->click();
    w->findChild<QComboBox*>(u"ComboBox6"_s)->setCurrentIndex(1);
    w->findChild<QPushButton*>(u"Button8"_s)->click();
    w->findChild<QComboBox*>(u"ComboBox6"_s)->setCurrentIndex(0);
    w->findChild<QCheckBox*>(u"CheckBox19"_s)->setChecked(false);
    w->findChild<QPushButton*>(u"Button1"_s)->click();
    QVERIFY(Ui::Find<TLogMemo>(*w, u"Memo1"_s)
                ->Model()
                .Line(Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().LineCount() - 1)
                .endsWith(Msg(u"The Loop enable switch is not be checked."_s, u"CN"_s)));
    button2->click(); // closed
    QVERIFY(!w->GetDeciceByFullName(name)->Connected());
    const QString pad = u"Pad VID 0x00AB PID 0x00CD"_s;
    QTRY_VERIFY(devices->findText(pad) >= 0);
    devices->setCurrentIndex(devices->findText(pad));
    w->ComboBoxEx1Change();
    button2->click();                                  // the HID device does not open
    w->findChild<QPushButton*>(u"Button8"_s)->click(); // nothing written to it
    QVERIFY(w->RemoveVirtualPort(port.SlavePath()));

    QStringList shown;
    // Status texts of the find bar and the checksum row.
    w->ShowFindBar();
    w->findChild<QLineEdit*>(u"EditFind"_s)->clear();
    w->FindInLog(true);
    shown << w->findChild<QLabel*>(u"LabelFindStatus"_s)->text();
    QVERIFY(!shown.last().isEmpty());
    w->findChild<QPlainTextEdit*>(u"Memo2"_s)->clear();
    w->findChild<QPushButton*>(u"ButtonCrcAppend"_s)->click();
    shown << w->findChild<QLineEdit*>(u"EditCrcResult"_s)->text();
    QVERIFY(!shown.last().isEmpty());
    for (qint64 i = bannerEnd; i < Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().LineCount(); ++i)
        shown << Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model().Line(i);
    QVERIFY(shown.size() >= 9);
    for (const QString& box : std::as_const(env.boxes))
        shown << box.section(u'|', 1); // the text, not the title
    static const QRegularExpression words(u"[A-Za-z]{2,}"_s);
    for (const QString& line : std::as_const(shown)) {
        // Empty lines (only a line number in front) say nothing to translate.
        if (!words.match(line).hasMatch()) continue;
        QVERIFY2(Chinese().match(line).hasMatch(), qPrintable(u"untranslated: "_s + line));
    }
}

// The plot page of an ASCII port and its tab, re-captioned at each switch.
void TstLanguage::plotPageFollowsTheLanguage()
{
    UiTestEnv env;
    PtyPair port;
    auto w = UiTestEnv::Start("en_US");
    QVERIFY(w->AddVirtualPort(port.SlavePath()));
    const QString name = u"Virtual Port (%1)"_s.arg(port.SlavePath());
    auto* devices = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s);
    devices->setCurrentIndex(devices->findText(name));
    w->ComboBoxEx1Change();
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    QVERIFY(w->GetDeciceByFullName(name)->Connected());
    auto* tabs = Ui::Find<QTabWidget>(*w, u"PlotTabs"_s);
    auto* page = Ui::Find<QWidget>(*w, u"PlotPage:"_s + name);
    const auto captions = [&] {
        return QStringList{tabs->tabText(0), tabs->tabText(tabs->indexOf(page)),
                           Ui::Find<QCheckBox>(*page, u"PlotFreeze"_s)->text(),
                           Ui::Find<QPushButton>(*page, u"PlotExportCsv"_s)->text(),
                           Ui::Find<QComboBox>(*page, u"PlotXMode"_s)->itemText(1)};
    };
    const QStringList english{u"Waveform"_s, u"Plot "_s + name, u"Freeze"_s, u"Export CSV"_s,
                              u"X: receive time (ms)"_s};
    const QStringList chinese{u"波形"_s, u"曲线 "_s + name, u"冻结"_s, u"导出 CSV"_s,
                              u"X：接收时间（毫秒）"_s};
    QCOMPARE(captions(), english);
    auto* switcher = Ui::Find<QCheckBox>(*w, u"CheckBox6"_s);
    switcher->click();
    QCOMPARE(w->UILanguage, u"CN"_s);
    QCOMPARE(captions(), chinese);
    switcher->click();
    QCOMPARE(w->UILanguage, u"EN"_s);
    QCOMPARE(captions(), english);
}

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"
