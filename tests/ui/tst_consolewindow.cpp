// A port's console in the window: the switch on the settings page shows a terminal in
// place of the port's log, keys typed there reach a real shell behind a real pty, nothing
// is lost while switching, and the log still gets everything.
#include "PtyPair.h"
#include "ShellPty.h"
#include "TCvComPortObj.h"
#include "TCvConsole.h"
#include "TLogMemo.h"
#include "TSplitView.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLayout>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kPrompt = u"corvane$ "_s;

struct ConsoleRig {
    UiTestEnv env;
    std::unique_ptr<TSplitViewForm> w;

    ConsoleRig()
    {
        w = UiTestEnv::Start("en_US");
        w->resize(1100, 700);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    // Lists the pty's port and opens it as the open button does.
    TCvComPortObj* Open(const PtyPair& pty)
    {
        const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
        auto* list = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s);
        if (list->findText(name) < 0 && !w->AddVirtualPort(pty.SlavePath())) return nullptr;
        list->setCurrentIndex(list->findText(name));
        w->ComboBoxEx1Change();
        Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
        TCvComPortObj* obj = w->GetDeciceByFullName(name);
        return obj && obj->Connected() ? obj : nullptr;
    }
    QCheckBox* Switch() const { return Ui::Find<QCheckBox>(*w, u"CheckBoxConsole"_s); }
    // The console of the port shown, or none.
    TCvConsole* Console() const
    {
        const QList<TCvConsole*> all = w->findChildren<TCvConsole*>(u"Console"_s);
        return all.size() == 1 ? all.front() : nullptr;
    }
};

// A bash on a pty of its own, behind the device's end of the port's pty: what the port
// writes reaches the shell's terminal, what the shell writes comes back to the port.
struct ShellDevice {
    QTemporaryDir dir;
    PtyPair port;
    ShellPty shell;
    QSocketNotifier fromPort{port.MasterFd(), QSocketNotifier::Read};
    bool started = false;

    ShellDevice()
    {
        QObject::connect(&fromPort, &QSocketNotifier::activated, &shell, [this] {
            char buf[4096];
            const ssize_t n = ::read(port.MasterFd(), buf, sizeof buf);
            if (n > 0) shell.Write(QByteArray(buf, qsizetype(n)));
        });
        QObject::connect(&shell, &ShellPty::Received, &shell, [this](const QByteArray& b) { port.Write(b); });
        const QStringList env = {u"PS1="_s + kPrompt,     u"TERM=xterm-256color"_s, u"HOME="_s + dir.path(),
                                 u"HISTFILE=/dev/null"_s, u"INPUTRC=/dev/null"_s,   u"LANG=C.UTF-8"_s,
                                 u"LC_ALL=C.UTF-8"_s};
        started = shell.Start({u"bash"_s, u"--norc"_s, u"--noprofile"_s, u"-i"_s}, dir.path(), env);
    }
};

int RowOf(const TCvConsole* c, const QString& text)
{
    for (int r = 0; r < c->Rows(); ++r)
        if (c->RowText(r) == text) return r;
    return -1;
}

bool AtPrompt(const TCvConsole* c)
{
    const QPoint at = c->CursorPos();
    return c->RowText(at.y()) == kPrompt.trimmed() && at.x() == kPrompt.size();
}

// Every line the console holds, the scrollback first.
QStringList ConsoleLines(const TCvConsole* c)
{
    QStringList out;
    for (int i = 0; i < c->ScrollbackCount(); ++i) out << c->ScrollbackLine(i);
    for (int r = 0; r < c->Rows(); ++r) out << c->RowText(r);
    while (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
    return out;
}

// The log's lines without their line numbers.
QStringList LogText(TCvComPortObj* obj)
{
    obj->FlushUiQueue();
    const TLogModel& m = obj->LogView()->Model();
    QStringList out;
    for (qint64 i = 0; i < m.LineCount(); ++i) {
        const QString line = m.Line(i);
        const qsizetype bar = line.indexOf(u"| "_s);
        out << (bar >= 0 ? line.mid(bar + 2) : line);
    }
    return out;
}

} // namespace

