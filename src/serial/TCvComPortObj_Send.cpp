// The send paths of a port object and the terminal prompt inside its log view.
#include "TCvComPortObj.h"

#include "CvCodecs.h"
#include "CvMessages.h"
#include "TCvReceiveDiversion.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {
const QString kClosed = QStringLiteral("Device was closed,please open a device.");
const QString kWriteFail = QStringLiteral("Sorry Write to device fail!!");
enum { kCommon, kMultiTimes, kTerminal };
} // namespace

bool TCvComPortObj::TorvinComSendBuffer(const quint8* buffer, int len)
{
    if (!Connected()) {
        Log(Msg(kClosed));
        return false;
    }
    return SendBytes(QByteArray(reinterpret_cast<const char*>(buffer), qMax(len, 0)), QStringList());
}

bool TCvComPortObj::SendBytes(const QByteArray& bytes, const QStringList& echo, TWriteDone done)
{
    if (!Connected()) {
        Log(Msg(kClosed));
        if (done) done(0, EBADF);
        return false;
    }
    // Filled in by the completion: false once it has reported a failure.
    auto ok = std::make_shared<bool>(true);
    WriteAsync(bytes, [this, bytes, echo, done, ok](qint64 written, int error) {
        if (error == 0) {
            for (const QString& line : echo) Log(line);
        } else {
            *ok = false;
            ReportWriteFailure(bytes, written, error, !echo.isEmpty());
        }
        if (done) done(written, error);
    });
    return *ok;
}

void TCvComPortObj::ReportWriteFailure(const QByteArray& bytes, qint64 written, int error, bool echo)
{
    // The echo shows what reached the device, and only that.
    if (echo && written > 0)
        LogBuff(QStringLiteral("> "), reinterpret_cast<const quint8*>(bytes.constData()), int(written));
    Log(WriteFailureText(written, bytes.size(), error));
}

QString TCvComPortObj::WriteFailureText(qint64 written, qint64 total, int error)
{
    return Msg(kWriteFail) + u' ' +
           Msg(QStringLiteral("(%1) %2 of %3 bytes were written."))
               .arg(EComPort::SystemText(error))
               .arg(written)
               .arg(total);
}

void TCvComPortObj::DoBytesWritten(qint64 count)
{
    // Counted as the device takes them, and shown at once.
    FComSentCount += count;
    Notify(0);
}

bool TCvComPortObj::TorvinComSendData_Common(const QString& str, int SendFormat, TSendEnding Ending)
{
    return SendText(str, SendFormat, kCommon, Ending);
}

bool TCvComPortObj::TorvinComSendData_MultiTimes(const QString& str, int SendFormat, TSendEnding Ending)
{
    return SendText(str, SendFormat, kMultiTimes, Ending);
}

bool TCvComPortObj::TorvinComSendData_Terminal(const QString& str, int SendFormat, TSendEnding Ending)
{
    return SendText(str, SendFormat, kTerminal, Ending);
}

bool TCvComPortObj::HexTextToSend(const QString& str, quint8* buffer, int* n, int* dropped)
{
    QByteArray bytes;
    QString why;
    if (!ParseHexText(str, &bytes, &why)) {
        Log(why + u' ' + Msg(QStringLiteral("Nothing was sent.")));
        return false;
    }
    *n = int(std::min<qsizetype>(bytes.size(), kSendBufferSize));
    *dropped = int(bytes.size() - *n);
    std::memcpy(buffer, bytes.constData(), size_t(*n));
    return true;
}

bool TCvComPortObj::SendProtocolText(const QString& str)
{
    quint8 buffer[kSendBufferSize];
    int n = 0, dropped = 0;
    if (!HexTextToSend(str, buffer, &n, &dropped)) return true;
    if (dropped > 0)
        Log(Msg(QStringLiteral("The text holds more than %1 bytes: %2 bytes were not sent."))
                .arg(kSendBufferSize)
                .arg(dropped));
    SendProtocolData(buffer, kSendBufferSize, n, 101, false);
    return true;
}

