#pragma once
// The ZIP archive that stores an open board as a revision, made again from the board's source: a ZIP's
// own bytes, or a stored ZIP of the files a folder or single-file import read, under their relative names.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "model/Errors.hpp"
#include "model/Model.hpp"

namespace corvane {

class RevisionArchiveError : public CorvaneError {
public:
    using CorvaneError::CorvaneError;
};

// Why the board cannot be stored as a revision, known from its source's kind without reading it whole; none
// when it can (a read that fails later is reported by revisionArchive).
std::optional<std::string> revisionRefusal(const PCBPackage& package, const std::optional<std::filesystem::path>& source);
// Throws RevisionArchiveError when the board cannot be stored (no source, a KiCad or ODB++ source, files
// that changed since they were read) and the reader's error when a file cannot be read.
std::vector<std::uint8_t> revisionArchive(const PCBPackage& package, const std::optional<std::filesystem::path>& source);

} // namespace corvane
