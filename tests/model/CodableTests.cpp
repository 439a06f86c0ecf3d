#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "TestLocale.hpp"
#include "model/Codable.hpp"

namespace corvane {
// A record of another component, written by the same rules from one field list.
struct RevisionRecord {
    std::string name;
    Date createdAt;
    std::optional<std::string> note;
    std::map<std::int64_t, std::string> labels;
};

constexpr auto revisionRecordFields = [](auto& c, auto& r) {
    c.field("name", r.name);
    c.field("createdAt", r.createdAt);
    c.optionalField("note", r.note);
    c.field("labels", r.labels);
};
Json encodeValue(const RevisionRecord& r, const CodingOptions& o) { return encodeRecord(r, o, revisionRecordFields); }
void decodeValue(const Json& j, RevisionRecord& r, const CodingOptions& o) { decodeRecord(j, r, o, revisionRecordFields); }
} // namespace corvane

using namespace corvane;

namespace {
using Kind = DecodingError::Kind;

template <class T>
DecodingError decodeFailure(std::string_view text, const CodingOptions& options = {}) {
    try {
        (void)decodeJSON<T>(text, options);
    } catch (const DecodingError& e) {
        return e;
    }
    ADD_FAILURE() << "decoded without error: " << text;
    return DecodingError(Kind::dataCorrupted, {"<none>"}, "no error");
}

template <class T>
EncodingError encodeFailure(const T& value, const CodingOptions& options = {}) {
    try {
        (void)encodeJSON(value, options);
    } catch (const EncodingError& e) {
        return e;
    }
    ADD_FAILURE() << "encoded without error";
    return EncodingError({"<none>"}, "no error");
}

template <class T>
T roundTrip(const T& value, const CodingOptions& options = {}) {
    return decodeJSON<T>(encodeJSON(value, options), options);
}

PCBObject object(PCBObjectKind kind, std::optional<ApertureShape> shape, std::int64_t index) {
    return PCBObject(std::move(kind), shape ? std::optional<std::int64_t>(10 + index) : std::nullopt, std::move(shape),
                     Polarity::dark, std::nullopt, std::nullopt, std::nullopt, std::nullopt, index);
}

PCBPackage samplePackage() {
    GerberDocument g;
    g.format = SourceFormat::gerberX2;
    g.units = Units::mil;
    const auto macro = ApertureShape::macro("OUTLINE4", 1.5, std::vector<Contour>{{{0, 0}, {1, 0}, {0, 1}}});
    g.apertures = {{10, Aperture{10, ApertureShape::circle(0.25), {}}},
                   {11, Aperture{11, ApertureShape::rectangle(1, 2), 0.4}},
                   {12, Aperture{12, ApertureShape::obround(1, 3), {}}},
                   {13, Aperture{13, ApertureShape::polygon(1, 6, 30), {}}},
                   {14, Aperture{14, macro, {}}}};
    g.objects = {object(PCBObjectKind::stroke({0, 0}, {10, 0}), ApertureShape::circle(0.25), 0),
                 object(PCBObjectKind::arcStroke({1, 0}, {-1, 0}, {0, 0}, true), ApertureShape::obround(1, 3), 1),
                 object(PCBObjectKind::flash({5, 5}), macro, 2),
                 object(PCBObjectKind::region({{{0, 0}, {2, 0}, {2, 2}}, {}}), std::nullopt, 3)};
    g.objects[1].setNet("GND");
    g.objects[1].setComponent("U1");
    g.objects[1].setPin("3");
    g.objects[1].setApertureFunction("Conductor");
    g.objects[3].polarity = Polarity::clear;
    g.fileFunction = "Copper,L1,Top";
    g.filePolarity = "Positive";
    g.imagePolarity = "Negative";
    g.fileAttributes = {{"FileFunction", "Copper,L1,Top"}, {"Part", ""}};
    g.projectID = "demo";
    g.creationDate = "2026-12-09T01:00:00Z";
    g.bbox = BBox{-1, -1, 10, 5};

    DrillDocument d;
    d.tools = {{1, DrillTool{1, 0.8, Plating::pth}}, {-2, DrillTool{-2, 3.0, Plating::npth}}};
    d.hits = {DrillHit{{1, 1}, 1, Plating::pth}, DrillHit{{2, 2}, 0, Plating::unknown}};
    d.slots = {object(PCBObjectKind::slot({0, 0}, {2, 0}, 1, true), std::nullopt, 0),
               object(PCBObjectKind::drill({3, 3}, 0.5, false), std::nullopt, 1)};
    d.units = Units::mm;
    d.bbox = BBox{0, 0, 3, 3};
    d.fileName = "board.drl";

    PCBPackage p;
    p.name = "demo";
    p.sourceFileName = "demo.zip";
    p.files = {PackageFile{"top.gtl", "gerbers/top.gtl", SourceFormat::gerberX2,
                           LayerType::copper(CopperLayerID::top()), DetectionConfidence::high, g, std::nullopt,
                           "0123456789abcdef"},
               PackageFile{"board.drl", "board.drl", SourceFormat::excellon, LayerType::drill(),
                           DetectionConfidence::manual, std::nullopt, d, "fedcba9876543210"},
               PackageFile{"in2.g2", "in2.g2", SourceFormat::unknown,
                           LayerType::solderMask(CopperLayerID::inner(2)), DetectionConfidence::low, std::nullopt,
                           std::nullopt, ""}};
    p.warnings = {"skipped readme.txt"};
    p.importedAt = Date{786000000.25};
    return p;
}
} // namespace

