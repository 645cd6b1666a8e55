#pragma once

// How a stretch of received text looks: its colours and attributes, as a device set them
// with escape sequences. Shared by the escape filter, the log model and the views.

#include <QString>
#include <QtGlobal>

#include <algorithm>
#include <vector>

// Colours and attributes packed in 64 bits; 0 is the plain look (the view's own colours).
// A colour is 26 bits: its kind (default, one of the 256 palette entries, 24-bit RGB) and value.
class TCvTextStyle {
public:
    enum TColourKind : quint32 { kDefaultColour = 0, kPaletteColour = 1, kRgbColour = 2 };
    enum TFlag : quint64 {
        Bold = quint64(1) << 52,
        Faint = quint64(1) << 53,
        Italic = quint64(1) << 54,
        Underline = quint64(1) << 55,
        Inverse = quint64(1) << 56,
        Strike = quint64(1) << 57,
    };
    static constexpr quint64 kFlags = Bold | Faint | Italic | Underline | Inverse | Strike;

    constexpr TCvTextStyle() = default;
    constexpr explicit TCvTextStyle(quint64 bits) : FBits(bits) {}
    constexpr quint64 Bits() const { return FBits; }
    constexpr bool IsPlain() const { return FBits == 0; }

    // A colour value: kind in bits 24-25, palette index or 0xRRGGBB below.
    static constexpr quint32 Palette(int index)
    {
        return (quint32(kPaletteColour) << 24) | quint32(index & 0xFF);
    }
    static constexpr quint32 Rgb(int r, int g, int b)
    {
        return (quint32(kRgbColour) << 24) | (quint32(r & 0xFF) << 16) | (quint32(g & 0xFF) << 8) |
               quint32(b & 0xFF);
    }
    static constexpr TColourKind KindOf(quint32 colour) { return TColourKind((colour >> 24) & 3); }
    static constexpr quint32 ValueOf(quint32 colour) { return colour & 0xFFFFFF; }

    constexpr quint32 Foreground() const { return quint32(FBits & kColourMask); }
    constexpr quint32 Background() const { return quint32((FBits >> 26) & kColourMask); }
    constexpr bool Has(TFlag f) const { return (FBits & f) != 0; }

    constexpr void SetForeground(quint32 c) { FBits = (FBits & ~kColourMask) | (c & kColourMask); }
    constexpr void SetBackground(quint32 c)
    {
        FBits = (FBits & ~(kColourMask << 26)) | (quint64(c & kColourMask) << 26);
    }
    constexpr void Set(TFlag f, bool on) { FBits = on ? (FBits | f) : (FBits & ~quint64(f)); }

    friend constexpr bool operator==(TCvTextStyle a, TCvTextStyle b) { return a.FBits == b.FBits; }
    friend constexpr bool operator!=(TCvTextStyle a, TCvTextStyle b) { return a.FBits != b.FBits; }

private:
    static constexpr quint64 kColourMask = (quint64(1) << 26) - 1;
    quint64 FBits = 0;
};

// Length characters (UTF-16 units) from Start of a text, in Style. Text between runs is plain.
struct TCvStyleRun {
    quint32 Start = 0;
    quint32 Length = 0;
    quint64 Style = 0;

    friend bool operator==(const TCvStyleRun& a, const TCvStyleRun& b)
    {
        return a.Start == b.Start && a.Length == b.Length && a.Style == b.Style;
    }
};
using TCvStyleRuns = std::vector<TCvStyleRun>;

// The runs over [from, from + length) of a text, counted from `from`: those of a piece cut
// out of it (a line split off, a trimmed line).
inline TCvStyleRuns SliceRuns(const TCvStyleRuns& runs, qsizetype from, qsizetype length)
{
    TCvStyleRuns out;
    const qsizetype to = from + length;
    for (const TCvStyleRun& r : runs) {
        const qsizetype b = std::max<qsizetype>(r.Start, from);
        const qsizetype e = std::min<qsizetype>(qsizetype(r.Start) + r.Length, to);
        if (e > b) out.push_back({quint32(b - from), quint32(e - b), r.Style});
    }
    return out;
}

// Text with its runs, in order and not overlapping.
struct TCvStyledText {
    QString Text;
    TCvStyleRuns Runs;

    void Clear()
    {
        Text.clear();
        Runs.clear();
    }
    // Appends text in one style; a run that continues the last one with the same style extends it.
    void Append(QStringView text, TCvTextStyle style)
    {
        if (text.isEmpty()) return;
        const auto at = quint32(Text.size());
        Text.append(text);
        if (style.IsPlain()) return;
        if (!Runs.empty() && Runs.back().Style == style.Bits() &&
            Runs.back().Start + Runs.back().Length == at)
            Runs.back().Length += quint32(text.size());
        else Runs.push_back({at, quint32(text.size()), style.Bits()});
    }
};
