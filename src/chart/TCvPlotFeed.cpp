#include "TCvPlotFeed.h"

#include <QMetaObject>

TCvPlotFeed::TCvPlotFeed(QObject* parent) : TCvLineSink(parent)
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
        // Shared, not copied: the port reads its next piece into a string of its own.
        FPieces.emplace_back(text, steadyMs);
    }
    FWake.notify_one();
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
        // A null piece marks it in order with the text (TextReceived takes no empty text).
        FPieces.emplace_back(QString(), -1);
    }
    FWake.notify_one();
}

void TCvPlotFeed::Reset()
{
    std::lock_guard lk(FMutex);
    FPieces.clear();
    FOut = TCvPlotBatch();
    ++FGeneration;
    FResetAsked = true;
    FRoom.notify_all();
}

bool TCvPlotFeed::WaitIdle()
{
    std::unique_lock lk(FMutex);
    const auto idle = [this] { return FStop || (FPieces.empty() && !FBusy); };
    FIdle.wait(lk, [&] { return idle() || FOut.Rows() >= kMaxWaitingRows; });
    return idle();
}

qint64 TCvPlotFeed::LinesCut() const
{
    std::lock_guard lk(FMutex);
    return FLines;
}

void TCvPlotFeed::Run()
{
    TCvPlotBatch rows;
    for (;;) {
        std::deque<std::pair<QString, qint64>> pieces;
        quint64 generation = 0;
        {
            std::unique_lock lk(FMutex);
            FBusy = false;
            FIdle.notify_all();
            FWake.wait(lk, [this] { return FStop || !FPieces.empty(); });
            if (FStop) return;
            // Let the owner catch up before parsing more for it.
            FRoom.wait(lk, [this] { return FStop || FOut.Rows() < kMaxWaitingRows; });
            if (FStop) return;
            pieces.swap(FPieces);
            generation = FGeneration;
            if (FResetAsked) {
                FResetAsked = false;
                FParser.Reset();
                FPartial.clear();
            }
            FBusy = true;
        }
        rows = TCvPlotBatch();
        for (const auto& [text, ms] : pieces) {
            if (text.isNull()) FPartial.clear();
            else ParsePiece(text, ms, rows);
        }
        bool post = false;
        {
            std::lock_guard lk(FMutex);
            // Rows of text read before a reset are not shown after it.
            if (generation != FGeneration) {
                FLinesCutLocal = 0;
                continue;
            }
            FLines += FLinesCutLocal;
            FLinesCutLocal = 0;
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
        }
        if (post)
            QMetaObject::invokeMethod(
                this, [this] { emit Ready(); }, Qt::QueuedConnection);
    }
}

void TCvPlotFeed::ParsePiece(const QString& piece, qint64 ms, TCvPlotBatch& out)
{
    const auto* p = reinterpret_cast<const char16_t*>(piece.utf16());
    const qsizetype n = piece.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] != u'\n') continue;
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
    }
    if (start < n) {
        FPartial.append(QStringView(p + start, n - start));
        if (FPartial.size() > kMaxLineChars) {
            // Parsed as it is, so its numbers still count; what follows starts a new line.
            ++FLinesCutLocal;
            ParseLine(FPartial, ms, out);
            FPartial.clear();
        }
    }
}

void TCvPlotFeed::ParseLine(QStringView line, qint64 ms, TCvPlotBatch& out)
{
    // The CR of the line break (and any other) counts as a blank for the parser.
    if (FParser.Parse(line, FValues) == 0) return;
    out.Values.insert(out.Values.end(), FValues.begin(), FValues.end());
    out.RowEnds.push_back(quint32(out.Values.size()));
    out.TimesMs.push_back(ms);
}
