#pragma once

#include "CvProtocol.h"
#include "TComPackParserHandleThread.h"
#include "TComUIHandleHost.h"
#include "TCustomComPort.h"
#include "TCvReceiveObserver.h"
#include "TCvSheetWriter.h"
#include "TLogKey.h"
#include "TLogView.h"

#include <QFile>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QDateTime;
class TCvAnswerRules;
class TCvComProtocal;
class TCvLineSink;
class TCvReceiveDiversion;
class TCvSeries;
class TLogModel;
class TComUIHandleThread;
struct TCvComPack;
class QTimer;

enum TSendFormat { sfAscii = 0, sfHex = 1, sfProtocol = 2 };
// What ends the text of one ASCII send. Default: what each path always sent (CR LF after
// a grid row or a block, nothing after a prompt command).
enum class TSendEnding { Default = -1, None = 0, Cr = 1, Lf = 2, CrLf = 3 };

struct TCvComPortObjPara {
    QString ComportFullName;
    QString Port;
    int BaudRate = br9600;
    int DataBits = dbEight;
    int StopBits = sbOneStopBit;
    int ParityBits = prNone;
    int FlowControl = fcNone;
    int ReceiveFormat = rfAscii;
    int SendFormat = sfAscii;
    // The view to write into; none keeps the one the port object has.
    TLogView* LogView = nullptr;
    bool ShowDate = false;
    bool ShowTime = false;
    bool ShowLineNumber = false;
    bool ShowSendedLog = false;
    bool HexModeWithString = true;
};

// A port's console: whether it is shown instead of the log, and how its keys are sent.
// Kept in the port's settings file (Console=, ConsoleEnter=, ConsoleBackspace=, ConsoleEcho=).
struct TCvConsoleOptions {
    enum TEnter { EnterCr = 0, EnterLf = 1, EnterCrLf = 2 };
    bool Shown = false;
    int Enter = EnterCr;
    bool BackspaceBs = false; // else DEL
    bool LocalEcho = false;
    friend bool operator==(const TCvConsoleOptions&, const TCvConsoleOptions&) = default;
};

// The main window's notification: Count 0 after a change of the log view or a counter,
// 1 after each waveform point.
using TCallBackFun = std::function<void(int Count)>;
// Declared for completeness; nothing assigns or calls it.
using TProtocolCallBackFun = std::function<void(int TypeID)>;

// Everything kept for one serial device: the port, its log view, formats and options,
// the hand-over buffers, counters, the display and parser workers and the protocol engine.
class TCvComPortObj : public TComPort, private TPackParserHost, private TComUIHandleHost {
    Q_OBJECT

public:
    static constexpr int kReceiveBufferSize = 2097153;
    static constexpr int kSendBufferSize = 1024;
    static constexpr int kQueueSize = 2097152;
    static constexpr int kProtocolAckTimeoutMs = 5000;
    // What one receive event reads at most: the rest raises the next event, so one event
    // never keeps the window busy for more than a small part of a frame.
    static constexpr int kReadPerEvent = 256 * 1024;
    // What may wait for the workers in the hand-over; beyond it the port is held (it reads
    // nothing, and the sender is held back) until they have taken most of it.
    static constexpr qint64 kHandOverLimit = qint64(16) << 20;
    // How long the GUI thread applies the workers' changes in one turn of the event loop.
    static constexpr qint64 kApplyBudgetMs = 5;

    TCvComPortObj(QObject* AOwner, const QString& DeviceName);
    ~TCvComPortObj() override;

    void CvComPortObjInit2(const QString& a, const QString& b, int c, int d, int e, int f, int g, int h,
                           int i, TLogView* j, bool k, bool l, bool m, bool N, bool o);
    void CvComPortObjInit(const TCvComPortObjPara& CvComPortObjPara);
    TCvComPortObjPara GetConfiguration() const;
    void ClearInternalBuff(int id);
    // The same with ReceiveLock already held.
    void ClearInternalBuffLocked(int id);

