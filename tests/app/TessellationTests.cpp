#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "mesh/Tessellator.hpp"

using namespace corvane;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.141592653589793;

PCBObject object(PCBObjectKind kind, std::optional<ApertureShape> shape = std::nullopt,
                 Polarity polarity = Polarity::dark) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), polarity, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt, 0);
}

TriangleMesh meshOf(const Tessellator& g, const PCBObject& obj) {
    TriangleMesh m;
    g.append(obj, m);
    return m;
}

void expectSameFloats(const TriangleMesh& actual, const TriangleMesh& expected) {
    const std::vector<float> a = actual.vertices();
    const std::vector<float> e = expected.vertices();
    ASSERT_EQ(a.size(), e.size());
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], e[i], 1e-5) << "float " << i;
}

// Covered area, each triangle counted whatever its orientation.
double meshArea(const TriangleMesh& m) {
    double sum = 0;
    const auto& v = m.vertices();
    for (std::size_t i = 0; i + 5 < v.size(); i += 6) {
        sum += 0.5 * std::fabs((double(v[i + 2]) - v[i]) * (double(v[i + 5]) - v[i + 1]) -
                               (double(v[i + 3]) - v[i + 1]) * (double(v[i + 4]) - v[i]));
    }
    return sum;
}

// The stroke as the two-triangle body and two half-disc fans, built from the public mesh operations.
TriangleMesh referenceStroke(Vec2 a, Vec2 b, double width, std::int64_t n) {
    TriangleMesh m;
    const double h = width * 0.5;
    const double len = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
    const Vec2 u{(b.x - a.x) / len, (b.y - a.y) / len};
    const Vec2 o{h * -u.y, h * u.x};
    m.addTriangle(a + o, b + o, b - o);
    m.addTriangle(a + o, b - o, a - o);
    const double theta = std::atan2(-o.y, -o.x) * 180.0 / kPi;
    m.addFan(b, h, theta, 180, n);
    m.addFan(a, h, theta + 180, 180, n);
    return m;
}

bool allFinite(const TriangleMesh& m) {
    for (float f : m.vertices()) {
        if (!std::isfinite(f)) return false;
    }
    return true;
}
} // namespace

// Mesh operations

TEST(TriangleMeshOps, QuadsFansAndTheBackgroundQuad) {
    const auto q = TriangleMesh::verticesOfQuad(0, 0, 2, 1);
    const std::array<float, 12> expected{0, 0, 2, 0, 2, 1, 0, 0, 2, 1, 0, 1};
    EXPECT_EQ(q, expected);

    TriangleMesh m;
    m.addQuad(Vec2{0, 0}, Vec2{2, 0}, Vec2{2, 1}, Vec2{0, 1});
    EXPECT_EQ(m.vertices(), std::vector<float>(q.begin(), q.end()));
    EXPECT_EQ(m.triangleCount(), 2);

    TriangleMesh fan;
    fan.addFan(Vec2{1, 1}, 2, 0, 90, 1);  // below 3 acts as 3
    ASSERT_EQ(fan.triangleCount(), 3);
    EXPECT_FLOAT_EQ(fan.vertices()[0], 1);
    EXPECT_FLOAT_EQ(fan.vertices()[2], 3);  // first rim point at 0°
    EXPECT_NEAR(fan.vertices()[fan.vertices().size() - 2], 1, 1e-6);
    EXPECT_NEAR(fan.vertices().back(), 3, 1e-6);  // last at 90°
    EXPECT_NEAR(meshArea(fan), 3 * 0.5 * 4 * std::sin(kPi / 6), 1e-5);
}

