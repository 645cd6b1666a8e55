// The functions a script calls. They run on the script's thread; what touches a port is
// done on the port object's thread through TContext::CallGui.
#include "CvScriptApi.h"

#include "Corvane_CRC.h"
#include "CvCommandLine.h"
#include "CvMessages.h"
#include "TCvAnswerRules.h"
#include "TCvComPortObj.h"

#include <QJSEngine>
#include <QJSValueIterator>
#include <QRegularExpression>

#include <cerrno>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace CvScript {

namespace {

using Clock = std::chrono::steady_clock;

// Where a regular expression may begin, before the newest received text.
constexpr qsizetype kLookBack = 16 * 1024;

QString Shown(const QString& text, int max = 80)
{
    const QString tail = text.size() > max ? u"…"_s + text.right(max) : text;
    return u'"' + EscapeText(tail) + u'"';
}

QString HexShown(const QByteArray& bytes)
{
    return HexText(reinterpret_cast<const quint8*>(bytes.constData()), bytes.size()).trimmed();
}

} // namespace

int LineOfStack(const QString& stack)
{
    // Frames read "function@file:line", innermost first; the nested evaluation has no file.
    for (const QString& frame : stack.split(u'\n')) {
        const qsizetype at = frame.indexOf(u'@');
        const qsizetype colon = frame.lastIndexOf(u':');
        if (at < 0 || colon <= at + 1) continue;
        bool ok = false;
        const int line = frame.mid(colon + 1).toInt(&ok);
        if (ok && line > 0) return line;
    }
    return 0;
}

int LineOfTrace(const QStringList& trace)
{
    // Frames read "function:line:column:file".
    for (const QString& frame : trace) {
        const QStringList parts = frame.split(u':');
        if (parts.size() < 4 || parts.mid(3).join(u':').isEmpty()) continue;
        bool ok = false;
        const int line = parts[1].toInt(&ok);
        if (ok && line > 0) return line;
    }
    return 0;
}

bool BytesFromScript(const QJSValue& value, QByteArray* out, QString* error)
{
    if (value.isString()) {
        QString why;
        if (ParseHexText(value.toString(), out, &why)) return true;
        *error = why;
        return false;
    }
    if (value.isArray()) {
        const int n = value.property(u"length"_s).toInt();
        QByteArray bytes;
        bytes.reserve(n);
        for (int i = 0; i < n; ++i) {
            const QJSValue v = value.property(quint32(i));
            const double d = v.toNumber();
            if (!v.isNumber() || d != double(int(d)) || d < 0 || d > 255) {
                *error = Msg(u"Element %1 of the array is %2, not a byte value (0 to 255)."_s)
                             .arg(i)
                             .arg(v.toString());
                return false;
            }
            bytes.append(char(int(d)));
        }
        *out = bytes;
        return true;
    }
    *error = Msg(u"Bytes are an array of byte values or hex text such as \"01 03 00 00\"."_s);
    return false;
}

// ---- the context ----

bool TContext::CallGui(std::function<void(TFinish)> f, QVariant* value, QString* error, int timeoutMs)
{
    struct TReply {
        bool Done = false;
        bool Ok = false;
        QVariant Value;
        QString Error;
    };
    auto reply = std::make_shared<TReply>();
    auto sync = Sync;
    TFinish finish = [reply, sync](bool ok, const QVariant& v, const QString& e) {
        {
            std::lock_guard lk(sync->M);
            if (reply->Done) return;
            reply->Done = true;
            reply->Ok = ok;
            reply->Value = v;
            reply->Error = e;
        }
        sync->Cv.notify_all();
    };
    QMetaObject::invokeMethod(
        Run, [f = std::move(f), finish] { f(finish); }, Qt::QueuedConnection);
    std::unique_lock lk(Sync->M);
    const auto done = [&] { return reply->Done || Sync->Stopping.load(); };
    if (timeoutMs < 0) Sync->Cv.wait(lk, done);
    else Sync->Cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), done);
    if (!reply->Done) {
        if (error)
            *error = Stopping() ? Msg(u"The script was stopped."_s)
                                : Msg(u"The window did not answer within %1 ms."_s).arg(timeoutMs);
        return false;
    }
    if (value) *value = reply->Value;
    if (error) *error = reply->Error;
    return reply->Ok;
}

