#include "TCvFileSender.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"

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

void TCvFileSender::Start(TCvComPortObj* Obj, const QList<QWidget*>& Lock, const QString& CancelCaption)
{
    if (FSend || !FFile || !Obj) return;
    FFile->seek(0);
    if (!Obj->Connected()) {
        Obj->Log(Msg(u"Device was closed,please open a device."_s));
        return;
    }
    Obj->Log(Msg(u"> Start Sending File:%1"_s).arg(FFileName));

    // No second send or load while this runs. Closing the port or the window stays
    // possible: either stops the send.
    FSend = std::make_unique<TSend>();
    TSend& fs = *FSend;
    fs.Port = Obj;
    fs.Total = FFileSize;
    fs.PanelText = FPanel->text();
    for (QWidget* w : Lock)
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            fs.Locked << w;
        }
    FButton26->setText(CancelCaption);
    FButton26->setEnabled(true);
    FButton26->show();
    ShowProgress();
    Step();
}

void TCvFileSender::Cancel()
{
    if (!FSend) return;
    FSend->Cancelled = true;
    // A chunk the device holds back is given up; its completion ends the send.
    if (FSend->InFlight && FSend->Port) FSend->Port->CancelWrites();
    else if (FSend && !FSend->Stepping) End(TEnd::Cancelled);
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
    const std::unique_ptr<TSend> fs = std::move(FSend);
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
        if (port) port->Log(Msg(u"A file is being sent: other sends wait until it has ended."_s));
    }
    fs.Held << std::move(Send);
    return true;
}

bool TCvFileSender::SkipTurn()
{
    return FSend && FSend->SkippedTurns++ == 0;
}
