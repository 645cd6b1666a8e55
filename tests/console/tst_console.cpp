#include "ShellPty.h"
#include "TCvConsole.h"
#include "UiFind.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(Qt::Key)
Q_DECLARE_METATYPE(Qt::KeyboardModifiers)

// The console as a user meets it: keys typed on the widget (found by its name) go to a real
// shell on a pty, and what the shell and its programs draw shows on the screen.
class TstConsole : public QObject {
    Q_OBJECT
private slots:
    void keysAsTyped_data();
    void keysAsTyped();
    void applicationCursorKeys();
    void enterAndBackspaceChoices();
    void textInThePortEncoding();
    void pasteIsBracketedWhenAsked();
    void localEchoIsAChoice();
    void coloursAndAttributes();
    void alternateScreenRestores();
    void scrollbackKeepsTenThousandLines();
    void resizeKeepsTheLines();
    void selectAndCopy();
    void paintsColours();
    void shellEchoesCommandOutput();
    void shellColours();
    void shellTabCompletes();
    void shellCtrlCStopsSleep();
    void shellLessUsesAlternateScreen();
    void shellWideCharacters();
};

namespace {

const QString kPrompt = u"corvane$ "_s;

// A window holding the console, as a page would.
struct Window {
    QWidget top;
    TCvConsole* console;
    Window()
    {
        auto* layout = new QVBoxLayout(&top);
        auto* c = new TCvConsole(&top);
        c->setObjectName(u"ConsoleView"_s);
        layout->addWidget(c);
        top.resize(820, 520);
        top.show();
        console = Ui::Find<TCvConsole>(top, u"ConsoleView"_s);
    }
};

// Bytes the console sent for whatever `act` does.
template <typename F> QByteArray Sent(TCvConsole* c, F act)
{
    QByteArray out;
    const auto conn = QObject::connect(c, &TCvConsole::Output, c, [&](const QByteArray& b) { out += b; });
    act();
    QObject::disconnect(conn);
    return out;
}

// Typing as a keyboard does, characters beyond Latin-1 too (an input method's text).
void TypeText(QWidget* w, const QString& text)
{
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80) QTest::keyClick(w, char(ch.unicode()));
        else QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

void FeedNow(TCvConsole* c, const QByteArray& bytes)
{
    c->Feed(bytes);
    c->FeedAll();
}

int RowOf(const TCvConsole* c, const QString& text)
{
    for (int r = 0; r < c->Rows(); ++r)
        if (c->RowText(r) == text) return r;
    return -1;
}

// A bash on a pty in a folder of its own, wired to the console as the port would wire it.
struct Shell {
    QTemporaryDir dir;
    ShellPty pty;
    Window w;
    explicit Shell(const QStringList& extraEnv = {})
    {
        QObject::connect(&pty, &ShellPty::Received, w.console, [this](const QByteArray& b) {
            w.console->Feed(b);
            // Flow control as the port does it: no reading while the console has enough.
            if (w.console->Backlog() > (1 << 20)) pty.SetReading(false);
        });
        QObject::connect(w.console, &TCvConsole::Drained, &pty, [this] { pty.SetReading(true); });
        QObject::connect(w.console, &TCvConsole::Output, &pty, [this](const QByteArray& b) { pty.Write(b); });
        QObject::connect(w.console, &TCvConsole::SizeChanged, &pty,
                         [this](int r, int c) { pty.SetSize(r, c); });
        QStringList env = {u"PS1="_s + kPrompt,     u"TERM=xterm-256color"_s, u"HOME="_s + dir.path(),
                           u"HISTFILE=/dev/null"_s, u"LESSHISTFILE=-"_s,      u"LESS="_s,
                           u"INPUTRC=/dev/null"_s,  u"LANG=C.UTF-8"_s,        u"LC_ALL=C.UTF-8"_s};
        env += extraEnv;
        started = pty.Start({u"bash"_s, u"--norc"_s, u"--noprofile"_s, u"-i"_s}, dir.path(), env,
                            w.console->Rows(), w.console->Columns());
    }
    bool started = false;
    TCvConsole* c() const { return w.console; }
    bool AtPrompt() const
    {
        const QPoint at = c()->CursorPos();
        return c()->RowText(at.y()) == kPrompt.trimmed() && at.x() == kPrompt.size();
    }
    void Type(const QString& text) { TypeText(c(), text); }
    void Enter() { QTest::keyClick(c(), Qt::Key_Return); }
    void Run(const QString& command)
    {
        Type(command);
        Enter();
    }
};

} // namespace

