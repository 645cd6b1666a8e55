#include "TCustomComPort.h"

#include "CvExceptions.h"
#include "CvMessages.h"
#include "IniFile.h"
#include "SerialLine.h"
#include "TPortLink.h"
#include "TPortLock.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString ErrorMessage(int code, int sysError)
{
    QString msg = EComPort::CodeText(code);
    if (sysError != -1)
        msg += QStringLiteral(" (Error: %1, %2)").arg(sysError).arg(EComPort::SystemText(sysError));
    return msg;
}

int IndexOfText(const QStringList& texts, const QString& text)
{
    for (int i = 0; i < texts.size(); ++i)
        if (texts[i].compare(text, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

} // namespace

EComPort::EComPort(int code, int sysError, QString hint)
    : std::runtime_error(ErrorMessage(code, sysError).toStdString()), FCode(code), FWinCode(sysError),
      FHint(std::move(hint))
{}

QString EComPort::CodeText(int code)
{
    static const char* const texts[] = {
        "",
        "Unable to open com port",
        "WriteFile function failed",
        "ReadFile function failed",
        "Invalid Async parameter",
        "PurgeComm function failed",
        "Unable to get async status",
        "SetCommState function failed",
        "SetCommTimeouts failed",
        "SetupComm function failed",
        "ClearCommError function failed",
        "GetCommModemStatus function failed",
        "EscapeCommFunction function failed",
        "TransmitCommChar function failed",
        "Cannot set property while connected",
        "EnumPorts function failed",
        "Failed to store settings",
        "Failed to load settings",
        "Link (un)registration failed",
        "Cannot change led state if ComPort is selected",
        "Cannot wait for event if event thread is created",
        "WaitForEvent method failed",
        "A component is linked to OnRxBuf event",
        "Registry error",
        "Port Not Open",
    };
    if (code < 1 || code > 24) return QString();
    return QString::fromLatin1(texts[code]);
}

QString EComPort::SystemText(int sysError)
{
    if (sysError == ETIMEDOUT) return Msg(QStringLiteral("Timed out: the device took no data"));
    if (sysError == ECANCELED) return Msg(QStringLiteral("Stopped before the end"));
    return QString::fromLocal8Bit(::strerror(sysError));
}

QString EComPort::Hint() const
{
    if (!FHint.isEmpty()) return FHint;
    switch (FWinCode) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Permission denied: add your user to the group that owns the device "
                              "(usually dialout: sudo usermod -aG dialout $USER) and log in again.");
    case EBUSY: return QStringLiteral("The port is in use by another program.");
    case ENOENT:
    case ENODEV:
    case ENXIO: return QStringLiteral("The device does not exist (unplugged?).");
    case ENOTTY: return QStringLiteral("The path is not a serial port.");
    default: return QString();
    }
}

int TComFlowControl::GetFlowControl() const
{
    const bool xonNone = !FXonXoffIn && !FXonXoffOut;
    if (FControlRTS == rtsHandshake && FOutCTSFlow && xonNone) return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut) return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && xonNone) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(int value)
{
    if (value != fcHardware && value != fcSoftware && value != fcNone) return;
    FControlRTS = rtsDisable;
    FOutCTSFlow = false;
    FXonXoffIn = false;
    FXonXoffOut = false;
    if (value == fcHardware) {
        FControlRTS = rtsHandshake;
        FOutCTSFlow = true;
    } else if (value == fcSoftware) {
        FXonXoffIn = true;
        FXonXoffOut = true;
    }
}

TCustomComPort::TCustomComPort(QObject* parent) : QObject(parent) {}

TCustomComPort::~TCustomComPort()
{
    // Nobody is left to tell.
    DiscardWrites();
    Close();
}

const QStringList& TCustomComPort::BaudRateTexts()
{
    static const QStringList t = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                                  "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
    return t;
}
const QStringList& TCustomComPort::StopBitsTexts()
{
    static const QStringList t = {"1", "1.5", "2"};
    return t;
}
const QStringList& TCustomComPort::DataBitsTexts()
{
    static const QStringList t = {"5", "6", "7", "8"};
    return t;
}
const QStringList& TCustomComPort::ParityTexts()
{
    static const QStringList t = {"None", "Odd", "Even", "Mark", "Space"};
    return t;
}
const QStringList& TCustomComPort::FlowControlTexts()
{
    static const QStringList t = {"Hardware", "Software", "None", "Custom"};
    return t;
}
const QStringList& TCustomComPort::DTRControlTexts()
{
    static const QStringList t = {"Disable", "Enable", "Handshake"};
    return t;
}
const QStringList& TCustomComPort::RTSControlTexts()
{
    static const QStringList t = {"Disable", "Enable", "Handshake", "Toggle"};
    return t;
}

