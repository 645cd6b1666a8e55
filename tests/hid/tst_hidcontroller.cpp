#include "CvCodecs.h"
#include "CvHidText.h"
#include "THidScriptedBackend.h"
#include "TJvHidDeviceController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

struct TShownReport {
    TJvHidDevice* Device = nullptr;
    quint8 ReportID = 0;
    QByteArray Data;
    bool OnGuiThread = false;
};

THidScriptedBackend::TDevice device(const char* path, const QString& product, quint16 vid, quint16 pid,
                                    QByteArray descriptor = THidScriptedBackend::Descriptor(8, 64, 1))
{
    THidScriptedBackend::TDevice d;
    d.Path = path;
    d.ProductString = product;
    d.VendorID = vid;
    d.ProductID = pid;
    d.Descriptor = std::move(descriptor);
    return d;
}

// A controller wired the way the main window wires it: change, enumeration and data
// events in this order; the change event rebuilds the name list.
struct TRig {
    THidScriptedBackend* Backend = new THidScriptedBackend;
    std::unique_ptr<TJvHidDeviceController> Controller{
        new TJvHidDeviceController(std::unique_ptr<THidBackend>(Backend))};
    QStringList Names;
    QList<TJvHidDevice*> Objects;
    QList<TShownReport> Shown;
    std::function<void(TJvHidDevice*)> AfterReport;

    explicit TRig(const QList<THidScriptedBackend::TDevice>& present = {}, bool wire = true)
    {
        for (const auto& d : present) Backend->Plug(d);
        if (wire) Wire();
    }
    void Wire()
    {
        Controller->SetOnDeviceChange([this](TJvHidDeviceController* sender) {
            Names.clear();
            Objects.clear();
            sender->Enumerate();
        });
        Controller->SetOnEnumerate([this](TJvHidDevice* dev, int) {
            Names.append(dev->Name());
            Objects.append(dev);
            return true;
        });
        Controller->SetOnDeviceData([this](TJvHidDevice* dev, quint8 id, const quint8* data, quint16 size) {
            Shown.append({dev, id, QByteArray(reinterpret_cast<const char*>(data), size),
                          QThread::currentThread() == QCoreApplication::instance()->thread()});
            if (AfterReport) AfterReport(dev);
        });
    }
    TJvHidDevice* Find(const QString& name) const
    {
        const qsizetype at = Names.indexOf(name);
        return at < 0 ? nullptr : Objects.at(at);
    }
    QList<QByteArray> ShownData(TJvHidDevice* dev) const
    {
        QList<QByteArray> data;
        for (const auto& r : Shown)
            if (r.Device == dev) data.append(r.Data);
        return data;
    }
};

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list) b.append(char(v));
    return b;
}

} // namespace

class tst_HidController : public QObject {
    Q_OBJECT

private slots:
    void name_data();
    void name();
    void startupReportAfterWiring();
    void sameNames();
    void inputReport_data();
    void inputReport();
    void reportsInOrder();
    void outputReport_data();
    void outputReport();
    void unreadableBlockTextIsRefused_data();
    void unreadableBlockTextIsRefused();
    void writeNotCheckedOut();
    void blockTextCut_data();
    void blockTextCut();
    void pluggedWhileRunning();
    void checkInNotCheckedOut();
    void checkOutTwice();
    void noReadWriteAccess();
    void noDataHandler();
    void readFailureEndsWorker();
    void unpluggedWhileOpen_data();
    void unpluggedWhileOpen();
    void checkInShowsReportInHand();
    void checkInFromDataEvent();
    void checkOutFromDataEventDuringCheckIn();
    void twoDevicesFlowThenCheckIn();
    void destroyedWhileReading();
};

