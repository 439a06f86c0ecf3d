#include "Layers.hpp"

#include <algorithm>

namespace corvane {

std::int64_t CopperLayerID::sortOrder() const {
    if (auto in = as<Inner>()) return in->number;
    return value.index() == 0 ? 0 : 1000;
}

std::string CopperLayerID::displayName() const {
    if (auto in = as<Inner>()) return "Inner " + formatInt(in->number);
    return value.index() == 0 ? "Top" : "Bottom";
}

std::optional<CopperLayerID> LayerType::side() const {
    switch (value.index()) {
    case 0: return std::get<Copper>(value).side;
    case 1: return std::get<SolderMask>(value).side;
    case 2: return std::get<Silkscreen>(value).side;
    case 3: return std::get<Paste>(value).side;
    default: return std::nullopt;
    }
}

std::string LayerType::displayName() const {
    static const char* suffixes[] = {" Copper", " Solder Mask", " Silkscreen", " Paste"};
    if (auto s = side()) return s->displayName() + suffixes[value.index()];
    switch (value.index()) {
    case 4: return "Board Outline";
    case 5: return "Drill";
    default: return "Unknown";
    }
}

std::string LayerType::matchKey() const {
    static const char* prefixes[] = {"copper:", "mask:", "silk:", "paste:"};
    if (auto s = side()) return prefixes[value.index()] + s->displayName();
    switch (value.index()) {
    case 4: return "outline";
    case 5: return "drill";
    default: return "unknown";
    }
}

std::vector<PCBObject> PackageFile::objects() const {
    std::vector<PCBObject> out;
    if (gerber) out = gerber->objects;
    if (drill) {
        auto d = drill->objectsAsPCB();
        out.reserve(out.size() + d.size());
        std::move(d.begin(), d.end(), std::back_inserter(out));
    }
    return out;
}

bool PackageFile::filePolarityNegative() const {
    if (!gerber || !gerber->filePolarity) return false;
    return asciiLower(*gerber->filePolarity) == "negative";
}

namespace {

// The edge one outline file draws: the contour the importer found, else every centre line of it.
BBox edgeOf(const PackageFile& f) {
    if (f.boardEdgeBox) return *f.boardEdgeBox;
    BBox box = BBox::empty();
    for (const auto& o : f.gerber->objects) includeCentreLines(box, o);
    return box;
}

bool outlinesTheBoard(const LayerType& t) { return t.isCopper() || t.as<LayerType::SolderMask>(); }

} // namespace

BBox PCBPackage::outlineBBox() const { return outlineBBoxOf(files); }

BBox PCBPackage::outlineBBoxOf(const std::vector<PackageFile>& files) {
    BBox result = BBox::empty();
    for (const auto& f : files)
        if (f.layerType.isOutline() && f.gerber) result.include(edgeOf(f));
    return result;
}

BBox PCBPackage::nearBoard(const BBox& board) {
    constexpr double kBoardShare = 0.1;
    return board.outset(std::max(kNearBoardMM, kBoardShare * std::max(board.width(), board.height())));
}

bool PCBPackage::drillLiesOffBoard(const DrillDocument& drill, const BBox& board) {
    constexpr double kMostHits = 0.5;
    if (!board.isValid()) return false;
    const BBox grown = nearBoard(board);
    std::size_t total = 0, outside = 0;
    auto count = [&](const Vec2& p) {
        ++total;
        if (!grown.contains(p)) ++outside;
    };
    for (const auto& h : drill.hits) count(h.position);
    for (const auto& slot : drill.slots)
        if (const auto* s = slot.kind.as<PCBObjectKind::Slot>()) count(s->start);
    return total > 0 && static_cast<double>(outside) > kMostHits * static_cast<double>(total);
}

BBox PCBPackage::boardBBox() const {
    BBox result = outlineBBox();
    if (result.isValid()) return result;
    // Without an outline, what the board itself carries: copper, the masks over it and its holes, unless the
    // holes lie off the copper (a drill file against another origin is warned about, not the board).
    for (const auto& f : files)
        if (f.gerber && outlinesTheBoard(f.layerType)) result.include(f.boardPartBox.value_or(f.gerber->bbox));
    const BBox carried = result;
    for (const auto& f : files)
        if (f.drill && !drillLiesOffBoard(*f.drill, carried)) result.include(f.drill->bbox);
    if (result.isValid()) return result;
    // Nothing of that draws anything: the board is wherever its layers draw.
    for (const auto& f : files) {
        if (f.gerber) result.include(f.gerber->bbox);
        if (f.drill) result.include(f.drill->bbox);
    }
    return result;
}

std::vector<CopperLayerID> PCBPackage::copperLayerIDs() const {
    std::vector<CopperLayerID> ids;
    for (const auto& f : files)
        if (auto c = f.layerType.as<LayerType::Copper>()) ids.push_back(c->side);
    std::stable_sort(ids.begin(), ids.end(),
                     [](const CopperLayerID& a, const CopperLayerID& b) { return a.sortOrder() < b.sortOrder(); });
    return ids;
}

std::vector<PackageFile> PCBPackage::filesOf(const LayerType& type) const {
    std::vector<PackageFile> out;
    for (const auto& f : files)
        if (f.layerType == type) out.push_back(f);
    return out;
}

} // namespace corvane
