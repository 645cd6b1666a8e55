#include "StyledMarkup.h"
#include "TCvAnsiFilter.h"

#include <QTest>

Q_DECLARE_METATYPE(TAnsiMode)

// The escape filter against a table of what devices send: the text and colour runs that
// come out (as markup, see StyledMarkup.h), whole and split at every character.
class TstAnsiFilter : public QObject {
    Q_OBJECT
private slots:
    void feed_data();
    void feed();
    void splitAnywhere_data() { feed_data(); }
    void splitAnywhere();
    void oneCharacterAtATime_data() { feed_data(); }
    void oneCharacterAtATime();
    void brokenShowsEverything_data();
    void brokenShowsEverything();
    void heldSequenceIsFlushed();
    void runsContinueAcrossChunks();
    void modeChangeGivesUpHeldSequence();
    void modeNames();
    void sliceRuns_data();
    void sliceRuns();
};

namespace {

const QString E = QStringLiteral("\x1b");

QString Filter(TAnsiMode mode, const QStringList& chunks)
{
    TCvAnsiFilter f(mode);
    TCvStyledText out;
    for (const QString& c : chunks) f.Feed(c, out);
    return Markup::Describe(out);
}

} // namespace

void TstAnsiFilter::feed_data()
{
    QTest::addColumn<TAnsiMode>("mode");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const auto C = TAnsiMode::Colours;
    QTest::newRow("plain") << C << "hello\r\n"
                           << "hello\r\n";
    QTest::newRow("ESP-IDF info line")
        << C << E + "[0;32mI (312) cpu_start: Starting scheduler" + E + "[0m\r\n"
        << "{fg2|I (312) cpu_start: Starting scheduler}\r\n";
    QTest::newRow("Zephyr prompt") << C << E + "[1;32muart:~$ " + E + "[m"
                                   << "{fg2,bold|uart:~$ }";
    QTest::newRow("bash bracketed paste on") << C << E + "[?2004hme@box:~$ "
                                             << "me@box:~$ ";
    QTest::newRow("reset by 0") << C << E + "[31mA" + E + "[0mB"
                                << "{fg1|A}B";
    QTest::newRow("reset by empty") << C << E + "[31mA" + E + "[mB"
                                    << "{fg1|A}B";
    QTest::newRow("default foreground") << C << E + "[31;1mA" + E + "[39mB"
                                        << "{fg1,bold|A}{bold|B}";
    QTest::newRow("bold off") << C << E + "[1mA" + E + "[22mB"
                              << "{bold|A}B";
    QTest::newRow("faint off") << C << E + "[2mA" + E + "[22mB"
                               << "{faint|A}B";
    QTest::newRow("italic off") << C << E + "[3mA" + E + "[23mB"
                                << "{italic|A}B";
    QTest::newRow("underline off") << C << E + "[4mA" + E + "[24mB"
                                   << "{ul|A}B";
    QTest::newRow("curly underline") << C << E + "[4:3mA" + E + "[4:0mB"
                                     << "{ul|A}B";
    QTest::newRow("inverse off") << C << E + "[7mA" + E + "[27mB"
                                 << "{inv|A}B";
    QTest::newRow("strike off") << C << E + "[9mA" + E + "[29mB"
                                << "{strike|A}B";
    QTest::newRow("8 colours") << C << E + "[30mA" + E + "[37mB"
                               << "{fg0|A}{fg7|B}";
    QTest::newRow("bright colours") << C << E + "[90mA" + E + "[97mB"
                                    << "{fg8|A}{fg15|B}";
    QTest::newRow("backgrounds") << C << E + "[41mA" + E + "[49mB" + E + "[107mC"
                                 << "{bg1|A}B{bg15|C}";
    QTest::newRow("256 colours") << C << E + "[38;5;208mA" + E + "[48;5;17mB"
                                 << "{fg208|A}{fg208,bg17|B}";
    QTest::newRow("256 colours, colons") << C << E + "[38:5:208mA"
                                         << "{fg208|A}";
    QTest::newRow("24-bit") << C << E + "[38;2;255;128;0mA" + E + "[48;2;1;2;3mB"
                            << "{fg#ff8000|A}{fg#ff8000,bg#010203|B}";
    QTest::newRow("24-bit, colons") << C << E + "[38:2:255:128:0mA"
                                    << "{fg#ff8000|A}";
    QTest::newRow("24-bit, colons with colour space") << C << E + "[38:2::16:32:48mA"
                                                      << "{fg#102030|A}";
    QTest::newRow("24-bit values clamp") << C << E + "[38;2;999;0;0mA"
                                         << "{fg#ff0000|A}";
    QTest::newRow("several at once") << C << E + "[1;4;31;42mA"
                                     << "{fg1,bg2,bold,ul|A}";
    QTest::newRow("colour then more after 38") << C << E + "[38;5;1;1mA"
                                               << "{fg1,bold|A}";
    QTest::newRow("unreadable 38 stops") << C << E + "[1;38;7;4mA"
                                         << "{bold|A}";
    QTest::newRow("38 without its values") << C << E + "[38;5mA"
                                           << "A";
    QTest::newRow("underline colour is skipped") << C << E + "[58;5;3;1mA"
                                                 << "{bold|A}";
    QTest::newRow("blink and conceal not shown") << C << E + "[5;8mA"
                                                 << "A";
    QTest::newRow("erase in line keeps the colour") << C << E + "[32mA" + E + "[KB" + E + "[0m"
                                                    << "{fg2|AB}";
    QTest::newRow("cursor moves and erase screen")
        << C << "A" + E + "[2J" + E + "[H" + E + "[10;20HB" + E + "[3A"
        << "AB";
    QTest::newRow("private modes") << C << E + "[?25l" + E + "[?1049hA" + E + "[?1049l"
                                   << "A";
    QTest::newRow("private SGR-like is not SGR") << C << E + "[>4;2mA"
                                                 << "A";
    QTest::newRow("intermediate makes it not SGR") << C << E + "[1 mA"
                                                   << "A";
    QTest::newRow("OSC title with BEL") << C << E + "]0;my title\aA"
                                        << "A";
    QTest::newRow("OSC title with ST") << C << E + "]2;my title" + E + "\\A"
                                       << "A";
    QTest::newRow("OSC hyperlink") << C << E + "]8;;http://x.example/a" + E + "\\link" + E + "]8;;" + E + "\\"
                                   << "link";
    QTest::newRow("DCS") << C << E + "P1$r0m" + E + "\\A"
                         << "A";
    QTest::newRow("APC and PM") << C << E + "_x" + E + "\\A" + E + "^y\aB"
                                << "AB";
    QTest::newRow("character sets") << C << E + "(BA" + E + ")0B" + E + "%GC"
                                    << "ABC";
    QTest::newRow("two-character escapes")
        << C << E + "7A" + E + "8B" + E + "=C" + E + ">D" + E + "ME" + E + "cF"
        << "ABCDEF";
    QTest::newRow("CSI broken by a line break") << C << E + "[12\r\nA"
                                                << "\u241B[12\r\nA";
    QTest::newRow("escape then line break") << C << E + "\r\nA"
                                            << "\u241B\r\nA";
    QTest::newRow("escape inside CSI starts anew") << C << E + "[31" + E + "[32mA"
                                                   << "\u241B[31{fg2|A}";
    QTest::newRow("escape escape") << C << E + E + "[31mA"
                                   << "\u241B{fg1|A}";
    QTest::newRow("broken CSI keeps the colour") << C << E + "[31mA" + E + "[1\x01" + "B"
                                                 << "{fg1|A\u241B[1\x01"
                                                    "B}";
    QTest::newRow("OSC broken by a line") << C << E + "]0;title\r\nnext"
                                          << "\u241B]0;title\r\nnext";
    QTest::newRow("OSC without ST, then CSI") << C << E + "]0;title" + E + "[31mA"
                                              << "\u241B]0;title{fg1|A}";
    QTest::newRow("C1 CSI is text") << C << "\u009B31mA"
                                    << "\u009B31mA";
    QTest::newRow("CJK and emoji in colour") << C << E + "[31m温度😀" + E + "[0m ok"
                                             << "{fg1|温度😀} ok";
    QTest::newRow("remove: colours go too")
        << TAnsiMode::Remove << E + "[0;32mI (312)" + E + "[0m" + E + "]0;t\a" + E + "[2K"
        << "I (312)";
    QTest::newRow("remove: broken still shown") << TAnsiMode::Remove << E + "[12\nA"
                                                << "\u241B[12\nA";
    QTest::newRow("show: escapes made visible") << TAnsiMode::Show << E + "[0;32mI" + E + "[0m" + E + "]0;t\a"
                                                << "\u241B[0;32mI\u241B[0m\u241B]0;t\a";
}

