// The framed protocol over a port object: sending packets and logging sent and received ones.
#include "TCvComPortObj.h"

#include "CvProtocol.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

namespace {

QString Word(quint16 v, const char* tail = " ")
{
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper() + QLatin1String(tail);
}

void AppendByte(QString& s, quint8 b)
{
    static const char digits[] = "0123456789ABCDEF";
    s += QLatin1Char(digits[b >> 4]);
    s += QLatin1Char(digits[b & 15]);
    s += QLatin1Char(' ');
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

bool TCvComPortObj::SendProtocolData(const quint8* Buffer, int BufferSize, int Count, quint16 TypeID, bool NeedACK)
{
    TCvComPack p = TCvComProtocal::CreatePack(static_cast<std::uint8_t>(TypeID & 0xFF));
    const int t = TypeID & 0xFF;
    std::uint8_t wire[CvPackSize];
    if (t == CvTypeConnect || t == CvTypeAck || t == CvTypeEnd) {
        p.Length = CvHeaderSize;
        p.Index = 0;
        p.Total = 1;
        p.ToBytes(wire);
        TorvinComSendBuffer(wire, CvHeaderSize);
        if (FShowSendedLog) LogBuff(QStringLiteral("> "), wire, CvHeaderSize);
        return true;
    }
    if (t != 50 && t != 51 && t != 52 && t != 53 && t != CvTypeGeneric) return true;
    // The count comes with its buffer: more than the buffer holds is never copied.
    if (Count > BufferSize || (Count > 0 && !Buffer)) return false;
    if (Count <= 0) return true;
    const int fragments = (Count + CvMaxPayload - 1) / CvMaxPayload;
    bool result = true;
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
        TorvinComSendBuffer(wire, p.Length);
        if (FShowSendedLog) PrintSendProtocolPack(p);
        if (NeedACK && !WaitForAck(p.Header())) {
            result = false;
            break;
        }
    }
    return result;
}

bool TCvComPortObj::WaitForAck(const TCvComPack2& sent)
{
    // The acknowledgement arrives through this port's receive handler, which runs on the
    // thread we are blocking: keep feeding it while we wait, or no reply could ever count.
    QElapsedTimer t;
    t.start();
    for (;;) {
        const qint64 left = FProtocolAckTimeoutMs - t.elapsed();
        if (FCvComProtocal->WaitingForACK(sent, static_cast<int>(std::clamp<qint64>(left, 0, 10)))) return true;
        if (t.elapsed() > FProtocolAckTimeoutMs) return false;
        PumpReceive();
    }
}

void TCvComPortObj::PrintSendProtocolPack(const TCvComPack& CvComPack)
{
    QString s = QStringLiteral("> ") + HeaderText(CvComPack);
    const int len = qBound(0, static_cast<int>(CvComPack.Length), CvPackSize);
    for (int i = 10; i < len - 2; ++i) AppendByte(s, CvComPack.WireByte(i));
    s += Word(CvComPack.Checksum());
    s += QStringLiteral("\r\n");
    Log(s);
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
    // Runs on the parser worker: the callback and the log line travel to the GUI thread in order.
    Enqueue({TUiOp::Callback, 0, 0, QString()});
    PrintReceivedProtocolData(-1);
}