// The canvas reads a mesh back in pieces that start and end anywhere, inside a fan too, and far past the
// runs' marks: every piece is the flat list's floats, and its extent the extent of those floats.
TEST(TriangleMeshOps, AnyPieceReadsBackAsTheFlatTriangles) {
    TriangleMesh mesh;
    std::vector<float> flat;
    const auto add = [&](const TriangleMesh& part) {
        mesh.append(part);
        const std::vector<float> v = part.vertices();
        flat.insert(flat.end(), v.begin(), v.end());
    };
    // A triangle that goes on from the last fan's centre and last point grows that fan.
    const auto triangle = [&](const Vec2& a, const Vec2& b, const Vec2& c) {
        mesh.addTriangle(a, b, c);
        for (const Vec2& p : {a, b, c}) flat.insert(flat.end(), {static_cast<float>(p.x), static_cast<float>(p.y)});
    };
    for (int i = 0; i < 300; ++i) {
        TriangleMesh part;
        const Vec2 at{i * 0.5, (i % 7) * 0.25};
        if (i % 3 == 0) part.addFan(at, 0.2, i, 360, 3 + i % 5);
        if (i % 4 != 1) part.addQuad(at, at + Vec2{1, 0}, at + Vec2{1, 1}, at + Vec2{0, 1});
        add(part);
        triangle(at, at + Vec2{0, 1}, at + Vec2{-1, 1});  // goes on from a quad
        triangle(at + Vec2{0, 0.5}, at + Vec2{0.1, 0}, at + Vec2{0, i % 11 == 0 ? kNaN : 0.1});
        if (i % 2 == 0) triangle(at + Vec2{0, 0.5}, at + Vec2{0, i % 11 == 0 ? kNaN : 0.1}, at + Vec2{0.3, 0.3});
    }
    // Bit for bit: a NaN corner must come back as the NaN it was.
    const auto sameBits = [](const float* a, const float* b, std::int64_t floats) {
        return std::memcmp(a, b, static_cast<std::size_t>(floats) * sizeof(float)) == 0;
    };
    ASSERT_EQ(mesh.vertices().size(), flat.size());
    ASSERT_TRUE(sameBits(mesh.vertices().data(), flat.data(), static_cast<std::int64_t>(flat.size())));
    EXPECT_TRUE(sameBits(TriangleMesh::ofTriangles(flat).vertices().data(), flat.data(), static_cast<std::int64_t>(flat.size())));
    const std::int64_t n = mesh.triangleCount();
    ASSERT_EQ(static_cast<std::size_t>(n) * 6, flat.size());
    for (const auto& [first, count] : std::vector<std::pair<std::int64_t, std::int64_t>>{
             {0, n}, {1, 1}, {2, 7}, {n / 3, n / 2}, {n - 5, 5}, {n - 1, 10}, {n / 2, 0}}) {
        const std::int64_t kept = std::max<std::int64_t>(0, std::min(count, n - first));
        std::vector<float> piece(static_cast<std::size_t>(kept) * 6);
        mesh.copyTriangles(first, count, piece.data());
        const auto from = flat.begin() + first * 6;
        EXPECT_TRUE(sameBits(piece.data(), &*from, kept * 6)) << first << " + " << count;
        const float inf = std::numeric_limits<float>::infinity();
        std::array<float, 4> box{inf, inf, -inf, -inf};
        for (auto v = from; v != from + kept * 6; v += 2) {
            if (!std::isnan(v[0])) box = {std::min(box[0], v[0]), box[1], std::max(box[2], v[0]), box[3]};
            if (!std::isnan(v[1])) box = {box[0], std::min(box[1], v[1]), box[2], std::max(box[3], v[1])};
        }
        EXPECT_EQ(mesh.extent(first, count), box) << first << " + " << count;
    }
    for (std::int64_t first = 0; first + 2 <= n; ++first) {
        float piece[12];
        mesh.copyTriangles(first, 2, piece);
        ASSERT_TRUE(sameBits(piece, flat.data() + first * 6, 12)) << first;
    }
}

// Strokes

