#include <gtest/gtest.h>

#include "model/Model.hpp"

using namespace corvane;

namespace {
GerberDocument gerberWithBox(BBox box, std::optional<std::string> polarity = std::nullopt) {
    GerberDocument g;
    g.format = SourceFormat::gerberX2;
    g.bbox = box;
    g.filePolarity = std::move(polarity);
    return g;
}

DrillDocument drillWithBox(BBox box) {
    DrillDocument d;
    d.bbox = box;
    return d;
}

PackageFile file(LayerType type, std::optional<GerberDocument> gerber = std::nullopt,
                 std::optional<DrillDocument> drill = std::nullopt) {
    PackageFile f;
    f.fileName = type.displayName();
    f.layerType = std::move(type);
    f.gerber = std::move(gerber);
    f.drill = std::move(drill);
    return f;
}

// A board edge of four 0.2 mm strokes.
GerberDocument rectangleOutline(BBox b) {
    GerberDocument g;
    g.format = SourceFormat::gerberX2;
    const Vec2 corners[] = {{b.minX, b.minY}, {b.maxX, b.minY}, {b.maxX, b.maxY}, {b.minX, b.maxY}};
    for (int k = 0; k < 4; ++k) {
        PCBObject o;
        o.kind = PCBObjectKind::stroke(corners[k], corners[(k + 1) % 4]);
        o.bbox = BBox{std::min(corners[k].x, corners[(k + 1) % 4].x) - 0.1, std::min(corners[k].y, corners[(k + 1) % 4].y) - 0.1,
                      std::max(corners[k].x, corners[(k + 1) % 4].x) + 0.1, std::max(corners[k].y, corners[(k + 1) % 4].y) + 0.1};
        g.objects.push_back(o);
        g.bbox.include(o.bbox);
    }
    return g;
}

PCBPackage package(std::vector<PackageFile> files) {
    PCBPackage p;
    p.name = "board";
    p.files = std::move(files);
    return p;
}
} // namespace

TEST(LayerNames, DisplayNamesAndMatchKeys) {
    EXPECT_EQ(LayerType::copper(CopperLayerID::top()).displayName(), "Top Copper");
    EXPECT_EQ(LayerType::copper(CopperLayerID::top()).matchKey(), "copper:Top");
    EXPECT_EQ(LayerType::solderMask(CopperLayerID::inner(3)).displayName(), "Inner 3 Solder Mask");
    EXPECT_EQ(LayerType::solderMask(CopperLayerID::inner(3)).matchKey(), "mask:Inner 3");
    EXPECT_EQ(LayerType::silkscreen(CopperLayerID::bottom()).displayName(), "Bottom Silkscreen");
    EXPECT_EQ(LayerType::silkscreen(CopperLayerID::bottom()).matchKey(), "silk:Bottom");
    EXPECT_EQ(LayerType::paste(CopperLayerID::inner(-2)).matchKey(), "paste:Inner -2");
    EXPECT_EQ(LayerType::paste(CopperLayerID::top()).displayName(), "Top Paste");
    EXPECT_EQ(LayerType::outline().displayName(), "Board Outline");
    EXPECT_EQ(LayerType::outline().matchKey(), "outline");
    EXPECT_EQ(LayerType::drill().displayName(), "Drill");
    EXPECT_EQ(LayerType::unknown().matchKey(), "unknown");
    EXPECT_NE(LayerType::copper(CopperLayerID::inner(1)), LayerType::copper(CopperLayerID::inner(2)));
    EXPECT_NE(LayerType::copper(CopperLayerID::top()), LayerType::paste(CopperLayerID::top()));
    EXPECT_EQ(CopperLayerID::inner(7).sortOrder(), 7);
    EXPECT_EQ(CopperLayerID::bottom().sortOrder(), 1000);
    EXPECT_FALSE(DetectionConfidence::fromRawValue("High").has_value());
    EXPECT_EQ(DetectionConfidence::fromRawValue("manual"), DetectionConfidence(DetectionConfidence::manual));
}

