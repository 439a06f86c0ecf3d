// ODB++ job structure: matrix, steps, profile and the layers worth importing.
#include "import/ODBPPParser.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "import/LayerOrder.hpp"
#include "model/ParallelFor.hpp"
#include "model/Format.hpp"
#include "io/TextDecoding.hpp"
#include "import/ODBText.hpp"

namespace corvane {

namespace {

std::string describe(ODBPPParseError::Case c, const std::string& detail) {
    if (c == ODBPPParseError::Case::notODBPP)
        return "No ODB++ structure found (expected matrix/, steps/, misc/ at archive root).";
    return "Malformed ODB++: " + detail;
}

bool endsWith(std::string_view s, std::string_view suffix) { return s.ends_with(suffix); }

// macOS resource-fork companions ("._name") travel inside many archives and hold no job data.
bool isAppleDouble(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return last.starts_with("._");
}

// A job names its matrix and at least one of its steps or misc folders somewhere in its paths.
template <class Entries, class PathOf>
void checkStructure(const Entries& entries, PathOf pathOf) {
    bool matrix = false, stepsOrMisc = false;
    for (const auto& e : entries) {
        const std::string& path = pathOf(e);
        if (path.find("matrix") != std::string::npos) matrix = true;
        if (path.find("steps") != std::string::npos || path.find("misc") != std::string::npos) stepsOrMisc = true;
    }
    if (!matrix || !stepsOrMisc) throw ODBPPParseError::notODBPP();
}

// The kept entries of one job, looked up by path (the first of equal paths wins).
class JobFiles {
public:
    explicit JobFiles(const std::vector<const TarEntry*>& entries) {
        table_.reserve(entries.size());
        for (const auto* e : entries) table_.emplace(e->path, e);
    }
    // The file at the first of `paths` that exists as a file.
    const TarEntry* find(const std::vector<std::string>& paths, std::string* found = nullptr) const {
        for (const auto& p : paths) {
            const auto it = table_.find(p);
            if (it != table_.end() && !it->second->isDirectory) {
                if (found) *found = p;
                return it->second;
            }
        }
        return nullptr;
    }

private:
    std::unordered_map<std::string_view, const TarEntry*> table_;
};

// Paths under a step, tried as written and then with the matrix's upper-case step and
// layer names lower-cased, as the folders on disk are usually named.
std::vector<std::string> stepPaths(const std::string& root, const std::string& step, const std::string& tail,
                                   const std::string& lowerTail) {
    const std::string lowStep = asciiLower(step);
    std::vector<std::string> paths;
    const auto add = [&](const std::string& p) {
        if (std::find(paths.begin(), paths.end(), p) == paths.end()) paths.push_back(p);
    };
    add(root + "steps/" + step + tail);
    add(root + "steps/" + lowStep + lowerTail);
    add(root + "steps/" + lowStep + tail);
    add(root + "steps/" + step + lowerTail);
    return paths;
}

struct FeatureFile {
    std::string path;
    std::string_view text;
};

std::optional<FeatureFile> findFeatures(const JobFiles& files, const std::vector<std::string>& paths) {
    std::string path;
    const TarEntry* e = files.find(paths, &path);
    if (!e) return std::nullopt;
    return FeatureFile{path, droppingUTF8BOM(odbtext::textOf(e->data))};
}

// The profile is the board's edge: drawn as its contour, as an outline layer is, not as a filled area
// over the whole board. Its surfaces become closed runs of strokes.
constexpr double kProfileLineWidthMM = 0.1;

void drawProfileAsContour(GerberDocument& profile) {
    std::vector<PCBObject> lines;
    lines.reserve(profile.objects.size());
    auto add = [&](PCBObjectKind kind) {
        const auto index = static_cast<std::int64_t>(lines.size());
        lines.emplace_back(std::move(kind), std::nullopt, ApertureShape::circle(kProfileLineWidthMM), Polarity::dark,
                           std::nullopt, std::nullopt, std::nullopt, std::nullopt, index);
    };
    for (auto& o : profile.objects) {
        const auto* region = o.kind.as<PCBObjectKind::Region>();
        if (!region) {
            o.index = static_cast<std::int64_t>(lines.size());
            lines.push_back(std::move(o));
            continue;
        }
        for (const Contour& c : region->contours)
            for (std::size_t i = 0; i < c.size() && c.size() >= 2; ++i) add(PCBObjectKind::stroke(c[i], c[(i + 1) % c.size()]));
    }
    profile.objects = std::move(lines);
    profile.bbox = ODBPPParser::bbox(profile);
}

} // namespace

ODBPPParseError::ODBPPParseError(Case c, std::string detail)
    : CorvaneError(describe(c, detail)), case_(c), detail_(std::move(detail)) {}

bool ODBPPParser::isCopperType(std::string_view type) {
    return type == "SIGNAL" || type == "MIXED" || type == "POWER_GROUND";
}

void ODBPPParser::validateODBStructure(const std::vector<TarEntry>& entries) {
    checkStructure(entries, [](const TarEntry& e) -> const std::string& { return e.path; });
}

std::vector<ODBPPParser::MatrixLayerInfo> ODBPPParser::parseMatrix(std::string_view text) {
    std::vector<MatrixLayerInfo> layers;
    std::map<std::string, std::string> fields;
    bool open = false;
    const auto field = [&](const char* key, const char* fallback) {
        const auto it = fields.find(key);
        return it == fields.end() ? std::string(fallback) : it->second;
    };
    const auto flush = [&] {
        const auto name = fields.find("NAME");
        if (name != fields.end() && !name->second.empty()) {
            layers.push_back(MatrixLayerInfo{name->second, field("TYPE", "SIGNAL"), field("POLARITY", "POSITIVE"),
                                             field("CONTEXT", "BOARD"), field("START_NAME", ""),
                                             field("END_NAME", "")});
        }
        fields.clear();
    };
    odbtext::forEachLine(droppingUTF8BOM(text), [&](std::string_view line) {
        if (line.starts_with("LAYER {") || line.starts_with("ROW {")) {
            open = true;
            fields.clear();
        } else if (line.starts_with("}")) {
            if (open) {
                flush();
                open = false;
            }
        } else if (open) {
            std::string key;
            std::string_view value;
            if (odbtext::keyValue(line, key, value)) fields[key] = std::string(value);
        }
        return true;
    });
    flush();
    return layers;
}

std::vector<std::string> ODBPPParser::stepNames(std::string_view text) {
    std::vector<std::string> names;
    bool inStep = false;
    std::optional<std::string> current;
    odbtext::forEachLine(droppingUTF8BOM(text), [&](std::string_view line) {
        if (line.starts_with("STEP {")) {
            inStep = true;
            current.reset();
        } else if (inStep && line.starts_with("}")) {
            if (current) names.push_back(*current);
            inStep = false;
        } else if (inStep) {
            std::string key;
            std::string_view value;
            if (odbtext::keyValue(line, key, value) && key == "NAME") current = std::string(value);
        }
        return true;
    });
    if (inStep && current) names.push_back(*current);
    return names;
}

std::string ODBPPParser::stepName(std::string_view text) {
    auto names = stepNames(text);
    return names.empty() ? std::string("pcb") : names.front();
}

std::optional<ODBUnits> ODBPPParser::detectUnits(std::string_view text) {
    std::optional<ODBUnits> units;
    int seen = 0;
    odbtext::forEachLine(droppingUTF8BOM(text), [&](std::string_view line) {
        // No longer than "UNITS=INCH": a longer line is never copied to be compared.
        const std::string u = line.size() <= 10 ? odbtext::upper(line) : std::string();
        if (u == "UNITS=MM" || u == "U MM") units = ODBUnits::mm;
        if (u == "UNITS=INCH" || u == "U INCH") units = ODBUnits::inch;
        return !units && ++seen < 10;
    });
    return units;
}

std::optional<ODBUnits> ODBPPParser::declaredUnits(std::string_view text) {
    std::optional<ODBUnits> units;
    odbtext::forEachLine(droppingUTF8BOM(text), [&](std::string_view line) {
        std::string key;
        std::string_view value;
        if (odbtext::keyValue(line, key, value) && key == "UNITS") {
            const std::string v = odbtext::upper(value);
            if (v == "MM") units = ODBUnits::mm;
            if (v == "INCH") units = ODBUnits::inch;
        }
        return !units;
    });
    return units;
}

namespace {
// Side of the copper row at `position` among `count` board copper rows.
CopperLayerID copperAt(std::size_t position, std::size_t count) {
    if (count < 2 || position == 0) return CopperLayerID::top();
    if (position + 1 == count) return CopperLayerID::bottom();
    return CopperLayerID::inner(static_cast<std::int64_t>(position));
}

// Position of each board copper row's name (the first row of a repeated name wins).
struct CopperRows {
    explicit CopperRows(const std::vector<ODBPPParser::MatrixLayerInfo>& layers) {
        for (const auto& l : layers)
            if (ODBPPParser::isCopperType(l.type) && ODBPPParser::isBoardContext(l.context))
                position.emplace(l.name, count++);
    }
    CopperLayerID side(const std::string& name) const {
        const auto it = position.find(name);
        return it == position.end() ? CopperLayerID::top() : copperAt(it->second, count);
    }
    std::unordered_map<std::string_view, std::size_t> position;
    std::size_t count = 0;
};
} // namespace

CopperLayerID ODBPPParser::copperID(const MatrixLayerInfo& layer, const std::vector<MatrixLayerInfo>& layers) {
    return CopperRows(layers).side(layer.name);
}

BBox ODBPPParser::bbox(const GerberDocument& document) {
    BBox box = BBox::empty();
    for (const auto& o : document.objects)
        if (o.bbox.isValid()) box.include(o.bbox);
    return box;
}

PCBPackage ODBPPParser::parse(std::span<const std::uint8_t> tgzData) const {
    // Unpacking and reading the layers charge one allowance.
    const ImportSession session;
    std::vector<TarEntry> entries;
    try {
        entries = VellTar::untar(VellTar::gunzip(tgzData));
    } catch (const VellTarError& e) {
        throw ODBPPParseError::malformed(std::string("cannot read tgz: ") + e.what());
    }
    return parseEntries(entries);
}

PCBPackage ODBPPParser::parseEntries(const std::vector<TarEntry>& all) const {
    // The profile and every layer, read on any thread, charge one allowance.
    ImportSession session;
    std::vector<const TarEntry*> kept;
    kept.reserve(all.size());
    for (const auto& e : all)
        if (!isAppleDouble(e.path)) kept.push_back(&e);
    checkStructure(kept, [](const TarEntry* e) -> const std::string& { return e->path; });
    const JobFiles files(kept);

    // Matrix and job root: real jobs sit below one top folder, so every other path is
    // taken relative to the folder that holds matrix/.
    const TarEntry* matrixEntry = nullptr;
    for (const auto* e : kept)
        if (!e->isDirectory && endsWith(e->path, "matrix/matrix")) { matrixEntry = e; break; }
    if (!matrixEntry)
        for (const auto* e : kept)
            if (!e->isDirectory && endsWith(e->path, "/matrix")) { matrixEntry = e; break; }
    const std::string_view matrixText = matrixEntry ? odbtext::textOf(matrixEntry->data) : std::string_view{};
    if (!matrixEntry || !isValidUTF8(matrixText)) throw ODBPPParseError::malformed("matrix file not found");
    const std::vector<MatrixLayerInfo> layers = parseMatrix(matrixText);
    if (layers.empty()) throw ODBPPParseError::malformed("matrix has no layers");
    const std::string& mp = matrixEntry->path;
    const std::string root = endsWith(mp, "matrix/matrix") ? mp.substr(0, mp.size() - 13)
                                                            : mp.substr(0, mp.size() - 6);

    PCBPackage pkg;
    const std::string& first = kept.front()->path;
    pkg.name = first.substr(0, std::min(first.find('/'), first.size()));
    pkg.sourceFileName = pkg.name + ".tgz";

    // Units of feature files that carry no unit line of their own.
    std::optional<ODBUnits> infoUnits;
    if (const auto* info = files.find({root + "misc/info"})) infoUnits = declaredUnits(odbtext::textOf(info->data));
    const auto jobUnits = [&](const std::string& step) {
        if (infoUnits) return *infoUnits;
        if (const auto* hdr = files.find(stepPaths(root, step, "/stephdr", "/stephdr")))
            if (auto u = declaredUnits(odbtext::textOf(hdr->data))) return *u;
        return ODBUnits::inch;
    };
    const auto unitsOf = [&](std::string_view text, const std::string& step) {
        if (auto u = detectUnits(text)) return *u;
        return jobUnits(step);
    };

    struct Profile {
        std::string path;
        GerberDocument doc;
        std::vector<std::string> warnings;
    };
    const auto readProfile = [&](const std::string& step) -> std::optional<Profile> {
        std::vector<std::string> paths = stepPaths(root, step, "/profile", "/profile");
        for (auto& p : stepPaths(root, step, "/profile/features", "/profile/features")) paths.push_back(p);
        const auto f = findFeatures(files, paths);
        if (!f) return std::nullopt;
        FeaturesParser parser(unitsOf(f->text, step));
        GerberDocument doc = parser.parse(f->text);
        drawProfileAsContour(doc);
        return Profile{f->path, std::move(doc), std::move(parser.warnings)};
    };

    // Step: the one named pcb, else the first whose profile draws something, else the first.
    std::vector<std::string> steps = stepNames(matrixText);
    if (steps.empty()) {
        const std::string stepsDir = root + "steps/";
        std::unordered_set<std::string_view> seen;
        for (const auto* e : kept) {
            if (!e->path.starts_with(stepsDir)) continue;
            const std::string_view rest = std::string_view(e->path).substr(stepsDir.size());
            const std::string_view name = rest.substr(0, std::min(rest.find('/'), rest.size()));
            if (!name.empty() && seen.insert(name).second) steps.emplace_back(name);
        }
    }
    if (steps.empty()) steps.push_back("pcb");
    std::optional<std::string> step;
    std::optional<Profile> profile;
    for (const auto& s : steps)
        if (asciiLower(s) == "pcb") { step = s; break; }
    if (!step) {
        for (const auto& s : steps) {
            auto p = readProfile(s);
            if (p && !p->doc.objects.empty()) {
                step = s;
                profile = std::move(p);
                break;
            }
        }
    }
    if (!step) step = steps.front();
    if (!profile) profile = readProfile(*step);

    std::vector<PackageFile> out;
    const auto makeFile = [](std::string fileName, std::string path, SourceFormat format, LayerType type) {
        PackageFile f;
        f.fileName = std::move(fileName);
        f.relativePath = std::move(path);
        f.format = format;
        f.layerType = std::move(type);
        f.confidence = DetectionConfidence::high;
        return f;
    };

    bool haveProfile = false;
    if (profile) {
        for (auto& w : profile->warnings) pkg.warnings.push_back(std::move(w));
        if (!profile->doc.objects.empty()) {
            PackageFile f = makeFile("odb-profile.gbr", profile->path, SourceFormat::unknown, LayerType::outline());
            f.gerber = std::move(profile->doc);
            out.push_back(std::move(f));
            haveProfile = true;
        }
    }

    // Mask, silkscreen and paste rows below the last copper row belong to the bottom side.
    std::size_t lastCopper = layers.size();
    for (std::size_t i = 0; i < layers.size(); ++i)
        if (isCopperType(layers[i].type) && isBoardContext(layers[i].context)) lastCopper = i;

    // Layers are located in matrix order, read in parallel, and their files and warnings
    // gathered back in matrix order.
    struct LayerJob {
        const MatrixLayerInfo* layer = nullptr;
        std::optional<FeatureFile> features;
        ODBUnits units = ODBUnits::mm;
        bool drill = false;
        std::optional<LayerType> type;
        std::optional<PackageFile> file;
        std::vector<std::string> warnings;
    };
    std::vector<LayerJob> jobs;
    const CopperRows copperRows(layers);
    for (std::size_t i = 0; i < layers.size(); ++i) {
        const MatrixLayerInfo& layer = layers[i];
        if (!isBoardContext(layer.context)) continue;
        LayerJob job;
        job.layer = &layer;
        const std::string tail = "/layers/" + layer.name + "/features";
        const std::string lowerTail = "/layers/" + asciiLower(layer.name) + "/features";
        job.features = findFeatures(files, stepPaths(root, *step, tail, lowerTail));
        if (!job.features) {
            job.warnings.push_back("ODB++ layer '" + layer.name + "' has no features file \u2014 skipped.");
            jobs.push_back(std::move(job));
            continue;
        }
        job.units = unitsOf(job.features->text, *step);
        const CopperLayerID side =
            lastCopper < layers.size() && i > lastCopper ? CopperLayerID::bottom() : CopperLayerID::top();
        job.drill = layer.type == "DRILL";
        if (isCopperType(layer.type)) job.type = LayerType::copper(copperRows.side(layer.name));
        else if (layer.type == "ROUT" && !haveProfile) job.type = LayerType::outline();
        else if (layer.type == "SOLDER_MASK") job.type = LayerType::solderMask(side);
        else if (layer.type == "SILK_SCREEN") job.type = LayerType::silkscreen(side);
        else if (layer.type == "COMP_MASK" || layer.type == "PASTE_MASK" || layer.type == "SOLDER_PASTE")
            job.type = LayerType::paste(side);
        jobs.push_back(std::move(job));
    }

    const auto readLayer = [&makeFile](LayerJob& job) {
        if (!job.features || (!job.drill && !job.type)) return;
        const MatrixLayerInfo& layer = *job.layer;
        FeaturesParser parser(job.units);
        if (job.drill) {
            DrillDocument drill = parser.parseDrill(job.features->text, layer);
            if (!drill.hits.empty() || !drill.slots.empty()) {
                job.file = makeFile("odb-" + layer.name + ".drl", job.features->path, SourceFormat::excellon,
                                    LayerType::drill());
                job.file->drill = std::move(drill);
            }
        } else {
            GerberDocument doc = parser.parse(job.features->text);
            if (!doc.objects.empty()) {
                job.file = makeFile("odb-" + layer.name + ".gbr", job.features->path, SourceFormat::unknown, *job.type);
                job.file->gerber = std::move(doc);
            }
        }
        job.warnings = std::move(parser.warnings);
    };
    // Every layer becomes a file, and the profile one more.
    requirePackageFileCount(jobs.size() + 1);
    ImportAllowance& allowance = session.allowance();
    parallelFor(
        jobs.size(),
        [&](std::size_t k) {
            const AllowanceScope scope(allowance);
            readLayer(jobs[k]);
        },
        defaultWorkerCount());

    for (auto& job : jobs) {
        if (job.file) out.push_back(std::move(*job.file));
        for (auto& w : job.warnings) pkg.warnings.push_back(std::move(w));
    }

    if (out.empty()) throw ODBPPParseError::malformed("no importable layers");
    std::stable_sort(out.begin(), out.end(), [](const PackageFile& a, const PackageFile& b) {
        return layerOrder(a.layerType) < layerOrder(b.layerType);
    });
    pkg.files = std::move(out);
    pkg.warnings.push_back("Imported from ODB++ (minimal reader: signal/rout/drill/profile/mask/silk).");
    pkg.importedAt = Date::now();
    return pkg;
}

} // namespace corvane