TEST(Strokes, BodyThenEndCapThenStartCapAtAnyDirection) {
    const Tessellator g;
    const ApertureShape pen = ApertureShape::circle(0.5);
    for (const Vec2& end : {Vec2{3, 0}, Vec2{0, 2}, Vec2{-1, -1}, Vec2{0.3, -2.5}, Vec2{-4, 0}}) {
        const Vec2 start{0.5, 0.25};
        const auto m = meshOf(g, object(PCBObjectKind::stroke(start, start + end), pen));
        EXPECT_EQ(m.triangleCount(), 18);
        expectSameFloats(m, referenceStroke(start, start + end, 0.5, 8));
        EXPECT_NEAR(meshArea(m), 0.5 * end.length() + kPi * 0.0625 * std::sin(kPi / 8) * 8 / kPi, 1e-5);
    }
    // A negative width mirrors the rim points, as the plain fans would.
    TriangleMesh neg;
    g.strokeSegment(Vec2{0, 0}, Vec2{1, 1}, -0.4, neg);
    expectSameFloats(neg, referenceStroke(Vec2{0, 0}, Vec2{1, 1}, -0.4, 8));
}

TEST(Strokes, CapSegmentsSettingAndZeroLength) {
    Tessellator g;
    TriangleMesh dot;
    g.strokeSegment(Vec2{1, 2}, Vec2{1, 2 + 1e-10}, 0.6, dot);
    TriangleMesh octagon;
    octagon.addFan(Vec2{1, 2}, 0.3, 0, 360, 8);
    EXPECT_EQ(dot.triangleCount(), 8);
    expectSameFloats(dot, octagon);

    // Without an aperture the pen is 0.2 mm wide.
    const auto bare = meshOf(g, object(PCBObjectKind::stroke(Vec2{0, 0}, Vec2{1, 0})));
    expectSameFloats(bare, referenceStroke(Vec2{0, 0}, Vec2{1, 0}, 0.2, 8));

    g.capSegments = 1;
    TriangleMesh few;
    g.strokeSegment(Vec2{0, 0}, Vec2{1, 0}, 1, few);
    EXPECT_EQ(few.triangleCount(), 8);
    expectSameFloats(few, referenceStroke(Vec2{0, 0}, Vec2{1, 0}, 1, 3));
    g.capSegments = 100;
    TriangleMesh many;
    g.strokeSegment(Vec2{0, 0}, Vec2{1, 0}, 1, many);
    EXPECT_EQ(many.triangleCount(), 202);
    g.capSegments = 64;
    TriangleMesh tabled;
    g.strokeSegment(Vec2{0, 0}, Vec2{1, 1}, 1, tabled);
    expectSameFloats(tabled, referenceStroke(Vec2{0, 0}, Vec2{1, 1}, 1, 64));
}

TEST(Strokes, PolylinesAndArcsRoundEveryJoint) {
    const Tessellator g;
    TriangleMesh m;
    g.strokePolyline({Vec2{0, 0}}, 1, m);
    EXPECT_EQ(m.triangleCount(), 0);
    g.strokePolyline({Vec2{0, 0}, Vec2{1, 0}, Vec2{1, 1}}, 1, m);
    EXPECT_EQ(m.triangleCount(), 36);

    // A quarter arc: the start point plus 12 samples, 12 pieces.
    const auto arc = meshOf(g, object(PCBObjectKind::arcStroke(Vec2{1, 0}, Vec2{0, 1}, Vec2{0, 0}, false),
                                      ApertureShape::circle(0.1)));
    ASSERT_EQ(arc.triangleCount(), 12 * 18);
    auto samples = g.sampleArc(Vec2{1, 0}, Vec2{0, 1}, Vec2{0, 0}, false);
    samples.insert(samples.begin(), Vec2{1, 0});
    TriangleMesh expected;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const auto piece = referenceStroke(samples[i - 1], samples[i], 0.1, 8);
        expected.append(piece);
    }
    expectSameFloats(arc, expected);

    // A clockwise full circle and a zero-radius arc.
    const auto circle = meshOf(g, object(PCBObjectKind::arcStroke(Vec2{1, 0}, Vec2{1, 0}, Vec2{0, 0}, true)));
    EXPECT_EQ(circle.triangleCount(), 45 * 18);
    const auto chord = meshOf(g, object(PCBObjectKind::arcStroke(Vec2{0, 0}, Vec2{2, 0}, Vec2{0, 0}, false)));
    EXPECT_EQ(chord.triangleCount(), 18 + 8);  // start to start is a dot, start to end a segment
}

