#include "TCvXmodem.h"

#include "Corvane_CRC.h"
#include "CvMessages.h"
#include "CvReceivedFile.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;
using namespace Xmodem;

QByteArray Xmodem::CancelSequence()
{
    return QByteArray(8, CAN);
}

namespace {

quint8 Sum(const QByteArray& data)
{
    quint8 s = 0;
    for (const char c : data) s = quint8(s + quint8(c));
    return s;
}

quint16 Crc(const QByteArray& data)
{
    return CalCRC16Xmodem(reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size()));
}

QString Seconds(int ms)
{
    return QString::number((ms + 999) / 1000);
}

} // namespace

// ---- sending ----

TCvXmodemSender::TCvXmodemSender(TCvTransferLink* Link, TMode Mode, const QList<TFile>& Files,
                                 const TCvXmodemTimes& Times, QObject* Parent)
    : TCvTransfer(Link, Parent), FMode(Mode), FFiles(Files), FTimes(Times), FTimer(new QTimer(this))
{
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, &TCvXmodemSender::OnTimeout);
    // XMODEM carries one file.
    if (FMode != TMode::Ymodem && FFiles.size() > 1) FFiles = FFiles.mid(0, 1);
    qint64 total = 0;
    for (const TFile& f : std::as_const(FFiles)) total += QFileInfo(f.Path).size();
    FProgress.Total = total;
}

TCvXmodemSender::~TCvXmodemSender() = default;

void TCvXmodemSender::Start()
{
    if (FState != TState::Idle) return;
    MarkStarted();
    FState = TState::WaitStart;
    QString error;
    if (FFiles.isEmpty()) {
        Finish(TCvTransferEnd::Failed, Msg(u"no file to send"_s));
        return;
    }
    if (!OpenFile(&error)) {
        Finish(TCvTransferEnd::Failed, error);
        return;
    }
    FTimer->start(FTimes.StartMs);
    EmitProgress();
}

bool TCvXmodemSender::OpenFile(QString* error)
{
    const TFile& f = FFiles.at(FFileIndex);
    FFile = std::make_unique<QFile>(f.Path);
    if (!FFile->open(QIODevice::ReadOnly)) {
        *error = Msg(u"can not read %1: %2"_s).arg(f.Path, FFile->errorString());
        FFile.reset();
        return false;
    }
    FProgress.FileName = f.Name.isEmpty() ? QFileInfo(f.Path).fileName() : f.Name;
    FBlock = 0;
    return true;
}

void TCvXmodemSender::Cancel()
{
    if (FState == TState::Ended || FState == TState::Cancelling) return;
    if (FState == TState::Idle) {
        Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
        return;
    }
    // A receiver that reads these together with the block before them may throw them away
    // with it: they go again when it answers, and the transfer ends then.
    FLink->Write(CancelSequence(), {});
    FState = TState::Cancelling;
    FCancelling = true;
    FTimer->start(CancelMs);
}

int TCvXmodemSender::ReceiveLimit() const
{
    // After these answers the receiver is done and may talk to its user.
    if (FState == TState::WaitBatchEndAck || (FState == TState::WaitEotAck && FMode != TMode::Ymodem))
        return 1;
    return TCvTransfer::ReceiveLimit();
}

