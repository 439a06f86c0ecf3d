#include <gtest/gtest.h>

#include <cairo.h>
#include <cmath>
#include <cstring>
#include <cstdint>

#include "render/SoftwareRenderer.hpp"
#include "render/LayerDrawOrder.hpp"
#include "model/GeometryEngine.hpp"

using namespace corvane;

namespace {

PCBObject object(PCBObjectKind kind, std::optional<ApertureShape> shape, Polarity polarity = Polarity::dark) {
    return PCBObject(std::move(kind), std::nullopt, std::move(shape), polarity, std::nullopt, std::nullopt,
                     std::nullopt, std::nullopt, 0);
}

PackageFile gerberFile(const std::string& name, LayerType type, std::vector<PCBObject> objects) {
    GerberDocument doc;
    doc.format = SourceFormat::gerberRS274X;
    BBox box = BBox::empty();
    for (auto& o : objects) box.include(o.bbox);
    doc.objects = std::move(objects);
    doc.bbox = box;
    PackageFile f;
    f.fileName = name;
    f.relativePath = name;
    f.format = SourceFormat::gerberRS274X;
    f.layerType = std::move(type);
    f.confidence = DetectionConfidence::high;
    f.gerber = std::move(doc);
    return f;
}

// A 10 × 5 mm outline so that 1200 × 900 gives the scale 600/7 px/mm.
PackageFile outline() {
    std::vector<Contour> c{{{0, 0}, {10, 0}, {10, 5}, {0, 5}}};
    auto stroke = [](Vec2 a, Vec2 b) { return object(PCBObjectKind::stroke(a, b), std::nullopt); };
    return gerberFile("edge.gm1", LayerType::outline(),
                      {stroke({0, 0}, {10, 0}), stroke({10, 0}, {10, 5}), stroke({10, 5}, {0, 5}), stroke({0, 5}, {0, 0})});
}

struct Px {
    double s, offX, offY, H;
    int x(double bx) const { return static_cast<int>(offX + s * bx); }
    int y(double by) const { return static_cast<int>(H - offY - s * by); }
};
const Px kPx{600.0 / 7.0, 1200.0 / 7.0, 1650.0 / 7.0, 900};

bool near(RasterImage::RGBA c, int r, int g, int b, int tol = 3) {
    return std::abs(c.r - r) <= tol && std::abs(c.g - g) <= tol && std::abs(c.b - b) <= tol;
}

} // namespace

TEST(SoftwareRendererGeometry, FitScaleMarginsAndUpright) {
    PCBPackage pkg;
    pkg.files.push_back(outline());
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()),
                                   {object(PCBObjectKind::flash({2, 4}), ApertureShape::circle(1.0))}));
    SoftwareRenderer r;
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, false);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 1200);
    EXPECT_EQ(img->height, 900);
    EXPECT_DOUBLE_EQ(r.pxScale, 600.0 / 7.0);
    // Board +y is up: the pad at y = 4 sits in the upper half of the picture.
    const auto pad = img->rgba(kPx.x(2), kPx.y(4));
    EXPECT_TRUE(near(pad, 242, 158, 46)) << pad.r << "," << pad.g << "," << pad.b;
    EXPECT_LT(kPx.y(4), 450);
    // The background everywhere away from the board.
    EXPECT_TRUE(near(img->rgba(5, 5), 20, 23, 28));
    // flipX mirrors left to right.
    auto flipped = r.render(pkg, SizePx{1200, 900}, std::nullopt, true);
    ASSERT_TRUE(flipped);
    EXPECT_TRUE(near(flipped->rgba(1200 - kPx.x(2), kPx.y(4)), 242, 158, 46));
}

TEST(SoftwareRendererGeometry, RefusesEmptyBoardsAndTinySizes) {
    PCBPackage empty;
    SoftwareRenderer r;
    EXPECT_FALSE(r.render(empty, SizePx{1200, 900}, std::nullopt, false));
    PCBPackage pkg;
    pkg.files.push_back(outline());
    EXPECT_FALSE(r.render(pkg, SizePx{4, 900}, std::nullopt, false));
    auto thin = r.render(pkg, SizePx{4.5, 900}, std::nullopt, false);
    ASSERT_TRUE(thin);
    EXPECT_EQ(thin->width, 4);
    EXPECT_FALSE(r.render(pkg, SizePx{1e9, 900}, std::nullopt, false));
    EXPECT_FALSE(r.render(pkg, SizePx{NAN, 900}, std::nullopt, false));
}

