// Any bytes given to the Gerber reader end in a document or a GerberParseError, never a crash, a
// sanitizer report, a hang, an oversized allocation or an object or box that is not finite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "import/GerberParser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto result = corvane::GerberParser().parseWithWarnings("fuzz.gbr", std::span<const std::uint8_t>(data, size));
        for (const auto& o : result.document.objects)
            if (!o.isFinite()) std::abort();
        if (result.document.bbox.isValid() && !result.document.bbox.isFinite()) std::abort();
    } catch (const corvane::GerberParseError&) {
    }
    return 0;
}
