#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "mesh/Tessellator.hpp"

using namespace corvane;

namespace {
using Poly = std::vector<Vec2>;

double cross(const Vec2& a, const Vec2& b, const Vec2& d) {
    return (b.x - a.x) * (d.y - a.y) - (b.y - a.y) * (d.x - a.x);
}

double triArea(const Triangle& t) { return 0.5 * cross(t[0], t[1], t[2]); }

double totalArea(const std::vector<Triangle>& ts) {
    double s = 0;
    for (const auto& t : ts) s += triArea(t);
    return s;
}

std::vector<Triangle> trianglesOf(const TriangleMesh& m) {
    std::vector<Triangle> out;
    const auto& v = m.vertices();
    for (std::size_t i = 0; i + 5 < v.size(); i += 6) {
        out.push_back(Triangle{Vec2{v[i], v[i + 1]}, Vec2{v[i + 2], v[i + 3]}, Vec2{v[i + 4], v[i + 5]}});
    }
    return out;
}

std::vector<Triangle> fill(const std::vector<Contour>& contours) {
    TriangleMesh m;
    Tessellator{}.fillRegion(contours, m);
    return trianglesOf(m);
}

// The plain quadratic-per-ear clipper the indexed one must agree with: same dedupe, same flat-vertex
// removal, same blocking rule, always the lowest-index ear.
std::vector<Triangle> slowEarClip(const Poly& input) {
    Poly p = GeometryEngine::dedupeConsecutive(input);
    std::vector<Triangle> out;
    if (p.size() < 3) return out;
    auto at = [&](std::size_t i, std::ptrdiff_t k) {
        const auto n = static_cast<std::ptrdiff_t>(p.size());
        return p[static_cast<std::size_t>(((static_cast<std::ptrdiff_t>(i) + k) % n + n) % n)];
    };
    for (bool changed = true; changed && p.size() > 3;) {
        changed = false;
        for (std::size_t i = 0; i < p.size() && p.size() > 3;) {
            const Vec2 a = at(i, -1), b = p[i], d = at(i, 1);
            if (std::fabs(cross(a, b, d)) <= 1e-12 || a.distance(b) < 1e-9 || b.distance(d) < 1e-9) {
                p.erase(p.begin() + static_cast<std::ptrdiff_t>(i));
                changed = true;
            } else {
                ++i;
            }
        }
    }
    while (p.size() >= 4) {
        bool clipped = false;
        for (std::size_t i = 0; i < p.size() && !clipped; ++i) {
            const Vec2 a = at(i, -1), b = p[i], d = at(i, 1);
            if (!(cross(a, b, d) > 1e-12)) continue;
            bool blocked = false;
            for (const Vec2& q : p) {
                if (q.distance(a) < 1e-9 || q.distance(b) < 1e-9 || q.distance(d) < 1e-9) continue;
                if (cross(a, b, q) >= -1e-12 && cross(b, d, q) >= -1e-12 && cross(d, a, q) >= -1e-12) {
                    blocked = true;
                    break;
                }
            }
            if (blocked) continue;
            out.push_back(Triangle{a, b, d});
            p.erase(p.begin() + static_cast<std::ptrdiff_t>(i));
            clipped = true;
        }
        if (!clipped) return out;
    }
    out.push_back(Triangle{p[0], p[1], p[2]});
    return out;
}

Poly reversed(Poly p) {
    std::reverse(p.begin(), p.end());
    return p;
}

// Real outlines are axis-aligned, with points on one another's diagonals and runs of collinear points.
struct Shape {
    std::string name;
    Poly points;
};

std::vector<Shape> realShapes() {
    return {
        {"U silkscreen", {{0, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}},
        {"U with split edges", {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3}, {2, 3}, {2, 2}, {2, 1},
                                {1, 1}, {1, 2}, {1, 3}, {0, 3}, {0, 2}, {0, 1}}},
        {"L", {{0, 0}, {4, 0}, {4, 1}, {1, 1}, {1, 4}, {0, 4}}},
        {"L with midpoints", {{0, 0}, {2, 0}, {4, 0}, {4, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 4}, {0, 4}, {0, 2}}},
        {"comb", {{0, 0}, {7, 0}, {7, 3}, {6, 3}, {6, 1}, {5, 1}, {5, 3}, {4, 3}, {4, 1}, {3, 1}, {3, 3},
                  {2, 3}, {2, 1}, {1, 1}, {1, 3}, {0, 3}}},
        {"staircase", {{0, 0}, {4, 0}, {4, 1}, {3, 1}, {3, 2}, {2, 2}, {2, 3}, {1, 3}, {1, 4}, {0, 4}}},
        {"T", {{0, 2}, {1, 2}, {1, 0}, {2, 0}, {2, 2}, {3, 2}, {3, 3}, {0, 3}}},
        {"H", {{0, 0}, {1, 0}, {1, 1}, {2, 1}, {2, 0}, {3, 0}, {3, 3}, {2, 3}, {2, 2}, {1, 2}, {1, 3}, {0, 3}}},
        {"frame notch", {{0, 0}, {4, 0}, {4, 4}, {2, 4}, {2, 2}, {2, 4}, {0, 4}}},  // 180° spike inwards
        {"spike out", {{0, 0}, {2, 0}, {2, 1}, {5, 1}, {2, 1}, {2, 2}, {0, 2}}},
        {"collinear closing", {{1, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}}},
        {"repeat and close", {{0, 0}, {0, 0}, {3, 0}, {3, 1}, {0, 1}, {0, 0}}},
        {"pad with thermal gap", {{0, 0}, {1, 0}, {1, 0.4}, {1.2, 0.4}, {1.2, 0}, {2.2, 0}, {2.2, 1}, {1.2, 1},
                                  {1.2, 0.6}, {1, 0.6}, {1, 1}, {0, 1}}},
        {"bridged square hole",
         GeometryEngine::bridgeHole({{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{1, 1}, {1, 3}, {3, 3}, {3, 1}})},
        {"bridged diamond hole",
         GeometryEngine::bridgeHole({{0, 0}, {6, 0}, {6, 6}, {0, 6}}, {{3, 1}, {2, 3}, {3, 5}, {4, 3}})},
        {"decimal grid", {{0.1, 0.1}, {0.7, 0.1}, {0.7, 0.3}, {0.5, 0.3}, {0.5, 0.2}, {0.3, 0.2}, {0.3, 0.3},
                          {0.1, 0.3}}},
    };
}

void expectFaithful(const std::vector<Triangle>& tris, double expectedArea, const std::string& name) {
    ASSERT_FALSE(tris.empty()) << name;
    for (const auto& t : tris) EXPECT_GE(triArea(t), -1e-12) << name << ": clockwise triangle";
    EXPECT_NEAR(totalArea(tris), expectedArea, std::fabs(expectedArea) * 1e-3) << name;
}

// Histogram-like columns on an integer grid: simple, orthogonal, full of collinear runs.
Poly randomColumns(std::mt19937& rng, int columns) {
    std::uniform_int_distribution<int> low(0, 3), span(1, 6);
    std::vector<int> b(static_cast<std::size_t>(columns)), t(static_cast<std::size_t>(columns));
    for (std::size_t k = 0; k < b.size(); ++k) {
        b[k] = low(rng);
        t[k] = b[k] + span(rng);
        if (k > 0 && (b[k] >= t[k - 1] || t[k] <= b[k - 1])) b[k] = b[k - 1];  // keep neighbours overlapping
        if (k > 0 && t[k] <= b[k - 1]) t[k] = t[k - 1];
    }
    Poly p;
    for (std::size_t k = 0; k < b.size(); ++k) {
        p.push_back(Vec2{double(k), double(b[k])});
        p.push_back(Vec2{double(k + 1), double(b[k])});
    }
    for (std::size_t k = t.size(); k-- > 0;) {
        p.push_back(Vec2{double(k + 1), double(t[k])});
        p.push_back(Vec2{double(k), double(t[k])});
    }
    return p;
}

// Star-shaped around the origin with random radii; some points snapped to shared angles.
Poly randomStar(std::mt19937& rng, int n) {
    std::uniform_real_distribution<double> radius(0.3, 2.0);
    Poly p;
    for (int i = 0; i < n; ++i) {
        const double a = 6.283185307179586 * i / n;
        const double r = radius(rng);
        p.push_back(Vec2{r * std::cos(a), r * std::sin(a)});
    }
    return p;
}
} // namespace

// Single contours

TEST(RegionFill, UnitSquareGivesTheTwoExpectedTriangles) {
    const auto tris = Tessellator::earClip({{0, 0}, {1, 0}, {1, 1}, {0, 1}});
    ASSERT_EQ(tris.size(), 2u);
    EXPECT_EQ(tris[0], (Triangle{Vec2{0, 1}, Vec2{0, 0}, Vec2{1, 0}}));
    EXPECT_EQ(tris[1], (Triangle{Vec2{1, 0}, Vec2{1, 1}, Vec2{0, 1}}));
    expectFaithful(fill({{{0, 0}, {0, 1}, {1, 1}, {1, 0}}}), 1, "clockwise square");
}

TEST(RegionFill, TinyContours) {
    EXPECT_EQ(fill({{{0, 0}, {1, 0}, {2, 0}}}).size(), 1u);  // three points: one triangle, even flat
    EXPECT_EQ(fill({{{0, 0}, {0, 1}, {1, 0}}}).size(), 1u);
    EXPECT_TRUE(fill({{{0, 0}, {1, 0}, {1, 0}, {0, 1e-12}}}).empty());  // two distinct points
    EXPECT_TRUE(fill({{}, {{1, 1}}}).empty());
    EXPECT_TRUE(fill({}).empty());
}

TEST(RegionFill, RealShapedContoursCoverExactlyTheirArea) {
    for (const auto& shape : realShapes()) {
        const double area = GeometryEngine::signedArea(shape.points);
        ASSERT_GT(area, 0) << shape.name;
        expectFaithful(Tessellator::earClip(shape.points), area, shape.name);
        expectFaithful(fill({shape.points}), area, shape.name + " filled");
        expectFaithful(fill({reversed(shape.points)}), area, shape.name + " reversed");
        EXPECT_EQ(Tessellator::earClip(shape.points), slowEarClip(shape.points)) << shape.name;
    }
}

TEST(RegionFill, EveryContourIsItsOwnArea) {
    const Poly outer{{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    const Poly inner{{2, 2}, {4, 2}, {4, 4}, {2, 4}};
    const Poly apart{{20, 0}, {21, 0}, {21, 1}};
    // Nested and separate contours of one region are all filled; nothing is cut out.
    expectFaithful(fill({outer, inner, apart}), 100 + 4 + 0.5, "three contours");
    expectFaithful(fill({inner, reversed(outer)}), 104, "inner first");
    // A hole stays open only when bridged into its island beforehand.
    const auto bridged = GeometryEngine::bridgeHole(outer, reversed(inner));
    const auto tris = fill({bridged});
    expectFaithful(tris, 96, "bridged");
    for (const auto& t : tris) {
        const Vec2 c{(t[0].x + t[1].x + t[2].x) / 3, (t[0].y + t[1].y + t[2].y) / 3};
        EXPECT_FALSE(c.x > 2 && c.x < 4 && c.y > 2 && c.y < 4) << "triangle inside the hole";
    }
}

TEST(RegionFill, ManyBridgedHolesStayOpen) {
    Poly plane{{0, 0}, {30, 0}, {30, 30}, {0, 30}};
    double area = 900;
    for (int i = 0; i < 10; ++i) {
        for (int j = 0; j < 10; ++j) {
            const double x = 1.5 + 3 * i;
            const double y = 1.5 + 3 * j;
            plane = GeometryEngine::bridgeHole(plane, {{x, y}, {x, y + 1}, {x + 1, y + 1}, {x + 1, y}});
            area -= 1;
        }
    }
    const auto tris = fill({plane});
    expectFaithful(tris, area, "plane with 100 holes");
    EXPECT_EQ(Tessellator::earClip(plane), slowEarClip(plane));
}

TEST(RegionFill, IndexedClippingMatchesThePlainClipper) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 150; ++round) {
        const Poly columns = randomColumns(rng, 3 + round % 25);
        const auto fast = Tessellator::earClip(columns);
        ASSERT_EQ(fast, slowEarClip(columns)) << "columns round " << round;
        expectFaithful(fast, GeometryEngine::signedArea(columns), "columns " + std::to_string(round));

        const Poly star = randomStar(rng, 5 + round);
        const auto starTris = Tessellator::earClip(star);
        ASSERT_EQ(starTris, slowEarClip(star)) << "star round " << round;
        expectFaithful(starTris, GeometryEngine::signedArea(star), "star " + std::to_string(round));
    }
}

// Hostile and broken contours

TEST(RegionFill, BrokenContoursFillWhatTheyCanAndNeverFail) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    // A point that is not a number spoils only its own contour.
    EXPECT_EQ(fill({{{0, 0}, {1, 0}, {nan, nan}, {0, 1}}, {{0, 0}, {1, 0}, {0, 1}}}).size(), 1u);
    EXPECT_TRUE(Tessellator::earClip({{0, 0}, {1, 0}, {1, std::numeric_limits<double>::infinity()}, {0, 1}}).empty());

