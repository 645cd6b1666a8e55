#include "StyledMarkup.h"
#include "TCvAnsiFilter.h"
#include "TLogModel.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

// Operations are written as a small script: "a:text" add, "p:text" append to the last line,
// "r<i>:text" replace line i, "c" clear. \r\n inside texts are CR LF pairs.
class TstLogModel : public QObject {
    Q_OBJECT
private slots:
    void script_data();
    void script();
    void linesAtOnceAsAdds_data();
    void linesAtOnceAsAdds();
    void millionLines();
    void longLineGrowsLinearly();
    void boundedMemorySpillsToDisk();
    void colourRuns_data();
    void colourRuns();
    void colouredLogCostsLittleMore();
    void colourRunsSpillWithTheirLines();
    void colouredLineGrowsAsOneRun();
    void manyRunsOnTheLastLine();
    void randomEditsMatchAStyledText_data();
    void randomEditsMatchAStyledText();
};

static void Run(TLogModel& m, const QStringList& ops)
{
    for (const QString& op : ops) {
        const QString text = op.mid(op.indexOf(QLatin1Char(':')) + 1);
        if (op.startsWith(QLatin1String("a:"))) m.Add(text);
        else if (op.startsWith(QLatin1String("p:"))) m.AppendToLastLine(text);
        else if (op.startsWith(QLatin1Char('r')))
            m.ReplaceLine(op.mid(1, op.indexOf(QLatin1Char(':')) - 1).toLongLong(), text);
        else if (op == QLatin1String("c")) m.Clear();
    }
}

static QStringList StyledLines(const TLogModel& m);

// Several lines added in one change end exactly as the same lines added one by one.
void TstLogModel::linesAtOnceAsAdds_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty model") << QStringList{} << QStringList{"a", "b", "c"};
    QTest::newRow("after a line") << QStringList{"a:x"} << QStringList{"a", "b"};
    QTest::newRow("after an open line") << QStringList{"p:open"} << QStringList{"a", "b"};
    QTest::newRow("empty lines") << QStringList{"p:open"} << QStringList{"", "a", "", ""};
    QTest::newRow("one empty line on empty") << QStringList{} << QStringList{""};
    QTest::newRow("lone CR and LF stay in a line") << QStringList{"a:x"} << QStringList{"a\rb", "c\nd"};
    QTest::newRow("CR LF inside a line splits it") << QStringList{"a:x"} << QStringList{"a\r\nb", "c"};
    QTest::newRow("utf8") << QStringList{"a:科"} << QStringList{"万串口", "温度 23.5°C"};
    // Lines are markup (StyledMarkup.h): with runs they go as UTF-8 runs of the block.
    QTest::newRow("coloured") << QStringList{"p:open"}
                              << QStringList{"{fg2|I (1) boot}", "plain", "x{fg1,bold|温度😀}y{fg3|z}", ""};
    QTest::newRow("coloured on empty") << QStringList{} << QStringList{"{fg1|a}", "{bg4|b}"};
}

void TstLogModel::linesAtOnceAsAdds()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, lines);
    TLogModel one, all;
    Run(one, before);
    Run(all, before);
    QByteArray utf8;
    std::vector<std::uint32_t> ends;
    TCvStyleRuns runs;
    for (QString line : lines) {
        line.replace(QStringLiteral("\\r"), QStringLiteral("\r"))
            .replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        const TCvStyledText t = Markup::Parse(line);
        one.Add(t.Text, t.Runs);
        for (const TCvStyleRun& r : t.Runs) {
            const auto at = quint32(utf8.size() + t.Text.left(r.Start).toUtf8().size());
            runs.push_back({at, quint32(t.Text.mid(r.Start, r.Length).toUtf8().size()), r.Style});
        }
        utf8 += t.Text.toUtf8();
        ends.push_back(std::uint32_t(utf8.size()));
    }
    const quint64 revision = all.Revision();
    all.AddUtf8Lines(std::string_view(utf8.constData(), std::size_t(utf8.size())), ends, runs);
    QCOMPARE(all.Text(), one.Text());
    QCOMPARE(all.LineCount(), one.LineCount());
    QCOMPARE(StyledLines(all), StyledLines(one));
    QCOMPARE(all.Revision(), revision + 1);
    // The runs in bytes, read back and turned into characters, are the runs.
    for (qint64 i = 0; i < all.LineCount(); ++i) {
        const QByteArray line = all.LineUtf8(i);
        const TCvStyleRuns back = TLogModel::Utf8RunsToUnits(
            std::string_view(line.constData(), std::size_t(line.size())), all.LineRunsUtf8(i));
        QCOMPARE(Markup::Describe(all.Line(i), back), Markup::Describe(all.Line(i), all.LineRuns(i)));
    }
}

