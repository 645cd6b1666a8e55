#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "CvCodecs.h"
#include "TCvAnsiFilter.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>

class QSocketNotifier;
class QTimer;
class TIniFile;
class TPortLink;
class TUucpLock;
struct TLineSettings;

enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TStoreType { stRegistry, stIniFile };

struct TComParity {
    int FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

struct TComFlowControl {
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    int FControlDTR = dtrDisable;
    int FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 0x11;
    char FXoffChar = 0x13;

    int GetFlowControl() const;
    void SetFlowControl(int value);
};

// The inputs among the modem lines, as TIOCMGET reports them.
struct TModemStatus {
    bool CTS = false;
    bool DSR = false;
    bool RI = false;
    bool CD = false;
};

struct TComTimeouts {
    int FReadInterval = -1;
    int FReadTotalM = 0;
    int FReadTotalC = 0;
    int FWriteTotalM = 100;
    int FWriteTotalC = 1000;
};

// The port layer's error: a code of the table below and the system error (-1: none).
class EComPort : public std::runtime_error {
public:
    // hint: what to tell the user in place of the cause's usual words (who holds a busy port).
    EComPort(int code, int sysError, QString hint = QString());
    int Code() const { return FCode; }
    int WinCode() const { return FWinCode; }
    // A sentence that tells the user how to fix the cause, where we know one.
    QString Hint() const;
    QString Message() const { return QString::fromUtf8(what()); }
    static QString CodeText(int code);
    // The system's words for an errno ("Input/output error"); ETIMEDOUT and ECANCELED in
    // the words of a write that was given up or stopped.
    static QString SystemText(int sysError);

private:
    int FCode;
    int FWinCode;
    QString FHint;
};

// Serial port over termios. Reads return at once with what has arrived; writes block until
// done or until the write time-out (FWriteTotalC + FWriteTotalM per byte) runs out.
// Receive events reach OnRxChar on the thread that owns this object (the GUI thread),
// one at a time: the next one is not raised before the handler has returned.
class TCustomComPort : public QObject {
    Q_OBJECT
public:
    using TRxCharEvent = std::function<void(TCustomComPort* sender, int count)>;

    explicit TCustomComPort(QObject* parent = nullptr);
    ~TCustomComPort() override;

    void Open();
    // Open() for callers that report failures themselves: false when the port is not open
    // afterwards, with the port layer's hint (e.g. the group that grants access) in *hint
    // and the error with its system cause in *cause.
    bool TryOpen(QString* hint, QString* cause = nullptr);
    void Close();
    bool Connected() const { return FConnected; }

    int Write(const void* buffer, int count);
    // The text in the port's encoding; a text the encoding cannot hold is not written
    // (result -1; see EncodeText).
    int WriteStr(const QString& str);

    // How a queued write ended: the bytes that went out, and 0 or the errno that stopped
    // it (ETIMEDOUT: the device took nothing for the write time-out; ECANCELED: cancelled,
    // or the port closed; EBADF: the port was not open).
    using TWriteDone = std::function<void(qint64 written, int error)>;
    // Queues bytes for the device and returns without waiting: they go out in order as
    // the device takes them, driven by the event loop. done runs on this object's thread
    // when the write has ended, already inside this call when it could end at once. The
    // time-out (FWriteTotalC + FWriteTotalM per byte left) starts again on each progress.
    void WriteAsync(QByteArray bytes, TWriteDone done);
    // Queued writes not yet ended, and their bytes not yet written.
    int PendingWrites() const { return static_cast<int>(FWriteQueue.size()); }
    qint64 PendingWriteBytes() const;
    // Ends every queued write with ECANCELED; what went out stays counted.
    void CancelWrites();
    int Read(void* buffer, int count);
    int ReadStr(QString& str, int count);
    // Reads up to count bytes as text in the port's encoding; returns the text's length, and
    // the bytes read in *bytesRead (and themselves in *raw).
    int ReadUnicodeString(QString& str, int count, int* bytesRead = nullptr, QByteArray* raw = nullptr);
    int InputCount() const;

    QString Port() const { return FPort; }
    void SetPort(const QString& port);
    int BaudRate() const { return FBaudRate; }
    void SetBaudRate(int index);
    int CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int rate);
    int DataBits() const { return FDataBits; }
    void SetDataBits(int index);
    int StopBits() const { return FStopBits; }
    void SetStopBits(int index);
    const TComParity& Parity() const { return FParity; }
    void SetParityBits(int index);
    const TComFlowControl& FlowControl() const { return FFlowControl; }
    int GetFlowControl() const { return FFlowControl.GetFlowControl(); }
    void SetFlowControl(int value);
    void SetFlowControlFlags(const TComFlowControl& flags);
    int InputSize() const { return FInputSize; }
    int OutputSize() const { return FOutputSize; }
    void SetInputSize(int size);
    void SetOutputSize(int size);
    const TComTimeouts& Timeouts() const { return FTimeouts; }
    void SetTimeouts(const TComTimeouts& t) { FTimeouts = t; }
    // What the settings mean for the kernel's line discipline.
    TLineSettings LineSettings() const;
    // The line speed in bits per second that the settings give.
    int EffectiveBaudRate() const;