void TCvXmodemSender::Feed(const QByteArray& Bytes)
{
    if (FState == TState::Idle || FState == TState::Ended) return;
    if (FState == TState::Cancelling) {
        FLink->Write(CancelSequence(), {});
        Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
        return;
    }
    // Nothing can answer a block before it is out: what comes meanwhile is a late repeat
    // (a doubled ACK) and must not be taken for the answer.
    if (FInFlight) {
        DropRest(Bytes, 0);
        return;
    }
    for (qsizetype i = 0; i < Bytes.size() && FState != TState::Ended; ++i) {
        const char c = Bytes.at(i);
        if (c == CAN) {
            if (++FCans >= 2) {
                Finish(TCvTransferEnd::PeerCancelled, Msg(u"the receiver cancelled"_s));
                return;
            }
            continue;
        }
        FCans = 0;
        switch (FState) {
        case TState::WaitStart:
        case TState::WaitDataStart:
            if (c == CRC || c == NAK) {
                OnStartChar(c);
                // Further start requests in the same read are repeats.
                DropRest(Bytes, i + 1);
                return;
            }
            break;
        case TState::WaitHeaderAck:
            if (c == ACK) {
                FState = TState::WaitDataStart;
                FTries = 0;
                FTimer->start(FTimes.ReplyMs);
                // The C for the data usually follows in the same read.
                continue;
            }
            if (c == NAK) {
                Resend(Msg(u"the file header"_s), false);
                DropRest(Bytes, i + 1);
                return;
            }
            break;
        case TState::WaitBlockAck:
            if (c == ACK) {
                FProgress.Bytes += FBlockData;
                ++FProgress.Blocks;
                EmitProgress();
                SendNextBlock();
                DropRest(Bytes, i + 1);
                return;
            }
            if (c == NAK) {
                Resend(Msg(u"block %1"_s).arg(FBlock), false);
                DropRest(Bytes, i + 1);
                return;
            }
            break;
        case TState::WaitEotAck:
            if (c == ACK) {
                FileDone();
                continue;
            }
            if (c == NAK) {
                // Receivers answer the first EOT with NAK on purpose; only more are retries.
                if (FEotNaks++ == 0) Send(FWire, TState::WaitEotAck);
                else Resend(u"EOT"_s, false);
                DropRest(Bytes, i + 1);
                return;
            }
            break;
        case TState::WaitBatchEndAck:
            if (c == ACK) {
                Finish(TCvTransferEnd::Done);
                return;
            }
            if (c == NAK) {
                Resend(Msg(u"the end of the batch"_s), false);
                DropRest(Bytes, i + 1);
                return;
            }
            break;
        case TState::Idle:
        case TState::Cancelling:
        case TState::Ended: return;
        }
    }
}

void TCvXmodemSender::DropRest(const QByteArray& Bytes, qsizetype from)
{
    // Repeats and noise are dropped, but a receiver that gives up is still heard.
    for (qsizetype i = from; i < Bytes.size() && FState != TState::Ended; ++i) {
        if (Bytes.at(i) != CAN) {
            FCans = 0;
            continue;
        }
        if (++FCans >= 2) Finish(TCvTransferEnd::PeerCancelled, Msg(u"the receiver cancelled"_s));
    }
}

void TCvXmodemSender::OnStartChar(char c)
{
    if (FState == TState::WaitStart && FFileIndex == 0 && !FBatchEnd) {
        // The receiver's first request decides the check for the whole transfer.
        FCrc = c == CRC;
    }
    FTries = 0;
    if (FState == TState::WaitStart && FMode == TMode::Ymodem) {
        SendHeader(FBatchEnd);
        return;
    }
    SendNextBlock();
}

QByteArray TCvXmodemSender::Frame(int number, const QByteArray& data) const
{
    QByteArray wire;
    wire.reserve(data.size() + 5);
    wire.append(data.size() == 1024 ? STX : SOH);
    wire.append(char(number & 0xFF));
    wire.append(char(0xFF - (number & 0xFF)));
    wire.append(data);
    if (FCrc) {
        const quint16 crc = Crc(data);
        wire.append(char(crc >> 8));
        wire.append(char(crc & 0xFF));
    } else {
        wire.append(char(Sum(data)));
    }
    return wire;
}

