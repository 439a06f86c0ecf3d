#include "RevisionArchive.hpp"

#include <algorithm>
#include <span>
#include <system_error>

#include "io/FileIO.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellTar.hpp"
#include "io/VellZip.hpp"
#include "io/VellZipWriter.hpp"
#include "model/Format.hpp"

namespace corvane {

namespace {

constexpr const char* notStorable = "only ZIP, folder or Gerber/drill boards can be stored.";

bool startsWithKiCad(std::span<const std::uint8_t> data) {
    const std::string needle = "(kicad_pcb";
    const std::size_t n = std::min<std::size_t>(data.size(), 64 + needle.size());
    const std::string head(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    return head.find(needle) != std::string::npos;
}

// The bytes must be what was reviewed: a file changed on disk since the import would store another board.
void checkUnchanged(const PackageFile& file, const std::vector<std::uint8_t>& bytes) {
    if (!file.dataHash.empty() && PackageImporter::shortHash(bytes) != file.dataHash)
        throw RevisionArchiveError("'" + file.fileName + "' has changed since the board was opened.");
}

} // namespace

namespace {

// What a source file is, from its name and first bytes: a ZIP is stored as it is, a single Gerber or drill file
// in a ZIP of its own; KiCad boards and ODB++ jobs cannot be stored.
enum class SourceFile { zip, single, unstorable };

// Enough for the ZIP and gzip signatures and for "(kicad_pcb" after a line or two of comment.
constexpr std::size_t kHeadBytes = 64 + 10;

SourceFile classify(const std::filesystem::path& source, std::span<const std::uint8_t> head) {
    if (VellZip::isZip(head)) return SourceFile::zip;
    const std::string ext = asciiLower(pathExtension(source.filename().string()));
    if (ext == "kicad_pcb" || startsWithKiCad(head) || ext == "tgz" || VellTar::isGzip(head) || ext == "xml")
        return SourceFile::unstorable;
    return SourceFile::single;
}

bool isODBJobFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::exists(folder / "matrix" / "matrix", ec);
}

} // namespace

std::optional<std::string> revisionRefusal(const PCBPackage& package, const std::optional<std::filesystem::path>& source) {
    if (!source) return std::string(notStorable);
    std::error_code ec;
    if (std::filesystem::is_directory(*source, ec)) {
        if (isODBJobFolder(*source)) return std::string(notStorable);
        return std::nullopt;
    }
    Bytes head;
    try {
        head = readFileHead(*source, kHeadBytes);
    } catch (const FileReadError&) {
        return std::nullopt;  // the store itself reports what cannot be read
    }
    switch (classify(*source, head)) {
    case SourceFile::zip: return std::nullopt;
    case SourceFile::single: return package.files.size() == 1 ? std::nullopt : std::optional<std::string>(notStorable);
    case SourceFile::unstorable: break;
    }
    return std::string(notStorable);
}

std::vector<std::uint8_t> revisionArchive(const PCBPackage& package, const std::optional<std::filesystem::path>& source) {
    if (!source) throw RevisionArchiveError(notStorable);
    std::error_code ec;
    if (std::filesystem::is_directory(*source, ec)) {
        if (isODBJobFolder(*source)) throw RevisionArchiveError(notStorable);
        std::vector<VellZipWriter::Entry> entries;
        entries.reserve(package.files.size());
        for (const auto& file : package.files) {
            const std::filesystem::path rel(file.relativePath);
            // Relative names only: the archive must not point outside the folder it was read from.
            if (rel.empty() || rel.is_absolute()) throw RevisionArchiveError(notStorable);
            for (const auto& part : rel)
                if (part == "..") throw RevisionArchiveError(notStorable);
            auto bytes = readWholeFile(*source / rel);
            checkUnchanged(file, bytes);
            entries.emplace_back(file.relativePath, std::move(bytes));
        }
        return VellZipWriter::archive(entries);
    }
    auto data = readWholeFile(*source);
    switch (classify(*source, data)) {
    case SourceFile::zip: return data;
    case SourceFile::unstorable: throw RevisionArchiveError(notStorable);
    case SourceFile::single: break;
    }
    if (package.files.size() != 1) throw RevisionArchiveError(notStorable);
    const PackageFile& file = package.files.front();
    checkUnchanged(file, data);
    return VellZipWriter::archive({{source->filename().string(), std::move(data)}});
}

} // namespace corvane
