#pragma once

// INI reader/writer with the Windows private-profile rules: sections and keys
// matched without regard to case, first occurrence wins, values trimmed of blanks
// and cut at 2,047 characters on reading, "0x" integers, writes that keep every
// other line where it was. QSettings is not used: it quotes, escapes and reorders.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

class TIniFile {
public:
    // Files above this size are not ours (the largest real one, a full send grid of
    // long texts, stays well below); they are refused and read as empty.
    static constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;
    // Same for a file of that size made of nothing but line breaks.
    static constexpr qsizetype MaxLines = 256 * 1024;
    static constexpr qsizetype MaxValueChars = 2047;

    TIniFile() = default;

    // False when the file is missing, unreadable, not a regular file or over the
    // limits above; the object is then empty, and *why says which. Any content within the
    // limits loads.
    bool Load(const QString& path, QString* why = nullptr);
    // False (and empty) only when over the limits.
    bool LoadFromData(const QByteArray& data);
    void Clear();

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue = {}) const;
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    bool HasSection(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList Sections() const;
    QStringList Keys(const QString& section) const;

    // Replaces the first occurrence in place, else appends the key to the end of its
    // section, else appends the section to the end of the file. The value is written
    // as given, except that CR and LF become spaces so it stays on its line. False
    // (nothing written) for names the file could not read back: an empty key, a key
    // containing '=' or starting with '[' or ';', a section containing ']', CR or LF.
    bool WriteString(const QString& section, const QString& key, const QString& value);
    bool WriteInteger(const QString& section, const QString& key, int value);
    bool WriteBool(const QString& section, const QString& key, bool value);
    // Removes the section with all its keys, wherever its name occurs; every other line stays.
    void EraseSection(const QString& section);

    // Whole file through a temporary file renamed over the old one, so a failed
    // write leaves the previous file intact. Lines end in CR LF; lines loaded and
    // not changed keep their own line ends.
    bool Save(const QString& path, QString* error = nullptr) const;
    QByteArray SaveToData() const;

    // Integer rule of the profile readers: optional sign and decimal digits, or
    // "0x"/"0X" with hex digits read as 32 bits; false for anything else.
    static bool ParseInteger(const QString& text, int* value);

private:
    enum class LineEnd : quint8 { CrLf, Lf, Cr, None };
    struct Line {
        QString text;
        LineEnd end = LineEnd::CrLf;
        qsizetype eq = -1; // position of '=' when the line is a key, else -1
    };
    struct Section {
        QString name;
        QString folded;
        Line header;
        std::vector<Line> body;
        qsizetype insertAt = 0; // just after the last non-blank line of the body
    };
    struct KeyPos {
        int section = -1;
        qsizetype line = -1;
    };
    struct Group { // all sections of one name
        int firstSection = -1;
        QHash<QString, KeyPos> keys; // folded key -> first occurrence
    };

    static QString fold(const QString& name);
    static QString trimBlanks(QStringView text);
    static void parseKeyLine(Line& line);
    const Line* findKey(const QString& section, const QString& key) const;
    qsizetype addLine(int sectionIndex, Line line);

    bool m_bom = false;
    std::vector<Line> m_preamble; // lines before the first section header
    std::vector<Section> m_sections;
    QHash<QString, Group> m_groups; // folded section name -> group
};
