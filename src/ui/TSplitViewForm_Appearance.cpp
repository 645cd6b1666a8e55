#include "TSplitViewForm.h"

#include "TUpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QStyle>
#include <QStyleFactory>

using namespace Qt::Literals::StringLiterals;

void TSplitViewForm::CheckBox7Click()
{
    FAlphaBlend = CheckBox7->isChecked();
    FAlphaBlendValue = UpDown2->Position();
    setWindowOpacity(FAlphaBlend ? FAlphaBlendValue / 255.0 : 1.0);
}

QStringList TSplitViewForm::GetStyleNames() const
{
    // Fusion is the plain look and comes first.
    QStringList names = QStyleFactory::keys();
    const qsizetype fusion = names.indexOf(u"Fusion"_s, 0);
    if (fusion > 0) names.move(fusion, 0);
    return names;
}

void TSplitViewForm::ApplyStyleByName(const QString& Name)
{
    if (QStyle* s = QStyleFactory::create(Name)) QApplication::setStyle(s);
}

void TSplitViewForm::cbxVclStylesChange()
{
    const QString name = cbxVclStyles->currentText();
    if (name.isEmpty()) return;
    if (QApplication::style()->name().compare(name, Qt::CaseInsensitive) != 0) ApplyStyleByName(name);
    update();
}

void TSplitViewForm::ApplyParentColors()
{
    const QList<QWidget*> all = findChildren<QWidget*>();
    for (QWidget* w : all)
        if (qobject_cast<QGroupBox*>(w) || w->objectName().startsWith(u"Panel"_s)) w->setAutoFillBackground(true);
}
