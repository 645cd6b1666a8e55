// What a port received for a script, as text and as bytes.
#include "CvScriptApi.h"

#include "TCvComPortObj.h"

#include <algorithm>

namespace CvScript {

namespace {

// The bytes of text in the encoding, or -1 when it has none for some character.
qsizetype EncodedSize(QStringView text, TTextEncoding encoding)
{
    QByteArray out;
    return EncodeText(text.toString(), encoding, &out) ? out.size() : -1;
}

} // namespace

void TRxStream::Push(const QByteArray& bytes, const QString& text, TTextEncoding encoding)
{
    if (bytes.isEmpty() && text.isEmpty()) return;
    Chunk c;
    c.Text = text;
    c.Bytes = bytes;
    c.Encoding = encoding;
    QByteArray back;
    c.Lossless = EncodeText(text, encoding, &back) && back == bytes;
    c.T0 = FTextEnd;
    c.B0 = FByteEnd;
    FTextEnd += text.size();
    FByteEnd += bytes.size();
    FText += text;
    FBytes += bytes;
    FChunks.push_back(std::move(c));
    ++FVersion;
    // A script that does not read while the device floods keeps the newest half.
    if (FBytes.size() > kMaxBytes) {
        const qint64 before = FByteBase;
        TakeBytes(FBytes.size() - kMaxBytes / 2);
        // Text that could not be mapped onto the bytes goes too.
        if (FText.size() > kMaxBytes) TakeText(FText.size() - kMaxBytes / 2);
        FDropped += FByteBase - before;
    }
}

qint64 TRxStream::ByteAt(qint64 t) const
{
    for (const Chunk& c : FChunks) {
        const qint64 end = c.T0 + c.Text.size();
        if (t >= end) continue;
        if (t <= c.T0) return c.B0;
        if (!c.Lossless) return c.B0;
        const qsizetype n = EncodedSize(QStringView(c.Text).left(t - c.T0), c.Encoding);
        return n < 0 ? c.B0 : c.B0 + n;
    }
    return FByteEnd;
}

qint64 TRxStream::TextAt(qint64 b) const
{
    for (const Chunk& c : FChunks) {
        const qint64 end = c.B0 + c.Bytes.size();
        if (b >= end) continue;
        if (b <= c.B0 || !c.Lossless) return c.T0;
        // The characters whose bytes lie wholly before b.
        qint64 bytes = 0;
        qsizetype k = 0;
        while (k < c.Text.size()) {
            const qsizetype len = c.Text[k].isHighSurrogate() && k + 1 < c.Text.size() ? 2 : 1;
            const qsizetype n = EncodedSize(QStringView(c.Text).mid(k, len), c.Encoding);
            if (n < 0 || c.B0 + bytes + n > b) break;
            bytes += n;
            k += len;
        }
        return c.T0 + k;
    }
    return FTextEnd;
}

void TRxStream::SetBases(qint64 t, qint64 b)
{
    t = std::clamp(t, FTextBase, FTextEnd);
    b = std::clamp(b, FByteBase, FByteEnd);
    FText.remove(0, t - FTextBase);
    FBytes.remove(0, b - FByteBase);
    FTextBase = t;
    FByteBase = b;
    while (!FChunks.empty()) {
        const Chunk& c = FChunks.front();
        if (c.T0 + c.Text.size() > FTextBase || c.B0 + c.Bytes.size() > FByteBase) break;
        FChunks.pop_front();
    }
}

void TRxStream::TakeText(qsizetype n)
{
    const qint64 t = FTextBase + std::clamp<qsizetype>(n, 0, FText.size());
    SetBases(t, std::max(FByteBase, ByteAt(t)));
}

void TRxStream::TakeBytes(qsizetype n)
{
    const qint64 b = FByteBase + std::clamp<qsizetype>(n, 0, FBytes.size());
    SetBases(std::max(FTextBase, TextAt(b)), b);
}

void TRxStream::Clear()
{
    SetBases(FTextEnd, FByteEnd);
}

qint64 TRxStream::TakeDropped()
{
    const qint64 d = FDropped;
    FDropped = 0;
    return d;
}

TWatchedPort::TWatchedPort(TCvComPortObj* port, std::shared_ptr<TSync> sync, std::shared_ptr<TRxStream> rx)
    : FPort(port), FSync(std::move(sync)), FRx(std::move(rx)), FDecoder(port->TextEncoding())
{
    port->AddReceiveObserver(this);
}

TWatchedPort::~TWatchedPort()
{
    if (FPort) FPort->RemoveReceiveObserver(this);
}

void TWatchedPort::Received(const QByteArray& bytes, const QString* text)
{
    Q_UNUSED(text);
    if (!FPort) return;
    const TTextEncoding encoding = FPort->TextEncoding();
    if (FDecoder.Encoding() != encoding) FDecoder.SetEncoding(encoding);
    const QString decoded = FDecoder.Decode(bytes.constData(), bytes.size());
    {
        std::lock_guard lk(FSync->M);
        FRx->Push(bytes, decoded, encoding);
    }
    FSync->Cv.notify_all();
}

} // namespace CvScript
