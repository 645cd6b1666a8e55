#pragma once

// A port object on one end of a relayed pty pair, an engine joined to it through the
// port's receive diversion, and lrzsz as the peer on the other end: the way the window
// runs a transfer, without the window.

#include "CvTransfer.h"
#include "LrzszPeer.h"
#include "PtyRelay.h"
#include "TCvComPortObj.h"
#include "TCvPortTransferLink.h"

#include <QTest>

#include <memory>
#include <optional>

struct TransferRig {
    PtyRelay relay;
    std::unique_ptr<TCvComPortObj> port;
    std::unique_ptr<TCvPortTransferLink> link;
    std::unique_ptr<TCvTransfer> engine;
    std::optional<TCvTransferResult> result;
    QStringList messages;

    TransferRig()
    {
        port = std::make_unique<TCvComPortObj>(
            nullptr, QStringLiteral("Virtual Port (%1)").arg(relay.A().SlavePath()));
        port->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone,
                                sfAscii, rfAscii, nullptr, false, false, false, false, true);
        port->Open();
        link = std::make_unique<TCvPortTransferLink>(port.get());
    }
    ~TransferRig()
    {
        engine.reset();
        link.reset();
        port.reset();
    }
    int PeerLine() const { return relay.PeerFd(); }

    template <class E> E* Start(std::unique_ptr<E> e)
    {
        E* raw = e.get();
        QObject::connect(raw, &TCvTransfer::Finished, raw,
                         [this](const TCvTransferResult& r) { result = r; });
        QObject::connect(raw, &TCvTransfer::Message, raw, [this](const QString& m) { messages << m; });
        link->Attach(raw);
        engine = std::move(e);
        raw->Start();
        return raw;
    }
    bool Ended(int ms)
    {
        return RunUntil([this] { return result.has_value(); }, ms);
    }
};
