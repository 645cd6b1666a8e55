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

template <typename F> void ForEachPart(std::string_view s, F&& f)
{
    std::size_t from = 0;
    for (;;) {
        std::size_t at = s.find(kCrlf, from);
        if (at == std::string_view::npos) {
            f(s.substr(from));
            return;
        }
        f(s.substr(from, at - from));
        from = at + 2;
    }
}

} // namespace

// The text of a chunk on its way to disk: the model reads it from here until the writer
// has put it there.
struct TLogModel::SpillBlock {
    std::string data;
    std::vector<std::uint32_t> offsets;
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
            const std::size_t offsetBytes = b.offsets.size() * sizeof(std::uint32_t);
            const bool ok = job.file->WriteAt(b.data.data(), b.data.size(), job.at) &&
                            job.file->WriteAt(reinterpret_cast<const char*>(b.offsets.data()), offsetBytes,
                                              job.at + qint64(b.data.size()));
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

std::string_view TLogModel::Piece(qint64 k) const
{
    const std::size_t c = ChunkOf(k);
    const Chunk& ch = FChunks[c];
    const std::string* data = &ch.data;
    const std::vector<std::uint32_t>* offsets = &ch.offsets;
    if (ch.spilled && ch.inFlight) {
        data = &ch.inFlight->data;
        offsets = &ch.inFlight->offsets;
    } else if (ch.spilled) {
        if (FCacheChunk != c) {
            LoadInto(ch, FCacheData, FCacheOffsets);
            FCacheChunk = c;
        }
        data = &FCacheData;
        offsets = &FCacheOffsets;
    }
    const std::size_t local = static_cast<std::size_t>(k - ch.first);
    const std::size_t begin = (*offsets)[local];
    const std::size_t end = local + 1 < offsets->size() ? (*offsets)[local + 1] : data->size();
    return std::string_view(*data).substr(begin, end - begin);
}

void TLogModel::PushPiece(std::string_view bytes)
{
    if (FChunks.empty() || FChunks.back().spilled ||
        FChunks.back().data.capacity() - FChunks.back().data.size() < bytes.size()) {
        Chunk c;
        c.first = FPieces;
        // Room to grow: a long last line keeps its chunk for a while.
        c.data.reserve(std::max(kChunk, 2 * bytes.size()));
        FChunks.push_back(std::move(c));
        SpillIfNeeded();
    }
    Chunk& ch = FChunks.back();
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
        if (gone.inFlight)
            FInFlightBytes -=
                gone.inFlight->data.capacity() + gone.inFlight->offsets.capacity() * sizeof(std::uint32_t);
    }
    Chunk& ch = FChunks[c];
    const std::size_t local = static_cast<std::size_t>(keep - ch.first);
    FTextBytes -= static_cast<qint64>(ch.data.size() - ch.offsets[local]);
    ch.data.resize(ch.offsets[local]);
    ch.offsets.resize(local);
    FChunks.resize(c + 1);
    FPieces = keep;
    if (FCacheChunk != SIZE_MAX && FCacheChunk >= c) FCacheChunk = SIZE_MAX;
    FFirstInMemory = std::min(FFirstInMemory, c);
    FSettleFrom = std::min(FSettleFrom, c);
}

