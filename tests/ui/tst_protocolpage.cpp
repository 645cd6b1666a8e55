// The protocol conversion page: what Button16 sends, read from a pseudo-terminal peer.

#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Packet {
    quint16 type = 0, index = 0, total = 0, length = 0;
    QByteArray payload;
};

quint16 Word(const QByteArray& b, int at)
{
    return quint16(quint8(b[at]) | (quint8(b[at + 1]) << 8));
}

// The peer's side of the line: reads whole packets, keeping what arrived beyond one.
class PacketReader {
public:
    explicit PacketReader(PtyPair& pty) : FPty(pty) {}

    Packet Next()
    {
        Packet p;
        if (!Fill(10) || Word(FPending, 0) != 0xBFC6) return p;
        p.type = Word(FPending, 2);
        p.index = Word(FPending, 4);
        p.total = Word(FPending, 6);
        p.length = Word(FPending, 8);
        if (!Fill(p.length)) return Packet{};
        // The last two bytes of a data packet are its checksum.
        if (p.length > 10) p.payload = FPending.mid(10, p.length - 12);
        FPending.remove(0, p.length);
        return p;
    }
    // Whatever else arrives within the time.
    QByteArray Rest(int ms)
    {
        FPending += FPty.ReadFor(ms);
        return std::exchange(FPending, {});
    }

private:
    bool Fill(int n)
    {
        if (FPending.size() < n) FPending += FPty.Read(int(n - FPending.size()));
        return FPending.size() >= n;
    }
    PtyPair& FPty;
    QByteArray FPending;
};

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QString LogText(TCvComPortObj* obj)
{
    QStringList lines;
    for (qint64 i = 0; i < obj->LogView()->Model().LineCount(); ++i) lines << obj->LogView()->Model().Line(i);
    return lines.join(u'\n');
}

} // namespace

class TstProtocolPage : public QObject {
    Q_OBJECT
private slots:
    void operationSendsItsPacket_data();
    void operationSendsItsPacket();
    void unreadableWriteDataSendsNothing_data();
    void unreadableWriteDataSendsNothing();
    void connectIsHeaderOnly();
    void overlongTextIsCutAndReported_data();
    void overlongTextIsCutAndReported();
    void noDeviceDoesNothing();
    void addressBoxesTakeDigitsOnly_data();
    void addressBoxesTakeDigitsOnly();
};

void TstProtocolPage::operationSendsItsPacket_data()
{
    QTest::addColumn<QString>("bus");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("devAddress"); // empty: the initial text
    QTest::addColumn<QString>("memAddress");
    QTest::addColumn<QString>("data"); // empty: the initial sample lines
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("payload");
    // "0x00000040,0x00000000" reads as the pairs 0x 00 00 0, x0 00 00: all zero.
    QTest::newRow("read I2C, initial texts")
        << u"I2C"_s << u"Read"_s << QString() << QString() << QString() << 50 << QByteArray(7, 0);
    QTest::newRow("read SPI") << u"SPI"_s << u"Read"_s << QString() << QString() << QString() << 52
                              << QByteArray(7, 0);
    QTest::newRow("read CAN") << u"CAN"_s << u"Read"_s << QString() << QString() << QString() << 101
                              << QByteArray(7, 0);
    QTest::newRow("read ModBus, addresses")
        << u"ModBus"_s << u"Read"_s << u"12 34"_s << u"56"_s << QString() << 101 << Hex("123456");
    QTest::newRow("write SPI") << u"SPI"_s << u"Write"_s << QString() << QString() << u"01 02 03"_s << 53
                               << Hex("010203");
    QTest::newRow("write I2C") << u"I2C"_s << u"Write"_s << QString() << QString() << u"aB ff"_s << 51
                               << Hex("abff");
    QTest::newRow("write RS485") << u"RS485"_s << u"Write"_s << QString() << QString() << u"7e"_s << 101
                                 << Hex("7e");
    // A line break separates bytes like a blank.
    QTest::newRow("write two lines") << u"I2C"_s << u"Write"_s << QString() << QString() << u"01 02\n03"_s
                                     << 51 << Hex("010203");
    QTest::newRow("write packed") << u"I2C"_s << u"Write"_s << QString() << QString() << u"010300000002C40B"_s
                                  << 51 << Hex("010300000002C40B");
    QTest::newRow("write blanks around")
        << u"SPI"_s << u"Write"_s << QString() << QString() << u"  \n01 02  \n"_s << 53 << Hex("0102");
}

