#include "CvCodecs.h"

#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

QByteArray bytesOf(const quint8* p, int n)
{
    return QByteArray(reinterpret_cast<const char*>(p), n);
}

const quint8* u8(const QByteArray& b)
{
    return reinterpret_cast<const quint8*>(b.constData());
}

const QDateTime kAt(QDate(2024, 3, 7), QTime(14, 3, 9));

} // namespace

class TestCodecs : public QObject {
    Q_OBJECT

private slots:
    void hexCharToValue_data();
    void hexCharToValue();
    void hexStrToBytes_data();
    void hexStrToBytes();
    void hexClearing_data();
    void hexClearing();
    void hexOverlongTextIsCut();
    void hexStrToBuffer_data();
    void hexStrToBuffer();
    void bytesToText_data();
    void bytesToText();
    void bytesToStringKeepsEverything();
    void stringToBytesRoundTrip();
    void timeText_data();
    void timeText();
    void timeTextWithMs_data();
    void timeTextWithMs();
    void currentTimeText_data();
    void currentTimeText();
    void currentTimeTextFollowsClock();
    void currentTimeTextFromThreads();
    void lineNumberText_data();
    void lineNumberText();
    void logLineNumberText();
    void extractPortName_data();
    void extractPortName();
    void safeFileNamePart_data();
    void safeFileNamePart();
    void safeFileNamePartLongNames_data();
    void safeFileNamePartLongNames();
    void trimControl_data();
    void trimControl();
    void parseHexText_data();
    void parseHexText();
    void parseHexTextKeepsWellFormedCells();
    void decoderSplitAtEveryByte_data();
    void decoderSplitAtEveryByte();
    void decoderCountsInvalidBytes_data();
    void decoderCountsInvalidBytes();
    void encodeText_data();
    void encodeText();
    void encodingNames();
    void timeTextAtMatchesDateTime();
    void linePrefixUtf8MatchesText();
    void lineBreaksSplitAtEveryByte_data();
    void lineBreaksSplitAtEveryByte();
};

void TestCodecs::hexCharToValue_data()
{
    QTest::addColumn<QChar>("ch");
    QTest::addColumn<int>("value");
    QTest::newRow("0") << QChar(u'0') << 0;
    QTest::newRow("9") << QChar(u'9') << 9;
    QTest::newRow("A") << QChar(u'A') << 10;
    QTest::newRow("f") << QChar(u'f') << 15;
    QTest::newRow("G") << QChar(u'G') << 0;
    QTest::newRow("NUL") << QChar(u'\0') << 0;
    QTest::newRow("fullwidth 1") << QChar(u'\uFF11') << 0;
    QTest::newRow("arabic-indic 3") << QChar(u'\u0663') << 0;
}

void TestCodecs::hexCharToValue()
{
    QFETCH(QChar, ch);
    QFETCH(int, value);
    QCOMPARE(HexCharToValue(ch), value);
}

void TestCodecs::hexStrToBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bufSize");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("canonical");
    QTest::addColumn<int>("dropped");

    QTest::newRow("spaced") << "01 02 03" << 1024 << QByteArray("\x01\x02\x03", 3) << "01 02 03 " << 0;
    QTest::newRow("unspaced reads cells") << "010203" << 1024 << QByteArray("\x01\x20") << "01 20 " << 0;
    QTest::newRow("one char is high digit") << "1" << 1024 << QByteArray("\x10") << "10 " << 0;
    QTest::newRow("empty") << "" << 1024 << QByteArray() << "" << 0;
    QTest::newRow("non-hex reads 0") << "GG" << 1024 << QByteArray(1, '\0') << "00 " << 0;
    QTest::newRow("mixed case") << "aB" << 1024 << QByteArray("\xAB") << "AB " << 0;
    QTest::newRow("dash separator") << "01-A2-ff" << 1024 << QByteArray("\x01\xA2\xFF") << "01 A2 FF " << 0;
    QTest::newRow("letter separator") << "01xA2xff" << 1024 << QByteArray("\x01\xA2\xFF") << "01 A2 FF " << 0;
    QTest::newRow("non-ASCII separator") << u"01中A2"_s << 1024 << QByteArray("\x01\xA2") << "01 A2 " << 0;
    QTest::newRow("buffer too small") << "01 02 03" << 2 << QByteArray("\x01\x02") << "01 02 " << 1;
    QTest::newRow("no buffer") << "01 02 03" << 0 << QByteArray() << "" << 3;
    QTest::newRow("negative size") << "01" << -5 << QByteArray() << "" << 1;
}

