#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "import/KiCadPCBParser.hpp"

using namespace corvane;

namespace {

PCBPackage parseBoard(const std::string& text, const std::string& fileName = "demo.kicad_pcb") {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return KiCadPCBParser().parse(fileName, std::span<const std::uint8_t>(bytes, text.size()));
}

std::string errorText(const std::string& text) {
    try {
        parseBoard(text);
    } catch (const KiCadParseError& e) {
        return e.what();
    }
    return "no error";
}

const PackageFile* fileNamed(const PCBPackage& p, const std::string& name) {
    for (const auto& f : p.files)
        if (f.fileName == name) return &f;
    return nullptr;
}

const std::vector<PCBObject>& objectsOf(const PCBPackage& p, const std::string& layer) {
    const PackageFile* f = fileNamed(p, "kicad-" + layer + ".gbr");
    if (!f || !f->gerber) throw std::runtime_error("no layer " + layer);
    return f->gerber->objects;
}

std::vector<std::string> fileNames(const PCBPackage& p) {
    std::vector<std::string> out;
    for (const auto& f : p.files) out.push_back(f.fileName);
    return out;
}

Vec2 flashAt(const PCBObject& o) {
    const auto* f = o.kind.as<PCBObjectKind::Flash>();
    if (!f) throw std::runtime_error("not a flash");
    return f->at;
}

const Contour& regionContour(const PCBObject& o) {
    const auto* r = o.kind.as<PCBObjectKind::Region>();
    if (!r || r->contours.size() != 1) throw std::runtime_error("not a one-contour region");
    return r->contours[0];
}

// Contour k of a pad flashed with its own outline, on the board.
Contour padContour(const PCBObject& o, std::size_t k = 0) {
    const auto* m = o.apertureShape ? o.apertureShape->as<ApertureShape::Macro>() : nullptr;
    if (!m || !m->outline || m->outline->size() <= k) throw std::runtime_error("not a pad outline");
    Contour c = (*m->outline)[k];
    for (Vec2& p : c) p = p + flashAt(o);
    return c;
}

BBox boxOf(const Contour& c) {
    BBox b = BBox::empty();
    for (const Vec2& p : c) b.include(p);
    return b;
}

double signedArea(const Contour& c) {
    double a = 0;
    for (std::size_t i = 0; i < c.size(); ++i) {
        const Vec2& p = c[i];
        const Vec2& q = c[(i + 1) % c.size()];
        a += p.x * q.y - q.x * p.y;
    }
    return a / 2;
}

Vec2 mean(const Contour& c) {
    Vec2 m;
    for (const auto& p : c) m = m + p;
    return m * (1.0 / static_cast<double>(c.size()));
}

void expectNear(const Vec2& a, const Vec2& b, double tol = 1e-9) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
}

double distancePointSegment(const Vec2& p, const Vec2& a, const Vec2& b) {
    const Vec2 ab = b - a, ap = p - a;
    const double len2 = ab.x * ab.x + ab.y * ab.y;
    double t = len2 > 0 ? (ap.x * ab.x + ap.y * ab.y) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    return p.distance(a + ab * t);
}

} // namespace

TEST(KiCadPCBParserTest, ThroughHolePadMakesBothCopperSidesAndADrill) {
    const auto p = parseBoard(R"((kicad_pcb (version 20221018)
      (footprint "Conn" (layer "F.Cu") (at 10 20)
        (property "Reference" "J1")
        (pad "1" thru_hole circle (at 1 2) (size 1.7 1.7) (drill 1.0) (layers "*.Cu" "*.Mask") (net 1 "GND")))))");
    EXPECT_EQ(fileNames(p), (std::vector<std::string>{"kicad-F.Cu.gbr", "kicad-vias.drl", "kicad-B.Cu.gbr"}));
    EXPECT_EQ(p.name, "demo");
    EXPECT_EQ(p.sourceFileName, "demo.kicad_pcb");
    EXPECT_EQ(p.warnings, (std::vector<std::string>{
                              "Imported from KiCad PCB \xE2\x80\x94 component/net metadata comes from footprints.",
                              "Pad openings on mask and paste layers are not read (1 pad)."}));
    const PackageFile& top = p.files[0];
    EXPECT_EQ(top.relativePath, "demo.kicad_pcb#F.Cu");
    EXPECT_EQ(top.layerType, LayerType::copper(CopperLayerID::top()));
    EXPECT_EQ(top.confidence, DetectionConfidence::high);
    EXPECT_EQ(top.format, SourceFormat::unknown);
    EXPECT_TRUE(top.dataHash.empty());
    ASSERT_EQ(top.gerber->objects.size(), 1u);
    const PCBObject& pad = top.gerber->objects[0];
    EXPECT_EQ(flashAt(pad), (Vec2{11, -22}));
    EXPECT_EQ(pad.apertureShape, ApertureShape::circle(1.7));
    EXPECT_EQ(pad.net(), "GND");
    EXPECT_EQ(pad.component(), "J1");
    EXPECT_EQ(pad.apertureFunction(), "Pad");
    EXPECT_FALSE(pad.pin().has_value());
    EXPECT_EQ(top.gerber->bbox, (BBox{10.15, -22.85, 11.85, -21.15}));
    EXPECT_EQ(p.files[2].layerType, LayerType::copper(CopperLayerID::bottom()));

    const PackageFile& drl = p.files[1];
    EXPECT_EQ(drl.relativePath, "demo.kicad_pcb");
    EXPECT_EQ(drl.format, SourceFormat::excellon);
    EXPECT_EQ(drl.layerType, LayerType::drill());
    ASSERT_TRUE(drl.drill.has_value());
    EXPECT_EQ(drl.drill->fileName, "kicad-vias.drl");
    ASSERT_EQ(drl.drill->tools.size(), 1u);
    EXPECT_EQ(drl.drill->tools.at(11), (DrillTool{11, 1.0, Plating::pth}));
    EXPECT_EQ(drl.drill->hits, (std::vector<DrillHit>{{Vec2{11, -22}, 11, Plating::pth}}));
    EXPECT_EQ(drl.drill->bbox, (BBox{11, -22, 11, -22}));
}

