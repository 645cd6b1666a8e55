#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TLogModel.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 kMaxFileSize = 5242880;
constexpr int kChunk = 32;
// Pending events are handled at least this often during a send; a check per chunk
// would cost more than the chunk itself.
constexpr qint64 kEventSliceMs = 5;

} // namespace

void TSplitViewForm::ConnectFileTransferHandlers()
{
    OpenDialog1 = [this] { return QFileDialog::getOpenFileName(this); };
    connect(Button23, &QPushButton::clicked, this, &TSplitViewForm::Button23Click);
    connect(Button24, &QPushButton::clicked, this, &TSplitViewForm::Button24Click);
    Button26 = new QPushButton(StatusBar1);
    Button26->setObjectName(u"Button26"_s);
    Button26->hide();
    StatusBar1->addPermanentWidget(Button26);
    connect(Button26, &QPushButton::clicked, this, &TSplitViewForm::Button26Click);
}

QFile* TSplitViewForm::OpenFileStream(const QString& FileName)
{
    auto* f = new QFile(FileName);
    struct stat st {};
    // Read-only for us; a shared lock keeps cooperating writers (flock LOCK_EX) out, and a
    // file someone holds exclusively is not loaded.
    if (!f->open(QIODevice::ReadOnly) || ::fstat(f->handle(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::flock(f->handle(), LOCK_SH | LOCK_NB) != 0) {
        delete f;
        return nullptr;
    }
    return f;
}

void TSplitViewForm::Button23Click()
{
    if (FSendingFile) return;
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) {
        ShowInformation(FApplicationTitle, u"     "_s + Msg(u"No device is found,please open a device."_s) + u"     "_s);
        return;
    }
    if (!obj->Connected()) {
        obj->Log(Msg(u"Device was closed,please open a device."_s) + u"    "_s);
        ShowInformation(FApplicationTitle, u"     "_s + Msg(u"Device was closed,please open a device."_s) + u"     "_s);
        return;
    }
    const QString path = OpenDialog1 ? OpenDialog1() : QString();
    if (path.isEmpty()) return;
    FullFileNameLoaded = path;
    if (!QFileInfo::exists(path)) return;
    delete FileStream;
    FileStream = OpenFileStream(FullFileNameLoaded);
    obj->Log(u" "_s);
    obj->Log(Msg(u"File Name: %1"_s).arg(path));
    if (!FileStream) return;
    const qint64 size = FileStream->size();
    obj->Log(Msg(u"File Size: %1 Bytes"_s).arg(size));
    obj->Log(Msg(u"This file have been loaded,press the left-bottom button to start sending"_s));
    if (size > kMaxFileSize) {
        obj->Log(Msg(u"This file size is too biger,only support less then 5M size file."_s));
        delete FileStream;
        FileStream = nullptr;
        FullFileNameLoaded.clear();
    }
}

void TSplitViewForm::Button24Click()
{
    if (ComboBoxEx1->count() == 0 || FSendingFile) return;
    QPointer<TCvComPortObj> obj = GetDeciceByFullName(ComboBoxEx1->currentText());
    if (!obj) {
        ShowInformation(FApplicationTitle, Msg(u"No device is found,please open a device."_s));
        return;
    }
    if (!FileStream) return;
    FileStream->seek(0);
    if (!obj->Connected()) {
        obj->Log(Msg(u"Device was closed,please open a device."_s));
        return;
    }
    obj->Log(Msg(u"> Start Sending File:%1"_s).arg(FullFileNameLoaded));

    // No second send or load while this runs. Closing the port or the window stays
    // possible: either stops the send.
    FSendingFile = true;
    FFileSend = std::make_unique<TFileSend>();
    TFileSend& fs = *FFileSend;
    fs.Port = obj;
    fs.Total = FileStream->size();
    fs.PanelText = StatusPanels[1]->text();
    for (QWidget* w : {static_cast<QWidget*>(Button23), static_cast<QWidget*>(Button24)})
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            fs.Locked << w;
        }
    Button26->setText(UILanguage == u"EN"_s ? u"Cancel Sending"_s : u"取消发送"_s);
    Button26->setEnabled(true);
    Button26->show();
    ShowFileSendProgress();
    FileSendStep();
}