TEST(SoftwareRendererLayers, TheSideFacingAwayIsDrawnFirst) {
    const auto top = CopperLayerID::top(), bottom = CopperLayerID::bottom();
    const std::vector<LayerType> stack{LayerType::drill(),          LayerType::copper(top),
                                       LayerType::silkscreen(bottom), LayerType::unknown(),
                                       LayerType::outline(),        LayerType::copper(CopperLayerID::inner(1)),
                                       LayerType::solderMask(top),  LayerType::copper(bottom),
                                       LayerType::paste(bottom),    LayerType::copper(CopperLayerID::inner(2)),
                                       LayerType::silkscreen(top),  LayerType::solderMask(bottom)};
    // From the top: bottom silkscreen, paste, mask and copper, inner 2 then 1, top copper, mask and
    // silkscreen; outline and drills above all copper, unknown files last.
    EXPECT_EQ(layerDrawOrder(stack, ViewedSide::top),
              (std::vector<std::size_t>{2, 8, 11, 7, 9, 5, 1, 6, 10, 4, 0, 3}));
    EXPECT_EQ(layerDrawOrder(stack, ViewedSide::bottom),
              (std::vector<std::size_t>{10, 6, 1, 5, 9, 7, 11, 8, 2, 4, 0, 3}));
    // Inner numbers read from files stay between the outer layers however large or small; equal ranks keep
    // their order.
    EXPECT_EQ(layerDrawOrder({LayerType::copper(CopperLayerID::inner(INT64_MAX)), LayerType::copper(bottom),
                              LayerType::copper(CopperLayerID::inner(-4)), LayerType::copper(top), LayerType::outline(),
                              LayerType::outline()},
                             ViewedSide::top),
              (std::vector<std::size_t>{1, 0, 2, 3, 4, 5}));
}

TEST(SoftwareRendererLayers, TopCopperCoversBottomCopperUnlessFlippedAndVisibilityFilters) {
    PCBPackage pkg;
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()),
                                   {object(PCBObjectKind::flash({5, 2.5}), ApertureShape::rectangle(2, 2))}));
    pkg.files.push_back(gerberFile("bottom.gbl", LayerType::copper(CopperLayerID::bottom()),
                                   {object(PCBObjectKind::flash({5, 2.5}), ApertureShape::rectangle(2, 2))}));
    pkg.files.push_back(outline());
    SoftwareRenderer r;
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, false);
    ASSERT_TRUE(img);
    EXPECT_TRUE(near(img->rgba(kPx.x(5), kPx.y(2.5)), 242, 158, 46));
    auto flipped = r.render(pkg, SizePx{1200, 900}, std::nullopt, true);
    ASSERT_TRUE(flipped);
    EXPECT_TRUE(near(flipped->rgba(1200 - kPx.x(5), kPx.y(2.5)), 77, 158, 242));

    auto onlyTop = r.render(pkg, SizePx{1200, 900}, std::set<std::string>{"top.gtl"}, false);
    ASSERT_TRUE(onlyTop);
    EXPECT_TRUE(near(onlyTop->rgba(kPx.x(5), kPx.y(2.5)), 242, 158, 46));

    auto none = r.render(pkg, SizePx{1200, 900}, std::set<std::string>{}, false);
    ASSERT_TRUE(none);
    EXPECT_TRUE(near(none->rgba(kPx.x(5), kPx.y(2.5)), 20, 23, 28));
}

