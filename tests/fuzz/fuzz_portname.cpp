// Device names come from USB descriptors; whatever they hold, the port name must be
// a piece of the name and the file-name part must be safe.

#include "CvCodecs.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

void checkSafe(const QString& input)
{
    const QString safe = SafeFileNamePart(input);
    check(input.isEmpty() == safe.isEmpty());
    check(!safe.startsWith(u'.'));
    check(safe.toUtf8().size() <= 150);
    for (qsizetype i = 0; i < safe.size(); ++i) {
        const QChar c = safe[i];
        check(c != u'/' && c != u'\\' && c.unicode() >= 32 && c.unicode() != 127);
        if (c.isHighSurrogate()) check(i + 1 < safe.size() && safe[i + 1].isLowSurrogate());
        if (c.isLowSurrogate()) check(i > 0 && safe[i - 1].isHighSurrogate());
    }
    check(SafeFileNamePart(input) == safe);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    QString name;
    if (data[0] & 1) {
        std::vector<char16_t> units((size - 1) / 2);
        if (!units.empty()) std::memcpy(units.data(), data + 1, units.size() * 2);
        name = QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size()));
    } else {
        name = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    }

    const QString port = ExtractPortName(name);
    check(port.isEmpty() || TrimControl(name).contains(port));
    checkSafe(name);
    checkSafe(port);
    return 0;
}