void TestCodecs::hexStrToBytes()
{
    QFETCH(QString, text);
    QFETCH(int, bufSize);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, canonical);
    QFETCH(int, dropped);

    std::vector<quint8> buffer(size_t(std::max(bufSize, 0)) + 1, 0xEE);
    int count = -1;
    int cut = -1;
    QCOMPARE(HexStrToBytes(text, buffer.data(), bufSize, &count, &cut), canonical);
    QCOMPARE(count, bytes.size());
    QCOMPARE(cut, dropped);
    QCOMPARE(bytesOf(buffer.data(), count), bytes);
    QCOMPARE(buffer.back(), quint8(0xEE));
}

void TestCodecs::hexClearing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<HexClear>("clear");
    QTest::addColumn<QByteArray>("buffer"); // all 6 bytes after the call, 0xEE before

    QTest::newRow("cells2x clears 2n")
        << "01" << HexClear::Cells2x << QByteArray("\x01\x00\xEE\xEE\xEE\xEE", 6);
    QTest::newRow("cells2x capped") << "01 02 03 04" << HexClear::Cells2x
                                    << QByteArray("\x01\x02\x03\x04\x00\x00", 6);
    QTest::newRow("cells2x empty text")
        << "" << HexClear::Cells2x << QByteArray("\xEE\xEE\xEE\xEE\xEE\xEE", 6);
    QTest::newRow("whole") << "01" << HexClear::Whole << QByteArray("\x01\x00\x00\x00\x00\x00", 6);
    QTest::newRow("whole empty text") << "" << HexClear::Whole << QByteArray(6, '\0');
}

void TestCodecs::hexClearing()
{
    QFETCH(QString, text);
    QFETCH(HexClear, clear);
    QFETCH(QByteArray, buffer);

    quint8 raw[8];
    std::fill(std::begin(raw), std::end(raw), quint8(0xEE));
    HexStrToBytes(text, raw, 6, nullptr, nullptr, clear);
    QCOMPARE(bytesOf(raw, 6), buffer);
    QCOMPARE(raw[6], quint8(0xEE));
    QCOMPARE(raw[7], quint8(0xEE));
}

void TestCodecs::hexOverlongTextIsCut()
{
    // 1,025 cells from a send box: the 1,024-byte send buffer takes the first 1,024.
    QString text;
    for (int i = 0; i < 1025; ++i) text += QString::asprintf("%02X ", i & 0xFF);
    QCOMPARE(text.size(), 3075);

    for (HexClear clear : {HexClear::Cells2x, HexClear::Whole}) {
        std::vector<quint8> buffer(1024 + 16, 0xEE);
        int count = 0;
        int dropped = 0;
        const QString canonical = HexStrToBytes(text, buffer.data(), 1024, &count, &dropped, clear);
        QCOMPARE(count, 1024);
        QCOMPARE(dropped, 1);
        QCOMPARE(canonical, text.left(3072));
        QCOMPARE(buffer[1023], quint8(0xFF));
        for (size_t i = 1024; i < buffer.size(); ++i) QCOMPARE(buffer[i], quint8(0xEE));
    }
}

void TestCodecs::hexStrToBuffer_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bufSize");
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("dropped");

    // The protocol page's initial address text reads pairs "0x","00","00","0,","x0","00","00".
    QTest::newRow("address text") << "0x00000040,0x00000000" << 10 << QByteArray(10, '\0') << 0;
    QTest::newRow("whole buffer cleared") << "AB" << 4 << QByteArray("\xAB\x00\x00\x00", 4) << 0;
    QTest::newRow("address text too long") << QString(33, u'1') << 10 << QByteArray(10, '\x11') << 1;
}

void TestCodecs::hexStrToBuffer()
{
    QFETCH(QString, text);
    QFETCH(int, bufSize);
    QFETCH(QByteArray, buffer);
    QFETCH(int, dropped);

    std::vector<quint8> raw(size_t(bufSize) + 1, 0xEE);
    int cut = -1;
    const int n = HexStrToBuffer(text, raw.data(), bufSize, &cut);
    QCOMPARE(n, std::min(int((text.size() + 2) / 3), bufSize));
    QCOMPARE(cut, dropped);
    QCOMPARE(bytesOf(raw.data(), bufSize), buffer);
    QCOMPARE(raw.back(), quint8(0xEE));
}

