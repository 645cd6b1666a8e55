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

    qsizetype Rows() const { return qsizetype(RowEnds.size()); }
    bool IsEmpty() const { return RowEnds.empty(); }
};

// Takes a port's received text (TextReceived, on the port's thread: it only queues it),
// cuts it into whole lines on a worker thread of its own, parses them and hands the rows
// to its owner's thread in batches: Ready() is emitted (queued) when rows wait, and
// TakeBatch() gives them all. A line split across reads is parsed whole. Qt Core only.
class TCvPlotFeed : public TCvLineSink {
    Q_OBJECT
public:
    // Rows waiting beyond which the worker lets the owner catch up.
    static constexpr qsizetype kMaxWaitingRows = 1 << 16;
    // A line longer than this is cut: a device without line breaks must not grow it forever.
    static constexpr qsizetype kMaxLineChars = 1 << 16;

    explicit TCvPlotFeed(QObject* parent = nullptr);
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

signals:
    void Ready();

private:
    void Run();
    void ParsePiece(const QString& piece, qint64 ms, TCvPlotBatch& out);
    void ParseLine(QStringView line, qint64 ms, TCvPlotBatch& out);

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FRoom;
    std::condition_variable FIdle;
    std::deque<std::pair<QString, qint64>> FPieces;
    TCvPlotBatch FOut;
    bool FReadyPosted = false;
    bool FStop = false;
    bool FBusy = false;
    bool FResetAsked = false;
    quint64 FGeneration = 0;
    qint64 FLines = 0;

    // Worker only.
    TCvPlotParser FParser;
    QString FPartial;
    qint64 FLinesCutLocal = 0;
    std::vector<TCvPlotValue> FValues;
    std::thread FThread;
};
