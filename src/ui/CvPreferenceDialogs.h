#pragma once

// The dialogs and the shell call of the preferences, replaceable so that tests answer them.

#include <QColor>
#include <QFont>
#include <QString>

#include <functional>

class QWidget;

// True when the user confirmed; *chosen then holds the choice.
using TFontAsker = std::function<bool(QWidget* parent, const QFont& initial, QFont* chosen)>;
using TColorAsker = std::function<bool(QWidget* parent, const QColor& initial, QColor* chosen)>;
using TFolderOpener = std::function<void(const QString& path)>;

// An empty function puts the standard dialog (or the desktop's file manager) back.
void SetFontAsker(TFontAsker asker);
void SetColorAsker(TColorAsker asker);
void SetFolderOpener(TFolderOpener opener);

bool AskFont(QWidget* parent, const QFont& initial, QFont* chosen);
bool AskColor(QWidget* parent, const QColor& initial, QColor* chosen);
void OpenFolder(const QString& path);
