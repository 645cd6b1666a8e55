#include "TCvAnswerRules.h"

#include "CvMessages.h"
#include "IniFile.h"
#include "TComUIHandleHost.h"
#include "TCvComPortObj.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

bool UnescapeText(const QString& typed, QString* out, QString* error)
{
    QString text;
    text.reserve(typed.size());
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const QChar c = typed[i];
        if (c != u'\\') {
            text += c;
            continue;
        }
        const auto refuse = [&](const QString& what) {
            if (error) *error = what.arg(i + 1);
            return false;
        };
        if (i + 1 >= typed.size())
            return refuse(Msg(u"A backslash ends the text at position %1 (write \\\\ for one)."_s));
        const QChar e = typed[++i];
        switch (e.unicode()) {
        case u'r': text += u'\r'; break;
        case u'n': text += u'\n'; break;
        case u't': text += u'\t'; break;
        case u'e': text += QChar(0x1B); break;
        case u'0': text += QChar(0); break;
        case u'\\': text += u'\\'; break;
        case u'x': {
            const auto isHex = [&typed](qsizetype at) {
                return at < typed.size() && QStringView(u"0123456789abcdefABCDEF").contains(typed[at]);
            };
            if (!isHex(i + 1) || !isHex(i + 2)) {
                --i;
                return refuse(Msg(u"\\x at position %1 wants two hex digits."_s));
            }
            text += QChar(HexPairToByte(typed[i + 1], typed[i + 2]));
            i += 2;
            break;
        }
        default:
            --i;
            return refuse(Msg(u"Unknown escape at position %1: use \\r \\n \\t \\e \\0 \\\\ or \\xHH."_s));
        }
    }
    *out = text;
    return true;
}

QString EscapeText(const QString& text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\': out += u"\\\\"_s; break;
        case u'\r': out += u"\\r"_s; break;
        case u'\n': out += u"\\n"_s; break;
        case u'\t': out += u"\\t"_s; break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                out += u"\\x"_s + QString::number(c.unicode(), 16).rightJustified(2, u'0').toUpper();
            else out += c;
        }
    }
    return out;
}

QString AnswerWhenName(TCvAnswerRule::TWhen w)
{
    switch (w) {
    case TCvAnswerRule::TWhen::Contains: return u"contains"_s;
    case TCvAnswerRule::TWhen::RegExp: return u"regexp"_s;
    case TCvAnswerRule::TWhen::Hex: return u"hex"_s;
    }
    return {};
}

QString AnswerSendName(TCvAnswerRule::TSend s)
{
    return s == TCvAnswerRule::TSend::Hex ? u"hex"_s : u"text"_s;
}

namespace {

// The text as received text would show it: line breaks brought to CR LF as the port does.
QString WithBreaks(const QString& text, TLineBreaks mode)
{
    TLineBreakFilter f;
    f.SetMode(mode);
    return f.Apply(text);
}

// A regular expression that can match nothing at all would answer every read.
bool MatchesEmpty(const QRegularExpression& re)
{
    return re.match(QString()).hasMatch();
}

// Texts kept in the settings file: blanks at their ends and line breaks would not survive
// the file, so they are written as escapes, which mean the same in a text and in a
// regular expression.
QString ProtectForFile(const QString& typed)
{
    QString s = typed;
    s.replace(u'\r', u"\\r"_s).replace(u'\n', u"\\n"_s).replace(u'\t', u"\\t"_s);
    qsizetype lead = 0;
    while (lead < s.size() && s[lead] == u' ') ++lead;
    qsizetype trail = s.size();
    while (trail > lead && s[trail - 1] == u' ') --trail;
    QString middle = s.mid(lead, trail - lead);
    // "\ " (a space escaped in a regular expression) is a space of its own.
    qsizetype slashes = 0;
    while (slashes < middle.size() && middle[middle.size() - 1 - slashes] == u'\\') ++slashes;
    qsizetype trailing = s.size() - trail;
    if (trailing > 0 && slashes % 2 == 1) middle.chop(1);
    return u"\\x20"_s.repeated(lead) + middle + u"\\x20"_s.repeated(trailing);
}

// The blanks at the ends back as the user typed them.
QString FromFile(const QString& stored)
{
    const QString blank = u"\\x20"_s;
    qsizetype from = 0, lead = 0;
    while (stored.mid(from, 4) == blank) {
        from += 4;
        ++lead;
    }
    qsizetype end = stored.size(), trail = 0;
    while (end - 4 >= from && stored.mid(end - 4, 4) == blank) {
        // "\\x20" is a backslash and "x20", no blank.
        qsizetype slashes = 0;
        while (end - 5 - slashes >= from && stored[end - 5 - slashes] == u'\\') ++slashes;
        if (slashes % 2 == 1) break;
        end -= 4;
        ++trail;
    }
    return QString(lead, u' ') + stored.mid(from, end - from) + QString(trail, u' ');
}

QString HexForFile(const QString& typed)
{
    QString s = typed;
    s.replace(u'\r', u' ').replace(u'\n', u' ').replace(u'\t', u' ');
    return s.trimmed();
}

} // namespace

