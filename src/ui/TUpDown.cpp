#include "TUpDown.h"

#include <QLineEdit>

TUpDown::TUpDown(const QString& upDownName, const QString& editName, int min, int max, int position,
                 QWidget* parent)
    : QSpinBox(parent)
{
    setObjectName(upDownName);
    lineEdit()->setObjectName(editName);
    setRange(min, max);
    setValue(position);
}
