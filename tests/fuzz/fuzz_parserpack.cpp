// Feeds a byte stream to ParserPack in pieces, the way the parser worker does, and checks
// every pass against a plain byte-by-byte scanner written straight from the packet rules.
//
// Input: byte 0 gives k (0..7), the next 2k bytes give k piece sizes (low byte first, taken
// modulo 1100 so a piece can hold about two packets), the rest is the received stream. The
// stream is cut into those pieces in order; whatever is left forms the last piece.

#include "Corvane_CRC.h"
#include "CvProtocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, long a, long b)
{
    std::fprintf(stderr, "invariant broken: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

#define FUZZ_CHECK(cond, a, b)                                                                               \
    do {                                                                                                     \
        if (!(cond)) fail(#cond, static_cast<long>(a), static_cast<long>(b));                                \
    } while (0)

int word(const std::uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

// The packet rules, independent of the engine's own checks.
bool refValidLength(int length)
{
    return length == 10 || (length >= 12 && length <= 524);
}

bool refAccepts(const std::uint8_t* p, int avail)
{
    if (avail < 10) return false;
    const int length = word(p + 8);
    if (!refValidLength(length) || avail < length) return false;
    if (length == 10) return true;
    const int check = word(p + length - 2);
    return check == 0xCDF2 || check == CalCRC16Bitwise(p + 10, length - 12);
}

struct RefPass {
    int result = 0;
    std::vector<int> offsets; // where each accepted packet starts
};

RefPass refScan(const std::uint8_t* buff, int len)
{
    RefPass r;
    int pos = 0;
    for (;;) {
        r.result = pos;
        if (len - pos < 10) return r;
        const std::uint8_t* p = buff + pos;
        if (word(p) != 0xBFC6) {
            ++pos;
            continue;
        }
        const int length = word(p + 8);
        if (refValidLength(length) && len - pos < length) return r; // still arriving
        if (!refAccepts(p, len - pos)) {
            ++pos;
            continue;
        }
        r.offsets.push_back(pos);
        pos += length;
        if (word(p + 2) == 102) {
            r.result = pos;
            return r;
        }
    }
}

struct Run {
    std::unique_ptr<TCvComProtocal> engine = std::make_unique<TCvComProtocal>();
    std::vector<TCvComPack2> calls;
    long callbacks = 0;
};

Run& run()
{
    static Run r;
    return r;
}

// One pass of the worker over the unparsed bytes; false when it made no progress.
bool pass(std::vector<std::uint8_t>& received, std::size_t& start)
{
    Run& r = run();
    const int len = static_cast<int>(received.size() - start);
    // An exact-size copy: any read past the bytes handed over lands outside the allocation.
    auto bytes = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(len) + (len == 0 ? 1 : 0));
    if (len > 0) std::memcpy(bytes.get(), received.data() + start, static_cast<std::size_t>(len));

    r.calls.clear();
    const int countBefore = r.engine->PackListCount();
    const int result = r.engine->ParserPack(bytes.get(), len);
    FUZZ_CHECK(result >= 0 && result <= len, result, len);

    const RefPass ref = refScan(bytes.get(), len);
    FUZZ_CHECK(result == ref.result, result, ref.result);
    FUZZ_CHECK(r.calls.size() == ref.offsets.size(), r.calls.size(), ref.offsets.size());
    for (std::size_t i = 0; i < ref.offsets.size(); ++i) {
        const TCvComPack2 expected = TCvComPack2::FromBytes(bytes.get() + ref.offsets[i]);
        FUZZ_CHECK(r.calls[i] == expected, i, ref.offsets[i]);
    }
    FUZZ_CHECK(r.engine->PackListCount() - countBefore == static_cast<int>(ref.offsets.size()),
               r.engine->PackListCount() - countBefore, ref.offsets.size());

    start += static_cast<std::size_t>(result);
    if (!r.calls.empty() && r.engine->IsParserComplete()) {
        const TCvComPack2 last = r.calls.back();
        FUZZ_CHECK((last.Index + 1 == last.Total && last.TypeID > 101) || last.TypeID == 13, last.TypeID,
                   last.Index);
        received.clear();
        start = 0;
        return false; // the worker sleeps until more bytes arrive
    }
    return result > 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Run& r = run();
    r.engine->ClearPacks();
    r.callbacks = 0;
    r.engine->SetCallBackFun([&r](const TCvComPack2& h) {
        ++r.callbacks;
        r.calls.push_back(h);
        // The packet is in the latest slot by the time the owner hears of it, and it passes the test.
        const auto slot = r.engine->GetPackByIndex(r.engine->PackListTop()).WireBytes();
        FUZZ_CHECK(TCvComPack2::FromBytes(slot.data()) == h, h.TypeID, h.Length);
        FUZZ_CHECK(TCvComProtocal::CheckPack3(slot.data(), CvPackSize), h.TypeID, h.Length);
        FUZZ_CHECK(refAccepts(slot.data(), CvPackSize), h.TypeID, h.Length);
    });

    std::size_t at = 0;
    std::vector<std::size_t> pieces;
    if (size > 0) {
        const std::size_t k = data[0] % 8u;
        at = 1;
        for (std::size_t i = 0; i < k && at + 2 <= size; ++i, at += 2)
            pieces.push_back(static_cast<std::size_t>(word(data + at)) % 1100u);
    }

    std::vector<std::uint8_t> received;
    std::size_t start = 0;
    auto feed = [&](std::size_t n) {
        received.insert(received.end(), data + at, data + at + n);
        at += n;
        // The worker parses while the receive buffer holds 10 bytes or more and progress is made.
        while (received.size() >= 10 && pass(received, start)) {}
    };
    for (std::size_t n : pieces) feed(std::min(n, size - at));
    feed(size - at);

    FUZZ_CHECK(r.engine->PackListCount() == r.callbacks, r.engine->PackListCount(), r.callbacks);
    const int top = r.engine->PackListTop();
    FUZZ_CHECK(top == r.callbacks % CvPackListSize, top, r.callbacks);
    return 0;
}
