#include "CvMessageBox.h"
#include "CvProtocol.h"
#include "PortRig.h"
#include "TComUIHandleThread.h"
#include "TCvComPortObj.h"
#include "TCvSeries.h"
#include "TLogMemo.h"

#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

namespace {

class RecordingSeries : public TCvSeries {
public:
    QList<double> ys;
    void AddY(double y) override { ys.append(y); }
};

struct Rig : PortRig {
    explicit Rig(int receiveFormat = rfAscii, bool lineNumbers = false, bool echo = false, bool date = false,
                 bool time = false)
        : PortRig({receiveFormat, sfAscii, lineNumbers, echo, date, time})
    {}
};

QString Hex(const QByteArray& b)
{
    QString s;
    for (char c : b) s += QStringLiteral("%1 ").arg(quint8(c), 2, 16, QLatin1Char('0')).toUpper();
    return s;
}

} // namespace

class TstPortObj : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        SetInformationPresenter([this](const QString& c, const QString& t) { boxes << c + "|" + t; });
    }
    void cleanup()
    {
        SetInformationPresenter({});
        boxes.clear();
    }

    void creation();
    void applyingThePanel();
    void formatChangeKeepsWorkerState();
    void asciiWithoutPrefixes();
    void asciiWithLineNumberOnIdleWorker();
    void asciiBurstGoesThroughWorker();
    void asciiSplitMultibyteCharacter();
    void hexDisplay_data();
    void hexDisplay();
    void graphicPoints();
    void protocolBytesCountedAtOnce();
    void logWithoutViewIsSignalled();
    void portWithoutViewKeepsItsText();
    void clearLogResetsCounters();
    void sendAscii_data();
    void sendAscii();
    void sendHex();
    void sendHexTooLongIsCut();
    void sendOnClosedPort();
    void terminalPrompt();
    void promptWithTimePrefixSendsNothing();
    void ctrlCSendsEtx();
    void twoPortsAtOnce();

private:
    QStringList boxes;
};

void TstPortObj::creation()
{
    TCvComPortObj obj(nullptr, QStringLiteral("  USB Serial Port (COM3) "));
    QCOMPARE(obj.Port(), QStringLiteral("COM3"));
    QCOMPARE(obj.FComportFullName, QStringLiteral("USB Serial Port (COM3)"));
    QCOMPARE(obj.BaudRate(), int(br9600));
    QCOMPARE(obj.InputSize(), 2097152);
    QCOMPARE(obj.FHexModeFormatCount.load(), 16);
    QVERIFY(obj.FHexModeWithString.load());
    QCOMPARE(obj.FProtocalData, 1);
    QVERIFY(!obj.FNeedCRC16);
    QVERIFY(obj.UIHandleThread()->Suspended());
    QVERIFY(!obj.PackParserThread()->Awake());
    // Its own view until a window gives it one: text only, in no window.
    QVERIFY(obj.LogView());
    QVERIFY(!obj.LogView()->InWindow());
    QVERIFY(!obj.Connected());
}

