#include "TSplitViewForm.h"

#include "CvCodecs.h"
#include "CvLanguage.h"
#include "TCvComPortObj.h"

#include <QComboBox>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

// The device refresh and the settings panel's binding to a port object arrive with
// the device work; start-up and shutdown need the parts below.

void TSplitViewForm::Button4Click() { ComboBoxEx1Change(); }

void TSplitViewForm::ComboBoxEx1Change()
{
    if (ComboBoxEx1->count() == 0 || ComboBoxEx1->currentText() == u"None"_s) {
        Button2->setText(GetLangCaption(u"OPRATION_OPEN"_s, UILanguage));
        return;
    }
    if (ComboBoxEx1->currentIndex() < 0) ComboBoxEx1->setCurrentIndex(0);
    MultiComportProcess(ComboBoxEx1->currentText());
}

void TSplitViewForm::MultiComportProcess(const QString&) {}

QString TSplitViewForm::GetCurrentDeviceName() const
{
    return ComboBoxEx1->currentIndex() < 0 ? QString() : ComboBoxEx1->currentText();
}

TCvComPortObj* TSplitViewForm::GetDeciceByFullName(const QString& DeviceName) const
{
    if (DeviceName.isEmpty()) return nullptr;
    for (const TCvComPortListEntry& e : CvComPortList)
        if (e.Name.compare(DeviceName, Qt::CaseInsensitive) == 0) return e.Obj;
    return nullptr;
}

void TSplitViewForm::MultiComPortSaveLog()
{
    for (const TCvComPortListEntry& e : std::as_const(CvComPortList)) {
        if (!e.Obj) continue;
        if (e.Obj->Connected())
            e.Obj->SaveLog(CorvaneCfgDir_LogFileName + u'_' + SafeFileNamePart(e.Obj->Port()) + u".log"_s);
        e.Obj->Close();
        delete e.Obj;
    }
    CvComPortList.clear();
}

void TSplitViewForm::OpenComDevice(const QString&) {}
void TSplitViewForm::CloseComDevice(const QString&) {}
void TSplitViewForm::UpdateCvComPortObjAtrribute() {}
void TSplitViewForm::UpdateCvComPortObjAtrribute2(TCvComPortObj*) {}
void TSplitViewForm::CvComPortObjCallBack(int) {}
void TSplitViewForm::StatusBarPrintFileSize() {}