class TstConsoleWindow : public QObject {
    Q_OBJECT
private slots:
    void keysReachAShell_data();
    void keysReachAShell();
    void switchingLosesNothing();
    void breakKeyAndClose();
    void escapeChoiceKeptPerPort();
};

void TstConsoleWindow::keysReachAShell_data()
{
    QTest::addColumn<bool>("ownPage");
    // The first port opened writes into the main log; a second one has a page of its own.
    QTest::newRow("main log") << false;
    QTest::newRow("own page") << true;
}

void TstConsoleWindow::keysReachAShell()
{
    QFETCH(bool, ownPage);
    ConsoleRig rig;
    PtyPair other;
    if (ownPage) QVERIFY(rig.Open(other));
    ShellDevice dev;
    QVERIFY(dev.started);
    TCvComPortObj* obj = rig.Open(dev.port);
    QVERIFY(obj);
    QVERIFY(!rig.Console());
    rig.Switch()->click();
    TCvConsole* c = rig.Console();
    QVERIFY(c);
    QVERIFY(c->isVisible());
    QVERIFY(!TLogMemo::Of(obj->LogView())->isVisible());
    QTRY_VERIFY(c->hasFocus());
    // The prompt arrives when the shell is asked for it (it may have come before the console).
    QTest::keyClick(c, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(AtPrompt(c), 20000);
    QTest::keyClicks(c, u"echo hi"_s);
    QTest::keyClick(c, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(c, u"hi"_s) >= 0, 20000);
    QCOMPARE(RowOf(c, u"hi"_s), RowOf(c, kPrompt + u"echo hi"_s) + 1);
    // No echo line per key in the log; it shows what the device sent, escapes taken out.
    QTRY_VERIFY_WITH_TIMEOUT(LogText(obj).contains(u"hi"_s), 20000);
    for (const QString& line : LogText(obj)) QVERIFY2(!line.contains(u'\x1b'), qPrintable(line));
    // Tab completes a name only the device knows; Ctrl+C stops a command.
    QFile f(dev.dir.filePath(u"device-only-file.txt"_s));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QTRY_VERIFY_WITH_TIMEOUT(AtPrompt(c), 20000);
    QTest::keyClicks(c, u"ls device-o"_s);
    QTest::keyClick(c, Qt::Key_Tab);
    QTRY_VERIFY_WITH_TIMEOUT(RowOf(c, kPrompt + u"ls device-only-file.txt"_s) >= 0, 20000);
    QTest::keyClick(c, Qt::Key_C, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(AtPrompt(c), 20000);
    // F1, F2 and Esc belong to the device; with Ctrl+Shift, F1 and F2 open the side panels.
    auto* left = Ui::Find<TSplitView>(*rig.w, u"SV_L"_s);
    const bool leftOpen = left->IsOpened();
    QTest::keyClick(c, Qt::Key_F1);
    QTest::keyClick(c, Qt::Key_Escape);
    QCOMPARE(left->IsOpened(), leftOpen);
    QTest::keyClick(c, Qt::Key_F1, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(left->IsOpened(), !leftOpen);
    // Switched back, the log is shown again.
    rig.Switch()->click();
    QVERIFY(TLogMemo::Of(obj->LogView())->isVisible());
    QVERIFY(!c->isVisible());
}

void TstConsoleWindow::switchingLosesNothing()
{
    ConsoleRig rig;
    PtyPair dev;
    TCvComPortObj* obj = rig.Open(dev);
    QVERIFY(obj);
    rig.Switch()->click();
    TCvConsole* c = rig.Console();
    QVERIFY(c);
    // Lines come while the user switches between the log and the console.
    QStringList sent;
    for (int i = 0; i < 40; ++i) {
        QByteArray piece;
        for (int k = 0; k < 5; ++k) {
            sent << u"line %1"_s.arg(i * 5 + k);
            piece += sent.last().toUtf8() + "\r\n";
        }
        const qint64 before = obj->FComReceiveCount.load();
        QVERIFY(dev.Write(piece));
        if (i % 3 == 0) rig.Switch()->click();
        QTRY_COMPARE(obj->FComReceiveCount.load(), before + piece.size());
    }
    c->FeedAll();
    QCOMPARE(rig.Console(), c);
    QCOMPARE(ConsoleLines(c).mid(ConsoleLines(c).indexOf(u"line 0"_s)), sent);
    QStringList log = LogText(obj);
    log = log.mid(log.indexOf(u"line 0"_s), sent.size());
    QCOMPARE(log, sent);
}

void TstConsoleWindow::breakKeyAndClose()
{
    ConsoleRig rig;
    PtyPair dev;
    TCvComPortObj* obj = rig.Open(dev);
    QVERIFY(obj);
    QWidget* memo1 = Ui::Find<QWidget>(*rig.w, u"Memo1"_s);
    QWidget* page = memo1->parentWidget();
    rig.Switch()->click();
    TCvConsole* c = rig.Console();
    QVERIFY(c);
    // The break key reaches the port's break (a pty has none, and the log says so).
    QTest::keyClick(c, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    QTRY_VERIFY(LogText(obj).join(u'\n').contains(u"Can not send a break"_s));
    // Closed, the console goes and the main log is back in its place.
    Ui::Find<QPushButton>(*rig.w, u"Button2"_s)->click();
    QVERIFY(!obj->Connected());
    QVERIFY(!rig.Console());
    QCOMPARE(memo1->parentWidget(), page);
    QVERIFY(page->layout()->indexOf(memo1) >= 0);
    QVERIFY(rig.w->findChildren<QStackedWidget*>(u"StackConsole"_s).isEmpty());
    QTRY_VERIFY(memo1->isVisible());
    // Opened again with the switch still on, the console is back from the start.
    QVERIFY(rig.Open(dev));
    QVERIFY(rig.Console());
    QVERIFY(rig.Console()->isVisible());
    QVERIFY(dev.Write("again\r\n"));
    QTRY_VERIFY((rig.Console()->FeedAll(), RowOf(rig.Console(), u"again"_s) >= 0));
}

void TstConsoleWindow::escapeChoiceKeptPerPort()
{
    ConsoleRig rig;
    PtyPair dev;
    TCvComPortObj* obj = rig.Open(dev);
    QVERIFY(obj);
    auto* box = Ui::Find<QComboBox>(*rig.w, u"ComboBoxEscapes"_s);
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(box->currentText(), u"Colours"_s);
    box->setCurrentIndex(2);
    emit box->activated(2);
    QCOMPARE(obj->AnsiMode(), TAnsiMode::Show);
    QVERIFY(dev.Write("\x1b[0;32mok\x1b[0m\r\n"));
    QTRY_VERIFY(LogText(obj).contains(u"␛[0;32mok␛[0m"_s));
    const QString ini = rig.env.SettingDir() + SafeFileNamePart(obj->FComportFullName) + u".ini"_s;
    QVERIFY(ReadFile(ini).contains("EscapeSequences=Show\r\n"));
    // The console's keys are kept there too.
    Ui::Find<QComboBox>(*rig.w, u"ComboBoxConsoleEnter"_s)->setCurrentIndex(2);
    emit Ui::Find<QComboBox>(*rig.w, u"ComboBoxConsoleEnter"_s)->activated(2);
    QCOMPARE(obj->ConsoleOptions().Enter, int(TCvConsoleOptions::EnterCrLf));
    QVERIFY(ReadFile(ini).contains("ConsoleEnter=CRLF\r\n"));
}

QTEST_MAIN(TstConsoleWindow)
#include "tst_consolewindow.moc"
