#pragma once

// One window per configuration folder. The first window listens on a local socket in the
// user's runtime folder; a later `corvane DEVICE` hands its arguments to it and ends, so two
// processes never write the same settings files at their close.

#include "CvCommandLine.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

class TCvInstanceServer : public QObject {
    Q_OBJECT
public:
    // A request is one line of JSON; longer ones are refused.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;
    static constexpr int kTimeoutMs = 5000;

    explicit TCvInstanceServer(QObject* parent = nullptr);
    ~TCvInstanceServer() override;

    // The socket of the window that uses cfgDir: in $XDG_RUNTIME_DIR (the user's alone),
    // named after the folder.
    static QString SocketPath(const QString& cfgDir);
    // Listens for the window of cfgDir. False when another process listens there already,
    // or when no socket can be made (told by Error()).
    bool Listen(const QString& cfgDir);
    bool Listening() const;
    QString Error() const { return FError; }

signals:
    // Another start asks for this; the answer has gone back already.
    void Requested(const TCvCommandLine& options);

private:
    void Take(QLocalSocket* socket);

    QLocalServer* FServer;
    QString FError;
};

enum class THandOver {
    Taken,    // the running window took the arguments
    NoWindow, // nobody listens: this process is to start the window
    Refused,  // the window answered with an error (*reply says which)
    NoAnswer, // a window listens but did not answer in time
};
// Hands the arguments (TCvCommandLine::Arguments) to the window of cfgDir. *reply: the
// window's answer, its pid when Taken.
THandOver HandOver(const QString& cfgDir, const QStringList& arguments, QString* reply,
                   int timeoutMs = TCvInstanceServer::kTimeoutMs);

// What `corvane --list` prints: the serial ports of sysRoot (device nodes and udev's links
// under devRoot), the virtual and network ports kept in settingsFile, and, with withHid,
// the HID devices present.
QString ListDevicesText(const QString& sysRoot, const QString& devRoot, const QString& settingsFile,
                        bool withHid);