QString AnswerRuleProblem(const TCvAnswerRule& rule, TTextEncoding encoding)
{
    QString why;
    switch (rule.When) {
    case TCvAnswerRule::TWhen::Contains: {
        QString text;
        if (!UnescapeText(rule.Match, &text, &why)) return Msg(u"When: %1"_s).arg(why);
        if (text.isEmpty()) return Msg(u"When: nothing to look for."_s);
        break;
    }
    case TCvAnswerRule::TWhen::RegExp: {
        if (rule.Match.isEmpty()) return Msg(u"When: nothing to look for."_s);
        const QRegularExpression re(rule.Match);
        if (!re.isValid())
            return Msg(u"When: the regular expression is wrong at position %1: %2"_s)
                .arg(re.patternErrorOffset() + 1)
                .arg(re.errorString());
        if (MatchesEmpty(re)) return Msg(u"When: the regular expression matches an empty text."_s);
        break;
    }
    case TCvAnswerRule::TWhen::Hex: {
        QByteArray bytes;
        if (!ParseHexText(rule.Match, &bytes, &why)) return Msg(u"When: %1"_s).arg(why);
        if (bytes.isEmpty()) return Msg(u"When: nothing to look for."_s);
        break;
    }
    }
    if (rule.Send == TCvAnswerRule::TSend::Text) {
        QString text;
        if (!UnescapeText(rule.Answer, &text, &why)) return Msg(u"Answer: %1"_s).arg(why);
        if (text.isEmpty()) return Msg(u"Answer: nothing to send."_s);
        QByteArray wire;
        qsizetype bad = 0;
        if (!EncodeText(text, encoding, &wire, &bad))
            return Msg(u"Answer: %1"_s).arg(UnencodableMessage(text, bad, encoding));
    } else {
        QByteArray bytes;
        if (!ParseHexText(rule.Answer, &bytes, &why)) return Msg(u"Answer: %1"_s).arg(why);
        if (bytes.isEmpty()) return Msg(u"Answer: nothing to send."_s);
    }
    if (rule.DelayMs < 0 || rule.DelayMs > TCvAnswerRules::kMaxDelayMs)
        return Msg(u"The delay must be 0 to %1 ms."_s).arg(TCvAnswerRules::kMaxDelayMs);
    return {};
}

TCvAnswerRules::TCvAnswerRules(TCvComPortObj* port) : FPort(port) {}

TCvAnswerRules::~TCvAnswerRules() = default;

void TCvAnswerRules::SetRules(const QList<TCvAnswerRule>& rules)
{
    FRules = rules.mid(0, kMaxRules);
    // Answers still waiting for their delay belong to the old rules.
    ++FGeneration;
    Prepare();
    emit StateChanged();
}

void TCvAnswerRules::Prepare()
{
    FStates.assign(std::size_t(FRules.size()), TState{});
    FAnyUsable = false;
    const TTextEncoding encoding = FPort->TextEncoding();
    FPreparedEncoding = encoding;
    FPreparedBreaks = FPort->LineBreaks();
    for (qsizetype i = 0; i < FRules.size(); ++i) {
        const TCvAnswerRule& r = FRules[i];
        TState& s = FStates[std::size_t(i)];
        s.Problem = AnswerRuleProblem(r, encoding);
        s.Usable = r.Enabled && s.Problem.isEmpty();
        if (!s.Usable) continue;
        FAnyUsable = true;
        if (r.When == TCvAnswerRule::TWhen::Contains) {
            QString text;
            UnescapeText(r.Match, &text);
            s.Needle = WithBreaks(text, FPort->LineBreaks());
        } else if (r.When == TCvAnswerRule::TWhen::RegExp) {
            s.Re = QRegularExpression(r.Match);
        } else {
            ParseHexText(r.Match, &s.NeedleBytes);
        }
    }
}

