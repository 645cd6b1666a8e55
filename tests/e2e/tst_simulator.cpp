#include "Corvane_CRC.h"
#include "CvProtocol.h"
#include "TCvComPortObj.h"
#include "TCvConsole.h"
#include "TCvPortTransferLink.h"
#include "TCvXmodem.h"
#include "TLogMemo.h"

#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

// The device simulator answers as a device would on a real pty.
class TstSimulator : public QObject {
    Q_OBJECT
private slots:
    void echo();
    void protocolPeer();
    void lines();
    void espLogIsColoured();
    void shellInTheConsole();
    void stopsCleanlyAndRemovesItsLink();
    void loadyTakesAYmodemFile();

private:
    // Starts the simulator and returns the device path it printed.
    QString Start(QProcess& p, const QStringList& args)
    {
        p.start(QStringLiteral(CORVANE_SIM), args);
        if (!p.waitForStarted(5000) || !p.waitForReadyRead(5000)) return QString();
        return QString::fromLocal8Bit(p.readLine()).trimmed();
    }
};

namespace {
std::unique_ptr<TCvComPortObj> Open(const QString& path, TLogMemo* memo, int format)
{
    auto obj = std::make_unique<TCvComPortObj>(nullptr, QStringLiteral("Virtual Port (%1)").arg(path));
    obj->CvComPortObjInit2(QString(), QString(), br115200, dbEight, sbOneStopBit, prNone, fcNone, sfAscii,
                           format, memo, false, false, false, false, true);
    obj->Open();
    return obj;
}
QStringList Lines(TCvComPortObj& obj)
{
    obj.FlushUiQueue();
    QStringList out;
    for (qint64 i = 0; i < obj.LogView()->Model().LineCount(); ++i) out << obj.LogView()->Model().Line(i);
    return out;
}
} // namespace

