#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <tuple>

#include "ChildRun.hpp"
#include "TempDir.hpp"
#include "render/SoftwareRenderer.hpp"
#include "import/ODBPPParser.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZipWriter.hpp"
#include "import/ODBTestJob.hpp"

using namespace corvane;
using corvane::testing::TestJob;

namespace {

std::string row(std::string_view name, std::string_view type, std::string_view context = "BOARD") {
    return "LAYER {\n    ROW=1\n    CONTEXT=" + std::string(context) + "\n    TYPE=" + std::string(type) +
           "\n    NAME=" + std::string(name) + "\n    POLARITY=POSITIVE\n}\n";
}
std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}
std::string step(std::string_view name) { return "STEP {\n    COL=1\n    NAME=" + std::string(name) + "\n}\n"; }

constexpr std::string_view kPad = "UNITS=MM\n$0 r100\nP 1 1 0 P 0 0\n";
constexpr std::string_view kBoardOutline =
    "UNITS=MM\nS P 0\nOB 0 0 I\nOS 0 10\nOS 20 10\nOS 20 0\nOE\nSE\n";

std::vector<std::string> fileNames(const PCBPackage& pkg) {
    std::vector<std::string> names;
    for (const auto& f : pkg.files) names.push_back(f.fileName);
    return names;
}

const PackageFile& fileNamed(const PCBPackage& pkg, std::string_view name) {
    for (const auto& f : pkg.files)
        if (f.fileName == name) return f;
    throw std::runtime_error("no file " + std::string(name));
}

// The profile is drawn as its contour: strokes whose centre lines span the board exactly; the board
// box adds half the line width.
void expectProfileContour(const PCBPackage& pkg, const BBox& board) {
    const auto& profile = fileNamed(pkg, "odb-profile.gbr").gerber->objects;
    ASSERT_FALSE(profile.empty());
    BBox centre = BBox::empty();
    for (const auto& o : profile) {
        const auto* s = o.kind.as<PCBObjectKind::Stroke>();
        ASSERT_NE(s, nullptr) << "the profile is filled";
        centre.include(s->start);
        centre.include(s->end);
    }
    EXPECT_EQ(centre, board);
    // The board's box is the profile's centre line, not the reach of the line drawing it.
    EXPECT_GT(profile[0].apertureShape->strokeNominalWidth(), 0.0);
    EXPECT_EQ(pkg.boardBBox(), board);
}

std::string errorText(const TestJob& job) {
    try {
        ODBPPParser().parseEntries(job.entries);
    } catch (const ODBPPParseError& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(ODBMatrix, BlocksDefaultsAndDroppedRows) {
    const auto layers = ODBPPParser::parseMatrix(step("pcb") +
                                                 "LAYER {\n TYPE=SIGNAL\n}\n"            // no name
                                                 "LAYER {\n NAME=\n}\n"                  // empty name
                                                 "ROW {\n name = top \n CONTEXT=\n}\n"   // keys trimmed, upper-cased
                                                 "LAYER {\n NAME=lost\n"                 // unclosed: replaced
                                                 "LAYER {\n NAME=mask\n TYPE=SOLDER_MASK\n TYPE=SILK_SCREEN\n"
                                                 " START_NAME=a\n END_NAME=b\n POLARITY=NEGATIVE\n");
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0], (ODBPPParser::MatrixLayerInfo{"top", "SIGNAL", "POSITIVE", "", "", ""}));
    EXPECT_TRUE(ODBPPParser::isBoardContext(layers[0].context));
    EXPECT_EQ(layers[1], (ODBPPParser::MatrixLayerInfo{"mask", "SILK_SCREEN", "NEGATIVE", "BOARD", "a", "b"}));
}

TEST(ODBMatrix, CarriageReturnLinesAndUnicodeSpacesAreLineEndsAndTrim) {
    const auto layers = ODBPPParser::parseMatrix("LAYER {\r\n\tNAME=top\u00A0\r\n   TYPE=MIXED\r\n}\r\n");
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].name, "top");
    EXPECT_EQ(layers[0].type, "MIXED");
}

