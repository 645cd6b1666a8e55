#include "TNetworkLink.h"

#include "CvMessages.h"
#include "TCustomComPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <utility>

namespace {

qint64 Steady()
{
    return QDeadlineTimer::current().deadline();
}

} // namespace

// ---- the interface's defaults and the factory ----

int TPortLink::ApplyLine(const TLineSettings&)
{
    return 0;
}
int TPortLink::SetModemLine(int, bool)
{
    return ENOTTY;
}
int TPortLink::ModemStatus(int*)
{
    return ENOTTY;
}
int TPortLink::SetBreak(bool)
{
    return ENOTTY;
}

void TPortLink::Dispose()
{
    FDisposed = true;
    Stop();
    // Whoever owned it is gone; at the end of the program it goes with the application.
    if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() == thread())
        setParent(app);
    if (!Closing()) deleteLater();
}

void TPortLink::ClosingEnded()
{
    if (FDisposed && !Closing()) deleteLater();
}

bool IsNetworkPortName(const QString& port)
{
    return TNetworkAddress::Parse(port).Kind != TNetworkKind::None;
}

std::unique_ptr<TPortLink> CreatePortLink(const QString& port)
{
    const TNetworkAddress a = TNetworkAddress::Parse(port);
    switch (a.Kind) {
    case TNetworkKind::TcpClient: return std::make_unique<TTcpClientLink>(a);
    case TNetworkKind::TcpServer: return std::make_unique<TTcpServerLink>(a);
    case TNetworkKind::Rfc2217: return std::make_unique<TRfc2217Link>(a);
    case TNetworkKind::None: break;
    }
    return nullptr;
}

// ---- one connection ----

TSocketLink::TSocketLink(const TNetworkAddress& address) : FAddress(address) {}

TSocketLink::~TSocketLink()
{
    if (FSocket) FSocket->disconnect(this);
    for (const TClosing& c : std::as_const(FClosing)) c.Socket->disconnect(this);
}

bool TSocketLink::LinkUp() const
{
    return FSocket && FSocket->state() == QAbstractSocket::ConnectedState;
}

int TSocketLink::ErrnoOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
    case QAbstractSocket::RemoteHostClosedError: return ECONNRESET;
    case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
    case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
    case QAbstractSocket::NetworkError: return ENETUNREACH;
    case QAbstractSocket::SocketAccessError: return EACCES;
    case QAbstractSocket::AddressInUseError: return EADDRINUSE;
    case QAbstractSocket::SocketAddressNotAvailableError: return EADDRNOTAVAIL;
    default: return EIO;
    }
}

QString TSocketLink::ReasonOf(const QTcpSocket* socket, QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return Msg(QStringLiteral("the connection was refused"));
    case QAbstractSocket::RemoteHostClosedError: return Msg(QStringLiteral("the peer closed the connection"));
    case QAbstractSocket::HostNotFoundError:
        return Msg(QStringLiteral("the host name could not be resolved"));
    case QAbstractSocket::SocketTimeoutError:
        return Msg(QStringLiteral("no answer within %1 s")).arg(TTcpClientLink::kConnectTimeoutMs / 1000);
    case QAbstractSocket::NetworkError:
        return Msg(QStringLiteral("the network or the host is unreachable")) + QStringLiteral(" (") +
               (socket ? socket->errorString() : QString()) + u')';
    default: return socket ? socket->errorString() : QString();
    }
}

void TSocketLink::Attach(QTcpSocket* socket)
{
    FSocket = socket;
    FOwn.clear();
    // Beyond this Qt stops reading, and TCP holds back the peer.
    socket->setReadBufferSize(256 * 1024);
    connect(socket, &QIODevice::readyRead, this, [this, socket] {
        if (socket == FSocket) Pull();
    });
}

void TSocketLink::DropWriteNotifier()
{
    if (!FWriteNotifier) return;
    FWriteNotifier->setEnabled(false);
    // It may be the sender of the activation being handled.
    FWriteNotifier->deleteLater();
    FWriteNotifier = nullptr;
}

