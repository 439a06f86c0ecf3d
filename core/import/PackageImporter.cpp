#include "PackageImporter.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "ExcellonParser.hpp"
#include "GerberParser.hpp"
#include "KiCadPCBParser.hpp"
#include "LayerClassifier.hpp"
#include "ODBPPParser.hpp"
#include "TextDecoding.hpp"
#include "VellTar.hpp"
#include "model/Format.hpp"
#include "model/ParallelFor.hpp"

namespace corvane {

namespace fs = std::filesystem;

namespace {

bool containsCaseInsensitive(std::string_view hay, std::string_view needle, std::size_t* at = nullptr) {
    if (needle.size() > hay.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i) {
        std::size_t k = 0;
        for (; k < needle.size(); ++k) {
            if (asciiLowerChar(hay[i + k]) != asciiLowerChar(needle[k])) break;
        }
        if (k == needle.size()) {
            if (at) *at = i;
            return true;
        }
    }
    return false;
}

// Runs one import step with the import's allowance in force on this thread (a fresh one when no
// import is under way yet), and names the package in the error when a ceiling is reached.
template <class Step>
PCBPackage withinCeilings(const std::string& name, Step&& step) {
    ImportSession session;
    try {
        return step();
    } catch (const SizeLimitError& e) {
        throw ImportError::unreadable("'" + name + "' is too large to import (" + e.detail() + ").");
    }
}

// Everything one accepted entry turns into, computed independently of the others.
struct EntryOutcome {
    bool skipped = true;               // filtered, empty or unrecognised
    std::optional<std::string> skipWarning;
    std::vector<std::string> readerWarnings;
    std::optional<PackageFile> file;
    std::exception_ptr error;
};

// "in[0-9]\.cu" anywhere in the lower-cased name.
bool matchesInnerCuHint(std::string_view lower) {
    for (std::size_t i = 0; i + 6 <= lower.size(); ++i) {
        if (lower[i] == 'i' && lower[i + 1] == 'n' && lower[i + 2] >= '0' && lower[i + 2] <= '9' &&
            lower[i + 3] == '.' && lower[i + 4] == 'c' && lower[i + 5] == 'u')
            return true;
    }
    return false;
}

// "<prefix><digits>" with at least one digit, e.g. g12, gp3, tx1.
bool isPrefixNumber(std::string_view ext, std::string_view prefix) {
    if (ext.size() <= prefix.size() || ext.substr(0, prefix.size()) != prefix) return false;
    return std::all_of(ext.begin() + static_cast<std::ptrdiff_t>(prefix.size()), ext.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool PackageImporter::supportedExtension(std::string_view fileName) {
    static const char* const table[] = {
        "gbr", "gtl", "gbl", "gts", "gbs", "gto", "gbo", "gtp", "gbp", "gko", "gml", "gm1", "gm13",
        "out", "g1", "g2", "g3", "g4", "gp1", "gp2", "in1", "in2", "in3", "in4", "txt", "drl", "drd",
        "xln", "nc", "tap", "top", "bot", "plt", "plb", "sot", "sob", "sst", "ssb", "smt", "smb", "sts",
        "stc", "cpt", "crb", "kee", "brd", "gm", "art", "pho", "exc", "drills",
        // Further CAD families: Eagle CAM, generic Gerber and NC drill extensions.
        "cmp", "sol", "plc", "pls", "crc", "crs", "grb", "ger", "gdo", "cnc", "ncd"};
    const std::string ext = asciiLower(pathExtension(fileName));
    for (const char* e : table)
        if (ext == e) return true;
    if (isPrefixNumber(ext, "g") || isPrefixNumber(ext, "gp") || isPrefixNumber(ext, "tx") ||
        isPrefixNumber(ext, "gm"))
        return true;
    if (!ext.empty() && LayerClassifier::mapsExtension(ext)) return true;
    const std::string lower = asciiLower(fileName);
    if (lower.find(".gbr") != std::string::npos) return false;
    static const char* const hints[] = {"f_cu", "b_cu", "edge.cuts", "f_mask", "b_mask",
                                        "f_silkscreen", "b_silkscreen", "f_paste", "b_paste"};
    for (const char* h : hints)
        if (lower.find(h) != std::string::npos) return true;
    return matchesInnerCuHint(lower);
}

std::optional<std::string> PackageImporter::x2FileFunction(std::string_view head) {
    std::size_t at = 0;
    std::string_view mark;
    // The attribute form first, then the comment form some CAD tools write instead.
    if (containsCaseInsensitive(head, "%TF.FileFunction,", &at)) {
        mark = "%TF.FileFunction,";
    } else if (containsCaseInsensitive(head, "#@! TF.FileFunction,", &at)) {
        mark = "#@! TF.FileFunction,";
    } else {
        return std::nullopt;
    }
    const std::string_view rest = head.substr(at + mark.size());
    const auto star = rest.find('*');
    if (star == std::string_view::npos) return std::nullopt;
    std::string_view value = rest.substr(0, star);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\n')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\n')) value.remove_suffix(1);
    return std::string(value);
}

std::string PackageImporter::shortHash(std::span<const std::uint8_t> bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return hex16(h);
}

std::vector<std::string> PackageImporter::crossFileWarnings(const std::vector<PackageFile>& files) {
    std::vector<std::string> out;
    std::unordered_map<std::string, std::string> firstByKey;
    for (const auto& f : files) {
        // Split drill files (plated / non-plated, holes / slots) are normal, not duplicates.
        if (f.layerType.isUnknown() || f.layerType.isDrill()) continue;
        auto [it, inserted] = firstByKey.try_emplace(f.layerType.matchKey(), f.fileName);
        if (!inserted) {
            out.push_back("Duplicate layer: '" + f.fileName + "' and '" + it->second + "' are both " +
                          f.layerType.displayName() + ".");
        }
    }
    for (const auto& f : files) {
        if (f.confidence == DetectionConfidence::low)
            out.push_back("Potential layer misclassification: '" + f.fileName + "' (" + f.layerType.displayName() +
                          ").");
    }
    return out;
}

PCBPackage PackageImporter::buildPackage(const std::string& archiveName, const std::string& sourceFileName,
                                         const std::vector<ZipEntryInfo>& entries, const EntryReader& reader) const {
    return withinCeilings(sourceFileName, [&] { return assemblePackage(archiveName, sourceFileName, entries, reader); });
}

PCBPackage PackageImporter::assemblePackage(const std::string& archiveName, const std::string& sourceFileName,
                                            const std::vector<ZipEntryInfo>& entries, const EntryReader& reader) const {
    // Filter by name first: it is cheap and decides which entries are read at all.
    std::vector<std::size_t> accepted;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        if (e.isDirectory) continue;
        if (e.path.find("__MACOSX") != std::string::npos) continue;
        if (!e.path.empty() && e.path.front() == '.') continue;
        if (!supportedExtension(archiveLastComponent(e.path))) continue;
        accepted.push_back(i);
    }