void tst_HidController::name_data()
{
    QTest::addColumn<QString>("product");
    QTest::addColumn<int>("vid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("port");

    QTest::newRow("keyboard") << "Keyboard" << 0x00AB << 0x00CD << "Keyboard VID 0x00AB PID 0x00CD"
                              << "PID 0x00CD";
    QTest::newRow("no product string") << "" << 0x1D50 << 0x6018 << " VID 0x1D50 PID 0x6018"
                                       << "PID 0x6018";
    QTest::newRow("upper-case digits") << "Pad" << 0xfeed << 0xbeef << "Pad VID 0xFEED PID 0xBEEF"
                                       << "PID 0xBEEF";
    QTest::newRow("control characters") << "Pad\r\nX\t" << 1 << 2 << "Pad__X_ VID 0x0001 PID 0x0002"
                                        << "PID 0x0002";
    QTest::newRow("cut at 254") << QString(300, u'k') << 1 << 2
                                << QString(254, u'k') + " VID 0x0001 PID 0x0002"
                                << "PID 0x0002";
    // The port name does not depend on what the product string holds.
    QTest::newRow("COM in product") << "Telecom COMBO (x)" << 0x0B0E << 0x0412
                                    << "Telecom COMBO (x) VID 0x0B0E PID 0x0412"
                                    << "PID 0x0412";
}

void tst_HidController::name()
{
    QFETCH(QString, product);
    QFETCH(int, vid);
    QFETCH(int, pid);
    QFETCH(QString, name);
    QFETCH(QString, port);

    TRig rig({device("/dev/hidraw0", product, quint16(vid), quint16(pid))});
    QTRY_COMPARE(rig.Names, QStringList{name});
    TJvHidDevice* dev = rig.Objects.first();
    QCOMPARE(dev->Name(), name);
    QCOMPARE(dev->PortName(), port);
    QCOMPARE(dev->VendorID(), quint16(vid));
    QCOMPARE(dev->ProductID(), quint16(pid));
    if (!product.contains(u"com", Qt::CaseInsensitive)) QCOMPARE(ExtractPortName(name), port);
}

void tst_HidController::startupReportAfterWiring()
{
    TRig rig({device("/dev/hidraw2", "A", 1, 1), device("/dev/hidraw0", "B", 1, 2),
              device("/dev/hidraw1", "C", 1, 3)});
    // The change event fired while it was attached came before the enumeration event.
    QCOMPARE(rig.Names, QStringList());
    // The start-up report lists every device in the system's order.
    QTRY_COMPARE(rig.Names, (QStringList{"A VID 0x0001 PID 0x0001", "B VID 0x0001 PID 0x0002",
                                         "C VID 0x0001 PID 0x0003"}));
}

void tst_HidController::sameNames()
{
    // One device with two interfaces of the same name, then a second such device.
    TRig rig({device("/dev/hidraw0", "Pad", 1, 2), device("/dev/hidraw1", "Pad", 1, 2)});
    QTRY_COMPARE(rig.Names, (QStringList{"Pad VID 0x0001 PID 0x0002", "Pad VID 0x0001 PID 0x0002 #2"}));
    QCOMPARE(ExtractPortName(rig.Names.at(1)), QString("PID 0x0002"));
    TJvHidDevice* second = rig.Objects.at(1);

    rig.Backend->Unplug("/dev/hidraw0");
    QTRY_COMPARE(rig.Names, QStringList{"Pad VID 0x0001 PID 0x0002 #2"});
    QCOMPARE(rig.Find("Pad VID 0x0001 PID 0x0002 #2"), second);

    rig.Backend->Plug(device("/dev/hidraw4", "Pad", 1, 2));
    rig.Backend->Plug(device("/dev/hidraw5", "Pad", 1, 2));
    QTRY_COMPARE(rig.Names, (QStringList{"Pad VID 0x0001 PID 0x0002 #2", "Pad VID 0x0001 PID 0x0002",
                                         "Pad VID 0x0001 PID 0x0002 #3"}));
}

void tst_HidController::inputReport_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<QByteArray>("fromSystem");
    QTest::addColumn<int>("reportID");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("line");

    const QByteArray eight = bytes({0x00, 0x0A, 0x7F, 0x80, 0xAB, 0xCD, 0xEF, 0xFF});
    const QString eightLine = "00 0A 7F 80 AB CD EF FF ";
    QTest::newRow("9 bytes, report id 1")
        << THidScriptedBackend::Descriptor(8, 0, 1) << char(1) + eight << 1 << eight << eightLine;
    // Without report ids the system leaves the id byte out; it is shown as report 0.
    QTest::newRow("9 bytes, unnumbered")
        << THidScriptedBackend::Descriptor(8, 0) << eight << 0 << eight << eightLine;
    QTest::newRow("short report") << THidScriptedBackend::Descriptor(8, 0, 7) << bytes({7, 0x12}) << 7
                                  << bytes({0x12}) << "12 ";
    QTest::newRow("report id only") << THidScriptedBackend::Descriptor(8, 0, 5) << bytes({5}) << 5
                                    << QByteArray() << "";
}

