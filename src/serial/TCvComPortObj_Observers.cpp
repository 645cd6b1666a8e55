// Who watches what a port object receives, and what they keep in its settings file.
#include "TCvAnswerRules.h"
#include "TCvComPortObj.h"

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

void TCvComPortObj::StoreMoreSettings(TIniFile& ini)
{
    FAnswerRules->Store(ini);
}

void TCvComPortObj::LoadMoreSettings(const TIniFile& ini)
{
    FAnswerRules->Load(ini);
}
