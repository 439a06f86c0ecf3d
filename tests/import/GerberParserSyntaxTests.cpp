// Decoding, blocks, format, units, attributes, aperture definitions and the reader's warnings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "import/GerberTestHelpers.hpp"

using namespace corvane;
using namespace corvane::test;

namespace {

GerberParseError::Case errorCaseOf(std::string_view text, std::string* message = nullptr) {
    try {
        (void)parseDoc(text);
    } catch (const GerberParseError& e) {
        if (message) *message = e.what();
        return e.errorCase();
    }
    ADD_FAILURE() << "no error";
    return GerberParseError::Case::malformed;
}

const Aperture& aperture(const GerberDocument& doc, std::int64_t code) {
    const auto it = doc.apertures.find(code);
    EXPECT_NE(it, doc.apertures.end()) << "aperture " << code;
    static const Aperture none{0, ApertureShape::circle(0), std::nullopt};
    return it == doc.apertures.end() ? none : it->second;
}

bool hasWarning(const GerberParseResult& r, std::string_view text) {
    return std::find(r.warnings.begin(), r.warnings.end(), text) != r.warnings.end();
}

} // namespace

TEST(GerberParserErrors, EmptyAndBlankInputAreEmpty) {
    std::string message;
    EXPECT_EQ(errorCaseOf("", &message), GerberParseError::Case::emptyInput);
    EXPECT_EQ(message, "Gerber file is empty.");
    EXPECT_EQ(errorCaseOf(" \r\n\t\n  "), GerberParseError::Case::emptyInput);
    EXPECT_EQ(errorCaseOf("\xC2\xA0\n\xE2\x80\xA8"), GerberParseError::Case::emptyInput);  // NBSP, line separator
    const std::vector<std::uint8_t> none;
    EXPECT_THROW(GerberParser().parse("x.gbr", std::span<const std::uint8_t>(none)), GerberParseError);
}

TEST(GerberParserErrors, MissingFormatOnlyWithoutObjects) {
    std::string message;
    EXPECT_EQ(errorCaseOf("%MOMM*%\nG04 nothing here*\nM02*\n", &message), GerberParseError::Case::missingFormatStatement);
    EXPECT_EQ(message, "Gerber file has no %FS format specification.");

    // A lone format block is an empty layer, not an error.
    const GerberDocument onlyFormat = parseDoc("%FS*%");
    EXPECT_TRUE(onlyFormat.objects.empty());
    EXPECT_FALSE(onlyFormat.bbox.isValid());

    // Objects without a format statement use 2.6 with leading zeros omitted; without a unit command, inches.
    const GerberDocument noFormat = parseDoc("%MOMM*%\n%ADD10C,1*%\nD10*\nX1500000Y2000000D03*\n");
    ASSERT_EQ(noFormat.objects.size(), 1u);
    expectPoint(noFormat.objects[0].kind.as<PCBObjectKind::Flash>()->at, 1.5, 2.0);
    const GerberDocument noUnits = parseDoc("%ADD10C,0.01*%\nD10*\nX1500000Y2000000D03*\n");
    expectPoint(noUnits.objects.at(0).kind.as<PCBObjectKind::Flash>()->at, 38.1, 50.8);
    EXPECT_NEAR(noUnits.apertures.at(10).shape.boundingDiameter(), 0.254, 1e-12);
}

TEST(GerberParserErrors, MalformedDescription) {
    const GerberParseError e = GerberParseError::malformed("bad block");
    EXPECT_STREQ(e.what(), "Malformed Gerber: bad block");
    EXPECT_EQ(e.detail(), "bad block");
    EXPECT_EQ(e.errorCase(), GerberParseError::Case::malformed);
}

TEST(GerberParserDecoding, Latin1TextIsReadNotRejected) {
    // 0xA9 is "©" in Latin-1 and not valid UTF-8 on its own.
    const std::string text = "G04 Copyright \xA9 2020*\n%FSLAX26Y26*%\n%MOMM*%\n%ADD10C,1*%\n%TO.C,R\xB5" "1*%\n"
                             "D10*\nX1000000Y0D03*\nM02*\n";
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    const GerberDocument doc = GerberParser().parse("latin.gbr", std::span<const std::uint8_t>(bytes));
    ASSERT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0].component(), "R\xC2\xB5" "1");  // µ as UTF-8
}

