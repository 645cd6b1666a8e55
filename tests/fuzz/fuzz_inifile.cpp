// Any bytes as an INI file: loading, reading, writing and saving must never crash,
// a written key must read back, and saving must be stable.

#include "IniFile.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

QString profileTrimmed(QString value)
{
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    qsizetype begin = 0;
    qsizetype end = value.size();
    while (begin < end && (value[begin] == u' ' || value[begin] == u'\t')) ++begin;
    while (end > begin && (value[end - 1] == u' ' || value[end - 1] == u'\t')) --end;
    return value.mid(begin, end - begin);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TIniFile ini;
    if (!ini.LoadFromData(bytes)) return 0;

    const QStringList sections = ini.Sections();
    int reads = 0;
    for (const QString& section : sections) {
        check(ini.HasSection(section));
        for (const QString& key : ini.Keys(section)) {
            check(ini.ValueExists(section, key));
            check(ini.ReadString(section, key).size() <= TIniFile::MaxValueChars);
            (void)ini.ReadInteger(section, key, 0);
            (void)ini.ReadBool(section, key, false);
            if (++reads > 64) break;
        }
        if (reads > 64) break;
    }

    // Unmodified: a second load and save gives the same bytes.
    const QByteArray first = ini.SaveToData();
    TIniFile reloaded;
    check(reloaded.LoadFromData(first));
    check(reloaded.SaveToData() == first);

    const QString section = sections.isEmpty() ? QStringLiteral("Fuzz") : sections.constFirst();
    const QString value = QString::fromUtf8(bytes.left(64));
    check(ini.WriteString(section, QStringLiteral("FuzzKey"), value));
    check(ini.WriteInteger(QStringLiteral("MyPreference"), QStringLiteral("Theme"), int(size)));
    const QString expected = profileTrimmed(value);
    check(ini.ReadString(section, QStringLiteral("fuzzkey")) == expected);

    TIniFile back;
    check(back.LoadFromData(ini.SaveToData()));
    check(back.ReadString(section, QStringLiteral("FUZZKEY")) == expected);
    check(back.ReadInteger(QStringLiteral("mypreference"), QStringLiteral("theme"), -1) == int(size));
    return 0;
}
