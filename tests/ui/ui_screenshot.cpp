// Draws the main window into a PNG for the documentation:
//   ui_screenshot <zh_CN|en_US> <file.png> [theme] [left page]
// The left page is the index of the side panel's tab (0 settings, 1 preferences, ...).
// Runs against a throw-away data folder so that no real settings are read or written.

#include "TSplitView.h"
#include "TSplitViewForm.h"
#include "TTabSet.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: %s <locale> <file.png> [theme] [left page]\n", argv[0]);
        return 2;
    }
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("HOME", data.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    TSplitViewForm form{QLocale(QString::fromLatin1(argv[1]))};
    if (argc >= 4 && argv[3][0] != '\0') {
        const QString theme = QString::fromLocal8Bit(argv[3]);
        if (!form.GetStyleNames().contains(theme)) {
            std::fprintf(stderr, "no theme named %s\n", argv[3]);
            return 2;
        }
        TSplitViewForm::ApplyStyleByName(theme);
    }
    form.show();
    form.SV_L->Open();
    form.SV_R->Open();
    if (argc == 5) {
        auto* tabs = form.findChild<TTabSet*>(QStringLiteral("TabSet1"));
        const int page = QString::fromLatin1(argv[4]).toInt();
        if (!tabs || page < 0 || page >= tabs->count()) {
            std::fprintf(stderr, "no left page %s\n", argv[4]);
            return 2;
        }
        tabs->setCurrentIndex(page);
    }
    const QString file = QString::fromLocal8Bit(argv[2]);
    int rc = 1;
    QTimer::singleShot(1500, &form, [&] {
        rc = form.grab().save(file) ? 0 : 1;
        app.quit();
    });
    app.exec();
    return rc;
}
