// Millisecond time stamps, hex lines that end at a receive gap and the checksum
// calculator of the block-send page, over real ptys, and their return after a restart.

#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QThread>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

namespace {

// The panel's options reach the selected device the way a click on one of them does.
void ApplyPanel(TSplitViewForm& w, int receiveFormat, bool time, bool lineNumbers)
{
    Ui::Find<QComboBox>(w, u"ComboBox7"_s)->setCurrentIndex(receiveFormat);
    if (Ui::Find<QCheckBox>(w, u"CheckBox25"_s)->isChecked() != time)
        Ui::Find<QCheckBox>(w, u"CheckBox25"_s)->click();
    if (Ui::Find<QCheckBox>(w, u"CheckBox3"_s)->isChecked()) Ui::Find<QCheckBox>(w, u"CheckBox3"_s)->click();
    if (Ui::Find<QCheckBox>(w, u"CheckBox9"_s)->isChecked())
        Ui::Find<QCheckBox>(w, u"CheckBox9"_s)->click(); // hex without the character column
    if (Ui::Find<QCheckBox>(w, u"CheckBox4"_s)->isChecked() != lineNumbers)
        Ui::Find<QCheckBox>(w, u"CheckBox4"_s)->click();
}

QStringList NonEmpty(const QStringList& lines)
{
    QStringList out;
    for (const QString& l : lines)
        if (!l.trimmed().isEmpty()) out << l;
    return out;
}

} // namespace

class TstDebugOptions : public QObject {
    Q_OBJECT
private slots:
    void msTimeStamps_data();
    void msTimeStamps();
    void msTimeStampsInMainLog_data();
    void msTimeStampsInMainLog();
    void hexGapLines_data();
    void hexGapLines();
    void hexGapLinesBehindABacklog_data();
    void hexGapLinesBehindABacklog();
    void hexGapLineTakesTheArrivalTime();
    void crcAppend_data();
    void crcAppend();
    void crcInvalidHex_data();
    void crcInvalidHex();
    void optionsSurviveRestart();
};

void TstDebugOptions::msTimeStamps_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("ms");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("ascii, ms") << int(rfAscii) << true << QByteArray("hello")
                               << u"^\\(\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\) hello$"_s;
    QTest::newRow("ascii, off") << int(rfAscii) << false << QByteArray("hello")
                                << u"^\\(\\d{2}:\\d{2}:\\d{2}\\) hello$"_s;
    QTest::newRow("hex, ms") << int(rfHex) << true << QByteArray("\x01\x02")
                             << u"^\\(\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\) 01 02 $"_s;
    QTest::newRow("hex, off") << int(rfHex) << false << QByteArray("\x01\x02")
                              << u"^\\(\\d{2}:\\d{2}:\\d{2}\\) 01 02 $"_s;
}

void TstDebugOptions::msTimeStamps()
{
    QFETCH(int, format);
    QFETCH(bool, ms);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, pattern);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    ApplyPanel(*w, format, true, false);
    QCOMPARE(a.obj->FReceiveFormat.load(), format);
    if (ms) Ui::Find<QCheckBox>(*w, u"CheckBoxMsTime"_s)->click();
    QCOMPARE(a.obj->FShowMilliseconds, ms);
    a.Receive(bytes);
    const QRegularExpression re(pattern);
    QTRY_VERIFY2_WITH_TIMEOUT(NonEmpty(a.Lines()).size() == 1 &&
                                  re.match(NonEmpty(a.Lines()).at(0)).hasMatch(),
                              qPrintable(a.Lines().join(u'|')), 10000);
}

void TstDebugOptions::msTimeStampsInMainLog_data()
{
    QTest::addColumn<bool>("ms");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("ms") << true << u"^\\d{2}:\\d{2}:\\d{2}\\.\\d{3} marker$"_s;
    QTest::newRow("off") << false << u"^\\d{2}:\\d{2}:\\d{2} marker$"_s;
}

void TstDebugOptions::msTimeStampsInMainLog()
{
    QFETCH(bool, ms);
    QFETCH(QString, pattern);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    if (Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->isChecked())
        Ui::Find<QCheckBox>(*w, u"CheckBox4"_s)->click();
    if (!Ui::Find<QCheckBox>(*w, u"CheckBox25"_s)->isChecked())
        Ui::Find<QCheckBox>(*w, u"CheckBox25"_s)->click();
    if (ms) Ui::Find<QCheckBox>(*w, u"CheckBoxMsTime"_s)->click();
    w->MainLogPrint(u"marker"_s);
    const TLogModel& m = Ui::Find<TLogMemo>(*w, u"Memo1"_s)->Model();
    const QString last = m.Line(m.LineCount() - 1);
    QVERIFY2(QRegularExpression(pattern).match(last).hasMatch(), qPrintable(last));
}

