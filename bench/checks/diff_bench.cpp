// Comparison and pointer queries on boards of a million primitives.
#include <benchmark/benchmark.h>

#include <random>

#include "checks/DiffEngine.hpp"
#include "checks/MeasureEngine.hpp"

using namespace corvane;

namespace {

std::vector<PCBObject> makeObjects(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> pos(0, 300);
    // One shape per aperture, shared by the objects drawn with it, as the readers make them.
    const SharedShape pad = ApertureShape::rectangle(0.6, 1.2);
    const SharedShape track = ApertureShape::circle(0.2);
    std::vector<PCBObject> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Vec2 a{pos(rng), pos(rng)};
        if (i % 3 == 0) {
            out.emplace_back(PCBObjectKind::flash(a), 10, pad, Polarity::dark, std::nullopt, std::nullopt,
                             std::nullopt, std::nullopt, static_cast<std::int64_t>(i));
        } else {
            out.emplace_back(PCBObjectKind::stroke(a, a + Vec2{1.5, 0.5}), 11, track, Polarity::dark, std::nullopt,
                             std::nullopt, std::nullopt, std::nullopt, static_cast<std::int64_t>(i));
        }
    }
    return out;
}

PCBPackage packageOf(std::vector<PCBObject> objects) {
    GerberDocument doc;
    doc.bbox = BBox{0, 0, 302, 302};
    doc.objects = std::move(objects);
    PackageFile f;
    f.fileName = "top.gtl";
    f.layerType = LayerType::copper(CopperLayerID::top());
    f.gerber = std::move(doc);
    PCBPackage p;
    p.files.push_back(std::move(f));
    return p;
}

void BM_CompareMillion(benchmark::State& state) {
    auto a = makeObjects(1'000'000, 1);
    auto b = a;
    for (std::size_t i = 0; i < b.size(); i += 1000) b[i].kind = PCBObjectKind::flash({-5, -5});
    const PCBPackage pa = packageOf(std::move(a)), pb = packageOf(std::move(b));
    DiffEngine e;
    for (auto _ : state) benchmark::DoNotOptimize(e.compare(pa, pb));
}
BENCHMARK(BM_CompareMillion)->Unit(benchmark::kMillisecond);

void BM_HitTestMillion(benchmark::State& state) {
    const PCBPackage p = packageOf(makeObjects(1'000'000, 2));
    MeasureEngine m;
    double x = 10;
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.hitTest(p.files, {x, 150}, 0.2));
        x = x > 290 ? 10 : x + 7.3;
    }
}
BENCHMARK(BM_HitTestMillion)->Unit(benchmark::kMillisecond);

void BM_SnapMillion(benchmark::State& state) {
    const PCBPackage p = packageOf(makeObjects(1'000'000, 3));
    MeasureEngine m;
    for (auto _ : state) benchmark::DoNotOptimize(m.snap(p.files, {150, 150}, 0.5));
}
BENCHMARK(BM_SnapMillion)->Unit(benchmark::kMillisecond);

void BM_HitTestMillionIndexed(benchmark::State& state) {
    const PCBPackage p = packageOf(makeObjects(1'000'000, 2));
    const MeasureIndex index(p.files);
    MeasureEngine m;
    double x = 10;
    for (auto _ : state) {
        benchmark::DoNotOptimize(m.hitTest(p.files, {x, 150}, 0.2, &index));
        x = x > 290 ? 10 : x + 7.3;
    }
}
BENCHMARK(BM_HitTestMillionIndexed)->Unit(benchmark::kMicrosecond);

void BM_SnapMillionIndexed(benchmark::State& state) {
    const PCBPackage p = packageOf(makeObjects(1'000'000, 3));
    const MeasureIndex index(p.files);
    MeasureEngine m;
    for (auto _ : state) benchmark::DoNotOptimize(m.snap(p.files, {150, 150}, 0.5, &index));
}
BENCHMARK(BM_SnapMillionIndexed)->Unit(benchmark::kMicrosecond);

void BM_BuildIndexMillion(benchmark::State& state) {
    const PCBPackage p = packageOf(makeObjects(1'000'000, 4));
    for (auto _ : state) benchmark::DoNotOptimize(MeasureIndex(p.files));
}
BENCHMARK(BM_BuildIndexMillion)->Unit(benchmark::kMillisecond);

} // namespace
