#pragma once

// Devices put straight into a window for tests of the panels that act on the selected
// device: a port object on a real pty, in CvComPortList and the device list (selected),
// its own log view placed and shown in the window, opened. The device side of the pty is
// `pty`; the window deletes the port object when it goes, so declare the WindowDevice
// before the window.

#include "PtyPair.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TLogModel.h"
#include "TSplitViewForm.h"
#include "UiFind.h"

#include <QComboBox>
#include <QTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

// The lines a log view shows, top to bottom.
inline QStringList LogLines(const TLogView* memo)
{
    QStringList out;
    const TLogModel& m = memo->Model();
    for (qint64 i = 0; i < m.LineCount(); ++i) out << m.Line(i);
    return out;
}

struct WindowDevice {
    std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>();
    TCvComPortObj* obj = nullptr;
    // Its log view, placed in the window.
    TLogMemo* memo = nullptr;
    QString name;

    // The window must outlive nothing here: it deletes the port object when it goes. With a
    // path, the port is that device instead of this pty's (a relay's end).
    TCvComPortObj* Attach(TSplitViewForm& w, int receiveFormat = rfAscii, const QString& path = {})
    {
        name = QStringLiteral("Virtual Port (%1)").arg(path.isEmpty() ? pty->SlavePath() : path);
        obj = new TCvComPortObj(nullptr, name);
        memo = new TLogMemo(Ui::Find<QWidget>(w, QStringLiteral("Panel1")));
        memo->resize(300, 200);
        memo->show();
        obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                               receiveFormat, memo, false, false, false, false, true);
        w.Devices()->Adopt(name, obj);
        Ui::Find<QComboBox>(w, QStringLiteral("ComboBoxEx1"))->addItem(name);
        Ui::Find<QComboBox>(w, QStringLiteral("ComboBoxEx1"))
            ->setCurrentIndex(Ui::Find<QComboBox>(w, QStringLiteral("ComboBoxEx1"))->count() - 1);
        obj->Open();
        return obj;
    }

    QStringList Lines() const
    {
        obj->FlushUiQueue();
        return LogLines(obj->LogView());
    }
    // The device sends bytes; returns when the port object has taken them.
    void Receive(const QByteArray& bytes)
    {
        const qint64 before = obj->FComReceiveCount.load();
        QVERIFY(pty->Write(bytes));
        QTRY_COMPARE(obj->FComReceiveCount.load(), before + bytes.size());
    }
};

// The window's settings panel applied to the port object while the device manager does
// not apply it yet: the receive format of ComboBox7.
inline void SyncReceiveFormat(TSplitViewForm& w, TCvComPortObj* obj)
{
    const int want = Ui::Find<QComboBox>(w, QStringLiteral("ComboBox7"))->currentIndex();
    if (obj->FReceiveFormat.load() == want) return;
    const TCvComPortObjPara p = obj->GetConfiguration();
    obj->CvComPortObjInit2(p.ComportFullName, p.Port, p.BaudRate, p.DataBits, p.StopBits, p.ParityBits,
                           p.FlowControl, p.SendFormat, want, p.LogView, p.ShowDate, p.ShowTime,
                           p.ShowLineNumber, p.ShowSendedLog, p.HexModeWithString);
}

// The device side reading as fast as it can, on a thread of its own.
struct PtyDrain {
    explicit PtyDrain(int fd) : FFd(fd), FThread([this] { Run(); }) {}
    ~PtyDrain()
    {
        FStop = true;
        FThread.join();
    }
    QByteArray Data()
    {
        std::lock_guard lk(FMutex);
        return FData;
    }
    qint64 Size()
    {
        std::lock_guard lk(FMutex);
        return FData.size();
    }

private:
    void Run()
    {
        char buf[65536];
        while (!FStop) {
            const ssize_t n = ::read(FFd, buf, sizeof buf);
            if (n > 0) {
                std::lock_guard lk(FMutex);
                FData.append(buf, n);
            } else {
                ::usleep(500);
            }
        }
    }
    int FFd;
    std::atomic<bool> FStop{false};
    std::mutex FMutex;
    QByteArray FData;
    std::thread FThread;
};
