#pragma once

// Network ports under test, with peers on loopback only.

#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TLogModel.h"
#include "TNetworkAddress.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <memory>

// Every byte value, `times` times over.
inline QByteArray AllBytes(int times = 1)
{
    QByteArray b;
    for (int t = 0; t < times; ++t)
        for (int i = 0; i < 256; ++i) b.append(char(i));
    return b;
}

// A TCP port number nothing listens on now.
inline quint16 FreePort()
{
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0)) return 0;
    return s.serverPort();
}

// A port object on a network port name, with its log view in a window.
struct NetObj {
    QWidget window;
    TLogMemo* memo = new TLogMemo(&window);
    std::unique_ptr<TCvComPortObj> obj;
    QByteArray received; // what the receive handler saw, when Collect() was asked for

    explicit NetObj(const QString& portName, int receiveFormat = rfAscii)
    {
        window.resize(600, 400);
        (new QVBoxLayout(&window))->addWidget(memo);
        obj = std::make_unique<TCvComPortObj>(nullptr, TNetworkAddress::Parse(portName).FullName());
        obj->CvComPortObjInit2(QString(), portName, br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                               receiveFormat, memo, false, false, false, false, true);
    }
    // Takes the receive handler over and keeps the bytes (the port layer alone).
    void Collect()
    {
        obj->SetOnRxChar([this](TCustomComPort* p, int count) {
            QByteArray b(count, Qt::Uninitialized);
            b.truncate(p->Read(b.data(), count));
            received += b;
        });
    }
    QStringList Lines() const
    {
        obj->FlushUiQueue();
        QStringList out;
        for (qint64 i = 0; i < memo->Model().LineCount(); ++i) out << memo->Model().Line(i);
        return out;
    }
    bool Has(const QString& text) const
    {
        const QStringList l = Lines();
        return std::any_of(l.cbegin(), l.cend(), [&](const QString& s) { return s.contains(text); });
    }
    int Count(const QString& text) const
    {
        const QStringList l = Lines();
        return int(std::count_if(l.cbegin(), l.cend(), [&](const QString& s) { return s.contains(text); }));
    }
};

// The bytes a closed link said it could not send ("N bytes were not sent to ...").
inline qint64 NotSentTold(const QStringList& lines)
{
    static const QRegularExpression told(QStringLiteral("(\\d+) bytes were not sent to "));
    qint64 n = 0;
    for (const QString& line : lines)
        if (const QRegularExpressionMatch m = told.match(line); m.hasMatch()) n += m.captured(1).toLongLong();
    return n;
}

// Reads from a peer socket until the connection has closed; what it took (or what came until
// the time-out ran out).
inline QByteArray ReadPeerToEnd(QTcpSocket* s, int timeoutMs = 20000)
{
    s->setReadBufferSize(0);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (s->state() != QAbstractSocket::UnconnectedState && t.elapsed() < timeoutMs) {
        if (s->bytesAvailable() == 0) QTest::qWait(5);
        got += s->readAll();
    }
    return got + s->readAll();
}

// Reads from a peer socket until `count` bytes arrived (or the time-out ran out).
inline QByteArray ReadPeer(QTcpSocket* s, qint64 count, int timeoutMs = 20000)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < count && t.elapsed() < timeoutMs) {
        if (s->bytesAvailable() == 0) QTest::qWait(5);
        got += s->readAll();
    }
    return got;
}