    // A self-crossing bow tie: clipping stops part-way and keeps what it filled.
    const Poly bowTie{{0, 0}, {2, 2}, {2, 0}, {0, 2}};
    const auto tie = Tessellator::earClip(bowTie);
    EXPECT_EQ(tie, slowEarClip(bowTie));
    EXPECT_LE(tie.size(), 2u);

    // Everything on one line collapses to one flat triangle.
    const auto flat = fill({{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {1.5, 0}}});
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(triArea(flat[0]), 0);

    // Coordinates whose products overflow do not hang the clipper.
    const auto far = fill({{{-1e300, -1e300}, {1e300, -1e300}, {1e300, 1e300}, {0, 5}, {-1e300, 1e300}}});
    EXPECT_LE(far.size(), 3u);

    // A large contour of random points (self-crossing everywhere) still finishes.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-50, 50);
    Poly noise;
    for (int i = 0; i < 20000; ++i) noise.push_back(Vec2{coord(rng), coord(rng)});
    const auto scribble = Tessellator::earClip(noise);
    EXPECT_LT(scribble.size(), noise.size());
}

TEST(RegionFill, HolesBridgedInAnyOrderStayOpen) {
    // Clearances in one row share the y of their rightmost points; bridged left to right as given, each
    // bridge would run along the previous one and through the holes not yet cut.
    const Poly island{{0, 0}, {0, 4}, {20, 4}, {20, 0}};  // clockwise on purpose
    std::vector<Poly> holes;
    double holeArea = 0;
    for (int i = 0; i < 8; ++i) {
        const double x = 1 + 2.2 * i;
        Poly h{{x, 1}, {x + 1, 1}, {x + 1.5, 2}, {x + 1, 3}, {x, 3}};
        if (i % 2) h = reversed(h);
        holeArea += GeometryEngine::signedArea(i % 2 ? reversed(h) : h);
        holes.push_back(h);
    }
    holes.push_back({});
    const Poly polygon = GeometryEngine::bridgeHoles(island, holes);
    EXPECT_EQ(polygon.size(), 4 + 8 * (5 + 3));
    const auto tris = fill({polygon});
    expectFaithful(tris, 80 - holeArea, "row of holes");
    for (const auto& t : tris) {
        const Vec2 c{(t[0].x + t[1].x + t[2].x) / 3, (t[0].y + t[1].y + t[2].y) / 3};
        for (const auto& h : holes) EXPECT_FALSE(!h.empty() && GeometryEngine::pointInPolygon(c, h));
    }
}