TEST(SoftwareRendererLayers, ClearPolarityCutsOnlyItsOwnLayer) {
    PCBPackage pkg;
    pkg.files.push_back(outline());
    std::vector<Contour> plane{{{0, 0}, {10, 0}, {10, 5}, {0, 5}}};
    pkg.files.push_back(gerberFile(
        "bottom.gbl", LayerType::copper(CopperLayerID::bottom()),
        {object(PCBObjectKind::region(plane), std::nullopt),
         object(PCBObjectKind::flash({3, 2.5}), ApertureShape::circle(1.5), Polarity::clear)}));
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()),
                                   {object(PCBObjectKind::flash({3, 2.5}), ApertureShape::circle(0.5))}));
    SoftwareRenderer r;
    // Seen from the bottom, bottom copper is drawn over the top pad.
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, true);
    ASSERT_TRUE(img);
    const auto x = [](double bx) { return 1200 - kPx.x(bx); };
    // The clearance shows what lies below: the background, not bottom copper...
    EXPECT_TRUE(near(img->rgba(x(3), kPx.y(3.05)), 20, 23, 28));
    EXPECT_TRUE(near(img->rgba(x(5), kPx.y(2.5)), 77, 158, 242));
    // ... and the top pad beneath it, which the bottom layer's clear object does not cut.
    EXPECT_TRUE(near(img->rgba(x(3), kPx.y(2.5)), 242, 158, 46));
}

TEST(SoftwareRendererPrimitives, DrillsMacrosAndRegionHoles) {
    PCBPackage pkg;
    pkg.files.push_back(outline());
    std::vector<Contour> outer{{{1, 1}, {4, 1}, {4, 4}, {1, 4}}, {{2, 2}, {3, 2}, {3, 3}, {2, 3}}};
    // A macro pad whose outline is an L: the corner cut out stays empty.
    std::vector<Contour> lShape{{{-1, -1}, {1, -1}, {1, 0}, {0, 0}, {0, 1}, {-1, 1}}};
    pkg.files.push_back(gerberFile(
        "top.gtl", LayerType::copper(CopperLayerID::top()),
        {object(PCBObjectKind::region(outer), std::nullopt),
         object(PCBObjectKind::flash({7, 2.5}), ApertureShape::macro("L", 2.83, lShape))}));
    DrillDocument drill;
    drill.tools[1] = DrillTool{1, 1.0, Plating::pth};
    drill.hits.push_back(DrillHit{{2.5, 2.5}, 1, Plating::pth});
    drill.bbox = BBox{2, 2, 3, 3};
    PackageFile df;
    df.fileName = "board.drl";
    df.layerType = LayerType::drill();
    df.format = SourceFormat::excellon;
    df.drill = drill;
    pkg.files.push_back(df);

    SoftwareRenderer r;
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, false);
    ASSERT_TRUE(img);
    // Region holes are filled like any contour; the drill on top is in the drill layer's light colour.
    EXPECT_TRUE(near(img->rgba(kPx.x(1.5), kPx.y(1.5)), 242, 158, 46));
    EXPECT_TRUE(near(img->rgba(kPx.x(2.5), kPx.y(2.5)), 219, 224, 232));
    EXPECT_TRUE(near(img->rgba(kPx.x(6.5), kPx.y(2.0)), 242, 158, 46));
    EXPECT_TRUE(near(img->rgba(kPx.x(7.5), kPx.y(3.0)), 20, 23, 28));
}

TEST(SoftwareRendererColors, DefaultTable) {
    EXPECT_EQ(SoftwareRenderer::defaultColor(LayerType::copper(CopperLayerID::inner(1))),
              (RGBAColor{0.8, 0.42, 0.95, 1.0}));
    // A 14-layer board's twelve inner layers each have a colour of their own, unlike the outer layers'.
    std::vector<RGBAColor> seen{SoftwareRenderer::defaultColor(LayerType::copper(CopperLayerID::top())),
                                SoftwareRenderer::defaultColor(LayerType::copper(CopperLayerID::bottom()))};
    for (std::int64_t n = 1; n <= 12; ++n) {
        const RGBAColor c = SoftwareRenderer::defaultColor(LayerType::copper(CopperLayerID::inner(n)));
        for (const RGBAColor& other : seen)
            EXPECT_GT(std::abs(c.r - other.r) + std::abs(c.g - other.g) + std::abs(c.b - other.b), 0.2) << "inner " << n;
        seen.push_back(c);
    }
    EXPECT_EQ(SoftwareRenderer::defaultColor(LayerType::copper(CopperLayerID::inner(13))),
              SoftwareRenderer::defaultColor(LayerType::copper(CopperLayerID::inner(1))));
    EXPECT_EQ(SoftwareRenderer::defaultColor(LayerType::solderMask(CopperLayerID::bottom())),
              (RGBAColor{0.1, 0.65, 0.35, 0.55}));
    EXPECT_EQ(SoftwareRenderer::defaultColor(LayerType::unknown()), (RGBAColor{0.6, 0.6, 0.6, 1.0}));
}

