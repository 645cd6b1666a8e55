#include "CvChartDialogs.h"
#include "CvCodecs.h"
#include "CvPlotParser.h"
#include "PortRig.h"
#include "TCvChart.h"
#include "TCvFastLineSeries.h"
#include "TCvPlotFeed.h"
#include "TCvPlotPage.h"
#include "UiFind.h"
#include "UnreadableFile.h"
#include "XlsxCells.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QValueAxis>
#include <QWheelEvent>

namespace {

// What the parser reads from a line: "name=value" in the order of the line.
QStringList Parsed(TCvPlotParser& parser, const QString& line)
{
    std::vector<TCvPlotValue> values;
    parser.Parse(line, values);
    QStringList out;
    for (const TCvPlotValue& v : values)
        out << parser.Channels().at(v.Channel) + QLatin1Char('=') + QString::number(v.Value, 'g', 17);
    return out;
}

// Every channel's points as "name: x/y x/y ...".
QStringList Points(const TCvPlotPage& page)
{
    QStringList out;
    for (const QString& name : page.Channels()) {
        const TCvFastLineSeries* s = page.Series(name);
        QString line = name + QLatin1Char(':');
        for (qint64 i = 0; i < s->Count(); ++i)
            line += QStringLiteral(" %1/%2").arg(s->XValue(i)).arg(s->YValue(i), 0, 'g', 17);
        out << line;
    }
    return out;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A port on a pty with its plot page.
struct PlotRig {
    PortRig rig{PortRig::Options{}};
    std::unique_ptr<TCvPlotPage> page;

    explicit PlotRig(const QString& settings = QString())
        : page(std::make_unique<TCvPlotPage>(rig.obj.get(), settings))
    {
        page->resize(800, 500);
        page->show();
    }
    // The device sends bytes; returns when the plot has every line of them.
    void Receive(const QByteArray& bytes)
    {
        rig.Receive(bytes);
        page->Sync();
    }
};

} // namespace

// The plot page of an ASCII port: the line parser, lines over a real pty, the bounds, the
// export and the settings.
class TstPlot : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetSaveFileNamePrompt({}); }

    void lineFormats_data();
    void lineFormats();
    void numbers_data();
    void numbers();
    void channelLimit();
    void splitAtEveryByte_data();
    void splitAtEveryByte();
    void mixedAndLaterChannels();
    void boundsAndDropNotice();
    void floodWithNobodyTakingRows();
    void lineCutByTwoGapsCountsOnce();
    void wheelFarOutAndBack();
    void valuesAtTheEndsOfDouble();
    void exportReadBack();
    void settingsKept();
    void unreadableSettingsFileIsKept_data();
    void unreadableSettingsFileIsKept();
    void hideAndRanges();
    void timeAxis();
    void pagePerAsciiPort();
    void leavingAsciiStopsThePlot();
};

void TstPlot::lineFormats_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("values");
    const QStringList three{"1=23.5", "2=40.100000000000001", "3=1013"};
    QTest::newRow("commas") << "23.5,40.1,1013" << three;
    QTest::newRow("semicolons") << "23.5;40.1;1013" << three;
    QTest::newRow("blanks") << "23.5 40.1  1013" << three;
    QTest::newRow("tabs") << "23.5\t40.1\t1013" << three;
    QTest::newRow("mixed separators, blanks around") << "  23.5 ,\t40.1; 1013 ;" << three;
    QTest::newRow("label:value, blanks")
        << "temp:23.5 hum:40.1" << QStringList{"temp=23.5", "hum=40.100000000000001"};
    QTest::newRow("label=value, commas")
        << "t=12,ax=-0.02,ay=0.98" << QStringList{"t=12", "ax=-0.02", "ay=0.97999999999999998"};
    QTest::newRow("label: value, blank after the colon")
        << "temp: 23.5, hum: 40" << QStringList{"temp=23.5", "hum=40"};
    QTest::newRow("labels in any script")
        << QStringLiteral("温度:23.5 湿度=40")
        << QStringList{QStringLiteral("温度=23.5"), QStringLiteral("湿度=40")};
    QTest::newRow("words and units passed over") << "Temperature is 23.5 C" << QStringList{"1=23.5"};
    QTest::newRow("a number and garbage is no number") << "23.5C,7" << QStringList{"1=7"};
    QTest::newRow("no number") << "hello world" << QStringList{};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("label without a number") << "state:ok, 5" << QStringList{"1=5"};
    QTest::newRow("nan keeps its place") << "1,nan,3" << QStringList{"1=1", "3=3"};
    QTest::newRow("inf keeps its place") << "inf;-inf;3" << QStringList{"3=3"};
    QTest::newRow("labelled nan skipped") << "a:nan b:2" << QStringList{"b=2"};
    QTest::newRow("line break left on") << "1,2\r\n" << QStringList{"1=1", "2=2"};
}