// ---- Written form --------------------------------------------------------------------------------------

TEST(JSONForm, PresetListIsAnArrayOfFiveMemberObjects) {
    const std::vector<ManufacturingPreset> presets{{"My Factory", 0.1, 0.1, 0.2, 0.15}};
    const Json json = Json::parse(encodeJSON(presets));
    EXPECT_EQ(json, Json::parse(R"([{"name":"My Factory","minTraceMM":0.1,"minSpaceMM":0.1,"minDrillMM":0.2,
                                     "minAnnularRingMM":0.15}])"));
    EXPECT_EQ(roundTrip(presets), presets);
}

TEST(JSONForm, AbsentOptionalsAreLeftOut) {
    const CheckIssue bare{"minTrace", CheckSeverity::warning, "Thin track", "0.08 mm", std::nullopt, std::nullopt};
    EXPECT_EQ(toJSON(bare), Json::parse(R"({"id":"minTrace","severity":"warning","title":"Thin track",
                                           "message":"0.08 mm"})"));
    CheckIssue full = bare;
    full.fileName = "top.gtl";
    full.position = Vec2{1.5, -2};
    EXPECT_EQ(toJSON(full)["position"], Json::parse(R"({"x":1.5,"y":-2})"));
    EXPECT_EQ(roundTrip(full), full);

    BoardSummary summary;
    summary.smallestDrillMM = 0.3;
    const Json s = toJSON(summary);
    EXPECT_FALSE(s.contains("minTrackMM"));
    EXPECT_FALSE(s.contains("minSpaceMM"));
    EXPECT_EQ(s["smallestDrillMM"], 0.3);
    EXPECT_EQ(s.size(), 9u);
}

TEST(JSONForm, PayloadEnumsAreOneMemberObjects) {
    EXPECT_EQ(toJSON(CopperLayerID::inner(2)), Json::parse(R"({"inner":{"_0":2}})"));
    EXPECT_EQ(toJSON(CopperLayerID::bottom()), Json::parse(R"({"bottom":{}})"));
    EXPECT_EQ(toJSON(LayerType::copper(CopperLayerID::top())), Json::parse(R"({"copper":{"_0":{"top":{}}}})"));
    EXPECT_EQ(toJSON(LayerType::outline()), Json::parse(R"({"outline":{}})"));
    EXPECT_EQ(toJSON(ApertureShape::circle(0.25)), Json::parse(R"({"circle":{"diameter":0.25}})"));
    EXPECT_EQ(toJSON(ApertureShape::polygon(1, 6, 30)),
              Json::parse(R"({"polygon":{"diameter":1,"vertices":6,"rotationDeg":30}})"));
    EXPECT_TRUE(toJSON(ApertureShape::polygon(1, 6, 30))["polygon"]["vertices"].is_number_integer());
    EXPECT_EQ(toJSON(PCBObjectKind::arcStroke({0, 1}, {2, 3}, {4, 5}, true)),
              Json::parse(R"({"arcStroke":{"start":{"x":0,"y":1},"end":{"x":2,"y":3},"center":{"x":4,"y":5},
                              "clockwise":true}})"));
    EXPECT_EQ(toJSON(PCBObjectKind::region({{{0, 0}}, {}})),
              Json::parse(R"({"region":{"contours":[[{"x":0,"y":0}],[]]}})"));
    EXPECT_EQ(toJSON(PCBObjectKind::slot({0, 0}, {1, 0}, 0.5, false)),
              Json::parse(R"({"slot":{"start":{"x":0,"y":0},"end":{"x":1,"y":0},"diameterMM":0.5,"plated":false}})"));
}

