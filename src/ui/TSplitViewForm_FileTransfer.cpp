#include "TSplitViewForm.h"

#include "CvMessageBox.h"
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

QString ChunkHex(const quint8* p, int n)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out(n * 3, u' ');
    QChar* o = out.data();
    for (int i = 0; i < n; ++i) {
        *o++ = QLatin1Char(digits[p[i] >> 4]);
        *o++ = QLatin1Char(digits[p[i] & 15]);
        ++o;
    }
    return out;
}

} // namespace

void TSplitViewForm::ConnectFileTransferHandlers()
{
    OpenDialog1 = [this] { return QFileDialog::getOpenFileName(this); };
    connect(Button23, &QPushButton::clicked, this, &TSplitViewForm::Button23Click);
    connect(Button24, &QPushButton::clicked, this, &TSplitViewForm::Button24Click);
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
        ShowInformation(FApplicationTitle, u"     No device is found,please open a device.     "_s);
        return;
    }
    if (!obj->Connected()) {
        obj->Log(u"Device was closed,please open a device.    "_s);
        ShowInformation(FApplicationTitle, u"     Device was closed,please open a device.     "_s);
        return;
    }
    const QString path = OpenDialog1 ? OpenDialog1() : QString();
    if (path.isEmpty()) return;
    FullFileNameLoaded = path;
    if (!QFileInfo::exists(path)) return;
    delete FileStream;
    FileStream = OpenFileStream(FullFileNameLoaded);
    obj->Log(u" "_s);
    obj->Log(u"File Name: "_s + path);
    if (!FileStream) return;
    const qint64 size = FileStream->size();
    obj->Log(u"File Size: "_s + QString::number(size) + u" Bytes"_s);
    obj->Log(u"This file have been loaded,press the left-bottom button to start sending"_s);
    if (size > kMaxFileSize) {
        obj->Log(u"This file size is too biger,only support less then 5M size file."_s);
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
        ShowInformation(FApplicationTitle, u"No device is found,please open a device."_s);
        return;
    }
    if (!FileStream) return;
    FileStream->seek(0);
    if (!obj->Connected()) {
        obj->Log(u"Device was closed,please open a device."_s);
        return;
    }
    obj->Log(u"> Start Sending File:"_s + FullFileNameLoaded);

    // No second send or load, and no closing or refreshing of devices, while this runs.
    FSendingFile = true;
    QList<QPointer<QWidget>> locked;
    for (QWidget* w : {static_cast<QWidget*>(Button23), static_cast<QWidget*>(Button24),
                       static_cast<QWidget*>(Button2), static_cast<QWidget*>(Button4)})
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            locked << w;
        }
    const bool closeActionWas = CloseTheDevice1 && CloseTheDevice1->isEnabled();
    if (CloseTheDevice1) CloseTheDevice1->setEnabled(false);
    const QString panelText = StatusPanels[1]->text();

    const qint64 total = FileStream->size();
    qint64 sent = 0;
    QElapsedTimer slice;
    slice.start();
    quint8 chunk[kChunk];
    for (;;) {
        std::memset(chunk, 0, sizeof chunk);
        const qint64 n = FileStream->read(reinterpret_cast<char*>(chunk), kChunk);
        if (n <= 0) break;
        obj->TorvinComSendBuffer(chunk, int(n));
        sent += n;
        if (slice.elapsed() >= kEventSliceMs) {
            StatusPanels[1]->setText(u"Sending file: %1 / %2 Bytes (%3%)"_s.arg(sent).arg(total).arg(
                total > 0 ? sent * 100 / total : 100));
            QCoreApplication::processEvents();
            slice.restart();
        }
        // The device may vanish or be closed by its removal while events are handled.
        if (!obj) break;
        obj->Log(ChunkHex(chunk, int(n)));
        if (!obj->Connected()) break;
    }
    if (obj && obj->Connected()) obj->Log(u"File have been sent successfully。"_s);
    else if (obj) obj->Log(u"File sending stopped: the device was closed."_s);

    delete FileStream;
    FileStream = nullptr;
    FullFileNameLoaded.clear();
    StatusPanels[1]->setText(panelText);
    for (const QPointer<QWidget>& w : std::as_const(locked))
        if (w) w->setEnabled(true);
    if (CloseTheDevice1) CloseTheDevice1->setEnabled(closeActionWas);
    FSendingFile = false;
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
