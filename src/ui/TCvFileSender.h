#pragma once

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

// Sends a loaded file to a port from the event loop: chunks go out as the device takes
// them, with progress in a status panel and the cancel button Button26 in the status bar.
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
    // Starts the send of the loaded file; Lock stay disabled while it runs. CancelCaption is
    // Button26's text.
    void Start(TCvComPortObj* Obj, const QList<QWidget*>& Lock, const QString& CancelCaption);
    void Cancel();
    bool Sending() const { return FSend != nullptr; }
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

    QPushButton* FButton26;
    QLabel* FPanel;
    std::unique_ptr<QFile> FFile;
    QString FFileName;
    // The size the load told: what is sent, no more.
    qint64 FFileSize = 0;
    std::unique_ptr<TSend> FSend;
};