TEST(KiCadPCBParserTest, RotatedFootprintsPlaceAndTurnPads) {
    const auto p = parseBoard(R"((kicad_pcb
      (footprint "R" (layer "F.Cu") (at 150.4 96.75 -90)
        (fp_text reference "R1" (at 0 0))
        (pad "1" smd roundrect (at -0.45 0 -90) (size 0.6 0.5) (layers "F.Cu" "F.Paste" "F.Mask"))
        (pad "2" smd roundrect (at 0.45 0 -90) (size 0.6 0.5) (layers "F.Cu" "F.Paste" "F.Mask")))
      (footprint "Q" (layer "B.Cu") (at 10 20 90)
        (pad "1" smd rect (at 1 0 90) (size 2 1) (layers "B.Cu"))
        (pad "2" smd oval (at -1 0 270) (size 2 1) (layers "B.Cu"))
        (pad "3" smd oval (at 0 0 180) (size 2 1) (layers "B.Cu")))
      (footprint "U" (layer "F.Cu") (at 10 20 30)
        (pad "1" smd rect (at 1 0 30) (size 2 1) (layers "F.Cu"))
        (pad "2" smd oval (at -1 0 30) (size 2 1) (layers "F.Cu"))
        (pad "3" smd oval (at 0 0 30) (size 1 3) (layers "F.Cu"))
        (pad "4" smd roundrect (at 0 -3 30) (size 2 1) (layers "F.Cu") (roundrect_rratio 0.25)
          (chamfer_ratio 0.3) (chamfer top_left bottom_right)))))");

    // Rotation as KiCad applies it in its y-down frame, then y negated.
    const auto& top = objectsOf(p, "F.Cu");
    ASSERT_EQ(top.size(), 6u);
    expectNear(flashAt(top[0]), Vec2{150.4, -96.30});
    expectNear(flashAt(top[1]), Vec2{150.4, -97.20});
    // Rounded rectangles keep their corners: radius a quarter of the short side by default.
    const Contour rounded = padContour(top[0]);
    const BBox roundedBox = boxOf(rounded);
    EXPECT_NEAR(roundedBox.width(), 0.5, 1e-9);
    EXPECT_NEAR(roundedBox.height(), 0.6, 1e-9);
    const double r = 0.125;
    EXPECT_NEAR(std::fabs(signedArea(rounded)), 0.3 - (4 - M_PI) * r * r, 1e-4);
    EXPECT_EQ(top[0].component(), "R1");

    const auto& bottom = objectsOf(p, "B.Cu");
    ASSERT_EQ(bottom.size(), 3u);
    expectNear(flashAt(bottom[0]), Vec2{10, -19});
    EXPECT_EQ(bottom[0].apertureShape, ApertureShape::rectangle(1, 2));
    expectNear(flashAt(bottom[1]), Vec2{10, -21});
    EXPECT_EQ(bottom[1].apertureShape, ApertureShape::obround(1, 2));
    EXPECT_EQ(bottom[2].apertureShape, ApertureShape::obround(2, 1));
    EXPECT_FALSE(bottom[0].component().has_value());

    // At 30 degrees the pads become their turned outlines.
    const double c30 = std::sqrt(3.0) / 2;
    const Vec2 rectCentre{10 + c30, -19.5};
    const Contour rect = padContour(top[2]);
    ASSERT_EQ(rect.size(), 4u);
    EXPECT_NEAR(std::fabs(signedArea(rect)), 2.0, 1e-9);
    expectNear(mean(rect), rectCentre);
    // The long side runs 30 degrees counter-clockwise from +x on the board.
    const Vec2 side = rect[1] - rect[0];
    EXPECT_NEAR(side.length(), 2.0, 1e-9);
    EXPECT_NEAR(std::atan2(side.y, side.x) * 180 / M_PI, 30.0, 1e-9);
    ASSERT_TRUE(top[2].apertureShape);
    EXPECT_EQ(top[2].apertureFunction(), "Pad");
    EXPECT_NEAR(top[2].bbox.center().x, rectCentre.x, 1e-9);

    // An odd-angle oval is a capsule: every point lies r from its turned axis, the ends w/2 out.
    for (int k : {3, 4}) {
        const bool wide = k == 3;
        const Vec2 centre = wide ? Vec2{10 - c30, -20.5} : Vec2{10, -20};
        const double w = wide ? 2 : 1, h = wide ? 1 : 3;
        const double r = std::min(w, h) / 2, half = (std::max(w, h) - std::min(w, h)) / 2;
        const double axisAngle = (wide ? 30.0 : 120.0) * M_PI / 180;
        const Vec2 axis{std::cos(axisAngle) * half, std::sin(axisAngle) * half};
        const Contour cap = padContour(top[static_cast<std::size_t>(k)]);
        ASSERT_GT(cap.size(), 20u);
        double furthest = 0;
        for (const auto& q : cap) {
            EXPECT_NEAR(distancePointSegment(q, centre + axis, centre - axis), r, 1e-9);
            furthest = std::max(furthest, q.distance(centre));
        }
        EXPECT_NEAR(furthest, std::max(w, h) / 2, 1e-9);
        const double trueArea = 4 * half * r + M_PI * r * r;
        EXPECT_NEAR(std::fabs(signedArea(cap)), trueArea, trueArea * 0.01);
    }

    // Chamfered corners (KiCad's top left and bottom right, y down) are cut 0.3 of the short side
    // back along both sides; the others keep their rounding.
    const Contour chamfered = padContour(top[5]);
    const double corner = 0.25, cut = 0.3;
    EXPECT_NEAR(std::fabs(signedArea(chamfered)), 2 - cut * cut - (4 - M_PI) / 2 * corner * corner, 1e-4);
    const Vec2 centre{10 - 1.5, -(20 - 3 * c30)};
    auto placed = [&](double x, double y) { return centre + Vec2{x * c30 + y * 0.5, -(-x * 0.5 + y * c30)}; };
    for (const Vec2& cutEnd : {placed(-1 + cut, -0.5), placed(-1, -0.5 + cut), placed(1 - cut, 0.5), placed(1, 0.5 - cut)}) {
        double nearest = 1;
        for (const Vec2& q : chamfered) nearest = std::min(nearest, q.distance(cutEnd));
        EXPECT_LT(nearest, 1e-9);
    }
}