void TstConsole::keysAsTyped_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("mods");
    QTest::addColumn<QByteArray>("bytes");
    const Qt::KeyboardModifiers none, ctrl(Qt::ControlModifier), alt(Qt::AltModifier),
        shift(Qt::ShiftModifier);
    QTest::newRow("Enter") << Qt::Key_Return << none << QByteArray("\r");
    QTest::newRow("keypad Enter") << Qt::Key_Enter << none << QByteArray("\r");
    QTest::newRow("Backspace") << Qt::Key_Backspace << none << QByteArray("\x7f");
    QTest::newRow("Tab") << Qt::Key_Tab << none << QByteArray("\t");
    QTest::newRow("Shift+Tab") << Qt::Key_Backtab << shift << QByteArray("\x1b[Z");
    QTest::newRow("Esc") << Qt::Key_Escape << none << QByteArray("\x1b");
    QTest::newRow("Up") << Qt::Key_Up << none << QByteArray("\x1b[A");
    QTest::newRow("Down") << Qt::Key_Down << none << QByteArray("\x1b[B");
    QTest::newRow("Right") << Qt::Key_Right << none << QByteArray("\x1b[C");
    QTest::newRow("Left") << Qt::Key_Left << none << QByteArray("\x1b[D");
    QTest::newRow("Ctrl+Left") << Qt::Key_Left << ctrl << QByteArray("\x1b[1;5D");
    QTest::newRow("Home") << Qt::Key_Home << none << QByteArray("\x1b[H");
    QTest::newRow("End") << Qt::Key_End << none << QByteArray("\x1b[F");
    QTest::newRow("PgUp") << Qt::Key_PageUp << none << QByteArray("\x1b[5~");
    QTest::newRow("PgDn") << Qt::Key_PageDown << none << QByteArray("\x1b[6~");
    QTest::newRow("Insert") << Qt::Key_Insert << none << QByteArray("\x1b[2~");
    QTest::newRow("Delete") << Qt::Key_Delete << none << QByteArray("\x1b[3~");
    QTest::newRow("F1") << Qt::Key_F1 << none << QByteArray("\x1bOP");
    QTest::newRow("F4") << Qt::Key_F4 << none << QByteArray("\x1bOS");
    QTest::newRow("F5") << Qt::Key_F5 << none << QByteArray("\x1b[15~");
    QTest::newRow("F10") << Qt::Key_F10 << none << QByteArray("\x1b[21~");
    QTest::newRow("F12") << Qt::Key_F12 << none << QByteArray("\x1b[24~");
    QTest::newRow("Ctrl+C") << Qt::Key_C << ctrl << QByteArray("\x03");
    QTest::newRow("Ctrl+D") << Qt::Key_D << ctrl << QByteArray("\x04");
    QTest::newRow("Ctrl+Z") << Qt::Key_Z << ctrl << QByteArray("\x1a");
    QTest::newRow("Ctrl+[") << Qt::Key_BracketLeft << ctrl << QByteArray("\x1b");
    QTest::newRow("Ctrl+Space") << Qt::Key_Space << ctrl << QByteArray(1, '\0');
    QTest::newRow("Alt+x") << Qt::Key_X << alt << QByteArray("\x1bx");
    QTest::newRow("a") << Qt::Key_A << none << QByteArray("a");
}

void TstConsole::keysAsTyped()
{
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, mods);
    QFETCH(QByteArray, bytes);
    Window w;
    QCOMPARE(Sent(w.console, [&] { QTest::keyClick(w.console, key, mods); }), bytes);
}

