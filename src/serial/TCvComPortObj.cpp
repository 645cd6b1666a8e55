#include "TCvComPortObj.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "CvProtocol.h"
#include "SafeSave.h"
#include "TComUIHandleThread.h"
#include "TCvAnswerRules.h"
#include "TCvLineSink.h"
#include "TCvReceiveDiversion.h"
#include "TCvSeries.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <utility>

namespace {

// Runs moved behind a prefix of `by` characters.
TCvStyleRuns Shifted(const TCvStyleRuns& runs, qsizetype by)
{
    TCvStyleRuns out = runs;
    for (TCvStyleRun& r : out) r.Start += quint32(by);
    return out;
}

} // namespace

std::mutex& ReceiveLock()
{
    static std::mutex lock;
    return lock;
}

qint64 SteadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TCvComPortObj::TCvComPortObj(QObject* AOwner, const QString& DeviceName) : TComPort(nullptr)
{
    Q_UNUSED(AOwner);
    FComportFullName = TrimControl(DeviceName);
    SetPort(ExtractPortName(DeviceName));
    FOwnLogView = std::make_unique<TPlainLogView>();
    FLogView = FOwnLogView.get();
    FStringInternalMemo = std::make_unique<TLogModel>();
    SetInputSize(kQueueSize);
    SetOutputSize(kQueueSize);
    FComReceiveBuffer.assign(kReceiveBufferSize, 0);
    FHoldTimer = new QTimer(this);
    FHoldTimer->setInterval(10);
    connect(FHoldTimer, &QTimer::timeout, this, [this] { CheckHold(); });
    FDeferTimer = new QTimer(this);
    FDeferTimer->setInterval(10);
    connect(FDeferTimer, &QTimer::timeout, this, [this] { ApplyDeferredLogs(false); });
    FComUIHandleThread = std::make_unique<TComUIHandleThread>(static_cast<TComUIHandleHost*>(this));
    FCvComProtocal = std::make_unique<TCvComProtocal>();
    FComPackParserThread = std::make_unique<TComPackParserHandleThread>(static_cast<TPackParserHost*>(this),
                                                                        FCvComProtocal.get());
    FComReceiveCount = 0;
    FComProcessedCount = 0;
    FComSentCount = 0;
    FBackGroundProcessRecordCount = 50;
    ClearInternalBuff(100);
    FHexModeWithString = true;
    FHexModeFormatCount = 16;
    FComReceiveInternalBuffer.clear();
    FullLogFileName.clear();
    FProtocalData = 1;
    FExcelAppRows = 0;
    FAnswerRules = std::make_unique<TCvAnswerRules>(this);
    AddReceiveObserver(FAnswerRules.get());
}

TCvComPortObj::~TCvComPortObj()
{
    // A transfer holding the line ends while the port object is still whole.
    if (TCvReceiveDiversion* d = FReceiveDiversion.data()) {
        FReceiveDiversion.clear();
        d->PortClosed();
    }
    // Completions would log into what is being taken apart.
    DiscardWrites();
    FAckTransfer.reset();
    // The workers read the store and the view: they end first.
    FComUIHandleThread->Terminate();
    FComPackParserThread->Terminate();
    FComUIHandleThread.reset();
    FComPackParserThread.reset();
    // An attached view may be taken apart before the port object.
    FLogView = FOwnLogView.get();
    CloseFileStream();
    FCvComProtocal.reset();
    Close();
}

bool TCvComPortObj::OnGuiThread() const
{
    return QThread::currentThread() == thread();
}

void TCvComPortObj::CvComPortObjInit2(const QString& a, const QString& b, int c, int d, int e, int f, int g,
                                      int h, int i, TLogView* j, bool k, bool l, bool m, bool N, bool o)
{
    SetOnRxChar([this](TCustomComPort* sender, int count) { ComRxChar(sender, count); });
    FCvComProtocal->SetCallBackFun([this](const TCvComPack2& head) { ProtocolPackReceived(head); });
    if (!a.isEmpty()) FComportFullName = a;
    if (!b.isEmpty()) SetPort(b);
    SetBaudRate(c);
    SetDataBits(d);
    SetStopBits(e);
    SetParityBits(f);
    SetFlowControl(g);
    FSendFormat = h;
    if (i != FReceiveFormat.load()) {
        const bool wasSuspended = FComUIHandleThread->Suspended();
        if (!wasSuspended) {
            FComUIHandleThread->Suspend();
            FComUIHandleThread->RequestReset(FReceiveFormat.load());
        } else {
            ClearInternalBuff(100);
        }
        FComPackParserThread->StopReSetClear();
        if (FReceiveFormat.load() == rfFile && FFileStream) {
            CloseFileStream();
            FFileStreamName.clear();
        }
        FReceiveFormat = i;
        // Text read from here on is a stream of its own.
        SetTextEncoding(TextEncoding());
        FRxBreaks.Reset();
        FCaptureBreaks.Reset();
        FRxFilter.Reset();
        if (!wasSuspended) FComUIHandleThread->Resume();
    }
    if (j) FLogView = j;
    FShowDate = k;
    FShowTime = l;
    FShowLineNumber = m;
    FShowSendedLog = N;
    FHexModeWithString = o;
    FLogView->SetOnKeyDown([this](const TLogKey& key) { return LogMemoKeyDown(key); });
    FLogView->SetOnKeyPress([this](const TLogKey& key) { return LogMemoKeyPress(key); });
}

