#pragma once

// ZMODEM through lrzsz, the implementation every Linux distribution ships: sz (send) or rz
// (receive) runs as a child process whose standard input and output are the port, joined
// through a socket pair that this object bridges to the link from the event loop. Its
// progress comes from its standard error. Received files land in a hidden folder inside
// the chosen one and are moved out under safe names once rz has finished well.

#include "CvTransfer.h"

#include <QProcess>

#include <memory>

class QSocketNotifier;
class QTemporaryDir;

class TCvLrzszTransfer : public TCvTransfer {
    Q_OBJECT
public:
    enum class TDirection { Send, Receive };
    // Send: Paths are the files. Receive: Paths holds the folder.
    TCvLrzszTransfer(TCvTransferLink* Link, TDirection Direction, const QStringList& Paths,
                     QObject* Parent = nullptr);
    ~TCvLrzszTransfer() override;

    // "sz" or "rz" as found on PATH; empty when lrzsz is not installed.
    static QString Program(TDirection Direction);

    void Start() override;
    void Cancel() override;
    void Feed(const QByteArray& Bytes) override;
    // The child's process id while it runs (tests), 0 otherwise.
    qint64 ChildPid() const;

private:
    void ReadChild();
    void WriteChild();
    void ReadStderr();
    void ParseStatus(const QString& line);
    void ChildFinished(int exitCode, QProcess::ExitStatus status);
    void Complete();
    void MoveReceived();
    void WriteDone(bool ok);
    void Stopped(TCvTransferEnd End) override;
    void Release();

    TDirection FDirection;
    QStringList FPaths;
    QProcess* FProcess = nullptr;
    int FFd = -1;
    QSocketNotifier* FReadNotifier = nullptr;
    QSocketNotifier* FWriteNotifier = nullptr;
    std::unique_ptr<QTemporaryDir> FTempDir;
    QByteArray FToChild;
    QByteArray FStderr;
    QString FLastLine;
    qint64 FFileBytes = 0; // of the file in progress
    qint64 FDoneBytes = 0; // of the files before it
    int FWritesInFlight = 0;
    bool FChildDone = false;
    int FExitCode = 0;
    QProcess::ExitStatus FExitStatus = QProcess::NormalExit;
};
