#pragma once

#include "CvCodecs.h"
#include "TCvReceiveObserver.h"

#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>

#include <deque>

class TCvComPortObj;
class TIniFile;

// Text as the user types it on one line: \r \n \t \e \0 \\ and \xHH stand for the
// characters they name; any other backslash is refused (false, *error says what and where).
bool UnescapeText(const QString& typed, QString* out, QString* error = nullptr);
// The reverse, for showing text in a log line or a cell: control characters and the
// backslash in the escapes above, everything else as it is.
QString EscapeText(const QString& text);

// One answer rule: when the received text contains a text, or matches a regular
// expression, or the received bytes hold a byte sequence, send a text or bytes after a delay.
struct TCvAnswerRule {
    enum class TWhen { Contains, RegExp, Hex };
    enum class TSend { Text, Hex };
    bool Enabled = true;
    TWhen When = TWhen::Contains;
    // As typed: text with escapes (Contains), a regular expression (RegExp), hex bytes (Hex).
    QString Match;
    TSend Send = TSend::Text;
    // As typed: text with escapes, or hex bytes.
    QString Answer;
    int DelayMs = 0;
    bool operator==(const TCvAnswerRule&) const = default;
};

// The names the settings file uses: "contains", "regexp", "hex"; "text", "hex".
QString AnswerWhenName(TCvAnswerRule::TWhen w);
QString AnswerSendName(TCvAnswerRule::TSend s);

// Why a rule cannot be used as written (a bad escape, regular expression or hex text, an
// empty match, a delay out of range, a text the encoding cannot hold), or empty.
QString AnswerRuleProblem(const TCvAnswerRule& rule, TTextEncoding encoding);

// The answer rules of one port. It watches what the port receives and answers through the
// port's send path, on the port object's thread. Texts are matched against the received
// text as the port decodes it (its encoding, line breaks brought to CR LF), hex rules
// against the bytes; a match split across reads is found. Each rule answers at most
// kMaxPerSecond times a second. A rule whose answer would match itself, or that matches
// the echo of its own answer, is stopped and said once in the port's log: never a storm.
class TCvAnswerRules : public QObject, public TCvReceiveObserver {
    Q_OBJECT
public:
    static constexpr int kMaxRules = 64;
    static constexpr int kMaxPerSecond = 10;
    // How far back (characters, or bytes for hex rules) a match may begin before the
    // newest read; longer texts are matched only when they come in whole.
    static constexpr int kLookBack = 1024;
    // How long after an answer the rule watches for its echo.
    static constexpr int kEchoWindowMs = 2000;
    static constexpr int kMaxDelayMs = 60000;
    // The section of the port's settings file.
    static inline const QString Section = QStringLiteral("AnswerRules");

    explicit TCvAnswerRules(TCvComPortObj* port);
    ~TCvAnswerRules() override;

    const QList<TCvAnswerRule>& Rules() const { return FRules; }
    // Replaces the rules (at most kMaxRules); every rule starts afresh, stopped ones too.
    void SetRules(const QList<TCvAnswerRule>& rules);
    // Per rule: why it is not used (a problem as written, or why it was stopped), or empty.
    QStringList States() const;
    bool IsStopped(int index) const;
    // How often each rule has answered since the rules were set.
    int AnswerCount(int index) const;

    void Store(TIniFile& ini) const;
    void Load(const TIniFile& ini);

    void Received(const QByteArray& bytes, const QString* text) override;

signals:
    // A rule answered or was stopped.
    void StateChanged();

private:
    struct TState {
        bool Usable = false;
        QString Problem;
        bool Stopped = false;
        QString StopReason;
        bool RateTold = false;
        int Answers = 0;
        // Recent received text (or bytes) and where the search goes on.
        QString Win;
        QByteArray WinBytes;
        qsizetype From = 0;
        QString Needle;
        QByteArray NeedleBytes;
        QRegularExpression Re;
        // The echo of the last answer as it would be received, and until when to look for it.
        QString EchoText;
        QByteArray EchoBytes;
        qint64 EchoUntil = 0;
        std::deque<qint64> Fired;
    };

    void Prepare();
    void MatchText(int index, const QString& text);
    void MatchBytes(int index, const QByteArray& bytes);
    // A match [start, end) of the window: answers, unless it must not.
    void Matched(int index, qsizetype start, qsizetype end);
    bool SelfMatch(int index, const QString& echoText, const QByteArray& echoBytes) const;
    bool EchoOverlaps(const TState& s, qsizetype start, qsizetype end) const;
    void Stop(int index, const QString& reason);
    void Answer(int index, quint64 generation);
    // The answer as it would come back: its text with the port's line breaks, or its bytes.
    bool AnswerEcho(int index, QString* text, QByteArray* bytes, QByteArray* wire, QString* why) const;
    // The answer as the log shows it: "text" with escapes, or hex.
    QString ShownAnswer(int index, const QByteArray& wire) const;
    // Logs on the port after its receive handler has returned.
    void LogLater(const QString& line);

    TCvComPortObj* FPort;
    QList<TCvAnswerRule> FRules;
    std::vector<TState> FStates;
    quint64 FGeneration = 0;
    bool FAnyUsable = false;
    // What the rules were made ready for: a port that changes them makes them ready again.
    TTextEncoding FPreparedEncoding = kDefaultTextEncoding;
    TLineBreaks FPreparedBreaks = TLineBreaks::Any;
    // Text for the rules when the port does not decode (formats other than ASCII).
    TTextDecoder FDecoder;
    TLineBreakFilter FBreaks;
};