TEST(BoardBox, OutlineFilesAloneDefineTheBoard) {
    const auto p = package({file(LayerType::copper(CopperLayerID::top()), gerberWithBox({-50, -50, 50, 50})),
                            file(LayerType::outline(), rectangleOutline({0, 0, 10, 10})),
                            file(LayerType::outline(), rectangleOutline({5, 5, 20, 8})),
                            file(LayerType::drill(), std::nullopt, drillWithBox({-100, -100, 100, 100}))});
    // The edge is the centre of the outline's strokes, not their aperture's reach.
    EXPECT_EQ(p.boardBBox(), (BBox{0, 0, 20, 10}));
    EXPECT_EQ(p.outlineBBox(), p.boardBBox());

    // A mechanical layer's notes and frame around the board: the edge the importer found is the board.
    auto drawing = file(LayerType::outline(), rectangleOutline({-200, -100, 300, 200}));
    drawing.boardEdgeBox = BBox{1, 2, 9, 8};
    EXPECT_EQ(package({drawing}).boardBBox(), (BBox{1, 2, 9, 8}));
    // A round board: an arc's whole sweep, a full turn when its ends meet.
    GerberDocument round;
    PCBObject circle;
    circle.kind = PCBObjectKind::arcStroke({25, 0}, {25, 0}, {0, 0}, false);
    round.objects = {circle};
    round.bbox = BBox{-25.1, -25.1, 25.1, 25.1};
    EXPECT_EQ(package({file(LayerType::outline(), round)}).boardBBox(), (BBox{-25, -25, 25, 25}));
}

TEST(BoardBox, WithoutAnOutlineTheCopperMasksAndHoles) {
    // Legends, pastes and drawings reach beyond the board (titles, frames, drawings of the holes); every drill
    // document counts, whatever its file's role, an empty one adding nothing.
    const auto p = package({file(LayerType::outline(), gerberWithBox(BBox::empty())),
                            file(LayerType::outline()),
                            file(LayerType::copper(CopperLayerID::top()), gerberWithBox({0, 0, 10, 10})),
                            file(LayerType::solderMask(CopperLayerID::bottom()), gerberWithBox({-1, 0, 10, 11})),
                            file(LayerType::silkscreen(CopperLayerID::top()), gerberWithBox({-50, -50, 60, 60})),
                            file(LayerType::paste(CopperLayerID::top()), gerberWithBox({-40, 0, 1, 1})),
                            file(LayerType::unknown(), gerberWithBox({500, 500, 600, 600})),
                            file(LayerType::drill(), std::nullopt, drillWithBox(BBox::empty())),
                            file(LayerType::drill(), std::nullopt, drillWithBox({-2, 2, 3, 4})),
                            file(LayerType::unknown(), std::nullopt, drillWithBox({5, -3, 6, 0}))});
    EXPECT_EQ(p.boardBBox(), (BBox{-2, -3, 10, 11}));
    EXPECT_FALSE(p.outlineBBox().isValid());
}

TEST(BoardBox, LayersOfOtherRolesOnlyWhenNothingElseDraws) {
    EXPECT_EQ(package({}).boardBBox(), BBox::empty());
    // Layers all of unknown role still make a board: the box of all of them.
    EXPECT_EQ(package({file(LayerType::unknown(), gerberWithBox({0, 0, 1, 1})),
                       file(LayerType::silkscreen(CopperLayerID::top()), gerberWithBox({4, -2, 5, 0})),
                       file(LayerType::outline(), gerberWithBox(BBox::empty()))})
                  .boardBBox(),
              (BBox{0, -2, 5, 1}));
}

