#pragma once

#include <QByteArray>
#include <QString>

// What the answer rules and the scripts see of a port's received data: every read, on the
// port object's (GUI) thread, right after the bytes came in and before they are shown, in
// every receive format. An observer only takes the data: it must not send, log or block
// here (the port is in the middle of its receive handler); work is done later, from the
// event loop or on another thread.
class TCvReceiveObserver {
public:
    virtual ~TCvReceiveObserver() = default;
    // bytes: as read. text: the port's own decoding of them (its encoding, its line breaks
    // brought to CR LF) where the port decodes text (the ASCII format), else nullptr.
    virtual void Received(const QByteArray& bytes, const QString* text) = 0;
    // Bytes taken and not yet used (a console still interpreting a flood): beyond a bound the
    // port reads nothing more until the observer has caught up, as it does for its own views.
    virtual qint64 Waiting() const { return 0; }
};