void TestCodecs::bytesToText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("CR LF removed, trimmed") << QByteArray("\x41\x0D\x0A\x42\x20") << "AB";
    QTest::newRow("leading CR") << QByteArray("\x0D\x41") << "A";
    QTest::newRow("lone LF kept") << QByteArray("\x41\x0A\x42") << "A\nB";
    QTest::newRow("lone CR kept") << QByteArray("\x41\x0D\x42") << "A\rB";
    QTest::newRow("control inside kept") << QByteArray("\x00\x41\x01\x42\x00", 5)
                                         << "A\x01"
                                            "B";
    QTest::newRow("only blanks") << QByteArray("\x0D\x0A\x20\x09") << "";
    QTest::newRow("UTF-8") << QByteArray("\xE4\xB8\xAD\x0D\x0A\xE6\x96\x87") << u"中文"_s;
    QTest::newRow("empty") << QByteArray() << "";
}

void TestCodecs::bytesToText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(BytesToText(u8(bytes), int(bytes.size())), text);
}

void TestCodecs::bytesToStringKeepsEverything()
{
    const QByteArray bytes("\x20\x41\x0D\x0A\x42\x00", 6);
    QCOMPARE(BytesToString(u8(bytes), int(bytes.size())), QString::fromUtf8(bytes));
    QCOMPARE(BytesToString(nullptr, 5), QString());
    QCOMPARE(BytesToText(nullptr, 5), QString());
    QCOMPARE(BytesToText(u8(bytes), -1), QString());

    // A character cut at a display line break, and bytes that are no UTF-8 at all.
    const QByteArray invalid("\xE4\xB8\xFF\xFE\xC0\x80\xED\xA0\x80\x41");
    QVERIFY(BytesToText(u8(invalid), int(invalid.size())).endsWith(u'A'));
    QVERIFY(BytesToString(u8(invalid), int(invalid.size())).contains(QChar::ReplacementCharacter));
}

void TestCodecs::stringToBytesRoundTrip()
{
    const QString text = u"A中\r\n😀"_s;
    const QByteArray bytes = StringToBytes(text);
    QCOMPARE(bytes, QByteArray("A\xE4\xB8\xAD\r\n\xF0\x9F\x98\x80"));
    QCOMPARE(BytesToString(u8(bytes), int(bytes.size())), text);
    QVERIFY(StringToBytes(QString()).isEmpty());
}

void TestCodecs::timeText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 date") << 0 << "(20240307) ";
    QTest::newRow("1 time") << 1 << "(14:03:09) ";
    QTest::newRow("2 both") << 2 << "(20240307 14:03:09) ";
    QTest::newRow("3 none") << 3 << "";
    QTest::newRow("-1 none") << -1 << "";
}

void TestCodecs::timeText()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QCOMPARE(GetTimeText(kind, kAt), text);

    QCOMPARE(GetLogTimeText(true, false, kAt), u"20240307 "_s);
    QCOMPARE(GetLogTimeText(false, true, kAt), u"14:03:09 "_s);
    QCOMPARE(GetLogTimeText(true, true, kAt), u"20240307/14:03:09 "_s);
    QCOMPARE(GetLogTimeText(false, false, kAt), QString());
}

void TestCodecs::timeTextWithMs_data()
{
    QTest::addColumn<int>("kind"); // log variant (date, time, both) when kind < 0
    QTest::addColumn<int>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 date has no time") << 0 << 45 << "(20240307) ";
    QTest::newRow("1 time") << 1 << 45 << "(14:03:09.045) ";
    QTest::newRow("2 both") << 2 << 999 << "(20240307 14:03:09.999) ";
    QTest::newRow("1 time, 0 ms") << 1 << 0 << "(14:03:09.000) ";
    QTest::newRow("log date") << -1 << 7 << "20240307 ";
    QTest::newRow("log time") << -2 << 7 << "14:03:09.007 ";
    QTest::newRow("log both") << -3 << 120 << "20240307/14:03:09.120 ";
}

void TestCodecs::timeTextWithMs()
{
    QFETCH(int, kind);
    QFETCH(int, ms);
    QFETCH(QString, text);
    const QDateTime at = kAt.addMSecs(ms);
    if (kind >= 0) {
        QCOMPARE(GetTimeText(kind, at, true), text);
        // Without the option the text is the one of old, whatever the milliseconds.
        QCOMPARE(GetTimeText(kind, at, false), GetTimeText(kind, kAt));
    } else {
        const bool date = kind != -2, time = kind != -1;
        QCOMPARE(GetLogTimeText(date, time, at, true), text);
        QCOMPARE(GetLogTimeText(date, time, at, false), GetLogTimeText(date, time, kAt));
    }
    static const QRegularExpression shape(u"^\\(\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\) $"_s);
    QVERIFY(shape.match(GetTimeText(1, true)).hasMatch());
}