namespace {

PCBObject track(Vec2 a, Vec2 b, double width, Polarity polarity = Polarity::dark) {
    return object(PCBObjectKind::stroke(a, b), ApertureShape::circle(width), polarity);
}
PCBObject pad(Vec2 at, ApertureShape shape, Polarity polarity = Polarity::dark) {
    return object(PCBObjectKind::flash(at), std::move(shape), polarity);
}

// One layer of the given type over the 10 × 5 mm outline, at 1200 × 900.
RasterImage renderLayer(LayerType type, std::vector<PCBObject> objects) {
    PCBPackage pkg;
    pkg.files.push_back(outline());
    pkg.files.push_back(gerberFile("layer.gbr", std::move(type), std::move(objects)));
    SoftwareRenderer r;
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, false);
    EXPECT_TRUE(img);
    return img ? *img : RasterImage{};
}

bool isTop(const RasterImage& img, double x, double y) { return near(img.rgba(kPx.x(x), kPx.y(y)), 242, 158, 46); }
bool isBackground(const RasterImage& img, double x, double y) { return near(img.rgba(kPx.x(x), kPx.y(y)), 20, 23, 28); }

// A board point and whether top copper or the background must show there.
struct Probe {
    double x, y;
    bool copper;
};
void expectProbes(const RasterImage& img, std::initializer_list<Probe> probes) {
    for (const Probe& p : probes)
        EXPECT_TRUE(p.copper ? isTop(img, p.x, p.y) : isBackground(img, p.x, p.y)) << p.x << "," << p.y;
}

} // namespace

TEST(SoftwareRendererPrimitives, OverlappingShapesOfOneColourUniteWithoutHoles) {
    // A rectangle, a disc, an ellipse and a track over one another: the overlaps must not cancel out.
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {pad({3, 2.5}, ApertureShape::rectangle(2, 1)), pad({3.8, 2.5}, ApertureShape::circle(1)),
                                  track({2, 2.5}, {4.5, 2.5}, 0.3), pad({3.5, 2.5}, ApertureShape::obround(1, 2))});
    expectProbes(img, {{3.8, 2.5, true}, {3.5, 2.5, true}, {3.9, 2.9, true}, {3.5, 3.2, true}, {4.4, 2.5, true},
                       {2.5, 2.8, true}, {4.0, 3.4, false}});
}

TEST(SoftwareRendererPrimitives, RoundShapesKeepTheirSize) {
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {track({1, 2.5}, {9, 2.5}, 0.2), track({2, 4}, {2, 4}, 0.5),
                                  pad({5, 1}, ApertureShape::obround(2, 1)), pad({8, 4}, ApertureShape::circle(0.8))});
    // The long track is whole across the image and ends in half-discs of its width.
    for (double x = 1.0; x <= 9.0; x += 0.05) EXPECT_TRUE(isTop(img, x, 2.5)) << x;
    expectProbes(img, {{9.06, 2.5, true}, {9.15, 2.5, false}, {5, 2.65, false}});
    // A track of no length is a disc of its width.
    expectProbes(img, {{2.2, 4, true}, {2.16, 4.16, true}, {2.3, 4, false}, {2.2, 4.2, false}});
    // The obround pad ends in half discs: its ends reach out, the corners of its box stay empty.
    expectProbes(img, {{5.9, 1, true}, {5, 1.45, true}, {5.9, 1.45, false}});
    expectProbes(img, {{8.37, 4, true}, {8.45, 4, false}});
}

