#include "PtyRelay.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

PtyRelay::PtyRelay()
{
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
        FRelayFd = pair[0];
        FPeerFd = pair[1];
        ::fcntl(FRelayFd, F_SETFL, ::fcntl(FRelayFd, F_GETFL) | O_NONBLOCK);
    }
    if (IsValid()) FThread = std::thread([this] { Run(); });
}

PtyRelay::~PtyRelay()
{
    FStop = true;
    if (FThread.joinable()) FThread.join();
    if (FRelayFd >= 0) ::close(FRelayFd);
    if (FPeerFd >= 0) ::close(FPeerFd);
}

void PtyRelay::SetFault(TWay way, TFault fault, int nth)
{
    std::lock_guard lk(FMutex);
    FFaultWay = way;
    FFault = fault;
    FNth = nth;
    FFaultDone = false;
}

bool PtyRelay::WriteAll(int fd, const QByteArray& bytes, const std::atomic<bool>& stop)
{
    qsizetype done = 0;
    while (done < bytes.size() && !stop) {
        ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 5);
    }
    return done == bytes.size();
}

QByteArray PtyRelay::Filter(TWay way, const QByteArray& in)
{
    std::lock_guard lk(FMutex);
    if (FFault == TFault::None || FFaultDone) return in;
    TParser& p = FParse[int(way)];
    const bool armed = way == FFaultWay;
    QByteArray out;
    out.reserve(in.size() + 1);
    for (const char c : in) {
        if (FFault == TFault::DoubleAck) {
            out.append(c);
            if (c == 0x06 && armed && ++p.Acks == FNth && !FFaultDone) {
                out.append(c);
                FFaultDone = true;
            }
            continue;
        }
        if (p.Left == 0) {
            // At a block boundary: SOH and STX open a block, anything else is one byte.
            p.Offset = 0;
            p.Dropping = false;
            if (c == 0x01 || c == 0x02) {
                p.Left = 3 + (c == 0x02 ? 1024 : 128) + 2;
                ++p.Blocks;
                if (armed && !FFaultDone && p.Blocks == FNth && FFault == TFault::Drop) {
                    p.Dropping = true;
                    FFaultDone = true;
                }
            }
        }
        char o = c;
        bool keep = true;
        if (p.Left > 0) {
            if (armed && !FFaultDone && p.Blocks == FNth && FFault == TFault::Corrupt && p.Offset == 40) {
                o = char(c ^ 0x5A);
                FFaultDone = true;
            }
            keep = !p.Dropping;
            ++p.Offset;
            --p.Left;
        }
        if (keep) out.append(o);
    }
    return out;
}

void PtyRelay::Run()
{
    const int a = FA.MasterFd();
    const int b = FRelayFd;
    char buf[65536];
    while (!FStop) {
        pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (::poll(p, 2, 20) <= 0) continue;
        bool idle = true;
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & POLLIN)) continue;
            const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
            if (n <= 0) continue;
            idle = false;
            const TWay way = i == 0 ? TWay::ToPeer : TWay::ToProgram;
            const QByteArray out = Filter(way, QByteArray(buf, n));
            WriteAll(i == 0 ? b : a, out, FStop);
            (way == TWay::ToPeer ? FToPeer : FToProgram) += out.size();
        }
        // The pty without its program (the port is closed) reports hang-up at once.
        if (idle) ::usleep(2000);
    }
}
