#include <gtest/gtest.h>

#include "ChildRun.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "import/ExcellonParser.hpp"

using namespace corvane;

namespace {

DrillDocument parseText(const std::string& text, const std::string& name = "board.drl") {
    return ExcellonParser{}.parse(name, std::string_view(text));
}

DrillDocument parseBytes(const std::string& bytes, const std::string& name = "board.drl") {
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    return ExcellonParser{}.parse(name, std::span<const std::uint8_t>(data));
}

std::vector<Vec2> positions(const DrillDocument& d) {
    std::vector<Vec2> out;
    for (const auto& h : d.hits) out.push_back(h.position);
    return out;
}

void expectNear(const Vec2& a, const Vec2& b) {
    EXPECT_NEAR(a.x, b.x, 1e-9);
    EXPECT_NEAR(a.y, b.y, 1e-9);
}

// One hit read under a header: its position in millimetres.
Vec2 hitUnder(const std::string& header, const std::string& coordinates) {
    const auto d = parseText(header + "\nT1C0.1\n" + coordinates + "\n");
    EXPECT_EQ(d.hits.size(), 1u) << header << " / " << coordinates;
    return d.hits.empty() ? Vec2{} : d.hits[0].position;
}

} // namespace

TEST(ExcellonParser, ErrorTexts) {
    try {
        parseBytes("");
        FAIL() << "empty input accepted";
    } catch (const ExcellonParseError& e) {
        EXPECT_EQ(e.errorCase(), ExcellonParseError::Case::emptyInput);
        EXPECT_STREQ(e.what(), "Drill file is empty.");
    }
    EXPECT_STREQ(ExcellonParseError::malformed("bad tool").what(), "Malformed Excellon: bad tool");
    const CorvaneError& base = ExcellonParseError::emptyInput();
    EXPECT_STREQ(base.what(), "Drill file is empty.");
    // Content-free text is an empty document, not an error.
    const auto d = parseBytes("\r\n\n\r");
    EXPECT_TRUE(d.hits.empty());
    EXPECT_TRUE(d.bbox.isEmpty());
    EXPECT_EQ(d.units, Units::mm);
    EXPECT_EQ(d.fileName, "board.drl");
}

TEST(ExcellonParser, Latin1AndLineEnds) {
    const std::string latin1 = "M48\n; Copyright \xA9 2024 G\xE4rtner\nMETRIC\nT1C0.8\n%\nX1.0Y2.0\nM30\n";
    const auto d = parseBytes(latin1);
    ASSERT_EQ(d.hits.size(), 1u);
    EXPECT_DOUBLE_EQ(d.tools.at(1).diameterMM, 0.8);
    std::string crlf;
    for (char c : latin1) {
        if (c == '\n') crlf += "\r\n";
        else crlf += c;
    }
    const auto d2 = parseBytes(crlf);
    EXPECT_EQ(positions(d2), positions(d));
    EXPECT_EQ(d2.tools, d.tools);
    // A byte-order mark does not hide the first line.
    EXPECT_EQ(parseBytes("\xEF\xBB\xBFMETRIC\nT1C0.8\nX1.0Y2.0\n").tools.at(1).diameterMM, 0.8);
}