int TCustomComPort::BaudRateValue(int index)
{
    if (index < 1 || index >= BaudRateTexts().size()) return 0;
    return BaudRateTexts()[index].toInt();
}

int TCustomComPort::EffectiveBaudRate() const
{
    return FBaudRate == brCustom ? FCustomBaudRate : BaudRateValue(FBaudRate);
}

QString TCustomComPort::DevicePath(const QString& port)
{
    if (port.startsWith(QLatin1Char('/'))) return port;
    return QStringLiteral("/dev/") + port;
}

bool TCustomComPort::TryOpen(QString* hint, QString* cause)
{
    try {
        Open();
    } catch (const EComPort& e) {
        if (hint) *hint = e.Hint();
        if (cause) *cause = e.Message();
    } catch (...) {
        // Not a port error: told as it is, so the failure does not go unexplained.
        const QString text = CurrentExceptionText();
        qWarning("Opening %s failed: %s", qPrintable(Port()), qPrintable(text));
        if (cause) *cause = text;
    }
    return Connected();
}

void TCustomComPort::Open()
{
    if (FConnected) return;
    if (IsNetwork()) {
        OpenLink();
        return;
    }
    const QString devicePath = DevicePath(FPort);
    const QByteArray path = devicePath.toLocal8Bit();
    if (FPort.isEmpty() || FPort.contains(QLatin1String(".."))) throw EComPort(1, ENOENT);
    // A port that is held is told with its holder: the program and pid, and how to fix the
    // common cases.
    const auto busy = [&devicePath](const QList<TPortHolder>& holders) {
        return EComPort(1, EBUSY, BusyText(devicePath, holders));
    };
    int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        // Another program set exclusive use (TIOCEXCL).
        if (e == EBUSY) throw busy(HoldersOf(devicePath));
        throw EComPort(1, e);
    }
    if (!::isatty(fd)) {
        ::close(fd);
        throw EComPort(1, ENOTTY);
    }
    // TIOCEXCL does not stop root; the advisory lock keeps a second opener out in any case.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        if (e == EBUSY) throw busy(HoldersOf(devicePath));
        throw EComPort(1, e);
    }
    // Programs that know no advisory locks (minicom and others) keep to the UUCP lock file.
    auto lock = std::make_unique<TUucpLock>();
    TPortHolder holder;
    QString note;
    if (lock->Acquire(devicePath, &holder, &note) == TUucpLock::TResult::Held) {
        ::flock(fd, LOCK_UN);
        ::close(fd);
        throw busy(holder.Pid > 0 ? QList<TPortHolder>{holder} : QList<TPortHolder>{});
    }
    FUucpLock = std::move(lock);
    ::ioctl(fd, TIOCEXCL);
    FHandle = fd;
    BeginSession();
    if (!note.isEmpty()) DoLinkMessage(note);
    ApplySettings();
    if (FEvents != 0) StartWatcher();
}

void TCustomComPort::BeginSession()
{
    FConnected = true;
    FIdleWakeups = 0;
    ++FSession;
    FPulsing = 0;
    FBreaking = false;
    FModemSupport = TModemSupport::Unknown;
    FReceiveHeld = false;
    FLinkLostError = 0;
    FLinkMessages.clear();
    // A new stream: nothing of a character begun before the close.
    FDecoder.Reset();
}

void TCustomComPort::CloseHandle()
{
    if (FLink) {
        // It may be the sender of the signal being handled right now: it frees itself later,
        // once what it still sends has gone out. Only its last word reaches us: what could
        // not be sent.
        TPortLink* link = FLink.release();
        link->disconnect(this);
        connect(link, &TPortLink::Message, this, [this](const QString& text) { DoLinkMessage(text); });
        link->Dispose();
    }
    if (FHandle >= 0) {
        ::ioctl(FHandle, TIOCNXCL);
        ::flock(FHandle, LOCK_UN);
        ::close(FHandle);
    }
    FHandle = -1;
    if (FUucpLock) FUucpLock->Release();
}

