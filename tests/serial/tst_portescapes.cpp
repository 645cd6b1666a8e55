// The escape sequences of a device's text on the receive road, over real ptys: colours
// through every path to the view, the port's choice of colours, remove or show, and the
// saved log, the capture and the plot's text without them.
#include "../core/StyledMarkup.h"
#include "IniFile.h"
#include "PortRig.h"
#include "TCvComPortObj.h"
#include "TCvLineSink.h"
#include "TLogMemo.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

enum TPath { kNoPrefixes, kPrefixesDirect, kPrefixesWorker };

// An ESP-IDF boot log as the device colours it, then a Zephyr-style prompt.
const QByteArray kEspLog = "\x1b[0;32mI (312) cpu_start: Starting scheduler\x1b[0m\r\n"
                           "\x1b[0;33mW (320) wifi: no AP found, retry 3\x1b[0m\n"
                           "\x1b[?2004h\x1b]0;esp32\x07\x1b[1;32muart:~$ \x1b[m";
const QStringList kEspShown = {u"{fg2|I (312) cpu_start: Starting scheduler}"_s,
                               u"{fg3|W (320) wifi: no AP found, retry 3}"_s, u"{fg2,bold|uart:~$ }"_s};

// Lines as markup of their colours.
QStringList Styled(PortRig& rig)
{
    rig.obj->FlushUiQueue();
    const TLogModel& m = rig.memo->Model();
    QStringList out;
    for (qint64 i = 0; i < m.LineCount(); ++i) out << Markup::Describe(m.Line(i), m.LineRuns(i));
    return out;
}

QStringList Numbered(const QStringList& lines, int from = 0)
{
    QStringList out;
    for (int i = 0; i < lines.size(); ++i)
        out << u"%1| %2"_s.arg(from + i, 2, 10, QLatin1Char('0')).arg(lines[i]);
    return out;
}

// Many coloured lines at once: more than the display worker's threshold.
QByteArray Burst(int lines)
{
    QByteArray b;
    for (int i = 0; i < lines; ++i)
        b += "\x1b[0;3" + QByteArray::number(1 + i % 3) + "mI (" + QByteArray::number(i) +
             ") main: tick\x1b[0m\n";
    return b;
}

QStringList BurstShown(int lines)
{
    QStringList out;
    for (int i = 0; i < lines; ++i) out << u"{fg%1|I (%2) main: tick}"_s.arg(1 + i % 3).arg(i);
    return out;
}

class TTextSink : public TCvLineSink {
public:
    QString Text;
    void TextReceived(const QString& text, qint64) override { Text += text; }
};

} // namespace

class TstPortEscapes : public QObject {
    Q_OBJECT
private slots:
    void coloursOnEveryPath_data();
    void coloursOnEveryPath();
    void modes_data();
    void modes();
    void halfSequenceShownAtClose();
    void savedLogPlotAndCaptureWithoutColours();
    void optionsKeptInPortSettings();
};

void TstPortEscapes::coloursOnEveryPath_data()
{
    QTest::addColumn<int>("path");
    QTest::addColumn<qsizetype>("cut");
    // Cut inside an escape, between ESC and its '[', in the text, between CR and LF.
    for (const auto& [path, name] : {std::pair{kNoPrefixes, "no prefixes"},
                                     {kPrefixesDirect, "prefixes"},
                                     {kPrefixesWorker, "prefixes, worker"}})
        for (const qsizetype cut : {qsizetype(0), qsizetype(1), qsizetype(4), qsizetype(20),
                                    kEspLog.indexOf('\r') + 1, kEspLog.indexOf("\x1b]") + 3})
            QTest::addRow("%s, cut at %lld", name, qlonglong(cut)) << int(path) << cut;
}

void TstPortEscapes::coloursOnEveryPath()
{
    QFETCH(int, path);
    QFETCH(qsizetype, cut);
    PortRig rig({rfAscii, sfAscii, path != kNoPrefixes, false, false, false});
    // Through the worker: a burst beyond its threshold comes first.
    const int burst = path == kPrefixesWorker ? 60 : 0;
    if (burst > 0) rig.Receive(Burst(burst));
    const QByteArray bytes = kEspLog;
    if (cut > 0) rig.Receive(bytes.left(cut));
    rig.Receive(bytes.mid(cut));
    // The prompt's line goes on: its new colour joins it.
    rig.Receive("\x1b[1mls\x1b[0m\r\n");
    rig.Settle();
    QStringList want = BurstShown(burst) + kEspShown;
    want.last() += u"{bold|ls}"_s;
    // The line that waits for the next text.
    want << QString();
    QCOMPARE(Styled(rig), path == kNoPrefixes ? want : Numbered(want));
    QVERIFY(!rig.memo->Model().Text().contains('\x1b'));
}

