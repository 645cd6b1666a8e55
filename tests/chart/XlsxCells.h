#pragma once

// Reads the cells of an .xlsx file back from its XML parts, for the export tests.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>

using Cells = QMap<QString, QString>; // "B2" -> value as text

inline QByteArray Unzip(const QString& file, const QString& member)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), file, member});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return QByteArray();
    return p.readAllStandardOutput();
}

// The cells of the first worksheet of an .xlsx file, read from its XML parts.
inline Cells XlsxCells(const QString& file)
{
    QStringList shared;
    QXmlStreamReader strings(Unzip(file, QStringLiteral("xl/sharedStrings.xml")));
    while (!strings.atEnd())
        if (strings.readNext() == QXmlStreamReader::StartElement && strings.name() == QLatin1String("t"))
            shared << strings.readElementText();
    Cells out;
    QXmlStreamReader xml(Unzip(file, QStringLiteral("xl/worksheets/sheet1.xml")));
    QString ref, type;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("c")) {
            ref = xml.attributes().value(QLatin1String("r")).toString();
            type = xml.attributes().value(QLatin1String("t")).toString();
        } else if (xml.name() == QLatin1String("v")) {
            const QString v = xml.readElementText();
            out[ref] =
                type == QLatin1String("s") ? shared.value(v.toInt()) : QString::number(v.toDouble(), 'g', 17);
        } else if (xml.name() == QLatin1String("t") && type == QLatin1String("inlineStr")) {
            out[ref] = xml.readElementText();
        }
    }
    return out;
}
