#pragma once

// The inside of a script run: what the script thread and the GUI thread share, and the
// objects the script calls. Not for use outside src/script.

#include "CvCodecs.h"
#include "TCvComPortObj.h"
#include "TCvReceiveObserver.h"
#include "TCvScriptRun.h"

#include <QJSValue>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QJSEngine;
class QRegularExpression;

namespace CvScript {

// One lock and one wake-up for everything a run waits on; Stopping ends every wait.
struct TSync {
    std::mutex M;
    std::condition_variable Cv;
    std::atomic<bool> Stopping{false};
};

// What a port received and the script has not taken yet, as text and as bytes: taking
// one takes the other up to the same place (exactly where the text maps back onto its
// bytes, else from the start of the read it came in). Under TSync::M.
class TRxStream {
public:
    // Beyond this the oldest received data is dropped (and the script is told).
    static constexpr qsizetype kMaxBytes = qsizetype(4) << 20;

    void Push(const QByteArray& bytes, const QString& text, TTextEncoding encoding);
    const QString& Text() const { return FText; }
    const QByteArray& Bytes() const { return FBytes; }
    void TakeText(qsizetype n);
    void TakeBytes(qsizetype n);
    void Clear();
    // Changes with every read, so that a waiter knows something came.
    quint64 Version() const { return FVersion; }
    // Bytes dropped unread since the last call.
    qint64 TakeDropped();

private:
    struct Chunk {
        QString Text;
        QByteArray Bytes;
        TTextEncoding Encoding;
        // The text encodes back to exactly these bytes: a place in it maps onto them.
        bool Lossless = false;
        qint64 T0 = 0;
        qint64 B0 = 0;
    };
    qint64 ByteAt(qint64 t) const;
    qint64 TextAt(qint64 b) const;
    void SetBases(qint64 t, qint64 b);

    std::deque<Chunk> FChunks;
    QString FText;
    QByteArray FBytes;
    // Absolute places (since the run began) of FText[0] and FBytes[0], and of their ends.
    qint64 FTextBase = 0;
    qint64 FByteBase = 0;
    qint64 FTextEnd = 0;
    qint64 FByteEnd = 0;
    quint64 FVersion = 0;
    qint64 FDropped = 0;
};

// A port of the run, on the GUI thread: it watches what the port receives for the script.
class TWatchedPort : public TCvReceiveObserver {
public:
    TWatchedPort(TCvComPortObj* port, std::shared_ptr<TSync> sync, std::shared_ptr<TRxStream> rx);
    ~TWatchedPort() override;
    TCvComPortObj* Port() const { return FPort.data(); }
    std::shared_ptr<TRxStream> Rx() const { return FRx; }
    void Received(const QByteArray& bytes, const QString* text) override;

private:
    QPointer<TCvComPortObj> FPort;
    std::shared_ptr<TSync> FSync;
    std::shared_ptr<TRxStream> FRx;
    // The script sees the characters the device sent: the port's encoding, line breaks as
    // they came.
    TTextDecoder FDecoder;
};

// What the script's objects share on the script thread.
class TContext {
public:
    TContext(TCvScriptRun* run, std::shared_ptr<TSync> sync, QJSEngine* engine, const QString& fileName)
        : Run(run), Sync(std::move(sync)), Engine(engine), FileName(fileName)
    {}
    TCvScriptRun* Run;
    std::shared_ptr<TSync> Sync;
    QJSEngine* Engine;
    QString FileName;
    // Set by pass() and fail().
    std::optional<TCvScriptResult> Result;