void TstPlot::lineFormats()
{
    QFETCH(QString, line);
    QFETCH(QStringList, values);
    TCvPlotParser parser;
    QCOMPARE(Parsed(parser, line), values);
}

void TstPlot::numbers_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("number");
    QTest::addColumn<double>("value");
    QTest::newRow("integer") << "42" << true << 42.0;
    QTest::newRow("exponent") << "-1.5e-3" << true << -1.5e-3;
    QTest::newRow("plus, trailing point") << "+7." << true << 7.0;
    QTest::newRow("leading point") << ".5" << true << 0.5;
    QTest::newRow("capital exponent") << "2E3" << true << 2000.0;
    QTest::newRow("comma decimal is two numbers' worth, not one") << "1,5" << false << 0.0;
    QTest::newRow("two signs") << "+-1" << false << 0.0;
    QTest::newRow("sign alone") << "+" << false << 0.0;
    QTest::newRow("hex") << "0x10" << false << 0.0;
    QTest::newRow("out of range") << "1e400" << false << 0.0;
    QTest::newRow("full-width digits") << QStringLiteral("４２") << false << 0.0;
}

void TstPlot::numbers()
{
    QFETCH(QString, token);
    QFETCH(bool, number);
    QFETCH(double, value);
    double v = 0;
    bool finite = false;
    QCOMPARE(TCvPlotParser::ReadNumber(token, &v, &finite), number);
    if (number) {
        QVERIFY(finite);
        QCOMPARE(v, value);
    }
}

void TstPlot::channelLimit()
{
    TCvPlotParser parser;
    QString line;
    for (int i = 0; i < TCvPlotParser::kMaxChannels + 3; ++i) line += QStringLiteral("%1 ").arg(i);
    QCOMPARE(Parsed(parser, line).size(), TCvPlotParser::kMaxChannels);
    QCOMPARE(parser.Channels().size(), TCvPlotParser::kMaxChannels);
    QCOMPARE(parser.Overflow(), 3);
}

void TstPlot::splitAtEveryByte_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("points");
    const QStringList plain{"1: 0/1.5 1/4", "2: 0/-2 1/5", "3: 0/3 1/6"};
    QTest::newRow("commas, CR LF") << QByteArray("1.5,-2,3\r\n4,5,6\r\n") << plain;
    QTest::newRow("blanks, LF only") << QByteArray("1.5 -2 3\n4 5 6\n") << plain;
    QTest::newRow("semicolons, CR only") << QByteArray("1.5;-2;3\r4;5;6\r") << plain;
    QTest::newRow("labels, UTF-8") << QStringLiteral("温度:1.5 b=2\r\n温度:3 b=4\r\n").toUtf8()
                                   << QStringList{QStringLiteral("温度: 0/1.5 1/3"), "b: 0/2 1/4"};
}

// A line split between two reads anywhere, even inside a character or its CR LF, is
// parsed whole.
void TstPlot::splitAtEveryByte()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, points);
    PlotRig r;
    for (int cut = 1; cut < text.size(); ++cut) {
        r.page->Clear();
        r.Receive(text.left(cut));
        r.Receive(text.mid(cut));
        QCOMPARE(Points(*r.page), points);
    }
}

// Labelled and plain numbers in one stream; a channel that appears later starts where it
// appeared, and a channel a line leaves out keeps its last value.
void TstPlot::mixedAndLaterChannels()
{
    PlotRig r;
    r.Receive("1,2\r\nno numbers here\r\n3,4 temp:20\r\n5\r\ntemp:21\r\n");
    QCOMPARE(r.page->Channels(), (QStringList{"1", "2", "temp"}));
    QCOMPARE(Points(*r.page),
             (QStringList{"1: 0/1 1/3 2/5 3/5", "2: 0/2 1/4 2/4 3/4", "temp: 1/20 2/20 3/21"}));
    QCOMPARE(r.page->Samples(), 4);
    // The text log still shows every line.
    QVERIFY(r.rig.Lines().contains(QStringLiteral("no numbers here")));
}

