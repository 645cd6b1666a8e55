#pragma once

// Joins a transfer engine to an open port object: while attached, every byte the port
// receives goes to the engine (not to the log view, a capture or the plot), and what the
// engine writes goes through the port's write queue. Detached when the engine finishes.

#include "CvTransfer.h"
#include "TCvReceiveDiversion.h"

#include <QPointer>

class TCvComPortObj;

class TCvPortTransferLink : public TCvReceiveDiversion, public TCvTransferLink {
    Q_OBJECT
public:
    explicit TCvPortTransferLink(TCvComPortObj* Port, QObject* Parent = nullptr);
    // The port's bytes go back to it.
    ~TCvPortTransferLink() override;

    // The engine takes the port's bytes from now on, until it finishes.
    void Attach(TCvTransfer* Engine);
    void Detach();
    TCvComPortObj* Port() const;

    void Write(const QByteArray& Bytes, std::function<void(bool ok)> Done) override;
    qint64 PendingBytes() const override;

    void BytesReceived(const QByteArray& Bytes) override;
    int ReceiveLimit() const override;
    void PortClosed() override;

private:
    QPointer<TCvComPortObj> FPort;
    QPointer<TCvTransfer> FEngine;
};
