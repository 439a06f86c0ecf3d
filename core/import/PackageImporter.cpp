#include "PackageImporter.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <unordered_map>

#include "ContentRoles.hpp"
#include "ExcellonParser.hpp"
#include "GerberParser.hpp"
#include "KiCadPCBParser.hpp"
#include "LayerClassifier.hpp"
#include "LayerOrder.hpp"
#include "ODBPPParser.hpp"
#include "io/TextDecoding.hpp"
#include "io/VellTar.hpp"
#include "model/Format.hpp"
#include "model/ParallelFor.hpp"

namespace corvane {

namespace fs = std::filesystem;

namespace {

ImportError notAZip(const std::string& name) { return ImportError::unreadable("'" + name + "' is not a ZIP archive."); }

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
// import is under way yet), and names the package in the error when a ceiling is reached, or when memory
// runs out first (a size from the file that no allocation can hold ends up here too).
template <class Step>
PCBPackage withinCeilings(const std::string& name, Step&& step) {
    ImportSession session;
    auto tooLarge = [&](const std::string& detail) {
        return ImportError::unreadable("'" + name + "' is too large to import (" + detail + ").");
    };
    try {
        return step();
    } catch (const SizeLimitError& e) {
        throw tooLarge(e.detail());
    } catch (const std::bad_alloc&) {
        throw tooLarge("not enough memory");
    } catch (const std::length_error&) {
        throw tooLarge("not enough memory");
    }
}

// Everything one accepted entry turns into, computed independently of the others.
struct EntryOutcome {
    bool skipped = true;               // filtered, empty or unrecognised
    bool notLayer = false;             // read for its content, which shows no layer data
    std::optional<std::string> skipWarning;
    std::vector<std::string> readerWarnings;
    std::optional<PackageFile> file;
    std::optional<CopperSetPlace> copperSet;
    std::exception_ptr error;
};

std::int64_t saturatingSum(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::int64_t>::max() : sum;
}

// Altium numbers signal (.G<n>) and plane (.GP<n>) layers apart: planes go after the highest signal
// layer, so the two never share an inner number.
void numberAltiumPlanes(std::vector<PackageFile>& files, const std::vector<std::optional<CopperSetPlace>>& places) {
    std::int64_t highestSignal = 0;
    for (const auto& p : places)
        if (p && p->set == CopperSetPlace::Set::altiumSignal) highestSignal = std::max(highestSignal, p->number);
    if (highestSignal == 0) return;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (places[i] && places[i]->set == CopperSetPlace::Set::altiumPlane)
            files[i].layerType = LayerType::copper(CopperLayerID::inner(saturatingSum(highestSignal, places[i]->number)));
}

bool inSet(const std::optional<CopperSetPlace>& place, CopperSetPlace::Set set) { return place && place->set == set; }

// The members of one copper set, in the order their places give.
std::vector<std::size_t> setMembers(const std::vector<std::optional<CopperSetPlace>>& places, CopperSetPlace::Set set) {
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < places.size(); ++i)
        if (inSet(places[i], set)) members.push_back(i);
    std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
        return std::pair(places[a]->rank, places[a]->number) < std::pair(places[b]->rank, places[b]->number);
    });
    return members;
}

