#include "TLogModel.h"

#include <algorithm>

namespace {

constexpr std::string_view kCrlf("\r\n", 2);

std::uint64_t Pack(std::size_t chunk, std::size_t offset)
{
    return (static_cast<std::uint64_t>(chunk) << 32) | static_cast<std::uint32_t>(offset);
}
std::size_t ChunkOf(std::uint64_t v) { return static_cast<std::size_t>(v >> 32); }
std::size_t OffsetOf(std::uint64_t v) { return static_cast<std::size_t>(v & 0xFFFFFFFFu); }

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

std::string_view TLogModel::Piece(qint64 k) const
{
    const std::uint64_t s = FStarts[static_cast<std::size_t>(k)];
    const std::size_t c = ChunkOf(s), off = OffsetOf(s);
    std::size_t end = FChunks[c].size();
    if (k + 1 < PieceCount() && ChunkOf(FStarts[static_cast<std::size_t>(k + 1)]) == c)
        end = OffsetOf(FStarts[static_cast<std::size_t>(k + 1)]);
    return std::string_view(FChunks[c]).substr(off, end - off);
}

void TLogModel::PushPiece(std::string_view bytes)
{
    if (FChunks.empty() || FChunks.back().capacity() - FChunks.back().size() < bytes.size()) {
        FChunks.emplace_back();
        // Room to grow: a long last line keeps its chunk for a while.
        FChunks.back().reserve(std::max(kChunk, 2 * bytes.size()));
    }
    std::string& chunk = FChunks.back();
    FStarts.push_back(Pack(FChunks.size() - 1, chunk.size()));
    chunk.append(bytes);
    FTextBytes += static_cast<qint64>(bytes.size());
    FMaxLineBytes = std::max<qint64>(FMaxLineBytes, static_cast<qint64>(bytes.size()));
}

void TLogModel::TruncatePieces(qint64 keep)
{
    if (keep >= PieceCount()) return;
    for (qint64 k = keep; k < PieceCount(); ++k) FTextBytes -= static_cast<qint64>(Piece(k).size());
    const std::uint64_t s = FStarts[static_cast<std::size_t>(keep)];
    const std::size_t c = ChunkOf(s);
    FChunks.resize(c + 1);
    FChunks[c].resize(OffsetOf(s));
    FStarts.resize(static_cast<std::size_t>(keep));
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
    const qint64 n = PieceCount();
    return Piece(n - 1).empty() ? n - 1 : n;
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

bool TLogModel::IsEmpty() const
{
    return PieceCount() == 1 && Piece(0).empty();
}

bool TLogModel::EndsWithCrlf() const
{
    return PieceCount() > 1 && Piece(PieceCount() - 1).empty();
}

void TLogModel::ReplaceLine(qint64 i, const QString& s)
{
    const qint64 count = LineCount();
    if (count == 0) i = 0;
    if (i < 0 || i >= PieceCount()) return;
    ReplacePiece(i, s.toUtf8());
    Changed();
}

void TLogModel::Add(const QString& s)
{
    const QByteArray bytes = s.toUtf8();
    const std::string_view sv(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (Piece(PieceCount() - 1).empty()) {
        // T is empty or ends with CR LF: T + S + CR LF.
        TruncatePieces(PieceCount() - 1);
        ForEachPart(sv, [this](std::string_view part) { PushPiece(part); });
        PushPiece({});
    } else if (sv.empty()) {
        PushPiece({});
        PushPiece({});
    } else {
        ForEachPart(sv, [this](std::string_view part) { PushPiece(part); });
    }
    Changed();
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
    if (!EndsWithCrlf() && ev.find(kCrlf) == std::string_view::npos) {
        // Fast path: the last piece is the last line and grows without a new line break.
        std::string_view last = Piece(count - 1);
        const bool joinsCrlf = !last.empty() && last.back() == '\r' && !ev.empty() && ev.front() == '\n';
        std::string& chunk = FChunks.back();
        if (!joinsCrlf && chunk.capacity() - chunk.size() >= ev.size()) {
            chunk.append(ev);
            FTextBytes += static_cast<qint64>(ev.size());
            FMaxLineBytes = std::max<qint64>(FMaxLineBytes, static_cast<qint64>(last.size() + ev.size()));
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
    FStarts.clear();
    FTextBytes = 0;
    FMaxLineBytes = 0;
    PushPiece({});
    Changed();
}

QByteArray TLogModel::Text() const
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(FTextBytes + 2 * PieceCount()));
    for (qint64 k = 0; k < PieceCount(); ++k) {
        if (k > 0) out.append("\r\n", 2);
        std::string_view p = Piece(k);
        out.append(p.data(), static_cast<qsizetype>(p.size()));
    }
    return out;
}

std::size_t TLogModel::MemoryBytes() const
{
    std::size_t n = FStarts.capacity() * sizeof(std::uint64_t);
    for (const std::string& c : FChunks) n += c.capacity();
    return n;
}

void TLogModel::Changed()
{
    ++FRevision;
    if (FOnChanged) FOnChanged();
}
