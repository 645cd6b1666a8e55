#include "TTabSet.h"

#include <QSignalBlocker>

TTabSet::TTabSet(QWidget* parent) : QTabBar(parent)
{
    setShape(QTabBar::RoundedSouth);
    setExpanding(false);
    setElideMode(Qt::ElideNone);
    setUsesScrollButtons(true);
    setDrawBase(true);
}

void TTabSet::AssignTabs(const QStringList& captions)
{
    const QSignalBlocker block(this);
    while (count() > captions.size()) removeTab(count() - 1);
    for (int i = 0; i < captions.size(); ++i) {
        if (i < count()) setTabText(i, captions[i]);
        else addTab(captions[i]);
    }
    setCurrentIndex(captions.isEmpty() ? -1 : 0);
}

QStringList TTabSet::Tabs() const
{
    QStringList out;
    for (int i = 0; i < count(); ++i) out << tabText(i);
    return out;
}

void TTabSet::SelectQuietly(int index)
{
    const QSignalBlocker block(this);
    setCurrentIndex(index);
}
