#pragma once
// Excellon (NC drill) files: tools, holes, slots and routed paths, in millimetres.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/Model.hpp"

namespace corvane {

class ExcellonParseError : public CorvaneError {
public:
    enum class Case { malformed, emptyInput };
    static ExcellonParseError malformed(const std::string& detail) { return {Case::malformed, detail}; }
    static ExcellonParseError emptyInput() { return {Case::emptyInput, {}}; }
    Case errorCase() const { return case_; }
    const std::string& detail() const { return detail_; }

private:
    ExcellonParseError(Case c, std::string detail)
        : CorvaneError(c == Case::malformed ? "Malformed Excellon: " + detail : "Drill file is empty."),
          case_(c), detail_(std::move(detail)) {}
    Case case_;
    std::string detail_;
};

// A tolerant single forward pass: unknown lines and words are skipped, unreadable values leave
// the state as it was, and reading stops at the first end-of-program code.
struct ExcellonParser {
    // Repeat codes ("R<n>") make many hits from a few bytes; one file makes at most this many.
    static constexpr std::int64_t maxRepeatedHits = 1'000'000;

    // Text that is not UTF-8 is read as Latin-1. Throws emptyInput for no bytes.
    DrillDocument parse(std::string_view fileName, std::span<const std::uint8_t> data) const;
    // Empty text gives an empty document. Throws only SizeLimitError, past the import's object ceiling.
    DrillDocument parse(std::string_view fileName, std::string_view text) const;
};

} // namespace corvane