void TCvComPortObj::SetLogView(TLogView* view)
{
    FLogView = view ? view : FOwnLogView.get();
    FLogView->SetOnKeyDown([this](const TLogKey& key) { return LogMemoKeyDown(key); });
    FLogView->SetOnKeyPress([this](const TLogKey& key) { return LogMemoKeyPress(key); });
}

void TCvComPortObj::CvComPortObjInit(const TCvComPortObjPara& p)
{
    SetOnRxChar([this](TCustomComPort* sender, int count) { ComRxChar(sender, count); });
    FComportFullName = p.ComportFullName;
    FReceiveFormat = p.ReceiveFormat;
    FSendFormat = p.SendFormat;
    if (p.LogView) FLogView = p.LogView;
    FShowDate = p.ShowDate;
    FShowTime = p.ShowTime;
    FShowLineNumber = p.ShowLineNumber;
    FShowSendedLog = p.ShowSendedLog;
    FHexModeWithString = p.HexModeWithString;
    SetPort(p.Port);
    SetBaudRate(p.BaudRate);
    SetDataBits(p.DataBits);
    SetStopBits(p.StopBits);
    SetParityBits(p.ParityBits);
    SetFlowControl(p.FlowControl);
}

TCvComPortObjPara TCvComPortObj::GetConfiguration() const
{
    TCvComPortObjPara p;
    p.ComportFullName = FComportFullName;
    p.Port = Port();
    p.BaudRate = BaudRate();
    p.DataBits = DataBits();
    p.StopBits = StopBits();
    p.ParityBits = Parity().FBits;
    p.FlowControl = GetFlowControl();
    p.ReceiveFormat = FReceiveFormat.load();
    p.SendFormat = FSendFormat;
    p.LogView = FLogView;
    p.ShowDate = FShowDate;
    p.ShowTime = FShowTime;
    p.ShowLineNumber = FShowLineNumber;
    p.ShowSendedLog = FShowSendedLog;
    p.HexModeWithString = FHexModeWithString.load();
    return p;
}

void TCvComPortObj::ClearInternalBuff(int id)
{
    std::lock_guard lk(ReceiveLock());
    ClearInternalBuffLocked(id);
}

void TCvComPortObj::ClearInternalBuffLocked(int id)
{
    // 0: the text store, 1: the byte buffer, anything else: both.
    if (id != 1) {
        FStringInternalMemo->Clear();
        FLineStamps.clear();
    }
    if (id != 0) {
        // Its room is kept (it never grows beyond the hand-over's limit): a flood that fills
        // it again does not copy it over and over as it grows.
        FComReceiveInternalBuffer.resize(0);
        FChunkStamps.clear();
        ++FReceiveEpoch;
    }
    FComUIHandleThread->BuffersClearedLocked();
}

QString TCvComPortObj::LinePrefix(qint64 LineIndex) const
{
    QString s = FShowLineNumber ? GetLineNumberText(LineIndex) : QString();
    if (FShowDate && FShowTime) s += GetTimeText(2, FShowMilliseconds);
    else if (FShowDate) s += GetTimeText(0);
    else if (FShowTime) s += GetTimeText(1, FShowMilliseconds);
    return s;
}

QString TCvComPortObj::LinePrefixAt(qint64 LineIndex, qint64 AtMs) const
{
    if (AtMs <= 0) return LinePrefix(LineIndex);
    QString s = FShowLineNumber ? GetLineNumberText(LineIndex) : QString();
    if (FShowDate && FShowTime) s += GetTimeTextAt(2, AtMs, FShowMilliseconds);
    else if (FShowDate) s += GetTimeTextAt(0, AtMs, false);
    else if (FShowTime) s += GetTimeTextAt(1, AtMs, FShowMilliseconds);
    return s;
}

QString TCvComPortObj::LinePrefix(qint64 LineIndex, const QDateTime& At) const
{
    QString s = FShowLineNumber ? GetLineNumberText(LineIndex) : QString();
    if (FShowDate && FShowTime) s += GetTimeText(2, At, FShowMilliseconds);
    else if (FShowDate) s += GetTimeText(0, At, false);
    else if (FShowTime) s += GetTimeText(1, At, FShowMilliseconds);
    return s;
}

