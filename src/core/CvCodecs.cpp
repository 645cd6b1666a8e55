#include "CvCodecs.h"

#include "CvMessages.h"

#include <QRegularExpression>

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

namespace {

// Character at a 0-based position; past the end reads as NUL, i.e. digit 0.
QChar charAt(const QString& text, qsizetype i)
{
    return i < text.size() ? text.at(i) : QChar(u'\0');
}

// printf "%0.<width>d": at least <width> digits, the sign not counted.
void appendNumber(QString& out, qint64 value, int width)
{
    char digits[24];
    int len = 0;
    const bool negative = value < 0;
    // Work on the negative side so the minimum value needs no special case.
    qint64 v = negative ? value : -value;
    do {
        digits[len++] = char('0' - v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) out += u'-';
    for (int i = len; i < width; ++i) out += u'0';
    while (len > 0) out += QLatin1Char(digits[--len]);
}

void appendDate(QString& out, const QDate& date)
{
    // An invalid date reads as zeros rather than printing QDate's sentinels.
    const bool ok = date.isValid();
    appendNumber(out, ok ? date.year() : 0, 4);
    appendNumber(out, ok ? date.month() : 0, 2);
    appendNumber(out, ok ? date.day() : 0, 2);
}

void appendTime(QString& out, const QTime& time, bool withMs = false)
{
    const bool ok = time.isValid();
    appendNumber(out, ok ? time.hour() : 0, 2);
    out += u':';
    appendNumber(out, ok ? time.minute() : 0, 2);
    out += u':';
    appendNumber(out, ok ? time.second() : 0, 2);
    if (withMs) {
        out += u'.';
        appendNumber(out, ok ? time.msec() : 0, 3);
    }
}

// Slot 0..2 = GetTimeText kinds, 3..5 = GetLogTimeText date / time / both. withMs puts
// ".mmm" after the seconds of the slots that have a time.
QString formatTimeSlot(int slot, const QDateTime& at, bool withMs = false)
{
    QString out;
    out.reserve(24);
    switch (slot) {
    case 0:
        out += u'(';
        appendDate(out, at.date());
        out += u") ";
        break;
    case 1:
        out += u'(';
        appendTime(out, at.time(), withMs);
        out += u") ";
        break;
    case 2:
        out += u'(';
        appendDate(out, at.date());
        out += u' ';
        appendTime(out, at.time(), withMs);
        out += u") ";
        break;
    case 3:
        appendDate(out, at.date());
        out += u' ';
        break;
    case 4:
        appendTime(out, at.time(), withMs);
        out += u' ';
        break;
    case 5:
        appendDate(out, at.date());
        out += u'/';
        appendTime(out, at.time(), withMs);
        out += u' ';
        break;
    default: break;
    }
    return out;
}

// The display worker asks for the current prefix for every line, so the texts are
// built once per second and per thread; copies share the cached string.
QString cachedTimeSlot(int slot)
{
    struct Cache {
        qint64 second = std::numeric_limits<qint64>::min();
        QString text[6];
        bool built[6] = {};
    };
    thread_local Cache cache;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != cache.second) {
        cache.second = now;
        std::fill(std::begin(cache.built), std::end(cache.built), false);
    }
    if (!cache.built[slot]) {
        cache.text[slot] = formatTimeSlot(slot, QDateTime::fromSecsSinceEpoch(now));
        cache.built[slot] = true;
    }
    return cache.text[slot];
}

int logTimeSlot(bool showDate, bool showTime)
{
    if (showDate && showTime) return 5;
    if (showDate) return 3;
    if (showTime) return 4;
    return -1;
}

const char* icuName(TTextEncoding e)
{
    switch (e) {
    case TTextEncoding::Gb18030: return "GB18030";
    case TTextEncoding::Big5: return "Big5";
    case TTextEncoding::ShiftJis: return "Shift_JIS";
    default: return "UTF-8";
    }
}

bool oneBytePerChar(TTextEncoding e)
{
    return e == TTextEncoding::Latin1 || e == TTextEncoding::Bytes;
}

QString decodeIn(const quint8* p, int n, TTextEncoding e)
{
    if (p == nullptr || n <= 0) return {};
    // Plain ASCII reads the same in every encoding we offer; the hex display asks for it
    // once per line, so it skips building a decoder.
    bool ascii = true;
    for (int i = 0; i < n && ascii; ++i) ascii = p[i] < 0x80;
    if (ascii || oneBytePerChar(e)) return QString::fromLatin1(reinterpret_cast<const char*>(p), n);
    if (e == TTextEncoding::Utf8) return QString::fromUtf8(reinterpret_cast<const char*>(p), n);
    TTextDecoder decoder(e);
    return decoder.Decode(reinterpret_cast<const char*>(p), n);
}

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

bool isHexSeparator(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u',' || c == u'-' || c == 0x3000;
}

// On Linux the device sits in the final parentheses: "FT232R USB UART (ttyUSB0)".
// Only a tty-like name or an absolute /dev path counts, so Windows-style names such
// as "ECP Printer Port (LPT1)" still give nothing, and the name must end with the
// ")" so a HID name ("... VID 0x.. PID 0x..") never matches. *open gets the
// position of the "(".
QString linuxDeviceInFinalParens(const QString& name, qsizetype* open)
{
    *open = -1;
    if (!name.endsWith(u')')) return {};
    const qsizetype o = name.lastIndexOf(u'(', name.size() - 2);
    if (o < 0) return {};
    const QString inner = name.mid(o + 1, name.size() - o - 2);
    bool ok = false;
    const bool kernelName =
        (inner.startsWith(u"tty") && inner.size() > 3) || (inner.startsWith(u"rfcomm") && inner.size() > 6);
    if (kernelName) {
        // Kernel tty names: ttyS0, ttyUSB0, ttyACM0, ttyAMA0, ttymxc0, rfcomm0, ...
        ok = std::all_of(inner.cbegin(), inner.cend(), [](QChar c) {
            const char16_t u = c.unicode();
            return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                   u == u'_' || u == u'-' || u == u'.' || u == u':';
        });
    } else if (inner.startsWith(u'/') && inner.size() > 1 && !inner.endsWith(u'/')) {
        // A path the user added: a socat link, /dev/pts/N, /dev/serial/by-id/...
        ok = std::all_of(inner.cbegin(), inner.cend(),
                         [](QChar c) { return c.unicode() >= 32 && c.unicode() != 127; });
    }
    if (!ok) return {};
    *open = o;
    return inner;
}

// Stable across runs (qHash is seeded per process), so a cut file name stays the same.
quint32 fnv1a(const QString& text)
{
    quint32 h = 2166136261u;
    for (QChar c : text) {
        h = (h ^ (c.unicode() & 0xFF)) * 16777619u;
        h = (h ^ (c.unicode() >> 8)) * 16777619u;
    }
    return h;
}

bool unsafeInFileName(char32_t cp)
{
    if (cp == U'/' || cp == U'\\') return true;
    switch (QChar::category(cp)) {
    case QChar::Other_Control:   // NUL, C0, DEL, C1
    case QChar::Other_Format:    // bidi overrides and other invisible marks
    case QChar::Other_Surrogate: // only lone surrogates reach here
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph: return true;
    default: return false;
    }
}

} // namespace

