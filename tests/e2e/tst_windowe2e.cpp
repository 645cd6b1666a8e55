// The whole main window, built as the program builds it at start-up, against the device
// simulator on its real pseudo-terminal. The simulator's link is listed as a virtual port
// in Corvane.ini before the window starts (as scripts/run.sh does for a first run); the
// tests then act only through controls found by object name and check what a user would
// see: lines in the port's log view, the status bar, the chart, files on disk.

#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "CvChartDialogs.h"
#include "TCvChart.h"
#include "TCvFastLineSeries.h"
#include "TStringGrid.h"
#include "UiFind.h"

#include <QAbstractSeries>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QXYSeries>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kWaitMs = 20000;

// corvane-sim in one of its modes, serving its pty under a link path until stopped.
class Simulator {
public:
    ~Simulator() { Stop(); }

    bool Start(const QString& link, const QStringList& mode)
    {
        FProc.start(QStringLiteral(CORVANE_SIM), QStringList{u"--link"_s, link} + mode);
        if (!FProc.waitForStarted(kWaitMs)) return false;
        // The first line of its output is the path it serves.
        QByteArray out;
        const QDeadlineTimer deadline(kWaitMs);
        while (!out.contains('\n') && !deadline.hasExpired()) {
            if (!FProc.waitForReadyRead(100) && FProc.state() != QProcess::Running) return false;
            out += FProc.readAllStandardOutput();
        }
        return out.trimmed() == link.toUtf8() && QFileInfo::exists(link);
    }
    void Stop()
    {
        if (FProc.state() == QProcess::NotRunning) return;
        FProc.terminate();
        if (!FProc.waitForFinished(kWaitMs)) {
            FProc.kill();
            FProc.waitForFinished(kWaitMs);
        }
    }

private:
    QProcess FProc;
};

// A line's text without the line number, date and time in front of it.
QString Text(const QString& line)
{
    static const QRegularExpression prefix(
        uR"(^(\d{2,}\| )?(\(\d{8}( \d\d:\d\d:\d\d(\.\d{3})?)?\) |\(\d\d:\d\d:\d\d(\.\d{3})?\) )?)"_s);
    return QString(line).remove(prefix);
}

QByteArray HexText(const QByteArray& bytes)
{
    return bytes.toHex(' ').toUpper() + ' ';
}

// One test's world: a data folder, the simulator, and the main window.
struct Session {
    UiTestEnv env;
    Simulator sim;
    std::unique_ptr<TSplitViewForm> w;
    QString link = env.tmp.path() + u"/corvane-sim-tty"_s;
    QString device = u"Virtual Port (%1)"_s.arg(link);

    ~Session()
    {
        CloseWindow();
        sim.Stop();
    }

    // Starts the simulator, lists its link in Corvane.ini and starts the window.
    bool Begin(const QStringList& mode)
    {
        if (!sim.Start(link, mode)) return false;
        env.WriteSetting(u"Corvane.ini"_s, "[VirtualPorts]\r\nCount=1\r\nPort1=" + link.toUtf8() + "\r\n");
        return StartWindow();
    }
    bool StartWindow()
    {
        w = UiTestEnv::Start("en_US");
        w->show();
        return QTest::qWaitForWindowExposed(w.get());
    }
    // As the user closes it: the window saves its settings and logs.
    void CloseWindow()
    {
        if (!w) return;
        w->close();
        w.reset();
    }

    template <class T> T* C(const char* name) const
    {
        T* c = w->findChild<T*>(QString::fromLatin1(name));
        if (!c) qFatal("no control %s", name);
        return c;
    }
    // A choice in a list, made as the user makes it.
    bool Choose(const char* box, const QString& text) const
    {
        QComboBox* b = C<QComboBox>(box);
        const int i = b->findText(text);
        if (i < 0) return false;
        b->setCurrentIndex(i);
        emit b->activated(i);
        return true;
    }
    void Tick(const char* box, bool on) const
    {
        QCheckBox* b = C<QCheckBox>(box);
        if (b->isChecked() != on) b->click();
    }
    void Click(const char* button) const { C<QPushButton>(button)->click(); }

    // The first device opened writes into the main log view.
    QStringList Log() const { return LogLines(C<TLogMemo>("Memo1")); }
    QStringList Texts() const
    {
        QStringList out;
        for (const QString& l : Log()) out << Text(l);
        return out;
    }
    // The texts after the last line that reads `marker`.
    QStringList TextsAfter(const QString& marker) const
    {
        const QStringList t = Texts();
        return t.mid(t.lastIndexOf(marker) + 1);
    }
    bool Shows(const QString& text) const { return Texts().contains(text); }
    // Received text without prefixes goes on the log's last line, which may be a message
    // written just before it (as "Data file save to ..."): it ends a line.
    bool Received(const QString& text, const QString& after) const
    {
        const QStringList t = TextsAfter(after);
        return std::any_of(t.cbegin(), t.cend(), [&](const QString& l) { return l.endsWith(text); });
    }
    // The end of the log, for failure messages.
    QByteArray Tail(int n = 20) const
    {
        const QStringList l = Log();
        return l.mid(std::max<qsizetype>(0, l.size() - n)).join(u'\n').toUtf8();
    }
    QString Status() const { return C<QLabel>("StatusBar1Panel2")->text(); }
    QString Opened() const { return u"Device "_s + device + u" was opened."_s; }

