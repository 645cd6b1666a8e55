#include "../ui/UiFind.h"
#include "../ui/UiTestEnv.h"
#include "NetRig.h"
#include "TCvComPortObj.h"
#include "TNetworkPorts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include "TCvFileSender.h"

using namespace Qt::Literals::StringLiterals;

// A network port added through the device list's menu, used from the window, kept in
// Corvane.ini and removed again.
class TstNetworkWindow : public QObject {
    Q_OBJECT
private slots:
    void addOpenExchangeRemove();
    void dialogRefusesBadHostAndBindsLoopback();
    void handEditedListLoadsWhatParses();
    void fileSendClosedMidWayLogsOnlyWhatWent();
};

namespace {

QStringList MemoLines(const TLogView* memo)
{
    QStringList out;
    for (qint64 i = 0; i < memo->Model().LineCount(); ++i) out << memo->Model().Line(i);
    return out;
}

bool Contains(const QStringList& lines, const QString& text)
{
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& l) { return l.contains(text); });
}

QStringList DeviceList(const TSplitViewForm& w)
{
    QStringList items;
    const auto* list = Ui::Find<QComboBox>(w, u"ComboBoxEx1"_s);
    for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
    return items;
}

void FillDialog(TSplitViewForm& w, int kind, const QString& host, int port)
{
    Ui::Find<QAction>(w, u"AddNetworkPort1"_s)->trigger();
    Ui::Find<QComboBox>(w, u"ComboNetKind"_s)->setCurrentIndex(kind);
    Ui::Find<QLineEdit>(w, u"EditNetHost"_s)->setText(host);
    Ui::Find<QSpinBox>(w, u"SpinNetPort"_s)->setValue(port);
}

} // namespace

void TstNetworkWindow::addOpenExchangeRemove()
{
    UiTestEnv env;
    QTcpServer peerServer;
    QVERIFY(peerServer.listen(QHostAddress::LocalHost, 0));
    const quint16 port = peerServer.serverPort();
    const QString name = u"TCP (127.0.0.1:%1)"_s.arg(port);
    {
        auto w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        FillDialog(*w, 0, u"127.0.0.1"_s, port);
        Ui::Find<QPushButton>(*w, u"ButtonNetOk"_s)->click();
        QTRY_VERIFY(w->findChildren<QDialog*>(u"NetworkPortDialog"_s).isEmpty());
        QVERIFY(DeviceList(*w).contains(name));
        QCOMPARE(w->GetCurrentDeviceName(), name);

        // Opened with hex display, as any port.
        Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->setCurrentIndex(rfHex);
        auto* open = Ui::Find<QPushButton>(*w, u"Button2"_s);
        open->click();
        TCvComPortObj* obj = w->GetDeciceByFullName(name);
        QVERIFY(obj && obj->Connected());
        QTRY_VERIFY(peerServer.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(peerServer.nextPendingConnection());
        QTRY_VERIFY(Contains(MemoLines(obj->LogView()), u"Connected to 127.0.0.1:%1."_s.arg(port)));

        peer->write(QByteArray::fromHex("01ff41"));
        QTRY_COMPARE(obj->FComReceiveCount.load(), 3);
        QTRY_VERIFY((obj->FlushUiQueue(), Contains(MemoLines(obj->LogView()), u"01 FF 41"_s)));

        // The block send goes out over the connection.
        Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u"hello"_s);
        Ui::Find<QPushButton>(*w, u"Button8"_s)->click();
        QVERIFY(ReadPeer(peer.get(), 5).startsWith("hello"));

        open->click();
        QVERIFY(!obj->Connected());
        QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    }
    QVERIFY(ReadFile(env.SettingDir() + u"Corvane.ini"_s)
                .contains(u"Port1=tcp://127.0.0.1:%1"_s.arg(port).toUtf8()));

    // Listed again after a restart, and removed from the menu.
    auto w = UiTestEnv::Start("en_US");
    QVERIFY(DeviceList(*w).contains(name));
    auto* list = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s);
    list->setCurrentIndex(list->findText(name));
    Ui::Find<QAction>(*w, u"RemoveNetworkPort1"_s)->trigger();
    QVERIFY(!DeviceList(*w).contains(name));
    w.reset();
    w = UiTestEnv::Start("en_US");
    QVERIFY(!DeviceList(*w).contains(name));
}

void TstNetworkWindow::dialogRefusesBadHostAndBindsLoopback()
{
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    FillDialog(*w, 0, u"no host"_s, 5000);
    Ui::Find<QPushButton>(*w, u"ButtonNetOk"_s)->click();
    // Still open, with the reason.
    QVERIFY(Ui::Find<QLabel>(*w, u"LabelNetError"_s)->text().contains(u"not a valid name or address"_s));
    QVERIFY(Ui::Find<QDialog>(*w, u"NetworkPortDialog"_s)->isVisible());

    // A server listens on loopback unless another address is chosen on purpose.
    const quint16 port = FreePort();
    Ui::Find<QComboBox>(*w, u"ComboNetKind"_s)->setCurrentIndex(1);
    Ui::Find<QSpinBox>(*w, u"SpinNetPort"_s)->setValue(port);
    QVERIFY(!Ui::Find<QLineEdit>(*w, u"EditNetBind"_s)->isEnabled());
    Ui::Find<QPushButton>(*w, u"ButtonNetOk"_s)->click();
    const QString name = u"TCP server (:%1)"_s.arg(port);
    QVERIFY(DeviceList(*w).contains(name));
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    TCvComPortObj* obj = w->GetDeciceByFullName(name);
    QVERIFY(obj && obj->Connected());
    QVERIFY(Contains(MemoLines(obj->LogView()), u"Listening on 127.0.0.1:%1"_s.arg(port)));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(client.waitForConnected(5000));
    QTRY_VERIFY(Contains(MemoLines(obj->LogView()), u"Client 127.0.0.1:"_s));

    FillDialog(*w, 1, QString(), port + 1);
    Ui::Find<QCheckBox>(*w, u"CheckNetOtherAddress"_s)->setChecked(true);
    Ui::Find<QLineEdit>(*w, u"EditNetBind"_s)->setText(u"0.0.0.0"_s);
    Ui::Find<QPushButton>(*w, u"ButtonNetOk"_s)->click();
    QVERIFY(DeviceList(*w).contains(u"TCP server (0.0.0.0:%1)"_s.arg(port + 1)));
}

