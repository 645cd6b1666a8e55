#pragma once

#include <QWidget>

#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QIcon;
class QLabel;
class QPushButton;
class QVBoxLayout;
class TCvComPortObj;
enum class TSendEnding;

// The line settings of the port-settings page, as indices of their lists.
struct TCvLineValues {
    int BaudRate, DataBits, StopBits, Parity, FlowControl, SendFormat, ReceiveFormat;
};

struct TCvSettings;

// The port-settings page (Notebook1's first page): the device list (ComboBoxEx1), refresh
// (Button4) and open (Button2); the line settings, send format, reconnect, text encoding,
// line breaks, escape sequences and the prompt's ending (GroupBox2); the receive format and
// the log clear (GroupBox1); the console switch and its keys (GroupBoxConsole); the buttons for fonts,
// colours, file loading and sending and capture. It shows the selected port and keeps the port's own options
// (text, reconnect) in the port's settings file. Opening, closing and the buttons that act through the window
// go out as signals; the window places the modem lines and the loop's settings on the page.
class TCvPortSettingsPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCvPortSettingsPanel(QWidget* parent = nullptr);

    // The port object of a device-list name, or none.
    void SetPortByName(std::function<TCvComPortObj*(const QString&)> Provider)
    {
        FPortByName = std::move(Provider);
    }
    // The settings file of a port (by full name).
    void SetSettingsPath(std::function<QString(const QString&)> Provider)
    {
        FSettingsPath = std::move(Provider);
    }
    // The caption of the boxes it shows.
    void SetTitle(std::function<QString()> Provider) { FTitle = std::move(Provider); }

    // Boxes of other classes on this page: below the line settings, below the receive box.
    void AddBelowLineSettings(QWidget* Box);
    void AddBelowReceive(QWidget* Box);

    // The device list.
    int DeviceCount() const;
    int CurrentDeviceIndex() const;
    QString CurrentDeviceText() const;
    // The selected device, empty when none is.
    QString CurrentDeviceName() const;
    // Selects the device of that name when it is listed; false when it is not.
    bool SelectDevice(const QString& Name);
    bool IsListed(const QString& Name) const;
    void SelectDeviceAt(int Index);
    // The list from scratch, nothing selected; each item's tool tip from Tips (its name when
    // Tips has none for it).
    void SetDevices(const QStringList& Names, const QIcon& Icon, const QStringList& Tips = {});
    // An entry of the list's context menu (the list owns it).
    void AddDeviceAction(QAction* Action);

    // The lists' items as the port layer names them; the receive formats come last.
    void FillLineLists();
    void FillReceiveFormats();
    TCvLineValues Lines() const;
    void SetBaudRate(int Index);
    void SetReceiveFormat(int Index);
    TSendEnding PromptEnding() const;
    // Button2's caption.
    QString OpenCaption() const;
    void SetOpenCaption(const QString& Caption);
    // Button23 and Button24, held while a file is sent.
    QList<QWidget*> FileSendButtons() const;

    // What Obj is set to: its line settings, and while it is open its formats; its text
    // options and reconnect. The line lists are locked while it is open.
    void ShowPort(TCvComPortObj* Obj);
    void ShowTextOptions(TCvComPortObj* Obj);

    void ApplyCaptions(const QString& Lang);
    void LoadPromptEnding(int Index);
    int PromptEndingIndex() const;
    // Its part of Corvane.ini: the prompt's ending (the rest is in each port's file).
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;

    // The custom baud rate of the selected port, asked for when "Custom" is chosen.
    void ComboBox1Change();
    void ComboBoxEncodingChange();
    void ComboBoxLineBreaksChange();
    void ComboBoxEscapesChange();
    // The console switch and its keys, kept for the selected port.
    void ConsoleOptionsChange();
    // CheckBox12 of the preferences page: Text false is one character per byte.
    void UnicodeChosen(bool Text);
    void CheckBoxReconnectClick();

signals:
    void DeviceChosen();
    void RefreshClicked();
    void OpenClicked();
    // The send format or the prompt's ending chosen: the port takes the panel's values.
    void AttributesChosen();
    void ReceiveFormatChosen();
    void ClearLogClicked();
    void FontClicked();
    void ColourClicked();
    void LoadFileClicked();
    void SendFileClicked();
    void CaptureClicked();
    void CloseCaptureClicked();
    // The text encoding shown for the selected port (CheckBox12 follows it).
    void TextEncodingShown(bool Text);
    // Reconnect was switched off for that port: it waits for its device no longer.
    void ReconnectDropped(const QString& FullName);
    // The selected port's console or its text options changed: its console follows.
    void ConsoleChosen();

private:
    TCvComPortObj* Current() const;
    void StoreTextOptions(TCvComPortObj* Obj);

    QVBoxLayout* FColumn;
    QComboBox* FComboBoxEx1;
    QPushButton* FButton4;
    QPushButton* FButton2;
    QGroupBox* FGroupBox2;
    QComboBox* FComboBox1;
    QComboBox* FComboBox2;
    QComboBox* FComboBox3;
    QComboBox* FComboBox4;
    QComboBox* FComboBox5;
    QComboBox* FComboBox6;
    QCheckBox* FCheckBoxReconnect;
    QLabel* FLabelEncoding;
    QComboBox* FComboBoxEncoding;
    QLabel* FLabelLineBreaks;
    QComboBox* FComboBoxLineBreaks;
    QLabel* FLabelEscapes;
    QComboBox* FComboBoxEscapes;
    QGroupBox* FGroupBoxConsole;
    QCheckBox* FCheckBoxConsole;
    QLabel* FLabelConsoleEnter;
    QComboBox* FComboBoxConsoleEnter;
    QLabel* FLabelConsoleBackspace;
    QComboBox* FComboBoxConsoleBackspace;
    QCheckBox* FCheckBoxConsoleEcho;
    QLabel* FLabelEndPrompt;
    QComboBox* FComboBoxEndPrompt;
    QGroupBox* FGroupBox1;
    QComboBox* FComboBox7;
    QPushButton* FButton10;
    QPushButton* FButton12;
    QPushButton* FButton17;
    QPushButton* FButton23;
    QPushButton* FButton24;
    QPushButton* FButton13;
    QPushButton* FButton14;
    std::function<TCvComPortObj*(const QString&)> FPortByName;
    std::function<QString(const QString&)> FSettingsPath;
    std::function<QString()> FTitle;
};