void TstSimulator::echo()
{
    QProcess sim;
    const QString path = Start(sim, {"--echo"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    obj->TorvinComSendData_Common(QStringLiteral("hello"), sfAscii);
    // The echo ends its line: an empty line waits for what comes next.
    QTRY_COMPARE(Lines(*obj), QStringList({"hello", ""}));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::protocolPeer()
{
    QProcess sim;
    const QString path = Start(sim, {"--protocol"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfProtocol);
    obj->RequestProtocolConnection();
    QTRY_COMPARE(obj->GetPacks(), 1);
    QCOMPARE(obj->Protocol()->GetLastPackHead().TypeID, quint16(CvTypeAck));
    // A read on I2C is answered with data and the end of the transfer.
    quint8 request[7] = {4};
    obj->SendProtocolData(request, 7, 7, 50, false);
    QTRY_COMPARE(obj->GetPacks(), 3);
    QCOMPARE(obj->Protocol()->GetPackByIndex(2).TypeID, quint16(51));
    QCOMPARE(obj->Protocol()->GetPackByIndex(2).Length, quint16(4 + 12));
    // Acknowledged writes complete.
    quint8 data[600] = {};
    std::optional<bool> acked;
    QVERIFY(obj->SendProtocolData(data, sizeof data, sizeof data, 101, true, [&](bool ok) { acked = ok; }));
    QTRY_VERIFY_WITH_TIMEOUT(acked.has_value(), 15000);
    QVERIFY(*acked);
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::lines()
{
    QProcess sim;
    const QString path = Start(sim, {"--lines", "20"});
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    QTRY_VERIFY(Lines(*obj).size() >= 3);
    QVERIFY(Lines(*obj).first().startsWith(QLatin1String("line ")));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::espLogIsColoured()
{
    QProcess sim;
    const QString path = Start(sim, {"--esp-log", "20"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    // The boot as an ESP32 prints it, then a line for each tick, errors among them.
    QTRY_VERIFY(Lines(*obj).filter(QStringLiteral("E (")).size() >= 1);
    const QStringList lines = Lines(*obj);
    QVERIFY(lines.contains(QStringLiteral("rst:0x1 (POWERON_RESET),boot:0x13 (SPI_FAST_FLASH_BOOT)")));
    const QStringList boot = lines.filter(QStringLiteral("2nd stage bootloader"));
    QCOMPARE(boot.size(), 1);
    // Its colour codes are real SGR sequences, which the port turns into colours of the log
    // line: green for information, red for errors.
    QCOMPARE(boot.first(), QStringLiteral("I (29) boot: ESP-IDF v5.1.2 2nd stage bootloader"));
    const TLogModel& model = obj->LogView()->Model();
    const TCvStyleRuns info = model.LineRuns(lines.indexOf(boot.first()));
    QCOMPARE(info.size(), std::size_t(1));
    QCOMPARE(TCvTextStyle(info[0].Style).Foreground(), TCvTextStyle::Palette(2));
    QCOMPARE(info[0].Length, quint32(boot.first().size()));
    const qint64 errorLine = lines.indexOf(lines.filter(QStringLiteral("E (")).first());
    const TCvStyleRuns error = model.LineRuns(errorLine);
    QVERIFY(!error.empty());
    QCOMPARE(TCvTextStyle(error.at(0).Style).Foreground(), TCvTextStyle::Palette(1));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

namespace {
int RowOf(const TCvConsole* c, const QString& text)
{
    for (int r = 0; r < c->Rows(); ++r)
        if (c->RowText(r) == text) return r;
    return -1;
}
} // namespace

void TstSimulator::shellInTheConsole()
{
    QProcess sim;
    const QString path = Start(sim, {"--shell"});
    QVERIFY(!path.isEmpty());
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    QWidget w;
    w.resize(800, 480);
    auto* console = new TCvConsole(&w);
    console->resize(800, 480);
    w.show();
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    connect(&readable, &QSocketNotifier::activated, console, [&] {
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) console->Feed(QByteArray(buf, n));
    });
    QByteArray unsent;
    connect(console, &TCvConsole::Output, console, [&](const QByteArray& b) {
        // Keys are few: the pty takes them at once.
        if (::write(fd, b.constData(), size_t(b.size())) != b.size()) unsent += b;
    });
    const auto atPrompt = [&] {
        return console->RowText(console->CursorPos().y()) == QStringLiteral("sim:~$");
    };
    QTRY_VERIFY_WITH_TIMEOUT(atPrompt(), 15000);
    // The prompt is coloured as a Zephyr shell's is.
    QCOMPARE(console->Cell(console->CursorPos().y(), 0).Style.Foreground(), TCvTextStyle::Palette(2));
    // Tab completes a command, the keys are echoed, Enter runs it.
    QTest::keyClicks(console, QStringLiteral("ec"));
    QTest::keyClick(console, Qt::Key_Tab);
    QTRY_COMPARE(console->RowText(console->CursorPos().y()), QStringLiteral("sim:~$ echo"));
    QTest::keyClicks(console, QStringLiteral("hi there"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(RowOf(console, QStringLiteral("hi there")) >= 0);
    // Backspace and the arrows edit the line.
    QTRY_VERIFY(atPrompt());
    QTest::keyClicks(console, QStringLiteral("echo acX"));
    QTest::keyClick(console, Qt::Key_Backspace);
    QTest::keyClick(console, Qt::Key_Left);
    QTest::keyClicks(console, QStringLiteral("b"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(RowOf(console, QStringLiteral("abc")) >= 0);
    // Up brings the last command back.
    QTRY_VERIFY(atPrompt());
    QTest::keyClick(console, Qt::Key_Up);
    QTRY_COMPARE(console->RowText(console->CursorPos().y()), QStringLiteral("sim:~$ echo abc"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(atPrompt());
    QTest::keyClicks(console, QStringLiteral("colors"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(RowOf(console, QStringLiteral("black red green yellow blue magenta cyan white")) >= 0);
    const int row = RowOf(console, QStringLiteral("black red green yellow blue magenta cyan white"));
    QCOMPARE(console->Cell(row, 6).Style.Foreground(), TCvTextStyle::Palette(1));
    QTRY_VERIFY(atPrompt());
    QTest::keyClicks(console, QStringLiteral("help"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(RowOf(console, QStringLiteral("  ls        the files of the device")) >= 0);
    QTRY_VERIFY(atPrompt());
    QTest::keyClicks(console, QStringLiteral("ls"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(RowOf(console, QStringLiteral("data  boot.bin  config.txt  log.txt")) >= 0);
    QTRY_VERIFY(atPrompt());
    QTest::keyClicks(console, QStringLiteral("reboot"));
    QTest::keyClick(console, Qt::Key_Return);
    QTRY_VERIFY(RowOf(console, QStringLiteral("sim: command not found: reboot")) >= 0);
    QCOMPARE(unsent, QByteArray());
    readable.setEnabled(false);
    ::close(fd);
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

void TstSimulator::stopsCleanlyAndRemovesItsLink()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttySIM"));
    QProcess sim;
    QCOMPARE(Start(sim, {"--link", link, "--sine", "5"}), link);
    QVERIFY(QFileInfo(link).isSymLink());
    ::kill(pid_t(sim.processId()), SIGINT);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
    QProcess bad;
    bad.start(QStringLiteral(CORVANE_SIM), {"--nonsense"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
}

// The bootloader console: loady at its prompt, a YMODEM send, and the size and CRC-32 it
// prints afterwards, shown in the log as the port's own text again.
void TstSimulator::loadyTakesAYmodemFile()
{
    QProcess sim;
    const QString path = Start(sim, {"--loady"});
    QVERIFY(!path.isEmpty());
    QWidget w;
    auto* memo = new TLogMemo(&w);
    auto obj = Open(path, memo, rfAscii);
    obj->TorvinComSendData_Common(QStringLiteral("loady"), sfAscii);
    QTRY_VERIFY_WITH_TIMEOUT(Lines(*obj).contains(QStringLiteral(
                                 "## Ready for binary (ymodem) download to 0x82000000 at 115200 bps...")),
                             10000);

    QTemporaryDir tmp;
    QByteArray data(70000, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i) data[i] = char(i * 31 + i / 7);
    const QString file = tmp.filePath(QStringLiteral("u-boot.itb"));
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    TCvPortTransferLink link(obj.get());
    TCvXmodemSender sender(&link, TCvXmodemSender::TMode::Ymodem, {{file, {}}});
    std::optional<TCvTransferResult> result;
    connect(&sender, &TCvTransfer::Finished, this, [&](const TCvTransferResult& r) { result = r; });
    link.Attach(&sender);
    sender.Start();
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 60000);
    QVERIFY2(result->End == TCvTransferEnd::Done, qPrintable(result->Reason));
    const quint32 crc = CalCRC32(reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size()));
    QTRY_VERIFY_WITH_TIMEOUT(
        Lines(*obj).contains(QStringLiteral("## CRC32 = 0x%1").arg(crc, 8, 16, QLatin1Char('0'))), 10000);
    // The C the console sent before the transfer took the line shows in front of it, as on a
    // terminal.
    QVERIFY(Lines(*obj).join(u'\n').contains(
        QStringLiteral("## Total Size      = 0x%1 = 70000 Bytes").arg(70000, 8, 16, QLatin1Char('0'))));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

QTEST_MAIN(TstSimulator)
#include "tst_simulator.moc"
