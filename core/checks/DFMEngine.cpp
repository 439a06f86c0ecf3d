#include "DFMEngine.hpp"

#include <map>
#include <new>
#include <string>

#include "CopperBodies.hpp"
#include "CopperFilms.hpp"
#include "CopperSpacing.hpp"

namespace corvane {

namespace {

constexpr double kOutlineToleranceMM = 0.01;
constexpr double kDrillGraceMM = 1.0;
constexpr std::size_t kMaxListedPositions = 10;

CheckIssue makeIssue(std::string id, CheckSeverity severity, std::string title, std::string message,
                     std::optional<std::string> fileName = std::nullopt, std::optional<Vec2> position = std::nullopt) {
    return CheckIssue{std::move(id), severity, std::move(title), std::move(message), std::move(fileName), position};
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

void checkStructure(const PCBPackage& package, std::vector<CheckIssue>& issues) {
    bool hasOutline = false;
    bool hasDrill = false;
    for (const auto& f : package.files) {
        hasOutline = hasOutline || f.layerType.isOutline();
        hasDrill = hasDrill || f.drill.has_value() || f.layerType.isDrill();
    }
    if (!hasOutline)
        issues.push_back(makeIssue("missingBoardOutline", CheckSeverity::error, "Missing board outline",
                                   "Missing board outline: no file in the package was classified as the board "
                                   "outline (profile) layer."));
    if (!hasDrill)
        issues.push_back(makeIssue("missingDrillFile", CheckSeverity::error, "Missing drill file",
                                   "Missing drill file: no Excellon drill data was found in the package."));

    // Split drill files (plated and non-plated, holes and slots) are normal, so drill files never
    // count as duplicates of each other. Files that could not be classified are warned of one by one
    // below: sharing the role "unknown" makes them no duplicates of each other.
    std::map<std::string, std::vector<const PackageFile*>> groups;
    for (const auto& f : package.files)
        if (!f.layerType.isDrill() && !f.layerType.isUnknown()) groups[f.layerType.matchKey()].push_back(&f);
    for (const auto& [key, files] : groups) {
        if (files.size() < 2) continue;
        std::string names;
        if (files.size() == 2) {
            names = quoted(files[0]->fileName) + " and " + quoted(files[1]->fileName);
        } else {
            for (std::size_t k = 0; k < files.size(); ++k) {
                if (k > 0) names += ", ";
                names += quoted(files[k]->fileName);
            }
        }
        issues.push_back(makeIssue("duplicateLayer", CheckSeverity::warning, "Duplicate layer",
                                   "Duplicate layer: files " + names + " were all classified as " +
                                       quoted(files[0]->layerType.displayName()) + " (" + key + ").",
                                   files[0]->fileName));
    }

    for (const auto& f : package.files)
        if (f.layerType.isUnknown())
            issues.push_back(makeIssue("unexpectedLayer", CheckSeverity::warning, "Unrecognized layer",
                                       "Unexpected layer: file '" + f.fileName +
                                           "' could not be classified and is skipped by layer-aware checks.",
                                       f.fileName));
}

void checkOutline(const PCBPackage& package, std::vector<CheckIssue>& issues) {
    for (const auto& f : package.files)
        if (f.layerType.isOutline() && f.gerber && !DFMEngine::outlineIsClosed(f.gerber->objects, kOutlineToleranceMM))
            issues.push_back(makeIssue("unclosedOutline", CheckSeverity::error, "Unclosed board outline",
                                       "Unclosed board outline: the outline geometry in '" + f.fileName +
                                           "' does not form a closed loop.",
                                       f.fileName));

    const auto outside = DFMEngine::drillHitsOutside(package, kDrillGraceMM);
    if (!outside.empty()) {
        std::string positions;
        for (std::size_t k = 0; k < outside.size() && k < kMaxListedPositions; ++k) {
            if (k > 0) positions += ", ";
            positions += '(';
            positions += formatFixed(outside[k].position.x, 3);
            positions += ", ";
            positions += formatFixed(outside[k].position.y, 3);
            positions += ')';
        }
        issues.push_back(makeIssue("drillOutsideBoard", CheckSeverity::error, "Drill hit outside board",
                                   "Drill outside board: " + formatInt(static_cast<std::int64_t>(outside.size())) +
                                       " drill hit(s) lie outside the board outline with 1.0 mm grace: " + positions,
                                   std::nullopt, outside.front().position));
    }

    // A file already reported as not classified at all is not warned of again as doubtfully classified.
    for (const auto& f : package.files)
        if (f.confidence == DetectionConfidence::low && !f.layerType.isUnknown())
            issues.push_back(makeIssue("layerMisclassification", CheckSeverity::warning,
                                       "Low-confidence layer classification",
                                       "Layer misclassification risk: '" + f.fileName + "' was classified as '" +
                                           f.layerType.displayName() + "' with low confidence.",
                                       f.fileName));
}

void checkTraceWidth(const PCBPackage& package, const std::vector<bool>& drawnCopper, double minTrace,
                     std::vector<CheckIssue>& issues) {
    const PackageFile* worstFile = nullptr;
    double worstWidth = 0;
    Vec2 worstStart;
    for (std::size_t k = 0; k < package.files.size(); ++k) {
        const PackageFile& f = package.files[k];
        // A film's strokes are split lines, gaps in its plane.
        if (!drawnCopper[k]) continue;
        for (const auto& o : f.gerber->objects) {
            // A zero-size aperture draws no track, however it is stroked.
            if (!o.apertureShape || !drawsCopper(o)) continue;
            Vec2 start;
            if (auto s = o.kind.as<PCBObjectKind::Stroke>()) {
                start = s->start;
            } else if (auto a = o.kind.as<PCBObjectKind::ArcStroke>()) {
                start = a->start;
            } else {
                continue;
            }
            const double w = o.apertureShape->strokeNominalWidth();
            if (!(w < minTrace - 1e-6)) continue;
            if (!worstFile || w < worstWidth) {
                worstFile = &f;
                worstWidth = w;
                worstStart = start;
            }
        }
    }
    if (worstFile)
        issues.push_back(makeIssue("minTraceBelowPreset", CheckSeverity::error, "Trace width below preset",
                                   "Minimum trace width " + formatFixed(worstWidth, 3) +
                                       " mm is below the preset minimum " + formatFixed(minTrace, 3) + " mm.",
                                   worstFile->fileName, worstStart));
}

void checkDrillSize(const PCBPackage& package, double minDrill, std::vector<CheckIssue>& issues) {
    const PackageFile* worstFile = nullptr;
    double worst = 0;
    for (const auto& f : package.files) {
        if (!f.drill) continue;
        for (const auto& [number, tool] : f.drill->tools) {
            if (!(tool.diameterMM < minDrill)) continue;
            if (!worstFile || tool.diameterMM < worst) {
                worstFile = &f;
                worst = tool.diameterMM;
            }
        }
    }
    if (worstFile)
        issues.push_back(makeIssue("minDrillBelowPreset", CheckSeverity::error, "Drill diameter below preset",
                                   "Smallest drill diameter " + formatFixed(worst, 3) +
                                       " mm is below the preset minimum " + formatFixed(minDrill, 3) + " mm.",
                                   worstFile->fileName));
}

} // namespace

DFMReport DFMEngine::runChecks(const PCBPackage& package, const std::optional<ManufacturingPreset>& preset) const {
    const Date checkedAt = Date::now();
    std::vector<CheckIssue> issues;
    try {
        checkStructure(package, issues);
        checkOutline(package, issues);
        const std::vector<films::CopperFilm> films = films::copperFilms(package);
        for (const auto& film : films) issues.push_back(films::filmWarning(package, film));
        if (preset) {
            checkTraceWidth(package, films::drawnCopperFiles(package, films), preset->minTraceMM, issues);
            checkDrillSize(package, preset->minDrillMM, issues);
            if (preset->minSpaceMM > 0)
                spacing::appendSpacingIssues(package, preset->minSpaceMM,
                                             spacing::Clock::now() + std::chrono::duration_cast<spacing::Clock::duration>(
                                                                         std::chrono::duration<double>(spacing::kDeadlineSeconds)),
                                             issues);
        }
    } catch (const std::bad_alloc&) {
        // The findings made so far stand; the rest were never looked for, and the report says so.
        issues.push_back(makeIssue("checksIncomplete", CheckSeverity::error, "Checks incomplete",
                                   "Checks incomplete: the manufacturing checks ran out of memory before they finished, "
                                   "so problems of this board may remain unreported."));
    }
    return DFMReport(std::move(issues), preset ? std::optional<std::string>(preset->name) : std::nullopt, checkedAt);
}

bool DFMEngine::outlineIsClosed(const std::vector<PCBObject>& objects, double toleranceMM) {
    std::vector<Vec2> ends;
    std::vector<std::uint32_t> owner;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const auto& kind = objects[k].kind;
        if (kind.as<PCBObjectKind::Region>()) return true;
        if (auto s = kind.as<PCBObjectKind::Stroke>()) {
            ends.push_back(s->start);
            ends.push_back(s->end);
        } else if (auto a = kind.as<PCBObjectKind::ArcStroke>()) {
            ends.push_back(a->start);
            ends.push_back(a->end);
        } else {
            continue;
        }
        owner.push_back(static_cast<std::uint32_t>(k));
        owner.push_back(static_cast<std::uint32_t>(k));
    }
    if (ends.empty()) return true;