void TestCodecs::currentTimeText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("logDate"); // log variant when kind < 0
    QTest::addColumn<bool>("logTime");
    QTest::addColumn<QString>("format"); // QDateTime format of the expected text

    QTest::newRow("kind 0") << 0 << false << false << "(yyyyMMdd) ";
    QTest::newRow("kind 1") << 1 << false << false << "(HH:mm:ss) ";
    QTest::newRow("kind 2") << 2 << false << false << "(yyyyMMdd HH:mm:ss) ";
    QTest::newRow("log date") << -1 << true << false << "yyyyMMdd ";
    QTest::newRow("log time") << -1 << false << true << "HH:mm:ss ";
    QTest::newRow("log both") << -1 << true << true << "yyyyMMdd/HH:mm:ss ";
}

void TestCodecs::currentTimeText()
{
    QFETCH(int, kind);
    QFETCH(bool, logDate);
    QFETCH(bool, logTime);
    QFETCH(QString, format);

    const QDateTime before = QDateTime::currentDateTime();
    const QString text = kind >= 0 ? GetTimeText(kind) : GetLogTimeText(logDate, logTime);
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY2(text == before.toString(format) || text == after.toString(format), qPrintable(text));
}

void TestCodecs::currentTimeTextFollowsClock()
{
    // The per-second cache must not outlive its second.
    const QString first = GetTimeText(1);
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentSecsSinceEpoch() != second, 2000);
    const QDateTime before = QDateTime::currentDateTime();
    const QString next = GetTimeText(1);
    QVERIFY(next != first);
    QVERIFY(next == before.toString(u"(HH:mm:ss) "_s) ||
            next == QDateTime::currentDateTime().toString(u"(HH:mm:ss) "_s));
    QCOMPARE(GetTimeText(7), QString());
}

