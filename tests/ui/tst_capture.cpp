// Port logs and capture from the main window: auto-save, clearing, and the "File"
// receive format with its text-file, data-file and spreadsheet targets, over real ptys.

#include "CvMessages.h"
#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "CvCodecs.h"
#include "TCvExcelApp.h"
#include "TCvSheetModel.h"

#include <QDateTime>
#include <QFileInfo>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace Qt::Literals::StringLiterals;

class TstCapture : public QObject {
    Q_OBJECT
private slots:
    void logFileWrittenAtOpen();
    void autoSaveWritesEveryOpenPortAndKeepsThemOpen();
    void clearButtons_data();
    void clearButtons();
    void textCapture_data();
    void textCapture();
    void dataCaptureThenClose();
    void cancelledDialogFallsBackToAscii();
    void unwritableCapture_data();
    void unwritableCapture();
    void spreadsheetCapture();
    void spreadsheetMissing();
    void spreadsheetGoesOn();
};

void TstCapture::logFileWrittenAtOpen()
{
    UiTestEnv env;
    PtyPair pty;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    auto w = UiTestEnv::Start("en_US");
    w->show();
    QVERIFY(w->AddVirtualPort(pty.SlavePath()));
    const QString name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
    Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
        ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name));
    w->ComboBoxEx1Change();
    Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
    TCvComPortObj* obj = w->GetDeciceByFullName(name);
    QVERIFY(obj && obj->Connected());

    // Logs/<start stamp>_<port>.log, the stamp taken when the window started.
    const QString stamp = QFileInfo(w->CorvaneCfgDir_LogFileName).fileName();
    const QDateTime started = QDateTime::fromString(stamp, u"yyyyMMdd_HHmmss"_s);
    QVERIFY(started.isValid());
    QVERIFY(started >= before && started <= QDateTime::currentDateTime());
    QCOMPARE(QFileInfo(w->CorvaneCfgDir_LogFileName).dir().dirName(), u"Logs"_s);
    const QString file = w->PortLogFileName(obj);
    QCOMPARE(QFileInfo(file).fileName(), stamp + u'_' + SafeFileNamePart(obj->Port()) + u".log"_s);
    QCOMPARE(obj->FullLogFileName, file);
    // Written right after the open messages: the opened line, then one empty (prefixed) line.
    const QByteArray text = ReadFile(file), opened = ("Device " + name + " was opened.\r\n").toUtf8();
    QVERIFY(text.contains(opened));
    const QByteArray after = text.mid(text.lastIndexOf(opened) + opened.size());
    QVERIFY(after.endsWith("\r\n"));
    QCOMPARE(after.count("\r\n"), 1);
    QVERIFY(!after.contains("Device"));
    w.reset();
}

void TstCapture::autoSaveWritesEveryOpenPortAndKeepsThemOpen()
{
    UiTestEnv env;
    WindowDevice a, b;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    b.Attach(*w);
    a.obj->Log(u"line of A"_s);
    b.obj->Log(u"line of B"_s);
    const QString fileA = w->PortLogFileName(a.obj), fileB = w->PortLogFileName(b.obj);
    QVERIFY(fileA.startsWith(w->CorvaneCfgDir_LogFileName + u'_'));
    QVERIFY(fileA.endsWith(u".log"_s));
    QVERIFY(fileA != fileB);

    Ui::Find<QTimer>(*w, u"Timer2"_s)->setInterval(30);
    Ui::Find<QCheckBox>(*w, u"CheckBox8"_s)->setChecked(true);
    QVERIFY(Ui::Find<QTimer>(*w, u"Timer2"_s)->isActive());
    QTRY_VERIFY(QFile::exists(fileA) && QFile::exists(fileB));
    QVERIFY(ReadFile(fileA).contains("line of A\r\n"));
    QVERIFY(ReadFile(fileB).contains("line of B\r\n"));
    QVERIFY(!ReadFile(fileA).contains("line of B"));
    QVERIFY(a.obj->Connected() && b.obj->Connected());
    // Still working after the save: received text reaches the log, and a later tick saves it.
    a.Receive("after save");
    QTRY_VERIFY(ReadFile(fileA).contains("after save"));

    Ui::Find<QCheckBox>(*w, u"CheckBox8"_s)->setChecked(false);
    QVERIFY(!Ui::Find<QTimer>(*w, u"Timer2"_s)->isActive());
    QVERIFY(env.boxes.isEmpty());
}

void TstCapture::clearButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("buffer");
    QTest::newRow("Button10 log only") << u"Button10"_s << false;
    QTest::newRow("Button5 log and buffer") << u"Button5"_s << true;
}