    const double cell = toleranceMM > 0.01 ? toleranceMM : 0.01;
    std::vector<grid::CellRange> ranges(ends.size());
    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (!ends[k].isFinite()) continue;  // empty range: never a partner
        const GridCellKey c = grid::cellOf(ends[k], cell);
        ranges[k] = grid::CellRange{c.x, c.x, c.y, c.y};
    }
    grid::CellGrid cells;
    std::vector<std::uint32_t> unlisted;
    cells.build(ranges, unlisted, [] { return false; });

    for (std::size_t k = 0; k < ends.size(); ++k) {
        if (ranges[k].isEmpty()) return false;
        const Vec2& p = ends[k];
        // A partner closer than the tolerance lies in the end's own cell or one of the eight around it.
        const grid::CellRange around{ranges[k].x0 - 1, ranges[k].x0 + 1, ranges[k].y0 - 1, ranges[k].y0 + 1};
        const bool found = grid::walkWindow(
            cells, unlisted, around, static_cast<std::uint32_t>(ends.size()),
            [&](std::uint32_t j) { return owner[j] != owner[k] && p.distance(ends[j]) < toleranceMM; },
            [] { return false; });
        if (!found) return false;
    }
    return true;
}

std::vector<DrillHit> DFMEngine::drillHitsOutside(const PCBPackage& package, double graceMM) {
    std::vector<DrillHit> out;
    BBox board = package.outlineBBox();
    if (package.files.empty() || !board.isValid()) return out;
    board = board.outset(graceMM);
    for (const auto& f : package.files) {
        if (!f.drill) continue;
        for (const auto& hit : f.drill->hits)
            if (!board.contains(hit.position)) out.push_back(hit);
    }
    return out;
}

} // namespace corvane
