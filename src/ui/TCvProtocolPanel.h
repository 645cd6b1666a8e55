#pragma once

#include <QWidget>

#include <functional>

class QComboBox;
class QPlainTextEdit;
class QPushButton;
class TCvComPortObj;

// The protocol conversion page: bus (ComboBox9), device and internal address (ComboBox10,
// ComboBox11, digits only), operation (ComboBox12), the data of a write (Memo5) and
// Button16, which sends the operation as a packet to the selected port.
class TCvProtocolPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int AddressBufferSize = 10;
    static constexpr int DataBufferSize = 1024;

    explicit TCvProtocolPanel(QWidget* parent = nullptr);

    // The port of the selected device, or none.
    void SetCurrentPort(std::function<TCvComPortObj*()> Provider) { FCurrentPort = std::move(Provider); }
    // Runs a send, or holds it back (a file is being sent) and says true.
    void SetSendGate(std::function<bool(TCvComPortObj*, std::function<void()>)> Gate)
    {
        FGate = std::move(Gate);
    }

    void Button16Click();
    // A character other than a digit or backspace becomes CR, which the box does not insert.
    static void AddressKeyPress(QChar& Key);

private:
    QComboBox* FComboBox9;
    QComboBox* FComboBox10;
    QComboBox* FComboBox11;
    QComboBox* FComboBox12;
    QPlainTextEdit* FMemo5;
    QPushButton* FButton16;
    std::function<TCvComPortObj*()> FCurrentPort;
    std::function<bool(TCvComPortObj*, std::function<void()>)> FGate;
};