void tst_HidController::inputReport()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(QByteArray, fromSystem);
    QFETCH(int, reportID);
    QFETCH(QByteArray, data);
    QFETCH(QString, line);

    TRig rig({device("/dev/hidraw0", "Pad", 1, 2, descriptor)});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    QCOMPARE(dev->InputReportLength(), 9);
    QVERIFY(dev->CheckOut());
    QVERIFY(dev->IsReading());

    rig.Backend->QueueReport("/dev/hidraw0", fromSystem);
    QTRY_VERIFY(!rig.Shown.isEmpty());
    const TShownReport shown = rig.Shown.first();
    QCOMPARE(shown.Device, dev);
    QCOMPARE(int(shown.ReportID), reportID);
    QCOMPARE(shown.Data, data);
    QVERIFY(shown.OnGuiThread);
    QCOMPARE(HidReportText(reinterpret_cast<const quint8*>(shown.Data.constData()), int(shown.Data.size())),
             line);
    dev->CheckIn();
}

void tst_HidController::reportsInOrder()
{
    TRig rig({device("/dev/hidraw0", "Pad", 1, 2, THidScriptedBackend::Descriptor(4, 0, 1))});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    QVERIFY(dev->CheckOut());

    QList<QByteArray> expected;
    for (int k = 0; k < 200; ++k) {
        const QByteArray data = bytes({k & 0xFF, k >> 8, 0x55, 0xAA});
        expected.append(data);
        rig.Backend->QueueReport("/dev/hidraw0", char(1) + data);
    }
    QTRY_COMPARE(rig.ShownData(dev), expected);
    dev->CheckIn();
}

void tst_HidController::outputReport_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("outputData");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("echo");

    QTest::newRow("65-byte report") << "01 02 03" << 64 << bytes({1, 2, 3}) + QByteArray(62, '\0')
                                    << "> 01 02 03 ";
    QTest::newRow("cut to the report") << "01 02 03 04 05" << 3 << bytes({1, 2, 3, 4}) << "> 01 02 03 04 05 ";
    // Longer than the 256-byte send buffer: padded with zeros, nothing read past it.
    QTest::newRow("report above 256") << "AA" << 299 << char(0xAA) + QByteArray(299, '\0') << "> AA ";
    QTest::newRow("trimmed, separators") << "  7f-80,0x00 \r\n"
                                         << 3 << bytes({0x7F, 0x80, 0x00, 0}) << "> 7F 80 00 ";
    QTest::newRow("packed") << "7F8000" << 3 << bytes({0x7F, 0x80, 0x00, 0}) << "> 7F 80 00 ";
}

void tst_HidController::outputReport()
{
    QFETCH(QString, text);
    QFETCH(int, outputData);
    QFETCH(QByteArray, written);
    QFETCH(QString, echo);

    TRig rig({device("/dev/hidraw0", "Pad", 1, 2, THidScriptedBackend::Descriptor(8, outputData))});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    QCOMPARE(dev->OutputReportLength(), outputData + 1);
    QVERIFY(dev->CheckOut());

    const THidBlockSend send = HidPrepareBlockSend(text);
    QVERIFY(dev->WriteOutputReport(send.Buffer.data(), int(send.Buffer.size())));
    QCOMPARE(send.Echo, echo);
    QCOMPARE(send.CutNotice, QString());
    QCOMPARE(rig.Backend->Written("/dev/hidraw0"), QList<QByteArray>{written});
    dev->CheckIn();
}

