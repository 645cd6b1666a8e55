#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

// One HID interface as the system lists it.
struct THidDeviceInfo {
    QByteArray Path; // identifies the interface while it stays plugged in
    QString ProductString;
    quint16 VendorID = 0;
    quint16 ProductID = 0;
};

// An open connection to a HID interface. One thread at a time uses a handle; a read
// handle and a write handle of the same device may be used by two threads at once.
class THidHandle {
public:
    virtual ~THidHandle() = default;
};

// Everything the HID controller asks of the system. The controller calls Enumerate,
// Open, Close, ReportDescriptor and WatchChanges on the GUI thread; Read runs on the
// device's read worker while the GUI thread may enumerate or write.
class THidBackend {
public:
    virtual ~THidBackend() = default;

    // The interfaces present, in the system's order.
    virtual QList<THidDeviceInfo> Enumerate() = 0;
    // The raw report descriptor; empty when it cannot be read.
    virtual QByteArray ReportDescriptor(const QByteArray& path) = 0;
    // Null when the interface cannot be opened for reading and writing; *errorCode (when
    // given) then holds the system's reason as an errno value.
    virtual THidHandle* Open(const QByteArray& path, int* errorCode) = 0;
    virtual void Close(THidHandle* handle) = 0;
    // Waits at most timeoutMs for one input report. Returns its length (the report id
    // byte leads only when the device numbers its reports), 0 on time-out, -1 when the
    // device failed or is gone; *error then says why.
    virtual int Read(THidHandle* handle, quint8* buffer, int size, int timeoutMs, QString* error) = 0;
    // Writes one output report, report id first. Returns the bytes written or -1.
    virtual int Write(THidHandle* handle, const quint8* data, int size) = 0;
    // onChange runs on the GUI thread whenever interfaces may have come or gone.
    virtual void WatchChanges(std::function<void()> onChange) = 0;
};
