#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The text behind a log view: one text T shown as the pieces between CR LF pairs.
// A final empty piece (T ends with CR LF, or T is empty) is not a line.
// Pieces are kept as UTF-8 in large chunks with one index entry per piece, so a
// million-line log costs little more than its text, and reading any line is O(1).
class TLogModel {
public:
    TLogModel();

    qint64 LineCount() const;
    QString Line(qint64 i) const;
    QByteArray LineUtf8(qint64 i) const;
    bool IsEmpty() const;
    bool EndsWithCrlf() const;

    // Piece i becomes S (S may hold CR LF pairs and then becomes several lines);
    // the CR LF that followed piece i stays. With no lines, piece 0 is replaced.
    void ReplaceLine(qint64 i, const QString& s);
    // T + S + CR LF when T is empty or ends with CR LF, else T + CR LF + S
    // (T + CR LF + CR LF for an empty S, so that the empty line counts).
    void Add(const QString& s);
    // Replaces the last line with itself followed by s.
    void AppendToLastLine(const QString& s);
    void Clear();

    // The whole text T as UTF-8, lines joined by CR LF.
    QByteArray Text() const;
    qint64 TextBytes() const { return FTextBytes; }
    qint64 MaxLineBytes() const { return FMaxLineBytes; }
    std::size_t MemoryBytes() const;
    quint64 Revision() const { return FRevision; }

    // Called after every change (on the thread that made it).
    void SetOnChanged(std::function<void()> f) { FOnChanged = std::move(f); }

private:
    qint64 PieceCount() const { return static_cast<qint64>(FStarts.size()); }
    std::string_view Piece(qint64 k) const;
    void PushPiece(std::string_view bytes);
    void TruncatePieces(qint64 keep);
    void ReplacePiece(qint64 k, const QByteArray& s);
    void Changed();

    static constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::string> FChunks;
    // Piece start: chunk index in the high 32 bits, offset in the low 32 bits.
    std::vector<std::uint64_t> FStarts;
    qint64 FTextBytes = 0;
    qint64 FMaxLineBytes = 0;
    quint64 FRevision = 0;
    std::function<void()> FOnChanged;
};