void TCvXmodemSender::SendHeader(bool empty)
{
    QByteArray data;
    if (!empty) {
        const TFile& f = FFiles.at(FFileIndex);
        const QFileInfo info(f.Path);
        QByteArray name = FProgress.FileName.toUtf8();
        // A NUL would end the name early; a header block holds no more than 1 KiB.
        name.replace('\0', '_');
        name.truncate(900);
        data = name + '\0' + QByteArray::number(FFile->size()) + ' ' +
               QByteArray::number(info.lastModified().toSecsSinceEpoch(), 8);
    }
    data.append(QByteArray((data.size() <= 128 ? 128 : 1024) - data.size(), '\0'));
    FBlock = 0;
    FBlockData = 0;
    Send(Frame(0, data), empty ? TState::WaitBatchEndAck : TState::WaitHeaderAck);
}

void TCvXmodemSender::SendNextBlock()
{
    FTries = 0;
    const qint64 left = FFile->size() - FFile->pos();
    if (left <= 0) {
        SendEot();
        return;
    }
    // 1K blocks need the CRC; the tail goes in 128-byte blocks when that pads less.
    const int size = FMode != TMode::Xmodem && FCrc && left > 896 ? 1024 : 128;
    QByteArray data = FFile->read(size);
    if (data.isEmpty()) {
        FLink->Write(CancelSequence(), {});
        Finish(TCvTransferEnd::Failed,
               Msg(u"can not read %1: %2"_s).arg(FFile->fileName(), FFile->errorString()));
        return;
    }
    FBlockData = data.size();
    data.append(QByteArray(size - data.size(), SUB));
    ++FBlock;
    Send(Frame(FBlock, data), TState::WaitBlockAck);
}

void TCvXmodemSender::SendEot()
{
    FEotNaks = 0;
    FTries = 0;
    Send(QByteArray(1, EOT), TState::WaitEotAck);
}

void TCvXmodemSender::Send(const QByteArray& wire, TState next)
{
    FWire = wire;
    FState = next;
    FTimer->stop();
    FInFlight = true;
    const quint64 gen = ++FWriteGen;
    const QPointer<TCvXmodemSender> self(this);
    FLink->Write(wire, [self, gen](bool ok) {
        if (!self || self->FWriteGen != gen || self->FState == TState::Ended) return;
        self->FInFlight = false;
        if (self->FState == TState::Cancelling) return;
        if (!ok) {
            self->Finish(TCvTransferEnd::Failed, Msg(u"the port did not take the data"_s));
            return;
        }
        self->FTimer->start(self->FTimes.ReplyMs);
    });
}

void TCvXmodemSender::Resend(const QString& what, bool timedOut)
{
    if (++FTries > FTimes.Retries) {
        FLink->Write(CancelSequence(), {});
        if (timedOut)
            Finish(TCvTransferEnd::TimedOut,
                   Msg(u"no answer to %1 after %2 tries"_s).arg(what).arg(FTimes.Retries + 1));
        else
            Finish(TCvTransferEnd::Failed,
                   Msg(u"the receiver refused %1 %2 times"_s).arg(what).arg(FTimes.Retries + 1));
        return;
    }
    ++FProgress.Retries;
    EmitProgress();
    Send(FWire, FState);
}