namespace {

// The picture of a `w` × `h` mm board (its outline along the edge) holding one top copper layer.
struct BoardPicture {
    RasterImage image;
    double w, h;
    bool flipX = false;
    double s() const { return std::min(1200.0 / (w + 4), 900.0 / (h + 4)); }
    // The board point under the centre of pixel (ix, iy).
    Vec2 at(int ix, int iy) const {
        const double x = (flipX ? 1200.0 - (ix + 0.5) : ix + 0.5) - (1200.0 - s() * w) / 2;
        return Vec2{x / s(), (900.0 - (900.0 - s() * h) / 2 - (iy + 0.5)) / s()};
    }
};

BoardPicture renderBoard(double w, double h, std::vector<PCBObject> objects, bool flipX = false) {
    PCBPackage pkg;
    auto edge = [](Vec2 a, Vec2 b) { return object(PCBObjectKind::stroke(a, b), std::nullopt); };
    pkg.files.push_back(gerberFile("edge.gm1", LayerType::outline(),
                                   {edge({0, 0}, {w, 0}), edge({w, 0}, {w, h}), edge({w, h}, {0, h}), edge({0, h}, {0, 0})}));
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()), std::move(objects)));
    SoftwareRenderer r;
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, flipX);
    EXPECT_TRUE(img);
    return BoardPicture{img ? *img : RasterImage{}, w, h, flipX};
}

// Within `window` (board mm), every pixel whose centre lies more than a pixel inside the exact shape is top
// copper and every one more than a pixel outside it is the background: the picture follows the true outline
// to within a pixel at its edges. `distance` is the signed distance (mm) of a board point to the shape's
// edge, negative inside; outside it may be any lower bound of the true distance.
template <class Distance>
void expectExactShape(const BoardPicture& pic, const BBox& window, Distance&& distance) {
    int wrongInside = 0, wrongOutside = 0, inside = 0;
    for (int iy = 0; iy < pic.image.height; ++iy)
        for (int ix = 0; ix < pic.image.width; ++ix) {
            const Vec2 p = pic.at(ix, iy);
            if (p.x < window.minX || p.x > window.maxX || p.y < window.minY || p.y > window.maxY) continue;
            const double d = distance(p) * pic.s();
            const auto c = pic.image.rgba(ix, iy);
            if (d < -1) {
                ++inside;
                if (!near(c, 242, 158, 46)) ++wrongInside;
            } else if (d > 1 && !near(c, 20, 23, 28)) {
                ++wrongOutside;
            }
        }
    EXPECT_GT(inside, 0);
    EXPECT_EQ(wrongInside, 0);
    EXPECT_EQ(wrongOutside, 0);
}

// A capsule's distance: to its centre segment, less its radius.
auto capsuleDistance(Vec2 a, Vec2 b, double r) {
    return [=](const Vec2& p) { return GeometryEngine::distancePointSegment(p, a, b) - r; };
}

// A convex polygon's: the largest distance past one of its edge lines (exact inside, a lower bound outside).
auto convexDistance(std::vector<Vec2> corners) {
    return [corners = std::move(corners)](const Vec2& p) {
        double d = -1e300;
        for (std::size_t i = 0; i < corners.size(); ++i) {
            const Vec2 a = corners[i], b = corners[(i + 1) % corners.size()];
            const double len = std::hypot(b.x - a.x, b.y - a.y);
            d = std::max(d, ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x)) / -len);  // counter-clockwise
        }
        return d;
    };
}

} // namespace

