// Aperture macros as real CAD tools write them are drawn at their true size and shape.
#include <gtest/gtest.h>

#include "render/SoftwareRenderer.hpp"
#include "import/GerberParser.hpp"

using namespace corvane;

namespace {

// A 20 × 20 mm outline with the pad under test at (10, 10); 1000 × 1000 px gives 1000/24 px per mm.
PCBPackage boardWithPad(const std::string& apertureLines, const std::string& flashAperture) {
    const std::string outline =
        "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.05*%\nD10*\nX0Y0D02*\nX20000000Y0D01*\nX20000000Y20000000D01*\n"
        "X0Y20000000D01*\nX0Y0D01*\nM02*\n";
    const std::string copper = "%FSLAX46Y46*%\n%MOMM*%\n" + apertureLines + flashAperture + "*\nX10000000Y10000000D03*\nM02*\n";
    PCBPackage pkg;
    for (auto [name, text, type] : {std::tuple{"edge.gm1", outline, LayerType::outline()},
                                    std::tuple{"top.gtl", copper, LayerType::copper(CopperLayerID::top())}}) {
        PackageFile f;
        f.fileName = name;
        f.layerType = type;
        f.format = SourceFormat::gerberRS274X;
        f.gerber = GerberParser{}.parse(name, std::string_view(text));
        pkg.files.push_back(std::move(f));
    }
    return pkg;
}

struct Probe {
    RasterImage image;
    double s = 1000.0 / 24.0;
    // True when the board point (x, y) mm is painted in top copper colour.
    bool copper(double x, double y) const {
        const double off = (1000.0 - s * 20.0) / 2;
        const auto c = image.rgba(static_cast<int>(off + s * x), static_cast<int>(1000.0 - off - s * y));
        return std::abs(c.r - 242) < 6 && std::abs(c.g - 158) < 6 && std::abs(c.b - 46) < 6;
    }
};

Probe render(const PCBPackage& pkg) {
    SoftwareRenderer r;
    auto img = r.render(pkg, SizePx{1000, 1000}, std::nullopt, false);
    EXPECT_TRUE(img);
    return Probe{*img};
}

} // namespace

TEST(MacroPads, KiCadRoundRectWithVariablesKeepsItsCorners) {
    // KiCad's RoundRect: corner radius $1, four corner circles, an outline and four edge lines.
    const std::string macro =
        "%AMRoundRect*\n0 Rectangle with rounded corners*\n0 $1 Rounding radius*\n"
        "0 $2 $3 $4 $5 $6 $7 $8 $9 X,Y pos of 4 corners*\n"
        "0 Add a 4 corners polygon primitive as pad body*\n"
        "4,1,4,$2,$3,$4,$5,$6,$7,$8,$9,$2,$3,0*\n"
        "0 Add four circle primitives for the rounded corners*\n"
        "1,1,$1+$1,$2,$3*\n1,1,$1+$1,$4,$5*\n1,1,$1+$1,$6,$7*\n1,1,$1+$1,$8,$9*\n"
        "0 Add four rect primitives between the rounded corners*\n"
        "20,1,$1+$1,$2,$3,$4,$5,0*\n20,1,$1+$1,$4,$5,$6,$7,0*\n20,1,$1+$1,$6,$7,$8,$9,0*\n20,1,$1+$1,$8,$9,$2,$3,0*%\n";
    // A 4 × 2 mm pad with 0.5 mm corners.
    const auto p = render(boardWithPad(macro + "%ADD11RoundRect,0.5X-1.5X0.5X1.5X0.5X1.5X-0.5X-1.5X-0.5X0*%\n", "D11"));
    EXPECT_TRUE(p.copper(10, 10));
    EXPECT_TRUE(p.copper(11.9, 10));   // near the right edge, x = 12
    EXPECT_TRUE(p.copper(10, 10.9));   // near the top edge, y = 11
    EXPECT_FALSE(p.copper(12.3, 10));  // outside, where a 4.5 mm disc would paint
    EXPECT_FALSE(p.copper(10, 11.6));
    EXPECT_FALSE(p.copper(11.95, 10.95));  // the rounded corner is cut
}

TEST(MacroPads, ParameterlessDefinitionAndRotatedOutline) {
    // Altium writes the size into the macro and defines the aperture without parameters.
    const std::string macro =
        "%AMROUNDEDRECTD67*\n4,1,4,-1.0,-0.4,1.0,-0.4,1.0,0.4,-1.0,0.4,-1.0,-0.4,90.0*%\n%ADD67ROUNDEDRECTD67*%\n";
    const auto p = render(boardWithPad(macro, "D67"));
    // Rotated by 90°: 0.8 wide and 2 tall.
    EXPECT_TRUE(p.copper(10, 10.9));
    EXPECT_TRUE(p.copper(10.3, 10));
    EXPECT_FALSE(p.copper(10.9, 10));
    EXPECT_FALSE(p.copper(10, 11.2));
}

TEST(MacroPads, ThermalLeavesItsGapsAndArithmeticSizesThePad) {
    // Thermal: outer 4, inner 3, gap 0.6 — the gaps along the axes stay open.
    const std::string thermal = "%AMTHERM*\n7,0,0,4,3,0.6,0*%\n%ADD12THERM*%\n";
    const auto t = render(boardWithPad(thermal, "D12"));
    EXPECT_TRUE(t.copper(10 + 1.2, 10 + 1.2));   // on the ring between the gaps
    EXPECT_FALSE(t.copper(10 + 1.75, 10));       // in the gap on the x axis
    EXPECT_FALSE(t.copper(10, 10));              // the open centre

    // A circle whose diameter is computed: ($1 + 2) / 2 with $1 = 2 → 2 mm.
    const std::string calc = "%AMCALC*\n$2=($1+2)/2*\n1,1,$2,0,0*%\n%ADD13CALC,2*%\n";
    const auto c = render(boardWithPad(calc, "D13"));
    EXPECT_TRUE(c.copper(10.9, 10));
    EXPECT_FALSE(c.copper(11.2, 10));
}
