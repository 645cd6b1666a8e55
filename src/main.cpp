#include "TSplitViewForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("CORVANE 科万串口终端"));
    TSplitViewForm form;
    form.show();
    return app.exec();
}