void TstPortObj::applyingThePanel()
{
    TCvComPortObj obj(nullptr, QStringLiteral("USB Serial Port (COM3)"));
    TLogView* own = obj.LogView();
    obj.CvComPortObjInit2(QString(), QString(), br57600, dbSeven, sbTwoStopBits, prEven, fcCustom, sfHex,
                          rfAscii, nullptr, true, false, true, false, false);
    QCOMPARE(obj.FComportFullName, QStringLiteral("USB Serial Port (COM3)"));
    QCOMPARE(obj.Port(), QStringLiteral("COM3"));
    QCOMPARE(obj.LogView(), own); // no view given: the one it has is kept
    TLogMemo other;
    TLogView* const otherView = &other;
    obj.CvComPortObjInit2(QStringLiteral("X (COM9)"), QStringLiteral("COM9"), br57600, dbSeven, sbTwoStopBits,
                          prEven, fcCustom, sfHex, rfAscii, &other, true, false, true, false, false);
    QCOMPARE(obj.LogView(), otherView);
    QCOMPARE(obj.Port(), QStringLiteral("COM9"));
    const TCvComPortObjPara p = obj.GetConfiguration();
    QCOMPARE(p.BaudRate, int(br57600));
    QCOMPARE(p.DataBits, int(dbSeven));
    QCOMPARE(p.StopBits, int(sbTwoStopBits));
    QCOMPARE(p.ParityBits, int(prEven));
    QCOMPARE(p.FlowControl, int(fcNone)); // Custom keeps the flags, and no flag is set
    QCOMPARE(p.SendFormat, int(sfHex));
    QVERIFY(p.ShowDate && !p.ShowTime && p.ShowLineNumber && !p.HexModeWithString);
    obj.CvComPortObjInit2(QString(), QString(), br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfAscii, nullptr, false, false, false, false, true);
    QCOMPARE(obj.LogView(), otherView);
    int protocolCalls = 0;
    obj.FProtocolCallBackFun = [&](int) { ++protocolCalls; };
    obj.CvComPortObjInit2(QString(), QString(), br9600, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfProtocol, nullptr, false, false, false, false, true);
    QCOMPARE(protocolCalls, 0);
    // Let go of the window's view: back to its own.
    obj.SetLogView(nullptr);
    QCOMPARE(obj.LogView(), own);
}

void TstPortObj::formatChangeKeepsWorkerState()
{
    Rig rig(rfHex);
    // Suspended worker: buffers emptied, stays suspended.
    rig.obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                               rfAscii, rig.memo, false, false, false, false, true);
    QVERIFY(rig.obj->UIHandleThread()->Suspended());
    QVERIFY(rig.obj->InternalBufferCopy().isEmpty());
    // Same format again: nothing changes, the packets stay.
    rig.obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                               rfProtocol, rig.memo, false, false, false, false, true);
    rig.Receive(QByteArray::fromHex("c6bf0a00000001000a00"));
    QTRY_COMPARE(rig.obj->GetPacks(), 1);
    rig.obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                               rfProtocol, rig.memo, false, false, false, false, true);
    QCOMPARE(rig.obj->GetPacks(), 1);
    rig.obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                               rfHex, rig.memo, false, false, false, false, true);
    QCOMPARE(rig.obj->GetPacks(), 0);
}

void TstPortObj::asciiWithoutPrefixes()
{
    Rig rig;
    rig.Receive("AB");
    rig.Receive("C\r\nD");
    QCOMPARE(rig.Lines(), QStringList({"ABC", "D"}));
    QCOMPARE(rig.obj->FComProcessedCount.load(), qint64(6));
    QVERIFY(!rig.callbacks.isEmpty());
}

void TstPortObj::asciiWithLineNumberOnIdleWorker()
{
    Rig rig(rfAscii, true);
    rig.Receive("hello");
    QCOMPARE(rig.Lines(), QStringList({"00| hello"}));
    rig.Receive(" world\r\nnext");
    QCOMPARE(rig.Lines(), QStringList({"00| hello world", "01| next"}));
}

void TstPortObj::asciiBurstGoesThroughWorker()
{
    Rig rig(rfAscii, true);
    QByteArray burst;
    for (int i = 0; i < 60; ++i) burst += "line " + QByteArray::number(i) + "\r\n";
    rig.Receive(burst);
    rig.Settle();
    const QStringList lines = rig.Lines();
    // The burst ends its last line: an empty numbered line waits for the next text, as
    // after a short chunk.
    QCOMPARE(lines.size(), 61);
    QCOMPARE(lines.last(), QStringLiteral("60| "));
    for (int i = 0; i < 60; ++i)
        QCOMPARE(lines[i], QStringLiteral("%1| line %2").arg(i, 2, 10, QLatin1Char('0')).arg(i));
    QCOMPARE(rig.obj->FComProcessedCount.load(), qint64(burst.size() - 60 * 2)); // lines without their CR LF
}

void TstPortObj::asciiSplitMultibyteCharacter()
{
    Rig rig;
    const QByteArray zh = QStringLiteral("中文").toUtf8();
    rig.Receive(zh.left(2));
    rig.Receive(zh.mid(2));
    QCOMPARE(rig.Lines(), QStringList({QStringLiteral("中文")}));
}