void TContext::PostGui(std::function<void()> f)
{
    QMetaObject::invokeMethod(Run, std::move(f), Qt::QueuedConnection);
}

bool TContext::Sleep(int ms)
{
    std::unique_lock lk(Sync->M);
    return !Sync->Cv.wait_for(lk, std::chrono::milliseconds(std::max(ms, 0)), [this] { return Stopping(); });
}

void TContext::ThrowUsage(const QString& message)
{
    Engine->throwError(QJSValue::TypeError, message);
}

void TContext::ThrowError(const QString& message)
{
    Engine->throwError(message);
}

void TContext::End(const TCvScriptResult& result)
{
    if (!Result) Result = result;
    // Unlike an error, an interruption cannot be caught by the script: it ends here.
    Engine->setInterrupted(true);
}

void TContext::Log(const QString& line)
{
    TCvScriptRun* run = Run;
    PostGui([run, line] { run->LogLine(line); });
}

// ---- port ----

TScriptPort::TScriptPort(TContext* context, int id, const QString& name, std::shared_ptr<TRxStream> rx,
                         QObject* parent)
    : QObject(parent), FContext(context), FId(id), FName(name), FRx(std::move(rx))
{}

bool TScriptPort::Usable()
{
    if (FId >= 0) return true;
    FContext->ThrowUsage(Msg(u"This script has no port: give a DEVICE, select one in the window, or use "
                             u"openPort(name)."_s));
    return false;
}

bool TScriptPort::SendWire(const QByteArray& wire, const QString& shown)
{
    TCvScriptRun* run = FContext->Run;
    const int id = FId;
    const QString echo = Msg(u"[script] > %1"_s).arg(shown);
    QString error;
    // No limit of its own: the port's write time-out ends a write the device does not take.
    const bool ok = FContext->CallGui(
        [run, id, wire, echo](const TContext::TFinish& finish) {
            TCvComPortObj* port = run->PortOf(id);
            if (!port) return finish(false, {}, Msg(u"The port is gone."_s));
            if (!port->Connected())
                return finish(false, {}, Msg(u"Device %1 is not open."_s).arg(port->FComportFullName));
            port->SendBytes(wire, {echo}, [finish, total = wire.size()](qint64 written, int code) {
                if (code == 0) finish(true, {}, {});
                else finish(false, {}, TCvComPortObj::WriteFailureText(written, total, code));
            });
        },
        nullptr, &error, -1);
    if (!ok && !FContext->Stopping()) FContext->ThrowError(u"%1: %2"_s.arg(FName, error));
    return ok;
}

void TScriptPort::send(const QString& text)
{
    if (!Usable()) return;
    TCvScriptRun* run = FContext->Run;
    const int id = FId;
    QVariant encoded;
    QString error;
    // In the port's encoding, which only its own thread may read.
    if (!FContext->CallGui(
            [run, id, text](const TContext::TFinish& finish) {
                TCvComPortObj* port = run->PortOf(id);
                if (!port) return finish(false, {}, Msg(u"The port is gone."_s));
                QByteArray wire;
                qsizetype bad = 0;
                if (!EncodeText(text, port->TextEncoding(), &wire, &bad))
                    return finish(false, {}, UnencodableMessage(text, bad, port->TextEncoding()));
                finish(true, wire, {});
            },
            &encoded, &error)) {
        if (!FContext->Stopping()) FContext->ThrowError(u"%1: %2"_s.arg(FName, error));
        return;
    }
    SendWire(encoded.toByteArray(), u'"' + EscapeText(text) + u'"');
}

void TScriptPort::sendHex(const QJSValue& bytes)
{
    if (!Usable()) return;
    QByteArray wire;
    QString error;
    if (!BytesFromScript(bytes, &wire, &error)) return FContext->ThrowUsage(u"sendHex: "_s + error);
    if (wire.isEmpty()) return;
    SendWire(wire, HexShown(wire));
}

