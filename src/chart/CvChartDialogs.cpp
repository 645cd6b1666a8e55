#include "CvChartDialogs.h"

#include "CvMessages.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {

TSaveFileNamePrompt& SavePrompt()
{
    static TSaveFileNamePrompt p;
    return p;
}

TColorPrompt& ColorPrompt()
{
    static TColorPrompt p;
    return p;
}

TSaveChangesPrompt& ChangesPrompt()
{
    static TSaveChangesPrompt p;
    return p;
}

} // namespace

QString PromptSaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                           const QString& suggested)
{
    if (SavePrompt()) return SavePrompt()(parent, caption, filter, suggested);
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

TSaveFileNamePrompt SetSaveFileNamePrompt(TSaveFileNamePrompt prompt)
{
    return std::exchange(SavePrompt(), std::move(prompt));
}

std::optional<QColor> PromptColor(QWidget* parent, const QColor& initial)
{
    if (ColorPrompt()) return ColorPrompt()(parent, initial);
    QColorDialog dialog(initial, parent);
    // The dialog opens fully: there is no separate "define custom colours" step on Qt.
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.selectedColor();
}

TColorPrompt SetColorPrompt(TColorPrompt prompt)
{
    return std::exchange(ColorPrompt(), std::move(prompt));
}

TSaveChangesAnswer PromptSaveChanges(QWidget* parent, const QString& bookName)
{
    if (ChangesPrompt()) return ChangesPrompt()(parent, bookName);
    const auto answer = QMessageBox::question(
        parent, QString(),
        Msg(QStringLiteral("Do you want to save the changes you made to %1?")).arg(bookName),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save) return TSaveChangesAnswer::Save;
    if (answer == QMessageBox::Discard) return TSaveChangesAnswer::Discard;
    return TSaveChangesAnswer::Cancel;
}

TSaveChangesPrompt SetSaveChangesPrompt(TSaveChangesPrompt prompt)
{
    return std::exchange(ChangesPrompt(), std::move(prompt));
}
