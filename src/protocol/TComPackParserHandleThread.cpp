#include "TComPackParserHandleThread.h"

#include "CvExceptions.h"
#include "CvProtocol.h"

TComPackParserHandleThread::TComPackParserHandleThread(TPackParserHost* host, TCvComProtocal* engine)
    : FHost(host), FCvComProtocal(engine)
{
    FNiceSteps = kNiceSteps;
    Start();
}

TComPackParserHandleThread::~TComPackParserHandleThread()
{
    Terminate();
}

bool TComPackParserHandleThread::Awake() const
{
    std::lock_guard lk(FMutex);
    return FAwake || FInPass || FWorking;
}

void TComPackParserHandleThread::Resume()
{
    {
        std::lock_guard lk(FMutex);
        FAwake = true;
    }
    Wake();
}

void TComPackParserHandleThread::StopReSetClear()
{
    bool wasAwake;
    {
        std::unique_lock lk(FMutex);
        wasAwake = FAwake || FInPass || FWorking;
        FAwake = false;
        FWorking = false;
        ++FGeneration;
        // Never in the middle of a pass: it may be writing a slot.
        WaitIdleLocked(lk);
    }
    if (wasAwake) FHost->ClearReceived();
    FCvComProtocal->ClearPacks();
    FStartIndex = 0;
}

void TComPackParserHandleThread::BeginPassLocked()
{
    // Bytes appended from here on wake us again.
    FAwake = false;
    FPassGeneration = FGeneration;
}

void TComPackParserHandleThread::EndPassLocked()
{
    if (FPassGeneration != FGeneration) return;
    // Awake until the buffer runs short or a transfer ends, even while waiting for bytes.
    FWorking = FPassWorking;
    if (FPassAgain) FAwake = true;
}

void TComPackParserHandleThread::Pass()
{
    bool again = false;
    bool working = true;
    try {
        const qint64 start = FStartIndex.load();
        quint64 epoch = 0;
        const qint64 len = FHost->CopyReceived(start, FBytes, &epoch);
        if (len < 10) working = false;
        if (len >= 10 && len > start && !FBytes.empty()) {
            const int before = FCvComProtocal->PackListCount();
            const int done = FCvComProtocal->ParserPack(FBytes.data(), static_cast<int>(FBytes.size()));
            const bool stored = FCvComProtocal->PackListCount() != before;
            // Parsed bytes leave the buffer; what follows them (the start of the next
            // packet, or a whole one behind a packet that ends a transfer) stays.
            // Emptied from outside meanwhile: what is there now is all new.
            if (FHost->ConsumeReceived(start + done, epoch)) {
                const qint64 left = len - (start + done);
                // Only a packet stored by this pass can finish a transfer.
                if (stored && FCvComProtocal->IsParserComplete() && left < 10) working = false;
                // Stopped behind a type-102 packet (or a finished transfer): go on with what follows.
                if (stored && left >= 10) again = true;
            }
            FStartIndex = 0;
        } else if (len < start) {
            FStartIndex = 0;
        }
    } catch (...) {
        // A failure inside a pass must not end the worker; it is told, and the pass ends.
        FHost->ParserFailed(CurrentExceptionText());
    }
    FPassWorking = working;
    FPassAgain = again;
}
