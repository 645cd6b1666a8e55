// Answer rules against a device on a real pty: what they answer, what they refuse to do
// (answer their own echo, answer in a storm), and what the settings file keeps of them.
#include "CvMessages.h"
#include "IniFile.h"
#include "PortRig.h"
#include "TCvAnswerRules.h"
#include "TCvComPortObj.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TCvAnswerRule)

namespace {

using TWhen = TCvAnswerRule::TWhen;
using TSend = TCvAnswerRule::TSend;

TCvAnswerRule Rule(TWhen when, const QString& match, TSend send, const QString& answer, int delayMs = 0)
{
    TCvAnswerRule r;
    r.When = when;
    r.Match = match;
    r.Send = send;
    r.Answer = answer;
    r.DelayMs = delayMs;
    return r;
}

struct Rig : PortRig {
    explicit Rig(int receiveFormat = rfAscii) : PortRig({receiveFormat, sfAscii, false, false, false, false})
    {}
    void ReceiveInPieces(const QList<QByteArray>& pieces)
    {
        for (const QByteArray& p : pieces) Receive(p);
    }
    // The log lines that hold text.
    int LinesWith(const QString& text) { return int(Lines().filter(text).size()); }
};

} // namespace

class TstAnswerRules : public QObject {
    Q_OBJECT
private slots:
    void answersWhatMatches_data();
    void answersWhatMatches();
    void delayIsKept();
    void followsThePortsEncodingAndLineBreaks();
    void answerWouldMatchItself_data();
    void answerWouldMatchItself();
    void echoOfOwnAnswerStopsTheRule();
    void atMostSoManyAnswersASecond();
    void disabledAndBrokenRulesStayQuiet();
    void keptInThePortsSettingsFile_data();
    void keptInThePortsSettingsFile();
    void problems_data();
    void problems();
    void escapes_data();
    void escapes();
};

void TstAnswerRules::answersWhatMatches_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<TCvAnswerRule>("rule");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QByteArray>("answer");

    const TCvAnswerRule login = Rule(TWhen::Contains, u"login:"_s, TSend::Text, u"root\\r"_s);
    QTest::newRow("login, one read") << int(rfAscii) << int(TTextEncoding::Utf8) << login
                                     << QList<QByteArray>{"Debian 12\r\nbox login: "} << QByteArray("root\r");
    QTest::newRow("login split across reads")
        << int(rfAscii) << int(TTextEncoding::Utf8) << login << QList<QByteArray>{"box lo", "gin", ": "}
        << QByteArray("root\r");
    // Rules read text whatever the port shows.
    QTest::newRow("login, port shows hex") << int(rfHex) << int(TTextEncoding::Utf8) << login
                                           << QList<QByteArray>{"box lo", "gin: "} << QByteArray("root\r");
    QTest::newRow("login, port parses packets") << int(rfProtocol) << int(TTextEncoding::Utf8) << login
                                                << QList<QByteArray>{"log", "in: "} << QByteArray("root\r");
    QTest::newRow("regexp split across reads")
        << int(rfAscii) << int(TTextEncoding::Utf8)
        << Rule(TWhen::RegExp, u"temp=(\\d+)C"_s, TSend::Text, u"ack\\r\\n"_s)
        << QList<QByteArray>{"temp=2", "3C\r\n"} << QByteArray("ack\r\n");
    // A lone LF from the device is a line break like any other: "OK\n" typed matches it.
    QTest::newRow("line break as the port reads it")
        << int(rfAscii) << int(TTextEncoding::Utf8)
        << Rule(TWhen::Contains, u"OK\\n"_s, TSend::Text, u"next\\r"_s) << QList<QByteArray>{"OK\r", "\n"}
        << QByteArray("next\r");
    QTest::newRow("hex bytes split across reads")
        << int(rfHex) << int(TTextEncoding::Utf8) << Rule(TWhen::Hex, u"01 03 02"_s, TSend::Hex, u"06"_s)
        << QList<QByteArray>{QByteArray("\xAA\x01", 2), QByteArray("\x03\x02\x55", 3)} << QByteArray("\x06");
    QTest::newRow("hex rule on a text port")
        << int(rfAscii) << int(TTextEncoding::Utf8) << Rule(TWhen::Hex, u"1B5B"_s, TSend::Text, u"ok"_s)
        << QList<QByteArray>{"\x1B", "[31m"} << QByteArray("ok");
    // A character cut between two reads still reads whole, in the port's encoding.
    QTest::newRow("UTF-8 cut inside a character")
        << int(rfAscii) << int(TTextEncoding::Utf8) << Rule(TWhen::Contains, u"温度"_s, TSend::Text, u"好"_s)
        << QList<QByteArray>{QByteArray("\xE6\xB8", 2), QByteArray("\xA9\xE5\xBA\xA6", 4)}
        << QByteArray("\xE5\xA5\xBD");
    QTest::newRow("GB18030 cut inside a character")
        << int(rfHex) << int(TTextEncoding::Gb18030) << Rule(TWhen::Contains, u"温度"_s, TSend::Text, u"好"_s)
        << QList<QByteArray>{QByteArray("\xCE", 1), QByteArray("\xC2\xB6\xC8", 3)} << QByteArray("\xBA\xC3");
}

