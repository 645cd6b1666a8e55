#include "THidReportLayout.h"
#include "THidScriptedBackend.h"

#include <QTest>

class tst_HidLayout : public QObject {
    Q_OBJECT

private slots:
    void fromDescriptor_data();
    void fromDescriptor();
};

void tst_HidLayout::fromDescriptor_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("output");
    QTest::addColumn<bool>("numbered");

    // Boot keyboard: 8 input bytes, 5 LED bits + 3 padding out.
    QTest::newRow("boot keyboard") << QByteArray::fromHex("05010906a101050719e029e715002501750195088102950175"
                                                          "08810195057501050819012905910295017503910195"
                                                          "06750815002565050719002965810 0c0")
                                   << 9 << 2 << false;
    // Boot mouse: 3 buttons + 5 padding, X and Y bytes; nothing out.
    QTest::newRow("boot mouse") << QByteArray::fromHex("05010902a1010901a100050919012903150025019503750181029"
                                                       "501750581010501093009311581257f750895028106c0c0")
                                << 4 << 0 << false;
    QTest::newRow("vendor 64 in 64 out") << THidScriptedBackend::Descriptor(64, 64) << 65 << 65 << false;
    QTest::newRow("vendor numbered") << THidScriptedBackend::Descriptor(8, 16, 3) << 9 << 17 << true;
    // Report 1: 8 bytes in, 64 out; report 2: 63 bytes in. The largest of each kind counts.
    QTest::newRow("two numbered reports") << QByteArray::fromHex("0600ff0901a101"
                                                                 "850175089508090181 02"
                                                                 "8502953f09018102"
                                                                 "850195400901 9102"
                                                                 "c0")
                                          << 64 << 65 << true;
    // 3 x 3 bits round up to 2 bytes.
    QTest::newRow("bits round up") << QByteArray::fromHex("750395038102") << 3 << 0 << false;
    // Push keeps 4 x 8 bits; 1 bit in between; pop brings 4 x 8 back: 33 bits.
    QTest::newRow("push and pop") << QByteArray::fromHex("75089504a4750195018102b48102") << 6 << 0 << false;
    QTest::newRow("pop without push") << QByteArray::fromHex("b47508950181 02") << 2 << 0 << false;
    QTest::newRow("long item skipped") << QByteArray::fromHex("fe0200aabb750895028102") << 3 << 0 << false;
    QTest::newRow("feature not counted") << QByteArray::fromHex("75089510b102") << 0 << 0 << false;
    QTest::newRow("cut inside an item") << QByteArray::fromHex("75089502810295") << 3 << 0 << false;
    QTest::newRow("cut inside a long item") << QByteArray::fromHex("750895028102fe10") << 3 << 0 << false;
    QTest::newRow("huge sizes capped") << QByteArray::fromHex("77ffffffff97ffffffff8102")
                                       << THidReportLayout::kMaxReportLength << 0 << false;
    QTest::newRow("empty") << QByteArray() << 0 << 0 << false;
}

void tst_HidLayout::fromDescriptor()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, input);
    QFETCH(int, output);
    QFETCH(bool, numbered);

    const THidReportLayout layout = THidReportLayout::FromDescriptor(descriptor);
    QCOMPARE(layout.InputReportLength, input);
    QCOMPARE(layout.OutputReportLength, output);
    QCOMPARE(layout.NumberedReports, numbered);
}

QTEST_GUILESS_MAIN(tst_HidLayout)
#include "tst_hidlayout.moc"
