#pragma once

// The two UI languages: the caption table, the language files, the fixed texts and the
// banner. Nothing here touches a widget.

#include "CvMessages.h"

#include <QList>
#include <QString>
#include <QStringList>

struct TLang {
    QString Name;     // control name, or OPRATION_OPEN / OPRATION_OPEN2 / OPRATION_CLOSE
    QString Caption1; // Chinese; only the three operation rows have one
    QString Caption2; // English
};

// 59 rows; the row number is the language-file key "MESSAGE_" + row.
const QList<TLang>& LangTable();

// Caption of the first row named Name (case-sensitive): Caption1 for "CN", else
// Caption2; empty when no row has that name.
QString GetLangCaption(const QString& Name, const QString& Lang);
// "MESSAGE_" + the first row named Name, or empty.
QString GetLangKey(const QString& Name);

inline const QString LangSection = QStringLiteral("LANGUAGE");

struct TCaptionItem {
    QString Key;
    QString Caption;
};

// An existing file gives every item the value of its key (the item's caption when the
// key is missing or the file cannot be read). A missing file is created with the
// items' captions, which stay as they are. Returns true when the file existed.
bool ApplyLangFileTo(const QString& fileName, QList<TCaptionItem>& items);

// Texts the language switch sets outside the table.
struct TFixedTexts {
    QString Title;         // application title and window caption
    QStringList Notebook1; // settings, advanced
    QString Notebook2Log;  // main log page while no device writes into it
    QString Notebook2Graphic;
    QString Notebook2Help;
    QStringList Notebook3;  // block send, single send, protocol, graphic, answer rules, script
    QStringList GridHeader; // columns 0-3 of StringGrid1
    QString StatusHint;     // status bar panel 0
};
// English for "EN", Chinese for anything else.
const TFixedTexts& FixedTexts(const QString& Lang);

inline const QString VersionText = QStringLiteral("Version :4.20");
// Where the support line and the help page point; there is no product site yet, so
// both name places that do not answer and the help page stays on the local file.
inline const QString SupportAddress = QStringLiteral("support@corvane.example.org");
inline const QString ProductWebAddress = QStringLiteral("http://corvane.example.org/");
inline const QString ProductHelpAddress = QStringLiteral("http://corvane.example.org/help/");
// An outside site that is always up: when it answers, the machine is online.
inline const QString OnlineProbeAddress = QStringLiteral("http://example.com/");

// Five lines, the first and last 61 '#'; English for "EN", Chinese otherwise.
QStringList BannerLines(const QString& Lang);
