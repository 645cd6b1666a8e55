#pragma once

#include <QString>

#include <functional>

// The input box of the window (caption, prompt, default text); cancelling yields the
// default. Tests replace the presenter so that nothing modal blocks a headless run.
using TInputBoxPresenter =
    std::function<QString(const QString& caption, const QString& prompt, const QString& value)>;
QString InputBox(const QString& caption, const QString& prompt, const QString& value);
// Returns the previous presenter; an empty function restores the default (QInputDialog).
TInputBoxPresenter SetInputBoxPresenter(TInputBoxPresenter presenter);