TEST(JSONForm, MacroOutlineIsWrittenOnlyWhenPresent) {
    EXPECT_EQ(toJSON(ApertureShape::macro("M1", 2)), Json::parse(R"({"macro":{"name":"M1","boundingDiameter":2}})"));
    const auto withOutline = ApertureShape::macro("M1", 2, std::vector<Contour>{{{0, 0}, {1, 0}, {1, 1}}, {}});
    EXPECT_EQ(toJSON(withOutline)["macro"]["outline"],
              Json::parse(R"([[{"x":0,"y":0},{"x":1,"y":0},{"x":1,"y":1}],[]])"));
    EXPECT_EQ(roundTrip(withOutline), withOutline);
    EXPECT_EQ(decodeJSON<ApertureShape>(R"({"macro":{"name":"M1","boundingDiameter":2,"outline":null}})"),
              ApertureShape::macro("M1", 2));
}

TEST(JSONForm, RawEnumsAndIntKeyedMaps) {
    EXPECT_EQ(toJSON(SourceFormat(SourceFormat::gerberRS274X)), "RS-274X");
    EXPECT_EQ(toJSON(Polarity(Polarity::clear)), "clear");
    EXPECT_EQ(toJSON(DetectionConfidence(DetectionConfidence::manual)), "manual");
    EXPECT_EQ(toJSON(Plating(Plating::npth)), "npth");

    GerberDocument g;
    g.bbox = BBox{0, 0, 1, 1};
    g.apertures = {{10, Aperture{10, ApertureShape::circle(1), {}}}, {-3, Aperture{-3, ApertureShape::circle(2), {}}}};
    const Json json = toJSON(g);
    EXPECT_EQ(json["apertures"].size(), 2u);
    EXPECT_TRUE(json["apertures"].contains("10"));
    EXPECT_TRUE(json["apertures"].contains("-3"));
    EXPECT_EQ(json["format"], "Unknown");
    EXPECT_EQ(json["fileAttributes"], Json::object());
    EXPECT_FALSE(json.contains("fileFunction"));
}

// ---- Round trips ---------------------------------------------------------------------------------------

TEST(JSONRoundTrip, WholePackageComesBackFieldForField) {
    const PCBPackage original = samplePackage();
    const Json first = toJSON(original);
    const PCBPackage back = fromJSON<PCBPackage>(first);
    EXPECT_EQ(toJSON(back), first);

    ASSERT_EQ(back.files.size(), 3u);
    const auto& g = *back.files[0].gerber;
    const auto& g0 = *original.files[0].gerber;
    EXPECT_EQ(g.objects, g0.objects);
    EXPECT_EQ(g.apertures, g0.apertures);
    EXPECT_EQ(g.fileAttributes, g0.fileAttributes);
    EXPECT_EQ(g.creationDate, g0.creationDate);
    EXPECT_EQ(g.imagePolarity, "Negative");
    EXPECT_EQ(g.units, Units::mil);
    EXPECT_EQ(back.files[1].drill->tools, original.files[1].drill->tools);
    EXPECT_EQ(back.files[1].drill->hits, original.files[1].drill->hits);
    EXPECT_EQ(back.files[1].drill->slots, original.files[1].drill->slots);
    EXPECT_EQ(back.files[2].layerType, LayerType::solderMask(CopperLayerID::inner(2)));
    EXPECT_FALSE(back.files[2].gerber.has_value());
    EXPECT_EQ(back.importedAt, original.importedAt);
    EXPECT_EQ(back.warnings, original.warnings);

    // A board edge the importer found comes back with its file; a file without one keeps the older form.
    EXPECT_FALSE(first["files"][0].contains("boardEdgeBox"));
    PCBPackage edged = original;
    edged.files[0].boardEdgeBox = BBox{1, 2, 30, 20};
    EXPECT_EQ(fromJSON<PCBPackage>(toJSON(edged)).files[0].boardEdgeBox, edged.files[0].boardEdgeBox);
}