    // Presses the open button, selecting the simulator in the device list first unless it is
    // selected (a selection shows the device's own line settings in the panel).
    bool Open() const
    {
        if (C<QComboBox>("ComboBoxEx1")->currentText() != device && !Choose("ComboBoxEx1", device))
            return false;
        Click("Button2");
        return QTest::qWaitFor([&] { return Shows(Opened()); }, kWaitMs);
    }
    // The hex bytes of the received lines after `marker`: echoes of what was sent ("> ...")
    // left out, the text column after three blanks ignored.
    QByteArray HexReceivedAfter(const QString& marker, QList<int>* groups = nullptr,
                                QStringList* textColumns = nullptr) const
    {
        static const QRegularExpression hexLine(uR"(^([0-9A-F]{2} ?)+$)"_s);
        QByteArray bytes;
        for (const QString& t : TextsAfter(marker)) {
            const qsizetype gap = t.indexOf(u"   "_s);
            const QString hex = gap < 0 ? t : t.left(gap);
            if (!hexLine.match(hex).hasMatch()) continue;
            const QByteArray line = QByteArray::fromHex(hex.toLatin1());
            bytes += line;
            if (groups) *groups << int(line.size());
            if (textColumns) *textColumns << (gap < 0 ? QString() : t.mid(gap + 3));
        }
        return bytes;
    }
};

} // namespace

class TstWindowE2e : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void openAndClose_data();
    void openAndClose();
    void receiveAscii_data();
    void receiveAscii();
    void receiveHex_data();
    void receiveHex();
    void receiveGraphic();
    void captureToFile_data();
    void captureToFile();
    void sendBlock_data();
    void sendBlock();
    void sendGridRow();
    void sendLoopTwice();
    void sendFile();
    void protocolPage_data();
    void protocolPage();
    void restartRestoresWhatWasLeft();
    void firstRunListsTheSimulator();
    void plotPage_data();
    void plotPage();
};

void TstWindowE2e::initTestCase()
{
    // As the program's entry point names itself.
    QApplication::setApplicationName(u"Corvane"_s);
    QApplication::setApplicationDisplayName(u"CORVANE 科万串口终端"_s);
    QVERIFY2(QFileInfo(QStringLiteral(CORVANE_SIM)).isExecutable(), CORVANE_SIM);
}

void TstWindowE2e::openAndClose_data()
{
    QTest::addColumn<QStringList>("settings"); // ComboBox1 … ComboBox5
    QTest::newRow("9600 8N1") << QStringList{u"9600"_s, u"8"_s, u"1"_s, u"None"_s, u"None"_s};
    QTest::newRow("115200 7E2") << QStringList{u"115200"_s, u"7"_s, u"2"_s, u"Even"_s, u"None"_s};
    QTest::newRow("57600 8O1 software flow")
        << QStringList{u"57600"_s, u"8"_s, u"1"_s, u"Odd"_s, u"Software"_s};
}

