// Tessellation and region-filling throughput. Run from a Release build.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "mesh/Tessellator.hpp"
#include "model/Angles.hpp"

using namespace corvane;

namespace {

PCBObject make(PCBObjectKind kind, std::optional<ApertureShape> shape, Polarity polarity = Polarity::dark) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), polarity, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt, 0);
}

std::vector<PCBObject> shortStrokes(std::size_t count) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> pos(0, 200), step(-2, 2);
    std::vector<PCBObject> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec2 a{pos(rng), pos(rng)};
        out.push_back(make(PCBObjectKind::stroke(a, a + Vec2{step(rng), step(rng)}), ApertureShape::circle(0.25)));
    }
    return out;
}

std::vector<PCBObject> flashes(std::size_t count) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> pos(0, 200);
    const std::vector<ApertureShape> shapes{ApertureShape::circle(0.6), ApertureShape::circle(1.2),
                                            ApertureShape::rectangle(1.5, 0.6), ApertureShape::obround(1.6, 0.8)};
    std::vector<PCBObject> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(make(PCBObjectKind::flash(Vec2{pos(rng), pos(rng)}), shapes[i % 4]));
    }
    return out;
}

// A copper layer's mix: mostly tracks and pads, some arcs, vias, small pours and clear pads.
std::vector<PCBObject> mixedLayer(std::size_t count) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> pos(0, 200), step(-3, 3), unit(0, 1);
    std::vector<PCBObject> out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Vec2 a{pos(rng), pos(rng)};
        switch (i % 20) {
        case 0:
            // A 45° track bend of radius 1.
            out.push_back(make(PCBObjectKind::arcStroke(a, a + Vec2{std::sqrt(0.5), 1 - std::sqrt(0.5)},
                                                        a + Vec2{0, 1}, false),
                               ApertureShape::circle(0.2)));
            break;
        case 1:
        case 2:
            out.push_back(make(PCBObjectKind::drill(a, 0.3 + unit(rng), true), std::nullopt));
            break;
        case 3: {
            Contour c;
            for (int k = 0; k < 12; ++k) {
                const double r = k % 2 ? 1.0 : 2.0;
                c.push_back(a + Vec2{r * std::cos(kTwoPi * k / 12), r * std::sin(kTwoPi * k / 12)});
            }
            out.push_back(make(PCBObjectKind::region({c}), std::nullopt));
            break;
        }
        case 4:
            out.push_back(make(PCBObjectKind::flash(a), ApertureShape::circle(1.0), Polarity::clear));
            break;
        case 5:
        case 6:
        case 7:
        case 8:
            out.push_back(make(PCBObjectKind::flash(a), ApertureShape::rectangle(1.2, 0.7)));
            break;
        default:
            out.push_back(make(PCBObjectKind::stroke(a, a + Vec2{step(rng), step(rng)}), ApertureShape::circle(0.2)));
        }
    }
    return out;
}

