#include "TCvScriptRun.h"

#include "CvMessages.h"
#include "CvScriptApi.h"
#include "TCvComPortObj.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJSEngine>

using namespace Qt::Literals::StringLiterals;

int TCvScriptResult::ExitCode() const
{
    switch (Kind) {
    case TKind::Passed: return 0;
    case TKind::BadScript: return 2;
    case TKind::Failed:
    case TKind::Stopped: return 1;
    }
    return 1;
}

QString TCvScriptResult::Text() const
{
    switch (Kind) {
    case TKind::Passed:
        return Message.isEmpty() ? Msg(u"[script] passed."_s) : Msg(u"[script] passed: %1"_s).arg(Message);
    case TKind::Failed:
        return Line > 0 ? Msg(u"[script] failed at line %1: %2"_s).arg(Line).arg(Message)
                        : Msg(u"[script] failed: %1"_s).arg(Message);
    case TKind::BadScript:
        return Line > 0 ? Msg(u"[script] error at line %1: %2"_s).arg(Line).arg(Message)
                        : Msg(u"[script] error: %1"_s).arg(Message);
    case TKind::Stopped: return Msg(u"[script] stopped."_s);
    }
    return {};
}

namespace CvScript {

TScriptThread::TScriptThread(TCvScriptRun* run, const QString& source, const QString& fileName, int mainPort,
                             const QString& mainPortName, std::shared_ptr<TRxStream> mainRx,
                             std::shared_ptr<TSync> sync)
    : FRun(run), FSource(source), FFileName(fileName), FMainPort(mainPort), FMainPortName(mainPortName),
      FMainRx(std::move(mainRx)), FSync(std::move(sync))
{}

void TScriptThread::Stop()
{
    FSync->Stopping = true;
    FSync->Cv.notify_all();
    std::lock_guard lk(FEngineLock);
    if (FEngine) FEngine->setInterrupted(true);
}

void TScriptThread::run()
{
    TCvScriptResult result;
    {
        // The engine belongs to this thread: made, used and taken apart here.
        QJSEngine engine;
        {
            std::lock_guard lk(FEngineLock);
            FEngine = &engine;
            if (FSync->Stopping) engine.setInterrupted(true);
        }
        TContext context(FRun, FSync, &engine, FFileName);
        {
            TScriptGlobals globals(&context);
            QJSEngine::setObjectOwnership(&globals, QJSEngine::CppOwnership);
            const QJSValue functions = engine.newQObject(&globals);
            QJSValue global = engine.globalObject();
            for (const QString& name : {u"sleep"_s, u"log"_s, u"crc16modbus"_s, u"toHex"_s, u"fromHex"_s,
                                        u"openPort"_s, u"pass"_s, u"fail"_s})
                global.setProperty(name, functions.property(name));
            global.setProperty(u"port"_s, globals.MakePort(FMainPort, FMainPortName, FMainRx));
            result = Evaluate(engine, context);
        }
        std::lock_guard lk(FEngineLock);
        FEngine = nullptr;
    }
    FResult = result;
}

TCvScriptResult TScriptThread::Evaluate(QJSEngine& engine, TContext& context)
{
    using TKind = TCvScriptResult::TKind;
    QStringList trace;
    const QJSValue r = engine.evaluate(FSource, FFileName, 1, &trace);
    if (context.Result) return *context.Result;
    if (FSync->Stopping) return {TKind::Stopped, QString(), 0};
    if (!r.isError() && trace.isEmpty()) return {TKind::Passed, QString(), 0};
    int line = LineOfTrace(trace);
    if (line == 0 && r.isError()) line = r.property(u"lineNumber"_s).toInt();
    if (!r.isError()) return {TKind::Failed, r.toString(), line};
    switch (r.errorType()) {
    case QJSValue::SyntaxError:
    case QJSValue::ReferenceError:
    case QJSValue::TypeError:
    case QJSValue::RangeError:
    case QJSValue::URIError:
    case QJSValue::EvalError: return {TKind::BadScript, r.toString(), line};
    default: break;
    }
    // An Error the script or a call threw: the test failed; its message says why.
    return {TKind::Failed, r.property(u"message"_s).toString(), line};
}

} // namespace CvScript

using namespace CvScript;

TCvScriptRun::TCvScriptRun(TCvScriptHost* host, QObject* parent) : QObject(parent), FHost(host)
{
    qRegisterMetaType<TCvScriptResult>();
}

TCvScriptRun::~TCvScriptRun()
{
    if (FThread) {
        FThread->Stop();
        FThread->wait();
    }
    FPorts.clear();
}

bool TCvScriptRun::Start(const QString& source, const QString& fileName, TCvComPortObj* port)
{
    if (FRunning) return false;
    if (FThread) FThread->wait();
    FPorts.clear();
    FSync = std::make_shared<TSync>();
    auto rx = std::make_shared<TRxStream>();
    const int mainPort = port ? AddPort(port, rx) : -1;
    FThread = std::make_unique<TScriptThread>(this, source, fileName, mainPort,
                                              port ? port->Port() : QString(), rx, FSync);
    connect(FThread.get(), &QThread::finished, this, &TCvScriptRun::ThreadEnded);
    FResult = {};
    FRunning = true;
    FThread->start();
    return true;
}

void TCvScriptRun::Stop()
{
    if (FThread && FRunning) FThread->Stop();
}

bool TCvScriptRun::Running() const
{
    return FRunning;
}

bool TCvScriptRun::WaitFinished(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (FRunning && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !FRunning;
}

void TCvScriptRun::ThreadEnded()
{
    if (!FThread || !FRunning) return;
    FThread->wait();
    FResult = FThread->Result();
    LogLine(FResult.Text());
    // The ports are no longer watched for the script.
    FPorts.clear();
    FRunning = false;
    emit Finished(FResult);
}

TCvComPortObj* TCvScriptRun::PortOf(int id) const
{
    return id >= 0 && std::size_t(id) < FPorts.size() ? FPorts[std::size_t(id)]->Port() : nullptr;
}

int TCvScriptRun::AddPort(TCvComPortObj* port, std::shared_ptr<TRxStream> rx)
{
    FPorts.push_back(std::make_unique<TWatchedPort>(port, FSync, std::move(rx)));
    return int(FPorts.size()) - 1;
}

int TCvScriptRun::OpenPort(const QString& name, const TCvCommandLine& options, std::shared_ptr<TRxStream> rx,
                           QString* error)
{
    TCvComPortObj* port = FHost->OpenPort(name, options, error);
    return port ? AddPort(port, std::move(rx)) : -1;
}

void TCvScriptRun::LogLine(const QString& line)
{
    for (const auto& link : FPorts) {
        if (TCvComPortObj* port = link->Port()) {
            port->Log(line);
            return;
        }
    }
    FHost->ScriptMessage(line);
}
