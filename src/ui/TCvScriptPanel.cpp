#include "TCvScriptPanel.h"

#include "CvMessages.h"
#include "CvSettings.h"
#include "CvWidgets.h"
#include "SafeSave.h"
#include "TCvComPortObj.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTextBlock>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

const TCaption kOpen{u"打开"_s, u"Open"_s};
const TCaption kSave{u"保存"_s, u"Save"_s};
const TCaption kRun{u"运行"_s, u"Run"_s};
const TCaption kStop{u"停止"_s, u"Stop"_s};
const TCaption kRecentTip{u"最近打开或保存的脚本"_s, u"Scripts opened or saved lately"_s};
const TCaption kRunning{u"正在 %1 上运行……"_s, u"Running on %1 …"_s};
const TCaption kRunningAlone{u"正在运行（没有选中串口）……"_s, u"Running without a port …"_s};
const TCaption kCannotRead{u"无法读取 %1：%2"_s, u"Can not read %1: %2"_s};
const TCaption kNotUtf8{u"%1 不是 UTF-8 文本。"_s, u"%1 is not UTF-8 text."_s};
const TCaption kCannotSave{u"无法保存 %1：%2"_s, u"Can not save %1: %2"_s};
const TCaption kSaved{u"已保存到 %1。"_s, u"Saved to %1."_s};
const TCaption kPlaceholder{u"// 在这里写 JavaScript 脚本，例如：\n"
                            u"// port.send(\"AT\\r\");\n"
                            u"// port.expect(\"OK\", 2000);\n"
                            u"// 接口和示例见帮助页的“Scripts”一节。"_s,
                            u"// A script in JavaScript, for example:\n"
                            u"// port.send(\"AT\\r\");\n"
                            u"// port.expect(\"OK\", 2000);\n"
                            u"// The API and examples are in the help page, section Scripts."_s};

} // namespace

TCvScriptPanel::TCvScriptPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"ScriptPanel"_s);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    FComboBoxScriptRecent = NewComboBox(u"ComboBoxScriptRecent"_s);
    FComboBoxScriptRecent->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FComboBoxScriptRecent->setMinimumContentsLength(12);
    column->addWidget(FComboBoxScriptRecent);
    FMemoScript = Named(new QPlainTextEdit, u"MemoScript"_s);
    FMemoScript->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FMemoScript->setLineWrapMode(QPlainTextEdit::NoWrap);
    FMemoScript->setTabStopDistance(4 * FMemoScript->fontMetrics().horizontalAdvance(u' '));
    column->addWidget(FMemoScript, 1);
    FLabelScriptState = NewLabel(u"LabelScriptState"_s, QString());
    FLabelScriptState->setWordWrap(true);
    FLabelScriptState->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(FLabelScriptState);
    auto* buttons = new QHBoxLayout;
    FButtonScriptOpen = NewButton(u"ButtonScriptOpen"_s, QString());
    FButtonScriptSave = NewButton(u"ButtonScriptSave"_s, QString());
    FButtonScriptRun = NewButton(u"ButtonScriptRun"_s, QString());
    FButtonScriptStop = NewButton(u"ButtonScriptStop"_s, QString());
    for (QPushButton* b : {FButtonScriptOpen, FButtonScriptSave, FButtonScriptRun, FButtonScriptStop})
        buttons->addWidget(b);
    column->addLayout(buttons);

    FRun = new TCvScriptRun(this, this);
    connect(FRun, &TCvScriptRun::Finished, this, &TCvScriptPanel::Finished);
    connect(FButtonScriptOpen, &QPushButton::clicked, this, &TCvScriptPanel::ButtonScriptOpenClick);
    connect(FButtonScriptSave, &QPushButton::clicked, this, &TCvScriptPanel::ButtonScriptSaveClick);
    connect(FButtonScriptRun, &QPushButton::clicked, this, &TCvScriptPanel::ButtonScriptRunClick);
    connect(FButtonScriptStop, &QPushButton::clicked, this, &TCvScriptPanel::ButtonScriptStopClick);
    connect(FComboBoxScriptRecent, &QComboBox::activated, this, [this](int index) {
        const QString path = FRecent.value(index);
        if (!path.isEmpty() && path != FFileName) LoadScript(path);
    });
    OpenDialog = [this] {
        return QFileDialog::getOpenFileName(this, QString(), QFileInfo(FFileName).path(),
                                            u"JavaScript (*.js);;* (*)"_s);
    };
    SaveDialog = [this] {
        return QFileDialog::getSaveFileName(this, QString(), FFileName, u"JavaScript (*.js);;* (*)"_s);
    };
    ApplyCaptions(u"CN"_s);
    EnableButtons();
}

TCvScriptPanel::~TCvScriptPanel()
{
    // No event loop any more: the run (a child) waits for its thread once it has stopped.
    if (FRun) FRun->Stop();
}

