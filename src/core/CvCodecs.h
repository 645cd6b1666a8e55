#pragma once

// Hex text, display text, log-line prefixes and port names shared by the port
// objects and the main window. All functions are pure apart from reading the clock.

#include <QByteArray>
#include <QChar>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <memory>

class QStringDecoder;

// '0'-'9', 'A'-'F', 'a'-'f' -> 0..15; every other character (NUL included) -> 0.
int HexCharToValue(QChar ch);
quint8 HexPairToByte(QChar hi, QChar lo);

// How much of the buffer HexStrToBytes zeroes first: the port object's copy clears
// 2 * cells bytes, the main window's format/HID copy the whole buffer. Never more
// than the buffer holds.
enum class HexClear { Cells2x, Whole };

// Reads the text in 3-character cells (two hex digits, separator not looked at); a
// missing low digit reads as 0. At most bufSize bytes are stored: cells beyond the
// buffer are cut and counted in *dropped. Returns the canonical hex text ("%.02X "
// per byte, trailing space) of the bytes stored; *count gets their number.
QString HexStrToBytes(const QString& text, quint8* buffer, int bufSize, int* count = nullptr,
                      int* dropped = nullptr, HexClear clear = HexClear::Cells2x);
// Same reading with the whole buffer cleared first; returns the number of bytes stored.
int HexStrToBuffer(const QString& text, quint8* buffer, int bufSize, int* dropped = nullptr);

// Canonical hex text of n bytes: "%.02X " per byte, the last space included. The one
// byte-to-hex formatter of the program: everything that shows bytes as hex goes through it.
QString HexText(const quint8* p, qsizetype n);
// The same text written to out, which has room for 3 * n characters; returns the end.
// Inline: the display worker writes a hex line byte by byte.
inline QChar* WriteHexText(const quint8* p, qsizetype n, QChar* out)
{
    constexpr char digits[] = "0123456789ABCDEF";
    for (qsizetype k = 0; k < n; ++k) {
        *out++ = QLatin1Char(digits[p[k] >> 4]);
        *out++ = QLatin1Char(digits[p[k] & 0x0F]);
        *out++ = u' ';
    }
    return out;
}
// Appends the hex text of n bytes to s.
inline void AppendHexText(QString& s, const quint8* p, qsizetype n)
{
    if (n <= 0) return;
    const qsizetype at = s.size();
    s.resize(at + 3 * n);
    WriteHexText(p, n, s.data() + at);
}

// Strict hex byte text: pairs of hex digits, with or without separators between them
// (blanks, tabs, line breaks, commas, dashes) and an optional 0x before a pair, so
// "010300000002C40B", "01 03 00", "01,03,00" and "0x01 0x03" all read as they show.
// A digit without its partner or any other character refuses the whole text: false,
// *out untouched and *error says what and where (1-based position).
bool ParseHexText(QStringView text, QByteArray* out, QString* error = nullptr);

// How a port turns text into bytes and back. Stored by name in the port's settings.
enum class TTextEncoding { Utf8, Gb18030, Big5, ShiftJis, Latin1, Bytes };
constexpr TTextEncoding kDefaultTextEncoding = TTextEncoding::Utf8;
// "UTF-8", "GB18030", "Big5", "Shift_JIS", "ISO-8859-1", "Bytes".
QString TextEncodingName(TTextEncoding e);
// What the user reads: the names above, "Bytes" as "One character per byte".
QString TextEncodingCaption(TTextEncoding e);
// Case-insensitive; false for an unknown name.
bool TextEncodingFromName(const QString& name, TTextEncoding* e);
constexpr TTextEncoding kTextEncodings[] = {TTextEncoding::Utf8,   TTextEncoding::Gb18030,
                                            TTextEncoding::Big5,   TTextEncoding::ShiftJis,
                                            TTextEncoding::Latin1, TTextEncoding::Bytes};

// Decodes a byte stream read in pieces: a character split between two pieces comes out
// whole with the later one. Bytes that are not valid in the encoding come out as U+FFFD
// and are counted; nothing is dropped (a leading byte-order mark stays too).
class TTextDecoder {
public:
    explicit TTextDecoder(TTextEncoding e = kDefaultTextEncoding);
    ~TTextDecoder();
    TTextDecoder(const TTextDecoder&) = delete;
    TTextDecoder& operator=(const TTextDecoder&) = delete;

    TTextEncoding Encoding() const { return FEncoding; }
    // Also forgets a character begun in an earlier piece.
    void SetEncoding(TTextEncoding e);
    void Reset();
    QString Decode(const char* p, qsizetype n);
    // Replacement characters produced since the decoder was made.
    qint64 InvalidCount() const { return FInvalid; }

private:
    TTextEncoding FEncoding;
    std::unique_ptr<QStringDecoder> FDecoder;
    qint64 FInvalid = 0;
};

