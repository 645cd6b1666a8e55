#pragma once

// The network links of ports: a TCP client, a TCP server that serves one client at a time,
// and an RFC 2217 client (Telnet with COM port control).

#include "SerialLine.h"
#include "TNetworkAddress.h"
#include "TPortLink.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QTimer>

#include <optional>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// A link over one TCP connection at a time: received bytes wait here for the port. Data
// goes straight to the system's socket, so what the port counts as written has left the
// program, and a peer that stops reading fills the port's write queue (with its time-out)
// rather than memory. Only the link's own bytes (Telnet answers) may wait here, bounded.
class TSocketLink : public TPortLink {
    Q_OBJECT
public:
    // Received bytes held for the port; beyond that TCP holds back the peer.
    static constexpr qint64 kInCap = 1 << 20;
    // Data handed to the system in one go.
    static constexpr qint64 kOutCap = 64 * 1024;
    // The link's own bytes that may wait for a peer that does not read; beyond that the
    // connection is dropped with a line in the log.
    static constexpr qint64 kOwnCap = 64 * 1024;
    // After Stop, what waits (ours, and what the system holds for the peer) has this long
    // to reach the peer; then the connection is cut and the log says how much did not.
    static constexpr int kCloseGraceMs = 2000;

    explicit TSocketLink(const TNetworkAddress& address);
    ~TSocketLink() override;

    qint64 Available() const override;
    qint64 Read(char* data, qint64 count) override;
    qint64 Write(const char* data, qint64 count) override;

    bool LinkUp() const;
    QString Name() const { return FAddress.HostPort(); }
    // The link's own bytes waiting to be sent (for tests).
    qint64 OwnWaiting() const { return FOwn.size(); }

protected:
    // Bytes from the socket; the plain kinds keep them all as data.
    virtual void Take(const char* data, qint64 count);
    // The bytes that carry data for the peer. An encoding may only double bytes (0xFF).
    virtual QByteArray Encode(const char* data, qint64 count);
    // Bytes of the link's own (commands) go out before data written later.
    virtual void SendRaw(const QByteArray& bytes);
    // The peer let more than kOwnCap of our own bytes pile up: the connection is dropped.
    virtual void Overrun(const QString& reason);
    void Attach(QTcpSocket* socket);
    // Lets go of the connection; what arrived before stays for the port. Gracefully (the
    // user closed), what waits still goes out for kCloseGraceMs.
    void Detach(bool graceful = false);
    void Pull();
    bool Closing() const override { return !FClosing.isEmpty(); }
    static int ErrnoOf(QAbstractSocket::SocketError error);
    static QString ReasonOf(const QTcpSocket* socket, QAbstractSocket::SocketError error);

    TNetworkAddress FAddress;
    QTcpSocket* FSocket = nullptr;
    QByteArray FIn;
    // Received data held back by the peer's flow control request (RFC 2217).
    bool FSuspended = false;
    // Counts the connections let go: a call that raised a signal sees by it whether a
    // handler stopped the link meanwhile.
    quint64 FEpoch = 0;

private:
    // Sends what waits of our own; 0, or the errno of a connection that failed.
    int SendOwn();
    // The system's send: bytes taken, 0 when it takes nothing now, or -errno.
    qint64 SendNow(const char* data, qint64 count);
    // Writable follows when the system takes bytes again.
    void WaitForRoom();
    void RoomAgain();
    void DropWriteNotifier();
    void CloseStep(QTcpSocket* socket);

    QByteArray FOwn;
    QSocketNotifier* FWriteNotifier = nullptr;
    // Connections being closed gracefully, with what of ours still waits for each.
    struct TClosing {
        QTcpSocket* Socket;
        QByteArray Own;
        QTimer* Timer;
        qint64 StartedMs;
        bool Shut = false;
    };
    QList<TClosing> FClosing;
};

class TTcpClientLink : public TSocketLink {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kFirstRedialMs = 1000;
    static constexpr int kMaxRedialMs = 30000;

    explicit TTcpClientLink(const TNetworkAddress& address);
    int Start() override;
    void Stop() override;
    // The pause before the next dial (grows after each failure, for tests).
    int RedialDelayMs() const { return FRedialMs; }

protected:
    // The connection is up.
    virtual void OnConnected() {}

