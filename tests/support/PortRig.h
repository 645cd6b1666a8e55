#pragma once

#include "PtyPair.h"
#include "TComUIHandleThread.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"

#include <QTest>
#include <QVBoxLayout>

#include <memory>

// A port object opened on a real pty, its log view placed in a shown window, recording
// the callbacks it makes. Header-only: tests that use it link corvane_serial and corvane_widgets.
struct PortRig {
    struct Options {
        int receiveFormat = rfAscii;
        int sendFormat = sfAscii;
        bool lineNumbers = false;
        bool echo = false;
        bool date = false;
        bool time = false;
    };

    PtyPair pty;
    QWidget window;
    TLogMemo* memo = new TLogMemo(&window);
    std::unique_ptr<TCvComPortObj> obj;
    QList<int> callbacks;

    explicit PortRig(const Options& o)
    {
        window.resize(800, 600);
        (new QVBoxLayout(&window))->addWidget(memo);
        window.show();
        obj = std::make_unique<TCvComPortObj>(nullptr,
                                              QStringLiteral("Virtual Port (%1)").arg(pty.SlavePath()));
        obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone,
                               o.sendFormat, o.receiveFormat, memo, o.date, o.time, o.lineNumbers, o.echo,
                               true);
        obj->FCallBackFun = [this](int c) { callbacks.append(c); };
        obj->Open();
    }

    // The log view's lines, after everything the workers queued has been applied.
    QStringList Lines()
    {
        obj->FlushUiQueue();
        QStringList out;
        for (qint64 i = 0; i < memo->Model().LineCount(); ++i) out << memo->Model().Line(i);
        return out;
    }
    // Sends bytes from the device and waits until the port object has taken them.
    void Receive(const QByteArray& bytes)
    {
        const qint64 before = obj->FComReceiveCount.load();
        QVERIFY(pty.Write(bytes));
        QTRY_COMPARE(obj->FComReceiveCount.load(), before + bytes.size());
    }
    // Waits until the display worker has shown everything.
    void Settle()
    {
        QTRY_VERIFY(obj->UIHandleThread()->Suspended());
        QTest::qWait(20);
        obj->FlushUiQueue();
    }
};