TEST(GerberParserDecoding, LineEndingsAndByteOrderMarkDoNotChangeTheDocument) {
    const std::string lf = mmFile("%ADD10C,0.5*%\nD10*\nX0Y0D02*\nX1000000Y0D01*\nX2000000Y1000000D03*");
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const GerberDocument a = parseDoc(lf);
    const GerberDocument b = parseDoc(crlf);
    const GerberDocument c = parseDoc("\xEF\xBB\xBF" + lf);
    ASSERT_EQ(a.objects.size(), 2u);
    EXPECT_EQ(a.objects, b.objects);
    EXPECT_EQ(a.objects, c.objects);
}

TEST(GerberParserLexer, WordsContinueAcrossLineBreaksUnlessTheyStartWithACode) {
    // X100Y200 and D01* on two lines form one draw; G01 on its own line is a word of its own.
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,0.5*%\nD10*\nX0Y0D02*\nG01\nX1000000Y2000000\nD01*"));
    ASSERT_EQ(doc.objects.size(), 1u);
    const auto* s = doc.objects[0].kind.as<PCBObjectKind::Stroke>();
    ASSERT_NE(s, nullptr);
    expectPoint(s->end, 1.0, 2.0);
}

TEST(GerberParserLexer, PercentInsideACommentIsCommentText) {
    // EAGLE writes X2 attributes into comments with a single "%"; it must not open a block.
    const GerberParseResult r = parseGerber("G04 #@! %TF.GenerationSoftware,Autodesk,EAGLE,9.6.2*\n"
                                            "%FSLAX34Y34*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\n"
                                            "X10000Y20000D03*\nM02*\n");
    const GerberDocument& doc = r.document;
    ASSERT_EQ(doc.objects.size(), 1u);
    expectPoint(doc.objects[0].kind.as<PCBObjectKind::Flash>()->at, 1.0, 2.0);
    EXPECT_EQ(doc.units, Units::mm);
    EXPECT_EQ(doc.format, SourceFormat::gerberRS274X);
    EXPECT_FALSE(hasWarning(r, "No unit command; millimetres assumed."));
}

TEST(GerberParserLexer, UnterminatedBlockIsStillExecuted) {
    const GerberDocument doc = parseDoc("%FSLAX26Y26*%\n%ADD10C,1*%\nD10*\nX0Y0D03*\n%TF.FileFunction,Copper,L1,Top*");
    EXPECT_EQ(doc.fileFunction, "Copper,L1,Top");
    EXPECT_EQ(doc.objects.size(), 1u);
}

TEST(GerberParserFormat, DigitsZerosAndUnits) {
    auto flashX = [](std::string_view header, std::string_view x) {
        const GerberDocument doc = parseDoc(std::string(header) + "%ADD10C,1*%\nD10*\nX" + std::string(x) + "Y0D03*\n");
        EXPECT_EQ(doc.objects.size(), 1u);
        return doc.objects.empty() ? -1.0 : doc.objects[0].kind.as<PCBObjectKind::Flash>()->at.x;
    };
    EXPECT_DOUBLE_EQ(flashX("%FSLAX26Y26*%%MOMM*%", "1500"), 0.0015);
    EXPECT_DOUBLE_EQ(flashX("%FSTAX24Y24*%%MOMM*%", "15"), 15.0);      // trailing zeros omitted
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "15"), 0.0015);    // leading zeros omitted
    EXPECT_DOUBLE_EQ(flashX("%FSTAX34Y34*%%MOMM*%", "15"), 150.0);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y36*%%MOMM*%", "1500000"), 1.5);  // decimals from Y
    EXPECT_DOUBLE_EQ(flashX("%FSLAY36X24*%%MOMM*%", "1500000"), 1.5);  // Y first: format unchanged (2.6)
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOIN*%", "-10000"), -25.4);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "+10000"), 1.0);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "1.5"), 0.00015);  // a point is read as written
    // Long digit runs as CAD tools write them.
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "153228200"), 153.2282);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "-92325400"), -92.3254);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "12345678"), 12.345678);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "1234567890123"), 1234567.890123);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "12345678901234567"), 12345678901234567.0 / 1e6);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "1234567890123456789012"), 1234567890123456789012.0 / 1e6);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "1234567:"), 0.0);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX46Y46*%%MOMM*%", "12345/78"), 0.0);
    // Unreadable and non-finite values count as 0, never as a size or a box.
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "nan"), 0.0);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "1e999"), 0.0);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "inf"), 0.0);
    EXPECT_DOUBLE_EQ(flashX("%FSLAX24Y24*%%MOMM*%", "12a"), 0.0);
    // Huge digit counts pad to 32 characters at most.
    EXPECT_DOUBLE_EQ(flashX("%FSTAX999Y999*%%MOMM*%", "1"), 1e31 / 1e9);
}

