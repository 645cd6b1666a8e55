// Console throughput: `cat` of a text file by bash on a real pty, shown in the console widget,
// from the Enter to the prompt after the file's last line, with the GUI event loop's
// lateness meanwhile. Targets: at least 10 MB/s, lateness p99 at most 16 ms.
//   build/bench/console/bench_console [megabytes]
// The second pair of figures is the same through a port as the window wires it: the shell
// behind a serial port's pty (a thread copies between the two ptys, as a cable would), the
// port object reading it into its log and its console (TCvPortConsoles) at once.
#include "GuiLateness.h"
#include "PtyPair.h"
#include "ShellPty.h"
#include "TCvComPortObj.h"
#include "TCvConsole.h"
#include "TCvPortConsoles.h"
#include "TLogMemo.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace {

const QString kPrompt = QStringLiteral("bench$ ");

bool AtPrompt(const TCvConsole* c)
{
    return c->RowText(c->CursorPos().y()) == kPrompt.trimmed() && c->CursorPos().x() == kPrompt.size();
}

// Waits in the event loop, as the program does, until done() or the time runs out.
template <typename F> bool WaitFor(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || t.elapsed() > ms) loop.quit();
    });
    tick.start(2);
    loop.exec();
    return done();
}

QByteArray Payload(qint64 size, bool coloured)
{
    QByteArray b;
    b.reserve(size + 200);
    for (int i = 0; b.size() < size; ++i) {
        if (coloured)
            b += "\x1b[0;3" + QByteArray::number(1 + i % 3) + "mI (" + QByteArray::number(i) +
                 ") main: temperature 23.5 C, humidity 45 %, all good\x1b[0m\n";
        else
            b += "line " + QByteArray::number(i) +
                 ": the quick brown fox jumps over the lazy dog 0123456789\n";
    }
    return b + "END-OF-FILE-MARK\n";
}

void WriteBigFile(const QTemporaryDir& dir, qint64 size, bool coloured)
{
    QFile f(dir.filePath(QStringLiteral("big.txt")));
    if (!f.open(QIODevice::WriteOnly) || f.write(Payload(size, coloured)) < size) std::abort();
}

// bash with our prompt, no rc files and no history, in dir.
bool StartShell(ShellPty& pty, const QTemporaryDir& dir, int rows, int cols)
{
    return pty.Start({QStringLiteral("bash"), QStringLiteral("--norc"), QStringLiteral("--noprofile"),
                      QStringLiteral("-i")},
                     dir.path(),
                     {QStringLiteral("PS1=") + kPrompt, QStringLiteral("TERM=xterm-256color"),
                      QStringLiteral("HISTFILE=/dev/null"), QStringLiteral("INPUTRC=/dev/null")},
                     rows, cols);
}

void Run(qint64 size, bool coloured)
{
    QTemporaryDir dir;
    WriteBigFile(dir, size, coloured);

    QWidget window;
    auto* console = new TCvConsole(&window);
    (new QVBoxLayout(&window))->addWidget(console);
    window.resize(1000, 700);
    window.show();
    QApplication::processEvents();
    ShellPty pty;
    QObject::connect(&pty, &ShellPty::Received, console, [&](const QByteArray& b) {
        console->Feed(b);
        // Flow control: the pty holds what the console has not taken yet.
        if (console->Backlog() > (256 << 10)) pty.SetReading(false);
    });
    QObject::connect(console, &TCvConsole::Drained, &pty, [&] { pty.SetReading(true); });
    QObject::connect(console, &TCvConsole::Output, &pty, [&](const QByteArray& b) { pty.Write(b); });
    if (!StartShell(pty, dir, console->Rows(), console->Columns()) ||
        !WaitFor([&] { return AtPrompt(console); }, 20000)) {
        std::printf("bench_console: the shell did not start\n");
        std::exit(1);
    }
    TGuiLateness lateness;
    QElapsedTimer t;
    t.start();
    // Typed as the keys would send it.
    pty.Write("cat big.txt\r");
    const bool done = WaitFor(
        [&] {
            const int row = console->CursorPos().y();
            return AtPrompt(console) && row > 0 &&
                   console->RowText(row - 1) == QStringLiteral("END-OF-FILE-MARK");
        },
        600000);
    const double secs = t.nsecsElapsed() / 1e9;
    lateness.Stop();
    std::printf(
        "console, cat of %.1f MB %s text: %.1f MB/s, GUI lateness p50 %.1f ms, p99 %.1f ms, max %.1f ms%s "
        "(%d lines of scrollback)\n",
        double(size) / 1e6, coloured ? "coloured" : "plain", double(size) / 1e6 / secs,
        lateness.Percentile(0.5), lateness.Percentile(0.99), lateness.Percentile(1.0),
        done ? "" : " [did not finish]", console->ScrollbackCount());
}