int HexCharToValue(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return 0;
}

quint8 HexPairToByte(QChar hi, QChar lo)
{
    return quint8((HexCharToValue(hi) << 4) | HexCharToValue(lo));
}

QString HexStrToBytes(const QString& text, quint8* buffer, int bufSize, int* count, int* dropped,
                      HexClear clear)
{
    const qsizetype cells = (text.size() + 2) / 3;
    const qsizetype capacity = (buffer != nullptr && bufSize > 0) ? bufSize : 0;
    const qsizetype stored = std::min(cells, capacity);

    if (capacity > 0) {
        const qsizetype toClear = clear == HexClear::Whole ? capacity : std::min(2 * cells, capacity);
        std::memset(buffer, 0, size_t(toClear));
    }

    for (qsizetype k = 0; k < stored; ++k)
        buffer[k] = HexPairToByte(charAt(text, 3 * k), charAt(text, 3 * k + 1));
    QString canonical = HexText(buffer, stored);

    if (count != nullptr) *count = int(stored);
    if (dropped != nullptr)
        *dropped = int(std::min<qsizetype>(cells - stored, std::numeric_limits<int>::max()));
    return canonical;
}

int HexStrToBuffer(const QString& text, quint8* buffer, int bufSize, int* dropped)
{
    int count = 0;
    HexStrToBytes(text, buffer, bufSize, &count, dropped, HexClear::Whole);
    return count;
}