TEST(KiCadPCBParserTest, ViasAndPadsShedUnusedRings) {
    const auto p = parseBoard(R"((kicad_pcb
      (layers (0 "F.Cu" signal) (1 "In1.Cu" signal) (2 "In2.Cu" signal) (31 "B.Cu" signal))
      (net 0 "") (net 1 "A") (net 2 "B")
      (footprint "J" (at 60 0)
        (fp_text reference "J1" (at 0 0))
        (pad "1" thru_hole circle (at 0 0) (size 1 1) (drill 0.5) (layers "*.Cu") (remove_unused_layers) (net 1))
        (pad "2" thru_hole circle (at 3 0) (size 1 1) (drill 0.5) (layers "*.Cu") (net 2))
        (pad "3" smd rect (at 6 0) (size 1 1) (layers "F.Cu"))
        (pad "3" smd rect (at 8 0) (size 1 1) (layers "F.Cu"))
        (pad "4" smd rect (at 10 0) (size 1 1) (layers "F.Cu")))
      (segment (start 0 0) (end 5 0) (width 0.2) (layer "F.Cu") (net 1))
      (segment (start 0 0) (end 0 5) (width 0.2) (layer "In1.Cu") (net 1))
      (segment (start 10 0) (end 15 0) (width 0.2) (layer "In2.Cu") (net 2))
      (segment (start 20 0) (end 25 0) (width 0.2) (layer "B.Cu") (net 1))
      (segment (start 60 0) (end 60 5) (width 0.2) (layer "In2.Cu") (net 1))
      (zone (net 1) (net_name "A") (layers "In2.Cu")
        (filled_polygon (layer "In2.Cu") (pts (xy 29 -1) (xy 31 -1) (xy 31 1) (xy 29 1))))
      (via (at 0 0) (size 0.6) (drill 0.3) (layers "F.Cu" "B.Cu") (remove_unused_layers) (keep_end_layers) (net 1))
      (via (at 10 0) (size 0.6) (drill 0.3) (layers "F.Cu" "B.Cu") (remove_unused_layers) (net 1))
      (via (at 30 0) (size 0.6) (drill 0.3) (layers "F.Cu" "B.Cu") (remove_unused_layers) (keep_end_layers) (net 1))
      (via blind (at 40 0) (size 0.6) (drill 0.3) (layers "F.Cu" "In1.Cu") (net 1))
      (via (at 45 0) (size 0.6) (drill 0.3) (layers "In1.Cu" "In2.Cu") (net 1))
      (via (at 50 0) (size 0.6) (drill 0.3) (layers "F.Cu" "B.Cu") (remove_unused_layers no) (net 1))
      (segment (start 78 0.3) (end 82 0.3) (width 0.1) (layer "In1.Cu") (net 1))
      (via (at 80 0) (size 1) (drill 0.4) (layers "F.Cu" "B.Cu") (remove_unused_layers) (net 1))
      (segment (start 83 0.2) (end 87 0.2) (width 0.1) (layer "In1.Cu") (net 1))
      (via (at 85 0) (size 1) (drill 0.4) (layers "F.Cu" "B.Cu") (remove_unused_layers) (net 1))
      (zone (net 1) (net_name "A") (layers "In2.Cu")
        (filled_polygon (layer "In2.Cu") (pts (xy 90.45 -2) (xy 92 -2) (xy 92 2) (xy 90.45 2))))
      (via (at 90 0) (size 1) (drill 0.4) (layers "F.Cu" "B.Cu") (remove_unused_layers) (net 1))
      (footprint "K" (at 100 0)
        (pad "1" thru_hole circle (at 0 0) (size 2 2) (drill 0.8) (layers "*.Cu") (remove_unused_layers) (net 1))
        (pad "2" thru_hole circle (at 5 0) (size 2 2) (drill 0.8) (layers "*.Cu") (remove_unused_layers) (net 1))
        (pad "3" thru_hole rect (at 10 0) (size 2 2) (drill 0.8) (layers "*.Cu") (remove_unused_layers) (net 1))
        (pad "4" np_thru_hole circle (at 15 0) (size 2 2) (drill 1) (layers "*.Cu") (remove_unused_layers)))
      (zone (net 1) (net_name "A") (layers "In1.Cu")
        (filled_polygon (layer "In1.Cu") (pts (xy 100.8 -2) (xy 102 -2) (xy 102 2) (xy 100.8 2))))
      (zone (net 1) (net_name "A") (layers "In1.Cu")
        (filled_polygon (layer "In1.Cu") (pts (xy 110.8 -2) (xy 112 -2) (xy 112 2) (xy 110.8 2))))
      (via (at 105.7 0) (size 0.8) (drill 0.4) (layers "F.Cu" "B.Cu") (net 1))))");
    // Rings only where copper of the via's net reaches its hole or a zone fill holds the end of a
    // thermal spoke, on its end layers when kept, and within the span of a blind via; a via not
    // marked blind or micro runs through the board whatever layer pair it names.
    auto viasOn = [&](const std::string& layer) {
        std::vector<double> xs;
        for (const auto& o : objectsOf(p, layer))
            if (o.apertureFunction() == "Via") xs.push_back(flashAt(o).x);
        return xs;
    };
    EXPECT_EQ(viasOn("F.Cu"), (std::vector<double>{0, 30, 40, 45, 50, 105.7}));
    EXPECT_EQ(viasOn("In1.Cu"), (std::vector<double>{0, 40, 45, 50, 85, 105.7}));
    EXPECT_EQ(viasOn("In2.Cu"), (std::vector<double>{30, 45, 50, 90, 105.7}));
    EXPECT_EQ(viasOn("B.Cu"), (std::vector<double>{0, 30, 45, 50, 105.7}));
    // The same for a pad: its only connection is a track on In2.Cu.
    auto padsAt = [&](const std::string& layer, double x) {
        int n = 0;
        for (const auto& o : objectsOf(p, layer))
            if (o.apertureFunction() == "Pad" && std::fabs(flashAt(o).x - x) < 1e-9) n += 1;
        return n;
    };
    EXPECT_EQ(padsAt("F.Cu", 60) + padsAt("In1.Cu", 60) + padsAt("B.Cu", 60), 0);
    EXPECT_EQ(padsAt("In2.Cu", 60), 1);
    EXPECT_EQ(padsAt("In1.Cu", 63), 1);
    // A fill short of a round pad's diagonal spoke ends leaves it bare, one past a square pad's axis
    // spoke end does not; a via whose ring reaches the hole keeps the pad's ring on every layer; a
    // hole without plating never sheds its copper.
    EXPECT_EQ(padsAt("In1.Cu", 100), 0);
    EXPECT_EQ(padsAt("In1.Cu", 110), 1);
    for (const char* layer : {"F.Cu", "In1.Cu", "In2.Cu", "B.Cu"}) {
        EXPECT_EQ(padsAt(layer, 105), 1) << layer;
        EXPECT_EQ(padsAt(layer, 115), 1) << layer;
    }
    // Pads of one number without a net are one pin: they share a net of their own.
    const auto& top = objectsOf(p, "F.Cu");
    std::vector<std::string> nets;
    for (const auto& o : top)
        if (o.apertureFunction() == "Pad" && flashAt(o).x > 65 && flashAt(o).x < 75) nets.push_back(o.net() ? std::string(*o.net()) : "");
    EXPECT_EQ(nets, (std::vector<std::string>{"unconnected-(J1-Pad3)", "unconnected-(J1-Pad3)", ""}));
}

