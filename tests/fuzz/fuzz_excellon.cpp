// Any bytes given to the Excellon reader end in a drill document or ExcellonParseError, never a
// crash, a sanitizer report, a non-finite position, slot or box, or an oversized allocation. The classifier
// sees the same bytes as a content head.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "import/ExcellonParser.hpp"
#include "import/LayerClassifier.hpp"
#include "io/TextDecoding.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> bytes(data, size);
    try {
        const corvane::DrillDocument doc = corvane::ExcellonParser{}.parse("fuzz.drl", bytes);
        for (const auto& h : doc.hits)
            if (!std::isfinite(h.position.x) || !std::isfinite(h.position.y)) std::abort();
        for (const auto& s : doc.slots)
            if (!s.isFinite()) std::abort();
        if (doc.bbox.isValid() && !doc.bbox.isFinite()) std::abort();
    } catch (const corvane::ExcellonParseError&) {
    }
    const std::string head = corvane::decodeHead(bytes, 2048);
    (void)corvane::LayerClassifier{}.detect(head.substr(0, 64), head, std::nullopt);
    return 0;
}