TEST(ODBMatrix, StepNamesAndUnitLines) {
    EXPECT_EQ(ODBPPParser::stepName(row("top", "SIGNAL")), "pcb");
    EXPECT_EQ(ODBPPParser::stepName(row("top", "SIGNAL") + step("panel") + step("PCB")), "panel");
    EXPECT_EQ(ODBPPParser::stepNames(step("panel") + step("PCB")), (std::vector<std::string>{"panel", "PCB"}));

    EXPECT_EQ(ODBPPParser::detectUnits("#\n u mm \n"), ODBUnits::mm);
    EXPECT_EQ(ODBPPParser::detectUnits("UNITS=INCH\r\nUNITS=MM\n"), ODBUnits::inch);
    EXPECT_EQ(ODBPPParser::detectUnits("UNITS = MM\n"), std::nullopt);
    std::string late;
    for (int i = 0; i < 10; ++i) late += "#\n";
    EXPECT_EQ(ODBPPParser::detectUnits(late + "UNITS=MM\n"), std::nullopt);
    // A line of 60 MB before the units line is passed over without a copy (it was upper-cased whole).
    const std::string longFirst = std::string(60'000'000, 'x') + "\nUNITS=MM\n";
    const auto outcome = corvane::testing::runInChild(
        [&] { return std::string(ODBPPParser::detectUnits(longFirst) == ODBUnits::mm ? "mm" : "other"); });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "mm");
    EXPECT_LT(outcome.peakGrowthKB, 20 * 1024);
    EXPECT_EQ(ODBPPParser::declaredUnits("JOB_NAME=x\nUNITS = mm\n"), ODBUnits::mm);
    EXPECT_EQ(ODBPPParser::declaredUnits("UNITS=FURLONG\n"), std::nullopt);
}

TEST(ODBMatrix, CopperNumberingCountsBoardCopperRowsOnly) {
    const auto layers = ODBPPParser::parseMatrix(row("top", "SIGNAL") + row("gnd", "POWER_GROUND") +
                                                 row("notes", "SIGNAL", "MISC") + row("mix", "MIXED") +
                                                 row("bot", "SIGNAL") + row("rout", "ROUT"));
    EXPECT_EQ(ODBPPParser::copperID(layers[0], layers), CopperLayerID::top());
    EXPECT_EQ(ODBPPParser::copperID(layers[1], layers), CopperLayerID::inner(1));
    EXPECT_EQ(ODBPPParser::copperID(layers[3], layers), CopperLayerID::inner(2));
    EXPECT_EQ(ODBPPParser::copperID(layers[4], layers), CopperLayerID::bottom());
    EXPECT_EQ(ODBPPParser::copperID(layers[5], layers), CopperLayerID::top());
    const std::vector<ODBPPParser::MatrixLayerInfo> one{layers[4]};
    EXPECT_EQ(ODBPPParser::copperID(layers[4], one), CopperLayerID::top());
}

TEST(ODBJob, RootLevelJobGivesSortedSyntheticFiles) {
    TestJob job;
    job.dir("matrix")
        .file("matrix/matrix", step("pcb") + row("top", "SIGNAL") + row("smask", "SOLDER_MASK") +
                                   row("drill", "DRILL") + row("bot", "SIGNAL"))
        .file("misc/info", "UNITS=MM\n")
        .file("steps/pcb/profile/features", kBoardOutline)
        .file("steps/pcb/layers/top/features", kPad)
        .file("steps/pcb/layers/bot/features", kPad)
        .file("steps/pcb/layers/smask/features", kPad)
        .file("steps/pcb/layers/drill/features", "$0 r300\nP 5 5 0 P 0 0\n");
    const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
    EXPECT_EQ(pkg.name, "matrix");
    EXPECT_EQ(pkg.sourceFileName, "matrix.tgz");
    EXPECT_EQ(fileNames(pkg), (std::vector<std::string>{"odb-top.gbr", "odb-smask.gbr", "odb-profile.gbr",
                                                        "odb-drill.drl", "odb-bot.gbr"}));
    const auto& top = pkg.files[0];
    EXPECT_EQ(top.layerType, LayerType::copper(CopperLayerID::top()));
    EXPECT_EQ(top.relativePath, "steps/pcb/layers/top/features");
    EXPECT_EQ(top.confidence, DetectionConfidence::high);
    EXPECT_EQ(top.format, SourceFormat::unknown);
    EXPECT_TRUE(top.dataHash.empty());
    EXPECT_EQ(top.gerber->bbox, (BBox{0.95, 0.95, 1.05, 1.05}));
    EXPECT_EQ(pkg.files[1].layerType, LayerType::solderMask(CopperLayerID::top()));
    EXPECT_EQ(pkg.files[2].layerType, LayerType::outline());
    EXPECT_EQ(pkg.files[2].relativePath, "steps/pcb/profile/features");
    EXPECT_EQ(pkg.files[3].format, SourceFormat::excellon);
    EXPECT_EQ(pkg.files[3].drill->hits.size(), 1u);
    EXPECT_EQ(pkg.files[4].layerType, LayerType::copper(CopperLayerID::bottom()));
    ASSERT_EQ(pkg.warnings.size(), 1u);
    EXPECT_EQ(pkg.warnings.back(), "Imported from ODB++ (minimal reader: signal/rout/drill/profile/mask/silk).");
    expectProfileContour(pkg, BBox{0, 0, 20, 10});
    EXPECT_EQ(fileNamed(pkg, "odb-profile.gbr").gerber->objects.size(), 4u);
}