void TstLogModel::script_data()
{
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << QStringList{} << QByteArray() << 0;
    QTest::newRow("add to empty") << QStringList{"a:x"} << QByteArray("x\r\n") << 1;
    QTest::newRow("add empty to empty") << QStringList{"a:"} << QByteArray("\r\n") << 1;
    QTest::newRow("AB then C CRLF D") << QStringList{"p:AB", "p:C\r\nD"} << QByteArray("ABC\r\nD") << 2;
    QTest::newRow("add after open line") << QStringList{"p:abc", "a:x"} << QByteArray("abc\r\nx") << 2;
    QTest::newRow("add empty after open line counts")
        << QStringList{"p:abc", "a:"} << QByteArray("abc\r\n\r\n") << 2;
    QTest::newRow("append after CRLF goes before it")
        << QStringList{"a:x", "p:y"} << QByteArray("xy\r\n") << 1;
    QTest::newRow("append CRLF text leaves empty last line")
        << QStringList{"a:x", "p:y\r\n"} << QByteArray("xy\r\n\r\n") << 2;
    QTest::newRow("empty last line is filled next")
        << QStringList{"a:x", "p:y\r\n", "p:z"} << QByteArray("xy\r\nz\r\n") << 2;
    QTest::newRow("open view: CRLF opens no line")
        << QStringList{"p:a\r\n", "p:b"} << QByteArray("ab\r\n") << 1;
    QTest::newRow("replace splits") << QStringList{"a:1", "a:2", "r0:x\r\ny"} << QByteArray("x\r\ny\r\n2\r\n")
                                    << 3;
    QTest::newRow("replace on empty") << QStringList{"r0:hello"} << QByteArray("hello") << 1;
    QTest::newRow("CR and LF alone are characters") << QStringList{"p:a\rb\nc"} << QByteArray("a\rb\nc") << 1;
    QTest::newRow("CRLF split over two appends")
        << QStringList{"p:a\r", "p:\nb"} << QByteArray("a\r\nb") << 2;
    QTest::newRow("clear") << QStringList{"a:1", "a:2", "c", "p:z"} << QByteArray("z") << 1;
    QTest::newRow("utf8") << QStringList{"a:科万", "p:串口"} << QByteArray("科万串口\r\n") << 1;
    QTest::newRow("appends before the final CRLF")
        << QStringList{"a:x", "a:y", "p:z", "p:w", "a:v"} << QByteArray("x\r\nyzw\r\nv\r\n") << 3;
    QTest::newRow("CR before the final CRLF joins an LF")
        << QStringList{"a:x\r", "p:\ny", "p:z"} << QByteArray("x\r\nyz\r\n") << 2;
}

void TstLogModel::script()
{
    QFETCH(QStringList, ops);
    QFETCH(QByteArray, text);
    QFETCH(int, lines);
    TLogModel m;
    Run(m, ops);
    QCOMPARE(m.Text(), text);
    QCOMPARE(m.LineCount(), qint64(lines));
    const QList<QByteArray> pieces = text.split('\n');
    // Every line read back matches the text between CR LF pairs.
    QStringList expected = QString::fromUtf8(text).split(QStringLiteral("\r\n"));
    if (!expected.isEmpty() && expected.last().isEmpty()) expected.removeLast();
    for (int i = 0; i < lines; ++i) QCOMPARE(m.Line(i), expected.value(i));
    QCOMPARE(m.Line(lines), QString());
    QCOMPARE(m.Line(-1), QString());
    Q_UNUSED(pieces);
}

void TstLogModel::millionLines()
{
    TLogModel m;
    const QString line = QStringLiteral(
        "0000001| (20261210 12:00:00) 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50    ABCDEFGHIJKLMNOP");
    for (int i = 0; i < 1000000; ++i) m.Add(line);
    QCOMPARE(m.LineCount(), qint64(1000000));
    QCOMPARE(m.Line(999999), line);
    // Little more than the text itself.
    QVERIFY2(double(m.MemoryBytes()) < 1.3 * double(m.TextBytes()),
             qPrintable(QString::number(m.MemoryBytes())));
}