void TstPortObj::hexDisplay_data()
{
    QTest::addColumn<int>("perLine");
    QTest::addColumn<bool>("withString");
    QTest::addColumn<QStringList>("lines");
    const QByteArray a = "ABCDEFGHIJKLMNOP", b = "QRST";
    QTest::newRow("16 with text") << 16 << true
                                  << QStringList{Hex(a).trimmed() + "   ABCDEFGHIJKLMNOP",
                                                 Hex(b).leftJustified(48, ' ') + "   QRST"};
    QTest::newRow("16 without text") << 16 << false << QStringList{Hex(a), Hex(b)};
    QTest::newRow("none with text") << 0 << true
                                    << QStringList{Hex(a + b).trimmed() + "   ABCDEFGHIJKLMNOPQRST"};
    QTest::newRow("32 without text") << 32 << false << QStringList{Hex(a + b)};
}

void TstPortObj::hexDisplay()
{
    QFETCH(int, perLine);
    QFETCH(bool, withString);
    QFETCH(QStringList, lines);
    Rig rig(rfHex);
    rig.obj->FHexModeFormatCount = perLine;
    rig.obj->FHexModeWithString = withString;
    rig.Receive("ABCDEFGHIJKLMNOPQRST");
    rig.Settle();
    QCOMPARE(rig.Lines(), lines);
    QCOMPARE(rig.obj->FComProcessedCount.load(), qint64(20));
    QVERIFY(rig.obj->InternalBufferCopy().isEmpty());
}

void TstPortObj::graphicPoints()
{
    Rig rig(rfGraphic);
    RecordingSeries series;
    rig.obj->SetSeries(&series);
    rig.callbacks.clear();
    rig.Receive(QByteArray::fromHex("0001807fff"));
    rig.Settle();
    QCOMPARE(series.ys, QList<double>({0, 1, 128, 127, 255}));
    QCOMPARE(rig.callbacks.count(1), 5);
    // A destroyed series is never used again.
    {
        RecordingSeries gone;
        rig.obj->SetSeries(&gone);
    }
    rig.Receive("xy");
    rig.Settle();
    QCOMPARE(series.ys.size(), 5);
}

void TstPortObj::protocolBytesCountedAtOnce()
{
    Rig rig(rfProtocol);
    rig.Receive("\x01\x02\x03");
    QCOMPARE(rig.obj->FComProcessedCount.load(), qint64(3));
    QVERIFY(rig.obj->UIHandleThread()->Suspended());
}

void TstPortObj::logWithoutViewIsSignalled()
{
    // No window gave it a view: the line goes to whoever shows it (a message box in the
    // window), and the port object opens nothing itself.
    TCvComPortObj obj(nullptr, QStringLiteral("USB Serial Port (COM3)"));
    QSignalSpy told(&obj, &TCvComPortObj::NoViewMessage);
    obj.Log(QStringLiteral("hi"));
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.at(0).at(0).toString(), QStringLiteral("USB Serial Port (COM3)"));
    QCOMPARE(told.at(0).at(1).toString(), QStringLiteral("USB Serial Port (COM3), hi"));
    QVERIFY(boxes.isEmpty());
    QCOMPARE(obj.LogView()->Model().LineCount(), 0);
}

void TstPortObj::portWithoutViewKeepsItsText()
{
    // Opened on a device without a view: what it receives goes into its own text, which is
    // saved like any log; nothing is shown, so nothing clears it.
    PtyPair pty;
    TCvComPortObj obj(nullptr, QStringLiteral("Virtual Port (%1)").arg(pty.SlavePath()));
    obj.CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                          rfAscii, nullptr, false, false, false, false, true);
    QSignalSpy told(&obj, &TCvComPortObj::NoViewMessage);
    obj.Open();
    QVERIFY(obj.Connected());
    QVERIFY(pty.Write("AB\r\nCD"));
    QTRY_COMPARE(obj.FComReceiveCount.load(), qint64(6));
    QTRY_VERIFY(obj.UIHandleThread()->Suspended());
    obj.FlushUiQueue();
    const TLogModel& own = obj.LogView()->Model();
    QCOMPARE(own.LineCount(), 2);
    QCOMPARE(own.Line(0), QStringLiteral("AB"));
    QCOMPARE(own.Line(1), QStringLiteral("CD"));
    obj.ClearLog();
    QCOMPARE(own.LineCount(), 2);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("own.log"));
    QVERIFY(obj.SaveLog(path));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), QByteArray("AB\r\nCD\r\n"));
    // A send's failure on the closed port is a line for the log: signalled, not boxed.
    obj.Close();
    told.clear();
    obj.TorvinComSendData_Common(QStringLiteral("x"), sfAscii);
    QCOMPARE(told.size(), 1);
    QCOMPARE(told.at(0).at(1).toString(),
             obj.FComportFullName + QStringLiteral(", Device was closed,please open a device."));
    QVERIFY(boxes.isEmpty());
}