void TCvComPortObj::Notify(int count)
{
    if (FCallBackFun) FCallBackFun(count);
}

void TCvComPortObj::Log(const QString& Msg)
{
    if (!OnGuiThread()) {
        Enqueue({TUiOp::LogMsg, 0, Msg});
        return;
    }
    // A line of the program comes after what was received before it: while the display
    // worker still shows a backlog, the line waits for it (a second at most).
    if (!FDeferredLogs.empty() || !FComUIHandleThread->Suspended()) {
        FDeferredLogs.push_back({Msg, QDateTime::currentMSecsSinceEpoch(), SteadyMs()});
        if (!FDeferTimer->isActive()) FDeferTimer->start();
        return;
    }
    FlushUiQueue();
    ApplyLog(Msg, false);
}

void TCvComPortObj::ApplyDeferredLogs(bool force)
{
    if (FDeferredLogs.empty()) return;
    if (!force && !FComUIHandleThread->Suspended() && SteadyMs() - FDeferredLogs.front().SteadyMs < 1000)
        return;
    FDeferTimer->stop();
    ApplyQueued(-1);
    const std::vector<TDeferredLog> lines = std::exchange(FDeferredLogs, {});
    for (const TDeferredLog& l : lines) ApplyLog(l.Text, false, l.AtMs);
}

void TCvComPortObj::ApplyLog(const QString& Msg, bool fromWorker, qint64 atMs)
{
    if (!FLogView->InWindow()) {
        // A worker's lines are not turned into a flood of message boxes.
        if (!fromWorker) emit NoViewMessage(FComportFullName, FComportFullName + QStringLiteral(", ") + Msg);
        return;
    }
    TLogModel& view = FLogView->Model();
    const qint64 first = view.LineCount();
    const bool prefixed = Prefixed();
    const auto prefix = [&](qint64 line) { return LinePrefixAt(line, atMs); };
    if (!prefixed) {
        view.Add(Msg);
    } else if (!Msg.isEmpty() && !Msg.contains(QLatin1String("\r\n"))) {
        // One line: the prefix goes on before it is added (the same text, one change less).
        view.Add(prefix(first) + Msg);
    } else {
        view.Add(Msg);
        const qint64 count = view.LineCount();
        for (qint64 i = first; i < count; ++i) view.ReplaceLine(i, prefix(i) + view.Line(i));
    }
    // A line ended by the message (or the empty line written for them) takes received text.
    FRxMayContinue = Msg.isEmpty() || Msg.endsWith(QLatin1String("\r\n"));
    FRxRevision = view.Revision();
    // Changes applied in a batch scroll once, at its end.
    if (FDraining) FScrollAfterBatch = true;
    else FLogView->ScrollToEnd();
    Notify(0);
}

void TCvComPortObj::LogBuff(const QString& flag, const quint8* Buff, int Len)
{
    Log(BuffText(flag, Buff, Len));
}

QString TCvComPortObj::BuffText(const QString& flag, const quint8* Buff, int Len)
{
    return flag + HexText(Buff, qMax(Len, 0));
}

void TCvComPortObj::ClearLog()
{
    if (!FLogView->IsShown()) return;
    FlushUiQueue();
    FLogView->Model().Clear();
    // The colours of the cleared text are not carried into the next.
    FRxFilter.Reset();
    FComProcessedCount = 0;
    FComReceiveCount = 0;
    FComSentCount = 0;
    FComPackParserThread->StopReSetClear();
    Notify(0);
}

bool TCvComPortObj::SaveLog(const QString& FullLogFilePath)
{
    QString path = FullLogFilePath;
    if (path.isEmpty()) path = FullLogFileName;
    if (path.isEmpty()) return true;
    FlushUiQueue();
    FullLogFileName = path;
    // Streamed from the model (part of it may be on disk); a failed write never leaves half a log.
    const TLogModel& model = FLogView->Model();
    const auto write = [&model](QIODevice& out) {
        return model.WriteTo(out) &&
               (model.EndsWithCrlf() || model.TextBytes() == 0 || out.write("\r\n", 2) == 2);
    };
    QString why;
    if (SaveFileWhole(path, write, &why)) {
        FLogSaveError.clear();
        return true;
    }
    const bool told = !FLogSaveError.isEmpty();
    FLogSaveError = Msg(QStringLiteral("Can not save log file %1: %2")).arg(path, why);
    // The auto-save runs every few seconds: one line until a save works again.
    if (!told) Log(FLogSaveError);
    return false;
}

void TCvComPortObj::SetSeries(TCvSeries* series)
{
    if (FFastLineSeries) disconnect(FFastLineSeries, &TCvSeries::StartedDropping, this, nullptr);
    FFastLineSeries = series;
    if (!series) return;
    connect(series, &TCvSeries::StartedDropping, this, [this](qint64 maxPoints, qint64 firstX) {
        Log(Msg(QStringLiteral("The chart keeps the last %1 points: older ones are dropped from now on "
                               "(the oldest kept is X %2)."))
                .arg(maxPoints)
                .arg(firstX));
    });
}