TEST(JSONRoundTrip, ResultRecords) {
    const DiffChange change{"Removed", "Slot", {1, 2}, {0, 1, 2, 3}, "slot at 1, 2"};
    const PackageDiff diff{{LayerDiffResult{"Top Copper", "a.gtl", "b.gtl", {change}, {}}}, {"x"}, {}, "A", "B"};
    const auto back = roundTrip(diff);
    ASSERT_EQ(back.layers.size(), 1u);
    EXPECT_EQ(back.layers[0].added, std::vector<DiffChange>{change});
    EXPECT_EQ(back.unmatchedFilesA, diff.unmatchedFilesA);
    EXPECT_EQ(toJSON(back), toJSON(diff));

    BoardSummary s{10, 20, 4, 100, 50, 0.1, std::nullopt, false, 0.3, 40, 10};
    EXPECT_EQ(toJSON(roundTrip(s)), toJSON(s));
    const DrillStat stat{0.8, Plating::pth, 12};
    EXPECT_EQ(roundTrip(stat), stat);
    // A hole row keeps its old form; a slot row says so.
    EXPECT_EQ(toJSON(stat).dump().find("slot"), std::string::npos);
    const DrillStat slots{1.2, Plating::npth, 3, true};
    EXPECT_EQ(roundTrip(slots), slots);
    for (const auto& c : {CopperLayerID::top(), CopperLayerID::inner(-7), CopperLayerID::bottom()})
        EXPECT_EQ(roundTrip(c), c);
    for (const auto& t : {LayerType::paste(CopperLayerID::bottom()), LayerType::silkscreen(CopperLayerID::inner(1)),
                          LayerType::drill(), LayerType::unknown()})
        EXPECT_EQ(roundTrip(t), t);
}

TEST(JSONRoundTrip, StoredValuesAreNotRecomputed) {
    // The stored box wins over what the kind would give.
    const auto decoded = decodeJSON<PCBObject>(
        R"({"kind":{"flash":{"at":{"x":5,"y":5}}},"polarity":"dark","bbox":{"minX":0,"minY":0,"maxX":1,"maxY":1},
            "index":7,"apertureCode":null})");
    EXPECT_EQ(decoded.bbox, (BBox{0, 0, 1, 1}));
    EXPECT_EQ(decoded.index, 7);
    EXPECT_FALSE(decoded.apertureCode().has_value());

    const auto report = decodeJSON<DFMReport>(
        R"({"issues":[{"id":"a","severity":"info","title":"t","message":"m"},
                      {"id":"b","severity":"error","title":"t","message":"m"}],"checkedAt":12.5})");
    ASSERT_EQ(report.issues.size(), 2u);
    EXPECT_EQ(report.issues[0].id, "a");
    EXPECT_EQ(report.errorCount(), 1);
    EXPECT_FALSE(report.presetName.has_value());
    EXPECT_EQ(report.checkedAt.timeIntervalSinceReferenceDate, 12.5);
}

// ---- Decoding rules and failures -----------------------------------------------------------------------

TEST(JSONDecoding, OptionalsAcceptMissingOrNullButNotAWrongKind) {
    const std::string base =
        R"("widthMM":1,"heightMM":2,"copperLayerCount":2,"padCount":0,"drillCount":0,"minSpaceReliable":true,
           "pthCount":0,"npthCount":0)";
    EXPECT_FALSE(decodeJSON<BoardSummary>("{" + base + "}").minTrackMM.has_value());
    EXPECT_FALSE(decodeJSON<BoardSummary>("{" + base + R"(,"minTrackMM":null})").minTrackMM.has_value());
    EXPECT_EQ(decodeJSON<BoardSummary>("{" + base + R"(,"minTrackMM":0.125})").minTrackMM, 0.125);
    const auto e = decodeFailure<BoardSummary>("{" + base + R"(,"minTrackMM":"0.1"})");
    EXPECT_EQ(e.kind(), Kind::typeMismatch);
    EXPECT_EQ(e.codingPath(), CodingPath{"minTrackMM"});
}