// Drills, slots and flashes

TEST(Flashes, DiscResolutionGrowsWithSize) {
    const Tessellator g;
    const std::pair<double, std::int64_t> sizes[] = {{0.1, 6}, {0.3, 8}, {1.0, 20}, {2.4, 48}, {5.0, 48}, {-1, 6}};
    for (const auto& [d, count] : sizes) {
        const auto drill = meshOf(g, object(PCBObjectKind::drill(Vec2{1, -1}, d, true)));
        TriangleMesh expected;
        expected.addFan(Vec2{1, -1}, d * 0.5, 0, 360, count);
        EXPECT_EQ(drill.vertices(), expected.vertices()) << d;
        const auto flash = meshOf(g, object(PCBObjectKind::flash(Vec2{1, -1}), ApertureShape::circle(d)));
        EXPECT_EQ(flash.vertices(), expected.vertices()) << d;
        const auto macro = meshOf(g, object(PCBObjectKind::flash(Vec2{1, -1}), ApertureShape::macro("M", d)));
        EXPECT_EQ(macro.vertices(), expected.vertices()) << d;
    }
    const auto bare = meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0})));
    TriangleMesh dot;
    dot.addFan(Vec2{0, 0}, 0.2, 0, 360, 8);
    EXPECT_EQ(bare.vertices(), dot.vertices());

    const auto slot = meshOf(g, object(PCBObjectKind::slot(Vec2{0, 0}, Vec2{2, 0}, 0.8, false)));
    expectSameFloats(slot, referenceStroke(Vec2{0, 0}, Vec2{2, 0}, 0.8, 8));
}

TEST(Flashes, RectanglesAndObroundsInBothOrientations) {
    const Tessellator g;
    const auto rect = meshOf(g, object(PCBObjectKind::flash(Vec2{1, 1}), ApertureShape::rectangle(2, 1)));
    const std::vector<float> r{0, 0.5f, 2, 0.5f, 2, 1.5f, 0, 0.5f, 2, 1.5f, 0, 1.5f};
    EXPECT_EQ(rect.vertices(), r);

    const auto wide = meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::obround(2, 1)));
    TriangleMesh w;
    w.addQuad(Vec2{-0.5, -0.5}, Vec2{0.5, -0.5}, Vec2{0.5, 0.5}, Vec2{-0.5, 0.5});
    w.addFan(Vec2{0.5, 0}, 0.5, -90, 180, 8);
    w.addFan(Vec2{-0.5, 0}, 0.5, 90, 180, 8);
    EXPECT_EQ(wide.vertices(), w.vertices());
    EXPECT_NEAR(meshArea(wide), 1 + 8 * 0.25 * std::sin(kPi / 8), 1e-5);

    const auto tall = meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::obround(1, 2)));
    TriangleMesh t;
    t.addQuad(Vec2{-0.5, -0.5}, Vec2{0.5, -0.5}, Vec2{0.5, 0.5}, Vec2{-0.5, 0.5});
    t.addFan(Vec2{0, 0.5}, 0.5, 0, 180, 8);
    t.addFan(Vec2{0, -0.5}, 0.5, 180, 180, 8);
    EXPECT_EQ(tall.vertices(), t.vertices());
}

