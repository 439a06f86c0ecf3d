#pragma once
// Shared pieces of the application model tests: a renderer that records what it is sent, small packages
// built from model values, and private settings files.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QSettings>
#include <QTemporaryDir>

#include "Builders.hpp"
#include "model/AppModel.hpp"

namespace corvane::testing {

// A QObject, as the GPU canvas is, so that the model can tell when it is gone.
class RecordingRenderer : public QObject, public BoardRenderer {
public:
    struct Layer {
        std::string id;
        BoardRenderer::Color color{};
        float opacity = 0;
        bool visible = false;
        std::shared_ptr<const TessellatedLayer> geometry;
    };

    // Layers as a real renderer holds them: emptied by removeAllLayers, a re-upload keeps its place.
    std::vector<Layer> layers;
    int removeAllCount = 0;
    int setLayerCount = 0;
    std::vector<std::string> calls;  // "removeAll" or the id of each setLayer, in order

    void removeAllLayers() override {
        layers.clear();
        ++removeAllCount;
        calls.push_back("removeAll");
    }
    void setLayer(const std::string& id, const BoardRenderer::Color& color, float opacity, bool visible,
                  std::shared_ptr<const TessellatedLayer> geometry) override {
        ++setLayerCount;
        calls.push_back(id);
        Layer l{id, color, opacity, visible, std::move(geometry)};
        for (auto& existing : layers) {
            if (existing.id == id) {
                existing = std::move(l);
                return;
            }
        }
        layers.push_back(std::move(l));
    }
    const CameraState& camera() const override { return camera_; }
    void setCamera(const CameraState& c) override {
        camera_ = c;
        cameraSet = true;
    }
    bool cameraSet = false;

    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const auto& l : layers) out.push_back(l.id);
        return out;
    }
    const Layer* find(const std::string& id) const {
        for (const auto& l : layers)
            if (l.id == id) return &l;
        return nullptr;
    }

private:
    CameraState camera_;
};

// A settings file of the test's own, removed with the folder.
struct ScratchSettings {
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Corvane.conf"); }
    std::unique_ptr<QSettings> open() const { return std::make_unique<QSettings>(path(), QSettings::IniFormat); }
};

inline PCBObject stroke(Vec2 a, Vec2 b, double width = 0.2, Polarity polarity = Polarity::dark, std::int64_t index = 0) {
    return PCBObject(PCBObjectKind::stroke(a, b), 10, ApertureShape::circle(width), polarity, std::nullopt,
                     std::nullopt, std::nullopt, std::nullopt, index);
}

inline PCBObject disc(Vec2 at, double diameter = 1.0, Polarity polarity = Polarity::dark, std::int64_t index = 0) {
    return PCBObject(PCBObjectKind::flash(at), 11, ApertureShape::circle(diameter), polarity, std::nullopt,
                     std::nullopt, std::nullopt, std::nullopt, index);
}

// Objects numbered by their position, as a reader leaves them.
inline std::vector<PCBObject> numbered(std::vector<PCBObject> objects) {
    for (std::size_t i = 0; i < objects.size(); ++i) objects[i].index = static_cast<std::int64_t>(i);
    return objects;
}

inline PackageFile withFilePolarity(PackageFile f, std::string polarity) {
    f.gerber->filePolarity = std::move(polarity);
    return f;
}

inline DrillHit hit(Vec2 at, std::int64_t tool = 1, Plating plating = Plating::pth) { return DrillHit{at, tool, plating}; }

struct Fixture {
    ScratchSettings settings;
    AppModel model{settings.open()};
    RecordingRenderer renderer;

    Fixture() { model.setRenderer(&renderer); }
    ~Fixture() { model.setRenderer(nullptr); }
};

// A 40 × 30 mm board: outline, top copper with two tracks and a pad, a drill file with three hits.
inline PCBPackage sampleBoard(const std::string& name = "board") {
    PCBPackage p;
    p.name = name;
    p.sourceFileName = name + ".zip";
    p.files.push_back(gerberFile("board-F_Cu.gbr", LayerType::copper(CopperLayerID::top()),
                                 {stroke({5, 5}, {20, 5}), stroke({20, 5}, {20, 20}), disc({10, 10})}));
    p.files.push_back(gerberFile("board-Edge_Cuts.gbr", LayerType::outline(),
                                 {stroke({0, 0}, {40, 0}, 0), stroke({40, 0}, {40, 30}, 0),
                                  stroke({40, 30}, {0, 30}, 0), stroke({0, 30}, {0, 0}, 0)}));
    p.files.push_back(drillFile("board.drl", {DrillTool{1, 0.3, Plating::pth}, DrillTool{2, 1.0, Plating::npth}},
                                {hit({10, 10}, 1, Plating::pth), hit({20, 20}, 2, Plating::npth),
                                 hit({30, 20}, 2, Plating::unknown)}));
    return p;
}

} // namespace corvane::testing
