#pragma once

#include <QString>

#include <functional>

// Information message boxes titled with the application title. Tests replace the
// presenter so that nothing modal blocks a headless run.
using TInformationPresenter = std::function<void(const QString& caption, const QString& text)>;

void ShowInformation(const QString& caption, const QString& text);
// Returns the previous presenter; an empty function restores the default (QMessageBox).
TInformationPresenter SetInformationPresenter(TInformationPresenter presenter);
