#pragma once

#include "CvCodecs.h"
#include "CvTextStyle.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <mutex>
#include <vector>

class TLogModel;

// One lock for the whole process: it guards the hand-over buffers between every port
// object's receive handler and its workers. Never held while a view, a series or a
// callback is called.
std::mutex& ReceiveLock();
// Milliseconds of a monotonic clock: arrival stamps of received chunks.
qint64 SteadyMs();

// How a port shows what it receives.
enum TReceiveFormat { rfAscii = 0, rfHex = 1, rfGraphic = 2, rfProtocol = 3, rfFile = 4 };

// A change the display worker has made for the GUI thread, applied there in order.
//   LogMsg      a log line (text), as Log() writes it
//   AsciiFirst  the first line of received text after the store was emptied
//   AppendLast  received text that continues the view's last line
//   Lines       whole lines, as UTF-8 in `lines`, each added with its prefix, one notice
//               for all: count 1 received text (trimmed by the worker), count 0 log lines
//               as LogMsg would add them
// Received text keeps its colours in `runs`: UTF-16 units of `text` (AsciiFirst, AppendLast),
// UTF-8 bytes of `lines` (Lines, each run within its line). Plain text has none.
//   Points      one waveform point per byte of `lines`
//   Callback    the window's notice, with count
struct TUiOp {
    enum Kind : quint8 { LogMsg, AsciiFirst, AppendLast, Lines, Points, Callback };
    TUiOp(Kind k = Callback, int c = 0, QString t = {}, qint64 a = 0)
        : kind(k), count(c), text(std::move(t)), at(a)
    {}
    Kind kind;
    int count = 0;
    QString text;
    // LogMsg, AsciiFirst: when its first byte was read (ms since the epoch); 0 = when shown.
    qint64 at = 0;
    QByteArray lines;
    // Lines: where each line ends in `lines`, and when its first byte was read.
    std::vector<std::uint32_t> ends;
    std::vector<qint64> ats;
    TCvStyleRuns runs;
    // What the op holds, for the bound on what waits for the GUI thread.
    std::size_t Bytes() const
    {
        return sizeof(TUiOp) + std::size_t(text.size()) * 2 + std::size_t(lines.size()) +
               ends.size() * sizeof(std::uint32_t) + ats.size() * sizeof(qint64) +
               runs.size() * sizeof(TCvStyleRun);
    }
};

// When a chunk of the byte buffer was read from the device (hex format with gap lines
// only): offset of its first byte and the steady clock in ms.
struct TChunkStamp {
    qint64 Offset;
    qint64 Ms;
    qint64 WallMs; // the same moment on the wall clock, for the line's time prefix
};

// When the text store's lines were begun (ASCII with prefixes): from line Line on, the
// wall clock in ms of the read that opened it. A last stamp without a time (WallMs < 0) at
// the last line says that line has ended.
struct TLineStamp {
    qint64 Line;
    qint64 WallMs;
};

// What the display worker reads in one pass.
struct TDisplaySettings {
    int ReceiveFormat = 0;
    int HexFormatCount = 16;
    bool HexWithString = true;
    bool HexGapLines = false;
    int HexGapMs = 20;
};

// What the display worker needs from the port object that receives the bytes: the
// hand-over buffers (read under ReceiveLock), the queue to the GUI thread and the
// display settings. The worker sees nothing else of the port object.
class TComUIHandleHost {
public:
    virtual ~TComUIHandleHost() = default;

    virtual TDisplaySettings DisplaySettings() const = 0;
    virtual TTextEncoding DisplayEncoding() const = 0;
    // The receive handler is writing the buffers: a pass now would see half a change.
    virtual bool ReceiveInProgress() const = 0;
    // Waits (up to timeoutMs) while the GUI thread has maxOps or more changes, or maxBytes
    // or more of them, to apply; true when it had, and the pass should give it time.
    virtual bool WaitForUiQueue(std::size_t maxOps, std::size_t maxBytes, int timeoutMs) = 0;
    // Ends a WaitForUiQueue early (the worker is stopping).
    virtual void WakeUiQueueWaiters() = 0;
    virtual void EnqueueUi(TUiOp&& op) = 0;
    // Takes the changes (ops is left empty).
    virtual void EnqueueUi(std::vector<TUiOp>& ops) = 0;
    virtual void AddProcessed(qint64 count) = 0;

    // Under ReceiveLock.
    virtual void ClearReceivedLocked(int id) = 0;
    virtual const TLogModel& TextStoreLocked() const = 0;
    virtual const std::vector<TLineStamp>& LineStampsLocked() const = 0;
    virtual const QByteArray& ReceivedBytesLocked() const = 0;
    virtual const std::vector<TChunkStamp>& ChunkStampsLocked() const = 0;
};