void TstAnswerRules::answersWhatMatches()
{
    QFETCH(int, format);
    QFETCH(int, encoding);
    QFETCH(TCvAnswerRule, rule);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QByteArray, answer);
    Rig rig(format);
    rig.obj->SetTextEncoding(TTextEncoding(encoding));
    rig.obj->AnswerRules().SetRules({rule});
    QVERIFY(rig.obj->AnswerRules().States().value(0).isEmpty());
    rig.ReceiveInPieces(pieces);
    QCOMPARE(rig.pty.Read(int(answer.size()), 10000), answer);
    // Once: nothing follows.
    QCOMPARE(rig.pty.ReadFor(300), QByteArray());
    QCOMPARE(rig.obj->AnswerRules().AnswerCount(0), 1);
    // The answer is marked in the port's log.
    QTRY_COMPARE_WITH_TIMEOUT(rig.LinesWith(Msg(u"[rule %1] > %2"_s).arg(1).section(u'>', 0, 0)), 1, 10000);
}

void TstAnswerRules::delayIsKept()
{
    Rig rig;
    rig.obj->AnswerRules().SetRules(
        {Rule(TWhen::Contains, u"Password:"_s, TSend::Text, u"secret\\r"_s, 400)});
    QElapsedTimer clock;
    clock.start();
    rig.Receive("Password:");
    QCOMPARE(rig.pty.Read(7, 10000), QByteArray("secret\r"));
    // Never sooner than asked for (later only when the machine is busy).
    QVERIFY2(clock.elapsed() >= 400, qPrintable(QString::number(clock.elapsed())));
}

// Rules set before the port's text settings change read the text as the port reads it now.
void TstAnswerRules::followsThePortsEncodingAndLineBreaks()
{
    Rig rig;
    rig.obj->AnswerRules().SetRules({Rule(TWhen::Contains, u"温度\n"_s, TSend::Text, u"好"_s)});
    rig.obj->SetTextEncoding(TTextEncoding::Gb18030);
    rig.obj->SetLineBreaks(TLineBreaks::CrLfOnly);
    // With CR LF the only line break, a lone LF is a character like any other.
    rig.Receive(QByteArray("\xCE\xC2\xB6\xC8\n", 5));
    QCOMPARE(rig.pty.Read(2, 10000), QByteArray("\xBA\xC3"));
}

void TstAnswerRules::answerWouldMatchItself_data()
{
    QTest::addColumn<TCvAnswerRule>("rule");
    QTest::addColumn<QByteArray>("trigger");
    QTest::newRow("text inside its answer")
        << Rule(TWhen::Contains, u"AT"_s, TSend::Text, u"AT\\r"_s) << QByteArray("AT");
    QTest::newRow("regexp matching its answer")
        << Rule(TWhen::RegExp, u"[a-z]+>"_s, TSend::Text, u"ok>"_s) << QByteArray("shell>");
    // A lone CR comes back as a line break, which is what the rule looks for.
    QTest::newRow("line break answered with a CR")
        << Rule(TWhen::Contains, u"\\r\\n"_s, TSend::Text, u"\\r"_s) << QByteArray("\r\n");
    QTest::newRow("hex inside its answer")
        << Rule(TWhen::Hex, u"AA 55"_s, TSend::Hex, u"AA 55 01"_s) << QByteArray("\xAA\x55", 2);
}

