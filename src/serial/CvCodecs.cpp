#include "CvCodecs.h"

#include <QRegularExpression>

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Character at a 0-based position; past the end reads as NUL, i.e. digit 0.
QChar charAt(const QString& text, qsizetype i) {
    return i < text.size() ? text.at(i) : QChar(u'\0');
}

// printf "%0.<width>d": at least <width> digits, the sign not counted.
void appendNumber(QString& out, qint64 value, int width) {
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
    for (int i = len; i < width; ++i)
        out += u'0';
    while (len > 0)
        out += QLatin1Char(digits[--len]);
}

void appendDate(QString& out, const QDate& date) {
    // An invalid date reads as zeros rather than printing QDate's sentinels.
    const bool ok = date.isValid();
    appendNumber(out, ok ? date.year() : 0, 4);
    appendNumber(out, ok ? date.month() : 0, 2);
    appendNumber(out, ok ? date.day() : 0, 2);
}

void appendTime(QString& out, const QTime& time, bool withMs = false) {
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
QString formatTimeSlot(int slot, const QDateTime& at, bool withMs = false) {
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
    default:
        break;
    }
    return out;
}

// The display worker asks for the current prefix for every line, so the texts are
// built once per second and per thread; copies share the cached string.
QString cachedTimeSlot(int slot) {
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

int logTimeSlot(bool showDate, bool showTime) {
    if (showDate && showTime) return 5;
    if (showDate) return 3;
    if (showTime) return 4;
    return -1;
}

QString decodeSystem(const quint8* p, int n) {
    if (p == nullptr || n <= 0) return {};
    // Plain ASCII reads the same in every code page we meet; the hex display asks for it
    // once per line, so it skips building a decoder.
    bool ascii = true;
    for (int i = 0; i < n && ascii; ++i) ascii = p[i] < 0x80;
    if (ascii) return QString::fromLatin1(reinterpret_cast<const char*>(p), n);
    QStringDecoder decoder(QStringDecoder::System);
    return decoder.decode(QByteArrayView(reinterpret_cast<const char*>(p), n));
}

// On Linux the device sits in the final parentheses: "FT232R USB UART (ttyUSB0)".
// Only a tty-like name or an absolute /dev path counts, so Windows-style names such
// as "ECP Printer Port (LPT1)" still give nothing, and the name must end with the
// ")" so a HID name ("... VID 0x.. PID 0x..") never matches. *open gets the
// position of the "(".
QString linuxDeviceInFinalParens(const QString& name, qsizetype* open) {
    *open = -1;
    if (!name.endsWith(u')')) return {};
    const qsizetype o = name.lastIndexOf(u'(', name.size() - 2);
    if (o < 0) return {};
    const QString inner = name.mid(o + 1, name.size() - o - 2);
    bool ok = false;
    const bool kernelName = (inner.startsWith(u"tty") && inner.size() > 3) || (inner.startsWith(u"rfcomm") && inner.size() > 6);
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
quint32 fnv1a(const QString& text) {
    quint32 h = 2166136261u;
    for (QChar c : text) {
        h = (h ^ (c.unicode() & 0xFF)) * 16777619u;
        h = (h ^ (c.unicode() >> 8)) * 16777619u;
    }
    return h;
}

bool unsafeInFileName(char32_t cp) {
    if (cp == U'/' || cp == U'\\') return true;
    switch (QChar::category(cp)) {
    case QChar::Other_Control:   // NUL, C0, DEL, C1
    case QChar::Other_Format:    // bidi overrides and other invisible marks
    case QChar::Other_Surrogate: // only lone surrogates reach here
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

int HexCharToValue(QChar ch) {
    const char16_t c = ch.unicode();
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return 0;
}

quint8 HexPairToByte(QChar hi, QChar lo) {
    return quint8((HexCharToValue(hi) << 4) | HexCharToValue(lo));
}

QString HexStrToBytes(const QString& text, quint8* buffer, int bufSize, int* count, int* dropped,
                      HexClear clear) {
    const qsizetype cells = (text.size() + 2) / 3;
    const qsizetype capacity = (buffer != nullptr && bufSize > 0) ? bufSize : 0;
    const qsizetype stored = std::min(cells, capacity);

    if (capacity > 0) {
        const qsizetype toClear = clear == HexClear::Whole ? capacity : std::min(2 * cells, capacity);
        std::memset(buffer, 0, size_t(toClear));
    }

    QString canonical;
    canonical.resize(3 * stored);
    QChar* out = canonical.data();
    for (qsizetype k = 0; k < stored; ++k) {
        const quint8 b = HexPairToByte(charAt(text, 3 * k), charAt(text, 3 * k + 1));
        buffer[k] = b;
        *out++ = QLatin1Char(kHexDigits[b >> 4]);
        *out++ = QLatin1Char(kHexDigits[b & 0x0F]);
        *out++ = u' ';
    }

    if (count != nullptr) *count = int(stored);
    if (dropped != nullptr)
        *dropped = int(std::min<qsizetype>(cells - stored, std::numeric_limits<int>::max()));
    return canonical;
}

int HexStrToBuffer(const QString& text, quint8* buffer, int bufSize, int* dropped) {
    int count = 0;
    HexStrToBytes(text, buffer, bufSize, &count, dropped, HexClear::Whole);
    return count;
}

QString BytesToText(const quint8* p, int n) {
    QString text = decodeSystem(p, n);
    text.remove(QLatin1String("\r\n"));
    return TrimControl(text);
}

QString BytesToString(const quint8* p, int n) {
    return decodeSystem(p, n);
}

QByteArray StringToBytes(const QString& text) {
    QStringEncoder encoder(QStringEncoder::System);
    return encoder.encode(text);
}

QString GetTimeText(int kind, const QDateTime& at) {
    if (kind < 0 || kind > 2) return {};
    return formatTimeSlot(kind, at);
}

QString GetTimeText(int kind) {
    if (kind < 0 || kind > 2) return {};
    return cachedTimeSlot(kind);
}

QString GetTimeText(int kind, const QDateTime& at, bool withMs) {
    if (kind < 0 || kind > 2) return {};
    return formatTimeSlot(kind, at, withMs);
}

QString GetTimeText(int kind, bool withMs) {
    if (!withMs) return GetTimeText(kind);
    // Milliseconds change on every call: nothing worth caching.
    return GetTimeText(kind, QDateTime::currentDateTime(), true);
}

QString GetLineNumberText(qint64 n) {
    QString out;
    out.reserve(24);
    appendNumber(out, std::max<qint64>(n, 0), 2);
    out += u"| ";
    return out;
}

QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at) {
    const int slot = logTimeSlot(showDate, showTime);
    return slot < 0 ? QString() : formatTimeSlot(slot, at);
}

QString GetLogTimeText(bool showDate, bool showTime) {
    const int slot = logTimeSlot(showDate, showTime);
    return slot < 0 ? QString() : cachedTimeSlot(slot);
}

QString GetLogTimeText(bool showDate, bool showTime, const QDateTime& at, bool withMs) {
    const int slot = logTimeSlot(showDate, showTime);
    return slot < 0 ? QString() : formatTimeSlot(slot, at, withMs);
}

QString GetLogTimeText(bool showDate, bool showTime, bool withMs) {
    if (!withMs) return GetLogTimeText(showDate, showTime);
    return GetLogTimeText(showDate, showTime, QDateTime::currentDateTime(), true);
}

QString GetLogLineNumberText(qint64 n, bool showLineNumber) {
    return showLineNumber ? GetLineNumberText(n) : QString();
}

QString ExtractPortName(const QString& fullName) {
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

QString SafeFileNamePart(const QString& deviceName) {
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

QString TrimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    if (begin == 0 && end == text.size()) return text;
    return text.mid(begin, end - begin);
}
