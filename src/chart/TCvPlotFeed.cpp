#include "TCvPlotFeed.h"

#include <QMetaObject>

TCvPlotFeed::TCvPlotFeed(QObject* parent, qsizetype maxQueuedChars)
    : TCvLineSink(parent), FMaxQueuedChars(maxQueuedChars)
{
    FThread = std::thread([this] { Run(); });
}

TCvPlotFeed::~TCvPlotFeed()
{
    {
        std::lock_guard lk(FMutex);
        FStop = true;
    }
    FWake.notify_all();
    FRoom.notify_all();
    if (FThread.joinable()) FThread.join();
}

void TCvPlotFeed::TextReceived(const QString& text, qint64 steadyMs)
{
    if (text.isEmpty()) return;
    {
        std::lock_guard lk(FMutex);
        if (FQueuedChars > 0 && FQueuedChars + text.size() > FMaxQueuedChars) {
            // Nobody keeps up: this text is left out of the plot, in whole lines.
            if (!FGapOpen) {
                FGapOpen = true;
                // The line the last gap left open, continued here, was counted there.
                FGapBreaks = FGapCarry ? -1 : 0;
            }
            FGapBreaks += text.count(QLatin1Char('\n'));
            FGapEndsLine = text.endsWith(QLatin1Char('\n'));
            return;
        }
        if (FGapOpen) EndGapLocked();
        // The line the last gap cut into goes on until a line break.
        if (FGapCarry && text.contains(QLatin1Char('\n'))) FGapCarry = false;
        // Shared, not copied: the port reads its next piece into a string of its own.
        FPieces.push_back({TPiece::kText, text, steadyMs});
        FQueuedChars += text.size();
    }
    FWake.notify_one();
}

void TCvPlotFeed::EndGapLocked()
{
    // Every line the text left out touched: those it ended, and the one it began and the
    // next text continues (passed over up to its end).
    TPiece gap;
    gap.Kind = TPiece::kGap;
    gap.Lines = FGapBreaks + (FGapEndsLine ? 0 : 1);
    gap.Skip = !FGapEndsLine;
    FGapCarry = gap.Skip;
    FPieces.push_back(std::move(gap));
    FGapOpen = false;
    FGapBreaks = 0;
    FGapEndsLine = false;
}

TCvPlotBatch TCvPlotFeed::TakeBatch()
{
    TCvPlotBatch batch;
    {
        std::lock_guard lk(FMutex);
        FReadyPosted = false;
        batch.Channels = FOut.Channels;
        std::swap(batch.Values, FOut.Values);
        std::swap(batch.RowEnds, FOut.RowEnds);
        std::swap(batch.TimesMs, FOut.TimesMs);
        batch.Overflow = FOut.Overflow;
        batch.DroppedLines = FOut.DroppedLines;
    }
    FRoom.notify_all();
    return batch;
}

bool TCvPlotFeed::HasRows() const
{
    std::lock_guard lk(FMutex);
    return !FOut.IsEmpty();
}

void TCvPlotFeed::EndLine()
{
    {
        std::lock_guard lk(FMutex);
        // A line that text left out had begun ends here too.
        if (FGapOpen) EndGapLocked();
        FGapCarry = false;
        FPieces.push_back({TPiece::kEndLine, QString(), -1});
    }
    FWake.notify_one();
}

void TCvPlotFeed::Reset()
{
    std::lock_guard lk(FMutex);
    FPieces.clear();
    FQueuedChars = 0;
    FGapOpen = false;
    FGapCarry = false;
    FGapBreaks = 0;
    FGapEndsLine = false;
    FOut = TCvPlotBatch();
    FDroppedPosted = 0;
    ++FGeneration;
    FResetAsked = true;
    FRoom.notify_all();
}

bool TCvPlotFeed::WaitIdle()
{
    std::unique_lock lk(FMutex);
    const auto idle = [this] { return FStop || IdleLocked(); };
    FIdle.wait(lk, [&] { return idle() || FOut.Rows() >= kMaxWaitingRows; });
    return idle();
}

qint64 TCvPlotFeed::LinesCut() const
{
    std::lock_guard lk(FMutex);
    return FLines;
}

qint64 TCvPlotFeed::DroppedLines() const
{
    std::lock_guard lk(FMutex);
    return FOut.DroppedLines;
}

bool TCvPlotFeed::CaughtUp() const
{
    std::lock_guard lk(FMutex);
    return FPieces.empty() && !FHasWork && !FGapOpen;
}

qsizetype TCvPlotFeed::QueuedChars() const
{
    std::lock_guard lk(FMutex);
    return FQueuedChars;
}

