// Any bytes given to the S-expression reader and the KiCad board import end in a tree, a
// package or a KiCadParseError, never a crash, a sanitizer report, runaway memory or an object or
// box that is not finite.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "import/KiCadPCBParser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        const auto tree = corvane::SExprNode::parse(
            std::string_view(reinterpret_cast<const char*>(data), size), 100000);
        (void)tree->firstString("net");
    } catch (const corvane::KiCadParseError&) {
    }
    try {
        const corvane::PCBPackage package = corvane::KiCadPCBParser().parse("fuzz.kicad_pcb", bytes);
        for (const auto& f : package.files) {
            if (f.gerber)
                for (const auto& o : f.gerber->objects)
                    if (!o.isFinite()) std::abort();
            if (f.drill)
                for (const auto& h : f.drill->hits)
                    if (!h.position.isFinite()) std::abort();
        }
        if (package.boardBBox().isValid() && !package.boardBBox().isFinite()) std::abort();
    } catch (const corvane::KiCadParseError&) {
    }
    return 0;
}
