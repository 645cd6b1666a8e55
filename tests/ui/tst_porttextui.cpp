// The text encoding and line breaks of the selected port in the window: CheckBox12 and
// the two lists act on the open port at once and are kept in the port's own settings.
#include "CvCodecs.h"
#include "PtyPair.h"
#include "TCvComPortObj.h"
#include "TLogMemo.h"
#include "UiFind.h"
#include "UiTestEnv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TextRig {
    UiTestEnv env;
    PtyPair pty;
    std::unique_ptr<TSplitViewForm> w;
    QString name;

    TextRig() { Start(); }
    void Start()
    {
        w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        name = u"Virtual Port (%1)"_s.arg(pty.SlavePath());
        if (Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name) < 0)
            QVERIFY(w->AddVirtualPort(pty.SlavePath()));
        Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)
            ->setCurrentIndex(Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s)->findText(name));
        w->ComboBoxEx1Change();
    }
    TCvComPortObj* Obj() const { return w->GetDeciceByFullName(name); }
    QCheckBox* Unicode() const { return w->findChild<QCheckBox*>(u"CheckBox12"_s); }
    QComboBox* Encoding() const { return w->findChild<QComboBox*>(u"ComboBoxEncoding"_s); }
    QComboBox* LineBreaks() const { return w->findChild<QComboBox*>(u"ComboBoxLineBreaks"_s); }
    void Choose(QComboBox* list, int i)
    {
        list->setCurrentIndex(i);
        emit list->activated(i);
    }
    void Open()
    {
        w->findChild<QPushButton*>(u"Button2"_s)->click();
        QVERIFY(Obj()->Connected());
    }
    // The device sends bytes; returns the log's last line with text once they were taken.
    QString Receive(const QByteArray& bytes)
    {
        const qint64 before = Obj()->FComReceiveCount.load();
        pty.Write(bytes);
        if (!QTest::qWaitFor([&] { return Obj()->FComReceiveCount.load() == before + bytes.size(); }, 5000))
            return u"<bytes not taken>"_s;
        Obj()->FlushUiQueue();
        const TLogModel& m = Obj()->LogView()->Model();
        for (qint64 i = m.LineCount() - 1; i >= 0; --i)
            if (!m.Line(i).trimmed().isEmpty() && !m.Line(i).endsWith(u"| "_s)) return m.Line(i);
        return {};
    }
    QByteArray PortIni() const { return ReadFile(env.SettingDir() + SafeFileNamePart(name) + ".ini"); }
};

int IndexOf(TTextEncoding e)
{
    for (int i = 0; i < int(std::size(kTextEncodings)); ++i)
        if (kTextEncodings[i] == e) return i;
    return -1;
}

} // namespace

class TstPortTextUi : public QObject {
    Q_OBJECT
private slots:
    void checkBox12OnOpenPort();
    void encodingListOnOpenPort_data();
    void encodingListOnOpenPort();
    void lineBreaksOnOpenPort();
    void optionsSurviveRestart();
    void sendEndingPerPanel();
};

void TstPortTextUi::checkBox12OnOpenPort()
{
    TextRig r;
    r.Open();
    // Ticked by default: UTF-8.
    QVERIFY(r.Unicode()->isChecked());
    QCOMPARE(r.Encoding()->currentIndex(), IndexOf(TTextEncoding::Utf8));
    QVERIFY(r.Receive("caf\xC3\xA9\n").endsWith(u"café"_s));
    // Unticked takes effect with the next bytes, no other control touched.
    r.Unicode()->click();
    QCOMPARE(r.Obj()->TextEncoding(), TTextEncoding::Bytes);
    QCOMPARE(r.Encoding()->currentIndex(), IndexOf(TTextEncoding::Bytes));
    QVERIFY(r.Receive("caf\xC3\xA9\n").endsWith(u"caf\u00C3\u00A9"_s));
    QVERIFY(r.PortIni().contains("Encoding=Bytes\r\n"));
    // Ticked again: text once more.
    r.Unicode()->click();
    QCOMPARE(r.Obj()->TextEncoding(), TTextEncoding::Utf8);
    QVERIFY(r.Receive("caf\xC3\xA9\n").endsWith(u"café"_s));
}

void TstPortTextUi::encodingListOnOpenPort_data()
{
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("gb18030") << int(TTextEncoding::Gb18030) << QByteArray("\xC4\xE3\xBA\xC3\n") << u"你好"_s
                             << true;
    QTest::newRow("big5") << int(TTextEncoding::Big5) << QByteArray("\xA4\xA4\n") << u"中"_s << true;
    QTest::newRow("shift_jis") << int(TTextEncoding::ShiftJis) << QByteArray("\x82\xA0\n") << u"あ"_s << true;
    QTest::newRow("iso-8859-1") << int(TTextEncoding::Latin1) << QByteArray("\xE9\n") << u"é"_s << true;
    QTest::newRow("bytes") << int(TTextEncoding::Bytes) << QByteArray("\xE9\n") << u"é"_s << false;
}