TCvSeries* TCvComPortObj::Series() const
{
    return FFastLineSeries.data();
}

void TCvComPortObj::SetLineSink(TCvLineSink* sink)
{
    FLineSink = sink;
}

TCvLineSink* TCvComPortObj::LineSink() const
{
    return FLineSink.data();
}

void TCvComPortObj::SetReceiveDiversion(TCvReceiveDiversion* diversion)
{
    FReceiveDiversion = diversion;
}

TCvReceiveDiversion* TCvComPortObj::ReceiveDiversion() const
{
    return FReceiveDiversion.data();
}

void TCvComPortObj::SetFileStream(std::unique_ptr<QFile> f)
{
    CloseFileStream();
    FFileStream = std::move(f);
    FCaptureErrorReported = false;
}

void TCvComPortObj::CloseFileStream()
{
    if (FFileStream) FFileStream->close();
    FFileStream.reset();
}

QByteArray TCvComPortObj::InternalBufferCopy() const
{
    std::lock_guard lk(ReceiveLock());
    return FComReceiveInternalBuffer;
}

qint64 TCvComPortObj::HandOverBytes() const
{
    std::lock_guard lk(ReceiveLock());
    // The store's index costs about 8 bytes a line on top of its text.
    return FComReceiveInternalBuffer.size() + FStringInternalMemo->TextBytes() +
           8 * FStringInternalMemo->LineCount();
}

void TCvComPortObj::HoldReceive()
{
    if (!ReceiveHeld()) ++FHoldCount;
    SetReceiveHeld(true);
    if (!FHoldTimer->isActive()) FHoldTimer->start();
}

void TCvComPortObj::CheckHold()
{
    if (!ReceiveHeld() || !Connected()) {
        FHoldTimer->stop();
        return;
    }
    // Read again once the workers have taken most of what waits, not at the first byte they take.
    if (HandOverBytes() > FHandOverLimit / 4 || ObserversWaiting() > kObserverHoldBytes / 4) return;
    FHoldTimer->stop();
    SetReceiveHeld(false);
}

void TCvComPortObj::DoDeviceLost(int sysError)
{
    Q_UNUSED(sysError);
    // A connection that dropped has told why already; nothing was unplugged.
    Log(Msg(IsNetwork() ? QStringLiteral("Device %1 was closed.") : QStringLiteral("Device %1 was removed."))
            .arg(FComportFullName));
}

void TCvComPortObj::DoLinkMessage(const QString& text)
{
    Log(text);
}

void TCvComPortObj::DoNotice(const QString& text)
{
    Log(text);
}

// ---- receive ----

int TCvComPortObj::ReadReceived(int count)
{
    const int got = Read(FComReceiveBuffer.data(), count);
    FComReceiveCount += got;
    if (got > 0 && !FReceiveObservers.empty())
        TellObservers(QByteArray(reinterpret_cast<const char*>(FComReceiveBuffer.data()), got), nullptr);
    return got;
}

void TCvComPortObj::ReadAsText(int count)
{
    int got = 0;
    QByteArray raw;
    ReadUnicodeString(FComReceiveString, count, &got, FReceiveObservers.empty() ? nullptr : &raw);
    FComReceiveCount += got;
    if (FRxBreaks.Mode() != LineBreaks()) FRxBreaks.SetMode(LineBreaks());
    FComReceiveString = FRxBreaks.Apply(FComReceiveString);
    // The observers see the text as decoded, escapes and all (as they do in every format).
    if (!raw.isEmpty()) TellObservers(raw, &FComReceiveString);
    FilterEscapes();
}

void TCvComPortObj::FilterEscapes()
{
    FComReceiveRuns.clear();
    const bool modeChanged = FRxFilter.Mode() != AnsiMode();
    // Text without an escape, while no colour is on and nothing is held, goes as it came.
    if (!modeChanged && FRxFilter.Held() == 0 && FRxFilter.Style().IsPlain() &&
        !FComReceiveString.contains(QChar(0x1B)))
        return;
    FRxStyled.Clear();
    // A sequence held under the old choice is shown first.
    if (modeChanged) FRxFilter.SetMode(AnsiMode(), &FRxStyled);
    FRxFilter.Feed(FComReceiveString, FRxStyled);
    FComReceiveString.swap(FRxStyled.Text);
    FComReceiveRuns.swap(FRxStyled.Runs);
}

void TCvComPortObj::FlushEscapes()
{
    if (FRxFilter.Held() > 0 && FReceiveFormat.load() == rfAscii && FComUIHandleThread) {
        TCvStyledText held;
        FRxFilter.Flush(held);
        ShowReceived(held.Text, held.Runs);
    }
    FRxFilter.Reset();
}