void TstWindowE2e::openAndClose()
{
    QFETCH(QStringList, settings);
    Session s;
    QVERIFY(s.Begin({u"--lines"_s, u"100"_s}));
    QComboBox* list = s.C<QComboBox>("ComboBoxEx1");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->itemText(0), s.device);
    QVERIFY(s.Choose("ComboBoxEx1", s.device));
    QCOMPARE(s.C<QPushButton>("Button2")->text(), u"Open The Device "_s + s.link);
    const char* boxes[] = {"ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4", "ComboBox5"};
    for (int i = 0; i < 5; ++i) QVERIFY2(s.Choose(boxes[i], settings[i]), boxes[i]);

    QVERIFY(s.Open());
    QCOMPARE(s.C<QPushButton>("Button2")->text(), u"Close The Device "_s + s.link);
    for (const char* b : boxes) QVERIFY2(!s.C<QComboBox>(b)->isEnabled(), b);
    // The device's lines arrive in its log; the status bar counts them.
    QTRY_VERIFY_WITH_TIMEOUT(
        s.TextsAfter(s.Opened()).filter(QRegularExpression(u"^line \\d+$"_s)).size() >= 3, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(s.Status().startsWith(s.link + u" Sent: 0 Bytes/Received: "_s), kWaitMs);
    QVERIFY(!s.Status().contains(u"Received: 0 Bytes"_s));

    s.Click("Button2");
    QVERIFY(s.Shows(u"Device "_s + s.link + u" was closed."_s));
    QCOMPARE(s.C<QPushButton>("Button2")->text(), u"Open The Device "_s + s.link);
    for (const char* b : boxes) QVERIFY2(s.C<QComboBox>(b)->isEnabled(), b);
    // Closed means nothing more arrives.
    const QStringList after = s.Log();
    QTest::qWait(400);
    QCOMPARE(s.Log(), after);
    // Selected again, the device shows the line settings it ran with.
    QVERIFY(s.Choose("ComboBoxEx1", s.device));
    for (int i = 0; i < 5; ++i) QCOMPARE(s.C<QComboBox>(boxes[i])->currentText(), settings[i]);
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::receiveAscii_data()
{
    QTest::addColumn<bool>("number");
    QTest::addColumn<bool>("date");
    QTest::addColumn<bool>("time");
    QTest::addColumn<QString>("prefix"); // before "line <n>"
    const QString n = uR"((\d{2,})\| )"_s, d = uR"(\(\d{8}\) )"_s, t = uR"(\(\d\d:\d\d:\d\d(\.\d{3})?\) )"_s,
                  dt = uR"(\(\d{8} \d\d:\d\d:\d\d(\.\d{3})?\) )"_s;
    QTest::newRow("no prefix") << false << false << false << QString();
    QTest::newRow("line numbers") << true << false << false << n;
    QTest::newRow("date") << false << true << false << d;
    QTest::newRow("time") << false << false << true << t;
    QTest::newRow("date and time") << false << true << true << dt;
    QTest::newRow("line numbers, date and time") << true << true << true << n + dt;
}

void TstWindowE2e::receiveAscii()
{
    QFETCH(bool, number);
    QFETCH(bool, date);
    QFETCH(bool, time);
    QFETCH(QString, prefix);
    Session s;
    QVERIFY(s.Begin({u"--lines"_s, u"60"_s}));
    QVERIFY(s.Choose("ComboBox7", u"ASCII Format"_s));
    s.Tick("CheckBox4", number);
    s.Tick("CheckBox3", date);
    s.Tick("CheckBox25", time);
    QVERIFY(s.Open());

    const QRegularExpression received(u"^"_s + prefix + uR"(line (\d+)$)"_s);
    QTRY_VERIFY_WITH_TIMEOUT(s.Log().filter(received).size() >= 5, kWaitMs);
    const QStringList log = s.Log();
    int previous = -1;
    for (int i = 0; i < log.size(); ++i) {
        const QRegularExpressionMatch m = received.match(log[i]);
        if (!m.hasMatch()) continue;
        // The simulator counts its lines: none is lost, split or doubled.
        const int counter = m.captured(m.lastCapturedIndex()).toInt();
        if (previous >= 0) QCOMPARE(counter, previous + 1);
        previous = counter;
        // The line number is the line's place in the view.
        if (number) QCOMPARE(m.captured(1).toInt(), i);
    }
    // Without the options no line of the device carries a prefix.
    if (!number && !date && !time)
        QVERIFY(log.mid(log.indexOf(s.Opened())).filter(QRegularExpression(uR"(^\d+\| |^\()"_s)).isEmpty());
}

void TstWindowE2e::receiveHex_data()
{
    QTest::addColumn<QString>("align"); // ComboBox8
    QTest::addColumn<bool>("withText"); // CheckBox9
    QTest::addColumn<int>("perLine");
    QTest::newRow("16 per line") << u"Hexadecimal 16Bytes Align"_s << false << 16;
    QTest::newRow("16 per line with text") << u"Hexadecimal 16Bytes Align"_s << true << 16;
    QTest::newRow("32 per line") << u"Hexadecimal 32Bytes Align"_s << false << 32;
    QTest::newRow("None") << u"None"_s << false << 0;
}

void TstWindowE2e::receiveHex()
{
    QFETCH(QString, align);
    QFETCH(bool, withText);
    QFETCH(int, perLine);
    // 96 bytes sent as hex and echoed by the simulator: however the pty splits them, one
    // piece holds at least 48 bytes, so a full line (or, for None, a long one) shows.
    const QByteArray payload = "The quick brown fox jumps over the lazy dog. 0123456789 "
                               "Pack my box with five dozen liquor jugs!";
    QCOMPARE(payload.size(), 96);
    Session s;
    QVERIFY(s.Begin({u"--echo"_s}));
    QVERIFY(s.Choose("ComboBox7", u"Hexadecimal Format"_s));
    QVERIFY(s.Choose("ComboBox6", u"Hexadecimal Format"_s));
    QVERIFY(s.Choose("ComboBox8", align));
    s.Tick("CheckBox9", withText);
    QVERIFY(s.Open());
    s.C<QPlainTextEdit>("Memo2")->setPlainText(QString::fromLatin1(HexText(payload)));
    s.Click("Button8");

    QTRY_COMPARE_WITH_TIMEOUT(s.HexReceivedAfter(s.Opened()), payload, kWaitMs);
    QList<int> groups;
    QStringList textColumns;
    s.HexReceivedAfter(s.Opened(), &groups, &textColumns);
    if (perLine > 0) {
        QVERIFY(std::all_of(groups.cbegin(), groups.cend(), [&](int g) { return g <= perLine; }));
        QVERIFY(groups.contains(perLine));
    } else {
        QVERIFY(*std::max_element(groups.cbegin(), groups.cend()) > 32);
    }
    // The character column repeats each line's bytes as text.
    int at = 0;
    for (int i = 0; i < groups.size(); ++i) {
        if (withText)
            QCOMPARE(textColumns[i].trimmed(), QString::fromLatin1(payload.mid(at, groups[i])).trimmed());
        else QCOMPARE(textColumns[i], QString());
        at += groups[i];
    }
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::receiveGraphic()
{
    Session s;
    QVERIFY(s.Begin({u"--sine"_s, u"5"_s}));
    QVERIFY(s.Choose("ComboBox7", u"Graphic"_s));
    QVERIFY(s.Open());
    // The waveform page: the tab before the help page.
    auto* tabs = s.C<QTabBar>("TabSet2");
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tabs->count() - 2).center());
    auto* view = s.C<QChartView>("Chart1");
    QTRY_VERIFY_WITH_TIMEOUT(view->isVisible(), kWaitMs);

    // The sine's bytes become points: whole values from 0 to 255.
    auto drawn = [&] {
        QList<QPointF> points;
        for (QAbstractSeries* a : view->chart()->series())
            if (auto* xy = qobject_cast<QXYSeries*>(a); xy && xy->isVisible()) points += xy->points();
        return points;
    };
    // The chart follows the newest points and shows the last few dozen of them.
    QTRY_VERIFY2_WITH_TIMEOUT(drawn().size() >= 20,
                              qPrintable(u"%1 points; %2"_s.arg(drawn().size()).arg(s.Status())), kWaitMs);
    const QList<QPointF> points = drawn();
    double low = 255, high = 0;
    for (const QPointF& p : points) {
        QVERIFY2(p.y() >= 0 && p.y() <= 255 && p.y() == std::floor(p.y()),
                 qPrintable(QString::number(p.y())));
        low = std::min(low, p.y());
        high = std::max(high, p.y());
    }
    // At 64 points a period, 20 or more of them swing by more than 100.
    QVERIFY2(high - low > 100, qPrintable(u"%1 .. %2"_s.arg(low).arg(high)));
    // The status bar counts the points as processed bytes.
    QVERIFY(!s.Status().contains(u"Processed: 0 Bytes"_s));
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::captureToFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("text");
    QTest::newRow("text file") << u"capture.txt"_s << true;
    QTest::newRow("data file") << u"capture.bin"_s << false;
}

