// A short, deterministic mutation run over real-shaped drill files, so that every CI run
// exercises the reader on malformed input (the libFuzzer target in tests/fuzz goes further).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "import/ExcellonParser.hpp"
#include "import/LayerClassifier.hpp"
#include "io/TextDecoding.hpp"

using namespace corvane;

namespace {

const std::vector<std::string> seeds = {
    "M48\n;FILE_FORMAT=2:5\nINCH,LZ\n;TYPE=PLATED\nT1F00S00C0.0120\n;TYPE=NON_PLATED\nT2C0.1250\n%\nT1\n"
    "X012345Y023456\nR3X001\nT2\nG00X01Y01\nM15\nG01X05Y01\nM16\nX1Y2G85X3Y2\nM30\n",
    ";LEADER: 12\n;T01 Holesize 1. = 12.000000 Tolerance = +2.000000/-2.000000 PLATED MILS Quantity = 2\n%\nT01\n"
    "X012345Y023456\nM30\n",
    "M48\nMETRIC,TZ,000.000\n; #@! TA.AperFunction,Plated,PTH,ViaDrill\nT1C0.400\n;DECIMALS=3\n%\nG90\nG05\nT1\n"
    "X12345Y-6789\nM71\nM72\nT0\nM30\n",
};

const std::vector<std::string> tokens = {"X", "Y", "R", "T", "C", "G85", "M15", "M16", "M30", "METRIC", "INCH",
                                         ",LZ", ",TZ", "\n", "\r", ";", "/", ".", "-", "+", "9999999999999",
                                         "FILE_FORMAT=", "DECIMALS=", "10000", "\xA9", "\xE2\x82", "000.000"};

std::string mutate(std::string s, std::mt19937& rng) {
    const int steps = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < steps; ++k) {
        const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 5) {
        case 0: if (at < s.size()) s[at] = static_cast<char>(rng() & 0xFF); break;
        case 1: s.insert(at, tokens[rng() % tokens.size()]); break;
        case 2: if (at < s.size()) s.erase(at, 1 + rng() % 8); break;
        case 3: if (at < s.size()) s.insert(at, s.substr(at, 1 + rng() % 32)); break;
        default: s.insert(at, std::string(1 + rng() % 40, static_cast<char>('0' + rng() % 10))); break;
        }
    }
    return s;
}

} // namespace

TEST(ExcellonFuzz, MutatedFilesReadSafely) {
    std::mt19937 rng(20241209);
    for (int i = 0; i < 4000; ++i) {
        const std::string input = mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
        const std::vector<std::uint8_t> bytes(input.begin(), input.end());
        SCOPED_TRACE(i);
        try {
            const DrillDocument doc = ExcellonParser{}.parse("fuzz.drl", std::span<const std::uint8_t>(bytes));
            for (const auto& h : doc.hits) ASSERT_TRUE(std::isfinite(h.position.x) && std::isfinite(h.position.y));
            for (const auto& s : doc.slots) ASSERT_EQ(s.kind.caseName(), "slot");
        } catch (const ExcellonParseError& e) {
            ASSERT_TRUE(bytes.empty()) << e.what();
        }
        const std::string head = decodeHead(bytes, 2048);
        const LayerDetection d = LayerClassifier{}.detect("fuzz.drl", head, std::nullopt);
        ASSERT_TRUE(d.layerType.isDrill());
    }
}