void TCvComPortObj::TellInvalidText()
{
    const qint64 invalid = InvalidTextCount();
    // Told at the first, then at each doubling: the count is seen without a flood of lines.
    if (invalid == 0 || invalid < 2 * FInvalidTold) return;
    FInvalidTold = invalid;
    Log(Msg(QStringLiteral("Received bytes that are not valid %1 text are shown as \uFFFD (%2 so far)."))
            .arg(TextEncodingCaption(TextEncoding()))
            .arg(invalid));
}

bool TCvComPortObj::RxMayContinue(const TLogModel& view) const
{
    return view.IsEmpty() || (FRxMayContinue && view.Revision() == FRxRevision);
}

void TCvComPortObj::NoteRxWrote()
{
    FRxMayContinue = true;
    FRxRevision = FLogView->Model().Revision();
}

qint64 TCvComPortObj::AppendRxText(TLogModel& view, const QString& s, const TCvStyleRuns& runs)
{
    if (s.isEmpty()) return view.LineCount();
    if (view.IsEmpty()) {
        // Appending to an empty view would leave its CR LF open for the next text to continue.
        view.Add(s, runs);
        return 0;
    }
    if (!RxMayContinue(view)) {
        view.Add(QString());
        const qint64 first = view.LineCount() - 1;
        view.AppendToLastLine(s, runs);
        return first;
    }
    // A CR LF split between two reads joins up in the view: it ends the line once.
    const qint64 first = view.LineCount();
    view.AppendToLastLine(s, runs);
    return first;
}

void TCvComPortObj::ComRxChar(TCustomComPort*, int Count)
{
    FLogView->SetReadOnly(true);
    // A file transfer holds the line: its bytes go to it alone, never to the view, a capture
    // or the plot, and it reads no further than the packet that may end it.
    if (FReceiveDiversion) {
        QByteArray bytes(qBound(1, FReceiveDiversion->ReceiveLimit(), qMax(Count, 1)), Qt::Uninitialized);
        bytes.resize(qMax(0, Read(bytes.data(), int(bytes.size()))));
        FComReceiveCount += bytes.size();
        FReceiveDiversion->BytesReceived(bytes);
        return;
    }
    const int format = FReceiveFormat.load();
    // The workers have not taken what waits: nothing more is read, and the sender waits.
    // Nor while an observer (the console) still has much to interpret.
    if ((format != rfFile && HandOverBytes() >= FHandOverLimit) ||
        (!FReceiveObservers.empty() && ObserversWaiting() >= kObserverHoldBytes)) {
        HoldReceive();
        return;
    }
    // One event never reads more than the staging array holds, nor more than a small part
    // of a frame's work; the rest raises the next event.
    const int c = qBound(0, Count, std::min(kReadPerEvent, kReceiveBufferSize));
    switch (format) {
    case rfAscii: ReceiveText(c); break;
    case rfHex:
    case rfGraphic:
    case rfProtocol: ReceiveBytes(c, format); break;
    case rfFile: ReceiveFile(c); break;
    default: ReadReceived(c); break;
    }
    FLogView->ScrollToEnd();
}

void TCvComPortObj::ReceiveText(int c)
{
    ReadAsText(c);
    ShowReceived(FComReceiveString, FComReceiveRuns);
    TellInvalidText();
}

void TCvComPortObj::ShowReceived(const QString& s, const TCvStyleRuns& runs)
{
    if (FLineSink && !s.isEmpty()) FLineSink->TextReceived(s, SteadyMs());
    // Without prefixes, and while the worker sleeps with little text, the text is shown at
    // once; prefixed text in bursts goes through the worker.
    if (!Prefixed()) {
        ShowTextNow(s, runs, false);
    } else if (StoreText(s, runs) >= FBackGroundProcessRecordCount) {
        FComUIHandleThread->Resume();
    } else if (FComUIHandleThread->Suspended()) {
        ClearInternalBuff(100);
        ShowTextNow(s, runs, true);
    }
}

void TCvComPortObj::ShowTextNow(const QString& s, const TCvStyleRuns& runs, bool prefixed)
{
    FlushUiQueue();
    TLogModel& view = FLogView->Model();
    const qint64 first = AppendRxText(view, s, runs);
    // The prefix goes before the line; its colours move along.
    if (prefixed)
        for (qint64 n = first; n < view.LineCount(); ++n) view.PrefixLine(n, LinePrefix(n));
    NoteRxWrote();
    FComProcessedCount += s.size();
    Notify(0);
}