void TstProtocolPage::unreadableWriteDataSendsNothing_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("where");
    QTest::newRow("no hex digits") << u"zz zz"_s << u"position 1"_s;
    QTest::newRow("odd digit") << u"01 02 3"_s << u"position 7"_s;
}

void TstProtocolPage::unreadableWriteDataSendsNothing()
{
    QFETCH(QString, data);
    QFETCH(QString, where);
    UiTestEnv env;
    WindowDevice dev;
    auto w = UiTestEnv::Start("en_US");
    TCvComPortObj* obj = dev.Attach(*w);
    dev.pty->ReadFor(50);
    Ui::Find<QComboBox>(*w, u"ComboBox9"_s)->setCurrentText(u"SPI"_s);
    Ui::Find<QComboBox>(*w, u"ComboBox12"_s)->setCurrentText(u"Write"_s);
    Ui::Find<QPlainTextEdit>(*w, u"Memo5"_s)->setPlainText(data);
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button16"_s), Qt::LeftButton);
    QCOMPARE(dev.pty->ReadFor(100), QByteArray());
    QVERIFY2(LogText(obj).contains(where) && LogText(obj).contains(u"Nothing was sent"_s),
             qPrintable(LogText(obj)));
}

void TstProtocolPage::operationSendsItsPacket()
{
    QFETCH(QString, bus);
    QFETCH(QString, operation);
    QFETCH(QString, devAddress);
    QFETCH(QString, memAddress);
    QFETCH(QString, data);
    QFETCH(int, type);
    QFETCH(QByteArray, payload);
    UiTestEnv env;
    WindowDevice dev;
    PtyPair& pty = *dev.pty;
    QVERIFY(pty.IsValid());
    auto w = UiTestEnv::Start("en_US");
    TCvComPortObj* obj = dev.Attach(*w);
    QVERIFY(obj->Connected());
    pty.ReadFor(50);

    Ui::Find<QComboBox>(*w, u"ComboBox9"_s)->setCurrentText(bus);
    Ui::Find<QComboBox>(*w, u"ComboBox12"_s)->setCurrentText(operation);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox9"_s)->currentText(), bus);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox12"_s)->currentText(), operation);
    if (!devAddress.isEmpty()) Ui::Find<QComboBox>(*w, u"ComboBox10"_s)->setEditText(devAddress);
    if (!memAddress.isEmpty()) Ui::Find<QComboBox>(*w, u"ComboBox11"_s)->setEditText(memAddress);
    if (!data.isEmpty()) Ui::Find<QPlainTextEdit>(*w, u"Memo5"_s)->setPlainText(data);
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button16"_s), Qt::LeftButton);

    PacketReader peer(pty);
    const Packet p = peer.Next();
    QCOMPARE(p.type, type);
    QCOMPARE(p.index, 0);
    QCOMPARE(p.total, 1);
    QCOMPARE(p.length, payload.size() + 12);
    QCOMPARE(p.payload, payload);
    QCOMPARE(peer.Rest(100), QByteArray());
    QVERIFY(env.boxes.isEmpty());
}

void TstProtocolPage::connectIsHeaderOnly()
{
    UiTestEnv env;
    WindowDevice dev;
    PtyPair& pty = *dev.pty;
    auto w = UiTestEnv::Start("en_US");
    dev.Attach(*w);
    pty.ReadFor(50);
    // Whatever the other controls hold.
    Ui::Find<QComboBox>(*w, u"ComboBox9"_s)->setCurrentText(u"SPI"_s);
    Ui::Find<QComboBox>(*w, u"ComboBox10"_s)->setEditText(u"99"_s);
    Ui::Find<QPlainTextEdit>(*w, u"Memo5"_s)->setPlainText(u"01 02"_s);
    Ui::Find<QComboBox>(*w, u"ComboBox12"_s)->setCurrentText(u"Connect"_s);
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button16"_s), Qt::LeftButton);
    QCOMPARE(pty.ReadFor(300), Hex("c6bf0a00000001000a00"));
}

void TstProtocolPage::overlongTextIsCutAndReported_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("cells");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("report"); // empty: nothing reported
    QTest::newRow("data fits exactly") << u"Write"_s << 1024 << 1024 << QString();
    QTest::newRow("data one too many")
        << u"Write"_s << 1025 << 1024 << u"Data text longer than 1024 bytes: 1 bytes dropped"_s;
    QTest::newRow("data far too long")
        << u"Write"_s << 3000 << 1024 << u"Data text longer than 1024 bytes: 1976 bytes dropped"_s;
    QTest::newRow("address too long")
        << u"Read"_s << 14 << 10 << u"Address text longer than 10 bytes: 4 bytes dropped"_s;
}

