#pragma once

// Styled text written as markup for test tables: "{fg2,bold|uart:~$ }plain" is the text
// "uart:~$ plain" with a run over its first eight characters. Style words: fgN/bgN (palette
// entry N), fg#rrggbb/bg#rrggbb, bold, faint, italic, ul, inv, strike.

#include "CvTextStyle.h"

#include <QString>
#include <QStringList>

namespace Markup {

inline QString Describe(TCvTextStyle s)
{
    QStringList words;
    const auto colour = [&](const char* name, quint32 c) {
        if (TCvTextStyle::KindOf(c) == TCvTextStyle::kPaletteColour)
            words << QStringLiteral("%1%2").arg(QLatin1String(name)).arg(TCvTextStyle::ValueOf(c));
        else if (TCvTextStyle::KindOf(c) == TCvTextStyle::kRgbColour)
            words << QStringLiteral("%1#%2")
                         .arg(QLatin1String(name))
                         .arg(TCvTextStyle::ValueOf(c), 6, 16, QLatin1Char('0'));
    };
    colour("fg", s.Foreground());
    colour("bg", s.Background());
    const std::pair<TCvTextStyle::TFlag, const char*> flags[] = {
        {TCvTextStyle::Bold, "bold"},    {TCvTextStyle::Faint, "faint"}, {TCvTextStyle::Italic, "italic"},
        {TCvTextStyle::Underline, "ul"}, {TCvTextStyle::Inverse, "inv"}, {TCvTextStyle::Strike, "strike"}};
    for (const auto& [flag, name] : flags)
        if (s.Has(flag)) words << QLatin1String(name);
    return words.join(QLatin1Char(','));
}

inline QString Describe(const QString& text, const TCvStyleRuns& runs)
{
    QString out;
    qsizetype at = 0;
    for (const TCvStyleRun& r : runs) {
        out += text.mid(at, qsizetype(r.Start) - at);
        out += QLatin1Char('{') + Describe(TCvTextStyle(r.Style)) + QLatin1Char('|') +
               text.mid(r.Start, r.Length) + QLatin1Char('}');
        at = qsizetype(r.Start) + r.Length;
    }
    return out + text.mid(at);
}

inline QString Describe(const TCvStyledText& t)
{
    return Describe(t.Text, t.Runs);
}

inline TCvTextStyle ParseStyle(const QString& words)
{
    TCvTextStyle s;
    for (const QString& w : words.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const bool fg = w.startsWith(QLatin1String("fg")), bg = w.startsWith(QLatin1String("bg"));
        if (fg || bg) {
            const QString v = w.mid(2);
            const quint32 c = v.startsWith(QLatin1Char('#')) ? ((2u << 24) | v.mid(1).toUInt(nullptr, 16))
                                                             : TCvTextStyle::Palette(v.toInt());
            if (fg) s.SetForeground(c);
            else s.SetBackground(c);
        } else if (w == QLatin1String("bold")) s.Set(TCvTextStyle::Bold, true);
        else if (w == QLatin1String("faint")) s.Set(TCvTextStyle::Faint, true);
        else if (w == QLatin1String("italic")) s.Set(TCvTextStyle::Italic, true);
        else if (w == QLatin1String("ul")) s.Set(TCvTextStyle::Underline, true);
        else if (w == QLatin1String("inv")) s.Set(TCvTextStyle::Inverse, true);
        else if (w == QLatin1String("strike")) s.Set(TCvTextStyle::Strike, true);
    }
    return s;
}

inline TCvStyledText Parse(const QString& markup)
{
    TCvStyledText out;
    qsizetype at = 0;
    for (;;) {
        const qsizetype open = markup.indexOf(QLatin1Char('{'), at);
        if (open < 0) break;
        out.Text += markup.mid(at, open - at);
        const qsizetype bar = markup.indexOf(QLatin1Char('|'), open);
        const qsizetype close = markup.indexOf(QLatin1Char('}'), bar);
        out.Append(QStringView(markup).mid(bar + 1, close - bar - 1),
                   ParseStyle(markup.mid(open + 1, bar - open - 1)));
        at = close + 1;
    }
    out.Text += markup.mid(at);
    return out;
}

} // namespace Markup