qint64 TCvComPortObj::StoreText(const QString& s, const TCvStyleRuns& runs)
{
    FComHandleThread_Wait = true;
    std::lock_guard lk(ReceiveLock());
    TLogModel& store = *FStringInternalMemo;
    // The first line this text begins: its prefix tells when it was read. A text that
    // ended its line left an empty last line (marked with no time) for the next one.
    if (!s.isEmpty()) {
        const qint64 before = store.LineCount();
        const bool openLine = !FLineStamps.empty() && FLineStamps.back().WallMs < 0;
        const qint64 begun = store.IsEmpty() ? 0 : openLine ? before - 1 : before;
        if (openLine) FLineStamps.pop_back();
        if (FLineStamps.empty() || FLineStamps.back().Line < begun)
            FLineStamps.push_back({begun, QDateTime::currentMSecsSinceEpoch()});
    }
    // An empty store takes the text as its first line (see AppendRxText).
    if (store.IsEmpty()) {
        if (!s.isEmpty()) store.Add(s, runs);
    } else {
        store.AppendToLastLine(s, runs);
    }
    const qint64 lines = store.LineCount();
    if (s.endsWith(QLatin1String("\r\n"))) FLineStamps.push_back({lines - 1, -1});
    FComHandleThread_Wait = false;
    return lines;
}

void TCvComPortObj::ReceiveBytes(int c, int format)
{
    FComHandleThread_Wait = true;
    const int got = ReadReceived(c);
    if (format == rfProtocol) FComProcessedCount += got;
    if (got > 0) {
        std::lock_guard lk(ReceiveLock());
        if (FComReceiveInternalBuffer.isEmpty()) ClearInternalBuffLocked(100);
        // A flood fills it up to the limit: room for all of it at once, instead of copying it
        // each time it doubles.
        if (FComReceiveInternalBuffer.capacity() < FComReceiveInternalBuffer.size() + got &&
            FComReceiveInternalBuffer.size() + got > (qint64(1) << 20))
            FComReceiveInternalBuffer.reserve(FHandOverLimit + kReadPerEvent);
        // Stamped as read, not when the worker gets to it: a backlog must not merge frames.
        if (format == rfHex)
            FChunkStamps.push_back(
                {FComReceiveInternalBuffer.size(), SteadyMs(), QDateTime::currentMSecsSinceEpoch()});
        FComReceiveInternalBuffer.append(reinterpret_cast<const char*>(FComReceiveBuffer.data()), got);
    }
    FComHandleThread_Wait = false;
    if (format == rfProtocol) FComPackParserThread->Resume();
    else FComUIHandleThread->Resume();
}

void TCvComPortObj::ReceiveFile(int c)
{
    const int got = ReadReceived(c);
    const QByteArrayView raw(reinterpret_cast<const char*>(FComReceiveBuffer.data()), got);
    const QString lower = FFileStreamName.toLower();
    if (lower.endsWith(QLatin1String(".txt")) || lower.endsWith(QLatin1String(".log"))) {
        // The received bytes themselves: text in the port's encoding, nothing decoded and
        // written back (which would change every byte it cannot read).
        if (FCaptureBreaks.Mode() != LineBreaks()) FCaptureBreaks.SetMode(LineBreaks());
        // CR LF only: every receive event ends a line, as it always did.
        const QByteArray bytes =
            LineBreaks() == TLineBreaks::CrLfOnly ? raw.toByteArray() + "\r\n" : FCaptureBreaks.Apply(raw);
        QFile f(FFileStreamName);
        // Unbuffered, so a full disk fails this write instead of the close nobody checks.
        if (!f.open(QIODevice::Append | QIODevice::Unbuffered) || f.write(bytes) != bytes.size()) {
            if (!FCaptureErrorReported) {
                Log(Msg(QStringLiteral("Can not write file %1: %2")).arg(FFileStreamName, f.errorString()));
                FCaptureErrorReported = true;
            }
        }
        FComProcessedCount += got;
        Notify(0);
        return;
    }
    if (lower.endsWith(QLatin1String(".xls")) || lower.endsWith(QLatin1String(".xlsx"))) {
        if (FSheetWriter)
            FExcelAppRows = FSheetWriter->WriteBytes(FComReceiveBuffer.data(), got, FExcelAppRows);
        return;
    }
    if (!FFileStream) return;
    const qint64 written = FFileStream->write(raw.data(), got);
    if (written != got && !FCaptureErrorReported) {
        Log(Msg(QStringLiteral("Can not write file %1: %2"))
                .arg(FFileStreamName, FFileStream->errorString()));
        FCaptureErrorReported = true;
    }
    if (written > 0) FComProcessedCount += written;
    Notify(0);
}

// ---- the parser worker's view of the receive buffer ----

qint64 TCvComPortObj::CopyReceived(qint64 from, std::vector<std::uint8_t>& out, quint64* epoch)
{
    std::lock_guard lk(ReceiveLock());
    if (epoch) *epoch = FReceiveEpoch;
    const qint64 len = FComReceiveInternalBuffer.size();
    out.clear();
    if (from < len)
        out.assign(reinterpret_cast<const std::uint8_t*>(FComReceiveInternalBuffer.constData()) + from,
                   reinterpret_cast<const std::uint8_t*>(FComReceiveInternalBuffer.constData()) + len);
    return len;
}