void TSplitViewForm::Button26Click() {
    if (!FFileSend) return;
    FFileSend->Cancelled = true;
    // A chunk the device holds back is given up; its completion ends the send.
    if (FFileSend->InFlight && FFileSend->Port)
        FFileSend->Port->CancelWrites();
    else if (FFileSend && !FFileSend->Stepping)
        EndFileSend(TFileSendEnd::Cancelled);
}

void TSplitViewForm::ShowFileSendProgress() {
    if (!FFileSend) return;
    const TFileSend& fs = *FFileSend;
    StatusPanels[1]->setText(Msg(u"Sending file: %1 / %2 Bytes (%3%)"_s).arg(fs.Sent).arg(fs.Total).arg(
        fs.Total > 0 ? fs.Sent * 100 / fs.Total : 100));
}

void TSplitViewForm::FileSendStep() {
    if (!FFileSend || FFileSend->Stepping) return;
    TFileSend& fs = *FFileSend;
    fs.Stepping = true;
    QElapsedTimer slice;
    slice.start();
    quint8 chunk[kChunk];
    while (FFileSend && !fs.InFlight) {
        if (fs.Cancelled) {
            fs.Stepping = false;
            EndFileSend(TFileSendEnd::Cancelled);
            return;
        }
        if (!fs.Port || !fs.Port->Connected()) {
            fs.Stepping = false;
            EndFileSend(TFileSendEnd::Closed);
            return;
        }
        std::memset(chunk, 0, sizeof chunk);
        const qint64 n = FileStream ? FileStream->read(reinterpret_cast<char*>(chunk), kChunk) : 0;
        if (n <= 0) {
            fs.Stepping = false;
            EndFileSend(TFileSendEnd::Done);
            return;
        }
        fs.InFlight = true;
        const QByteArray bytes(reinterpret_cast<const char*>(chunk), n);
        // The completion runs inside this call when the device takes the chunk at once,
        // and later from the event loop when it holds it back.
        fs.Port->WriteAsync(
            bytes, [this, bytes](qint64 written, int error) { FileChunkDone(bytes, written, error); });
        if (fs.Ended) {
            fs.Stepping = false;
            EndFileSend(*fs.Ended);
            return;
        }
        if (slice.elapsed() >= kEventSliceMs) {
            // Give the event loop its turn; the send goes on from there.
            ShowFileSendProgress();
            if (!fs.InFlight) QTimer::singleShot(0, this, [this] { FileSendStep(); });
            break;
        }
    }
    fs.Stepping = false;
}

void TSplitViewForm::FileChunkDone(const QByteArray& chunk, qint64 written, int error) {
    if (!FFileSend) return;
    TFileSend& fs = *FFileSend;
    fs.InFlight = false;
    fs.Sent += written;
    // The log shows what reached the device, and only that.
    if (fs.Port && written > 0)
        fs.Port->Log(HexText(reinterpret_cast<const quint8*>(chunk.constData()), written));
    if (error != 0) {
        if (fs.Port && !fs.Cancelled && fs.Port->Connected())
            fs.Port->Log(TCvComPortObj::WriteFailureText(written, chunk.size(), error));
        fs.Ended = fs.Cancelled                          ? TFileSendEnd::Cancelled
                   : (!fs.Port || !fs.Port->Connected()) ? TFileSendEnd::Closed
                                                         : TFileSendEnd::Failed;
        // Inside a step the step ends it, once the write call has returned.
        if (!fs.Stepping) EndFileSend(*fs.Ended);
        return;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - fs.ProgressMs >= 50) {
        fs.ProgressMs = now;
        ShowFileSendProgress();
    }
    // Called from the event loop (the device had held the chunk back): go on from here.
    if (!fs.Stepping) FileSendStep();
}

