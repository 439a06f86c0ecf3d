#pragma once
// The package's own warnings as a reviewer reads them: files left unread, elements a reader skipped, units
// assumed, drill files that do not line up. They are part of the review beside the manufacturing checks.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Model.hpp"

namespace corvane {

struct PackageWarning {
    std::string text;
    std::vector<std::string> files;  // the files the text names, in the order it names them

    // "File: a.gbr" or "Files: a.gbr, b.gbr".
    std::string filesText() const;
};

// Each warning of the package once, in the importer's order, with the files it names: the package's files,
// quoted names, and the names a "Not read: a, b and 3 more" list gives. With the package's checks, a
// doubt about the role of a file the checks name as unrecognised is left out: one cause, one warning.
std::vector<PackageWarning> packageWarnings(const PCBPackage& package, const std::optional<DFMReport>& checks = std::nullopt);

// The files `text` names among `packageFiles` and in the forms above.
std::vector<std::string> filesNamedIn(std::string_view text, const std::vector<std::string>& packageFiles);

} // namespace corvane
