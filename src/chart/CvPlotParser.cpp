#include "CvPlotParser.h"

#include <charconv>
#include <cmath>

namespace {

inline bool IsSeparator(char16_t c)
{
    return c == u',' || c == u';' || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The next token at or after `at`; empty when the line is done.
inline QStringView NextToken(QStringView line, qsizetype& at)
{
    const qsizetype n = line.size();
    const char16_t* p = line.utf16();
    while (at < n && IsSeparator(p[at])) ++at;
    const qsizetype start = at;
    while (at < n && !IsSeparator(p[at])) ++at;
    return line.sliced(start, at - start);
}

} // namespace

bool TCvPlotParser::ReadNumber(QStringView token, double* value, bool* finite)
{
    // Long enough for any number a device prints; a longer token is no number of ours.
    constexpr qsizetype kMaxChars = 64;
    const qsizetype n = token.size();
    if (n == 0 || n > kMaxChars) return false;
    char buf[kMaxChars];
    const char16_t* p = token.utf16();
    qsizetype start = 0;
    // from_chars takes no plus sign; it is allowed before a number here.
    if (p[0] == u'+') {
        if (n == 1 || p[1] == u'-' || p[1] == u'+') return false;
        start = 1;
    }
    for (qsizetype i = start; i < n; ++i) {
        if (p[i] >= 0x80) return false;
        buf[i - start] = char(p[i]);
    }
    const char* first = buf;
    const char* last = buf + (n - start);
    double v = 0;
    const auto [end, ec] = std::from_chars(first, last, v, std::chars_format::general);
    // A number out of range is no number to plot either.
    if (ec != std::errc() || end != last) return false;
    *value = v;
    *finite = std::isfinite(v);
    return true;
}

void TCvPlotParser::Reset()
{
    FNames.clear();
    FPlain.clear();
    FLastLabel = -1;
    FOverflow = 0;
}

int TCvPlotParser::ChannelOf(QStringView name)
{
    // Lines mostly repeat their labels in the same order: try the one after the last first.
    const int n = int(FNames.size());
    const int guess = FLastLabel + 1;
    if (guess < n && QStringView(FNames.at(guess)) == name) return FLastLabel = guess;
    for (int i = 0; i < n; ++i)
        if (QStringView(FNames.at(i)) == name) return FLastLabel = i;
    if (n >= kMaxChannels) return -1;
    FNames.append(name.toString());
    return FLastLabel = n;
}

int TCvPlotParser::PlainChannel(int position)
{
    if (position < int(FPlain.size()) && FPlain[std::size_t(position)] >= 0)
        return FPlain[std::size_t(position)];
    if (position >= int(FPlain.size())) FPlain.resize(std::size_t(position) + 1, -1);
    const int saved = FLastLabel;
    const int channel = ChannelOf(QString::number(position + 1));
    FLastLabel = saved;
    FPlain[std::size_t(position)] = channel;
    return channel;
}

int TCvPlotParser::Parse(QStringView line, std::vector<TCvPlotValue>& out)
{
    out.clear();
    FLastLabel = -1;
    int position = 0;
    qsizetype at = 0;
    for (;;) {
        QStringView token = NextToken(line, at);
        if (token.isEmpty()) break;
        qsizetype mark = -1;
        for (qsizetype i = 0; i < token.size(); ++i)
            if (token[i] == u':' || token[i] == u'=') {
                mark = i;
                break;
            }
        double v = 0;
        bool finite = false;
        if (mark > 0) {
            const QStringView label = token.first(mark);
            QStringView value = token.sliced(mark + 1);
            if (value.isEmpty()) {
                // "temp: 23.5": the value is the next token, if that is a number.
                qsizetype next = at;
                const QStringView following = NextToken(line, next);
                if (!ReadNumber(following, &v, &finite)) continue;
                at = next;
            } else if (!ReadNumber(value, &v, &finite)) {
                continue;
            }
            if (!finite) continue;
            const int channel = ChannelOf(label);
            if (channel < 0) {
                ++FOverflow;
                continue;
            }
            out.push_back({channel, v});
            continue;
        }
        // ":5" has no label: it counts as a plain number.
        if (mark == 0) token = token.sliced(1);
        if (!ReadNumber(token, &v, &finite)) continue;
        const int pos = position++;
        if (!finite) continue;
        const int channel = PlainChannel(pos);
        if (channel < 0) {
            ++FOverflow;
            continue;
        }
        out.push_back({channel, v});
    }
    return int(out.size());
}
