#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "analysis/CGRenderer.hpp"
#include "analysis/LayerDrawOrder.hpp"

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

TEST(CGRendererGeometry, FitScaleMarginsAndUpright) {
    PCBPackage pkg;
    pkg.files.push_back(outline());
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()),
                                   {object(PCBObjectKind::flash({2, 4}), ApertureShape::circle(1.0))}));
    CGRenderer r;
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

TEST(CGRendererGeometry, RefusesEmptyBoardsAndTinySizes) {
    PCBPackage empty;
    CGRenderer r;
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

TEST(CGRendererLayers, TheSideFacingAwayIsDrawnFirst) {
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

TEST(CGRendererLayers, TopCopperCoversBottomCopperUnlessFlippedAndVisibilityFilters) {
    PCBPackage pkg;
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()),
                                   {object(PCBObjectKind::flash({5, 2.5}), ApertureShape::rectangle(2, 2))}));
    pkg.files.push_back(gerberFile("bottom.gbl", LayerType::copper(CopperLayerID::bottom()),
                                   {object(PCBObjectKind::flash({5, 2.5}), ApertureShape::rectangle(2, 2))}));
    pkg.files.push_back(outline());
    CGRenderer r;
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

TEST(CGRendererLayers, ClearPolarityCutsOnlyItsOwnLayer) {
    PCBPackage pkg;
    pkg.files.push_back(outline());
    std::vector<Contour> plane{{{0, 0}, {10, 0}, {10, 5}, {0, 5}}};
    pkg.files.push_back(gerberFile(
        "bottom.gbl", LayerType::copper(CopperLayerID::bottom()),
        {object(PCBObjectKind::region(plane), std::nullopt),
         object(PCBObjectKind::flash({3, 2.5}), ApertureShape::circle(1.5), Polarity::clear)}));
    pkg.files.push_back(gerberFile("top.gtl", LayerType::copper(CopperLayerID::top()),
                                   {object(PCBObjectKind::flash({3, 2.5}), ApertureShape::circle(0.5))}));
    CGRenderer r;
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

TEST(CGRendererPrimitives, DrillsMacrosAndRegionHoles) {
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

    CGRenderer r;
    auto img = r.render(pkg, SizePx{1200, 900}, std::nullopt, false);
    ASSERT_TRUE(img);
    // Region holes are filled like any contour; the drill on top is the hole colour.
    EXPECT_TRUE(near(img->rgba(kPx.x(1.5), kPx.y(1.5)), 242, 158, 46));
    EXPECT_TRUE(near(img->rgba(kPx.x(2.5), kPx.y(2.5)), 5, 5, 8));
    EXPECT_TRUE(near(img->rgba(kPx.x(6.5), kPx.y(2.0)), 242, 158, 46));
    EXPECT_TRUE(near(img->rgba(kPx.x(7.5), kPx.y(3.0)), 20, 23, 28));
}

TEST(CGRendererColors, DefaultTable) {
    EXPECT_EQ(CGRenderer::defaultColor(LayerType::copper(CopperLayerID::inner(3))), (RGBAColor{0.8, 0.42, 0.95, 1.0}));
    EXPECT_EQ(CGRenderer::defaultColor(LayerType::solderMask(CopperLayerID::bottom())), (RGBAColor{0.1, 0.65, 0.35, 0.55}));
    EXPECT_EQ(CGRenderer::defaultColor(LayerType::unknown()), (RGBAColor{0.6, 0.6, 0.6, 1.0}));
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
    CGRenderer r;
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

TEST(CGRendererPrimitives, OverlappingShapesOfOneColourUniteWithoutHoles) {
    // A rectangle, a disc, an ellipse and a track over one another: the overlaps must not cancel out.
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {pad({3, 2.5}, ApertureShape::rectangle(2, 1)), pad({3.8, 2.5}, ApertureShape::circle(1)),
                                  track({2, 2.5}, {4.5, 2.5}, 0.3), pad({3.5, 2.5}, ApertureShape::obround(1, 2))});
    expectProbes(img, {{3.8, 2.5, true}, {3.5, 2.5, true}, {3.9, 2.9, true}, {3.5, 3.2, true}, {4.4, 2.5, true},
                       {2.5, 2.8, true}, {4.0, 3.4, false}});
}

TEST(CGRendererPrimitives, RoundShapesKeepTheirSize) {
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {track({1, 2.5}, {9, 2.5}, 0.2), track({2, 4}, {2, 4}, 0.5),
                                  pad({5, 1}, ApertureShape::obround(2, 1)), pad({8, 4}, ApertureShape::circle(0.8))});
    // The long track is whole across the image and ends in half-discs of its width.
    for (double x = 1.0; x <= 9.0; x += 0.05) EXPECT_TRUE(isTop(img, x, 2.5)) << x;
    expectProbes(img, {{9.06, 2.5, true}, {9.15, 2.5, false}, {5, 2.65, false}});
    // A track of no length is a disc of its width.
    expectProbes(img, {{2.2, 4, true}, {2.16, 4.16, true}, {2.3, 4, false}, {2.2, 4.2, false}});
    // The obround pad is the ellipse inscribed in its box: its ends reach out, its corners stay empty.
    expectProbes(img, {{5.9, 1, true}, {5, 1.45, true}, {5.9, 1.45, false}});
    expectProbes(img, {{8.37, 4, true}, {8.45, 4, false}});
}

TEST(CGRendererPrimitives, ManyShapesAcrossTheImageAllArrive) {
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

TEST(CGRendererPrimitives, ClearShapesCutOnlyWhatCameBefore) {
    const auto img = renderLayer(LayerType::copper(CopperLayerID::top()),
                                 {track({2, 2}, {8, 2}, 0.3), track({2, 3}, {8, 3}, 0.3),
                                  pad({5, 2.5}, ApertureShape::circle(2), Polarity::clear), track({5, 1}, {5, 4}, 0.3)});
    expectProbes(img, {{4.7, 2, false}, {5.3, 3, false}, {5, 2, true}, {5, 2.5, true}, {3, 2, true}, {7, 3, true}});
}

TEST(CGRendererColors, TranslucentShapesDarkenWhereTheyOverlap) {
    // Silkscreen is 90 % opaque: once painted it shows a tenth of the background, twice a hundredth.
    const auto img = renderLayer(LayerType::silkscreen(CopperLayerID::top()),
                                 {pad({4, 2.5}, ApertureShape::circle(1.5)), pad({5, 2.5}, ApertureShape::circle(1.5)),
                                  track({3, 1}, {7, 1}, 0.4), track({3, 1}, {7, 1}, 0.4)});
    EXPECT_TRUE(near(img.rgba(kPx.x(3.6), kPx.y(2.5)), 220, 220, 221));
    EXPECT_TRUE(near(img.rgba(kPx.x(4.5), kPx.y(2.5)), 240, 240, 240));
    EXPECT_TRUE(near(img.rgba(kPx.x(5.4), kPx.y(2.5)), 220, 220, 221));
    EXPECT_TRUE(near(img.rgba(kPx.x(5), kPx.y(1)), 240, 240, 240));
}