TEST(Flashes, PolygonsStartOnTheRotatedAxisAndAreCapped) {
    const Tessellator g;
    const auto tri = meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::polygon(2, 2, 0)));
    ASSERT_EQ(tri.triangleCount(), 3);
    EXPECT_FLOAT_EQ(tri.vertices()[2], 1);
    EXPECT_FLOAT_EQ(tri.vertices()[3], 0);

    const auto hex = meshOf(g, object(PCBObjectKind::flash(Vec2{5, 5}), ApertureShape::polygon(2, 6, 90)));
    ASSERT_EQ(hex.triangleCount(), 6);
    EXPECT_NEAR(hex.vertices()[2], 5, 1e-6);
    EXPECT_NEAR(hex.vertices()[3], 6, 1e-6);
    EXPECT_NEAR(meshArea(hex), 1.5 * std::sqrt(3.0), 1e-5);

    // A vertex count straight from a hostile file must not decide the allocation.
    const auto huge = meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::polygon(1, 2'000'000'000, 0)));
    EXPECT_EQ(huge.triangleCount(), GeometryEngine::maxPolygonVertices);
    EXPECT_NEAR(meshArea(huge), kPi * 0.25, 1e-4);
    EXPECT_EQ(meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::polygon(1, -7, 0))).triangleCount(), 3);
}

TEST(Flashes, MacroOutlinesAreFilledAtTheFlashPosition) {
    const Tessellator g;
    // A rounded-rectangle-like pad as two contours (one of them clockwise), plus an empty one.
    std::vector<Contour> outline{
        {{-1, -0.5}, {1, -0.5}, {1, 0.5}, {-1, 0.5}},
        {{2, 0}, {2, 1}, {3, 1}},
        {},
    };
    const auto pad = meshOf(g, object(PCBObjectKind::flash(Vec2{10, 20}), ApertureShape::macro("RR", 2.3, outline)));
    EXPECT_EQ(pad.triangleCount(), 3);
    EXPECT_NEAR(meshArea(pad), 2 + 0.5, 1e-5);
    for (std::size_t i = 0; i < pad.vertices().size(); i += 2) {
        EXPECT_GE(pad.vertices()[i], 9 - 1e-5);
        EXPECT_LE(pad.vertices()[i], 13 + 1e-5);
        EXPECT_GE(pad.vertices()[i + 1], 19.5 - 1e-5);
        EXPECT_LE(pad.vertices()[i + 1], 21 + 1e-5);
    }
    // Pads of different macros in turn each keep their own outline.
    const ApertureShape square = ApertureShape::macro("S", 1.5, std::vector<Contour>{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}});
    const ApertureShape wedge = ApertureShape::macro("W", 1.5, std::vector<Contour>{{{0, 0}, {1, 0}, {0, 1}}});
    TriangleMesh mixed;
    for (int i = 0; i < 3; ++i) {
        g.append(object(PCBObjectKind::flash(Vec2{3.0 * i, 0}), square), mixed);
        g.append(object(PCBObjectKind::flash(Vec2{3.0 * i, 5}), wedge), mixed);
    }
    EXPECT_EQ(mixed.triangleCount(), 9);
    EXPECT_NEAR(meshArea(mixed), 3 * 1.5, 1e-5);
    EXPECT_FLOAT_EQ(mixed.vertices()[mixed.vertices().size() - 6], 6);  // last wedge placed at x = 6

    // Every pad of a macro gives its clipped outline's triangles, corner for corner and in order, at its place.
    std::vector<Vec2> star;  // concave: its triangles share corners without following one another
    for (int i = 0; i < 16; ++i) star.push_back({(i % 2 ? 0.8 : 2.0) * std::cos(M_PI * i / 8), (i % 2 ? 0.8 : 1.5) * std::sin(M_PI * i / 8)});
    // Contours whose first triangle shares one corner, not two, with the last fan before: the box's begins at
    // the centre of the star's last fan (its corner 13), the tip's goes on from the box's last corner.
    const std::vector<Vec2> box{{2, -2}, {3, -2}, {3, -1}, star[13]}, tip{{1, -3}, star[13], {0, -3}};
    const std::vector<std::vector<Vec2>> contours{star, box, tip};
    const ApertureShape starPad = ApertureShape::macro("S", 4, contours);
    TriangleMesh pads;
    std::vector<float> expected;
    for (const Vec2 at : {Vec2{0.25, 7}, Vec2{-3, 1e3}}) {
        g.append(object(PCBObjectKind::flash(at), starPad), pads);
        for (const auto& contour : contours)
            for (const auto& t : Tessellator::earClip(contour))
                for (const Vec2& p : t) expected.insert(expected.end(), {static_cast<float>(p.x + at.x), static_cast<float>(p.y + at.y)});
    }
    EXPECT_EQ(pads.vertices(), expected);

    // An evaluated outline with nothing exposed draws nothing rather than a disc.
    const auto none = meshOf(g, object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::macro("E", 1, std::vector<Contour>{})));
    EXPECT_EQ(none.triangleCount(), 0);
}

