// The framed protocol over a port object: sending packets and logging sent and received ones.
#include "TCvComPortObj.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvProtocol.h"
#include "TCvReceiveDiversion.h"

#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {

const QString kProtocolClosed = QStringLiteral("Device was closed,please open a device.");

QString Word(quint16 v, const char* tail = " ")
{
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper() + QLatin1String(tail);
}

void AppendByte(QString& s, quint8 b)
{
    AppendHexText(s, &b, 1);
}

QString HeaderText(const TCvComPack& p)
{
    return Word(p.Head) + Word(p.TypeID) + Word(p.Index) + Word(p.Total) + Word(p.Length, ", ");
}

} // namespace

void TCvComPortObj::RequestProtocolConnection()
{
    SendProtocolData(nullptr, 0, 0, CvTypeConnect, false);
}

void TCvComPortObj::SendProtocolACK()
{
    SendProtocolData(nullptr, 0, 0, CvTypeAck, false);
}

bool TCvComPortObj::SendProtocolData(const quint8* Buffer, int BufferSize, int Count, quint16 TypeID,
                                     bool NeedACK, TProtocolDone done)
{
    TCvComPack p = TCvComProtocal::CreatePack(static_cast<std::uint8_t>(TypeID & 0xFF));
    const int t = TypeID & 0xFF;
    std::uint8_t wire[CvPackSize];
    if (t == CvTypeConnect || t == CvTypeAck || t == CvTypeEnd) {
        p.Length = CvHeaderSize;
        p.Index = 0;
        p.Total = 1;
        p.ToBytes(wire);
        QStringList echo;
        if (FShowSendedLog) echo << BuffText(QStringLiteral("> "), wire, CvHeaderSize);
        const QByteArray bytes(reinterpret_cast<const char*>(wire), CvHeaderSize);
        if (!Connected()) {
            Log(Msg(kProtocolClosed));
            if (done) done(false);
            return true;
        }
        SendBytes(bytes, echo, [done](qint64, int error) {
            if (done) done(error == 0);
        });
        return true;
    }
    if (t != 50 && t != 51 && t != 52 && t != 53 && t != CvTypeGeneric) {
        if (done) done(true);
        return true;
    }
    // The count comes with its buffer: more than the buffer holds is never copied.
    if (Count > BufferSize || (Count > 0 && !Buffer)) return false;
    if (Count <= 0) {
        if (done) done(true);
        return true;
    }
    if (NeedACK && FAckTransfer) {
        Log(Msg(QStringLiteral("A transfer is waiting for its acknowledgement: this one was not sent.")));
        return false;
    }
    const int fragments = (Count + CvMaxPayload - 1) / CvMaxPayload;
    auto transfer = std::make_unique<TAckTransfer>();
    for (int i = 0; i < fragments; ++i) {
        const int offset = CvMaxPayload * i;
        if (offset >= Count) break;
        p.Head = CvPackHead;
        p.TypeID = NeedACK ? static_cast<quint16>(CvAskAckMarker + TypeID) : TypeID;
        p.Index = static_cast<quint16>(i);
        p.Total = static_cast<quint16>(fragments);
        const int n = i == fragments - 1 ? Count - offset : CvMaxPayload;
        p.Length = static_cast<quint16>(n + 12);
        std::memcpy(p.data.data(), Buffer + offset, static_cast<std::size_t>(n));
        p.SetChecksum(FNeedCRC16 ? TCvComProtocal::CalCRC16(p.data.data(), n) : CvNoChecksum);
        p.ToBytes(wire);
        transfer->Packets.push_back(QByteArray(reinterpret_cast<const char*>(wire), p.Length));
        transfer->Headers.push_back(p.Header());
        transfer->Echo.push_back(FShowSendedLog ? SendProtocolPackText(p) : QString());
    }
    transfer->Done = std::move(done);
    if (!Connected()) {
        // Each packet reports the closed port, as a write of it would.
        for (std::size_t i = 0; i < transfer->Packets.size(); ++i) Log(Msg(kProtocolClosed));
        if (transfer->Done) transfer->Done(false);
        return true;
    }
    if (NeedACK) {
        FAckTransfer = std::move(transfer);
        SendAckFragment();
        return true;
    }
    // Without acknowledgements every packet is queued at once; done follows the last.
    struct TState {
        std::size_t Left;
        bool Ok = true;
        TProtocolDone Done;
    };
    auto state = std::make_shared<TState>(TState{transfer->Packets.size(), true, std::move(transfer->Done)});
    for (std::size_t i = 0; i < transfer->Packets.size(); ++i) {
        QStringList echo;
        if (FShowSendedLog) echo << transfer->Echo[i];
        SendBytes(transfer->Packets[i], echo, [state](qint64, int error) {
            if (error != 0) state->Ok = false;
            if (--state->Left == 0 && state->Done) state->Done(state->Ok);
        });
    }
    return true;
}

