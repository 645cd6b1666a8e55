#pragma once

// The framed protocol: packet records and the engine that cuts packets out of a byte
// stream into a fixed ring.
//
// On the wire every word is 16-bit unsigned, low byte first:
//   0 Head (0xBFC6)  2 TypeID  4 Index  6 Total  8 Length  10 payload  Length-2 checksum
// Length counts the whole packet: 10 for a header-only packet, payload + 12 otherwise (at most 524).
// The records below are converted to and from those bytes explicitly, never by reinterpreting
// memory, so the wire format does not depend on the host.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

inline constexpr std::uint16_t CvPackHead = 0xBFC6;
inline constexpr std::uint16_t CvNoChecksum = 0xCDF2; // checksum word that means "not checked"
inline constexpr int CvHeaderSize = 10;
inline constexpr int CvMaxPayload = 512;
inline constexpr int CvPackSize = 524;
inline constexpr int CvPackListSize = 1024;

inline constexpr std::uint16_t CvTypeConnect = 10;
inline constexpr std::uint16_t CvTypeAck = 11;
inline constexpr std::uint16_t CvTypeEnd = 13;
inline constexpr std::uint16_t CvTypeGeneric = 101;
// The scan stops behind a packet of this type so that completion is tested first.
inline constexpr std::uint16_t CvTypeStopAfter = 102;
inline constexpr std::uint16_t CvAskAckMarker = 0x0B00;
inline constexpr std::uint16_t CvAckMarker = 0x0E00;

