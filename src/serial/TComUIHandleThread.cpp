#include "TComUIHandleThread.h"

#include "CvCodecs.h"
#include "TLogModel.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {
// How much one pass takes: large enough to keep up with a flood, small enough that a
// suspend or a terminate request is answered quickly.
constexpr qint64 kBytesPerPass = 16 * 1024;
constexpr qint64 kLinesPerPass = 512;
// Changes waiting for the GUI thread beyond which the worker lets it catch up.
constexpr std::size_t kMaxQueuedOps = 20000;
} // namespace

TComUIHandleThread::TComUIHandleThread(TComUIHandleHost* host) : FHost(host)
{
    Start();
}

TComUIHandleThread::~TComUIHandleThread()
{
    Terminate();
}

void TComUIHandleThread::OnTerminate()
{
    FHost->WakeUiQueueWaiters();
}

void TComUIHandleThread::Resume()
{
    {
        std::lock_guard lk(FMutex);
        FRunning = true;
        ++FWakeCount;
    }
    Wake();
}

void TComUIHandleThread::Suspend()
{
    {
        std::lock_guard lk(FMutex);
        FRunning = false;
    }
    // Also ends a gap-line wait early.
    Wake();
    FHost->WakeUiQueueWaiters();
    std::unique_lock lk(FMutex);
    WaitIdleLocked(lk);
}

bool TComUIHandleThread::Suspended() const
{
    std::lock_guard lk(FMutex);
    return !FRunning;
}

