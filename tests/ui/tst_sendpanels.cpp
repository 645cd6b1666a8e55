// The block-send page, the single-send grid and loop sending, over real ptys.

#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "TStringGrid.h"
#include "TUpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

namespace {

void Tick(TSplitViewForm& w, int row, const QString& text)
{
    Ui::Find<TStringGrid>(w, u"StringGrid1"_s)->SetCells(1, row, u"1"_s);
    Ui::Find<TStringGrid>(w, u"StringGrid1"_s)->SetCells(2, row, text);
}

QString LastLine(const QPlainTextEdit* e)
{
    const QStringList lines = e->toPlainText().split(u'\n');
    return lines.isEmpty() ? QString() : lines.last();
}

} // namespace

class TstSendPanels : public QObject {
    Q_OBJECT
private slots:
    void loopWithCount();
    void loopEndlessUntilStopped();
    void loopRefusals_data();
    void loopRefusals();
    void loopKeepsItsTarget();
    void formatAsHex_data();
    void formatAsHex();
    void converters_data();
    void converters();
    void unreadableHexIsRefused_data();
    void unreadableHexIsRefused();
    void blockSend();
    void gridTicksAndRowSend();
    void loopKeys_data();
    void loopKeys();
    void sentCounterShowsWrittenBytesAtOnce();
    void stalledDeviceSends_data();
    void stalledDeviceSends();
};

void TstSendPanels::loopWithCount()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    Tick(*w, 2, u"  first "_s);
    Tick(*w, 5, QString());
    Tick(*w, 7, u"second"_s);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(3);
    Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(30);
    Ui::Find<QPushButton>(*w, u"Button1"_s)->click();
    QVERIFY(Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
    QCOMPARE(Ui::Find<QTimer>(*w, u"Timer1"_s)->interval(), 30);
    QCOMPARE(w->LoopStringList(), QStringList({u"first"_s, QString(), u"second"_s}));
    QStringList lines = a.Lines();
    const qsizetype start =
        lines.indexOf(u"The following data will be sent to device periodic,Loop Count: 3"_s);
    QVERIFY(start >= 0);
    QCOMPARE(lines.mid(start + 1, 3), QStringList({u"first"_s, QString(), u"second"_s}));

    QTRY_VERIFY(!Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
    const QByteArray once = "first\r\nsecond\r\n";
    QCOMPARE(a.pty->Read(3 * once.size()), once + once + once);
    QCOMPARE(a.pty->ReadFor(100), QByteArray());
    lines = a.Lines();
    QCOMPARE(lines.filter(u"Loop Count --> "_s),
             QStringList({u"Loop Count --> 3"_s, u"Loop Count --> 2"_s, u"Loop Count --> 1"_s}));
    QCOMPARE(a.obj->FComSentCount.load(), 3 * once.size());
    QVERIFY(env.boxes.isEmpty());
}

void TstSendPanels::loopEndlessUntilStopped()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    Tick(*w, 1, u"ping"_s);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(0);
    Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(10);
    Ui::Find<QPushButton>(*w, u"Button1"_s)->click();
    const QByteArray got = a.pty->Read(5 * 6);
    QCOMPARE(got, QByteArray("ping\r\n").repeated(5));
    QVERIFY(Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
    Ui::Find<QPushButton>(*w, u"Button3"_s)->click();
    QVERIFY(!Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
    a.pty->ReadFor(50);
    QCOMPARE(a.pty->ReadFor(100), QByteArray());
    const QStringList lines = a.Lines();
    QVERIFY(lines.filter(u"Loop Count"_s).isEmpty());
    QVERIFY(lines.contains(u"ping"_s));
}

void TstSendPanels::loopRefusals_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("message");
    QTest::newRow("switch off") << false << true << true << u"The Loop enable switch is not be checked."_s;
    QTest::newRow("closed") << true << false << true << u"The device was closed,please open a device."_s;
    QTest::newRow("nothing ticked") << true << true << false
                                    << u"No data to send, please select data item by click checkbox item."_s;
}

void TstSendPanels::loopRefusals()
{
    QFETCH(bool, enabled);
    QFETCH(bool, open);
    QFETCH(bool, ticked);
    QFETCH(QString, message);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    if (ticked) Tick(*w, 1, u"x"_s);
    Ui::Find<QCheckBox>(*w, u"CheckBox19"_s)->setChecked(enabled);
    if (!open) a.obj->Close();
    Ui::Find<QPushButton>(*w, u"Button1"_s)->click();
    QVERIFY(!Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
    QCOMPARE(a.Lines().last(), message);
    QCOMPARE(a.pty->ReadFor(50), QByteArray());
}

void TstSendPanels::loopKeepsItsTarget()
{
    UiTestEnv env;
    WindowDevice a, b;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    b.Attach(*w);
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(a.name));
    Tick(*w, 1, u"to A"_s);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(0);
    Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(10);
    Ui::Find<QPushButton>(*w, u"Button1"_s)->click();
    QCOMPARE(w->LoopTargetPort(), a.obj);
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(b.name));
    QCOMPARE(a.pty->Read(2 * 6), QByteArray("to A\r\n").repeated(2));
    QCOMPARE(b.pty->ReadFor(50), QByteArray());

    a.obj->Close();
    const qint64 sent = a.obj->FComSentCount.load();
    const int lines = a.Lines().size();
    QTest::qWait(60);
    QVERIFY(Ui::Find<QTimer>(*w, u"Timer1"_s)->isActive());
    QCOMPARE(a.obj->FComSentCount.load(), sent);
    QCOMPARE(a.Lines().size(), lines);
    QCOMPARE(b.pty->ReadFor(20), QByteArray());
    Ui::Find<QPushButton>(*w, u"Button3"_s)->click();
}