void TstCapture::clearButtons()
{
    QFETCH(QString, button);
    QFETCH(bool, buffer);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    a.Receive("xyz");
    a.obj->Log(u"something"_s);
    QVERIFY(a.Lines().contains(u"something"_s));
    w->findChild<QPushButton*>(button)->click();
    QCOMPARE(a.Lines().join(u'|'), QString());
    QCOMPARE(a.obj->FComReceiveCount.load(), 0);
    if (buffer) QVERIFY(a.obj->InternalBufferCopy().isEmpty());
    // A closed port is left alone.
    a.obj->Log(u"kept"_s);
    a.obj->Close();
    w->findChild<QPushButton*>(button)->click();
    QVERIFY(a.Lines().contains(u"kept"_s));
}

void TstCapture::textCapture_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("txt") << u"cap.txt"_s;
    QTest::newRow("TXT upper case") << u"CAP.TXT"_s;
    QTest::newRow("log") << u"cap.log"_s;
}

void TstCapture::textCapture()
{
    QFETCH(QString, file);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const QString path = env.tmp.filePath(file);
    w->SaveDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->currentIndex(), int(rfFile));
    QCOMPARE(a.obj->FFileStreamName, path);
    QVERIFY(a.Lines().contains(Msg(u"Data file save to %1"_s).arg(path)));
    QVERIFY(!a.obj->FileStream());

    // The file's lines end where the received ones do (LF or CR alike); with "CR LF only"
    // every receive event ends one, as it always did (tst_porttext).
    a.Receive("ab\n");
    QTRY_COMPARE(ReadFile(path), QByteArray("ab\r\n"));
    a.Receive("cd\r");
    QTRY_COMPARE(ReadFile(path), QByteArray("ab\r\ncd\r\n"));
    QCOMPARE(a.obj->FComProcessedCount.load(), 6);
    QVERIFY(!a.Lines().join(u'\n').contains(u"ab"_s));
    QVERIFY(env.boxes.isEmpty());
}

void TstCapture::dataCaptureThenClose()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const QString path = env.tmp.filePath(u"cap.bin"_s);
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old content that must go");
    }
    QStringList asked;
    w->SaveDialog1 = [&] {
        asked << path;
        return path;
    };
    Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->setCurrentIndex(rfFile);
    w->ComboBox7Change();
    SyncReceiveFormat(*w, a.obj);
    QVERIFY(a.obj->FileStream());
    QCOMPARE(ReadFile(path), QByteArray());

    const QByteArray first("\x00\x01\xff\r\n", 5), second("\x80zz", 3);
    a.Receive(first);
    QTRY_COMPARE(a.obj->FComProcessedCount.load(), qint64(first.size()));
    a.Receive(second);
    QTRY_COMPARE(a.obj->FComProcessedCount.load(), qint64(first.size() + second.size()));

    Ui::Find<QPushButton>(*w, u"Button14"_s)->click();
    QVERIFY(!a.obj->FileStream());
    QVERIFY(a.obj->FFileStreamName.isEmpty());
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->currentIndex(), int(rfAscii));
    QCOMPARE(ReadFile(path), first + second);

    // The next "File" selection asks again.
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    QCOMPARE(asked.size(), 2);
    QVERIFY(a.obj->FileStream());
    QVERIFY(env.boxes.isEmpty());
}

void TstCapture::cancelledDialogFallsBackToAscii()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    w->SaveDialog1 = [] { return QString(); };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    QCOMPARE(Ui::Find<QComboBox>(*w, u"ComboBox7"_s)->currentIndex(), int(rfAscii));
    QVERIFY(a.obj->FFileStreamName.isEmpty());
    QVERIFY(!a.Lines().join(u'\n').contains(Msg(u"Data file save to %1"_s).section(u'%', 0, 0)));
}

void TstCapture::unwritableCapture_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("data file") << u"no/such/dir/cap.bin"_s;
    QTest::newRow("text file") << u"no/such/dir/cap.txt"_s;
}

void TstCapture::unwritableCapture()
{
    QFETCH(QString, file);
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const QString path = env.tmp.filePath(file);
    w->SaveDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    a.Receive("one");
    a.Receive("two");
    const QStringList lines = a.Lines();
    QCOMPARE(lines.filter(Msg(u"Can not write file %1: %2"_s).arg(path, QString())).size(), 1);
    // A data file is opened at once: refused, nothing claims it takes the data.
    if (file.endsWith(u".bin"_s)) QVERIFY(!lines.contains(Msg(u"Data file save to %1"_s).arg(path)));
    // Receiving goes on: back in ASCII the next bytes are shown.
    Ui::Find<QPushButton>(*w, u"Button14"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    a.Receive("three");
    QTRY_VERIFY(a.Lines().join(u'\n').contains(u"three"_s));
    QVERIFY(a.obj->Connected());
}

void TstCapture::spreadsheetCapture()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    QPointer<TCvExcelApp> app;
    const TExcelAppFactory old = SetExcelAppFactory([&](QWidget* parent) {
        app = new TCvExcelApp(parent);
        return app.data();
    });
    const QString path = env.tmp.filePath(u"cap.XLSX"_s);
    w->SaveDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    SetExcelAppFactory(old);
    QVERIFY(app);
    QVERIFY(app->Visible());
    QCOMPARE(app->Caption(), w->ApplicationTitle());
    QVERIFY(a.Lines().contains(Msg(u"Data file save to %1"_s).arg(path)));

    a.Receive(QByteArray("\x01\x02\xff", 3));
    QTRY_COMPARE(a.obj->FExcelAppRows, 4);
    a.Receive(QByteArray("\x00\x07", 2));
    QTRY_COMPARE(a.obj->FExcelAppRows, 6);
    const QList<int> expected = {1, 2, 255, 0, 7};
    for (int r = 1; r <= 5; ++r) {
        QCOMPARE(app->Cells(r, 2).Value().toInt(), expected[r - 1]);
        QVERIFY(!app->Cells(r, 1).Value().isValid() || app->Cells(r, 1).Value().toString().isEmpty());
    }
    // Closing keeps the spreadsheet open outside.
    Ui::Find<QPushButton>(*w, u"Button14"_s)->click();
    QVERIFY(app);
    QVERIFY(a.obj->FFileStreamName.isEmpty());
    delete app.data();
}