// Layers

TEST(Tessellate, PolarityPicksTheMeshAndOrderIsKept) {
    const Tessellator g;
    EXPECT_EQ(g.tessellate({}).totalTriangles(), 0);
    const std::vector<PCBObject> objects{
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::rectangle(1, 1)),
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::circle(1), Polarity::clear),
        object(PCBObjectKind::region({{{0, 0}, {1, 0}, {1, 1}, {0, 1}}}), std::nullopt, Polarity::dark),
        object(PCBObjectKind::drill(Vec2{0, 0}, 0.3, false), std::nullopt, Polarity::clear),
    };
    const auto layer = g.tessellate(objects);
    EXPECT_EQ(layer.dark.triangleCount(), 4);
    EXPECT_EQ(layer.clear.triangleCount(), 28);
    EXPECT_EQ(layer.totalTriangles(), 32);
    TriangleMesh dark;
    for (const auto& o : objects) {
        if (o.polarity == Polarity::dark) g.append(o, dark);
    }
    EXPECT_EQ(layer.dark.vertices(), dark.vertices());
    EXPECT_EQ(layer.clear.vertices()[0], 0.0f);  // the disc's centre comes first
}

TEST(Tessellate, UnusableNumbersGiveNoTriangles) {
    const Tessellator g;
    const std::vector<PCBObject> objects{
        object(PCBObjectKind::stroke(Vec2{0, 0}, Vec2{1, 0}), ApertureShape::circle(kNaN)),
        object(PCBObjectKind::stroke(Vec2{kNaN, 0}, Vec2{1, 0}), ApertureShape::circle(1)),
        object(PCBObjectKind::stroke(Vec2{-1e308, 0}, Vec2{1e308, 0}), ApertureShape::circle(1)),
        object(PCBObjectKind::arcStroke(Vec2{1, 0}, Vec2{0, 1}, Vec2{0, 0}, false), ApertureShape::circle(kInf)),
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::circle(kInf)),
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::rectangle(kNaN, 1)),
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::obround(1, kInf)),
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::polygon(1, 5, kNaN)),
        object(PCBObjectKind::flash(Vec2{0, kInf}), ApertureShape::circle(1)),
        object(PCBObjectKind::flash(Vec2{0, 0}), ApertureShape::macro("M", kNaN)),
        object(PCBObjectKind::drill(Vec2{0, 0}, kNaN, true)),
        object(PCBObjectKind::slot(Vec2{0, 0}, Vec2{1, 1}, -kInf, true)),
        object(PCBObjectKind::region({{{0, 0}, {1, 0}, {kNaN, 1}, {0, 1}}})),
    };
    for (const auto& o : objects) EXPECT_EQ(meshOf(g, o).triangleCount(), 0) << o.kind.caseName();

    // Huge but finite sizes stay bounded and finite where floats can hold them.
    const auto big = meshOf(g, object(PCBObjectKind::drill(Vec2{0, 0}, 1e30, true)));
    EXPECT_EQ(big.triangleCount(), 48);
    EXPECT_TRUE(allFinite(big));
}