TEST(ExcellonParser, ZerosWithoutDecimalPoints) {
    // LZ: leading zeros written, digits fill from the left. TZ: trailing zeros written, right-aligned.
    expectNear(hitUnder("INCH,LZ", "X012Y0005"), {1.2 * 25.4, 0.05 * 25.4});
    expectNear(hitUnder("INCH,TZ", "X012Y5"), {0.0012 * 25.4, 0.0005 * 25.4});
    expectNear(hitUnder("INCH,TZ", "X-15000Y+25000"), {-1.5 * 25.4, 2.5 * 25.4});
    expectNear(hitUnder("METRIC,LZ", "X0125Y012345"), {12.5, 12.345});
    expectNear(hitUnder("METRIC,TZ", "X125Y12345"), {0.125, 12.345});
    // Bare zero lines after the unit line.
    expectNear(hitUnder("INCH\nLZ", "X012"), {1.2 * 25.4, 0});
    expectNear(hitUnder("METRIC,LZ\nTZ", "X125"), {0.125, 0});
    // Decimal points make the zero mode irrelevant.
    expectNear(hitUnder("INCH,LZ", "X0.5Y1.25"), {0.5 * 25.4, 1.25 * 25.4});
    // Without a header, coordinates that keep leading zeros fill from the left: PADS drops trailing
    // zeros (lengths vary), Allegro without nc_param.txt drops none (one length, 2.5 or 3.5 inches).
    auto hits = [](const std::string& text) { return positions(parseText(text)); };
    const auto pads = hits("%\nT1C.035F197S55\nX015Y012\nX0165Y02\nM30\n");
    ASSERT_EQ(pads.size(), 2u);
    expectNear(pads[0], {1.5 * 25.4, 1.2 * 25.4});
    expectNear(pads[1], {1.65 * 25.4, 2.0 * 25.4});
    const auto allegro = hits(";T01 Holesize 1. = 16.000000 Tolerance = +0.000000/-0.000000 PLATED MILS Quantity = 2\n"
                              "%\nG90\nT01\nX0140000Y0104000\nX0015000Y0077500\nM30\n");
    ASSERT_EQ(allegro.size(), 2u);
    expectNear(allegro[0], {1.4 * 25.4, 1.04 * 25.4});
    expectNear(allegro[1], {0.15 * 25.4, 0.775 * 25.4});
    expectNear(hits("%\nT1\nX00140000Y00104000\nM30\n")[0], {1.4 * 25.4, 1.04 * 25.4});
    // Without leading zeros they fill from the right, as before.
    expectNear(hits("%\nT1C.035\nX15000Y12000\nM30\n")[0], {1.5 * 25.4, 1.2 * 25.4});
}

TEST(ExcellonParser, DigitCounts) {
    // Digit counts from the unit line.
    expectNear(hitUnder("METRIC,TZ,000.000", "X12345"), {12.345, 0});
    expectNear(hitUnder("METRIC,LZ,0000.00", "X01234"), {123.4, 0});
    expectNear(hitUnder("METRIC,0000.00", "X1234"), {12.34, 0});
    expectNear(hitUnder("INCH,LZ,00.0000", "X0125"), {1.25 * 25.4, 0});
    expectNear(hitUnder("INCH,LZ,000.000", "X0125"), {12.5 * 25.4, 0});
    // Metric without any hint reads 3:3; inch 2:4.
    expectNear(hitUnder("METRIC", "X12345Y6789"), {12.345, 6.789});
    expectNear(hitUnder("METRIC,LZ", "X1"), {100.0, 0});
    expectNear(hitUnder("INCH,LZ", "X1"), {10 * 25.4, 0});
    // Hints in comments. The hint's letter names the suppressed zeros (T: fill from the left).
    expectNear(hitUnder(";FILE_FORMAT=3:3\nMETRIC,TZ", "X1234"), {1.234, 0});
    expectNear(hitUnder("METRIC\n;FILE_FORMAT=2:5 T", "X125"), {12.5, 0});
    expectNear(hitUnder("METRIC,LZ\n;FILE_FORMAT = 4 : 2 L", "X125"), {1.25, 0});
    expectNear(hitUnder("METRIC,TZ\n;DECIMALS=2", "X125"), {1.25, 0});
    expectNear(hitUnder("METRIC,TZ\n;DECIMALS=0000000000000000000000000002", "X125"), {1.25, 0});
    expectNear(hitUnder("METRIC,TZ\n;DECIMALS=00", "X125"), {125, 0});
    expectNear(hitUnder("METRIC\n;junk FILE_FORMAT=x FILE_FORMAT=2:4", "X125"), {0.0125, 0});
}