TEST(JSONDecoding, RequiredFieldsMustBePresentAndNotNull) {
    const auto missing = decodeFailure<ManufacturingPreset>(R"({"name":"x","minTraceMM":1,"minSpaceMM":1,"minDrillMM":1})");
    EXPECT_EQ(missing.kind(), Kind::keyNotFound);
    EXPECT_EQ(missing.codingPath(), CodingPath{"minAnnularRingMM"});
    EXPECT_NE(std::string(missing.what()).find("minAnnularRingMM"), std::string::npos);

    const auto null = decodeFailure<Vec2>(R"({"x":null,"y":1})");
    EXPECT_EQ(null.kind(), Kind::valueNotFound);
    EXPECT_EQ(null.codingPath(), CodingPath{"x"});

    EXPECT_EQ(decodeFailure<Vec2>("[1,2]").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<Vec2>("null").kind(), Kind::valueNotFound);
    // Unknown members are ignored.
    EXPECT_EQ(decodeJSON<Vec2>(R"({"x":1,"y":2,"z":3,"X":"no"})"), (Vec2{1, 2}));
}

TEST(JSONDecoding, ScalarKindsAreStrict) {
    EXPECT_EQ(decodeJSON<Vec2>(R"({"x":1,"y":-2})"), (Vec2{1, -2}));  // integers are numbers too
    EXPECT_EQ(decodeFailure<Vec2>(R"({"x":"1","y":2})").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<Vec2>(R"({"x":true,"y":2})").kind(), Kind::typeMismatch);

    const auto tool = [](const std::string& number) {
        return R"({"number":)" + number + R"(,"diameterMM":1,"plating":"pth"})";
    };
    EXPECT_EQ(decodeJSON<DrillTool>(tool("3.0")).number, 3);
    EXPECT_EQ(decodeJSON<DrillTool>(tool("9223372036854775807")).number, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(decodeJSON<DrillTool>(tool("-9223372036854775808")).number, std::numeric_limits<std::int64_t>::min());
    for (const char* bad : {"1.5", "9223372036854775808", "1e19", "-1e300", "\"3\"", "true"}) {
        const auto e = decodeFailure<DrillTool>(tool(bad));
        EXPECT_EQ(e.codingPath(), CodingPath{"number"}) << bad;
        EXPECT_NE(e.kind(), Kind::keyNotFound) << bad;
    }
    EXPECT_EQ(decodeFailure<DrillTool>(tool("1.5")).kind(), Kind::dataCorrupted);

    EXPECT_EQ(decodeFailure<PCBObjectKind>(R"({"drill":{"at":{"x":0,"y":0},"diameterMM":1,"plated":1}})").codingPath(),
              (CodingPath{"drill", "plated"}));
    EXPECT_EQ(decodeFailure<PackageFile>(R"({"fileName":7})").codingPath(), CodingPath{"fileName"});
}

TEST(JSONDecoding, RawEnumsMustMatchExactly) {
    const auto e = decodeFailure<DetectionConfidence>(R"("Manual")");
    EXPECT_EQ(e.kind(), Kind::dataCorrupted);
    EXPECT_STREQ(e.what(), "Cannot initialize DetectionConfidence from invalid String value Manual");
    EXPECT_EQ(decodeJSON<DetectionConfidence>(R"("manual")"), DetectionConfidence::manual);
    EXPECT_EQ(decodeFailure<Units>(R"("MM")").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<Plating>(R"(" pth")").kind(), Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<SourceFormat>("1").kind(), Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<CheckSeverity>(R"({"error":{}})").kind(), Kind::typeMismatch);
}

TEST(JSONDecoding, PayloadEnumsNeedExactlyOneCaseKey) {
    for (const char* bad : {R"({"top":{},"bottom":{}})", R"({})", R"({"middle":{}})"}) {
        const auto e = decodeFailure<CopperLayerID>(bad);
        EXPECT_EQ(e.kind(), Kind::typeMismatch) << bad;
        EXPECT_STREQ(e.what(), "Invalid number of keys found, expected one.");
        EXPECT_TRUE(e.codingPath().empty()) << bad;
    }
    EXPECT_EQ(decodeJSON<CopperLayerID>(R"({"top":{},"note":"x"})"), CopperLayerID::top());
    EXPECT_EQ(decodeJSON<LayerType>(R"({"outline":{"ignored":1}})"), LayerType::outline());
    EXPECT_EQ(decodeJSON<CopperLayerID>(R"({"inner":{"_0":4}})"), CopperLayerID::inner(4));

    EXPECT_EQ(decodeFailure<LayerType>(R"("outline")").kind(), Kind::typeMismatch);
    const auto notObject = decodeFailure<LayerType>(R"({"outline":[]})");
    EXPECT_EQ(notObject.kind(), Kind::typeMismatch);
    EXPECT_EQ(notObject.codingPath(), CodingPath{"outline"});
    EXPECT_EQ(decodeFailure<ApertureShape>(R"({"circle":0.5})").codingPath(), CodingPath{"circle"});

    const auto innerMissing = decodeFailure<CopperLayerID>(R"({"inner":{"0":4}})");
    EXPECT_EQ(innerMissing.kind(), Kind::keyNotFound);
    EXPECT_EQ(innerMissing.codingPath(), (CodingPath{"inner", "_0"}));

    // The error inside a nested enum carries the path of the object that holds the keys.
    const auto nested = decodeFailure<LayerType>(R"({"copper":{"_0":{"top":{},"inner":{"_0":1}}}})");
    EXPECT_STREQ(nested.what(), "Invalid number of keys found, expected one.");
    EXPECT_EQ(nested.codingPath(), (CodingPath{"copper", "_0"}));
}

TEST(JSONDecoding, IntKeysFollowDecimalIntegerText) {
    const auto doc = [](const std::string& key) {
        return R"({"format":"RS-274X","units":"mm","objects":[],"fileAttributes":{},
                   "bbox":{"minX":0,"minY":0,"maxX":1,"maxY":1},
                   "apertures":{")" + key + R"(":{"code":10,"shape":{"circle":{"diameter":0.1}}}}})";
    };
    EXPECT_EQ(decodeJSON<GerberDocument>(doc("10")).apertures.count(10), 1u);
    EXPECT_EQ(decodeJSON<GerberDocument>(doc("-3")).apertures.count(-3), 1u);
    EXPECT_EQ(decodeJSON<GerberDocument>(doc("+5")).apertures.count(5), 1u);
    EXPECT_EQ(decodeJSON<GerberDocument>(doc("007")).apertures.count(7), 1u);
    for (const char* bad : {"D10", "", " 10", "10 ", "1.0", "1e1", "+-1", "0x10", "99999999999999999999"}) {
        const auto e = decodeFailure<GerberDocument>(doc(bad));
        EXPECT_EQ(e.kind(), Kind::typeMismatch) << bad;
        EXPECT_EQ(e.codingPath(), (CodingPath{"apertures", bad})) << bad;
    }
    // Two spellings of one number would silently lose one aperture.
    const auto dup = decodeFailure<DrillDocument>(
        R"({"tools":{"7":{"number":7,"diameterMM":1,"plating":"pth"},"07":{"number":7,"diameterMM":2,"plating":"pth"}},
            "hits":[],"slots":[],"units":"mm","bbox":{"minX":0,"minY":0,"maxX":0,"maxY":0},"fileName":"a"})");
    EXPECT_EQ(dup.kind(), Kind::dataCorrupted);
    EXPECT_EQ(dup.codingPath().front(), "tools");
}

