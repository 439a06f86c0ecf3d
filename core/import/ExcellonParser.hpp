#pragma once
// Excellon (NC drill) files: tools, holes, slots and routed paths, in millimetres.
#include <cstdint>
#include <optional>
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

    // The number format and unit a file starts with before its own header lines, if any, say
    // otherwise. Unset fields keep the reader's defaults (inches, 2:4 or 3:3 digits).
    struct FormatDefaults {
        std::optional<bool> metric;
        std::optional<std::int64_t> intDigits;
        std::optional<std::int64_t> decDigits;
        std::optional<bool> trailingZerosOmitted;  // digits fill from the left
        bool operator==(const FormatDefaults&) const = default;
    };

    // Allegro writes the format of its header-less drill files to "nc_param.txt" beside them
    // ("INTEGER-PLACES 3", "DECIMAL-PLACES 5" or the older "FORMAT 2.5", "OUTPUT-UNITS ENGLISH",
    // "SUPPRESS-LEAD-ZEROES YES", "SUPPRESS-TRAIL-ZEROES NO"). None when the text names nothing.
    static bool isAllegroParameterFile(std::string_view fileName);
    static std::optional<FormatDefaults> allegroParameters(std::string_view text);

    // Text that is not UTF-8 is read as Latin-1. Throws emptyInput for no bytes.
    DrillDocument parse(std::string_view fileName, std::span<const std::uint8_t> data,
                        const FormatDefaults& defaults = {}) const;
    // Empty text gives an empty document. Throws only SizeLimitError, past the import's object ceiling.
    DrillDocument parse(std::string_view fileName, std::string_view text, const FormatDefaults& defaults = {}) const;
};

} // namespace corvane
