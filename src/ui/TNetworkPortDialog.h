#pragma once

// Asks for a network port: its kind, the host and port to dial, or the port to listen on
// and, as an explicit choice, an address other than loopback.

#include "TNetworkAddress.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TNetworkPortDialog : public QDialog {
    Q_OBJECT
public:
    // Lang: "CN" or "EN".
    TNetworkPortDialog(QWidget* parent, const QString& Lang);

    // What the controls say now (Kind None when the host is not valid).
    TNetworkAddress Address() const;

    void accept() override;

private:
    void KindChanged();

    QComboBox* ComboNetKind;
    QLineEdit* EditNetHost;
    QSpinBox* SpinNetPort;
    QCheckBox* CheckNetOtherAddress;
    QLineEdit* EditNetBind;
    QLabel* LabelNetHost;
    QLabel* LabelNetError;
    QPushButton* ButtonNetOk;
    QPushButton* ButtonNetCancel;
    bool FEnglish;
};
