#include "TNotebook.h"

// The caption lives on the page itself, so pages inserted or removed by any code keep
// their captions in step with the page list.
static const char* const kCaption = "corvanePageCaption";

QWidget* TNotebook::AddPage(const QString& caption)
{
    auto* page = new QWidget;
    InsertPage(count(), page, caption);
    return page;
}

void TNotebook::InsertPage(int index, QWidget* page, const QString& caption)
{
    page->setProperty(kCaption, caption);
    insertWidget(index, page);
}

QString TNotebook::PageCaption(int index) const
{
    const QWidget* page = widget(index);
    return page ? page->property(kCaption).toString() : QString();
}

void TNotebook::SetPageCaption(int index, const QString& caption)
{
    if (QWidget* page = widget(index)) page->setProperty(kCaption, caption);
}

QStringList TNotebook::PageCaptions() const
{
    QStringList out;
    for (int i = 0; i < count(); ++i) out << PageCaption(i);
    return out;
}