void TSplitViewForm::EndFileSend(TFileSendEnd how) {
    if (!FFileSend) return;
    // Taken out first: what follows may start new sends.
    const std::unique_ptr<TFileSend> fs = std::move(FFileSend);
    if (TCvComPortObj* port = fs->Port) {
        const QString counts = Msg(u"%1 of %2 bytes were sent."_s).arg(fs->Sent).arg(fs->Total);
        switch (how) {
        case TFileSendEnd::Done:
            port->Log(Msg(u"File have been sent successfully。"_s));
            break;
        case TFileSendEnd::Cancelled:
            port->Log(Msg(u"File sending cancelled: %1"_s).arg(counts));
            break;
        case TFileSendEnd::Closed:
            port->Log(Msg(u"File sending stopped: the device was closed. %1"_s).arg(counts));
            break;
        case TFileSendEnd::Failed:
            port->Log(Msg(u"File sending stopped: %1"_s).arg(counts));
            break;
        }
        if (fs->SkippedTurns > 0)
            port->Log(
                Msg(u"%1 turns of loop sending were skipped while the file was sent."_s).arg(fs->SkippedTurns));
    }
    delete FileStream;
    FileStream = nullptr;
    FullFileNameLoaded.clear();
    StatusPanels[1]->setText(fs->PanelText);
    for (const QPointer<QWidget>& w : std::as_const(fs->Locked))
        if (w) w->setEnabled(true);
    Button26->hide();
    FSendingFile = false;
    // The sends that waited go out now, in the order they were asked for.
    for (const std::function<void()>& send : std::as_const(fs->Held))
        send();
}

bool TSplitViewForm::HoldWhileSendingFile(TCvComPortObj* Obj, std::function<void()> Send) {
    if (!FFileSend) return false;
    TFileSend& fs = *FFileSend;
    if (!fs.HeldTold) {
        fs.HeldTold = true;
        TCvComPortObj* port = Obj ? Obj : fs.Port.data();
        if (port) port->Log(Msg(u"A file is being sent: other sends wait until it has ended."_s));
    }
    fs.Held << std::move(Send);
    return true;
}

void TSplitViewForm::StatusBarPrintFileSize()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { StatusBarPrintFileSize(); }, Qt::QueuedConnection);
        return;
    }
    if (ComboBoxEx1->count() == 0) return;
    TCvComPortObj* obj = GetDeciceByFullName(ComboBoxEx1->currentText());
    if (!obj) return;
    qint64 chars = 0, lines = 0;
    if (const TLogMemo* memo = obj->LogMemo()) {
        // The log's size in UTF-8 bytes with its CR LF pairs: known at once, where counting
        // characters would read the whole log on every line.
        const TLogModel& m = memo->Model();
        lines = m.LineCount();
        chars = m.TextBytes() + (lines == 0 ? 0 : 2 * (m.EndsWithCrlf() ? lines : lines - 1));
    }
    StatusPanels[2]->setText(obj->Port() + u" Sent: "_s + QString::number(obj->FComSentCount.load()) + u" Bytes/"_s +
                             u"Received: "_s + QString::number(obj->FComReceiveCount.load()) + u" Bytes/"_s +
                             u"Processed: "_s + QString::number(obj->FComProcessedCount.load()) + u" Bytes/"_s +
                             u"Total: "_s + QString::number(chars) + u" Bytes/"_s + u"Lines: "_s +
                             QString::number(lines) + u" /Packs: "_s + QString::number(obj->GetPacks()));
    // Painted at once, but not more often than the eye can follow.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - FStatusPaintMs >= 40) {
        FStatusPaintMs = now;
        StatusBar1->repaint();
    }
}
