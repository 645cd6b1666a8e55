// Throughput of the checksum and the stream parser.
// Targets: ParserPack >= 400 MB/s over valid 524-byte packets, >= 1 GB/s over bytes without heads.

#include "Corvane_CRC.h"
#include "CvProtocol.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned salt)
{
    std::mt19937 gen(salt);
    std::uniform_int_distribution<int> dist(0, 255);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(dist(gen));
    return v;
}

// Full packets of type 101 with real checksums, as a device would send a long transfer.
std::vector<std::uint8_t> validStream(int packets)
{
    std::vector<std::uint8_t> stream;
    stream.reserve(static_cast<std::size_t>(packets) * CvPackSize);
    const auto payload = randomBytes(CvMaxPayload, 42);
    for (int k = 0; k < packets; ++k) {
        TCvComPack p = TCvComProtocal::CreatePack(CvTypeGeneric);
        p.Index = static_cast<std::uint16_t>(k);
        p.Total = static_cast<std::uint16_t>(packets);
        p.Length = CvPackSize;
        std::copy(payload.begin(), payload.end(), p.data.begin());
        p.data[0] = static_cast<std::uint8_t>(k); // every packet its own checksum
        p.SetChecksum(TCvComProtocal::CalCRC16(p.data.data(), CvMaxPayload));
        const auto wire = p.WireBytes();
        stream.insert(stream.end(), wire.begin(), wire.end());
    }
    return stream;
}

std::vector<std::uint8_t> streamWithoutHeads(std::size_t n)
{
    auto v = randomBytes(n, 7);
    for (std::size_t i = 0; i + 1 < v.size(); ++i)
        if (v[i] == 0xC6 && v[i + 1] == 0xBF) v[i + 1] = 0x00;
    return v;
}

template <std::uint16_t (*Crc)(const std::uint8_t*, int)> void BM_CRC16(benchmark::State& state)
{
    const auto data = randomBytes(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state) benchmark::DoNotOptimize(Crc(data.data(), static_cast<int>(data.size())));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_ParserPack_ValidPackets(benchmark::State& state)
{
    const auto stream = validStream(256);
    auto engine = std::make_unique<TCvComProtocal>();
    int stored = 0;
    engine->SetCallBackFun([&stored](const TCvComPack2&) { ++stored; });
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->ParserPack(stream.data(), static_cast<int>(stream.size())));
    if (engine->PackListCount() != static_cast<int>(state.iterations()) * 256)
        state.SkipWithError("packets were not all accepted");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

void BM_ParserPack_NoHeads(benchmark::State& state)
{
    const auto stream = streamWithoutHeads(1 << 20);
    auto engine = std::make_unique<TCvComProtocal>();
    for (auto _ : state)
        benchmark::DoNotOptimize(engine->ParserPack(stream.data(), static_cast<int>(stream.size())));
    if (engine->PackListCount() != 0) state.SkipWithError("a packet was found in junk");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
}

} // namespace

BENCHMARK(BM_CRC16<CalCRC16Fast>)->Name("CalCRC16/fast")->Arg(512)->Arg(64 << 10);
BENCHMARK(BM_CRC16<CalCRC16Bitwise>)->Name("CalCRC16/bitwise")->Arg(512)->Arg(64 << 10);
BENCHMARK(BM_ParserPack_ValidPackets)->Name("ParserPack/valid_524");
BENCHMARK(BM_ParserPack_NoHeads)->Name("ParserPack/no_heads");

BENCHMARK_MAIN();
