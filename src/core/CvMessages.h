#pragma once

// The texts the program writes into logs or shows in message boxes, in the UI language.
// One table holds every message: its English text, which is also its key and what the
// English UI shows, and its Chinese text. Texts with arguments carry %1, %2 ... in both
// languages; the caller fills them in after the look-up.

#include <QList>
#include <QString>

struct TCvMessage {
    QString English;
    QString Chinese;
};

const QList<TCvMessage>& MessageTable();

// "CN" or "EN", the language messages are given in; English until the window sets it. Any
// thread may ask, the window sets it on the GUI thread at every language change.
void SetMessageLanguage(const QString& Lang);
QString MessageLanguage();

// The message of that English text in the current (or the given) language. A text that is
// not in the table comes back unchanged, so a missing row shows English rather than nothing.
QString Msg(const QString& English);
QString Msg(const QString& English, const QString& Lang);

// A caption in both languages, for a control outside the window's language table.
struct TCaption {
    QString CN;
    QString EN;
};
inline const QString& Pick(const TCaption& c, const QString& lang)
{
    return lang == QStringLiteral("EN") ? c.EN : c.CN;
}
