#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QKeyEvent;
class QStackedWidget;
class QWidget;
class TCvComPortObj;
class TCvConsole;
class TLogMemo;

// The consoles of the open ports. A port's console is a terminal view (TCvConsole) in a
// stack with its log view, wherever the window placed that view; the port's console switch
// picks which of the two is shown. A console is made the first time it is shown on an open
// port and from then on is fed every byte the port reads (it is a receive observer), whether
// it is shown or not, until the port is let go: switching between the log and the console
// loses nothing. Its keys go through the port's write queue, with no echo line in the log.
class TCvPortConsoles : public QObject {
    Q_OBJECT
public:
    explicit TCvPortConsoles(QObject* parent = nullptr);
    ~TCvPortConsoles() override;

    // A send asked for while a file goes out waits for its end (the file sender's hold):
    // true when it was held and will run later.
    using TSendGate = std::function<bool(TCvComPortObj*, std::function<void()>)>;
    void SetSendGate(TSendGate Gate) { FGate = std::move(Gate); }
    // The break key (Ctrl+Shift+B, and the console's menu).
    void SetBreak(std::function<void(TCvComPortObj*)> SendBreak) { FBreak = std::move(SendBreak); }

    // The port's console options as it holds them: shown or hidden, its keys, the port's
    // encoding. Nothing is made for a port that is closed or not placed in the window.
    void Apply(TCvComPortObj* Port);
    // The port is let go: its console goes and its log view is put back in its place.
    void Release(TCvComPortObj* Port);
    TCvConsole* ConsoleOf(const TCvComPortObj* Port) const;
    // What takes the keyboard for the port: its console while shown, else nothing.
    QWidget* ShownConsole(const TCvComPortObj* Port) const;
    void ApplyCaptions(const QString& Lang);
    // A key of one of the consoles that is the window's to act on (Ctrl+Shift+B, the break);
    // true when it was taken.
    bool Key(const QObject* Console, const QKeyEvent* Key);

    static constexpr const char* kObjectName = "Console";

private:
    struct TEntry {
        QPointer<TCvComPortObj> Port;
        QPointer<TLogMemo> View;
        QPointer<QStackedWidget> Stack;
        QPointer<TCvConsole> Console;
    };
    TEntry* Find(const TCvComPortObj* Port);
    const TEntry* Find(const TCvComPortObj* Port) const;
    TEntry* Make(TCvComPortObj* Port);
    void Send(TCvComPortObj* Port, const QByteArray& Bytes);
    void Forget(TEntry& e);

    std::vector<TEntry> FEntries;
    TSendGate FGate;
    std::function<void(TCvComPortObj*)> FBreak;
    QString FLang = QStringLiteral("CN");
    // Ports whose last key could not be written: told once until one goes out again.
    QList<QPointer<TCvComPortObj>> FFailing;
};