void TstDebugOptions::hexGapLines_data()
{
    QTest::addColumn<bool>("gapLines");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<int>("pauseMs"); // between the two chunks; -1: both in one write
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<QStringList>("expected");
    // A pause longer than the gap: the answer gets a line (and its prefix) of its own.
    QTest::newRow("pause beyond the gap")
        << true << 50 << 400 << QByteArray("\x01\x02\x03") << QByteArray("\x04\x05\x06")
        << QStringList{u"00| 01 02 03 "_s, u"01| 04 05 06 "_s};
    // Pieces that come within the gap are one frame: one line.
    QTest::newRow("pause within the gap")
        << true << 4000 << 100 << QByteArray("\x01\x02\x03") << QByteArray("\x04\x05\x06")
        << QStringList{u"00| 01 02 03 04 05 06 "_s};
    // A run without a pause still wraps at 16 bytes.
    QTest::newRow("long run wraps") << true << 50 << 400 << QByteArray("0123456789ABCDEFGHIJ")
                                    << QByteArray("\x07")
                                    << QStringList{u"00| 30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46 "_s,
                                                   u"01| 47 48 49 4A "_s, u"02| 07 "_s};
    // Without the option the line breaking is the fixed one: bytes read together share a line.
    QTest::newRow("off, read together")
        << false << 50 << -1 << QByteArray("\x01\x02\x03") << QByteArray("\x04\x05\x06")
        << QStringList{u"00| 01 02 03 04 05 06 "_s};
    // With the option, bytes that the device layer hands over together cannot be told apart.
    QTest::newRow("on, read together")
        << true << 50 << -1 << QByteArray("\x01\x02\x03") << QByteArray("\x04\x05\x06")
        << QStringList{u"00| 01 02 03 04 05 06 "_s};
}

void TstDebugOptions::hexGapLines()
{
    QFETCH(bool, gapLines);
    QFETCH(int, gapMs);
    QFETCH(int, pauseMs);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(QStringList, expected);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    ApplyPanel(*w, rfHex, false, true);
    Ui::Find<QSpinBox>(*w, u"SpinHexGapMs"_s)->setValue(gapMs);
    if (gapLines) Ui::Find<QCheckBox>(*w, u"CheckBoxHexGap"_s)->click();
    QCOMPARE(a.obj->FHexGapLines.load(), gapLines);
    QCOMPARE(a.obj->FHexGapMs.load(), gapMs);
    if (pauseMs < 0) {
        // One write: the window reads both chunks at once.
        a.Receive(first + second);
    } else {
        a.Receive(first);
        QTest::qWait(pauseMs);
        a.Receive(second);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(NonEmpty(a.Lines()) == expected, qPrintable(a.Lines().join(u'|')), 15000);
}

void TstDebugOptions::hexGapLinesBehindABacklog_data()
{
    QTest::addColumn<bool>("gapLines");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("on: apart") << true << QStringList{u"41 41 41 "_s, u"42 42 42 "_s};
    // Lines are aligned per batch of the worker, so the frames may follow flood bytes.
    QTest::newRow("off: merged") << false << QStringList{u"41 41 41 42 42 42 "_s};
}

void TstDebugOptions::hexGapLinesBehindABacklog()
{
    // Two frames read 300 ms apart while the display is still busy with a flood: the
    // display worker meets both in its buffer at once, and only the time they were read
    // keeps them apart.
    QFETCH(bool, gapLines);
    QFETCH(QStringList, expected);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    ApplyPanel(*w, rfHex, false, false);
    Ui::Find<QSpinBox>(*w, u"SpinHexGapMs"_s)->setValue(50);
    if (gapLines) Ui::Find<QCheckBox>(*w, u"CheckBoxHexGap"_s)->click();
    QCoreApplication::processEvents();
    // From here on the event loop does not run: the window applies no display change, so
    // the worker stops once its queue of changes is full, and the port is read by hand.
    const auto receive = [&a](const QByteArray& bytes) {
        const qint64 want = a.obj->FComReceiveCount.load() + bytes.size();
        QVERIFY(a.pty->Write(bytes));
        QElapsedTimer t;
        t.start();
        while (a.obj->FComReceiveCount.load() < want && t.elapsed() < 10000) {
            a.obj->PumpReceive();
            QThread::msleep(1);
        }
        QCOMPARE(a.obj->FComReceiveCount.load(), want);
    };
    // Pieces well under the tty's 4 KiB buffer arrive in one read each, so the lines of
    // the flood stay aligned to 16 bytes.
    // The worker shows a pass's lines in one change and stops once those waiting hold
    // several megabytes: 153,600 full lines are more than that.
    const QByteArray piece(2048, 'x');
    for (int k = 0; k < 1200; ++k) receive(piece);
    qint64 seen = -1;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000) {
        QThread::msleep(300);
        const qint64 now = a.obj->FComProcessedCount.load();
        if (now == seen) break;
        seen = now;
    }
    QVERIFY2(seen < a.obj->FComReceiveCount.load(), "the display worker did not fall behind");
    receive("AAA");
    QThread::msleep(300);
    receive("BBB");
    QTRY_VERIFY_WITH_TIMEOUT(a.obj->FComProcessedCount.load() == a.obj->FComReceiveCount.load(), 30000);
    const auto tailMatches = [&] {
        const QStringList lines = NonEmpty(a.Lines());
        if (lines.size() < expected.size()) return false;
        const QStringList tail = lines.mid(lines.size() - expected.size());
        return gapLines ? tail == expected : tail.last().endsWith(expected.last());
    };
    QTRY_VERIFY2_WITH_TIMEOUT(tailMatches(), qPrintable(a.Lines().mid(a.Lines().size() - 3).join(u'|')),
                              15000);
}