void TCustomComPort::Close()
{
    if (!FConnected) return;
    FlushLinkMessages();
    StopWatcher();
    ArmWriteWait(false);
    // The line is not left in the break condition.
    if (FBreaking) DriveBreak(false);
    FBreaking = false;
    if (FHandle >= 0) ::tcflush(FHandle, TCIOFLUSH);
    CloseHandle();
    FConnected = false;
    // A restore still pending belongs to this session and does nothing now.
    ++FSession;
    FPulsing = 0;
    // Writers learn it last, with the port already closed.
    CancelWrites();
    DoClosed();
}

void TCustomComPort::DoClosed() {}

void TCustomComPort::DoNotice(const QString&) {}

void TCustomComPort::StartWatcher()
{
    StopWatcher();
    FNotifier = new QSocketNotifier(FHandle, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    FNotifier->setEnabled(Watching());
}

void TCustomComPort::StopWatcher()
{
    if (!FNotifier) return;
    FNotifier->setEnabled(false);
    // The notifier may be the sender of the activation we are handling right now.
    FNotifier->deleteLater();
    FNotifier = nullptr;
}

void TCustomComPort::OnReadable()
{
    if (!FConnected || FInHandler) return;
    const int count = InputCount();
    if (count > 0) {
        FIdleWakeups = 0;
        // No new receive event while the handler runs: the notifier stays off until it returns.
        FInHandler = true;
        if (FNotifier) FNotifier->setEnabled(false);
        QSocketNotifier* notifier = FNotifier;
        if (FOnRxChar) FOnRxChar(this, count);
        FInHandler = false;
        if (FConnected && notifier == FNotifier && FNotifier) FNotifier->setEnabled(Watching());
        return;
    }
    // Readable but nothing waiting: either the device is gone or the wake-up was spurious.
    pollfd p{FHandle, POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    int lostError = 0;
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) lostError = EIO;
    if (!lostError && ++FIdleWakeups >= 3) {
        // Ask the descriptor itself rather than spinning on it.
        char probe;
        ssize_t n = ::read(FHandle, &probe, 0);
        if (n < 0 && errno != EAGAIN && errno != EINTR) lostError = errno;
        if (!lostError && FIdleWakeups >= 50) lostError = EIO;
    }
    if (lostError) {
        if (FNotifier) FNotifier->setEnabled(false);
        // Close later, not from inside the notifier's own activation.
        // Only for this open session: a port closed and opened again meanwhile (its device
        // came back) is another session and stays open.
        const quint64 session = FSession;
        QMetaObject::invokeMethod(
            this,
            [this, lostError, session] {
                if (session == FSession) HandleDeviceLost(lostError);
            },
            Qt::QueuedConnection);
    }
}

void TCustomComPort::PumpReceive()
{
    if (!FConnected || FInHandler || !Watching()) return;
    const int count = InputCount();
    if (count <= 0) return;
    FInHandler = true;
    FOnRxChar(this, count);
    FInHandler = false;
}

void TCustomComPort::HandleDeviceLost(int sysError)
{
    if (!FConnected) return;
    // Writes still queued end with the cause, not as merely cancelled.
    FailWrites(sysError);
    if (!FConnected) return;
    Close();
    DoDeviceLost(sysError);
    emit DeviceLost(sysError);
}

void TCustomComPort::DoDeviceLost(int) {}

void TCustomComPort::SetOnRxChar(TRxCharEvent handler)
{
    FOnRxChar = std::move(handler);
    if (FNotifier && !FInHandler) FNotifier->setEnabled(Watching());
    if (FLink && !FInHandler && Watching()) emit FLink->Readable();
}

void TCustomComPort::SetTriggersOnRxChar(bool on)
{
    FTriggersOnRxChar = on;
    if (FNotifier && !FInHandler) FNotifier->setEnabled(Watching());
    if (FLink && !FInHandler && Watching()) emit FLink->Readable();
}

void TCustomComPort::SetReceiveHeld(bool held)
{
    if (FReceiveHeld == held) return;
    FReceiveHeld = held;
    // Inside the handler the watcher is off already; it comes back on when the handler returns.
    if (FNotifier && !FInHandler) FNotifier->setEnabled(Watching());
    if (FLink && !FInHandler && Watching()) emit FLink->Readable();
}

int TCustomComPort::InputCount() const
{
    if (FLink) return static_cast<int>(std::min<qint64>(FLink->Available(), std::numeric_limits<int>::max()));
    if (FHandle < 0) return 0;
    int n = 0;
    if (::ioctl(FHandle, FIONREAD, &n) != 0) return 0;
    return n;
}

int TCustomComPort::Write(const void* buffer, int count)
{
    if (!HasLine() || count <= 0 || !buffer) return 0;
    if (FLink) return WriteLinkNow(buffer, count);
    const auto* p = static_cast<const char*>(buffer);
    const auto limit = std::chrono::milliseconds(FTimeouts.FWriteTotalC) +
                       std::chrono::milliseconds(static_cast<long long>(FTimeouts.FWriteTotalM) * count);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int done = 0;
    while (done < count) {
        ssize_t n = ::write(FHandle, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) throw EComPort(2, errno);
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) throw EComPort(2, ETIMEDOUT);
        pollfd pf{FHandle, POLLOUT, 0};
        int r = ::poll(&pf, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (r > 0 && (pf.revents & (POLLERR | POLLHUP | POLLNVAL))) throw EComPort(2, EIO);
    }
    return done;
}

int TCustomComPort::WriteStr(const QString& str)
{
    QByteArray bytes;
    // Never the low 8 bits of a character: what the device gets is the text.
    if (!EncodeText(str, FTextEncoding, &bytes)) return -1;
    return Write(bytes.constData(), static_cast<int>(bytes.size()));
}

void TCustomComPort::SetTextEncoding(TTextEncoding e)
{
    FTextEncoding = e;
    FDecoder.SetEncoding(e);
}

void TCustomComPort::WriteAsync(QByteArray bytes, TWriteDone done)
{
    if (!FConnected || !HasLine()) {
        if (done) done(0, EBADF);
        return;
    }
    FWriteQueue.push_back({std::move(bytes), 0, std::move(done)});
    // A write queued from inside a completion is taken by the flush that runs it.
    if (!FFlushing) FlushWrites();
}

qint64 TCustomComPort::PendingWriteBytes() const
{
    qint64 n = 0;
    for (const TWriteJob& job : FWriteQueue) n += job.Bytes.size() - job.Done;
    return n;
}

void TCustomComPort::FinishWrite(int error)
{
    // Taken off first: the completion may queue, cancel or close.
    TWriteJob job = std::move(FWriteQueue.front());
    FWriteQueue.pop_front();
    if (job.Callback) job.Callback(job.Done, error);
}

void TCustomComPort::CancelWrites()
{
    FailWrites(ECANCELED);
}

void TCustomComPort::FailWrites(int error)
{
    // Only what is queued now: writes that the completions queue stay, and go out after.
    std::deque<TWriteJob> jobs;
    jobs.swap(FWriteQueue);
    ArmWriteWait(false);
    const bool flushing = FFlushing;
    FFlushing = true;
    for (TWriteJob& job : jobs)
        if (job.Callback) job.Callback(job.Done, error);
    FFlushing = flushing;
    if (!flushing && !FWriteQueue.empty()) FlushWrites();
}

void TCustomComPort::DiscardWrites()
{
    FWriteQueue.clear();
    ArmWriteWait(false);
}

void TCustomComPort::DoBytesWritten(qint64) {}

void TCustomComPort::ArmWriteWait(bool on)
{
    if (!on) {
        if (FWriteNotifier) {
            FWriteNotifier->setEnabled(false);
            FWriteNotifier->deleteLater();
            FWriteNotifier = nullptr;
        }
        if (FWriteTimer) FWriteTimer->stop();
        return;
    }
    // A link says itself when it takes bytes again.
    if (!FWriteNotifier && !FLink) {
        FWriteNotifier = new QSocketNotifier(FHandle, QSocketNotifier::Write, this);
        connect(FWriteNotifier, &QSocketNotifier::activated, this, [this] { FlushWrites(); });
    }
    if (FWriteNotifier) FWriteNotifier->setEnabled(true);
    if (!FWriteTimer) {
        FWriteTimer = new QTimer(this);
        FWriteTimer->setSingleShot(true);
        connect(FWriteTimer, &QTimer::timeout, this, [this] {
            if (FWriteQueue.empty()) return;
            const bool flushing = FFlushing;
            FFlushing = true;
            FinishWrite(ETIMEDOUT);
            FFlushing = flushing;
            if (!flushing) FlushWrites();
        });
    }
}

void TCustomComPort::FlushWrites()
{
    if (FFlushing) return;
    FFlushing = true;
    bool waiting = false;
    while (!FWriteQueue.empty()) {
        if (!FConnected || !HasLine()) {
            FinishWrite(EBADF);
            continue;
        }
        TWriteJob& job = FWriteQueue.front();
        const qint64 left = job.Bytes.size() - job.Done;
        if (left <= 0) {
            FinishWrite(0);
            continue;
        }
        const qint64 n = WriteSome(job.Bytes.constData() + job.Done, left);
        if (n > 0) {
            job.Done += n;
            DoBytesWritten(n);
            // Progress: the time-out counts again from here.
            if (FWriteTimer) FWriteTimer->stop();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            FinishWrite(errno);
            continue;
        }
        // The device takes no more now: wait for it in the event loop, not here.
        waiting = true;
        break;
    }
    if (waiting && !FWriteQueue.empty() && FConnected) {
        ArmWriteWait(true);
        if (!FWriteTimer->isActive()) {
            const TWriteJob& job = FWriteQueue.front();
            const qint64 ms = FTimeouts.FWriteTotalC +
                              static_cast<qint64>(FTimeouts.FWriteTotalM) * (job.Bytes.size() - job.Done);
            FWriteTimer->start(static_cast<int>(std::clamp<qint64>(ms, 1, std::numeric_limits<int>::max())));
        }
    } else {
        ArmWriteWait(false);
    }
    FFlushing = false;
}

int TCustomComPort::Read(void* buffer, int count)
{
    if (!HasLine() || count <= 0 || !buffer) return 0;
    if (FLink) {
        const int n = static_cast<int>(FLink->Read(static_cast<char*>(buffer), count));
        FLinkBytesRead += n;
        return n;
    }
    auto* p = static_cast<char*>(buffer);
    int done = 0;
    while (done < count) {
        ssize_t n = ::read(FHandle, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    return done;
}

int TCustomComPort::ReadStr(QString& str, int count)
{
    QByteArray bytes(qMax(count, 0), Qt::Uninitialized);
    int n = Read(bytes.data(), count);
    bytes.truncate(n);
    str = QString::fromLatin1(bytes);
    return n;
}

int TCustomComPort::ReadUnicodeString(QString& str, int count, int* bytesRead, QByteArray* raw)
{
    QByteArray bytes(qMax(count, 0), Qt::Uninitialized);
    int n = Read(bytes.data(), count);
    if (bytesRead) *bytesRead = n;
    bytes.truncate(n);
    // The decoder keeps an incomplete multi-byte character for the next read.
    str = FDecoder.Decode(bytes.constData(), bytes.size());
    if (raw) *raw = std::move(bytes);
    return static_cast<int>(str.size());
}

void TCustomComPort::ApplySettings()
{
    if (!FConnected || FUpdateCount > 0) return;
    ApplyLine();
}

TLineSettings TCustomComPort::LineSettings() const
{
    TLineSettings s;
    s.baud = EffectiveBaudRate();
    if (s.baud <= 0) s.baud = 9600;
    s.dataBits = 5 + FDataBits;
    // Linux has no 1.5 stop bits; 2 is the nearest.
    s.stopBits = FStopBits == sbOneStopBit ? 1 : 2;
    s.parity = FParity.FBits;
    s.parityCheck = FParity.FCheck;
    s.ctsFlow = FFlowControl.FOutCTSFlow || FFlowControl.FControlRTS == rtsHandshake;
    s.xonXoffOut = FFlowControl.FXonXoffOut;
    s.xonXoffIn = FFlowControl.FXonXoffIn;
    s.xonChar = FFlowControl.FXonChar;
    s.xoffChar = FFlowControl.FXoffChar;
    return s;
}

void TCustomComPort::ApplyLine()
{
    if (!HasLine()) return;
    const TLineSettings s = LineSettings();
    // A refused setting leaves the device as it was; the port stays open.
    if (FLink) FLink->ApplyLine(s);
    else ApplyLineSettings(FHandle, s);
    DriveLine(TIOCM_DTR, LineLevel(TIOCM_DTR));
    // A handshaking RTS belongs to the kernel.
    if (FFlowControl.FControlRTS == rtsEnable || FFlowControl.FControlRTS == rtsDisable)
        DriveLine(TIOCM_RTS, LineLevel(TIOCM_RTS));
}

bool TCustomComPort::LineLevel(int bit) const
{
    if (FModemOutSet & bit) return (FModemOut & bit) != 0;
    if (bit == TIOCM_DTR) return FFlowControl.FControlDTR == dtrEnable;
    return FFlowControl.FControlRTS == rtsEnable;
}

bool TCustomComPort::DriveLine(int bit, bool on)
{
    if (!HasLine() || FModemSupport == TModemSupport::Unsupported) return false;
    int bits = bit;
    const int error =
        FLink ? FLink->SetModemLine(bit, on) : ModemLines().Control(FHandle, on ? TIOCMBIS : TIOCMBIC, &bits);
    if (error == 0) {
        FModemSupport = TModemSupport::Supported;
        return true;
    }
    if (error == ENOTTY || error == EINVAL) FModemSupport = TModemSupport::Unsupported;
    return false;
}

bool TCustomComPort::DTR() const
{
    return LineLevel(TIOCM_DTR);
}
bool TCustomComPort::RTS() const
{
    return LineLevel(TIOCM_RTS);
}
bool TCustomComPort::SetDTR(bool on)
{
    return SetLine(TIOCM_DTR, on);
}
bool TCustomComPort::SetRTS(bool on)
{
    return SetLine(TIOCM_RTS, on);
}
bool TCustomComPort::PulseDTR(int ms)
{
    return PulseLine(TIOCM_DTR, ms);
}
bool TCustomComPort::PulseRTS(int ms)
{
    return PulseLine(TIOCM_RTS, ms);
}

bool TCustomComPort::SetLine(int bit, bool on)
{
    FModemOutSet |= bit;
    if (on) FModemOut |= bit;
    else FModemOut &= ~bit;
    if (!FConnected) return false;
    return DriveLine(bit, on);
}

bool TCustomComPort::PulseLine(int bit, int ms)
{
    if (!FConnected || (FPulsing & bit)) return false;
    if (!DriveLine(bit, !LineLevel(bit))) return false;
    FPulsing |= bit;
    const quint64 session = FSession;
    QTimer::singleShot(std::max(ms, 1), this, [this, bit, session] {
        if (session != FSession) return;
        FPulsing &= ~bit;
        // The level as it stands now: a toggle during the pulse is what stays.
        DriveLine(bit, LineLevel(bit));
    });
    return true;
}

int TCustomComPort::DriveBreak(bool on)
{
    if (FLink) return FLink->SetBreak(on);
    if (FHandle < 0) return EBADF;
    int unused = 0;
    return ModemLines().Control(FHandle, on ? TIOCSBRK : TIOCCBRK, &unused);
}

int TCustomComPort::SendBreak(int ms)
{
    if (!FConnected || !HasLine()) return EBADF;
    if (FBreaking) return EBUSY;
    const int error = DriveBreak(true);
    if (error != 0) return error;
    FBreaking = true;
    const quint64 session = FSession;
    QTimer::singleShot(std::max(ms, 1), this, [this, session] {
        // A close meanwhile has ended it already.
        if (session != FSession || !FBreaking) return;
        FBreaking = false;
        DriveBreak(false);
    });
    return 0;
}

int TCustomComPort::GetModemStatus(TModemStatus& out)
{
    out = TModemStatus();
    if (!FConnected || !HasLine()) return EBADF;
    if (FModemSupport == TModemSupport::Unsupported) return ENOTTY;
    int bits = 0;
    const int error = FLink ? FLink->ModemStatus(&bits) : ModemLines().Control(FHandle, TIOCMGET, &bits);
    if (error != 0) {
        if (error == ENOTTY || error == EINVAL) FModemSupport = TModemSupport::Unsupported;
        return error;
    }
    FModemSupport = TModemSupport::Supported;
    out.CTS = (bits & TIOCM_CTS) != 0;
    out.DSR = (bits & TIOCM_DSR) != 0;
    out.RI = (bits & TIOCM_RNG) != 0;
    out.CD = (bits & TIOCM_CAR) != 0;
    return 0;
}

void TCustomComPort::SetPort(const QString& port)
{
    if (port == FPort) return;
    FPort = port;
    if (FUpdateCount > 0) {
        FPortChanged = true;
        return;
    }
    if (FConnected) {
        Close();
        Open();
    }
}

void TCustomComPort::SetBaudRate(int index)
{
    if (index < 0 || index >= BaudRateTexts().size() || index == FBaudRate) return;
    FBaudRate = index;
    ApplySettings();
}

void TCustomComPort::SetCustomBaudRate(int rate)
{
    if (rate <= 0 || rate == FCustomBaudRate) return;
    FCustomBaudRate = rate;
    ApplySettings();
}

void TCustomComPort::SetDataBits(int index)
{
    if (index < 0 || index > dbEight || index == FDataBits) return;
    FDataBits = index;
    ApplySettings();
}

void TCustomComPort::SetStopBits(int index)
{
    if (index < 0 || index > sbTwoStopBits || index == FStopBits) return;
    FStopBits = index;
    ApplySettings();
}

void TCustomComPort::SetParityBits(int index)
{
    if (index < 0 || index > prSpace || index == FParity.FBits) return;
    FParity.FBits = index;
    ApplySettings();
}

void TCustomComPort::SetFlowControl(int value)
{
    if (value != fcHardware && value != fcSoftware && value != fcNone) return;
    FFlowControl.SetFlowControl(value);
    ApplySettings();
}

void TCustomComPort::SetFlowControlFlags(const TComFlowControl& flags)
{
    FFlowControl = flags;
    ApplySettings();
}

void TCustomComPort::SetInputSize(int size)
{
    if (size < 0) return;
    FInputSize = size & ~1;
}

void TCustomComPort::SetOutputSize(int size)
{
    if (size < 0) return;
    FOutputSize = size & ~1;
}

void TCustomComPort::BeginUpdate()
{
    ++FUpdateCount;
}

void TCustomComPort::EndUpdate()
{
    if (FUpdateCount == 0) return;
    if (--FUpdateCount > 0) return;
    const bool portChanged = FPortChanged;
    FPortChanged = false;
    if (!FConnected) return;
    if (!portChanged) {
        ApplyLine();
        return;
    }
    // A changed port name while open means another device.
    Close();
    try {
        Open();
    } catch (const EComPort& e) {
        // The port stays closed; the caller sees it in Connected().
        qWarning("Reopening %s on its new name failed: %s", qPrintable(Port()), e.what());
    }
}

void TCustomComPort::StoreSettings(TStoreType storeType, const QString& storeTo)
{
    if (storeType != stIniFile || storeTo.isEmpty()) return;
    TIniFile ini;
    QString why;
    if (!ini.Load(storeTo, &why) && QFileInfo(storeTo).exists()) {
        // Saved from what could be read (nothing), the file would lose every other key it holds.
        if (FSettingsToldPath != storeTo) {
            FSettingsToldPath = storeTo;
            DoNotice(Msg(QStringLiteral("The settings of this port are not saved: %1 can not be read (%2), "
                                        "and saving would replace everything it holds."))
                         .arg(storeTo, why));
        }
        return;
    }
    FSettingsToldPath.clear();
    const QString sec;
    ini.WriteString(sec, QStringLiteral("Port"), FPort);
    ini.WriteString(sec, QStringLiteral("BaudRate"), BaudRateTexts()[FBaudRate]);
    if (FBaudRate == brCustom) ini.WriteInteger(sec, QStringLiteral("CustomBaudRate"), FCustomBaudRate);
    ini.WriteString(sec, QStringLiteral("StopBits"), StopBitsTexts()[FStopBits]);
    ini.WriteString(sec, QStringLiteral("DataBits"), DataBitsTexts()[FDataBits]);
    ini.WriteString(sec, QStringLiteral("Parity"), ParityTexts()[FParity.FBits]);
    ini.WriteString(sec, QStringLiteral("FlowControl"), FlowControlTexts()[FFlowControl.GetFlowControl()]);
    // Only files of ports that ever had it carry the key.
    if (FReconnect || ini.ValueExists(sec, QStringLiteral("Reconnect")))
        ini.WriteString(sec, QStringLiteral("Reconnect"),
                        FReconnect ? QStringLiteral("1") : QStringLiteral("0"));
    // Files of ports that never left the defaults stay as they were.
    if (FTextEncoding != kDefaultTextEncoding || ini.ValueExists(sec, QStringLiteral("Encoding")))
        ini.WriteString(sec, QStringLiteral("Encoding"), TextEncodingName(FTextEncoding));
    if (FLineBreaks != TLineBreaks::Any || ini.ValueExists(sec, QStringLiteral("LineBreaks")))
        ini.WriteString(sec, QStringLiteral("LineBreaks"), LineBreaksName(FLineBreaks));
    if (FAnsiMode != kDefaultAnsiMode || ini.ValueExists(sec, QStringLiteral("EscapeSequences")))
        ini.WriteString(sec, QStringLiteral("EscapeSequences"), AnsiModeName(FAnsiMode));
    StoreMoreSettings(ini);
    // Failures pass silently, as every other settings failure of the port does.
    ini.Save(storeTo);
}

void TCustomComPort::LoadSettings(TStoreType storeType, const QString& loadFrom)
{
    if (storeType != stIniFile || loadFrom.isEmpty()) return;
    TIniFile ini;
    if (!ini.Load(loadFrom)) return;
    const QString sec;
    BeginUpdate();
    const QString port = ini.ReadString(sec, QStringLiteral("Port"), FPort);
    // A port name from a file never walks out of /dev.
    if (!port.isEmpty() && !port.contains(QLatin1String(".."))) SetPort(port);

    int baud = IndexOfText(BaudRateTexts(),
                           ini.ReadString(sec, QStringLiteral("BaudRate"), BaudRateTexts()[FBaudRate]));
    if (baud < 0) baud = br9600;
    SetBaudRate(baud);
    if (baud == brCustom) {
        int custom = ini.ReadInteger(sec, QStringLiteral("CustomBaudRate"), 9600);
        SetCustomBaudRate(custom > 0 ? custom : 9600);
    }
    int stop = IndexOfText(StopBitsTexts(),
                           ini.ReadString(sec, QStringLiteral("StopBits"), StopBitsTexts()[FStopBits]));
    SetStopBits(stop < 0 ? sbOneStopBit : stop);
    int data = IndexOfText(DataBitsTexts(),
                           ini.ReadString(sec, QStringLiteral("DataBits"), DataBitsTexts()[FDataBits]));
    SetDataBits(data < 0 ? dbEight : data);
    int parity = IndexOfText(ParityTexts(),
                             ini.ReadString(sec, QStringLiteral("Parity"), ParityTexts()[FParity.FBits]));
    SetParityBits(parity < 0 ? prNone : parity);
    int flow = IndexOfText(FlowControlTexts(), ini.ReadString(sec, QStringLiteral("FlowControl"),
                                                              FlowControlTexts()[GetFlowControl()]));
    SetFlowControl(flow < 0 ? fcCustom : flow);
    FReconnect = ini.ReadBool(sec, QStringLiteral("Reconnect"), FReconnect);
    // An unknown name (a newer or damaged file) keeps what the port has.
    TTextEncoding encoding = FTextEncoding;
    if (TextEncodingFromName(ini.ReadString(sec, QStringLiteral("Encoding")), &encoding))
        SetTextEncoding(encoding);
    TLineBreaks breaks = FLineBreaks;
    if (LineBreaksFromName(ini.ReadString(sec, QStringLiteral("LineBreaks")), &breaks)) SetLineBreaks(breaks);
    TAnsiMode escapes = FAnsiMode;
    if (AnsiModeFromName(ini.ReadString(sec, QStringLiteral("EscapeSequences")), &escapes))
        SetAnsiMode(escapes);
    EndUpdate();
    LoadMoreSettings(ini);
}
