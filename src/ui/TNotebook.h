#pragma once

#include <QStackedWidget>
#include <QStringList>

// Pages with captions; a separate tab strip (TTabSet) shows the captions.
class TNotebook : public QStackedWidget {
    Q_OBJECT
public:
    using QStackedWidget::QStackedWidget;

    // A new empty page at the end.
    QWidget* AddPage(const QString& caption);
    void InsertPage(int index, QWidget* page, const QString& caption);
    QString PageCaption(int index) const;
    void SetPageCaption(int index, const QString& caption);
    QStringList PageCaptions() const;
    int PageCount() const { return count(); }
};
