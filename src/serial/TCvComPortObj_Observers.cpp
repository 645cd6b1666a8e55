// Who watches what a port object receives, and what they keep in its settings file.
#include "TCvAnswerRules.h"
#include "TCvComPortObj.h"

#include "IniFile.h"

#include <algorithm>

void TCvComPortObj::AddReceiveObserver(TCvReceiveObserver* observer)
{
    if (observer &&
        std::find(FReceiveObservers.begin(), FReceiveObservers.end(), observer) == FReceiveObservers.end())
        FReceiveObservers.push_back(observer);
}

void TCvComPortObj::RemoveReceiveObserver(TCvReceiveObserver* observer)
{
    std::erase(FReceiveObservers, observer);
}

void TCvComPortObj::TellObservers(const QByteArray& bytes, const QString* text)
{
    // An observer may leave (or another come) while the list is walked.
    const std::vector<TCvReceiveObserver*> observers = FReceiveObservers;
    for (TCvReceiveObserver* o : observers)
        if (std::find(FReceiveObservers.begin(), FReceiveObservers.end(), o) != FReceiveObservers.end())
            o->Received(bytes, text);
}

qint64 TCvComPortObj::ObserversWaiting() const
{
    qint64 n = 0;
    for (const TCvReceiveObserver* o : FReceiveObservers) n += o->Waiting();
    return n;
}

namespace {

const char* const kEnterNames[] = {"CR", "LF", "CRLF"};

} // namespace

void TCvComPortObj::StoreMoreSettings(TIniFile& ini)
{
    FAnswerRules->Store(ini);
    // Files of ports that never used the console stay as they were.
    const QString sec;
    const TCvConsoleOptions& o = FConsoleOptions;
    const TCvConsoleOptions plain;
    const auto put = [&](const char* key, bool changed, const QString& value) {
        const QString k = QString::fromLatin1(key);
        if (changed || ini.ValueExists(sec, k)) ini.WriteString(sec, k, value);
    };
    put("Console", o.Shown != plain.Shown, o.Shown ? QStringLiteral("1") : QStringLiteral("0"));
    put("ConsoleEnter", o.Enter != plain.Enter, QString::fromLatin1(kEnterNames[std::clamp(o.Enter, 0, 2)]));
    put("ConsoleBackspace", o.BackspaceBs != plain.BackspaceBs,
        o.BackspaceBs ? QStringLiteral("BS") : QStringLiteral("DEL"));
    put("ConsoleEcho", o.LocalEcho != plain.LocalEcho,
        o.LocalEcho ? QStringLiteral("1") : QStringLiteral("0"));
}

void TCvComPortObj::LoadMoreSettings(const TIniFile& ini)
{
    FAnswerRules->Load(ini);
    const QString sec;
    TCvConsoleOptions& o = FConsoleOptions;
    o.Shown = ini.ReadBool(sec, QStringLiteral("Console"), o.Shown);
    // An unknown value (a newer or damaged file) keeps what the port has.
    const QString enter = ini.ReadString(sec, QStringLiteral("ConsoleEnter")).trimmed();
    for (int i = 0; i < 3; ++i)
        if (enter.compare(QString::fromLatin1(kEnterNames[i]), Qt::CaseInsensitive) == 0) o.Enter = i;
    const QString backspace = ini.ReadString(sec, QStringLiteral("ConsoleBackspace")).trimmed();
    if (backspace.compare(QStringLiteral("BS"), Qt::CaseInsensitive) == 0) o.BackspaceBs = true;
    else if (backspace.compare(QStringLiteral("DEL"), Qt::CaseInsensitive) == 0) o.BackspaceBs = false;
    o.LocalEcho = ini.ReadBool(sec, QStringLiteral("ConsoleEcho"), o.LocalEcho);
}
