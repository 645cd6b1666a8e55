#pragma once

#include "TComUIHandleHost.h"
#include "TSleepingWorker.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <string>
#include <vector>

// The display worker of a port object: empties the hand-over buffers into the log view
// (ASCII lines, hex lines) or the waveform, then suspends itself until data come again.
// It never touches a widget: what it shows travels to the GUI thread in order, through
// its host, a pass's lines in one change.
class TComUIHandleThread : private TSleepingWorker {
public:
    explicit TComUIHandleThread(TComUIHandleHost* host);
    ~TComUIHandleThread() override;

    void Resume();
    // Stops between passes and waits until no pass runs.
    void Suspend();
    bool Suspended() const;
    using TSleepingWorker::Terminate;

    // The receive format changes from `oldFormat`: the next pass first empties the buffer
    // that format filled (a hex line held open for a gap is shown before).
    void RequestReset(int oldFormat) { FNeedToReset = oldFormat; }
    // With ReceiveLock held, after the host emptied its buffers: start from their beginning,
    // and forget the line being built (it belongs to the old data).
    void BuffersClearedLocked();
    // The next byte of the byte buffer to show (for tests and diagnostics).
    qint64 StartIndex() const { return FUIStartIndex.load(); }

    // Passes in a row that may throw before the waiting data are given up.
    static constexpr int kFailuresBeforeDrop = 3;

private:
    bool PassDueLocked() const override { return FRunning; }
    void Pass() override;
    void OnTerminate() override;
    void PassFailed(const QString& what, int inARow) override;

    void AsciiPass();
    // Hex lines of N bytes (N <= 0: one line per burst); with gap lines, a line also ends
    // when the bytes paused longer than the gap.
    void HexPass(const TDisplaySettings& s);
    void GraphicPass();
    // Ends the hex line being built, as the display writes it: it joins `lines` (or, when
    // its text holds a line break, becomes a log line of its own in `ops`). full = it holds
    // N bytes, or it ends at a multiple of N.
    void FlushHexLine(int n, bool withString, bool full, TUiOp& lines, std::vector<TUiOp>& ops);
    // The next bytes to show from `from` on; `len` gets the buffer's length.
    // With stamps: the arrival stamps that cover those bytes as well.
    QByteArray TakeBytes(qint64 from, qint64& len, std::vector<TChunkStamp>* stamps = nullptr) const;
    // With ReceiveLock held: the buffers are shown, empty them and sleep.
    void CaughtUp();
    void ResetLocals();

    TComUIHandleHost* FHost;
    // Under FMutex.
    bool FRunning = false;
    // Counts Resume calls, so a timed wait ends when new data come.
    quint64 FWakeCount = 0;

    std::atomic<qint64> FUIStartIndex{0};
    std::atomic<int> FNeedToReset{-1};
    // Set by a clear of the buffers: the line being built belongs to the old data.
    std::atomic<bool> FResetLocals{false};

    // Hex display: the bytes of the line being built.
    QByteArray FPendingBytes;
    // Gap lines: arrival (steady ms) of the last byte taken into a line, -1 for none.
    qint64 FLastByteMs = -1;
    // Wall-clock arrival of the chunk being taken, and of the first byte of the open line.
    qint64 FLastWallMs = 0;
    qint64 FLineWallMs = 0;
    // ASCII display: the store line shown last and how much of it (UTF-8 bytes).
    qint64 FLastShown = -1;
    qint64 FLastShownLen = 0;
    // Nothing but blanks of that line shown yet: its next text is still trimmed at the start.
    bool FLastShownBlank = true;
};
