#include "TJvHidDevice.h"

#include "CvHidText.h"
#include "THidReadWorker.h"
#include "TJvHidDeviceController.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

TJvHidDevice::TJvHidDevice(TJvHidDeviceController* controller, const THidDeviceInfo& info,
                           const THidReportLayout& layout, int sameNameIndex)
    : QObject(controller), FController(controller), FInfo(info),
      FProductName(HidCleanProductString(info.ProductString)),
      FName(HidDeviceName(FProductName, info.VendorID, info.ProductID)), FLayout(layout)
{
    if (sameNameIndex > 1) FName += QStringLiteral(" #%1").arg(sameNameIndex);
}

TJvHidDevice::~TJvHidDevice()
{
    Release(false);
}

QString TJvHidDevice::PortName() const
{
    return HidPortName(FInfo.ProductID);
}

bool TJvHidDevice::IsReading() const
{
    return FWorker && FWorker->Running();
}

bool TJvHidDevice::CheckOut()
{
    if (!FPluggedIn || FCheckedOut) return false;
    THidBackend* backend = FController->Backend();
    int error = 0;
    FReadHandle = backend->Open(FInfo.Path, &error);
    FReadWriteAccess = FReadHandle != nullptr;
    // A device that cannot be opened is not shown as open: it would read and write nothing.
    FOpenError = FReadHandle != nullptr ? 0 : (error != 0 ? error : EIO);
    if (FReadHandle == nullptr) return false;
    FCheckedOut = true;
    if (FController->HasDataHandler() && FLayout.InputReportLength > 0) {
        FWorker = std::make_unique<THidReadWorker>(FController, this, backend, FReadHandle,
                                                   FLayout.InputReportLength, FLayout.NumberedReports,
                                                   kReadPollIntervalMs);
    } else {
        backend->Close(FReadHandle);
        FReadHandle = nullptr;
    }
    return true;
}

void TJvHidDevice::CheckIn()
{
    if (!FCheckedOut) return;
    // Marked first: the data event may run inside Release and call CheckIn again.
    FCheckedOut = false;
    Release(true);
    if (!FPluggedIn) FController->Discard(this);
}

void TJvHidDevice::Release(bool deliverLeftover)
{
    // Taken first: the data event run by Stop may check the device out again, and
    // what it opens then is not ours to close.
    const auto worker = std::move(FWorker);
    THidHandle* const readHandle = std::exchange(FReadHandle, nullptr);
    THidHandle* const writeHandle = std::exchange(FWriteHandle, nullptr);
    if (worker) worker->Stop(deliverLeftover);
    if (readHandle != nullptr) FController->Backend()->Close(readHandle);
    if (writeHandle != nullptr) FController->Backend()->Close(writeHandle);
}

bool TJvHidDevice::Write(const quint8* data, int size)
{
    if (!FCheckedOut || !FPluggedIn || data == nullptr || size <= 0) return false;
    THidBackend* backend = FController->Backend();
    if (FWriteHandle == nullptr) FWriteHandle = backend->Open(FInfo.Path, nullptr);
    if (FWriteHandle == nullptr) return false;
    if (backend->Write(FWriteHandle, data, size) == size) return true;
    // The handle may be dead (device gone); the next write opens a fresh one.
    backend->Close(FWriteHandle);
    FWriteHandle = nullptr;
    return false;
}

bool TJvHidDevice::WriteOutputReport(const quint8* buffer, int bufferSize)
{
    const int length = FLayout.OutputReportLength;
    if (length <= 0) return false;
    QByteArray report(length, '\0');
    if (buffer != nullptr && bufferSize > 0)
        std::memcpy(report.data(), buffer, size_t(std::min(length, bufferSize)));
    return Write(reinterpret_cast<const quint8*>(report.constData()), length);
}