void TstLogModel::longLineGrowsLinearly()
{
    TLogModel m;
    const QString chunk(4096, QLatin1Char('x'));
    for (int i = 0; i < 2000; ++i) m.AppendToLastLine(chunk);
    QCOMPARE(m.LineCount(), qint64(1));
    QCOMPARE(m.TextBytes(), qint64(4096) * 2000);
    // The same for a line that ends with the final CR LF (text received after a message).
    TLogModel v;
    v.Add(QStringLiteral("Device was opened."));
    v.Add(QString());
    for (int i = 0; i < 2000; ++i) v.AppendToLastLine(chunk);
    QCOMPARE(v.LineCount(), qint64(2));
    QVERIFY(v.EndsWithCrlf());
    QCOMPARE(v.LineUtf8(1).size(), qsizetype(4096) * 2000);
    QCOMPARE(v.LineBytes(1), qint64(4096) * 2000);
    QCOMPARE(v.LineUtf8From(1, 4096 * 2000 - 3), QByteArray("xxx"));
    QCOMPARE(v.LineUtf8From(1, 4096 * 2000), QByteArray());
    QCOMPARE(v.LineUtf8From(0, 7), QByteArray("was opened."));
    QCOMPARE(v.LineBytes(2), qint64(0));
}

void TstLogModel::boundedMemorySpillsToDisk()
{
    TLogModel m;
    m.SetMemoryLimit(4 << 20);
    QByteArray expected;
    for (int i = 0; i < 200000; ++i) {
        const QString line =
            QStringLiteral("%1| 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGHIJKLMNOP")
                .arg(i, 6, 10, QLatin1Char('0'));
        m.Add(line);
        expected += line.toUtf8() + "\r\n";
    }
    QVERIFY2(m.MemoryBytes() < (6u << 20), qPrintable(QString::number(m.MemoryBytes())));
    QVERIFY(m.SpilledBytes() > 10 << 20);
    // Every line is still there, on disk or not, and the saved text is whole.
    QCOMPARE(m.LineCount(), qint64(200000));
    for (int i : {0, 1, 9999, 123456, 199999})
        QVERIFY(m.Line(i).startsWith(QStringLiteral("%1|").arg(i, 6, 10, QLatin1Char('0'))));
    QCOMPARE(m.Text(), expected);
    // Streamed out the same, batch after batch.
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QVERIFY(m.WriteTo(out));
    QCOMPARE(out.data(), expected);
    // A line deep on disk can still be replaced.
    m.ReplaceLine(5, QStringLiteral("five"));
    QCOMPARE(m.Line(5), QStringLiteral("five"));
    QCOMPARE(m.Line(6).left(7), QStringLiteral("000006|"));
    QCOMPARE(m.LineCount(), qint64(200000));
    m.Clear();
    QCOMPARE(m.SpilledBytes(), qint64(0));
    QCOMPARE(m.LineCount(), qint64(0));
}

// The same script language with markup (StyledMarkup.h) in the texts; upper-case letters
// are the calls with runs: "A:" add, "P:" append, "R<i>:" replace, "X<i>:" puts plain text
// before line i.
static void RunStyled(TLogModel& m, const QStringList& ops)
{
    for (const QString& op : ops) {
        const qsizetype colon = op.indexOf(QLatin1Char(':'));
        const TCvStyledText t = Markup::Parse(op.mid(colon + 1));
        const qint64 index = op.mid(1, colon - 1).toLongLong();
        switch (op.at(0).unicode()) {
        case 'A': m.Add(t.Text, t.Runs); break;
        case 'P': m.AppendToLastLine(t.Text, t.Runs); break;
        case 'R': m.ReplaceLine(index, t.Text, t.Runs); break;
        case 'X': m.PrefixLine(index, t.Text); break;
        default: Run(m, {op}); break;
        }
    }
}

static QStringList StyledLines(const TLogModel& m)
{
    QStringList out;
    for (qint64 i = 0; i < m.LineCount(); ++i) out << Markup::Describe(m.Line(i), m.LineRuns(i));
    return out;
}

