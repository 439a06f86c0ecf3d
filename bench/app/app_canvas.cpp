// Board canvas repaint costs on QPainter: a pointer move over either canvas, a camera change on the
// software canvas and a 1000 × 600 screenshot at scale 2, with a board of 100,000 primitives.
//   build/bench/app_canvas   (Release build; runs on Qt's offscreen platform)
#include <benchmark/benchmark.h>

#include "AppBenchMain.hpp"

#include <QApplication>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <random>

#include "canvas/OverlayView.hpp"
#include "canvas/ScreenshotController.hpp"
#include "canvas/SoftwareCanvasView.hpp"
#include "model/AppModel.hpp"

using namespace corvane;

namespace {

const QSize kCanvas(1280, 820);
constexpr int kPrimitives = 100'000;

PCBObject object(PCBObjectKind kind, ApertureShape shape, std::int64_t index) {
    return PCBObject(std::move(kind), 10, std::move(shape), Polarity::dark, std::nullopt, std::nullopt, std::nullopt,
                     std::nullopt, index);
}

// Tracks and pads spread over a 100 × 64 mm board in four layers, and its outline.
PCBPackage bigBoard() {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> x(1, 99), y(1, 63), d(-2, 2);
    PCBPackage p;
    p.name = "bench";
    const LayerType types[] = {LayerType::copper(CopperLayerID::top()), LayerType::copper(CopperLayerID::bottom()),
                               LayerType::solderMask(CopperLayerID::top()), LayerType::silkscreen(CopperLayerID::top())};
    for (int layer = 0; layer < 4; ++layer) {
        PackageFile f;
        f.fileName = "layer" + std::to_string(layer) + ".gbr";
        f.layerType = types[layer];
        GerberDocument doc;
        for (int i = 0; i < kPrimitives / 4; ++i) {
            const Vec2 a{x(rng), y(rng)};
            if (i % 2 == 0)
                doc.objects.push_back(object(PCBObjectKind::stroke(a, Vec2{a.x + d(rng), a.y + d(rng)}), ApertureShape::circle(0.2), i));
            else if (i % 4 == 1)
                doc.objects.push_back(object(PCBObjectKind::flash(a), ApertureShape::circle(0.8), i));
            else
                doc.objects.push_back(object(PCBObjectKind::flash(a), ApertureShape::rectangle(1.2, 0.6), i));
            doc.bbox.include(doc.objects.back().bbox);
        }
        f.gerber = std::move(doc);
        p.files.push_back(std::move(f));
    }
    PackageFile edge;
    edge.fileName = "edge.gbr";
    edge.layerType = LayerType::outline();
    GerberDocument outline;
    const Vec2 corners[] = {{0, 0}, {100, 0}, {100, 64}, {0, 64}};
    for (int i = 0; i < 4; ++i) {
        outline.objects.push_back(object(PCBObjectKind::stroke(corners[i], corners[(i + 1) % 4]), ApertureShape::circle(0.1), i));
        outline.bbox.include(outline.objects.back().bbox);
    }
    edge.gerber = std::move(outline);
    p.files.push_back(std::move(edge));
    return p;
}

struct Scene {
    QTemporaryDir dir;
    AppModel model{std::make_unique<QSettings>(dir.filePath("bench.conf"), QSettings::IniFormat)};
    Scene() {
        model.canvasSizeChanged(QSizeF(kCanvas));
        model.loadPackage(bigBoard());
        BoardMeasurement m = model.measureEngine().distanceMeasurement({10, 10}, {60, 40}, MeasurementKind::pointToPoint, Units::mm);
        model.addMeasurement(m);
        model.setTool(Tool::measureDistance);
        model.setPendingMeasureAnchor(Vec2{20, 20});
    }
    static Scene& shared() {
        static Scene scene;
        return scene;
    }
};

void moveCursor(AppModel& model, int i) { model.setCursorWorld(Vec2{10.0 + (i % 80), 10.0 + (i % 40)}); }

void BM_PointerMoveSoftwareCanvas(benchmark::State& state) {
    Scene& s = Scene::shared();
    SoftwareCanvasView view;
    view.setModel(&s.model);
    view.resize(kCanvas);
    QImage target(kCanvas, QImage::Format_ARGB32_Premultiplied);
    view.render(&target);  // the board and the grid are painted once
    int i = 0;
    for (auto _ : state) {
        moveCursor(s.model, ++i);
        view.render(&target);
    }
}
BENCHMARK(BM_PointerMoveSoftwareCanvas)->Unit(benchmark::kMillisecond);

void BM_PointerMoveOverlay(benchmark::State& state) {
    Scene& s = Scene::shared();
    OverlayView view;
    view.model = [&] { return &s.model; };
    view.resize(kCanvas);
    QImage target(kCanvas, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::transparent);
    view.render(&target);
    int i = 0;
    for (auto _ : state) {
        moveCursor(s.model, ++i);
        target.fill(Qt::transparent);
        view.render(&target);
    }
}
BENCHMARK(BM_PointerMoveOverlay)->Unit(benchmark::kMillisecond);

void BM_SoftwareCanvasCameraChange(benchmark::State& state) {
    Scene& s = Scene::shared();
    SoftwareCanvasView view;
    view.setModel(&s.model);
    view.resize(kCanvas);
    QImage target(kCanvas, QImage::Format_ARGB32_Premultiplied);
    const CameraState fitted = s.model.camera();
    int i = 0;
    for (auto _ : state) {
        CameraState c = fitted;
        c.center.x += (++i % 2) ? 0.5 : -0.5;
        s.model.setCamera(c);
        view.render(&target);
    }
    s.model.setCamera(fitted);
}
BENCHMARK(BM_SoftwareCanvasCameraChange)->Unit(benchmark::kMillisecond);

void BM_MakeImage1000x600Scale2(benchmark::State& state) {
    Scene& s = Scene::shared();
    const QSizeF saved = s.model.canvasSize();
    s.model.canvasSizeChanged(QSizeF(1000, 600));
    for (auto _ : state) {
        auto image = ScreenshotController::makeImage(s.model, 2.0);
        benchmark::DoNotOptimize(image);
    }
    s.model.canvasSizeChanged(saved);
}
BENCHMARK(BM_MakeImage1000x600Scale2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return runAppBenchmarks(argc, argv); }