QStringList TCvAnswerRules::States() const
{
    QStringList out;
    for (qsizetype i = 0; i < FRules.size(); ++i) {
        const TState& s = FStates[std::size_t(i)];
        out << (!s.Problem.isEmpty() ? s.Problem : s.Stopped ? s.StopReason : QString());
    }
    return out;
}

bool TCvAnswerRules::IsStopped(int index) const
{
    return index >= 0 && std::size_t(index) < FStates.size() && FStates[std::size_t(index)].Stopped;
}

int TCvAnswerRules::AnswerCount(int index) const
{
    return index >= 0 && std::size_t(index) < FStates.size() ? FStates[std::size_t(index)].Answers : 0;
}

void TCvAnswerRules::Store(TIniFile& ini) const
{
    ini.EraseSection(Section);
    if (FRules.isEmpty()) return;
    ini.WriteInteger(Section, u"Count"_s, int(FRules.size()));
    for (qsizetype i = 0; i < FRules.size(); ++i) {
        const TCvAnswerRule& r = FRules[i];
        const QString k = u"Rule%1_"_s.arg(i + 1);
        ini.WriteBool(Section, k + u"On"_s, r.Enabled);
        ini.WriteString(Section, k + u"When"_s, AnswerWhenName(r.When));
        ini.WriteString(Section, k + u"Match"_s,
                        r.When == TCvAnswerRule::TWhen::Hex ? HexForFile(r.Match) : ProtectForFile(r.Match));
        ini.WriteString(Section, k + u"Send"_s, AnswerSendName(r.Send));
        ini.WriteString(Section, k + u"Answer"_s,
                        r.Send == TCvAnswerRule::TSend::Hex ? HexForFile(r.Answer)
                                                            : ProtectForFile(r.Answer));
        ini.WriteInteger(Section, k + u"DelayMs"_s, r.DelayMs);
    }
}

void TCvAnswerRules::Load(const TIniFile& ini)
{
    QList<TCvAnswerRule> rules;
    const int count = std::clamp(ini.ReadInteger(Section, u"Count"_s, 0), 0, kMaxRules);
    for (int i = 0; i < count; ++i) {
        const QString k = u"Rule%1_"_s.arg(i + 1);
        TCvAnswerRule r;
        r.Enabled = ini.ReadBool(Section, k + u"On"_s, false);
        const QString when = ini.ReadString(Section, k + u"When"_s).toLower();
        const QString send = ini.ReadString(Section, k + u"Send"_s).toLower();
        r.When = when == u"regexp"_s ? TCvAnswerRule::TWhen::RegExp
                 : when == u"hex"_s  ? TCvAnswerRule::TWhen::Hex
                                     : TCvAnswerRule::TWhen::Contains;
        r.Send = send == u"hex"_s ? TCvAnswerRule::TSend::Hex : TCvAnswerRule::TSend::Text;
        r.Match = ini.ReadString(Section, k + u"Match"_s);
        r.Answer = ini.ReadString(Section, k + u"Answer"_s);
        if (r.When != TCvAnswerRule::TWhen::Hex) r.Match = FromFile(r.Match);
        if (r.Send != TCvAnswerRule::TSend::Hex) r.Answer = FromFile(r.Answer);
        r.DelayMs = ini.ReadInteger(Section, k + u"DelayMs"_s, 0);
        // A kind this version does not know is kept, switched off, rather than guessed.
        const bool known =
            (when.isEmpty() || when == u"contains"_s || when == u"regexp"_s || when == u"hex"_s) &&
            (send.isEmpty() || send == u"text"_s || send == u"hex"_s);
        if (!known) r.Enabled = false;
        rules << r;
    }
    SetRules(rules);
}