TEST(ODBJob, RealJobUnderTopFolderWithUpperCaseNamesAndCRLF) {
    // As CAD tools write them: a top folder, upper-case matrix names, lower-case folders,
    // the profile as a file, paste rows typed SOLDER_PASTE, CR LF line ends.
    std::string matrix = step("PCB") + row("F.PASTE", "SOLDER_PASTE") + row("F.SILK", "SILK_SCREEN") +
                         row("F.MASK", "SOLDER_MASK") + row("F.CU", "SIGNAL") + row("IN1.CU", "MIXED") +
                         row("B.CU", "SIGNAL") + row("B.MASK", "SOLDER_MASK") + row("B.SILK", "SILK_SCREEN") +
                         row("B.PASTE", "SOLDER_PASTE") + row("DRAWING", "DOCUMENT", "MISC");
    std::string crlf;
    for (char ch : matrix) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    TestJob job;
    job.dir("odb").dir("odb/matrix").file("odb/matrix/matrix", crlf).file("odb/misc/info", "UNITS=MM\r\n");
    job.file("odb/steps/pcb/profile", kBoardOutline);
    for (const char* l : {"f.paste", "f.silk", "f.mask", "f.cu", "in1.cu", "b.cu", "b.mask", "b.silk", "b.paste"})
        job.file(std::string("odb/steps/pcb/layers/") + l + "/features", "UNITS=MM\r\n$0 r100\r\nP 1 1 0 P 0 0\r\n");

    const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
    EXPECT_EQ(pkg.name, "odb");
    EXPECT_EQ(pkg.sourceFileName, "odb.tgz");
    EXPECT_EQ(fileNames(pkg),
              (std::vector<std::string>{"odb-F.CU.gbr", "odb-IN1.CU.gbr", "odb-F.MASK.gbr", "odb-B.MASK.gbr",
                                        "odb-F.PASTE.gbr", "odb-B.PASTE.gbr", "odb-F.SILK.gbr", "odb-B.SILK.gbr",
                                        "odb-profile.gbr", "odb-B.CU.gbr"}));
    EXPECT_EQ(fileNamed(pkg, "odb-IN1.CU.gbr").layerType, LayerType::copper(CopperLayerID::inner(1)));
    EXPECT_EQ(fileNamed(pkg, "odb-B.MASK.gbr").layerType, LayerType::solderMask(CopperLayerID::bottom()));
    EXPECT_EQ(fileNamed(pkg, "odb-F.PASTE.gbr").layerType, LayerType::paste(CopperLayerID::top()));
    EXPECT_EQ(fileNamed(pkg, "odb-B.PASTE.gbr").layerType, LayerType::paste(CopperLayerID::bottom()));
    EXPECT_EQ(fileNamed(pkg, "odb-B.SILK.gbr").layerType, LayerType::silkscreen(CopperLayerID::bottom()));
    EXPECT_EQ(fileNamed(pkg, "odb-F.CU.gbr").relativePath, "odb/steps/pcb/layers/f.cu/features");
    EXPECT_EQ(fileNamed(pkg, "odb-profile.gbr").relativePath, "odb/steps/pcb/profile");
    // The MISC row is passed over without a word.
    EXPECT_EQ(pkg.warnings.size(), 1u);
}

