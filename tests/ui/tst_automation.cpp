// The answer rules and script pages of the window, driven by their controls, against
// devices on real ptys.
#include "UiFind.h"
#include "UiTestEnv.h"
#include "WindowDevice.h"

#include "CvMessages.h"
#include "IniFile.h"
#include "TCvAnswerRules.h"
#include "TCvAnswerRulesPanel.h"
#include "TCvScriptPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

QString Name(const PtyPair& p)
{
    return u"Virtual Port (%1)"_s.arg(p.SlavePath());
}

// Whether a line of the port's log ends with text (the window may put prefixes before it).
bool Logged(TCvComPortObj* obj, const QString& text)
{
    obj->FlushUiQueue();
    const QStringList lines = LogLines(obj->LogView());
    return std::any_of(lines.begin(), lines.end(), [&text](const QString& l) { return l.endsWith(text); });
}

// A window over an empty sysfs tree with two virtual ports on ptys.
struct Rig {
    PtyPair a, b;
    std::unique_ptr<TSplitViewForm> w; // goes first, while the ptys still answer

    Rig()
    {
        w = UiTestEnv::Start("en_US");
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // A pty of an earlier window may have had the same name and be listed still.
        for (const PtyPair* p : {&a, &b})
            if (!Obj(*p)) QVERIFY(w->AddVirtualPort(p->SlavePath()));
    }
    TCvComPortObj* Obj(const PtyPair& p) const { return w->GetDeciceByFullName(Name(p)); }
    void Select(const PtyPair& p)
    {
        auto* list = Ui::Find<QComboBox>(*w, u"ComboBoxEx1"_s);
        list->setCurrentIndex(list->findText(Name(p)));
        w->ComboBoxEx1Change();
    }
    void Open(const PtyPair& p)
    {
        Select(p);
        Ui::Find<QPushButton>(*w, u"Button2"_s)->click();
        QTRY_VERIFY(Obj(p)->Connected());
    }
    QTableWidget* Table() const { return Ui::Find<QTableWidget>(*w, u"TableRules"_s); }
    void SetCell(int row, int col, const QString& text) { Table()->item(row, col)->setText(text); }
    QString State(int row) const { return Table()->item(row, TCvAnswerRulesPanel::ColState)->text(); }
    QPlainTextEdit* Editor() const { return Ui::Find<QPlainTextEdit>(*w, u"MemoScript"_s); }
    QString ScriptState() const { return Ui::Find<QLabel>(*w, u"LabelScriptState"_s)->text(); }
    void Run(const QString& script)
    {
        Editor()->setPlainText(script);
        Ui::Find<QPushButton>(*w, u"ButtonScriptRun"_s)->click();
    }
};

} // namespace

class TstAutomation : public QObject {
    Q_OBJECT
private slots:
    void init() { QApplication::setStyle(u"Fusion"_s); }
    void rulesPageAnswersAndKeepsTheRules();
    void rulesComeBackWithTheWindow();
    void scriptRunsOnTheSelectedPort();
    void stopEndsAnEndlessScript();
    void scriptErrorShowsItsLine();
    void scriptOpensAnotherPortThroughTheWindow();
    void recentScriptsAreRemembered();
};

