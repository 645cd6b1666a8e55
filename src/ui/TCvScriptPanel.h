#pragma once

#include "TCvScriptRun.h"

#include <QStringList>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TCvComPortObj;
struct TCvCommandLine;
struct TCvSettings;

// The script page: the editor MemoScript, the recent scripts ComboBoxScriptRecent,
// ButtonScriptOpen, ButtonScriptSave, ButtonScriptRun, ButtonScriptStop and the state
// LabelScriptState. A script runs on the selected port (TCvScriptRun), on a thread of its
// own; the window opens the other ports it asks for.
class TCvScriptPanel : public QWidget, private TCvScriptHost {
    Q_OBJECT
public:
    static constexpr int MaxRecent = 8;

    explicit TCvScriptPanel(QWidget* parent = nullptr);
    ~TCvScriptPanel() override;

    // The port of the selected device, or none.
    void SetCurrentPort(std::function<TCvComPortObj*()> Provider) { FCurrentPort = std::move(Provider); }
    // How the window opens a port a script names (see TCvScriptHost::OpenPort).
    using TOpenPort = std::function<TCvComPortObj*(const QString&, const TCvCommandLine&, QString*)>;
    void SetPortOpener(TOpenPort Opener) { FOpenPort = std::move(Opener); }
    // Where a script's lines go while it has no port (the main log).
    void SetMessageSink(std::function<void(const QString&)> Sink) { FMessage = std::move(Sink); }
    // The file dialogs: the chosen name, empty when cancelled. Tests replace them.
    std::function<QString()> OpenDialog;
    std::function<QString()> SaveDialog;

    void ApplyCaptions(const QString& Lang);
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;

    QStringList RecentScripts() const { return FRecent; }
    QString FileName() const { return FFileName; }
    bool Running() const { return FRun->Running(); }
    TCvScriptRun* Run() const { return FRun; }
    // Loads a script into the editor; false, with the reason on the page, when it cannot be read.
    bool LoadScript(const QString& Path);
    // The window closes: a script still running is stopped first.
    void StopAndWait();

    void ButtonScriptOpenClick();
    void ButtonScriptSaveClick();
    void ButtonScriptRunClick();
    void ButtonScriptStopClick();

private:
    TCvComPortObj* OpenPort(const QString& name, const TCvCommandLine& options, QString* error) override;
    void ScriptMessage(const QString& line) override;
    void Finished(const TCvScriptResult& result);
    void Remember(const QString& path);
    void ShowRecent();
    void ShowState(const QString& text, bool bad);
    void EnableButtons();

    QComboBox* FComboBoxScriptRecent;
    QPushButton* FButtonScriptOpen;
    QPushButton* FButtonScriptSave;
    QPushButton* FButtonScriptRun;
    QPushButton* FButtonScriptStop;
    QPlainTextEdit* FMemoScript;
    QLabel* FLabelScriptState;
    TCvScriptRun* FRun;
    QStringList FRecent;
    QString FFileName;
    QString FLang = QStringLiteral("CN");
    std::function<TCvComPortObj*()> FCurrentPort;
    TOpenPort FOpenPort;
    std::function<void(const QString&)> FMessage;
};