void TSocketLink::Detach(bool graceful)
{
    // Counted even with nothing to let go: a caller up the stack learns the link stopped.
    const quint64 epoch = ++FEpoch;
    QTcpSocket* s = FSocket;
    if (!s) return;
    FSocket = nullptr;
    DropWriteNotifier();
    s->disconnect(this);
    if (graceful && s->state() == QAbstractSocket::ConnectedState) {
        // What the peer sends from now on is not wanted; what we sent still goes out.
        FClosing.append({s, std::exchange(FOwn, {}), new QTimer(this), Steady(), false});
        FClosing.last().Timer->setInterval(20);
        connect(FClosing.last().Timer, &QTimer::timeout, this, [this, s] { CloseStep(s); });
        CloseStep(s);
        return;
    }
    FOwn.clear();
    // What arrived before stays for the port.
    while (epoch == FEpoch && s->bytesAvailable() > 0) {
        const QByteArray chunk = s->read(s->bytesAvailable());
        Take(chunk.constData(), chunk.size());
    }
    s->abort();
    s->deleteLater();
    if (epoch == FEpoch && !FIn.isEmpty()) emit Readable();
}

void TSocketLink::CloseStep(QTcpSocket* s)
{
    const auto it =
        std::find_if(FClosing.begin(), FClosing.end(), [s](const TClosing& c) { return c.Socket == s; });
    if (it == FClosing.end()) return;
    TClosing& c = *it;
    // Read and dropped: unread bytes would make the system reset the connection, and what
    // it still holds for the peer would be lost.
    if (s->bytesAvailable() > 0) s->readAll();
    const qintptr fd = s->socketDescriptor();
    bool done = fd < 0 || s->state() != QAbstractSocket::ConnectedState;
    qint64 unsent = c.Own.size();
    if (!done) {
        while (!c.Own.isEmpty()) {
            const ssize_t n =
                ::send(int(fd), c.Own.constData(), size_t(c.Own.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                c.Own.remove(0, n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) done = true;
            break;
        }
        unsent = c.Own.size();
        if (!done && c.Own.isEmpty() && !c.Shut) {
            // Our end is finished: the peer gets the end of the stream after the last byte.
            ::shutdown(int(fd), SHUT_WR);
            c.Shut = true;
        }
        int queued = 0;
        // Bytes the peer has not acknowledged yet (the end of the stream counts one).
        if (!done && ::ioctl(int(fd), SIOCOUTQ, &queued) == 0) {
            if (c.Shut && queued == 0) done = true;
            else unsent += std::max(queued - (c.Shut ? 1 : 0), 0);
        }
    }
    if (!done && Steady() - c.StartedMs < kCloseGraceMs) {
        if (!c.Timer->isActive()) c.Timer->start();
        return;
    }
    if (unsent > 0) {
        emit Message(
            Msg(QStringLiteral("%1 bytes were not sent to %2: it did not take them within %3 s of the "
                               "close."))
                .arg(unsent)
                .arg(Name())
                .arg(kCloseGraceMs / 1000));
        // Cut at once, so that what was just said holds.
        const linger cut{1, 0};
        if (fd >= 0) ::setsockopt(int(fd), SOL_SOCKET, SO_LINGER, &cut, sizeof cut);
    }
    c.Timer->deleteLater();
    FClosing.erase(it);
    s->disconnect(this);
    s->abort();
    s->deleteLater();
    ClosingEnded();
}

void TSocketLink::Pull()
{
    QTcpSocket* s = FSocket;
    if (!s) return;
    const quint64 epoch = FEpoch;
    const qint64 before = FIn.size();
    while (FIn.size() < kInCap) {
        const qint64 n = std::min(s->bytesAvailable(), kInCap - FIn.size());
        if (n <= 0) break;
        const QByteArray chunk = s->read(n);
        if (chunk.isEmpty()) break;
        Take(chunk.constData(), chunk.size());
        // A handler of a signal raised in there may have stopped the link.
        if (epoch != FEpoch) return;
    }
    if (FIn.size() > before) emit Readable();
}

void TSocketLink::Take(const char* data, qint64 count)
{
    FIn.append(data, count);
}

QByteArray TSocketLink::Encode(const char* data, qint64 count)
{
    return QByteArray(data, count);
}

qint64 TSocketLink::Available() const
{
    return FIn.size();
}

qint64 TSocketLink::Read(char* data, qint64 count)
{
    const qint64 n = std::min<qint64>(count, FIn.size());
    if (n <= 0) return 0;
    std::memcpy(data, FIn.constData(), static_cast<size_t>(n));
    FIn.remove(0, n);
    // Room again: what the socket holds back comes in.
    Pull();
    return n;
}

qint64 TSocketLink::SendNow(const char* data, qint64 count)
{
    const qintptr fd = FSocket ? FSocket->socketDescriptor() : -1;
    if (fd < 0) return -ENOTCONN;
    for (;;) {
        const ssize_t n = ::send(int(fd), data, size_t(count), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -errno;
    }
}

int TSocketLink::SendOwn()
{
    while (!FOwn.isEmpty()) {
        const qint64 n = SendNow(FOwn.constData(), FOwn.size());
        if (n < 0) return int(-n);
        if (n == 0) break;
        FOwn.remove(0, n);
    }
    return 0;
}

void TSocketLink::WaitForRoom()
{
    if (!FSocket) return;
    if (!FWriteNotifier) {
        FWriteNotifier = new QSocketNotifier(FSocket->socketDescriptor(), QSocketNotifier::Write, this);
        connect(FWriteNotifier, &QSocketNotifier::activated, this, &TSocketLink::RoomAgain);
    }
    FWriteNotifier->setEnabled(true);
}

void TSocketLink::RoomAgain()
{
    if (FWriteNotifier) FWriteNotifier->setEnabled(false);
    if (!LinkUp()) return;
    // A failed send shows as a lost connection through the socket.
    if (SendOwn() != 0) return;
    if (!FOwn.isEmpty()) {
        WaitForRoom();
        return;
    }
    if (!FSuspended) emit Writable();
}

qint64 TSocketLink::Write(const char* data, qint64 count)
{
    if (!LinkUp() || FSuspended || count <= 0) return 0;
    // Our own bytes go first, in the order they were made.
    if (const int error = SendOwn()) return -error;
    if (!FOwn.isEmpty()) {
        WaitForRoom();
        return 0;
    }
    const qint64 take = std::min(count, kOutCap);
    const QByteArray raw = Encode(data, take);
    const qint64 sent = SendNow(raw.constData(), raw.size());
    if (sent < 0) return sent;
    if (sent < raw.size()) WaitForRoom();
    if (raw.size() == take || sent == raw.size()) return sent == raw.size() ? take : sent;
    // Doubled bytes: the data bytes whose encoding went out; one cut in half is finished
    // from our own bytes, which go before anything else.
    qint64 done = 0;
    qint64 rawDone = 0;
    while (done < take && rawDone < sent) {
        const bool doubled = quint8(data[done]) == 0xFF;
        rawDone += doubled ? 2 : 1;
        ++done;
        if (rawDone > sent) FOwn.append(char(0xFF));
    }
    return done;
}

void TSocketLink::SendRaw(const QByteArray& bytes)
{
    if (!LinkUp()) return;
    FOwn.append(bytes);
    if (SendOwn() != 0) return;
    if (FOwn.isEmpty()) return;
    if (FOwn.size() > kOwnCap) {
        Overrun(Msg(QStringLiteral("it does not read what is sent to it (%1 bytes wait)")).arg(FOwn.size()));
        return;
    }
    WaitForRoom();
}

void TSocketLink::Overrun(const QString& reason)
{
    emit Message(Msg(QStringLiteral("Connection to %1 lost: %2")).arg(Name(), reason));
    Detach();
}

// ---- TCP client ----

TTcpClientLink::TTcpClientLink(const TNetworkAddress& address) : TSocketLink(address)
{
    FConnectTimer.setSingleShot(true);
    FRedialTimer.setSingleShot(true);
    connect(&FConnectTimer, &QTimer::timeout, this, [this] {
        if (FSocket) Fail(FSocket, QAbstractSocket::SocketTimeoutError);
    });
    connect(&FRedialTimer, &QTimer::timeout, this, [this] {
        if (!FStopped) Dial();
    });
}

int TTcpClientLink::Start()
{
    FStopped = false;
    FRedialMs = kFirstRedialMs;
    Dial();
    return 0;
}

void TTcpClientLink::Stop()
{
    FStopped = true;
    FConnectTimer.stop();
    FRedialTimer.stop();
    Detach(true);
    FIn.clear();
}

void TTcpClientLink::Dial()
{
    auto* s = new QTcpSocket(this);
    Attach(s);
    connect(s, &QAbstractSocket::connected, this, [this, s] {
        if (s != FSocket) return;
        FConnectTimer.stop();
        FRedialMs = kFirstRedialMs;
        FEverUp = true;
        FSuspended = false;
        // Each handler may stop the link.
        emit Message(Msg(QStringLiteral("Connected to %1.")).arg(Name()));
        if (s != FSocket) return;
        OnConnected();
        if (s != FSocket) return;
        emit Writable();
    });
    connect(s, &QAbstractSocket::errorOccurred, this,
            [this, s](QAbstractSocket::SocketError e) { Fail(s, e); });
    connect(s, &QAbstractSocket::disconnected, this,
            [this, s] { Fail(s, QAbstractSocket::RemoteHostClosedError); });
    emit Message(Msg(QStringLiteral("Connecting to %1 ...")).arg(Name()));
    if (s != FSocket) return;
    FConnectTimer.start(kConnectTimeoutMs);
    s->connectToHost(FAddress.Host, FAddress.Port);
}

void TTcpClientLink::Fail(QTcpSocket* socket, QAbstractSocket::SocketError error, const QString& why)
{
    if (socket != FSocket || FStopped) return;
    const bool wasUp = socket->state() == QAbstractSocket::ConnectedState || FEverUp;
    const QString reason = why.isEmpty() ? ReasonOf(socket, error) : why;
    FConnectTimer.stop();
    FEverUp = false;
    Detach();
    if (FStopped) return;
    emit Message((wasUp ? Msg(QStringLiteral("Connection to %1 lost: %2"))
                        : Msg(QStringLiteral("Can not connect to %1: %2")))
                     .arg(Name(), reason));
    if (FStopped) return;
    if (Redial()) {
        emit Message(Msg(QStringLiteral("Dialling %1 again in %2 s.")).arg(Name()).arg(FRedialMs / 1000.0));
        FRedialTimer.start(FRedialMs);
        FRedialMs = std::min(FRedialMs * 2, kMaxRedialMs);
        return;
    }
    emit Lost(ErrnoOf(error));
}

void TTcpClientLink::Overrun(const QString& reason)
{
    Fail(FSocket, QAbstractSocket::SocketResourceError, reason);
}

// ---- TCP server ----

TTcpServerLink::TTcpServerLink(const TNetworkAddress& address) : TSocketLink(address) {}

int TTcpServerLink::Start()
{
    QHostAddress bind;
    if (!bind.setAddress(FAddress.Host)) {
        emit Message(Msg(QStringLiteral("Can not listen on %1: %2"))
                         .arg(Name(), Msg(QStringLiteral("the address to listen on must be an IP address"))));
        return EADDRNOTAVAIL;
    }
    FServer = new QTcpServer(this);
    // One client at a time: any further one is told no at once, not left waiting.
    if (!FServer->listen(bind, FAddress.Port)) {
        const int error = ErrnoOf(FServer->serverError());
        emit Message(Msg(QStringLiteral("Can not listen on %1: %2")).arg(Name(), FServer->errorString()));
        delete FServer;
        FServer = nullptr;
        return error;
    }
    connect(FServer, &QTcpServer::newConnection, this, &TTcpServerLink::Accept);
    emit Message(Msg(QStringLiteral("Listening on %1; waiting for a client.")).arg(Name()));
    return 0;
}

void TTcpServerLink::Stop()
{
    Detach(true);
    FIn.clear();
    if (FServer) {
        FServer->close();
        FServer->deleteLater();
        FServer = nullptr;
    }
}

void TTcpServerLink::Accept()
{
    while (FServer && FServer->hasPendingConnections()) {
        QTcpSocket* s = FServer->nextPendingConnection();
        if (!s) break;
        const QString peer =
            TNetworkAddress{TNetworkKind::TcpClient, s->peerAddress().toString(), s->peerPort()}.HostPort();
        if (FSocket) {
            emit Message(Msg(QStringLiteral("Refused a connection from %1: client %2 is connected already."))
                             .arg(peer, FPeer));
            s->abort();
            s->deleteLater();
            continue;
        }
        Attach(s);
        FPeer = peer;
        connect(s, &QAbstractSocket::disconnected, this, [this, s] { ClientGone(s); });
        connect(s, &QAbstractSocket::errorOccurred, this, [this, s] { ClientGone(s); });
        // Each handler may stop the link.
        emit Message(Msg(QStringLiteral("Client %1 connected.")).arg(peer));
        if (s != FSocket) return;
        emit Writable();
        if (s != FSocket) return;
        Pull();
    }
}

void TTcpServerLink::ClientGone(QTcpSocket* socket)
{
    if (socket != FSocket) return;
    Detach();
    emit Message(Msg(QStringLiteral("Client %1 disconnected; waiting for the next one.")).arg(FPeer));
    FPeer.clear();
}

// ---- RFC 2217 ----

namespace {

enum : quint8 {
    SE = 240,
    SB = 250,
    WILL = 251,
    WONT = 252,
    DO = 253,
    DONT = 254,
    IAC = 255,
};

// COM-PORT-OPTION commands, client to server; the server answers with the code + 100.
enum : quint8 {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetModemStateMask = 11,
};

// SET-CONTROL values.
enum : quint8 {
    NoFlow = 1,
    XonXoffFlow = 2,
    HardwareFlow = 3,
    BreakOn = 5,
    BreakOff = 6,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
};

quint8 FlowValue(const TLineSettings& s)
{
    if (s.ctsFlow) return HardwareFlow;
    if (s.xonXoffOut || s.xonXoffIn) return XonXoffFlow;
    return NoFlow;
}

} // namespace

TRfc2217Link::TRfc2217Link(const TNetworkAddress& address) : TTcpClientLink(address) {}

void TRfc2217Link::OnConnected()
{
    // A new Telnet session: nothing of the last one holds.
    FParse = Data;
    FSub.clear();
    FSubBytes = 0;
    FUs = TSide();
    FHim = TSide();
    FToldNoComPort = FToldChatty = FToldLongSub = false;
    FToldBaud = 0;
    FSent.reset();
    FSentLines = -1;
    FSentKnown = 0;
    FModemState = 0;
    FAnswers = {};
    // 8-bit data both ways, no go-aheads, and COM port control.
    for (quint8 option : {kBinary, kSga, kComPort}) {
        FUs.State[option] = kWantYes;
        SendCommand(WILL, option);
    }
    for (quint8 option : {kBinary, kSga}) {
        FHim.State[option] = kWantYes;
        SendCommand(DO, option);
    }
}

void TRfc2217Link::SendCommand(quint8 verb, quint8 option)
{
    const char bytes[] = {char(IAC), char(verb), char(option)};
    SendRaw(QByteArray(bytes, 3));
}

void TRfc2217Link::SendComPort(quint8 command, const QByteArray& value)
{
    QByteArray b;
    b.append(char(IAC)).append(char(SB)).append(char(kComPort)).append(char(command));
    for (char c : value) {
        b.append(c);
        if (quint8(c) == IAC) b.append(c);
    }
    b.append(char(IAC)).append(char(SE));
    SendRaw(b);
}

void TRfc2217Link::SendSettings(bool all)
{
    if (FUs.State[kComPort] != kYes) return;
    if (FWant) {
        const TLineSettings& w = *FWant;
        const bool any = all || !FSent;
        if (any || FSent->baud != w.baud) {
            const quint32 b = static_cast<quint32>(w.baud);
            const char v[] = {char(b >> 24), char(b >> 16), char(b >> 8), char(b)};
            SendComPort(SetBaudRate, QByteArray(v, 4));
        }
        if (any || FSent->dataBits != w.dataBits) SendComPort(SetDataSize, QByteArray(1, char(w.dataBits)));
        // None, odd, even, mark, space are 1 to 5 on the wire.
        if (any || FSent->parity != w.parity) SendComPort(SetParity, QByteArray(1, char(w.parity + 1)));
        if (any || FSent->stopBits != w.stopBits)
            SendComPort(SetStopSize, QByteArray(1, char(w.stopBits >= 2 ? 2 : 1)));
        if (any || FlowValue(*FSent) != FlowValue(w))
            SendComPort(SetControl, QByteArray(1, char(FlowValue(w))));
        FSent = w;
    }
    for (int bit : {TIOCM_DTR, TIOCM_RTS}) {
        if (!(FKnownLines & bit)) continue;
        const bool on = (FWantLines & bit) != 0;
        if (!all && (FSentKnown & bit) && ((FSentLines & bit) != 0) == on) continue;
        const quint8 value = bit == TIOCM_DTR ? (on ? DtrOn : DtrOff) : (on ? RtsOn : RtsOff);
        SendComPort(SetControl, QByteArray(1, char(value)));
        FSentKnown |= bit;
        FSentLines = on ? (FSentLines | bit) : (FSentLines & ~bit);
    }
}

int TRfc2217Link::ApplyLine(const TLineSettings& settings)
{
    FWant = settings;
    SendSettings(false);
    return 0;
}

int TRfc2217Link::SetModemLine(int bit, bool on)
{
    if (bit != TIOCM_DTR && bit != TIOCM_RTS) return EINVAL;
    FKnownLines |= bit;
    FWantLines = on ? (FWantLines | bit) : (FWantLines & ~bit);
    // Kept until the server takes COM port control, then sent.
    SendSettings(false);
    return 0;
}

int TRfc2217Link::SetBreak(bool on)
{
    if (FUs.State[kComPort] == kNo) return ENOTTY;
    if (FUs.State[kComPort] != kYes) return ENOTCONN;
    SendComPort(SetControl, QByteArray(1, char(on ? BreakOn : BreakOff)));
    return 0;
}

int TRfc2217Link::ModemStatus(int* bits)
{
    int b = FWantLines & (TIOCM_DTR | TIOCM_RTS);
    if (FModemState & 0x10) b |= TIOCM_CTS;
    if (FModemState & 0x20) b |= TIOCM_DSR;
    if (FModemState & 0x40) b |= TIOCM_RNG;
    if (FModemState & 0x80) b |= TIOCM_CAR;
    *bits = b;
    return 0;
}

QByteArray TRfc2217Link::Encode(const char* data, qint64 count)
{
    QByteArray out;
    out.reserve(count + 16);
    const char* p = data;
    const char* end = data + count;
    while (p < end) {
        const auto* iac = static_cast<const char*>(std::memchr(p, IAC, static_cast<size_t>(end - p)));
        if (!iac) {
            out.append(p, end - p);
            break;
        }
        out.append(p, iac - p + 1).append(char(IAC));
        p = iac + 1;
    }
    return out;
}

void TRfc2217Link::Take(const char* data, qint64 count)
{
    const quint64 epoch = FEpoch;
    const char* p = data;
    const char* end = data + count;
    while (p < end) {
        // A handler of a signal raised below may have stopped the link: the rest is not ours.
        if (epoch != FEpoch) return;
        if (FParse == Data) {
            // Runs of plain data in one piece.
            const auto* iac = static_cast<const char*>(std::memchr(p, IAC, static_cast<size_t>(end - p)));
            const char* stop = iac ? iac : end;
            FIn.append(p, stop - p);
            p = stop;
            if (iac) {
                FParse = Iac;
                ++p;
            }
            continue;
        }
        if ((FParse == Sub || FParse == SubIac) && FSubBytes >= kMaxSubBytes) {
            // A subnegotiation that never ends would swallow everything after it: given up,
            // and this byte is read afresh as data.
            FParse = Data;
            FSub.clear();
            if (!FToldLongSub) {
                FToldLongSub = true;
                emit Message(
                    Msg(QStringLiteral("The server at %1 sent a subnegotiation of more than %2 bytes "
                                       "without its end; it was dropped and what follows is read as "
                                       "data."))
                        .arg(Name())
                        .arg(kMaxSubBytes));
            }
            continue;
        }
        const quint8 c = static_cast<quint8>(*p++);
        switch (FParse) {
        case Iac:
            if (c == IAC) {
                FIn.append(char(IAC));
                FParse = Data;
            } else {
                Command(c);
            }
            break;
        case Option:
            FParse = Data;
            Negotiate(FVerb, c);
            break;
        case Sub:
            ++FSubBytes;
            if (c == IAC) FParse = SubIac;
            // A sane subnegotiation is a few bytes; the rest of a long one is not kept.
            else if (FSub.size() < 64) FSub.append(char(c));
            break;
        case SubIac:
            ++FSubBytes;
            if (c == IAC) {
                if (FSub.size() < 64) FSub.append(char(IAC));
                FParse = Sub;
            } else if (c == SE) {
                FParse = Data;
                SubOption(std::exchange(FSub, {}));
            } else {
                // Another command cuts it short (RFC 854: commands are read anywhere): the
                // subnegotiation is dropped, the command taken.
                FSub.clear();
                Command(c);
            }
            break;
        case Data: break;
        }
    }
}

void TRfc2217Link::Command(quint8 c)
{
    if (c >= WILL && c <= DONT) {
        FVerb = c;
        FParse = Option;
    } else if (c == SB) {
        FSub.clear();
        FSubBytes = 0;
        FParse = Sub;
    } else {
        // NOP, GA, DM and the like carry nothing for us; IAC SE outside a subnegotiation neither.
        FParse = Data;
    }
}

void TRfc2217Link::Request(TSide& side, quint8 option, bool on, bool accept, quint8 agree, quint8 refuse)
{
    TOptState& state = side.State[option];
    if (!on) {
        // Off is always agreed to; answered only when it was on.
        if (state == kYes) SendCommand(refuse, option);
        state = kNo;
        return;
    }
    if (state == kYes) return;
    // A server that keeps switching it on and off is refused from some point on.
    if (accept && side.Enables[option] < kMaxEnables) {
        ++side.Enables[option];
        // Our own request answered: nothing more to say.
        if (state == kNo) SendCommand(agree, option);
        state = kYes;
        return;
    }
    if (state == kWantYes) {
        state = kNo;
        return;
    }
    if (side.Refusals[option] >= kMaxRefusals) {
        TooChatty();
        return;
    }
    ++side.Refusals[option];
    SendCommand(refuse, option);
}

void TRfc2217Link::TooChatty()
{
    if (FToldChatty) return;
    FToldChatty = true;
    emit Message(Msg(QStringLiteral("The server at %1 keeps asking for Telnet options that were refused, or "
                                    "switching them on and off; it is not answered any more."))
                     .arg(Name()));
}

void TRfc2217Link::Negotiate(quint8 verb, quint8 option)
{
    const bool mine = option == kBinary || option == kSga || option == kComPort;
    const bool his = option == kBinary || option == kSga;
    switch (verb) {
    case DO: {
        const bool was = FUs.State[kComPort] == kYes;
        Request(FUs, option, true, mine, WILL, WONT);
        if (option == kComPort && !was && FUs.State[kComPort] == kYes) SendSettings(true);
        break;
    }
    case DONT: {
        const bool was = FUs.State[option] != kNo;
        Request(FUs, option, false, mine, WILL, WONT);
        if (option == kComPort && was && !FToldNoComPort) {
            FToldNoComPort = true;
            emit Message(Msg(QStringLiteral("The server at %1 does not take COM port control; line settings "
                                            "and modem lines stay as the server has them."))
                             .arg(Name()));
        }
        break;
    }
    case WILL: Request(FHim, option, true, his, DO, DONT); break;
    case WONT: Request(FHim, option, false, his, DO, DONT); break;
    default: break;
    }
}

void TRfc2217Link::SubOption(const QByteArray& sb)
{
    if (sb.size() < 2 || quint8(sb[0]) != kComPort) return;
    const quint8 command = quint8(sb[1]);
    const QByteArray value = sb.mid(2);
    const auto byte = [&value] { return value.isEmpty() ? 0 : int(quint8(value[0])); };
    switch (command) {
    case SetBaudRate + 100:
        if (value.size() >= 4)
            FAnswers.Baud = (quint32(quint8(value[0])) << 24) | (quint32(quint8(value[1])) << 16) |
                            (quint32(quint8(value[2])) << 8) | quint32(quint8(value[3]));
        // Said once for each rate the server keeps instead.
        if (FSent && FAnswers.Baud != 0 && FAnswers.Baud != quint32(FSent->baud) &&
            FAnswers.Baud != FToldBaud) {
            FToldBaud = FAnswers.Baud;
            emit Message(Msg(QStringLiteral("The server at %1 runs at %2 baud instead of %3."))
                             .arg(Name())
                             .arg(FAnswers.Baud)
                             .arg(FSent->baud));
        }
        break;
    case SetDataSize + 100: FAnswers.DataSize = byte(); break;
    case SetParity + 100: FAnswers.Parity = byte(); break;
    case SetStopSize + 100: FAnswers.StopSize = byte(); break;
    case SetControl + 100: FAnswers.Control = byte(); break;
    case NotifyModemState + 100: FModemState = quint8(byte()); break;
    case FlowControlSuspend + 100: FSuspended = true; break;
    case FlowControlResume + 100:
        FSuspended = false;
        emit Writable();
        break;
    default: break;
    }
}