void TstCapture::spreadsheetMissing()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    const TExcelAppFactory old =
        SetExcelAppFactory([](QWidget*) { return static_cast<TCvExcelApp*>(nullptr); });
    const QString path = env.tmp.filePath(u"cap.xls"_s);
    w->SaveDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    SetExcelAppFactory(old);
    const QStringList lines = a.Lines();
    const qsizetype missing = lines.indexOf(Msg(u"Do not find Excel Application "_s));
    QVERIFY(missing >= 0);
    // Nothing is saved without a spreadsheet: no line says it is.
    QVERIFY(!lines.contains(Msg(u"Data file save to %1"_s).arg(path)));
    QCOMPARE(a.obj->FFileStreamName, path);
    a.Receive("abc");
    QVERIFY(a.obj->Connected());
}

// A full sheet or a closed spreadsheet window: the capture goes on from row 1 of a new
// workbook (a new window), says so once, and loses nothing. A new capture starts at row 1.
void TstCapture::spreadsheetGoesOn()
{
    UiTestEnv env;
    WindowDevice a;
    auto w = UiTestEnv::Start("zh_CN");
    w->show();
    a.Attach(*w);
    QList<QPointer<TCvExcelApp>> apps;
    const TExcelAppFactory old = SetExcelAppFactory([&](QWidget* parent) {
        apps << new TCvExcelApp(parent);
        return apps.last().data();
    });
    const QString path = env.tmp.filePath(u"cap.xlsx"_s);
    w->SaveDialog1 = [&] { return path; };
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    QCOMPARE(apps.size(), 1);

    // The sheet fills up in the middle of a chunk.
    a.obj->FExcelAppRows = TCvSheetModel::kMaxRows - 1;
    a.Receive(QByteArray("\x01\x02\x03\x04\x05", 5));
    QTRY_COMPARE(a.obj->FExcelAppRows, 4);
    TCvSheetModel* first = apps[0]->Workbook(0);
    QCOMPARE(first->Value(TCvSheetModel::kMaxRows - 1, 2).toInt(), 1);
    QCOMPARE(first->Value(TCvSheetModel::kMaxRows, 2).toInt(), 2);
    QCOMPARE(apps[0]->WorkBooks().Count(), 2);
    for (int r = 1; r <= 3; ++r) QCOMPARE(apps[0]->Workbook(1)->Value(r, 2).toInt(), r + 2);
    a.Receive(QByteArray("\x06", 1));
    QTRY_COMPARE(a.obj->FExcelAppRows, 5);
    const QString full =
        u"The sheet is full (1048576 rows): the capture goes on in a new workbook, from row 1."_s;
    QCOMPARE(a.Lines().filter(full).size(), 1);

    // The user closes the spreadsheet window.
    delete apps[0].data();
    a.Receive(QByteArray("\x07\x08", 2));
    QTRY_COMPARE(a.obj->FExcelAppRows, 3);
    QCOMPARE(apps.size(), 2);
    QCOMPARE(apps[1]->Cells(1, 2).Value().toInt(), 7);
    QCOMPARE(apps[1]->Cells(2, 2).Value().toInt(), 8);
    QCOMPARE(a.Lines().filter(u"The spreadsheet window was closed"_s).size(), 1);

    // A new capture starts its new workbook at row 1.
    Ui::Find<QPushButton>(*w, u"Button14"_s)->click();
    Ui::Find<QPushButton>(*w, u"Button13"_s)->click();
    SyncReceiveFormat(*w, a.obj);
    QCOMPARE(apps.size(), 3);
    a.Receive(QByteArray("\x09", 1));
    QTRY_COMPARE(a.obj->FExcelAppRows, 2);
    QCOMPARE(apps[2]->Cells(1, 2).Value().toInt(), 9);
    SetExcelAppFactory(old);
    for (const QPointer<TCvExcelApp>& app : std::as_const(apps)) delete app.data();
}

QTEST_MAIN(TstCapture)
#include "tst_capture.moc"
