// Bounded mutation fuzzing of the ODB++ readers: every mutated feature file and matrix must
// read without a crash, with finite boxes and with no more primitives than it has records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "import/ODBPPParser.hpp"
#include "import/ODBTestJob.hpp"

using namespace corvane;

namespace {

const std::string kSeed =
    "UNITS=MM\n#\n$0 r100\n$1 rect200x100\n$2 oval300x100\n$3 poly600x5x10\n$4 donut_r500x300\n$5 s50\n"
    "$6 oct400\n$7 moire20x10\n@0 .drill\n&0 text\n"
    "P 1 2 0 P 0 0;0=1\nP 3 4 1 N 0 8 45\nP 5 6 2 P 0 5\nP 7 8 3 P 0 9 20\n"
    "L 0 0 1 1 4 P 0\nA 1 0 0 1 0 0 5 N 0 N;1=0\n"
    "S P 0\nOB 0 0 I\nOS 0 10\nOC 10 10 5 10 Y\nOS 10 0\nOE\nOB 2 2 H\nOS 4 2\nOC 4 4 4 3 N\nOS 2 4\nOE\nSE\n"
    "S N 0\nOB 20 0 I\nOS 21 0\nOS 21 1\nOE\nSE\n";

const std::vector<std::string> kTokens = {
    " ", "\n", "\r\n", ";", "=", "$", "P", "N", "S", "SE", "OB", "OS", "OC", "OE", "L", "A", "H", "I", "Y",
    "-1", "0", "1e308", "1e999", "-1e999", "nan", "inf", "9223372036854775808", "x", "px", "poly", "rect",
    "\xFF", "\xE2\x80\x80", "\t", "#", "99999999999999999999", "1e-400", "8", "9"};

std::string mutate(std::string text, std::mt19937_64& rng) {
    const int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = text.empty() ? 0 : rng() % text.size();
        switch (rng() % 4) {
        case 0: text.insert(at, kTokens[rng() % kTokens.size()]); break;
        case 1: if (!text.empty()) text.erase(at, 1 + rng() % 6); break;
        case 2: if (!text.empty()) text[at] = static_cast<char>(rng() % 256); break;
        default: {  // duplicate a slice, growing repeated records
            const std::size_t len = std::min<std::size_t>(text.size() - at, 1 + rng() % 40);
            text.insert(at, text.substr(at, len));
        }
        }
    }
    return text;
}

std::size_t lineCount(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')) + 1; }

} // namespace

TEST(ODBFuzz, MutatedFeatureFilesReadSafely) {
    std::mt19937_64 rng(20261209);
    ODBPPParser::MatrixLayerInfo drillLayer{"drill", "DRILL", "POSITIVE", "BOARD", "", ""};
    for (int round = 0; round < 50000; ++round) {
        const std::string text = mutate(kSeed, rng);
        for (ODBUnits units : {ODBUnits::mm, ODBUnits::inch}) {
            FeaturesParser p(units);
            const GerberDocument doc = p.parse(text);
            ASSERT_LE(doc.objects.size(), lineCount(text));
            for (const auto& o : doc.objects) {
                if (!o.bbox.isValid()) continue;
                ASSERT_TRUE(std::isfinite(o.bbox.minX) && std::isfinite(o.bbox.maxX) && std::isfinite(o.bbox.minY) &&
                            std::isfinite(o.bbox.maxY))
                    << text;
            }
            const DrillDocument drill = FeaturesParser(units).parseDrill(text, drillLayer);
            ASSERT_LE(static_cast<std::size_t>(drill.totalCount()), lineCount(text));
            for (const auto& [number, tool] : drill.tools) ASSERT_TRUE(std::isfinite(tool.diameterMM)) << text;
        }
    }
}

TEST(ODBFuzz, MutatedMatricesEitherReadOrFailWithTheReaderError) {
    std::mt19937_64 rng(7);
    const std::string matrix = "STEP {\n COL=1\n NAME=PCB\n}\nLAYER {\n ROW=1\n CONTEXT=BOARD\n TYPE=SIGNAL\n NAME=TOP\n}\n"
                               "LAYER {\n ROW=2\n CONTEXT=BOARD\n TYPE=SOLDER_MASK\n NAME=MASK\n}\n";
    for (int round = 0; round < 5000; ++round) {
        corvane::testing::TestJob job;
        job.file("odb/matrix/matrix", mutate(matrix, rng))
            .file("odb/misc/info", "UNITS=MM\n")
            .file("odb/steps/pcb/layers/top/features", mutate(kSeed, rng))
            .file("odb/steps/pcb/layers/mask/features", mutate(kSeed, rng));
        try {
            const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
            ASSERT_FALSE(pkg.files.empty());
            for (const auto& f : pkg.files) ASSERT_TRUE(isValidUTF8(f.fileName));
        } catch (const ODBPPParseError&) {
        }
    }
}