void TstNetworkWindow::handEditedListLoadsWhatParses()
{
    UiTestEnv env;
    env.WriteSetting(u"Corvane.ini"_s, "[NetworkPorts]\nCount=99999999\nPort1=tcp://good:1\nPort2=garbage\n"
                                       "Port3=tcp://good:1\nPort4=tcp-server://1.2.3.4:70000\n"
                                       "Port5=rfc2217://[::1]:2217\n");
    TNetworkPorts ports(env.SettingDir() + u"Corvane.ini"_s);
    QVERIFY(ports.Load());
    QStringList names;
    for (const TNetworkAddress& a : ports.Addresses()) names << a.FullName();
    QCOMPARE(names, (QStringList{u"TCP (good:1)"_s, u"RFC 2217 ([::1]:2217)"_s}));
    // Saving writes the list back whole and blanks what it left out.
    QCOMPARE(ports.Remove(ports.Addresses().at(0)), TNetworkPorts::TRemoveResult::Removed);
    TNetworkPorts again(env.SettingDir() + u"Corvane.ini"_s);
    QVERIFY(again.Load());
    QCOMPARE(again.Addresses().size(), 1);
    QCOMPARE(again.Addresses().at(0).PortName(), u"rfc2217://[::1]:2217"_s);
}

// A file sent to a peer that reads slowly, and the port closed while it goes: the hex lines
// the send logged, its count and the Sent counter all say what the peer then gets.
void TstNetworkWindow::fileSendClosedMidWayLogsOnlyWhatWent()
{
    UiTestEnv env;
    QTcpServer peerServer;
    QVERIFY(peerServer.listen(QHostAddress::LocalHost, 0));
    const quint16 port = peerServer.serverPort();
    const QString name = u"TCP (127.0.0.1:%1)"_s.arg(port);
    auto w = UiTestEnv::Start("en_US");
    w->show();
    FillDialog(*w, 0, u"127.0.0.1"_s, port);
    Ui::Find<QPushButton>(*w, u"ButtonNetOk"_s)->click();
    QTRY_VERIFY(w->findChildren<QDialog*>(u"NetworkPortDialog"_s).isEmpty());
    auto* open = Ui::Find<QPushButton>(*w, u"Button2"_s);
    open->click();
    TCvComPortObj* obj = w->GetDeciceByFullName(name);
    QVERIFY(obj && obj->Connected());
    QTRY_VERIFY(peerServer.hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(peerServer.nextPendingConnection());
    // Qt reads no more than this for the peer: the system's buffers fill, and the send waits.
    peer->setReadBufferSize(4096);
    QTRY_VERIFY(Contains(MemoLines(obj->LogView()), u"Connected to 127.0.0.1:%1."_s.arg(port)));

    const qint64 size = TCvFileSender::MaxFileSize;
    QByteArray data(int(size), Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i) data[i] = char(i * 7 + 3);
    const QString path = env.tmp.filePath(u"five.bin"_s);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(data) == size);
    f.close();
    w->OpenDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button23"_s)->click();
    Ui::Find<QPushButton>(*w, u"Button24"_s)->click();
    qint64 stalled = -1;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const qint64 now = obj->FComSentCount.load();
            const bool still = now == stalled && now > 0;
            stalled = now;
            QTest::qWait(200);
            return still;
        }(),
        20000);
    QVERIFY2(w->SendingFile(), "the system took the whole file: nothing to close on");
    open->click();
    QVERIFY(!obj->Connected());
    QTRY_VERIFY(!w->SendingFile());

    obj->FlushUiQueue();
    // The first port opened writes into the main log.
    const QStringList lines = MemoLines(Ui::Find<TLogMemo>(*w, u"Memo1"_s));
    const qint64 sent = obj->FComSentCount.load();
    QVERIFY(Contains(
        lines,
        u"File sending stopped: the device was closed. %1 of %2 bytes were sent."_s.arg(sent).arg(size)));
    // Hex lines after the main log's line numbers.
    static const QRegularExpression hex(u"^(?:\\d+\\| )?((?:[0-9A-F]{2} )+)$"_s);
    qint64 logged = 0;
    for (const QString& line : lines)
        if (const QRegularExpressionMatch m = hex.match(line); m.hasMatch())
            logged += m.capturedLength(1) / 3;
    QCOMPARE(logged, sent);

    // Read at once, the peer gets all of it; a machine slow enough that the peer takes longer
    // than the grace time after the close has the log say how many bytes did not go.
    const QByteArray got = ReadPeerToEnd(peer.get());
    const qint64 notSent = NotSentTold(MemoLines(Ui::Find<TLogMemo>(*w, u"Memo1"_s)));
    QVERIFY(got == data.left(got.size()));
    QVERIFY2(got.size() <= sent && got.size() + notSent >= sent,
             qPrintable(u"%1 sent, %2 taken, %3 told as not sent"_s.arg(sent).arg(got.size()).arg(notSent)));
    if (notSent == 0) QCOMPARE(got.size(), sent);
}

QTEST_MAIN(TstNetworkWindow)
#include "tst_networkwindow.moc"