void TComUIHandleThread::Pass()
{
    if (FHost->ReceiveInProgress()) {
        std::this_thread::yield();
        return;
    }
    // Let the GUI thread catch up before producing more for it.
    if (FHost->WaitForUiQueue(kMaxQueuedOps, 20)) return;
    const TDisplaySettings set = FHost->DisplaySettings();
    QString heldLine;
    {
        std::lock_guard lk(ReceiveLock());
        const int reset = FNeedToReset.load();
        // A hex line held open for a gap is shown before the format change clears it.
        if (reset == 1 && FLastByteMs >= 0 && !FPendingBytes.isEmpty()) {
            const int n = set.HexFormatCount;
            heldLine = PendingHexLine(n, set.HexWithString, n > 0 && FPendingBytes.size() >= n);
        }
        if (reset == 0) FHost->ClearReceivedLocked(0);
        else if (reset == 1) FHost->ClearReceivedLocked(1);
        if (FResetLocals.exchange(false)) {
            FPendingLine.clear();
            FPendingBytes.clear();
            FLastShown = -1;
            FLastShownLen = 0;
            FLastByteMs = -1;
            FLastWallMs = 0;
        }
    }
    if (!heldLine.isEmpty()) FHost->EnqueueUi({TUiOp::LogMsg, 0, 0, std::move(heldLine), FLineWallMs});
    switch (set.ReceiveFormat) {
    case rfAscii: AsciiPass(); break;
    case rfHex:
        if (set.HexGapLines) HexGapPass(set);
        else HexPass(set);
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
    FHost->ClearReceivedLocked(100);
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
    std::vector<TUiOp> ops;
    qint64 i = FUIStartIndex.load();
    qint64 count = 0;
    quint64 revision = 0;
    QString grown;
    std::vector<QString> lines;
    std::vector<qint64> at;
    {
        std::lock_guard lk(ReceiveLock());
        const TLogModel& store = FHost->TextStoreLocked();
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
        const auto& stamps = FHost->LineStampsLocked();
        auto st = std::upper_bound(stamps.begin(), stamps.end(), i,
                                   [](qint64 line, const TLineStamp& x) { return line < x.Line; });
        for (qint64 j = i; j < end; ++j) {
            lines.push_back(store.Line(j));
            while (st != stamps.end() && st->Line <= j) ++st;
            at.push_back(st == stamps.begin() ? 0 : std::prev(st)->WallMs);
        }
        if (!lines.empty()) {
            FLastShown = end - 1;
            FLastShownLen = store.LineBytes(end - 1);
        }
    }
    if (!grown.isEmpty()) {
        FHost->AddProcessed(grown.size());
        ops.push_back({TUiOp::AppendLast, 0, 0, TrimControl(grown)});
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
        FHost->AddProcessed(lines[k].size());
        ops.push_back({i == 0 ? TUiOp::AsciiFirst : TUiOp::AsciiAdd, 0, 0, lines[k], at[k]});
        ++i;
    }
    FUIStartIndex = i;
    FHost->EnqueueUi(ops);
    if (count > i || FHost->ReceiveInProgress()) return;
    std::lock_guard lk(ReceiveLock());
    const TLogModel& store = FHost->TextStoreLocked();
    if (store.LineCount() > FUIStartIndex.load() || store.Revision() != revision) return;
    CaughtUp();
}

QByteArray TComUIHandleThread::TakeBytes(qint64 from, qint64& len, std::vector<TChunkStamp>* stamps) const
{
    // A copy taken under the lock: the receive handler may grow (and move) the buffer meanwhile.
    std::lock_guard lk(ReceiveLock());
    const QByteArray& buffer = FHost->ReceivedBytesLocked();
    len = buffer.size();
    QByteArray chunk = len > from ? buffer.mid(from, std::min(len - from, kBytesPerPass)) : QByteArray();
    if (stamps) {
        // The stamp in force at `from` and those of the chunks that start inside this piece.
        const auto& all = FHost->ChunkStampsLocked();
        auto it = std::upper_bound(all.begin(), all.end(), from,
                                   [](qint64 at, const TChunkStamp& st) { return at < st.Offset; });
        if (it != all.begin()) --it;
        for (; it != all.end() && it->Offset < from + chunk.size(); ++it) stamps->push_back(*it);
    }
    return chunk;
}

void TComUIHandleThread::HexPass(const TDisplaySettings& set)
{
    const int n = set.HexFormatCount;
    const bool withString = set.HexWithString;
    const TTextEncoding encoding = FHost->DisplayEncoding();
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    std::vector<TChunkStamp> stamps;
    const QByteArray chunk = TakeBytes(i, len, &stamps);
    std::vector<TUiOp> ops;
    if (n > 0) ops.reserve(static_cast<std::size_t>(chunk.size() / n + 1));
    std::size_t s = 0;
    for (const char c : std::as_const(chunk)) {
        // A line's time is when its first byte was read.
        while (s < stamps.size() && stamps[s].Offset <= i) FLastWallMs = stamps[s++].WallMs;
        if (FPendingBytes.isEmpty()) FLineWallMs = FLastWallMs;
        const auto b = static_cast<quint8>(c);
        AppendHexText(FPendingLine, &b, 1);
        FPendingBytes += c;
        if (n > 0 && (i + 1) % n == 0) {
            QString line = withString
                               ? TrimControl(FPendingLine) + QStringLiteral("   ") +
                                     BytesToText(reinterpret_cast<const quint8*>(FPendingBytes.constData()),
                                                 static_cast<int>(FPendingBytes.size()), encoding)
                               : FPendingLine;
            ops.push_back({TUiOp::LogMsg, 0, 0, std::move(line), FLineWallMs});
            FPendingLine.clear();
            FPendingBytes.clear();
        }
        ++i;
    }
    FHost->AddProcessed(chunk.size());
    FUIStartIndex = i;
    if (len > i) {
        FHost->EnqueueUi(ops);
        return;
    }
    if (!FPendingLine.isEmpty()) {
        QString line = FPendingLine;
        if (withString) {
            const QString text = BytesToText(reinterpret_cast<const quint8*>(FPendingBytes.constData()),
                                             static_cast<int>(FPendingBytes.size()), encoding);
            if (n > 0) line = line.leftJustified(n * 3, QLatin1Char(' ')) + QStringLiteral("   ") + text;
            else line = TrimControl(line) + QStringLiteral("   ") + text;
        }
        ops.push_back({TUiOp::LogMsg, 0, 0, std::move(line), FLineWallMs});
        FPendingLine.clear();
        FPendingBytes.clear();
    }
    FHost->EnqueueUi(ops);
    if (FHost->ReceiveInProgress()) return;
    std::lock_guard lk(ReceiveLock());
    // Bytes that came in after our look are not thrown away with the batch.
    if (FHost->ReceivedBytesLocked().size() > FUIStartIndex.load()) return;
    CaughtUp();
}

QString TComUIHandleThread::PendingHexLine(int n, bool withString, bool full) const
{
    if (!withString) return FPendingLine;
    const QString text = BytesToText(reinterpret_cast<const quint8*>(FPendingBytes.constData()),
                                     static_cast<int>(FPendingBytes.size()), FHost->DisplayEncoding());
    if (full || n <= 0) return TrimControl(FPendingLine) + QStringLiteral("   ") + text;
    return FPendingLine.leftJustified(n * 3, QLatin1Char(' ')) + QStringLiteral("   ") + text;
}

void TComUIHandleThread::HexGapPass(const TDisplaySettings& set)
{
    const int n = set.HexFormatCount;
    const bool withString = set.HexWithString;
    const qint64 gap = std::max(1, set.HexGapMs);
    quint64 wakeSeen = 0;
    {
        // Taken before the bytes: a Resume after this point ends the wait below at once.
        std::lock_guard lk(FMutex);
        wakeSeen = FWakeCount;
    }
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    QByteArray chunk;
    std::vector<TChunkStamp> stamps;
    {
        std::lock_guard lk(ReceiveLock());
        const QByteArray& buffer = FHost->ReceivedBytesLocked();
        len = buffer.size();
        if (len > i) chunk = buffer.mid(i, std::min(len - i, kBytesPerPass));
        const qint64 end = i + chunk.size();
        const auto& all = FHost->ChunkStampsLocked();
        auto it = std::lower_bound(all.begin(), all.end(), i,
                                   [](const TChunkStamp& st, qint64 at) { return st.Offset < at; });
        for (; it != all.end() && it->Offset < end; ++it) stamps.push_back(*it);
    }
    std::vector<TUiOp> ops;
    const auto flush = [&] {
        const bool full = n > 0 && FPendingBytes.size() >= n;
        // The line's time is when its first byte was read, not when it is shown.
        ops.push_back({TUiOp::LogMsg, 0, 0, PendingHexLine(n, withString, full), FLineWallMs});
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
        AppendHexText(FPendingLine, &b, 1);
        FPendingBytes += c;
        // Long runs without a pause still wrap at the line length.
        if (n > 0 && FPendingBytes.size() >= n) flush();
        ++i;
    }
    FHost->AddProcessed(chunk.size());
    FUIStartIndex = i;
    if (len > i) {
        FHost->EnqueueUi(ops);
        return;
    }
    if (!FPendingBytes.isEmpty()) {
        // The line stays open until the gap has passed since its last byte: bytes that
        // follow sooner belong to it. The byte buffer is kept meanwhile, so nothing resets it.
        const qint64 wait = FLastByteMs < 0 ? 0 : FLastByteMs + gap + 1 - SteadyMs();
        if (wait > 0) {
            FHost->EnqueueUi(ops);
            std::unique_lock lk(FMutex);
            FWake.wait_for(lk, std::chrono::milliseconds(wait),
                           [&] { return FTerminated || !FRunning || FWakeCount != wakeSeen; });
            return;
        }
        flush();
    }
    FHost->EnqueueUi(ops);
    if (FHost->ReceiveInProgress()) return;
    std::lock_guard lk(ReceiveLock());
    if (FHost->ReceivedBytesLocked().size() > FUIStartIndex.load()) return;
    CaughtUp();
}

void TComUIHandleThread::GraphicPass()
{
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    const QByteArray chunk = TakeBytes(i, len);
    std::vector<TUiOp> ops;
    ops.reserve(static_cast<std::size_t>(chunk.size()));
    for (const char c : std::as_const(chunk))
        ops.push_back({TUiOp::Point, 1, static_cast<double>(static_cast<quint8>(c)), QString()});
    FHost->EnqueueUi(ops);
    FHost->AddProcessed(chunk.size());
    i += chunk.size();
    FUIStartIndex = i;
    if (len > i || FHost->ReceiveInProgress()) return;
    std::lock_guard lk(ReceiveLock());
    if (FHost->ReceivedBytesLocked().size() > FUIStartIndex.load()) return;
    CaughtUp();
}
