#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvMessageBox.h"
#include "CvMessages.h"
#include "TCvBlockSendPanel.h"
#include "TCvComPortObj.h"
#include "TJvHidDevice.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Qt::Literals::StringLiterals;

void TSplitViewForm::ConnectSendHandlers()
{
    connect(FBlockSendPanel, &TCvBlockSendPanel::SendClicked, this, &TSplitViewForm::Button8Click);
    connect(FBlockSendPanel, &TCvBlockSendPanel::ClearClicked, this, &TSplitViewForm::Button7Click);
    // The text tools read and write text in the selected port's encoding (UTF-8 without one).
    FBlockSendPanel->SetEncoding([this] {
        const TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
        return obj ? obj->TextEncoding() : kDefaultTextEncoding;
    });
    FLoopPanel->SetCurrentPort([this] { return GetDeciceByFullName(GetCurrentDeviceName()); });
    FLoopPanel->SetSendFormat([this] { return FPortSettings->Lines().SendFormat; });
}

void TSplitViewForm::Button8Click()
{
    if (FPortSettings->DeviceCount() == 0) return;
    const QString device = FPortSettings->CurrentDeviceText();
    const QString text = FBlockSendPanel->Text();
    const int format = FPortSettings->Lines().SendFormat;
    const TSendEnding ending = FBlockSendPanel->Ending();
    const auto send = [this, device, text, format, ending] {
        if (TJvHidDevice* hid = FDevices->CheckHID(device)) {
            FDevices->HidBlockSend(hid, text);
            return;
        }
        TCvComPortObj* obj = GetDeciceByFullName(device);
        if (!obj) return;
        obj->TorvinComSendData_MultiTimes(TrimControl(text), format, ending);
    };
    // A file being sent is not interleaved with other data: this send waits for its end.
    if (HoldWhileSendingFile(GetDeciceByFullName(device), send)) return;
    send();
}

void TSplitViewForm::Button7Click()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (obj && obj->Connected()) obj->ClearLog();
}
