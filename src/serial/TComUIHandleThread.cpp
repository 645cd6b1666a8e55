#include "TComUIHandleThread.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TLogModel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <vector>

namespace {
// How much one pass takes: large enough to keep up with a flood, small enough that a
// suspend or a terminate request is answered quickly and one change for the GUI thread
// stays well under a frame.
constexpr qint64 kBytesPerPass = 16 * 1024;
constexpr qint64 kLinesPerPass = 512;
// Changes waiting for the GUI thread beyond which the worker lets it catch up.
constexpr std::size_t kMaxQueuedOps = 20000;
constexpr std::size_t kMaxQueuedBytes = std::size_t(8) << 20;

// UTF-16 code units of valid UTF-8: what QString::size() gives for the same text.
qint64 Utf16Length(const char* p, qsizetype n)
{
    qint64 units = 0;
    for (qsizetype k = 0; k < n; ++k) {
        const auto b = static_cast<quint8>(p[k]);
        if ((b & 0xC0) != 0x80) ++units;
        if (b >= 0xF0) ++units;
    }
    return units;
}

// The UTF-8 bytes of s without bytes <= 32 at its start and (or) its end: TrimControl of the
// same text, since no multi-byte character holds such a byte.
std::string_view TrimmedUtf8(std::string_view s, bool start = true, bool end = true)
{
    std::size_t b = 0, e = s.size();
    while (start && b < e && static_cast<quint8>(s[b]) <= 32) ++b;
    while (end && e > b && static_cast<quint8>(s[e - 1]) <= 32) --e;
    return s.substr(b, e - b);
}

// The text column of a hex line, BytesToText of the bytes, appended as UTF-8. Bytes below
// 0x80 read as themselves in every encoding offered, and in the one-byte-per-character
// encodings every byte is its own character: those are written without a QString.
void AppendTextColumn(QByteArray& out, const QByteArray& bytes, TTextEncoding e)
{
    const auto* p = reinterpret_cast<const quint8*>(bytes.constData());
    const qsizetype n = bytes.size();
    const bool oneByte = e == TTextEncoding::Latin1 || e == TTextEncoding::Bytes;
    bool direct = true;
    for (qsizetype k = 0; direct && k < n && !oneByte; ++k) direct = p[k] < 0x80;
    if (!direct) {
        QString t = BytesToString(p, int(n), e);
        if (t.contains(u'\r')) t.remove(QLatin1String("\r\n"));
        out.append(TrimControl(t).toUtf8());
        return;
    }
    // As BytesToText: every CR LF pair out (one pass), then blanks and controls off both ends.
    const qsizetype at = out.size();
    for (qsizetype k = 0; k < n; ++k) {
        if (p[k] == '\r' && k + 1 < n && p[k + 1] == '\n') {
            ++k;
            continue;
        }
        if (p[k] < 0x80) {
            out.append(char(p[k]));
        } else {
            out.append(char(0xC0 | (p[k] >> 6)));
            out.append(char(0x80 | (p[k] & 0x3F)));
        }
    }
    qsizetype b = at, end = out.size();
    while (b < end && static_cast<quint8>(out[b]) <= 32) ++b;
    while (end > b && static_cast<quint8>(out[end - 1]) <= 32) --end;
    out.truncate(end);
    out.remove(at, b - at);
}

void AppendHexDigits(QByteArray& out, const QByteArray& bytes)
{
    constexpr char digits[] = "0123456789ABCDEF";
    const qsizetype at = out.size();
    out.resize(at + 3 * bytes.size());
    char* w = out.data() + at;
    for (const char c : bytes) {
        const auto b = static_cast<quint8>(c);
        *w++ = digits[b >> 4];
        *w++ = digits[b & 0x0F];
        *w++ = ' ';
    }
}
} // namespace