void TstConsole::applicationCursorKeys()
{
    // The device asks for application cursor keys (as vi and less do) and gets them.
    Window w;
    FeedNow(w.console, "\x1b[?1h");
    QCOMPARE(Sent(w.console, [&] { QTest::keyClick(w.console, Qt::Key_Up); }), QByteArray("\x1bOA"));
    QCOMPARE(Sent(w.console, [&] { QTest::keyClick(w.console, Qt::Key_Home); }), QByteArray("\x1bOH"));
    FeedNow(w.console, "\x1b[?1l");
    QCOMPARE(Sent(w.console, [&] { QTest::keyClick(w.console, Qt::Key_Up); }), QByteArray("\x1b[A"));
}

void TstConsole::enterAndBackspaceChoices()
{
    Window w;
    TCvConsole* c = w.console;
    QCOMPARE(c->EnterKey(), TCvConsole::TEnterKey::Cr);
    QCOMPARE(c->BackspaceKey(), TCvConsole::TBackspaceKey::Del);
    c->SetEnterKey(TCvConsole::TEnterKey::Lf);
    QCOMPARE(Sent(c, [&] { QTest::keyClick(c, Qt::Key_Return); }), QByteArray("\n"));
    c->SetEnterKey(TCvConsole::TEnterKey::CrLf);
    QCOMPARE(Sent(c, [&] { QTest::keyClick(c, Qt::Key_Return); }), QByteArray("\r\n"));
    c->SetBackspaceKey(TCvConsole::TBackspaceKey::Bs);
    QCOMPARE(Sent(c, [&] { QTest::keyClick(c, Qt::Key_Backspace); }), QByteArray("\b"));
}

void TstConsole::textInThePortEncoding()
{
    Window w;
    TCvConsole* c = w.console;
    QCOMPARE(Sent(c, [&] { TypeText(c, u"é中"_s); }), QString(u"é中"_s).toUtf8());
    c->SetEncoding(TTextEncoding::Gb18030);
    QCOMPARE(Sent(c, [&] { TypeText(c, u"中"_s); }), QByteArray("\xd6\xd0"));
    // What the device sends in GB18030 shows as the same character, two cells wide.
    FeedNow(c, "\x1b[H\xd6\xd0!");
    QCOMPARE(c->Cell(0, 0).Text, u"中"_s);
    QCOMPARE(c->Cell(0, 0).Width, 2);
    QCOMPARE(c->Cell(0, 2).Text, u"!"_s);
    // A character the encoding cannot carry is not sent as a wrong one.
    c->SetEncoding(TTextEncoding::Latin1);
    QCOMPARE(Sent(c, [&] { c->SendText(u"中"_s); }), QByteArray());
}

void TstConsole::pasteIsBracketedWhenAsked()
{
    Window w;
    TCvConsole* c = w.console;
    QApplication::clipboard()->setText(u"ls\necho x\r\n"_s);
    QCOMPARE(Sent(c, [&] { QTest::keyClick(c, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier); }),
             QByteArray("ls\recho x\r"));
    FeedNow(c, "\x1b[?2004h");
    QCOMPARE(Sent(c, [&] { QTest::keyClick(c, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier); }),
             QByteArray("\x1b[200~ls\recho x\r\x1b[201~"));
    FeedNow(c, "\x1b[?2004l");
    QCOMPARE(Sent(c, [&] { c->Paste(u"a"_s); }), QByteArray("a"));
}

void TstConsole::localEchoIsAChoice()
{
    Window w;
    TCvConsole* c = w.console;
    QVERIFY(!c->LocalEcho());
    QTest::keyClicks(c, u"ab"_s);
    c->FeedAll();
    QCOMPARE(c->RowText(0), QString());
    c->SetLocalEcho(true);
    QTest::keyClicks(c, u"abc"_s);
    QTest::keyClick(c, Qt::Key_Backspace);
    QTest::keyClick(c, Qt::Key_Return);
    QTest::keyClicks(c, u"d"_s);
    c->FeedAll();
    QCOMPARE(c->RowText(0), u"ab"_s);
    QCOMPARE(c->RowText(1), u"d"_s);
}

