#pragma once

// Finds the window's controls by objectName, so tests do not depend on which class
// owns a control. A name that is missing, doubled or of another type aborts the test
// binary with the name in the message: a test that drives the wrong control is worse
// than one that stops.

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace Ui {

template <class T = QObject> T* Find(const QObject* root, const QString& name)
{
    const QList<T*> hits = root->findChildren<T*>(name);
    if (hits.size() != 1) {
        qFatal("%s: %lld controls named \"%s\" of type %s", Q_FUNC_INFO, static_cast<long long>(hits.size()),
               qPrintable(name), T::staticMetaObject.className());
    }
    return hits.front();
}

template <class T = QObject> T* Find(const QObject& root, const QString& name)
{
    return Find<T>(&root, name);
}

} // namespace Ui
