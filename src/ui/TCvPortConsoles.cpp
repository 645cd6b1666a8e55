#include "TCvPortConsoles.h"

#include "CvMessages.h"
#include "TCvComPortObj.h"
#include "TCvConsole.h"
#include "TCvReceiveObserver.h"
#include "TLogMemo.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QStackedWidget>

#include <algorithm>
#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

// Feeds a console with every byte its port reads, for as long as both live. A Qt child of
// the console: it leaves the port's observers when the console goes.
class TConsoleFeed : public QObject, public TCvReceiveObserver {
public:
    TConsoleFeed(TCvComPortObj* port, TCvConsole* console) : QObject(console), FPort(port), FConsole(console)
    {
        port->AddReceiveObserver(this);
    }
    ~TConsoleFeed() override
    {
        if (FPort) FPort->RemoveReceiveObserver(this);
    }
    void Received(const QByteArray& bytes, const QString*) override
    {
        // The port's encoding, chosen on the panel at any time.
        if (FConsole->Encoding() != FPort->TextEncoding()) FConsole->SetEncoding(FPort->TextEncoding());
        FConsole->Feed(bytes);
    }
    // A flood the console has not interpreted yet holds the port back.
    qint64 Waiting() const override { return FConsole->Backlog(); }

private:
    QPointer<TCvComPortObj> FPort;
    TCvConsole* FConsole;
};

QString BreakCaption(const QString& lang)
{
    return Pick({u"发送 Break"_s, u"Send Break"_s}, lang) + u"\tCtrl+Shift+B"_s;
}

} // namespace

TCvPortConsoles::TCvPortConsoles(QObject* parent) : QObject(parent) {}

TCvPortConsoles::~TCvPortConsoles() = default;

TCvPortConsoles::TEntry* TCvPortConsoles::Find(const TCvComPortObj* Port)
{
    // An entry whose console went with its page (or whose port went) is done with.
    std::erase_if(FEntries, [](const TEntry& e) { return !e.Console || !e.Stack || !e.Port; });
    for (TEntry& e : FEntries)
        if (e.Port == Port) return &e;
    return nullptr;
}

const TCvPortConsoles::TEntry* TCvPortConsoles::Find(const TCvComPortObj* Port) const
{
    for (const TEntry& e : FEntries)
        if (e.Port == Port && e.Console && e.Stack) return &e;
    return nullptr;
}

TCvPortConsoles::TEntry* TCvPortConsoles::Make(TCvComPortObj* Port)
{
    // The view must be where the window placed it: the console goes into its place.
    TLogMemo* view = TLogMemo::Of(Port->LogView());
    QWidget* holder = view ? view->parentWidget() : nullptr;
    QLayout* layout = holder ? holder->layout() : nullptr;
    if (!layout || layout->indexOf(view) < 0) return nullptr;
    auto* stack = new QStackedWidget;
    stack->setObjectName(u"StackConsole"_s);
    delete layout->replaceWidget(view, stack);
    stack->addWidget(view);
    stack->show();
    auto* console = new TCvConsole(stack);
    console->setObjectName(QString::fromLatin1(kObjectName));
    console->SetColours(view->TextColor(), view->BackgroundColor());
    stack->addWidget(console);
    new TConsoleFeed(Port, console);
    const QPointer<TCvComPortObj> port(Port);
    connect(console, &TCvConsole::Output, this, [this, port](const QByteArray& bytes) {
        if (port) Send(port, bytes);
    });
    // The break, as the modem box sends it, from the console's menu; its key Ctrl+Shift+B
    // (a combination the console leaves to the window) comes through Key.
    auto* breakKey = new QAction(BreakCaption(FLang), console);
    breakKey->setObjectName(u"ActionConsoleBreak"_s);
    connect(breakKey, &QAction::triggered, this, [this, port] {
        if (port && FBreak) FBreak(port);
    });
    console->addAction(breakKey);
    FEntries.push_back({port, view, stack, console});
    return &FEntries.back();
}