void TstSendPanels::formatAsHex_data()
{
    QTest::addColumn<QString>("block");
    QTest::addColumn<QString>("formatted");
    QTest::addColumn<int>("bytes");
    QTest::newRow("mixed case, packed") << u"AA bb0c"_s << u"AA BB 0C "_s << 3;
    QTest::newRow("padded") << u"  01 02 03 04 05\r\n"_s << u"01 02 03 04 05 "_s << 5;
    // Every value is kept, however long the block.
    QTest::newRow("beyond 32 values kept")
        << QString(u"11 "_s.repeated(40)) << QString(u"11 "_s.repeated(40)) << 40;
    QTest::newRow("1000 values kept")
        << QString(u"a5 "_s.repeated(999) + u"5a"_s) << QString(u"A5 "_s.repeated(999) + u"5A "_s) << 1000;
}

void TstSendPanels::formatAsHex()
{
    QFETCH(QString, block);
    QFETCH(QString, formatted);
    QFETCH(int, bytes);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    const QString caption = Ui::Find<QPushButton>(*w, u"Button8"_s)->text();
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(block);
    Ui::Find<QPushButton>(*w, u"Button25"_s)->click();
    QCOMPARE(Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->toPlainText(), formatted);
    QCOMPARE(Ui::Find<QPushButton>(*w, u"Button8"_s)->text(),
             caption + u" ( "_s + QString::number(bytes) + u" ) Bytes"_s);
    // A second format replaces the count.
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u"01 02 03 04 05 06 07"_s);
    Ui::Find<QPushButton>(*w, u"Button25"_s)->click();
    QCOMPARE(Ui::Find<QPushButton>(*w, u"Button8"_s)->text(), caption + u" ( 7 ) Bytes"_s);
}

void TstSendPanels::converters_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("line");
    QTest::newRow("Button9 AB") << u"Button9"_s << u"AB"_s << u"41 42 "_s;
    QTest::newRow("Button9 line break") << u"Button9"_s << u" A\nB\t"_s << u"41 0D 0A 42 "_s;
    QTest::newRow("Button11 up to zero") << u"Button11"_s << u"41 00 42"_s << u"A"_s;
    QTest::newRow("Button11 empty") << u"Button11"_s << QString() << QString();
    QTest::newRow("Button9 chinese in UTF-8") << u"Button9"_s << u"你好"_s << u"E4 BD A0 E5 A5 BD "_s;
    QTest::newRow("Button11 UTF-8") << u"Button11"_s << u"E4BDA0E5A5BD"_s << u"你好"_s;
}