void TCvComPortObj::SendAckFragment()
{
    TAckTransfer& t = *FAckTransfer;
    // Taken before the packet goes out: a quick answer, even one followed at once by
    // further packets, is found.
    t.Since = FCvComProtocal->Mark();
    t.Waiting = false;
    QStringList echo;
    if (FShowSendedLog) echo << t.Echo[t.Next];
    SendBytes(t.Packets[t.Next], echo, [this](qint64, int error) {
        if (!FAckTransfer) return;
        if (error != 0) {
            EndAckTransfer(false);
            return;
        }
        FAckTransfer->Waiting = true;
        if (!FAckTimer) {
            FAckTimer = new QTimer(this);
            FAckTimer->setSingleShot(true);
            connect(FAckTimer, &QTimer::timeout, this, [this] {
                if (!FAckTransfer) return;
                Log(Msg(QStringLiteral(
                            "No acknowledgement of packet %1 of %2 within %3 ms: the transfer stopped."))
                        .arg(FAckTransfer->Next + 1)
                        .arg(FAckTransfer->Packets.size())
                        .arg(FProtocolAckTimeoutMs));
                EndAckTransfer(false);
            });
        }
        FAckTimer->start(FProtocolAckTimeoutMs);
        CheckAck();
    });
}

void TCvComPortObj::CheckAck()
{
    if (!FAckTransfer || !FAckTransfer->Waiting) return;
    TAckTransfer& t = *FAckTransfer;
    if (!FCvComProtocal->AckStoredSince(t.Headers[t.Next], t.Since)) return;
    if (FAckTimer) FAckTimer->stop();
    if (++t.Next >= t.Packets.size()) {
        EndAckTransfer(true);
        return;
    }
    SendAckFragment();
}

void TCvComPortObj::DoClosed()
{
    if (FReceiveDiversion) FReceiveDiversion->PortClosed();
    // The stream ended: half a sequence it held is shown, and the next open starts afresh.
    FlushEscapes();
    // No acknowledgement can come any more: the transfer ends now, not at its time-out.
    if (!FAckTransfer) return;
    Log(Msg(QStringLiteral("The device was closed: the transfer stopped.")));
    EndAckTransfer(false);
}

void TCvComPortObj::EndAckTransfer(bool ok)
{
    if (FAckTimer) FAckTimer->stop();
    const std::unique_ptr<TAckTransfer> t = std::move(FAckTransfer);
    if (t && t->Done) t->Done(ok);
}

QString TCvComPortObj::SendProtocolPackText(const TCvComPack& CvComPack)
{
    QString s = QStringLiteral("> ") + HeaderText(CvComPack);
    const int len = qBound(0, static_cast<int>(CvComPack.Length), CvPackSize);
    for (int i = 10; i < len - 2; ++i) AppendByte(s, CvComPack.WireByte(i));
    s += Word(CvComPack.Checksum());
    s += QStringLiteral("\r\n");
    return s;
}

void TCvComPortObj::PrintSendProtocolPack(const TCvComPack& CvComPack)
{
    Log(SendProtocolPackText(CvComPack));
}

void TCvComPortObj::PrintReceivedProtocolData(int Index)
{
    if (Index == -1) Index = FCvComProtocal->PackListTop();
    const TCvComPack p = FCvComProtocal->GetPackByIndex(Index);
    QString s = HeaderText(p);
    const int len = qBound(0, static_cast<int>(p.Length), CvPackSize);
    for (int i = 10; i < len; ++i) AppendByte(s, p.WireByte(i));
    Log(s);
}

int TCvComPortObj::GetPacks() const
{
    return FCvComProtocal->PackListCount();
}

void TCvComPortObj::ProtocolPackReceived(const TCvComPack2&)
{
    // Runs on the parser worker: the callback and the log line travel to the GUI thread in
    // order; the callback there also looks for an awaited acknowledgement.
    Enqueue({TUiOp::Callback, 0, QString()});
    PrintReceivedProtocolData(-1);
}
