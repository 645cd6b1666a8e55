#include "TCvAnsiFilter.h"

#include <algorithm>

namespace {

constexpr char16_t kEsc = 0x1B;
constexpr char16_t kBel = 0x07;

bool IsStringIntroducer(char16_t c)
{
    // OSC, DCS, SOS, PM, APC: strings that end with ST (ESC \) or, in practice, BEL.
    return c == u']' || c == u'P' || c == u'X' || c == u'^' || c == u'_';
}

} // namespace

QString AnsiModeName(TAnsiMode m)
{
    switch (m) {
    case TAnsiMode::Remove: return QStringLiteral("Remove");
    case TAnsiMode::Show: return QStringLiteral("Show");
    case TAnsiMode::Colours: break;
    }
    return QStringLiteral("Colours");
}

bool AnsiModeFromName(const QString& name, TAnsiMode* m)
{
    const QString n = name.trimmed();
    for (const TAnsiMode k : {TAnsiMode::Colours, TAnsiMode::Remove, TAnsiMode::Show})
        if (n.compare(AnsiModeName(k), Qt::CaseInsensitive) == 0) {
            *m = k;
            return true;
        }
    return false;
}

TCvAnsiFilter::TCvAnsiFilter(TAnsiMode mode) : FMode(mode) {}

void TCvAnsiFilter::SetMode(TAnsiMode mode, TCvStyledText* out)
{
    if (out) Flush(*out);
    Reset();
    FMode = mode;
}

void TCvAnsiFilter::Reset()
{
    FState = Ground;
    FSeq.clear();
    FStyle = TCvTextStyle();
}

void TCvAnsiFilter::Flush(TCvStyledText& out)
{
    if (FState != Ground) GiveUp(out);
}

void TCvAnsiFilter::Feed(QStringView in, TCvStyledText& out)
{
    const qsizetype n = in.size();
    qsizetype i = 0;
    // The text out is never longer than the text in: one allocation, not a growth per piece.
    out.Text.reserve(out.Text.size() + n);
    if (FMode == TAnsiMode::Show) {
        // Nothing is interpreted: the escape character is made visible, the rest stays.
        while (i < n) {
            qsizetype e = in.indexOf(QChar(kEsc), i);
            if (e < 0) e = n;
            out.Append(in.sliced(i, e - i), TCvTextStyle());
            if (e == n) break;
            out.Text.append(QChar(kEscapeShown));
            i = e + 1;
        }
        return;
    }
    const char16_t* p = in.utf16();
    while (i < n) {
        if (FState != Ground) {
            // A character the sequence cannot take is read again as text.
            if (Step(p[i], out)) ++i;
            continue;
        }
        // Plain text up to the next escape goes out in one piece (indexOf is vectorised).
        qsizetype e = in.indexOf(QChar(kEsc), i);
        if (e < 0) e = n;
        out.Append(in.sliced(i, e - i), FStyle);
        if (e == n) break;
        FSeq.assign(1, kEsc);
        FState = Esc;
        i = e + 1;
    }
}

bool TCvAnsiFilter::Step(char16_t c, TCvStyledText& out)
{
    switch (FState) {
    case Ground: return false;
    case Esc:
        if (c == u'[') {
            FState = Csi;
            FCsiPlain = true;
            FSeq += c;
            return true;
        }
        if (IsStringIntroducer(c)) {
            FState = Str;
            FSeq += c;
            return true;
        }
        if (c >= 0x20 && c <= 0x2F) {
            // ESC ( B and the like: a character set is designated.
            FState = EscInter;
            FSeq += c;
            return true;
        }
        if (c >= 0x30 && c <= 0x7E) {
            // ESC 7, ESC =, ESC M, ESC c ...
            Done();
            return true;
        }
        break;
    case EscInter:
        if (c >= 0x20 && c <= 0x2F && FSeq.size() < kMaxCsi) {
            FSeq += c;
            return true;
        }
        if (c >= 0x30 && c <= 0x7E) {
            Done();
            return true;
        }
        break;
    case Csi:
        if (c >= 0x40 && c <= 0x7E) {
            if (c == u'm' && FCsiPlain && FMode == TAnsiMode::Colours) ApplySgr();
            Done();
            return true;
        }
        if (c >= 0x20 && c <= 0x3F && FSeq.size() < kMaxCsi) {
            // Intermediates and the private markers < = > ? make it something other than SGR.
            if (c < 0x30 || c >= 0x3C) FCsiPlain = false;
            FSeq += c;
            return true;
        }
        break;
    case Str:
        if (c == kBel) {
            Done();
            return true;
        }
        if (c == kEsc) {
            FState = StrEsc;
            FSeq += c;
            return true;
        }
        // A line break or another control inside a title means the string was never ended.
        if (c >= 0x20 && FSeq.size() < kMaxString) {
            FSeq += c;
            return true;
        }
        break;
    case StrEsc:
        if (c == u'\\') {
            Done();
            return true;
        }
        // No ST: the string is shown, and its escape begins a new sequence.
        FSeq.pop_back();
        GiveUp(out);
        FSeq.assign(1, kEsc);
        FState = Esc;
        return Step(c, out);
    }
    GiveUp(out);
    return false;
}