void tst_HidController::unreadableBlockTextIsRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("where");
    QTest::newRow("odd digit") << "01 2"
                               << "position 4";
    QTest::newRow("free separator") << "7f-80x0"
                                    << "position 6";
}

void tst_HidController::unreadableBlockTextIsRefused()
{
    QFETCH(QString, text);
    QFETCH(QString, where);
    const THidBlockSend send = HidPrepareBlockSend(text);
    QVERIFY2(send.Error.contains(where) && send.Error.contains("Nothing was sent"), qPrintable(send.Error));
    QCOMPARE(send.Echo, QString());
    QCOMPARE(send.Buffer, THidBlockSend().Buffer);
}

void tst_HidController::writeNotCheckedOut()
{
    TRig rig({device("/dev/hidraw0", "Pad", 1, 2)});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    const THidBlockSend send = HidPrepareBlockSend("01 02 03");
    QVERIFY(!dev->WriteOutputReport(send.Buffer.data(), int(send.Buffer.size())));
    QCOMPARE(send.Echo, QString("> 01 02 03 "));
    QCOMPARE(rig.Backend->Written("/dev/hidraw0"), QList<QByteArray>());
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 0);
}

void tst_HidController::blockTextCut_data()
{
    QTest::addColumn<int>("groups");
    QTest::addColumn<QString>("notice");

    QTest::newRow("256 bytes") << 256 << "";
    QTest::newRow("257 bytes") << 257 << "HID send: only the first 256 bytes are sent, 1 more were cut.";
    QTest::newRow("300 bytes") << 300 << "HID send: only the first 256 bytes are sent, 44 more were cut.";
}

void tst_HidController::blockTextCut()
{
    QFETCH(int, groups);
    QFETCH(QString, notice);

    QString text;
    QByteArray expected;
    for (int k = 0; k < groups; ++k) {
        text += QString::asprintf("%02X ", (k + 1) & 0xFF);
        if (k < 256) expected.append(char((k + 1) & 0xFF));
    }
    const THidBlockSend send = HidPrepareBlockSend(text);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(send.Buffer.data()), int(send.Buffer.size())),
             expected);
    QCOMPARE(send.Echo, "> " + text.left(3 * 256));
    QCOMPARE(send.CutNotice, notice);
}

void tst_HidController::pluggedWhileRunning()
{
    TRig rig({device("/dev/hidraw0", "A", 1, 1), device("/dev/hidraw1", "B", 1, 2)});
    QTRY_COMPARE(rig.Names, (QStringList{"A VID 0x0001 PID 0x0001", "B VID 0x0001 PID 0x0002"}));
    TJvHidDevice* b = rig.Objects.at(1);

    rig.Backend->Plug(device("/dev/hidraw7", "C", 1, 3));
    // Seen only once the system's notice has been handled and the list rebuilt.
    QCOMPARE(rig.Names, (QStringList{"A VID 0x0001 PID 0x0001", "B VID 0x0001 PID 0x0002"}));
    QTRY_COMPARE(rig.Names, (QStringList{"A VID 0x0001 PID 0x0001", "B VID 0x0001 PID 0x0002",
                                         "C VID 0x0001 PID 0x0003"}));

    rig.Backend->Unplug("/dev/hidraw0");
    rig.Backend->Plug(device("/dev/hidraw0", "D", 1, 4));
    QTRY_COMPARE(rig.Names, (QStringList{"B VID 0x0001 PID 0x0002", "C VID 0x0001 PID 0x0003",
                                         "D VID 0x0001 PID 0x0004"}));
    QCOMPARE(rig.Objects.first(), b);
}

void tst_HidController::checkInNotCheckedOut()
{
    TRig rig({device("/dev/hidraw0", "A", 1, 1)});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    const QStringList names = rig.Names;

    dev->CheckIn();
    QVERIFY(!dev->IsCheckedOut());
    QVERIFY(dev->IsPluggedIn());
    QCOMPARE(rig.Controller->PluggedDevices(), QList<TJvHidDevice*>{dev});
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(rig.Names, names);
}

