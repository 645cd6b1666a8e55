// HID devices in the main window: the controller, its change, enumeration and data events,
// and writing one output report.
#include "TSplitViewForm.h"

#include "CvHidText.h"
#include "THidBackend.h"
#include "TJvHidDevice.h"
#include "TJvHidDeviceController.h"

using namespace Qt::Literals::StringLiterals;

namespace {
TSplitViewForm::THidBackendFactory& BackendFactory()
{
    static TSplitViewForm::THidBackendFactory f;
    return f;
}
} // namespace

TSplitViewForm::THidBackendFactory TSplitViewForm::SetHidBackendFactory(THidBackendFactory Factory)
{
    THidBackendFactory old = BackendFactory();
    BackendFactory() = std::move(Factory);
    return old;
}

void TSplitViewForm::CreateHidController()
{
    if (JvHidDeviceController1) return;
    JvHidDeviceController1 = BackendFactory() ? new TJvHidDeviceController(BackendFactory()(), this)
                                              : new TJvHidDeviceController(this);
    JvHidDeviceController1->SetOnDeviceChange([this](TJvHidDeviceController* s) { JvHidDeviceController1DeviceChange(s); });
    JvHidDeviceController1->SetOnEnumerate([this](TJvHidDevice* d, int i) { return JvHidDeviceController1Enumerate(d, i); });
    JvHidDeviceController1->SetOnDeviceData([this](TJvHidDevice* d, quint8 id, const quint8* p, quint16 n) {
        JvHidDeviceController1DeviceData(d, id, p, n);
    });
    // A device that stopped answering is said once in the main log, not retried forever.
    connect(JvHidDeviceController1, &TJvHidDeviceController::DeviceReadStopped, this,
            [this](TJvHidDevice*, const QString& Message) { MainLogPrint(Message); });
}

void TSplitViewForm::JvHidDeviceController1DeviceChange(TJvHidDeviceController* Sender)
{
    CvHIDDeviceList.clear();
    Sender->Enumerate();
}

bool TSplitViewForm::JvHidDeviceController1Enumerate(TJvHidDevice* HidDev, int)
{
    CvHIDDeviceList.append(HidDev->Name());
    return true;
}

void TSplitViewForm::JvHidDeviceController1DeviceData(TJvHidDevice*, quint8, const quint8* Data, quint16 Size)
{
    MainLogPrint(HidReportText(Data, Size));
}

TJvHidDevice* TSplitViewForm::CheckHID(const QString& Name) const
{
    if (!JvHidDeviceController1 || !Name.contains(u"PID"_s)) return nullptr;
    for (TJvHidDevice* d : JvHidDeviceController1->PluggedDevices())
        if (d->Name().compare(Name.trimmed(), Qt::CaseInsensitive) == 0) return d;
    return nullptr;
}

void TSplitViewForm::HIDWrite(TJvHidDevice* HidDev, const std::array<quint8, 256>& Buffer)
{
    if (HidDev) HidDev->WriteOutputReport(Buffer.data(), int(Buffer.size()));
}

void TSplitViewForm::HidBlockSend(TJvHidDevice* HidDev, const QString& Text)
{
    const THidBlockSend send = HidPrepareBlockSend(Text);
    if (!send.Error.isEmpty()) {
        MainLogPrint(send.Error);
        return;
    }
    HIDWrite(HidDev, send.Buffer);
    MainLogPrint(send.Echo);
    if (!send.CutNotice.isEmpty()) MainLogPrint(send.CutNotice);
}
