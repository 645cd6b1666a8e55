#pragma once

#include <QColor>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The dialogs of the chart page and the spreadsheet window. Each one can be replaced
// (tests install their own) so that nothing modal blocks a headless run.

// A file name to save to; empty when the user cancels.
using TSaveFileNamePrompt = std::function<QString(QWidget* parent, const QString& caption,
                                                  const QString& filter, const QString& suggested)>;
QString PromptSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                           const QString& suggested = QString());
// Returns the previous prompt; an empty function restores the default (QFileDialog).
TSaveFileNamePrompt SetSaveFileNamePrompt(TSaveFileNamePrompt prompt);

// A colour chosen in the fully opened colour dialog; nothing when the user cancels.
using TColorPrompt = std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)>;
std::optional<QColor> PromptColor(QWidget* parent, const QColor& initial);
TColorPrompt SetColorPrompt(TColorPrompt prompt);

// Asked when a window with unsaved cells closes.
enum class TSaveChangesAnswer { Save, Discard, Cancel };
using TSaveChangesPrompt = std::function<TSaveChangesAnswer(QWidget* parent, const QString& bookName)>;
TSaveChangesAnswer PromptSaveChanges(QWidget* parent, const QString& bookName);
TSaveChangesPrompt SetSaveChangesPrompt(TSaveChangesPrompt prompt);
