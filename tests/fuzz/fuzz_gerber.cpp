// Any bytes given to the Gerber reader end in a document or a GerberParseError, never a crash, a
// sanitizer report, a hang or an oversized allocation.
#include <cstddef>
#include <cstdint>
#include <span>

#include "import/GerberParser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        (void)corvane::GerberParser().parseWithWarnings("fuzz.gbr", std::span<const std::uint8_t>(data, size));
    } catch (const corvane::GerberParseError&) {
    }
    return 0;
}