void TstWindowE2e::captureToFile()
{
    QFETCH(QString, file);
    QFETCH(bool, text);
    Session s;
    QVERIFY(s.Begin({u"--lines"_s, u"40"_s}));
    const QString path = s.env.tmp.filePath(file);
    QVERIFY(s.Open());
    const QRegularExpression line(uR"(line (\d+)$)"_s);
    auto lastLogged = [&] {
        const QStringList l = s.Texts().filter(line);
        return l.isEmpty() ? -1 : line.match(l.last()).captured(1).toInt();
    };
    QTRY_VERIFY_WITH_TIMEOUT(lastLogged() >= 0, kWaitMs);
    s.w->SaveDialog1 = [&] { return path; };
    s.Click("Button13");
    QVERIFY(s.Shows(u"Data file save to "_s + path));
    QCOMPARE(s.C<QComboBox>("ComboBox7")->currentText(), u"File"_s);
    const QRegularExpression wholeLine(uR"(^line (\d+)$)"_s);
    auto capturedLines = [&] {
        QStringList lines = QString::fromLatin1(ReadFile(path)).split(u"\r\n"_s);
        // A text file ends every chunk with a line break of its own.
        if (text) lines.removeAll(QString());
        else if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    };
    QTRY_VERIFY_WITH_TIMEOUT(capturedLines().size() >= 5, kWaitMs);
    // Nothing of it in the log meanwhile.
    const int beforeCapture = lastLogged();

    s.Click("Button14");
    QCOMPARE(s.C<QComboBox>("ComboBox7")->currentText(), u"ASCII Format"_s);
    const QByteArray captured = ReadFile(path);
    // The file holds whole lines, counting on without a gap, and stops growing.
    const QStringList lines = capturedLines();
    QVERIFY(!lines.isEmpty());
    int previous = beforeCapture;
    for (const QString& l : lines) {
        const QRegularExpressionMatch m = wholeLine.match(l);
        QVERIFY2(m.hasMatch(), qPrintable(l));
        QCOMPARE(m.captured(1).toInt(), previous + 1);
        previous = m.captured(1).toInt();
    }
    if (!text) QVERIFY(captured.endsWith("\r\n") && !captured.contains("\r\n\r\n"));
    // The log takes the lines again, right after the captured ones.
    QTRY_VERIFY_WITH_TIMEOUT(lastLogged() > previous + 1, kWaitMs);
    QVERIFY2(s.Received(u"line %1"_s.arg(previous + 1), s.Opened()), s.Tail().constData());
    QCOMPARE(ReadFile(path), captured);
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::sendBlock_data()
{
    QTest::addColumn<QString>("sendFormat");    // ComboBox6
    QTest::addColumn<QString>("receiveFormat"); // ComboBox7
    QTest::addColumn<QString>("block");         // Memo2
    QTest::addColumn<QByteArray>("bytes");      // echoed, shown as hex; or:
    QTest::addColumn<QString>("line");          // a line of the log
    QTest::newRow("text with CR LF") << u"ASCII Format"_s << u"Hexadecimal Format"_s << u"hello e2e"_s
                                     << QByteArray("hello e2e\r\n") << QString();
    QTest::newRow("hex") << u"Hexadecimal Format"_s << u"Hexadecimal Format"_s << u"01 02 7F 80 fe FF"_s
                         << QByteArray("\x01\x02\x7f\x80\xfe\xff") << QString();
    QTest::newRow("framed packet") << u"Corvane Protocol"_s << u"Corvane Protocol"_s << u"01 02 03"_s
                                   << QByteArray() << u"BFC6 0065 0000 0001 000F, 01 02 03 F2 CD "_s;
}

void TstWindowE2e::sendBlock()
{
    QFETCH(QString, sendFormat);
    QFETCH(QString, receiveFormat);
    QFETCH(QString, block);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    Session s;
    QVERIFY(s.Begin({u"--echo"_s}));
    QVERIFY(s.Choose("ComboBox6", sendFormat));
    QVERIFY(s.Choose("ComboBox7", receiveFormat));
    QVERIFY(s.Open());
    s.C<QPlainTextEdit>("Memo2")->setPlainText(block);
    s.Click("Button8");
    if (!bytes.isEmpty()) QTRY_COMPARE_WITH_TIMEOUT(s.HexReceivedAfter(s.Opened()), bytes, kWaitMs);
    else QTRY_VERIFY_WITH_TIMEOUT(s.TextsAfter(s.Opened()).contains(line), kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        s.Status().contains(u"Received: %1 Bytes"_s.arg(bytes.isEmpty() ? 15 : bytes.size())), kWaitMs);
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::sendGridRow()
{
    Session s;
    QVERIFY(s.Begin({u"--echo"_s}));
    QVERIFY(s.Choose("ComboBox6", u"ASCII Format"_s));
    QVERIFY(s.Open());
    auto* grid = s.C<TStringGrid>("StringGrid1");
    grid->SetCells(2, 2, u"second row"_s);
    grid->SetCells(2, 3, u"  grid row three  "_s);
    // A click on the row's number sends that row once.
    QHeaderView* rows = grid->verticalHeader();
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                      QPoint(rows->width() / 2, rows->sectionViewportPosition(2) + rows->sectionSize(2) / 2));
    QTRY_VERIFY_WITH_TIMEOUT(s.TextsAfter(s.Opened()).contains(u"grid row three"_s), kWaitMs);
    QTest::qWait(300);
    QCOMPARE(s.TextsAfter(s.Opened()).count(u"grid row three"_s), 1);
    QVERIFY(!s.TextsAfter(s.Opened()).contains(u"second row"_s));
    QVERIFY(s.Status().contains(u"Sent: 16 Bytes/Received: 16 Bytes"_s));
}

void TstWindowE2e::sendLoopTwice()
{
    Session s;
    QVERIFY(s.Begin({u"--echo"_s}));
    QVERIFY(s.Open());
    auto* grid = s.C<TStringGrid>("StringGrid1");
    grid->SetCells(2, 1, u"loop A"_s);
    grid->SetCells(2, 2, u"not ticked"_s);
    grid->SetCells(2, 3, u"loop B"_s);
    // Ticked by a click into the tick column.
    grid->scrollToTop();
    for (int row : {1, 3})
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(row - 1, 0)).center());
    QCOMPARE(grid->Cells(1, 1), u"1"_s);
    QCOMPARE(grid->Cells(1, 3), u"1"_s);
    s.C<QSpinBox>("UpDown1")->setValue(200);
    s.C<QSpinBox>("UpDown3")->setValue(2);
    s.Tick("CheckBox19", true);
    s.Click("Button1");

    const QString start = u"The following data will be sent to device periodic,Loop Count: 2"_s;
    QVERIFY(s.Shows(start));
    // The start lists the ticked rows.
    QCOMPARE(s.TextsAfter(start).mid(0, 2), (QStringList{u"loop A"_s, u"loop B"_s}));
    const QString last = u"Loop Count --> 1"_s;
    QTRY_VERIFY_WITH_TIMEOUT(s.Shows(last) && s.TextsAfter(last).contains(u"loop B"_s), kWaitMs);
    QTest::qWait(800);
    // Two rounds, each sending both ticked rows in order; then the loop has stopped.
    const QStringList after = s.TextsAfter(start);
    QCOMPARE(after.count(u"Loop Count --> 2"_s), 1);
    QCOMPARE(after.count(u"Loop Count --> 1"_s), 1);
    QVERIFY(!after.contains(u"Loop Count --> 0"_s));
    QStringList received;
    for (const QString& t : s.TextsAfter(u"Loop Count --> 2"_s))
        if (t == u"loop A"_s || t == u"loop B"_s) received << t;
    QCOMPARE(received, (QStringList{u"loop A"_s, u"loop B"_s, u"loop A"_s, u"loop B"_s}));
    QVERIFY(!after.contains(u"not ticked"_s));
}