void TCvAnswerRules::Received(const QByteArray& bytes, const QString* text)
{
    if (FRules.isEmpty() || bytes.isEmpty()) return;
    // Another encoding or other line breaks: the texts are read anew (and told again).
    if (FPort->TextEncoding() != FPreparedEncoding || FPort->LineBreaks() != FPreparedBreaks) {
        Prepare();
        emit StateChanged();
    }
    if (!FAnyUsable) return;
    bool anyText = false;
    for (std::size_t i = 0; i < FStates.size(); ++i)
        if (FStates[i].Usable && !FStates[i].Stopped &&
            FRules[qsizetype(i)].When != TCvAnswerRule::TWhen::Hex)
            anyText = true;
    QString decoded;
    if (anyText && !text) {
        // The port shows bytes here (hex, waveform, protocol): the rules decode as it would.
        if (FDecoder.Encoding() != FPort->TextEncoding()) FDecoder.SetEncoding(FPort->TextEncoding());
        if (FBreaks.Mode() != FPort->LineBreaks()) FBreaks.SetMode(FPort->LineBreaks());
        decoded = FBreaks.Apply(FDecoder.Decode(bytes.constData(), bytes.size()));
        text = &decoded;
    }
    for (std::size_t i = 0; i < FStates.size(); ++i) {
        const TState& s = FStates[i];
        if (!s.Usable || s.Stopped) continue;
        if (FRules[qsizetype(i)].When == TCvAnswerRule::TWhen::Hex) MatchBytes(int(i), bytes);
        else if (text && !text->isEmpty()) MatchText(int(i), *text);
    }
}

void TCvAnswerRules::MatchText(int index, const QString& text)
{
    TState& s = FStates[std::size_t(index)];
    const bool regexp = FRules[index].When == TCvAnswerRule::TWhen::RegExp;
    s.Win += text;
    while (!s.Stopped && s.From <= s.Win.size()) {
        qsizetype start = -1, end = -1;
        if (regexp) {
            const QRegularExpressionMatch m = s.Re.match(s.Win, s.From);
            if (!m.hasMatch()) break;
            start = m.capturedStart();
            end = m.capturedEnd();
            // An empty match would answer every read: it is passed over.
            if (end == start) {
                s.From = start + 1;
                continue;
            }
        } else {
            start = s.Win.indexOf(s.Needle, s.From);
            if (start < 0) break;
            end = start + s.Needle.size();
        }
        s.From = end;
        Matched(index, start, end);
    }
    const qsizetype keep = std::max<qsizetype>(kLookBack, 2 * s.Needle.size());
    if (s.Win.size() > keep) {
        const qsizetype cut = s.Win.size() - keep;
        s.Win.remove(0, cut);
        s.From = std::max<qsizetype>(0, s.From - cut);
    }
}

void TCvAnswerRules::MatchBytes(int index, const QByteArray& bytes)
{
    TState& s = FStates[std::size_t(index)];
    s.WinBytes += bytes;
    while (!s.Stopped) {
        const qsizetype start = s.WinBytes.indexOf(s.NeedleBytes, s.From);
        if (start < 0) break;
        const qsizetype end = start + s.NeedleBytes.size();
        s.From = end;
        Matched(index, start, end);
    }
    const qsizetype keep = std::max<qsizetype>(kLookBack, 2 * s.NeedleBytes.size());
    if (s.WinBytes.size() > keep) {
        const qsizetype cut = s.WinBytes.size() - keep;
        s.WinBytes.remove(0, cut);
        s.From = std::max<qsizetype>(0, s.From - cut);
    }
}

bool TCvAnswerRules::AnswerEcho(int index, QString* text, QByteArray* bytes, QByteArray* wire,
                                QString* why) const
{
    const TCvAnswerRule& r = FRules[index];
    const TTextEncoding encoding = FPort->TextEncoding();
    if (r.Send == TCvAnswerRule::TSend::Text) {
        QString answer;
        if (!UnescapeText(r.Answer, &answer, why)) return false;
        qsizetype bad = 0;
        if (!EncodeText(answer, encoding, wire, &bad)) {
            *why = UnencodableMessage(answer, bad, encoding);
            return false;
        }
    } else if (!ParseHexText(r.Answer, wire, why)) {
        return false;
    }
    *bytes = *wire;
    TTextDecoder decoder(encoding);
    *text = WithBreaks(decoder.Decode(wire->constData(), wire->size()), FPort->LineBreaks());
    return true;
}