TEST(SoftwareRendererPrimitives, FlashesTakeTheirApertureShapes) {
    // Obrounds lying and standing: rectangles with round ends, not ellipses. An octagon turned by 10°
    // keeps its corners where the file puts them, in the mirrored picture too.
    const ApertureShape octagon = ApertureShape::polygon(2.0, 8, 10.0);
    std::vector<Vec2> corners;
    GeometryEngine::polygonCorners({8, 2.5}, *octagon.as<ApertureShape::Polygon>(), corners);
    ASSERT_EQ(corners.size(), 8u);
    EXPECT_NEAR(std::atan2(corners[0].y - 2.5, corners[0].x - 8) * 180 / M_PI, 10.0, 1e-9);
    for (bool flipX : {false, true}) {
        const auto pic = renderBoard(10, 5,
                                     {pad({2.5, 2.5}, ApertureShape::obround(3, 1)), pad({5.5, 2.5}, ApertureShape::obround(1, 3)),
                                      pad({8, 2.5}, octagon)},
                                     flipX);
        expectExactShape(pic, BBox{0.5, 1.5, 4.5, 3.5}, capsuleDistance({1.5, 2.5}, {3.5, 2.5}, 0.5));
        expectExactShape(pic, BBox{4.7, 0.5, 6.3, 4.5}, capsuleDistance({5.5, 1.5}, {5.5, 3.5}, 0.5));
        expectExactShape(pic, BBox{6.7, 1.2, 9.3, 3.8}, convexDistance(corners));
    }
}

TEST(SoftwareRendererPrimitives, EveryShapeOfABatchAddsToTheUnion) {
    // Shapes painted together must all run the same way round, or where they overlap they cancel into a
    // hole; mirroring the picture turns every one of them.
    std::vector<Vec2> octagon;
    GeometryEngine::polygonCorners({4.4, 2.5}, ApertureShape::Polygon{1.2, 8, 0}, octagon);
    const auto rect = convexDistance({{2, 2}, {4, 2}, {4, 3}, {2, 3}});
    const auto line = capsuleDistance({2, 2.5}, {4.5, 2.5}, 0.15), obround = capsuleDistance({3.5, 2}, {3.5, 3}, 0.5);
    const auto octagonDistance = convexDistance(octagon);
    for (bool flipX : {false, true}) {
        const auto pic = renderBoard(10, 5,
                                     {pad({3, 2.5}, ApertureShape::rectangle(2, 1)), pad({3.8, 2.5}, ApertureShape::circle(1)),
                                      track({2, 2.5}, {4.5, 2.5}, 0.3), pad({3.5, 2.5}, ApertureShape::obround(1, 2)),
                                      pad({4.4, 2.5}, ApertureShape::polygon(1.2, 8, 0))},
                                     flipX);
        expectExactShape(pic, BBox{1, 0.8, 6, 4.2}, [&](const Vec2& p) {
            const double disc = std::hypot(p.x - 3.8, p.y - 2.5) - 0.5;
            return std::min({rect(p), disc, line(p), obround(p), octagonDistance(p)});
        });
    }
}

TEST(SoftwareRendererPrimitives, ShapesReachingPastThePictureFillWhatShows) {
    // A pour far larger than the board covers every pixel; a clearance reaching past the left side cuts
    // only what it covers, and a track crossing the whole width leaves no gap at either side.
    std::vector<Contour> pour{{{-1000, -1000}, {1000, -1000}, {1000, 1000}, {-1000, 1000}}};
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {object(PCBObjectKind::region(pour), std::nullopt), pad({-3, 4}, ApertureShape::rectangle(8, 0.5), Polarity::clear),
                                  track({-500, 4}, {500, 4}, 0.1)});
    for (auto [x, y] : {std::pair{0, 0}, {1199, 0}, {0, 899}, {1199, 899}, {600, 450}})
        EXPECT_TRUE(near(img.rgba(x, y), 242, 158, 46)) << x << "," << y;
    expectProbes(img, {{0.5, 3.9, false}, {0.5, 4.1, false}, {0.95, 3.9, false}, {1.1, 3.9, true}, {0.5, 3.6, true}});
    for (int x = 0; x < 1200; ++x) {
        const double bx = (x + 0.5 - kPx.offX) / kPx.s;
        if (std::abs(bx) > 0.2 && std::abs(bx - 10) > 0.2) {  // the outline, drawn above copper
            EXPECT_TRUE(near(img.rgba(x, kPx.y(4)), 242, 158, 46)) << x;
        }
    }
}