TEST(GerberParserFormat, IncrementalNotationMovesFromTheCurrentPoint) {
    // The same square, written relative to the previous point in both axes: by the format statement
    // (trailing zeros omitted too) and by G91, which G90 ends.
    const std::string body = "%ADD10C,0.1*%\nD10*\nX10Y10D02*\nX20D01*\nY20D01*\nX-20D01*\nY-20D01*\nX05Y05D03*\n";
    for (const std::string& header : {std::string("%FSLIX24Y24*%%MOMM*%"), std::string("%FSTIX24Y24*%%MOMM*%"),
                                      std::string("%FSLAX24Y24*%%MOMM*%G91*")}) {
        SCOPED_TRACE(header);
        const bool trailing = header.find("FST") != std::string::npos;
        const double unit = trailing ? 1.0 : 0.0001;  // "10" is 10 mm or 0.001 mm
        const GerberParseResult r = parseGerber(header + body);
        EXPECT_TRUE(r.warnings.empty());
        ASSERT_EQ(r.document.objects.size(), 5u);
        const double corners[][2] = {{10, 10}, {30, 10}, {30, 30}, {10, 30}, {10, 10}};
        for (int k = 0; k < 4; ++k) {
            const auto* s = r.document.objects[static_cast<std::size_t>(k)].kind.as<PCBObjectKind::Stroke>();
            ASSERT_NE(s, nullptr);
            expectPoint(s->start, corners[k][0] * unit, corners[k][1] * unit);
            expectPoint(s->end, corners[k + 1][0] * unit, corners[k + 1][1] * unit);
        }
        expectPoint(r.document.objects[4].kind.as<PCBObjectKind::Flash>()->at, 15 * unit, 15 * unit);
    }
    // G90 returns to absolute coordinates.
    const GerberDocument back = parseDoc("%FSLAX24Y24*%%MOMM*%G91*%ADD10C,1*%D10*X10000Y10000D02*G90*X10000Y0D03*");
    expectPoint(back.objects.at(0).kind.as<PCBObjectKind::Flash>()->at, 1.0, 0.0);

    // Moves that add up past the largest double: the one that would is left out with a warning and the
    // current point stays, so nothing lands at infinity (the stroke and the board's box did).
    const std::string big(308, '9');  // 1e308 mm at 9:0 digits
    const GerberParseResult far = parseGerber("%FSLIX90Y90*%%MOMM*%%ADD10C,0.1*%D10*X" + big + "Y0D02*X" + big +
                                              "Y0D01*X-" + big + "Y1D01*X1Y1D03*");
    EXPECT_EQ(far.warnings, (std::vector<std::string>{"Incremental moves past the largest number were left out."}));
    ASSERT_EQ(far.document.objects.size(), 2u);
    const auto* back2 = far.document.objects[0].kind.as<PCBObjectKind::Stroke>();
    ASSERT_NE(back2, nullptr);
    expectPoint(back2->end, 0.0, 1.0);
    EXPECT_TRUE(far.document.bbox.isFinite());
    for (const PCBObject& o : far.document.objects) EXPECT_TRUE(o.isFinite());
}
TEST(GerberParserFormat, UnitsReported) {
    EXPECT_EQ(parseDoc("%FSLAX24Y24*%%MOIN*%").units, Units::mil);
    EXPECT_EQ(parseDoc("%FSLAX24Y24*%G70*").units, Units::mil);
    EXPECT_EQ(parseDoc("%FSLAX24Y24*%%MOIN*%G71*").units, Units::mm);
    EXPECT_EQ(parseDoc("%FSLAX24Y24*%%MOMM*%").units, Units::mm);
    EXPECT_EQ(parseDoc("%FSLAX24Y24*%").units, Units::mil);  // no unit command: inches
}

