#pragma once

// The network links of ports: a TCP client, a TCP server that serves one client at a time,
// and an RFC 2217 client (Telnet with COM port control).

#include "SerialLine.h"
#include "TNetworkAddress.h"
#include "TPortLink.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QTimer>

#include <optional>

class QTcpServer;
class QTcpSocket;

// A link over one TCP connection at a time: received bytes wait here for the port, written
// ones go to the socket only while little is waiting there, so a peer that stops reading
// fills the port's write queue (with its time-out) rather than memory.
class TSocketLink : public TPortLink {
    Q_OBJECT
public:
    // Received bytes held for the port; beyond that TCP holds back the peer.
    static constexpr qint64 kInCap = 1 << 20;
    // Bytes handed to the socket and not yet sent.
    static constexpr qint64 kOutCap = 64 * 1024;

    explicit TSocketLink(const TNetworkAddress& address);
    ~TSocketLink() override;

    qint64 Available() const override;
    qint64 Read(char* data, qint64 count) override;
    qint64 Write(const char* data, qint64 count) override;

    bool LinkUp() const;
    QString Name() const { return FAddress.HostPort(); }

protected:
    // Bytes from the socket; the plain kinds keep them all as data.
    virtual void Take(const char* data, qint64 count);
    // The bytes that carry data for the peer.
    virtual QByteArray Encode(const char* data, qint64 count);
    // Bytes of the link's own (commands) go straight to the socket, before data written later.
    void SendRaw(const QByteArray& bytes);
    void Attach(QTcpSocket* socket);
    // Lets go of the connection; what arrived before stays for the port.
    void Detach();
    void Pull();
    static int ErrnoOf(QAbstractSocket::SocketError error);
    static QString ReasonOf(const QTcpSocket* socket, QAbstractSocket::SocketError error);

    TNetworkAddress FAddress;
    QTcpSocket* FSocket = nullptr;
    QByteArray FIn;
    // Received data held back by the peer's flow control request (RFC 2217).
    bool FSuspended = false;
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

private:
    void Dial();
    void Fail(QTcpSocket* socket, QAbstractSocket::SocketError error);

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
// Telnet commands never reach the data.
class TRfc2217Link : public TTcpClientLink {
    Q_OBJECT
public:
    explicit TRfc2217Link(const TNetworkAddress& address);

    int ApplyLine(const TLineSettings& settings) override;
    int SetModemLine(int bit, bool on) override;
    int ModemStatus(int* bits) override;
    // SET-CONTROL break on and off; ENOTCONN before the server took COM port control,
    // ENOTTY when it refused it.
    int SetBreak(bool on) override;

    // The server accepted COM port control (for tests).
    bool ComPortControl() const { return FUs[kComPort] == kYes; }
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
    void Negotiate(quint8 verb, quint8 option);
    void SubOption(const QByteArray& sb);
    void SendCommand(quint8 verb, quint8 option);
    void SendComPort(quint8 command, const QByteArray& value);
    void SendSettings(bool all);

    enum TParse : quint8 { Data, Iac, Option, Sub, SubIac };
    TParse FParse = Data;
    quint8 FVerb = 0;
    QByteArray FSub;
    // Option states, ours (WILL) and the server's (DO), per option code.
    TOptState FUs[256] = {};
    TOptState FHim[256] = {};
    std::optional<TLineSettings> FWant;
    std::optional<TLineSettings> FSent;
    int FWantLines = 0, FKnownLines = 0; // TIOCM_DTR/TIOCM_RTS asked for, and which of them
    int FSentLines = -1, FSentKnown = 0;
    quint8 FModemState = 0;
    TAnswers FAnswers;
};