TEST(JSONDecoding, ErrorsCarryTheFullCodingPath) {
    Json json = toJSON(samplePackage());
    json["files"][0]["gerber"]["objects"][2]["kind"]["flash"]["at"]["y"] = "five";
    try {
        (void)fromJSON<PCBPackage>(json);
        FAIL() << "decoded a corrupted package";
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.kind(), Kind::typeMismatch);
        EXPECT_EQ(e.codingPath(), (CodingPath{"files", "Index 0", "gerber", "objects", "Index 2", "kind", "flash",
                                              "at", "y"}));
        EXPECT_EQ(codingPathText(e.codingPath()), "files/Index 0/gerber/objects/Index 2/kind/flash/at/y");
    }

    json = toJSON(samplePackage());
    json["files"][1]["drill"]["tools"]["-2"]["plating"] = "PTH";
    const auto e = decodeFailure<PCBPackage>(json.dump());
    EXPECT_EQ(e.codingPath(), (CodingPath{"files", "Index 1", "drill", "tools", "-2", "plating"}));

    const auto list = decodeFailure<std::vector<ManufacturingPreset>>(
        R"([{"name":"a","minTraceMM":1,"minSpaceMM":1,"minDrillMM":1,"minAnnularRingMM":1},
            {"name":"b","minTraceMM":1,"minSpaceMM":1,"minDrillMM":null,"minAnnularRingMM":1}])");
    EXPECT_EQ(list.kind(), Kind::valueNotFound);
    EXPECT_EQ(list.codingPath(), (CodingPath{"Index 1", "minDrillMM"}));
}

