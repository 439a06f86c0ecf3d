#include "sheets/RevisionArchive.hpp"

#include <system_error>

#include "import/FileIO.hpp"
#include "import/PackageImporter.hpp"
#include "import/VellTar.hpp"
#include "import/VellZip.hpp"
#include "import/VellZipWriter.hpp"

namespace corvane {

namespace {

constexpr const char* notStorable = "only ZIP, folder or Gerber/drill boards can be stored.";

std::string lowerExtension(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

bool startsWithKiCad(const std::vector<std::uint8_t>& data) {
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

std::vector<std::uint8_t> revisionArchive(const PCBPackage& package, const std::optional<std::filesystem::path>& source) {
    if (!source) throw RevisionArchiveError(notStorable);
    std::error_code ec;
    if (std::filesystem::is_directory(*source, ec)) {
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
    if (VellZip::isZip(data)) return data;
    const std::string ext = lowerExtension(*source);
    if (ext == "kicad_pcb" || startsWithKiCad(data) || ext == "tgz" || VellTar::isGzip(data) || ext == "xml")
        throw RevisionArchiveError(notStorable);
    if (package.files.size() != 1) throw RevisionArchiveError(notStorable);
    const PackageFile& file = package.files.front();
    checkUnchanged(file, data);
    return VellZipWriter::archive({{source->filename().string(), std::move(data)}});
}

} // namespace corvane
