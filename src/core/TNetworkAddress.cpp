#include "TNetworkAddress.h"

#include <algorithm>
#include <arpa/inet.h>

namespace {

struct TScheme {
    TNetworkKind Kind;
    const char* Prefix;
};
constexpr TScheme kSchemes[] = {
    {TNetworkKind::TcpClient, "tcp://"},
    {TNetworkKind::TcpServer, "tcp-server://"},
    {TNetworkKind::Rfc2217, "rfc2217://"},
};

} // namespace

bool TNetworkAddress::IsValidHost(const QString& host)
{
    if (host.isEmpty() || host.size() > 253) return false;
    if (host.contains(u':')) {
        // Only an IPv6 address has colons.
        in6_addr a{};
        return inet_pton(AF_INET6, host.toLatin1().constData(), &a) == 1;
    }
    return std::all_of(host.cbegin(), host.cend(),
                       [](QChar c) { return c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u'_'; });
}

bool TNetworkAddress::IsValid() const
{
    return Kind != TNetworkKind::None && Port != 0 && IsValidHost(Host);
}

QString TNetworkAddress::HostPort() const
{
    const QString host = Host.contains(u':') ? u'[' + Host + u']' : Host;
    return host + u':' + QString::number(Port);
}

QString TNetworkAddress::PortName() const
{
    for (const TScheme& s : kSchemes)
        if (s.Kind == Kind) return QString::fromLatin1(s.Prefix) + HostPort();
    return QString();
}

QString TNetworkAddress::FullName() const
{
    switch (Kind) {
    case TNetworkKind::TcpClient: return QStringLiteral("TCP (%1)").arg(HostPort());
    case TNetworkKind::TcpServer:
        if (Host == LoopbackHost()) return QStringLiteral("TCP server (:%1)").arg(Port);
        return QStringLiteral("TCP server (%1)").arg(HostPort());
    case TNetworkKind::Rfc2217: return QStringLiteral("RFC 2217 (%1)").arg(HostPort());
    case TNetworkKind::None: break;
    }
    return QString();
}

TNetworkAddress TNetworkAddress::Parse(const QString& portName)
{
    TNetworkAddress a;
    for (const TScheme& s : kSchemes) {
        const QString prefix = QString::fromLatin1(s.Prefix);
        if (!portName.startsWith(prefix, Qt::CaseInsensitive)) continue;
        const QString rest = portName.mid(prefix.size());
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon <= 0) return {};
        QString host = rest.left(colon);
        if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
        else if (host.contains(u':')) return {};
        bool ok = false;
        const uint port = rest.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535) return {};
        a.Kind = s.Kind;
        a.Host = host;
        a.Port = static_cast<quint16>(port);
        if (!a.IsValid()) return {};
        return a;
    }
    return {};
}
