#pragma once

#include <QString>
#include <Qt>

// A key typed into a log view, as plain values: what the port object's prompt needs,
// without the view's event type.
struct TLogKey {
    int Key = 0;
    Qt::KeyboardModifiers Modifiers;
    QString Text;
};
