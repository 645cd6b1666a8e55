#include "CvProtocol.h"

#include "Corvane_CRC.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr std::uint8_t kHeadLow = CvPackHead & 0xFFu;
constexpr std::uint8_t kHeadHigh = CvPackHead >> 8;
constexpr int kCrcOffset = CvHeaderSize + CvMaxPayload;

// Only 10 and 12..524 describe a packet; 11 and anything below 10 would make the checksum
// lie inside the header or before the packet, and 0 would stall the scan.
bool validLength(int length)
{
    return length == CvHeaderSize || (length >= CvHeaderSize + 2 && length <= CvPackSize);
}

} // namespace

// --- TCvComPack2 -----------------------------------------------------------

TCvComPack2 TCvComPack2::FromBytes(const std::uint8_t* bytes)
{
    return TCvComPack2{CvReadWord(bytes), CvReadWord(bytes + 2), CvReadWord(bytes + 4), CvReadWord(bytes + 6),
                       CvReadWord(bytes + 8)};
}

void TCvComPack2::ToBytes(std::uint8_t* out) const
{
    CvWriteWord(out, Head);
    CvWriteWord(out + 2, TypeID);
    CvWriteWord(out + 4, Index);
    CvWriteWord(out + 6, Total);
    CvWriteWord(out + 8, Length);
}

std::array<std::uint8_t, CvHeaderSize> TCvComPack2::WireBytes() const
{
    std::array<std::uint8_t, CvHeaderSize> out{};
    ToBytes(out.data());
    return out;
}

// --- TCvComPack ------------------------------------------------------------

TCvComPack TCvComPack::FromBytes(const std::uint8_t* bytes, std::size_t count)
{
    std::array<std::uint8_t, CvPackSize> wire{};
    if (count > 0) std::memcpy(wire.data(), bytes, std::min<std::size_t>(count, CvPackSize));
    TCvComPack pack;
    pack.SetHeader(TCvComPack2::FromBytes(wire.data()));
    std::memcpy(pack.data.data(), wire.data() + CvHeaderSize, CvMaxPayload);
    pack.CRC = CvReadWord(wire.data() + kCrcOffset);
    return pack;
}

void TCvComPack::ToBytes(std::uint8_t* out) const
{
    Header().ToBytes(out);
    std::memcpy(out + CvHeaderSize, data.data(), CvMaxPayload);
    CvWriteWord(out + kCrcOffset, CRC);
}

std::array<std::uint8_t, CvPackSize> TCvComPack::WireBytes() const
{
    std::array<std::uint8_t, CvPackSize> out{};
    ToBytes(out.data());
    return out;
}

TCvComPack2 TCvComPack::Header() const
{
    return TCvComPack2{Head, TypeID, Index, Total, Length};
}

void TCvComPack::SetHeader(const TCvComPack2& h)
{
    Head = h.Head;
    TypeID = h.TypeID;
    Index = h.Index;
    Total = h.Total;
    Length = h.Length;
}

std::uint8_t TCvComPack::WireByte(int i) const
{
    if (i < 0 || i >= CvPackSize) return 0;
    if (i < CvHeaderSize) {
        const std::uint16_t words[] = {Head, TypeID, Index, Total, Length};
        const std::uint16_t w = words[i / 2];
        return static_cast<std::uint8_t>(i % 2 == 0 ? w & 0xFFu : w >> 8);
    }
    if (i < kCrcOffset) return data[static_cast<std::size_t>(i - CvHeaderSize)];
    return static_cast<std::uint8_t>(i == kCrcOffset ? CRC & 0xFFu : CRC >> 8);
}

void TCvComPack::SetWireByte(int i, std::uint8_t value)
{
    if (i < 0 || i >= CvPackSize) return;
    auto setHalf = [&](std::uint16_t& w, bool high) {
        w = high ? static_cast<std::uint16_t>((w & 0x00FFu) | (value << 8))
                 : static_cast<std::uint16_t>((w & 0xFF00u) | value);
    };
    if (i < CvHeaderSize) {
        std::uint16_t* words[] = {&Head, &TypeID, &Index, &Total, &Length};
        setHalf(*words[i / 2], i % 2 != 0);
    } else if (i < kCrcOffset) {
        data[static_cast<std::size_t>(i - CvHeaderSize)] = value;
    } else {
        setHalf(CRC, i != kCrcOffset);
    }
}

// A payload of 511 bytes puts the checksum across the last data byte and the CRC field,
// hence the byte-wise access.
std::uint16_t TCvComPack::Checksum() const
{
    if (!validLength(Length) || Length == CvHeaderSize) return 0;
    return static_cast<std::uint16_t>(WireByte(Length - 2) | (WireByte(Length - 1) << 8));
}