void TScriptPort::TellDropped(std::unique_lock<std::mutex>& lk)
{
    const qint64 dropped = FRx->TakeDropped();
    if (dropped == 0) return;
    lk.unlock();
    FContext->Log(
        Msg(u"[script] %1 received bytes were dropped unread: the script did not read them in time."_s)
            .arg(dropped));
    lk.lock();
}

QJSValue TScriptPort::expect(const QJSValue& pattern, int timeoutMs)
{
    if (!Usable()) return {};
    if (timeoutMs < 0) {
        FContext->ThrowUsage(Msg(u"expect: the time-out must be 0 ms or more."_s));
        return {};
    }
    const bool regexp = pattern.isRegExp();
    QRegularExpression re;
    QString needle;
    if (regexp) {
        QRegularExpression::PatternOptions options;
        const QString flags = pattern.property(u"flags"_s).toString();
        if (flags.contains(u'i')) options |= QRegularExpression::CaseInsensitiveOption;
        if (flags.contains(u'm')) options |= QRegularExpression::MultilineOption;
        if (flags.contains(u's')) options |= QRegularExpression::DotMatchesEverythingOption;
        re = QRegularExpression(pattern.property(u"source"_s).toString(), options);
        if (!re.isValid()) {
            FContext->ThrowUsage(Msg(u"expect: %1"_s).arg(re.errorString()));
            return {};
        }
    } else if (pattern.isString() && !pattern.toString().isEmpty()) {
        needle = pattern.toString();
    } else {
        FContext->ThrowUsage(
            Msg(u"expect wants a text or a regular expression, such as \"OK\" or /OK|ERROR/."_s));
        return {};
    }
    const QString what = regexp ? pattern.toString() : Shown(needle);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lk(FContext->Sync->M);
    qsizetype searched = 0;
    for (;;) {
        TellDropped(lk);
        const QString& text = FRx->Text();
        if (regexp) {
            for (QRegularExpressionMatchIterator it =
                     re.globalMatch(text, std::max<qsizetype>(0, searched - kLookBack));
                 it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                if (m.capturedLength() == 0) continue;
                QStringList groups;
                for (int g = 0; g <= re.captureCount(); ++g) groups << m.captured(g);
                QList<bool> has;
                for (int g = 0; g <= re.captureCount(); ++g) has << m.hasCaptured(g);
                FRx->TakeText(m.capturedEnd());
                lk.unlock();
                QJSValue result = FContext->Engine->newArray(quint32(groups.size()));
                for (int g = 0; g < groups.size(); ++g)
                    result.setProperty(quint32(g), has[g] ? QJSValue(groups[g]) : QJSValue());
                return result;
            }
        } else {
            const qsizetype at = text.indexOf(needle, std::max<qsizetype>(0, searched - needle.size() + 1));
            if (at >= 0) {
                FRx->TakeText(at + needle.size());
                return QJSValue(needle);
            }
        }
        searched = text.size();
        if (FContext->Stopping()) return {};
        const quint64 version = FRx->Version();
        if (!FContext->Sync->Cv.wait_until(lk, deadline,
                                           [&] { return FRx->Version() != version || FContext->Stopping(); }))
            break;
    }
    const QString got = FRx->Text();
    lk.unlock();
    FContext->ThrowError(Msg(u"%1: expected %2 within %3 ms; received %4"_s)
                             .arg(FName, what)
                             .arg(timeoutMs)
                             .arg(got.isEmpty() ? Msg(u"nothing"_s) : Shown(got)));
    return {};
}

QString TScriptPort::read(int timeoutMs)
{
    if (!Usable()) return {};
    std::unique_lock lk(FContext->Sync->M);
    TellDropped(lk);
    FContext->Sync->Cv.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                [&] { return !FRx->Text().isEmpty() || FContext->Stopping(); });
    const QString text = FRx->Text();
    FRx->TakeText(text.size());
    return text;
}

