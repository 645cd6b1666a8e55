#pragma once

// Reads the numbers of one text line into plot channels. Qt Core only: it runs on the
// plot feed's worker thread.
//
// A line is cut into tokens at commas, semicolons, blanks and tabs (CR and LF count as
// blanks). A token `label:value` or `label=value` (or `label:` followed by the value as
// the next token) gives the channel named by the label; any other token that is a number
// gives the channel of its position among the line's unlabelled numbers: "1", "2", ...
// Numbers are read in the C locale (`-1.5e-3`, `42`, `+7.`, `.5`); a token is a number
// only as a whole. nan and inf hold their position but give no value. Tokens that are no
// number (words, units) are passed over.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

struct TCvPlotValue {
    int Channel; // index into Channels()
    double Value;
};

class TCvPlotParser {
public:
    // More channels than this are not made; their values are passed over.
    static constexpr int kMaxChannels = 32;

    // Reads one line (without its line break) into `out` (cleared first), in the order
    // of the line. Returns how many values it found; 0 = the line has no number.
    int Parse(QStringView line, std::vector<TCvPlotValue>& out);

    // The names of the channels seen so far, in the order they first appeared.
    const QStringList& Channels() const { return FNames; }
    // Forgets every channel.
    void Reset();
    // Values passed over because kMaxChannels were already made.
    qint64 Overflow() const { return FOverflow; }

    // A whole token read as a C-locale number; false for anything else. nan and inf are
    // read (so they keep their place) and *finite says whether the value can be plotted.
    static bool ReadNumber(QStringView token, double* value, bool* finite);

private:
    int ChannelOf(QStringView name);
    int PlainChannel(int position);

    QStringList FNames;
    // Channel index of the n-th unlabelled number (-1: not made yet).
    std::vector<int> FPlain;
    // Where the last label was found: the next label is most often the one after it.
    int FLastLabel = -1;
    qint64 FOverflow = 0;
};
