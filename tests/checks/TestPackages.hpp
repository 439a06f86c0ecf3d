#pragma once
// Small hand-built packages for the analysis tests.
#include <string>
#include <vector>

#include "model/Model.hpp"

namespace corvane::testing {

inline PCBObject obj(PCBObjectKind kind, std::optional<ApertureShape> shape = std::nullopt,
                     Polarity polarity = Polarity::dark, std::optional<std::string> net = std::nullopt,
                     std::int64_t index = 0) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), polarity, std::move(net), std::nullopt,
                     std::nullopt, std::nullopt, index);
}

inline PCBObject stroke(Vec2 a, Vec2 b, double width = 0.25) {
    return obj(PCBObjectKind::stroke(a, b), ApertureShape::circle(width));
}

inline PackageFile gerberFile(std::string name, LayerType type, std::vector<PCBObject> objects) {
    GerberDocument doc;
    BBox box = BBox::empty();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        objects[i].index = static_cast<std::int64_t>(i);
        box.include(objects[i].bbox);
    }
    doc.objects = std::move(objects);
    doc.bbox = box;
    PackageFile f;
    f.fileName = name;
    f.relativePath = std::move(name);
    f.format = SourceFormat::gerberRS274X;
    f.layerType = std::move(type);
    f.confidence = DetectionConfidence::high;
    f.gerber = std::move(doc);
    return f;
}

inline PackageFile drillFile(std::string name, std::vector<std::pair<Vec2, double>> holes, Plating plating = Plating::pth) {
    DrillDocument d;
    d.fileName = name;
    d.bbox = BBox::empty();
    std::int64_t tool = 0;
    for (const auto& [p, dia] : holes) {
        ++tool;
        d.tools[tool] = DrillTool{tool, dia, plating};
        d.hits.push_back(DrillHit{p, tool, plating});
        d.bbox.include(BBox{p.x - dia / 2, p.y - dia / 2, p.x + dia / 2, p.y + dia / 2});
    }
    PackageFile f;
    f.fileName = name;
    f.relativePath = std::move(name);
    f.format = SourceFormat::excellon;
    f.layerType = LayerType::drill();
    f.confidence = DetectionConfidence::high;
    f.drill = std::move(d);
    return f;
}

inline PCBPackage package(std::string name, std::vector<PackageFile> files) {
    PCBPackage p;
    p.name = std::move(name);
    p.sourceFileName = p.name + ".zip";
    p.files = std::move(files);
    return p;
}

} // namespace corvane::testing
