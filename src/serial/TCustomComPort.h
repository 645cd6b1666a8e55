#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringDecoder>

#include <functional>
#include <memory>
#include <stdexcept>

class QSocketNotifier;
struct TLineSettings;

enum TBaudRate {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000
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
    EComPort(int code, int sysError);
    int Code() const { return FCode; }
    int WinCode() const { return FWinCode; }
    // A sentence that tells the user how to fix the cause, where we know one.
    QString Hint() const;
    QString Message() const { return QString::fromUtf8(what()); }
    static QString CodeText(int code);

private:
    int FCode;
    int FWinCode;
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
    void Close();
    bool Connected() const { return FConnected; }

    int Write(const void* buffer, int count);
    int WriteStr(const QString& str);
    int Read(void* buffer, int count);
    int ReadStr(QString& str, int count);
    int ReadUnicodeString(QString& str, int count);
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

    void SetOnRxChar(TRxCharEvent handler);
    // Raises the receive event now when bytes are waiting, as the watcher would. For code
    // that must see replies while it blocks the GUI thread (waiting for an acknowledgement).
    void PumpReceive();
    bool TriggersOnRxChar() const { return FTriggersOnRxChar; }
    void SetTriggersOnRxChar(bool on);

    // The file descriptor while open, -1 otherwise (for tests and diagnostics).
    int Handle() const { return FHandle; }
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

private:
    void ApplySettings();
    void ApplyLine();
    void StartWatcher();
    void StopWatcher();
    void OnReadable();
    void HandleDeviceLost(int sysError);
    void CloseHandle();

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
    bool FConnected = false;
    int FHandle = -1;
    int FUpdateCount = 0;
    bool FPortChanged = false;
    bool FInHandler = false;
    int FIdleWakeups = 0;
    TRxCharEvent FOnRxChar;
    QSocketNotifier* FNotifier = nullptr;
    std::unique_ptr<QStringDecoder> FDecoder;
};

// The port as the rest of the program uses it.
class TComPort : public TCustomComPort {
    Q_OBJECT
public:
    using TCustomComPort::TCustomComPort;
};