void TstPortTextUi::encodingListOnOpenPort()
{
    QFETCH(int, encoding);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(bool, ticked);
    TextRig r;
    r.Open();
    r.Choose(r.Encoding(), IndexOf(TTextEncoding(encoding)));
    QCOMPARE(r.Obj()->TextEncoding(), TTextEncoding(encoding));
    QCOMPARE(r.Unicode()->isChecked(), ticked);
    QVERIFY(r.Receive(bytes).endsWith(text));
    QVERIFY(
        r.PortIni().contains("Encoding=" + TextEncodingName(TTextEncoding(encoding)).toLatin1() + "\r\n"));
    // What the block editor sends goes out in the same encoding.
    QByteArray wire;
    if (EncodeText(text, TTextEncoding(encoding), &wire)) {
        r.Obj()->TorvinComSendData_MultiTimes(text, sfAscii);
        QCOMPARE(r.pty.Read(wire.size() + 2), wire + "\r\n");
    }
}

void TstPortTextUi::lineBreaksOnOpenPort()
{
    TextRig r;
    r.Open();
    QCOMPARE(r.LineBreaks()->currentIndex(), 0);
    QCOMPARE(r.LineBreaks()->itemText(0), u"CR LF, LF or CR"_s);
    QCOMPARE(r.LineBreaks()->itemText(1), u"CR LF only"_s);
    QVERIFY(r.Receive("one\ntwo\n").endsWith(u"| two"_s));
    r.Choose(r.LineBreaks(), 1);
    QCOMPARE(r.Obj()->LineBreaks(), TLineBreaks::CrLfOnly);
    QVERIFY(r.Receive("x\ny\r\n").endsWith(u"| x\ny"_s));
    QVERIFY(r.PortIni().contains("LineBreaks=CRLF\r\n"));
}

void TstPortTextUi::optionsSurviveRestart()
{
    TextRig r;
    r.Choose(r.Encoding(), IndexOf(TTextEncoding::ShiftJis));
    r.Choose(r.LineBreaks(), 1);
    r.w->close();
    r.w.reset();
    r.Start();
    QCOMPARE(r.Obj()->TextEncoding(), TTextEncoding::ShiftJis);
    QCOMPARE(r.Obj()->LineBreaks(), TLineBreaks::CrLfOnly);
    QCOMPARE(r.Encoding()->currentIndex(), IndexOf(TTextEncoding::ShiftJis));
    QCOMPARE(r.LineBreaks()->currentIndex(), 1);
    QVERIFY(r.Unicode()->isChecked());
    r.Open();
    QVERIFY(r.Receive("\x82\xA0\r\n").endsWith(u"あ"_s));
}

void TstPortTextUi::sendEndingPerPanel()
{
    TextRig r;
    r.Open();
    auto* block = r.w->findChild<QComboBox*>(u"ComboBoxEndBlock"_s);
    auto* grid = r.w->findChild<QComboBox*>(u"ComboBoxEndGrid"_s);
    auto* prompt = r.w->findChild<QComboBox*>(u"ComboBoxEndPrompt"_s);
    // What the panels always sent.
    QCOMPARE(block->currentIndex(), int(TSendEnding::CrLf));
    QCOMPARE(grid->currentIndex(), int(TSendEnding::CrLf));
    QCOMPARE(prompt->currentIndex(), int(TSendEnding::None));
    r.w->findChild<QPlainTextEdit*>(u"Memo2"_s)->setPlainText(u"AT\nATI"_s);
    r.w->findChild<QPushButton*>(u"Button8"_s)->click();
    QCOMPARE(r.pty.Read(9), QByteArray("AT\r\nATI\r\n"));
    r.Choose(block, int(TSendEnding::Lf));
    r.w->findChild<QPushButton*>(u"Button8"_s)->click();
    QCOMPARE(r.pty.Read(8), QByteArray("AT\r\nATI\n"));
    r.Choose(block, int(TSendEnding::None));
    r.Choose(prompt, int(TSendEnding::Cr));
    QCOMPARE(r.Obj()->FPromptEnding, TSendEnding::Cr);
    r.w->close();
    r.w.reset();
    r.Start();
    QCOMPARE(r.w->findChild<QComboBox*>(u"ComboBoxEndBlock"_s)->currentIndex(), int(TSendEnding::None));
    QCOMPARE(r.w->findChild<QComboBox*>(u"ComboBoxEndPrompt"_s)->currentIndex(), int(TSendEnding::Cr));
    QVERIFY(ReadFile(r.env.SettingDir() + "Corvane.ini").contains("ENDPROMPT=1\r\n"));
}

QTEST_MAIN(TstPortTextUi)
#include "tst_porttextui.moc"
