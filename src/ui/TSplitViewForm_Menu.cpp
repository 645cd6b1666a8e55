#include "TSplitViewForm.h"

#include "CvLanguage.h"
#include "CvMessageBox.h"
#include "TNotebook.h"
#include "TTabSet.h"

#include <QAction>
#include <QMenu>

using namespace Qt::Literals::StringLiterals;

namespace {
enum : int { kKeepOnTop = 1025, kVersion = 1026, kHelpSupport = 1028 };
}

void TSplitViewForm::BuildSystemMenu()
{
    SystemMenu->clear();
    SystemMenu->setSeparatorsCollapsible(false);
    SystemMenu->addSeparator()->setData(1023);
    ThemeMenu = SystemMenu->addMenu(u"Theme"_s);
    ThemeMenu->setObjectName(u"ThemeMenu"_s);
    for (const QString& name : GetStyleNames()) {
        QAction* a = ThemeMenu->addAction(name);
        connect(a, &QAction::triggered, this, [this, name] { ApplyStyleByName(name); });
    }
    SystemMenu->addSeparator()->setData(1024);
    const std::pair<int, QString> entries[] = {
        {kKeepOnTop, u"Keep At The Top Always "_s},
        {kVersion, VersionText},
    };
    for (const auto& [id, text] : entries) {
        QAction* a = SystemMenu->addAction(text);
        a->setData(id);
        connect(a, &QAction::triggered, this, [this, id = id] { WMSysCommand(id); });
    }
    SystemMenu->addSeparator()->setData(1027);
    QAction* help = SystemMenu->addAction(u"Help Support"_s);
    help->setData(int(kHelpSupport));
    connect(help, &QAction::triggered, this, [this] { WMSysCommand(kHelpSupport); });
}

void TSplitViewForm::WMSysCommand(int Id)
{
    switch (Id) {
    case kKeepOnTop: {
        // Changing the window flags hides the window; show it again where it was.
        const QRect where = geometry();
        const bool visible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setGeometry(where);
        if (visible) show();
        break;
    }
    case kVersion: ShowInformation(FApplicationTitle, FApplicationTitle + u"  "_s + VersionText); break;
    case kHelpSupport: TabSet2Change(Notebook2->PageCount() - 1); break;
    default: break;
    }
}