QJSValue TScriptPort::readBytes(int count, int timeoutMs)
{
    if (!Usable()) return {};
    if (count < 1) {
        FContext->ThrowUsage(Msg(u"readBytes: the count must be 1 or more."_s));
        return {};
    }
    std::unique_lock lk(FContext->Sync->M);
    TellDropped(lk);
    FContext->Sync->Cv.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                [&] { return FRx->Bytes().size() >= count || FContext->Stopping(); });
    const QByteArray bytes = FRx->Bytes().left(count);
    FRx->TakeBytes(bytes.size());
    lk.unlock();
    QJSValue result = FContext->Engine->newArray(quint32(bytes.size()));
    for (qsizetype i = 0; i < bytes.size(); ++i) result.setProperty(quint32(i), int(quint8(bytes[i])));
    return result;
}

void TScriptPort::clear()
{
    if (!Usable()) return;
    std::lock_guard lk(FContext->Sync->M);
    FRx->Clear();
}

bool TScriptPort::SetLine(bool dtr, bool on)
{
    if (!Usable()) return false;
    TCvScriptRun* run = FContext->Run;
    const int id = FId;
    QString error;
    const QString line = dtr ? u"DTR"_s : u"RTS"_s;
    const bool ok = FContext->CallGui(
        [run, id, dtr, on, line](const TContext::TFinish& finish) {
            TCvComPortObj* port = run->PortOf(id);
            if (!port) return finish(false, {}, Msg(u"The port is gone."_s));
            if (!port->Connected())
                return finish(false, {}, Msg(u"Device %1 is not open."_s).arg(port->FComportFullName));
            if (dtr ? port->SetDTR(on) : port->SetRTS(on)) return finish(true, {}, {});
            finish(false, {},
                   port->ModemSupport() == TCustomComPort::TModemSupport::Unsupported
                       ? Msg(u"Can not set %1: this port has no modem lines."_s).arg(line)
                       : Msg(u"Can not set %1: the device refused."_s).arg(line));
        },
        nullptr, &error);
    if (!ok && !FContext->Stopping()) FContext->ThrowError(u"%1: %2"_s.arg(FName, error));
    return ok;
}

void TScriptPort::setDtr(bool on)
{
    SetLine(true, on);
}

void TScriptPort::setRts(bool on)
{
    SetLine(false, on);
}

void TScriptPort::sendBreak(int ms)
{
    if (!Usable()) return;
    if (ms < 1 || ms > 10000)
        return FContext->ThrowUsage(Msg(u"sendBreak: the length must be 1 to 10000 ms."_s));
    TCvScriptRun* run = FContext->Run;
    const int id = FId;
    QString error;
    const bool ok = FContext->CallGui(
        [run, id, ms](const TContext::TFinish& finish) {
            TCvComPortObj* port = run->PortOf(id);
            if (!port) return finish(false, {}, Msg(u"The port is gone."_s));
            const QString name = port->FComportFullName;
            switch (port->SendBreak(ms)) {
            case 0:
                port->Log(Msg(u"[script] %1"_s).arg(Msg(u"Sending a break of %1 ms."_s).arg(ms)));
                return finish(true, {}, {});
            case EBADF: return finish(false, {}, Msg(u"Device %1 is not open."_s).arg(name));
            case EBUSY: return finish(false, {}, Msg(u"A break runs already on %1."_s).arg(name));
            case ENOTTY:
                return finish(
                    false, {},
                    Msg(u"Can not send a break on %1: not possible on this kind of port."_s).arg(name));
            case ENOTCONN:
                return finish(
                    false, {},
                    Msg(u"Can not send a break on %1: the connection is not ready yet."_s).arg(name));
            default:
                return finish(
                    false, {},
                    Msg(u"Can not send a break on %1: %2"_s).arg(name, EComPort::SystemText(errno)));
            }
        },
        nullptr, &error);
    if (!ok) {
        if (!FContext->Stopping()) FContext->ThrowError(error);
        return;
    }
    // The script goes on when the line is released.
    FContext->Sleep(ms);
}

// ---- globals ----

void TScriptGlobals::sleep(int ms)
{
    if (ms < 0) return FContext->ThrowUsage(Msg(u"sleep: the time must be 0 ms or more."_s));
    FContext->Sleep(ms);
}