bool TCvComPortObj::ConsumeReceived(qint64 count, quint64 epoch)
{
    std::lock_guard lk(ReceiveLock());
    if (epoch != FReceiveEpoch) return false;
    if (count > 0) FComReceiveInternalBuffer.remove(0, qMin<qint64>(count, FComReceiveInternalBuffer.size()));
    return true;
}

void TCvComPortObj::ClearReceived()
{
    ClearInternalBuff(100);
}

void TCvComPortObj::ParserFailed(const QString& what)
{
    // From the parser's thread: Log queues it for the GUI thread.
    Log(Msg(QStringLiteral("Received packets: the packet parser failed: %1")).arg(what));
}

// ---- changes made by workers, applied on the GUI thread in order ----

TDisplaySettings TCvComPortObj::DisplaySettings() const
{
    TDisplaySettings s;
    s.ReceiveFormat = FReceiveFormat.load();
    s.HexFormatCount = FHexModeFormatCount.load();
    s.HexWithString = FHexModeWithString.load();
    s.HexGapLines = FHexGapLines.load();
    s.HexGapMs = FHexGapMs.load();
    return s;
}

bool TCvComPortObj::WaitForUiQueue(std::size_t maxOps, std::size_t maxBytes, int timeoutMs)
{
    std::unique_lock lk(FUiMutex);
    if (FUiQueue.size() < maxOps && FUiQueueBytes < maxBytes) return false;
    FUiSpace.wait_for(lk, std::chrono::milliseconds(timeoutMs));
    return true;
}

void TCvComPortObj::Enqueue(TUiOp&& op)
{
    {
        std::lock_guard lk(FUiMutex);
        FUiQueueBytes += op.Bytes();
        FUiQueue.push_back(std::move(op));
    }
    ScheduleDrain();
}

void TCvComPortObj::Enqueue(std::vector<TUiOp>& ops)
{
    if (ops.empty()) return;
    std::size_t bytes = 0;
    for (const TUiOp& op : ops) bytes += op.Bytes();
    {
        std::lock_guard lk(FUiMutex);
        FUiQueueBytes += bytes;
        if (FUiQueue.empty()) FUiQueue.swap(ops);
        else
            for (auto& op : ops) FUiQueue.push_back(std::move(op));
    }
    ops.clear();
    ScheduleDrain();
}

void TCvComPortObj::ScheduleDrain()
{
    {
        std::lock_guard lk(FUiMutex);
        if (FDrainPosted) return;
        FDrainPosted = true;
    }
    // Queued: the worker must never wait for the GUI thread, and the GUI applies many changes at once.
    QMetaObject::invokeMethod(
        this, [this] { DrainUiQueue(); }, Qt::QueuedConnection);
}

bool TCvComPortObj::ApplyQueued(qint64 budgetMs)
{
    QElapsedTimer clock;
    clock.start();
    FDraining = true;
    for (int n = 1;; ++n) {
        if (FApplyPos >= FApplying.size()) {
            FApplying.clear();
            FApplyPos = 0;
            {
                std::lock_guard lk(FUiMutex);
                if (FUiQueue.empty()) break;
                FApplying.swap(FUiQueue);
                FUiQueueBytes = 0;
            }
            FUiSpace.notify_all();
        }
        const TUiOp& op = FApplying[FApplyPos++];
        const bool bulky = op.kind == TUiOp::Lines || op.kind == TUiOp::Points;
        ApplyOp(op);
        // The clock is read after every bulky change and now and then between small ones.
        if (budgetMs >= 0 && (bulky || n % 64 == 0) && clock.elapsed() >= budgetMs) {
            FDraining = false;
            EndBatch();
            return true;
        }
    }
    FDraining = false;
    EndBatch();
    return false;
}

void TCvComPortObj::EndBatch()
{
    if (FScrollAfterBatch) FLogView->ScrollToEnd();
    FScrollAfterBatch = false;
}

void TCvComPortObj::DrainUiQueue()
{
    {
        std::lock_guard lk(FUiMutex);
        FDrainPosted = false;
    }
    // A time budget per turn keeps the window answering input under a flood; the rest
    // waits for the next turn of the event loop.
    if (ApplyQueued(kApplyBudgetMs)) ScheduleDrain();
}

void TCvComPortObj::FlushUiQueue()
{
    if (!OnGuiThread() || FDraining) return;
    ApplyQueued(-1);
    ApplyDeferredLogs(false);
}

