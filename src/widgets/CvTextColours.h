#pragma once

// The colours a device asks for with escape sequences, as painted on a view: the log view
// and the console share them, so a colour reads the same in both.

#include "CvTextStyle.h"

#include <QColor>
#include <QHash>

// Contrast ratio of two colours as the WCAG defines it (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);

// Colours of styled text on one view's text and background colours. The 16 named colours
// come from a set made for light or for dark backgrounds, by the view's background; every
// foreground (the 256-colour and 24-bit ones too) is lifted until it reads at kMinContrast
// on the background it is painted on, so no device colour vanishes on any theme.
class TCvTextColours {
public:
    explicit TCvTextColours(const QColor& text = QColor(Qt::black),
                            const QColor& background = QColor(Qt::white));

    QColor Text() const { return FText; }
    QColor Background() const { return FBackground; }
    bool Dark() const { return FDark; }

    struct TPaint {
        QColor Foreground;
        QColor Background;
        bool FillBackground = false; // the cells have a background of their own
    };
    // What a run in this style looks like: inverse, faint and the contrast floor applied.
    TPaint Resolve(TCvTextStyle style) const;

    // A palette entry (0-15 the named colours of this view, 16-255 the xterm cube and greys).
    QColor PaletteColour(int index) const;
    // The 16 named colours as foregrounds on this background.
    QColor Named(int index) const { return QColor::fromRgb(FNamed[index & 15]); }

    static constexpr double kMinContrast = 3.0;

private:
    QColor ColourOf(quint32 colour, const QColor& fallback, bool background) const;

    QColor FText;
    QColor FBackground;
    bool FDark = false;
    QRgb FNamed[16];
    mutable QHash<quint64, TPaint> FCache;
};