void TstWindowE2e::sendFile()
{
    Session s;
    QVERIFY(s.Begin({u"--echo"_s}));
    QVERIFY(s.Open());
    // Its first line fills the first chunk of 32 bytes.
    const QByteArray content = "file one, sent in chunks of 32\r\nthe second chunk\r\n";
    const QString path = s.env.tmp.filePath(u"to-send.txt"_s);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    s.w->OpenDialog1 = [&] { return path; };
    s.Click("Button23");
    QVERIFY(s.Shows(u"File Name: "_s + path));
    QVERIFY(s.Shows(u"File Size: %1 Bytes"_s.arg(content.size())));
    s.Click("Button24");
    QTRY_VERIFY_WITH_TIMEOUT(s.Shows(u"File have been sent successfully。"_s), kWaitMs);
    const QString started = u"> Start Sending File:"_s + path;
    QVERIFY(s.Shows(started));
    // Chunks of 32 bytes, each logged as hex.
    QVERIFY(s.Shows(QString::fromLatin1(HexText(content.left(32)))));
    QVERIFY(s.Shows(QString::fromLatin1(HexText(content.mid(32)))));
    // What the device echoed comes back as text.
    for (const QString& l : {u"file one, sent in chunks of 32"_s, u"the second chunk"_s})
        QTRY_VERIFY2_WITH_TIMEOUT(s.Received(l, started), s.Tail().constData(), kWaitMs);
    QVERIFY(s.Status().contains(u"Sent: %1 Bytes"_s.arg(content.size())));
}