    // Log view.
    void Log(const QString& Msg);
    void LogBuff(const QString& flag, const quint8* Buff, int Len);
    // The text LogBuff writes.
    static QString BuffText(const QString& flag, const quint8* Buff, int Len);
    void ClearLog();
    QString LinePrefix(qint64 LineIndex) const;
    // The same with the time of At instead of now.
    QString LinePrefix(qint64 LineIndex, const QDateTime& At) const;
    // The same with the time of AtMs (ms since the epoch; 0 or less: now), cheap per line.
    QString LinePrefixAt(qint64 LineIndex, qint64 AtMs) const;
    // False when the file could not be written; the old file stays whole. The first failure
    // is told in the log, later ones only after a save has worked again.
    bool SaveLog(const QString& FullLogFilePath);
    QString LastLogSaveError() const { return FLogSaveError; }

    // Send paths. None of them waits for the device: the bytes are queued, and the log
    // tells what became of them once the write has ended (at once when the device took
    // them at once). The echo appears only for bytes that were written; a failed write
    // leaves the classic line with the cause and how many bytes went out. The result is
    // false when the port is closed or the write failed at once.
    bool TorvinComSendBuffer(const quint8* buffer, int len);
    // Queues bytes; echo lines are logged when all went out. done (may be empty) follows.
    bool SendBytes(const QByteArray& bytes, const QStringList& echo, TWriteDone done = {});
    static QString WriteFailureText(qint64 written, qint64 total, int error);
    bool TorvinComSendData_Common(const QString& str, int SendFormat,
                                  TSendEnding Ending = TSendEnding::Default);
    bool TorvinComSendData_MultiTimes(const QString& str, int SendFormat,
                                      TSendEnding Ending = TSendEnding::Default);
    bool TorvinComSendData_Terminal(const QString& str, int SendFormat,
                                    TSendEnding Ending = TSendEnding::Default);
    // The prompt's keys, as the log view passes them.
    bool LogMemoKeyDown(const TLogKey& e);
    bool LogMemoKeyPress(const TLogKey& e);

    // Framed protocol.
    void RequestProtocolConnection();
    void SendProtocolACK();
    // How a protocol send ended: every packet written (and acknowledged when asked for).
    using TProtocolDone = std::function<void(bool ok)>;
    // Sends Count bytes of Buffer (which holds BufferSize bytes) as packets of TypeID,
    // without waiting: done (may be empty) follows. With NeedACK each packet waits, in the
    // event loop, for its acknowledgement before the next goes; a missing one stops the
    // transfer after the time-out with a line in the log. Refused (false, nothing sent):
    // a Count beyond BufferSize, or a second acknowledged transfer while one runs.
    bool SendProtocolData(const quint8* Buffer, int BufferSize, int Count, quint16 TypeID, bool NeedACK,
                          TProtocolDone done = {});
    void PrintSendProtocolPack(const TCvComPack& CvComPack);
    QString SendProtocolPackText(const TCvComPack& CvComPack);
    bool AckTransferRunning() const { return FAckTransfer != nullptr; }
    void PrintReceivedProtocolData(int Index);
    int GetPacks() const;
    void ProtocolPackReceived(const TCvComPack2& CvComPack2);
    void SetProtocolAckTimeout(int ms) { FProtocolAckTimeoutMs = ms; }

    // The receive handler installed on the port.
    void ComRxChar(TCustomComPort* Sender, int Count);

    // Applies what the worker threads have queued for the GUI thread.
    void FlushUiQueue();

    // Fields the rest of the program reads and sets directly.
    int FSendFormat = sfAscii;
    std::atomic<int> FReceiveFormat{rfAscii};
    bool FShowDate = false;
    bool FShowTime = false;
    bool FShowLineNumber = false;
    bool FShowSendedLog = false;
    // What ends a command sent from the prompt in ASCII format.
    TSendEnding FPromptEnding = TSendEnding::Default;
    std::atomic<bool> FHexModeWithString{true};
    std::atomic<int> FHexModeFormatCount{16};
    // ".mmm" after the seconds of time prefixes.
    bool FShowMilliseconds = false;
    // Hex display: a new line when the bytes pause for longer than FHexGapMs.
    std::atomic<bool> FHexGapLines{false};
    std::atomic<int> FHexGapMs{20};
    bool FNeedCRC16 = false;
    int FProtocalData = 0;
    int FBackGroundProcessRecordCount = 50;
    std::atomic<bool> FComHandleThread_Wait{false};
    std::atomic<qint64> FComReceiveCount{0};
    std::atomic<qint64> FComProcessedCount{0};
    std::atomic<qint64> FComSentCount{0};
    // The text of the last read as shown: escapes taken out (or made visible), with its
    // colour runs (UTF-16 units of it).
    QString FComReceiveString;
    TCvStyleRuns FComReceiveRuns;
    QString FComportFullName;
    QString FullLogFileName;
    QString FFileStreamName;
    qint64 FExcelAppRows = 0;
    TCallBackFun FCallBackFun;
    TProtocolCallBackFun FProtocolCallBackFun;