// Text in the encoding, nothing cut or replaced: false when a character has no bytes in
// it (a lone surrogate, or Chinese in ISO-8859-1); *badAt gets its index.
bool EncodeText(const QString& text, TTextEncoding e, QByteArray* out, qsizetype* badAt = nullptr);
// The message for a text EncodeText refused.
QString UnencodableMessage(const QString& text, qsizetype badAt, TTextEncoding e);

// Which received characters end a line.
enum class TLineBreaks { Any, CrLfOnly };
// "Any" / "CRLF" in the settings file.
QString LineBreaksName(TLineBreaks b);
bool LineBreaksFromName(const QString& name, TLineBreaks* b);

// Brings the line breaks of a stream read in pieces to CR LF, the line break of the log
// view. Any: CR LF, a lone LF and a lone CR each end one line, a CR LF split between two
// pieces still counts once. CrLfOnly: the text passes unchanged.
class TLineBreakFilter {
public:
    TLineBreaks Mode() const { return FMode; }
    void SetMode(TLineBreaks m);
    void Reset() { FPendingCr = false; }
    QString Apply(const QString& text);
    QByteArray Apply(QByteArrayView bytes);

private:
    TLineBreaks FMode = TLineBreaks::Any;
    bool FPendingCr = false;
};

// Bytes decoded in the encoding, every CR LF pair removed, trimmed of characters <= 32
// at both ends. Invalid sequences decode to replacement characters.
QString BytesToText(const quint8* p, int n, TTextEncoding e = kDefaultTextEncoding);
// Bytes decoded in the encoding, nothing removed.
QString BytesToString(const quint8* p, int n, TTextEncoding e = kDefaultTextEncoding);
// Text encoded in the system code page, no terminator.
QByteArray StringToBytes(const QString& text);

// Kind 0 "(YYYYMMDD) ", 1 "(hh:mm:ss) ", 2 "(YYYYMMDD hh:mm:ss) ", other kinds "".
QString GetTimeText(int kind, const QDateTime& at);
QString GetTimeText(int kind); // local time now; cheap, cached per second and thread
// The same with ".mmm" after the seconds when withMs: "(hh:mm:ss.mmm) ". Kind 0 has no
// time and stays as it is. Without withMs exactly the texts above.
QString GetTimeText(int kind, const QDateTime& at, bool withMs);
QString GetTimeText(int kind, bool withMs);
// The same for a moment in ms since the epoch (when bytes were read); the local time is
// worked out once per second and thread.
QString GetTimeTextAt(int kind, qint64 msSinceEpoch, bool withMs);
// At least two digits (negative -> 0), then "| ".
QString GetLineNumberText(qint64 n);
// GetLineNumberText(line) when lineNumber, then GetTimeTextAt(timeKind, msSinceEpoch,
// withMs) (none for a kind outside 0..2; now for msSinceEpoch <= 0), appended as UTF-8:
// the prefixes of lines shown in bulk, without a text made per line.
void AppendLinePrefixUtf8(QByteArray& out, bool lineNumber, qint64 line, int timeKind, qint64 msSinceEpoch,
                          bool withMs);

// Main-log prefixes: "YYYYMMDD " / "hh:mm:ss " / "YYYYMMDD/hh:mm:ss " / "".
QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at);
QString GetLogTimeText(bool showDate, bool showTime); // local time now, cached per second
// With ".mmm" after the seconds when withMs: "hh:mm:ss.mmm " / "YYYYMMDD/hh:mm:ss.mmm ".
QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at, bool withMs);
QString GetLogTimeText(bool showDate, bool showTime, bool withMs);
QString GetLogLineNumberText(qint64 n, bool showLineNumber);

// Short port name of a device-list name: "COM3" from "USB Serial Port (COM3)",
// "PID 0x00CD" from a HID name, "ttyUSB0" from "FT232R USB UART (ttyUSB0)",
// "/dev/pts/3" from "Virtual Port (/dev/pts/3)"; empty when none applies.
QString ExtractPortName(const QString& fullName);

// A device name made safe as part of a file name: '/', '\\', control and format
// characters, lone surrogates and a leading '.' become '_'; overlong names are cut
// and tagged with a hash of the whole name. Non-empty for non-empty input.
QString SafeFileNamePart(const QString& deviceName);

// Removes every character with code <= 32 from both ends.
QString TrimControl(const QString& text);
