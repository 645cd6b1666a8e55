#include "THidScriptedBackend.h"

#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

struct THidScriptedBackend::THandle : THidHandle {
    std::shared_ptr<TState> State;
};

THidScriptedBackend::THidScriptedBackend() = default;
THidScriptedBackend::~THidScriptedBackend() = default;

QByteArray THidScriptedBackend::Descriptor(int inputDataBytes, int outputDataBytes, quint8 reportID)
{
    QByteArray d;
    auto add = [&d](std::initializer_list<int> bytes) {
        for (int b : bytes) d.append(char(b));
    };
    add({0x06, 0x00, 0xFF}); // usage page, vendor defined
    add({0x09, 0x01});       // usage
    add({0xA1, 0x01});       // collection, application
    if (reportID > 0) add({0x85, reportID});
    add({0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08}); // logical 0..255, 8 bits
    if (inputDataBytes > 0) {
        add({0x96, inputDataBytes & 0xFF, inputDataBytes >> 8}); // report count
        add({0x09, 0x01, 0x81, 0x02});                           // usage, input (data, var, abs)
    }
    if (outputDataBytes > 0) {
        add({0x96, outputDataBytes & 0xFF, outputDataBytes >> 8});
        add({0x09, 0x01, 0x91, 0x02}); // usage, output
    }
    add({0xC0}); // end collection
    return d;
}

std::shared_ptr<THidScriptedBackend::TState> THidScriptedBackend::Find(const QByteArray& path) const
{
    for (const auto& state : FStates)
        if (state->Device.Path == path) return state;
    return nullptr;
}

void THidScriptedBackend::Plug(const TDevice& device)
{
    {
        std::lock_guard lock(FMutex);
        auto state = std::make_shared<TState>();
        state->Device = device;
        FStates.push_back(std::move(state));
    }
    NotifyLater();
}

void THidScriptedBackend::Unplug(const QByteArray& path)
{
    {
        std::lock_guard lock(FMutex);
        const auto state = Find(path);
        if (!state) return;
        state->Plugged = false;
        FStates.erase(std::remove(FStates.begin(), FStates.end(), state), FStates.end());
    }
    FChanged.notify_all();
    NotifyLater();
}

void THidScriptedBackend::QueueReport(const QByteArray& path, const QByteArray& report)
{
    {
        std::lock_guard lock(FMutex);
        if (const auto state = Find(path)) state->Reports.push_back(report);
    }
    FChanged.notify_all();
}

void THidScriptedBackend::FailNextRead(const QByteArray& path, const QString& error)
{
    {
        std::lock_guard lock(FMutex);
        if (const auto state = Find(path))
            state->FailWith = error.isEmpty() ? QStringLiteral("read failed") : error;
    }
    FChanged.notify_all();
}

QList<QByteArray> THidScriptedBackend::Written(const QByteArray& path) const
{
    std::lock_guard lock(FMutex);
    const auto state = Find(path);
    return state ? state->Writes : QList<QByteArray>();
}

int THidScriptedBackend::OpenHandles(const QByteArray& path) const
{
    std::lock_guard lock(FMutex);
    const auto state = Find(path);
    return state ? state->OpenHandles : 0;
}

int THidScriptedBackend::OpenHandlesTotal() const
{
    std::lock_guard lock(FMutex);
    return FOpenHandlesTotal;
}

int THidScriptedBackend::QueuedReports(const QByteArray& path) const
{
    std::lock_guard lock(FMutex);
    const auto state = Find(path);
    return state ? int(state->Reports.size()) : 0;
}

QList<THidDeviceInfo> THidScriptedBackend::Enumerate()
{
    std::lock_guard lock(FMutex);
    QList<THidDeviceInfo> list;
    for (const auto& state : FStates)
        list.append({state->Device.Path, state->Device.ProductString, state->Device.VendorID,
                     state->Device.ProductID});
    return list;
}

QByteArray THidScriptedBackend::ReportDescriptor(const QByteArray& path)
{
    std::lock_guard lock(FMutex);
    const auto state = Find(path);
    return state ? state->Device.Descriptor : QByteArray();
}

THidHandle* THidScriptedBackend::Open(const QByteArray& path, int* errorCode)
{
    std::lock_guard lock(FMutex);
    const auto state = Find(path);
    if (!state || !state->Device.Openable) {
        if (errorCode != nullptr) *errorCode = state ? state->Device.OpenError : ENOENT;
        return nullptr;
    }
    ++state->OpenHandles;
    ++FOpenHandlesTotal;
    auto* handle = new THandle;
    handle->State = state;
    return handle;
}

void THidScriptedBackend::Close(THidHandle* handle)
{
    if (handle == nullptr) return;
    {
        std::lock_guard lock(FMutex);
        --static_cast<THandle*>(handle)->State->OpenHandles;
        --FOpenHandlesTotal;
    }
    delete handle;
}

int THidScriptedBackend::Read(THidHandle* handle, quint8* buffer, int size, int timeoutMs, QString* error)
{
    TState& state = *static_cast<THandle*>(handle)->State;
    std::unique_lock lock(FMutex);
    FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&state] {
        return !state.Plugged || !state.FailWith.isEmpty() || !state.Reports.empty();
    });
    if (!state.Plugged) {
        if (error != nullptr) *error = QStringLiteral("device unplugged");
        return -1;
    }
    if (!state.FailWith.isEmpty()) {
        if (error != nullptr) *error = state.FailWith;
        state.FailWith.clear();
        return -1;
    }
    if (state.Reports.empty()) return 0;
    const QByteArray report = state.Reports.front();
    state.Reports.pop_front();
    const int n = std::min<int>(size, int(report.size()));
    std::memcpy(buffer, report.constData(), size_t(n));
    return n;
}

int THidScriptedBackend::Write(THidHandle* handle, const quint8* data, int size)
{
    TState& state = *static_cast<THandle*>(handle)->State;
    std::lock_guard lock(FMutex);
    if (!state.Plugged) return -1;
    state.Writes.append(QByteArray(reinterpret_cast<const char*>(data), size));
    return size;
}

void THidScriptedBackend::WatchChanges(std::function<void()> onChange)
{
    FOnChange = std::move(onChange);
}

void THidScriptedBackend::NotifyLater()
{
    // Queued, as a system notice would be: the plug is seen only when the event loop runs.
    QMetaObject::invokeMethod(
        &FContext,
        [this] {
            if (FOnChange) FOnChange();
        },
        Qt::QueuedConnection);
}