TEST(KiCadPCBParserTest, CopperLayersWildcardsInnerAndUserLayers) {
    const auto p = parseBoard(R"((kicad_pcb
      (layers (0 "F.Cu" signal) (1 "In1.Cu" signal) (2 "In2.Cu" power "GND") (31 "B.Cu" signal)
              (44 "Edge.Cuts" user) (45 "User.Drawings" user "User.Drawings"))
      (footprint "J" (at 0 0)
        (pad "1" thru_hole rect (at 0 0) (size 2 2) (drill 1) (layers "*.Cu" "*.Mask"))
        (pad "2" smd rect (at 5 0) (size 1 1) (layers "F&B.Cu"))
        (pad "3" smd circle (at 9 0) (size 1 1) (layers "F.Mask" "F.Paste")))
      (segment (start 0 0) (end 5 0) (width 0.25) (layer "In2.Cu") (net 0))
      (gr_line (start 0 0) (end 1 1) (layer "User.Drawings") (width 0.1))
      (gr_line (start 0 0) (end 1 0) (layer "F.SilkS") (width 0.12))
      (gr_line (start 0 0) (end 1 0) (layer "B.Silkscreen") (stroke (width 0.15) (type solid)))
      (gr_line (start 0 0) (end 1 0) (layer "F.Mask"))
      (gr_line (start 0 0) (end 1 0) (layer "B.Paste"))))");
    EXPECT_EQ(fileNames(p), (std::vector<std::string>{"kicad-F.Cu.gbr", "kicad-In1.Cu.gbr", "kicad-In2.Cu.gbr",
                                                      "kicad-F.Mask.gbr", "kicad-B.Paste.gbr", "kicad-F.SilkS.gbr",
                                                      "kicad-B.Silkscreen.gbr", "kicad-vias.drl",
                                                      "kicad-User.Drawings.gbr", "kicad-B.Cu.gbr"}));
    EXPECT_EQ(fileNamed(p, "kicad-In1.Cu.gbr")->layerType, LayerType::copper(CopperLayerID::inner(1)));
    EXPECT_EQ(fileNamed(p, "kicad-In2.Cu.gbr")->layerType, LayerType::copper(CopperLayerID::inner(2)));
    EXPECT_EQ(fileNamed(p, "kicad-User.Drawings.gbr")->layerType, LayerType::unknown());
    EXPECT_EQ(fileNamed(p, "kicad-F.SilkS.gbr")->layerType, LayerType::silkscreen(CopperLayerID::top()));
    EXPECT_EQ(fileNamed(p, "kicad-B.Silkscreen.gbr")->layerType, LayerType::silkscreen(CopperLayerID::bottom()));
    EXPECT_EQ(fileNamed(p, "kicad-F.Mask.gbr")->layerType, LayerType::solderMask(CopperLayerID::top()));
    EXPECT_EQ(fileNamed(p, "kicad-B.Paste.gbr")->layerType, LayerType::paste(CopperLayerID::bottom()));

    EXPECT_EQ(objectsOf(p, "F.Cu").size(), 2u);  // *.Cu and F&B.Cu pads; mask-only pad adds nothing
    EXPECT_EQ(objectsOf(p, "B.Cu").size(), 2u);
    EXPECT_EQ(objectsOf(p, "In1.Cu").size(), 1u);
    EXPECT_EQ(objectsOf(p, "In2.Cu").size(), 2u);  // the pad ring and the track
    EXPECT_EQ(objectsOf(p, "In2.Cu")[1].strokeWidth(), 0.25);
    EXPECT_FALSE(objectsOf(p, "In2.Cu")[1].net().has_value());  // net 0 is "no net"
    EXPECT_EQ(objectsOf(p, "F.SilkS")[0].apertureShape, ApertureShape::circle(0.12));
    EXPECT_EQ(objectsOf(p, "B.Silkscreen")[0].apertureShape, ApertureShape::circle(0.15));
    EXPECT_EQ(objectsOf(p, "F.Mask")[0].apertureShape, ApertureShape::circle(0.1));
}

TEST(KiCadPCBParserTest, CopperNamesOutsideTheInnerSchemeGetTheirOwnNumbers) {
    const auto p = parseBoard(R"((kicad_pcb
      (segment (start 0 0) (end 1 0) (layer "In3.Cu"))
      (segment (start 0 0) (end 1 0) (layer "Power.Cu"))
      (segment (start 0 0) (end 1 0) (layer "Ground.Cu"))))");
    EXPECT_EQ(fileNamed(p, "kicad-In3.Cu.gbr")->layerType, LayerType::copper(CopperLayerID::inner(3)));
    EXPECT_EQ(fileNamed(p, "kicad-Power.Cu.gbr")->layerType, LayerType::copper(CopperLayerID::inner(4)));
    EXPECT_EQ(fileNamed(p, "kicad-Ground.Cu.gbr")->layerType, LayerType::copper(CopperLayerID::inner(5)));
}

