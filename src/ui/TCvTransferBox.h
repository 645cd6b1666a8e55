#pragma once

#include <QGroupBox>

class QComboBox;
class QLabel;
class QPushButton;
struct TCvSettings;

// The file-transfer box of the port-settings page (GroupBoxTransfer), below the file
// buttons: the protocol the loaded file is sent with (ComboTransferProtocol: Raw, XMODEM,
// XMODEM-1K, YMODEM, ZMODEM), receiving (ButtonReceiveFile) into the folder shown
// (LabelReceiveFolder, chosen with ButtonReceiveFolder), the progress of a transfer
// (LabelTransferProgress) and its cancel button (ButtonTransferCancel). Controls only: the
// window and the file sender act on its signals.
class TCvTransferBox : public QGroupBox {
    Q_OBJECT
public:
    explicit TCvTransferBox(QWidget* parent = nullptr);

    // The protocol as TCvTransferProtocol's value.
    int Protocol() const;
    void SetProtocol(int Protocol);
    QString Folder() const { return FFolder; }
    void SetFolder(const QString& Folder);
    void SetProgress(const QString& Text);
    // A transfer runs: Cancel shows, the choices are locked by the caller.
    void SetRunning(bool Running);
    // The controls a transfer locks while it runs.
    QList<QWidget*> LockedWhileRunning() const;

    void ApplyCaptions(const QString& Lang);
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;

signals:
    void ReceiveClicked();
    void FolderClicked();
    void CancelClicked();

private:
    void ShowFolder();
    void ProtocolChosen();

    QLabel* FLabelProtocol;
    QComboBox* FComboProtocol;
    QPushButton* FButtonReceive;
    QPushButton* FButtonFolder;
    QLabel* FLabelFolder;
    QLabel* FLabelProgress;
    QPushButton* FButtonCancel;
    QString FFolder;
    QString FLang = QStringLiteral("CN");
};