    // The view the log goes to: the one attached, or the port object's own plain one (never
    // null). Without a window around it, Log() emits NoViewMessage instead.
    TLogView* LogView() const { return FLogView; }
    // Attaches a view (held, not owned: the window keeps it alive while it is attached);
    // nullptr goes back to the port object's own.
    void SetLogView(TLogView* view);
    TLogModel& TextStore() { return *FStringInternalMemo; }
    TComUIHandleThread* UIHandleThread() const { return FComUIHandleThread.get(); }
    TComPackParserHandleThread* PackParserThread() const { return FComPackParserThread.get(); }
    TCvComProtocal* Protocol() const { return FCvComProtocal.get(); }
    void SetSeries(TCvSeries* series);
    // The spreadsheet target of the "File" format, set by the window; without one the bytes
    // are dropped. Replacing it (or nullptr) deletes the one held.
    void SetSheetWriter(std::unique_ptr<TCvSheetWriter> writer) { FSheetWriter = std::move(writer); }
    TCvSheetWriter* SheetWriter() const { return FSheetWriter.get(); }
    TCvSeries* Series() const;
    // Plot hook: received ASCII text also goes to this sink (held weakly; none by default).
    void SetLineSink(TCvLineSink* sink);
    TCvLineSink* LineSink() const;
    // While set, every received byte goes to it and nowhere else (held weakly; none by
    // default). Sends from the log view's prompt wait for its end.
    void SetReceiveDiversion(TCvReceiveDiversion* diversion);
    TCvReceiveDiversion* ReceiveDiversion() const;
    QFile* FileStream() const { return FFileStream.get(); }
    void SetFileStream(std::unique_ptr<QFile> f);
    void CloseFileStream();
    // Who sees every read (the answer rules, running scripts): held, not owned; an observer
    // goes before it is deleted. Called in the order they came.
    void AddReceiveObserver(TCvReceiveObserver* observer);
    void RemoveReceiveObserver(TCvReceiveObserver* observer);
    // The port's answer rules, kept in its settings file.
    TCvAnswerRules& AnswerRules() const { return *FAnswerRules; }
    // The bytes that wait for a worker (copy, for tests and diagnostics).
    QByteArray InternalBufferCopy() const;
    // What the hand-over holds now: received bytes and the text store, with its index.
    qint64 HandOverBytes() const;
    // The hand-over's limit (kHandOverLimit unless set; tests set a small one).
    qint64 HandOverLimit() const { return FHandOverLimit; }
    void SetHandOverLimit(qint64 bytes) { FHandOverLimit = std::max<qint64>(bytes, 4096); }
    // How often the port was held back because the hand-over was full.
    qint64 HoldCount() const { return FHoldCount; }
    // What the receive observers have taken and not yet used; beyond this the port is held.
    qint64 ObserversWaiting() const;
    static constexpr qint64 kObserverHoldBytes = qint64(1) << 20;
    const TCvConsoleOptions& ConsoleOptions() const { return FConsoleOptions; }
    void SetConsoleOptions(const TCvConsoleOptions& o) { FConsoleOptions = o; }

signals:
    // A line for the log while the view is in no window: the window tells it in a message box.
    void NoViewMessage(const QString& caption, const QString& text);

protected:
    void DoDeviceLost(int sysError) override;
    void DoBytesWritten(qint64 count) override;
    void DoClosed() override;
    void DoLinkMessage(const QString& text) override;
    void StoreMoreSettings(TIniFile& ini) override;
    void LoadMoreSettings(const TIniFile& ini) override;
    void DoNotice(const QString& text) override;

private:
    // The parser worker's host.
    qint64 CopyReceived(qint64 from, std::vector<std::uint8_t>& out, quint64* epoch) override;
    bool ConsumeReceived(qint64 count, quint64 epoch) override;
    void ClearReceived() override;
    void ParserFailed(const QString& what) override;