void TstLogModel::colourRuns_data()
{
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("add") << QStringList{"A:{fg1|red} plain"} << QStringList{"{fg1|red} plain"};
    QTest::newRow("plain add has no runs") << QStringList{"a:plain"} << QStringList{"plain"};
    QTest::newRow("same colour appended extends the run")
        << QStringList{"P:{fg2|ab}", "P:{fg2|cd}", "P:{fg2|ef}"} << QStringList{"{fg2|abcdef}"};
    QTest::newRow("other colour appended")
        << QStringList{"P:{fg2|ab}", "P:{fg3|cd}"} << QStringList{"{fg2|ab}{fg3|cd}"};
    QTest::newRow("plain text appended")
        << QStringList{"P:{fg2|ab}", "p:cd", "P:{fg2|ef}"} << QStringList{"{fg2|ab}cd{fg2|ef}"};
    QTest::newRow("a run split by CR LF")
        << QStringList{"P:x{fg1|a\r\nb}y"} << QStringList{"x{fg1|a}", "{fg1|b}y"};
    QTest::newRow("CR LF split over two appends")
        << QStringList{"P:{fg1|a\r}", "P:{fg1|\nb}"} << QStringList{"{fg1|a}", "{fg1|b}"};
    QTest::newRow("append before the final CR LF")
        << QStringList{"a:x", "P:{fg1|y}", "A:{bold|z}"} << QStringList{"x{fg1|y}", "{bold|z}"};
    QTest::newRow("lines of received text")
        << QStringList{"a:Device opened", "P:{fg2|I (1) boot\r\n}", "P:{fg3|W (2) warn\r\n}", "P:{fg2|I (3)}"}
        << QStringList{"Device opened{fg2|I (1) boot}", "{fg3|W (2) warn}", "{fg2|I (3)}"};
    QTest::newRow("plain replace drops the runs") << QStringList{"A:{fg1|x}", "r0:y"} << QStringList{"y"};
    QTest::newRow("replace with runs splits")
        << QStringList{"a:1", "A:{fg5|2}", "R0:{fg4|x\r\ny}"} << QStringList{"{fg4|x}", "{fg4|y}", "{fg5|2}"};
    QTest::newRow("later lines keep their runs")
        << QStringList{"A:{fg1|a}", "A:{fg2|b}", "A:c{fg3|d}", "r0:z"}
        << QStringList{"z", "{fg2|b}", "c{fg3|d}"};
    QTest::newRow("prefix moves the runs") << QStringList{"A:{fg1|x}y{fg2|z}", "X0:01| (12:00:00) "}
                                           << QStringList{"01| (12:00:00) {fg1|x}y{fg2|z}"};
    QTest::newRow("prefix on an empty log") << QStringList{"X0:01| "} << QStringList{"01| "};
    QTest::newRow("UTF-8 and surrogate pairs")
        << QStringList{"A:温{fg1|度😀}x", "P:{fg1|😀}{fg9|串}"} << QStringList{"温{fg1|度😀}x{fg1|😀}{fg9|串}"};
    QTest::newRow("every kind of style")
        << QStringList{"A:{fg#102030,bg200,bold,faint,italic,ul,inv,strike|x}"}
        << QStringList{"{fg#102030,bg200,bold,faint,italic,ul,inv,strike|x}"};
    QTest::newRow("clear forgets") << QStringList{"A:{fg1|x}", "c", "p:y"} << QStringList{"y"};
}

void TstLogModel::colourRuns()
{
    QFETCH(QStringList, ops);
    QFETCH(QStringList, lines);
    TLogModel m;
    RunStyled(m, ops);
    QCOMPARE(StyledLines(m), lines);
    // The text itself, what is saved and searched, has no markup and no escapes.
    QStringList plain;
    for (const QString& l : lines) plain << Markup::Parse(l).Text;
    QCOMPARE(QString::fromUtf8(m.Text()).split(QStringLiteral("\r\n")).mid(0, plain.size()), plain);
    for (qint64 i = 0; i < m.LineCount(); ++i) QCOMPARE(m.LineHasRuns(i), !m.LineRuns(i).empty());
}

namespace {
QString EspLine(int i)
{
    static const char* const kLevels[] = {"0;32mI", "0;33mW", "0;31mE"};
    return QStringLiteral("\x1b[%1 (%2) wifi: state: auth -> assoc (0)\x1b[0m\r\n")
        .arg(QLatin1String(kLevels[i % 3]))
        .arg(i * 7);
}
} // namespace