void TestCodecs::currentTimeTextFromThreads()
{
    static const QRegularExpression shape(u"^\\(\\d{8} \\d{2}:\\d{2}:\\d{2}\\) $"_s);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&bad] {
            for (int i = 0; i < 20000; ++i) {
                if (!shape.match(GetTimeText(2)).hasMatch()) ++bad;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    QCOMPARE(bad.load(), 0);
}

void TestCodecs::lineNumberText_data()
{
    QTest::addColumn<qint64>("n");
    QTest::addColumn<QString>("text");
    QTest::newRow("-5") << qint64(-5) << "00| ";
    QTest::newRow("min") << std::numeric_limits<qint64>::min() << "00| ";
    QTest::newRow("0") << qint64(0) << "00| ";
    QTest::newRow("7") << qint64(7) << "07| ";
    QTest::newRow("99") << qint64(99) << "99| ";
    QTest::newRow("100") << qint64(100) << "100| ";
    QTest::newRow("999") << qint64(999) << "999| ";
    QTest::newRow("1000") << qint64(1000) << "1000| ";
    QTest::newRow("123456789") << qint64(123456789) << "123456789| ";
    QTest::newRow("max") << std::numeric_limits<qint64>::max() << "9223372036854775807| ";
}

void TestCodecs::lineNumberText()
{
    QFETCH(qint64, n);
    QFETCH(QString, text);
    QCOMPARE(GetLineNumberText(n), text);
}

void TestCodecs::logLineNumberText()
{
    QCOMPARE(GetLogLineNumberText(5, true), u"05| "_s);
    QCOMPARE(GetLogLineNumberText(5, false), QString());
}

void TestCodecs::extractPortName_data()
{
    QTest::addColumn<QString>("fullName");
    QTest::addColumn<QString>("portName");

    QTest::newRow("COM") << "USB Serial Port (COM3)"
                         << "COM3";
    QTest::newRow("com") << "Communications Port (com12)"
                         << "com12";
    QTest::newRow("PID") << "Keyboard VID 0x00AB PID 0x00CD"
                         << "PID 0x00CD";
    QTest::newRow("HID without product string") << " VID 0x1234 PID 0xBEEF"
                                                << "PID 0xBEEF";
    QTest::newRow("PID near the end") << "Pad PID 0x1"
                                      << "PID 0x1";
    QTest::newRow("LPT") << "ECP Printer Port (LPT1)"
                         << "";
    QTest::newRow("no closing parenthesis") << "COM7 without a closing parenthesis"
                                            << "";
    QTest::newRow(") before COM") << "(X) COM4)"
                                  << "";
    QTest::newRow("first ) of the whole name") << "Port (COM5) (extra)"
                                               << "COM5";
    QTest::newRow("trimmed") << "\t USB Serial Port (COM3) \r\n"
                             << "COM3";
    QTest::newRow("COM wins over com") << "com port (COM9)"
                                       << "COM9";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("ttyUSB") << "FT232R USB UART (ttyUSB0)"
                            << "ttyUSB0";
    QTest::newRow("ttyACM") << "USB Serial Device (ttyACM0)"
                            << "ttyACM0";
    QTest::newRow("pts path") << "Virtual Port (/dev/pts/3)"
                              << "/dev/pts/3";
    QTest::newRow("final parentheses") << "Gadget (rev 2) (ttyS1)"
                                       << "ttyS1";
    QTest::newRow("COM inside the path") << "Virtual Port (/dev/COMx)"
                                         << "/dev/COMx";
    QTest::newRow("com inside a kernel name") << "Unknow (rfcomm0)"
                                              << "rfcomm0";
    QTest::newRow("COM in a HID product") << "Telecom Headset VID 0x0B0E PID 0x0412"
                                          << "PID 0x0412";
    QTest::newRow("socat link") << "Virtual Port (/tmp/ttyV0)"
                                << "/tmp/ttyV0";
    QTest::newRow("by-id path") << "Virtual Port (/dev/serial/by-id/usb-Qualcomm_0-if00)"
                                << "/dev/serial/by-id/usb-Qualcomm_0-if00";
    QTest::newRow("com in product name") << "Qualcomm Gobi 2000 (ttyUSB2)"
                                         << "ttyUSB2";
    QTest::newRow("COM in product name") << "COMTROL RocketPort (ttyR0)"
                                         << "ttyR0";
    QTest::newRow("PID in product name") << "RAPID Debugger (ttyACM1)"
                                         << "ttyACM1";
    QTest::newRow("bare tty") << "Serial Port (tty)"
                              << "";
    QTest::newRow("bare /dev/") << "Virtual Port (/dev/)"
                                << "";
    QTest::newRow("relative path") << "Virtual Port (dev/ttyS0)"
                                   << "";
    QTest::newRow("tty with slash") << "Port (tty/../x)"
                                    << "";
    QTest::newRow("not at the end") << "Serial Port (ttyS0) spare"
                                    << "";
    QTest::newRow("parenthesis only") << ")"
                                      << "";
}

void TestCodecs::extractPortName()
{
    QFETCH(QString, fullName);
    QFETCH(QString, portName);
    QCOMPARE(ExtractPortName(fullName), portName);
}

void TestCodecs::safeFileNamePart_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("safe");

    QTest::newRow("plain") << "FT232R USB UART (ttyUSB0)"
                           << "FT232R USB UART (ttyUSB0)";
    QTest::newRow("traversal") << "../../x"
                               << "_._.._x";
    QTest::newRow("slash") << "a/b"
                           << "a_b";
    QTest::newRow("backslash") << "a\\b"
                               << "a_b";
    QTest::newRow("path") << "Virtual Port (/dev/pts/3)"
                          << "Virtual Port (_dev_pts_3)";
    QTest::newRow("controls") << QString::fromUtf8("\x01"
                                                   "a\tb\x7F"
                                                   "c\0d",
                                                   8)
                              << "_a_b_c_d";
    QTest::newRow("C1 and bidi override") << u"a\u0085b\u202Ec"_s << "a_b_c";
    QTest::newRow("leading dot") << ".hidden"
                                 << "_hidden";
    QTest::newRow("dot") << "."
                         << "_";
    QTest::newRow("dot dot") << ".."
                             << "_.";
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + u'x' << "_x";
    QTest::newRow("pair kept") << u"😀"_s << u"😀"_s;
    QTest::newRow("CJK kept") << u"串口 (ttyUSB0)"_s << u"串口 (ttyUSB0)"_s;
    QTest::newRow("empty") << ""
                           << "";
}

void TestCodecs::safeFileNamePart()
{
    QFETCH(QString, name);
    QFETCH(QString, safe);
    QCOMPARE(SafeFileNamePart(name), safe);
}

void TestCodecs::safeFileNamePartLongNames_data()
{
    QTest::addColumn<QString>("unit");
    QTest::newRow("ASCII") << "a";
    QTest::newRow("CJK") << u"串"_s;
    QTest::newRow("emoji") << u"😀"_s;
}

void TestCodecs::safeFileNamePartLongNames()
{
    QFETCH(QString, unit);
    // USB descriptors are attacker-chosen; a 4 KB name must still give a usable file name.
    const QString a = unit.repeated(4096 / unit.size()) + u'A';
    const QString b = unit.repeated(4096 / unit.size()) + u'B';
    const QString safeA = SafeFileNamePart(a);
    const QString safeB = SafeFileNamePart(b);
    QVERIFY(!safeA.isEmpty());
    QVERIFY(safeA.toUtf8().size() <= 150);
    QCOMPARE(QString::fromUtf8(safeA.toUtf8()), safeA); // no half surrogate pair
    QVERIFY(safeA != safeB);
    QCOMPARE(SafeFileNamePart(a), safeA);
}