TEST(ExcellonParser, UnitsStartInInches) {
    const auto d = parseText("T1C0.02\nX10000Y20000\nM71\nX1.0Y2.0\n");
    EXPECT_NEAR(d.tools.at(1).diameterMM, 0.508, 1e-12);
    ASSERT_EQ(d.hits.size(), 2u);
    expectNear(d.hits[0].position, {25.4, 50.8});
    expectNear(d.hits[1].position, {1.0, 2.0});
    // Diameters without a point are thousandths of the file unit.
    EXPECT_NEAR(parseText("INCH\nT1C0.5\n").tools.at(1).diameterMM, 12.7, 1e-12);
    EXPECT_NEAR(parseText("INCH\nT1C500\n").tools.at(1).diameterMM, 12.7, 1e-12);
    // A tool table before the unit command (VeriBest: table, "%", then M71) takes the unit in force at
    // the first hit; tools defined later take the unit of their own line.
    const auto veribest = parseText("M48\nT01C.864\nT02C1.956\n%\nM71\nT01\nX1.0Y1.0\nT03C0.5\nT02\nX2.0Y2.0\nM30\n");
    EXPECT_NEAR(veribest.tools.at(1).diameterMM, 0.864, 1e-12);
    EXPECT_NEAR(veribest.tools.at(2).diameterMM, 1.956, 1e-12);
    EXPECT_NEAR(veribest.tools.at(3).diameterMM, 0.5, 1e-12);
    EXPECT_NEAR(veribest.bbox.maxX, 2.0 + 1.956 / 2, 1e-12);
    // A table written under a declared unit keeps it.
    EXPECT_NEAR(parseText("INCH\nT1C0.035\n%\nM71\nX1.0Y1.0\n").tools.at(1).diameterMM, 0.889, 1e-12);
    // Lower-case words are not words, but lower-case unit lines count.
    const auto lower = parseText("metric\nT1C0.8\nx1.0y1.0\nX1.0Y1.0\n");
    ASSERT_EQ(lower.hits.size(), 1u);
    expectNear(lower.hits[0].position, {1.0, 1.0});
}

TEST(ExcellonParser, ToolsHitsAndProgramEnd) {
    const auto d = parseText("M48\nMETRIC\nT01C0.8\nT02C0.8\n%\nX1.0Y2.0\nX3.0\nG04 X9.0Y9.0\nM47 X9.0Y9.0\n"
                             "T1\nY4.0\nM30\nX7.0Y7.0\n");
    ASSERT_EQ(d.hits.size(), 3u);
    EXPECT_EQ(d.hits[0].toolNumber, 2);  // the last definition selects its tool
    expectNear(d.hits[1].position, {3.0, 2.0});
    EXPECT_EQ(d.hits[2].toolNumber, 1);
    expectNear(d.hits[2].position, {3.0, 4.0});
    EXPECT_EQ(d.tools.size(), 2u);
    // Box: hit centres grown by the tool radius.
    EXPECT_NEAR(d.bbox.minX, 0.6, 1e-12);
    EXPECT_NEAR(d.bbox.maxY, 4.4, 1e-12);
    // A hit before any tool carries tool 0.
    EXPECT_EQ(parseText("METRIC\nX1.0Y1.0\n").hits.at(0).toolNumber, 0);
}

TEST(ExcellonParser, RoutedAndG85Slots) {
    const auto d = parseText("METRIC\nT3C1.0\nG00X1.0Y1.0\nM15\nG01X5.0Y1.0\nM16\nX1.0Y2.0G85X3.0Y2.0\n");
    EXPECT_TRUE(d.hits.empty());
    ASSERT_EQ(d.slots.size(), 2u);
    const auto* s = d.slots[0].kind.as<PCBObjectKind::Slot>();
    ASSERT_NE(s, nullptr);
    expectNear(s->start, {1, 1});
    expectNear(s->end, {5, 1});
    EXPECT_DOUBLE_EQ(s->diameterMM, 1.0);
    EXPECT_EQ(d.slots[0].apertureCode(), 3);
    EXPECT_EQ(d.slots[1].index, 1);
    const auto* g85 = d.slots[1].kind.as<PCBObjectKind::Slot>();
    expectNear(g85->start, {1, 2});
    expectNear(g85->end, {3, 2});
    EXPECT_NEAR(d.bbox.minX, 0.5, 1e-12);
    EXPECT_NEAR(d.bbox.maxX, 5.5, 1e-12);
    // A slot with no tool falls back to 0.1 mm.
    const auto bare = parseText("METRIC\nG85X3.0Y2.0\n");
    ASSERT_EQ(bare.slots.size(), 1u);
    EXPECT_DOUBLE_EQ(bare.slots[0].kind.as<PCBObjectKind::Slot>()->diameterMM, 0.1);
    EXPECT_FALSE(bare.slots[0].apertureCode().has_value());
}