void TstLogModel::colouredLogCostsLittleMore()
{
    // An ESP-IDF log through the filter, as the port feeds it: read in pieces of any size.
    TCvAnsiFilter filter;
    TLogModel coloured, plain;
    QString pending;
    for (int i = 0; i < 200000; ++i) {
        pending += EspLine(i);
        if (pending.size() < 700 + i % 300) continue;
        TCvStyledText t;
        filter.Feed(pending, t);
        // As the port appends received text: an empty log takes it as added lines.
        if (coloured.IsEmpty()) {
            coloured.Add(t.Text, t.Runs);
            plain.Add(t.Text);
        } else {
            coloured.AppendToLastLine(t.Text, t.Runs);
            plain.AppendToLastLine(t.Text);
        }
        pending.clear();
    }
    QCOMPARE(coloured.Text(), plain.Text());
    QCOMPARE(coloured.LineCount(), plain.LineCount());
    QCOMPARE(Markup::Describe(coloured.Line(1000), coloured.LineRuns(1000)),
             QStringLiteral("{fg3|W (7000) wifi: state: auth -> assoc (0)}"));
    const double ratio = double(coloured.MemoryBytes()) / double(plain.MemoryBytes());
    qInfo("coloured log: %zu bytes, the same text plain: %zu bytes (ratio %.3f), text %lld bytes",
          coloured.MemoryBytes(), plain.MemoryBytes(), ratio, coloured.TextBytes());
    QVERIFY2(ratio <= 1.3, qPrintable(QString::number(ratio)));
    QVERIFY(double(coloured.MemoryBytes()) <= 1.3 * double(coloured.TextBytes()));
}

void TstLogModel::colourRunsSpillWithTheirLines()
{
    TLogModel m;
    m.SetMemoryLimit(1 << 20);
    for (int i = 0; i < 150000; ++i)
        m.Add(QStringLiteral("%1| level ok").arg(i, 6, 10, QLatin1Char('0')),
              {{8, 5, TCvTextStyle(quint64(TCvTextStyle::Palette(i % 256))).Bits()}});
    QVERIFY(m.SpilledBytes() > 1 << 20);
    for (int i : {0, 1, 12345, 149999})
        QCOMPARE(Markup::Describe(m.Line(i), m.LineRuns(i)),
                 QStringLiteral("%1| {fg%2|level} ok").arg(i, 6, 10, QLatin1Char('0')).arg(i % 256));
    // A line deep on disk replaced: its neighbours keep their colours.
    m.ReplaceLine(5, QStringLiteral("five"),
                  {{0, 4, TCvTextStyle(quint64(TCvTextStyle::Palette(1))).Bits()}});
    QCOMPARE(Markup::Describe(m.Line(5), m.LineRuns(5)), QStringLiteral("{fg1|five}"));
    QCOMPARE(Markup::Describe(m.Line(6), m.LineRuns(6)), QStringLiteral("000006| {fg6|level} ok"));
    QCOMPARE(m.LineCount(), qint64(150000));
}

void TstLogModel::colouredLineGrowsAsOneRun()
{
    // A progress line that never ends, appended piece by piece in one colour.
    TLogModel m, plain;
    for (TLogModel* model : {&m, &plain}) {
        model->Add(QStringLiteral("Device opened"));
        model->Add(QString());
    }
    const QString chunk(1000, QLatin1Char('#'));
    const TCvStyleRuns green{{0, 1000, TCvTextStyle(quint64(TCvTextStyle::Palette(2))).Bits()}};
    for (int i = 0; i < 5000; ++i) {
        m.AppendToLastLine(chunk, green);
        plain.AppendToLastLine(chunk);
    }
    QCOMPARE(m.LineCount(), qint64(2));
    const TCvStyleRuns runs = m.LineRuns(1);
    QCOMPARE(runs.size(), std::size_t(1));
    QCOMPARE(runs[0].Length, quint32(5000000));
    // The run costs a few bytes, not a few per piece.
    QVERIFY2(m.MemoryBytes() < plain.MemoryBytes() + 256, qPrintable(QString::number(m.MemoryBytes())));
}