TEST(GerberParserAttributes, FileAttributesAndFormat) {
    const GerberDocument doc = parseDoc("%TF.FileFunction,Copper,L1,Top*%\n%TF.FilePolarity,Positive*%\n"
                                        "%TF.ProjectId,Board,1234,rev2*%\n%TF.CreationDate,2024-05-01T10:00:00*%\n"
                                        "%TF.*%\n%TF.Part,Single*%\n%TF.Part,Array*%\n%FSLAX26Y26*%\n");
    EXPECT_EQ(doc.format, SourceFormat::gerberX2);
    EXPECT_EQ(doc.fileFunction, "Copper,L1,Top");
    EXPECT_EQ(doc.filePolarity, "Positive");
    EXPECT_EQ(doc.projectID, "Board");
    EXPECT_EQ(doc.creationDate, "2024-05-01T10:00:00");
    EXPECT_EQ(doc.fileAttributes.at("ProjectId"), "Board,1234,rev2");
    EXPECT_EQ(doc.fileAttributes.at("Part"), "Array");  // a later value replaces the earlier
    EXPECT_EQ(doc.fileAttributes.size(), 5u);

    // Object and aperture attributes alone do not make an X2 file.
    EXPECT_EQ(parseDoc("%FSLAX26Y26*%%TO.N,GND*%%TA.AperFunction,ViaPad*%").format, SourceFormat::gerberRS274X);
}

TEST(GerberParserAttributes, FileFunctionFromCommentForm) {
    const GerberDocument fromComment = parseDoc("G04 #@! TF.FileFunction,Soldermask,Top*\n%FSLAX46Y46*%\n");
    EXPECT_EQ(fromComment.fileFunction, "Soldermask,Top");
    EXPECT_EQ(fromComment.format, SourceFormat::gerberRS274X);
    EXPECT_TRUE(fromComment.fileAttributes.empty());
    // The attribute itself wins over the comment, in either order.
    EXPECT_EQ(parseDoc("%TF.FileFunction,Copper,L2,Inr*%\nG04 #@! TF.FileFunction,Legend,Top*\n%FS*%").fileFunction,
              "Copper,L2,Inr");
    EXPECT_EQ(parseDoc("G04 #@! TF.FileFunction,Legend,Top*\n%TF.FileFunction,Copper,L2,Inr*%\n%FS*%").fileFunction,
              "Copper,L2,Inr");
    EXPECT_FALSE(parseDoc("G04 TF.FileFunction,Legend,Top*\n%FS*%").fileFunction.has_value());
}

TEST(GerberParserAttributes, ObjectAttributesFollowObjectsUntilDeleted) {
    const GerberDocument doc = parseDoc(mmFile(
        "%TA.AperFunction,SMDPad,CuDef*%\n%ADD10C,1*%\n%TD.AperFunction*%\n%TA.AperFunction*%\n"
        "%TO.N,GND*%\n%TO.C,R1*%\n%TO.P,R1,2*%\nD10*\nX0Y0D03*\n"
        "%TD.N*%\nX1000000Y0D03*\n%TD*%\nX2000000Y0D03*\n%TO.N,*%\nX3000000Y0D03*\n%TO.N,GND*%\nX4000000Y0D03*\n"
        "%TO.C,R1*%\n%TO.P,R1,2*%\nX5000000Y0D03*\n%TO.C,R1*%\nX6000000Y0D03*"));
    ASSERT_EQ(doc.objects.size(), 7u);
    // A run of objects under the same names shares one record of them, even across a command that names them
    // again; names that come back later are equal, and no names is no record.
    EXPECT_TRUE(doc.objects[6].attributes().sameAs(doc.objects[5].attributes()));
    EXPECT_EQ(doc.objects[5].attributes(), doc.objects[0].attributes());
    EXPECT_FALSE(doc.objects[4].attributes().sameAs(doc.objects[0].attributes()));
    EXPECT_FALSE(doc.objects[2].attributes());
    const PCBObject& first = doc.objects[0];
    EXPECT_EQ(first.net(), "GND");
    EXPECT_EQ(first.component(), "R1");
    EXPECT_EQ(first.pin(), "R1,2");
    EXPECT_FALSE(first.apertureFunction().has_value());  // cleared before the flash; a TA without value is ignored
    EXPECT_FALSE(doc.objects[1].net().has_value());
    EXPECT_EQ(doc.objects[1].component(), "R1");
    EXPECT_FALSE(doc.objects[2].component().has_value());
    EXPECT_EQ(doc.objects[3].net(), "");  // present but empty
}