void TCvComPack::SetChecksum(std::uint16_t value)
{
    if (!validLength(Length) || Length == CvHeaderSize) return;
    SetWireByte(Length - 2, static_cast<std::uint8_t>(value & 0xFFu));
    SetWireByte(Length - 1, static_cast<std::uint8_t>(value >> 8));
}

// --- TCvComProtocal --------------------------------------------------------

TCvComProtocal::TCvComProtocal() = default;
TCvComProtocal::~TCvComProtocal() = default;

TCvComPack TCvComProtocal::CreatePack(std::uint8_t Id)
{
    TCvComPack pack;
    pack.Head = CvPackHead;
    pack.TypeID = Id;
    pack.Length = CvHeaderSize;
    return pack;
}

bool TCvComProtocal::CheckPack1(PCvComPack, int Len)
{
    return Len >= CvHeaderSize;
}

bool TCvComProtocal::CheckPack2(PCvComPack p, int Len)
{
    if (p == nullptr || Len < CvHeaderSize) return false;
    const int length = CvReadWord(p + 8);
    if (!validLength(length)) return true;
    return Len >= length;
}

bool TCvComProtocal::CheckPack3(PCvComPack p, int Len)
{
    if (p == nullptr || Len < CvHeaderSize) return false;
    const int length = CvReadWord(p + 8);
    if (!validLength(length) || Len < length) return false;
    if (length == CvHeaderSize) return true;
    const std::uint16_t word = CvReadWord(p + length - 2);
    return word == CvNoChecksum || word == CalCRC16Fast(p + CvHeaderSize, length - CvHeaderSize - 2);
}

std::uint16_t TCvComProtocal::CalCRC16(const std::uint8_t* AData, int Length)
{
    return CalCRC16Fast(AData, Length);
}

int TCvComProtocal::ParserPack(const std::uint8_t* buff, int Len)
{
    if (buff == nullptr || !CheckPack1(buff, Len)) return 0;
    // The last offset that still has a whole header behind it; from the one after it the
    // scan stops and leaves the bytes for the next call.
    const int lastStart = Len - CvHeaderSize;
    int pos = 0;
    while (pos <= lastStart) {
        // Junk is skipped with memchr; only a C6 can start a head.
        const void* hit = std::memchr(buff + pos, kHeadLow, static_cast<std::size_t>(lastStart - pos + 1));
        if (hit == nullptr) return lastStart + 1;
        pos = static_cast<int>(static_cast<const std::uint8_t*>(hit) - buff);
        if (buff[pos + 1] != kHeadHigh) {
            ++pos;
            continue;
        }
        const PCvComPack p = buff + pos;
        const int remaining = Len - pos;
        if (!CheckPack2(p, remaining)) return pos;
        if (!CheckPack3(p, remaining)) {
            // A false head: look again from the next byte, even inside it.
            ++pos;
            continue;
        }
        const TCvComPack2 header = TCvComPack2::FromBytes(p);
        const auto callBack = Store(p, header.Length);
        if (callBack) (*callBack)(header);
        pos += header.Length;
        if (header.TypeID == CvTypeStopAfter) return pos;
    }
    return pos;
}

std::shared_ptr<const TCvComProtocal::TCallBackFun> TCvComProtocal::Store(const std::uint8_t* pack,
                                                                          int length)
{
    std::shared_ptr<const TCallBackFun> callBack;
    {
        std::lock_guard lock(FLock);
        FPackList_RB_Top = (FPackList_RB_Top + 1) % CvPackListSize;
        // Only the packet's own bytes: the rest of the slot keeps what an earlier packet left.
        std::memcpy(FPackList_RB[static_cast<std::size_t>(FPackList_RB_Top)].data(), pack,
                    static_cast<std::size_t>(length));
        // Wraps instead of overflowing after 2^31 packets.
        FPackList_RB_Count = static_cast<int>(static_cast<unsigned>(FPackList_RB_Count) + 1u);
        callBack = FCallBackFun;
    }
    FStored.notify_all();
    return callBack;
}

void TCvComProtocal::AddPackToPackList(const TCvComPack& CvComPack)
{
    const auto wire = CvComPack.WireBytes();
    // The slot always receives a whole header, so the latest slot never shows a stale one.
    const int length = std::clamp<int>(CvComPack.Length, CvHeaderSize, CvPackSize);
    Store(wire.data(), length);
}

TCvComPack TCvComProtocal::GetPackByIndex(int i) const
{
    if (i < 0 || i >= CvPackListSize) return TCvComPack{};
    Slot copy;
    {
        std::lock_guard lock(FLock);
        copy = FPackList_RB[static_cast<std::size_t>(i)];
    }
    return TCvComPack::FromBytes(copy.data(), copy.size());
}