void TstAnsiFilter::feed()
{
    QFETCH(TAnsiMode, mode);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(Filter(mode, {input}), expected);
}

void TstAnsiFilter::splitAnywhere()
{
    QFETCH(TAnsiMode, mode);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    for (qsizetype k = 0; k <= input.size(); ++k)
        QVERIFY2(Filter(mode, {input.left(k), input.mid(k)}) == expected, qPrintable(QString::number(k)));
}

void TstAnsiFilter::oneCharacterAtATime()
{
    QFETCH(TAnsiMode, mode);
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QStringList chunks;
    for (const QChar c : input) chunks << QString(c);
    // Surrogate pairs cut in two still come out as one character.
    QCOMPARE(Filter(mode, chunks), expected);
}

void TstAnsiFilter::brokenShowsEverything_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("endless CSI") << E + "[" + QString(QStringLiteral("1;")).repeated(100) + "mA";
    QTest::newRow("endless intermediates") << E + "(" + QString(100, QLatin1Char(' ')) + "B";
    QTest::newRow("endless OSC") << E + "]0;" + QString(TCvAnsiFilter::kMaxString + 100, QLatin1Char('x')) +
                                        "\aA";
    QTest::newRow("endless DCS") << E + "P" + QString(TCvAnsiFilter::kMaxString * 2, QLatin1Char('y'));
    QTest::newRow("ESC DEL") << E + "\x7f" + "A";
}

