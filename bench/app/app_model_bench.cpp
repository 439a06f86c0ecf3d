// Loading, layer commands and comparison of a 12-layer board of 1,000,000 primitives.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "model/AppModel.hpp"

using namespace corvane;

namespace {

class KeepingRenderer : public BoardRenderer {
public:
    std::vector<std::pair<std::string, std::shared_ptr<const TessellatedLayer>>> layers;
    void removeAllLayers() override { layers.clear(); }
    void setLayer(const std::string& id, const BoardRenderer::Color&, float, bool,
                  std::shared_ptr<const TessellatedLayer> geometry) override {
        layers.emplace_back(id, std::move(geometry));
    }
    const CameraState& camera() const override { return camera_; }
    void setCamera(const CameraState& c) override { camera_ = c; }
    CameraState camera_;
};

PCBObject track(Vec2 a, Vec2 b, double width, std::int64_t index) {
    return PCBObject(PCBObjectKind::stroke(a, b), 10, ApertureShape::circle(width), Polarity::dark, std::nullopt,
                     std::nullopt, std::nullopt, std::nullopt, index);
}

PCBObject padAt(Vec2 at, std::int64_t index) {
    return PCBObject(PCBObjectKind::flash(at), 11, ApertureShape::rectangle(1.2, 0.8), Polarity::dark, std::nullopt,
                     std::nullopt, std::nullopt, std::nullopt, index);
}

PackageFile gerber(const std::string& name, LayerType type, std::size_t count, std::uint64_t seed) {
    PackageFile f;
    f.fileName = name;
    f.layerType = std::move(type);
    GerberDocument doc;
    doc.objects.reserve(count);
    std::uint64_t s = seed;
    auto next = [&s] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>((s >> 33) % 100000) / 500.0;  // 0 ... 200 mm
    };
    for (std::size_t i = 0; i < count; ++i) {
        const auto idx = static_cast<std::int64_t>(i);
        const Vec2 a{next(), next()};
        if (i % 3 == 0) doc.objects.push_back(padAt(a, idx));
        else doc.objects.push_back(track(a, Vec2{a.x + 1.5, a.y + (i % 2 ? 0.0 : 1.5)}, 0.2, idx));
        doc.bbox.include(doc.objects.back().bbox);
    }
    f.gerber = std::move(doc);
    return f;
}

PackageFile drills(std::size_t count) {
    PackageFile f;
    f.fileName = "board.drl";
    f.layerType = LayerType::drill();
    DrillDocument doc;
    doc.tools[1] = DrillTool{1, 0.3, Plating::pth};
    for (std::size_t i = 0; i < count; ++i) {
        const Vec2 at{static_cast<double>(i % 1000) * 0.2, static_cast<double>(i / 1000) * 0.2};
        doc.hits.push_back(DrillHit{at, 1, Plating::pth});
        doc.bbox.include(at);
    }
    f.drill = std::move(doc);
    return f;
}

// 12 files, 1,000,000 primitives: four copper layers carry most of them.
PCBPackage bigBoard(std::uint64_t seed) {
    PCBPackage p;
    p.name = "big";
    const CopperLayerID top = CopperLayerID::top(), bottom = CopperLayerID::bottom();
    p.files.push_back(gerber("F_Cu.gbr", LayerType::copper(top), 200000, seed + 1));
    p.files.push_back(gerber("In1_Cu.gbr", LayerType::copper(CopperLayerID::inner(1)), 150000, seed + 2));
    p.files.push_back(gerber("In2_Cu.gbr", LayerType::copper(CopperLayerID::inner(2)), 150000, seed + 3));
    p.files.push_back(gerber("B_Cu.gbr", LayerType::copper(bottom), 200000, seed + 4));
    p.files.push_back(gerber("F_Mask.gbr", LayerType::solderMask(top), 60000, seed + 5));
    p.files.push_back(gerber("B_Mask.gbr", LayerType::solderMask(bottom), 60000, seed + 6));
    p.files.push_back(gerber("F_Paste.gbr", LayerType::paste(top), 40000, seed + 7));
    p.files.push_back(gerber("B_Paste.gbr", LayerType::paste(bottom), 40000, seed + 8));
    p.files.push_back(gerber("F_Silk.gbr", LayerType::silkscreen(top), 40000, seed + 9));
    p.files.push_back(gerber("B_Silk.gbr", LayerType::silkscreen(bottom), 20000, seed + 10));
    p.files.push_back(gerber("Edge_Cuts.gbr", LayerType::outline(), 4, seed + 11));
    p.files.push_back(drills(39996));
    return p;
}