void tst_HidController::checkOutTwice()
{
    TRig rig({device("/dev/hidraw0", "A", 1, 1)});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    QVERIFY(dev->CheckOut());
    QVERIFY(!dev->CheckOut());
    QVERIFY(dev->IsCheckedOut());
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 1);
    dev->CheckIn();
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 0);
}

void tst_HidController::noReadWriteAccess()
{
    auto held = device("/dev/hidraw0", "Keyboard", 0x00AB, 0x00CD);
    held.Openable = false;
    TRig rig({held});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();

    // A device that does not open is not shown as open: it stays checked in and says why.
    QVERIFY(!dev->CheckOut());
    QVERIFY(!dev->IsCheckedOut());
    QVERIFY(!dev->HasReadWriteAccess());
    QCOMPARE(dev->OpenError(), EACCES);
    QVERIFY(!dev->IsReading());
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);
    const THidBlockSend send = HidPrepareBlockSend("01");
    QVERIFY(!dev->WriteOutputReport(send.Buffer.data(), int(send.Buffer.size())));
    dev->CheckIn();
    QVERIFY(!dev->IsCheckedOut());
}

void tst_HidController::noDataHandler()
{
    TRig rig({device("/dev/hidraw0", "A", 1, 1)}, false);
    QTRY_COMPARE(rig.Controller->PluggedDevices().size(), qsizetype(1));
    TJvHidDevice* dev = rig.Controller->PluggedDevices().first();

    QVERIFY(dev->CheckOut());
    QVERIFY(dev->HasReadWriteAccess());
    QVERIFY(!dev->IsReading());
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 0);
    const THidBlockSend send = HidPrepareBlockSend("01 02");
    QVERIFY(dev->WriteOutputReport(send.Buffer.data(), int(send.Buffer.size())));
    dev->CheckIn();
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 0);
}

void tst_HidController::readFailureEndsWorker()
{
    TRig rig({device("/dev/hidraw0", "Pad", 0x00AB, 0x00CD, THidScriptedBackend::Descriptor(2, 2, 1))});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    QPointer<TJvHidDevice> dev = rig.Objects.first();
    QSignalSpy stopped(rig.Controller.get(), &TJvHidDeviceController::DeviceReadStopped);
    QVERIFY(dev->CheckOut());
    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x10, 0x20}));
    QTRY_COMPARE(rig.ShownData(dev), QList<QByteArray>{bytes({0x10, 0x20})});

    rig.Backend->FailNextRead("/dev/hidraw0", "I/O error");
    QTRY_VERIFY(!stopped.isEmpty());
    QCOMPARE(stopped.first().at(0).value<TJvHidDevice*>(), dev.data());
    QCOMPARE(stopped.first().at(1).toString(),
             QString("HID device Pad VID 0x00AB PID 0x00CD stopped reading: I/O error"));
    QVERIFY(!dev->IsReading());
    QVERIFY(dev->IsCheckedOut());

    QElapsedTimer clock;
    clock.start();
    dev->CheckIn();
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);
    // A failed read does not lose the device: it can be opened and read again.
    QVERIFY(dev->IsPluggedIn());
    QVERIFY(dev->CheckOut());
    QVERIFY(dev->IsReading());
    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x30, 0x40}));
    QTRY_COMPARE(rig.ShownData(dev), (QList<QByteArray>{bytes({0x10, 0x20}), bytes({0x30, 0x40})}));
    dev->CheckIn();
}

void tst_HidController::unpluggedWhileOpen_data()
{
    QTest::addColumn<bool>("reading");
    QTest::newRow("read worker running") << true;
    QTest::newRow("no input report") << false;
}

