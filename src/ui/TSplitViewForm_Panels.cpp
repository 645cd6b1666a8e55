#include "TSplitViewForm.h"

#include "TCvComPortObj.h"
#include "TCvConsole.h"
#include "TCvPortConsoles.h"
#include "TLogMemo.h"
#include "TNotebook.h"
#include "TSplitView.h"
#include "TSplitterBar.h"
#include "TTabSet.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLayout>
#include <QPushButton>

void TSplitViewForm::ShowHideRLPanel(int RL)
{
    if (RL == 0) {
        SV_L->SetOpened(!SV_L->IsOpened());
    } else if (RL == 1) {
        if (SV_R->IsOpened()) {
            SV_R->Close();
            return;
        }
        if (SV_R->OpenedWidth() < 20) SV_R->SetOpenedWidth(300);
        SV_R->Open();
    }
}

bool TSplitViewForm::eventFilter(QObject* watched, QEvent* event)
{
    // Key events reach both the window handle and the widget; only the widget's count.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        watched->isWidgetType()) {
        // A console's keys are the device's (Esc and F1 for vi, Ctrl+F for the shell); with
        // Ctrl+Shift, F1 and F2 still open the side panels.
        if (qobject_cast<TCvConsole*>(watched)) return ConsoleKey(watched, event);
        return FindBarKey(watched, event) || AppMessageHook(event);
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TSplitViewForm::AppMessageHook(QEvent* event)
{
    // A modal dialog keeps its own keys (Esc closes it).
    if (QApplication::activeModalWidget()) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyRelease) return key->key() == Qt::Key_F1;
    switch (key->key()) {
    case Qt::Key_F1: ShowHideRLPanel(0); return true;
    case Qt::Key_Escape:
        if (SV_L->IsOpened() || SV_R->IsOpened()) {
            SV_L->Close();
            SV_R->Close();
        } else {
            SV_L->Open();
            SV_R->Open();
        }
        return true;
    case Qt::Key_F2: ShowHideRLPanel(1); return true;
    default: return false;
    }
}

bool TSplitViewForm::ConsoleKey(QObject* console, QEvent* event)
{
    const auto* key = static_cast<QKeyEvent*>(event);
    if (FConsoles && FConsoles->Key(console, key)) return true;
    const Qt::KeyboardModifiers m =
        key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
    if (m != (Qt::ControlModifier | Qt::ShiftModifier)) return false;
    if (key->key() != Qt::Key_F1 && key->key() != Qt::Key_F2) return false;
    return AppMessageHook(event);
}

void TSplitViewForm::SwitchTab(TTabSet* TabSet, int Index)
{
    if (Index < 0) return;
    if (TabSet == TabSet3) {
        if (Index >= Notebook3->PageCount()) return;
        Notebook3->setCurrentIndex(Index);
        TabSet3->SelectQuietly(Index);
        Splitter1Moved();
    } else if (TabSet == TabSet2) {
        if (Index >= Notebook2->PageCount()) return;
        Notebook2->setCurrentIndex(Index);
        TabSet2->SelectQuietly(Index);
        if (FPortSettings->SelectDevice(Notebook2->PageCaption(Index))) {
            MultiComportProcess(FPortSettings->CurrentDeviceText());
            SwitchTab(TabSet3, 0);
            return;
        }
        const int last = Notebook2->PageCount() - 1;
        if (Index == last) ShowHelpPage();
        else if (Index == last - 1) SwitchTab(TabSet3, FGraphicPage);
        else SwitchTab(TabSet3, 0);
    } else if (TabSet == TabSet1) {
        if (Index >= Notebook1->PageCount()) return;
        Notebook1->setCurrentIndex(Index);
        TabSet1->SelectQuietly(Index);
    }
}

void TSplitViewForm::TabSet1Change(int NewTab)
{
    SwitchTab(TabSet1, NewTab);
}
void TSplitViewForm::TabSet3Change(int NewTab)
{
    SwitchTab(TabSet3, NewTab);
}

void TSplitViewForm::TabSet2Change(int NewTab)
{
    SwitchTab(TabSet2, NewTab);
    if (FPortSettings->SelectDevice(Notebook2->PageCaption(NewTab))) {
        MultiComportProcess(FPortSettings->CurrentDeviceText());
    }
}

void TSplitViewForm::RefillTabSets()
{
    TabSet1->AssignTabs(Notebook1->PageCaptions());
    TabSet2->AssignTabs(Notebook2->PageCaptions());
    TabSet3->AssignTabs(Notebook3->PageCaptions());
    SwitchTab(TabSet1, 0);
    TabSet2Change(0);
    SwitchTab(TabSet3, 0);
}

void TSplitViewForm::SV_LClosed()
{
    TCvComPortObj* obj = GetDeciceByFullName(GetCurrentDeviceName());
    if (!obj || !obj->Connected()) return;
    // Its console while that is shown, else its log.
    if (QWidget* console = FConsoles ? FConsoles->ShownConsole(obj) : nullptr) console->setFocus();
    else if (TLogMemo* memo = TLogMemo::Of(obj->LogView())) memo->setFocus();
}

void TSplitViewForm::SV_RClosed()
{
    SV_LClosed();
    Splitter1->hide();
}

void TSplitViewForm::SV_ROpened()
{
    Splitter1->show();
    Splitter1Moved();
}

void TSplitViewForm::Splitter1Moved()
{
    // The layouts fit the buttons to the panel; the grid's content column follows the
    // loop button's width.
    if (QLayout* l = SV_R->Content()->layout()) l->activate();
    FLoopPanel->FitContentColumn();
}