void TstPortObj::clearLogResetsCounters()
{
    Rig rig;
    rig.Receive("abc");
    rig.obj->TorvinComSendData_Common(QStringLiteral("x"), sfAscii);
    rig.callbacks.clear();
    rig.obj->ClearLog();
    QCOMPARE(rig.obj->FComReceiveCount.load(), qint64(0));
    QCOMPARE(rig.obj->FComProcessedCount.load(), qint64(0));
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(0));
    QCOMPARE(rig.Lines(), QStringList());
    QCOMPARE(rig.callbacks, QList<int>({0}));
}

void TstPortObj::sendAscii_data()
{
    QTest::addColumn<int>("receiveFormat");
    QTest::addColumn<int>("op"); // 0 common, 1 multi, 2 terminal
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("common, ascii rx")
        << int(rfAscii) << 0 << QByteArray("ab\r\n") << QStringList{"00| > ab", "01| "};
    QTest::newRow("common, hex rx") << int(rfHex) << 0 << QByteArray("ab\r\n") << QStringList{"00| > ab"};
    QTest::newRow("multi") << int(rfHex) << 1 << QByteArray("ab\r\n") << QStringList{"00| > ab", "01| "};
    QTest::newRow("terminal") << int(rfAscii) << 2 << QByteArray("ab") << QStringList{};
}

void TstPortObj::sendAscii()
{
    QFETCH(int, receiveFormat);
    QFETCH(int, op);
    QFETCH(QByteArray, wire);
    QFETCH(QStringList, lines);
    Rig rig(receiveFormat, true, true);
    const QString text = QStringLiteral("ab");
    if (op == 0) QVERIFY(rig.obj->TorvinComSendData_Common(text, sfAscii));
    else if (op == 1) rig.obj->TorvinComSendData_MultiTimes(text, sfAscii);
    else rig.obj->TorvinComSendData_Terminal(text, sfAscii);
    QCOMPARE(rig.pty.Read(wire.size()), wire);
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(wire.size()));
    QCOMPARE(rig.Lines(), lines);
}

void TstPortObj::sendHex()
{
    Rig rig(rfAscii, true, true);
    rig.obj->TorvinComSendData_MultiTimes(QStringLiteral("01 02 03\r\n"), sfHex);
    QCOMPARE(rig.pty.Read(3), QByteArray("\x01\x02\x03"));
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(3));
    QCOMPARE(rig.Lines(), QStringList({"00| > 01 02 03 "}));
    rig.obj->TorvinComSendData_Common(QStringLiteral("aB"), sfHex);
    QCOMPARE(rig.pty.Read(1), QByteArray("\xAB"));
    QCOMPARE(rig.Lines(), QStringList({"00| > 01 02 03 ", "01| > AB ", "02| "}));
    rig.obj->TorvinComSendData_Terminal(QStringLiteral("ff"), sfHex);
    QCOMPARE(rig.pty.Read(1), QByteArray("\xFF"));
    QCOMPARE(rig.Lines().size(), 3);
}

void TstPortObj::sendHexTooLongIsCut()
{
    Rig rig(rfAscii, false, false);
    QString text;
    for (int i = 0; i < 1030; ++i) text += QStringLiteral("%1 ").arg(i & 0xFF, 2, 16, QLatin1Char('0'));
    rig.obj->TorvinComSendData_Common(text, sfHex);
    QCOMPARE(rig.pty.Read(2000, 1000).size(), 1024);
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(1024));
    QVERIFY(rig.Lines().join('\n').contains(QStringLiteral("6 bytes were not sent")));
}

