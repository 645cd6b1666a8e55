// ZMODEM through lrzsz: our sz or rz child process bridged to a port on a real pty, lrzsz's
// rz or sz as the peer at the far end of the relay.

#include "CvReceivedFile.h"
#include "TCvLrzszTransfer.h"
#include "TransferRig.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

class TstZmodem : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sendToRz_data();
    void sendToRz();
    void receiveFromSz_data();
    void receiveFromSz();
    void withoutLrzsz_data();
    void withoutLrzsz();
    void cancelStopsBothSides_data();
    void cancelStopsBothSides();
    void pathInNameIsRefused();
    void existingFileIsKept();
};

void TstZmodem::initTestCase()
{
    for (const char* p : {"sz", "rz"})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(p)).isEmpty(),
                 "lrzsz is not installed (scripts/setup.sh installs it)");
}

void TstZmodem::sendToRz_data()
{
    QTest::addColumn<int>("size");
    for (const int size : {0, 1, 1025, 100 * 1024, 1024 * 1024}) QTest::addRow("%d bytes", size) << size;
}

void TstZmodem::sendToRz()
{
    QFETCH(int, size);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QByteArray data = Pattern(size, size + 3);
    const QString path = WriteFile(tmp.filePath(u"kernel.img"_s), data);
    TransferRig rig;
    LrzszPeer peer(rig.PeerLine(), u"rz"_s, {u"-b"_s}, in);
    auto* t = rig.Start(std::make_unique<TCvLrzszTransfer>(rig.link.get(), TCvLrzszTransfer::TDirection::Send,
                                                           QStringList{path}));
    QVERIFY(t->ChildPid() > 0);
    QVERIFY2(rig.Ended(60000), "the transfer did not end");
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(peer.Wait(20000), 0);
    QCOMPARE(ReadWhole(QDir(in).filePath(u"kernel.img"_s)), data);
    QCOMPARE(rig.result->Progress.Bytes, qint64(size));
    QCOMPARE(rig.result->Progress.Blocks, -1);
    QVERIFY(rig.port->TextStore().IsEmpty());
    // The child is gone, and the port's bytes are its own again.
    QVERIFY(!rig.port->ReceiveDiversion());
}

void TstZmodem::receiveFromSz_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("size");
    QTest::newRow("one file of 1 MiB") << QStringList{u"rootfs.bin"_s} << 1024 * 1024;
    QTest::newRow("an empty file") << QStringList{u"empty"_s} << 0;
    QTest::newRow("a batch of three") << QStringList{u"a.txt"_s, u"b.txt"_s, u"c.dat"_s} << 70000;
}

void TstZmodem::receiveFromSz()
{
    QFETCH(QStringList, names);
    QFETCH(int, size);
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(u"in"_s);
    QDir().mkpath(folder);
    QList<QByteArray> contents;
    for (int i = 0; i < names.size(); ++i) {
        contents << Pattern(size + i, i);
        WriteFile(tmp.filePath(names[i]), contents.last());
    }
    TransferRig rig;
    rig.Start(std::make_unique<TCvLrzszTransfer>(rig.link.get(), TCvLrzszTransfer::TDirection::Receive,
                                                 QStringList{folder}));
    LrzszPeer peer(rig.PeerLine(), u"sz"_s, QStringList{u"-b"_s} + names, tmp.path());
    QVERIFY2(rig.Ended(60000), "the transfer did not end");
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(peer.Wait(20000), 0);
    QCOMPARE(rig.result->Files.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(rig.result->Files[i], QDir(folder).filePath(names[i]));
        QCOMPARE(ReadWhole(rig.result->Files[i]), contents[i]);
    }
    // rz worked in a hidden folder of its own, which is gone.
    QStringList sorted = names;
    sorted.sort();
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), sorted);
    QCOMPARE(rig.messages.size(), names.size());
}

void TstZmodem::withoutLrzsz_data()
{
    QTest::addColumn<bool>("sending");
    QTest::newRow("send") << true;
    QTest::newRow("receive") << false;
}

// No sz or rz on the path: the transfer says what to install, and nothing goes out.
void TstZmodem::withoutLrzsz()
{
    QFETCH(bool, sending);
    QTemporaryDir tmp;
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", tmp.path().toUtf8());
    const QString path = WriteFile(tmp.filePath(u"f.bin"_s), "abc");
    TransferRig rig;
    rig.Start(std::make_unique<TCvLrzszTransfer>(
        rig.link.get(), sending ? TCvLrzszTransfer::TDirection::Send : TCvLrzszTransfer::TDirection::Receive,
        QStringList{sending ? path : tmp.path()}));
    qputenv("PATH", oldPath);
    QVERIFY(rig.result);
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::Failed));
    QCOMPARE(
        rig.result->Reason,
        u"ZMODEM needs the program %1 of the package lrzsz, which is not installed (sudo apt install lrzsz)"_s
            .arg(sending ? u"sz"_s : u"rz"_s));
    QVERIFY(RunUntil([&] { return !rig.port->ReceiveDiversion(); }, 5000));
    QCOMPARE(rig.relay.Moved(PtyRelay::TWay::ToPeer), 0);
}

