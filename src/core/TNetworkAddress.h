#pragma once

// The port names of network ports and the names the device list shows for them:
//   tcp://host:port          "TCP (host:port)"
//   tcp-server://addr:port   "TCP server (:port)" on loopback, else "TCP server (addr:port)"
//   rfc2217://host:port      "RFC 2217 (host:port)"
// IPv6 addresses are written in brackets ("tcp://[::1]:5000").

#include <QString>
#include <QtGlobal>

enum class TNetworkKind { None, TcpClient, TcpServer, Rfc2217 };

struct TNetworkAddress {
    TNetworkKind Kind = TNetworkKind::None;
    // The host to dial, or the address a server listens on.
    QString Host;
    quint16 Port = 0;

    // The address a server listens on unless told otherwise.
    static QString LoopbackHost() { return QStringLiteral("127.0.0.1"); }

    bool IsValid() const;
    // "host:port", with brackets around an IPv6 address.
    QString HostPort() const;
    QString PortName() const;
    QString FullName() const;
    // Kind None when the text is no well-formed network port name.
    static TNetworkAddress Parse(const QString& portName);
    // A host name or address as typed: no blanks, control characters, slashes or brackets
    // beyond those of an IPv6 address.
    static bool IsValidHost(const QString& host);

    bool operator==(const TNetworkAddress&) const = default;
};