void tst_HidController::unpluggedWhileOpen()
{
    QFETCH(bool, reading);
    const auto pad =
        device("/dev/hidraw0", "Pad", 0x00AB, 0x00CD, THidScriptedBackend::Descriptor(reading ? 2 : 0, 2, 1));
    TRig rig({pad});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    QPointer<TJvHidDevice> dev = rig.Objects.first();
    // Told while the device is still there to ask: it is dropped soon after.
    QStringList unplugged;
    QObject::connect(rig.Controller.get(), &TJvHidDeviceController::DeviceUnplugged, rig.Controller.get(),
                     [&unplugged](TJvHidDevice* d) {
                         unplugged << d->Name() + (d->IsCheckedOut() ? " open" : " closed");
                     });
    QSignalSpy stopped(rig.Controller.get(), &TJvHidDeviceController::DeviceReadStopped);
    QVERIFY(dev->CheckOut());
    QCOMPARE(dev->IsReading(), reading);

    // Unplugging closes it: handles released, no read failure reported, gone from the list.
    rig.Backend->Unplug("/dev/hidraw0");
    QTRY_COMPARE(unplugged, QStringList{"Pad VID 0x00AB PID 0x00CD closed"});
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);
    QTRY_COMPARE(rig.Names, QStringList());
    QTRY_VERIFY(dev.isNull());
    QCOMPARE(stopped.size(), 0);

    // Plugged in again, it is listed under its own name, not as a second one.
    rig.Backend->Plug(pad);
    QTRY_COMPARE(rig.Names, QStringList{"Pad VID 0x00AB PID 0x00CD"});
    QVERIFY(rig.Objects.first()->CheckOut());

    // Unplugged and plugged in again under another node before the next scan: one scan
    // sees both, and the new node still gets the device's own name.
    QPointer<TJvHidDevice> again = rig.Objects.first();
    auto moved = pad;
    moved.Path = "/dev/hidraw1";
    rig.Backend->Unplug("/dev/hidraw0");
    rig.Backend->Plug(moved);
    rig.Controller->Rescan();
    QCOMPARE(unplugged.size(), 2);
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);
    QCOMPARE(rig.Names, QStringList{"Pad VID 0x00AB PID 0x00CD"});
    QCOMPARE(rig.Objects.first()->DevicePath(), QByteArray("/dev/hidraw1"));
    QTRY_VERIFY(again.isNull());
}

void tst_HidController::checkInShowsReportInHand()
{
    TRig rig({device("/dev/hidraw0", "Pad", 1, 2, THidScriptedBackend::Descriptor(1, 0, 1))});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    QVERIFY(dev->CheckOut());

    // The worker reads the report and waits for the GUI thread, which is busy here.
    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x42}));
    QElapsedTimer clock;
    clock.start();
    while (rig.Backend->QueuedReports("/dev/hidraw0") > 0 && clock.elapsed() < 5000) QThread::msleep(5);
    QCOMPARE(rig.Backend->QueuedReports("/dev/hidraw0"), 0);
    QVERIFY(rig.Shown.isEmpty());

    dev->CheckIn();
    QCOMPARE(rig.ShownData(dev), QList<QByteArray>{bytes({0x42})});
    QCoreApplication::processEvents();
    QCOMPARE(rig.ShownData(dev), QList<QByteArray>{bytes({0x42})});
}

void tst_HidController::checkInFromDataEvent()
{
    TRig rig({device("/dev/hidraw0", "Pad", 1, 2, THidScriptedBackend::Descriptor(1, 0, 1))});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    rig.AfterReport = [](TJvHidDevice* d) { d->CheckIn(); };
    QVERIFY(dev->CheckOut());
    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x01}));
    QTRY_VERIFY(!dev->IsCheckedOut());
    QCOMPARE(rig.ShownData(dev), QList<QByteArray>{bytes({0x01})});
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);

    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x02}));
    QTest::qWait(250);
    QCOMPARE(rig.ShownData(dev), QList<QByteArray>{bytes({0x01})});
}

