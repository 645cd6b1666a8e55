#include "CvTransfer.h"

#include "CvMessages.h"

#include <QLocale>

using namespace Qt::Literals::StringLiterals;

QString TransferProtocolName(TCvTransferProtocol Protocol)
{
    switch (Protocol) {
    case TCvTransferProtocol::Raw: return u"Raw"_s;
    case TCvTransferProtocol::Xmodem: return u"XMODEM"_s;
    case TCvTransferProtocol::Xmodem1K: return u"XMODEM-1K"_s;
    case TCvTransferProtocol::Ymodem: return u"YMODEM"_s;
    case TCvTransferProtocol::Zmodem: return u"ZMODEM"_s;
    }
    return {};
}

bool TransferProtocolReceives(TCvTransferProtocol Protocol)
{
    return Protocol != TCvTransferProtocol::Raw;
}

QString GroupedNumber(qint64 Value)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(Value);
}

namespace {

QString Seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

QString Counted(const QString& one, const QString& many, qint64 n)
{
    return Msg(n == 1 ? one : many).arg(GroupedNumber(n));
}

QString Rate(const TCvTransferProgress& p)
{
    if (p.ElapsedMs <= 0) return {};
    const double perSecond = double(p.Bytes) * 1000.0 / double(p.ElapsedMs);
    if (perSecond >= 1024.0 * 1024.0)
        return QString::number(perSecond / (1024.0 * 1024.0), 'f', 2) + u" MiB/s"_s;
    return QString::number(perSecond / 1024.0, 'f', 1) + u" KiB/s"_s;
}

} // namespace

QString TransferSummary(TCvTransferProtocol Protocol, bool Sending, const TCvTransferResult& r)
{
    const TCvTransferProgress& p = r.Progress;
    const QString name = TransferProtocolName(Protocol);
    const QString bytes = GroupedNumber(p.Bytes);
    if (r.End == TCvTransferEnd::Done) {
        QString counts;
        if (p.Blocks >= 0)
            counts = Msg(u" in %1, %2"_s)
                         .arg(Counted(u"%1 block"_s, u"%1 blocks"_s, p.Blocks),
                              Counted(u"%1 retry"_s, u"%1 retries"_s, p.Retries));
        if (Sending)
            return Msg(u"%1: sent %2 bytes%3 (%4 s)"_s).arg(name, bytes, counts, Seconds(p.ElapsedMs));
        return Msg(u"%1: received %2, %3 bytes%4 (%5 s)"_s)
            .arg(name, Counted(u"%1 file"_s, u"%1 files"_s, r.Files.size()), bytes, counts,
                 Seconds(p.ElapsedMs));
    }
    return Msg(Sending ? u"%1: sending stopped after %2 bytes: %3"_s
                       : u"%1: receiving stopped after %2 bytes: %3"_s)
        .arg(name, bytes, r.Reason);
}

QString TransferProgressText(TCvTransferProtocol Protocol, const TCvTransferProgress& p)
{
    QString text = TransferProtocolName(Protocol) + u": "_s;
    if (!p.FileName.isEmpty()) text += p.FileName + u", "_s;
    text += p.Total >= 0 ? Msg(u"%1 / %2 bytes"_s).arg(GroupedNumber(p.Bytes), GroupedNumber(p.Total))
                         : Msg(u"%1 bytes"_s).arg(GroupedNumber(p.Bytes));
    if (p.Blocks >= 0) text += u", "_s + Counted(u"%1 block"_s, u"%1 blocks"_s, p.Blocks);
    text += u", "_s + Counted(u"%1 retry"_s, u"%1 retries"_s, p.Retries);
    const QString rate = Rate(p);
    if (!rate.isEmpty()) text += u", "_s + rate;
    return text;
}

TCvTransfer::TCvTransfer(TCvTransferLink* Link, QObject* Parent) : QObject(Parent), FLink(Link) {}

TCvTransfer::~TCvTransfer() = default;

void TCvTransfer::MarkStarted()
{
    FStarted = true;
    FClock.start();
}

void TCvTransfer::EmitProgress()
{
    if (FClock.isValid()) FProgress.ElapsedMs = FClock.elapsed();
    emit ProgressChanged(FProgress);
}

void TCvTransfer::Abort()
{
    Cancel();
    Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
}

void TCvTransfer::LinkClosed()
{
    if (FCancelling) Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
    else Finish(TCvTransferEnd::PortClosed, Msg(u"the device was closed"_s));
}

void TCvTransfer::Finish(TCvTransferEnd End, const QString& Reason)
{
    if (FFinished) return;
    FFinished = true;
    if (FClock.isValid()) FProgress.ElapsedMs = FClock.elapsed();
    Stopped(End);
    TCvTransferResult r;
    r.End = End;
    r.Reason = Reason;
    r.Progress = FProgress;
    r.Files = FFiles;
    emit Finished(r);
}