// Copper numbered through the stack (lyr1…lyr6, L02…L11, .G2L, .ly3): the lowest number is the top and the
// highest the bottom, unless other files already name those sides; the rest are inner layers in order.
// Copper numbered among the inner layers only (gEDA's groups, Eagle's copper_inner_l<n>, planes named by
// function) follows, inner in order. Where nothing else names an outer side, layer groups numbered by name
// run through the whole stack: the old gEDA pcb writes group1 (component) and group2 (solder) alone, and
// pcb-rnd's numbered job group0 to group3 with no bottom file.
void numberCopperStack(std::vector<PackageFile>& files, const std::vector<std::optional<CopperSetPlace>>& places) {
    bool otherTop = false, otherBottom = false;
    std::int64_t otherInner = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (inSet(places[i], CopperSetPlace::Set::stack) || inSet(places[i], CopperSetPlace::Set::inner)) continue;
        if (const auto* cu = files[i].layerType.as<LayerType::Copper>()) {
            otherTop = otherTop || cu->side.as<CopperLayerID::Top>();
            otherBottom = otherBottom || cu->side.as<CopperLayerID::Bottom>();
            if (const auto* in = cu->side.as<CopperLayerID::Inner>()) otherInner = std::max(otherInner, in->number);
        }
    }
    std::vector<std::size_t> stack = setMembers(places, CopperSetPlace::Set::stack);
    std::vector<std::size_t> innerSet = setMembers(places, CopperSetPlace::Set::inner);
    const bool numberedGroups = std::all_of(innerSet.begin(), innerSet.end(), [&](std::size_t i) { return places[i]->rank == 1; });
    if (stack.empty() && numberedGroups && (!otherTop || !otherBottom)) std::swap(stack, innerSet);
    std::size_t first = 0, end = stack.size();
    if (!otherTop && !stack.empty()) files[stack[first++]].layerType = LayerType::copper(CopperLayerID::top());
    if (!otherBottom && stack.size() >= 2) files[stack[--end]].layerType = LayerType::copper(CopperLayerID::bottom());
    std::vector<std::size_t> inner(stack.begin() + static_cast<std::ptrdiff_t>(first),
                                   stack.begin() + static_cast<std::ptrdiff_t>(end));
    inner.insert(inner.end(), innerSet.begin(), innerSet.end());
    std::int64_t number = otherInner;
    for (std::size_t i : inner) {
        number = saturatingSum(number, 1);
        files[i].layerType = LayerType::copper(CopperLayerID::inner(number));
    }
}

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

// The folder part of an entry path, "" at the top.
std::string_view folderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// Allegro's drill format files (nc_param.txt), by the folder they stand in: they give the number format
// of the header-less drill files beside them. Read here, they are no layer files.
struct DrillParameters {
    std::map<std::string, ExcellonParser::FormatDefaults, std::less<>> byFolder;
    std::vector<bool> consumed;  // by accepted-entry slot

    ExcellonParser::FormatDefaults forFile(std::string_view path) const {
        const auto it = byFolder.find(folderOf(path));
        return it == byFolder.end() ? ExcellonParser::FormatDefaults{} : it->second;
    }
};

DrillParameters readDrillParameters(const std::vector<ZipEntryInfo>& entries, const std::vector<std::size_t>& accepted,
                                    const PackageImporter::EntryReader& reader) {
    DrillParameters params;
    params.consumed.assign(accepted.size(), false);
    for (std::size_t slot = 0; slot < accepted.size(); ++slot) {
        const std::string& path = entries[accepted[slot]].path;
        if (!ExcellonParser::isAllegroParameterFile(archiveLastComponent(path))) continue;
        const Bytes bytes = reader(path);
        if (bytes.size() > PackageImporter::maxEntryBytes) continue;
        // Read as the bytes stand: its words are ASCII, so decoding them first would only copy them.
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (auto defaults = ExcellonParser::allegroParameters(text)) {
            params.byFolder.try_emplace(std::string(folderOf(path)), *defaults);
            params.consumed[slot] = true;
        }
    }
    return params;
}

// What CAD tools write beside their layers that is never a layer: documents, pictures, archives, reports,
// netlists and job files, and the drawings of Altium (pad masters, drill drawings and guides) and Eagle
// (drill positions, documentation prints, plotter information).
bool neverLayer(std::string_view fileName) {
    static constexpr std::string_view kinds[] = {
        "pdf", "png", "jpg", "jpeg", "gif", "bmp", "svg", "tif", "tiff", "zip", "rar", "7z", "gz", "tgz", "tar",
        "doc", "docx", "xls", "xlsx", "odt", "ods", "csv", "htm", "html", "md", "rtf", "json", "xml", "gbrjob",
        "pos", "ipc", "net", "d356", "rep", "extrep", "drr", "apr", "apt", "lst", "log", "ini", "cfg", "dxf",
        "dwg", "step", "stp", "wrl", "sch", "schdoc", "pcbdoc", "prjpcb", "kicad_pcb", "kicad_sch", "kicad_pro",
        "gpi", "dri", "drp", "dcc", "dcs", "gpt", "gpb", "cam", "bak", "exe", "dll"};
    const std::string ext = asciiLower(pathExtension(fileName));
    for (auto k : kinds)
        if (ext == k) return true;
    return isPrefixNumber(ext, "gd") || isPrefixNumber(ext, "gg");
}