void TstDebugOptions::hexGapLineTakesTheArrivalTime()
{
    // The line is written only once the gap has passed; its time is still the time its
    // first byte was read.
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    ApplyPanel(*w, rfHex, true, false);
    Ui::Find<QCheckBox>(*w, u"CheckBoxMsTime"_s)->click();
    Ui::Find<QSpinBox>(*w, u"SpinHexGapMs"_s)->setValue(1500);
    Ui::Find<QCheckBox>(*w, u"CheckBoxHexGap"_s)->click();
    const QDateTime before = QDateTime::currentDateTime();
    a.Receive("\x01\x02");
    const QDateTime read = QDateTime::currentDateTime();
    QTRY_COMPARE_WITH_TIMEOUT(NonEmpty(a.Lines()).size(), 1, 15000);
    const QString line = NonEmpty(a.Lines()).at(0);
    const QRegularExpressionMatch m =
        QRegularExpression(u"^\\((\\d{2}:\\d{2}:\\d{2}\\.\\d{3})\\) 01 02 $"_s).match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    const QTime at = QTime::fromString(m.captured(1), u"HH:mm:ss.zzz"_s);
    // A little slack for the clock the stamp is taken from; the line itself is shown 1.5 s later.
    QVERIFY2(at >= before.time().addMSecs(-50) && at <= read.time().addMSecs(50),
             qPrintable(line + u" read between "_s + before.time().toString(u"HH:mm:ss.zzz"_s) + u" and "_s +
                        read.time().toString(u"HH:mm:ss.zzz"_s)));
}

void TstDebugOptions::crcAppend_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("appended");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("CRC-16/MODBUS") << 0 << u"0x4B37  (37 4B)"_s << u"37 4B"_s << QByteArray("\x37\x4B");
    QTest::newRow("CRC-16/CCITT-FALSE") << 1 << u"0x29B1  (B1 29)"_s << u"B1 29"_s << QByteArray("\xB1\x29");
    QTest::newRow("CRC-32") << 2 << u"0xCBF43926  (26 39 F4 CB)"_s << u"26 39 F4 CB"_s
                            << QByteArray("\x26\x39\xF4\xCB");
    QTest::newRow("XOR") << 3 << u"0x31  (31)"_s << u"31"_s << QByteArray("\x31");
    QTest::newRow("SUM-8") << 4 << u"0xDD  (DD)"_s << u"DD"_s << QByteArray("\xDD");
}