    using TFinish = std::function<void(bool ok, const QVariant& value, const QString& error)>;
    // Runs f on the GUI thread and waits until it (or a completion it hands the finisher
    // to) finishes, the run stops, or timeoutMs (< 0: no limit) pass. False, with *error,
    // when it did not finish well.
    bool CallGui(std::function<void(TFinish)> f, QVariant* value, QString* error,
                 int timeoutMs = TCvScriptRun::kGuiCallTimeoutMs);
    // The same without waiting (log lines).
    void PostGui(std::function<void()> f);
    // Waits ms, or less when the run stops; false when it stopped.
    bool Sleep(int ms);
    bool Stopping() const { return Sync->Stopping.load(); }
    // Errors for the script: a TypeError for a call made wrong (a bad script, exit 2), an
    // Error for what went wrong (exit 1). Return {} after them.
    void ThrowUsage(const QString& message);
    void ThrowError(const QString& message);
    // Ends the script now (pass, fail).
    void End(const TCvScriptResult& result);
    void Log(const QString& line);
};

// `port` and what openPort() returns.
class TScriptPort : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
public:
    TScriptPort(TContext* context, int id, const QString& name, std::shared_ptr<TRxStream> rx,
                QObject* parent = nullptr);

    QString name() const { return FName; }
    Q_INVOKABLE void send(const QString& text);
    Q_INVOKABLE void sendHex(const QJSValue& bytes);
    Q_INVOKABLE QJSValue expect(const QJSValue& pattern, int timeoutMs = 5000);
    Q_INVOKABLE QString read(int timeoutMs = 1000);
    Q_INVOKABLE QJSValue readBytes(int count, int timeoutMs = 1000);
    Q_INVOKABLE void clear();
    Q_INVOKABLE void setDtr(bool on = true);
    Q_INVOKABLE void setRts(bool on = true);
    Q_INVOKABLE void sendBreak(int ms = 250);

private:
    bool Usable();
    bool SendWire(const QByteArray& wire, const QString& shown);
    // Tells the script once about received data dropped unread (under the lock).
    void TellDropped(std::unique_lock<std::mutex>& lk);
    bool SetLine(bool dtr, bool on);

    TContext* FContext;
    int FId;
    QString FName;
    std::shared_ptr<TRxStream> FRx;
};

// The functions every script has.
class TScriptGlobals : public QObject {
    Q_OBJECT
public:
    explicit TScriptGlobals(TContext* context) : FContext(context) {}

    Q_INVOKABLE void sleep(int ms);
    Q_INVOKABLE void log(const QJSValue& text);
    Q_INVOKABLE int crc16modbus(const QJSValue& bytes);
    Q_INVOKABLE QString toHex(const QJSValue& bytes);
    Q_INVOKABLE QJSValue fromHex(const QString& text);
    Q_INVOKABLE QJSValue openPort(const QString& name, const QJSValue& options = QJSValue());
    Q_INVOKABLE void pass(const QString& message = QString());
    Q_INVOKABLE void fail(const QString& message = QString());

    // The port objects made for the script (children of this object).
    QJSValue MakePort(int id, const QString& name, std::shared_ptr<TRxStream> rx);

private:
    TContext* FContext;
};

// The script's line of the innermost frame with a file: in an Error's stack text, and in
// the trace QJSEngine::evaluate reports. 0 when there is none.
int LineOfStack(const QString& stack);
int LineOfTrace(const QStringList& trace);

// Bytes as a script hands them: an array of byte values, or hex text. False with *error.
bool BytesFromScript(const QJSValue& value, QByteArray* out, QString* error);

class TScriptThread : public QThread {
public:
    TScriptThread(TCvScriptRun* run, const QString& source, const QString& fileName, int mainPort,
                  const QString& mainPortName, std::shared_ptr<TRxStream> mainRx,
                  std::shared_ptr<TSync> sync);
    void Stop();
    TCvScriptResult Result() const { return FResult; }

protected:
    void run() override;

private:
    TCvScriptResult Evaluate(QJSEngine& engine, TContext& context);

    TCvScriptRun* FRun;
    QString FSource;
    QString FFileName;
    int FMainPort;
    QString FMainPortName;
    std::shared_ptr<TRxStream> FMainRx;
    std::shared_ptr<TSync> FSync;
    std::mutex FEngineLock;
    QJSEngine* FEngine = nullptr;
    TCvScriptResult FResult;
};

} // namespace CvScript