// Each channel keeps the newest kMaxPoints samples; the first drop is told once in the
// port's log.
void TstPlot::boundsAndDropNotice()
{
    PlotRig r;
    const qint64 extra = 10;
    QString text;
    text.reserve(int(TCvPlotPage::kMaxPoints + extra) * 8);
    for (qint64 i = 0; i < TCvPlotPage::kMaxPoints + extra; ++i)
        text += QString::number(i % 1000) + QStringLiteral(",1\r\n");
    // Straight into the feed: a million lines through the log would only make it slow.
    // In two pieces, each more than the feed keeps waiting: Sync must take rows while it
    // waits, or the worker waits for room and Sync for the worker.
    r.page->Feed()->TextReceived(text.left(text.size() / 2 + 3), SteadyMs());
    // Without events: the page must not take the rows before Sync does.
    QDeadlineTimer deadline(30000);
    while (!r.page->Feed()->HasRows() && !deadline.hasExpired()) QThread::msleep(5);
    QVERIFY(r.page->Feed()->HasRows());
    r.page->Feed()->TextReceived(text.mid(text.size() / 2 + 3), SteadyMs());
    r.page->Sync();
    r.Receive("7,8\r\n");
    for (const QString& name : {QStringLiteral("1"), QStringLiteral("2")}) {
        const TCvFastLineSeries* s = r.page->Series(name);
        QCOMPARE(s->Count(), TCvPlotPage::kMaxPoints);
        QCOMPARE(s->FirstX(), extra + 1);
        // The points and their pyramid of extremes.
        QVERIFY(s->MemoryBytes() <= qint64(TCvPlotPage::kMaxPoints * sizeof(double)) * 7 / 6 + 4096);
    }
    QCOMPARE(r.page->Series(QStringLiteral("1"))->YValue(TCvPlotPage::kMaxPoints - 1), 7.0);
    const QString notice =
        QStringLiteral("The plot keeps the last 1000000 points of each channel: older ones are "
                       "dropped from now on.");
    QTRY_COMPARE(r.rig.Lines().count(notice), 1);
    r.Receive("9,9\r\n");
    QCOMPARE(r.rig.Lines().count(notice), 1);
}

namespace {

// A sanitizer keeps freed memory in quarantine: resident memory then tells nothing.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kRssMeasures = false;
#else
constexpr bool kRssMeasures = true;
#endif

// Resident memory of this process.
qint64 RssBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4096 : 0;
}

// About a million characters of lines "a:<n> b:<2n>", n counting on from *next; a string of
// its own, as each read of a port is.
QString FloodPiece(qint64* next)
{
    QString piece;
    piece.reserve(1 << 20);
    while (piece.size() < (1 << 20) - 64) {
        piece += QStringLiteral("a:%1 b:%2\r\n").arg(*next).arg(*next * 2);
        ++*next;
    }
    return piece;
}

} // namespace