TEST(ExcellonParser, RoutFiles) {
    // An Allegro NC route file: its tool table in comments, then paths routed between M15 and M16 (and the
    // older M14). Each straight move is one slot of the tool's width; a routed arc, with its centre as I/J
    // from the start or its radius as A, one slot per chord.
    const std::string rout = ";LEADER: 12\n;HEADER:\n;CODE  : ASCII\n;FILE  : board.rou for ... layers TOP and BOTTOM\n"
                             ";DESTINATION: NC ROUTE\n"
                             ";T01 Holesize 1. = 78.740158 Tolerance = +0.000000/-0.000000 NON_PLATED MILS Quantity = 3\n"
                             "%\nM71\nG90\nT01\n"
                             "G00X10.0Y10.0\nM15\nG01X30.0Y10.0\nG01X30.0Y20.0\nX10.0Y20.0\nM16\n"  // three segments
                             "G00X40.0Y15.0\nM15\nG03X50.0Y15.0I5.0J0.0\nM16\n"               // a half turn through y < 15
                             "G00X60.0Y10.0\nM14\nG02X70.0Y20.0A10.0\nX80.0Y30.0A10.0\nG01X90.0Y30.0\nM17\n"
                             "G00X0.0Y0.0\nX1.0Y1.0\nM30\n";
    const auto d = parseText(rout, "board.rou");
    ASSERT_EQ(d.tools.size(), 1u);
    EXPECT_NEAR(d.tools.at(1).diameterMM, 2.0, 1e-6);
    // The tool up again, a plain coordinate is a hole.
    ASSERT_EQ(d.hits.size(), 1u);
    expectNear(d.hits[0].position, {1, 1});
    ASSERT_GT(d.slots.size(), 6u);
    auto slot = [&](std::size_t k) { return *d.slots.at(k).kind.as<PCBObjectKind::Slot>(); };
    expectNear(slot(0).start, {10, 10});
    expectNear(slot(2).end, {10, 20});
    for (std::size_t k = 0; k < d.slots.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_NEAR(slot(k).diameterMM, 2.0, 1e-6);
        EXPECT_FALSE(slot(k).plated);
        EXPECT_EQ(d.slots[k].index, static_cast<std::int64_t>(k));
    }
    // Sorted into the two arcs and the last straight move, every chord joins the one before it and stays
    // on its arc's circle within a hundredth of a millimetre.
    std::vector<std::size_t> half, quarters;
    for (std::size_t k = 3; k + 1 < d.slots.size(); ++k) (slot(k).start.x < 55 ? half : quarters).push_back(k);
    auto onCircle = [&](const std::vector<std::size_t>& chords, Vec2 center, double r) {
        for (std::size_t k : chords) {
            const auto s = slot(k);
            EXPECT_NEAR(s.start.distance(center), r, 1e-9);
            EXPECT_NEAR(s.end.distance(center), r, 1e-9);
            const Vec2 mid{(s.start.x + s.end.x) / 2, (s.start.y + s.end.y) / 2};
            EXPECT_GT(mid.distance(center), r - 0.01);
            if (k != chords.front()) expectNear(s.start, slot(k - 1).end);
        }
    };
    ASSERT_GT(half.size(), 4u);
    expectNear(slot(half.front()).start, {40, 15});
    expectNear(slot(half.back()).end, {50, 15});
    for (std::size_t k : half) EXPECT_LE(slot(k).end.y, 15 + 1e-9);  // counter-clockwise from the left: below
    onCircle(half, {45, 15}, 5);
    // Two clockwise quarter turns of radius 10 (the shorter way round): centres (70, 10) and (80, 20).
    std::vector<std::size_t> first, second;
    for (std::size_t k : quarters) (slot(k).end.x <= 70 + 1e-9 ? first : second).push_back(k);
    onCircle(first, {70, 10}, 10);
    onCircle(second, {80, 20}, 10);
    expectNear(slot(second.back()).end, {80, 30});
    expectNear(slot(d.slots.size() - 1).start, {80, 30});
    expectNear(slot(d.slots.size() - 1).end, {90, 30});
    EXPECT_NEAR(d.bbox.maxX, 91.0, 1e-6);

    // A full turn by its centre; an arc without its centre or radius is routed straight, as is one whose
    // radius cannot reach: the centre then sits on the chord.
    const auto circle = parseText("M71\nT1C1.0\nG00X5.0Y0.0\nM15\nG02X5.0Y0.0I-5.0J0.0\nM16\n");
    EXPECT_GT(circle.slots.size(), 8u);
    EXPECT_NEAR(circle.bbox.minX, -5.5, 0.02);
    EXPECT_NEAR(circle.bbox.maxY, 5.5, 0.02);
    EXPECT_EQ(parseText("M71\nT1C1.0\nM15\nG03X5.0Y0.0\n").slots.size(), 1u);
    const auto shortRadius = parseText("M71\nT1C1.0\nM15\nG03X4.0Y0.0A1.0\n");
    for (const auto& o : shortRadius.slots) {
        EXPECT_NEAR(o.kind.as<PCBObjectKind::Slot>()->end.distance({2, 0}), 2.0, 1e-9);
    }
    // A hostile radius gives no more chords than a degree apart, and an arc too flat to tell from its chord
    // is its chord.
    const std::string far = std::string(12, '9') + ".0";
    const auto huge = parseText("M71\nT1C1.0\nG00X0.0Y0.0\nM15\nG02X0.0Y0.0I" + far + "J0.0\nG02X1.0Y0.0I0.0J-" + far +
                                "\nG03X5.0Y0.0A" + std::string(20, '9') + ".0\n");
    EXPECT_LE(huge.slots.size(), 360u + 2u);
    EXPECT_GE(huge.slots.size(), 2u + 2u);
    EXPECT_EQ(huge.slots.back().kind.as<PCBObjectKind::Slot>()->start, (Vec2{1, 0}));
    EXPECT_EQ(huge.slots.back().kind.as<PCBObjectKind::Slot>()->end, (Vec2{5, 0}));
    for (const auto& o : huge.slots) EXPECT_TRUE(o.kind.as<PCBObjectKind::Slot>()->end.isFinite());
}

