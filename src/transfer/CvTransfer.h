#pragma once

// File transfers over a serial line: what the protocol engines have in common. The engines
// run from the event loop: bytes from the peer come in through Feed, bytes for the peer go
// out through a TCvTransferLink (a port's write queue), time-outs are timers. Nothing here
// blocks or touches a widget.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>

// In the order the file page lists them.
enum class TCvTransferProtocol { Raw = 0, Xmodem = 1, Xmodem1K = 2, Ymodem = 3, Zmodem = 4 };
constexpr int TransferProtocolCount = 5;

// "Raw", "XMODEM", "XMODEM-1K", "YMODEM", "ZMODEM".
QString TransferProtocolName(TCvTransferProtocol Protocol);
// Whether the program can receive files with it (Raw cannot: it is the capture's job).
bool TransferProtocolReceives(TCvTransferProtocol Protocol);

// 1048576 as "1,048,576", in both languages.
QString GroupedNumber(qint64 Value);

struct TCvTransferProgress {
    // The file being moved (YMODEM and ZMODEM name it); empty while none is.
    QString FileName;
    // File bytes moved so far, all files together; padding not counted.
    qint64 Bytes = 0;
    // Bytes expected in all, -1 while unknown.
    qint64 Total = -1;
    // Blocks acknowledged (sent) or accepted (received); -1 where the protocol shows none.
    int Blocks = 0;
    // Blocks, EOTs and start requests repeated after a fault or a time-out.
    int Retries = 0;
    qint64 ElapsedMs = 0;
};

enum class TCvTransferEnd { Done, Cancelled, PeerCancelled, TimedOut, Failed, PortClosed };

struct TCvTransferResult {
    TCvTransferEnd End = TCvTransferEnd::Done;
    // Why it stopped, in the UI language; empty when it is done.
    QString Reason;
    TCvTransferProgress Progress;
    // Received files where they were saved, in order.
    QStringList Files;
};

// The line a transfer ends with in the port's log: what was moved, or why it stopped.
QString TransferSummary(TCvTransferProtocol Protocol, bool Sending, const TCvTransferResult& Result);
// The progress as the file page shows it, with the rate.
QString TransferProgressText(TCvTransferProtocol Protocol, const TCvTransferProgress& Progress);

// Where an engine writes: the port's write queue.
class TCvTransferLink {
public:
    virtual ~TCvTransferLink() = default;
    // Queues bytes for the peer; done(ok) follows once they went out or the write failed,
    // possibly inside this call.
    virtual void Write(const QByteArray& Bytes, std::function<void(bool ok)> Done) = 0;
    // Bytes queued and not yet taken by the device.
    virtual qint64 PendingBytes() const = 0;
};

// One transfer, started once. Finished comes exactly once; after it the engine takes no
// more bytes and may be deleted (later, not inside the signal).
class TCvTransfer : public QObject {
    Q_OBJECT
public:
    explicit TCvTransfer(TCvTransferLink* Link, QObject* Parent = nullptr);
    ~TCvTransfer() override;

    virtual void Start() = 0;
    // Tells the peer (CAN) and stops; Finished follows with Cancelled, at once or within
    // about a second (an engine may wait for the peer to be between blocks, where it
    // listens, to tell it again).
    virtual void Cancel() = 0;
    // Cancel without waiting: Finished has come when it returns (the window closes).
    void Abort();
    // Bytes the peer sent.
    virtual void Feed(const QByteArray& Bytes) = 0;
    // The most bytes the next Feed may take: where the transfer may end inside the next
    // packet, only that packet, so what the device sends after it is not taken.
    virtual int ReceiveLimit() const { return std::numeric_limits<int>::max(); }
    // The line went away.
    virtual void LinkClosed();

    bool Running() const { return FStarted && !FFinished; }
    bool Cancelling() const { return FCancelling && !FFinished; }
    bool IsFinished() const { return FFinished; }
    const TCvTransferProgress& Progress() const { return FProgress; }

signals:
    void ProgressChanged(const TCvTransferProgress& Progress);
    // A line for the port's log (a file received, a name changed).
    void Message(const QString& Line);
    void Finished(const TCvTransferResult& Result);

protected:
    // The clock starts.
    void MarkStarted();
    void EmitProgress();
    // Stops the engine and emits Finished (once).
    virtual void Finish(TCvTransferEnd End, const QString& Reason = QString());
    // Called by Finish before the signal; engines stop timers and drop files here.
    virtual void Stopped(TCvTransferEnd) {}

    TCvTransferLink* FLink;
    bool FCancelling = false;
    TCvTransferProgress FProgress;
    QStringList FFiles;

private:
    QElapsedTimer FClock;
    bool FStarted = false;
    bool FFinished = false;
};