bool isSkippedPath(std::string_view path) {
    return path.find("__MACOSX") != std::string_view::npos || (!path.empty() && path.front() == '.');
}

// --- inputs refused with a reason -----------------------------------------------------------------

constexpr std::string_view kIPC2581Refusal = "IPC-2581 import is not supported.";

// An IPC-2581 file: named ".cvg", or an XML file that says so near its start.
bool isIPC2581(std::string_view fileName, const std::function<Bytes()>& read) {
    const std::string ext = asciiLower(pathExtension(fileName));
    if (ext == "cvg") return true;
    if (ext != "xml") return false;
    const Bytes bytes = read();
    return decodeHead(bytes, 256).find("IPC-2581") != std::string::npos;
}

// Archives of other kinds get a word on what to do instead of a misleading "nothing found".
void refuseOtherArchives(std::span<const std::uint8_t> data, const std::string& name) {
    auto startsWith = [&](std::initializer_list<std::uint8_t> magic) {
        return data.size() >= magic.size() && std::equal(magic.begin(), magic.end(), data.begin());
    };
    const std::string ext = asciiLower(pathExtension(name));
    std::string_view kind;
    if (startsWith({'R', 'a', 'r', '!', 0x1A, 0x07}) || ext == "rar") kind = "RAR";
    else if (startsWith({'7', 'z', 0xBC, 0xAF, 0x27, 0x1C}) || ext == "7z") kind = "7z";
    if (kind.empty()) return;
    throw ImportError::unreadable("'" + name + "' is a " + std::string(kind) + " archive; unpack it and open the folder.");
}

// --- package warnings -----------------------------------------------------------------------------

// One warning naming the files the name filter left out, so a file meant as a layer can be renamed.
std::optional<std::string> notReadWarning(const std::vector<std::string>& names) {
    constexpr std::size_t kListed = 10;
    if (names.empty()) return std::nullopt;
    std::string text = "Not read: ";
    for (std::size_t i = 0; i < names.size() && i < kListed; ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    if (names.size() > kListed) text += " and " + formatInt(static_cast<std::int64_t>(names.size() - kListed)) + " more";
    return text;
}

// Drill files whose holes mostly fall well outside the board were written with another origin (KiCad's
// drill origin, for one): the picture would put them beside the board without a word. The board is the
// outline's edge when there is one, else the copper's box.
std::vector<std::string> drillAlignmentWarnings(const std::vector<PackageFile>& files) {
    BBox board = PCBPackage::outlineBBoxOf(files);
    if (!board.isValid())
        for (const auto& f : files)
            if (f.layerType.isCopper() && f.gerber && f.gerber->bbox.isValid()) board.include(f.gerber->bbox);
    std::vector<std::string> out;
    for (const auto& f : files)
        if (f.drill && PCBPackage::drillLiesOffBoard(*f.drill, board))
            out.push_back("Drill file '" + f.fileName + "' does not line up with the board; it may use another origin.");
    return out;
}

// Old tools draw their sheet (a frame, corner marks, dimension lines, the title block) on every film. Without an
// outline that sheet would be the board's size. Where every copper and mask film draws beyond the holes, and
// what each draws there is mostly the same on all of them, that is the sheet: each film's part of the board is
// what it draws within a few millimetres of the holes. A board whose copper reaches beyond its
// holes is not so: its films differ there (pads and their mask openings, one side and the other), and a film
// that draws nothing beyond the holes ends the search before any sorting.
void setAsideSharedSheet(std::vector<PackageFile>& files) {
    constexpr std::size_t kFewestFilms = 3;
    constexpr double kSheetShare = 0.8;
    if (PCBPackage::outlineBBoxOf(files).isValid()) return;
    BBox holes = BBox::empty();
    for (const auto& f : files)
        if (f.drill && f.drill->bbox.isValid()) holes.include(f.drill->bbox);
    if (!holes.isValid()) return;
    const BBox near = PCBPackage::nearBoard(holes);
    auto beyond = [&](const PCBObject& o) {
        return o.bbox.isValid() && !near.contains(o.bbox);
    };
    std::vector<std::size_t> films;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& f = files[i];
        if (!f.gerber || !(f.layerType.isCopper() || f.layerType.as<LayerType::SolderMask>())) continue;
        if (std::none_of(f.gerber->objects.begin(), f.gerber->objects.end(), beyond)) return;
        films.push_back(i);
    }
    if (films.size() < kFewestFilms) return;
    // An object's key: its box to the micrometre, which one stroke drawn alike on every film shares.
    using Key = std::array<std::int64_t, 4>;
    auto keyOf = [](const PCBObject& o) {
        auto um = [](double v) { return static_cast<std::int64_t>(std::llround(v * 1000.0)); };
        return Key{um(o.bbox.minX), um(o.bbox.minY), um(o.bbox.maxX), um(o.bbox.maxY)};
    };
    std::vector<Key> shared;
    for (std::size_t n = 0; n < films.size(); ++n) {
        std::vector<Key> keys;
        for (const auto& o : files[films[n]].gerber->objects)
            if (o.bbox.isValid() && std::isfinite(o.bbox.width()) && std::isfinite(o.bbox.height())) keys.push_back(keyOf(o));
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        if (n == 0) {
            shared = std::move(keys);
            continue;
        }
        std::vector<Key> both;
        std::set_intersection(shared.begin(), shared.end(), keys.begin(), keys.end(), std::back_inserter(both));
        shared = std::move(both);
    }
    auto isShared = [&](const PCBObject& o) { return std::binary_search(shared.begin(), shared.end(), keyOf(o)); };
    for (std::size_t i : films) {
        std::size_t outside = 0, sheet = 0;
        for (const auto& o : files[i].gerber->objects) {
            if (!beyond(o)) continue;
            ++outside;
            if (isShared(o)) ++sheet;
        }
        if (static_cast<double>(sheet) < kSheetShare * static_cast<double>(outside)) return;
    }
    // A film's own words of the title (its layer's name) stand in the sheet too, nearer than the frame: the
    // board is what lies within a few millimetres of the holes, shared or not (pads drawn alike on every film).
    const BBox board = holes.outset(PCBPackage::kNearBoardMM);
    for (std::size_t i : films) {
        BBox part = BBox::empty();
        for (const auto& o : files[i].gerber->objects)
            if (o.bbox.isValid() && board.contains(o.bbox))
                part.include(o.bbox);
        files[i].boardPartBox = part;
    }
}