TEST(ExcellonParser, Repeats) {
    const auto d = parseText("METRIC\nT1C0.5\nX0.0Y0.0\nR3X0.5\nR3\nM15\nR2X9.0\n");
    const std::vector<Vec2> want = {{0, 0}, {0.5, 0}, {1.0, 0}, {1.5, 0}};
    ASSERT_EQ(d.hits.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) expectNear(d.hits[i].position, want[i]);
    // In routing mode the R word is ignored and the line is a routed move.
    ASSERT_EQ(d.slots.size(), 1u);
    expectNear(d.slots[0].kind.as<PCBObjectKind::Slot>()->end, {9.0, 0});
}

TEST(ExcellonParser, RepeatedHitsAreCapped) {
    std::string text = "METRIC\nT1C0.1\nX0.0Y0.0\n";
    for (int i = 0; i < 150; ++i) text += "R10000X0.001\n";
    text += "R99999999999999999999999X1.0\nX5.0Y5.0\n";
    const auto d = parseText(text);
    // The first hit, the capped repeats, the last plain hit.
    EXPECT_EQ(d.hits.size(), 1u + static_cast<std::size_t>(ExcellonParser::maxRepeatedHits) + 1u);
    expectNear(d.hits.back().position, {5.0, 5.0});
    // Repeats never walk into infinity.
    const auto far = parseText("METRIC\nX1.0Y0\n" + std::string("R10000X") + std::string(300, '9') + ".0\n");
    for (const auto& h : far.hits) EXPECT_TRUE(std::isfinite(h.position.x));
}