TEST(ODBJob, TheProfileDrawsAsItsContour) {
    TestJob job;
    job.file("matrix/matrix", step("pcb") + row("top", "SIGNAL"))
        .file("misc/info", "UNITS=MM\n")
        .file("steps/pcb/profile", kBoardOutline)
        .file("steps/pcb/layers/top/features", kPad);
    const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
    // The preview's picture: inside the board there is background, not a solid outline colour.
    SoftwareRenderer renderer;
    const auto image = renderer.render(pkg, SizePx{1200, 900}, std::nullopt, false);
    ASSERT_TRUE(image);
    const auto background = image->rgba(3, 3);
    const auto centre = image->rgba(600, 450);
    EXPECT_EQ(std::tie(centre.r, centre.g, centre.b), std::tie(background.r, background.g, background.b));
    // The edge itself is drawn: some pixel of the middle row, left of the centre, is not background.
    int edge = 0;
    for (int x = 0; x < 600; ++x) {
        const auto c = image->rgba(x, 450);
        if (std::tie(c.r, c.g, c.b) != std::tie(background.r, background.g, background.b)) ++edge;
    }
    EXPECT_GT(edge, 0);
    EXPECT_LT(edge, 20);
}

TEST(ODBJob, RoutIsTheOutlineOnlyWithoutAProfile) {
    const std::string matrix = row("top", "SIGNAL") + row("bot", "SIGNAL") + row("rout", "ROUT");
    TestJob job;
    job.file("j/matrix/matrix", matrix)
        .file("j/misc/info", "UNITS=MM\n")
        .file("j/steps/pcb/layers/top/features", kPad)
        .file("j/steps/pcb/layers/bot/features", kPad)
        .file("j/steps/pcb/layers/rout/features", "UNITS=MM\n$0 r200\nL 0 0 30 0 0 P 0\n");
    TestJob withProfile = job;
    withProfile.file("j/steps/pcb/profile", kBoardOutline);

    const PCBPackage bare = ODBPPParser().parseEntries(job.entries);
    EXPECT_EQ(fileNames(bare), (std::vector<std::string>{"odb-top.gbr", "odb-rout.gbr", "odb-bot.gbr"}));
    EXPECT_EQ(fileNamed(bare, "odb-rout.gbr").layerType, LayerType::outline());

    const PCBPackage both = ODBPPParser().parseEntries(withProfile.entries);
    EXPECT_EQ(fileNames(both), (std::vector<std::string>{"odb-top.gbr", "odb-profile.gbr", "odb-bot.gbr"}));
    expectProfileContour(both, BBox{0, 0, 20, 10});
}

TEST(ODBJob, UnitsComeFromTheFileThenMiscInfoThenTheStepHeaderElseInch) {
    const auto padX = [](const TestJob& job) {
        const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
        return pkg.files.at(0).gerber->objects.at(0).kind.as<PCBObjectKind::Flash>()->at.x;
    };
    TestJob base;
    base.file("matrix/matrix", row("top", "SIGNAL")).file("steps/pcb/layers/top/features", "$0 r10\nP 1 0 0 P 0 0\n");
    EXPECT_DOUBLE_EQ(padX(base), 25.4);

    TestJob header = base;
    header.file("steps/pcb/stephdr", "UNITS=MM\nX_DATUM=0\n");
    EXPECT_DOUBLE_EQ(padX(header), 1.0);

    TestJob info = header;
    info.file("misc/info", "UNITS=INCH\n");
    EXPECT_DOUBLE_EQ(padX(info), 25.4);

    TestJob own;
    own.file("matrix/matrix", row("top", "SIGNAL"))
        .file("misc/info", "UNITS=INCH\n")
        .file("steps/pcb/layers/top/features", "U MM\n$0 r10\nP 1 0 0 P 0 0\n");
    EXPECT_DOUBLE_EQ(padX(own), 1.0);
}

TEST(ODBJob, StepChoicePrefersPcbThenAProfileThenTheFirst) {
    const auto chosen = [](const TestJob& job) {
        return ODBPPParser().parseEntries(job.entries).files.at(0).relativePath;
    };
    const std::string layer = row("top", "SIGNAL");
    // Two steps, each with a top layer, and the profiles given.
    const auto twoSteps = [&](std::string_view a, std::string_view b, std::string_view profileA,
                              std::string_view profileB) {
        TestJob job;
        job.file("matrix/matrix", step(a) + step(b) + layer).file("misc/info", "UNITS=MM\n");
        for (const auto& [name, profile] : {std::pair{a, profileA}, std::pair{b, profileB}}) {
            const std::string dir = "steps/" + lowered(name);
            job.file(dir + "/layers/top/features", kPad);
            if (!profile.empty()) job.file(dir + "/profile", profile);
        }
        return job;
    };
    EXPECT_EQ(chosen(twoSteps("panel", "PCB", kBoardOutline, "")), "steps/pcb/layers/top/features");
    EXPECT_EQ(chosen(twoSteps("a", "b", "UNITS=MM\n", kBoardOutline)), "steps/b/layers/top/features");
    EXPECT_EQ(chosen(twoSteps("a", "b", "", "")), "steps/a/layers/top/features");

    // No step block: the step folders of the archive.
    TestJob folders;
    folders.file("matrix/matrix", layer).file("misc/info", "UNITS=MM\n").file("steps/board/layers/top/features", kPad);
    EXPECT_EQ(chosen(folders), "steps/board/layers/top/features");
}

