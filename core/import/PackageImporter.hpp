#pragma once
// The one door every board package comes in through.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/FileIO.hpp"
#include "io/SizeLimits.hpp"
#include "io/VellZip.hpp"
#include "model/Model.hpp"

namespace corvane {

class ImportError : public CorvaneError {
public:
    enum class Case { unreadable, nothingToImport };
    static ImportError unreadable(const std::string& detail) { return ImportError(Case::unreadable, detail); }
    static ImportError nothingToImport() { return ImportError(Case::nothingToImport, {}); }
    Case errorCase() const { return case_; }
    const std::string& detail() const { return detail_; }

private:
    ImportError(Case c, std::string detail)
        : CorvaneError(c == Case::unreadable ? "Could not import: " + detail
                                             : "No Gerber/Drill files found in the package."),
          case_(c), detail_(std::move(detail)) {}
    Case case_;
    std::string detail_;
};

struct PackageImporter {
    // Reads the bytes of one listed entry; may throw, which ends the build with that error.
    using EntryReader = std::function<Bytes(const std::string& path)>;

    // Ceilings on untrusted input: one entry, everything read during one import, and the files of
    // one package.
    static constexpr std::uint64_t maxEntryBytes = kMaxEntryBytes;
    static constexpr std::uint64_t maxImportBytes = kMaxImportBytes;
    static constexpr std::size_t maxPackageFiles = kMaxPackageFiles;

    // Seconds the layer roles may take once the files are read (the rules that read roles from content):
    // past it, the files not yet examined keep the roles their names gave, and a warning says so.
    double timeBudget = 2.0;
    // Whether each file gets the hash of its bytes (PackageFile::dataHash), which revisions and caches are
    // keyed on. A picture of the board needs none, and on a large board hashing takes a tenth of the import.
    bool hashFiles = true;
    // Whether importAny reads a ZIP package where its entries are parsed, each by the thread that parses it
    // (FileOnDemand), rather than whole first. Quicker where the read is the first thing a process does;
    // while a program is still loading its libraries the threads wait on them and slow that loading down.
    bool readInParts = false;

    PCBPackage importAny(const std::filesystem::path& url) const;
    PCBPackage importZIP(const std::filesystem::path& url) const;
    PCBPackage importDirectory(const std::filesystem::path& url) const;
    PCBPackage importSingleFile(const std::filesystem::path& url) const;
    PCBPackage buildPackage(const std::string& archiveName, const std::string& sourceFileName,
                            const std::vector<ZipEntryInfo>& entries, const EntryReader& reader) const;

    static std::string shortHash(std::span<const std::uint8_t> bytes);
    // The same of a file's bytes, read in blocks rather than whole; a folder has the hash of no bytes.
    // Throws FileReadError.
    static std::string fileShortHash(const std::filesystem::path& url);

    // Whether a file name may hold layer data; exposed for tests.
    static bool supportedExtension(std::string_view fileName);
    static std::vector<std::string> crossFileWarnings(const std::vector<PackageFile>& files);
    // The warning crossFileWarnings gives a file whose role is doubtful (detected with low confidence).
    static std::string doubtfulRoleWarning(const PackageFile& file);
    // "%TF.FileFunction," value found in a content head (any letter case), trimmed of spaces and line feeds.
    static std::optional<std::string> x2FileFunction(std::string_view head);

    // A ZIP archive already in memory, named by its file name (the package is named without the extension).
    PCBPackage importZIPData(std::span<const std::uint8_t> data, const std::string& fileName) const;
    // A file read whole for import: refused unless it is a regular file within the entry ceiling, and
    // charged to the import in progress. Throws FileReadError or ImportError.
    static Bytes readInput(const std::filesystem::path& url);

private:
    PCBPackage importFolderFiles(const std::filesystem::path& url, const std::string& folderName) const;
    // importAny's decision on the bytes of a file that is not a folder.
    PCBPackage importFileData(const Bytes& data, const std::string& name) const;
    // A ZIP package whose entries are read by the threads that parse them (FileOnDemand).
    PCBPackage importZIPOnDemand(const std::filesystem::path& url, const std::string& name) const;
    // buildPackage with the import's allowance in force.
    PCBPackage assemblePackage(const std::string& archiveName, const std::string& sourceFileName,
                               const std::vector<ZipEntryInfo>& entries, const EntryReader& reader) const;
};

} // namespace corvane
