#include "IniFile.h"

#include "CvMessages.h"
#include "SafeSave.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

constexpr char kBom[] = "\xEF\xBB\xBF";

} // namespace

QString TIniFile::fold(const QString& name)
{
    return name.toCaseFolded();
}

QString TIniFile::trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.mid(begin, end - begin).toString();
}

void TIniFile::parseKeyLine(Line& line)
{
    line.eq = -1;
    qsizetype first = 0;
    while (first < line.text.size() && isBlank(line.text[first])) ++first;
    if (first == line.text.size() || line.text[first] == u';') return;
    const qsizetype eq = line.text.indexOf(u'=', first);
    // "=value" has no key anyone could ask for.
    if (eq > first && !trimBlanks(QStringView(line.text).mid(first, eq - first)).isEmpty()) line.eq = eq;
}

void TIniFile::Clear()
{
    m_bom = false;
    m_preamble.clear();
    m_sections.clear();
    m_groups.clear();
}

bool TIniFile::Load(const QString& path, QString* why)
{
    Clear();
    const auto fail = [why](const QString& reason) {
        if (why) *why = reason;
        return false;
    };
    const QFileInfo info(path);
    if (!info.exists()) return fail(Msg(QStringLiteral("it does not exist")));
    // Not a FIFO or device: those could block or never end.
    if (!info.isFile()) return fail(Msg(QStringLiteral("it is not a regular file")));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
    if (file.size() > MaxFileBytes)
        return fail(Msg(QStringLiteral("it is larger than %1 MiB")).arg(MaxFileBytes >> 20));
    // As much as it holds (a read of the limit would take the limit's memory each time), and
    // what it grew by meanwhile, up to one byte past the limit.
    QByteArray data = file.read(file.size() + 1);
    while (data.size() <= MaxFileBytes && file.error() == QFileDevice::NoError) {
        const QByteArray more = file.read(std::min<qint64>(1 << 16, MaxFileBytes + 1 - data.size()));
        if (more.isEmpty()) break;
        data += more;
    }
    if (file.error() != QFileDevice::NoError) return fail(file.errorString());
    if (!LoadFromData(data)) return fail(Msg(QStringLiteral("it has more than %1 lines")).arg(MaxLines));
    return true;
}

bool TIniFile::LoadFromData(const QByteArray& data)
{
    Clear();
    if (data.size() > MaxFileBytes) return false;

    QByteArrayView bytes(data);
    if (bytes.startsWith(QByteArrayView(kBom, 3))) {
        m_bom = true;
        bytes = bytes.sliced(3);
    }
    // A second byte-order mark is text: fromUtf8 would drop it too, and every save would
    // then lose one more.
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decode(bytes);

    std::vector<Line> lines;
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype i = start;
        while (i < size && text[i] != u'\r' && text[i] != u'\n') ++i;
        Line line;
        line.text = text.mid(start, i - start);
        if (i == size) {
            line.end = LineEnd::None;
            start = size;
        } else if (text[i] == u'\r' && i + 1 < size && text[i + 1] == u'\n') {
            line.end = LineEnd::CrLf;
            start = i + 2;
        } else {
            line.end = text[i] == u'\r' ? LineEnd::Cr : LineEnd::Lf;
            start = i + 1;
        }
        if (qsizetype(lines.size()) >= MaxLines) {
            Clear();
            return false;
        }
        lines.push_back(std::move(line));
    }

    for (Line& line : lines) {
        const QString trimmed = trimBlanks(line.text);
        const qsizetype close = trimmed.startsWith(u'[') ? trimmed.indexOf(u']') : -1;
        if (close > 0) {
            Section section;
            section.name = trimBlanks(QStringView(trimmed).mid(1, close - 1));
            section.folded = fold(section.name);
            section.header = std::move(line);
            const int index = int(m_sections.size());
            Group& group = m_groups[section.folded];
            if (group.firstSection < 0) group.firstSection = index;
            m_sections.push_back(std::move(section));
            continue;
        }
        if (m_sections.empty()) {
            // Keys before the first header belong to no section and are never read.
            m_preamble.push_back(std::move(line));
            continue;
        }
        Section& section = m_sections.back();
        parseKeyLine(line);
        if (line.eq >= 0) {
            const QString key = fold(trimBlanks(QStringView(line.text).left(line.eq)));
            Group& group = m_groups[section.folded];
            if (!group.keys.contains(key))
                group.keys.insert(key, KeyPos{int(m_sections.size()) - 1, qsizetype(section.body.size())});
        }
        if (!trimmed.isEmpty()) section.insertAt = qsizetype(section.body.size()) + 1;
        section.body.push_back(std::move(line));
    }
    return true;
}