// --- ODB++ jobs delivered as a ZIP or a folder --------------------------------------------------

// The folder holding an ODB++ job's matrix/matrix, at the top or one folder down ("" for the top).
std::optional<std::string> odbJobRoot(const std::vector<ZipEntryInfo>& entries) {
    for (const auto& e : entries) {
        if (e.isDirectory || isSkippedPath(e.path)) continue;
        if (e.path == "matrix/matrix") return std::string();
        constexpr std::string_view tail = "/matrix/matrix";
        if (e.path.size() > tail.size() && e.path.ends_with(tail)) {
            const std::string root = e.path.substr(0, e.path.size() - tail.size() + 1);
            if (root.find('/') == root.size() - 1) return root;
        }
    }
    return std::nullopt;
}

PCBPackage importODBJob(const std::string& root, const std::string& archiveName, const std::string& sourceFileName,
                        const std::vector<ZipEntryInfo>& entries, const PackageImporter::EntryReader& reader) {
    // Reading the entries is charged to the import's byte budget as they are inflated or read.
    std::vector<TarEntry> job;
    for (const auto& e : entries) {
        if (e.isDirectory || isSkippedPath(e.path) || !e.path.starts_with(root)) continue;
        job.push_back(TarEntry{e.path, reader(e.path), false});
    }
    PCBPackage pkg = ODBPPParser{}.parseEntries(job);
    pkg.name = archiveName;
    pkg.sourceFileName = sourceFileName;
    return pkg;
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
    if (LayerClassifier::knowsWholeName(fileName)) return true;
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

namespace {
constexpr std::uint64_t kHashSeed = 0xcbf29ce484222325ULL;

// FNV-1a, continued over consecutive pieces of one byte string.
std::uint64_t continueHash(std::uint64_t h, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return h;
}
} // namespace

std::string PackageImporter::shortHash(std::span<const std::uint8_t> bytes) {
    return hex16(continueHash(kHashSeed, bytes));
}

std::string PackageImporter::fileShortHash(const fs::path& url) {
    std::error_code ec;
    if (fs::is_directory(url, ec)) return hex16(kHashSeed);
    std::uint64_t h = kHashSeed;
    readFileInBlocks(url, [&h](std::span<const std::uint8_t> block) { h = continueHash(h, block); });
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
    for (const auto& f : files)
        if (f.confidence == DetectionConfidence::low) out.push_back(doubtfulRoleWarning(f));
    return out;
}

std::string PackageImporter::doubtfulRoleWarning(const PackageFile& file) {
    return "Potential layer misclassification: '" + file.fileName + "' (" + file.layerType.displayName() + ").";
}

PCBPackage PackageImporter::buildPackage(const std::string& archiveName, const std::string& sourceFileName,
                                         const std::vector<ZipEntryInfo>& entries, const EntryReader& reader) const {
    return withinCeilings(sourceFileName, [&] { return assemblePackage(archiveName, sourceFileName, entries, reader); });
}

PCBPackage PackageImporter::assemblePackage(const std::string& archiveName, const std::string& sourceFileName,
                                            const std::vector<ZipEntryInfo>& entries, const EntryReader& reader) const {
    if (auto root = odbJobRoot(entries)) return importODBJob(*root, archiveName, sourceFileName, entries, reader);

    // Filter by name first: it is cheap and decides which entries are read at all. Names that say nothing
    // (no extension, a tool's own extensions) are read for their content; known non-layer files never are.
    std::vector<std::size_t> accepted;
    std::vector<bool> byContent;  // by accepted slot
    std::vector<std::size_t> refused;
    std::size_t acceptedByName = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        if (e.isDirectory || isSkippedPath(e.path)) continue;
        const std::string_view name = archiveLastComponent(e.path);
        if (supportedExtension(name)) {
            accepted.push_back(i);
            byContent.push_back(false);
            ++acceptedByName;
        } else if (!name.starts_with('.') && !neverLayer(name)) {
            accepted.push_back(i);
            byContent.push_back(true);
        } else {
            refused.push_back(i);
        }
    }

    requirePackageFileCount(acceptedByName);

    const DrillParameters drillParameters = readDrillParameters(entries, accepted, reader);
    std::vector<EntryOutcome> outcomes(accepted.size());
    ImportAllowance& allowance = *ImportAllowance::current();
    // Once a ceiling is reached the import is over: the other workers stop too.
    std::atomic<bool> ceilingReached{false};

    auto work = [&](std::size_t slot) {
        EntryOutcome& out = outcomes[slot];
        if (drillParameters.consumed[slot]) return;
        try {
            const AllowanceScope scope(allowance);
            const std::string& path = entries[accepted[slot]].path;
            const std::string name(archiveLastComponent(path));
            Bytes bytes = reader(path);
            const std::string head = decodeHead(bytes, 2048);
            if (byContent[slot] && !LayerClassifier::headShowsLayerData(head)) {
                out.notLayer = true;
                return;
            }
            if (bytes.empty()) return;
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
                file.drill = ExcellonParser{}.parse(name, bytes, drillParameters.forFile(path));
                break;
            case SourceFormat::unknown:
                out.skipWarning = "Skipped unrecognized file: " + name;
                return;
            }
            if (hashFiles) file.dataHash = shortHash(bytes);
            out.file = std::move(file);
            out.copperSet = det.copperSet;
            out.skipped = false;
        } catch (const SizeLimitError&) {
            ceilingReached = true;
            out.error = std::current_exception();
        } catch (const std::bad_alloc&) {
            ceilingReached = true;
            out.error = std::current_exception();
        } catch (...) {
            out.error = std::current_exception();
        }
    };

    // Entries are independent once read: parse them on a bounded pool, results in entry order. A small
    // package is read sooner by one thread than by several waiting to be scheduled. The largest entries are
    // handed out first, so that the last to finish is a small one rather than the largest layer begun late.
    constexpr std::uint64_t kBytesPerReader = 1 << 20;
    std::uint64_t declaredBytes = 0;
    for (std::size_t i : accepted) declaredBytes += static_cast<std::uint64_t>(std::max<std::int64_t>(0, entries[i].uncompressedSize));
    const auto readers = static_cast<unsigned>(
        std::clamp<std::uint64_t>(declaredBytes / kBytesPerReader + 1, 1, defaultWorkerCount()));
    std::vector<std::size_t> largestFirst(accepted.size());
    std::iota(largestFirst.begin(), largestFirst.end(), std::size_t{0});
    std::stable_sort(largestFirst.begin(), largestFirst.end(), [&](std::size_t a, std::size_t b) {
        return entries[accepted[a]].uncompressedSize > entries[accepted[b]].uncompressedSize;
    });
    parallelFor(
        accepted.size(), [&](std::size_t k) {
            if (!ceilingReached) work(largestFirst[k]);
        },
        readers);

    // Walk in entry order so the outcome equals a serial run: the first failing entry decides.
    std::vector<std::string> skipWarnings;
    std::vector<std::string> readerWarnings;
    std::vector<PackageFile> files;
    std::vector<std::optional<CopperSetPlace>> copperSets;
    for (auto& out : outcomes) {
        if (out.error) std::rethrow_exception(out.error);
        if (out.skipWarning) skipWarnings.push_back(std::move(*out.skipWarning));
        for (auto& w : out.readerWarnings) readerWarnings.push_back(std::move(w));
        if (out.file) {
            files.push_back(std::move(*out.file));
            copperSets.push_back(out.copperSet);
        }
    }
    // Files left out by name, and those read for their content without showing layer data, in entry order.
    std::vector<std::size_t> notRead = refused;
    for (std::size_t slot = 0; slot < accepted.size(); ++slot)
        if (outcomes[slot].notLayer) notRead.push_back(accepted[slot]);
    std::sort(notRead.begin(), notRead.end());
    if (files.empty()) {
        for (std::size_t i : notRead)
            if (isIPC2581(archiveLastComponent(entries[i].path), [&] { return reader(entries[i].path); }))
                throw ImportError::unreadable(std::string(kIPC2581Refusal));
        throw ImportError::nothingToImport();
    }
    requirePackageFileCount(files.size());
    numberAltiumPlanes(files, copperSets);
    numberCopperStack(files, copperSets);
    const std::vector<std::string> inferred = inferRolesFromContent(files, RoleDeadline::after(timeBudget));

    std::stable_sort(files.begin(), files.end(), [](const PackageFile& a, const PackageFile& b) {
        return layerOrder(a.layerType) < layerOrder(b.layerType);
    });
    std::vector<std::string> refusedNames;
    for (std::size_t i : notRead) {
        // Hidden files (".DS_Store" in a subfolder) are never meant as layers.
        const std::string_view name = archiveLastComponent(entries[i].path);
        if (!name.starts_with('.')) refusedNames.emplace_back(name);
    }
    std::vector<std::string> warnings;
    if (auto notReadText = notReadWarning(refusedNames)) warnings.push_back(std::move(*notReadText));
    warnings.insert(warnings.end(), skipWarnings.begin(), skipWarnings.end());
    warnings.insert(warnings.end(), readerWarnings.begin(), readerWarnings.end());
    warnings.insert(warnings.end(), inferred.begin(), inferred.end());
    setAsideSharedSheet(files);
    auto aligned = drillAlignmentWarnings(files);
    warnings.insert(warnings.end(), aligned.begin(), aligned.end());
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

