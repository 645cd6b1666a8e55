#pragma once

#include "CvTransfer.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QFile;
class QLabel;
class QPushButton;
class QStatusBar;
class QWidget;
class TCvComPortObj;
class TCvPortTransferLink;
class TCvTransfer;
struct TCvXmodemTimes;

// Sends a loaded file to a port from the event loop, raw (chunks go out as the device takes
// them) or with XMODEM, XMODEM-1K, YMODEM or ZMODEM, and receives files with those. Progress
// shows in a status panel, with the cancel button Button26 in the status bar. While a
// protocol transfer runs the port's received bytes are its own (TCvPortTransferLink).
// Closing the port stops it; sends asked for meanwhile wait until it has ended.
class TCvFileSender : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MaxFileSize = 5242880;

    // Button26 goes into bar; progress is shown in panel, whose text comes back at the end.
    TCvFileSender(QStatusBar* bar, QLabel* panel, QObject* parent = nullptr);
    ~TCvFileSender() override;

    // Read-only, shared-locked against writers; none when it cannot be opened so.
    static QFile* OpenFileStream(const QString& FileName);

    // Loads the file for Obj, with what was loaded in its log; a file too big is refused there.
    void Load(TCvComPortObj* Obj, const QString& Path);
    // Starts the send of the loaded file with Protocol; Lock stay disabled while it runs.
    // CancelCaption is Button26's text.
    void Start(TCvComPortObj* Obj, const QList<QWidget*>& Lock, const QString& CancelCaption,
               TCvTransferProtocol Protocol = TCvTransferProtocol::Raw);
    // Receives files with Protocol (not Raw) into Folder.
    void Receive(TCvComPortObj* Obj, TCvTransferProtocol Protocol, const QString& Folder,
                 const QList<QWidget*>& Lock, const QString& CancelCaption);
    void Cancel();
    // The same without waiting for the peer: the transfer has ended when it returns.
    void CancelNow();
    // A file goes out or comes in: the raw send or any protocol transfer.
    bool Sending() const { return FSend != nullptr; }
    // The protocol transfer running, if any.
    TCvTransfer* Transfer() const;
    // The waits of XMODEM and YMODEM transfers started from now on (tests shorten them).
    void SetXmodemTimes(const TCvXmodemTimes& Times);
    // The progress of a protocol transfer as the file page shows it; empty at its end.
    std::function<void(const QString&)> OnProgressText;
    // A protocol transfer begins (true) or has ended (false).
    std::function<void(bool)> OnRunning;
    // A send asked for during a file send waits for its end; true when it was held.
    bool Hold(TCvComPortObj* Obj, std::function<void()> Send);
    // A turn of loop sending skipped during the send; true for the first one.
    bool SkipTurn();

    QPushButton* CancelButton() const { return FButton26; }

    // The file loaded, open for reading, and its name; none and empty when nothing is loaded.
    QFile* FileStream() const { return FFile.get(); }
    QString FullFileNameLoaded() const { return FFileName; }

private:
    enum class TEnd { Done, Cancelled, Closed, Failed, ReadFailed };
    struct TSend {
        QPointer<TCvComPortObj> Port;
        TCvTransferProtocol Protocol = TCvTransferProtocol::Raw;
        bool Receiving = false;
        // Declared before the engine: it goes last, and takes the port's bytes back.
        std::unique_ptr<TCvPortTransferLink> Link;
        std::unique_ptr<TCvTransfer> Engine;
        qint64 ProgressShownMs = 0;
        qint64 Total = 0;
        qint64 Sent = 0;
        // Bytes read from the file so far, and why it could not be read to Total.
        qint64 Read = 0;
        QString ReadError;
        bool InFlight = false;
        bool Stepping = false;
        bool Cancelled = false;
        bool HeldTold = false;
        std::optional<TEnd> Ended;
        int SkippedTurns = 0;
        qint64 ProgressMs = 0;
        QList<std::function<void()>> Held;
        QList<QPointer<QWidget>> Locked;
        QString PanelText;
    };
    void Step();
    void ChunkDone(const QByteArray& chunk, qint64 written, int error);
    void End(TEnd how);
    void ShowProgress();
    void Unload();
    void Begin(TCvComPortObj* Obj, const QList<QWidget*>& Lock, const QString& CancelCaption);
    void StartEngine(std::unique_ptr<TCvTransfer> Engine);
    void EngineProgress(const TCvTransferProgress& Progress);
    void EngineFinished(const TCvTransferResult& Result);
    void Release(std::unique_ptr<TSend> fs);

    QPushButton* FButton26;
    QLabel* FPanel;
    std::unique_ptr<QFile> FFile;
    QString FFileName;
    // The size the load told: what is sent, no more.
    qint64 FFileSize = 0;
    std::unique_ptr<TSend> FSend;
    std::unique_ptr<TCvXmodemTimes> FTimes;
    // The link of a transfer that stopped, while it drops what the peer still sends.
    std::unique_ptr<TCvPortTransferLink> FDraining;
};
