#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;

// The text behind a log view: one text T shown as the pieces between CR LF pairs.
// A final empty piece (T ends with CR LF, or T is empty) is not a line.
// Pieces are kept as UTF-8 in chunks of about 1 MiB, each with the offsets of its pieces,
// so a million-line log costs little more than its text and any line is found at once.
// Beyond a memory limit the oldest chunks move to a temporary file, written by a thread of
// its own so that a flood never waits for the disk: a log that runs for days stays bounded
// in memory and still loses no line.
class TLogModel {
public:
    TLogModel();
    ~TLogModel();
    TLogModel(const TLogModel&) = delete;
    TLogModel& operator=(const TLogModel&) = delete;

    qint64 LineCount() const;
    QString Line(qint64 i) const;
    QByteArray LineUtf8(qint64 i) const;
    // The UTF-8 size of line i, and its bytes from byte `from` on, without copying the rest:
    // a line that keeps growing is followed at the cost of what it gained.
    qint64 LineBytes(qint64 i) const;
    QByteArray LineUtf8From(qint64 i, qint64 from) const;
    bool IsEmpty() const;
    bool EndsWithCrlf() const;

    // Piece i becomes S (S may hold CR LF pairs and then becomes several lines);
    // the CR LF that followed piece i stays. With no lines, piece 0 is replaced.
    void ReplaceLine(qint64 i, const QString& s);
    // T + S + CR LF when T is empty or ends with CR LF, else T + CR LF + S
    // (T + CR LF + CR LF for an empty S, so that the empty line counts).
    void Add(const QString& s);
    // The same as Add for each of several lines at once, given as UTF-8: line k is
    // utf8[ends[k-1], ends[k]) (from 0 for the first), and one change is reported.
    void AddUtf8Lines(std::string_view utf8, const std::vector<std::uint32_t>& ends);
    // Replaces the last line with itself followed by s.
    void AppendToLastLine(const QString& s);
    void Clear();

    // The whole text T as UTF-8, lines joined by CR LF.
    QByteArray Text() const;
    // The same text written to out in pieces of about a megabyte, so that saving a log much
    // larger than memory needs no copy of it; false when a write fails.
    bool WriteTo(QIODevice& out) const;
    qint64 TextBytes() const { return FTextBytes; }
    qint64 MaxLineBytes() const { return FMaxLineBytes; }
    // Memory held by the text and its index (chunks on disk not counted).
    std::size_t MemoryBytes() const;
    // Bytes of text moved to disk.
    qint64 SpilledBytes() const;
    // 0: no limit.
    void SetMemoryLimit(std::size_t bytes);
    quint64 Revision() const { return FRevision; }

    // Called after every change (on the thread that made it).
    void SetOnChanged(std::function<void()> f) { FOnChanged = std::move(f); }

    static constexpr std::size_t kDefaultMemoryLimit = std::size_t(128) << 20;

    // Spilled text on its way to disk, and the file it goes to.
    struct SpillBlock;
    struct SpillFile;

private:
    struct Chunk {
        qint64 first = 0; // index of its first piece
        std::string data; // in memory, unless spilled
        std::vector<std::uint32_t> offsets;
        bool spilled = false;
        qint64 fileOffset = 0;
        std::uint32_t dataBytes = 0; // kept while spilled
        std::uint32_t pieces = 0;    // kept while spilled
        // Spilled but not yet known to be on disk: the text is read from here meanwhile.
        std::shared_ptr<SpillBlock> inFlight;
        std::size_t PieceCount() const { return spilled ? pieces : offsets.size(); }
    };

    qint64 PieceCount() const { return FPieces; }
    std::size_t ChunkOf(qint64 k) const;
    std::string_view Piece(qint64 k) const;
    void PushPiece(std::string_view bytes);
    void TruncatePieces(qint64 keep);
    void ReplacePiece(qint64 k, const QByteArray& s);
    // Add without the change notice.
    void AddPieces(std::string_view s);
    void Changed();
    void SpillIfNeeded();
    bool Spill(Chunk& c);
    // Lets go of the chunks the writer has put on disk.
    void Settle();
    bool LoadInto(const Chunk& c, std::string& data, std::vector<std::uint32_t>& offsets) const;
    void Unspill(Chunk& c);

    static constexpr std::size_t kChunk = 1 << 20;
    std::vector<Chunk> FChunks;
    qint64 FPieces = 0;
    qint64 FTextBytes = 0;
    qint64 FMaxLineBytes = 0;
    quint64 FRevision = 0;
    std::size_t FMemoryLimit = kDefaultMemoryLimit;
    std::size_t FFirstInMemory = 0; // chunks before it are on disk
    std::shared_ptr<SpillFile> FSpill;
    qint64 FSpillEnd = 0;
    // Memory held by chunks on their way to disk, and the first chunk that may still be.
    std::size_t FInFlightBytes = 0;
    std::size_t FSettleFrom = 0;
    // The last chunk read back from disk.
    mutable std::size_t FCacheChunk = SIZE_MAX;
    mutable std::string FCacheData;
    mutable std::vector<std::uint32_t> FCacheOffsets;
    std::function<void()> FOnChanged;
};