void TstAnsiFilter::brokenShowsEverything()
{
    // Given up past the bound, every character shows: nothing after it is swallowed.
    QFETCH(QString, input);
    QString expected = input;
    expected.replace(E, QStringLiteral("\u241B"));
    QCOMPARE(Filter(TAnsiMode::Colours, {input}), expected);
    QCOMPARE(Filter(TAnsiMode::Colours, {input.left(input.size() / 2), input.mid(input.size() / 2)}),
             expected);
}

void TstAnsiFilter::heldSequenceIsFlushed()
{
    TCvAnsiFilter f;
    TCvStyledText out;
    f.Feed(QString(QStringLiteral("ok") + E + "[3"), out);
    QCOMPARE(out.Text, QStringLiteral("ok"));
    QCOMPARE(f.Held(), qsizetype(3));
    f.Flush(out);
    QCOMPARE(out.Text, QStringLiteral("ok\u241B[3"));
    QCOMPARE(f.Held(), qsizetype(0));
    f.Feed(u"1mX", out);
    QCOMPARE(out.Text, QStringLiteral("ok\u241B[31mX"));
}

void TstAnsiFilter::runsContinueAcrossChunks()
{
    TCvAnsiFilter f;
    TCvStyledText out;
    f.Feed(QString(E + "[32mAB"), out);
    f.Feed(u"CD", out);
    QCOMPARE(Markup::Describe(out), QStringLiteral("{fg2|ABCD}"));
    QCOMPARE(out.Runs.size(), std::size_t(1));
    // A new output starts its runs at its own text.
    TCvStyledText next;
    f.Feed(QString("EF" + E + "[0mG"), next);
    QCOMPARE(Markup::Describe(next), QStringLiteral("{fg2|EF}G"));
    QCOMPARE(f.Style(), TCvTextStyle());
    f.Feed(QString(E + "[1m"), next);
    f.Reset();
    f.Feed(u"H", next);
    QCOMPARE(Markup::Describe(next), QStringLiteral("{fg2|EF}GH"));
}

void TstAnsiFilter::modeChangeGivesUpHeldSequence()
{
    TCvAnsiFilter f;
    TCvStyledText out;
    f.Feed(QString(E + "[31mA" + E + "]0;ti"), out);
    f.SetMode(TAnsiMode::Show, &out);
    f.Feed(QString(E + "[0m"), out);
    QCOMPARE(Markup::Describe(out), QStringLiteral("{fg1|A\u241B]0;ti}\u241B[0m"));
    QCOMPARE(f.Mode(), TAnsiMode::Show);
}

void TstAnsiFilter::modeNames()
{
    for (const TAnsiMode m : {TAnsiMode::Colours, TAnsiMode::Remove, TAnsiMode::Show}) {
        TAnsiMode back = kDefaultAnsiMode;
        QVERIFY(AnsiModeFromName(AnsiModeName(m).toLower(), &back));
        QCOMPARE(back, m);
    }
    TAnsiMode unchanged = TAnsiMode::Show;
    QVERIFY(!AnsiModeFromName(QStringLiteral("Colourful"), &unchanged));
    QCOMPARE(unchanged, TAnsiMode::Show);
    QCOMPARE(kDefaultAnsiMode, TAnsiMode::Colours);
}

void TstAnsiFilter::sliceRuns_data()
{
    QTest::addColumn<QString>("markup");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("expected");
    QTest::newRow("all") << "a{fg1|bc}d" << 0 << 4 << "a{fg1|bc}d";
    QTest::newRow("trimmed front") << "  {fg1|bc}d" << 2 << 3 << "{fg1|bc}d";
    QTest::newRow("cut through a run") << "a{fg1|bcde}f" << 2 << 2 << "{fg1|cd}";
    QTest::newRow("second line") << "{fg1|ab\r\ncd}{fg2|e}" << 4 << 3 << "{fg1|cd}{fg2|e}";
    QTest::newRow("nothing coloured") << "{fg1|ab}cd" << 2 << 2 << "cd";
}

void TstAnsiFilter::sliceRuns()
{
    QFETCH(QString, markup);
    QFETCH(int, from);
    QFETCH(int, length);
    QFETCH(QString, expected);
    const TCvStyledText t = Markup::Parse(markup);
    QCOMPARE(Markup::Describe(t.Text.mid(from, length), SliceRuns(t.Runs, from, length)), expected);
}

QTEST_APPLESS_MAIN(TstAnsiFilter)
#include "tst_ansifilter.moc"