const TIniFile::Line* TIniFile::findKey(const QString& section, const QString& key) const
{
    const auto group = m_groups.constFind(fold(trimBlanks(section)));
    if (group == m_groups.cend()) return nullptr;
    const auto pos = group->keys.constFind(fold(trimBlanks(key)));
    if (pos == group->keys.cend()) return nullptr;
    return &m_sections[size_t(pos->section)].body[size_t(pos->line)];
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const Line* line = findKey(section, key);
    if (line == nullptr) return defaultValue;
    const QStringView raw = QStringView(line->text).mid(line->eq + 1);
    qsizetype begin = 0;
    qsizetype end = raw.size();
    while (begin < end && isBlank(raw[begin])) ++begin;
    while (end > begin && isBlank(raw[end - 1])) --end;
    qsizetype length = std::min(end - begin, MaxValueChars);
    // Never hand out half of a surrogate pair.
    if (length < end - begin && length > 0 && raw[begin + length - 1].isHighSurrogate()) --length;
    return raw.mid(begin, length).toString();
}

bool TIniFile::ParseInteger(const QString& text, int* value)
{
    const qsizetype size = text.size();
    if (size > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        quint64 acc = 0;
        for (qsizetype i = 2; i < size; ++i) {
            const char16_t c = text[i].unicode();
            int digit;
            if (c >= u'0' && c <= u'9') digit = c - u'0';
            else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
            else return false;
            acc = acc * 16 + quint64(digit);
            if (acc > 0xFFFFFFFFull) return false;
        }
        // 32-bit pattern: 0xFFFFFFFF is -1, 0xFF000008 a system colour.
        *value = int(quint32(acc));
        return true;
    }

    qsizetype i = 0;
    bool negative = false;
    if (i < size && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == size) return false;
    qint64 acc = 0;
    for (; i < size; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return false;
        acc = acc * 10 + (c - u'0');
        if (acc > 2147483648LL) return false;
    }
    if (negative) acc = -acc;
    if (acc > 2147483647LL) return false;
    *value = int(acc);
    return true;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const
{
    int value = 0;
    return ParseInteger(ReadString(section, key), &value) ? value : defaultValue;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const
{
    int value = 0;
    return ParseInteger(ReadString(section, key), &value) ? value != 0 : defaultValue;
}

bool TIniFile::HasSection(const QString& section) const
{
    return m_groups.contains(fold(trimBlanks(section)));
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const
{
    return findKey(section, key) != nullptr;
}

QStringList TIniFile::Sections() const
{
    QStringList names;
    for (size_t s = 0; s < m_sections.size(); ++s) {
        if (m_groups.value(m_sections[s].folded).firstSection == int(s)) names.append(m_sections[s].name);
    }
    return names;
}

QStringList TIniFile::Keys(const QString& section) const
{
    QStringList names;
    const QString folded = fold(trimBlanks(section));
    const auto group = m_groups.constFind(folded);
    if (group == m_groups.cend()) return names;
    for (size_t s = 0; s < m_sections.size(); ++s) {
        if (m_sections[s].folded != folded) continue;
        const std::vector<Line>& body = m_sections[s].body;
        for (size_t l = 0; l < body.size(); ++l) {
            if (body[l].eq < 0) continue;
            const QString key = trimBlanks(QStringView(body[l].text).left(body[l].eq));
            const KeyPos pos = group->keys.value(fold(key));
            if (pos.section == int(s) && pos.line == qsizetype(l)) names.append(key);
        }
    }
    return names;
}

qsizetype TIniFile::addLine(int sectionIndex, Line line)
{
    Section& section = m_sections[size_t(sectionIndex)];
    // After the last non-blank line, so blank lines that separate sections stay at
    // the end; only blank lines move, and blank lines are never indexed.
    const qsizetype at = section.insertAt;
    section.body.insert(section.body.begin() + at, std::move(line));
    section.insertAt = at + 1;
    return at;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QString sectionName = trimBlanks(section);
    const QString keyName = trimBlanks(key);
    const auto breaksLine = [](const QString& s) { return s.contains(u'\r') || s.contains(u'\n'); };
    if (keyName.isEmpty() || keyName.contains(u'=') || keyName.startsWith(u'[') || keyName.startsWith(u';') ||
        breaksLine(keyName))
        return false;
    if (sectionName.contains(u']') || breaksLine(sectionName)) return false;

    // A line break inside a value would start a new line, so it becomes a space.
    QString flat = value;
    flat.replace(u'\r', u' ').replace(u'\n', u' ');

    const QString foldedSection = fold(sectionName);
    const QString foldedKey = fold(keyName);
    auto group = m_groups.find(foldedSection);
    if (group != m_groups.end()) {
        const auto pos = group->keys.constFind(foldedKey);
        if (pos != group->keys.cend()) {
            Line& line = m_sections[size_t(pos->section)].body[size_t(pos->line)];
            // An unchanged value leaves the line exactly as it was.
            if (QStringView(line.text).mid(line.eq + 1) == flat) return true;
            // The key keeps the spelling it has in the file.
            const QString lineKey = trimBlanks(QStringView(line.text).left(line.eq));
            line.text = lineKey + u'=' + flat;
            line.eq = lineKey.size();
            return true;
        }
    } else {
        Section created;
        created.name = sectionName;
        created.folded = foldedSection;
        created.header.text = u'[' + sectionName + u']';
        m_sections.push_back(std::move(created));
        group = m_groups.insert(foldedSection, Group{int(m_sections.size()) - 1, {}});
    }

    Line line;
    line.text = keyName + u'=' + flat;
    line.eq = keyName.size();
    const int sectionIndex = group->firstSection;
    const qsizetype at = addLine(sectionIndex, std::move(line));
    group->keys.insert(foldedKey, KeyPos{sectionIndex, at});
    return true;
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value)
{
    return WriteString(section, key, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::EraseSection(const QString& section)
{
    const QString folded = fold(trimBlanks(section));
    if (!m_groups.contains(folded)) return;
    std::erase_if(m_sections, [&folded](const Section& s) { return s.folded == folded; });
    // The indexes point into the sections by position: they are made again from the text.
    LoadFromData(SaveToData());
}

QByteArray TIniFile::SaveToData() const
{
    QString text;
    bool needBreak = false;
    const auto put = [&](const Line& line) {
        // A last line without a line end that is no longer last gets one.
        if (needBreak) text += u"\r\n";
        text += line.text;
        needBreak = false;
        switch (line.end) {
        case LineEnd::CrLf: text += u"\r\n"; break;
        case LineEnd::Lf: text += u'\n'; break;
        case LineEnd::Cr: text += u'\r'; break;
        case LineEnd::None: needBreak = true; break;
        }
    };
    for (const Line& line : m_preamble) put(line);
    for (const Section& section : m_sections) {
        put(section.header);
        for (const Line& line : section.body) put(line);
    }
    QByteArray data;
    if (m_bom) data.append(kBom, 3);
    data.append(text.toUtf8());
    return data;
}

bool TIniFile::Save(const QString& path, QString* error) const
{
    const QByteArray data = SaveToData();
    QString why;
    if (SaveFileWhole(path, data, &why)) return true;
    if (error != nullptr) *error = Msg(QStringLiteral("Unable to write to %1: %2")).arg(path, why);
    return false;
}