// Copies bytes both ways between two pty masters on a thread of its own: the cable between
// the device (the shell's terminal) and the serial port.
class TCable {
public:
    TCable(int a, int b) : FA(a), FB(b)
    {
        for (const int fd : {a, b}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        FThread = std::thread([this] { Run(); });
    }
    ~TCable()
    {
        FStop = true;
        FThread.join();
    }

private:
    bool Copy(int from, int to)
    {
        char buf[65536];
        const ssize_t n = ::read(from, buf, sizeof buf);
        for (ssize_t done = 0; done < n && !FStop;) {
            const ssize_t w = ::write(to, buf + done, size_t(n - done));
            if (w > 0) {
                done += w;
            } else {
                pollfd p{to, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
        }
        return n > 0;
    }
    void Run()
    {
        while (!FStop) {
            pollfd p[2] = {{FA, POLLIN, 0}, {FB, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) continue;
            if (p[0].revents & POLLIN) Copy(FA, FB);
            if (p[1].revents & POLLIN) Copy(FB, FA);
        }
    }
    int FA, FB;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

void RunThroughPort(qint64 size, bool coloured)
{
    QTemporaryDir dir;
    WriteBigFile(dir, size, coloured);

    QWidget window;
    auto* memo = new TLogMemo(&window);
    (new QVBoxLayout(&window))->addWidget(memo);
    window.resize(1000, 700);
    window.show();
    PtyPair cable;
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(cable.SlavePath()));
    obj.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfAscii, memo, false, false, true, false, true);
    obj.Open();
    TCvConsoleOptions o;
    o.Shown = true;
    obj.SetConsoleOptions(o);
    TCvPortConsoles consoles;
    consoles.Apply(&obj);
    TCvConsole* console = consoles.ConsoleOf(&obj);
    if (!console) std::abort();
    QApplication::processEvents();
    ShellPty shell;
    if (!StartShell(shell, dir, console->Rows(), console->Columns())) std::abort();
    // The cable thread reads the shell's side from here on.
    shell.SetReading(false);
    {
        TCable wire(cable.MasterFd(), shell.MasterFd());
        if (!WaitFor([&] { return AtPrompt(console); }, 20000)) {
            obj.WriteAsync("\r", {});
            if (!WaitFor([&] { return AtPrompt(console); }, 20000)) {
                std::printf("bench_console: the shell did not answer through the port\n");
                std::exit(1);
            }
        }
        TGuiLateness lateness;
        QElapsedTimer t;
        t.start();
        obj.WriteAsync("cat big.txt\r", {});
        const bool done = WaitFor(
            [&] {
                const int row = console->CursorPos().y();
                return AtPrompt(console) && row > 0 &&
                       console->RowText(row - 1) == QStringLiteral("END-OF-FILE-MARK");
            },
            600000);
        const double secs = t.nsecsElapsed() / 1e9;
        lateness.Stop();
        obj.FlushUiQueue();
        std::printf("through a port (log and console), cat of %.1f MB %s text: %.1f MB/s, GUI lateness p50 "
                    "%.1f ms, p99 %.1f ms, max %.1f ms%s (%lld log lines, held %lld times)\n",
                    double(size) / 1e6, coloured ? "coloured" : "plain", double(size) / 1e6 / secs,
                    lateness.Percentile(0.5), lateness.Percentile(0.99), lateness.Percentile(1.0),
                    done ? "" : " [did not finish]", memo->Model().LineCount(), obj.HoldCount());
    }
    shell.Stop();
    obj.Close();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double mb = argc > 1 ? std::atof(argv[1]) : 10.0;
    const auto size = qint64(mb * 1e6);
    Run(size, false);
    Run(size, true);
    RunThroughPort(size, false);
    RunThroughPort(size, true);
    return 0;
}
