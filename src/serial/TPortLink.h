#pragma once

#include <QObject>
#include <QString>

#include <memory>

struct TLineSettings;

// What a port moves its bytes through when its name is no local serial line but a network
// address. The port keeps its write queue, time-outs, receive events and settings; the link
// only carries bytes, line settings and modem lines. Nothing here ever waits: connecting,
// name look-ups and a full socket are all driven by the event loop.
class TPortLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts connecting or listening; 0, or the errno why it cannot start at all.
    virtual int Start() = 0;
    // No more bytes are taken or handed up. What was taken and waits to go out still has a
    // short grace time (see the kinds); what it could not send is told through Message.
    virtual void Stop() = 0;
    // Stop, then free the link once that grace time is over. Its owner lets go of it, and
    // hears nothing more from it but Message.
    void Dispose();

    // Received bytes waiting, and reading them.
    virtual qint64 Available() const = 0;
    virtual qint64 Read(char* data, qint64 count) = 0;
    // Takes what it can now: the count taken, 0 when it takes nothing now (Writable follows
    // when it may), or -errno.
    virtual qint64 Write(const char* data, qint64 count) = 0;

    // Line settings for the far end; 0 or errno (the plain kinds have nothing to set).
    virtual int ApplyLine(const TLineSettings& settings);
    // Modem lines as TIOCM_* bits: 0 or errno; ENOTTY when the link carries none.
    virtual int SetModemLine(int bit, bool on);
    virtual int ModemStatus(int* bits);
    // The break condition on the far line: 0 or errno; ENOTTY when the link carries none.
    virtual int SetBreak(bool on);

    // Dial again by itself, with growing pauses, when the connection drops or cannot be made.
    void SetRedial(bool on) { FRedial = on; }
    bool Redial() const { return FRedial; }

signals:
    void Readable();
    void Writable();
    // Given up for good (refused, name not resolved, dropped without re-dialling): the errno
    // that comes nearest. The reason has been told through Message.
    void Lost(int error);
    // A line for the port's log: connected, dropped and why, dialling again.
    void Message(const QString& text);

protected:
    // The link goes on sending after Stop (nothing is freed before it is done).
    virtual bool Closing() const { return false; }
    // Called by a kind when its closing has ended.
    void ClosingEnded();

private:
    bool FRedial = false;
    bool FDisposed = false;
};

// The link a port name stands for, or nullptr when the name is a local serial line.
std::unique_ptr<TPortLink> CreatePortLink(const QString& port);
