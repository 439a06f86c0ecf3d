#pragma once
// Reader for Gerber RS-274X files, with or without X2 attributes.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/Documents.hpp"
#include "model/Errors.hpp"

namespace corvane {

class GerberParseError : public CorvaneError {
public:
    enum class Case { malformed, emptyInput, missingFormatStatement };

    static GerberParseError malformed(std::string detail) {
        std::string description = "Malformed Gerber: " + detail;
        return GerberParseError(Case::malformed, description, std::move(detail));
    }
    static GerberParseError emptyInput() { return GerberParseError(Case::emptyInput, "Gerber file is empty.", {}); }
    static GerberParseError missingFormatStatement() {
        return GerberParseError(Case::missingFormatStatement, "Gerber file has no %FS format specification.", {});
    }

    Case errorCase() const { return case_; }
    const std::string& detail() const { return detail_; }

private:
    GerberParseError(Case c, const std::string& description, std::string detail)
        : CorvaneError(description), case_(c), detail_(std::move(detail)) {}
    Case case_;
    std::string detail_;
};

// A parsed file with the reader's warnings.
struct GerberParseResult {
    GerberDocument document;
    // Oddities that make the picture differ from what the file draws (step and repeat, image polarity,
    // mirroring, no unit command). Each text appears once; the package importer shows
    // them as "<file name>: <warning>".
    std::vector<std::string> warnings;
    // Aperture macros whose size could be neither measured nor evaluated. Kept for diagnostics only:
    // they are not shown to users.
    std::vector<std::string> internalWarnings;
};

class GerberParser {
public:
    // The file's bytes: UTF-8, or Latin-1 when they are not valid UTF-8. The name is not used.
    GerberDocument parse(std::string_view fileName, std::span<const std::uint8_t> data) const;
    // The same on text already decoded.
    GerberDocument parse(std::string_view fileName, std::string_view text) const;

    GerberParseResult parseWithWarnings(std::string_view fileName, std::span<const std::uint8_t> data) const;
    GerberParseResult parseWithWarnings(std::string_view fileName, std::string_view text) const;
};

} // namespace corvane