    // The display worker's host.
    TDisplaySettings DisplaySettings() const override;
    TTextEncoding DisplayEncoding() const override { return TextEncoding(); }
    bool ReceiveInProgress() const override { return FComHandleThread_Wait.load(); }
    bool WaitForUiQueue(std::size_t maxOps, std::size_t maxBytes, int timeoutMs) override;
    void WakeUiQueueWaiters() override { FUiSpace.notify_all(); }
    void EnqueueUi(TUiOp&& op) override { Enqueue(std::move(op)); }
    void EnqueueUi(std::vector<TUiOp>& ops) override { Enqueue(ops); }
    void AddProcessed(qint64 count) override { FComProcessedCount += count; }
    void ClearReceivedLocked(int id) override { ClearInternalBuffLocked(id); }
    const TLogModel& TextStoreLocked() const override { return *FStringInternalMemo; }
    const std::vector<TLineStamp>& LineStampsLocked() const override { return FLineStamps; }
    const QByteArray& ReceivedBytesLocked() const override { return FComReceiveInternalBuffer; }
    const std::vector<TChunkStamp>& ChunkStampsLocked() const override { return FChunkStamps; }

    void ApplyLog(const QString& Msg, bool fromWorker, qint64 atMs = 0);
    // The program's lines that waited for the display worker's backlog: shown once it is
    // shown, or once they have waited a second (or at once with force).
    void ApplyDeferredLogs(bool force);
    void ApplyOp(const TUiOp& op);
    // A worker's lines, in one change of the view.
    void ApplyLines(const TUiOp& op);
    void Enqueue(TUiOp&& op);
    void Enqueue(std::vector<TUiOp>& ops);
    void ScheduleDrain();
    void DrainUiQueue();
    // Applies queued changes in order; with a budget (ms) stops when it is spent and says
    // whether some are left.
    bool ApplyQueued(qint64 budgetMs);
    void EndBatch();
    void Notify(int count);
    bool Prefixed() const { return FShowLineNumber || FShowDate || FShowTime; }

    // The receive event, one helper per receive format.
    void ReceiveText(int count);
    void ReceiveBytes(int count, int format);
    void ReceiveFile(int count);
    // Reads into the staging array and counts what was read as received.
    int ReadReceived(int count);
    void ReadAsText(int count);
    // The escape filter over FComReceiveString, by the port's choice.
    void FilterEscapes();
    // Received text on its way to the view: at once or through the display worker.
    void ShowReceived(const QString& s, const TCvStyleRuns& runs);
    // Received text appended to the view now, on the GUI thread (with prefixes when asked).
    void ShowTextNow(const QString& s, const TCvStyleRuns& runs, bool prefixed);
    // Received text handed to the display worker through the text store; returns the
    // store's line count.
    qint64 StoreText(const QString& s, const TCvStyleRuns& runs);
    // A sequence the filter still holds is shown (the stream ended), and it starts afresh.
    void FlushEscapes();
    // The hand-over is full: read nothing more until the workers have taken most of it.
    void HoldReceive();
    void CheckHold();
    // Received text goes on the view's last line only when that line is received text or
    // the empty line made for it; otherwise it opens a line. Returns the index of the
    // first line it opened (lines from there need their prefix).
    qint64 AppendRxText(TLogModel& view, const QString& s, const TCvStyleRuns& runs);
    bool RxMayContinue(const TLogModel& view) const;
    // After received text was shown: the view's last line is its own.
    void NoteRxWrote();
    void TellInvalidText();
    bool SendText(const QString& str, int SendFormat, int kind, TSendEnding ending);
    void ReportWriteFailure(const QByteArray& bytes, qint64 written, int error, bool echo);
    void SendAckFragment();
    void CheckAck();
    void EndAckTransfer(bool ok);
    bool SendProtocolText(const QString& str);
    // Hex text read strictly into the send buffer; a refused text is told in the log and
    // the result is false.
    bool HexTextToSend(const QString& str, quint8* buffer, int* n, int* dropped);
    bool OnGuiThread() const;

