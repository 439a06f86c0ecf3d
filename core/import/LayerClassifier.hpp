#pragma once
// Guessing a file's layer role and format from its name, the head of its content and its
// Gerber X2 file function.
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "model/Model.hpp"

namespace corvane {

struct LayerDetection {
    LayerType layerType;
    DetectionConfidence confidence;
    SourceFormat format;
    // How the decision was reached; empty for the plain name rules. Not kept in the package.
    std::string note;
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

    // The fixed extensions behind `mapsExtension`, for listing; the numbered forms are not in it.
    static std::span<const std::string_view> knownExtensions();
};

} // namespace corvane
