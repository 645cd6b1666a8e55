#include "TLogSearch.h"

#include "TLogModel.h"

#include <QByteArrayView>
#include <QElapsedTimer>

#include <algorithm>

TLogSearch::TLogSearch(QObject* parent) : QObject(parent)
{
    FTimer.setSingleShot(true);
    FTimer.setInterval(0);
    connect(&FTimer, &QTimer::timeout, this, &TLogSearch::Step);
}

void TLogSearch::Start(const TLogModel* Model, QObject* Owner, const QString& Text, Qt::CaseSensitivity Cs,
                       bool Forward, qint64 Line, qint64 Col, qint64 Lines)
{
    Cancel();
    if (!Model) return;
    FModel = Model;
    FOwner = Owner;
    FGuarded = Owner != nullptr;
    FText = Text;
    FTextUtf8 = Text.toUtf8();
    FCs = Cs;
    FForward = Forward;
    FLines = Model->LineCount();
    if (Lines >= 0) FLines = std::min(FLines, Lines);
    FStart = std::clamp<qint64>(Line, 0, std::max<qint64>(0, FLines - 1));
    FStartCol = std::max<qint64>(0, Col);
    FStep = 0;
    FSlices = 0;
    FRunning = true;
    FTimer.start();
}

void TLogSearch::Cancel()
{
    FTimer.stop();
    FRunning = false;
    FModel = nullptr;
}

qint64 TLogSearch::MatchInLine(const QString& Line, const QString& Text, Qt::CaseSensitivity Cs, bool Forward,
                               qint64 From)
{
    if (Text.isEmpty()) return -1;
    if (Forward) {
        if (From > Line.size()) return -1;
        return Line.indexOf(Text, std::max<qint64>(0, From), Cs);
    }
    // The last match that starts before From: one starting at From - 1 at the latest.
    const qint64 last = std::min<qint64>(From - 1, Line.size() - Text.size());
    if (last < 0) return -1;
    return Line.lastIndexOf(Text, last, Cs);
}

void TLogSearch::Step()
{
    if (!FRunning) return;
    ++FSlices;
    if ((FGuarded && !FOwner) || !FModel || FText.isEmpty()) {
        const bool quiet = FGuarded && !FOwner;
        Cancel();
        if (!quiet) emit NotFound();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    for (int n = 1; FStep <= FLines && FLines > 0; ++n) {
        const qint64 k = FStep++;
        qint64 line;
        bool wrapped;
        if (FForward) {
            line = (FStart + k) % FLines;
            wrapped = k >= FLines - FStart;
        } else {
            line = ((FStart - k) % FLines + FLines) % FLines;
            wrapped = k > FStart;
        }
        // A cleared or shortened log has fewer lines than when the search started.
        if (line < FModel->LineCount()) {
            const QByteArray bytes = FModel->LineUtf8(line);
            // Bytes that cannot hold the text in this letter case are passed over unconverted.
            const bool maybe = FCs == Qt::CaseInsensitive || QByteArrayView(bytes).indexOf(FTextUtf8) >= 0;
            if (maybe) {
                const QString text = QString::fromUtf8(bytes);
                qint64 col;
                if (k == 0) col = MatchInLine(text, FText, FCs, FForward, FStartCol);
                else col = MatchInLine(text, FText, FCs, FForward, FForward ? 0 : text.size() + 1);
                if (col >= 0) {
                    const qint64 length = FText.size();
                    Cancel();
                    emit Found(line, col, length, wrapped);
                    return;
                }
            }
        }
        // The clock is read now and then: one line costs well under a microsecond.
        if (n % 256 == 0 && clock.elapsed() >= FSliceMs) {
            FTimer.start();
            return;
        }
    }
    Cancel();
    emit NotFound();
}