void TstPortEscapes::modes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("colours") << u"Colours"_s << kEspShown;
    QTest::newRow("remove") << u"Remove"_s
                            << QStringList{u"I (312) cpu_start: Starting scheduler"_s,
                                           u"W (320) wifi: no AP found, retry 3"_s, u"uart:~$ "_s};
    QTest::newRow("show") << u"show"_s
                          << QStringList{u"␛[0;32mI (312) cpu_start: Starting scheduler␛[0m"_s,
                                         u"␛[0;33mW (320) wifi: no AP found, retry 3␛[0m"_s,
                                         u"␛[?2004h␛]0;esp32\a␛[1;32muart:~$ ␛[m"_s};
}

void TstPortEscapes::modes()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, lines);
    PortRig rig({rfAscii, sfAscii, false, false, false, false});
    TAnsiMode m{};
    QVERIFY(AnsiModeFromName(mode, &m));
    rig.obj->SetAnsiMode(m);
    rig.Receive(kEspLog);
    QCOMPARE(Styled(rig), lines);
    // "Processed" counts the characters shown.
    QCOMPARE(rig.obj->FComProcessedCount.load(), qint64(rig.Lines().join(u"\r\n"_s).size()));
}

void TstPortEscapes::halfSequenceShownAtClose()
{
    // The stream ends inside a sequence: what it held is shown, not lost.
    PortRig rig({rfAscii, sfAscii, false, false, false, false});
    rig.Receive("ok \x1b[0;3");
    QCOMPARE(Styled(rig), QStringList{u"ok "_s});
    rig.obj->Close();
    QCOMPARE(Styled(rig), QStringList{u"ok ␛[0;3"_s});
    // A new session starts plain.
    rig.obj->Open();
    rig.Receive("2mgreen?\r\n");
    QCOMPARE(Styled(rig), (QStringList{u"ok ␛[0;32mgreen?"_s, QString()}));
}

void TstPortEscapes::savedLogPlotAndCaptureWithoutColours()
{
    QTemporaryDir dir;
    {
        PortRig rig({rfAscii, sfAscii, true, false, false, false});
        TTextSink sink;
        rig.obj->SetLineSink(&sink);
        rig.Receive(kEspLog + "\r\n");
        rig.Settle();
        QVERIFY(rig.obj->SaveLog(dir.filePath(u"port.log"_s)));
        QFile f(dir.filePath(u"port.log"_s));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("00| I (312) cpu_start: Starting scheduler\r\n"
                                         "01| W (320) wifi: no AP found, retry 3\r\n"
                                         "02| uart:~$ \r\n03| \r\n"));
        QCOMPARE(sink.Text, u"I (312) cpu_start: Starting scheduler\r\nW (320) wifi: no AP found, retry 3\r\n"
                            u"uart:~$ \r\n"_s);
    }
    // A text capture keeps the bytes as they came (line breaks as CR LF).
    PortRig rig({rfFile, sfAscii, false, false, false, false});
    rig.obj->FFileStreamName = dir.filePath(u"capture.txt"_s);
    rig.Receive(kEspLog);
    QFile f(rig.obj->FFileStreamName);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray want = kEspLog;
    want.replace("m\n", "m\r\n");
    QCOMPARE(f.readAll(), want);
}

void TstPortEscapes::optionsKeptInPortSettings()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(u"port.ini"_s);
    {
        TCvComPortObj obj(nullptr, u"Virtual Port (/dev/pts/99)"_s);
        obj.StoreSettings(stIniFile, ini);
        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        // Untouched ports keep files without the new keys.
        QVERIFY2(!text.contains("Escape") && !text.contains("Console"), text.constData());
        obj.SetAnsiMode(TAnsiMode::Show);
        obj.SetConsoleOptions({true, TCvConsoleOptions::EnterCrLf, true, true});
        obj.StoreSettings(stIniFile, ini);
    }
    TCvComPortObj again(nullptr, u"Virtual Port (/dev/pts/99)"_s);
    QCOMPARE(again.AnsiMode(), TAnsiMode::Colours);
    again.LoadSettings(stIniFile, ini);
    QCOMPARE(again.AnsiMode(), TAnsiMode::Show);
    QVERIFY(again.ConsoleOptions() == (TCvConsoleOptions{true, TCvConsoleOptions::EnterCrLf, true, true}));
    // Values this version does not know keep what the port has.
    TIniFile f;
    QVERIFY(f.Load(ini));
    f.WriteString(QString(), u"EscapeSequences"_s, u"Sparkles"_s);
    f.WriteString(QString(), u"ConsoleEnter"_s, u"NEL"_s);
    QVERIFY(f.Save(ini));
    again.LoadSettings(stIniFile, ini);
    QCOMPARE(again.AnsiMode(), TAnsiMode::Show);
    QCOMPARE(again.ConsoleOptions().Enter, int(TCvConsoleOptions::EnterCrLf));
}

QTEST_MAIN(TstPortEscapes)
#include "tst_portescapes.moc"
