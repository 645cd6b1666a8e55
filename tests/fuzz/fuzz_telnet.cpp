// Whatever an RFC 2217 server sends, in whatever pieces: the data that comes out is what a
// small decoder of the Telnet rules below gives, what the client sends back is well formed
// and bounded however long the input, and each repeated condition is told once.
//
// Input: [flags][piece sizes: 1 byte][the server's bytes: the rest]
//   flags bit 0..1: line settings asked for before the session, after it starts, between
//   pieces or never; bit 2: DTR asked for between pieces.

#include "SerialLine.h"
#include "TNetworkLink.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <sys/ioctl.h>

namespace {

void check(bool ok)
{
    if (!ok) std::abort();
}

enum : quint8 { SE = 240, SB = 250, WILL = 251, WONT = 252, DO = 253, DONT = 254, IAC = 255 };

// The link with the socket left out: what it would send is kept here instead.
class TLinkUnderTest : public TRfc2217Link {
public:
    TLinkUnderTest() : TRfc2217Link(TNetworkAddress::Parse(QStringLiteral("rfc2217://127.0.0.1:2217"))) {}
    using TRfc2217Link::OnConnected;
    using TRfc2217Link::Take;
    QByteArray sent;

protected:
    void SendRaw(const QByteArray& bytes) override { sent += bytes; }
};

// The data of a Telnet stream by RFC 854, with the client's bound on a subnegotiation:
// IAC IAC is a data byte; IAC WILL/WONT/DO/DONT take an option byte; IAC SB opens a
// subnegotiation that IAC SE closes (IAC IAC inside is a byte of it), that another command
// cuts short, and that is given up after kMaxSubBytes bytes, what follows being data again;
// any other command is one byte.
QByteArray ReferenceData(const QByteArray& in)
{
    enum { Data, Iac, Option, Sub, SubIac } st = Data;
    int sub = 0;
    QByteArray out;
    const auto command = [&](quint8 c) {
        if (c >= WILL && c <= DONT) st = Option;
        else if (c == SB) {
            st = Sub;
            sub = 0;
        } else st = Data;
    };
    for (qsizetype i = 0; i < in.size(); ++i) {
        const quint8 c = quint8(in[i]);
        if ((st == Sub || st == SubIac) && sub >= TRfc2217Link::kMaxSubBytes) {
            st = Data;
            --i;
            continue;
        }
        switch (st) {
        case Data:
            if (c == IAC) st = Iac;
            else out.append(char(c));
            break;
        case Iac:
            if (c == IAC) {
                out.append(char(IAC));
                st = Data;
            } else {
                command(c);
            }
            break;
        case Option: st = Data; break;
        case Sub:
            ++sub;
            if (c == IAC) st = SubIac;
            break;
        case SubIac:
            ++sub;
            if (c == IAC) st = Sub;
            else if (c == SE) st = Data;
            else command(c);
            break;
        }
    }
    return out;
}

// The client's bytes are Telnet commands only: negotiations and COM port subnegotiations.
void CheckWellFormed(const QByteArray& sent)
{
    qsizetype i = 0;
    while (i < sent.size()) {
        check(quint8(sent[i]) == IAC && i + 2 < sent.size());
        const quint8 verb = quint8(sent[i + 1]);
        if (verb >= WILL && verb <= DONT) {
            i += 3;
            continue;
        }
        check(verb == SB && quint8(sent[i + 2]) == 44);
        i += 3;
        bool closed = false;
        while (i < sent.size()) {
            if (quint8(sent[i]) != IAC) {
                ++i;
                continue;
            }
            check(i + 1 < sent.size());
            const quint8 next = quint8(sent[i + 1]);
            i += 2;
            if (next == SE) {
                closed = true;
                break;
            }
            check(next == IAC);
        }
        check(closed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const quint8 flags = data[0];
    const int pieceSize = 1 + data[1] % 64;
    const QByteArray stream(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    TLinkUnderTest link;
    QStringList told;
    QObject::connect(&link, &TPortLink::Message, [&](const QString& text) { told << text; });
    TLineSettings line;
    line.baud = 115200;
    line.dataBits = 8;
    const int when = flags & 3;
    if (when == 0) link.ApplyLine(line);
    link.OnConnected();
    if (when == 1) link.ApplyLine(line);
    // Our own requests and the settings: not what the server made us say.
    qint64 ours = link.sent.size();

    QByteArray got;
    char buffer[256];
    int piece = 0;
    for (qsizetype at = 0; at < stream.size(); at += pieceSize, ++piece) {
        link.Take(stream.constData() + at, std::min<qsizetype>(pieceSize, stream.size() - at));
        for (qint64 n; (n = link.Read(buffer, sizeof buffer)) > 0;) got.append(buffer, n);
        if (when == 2 && piece % 7 == 0) {
            const qint64 before = link.sent.size();
            line.baud = line.baud == 115200 ? 9600 : 115200;
            link.ApplyLine(line);
            ours += link.sent.size() - before;
        }
        if ((flags & 4) && piece % 5 == 0) {
            const qint64 before = link.sent.size();
            link.SetModemLine(TIOCM_DTR, piece % 10 == 0);
            ours += link.sent.size() - before;
        }
    }
    check(got == ReferenceData(stream));
    CheckWellFormed(link.sent);

    // What the server made us say is bounded whatever it sent: per option and side a few
    // refusals and a few switches on (with the settings again for COM port control).
    const qint64 answers = link.sent.size() - ours;
    check(answers <= 256 * 2 * TRfc2217Link::kMaxRefusals * 3 + 5 * 2 * TRfc2217Link::kMaxEnables * 3 +
                         TRfc2217Link::kMaxEnables * 128);
    for (const char* once :
         {"does not take COM port control", "keeps asking for Telnet options", "subnegotiation of more than"})
        check(told.filter(QLatin1String(once)).size() <= 1);
    return 0;
}