TEST(JSONDecoding, InvalidTextIsDataCorruptedAndNothingIsAssigned) {
    for (const char* bad : {"", "{", "[1,]", "{\"x\":1,}", "nul", "{\"x\":1e400,\"y\":0}", "{\"x\":1} trailing",
                            "{\"x\":\"\xff\",\"y\":0}"}) {
        const auto e = decodeFailure<Vec2>(bad);
        EXPECT_EQ(e.kind(), Kind::dataCorrupted) << bad;
        EXPECT_STREQ(e.what(), "The given data was not valid JSON.");
        EXPECT_TRUE(e.codingPath().empty());
    }
    std::vector<ManufacturingPreset> stored{{"kept", 1, 2, 3, 4}};
    EXPECT_THROW(stored = decodeJSON<std::vector<ManufacturingPreset>>(
                     R"([{"name":"new","minTraceMM":1,"minSpaceMM":1,"minDrillMM":1,"minAnnularRingMM":1},7])"),
                 DecodingError);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "kept");
}

TEST(JSONDecoding, DeeplyNestedUnknownMembersDoNotOverflow) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(decodeJSON<Vec2>(R"({"x":1,"y":2,"junk":)" + deep + "}"), (Vec2{1, 2}));
    EXPECT_EQ(decodeFailure<PCBObjectKind>(R"({"region":{"contours":)" + deep + "}}").kind(), Kind::typeMismatch);
}

// ---- Encoding failures ---------------------------------------------------------------------------------

