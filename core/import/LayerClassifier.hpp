#pragma once
// Guessing a file's layer role and format from its name, the head of its content and its
// Gerber X2 file function.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/Model.hpp"

namespace corvane {

// Copper known only by its place within a set of the package's files (lyr3.art, L02.gdo, .G2L, Altium's
// .G<n> and .GP<n>, gEDA's group3, planes named GND or PWR). The detected role stands for the file on its
// own; the package importer numbers the set as a whole once it knows every file.
struct CopperSetPlace {
    enum class Set : std::uint8_t {
        stack,         // numbered through the board: the lowest is the top, the highest the bottom
        inner,         // inner layers only, in the order of (rank, number)
        altiumSignal,  // .G<n>: inner signal layer n
        altiumPlane,   // .GP<n>: inner plane n, numbered apart from the signal layers
    };
    Set set = Set::stack;
    std::int64_t number = 0;
    // Inner layers named by function only: ground planes (0) above signal layers (1) above power planes (2).
    std::int64_t rank = 0;
    bool operator==(const CopperSetPlace&) const = default;
};

struct LayerDetection {
    LayerType layerType;
    DetectionConfidence confidence;
    SourceFormat format;
    // How the decision was reached; empty for the plain name rules. Not kept in the package.
    std::string note;
    std::optional<CopperSetPlace> copperSet = std::nullopt;
};

struct LayerClassifier {
    // Never fails. `contentHead` is the first part of the file as text (empty when unknown);
    // `x2FileFunction` the trimmed value of the file's X2 file-function attribute, if any.
    LayerDetection detect(std::string_view fileName, std::string_view contentHead,
                          const std::optional<std::string>& x2FileFunction) const;

    // Whether the classifier knows the lower-case extension `ext` as a layer file: every entry
    // of its extension table, the numbered Altium forms (g<n>, gp<n>, gm<n>, tx<n>) and the
    // generic Gerber extensions. The package importer's name filter reuses it.
    static bool mapsExtension(std::string_view ext);

    // Whether the whole name is one of a tool's fixed layer names that carry no layer extension: a bare
    // name (tl, ko, sieb0, stp1) or a Zuken photoplot file (Resist-A.fph, Conductive-2.fph). The name
    // filter reuses it; other names of those forms are left to their content.
    static bool knowsWholeName(std::string_view fileName);

    // The fixed extensions behind `mapsExtension`, for listing; the numbered forms are not in it.
    static std::span<const std::string_view> knownExtensions();

    // The board side a file name says (top, bottom, front, back, secondary and their German, French,
    // Spanish, Italian and Dutch words), if any.
    static std::optional<CopperLayerID> sideNamed(std::string_view fileName);

    // Whether a content head shows layer data: a Gerber format statement, or Excellon drill content.
    static bool headShowsLayerData(std::string_view contentHead);
};

} // namespace corvane
