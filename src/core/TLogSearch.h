#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class TLogModel;

// Find in a log: a search through a TLogModel that runs in slices on the event loop, a
// few milliseconds of lines per turn, so that the window keeps answering however long
// the log is. Lines the model keeps on disk are read back chunk by chunk as the search
// passes them. The lines searched are those the model held when the search started
// (or fewer, see Start); lines that arrive meanwhile are for the next search.
class TLogSearch : public QObject {
    Q_OBJECT
public:
    explicit TLogSearch(QObject* parent = nullptr);

    // Looks for Text in Model starting at column Col of line Line. Forward: the first match
    // that starts at or after that position; backward: the last one that starts before it.
    // Past the last (first) line the search goes on from the other end, once around, and
    // the result says it wrapped. Lines limits the search to the first Lines lines (-1: all).
    // Owner, when given, is the object the model lives in: the search stops quietly when it goes.
    // A search already running is dropped. The result comes through Found or NotFound,
    // never before the event loop has turned.
    void Start(const TLogModel* Model, QObject* Owner, const QString& Text, Qt::CaseSensitivity Cs,
               bool Forward, qint64 Line, qint64 Col, qint64 Lines = -1);
    void Cancel();
    bool Running() const { return FRunning; }
    // Time one turn of the event loop may take (milliseconds; at least one line per turn).
    void SetSliceMs(int ms) { FSliceMs = ms; }
    // Turns of the event loop the last search used.
    int Slices() const { return FSlices; }

    // Column of a match in Line at or after From (forward) or starting before From
    // (backward); -1 when there is none.
    static qint64 MatchInLine(const QString& Line, const QString& Text, Qt::CaseSensitivity Cs, bool Forward,
                              qint64 From);

signals:
    void Found(qint64 line, qint64 col, qint64 length, bool wrapped);
    void NotFound();

private:
    void Step();

    QTimer FTimer;
    const TLogModel* FModel = nullptr;
    QPointer<QObject> FOwner;
    bool FGuarded = false;
    QString FText;
    QByteArray FTextUtf8;
    Qt::CaseSensitivity FCs = Qt::CaseInsensitive;
    bool FForward = true;
    bool FRunning = false;
    qint64 FStart = 0; // line the search starts in
    qint64 FStartCol = 0;
    qint64 FLines = 0; // lines searched
    qint64 FStep = 0;  // next step: 0 .. FLines (the start line is visited twice)
    int FSliceMs = 8;
    int FSlices = 0;
};
