#pragma once

#include "CvTextStyle.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QIODevice;

// The text behind a log view: one text T shown as the pieces between CR LF pairs.
// A final empty piece (T ends with CR LF, or T is empty) is not a line.
// Pieces are kept as UTF-8 in chunks of about 1 MiB, each with the offsets of its pieces,
// so a million-line log costs little more than its text and any line is found at once.
// Beyond a memory limit the oldest chunks move to a temporary file, written by a thread of
// its own so that a flood never waits for the disk: a log that runs for days stays bounded
// in memory and still loses no line.
// A line may carry colour runs (the device's escape sequences, taken out of the text). They
// live beside the text, compactly encoded in the chunk of their line (and go to disk with it),
// so a log without colours costs nothing more and a coloured one little more than its text.
// The text itself (Line, Text, WriteTo, find) never holds an escape.
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
    // The same with colour runs in UTF-8 bytes of utf8 (in order, none across two lines).
    void AddUtf8Lines(std::string_view utf8, const std::vector<std::uint32_t>& ends,
                      const TCvStyleRuns& runs);
    // Replaces the last line with itself followed by s.
    void AppendToLastLine(const QString& s);
    void Clear();

    // The same with colour runs over s (positions in UTF-16 units of s, in order). A line's
    // runs follow it through every change: split at a CR LF, joined when text is appended.
    // The calls above without runs leave plain text: an appended piece adds no run, a
    // replaced line loses its runs.
    void Add(const QString& s, const TCvStyleRuns& runs);
    void AppendToLastLine(const QString& s, const TCvStyleRuns& runs);
    void ReplaceLine(qint64 i, const QString& s, const TCvStyleRuns& runs);
    // Puts plain text before line i; its runs move along (the time and line-number prefix).
    void PrefixLine(qint64 i, const QString& prefix);
    // The runs of line i, in UTF-16 units of Line(i); empty for a plain line.
    TCvStyleRuns LineRuns(qint64 i) const;
    // The same in UTF-8 bytes of LineUtf8(i), for those that work on the bytes.
    TCvStyleRuns LineRunsUtf8(qint64 i) const;
    // Runs in UTF-8 bytes of utf8 given in UTF-16 units of the same text.
    static TCvStyleRuns Utf8RunsToUnits(std::string_view utf8, const TCvStyleRuns& runs);
    bool LineHasRuns(qint64 i) const;
    // Some line has (or had, until the last Clear) a run.
    bool HasRuns() const { return FHasRuns; }

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
        // Runs of its pieces: for each piece the byte length of its encoded runs, then the
        // runs (so a plain piece costs one byte), and where every 64th piece's entry begins.
        // Both stay empty until a piece of the chunk has a run.
        std::string runs;
        std::vector<std::uint32_t> runIndex;
        bool spilled = false;
        qint64 fileOffset = 0;
        std::uint32_t dataBytes = 0; // kept while spilled
        std::uint32_t pieces = 0;    // kept while spilled
        std::uint32_t runBytes = 0;  // kept while spilled
        bool spilledRuns = false;    // kept while spilled
        // Spilled but not yet known to be on disk: the text is read from here meanwhile.
        std::shared_ptr<SpillBlock> inFlight;
        std::size_t PieceCount() const { return spilled ? pieces : offsets.size(); }
    };
    // A run in UTF-8 bytes of its piece.
    struct ByteRun {
        std::uint32_t start;
        std::uint32_t length;
        quint64 style;
    };
    using ByteRuns = std::vector<ByteRun>;
    // The chunk's text and runs, read back from disk when it is spilled.
    struct ChunkView {
        const std::string* data;
        const std::vector<std::uint32_t>* offsets;
        const std::string* runs;
        const std::vector<std::uint32_t>* runIndex;
    };
    // A line's runs are found from the index entry before it: 4 bytes per 16 lines, and at most
    // 15 entries to step over (the display worker looks up every line it shows).
    static constexpr std::size_t kRunIndexStep = 16;
    // Where the runs entry of the chunk's piece `local` begins.
    static std::size_t RunEntry(const std::string& runs, const std::vector<std::uint32_t>& index,
                                std::size_t local);
    static void EnterRunsMode(Chunk& ch);

    qint64 PieceCount() const { return FPieces; }
    std::size_t ChunkOf(qint64 k) const;
    ChunkView View(std::size_t c) const;
    std::string_view Piece(qint64 k) const;
    std::string_view PieceRuns(qint64 k) const;
    void PushPiece(std::string_view bytes, std::string_view runs = {});
    void PushParts(std::string_view bytes, const ByteRuns& runs);
    void TruncatePieces(qint64 keep);
    void ReplacePiece(qint64 k, const QByteArray& s, const ByteRuns& runs = {});
    void AddBytes(const QByteArray& bytes, const ByteRuns& runs);
    // AddBytes without the change notice.
    void AddPieces(std::string_view s, const ByteRuns& runs);
    void AppendBytes(const QByteArray& extra, const ByteRuns& runs);
    void AppendRunsInPlace(qint64 line, std::uint32_t shift, const ByteRuns& runs);
    ByteRuns DecodeRuns(qint64 k) const;
    void EncodeRun(std::string& out, const ByteRun& r);
    bool DecodeRun(std::string_view enc, std::size_t& at, ByteRun& r) const;
    std::uint64_t StyleCode(quint64 style);
    quint64 StyleOf(std::uint64_t code) const;
    static ByteRuns ToByteRuns(const QString& s, const TCvStyleRuns& runs);
    static TCvStyleRuns ToUnitRuns(std::string_view piece, const ByteRuns& runs);
    void Changed();
    void SpillIfNeeded();
    bool Spill(Chunk& c);
    // Lets go of the chunks the writer has put on disk.
    void Settle();
    bool LoadInto(const Chunk& c, std::string& data, std::vector<std::uint32_t>& offsets, std::string& runs,
                  std::vector<std::uint32_t>& runIndex) const;
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
    // Memory held by chunks on their way to disk, and the first chunk that may still be.
    std::size_t FInFlightBytes = 0;
    std::size_t FSettleFrom = 0;
    qint64 FSpillEnd = 0;
    // The last chunk read back from disk.
    mutable std::size_t FCacheChunk = SIZE_MAX;
    mutable std::string FCacheData;
    mutable std::vector<std::uint32_t> FCacheOffsets;
    mutable std::string FCacheRuns;
    mutable std::vector<std::uint32_t> FCacheRunIndex;
    // Styles in use, numbered in the order they came; a run names its style by number.
    std::vector<quint64> FStyles;
    std::unordered_map<quint64, std::uint32_t> FStyleIndex;
    bool FHasRuns = false;
    // The last run of the last line and where its encoding starts, so that text appended
    // piece by piece in one colour extends that run instead of adding one per piece.
    struct TailRun {
        qint64 piece = -1; // -1: not known
        std::uint32_t at = 0;
        ByteRun run{0, 0, 0};
        bool has = false;
    };
    TailRun FTail;
    std::function<void()> FOnChanged;
};
