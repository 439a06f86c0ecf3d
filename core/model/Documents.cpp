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
    auto count = [&](double diameter, Plating plating, bool slot) {
        std::string key = formatFixed(diameter, 4);
        key += '|';
        key += plating.rawValue();
        if (slot) key += "|slot";
        auto [pos, inserted] = rowByKey.try_emplace(std::move(key), rows.size());
        if (inserted) rows.push_back(DrillStat{diameter, plating, 0, slot});
        rows[pos->second].count += 1;
    };
    for (const auto& hit : hits) {
        auto it = tools.find(hit.toolNumber);
        if (it == tools.end()) continue;
        count(it->second.diameterMM, hit.plating, false);
    }
    for (std::size_t i = 0; i < slots.size(); ++i) {
        const auto* slot = slots[i].kind.as<PCBObjectKind::Slot>();
        if (slot) count(slot->diameterMM, slotPlating(i), true);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const DrillStat& a, const DrillStat& b) {
        if (a.slot != b.slot) return b.slot;
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

Plating DrillDocument::slotPlating(std::size_t i) const {
    const PCBObject& slot = slots[i];
    if (const auto code = slot.apertureCode()) {
        if (const auto tool = tools.find(*code); tool != tools.end()) return tool->second.plating;
    }
    const auto* kind = slot.kind.as<PCBObjectKind::Slot>();
    return kind && kind->plated ? Plating::pth : Plating::unknown;
}

DrillDocument::PlatingCounts DrillDocument::platingCounts() const {
    PlatingCounts counts;
    const auto tally = [&counts](Plating plating) {
        if (plating == Plating::pth) counts.pth += 1;
        if (plating == Plating::npth) counts.npth += 1;
    };
    for (const auto& hit : hits) tally(hit.plating);
    for (std::size_t i = 0; i < slots.size(); ++i) tally(slotPlating(i));
    return counts;
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
