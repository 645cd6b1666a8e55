// Two ports of one window busy at once: a hex flood with replies on one, framed packets with
// a timed loop sending on the other. Every threaded path of a port (receive events, display
// worker, packet parser, loop timer) runs side by side; the sanitizer builds run this too.
#include "CvProtocol.h"
#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "TStringGrid.h"
#include "TUpDown.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace Qt::Literals::StringLiterals;

class TstTwoPorts : public QObject {
    Q_OBJECT
private slots:
    void floodAndPacketsWithLoopSending();
};

void TstTwoPorts::floodAndPacketsWithLoopSending()
{
    UiTestEnv env;
    WindowDevice hex, proto;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    hex.Attach(*w, rfHex);
    proto.Attach(*w, rfProtocol); // selected: the loop sends here

    // A header-only packet of a type that needs no answer.
    const TCvComPack pack = TCvComProtocal::CreatePack(5);
    const QByteArray packet(reinterpret_cast<const char*>(&pack), CvHeaderSize);
    constexpr int kPackets = 300, kLoops = 20;
    QByteArray flood(256 * 1024, Qt::Uninitialized);
    for (int i = 0; i < flood.size(); ++i) flood[i] = char(i * 7);

    PtyDrain hexPeer(hex.pty->MasterFd()), protoPeer(proto.pty->MasterFd());
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(1, 1, u"1"_s);
    Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"loop"_s);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(kLoops);
    Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(5);
    Ui::Find<QPushButton>(*w, u"Button1"_s)->click();
    QVERIFY(Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());

    // The devices wait as long as the ports need to take it (slow under the sanitizers).
    constexpr int kPatienceMs = 120000;
    std::atomic<bool> written{true}, finished{false};
    std::thread devices([&] {
        for (int i = 0; i < 16; ++i) {
            written =
                written && hex.pty->Write(flood.mid(i * flood.size() / 16, flood.size() / 16), kPatienceMs);
            QByteArray burst;
            for (int k = 0; k < kPackets / 16; ++k) burst += packet;
            written = written && proto.pty->Write(burst, kPatienceMs);
        }
        QByteArray rest;
        for (int k = 16 * (kPackets / 16); k < kPackets; ++k) rest += packet;
        written = written && proto.pty->Write(rest, kPatienceMs);
        finished = true;
    });
    // The GUI thread sends too while the workers display and parse.
    for (int i = 0; i < 20; ++i) {
        hex.obj->TorvinComSendData_Common(u"01 02 03"_s, sfHex);
        QTest::qWait(5);
    }
    // The GUI thread keeps receiving while the devices write.
    while (!finished) QTest::qWait(20);
    devices.join();
    QVERIFY(written);

    QTRY_COMPARE_WITH_TIMEOUT(hex.obj->FComReceiveCount.load(), qint64(flood.size()), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(hex.obj->FComProcessedCount.load(), qint64(flood.size()), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(proto.obj->GetPacks(), kPackets, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive(), 30000);
    QTRY_COMPARE(protoPeer.Size(), qint64(kLoops * 6));
    QCOMPARE(protoPeer.Data(), QByteArray("loop\r\n").repeated(kLoops));
    QTRY_COMPARE(hexPeer.Size(), qint64(20 * 3));
    // The hex view shows every byte: 16 to a line.
    const QStringList lines = hex.Lines();
    QVERIFY(lines.size() >= flood.size() / 16);
}

QTEST_MAIN(TstTwoPorts)
#include "tst_twoports.moc"