void TCvComPortObj::ApplyOp(const TUiOp& op)
{
    switch (op.kind) {
    case TUiOp::LogMsg: ApplyLog(op.text, true, op.at); return;
    case TUiOp::Callback:
        Notify(op.count);
        CheckAck();
        return;
    case TUiOp::Points:
        for (const char c : op.lines) {
            if (FFastLineSeries) FFastLineSeries->AddY(static_cast<double>(static_cast<quint8>(c)));
            Notify(1);
        }
        return;
    case TUiOp::Lines: ApplyLines(op); return;
    default: break;
    }
    TLogModel& view = FLogView->Model();
    const bool mayContinue = RxMayContinue(view);
    // The time the line's first bytes were read, when the worker knows it.
    const auto prefix = [&](qint64 line) { return LinePrefixAt(line, op.at); };
    if (op.kind == TUiOp::AsciiFirst) {
        const qint64 count = view.LineCount();
        const QString last = count > 0 ? view.Line(count - 1) : QString();
        // Trimmed as a line is, at both ends; but a line that has not ended yet keeps its end
        // (what follows may continue it), and text that continues the view's last line keeps
        // its start.
        const QString trimmed = TrimControl(op.text);
        const qsizetype lead = trimmed.isEmpty() ? op.text.size() : op.text.indexOf(trimmed.front());
        const QString started = op.count == 1 ? op.text.mid(lead) : trimmed;
        const QString continued = op.count == 1 ? op.text : op.text.left(lead + trimmed.size());
        // The colours of each piece, behind its prefix.
        const auto startedRuns = [&](const QString& before) {
            return op.runs.empty() ? TCvStyleRuns()
                                   : Shifted(SliceRuns(op.runs, lead, started.size()), before.size());
        };
        // An empty view takes it as a line of its own, as AppendRxText does: written over the
        // empty view's one piece, it would leave no line break behind it, and the next text
        // that ends a line would seem to continue it.
        if (!mayContinue || view.IsEmpty()) {
            const QString p = prefix(count);
            view.Add(p + started, startedRuns(p));
        } else if (TrimControl(last).isEmpty()) {
            const QString p = prefix(qMax<qint64>(count - 1, 0));
            view.ReplaceLine(count - 1, p + started, startedRuns(p));
        } else if (op.text.startsWith(QLatin1Char('\n'))) {
            view.Add(op.text, op.runs);
        } else {
            view.AppendToLastLine(continued, SliceRuns(op.runs, 0, continued.size()));
        }
    } else if (op.kind == TUiOp::AppendLast) {
        if (mayContinue) {
            view.AppendToLastLine(op.text, op.runs);
        } else {
            const QString p = prefix(view.LineCount());
            view.Add(p + op.text, Shifted(op.runs, p.size()));
        }
    }
    NoteRxWrote();
    Notify(0);
}

void TCvComPortObj::ApplyLines(const TUiOp& op)
{
    const bool received = op.count == 1;
    // A worker's log lines are not shown while the view is in no window (see ApplyLog).
    if (!received && !FLogView->InWindow()) return;
    if (op.ends.empty()) return;
    TLogModel& view = FLogView->Model();
    const std::string_view text(op.lines.constData(), std::size_t(op.lines.size()));
    if (!Prefixed()) {
        view.AddUtf8Lines(text, op.ends, op.runs);
    } else {
        // Each line as Add(prefix + line) would add it, the prefix of its own line number.
        const int timeKind = FShowDate && FShowTime ? 2 : FShowDate ? 0 : FShowTime ? 1 : -1;
        QByteArray& block = FLinesScratch;
        block.clear();
        FLinesScratchEnds.clear();
        FLinesScratchRuns.clear();
        qint64 line = view.LineCount();
        std::uint32_t from = 0;
        std::size_t run = 0;
        for (std::size_t k = 0; k < op.ends.size(); ++k) {
            AppendLinePrefixUtf8(block, FShowLineNumber, line++, timeKind, k < op.ats.size() ? op.ats[k] : 0,
                                 FShowMilliseconds);
            // The line's runs move behind its prefix.
            const auto shift = std::uint32_t(block.size()) - from;
            for (; run < op.runs.size() && op.runs[run].Start < op.ends[k]; ++run) {
                const TCvStyleRun& r = op.runs[run];
                FLinesScratchRuns.push_back({r.Start + shift, r.Length, r.Style});
            }
            block.append(op.lines.constData() + from, qsizetype(op.ends[k] - from));
            FLinesScratchEnds.push_back(std::uint32_t(block.size()));
            from = op.ends[k];
        }
        view.AddUtf8Lines(std::string_view(block.constData(), std::size_t(block.size())), FLinesScratchEnds,
                          FLinesScratchRuns);
    }
    if (received) {
        NoteRxWrote();
    } else {
        // As after Log: only a line that ended (none of these) lets received text continue it.
        const std::size_t n = op.ends.size();
        FRxMayContinue = op.ends[n - 1] == (n > 1 ? op.ends[n - 2] : 0);
        FRxRevision = view.Revision();
    }
    if (FDraining) FScrollAfterBatch = true;
    else FLogView->ScrollToEnd();
    Notify(0);
}
