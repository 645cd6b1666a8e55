#include "TCvLrzszTransfer.h"

#include "CvMessages.h"
#include "CvReceivedFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {
// The device side is slower than the child: past this much queued for it, the child waits.
constexpr qint64 kMaxPending = 64 * 1024;
constexpr qsizetype kMaxToChild = 16 * 1024 * 1024;
constexpr int kReadChunk = 16 * 1024;
} // namespace

TCvLrzszTransfer::TCvLrzszTransfer(TCvTransferLink* Link, TDirection Direction, const QStringList& Paths,
                                   QObject* Parent)
    : TCvTransfer(Link, Parent), FDirection(Direction), FPaths(Paths)
{
    FProgress.Blocks = -1;
    if (FDirection == TDirection::Send) {
        qint64 total = 0;
        for (const QString& p : std::as_const(FPaths)) total += QFileInfo(p).size();
        FProgress.Total = total;
    }
}

TCvLrzszTransfer::~TCvLrzszTransfer()
{
    Release();
}

QString TCvLrzszTransfer::Program(TDirection Direction)
{
    return QStandardPaths::findExecutable(Direction == TDirection::Send ? u"sz"_s : u"rz"_s);
}

qint64 TCvLrzszTransfer::ChildPid() const
{
    return FProcess ? FProcess->processId() : 0;
}

void TCvLrzszTransfer::Start()
{
    if (Running() || IsFinished()) return;
    MarkStarted();
    const QString name = FDirection == TDirection::Send ? u"sz"_s : u"rz"_s;
    const QString program = Program(FDirection);
    if (program.isEmpty()) {
        Finish(TCvTransferEnd::Failed,
               Msg(u"ZMODEM needs the program %1 of the package lrzsz, which is not installed "
                   u"(sudo apt install lrzsz)"_s)
                   .arg(name));
        return;
    }
    QStringList args{u"-b"_s};
    QString workDir;
    if (FDirection == TDirection::Send) {
        if (FPaths.isEmpty()) {
            Finish(TCvTransferEnd::Failed, Msg(u"no file to send"_s));
            return;
        }
        // Given by name from its folder, so that sz announces the name only.
        workDir = QFileInfo(FPaths.first()).absolutePath();
        args << u"--"_s;
        for (const QString& p : std::as_const(FPaths)) args << QFileInfo(p).absoluteFilePath();
    } else {
        const QString folder = FPaths.value(0);
        const QFileInfo info(folder);
        if (!info.isDir() || !info.isWritable()) {
            Finish(TCvTransferEnd::Failed, Msg(u"can not write to the folder %1"_s).arg(folder));
            return;
        }
        FTempDir = std::make_unique<QTemporaryDir>(QDir(folder).filePath(u".corvane-zmodem-XXXXXX"_s));
        if (!FTempDir->isValid()) {
            Finish(TCvTransferEnd::Failed,
                   Msg(u"can not write to the folder %1: %2"_s).arg(folder, FTempDir->errorString()));
            return;
        }
        workDir = FTempDir->path();
        // Restricted twice: no absolute names, no "..", no sub-folders, no hidden files.
        args << u"-R"_s << u"-R"_s;
    }

    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        Finish(TCvTransferEnd::Failed,
               Msg(u"can not start %1: %2"_s).arg(name, QString::fromLocal8Bit(strerror(errno))));
        return;
    }
    FFd = pair[0];
    const int childFd = pair[1];
    ::fcntl(FFd, F_SETFL, ::fcntl(FFd, F_GETFL) | O_NONBLOCK);

    FProcess = new QProcess(this);
    FProcess->setProgram(program);
    FProcess->setArguments(args);
    FProcess->setWorkingDirectory(workDir);
    FProcess->setStandardInputFile(QProcess::nullDevice());
    FProcess->setStandardOutputFile(QProcess::nullDevice());
    // After Qt's own redirections: the socket becomes the child's terminal line.
    FProcess->setChildProcessModifier([childFd] {
        ::dup2(childFd, STDIN_FILENO);
        ::dup2(childFd, STDOUT_FILENO);
    });
    connect(FProcess, &QProcess::readyReadStandardError, this, &TCvLrzszTransfer::ReadStderr);
    connect(FProcess, &QProcess::finished, this, &TCvLrzszTransfer::ChildFinished);
    connect(FProcess, &QProcess::errorOccurred, this, [this, name](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            Finish(TCvTransferEnd::Failed, Msg(u"can not start %1: %2"_s).arg(name, FProcess->errorString()));
    });
    FReadNotifier = new QSocketNotifier(FFd, QSocketNotifier::Read, this);
    FWriteNotifier = new QSocketNotifier(FFd, QSocketNotifier::Write, this);
    FWriteNotifier->setEnabled(false);
    connect(FReadNotifier, &QSocketNotifier::activated, this, &TCvLrzszTransfer::ReadChild);
    connect(FWriteNotifier, &QSocketNotifier::activated, this, &TCvLrzszTransfer::WriteChild);
    FProcess->start();
    ::close(childFd);
    EmitProgress();
}

