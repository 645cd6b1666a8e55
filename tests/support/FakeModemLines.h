#pragma once

// Stands in for the modem lines of a device: records every request the port makes (the
// break on and off among them) and answers TIOCMGET with the state the test sets. Put in place for the
// lifetime of the object. Header-only: tests that use it link corvane_serial.

#include "SerialLine.h"

#include <QList>

#include <cerrno>
#include <sys/ioctl.h>

struct FakeModemLines : TModemLines {
    struct Request {
        unsigned long request;
        int bits;
        bool operator==(const Request& o) const { return request == o.request && bits == o.bits; }
    };

    QList<Request> requests;
    int inputs = 0; // TIOCM_* bits TIOCMGET answers with
    int error = 0;  // when set, every request fails with it (ENOTTY: no modem lines)
    int lastFd = -1;

    FakeModemLines() { FBefore = SetModemLines(this); }
    ~FakeModemLines() override { SetModemLines(FBefore); }
    FakeModemLines(const FakeModemLines&) = delete;
    FakeModemLines& operator=(const FakeModemLines&) = delete;

    int Control(int fd, unsigned long request, int* bits) override
    {
        lastFd = fd;
        requests.append({request, request == TIOCMGET ? 0 : *bits});
        if (error) return error;
        if (request == TIOCMGET) *bits = inputs | FOut;
        else if (request == TIOCMBIS) FOut |= *bits;
        else if (request == TIOCMBIC) FOut &= ~*bits;
        return 0;
    }
    // The output levels as the requests left them.
    int Outputs() const { return FOut; }
    // The requests other than TIOCMGET, in order.
    QList<Request> Writes() const
    {
        QList<Request> out;
        for (const Request& r : requests)
            if (r.request != TIOCMGET) out << r;
        return out;
    }
    int Gets() const
    {
        int n = 0;
        for (const Request& r : requests) n += r.request == TIOCMGET;
        return n;
    }

private:
    TModemLines* FBefore = nullptr;
    int FOut = 0;
};

inline char* toString(const FakeModemLines::Request& r)
{
    const char* name = r.request == TIOCMBIS   ? "TIOCMBIS"
                       : r.request == TIOCMBIC ? "TIOCMBIC"
                       : r.request == TIOCMGET ? "TIOCMGET"
                       : r.request == TIOCSBRK ? "TIOCSBRK"
                       : r.request == TIOCCBRK ? "TIOCCBRK"
                                               : "?";
    return qstrdup(QByteArray(name).append(" 0x").append(QByteArray::number(r.bits, 16)).constData());
}