void TCvScriptPanel::ApplyCaptions(const QString& Lang)
{
    FLang = Lang;
    FButtonScriptOpen->setText(Pick(kOpen, Lang));
    FButtonScriptSave->setText(Pick(kSave, Lang));
    FButtonScriptRun->setText(Pick(kRun, Lang));
    FButtonScriptStop->setText(Pick(kStop, Lang));
    FComboBoxScriptRecent->setToolTip(Pick(kRecentTip, Lang));
    FMemoScript->setPlaceholderText(Pick(kPlaceholder, Lang));
}

void TCvScriptPanel::LoadSettings(const TCvSettings& s)
{
    FRecent = s.RecentScripts.mid(0, MaxRecent);
    ShowRecent();
}

void TCvScriptPanel::SaveSettings(TCvSettings& s) const
{
    s.RecentScripts = FRecent;
}

void TCvScriptPanel::ShowRecent()
{
    FComboBoxScriptRecent->clear();
    for (const QString& path : FRecent) FComboBoxScriptRecent->addItem(QFileInfo(path).fileName(), path);
    for (int i = 0; i < FRecent.size(); ++i)
        FComboBoxScriptRecent->setItemData(i, FRecent[i], Qt::ToolTipRole);
    FComboBoxScriptRecent->setCurrentIndex(int(FRecent.indexOf(FFileName)));
}

void TCvScriptPanel::Remember(const QString& path)
{
    FRecent.removeAll(path);
    FRecent.prepend(path);
    while (FRecent.size() > MaxRecent) FRecent.removeLast();
    ShowRecent();
}

void TCvScriptPanel::ShowState(const QString& text, bool bad)
{
    FLabelScriptState->setText(text);
    FLabelScriptState->setStyleSheet(bad ? u"color: red;"_s : QString());
}

void TCvScriptPanel::EnableButtons()
{
    const bool running = FRun->Running();
    FButtonScriptRun->setEnabled(!running);
    FButtonScriptStop->setEnabled(running);
    FButtonScriptOpen->setEnabled(!running);
    FComboBoxScriptRecent->setEnabled(!running);
}

bool TCvScriptPanel::LoadScript(const QString& Path)
{
    QFile f(Path);
    // Not a device or a pipe that never ends: a script is a file of some kilobytes.
    if (!QFileInfo(Path).isFile() || !f.open(QIODevice::ReadOnly)) {
        ShowState(Pick(kCannotRead, FLang).arg(Path, f.errorString()), true);
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(f.read(qint64(16) << 20));
    if (utf8.hasError()) {
        ShowState(Pick(kNotUtf8, FLang).arg(Path), true);
        return false;
    }
    FMemoScript->setPlainText(text);
    FFileName = Path;
    Remember(Path);
    ShowState(QString(), false);
    return true;
}

void TCvScriptPanel::ButtonScriptOpenClick()
{
    const QString path = OpenDialog ? OpenDialog() : QString();
    if (!path.isEmpty()) LoadScript(path);
}

void TCvScriptPanel::ButtonScriptSaveClick()
{
    QString path = FFileName;
    if (path.isEmpty()) path = SaveDialog ? SaveDialog() : QString();
    if (path.isEmpty()) return;
    const QByteArray bytes = FMemoScript->toPlainText().toUtf8();
    QString why;
    if (!SaveFileWhole(
            path, [&bytes](QIODevice& out) { return out.write(bytes) == bytes.size(); }, &why)) {
        ShowState(Pick(kCannotSave, FLang).arg(path, why), true);
        return;
    }
    FFileName = path;
    Remember(path);
    ShowState(Pick(kSaved, FLang).arg(path), false);
}

void TCvScriptPanel::ButtonScriptRunClick()
{
    if (FRun->Running()) return;
    TCvComPortObj* port = FCurrentPort ? FCurrentPort() : nullptr;
    const QString name = FFileName.isEmpty() ? u"script.js"_s : FFileName;
    if (!FRun->Start(FMemoScript->toPlainText(), name, port)) return;
    ShowState(port ? Pick(kRunning, FLang).arg(port->FComportFullName) : Pick(kRunningAlone, FLang), false);
    EnableButtons();
}

void TCvScriptPanel::ButtonScriptStopClick()
{
    FRun->Stop();
}

void TCvScriptPanel::StopAndWait()
{
    if (!FRun || !FRun->Running()) return;
    FRun->Stop();
    FRun->WaitFinished(5000);
}

void TCvScriptPanel::Finished(const TCvScriptResult& result)
{
    ShowState(result.Text(), result.Kind != TCvScriptResult::TKind::Passed);
    EnableButtons();
    // The line of an error is shown in the editor.
    if (result.Line > 0) {
        const QTextBlock block = FMemoScript->document()->findBlockByNumber(result.Line - 1);
        if (block.isValid()) {
            QTextCursor c(block);
            c.select(QTextCursor::LineUnderCursor);
            FMemoScript->setTextCursor(c);
        }
    }
}

TCvComPortObj* TCvScriptPanel::OpenPort(const QString& name, const TCvCommandLine& options, QString* error)
{
    if (FOpenPort) return FOpenPort(name, options, error);
    *error = Msg(u"no such device"_s);
    return nullptr;
}

void TCvScriptPanel::ScriptMessage(const QString& line)
{
    if (FMessage) FMessage(line);
}
