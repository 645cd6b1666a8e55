#include "TLogModel.h"

#include <QDir>
#include <QIODevice>
#include <QTemporaryFile>

#include <algorithm>

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
    if (ch.spilled) {
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
    for (std::size_t i = c + 1; i < FChunks.size(); ++i)
        FTextBytes -= FChunks[i].spilled ? FChunks[i].dataBytes : static_cast<qint64>(FChunks[i].data.size());
    Chunk& ch = FChunks[c];
    const std::size_t local = static_cast<std::size_t>(keep - ch.first);
    FTextBytes -= static_cast<qint64>(ch.data.size() - ch.offsets[local]);
    ch.data.resize(ch.offsets[local]);
    ch.offsets.resize(local);
    FChunks.resize(c + 1);
    FPieces = keep;
    if (FCacheChunk != SIZE_MAX && FCacheChunk >= c) FCacheChunk = SIZE_MAX;
    FFirstInMemory = std::min(FFirstInMemory, c);
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
    return n;
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
    if (FMemoryLimit == 0) return;
    std::size_t mem = MemoryBytes();
    // The last chunk is where lines change; it always stays in memory.
    while (mem > FMemoryLimit && FFirstInMemory + 1 < FChunks.size()) {
        Chunk& c = FChunks[FFirstInMemory];
        if (!c.spilled) {
            const std::size_t freed = c.data.capacity() + c.offsets.capacity() * sizeof(std::uint32_t);
            // A disk that refuses the text leaves it in memory: nothing is lost.
            if (!Spill(c)) {
                FMemoryLimit = 0;
                return;
            }
            mem -= std::min(mem, freed);
        }
        ++FFirstInMemory;
    }
}

bool TLogModel::Spill(Chunk& c)
{
    if (!FSpill) {
        FSpill = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/corvane-log-XXXXXX"));
        if (!FSpill->open()) {
            FSpill.reset();
            return false;
        }
    }
    const qint64 dataBytes = static_cast<qint64>(c.data.size());
    const qint64 offsetBytes = static_cast<qint64>(c.offsets.size() * sizeof(std::uint32_t));
    if (!FSpill->seek(FSpillEnd) || FSpill->write(c.data.data(), dataBytes) != dataBytes ||
        FSpill->write(reinterpret_cast<const char*>(c.offsets.data()), offsetBytes) != offsetBytes ||
        !FSpill->flush())
        return false;
    c.fileOffset = FSpillEnd;
    c.dataBytes = static_cast<std::uint32_t>(dataBytes);
    c.pieces = static_cast<std::uint32_t>(c.offsets.size());
    FSpillEnd += dataBytes + offsetBytes;
    std::string().swap(c.data);
    std::vector<std::uint32_t>().swap(c.offsets);
    c.spilled = true;
    return true;
}

bool TLogModel::LoadInto(const Chunk& c, std::string& data, std::vector<std::uint32_t>& offsets) const
{
    data.assign(c.dataBytes, '\0');
    offsets.assign(c.pieces, 0);
    const qint64 offsetBytes = static_cast<qint64>(c.pieces * sizeof(std::uint32_t));
    return FSpill && FSpill->seek(c.fileOffset) && FSpill->read(data.data(), c.dataBytes) == c.dataBytes &&
           FSpill->read(reinterpret_cast<char*>(offsets.data()), offsetBytes) == offsetBytes;
}

void TLogModel::Unspill(Chunk& c)
{
    if (!c.spilled) return;
    LoadInto(c, c.data, c.offsets);
    c.spilled = false;
    FCacheChunk = SIZE_MAX;
}

void TLogModel::Changed()
{
    ++FRevision;
    if (FOnChanged) FOnChanged();
}
