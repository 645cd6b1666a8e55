#include "TLogModel.h"

#include <QDir>
#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::string_view kCrlf("\r\n", 2);
// Styles beyond this many are written into each run instead of being numbered.
constexpr std::size_t kMaxStyles = 4096;

template <typename F> void ForEachPart(std::string_view s, F&& f)
{
    std::size_t from = 0;
    for (;;) {
        std::size_t at = s.find(kCrlf, from);
        if (at == std::string_view::npos) {
            f(s.substr(from), from);
            return;
        }
        f(s.substr(from, at - from), from);
        from = at + 2;
    }
}

void PutVarint(std::string& out, std::uint64_t v)
{
    while (v >= 0x80) {
        out.push_back(char((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(char(v));
}

bool GetVarint(std::string_view s, std::size_t& at, std::uint64_t& v)
{
    v = 0;
    for (int shift = 0; at < s.size() && shift < 64; shift += 7) {
        const auto b = static_cast<unsigned char>(s[at++]);
        v |= std::uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

} // namespace

// The text of a chunk on its way to disk: the model reads it from here until the writer
// has put it there.
struct TLogModel::SpillBlock {
    std::string data;
    std::vector<std::uint32_t> offsets;
    std::string runs;
    std::vector<std::uint32_t> runIndex;
    std::size_t Memory() const
    {
        return data.capacity() + offsets.capacity() * sizeof(std::uint32_t) + runs.capacity() +
               runIndex.capacity() * sizeof(std::uint32_t);
    }
    std::atomic<int> state{0}; // 0 on its way, 1 written, -1 the disk refused it
};

// The file the chunks go to: removed from the folder as soon as it is made, so that nothing
// is left behind whatever way the program ends.
struct TLogModel::SpillFile {
    int fd = -1;
    ~SpillFile()
    {
        if (fd >= 0) ::close(fd);
    }
    static std::shared_ptr<SpillFile> Create()
    {
        auto f = std::make_shared<SpillFile>();
        const QByteArray dir = QFile::encodeName(QDir::tempPath());
        f->fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (f->fd < 0) {
            QByteArray name = dir + "/corvane-log-XXXXXX";
            f->fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (f->fd >= 0) ::unlink(name.constData());
        }
        return f->fd >= 0 ? f : nullptr;
    }
    bool WriteAt(const char* p, std::size_t n, qint64 at) const
    {
        while (n > 0) {
            const ssize_t w = ::pwrite(fd, p, n, at);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            p += w;
            n -= std::size_t(w);
            at += w;
        }
        return true;
    }
    bool ReadAt(char* p, std::size_t n, qint64 at) const
    {
        while (n > 0) {
            const ssize_t r = ::pread(fd, p, n, at);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            p += r;
            n -= std::size_t(r);
            at += r;
        }
        return true;
    }
};

namespace {

// One thread for the whole program writes spilled chunks to disk, in the order they were
// handed over: a flood of log lines never waits for the disk on the GUI thread.
class TSpillWriter {
public:
    using File = std::shared_ptr<const TLogModel::SpillFile>;
    using Block = std::shared_ptr<TLogModel::SpillBlock>;

    static TSpillWriter& Instance()
    {
        static TSpillWriter writer;
        return writer;
    }
    void Post(File file, qint64 at, Block block)
    {
        {
            std::lock_guard lk(FMutex);
            if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
            FJobs.push_back({std::move(file), at, std::move(block)});
        }
        FWork.notify_one();
    }
    // Until the block is on disk, or refused.
    void Wait(const TLogModel::SpillBlock& block)
    {
        std::unique_lock lk(FMutex);
        FDone.wait(lk, [&] { return block.state.load() != 0; });
    }
    ~TSpillWriter()
    {
        {
            std::lock_guard lk(FMutex);
            FStop = true;
        }
        FWork.notify_one();
        if (FThread.joinable()) FThread.join();
    }

private:
    struct Job {
        File file;
        qint64 at;
        Block block;
    };
    void Run()
    {
        std::unique_lock lk(FMutex);
        for (;;) {
            FWork.wait(lk, [this] { return FStop || !FJobs.empty(); });
            if (FStop) return;
            Job job = std::move(FJobs.front());
            FJobs.pop_front();
            lk.unlock();
            TLogModel::SpillBlock& b = *job.block;
            // The text, its offsets, then the runs' index and the runs.
            const std::size_t offsetBytes = b.offsets.size() * sizeof(std::uint32_t);
            const std::size_t indexBytes = b.runIndex.size() * sizeof(std::uint32_t);
            qint64 at = job.at;
            const auto put = [&](const void* p, std::size_t n) {
                const bool done = job.file->WriteAt(static_cast<const char*>(p), n, at);
                at += qint64(n);
                return done;
            };
            const bool ok = put(b.data.data(), b.data.size()) && put(b.offsets.data(), offsetBytes) &&
                            put(b.runIndex.data(), indexBytes) && put(b.runs.data(), b.runs.size());
            lk.lock();
            // Set under the lock, so that Wait cannot miss it.
            b.state.store(ok ? 1 : -1);
            FDone.notify_all();
            // The last holder of the block or the file may be this job: let go with the lock free.
            lk.unlock();
            job = {};
            lk.lock();
        }
    }

    std::mutex FMutex;
    std::condition_variable FWork, FDone;
    std::deque<Job> FJobs;
    std::thread FThread;
    bool FStop = false;
};

} // namespace

TLogModel::TLogModel()
{
    Clear();
}

TLogModel::~TLogModel() = default;

std::size_t TLogModel::ChunkOf(qint64 k) const
{
    if (k >= FChunks.back().first) return FChunks.size() - 1;
    auto it = std::upper_bound(FChunks.begin(), FChunks.end(), k,
                               [](qint64 v, const Chunk& c) { return v < c.first; });
    return static_cast<std::size_t>(it - FChunks.begin()) - 1;
}

TLogModel::ChunkView TLogModel::View(std::size_t c) const
{
    const Chunk& ch = FChunks[c];
    if (!ch.spilled) return {&ch.data, &ch.offsets, &ch.runs, &ch.runIndex};
    if (ch.inFlight)
        return {&ch.inFlight->data, &ch.inFlight->offsets, &ch.inFlight->runs, &ch.inFlight->runIndex};
    if (FCacheChunk != c) {
        LoadInto(ch, FCacheData, FCacheOffsets, FCacheRuns, FCacheRunIndex);
        FCacheChunk = c;
    }
    return {&FCacheData, &FCacheOffsets, &FCacheRuns, &FCacheRunIndex};
}

std::string_view TLogModel::Piece(qint64 k) const
{
    const std::size_t c = ChunkOf(k);
    const ChunkView v = View(c);
    const std::size_t local = static_cast<std::size_t>(k - FChunks[c].first);
    const std::size_t begin = (*v.offsets)[local];
    const std::size_t end = local + 1 < v.offsets->size() ? (*v.offsets)[local + 1] : v.data->size();
    return std::string_view(*v.data).substr(begin, end - begin);
}

std::size_t TLogModel::RunEntry(const std::string& runs, const std::vector<std::uint32_t>& index,
                                std::size_t local)
{
    const std::size_t step = local / kRunIndexStep;
    if (step >= index.size()) return runs.size();
    std::size_t at = index[step];
    // At most kRunIndexStep - 1 entries to step over: a lookup costs a few bytes read.
    for (std::size_t i = 0; i < local % kRunIndexStep && at < runs.size(); ++i) {
        std::uint64_t len = 0;
        GetVarint(runs, at, len);
        at += len;
    }
    return std::min(at, runs.size());
}

void TLogModel::EnterRunsMode(Chunk& ch)
{
    // The chunk's first run: the pieces before it get empty entries.
    ch.runIndex.reserve((ch.offsets.capacity() + kRunIndexStep - 1) / kRunIndexStep);
    for (std::size_t p = 0; p < ch.offsets.size(); ++p) {
        if (p % kRunIndexStep == 0) ch.runIndex.push_back(static_cast<std::uint32_t>(ch.runs.size()));
        ch.runs.push_back('\0');
    }
}

std::string_view TLogModel::PieceRuns(qint64 k) const
{
    const std::size_t c = ChunkOf(k);
    const ChunkView v = View(c);
    if (v.runs->empty()) return {};
    const std::size_t local = static_cast<std::size_t>(k - FChunks[c].first);
    std::size_t at = RunEntry(*v.runs, *v.runIndex, local);
    std::uint64_t len = 0;
    if (!GetVarint(*v.runs, at, len)) return {};
    return std::string_view(*v.runs).substr(at, std::min<std::size_t>(len, v.runs->size() - at));
}

void TLogModel::PushPiece(std::string_view bytes, std::string_view runs)
{
    if (FChunks.empty() || FChunks.back().spilled ||
        FChunks.back().data.capacity() - FChunks.back().data.size() < bytes.size()) {
        if (!FChunks.empty() && !FChunks.back().runs.empty()) {
            // The full chunk's runs grow no more: their slack goes.
            FChunks.back().runs.shrink_to_fit();
            FChunks.back().runIndex.shrink_to_fit();
        }
        Chunk c;
        c.first = FPieces;
        // Room to grow: a long last line keeps its chunk for a while.
        c.data.reserve(std::max(kChunk, 2 * bytes.size()));
        FChunks.push_back(std::move(c));
        SpillIfNeeded();
    }
    Chunk& ch = FChunks.back();
    if (!runs.empty() && ch.runs.empty()) {
        EnterRunsMode(ch);
        FHasRuns = true;
    }
    if (!ch.runs.empty() || !runs.empty()) {
        if (ch.offsets.size() % kRunIndexStep == 0)
            ch.runIndex.push_back(static_cast<std::uint32_t>(ch.runs.size()));
        PutVarint(ch.runs, runs.size());
        ch.runs.append(runs);
    }
    ch.offsets.push_back(static_cast<std::uint32_t>(ch.data.size()));
    ch.data.append(bytes);
    ++FPieces;
    FTextBytes += static_cast<qint64>(bytes.size());
    FMaxLineBytes = std::max<qint64>(FMaxLineBytes, static_cast<qint64>(bytes.size()));
}

void TLogModel::TruncatePieces(qint64 keep)
{
    if (keep >= FPieces) return;
    const std::size_t c = ChunkOf(keep);
    Unspill(FChunks[c]);
    for (std::size_t i = c + 1; i < FChunks.size(); ++i) {
        const Chunk& gone = FChunks[i];
        FTextBytes -= gone.spilled ? gone.dataBytes : static_cast<qint64>(gone.data.size());
        if (gone.inFlight) FInFlightBytes -= gone.inFlight->Memory();
    }
    Chunk& ch = FChunks[c];
    const std::size_t local = static_cast<std::size_t>(keep - ch.first);
    FTextBytes -= static_cast<qint64>(ch.data.size() - ch.offsets[local]);
    ch.data.resize(ch.offsets[local]);
    ch.offsets.resize(local);
    if (!ch.runs.empty()) {
        ch.runs.resize(RunEntry(ch.runs, ch.runIndex, local));
        ch.runIndex.resize((local + kRunIndexStep - 1) / kRunIndexStep);
        // One byte an entry: none of the pieces left has a run.
        if (ch.runs.size() == local) {
            ch.runs.clear();
            ch.runIndex.clear();
        }
    }
    FChunks.resize(c + 1);
    FTail = TailRun{};
    FPieces = keep;
    if (FCacheChunk != SIZE_MAX && FCacheChunk >= c) FCacheChunk = SIZE_MAX;
    FFirstInMemory = std::min(FFirstInMemory, c);
    FSettleFrom = std::min(FSettleFrom, c);
}

void TLogModel::PushParts(std::string_view sv, const ByteRuns& runs)
{
    if (runs.empty()) {
        ForEachPart(sv, [this](std::string_view part, std::size_t) { PushPiece(part); });
        return;
    }
    // Each piece takes the part of the runs over it, from its own start.
    std::size_t r = 0;
    std::string enc;
    ForEachPart(sv, [&](std::string_view part, std::size_t from) {
        enc.clear();
        const std::size_t to = from + part.size();
        while (r < runs.size() && std::size_t(runs[r].start) + runs[r].length <= from) ++r;
        for (std::size_t q = r; q < runs.size() && runs[q].start < to; ++q) {
            const std::size_t b = std::max<std::size_t>(runs[q].start, from);
            const std::size_t e = std::min<std::size_t>(std::size_t(runs[q].start) + runs[q].length, to);
            if (e > b) EncodeRun(enc, {std::uint32_t(b - from), std::uint32_t(e - b), runs[q].style});
        }
        PushPiece(part, enc);
    });
}

void TLogModel::ReplacePiece(qint64 k, const QByteArray& s, const ByteRuns& runs)
{
    const std::string_view sv(s.constData(), static_cast<std::size_t>(s.size()));
    std::vector<std::pair<std::string, std::string>> tail;
    for (qint64 t = k + 1; t < PieceCount(); ++t) {
        std::string text(Piece(t));
        tail.emplace_back(std::move(text), std::string(PieceRuns(t)));
    }
    TruncatePieces(k);
    PushParts(sv, runs);
    for (const auto& t : tail) PushPiece(t.first, t.second);
}

void TLogModel::EncodeRun(std::string& out, const ByteRun& r)
{
    PutVarint(out, r.start);
    PutVarint(out, r.length);
    PutVarint(out, StyleCode(r.style));
}

bool TLogModel::DecodeRun(std::string_view enc, std::size_t& at, ByteRun& r) const
{
    std::uint64_t start = 0, length = 0, code = 0;
    if (!GetVarint(enc, at, start) || !GetVarint(enc, at, length) || !GetVarint(enc, at, code)) return false;
    r = {std::uint32_t(std::min<std::uint64_t>(start, UINT32_MAX)),
         std::uint32_t(std::min<std::uint64_t>(length, UINT32_MAX)), StyleOf(code)};
    return true;
}

std::uint64_t TLogModel::StyleCode(quint64 style)
{
    // Numbered styles keep a run to three or four bytes; past the table a style is written whole.
    const auto it = FStyleIndex.find(style);
    if (it != FStyleIndex.end()) return std::uint64_t(it->second) << 1;
    if (FStyles.size() < kMaxStyles) {
        const auto index = static_cast<std::uint32_t>(FStyles.size());
        FStyles.push_back(style);
        FStyleIndex.emplace(style, index);
        return std::uint64_t(index) << 1;
    }
    return (style << 1) | 1;
}

quint64 TLogModel::StyleOf(std::uint64_t code) const
{
    if (code & 1) return code >> 1;
    const std::uint64_t index = code >> 1;
    return index < FStyles.size() ? FStyles[index] : 0;
}

TLogModel::ByteRuns TLogModel::DecodeRuns(qint64 k) const
{
    ByteRuns out;
    const std::string_view enc = PieceRuns(k);
    if (enc.empty()) return out;
    const std::size_t size = Piece(k).size();
    std::size_t at = 0;
    ByteRun r{};
    while (at < enc.size() && DecodeRun(enc, at, r)) {
        // Never past the text, whatever the encoding says.
        if (r.start >= size) break;
        r.length = std::uint32_t(std::min<std::size_t>(r.length, size - r.start));
        if (r.length > 0) out.push_back(r);
    }
    return out;
}

TLogModel::ByteRuns TLogModel::ToByteRuns(const QString& s, const TCvStyleRuns& runs)
{
    // UTF-16 positions to those of s.toUtf8(), in one walk over s (the runs are in order).
    ByteRuns out;
    out.reserve(runs.size());
    const qsizetype n = s.size();
    const QChar* p = s.constData();
    qsizetype u = 0;
    std::size_t b = 0;
    const auto to = [&](qsizetype target) {
        while (u < target && u < n) {
            const char16_t c = p[u].unicode();
            if (c < 0x80) b += 1, u += 1;
            else if (c < 0x800) b += 2, u += 1;
            else if (QChar::isHighSurrogate(c) && u + 1 < n && p[u + 1].isLowSurrogate()) b += 4, u += 2;
            else b += 3, u += 1;
        }
        return b;
    };
    for (const TCvStyleRun& r : runs) {
        if (r.Length == 0 || TCvTextStyle(r.Style).IsPlain()) continue;
        const std::size_t start = to(qsizetype(r.Start));
        const std::size_t end = to(qsizetype(r.Start) + qsizetype(r.Length));
        if (end > start) out.push_back({std::uint32_t(start), std::uint32_t(end - start), r.Style});
    }
    return out;
}

TCvStyleRuns TLogModel::ToUnitRuns(std::string_view piece, const ByteRuns& runs)
{
    TCvStyleRuns out;
    out.reserve(runs.size());
    std::size_t b = 0;
    quint32 u = 0;
    const auto to = [&](std::size_t target) {
        while (b < target && b < piece.size()) {
            const auto c = static_cast<unsigned char>(piece[b]);
            const std::size_t len = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            b += len;
            u += len == 4 ? 2 : 1;
        }
        return u;
    };
    for (const ByteRun& r : runs) {
        const quint32 start = to(r.start);
        const quint32 end = to(std::size_t(r.start) + r.length);
        if (end > start) out.push_back({start, end - start, r.style});
    }
    return out;
}

qint64 TLogModel::LineCount() const
{
    return Piece(FPieces - 1).empty() ? FPieces - 1 : FPieces;
}

QString TLogModel::Line(qint64 i) const
{
    return QString::fromUtf8(LineUtf8(i));
}

QByteArray TLogModel::LineUtf8(qint64 i) const
{
    if (i < 0 || i >= LineCount()) return QByteArray();
    std::string_view p = Piece(i);
    return QByteArray(p.data(), static_cast<qsizetype>(p.size()));
}

qint64 TLogModel::LineBytes(qint64 i) const
{
    if (i < 0 || i >= LineCount()) return 0;
    return static_cast<qint64>(Piece(i).size());
}

QByteArray TLogModel::LineUtf8From(qint64 i, qint64 from) const
{
    if (i < 0 || i >= LineCount()) return QByteArray();
    std::string_view p = Piece(i);
    if (from < 0) from = 0;
    if (static_cast<std::size_t>(from) >= p.size()) return QByteArray();
    p.remove_prefix(static_cast<std::size_t>(from));
    return QByteArray(p.data(), static_cast<qsizetype>(p.size()));
}

bool TLogModel::IsEmpty() const
{
    return FPieces == 1 && Piece(0).empty();
}

bool TLogModel::EndsWithCrlf() const
{
    return FPieces > 1 && Piece(FPieces - 1).empty();
}

void TLogModel::ReplaceLine(qint64 i, const QString& s)
{
    if (LineCount() == 0) i = 0;
    if (i < 0 || i >= FPieces) return;
    ReplacePiece(i, s.toUtf8());
    Changed();
}

void TLogModel::ReplaceLine(qint64 i, const QString& s, const TCvStyleRuns& runs)
{
    if (LineCount() == 0) i = 0;
    if (i < 0 || i >= FPieces) return;
    ReplacePiece(i, s.toUtf8(), ToByteRuns(s, runs));
    Changed();
}

void TLogModel::PrefixLine(qint64 i, const QString& prefix)
{
    if (LineCount() == 0) i = 0;
    if (i < 0 || i >= FPieces) return;
    QByteArray line = prefix.toUtf8();
    const auto shift = static_cast<std::uint32_t>(line.size());
    ByteRuns runs = DecodeRuns(i);
    for (ByteRun& r : runs) r.start += shift;
    const std::string_view old = Piece(i);
    line.append(old.data(), static_cast<qsizetype>(old.size()));
    ReplacePiece(i, line, runs);
    Changed();
}

TCvStyleRuns TLogModel::LineRuns(qint64 i) const
{
    if (i < 0 || i >= LineCount()) return {};
    const ByteRuns runs = DecodeRuns(i);
    if (runs.empty()) return {};
    return ToUnitRuns(Piece(i), runs);
}

TCvStyleRuns TLogModel::LineRunsUtf8(qint64 i) const
{
    if (i < 0 || i >= LineCount()) return {};
    const ByteRuns runs = DecodeRuns(i);
    TCvStyleRuns out;
    out.reserve(runs.size());
    for (const ByteRun& r : runs) out.push_back({r.start, r.length, r.style});
    return out;
}

TCvStyleRuns TLogModel::Utf8RunsToUnits(std::string_view utf8, const TCvStyleRuns& runs)
{
    ByteRuns given;
    given.reserve(runs.size());
    for (const TCvStyleRun& r : runs) given.push_back({r.Start, r.Length, r.Style});
    return ToUnitRuns(utf8, given);
}

bool TLogModel::LineHasRuns(qint64 i) const
{
    return i >= 0 && i < LineCount() && !PieceRuns(i).empty();
}

void TLogModel::Add(const QString& s)
{
    AddBytes(s.toUtf8(), {});
}

void TLogModel::Add(const QString& s, const TCvStyleRuns& runs)
{
    AddBytes(s.toUtf8(), ToByteRuns(s, runs));
}

void TLogModel::AddBytes(const QByteArray& bytes, const ByteRuns& runs)
{
    AddPieces(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), runs);
    Changed();
}

void TLogModel::AddUtf8Lines(std::string_view utf8, const std::vector<std::uint32_t>& ends)
{
    if (ends.empty()) return;
    std::size_t from = 0;
    for (const std::uint32_t end : ends) {
        AddPieces(utf8.substr(from, end - from), {});
        from = end;
    }
    Changed();
}

void TLogModel::AddUtf8Lines(std::string_view utf8, const std::vector<std::uint32_t>& ends,
                             const TCvStyleRuns& runs)
{
    if (runs.empty()) {
        AddUtf8Lines(utf8, ends);
        return;
    }
    if (ends.empty()) return;
    std::size_t from = 0, r = 0;
    ByteRuns line;
    for (const std::uint32_t end : ends) {
        line.clear();
        // Runs are in order and each lies within its line: those before `end` are this line's.
        for (; r < runs.size() && runs[r].Start < end; ++r) {
            const TCvStyleRun& x = runs[r];
            if (x.Start < from || x.Length == 0 || TCvTextStyle(x.Style).IsPlain()) continue;
            const std::uint32_t length = std::min<std::uint32_t>(x.Length, end - x.Start);
            line.push_back({std::uint32_t(x.Start - from), length, x.Style});
        }
        AddPieces(utf8.substr(from, end - from), line);
        from = end;
    }
    Changed();
}

void TLogModel::AddPieces(std::string_view sv, const ByteRuns& runs)
{
    if (Piece(FPieces - 1).empty()) {
        // T is empty or ends with CR LF: T + S + CR LF.
        TruncatePieces(FPieces - 1);
        PushParts(sv, runs);
        PushPiece({});
    } else if (sv.empty()) {
        PushPiece({});
        PushPiece({});
    } else {
        PushParts(sv, runs);
    }
}

void TLogModel::AppendToLastLine(const QString& s)
{
    const qint64 count = LineCount();
    if (count == 0) {
        ReplaceLine(0, s);
        return;
    }
    AppendBytes(s.toUtf8(), {});
}

void TLogModel::AppendToLastLine(const QString& s, const TCvStyleRuns& runs)
{
    const qint64 count = LineCount();
    if (count == 0) {
        ReplaceLine(0, s, runs);
        return;
    }
    AppendBytes(s.toUtf8(), ToByteRuns(s, runs));
}

void TLogModel::AppendRunsInPlace(qint64 line, std::uint32_t shift, const ByteRuns& runs)
{
    Chunk& ch = FChunks.back();
    const auto local = static_cast<std::size_t>(line - ch.first);
    if (ch.runs.empty()) {
        EnterRunsMode(ch);
        FHasRuns = true;
    }
    // The line's entry ends the chunk's runs; only the empty final piece's entry (one byte)
    // may follow it, and it is put back behind the grown entry.
    const bool finalPiece = local + 1 < ch.offsets.size();
    const std::size_t entry = RunEntry(ch.runs, ch.runIndex, local);
    std::size_t body = entry;
    std::uint64_t len = 0;
    GetVarint(ch.runs, body, len);
    const std::size_t prefixBytes = body - entry;
    ch.runs.resize(body + len);
    if (FTail.piece != line) {
        FTail = TailRun{};
        FTail.piece = line;
        const std::string_view enc = std::string_view(ch.runs).substr(body);
        ByteRun r{};
        for (std::size_t at = 0; at < enc.size();) {
            const std::size_t from = at;
            if (!DecodeRun(enc, at, r)) break;
            FTail.has = true;
            FTail.at = static_cast<std::uint32_t>(body + from);
            FTail.run = r;
        }
    }
    for (const ByteRun& given : runs) {
        const ByteRun r{given.start + shift, given.length, given.style};
        if (FTail.has && FTail.run.start + FTail.run.length == r.start && FTail.run.style == r.style) {
            ch.runs.resize(FTail.at);
            FTail.run.length += r.length;
        } else {
            FTail.has = true;
            FTail.at = static_cast<std::uint32_t>(ch.runs.size());
            FTail.run = r;
        }
        EncodeRun(ch.runs, FTail.run);
    }
    // The entry's length in front of it, moved only when its own size changes.
    std::string prefix;
    PutVarint(prefix, ch.runs.size() - body);
    ch.runs.replace(entry, prefixBytes, prefix);
    FTail.at = static_cast<std::uint32_t>(FTail.at + prefix.size() - prefixBytes);
    if (finalPiece) {
        if ((local + 1) % kRunIndexStep == 0) ch.runIndex.back() = static_cast<std::uint32_t>(ch.runs.size());
        ch.runs.push_back('\0');
    }
}

void TLogModel::AppendBytes(const QByteArray& extra, const ByteRuns& runs)
{
    const qint64 count = LineCount();
    const std::string_view ev(extra.constData(), static_cast<std::size_t>(extra.size()));
    Chunk& tail = FChunks.back();
    if (ev.find(kCrlf) == std::string_view::npos && !tail.spilled && count - 1 >= tail.first) {
        // Fast path: the last line ends the last chunk's data (followed at most by the empty
        // final piece) and grows in place without a new line break. A long line that keeps
        // growing costs its new bytes only.
        std::string_view last = Piece(count - 1);
        const bool joinsCrlf = !last.empty() && last.back() == '\r' && !ev.empty() && ev.front() == '\n';
        std::string& chunk = tail.data;
        if (!joinsCrlf && chunk.capacity() - chunk.size() >= ev.size()) {
            const qint64 lineBytes = static_cast<qint64>(last.size() + ev.size());
            const auto shift = static_cast<std::uint32_t>(last.size());
            const bool endsWithCrlf = EndsWithCrlf();
            chunk.append(ev);
            // The empty final piece (T ends with CR LF) moves behind the new bytes.
            if (endsWithCrlf) tail.offsets.back() = static_cast<std::uint32_t>(chunk.size());
            if (!runs.empty()) AppendRunsInPlace(count - 1, shift, runs);
            FTextBytes += static_cast<qint64>(ev.size());
            FMaxLineBytes = std::max<qint64>(FMaxLineBytes, lineBytes);
            Changed();
            return;
        }
    }
    QByteArray line = LineUtf8(count - 1);
    ByteRuns joined;
    if (!runs.empty() || LineHasRuns(count - 1)) {
        joined = DecodeRuns(count - 1);
        const auto shift = static_cast<std::uint32_t>(line.size());
        for (const ByteRun& r : runs) {
            ByteRun* back = joined.empty() ? nullptr : &joined.back();
            if (back && back->start + back->length == r.start + shift && back->style == r.style)
                back->length += r.length;
            else joined.push_back({r.start + shift, r.length, r.style});
        }
    }
    line += extra;
    ReplacePiece(count - 1, line, joined);
    Changed();
}

void TLogModel::Clear()
{
    FChunks.clear();
    FPieces = 0;
    FTextBytes = 0;
    FMaxLineBytes = 0;
    FSpill.reset();
    FSpillEnd = 0;
    FInFlightBytes = 0;
    FSettleFrom = 0;
    FFirstInMemory = 0;
    FCacheChunk = SIZE_MAX;
    FCacheData.clear();
    FCacheOffsets.clear();
    FCacheRuns.clear();
    FCacheRunIndex.clear();
    FStyles.clear();
    FStyleIndex.clear();
    FHasRuns = false;
    FTail = TailRun{};
    PushPiece({});
    Changed();
}

QByteArray TLogModel::Text() const
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(FTextBytes + 2 * FPieces));
    for (qint64 k = 0; k < FPieces; ++k) {
        if (k > 0) out.append("\r\n", 2);
        std::string_view p = Piece(k);
        out.append(p.data(), static_cast<qsizetype>(p.size()));
    }
    return out;
}

bool TLogModel::WriteTo(QIODevice& out) const
{
    constexpr qsizetype kBatch = qsizetype(1) << 20;
    QByteArray batch;
    batch.reserve(kBatch + 4096);
    for (qint64 k = 0; k < FPieces; ++k) {
        if (k > 0) batch.append("\r\n", 2);
        std::string_view p = Piece(k);
        batch.append(p.data(), static_cast<qsizetype>(p.size()));
        if (batch.size() >= kBatch) {
            if (out.write(batch) != batch.size()) return false;
            batch.resize(0);
        }
    }
    return batch.isEmpty() || out.write(batch) == batch.size();
}

std::size_t TLogModel::MemoryBytes() const
{
    std::size_t n = FChunks.capacity() * sizeof(Chunk) + FCacheData.capacity() +
                    FCacheOffsets.capacity() * sizeof(std::uint32_t) + FCacheRuns.capacity() +
                    FCacheRunIndex.capacity() * sizeof(std::uint32_t) + FStyles.capacity() * sizeof(quint64) +
                    FStyleIndex.size() * (sizeof(quint64) + sizeof(std::uint32_t) + 2 * sizeof(void*));
    for (const Chunk& c : FChunks)
        n += c.data.capacity() + c.offsets.capacity() * sizeof(std::uint32_t) + c.runs.capacity() +
             c.runIndex.capacity() * sizeof(std::uint32_t);
    return n + FInFlightBytes;
}

qint64 TLogModel::SpilledBytes() const
{
    qint64 n = 0;
    for (const Chunk& c : FChunks)
        if (c.spilled) n += c.dataBytes;
    return n;
}

void TLogModel::SetMemoryLimit(std::size_t bytes)
{
    FMemoryLimit = bytes;
    SpillIfNeeded();
}

void TLogModel::SpillIfNeeded()
{
    Settle();
    if (FMemoryLimit == 0) return;
    // Chunks start on their way to disk a little before the limit is reached, so that the
    // writer is ahead; only a disk slower than the text coming in makes this thread wait.
    const std::size_t early = FMemoryLimit - std::min(FMemoryLimit / 4, std::size_t(32) << 20);
    std::size_t resident = MemoryBytes() - FInFlightBytes;
    // The last chunk is where lines change; it always stays in memory.
    while (resident > early && FFirstInMemory + 1 < FChunks.size()) {
        Chunk& c = FChunks[FFirstInMemory];
        if (!c.spilled) {
            const std::size_t freed = c.data.capacity() + c.offsets.capacity() * sizeof(std::uint32_t) +
                                      c.runs.capacity() + c.runIndex.capacity() * sizeof(std::uint32_t);
            // A disk that refuses the text leaves it in memory: nothing is lost.
            if (!Spill(c)) {
                FMemoryLimit = 0;
                return;
            }
            resident -= std::min(resident, freed);
        }
        ++FFirstInMemory;
    }
    while (MemoryBytes() > FMemoryLimit && FSettleFrom < FFirstInMemory) {
        const Chunk& c = FChunks[FSettleFrom];
        if (c.inFlight) TSpillWriter::Instance().Wait(*c.inFlight);
        Settle();
        if (FMemoryLimit == 0) return;
    }
}

void TLogModel::Settle()
{
    for (; FSettleFrom < FFirstInMemory && FSettleFrom < FChunks.size(); ++FSettleFrom) {
        Chunk& c = FChunks[FSettleFrom];
        if (!c.inFlight) continue;
        const int state = c.inFlight->state.load();
        if (state == 0) return;
        if (state < 0) {
            // The disk refused it: the text stays in memory, and no more goes to disk.
            c.data = c.inFlight->data;
            c.offsets = c.inFlight->offsets;
            c.runs = c.inFlight->runs;
            c.runIndex = c.inFlight->runIndex;
            c.spilled = false;
            FMemoryLimit = 0;
        }
        FInFlightBytes -= c.inFlight->Memory();
        c.inFlight.reset();
    }
}

bool TLogModel::Spill(Chunk& c)
{
    if (!FSpill) {
        FSpill = SpillFile::Create();
        if (!FSpill) return false;
    }
    auto block = std::make_shared<SpillBlock>();
    block->data = std::move(c.data);
    block->offsets = std::move(c.offsets);
    block->runs = std::move(c.runs);
    block->runIndex = std::move(c.runIndex);
    c.data = std::string();
    c.offsets = std::vector<std::uint32_t>();
    c.runs = std::string();
    c.runIndex = std::vector<std::uint32_t>();
    const qint64 dataBytes = static_cast<qint64>(block->data.size());
    const qint64 offsetBytes = static_cast<qint64>(block->offsets.size() * sizeof(std::uint32_t));
    // Runs go with their text: their index, then the runs.
    const qint64 runIndexBytes = static_cast<qint64>(block->runIndex.size() * sizeof(std::uint32_t));
    const qint64 runBytes = static_cast<qint64>(block->runs.size());
    c.fileOffset = FSpillEnd;
    c.dataBytes = static_cast<std::uint32_t>(dataBytes);
    c.pieces = static_cast<std::uint32_t>(block->offsets.size());
    c.runBytes = static_cast<std::uint32_t>(runBytes);
    c.spilledRuns = runBytes > 0;
    FSpillEnd += dataBytes + offsetBytes + runIndexBytes + runBytes;
    FInFlightBytes += block->Memory();
    c.spilled = true;
    c.inFlight = block;
    TSpillWriter::Instance().Post(FSpill, c.fileOffset, std::move(block));
    return true;
}

bool TLogModel::LoadInto(const Chunk& c, std::string& data, std::vector<std::uint32_t>& offsets,
                         std::string& runs, std::vector<std::uint32_t>& runIndex) const
{
    data.assign(c.dataBytes, '\0');
    offsets.assign(c.pieces, 0);
    runs.assign(c.spilledRuns ? c.runBytes : 0, '\0');
    runIndex.assign(c.spilledRuns ? (c.pieces + kRunIndexStep - 1) / kRunIndexStep : 0, 0);
    const std::size_t offsetBytes = c.pieces * sizeof(std::uint32_t);
    const std::size_t runIndexBytes = runIndex.size() * sizeof(std::uint32_t);
    qint64 at = c.fileOffset;
    const auto get = [&](void* p, std::size_t n) {
        const bool done = FSpill->ReadAt(static_cast<char*>(p), n, at);
        at += qint64(n);
        return done;
    };
    return FSpill && get(data.data(), c.dataBytes) && get(offsets.data(), offsetBytes) &&
           get(runIndex.data(), runIndexBytes) && get(runs.data(), runs.size());
}

void TLogModel::Unspill(Chunk& c)
{
    if (!c.spilled) return;
    if (c.inFlight) {
        // The writer may still read it: a copy.
        c.data = c.inFlight->data;
        c.offsets = c.inFlight->offsets;
        c.runs = c.inFlight->runs;
        c.runIndex = c.inFlight->runIndex;
        FInFlightBytes -= c.inFlight->Memory();
        c.inFlight.reset();
    } else {
        LoadInto(c, c.data, c.offsets, c.runs, c.runIndex);
    }
    c.spilled = false;
    FCacheChunk = SIZE_MAX;
}

void TLogModel::Changed()
{
    ++FRevision;
    if (FOnChanged) FOnChanged();
}