void TstPortObj::sendOnClosedPort()
{
    Rig rig;
    rig.obj->Close();
    rig.obj->TorvinComSendData_Common(QStringLiteral("ab"), sfAscii);
    rig.obj->TorvinComSendData_Common(QStringLiteral("01"), sfHex);
    const quint8 b = 1;
    QVERIFY(!rig.obj->TorvinComSendBuffer(&b, 1));
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(0));
    QCOMPARE(rig.Lines(), QStringList(3, QStringLiteral("Device was closed,please open a device.")));
}

void TstPortObj::terminalPrompt()
{
    Rig rig(rfAscii, true);
    QTest::keyClick(rig.memo, Qt::Key_Return);
    QVERIFY(!rig.memo->ReadOnly());
    QCOMPARE(rig.Lines(), QStringList({"00| >"}));
    QTest::keyClicks(rig.memo, QStringLiteral("helpx"));
    QTest::keyClick(rig.memo, Qt::Key_Backspace);
    QCOMPARE(rig.Lines(), QStringList({"00| >help"}));
    // Arrows are swallowed, the prompt cannot be erased.
    QTest::keyClick(rig.memo, Qt::Key_Left);
    QTest::keyClick(rig.memo, Qt::Key_Return);
    QCOMPARE(rig.pty.Read(4), QByteArray("help"));
    QVERIFY(rig.memo->ReadOnly());
    QCOMPARE(rig.Lines(), QStringList({"00| >help", "01| "}));
    QTest::keyClick(rig.memo, Qt::Key_Return);
    for (int i = 0; i < 5; ++i) QTest::keyClick(rig.memo, Qt::Key_Backspace);
    QCOMPARE(rig.Lines().last(), QStringLiteral("02| >"));
    // A receive event ends the prompt.
    rig.Receive("z");
    QVERIFY(rig.memo->ReadOnly());
}

void TstPortObj::promptWithTimePrefixSendsNothing()
{
    Rig rig(rfAscii, false, false, false, true);
    QTest::keyClick(rig.memo, Qt::Key_Return);
    QTest::keyClicks(rig.memo, QStringLiteral("help"));
    QTest::keyClick(rig.memo, Qt::Key_Return);
    QCOMPARE(rig.pty.ReadFor(100), QByteArray());
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(0));
}

void TstPortObj::ctrlCSendsEtx()
{
    Rig rig;
    QTest::keyClick(rig.memo, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(rig.pty.Read(1), QByteArray("\x03"));
    QCOMPARE(rig.obj->FComSentCount.load(), qint64(1));
    // In the prompt, Ctrl+C abandons it instead.
    QTest::keyClick(rig.memo, Qt::Key_Return);
    QTest::keyClick(rig.memo, Qt::Key_C, Qt::ControlModifier);
    QVERIFY(rig.memo->ReadOnly());
    QCOMPARE(rig.pty.ReadFor(50), QByteArray());
}

void TstPortObj::twoPortsAtOnce()
{
    Rig a(rfHex, true), b(rfAscii, true, true);
    QByteArray data(20000, 'x');
    for (int i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    for (int round = 0; round < 5; ++round) {
        a.pty.Write(data);
        b.pty.Write(data.left(3000) + "\r\n");
        b.obj->TorvinComSendData_Common(QStringLiteral("ping"), sfAscii);
        a.obj->TorvinComSendData_Common(QStringLiteral("01 02"), sfHex);
        QTest::qWait(5);
    }
    QTRY_COMPARE(a.obj->FComReceiveCount.load(), qint64(5 * data.size()));
    QTRY_COMPARE(b.obj->FComReceiveCount.load(), qint64(5 * 3002));
    a.Settle();
    QTRY_COMPARE(a.obj->FComProcessedCount.load(), qint64(5 * data.size()));
    QCOMPARE(a.pty.ReadFor(100).size(), 10);
    QCOMPARE(b.pty.ReadFor(100).size(), 5 * 6);
}

QTEST_MAIN(TstPortObj)
#include "tst_portobj.moc"
