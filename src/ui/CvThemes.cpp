#include "CvThemes.h"

using namespace Qt::Literals::StringLiterals;

namespace {

struct TThemeColors {
    const char16_t* name;
    bool dark;
    QRgb window, windowText, base, text, button, buttonText, highlight, highlightedText;
};

// Every foreground/background pair here reads at 4.5:1 or better (checked by the tests).
constexpr TThemeColors kThemes[] = {
    {u"Paper Light", false, 0xF4F1EA, 0x2B2B2B, 0xFFFFFF, 0x1E1E1E, 0xE6E1D6, 0x2B2B2B, 0x2F5F94, 0xFFFFFF},
    {u"Sand Light", false, 0xEFE4CF, 0x3B2F1E, 0xFBF6EC, 0x2E2414, 0xE2D3B5, 0x3B2F1E, 0x7A4E12, 0xFFFFFF},
    {u"Mint Light", false, 0xE3F2EA, 0x163A2B, 0xF7FCF9, 0x0F2E21, 0xCFE8DA, 0x163A2B, 0x1A6B47, 0xFFFFFF},
    {u"Sky Light", false, 0xE4EEF8, 0x14304D, 0xFAFCFF, 0x0E2540, 0xCDDDF0, 0x14304D, 0x245A99, 0xFFFFFF},
    {u"Rose Light", false, 0xF7E6EA, 0x4A1E2A, 0xFFF8FA, 0x3A1520, 0xEDCFD7, 0x4A1E2A, 0x983150, 0xFFFFFF},
    {u"Lavender Light", false, 0xECE8F6, 0x2E2450, 0xFBFAFF, 0x221A40, 0xDCD5EE, 0x2E2450, 0x54409E,
     0xFFFFFF},
    {u"Silver Light", false, 0xE6E8EB, 0x202428, 0xFFFFFF, 0x15181B, 0xD5D9DE, 0x202428, 0x44546A, 0xFFFFFF},
    {u"Graphite Dark", true, 0x2B2D30, 0xE4E6E8, 0x1E1F22, 0xE8EAED, 0x3A3D41, 0xE4E6E8, 0x3B67B0, 0xFFFFFF},
    {u"Midnight Dark", true, 0x141B2D, 0xD6E0F5, 0x0D1322, 0xE1E8F7, 0x1F2940, 0xD6E0F5, 0x3563C4, 0xFFFFFF},
    {u"Forest Dark", true, 0x1C2A22, 0xD5EAD9, 0x132019, 0xDFF0E3, 0x27392E, 0xD5EAD9, 0x2F7A4D, 0xFFFFFF},
    {u"Espresso Dark", true, 0x2E241F, 0xEDE0D4, 0x221A16, 0xF2E7DC, 0x3D302A, 0xEDE0D4, 0x94592A, 0xFFFFFF},
    {u"Slate Dark", true, 0x303841, 0xDDE3E9, 0x232A31, 0xE6EBF0, 0x3C4651, 0xDDE3E9, 0x3F6F96, 0xFFFFFF},
    {u"Ocean Dark", true, 0x0F2A33, 0xCFEFF5, 0x0A1F26, 0xDAF4F8, 0x173A45, 0xCFEFF5, 0x1A6A7D, 0xFFFFFF},
    {u"Plum Dark", true, 0x2A1D2E, 0xEDDDF0, 0x1F1522, 0xF3E6F5, 0x3A2940, 0xEDDDF0, 0x7E4590, 0xFFFFFF},
    {u"High Contrast Dark", true, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF, 0x1A1A1A, 0xFFFFFF, 0xFFD400,
     0x000000},
};

QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t),
                            float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}

QPalette MakePalette(const TThemeColors& c)
{
    const QColor window(c.window), windowText(c.windowText), base(c.base), text(c.text), button(c.button),
        buttonText(c.buttonText), highlight(c.highlight), highlightedText(c.highlightedText);
    QPalette p(buttonText, button, Mix(button, QColor(Qt::white), 0.35), Mix(button, QColor(Qt::black), 0.35),
               Mix(button, QColor(Qt::black), 0.15), text, QColor(c.dark ? Qt::white : Qt::black), base,
               window);
    p.setColor(QPalette::WindowText, windowText);
    p.setColor(QPalette::AlternateBase, Mix(base, window, 0.5));
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, windowText);
    p.setColor(QPalette::PlaceholderText, Mix(text, base, 0.45));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, highlightedText);
    p.setColor(QPalette::Link, c.dark ? Mix(highlight, QColor(Qt::white), 0.45) : highlight);
    p.setColor(QPalette::LinkVisited,
               c.dark ? Mix(highlight, QColor(Qt::white), 0.25) : Mix(highlight, text, 0.4));
    // Disabled controls fade towards their background.
    p.setColor(QPalette::Disabled, QPalette::WindowText, Mix(windowText, window, 0.5));
    p.setColor(QPalette::Disabled, QPalette::Text, Mix(text, base, 0.5));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, Mix(buttonText, button, 0.5));
    p.setColor(QPalette::Disabled, QPalette::Highlight, Mix(highlight, window, 0.5));
    return p;
}

} // namespace

const QList<TCvTheme>& CvThemes()
{
    static const QList<TCvTheme> themes = [] {
        QList<TCvTheme> list;
        for (const TThemeColors& c : kThemes)
            list.append({QString::fromUtf16(c.name), c.dark, MakePalette(c)});
        return list;
    }();
    return themes;
}

const TCvTheme* FindCvTheme(const QString& name)
{
    for (const TCvTheme& t : CvThemes())
        if (t.Name == name) return &t;
    return nullptr;
}