TEST(GerberParserAttributes, PolarityChanges) {
    const GerberDocument doc = parseDoc(mmFile("%ADD10C,1*%\nD10*\nX0Y0D03*\n%LPC*%\nX0Y0D03*\n%LPD*%\nX0Y0D03*"));
    ASSERT_EQ(doc.objects.size(), 3u);
    EXPECT_EQ(doc.objects[0].polarity, Polarity::dark);
    EXPECT_EQ(doc.objects[1].polarity, Polarity::clear);
    EXPECT_EQ(doc.objects[2].polarity, Polarity::dark);
}

TEST(GerberParserApertures, StandardTemplates) {
    const GerberDocument doc = parseDoc("%FSLAX26Y26*%%MOMM*%\n%ADD10R,1.5*%\n%ADD11P,2*%\n%ADD12C,0.5X0.2*%\n"
                                        "%ADD13O,1X2*%\n%ADD14P,1X5X45*%\n%ADD15C*%\n%ADD16R,0.5X0.25X0.1*%\n"
                                        "%ADD17C,abc*%\n%ADD18C,nan*%\n%ADD19R,inf*%\n%AD,1*%\n%ADDC,1*%\n");
    EXPECT_EQ(aperture(doc, 10).shape, ApertureShape::rectangle(1.5, 1.5));
    EXPECT_EQ(aperture(doc, 11).shape, ApertureShape::polygon(2, 6, 0));
    EXPECT_EQ(aperture(doc, 12).shape, ApertureShape::circle(0.5));
    EXPECT_FALSE(aperture(doc, 12).holeDiameter.has_value());
    EXPECT_EQ(aperture(doc, 13).shape, ApertureShape::obround(1, 2));
    EXPECT_EQ(aperture(doc, 14).shape, ApertureShape::polygon(1, 5, 45));
    EXPECT_EQ(aperture(doc, 15).shape, ApertureShape::circle(0));  // defined even without parameters
    EXPECT_EQ(aperture(doc, 16).shape, ApertureShape::rectangle(0.5, 0.25));
    EXPECT_EQ(aperture(doc, 17).shape, ApertureShape::circle(0));
    EXPECT_EQ(aperture(doc, 18).shape, ApertureShape::circle(0));
    EXPECT_EQ(aperture(doc, 19).shape, ApertureShape::rectangle(0, 0));
    EXPECT_EQ(doc.apertures.size(), 10u);
}

TEST(GerberParserApertures, SizesFollowTheUnitInForce) {
    const GerberDocument doc = parseDoc("%FSLAX24Y24*%%MOIN*%\n%ADD10C,0.01*%\n%MOMM*%\n%ADD11C,0.01*%\n");
    EXPECT_DOUBLE_EQ(aperture(doc, 10).shape.as<ApertureShape::Circle>()->diameter, 0.254);
    EXPECT_DOUBLE_EQ(aperture(doc, 11).shape.as<ApertureShape::Circle>()->diameter, 0.01);
}

TEST(GerberParserApertures, LaterDefinitionReplacesAndHugeCountsAreRefused) {
    const GerberDocument doc = parseDoc("%FSLAX26Y26*%%MOMM*%\n%ADD10C,1*%\n%ADD10R,2X3*%\n%ADD11P,1X1e300*%\n"
                                        "%ADD99999999999999999999C,1*%\n");
    EXPECT_EQ(aperture(doc, 10).shape, ApertureShape::rectangle(2, 3));
    EXPECT_EQ(doc.apertures.count(11), 0u);
    EXPECT_EQ(doc.apertures.size(), 1u);
}

