// Text as devices send it and as the port sends it: line breaks, encodings, strict hex,
// the text capture. Over real ptys.
#include "CvCodecs.h"
#include "PortRig.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

struct Rig : PortRig {
    explicit Rig(int receiveFormat = rfAscii, bool lineNumbers = false, bool echo = false)
        : PortRig({receiveFormat, sfAscii, lineNumbers, echo, false, false})
    {}
    // Each piece is taken by the port before the next is written.
    void ReceiveInPieces(const QList<QByteArray>& pieces)
    {
        for (const QByteArray& p : pieces)
            if (!p.isEmpty()) Receive(p);
    }
};

QList<QByteArray> SplitAt(const QByteArray& b, qsizetype cut)
{
    return {b.left(cut), b.mid(cut)};
}

QStringList Numbered(const QStringList& lines)
{
    QStringList out;
    for (int i = 0; i < lines.size(); ++i) out << u"%1| %2"_s.arg(i, 2, 10, QLatin1Char('0')).arg(lines[i]);
    return out;
}

} // namespace

class TstPortText : public QObject {
    Q_OBJECT
private slots:
    void lineBreaksSplitAtEveryByte_data();
    void lineBreaksSplitAtEveryByte();
    void lineBreaksThroughTheWorker();
    void linesAfterTheWorkerStayApart();
    void savedLogFollowsLineBreaks();
    void receivedTextStartsAfterProgramLines_data();
    void receivedTextStartsAfterProgramLines();
    void encodingsSplitInsideCharacters_data();
    void encodingsSplitInsideCharacters();
    void invalidBytesShownCountedAndTold();
    void sendAsciiInEncoding_data();
    void sendAsciiInEncoding();
    void sendHex_data();
    void sendHex();
    void sendEnding_data();
    void sendEnding();
    void timePrefixIsWhenRead_data();
    void timePrefixIsWhenRead();
    void textCaptureKeepsBytes_data();
    void textCaptureKeepsBytes();
    void optionsKeptInPortSettings();
};

void TstPortText::lineBreaksSplitAtEveryByte_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("crlfOnly");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("lf") << QByteArray("boot: step 0 ok\nboot: step 1 ok\n") << false
                        << QStringList{"boot: step 0 ok", "boot: step 1 ok", ""};
    QTest::newRow("cr") << QByteArray("progress 10%\rprogress 50%\r") << false
                        << QStringList{"progress 10%", "progress 50%", ""};
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\nc") << false << QStringList{"a", "b", "c"};
    QTest::newRow("mix") << QByteArray("a\nb\r\nc\rd\n\ne") << false
                         << QStringList{"a", "b", "c", "d", "", "e"};
    QTest::newRow("crlf only: lf stays") << QByteArray("a\nb\r\nc") << true << QStringList{"a\nb", "c"};
    QTest::newRow("crlf only: cr stays") << QByteArray("a\rb\r\nc") << true << QStringList{"a\rb", "c"};
}

void TstPortText::lineBreaksSplitAtEveryByte()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, crlfOnly);
    QFETCH(QStringList, lines);
    for (const bool numbers : {false, true}) {
        for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
            Rig rig(rfAscii, numbers);
            rig.obj->SetLineBreaks(crlfOnly ? TLineBreaks::CrLfOnly : TLineBreaks::Any);
            rig.ReceiveInPieces(SplitAt(bytes, cut));
            QStringList want = numbers ? Numbered(lines) : lines;
            // Without prefixes an empty last line is not shown; with them it holds its prefix.
            QCOMPARE(rig.Lines(), numbers ? want : want);
        }
    }
}

void TstPortText::lineBreaksThroughTheWorker()
{
    // 60 LF-only lines at once go through the display worker, each with its number.
    Rig rig(rfAscii, true);
    QByteArray burst;
    for (int i = 0; i < 60; ++i) burst += "boot: step " + QByteArray::number(i) + " ok\n";
    rig.Receive(burst.left(7));
    rig.Receive(burst.mid(7));
    rig.Settle();
    QStringList want;
    for (int i = 0; i < 60; ++i) want << u"boot: step %1 ok"_s.arg(i);
    QStringList lines = rig.Lines();
    if (lines.size() == 61 && lines.last() == u"60| "_s) lines.removeLast();
    QCOMPARE(lines, Numbered(want));
}

void TstPortText::linesAfterTheWorkerStayApart()
{
    // The worker shows a burst on an empty view; lines that come one by one after it, shown
    // at once, each get a line of their own.
    Rig rig(rfAscii, true);
    QByteArray burst;
    for (int i = 0; i < 60; ++i) burst += "line " + QByteArray::number(i) + "\n";
    rig.Receive(burst);
    rig.Settle();
    rig.Receive("abc\r\n");
    rig.Settle();
    rig.Receive("def\r\n");
    rig.Settle();
    QStringList want;
    for (int i = 0; i < 60; ++i) want << u"line %1"_s.arg(i);
    QCOMPARE(rig.Lines(), Numbered(want << u"abc"_s << u"def"_s << QString()));
}

