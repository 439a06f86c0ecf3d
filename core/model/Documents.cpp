#include "Documents.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace corvane {

std::optional<double> DrillDocument::smallestDrillMM() const {
    std::optional<double> best;
    for (const auto& [number, tool] : tools) {
        if (!best || tool.diameterMM < *best) best = tool.diameterMM;
    }
    return best;
}

std::vector<DrillStat> DrillDocument::stats() const {
    std::vector<DrillStat> rows;
    std::unordered_map<std::string, std::size_t> rowByKey;
    for (const auto& hit : hits) {
        auto it = tools.find(hit.toolNumber);
        if (it == tools.end()) continue;
        std::string key = formatFixed(it->second.diameterMM, 4);
        key += '|';
        key += hit.plating.rawValue();
        auto [pos, inserted] = rowByKey.try_emplace(std::move(key), rows.size());
        if (inserted) rows.push_back(DrillStat{it->second.diameterMM, hit.plating, 0});
        rows[pos->second].count += 1;
    }
    std::stable_sort(rows.begin(), rows.end(), [](const DrillStat& a, const DrillStat& b) {
        const bool aNaN = std::isnan(a.diameterMM);
        const bool bNaN = std::isnan(b.diameterMM);
        if (aNaN != bNaN) return bNaN;  // NaN rows last
        if (!aNaN) {
            if (a.diameterMM < b.diameterMM) return true;
            if (b.diameterMM < a.diameterMM) return false;
        }
        return static_cast<int>(a.plated) < static_cast<int>(b.plated);
    });
    return rows;
}

namespace {
double hitDiameter(const DrillDocument& doc, const DrillHit& hit) {
    auto it = doc.tools.find(hit.toolNumber);
    return it != doc.tools.end() ? it->second.diameterMM : 0.1;
}
} // namespace

BBox DrillDocument::hitBBox(std::size_t i) const {
    const auto& hit = hits[i];
    const double d = hitDiameter(*this, hit);
    // Grown corner by corner, so a negative diameter still gives an ordered box.
    BBox box = BBox::empty();
    box.include(Vec2{hit.position.x - d / 2, hit.position.y - d / 2});
    box.include(Vec2{hit.position.x + d / 2, hit.position.y + d / 2});
    return box;
}

PCBObject DrillDocument::hitObject(std::size_t i) const {
    const auto& hit = hits[i];
    PCBObject obj;
    obj.kind = PCBObjectKind::drill(hit.position, hitDiameter(*this, hit), hit.plating == Plating::pth);
    obj.polarity = Polarity::dark;
    obj.bbox = hitBBox(i);
    obj.index = static_cast<std::int64_t>(i);
    return obj;
}

std::vector<PCBObject> DrillDocument::objectsAsPCB() const {
    std::vector<PCBObject> out;
    out.reserve(hits.size() + slots.size());
    for (std::size_t i = 0; i < hits.size(); ++i) out.push_back(hitObject(i));
    out.insert(out.end(), slots.begin(), slots.end());
    return out;
}

} // namespace corvane