TEST(KiCadPCBParserTest, DrillsOffsetsSlotsAndMountingHoles) {
    const auto p = parseBoard(R"((kicad_pcb
      (footprint "A" (at 0 0)
        (pad "1" thru_hole rect (at 0 0 90) (size 2 2) (drill 1 (offset 0.5 0)) (layers "F.Cu"))
        (pad "2" thru_hole oval (at 10 0) (size 3 2) (drill oval 2 1) (layers "F.Cu"))
        (pad "3" thru_hole oval (at 20 0 90) (size 3 2) (drill oval 2 1) (layers "F.Cu"))
        (pad "" np_thru_hole circle (at 30 0) (size 3 3) (drill 3) (layers "*.Cu" "*.Mask"))
        (pad "" np_thru_hole circle (at 40 0) (size 4 4) (drill 3) (layers "*.Cu" "*.Mask"))
        (pad "4" thru_hole circle (at 50 0) (size 1 1) (drill 0) (layers "F.Cu")))
      (via (at 60 5) (size 0.8) (drill 0.4) (layers "F.Cu" "B.Cu") (net 0))))");
    const auto& top = objectsOf(p, "F.Cu");
    // The hole stays at the pad; the copper moves by the offset turned with the pad.
    expectNear(flashAt(top[0]), Vec2{0, 0.5});
    // Mounting hole no larger than its hole: no copper; larger: copper.
    ASSERT_EQ(top.size(), 6u);
    expectNear(flashAt(top[3]), Vec2{40, 0});
    EXPECT_EQ(top[3].apertureShape, ApertureShape::circle(4));
    expectNear(flashAt(top[4]), Vec2{50, 0});  // drill 0: copper only
    expectNear(flashAt(top[5]), Vec2{60, -5});
    EXPECT_EQ(top[5].apertureFunction(), "Via");
    EXPECT_EQ(objectsOf(p, "B.Cu").size(), 2u);  // the larger mounting hole, then the via

    const DrillDocument& d = *fileNamed(p, "kicad-vias.drl")->drill;
    EXPECT_EQ(d.tools.size(), 6u);
    EXPECT_EQ(d.hits.size(), 4u);
    EXPECT_EQ(d.hits[0], (DrillHit{Vec2{0, 0}, 11, Plating::pth}));
    EXPECT_EQ(d.hits[1], (DrillHit{Vec2{30, 0}, 14, Plating::npth}));
    EXPECT_EQ(d.tools.at(14), (DrillTool{14, 3, Plating::npth}));
    EXPECT_EQ(d.hits[2].toolNumber, 15);
    EXPECT_EQ(d.hits[3], (DrillHit{Vec2{60, -5}, 16, Plating::pth}));
    EXPECT_EQ(d.tools.at(16), (DrillTool{16, 0.4, Plating::pth}));
    EXPECT_EQ(d.totalCount(), 6);

    // Oval holes are slots of their short side's width along their long side, turned with the pad.
    ASSERT_EQ(d.slots.size(), 2u);
    const auto* s0 = d.slots[0].kind.as<PCBObjectKind::Slot>();
    const auto* s1 = d.slots[1].kind.as<PCBObjectKind::Slot>();
    ASSERT_TRUE(s0 && s1);
    EXPECT_EQ(s0->diameterMM, 1);
    EXPECT_TRUE(s0->plated);
    EXPECT_EQ((std::set<double>{s0->start.x, s0->end.x}), (std::set<double>{9.5, 10.5}));
    EXPECT_EQ(s0->start.y, 0);
    EXPECT_EQ((std::set<double>{s1->start.y, s1->end.y}), (std::set<double>{-0.5, 0.5}));
    EXPECT_EQ(s1->start.x, 20);
    EXPECT_EQ(d.slots[0].apertureCode(), 12);
    EXPECT_EQ(d.tools.at(12).diameterMM, 1);
    EXPECT_EQ(d.slots[1].index, 1);
    EXPECT_EQ(d.bbox, (BBox{0, -5, 60, 1}));  // hit centres and slot boxes
}

TEST(KiCadPCBParserTest, CustomPadsFlashTheirWholeOutline) {
    const auto p = parseBoard(R"((kicad_pcb
      (footprint "C" (at 5 5 90)
        (pad "1" smd custom (at 0 0 90) (size 1 1) (layers "F.Cu")
          (options (clearance outline) (anchor circle))
          (primitives
            (gr_poly (pts (xy 0 0) (xy 2 0) (xy 2 1)) (width 0) (fill yes))
            (gr_line (start 0 0) (end 3 3) (width 0.2))
            (gr_arc (start -1 0) (mid 0 -1) (end 1 0) (width 0.3))))
        (pad "2" smd custom (at 3 0 90) (size 1 2) (layers "F.Cu") (primitives))
        (pad "3" smd custom (at 6 0) (size 0.5 0.5) (layers "F.Cu")
          (primitives
            (gr_rect (start 0 0) (end 2 1) (width 0.2) (fill yes))
            (gr_poly (pts (xy 0 0) (xy -1 0) (xy -1 -1)) (width 0.1))
            (gr_rect (start 0 2) (end 1 3) (width 0.1) (fill none)))))))");
    const auto& top = objectsOf(p, "F.Cu");
    ASSERT_EQ(top.size(), 16u);
    // One flash: the round anchor and the polygon, turned with the pad (90 degrees) about its
    // centre, then y flipped.
    expectNear(flashAt(top[0]), Vec2{5, -5});
    expectNear(mean(padContour(top[0], 0)), Vec2{5, -5});
    EXPECT_NEAR(boxOf(padContour(top[0], 0)).width(), 1.0, 1e-9);
    const Contour poly = padContour(top[0], 1);
    ASSERT_EQ(poly.size(), 3u);
    expectNear(poly[0], Vec2{5, -5});
    expectNear(poly[1], Vec2{5, -3});
    expectNear(poly[2], Vec2{6, -3});
    EXPECT_EQ(top[0].apertureFunction(), "Pad");
    // A line primitive is a stroke of its width.
    const auto* line = top[1].kind.as<PCBObjectKind::Stroke>();
    ASSERT_TRUE(line);
    expectNear(line->end, Vec2{8, -2});
    EXPECT_EQ(top[1].apertureShape, ApertureShape::circle(0.2));
    // An arc primitive runs from its start through its mid point, turned and flipped with the pad:
    // the half circle over the top on screen, turned a quarter, runs clockwise on the board.
    const auto* arc = top[2].kind.as<PCBObjectKind::ArcStroke>();
    ASSERT_TRUE(arc);
    expectNear(arc->start, Vec2{5, -6});
    expectNear(arc->end, Vec2{5, -4});
    expectNear(arc->center, Vec2{5, -5});
    EXPECT_TRUE(arc->clockwise);
    EXPECT_EQ(top[2].apertureShape, ApertureShape::circle(0.3));
    EXPECT_EQ(top[2].net(), top[0].net());
    EXPECT_EQ(top[3].apertureShape, ApertureShape::rectangle(2, 1));  // rectangle anchor by default
    // A filled rectangle is part of the outline; the edges of a polygon or rectangle drawn with a width
    // are strokes of it, an unfilled rectangle's edges only.
    const auto* withAreas = top[4].apertureShape->as<ApertureShape::Macro>();
    ASSERT_TRUE(withAreas && withAreas->outline);
    EXPECT_EQ(withAreas->outline->size(), 3u);
    EXPECT_EQ(boxOf(padContour(top[4], 1)), (BBox{5, 0, 7, 1}));  // the pad at (5, 1), not turned
    std::vector<double> widths;
    for (std::size_t k = 5; k < top.size(); ++k) widths.push_back(top[k].apertureShape->strokeNominalWidth());
    EXPECT_EQ(widths, (std::vector<double>{0.2, 0.2, 0.2, 0.2, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1, 0.1}));
}