void TScriptGlobals::log(const QJSValue& text)
{
    FContext->Log(Msg(u"[script] %1"_s).arg(text.toString()));
}

int TScriptGlobals::crc16modbus(const QJSValue& bytes)
{
    QByteArray data;
    QString error;
    if (!BytesFromScript(bytes, &data, &error)) {
        FContext->ThrowUsage(u"crc16modbus: "_s + error);
        return 0;
    }
    return CalCRC16Fast(reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size()));
}

QString TScriptGlobals::toHex(const QJSValue& bytes)
{
    QByteArray data;
    QString error;
    if (!BytesFromScript(bytes, &data, &error)) {
        FContext->ThrowUsage(u"toHex: "_s + error);
        return {};
    }
    return HexShown(data);
}

QJSValue TScriptGlobals::fromHex(const QString& text)
{
    QByteArray data;
    QString error;
    if (!ParseHexText(text, &data, &error)) {
        FContext->ThrowUsage(u"fromHex: "_s + error);
        return {};
    }
    QJSValue result = FContext->Engine->newArray(quint32(data.size()));
    for (qsizetype i = 0; i < data.size(); ++i) result.setProperty(quint32(i), int(quint8(data[i])));
    return result;
}

QJSValue TScriptGlobals::openPort(const QString& name, const QJSValue& options)
{
    QStringList args;
    if (!options.isUndefined() && !options.isNull()) {
        if (!options.isObject()) {
            FContext->ThrowUsage(
                Msg(u"openPort: the options are an object such as {baud: 9600, parity: \"even\"}."_s));
            return {};
        }
        static const QStringList keys = {u"baud"_s, u"dataBits"_s, u"parity"_s, u"stopBits"_s, u"flow"_s};
        static const QStringList flags = {u"--baud"_s, u"--databits"_s, u"--parity"_s, u"--stopbits"_s,
                                          u"--flow"_s};
        QJSValueIterator it(options);
        while (it.hasNext()) {
            it.next();
            const qsizetype k = keys.indexOf(it.name());
            if (k < 0) {
                FContext->ThrowUsage(
                    Msg(u"openPort: unknown option %1 (known: %2)."_s).arg(it.name(), keys.join(u", ")));
                return {};
            }
            args << flags[k] << it.value().toString();
        }
    }
    const TCvCommandLineResult parsed = ParseLineOptions(args);
    if (!parsed.Ok()) {
        FContext->ThrowUsage(u"openPort: "_s + parsed.Error);
        return {};
    }
    TCvScriptRun* run = FContext->Run;
    QVariant id;
    QString error;
    const TCvCommandLine lineOptions = parsed.Options;
    // What the port receives from now on waits here for the script.
    auto rx = std::make_shared<TRxStream>();
    if (!FContext->CallGui(
            [run, name, lineOptions, rx](const TContext::TFinish& finish) {
                QString why;
                const int opened = run->OpenPort(name, lineOptions, rx, &why);
                if (opened < 0) finish(false, {}, why);
                else finish(true, opened, {});
            },
            &id, &error)) {
        if (!FContext->Stopping()) FContext->ThrowError(Msg(u"openPort %1: %2"_s).arg(name, error));
        return {};
    }
    return MakePort(id.toInt(), name, rx);
}

QJSValue TScriptGlobals::MakePort(int id, const QString& name, std::shared_ptr<TRxStream> rx)
{
    auto* port = new TScriptPort(FContext, id, name, std::move(rx), this);
    QJSEngine::setObjectOwnership(port, QJSEngine::CppOwnership);
    return FContext->Engine->newQObject(port);
}

void TScriptGlobals::pass(const QString& message)
{
    FContext->End({TCvScriptResult::TKind::Passed, message, 0});
}

void TScriptGlobals::fail(const QString& message)
{
    // The line that called fail(), from the stack as the script sees it now.
    const int line = LineOfStack(FContext->Engine->evaluate(u"new Error().stack"_s).toString());
    FContext->End(
        {TCvScriptResult::TKind::Failed, message.isEmpty() ? Msg(u"fail() was called."_s) : message, line});
}

} // namespace CvScript