void TCvLrzszTransfer::Feed(const QByteArray& Bytes)
{
    if (!Running() || FChildDone || FFd < 0) return;
    if (FToChild.size() + Bytes.size() > kMaxToChild) {
        Finish(TCvTransferEnd::Failed, Msg(u"lrzsz does not read what the device sends"_s));
        return;
    }
    FToChild.append(Bytes);
    WriteChild();
}

void TCvLrzszTransfer::WriteChild()
{
    while (!FToChild.isEmpty() && FFd >= 0) {
        const ssize_t n = ::send(FFd, FToChild.constData(), size_t(FToChild.size()), MSG_NOSIGNAL);
        if (n > 0) {
            FToChild.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        // The child has gone: what it did not read is of no use.
        FToChild.clear();
    }
    if (FWriteNotifier) FWriteNotifier->setEnabled(!FToChild.isEmpty());
}

void TCvLrzszTransfer::ReadChild()
{
    if (FFd < 0) return;
    char buf[kReadChunk];
    while (FFd >= 0 && FLink->PendingBytes() < kMaxPending) {
        const ssize_t n = ::read(FFd, buf, sizeof buf);
        if (n > 0) {
            ++FWritesInFlight;
            const QPointer<TCvLrzszTransfer> self(this);
            FLink->Write(QByteArray(buf, n), [self](bool ok) {
                if (self) self->WriteDone(ok);
            });
            if (IsFinished()) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 && FReadNotifier) FReadNotifier->setEnabled(false); // the child closed its side
        break;
    }
    // The device is behind: the child waits on a full socket until it catches up.
    if (FReadNotifier && FFd >= 0 && FLink->PendingBytes() >= kMaxPending) FReadNotifier->setEnabled(false);
}

void TCvLrzszTransfer::WriteDone(bool ok)
{
    --FWritesInFlight;
    if (IsFinished()) return;
    if (!ok) {
        Finish(TCvTransferEnd::Failed, Msg(u"the port did not take the data"_s));
        return;
    }
    if (FChildDone) {
        if (FWritesInFlight == 0) Complete();
        return;
    }
    if (FReadNotifier && !FReadNotifier->isEnabled() && FLink->PendingBytes() < kMaxPending) {
        FReadNotifier->setEnabled(true);
        ReadChild();
    }
}

void TCvLrzszTransfer::ReadStderr()
{
    if (!FProcess) return;
    FStderr.append(FProcess->readAllStandardError());
    // Progress lines end with CR, others with LF.
    qsizetype start = 0;
    for (qsizetype i = 0; i < FStderr.size(); ++i) {
        const char c = FStderr.at(i);
        if (c != '\r' && c != '\n') continue;
        ParseStatus(QString::fromLocal8Bit(FStderr.mid(start, i - start)).trimmed());
        start = i + 1;
    }
    FStderr.remove(0, start);
    // A line that never ends is not kept for ever.
    if (FStderr.size() > 4096) FStderr.clear();
}

void TCvLrzszTransfer::ParseStatus(const QString& line)
{
    if (line.isEmpty()) return;
    static const QRegularExpression bytes(u"^Bytes (?:Sent|received):\\s*(\\d+)(?:/\\s*(\\d+))?"_s);
    static const QRegularExpression file(u"^(?:Sending|Receiving): (.+)$"_s);
    static const QRegularExpression retry(u"^Retry \\d+"_s);
    if (const QRegularExpressionMatch m = bytes.match(line); m.hasMatch()) {
        FFileBytes = m.captured(1).toLongLong();
        FProgress.Bytes = FDoneBytes + FFileBytes;
        if (FDirection == TDirection::Receive && !m.captured(2).isEmpty())
            FProgress.Total = FDoneBytes + m.captured(2).toLongLong();
        EmitProgress();
        return;
    }
    if (const QRegularExpressionMatch m = file.match(line); m.hasMatch()) {
        FDoneBytes += FFileBytes;
        FFileBytes = 0;
        FProgress.FileName = SafeReceivedFileName(m.captured(1));
        EmitProgress();
        return;
    }
    if (retry.match(line).hasMatch()) {
        ++FProgress.Retries;
        EmitProgress();
    }
    FLastLine = line;
}

void TCvLrzszTransfer::ChildFinished(int exitCode, QProcess::ExitStatus status)
{
    if (IsFinished()) return;
    ReadStderr();
    FChildDone = true;
    FExitCode = exitCode;
    FExitStatus = status;
    // What the child wrote last (the end of the session) still goes to the device.
    while (FFd >= 0 && !IsFinished()) {
        char buf[kReadChunk];
        const ssize_t n = ::read(FFd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        ++FWritesInFlight;
        const QPointer<TCvLrzszTransfer> self(this);
        FLink->Write(QByteArray(buf, n), [self](bool ok) {
            if (self) self->WriteDone(ok);
        });
    }
    if (!IsFinished() && FWritesInFlight == 0) Complete();
}

void TCvLrzszTransfer::Complete()
{
    if (IsFinished()) return;
    const QString name = FDirection == TDirection::Send ? u"sz"_s : u"rz"_s;
    if (FExitStatus != QProcess::NormalExit || FExitCode != 0) {
        QString reason = FExitStatus != QProcess::NormalExit
                             ? Msg(u"%1 stopped unexpectedly"_s).arg(name)
                             : Msg(u"%1 ended with code %2"_s).arg(name).arg(FExitCode);
        if (!FLastLine.isEmpty()) reason += u" ("_s + FLastLine + u")"_s;
        Finish(TCvTransferEnd::Failed, reason);
        return;
    }
    // What was moved, from the files rather than from the last progress line.
    if (FDirection == TDirection::Send) FProgress.Bytes = FProgress.Total;
    if (FDirection == TDirection::Receive) MoveReceived();
    if (!IsFinished()) Finish(TCvTransferEnd::Done);
}

void TCvLrzszTransfer::MoveReceived()
{
    const QString folder = FPaths.value(0);
    QStringList found;
    QDirIterator it(FTempDir->path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) found << it.next();
    found.sort();
    FProgress.Bytes = 0;
    for (const QString& path : std::as_const(found)) {
        const QString name = QFileInfo(path).fileName();
        QString error;
        const QString target = RenameWithoutOverwrite(path, folder, name, &error);
        if (target.isEmpty()) {
            Finish(TCvTransferEnd::Failed, Msg(u"can not save %1: %2"_s).arg(name, error));
            return;
        }
        FFiles << target;
        FProgress.Bytes += QFileInfo(target).size();
        const QString safe = SafeReceivedFileName(name);
        QString line =
            Msg(u"Received %1 (%2 bytes): %3"_s).arg(name, GroupedNumber(QFileInfo(target).size()), target);
        if (QFileInfo(target).fileName() != safe)
            line +=
                u" "_s + Msg(u"(%1 exists already: saved as %2)"_s).arg(safe, QFileInfo(target).fileName());
        emit Message(line);
    }
}

void TCvLrzszTransfer::Cancel()
{
    if (IsFinished()) return;
    if (Running()) {
        // The ZMODEM abort: CANs, then backspaces to wipe them from a terminal that shows them.
        FLink->Write(QByteArray(10, 0x18) + QByteArray(10, 0x08), {});
    }
    Finish(TCvTransferEnd::Cancelled, Msg(u"cancelled"_s));
}

void TCvLrzszTransfer::Stopped(TCvTransferEnd)
{
    Release();
}

void TCvLrzszTransfer::Release()
{
    if (FProcess) {
        FProcess->disconnect(this);
        if (FProcess->state() != QProcess::NotRunning) {
            FProcess->kill();
            FProcess->waitForFinished(2000);
        }
        FProcess->deleteLater();
        FProcess = nullptr;
    }
    delete FReadNotifier;
    delete FWriteNotifier;
    FReadNotifier = nullptr;
    FWriteNotifier = nullptr;
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    // An rz that did not finish leaves nothing behind.
    FTempDir.reset();
}
