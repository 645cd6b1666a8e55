#pragma once

#include <QString>
#include <QtGlobal>

#include "TSleepingWorker.h"

#include <atomic>
#include <cstdint>
#include <vector>

class TCvComProtocal;

// What the parser worker needs from the port object that owns the receive buffer.
class TPackParserHost {
public:
    virtual ~TPackParserHost() = default;
    // Under the receive lock: copies the bytes from `from` to the end of the receive
    // buffer into `out` and returns the buffer's whole length. *epoch receives the number
    // of times the buffer was emptied from outside so far.
    virtual qint64 CopyReceived(qint64 from, std::vector<std::uint8_t>& out, quint64* epoch) = 0;
    // Under the receive lock: drops the first `count` bytes (parsed), unless the buffer was
    // emptied from outside since `epoch`; false then, and nothing is dropped.
    virtual bool ConsumeReceived(qint64 count, quint64 epoch) = 0;
    // Under the receive lock: empties the receive buffer.
    virtual void ClearReceived() = 0;
    // A pass failed with this exception text (on the worker's thread, no lock held).
    virtual void ParserFailed(const QString& what) = 0;
};

// Cuts packets out of the receive buffer into the engine's ring. Sleeps until the
// receive path wakes it; a pass never runs while it is being stopped. The bytes a pass
// has parsed leave the buffer, so an endless stream keeps it small, and the unparsed tail
// (the start of the next packet) stays, also behind a packet that ends a transfer.
class TComPackParserHandleThread : private TSleepingWorker {
public:
    TComPackParserHandleThread(TPackParserHost* host, TCvComProtocal* engine);
    ~TComPackParserHandleThread() override;

    // New bytes were appended: wake the worker.
    void Resume();
    // Stops a running worker between passes, empties the receive state and the ring.
    void StopReSetClear();
    // Ends the worker and waits for it.
    using TSleepingWorker::Terminate;

    bool Awake() const;
    // Offset of the first unparsed byte; 0 between passes, since parsed bytes are dropped.
    qint64 StartIndex() const { return FStartIndex.load(); }

private:
    bool PassDueLocked() const override { return FAwake; }
    void BeginPassLocked() override;
    void Pass() override;
    void EndPassLocked() override;

    TPackParserHost* FHost;
    TCvComProtocal* FCvComProtocal;
    std::atomic<qint64> FStartIndex{0};

    // Under FMutex.
    bool FAwake = false;   // woken by new bytes, pass not yet begun
    bool FWorking = false; // in the middle of a transfer: more bytes are awaited
    unsigned FGeneration = 0;
    // What the pass in progress found; read at its end, when it was not stopped meanwhile.
    unsigned FPassGeneration = 0;
    bool FPassWorking = false;
    bool FPassAgain = false;
    std::vector<std::uint8_t> FBytes;
};
