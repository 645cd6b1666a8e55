#pragma once

#include "CvPlotParser.h"
#include "TCvLineSink.h"

#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The rows a feed parsed since it was last asked: one row per text line that held a number.
struct TCvPlotBatch {
    // Every channel known when the batch was taken, in the order they appeared.
    QStringList Channels;
    // Row r holds Values[RowEnds[r-1] .. RowEnds[r]) (from 0 for the first row).
    std::vector<TCvPlotValue> Values;
    std::vector<quint32> RowEnds;
    // When the line of each row was read (SteadyMs).
    std::vector<qint64> TimesMs;
    // Values of channels beyond the parser's limit, passed over so far.
    qint64 Overflow = 0;
    // Lines left out of the plot so far because its input was full (see TCvPlotFeed).
    qint64 DroppedLines = 0;

    qsizetype Rows() const { return qsizetype(RowEnds.size()); }
    bool IsEmpty() const { return RowEnds.empty(); }
};

// Takes a port's received text (TextReceived, on the port's thread: it only queues it),
// cuts it into whole lines on a worker thread of its own, parses them and hands the rows
// to its owner's thread in batches: Ready() is emitted (queued) when rows wait, and
// TakeBatch() gives them all. A line split across reads is parsed whole. Qt Core only.
//
// Both ends are bounded: at most kMaxWaitingRows rows wait to be taken (the worker then
// waits), and at most kMaxQueuedChars characters wait to be parsed. Text beyond that is
// left out of the plot in whole lines (the log still shows it): the line it cuts into is
// dropped with it, and the count of such lines is handed up with the rows.
class TCvPlotFeed : public TCvLineSink {
    Q_OBJECT
public:
    // Rows waiting beyond which the worker lets the owner catch up.
    static constexpr qsizetype kMaxWaitingRows = 1 << 16;
    // A line longer than this is cut: a device without line breaks must not grow it forever.
    static constexpr qsizetype kMaxLineChars = 1 << 16;
    // Text waiting to be parsed (a piece that comes while nothing waits is always taken).
    static constexpr qsizetype kMaxQueuedChars = 1 << 20;

    // maxQueuedChars: the bound on the text waiting (smaller ones for tests).
    explicit TCvPlotFeed(QObject* parent = nullptr, qsizetype maxQueuedChars = kMaxQueuedChars);
    ~TCvPlotFeed() override;

    void TextReceived(const QString& text, qint64 steadyMs) override;

    TCvPlotBatch TakeBatch();
    // Rows wait to be taken.
    bool HasRows() const;
    // Forgets the channels, the line begun and every row not taken yet.
    void Reset();
    // The line begun so far is not continued by what comes next (the port stopped
    // giving text): it is dropped once the text before it is parsed.
    void EndLine();
    // Waits until every piece given so far is parsed, or until the rows waiting fill the
    // room (the worker then waits for them to be taken: the caller takes them and asks
    // again). True when idle.
    bool WaitIdle();
    // Lines cut so far (whether they held a number or not).
    qint64 LinesCut() const;
    // Lines left out so far because the input was full.
    qint64 DroppedLines() const;
    // Nothing waits to be parsed and no text is being left out: a count of dropped lines
    // is then final for now.
    bool CaughtUp() const;
    // Characters waiting to be parsed.
    qsizetype QueuedChars() const;

signals:
    void Ready();

private:
    // A piece of text, the end of the line begun (the port stopped giving text), or a gap:
    // Lines lines were left out, the last of them continued by the next text (Skip).
    struct TPiece {
        enum TKind : quint8 { kText, kEndLine, kGap } Kind = kText;
        QString Chars;
        qint64 Ms = 0;
        qint64 Lines = 0;
        bool Skip = false;
    };
    void Run();
    // Parses the piece from `from` until its end or until maxRows rows were made; returns
    // where it stopped.
    qsizetype ParsePiece(const QString& piece, qsizetype from, qint64 ms, TCvPlotBatch& out,
                         qsizetype maxRows);
    void ParseLine(QStringView line, qint64 ms, TCvPlotBatch& out);
    // Queues the gap of the text left out, before what comes next.
    void EndGapLocked();
    bool IdleLocked() const { return FPieces.empty() && !FBusy && !FHasWork && !FGapOpen; }

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FRoom;
    std::condition_variable FIdle;
    std::deque<TPiece> FPieces;
    const qsizetype FMaxQueuedChars;
    qsizetype FQueuedChars = 0;
    TCvPlotBatch FOut;
    bool FReadyPosted = false;
    bool FStop = false;
    bool FBusy = false;
    bool FResetAsked = false;
    quint64 FGeneration = 0;
    qint64 FLines = 0;
    // Text being left out: its line breaks, and whether it ended with one.
    bool FGapOpen = false;
    qint64 FGapBreaks = 0;
    bool FGapEndsLine = false;
    // The last gap ended inside a line, and no line break came since: that line, counted
    // there, is not counted again by the next gap.
    bool FGapCarry = false;
    // The worker holds a piece it has not finished (its rows did not fit).
    bool FHasWork = false;
    qint64 FDroppedPosted = 0;

    // Worker only.
    TCvPlotParser FParser;
    QString FPartial;
    // After a gap: the rest of a line that lost its beginning is passed over.
    bool FSkipToBreak = false;
    TPiece FWork;
    qsizetype FWorkAt = 0;
    qint64 FLinesCutLocal = 0;
    qint64 FDroppedLocal = 0;
    std::vector<TCvPlotValue> FValues;
    std::thread FThread;
};