// A flood of text while nothing takes the rows (the window is busy): the plot's input stays
// bounded, whole lines are left out of the plot and counted, every row that comes is a whole
// line in order, and the log says how many were left out, once.
void TstPlot::floodWithNobodyTakingRows()
{
    constexpr int kPieces = 40;
    {
        TCvPlotFeed feed;
        qint64 next = 0;
        const qint64 before = RssBytes();
        for (int k = 0; k < kPieces; ++k) feed.TextReceived(FloodPiece(&next), SteadyMs());
        QVERIFY(!feed.WaitIdle());
        const qint64 grown = RssBytes() - before;
        if (kRssMeasures)
            QVERIFY2(grown < 32 << 20, qPrintable(QStringLiteral("grew by %1 bytes").arg(grown)));
        QVERIFY(feed.QueuedChars() <= TCvPlotFeed::kMaxQueuedChars);

        qint64 rows = 0, last = -1, biggest = 0;
        bool idle = false;
        while (!idle) {
            idle = feed.WaitIdle();
            const TCvPlotBatch batch = feed.TakeBatch();
            biggest = std::max<qint64>(biggest, batch.Rows());
            for (qsizetype r = 0; r < batch.Rows(); ++r) {
                const quint32 from = r == 0 ? 0 : batch.RowEnds[std::size_t(r - 1)];
                QCOMPARE(batch.RowEnds[std::size_t(r)] - from, 2u);
                const double a = batch.Values[from].Value, b = batch.Values[from + 1].Value;
                QCOMPARE(b, 2 * a);
                QVERIFY(a > last);
                last = qint64(a);
            }
            rows += batch.Rows();
        }
        QVERIFY2(biggest <= TCvPlotFeed::kMaxWaitingRows + 1, qPrintable(QString::number(biggest)));
        QVERIFY(feed.CaughtUp());
        QVERIFY(feed.DroppedLines() > 0);
        QCOMPARE(rows + feed.DroppedLines(), next);
    }

    // The page: Sync (behind export) takes what waits, which is bounded; the log tells once.
    PlotRig r;
    qint64 next = 0;
    for (int k = 0; k < kPieces; ++k) r.page->Feed()->TextReceived(FloodPiece(&next), SteadyMs());
    r.page->Sync();
    const qint64 dropped = r.page->Feed()->DroppedLines();
    QVERIFY(dropped > 0);
    QCOMPARE(r.page->Samples() + dropped, next);
    const QString told =
        QStringLiteral(
            "The plot could not keep up with the data: %1 lines were left out of it (the log shows "
            "them all).")
            .arg(dropped);
    QCOMPARE(r.rig.Lines().count(told), 1);
    QTest::qWait(100);
    r.Receive("a:-1 b:-2\r\n");
    QCOMPARE(r.rig.Lines().filter(QStringLiteral("could not keep up")).size(), 1);
}

// A line that one stretch of left-out text cuts into, continued by kept text without a line
// break and ended inside the next stretch left out, is one line left out, not two.
void TstPlot::lineCutByTwoGapsCountsOnce()
{
    TCvPlotFeed feed(nullptr, 10);
    // The worker parses these and then waits for room: what comes next stays queued.
    QString full;
    for (qsizetype i = 0; i < TCvPlotFeed::kMaxWaitingRows; ++i) full += QStringLiteral("1\r\n");
    feed.TextReceived(full, 0);
    feed.WaitIdle();
    QVERIFY(feed.HasRows());
    feed.TextReceived(QStringLiteral("x:1\r\ny:"), 0);    // kept: nothing else waits
    feed.TextReceived(QStringLiteral("2222222222"), 0);   // left out: the line y begins
    feed.TextReceived(QStringLiteral("33"), 0);           // kept, but the rest of line y
    feed.TextReceived(QStringLiteral("3\r\nz:4\r\n"), 0); // left out: the end of y, and z
    qint64 rows = 0;
    for (bool idle = false; !idle;) {
        idle = feed.WaitIdle();
        const TCvPlotBatch batch = feed.TakeBatch();
        rows += batch.Rows();
        if (batch.Rows() > 0 && batch.Rows() < TCvPlotFeed::kMaxWaitingRows)
            QCOMPARE(batch.Channels.at(batch.Values.back().Channel), QStringLiteral("x"));
    }
    QVERIFY(feed.CaughtUp());
    QCOMPARE(rows, TCvPlotFeed::kMaxWaitingRows + 1);
    QCOMPARE(feed.DroppedLines(), 2);
    QCOMPARE(feed.LinesCut(), TCvPlotFeed::kMaxWaitingRows + 1);
}

