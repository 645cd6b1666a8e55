#pragma once

// Colour themes of our own, drawn with the Fusion style. No widget is touched here.

#include "CvTextColours.h" // ContrastRatio

#include <QColor>
#include <QList>
#include <QPalette>
#include <QString>

struct TCvTheme {
    QString Name;
    bool Dark = false;
    QPalette Palette;
};

// In list order: the light themes, then the dark ones.
const QList<TCvTheme>& CvThemes();
// Exact name; nullptr when there is no such theme.
const TCvTheme* FindCvTheme(const QString& name);