void TstConsole::coloursAndAttributes()
{
    Window w;
    TCvConsole* c = w.console;
    FeedNow(c, "\x1b[31mR\x1b[1;42mB\x1b[0m \x1b[38;5;208mO\x1b[38;2;1;2;3mT\x1b[7mI\x1b[0mP");
    QCOMPARE(c->RowText(0), u"RB OTIP"_s);
    QCOMPARE(c->Cell(0, 0).Style.Foreground(), TCvTextStyle::Palette(1));
    QCOMPARE(c->Cell(0, 1).Style.Background(), TCvTextStyle::Palette(2));
    QVERIFY(c->Cell(0, 1).Style.Has(TCvTextStyle::Bold));
    QVERIFY(c->Cell(0, 2).Style.IsPlain());
    QCOMPARE(c->Cell(0, 3).Style.Foreground(), TCvTextStyle::Palette(208));
    QCOMPARE(c->Cell(0, 4).Style.Foreground(), TCvTextStyle::Rgb(1, 2, 3));
    QVERIFY(c->Cell(0, 5).Style.Has(TCvTextStyle::Inverse));
    QVERIFY(c->Cell(0, 6).Style.IsPlain());
    // Cursor moves, erase and a scroll region, as a full-screen program draws.
    FeedNow(c,
            "\x1b[2J\x1b[1;1Htop\x1b[5;10Hxy\x1b[5;11H\x1b[K\x1b[2;4r\x1b[2;1H1\r\n2\r\n3\r\n4\r\n5\x1b[r");
    QCOMPARE(c->RowText(0), u"top"_s);
    QCOMPARE(c->RowText(1), u"3"_s);
    QCOMPARE(c->RowText(2), u"4"_s);
    QCOMPARE(c->RowText(3), u"5"_s);
    QCOMPARE(c->RowText(4), u"         x"_s);
    QCOMPARE(c->ScrollbackCount(), 0);
}

void TstConsole::alternateScreenRestores()
{
    Window w;
    TCvConsole* c = w.console;
    FeedNow(c, "main screen\r\n$ ");
    FeedNow(c, "\x1b[?1049h\x1b[H\x1b[2Jfull screen");
    QVERIFY(c->AltScreen());
    QCOMPARE(c->RowText(0), u"full screen"_s);
    FeedNow(c, "\x1b[?1049l");
    QVERIFY(!c->AltScreen());
    QCOMPARE(c->RowText(0), u"main screen"_s);
    QCOMPARE(c->RowText(1), u"$"_s);
    QCOMPARE(c->CursorPos(), QPoint(2, 1));
}

void TstConsole::scrollbackKeepsTenThousandLines()
{
    Window w;
    TCvConsole* c = w.console;
    QVERIFY(c->ScrollbackLines() >= 10000);
    const int total = 10000 + c->Rows() + 500;
    QByteArray text;
    for (int i = 0; i < total; ++i)
        text += "line " + QByteArray::number(i) + (i % 2 ? "" : " \x1b[32mok\x1b[0m") + "\r\n";
    FeedNow(c, text);
    QCOMPARE(c->ScrollbackCount(), 10000);
    // The oldest kept line and the newest: nothing in between was lost.
    const int first = total + 1 - c->Rows() - 10000;
    QCOMPARE(c->ScrollbackLine(0), u"line %1%2"_s.arg(first).arg(first % 2 ? "" : " ok"));
    QCOMPARE(c->RowText(c->Rows() - 2), u"line %1%2"_s.arg(total - 1).arg((total - 1) % 2 ? "" : " ok"));
    // Scrolled back, the view stays on its lines while more arrive.
    c->ScrollBack(100);
    FeedNow(c, "more\r\n");
    QCOMPARE(c->ScrolledBack(), 101);
    QTest::keyClick(c, Qt::Key_PageDown, Qt::ShiftModifier);
    QCOMPARE(c->ScrolledBack(), 101 - (c->Rows() - 1));
    // Typing goes back to the live screen.
    QTest::keyClicks(c, u"x"_s);
    QCOMPARE(c->ScrolledBack(), 0);
}

