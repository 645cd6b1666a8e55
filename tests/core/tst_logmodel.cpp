#include "TLogModel.h"

#include <QBuffer>
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
    for (QString line : lines) {
        line.replace(QStringLiteral("\\r"), QStringLiteral("\r"))
            .replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        one.Add(line);
        utf8 += line.toUtf8();
        ends.push_back(std::uint32_t(utf8.size()));
    }
    const quint64 revision = all.Revision();
    all.AddUtf8Lines(std::string_view(utf8.constData(), std::size_t(utf8.size())), ends);
    QCOMPARE(all.Text(), one.Text());
    QCOMPARE(all.LineCount(), one.LineCount());
    QCOMPARE(all.Revision(), revision + 1);
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

QTEST_APPLESS_MAIN(TstLogModel)
#include "tst_logmodel.moc"
