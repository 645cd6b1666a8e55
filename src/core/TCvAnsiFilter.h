#pragma once

// Escape sequences in a device's text (the colour codes of ESP-IDF, Zephyr, U-Boot and any
// Linux console), for a view that shows lines, not a screen.

#include "CvTextStyle.h"

#include <QString>
#include <QStringView>

#include <string>

// What the log does with escape sequences. Stored by name in the port's settings.
enum class TAnsiMode {
    Colours, // colour codes become colour runs, every other sequence is taken out
    Remove,  // every sequence is taken out, nothing is coloured
    Show,    // nothing is taken out: the escape character shows as U+241B, "␛[0;32m"
};
constexpr TAnsiMode kDefaultAnsiMode = TAnsiMode::Colours;
// "Colours", "Remove", "Show".
QString AnsiModeName(TAnsiMode m);
// Case-insensitive; false for an unknown name.
bool AnsiModeFromName(const QString& name, TAnsiMode* m);

// A streaming filter over decoded text, chunk by chunk as it is read: a sequence split
// between two chunks, at any character, is handled whole. SGR (colours and attributes)
// becomes runs over the text it applies to; every other CSI sequence (cursor moves, erase,
// modes such as bracketed paste), OSC strings (ended by BEL or ST), DCS/PM/APC strings,
// character-set designations and other two-character escapes are taken out.
// A sequence that breaks (a character that cannot belong to it) or runs past its bound is
// given up: its characters are shown as text, the escape as U+241B, and what follows is
// read as usual, so no text is ever swallowed.
class TCvAnsiFilter {
public:
    explicit TCvAnsiFilter(TAnsiMode mode = kDefaultAnsiMode);

    TAnsiMode Mode() const { return FMode; }
    // Also gives up a sequence held from the last chunk (shown, as a broken one is) and
    // forgets the colours.
    void SetMode(TAnsiMode mode, TCvStyledText* out = nullptr);

    // Appends what `in` shows to out.Text and its runs to out.Runs (positions in out.Text).
    void Feed(QStringView in, TCvStyledText& out);
    // An unfinished sequence held back is given up and shown (the stream ended or paused).
    void Flush(TCvStyledText& out);
    // Forgets a held sequence and the colours (a cleared log, a reopened port).
    void Reset();

    TCvTextStyle Style() const { return FStyle; }
    // Characters of an unfinished sequence held for the next chunk.
    qsizetype Held() const { return qsizetype(FSeq.size()); }

    // Bounds of a sequence: a CSI longer than this is broken, and so is a string
    // (OSC title, DCS) longer than kMaxString.
    static constexpr int kMaxCsi = 64;
    static constexpr int kMaxString = 4096;
    static constexpr char16_t kEscapeShown = u'\u241B';

private:
    enum TState : quint8 { Ground, Esc, EscInter, Csi, Str, StrEsc };
    // Takes one character of a sequence; false when it is not part of it (the sequence was
    // given up and the character is to be read again as text).
    bool Step(char16_t c, TCvStyledText& out);
    void GiveUp(TCvStyledText& out);
    void Done();
    void ApplySgr();

    TAnsiMode FMode;
    TState FState = Ground;
    bool FCsiPlain = true; // no private marker, no intermediates: may be SGR
    TCvTextStyle FStyle;
    std::u16string FSeq; // the sequence so far, its escape included
};
