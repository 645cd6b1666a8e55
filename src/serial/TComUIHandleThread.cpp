#include "TComUIHandleThread.h"

#include "CvCodecs.h"
#include "TCvComPortObj.h"
#include "TLogModel.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

namespace {
// How much one pass takes: large enough to keep up with a flood, small enough that a
// suspend or a terminate request is answered quickly.
constexpr qint64 kBytesPerPass = 16 * 1024;
constexpr qint64 kLinesPerPass = 512;
// Changes waiting for the GUI thread beyond which the worker lets it catch up.
constexpr std::size_t kMaxQueuedOps = 20000;

const char kHexDigits[] = "0123456789ABCDEF";
using char3 = std::array<QChar, 3>;
} // namespace

TComUIHandleThread::TComUIHandleThread(TCvComPortObj* obj) : FCvComPortObj(obj)
{
    FThread = std::thread([this] { Execute(); });
}

TComUIHandleThread::~TComUIHandleThread()
{
    Terminate();
}

void TComUIHandleThread::Terminate()
{
    {
        std::lock_guard lk(FMutex);
        FTerminated = true;
    }
    FWake.notify_all();
    FCvComPortObj->FUiSpace.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TComUIHandleThread::Resume()
{
    {
        std::lock_guard lk(FMutex);
        FRunning = true;
        ++FWakeCount;
    }
    FWake.notify_all();
}

void TComUIHandleThread::Suspend()
{
    {
        std::lock_guard lk(FMutex);
        FRunning = false;
    }
    // Also ends a gap-line wait early.
    FWake.notify_all();
    FCvComPortObj->FUiSpace.notify_all();
    std::unique_lock lk(FMutex);
    FIdle.wait(lk, [this] { return !FInPass; });
}

bool TComUIHandleThread::Suspended() const
{
    std::lock_guard lk(FMutex);
    return !FRunning;
}

bool TComUIHandleThread::ShouldStop() const
{
    std::lock_guard lk(FMutex);
    return FTerminated || !FRunning;
}

void TComUIHandleThread::Execute()
{
    for (;;) {
        {
            std::unique_lock lk(FMutex);
            FWake.wait(lk, [this] { return FTerminated || FRunning; });
            if (FTerminated) return;
            FInPass = true;
        }
        Pass();
        {
            std::lock_guard lk(FMutex);
            FInPass = false;
        }
        FIdle.notify_all();
    }
}

void TComUIHandleThread::Pass()
{
    TCvComPortObj* obj = FCvComPortObj;
    if (obj->FComHandleThread_Wait.load()) {
        std::this_thread::yield();
        return;
    }
    {
        // Let the GUI thread catch up before producing more for it.
        std::unique_lock lk(obj->FUiMutex);
        if (obj->FUiQueue.size() >= kMaxQueuedOps) {
            obj->FUiSpace.wait_for(lk, std::chrono::milliseconds(20));
            return;
        }
    }
    QString heldLine;
    {
        std::lock_guard lk(ReceiveLock());
        const int reset = FNeedToReset.load();
        // A hex line held open for a gap is shown before the format change clears it.
        if (reset == 1 && FLastByteMs >= 0 && !FPendingBytes.isEmpty()) {
            const int n = obj->FHexModeFormatCount.load();
            heldLine = PendingHexLine(n, obj->FHexModeWithString.load(), n > 0 && FPendingBytes.size() >= n);
        }
        if (reset == 0) obj->ClearInternalBuffLocked(0);
        else if (reset == 1) obj->ClearInternalBuffLocked(1);
        if (FResetLocals.exchange(false)) {
            FPendingLine.clear();
            FPendingBytes.clear();
            FLastShown = -1;
            FLastShownLen = 0;
            FLastByteMs = -1;
            FLastWallMs = 0;
        }
    }
    if (!heldLine.isEmpty()) obj->Enqueue({TCvComPortObj::TUiOp::LogMsg, 0, 0, std::move(heldLine), FLineWallMs});
    switch (obj->FReceiveFormat.load()) {
    case rfAscii: AsciiPass(); break;
    case rfHex:
        if (obj->FHexGapLines.load()) HexGapPass();
        else HexPass();
        break;
    case rfGraphic: GraphicPass(); break;
    default: {
        std::lock_guard lk(FMutex);
        FRunning = false;
        break;
    }
    }
}

void TComUIHandleThread::CaughtUp()
{
    FCvComPortObj->ClearInternalBuffLocked(100);
    FResetLocals = false;
    FPendingLine.clear();
    FPendingBytes.clear();
    FLastShown = -1;
    FLastShownLen = 0;
    FLastByteMs = -1;
    FLastWallMs = 0;
    // Under ReceiveLock, so a receive handler that appends next also finds us asleep and wakes us.
    std::lock_guard lk(FMutex);
    FRunning = false;
}

void TComUIHandleThread::AsciiPass()
{
    TCvComPortObj* obj = FCvComPortObj;
    std::vector<TCvComPortObj::TUiOp> ops;
    qint64 i = FUIStartIndex.load();
    qint64 count = 0;
    quint64 revision = 0;
    QString grown;
    std::vector<QString> lines;
    std::vector<qint64> at;
    {
        std::lock_guard lk(ReceiveLock());
        TLogModel& store = *obj->FStringInternalMemo;
        count = store.LineCount();
        revision = store.Revision();
        // Text that arrived for a line already shown is shown behind it, not lost.
        if (FLastShown >= 0 && FLastShown < count) {
            // Only what it gained is read: a line that never ends costs no more per pass.
            const qint64 bytes = store.LineBytes(FLastShown);
            if (bytes > FLastShownLen) {
                grown = QString::fromUtf8(store.LineUtf8From(FLastShown, FLastShownLen));
                FLastShownLen = bytes;
            }
        }
        const qint64 end = std::min(count, i + kLinesPerPass);
        const auto& stamps = obj->FLineStamps;
        auto st =
            std::upper_bound(stamps.begin(), stamps.end(), i,
                             [](qint64 line, const TCvComPortObj::TLineStamp& x) { return line < x.Line; });
        for (qint64 j = i; j < end; ++j) {
            lines.push_back(store.Line(j));
            while (st != stamps.end() && st->Line <= j)
                ++st;
            at.push_back(st == stamps.begin() ? 0 : std::prev(st)->WallMs);
        }
        if (!lines.empty()) {
            FLastShown = end - 1;
            FLastShownLen = store.LineBytes(end - 1);
        }
    }
    if (!grown.isEmpty()) {
        obj->FComProcessedCount += grown.size();
        ops.push_back({TCvComPortObj::TUiOp::AppendLast, 0, 0, TrimControl(grown)});
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
        obj->FComProcessedCount += lines[k].size();
        ops.push_back({i == 0 ? TCvComPortObj::TUiOp::AsciiFirst : TCvComPortObj::TUiOp::AsciiAdd, 0, 0,
                       lines[k], at[k]});
        ++i;
    }
    FUIStartIndex = i;
    obj->Enqueue(ops);
    if (count > i || obj->FComHandleThread_Wait.load()) return;
    std::lock_guard lk(ReceiveLock());
    const TLogModel& store = *obj->FStringInternalMemo;
    if (store.LineCount() > FUIStartIndex.load() || store.Revision() != revision) return;
    CaughtUp();
}

QByteArray TComUIHandleThread::TakeBytes(qint64 from, qint64& len,
                                         std::vector<TCvComPortObj::TChunkStamp>* stamps) const {
    // A copy taken under the lock: the receive handler may grow (and move) the buffer meanwhile.
    std::lock_guard lk(ReceiveLock());
    const QByteArray& buffer = FCvComPortObj->FComReceiveInternalBuffer;
    len = buffer.size();
    QByteArray chunk = len > from ? buffer.mid(from, std::min(len - from, kBytesPerPass)) : QByteArray();
    if (stamps) {
        // The stamp in force at `from` and those of the chunks that start inside this piece.
        const auto& all = FCvComPortObj->FChunkStamps;
        auto it =
            std::upper_bound(all.begin(), all.end(), from,
                             [](qint64 at, const TCvComPortObj::TChunkStamp& st) { return at < st.Offset; });
        if (it != all.begin()) --it;
        for (; it != all.end() && it->Offset < from + chunk.size(); ++it)
            stamps->push_back(*it);
    }
    return chunk;
}

void TComUIHandleThread::HexPass()
{
    TCvComPortObj* obj = FCvComPortObj;
    const int n = obj->FHexModeFormatCount.load();
    const bool withString = obj->FHexModeWithString.load();
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    std::vector<TCvComPortObj::TChunkStamp> stamps;
    const QByteArray chunk = TakeBytes(i, len, &stamps);
    std::vector<TCvComPortObj::TUiOp> ops;
    if (n > 0) ops.reserve(static_cast<std::size_t>(chunk.size() / n + 1));
    std::size_t s = 0;
    for (const char c : std::as_const(chunk)) {
        // A line's time is when its first byte was read.
        while (s < stamps.size() && stamps[s].Offset <= i)
            FLastWallMs = stamps[s++].WallMs;
        if (FPendingBytes.isEmpty()) FLineWallMs = FLastWallMs;
        const auto b = static_cast<quint8>(c);
        const char3 cell = {QChar(QLatin1Char(kHexDigits[b >> 4])), QChar(QLatin1Char(kHexDigits[b & 15])), QChar(u' ')};
        FPendingLine.append(cell.data(), 3);
        FPendingBytes += c;
        if (n > 0 && (i + 1) % n == 0) {
            QString line =
                withString
                    ? TrimControl(FPendingLine) + QStringLiteral("   ") +
                          BytesToText(reinterpret_cast<const quint8*>(FPendingBytes.constData()),
                                      static_cast<int>(FPendingBytes.size()), FCvComPortObj->TextEncoding())
                    : FPendingLine;
            ops.push_back({TCvComPortObj::TUiOp::LogMsg, 0, 0, std::move(line), FLineWallMs});
            FPendingLine.clear();
            FPendingBytes.clear();
        }
        ++i;
    }
    obj->FComProcessedCount += chunk.size();
    FUIStartIndex = i;
    if (len > i) {
        obj->Enqueue(ops);
        return;
    }
    if (!FPendingLine.isEmpty()) {
        QString line = FPendingLine;
        if (withString) {
            const QString text =
                BytesToText(reinterpret_cast<const quint8*>(FPendingBytes.constData()),
                            static_cast<int>(FPendingBytes.size()), FCvComPortObj->TextEncoding());
            if (n > 0) line = line.leftJustified(n * 3, QLatin1Char(' ')) + QStringLiteral("   ") + text;
            else line = TrimControl(line) + QStringLiteral("   ") + text;
        }
        ops.push_back({TCvComPortObj::TUiOp::LogMsg, 0, 0, std::move(line), FLineWallMs});
        FPendingLine.clear();
        FPendingBytes.clear();
    }
    obj->Enqueue(ops);
    if (obj->FComHandleThread_Wait.load()) return;
    std::lock_guard lk(ReceiveLock());
    // Bytes that came in after our look are not thrown away with the batch.
    if (obj->FComReceiveInternalBuffer.size() > FUIStartIndex.load()) return;
    CaughtUp();
}

QString TComUIHandleThread::PendingHexLine(int n, bool withString, bool full) const
{
    if (!withString) return FPendingLine;
    const QString text = BytesToText(reinterpret_cast<const quint8*>(FPendingBytes.constData()),
                                     static_cast<int>(FPendingBytes.size()), FCvComPortObj->TextEncoding());
    if (full || n <= 0) return TrimControl(FPendingLine) + QStringLiteral("   ") + text;
    return FPendingLine.leftJustified(n * 3, QLatin1Char(' ')) + QStringLiteral("   ") + text;
}

void TComUIHandleThread::HexGapPass()
{
    TCvComPortObj* obj = FCvComPortObj;
    const int n = obj->FHexModeFormatCount.load();
    const bool withString = obj->FHexModeWithString.load();
    const qint64 gap = std::max(1, obj->FHexGapMs.load());
    quint64 wakeSeen = 0;
    {
        // Taken before the bytes: a Resume after this point ends the wait below at once.
        std::lock_guard lk(FMutex);
        wakeSeen = FWakeCount;
    }
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    QByteArray chunk;
    std::vector<TCvComPortObj::TChunkStamp> stamps;
    {
        std::lock_guard lk(ReceiveLock());
        const QByteArray& buffer = obj->FComReceiveInternalBuffer;
        len = buffer.size();
        if (len > i) chunk = buffer.mid(i, std::min(len - i, kBytesPerPass));
        const qint64 end = i + chunk.size();
        const auto& all = obj->FChunkStamps;
        auto it = std::lower_bound(all.begin(), all.end(), i,
                                   [](const TCvComPortObj::TChunkStamp& st, qint64 at) { return st.Offset < at; });
        for (; it != all.end() && it->Offset < end; ++it) stamps.push_back(*it);
    }
    std::vector<TCvComPortObj::TUiOp> ops;
    const auto flush = [&] {
        const bool full = n > 0 && FPendingBytes.size() >= n;
        // The line's time is when its first byte was read, not when it is shown.
        ops.push_back({TCvComPortObj::TUiOp::LogMsg, 0, 0, PendingHexLine(n, withString, full), FLineWallMs});
        FPendingLine.clear();
        FPendingBytes.clear();
    };
    std::size_t s = 0;
    for (const char c : std::as_const(chunk)) {
        // A chunk read after a pause longer than the gap starts a line of its own.
        while (s < stamps.size() && stamps[s].Offset <= i) {
            const qint64 at = stamps[s].Ms;
            if (!FPendingBytes.isEmpty() && FLastByteMs >= 0 && at - FLastByteMs > gap) flush();
            FLastByteMs = at;
            FLastWallMs = stamps[s++].WallMs;
        }
        if (FPendingBytes.isEmpty()) FLineWallMs = FLastWallMs;
        const auto b = static_cast<quint8>(c);
        const char3 cell = {QChar(QLatin1Char(kHexDigits[b >> 4])), QChar(QLatin1Char(kHexDigits[b & 15])), QChar(u' ')};
        FPendingLine.append(cell.data(), 3);
        FPendingBytes += c;
        // Long runs without a pause still wrap at the line length.
        if (n > 0 && FPendingBytes.size() >= n) flush();
        ++i;
    }
    obj->FComProcessedCount += chunk.size();
    FUIStartIndex = i;
    if (len > i) {
        obj->Enqueue(ops);
        return;
    }
    if (!FPendingBytes.isEmpty()) {
        // The line stays open until the gap has passed since its last byte: bytes that
        // follow sooner belong to it. The byte buffer is kept meanwhile, so nothing resets it.
        const qint64 wait = FLastByteMs < 0 ? 0 : FLastByteMs + gap + 1 - SteadyMs();
        if (wait > 0) {
            obj->Enqueue(ops);
            std::unique_lock lk(FMutex);
            FWake.wait_for(lk, std::chrono::milliseconds(wait),
                           [&] { return FTerminated || !FRunning || FWakeCount != wakeSeen; });
            return;
        }
        flush();
    }
    obj->Enqueue(ops);
    if (obj->FComHandleThread_Wait.load()) return;
    std::lock_guard lk(ReceiveLock());
    if (obj->FComReceiveInternalBuffer.size() > FUIStartIndex.load()) return;
    CaughtUp();
}

void TComUIHandleThread::GraphicPass()
{
    TCvComPortObj* obj = FCvComPortObj;
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    const QByteArray chunk = TakeBytes(i, len);
    std::vector<TCvComPortObj::TUiOp> ops;
    ops.reserve(static_cast<std::size_t>(chunk.size()));
    for (const char c : std::as_const(chunk))
        ops.push_back({TCvComPortObj::TUiOp::Point, 1, static_cast<double>(static_cast<quint8>(c)), QString()});
    obj->Enqueue(ops);
    obj->FComProcessedCount += chunk.size();
    i += chunk.size();
    FUIStartIndex = i;
    if (len > i || obj->FComHandleThread_Wait.load()) return;
    std::lock_guard lk(ReceiveLock());
    if (obj->FComReceiveInternalBuffer.size() > FUIStartIndex.load()) return;
    CaughtUp();
}