void TCvPortConsoles::Apply(TCvComPortObj* Port)
{
    if (!Port) return;
    const TCvConsoleOptions& o = Port->ConsoleOptions();
    TEntry* e = Find(Port);
    if (!e) {
        if (!o.Shown || !Port->Connected()) return;
        e = Make(Port);
        if (!e) return;
    }
    TCvConsole* console = e->Console;
    console->SetEnterKey(TCvConsole::TEnterKey(std::clamp(o.Enter, 0, 2)));
    console->SetBackspaceKey(o.BackspaceBs ? TCvConsole::TBackspaceKey::Bs : TCvConsole::TBackspaceKey::Del);
    console->SetLocalEcho(o.LocalEcho);
    if (console->Encoding() != Port->TextEncoding()) console->SetEncoding(Port->TextEncoding());
    QWidget* shown = o.Shown ? static_cast<QWidget*>(console) : static_cast<QWidget*>(e->View.data());
    if (shown && e->Stack->currentWidget() != shown) {
        const bool hadFocus = e->Stack->isAncestorOf(QApplication::focusWidget());
        e->Stack->setCurrentWidget(shown);
        if (hadFocus || o.Shown) shown->setFocus();
    }
}

void TCvPortConsoles::Forget(TEntry& e)
{
    // The console goes first, and its feed with it: nothing is fed into a console going away.
    delete e.Console.data();
    if (!e.Stack) return;
    QWidget* holder = e.Stack->parentWidget();
    QLayout* layout = holder ? holder->layout() : nullptr;
    if (e.View && e.View->parentWidget() == e.Stack) {
        e.Stack->setCurrentWidget(e.View);
        if (layout && layout->indexOf(e.Stack) >= 0) delete layout->replaceWidget(e.Stack, e.View);
        else e.View->setParent(holder);
        e.View->show();
    }
    delete e.Stack.data();
}

void TCvPortConsoles::Release(TCvComPortObj* Port)
{
    for (TEntry& e : FEntries)
        if (e.Port == Port) Forget(e);
    std::erase_if(FEntries, [Port](const TEntry& e) { return e.Port == Port || !e.Port; });
}

bool TCvPortConsoles::Key(const QObject* Console, const QKeyEvent* Key)
{
    const Qt::KeyboardModifiers m =
        Key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (m != (Qt::ControlModifier | Qt::ShiftModifier) || Key->key() != Qt::Key_B) return false;
    for (const TEntry& e : FEntries)
        if (e.Console == Console && e.Port) {
            if (Key->type() == QEvent::KeyPress && FBreak) FBreak(e.Port);
            return true;
        }
    return false;
}

TCvConsole* TCvPortConsoles::ConsoleOf(const TCvComPortObj* Port) const
{
    const TEntry* e = Find(Port);
    return e ? e->Console.data() : nullptr;
}

QWidget* TCvPortConsoles::ShownConsole(const TCvComPortObj* Port) const
{
    const TEntry* e = Find(Port);
    return e && e->Stack->currentWidget() == e->Console ? e->Console.data() : nullptr;
}

void TCvPortConsoles::ApplyCaptions(const QString& Lang)
{
    FLang = Lang;
    for (const TEntry& e : FEntries)
        if (e.Console)
            if (auto* a = e.Console->findChild<QAction*>(u"ActionConsoleBreak"_s))
                a->setText(BreakCaption(Lang));
}

void TCvPortConsoles::Send(TCvComPortObj* Port, const QByteArray& Bytes)
{
    const QPointer<TCvComPortObj> port(Port);
    const auto write = [this, port, Bytes] {
        if (!port) return;
        port->WriteAsync(Bytes, [this, port, total = Bytes.size()](qint64 written, int error) {
            if (!port) return;
            // Keys are not echoed line by line; a failure is told once until a key goes out again.
            if (error == 0) {
                FFailing.removeAll(port);
            } else if (error != ECANCELED && !FFailing.contains(port)) {
                FFailing << port;
                port->Log(port->Connected() ? TCvComPortObj::WriteFailureText(written, total, error)
                                            : Msg(u"Device was closed,please open a device."_s));
            }
        });
    };
    if (FGate && FGate(Port, write)) return;
    write();
}