TEST(ExcellonParser, AllegroToolComments) {
    const std::string allegro =
        ";LEADER: 12\n;HEADER:\n"
        ";T01 Holesize 1. = 12.000000 Tolerance = +2.000000/-2.000000 PLATED MILS Quantity = 2\n"
        ";T02 Holesize 2. = 3.200000 Tolerance = +0.000000/-0.000000 NON_PLATED MM Quantity = 1\n"
        "%\nT01\nX012345Y023456\nX013000Y023456\nT02\nX1Y1\nM30\n";
    const auto d = parseText(allegro);
    ASSERT_EQ(d.tools.size(), 2u);
    EXPECT_NEAR(d.tools.at(1).diameterMM, 12 * 0.0254, 1e-12);
    EXPECT_EQ(d.tools.at(1).plating, Plating::pth);
    EXPECT_NEAR(d.tools.at(2).diameterMM, 3.2, 1e-12);
    EXPECT_EQ(d.tools.at(2).plating, Plating::npth);
    ASSERT_EQ(d.hits.size(), 3u);
    EXPECT_EQ(d.hits[0].plating, Plating::pth);
    EXPECT_EQ(d.hits[2].plating, Plating::npth);
    expectNear(d.hits[0].position, {1.2345 * 25.4, 2.3456 * 25.4});
    // A C word defines the tool whether it comes before or after the comment.
    const auto after = parseText(";T01 Holesize 1. = 12.000000 PLATED MILS\nT01C0.020\n");
    EXPECT_NEAR(after.tools.at(1).diameterMM, 0.508, 1e-12);
    const auto before = parseText("T01C0.020\n;T01 Holesize 1. = 12.000000 PLATED MILS\n");
    EXPECT_NEAR(before.tools.at(1).diameterMM, 0.508, 1e-12);
    // Without a unit the comment defines nothing.
    EXPECT_TRUE(parseText(";T01 Holesize 1. = 12.000000 PLATED\n").tools.empty());

    // OrCAD/Allegro's own header form: the plating named per tool holds for that tool, even though
    // "NON_PLATED" stands elsewhere in the file, and even when a C word sizes the tool again.
    const std::string header =
        ";LEADER: 12\n;HEADER:\n;CODE  : ASCII\n;FILE  : arena-1-4.drl for ... layers TOP and BOTTOM\n"
        ";Holesize 1. = 12.000000 Tolerance = +2.000000/-2.000000 PLATED MILS Quantity = 2\n"
        ";Holesize 2. = 125.000000 Tolerance = +0.000000/-0.000000 NON_PLATED MILS Quantity = 1\n";
    for (const std::string& table : {std::string(), std::string("T01C0.0120\n")}) {
        const auto arena = parseText(header + table + "G90\nT01\nX02015Y01090\nX03625Y01479\nT02\nX01054Y00640\nM00\n");
        EXPECT_EQ(arena.tools.at(1).plating, Plating::pth);
        EXPECT_NEAR(arena.tools.at(1).diameterMM, 0.3048, 1e-12);
        EXPECT_EQ(arena.tools.at(2).plating, Plating::npth);
        ASSERT_EQ(arena.hits.size(), 3u);
        EXPECT_EQ(arena.hits[1].plating, Plating::pth);
        EXPECT_EQ(arena.hits[2].plating, Plating::npth);
    }
}

