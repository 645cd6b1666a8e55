#pragma once

// Small constructors for the window's named controls.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>

template <class T>
T* Named(T* w, const QString& name)
{
    w->setObjectName(name);
    return w;
}

inline QPushButton* NewButton(const QString& name, const QString& caption)
{
    return Named(new QPushButton(caption), name);
}

inline QCheckBox* NewCheckBox(const QString& name, const QString& caption, bool checked)
{
    auto* box = Named(new QCheckBox(caption), name);
    box->setChecked(checked);
    return box;
}

inline QLabel* NewLabel(const QString& name, const QString& caption)
{
    return Named(new QLabel(caption), name);
}

inline QComboBox* NewComboBox(const QString& name, const QStringList& items = {}, bool editable = false)
{
    auto* box = Named(new QComboBox, name);
    box->setEditable(editable);
    box->addItems(items);
    return box;
}