    void BeginUpdate();
    void EndUpdate();

    void StoreSettings(TStoreType storeType, const QString& storeTo);
    void LoadSettings(TStoreType storeType, const QString& loadFrom);

    // Modem control lines. The level asked for is kept while closed and applied at every
    // open; until one is asked for, the flow-control flags decide (FControlDTR/RTS).
    // Set and pulse act at once while open and return false when the port is closed,
    // the device refused or it has no modem lines. A device without them (a pty) answers
    // ENOTTY or EINVAL once; it is not asked again until the next open.
    enum class TModemSupport { Unknown, Supported, Unsupported };
    bool DTR() const;
    bool RTS() const;
    bool SetDTR(bool on);
    bool SetRTS(bool on);
    // Inverts the line for ms milliseconds and then restores it, without blocking: the
    // restore runs from the event loop. False also while a pulse of that line runs.
    bool PulseDTR(int ms);
    bool PulseRTS(int ms);
    bool Pulsing() const { return FPulsing != 0; }
    // 0 with the inputs' states, or errno (EBADF when closed, ENOTTY: no modem lines).
    int GetModemStatus(TModemStatus& out);
    TModemSupport ModemSupport() const { return FModemSupport; }

    // Holds the line in the break condition for ms milliseconds, then releases it from the
    // event loop (the caller does not wait). 0 when it began; EBADF: closed; EBUSY: a break
    // runs already; ENOTTY: this kind of port cannot send one (a pseudo-terminal, a plain
    // TCP connection, an RFC 2217 server without COM port control); ENOTCONN: the network
    // port is not connected yet; else the errno of the device.
    int SendBreak(int ms);
    bool Breaking() const { return FBreaking; }

    // Reopen by itself when its device, lost while open, comes back. Kept in the
    // per-port settings file as Reconnect=1.
    bool Reconnect() const { return FReconnect; }
    // A network port re-dials a dropped connection by itself while this is on.
    void SetReconnect(bool on);

    // How this port's text becomes bytes (WriteStr) and bytes text (ReadUnicodeString),
    // and which received characters end a line. Kept in the per-port settings file as
    // Encoding= and LineBreaks= once they differ from the defaults.
    TTextEncoding TextEncoding() const { return FTextEncoding; }
    // A character begun in an earlier read is forgotten.
    void SetTextEncoding(TTextEncoding e);
    TLineBreaks LineBreaks() const { return FLineBreaks; }
    void SetLineBreaks(TLineBreaks b) { FLineBreaks = b; }
    // What the log does with the escape sequences of received text (colours, remove, show).
    // Kept as EscapeSequences= once it differs from the default.
    TAnsiMode AnsiMode() const { return FAnsiMode; }
    void SetAnsiMode(TAnsiMode m) { FAnsiMode = m; }
    // Replacement characters ReadUnicodeString has produced for invalid bytes.
    qint64 InvalidTextCount() const { return FDecoder.InvalidCount(); }

    void SetOnRxChar(TRxCharEvent handler);
    // Raises the receive event now when bytes are waiting, as the watcher would. For code
    // that must see replies while it blocks the GUI thread (waiting for an acknowledgement).
    void PumpReceive();
    bool TriggersOnRxChar() const { return FTriggersOnRxChar; }
    void SetTriggersOnRxChar(bool on);
    // Held, the port reads nothing: the watcher is off, and what the device sends waits in
    // the kernel's buffer or the socket, so that the line's flow control or TCP holds the
    // sender back. The receiver holds a port whose data it cannot take yet; every open
    // starts unheld.
    void SetReceiveHeld(bool held);
    bool ReceiveHeld() const { return FReceiveHeld; }

    // The file descriptor while open, -1 otherwise (for tests and diagnostics).
    int Handle() const { return FHandle; }
    // Whether the port name stands for a network connection rather than a local line.
    bool IsNetwork() const;
    // The network link while open, nullptr otherwise (for tests and diagnostics).
    TPortLink* Link() const { return FLink.get(); }
    // The device path the port name stands for.
    static QString DevicePath(const QString& port);