void TCvAnsiFilter::GiveUp(TCvStyledText& out)
{
    std::replace(FSeq.begin(), FSeq.end(), kEsc, kEscapeShown);
    out.Append(QStringView(FSeq.data(), qsizetype(FSeq.size())), FStyle);
    FSeq.clear();
    FState = Ground;
}

void TCvAnsiFilter::Done()
{
    FSeq.clear();
    FState = Ground;
}

void TCvAnsiFilter::ApplySgr()
{
    // Parameters after "ESC [": numbers split by ';', sub-parameters by ':'. A missing
    // number reads as 0 (so "ESC [ m" resets).
    constexpr int kMax = kMaxCsi;
    int v[kMax];
    bool sub[kMax]; // a ':' follows: the next number belongs to this one
    int n = 0;
    int cur = 0;
    for (std::size_t k = 2; k < FSeq.size() && n < kMax; ++k) {
        const char16_t c = FSeq[k];
        if (c >= u'0' && c <= u'9') {
            cur = std::min(cur * 10 + int(c - u'0'), 99999);
        } else {
            v[n] = cur;
            sub[n++] = c == u':';
            cur = 0;
        }
    }
    if (n < kMax) {
        v[n] = cur;
        sub[n++] = false;
    }
    const auto byte = [](int x) { return std::clamp(x, 0, 255); };
    // 38/48/58 with sub-parameters: "38:5:n", "38:2:r:g:b" or "38:2:cs:r:g:b".
    const auto colonColour = [&](int from, int to, quint32* colour) {
        const int count = to - from;
        if (count >= 2 && v[from] == 5) *colour = TCvTextStyle::Palette(byte(v[from + 1]));
        else if (count >= 4 && v[from] == 2)
            *colour = TCvTextStyle::Rgb(byte(v[to - 3]), byte(v[to - 2]), byte(v[to - 1]));
        else return false;
        return true;
    };
    TCvTextStyle& s = FStyle;
    for (int k = 0; k < n;) {
        const int p = v[k];
        int g = k;
        while (g + 1 < n && sub[g]) ++g;
        if (g > k) {
            // A parameter with sub-parameters takes them all, whatever they hold.
            quint32 colour = 0;
            if (p == 4) s.Set(TCvTextStyle::Underline, v[k + 1] != 0);
            else if (p == 38 && colonColour(k + 1, g + 1, &colour)) s.SetForeground(colour);
            else if (p == 48 && colonColour(k + 1, g + 1, &colour)) s.SetBackground(colour);
            k = g + 1;
            continue;
        }
        if (p == 38 || p == 48 || p == 58) {
            // "38;5;n" and "38;2;r;g;b"; anything else leaves the rest unreadable.
            quint32 colour = 0;
            int used = 0;
            if (k + 2 < n && v[k + 1] == 5) {
                colour = TCvTextStyle::Palette(byte(v[k + 2]));
                used = 3;
            } else if (k + 4 < n && v[k + 1] == 2) {
                colour = TCvTextStyle::Rgb(byte(v[k + 2]), byte(v[k + 3]), byte(v[k + 4]));
                used = 5;
            } else {
                return;
            }
            if (p == 38) s.SetForeground(colour);
            else if (p == 48) s.SetBackground(colour);
            k += used;
            continue;
        }
        switch (p) {
        case 0: s = TCvTextStyle(); break;
        case 1: s.Set(TCvTextStyle::Bold, true); break;
        case 2: s.Set(TCvTextStyle::Faint, true); break;
        case 3: s.Set(TCvTextStyle::Italic, true); break;
        case 4:
        case 21: s.Set(TCvTextStyle::Underline, true); break;
        case 7: s.Set(TCvTextStyle::Inverse, true); break;
        case 9: s.Set(TCvTextStyle::Strike, true); break;
        case 22:
            s.Set(TCvTextStyle::Bold, false);
            s.Set(TCvTextStyle::Faint, false);
            break;
        case 23: s.Set(TCvTextStyle::Italic, false); break;
        case 24: s.Set(TCvTextStyle::Underline, false); break;
        case 27: s.Set(TCvTextStyle::Inverse, false); break;
        case 29: s.Set(TCvTextStyle::Strike, false); break;
        case 39: s.SetForeground(0); break;
        case 49: s.SetBackground(0); break;
        default:
            if (p >= 30 && p <= 37) s.SetForeground(TCvTextStyle::Palette(p - 30));
            else if (p >= 40 && p <= 47) s.SetBackground(TCvTextStyle::Palette(p - 40));
            else if (p >= 90 && p <= 97) s.SetForeground(TCvTextStyle::Palette(p - 90 + 8));
            else if (p >= 100 && p <= 107) s.SetBackground(TCvTextStyle::Palette(p - 100 + 8));
            // Blink, conceal, fonts and the rest are not shown.
            break;
        }
        ++k;
    }
}
