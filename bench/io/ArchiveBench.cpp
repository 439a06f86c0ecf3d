// Listing and inflating a 100 MB archive of Gerber text, against zlib's own
// one-shot raw inflate into a buffer of the exact size.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <string>

#include "../tests/io/ArchiveBuilder.hpp"
#include "io/RawInflate.hpp"
#include "io/VellTar.hpp"
#include "io/VellZip.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

constexpr int kEntries = 10;
constexpr std::size_t kEntryBytes = 10'000'000;

Bytes gerberLayer(std::uint32_t seed) {
    std::string s = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.150000*%\n%ADD11R,1.200000X0.600000*%\nD10*\n";
    s.reserve(kEntryBytes + 64);
    std::uint32_t x = seed;
    auto next = [&x] { return x = x * 1664525u + 1013904223u; };
    while (s.size() < kEntryBytes) {
        const std::uint32_t r = next();
        s += "X" + std::to_string(100000000 + (r >> 8) % 50000000) + "Y" + std::to_string(80000000 + next() % 40000000);
        s += (r & 3) == 0 ? "D02*\n" : (r & 3) == 1 ? "D03*\n" : "D01*\n";
    }
    s.resize(kEntryBytes);
    return bytesOf(s);
}

struct Fixture {
    std::vector<Bytes> layers;
    Bytes zip;
    Bytes gz;
    Fixture() {
        std::vector<ZipItem> items;
        Bytes all;
        for (int i = 0; i < kEntries; ++i) {
            layers.push_back(gerberLayer(static_cast<std::uint32_t>(i + 1)));
            items.push_back(ZipItem("layer" + std::to_string(i) + ".gbr", layers.back()).deflated());
            append(all, layers.back());
        }
        zip = buildZip(items);
        gz = gzipMember(all);
    }
};

const Fixture& fixture() {
    static const Fixture f;
    return f;
}

void BM_ZipList(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) benchmark::DoNotOptimize(VellZip::listEntries(f.zip));
}

void BM_ZipReadAll(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) {
        VellZip::Archive archive(f.zip);
        for (const auto& e : archive.entries()) benchmark::DoNotOptimize(archive.read(e));
    }
    state.SetBytesProcessed(state.iterations() * kEntries * static_cast<std::int64_t>(kEntryBytes));
}

// zlib's own speed: one inflate call per entry into a preallocated buffer of the exact size.
void BM_ZlibBaselineReadAll(benchmark::State& state) {
    const Fixture& f = fixture();
    VellZip::Archive archive(f.zip);
    std::vector<std::span<const std::uint8_t>> streams;
    for (const auto& e : archive.entries()) {
        const auto at = static_cast<std::size_t>(e.localHeaderOffset);
        const std::size_t start = at + 30 + f.zip[at + 26] + (f.zip[at + 27] << 8) + f.zip[at + 28] + (f.zip[at + 29] << 8);
        streams.emplace_back(f.zip.data() + start, static_cast<std::size_t>(e.compressedSize));
    }
    for (auto _ : state) {
        for (auto s : streams) {
            Bytes out(kEntryBytes);
            z_stream z{};
            inflateInit2(&z, -15);
            z.next_in = const_cast<Bytef*>(s.data());
            z.avail_in = static_cast<uInt>(s.size());
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            if (::inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("inflate");
            inflateEnd(&z);
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetBytesProcessed(state.iterations() * kEntries * static_cast<std::int64_t>(kEntryBytes));
}

void BM_Gunzip(benchmark::State& state) {
    const Fixture& f = fixture();
    for (auto _ : state) benchmark::DoNotOptimize(VellTar::gunzip(f.gz));
    state.SetBytesProcessed(state.iterations() * kEntries * static_cast<std::int64_t>(kEntryBytes));
}

} // namespace

BENCHMARK(BM_ZipList)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZipReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibBaselineReadAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gunzip)->Unit(benchmark::kMillisecond);
