#include "CvLanguage.h"

#include "IniFile.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

const QList<TLang>& LangTable()
{
    static const QList<TLang> table = {
        {u"OPRATION_OPEN"_s, u"打开串口设备"_s, u"Open The Device"_s},
        {u"OPRATION_OPEN2"_s, u"打开 HID 设备"_s, u"Open The HID Device"_s},
        {u"OPRATION_CLOSE"_s, u"关闭设备"_s, u"Close The Device"_s},
        {u"Button4"_s, QString(), u"Get Ports"_s},
        {u"Label2"_s, QString(), u"Baud Rate"_s},
        {u"Label5"_s, QString(), u"Parity"_s},
        {u"Label9"_s, QString(), u"Stop Bits"_s},
        {u"Label12"_s, QString(), u"Data Bits"_s},
        {u"Label13"_s, QString(), u"SendFormat"_s},
        {u"Label15"_s, QString(), u"FlowControl"_s},
        {u"Button7"_s, QString(), u"Clear Above"_s},
        {u"Button8"_s, QString(), u"Send Block Content Above"_s},
        {u"CheckBox8"_s, QString(), u"Enable Auto Save The Log To File"_s},
        {u"Button6"_s, QString(), u"Open The Log File Position"_s},
        {u"Button5"_s, QString(), u"Clear Data Logs"_s},
        {u"CheckBox7"_s, QString(), u"Enable Alpha Blend"_s},
        {u"CheckBox2"_s, QString(), u"Always Stay At The Top"_s},
        {u"CheckBox25"_s, QString(), u"Show The Time Stamp "_s},
        {u"CheckBox3"_s, QString(), u"Show The Date Stamp"_s},
        {u"CheckBox4"_s, QString(), u"Show Line Number For Log"_s},
        {u"CheckBox5"_s, QString(), u"Show The Data You Are Sending"_s},
        {u"Button1"_s, QString(), u"Start Loop For Sending Data"_s},
        {u"Button3"_s, QString(), u"StopSend"_s},
        {u"Label14"_s, QString(), u"The Loop Times You Want  "_s},
        {u"Label4"_s, QString(), u"The Loop Interval"_s},
        {u"CheckBox19"_s, QString(), u"Enable The Loop Funtion"_s},
        {u"Label6"_s, QString(), u"Main Style"_s},
        {u"Label7"_s, QString(), u"Protocol"_s},
        {u"Label8"_s, QString(), u"DevAdress"_s},
        {u"Button9"_s, QString(), u"Start Converting To Hexade"_s},
        {u"Label10"_s, QString(), u"ReceiveFormat"_s},
        {u"Label11"_s, QString(), u"MemAddress"_s},
        {u"Label1"_s, QString(), u"Main Form AlphaBlend Value"_s},
        {u"Label3"_s, QString(), u"Second Interval For Auto Saving"_s},
        {u"Button11"_s, QString(), u"Start Converting To String"_s},
        {u"Button10"_s, QString(), u"Clear Received Data Logs"_s},
        {u"CheckBox6"_s, QString(), u"Switch To English Language"_s},
        {u"CheckBox9"_s, QString(), u"Parse As String When Hexadecimal"_s},
        {u"Button13"_s, QString(), u"Data Received Direct to File"_s},
        {u"Button14"_s, QString(), u"FileFinished"_s},
        {u"CheckBox1"_s, QString(), u"Create Desktop Shortcut"_s},
        {u"Button15"_s, QString(), u"Show All Point"_s},
        {u"Button16"_s, QString(), u"Do The Operation"_s},
        {u"Button18"_s, QString(), u"Zoom Out"_s},
        {u"Button19"_s, QString(), u"Zoom In"_s},
        {u"ButtonColor1"_s, QString(), u"Graphic One Color"_s},
        {u"ButtonColor2"_s, QString(), u"Graphic Two Color"_s},
        {u"Button20"_s, QString(), u"Export Data To Excel"_s},
        {u"Button21"_s, QString(), u"Clear Graphic Data"_s},
        {u"Button22"_s, QString(), u"Save Graphic to BMP"_s},
        {u"Button23"_s, QString(), u"Load File"_s},
        {u"Button24"_s, QString(), u"Send The File You Loaded"_s},
        {u"CheckBox10"_s, QString(), u"Show All Data"_s},
        {u"CheckBox11"_s, QString(), u"Overlap Graphics"_s},
        {u"Label18"_s, QString(), u"Operation"_s},
        {u"CheckBox12"_s, QString(), u"Compatible To Unicode"_s},
        {u"Button12"_s, QString(), u"Font"_s},
        {u"Button17"_s, QString(), u"Background Color For Message Log"_s},
        {u"Button25"_s, QString(), u"Format To Hexade"_s},
    };
    return table;
}