void TstSendPanels::converters()
{
    QFETCH(QString, button);
    QFETCH(QString, input);
    QFETCH(QString, line);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    const bool toHex = button == u"Button9"_s;
    QPlainTextEdit* from =
        toHex ? Ui::Find<QPlainTextEdit>(*w, u"Memo3"_s) : Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s);
    QPlainTextEdit* to =
        toHex ? Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s) : Ui::Find<QPlainTextEdit>(*w, u"Memo3"_s);
    from->setPlainText(input);
    to->setPlainText(u"before"_s);
    w->findChild<QPushButton*>(button)->click();
    QCOMPARE(to->toPlainText(), u"before\n"_s + line);
    QCOMPARE(LastLine(to), line);
}

void TstSendPanels::unreadableHexIsRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("format") << u"Button25"_s;
    QTest::newRow("to text") << u"Button11"_s;
}

void TstSendPanels::unreadableHexIsRefused()
{
    QFETCH(QString, button);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u"AA bb 1"_s);
    Ui::Find<QPlainTextEdit>(*w, u"Memo3"_s)->setPlainText(u"before"_s);
    w->findChild<QPushButton*>(button)->click();
    QCOMPARE(Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->toPlainText(), u"AA bb 1"_s);
    QCOMPARE(Ui::Find<QPlainTextEdit>(*w, u"Memo3"_s)->toPlainText(), u"before"_s);
    QCOMPARE(env.boxes.size(), 1);
    QVERIFY2(env.boxes.first().contains(u"position 7"_s), qPrintable(env.boxes.first()));
}

void TstSendPanels::blockSend()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    Ui::Find<QComboBox>(*w, u"ComboBox6"_s)->setCurrentIndex(sfHex);
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u" 41 42 0d \r\n"_s);
    Ui::Find<QPushButton>(*w, u"Button8"_s)->click();
    QCOMPARE(a.pty->Read(3), QByteArray("AB\r"));
    Ui::Find<QComboBox>(*w, u"ComboBox6"_s)->setCurrentIndex(sfAscii);
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u"hi"_s);
    Ui::Find<QPushButton>(*w, u"Button8"_s)->click();
    QCOMPARE(a.pty->Read(4), QByteArray("hi\r\n"));
    // Button7 clears the log of the current device.
    a.obj->Log(u"to be cleared"_s);
    QVERIFY(!a.Lines().isEmpty());
    Ui::Find<QPushButton>(*w, u"Button7"_s)->click();
    QVERIFY(a.Lines().isEmpty());
    QCOMPARE(a.obj->FComSentCount.load(), 0);
}

void TstSendPanels::gridTicksAndRowSend()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    TStringGrid* g = Ui::Find<TStringGrid>(*w, u"StringGrid1"_s);
    g->scrollToTop();
    const QRect tick = g->visualRect(g->model()->index(2, 0));
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, tick.center());
    QCOMPARE(g->Cells(1, 3), u"1"_s);
    QCOMPARE(g->editTriggers(), QAbstractItemView::NoEditTriggers);
    QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, tick.center());
    QCOMPARE(g->Cells(1, 3), QString());
    // No editor opens in the tick column, even when asked for directly.
    g->edit(g->model()->index(2, 0));
    QVERIFY(!g->viewport()->findChild<QLineEdit*>());
    // The content column is edited in place.
    g->setCurrentCell(2, 1);
    QVERIFY(g->editTriggers() != QAbstractItemView::NoEditTriggers);

    // A click on a row number sends that row once; an empty row and the header send nothing.
    g->SetCells(2, 3, u"  row three  "_s);
    QHeaderView* rows = g->verticalHeader();
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                      QPoint(rows->width() / 2, rows->sectionViewportPosition(2) + rows->sectionSize(2) / 2));
    QCOMPARE(a.pty->Read(11), QByteArray("row three\r\n"));
    QCOMPARE(g->Row(), 3);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                      QPoint(rows->width() / 2, rows->sectionViewportPosition(3) + rows->sectionSize(3) / 2));
    w->StringGrid1FixedCellClick(2, 0);
    QCOMPARE(a.pty->ReadFor(50), QByteArray());
}

void TstSendPanels::loopKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("digit") << int('7') << true;
    QTest::newRow("backspace") << 8 << true;
    QTest::newRow("letter") << int('a') << false;
    QTest::newRow("minus") << int('-') << false;
}