void TstAnswerRules::answerWouldMatchItself()
{
    QFETCH(TCvAnswerRule, rule);
    QFETCH(QByteArray, trigger);
    Rig rig;
    rig.obj->AnswerRules().SetRules({rule});
    for (int i = 0; i < 5; ++i) rig.Receive(trigger);
    // Nothing goes out, and the log says why once, however often it matches.
    QCOMPARE(rig.pty.ReadFor(300), QByteArray());
    QVERIFY(rig.obj->AnswerRules().IsStopped(0));
    const QString told = Msg(u"Answer rule %1 is stopped: %2"_s).arg(1).arg(QString());
    QTRY_COMPARE_WITH_TIMEOUT(rig.LinesWith(told), 1, 10000);
    QTest::qWait(100);
    QCOMPARE(rig.LinesWith(told), 1);
    QVERIFY(rig.obj->AnswerRules().States().value(0).startsWith(Msg(u"Stopped: %1"_s).arg(QString())));
    // Set again, it starts afresh.
    rig.obj->AnswerRules().SetRules({rule});
    QVERIFY(!rig.obj->AnswerRules().IsStopped(0));
}

// The device echoes what it is sent and ends the line: "hello" comes back as "hello\r\n",
// which the rule would take for its own cue again.
void TstAnswerRules::echoOfOwnAnswerStopsTheRule()
{
    Rig rig;
    rig.obj->AnswerRules().SetRules({Rule(TWhen::RegExp, u"o\\r\\n"_s, TSend::Text, u"hello"_s)});
    rig.Receive("go\r\n");
    QByteArray sent;
    QElapsedTimer clock;
    clock.start();
    // The device echoes for two seconds whatever it gets.
    while (clock.elapsed() < 2000) {
        const QByteArray got = rig.pty.ReadFor(50);
        if (got.isEmpty()) continue;
        sent += got;
        QVERIFY(rig.pty.Write(got + "\r\n"));
    }
    QCOMPARE(sent, QByteArray("hello"));
    QVERIFY(rig.obj->AnswerRules().IsStopped(0));
    QCOMPARE(rig.obj->AnswerRules().States().value(0),
             Msg(u"Stopped: %1"_s).arg(Msg(u"it matched the echo of its own answer."_s)));
    QTRY_COMPARE_WITH_TIMEOUT(rig.LinesWith(Msg(u"Answer rule %1 is stopped: %2"_s)
                                                .arg(1)
                                                .arg(Msg(u"it matched the echo of its own answer."_s))),
                              1, 10000);
}

void TstAnswerRules::atMostSoManyAnswersASecond()
{
    Rig rig;
    rig.obj->AnswerRules().SetRules({Rule(TWhen::Contains, u"ping"_s, TSend::Text, u"pong"_s)});
    QByteArray flood;
    for (int i = 0; i < 30; ++i) flood += "ping ";
    rig.Receive(flood);
    const QByteArray answers = rig.pty.Read(4 * TCvAnswerRules::kMaxPerSecond, 10000);
    QCOMPARE(answers, QByteArray("pong").repeated(TCvAnswerRules::kMaxPerSecond));
    QCOMPARE(rig.pty.ReadFor(300), QByteArray());
    const QString told =
        Msg(u"Answer rule %1 matched more than %2 times in a second; it does not answer more often."_s)
            .arg(1)
            .arg(TCvAnswerRules::kMaxPerSecond);
    QTRY_COMPARE_WITH_TIMEOUT(rig.LinesWith(told), 1, 10000);
    // Not stopped: once the second has passed it answers again.
    QTest::qWait(1100);
    rig.Receive("ping");
    QCOMPARE(rig.pty.Read(4, 10000), QByteArray("pong"));
    QCOMPARE(rig.LinesWith(told), 1);
}

