#include "TSplitViewForm.h"

#include "CvMessages.h"
#include "CvWidgets.h"
#include "TCvChart.h"
#include "TCvComPortObj.h"
#include "TCvFindBar.h"
#include "TCvPlotPage.h"
#include "TLogMemo.h"
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
    for (const TCvComPortListEntry& e : f->CvComPortList())
        if (e.Obj && e.Obj->LogView() == Memo) return e.Obj;
    return nullptr;
}

// The open port object whose waveform the chart draws, or none.
TCvComPortObj* ChartPort(const TSplitViewForm* f)
{
    for (const TCvComPortListEntry& e : f->CvComPortList())
        if (e.Obj && e.Obj->Series() && e.Obj->Connected()) return e.Obj;
    return nullptr;
}

bool ChartPageShown(const TSplitViewForm* f)
{
    const QWidget* page = f->Notebook2->currentWidget();
    return page && f->Chart1 && page->isAncestorOf(f->Chart1);
}

} // namespace

void TSplitViewForm::CreateFindBar()
{
    auto* column = qobject_cast<QVBoxLayout*>(Panel1->layout());

    // The find bar, between the log pages and their tab strip; hidden until Ctrl+F.
    FFindBar = new TCvFindBar;
    FFindBar->SetCurrentLog([this] { return CurrentLogMemo(); });
    column->insertWidget(column->indexOf(Notebook2) + 1, FFindBar);

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

    connect(ButtonPause, &QPushButton::clicked, this, &TSplitViewForm::ButtonPauseClick);
    // Another page: a running search was for the view that is gone; the button shows the new one.
    connect(Notebook2, &QStackedWidget::currentChanged, this, [this] {
        FFindBar->CancelSearch();
        SyncPauseButton();
    });
    // A device page that goes takes its pause with it: the view starts live when it is placed again.
    connect(Notebook2, &QStackedWidget::widgetRemoved, this, [this] {
        for (const TCvComPortListEntry& e : CvComPortList()) {
            TLogMemo* memo = e.Obj ? TLogMemo::Of(e.Obj->LogView()) : nullptr;
            if (!memo || memo == Memo1 || !memo->Paused() || Notebook2->isAncestorOf(memo)) continue;
            memo->SetPaused(false);
            if (e.Obj->Series() && Chart1) Chart1->SetFrozen(false);
        }
        SyncPauseButton();
    });
}

void TSplitViewForm::ApplyFindCaptions(const QString& Lang)
{
    if (!FFindBar) return;
    const bool en = Lang == u"EN"_s;
    FFindBar->ApplyCaptions(Lang);
    ButtonPause->setText(en ? u"Pause"_s : u"暂停"_s);
    ButtonPause->setToolTip(en ? u"Freeze the view of this port; data keeps being received"_s
                               : u"冻结此端口的显示，数据照常接收"_s);
}

TLogMemo* TSplitViewForm::CurrentLogMemo() const
{
    if (const QWidget* page = Notebook2->currentWidget())
        if (auto* memo = page->findChild<TLogMemo*>()) return memo;
    return Memo1;
}

bool TSplitViewForm::FindBarKey(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !FFindBar || QApplication::activeModalWidget()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // Before the log view's own keys: Ctrl+F works while the log takes typing.
    if (key->key() == Qt::Key_F && mods == Qt::ControlModifier) {
        ShowFindBar();
        return true;
    }
    return FFindBar->BarKey(widget, key);
}

void TSplitViewForm::ButtonPauseClick()
{
    const bool on = ButtonPause->isChecked();
    // On the waveform page the pause is that of the port the chart draws.
    const bool chartPage = ChartPageShown(this);
    // A plot tab on show there: the pause is that of its port, and freezes that plot.
    TCvPlotPage* plot = chartPage && FPlotPages ? FPlotPages->ShownPage() : nullptr;
    TCvComPortObj* port = plot        ? plot->Port()
                          : chartPage ? ChartPort(this)
                                      : PortOfLogMemo(this, CurrentLogMemo());
    TLogMemo* memo = chartPage ? (port ? TLogMemo::Of(port->LogView()) : nullptr) : CurrentLogMemo();
    if (memo) memo->SetPaused(on);
    if (Chart1 && !plot && (chartPage || (port && port->Series()))) Chart1->SetFrozen(on);
    if (plot) plot->SetPaused(on);
    else if (FPlotPages) FPlotPages->SetPaused(port, on);
    SyncPauseButton();
}

void TSplitViewForm::SyncPauseButton()
{
    if (!ButtonPause) return;
    bool paused;
    if (ChartPageShown(this)) {
        const TCvPlotPage* plot = FPlotPages ? FPlotPages->ShownPage() : nullptr;
        paused = plot ? plot->Paused() : Chart1->Frozen();
    } else {
        const TLogMemo* memo = CurrentLogMemo();
        paused = memo && memo->Paused();
    }
    ButtonPause->setChecked(paused);
}