void TstLogModel::manyRunsOnTheLastLine()
{
    // The last line is the 64th of its chunk and keeps taking pieces in two colours: its runs
    // outgrow every small size, and the empty piece behind it starts a new index step.
    TLogModel m;
    for (int i = 0; i < 63; ++i)
        m.Add(QStringLiteral("l%1").arg(i), {{0, 1, Markup::ParseStyle(QStringLiteral("fg5")).Bits()}});
    m.Add(QString());
    TCvStyledText expected;
    for (int k = 0; k < 3000; ++k) {
        const TCvTextStyle style =
            Markup::ParseStyle(k % 3 == 2 ? QStringLiteral("fg1") : QStringLiteral("fg2,bold"));
        m.AppendToLastLine(QStringLiteral("ab"), {{0, 2, style.Bits()}});
        expected.Append(u"ab", style);
        if (k % 500 == 0) {
            QCOMPARE(Markup::Describe(m.Line(63), m.LineRuns(63)), Markup::Describe(expected));
            QCOMPARE(Markup::Describe(m.Line(62), m.LineRuns(62)), QStringLiteral("{fg5|l}62"));
        }
    }
    QCOMPARE(m.LineCount(), qint64(64));
    QVERIFY(m.EndsWithCrlf());
    QCOMPARE(m.LineRuns(63).size(), std::size_t(2000));
    QCOMPARE(Markup::Describe(m.Line(63), m.LineRuns(63)), Markup::Describe(expected));
    m.Add(QStringLiteral("next"), {{1, 2, Markup::ParseStyle(QStringLiteral("fg3")).Bits()}});
    QCOMPARE(Markup::Describe(m.Line(64), m.LineRuns(64)), QStringLiteral("n{fg3|ex}t"));
    QCOMPARE(Markup::Describe(m.Line(63), m.LineRuns(63)), Markup::Describe(expected));
    QCOMPARE(Markup::Describe(m.Line(0), m.LineRuns(0)), QStringLiteral("{fg5|l}0"));
}

namespace {

// The line model written the plain way: one text T with a style per character.
struct StyledText {
    QString t;
    std::vector<quint64> style;
    mutable std::vector<std::pair<qsizetype, qsizetype>> pieces;

    // Where the pieces between CR LF pairs are; worked out again only after a change.
    const std::vector<std::pair<qsizetype, qsizetype>>& Pieces() const
    {
        if (!pieces.empty()) return pieces;
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = t.indexOf(QLatin1String("\r\n"), from);
            if (at < 0) break;
            pieces.push_back({from, at});
            from = at + 2;
        }
        pieces.push_back({from, t.size()});
        return pieces;
    }
    qsizetype Lines() const
    {
        const auto p = Pieces();
        return p.back().first == p.back().second ? qsizetype(p.size()) - 1 : qsizetype(p.size());
    }
    void Insert(qsizetype at, const TCvStyledText& s)
    {
        pieces.clear();
        t.insert(at, s.Text);
        std::vector<quint64> st(std::size_t(s.Text.size()), 0);
        for (const TCvStyleRun& r : s.Runs)
            for (quint32 k = 0; k < r.Length; ++k) st[r.Start + k] = r.Style;
        style.insert(style.begin() + at, st.begin(), st.end());
    }
    void Erase(qsizetype from, qsizetype to)
    {
        pieces.clear();
        t.remove(from, to - from);
        style.erase(style.begin() + from, style.begin() + to);
    }
    void Add(const TCvStyledText& s)
    {
        const TCvStyledText crlf{QStringLiteral("\r\n"), {}};
        if (t.isEmpty() || t.endsWith(QLatin1String("\r\n"))) {
            Insert(t.size(), s);
            Insert(t.size(), crlf);
        } else if (s.Text.isEmpty()) {
            Insert(t.size(), crlf);
            Insert(t.size(), crlf);
        } else {
            Insert(t.size(), crlf);
            Insert(t.size(), s);
        }
    }
    void Replace(qsizetype i, const TCvStyledText& s)
    {
        const auto p = Pieces(); // a copy: the edit below changes them
        if (Lines() == 0) i = 0;
        if (i < 0 || i >= qsizetype(p.size())) return;
        Erase(p[std::size_t(i)].first, p[std::size_t(i)].second);
        Insert(p[std::size_t(i)].first, s);
    }
    void Append(const TCvStyledText& s)
    {
        if (Lines() == 0) return Replace(0, s);
        Insert(Pieces()[std::size_t(Lines() - 1)].second, s);
    }
    void Prefix(qsizetype i, const QString& prefix)
    {
        if (Lines() == 0) return Replace(0, {prefix, {}});
        const auto p = Pieces();
        if (i < 0 || i >= qsizetype(p.size())) return;
        Insert(p[std::size_t(i)].first, {prefix, {}});
    }
    // Line i as markup, neighbouring runs of one style as one.
    QString Line(qsizetype i) const
    {
        const auto [from, to] = Pieces()[std::size_t(i)];
        TCvStyledText out;
        for (qsizetype k = from; k < to; ++k)
            out.Append(QStringView(t).mid(k, 1), TCvTextStyle(style[std::size_t(k)]));
        return Markup::Describe(out);
    }
};