    requirePackageFileCount(accepted.size());

    std::vector<EntryOutcome> outcomes(accepted.size());
    ImportAllowance& allowance = *ImportAllowance::current();
    // Once a ceiling is reached the import is over: the other workers stop too.
    std::atomic<bool> ceilingReached{false};

    auto work = [&](std::size_t slot) {
        EntryOutcome& out = outcomes[slot];
        try {
            const AllowanceScope scope(allowance);
            const std::string& path = entries[accepted[slot]].path;
            const std::string name(archiveLastComponent(path));
            Bytes bytes = reader(path);
            if (bytes.empty()) return;
            const std::string head = decodeHead(bytes, 2048);
            const auto function = x2FileFunction(head);
            const LayerDetection det = LayerClassifier{}.detect(name, head, function);
            PackageFile file;
            file.fileName = name;
            file.relativePath = path;
            file.format = det.format;
            file.layerType = det.layerType;
            file.confidence = det.confidence;
            switch (det.format) {
            case SourceFormat::gerberRS274X:
            case SourceFormat::gerberX2: {
                auto result = GerberParser{}.parseWithWarnings(name, bytes);
                file.gerber = std::move(result.document);
                for (auto& w : result.warnings) out.readerWarnings.push_back(name + ": " + w);
                break;
            }
            case SourceFormat::excellon:
                file.drill = ExcellonParser{}.parse(name, bytes);
                break;
            case SourceFormat::unknown:
                out.skipWarning = "Skipped unrecognized file: " + name;
                return;
            }
            file.dataHash = shortHash(bytes);
            out.file = std::move(file);
            out.skipped = false;
        } catch (const SizeLimitError&) {
            ceilingReached = true;
            out.error = std::current_exception();
        } catch (...) {
            out.error = std::current_exception();
        }
    };

