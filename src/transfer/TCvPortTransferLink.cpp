#include "TCvPortTransferLink.h"

#include "TCvComPortObj.h"

#include <QTimer>

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
    connect(Engine, &TCvTransfer::Finished, this, [this](const TCvTransferResult& r) {
        if (r.End == TCvTransferEnd::Done || r.End == TCvTransferEnd::PortClosed) Detach();
        else Drain();
    });
}

void TCvPortTransferLink::Detach()
{
    if (FPort && FPort->ReceiveDiversion() == this) FPort->SetReceiveDiversion(nullptr);
}

void TCvPortTransferLink::Drain()
{
    FDraining = true;
    FDropped = 0;
    FQuiet = new QTimer(this);
    FQuiet->setSingleShot(true);
    connect(FQuiet, &QTimer::timeout, this, &TCvPortTransferLink::EndDrain);
    FLimit = new QTimer(this);
    FLimit->setSingleShot(true);
    connect(FLimit, &QTimer::timeout, this, &TCvPortTransferLink::EndDrain);
    FQuiet->start(DrainQuietMs);
    FLimit->start(DrainMaxMs);
}

void TCvPortTransferLink::EndDrain()
{
    if (!FDraining) return;
    FDraining = false;
    FQuiet->stop();
    FLimit->stop();
    Detach();
    emit Drained(FDropped);
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
    if (FDraining) {
        FDropped += Bytes.size();
        FQuiet->start(DrainQuietMs);
        return;
    }
    if (FEngine && !FEngine->IsFinished()) FEngine->Feed(Bytes);
}

int TCvPortTransferLink::ReceiveLimit() const
{
    return FEngine && !FEngine->IsFinished() ? FEngine->ReceiveLimit() : TCvReceiveDiversion::ReceiveLimit();
}

void TCvPortTransferLink::PortClosed()
{
    if (FDraining) EndDrain();
    else if (FEngine && !FEngine->IsFinished()) FEngine->LinkClosed();
}

TCvComPortObj* TCvPortTransferLink::Port() const
{
    return FPort.data();
}