void TstPortText::savedLogFollowsLineBreaks()
{
    QTemporaryDir dir;
    Rig rig(rfAscii, true);
    rig.Receive("boot\rok\nrun");
    QVERIFY(rig.obj->SaveLog(dir.filePath(u"port.log"_s)));
    QFile f(dir.filePath(u"port.log"_s));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("00| boot\r\n01| ok\r\n02| run\r\n"));
}

void TstPortText::receivedTextStartsAfterProgramLines_data()
{
    QTest::addColumn<bool>("numbers");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("plain") << false
                           << QStringList{"Data file save to x.txt", "hello", "Data file save to y.txt",
                                          "world"};
    QTest::newRow("numbered") << true
                              << Numbered({"Data file save to x.txt", "hello", "Data file save to y.txt",
                                           "world"});
}

void TstPortText::receivedTextStartsAfterProgramLines()
{
    QFETCH(bool, numbers);
    QFETCH(QStringList, lines);
    Rig rig(rfAscii, numbers);
    rig.obj->Log(u"Data file save to x.txt"_s);
    rig.Receive("hello");
    rig.obj->Log(u"Data file save to y.txt"_s);
    rig.Receive("world");
    QCOMPARE(rig.Lines(), lines);
}

void TstPortText::encodingsSplitInsideCharacters_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("text");
    QTest::newRow("utf-8") << int(TTextEncoding::Utf8) << u"温度 23.5°C"_s;
    QTest::newRow("gb18030") << int(TTextEncoding::Gb18030) << u"温度 23.5°C"_s;
    QTest::newRow("big5") << int(TTextEncoding::Big5) << u"溫度 23.5"_s;
    QTest::newRow("shift_jis") << int(TTextEncoding::ShiftJis) << u"温度 あ"_s;
    QTest::newRow("bytes") << int(TTextEncoding::Bytes) << u"Ã©"_s;
}

void TstPortText::encodingsSplitInsideCharacters()
{
    QFETCH(int, encoding);
    QFETCH(QString, text);
    QByteArray bytes;
    QVERIFY(EncodeText(text + u"\r\n"_s, TTextEncoding(encoding), &bytes));
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        Rig rig;
        rig.obj->SetTextEncoding(TTextEncoding(encoding));
        rig.ReceiveInPieces(SplitAt(bytes, cut));
        QCOMPARE(rig.Lines(), QStringList({text, QString()}));
        QCOMPARE(rig.obj->InvalidTextCount(), qint64(0));
    }
}

void TstPortText::invalidBytesShownCountedAndTold()
{
    Rig rig;
    rig.Receive("caf\xE9!\n");
    QCOMPARE(rig.Lines().first(), u"caf\uFFFD!"_s);
    QCOMPARE(rig.obj->InvalidTextCount(), qint64(1));
    // Each byte of the chunk is counted as received, none dropped.
    QCOMPARE(rig.obj->FComReceiveCount.load(), qint64(6));
    // Told at the first and at each doubling, not for every byte.
    rig.Receive("\xFF\xFF\xFFok\n");
    rig.Receive("\xFF\n");
    QCOMPARE(rig.obj->InvalidTextCount(), qint64(5));
    const QString log = rig.Lines().join('\n');
    QCOMPARE(log.count(u"not valid UTF-8"_s), 2);
    QVERIFY2(log.contains(u"(1 so far)"_s) && log.contains(u"(4 so far)"_s), qPrintable(log));
    QVERIFY2(log.contains(u"\uFFFD\uFFFD\uFFFDok"_s), qPrintable(log));
}

void TstPortText::sendAsciiInEncoding_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("op"); // 0 common, 1 block (multi), 2 prompt (terminal)
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire"); // empty: refused
    QTest::newRow("utf-8 common") << int(TTextEncoding::Utf8) << 0 << u"你好"_s
                                  << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD\r\n");
    QTest::newRow("gb18030 block") << int(TTextEncoding::Gb18030) << 1 << u"你好"_s
                                   << QByteArray("\xC4\xE3\xBA\xC3\r\n");
    QTest::newRow("big5 prompt") << int(TTextEncoding::Big5) << 2 << u"中"_s << QByteArray("\xA4\xA4");
    QTest::newRow("latin-1 common") << int(TTextEncoding::Latin1) << 0 << u"é"_s << QByteArray("\xE9\r\n");
    QTest::newRow("bytes refuses chinese") << int(TTextEncoding::Bytes) << 0 << u"你好"_s << QByteArray();
    QTest::newRow("shift_jis refuses emoji") << int(TTextEncoding::ShiftJis) << 1 << u"a😀"_s << QByteArray();
    QTest::newRow("block lines get crlf")
        << int(TTextEncoding::Utf8) << 1 << u"AT\nAT+GMR\r\nATI"_s << QByteArray("AT\r\nAT+GMR\r\nATI\r\n");
}

