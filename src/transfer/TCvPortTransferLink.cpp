#include "TCvPortTransferLink.h"

#include "TCvComPortObj.h"

TCvPortTransferLink::TCvPortTransferLink(TCvComPortObj* Port, QObject* Parent)
    : TCvReceiveDiversion(Parent), FPort(Port)
{}

TCvPortTransferLink::~TCvPortTransferLink()
{
    Detach();
}

void TCvPortTransferLink::Attach(TCvTransfer* Engine)
{
    FEngine = Engine;
    if (FPort) FPort->SetReceiveDiversion(this);
    connect(Engine, &TCvTransfer::Finished, this, [this] { Detach(); });
}

void TCvPortTransferLink::Detach()
{
    if (FPort && FPort->ReceiveDiversion() == this) FPort->SetReceiveDiversion(nullptr);
}

void TCvPortTransferLink::Write(const QByteArray& Bytes, std::function<void(bool ok)> Done)
{
    if (!FPort || !FPort->Connected()) {
        if (Done) Done(false);
        return;
    }
    FPort->WriteAsync(Bytes, [Done](qint64, int error) {
        if (Done) Done(error == 0);
    });
}

qint64 TCvPortTransferLink::PendingBytes() const
{
    return FPort ? FPort->PendingWriteBytes() : 0;
}

void TCvPortTransferLink::BytesReceived(const QByteArray& Bytes)
{
    if (FEngine && !FEngine->IsFinished()) FEngine->Feed(Bytes);
}

int TCvPortTransferLink::ReceiveLimit() const
{
    return FEngine && !FEngine->IsFinished() ? FEngine->ReceiveLimit() : TCvReceiveDiversion::ReceiveLimit();
}

void TCvPortTransferLink::PortClosed()
{
    if (FEngine && !FEngine->IsFinished()) FEngine->LinkClosed();
}

TCvComPortObj* TCvPortTransferLink::Port() const
{
    return FPort.data();
}
