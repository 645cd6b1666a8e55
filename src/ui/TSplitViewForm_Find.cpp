#include "TSplitViewForm.h"

#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvPlotPage.h"
#include "TLogMemo.h"
#include "TLogSearch.h"
#include "TNotebook.h"
#include "TTabSet.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// The port object that writes into Memo, or none.
TCvComPortObj* PortOfLogMemo(const TSplitViewForm* f, const TLogMemo* Memo)
{
    if (!Memo) return nullptr;
    if (Memo == f->Memo1) return f->Memo1Tag();
    for (const TCvComPortListEntry& e : f->CvComPortList)
        if (e.Obj && e.Obj->LogMemo() == Memo) return e.Obj;
    return nullptr;
}

// The open port object whose waveform the chart draws, or none.
TCvComPortObj* ChartPort(const TSplitViewForm* f)
{
    for (const TCvComPortListEntry& e : f->CvComPortList)
        if (e.Obj && e.Obj->Series() && e.Obj->Connected()) return e.Obj;
    return nullptr;
}

bool ChartPageShown(const TSplitViewForm* f)
{
    const QWidget* page = f->Notebook2->currentWidget();
    return page && f->Chart1 && page->isAncestorOf(f->Chart1);
}

void SetStatus(QLabel* label, const QString& text, bool failure)
{
    label->setText(text);
    label->setStyleSheet(failure ? u"color: #c00000; font-weight: bold;"_s : QString());
}

} // namespace

void TSplitViewForm::CreateFindBar()
{
    auto* column = qobject_cast<QVBoxLayout*>(Panel1->layout());

    // The find bar, between the log pages and their tab strip; hidden until Ctrl+F.
    PanelFind = Named(new QWidget, u"PanelFind"_s);
    auto* row = new QHBoxLayout(PanelFind);
    row->setContentsMargins(4, 2, 4, 2);
    LabelFind = NewLabel(u"LabelFind"_s, u"查找:"_s);
    EditFind = Named(new QLineEdit, u"EditFind"_s);
    EditFind->setClearButtonEnabled(true);
    EditFind->setMinimumWidth(180);
    ButtonFindPrev = NewButton(u"ButtonFindPrev"_s, u"上一个"_s);
    ButtonFindNext = NewButton(u"ButtonFindNext"_s, u"下一个"_s);
    CheckBoxFindCase = NewCheckBox(u"CheckBoxFindCase"_s, u"区分大小写"_s, false);
    LabelFindStatus = NewLabel(u"LabelFindStatus"_s, QString());
    ButtonFindClose = NewButton(u"ButtonFindClose"_s, u"×"_s);
    ButtonFindClose->setFlat(true);
    ButtonFindClose->setToolTip(u"Esc"_s);
    row->addWidget(LabelFind);
    row->addWidget(EditFind, 1);
    row->addWidget(ButtonFindPrev);
    row->addWidget(ButtonFindNext);
    row->addWidget(CheckBoxFindCase);
    row->addWidget(LabelFindStatus, 1);
    row->addWidget(ButtonFindClose);
    PanelFind->hide();
    column->insertWidget(column->indexOf(Notebook2) + 1, PanelFind);

    // The pause button at the end of the log pages' tab strip.
    const int at = column->indexOf(TabSet2);
    column->removeWidget(TabSet2);
    auto* strip = Named(new QWidget, u"PanelTabStrip"_s);
    auto* stripRow = new QHBoxLayout(strip);
    stripRow->setContentsMargins(0, 0, 0, 0);
    stripRow->setSpacing(0);
    stripRow->addWidget(TabSet2, 1);
    ButtonPause = NewButton(u"ButtonPause"_s, u"暂停"_s);
    ButtonPause->setCheckable(true);
    stripRow->addWidget(ButtonPause);
    column->insertWidget(at, strip);

    FLogSearch = new TLogSearch(this);
    connect(FLogSearch, &TLogSearch::Found, this, [this](qint64 line, qint64 col, qint64 length, bool wrapped) {
        TLogMemo* memo = CurrentLogMemo();
        memo->ShowMatch(line, col, length);
        const QString number = QString::number(line + 1);
        if (!wrapped)
            SetStatus(LabelFindStatus, Msg(u"Found in line %1."_s).arg(number), false);
        else if (FLogSearch->property("forward").toBool())
            SetStatus(LabelFindStatus,
                      Msg(u"Search wrapped past the end to the top; found in line %1."_s).arg(number), false);
        else
            SetStatus(LabelFindStatus,
                      Msg(u"Search wrapped past the top to the end; found in line %1."_s).arg(number), false);
    });
    connect(FLogSearch, &TLogSearch::NotFound, this, [this] {
        TLogMemo* memo = CurrentLogMemo();
        if (memo->HasMatch()) memo->ClearSelection();
        SetStatus(LabelFindStatus, Msg(u"Not found: \"%1\""_s).arg(EditFind->text()), true);
    });
    connect(ButtonFindNext, &QPushButton::clicked, this, [this] { FindInLog(true); });
    connect(ButtonFindPrev, &QPushButton::clicked, this, [this] { FindInLog(false); });
    connect(ButtonFindClose, &QPushButton::clicked, this, &TSplitViewForm::CloseFindBar);
    connect(EditFind, &QLineEdit::textEdited, this, [this] {
        FLogSearch->Cancel();
        SetStatus(LabelFindStatus, QString(), false);
    });
    connect(ButtonPause, &QPushButton::clicked, this, &TSplitViewForm::ButtonPauseClick);
    // Another page: a running search was for the view that is gone; the button shows the new one.
    connect(Notebook2, &QStackedWidget::currentChanged, this, [this] {
        if (FLogSearch->Running()) {
            FLogSearch->Cancel();
            SetStatus(LabelFindStatus, QString(), false);
        }
        SyncPauseButton();
    });
    // A device page that goes takes its pause with it: the view starts live when it is placed again.
    connect(Notebook2, &QStackedWidget::widgetRemoved, this, [this] {
        for (const TCvComPortListEntry& e : std::as_const(CvComPortList)) {
            TLogMemo* memo = e.Obj ? e.Obj->LogMemo() : nullptr;
            if (!memo || memo == Memo1 || !memo->Paused() || Notebook2->isAncestorOf(memo)) continue;
            memo->SetPaused(false);
            if (e.Obj->Series() && Chart1) Chart1->SetFrozen(false);
        }
        SyncPauseButton();
    });
}