void TCvXmodemSender::OnTimeout()
{
    switch (FState) {
    case TState::WaitStart:
        if (FFileIndex == 0 && !FBatchEnd) {
            Finish(TCvTransferEnd::TimedOut,
                   Msg(u"the receiver did not start within %1 s"_s).arg(Seconds(FTimes.StartMs)));
            return;
        }
        if (FBatchEnd) {
            // Every file was taken; only the closing handshake is missing.
            emit Message(Msg(u"%1: the receiver did not ask for the end of the batch."_s)
                             .arg(TransferProtocolName(TCvTransferProtocol::Ymodem)));
            Finish(TCvTransferEnd::Done);
            return;
        }
        if (++FTries > FTimes.Retries) {
            FLink->Write(CancelSequence(), {});
            Finish(TCvTransferEnd::TimedOut, Msg(u"the receiver did not ask for the next file"_s));
            return;
        }
        FTimer->start(FTimes.ReplyMs);
        return;
    case TState::WaitDataStart:
        // Its C was lost, or our header's ACK reached it twice: the header again.
        Resend(Msg(u"the file header"_s), true);
        return;
    case TState::WaitHeaderAck: Resend(Msg(u"the file header"_s), true); return;
    case TState::WaitBlockAck: Resend(Msg(u"block %1"_s).arg(FBlock), true); return;
    case TState::WaitEotAck: Resend(u"EOT"_s, true); return;
    case TState::WaitBatchEndAck:
        if (FTries >= 2) {
            emit Message(Msg(u"%1: the receiver did not confirm the end of the batch."_s)
                             .arg(TransferProtocolName(TCvTransferProtocol::Ymodem)));
            Finish(TCvTransferEnd::Done);
            return;
        }
        Resend(Msg(u"the end of the batch"_s), true);
        return;
    case TState::Cancelling:
        FLink->Write(CancelSequence(), {});
        Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
        return;
    case TState::Idle:
    case TState::Ended: return;
    }
}

void TCvXmodemSender::FileDone()
{
    FFile.reset();
    if (FMode != TMode::Ymodem) {
        Finish(TCvTransferEnd::Done);
        return;
    }
    ++FFileIndex;
    FBatchEnd = FFileIndex >= FFiles.size();
    if (!FBatchEnd) {
        QString error;
        if (!OpenFile(&error)) {
            FLink->Write(CancelSequence(), {});
            Finish(TCvTransferEnd::Failed, error);
            return;
        }
    }
    FState = TState::WaitStart;
    FTries = 0;
    FTimer->start(FTimes.ReplyMs);
}

void TCvXmodemSender::Stopped(TCvTransferEnd)
{
    FTimer->stop();
    FState = TState::Ended;
    FFile.reset();
}

// ---- receiving ----

TCvXmodemReceiver::TCvXmodemReceiver(TCvTransferLink* Link, TMode Mode, const QString& Folder, bool Crc,
                                     const TCvXmodemTimes& Times, QObject* Parent)
    : TCvTransfer(Link, Parent), FMode(Mode), FFolder(Folder), FCrc(Mode == TMode::Ymodem || Crc),
      FTimes(Times), FTimer(new QTimer(this))
{
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, &TCvXmodemReceiver::OnTimeout);
}

TCvXmodemReceiver::~TCvXmodemReceiver() = default;

void TCvXmodemReceiver::Start()
{
    if (FState != TState::Idle) return;
    MarkStarted();
    FState = TState::Starting;
    const QFileInfo folder(FFolder);
    if (!folder.isDir() || !folder.isWritable()) {
        Finish(TCvTransferEnd::Failed, Msg(u"can not write to the folder %1"_s).arg(FFolder));
        return;
    }
    if (FXmodemName.isEmpty())
        FXmodemName = u"xmodem-"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s) + u".bin"_s;
    FHeaderPhase = FMode == TMode::Ymodem;
    FExpected = FHeaderPhase ? 0 : 1;
    FProgress.Total = -1;
    EmitProgress();
    SendStartChar();
}

void TCvXmodemReceiver::Cancel()
{
    if (FState == TState::Ended || FState == TState::Cancelling) return;
    if (FState == TState::Idle) {
        Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
        return;
    }
    // A sender in the middle of a block reads our CANs only when the block is out: they go
    // again once the line is quiet (it waits for our answer), and the transfer ends then.
    FLink->Write(CancelSequence(), {});
    FFile.reset();
    FState = TState::Cancelling;
    FCancelling = true;
    FCancelClock.start();
    Arm(CancelQuietMs);
}

int TCvXmodemReceiver::ReceiveLimit() const
{
    // Where the next packet may end the transfer, no byte beyond it is taken.
    if (FMode == TMode::Xmodem || FHeaderPhase) {
        if (FState == TState::InBlock) return int(FNeed - FBlock.size());
        if (FState != TState::Purging) return 1;
    }
    return TCvTransfer::ReceiveLimit();
}

