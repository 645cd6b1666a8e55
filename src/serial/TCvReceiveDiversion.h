#pragma once

#include <QByteArray>
#include <QObject>

#include <limits>

// Takes a port's received bytes in place of the log view, the captures and the plot while
// something else owns the line (a file transfer). Called on the port object's thread from
// its receive handler, with the bytes as read; the port object holds it weakly.
class TCvReceiveDiversion : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void BytesReceived(const QByteArray& bytes) = 0;
    // The most bytes the next read may take (at least one is read): where the owner may be
    // done within a few bytes, what follows them stays for the port's own display.
    virtual int ReceiveLimit() const { return std::numeric_limits<int>::max(); }
    // The port was closed, or is being destroyed: nothing more arrives.
    virtual void PortClosed() = 0;
};
