#include "ShellPty.h"

#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

ShellPty::ShellPty() = default;

ShellPty::~ShellPty()
{
    Stop();
}

bool ShellPty::Start(const QStringList& argv, const QString& dir, const QStringList& env, int rows, int cols)
{
    const QString program = QStandardPaths::findExecutable(argv.value(0));
    if (program.isEmpty()) return false;
    // Everything the child needs is made before fork: after it only async-signal-safe calls.
    std::vector<QByteArray> args, vars;
    for (const QString& a : argv) args.push_back(a.toLocal8Bit());
    QStringList names;
    for (const QString& e : env) names << e.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
    for (char** e = environ; *e; ++e) {
        const QString var = QString::fromLocal8Bit(*e);
        if (!std::any_of(names.begin(), names.end(), [&](const QString& n) { return var.startsWith(n); }))
            vars.push_back(QByteArray(*e));
    }
    for (const QString& e : env) vars.push_back(e.toLocal8Bit());
    std::vector<char*> argp, envp;
    for (QByteArray& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (QByteArray& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    const QByteArray path = program.toLocal8Bit();
    const QByteArray cwd = QDir(dir).absolutePath().toLocal8Bit();

    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, &ws) != 0) return false;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(master);
        ::close(slave);
        return false;
    }
    if (pid == 0) {
        ::setsid();
        ::ioctl(slave, TIOCSCTTY, 0);
        ::dup2(slave, 0);
        ::dup2(slave, 1);
        ::dup2(slave, 2);
        if (slave > 2) ::close(slave);
        ::close(master);
        if (::chdir(cwd.constData()) != 0) ::_exit(126);
        ::execve(path.constData(), argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    FMaster = master;
    FPid = pid;
    FNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &ShellPty::ReadSome);
    return true;
}

void ShellPty::ReadSome()
{
    char buf[65536];
    const ssize_t n = ::read(FMaster, buf, sizeof buf);
    if (n > 0) {
        emit Received(QByteArray(buf, n));
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // EIO: the program and everything on its terminal are gone.
    FNotifier->setEnabled(false);
    emit Finished();
}

bool ShellPty::Write(const QByteArray& bytes)
{
    qsizetype done = 0;
    for (int waits = 0; done < bytes.size() && FMaster >= 0 && waits < 500;) {
        const ssize_t n = ::write(FMaster, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{FMaster, POLLOUT, 0};
        ::poll(&p, 1, 10);
        ++waits;
    }
    return done == bytes.size();
}

void ShellPty::SetSize(int rows, int cols)
{
    if (FMaster < 0) return;
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ::ioctl(FMaster, TIOCSWINSZ, &ws);
}

void ShellPty::SetReading(bool on)
{
    if (FNotifier) FNotifier->setEnabled(on);
}

void ShellPty::Stop()
{
    FNotifier.reset();
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
    if (FPid <= 0) return;
    // The hang-up reaches the shell and its jobs; what is left is killed.
    ::kill(-FPid, SIGHUP);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(FPid, nullptr, WNOHANG) == FPid) {
            FPid = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(-FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
}