TEST(CopperStack, StableOrderByLayerNumberKeepingDuplicates) {
    const auto p = package({file(LayerType::copper(CopperLayerID::bottom())),
                            file(LayerType::copper(CopperLayerID::top())),
                            file(LayerType::solderMask(CopperLayerID::top())),
                            file(LayerType::copper(CopperLayerID::inner(2))),
                            file(LayerType::copper(CopperLayerID::inner(1))),
                            file(LayerType::copper(CopperLayerID::top()))});
    const std::vector<CopperLayerID> expected{CopperLayerID::top(), CopperLayerID::top(), CopperLayerID::inner(1),
                                              CopperLayerID::inner(2), CopperLayerID::bottom()};
    EXPECT_EQ(p.copperLayerIDs(), expected);
    EXPECT_TRUE(package({}).copperLayerIDs().empty());

    // inner(1000) sorts level with the bottom: file order decides.
    const auto level = package({file(LayerType::copper(CopperLayerID::bottom())),
                                file(LayerType::copper(CopperLayerID::inner(1000)))});
    EXPECT_EQ(level.copperLayerIDs(), (std::vector<CopperLayerID>{CopperLayerID::bottom(), CopperLayerID::inner(1000)}));
}

TEST(PackageFiles, FilesOfATypeAndNegativePolarity) {
    const auto p = package({file(LayerType::copper(CopperLayerID::top())), file(LayerType::outline()),
                            file(LayerType::copper(CopperLayerID::bottom())), file(LayerType::outline())});
    EXPECT_EQ(p.filesOf(LayerType::outline()).size(), 2u);
    EXPECT_EQ(p.filesOf(LayerType::copper(CopperLayerID::bottom())).size(), 1u);
    EXPECT_TRUE(p.filesOf(LayerType::drill()).empty());

    EXPECT_TRUE(file(LayerType::outline(), gerberWithBox({}, "NeGaTiVe")).filePolarityNegative());
    EXPECT_TRUE(file(LayerType::outline(), gerberWithBox({}, "negative")).filePolarityNegative());
    EXPECT_FALSE(file(LayerType::outline(), gerberWithBox({}, "Negative ")).filePolarityNegative());
    EXPECT_FALSE(file(LayerType::outline(), gerberWithBox({}, "Positive")).filePolarityNegative());
    EXPECT_FALSE(file(LayerType::outline(), gerberWithBox({})).filePolarityNegative());
    EXPECT_FALSE(file(LayerType::outline()).filePolarityNegative());
}

TEST(PackageFiles, ObjectsPutGerberFirstThenDrills) {
    auto g = gerberWithBox({0, 0, 1, 1});
    g.objects.push_back(PCBObject(PCBObjectKind::flash({1, 1}), 10, ApertureShape::circle(1), Polarity::clear,
                                  std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0));
    DrillDocument d;
    d.hits = {DrillHit{{3, 3}, 1, Plating::pth}};
    const auto objects = file(LayerType::unknown(), g, d).objects();
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0], g.objects[0]);
    EXPECT_NE(objects[1].kind.as<PCBObjectKind::Drill>(), nullptr);
    EXPECT_EQ(objects[1].index, 0);
    EXPECT_TRUE(file(LayerType::unknown()).objects().empty());
}

TEST(PackageSharing, CopiesShareDocumentsUntilOneChanges) {
    GerberDocument g = gerberWithBox(BBox{0, 0, 1, 1});
    g.objects.push_back(PCBObject(PCBObjectKind::flash({1, 1}), 10, ApertureShape::circle(1), Polarity::dark,
                                  "GND", std::nullopt, std::nullopt, std::nullopt, 0));
    const PCBPackage a = package({file(LayerType::copper(CopperLayerID::top()), g)});
    PCBPackage b = a;
    EXPECT_TRUE(b.files[0].gerber.sameAs(a.files[0].gerber));  // a copy of a package copies no primitive
    const PCBPackage& readOnly = b;
    EXPECT_EQ(readOnly.files[0].gerber->objects.size(), 1u);
    EXPECT_TRUE(b.files[0].gerber.sameAs(a.files[0].gerber));  // nor does reading it

    b.files[0].gerber->objects.clear();  // changing the copy gives it its own document
    EXPECT_FALSE(b.files[0].gerber.sameAs(a.files[0].gerber));
    EXPECT_EQ(a.files[0].gerber->objects.size(), 1u);
    EXPECT_TRUE(b.files[0].gerber->objects.empty());
    b.files[0].gerber.reset();
    EXPECT_FALSE(b.files[0].gerber);
    EXPECT_TRUE(a.files[0].gerber);
}
