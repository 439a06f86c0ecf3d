// Any bytes given to the S-expression reader and the KiCad board import end in a tree, a
// package or a KiCadParseError, never a crash, a sanitizer report or runaway memory.
#include <cstddef>
#include <cstdint>
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
        (void)corvane::KiCadPCBParser().parse("fuzz.kicad_pcb", bytes);
    } catch (const corvane::KiCadParseError&) {
    }
    return 0;
}
