#include "TCvFileSender.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TCvLrzszTransfer.h"
#include "TCvPortTransferLink.h"
#include "TCvXmodem.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int kChunk = 32;
// Pending events are handled at least this often during a send; a check per chunk
// would cost more than the chunk itself.
constexpr qint64 kEventSliceMs = 5;
} // namespace

TCvFileSender::TCvFileSender(QStatusBar* bar, QLabel* panel, QObject* parent)
    : QObject(parent), FButton26(new QPushButton(bar)), FPanel(panel)
{
    FButton26->setObjectName(u"Button26"_s);
    FButton26->hide();
    bar->addPermanentWidget(FButton26);
    connect(FButton26, &QPushButton::clicked, this, &TCvFileSender::Cancel);
}

TCvFileSender::~TCvFileSender() = default;

QFile* TCvFileSender::OpenFileStream(const QString& FileName)
{
    auto f = std::make_unique<QFile>(FileName);
    struct stat st {};
    // Read-only for us; a shared lock keeps cooperating writers (flock LOCK_EX) out, and a
    // file someone holds exclusively is not loaded.
    if (!f->open(QIODevice::ReadOnly) || ::fstat(f->handle(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::flock(f->handle(), LOCK_SH | LOCK_NB) != 0)
        return nullptr;
    return f.release();
}

void TCvFileSender::Unload()
{
    FFile.reset();
    FFileName.clear();
    FFileSize = 0;
}

void TCvFileSender::Load(TCvComPortObj* Obj, const QString& Path)
{
    if (FSend) return;
    FFileName = Path;
    if (!QFileInfo::exists(Path)) return;
    FFile.reset(OpenFileStream(Path));
    Obj->Log(u" "_s);
    Obj->Log(Msg(u"File Name: %1"_s).arg(Path));
    if (!FFile) return;
    const qint64 size = FFile->size();
    FFileSize = size;
    Obj->Log(Msg(u"File Size: %1 Bytes"_s).arg(size));
    Obj->Log(Msg(u"This file have been loaded,press the left-bottom button to start sending"_s));
    if (size > MaxFileSize) {
        Obj->Log(Msg(u"This file size is too biger,only support less then 5M size file."_s));
        Unload();
    }
}

void TCvFileSender::Start(TCvComPortObj* Obj, const QList<QWidget*>& Lock, const QString& CancelCaption,
                          TCvTransferProtocol Protocol)
{
    if (FSend || !FFile || !Obj) return;
    FFile->seek(0);
    if (!Obj->Connected()) {
        Obj->Log(Msg(u"Device was closed,please open a device."_s));
        return;
    }
    if (Protocol != TCvTransferProtocol::Raw) {
        const QString name = TransferProtocolName(Protocol);
        Obj->Log(Msg(u"> Start Sending File:%1"_s).arg(FFileName));
        Obj->Log(
            Msg(u"%1: waiting for the receiver (start it on the device, for example loady, loadx or rz)."_s)
                .arg(name));
        Begin(Obj, Lock, CancelCaption);
        FSend->Protocol = Protocol;
        FSend->Total = FFile->size();
        FSend->Link = std::make_unique<TCvPortTransferLink>(Obj);
        TCvTransferLink* link = FSend->Link.get();
        const TCvXmodemTimes times = FTimes ? *FTimes : TCvXmodemTimes{};
        const QList<TCvXmodemSender::TFile> files{{FFileName, {}}};
        switch (Protocol) {
        case TCvTransferProtocol::Xmodem:
            StartEngine(
                std::make_unique<TCvXmodemSender>(link, TCvXmodemSender::TMode::Xmodem, files, times));
            break;
        case TCvTransferProtocol::Xmodem1K:
            StartEngine(
                std::make_unique<TCvXmodemSender>(link, TCvXmodemSender::TMode::Xmodem1K, files, times));
            break;
        case TCvTransferProtocol::Ymodem:
            StartEngine(
                std::make_unique<TCvXmodemSender>(link, TCvXmodemSender::TMode::Ymodem, files, times));
            break;
        default:
            StartEngine(std::make_unique<TCvLrzszTransfer>(link, TCvLrzszTransfer::TDirection::Send,
                                                           QStringList{FFileName}));
            break;
        }
        return;
    }
    Obj->Log(Msg(u"> Start Sending File:%1"_s).arg(FFileName));
    Begin(Obj, Lock, CancelCaption);
    // The size that was loaded: a file that changed since is not sent beyond it.
    FSend->Total = FFileSize;
    ShowProgress();
    Step();
}

void TCvFileSender::Receive(TCvComPortObj* Obj, TCvTransferProtocol Protocol, const QString& Folder,
                            const QList<QWidget*>& Lock, const QString& CancelCaption)
{
    if (FSend || !Obj || !TransferProtocolReceives(Protocol)) return;
    if (!Obj->Connected()) {
        Obj->Log(Msg(u"Device was closed,please open a device."_s));
        return;
    }
    const QString name = TransferProtocolName(Protocol);
    Obj->Log(
        Msg(u"%1: waiting for the sender (start it on the device, for example sz or sb); files go to %2"_s)
            .arg(name, Folder));
    Begin(Obj, Lock, CancelCaption);
    FSend->Protocol = Protocol;
    FSend->Receiving = true;
    FSend->Link = std::make_unique<TCvPortTransferLink>(Obj);
    TCvTransferLink* link = FSend->Link.get();
    const TCvXmodemTimes times = FTimes ? *FTimes : TCvXmodemTimes{};
    switch (Protocol) {
    case TCvTransferProtocol::Xmodem:
    case TCvTransferProtocol::Xmodem1K:
        StartEngine(
            std::make_unique<TCvXmodemReceiver>(link, TCvXmodemReceiver::TMode::Xmodem, Folder, true, times));
        break;
    case TCvTransferProtocol::Ymodem:
        StartEngine(
            std::make_unique<TCvXmodemReceiver>(link, TCvXmodemReceiver::TMode::Ymodem, Folder, true, times));
        break;
    default:
        StartEngine(std::make_unique<TCvLrzszTransfer>(link, TCvLrzszTransfer::TDirection::Receive,
                                                       QStringList{Folder}));
        break;
    }
}

void TCvFileSender::Begin(TCvComPortObj* Obj, const QList<QWidget*>& Lock, const QString& CancelCaption)
{
    // No second send or load while this runs. Closing the port or the window stays
    // possible: either stops the send.
    FSend = std::make_unique<TSend>();
    TSend& fs = *FSend;
    fs.Port = Obj;
    fs.PanelText = FPanel->text();
    for (QWidget* w : Lock)
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            fs.Locked << w;
        }
    FButton26->setText(CancelCaption);
    FButton26->setEnabled(true);
    FButton26->show();
}

void TCvFileSender::StartEngine(std::unique_ptr<TCvTransfer> Engine)
{
    TSend& fs = *FSend;
    fs.Engine = std::move(Engine);
    TCvTransfer* e = fs.Engine.get();
    // First: at the end the link decides whether it drains before the sender looks.
    fs.Link->Attach(e);
    connect(e, &TCvTransfer::ProgressChanged, this, &TCvFileSender::EngineProgress);
    connect(e, &TCvTransfer::Message, this, [this](const QString& line) {
        if (FSend && FSend->Port) FSend->Port->Log(line);
    });
    connect(e, &TCvTransfer::Finished, this, &TCvFileSender::EngineFinished);
    if (OnRunning) OnRunning(true);
    e->Start();
}

TCvTransfer* TCvFileSender::Transfer() const
{
    return FSend ? FSend->Engine.get() : nullptr;
}

void TCvFileSender::SetXmodemTimes(const TCvXmodemTimes& Times)
{
    FTimes = std::make_unique<TCvXmodemTimes>(Times);
}

void TCvFileSender::EngineProgress(const TCvTransferProgress& Progress)
{
    if (!FSend) return;
    // Painted as often as the eye follows, not once per block.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - FSend->ProgressShownMs < 100) return;
    FSend->ProgressShownMs = now;
    const QString text = TransferProgressText(FSend->Protocol, Progress);
    FPanel->setText(text);
    if (OnProgressText) OnProgressText(text);
}

void TCvFileSender::EngineFinished(const TCvTransferResult& Result)
{
    if (!FSend) return;
    std::unique_ptr<TSend> fs = std::move(FSend);
    if (TCvComPortObj* port = fs->Port) {
        port->Log(TransferSummary(fs->Protocol, !fs->Receiving, Result));
        if (fs->SkippedTurns > 0)
            port->Log(Msg(u"%1 turns of loop sending were skipped while the file was sent."_s)
                          .arg(fs->SkippedTurns));
    }
    // The port's bytes are its own again (after what the peer still sends of a transfer that
    // stopped) before anything else runs.
    TCvPortTransferLink* link = fs->Link.get();
    if (link->Draining()) {
        const QPointer<TCvComPortObj> port = fs->Port;
        connect(link, &TCvPortTransferLink::Drained, this, [this, port, link](qint64 dropped) {
            if (dropped > 0 && port)
                port->Log(Msg(u"%1 bytes the device sent after the transfer had stopped were not shown."_s)
                              .arg(GroupedNumber(dropped)));
            // Still inside the link's own signal: it goes from the event loop.
            if (FDraining.get() == link) {
                FDraining.release()->setParent(this);
                link->deleteLater();
            }
        });
        FDraining = std::move(fs->Link);
    }
    if (!fs->Receiving) Unload();
    // The engine is inside its own signal: it goes from the event loop (or with the sender).
    TCvTransfer* engine = fs->Engine.release();
    engine->setParent(this);
    engine->deleteLater();
    if (OnProgressText) OnProgressText(QString());
    if (OnRunning) OnRunning(false);
    Release(std::move(fs));
}

void TCvFileSender::Cancel()
{
    if (!FSend) return;
    if (FSend->Engine) {
        // The engine tells the peer and ends within about a second.
        FButton26->setEnabled(false);
        FSend->Engine->Cancel();
        return;
    }
    FSend->Cancelled = true;
    // A chunk the device holds back is given up; its completion ends the send.
    if (FSend->InFlight && FSend->Port) FSend->Port->CancelWrites();
    else if (FSend && !FSend->Stepping) End(TEnd::Cancelled);
}

void TCvFileSender::CancelNow()
{
    if (FSend && FSend->Engine) FSend->Engine->Abort();
    else Cancel();
}

void TCvFileSender::ShowProgress()
{
    if (!FSend) return;
    const TSend& fs = *FSend;
    FPanel->setText(Msg(u"Sending file: %1 / %2 Bytes (%3%)"_s)
                        .arg(fs.Sent)
                        .arg(fs.Total)
                        .arg(fs.Total > 0 ? fs.Sent * 100 / fs.Total : 100));
}

void TCvFileSender::Step()
{
    if (!FSend || FSend->Stepping) return;
    TSend& fs = *FSend;
    fs.Stepping = true;
    QElapsedTimer slice;
    slice.start();
    quint8 chunk[kChunk];
    while (FSend && !fs.InFlight) {
        if (fs.Cancelled) {
            fs.Stepping = false;
            End(TEnd::Cancelled);
            return;
        }
        if (!fs.Port || !fs.Port->Connected()) {
            fs.Stepping = false;
            End(TEnd::Closed);
            return;
        }
        std::memset(chunk, 0, sizeof chunk);
        if (fs.Read >= fs.Total) {
            fs.Stepping = false;
            End(TEnd::Done);
            return;
        }
        // Never past the size that was loaded (a file that grew since stays within the limit).
        const qint64 n =
            FFile ? FFile->read(reinterpret_cast<char*>(chunk), std::min<qint64>(kChunk, fs.Total - fs.Read))
                  : -1;
        if (n <= 0) {
            // Cut short or unreadable since it was loaded: not what the user asked to send.
            fs.ReadError =
                n < 0 ? (FFile ? FFile->errorString() : QString())
                      : Msg(u"it ended after %1 bytes, shorter than when it was loaded"_s).arg(fs.Read);
            fs.Stepping = false;
            End(TEnd::ReadFailed);
            return;
        }
        fs.Read += n;
        fs.InFlight = true;
        const QByteArray bytes(reinterpret_cast<const char*>(chunk), n);
        // The completion runs inside this call when the device takes the chunk at once,
        // and later from the event loop when it holds it back.
        fs.Port->WriteAsync(bytes,
                            [this, bytes](qint64 written, int error) { ChunkDone(bytes, written, error); });
        if (fs.Ended) {
            fs.Stepping = false;
            End(*fs.Ended);
            return;
        }
        if (slice.elapsed() >= kEventSliceMs) {
            // Give the event loop its turn; the send goes on from there.
            ShowProgress();
            if (!fs.InFlight) QTimer::singleShot(0, this, [this] { Step(); });
            break;
        }
    }
    fs.Stepping = false;
}

void TCvFileSender::ChunkDone(const QByteArray& chunk, qint64 written, int error)
{
    if (!FSend) return;
    TSend& fs = *FSend;
    fs.InFlight = false;
    fs.Sent += written;
    // The log shows what reached the device, and only that.
    if (fs.Port && written > 0)
        fs.Port->Log(HexText(reinterpret_cast<const quint8*>(chunk.constData()), written));
    if (error != 0) {
        if (fs.Port && !fs.Cancelled && fs.Port->Connected())
            fs.Port->Log(TCvComPortObj::WriteFailureText(written, chunk.size(), error));
        fs.Ended = fs.Cancelled                          ? TEnd::Cancelled
                   : (!fs.Port || !fs.Port->Connected()) ? TEnd::Closed
                                                         : TEnd::Failed;
        // Inside a step the step ends it, once the write call has returned.
        if (!fs.Stepping) End(*fs.Ended);
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - fs.ProgressMs >= 50) {
        fs.ProgressMs = now;
        ShowProgress();
    }
    // Called from the event loop (the device had held the chunk back): go on from here.
    if (!fs.Stepping) Step();
}

void TCvFileSender::End(TEnd how)
{
    if (!FSend) return;
    // Taken out first: what follows may start new sends.
    std::unique_ptr<TSend> fs = std::move(FSend);
    if (TCvComPortObj* port = fs->Port) {
        const QString counts = Msg(u"%1 of %2 bytes were sent."_s).arg(fs->Sent).arg(fs->Total);
        switch (how) {
        case TEnd::Done: port->Log(Msg(u"File have been sent successfully。"_s)); break;
        case TEnd::Cancelled: port->Log(Msg(u"File sending cancelled: %1"_s).arg(counts)); break;
        case TEnd::Closed:
            port->Log(Msg(u"File sending stopped: the device was closed. %1"_s).arg(counts));
            break;
        case TEnd::Failed: port->Log(Msg(u"File sending stopped: %1"_s).arg(counts)); break;
        case TEnd::ReadFailed:
            port->Log(Msg(u"File sending stopped: the file could not be read to its end (%1). %2"_s)
                          .arg(fs->ReadError, counts));
            break;
        }
        if (fs->SkippedTurns > 0)
            port->Log(Msg(u"%1 turns of loop sending were skipped while the file was sent."_s)
                          .arg(fs->SkippedTurns));
    }
    Unload();
    Release(std::move(fs));
}

void TCvFileSender::Release(std::unique_ptr<TSend> fs)
{
    FPanel->setText(fs->PanelText);
    for (const QPointer<QWidget>& w : std::as_const(fs->Locked))
        if (w) w->setEnabled(true);
    FButton26->hide();
    // The sends that waited go out now, in the order they were asked for.
    for (const std::function<void()>& send : std::as_const(fs->Held)) send();
}

bool TCvFileSender::Hold(TCvComPortObj* Obj, std::function<void()> Send)
{
    if (!FSend) return false;
    TSend& fs = *FSend;
    if (!fs.HeldTold) {
        fs.HeldTold = true;
        TCvComPortObj* port = Obj ? Obj : fs.Port.data();
        if (port)
            port->Log(fs.Engine ? Msg(u"A file transfer is running: other sends wait until it has ended."_s)
                                : Msg(u"A file is being sent: other sends wait until it has ended."_s));
    }
    fs.Held << std::move(Send);
    return true;
}

bool TCvFileSender::SkipTurn()
{
    return FSend && FSend->SkippedTurns++ == 0;
}