void TstWindowE2e::protocolPage_data()
{
    QTest::addColumn<QString>("bus");        // ComboBox9
    QTest::addColumn<QString>("operation");  // ComboBox12
    QTest::addColumn<QString>("devAddress"); // typed into ComboBox10; empty: as it is
    QTest::addColumn<QString>("memAddress"); // typed into ComboBox11
    QTest::addColumn<QString>("data");       // Memo5
    QTest::addColumn<QStringList>("answer"); // the packets logged, as patterns
    const QString crc = u"[0-9A-F]{2} [0-9A-F]{2} "_s, end = u"BFC6 000D 0000 0001 000A, "_s;
    QTest::newRow("Connect") << u"I2C"_s << u"Connect"_s << QString() << QString() << QString()
                             << QStringList{u"BFC6 000B 0000 0001 000A, "_s};
    // The device address 05 asks for five bytes.
    QTest::newRow("Read I2C") << u"I2C"_s << u"Read"_s << u"05"_s << u"00"_s << QString()
                              << QStringList{u"BFC6 0033 0000 0001 0011, 00 01 02 03 04 "_s + crc, end};
    QTest::newRow("Read SPI") << u"SPI"_s << u"Read"_s << u"03"_s << u"00"_s << QString()
                              << QStringList{u"BFC6 0035 0000 0001 000F, 00 01 02 "_s + crc, end};
    QTest::newRow("Write SPI") << u"SPI"_s << u"Write"_s << QString() << QString() << u"01 02 03"_s
                               << QStringList{end};
    QTest::newRow("Write CAN") << u"CAN"_s << u"Write"_s << QString() << QString() << u"0A 0B"_s
                               << QStringList{end};
}

