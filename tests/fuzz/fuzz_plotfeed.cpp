// Any text a device sends, as the plot gets it: the line parser keeps its limits and reads a
// line the same way twice, and the feed, given the text in pieces while nobody takes its rows
// and with a small bound on what may wait, hands up rows that are whole lines of the text in
// their order, and accounts for every line: parsed or counted as left out.
//
// Input: [bound on waiting text: 1 byte][piece sizes: 1 byte][text as UTF-8: the rest]

#include "CvPlotParser.h"
#include "TCvPlotFeed.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

using TRow = std::vector<std::pair<QString, double>>;

TRow Named(const TCvPlotParser& parser, const std::vector<TCvPlotValue>& values)
{
    TRow row;
    for (const TCvPlotValue& v : values) row.emplace_back(parser.Channels().at(v.Channel), v.Value);
    return row;
}

void CheckParse(TCvPlotParser& parser, const QString& line)
{
    std::vector<TCvPlotValue> values;
    const int n = parser.Parse(line, values);
    check(n == int(values.size()));
    check(parser.Channels().size() <= TCvPlotParser::kMaxChannels);
    for (const TCvPlotValue& v : values) {
        check(v.Channel >= 0 && v.Channel < parser.Channels().size());
        check(std::isfinite(v.Value));
    }
    // Read again, the line gives the same: no channel is made twice.
    const TRow first = Named(parser, values);
    const qsizetype channels = parser.Channels().size();
    parser.Parse(line, values);
    check(Named(parser, values) == first);
    check(parser.Channels().size() == channels);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const qsizetype bound = 1 + qsizetype(data[0]) * 4;
    const qsizetype pieceSize = 1 + data[1] % 64;
    const QString raw = QString::fromUtf8(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    // The port's filter has made every line break CR LF by the time the plot sees the text.
    QString text;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == u'\n' && (i == 0 || raw[i - 1] != u'\r')) text += u'\r';
        text += raw[i];
    }
    if (!text.endsWith(QStringLiteral("\r\n"))) text += QStringLiteral("\r\n");
    const QStringList lines = text.left(text.size() - 2).split(QStringLiteral("\r\n"));

    TCvPlotParser alone;
    for (const QString& line : lines) CheckParse(alone, line);

    TCvPlotFeed feed(nullptr, bound);
    for (qsizetype at = 0; at < text.size(); at += pieceSize) feed.TextReceived(text.mid(at, pieceSize), at);
    std::vector<TRow> rows;
    for (bool idle = false; !idle;) {
        idle = feed.WaitIdle();
        const TCvPlotBatch batch = feed.TakeBatch();
        for (qsizetype r = 0; r < batch.Rows(); ++r) {
            const quint32 from = r == 0 ? 0 : batch.RowEnds[std::size_t(r - 1)];
            TRow row;
            for (quint32 i = from; i < batch.RowEnds[std::size_t(r)]; ++i)
                row.emplace_back(batch.Channels.at(batch.Values[i].Channel), batch.Values[i].Value);
            rows.push_back(std::move(row));
        }
    }
    check(feed.CaughtUp());
    check(feed.LinesCut() + feed.DroppedLines() == lines.size());
    check(feed.DroppedLines() <= lines.size());

    // Each row is a line of the text, later than the one before: matched against the lines
    // with a parser that sees only the lines matched (as the feed's saw only those it kept).
    TCvPlotParser reference;
    qsizetype k = 0;
    for (const TRow& row : rows) {
        bool matched = false;
        for (; k < lines.size() && !matched; ++k) {
            TCvPlotParser trial = reference;
            std::vector<TCvPlotValue> values;
            trial.Parse(lines[k], values);
            if (!values.empty() && Named(trial, values) == row) {
                reference = trial;
                matched = true;
            }
        }
        check(matched);
    }
    return 0;
}