void TstAutomation::rulesPageAnswersAndKeepsTheRules()
{
    UiTestEnv env;
    Rig r;
    r.Open(r.a);
    TCvComPortObj* obj = r.Obj(r.a);
    auto* table = r.Table();
    QVERIFY(table->isEnabled());
    QCOMPARE(table->rowCount(), 0);
    Ui::Find<QPushButton>(*r.w, u"ButtonRuleAdd"_s)->click();
    QCOMPARE(table->rowCount(), 1);
    // A rule that is not complete yet says why it does nothing.
    QCOMPARE(r.State(0), Msg(u"When: nothing to look for."_s));
    r.SetCell(0, TCvAnswerRulesPanel::ColMatch, u"login:"_s);
    r.SetCell(0, TCvAnswerRulesPanel::ColAnswer, u"root\\r"_s);
    QVERIFY(r.State(0).contains(u"0"_s));
    r.a.Write("box login: ");
    QCOMPARE(r.a.Read(5, 10000), QByteArray("root\r"));
    QTRY_COMPARE(r.State(0), u"answered 1 times"_s);

    // Kept in the port's settings file at once.
    const QString file = r.w->Devices()->SettingsPathOf(obj->FComportFullName);
    TIniFile ini;
    QVERIFY(ini.Load(file));
    QCOMPARE(ini.ReadString(TCvAnswerRules::Section, u"Rule1_Match"_s), u"login:"_s);
    QCOMPARE(ini.ReadString(TCvAnswerRules::Section, u"Rule1_Answer"_s), u"root\\r"_s);

    // A regular expression made wrong: shown, and the rule does nothing.
    Ui::Find<QComboBox>(*r.w, u"ComboRuleWhen_1"_s)->setCurrentIndex(int(TCvAnswerRule::TWhen::RegExp));
    r.SetCell(0, TCvAnswerRulesPanel::ColMatch, u"(login"_s);
    QVERIFY(r.State(0).startsWith(
        Msg(u"When: the regular expression is wrong at position %1: %2"_s).section(u'%', 0, 0)));
    r.a.Write("login:");
    QCOMPARE(r.a.ReadFor(300), QByteArray());

    // The other port has rules of its own: none.
    r.Select(r.b);
    QCOMPARE(table->rowCount(), 0);
    r.Select(r.a);
    QCOMPARE(table->rowCount(), 1);
    table->setCurrentCell(0, TCvAnswerRulesPanel::ColMatch);
    Ui::Find<QPushButton>(*r.w, u"ButtonRuleRemove"_s)->click();
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(obj->AnswerRules().Rules().isEmpty());
    QVERIFY(ini.Load(file));
    QVERIFY(!ini.HasSection(TCvAnswerRules::Section));

    // Captions follow the language.
    Ui::Find<QCheckBox>(*r.w, u"CheckBox6"_s)->click();
    QCOMPARE(Ui::Find<QPushButton>(*r.w, u"ButtonRuleAdd"_s)->text(), u"添加规则"_s);
}

void TstAutomation::rulesComeBackWithTheWindow()
{
    UiTestEnv env;
    PtyPair keep;
    {
        Rig r;
        QVERIFY(r.w->AddVirtualPort(keep.SlavePath()));
        r.Select(keep);
        Ui::Find<QPushButton>(*r.w, u"ButtonRuleAdd"_s)->click();
        r.SetCell(0, TCvAnswerRulesPanel::ColMatch, u"Password: "_s);
        r.SetCell(0, TCvAnswerRulesPanel::ColAnswer, u"secret\\r"_s);
        Ui::Find<QSpinBox>(*r.w, u"SpinRuleDelay_1"_s)->setValue(50);
        r.w->close();
    }
    Rig r;
    QVERIFY(r.Obj(keep));
    r.Select(keep);
    QCOMPARE(r.Table()->rowCount(), 1);
    QCOMPARE(r.Table()->item(0, TCvAnswerRulesPanel::ColMatch)->text(), u"Password: "_s);
    QCOMPARE(Ui::Find<QSpinBox>(*r.w, u"SpinRuleDelay_1"_s)->value(), 50);
    r.Open(keep);
    keep.Write("Password: ");
    QCOMPARE(keep.Read(7, 10000), QByteArray("secret\r"));
}

