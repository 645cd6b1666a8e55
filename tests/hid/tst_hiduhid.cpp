#include "CvHidText.h"
#include "THidScriptedBackend.h"
#include "TJvHidDeviceController.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

// The controller over the system's real HID services (hidapi, hidraw). With /dev/uhid
// a virtual HID device is created and driven end to end; without it only the start-up
// report is checked.
class tst_HidUhid : public QObject {
    Q_OBJECT

private slots:
    void systemStartupReport();
    void virtualDevice();
};

namespace {

constexpr quint16 kVendor = 0x1D50;
constexpr quint16 kProduct = 0x61CD;
constexpr char kProductName[] = "Corvane Test Pad";

bool sendEvent(int fd, const uhid_event& ev)
{
    return write(fd, &ev, sizeof ev) == ssize_t(sizeof ev);
}

// The next output report the kernel passes to the virtual device, within timeoutMs.
QByteArray nextOutputReport(int fd, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, int(timeoutMs - clock.elapsed())) <= 0) break;
        uhid_event ev{};
        if (read(fd, &ev, sizeof ev) <= 0) break;
        if (ev.type == UHID_OUTPUT)
            return QByteArray(reinterpret_cast<const char*>(ev.u.output.data), ev.u.output.size);
    }
    return {};
}

} // namespace

void tst_HidUhid::systemStartupReport()
{
    TJvHidDeviceController controller;
    QStringList names;
    bool reported = false;
    controller.SetOnDeviceChange([&](TJvHidDeviceController* sender) {
        reported = true;
        names.clear();
        sender->Enumerate();
    });
    controller.SetOnEnumerate([&](TJvHidDevice* dev, int) {
        names.append(dev->Name());
        return true;
    });
    reported = false;
    QTRY_VERIFY(reported);
    static const QRegularExpression form(
        QStringLiteral("^.* VID 0x[0-9A-F]{4} PID 0x[0-9A-F]{4}( #[0-9]+)?$"));
    for (const QString& name : names) QVERIFY2(form.match(name).hasMatch(), qPrintable(name));
}

void tst_HidUhid::virtualDevice()
{
    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        QSKIP("/dev/uhid cannot be opened (the uhid module and root, or write access to /dev/uhid, are "
              "needed): the virtual HID device scenario is skipped. Run this test as root on a machine "
              "with uhid to drive a real hidraw device.");
    const auto closeUhid = qScopeGuard([fd] {
        uhid_event destroy{};
        destroy.type = UHID_DESTROY;
        sendEvent(fd, destroy);
        close(fd);
    });

    // 8 input and 64 output bytes, no report ids.
    const QByteArray descriptor = THidScriptedBackend::Descriptor(8, 64);
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(create.u.create2.name), kProductName,
                 sizeof create.u.create2.name - 1);
    create.u.create2.rd_size = quint16(descriptor.size());
    // Bluetooth: hidapi takes the product string from the HID name, with no USB parent needed.
    create.u.create2.bus = 0x05;
    create.u.create2.vendor = kVendor;
    create.u.create2.product = kProduct;
    std::memcpy(create.u.create2.rd_data, descriptor.constData(), size_t(descriptor.size()));
    QVERIFY2(sendEvent(fd, create), "UHID_CREATE2 failed");

    TJvHidDeviceController controller;
    QList<QPair<quint8, QByteArray>> shown;
    controller.SetOnDeviceData([&](TJvHidDevice*, quint8 id, const quint8* data, quint16 size) {
        shown.append({id, QByteArray(reinterpret_cast<const char*>(data), size)});
    });
    auto find = [&controller]() -> TJvHidDevice* {
        for (TJvHidDevice* dev : controller.PluggedDevices())
            if (dev->VendorID() == kVendor && dev->ProductID() == kProduct) return dev;
        return nullptr;
    };
    QTRY_VERIFY_WITH_TIMEOUT(find() != nullptr, 10000);
    QPointer<TJvHidDevice> dev = find();
    QCOMPARE(dev->Name(), QString("Corvane Test Pad VID 0x1D50 PID 0x61CD"));
    QCOMPARE(dev->PortName(), QString("PID 0x61CD"));
    QCOMPARE(dev->InputReportLength(), 9);
    QCOMPARE(dev->OutputReportLength(), 65);

    QVERIFY(dev->CheckOut());
    QVERIFY2(dev->HasReadWriteAccess(), "the hidraw node of the virtual device cannot be opened");
    QVERIFY(dev->IsReading());

    const QByteArray input = QByteArray::fromHex("0102030405060708");
    uhid_event in{};
    in.type = UHID_INPUT2;
    in.u.input2.size = quint16(input.size());
    std::memcpy(in.u.input2.data, input.constData(), size_t(input.size()));
    QVERIFY(sendEvent(fd, in));
    QTRY_COMPARE(shown, (QList<QPair<quint8, QByteArray>>{{quint8(0), input}}));

    const THidBlockSend send = HidPrepareBlockSend("01 02 03");
    QVERIFY(dev->WriteOutputReport(send.Buffer.data(), int(send.Buffer.size())));
    QCOMPARE(nextOutputReport(fd, 3000), QByteArray::fromHex("010203") + QByteArray(62, '\0'));

    // Unplugged while open: the controller closes it by itself.
    QSignalSpy unplugged(&controller, &TJvHidDeviceController::DeviceUnplugged);
    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    QVERIFY(sendEvent(fd, destroy));
    QTRY_VERIFY_WITH_TIMEOUT(!unplugged.isEmpty(), 5000);
    QVERIFY(dev.isNull() || !dev->IsCheckedOut());
    QTRY_VERIFY_WITH_TIMEOUT(dev.isNull() && find() == nullptr, 5000);
}

QTEST_GUILESS_MAIN(tst_HidUhid)
#include "tst_hiduhid.moc"
