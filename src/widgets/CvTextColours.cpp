#include "CvTextColours.h"

#include <algorithm>
#include <cmath>

namespace {

// The named colours for a light background: each reads at 4:1 or better on white.
constexpr QRgb kLightSet[16] = {0x000000, 0xC4141B, 0x18801F, 0x8A6A00, 0x1F4FC4, 0xA12DA1,
                                0x0B7A85, 0x6E6E6E, 0x555555, 0xD91F26, 0x2A8F2A, 0x8F7000,
                                0x3563D8, 0xB52FB5, 0x0E8591, 0x707070};
// For a dark background: black is lifted to grey, so "30m" text stays visible.
constexpr QRgb kDarkSet[16] = {0x8C8C8C, 0xF2545B, 0x4FC24F, 0xE0C050, 0x6A9CFF, 0xD57BD5,
                               0x3FC6CF, 0xD0D0D0, 0xA0A0A0, 0xFF7A80, 0x7CE07C, 0xF5DC7A,
                               0x94B8FF, 0xF0A0F0, 0x7FE3EA, 0xFFFFFF};
// Backgrounds the device sets are painted as xterm paints them.
constexpr QRgb kBackgroundSet[16] = {0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD,
                                     0x00CDCD, 0xE5E5E5, 0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00,
                                     0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

double Luminance(const QColor& c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t),
                            float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}

QRgb Xterm256(int index)
{
    if (index < 232) {
        // The 6x6x6 cube from 16 on.
        static constexpr int kLevels[6] = {0, 95, 135, 175, 215, 255};
        const int i = index - 16;
        return qRgb(kLevels[(i / 36) % 6], kLevels[(i / 6) % 6], kLevels[i % 6]);
    }
    const int grey = 8 + (index - 232) * 10;
    return qRgb(grey, grey, grey);
}

// Moves fg towards black or white, whichever stands out from bg, until it reads.
QColor Readable(const QColor& fg, const QColor& bg, double minimum)
{
    if (ContrastRatio(fg, bg) >= minimum) return fg;
    const QColor target = Luminance(bg) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 1; step <= 10; ++step) {
        const QColor c = Mix(fg, target, step / 10.0);
        if (ContrastRatio(c, bg) >= minimum) return c;
    }
    return target;
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b)
{
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TCvTextColours::TCvTextColours(const QColor& text, const QColor& background)
    : FText(text), FBackground(background), FDark(Luminance(background) < 0.18)
{
    std::copy(std::begin(FDark ? kDarkSet : kLightSet), std::end(FDark ? kDarkSet : kLightSet), FNamed);
}

QColor TCvTextColours::PaletteColour(int index) const
{
    index &= 0xFF;
    return index < 16 ? QColor::fromRgb(FNamed[index]) : QColor::fromRgb(Xterm256(index));
}

QColor TCvTextColours::ColourOf(quint32 colour, const QColor& fallback, bool background) const
{
    switch (TCvTextStyle::KindOf(colour)) {
    case TCvTextStyle::kPaletteColour: {
        const int index = int(TCvTextStyle::ValueOf(colour) & 0xFF);
        if (index < 16) return QColor::fromRgb(background ? kBackgroundSet[index] : FNamed[index]);
        return QColor::fromRgb(Xterm256(index));
    }
    case TCvTextStyle::kRgbColour: return QColor::fromRgb(QRgb(TCvTextStyle::ValueOf(colour)));
    default: return fallback;
    }
}

TCvTextColours::TPaint TCvTextColours::Resolve(TCvTextStyle style) const
{
    const auto hit = FCache.constFind(style.Bits());
    if (hit != FCache.constEnd()) return *hit;
    TPaint out;
    QColor fg = ColourOf(style.Foreground(), FText, false);
    QColor bg = ColourOf(style.Background(), FBackground, true);
    out.FillBackground = style.Background() != 0;
    if (style.Has(TCvTextStyle::Inverse)) {
        // A named colour turned into a background keeps its hue at background strength.
        if (TCvTextStyle::KindOf(style.Foreground()) == TCvTextStyle::kPaletteColour)
            fg = ColourOf(style.Foreground(), FText, true);
        std::swap(fg, bg);
        out.FillBackground = true;
    }
    fg = Readable(fg, bg, kMinContrast);
    if (style.Has(TCvTextStyle::Faint)) fg = Mix(fg, bg, 0.35);
    out.Foreground = fg;
    out.Background = bg;
    // A device that changes colours without end (24-bit gradients) does not grow this.
    if (FCache.size() > 4096) FCache.clear();
    FCache.insert(style.Bits(), out);
    return out;
}