    void Overrun(const QString& reason) override;

private:
    void Dial();
    // reason: what the log says instead of the socket's words.
    void Fail(QTcpSocket* socket, QAbstractSocket::SocketError error, const QString& reason = {});

    QTimer FConnectTimer;
    QTimer FRedialTimer;
    int FRedialMs = kFirstRedialMs;
    bool FEverUp = false;
    bool FStopped = true;
};

class TTcpServerLink : public TSocketLink {
    Q_OBJECT
public:
    explicit TTcpServerLink(const TNetworkAddress& address);
    int Start() override;
    void Stop() override;

private:
    void Accept();
    void ClientGone(QTcpSocket* socket);

    QTcpServer* FServer = nullptr;
    QString FPeer;
};

// Telnet (RFC 854) with the COM-PORT-OPTION (RFC 2217): the line settings and DTR/RTS go to
// the server's serial port, its modem lines come back, 0xFF is doubled both ways and
// Telnet commands never reach the data. Options follow RFC 1143: a request is answered only
// when it would change the option's state, and a server that keeps asking for what it was
// refused, or keeps switching an option on and off, is answered a few times per connection,
// then no more; so what we send back is bounded whatever the server sends.
class TRfc2217Link : public TTcpClientLink {
    Q_OBJECT
public:
    // Answers per option and side that refuse a request, and times an option is switched on,
    // in one connection.
    static constexpr int kMaxRefusals = 8;
    static constexpr int kMaxEnables = 8;
    // A subnegotiation body longer than this is given up: what follows is data again.
    static constexpr int kMaxSubBytes = 1024;

    explicit TRfc2217Link(const TNetworkAddress& address);

    int ApplyLine(const TLineSettings& settings) override;
    int SetModemLine(int bit, bool on) override;
    int ModemStatus(int* bits) override;
    // SET-CONTROL break on and off; ENOTCONN before the server took COM port control,
    // ENOTTY when it refused it.
    int SetBreak(bool on) override;

    // The server accepted COM port control (for tests).
    bool ComPortControl() const { return FUs.State[kComPort] == kYes; }
    // What the server answered last to each setting (0: nothing yet).
    struct TAnswers {
        quint32 Baud = 0;
        int DataSize = 0, Parity = 0, StopSize = 0;
        int Control = 0;
    };
    TAnswers Answers() const { return FAnswers; }

protected:
    void OnConnected() override;
    void Take(const char* data, qint64 count) override;
    QByteArray Encode(const char* data, qint64 count) override;

private:
    enum : quint8 { kBinary = 0, kEcho = 1, kSga = 3, kComPort = 44 };
    enum TOptState : quint8 { kNo, kYes, kWantYes };
    // What follows IAC (outside a subnegotiation, or one that it cuts short).
    void Command(quint8 c);
    void Negotiate(quint8 verb, quint8 option);
    // One side of an option (ours for DO/DONT, the server's for WILL/WONT).
    struct TSide {
        TOptState State[256] = {};
        quint8 Refusals[256] = {};
        quint8 Enables[256] = {};
    };
    // A request to switch the option on (accept: whether we would) or off; answer: the verb
    // that agrees, refuse: the one that declines.
    void Request(TSide& side, quint8 option, bool on, bool accept, quint8 agree, quint8 refuse);
    void TooChatty();
    void SubOption(const QByteArray& sb);
    void SendCommand(quint8 verb, quint8 option);
    void SendComPort(quint8 command, const QByteArray& value);
    void SendSettings(bool all);

    enum TParse : quint8 { Data, Iac, Option, Sub, SubIac };
    TParse FParse = Data;
    quint8 FVerb = 0;
    QByteArray FSub;
    int FSubBytes = 0;
    // Option states, ours (WILL) and the server's (DO), per option code.
    TSide FUs;
    TSide FHim;
    // Said once per connection.
    bool FToldNoComPort = false;
    bool FToldChatty = false;
    bool FToldLongSub = false;
    quint32 FToldBaud = 0;
    std::optional<TLineSettings> FWant;
    std::optional<TLineSettings> FSent;
    int FWantLines = 0, FKnownLines = 0; // TIOCM_DTR/TIOCM_RTS asked for, and which of them
    int FSentLines = -1, FSentKnown = 0;
    quint8 FModemState = 0;
    TAnswers FAnswers;
};