PCBPackage PackageImporter::importZIPData(std::span<const std::uint8_t> data, const std::string& fileName) const {
    return withinCeilings(fileName, [&] {
        if (!VellZip::isZip(data)) refuseOtherArchives(data, fileName);
        if (!VellZip::isZip(data)) throw notAZip(fileName);
        const VellZip::Archive archive(data);
        return buildPackage(deletingPathExtension(fileName), fileName, archive.listEntries(),
                            [&archive](const std::string& path) { return archive.readEntry(path); });
    });
}

namespace {
// The reader of a single file read beforehand: every read is a copy, charged like any other.
PackageImporter::EntryReader copyingReader(const Bytes& data) {
    return [&data](const std::string&) {
        chargeImportBytes(data.size());
        return data;
    };
}
} // namespace

namespace {
std::size_t sizeOf(const Bytes& data) { return data.size(); }
std::size_t sizeOf(const std::unique_ptr<FileOnDemand>& file) { return file->bytes().size(); }

// Reads `url` through `read` (whole, or in parts), refused past the entry ceiling. The size is charged to the
// import before the bytes are read, so that workers reading side by side stay in budget, and what the file
// grew by while it was read after.
template <class Read> auto readCharged(const fs::path& url, Read&& read) {
    std::error_code ec;
    const std::uint64_t expected = fs::file_size(url, ec);
    if (!ec && expected <= PackageImporter::maxEntryBytes) chargeImportBytes(expected);
    try {
        auto data = read(url, PackageImporter::maxEntryBytes);
        const std::size_t size = sizeOf(data);
        if (ec || size > expected) chargeImportBytes(ec ? size : size - expected);
        return data;
    } catch (const FileReadError& e) {
        if (e.code() != EFBIG) throw;
        throw SizeLimitError("more than " + formatInt(static_cast<std::int64_t>(PackageImporter::maxEntryBytes >> 20)) +
                             " MB in one file");
    }
}
} // namespace