void TCvXmodemReceiver::Reply(char c)
{
    const QPointer<TCvXmodemReceiver> self(this);
    FLink->Write(QByteArray(1, c), [self](bool ok) {
        if (self && !ok && self->FState != TState::Ended && self->FState != TState::Cancelling)
            self->Finish(TCvTransferEnd::Failed, Msg(u"the port did not take the data"_s));
    });
}

void TCvXmodemReceiver::Arm(int ms)
{
    FTimer->start(ms);
}

void TCvXmodemReceiver::SendStartChar()
{
    // XMODEM asks for CRC a few times, then settles for the checksum every sender knows.
    if (FMode == TMode::Xmodem && FCrc && FExpected == 1 && FStartTries >= FTimes.CrcTries) FCrc = false;
    ++FStartTries;
    FState = TState::Starting;
    Reply(FCrc ? CRC : NAK);
    Arm(FTimes.StartIntervalMs);
}

void TCvXmodemReceiver::Feed(const QByteArray& Bytes)
{
    qsizetype i = 0;
    const qsizetype n = Bytes.size();
    while (i < n) {
        switch (FState) {
        case TState::Idle:
        case TState::Ended: return;
        case TState::Cancelling:
            if (FCancelClock.elapsed() >= CancelMs) OnTimeout();
            else Arm(CancelQuietMs);
            return;
        case TState::Purging: i = n; break;
        case TState::InBlock: {
            const qsizetype take = qMin<qsizetype>(FNeed - FBlock.size(), n - i);
            FBlock.append(Bytes.constData() + i, take);
            i += take;
            if (FBlock.size() == FNeed) BlockComplete();
            break;
        }
        default: TakeByte(Bytes.at(i++)); break;
        }
    }
    // A block cut short, or noise to wait out: the character time-out runs from the last byte.
    if (FState == TState::InBlock || FState == TState::Purging) Arm(FTimes.CharMs);
}

void TCvXmodemReceiver::TakeByte(char c)
{
    if (c == CAN) {
        if (FLastCan) Fail(TCvTransferEnd::PeerCancelled, Msg(u"the sender cancelled"_s), false);
        FLastCan = true;
        return;
    }
    FLastCan = false;
    if (c == SOH || c == STX) {
        FBlock.clear();
        FBlock.append(c);
        FNeed = 3 + (c == STX ? 1024 : 128) + (FCrc ? 2 : 1);
        FState = TState::InBlock;
        return;
    }
    if (c != EOT) return; // noise between blocks
    if (FHeaderPhase) {
        // Our ACK of the last EOT was lost: it gets another.
        if (FAfterEot) Reply(ACK);
        return;
    }
    if (FState == TState::SecondEot) {
        EndOfFile();
        return;
    }
    // Noise seldom makes two EOTs: the first is answered with NAK.
    Reply(NAK);
    FState = TState::SecondEot;
    Arm(FTimes.CharMs);
}

void TCvXmodemReceiver::BlockComplete()
{
    const int checkLen = FCrc ? 2 : 1;
    const QByteArray data = FBlock.mid(3, FNeed - 3 - checkLen);
    const quint8 number = quint8(FBlock.at(1));
    bool ok = quint8(number ^ quint8(FBlock.at(2))) == 0xFF;
    if (ok && FCrc) {
        const quint16 crc = Crc(data);
        ok = quint8(FBlock.at(FNeed - 2)) == quint8(crc >> 8) &&
             quint8(FBlock.at(FNeed - 1)) == quint8(crc & 0xFF);
    } else if (ok) {
        ok = quint8(FBlock.at(FNeed - 1)) == Sum(data);
    }
    if (!ok) {
        Purge();
        return;
    }
    if (number == quint8(FExpected & 0xFF)) {
        FTries = 0;
        FAfterEot = false;
        if (FHeaderPhase) {
            TakeHeader(data);
            return;
        }
        if (!TakeData(data)) return;
        Reply(ACK);
        ++FExpected;
        FState = TState::Between;
        Arm(FTimes.BlockMs);
        return;
    }
    const int first = FMode == TMode::Ymodem ? 0 : 1;
    if (FExpected > first && number == quint8((FExpected - 1) & 0xFF)) {
        // The sender missed our ACK and sent the block again.
        ++FProgress.Retries;
        EmitProgress();
        Reply(ACK);
        if (FMode == TMode::Ymodem && FExpected == 1) {
            SendStartChar();
            return;
        }
        FState = TState::Between;
        Arm(FTimes.BlockMs);
        return;
    }
    Fail(TCvTransferEnd::Failed,
         Msg(u"block %1 came where block %2 was expected"_s).arg(number).arg(FExpected & 0xFF), true);
}