void TstWindowE2e::protocolPage()
{
    QFETCH(QString, bus);
    QFETCH(QString, operation);
    QFETCH(QString, devAddress);
    QFETCH(QString, memAddress);
    QFETCH(QString, data);
    QFETCH(QStringList, answer);
    Session s;
    QVERIFY(s.Begin({u"--protocol"_s}));
    QVERIFY(s.Choose("ComboBox7", u"Corvane Protocol"_s));
    QVERIFY(s.Open());
    QVERIFY(s.Choose("ComboBox9", bus));
    QVERIFY(s.Choose("ComboBox12", operation));
    for (const auto& [box, typed] :
         {std::pair{"ComboBox10", devAddress}, std::pair{"ComboBox11", memAddress}}) {
        if (typed.isEmpty()) continue;
        QComboBox* b = s.C<QComboBox>(box);
        b->clearEditText();
        QTest::keyClicks(b->lineEdit(), typed);
        QCOMPARE(b->currentText(), typed);
    }
    if (!data.isEmpty()) s.C<QPlainTextEdit>("Memo5")->setPlainText(data);
    s.Click("Button16");

    // The simulator's answer, packet by packet, in the log; the status bar counts them.
    auto answered = [&] {
        QStringList got;
        for (const QString& t : s.TextsAfter(s.Opened()))
            if (t.startsWith(u"BFC6 "_s)) got << t;
        return got;
    };
    QTRY_COMPARE_WITH_TIMEOUT(answered().size(), answer.size(), kWaitMs);
    for (int i = 0; i < answer.size(); ++i)
        QVERIFY2(QRegularExpression(u"^"_s + answer[i] + u"$"_s).match(answered()[i]).hasMatch(),
                 qPrintable(answered()[i]));
    QTRY_VERIFY_WITH_TIMEOUT(s.Status().endsWith(u"/Packs: %1"_s.arg(answer.size())), kWaitMs);
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::restartRestoresWhatWasLeft()
{
    Session s;
    QVERIFY(s.Begin({u"--lines"_s, u"50"_s}));
    // Line settings of the port, preferences and the grid, set by the user.
    QVERIFY(s.Choose("ComboBoxEx1", s.device));
    QVERIFY(s.Choose("ComboBox1", u"57600"_s));
    QVERIFY(s.Choose("ComboBox2", u"7"_s));
    QVERIFY(s.Choose("ComboBox3", u"2"_s));
    QVERIFY(s.Choose("ComboBox4", u"Even"_s));
    s.Tick("CheckBox4", false);
    s.C<QSpinBox>("UpDown3")->setValue(7);
    auto* grid = s.C<TStringGrid>("StringGrid1");
    grid->SetCells(2, 1, u"AA BB CC"_s);
    grid->SetCells(3, 1, u"first comment"_s);
    grid->SetCells(2, 999, u"the last row"_s);
    // Closing the port keeps its settings; it is opened again and left open.
    QVERIFY(s.Open());
    s.Click("Button2");
    QVERIFY(s.Shows(u"Device "_s + s.link + u" was closed."_s));
    s.Click("Button2");
    QTRY_VERIFY_WITH_TIMEOUT(
        s.TextsAfter(s.Opened()).filter(QRegularExpression(u"^line \\d+$"_s)).size() >= 3, kWaitMs);
    const QDir logs(s.env.CfgDir() + u"Logs"_s);
    s.CloseWindow();

    // The log of the run holds the lines received, as the view showed them.
    const QStringList files = logs.entryList({u"*.log"_s}, QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY(files[0].endsWith(u".log"_s));
    const QString log = QString::fromUtf8(ReadFile(logs.filePath(files[0])));
    QVERIFY(log.contains(u"Device "_s + s.device + u" was opened.\r\n"_s));
    QVERIFY(log.contains(u"Device "_s + s.link + u" was closed.\r\n"_s));
    QVERIFY2(log.count(QRegularExpression(u"\r\nline \\d+\r\n"_s)) >= 2, qPrintable(log));

    QVERIFY(s.StartWindow());
    QCOMPARE(s.C<QComboBox>("ComboBoxEx1")->currentText(), s.device);
    QCOMPARE(s.C<QComboBox>("ComboBox1")->currentText(), u"57600"_s);
    QCOMPARE(s.C<QComboBox>("ComboBox2")->currentText(), u"7"_s);
    QCOMPARE(s.C<QComboBox>("ComboBox3")->currentText(), u"2"_s);
    QCOMPARE(s.C<QComboBox>("ComboBox4")->currentText(), u"Even"_s);
    QVERIFY(!s.C<QCheckBox>("CheckBox4")->isChecked());
    QCOMPARE(s.C<QSpinBox>("UpDown3")->value(), 7);
    grid = s.C<TStringGrid>("StringGrid1");
    QCOMPARE(grid->Cells(2, 1), u"AA BB CC"_s);
    QCOMPARE(grid->Cells(3, 1), u"first comment"_s);
    QCOMPARE(grid->Cells(2, 999), u"the last row"_s);
    // And the port opens again with them.
    QVERIFY(s.Open());
    QTRY_VERIFY_WITH_TIMEOUT(
        s.TextsAfter(s.Opened()).filter(QRegularExpression(u"^line \\d+$"_s)).size() >= 2, kWaitMs);
    QVERIFY(s.env.boxes.isEmpty());
}

void TstWindowE2e::firstRunListsTheSimulator()
{
    // The step of scripts/run.sh that lists the simulator for a first run.
    Session s;
    QVERIFY(s.sim.Start(s.link, {u"--lines"_s, u"50"_s}));
    QByteArray said;
    auto listPort = [&](const QString& path) {
        QProcess p;
        p.setProgram(u"bash"_s);
        p.setArguments({QStringLiteral(CORVANE_SOURCE_DIR "/scripts/list-virtual-port.sh"), path});
        p.start();
        if (!p.waitForFinished(kWaitMs) || p.exitStatus() != QProcess::NormalExit) return -1;
        said = p.readAllStandardError();
        return p.exitCode();
    };
    QCOMPARE(listPort(s.link), 0);
    // A second run adds nothing.
    QCOMPARE(listPort(s.link), 0);
    const QByteArray ini = ReadFile(s.env.SettingDir() + u"Corvane.ini"_s);
    QCOMPARE(ini.count("[VirtualPorts]"), 1);
    QCOMPARE(ini.count(s.link.toUtf8()), 1);

    QVERIFY(s.StartWindow());
    QComboBox* list = s.C<QComboBox>("ComboBoxEx1");
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->itemText(0), s.device);
    QVERIFY(s.Open());
    QTRY_VERIFY_WITH_TIMEOUT(
        s.TextsAfter(s.Opened()).filter(QRegularExpression(u"^line \\d+$"_s)).size() >= 2, kWaitMs);
    // The window keeps the port when it writes Corvane.ini back.
    s.CloseWindow();
    QVERIFY(ReadFile(s.env.SettingDir() + u"Corvane.ini"_s).contains(s.link.toUtf8()));
    QCOMPARE(listPort(s.link), 0);
    const QByteArray written = ReadFile(s.env.SettingDir() + u"Corvane.ini"_s);
    QCOMPARE(written.count(s.link.toUtf8()), 1);
    // A file that lists ports of its own is left to the device list's menu.
    const QString other = s.env.tmp.filePath(u"other-tty"_s);
    QCOMPARE(listPort(other), 0);
    QVERIFY(said.contains("already lists virtual ports"));
    QCOMPARE(ReadFile(s.env.SettingDir() + u"Corvane.ini"_s), written);
}

void TstWindowE2e::plotPage_data()
{
    QTest::addColumn<bool>("labels");
    QTest::addColumn<QStringList>("channels");
    QTest::newRow("plain numbers") << false << QStringList{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s};
    QTest::newRow("labels") << true
                            << QStringList{u"sine1"_s, u"ramp2"_s, u"noise3"_s, u"sine4"_s, u"ramp5"_s};
}

// The simulator prints lines of numbers; the port's plot page (beside the waveform) draws a
// channel for each, hides one from its legend, exports, and keeps its settings over a restart.
void TstWindowE2e::plotPage()
{
    QFETCH(bool, labels);
    QFETCH(QStringList, channels);
    Session s;
    QStringList mode{u"--plot"_s, u"200"_s, u"--channels"_s, u"5"_s};
    if (labels) mode << u"--labels"_s;
    QVERIFY(s.Begin(mode));
    QVERIFY(s.Open());
    const QString pageName = u"PlotPage:"_s + s.device;
    auto* tabs = s.C<QTabBar>("TabSet2");
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(tabs->count() - 2).center());
    auto* plotTabs = s.C<QTabWidget>("PlotTabs");
    auto* page = Ui::Find<QWidget>(plotTabs, pageName);
    plotTabs->setCurrentWidget(page);
    QTRY_VERIFY_WITH_TIMEOUT(page->isVisible(), kWaitMs);
    auto* chart = Ui::Find<TCvChart>(page, u"PlotChart"_s);
    // Every channel gets its legend entry and a line with points drawn.
    for (const QString& name : channels)
        QTRY_VERIFY_WITH_TIMEOUT(page->findChild<QCheckBox*>(u"PlotChannel_"_s + name), kWaitMs);
    const auto drawn = [&](const QString& name) {
        const TCvFastLineSeries* series = chart->CharGetSeries(name);
        return series ? chart->DrawnPoints(series).size() : -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(drawn(channels[0]) >= 20, kWaitMs);
    // The text log still shows the lines.
    QTRY_VERIFY_WITH_TIMEOUT(s.Texts().filter(labels ? u"ramp2:"_s : u","_s).size() >= 3, kWaitMs);
    // A channel hidden from the legend is drawn no more.
    Ui::Find<QCheckBox>(page, u"PlotChannel_"_s + channels[2])->click();
    QTRY_COMPARE_WITH_TIMEOUT(drawn(channels[2]), 0, kWaitMs);
    Ui::Find<QComboBox>(page, u"PlotXMode"_s)->setCurrentIndex(1);
    // Export: X first, then one column per channel.
    const QString csv = s.env.tmp.filePath(u"plot.csv"_s);
    SetSaveFileNamePrompt([&](QWidget*, const QString&, const QString&, const QString&) { return csv; });
    Ui::Find<QPushButton>(page, u"PlotExportCsv"_s)->click();
    SetSaveFileNamePrompt({});
    const QList<QByteArray> rows = ReadFile(csv).split('\n');
    QCOMPARE(rows.value(0).trimmed(), "Time (ms)," + channels.join(u',').toUtf8());
    QVERIFY2(rows.size() > 20, qPrintable(QString::number(rows.size())));
    QCOMPARE(rows.value(1).split(',').size(), channels.size() + 1);
    s.CloseWindow();

    // The next start shows the port's plot as it was left.
    QVERIFY(s.StartWindow());
    QVERIFY(s.Open());
    page = Ui::Find<QWidget>(s.C<QTabWidget>("PlotTabs"), pageName);
    QCOMPARE(Ui::Find<QComboBox>(page, u"PlotXMode"_s)->currentIndex(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(page->findChild<QCheckBox*>(u"PlotChannel_"_s + channels[2]), kWaitMs);
    QVERIFY(!Ui::Find<QCheckBox>(page, u"PlotChannel_"_s + channels[2])->isChecked());
    QVERIFY(Ui::Find<QCheckBox>(page, u"PlotChannel_"_s + channels[0])->isChecked());
    QVERIFY(s.env.boxes.isEmpty());
}

QTEST_MAIN(TstWindowE2e)
#include "tst_windowe2e.moc"