bool TCvComPortObj::SendText(const QString& str, int SendFormat, int kind, TSendEnding ending)
{
    if (SendFormat == sfProtocol) return SendProtocolText(str);
    if (SendFormat == sfAscii) {
        // A block of several lines goes out with CR LF between them, as its end does.
        QString text = str;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"))
            .replace(QLatin1Char('\r'), QLatin1Char('\n'));
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        if (ending == TSendEnding::Default)
            ending = kind == kTerminal ? TSendEnding::None : TSendEnding::CrLf;
        static const QString kEndings[] = {QString(), QStringLiteral("\r"), QStringLiteral("\n"),
                                           QStringLiteral("\r\n")};
        const QString withCrlf = text + kEndings[int(ending)];
        if (!Connected()) {
            Log(Msg(kClosed));
            return true;
        }
        // Nothing is cut to fit the encoding: a text it cannot hold is not sent at all.
        QByteArray encoded;
        qsizetype bad = 0;
        if (!EncodeText(withCrlf, TextEncoding(), &encoded, &bad)) {
            Log(UnencodableMessage(withCrlf, bad, TextEncoding()));
            return false;
        }
        QStringList echo;
        if (FShowSendedLog) {
            if (kind == kCommon)
                echo << QStringLiteral("> ") + (FReceiveFormat.load() == rfHex ? text : withCrlf);
            else if (kind == kMultiTimes) echo << QStringLiteral("> ") + withCrlf;
        }
        return SendBytes(encoded, echo);
    }
    if (SendFormat == sfHex) {
        if (!Connected()) {
            Log(Msg(kClosed));
            return true;
        }
        quint8 buffer[kSendBufferSize];
        int n = 0, dropped = 0;
        if (!HexTextToSend(str, buffer, &n, &dropped)) return true;
        const QString canonical = HexText(buffer, n);
        QStringList echo;
        if (FShowSendedLog) {
            if (kind == kCommon) {
                echo << QStringLiteral("> ") + canonical;
                echo << QString();
            } else if (kind == kMultiTimes) {
                echo << QStringLiteral("> ") + canonical;
            }
        }
        if (dropped > 0)
            Log(Msg(QStringLiteral("The text holds more than %1 bytes: %2 bytes were not sent."))
                    .arg(kSendBufferSize)
                    .arg(dropped));
        SendBytes(QByteArray(reinterpret_cast<const char*>(buffer), n), echo);
        return true;
    }
    return true;
}

bool TCvComPortObj::LogMemoKeyPress(const TLogKey& e)
{
    FLogView->ScrollToEnd();
    const QString& text = e.Text;
    const bool enter = e.Key == Qt::Key_Return || e.Key == Qt::Key_Enter || text == QStringLiteral("\r");
    const bool backspace = e.Key == Qt::Key_Backspace || text == QStringLiteral("\b");
    TLogModel& view = FLogView->Model();
    // The line belongs to a transfer: no prompt, nothing typed goes out.
    if (enter && FReceiveDiversion) return true;
    if (enter) {
        if (FLogView->ReadOnly()) {
            FLogView->SetReadOnly(false);
            Log(QStringLiteral(">"));
            return true;
        }
        const QString line = TrimControl(view.Line(FLogView->CaretLine()));
        QString command;
        if (line.startsWith(QLatin1Char('>'))) {
            command = TrimControl(line.mid(1));
        } else {
            const qsizetype at = line.indexOf(QLatin1String("| >"), 1);
            if (at >= 1) command = TrimControl(line.mid(at + 3));
        }
        if (!command.isEmpty()) TorvinComSendData_Terminal(command, FSendFormat, FPromptEnding);
        Log(QString());
        FLogView->SetReadOnly(true);
        return true;
    }
    if (backspace) {
        const QString line = view.Line(FLogView->CaretLine());
        const qsizetype prompt = line.indexOf(QLatin1Char('>')) + 1;
        // The prompt itself cannot be erased.
        if (line.size() <= prompt) return true;
        return false;
    }
    return false;
}

bool TCvComPortObj::LogMemoKeyDown(const TLogKey& e)
{
    switch (e.Key) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down: return true;
    default: break;
    }
    if (e.Key == Qt::Key_C && e.Modifiers == Qt::ControlModifier) {
        if (!FLogView->ReadOnly()) {
            FLogView->SetReadOnly(true);
            Log(QString());
        } else if (Connected() && !FReceiveDiversion) {
            const quint8 etx = 0x03;
            TorvinComSendBuffer(&etx, 1);
        }
        return true;
    }
    return false;
}
