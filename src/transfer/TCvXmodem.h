#pragma once

// XMODEM (checksum and CRC-16), XMODEM-1K and YMODEM batch, both ways, from the event loop.
//
// Wire format: SOH (128 data bytes) or STX (1024), the block number, its complement, the
// data, then one checksum byte (sum of the data) or the CRC-16/XMODEM high byte first.
// Blocks count from 1 and wrap after 255; YMODEM's block 0 carries the file name, NUL,
// and the size in decimal (an empty name ends the batch). The receiver starts the
// transfer with C (CRC) or NAK (checksum), answers each block with ACK or NAK, and the
// sender ends a file with EOT. Two CANs in a row cancel.

#include "CvTransfer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <memory>

class QFile;
class QTimer;
class TCvIncomingFile;

namespace Xmodem {
constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
constexpr char SUB = 0x1A; // padding of the last block
constexpr char CRC = 'C';
// What cancels: more CANs than two, for a peer that lost the first ones in a block.
QByteArray CancelSequence();
// A peer drops what arrives while it is busy with a block: the CANs go a second time once
// it is between blocks, at the latest after this long.
constexpr int CancelMs = 1000;
// The line this long quiet: the sender has sent its block and waits for an answer.
constexpr int CancelQuietMs = 150;
} // namespace Xmodem

// The protocol's waits. Tests shorten them.
struct TCvXmodemTimes {
    int StartMs = 60000;        // sender: for the receiver's first C or NAK
    int ReplyMs = 10000;        // sender: for the answer to a block or an EOT
    int StartIntervalMs = 3000; // receiver: C or NAK repeated until the sender starts
    int StartTries = 20;        // receiver: that many before it gives up
    int CrcTries = 3;           // receiver, XMODEM: C that many times, then NAK (checksum)
    int CharMs = 1000;          // receiver: within a block, and the quiet before a NAK
    int BlockMs = 10000;        // receiver: for the next block
    int Retries = 10;           // both: tries of one block before giving up
};

// Sends files: one with XMODEM or XMODEM-1K, a batch with YMODEM (1K blocks).
class TCvXmodemSender : public TCvTransfer {
    Q_OBJECT
public:
    enum class TMode { Xmodem, Xmodem1K, Ymodem };
    struct TFile {
        QString Path;
        // The name YMODEM announces; empty: the file's own name.
        QString Name;
    };

    TCvXmodemSender(TCvTransferLink* Link, TMode Mode, const QList<TFile>& Files,
                    const TCvXmodemTimes& Times = {}, QObject* Parent = nullptr);
    ~TCvXmodemSender() override;

    void Start() override;
    void Cancel() override;
    void Feed(const QByteArray& Bytes) override;
    int ReceiveLimit() const override;
    // Whether the receiver asked for CRC-16 (C) rather than the checksum (NAK).
    bool UsesCrc() const { return FCrc; }

private:
    enum class TState {
        Idle,
        WaitStart,     // for C/NAK before a file (or the end of the batch)
        WaitHeaderAck, // YMODEM block 0 sent
        WaitDataStart, // YMODEM: block 0 acknowledged, for C/NAK before block 1
        WaitBlockAck,
        WaitEotAck,
        WaitBatchEndAck,
        Cancelling, // CANs sent; again once the receiver has answered
        Ended
    };
    void OnTimeout();
    void DropRest(const QByteArray& Bytes, qsizetype from);
    void OnStartChar(char c);
    bool OpenFile(QString* error);
    void SendHeader(bool empty);
    void SendNextBlock();
    void SendEot();
    void Send(const QByteArray& wire, TState next);
    void Resend(const QString& what, bool timedOut);
    void FileDone();
    QByteArray Frame(int number, const QByteArray& data) const;
    void Stopped(TCvTransferEnd End) override;

    TMode FMode;
    QList<TFile> FFiles;
    TCvXmodemTimes FTimes;
    TState FState = TState::Idle;
    QTimer* FTimer;
    std::unique_ptr<QFile> FFile;
    int FFileIndex = 0;
    bool FCrc = true;
    bool FBatchEnd = false;
    bool FInFlight = false;
    int FBlock = 0;        // number of the block in FWire
    qint64 FBlockData = 0; // file bytes it carries
    QByteArray FWire;      // what is repeated on NAK or time-out
    int FTries = 0;        // of FWire
    int FCans = 0;
    int FEotNaks = 0;
    quint64 FWriteGen = 0;
};

// Receives one file with XMODEM (128- and 1K-blocks alike) or a batch with YMODEM into a
// folder; see CvReceivedFile.h for how the files land.
class TCvXmodemReceiver : public TCvTransfer {
    Q_OBJECT
public:
    enum class TMode { Xmodem, Ymodem };

    // Crc false asks for the checksum from the start (XMODEM only; YMODEM always asks for CRC).
    TCvXmodemReceiver(TCvTransferLink* Link, TMode Mode, const QString& Folder, bool Crc = true,
                      const TCvXmodemTimes& Times = {}, QObject* Parent = nullptr);
    ~TCvXmodemReceiver() override;

    // XMODEM carries no name: the file is saved under this one (by default
    // "xmodem-<date>-<time>.bin").
    void SetXmodemName(const QString& Name) { FXmodemName = Name; }

    void Start() override;
    void Cancel() override;
    void Feed(const QByteArray& Bytes) override;
    int ReceiveLimit() const override;
    bool UsesCrc() const { return FCrc; }

private:
    enum class TState {
        Idle,
        Starting,   // C/NAK sent, for the first block of a file (YMODEM: its block 0)
        Between,    // for the next block or EOT
        InBlock,    // a block partly here
        Purging,    // a bad block: waiting for quiet before the NAK
        SecondEot,  // the first EOT was answered with NAK
        Cancelling, // CANs sent; again once the sender waits for an answer
        Ended
    };
    void OnTimeout();
    void SendStartChar();
    void TakeByte(char c);
    void BlockComplete();
    bool TakeHeader(const QByteArray& data);
    bool TakeData(const QByteArray& data);
    void EndOfFile();
    void Purge();
    void Reply(char c);
    void Arm(int ms);
    void Fail(TCvTransferEnd End, const QString& Reason, bool cancelPeer);
    void Stopped(TCvTransferEnd End) override;

    TMode FMode;
    QString FFolder;
    bool FCrc;
    TCvXmodemTimes FTimes;
    QString FXmodemName;
    TState FState = TState::Idle;
    QTimer* FTimer;
    bool FHeaderPhase = false; // YMODEM: block 0 of the next file is expected
    bool FAfterEot = false;    // a file just ended (a repeated EOT gets its ACK again)
    int FExpected = 1;         // next block number (counts on past 255)
    QByteArray FBlock;
    int FNeed = 0;
    int FStartTries = 0;
    int FTries = 0; // consecutive faults of the current block
    bool FLastCan = false;
    QString FName;     // YMODEM name as sent
    qint64 FSize = -1; // YMODEM size, -1 unknown
    qint64 FWritten = 0;
    std::unique_ptr<TCvIncomingFile> FFile;
    QElapsedTimer FCancelClock;
};