void TstZmodem::cancelStopsBothSides_data()
{
    withoutLrzsz_data();
}

// Cancel in the middle: our child is gone at once, the peer hears the abort and stops, and a
// receive leaves nothing in the folder.
void TstZmodem::cancelStopsBothSides()
{
    QFETCH(bool, sending);
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    const QString path = WriteFile(tmp.filePath(u"big.bin"_s), Pattern(4 * 1024 * 1024));
    TransferRig rig;
    std::unique_ptr<LrzszPeer> peer;
    TCvLrzszTransfer* t = nullptr;
    if (sending) {
        peer = std::make_unique<LrzszPeer>(rig.PeerLine(), u"rz"_s, QStringList{u"-b"_s}, in);
        t = rig.Start(std::make_unique<TCvLrzszTransfer>(rig.link.get(), TCvLrzszTransfer::TDirection::Send,
                                                         QStringList{path}));
    } else {
        t = rig.Start(std::make_unique<TCvLrzszTransfer>(
            rig.link.get(), TCvLrzszTransfer::TDirection::Receive, QStringList{in}));
        peer = std::make_unique<LrzszPeer>(rig.PeerLine(), u"sz"_s, QStringList{u"-b"_s, u"big.bin"_s},
                                           tmp.path());
    }
    const qint64 child = t->ChildPid();
    QVERIFY(child > 0);
    QVERIFY(RunUntil([&] { return t->Progress().Bytes > 128 * 1024 || rig.result; }, 30000));
    QVERIFY(!rig.result);
    t->Cancel();
    QVERIFY(rig.result);
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::Cancelled));
    QVERIFY(::kill(pid_t(child), 0) != 0);
    const int code = peer->Wait(15000);
    QVERIFY2(code != -2, "the peer did not stop");
    QVERIFY(code != 0);
    if (!sending)
        QCOMPARE(QDir(in).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// rz runs restricted: a name that points outside the folder is refused, nothing is written
// outside (or inside) it, and the transfer says it failed.
void TstZmodem::pathInNameIsRefused()
{
    QTemporaryDir tmp;
    QDir().mkpath(tmp.filePath(u"a/b"_s));
    QDir().mkpath(tmp.filePath(u"etc"_s));
    QDir().mkpath(tmp.filePath(u"in/x/y"_s));
    WriteFile(tmp.filePath(u"etc/passwd"_s), "root:x:0:0\n");
    const QString folder = tmp.filePath(u"in/x/y"_s);
    TransferRig rig;
    rig.Start(std::make_unique<TCvLrzszTransfer>(rig.link.get(), TCvLrzszTransfer::TDirection::Receive,
                                                 QStringList{folder}));
    LrzszPeer peer(rig.PeerLine(), u"sz"_s, {u"-b"_s, u"-f"_s, u"../../etc/passwd"_s},
                   tmp.filePath(u"a/b"_s));
    QVERIFY(rig.Ended(60000));
    peer.Wait(20000);
    QCOMPARE(int(rig.result->End), int(TCvTransferEnd::Failed));
    QVERIFY(rig.result->Files.isEmpty());
    for (const QString& dir : {u"in"_s, u"in/x"_s, u"in/x/y"_s})
        QCOMPARE(QDir(tmp.filePath(dir)).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(ReadWhole(tmp.filePath(u"etc/passwd"_s)), QByteArray("root:x:0:0\n"));
}

void TstZmodem::existingFileIsKept()
{
    QTemporaryDir tmp;
    const QString in = tmp.filePath(u"in"_s);
    QDir().mkpath(in);
    WriteFile(QDir(in).filePath(u"app.hex"_s), "old");
    const QByteArray data = Pattern(5000, 9);
    WriteFile(tmp.filePath(u"app.hex"_s), data);
    TransferRig rig;
    rig.Start(std::make_unique<TCvLrzszTransfer>(rig.link.get(), TCvLrzszTransfer::TDirection::Receive,
                                                 QStringList{in}));
    LrzszPeer peer(rig.PeerLine(), u"sz"_s, {u"-b"_s, u"app.hex"_s}, tmp.path());
    QVERIFY(rig.Ended(60000));
    QVERIFY2(rig.result->End == TCvTransferEnd::Done, qPrintable(rig.result->Reason));
    QCOMPARE(rig.result->Files, QStringList{QDir(in).filePath(u"app (1).hex"_s)});
    QCOMPARE(ReadWhole(QDir(in).filePath(u"app (1).hex"_s)), data);
    QCOMPARE(ReadWhole(QDir(in).filePath(u"app.hex"_s)), QByteArray("old"));
    QVERIFY(rig.messages.first().contains(u"app.hex exists already: saved as app (1).hex"_s));
    QCOMPARE(peer.Wait(20000), 0);
}

QTEST_GUILESS_MAIN(TstZmodem)
#include "tst_zmodem.moc"