void TstAutomation::scriptRunsOnTheSelectedPort()
{
    UiTestEnv env;
    Rig r;
    r.Open(r.a);
    r.Run(u"port.send(\"AT\\r\");\nvar reply = port.expect(/OK|ERROR/, 10000);\npass(reply[0]);\n"_s);
    QVERIFY(!Ui::Find<QPushButton>(*r.w, u"ButtonScriptRun"_s)->isEnabled());
    QVERIFY(Ui::Find<QPushButton>(*r.w, u"ButtonScriptStop"_s)->isEnabled());
    QCOMPARE(r.a.Read(3, 10000), QByteArray("AT\r"));
    QVERIFY(r.a.Write("\r\nOK\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(r.ScriptState(), Msg(u"[script] passed: %1"_s).arg(u"OK"_s), 20000);
    QVERIFY(Ui::Find<QPushButton>(*r.w, u"ButtonScriptRun"_s)->isEnabled());
    QVERIFY(Logged(r.Obj(r.a), Msg(u"[script] > %1"_s).arg(u"\"AT\\r\""_s)));
    QVERIFY(Logged(r.Obj(r.a), Msg(u"[script] passed: %1"_s).arg(u"OK"_s)));
}

void TstAutomation::stopEndsAnEndlessScript()
{
    UiTestEnv env;
    Rig r;
    r.Open(r.a);
    r.Run(u"while (true) {}\n"_s);
    QTest::qWait(200);
    // The window goes on while the script runs.
    QVERIFY(r.a.Write("alive\r\n"));
    QTRY_VERIFY(Logged(r.Obj(r.a), u"alive"_s));
    Ui::Find<QPushButton>(*r.w, u"ButtonScriptStop"_s)->click();
    QTRY_COMPARE_WITH_TIMEOUT(r.ScriptState(), Msg(u"[script] stopped."_s), 20000);
    QVERIFY(!Ui::Find<QPushButton>(*r.w, u"ButtonScriptStop"_s)->isEnabled());
}

void TstAutomation::scriptErrorShowsItsLine()
{
    UiTestEnv env;
    Rig r;
    r.Open(r.a);
    r.Run(u"log(1);\nlog(2);\nnoSuchFunction();\n"_s);
    QTRY_VERIFY_WITH_TIMEOUT(
        r.ScriptState().startsWith(Msg(u"[script] error at line %1: %2"_s).arg(3).arg(QString())), 20000);
    // The editor shows the line.
    QCOMPARE(r.Editor()->textCursor().blockNumber(), 2);
    QCOMPARE(r.Editor()->textCursor().selectedText(), u"noSuchFunction();"_s);
}

void TstAutomation::scriptOpensAnotherPortThroughTheWindow()
{
    UiTestEnv env;
    Rig r;
    r.Open(r.a);
    PtyPair c;
    r.Run(u"var other = openPort(\"%1\", {baud: 19200});\nother.send(\"hi\");\n"_s.arg(c.SlavePath()));
    QCOMPARE(c.Read(2, 20000), QByteArray("hi"));
    QTRY_COMPARE_WITH_TIMEOUT(r.ScriptState(), Msg(u"[script] passed."_s), 20000);
    // It joined the device list, opened with a page of its own and the options given; the
    // selection stayed on the script's port.
    TCvComPortObj* other = r.w->GetDeciceByFullName(Name(c));
    QVERIFY(other && other->Connected());
    QCOMPARE(other->BaudRate(), int(br19200));
    QCOMPARE(r.w->GetCurrentDeviceName(), Name(r.a));
    QVERIFY(Logged(other, Msg(u"[script] > %1"_s).arg(u"\"hi\""_s)));
}

void TstAutomation::recentScriptsAreRemembered()
{
    UiTestEnv env;
    const QString first = env.tmp.filePath(u"first.js"_s), second = env.tmp.filePath(u"second.js"_s);
    for (const QString& path : {first, second}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("log(\"" + QFileInfo(path).baseName() + "\");\n").toUtf8());
    }
    {
        Rig r;
        auto* panel = r.w->FScriptPanel;
        panel->OpenDialog = [first] { return first; };
        Ui::Find<QPushButton>(*r.w, u"ButtonScriptOpen"_s)->click();
        QCOMPARE(r.Editor()->toPlainText(), u"log(\"first\");\n"_s);
        panel->OpenDialog = [second] { return second; };
        Ui::Find<QPushButton>(*r.w, u"ButtonScriptOpen"_s)->click();
        // Saved into its own file, whole.
        r.Editor()->setPlainText(u"log(\"changed\");\n"_s);
        Ui::Find<QPushButton>(*r.w, u"ButtonScriptSave"_s)->click();
        QCOMPARE(ReadFile(second), QByteArray("log(\"changed\");\n"));
        QCOMPARE(panel->RecentScripts(), QStringList({second, first}));
        r.w->close();
    }
    TIniFile ini;
    QVERIFY(ini.Load(env.SettingDir() + u"Corvane.ini"_s));
    QCOMPARE(ini.ReadString(RecentScriptsSection, u"File1"_s), second);
    Rig r;
    auto* recent = Ui::Find<QComboBox>(*r.w, u"ComboBoxScriptRecent"_s);
    QCOMPARE(recent->count(), 2);
    recent->setCurrentIndex(1);
    emit recent->activated(1);
    QCOMPARE(r.Editor()->toPlainText(), u"log(\"first\");\n"_s);
    QCOMPARE(r.w->FScriptPanel->RecentScripts(), QStringList({first, second}));
}

QTEST_MAIN(TstAutomation)
#include "tst_automation.moc"
