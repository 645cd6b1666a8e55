#pragma once

#include "PtyPair.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

// A line between the program under test and a peer program, like a null-modem cable: the
// program opens A().SlavePath(), a real pseudo-terminal; the peer (lrzsz) gets PeerFd(), one
// end of a socket pair, as its standard input and output. A thread copies the bytes both
// ways and can spoil one block or one answer on the way, for tests of the retries.
//
// The peer is not given a pty of its own: lrzsz empties its terminal's queues right after
// each answer and at its exit, which on a pty (where nothing takes time to transmit) throws
// away bytes a real serial line would have delivered. On a socket those calls do nothing.
class PtyRelay {
public:
    // Which way a fault goes: from the program to the peer, or back.
    enum class TWay { ToPeer, ToProgram };
    enum class TFault {
        None,
        Corrupt,  // one byte in the data of the n-th block (SOH/STX) is changed
        Drop,     // the n-th block vanishes whole
        DoubleAck // the n-th ACK arrives twice
    };

    PtyRelay();
    ~PtyRelay();
    PtyRelay(const PtyRelay&) = delete;
    PtyRelay& operator=(const PtyRelay&) = delete;

    bool IsValid() const { return FA.IsValid() && FPeerFd >= 0; }
    const PtyPair& A() const { return FA; }
    // The peer's end; a child process gets it as its descriptors 0 and 1.
    int PeerFd() const { return FPeerFd; }

    // Spoils the n-th block (counting from 1, YMODEM's block 0 included) or ACK going
    // that way. Blocks are taken to carry a CRC (two check bytes).
    void SetFault(TWay way, TFault fault, int nth);
    // Whether the fault has happened.
    bool FaultDone() const { return FFaultDone; }
    // Bytes that went each way.
    qint64 Moved(TWay way) const { return way == TWay::ToPeer ? FToPeer.load() : FToProgram.load(); }

private:
    struct TParser {
        int Left = 0;   // bytes of the current block still to come
        int Offset = 0; // bytes of it seen
        bool Dropping = false;
        int Blocks = 0;
        int Acks = 0;
    };
    void Run();
    // What goes on for this chunk.
    QByteArray Filter(TWay way, const QByteArray& in);
    static bool WriteAll(int fd, const QByteArray& bytes, const std::atomic<bool>& stop);

    PtyPair FA;
    int FRelayFd = -1;
    int FPeerFd = -1;
    std::mutex FMutex;
    TWay FFaultWay = TWay::ToPeer;
    TFault FFault = TFault::None;
    int FNth = 0;
    TParser FParse[2];
    std::atomic<bool> FFaultDone{false};
    std::atomic<qint64> FToPeer{0};
    std::atomic<qint64> FToProgram{0};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};