void runLayer(benchmark::State& state, const std::vector<PCBObject>& objects) {
    const Tessellator engine;
    std::int64_t triangles = 0;
    for (auto _ : state) {
        const TessellatedLayer layer = engine.tessellate(objects);
        triangles = layer.totalTriangles();
        benchmark::DoNotOptimize(layer.dark.points().data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(objects.size()));
    state.counters["triangles"] = static_cast<double>(triangles);
}

void BM_TessellateShortStrokes(benchmark::State& state) {
    static const auto objects = shortStrokes(1'000'000);
    runLayer(state, objects);
}
BENCHMARK(BM_TessellateShortStrokes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TessellateFlashes(benchmark::State& state) {
    static const auto objects = flashes(1'000'000);
    runLayer(state, objects);
}
BENCHMARK(BM_TessellateFlashes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_TessellateMixedLayer(benchmark::State& state) {
    static const auto objects = mixedLayer(1'000'000);
    runLayer(state, objects);
}
BENCHMARK(BM_TessellateMixedLayer)->Unit(benchmark::kMillisecond)->UseRealTime();

// Rounded-rectangle pads as an evaluated macro outline (four quarter arcs of 9 points each).
void BM_TessellateMacroPads(benchmark::State& state) {
    static const auto objects = [] {
        Contour outline;
        const Vec2 corners[4] = {{0.5, 0.25}, {-0.5, 0.25}, {-0.5, -0.25}, {0.5, -0.25}};
        for (int q = 0; q < 4; ++q) {
            for (int k = 0; k <= 8; ++k) {
                const double a = kTwoPi * (q + k / 8.0) / 4;
                outline.push_back(corners[q] + Vec2{0.1 * std::cos(a), 0.1 * std::sin(a)});
            }
        }
        const ApertureShape pad = ApertureShape::macro("RoundRect", 1.25, std::vector<Contour>{outline});
        std::mt19937 rng(4);
        std::uniform_real_distribution<double> pos(0, 200);
        std::vector<PCBObject> out;
        for (int i = 0; i < 100'000; ++i) out.push_back(make(PCBObjectKind::flash(Vec2{pos(rng), pos(rng)}), pad));
        return out;
    }();
    runLayer(state, objects);
}
BENCHMARK(BM_TessellateMacroPads)->Unit(benchmark::kMillisecond)->UseRealTime();

// Many small region contours, the common case in real files (median 17 points): L shapes with sampled
// rounded corners.
void BM_FillSmallContours(benchmark::State& state) {
    std::vector<Contour> contours;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> pos(0, 200);
    for (int i = 0; i < 100'000; ++i) {
        const Vec2 o{pos(rng), pos(rng)};
        Contour c{o, o + Vec2{2, 0}, o + Vec2{2, 0.5}, o + Vec2{0.5, 0.5}};
        for (int k = 1; k < 10; ++k) {
            const double a = kTwoPi * (0.75 - k / 40.0);
            c.push_back(o + Vec2{0.5 + 0.2 * std::cos(a) - 0.2, 0.5 + 0.2 + 0.2 * std::sin(a)});
        }
        c.push_back(o + Vec2{0.5, 2});
        c.push_back(o + Vec2{0, 2});
        c.push_back(o + Vec2{0, 1});
        contours.push_back(std::move(c));
    }
    const Tessellator engine;
    for (auto _ : state) {
        TriangleMesh mesh;
        engine.fillRegion(contours, mesh);
        benchmark::DoNotOptimize(mesh.points().data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(contours.size()));
}
BENCHMARK(BM_FillSmallContours)->Unit(benchmark::kMillisecond);

// A pour outline: a wavy ring of `points` points.
Contour pourOutline(int points, double radius) {
    Contour c;
    c.reserve(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) {
        const double a = kTwoPi * i / points;
        const double r = radius * (1 + 0.05 * std::sin(a * 37));
        c.push_back(Vec2{r * std::cos(a), r * std::sin(a)});
    }
    return c;
}

void BM_FillPour20k(benchmark::State& state) {
    const std::vector<Contour> region{pourOutline(20'000, 50)};
    const Tessellator engine;
    for (auto _ : state) {
        TriangleMesh mesh;
        engine.fillRegion(region, mesh);
        benchmark::DoNotOptimize(mesh.points().data());
    }
    state.SetItemsProcessed(state.iterations() * 20'000);
}
BENCHMARK(BM_FillPour20k)->Unit(benchmark::kMillisecond);

// A ground plane with axis-aligned, finely sampled edges and a grid of round clearances bridged in, the way
// the ODB++ reader hands over a surface with holes: about 60,000 points in one contour.
Contour bridgedPlane() {
    Contour plane;
    std::vector<Contour> holes;
    const int perSide = 1000;
    for (int i = 0; i < perSide; ++i) plane.push_back(Vec2{100.0 * i / perSide, 0});
    for (int i = 0; i < perSide; ++i) plane.push_back(Vec2{100, 100.0 * i / perSide});
    for (int i = 0; i < perSide; ++i) plane.push_back(Vec2{100 - 100.0 * i / perSide, 100});
    for (int i = 0; i < perSide; ++i) plane.push_back(Vec2{0, 100 - 100.0 * i / perSide});
    for (int gx = 0; gx < 36; ++gx) {
        for (int gy = 0; gy < 36; ++gy) {
            const Vec2 c{5 + 2.5 * gx, 5 + 2.5 * gy};
            Contour hole;
            for (int k = 40; k > 0; --k) {
                const double a = kTwoPi * k / 40;
                hole.push_back(c + Vec2{0.8 * std::cos(a), 0.8 * std::sin(a)});
            }
            holes.push_back(hole);
        }
    }
    return GeometryEngine::bridgeHoles(plane, holes);
}

void BM_FillBridgedPlane60k(benchmark::State& state) {
    static const std::vector<Contour> region{bridgedPlane()};
    const Tessellator engine;
    std::int64_t triangles = 0;
    for (auto _ : state) {
        TriangleMesh mesh;
        engine.fillRegion(region, mesh);
        triangles = mesh.triangleCount();
        benchmark::DoNotOptimize(mesh.points().data());
    }
    state.counters["points"] = static_cast<double>(region[0].size());
    state.counters["triangles"] = static_cast<double>(triangles);
}
BENCHMARK(BM_FillBridgedPlane60k)->Unit(benchmark::kMillisecond);
// Joining 12,100 round clearances (40 points each) into their plane: half a million points.
void BM_BridgeHoles12k(benchmark::State& state) {
    const Contour island{{0, 0}, {100, 0}, {100, 100}, {0, 100}};
    std::vector<Contour> holes;
    for (int gx = 0; gx < 110; ++gx) {
        for (int gy = 0; gy < 110; ++gy) {
            const Vec2 c{1 + 98.0 * gx / 110, 1 + 98.0 * gy / 110};
            Contour hole;
            for (int k = 0; k < 40; ++k) {
                const double a = kTwoPi * k / 40;
                hole.push_back(c + Vec2{0.13 * std::cos(a), 0.13 * std::sin(a)});
            }
            holes.push_back(std::move(hole));
        }
    }
    std::size_t points = 0;
    for (auto _ : state) {
        const Contour polygon = GeometryEngine::bridgeHoles(island, holes);
        points = polygon.size();
        benchmark::DoNotOptimize(polygon.data());
    }
    state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_BridgeHoles12k)->Unit(benchmark::kMillisecond);

// A comb of 5,000 teeth: the clipper's worst shape among real-looking ones, every ear lies along the spine.
void BM_FillComb20k(benchmark::State& state) {
    Contour comb{{0, -1}, {10'000, -1}};
    for (int k = 4'999; k >= 0; --k) {
        comb.push_back(Vec2{2.0 * k + 1, 0});
        comb.push_back(Vec2{2.0 * k + 1, 10});
        comb.push_back(Vec2{2.0 * k, 10});
        comb.push_back(Vec2{2.0 * k, 0});
    }
    const std::vector<Contour> region{comb};
    const Tessellator engine;
    for (auto _ : state) {
        TriangleMesh mesh;
        engine.fillRegion(region, mesh);
        benchmark::DoNotOptimize(mesh.points().data());
    }
}
BENCHMARK(BM_FillComb20k)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