TCvComPack2 TCvComProtocal::GetLastPackHead() const
{
    std::lock_guard lock(FLock);
    return TCvComPack2::FromBytes(FPackList_RB[static_cast<std::size_t>(FPackList_RB_Top)].data());
}

bool TCvComProtocal::IsParserComplete() const
{
    const TCvComPack2 h = GetLastPackHead();
    // Index + 1 is computed in int: a final Index of 0xFFFF must not wrap to match Total 0.
    return (h.Index + 1 == h.Total && h.TypeID > CvTypeGeneric) || h.TypeID == CvTypeEnd;
}

void TCvComProtocal::ClearPacks()
{
    std::lock_guard lock(FLock);
    for (auto& slot : FPackList_RB) slot.fill(0);
    FPackList_RB_Top = 0;
    FPackList_RB_Count = 0;
    ++FClears;
}

namespace {

bool Acknowledges(const TCvComPack2& r, const TCvComPack2& sent)
{
    return r.Head == sent.Head && (r.TypeID & 0xFFu) == (sent.TypeID & 0xFFu) &&
           (r.TypeID >> 8) == (CvAckMarker >> 8) && r.Index == sent.Index && r.Total == sent.Total &&
           r.Length == sent.Length;
}

} // namespace

TCvPackMark TCvComProtocal::Mark() const
{
    std::lock_guard lock(FLock);
    return TCvPackMark{FClears, static_cast<unsigned>(FPackList_RB_Count)};
}

bool TCvComProtocal::AckStoredSinceLocked(const TCvComPack2& CvComPack, const TCvPackMark& since) const
{
    const unsigned count = static_cast<unsigned>(FPackList_RB_Count);
    // After a clear every packet stored since then is new.
    const unsigned fresh = since.Clears == FClears ? count - since.Count : count;
    const unsigned look = std::min<unsigned>(fresh, CvPackListSize);
    // The k-th packet since a clear lies in slot k mod 1024.
    for (unsigned k = 0; k < look; ++k) {
        const auto slot = static_cast<std::size_t>((count - k) % CvPackListSize);
        if (Acknowledges(TCvComPack2::FromBytes(FPackList_RB[slot].data()), CvComPack)) return true;
    }
    return false;
}

bool TCvComProtocal::AckStoredSince(const TCvComPack2& CvComPack, const TCvPackMark& since) const
{
    std::lock_guard lock(FLock);
    return AckStoredSinceLocked(CvComPack, since);
}

bool TCvComProtocal::WaitingForACK(const TCvComPack2& CvComPack, int timeOut)
{
    const TCvPackMark since = Mark();
    {
        std::lock_guard lock(FLock);
        if (Acknowledges(
                TCvComPack2::FromBytes(FPackList_RB[static_cast<std::size_t>(FPackList_RB_Top)].data()),
                CvComPack))
            return true;
    }
    return WaitingForACK(CvComPack, timeOut, since);
}

bool TCvComProtocal::WaitingForACK(const TCvComPack2& CvComPack, int timeOut, const TCvPackMark& since)
{
    using namespace std::chrono;
    const auto start = steady_clock::now();
    const auto elapsedMs = [&] { return duration_cast<milliseconds>(steady_clock::now() - start).count(); };
    // Whole milliseconds are compared, so a wait of exactly timeOut still looks once more.
    const auto giveUp = start + milliseconds(static_cast<long long>(timeOut) + 1);

    std::unique_lock lock(FLock);
    for (;;) {
        if (elapsedMs() > timeOut) return false;
        if (AckStoredSinceLocked(CvComPack, since)) return true;
        // Every store notifies; nothing else can bring an acknowledgement.
        FStored.wait_until(lock, giveUp);
    }
}

void TCvComProtocal::SetCallBackFun(TCallBackFun fun)
{
    auto shared = fun ? std::make_shared<const TCallBackFun>(std::move(fun)) : nullptr;
    std::lock_guard lock(FLock);
    FCallBackFun = std::move(shared);
}

int TCvComProtocal::PackListTop() const
{
    std::lock_guard lock(FLock);
    return FPackList_RB_Top;
}

int TCvComProtocal::PackListCount() const
{
    std::lock_guard lock(FLock);
    return FPackList_RB_Count;
}

bool TCvComProtocal::NeedCRC16() const
{
    std::lock_guard lock(FLock);
    return FNeedCRC16;
}

void TCvComProtocal::SetNeedCRC16(bool need)
{
    std::lock_guard lock(FLock);
    FNeedCRC16 = need;
}
