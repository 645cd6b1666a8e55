#include "TCvFindBar.h"

#include "CvSettings.h"

#include "CvMessages.h"
#include "CvWidgets.h"
#include "TLogMemo.h"
#include "TLogSearch.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

TCvFindBar::TCvFindBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(u"PanelFind"_s);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    FLabelFind = NewLabel(u"LabelFind"_s, u"查找:"_s);
    FEditFind = Named(new QLineEdit, u"EditFind"_s);
    FEditFind->setClearButtonEnabled(true);
    FEditFind->setMinimumWidth(180);
    FButtonFindPrev = NewButton(u"ButtonFindPrev"_s, u"上一个"_s);
    FButtonFindNext = NewButton(u"ButtonFindNext"_s, u"下一个"_s);
    FCheckBoxFindCase = NewCheckBox(u"CheckBoxFindCase"_s, u"区分大小写"_s, false);
    FLabelFindStatus = NewLabel(u"LabelFindStatus"_s, QString());
    FButtonFindClose = NewButton(u"ButtonFindClose"_s, u"×"_s);
    FButtonFindClose->setFlat(true);
    FButtonFindClose->setToolTip(u"Esc"_s);
    row->addWidget(FLabelFind);
    row->addWidget(FEditFind, 1);
    row->addWidget(FButtonFindPrev);
    row->addWidget(FButtonFindNext);
    row->addWidget(FCheckBoxFindCase);
    row->addWidget(FLabelFindStatus, 1);
    row->addWidget(FButtonFindClose);
    hide();

    FLogSearch = new TLogSearch(this);
    connect(FLogSearch, &TLogSearch::Found, this,
            [this](qint64 line, qint64 col, qint64 length, bool wrapped) {
                if (TLogMemo* memo = FCurrentLog()) memo->ShowMatch(line, col, length);
                const QString number = QString::number(line + 1);
                if (!wrapped) SetStatus(Msg(u"Found in line %1."_s).arg(number), false);
                else if (FLogSearch->property("forward").toBool())
                    SetStatus(Msg(u"Search wrapped past the end to the top; found in line %1."_s).arg(number),
                              false);
                else
                    SetStatus(Msg(u"Search wrapped past the top to the end; found in line %1."_s).arg(number),
                              false);
            });
    connect(FLogSearch, &TLogSearch::NotFound, this, [this] {
        TLogMemo* memo = FCurrentLog();
        if (memo && memo->HasMatch()) memo->ClearSelection();
        SetStatus(Msg(u"Not found: \"%1\""_s).arg(FEditFind->text()), true);
    });
    connect(FButtonFindNext, &QPushButton::clicked, this, [this] { Find(true); });
    connect(FButtonFindPrev, &QPushButton::clicked, this, [this] { Find(false); });
    connect(FButtonFindClose, &QPushButton::clicked, this, &TCvFindBar::CloseBar);
    connect(FEditFind, &QLineEdit::textEdited, this, [this] {
        FLogSearch->Cancel();
        SetStatus(QString(), false);
    });
}

void TCvFindBar::SetStatus(const QString& Text, bool Failure)
{
    FLabelFindStatus->setText(Text);
    FLabelFindStatus->setStyleSheet(Failure ? u"color: #c00000; font-weight: bold;"_s : QString());
}

void TCvFindBar::ApplyCaptions(const QString& Lang)
{
    const bool en = Lang == u"EN"_s;
    FLabelFind->setText(en ? u"Find:"_s : u"查找:"_s);
    FButtonFindNext->setText(en ? u"Next"_s : u"下一个"_s);
    FButtonFindPrev->setText(en ? u"Previous"_s : u"上一个"_s);
    FCheckBoxFindCase->setText(en ? u"Match case"_s : u"区分大小写"_s);
    FButtonFindNext->setToolTip(en ? u"Enter"_s : u"回车"_s);
    FButtonFindPrev->setToolTip(en ? u"Shift+Enter"_s : u"Shift+回车"_s);
}

bool TCvFindBar::MatchCase() const
{
    return FCheckBoxFindCase->isChecked();
}
void TCvFindBar::SetMatchCase(bool On)
{
    FCheckBoxFindCase->setChecked(On);
}

void TCvFindBar::ShowBar()
{
    // A selection within one line is what the user wants to find.
    TLogMemo* memo = FCurrentLog();
    qint64 l1, c1, l2, c2;
    if (memo && memo->SelectionBounds(l1, c1, l2, c2) && l1 == l2 && c2 > c1 && !memo->HasMatch())
        FEditFind->setText(memo->ShownLine(l1).mid(c1, c2 - c1));
    show();
    FEditFind->setFocus(Qt::ShortcutFocusReason);
    FEditFind->selectAll();
}

void TCvFindBar::CloseBar()
{
    FLogSearch->Cancel();
    SetStatus(QString(), false);
    hide();
    if (TLogMemo* memo = FCurrentLog()) memo->setFocus(Qt::OtherFocusReason);
}

void TCvFindBar::CancelSearch()
{
    if (!FLogSearch->Running()) return;
    FLogSearch->Cancel();
    SetStatus(QString(), false);
}

void TCvFindBar::Find(bool Forward)
{
    if (!isVisible()) show();
    const QString text = FEditFind->text();
    if (text.isEmpty()) {
        FLogSearch->Cancel();
        SetStatus(Msg(u"Type the text to find."_s), false);
        return;
    }
    TLogMemo* memo = FCurrentLog();
    if (!memo) return;
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
    SetStatus(Msg(u"Searching..."_s), false);
    // A paused view is searched as far as it shows.
    FLogSearch->Start(&memo->Model(), memo, text,
                      FCheckBoxFindCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive, Forward, line,
                      col, memo->ShownLineCount());
}

bool TCvFindBar::BarKey(QWidget* Target, const QKeyEvent* Key)
{
    if (!isVisible() || (Target != this && !isAncestorOf(Target))) return false;
    const Qt::KeyboardModifiers mods = Key->modifiers() & ~Qt::KeypadModifier;
    // Esc in the bar closes it and leaves the side panels alone.
    if (Key->key() == Qt::Key_Escape) {
        CloseBar();
        return true;
    }
    if (Target == FEditFind && (Key->key() == Qt::Key_Return || Key->key() == Qt::Key_Enter)) {
        Find(!(mods & Qt::ShiftModifier));
        return true;
    }
    return false;
}

void TCvFindBar::LoadSettings(const TCvSettings& s)
{
    SetMatchCase(s.Pref.FINDCASE);
}

void TCvFindBar::SaveSettings(TCvSettings& s) const
{
    s.Pref.FINDCASE = MatchCase();
}
