#pragma once
// Small packages built straight from model values for the analysis tests.
#include <optional>
#include <string>
#include <vector>

#include "model/Model.hpp"

namespace corvane::testing {

inline PCBObject makeObject(PCBObjectKind kind, std::optional<ApertureShape> shape = std::nullopt,
                            std::optional<std::string> net = std::nullopt) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), Polarity::dark, std::move(net), std::nullopt,
                     std::nullopt, std::nullopt, 0);
}

inline PCBObject track(Vec2 a, Vec2 b, std::optional<double> width = std::nullopt,
                       std::optional<std::string> net = std::nullopt) {
    std::optional<ApertureShape> shape;
    if (width) shape = ApertureShape::circle(*width);
    return makeObject(PCBObjectKind::stroke(a, b), shape, std::move(net));
}

inline PCBObject arc(Vec2 a, Vec2 b, Vec2 c, bool cw, std::optional<double> width = std::nullopt,
                     std::optional<std::string> net = std::nullopt) {
    std::optional<ApertureShape> shape;
    if (width) shape = ApertureShape::circle(*width);
    return makeObject(PCBObjectKind::arcStroke(a, b, c, cw), shape, std::move(net));
}

inline PCBObject pad(Vec2 at, std::optional<ApertureShape> shape, std::optional<std::string> net = std::nullopt) {
    return makeObject(PCBObjectKind::flash(at), std::move(shape), std::move(net));
}

inline PCBObject region(std::vector<Contour> contours, std::optional<std::string> net = std::nullopt) {
    return makeObject(PCBObjectKind::region(std::move(contours)), std::nullopt, std::move(net));
}

inline PackageFile gerberFile(std::string name, LayerType type, std::vector<PCBObject> objects,
                              DetectionConfidence confidence = DetectionConfidence::high) {
    PackageFile f;
    f.fileName = name;
    f.relativePath = name;
    f.format = SourceFormat::gerberRS274X;
    f.layerType = std::move(type);
    f.confidence = confidence;
    GerberDocument doc;
    doc.format = SourceFormat::gerberRS274X;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        objects[k].index = static_cast<std::int64_t>(k);
        doc.bbox.include(objects[k].bbox);
    }
    doc.objects = std::move(objects);
    f.gerber = std::move(doc);
    return f;
}

inline PackageFile copperFile(std::string name, std::vector<PCBObject> objects,
                              CopperLayerID side = CopperLayerID::top()) {
    return gerberFile(std::move(name), LayerType::copper(side), std::move(objects));
}

inline PackageFile drillFile(std::string name, std::vector<DrillTool> tools, std::vector<DrillHit> hits) {
    PackageFile f;
    f.fileName = name;
    f.relativePath = name;
    f.format = SourceFormat::excellon;
    f.layerType = LayerType::drill();
    f.confidence = DetectionConfidence::high;
    DrillDocument doc;
    for (const auto& t : tools) doc.tools[t.number] = t;
    for (const auto& h : hits) doc.bbox.include(h.position);
    doc.hits = std::move(hits);
    doc.fileName = name;
    f.drill = std::move(doc);
    return f;
}

inline PCBPackage package(std::vector<PackageFile> files) {
    PCBPackage p;
    p.name = "board";
    p.sourceFileName = "board.zip";
    p.files = std::move(files);
    return p;
}

// A closed rectangular outline of four strokes.
inline std::vector<PCBObject> rectangleOutline(double x0, double y0, double x1, double y1) {
    return {track({x0, y0}, {x1, y0}, 0.1), track({x1, y0}, {x1, y1}, 0.1), track({x1, y1}, {x0, y1}, 0.1),
            track({x0, y1}, {x0, y0}, 0.1)};
}

} // namespace corvane::testing