void TstProtocolPage::overlongTextIsCutAndReported()
{
    QFETCH(QString, operation);
    QFETCH(int, cells);
    QFETCH(int, sent);
    QFETCH(QString, report);
    UiTestEnv env;
    WindowDevice dev;
    PtyPair& pty = *dev.pty;
    auto w = UiTestEnv::Start("en_US");
    TCvComPortObj* obj = dev.Attach(*w);
    pty.ReadFor(50);
    QByteArray expected;
    QString text;
    for (int i = 0; i < cells; ++i) {
        text += u"%1 "_s.arg(i & 0xFF, 2, 16, QLatin1Char('0'));
        expected.append(char(i & 0xFF));
    }
    expected.truncate(sent);
    Ui::Find<QComboBox>(*w, u"ComboBox9"_s)->setCurrentText(u"CAN"_s);
    Ui::Find<QComboBox>(*w, u"ComboBox12"_s)->setCurrentText(operation);
    if (operation == u"Write"_s) {
        Ui::Find<QPlainTextEdit>(*w, u"Memo5"_s)->setPlainText(text);
    } else {
        // The address text is the two boxes joined by a comma: 14 cells in all.
        Ui::Find<QComboBox>(*w, u"ComboBox10"_s)->setEditText(text.left(3 * 7 - 1));
        Ui::Find<QComboBox>(*w, u"ComboBox11"_s)->setEditText(text.left(3 * 7 - 1));
        expected = Hex("00010203040506000102");
    }
    QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button16"_s), Qt::LeftButton);

    PacketReader peer(pty);
    QByteArray payload;
    while (payload.size() < sent) {
        const Packet p = peer.Next();
        QCOMPARE(p.type, 101);
        QVERIFY(p.length > 12);
        payload += p.payload;
    }
    QCOMPARE(payload, expected);
    QCOMPARE(peer.Rest(100), QByteArray());
    if (report.isEmpty()) QVERIFY(!LogText(obj).contains(u"dropped"_s));
    else QVERIFY2(LogText(obj).contains(report), qPrintable(LogText(obj)));
    QVERIFY(env.boxes.isEmpty());
}

void TstProtocolPage::noDeviceDoesNothing()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    // Whatever devices the machine has, none is selected.
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->setCurrentIndex(-1);
    QVERIFY(!w->GetDeciceByFullName(w->GetCurrentDeviceName()));
    for (const QString& op : {u"Connect"_s, u"Read"_s, u"Write"_s}) {
        Ui::Find<QComboBox>(*w, u"ComboBox12"_s)->setCurrentText(op);
        QTest::mouseClick(Ui::Find<QPushButton>(*w, u"Button16"_s), Qt::LeftButton);
    }
    QVERIFY(env.boxes.isEmpty());
}

void TstProtocolPage::addressBoxesTakeDigitsOnly_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    for (const QString& box : {u"ComboBox10"_s, u"ComboBox11"_s}) {
        const QByteArray b = box.toLatin1();
        QTest::addRow("%s digits", b.constData()) << box << u"0123456789"_s << u"0123456789"_s;
        QTest::addRow("%s letter", b.constData()) << box << u"a"_s << QString();
        QTest::addRow("%s upper-case hex digit", b.constData()) << box << u"F"_s << QString();
        QTest::addRow("%s space", b.constData()) << box << u" "_s << QString();
        QTest::addRow("%s x between digits", b.constData()) << box << u"1x2"_s << u"12"_s;
        QTest::addRow("%s comma and dot", b.constData()) << box << u"3,.4"_s << u"34"_s;
        QTest::addRow("%s backspace", b.constData()) << box << u"12\b"_s << u"1"_s;
        QTest::addRow("%s return", b.constData()) << box << u"5\r"_s << u"5"_s;
    }
}

void TstProtocolPage::addressBoxesTakeDigitsOnly()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    auto* combo = w->findChild<QComboBox*>(box);
    QVERIFY(combo);
    combo->clearEditText();
    QTest::keyClicks(combo->lineEdit(), typed);
    QCOMPARE(combo->currentText(), result);
    // Return adds nothing to the box's list either.
    QCOMPARE(combo->count(), 0);
}

QTEST_MAIN(TstProtocolPage)
#include "tst_protocolpage.moc"