TEST(JSONEncoding, NonFiniteNumbersFailWithTheirPath) {
    const auto empty = encodeFailure(BBox::empty());
    EXPECT_EQ(empty.codingPath(), CodingPath{"minX"});
    EXPECT_NE(std::string(empty.what()).find("infinity"), std::string::npos);

    auto package = samplePackage();
    package.files[0].gerber->apertures[11].shape = ApertureShape::rectangle(1, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(encodeFailure(package).codingPath(),
              (CodingPath{"files", "Index 0", "gerber", "apertures", "11", "shape", "rectangle", "height"}));

    GerberDocument g;  // an empty layer keeps the empty box
    EXPECT_EQ(encodeFailure(g).codingPath(), (CodingPath{"bbox", "minX"}));
    const CorvaneError& base = encodeFailure(Date{std::numeric_limits<double>::infinity()});
    EXPECT_NE(std::string(base.what()).find("infinity"), std::string::npos);
}

TEST(JSONEncoding, InvalidUTF8IsReplacedNotThrown) {
    const ManufacturingPreset p{"bad \xff name", 1, 1, 1, 1};
    const auto text = encodeJSON(p);
    EXPECT_EQ(decodeJSON<ManufacturingPreset>(text).name, "bad \xEF\xBF\xBD name");
}

// ---- Dates ---------------------------------------------------------------------------------------------

TEST(JSONDates, DefaultFormIsSecondsSinceTheReferenceDate) {
    DFMReport report({}, "Std", Date{-12.75});
    EXPECT_EQ(toJSON(report)["checkedAt"], -12.75);
    EXPECT_EQ(roundTrip(report).checkedAt, report.checkedAt);
    EXPECT_EQ(decodeFailure<DFMReport>(R"({"issues":[],"checkedAt":"2001-01-01T00:00:00Z"})").codingPath(),
              CodingPath{"checkedAt"});
}

TEST(JSONDates, ISO8601FormInWholeUTCSeconds) {
    EXPECT_EQ(iso8601Text(Date{0}), "2001-01-01T00:00:00Z");
    EXPECT_EQ(iso8601Text(Date::fromUnix(0)), "1970-01-01T00:00:00Z");
    EXPECT_EQ(iso8601Text(Date{-0.5}), "2000-12-31T23:59:59Z");  // rounded down, not to nearest
    EXPECT_EQ(iso8601Text(Date::fromUnix(951782400)), "2000-02-29T00:00:00Z");
    EXPECT_EQ(iso8601Text(Date::fromUnix(1796779902.9)), "2026-12-09T01:31:42Z");
    EXPECT_THROW(iso8601Text(Date{std::numeric_limits<double>::quiet_NaN()}), EncodingError);
    EXPECT_THROW(iso8601Text(Date{1e15}), EncodingError);

    EXPECT_EQ(parseISO8601("2026-12-09T01:31:42Z")->timeIntervalSince1970(), 1796779902.0);
    EXPECT_EQ(parseISO8601("2000-02-29T00:00:00Z")->timeIntervalSince1970(), 951782400.0);
    EXPECT_EQ(parseISO8601("0000-01-01T00:00:00Z").has_value(), true);
    for (const char* bad : {"2026-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-12-09T24:00:00Z",
                            "2026-12-09 01:31:42Z", "2026-12-09T01:31:42", "2026-12-09T01:31:42+01:00",
                            "2026-12-09T01:31:42.5Z", "2026-1-09T01:31:42Z", "+026-12-09T01:31:42Z", ""})
        EXPECT_FALSE(parseISO8601(bad).has_value()) << bad;
}

TEST(JSONDates, ManifestStyleRecordsUseISODatesAndSortedKeys) {
    const auto iso = CodingOptions::iso8601();
    PCBPackage p;
    p.name = "n";
    p.importedAt = Date::fromUnix(1796779902);
    EXPECT_EQ(toJSON(p, iso)["importedAt"], "2026-12-09T01:31:42Z");
    EXPECT_EQ(roundTrip(p, iso).importedAt, p.importedAt);
    const auto e = decodeFailure<PCBPackage>(
        R"({"name":"n","sourceFileName":"","files":[],"warnings":[],"importedAt":"yesterday"})", iso);
    EXPECT_EQ(e.kind(), Kind::dataCorrupted);
    EXPECT_EQ(e.codingPath(), CodingPath{"importedAt"});
    EXPECT_EQ(decodeFailure<PCBPackage>(
                  R"({"name":"n","sourceFileName":"","files":[],"warnings":[],"importedAt":5})", iso).kind(),
              Kind::typeMismatch);

    const std::string pretty = encodeJSONPretty(p, iso);
    EXPECT_EQ(Json::parse(pretty), toJSON(p, iso));
    EXPECT_LT(pretty.find("\"files\""), pretty.find("\"importedAt\""));
    EXPECT_LT(pretty.find("\"importedAt\""), pretty.find("\"name\""));
    EXPECT_LT(pretty.find("\"name\""), pretty.find("\"sourceFileName\""));
    EXPECT_NE(pretty.find('\n'), std::string::npos);
}

TEST(JSONDates, OtherComponentsRecordsFollowTheSameRules) {
    const auto iso = CodingOptions::iso8601();
    const std::vector<RevisionRecord> records{{"r1", Date::fromUnix(1796779902), std::nullopt, {{2, "b"}, {1, "a"}}},
                                              {"r2", Date{0}, "second", {}}};
    const Json json = Json::parse(encodeJSONPretty(records, iso));
    EXPECT_EQ(json, Json::parse(R"([{"name":"r1","createdAt":"2026-12-09T01:31:42Z","labels":{"1":"a","2":"b"}},
                                    {"name":"r2","createdAt":"2001-01-01T00:00:00Z","note":"second","labels":{}}])"));
    const auto back = decodeJSON<std::vector<RevisionRecord>>(dumpJSON(json), iso);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].labels, records[0].labels);
    EXPECT_EQ(back[1].note, records[1].note);
    EXPECT_EQ(back[1].createdAt, records[1].createdAt);
    EXPECT_EQ(decodeFailure<std::vector<RevisionRecord>>(R"([{"name":"r","createdAt":"2026-12-09T01:31:42Z","labels":{"x":"a"}}])", iso)
                  .codingPath(),
              (CodingPath{"Index 0", "labels", "x"}));
}

TEST(JSONText, NumbersIgnoreTheLocale) {
    const test::CLocaleAfterwards restore;
    if (!test::useGermanLocale()) GTEST_SKIP() << "no German locale could be made";
    const ManufacturingPreset p{"Fine", 0.075, 0.1, 0.2, 0.125};
    EXPECT_EQ(decodeJSON<ManufacturingPreset>(encodeJSON(p)), p);  // a decimal comma would not parse
    EXPECT_EQ(decodeJSON<Vec2>(R"({"x":1.5,"y":-2.25e-1})"), (Vec2{1.5, -0.225}));
}
