#pragma once

#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
enum class TSendEnding;
enum class TTextEncoding;

struct TCvSettings;

// The block-send page: text (Memo3) and hex (Memo2) with the conversions between them
// (Button9, Button11), hex formatting (Button25), the checksum row, and the send row
// (Button7 clears, Button8 sends, ComboBoxEndBlock ends an ASCII send). Sending and
// clearing act on the selected device: the window does them on SendClicked/ClearClicked.
class TCvBlockSendPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCvBlockSendPanel(QWidget* parent = nullptr);

    // The encoding text and bytes are converted in: the selected port's.
    void SetEncoding(std::function<TTextEncoding()> Provider) { FEncoding = std::move(Provider); }

    QString Text() const;
    TSendEnding Ending() const;
    void SetEnding(int Index);
    int CrcKind() const;
    void SetCrcKind(int Index);
    // Its part of Corvane.ini: the checksum kind and the block's ending.
    void LoadSettings(const TCvSettings& s);
    void SaveSettings(TCvSettings& s) const;
    void ApplyCaptions(const QString& Lang);

    void Button9Click();
    void Button11Click();
    void Button25Click();
    void ButtonCrcCalcClick();
    void ButtonCrcAppendClick();

signals:
    void SendClicked();
    void ClearClicked();

private:
    TTextEncoding Encoding() const;

    QPlainTextEdit* FMemo3;
    QPushButton* FButton9;
    QPushButton* FButton11;
    QPlainTextEdit* FMemo2;
    QPushButton* FButton7;
    QPushButton* FButton8;
    QComboBox* FComboBoxEndBlock;
    QPushButton* FButton25;
    QComboBox* FComboCrcKind;
    QLineEdit* FEditCrcResult;
    QPushButton* FButtonCrcCalc;
    QPushButton* FButtonCrcAppend;
    QLabel* FLabelCrcHelp;
    std::function<TTextEncoding()> FEncoding;
};