TEST(GerberParserApertures, MacroNamesAreMacrosWhateverTheirLastLetter) {
    const GerberDocument doc = parseDoc("%FSLAX26Y26*%%MOMM*%\n%AMOC8*5,1,8,0,0,1.08239X$1,22.5*%\n%ADD15OC8,1.2*%\n"
                                        "%AMBOXC*21,1,1,1,0,0,0*%\n%ADD16BOXC,1*%\n%ADD17UNDEFINEDC,0.3*%\n");
    const auto* oc8 = aperture(doc, 15).shape.as<ApertureShape::Macro>();
    ASSERT_NE(oc8, nullptr);
    EXPECT_EQ(oc8->name, "OC8");
    const auto* boxc = aperture(doc, 16).shape.as<ApertureShape::Macro>();
    ASSERT_NE(boxc, nullptr);
    EXPECT_EQ(boxc->name, "BOXC");
    // A name no %AM defined keeps the last-letter rule.
    EXPECT_EQ(aperture(doc, 17).shape, ApertureShape::circle(0.3));
}

TEST(GerberParserApertures, MacroBoundingDiameterFromNumericFields) {
    // One statement per line measures as one line; variables are not evaluated by the measure.
    const GerberDocument doc = parseDoc("%FSLAX26Y26*%%MOMM*%\n"
                                        "%AMA*1,1,0.5,1,0*21,1,2,1,0,0,0*%\n%ADD10A*%\n"
                                        "%AMB*\n1,1,0.5,1,0*\n21,1,2,1,0,0,0*\n%\n%ADD11B*%\n"
                                        "%AMV*1,1,$1,$2,$3*%\n%ADD12V,0.5X0X0*%\n");
    EXPECT_NEAR(aperture(doc, 10).shape.boundingDiameter(), 2.5, 1e-12);  // circle 0.25 + 1 reaches radius 1.25
    EXPECT_NEAR(aperture(doc, 11).shape.boundingDiameter(), 2.5, 1e-12);
    // Unmeasurable: the evaluated outline gives the size (a circle of 0.5).
    EXPECT_NEAR(aperture(doc, 12).shape.boundingDiameter(), 0.5, 1e-12);
}

TEST(GerberParserApertures, UnmeasurableMacroFallsBackToOneMillimetreInternally) {
    const GerberParseResult r = parseGerber("%FSLAX26Y26*%%MOMM*%\n%AMEMPTY*0 nothing*%\n%ADD10EMPTY*%\n");
    const auto* m = r.document.apertures.at(10).shape.as<ApertureShape::Macro>();
    ASSERT_NE(m, nullptr);
    EXPECT_DOUBLE_EQ(m->boundingDiameter, 1.0);
    EXPECT_FALSE(m->outline.has_value());
    ASSERT_EQ(r.internalWarnings.size(), 1u);
    EXPECT_EQ(r.internalWarnings[0], "Aperture macro 'EMPTY' could not be measured; using 1mm approximation.");
    EXPECT_TRUE(r.warnings.empty());
}

TEST(GerberParserApertures, MacroBodyCollectionAcrossBlocks) {
    // Statements after %AM up to the next %AD belong to the macro, also in later blocks; format and
    // polarity commands in between still act.
    const GerberDocument doc = parseDoc("%AMM*1,1,1,0,0*%\n%FSLAX26Y26*%\n%MOMM*%\n%1,1,3,0,0*%\n%ADD10M*%\n"
                                        "%1,1,9,0,0*%\n%ADD11M*%\n");
    EXPECT_NEAR(aperture(doc, 10).shape.boundingDiameter(), 3.0, 1e-12);
    EXPECT_NEAR(aperture(doc, 11).shape.boundingDiameter(), 3.0, 1e-12);  // the stray statement is ignored
}