void TSplitViewForm::ApplyFindCaptions(const QString& Lang)
{
    if (!PanelFind) return;
    const bool en = Lang == u"EN"_s;
    LabelFind->setText(en ? u"Find:"_s : u"查找:"_s);
    ButtonFindNext->setText(en ? u"Next"_s : u"下一个"_s);
    ButtonFindPrev->setText(en ? u"Previous"_s : u"上一个"_s);
    CheckBoxFindCase->setText(en ? u"Match case"_s : u"区分大小写"_s);
    ButtonPause->setText(en ? u"Pause"_s : u"暂停"_s);
    ButtonFindNext->setToolTip(en ? u"Enter"_s : u"回车"_s);
    ButtonFindPrev->setToolTip(en ? u"Shift+Enter"_s : u"Shift+回车"_s);
    ButtonPause->setToolTip(en ? u"Freeze the view of this port; data keeps being received"_s
                               : u"冻结此端口的显示，数据照常接收"_s);
}

TLogMemo* TSplitViewForm::CurrentLogMemo() const
{
    if (const QWidget* page = Notebook2->currentWidget())
        if (auto* memo = page->findChild<TLogMemo*>()) return memo;
    return Memo1;
}

void TSplitViewForm::ShowFindBar()
{
    // A selection within one line is what the user wants to find.
    TLogMemo* memo = CurrentLogMemo();
    qint64 l1, c1, l2, c2;
    if (memo->SelectionBounds(l1, c1, l2, c2) && l1 == l2 && c2 > c1 && !memo->HasMatch())
        EditFind->setText(memo->ShownLine(l1).mid(c1, c2 - c1));
    PanelFind->show();
    EditFind->setFocus(Qt::ShortcutFocusReason);
    EditFind->selectAll();
}

void TSplitViewForm::CloseFindBar()
{
    FLogSearch->Cancel();
    SetStatus(LabelFindStatus, QString(), false);
    PanelFind->hide();
    CurrentLogMemo()->setFocus(Qt::OtherFocusReason);
}

void TSplitViewForm::FindInLog(bool Forward)
{
    if (!PanelFind->isVisible()) PanelFind->show();
    const QString text = EditFind->text();
    if (text.isEmpty()) {
        FLogSearch->Cancel();
        SetStatus(LabelFindStatus, Msg(u"Type the text to find."_s), false);
        return;
    }
    TLogMemo* memo = CurrentLogMemo();
    // From the match (or selection) on; without one, from what is on screen.
    qint64 line, col, l1, c1, l2, c2;
    if (memo->SelectionBounds(l1, c1, l2, c2)) {
        line = Forward ? l2 : l1;
        col = Forward ? c2 : c1;
    } else if (Forward) {
        line = memo->FirstVisibleLine();
        col = 0;
    } else {
        line = memo->LastVisibleLine();
        col = memo->ShownLine(line).size() + 1;
    }
    FLogSearch->setProperty("forward", Forward);
    SetStatus(LabelFindStatus, Msg(u"Searching..."_s), false);
    // A paused view is searched as far as it shows.
    FLogSearch->Start(&memo->Model(), memo, text,
                      CheckBoxFindCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive, Forward, line, col,
                      memo->ShownLineCount());
}

bool TSplitViewForm::FindBarKey(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !PanelFind || QApplication::activeModalWidget()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // Before the log view's own keys: Ctrl+F works while the log takes typing.
    if (key->key() == Qt::Key_F && mods == Qt::ControlModifier) {
        ShowFindBar();
        return true;
    }
    if (!PanelFind->isVisible() || (widget != PanelFind && !PanelFind->isAncestorOf(widget))) return false;
    // Esc in the bar closes it and leaves the side panels alone.
    if (key->key() == Qt::Key_Escape) {
        CloseFindBar();
        return true;
    }
    if (widget == EditFind && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        FindInLog(!(mods & Qt::ShiftModifier));
        return true;
    }
    return false;
}

void TSplitViewForm::ButtonPauseClick()
{
    const bool on = ButtonPause->isChecked();
    // On the waveform page the pause is that of the port the chart draws.
    const bool chartPage = ChartPageShown(this);
    TCvComPortObj* port = chartPage ? ChartPort(this) : PortOfLogMemo(this, CurrentLogMemo());
    TLogMemo* memo = chartPage ? (port ? port->LogMemo() : nullptr) : CurrentLogMemo();
    if (memo) memo->SetPaused(on);
    if (Chart1 && (chartPage || (port && port->Series()))) Chart1->SetFrozen(on);
    if (FPlotPages) FPlotPages->SetPaused(port, on);
    SyncPauseButton();
}

void TSplitViewForm::SyncPauseButton()
{
    if (!ButtonPause) return;
    bool paused;
    if (ChartPageShown(this)) {
        paused = Chart1->Frozen();
    } else {
        const TLogMemo* memo = CurrentLogMemo();
        paused = memo && memo->Paused();
    }
    ButtonPause->setChecked(paused);
}