void TstPortText::sendAsciiInEncoding()
{
    QFETCH(int, encoding);
    QFETCH(int, op);
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);
    Rig rig(rfAscii, false, true);
    rig.obj->SetTextEncoding(TTextEncoding(encoding));
    if (op == 0) rig.obj->TorvinComSendData_Common(text, sfAscii);
    else if (op == 1) rig.obj->TorvinComSendData_MultiTimes(text, sfAscii);
    else rig.obj->TorvinComSendData_Terminal(text, sfAscii);
    if (wire.isEmpty()) {
        QCOMPARE(rig.pty.ReadFor(100), QByteArray());
        QCOMPARE(rig.obj->FComSentCount.load(), qint64(0));
        const QString log = rig.Lines().join('\n');
        QVERIFY2(log.contains(u"nothing was sent"_s) && !log.contains(u"> "_s), qPrintable(log));
        return;
    }
    QCOMPARE(rig.pty.Read(wire.size()), wire);
    QCOMPARE(rig.pty.ReadFor(50), QByteArray());
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(wire.size()));
}

void TstPortText::sendHex_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire"); // empty: refused
    QTest::addColumn<QString>("message");
    const QByteArray modbus = QByteArray::fromHex("010300000002C40B");
    QTest::newRow("packed") << int(sfHex) << u"010300000002C40B"_s << modbus << QString();
    QTest::newRow("blanks") << int(sfHex) << u"01 03 00 00 00 02 C4 0B"_s << modbus << QString();
    QTest::newRow("commas") << int(sfHex) << u"01,03,00,00,00,02,C4,0B"_s << modbus << QString();
    QTest::newRow("0x") << int(sfHex) << u"0x01 0x03 0x00 0x00 0x00 0x02 0xC4 0x0B"_s << modbus << QString();
    QTest::newRow("lines") << int(sfHex) << u"01 03 00 00\n00 02 C4 0B\n"_s << modbus << QString();
    QTest::newRow("single digits") << int(sfHex) << u"1 2 3"_s << QByteArray() << u"position 1"_s;
    QTest::newRow("not hex") << int(sfHex) << u"01 0Z"_s << QByteArray() << u"position 5"_s;
    QTest::newRow("protocol refused") << int(sfProtocol) << u"01 2"_s << QByteArray() << u"position 4"_s;
}

void TstPortText::sendHex()
{
    QFETCH(int, format);
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);
    QFETCH(QString, message);
    Rig rig(rfAscii, false, true);
    for (int op = 0; op < 3; ++op) {
        if (op == 0) rig.obj->TorvinComSendData_Common(text, format);
        else if (op == 1) rig.obj->TorvinComSendData_MultiTimes(text, format);
        else rig.obj->TorvinComSendData_Terminal(text, format);
        if (wire.isEmpty()) {
            QCOMPARE(rig.pty.ReadFor(50), QByteArray());
            const QString log = rig.Lines().join('\n');
            QVERIFY2(log.contains(message) && log.contains(u"Nothing was sent"_s), qPrintable(log));
        } else {
            QCOMPARE(rig.pty.Read(wire.size()), wire);
        }
    }
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(3 * wire.size()));
}

void TstPortText::sendEnding_data()
{
    QTest::addColumn<int>("op"); // 0 common (grid), 1 multi (block), 2 terminal (prompt)
    QTest::addColumn<int>("ending");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("grid default") << 0 << int(TSendEnding::Default) << QByteArray("ab\r\n");
    QTest::newRow("block default") << 1 << int(TSendEnding::Default) << QByteArray("ab\r\n");
    QTest::newRow("prompt default") << 2 << int(TSendEnding::Default) << QByteArray("ab");
    QTest::newRow("grid none") << 0 << int(TSendEnding::None) << QByteArray("ab");
    QTest::newRow("block cr") << 1 << int(TSendEnding::Cr) << QByteArray("ab\r");
    QTest::newRow("block lf") << 1 << int(TSendEnding::Lf) << QByteArray("ab\n");
    QTest::newRow("prompt cr lf") << 2 << int(TSendEnding::CrLf) << QByteArray("ab\r\n");
}