    // Where the log goes when no view is attached.
    std::unique_ptr<TPlainLogView> FOwnLogView;
    TLogView* FLogView = nullptr;
    std::unique_ptr<TLogModel> FStringInternalMemo;
    std::vector<quint8> FComReceiveBuffer;
    QByteArray FComReceiveInternalBuffer;
    QPointer<TCvSeries> FFastLineSeries;
    QPointer<TCvLineSink> FLineSink;
    QPointer<TCvReceiveDiversion> FReceiveDiversion;
    std::unique_ptr<TCvComProtocal> FCvComProtocal;
    std::unique_ptr<TComUIHandleThread> FComUIHandleThread;
    std::unique_ptr<TComPackParserHandleThread> FComPackParserThread;
    std::unique_ptr<QFile> FFileStream;
    std::unique_ptr<TCvSheetWriter> FSheetWriter;
    // When each chunk of the byte buffer was read from the device (hex format with gap
    // lines only). Under ReceiveLock.
    std::vector<TChunkStamp> FChunkStamps;
    // How often the byte buffer was emptied; the parser drops what it parsed only from the
    // buffer it read. Under ReceiveLock.
    quint64 FReceiveEpoch = 0;
    // When the text store's lines were begun (ASCII with prefixes). Under ReceiveLock.
    std::vector<TLineStamp> FLineStamps;
    int FProtocolAckTimeoutMs = kProtocolAckTimeoutMs;
    // The protocol transfer that waits for acknowledgements (one at a time).
    struct TAckTransfer {
        std::vector<QByteArray> Packets;
        std::vector<TCvComPack2> Headers;
        std::vector<QString> Echo;
        std::size_t Next = 0;
        bool Waiting = false;
        TCvPackMark Since;
        TProtocolDone Done;
    };
    std::unique_ptr<TAckTransfer> FAckTransfer;
    QTimer* FAckTimer = nullptr;
    bool FCaptureErrorReported = false;
    // Line breaks of the text shown and of the text capture, each a stream of its own.
    TLineBreakFilter FRxBreaks;
    TLineBreakFilter FCaptureBreaks;
    // Escape sequences of the text shown, a stream of its own as well.
    TCvAnsiFilter FRxFilter;
    TCvStyledText FRxStyled;
    // Whether received text may continue the view's last line, valid while the view is
    // at FRxRevision (another writer, e.g. the main log, changes it).
    bool FRxMayContinue = true;
    quint64 FRxRevision = 0;
    qint64 FInvalidTold = 0;
    QString FLogSaveError;

    // Worker changes for the GUI thread, in the order they were made.
    std::mutex FUiMutex;
    std::condition_variable FUiSpace;
    std::vector<TUiOp> FUiQueue;
    bool FDrainPosted = false;
    // Taken from the queue, being applied on the GUI thread (GUI thread only).
    std::vector<TUiOp> FApplying;
    std::size_t FApplyPos = 0;
    bool FScrollAfterBatch = false;
    bool FDraining = false;
    // What the queue's changes hold (under FUiMutex).
    std::size_t FUiQueueBytes = 0;
    // The prefixed lines of one change being built (GUI thread).
    QByteArray FLinesScratch;
    std::vector<std::uint32_t> FLinesScratchEnds;
    TCvStyleRuns FLinesScratchRuns;
    // Looks whether a held port may read again (GUI thread; a Qt child).
    QTimer* FHoldTimer = nullptr;
    qint64 FHandOverLimit = kHandOverLimit;
    struct TDeferredLog {
        QString Text;
        qint64 AtMs;     // when it was logged, for its time prefix
        qint64 SteadyMs; // the same on the steady clock, for how long it waited
    };
    std::vector<TDeferredLog> FDeferredLogs;
    QTimer* FDeferTimer = nullptr;
    qint64 FHoldCount = 0;
    // What was just read, to those who watch (GUI thread).
    void TellObservers(const QByteArray& bytes, const QString* text);
    std::vector<TCvReceiveObserver*> FReceiveObservers;
    TCvConsoleOptions FConsoleOptions;
    // After the observers: it leaves the list before the list goes.
    std::unique_ptr<TCvAnswerRules> FAnswerRules;
};
