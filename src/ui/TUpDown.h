#pragma once

#include <QSpinBox>

class QLineEdit;

// A number box: the edit box and its spinner in one, each with its own name.
class TUpDown : public QSpinBox {
    Q_OBJECT
public:
    TUpDown(const QString& upDownName, const QString& editName, int min, int max, int position,
            QWidget* parent = nullptr);

    QLineEdit* Edit() const { return lineEdit(); }
    int Position() const { return value(); }
    void SetPosition(int position) { setValue(position); }
};
