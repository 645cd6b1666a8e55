#pragma once

#include "THidBackend.h"
#include "THidReportLayout.h"

#include <QObject>

#include <memory>

class THidReadWorker;
class TJvHidDeviceController;

// One HID interface known to the controller. The controller creates it when a scan
// finds the interface and frees it (later, through the event loop) once it is gone and
// checked in. All calls on the GUI thread.
class TJvHidDevice : public QObject {
    Q_OBJECT

public:
    static constexpr int kReadPollIntervalMs = 100;

    ~TJvHidDevice() override;

    QString ProductName() const { return FProductName; }
    quint16 VendorID() const { return FInfo.VendorID; }
    quint16 ProductID() const { return FInfo.ProductID; }
    QByteArray DevicePath() const { return FInfo.Path; }
    // Report lengths in bytes, the report id byte included; 0 when there is none.
    int InputReportLength() const { return FLayout.InputReportLength; }
    int OutputReportLength() const { return FLayout.OutputReportLength; }
    bool NumberedReports() const { return FLayout.NumberedReports; }
    // The list name, "Keyboard VID 0x00AB PID 0x00CD". Interfaces of the same name
    // (two identical devices, or one device with several interfaces) would be
    // indistinguishable in a list looked up by name: the second one present gets
    // " #2", the next " #3"; a device keeps its name while the controller holds it.
    QString Name() const { return FName; }
    // "PID 0x00CD".
    QString PortName() const;

    bool IsPluggedIn() const { return FPluggedIn; }
    bool IsCheckedOut() const { return FCheckedOut; }
    // Known once checked out: whether the device could be opened for reading and writing.
    bool HasReadWriteAccess() const { return FReadWriteAccess; }
    // The read worker is running (not yet stopped and no read failure).
    bool IsReading() const;

    // Plugged in and not checked out: opens it, marks it checked out and, when the
    // controller has a data event, starts the read worker. A device that cannot be
    // opened for reading and writing stays checked in (OpenError says why). Returns
    // whether this call checked it out.
    bool CheckOut();
    // The errno value of the last check-out that could not open the device; 0 after one that could.
    int OpenError() const { return FOpenError; }
    // Ends the read worker (a report it already read is still shown), closes the
    // device; a device unplugged meanwhile is then dropped. Not checked out: nothing.
    void CheckIn();

    // Writes size bytes as one output report (report id first). Fails unless checked
    // out, plugged in and writable.
    bool Write(const quint8* data, int size);
    // One output report of exactly OutputReportLength bytes from buffer: the buffer's
    // bytes, cut or padded with zeros to that length.
    bool WriteOutputReport(const quint8* buffer, int bufferSize);

private:
    friend class TJvHidDeviceController;

    TJvHidDevice(TJvHidDeviceController* controller, const THidDeviceInfo& info,
                 const THidReportLayout& layout, int sameNameIndex);
    // Stops the worker and closes the handles; deliverLeftover as THidReadWorker::Stop.
    void Release(bool deliverLeftover);

    TJvHidDeviceController* FController;
    THidDeviceInfo FInfo;
    QString FProductName;
    QString FName;
    THidReportLayout FLayout;
    bool FPluggedIn = true;
    bool FCheckedOut = false;
    bool FReadWriteAccess = false;
    int FOpenError = 0;
    THidHandle* FReadHandle = nullptr;
    // Writes use a handle of their own: reads and writes then never share one.
    THidHandle* FWriteHandle = nullptr;
    std::unique_ptr<THidReadWorker> FWorker;
};
