#include "TCustomComPort.h"

#include "TPortLink.h"

#include <cerrno>
#include <unistd.h>
#include <utility>

// Network ports: the port's link instead of its descriptor. The queue, the time-outs and
// the receive events stay the port's own.

bool TCustomComPort::IsNetwork() const
{
    return IsNetworkPortName(FPort);
}

void TCustomComPort::SetReconnect(bool on)
{
    FReconnect = on;
    if (FLink) FLink->SetRedial(on);
}

void TCustomComPort::OpenLink()
{
    std::unique_ptr<TPortLink> link = CreatePortLink(FPort);
    if (!link) throw EComPort(1, EINVAL);
    FLink = std::move(link);
    FLink->SetRedial(FReconnect);
    BeginSession();
    const quint64 session = FSession;
    TPortLink* l = FLink.get();
    connect(l, &TPortLink::Message, this, [this](const QString& text) {
        // What the link says of its connection comes after the bytes that came before it.
        if (FLink && FOnRxChar && FLink->Available() > 0) {
            FLinkMessages << text;
            return;
        }
        DoLinkMessage(text);
    });
    connect(l, &TPortLink::Readable, this, [this] { OnLinkReadable(); });
    connect(l, &TPortLink::Writable, this, [this] {
        if (!FWriteQueue.empty()) FlushWrites();
    });
    // Handled later, not from inside the link's own signal; only for this open session.
    connect(
        l, &TPortLink::Lost, this,
        [this, session](int error) {
            if (session != FSession) return;
            // What the peer sent before it went is read first: a receiver that holds the
            // port back may not have taken it yet.
            if (FLink && FOnRxChar && FLink->Available() > 0) {
                FLinkLostError = error ? error : EIO;
                return;
            }
            HandleDeviceLost(error);
        },
        Qt::QueuedConnection);
    const int error = FLink->Start();
    if (error != 0) {
        CloseHandle();
        FConnected = false;
        ++FSession;
        throw EComPort(1, error);
    }
    ApplySettings();
}

void TCustomComPort::OnLinkReadable()
{
    FLinkReadPosted = false;
    if (!FConnected || !FLink || FInHandler || !Watching()) return;
    const int count = InputCount();
    if (count <= 0) return;
    const qint64 readBefore = FLinkBytesRead;
    FInHandler = true;
    FOnRxChar(this, count);
    FInHandler = false;
    const int left = InputCount();
    if (left == 0) FlushLinkMessages();
    if (FConnected && FLink && FLinkLostError != 0 && left == 0) {
        // The link had gone; now all it brought has been read.
        const quint64 session = FSession;
        const int error = FLinkLostError;
        QMetaObject::invokeMethod(
            this,
            [this, session, error] {
                if (session == FSession) HandleDeviceLost(error);
            },
            Qt::QueuedConnection);
        return;
    }
    // What the handler left raises the next event, as a descriptor that stays readable would;
    // a handler that read nothing (the port is held) waits to be woken.
    if (FConnected && FLink && left > 0 && FLinkBytesRead != readBefore && !FLinkReadPosted) {
        FLinkReadPosted = true;
        QMetaObject::invokeMethod(
            this, [this] { OnLinkReadable(); }, Qt::QueuedConnection);
    }
}

void TCustomComPort::DoLinkMessage(const QString&) {}

void TCustomComPort::FlushLinkMessages()
{
    const QStringList messages = std::exchange(FLinkMessages, {});
    for (const QString& text : messages) DoLinkMessage(text);
}

qint64 TCustomComPort::WriteSome(const char* data, qint64 count)
{
    if (!FLink) return ::write(FHandle, data, static_cast<size_t>(count));
    const qint64 n = FLink->Write(data, count);
    if (n > 0) return n;
    errno = n == 0 ? EAGAIN : static_cast<int>(-n);
    return -1;
}

int TCustomComPort::WriteLinkNow(const void* buffer, int count)
{
    // The blocking form for a link takes what the link takes now and never waits: the event
    // loop, not this call, moves a link's bytes. What does not fit is a write that timed out.
    const auto* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count) {
        const qint64 n = FLink->Write(p + done, count - done);
        if (n < 0) throw EComPort(2, static_cast<int>(-n));
        if (n == 0) throw EComPort(2, ETIMEDOUT);
        done += static_cast<int>(n);
    }
    return done;
}