QString HexText(const quint8* p, qsizetype n)
{
    QString out;
    out.resize(3 * std::max<qsizetype>(n, 0));
    WriteHexText(p, n, out.data());
    return out;
}

bool ParseHexText(QStringView text, QByteArray* out, QString* error)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    const qsizetype size = text.size();
    const auto fail = [&](qsizetype at, const QString& what) {
        if (error != nullptr)
            *error = Msg(QStringLiteral("Not hex byte text: %1 at position %2.")).arg(what).arg(at + 1);
        return false;
    };
    qsizetype i = 0;
    while (i < size) {
        const char16_t c = text.at(i).unicode();
        if (isHexSeparator(c)) {
            ++i;
            continue;
        }
        // A run of digits between separators, perhaps after "0x": read in pairs.
        if (c == u'0' && i + 1 < size && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X')) {
            if (i + 2 >= size || !isHexDigit(text.at(i + 2).unicode()))
                return fail(i, Msg(QStringLiteral("\"0x\" without digits")));
            i += 2;
        }
        const qsizetype start = i;
        while (i < size && isHexDigit(text.at(i).unicode())) ++i;
        if (i == start || (i < size && !isHexSeparator(text.at(i).unicode()))) {
            const qsizetype bad = i < size ? i : start;
            return fail(bad, Msg(QStringLiteral("\"%1\" is not a hex digit"))
                                 .arg(text.mid(bad, text.at(bad).isHighSurrogate() ? 2 : 1)));
        }
        if ((i - start) % 2 != 0)
            return fail(i - 1, Msg(QStringLiteral("the digit \"%1\" has no partner (a byte is two digits)"))
                                   .arg(text.at(i - 1)));
        for (qsizetype k = start; k < i; k += 2) bytes += char(HexPairToByte(text.at(k), text.at(k + 1)));
    }
    if (out != nullptr) *out = bytes;
    return true;
}

QString TextEncodingName(TTextEncoding e)
{
    switch (e) {
    case TTextEncoding::Utf8: return QStringLiteral("UTF-8");
    case TTextEncoding::Gb18030: return QStringLiteral("GB18030");
    case TTextEncoding::Big5: return QStringLiteral("Big5");
    case TTextEncoding::ShiftJis: return QStringLiteral("Shift_JIS");
    case TTextEncoding::Latin1: return QStringLiteral("ISO-8859-1");
    case TTextEncoding::Bytes: return QStringLiteral("Bytes");
    }
    return QStringLiteral("UTF-8");
}

QString TextEncodingCaption(TTextEncoding e)
{
    return e == TTextEncoding::Bytes ? QStringLiteral("One character per byte") : TextEncodingName(e);
}

bool TextEncodingFromName(const QString& name, TTextEncoding* e)
{
    const QString n = name.trimmed();
    for (const TTextEncoding k : kTextEncodings)
        if (n.compare(TextEncodingName(k), Qt::CaseInsensitive) == 0) {
            *e = k;
            return true;
        }
    return false;
}

TTextDecoder::TTextDecoder(TTextEncoding e) : FEncoding(e)
{
    Reset();
}

TTextDecoder::~TTextDecoder() = default;

void TTextDecoder::SetEncoding(TTextEncoding e)
{
    FEncoding = e;
    Reset();
}

void TTextDecoder::Reset()
{
    if (oneBytePerChar(FEncoding)) FDecoder.reset();
    else
        FDecoder =
            std::make_unique<QStringDecoder>(icuName(FEncoding), QStringConverter::Flag::ConvertInitialBom);
}

QString TTextDecoder::Decode(const char* p, qsizetype n)
{
    if (p == nullptr || n <= 0) return {};
    if (!FDecoder) return QString::fromLatin1(p, n);
    QString text = FDecoder->decode(QByteArrayView(p, n));
    // The decoder remembers whether it ever met an invalid byte: until then nothing to count.
    if (FDecoder->hasError()) FInvalid += text.count(QChar(QChar::ReplacementCharacter));
    return text;
}