    // Entries are independent once read: parse them on a bounded pool, results in entry order.
    parallelFor(
        accepted.size(), [&](std::size_t i) {
            if (!ceilingReached) work(i);
        },
        defaultWorkerCount());

    // Walk in entry order so the outcome equals a serial run: the first failing entry decides.
    std::vector<std::string> skipWarnings;
    std::vector<std::string> readerWarnings;
    std::vector<PackageFile> files;
    for (auto& out : outcomes) {
        if (out.error) std::rethrow_exception(out.error);
        if (out.skipWarning) skipWarnings.push_back(std::move(*out.skipWarning));
        for (auto& w : out.readerWarnings) readerWarnings.push_back(std::move(w));
        if (out.file) files.push_back(std::move(*out.file));
    }
    if (files.empty()) throw ImportError::nothingToImport();

    std::stable_sort(files.begin(), files.end(), [](const PackageFile& a, const PackageFile& b) {
        return layerOrder(a.layerType) < layerOrder(b.layerType);
    });
    std::vector<std::string> warnings = std::move(skipWarnings);
    warnings.insert(warnings.end(), readerWarnings.begin(), readerWarnings.end());
    auto cross = crossFileWarnings(files);
    warnings.insert(warnings.end(), cross.begin(), cross.end());

    PCBPackage pkg;
    pkg.name = archiveName;
    pkg.sourceFileName = sourceFileName;
    pkg.files = std::move(files);
    pkg.warnings = std::move(warnings);
    pkg.importedAt = Date::now();
    return pkg;
}

PCBPackage PackageImporter::importZIPData(const Bytes& data, const std::string& fileName) const {
    return withinCeilings(fileName, [&] {
        if (!VellZip::isZip(data)) throw ImportError::unreadable("'" + fileName + "' is not a ZIP archive.");
        const VellZip::Archive archive(data);
        return buildPackage(deletingPathExtension(fileName), fileName, archive.listEntries(),
                            [&archive](const std::string& path) { return archive.readEntry(path); });
    });
}

Bytes PackageImporter::readInput(const fs::path& url) {
    // The size is charged before the bytes are read, so workers reading side by side stay in budget.
    std::error_code ec;
    const std::uint64_t expected = fs::file_size(url, ec);
    if (!ec && expected <= maxEntryBytes) chargeImportBytes(expected);
    Bytes data;
    try {
        data = readWholeFile(url, maxEntryBytes);
    } catch (const FileReadError& e) {
        if (e.code() == EFBIG)
            throw SizeLimitError("more than " + formatInt(static_cast<std::int64_t>(maxEntryBytes >> 20)) +
                                 " MB in one file");
        throw;
    }
    if (ec || data.size() > expected) chargeImportBytes(ec ? data.size() : data.size() - expected);
    return data;
}

PCBPackage PackageImporter::importZIP(const fs::path& url) const {
    const std::string name = lastPathComponent(url);
    return withinCeilings(name, [&] { return importZIPData(readInput(url), name); });
}

PCBPackage PackageImporter::importSingleFile(const fs::path& url) const {
    const std::string name = lastPathComponent(url);
    return withinCeilings(name, [&] {
        Bytes data = readInput(url);
        std::vector<ZipEntryInfo> entries{ZipEntryInfo{name, static_cast<std::int64_t>(data.size()), false}};
        // The one entry is read once: its bytes move on instead of being copied.
        return buildPackage(deletingPathExtension(name), name, entries,
                            [&data](const std::string&) { return std::move(data); });
    });
}

PCBPackage PackageImporter::importDirectory(const fs::path& url) const {
    const std::string folderName = lastPathComponent(url);
    return withinCeilings(folderName, [&] { return importFolderFiles(url, folderName); });
}

PCBPackage PackageImporter::importFolderFiles(const fs::path& url, const std::string& folderName) const {
    std::error_code ec;
    fs::recursive_directory_iterator it(url, fs::directory_options::skip_permission_denied, ec);
    if (ec) throw ImportError::unreadable("Cannot read folder " + folderName + ".");

    // Relative paths come from the path structure, never from text replacement, so a folder whose
    // name recurs inside itself cannot make two files collide. Links are not followed.
    std::map<std::string, fs::path> byRelative;
    for (auto end = fs::recursive_directory_iterator(); it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code sec;
        const auto status = it->symlink_status(sec);
        if (sec || !fs::is_regular_file(status)) continue;
        const fs::path rel = it->path().lexically_relative(url);
        if (rel.empty()) continue;
        requireRoomForArchiveEntry(byRelative.size());
        byRelative.emplace(rel.generic_string(), it->path());
    }

    std::vector<ZipEntryInfo> entries;
    entries.reserve(byRelative.size());
    for (const auto& [rel, full] : byRelative) {
        std::error_code sec;
        const auto size = fs::file_size(full, sec);
        entries.push_back(ZipEntryInfo{rel, sec ? 0 : static_cast<std::int64_t>(size), false});
    }
    // Only names that pass the filter are ever read; an unreadable or oversized file reads as empty.
    return buildPackage(folderName, folderName, entries, [&byRelative](const std::string& rel) -> Bytes {
        auto found = byRelative.find(rel);
        if (found == byRelative.end()) return {};
        std::error_code sec;
        const auto size = fs::file_size(found->second, sec);
        if (sec || size > maxEntryBytes) return {};
        try {
            return readInput(found->second);
        } catch (const FileReadError&) {
            return {};
        }
    });
}

PCBPackage PackageImporter::importAny(const fs::path& url) const {
    std::error_code ec;
    if (fs::is_directory(url, ec)) return importDirectory(url);

    const std::string name = lastPathComponent(url);
    return withinCeilings(name, [&] { return importFileData(readInput(url), name); });
}

PCBPackage PackageImporter::importFileData(Bytes data, const std::string& name) const {
    if (VellZip::isZip(data)) return importZIPData(data, name);

    const std::string ext = asciiLower(pathExtension(name));
    if (ext == "kicad_pcb") return KiCadPCBParser{}.parse(name, data);
    if (auto head = decodeHead(data, 64); head.find("(kicad_pcb") != std::string::npos)
        return KiCadPCBParser{}.parse(name, data);
    if (ext == "xml") {
        if (auto head = decodeHead(data, 256); head.find("IPC-2581") != std::string::npos)
            throw ImportError::unreadable("IPC-2581 import is not supported.");
    }
    if (VellTar::isGzip(data) || ext == "tgz") return ODBPPParser{}.parse(data);
    std::vector<ZipEntryInfo> entries{ZipEntryInfo{name, static_cast<std::int64_t>(data.size()), false}};
    return buildPackage(deletingPathExtension(name), name, entries,
                        [&data](const std::string&) { return std::move(data); });
}

} // namespace corvane
