#pragma once

#include <QStringList>
#include <QTabBar>

// A tab strip under a notebook.
class TTabSet : public QTabBar {
    Q_OBJECT
public:
    explicit TTabSet(QWidget* parent = nullptr);

    // Replaces the tabs and selects the first, without raising currentChanged.
    void AssignTabs(const QStringList& captions);
    QStringList Tabs() const;
    // Selects a tab without raising currentChanged.
    void SelectQuietly(int index);
};
