// The preview program against gerbv's PNG export of the same Gerber and drill files at the same pixel size,
// side by side in one run, plus the import and the picture alone; and the desktop's thumbnailer
// (boardpeek-thumbnailer) against gerbv's export at the thumbnail size. The boards are those of
// SideBySide.hpp; budget_MB is twice the board's uncompressed bytes plus the image.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "SideBySide.hpp"
#include "render/SoftwareRenderer.hpp"

using namespace corvane;
using namespace corvane::bench;

namespace {

constexpr SizePx kPreviewSize{1200, 900};

void BM_Import(benchmark::State& state) {
    const Board* b = boardOf(state);
    if (!b) return;
    for (auto _ : state) benchmark::DoNotOptimize(PackageImporter{}.importAny(b->path).files.size());
}

void BM_Render(benchmark::State& state) {
    const Board* b = boardOf(state);
    if (!b) return;
    const PCBPackage pkg = PackageImporter{}.importAny(b->path);
    for (auto _ : state) {
        SoftwareRenderer renderer;
        benchmark::DoNotOptimize(renderer.render(pkg, kPreviewSize, std::nullopt, false));
    }
}

// What the preview program does with a board, in this process.
void BM_ImportAndRender(benchmark::State& state) {
    const Board* b = boardOf(state);
    if (!b) return;
    for (auto _ : state) {
        const PCBPackage pkg = PackageImporter{}.importAny(b->path);
        SoftwareRenderer renderer;
        benchmark::DoNotOptimize(renderer.render(pkg, kPreviewSize, std::nullopt, false));
    }
}

#ifdef CORVANE_BOARDPEEK
// The preview program itself in its harness mode (import, picture, window capture and PNG) beside gerbv at
// the same size.
void BM_PreviewBesideGerbv(benchmark::State& state) {
    const Board* b = boardOf(state);
    if (!b) return;
    const fs::path out = fs::temp_directory_path() / "corvane-preview-bench-boardpeek.png";
    const Command preview{
        {CORVANE_BOARDPEEK},
        {"QLHARNESS_URL=" + b->path.string(), "QLHARNESS_OUT=" + out.string(), "QT_QPA_PLATFORM=offscreen"}};
    if (!timeBesideGerbv(state, preview, gerbvCommand(*b, static_cast<int>(kPreviewSize.width),
                                                     static_cast<int>(kPreviewSize.height)),
                         "gerbv_over_preview", true))
        return;
    state.counters["budget_MB"] = (2 * b->uncompressedBytes + kPreviewSize.width * kPreviewSize.height * 4) / 1048576.0;
}
#endif

#ifdef CORVANE_THUMBNAILER
// The desktop's thumbnailer as a file browser starts it, at the large thumbnail size, beside gerbv at that size.
void BM_ThumbnailBesideGerbv(benchmark::State& state) {
    constexpr int kThumbnailPx = 256;
    const Board* b = boardOf(state);
    if (!b) return;
    const fs::path out = fs::temp_directory_path() / "corvane-thumbnail-bench.png";
    const Command thumbnailer{{CORVANE_THUMBNAILER, b->path.string(), out.string(), std::to_string(kThumbnailPx)}, {}};
    timeBesideGerbv(state, thumbnailer, gerbvCommand(*b, kThumbnailPx, kThumbnailPx), "gerbv_over_thumbnail", false);
}
#endif

BENCHMARK(BM_Import)->Apply(boardArgs)->UseRealTime();
BENCHMARK(BM_Render)->Apply(boardArgs)->UseRealTime();
BENCHMARK(BM_ImportAndRender)->Apply(boardArgs)->UseRealTime();
#ifdef CORVANE_BOARDPEEK
BENCHMARK(BM_PreviewBesideGerbv)->Apply(boardArgs)->UseManualTime()->Iterations(5);
#endif
#ifdef CORVANE_THUMBNAILER
BENCHMARK(BM_ThumbnailBesideGerbv)->Apply(boardArgs)->UseManualTime()->Iterations(15);
#endif

} // namespace
