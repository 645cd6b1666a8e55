#pragma once

// The run without a window: `corvane --script FILE [DEVICE] [line options]`. A
// QCoreApplication only, no display: each port writes its log into a view that prints its
// lines with time stamps, and the script's result is the exit code.

#include "TCvScriptRun.h"
#include "TLogView.h"

#include <QObject>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

class TCvComPortObj;
struct TCvCommandLine;

// A port's log as lines on a stream: each line, once it has ended, with the time it began
// and the port's name. Printed lines are let go, so a run of days stays small.
class TConsoleLogView final : public TLogView {
public:
    using TPrint = std::function<void(const QString& line)>;
    TConsoleLogView(const QString& tag, TPrint print);

    TLogModel& Model() override { return FModel; }
    const TLogModel& Model() const override { return FModel; }
    // Where the port object says new lines are there: those that ended are printed.
    void ScrollToEnd() override { Flush(false); }
    bool ReadOnly() const override { return true; }
    void SetReadOnly(bool) override {}
    qint64 CaretLine() const override { return qMax<qint64>(0, FModel.LineCount() - 1); }
    bool IsShown() const override { return true; }
    bool InWindow() const override { return true; }
    void SetOnKeyDown(TKeyHandler) override {}
    void SetOnKeyPress(TKeyHandler) override {}
    // all: the last line too, ended or not.
    void Flush(bool all);

private:
    QString FTag;
    TPrint FPrint;
    TLogModel FModel;
    qint64 FPrinted = 0;
    // When the unfinished last line began.
    qint64 FOpenLine = -1;
    qint64 FOpenSinceMs = 0;
};

class TCvHeadlessRun : public QObject, public TCvScriptHost {
    Q_OBJECT
public:
    // out: where the log lines go; err: where the run's own errors go.
    explicit TCvHeadlessRun(FILE* out = stdout, FILE* err = stderr);
    ~TCvHeadlessRun() override;

    // Runs options.Script (with options.Device as its port when given) and returns the exit
    // code: 0 passed, 1 failed, timed out or stopped, 2 a bad script or argument. Needs a
    // QCoreApplication; returns when the script has ended.
    int Run(const TCvCommandLine& options);
    // Stops the script (SIGINT, SIGTERM).
    void Stop();

    TCvComPortObj* OpenPort(const QString& name, const TCvCommandLine& options, QString* error) override;
    void ScriptMessage(const QString& line) override;

private:
    void Print(const QString& line);

    struct TPort {
        QString Device;
        std::unique_ptr<TConsoleLogView> View;
        std::unique_ptr<TCvComPortObj> Obj;
    };
    FILE* FOut;
    FILE* FErr;
    std::vector<TPort> FPorts;
    std::unique_ptr<TCvScriptRun> FRun;
};

// main()'s part: the application object, SIGINT and SIGTERM, and the run.
int RunHeadlessScript(const TCvCommandLine& options, int argc, char** argv);
