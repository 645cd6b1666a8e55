#pragma once

#include "TComUIHandleHost.h"
#include "TSleepingWorker.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <vector>

// The display worker of a port object: empties the hand-over buffers into the log view
// (ASCII lines, hex lines) or the waveform, then suspends itself until data come again.
// It never touches a widget: what it shows travels to the GUI thread in order, through
// its host.
class TComUIHandleThread : private TSleepingWorker {
public:
    explicit TComUIHandleThread(TComUIHandleHost* host);
    ~TComUIHandleThread() override;

    void Resume();
    // Stops between passes and waits until no pass runs.
    void Suspend();
    bool Suspended() const;
    using TSleepingWorker::Terminate;

    std::atomic<qint64> FUIStartIndex{0};
    std::atomic<int> FNeedToReset{-1};
    // Set by a clear of the buffers: the line being built belongs to the old data.
    std::atomic<bool> FResetLocals{false};

private:
    bool PassDueLocked() const override { return FRunning; }
    void Pass() override;
    void OnTerminate() override;

    void AsciiPass();
    void HexPass(const TDisplaySettings& s);
    // The hex pass with gap lines: a line ends when the bytes paused longer than the gap.
    void HexGapPass(const TDisplaySettings& s);
    // The line being built as the hex display writes it; full = it holds N bytes.
    QString PendingHexLine(int n, bool withString, bool full) const;
    void GraphicPass();
    // The next bytes to show from `from` on; `len` gets the buffer's length.
    // With stamps: the arrival stamps that cover those bytes as well.
    QByteArray TakeBytes(qint64 from, qint64& len, std::vector<TChunkStamp>* stamps = nullptr) const;
    // With ReceiveLock held: the buffers are shown, empty them and sleep.
    void CaughtUp();

    TComUIHandleHost* FHost;
    // Under FMutex.
    bool FRunning = false;
    // Counts Resume calls, so a timed wait ends when new data come.
    quint64 FWakeCount = 0;

    // Hex display: the line being built and its bytes.
    QString FPendingLine;
    QByteArray FPendingBytes;
    // Gap lines: arrival (steady ms) of the last byte taken into a line, -1 for none.
    qint64 FLastByteMs = -1;
    // Wall-clock arrival of the chunk being taken, and of the first byte of the open line.
    qint64 FLastWallMs = 0;
    qint64 FLineWallMs = 0;
    // ASCII display: the store line shown last and how much of it (UTF-8 bytes).
    qint64 FLastShown = -1;
    qint64 FLastShownLen = 0;
};