inline std::uint16_t CvReadWord(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline void CvWriteWord(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v & 0xFFu);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The 10-byte packet header.
struct TCvComPack2 {
    std::uint16_t Head = 0;
    std::uint16_t TypeID = 0;
    std::uint16_t Index = 0;
    std::uint16_t Total = 0;
    std::uint16_t Length = 0;

    // Reads CvHeaderSize bytes.
    static TCvComPack2 FromBytes(const std::uint8_t* bytes);
    // Writes CvHeaderSize bytes.
    void ToBytes(std::uint8_t* out) const;
    std::array<std::uint8_t, CvHeaderSize> WireBytes() const;

    friend bool operator==(const TCvComPack2&, const TCvComPack2&) = default;
};

// One packet, field for field as on the wire from its first byte. A packet shorter than
// 524 bytes fills only its first Length bytes; its checksum then lies inside `data`.
struct TCvComPack {
    std::uint16_t Head = 0;
    std::uint16_t TypeID = 0;
    std::uint16_t Index = 0;
    std::uint16_t Total = 0;
    std::uint16_t Length = 0;
    std::array<std::uint8_t, CvMaxPayload> data{};
    std::uint16_t CRC = 0; // the checksum's place only in a full 524-byte packet

    // Takes the first min(count, 524) bytes; anything not given stays zero.
    static TCvComPack FromBytes(const std::uint8_t* bytes, std::size_t count);
    // Writes all CvPackSize bytes; a sender puts the first Length of them on the line.
    void ToBytes(std::uint8_t* out) const;
    std::array<std::uint8_t, CvPackSize> WireBytes() const;

    TCvComPack2 Header() const;
    void SetHeader(const TCvComPack2& h);

    // The checksum word at wire offset Length - 2 of a data packet (Length 12 to 524);
    // 0 when Length describes no data packet, where SetChecksum does nothing.
    std::uint16_t Checksum() const;
    void SetChecksum(std::uint16_t value);

    // Byte i (0 to 523) of the packet's wire form.
    std::uint8_t WireByte(int i) const;
    void SetWireByte(int i, std::uint8_t value);
};

static_assert(sizeof(TCvComPack2) == CvHeaderSize);
static_assert(sizeof(TCvComPack) == CvPackSize);
static_assert(offsetof(TCvComPack, Length) == 8);
static_assert(offsetof(TCvComPack, data) == 10);
static_assert(offsetof(TCvComPack, CRC) == 522);

// Where the ring stood at one moment; packets stored after it can be looked at again.
struct TCvPackMark {
    unsigned Clears = 0;
    unsigned Count = 0;
};

// A packet lying inside a byte buffer, read through the checks below.
using PCvComPack = const std::uint8_t*;

// The protocol engine of one port object: scans received bytes for packets, keeps the
// accepted ones in a ring of 1024 slots and reports each to its owner. The ring lives
// inside the object (about 524 KiB), so create engines on the heap.
//
// Thread safety: every member may be called from any thread. Stores into the ring and
// copies out of it are made under the engine's own lock; the callback runs outside it.
class TCvComProtocal {
public:
    // Called on the scanning thread once per stored packet, after the store.
    using TCallBackFun = std::function<void(const TCvComPack2& CvComPack2)>;

    TCvComProtocal();
    virtual ~TCvComProtocal();
    TCvComProtocal(const TCvComProtocal&) = delete;
    TCvComProtocal& operator=(const TCvComProtocal&) = delete;

    // Head 0xBFC6, TypeID = Id, Length 10, everything else zero.
    static TCvComPack CreatePack(std::uint8_t Id);

    // Each check reads only the Len bytes available at p.
    // A whole header is present.
    static bool CheckPack1(PCvComPack p, int Len);
    // False while the packet is still arriving: the header, or the declared Length of a
    // possible packet, is not all there yet. A Length no packet can have counts as complete
    // so that CheckPack3 turns the head down.
    static bool CheckPack2(PCvComPack p, int Len);
    // The packet test: Length 10, or 12 to 524 with a checksum word that is 0xCDF2 or the
    // payload's CRC-16. Anything else, or bytes missing, fails.
    static bool CheckPack3(PCvComPack p, int Len);

    static std::uint16_t CalCRC16(const std::uint8_t* AData, int Length);

    // Scans the first Len bytes of buff, stores every accepted packet and returns how many
    // leading bytes are done with: the start of an incomplete packet, the start of the last
    // fewer-than-10 bytes, or the end of a packet of type 102. Always within [0, Len].
    int ParserPack(const std::uint8_t* buff, int Len);

    // Stores into the next slot; copies Length bytes (at least the header, at most 524).
    void AddPackToPackList(const TCvComPack& CvComPack);

    // A copy of slot i (0 to 1023); an all-zero record for any other i.
    TCvComPack GetPackByIndex(int i) const;
    // The header of the latest stored packet (all zero when none).
    TCvComPack2 GetLastPackHead() const;
    // The latest packet ends a transfer: its final fragment with a type above 101, or type 13.
    bool IsParserComplete() const;
    void ClearPacks();

    // Waits until a packet acknowledges `CvComPack` (same header, type 0x0E00 + its low
    // byte) or more than timeOut ms have passed. The latest stored packet counts, and so
    // does any stored during the wait, also when others followed it at once.
    bool WaitingForACK(const TCvComPack2& CvComPack, int timeOut);
    // The same for any packet stored after `since` (taken before the request went out).
    bool WaitingForACK(const TCvComPack2& CvComPack, int timeOut, const TCvPackMark& since);
    // Without waiting: a packet stored after `since` acknowledges `CvComPack`. Looks at the
    // last 1024 at most (the ring holds no more).
    bool AckStoredSince(const TCvComPack2& CvComPack, const TCvPackMark& since) const;
    TCvPackMark Mark() const;

    void SetCallBackFun(TCallBackFun fun);

    // Slot of the latest stored packet, 0 to 1023.
    int PackListTop() const;
    // Packets stored since creation or the last ClearPacks; keeps counting past 1024.
    int PackListCount() const;

    // Carried for the owner; no operation consults it (every checksum other than 0xCDF2 is verified).
    bool NeedCRC16() const;
    void SetNeedCRC16(bool need);

private:
    using Slot = std::array<std::uint8_t, CvPackSize>;

    // Copies `length` bytes into the next slot and returns the callback to run afterwards.
    std::shared_ptr<const TCallBackFun> Store(const std::uint8_t* pack, int length);
    // Under FLock.
    bool AckStoredSinceLocked(const TCvComPack2& CvComPack, const TCvPackMark& since) const;

    std::array<Slot, CvPackListSize> FPackList_RB{};
    int FPackList_RB_Top = 0;
    int FPackList_RB_Count = 0;
    unsigned FClears = 0;
    bool FNeedCRC16 = false;
    std::shared_ptr<const TCallBackFun> FCallBackFun;

    mutable std::mutex FLock;
    std::condition_variable FStored;
};