// The wheel zooms out and in around the mouse: far out it stops at the widest range, with
// every point drawn, and comes back in as it went.
void TstPlot::wheelFarOutAndBack()
{
    PlotRig r;
    QByteArray lines;
    for (int i = 0; i < 1000; ++i) lines += QByteArray::number(i % 100) + "\r\n";
    r.Receive(lines);
    r.page->Chart()->SetBottomAxisMinMax(0, 999);
    QWidget* viewport = r.page->Chart()->viewport();
    const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
    const auto wheel = [&](int steps, int delta) {
        for (int i = 0; i < steps; ++i) {
            QWheelEvent e(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(viewport, &e);
        }
        r.page->Chart()->Refresh();
    };
    const TCvFastLineSeries* s = r.page->Series(QStringLiteral("1"));
    wheel(300, -120);
    const double minimum = r.page->Chart()->BottomAxisMinimum(),
                 maximum = r.page->Chart()->BottomAxisMaximum();
    QVERIFY2(std::isfinite(minimum) && std::isfinite(maximum) &&
                 maximum - minimum <= 999 * TCvChart::kWidestFactor * (1 + 1e-12),
             qPrintable(QStringLiteral("%1 .. %2").arg(minimum).arg(maximum)));
    QVERIFY2(minimum <= 0 && maximum >= 999,
             qPrintable(QStringLiteral("%1 .. %2").arg(minimum).arg(maximum)));
    const QList<QPointF> far = r.page->Chart()->DrawnPoints(s);
    QVERIFY(!far.isEmpty());
    QCOMPARE(far.first().x(), 0.0);
    QCOMPARE(far.last().x(), 999.0);
    wheel(300, 120);
    QVERIFY(r.page->Chart()->BottomAxisMaximum() - r.page->Chart()->BottomAxisMinimum() < 10);
    QVERIFY(!r.page->Chart()->DrawnPoints(s).isEmpty());
}

// Numbers as large as a double holds: the axis and the drawing stay within numbers.
void TstPlot::valuesAtTheEndsOfDouble()
{
    PlotRig r;
    r.Receive("1e308\r\n-1.7e308\r\n1.7976931348623157e308\r\n0\r\n");
    QCOMPARE(r.page->Samples(), 4);
    r.page->Chart()->Refresh();
    const QValueAxis* y = r.page->Chart()->AxisY();
    QVERIFY(std::isfinite(y->min()) && std::isfinite(y->max()) && y->max() > y->min());
    QVERIFY(y->min() <= -1.7e308 && y->max() >= 1.7976931348623157e308);
    QCOMPARE(r.page->Chart()->DrawnPoints(r.page->Series(QStringLiteral("1"))).size(), 4);
    QVERIFY(!r.page->Chart()->grab().isNull());
}

void TstPlot::exportReadBack()
{
    QTemporaryDir dir;
    PlotRig r;
    r.Receive("1.5,2\r\na:-3\r\n4,5 a:6\r\n");
    const QString csv = dir.filePath(QStringLiteral("plot.csv"));
    SetSaveFileNamePrompt([&](QWidget*, const QString&, const QString&, const QString&) {
        return dir.filePath(QStringLiteral("plot"));
    });
    Ui::Find<QPushButton>(*r.page, "PlotExportCsv")->click();
    QCOMPARE(ReadAll(csv), QByteArray("Sample,1,2,a\r\n0,1.5,2,\r\n1,1.5,2,-3\r\n2,4,5,6\r\n"));

    const QString xlsx = dir.filePath(QStringLiteral("plot.xlsx"));
    Ui::Find<QPushButton>(*r.page, "PlotExportXlsx")->click();
    const Cells cells = XlsxCells(xlsx);
    QCOMPARE(cells.value("A1"), QStringLiteral("Sample"));
    QCOMPARE(cells.value("B1"), QStringLiteral("1"));
    QCOMPARE(cells.value("D1"), QStringLiteral("a"));
    QCOMPARE(cells.value("A4"), QStringLiteral("2"));
    QCOMPARE(cells.value("B2"), QStringLiteral("1.5"));
    QCOMPARE(cells.value("D3"), QStringLiteral("-3"));
    QCOMPARE(cells.value("D4"), QStringLiteral("6"));
    QVERIFY(!cells.contains("D2"));
    QCOMPARE(cells.size(), 4 + 3 * 3 + 2);

    const QString png = dir.filePath(QStringLiteral("plot.png"));
    Ui::Find<QPushButton>(*r.page, "PlotSavePng")->click();
    QImage image;
    QVERIFY(image.load(png, "PNG"));
    QVERIFY(!image.isNull());

    // A folder that cannot be written: the port's log says so, nothing is claimed.
    SetSaveFileNamePrompt([](QWidget*, const QString&, const QString&, const QString&) {
        return QStringLiteral("/nonexistent-folder/plot.csv");
    });
    QCOMPARE(r.page->ExportCsvClick(), QString());
    QVERIFY(r.rig.Lines().filter(QStringLiteral("Can not write file /nonexistent-folder/plot.csv")).size() ==
            1);
}

// X mode, hidden channels and the manual Y range are kept in the port's settings file
// and come back with the next page of the port; damaged values fall back to defaults.
void TstPlot::settingsKept()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("port.ini"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("Port=ttyUSB0\r\nEncoding=GB18030\r\n");
    f.close();
    {
        PlotRig r(ini);
        r.Receive("a:1 b:2\r\n");
        Ui::Find<QComboBox>(*r.page, "PlotXMode")->setCurrentIndex(TCvPlotPage::xmTime);
        Ui::Find<QCheckBox>(*r.page, "PlotChannel_b")->setChecked(false);
        r.page->SetManualY(true, -5, 12.5);
    }
    const QByteArray text = ReadAll(ini);
    QVERIFY(text.contains("Encoding=GB18030"));
    QVERIFY(text.contains("PlotXMode=time"));
    QVERIFY(text.contains("PlotHidden=b"));
    PlotRig again(ini);
    QCOMPARE(again.page->XMode(), TCvPlotPage::xmTime);
    QVERIFY(!again.page->ChannelVisible(QStringLiteral("b")));
    QVERIFY(again.page->Chart()->LeftAxisManual());
    again.Receive("a:1 b:2\r\n");
    QVERIFY(!Ui::Find<QCheckBox>(*again.page, "PlotChannel_b")->isChecked());
    QVERIFY(!again.page->Series(QStringLiteral("b"))->LineSeries()->isVisible());
    again.page->Chart()->Refresh();
    QCOMPARE(again.page->Chart()->AxisY()->min(), -5.0);
    QCOMPARE(again.page->Chart()->AxisY()->max(), 12.5);

    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("PlotXMode=sideways\r\nPlotYAuto=0\r\nPlotYMin=9\r\nPlotYMax=x\r\n");
    f.close();
    PlotRig damaged(ini);
    QCOMPARE(damaged.page->XMode(), TCvPlotPage::xmIndex);
    QVERIFY(!damaged.page->Chart()->LeftAxisManual());
}

void TstPlot::unreadableSettingsFileIsKept_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : UnreadableFile::Kinds()) QTest::newRow(qPrintable(kind)) << kind;
}