void TestCodecs::trimControl_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("blanks and controls")
        << QString::fromUtf8(QByteArray("\0\x01 \t a b \r\n\x1F ", 13)) << "a b";
    QTest::newRow("DEL and NBSP stay") << u"\u00A0x\u007F"_s << u"\u00A0x\u007F"_s;
    QTest::newRow("all blank") << " \t\r\n"
                               << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestCodecs::trimControl()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    QCOMPARE(TrimControl(text), trimmed);
}

QTEST_GUILESS_MAIN(TestCodecs)
#include "tst_codecs.moc"

void TestCodecs::parseHexText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("where"); // part of the message
    const QByteArray modbus = QByteArray::fromHex("010300000002C40B");
    QTest::newRow("no separators") << u"010300000002C40B"_s << true << modbus << QString();
    QTest::newRow("blanks") << u"01 03 00 00 00 02 C4 0B"_s << true << modbus << QString();
    QTest::newRow("commas") << u"01,03,00,00,00,02,c4,0b"_s << true << modbus << QString();
    QTest::newRow("dashes and tabs") << u"01-03-00\t00 00-02\tC4-0B"_s << true << modbus << QString();
    QTest::newRow("0x") << u"0x01 0x03 0x0000 0X0002 0xC40B"_s << true << modbus << QString();
    QTest::newRow("line breaks") << u"0103\r\n0000\n0002\rC40B\r\n"_s << true << modbus << QString();
    QTest::newRow("pairs in a run") << u"0103 00000002 C4 0B"_s << true << modbus << QString();
    QTest::newRow("empty") << QString() << true << QByteArray() << QString();
    QTest::newRow("blanks only") << u" \t "_s << true << QByteArray() << QString();
    QTest::newRow("single digits") << u"1 2 3"_s << false << QByteArray() << u"position 1"_s;
    QTest::newRow("odd run") << u"01 030"_s << false << QByteArray() << u"position 6"_s;
    QTest::newRow("odd last digit") << u"010"_s << false << QByteArray() << u"position 3"_s;
    QTest::newRow("not hex") << u"01 0G"_s << false << QByteArray()
                             << u"\"G\" is not a hex digit at position 5"_s;
    QTest::newRow("old free separator") << u"01xA2"_s << false << QByteArray() << u"position 3"_s;
    QTest::newRow("0x alone") << u"01 0x"_s << false << QByteArray() << u"position 4"_s;
    QTest::newRow("chinese") << u"01 你好"_s << false << QByteArray()
                             << u"\"你\" is not a hex digit at position 4"_s;
}

void TestCodecs::parseHexText()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, where);
    QByteArray out("untouched");
    QString error;
    QCOMPARE(ParseHexText(text, &out, &error), ok);
    if (ok) {
        QCOMPARE(out, bytes);
        QVERIFY(error.isEmpty());
    } else {
        QCOMPARE(out, QByteArray("untouched"));
        QVERIFY2(error.contains(where), qPrintable(error));
    }
}

// Grid rows written as the program writes hex (cells of two digits and a blank) give the
// bytes the cell reader gives them.
void TestCodecs::parseHexTextKeepsWellFormedCells()
{
    for (int n = 0; n <= 64; ++n) {
        QByteArray bytes;
        for (int k = 0; k < n; ++k) bytes += char((k * 37 + n) & 0xFF);
        for (const QString& text :
             {HexText(u8(bytes), n), HexText(u8(bytes), n).trimmed(), HexText(u8(bytes), n).toLower()}) {
            quint8 buffer[64] = {};
            int count = 0;
            HexStrToBytes(text, buffer, 64, &count);
            QByteArray parsed;
            QVERIFY(ParseHexText(text, &parsed));
            QCOMPARE(parsed, bytesOf(buffer, count));
        }
    }
}

void TestCodecs::decoderSplitAtEveryByte_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("text");
    const QString zh = u"温度 23.5°C 你好，世界 😀"_s;
    QTest::newRow("utf-8") << int(TTextEncoding::Utf8) << zh;
    QTest::newRow("gb18030") << int(TTextEncoding::Gb18030) << zh;
    QTest::newRow("big5") << int(TTextEncoding::Big5) << u"溫度 你好"_s;
    QTest::newRow("shift_jis") << int(TTextEncoding::ShiftJis) << u"温度 こんにちは"_s;
    QTest::newRow("iso-8859-1") << int(TTextEncoding::Latin1) << u"23.5°C Ã©"_s;
    QTest::newRow("bytes") << int(TTextEncoding::Bytes) << u"23.5°C Ã©"_s;
}