TEST(RegionFill, BridgingManyHolesAtOnceMatchesBridgingOneByOne) {
    // The one-by-one form: rightmost hole first, each clockwise, bridged into the growing polygon.
    auto oneByOne = [](Poly outer, std::vector<Poly> holes) {
        outer = GeometryEngine::ensureCCW(outer);
        std::stable_sort(holes.begin(), holes.end(), [](const Poly& l, const Poly& r) {
            auto right = [](const Poly& p) {
                double x = -1e300;
                for (const Vec2& v : p) x = std::max(x, v.x);
                return x;
            };
            return right(l) > right(r);
        });
        for (Poly h : holes) {
            if (GeometryEngine::signedArea(h) > 0) h = reversed(h);
            outer = GeometryEngine::bridgeHole(outer, h);
        }
        return outer;
    };
    std::mt19937 rng(99);
    for (int round = 0; round <= 40; ++round) {
        // An axis-aligned island with midpoints on its edges, square and diamond holes on a grid (some in
        // a row sharing y with island corners and each other, some with a corner on another's ray), one
        // outside, some counter-clockwise.
        const double size = round == 40 ? 100 : 10 + round % 7;  // the last one big enough for long edges
        const Poly island{{0, 0}, {size / 2, 0}, {size, 0}, {size, size / 2}, {size, size}, {0, size}, {0, 3}};
        std::vector<Poly> holes;
        std::uniform_int_distribution<int> coin(0, 3);
        for (int gx = 1; gx + 1 < size; gx += 2) {
            for (int gy = 1; gy + 1 < size; gy += 2) {
                const double x = gx;
                const double y = gy;
                switch (coin(rng)) {
                case 0: break;
                case 1: holes.push_back({{x, y}, {x, y + 1}, {x + 1, y + 1}, {x + 1, y}}); break;
                case 2: holes.push_back({{x + 0.5, y}, {x + 1, y + 0.5}, {x + 0.5, y + 1}, {x, y + 0.5}}); break;
                default:
                    if (gy == 3) holes.push_back({{x, 3}, {x + 0.5, 3.5}, {x + 1, 3}, {x + 0.5, 2.5}});
                    break;
                }
            }
        }
        holes.push_back({{size + 5, 1}, {size + 6, 1}, {size + 6, 2}});
        const Poly once = GeometryEngine::bridgeHoles(island, holes);
        ASSERT_TRUE(once == oneByOne(island, holes)) << "round " << round;
        expectFaithful(fill({once}), GeometryEngine::signedArea(once), "bridged " + std::to_string(round));
    }
}
