#include "TCvHeadlessRun.h"

#include "CvCommandLine.h"
#include "CvMessages.h"
#include "TCvAnswerRules.h"
#include "TCvComPortObj.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTimer>

#include <atomic>
#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

QString Stamp(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(u"yyyy-MM-dd hh:mm:ss.zzz"_s);
}

// What the log calls a port: its device path without /dev/.
QString Tag(const QString& device)
{
    return device.startsWith(u"/dev/"_s) ? device.mid(5) : device;
}

// Control characters as escapes (\r, \x1B ...), so that a device's bytes cannot steer the
// terminal or cut a line; everything else as it is.
QString ShowControls(const QString& line)
{
    for (const QChar c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            QString out;
            for (const QChar d : line)
                out += d.unicode() < 0x20 || d.unicode() == 0x7F ? EscapeText(QString(d)) : QString(d);
            return out;
        }
    return line;
}

std::atomic<bool> gStopAsked{false};

void AskStop(int)
{
    gStopAsked = true;
}

} // namespace

TConsoleLogView::TConsoleLogView(const QString& tag, TPrint print) : FTag(tag), FPrint(std::move(print)) {}

void TConsoleLogView::Flush(bool all)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 count = FModel.LineCount();
    const qint64 ended = all || FModel.EndsWithCrlf() ? count : count - 1;
    for (qint64 i = FPrinted; i < ended; ++i) {
        const QString line = FModel.Line(i);
        // The empty line the log keeps for the next received text is no line of output;
        // control characters from the device are shown, not sent to the terminal.
        if (!line.isEmpty())
            FPrint(Stamp(i == FOpenLine ? FOpenSinceMs : now) + u" ["_s + FTag + u"] "_s +
                   ShowControls(line));
    }
    FPrinted = std::max(FPrinted, ended);
    if (ended < count) {
        if (FOpenLine != count - 1) {
            FOpenLine = count - 1;
            FOpenSinceMs = now;
        }
        return;
    }
    // Everything is out: the text need not be kept.
    FModel.Clear();
    FPrinted = 0;
    FOpenLine = -1;
}

TCvHeadlessRun::TCvHeadlessRun(FILE* out, FILE* err) : FOut(out), FErr(err) {}

TCvHeadlessRun::~TCvHeadlessRun()
{
    // The script first: it may still use the ports.
    FRun.reset();
    for (TPort& p : FPorts) {
        p.Obj->Close();
        p.View->Flush(true);
    }
}

void TCvHeadlessRun::Print(const QString& line)
{
    std::fputs((line + u'\n').toUtf8().constData(), FOut);
    std::fflush(FOut);
}

void TCvHeadlessRun::ScriptMessage(const QString& line)
{
    Print(Stamp(QDateTime::currentMSecsSinceEpoch()) + u' ' + line);
}

TCvComPortObj* TCvHeadlessRun::OpenPort(const QString& name, const TCvCommandLine& options, QString* error)
{
    // A DEVICE as the command line takes it: a path (made absolute), a link, a network port.
    const TCvCommandLineResult device = ParseCommandLine({u"corvane"_s, name});
    if (!device.Ok() || device.Options.Device.isEmpty()) {
        *error = device.Ok() ? Msg(u"no such device"_s) : device.Error;
        return nullptr;
    }
    const QString path = device.Options.Device;
    for (TPort& p : FPorts)
        if (p.Device == path && p.Obj->Connected()) return p.Obj.get();
    TPort p;
    p.Device = path;
    p.View = std::make_unique<TConsoleLogView>(Tag(path), [this](const QString& line) { Print(line); });
    p.Obj = std::make_unique<TCvComPortObj>(nullptr, u"Virtual Port (%1)"_s.arg(path));
    const int format = options.ReceiveFormat.value_or(rfAscii);
    p.Obj->CvComPortObjInit2(QString(), QString(), br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                             format, p.View.get(), false, false, false, false, true);
    options.ApplyTo(*p.Obj);
    // Nobody is there to see a message box: a line without a view goes to the output too.
    connect(p.Obj.get(), &TCvComPortObj::NoViewMessage, this,
            [this](const QString&, const QString& text) { ScriptMessage(text); });
    QString hint, cause;
    if (!p.Obj->TryOpen(&hint, &cause)) {
        *error = hint.isEmpty() ? cause : cause + u' ' + hint;
        return nullptr;
    }
    p.Obj->Log(Msg(u"Device %1 was opened."_s).arg(path));
    FPorts.push_back(std::move(p));
    return FPorts.back().Obj.get();
}

void TCvHeadlessRun::Stop()
{
    if (FRun) FRun->Stop();
}

int TCvHeadlessRun::Run(const TCvCommandLine& options)
{
    QFile file(options.Script);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(FErr, "corvane: %s: %s\n", qPrintable(options.Script), qPrintable(file.errorString()));
        return kExitBadArguments;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString source = utf8(file.readAll());
    if (utf8.hasError()) {
        std::fprintf(FErr, "corvane: %s: not UTF-8 text\n", qPrintable(options.Script));
        return kExitBadArguments;
    }
    TCvComPortObj* port = nullptr;
    if (!options.Device.isEmpty()) {
        QString error;
        port = OpenPort(options.Device, options, &error);
        if (!port) {
            std::fprintf(FErr, "corvane: can not open %s: %s\n", qPrintable(options.Device),
                         qPrintable(error));
            return kExitBadArguments;
        }
    }
    FRun = std::make_unique<TCvScriptRun>(this);
    QEventLoop loop;
    connect(FRun.get(), &TCvScriptRun::Finished, &loop, &QEventLoop::quit);
    FRun->Start(source, options.Script, port);
    if (FRun->Running()) loop.exec();
    const int code = FRun->Result().ExitCode();
    for (TPort& p : FPorts) p.View->Flush(true);
    return code;
}

int RunHeadlessScript(const TCvCommandLine& options, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Corvane"_s);
    TCvHeadlessRun run;
    // A bench stops a run with a signal: the script ends as by Stop, the ports close in order.
    std::signal(SIGINT, AskStop);
    std::signal(SIGTERM, AskStop);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &run, [&run] {
        if (gStopAsked.exchange(false)) run.Stop();
    });
    poll.start(50);
    return run.Run(options);
}
