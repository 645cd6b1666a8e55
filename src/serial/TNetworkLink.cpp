#include "TNetworkLink.h"

#include "CvMessages.h"
#include "TCustomComPort.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

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
    // Beyond this Qt stops reading, and TCP holds back the peer.
    socket->setReadBufferSize(256 * 1024);
    connect(socket, &QIODevice::readyRead, this, [this, socket] {
        if (socket == FSocket) Pull();
    });
    connect(socket, &QIODevice::bytesWritten, this, [this, socket] {
        if (socket == FSocket && !FSuspended) emit Writable();
    });
}

void TSocketLink::Detach()
{
    if (!FSocket) return;
    QTcpSocket* s = FSocket;
    FSocket = nullptr;
    while (s->bytesAvailable() > 0) {
        const QByteArray chunk = s->read(s->bytesAvailable());
        Take(chunk.constData(), chunk.size());
    }
    s->disconnect(this);
    s->abort();
    s->deleteLater();
    if (!FIn.isEmpty()) emit Readable();
}

void TSocketLink::Pull()
{
    if (!FSocket) return;
    const qint64 before = FIn.size();
    while (FIn.size() < kInCap) {
        const qint64 n = std::min(FSocket->bytesAvailable(), kInCap - FIn.size());
        if (n <= 0) break;
        const QByteArray chunk = FSocket->read(n);
        if (chunk.isEmpty()) break;
        Take(chunk.constData(), chunk.size());
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

qint64 TSocketLink::Write(const char* data, qint64 count)
{
    if (!LinkUp() || FSuspended || count <= 0) return 0;
    const qint64 queued = FSocket->bytesToWrite();
    if (queued >= kOutCap) return 0;
    const qint64 take = std::min(count, kOutCap - queued);
    const QByteArray bytes = Encode(data, take);
    if (FSocket->write(bytes) != bytes.size()) return -EIO;
    return take;
}

void TSocketLink::SendRaw(const QByteArray& bytes)
{
    if (LinkUp()) FSocket->write(bytes);
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
    Detach();
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
        emit Message(Msg(QStringLiteral("Connected to %1.")).arg(Name()));
        OnConnected();
        emit Writable();
    });
    connect(s, &QAbstractSocket::errorOccurred, this,
            [this, s](QAbstractSocket::SocketError e) { Fail(s, e); });
    connect(s, &QAbstractSocket::disconnected, this,
            [this, s] { Fail(s, QAbstractSocket::RemoteHostClosedError); });
    emit Message(Msg(QStringLiteral("Connecting to %1 ...")).arg(Name()));
    FConnectTimer.start(kConnectTimeoutMs);
    s->connectToHost(FAddress.Host, FAddress.Port);
}

void TTcpClientLink::Fail(QTcpSocket* socket, QAbstractSocket::SocketError error)
{
    if (socket != FSocket || FStopped) return;
    const bool wasUp = socket->state() == QAbstractSocket::ConnectedState || FEverUp;
    const QString reason = ReasonOf(socket, error);
    FConnectTimer.stop();
    FEverUp = false;
    Detach();
    emit Message((wasUp ? Msg(QStringLiteral("Connection to %1 lost: %2"))
                        : Msg(QStringLiteral("Can not connect to %1: %2")))
                     .arg(Name(), reason));
    if (Redial()) {
        emit Message(Msg(QStringLiteral("Dialling %1 again in %2 s.")).arg(Name()).arg(FRedialMs / 1000.0));
        FRedialTimer.start(FRedialMs);
        FRedialMs = std::min(FRedialMs * 2, kMaxRedialMs);
        return;
    }
    emit Lost(ErrnoOf(error));
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
    Detach();
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
        emit Message(Msg(QStringLiteral("Client %1 connected.")).arg(peer));
        emit Writable();
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
    std::fill(std::begin(FUs), std::end(FUs), kNo);
    std::fill(std::begin(FHim), std::end(FHim), kNo);
    FSent.reset();
    FSentLines = -1;
    FSentKnown = 0;
    FModemState = 0;
    FAnswers = {};
    // 8-bit data both ways, no go-aheads, and COM port control.
    for (quint8 option : {kBinary, kSga, kComPort}) {
        FUs[option] = kWantYes;
        SendCommand(WILL, option);
    }
    for (quint8 option : {kBinary, kSga}) {
        FHim[option] = kWantYes;
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
    if (FUs[kComPort] != kYes) return;
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
    if (FUs[kComPort] == kNo) return ENOTTY;
    if (FUs[kComPort] != kYes) return ENOTCONN;
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
    const char* p = data;
    const char* end = data + count;
    while (p < end) {
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
        const quint8 c = static_cast<quint8>(*p++);
        switch (FParse) {
        case Iac:
            if (c == IAC) {
                FIn.append(char(IAC));
                FParse = Data;
            } else if (c >= WILL && c <= DONT) {
                FVerb = c;
                FParse = Option;
            } else if (c == SB) {
                FSub.clear();
                FParse = Sub;
            } else {
                // NOP, GA, DM and the like carry nothing for us.
                FParse = Data;
            }
            break;
        case Option:
            Negotiate(FVerb, c);
            FParse = Data;
            break;
        case Sub:
            if (c == IAC) FParse = SubIac;
            // A sane subnegotiation is a few bytes; a runaway one is cut, not hoarded.
            else if (FSub.size() < 64) FSub.append(char(c));
            break;
        case SubIac:
            if (c == IAC) {
                if (FSub.size() < 64) FSub.append(char(IAC));
                FParse = Sub;
            } else {
                // IAC SE ends it; anything else after IAC ends it too, broken as it is.
                SubOption(FSub);
                FParse = Data;
            }
            break;
        case Data: break;
        }
    }
}

void TRfc2217Link::Negotiate(quint8 verb, quint8 option)
{
    const bool mine = option == kBinary || option == kSga || option == kComPort;
    const bool his = option == kBinary || option == kSga;
    switch (verb) {
    case DO:
        if (!mine) {
            SendCommand(WONT, option);
        } else if (FUs[option] != kYes) {
            if (FUs[option] == kNo) SendCommand(WILL, option);
            FUs[option] = kYes;
            if (option == kComPort) SendSettings(true);
        }
        break;
    case DONT:
        if (FUs[option] != kNo) {
            if (FUs[option] == kYes) SendCommand(WONT, option);
            FUs[option] = kNo;
            if (option == kComPort)
                emit Message(
                    Msg(QStringLiteral("The server at %1 does not take COM port control; line settings "
                                       "and modem lines stay as the server has them."))
                        .arg(Name()));
        }
        break;
    case WILL:
        if (!his) {
            SendCommand(DONT, option);
        } else if (FHim[option] != kYes) {
            if (FHim[option] == kNo) SendCommand(DO, option);
            FHim[option] = kYes;
        }
        break;
    case WONT:
        if (FHim[option] != kNo) {
            if (FHim[option] == kYes) SendCommand(DONT, option);
            FHim[option] = kNo;
        }
        break;
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
        if (FSent && FAnswers.Baud != 0 && FAnswers.Baud != quint32(FSent->baud))
            emit Message(Msg(QStringLiteral("The server at %1 runs at %2 baud instead of %3."))
                             .arg(Name())
                             .arg(FAnswers.Baud)
                             .arg(FSent->baud));
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