bool TCvAnswerRules::SelfMatch(int index, const QString& echoText, const QByteArray& echoBytes) const
{
    const TState& s = FStates[std::size_t(index)];
    switch (FRules[index].When) {
    case TCvAnswerRule::TWhen::Contains: return echoText.contains(s.Needle);
    case TCvAnswerRule::TWhen::RegExp: {
        for (QRegularExpressionMatchIterator it = s.Re.globalMatch(echoText); it.hasNext();)
            if (it.next().capturedLength() > 0) return true;
        return false;
    }
    case TCvAnswerRule::TWhen::Hex: return echoBytes.contains(s.NeedleBytes);
    }
    return false;
}

bool TCvAnswerRules::EchoOverlaps(const TState& s, qsizetype start, qsizetype end) const
{
    if (SteadyMs() > s.EchoUntil) return false;
    const auto overlaps = [start, end](const auto& win, const auto& echo) {
        if (echo.isEmpty()) return false;
        for (qsizetype p = win.indexOf(echo, std::max<qsizetype>(0, start - echo.size() + 1));
             p >= 0 && p < end; p = win.indexOf(echo, p + 1))
            if (p + echo.size() > start) return true;
        return false;
    };
    return s.NeedleBytes.isEmpty() ? overlaps(s.Win, s.EchoText) : overlaps(s.WinBytes, s.EchoBytes);
}

void TCvAnswerRules::Matched(int index, qsizetype start, qsizetype end)
{
    TState& s = FStates[std::size_t(index)];
    const TCvAnswerRule& r = FRules[index];
    if (EchoOverlaps(s, start, end)) {
        Stop(index, Msg(u"it matched the echo of its own answer."_s));
        return;
    }
    QString echoText, why;
    QByteArray echoBytes, wire;
    if (!AnswerEcho(index, &echoText, &echoBytes, &wire, &why)) {
        Stop(index, why);
        return;
    }
    if (SelfMatch(index, echoText, echoBytes)) {
        Stop(index, Msg(u"its answer %1 would match the rule itself, so an echo would make it answer again "
                        u"and again."_s)
                        .arg(ShownAnswer(index, wire)));
        return;
    }
    const qint64 now = SteadyMs();
    while (!s.Fired.empty() && now - s.Fired.front() >= 1000) s.Fired.pop_front();
    if (int(s.Fired.size()) >= kMaxPerSecond) {
        if (!s.RateTold) {
            s.RateTold = true;
            LogLater(
                Msg(u"Answer rule %1 matched more than %2 times in a second; it does not answer more often."_s)
                    .arg(index + 1)
                    .arg(kMaxPerSecond));
        }
        return;
    }
    s.Fired.push_back(now);
    s.EchoText = echoText;
    s.EchoBytes = echoBytes;
    s.EchoUntil = now + r.DelayMs + kEchoWindowMs;
    // Never from inside the receive handler: the text that matched is shown first.
    QTimer::singleShot(r.DelayMs, this,
                       [this, index, generation = FGeneration] { Answer(index, generation); });
}

void TCvAnswerRules::Answer(int index, quint64 generation)
{
    if (generation != FGeneration || index >= FRules.size()) return;
    TState& s = FStates[std::size_t(index)];
    if (s.Stopped || !FPort->Connected()) return;
    QString echoText, why;
    QByteArray echoBytes, wire;
    if (!AnswerEcho(index, &echoText, &echoBytes, &wire, &why)) {
        Stop(index, why);
        return;
    }
    FPort->SendBytes(wire, {Msg(u"[rule %1] > %2"_s).arg(index + 1).arg(ShownAnswer(index, wire))});
    ++s.Answers;
    emit StateChanged();
}

QString TCvAnswerRules::ShownAnswer(int index, const QByteArray& wire) const
{
    if (FRules[index].Send == TCvAnswerRule::TSend::Hex)
        return HexText(reinterpret_cast<const quint8*>(wire.constData()), wire.size()).trimmed();
    QString text;
    UnescapeText(FRules[index].Answer, &text);
    return u'"' + EscapeText(text) + u'"';
}

void TCvAnswerRules::Stop(int index, const QString& reason)
{
    TState& s = FStates[std::size_t(index)];
    if (s.Stopped) return;
    s.Stopped = true;
    s.StopReason = Msg(u"Stopped: %1"_s).arg(reason);
    LogLater(Msg(u"Answer rule %1 is stopped: %2"_s).arg(index + 1).arg(reason));
}

void TCvAnswerRules::LogLater(const QString& line)
{
    QTimer::singleShot(0, this, [this, line] {
        FPort->Log(line);
        emit StateChanged();
    });
}
