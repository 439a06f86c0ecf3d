// GPU canvas frame and snapshot cost on the machine's OpenGL (Mesa llvmpipe under Xvfb in CI):
//   xvfb-run -a -s "-screen 0 1600x1000x24" env LIBGL_ALWAYS_SOFTWARE=1 build/bench/app_gl_frame
// Run from a Release build.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <map>
#include <random>

#include "canvas/GLBoardRenderer.hpp"

using namespace corvane;

namespace {

constexpr int kLayers = 12;
constexpr int kTriangles = 1'000'000;
const QSize kCanvas(1280, 820);
// The board spans 100 × 64 mm; fitted, it fills the canvas.
const CameraState kFitted{Vec2{50, 32}, 12.8, false};

// Small triangles spread over the board, every fifth run of a layer clear.
std::shared_ptr<const TessellatedLayer> layerMeshes(int layer, int triangles) {
    std::mt19937 rng(static_cast<unsigned>(layer) + 1);
    std::uniform_real_distribution<float> x(0, 100), y(0, 64), d(-0.2f, 0.2f);
    auto meshes = std::make_shared<TessellatedLayer>();
    for (int i = 0; i < triangles; ++i) {
        const bool clear = (i / 1000) % 5 == 4;
        TriangleMesh& mesh = clear ? meshes->clear : meshes->dark;
        const std::int64_t first = mesh.vertexCount();
        const float cx = x(rng), cy = y(rng);
        float* v = mesh.addFanPoints(3);
        for (int k = 0; k < 3; ++k) {
            *v++ = cx + d(rng);
            *v++ = cy + d(rng);
        }
        const Polarity polarity = clear ? Polarity::clear : Polarity::dark;
        if (!meshes->runs.empty() && meshes->runs.back().polarity == polarity) {
            meshes->runs.back().vertexCount += 3;
        } else {
            meshes->runs.push_back(PolarityRun{polarity, first, 3});
        }
    }
    return meshes;
}

struct Canvas {
    QWidget window;
    GLBoardRenderer* canvas = new GLBoardRenderer(&window);

    explicit Canvas(int triangles) {
        window.resize(kCanvas);
        canvas->setGeometry(QRect(QPoint(0, 0), kCanvas));
        const float colors[3][4] = {{0.85f, 0.55f, 0.2f, 1}, {0.2f, 0.7f, 0.3f, 1}, {0.9f, 0.9f, 0.9f, 1}};
        for (int i = 0; i < kLayers; ++i) {
            const float* c = colors[i % 3];
            canvas->setLayer("layer:" + std::to_string(i), {c[0], c[1], c[2], c[3]}, 0.8f, true,
                             layerMeshes(i, triangles / kLayers));
        }
        canvas->setCamera(kFitted);
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
        (void)QTest::qWaitFor([this] { return canvas->framesDrawn() > 0; }, 30000); // uploads the meshes
    }
};

std::map<int, std::unique_ptr<Canvas>> canvases;

Canvas& shared(int triangles) {
    auto& canvas = canvases[triangles];
    if (!canvas) canvas = std::make_unique<Canvas>(triangles);
    return *canvas;
}

// One widget frame after a camera change: the layer passes with their resolves and composites into the
// widget's framebuffer, drawn synchronously by a framebuffer grab (whose read-back adds about 1 ms).
void BM_CanvasFrame(benchmark::State& state) {
    Canvas& c = shared(static_cast<int>(state.range(1)));
    if (c.canvas->hasFailed()) {
        state.SkipWithError("no OpenGL canvas");
        return;
    }
    const double zoom = static_cast<double>(state.range(0)) / 100.0;
    int turn = 0;
    for (auto _ : state) {
        const std::uint64_t before = c.canvas->framesDrawn();
        CameraState camera = kFitted;
        camera.pxPerMM *= zoom;
        camera.center.x += (++turn % 2) ? 0.01 : -0.01; // always a change, so always a frame
        c.canvas->setCamera(camera);
        benchmark::DoNotOptimize(c.canvas->grabFramebuffer().constBits());
        if (c.canvas->framesDrawn() == before) state.SkipWithError("no frame");
    }
}
// Arguments: zoom in percent of the fitted scale; triangles over all 12 layers (12 of them show what the
// layer passes cost alone).
BENCHMARK(BM_CanvasFrame)
    ->Args({100, kTriangles})
    ->Args({2000, kTriangles})
    ->Args({25, kTriangles})
    ->Args({100, 12})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Snapshot(benchmark::State& state) {
    Canvas& c = shared(kTriangles);
    CameraState camera = kFitted;
    camera.pxPerMM *= static_cast<double>(state.range(0)) / 100.0;
    c.canvas->setCamera(camera);
    for (auto _ : state) {
        const QImage image = c.canvas->renderToImage(kCanvas, 1.0);
        if (image.isNull()) state.SkipWithError("no image");
        benchmark::DoNotOptimize(image.constBits());
    }
}
// Argument: zoom in percent of the fitted scale.
BENCHMARK(BM_Snapshot)->Arg(100)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    GLBoardRenderer::installDefaultSurfaceFormat();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (!GLBoardRenderer::probe()) {
        std::fprintf(stderr, "no OpenGL 3.3 context: run under xvfb-run\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    canvases.clear(); // GL objects go while the application still exists
    return 0;
}
