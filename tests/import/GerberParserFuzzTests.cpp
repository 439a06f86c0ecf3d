// A short, deterministic mutation run over small Gerber files: whatever the bytes, the reader either
// throws its own error or returns a document whose numbers are all finite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "import/GerberTestHelpers.hpp"

using namespace corvane;
using namespace corvane::test;

namespace {

const char* const kSeeds[] = {
    "%FSLAX26Y26*%\n%MOMM*%\n%ADD10C,0.5*%\nD10*\nX0Y0D02*\nX1000000Y0D01*\nG75*\nG03X0Y1000000I-1000000J0D01*\n"
    "G36*\nX0Y0D02*\nX1000000Y0D01*\nX1000000Y1000000D01*\nG37*\nM02*\n",
    "%TF.FileFunction,Copper,L1,Top*%\n%FSLAX46Y46*%\n%MOMM*%\n%AMRoundRect*4,1,4,$2,$3,$4,$5,$6,$7,$8,$9,$2,$3,0*"
    "1,1,$1+$1,$2,$3*20,1,$1+$1,$2,$3,$4,$5,0*%\n%ADD10RoundRect,0.25X-0.5X-0.25X0.5X-0.25X0.5X0.25X-0.5X0.25X0*%\n"
    "%TO.N,GND*%\nD10*\nX1000000Y1000000D03*\n%TD*%\nM02*\n",
    "G04 #@! %TF.GenerationSoftware,EAGLE*\n%FSTAX24Y24*%\n%MOIN*%\n%AMOC8*5,1,8,0,0,1.08239X$1,22.5*%\n"
    "%ADD11OC8,0.05*%\nG74*\nG54D11*\nX1Y1D02*\nD03*\nG02X2Y0I1J1D01*\n%LPC*%\nX3Y3*\n%SRX2Y2I1J1*%\nM02*\n",
    "%FSLAX24Y24*%\n%AMT*7,0,0,1,0.6,0.2,$1*6,0,0,1,0.1,0.1,3,0.05,1.2,0*$2=$1/2*21,1,$2,1,0,0,0*%\n"
    "%ADD12T,30X1*%\nD12*\nX100Y100D03*\nG36*\nG03X0Y0I-50J0D01*\nG37*\n",
};

const char* const kTokens[] = {"%", "*", "\n", "\r\n", "G36*", "G37*", "D03*", "D01*", "D02*", "G74*", "G75*",
                               "G02", "G03", "X99999999999999999999", "Y-1e308", "I", "J0", "$1=", "(", ")",
                               "x", "/0", "%AMQ*", "%ADD10Q*%", "%ADD20C,", "G04 %", "nan", "inf", "\xFF", "\xC3",
                               "4,1,99999,", "5,1,1e300,0,0,1,0*", "%FSTAX99999Y99999*%", "%MOIN*%", "%LPC*%"};

bool finiteBox(const BBox& b) {
    return std::isfinite(b.minX) && std::isfinite(b.minY) && std::isfinite(b.maxX) && std::isfinite(b.maxY);
}

void checkDocument(const GerberDocument& doc) {
    for (std::size_t i = 0; i < doc.objects.size(); ++i) {
        const PCBObject& o = doc.objects[i];
        ASSERT_EQ(o.index, static_cast<std::int64_t>(i));
        if (o.bbox.isValid()) {
            ASSERT_TRUE(finiteBox(o.bbox));
        }
    }
    if (doc.bbox.isValid()) {
        ASSERT_TRUE(finiteBox(doc.bbox));
    }
    for (const auto& [code, ap] : doc.apertures) {
        ASSERT_TRUE(std::isfinite(ap.shape.boundingDiameter())) << code;
        if (const auto* m = ap.shape.as<ApertureShape::Macro>(); m && m->outline) {
            for (const Contour& c : *m->outline) {
                ASSERT_GE(c.size(), 3u);
                for (const Vec2& p : c) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
            }
        }
    }
}

} // namespace

TEST(GerberParserFuzz, MutatedFilesNeverBreakTheReader) {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    auto next = [&](std::size_t range) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::size_t>(state % range);
    };
    constexpr int kRuns = 20000;
    for (int run = 0; run < kRuns; ++run) {
        std::string text = kSeeds[next(std::size(kSeeds))];
        const std::size_t edits = 1 + next(8);
        for (std::size_t e = 0; e < edits; ++e) {
            const std::size_t at = text.empty() ? 0 : next(text.size() + 1);
            switch (next(4)) {
            case 0: text.insert(at, kTokens[next(std::size(kTokens))]); break;
            case 1: if (at < text.size()) text.erase(at, 1 + next(6)); break;
            case 2: if (at < text.size()) text[at] = static_cast<char>(next(256)); break;
            default: text.insert(at, text.substr(next(text.size() + 1), next(40))); break;
            }
        }
        try {
            checkDocument(parseDoc(text));
        } catch (const GerberParseError&) {
        }
        if (HasFatalFailure()) {
            ADD_FAILURE() << "input: " << text;
            return;
        }
    }
}

TEST(GerberParserFuzz, OversizedMacroOutlinesAreNotKept) {
    std::string body = "%FSLAX26Y26*%%MOMM*%%AMBIG*";
    for (int i = 0; i < 2000; ++i) body += "1,1,10," + std::to_string(i) + ",0*";
    body += "%\n%ADD10BIG*%\n";
    const GerberDocument doc = parseDoc(body);
    const auto* m = doc.apertures.at(10).shape.as<ApertureShape::Macro>();
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(m->outline.has_value());
    EXPECT_GT(m->boundingDiameter, 3990.0);  // still measured
}