void TstDebugOptions::crcAppend()
{
    QFETCH(int, kind);
    QFETCH(QString, result);
    QFETCH(QString, appended);
    QFETCH(QByteArray, sent);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    const QString digits = u"31 32 33 34 35 36 37 38 39"_s; // "123456789"
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(digits + u"\n"_s);
    Ui::Find<QComboBox>(*w, u"ComboCrcKind"_s)->setCurrentIndex(kind);
    QCOMPARE(Ui::Find<QLineEdit>(*w, u"EditCrcResult"_s)->text(), result);
    QVERIFY(Ui::Find<QLineEdit>(*w, u"EditCrcResult"_s)->isReadOnly());
    Ui::Find<QPushButton>(*w, u"ButtonCrcAppend"_s)->click();
    QCOMPARE(Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->toPlainText(), digits + u' ' + appended);
    // The block with its checksum goes out in hex format, checksum bytes last.
    Ui::Find<QComboBox>(*w, u"ComboBox6"_s)->setCurrentIndex(sfHex);
    Ui::Find<QPushButton>(*w, u"Button8"_s)->click();
    QCOMPARE(a.pty->Read(9 + sent.size()), QByteArray("123456789") + sent);
}

void TstDebugOptions::crcInvalidHex_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a digit") << u"01 GG 03"_s << u"\"G\" is not a hex digit at position 4"_s;
    QTest::newRow("free separator") << u"01x02"_s << u"\"x\" is not a hex digit at position 3"_s;
    QTest::newRow("lone last digit") << u"01 02 3"_s
                                     << u"has no partner (a byte is two digits) at position 7"_s;
}

void TstDebugOptions::crcInvalidHex()
{
    QFETCH(QString, block);
    QFETCH(QString, message);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(block);
    Ui::Find<QPushButton>(*w, u"ButtonCrcCalc"_s)->click();
    QVERIFY2(Ui::Find<QLineEdit>(*w, u"EditCrcResult"_s)->text().contains(message),
             qPrintable(Ui::Find<QLineEdit>(*w, u"EditCrcResult"_s)->text()));
    QCOMPARE(Ui::Find<QPushButton>(*w, u"ButtonCrcAppend"_s)->text(),
             u"Append"_s); // English captions in an English start
    Ui::Find<QPushButton>(*w, u"ButtonCrcAppend"_s)->click();
    QCOMPARE(Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->toPlainText(), block);
    QVERIFY(Ui::Find<QLineEdit>(*w, u"EditCrcResult"_s)->text().contains(message));
    QVERIFY(env.boxes.isEmpty());
}

void TstDebugOptions::optionsSurviveRestart()
{
    UiTestEnv env;
    {
        auto w = UiTestEnv::Start("en_US");
        QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBoxMsTime"_s)->isChecked());
        QVERIFY(!Ui::Find<QCheckBox>(*w, u"CheckBoxHexGap"_s)->isChecked());
        QCOMPARE(Ui::Find<QSpinBox>(*w, u"SpinHexGapMs"_s)->value(), 20);
        QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboCrcKind"_s)->currentIndex(), 0);
        Ui::Find<QCheckBox>(*w, u"CheckBoxMsTime"_s)->click();
        Ui::Find<QCheckBox>(*w, u"CheckBoxHexGap"_s)->click();
        Ui::Find<QSpinBox>(*w, u"SpinHexGapMs"_s)->setValue(250);
        Ui::Find<QComboBox>(*w, u"ComboCrcKind"_s)->setCurrentIndex(2);
        w->close();
    }
    const QByteArray ini = ReadFile(env.SettingDir() + u"Corvane.ini"_s);
    QVERIFY(ini.contains("HEXGAPMS=250"));
    QVERIFY(ini.contains("CRCKIND=2"));
    PtyPair pty;
    auto w = UiTestEnv::Start("en_US");
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBoxMsTime"_s)->isChecked());
    QVERIFY(Ui::Find<QCheckBox>(*w, u"CheckBoxHexGap"_s)->isChecked());
    QCOMPARE(Ui::Find<QSpinBox>(*w, u"SpinHexGapMs"_s)->value(), 250);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboCrcKind"_s)->currentIndex(), 2);
    // A device found after the start takes the restored options.
    QVERIFY(w->AddVirtualPort(pty.SlavePath()));
    TCvComPortObj* obj = w->GetDeciceByFullName(u"Virtual Port (%1)"_s.arg(pty.SlavePath()));
    QVERIFY(obj);
    QVERIFY(obj->FShowMilliseconds);
    QVERIFY(obj->FHexGapLines.load());
    QCOMPARE(obj->FHexGapMs.load(), 250);
}

QTEST_MAIN(TstDebugOptions)
#include "tst_debugoptions.moc"