bool TCvXmodemReceiver::TakeHeader(const QByteArray& data)
{
    const qsizetype nul = data.indexOf('\0');
    const QByteArray name = nul < 0 ? data : data.left(nul);
    if (name.isEmpty()) {
        // The empty header ends the batch.
        Reply(ACK);
        Finish(TCvTransferEnd::Done);
        return false;
    }
    FName = QString::fromUtf8(name);
    FSize = -1;
    if (nul >= 0) {
        const QByteArray fields = data.mid(nul + 1);
        qsizetype end = 0;
        while (end < fields.size() && fields.at(end) >= '0' && fields.at(end) <= '9') ++end;
        bool ok = false;
        const qint64 size = fields.left(end).toLongLong(&ok);
        if (ok && end > 0) FSize = size;
    }
    FFile = std::make_unique<TCvIncomingFile>(FFolder);
    QString error;
    if (!FFile->Open(&error)) {
        Fail(TCvTransferEnd::Failed, Msg(u"can not write to the folder %1: %2"_s).arg(FFolder, error), true);
        return false;
    }
    FWritten = 0;
    FProgress.FileName = SafeReceivedFileName(FName);
    FProgress.Total = FSize >= 0 ? FProgress.Bytes + FSize : -1;
    EmitProgress();
    Reply(ACK);
    FHeaderPhase = false;
    FExpected = 1;
    FStartTries = 0;
    SendStartChar();
    return true;
}

bool TCvXmodemReceiver::TakeData(const QByteArray& data)
{
    QString error;
    if (!FFile) {
        FFile = std::make_unique<TCvIncomingFile>(FFolder);
        if (!FFile->Open(&error)) {
            Fail(TCvTransferEnd::Failed, Msg(u"can not write to the folder %1: %2"_s).arg(FFolder, error),
                 true);
            return false;
        }
    }
    // YMODEM gave the size: the padding of the last block is not part of the file.
    qint64 take = data.size();
    if (FSize >= 0) take = qBound<qint64>(0, FSize - FWritten, take);
    if (!FFile->Write(data.constData(), take, &error)) {
        Fail(TCvTransferEnd::Failed, Msg(u"can not write to the folder %1: %2"_s).arg(FFolder, error), true);
        return false;
    }
    FWritten += take;
    FProgress.Bytes += take;
    ++FProgress.Blocks;
    EmitProgress();
    return true;
}

