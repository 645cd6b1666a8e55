// Hex text into buffers of any size: nothing may be written outside the buffer, and
// the byte-to-text decoders must survive any input.

#include "CvCodecs.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kGuard = 32;
constexpr quint8 kGuardByte = 0xA5;

void check(bool ok)
{
    if (!ok) std::abort();
}

QString textFrom(const uint8_t* data, size_t size, bool utf16)
{
    if (!utf16) return QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    // Raw UTF-16 reaches lone surrogates and every code unit.
    std::vector<char16_t> units(size / 2);
    if (!units.empty()) std::memcpy(units.data(), data, units.size() * 2);
    return QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    const int bufSize = int((data[0] | (data[1] << 8)) % 2049);
    const uint8_t flags = data[2];
    data += 3;
    size -= 3;
    const QString text = textFrom(data, size, flags & 1);
    const HexClear clear = (flags & 2) ? HexClear::Whole : HexClear::Cells2x;
    const qsizetype cells = (text.size() + 2) / 3;

    std::vector<quint8> raw(size_t(bufSize) + 2 * kGuard, kGuardByte);
    quint8* buffer = raw.data() + kGuard;
    int count = -1;
    int dropped = -1;
    const QString canonical = HexStrToBytes(text, buffer, bufSize, &count, &dropped, clear);
    check(count == int(std::min<qsizetype>(cells, bufSize)));
    check(dropped == int(cells - count));
    check(canonical.size() == 3 * qsizetype(count));
    for (int i = 0; i < kGuard; ++i)
        check(raw[size_t(i)] == kGuardByte && raw[raw.size() - 1 - size_t(i)] == kGuardByte);

    // The canonical text reads back to the same bytes.
    std::vector<quint8> again(size_t(count) + 1, kGuardByte);
    int againCount = -1;
    check(HexStrToBytes(canonical, again.data(), count, &againCount) == canonical);
    check(againCount == count && std::memcmp(again.data(), buffer, size_t(count)) == 0);
    check(again[size_t(count)] == kGuardByte);

    std::fill(raw.begin(), raw.end(), kGuardByte);
    check(HexStrToBuffer(text, buffer, bufSize) == count);
    for (int i = 0; i < kGuard; ++i)
        check(raw[size_t(i)] == kGuardByte && raw[raw.size() - 1 - size_t(i)] == kGuardByte);
    for (int i = count; i < bufSize; ++i) check(buffer[i] == 0);

    const int n = int(std::min<size_t>(size, 4096));
    const QString shown = BytesToText(data, n);
    check(shown.isEmpty() || (shown.front().unicode() > 32 && shown.back().unicode() > 32));
    (void)BytesToString(data, n);
    (void)StringToBytes(text);

    // Strict hex: accepted text reads back from its canonical form; refused text says where.
    QByteArray strict;
    QString why;
    if (ParseHexText(text, &strict, &why)) {
        QByteArray back;
        const QString canon = HexText(reinterpret_cast<const quint8*>(strict.constData()), strict.size());
        check(ParseHexText(canon, &back) && back == strict);
    } else {
        check(why.contains(QLatin1String("position")));
    }

    // Every encoding decodes any bytes split anywhere; what it encodes it decodes back.
    const TTextEncoding e = kTextEncodings[flags % std::size(kTextEncodings)];
    const qsizetype cut = size == 0 ? 0 : qsizetype(flags) % qsizetype(size + 1);
    TTextDecoder decoder(e);
    TLineBreakFilter breaks;
    QString decoded = breaks.Apply(decoder.Decode(reinterpret_cast<const char*>(data), cut));
    decoded += breaks.Apply(decoder.Decode(reinterpret_cast<const char*>(data) + cut, qsizetype(size) - cut));
    check(!decoded.contains(QLatin1Char('\n')) ||
          decoded.count(QLatin1Char('\n')) == decoded.count(QLatin1String("\r\n")));
    QByteArray encoded;
    qsizetype bad = -1;
    if (EncodeText(text, e, &encoded, &bad)) {
        TTextDecoder round(e);
        const QString back = round.Decode(encoded.constData(), encoded.size());
        check(round.InvalidCount() == 0 || e == TTextEncoding::Big5 || e == TTextEncoding::ShiftJis);
        (void)back;
    } else {
        check(bad >= 0 && bad < text.size());
    }
    return 0;
}