bool EncodeText(const QString& text, TTextEncoding e, QByteArray* out, qsizetype* badAt)
{
    const auto refuse = [badAt](qsizetype at) {
        if (badAt != nullptr) *badAt = at;
        return false;
    };
    const qsizetype size = text.size();
    if (oneBytePerChar(e)) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = text.at(i).unicode();
            if (c > 0xFF) return refuse(i);
            bytes[i] = char(c);
        }
        *out = bytes;
        return true;
    }
    // A lone surrogate is no character in any encoding.
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) ++i;
        else if (c.isSurrogate()) return refuse(i);
    }
    QStringEncoder encoder(icuName(e));
    QByteArray bytes = encoder.encode(text);
    if (!encoder.hasError()) {
        *out = bytes;
        return true;
    }
    // Find the character the encoding has no bytes for.
    for (qsizetype i = 0; i < size;) {
        const qsizetype len = text.at(i).isHighSurrogate() && i + 1 < size ? 2 : 1;
        QStringEncoder one(icuName(e));
        (void)QByteArray(one.encode(QStringView(text).mid(i, len)));
        if (one.hasError()) return refuse(i);
        i += len;
    }
    return refuse(0);
}

QString UnencodableMessage(const QString& text, qsizetype badAt, TTextEncoding e)
{
    const qsizetype len = badAt + 1 < text.size() && text.at(badAt).isHighSurrogate() ? 2 : 1;
    return Msg(QStringLiteral("\"%1\" at position %2 has no bytes in %3: nothing was sent."))
        .arg(text.mid(badAt, len))
        .arg(badAt + 1)
        .arg(TextEncodingCaption(e));
}

QString LineBreaksName(TLineBreaks b)
{
    return b == TLineBreaks::CrLfOnly ? QStringLiteral("CRLF") : QStringLiteral("Any");
}

bool LineBreaksFromName(const QString& name, TLineBreaks* b)
{
    const QString n = name.trimmed();
    if (n.compare(QLatin1String("Any"), Qt::CaseInsensitive) == 0) *b = TLineBreaks::Any;
    else if (n.compare(QLatin1String("CRLF"), Qt::CaseInsensitive) == 0) *b = TLineBreaks::CrLfOnly;
    else return false;
    return true;
}

void TLineBreakFilter::SetMode(TLineBreaks m)
{
    FMode = m;
    FPendingCr = false;
}

namespace {
int codeOf(QChar c)
{
    return c.unicode();
}
int codeOf(char c)
{
    return static_cast<unsigned char>(c);
}

// True when every CR and LF of the piece already stands in a CR LF pair (and no LF ends a
// CR of the previous piece): the piece passes as it is.
template <typename In> bool breaksAreCrlf(const In* p, qsizetype n, bool pendingCr)
{
    if (pendingCr && n > 0 && codeOf(p[0]) == '\n') return false;
    for (qsizetype i = 0; i < n; ++i) {
        const int c = codeOf(p[i]);
        if (c == '\r') {
            if (i + 1 >= n || codeOf(p[i + 1]) != '\n') return false;
            ++i;
        } else if (c == '\n') {
            return false;
        }
    }
    return true;
}

template <typename Out, typename In> Out normalizeBreaks(const In* p, qsizetype n, bool& pendingCr)
{
    Out out;
    // An empty read changes nothing, a pending CR included.
    if (n <= 0) return out;
    out.reserve(n + n / 8 + 2);
    qsizetype i = 0;
    // The LF of a CR LF whose CR ended the previous piece.
    if (pendingCr && n > 0 && codeOf(p[0]) == '\n') i = 1;
    pendingCr = false;
    qsizetype from = i;
    for (; i < n; ++i) {
        const int c = codeOf(p[i]);
        if (c != '\r' && c != '\n') continue;
        out.append(p + from, i - from);
        if constexpr (std::is_same_v<Out, QString>) out.append(QLatin1String("\r\n"));
        else out.append("\r\n", 2);
        if (c == '\r') {
            if (i + 1 < n && codeOf(p[i + 1]) == '\n') ++i;
            else if (i + 1 == n) pendingCr = true;
        }
        from = i + 1;
    }
    out.append(p + from, n - from);
    return out;
}
} // namespace

QString TLineBreakFilter::Apply(const QString& text)
{
    if (FMode == TLineBreaks::CrLfOnly || text.isEmpty()) return text;
    // The common case costs a scan, not a copy.
    if (breaksAreCrlf(text.constData(), text.size(), FPendingCr)) {
        FPendingCr = false;
        return text;
    }
    return normalizeBreaks<QString>(text.constData(), text.size(), FPendingCr);
}