// The port's file holds more than the plot's keys: one that cannot be read is not saved over.
void TstPlot::unreadableSettingsFileIsKept()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("port.ini"));
    QString skip;
    const QString why = UnreadableFile::Make(kind, ini, &skip);
    if (!skip.isEmpty()) QSKIP(qPrintable(skip));
    QVERIFY(!why.isEmpty());
    const QByteArray before = UnreadableFile::State(ini);
    PlotRig r(ini);
    QCOMPARE(r.page->XMode(), TCvPlotPage::xmIndex);
    r.page->SetXMode(TCvPlotPage::xmTime);
    r.page->SetManualY(true, -1, 1);
    r.page->SetChannelVisible(QStringLiteral("a"), false);
    QVERIFY(UnreadableFile::State(ini) == before);
    const QStringList told = r.rig.Lines().filter(QStringLiteral("The plot settings are not saved"));
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains(ini) && told.first().contains(why), qPrintable(told.first()));
}

// A hidden channel is not drawn and does not stretch the Y axis; the read-out tells every
// visible channel at X.
void TstPlot::hideAndRanges()
{
    PlotRig r;
    r.Receive("1,1000\r\n2,2000\r\n3,3000\r\n");
    r.page->Chart()->Refresh();
    QVERIFY(r.page->Chart()->AxisY()->max() >= 3000);
    Ui::Find<QCheckBox>(*r.page, "PlotChannel_2")->click();
    QVERIFY(!r.page->Series(QStringLiteral("2"))->LineSeries()->isVisible());
    QVERIFY(r.page->Chart()->DrawnPoints(r.page->Series(QStringLiteral("2"))).isEmpty());
    QCOMPARE(r.page->Chart()->DrawnPoints(r.page->Series(QStringLiteral("1"))).size(), 3);
    QVERIFY(r.page->Chart()->AxisY()->max() < 10);
    QCOMPARE(r.page->ReadOutAt(1), QStringLiteral("#1   1 = 2"));
    Ui::Find<QCheckBox>(*r.page, "PlotChannel_2")->click();
    QCOMPARE(r.page->ReadOutAt(1.2), QStringLiteral("#1   1 = 2   2 = 2000"));
    // Not following: what is shown stays while points come.
    Ui::Find<QCheckBox>(*r.page, "PlotFollow")->setChecked(false);
    r.Receive("4,4000\r\n");
    QCOMPARE(r.page->Chart()->BottomAxisMaximum(), 2.0);
    Ui::Find<QPushButton>(*r.page, "PlotShowAll")->click();
    QCOMPARE(r.page->Chart()->BottomAxisMaximum(), 3.0);
    // Frozen by the log's pause: nothing is drawn until it ends.
    r.page->SetPaused(true);
    QVERIFY(r.page->Frozen());
    r.page->SetPaused(false);
    QVERIFY(!r.page->Frozen());
}