void TCvXmodemReceiver::EndOfFile()
{
    if (FSize >= 0 && FWritten < FSize) {
        Fail(TCvTransferEnd::Failed,
             Msg(u"the file ended after %1 of %2 bytes"_s).arg(GroupedNumber(FWritten), GroupedNumber(FSize)),
             true);
        return;
    }
    QString error;
    if (!FFile) {
        // XMODEM of an empty file: EOT at once.
        FFile = std::make_unique<TCvIncomingFile>(FFolder);
        if (!FFile->Open(&error)) {
            Fail(TCvTransferEnd::Failed, Msg(u"can not write to the folder %1: %2"_s).arg(FFolder, error),
                 true);
            return;
        }
    }
    const QString name = FMode == TMode::Xmodem ? FXmodemName : FName;
    const qint64 size = FFile->Size();
    const QString path = FFile->Commit(name, &error);
    FFile.reset();
    if (path.isEmpty()) {
        Fail(TCvTransferEnd::Failed, Msg(u"can not save %1: %2"_s).arg(name, error), true);
        return;
    }
    FFiles << path;
    const QString saved = QFileInfo(path).fileName();
    const QString safe = SafeReceivedFileName(name);
    QString line = Msg(u"Received %1 (%2 bytes): %3"_s).arg(name, GroupedNumber(size), path);
    if (safe != name) line += u" "_s + Msg(u"(the name was reduced to a plain file name)"_s);
    if (saved != safe) line += u" "_s + Msg(u"(%1 exists already: saved as %2)"_s).arg(safe, saved);
    if (FMode == TMode::Xmodem) line += u" "_s + Msg(u"(XMODEM pads the last block with 0x1A)"_s);
    emit Message(line);
    Reply(ACK);
    if (FMode == TMode::Xmodem) {
        Finish(TCvTransferEnd::Done);
        return;
    }
    FHeaderPhase = true;
    FAfterEot = true;
    FExpected = 0;
    FName.clear();
    FSize = -1;
    FTries = 0;
    FStartTries = 0;
    FProgress.FileName.clear();
    SendStartChar();
}

void TCvXmodemReceiver::Purge()
{
    if (++FTries > FTimes.Retries) {
        Fail(TCvTransferEnd::Failed,
             Msg(u"block %1 was damaged %2 times"_s).arg(FExpected & 0xFF).arg(FTimes.Retries + 1), true);
        return;
    }
    ++FProgress.Retries;
    EmitProgress();
    // The rest of a damaged block is still coming: the NAK waits until the line is quiet.
    FState = TState::Purging;
    Arm(FTimes.CharMs);
}

void TCvXmodemReceiver::OnTimeout()
{
    switch (FState) {
    case TState::Starting:
        if (FStartTries >= FTimes.StartTries) {
            Fail(TCvTransferEnd::TimedOut,
                 Msg(u"no sender started within %1 s"_s)
                     .arg(Seconds(FTimes.StartTries * FTimes.StartIntervalMs)),
                 true);
            return;
        }
        SendStartChar();
        return;
    case TState::Between:
        if (++FTries > FTimes.Retries) {
            Fail(TCvTransferEnd::TimedOut, Msg(u"no block came after %1 tries"_s).arg(FTimes.Retries + 1),
                 true);
            return;
        }
        ++FProgress.Retries;
        EmitProgress();
        Reply(NAK);
        Arm(FTimes.BlockMs);
        return;
    case TState::InBlock:
        // The block stopped short; the line is quiet already.
        Purge();
        if (FState == TState::Purging) {
            FState = TState::Between;
            Reply(NAK);
            Arm(FTimes.BlockMs);
        }
        return;
    case TState::Purging:
        FState = TState::Between;
        Reply(NAK);
        Arm(FTimes.BlockMs);
        return;
    case TState::SecondEot:
        // No second EOT came: the first one was meant.
        EndOfFile();
        return;
    case TState::Cancelling:
        FLink->Write(CancelSequence(), {});
        Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
        return;
    case TState::Idle:
    case TState::Ended: return;
    }
}

void TCvXmodemReceiver::Fail(TCvTransferEnd End, const QString& Reason, bool cancelPeer)
{
    if (FState == TState::Ended) return;
    if (cancelPeer) FLink->Write(CancelSequence(), {});
    Finish(End, Reason);
}

void TCvXmodemReceiver::Stopped(TCvTransferEnd)
{
    FTimer->stop();
    FState = TState::Ended;
    // A file not complete goes with its temporary name.
    FFile.reset();
}