TEST(ODBJob, LayersWithoutFeaturesWarnAndOddTypesAreSilent) {
    TestJob job;
    job.file("matrix/matrix", row("top", "SIGNAL") + row("gone", "SIGNAL") + row("comp", "COMPONENT") +
                                  row("d_npth", "DRILL") + row("empty", "SIGNAL"))
        .file("misc/info", "UNITS=MM\n")
        .file("steps/pcb/layers/top/features", kPad)
        .file("steps/pcb/layers/comp/features", kPad)
        .file("steps/pcb/layers/empty/features", "UNITS=MM\n# nothing drawn\n")
        .file("steps/pcb/layers/d_npth/features", "$0 r1000\nP 0 0 0 P 0 0\n");
    const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
    EXPECT_EQ(fileNames(pkg), (std::vector<std::string>{"odb-top.gbr", "odb-d_npth.drl"}));
    EXPECT_EQ(pkg.files[1].drill->hits[0].plating, Plating::npth);
    ASSERT_EQ(pkg.warnings.size(), 2u);
    EXPECT_EQ(pkg.warnings[0], "ODB++ layer 'gone' has no features file \u2014 skipped.");
}

TEST(ODBJob, StructureAndMatrixFailuresKeepTheirTexts) {
    const std::string notJob = "No ODB++ structure found (expected matrix/, steps/, misc/ at archive root).";
    EXPECT_EQ(errorText(TestJob{}), notJob);
    EXPECT_EQ(errorText(TestJob().file("matrix/matrix", row("top", "SIGNAL"))), notJob);
    EXPECT_EQ(errorText(TestJob().file("job/._matrix", "x").file("job/steps/pcb/x", "")), notJob);

    EXPECT_EQ(errorText(TestJob().dir("matrix").file("misc/info", "")), "Malformed ODB++: matrix file not found");
    EXPECT_EQ(errorText(TestJob().file("matrix/matrix", "LAYER {\n NAME=\xFF\n}\n").dir("steps")),
              "Malformed ODB++: matrix file not found");
    EXPECT_EQ(errorText(TestJob().file("matrix/matrix", step("pcb")).dir("steps")),
              "Malformed ODB++: matrix has no layers");
    EXPECT_EQ(errorText(TestJob().file("matrix/matrix", row("top", "SIGNAL")).dir("steps")),
              "Malformed ODB++: no importable layers");

    try {
        ODBPPParser().parseEntries(TestJob().dir("steps").entries);
        FAIL();
    } catch (const ODBPPParseError& e) {
        EXPECT_EQ(e.errorCase(), ODBPPParseError::Case::notODBPP);
    }
}

TEST(ODBJob, AppleDoubleCompanionsAndDuplicatePathsAreIgnored) {
    TestJob job;
    job.file("j/matrix/._matrix", "\x00\x05\x16\x07")
        .file("j/matrix/matrix", row("top", "SIGNAL"))
        .file("j/misc/info", "UNITS=MM\n")
        .file("j/steps/pcb/layers/top/features", kPad)
        .file("j/steps/pcb/layers/top/features", "UNITS=MM\n$0 r100\nP 7 7 0 P 0 0\nP 8 8 0 P 0 0\n");
    const PCBPackage pkg = ODBPPParser().parseEntries(job.entries);
    ASSERT_EQ(pkg.files.size(), 1u);
    EXPECT_EQ(pkg.files[0].gerber->objects.size(), 1u);
}