QString Merged(const QString& text, const TCvStyleRuns& runs)
{
    TCvStyledText out;
    qsizetype at = 0;
    for (const TCvStyleRun& r : runs) {
        out.Append(QStringView(text).mid(at, r.Start - at), TCvTextStyle());
        out.Append(QStringView(text).mid(r.Start, r.Length), TCvTextStyle(r.Style));
        at = r.Start + r.Length;
    }
    out.Append(QStringView(text).mid(at), TCvTextStyle());
    return Markup::Describe(out);
}

} // namespace

void TstLogModel::randomEditsMatchAStyledText_data()
{
    QTest::addColumn<quint32>("start");
    QTest::newRow("one start") << 1u;
    QTest::newRow("another start") << 77u;
}

void TstLogModel::randomEditsMatchAStyledText()
{
    QFETCH(quint32, start);
    QRandomGenerator rng(start);
    static const char16_t* const kBits[] = {u"ab", u"xyz", u"中", u"😀", u" ", u"\r", u"\n", u"\r\n", u"\r\n"};
    TCvTextStyle red, green, boldBack;
    red.SetForeground(TCvTextStyle::Palette(1));
    green.SetForeground(TCvTextStyle::Rgb(0, 200, 0));
    boldBack.SetBackground(TCvTextStyle::Palette(3));
    boldBack.Set(TCvTextStyle::Bold, true);
    const TCvTextStyle styles[] = {TCvTextStyle(), red, green, boldBack};
    const auto randomText = [&](bool styled) {
        TCvStyledText s;
        const int n = rng.bounded(0, 6);
        for (int k = 0; k < n; ++k)
            s.Append(QString::fromUtf16(kBits[rng.bounded(0, 9)]),
                     styled ? styles[rng.bounded(0, 4)] : TCvTextStyle());
        return s;
    };
    TLogModel m;
    StyledText ref;
    for (int op = 0; op < 3000; ++op) {
        const bool styled = rng.bounded(0, 3) != 0;
        const TCvStyledText s = randomText(styled);
        const qint64 line = m.LineCount() ? rng.bounded(0, int(m.LineCount())) : 0;
        switch (rng.bounded(0, 10)) {
        case 0:
        case 1:
            if (styled) m.Add(s.Text, s.Runs);
            else m.Add(s.Text);
            ref.Add(s);
            break;
        case 2:
            if (styled) m.ReplaceLine(line, s.Text, s.Runs);
            else m.ReplaceLine(line, s.Text);
            ref.Replace(line, s);
            break;
        case 3:
            m.PrefixLine(line, QStringLiteral("%1| ").arg(op));
            ref.Prefix(line, QStringLiteral("%1| ").arg(op));
            break;
        default:
            if (styled) m.AppendToLastLine(s.Text, s.Runs);
            else m.AppendToLastLine(s.Text);
            ref.Append(s);
            break;
        }
        if (op % 1000 == 999) {
            m.Clear();
            ref = StyledText();
        }
        QCOMPARE(m.LineCount(), qint64(ref.Lines()));
        if (op % 20 == 0) QCOMPARE(QString::fromUtf8(m.Text()), ref.t);
        // The last lines every time, all of them now and then.
        const qint64 from = op % 50 == 0 ? 0 : std::max<qint64>(0, m.LineCount() - 3);
        for (qint64 i = from; i < m.LineCount(); ++i)
            QVERIFY2(Merged(m.Line(i), m.LineRuns(i)) == ref.Line(i),
                     qPrintable(QStringLiteral("op %1 line %2: %3 / %4")
                                    .arg(op)
                                    .arg(i)
                                    .arg(Merged(m.Line(i), m.LineRuns(i)), ref.Line(i))));
    }
}

QTEST_APPLESS_MAIN(TstLogModel)
#include "tst_logmodel.moc"