namespace {
int LangRow(const QString& Name)
{
    const QList<TLang>& table = LangTable();
    for (int i = 0; i < table.size(); ++i)
        if (table[i].Name == Name) return i;
    return -1;
}
} // namespace

QString GetLangCaption(const QString& Name, const QString& Lang)
{
    const int row = LangRow(Name);
    if (row < 0) return {};
    const TLang& r = LangTable()[row];
    return Lang == u"CN"_s ? r.Caption1 : r.Caption2;
}

QString GetLangKey(const QString& Name)
{
    const int row = LangRow(Name);
    return row < 0 ? QString() : u"MESSAGE_"_s + QString::number(row);
}

bool ApplyLangFileTo(const QString& fileName, QList<TCaptionItem>& items)
{
    if (QFileInfo::exists(fileName)) {
        TIniFile ini;
        ini.Load(fileName);
        for (TCaptionItem& item : items) item.Caption = ini.ReadString(LangSection, item.Key, item.Caption);
        return true;
    }
    TIniFile ini;
    for (const TCaptionItem& item : items) ini.WriteString(LangSection, item.Key, item.Caption);
    ini.Save(fileName);
    return false;
}

const TFixedTexts& FixedTexts(const QString& Lang)
{
    static const TFixedTexts cn{
        u"CORVANE 科万串口终端"_s,
        {u"Corvane 串口设置 F1"_s, u"高级"_s},
        u"Corvane 串口助手 "_s,
        u" 图形 "_s,
        u" 帮助 "_s,
        {u"Corvane 数据发送 F2"_s, u" 自定义数据发送 "_s, u" 协议转换 "_s, u" 图形 "_s, u" 应答规则 "_s,
         u" 脚本 "_s},
        {u"发送"_s, u"选"_s, u"待发送的单条数据记录"_s, u"备注"_s},
        u"请按功能键 ESC、F1、F2"_s,
    };
    static const TFixedTexts en{
        u"Corvane SerialPort Complex Terminal R2018a"_s,
        {u"Corvane Setting F1"_s, u"Advance"_s},
        u"Corvane "_s,
        u" Graphic "_s,
        u" Help "_s,
        {u"Custom Data F2 "_s, u"Normal Send"_s, u" Protocol "_s, u" Graphic "_s, u" Answer Rules "_s,
         u" Script "_s},
        {u"Send"_s, u" X"_s, u"Data You Want To Send"_s, u"Comments"_s},
        u"Hot Key ESC、F1、F2"_s,
    };
    return Lang == u"EN"_s ? en : cn;
}

QStringList BannerLines(const QString& Lang)
{
    const QString hashes(61, u'#');
    if (Lang == u"EN"_s)
        return {hashes, u"Corvane Serial Port Tool"_s, VersionText,
                SupportAddress + u"  Questions, bug reports and wishes are welcome."_s, hashes};
    return {hashes, u"CORVANE 科万串口终端"_s, VersionText,
            SupportAddress + u"  欢迎来信提问、报告问题和提出建议。"_s, hashes};
}