void tst_HidController::checkOutFromDataEventDuringCheckIn()
{
    TRig rig({device("/dev/hidraw0", "Pad", 1, 2, THidScriptedBackend::Descriptor(1, 0, 1))});
    QTRY_VERIFY(!rig.Objects.isEmpty());
    TJvHidDevice* dev = rig.Objects.first();
    QVERIFY(dev->CheckOut());
    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x01}));
    QElapsedTimer clock;
    clock.start();
    while (rig.Backend->QueuedReports("/dev/hidraw0") > 0 && clock.elapsed() < 5000) QThread::msleep(5);

    // The report in hand is shown during the check-in, and its handler opens the device again.
    rig.AfterReport = [](TJvHidDevice* d) { d->CheckOut(); };
    dev->CheckIn();
    rig.AfterReport = nullptr;
    QVERIFY(dev->IsCheckedOut());
    QVERIFY(dev->IsReading());
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 1);
    rig.Backend->QueueReport("/dev/hidraw0", bytes({1, 0x02}));
    QTRY_COMPARE(rig.ShownData(dev), (QList<QByteArray>{bytes({0x01}), bytes({0x02})}));
    dev->CheckIn();
    QCOMPARE(rig.Backend->OpenHandles("/dev/hidraw0"), 0);
}

void tst_HidController::twoDevicesFlowThenCheckIn()
{
    TRig rig({device("/dev/hidraw0", "A", 1, 1, THidScriptedBackend::Descriptor(4, 4, 1)),
              device("/dev/hidraw1", "B", 1, 2, THidScriptedBackend::Descriptor(4, 4, 2))});
    QTRY_COMPARE(rig.Objects.size(), qsizetype(2));
    TJvHidDevice* a = rig.Objects.at(0);
    TJvHidDevice* b = rig.Objects.at(1);
    QVERIFY(a->CheckOut());
    QVERIFY(b->CheckOut());

    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        for (quint32 k = 0; feeding; ++k) {
            const QByteArray n(reinterpret_cast<const char*>(&k), 4);
            rig.Backend->QueueReport("/dev/hidraw0", char(1) + n);
            rig.Backend->QueueReport("/dev/hidraw1", char(2) + n);
            if (rig.Backend->QueuedReports("/dev/hidraw0") > 64)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const QByteArray sendA = bytes({1, 0xA1, 0xA2, 0xA3, 0xA4});
    QTRY_VERIFY(rig.ShownData(a).size() > 50 && rig.ShownData(b).size() > 50);
    // Writes on the GUI thread while both workers read.
    QVERIFY(a->WriteOutputReport(reinterpret_cast<const quint8*>(sendA.constData()), int(sendA.size())));
    a->CheckIn();
    b->CheckIn();
    feeding = false;
    feeder.join();
    QCOMPARE(rig.Backend->OpenHandlesTotal(), 0);

    // Each device's reports arrived complete and in order.
    for (TJvHidDevice* dev : {a, b}) {
        const QList<QByteArray> data = rig.ShownData(dev);
        for (int k = 0; k < data.size(); ++k) {
            quint32 n = 0;
            std::memcpy(&n, data.at(k).constData(), 4);
            QCOMPARE(n, quint32(k));
        }
    }
    const qsizetype shown = rig.Shown.size();
    QTest::qWait(250);
    QCOMPARE(rig.Shown.size(), shown);
    QCOMPARE(rig.Backend->Written("/dev/hidraw0"), QList<QByteArray>{sendA});
}

void tst_HidController::destroyedWhileReading()
{
    TRig rig({device("/dev/hidraw0", "A", 1, 1, THidScriptedBackend::Descriptor(1, 0, 1)),
              device("/dev/hidraw1", "B", 1, 2, THidScriptedBackend::Descriptor(1, 0, 1))});
    QTRY_COMPARE(rig.Objects.size(), qsizetype(2));
    for (TJvHidDevice* dev : rig.Objects) QVERIFY(dev->CheckOut());
    for (int k = 0; k < 20; ++k) {
        rig.Backend->QueueReport("/dev/hidraw0", bytes({1, k}));
        rig.Backend->QueueReport("/dev/hidraw1", bytes({1, k}));
    }
    QThread::msleep(20);
    QElapsedTimer clock;
    clock.start();
    rig.Controller.reset();
    QVERIFY(clock.elapsed() < 1000);
    const qsizetype shown = rig.Shown.size();
    QCoreApplication::processEvents();
    QCOMPARE(rig.Shown.size(), shown);
}

QTEST_GUILESS_MAIN(tst_HidController)
#include "tst_hidcontroller.moc"