TEST(GerberParserWarnings, PictureChangingCommandsWarnOnce) {
    const GerberParseResult r = parseGerber("%FSLAX26Y26*%\n%MOMM*%\n%SRX2Y3I1.0J1.0*%\n%SR*%\n%SRX2Y1I5J0*%\n"
                                            "%IPX*%\n%IPY*%\n%IPPOS*%\n");
    const std::vector<std::string> expected = {"Step & Repeat (SR) is not supported; geometry shown once.",
                                               "Unknown image polarity (IP); image shown positive."};
    EXPECT_EQ(r.warnings, expected);
}

TEST(GerberParserWarnings, ImagePolarityAndUnits) {
    EXPECT_TRUE(parseGerber("%FSLAX26Y26*%%MOMM*%%IPPOS*%").warnings.empty());
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%IPNEG*%").warnings,
              std::vector<std::string>{"Negative image polarity (IPNEG) is not supported; image shown positive."});
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%IPX*%").warnings,
              std::vector<std::string>{"Unknown image polarity (IP); image shown positive."});
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%").warnings, std::vector<std::string>{"No unit command; inches assumed."});
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%MIA1B0*%").warnings,
              std::vector<std::string>{"Image mirroring (MI) is not supported; image shown unmirrored."});
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%MIA0B1*%").warnings.size(), 1u);
    EXPECT_TRUE(parseGerber("%FSLAX26Y26*%%MOMM*%%MIA0B0*%").warnings.empty());
    EXPECT_TRUE(parseGerber("%FSLAX26Y26*%G70*").warnings.empty());
    EXPECT_TRUE(parseGerber("%FSLAX26Y26*%G71*").warnings.empty());
    EXPECT_TRUE(parseGerber("%FSLAX26Y26*%%MOIN*%").warnings.empty());
    // The document itself is unchanged by the warnings, but says what the image is, for the checks.
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%IPNEG*%").document.units, Units::mm);
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%IPNEG*%").document.imagePolarity, "Negative");
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%IPPOS*%").document.imagePolarity, "Positive");
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%%IPX*%").document.imagePolarity, std::nullopt);
    EXPECT_EQ(parseGerber("%FSLAX26Y26*%%MOMM*%").document.imagePolarity, std::nullopt);
}

TEST(GerberParserSafety, JunkAndUnbalancedInputIsTolerated) {
    // Binary junk, stray stars and blocks, absurd values: parsed without a crash, with what is readable.
    std::string junk = "%FSLAX26Y26*%%MOMM*%%ADD10C,1*%D10*";
    for (int i = 0; i < 256; ++i) junk.push_back(static_cast<char>((i * 37) & 0xFF));
    junk += "%%%***\nX1Y1D03*\nD99999999999999999999999*\nX99999999999999999999999999999999999999D03*\n";
    const GerberDocument doc = parseDoc(junk);
    for (const PCBObject& o : doc.objects) {
        if (o.bbox.isValid()) {
            EXPECT_TRUE(std::isfinite(o.bbox.minX) && std::isfinite(o.bbox.maxX));
        }
    }

    // A pad whose size reaches past the largest double from where it stands is left out with a warning;
    // the pad beside it stays.
    const GerberParseResult wide = parseGerber("%FSLAX90Y90*%%MOMM*%%ADD11R,1e308X1e308*%D11*X0Y0D03*X15" +
                                               std::string(307, '0') + "Y0D03*");
    EXPECT_EQ(wide.warnings, (std::vector<std::string>{"Objects whose coordinates or sizes are not finite numbers were left out."}));
    ASSERT_EQ(wide.document.objects.size(), 1u);
    EXPECT_EQ(wide.document.objects[0].index, 0);
    EXPECT_TRUE(wide.document.bbox.isFinite());

    // A word that line breaks split into pieces longer than any writer's is dropped; the words after it
    // are read, and the reader holds no copy of it.
    std::string split = "%FSLAX26Y26*%%MOMM*%%ADD10C,1*%D10*X1\n";
    for (int i = 0; i < 100'000; ++i) split += "1\n";
    split += "Y1D03*X2000000Y0D03*";
    const GerberDocument rest = parseDoc(split);
    ASSERT_EQ(rest.objects.size(), 1u);
    expectPoint(rest.objects[0].kind.as<PCBObjectKind::Flash>()->at, 2.0, 0.0);
}