TEST(SoftwareRendererPrimitives, LargeArcsKeepToTheirCircle) {
    // A 0.5 mm track on a 100 mm radius, a quarter turn: chords of a fixed 8° would stand 0.24 mm, two
    // pixels, inside the circle.
    const Vec2 center{5, 5}, start{5 + 100 * std::cos(0.1), 5 + 100 * std::sin(0.1)}, end{5 + 100 * std::cos(1.45), 5 + 100 * std::sin(1.45)};
    const auto pic = renderBoard(110, 110, {object(PCBObjectKind::arcStroke(start, end, center, false), ApertureShape::circle(0.5))});
    expectExactShape(pic, BBox{2, 2, 108, 108}, [&](const Vec2& p) {
        return GeometryEngine::distancePointArc(p, start, end, center, false) - 0.25;
    });
}

TEST(SoftwareRendererPrimitives, LongPourOutlinesFillEveryRowTheyCross) {
    // A pour from the bottom of the board to its top, as one outline of 900 corners: a circle, a cut in to a
    // hole that it runs round the other way, and the cut back out. Every band of rows meets a part of the
    // outline, most of which lies elsewhere.
    Contour pour;
    auto ring = [&pour](double r, int n, int turn) {
        for (int i = 0; i <= n; ++i) {
            const double a = turn * 2 * M_PI * i / n;
            pour.push_back({55 + r * std::cos(a), 55 + r * std::sin(a)});
        }
    };
    ring(54, 600, 1);
    ring(20, 300, -1);
    const auto pic = renderBoard(110, 110, {object(PCBObjectKind::region({pour}), std::nullopt)});
    // Corners this close stand within a twentieth of a pixel of their circles.
    expectExactShape(pic, BBox{2, 2, 108, 108}, [](const Vec2& p) {
        const double r = std::hypot(p.x - 55, p.y - 55);
        return std::max(r - 54, 20 - r);
    });
}

TEST(SoftwareRendererPrimitives, LongPourOutlinesPaintAsTheirWholeOutlineWould) {
    // Pours crossing the bands at many heights, each of 127 corners (added as one outline) and again with its
    // first corner repeated at the end (128 corners, added run by run): the repeated corner adds an edge of no
    // length, so both pictures must be the same to the bit.
    auto pours = [](bool repeatFirst) {
        std::vector<PCBObject> objects;
        for (int k = 0; k < 40; ++k) {
            const Vec2 c{10 + (k * 37) % 90 + 0.013 * k, 8 + (k * 53) % 94 + 0.029 * k};
            Contour outline;
            for (int i = 0; i < 127; ++i) {
                const double a = 2 * M_PI * i / 127, r = 6 + 0.8 * std::sin(5 * a + k);
                outline.push_back({c.x + r * std::cos(a), c.y + r * std::sin(a)});
            }
            if (repeatFirst) outline.push_back(outline.front());
            objects.push_back(object(PCBObjectKind::region({outline}), std::nullopt, k % 3 ? Polarity::dark : Polarity::clear));
        }
        return renderBoard(110, 110, std::move(objects)).image;
    };
    const RasterImage whole = pours(false), inRuns = pours(true);
    ASSERT_TRUE(whole.pixels && inRuns.pixels);
    EXPECT_TRUE(*whole.pixels == *inRuns.pixels);
}

TEST(SoftwareRendererPrimitives, ManyShapesAcrossTheImageAllArrive) {
    // Far more shapes than are painted at once, both spread over the board and piled on one spot.
    std::vector<PCBObject> objects;
    // A fan of tracks around (5, 1.5): every direction is covered by a few of them.
    for (int i = 0; i < 3000; ++i) {
        const double a = 2 * M_PI * i / 3000;
        objects.push_back(track({5, 1.5}, {5 + 0.5 * std::cos(a), 1.5 + 0.5 * std::sin(a)}, 0.05));
    }
    for (int ix = 1; ix < 40; ++ix)
        for (int iy = 1; iy < 20; ++iy) {
            const Vec2 at{ix * 0.25, iy * 0.25};
            objects.push_back((ix + iy) % 2 ? pad(at, ApertureShape::circle(0.08)) : pad(at, ApertureShape::rectangle(0.08, 0.08)));
        }
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()), std::move(objects));
    for (int ix = 1; ix < 40; ++ix)
        for (int iy = 1; iy < 20; ++iy) {
            EXPECT_TRUE(isTop(img, ix * 0.25, iy * 0.25)) << ix << "," << iy;
            const Vec2 between{ix * 0.25 + 0.125, iy * 0.25 + 0.125};
            if (std::hypot(between.x - 5, between.y - 1.5) > 0.6) {
                EXPECT_TRUE(isBackground(img, between.x, between.y)) << ix << "," << iy;
            }
        }
    for (int i = 0; i < 16; ++i) {
        const double a = 2 * M_PI * i / 16;
        EXPECT_TRUE(isTop(img, 5 + 0.4 * std::cos(a), 1.5 + 0.4 * std::sin(a))) << i;
    }
}