TEST(ExcellonParser, AllegroParameterFile) {
    EXPECT_TRUE(ExcellonParser::isAllegroParameterFile("NC_Param.txt"));
    EXPECT_FALSE(ExcellonParser::isAllegroParameterFile("nc_param.txt.bak"));
    const auto params = ExcellonParser::allegroParameters(
        "FORMAT               2.5\r\nOFFSETX              0.00000\nCOORDINATES          ABSOLUTE\n"
        "OUTPUT-UNITS         ENGLISH\nSUPPRESS-LEAD-ZEROES YES\nSUPPRESS-TRAIL-ZEROES NO\n");
    ASSERT_TRUE(params);
    EXPECT_EQ(*params, (ExcellonParser::FormatDefaults{false, 2, 5, false}));
    const auto metric = ExcellonParser::allegroParameters("FORMAT 3.5\nMETRIC\nSUPPRESS-TRAIL-ZEROES YES\n");
    EXPECT_EQ(metric, (ExcellonParser::FormatDefaults{true, 3, 5, true}));
    EXPECT_FALSE(ExcellonParser::allegroParameters("Drill report\nholes: 12\n"));
    // A header-less drill file read with them: 2.5 digits, not 2.4 (MinnowMax's holes landed 10x out).
    const std::string drill = ";LEADER: 12\n;Holesize 1. = 12.0 PLATED MILS\nG90\nT01\nX123456Y65432\nM00\n";
    const auto d = ExcellonParser{}.parse("board-1-4.drl", std::string_view(drill), *params);
    expectNear(d.hits.at(0).position, {1.23456 * 25.4, 0.65432 * 25.4});
    // The file's own header lines still win.
    const auto own = ExcellonParser{}.parse("x.drl", std::string_view("METRIC\n;FILE_FORMAT=3:3\nT1C0.5\nX1234Y5678\n"), *params);
    expectNear(own.hits.at(0).position, {1.234, 5.678});

    // Today's releases name the places apart; each zero mode reads the same point (1.2, 0.034) inch at 3.5.
    struct Mode {
        std::string lead, trail, x, y;
    };
    for (const Mode& m : {Mode{"NO", "NO", "00120000", "00003400"}, Mode{"YES", "NO", "120000", "3400"},
                          Mode{"NO", "YES", "0012", "000034"}}) {
        SCOPED_TRACE("lead " + m.lead + ", trail " + m.trail);
        const auto p = ExcellonParser::allegroParameters(
            "INTEGER-PLACES         3\nDECIMAL-PLACES         5\nX-OFFSET               0.000000\n"
            "COORDINATES            ABSOLUTE\nOUTPUT-UNITS           ENGLISH\nSUPPRESS-LEAD-ZEROES   " + m.lead +
            "\nSUPPRESS-TRAIL-ZEROES  " + m.trail + "\nSUPPRESS-EQUAL         NO\n");
        ASSERT_TRUE(p);
        const auto hit = ExcellonParser{}.parse("b-1-2.drl", std::string_view("T01\nX" + m.x + "Y" + m.y + "\nM00\n"), *p);
        expectNear(hit.hits.at(0).position, {1.2 * 25.4, 0.034 * 25.4});
    }
    // Both suppressed cannot be read either way: the zero mode stays the reader's own.
    EXPECT_EQ(ExcellonParser::allegroParameters("INTEGER-PLACES 2\nSUPPRESS-LEAD-ZEROES YES\nSUPPRESS-TRAIL-ZEROES YES\n"),
              (ExcellonParser::FormatDefaults{std::nullopt, 2, std::nullopt, std::nullopt}));

    // Places of the largest 64-bit count with trailing zeros dropped: the digits are padded no further than
    // a double can hold, and the counts are never added as given.
    const auto huge = ExcellonParser::allegroParameters(
        "INTEGER-PLACES 9223372036854775807\nDECIMAL-PLACES 9223372036854775807\nSUPPRESS-TRAIL-ZEROES YES\n");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->intDigits, INT64_MAX);
    const auto far = ExcellonParser{}.parse("b-1-2.drl", std::string_view("T01\nX0100000Y0100000\nX12Y3\nM00\n"), *huge);
    ASSERT_EQ(far.hits.size(), 2u);
    for (const auto& h : far.hits) EXPECT_TRUE(h.position.isFinite());

    // One line of a hundred million bytes: only its first two words are looked at, so reading it takes no
    // memory beyond the text (it took twelve times the text, a view per word).
    const auto oneLine = corvane::testing::runInChild([] {
        std::string text = "INTEGER-PLACES 3";
        text.reserve(100'000'100);
        for (int i = 0; i < 50'000'000; ++i) text += " x";
        text += "\nDECIMAL-PLACES 5\n";
        const auto p = ExcellonParser::allegroParameters(text);
        return p ? std::to_string(p->intDigits.value_or(-1)) + ":" + std::to_string(p->decDigits.value_or(-1)) : "none";
    });
    ASSERT_TRUE(oneLine.finished);
    EXPECT_EQ(oneLine.text, "3:5");
    EXPECT_LT(oneLine.peakGrowthKB, 300 * 1024);
}