void TstConsole::resizeKeepsTheLines()
{
    Window w;
    TCvConsole* c = w.console;
    QSignalSpy sizes(c, &TCvConsole::SizeChanged);
    const int rows = c->Rows();
    QByteArray text;
    for (int i = 0; i < rows + 5; ++i) text += "L" + QByteArray::number(i) + "\r\n";
    FeedNow(c, text + "$ ");
    QCOMPARE(c->ScrollbackCount(), 6);
    QCOMPARE(c->RowText(0), u"L6"_s);
    // Fewer rows: the lines above the cursor go to the scrollback, the prompt stays in view.
    w.top.resize(w.top.width(), w.top.height() / 2);
    QTRY_VERIFY(c->Rows() < rows);
    QCOMPARE(sizes.last().at(0).toInt(), c->Rows());
    QCOMPARE(c->RowText(c->CursorPos().y()), u"$"_s);
    QCOMPARE(c->CursorPos().y(), c->Rows() - 1);
    QCOMPARE(c->RowText(c->Rows() - 2), u"L%1"_s.arg(rows + 4));
    QCOMPARE(c->ScrollbackCount(), 6 + rows - c->Rows());
    // More rows again: they come back from the scrollback.
    w.top.resize(w.top.width(), w.top.height() * 2);
    QTRY_COMPARE(c->Rows(), rows);
    QCOMPARE(c->ScrollbackCount(), 6);
    QCOMPARE(c->RowText(0), u"L6"_s);
    QCOMPARE(c->CursorPos(), QPoint(2, rows - 1));
    // Narrower: the rows are cut, and the device is told the new size.
    w.top.resize(w.top.width() / 2, w.top.height());
    QTRY_VERIFY(c->Columns() < 60);
    QCOMPARE(sizes.last().at(1).toInt(), c->Columns());
    QCOMPARE(c->RowText(0), u"L6"_s);
}

void TstConsole::selectAndCopy()
{
    Window w;
    TCvConsole* c = w.console;
    FeedNow(c, "first line\r\nsecond 中文 line");
    QTest::qWait(50);
    const int cw = c->fontMetrics().horizontalAdvance(QLatin1Char('M'));
    const int lh = c->fontMetrics().lineSpacing();
    QWidget* vp = c->viewport();
    // From "line" in the first row to the end of "中文" in the second.
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(6 * cw, lh / 2));
    QTest::mouseMove(vp, QPoint(11 * cw, lh + lh / 2));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(11 * cw, lh + lh / 2));
    QVERIFY(c->HasSelection());
    QCOMPARE(c->SelectedText(), u"line\nsecond 中文"_s);
    QTest::keyClick(c, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(QApplication::clipboard()->text(), u"line\nsecond 中文"_s);
}

void TstConsole::paintsColours()
{
    Window w;
    TCvConsole* c = w.console;
    c->SetColours(Qt::black, Qt::white);
    FeedNow(c, "\x1b[41m    \x1b[0m plain");
    QTest::qWait(50);
    const QImage img = c->viewport()->grab().toImage();
    const int cw = c->fontMetrics().horizontalAdvance(QLatin1Char('M'));
    const int lh = c->fontMetrics().lineSpacing();
    // The red background of the first four cells, and none in the plain text's cells.
    TCvTextStyle onRed;
    onRed.SetBackground(TCvTextStyle::Palette(1));
    const QColor red = c->Colours().Resolve(onRed).Background;
    QCOMPARE(img.pixelColor(2 * cw, lh / 2).rgb(), red.rgb());
    QCOMPARE(img.pixelColor(7 * cw, lh / 2).rgb(), QColor(Qt::white).rgb());
}

void TstConsole::shellEchoesCommandOutput()
{
    Shell sh;
    QVERIFY(sh.started);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Run(u"echo hi"_s);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"hi"_s) >= 0, 20000);
    QCOMPARE(RowOf(sh.c(), u"hi"_s), RowOf(sh.c(), u"corvane$ echo hi"_s) + 1);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    // The line editor gets Backspace and the arrows as keys.
    sh.Type(u"echo ab"_s);
    QTest::keyClick(sh.c(), Qt::Key_Left);
    QTest::keyClick(sh.c(), Qt::Key_Backspace);
    sh.Type(u"X"_s);
    QTest::keyClick(sh.c(), Qt::Key_End);
    sh.Type(u"Y"_s);
    sh.Enter();
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"XbY"_s) >= 0, 20000);
}

