#include "TSplitViewForm.h"

#include "CvMessageBox.h"
#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TLogModel.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>

using namespace Qt::Literals::StringLiterals;

void TSplitViewForm::ConnectFileTransferHandlers()
{
    OpenDialog1 = [this] { return QFileDialog::getOpenFileName(this); };
    connect(FPortSettings, &TCvPortSettingsPanel::LoadFileClicked, this, &TSplitViewForm::Button23Click);
    connect(FPortSettings, &TCvPortSettingsPanel::SendFileClicked, this, &TSplitViewForm::Button24Click);
    FFileSender = new TCvFileSender(StatusBar1, StatusPanels[1], this);
    FLoopPanel->SetFileSender(FFileSender);
    ReceiveFolderDialog = [this](const QString& start) {
        return QFileDialog::getExistingDirectory(
            this, UILanguage == u"EN"_s ? u"Folder for received files"_s : u"接收文件的保存位置"_s, start);
    };
    connect(FTransferBox, &TCvTransferBox::ReceiveClicked, this, &TSplitViewForm::ButtonReceiveFileClick);
    connect(FTransferBox, &TCvTransferBox::FolderClicked, this, &TSplitViewForm::ButtonReceiveFolderClick);
    connect(FTransferBox, &TCvTransferBox::CancelClicked, this, &TSplitViewForm::Button26Click);
    FFileSender->OnProgressText = [this](const QString& text) { FTransferBox->SetProgress(text); };
    FFileSender->OnRunning = [this](bool running) { FTransferBox->SetRunning(running); };
}

// The controls a transfer keeps locked while it runs.
static QList<QWidget*> TransferLocks(TCvPortSettingsPanel* settings, TCvTransferBox* box)
{
    return settings->FileSendButtons() + box->LockedWhileRunning();
}

// The selected port, open; otherwise the user is told why not.
TCvComPortObj* TSplitViewForm::OpenCurrentPortOrTell()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj) {
        ShowInformation(FApplicationTitle,
                        u"     "_s + Msg(u"No device is found,please open a device."_s) + u"     "_s);
        return nullptr;
    }
    if (!obj->Connected()) {
        obj->Log(Msg(u"Device was closed,please open a device."_s) + u"    "_s);
        ShowInformation(FApplicationTitle,
                        u"     "_s + Msg(u"Device was closed,please open a device."_s) + u"     "_s);
        return nullptr;
    }
    return obj;
}

void TSplitViewForm::Button23Click()
{
    if (SendingFile()) return;
    TCvComPortObj* obj = OpenCurrentPortOrTell();
    if (!obj) return;
    const QString path = OpenDialog1 ? OpenDialog1() : QString();
    if (path.isEmpty()) return;
    FFileSender->Load(obj, path);
}

void TSplitViewForm::Button24Click()
{
    if (FPortSettings->DeviceCount() == 0 || SendingFile()) return;
    TCvComPortObj* obj = GetDeciceByFullName(FPortSettings->CurrentDeviceText());
    if (!obj) {
        ShowInformation(FApplicationTitle, Msg(u"No device is found,please open a device."_s));
        return;
    }
    FFileSender->Start(obj, TransferLocks(FPortSettings, FTransferBox),
                       UILanguage == u"EN"_s ? u"Cancel Sending"_s : u"取消发送"_s,
                       TCvTransferProtocol(FTransferBox->Protocol()));
}

void TSplitViewForm::ButtonReceiveFolderClick()
{
    if (!ReceiveFolderDialog) return;
    const QString chosen = ReceiveFolderDialog(FTransferBox->Folder());
    if (!chosen.isEmpty()) FTransferBox->SetFolder(chosen);
}

void TSplitViewForm::ButtonReceiveFileClick()
{
    if (SendingFile()) return;
    const auto protocol = TCvTransferProtocol(FTransferBox->Protocol());
    if (!TransferProtocolReceives(protocol)) return;
    TCvComPortObj* obj = OpenCurrentPortOrTell();
    if (!obj) return;
    // The folder of the last time, or one chosen now (remembered for the next time).
    if (!QFileInfo(FTransferBox->Folder()).isDir()) {
        ButtonReceiveFolderClick();
        if (!QFileInfo(FTransferBox->Folder()).isDir()) return;
    }
    FFileSender->Receive(obj, protocol, FTransferBox->Folder(), TransferLocks(FPortSettings, FTransferBox),
                         UILanguage == u"EN"_s ? u"Cancel Receiving"_s : u"取消接收"_s);
}

void TSplitViewForm::Button26Click()
{
    FFileSender->Cancel();
}

void TSplitViewForm::StatusBarPrintFileSize()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { StatusBarPrintFileSize(); }, Qt::QueuedConnection);
        return;
    }
    if (FPortSettings->DeviceCount() == 0) return;
    TCvComPortObj* obj = GetDeciceByFullName(FPortSettings->CurrentDeviceText());
    if (!obj) return;
    qint64 chars = 0, lines = 0;
    if (const TLogView* memo = obj->LogView()) {
        // The log's size in UTF-8 bytes with its CR LF pairs: known at once, where counting
        // characters would read the whole log on every line.
        const TLogModel& m = memo->Model();
        lines = m.LineCount();
        chars = m.TextBytes() + (lines == 0 ? 0 : 2 * (m.EndsWithCrlf() ? lines : lines - 1));
    }
    StatusPanels[2]->setText(obj->Port() + u" Sent: "_s + QString::number(obj->FComSentCount.load()) +
                             u" Bytes/"_s + u"Received: "_s + QString::number(obj->FComReceiveCount.load()) +
                             u" Bytes/"_s + u"Processed: "_s +
                             QString::number(obj->FComProcessedCount.load()) + u" Bytes/"_s + u"Total: "_s +
                             QString::number(chars) + u" Bytes/"_s + u"Lines: "_s + QString::number(lines) +
                             u" /Packs: "_s + QString::number(obj->GetPacks()));
    // Painted at once, but not more often than the eye can follow.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - FStatusPaintMs >= 40) {
        FStatusPaintMs = now;
        StatusBar1->repaint();
    }
}
