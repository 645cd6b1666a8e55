// A device unplugged while the window is busy with it: receiving a flood, sending a 5 MiB file,
// sending in a loop. The port closes in order, its log is saved with the removal, the window
// goes on and nothing keeps spinning.
#include "PtyPair.h"
#include "TComUIHandleThread.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "TLogModel.h"
#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "TStringGrid.h"
#include "TUpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {
double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
} // namespace

class TstVanish : public QObject {
    Q_OBJECT
private slots:
    void unpluggedWhileBusy_data();
    void unpluggedWhileBusy();
};

void TstVanish::unpluggedWhileBusy_data()
{
    QTest::addColumn<QString>("activity");
    QTest::newRow("receive flood") << u"flood"_s;
    QTest::newRow("5 MiB file send") << u"file"_s;
    QTest::newRow("loop sending") << u"loop"_s;
}

void TstVanish::unpluggedWhileBusy()
{
    QFETCH(QString, activity);
    UiTestEnv env;
    PtyPair pty;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    Ui::Find<QCheckBox>(*w, u"CheckBox1"_s)->setChecked(false);
    QVERIFY(w->AddVirtualPort(pty.SlavePath()));
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name));
    w->ComboBoxEx1Change();
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    QPointer<TCvComPortObj> obj = w->GetDeciceByFullName(name);
    QVERIFY(obj && obj->Connected());
    const QString logFile = w->PortLogFileName(obj);

    // The event loop keeps turning through all of it.
    int ticks = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, this, [&] { ++ticks; });
    heartbeat.start(10);

    auto drain = std::make_unique<PtyDrain>(pty.MasterFd());
    const auto unplug = [&] {
        drain.reset();
        pty.CloseMaster();
    };
    if (activity == u"flood"_s) {
        const QByteArray chunk(65536, 'x');
        for (int i = 0; i < 16; ++i) pty.Write(chunk, 100);
        unplug();
    } else if (activity == u"file"_s) {
        QByteArray bytes(5 * 1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i) bytes[i] = char(i);
        const QString path = env.tmp.filePath(u"big.bin"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        w->OpenDialog1 = [&] { return path; };
        Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
        // The device stops reading before it goes, so the send is surely still running when it
        // vanishes; a fast machine could otherwise finish all 5 MiB first.
        drain.reset();
        QTimer::singleShot(300, this, unplug);
        Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
        // The send runs from the event loop; the unplugging ends it.
        QTRY_VERIFY_WITH_TIMEOUT(!w->SendingFile(), 20000);
        QVERIFY(obj.isNull() || obj->FComSentCount.load() < bytes.size());
    } else {
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(1, 1, u"1"_s);
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, u"ping"_s);
        Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(0);
        Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(10);
        Ui::Find<QPushButton>(*w, u"Button1"_s)->click();
        QVERIFY(Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
        QTest::qWait(200);
        unplug();
    }

    QTRY_VERIFY_WITH_TIMEOUT(obj.isNull() || !obj->Connected(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(LogLines(Ui::Find<TLogMemo>(*w, u"Memo1"_s))
                                     .filter(u"Device "_s + pty.SlavePath() + u" was removed"_s)
                                     .size() == 1,
                             20000);
    // Saved with the removal in it.
    QTRY_VERIFY_WITH_TIMEOUT(ReadFile(logFile).contains("Device " + name.toUtf8() + " was removed."), 20000);
    const int ticksThen = ticks;
    QTRY_VERIFY(ticks > ticksThen);
    // What was received before the end is still being shown (slowly under the sanitizers):
    // that is work, not spinning. Measure once the display has caught up.
    QElapsedTimer settle;
    settle.start();
    for (qint64 last = -1; obj && settle.elapsed() < 60000; QTest::qWait(100)) {
        const qint64 now = obj->FComProcessedCount.load();
        if (obj->UIHandleThread()->Suspended() && now == last) break;
        last = now;
    }
    // Nothing spins on the dead descriptor or in a loop that lost its port.
    QTest::qWait(300);
    const double before = CpuSeconds();
    QTest::qWait(500);
    QVERIFY2(CpuSeconds() - before < 0.25, "CPU kept busy after the device vanished");
    QVERIFY(env.boxes.isEmpty());
}

QTEST_MAIN(TstVanish)
#include "tst_vanish.moc"