void TstAnswerRules::disabledAndBrokenRulesStayQuiet()
{
    Rig rig;
    TCvAnswerRule off = Rule(TWhen::Contains, u"a"_s, TSend::Text, u"1"_s);
    off.Enabled = false;
    const TCvAnswerRule broken = Rule(TWhen::RegExp, u"(b"_s, TSend::Text, u"2"_s);
    const TCvAnswerRule good = Rule(TWhen::Contains, u"c"_s, TSend::Text, u"3"_s);
    rig.obj->AnswerRules().SetRules({off, broken, good});
    const QStringList states = rig.obj->AnswerRules().States();
    QVERIFY(states[0].isEmpty());
    QVERIFY(states[1].startsWith(
        Msg(u"When: the regular expression is wrong at position %1: %2"_s).section(u'%', 0, 0)));
    QVERIFY(states[2].isEmpty());
    rig.Receive("abc");
    QCOMPARE(rig.pty.Read(1, 10000), QByteArray("3"));
    QCOMPARE(rig.pty.ReadFor(300), QByteArray());
}

void TstAnswerRules::keptInThePortsSettingsFile_data()
{
    QTest::addColumn<QList<TCvAnswerRule>>("rules");
    QTest::addColumn<QList<TCvAnswerRule>>("loaded");
    TCvAnswerRule off = Rule(TWhen::Hex, u"01 03"_s, TSend::Hex, u"01 83 02"_s, 250);
    off.Enabled = false;
    QTest::newRow("several kinds")
        << QList<TCvAnswerRule>{Rule(TWhen::Contains, u"login:"_s, TSend::Text, u"root\\r"_s),
                                Rule(TWhen::RegExp, u"^\\d+ OK$"_s, TSend::Text, u"next\\r\\n"_s), off}
        << QList<TCvAnswerRule>{Rule(TWhen::Contains, u"login:"_s, TSend::Text, u"root\\r"_s),
                                Rule(TWhen::RegExp, u"^\\d+ OK$"_s, TSend::Text, u"next\\r\\n"_s), off};
    // Blanks at the ends survive the file, in a text and in a regular expression.
    QTest::newRow("blanks at the ends")
        << QList<TCvAnswerRule>{Rule(TWhen::Contains, u"  login: "_s, TSend::Text, u" root \\r"_s),
                                Rule(TWhen::RegExp, u"name:\\ "_s, TSend::Text, u"x\\x20 "_s)}
        // A blank escaped in a regular expression is the same blank.
        << QList<TCvAnswerRule>{Rule(TWhen::Contains, u"  login: "_s, TSend::Text, u" root \\r"_s),
                                Rule(TWhen::RegExp, u"name: "_s, TSend::Text, u"x  "_s)};
    QTest::newRow("none") << QList<TCvAnswerRule>{} << QList<TCvAnswerRule>{};
}

void TstAnswerRules::keptInThePortsSettingsFile()
{
    QFETCH(QList<TCvAnswerRule>, rules);
    QFETCH(QList<TCvAnswerRule>, loaded);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Virtual Port (_dev_pts_9).ini"_s);
    {
        // What else the file holds stays: the line settings and a section of someone else's.
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[Other]\r\nKey=kept\r\n[AnswerRules]\r\nCount=3\r\nRule3_Match=old\r\n");
    }
    TCvComPortObj a(nullptr, u"Virtual Port (/dev/pts/9)"_s);
    a.SetBaudRate(br115200);
    a.AnswerRules().SetRules(rules);
    a.StoreSettings(stIniFile, path);

    TCvComPortObj b(nullptr, u"Virtual Port (/dev/pts/9)"_s);
    b.LoadSettings(stIniFile, path);
    QCOMPARE(b.AnswerRules().Rules(), loaded);
    QCOMPARE(b.BaudRate(), int(br115200));
    TIniFile ini;
    QVERIFY(ini.Load(path));
    QCOMPARE(ini.ReadString(u"Other"_s, u"Key"_s), u"kept"_s);
    // The old rules are gone, not mixed in.
    QCOMPARE(ini.ValueExists(TCvAnswerRules::Section, u"Rule3_Match"_s), rules.size() >= 3);
    QCOMPARE(ini.HasSection(TCvAnswerRules::Section), !rules.isEmpty());
}