TEST(SoftwareRendererPrimitives, ClearShapesCutOnlyWhatCameBefore) {
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {track({2, 2}, {8, 2}, 0.3), track({2, 3}, {8, 3}, 0.3),
                                  pad({5, 2.5}, ApertureShape::circle(2), Polarity::clear), track({5, 1}, {5, 4}, 0.3)});
    expectProbes(img, {{4.7, 2, false}, {5.3, 3, false}, {5, 2, true}, {5, 2.5, true}, {3, 2, true}, {7, 3, true}});
}

TEST(SoftwareRendererColors, TranslucentShapesDarkenWhereTheyOverlap) {
    // Silkscreen is 90 % opaque: once painted it shows a tenth of the background, twice a hundredth.
    const auto img = renderLayer(LayerType::silkscreen(CopperLayerID::top()),
                                 {pad({4, 2.5}, ApertureShape::circle(1.5)), pad({5, 2.5}, ApertureShape::circle(1.5)),
                                  track({3, 1}, {7, 1}, 0.4), track({3, 1}, {7, 1}, 0.4)});
    EXPECT_TRUE(near(img.rgba(kPx.x(3.6), kPx.y(2.5)), 220, 220, 221));
    EXPECT_TRUE(near(img.rgba(kPx.x(4.5), kPx.y(2.5)), 240, 240, 240));
    EXPECT_TRUE(near(img.rgba(kPx.x(5.4), kPx.y(2.5)), 220, 220, 221));
    EXPECT_TRUE(near(img.rgba(kPx.x(5), kPx.y(1)), 240, 240, 240));
}

TEST(SoftwareRendererColors, PicturesSurviveTheirPNG) {
    // Rows enough to be compressed in several pieces; opaque, clear and half-covered pixels.
    RasterImage img{301, 203, nullptr};
    auto pixels = std::make_shared<std::vector<std::uint32_t>>(301u * 203u);
    for (std::size_t i = 0; i < pixels->size(); ++i) {
        const std::uint32_t a = i % 7 == 0 ? 0 : i % 5 == 0 ? 128 : 255;
        const std::uint32_t c = (i * 2654435761u >> 8) & 0xFF;
        (*pixels)[i] = a << 24 | (c * a / 255) << 16 | ((255 - c) * a / 255) << 8 | ((i / 301) * a / 255 & 0xFF);
    }
    img.pixels = pixels;
    const auto png = img.pngData();
    ASSERT_TRUE(png);
    struct Reader {
        const std::vector<std::uint8_t>& bytes;
        std::size_t at = 0;
    } reader{*png};
    cairo_surface_t* decoded = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto& r = *static_cast<Reader*>(closure);
            if (r.at + length > r.bytes.size()) return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r.bytes.data() + r.at, length);
            r.at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    ASSERT_EQ(cairo_surface_status(decoded), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(decoded), 301);
    ASSERT_EQ(cairo_image_surface_get_height(decoded), 203);
    int worst = 0;
    const unsigned char* data = cairo_image_surface_get_data(decoded);
    const int stride = cairo_image_surface_get_stride(decoded);
    for (int y = 0; y < 203; ++y)
        for (int x = 0; x < 301; ++x) {
            std::uint32_t got;
            std::memcpy(&got, data + y * stride + x * 4, 4);
            const std::uint32_t want = img.pixel(x, y);
            for (int shift = 0; shift < 32; shift += 8)
                worst = std::max(worst, std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)));
        }
    EXPECT_LE(worst, 1);  // premultiplied values round once each way
    cairo_surface_destroy(decoded);
}