TEST(KiCadPCBParserTest, NetsComeFromTheBoardTableAndZones) {
    const auto p = parseBoard(R"((kicad_pcb
      (net 0 "") (net 1 "GND") (net 2 "/VCC")
      (footprint "R" (at 0 0) (property "Reference" "R7")
        (pad "1" smd rect (at 0 0) (size 1 1) (layers "F.Cu") (net 2 "/VCC"))
        (pad "2" smd rect (at 2 0) (size 1 1) (layers "F.Cu") (net 0 "")))
      (segment (start 1 2) (end 3 4) (width 0.3) (layer "F.Cu") (net 2))
      (segment (start 1 2) (end 3 4) (layer "F.Cu") (net 9))
      (segment (start 1 2) (layer "F.Cu") (net 2))
      (via (at 1 2) (size 0.6) (drill 0.3) (net 1))
      (zone (net 1) (net_name "GND") (layer "F.Cu")
        (filled_polygon (layer "F.Cu") (pts (xy 0 0) (xy 10 0) (xy 10 10) (xy 0 10))))
      (zone (net 2) (layers "B.Cu")
        (filled_polygon (pts) (xy 0 0) (xy 1 0) (xy 1 1))
        (filled_polygon (pts (xy 0 0) (xy 1 0))))
      (zone (net 1) (layer "In1.Cu") (min_thickness 0.3) (filled_areas_thickness yes)
        (filled_polygon (layer "In1.Cu") (pts (xy 0 0) (xy 2 0) (xy 2 2))))
      (zone (net 1) (layer "In1.Cu") (min_thickness 0.3) (filled_areas_thickness no)
        (filled_polygon (layer "In1.Cu") (pts (xy 5 0) (xy 7 0) (xy 7 2))))))");
    const auto& top = objectsOf(p, "F.Cu");
    ASSERT_EQ(top.size(), 6u);
    EXPECT_EQ(top[0].net(), "/VCC");
    EXPECT_EQ(top[0].component(), "R7");
    EXPECT_FALSE(top[1].net().has_value());
    const auto* seg = top[2].kind.as<PCBObjectKind::Stroke>();
    ASSERT_TRUE(seg);
    EXPECT_EQ(seg->start, (Vec2{1, -2}));
    EXPECT_EQ(seg->end, (Vec2{3, -4}));
    EXPECT_EQ(top[2].net(), "/VCC");
    EXPECT_FALSE(top[2].component().has_value());
    EXPECT_FALSE(top[2].apertureFunction().has_value());
    EXPECT_EQ(top[3].apertureShape, ApertureShape::circle(0.2));  // default width
    EXPECT_FALSE(top[3].net().has_value());                         // unknown net number
    EXPECT_EQ(top[4].net(), "GND");                                 // via
    EXPECT_EQ(top[5].net(), "GND");                                 // zone
    EXPECT_EQ(regionContour(top[5])[2], (Vec2{10, -10}));

    const auto& bottom = objectsOf(p, "B.Cu");
    ASSERT_EQ(bottom.size(), 1u);  // direct xy points; the two-point polygon is dropped
    EXPECT_EQ(bottom[0].net(), "/VCC");
    EXPECT_EQ(regionContour(bottom[0]).size(), 3u);

    // An older fill is its polygon with the edges stroked at the zone's minimum thickness.
    const auto& inner = objectsOf(p, "In1.Cu");
    ASSERT_EQ(inner.size(), 5u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_TRUE(inner[k].kind.as<PCBObjectKind::Stroke>());
        EXPECT_EQ(inner[k].apertureShape, ApertureShape::circle(0.3));
        EXPECT_EQ(inner[k].net(), "GND");
    }
    EXPECT_TRUE(inner[3].kind.as<PCBObjectKind::Region>());
    EXPECT_TRUE(inner[4].kind.as<PCBObjectKind::Region>());

    // KiCad 5 names a zone's one layer and strokes every fill without saying so.
    const auto old = parseBoard(R"((kicad_pcb (version 20171130)
      (zone (net 1) (net_name GND) (layer B.Cu) (min_thickness 0.254)
        (filled_polygon (pts (xy 0 0) (xy 2 0) (xy 2 2))))))");
    EXPECT_EQ(fileNames(old), (std::vector<std::string>{"kicad-B.Cu.gbr"}));
    EXPECT_EQ(objectsOf(old, "B.Cu").size(), 4u);
    EXPECT_EQ(objectsOf(old, "B.Cu")[0].apertureShape, ApertureShape::circle(0.254));
}

TEST(KiCadPCBParserTest, ViasUseTheCopperLayersInUse) {
    const auto lone = parseBoard("(kicad_pcb (via (at 1 1)))");
    EXPECT_EQ(fileNames(lone), (std::vector<std::string>{"kicad-F.Cu.gbr", "kicad-vias.drl"}));
    EXPECT_EQ(objectsOf(lone, "F.Cu")[0].apertureShape, ApertureShape::circle(0.6));
    EXPECT_EQ(lone.files[1].drill->tools.at(11).diameterMM, 0.3);

    const auto p = parseBoard(R"((kicad_pcb
      (segment (start 0 0) (end 1 0) (layer "In1.Cu"))
      (segment (start 0 0) (end 1 0) (layer "F.Cu"))
      (via (at 2 2) (size 0.7) (drill 0.35))
      (gr_line (start 0 0) (end 1 0) (layer "B.Cu"))))");
    EXPECT_EQ(objectsOf(p, "In1.Cu").size(), 2u);
    EXPECT_EQ(objectsOf(p, "F.Cu").size(), 2u);
    EXPECT_EQ(objectsOf(p, "B.Cu").size(), 1u);  // B.Cu came after the vias
}