TComUIHandleThread::TComUIHandleThread(TComUIHandleHost* host) : FHost(host)
{
    FNiceSteps = kNiceSteps;
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

void TComUIHandleThread::BuffersClearedLocked()
{
    FUIStartIndex = 0;
    FNeedToReset = -1;
    FResetLocals = true;
}

void TComUIHandleThread::ResetLocals()
{
    FPendingBytes.clear();
    FLastShown = -1;
    FLastShownLen = 0;
    FLastShownBlank = true;
    FLastByteMs = -1;
    FLastWallMs = 0;
}

void TComUIHandleThread::PassFailed(const QString& what, int inARow)
{
    if (inARow == 1)
        FHost->EnqueueUi(
            {TUiOp::LogMsg, 0, Msg(QStringLiteral("Showing received data failed: %1")).arg(what)});
    if (inARow < kFailuresBeforeDrop) return;
    // The same data failing again and again would keep the worker spinning: what waits is
    // given up, said in the log, and new data are shown again.
    qint64 waiting = 0;
    {
        std::lock_guard lk(ReceiveLock());
        // The start is a byte of the byte buffer, or a line of the text store.
        const QByteArray& bytes = FHost->ReceivedBytesLocked();
        const TLogModel& store = FHost->TextStoreLocked();
        const qint64 start = std::max<qint64>(0, FUIStartIndex.load());
        if (!bytes.isEmpty()) waiting = std::max<qint64>(0, bytes.size() - start);
        else
            for (qint64 j = start; j < store.LineCount(); ++j) waiting += store.LineBytes(j);
        FHost->ClearReceivedLocked(100);
        ResetLocals();
        FResetLocals = false;
    }
    FHost->EnqueueUi(
        {TUiOp::LogMsg, 0,
         Msg(QStringLiteral("%1 received bytes waiting to be shown were given up after %2 failed attempts."))
             .arg(waiting)
             .arg(inARow)});
    std::lock_guard lk(FMutex);
    FRunning = false;
}

void TComUIHandleThread::Pass()
{
    if (FHost->ReceiveInProgress()) {
        std::this_thread::yield();
        return;
    }
    // Let the GUI thread catch up before producing more for it.
    if (FHost->WaitForUiQueue(kMaxQueuedOps, kMaxQueuedBytes, 20)) return;
    const TDisplaySettings set = FHost->DisplaySettings();
    std::vector<TUiOp> held;
    {
        std::lock_guard lk(ReceiveLock());
        const int reset = FNeedToReset.load();
        // A hex line held open for a gap is shown before the format change clears it.
        if (reset == 1 && FLastByteMs >= 0 && !FPendingBytes.isEmpty()) {
            const int n = set.HexFormatCount;
            TUiOp line{TUiOp::Lines};
            FlushHexLine(n, set.HexWithString, n > 0 && FPendingBytes.size() >= n, line, held);
            if (!line.ends.empty()) held.push_back(std::move(line));
        }
        if (reset == 0) FHost->ClearReceivedLocked(0);
        else if (reset == 1) FHost->ClearReceivedLocked(1);
        if (FResetLocals.exchange(false)) ResetLocals();
    }
    FHost->EnqueueUi(held);
    switch (set.ReceiveFormat) {
    case rfAscii: AsciiPass(); break;
    case rfHex: HexPass(set); break;
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
    ResetLocals();
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
    QByteArray grown;
    TCvStyleRuns grownRuns;
    qint64 grownUnits = 0;
    TUiOp first{TUiOp::AsciiFirst};
    TUiOp lines{TUiOp::Lines, 1};
    qint64 processed = 0;
    {
        std::lock_guard lk(ReceiveLock());
        const TLogModel& store = FHost->TextStoreLocked();
        count = store.LineCount();
        revision = store.Revision();
        // A line is trimmed at both ends, as a whole: shown in pieces, the start of its first
        // piece with text and the end of the piece that ends it. The last line of the store
        // has ended when the receive handler marked it so (a stamp without a time).
        const auto& stamps = FHost->LineStampsLocked();
        const bool lastEnded = !stamps.empty() && stamps.back().WallMs < 0 && stamps.back().Line == count - 1;
        const auto ended = [&](qint64 line) { return line < count - 1 || lastEnded; };
        // Colours travel with the text only when the store has any: plain text costs nothing more.
        const bool styled = store.HasRuns();
        // Text that arrived for a line already shown is shown behind it, not lost.
        if (FLastShown >= 0 && FLastShown < count) {
            // Only what it gained is read: a line that never ends costs no more per pass.
            const qint64 bytes = store.LineBytes(FLastShown);
            if (bytes > FLastShownLen) {
                const QByteArray gained = store.LineUtf8From(FLastShown, FLastShownLen);
                grownUnits = Utf16Length(gained.constData(), gained.size());
                const std::string_view g(gained.constData(), std::size_t(gained.size()));
                const std::string_view t = TrimmedUtf8(g, FLastShownBlank, ended(FLastShown));
                grown = QByteArray(t.data(), qsizetype(t.size()));
                if (styled && !t.empty() && store.LineHasRuns(FLastShown)) {
                    const qsizetype from = qsizetype(FLastShownLen) + qsizetype(t.data() - g.data());
                    grownRuns = TLogModel::Utf8RunsToUnits(
                        t, SliceRuns(store.LineRunsUtf8(FLastShown), from, qsizetype(t.size())));
                }
                FLastShownLen = bytes;
                FLastShownBlank = FLastShownBlank && grown.isEmpty();
            }
        }
        const qint64 end = std::min(count, i + kLinesPerPass);
        auto st = std::upper_bound(stamps.begin(), stamps.end(), i,
                                   [](qint64 line, const TLineStamp& x) { return line < x.Line; });
        for (qint64 j = i; j < end; ++j) {
            while (st != stamps.end() && st->Line <= j) ++st;
            const qint64 at = st == stamps.begin() ? 0 : std::prev(st)->WallMs;
            const QByteArray utf8 = store.LineUtf8(j);
            processed += Utf16Length(utf8.constData(), utf8.size());
            const std::string_view t =
                TrimmedUtf8(std::string_view(utf8.constData(), std::size_t(utf8.size())), true, ended(j));
            if (j == end - 1) FLastShownBlank = t.empty();
            if (j == 0) {
                // Trimmed where it is shown; an open line keeps its end.
                first.text = QString::fromUtf8(utf8);
                if (styled) first.runs = store.LineRuns(j);
                first.count = ended(j) ? 0 : 1;
                first.at = at;
                continue;
            }
            if (styled && !t.empty()) {
                // The runs of the trimmed line, moved to where it goes in `lines` (one lookup:
                // a line without runs gives none).
                const TCvStyleRuns runs = store.LineRunsUtf8(j);
                const auto to = quint32(lines.lines.size());
                const qsizetype from = qsizetype(t.data() - utf8.constData());
                if (!runs.empty())
                    for (const TCvStyleRun& r : SliceRuns(runs, from, qsizetype(t.size())))
                        lines.runs.push_back({r.Start + to, r.Length, r.Style});
            }
            lines.lines.append(t.data(), qsizetype(t.size()));
            lines.ends.push_back(std::uint32_t(lines.lines.size()));
            lines.ats.push_back(at);
        }
        if (end > i) {
            FLastShown = end - 1;
            FLastShownLen = store.LineBytes(end - 1);
        }
        FUIStartIndex = std::max(i, end);
    }
    FHost->AddProcessed(grownUnits + processed);
    if (!grown.isEmpty()) {
        ops.push_back({TUiOp::AppendLast, 0, QString::fromUtf8(grown)});
        ops.back().runs = std::move(grownRuns);
    }
    if (i == 0 && count > 0) ops.push_back(std::move(first));
    if (!lines.ends.empty()) ops.push_back(std::move(lines));
    FHost->EnqueueUi(ops);
    if (count > FUIStartIndex.load() || FHost->ReceiveInProgress()) return;
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

void TComUIHandleThread::FlushHexLine(int n, bool withString, bool full, TUiOp& lines,
                                      std::vector<TUiOp>& ops)
{
    QByteArray& out = lines.lines;
    const qsizetype start = out.size();
    AppendHexDigits(out, FPendingBytes);
    if (withString) {
        if (full || n <= 0) {
            // The hex digits without their last blank, then the text.
            out.chop(1);
        } else if (out.size() - start < qsizetype(n) * 3) {
            // A short line keeps its text column under those of the full lines.
            out.append(QByteArray(qsizetype(n) * 3 - (out.size() - start), ' '));
        }
        out.append("   ", 3);
        AppendTextColumn(out, FPendingBytes, FHost->DisplayEncoding());
    }
    FPendingBytes.clear();
    const std::string_view line(out.constData() + start, std::size_t(out.size() - start));
    if (line.find("\r\n") == std::string_view::npos) {
        lines.ends.push_back(std::uint32_t(out.size()));
        lines.ats.push_back(FLineWallMs);
        return;
    }
    // Text that still holds a CR LF is logged as the message it is, in its place.
    const QString text = QString::fromUtf8(line.data(), qsizetype(line.size()));
    out.truncate(start);
    if (!lines.ends.empty()) {
        ops.push_back(std::move(lines));
        lines = TUiOp{TUiOp::Lines};
    }
    ops.push_back({TUiOp::LogMsg, 0, text, FLineWallMs});
}

void TComUIHandleThread::HexPass(const TDisplaySettings& set)
{
    const int n = set.HexFormatCount;
    const bool withString = set.HexWithString;
    const bool gapLines = set.HexGapLines;
    const qint64 gap = std::max(1, set.HexGapMs);
    quint64 wakeSeen = 0;
    {
        // Taken before the bytes: a Resume after this point ends the gap wait below at once.
        std::lock_guard lk(FMutex);
        wakeSeen = FWakeCount;
    }
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    std::vector<TChunkStamp> stamps;
    const QByteArray chunk = TakeBytes(i, len, &stamps);
    std::vector<TUiOp> ops;
    TUiOp lines{TUiOp::Lines};
    if (n > 0) {
        lines.lines.reserve(chunk.size() / n * (n * 4 + 8) + 64);
        lines.ends.reserve(std::size_t(chunk.size() / n + 1));
        lines.ats.reserve(std::size_t(chunk.size() / n + 1));
    }
    std::size_t s = 0;
    // The bytes go into lines in runs that end where a line ends or a stamp begins.
    for (qsizetype pos = 0; pos < chunk.size();) {
        while (s < stamps.size() && stamps[s].Offset <= i) {
            if (gapLines) {
                // A chunk read after a pause longer than the gap starts a line of its own.
                const qint64 at = stamps[s].Ms;
                if (!FPendingBytes.isEmpty() && FLastByteMs >= 0 && at - FLastByteMs > gap)
                    FlushHexLine(n, withString, n > 0 && FPendingBytes.size() >= n, lines, ops);
                FLastByteMs = at;
            }
            FLastWallMs = stamps[s++].WallMs;
        }
        // A line's time is when its first byte was read.
        if (FPendingBytes.isEmpty()) FLineWallMs = FLastWallMs;
        qint64 take = chunk.size() - pos;
        if (s < stamps.size()) take = std::min(take, stamps[s].Offset - i);
        // Lines end at multiples of N in the stream; with gap lines, after N bytes of a line.
        if (n > 0) take = std::min<qint64>(take, gapLines ? n - FPendingBytes.size() : n - i % n);
        FPendingBytes.append(chunk.constData() + pos, qsizetype(take));
        pos += take;
        i += take;
        if (n > 0 && (gapLines ? FPendingBytes.size() >= n : i % n == 0))
            FlushHexLine(n, withString, true, lines, ops);
    }
    FHost->AddProcessed(chunk.size());
    FUIStartIndex = i;
    const auto enqueue = [&] {
        if (!lines.ends.empty()) ops.push_back(std::move(lines));
        FHost->EnqueueUi(ops);
    };
    if (len > i) {
        enqueue();
        return;
    }
    if (!FPendingBytes.isEmpty()) {
        if (gapLines) {
            // The line stays open until the gap has passed since its last byte: bytes that
            // follow sooner belong to it. The byte buffer is kept meanwhile, so nothing resets it.
            const qint64 wait = FLastByteMs < 0 ? 0 : FLastByteMs + gap + 1 - SteadyMs();
            if (wait > 0) {
                enqueue();
                std::unique_lock lk(FMutex);
                FWake.wait_for(lk, std::chrono::milliseconds(wait),
                               [&] { return FTerminated || !FRunning || FWakeCount != wakeSeen; });
                return;
            }
        }
        FlushHexLine(n, withString, gapLines && n > 0 && FPendingBytes.size() >= n, lines, ops);
    }
    enqueue();
    if (FHost->ReceiveInProgress()) return;
    std::lock_guard lk(ReceiveLock());
    // Bytes that came in after our look are not thrown away with the batch.
    if (FHost->ReceivedBytesLocked().size() > FUIStartIndex.load()) return;
    CaughtUp();
}

void TComUIHandleThread::GraphicPass()
{
    qint64 i = FUIStartIndex.load();
    qint64 len = 0;
    TUiOp points{TUiOp::Points};
    points.lines = TakeBytes(i, len);
    const qint64 taken = points.lines.size();
    if (taken > 0) {
        std::vector<TUiOp> ops;
        ops.push_back(std::move(points));
        FHost->EnqueueUi(ops);
    }
    FHost->AddProcessed(taken);
    i += taken;
    FUIStartIndex = i;
    if (len > i || FHost->ReceiveInProgress()) return;
    std::lock_guard lk(ReceiveLock());
    if (FHost->ReceivedBytesLocked().size() > FUIStartIndex.load()) return;
    CaughtUp();
}