TEST(Tessellate, BigLayersGiveWhatTheirPrimitivesGive) {
    // Large enough that the meshes are sized from a sample; the heavy primitives sit where a sample misses.
    const Tessellator g;
    std::vector<PCBObject> objects;
    for (int i = 0; i < 20000; ++i) {
        const Vec2 at{0.01 * i, 0.02 * (i % 97)};
        if (i % 4097 == 1) {
            Contour ring;
            for (int k = 0; k < 3000; ++k) ring.push_back(at + Vec2{std::cos(k * 0.002), std::sin(k * 0.002)});
            objects.push_back(object(PCBObjectKind::region({ring}), std::nullopt, Polarity::clear));
        } else if (i % 3 == 0) {
            objects.push_back(object(PCBObjectKind::stroke(at, at + Vec2{0.5, 0.1}), ApertureShape::circle(0.2)));
        } else {
            objects.push_back(object(PCBObjectKind::flash(at), ApertureShape::circle(2.5)));
        }
    }
    const auto layer = g.tessellate(objects);
    TriangleMesh dark;
    TriangleMesh clear;
    for (const auto& o : objects) g.append(o, o.polarity == Polarity::clear ? clear : dark);
    EXPECT_EQ(layer.dark.vertices(), dark.vertices());
    EXPECT_EQ(layer.clear.vertices(), clear.vertices());
    EXPECT_GT(layer.clear.triangleCount(), 4 * 2900);
}