std::shared_ptr<const PCBPackage> sharedBoard(std::uint64_t seed) {
    static std::map<std::uint64_t, std::shared_ptr<const PCBPackage>> made;
    auto& p = made[seed];
    if (!p) p = std::make_shared<const PCBPackage>(bigBoard(seed));
    return p;
}

struct Model {
    QTemporaryDir dir;
    AppModel model{std::make_unique<QSettings>(dir.filePath("bench.conf"), QSettings::IniFormat)};
    KeepingRenderer renderer;
    Model() { model.setRenderer(&renderer); }
};

// Installing a package: the layer list, tessellation of every file and the upload.
void BM_InstallPackage(benchmark::State& state) {
    Model m;
    const auto board = sharedBoard(1);
    for (auto _ : state) {
        // Every assignment of a package drops the meshes, so each round tessellates and uploads all files.
        m.model.setPackage(nullptr);
        m.model.setPackage(board);
        benchmark::DoNotOptimize(m.renderer.layers.data());
    }
    state.counters["layers"] = static_cast<double>(m.renderer.layers.size());
}
BENCHMARK(BM_InstallPackage)->Unit(benchmark::kMillisecond)->UseRealTime();

// One visibility change on the installed package.
void BM_LayerVisibility(benchmark::State& state) {
    Model m;
    m.model.setPackage(sharedBoard(1));
    bool visible = false;
    for (auto _ : state) {
        m.model.setLayerVisible("F_Cu.gbr", visible);
        visible = !visible;
    }
}
BENCHMARK(BM_LayerVisibility)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LayerSoloAndMove(benchmark::State& state) {
    Model m;
    m.model.setPackage(sharedBoard(1));
    for (auto _ : state) {
        m.model.toggleSolo("B_Cu.gbr");
        m.model.moveLayer("F_Mask.gbr", true);
    }
}
BENCHMARK(BM_LayerSoloAndMove)->Unit(benchmark::kMillisecond)->UseRealTime();

// Two revisions of 1,000,000 objects that differ in one copper layer.
void BM_StartCompare(benchmark::State& state) {
    Model m;
    const auto a = sharedBoard(1);
    static const auto b = [] {
        PCBPackage p = bigBoard(1);
        p.name = "big-b";
        p.files[0] = gerber("F_Cu.gbr", LayerType::copper(CopperLayerID::top()), 200000, 99);
        return std::make_shared<const PCBPackage>(std::move(p));
    }();
    for (auto _ : state) {
        m.model.startCompare(a, "big-a.zip", b);
        benchmark::DoNotOptimize(m.renderer.layers.data());
    }
    state.counters["rows"] = static_cast<double>(m.model.compareRows().size());
}
BENCHMARK(BM_StartCompare)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
// For reference: the share of the comparison engine and of the row grouping in BM_StartCompare.
namespace {
void BM_DiffEngineOnly(benchmark::State& state) {
    const auto a = sharedBoard(1);
    PCBPackage b = bigBoard(1);
    b.files[0] = gerber("F_Cu.gbr", LayerType::copper(CopperLayerID::top()), 200000, 99);
    for (auto _ : state) benchmark::DoNotOptimize(DiffEngine{}.compare(*a, b));
}
BENCHMARK(BM_DiffEngineOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
void BM_GroupsOnly(benchmark::State& state) {
    const auto a = sharedBoard(1);
    PCBPackage b = bigBoard(1);
    b.files[0] = gerber("F_Cu.gbr", LayerType::copper(CopperLayerID::top()), 200000, 99);
    for (auto _ : state)
        for (const char* key : {"Top Copper", "Inner 1 Copper", "Drill"})
            benchmark::DoNotOptimize(AppModel::compareGroupedObjects(CompareRow{key}, *a, b));
}
BENCHMARK(BM_GroupsOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
}