void TestCodecs::decoderSplitAtEveryByte()
{
    QFETCH(int, encoding);
    QFETCH(QString, text);
    const auto e = TTextEncoding(encoding);
    QByteArray bytes;
    QVERIFY(EncodeText(text, e, &bytes));
    for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
        for (qsizetype cut2 = cut; cut2 <= bytes.size(); cut2 += 3) {
            TTextDecoder decoder(e);
            QString out = decoder.Decode(bytes.constData(), cut);
            out += decoder.Decode(bytes.constData() + cut, cut2 - cut);
            out += decoder.Decode(bytes.constData() + cut2, bytes.size() - cut2);
            QCOMPARE(out, text);
            QCOMPARE(decoder.InvalidCount(), qint64(0));
        }
    }
}

void TestCodecs::decoderCountsInvalidBytes_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("invalid");
    QTest::newRow("utf-8 lone continuation") << int(TTextEncoding::Utf8)
                                             << QByteArray("a\x80"
                                                           "b")
                                             << u"a\uFFFDb"_s << 1;
    QTest::newRow("utf-8 bytes as latin-1")
        << int(TTextEncoding::Utf8) << QByteArray("\xE9t\xE9!") << u"\uFFFDt\uFFFD!"_s << 2;
    QTest::newRow("utf-8 ff") << int(TTextEncoding::Utf8) << QByteArray("\xFF\xFE") << u"\uFFFD\uFFFD"_s << 2;
    QTest::newRow("utf-8 bom kept") << int(TTextEncoding::Utf8) << QByteArray("\xEF\xBB\xBFx") << u"\uFEFFx"_s
                                    << 0;
    QTest::newRow("gb18030 bad trail")
        << int(TTextEncoding::Gb18030) << QByteArray("\xC4\xE3\x80") << u"你\uFFFD"_s << 1;
    QTest::newRow("bytes never invalid")
        << int(TTextEncoding::Bytes) << QByteArray("\x80\xFF") << u"\u0080\u00FF"_s << 0;
}

void TestCodecs::decoderCountsInvalidBytes()
{
    QFETCH(int, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(int, invalid);
    TTextDecoder decoder{TTextEncoding(encoding)};
    QCOMPARE(decoder.Decode(bytes.constData(), bytes.size()), text);
    QCOMPARE(decoder.InvalidCount(), qint64(invalid));
}

void TestCodecs::encodeText_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("badAt"); // -1: encodable
    QString lone = u"ab"_s;
    lone.insert(1, QChar(0xD800));
    QTest::newRow("utf-8") << int(TTextEncoding::Utf8) << u"你好"_s << QByteArray("\xE4\xBD\xA0\xE5\xA5\xBD")
                           << -1;
    QTest::newRow("gb18030") << int(TTextEncoding::Gb18030) << u"你好"_s << QByteArray("\xC4\xE3\xBA\xC3")
                             << -1;
    QTest::newRow("big5") << int(TTextEncoding::Big5) << u"中"_s << QByteArray("\xA4\xA4") << -1;
    QTest::newRow("shift_jis") << int(TTextEncoding::ShiftJis) << u"あ"_s << QByteArray("\x82\xA0") << -1;
    QTest::newRow("latin-1") << int(TTextEncoding::Latin1) << u"é"_s << QByteArray("\xE9") << -1;
    QTest::newRow("bytes") << int(TTextEncoding::Bytes) << u"\u00FF"_s << QByteArray("\xFF") << -1;
    QTest::newRow("chinese in bytes") << int(TTextEncoding::Bytes) << u"a你好"_s << QByteArray() << 1;
    QTest::newRow("chinese in latin-1") << int(TTextEncoding::Latin1) << u"你"_s << QByteArray() << 0;
    QTest::newRow("emoji in big5") << int(TTextEncoding::Big5) << u"ab😀"_s << QByteArray() << 2;
    QTest::newRow("lone surrogate") << int(TTextEncoding::Utf8) << lone << QByteArray() << 1;
}

