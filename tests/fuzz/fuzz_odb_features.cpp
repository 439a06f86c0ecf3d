// Any text given to the ODB++ feature and matrix readers reads without a crash, a sanitizer
// report or an oversized allocation, and gives finite boxes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "import/ODBPPParser.hpp"

namespace {
void checkFinite(const corvane::BBox& b) {
    if (!b.isValid()) return;
    if (!std::isfinite(b.minX) || !std::isfinite(b.minY) || !std::isfinite(b.maxX) || !std::isfinite(b.maxY))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (auto units : {corvane::ODBUnits::mm, corvane::ODBUnits::inch}) {
        corvane::FeaturesParser parser(units);
        const auto doc = parser.parse(text);
        checkFinite(doc.bbox);
        for (const auto& o : doc.objects)
            if (!o.isFinite()) std::abort();
        const auto drill = corvane::FeaturesParser(units).parseDrill(
            text, corvane::ODBPPParser::MatrixLayerInfo{"npth", "DRILL", "POSITIVE", "BOARD", "", ""});
        checkFinite(drill.bbox);
    }
    const auto layers = corvane::ODBPPParser::parseMatrix(text);
    for (const auto& l : layers) (void)corvane::ODBPPParser::copperID(l, layers);
    (void)corvane::ODBPPParser::stepNames(text);
    (void)corvane::ODBPPParser::detectUnits(text);
    return 0;
}