TEST(KiCadPCBParserTest, BoardGraphics) {
    const auto p = parseBoard(R"((kicad_pcb
      (gr_rect (start 0 0) (end 4 2) (layer "Edge.Cuts") (width 0.05))
      (gr_rect (start 0 0) (end 4 2) (layer "F.SilkS"))
      (gr_rect (start 0 0) (end 4 2) (layer "B.SilkS") (stroke (width 0.2)) (fill none))
      (gr_poly (pts (xy 0 0) (xy 1 0) (xy 1 1)) (layer "F.Mask") (fill solid))
      (gr_poly (pts (xy 0 0) (xy 1 0) (xy 1 1)) (layer "Edge.Cuts") (width 0.1))
      (gr_poly (pts (xy 0 0) (xy 1 0)) (layer "F.Mask"))
      (gr_line (start 0 0) (layer "F.Mask"))
      (gr_line (start 0 0) (end 1 1) (layer))
      (gr_circle (center 0 0) (end 1 0) (layer "F.Mask"))
      (gr_arc (start 0 0) (mid 1 1) (end 2 0) (layer "F.Mask"))
      (arc (start 0 0) (mid 1 1) (end 2 0) (width 0.2) (layer "F.Cu"))))");
    const auto& edge = objectsOf(p, "Edge.Cuts");
    ASSERT_EQ(edge.size(), 7u);
    const auto* first = edge[0].kind.as<PCBObjectKind::Stroke>();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->start, (Vec2{0, 0}));
    EXPECT_EQ(first->end, (Vec2{4, 0}));
    EXPECT_EQ(edge[2].kind.as<PCBObjectKind::Stroke>()->end, (Vec2{0, -2}));
    EXPECT_EQ(edge[0].apertureShape, ApertureShape::circle(0.05));
    EXPECT_EQ(edge[6].kind.as<PCBObjectKind::Stroke>()->end, (Vec2{0, 0}));  // closed polygon outline

    const auto& silk = objectsOf(p, "F.SilkS");
    ASSERT_EQ(silk.size(), 1u);
    EXPECT_EQ(regionContour(silk[0]), (Contour{{0, 0}, {4, 0}, {4, -2}, {0, -2}}));
    EXPECT_EQ(objectsOf(p, "B.SilkS").size(), 4u);  // unfilled: its outline only
    EXPECT_EQ(objectsOf(p, "B.SilkS")[0].apertureShape, ApertureShape::circle(0.2));
    ASSERT_EQ(objectsOf(p, "F.Mask").size(), 1u);
    EXPECT_EQ(regionContour(objectsOf(p, "F.Mask")[0]).size(), 3u);
    EXPECT_EQ(fileNamed(p, "kicad-F.Cu.gbr"), nullptr);  // track arcs are not read
    EXPECT_EQ(fileNamed(p, "kicad-Edge.Cuts.gbr")->layerType, LayerType::outline());
}

TEST(KiCadPCBParserTest, WhatIsNotReadIsCountedOncePerKind) {
    const auto p = parseBoard(R"((kicad_pcb (version 20221018)
      (footprint "Antenna" (layer "F.Cu") (at 10 10)
        (property "Reference" "AE1")
        (fp_text value "ANT" (at 0 2) (layer "F.Fab"))
        (fp_line (start 0 0) (end 1 0) (layer "F.SilkS") (width 0.12))
        (fp_circle (center 0 0) (end 1 0) (layer "F.CrtYd") (width 0.05))
        (pad "1" smd custom (at 0 0) (size 1 1) (layers "F.Cu" "F.Mask" "F.Paste")
          (primitives (gr_poly (pts (xy 0 0) (xy 2 0) (xy 2 1)) (width 0)) (gr_circle (center 0 0) (end 1 0) (width 0))
                      (gr_line (start 0 0) (end 2 0) (width 0.2)) (gr_arc (start 0 0) (mid 1 1) (end 2 0) (width 0.2))
                      (gr_rect (start 0 0) (end 1 1) (width 0.1))
                      (gr_curve (pts (xy 0 0) (xy 1 1) (xy 2 1) (xy 3 0)) (width 0.1))))
        (pad "2" smd rect (at 3 0) (size 1 1) (layers "F.Cu" "F.Mask")))
      (segment (start 0 0) (end 5 0) (width 0.25) (layer "F.Cu") (net 0))
      (arc (start 0 0) (mid 1 1) (end 2 0) (width 0.25) (layer "F.Cu") (net 0))
      (arc (start 2 0) (mid 3 -1) (end 4 0) (width 0.25) (layer "B.Cu") (net 0))
      (gr_arc (start 0 0) (mid 1 1) (end 2 0) (layer "Edge.Cuts") (width 0.1))
      (gr_circle (center 5 5) (end 6 5) (layer "F.SilkS") (width 0.1))
      (gr_text "REV A" (at 5 5) (layer "F.SilkS"))
      (module "R_0805" (layer "F.Cu") (at 20 20) (pad "1" smd rect (at 0 0) (size 1 1) (layers "F.Cu")))))");
    const std::vector<std::string> expected = {
        "Imported from KiCad PCB \xE2\x80\x94 component/net metadata comes from footprints.",
        "2 track arcs were not read.",
        "2 board arcs and circles were not read.",
        "1 board text was not read.",
        "3 footprint graphics were not read.",
        // Polygons, lines, arcs, circles and rectangles of a custom pad are drawn: only its curve is left out.
        "1 custom pad curve was not read.",
        "Pad openings on mask and paste layers are not read (2 pads).",
        "KiCad 5 footprints ('module') are not read: 1 footprint left out."};
    EXPECT_EQ(p.warnings, expected);
}

TEST(KiCadPCBParserTest, PadDefaultsAndShapeSpellings) {
    const auto p = parseBoard(R"((kicad_pcb
      (footprint "X" (at 0 0)
        (pad 1 thru_hole oval (at 0 0) (size 2 1) (layers F.Cu))
        (pad "2" smd (at 1 0) (layers "F.Cu"))
        (pad "3" smd trapezoid (at 2 0) (size 1.5) (layers "F.Cu"))
        (pad "6" smd trapezoid (at 20 0 180) (size 1.5 2) (rect_delta 0 1) (layers "F.Cu"))
        (pad "4" smd (shape rect) (at 3 0) (size 1 2) (layers "F.Cu"))
        (pad "5" smd rect (size 1 1) (layers "F.Cu"))
        (pad "smd" smd rect (at 4 0) (size 1 2) (layers "F.Cu")))
      (module "Old" (at 0 0) (pad "1" smd rect (at 9 9) (size 1 1) (layers "F.Cu")))))");
    const auto& top = objectsOf(p, "F.Cu");
    ASSERT_EQ(top.size(), 6u);
    EXPECT_EQ(top[0].apertureShape, ApertureShape::obround(2, 1));  // bare pad number of older files
    // A trapezoid narrows by its delta: 0.5 mm each side at one end, widened as much at the other;
    // turned by 180 degrees the wide end lies up on the board.
    const Contour trapezoid = padContour(top[3]);
    ASSERT_EQ(trapezoid.size(), 4u);
    std::set<std::pair<double, double>> corners;
    for (const Vec2& c : trapezoid) corners.emplace(std::round(c.x * 1e6) / 1e6, std::round(c.y * 1e6) / 1e6);
    EXPECT_EQ(corners, (std::set<std::pair<double, double>>{{18.75, 1}, {21.25, 1}, {19.75, -1}, {20.25, -1}}));
    EXPECT_EQ(top[1].apertureShape, ApertureShape::circle(0.6));
    EXPECT_EQ(top[2].apertureShape, ApertureShape::rectangle(1.5, 0));  // a trapezoid without its narrowing
    EXPECT_EQ(top[4].apertureShape, ApertureShape::rectangle(1, 2));
    EXPECT_EQ(top[5].apertureShape, ApertureShape::rectangle(1, 2));
}

