#pragma once

// Scripts in JavaScript (QJSEngine): each run on a thread of its own, so that a script that
// waits never holds up the window. Everything that touches a port object is done on the
// port object's (GUI) thread; what the ports receive reaches the script through a queue.

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class QJSEngine;
class TCvComPortObj;
struct TCvCommandLine;

// Where a script's ports come from: the window, or the run without one. GUI thread.
class TCvScriptHost {
public:
    virtual ~TCvScriptHost() = default;
    // The port of that name (a device path or link, a network port name, or a name of the
    // device list), open. options: line settings to open it with (line options only).
    // nullptr, with *error for the script, when it cannot be had.
    virtual TCvComPortObj* OpenPort(const QString& name, const TCvCommandLine& options, QString* error) = 0;
    // A line of the script's while it has no port to log into.
    virtual void ScriptMessage(const QString& line) = 0;
};

struct TCvScriptResult {
    enum class TKind { Passed, Failed, BadScript, Stopped };
    TKind Kind = TKind::Passed;
    // What pass() or fail() said, or the error.
    QString Message;
    // The script's line the error comes from (1-based), 0 when none.
    int Line = 0;
    // 0 passed, 1 failed, timed out or stopped, 2 a bad script.
    int ExitCode() const;
    // The line the log shows for it.
    QString Text() const;
};
Q_DECLARE_METATYPE(TCvScriptResult)

namespace CvScript {
class TScriptThread;
class TWatchedPort;
class TRxStream;
struct TSync;
} // namespace CvScript

class TCvScriptRun : public QObject {
    Q_OBJECT
public:
    // How long a call of the script waits for the GUI thread before it gives up.
    static constexpr int kGuiCallTimeoutMs = 30000;

    explicit TCvScriptRun(TCvScriptHost* host, QObject* parent = nullptr);
    // A script still running is stopped and waited for.
    ~TCvScriptRun() override;

    // Runs source (from fileName, for its error lines) on a thread of its own; port is the
    // script's `port` (may be none). False while a script runs.
    bool Start(const QString& source, const QString& fileName, TCvComPortObj* port);
    // Interrupts the script wherever it is, a loop without end or a wait included; it ends
    // within a few milliseconds and Finished follows.
    void Stop();
    bool Running() const;
    // Waits (in the event loop) until the run has finished, at most ms; true when it has.
    bool WaitFinished(int ms);
    const TCvScriptResult& Result() const { return FResult; }

    // For the script thread: the ports of the run by their number (GUI thread only).
    TCvComPortObj* PortOf(int id) const;
    // Watches what a port receives for the script, into rx; its number.
    int AddPort(TCvComPortObj* port, std::shared_ptr<CvScript::TRxStream> rx);
    // Opens a port for the script (through the host) and watches it; its number, or -1.
    int OpenPort(const QString& name, const TCvCommandLine& options, std::shared_ptr<CvScript::TRxStream> rx,
                 QString* error);
    // A script line into the log of its first port, or to the host.
    void LogLine(const QString& line);

signals:
    void Finished(const TCvScriptResult& result);

private:
    void ThreadEnded();

    TCvScriptHost* FHost;
    std::shared_ptr<CvScript::TSync> FSync;
    std::unique_ptr<CvScript::TScriptThread> FThread;
    std::vector<std::unique_ptr<CvScript::TWatchedPort>> FPorts;
    TCvScriptResult FResult;
    bool FRunning = false;
};