void TstSendPanels::loopKeys()
{
    QFETCH(int, key);
    QFETCH(bool, accepted);
    QCOMPARE(TSplitViewForm::LoopKeyAccepted(key), accepted);
    UiTestEnv env;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QLineEdit* edit = Ui::Find<TUpDown>(*w, u"UpDown1"_s)->Edit();
    edit->setFocus();
    edit->selectAll();
    if (key >= '0' && key <= '9') {
        QTest::keyClicks(edit, QString(QChar(key)) + u"5"_s);
        QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown1"_s)->Position(), (key - '0') * 10 + 5);
        QCOMPARE(Ui::Find<QTimer>(*w, u"Timer1"_s)->interval(), (key - '0') * 10 + 5);
    } else if (key != 8) {
        QTest::keyClicks(edit, QString(QChar(key)));
        QCOMPARE(Ui::Find<TUpDown>(*w, u"UpDown1"_s)->Position(), 1000);
    }
}

// The counter panel follows what the device took, without waiting for a receive.
void TstSendPanels::sentCounterShowsWrittenBytesAtOnce()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    a.obj->FCallBackFun = [&](int c) { w->CvComPortObjCallBack(c); };
    Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(u"hello"_s);
    w->Button8Click();
    QVERIFY(w->StatusPanels[2]->text().contains(u" Sent: 7 Bytes/"_s));
    QCOMPARE(a.pty->Read(7), QByteArray("hello\r\n"));
}

void TstSendPanels::stalledDeviceSends_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("grid");
    QTest::newRow("block, ASCII") << int(sfAscii) << u"hello"_s << 7 << false;
    QTest::newRow("block, hex") << int(sfHex) << u"01 02 03"_s << 3 << false;
    QTest::newRow("grid row, ASCII") << int(sfAscii) << u"row"_s << 5 << true;
}

// A device that takes nothing: no echo of what never went out, the cause and the count
// instead, and the loop skips its turns (said once) instead of piling them up.
void TstSendPanels::stalledDeviceSends()
{
    QFETCH(int, format);
    QFETCH(QString, text);
    QFETCH(int, bytes);
    QFETCH(bool, grid);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("en_US");
    w->show();
    a.Attach(*w);
    a.obj->FShowSendedLog = true;
    TComTimeouts t = a.obj->Timeouts();
    t.FWriteTotalC = 300;
    t.FWriteTotalM = 0;
    a.obj->SetTimeouts(t);
    // Fill the device until it holds back.
    QVERIFY(a.obj->SendBytes(QByteArray(1 << 20, 'f'), {}));
    QVERIFY(a.obj->PendingWrites() == 1);
    Ui::Find<QComboBox>(*w, u"ComboBox6"_s)->setCurrentIndex(format);
    if (grid) {
        Ui::Find<TStringGrid>(*w, u"StringGrid1"_s)->SetCells(2, 1, text);
        w->StringGrid1FixedCellClick(0, 1);
    } else {
        Ui::Find<QPlainTextEdit>(*w, u"Memo2"_s)->setPlainText(text);
        w->Button8Click();
    }
    QVERIFY(a.obj->PendingWrites() == 2);
    Tick(*w, 1, text);
    Ui::Find<TUpDown>(*w, u"UpDown3"_s)->SetPosition(0);
    Ui::Find<TUpDown>(*w, u"UpDown1"_s)->SetPosition(20);
    w->Button1Click();
    const QString failed = TCvComPortObj::WriteFailureText(0, bytes, ETIMEDOUT);
    QTRY_VERIFY_WITH_TIMEOUT(a.Lines().contains(failed), 5000);
    w->Button3Click();
    const QStringList lines = a.Lines();
    QVERIFY(lines.filter(QRegularExpression(u"^> "_s)).isEmpty());
    QCOMPARE(
        lines.filter(u"Loop turn skipped: the device has not taken the data of the last turn yet."_s).size(),
        1);
    QCOMPARE(lines.filter(u"Sorry Write to device fail!!"_s).size(), 2);
}

QTEST_MAIN(TstSendPanels)
#include "tst_sendpanels.moc"