void TstConsole::shellColours()
{
    Shell sh;
    QVERIFY(sh.started);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Run(u"printf '\\e[31mred\\e[0m\\n'"_s);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"red"_s) >= 0, 20000);
    const int row = RowOf(sh.c(), u"red"_s);
    for (int col = 0; col < 3; ++col)
        QCOMPARE(sh.c()->Cell(row, col).Style.Foreground(), TCvTextStyle::Palette(1));
    // The command line itself, typed on the screen, is not red.
    QVERIFY(sh.c()->Cell(row - 1, 0).Style.IsPlain());
}

void TstConsole::shellTabCompletes()
{
    Shell sh;
    QVERIFY(sh.started);
    const QString name = u"only_here_7f3a.txt"_s;
    QFile f(sh.dir.filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Type(u"ls only_h"_s);
    QTest::keyClick(sh.c(), Qt::Key_Tab);
    // The shell finished the name the console never knew.
    QTRY_VERIFY_WITH_TIMEOUT(sh.c()->RowText(sh.c()->CursorPos().y()).startsWith(u"corvane$ ls "_s + name),
                             20000);
    sh.Enter();
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), name) >= 0, 20000);
}

void TstConsole::shellCtrlCStopsSleep()
{
    Shell sh;
    QVERIFY(sh.started);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Run(u"sleep 100; echo finished"_s);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"corvane$ sleep 100; echo finished"_s) >= 0, 20000);
    // Give the shell the time to start it; it is still running.
    QTest::qWait(500);
    QVERIFY(!sh.AtPrompt());
    QTest::keyClick(sh.c(), Qt::Key_C, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    QCOMPARE(RowOf(sh.c(), u"finished"_s), -1);
    // Interrupted, not finished: the status of a process ended by SIGINT.
    sh.Run(u"echo status=$?"_s);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"status=130"_s) >= 0, 20000);
}

void TstConsole::shellLessUsesAlternateScreen()
{
    Shell sh;
    QVERIFY(sh.started);
    QFile f(sh.dir.filePath(u"lines.txt"_s));
    QVERIFY(f.open(QIODevice::WriteOnly));
    for (int i = 1; i <= 200; ++i) f.write("line " + QByteArray::number(i) + "\n");
    f.close();
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Run(u"echo before"_s);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"before"_s) >= 0, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Run(u"less lines.txt"_s);
    QTRY_VERIFY_WITH_TIMEOUT(sh.c()->AltScreen(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sh.c()->RowText(0), u"line 1"_s, 20000);
    QCOMPARE(RowOf(sh.c(), u"before"_s), -1);
    // A page on: less moves through the file.
    QTest::keyClick(sh.c(), Qt::Key_Space);
    QTRY_VERIFY_WITH_TIMEOUT(sh.c()->RowText(0) != u"line 1"_s && sh.c()->RowText(0).startsWith(u"line "_s),
                             20000);
    sh.Type(u"q"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!sh.c()->AltScreen(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    // The screen from before less is back.
    QVERIFY(RowOf(sh.c(), u"before"_s) >= 0);
    QVERIFY(RowOf(sh.c(), u"corvane$ less lines.txt"_s) >= 0);
    QCOMPARE(RowOf(sh.c(), u"line 1"_s), -1);
}

void TstConsole::shellWideCharacters()
{
    Shell sh;
    QVERIFY(sh.started);
    QTRY_VERIFY_WITH_TIMEOUT(sh.AtPrompt(), 20000);
    sh.Run(u"echo 中文x"_s);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(sh.c(), u"中文x"_s) >= 0, 20000);
    const int row = RowOf(sh.c(), u"中文x"_s);
    QCOMPARE(sh.c()->Cell(row, 0).Text, u"中"_s);
    QCOMPARE(sh.c()->Cell(row, 0).Width, 2);
    QCOMPARE(sh.c()->Cell(row, 1).Width, 0);
    QCOMPARE(sh.c()->Cell(row, 2).Text, u"文"_s);
    QCOMPARE(sh.c()->Cell(row, 4).Text, u"x"_s);
}

QTEST_MAIN(TstConsole)
#include "tst_console.moc"