TEST(ExcellonParser, Plating) {
    // Sections give their plating to the tools defined after them; vias stay plated.
    const auto d = parseText("M48\nMETRIC\n;TYPE=PLATED\nT1C0.3\nT2C1.0\n;TYPE=NON_PLATED\nT3C3.2\n%\n"
                             "T1\nX1.0Y1.0\nT3\nX2.0Y2.0\nM15\nX3.0Y2.0\nM16\n");
    EXPECT_EQ(d.tools.at(1).plating, Plating::pth);
    EXPECT_EQ(d.tools.at(2).plating, Plating::pth);
    EXPECT_EQ(d.tools.at(3).plating, Plating::npth);
    EXPECT_EQ(d.hits.at(0).plating, Plating::pth);
    EXPECT_EQ(d.hits.at(1).plating, Plating::npth);
    EXPECT_FALSE(d.slots.at(0).kind.as<PCBObjectKind::Slot>()->plated);
    // The X2 aperture-function comments work the same way.
    const auto kicad = parseText("M48\nMETRIC\n; #@! TA.AperFunction,Plated,PTH,ViaDrill\nT1C0.4\n"
                                 "; #@! TA.AperFunction,NonPlated,NPTH,ComponentDrill\nT2C3.0\n%\n");
    EXPECT_EQ(kicad.tools.at(1).plating, Plating::pth);
    EXPECT_EQ(kicad.tools.at(2).plating, Plating::npth);
    // The file-wide rule: words in the text, then the file name.
    EXPECT_EQ(parseText("; npth holes\nT1C0.3\nX1Y1\n").hits.at(0).plating, Plating::npth);
    EXPECT_EQ(parseText("; Plated holes\nT1C0.3\nX1Y1\n").tools.at(1).plating, Plating::pth);
    EXPECT_EQ(parseText("T1C0.3\nX1Y1\n", "board-NPTH.drl").hits.at(0).plating, Plating::npth);
    EXPECT_EQ(parseText("T1C0.3\nX1Y1\n", "board-PTH.drl").hits.at(0).plating, Plating::unknown);
    EXPECT_EQ(parseText("G85X1.0Y1.0\n", "x-NPTH.drl").slots.at(0).kind.as<PCBObjectKind::Slot>()->plated, false);
    EXPECT_EQ(parseText("; TYPE=PTH\nG85X1.0Y1.0\n").slots.at(0).kind.as<PCBObjectKind::Slot>()->plated, true);
}

TEST(ExcellonParser, HostileInput) {
    // A huge format hint and a long padding request stay bounded.
    const auto big = parseText(";FILE_FORMAT=99999:99999 T\nMETRIC\nT1C0.1\nX1Y1\nX" + std::string(5000, '1') + "\n");
    for (const auto& h : big.hits) {
        EXPECT_TRUE(std::isfinite(h.position.x));
        EXPECT_TRUE(std::isfinite(h.position.y));
    }
    // A very long hint line must not exhaust the stack.
    const auto spaces = parseText(";FILE_FORMAT=" + std::string(100000, ' ') + "\nMETRIC\nX1.0Y1.0\n");
    EXPECT_EQ(spaces.hits.size(), 1u);
    // Tool numbers and diameters beyond every range are ignored.
    const auto tools = parseText("T99999999999999999999C1.0\nT1C" + std::string(400, '9') + ".0\nT2C1..0\n");
    EXPECT_TRUE(tools.tools.empty());
    // Coordinates too large for a double are unreadable.
    const auto coords = parseText("METRIC\nX" + std::string(400, '9') + ".0Y1.0\n");
    ASSERT_EQ(coords.hits.size(), 1u);
    expectNear(coords.hits[0].position, {0, 1});
    // A line of junk letters is read only so far; the lines after it still count.
    const auto letters = parseText("METRIC\n" + std::string(1 << 20, 'Q') + "X1.0Y1.0\nX2.0Y2.0\n");
    ASSERT_EQ(letters.hits.size(), 1u);
    expectNear(letters.hits[0].position, {2, 2});
    // A format hint of the largest 64-bit counts: padding stays bounded and the sum of the counts is not
    // taken as given (it overflowed).
    const auto i64 = parseText(";FILE_FORMAT=9223372036854775807:9223372036854775807T\nINCH\nT1C0.01\nX1Y1\nX12345\n");
    ASSERT_EQ(i64.hits.size(), 2u);
    for (const auto& h : i64.hits) EXPECT_TRUE(h.position.isFinite());
    // A tool table comment whose size in inches passes the largest double defines no tool.
    const auto wide = parseText(";Holesize 1. = " + std::string(308, '9') + ".0 PLATED INCH\nT1\nX1.0Y1.0\n");
    EXPECT_EQ(wide.tools.count(1), 0u);
    // A hole whose edge would lie past the largest double is left out; the box stays finite.
    const auto edge = parseText("METRIC\nT1C4" + std::string(307, '0') + ".0\nX1.0Y1.0\nX17" + std::string(307, '0') +
                                ".0Y1.0\nT2C0.5\nX2.0Y2.0\n");
    ASSERT_EQ(edge.hits.size(), 2u);
    expectNear(edge.hits[1].position, {2, 2});
    EXPECT_TRUE(edge.bbox.isFinite());
    // Binary junk reads without failing.
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    EXPECT_NO_THROW(parseBytes(junk));
}