TEST(KiCadPCBParserTest, ReferenceFallsBackToFpText) {
    const auto p = parseBoard(R"((kicad_pcb
      (footprint "A" (property "Reference") (fp_text reference "U3") (pad "1" smd rect (at 0 0) (layers "F.Cu")))
      (footprint "B" (fp_text value "10k") (pad "1" smd rect (at 0 0) (layers "F.Cu")))))");
    const auto& top = objectsOf(p, "F.Cu");
    EXPECT_EQ(top[0].component(), "U3");
    EXPECT_FALSE(top[1].component().has_value());
}

TEST(KiCadPCBParserTest, ErrorTexts) {
    EXPECT_EQ(errorText("(kicad_pcb (net 0 \"\xFF\"))"), "Malformed KiCad PCB file: not UTF-8");
    EXPECT_EQ(errorText("(module x)"), "Malformed KiCad PCB file: root is not kicad_pcb");
    EXPECT_EQ(errorText("(kicad_pcb (version 1) (footprint \"x\" (pad \"1\" smd rect)) (gr_text \"hi\"))"),
              "Malformed KiCad PCB file: no recognized layers");
    EXPECT_EQ(errorText("kicad_pcb"), "Malformed KiCad PCB file: expected '(' at token 0");
    EXPECT_EQ(errorText("(kicad_pcb (segment (start 0 0) (end 1 1) (layer \"F.Cu\")"),
              "Malformed KiCad PCB file: unexpected EOF");
    // A byte-order mark in front of the board is not content.
    EXPECT_EQ(errorText("\xEF\xBB\xBF(kicad_pcb (via (at 0 0)))"), "no error");
}

TEST(KiCadPCBParserTest, CoordinatesAndSizesThatAreNotFiniteAreLeftOut) {
    // inf, nan and 1e999999 read as numbers; whatever they place or size is left out with one warning.
    const auto p = parseBoard(R"((kicad_pcb (version 20221018)
      (footprint "R" (layer "F.Cu") (at 0 0) (property "Reference" "R1")
        (pad "1" thru_hole circle (at nan 0) (size 1 1) (drill 0.5) (layers "*.Cu"))
        (pad "2" smd rect (at 1 0) (size 1e999999 1) (layers "F.Cu"))
        (pad "3" smd rect (at 2 0) (size 1 1) (layers "F.Cu")))
      (footprint "Far" (layer "F.Cu") (at inf 0) (pad "1" smd rect (at 0 0) (size 1 1) (layers "F.Cu")))
      (segment (start 0 0) (end inf 0) (width 0.2) (layer "F.Cu"))
      (segment (start 0 0) (end 5 0) (width -inf) (layer "F.Cu"))
      (segment (start 0 1) (end 5 1) (width 0.2) (layer "F.Cu"))
      (via (at 1e999999 3) (size 0.6) (drill 0.3))
      (zone (net 0) (layer "F.Cu") (filled_polygon (pts (xy 0 0) (xy nan 0) (xy 1 1))))
      (gr_line (start 0 0) (end 1e999999 -1e999999) (layer "Edge.Cuts") (width 0.1))))");
    EXPECT_EQ(fileNames(p), (std::vector<std::string>{"kicad-F.Cu.gbr"}));
    const auto& top = objectsOf(p, "F.Cu");
    ASSERT_EQ(top.size(), 2u);
    expectNear(flashAt(top[0]), Vec2{2, 0});
    EXPECT_TRUE(top[1].kind.as<PCBObjectKind::Stroke>());
    for (const auto& o : top) EXPECT_TRUE(o.isFinite());
    EXPECT_TRUE(p.boardBBox().isFinite());
    EXPECT_EQ(std::count(p.warnings.begin(), p.warnings.end(),
                         "Objects whose coordinates or sizes are not finite numbers were left out."),
              1);
}

TEST(KiCadPCBParserTest, PackageNameDropsOnlyTheExtension) {
    EXPECT_EQ(parseBoard("(kicad_pcb (via (at 0 0)))", "my.board.kicad_pcb").name, "my.board");
    EXPECT_EQ(parseBoard("(kicad_pcb (via (at 0 0)))", "board").name, "board");
}

TEST(KiCadPCBParserTest, CurrentFormatBoardFile) {
    const std::string path = std::string(CORVANE_TEST_DATA) + "/kicad/sensor-kicad8.kicad_pcb";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);

    const auto p = parseBoard(text, "sensor-kicad8.kicad_pcb");
    EXPECT_EQ(fileNames(p), (std::vector<std::string>{"kicad-F.Cu.gbr", "kicad-In1.Cu.gbr", "kicad-In2.Cu.gbr",
                                                      "kicad-Edge.Cuts.gbr", "kicad-vias.drl", "kicad-B.Cu.gbr"}));
    const auto& top = objectsOf(p, "F.Cu");
    ASSERT_EQ(top.size(), 5u);  // two resistor pads, the connector ring, the track, the via
    // The track drawn to pad 1 starts on that pad once both are placed.
    expectNear(flashAt(top[0]), Vec2{120, -80.825});
    EXPECT_NEAR(boxOf(padContour(top[0])).width(), 0.95, 1e-9);
    EXPECT_NEAR(boxOf(padContour(top[0])).height(), 0.8, 1e-9);
    EXPECT_EQ(top[0].net(), "/SDA");
    EXPECT_EQ(top[0].component(), "R3");
    const auto* track = top[3].kind.as<PCBObjectKind::Stroke>();
    ASSERT_TRUE(track);
    expectNear(track->start, flashAt(top[0]));
    EXPECT_EQ(top[3].net(), "/SDA");
    EXPECT_EQ(top[2].apertureShape, ApertureShape::obround(1.7, 1.7));
    expectNear(flashAt(top[2]), Vec2{130, -80});
    EXPECT_EQ(top[2].component(), "J1");
    EXPECT_EQ(top[4].apertureFunction(), "Via");
    EXPECT_EQ(top[4].net(), "/SDA");

    const auto& ground = objectsOf(p, "In1.Cu");
    ASSERT_EQ(ground.size(), 3u);  // connector ring, via, zone fill
    EXPECT_EQ(ground[2].net(), "GND");
    EXPECT_EQ(regionContour(ground[2]).size(), 4u);
    EXPECT_EQ(objectsOf(p, "Edge.Cuts").size(), 4u);
    EXPECT_EQ(objectsOf(p, "Edge.Cuts")[0].apertureShape, ApertureShape::circle(0.05));
    const DrillDocument& d = *fileNamed(p, "kicad-vias.drl")->drill;
    EXPECT_EQ(d.tools.size(), 2u);
    EXPECT_EQ(d.hits[1], (DrillHit{Vec2{125, -79.175}, 12, Plating::pth}));
}