TEST(ODBArchive, PackedZippedAndUnpackedJobsReadAlike) {
    TestJob job;
    job.dir("odb").dir("odb/matrix").file("odb/matrix/matrix", step("PCB") + row("TOP", "SIGNAL") + row("DRILL", "DRILL"))
        .file("odb/misc/info", "UNITS=MM\n")
        .file("odb/steps/pcb/profile", kBoardOutline)
        .file("odb/steps/pcb/layers/top/features", kPad)
        .file("odb/steps/pcb/layers/drill/features", "$0 r300\nP 5 5 0 P 0 0\nL 1 1 3 1 0 P 0\n");
    const PCBPackage pkg = ODBPPParser().parse(job.tgz());
    EXPECT_EQ(pkg.name, "odb");
    EXPECT_EQ(fileNames(pkg), (std::vector<std::string>{"odb-TOP.gbr", "odb-profile.gbr", "odb-DRILL.drl"}));
    EXPECT_EQ(pkg.files[2].drill->totalCount(), 2);

    // The same job delivered as a ZIP, or unpacked into a folder (opened above or at the job).
    corvane::testing::TempDir dir;
    std::vector<VellZipWriter::Entry> zipped;
    for (const auto& e : job.entries) {
        if (e.isDirectory) continue;
        zipped.emplace_back(e.path, e.data);
        dir.write("unpacked/" + e.path, std::string_view(reinterpret_cast<const char*>(e.data.data()), e.data.size()));
    }
    dir.write("unpacked/README.txt", "job exported for fabrication");
    const auto zip = dir.path / "board-odb.zip";
    {
        const Bytes bytes = VellZipWriter::archive(zipped);
        std::ofstream(zip, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    for (const auto& path : {zip, dir.path / "unpacked", dir.path / "unpacked" / "odb"}) {
        SCOPED_TRACE(path.string());
        const PCBPackage other = PackageImporter{}.importAny(path);
        EXPECT_EQ(fileNames(other), fileNames(pkg));
        EXPECT_EQ(other.warnings, pkg.warnings);
    }
    EXPECT_EQ(PackageImporter{}.importAny(zip).sourceFileName, "board-odb.zip");
}

TEST(ODBArchive, UnreadableArchivesAreMalformedJobs) {
    const auto text = [](const corvane::testing::Bytes& data) {
        try {
            ODBPPParser().parse(data);
        } catch (const ODBPPParseError& e) {
            EXPECT_EQ(e.errorCase(), ODBPPParseError::Case::malformed);
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(text(corvane::testing::bytesOf("PK\x03\x04")), "Malformed ODB++: cannot read tgz: Not a gzip stream.");
    EXPECT_EQ(text(corvane::testing::gzipMember(corvane::testing::bytesOf("just text, no tar"))),
              "Malformed ODB++: cannot read tgz: Not a tar archive.");
    // A tar that is not a job.
    const auto readme = TestJob().file("README", "hello").tgz();
    try {
        ODBPPParser().parse(readme);
        FAIL();
    } catch (const ODBPPParseError& e) {
        EXPECT_EQ(e.errorCase(), ODBPPParseError::Case::notODBPP);
    }
}

TEST(ODBArchive, JobWrittenByPythonTarfileWithPaxLongNames) {
    std::ifstream in(std::string(CORVANE_TEST_DATA) + "/odb/pax-long-names.tgz", std::ios::binary);
    const corvane::testing::Bytes data(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(data.empty());
    const PCBPackage pkg = ODBPPParser().parse(data);
    const std::string plane = "SIGNAL_LAYER_WITH_A_RATHER_LONG_NAME_AS_SOME_CAD_TOOLS_WRITE_THEM_FOR_INNER_PLANES";
    EXPECT_EQ(pkg.name, "demo");
    EXPECT_EQ(fileNames(pkg), (std::vector<std::string>{"odb-TOP.gbr", "odb-" + plane + ".gbr", "odb-SMB.gbr",
                                                        "odb-profile.gbr", "odb-DRILL.drl", "odb-BOTTOM.gbr"}));
    EXPECT_EQ(fileNamed(pkg, "odb-" + plane + ".gbr").layerType, LayerType::copper(CopperLayerID::inner(1)));
    EXPECT_EQ(fileNamed(pkg, "odb-SMB.gbr").layerType, LayerType::solderMask(CopperLayerID::bottom()));
    // No unit lines anywhere: misc/info says inches.
    expectProfileContour(pkg, BBox{0, 0, 50.8, 25.4});
    const auto& bottomPad = fileNamed(pkg, "odb-BOTTOM.gbr").gerber->objects.at(0);
    EXPECT_EQ(*bottomPad.apertureShape, ApertureShape::rectangle(20 * 0.0254, 40 * 0.0254));
    const auto& drill = *fileNamed(pkg, "odb-DRILL.drl").drill;
    ASSERT_EQ(drill.hits.size(), 2u);
    EXPECT_EQ(drill.hits[0].plating, Plating::pth);
    EXPECT_EQ(drill.hits[1].plating, Plating::npth);
}