// X as receive time: ms since the first sample, rising, and the read-out finds the
// sample by its time.
void TstPlot::timeAxis()
{
    PlotRig r;
    r.Receive("1\r\n");
    QTest::qWait(30);
    r.Receive("2\r\n");
    Ui::Find<QComboBox>(*r.page, "PlotXMode")->setCurrentIndex(TCvPlotPage::xmTime);
    QCOMPARE(r.page->XOf(0), 0.0);
    const double t1 = r.page->XOf(1);
    QVERIFY(t1 >= 25);
    r.page->Chart()->Refresh();
    QCOMPARE(r.page->Chart()->BottomAxisMaximum(), t1);
    QCOMPARE(r.page->ReadOutAt(t1), QStringLiteral("t %1 ms   1 = 2").arg(t1));
    QCOMPARE(r.page->ReadOutAt(0), QStringLiteral("t 0 ms   1 = 1"));
}

// Each ASCII port gets its own page beside the waveform, named after the port, and plots
// only its own lines; a port in another format gets none until it turns ASCII.
void TstPlot::pagePerAsciiPort()
{
    PortRig a{PortRig::Options{}};
    PortRig b{PortRig::Options{}};
    PortRig hex{PortRig::Options{rfHex}};
    // Declared after the ports: their pages go first. The tab widget owns the waveform.
    TCvPlotPages pages(new QWidget);
    pages.PortOpened(a.obj.get(), QString());
    pages.PortOpened(b.obj.get(), QString());
    pages.PortOpened(hex.obj.get(), QString());
    QCOMPARE(pages.count(), 3);
    QVERIFY(!pages.PageOf(hex.obj.get()));
    auto* pageA = Ui::Find<TCvPlotPage>(pages, QStringLiteral("PlotPage:") + a.obj->FComportFullName);
    auto* pageB = Ui::Find<TCvPlotPage>(pages, QStringLiteral("PlotPage:") + b.obj->FComportFullName);
    a.Receive("1,2\r\n");
    b.Receive("x:5\r\n");
    pageA->Sync();
    pageB->Sync();
    QCOMPARE(Points(*pageA), (QStringList{"1: 0/1", "2: 0/2"}));
    QCOMPARE(Points(*pageB), QStringList{"x: 0/5"});
    // The page goes with its port.
    QPointer<TCvPlotPage> gone = pageB;
    b.obj.reset();
    QTRY_VERIFY(!gone);
    QCOMPARE(pages.count(), 2);
}

void TstPlot::leavingAsciiStopsThePlot()
{
    PortRig a{PortRig::Options{}};
    TCvPlotPages pages(new QWidget);
    pages.SetLanguage(QStringLiteral("EN"));
    pages.PortOpened(a.obj.get(), QString());
    TCvPlotPage* page = pages.PageOf(a.obj.get());
    QVERIFY(page);
    const QString name = a.obj->FComportFullName;
    QCOMPARE(pages.tabText(1), QStringLiteral("Plot ") + name);
    a.Receive("1,2\r\n3,");
    // Out of ASCII: the tab says so, no text reaches the plot, the line begun is not continued.
    a.obj->FReceiveFormat = rfHex;
    pages.PortChanged(a.obj.get());
    QCOMPARE(pages.tabText(1), QStringLiteral("Plot %1 (off: not ASCII receive)").arg(name));
    QVERIFY(!a.obj->LineSink());
    a.Receive("4\r\n");
    a.obj->FReceiveFormat = rfAscii;
    pages.PortChanged(a.obj.get());
    QCOMPARE(pages.tabText(1), QStringLiteral("Plot ") + name);
    QCOMPARE(a.obj->LineSink(), page->Feed());
    a.Receive("5,6\r\n");
    page->Sync();
    QCOMPARE(Points(*page), (QStringList{"1: 0/1 1/5", "2: 0/2 1/6"}));
    // What it showed stays, in the other language too.
    pages.SetLanguage(QStringLiteral("CN"));
    QCOMPARE(pages.tabText(1), QStringLiteral("曲线 ") + name);
    QCOMPARE(Ui::Find<QCheckBox>(*page, QStringLiteral("PlotFreeze"))->text(), QStringLiteral("冻结"));
}

QTEST_MAIN(TstPlot)
#include "tst_plot.moc"