QByteArray TLineBreakFilter::Apply(QByteArrayView bytes)
{
    if (FMode == TLineBreaks::CrLfOnly || bytes.isEmpty()) return bytes.toByteArray();
    if (breaksAreCrlf(bytes.data(), bytes.size(), FPendingCr)) {
        FPendingCr = false;
        return bytes.toByteArray();
    }
    return normalizeBreaks<QByteArray>(bytes.data(), bytes.size(), FPendingCr);
}

QString BytesToText(const quint8* p, int n, TTextEncoding e)
{
    QString text = decodeIn(p, n, e);
    text.remove(QLatin1String("\r\n"));
    return TrimControl(text);
}

QString BytesToString(const quint8* p, int n, TTextEncoding e)
{
    return decodeIn(p, n, e);
}

QByteArray StringToBytes(const QString& text)
{
    QStringEncoder encoder(QStringEncoder::System);
    return encoder.encode(text);
}

QString GetTimeText(int kind, const QDateTime& at)
{
    if (kind < 0 || kind > 2) return {};
    return formatTimeSlot(kind, at);
}

QString GetTimeText(int kind)
{
    if (kind < 0 || kind > 2) return {};
    return cachedTimeSlot(kind);
}

QString GetTimeText(int kind, const QDateTime& at, bool withMs)
{
    if (kind < 0 || kind > 2) return {};
    return formatTimeSlot(kind, at, withMs);
}

QString GetTimeText(int kind, bool withMs)
{
    if (!withMs) return GetTimeText(kind);
    // Milliseconds change on every call: nothing worth caching.
    return GetTimeText(kind, QDateTime::currentDateTime(), true);
}

QString GetTimeTextAt(int kind, qint64 msSinceEpoch, bool withMs)
{
    if (kind < 0 || kind > 2) return {};
    struct Cache {
        qint64 second = std::numeric_limits<qint64>::min();
        QString text[3];
        bool built[3] = {};
    };
    thread_local Cache cache;
    const qint64 second = msSinceEpoch >= 0 ? msSinceEpoch / 1000 : (msSinceEpoch - 999) / 1000;
    if (second != cache.second) {
        cache.second = second;
        std::fill(std::begin(cache.built), std::end(cache.built), false);
    }
    if (!cache.built[kind]) {
        cache.text[kind] = formatTimeSlot(kind, QDateTime::fromSecsSinceEpoch(second));
        cache.built[kind] = true;
    }
    if (!withMs || kind == 0) return cache.text[kind];
    // "(... hh:mm:ss) " becomes "(... hh:mm:ss.mmm) ".
    QString out = cache.text[kind];
    QString ms;
    appendNumber(ms, msSinceEpoch - second * 1000, 3);
    out.insert(out.size() - 2, u'.' + ms);
    return out;
}

QString GetLineNumberText(qint64 n)
{
    QString out;
    out.reserve(24);
    appendNumber(out, std::max<qint64>(n, 0), 2);
    out += u"| ";
    return out;
}

void AppendLinePrefixUtf8(QByteArray& out, bool lineNumber, qint64 line, int timeKind, qint64 msSinceEpoch,
                          bool withMs)
{
    if (lineNumber) {
        char digits[24];
        int len = 0;
        qint64 v = std::max<qint64>(line, 0);
        do {
            digits[len++] = char('0' + v % 10);
            v /= 10;
        } while (v != 0);
        if (len < 2) out.append('0');
        while (len > 0) out.append(digits[--len]);
        out.append("| ", 2);
    }
    if (timeKind < 0 || timeKind > 2) return;
    if (msSinceEpoch <= 0) msSinceEpoch = QDateTime::currentMSecsSinceEpoch();
    // The text changes once a second; only the milliseconds change in between.
    struct Cache {
        qint64 second = std::numeric_limits<qint64>::min();
        int kind = -1;
        QByteArray utf8;
    };
    thread_local Cache cache;
    const qint64 second = msSinceEpoch / 1000;
    if (second != cache.second || timeKind != cache.kind) {
        cache.second = second;
        cache.kind = timeKind;
        cache.utf8 = GetTimeTextAt(timeKind, second * 1000, false).toUtf8();
    }
    if (!withMs || timeKind == 0 || cache.utf8.size() < 2) {
        out.append(cache.utf8);
        return;
    }
    // "(... hh:mm:ss) " becomes "(... hh:mm:ss.mmm) ".
    const int ms = int(msSinceEpoch - second * 1000);
    out.append(cache.utf8.constData(), cache.utf8.size() - 2);
    const char t[4] = {'.', char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10)};
    out.append(t, 4);
    out.append(") ", 2);
}

QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at)
{
    const int slot = logTimeSlot(showDate, showTime);
    return slot < 0 ? QString() : formatTimeSlot(slot, at);
}

QString GetLogTimeText(bool showDate, bool showTime)
{
    const int slot = logTimeSlot(showDate, showTime);
    return slot < 0 ? QString() : cachedTimeSlot(slot);
}

QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at, bool withMs)
{
    const int slot = logTimeSlot(showDate, showTime);
    return slot < 0 ? QString() : formatTimeSlot(slot, at, withMs);
}

QString GetLogTimeText(bool showDate, bool showTime, bool withMs)
{
    if (!withMs) return GetLogTimeText(showDate, showTime);
    return GetLogTimeText(showDate, showTime, QDateTime::currentDateTime(), true);
}

QString GetLogLineNumberText(qint64 n, bool showLineNumber)
{
    return showLineNumber ? GetLineNumberText(n) : QString();
}

QString ExtractPortName(const QString& fullName)
{
    const QString name = TrimControl(fullName);
    qsizetype open = -1;
    const QString device = linuxDeviceInFinalParens(name, &open);

    // A Linux device in the final parentheses is the port, whatever COM/com/PID the text
    // holds before it ("Qualcomm Gobi (ttyUSB0)") or inside it ("(rfcomm0)", "(/dev/ttyCOM1)").
    if (!device.isEmpty()) return device;
    // A HID name ends in "VID 0xVVVV PID 0xPPPP": its PID is the port name even when the
    // product string holds "COM" ("Telecom Headset").
    static const QRegularExpression hidTail(QStringLiteral("VID 0x[0-9A-Fa-f]{4} (PID 0x[0-9A-Fa-f]{4})$"));
    const QRegularExpressionMatch hid = hidTail.match(name);
    if (hid.hasMatch()) return hid.captured(1);
    for (const char16_t* token : {u"COM", u"com"}) {
        const qsizetype at = name.indexOf(QStringView(token));
        if (at < 0) continue;
        const qsizetype close = name.indexOf(u')');
        if (close < at) return {};
        return name.mid(at, close - at);
    }
    const qsizetype pid = name.indexOf(QStringView(u"PID"));
    if (pid >= 0) return name.mid(pid, 10);
    return {};
}

QString SafeFileNamePart(const QString& deviceName)
{
    // Room for an extension and a date suffix within NAME_MAX (255 bytes).
    constexpr int kMaxUtf8Bytes = 150;
    constexpr int kHashTagBytes = 9; // "~" + 8 hex digits

    QString out;
    out.reserve(deviceName.size());
    const qsizetype size = deviceName.size();
    for (qsizetype i = 0; i < size;) {
        const QChar c = deviceName.at(i);
        if (c.isHighSurrogate() && i + 1 < size && deviceName.at(i + 1).isLowSurrogate()) {
            const char32_t cp = QChar::surrogateToUcs4(c, deviceName.at(i + 1));
            if (unsafeInFileName(cp)) {
                out += u'_';
            } else {
                out += c;
                out += deviceName.at(i + 1);
            }
            i += 2;
            continue;
        }
        out += unsafeInFileName(c.unicode()) ? QChar(u'_') : c;
        ++i;
    }
    // Also rules out "." and "..".
    if (out.startsWith(u'.')) out[0] = u'_';

    if (out.toUtf8().size() <= kMaxUtf8Bytes) return out;

    // Cut on a code point boundary and keep distinct long names apart.
    qsizetype cut = 0;
    int bytes = 0;
    while (cut < out.size()) {
        const bool pair =
            out.at(cut).isHighSurrogate() && cut + 1 < out.size() && out.at(cut + 1).isLowSurrogate();
        const char32_t cp =
            pair ? QChar::surrogateToUcs4(out.at(cut), out.at(cut + 1)) : out.at(cut).unicode();
        const int len = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        if (bytes + len > kMaxUtf8Bytes - kHashTagBytes) break;
        bytes += len;
        cut += pair ? 2 : 1;
    }
    out.truncate(cut);
    out += u'~';
    out += QString::number(fnv1a(deviceName), 16).rightJustified(8, u'0');
    return out;
}

QString TrimControl(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32) ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32) --end;
    if (begin == 0 && end == text.size()) return text;
    return text.mid(begin, end - begin);
}