void TCvPlotFeed::Run()
{
    TCvPlotBatch rows;
    for (;;) {
        quint64 generation = 0;
        qsizetype room = 0;
        {
            std::unique_lock lk(FMutex);
            if (!FHasWork) {
                // Text left out with nothing after it: counted now, not when more text comes.
                if (FPieces.empty() && FGapOpen) EndGapLocked();
                FBusy = false;
                FIdle.notify_all();
                FWake.wait(lk, [this] { return FStop || !FPieces.empty(); });
                if (FStop) return;
            }
            // Let the owner catch up before parsing more for it.
            FRoom.wait(lk, [this] { return FStop || FResetAsked || FOut.Rows() < kMaxWaitingRows; });
            if (FStop) return;
            if (FResetAsked) {
                FResetAsked = false;
                FParser.Reset();
                FPartial.clear();
                FSkipToBreak = false;
                FHasWork = false;
                FWork = TPiece();
                if (FPieces.empty()) continue;
            }
            if (!FHasWork) {
                FWork = std::move(FPieces.front());
                FPieces.pop_front();
                FQueuedChars -= FWork.Chars.size();
                FWorkAt = 0;
                FHasWork = true;
            }
            generation = FGeneration;
            room = kMaxWaitingRows - FOut.Rows();
            FBusy = true;
        }
        rows = TCvPlotBatch();
        bool finished = true;
        switch (FWork.Kind) {
        case TPiece::kEndLine:
            FPartial.clear();
            FSkipToBreak = false;
            break;
        case TPiece::kGap:
            FPartial.clear();
            FSkipToBreak = FWork.Skip;
            FDroppedLocal += FWork.Lines;
            break;
        case TPiece::kText:
            // A piece of many lines goes in parts: the rows waiting stay within their bound.
            FWorkAt = ParsePiece(FWork.Chars, FWorkAt, FWork.Ms, rows, std::max<qsizetype>(room, 1));
            finished = FWorkAt >= FWork.Chars.size();
            break;
        }
        bool post = false;
        {
            std::lock_guard lk(FMutex);
            // Rows of text read before a reset are not shown after it.
            if (generation != FGeneration) {
                FLinesCutLocal = 0;
                FDroppedLocal = 0;
                FHasWork = false;
                FWork = TPiece();
                continue;
            }
            if (finished) {
                FHasWork = false;
                FWork = TPiece();
            }
            FLines += FLinesCutLocal;
            FLinesCutLocal = 0;
            FOut.DroppedLines += FDroppedLocal;
            FDroppedLocal = 0;
            if (FOut.Channels.size() != FParser.Channels().size()) FOut.Channels = FParser.Channels();
            FOut.Overflow = FParser.Overflow();
            if (!rows.IsEmpty()) {
                const quint32 base = quint32(FOut.Values.size());
                FOut.Values.insert(FOut.Values.end(), rows.Values.begin(), rows.Values.end());
                for (quint32 end : rows.RowEnds) FOut.RowEnds.push_back(base + end);
                FOut.TimesMs.insert(FOut.TimesMs.end(), rows.TimesMs.begin(), rows.TimesMs.end());
                if (!FReadyPosted) post = FReadyPosted = true;
                // Whoever waits for the worker to go idle must take these first.
                if (FOut.Rows() >= kMaxWaitingRows) FIdle.notify_all();
            }
            // Lines left out are told once the feed has caught up: the owner hears of that
            // moment even when it brings no rows.
            if (FOut.DroppedLines != FDroppedPosted && FPieces.empty() && !FHasWork && !FGapOpen) {
                FDroppedPosted = FOut.DroppedLines;
                if (!FReadyPosted) post = FReadyPosted = true;
            }
        }
        if (post)
            QMetaObject::invokeMethod(
                this, [this] { emit Ready(); }, Qt::QueuedConnection);
    }
}

qsizetype TCvPlotFeed::ParsePiece(const QString& piece, qsizetype from, qint64 ms, TCvPlotBatch& out,
                                  qsizetype maxRows)
{
    const auto* p = reinterpret_cast<const char16_t*>(piece.utf16());
    const qsizetype n = piece.size();
    qsizetype start = from;
    for (qsizetype i = from; i < n; ++i) {
        if (p[i] != u'\n') continue;
        if (FSkipToBreak) {
            // The end of a line whose beginning was left out (its CR may have been, too).
            FSkipToBreak = false;
            start = i + 1;
            continue;
        }
        // Lines end at CR LF: the port's filter made every line break one.
        const bool cr = i > 0 ? p[i - 1] == u'\r' : FPartial.endsWith(QLatin1Char('\r'));
        if (!cr) continue;
        ++FLinesCutLocal;
        if (FPartial.isEmpty()) {
            ParseLine(QStringView(p + start, i - start), ms, out);
        } else {
            FPartial.append(QStringView(p + start, i - start));
            ParseLine(FPartial, ms, out);
            FPartial.clear();
        }
        start = i + 1;
        if (out.Rows() >= maxRows) return start;
    }
    if (start < n && !FSkipToBreak) {
        FPartial.append(QStringView(p + start, n - start));
        if (FPartial.size() > kMaxLineChars) {
            // Parsed as it is, so its numbers still count; what follows starts a new line.
            ++FLinesCutLocal;
            ParseLine(FPartial, ms, out);
            FPartial.clear();
        }
    }
    return n;
}

void TCvPlotFeed::ParseLine(QStringView line, qint64 ms, TCvPlotBatch& out)
{
    // The CR of the line break (and any other) counts as a blank for the parser.
    if (FParser.Parse(line, FValues) == 0) return;
    out.Values.insert(out.Values.end(), FValues.begin(), FValues.end());
    out.RowEnds.push_back(quint32(out.Values.size()));
    out.TimesMs.push_back(ms);
}