void TLogModel::ReplacePiece(qint64 k, const QByteArray& s)
{
    const std::string_view sv(s.constData(), static_cast<std::size_t>(s.size()));
    std::vector<std::string> tail;
    for (qint64 t = k + 1; t < PieceCount(); ++t) tail.emplace_back(Piece(t));
    TruncatePieces(k);
    ForEachPart(sv, [this](std::string_view part) { PushPiece(part); });
    for (const std::string& t : tail) PushPiece(t);
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

void TLogModel::Add(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    AddPieces(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    Changed();
}

void TLogModel::AddUtf8Lines(std::string_view utf8, const std::vector<std::uint32_t>& ends)
{
    if (ends.empty()) return;
    std::size_t from = 0;
    for (const std::uint32_t end : ends) {
        AddPieces(utf8.substr(from, end - from));
        from = end;
    }
    Changed();
}

void TLogModel::AddPieces(std::string_view sv)
{
    if (Piece(FPieces - 1).empty()) {
        // T is empty or ends with CR LF: T + S + CR LF.
        TruncatePieces(FPieces - 1);
        ForEachPart(sv, [this](std::string_view part) { PushPiece(part); });
        PushPiece({});
    } else if (sv.empty()) {
        PushPiece({});
        PushPiece({});
    } else {
        ForEachPart(sv, [this](std::string_view part) { PushPiece(part); });
    }
}

void TLogModel::AppendToLastLine(const QString& s)
{
    const qint64 count = LineCount();
    if (count == 0) {
        ReplaceLine(0, s);
        return;
    }
    const QByteArray extra = s.toUtf8();
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
            const bool endsWithCrlf = EndsWithCrlf();
            chunk.append(ev);
            // The empty final piece (T ends with CR LF) moves behind the new bytes.
            if (endsWithCrlf) tail.offsets.back() = static_cast<std::uint32_t>(chunk.size());
            FTextBytes += static_cast<qint64>(ev.size());
            FMaxLineBytes = std::max<qint64>(FMaxLineBytes, lineBytes);
            Changed();
            return;
        }
    }
    QByteArray line = LineUtf8(count - 1);
    line += extra;
    ReplacePiece(count - 1, line);
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
                    FCacheOffsets.capacity() * sizeof(std::uint32_t);
    for (const Chunk& c : FChunks) n += c.data.capacity() + c.offsets.capacity() * sizeof(std::uint32_t);
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
            const std::size_t freed = c.data.capacity() + c.offsets.capacity() * sizeof(std::uint32_t);
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
            c.spilled = false;
            FMemoryLimit = 0;
        }
        FInFlightBytes -=
            c.inFlight->data.capacity() + c.inFlight->offsets.capacity() * sizeof(std::uint32_t);
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
    c.data = std::string();
    c.offsets = std::vector<std::uint32_t>();
    const qint64 dataBytes = static_cast<qint64>(block->data.size());
    const qint64 offsetBytes = static_cast<qint64>(block->offsets.size() * sizeof(std::uint32_t));
    c.fileOffset = FSpillEnd;
    c.dataBytes = static_cast<std::uint32_t>(dataBytes);
    c.pieces = static_cast<std::uint32_t>(block->offsets.size());
    FSpillEnd += dataBytes + offsetBytes;
    FInFlightBytes += block->data.capacity() + block->offsets.capacity() * sizeof(std::uint32_t);
    c.spilled = true;
    c.inFlight = block;
    TSpillWriter::Instance().Post(FSpill, c.fileOffset, std::move(block));
    return true;
}

bool TLogModel::LoadInto(const Chunk& c, std::string& data, std::vector<std::uint32_t>& offsets) const
{
    data.assign(c.dataBytes, '\0');
    offsets.assign(c.pieces, 0);
    const std::size_t offsetBytes = c.pieces * sizeof(std::uint32_t);
    return FSpill && FSpill->ReadAt(data.data(), c.dataBytes, c.fileOffset) &&
           FSpill->ReadAt(reinterpret_cast<char*>(offsets.data()), offsetBytes, c.fileOffset + c.dataBytes);
}

void TLogModel::Unspill(Chunk& c)
{
    if (!c.spilled) return;
    if (c.inFlight) {
        // The writer may still read it: a copy.
        c.data = c.inFlight->data;
        c.offsets = c.inFlight->offsets;
        FInFlightBytes -=
            c.inFlight->data.capacity() + c.inFlight->offsets.capacity() * sizeof(std::uint32_t);
        c.inFlight.reset();
    } else {
        LoadInto(c, c.data, c.offsets);
    }
    c.spilled = false;
    FCacheChunk = SIZE_MAX;
}

void TLogModel::Changed()
{
    ++FRevision;
    if (FOnChanged) FOnChanged();
}