void TstPortText::sendEnding()
{
    QFETCH(int, op);
    QFETCH(int, ending);
    QFETCH(QByteArray, wire);
    Rig rig;
    const auto e = TSendEnding(ending);
    if (op == 0) rig.obj->TorvinComSendData_Common(u"ab"_s, sfAscii, e);
    else if (op == 1) rig.obj->TorvinComSendData_MultiTimes(u"ab"_s, sfAscii, e);
    else rig.obj->TorvinComSendData_Terminal(u"ab"_s, sfAscii, e);
    QCOMPARE(rig.pty.Read(wire.size()), wire);
    QCOMPARE(rig.pty.ReadFor(50), QByteArray());
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(wire.size()));
}

void TstPortText::timePrefixIsWhenRead_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("ascii") << int(rfAscii);
    QTest::newRow("hex") << int(rfHex);
}

// Lines shown long after their bytes were read (the window was busy) carry the time of
// the read, not of the showing.
void TstPortText::timePrefixIsWhenRead()
{
    QFETCH(int, format);
    PortRig rig({format, sfAscii, false, false, false, true});
    rig.obj->FShowMilliseconds = true;
    QByteArray burst;
    for (int i = 0; i < 60; ++i) burst += "line " + QByteArray::number(i) + "\n";
    rig.Receive(burst);
    const QTime read = QTime::currentTime();
    // The window is busy: the worker's lines wait for it.
    QThread::msleep(1200);
    rig.Settle();
    const QStringList lines = rig.Lines();
    QVERIFY(lines.size() >= 5);
    for (const QString& line : lines) {
        // The empty line waiting for the next text has no bytes yet.
        if (!line.contains(u"line"_s)) continue;
        const QTime at = QTime::fromString(line.mid(1, 12), u"hh:mm:ss.zzz"_s);
        QVERIFY2(at.isValid(), qPrintable(line));
        // Not later than the moment the bytes had been taken (midnight aside).
        QVERIFY2(at <= read || read.msecsSinceStartOfDay() < 2000,
                 qPrintable(line + u" read at "_s + read.toString(u"hh:mm:ss.zzz"_s)));
    }
}

void TstPortText::textCaptureKeepsBytes_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<bool>("crlfOnly");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("file");
    const QByteArray zh = u"温度 23.5°C"_s.toUtf8();
    QTest::newRow("utf-8 split") << int(TTextEncoding::Utf8) << false
                                 << QList<QByteArray>{zh.left(4), zh.mid(4) + "\r\n"} << zh + "\r\n";
    QTest::newRow("c3 a9") << int(TTextEncoding::Utf8) << false << QList<QByteArray>{"\xC3\xA9\n"}
                           << QByteArray("\xC3\xA9\r\n");
    QTest::newRow("invalid kept") << int(TTextEncoding::Utf8) << false << QList<QByteArray>{"\xE9\xFF\r"}
                                  << QByteArray("\xE9\xFF\r\n");
    QTest::newRow("bytes") << int(TTextEncoding::Bytes) << false << QList<QByteArray>{"\xC3\xA9"}
                           << QByteArray("\xC3\xA9");
    QTest::newRow("lf and split crlf") << int(TTextEncoding::Utf8) << false
                                       << QList<QByteArray>{"a\nb\r", "\nc"} << QByteArray("a\r\nb\r\nc");
    QTest::newRow("crlf only: a line per event")
        << int(TTextEncoding::Utf8) << true << QList<QByteArray>{"ab", "cd"} << QByteArray("ab\r\ncd\r\n");
}

void TstPortText::textCaptureKeepsBytes()
{
    QFETCH(int, encoding);
    QFETCH(bool, crlfOnly);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    Rig rig(rfFile);
    rig.obj->SetTextEncoding(TTextEncoding(encoding));
    rig.obj->SetLineBreaks(crlfOnly ? TLineBreaks::CrLfOnly : TLineBreaks::Any);
    rig.obj->FFileStreamName = dir.filePath(u"capture.TXT"_s);
    rig.ReceiveInPieces(pieces);
    QFile f(rig.obj->FFileStreamName);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), file);
}

void TstPortText::optionsKeptInPortSettings()
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
        QVERIFY(!text.contains("Encoding") && !text.contains("LineBreaks"));
        obj.SetTextEncoding(TTextEncoding::Gb18030);
        obj.SetLineBreaks(TLineBreaks::CrLfOnly);
        obj.StoreSettings(stIniFile, ini);
    }
    TCvComPortObj again(nullptr, u"Virtual Port (/dev/pts/99)"_s);
    QCOMPARE(again.TextEncoding(), kDefaultTextEncoding);
    QCOMPARE(again.LineBreaks(), TLineBreaks::Any);
    again.LoadSettings(stIniFile, ini);
    QCOMPARE(again.TextEncoding(), TTextEncoding::Gb18030);
    QCOMPARE(again.LineBreaks(), TLineBreaks::CrLfOnly);
}

QTEST_MAIN(TstPortText)
#include "tst_porttext.moc"
