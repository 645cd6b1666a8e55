#include "PtyPair.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    FMaster = master;
    // Closing the last slave descriptor would hang up the master; the program opens its own.
    ::close(slave);
    FSlavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    CloseMaster();
}

void PtyPair::CloseMaster()
{
    if (FMaster >= 0) ::close(FMaster);
    FMaster = -1;
}

bool PtyPair::Write(const QByteArray& bytes, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    qsizetype done = 0;
    while (done < bytes.size() && FMaster >= 0) {
        ssize_t n = ::write(FMaster, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{FMaster, POLLOUT, 0};
        ::poll(&p, 1, 5);
    }
    return done == bytes.size();
}

QByteArray PtyPair::Read(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer t;
    t.start();
    char buf[65536];
    while (out.size() < count && t.elapsed() < timeoutMs && FMaster >= 0) {
        ssize_t n = ::read(FMaster, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, n);
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, 5);
    }
    return out;
}

QByteArray PtyPair::ReadFor(int ms)
{
    return Read(1 << 30, ms);
}
