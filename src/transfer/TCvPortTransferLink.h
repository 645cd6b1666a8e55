#pragma once

// Joins a transfer engine to an open port object: while attached, every byte the port
// receives goes to the engine (not to the log view, a capture or the plot), and what the
// engine writes goes through the port's write queue. Detached when the engine finishes
// well; after a transfer that stopped, the peer may still send the rest of a block or its
// own CANs, and those are dropped until the line has been quiet a moment (Drained tells
// how many).

#include "CvTransfer.h"
#include "TCvReceiveDiversion.h"

#include <QPointer>

class QTimer;

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
    bool Draining() const { return FDraining; }
    TCvComPortObj* Port() const;

    void Write(const QByteArray& Bytes, std::function<void(bool ok)> Done) override;
    qint64 PendingBytes() const override;

    void BytesReceived(const QByteArray& Bytes) override;
    int ReceiveLimit() const override;
    void PortClosed() override;

    // The quiet that ends the draining, and the longest it lasts.
    static constexpr int DrainQuietMs = 300;
    static constexpr int DrainMaxMs = 3000;

signals:
    // The port's bytes are its own again; Dropped came after the transfer had stopped.
    void Drained(qint64 Dropped);

private:
    void Drain();
    void EndDrain();

    QPointer<TCvComPortObj> FPort;
    QPointer<TCvTransfer> FEngine;
    bool FDraining = false;
    qint64 FDropped = 0;
    QTimer* FQuiet = nullptr;
    QTimer* FLimit = nullptr;
};