Bytes PackageImporter::readInput(const fs::path& url) {
    return readCharged(url, [](const fs::path& path, std::uint64_t most) { return readWholeFile(path, most); });
}

// Should the file change while it is read, what was read of it may mix two versions: it is read again whole,
// as one.
PCBPackage PackageImporter::importZIPOnDemand(const fs::path& url, const std::string& name) const {
    std::optional<PCBPackage> package;
    {
        const auto file = readCharged(
            url, [](const fs::path& path, std::uint64_t most) { return std::make_unique<FileOnDemand>(path, most); });
        try {
            const VellZip::Archive archive(
                file->bytes(), [&file](std::uint64_t offset, std::uint64_t length) { file->need(offset, length); });
            package = buildPackage(deletingPathExtension(name), name, archive.listEntries(),
                                   [&archive](const std::string& path) { return archive.readEntry(path); });
        } catch (...) {
            if (!file->changed()) throw;
        }
        if (package && !file->changed()) return std::move(*package);
    }
    return importZIPData(readInput(url), name);
}

PCBPackage PackageImporter::importZIP(const fs::path& url) const {
    const std::string name = lastPathComponent(url);
    return withinCeilings(name, [&] { return importZIPData(readInput(url), name); });
}

PCBPackage PackageImporter::importSingleFile(const fs::path& url) const {
    const std::string name = lastPathComponent(url);
    return withinCeilings(name, [&] {
        const Bytes data = readInput(url);
        std::vector<ZipEntryInfo> entries{ZipEntryInfo{name, static_cast<std::int64_t>(data.size()), false}};
        return buildPackage(deletingPathExtension(name), name, entries, copyingReader(data));
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
    return withinCeilings(name, [&] {
        // A ZIP archive, the usual package, may be read where its entries are parsed; what else a file may
        // be is decided on its bytes read whole.
        if (readInParts && VellZip::isZip(readFileHead(url, 4))) return importZIPOnDemand(url, name);
        return importFileData(readInput(url), name);
    });
}

PCBPackage PackageImporter::importFileData(const Bytes& data, const std::string& name) const {
    if (VellZip::isZip(data)) return importZIPData(data, name);

    const std::string ext = asciiLower(pathExtension(name));
    if (ext == "kicad_pcb") return KiCadPCBParser{}.parse(name, data);
    if (auto head = decodeHead(data, 64); head.find("(kicad_pcb") != std::string::npos)
        return KiCadPCBParser{}.parse(name, data);
    if (isIPC2581(name, [&] { return data; })) throw ImportError::unreadable(std::string(kIPC2581Refusal));
    if (VellTar::isGzip(data) || ext == "tgz") return ODBPPParser{}.parse(data);
    refuseOtherArchives(data, name);
    // Named as an archive but holding something else: no layer file could be meant.
    if (ext == "zip") throw notAZip(name);
    std::vector<ZipEntryInfo> entries{ZipEntryInfo{name, static_cast<std::int64_t>(data.size()), false}};
    return buildPackage(deletingPathExtension(name), name, entries, copyingReader(data));
}

} // namespace corvane