    static const QStringList& BaudRateTexts();
    static const QStringList& StopBitsTexts();
    static const QStringList& DataBitsTexts();
    static const QStringList& ParityTexts();
    static const QStringList& FlowControlTexts();
    static const QStringList& DTRControlTexts();
    static const QStringList& RTSControlTexts();
    static int BaudRateValue(int index);

signals:
    // The device went away while open (hang-up, EIO, ENODEV); the port is already closed.
    void DeviceLost(int sysError);

protected:
    // Called after the port closed itself because the device vanished.
    virtual void DoDeviceLost(int sysError);
    // Bytes of a queued write that the device has just taken.
    virtual void DoBytesWritten(qint64 count);
    // The port has just been closed (by the user, a hang-up or a removal); queued writes
    // have ended.
    virtual void DoClosed();
    // Forgets the queued writes without telling anyone (for destructors).
    void DiscardWrites();
    // A line for the port's log from below: a network link (connected, dropped and why), or a
    // stale lock file taken over at open.
    virtual void DoLinkMessage(const QString& text);
    // What a subclass keeps in the same settings file besides the line settings, written
    // before the file is saved and read after the line settings were.
    virtual void StoreMoreSettings(TIniFile& ini) { Q_UNUSED(ini); }
    virtual void LoadMoreSettings(const TIniFile& ini) { Q_UNUSED(ini); }
    // A line of the port layer's own for the port's log (its settings file).
    virtual void DoNotice(const QString& text);

private:
    void ApplySettings();
    void ApplyLine();
    void StartWatcher();
    void StopWatcher();
    void OnReadable();
    void FlushWrites();
    void FinishWrite(int error);
    void FailWrites(int error);
    void ArmWriteWait(bool on);
    void HandleDeviceLost(int sysError);
    void CloseHandle();
    // The state every open starts from, whatever carries the bytes.
    void BeginSession();
    bool LineLevel(int bit) const;
    int DriveBreak(bool on);
    bool DriveLine(int bit, bool on);
    bool SetLine(int bit, bool on);
    bool PulseLine(int bit, int ms);
    // Network ports: the link instead of the descriptor.
    void OpenLink();
    void OnLinkReadable();
    bool HasLine() const { return FHandle >= 0 || FLink != nullptr; }
    // One write of what the line takes now: bytes, or -1 with errno (EAGAIN: nothing now).
    qint64 WriteSome(const char* data, qint64 count);
    int WriteLinkNow(const void* buffer, int count);

    QString FPort = QStringLiteral("COM1");
    int FBaudRate = br9600;
    int FCustomBaudRate = 9600;
    int FDataBits = dbEight;
    int FStopBits = sbOneStopBit;
    TComParity FParity;
    TComFlowControl FFlowControl;
    TComTimeouts FTimeouts;
    int FInputSize = 1024;
    int FOutputSize = 1024;
    int FEvents = 0x3FF;
    bool FDiscardNull = false;
    bool FTriggersOnRxChar = true;
    bool FReceiveHeld = false;
    // Whether received bytes raise the receive event now.
    bool Watching() const { return FTriggersOnRxChar && FOnRxChar != nullptr && !FReceiveHeld; }
    bool FConnected = false;
    int FHandle = -1;
    int FUpdateCount = 0;
    bool FPortChanged = false;
    bool FInHandler = false;
    int FIdleWakeups = 0;
    TRxCharEvent FOnRxChar;
    QSocketNotifier* FNotifier = nullptr;
    TTextDecoder FDecoder;
    // Read by the display worker for the hex view's text column.
    std::atomic<TTextEncoding> FTextEncoding{kDefaultTextEncoding};
    TLineBreaks FLineBreaks = TLineBreaks::Any;
    TAnsiMode FAnsiMode = kDefaultAnsiMode;
    // Modem lines: levels asked for (TIOCM_DTR/TIOCM_RTS bits), which of them were asked
    // for at all, lines in a pulse, and the open session a pending restore belongs to.
    int FModemOut = 0;
    int FModemOutSet = 0;
    int FPulsing = 0;
    quint64 FSession = 0;
    TModemSupport FModemSupport = TModemSupport::Unknown;
    bool FReconnect = false;
    bool FBreaking = false;
    // The UUCP lock file of the open device, when one could be written.
    std::unique_ptr<TUucpLock> FUucpLock;
    // The settings file whose refusal the log has told (said once).
    QString FSettingsToldPath;
    std::unique_ptr<TPortLink> FLink;
    bool FLinkReadPosted = false;
    // The link went while it still held received bytes: the port closes once they are read.
    int FLinkLostError = 0;
    // What the link said while received bytes were still unread: told once they are read.
    QStringList FLinkMessages;
    void FlushLinkMessages();
    // Bytes read from the link so far: whether a receive event took any.
    qint64 FLinkBytesRead = 0;

    struct TWriteJob {
        QByteArray Bytes;
        qint64 Done = 0;
        TWriteDone Callback;
    };
    std::deque<TWriteJob> FWriteQueue;
    QSocketNotifier* FWriteNotifier = nullptr;
    QTimer* FWriteTimer = nullptr;
    bool FFlushing = false;
};

// Whether a port name stands for a network connection ("tcp://host:port" and the like).
bool IsNetworkPortName(const QString& port);

// The port as the rest of the program uses it.
class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