TEST(Tessellate, DetailToleranceKeepsEveryCurveWithinIt) {
    // Meshes made for a known scale drop pieces of round ends, discs, obround ends and arcs, never gaining any,
    // and misjudge no point further than the tolerance (or what the fixed counts already allow) from the true
    // shape's edge.
    auto covers = [](const TriangleMesh& m, const Vec2& p) {
        const auto& v = m.vertices();
        for (std::size_t i = 0; i + 5 < v.size(); i += 6) {
            const double d1 = (p.x - v[i + 2]) * (v[i + 1] - v[i + 3]) - (v[i] - v[i + 2]) * (p.y - v[i + 3]);
            const double d2 = (p.x - v[i + 4]) * (v[i + 3] - v[i + 5]) - (v[i + 2] - v[i + 4]) * (p.y - v[i + 5]);
            const double d3 = (p.x - v[i]) * (v[i + 5] - v[i + 1]) - (v[i + 4] - v[i]) * (p.y - v[i + 1]);
            if (!((d1 < 0 || d2 < 0 || d3 < 0) && (d1 > 0 || d2 > 0 || d3 > 0))) return true;
        }
        return false;
    };
    struct Case {
        PCBObject object;
        std::function<double(const Vec2&)> distanceOutside;  // negative inside the true shape
        double fullDeviation;  // how far the fixed piece counts already stand inside it
    };
    const auto capsule = [](Vec2 a, Vec2 b, double h) {
        return [=](const Vec2& p) { return GeometryEngine::distancePointSegment(p, a, b) - h; };
    };
    const auto sagitta = [](double r, double pieceRadians) { return r * (1 - std::cos(pieceRadians / 2)); };
    // A macro circle as evaluated: far more corners than any picture needs.
    const auto ring = [](Vec2 c, double r, int n) {
        Contour out;
        for (int i = 0; i < n; ++i) out.push_back(Vec2{c.x + r * std::cos(2 * kPi * i / n), c.y + r * std::sin(2 * kPi * i / n)});
        return out;
    };
    const std::vector<Case> cases{
        {object(PCBObjectKind::flash({1, 1}), ApertureShape::macro("C", 4, std::vector<Contour>{ring({0.5, 0}, 1.5, 2000)})),
         capsule({1.5, 1}, {1.5, 1}, 1.5), sagitta(1.5, 2 * kPi / 2000)},
        {object(PCBObjectKind::stroke({0, 0}, {3, 1}), ApertureShape::circle(0.25)), capsule({0, 0}, {3, 1}, 0.125),
         sagitta(0.125, kPi / 8)},
        {object(PCBObjectKind::stroke({0, 0}, {3, 1}), ApertureShape::circle(2)), capsule({0, 0}, {3, 1}, 1),
         sagitta(1, kPi / 8)},
        {object(PCBObjectKind::stroke({1, 1}, {1, 1}), ApertureShape::circle(0.6)), capsule({1, 1}, {1, 1}, 0.3),
         sagitta(0.3, kPi / 4)},
        {object(PCBObjectKind::flash({1, 1}), ApertureShape::circle(3)), capsule({1, 1}, {1, 1}, 1.5),
         sagitta(1.5, kPi / 24)},
        {object(PCBObjectKind::drill({2, 2}, 0.4, true)), capsule({2, 2}, {2, 2}, 0.2), sagitta(0.2, kPi / 4)},
        {object(PCBObjectKind::flash({0, 0}), ApertureShape::obround(2, 0.6)), capsule({-0.7, 0}, {0.7, 0}, 0.3),
         sagitta(0.3, kPi / 8)},
        {object(PCBObjectKind::arcStroke({10, 0}, {0, 10}, {0, 0}, false), ApertureShape::circle(0.3)),
         [](const Vec2& p) { return GeometryEngine::distancePointArc(p, {10, 0}, {0, 10}, {0, 0}, false) - 0.15; },
         sagitta(10, 8 * kPi / 180) + sagitta(0.15, kPi / 8)},
    };
    const Tessellator full;
    for (double tolerance : {0.002, 0.02, 0.2}) {
        Tessellator coarse;
        coarse.detailToleranceMM = tolerance;
        for (std::size_t k = 0; k < cases.size(); ++k) {
            const TriangleMesh fine = meshOf(full, cases[k].object);
            const TriangleMesh mesh = meshOf(coarse, cases[k].object);
            EXPECT_LE(mesh.triangleCount(), fine.triangleCount()) << k;
            if (k == 0) {
                EXPECT_LT(mesh.triangleCount() * 10, fine.triangleCount());  // the macro's corners thinned
            }
            const BBox box = cases[k].object.bbox.outset(0.5);
            for (int i = 0; i <= 60; ++i) {
                for (int j = 0; j <= 60; ++j) {
                    const Vec2 p{box.minX + box.width() * i / 60, box.minY + box.height() * j / 60};
                    const double d = cases[k].distanceOutside(p);
                    const double depth = std::max(tolerance, cases[k].fullDeviation);
                    if (d < -depth - 1e-6) {
                        ASSERT_TRUE(covers(mesh, p)) << k << " tol " << tolerance;
                    }
                    if (d > depth + 1e-6) {
                        ASSERT_FALSE(covers(mesh, p)) << k << " tol " << tolerance;
                    }
                }
            }
        }
    }
    // A stroke no wider than twice the tolerance has plain ends; no tolerance keeps the fixed counts.
    Tessellator coarse;
    coarse.detailToleranceMM = 0.1;
    EXPECT_EQ(meshOf(coarse, object(PCBObjectKind::stroke({0, 0}, {3, 1}), ApertureShape::circle(0.2))).triangleCount(), 2);
    const PCBObject arc = object(PCBObjectKind::arcStroke({10, 0}, {0, 10}, {0, 0}, false), ApertureShape::circle(0.3));
    coarse.detailToleranceMM = 0;
    expectSameFloats(meshOf(coarse, arc), meshOf(full, arc));
    // A macro circle smaller than the tolerance still covers an area.
    coarse.detailToleranceMM = 0.2;
    const auto dot = object(PCBObjectKind::flash({0, 0}), ApertureShape::macro("D", 0.02, std::vector<Contour>{ring({0, 0}, 0.01, 64)}));
    EXPECT_EQ(meshOf(coarse, dot).triangleCount(), 1);
}
