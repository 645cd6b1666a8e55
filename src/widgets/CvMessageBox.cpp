#include "CvMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace {
TInformationPresenter& Presenter()
{
    static TInformationPresenter p;
    return p;
}
} // namespace

void ShowInformation(const QString& caption, const QString& text)
{
    if (Presenter()) {
        Presenter()(caption, text);
        return;
    }
    QMessageBox::information(QApplication::activeWindow(), caption, text);
}

TInformationPresenter SetInformationPresenter(TInformationPresenter presenter)
{
    TInformationPresenter old = Presenter();
    Presenter() = std::move(presenter);
    return old;
}