void TstAnswerRules::problems_data()
{
    QTest::addColumn<TCvAnswerRule>("rule");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("problem");
    const int utf8 = int(TTextEncoding::Utf8);
    QTest::newRow("good text") << Rule(TWhen::Contains, u"a\\x41\\\\"_s, TSend::Text, u"b\\e"_s) << utf8
                               << QString();
    QTest::newRow("good hex") << Rule(TWhen::Hex, u"0103"_s, TSend::Hex, u"0x06"_s) << utf8 << QString();
    QTest::newRow("bad escape")
        << Rule(TWhen::Contains, u"a\\q"_s, TSend::Text, u"b"_s) << utf8
        << Msg(u"When: %1"_s)
               .arg(Msg(u"Unknown escape at position %1: use \\r \\n \\t \\e \\0 \\\\ or \\xHH."_s).arg(2));
    QTest::newRow("short \\x")
        << Rule(TWhen::Contains, u"a"_s, TSend::Text, u"\\x4"_s) << utf8
        << Msg(u"Answer: %1"_s).arg(Msg(u"\\x at position %1 wants two hex digits."_s).arg(1));
    QTest::newRow("backslash at the end")
        << Rule(TWhen::Contains, u"a\\"_s, TSend::Text, u"b"_s) << utf8
        << Msg(u"When: %1"_s)
               .arg(Msg(u"A backslash ends the text at position %1 (write \\\\ for one)."_s).arg(2));
    QTest::newRow("nothing to look for") << Rule(TWhen::Contains, QString(), TSend::Text, u"b"_s) << utf8
                                         << Msg(u"When: nothing to look for."_s);
    QTest::newRow("regexp matching nothing at all")
        << Rule(TWhen::RegExp, u"x*"_s, TSend::Text, u"b"_s) << utf8
        << Msg(u"When: the regular expression matches an empty text."_s);
    QTest::newRow("nothing to send") << Rule(TWhen::Hex, u"01"_s, TSend::Hex, u" "_s) << utf8
                                     << Msg(u"Answer: nothing to send."_s);
    QTest::newRow("delay too long")
        << Rule(TWhen::Hex, u"01"_s, TSend::Hex, u"02"_s, 60001) << utf8
        << Msg(u"The delay must be 0 to %1 ms."_s).arg(TCvAnswerRules::kMaxDelayMs);
    // Nothing is cut to 8 bits: an answer the port's encoding cannot hold is refused.
    QTest::newRow("answer not in the encoding")
        << Rule(TWhen::Contains, u"a"_s, TSend::Text, u"好"_s) << int(TTextEncoding::Latin1)
        << Msg(u"Answer: %1"_s).arg(UnencodableMessage(u"好"_s, 0, TTextEncoding::Latin1));
}

void TstAnswerRules::problems()
{
    QFETCH(TCvAnswerRule, rule);
    QFETCH(int, encoding);
    QFETCH(QString, problem);
    QCOMPARE(AnswerRuleProblem(rule, TTextEncoding(encoding)), problem);
}

void TstAnswerRules::escapes_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << u"login: "_s << u"login: "_s;
    QTest::newRow("line ends") << u"a\\r\\n\\t"_s << u"a\r\n\t"_s;
    QTest::newRow("escape and NUL") << u"\\e[0m\\0"_s << QString(QChar(0x1B)) + u"[0m"_s + QChar(0);
    QTest::newRow("hex byte") << u"\\x7F\\x41"_s << QString(QChar(0x7F)) + u"A"_s;
    QTest::newRow("backslash") << u"C:\\\\dir"_s << u"C:\\dir"_s;
    QTest::newRow("Chinese") << u"温度"_s << u"温度"_s;
}

void TstAnswerRules::escapes()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QString out;
    QVERIFY(UnescapeText(typed, &out));
    QCOMPARE(out, text);
    // What the log shows reads back as the same text.
    QString back;
    QVERIFY(UnescapeText(EscapeText(text), &back));
    QCOMPARE(back, text);
}

QTEST_MAIN(TstAnswerRules)
#include "tst_answerrules.moc"
