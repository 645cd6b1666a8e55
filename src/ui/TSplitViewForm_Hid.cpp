// HID devices in the main window: the controller, its change, enumeration and data events,
// and writing one output report.
#include "TSplitViewForm.h"

#include "CvHidText.h"
#include "CvMessages.h"
#include "THidBackend.h"
#include "TJvHidDevice.h"
#include "TJvHidDeviceController.h"

#include <QComboBox>

#include <cerrno>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {
// Why a HID device did not open, and what helps.
QString HidOpenReason(int Code) {
    switch (Code) {
    case EACCES:
    case EPERM:
        return Msg(u"permission denied. Install the udev rule that lets the logged-in user open HID devices "
                   u"(60-corvane-hidraw.rules, see README) and plug the device in again."_s);
    case EBUSY:
        return Msg(u"the device is in use by another program."_s);
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Msg(u"the device is gone (unplugged?)."_s);
    case ENOTTY:
        return Msg(u"it does not answer as a HID device."_s);
    default:
        return QString::fromLocal8Bit(std::strerror(Code));
    }
}

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
    // The controller has closed it already; the device list follows with the change event.
    connect(JvHidDeviceController1, &TJvHidDeviceController::DeviceUnplugged, this,
            [this](TJvHidDevice* HidDev) {
                MainLogPrint(Msg(u"HID device %1 was unplugged and closed."_s).arg(HidDev->Name()));
            });
}

void TSplitViewForm::JvHidDeviceController1DeviceChange(TJvHidDeviceController* Sender)
{
    const QStringList before = CvHIDDeviceList;
    CvHIDDeviceList.clear();
    Sender->Enumerate();
    // HID devices show in the device list as they come and go. Not before start-up has
    // listed the devices once: the controller reports while the window is being built.
    if (!FDeviceMonitor || CvHIDDeviceList == before) return;
    const QString selected = GetCurrentDeviceName();
    RefreshDeviceList(QString(), DeviceArrival);
    // The device the user had selected stays selected while it is listed.
    const int at = selected.isEmpty() ? -1 : ComboBoxEx1->findText(selected, Qt::MatchFixedString);
    if (at >= 0 && at != ComboBoxEx1->currentIndex()) {
        ComboBoxEx1->setCurrentIndex(at);
        ComboBoxEx1Change();
    }
}

bool TSplitViewForm::HidCheckOut(TJvHidDevice* HidDev) {
    if (HidDev->CheckOut()) return true;
    if (!HidDev->IsCheckedOut())
        MainLogPrint(
            Msg(u"Can not open HID device %1: %2"_s).arg(HidDev->Name(), HidOpenReason(HidDev->OpenError())));
    return HidDev->IsCheckedOut();
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

bool TSplitViewForm::HIDWrite(TJvHidDevice* HidDev, const std::array<quint8, 256>& Buffer) {
    return HidDev && HidDev->WriteOutputReport(Buffer.data(), int(Buffer.size()));
}

void TSplitViewForm::HidBlockSend(TJvHidDevice* HidDev, const QString& Text)
{
    const THidBlockSend send = HidPrepareBlockSend(Text);
    if (!send.Error.isEmpty()) {
        MainLogPrint(send.Error);
        return;
    }
    // The echo says what went to the device: nothing is echoed that was not written.
    if (!HIDWrite(HidDev, send.Buffer)) {
        const QString name = HidDev ? HidDev->Name() : QString();
        if (!HidDev || !HidDev->IsCheckedOut())
            MainLogPrint(Msg(u"Can not write to HID device %1: it is not open."_s).arg(name));
        else if (HidDev->OutputReportLength() <= 0)
            MainLogPrint(Msg(u"Can not write to HID device %1: it has no output report."_s).arg(name));
        else
            MainLogPrint(Msg(u"Can not write to HID device %1: the report was not written."_s).arg(name));
        return;
    }
    // A report shorter than the text carries only its first bytes: the echo shows those.
    const int length = HidDev->OutputReportLength();
    const int decoded = int((send.Echo.size() - 2) / 3);
    if (decoded > length) {
        MainLogPrint(send.Echo.left(2 + 3 * length));
        MainLogPrint(Msg(u"HID send: the output report holds %1 bytes; %2 more were not sent."_s)
                         .arg(QString::number(length), QString::number(decoded - length)));
        return;
    }
    MainLogPrint(send.Echo);
    if (!send.CutNotice.isEmpty()) MainLogPrint(send.CutNotice);
}