void TestCodecs::encodeText()
{
    QFETCH(int, encoding);
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, badAt);
    QByteArray out("untouched");
    qsizetype bad = -1;
    QCOMPARE(EncodeText(text, TTextEncoding(encoding), &out, &bad), badAt < 0);
    if (badAt < 0) {
        QCOMPARE(out, bytes);
    } else {
        QCOMPARE(out, QByteArray("untouched"));
        QCOMPARE(bad, qsizetype(badAt));
        QVERIFY(
            UnencodableMessage(text, bad, TTextEncoding(encoding)).contains(u"position %1"_s.arg(badAt + 1)));
    }
}

void TestCodecs::encodingNames()
{
    for (const TTextEncoding e : kTextEncodings) {
        TTextEncoding back = TTextEncoding::Bytes;
        QVERIFY(TextEncodingFromName(TextEncodingName(e).toLower(), &back));
        QCOMPARE(back, e);
    }
    TTextEncoding e = TTextEncoding::Big5;
    QVERIFY(!TextEncodingFromName(u"EBCDIC"_s, &e));
    QCOMPARE(e, TTextEncoding::Big5);
    TLineBreaks b = TLineBreaks::Any;
    QVERIFY(LineBreaksFromName(LineBreaksName(TLineBreaks::CrLfOnly), &b));
    QCOMPARE(b, TLineBreaks::CrLfOnly);
    QVERIFY(!LineBreaksFromName(u"LF"_s, &b));
}

void TestCodecs::lineBreaksSplitAtEveryByte_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("any");
    QTest::addColumn<QByteArray>("crlfOnly");
    QTest::newRow("lf") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n") << QByteArray("a\nb\n");
    QTest::newRow("cr") << QByteArray("10%\r50%\r") << QByteArray("10%\r\n50%\r\n")
                        << QByteArray("10%\r50%\r");
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("mix") << QByteArray("a\r\n\nb\r\rc\n\rd") << QByteArray("a\r\n\r\nb\r\n\r\nc\r\n\r\nd")
                         << QByteArray("a\r\n\nb\r\rc\n\rd");
    QTest::newRow("lf cr is two") << QByteArray("x\n\ry") << QByteArray("x\r\n\r\ny") << QByteArray("x\n\ry");
}

void TestCodecs::lineBreaksSplitAtEveryByte()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, any);
    QFETCH(QByteArray, crlfOnly);
    for (const TLineBreaks mode : {TLineBreaks::Any, TLineBreaks::CrLfOnly}) {
        const QByteArray want = mode == TLineBreaks::Any ? any : crlfOnly;
        for (qsizetype cut = 0; cut <= input.size(); ++cut) {
            TLineBreakFilter bytes, text;
            bytes.SetMode(mode);
            text.SetMode(mode);
            QByteArray gotBytes = bytes.Apply(QByteArrayView(input).first(cut));
            gotBytes += bytes.Apply(QByteArrayView());
            gotBytes += bytes.Apply(QByteArrayView(input).sliced(cut));
            QCOMPARE(gotBytes, want);
            QString gotText = text.Apply(QString::fromLatin1(input.left(cut)));
            gotText += text.Apply(QString::fromLatin1(input.mid(cut)));
            QCOMPARE(gotText, QString::fromLatin1(want));
        }
    }
}

// The prefix of lines shown in bulk is the prefix of the single line, byte for byte.
void TestCodecs::linePrefixUtf8MatchesText()
{
    const qint64 base = QDateTime(QDate(2024, 3, 7), QTime(23, 59, 58)).toMSecsSinceEpoch();
    for (const qint64 ms : {base, base + 7, base + 999, base + 1000, base + 2001, base, base + 86400000}) {
        for (int kind = -1; kind <= 3; ++kind)
            for (const bool withMs : {false, true})
                for (const qint64 line : {qint64(-3), qint64(0), qint64(7), qint64(10), qint64(123456789)})
                    for (const bool number : {false, true}) {
                        QByteArray out("x");
                        AppendLinePrefixUtf8(out, number, line, kind, ms, withMs);
                        const QString want =
                            (number ? GetLineNumberText(line) : QString()) + GetTimeTextAt(kind, ms, withMs);
                        QCOMPARE(out, "x" + want.toUtf8());
                    }
    }
}

// The per-second cache gives what formatting the moment itself gives.
void TestCodecs::timeTextAtMatchesDateTime()
{
    const qint64 base = QDateTime(QDate(2024, 3, 7), QTime(23, 59, 58)).toMSecsSinceEpoch();
    for (const qint64 ms :
         {base, base + 1, base + 999, base + 1000, base + 1999, base + 2001, base + 5, base}) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms);
        for (int kind = -1; kind <= 3; ++kind)
            for (const bool withMs : {false, true})
                QCOMPARE(GetTimeTextAt(kind, ms, withMs), GetTimeText(kind, at, withMs));
    }
}
