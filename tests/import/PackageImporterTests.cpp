#include <gtest/gtest.h>

#include "ChildRun.hpp"
#include "TempDir.hpp"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>

#include "ArchiveBuilder.hpp"
#include "import/GerberParser.hpp"
#include "import/PackageImporter.hpp"
#include "import/VellZipWriter.hpp"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

const std::string kGerber = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.2*%\nD10*\nX0Y0D02*\nX1000000Y0D01*\nM02*\n";
const std::string kDrill = "M48\nMETRIC,TZ\nT1C0.800\n%\nT1\nX1.000Y1.000\nM30\n";

struct TempDir : corvane::testing::TempDir {
    fs::path writeBytes(const std::string& rel, const Bytes& content) const {
        return write(rel, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
    }
};

Bytes zipOf(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<VellZipWriter::Entry> entries;
    for (const auto& [path, text] : files) entries.emplace_back(path, Bytes(text.begin(), text.end()));
    return VellZipWriter::archive(entries);
}

std::vector<std::string> names(const PCBPackage& p) {
    std::vector<std::string> out;
    for (const auto& f : p.files) out.push_back(f.fileName);
    return out;
}

template <class F>
std::string errorText(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(PackageImporterZip, FiltersClassifiesSortsAndHashes) {
    TempDir dir;
    const fs::path zip = dir.writeBytes("Board_v2.zip", zipOf({
        {"gerbers/board-B_Cu.gbr", kGerber},
        {"gerbers/board-F_Cu.gbr", kGerber},
        {"gerbers/board.drl", kDrill},
        {"__MACOSX/gerbers/._board-F_Cu.gbr", "junk"},
        {".hidden.gbr", kGerber},
        {"gerbers/notes.pdf", "pdf"},
        {"gerbers/empty.gtl", ""},
        {"gerbers/readme.txt", "This package was made for inch boards.\n"},
    }));
    const PCBPackage pkg = PackageImporter{}.importAny(zip);
    EXPECT_EQ(pkg.name, "Board_v2");
    EXPECT_EQ(pkg.sourceFileName, "Board_v2.zip");
    EXPECT_EQ(names(pkg), (std::vector<std::string>{"board-F_Cu.gbr", "board.drl", "board-B_Cu.gbr"}));
    EXPECT_EQ(pkg.files[0].relativePath, "gerbers/board-F_Cu.gbr");
    EXPECT_TRUE(pkg.files[0].gerber.has_value());
    EXPECT_TRUE(pkg.files[1].drill.has_value());
    EXPECT_EQ(pkg.files[0].dataHash, PackageImporter::shortHash(Bytes(kGerber.begin(), kGerber.end())));
    // The name filter's refusals are named; a readme is skipped with a warning instead of failing the package.
    ASSERT_GE(pkg.warnings.size(), 2u);
    EXPECT_EQ(pkg.warnings[0], "Not read: notes.pdf");
    EXPECT_EQ(pkg.warnings[1], "Skipped unrecognized file: readme.txt");
}

TEST(PackageImporterZip, NothingToImportAndNotAZip) {
    TempDir dir;
    const fs::path onlyJunk = dir.writeBytes("junk.zip", zipOf({{"__MACOSX/a.gbr", kGerber}, {".x/b.gbr", kGerber}}));
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(onlyJunk); }), "No Gerber/Drill files found in the package.");
    const fs::path text = dir.write("fake.zip", "not a zip");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importZIP(text); }), "Could not import: 'fake.zip' is not a ZIP archive.");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(text); }), "Could not import: 'fake.zip' is not a ZIP archive.");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(dir.path / "missing.zip"); }).rfind("Could not read 'missing.zip'", 0),
              0u);
}

TEST(PackageImporterZip, OneBadAcceptedFileFailsTheWholeImport) {
    TempDir dir;
    const fs::path zip = dir.writeBytes("bad.zip", zipOf({{"top.gtl", kGerber}, {"bottom.gbl", "G04 nothing but comments*\nM02*\n"}}));
    const std::string viaZip = errorText([&] { PackageImporter{}.importAny(zip); });
    const fs::path single = dir.write("bottom.gbl", "G04 nothing but comments*\nM02*\n");
    // Whatever the reader says, it passes through unchanged and no partial package comes back.
    EXPECT_NE(viaZip, "(no error)");
    EXPECT_EQ(viaZip, errorText([&] { PackageImporter{}.importAny(single); }));
}

TEST(PackageImporterWarnings, DuplicatesAndLowConfidence) {
    std::vector<PackageFile> files(4);
    files[0].fileName = "a.gtl";
    files[0].layerType = LayerType::copper(CopperLayerID::top());
    files[1].fileName = "b.gtl";
    files[1].layerType = LayerType::copper(CopperLayerID::top());
    files[2].fileName = "c.gtl";
    files[2].layerType = LayerType::copper(CopperLayerID::top());
    files[3].fileName = "x.gbr";
    files[3].layerType = LayerType::unknown();
    files[3].confidence = DetectionConfidence::low;
    for (int i = 0; i < 3; ++i) files[static_cast<std::size_t>(i)].confidence = DetectionConfidence::high;
    EXPECT_EQ(PackageImporter::crossFileWarnings(files),
              (std::vector<std::string>{"Duplicate layer: 'b.gtl' and 'a.gtl' are both Top Copper.",
                                        "Duplicate layer: 'c.gtl' and 'a.gtl' are both Top Copper.",
                                        "Potential layer misclassification: 'x.gbr' (Unknown)."}));
    // Split drill files are normal.
    std::vector<PackageFile> drills(2);
    drills[0].fileName = "pth.drl";
    drills[1].fileName = "npth.drl";
    for (auto& d : drills) {
        d.layerType = LayerType::drill();
        d.confidence = DetectionConfidence::high;
    }
    EXPECT_TRUE(PackageImporter::crossFileWarnings(drills).empty());
}

TEST(PackageImporterNames, FilterAndFileFunction) {
    EXPECT_TRUE(PackageImporter::supportedExtension("board.GTL"));
    EXPECT_FALSE(PackageImporter::supportedExtension("top.gbr.bak"));
    EXPECT_TRUE(PackageImporter::supportedExtension("notes.f_cu"));
    EXPECT_TRUE(PackageImporter::supportedExtension("x-in1.cu"));
    EXPECT_FALSE(PackageImporter::supportedExtension("x-in12.cu"));
    EXPECT_FALSE(PackageImporter::supportedExtension("manual.pdf"));
    // Altium inner layers and drill files of any number, Eagle and generic extensions.
    for (const char* n : {"b.G14", "b.GP3", "b.TX2", "b.cmp", "b.sol", "b.grb", "b.ger", "b.ncd", "b.cnc"})
        EXPECT_TRUE(PackageImporter::supportedExtension(n)) << n;

    EXPECT_EQ(PackageImporter::x2FileFunction("%TF.FileFunction,Copper,L1,Top*%"), "Copper,L1,Top");
    EXPECT_EQ(PackageImporter::x2FileFunction("%tf.filefunction, Soldermask,Bot \n*%"), "Soldermask,Bot");
    EXPECT_EQ(PackageImporter::x2FileFunction("G04 #@! TF.FileFunction,Legend,Top*"), "Legend,Top");
    EXPECT_FALSE(PackageImporter::x2FileFunction("%TF.FileFunction,Copper,L1,Top"));
    EXPECT_EQ(PackageImporter::shortHash({}), "cbf29ce484222325");

    // A file hashed block by block gives the hash of its whole bytes; a folder that of no bytes.
    TempDir dir;
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 1000);
    const auto file = dir.write("big.bin", big);
    EXPECT_EQ(PackageImporter::fileShortHash(file),
              PackageImporter::shortHash(std::span(reinterpret_cast<const std::uint8_t*>(big.data()), big.size())));
    EXPECT_EQ(PackageImporter::fileShortHash(dir.path), PackageImporter::shortHash({}));
    EXPECT_THROW(PackageImporter::fileShortHash(dir.path / "missing.zip"), FileReadError);
}

TEST(PackageImporterKinds, FolderSingleFileKiCadIpcAndOdb) {
    TempDir dir;
    // A folder whose path repeats inside itself keeps both files apart.
    const fs::path folder = dir.path / "a" / "b";
    dir.write("a/b/top.gtl", kGerber);
    dir.write("a/b/x/a/b/top.gtl", kGerber);
    dir.write("a/b/drill.drl", kDrill);
    dir.write("a/b/readme.md", "not read");
    const PCBPackage pkg = PackageImporter{}.importAny(folder);
    EXPECT_EQ(pkg.name, "b");
    std::vector<std::string> rel;
    for (const auto& f : pkg.files) rel.push_back(f.relativePath);
    EXPECT_EQ(rel, (std::vector<std::string>{"top.gtl", "x/a/b/top.gtl", "drill.drl"}));
    EXPECT_EQ(pkg.warnings, (std::vector<std::string>{"Not read: readme.md",
                                                      "Duplicate layer: 'top.gtl' and 'top.gtl' are both Top Copper."}));
    // Deterministic: the same folder gives the same package.
    EXPECT_EQ(names(PackageImporter{}.importAny(folder)), names(pkg));

    const fs::path single = dir.write("solo.gbl", kGerber);
    const PCBPackage one = PackageImporter{}.importAny(single);
    EXPECT_EQ(one.name, "solo");
    EXPECT_EQ(one.files.at(0).layerType, LayerType::copper(CopperLayerID::bottom()));

    const fs::path ipc = dir.write("board.xml", "<?xml version=\"1.0\"?>\n<IPC-2581 revision=\"C\">");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(ipc); }), "Could not import: IPC-2581 import is not supported.");
    const fs::path xml = dir.write("other.xml", "<?xml version=\"1.0\"?><x/>");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(xml); }), "No Gerber/Drill files found in the package.");

    const fs::path kicad = dir.write("board.KICAD_PCB", "(kicad_pcb (version 20221018) (generator pcbnew))");
    const fs::path kicadByContent = dir.write("board.txt", "(kicad_pcb (version 20221018) (generator pcbnew))");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(kicad); }),
              errorText([&] { PackageImporter{}.importAny(kicadByContent); }));

    // The extension tgz goes to the ODB++ reader even when the bytes are not gzip.
    const fs::path tgz = dir.write("job.tgz", "plain");
    EXPECT_NE(errorText([&] { PackageImporter{}.importAny(tgz); }).find("ODB++"), std::string::npos);
}

TEST(PackageImporterWarnings, GerberReaderWarningsReachThePackage) {
    TempDir dir;
    const std::string noUnits = "%FSLAX46Y46*%\n%ADD10C,0.2*%\nD10*\nX0Y0D02*\nX1000000Y0D01*\nM02*\n";
    const fs::path zip = dir.writeBytes("w.zip", zipOf({{"top.gtl", noUnits}, {"odd.gbr", kGerber}}));
    const PCBPackage pkg = PackageImporter{}.importAny(zip);
    ASSERT_GE(pkg.warnings.size(), 2u);
    EXPECT_EQ(pkg.warnings[0], "top.gtl: No unit command; inches assumed.");
}

TEST(PackageImporterRoles, NumberedCopperSetsAreNumberedAsAWhole) {
    TempDir dir;
    auto roles = [&](const std::string& zipName, const std::vector<std::pair<std::string, std::string>>& files) {
        std::map<std::string, std::string> out;
        for (const auto& f : PackageImporter{}.importAny(dir.writeBytes(zipName, zipOf(files))).files)
            out[f.fileName] = f.layerType.displayName();
        return out;
    };
    using Roles = std::map<std::string, std::string>;
    // Allegro and PADS: the lowest number is the top, the highest the bottom.
    EXPECT_EQ(roles("allegro.zip", {{"lyr1.art", kGerber}, {"lyr2.art", kGerber}, {"lyr3.art", kGerber}, {"lyr4.art", kGerber}}),
              (Roles{{"lyr1.art", "Top Copper"}, {"lyr2.art", "Inner 1 Copper"}, {"lyr3.art", "Inner 2 Copper"},
                     {"lyr4.art", "Bottom Copper"}}));
    // Xpedition names its outer layers: the numbered ones are all inner.
    EXPECT_EQ(roles("xpedition.zip", {{"EtchLayerTop.gdo", kGerber}, {"L02.gdo", kGerber}, {"L03.gdo", kGerber},
                                      {"EtchLayerBottom.gdo", kGerber}}),
              (Roles{{"EtchLayerTop.gdo", "Top Copper"}, {"L02.gdo", "Inner 1 Copper"}, {"L03.gdo", "Inner 2 Copper"},
                     {"EtchLayerBottom.gdo", "Bottom Copper"}}));
    // Altium signal and plane layers never share a number; a stack-order comment places them exactly.
    EXPECT_EQ(roles("altium.zip", {{"b.G1", kGerber}, {"b.G2", kGerber}, {"b.GP1", kGerber}}),
              (Roles{{"b.G1", "Inner 1 Copper"}, {"b.G2", "Inner 2 Copper"}, {"b.GP1", "Inner 3 Copper"}}));
    EXPECT_EQ(roles("ordered.zip", {{"b.G1", "G04 Layer_Physical_Order=2*\n" + kGerber},
                                    {"b.GP1", "G04 Layer_Physical_Order=3*\n" + kGerber},
                                    {"b.G2", "G04 Layer_Physical_Order=4*\n" + kGerber}}),
              (Roles{{"b.G1", "Inner 1 Copper"}, {"b.GP1", "Inner 2 Copper"}, {"b.G2", "Inner 3 Copper"}}));
}

TEST(PackageImporterDrills, AllegroParameterFileBesideTheDrillFile) {
    TempDir dir;
    const std::string drill = ";LEADER: 12\n;Holesize 1. = 12.0 PLATED MILS\nG90\nT01\nX123456Y65432\nM00\n";
    const fs::path zip = dir.writeBytes("minnow.zip", zipOf({{"nc/nc_param.txt", "FORMAT 2.5\nOUTPUT-UNITS ENGLISH\n"},
                                                            {"nc/board-1-4.drl", drill},
                                                            {"other/board-1-4.drl", drill}}));
    const PCBPackage pkg = PackageImporter{}.importAny(zip);
    ASSERT_EQ(pkg.files.size(), 2u);
    // Only the drill file beside it takes its format; the parameter file itself is no layer.
    EXPECT_NEAR(pkg.files[0].drill->hits.at(0).position.x, 1.23456 * 25.4, 1e-9);
    EXPECT_NEAR(pkg.files[1].drill->hits.at(0).position.x, 12.3456 * 25.4, 1e-9);
    for (const auto& w : pkg.warnings) EXPECT_EQ(w.find("nc_param"), std::string::npos) << w;
}

TEST(PackageImporterWarnings, FilesTheNameFilterLeavesOutAreNamed) {
    TempDir dir;
    // Target 3001 writes its drill, outline, masks and silk under names the filter does not take.
    std::vector<std::pair<std::string, std::string>> files = {{"board.Top", kGerber}, {"board.Bot", kGerber}};
    for (const char* name : {"board.Bohr", "board.Kontur", "board.LSt", "board.LSb", "board.BDt", "board.BDb",
                             "board.PAt", "board.PAb", "board.fph", "board.fdr", "README", "docs/.DS_Store", "board.pdf"})
        files.emplace_back(name, kGerber);
    const PCBPackage pkg = PackageImporter{}.importAny(dir.writeBytes("target.zip", zipOf(files)));
    EXPECT_EQ(pkg.files.size(), 2u);
    ASSERT_FALSE(pkg.warnings.empty());
    EXPECT_EQ(pkg.warnings[0], "Not read: board.Bohr, board.Kontur, board.LSt, board.LSb, board.BDt, board.BDb, "
                               "board.PAt, board.PAb, board.fph, board.fdr and 2 more");
    // Packages of such names alone still end in the plain error.
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(dir.writeBytes("zuken.zip", zipOf({{"a.fph", kGerber}, {"b", kGerber}}))); }),
              "No Gerber/Drill files found in the package.");
}

TEST(PackageImporterKinds, OtherArchivesAndIPC2581AreRefusedWithTheirReason) {
    TempDir dir;
    const fs::path rar = dir.write("board.rar", std::string("Rar!\x1A\x07\x01\x00rest", 12));
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(rar); }),
              "Could not import: 'board.rar' is a RAR archive; unpack it and open the folder.");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importZIP(rar); }), errorText([&] { PackageImporter{}.importAny(rar); }));
    const fs::path sevenZip = dir.write("gerbers.bin", std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8));
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(sevenZip); }),
              "Could not import: 'gerbers.bin' is a 7z archive; unpack it and open the folder.");

    const std::string ipc = "<?xml version=\"1.0\"?>\n<IPC-2581 revision=\"C\">";
    const std::string refusal = "Could not import: IPC-2581 import is not supported.";
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(dir.write("board.cvg", ipc)); }), refusal);
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(dir.writeBytes("ipc.zip", zipOf({{"job/board.xml", ipc}}))); }),
              refusal);
    // Beside Gerber files, an IPC-2581 file is only named among the files not read.
    const PCBPackage mixed = PackageImporter{}.importAny(dir.writeBytes("mixed.zip", zipOf({{"board.xml", ipc}, {"top.gtl", kGerber}})));
    EXPECT_EQ(mixed.warnings.at(0), "Not read: board.xml");
}

TEST(PackageImporterWarnings, DrillFilesOffTheBoardAreNamed) {
    TempDir dir;
    // A 20 x 10 mm outline; one drill file on the board, one written against another origin.
    const std::string outline = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.1*%\nD10*\nX0Y0D02*\nX20000000Y0D01*\n"
                                "X20000000Y10000000D01*\nX0Y10000000D01*\nX0Y0D01*\nM02*\n";
    const std::string onBoard = "M48\nMETRIC\nT1C0.8\n%\nT1\nX5.0Y5.0\nX15.0Y5.0\nM30\n";
    const std::string offset = "M48\nMETRIC\nT1C0.8\n%\nT1\nX105.0Y-95.0\nX115.0Y-95.0\nX10.0Y5.0\nX12.0Y5.0\n"
                               "X125.0Y-95.0\nX135.0Y-95.0\nX145.0Y-95.0\nX155.0Y-95.0\nX165.0Y-95.0\nX175.0Y-95.0\nM30\n";
    const PCBPackage pkg = PackageImporter{}.importAny(
        dir.writeBytes("off.zip", zipOf({{"b-Edge_Cuts.gbr", outline}, {"b.drl", onBoard}, {"b-NPTH.drl", offset}})));
    std::vector<std::string> drillWarnings;
    for (const auto& w : pkg.warnings)
        if (w.starts_with("Drill file")) drillWarnings.push_back(w);
    // Two holes in ten on the board is a fifth: no word yet. None in three is under it.
    EXPECT_TRUE(drillWarnings.empty());
    const PCBPackage worse = PackageImporter{}.importAny(dir.writeBytes(
        "worse.zip", zipOf({{"b-Edge_Cuts.gbr", outline}, {"b.drl", onBoard},
                            {"b-NPTH.drl", offset.substr(0, offset.find("X10.0Y5.0")) + "X125.0Y-95.0\nM30\n"}})));
    EXPECT_EQ(std::count(worse.warnings.begin(), worse.warnings.end(),
                         "Drill file 'b-NPTH.drl' does not line up with the board; it may use another origin."),
              1);
    for (const auto& w : worse.warnings) EXPECT_EQ(w.find("'b.drl'"), std::string::npos) << w;
}

namespace {

using corvane::testing::buildZip;
using corvane::testing::zeroBombStream;
using corvane::testing::ZipItem;

// "X<n>Y<n>D01*" strokes, all on one line, with no line break in the whole file.
std::string strokesOnOneLine(int count) {
    std::string text = "%FSLAX46Y46*%%MOMM*%%ADD10C,0.1*%D10*X0Y0D02*";
    for (int i = 0; i < count; ++i) text += "X" + std::to_string(i * 37 % 100000000) + "Y" + std::to_string(i) + "D01*";
    return text + "M02*";
}

std::string drillHits(int count) {
    std::string text = "M48\nMETRIC,TZ\nT1C0.300\n%\nT1\n";
    for (int i = 0; i < count; ++i) text += "X" + std::to_string(i % 1000) + "Y" + std::to_string(i / 1000) + "\n";
    return text + "M30\n";
}

std::string regionOf(int vertices) {
    std::string text = "%FSLAX46Y46*%\n%MOMM*%\nG36*\nX0Y0D02*\n";
    for (int i = 0; i < vertices; ++i)
        text += "X" + std::to_string((i * 7919) % 1000000) + "Y" + std::to_string((i * 104729) % 1000000) + "D01*\n";
    return text + "G37*\nM02*\n";
}

// Imports `path` with the given ceilings in force, as the preview would with the defaults.
std::string importWithin(const fs::path& path, ImportAllowance::Ceilings ceilings) {
    ImportAllowance allowance(ceilings);
    const AllowanceScope scope(allowance);
    return errorText([&] { PackageImporter{}.importAny(path); });
}

} // namespace

TEST(PackageImporterCeilings, EveryReaderStopsAtTheImportsCeilingsWithAClearError) {
    TempDir dir;
    ImportAllowance::Ceilings small;
    small.objects = 10'000;
    small.vertices = 10'000;
    EXPECT_EQ(importWithin(dir.write("strokes.gtl", strokesOnOneLine(20'000)), small),
              "Could not import: 'strokes.gtl' is too large to import (more than 10000 objects).");
    EXPECT_EQ(importWithin(dir.write("hits.drl", drillHits(20'000)), small),
              "Could not import: 'hits.drl' is too large to import (more than 10000 objects).");
    EXPECT_EQ(importWithin(dir.write("region.gtl", regionOf(20'000)), small),
              "Could not import: 'region.gtl' is too large to import (more than 10000 contour points).");
    // The ceilings hold for the package, not per file: two files of 6,000 strokes read side by side.
    const fs::path two = dir.writeBytes("two.zip", zipOf({{"a.gtl", strokesOnOneLine(6'000)}, {"b.gbl", strokesOnOneLine(6'000)}}));
    EXPECT_EQ(importWithin(two, small), "Could not import: 'two.zip' is too large to import (more than 10000 objects).");
    small.objects = 20'000;
    EXPECT_EQ(importWithin(two, small), "(no error)");

    // A package may bring at most so many layer files; other entries do not count.
    std::vector<std::pair<std::string, std::string>> files;
    for (std::size_t i = 0; i <= kMaxPackageFiles; ++i) files.emplace_back("l" + std::to_string(i) + ".gbr", kGerber);
    files.emplace_back("notes.pdf", "x");
    const fs::path many = dir.writeBytes("many.zip", zipOf(files));
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(many); }),
              "Could not import: 'many.zip' is too large to import (more than 2000 layer files).");
}

TEST(PackageImporterCeilings, MemoryStaysWithinTheCeilings) {
    // One file of 300,000 strokes on one line against a ceiling of 100,000 objects: the reader stops
    // at the ceiling, so the memory it needs is that of the ceiling, not of the file.
    const std::string text = strokesOnOneLine(300'000);
    const auto outcome = corvane::testing::runInChild([&] {
        ImportAllowance::Ceilings ceilings;
        ceilings.objects = 100'000;
        ImportAllowance allowance(ceilings);
        const AllowanceScope scope(allowance);
        return errorText([&] { GerberParser{}.parse("strokes.gtl", text); });
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "Too large to read: more than 100000 objects.");
    EXPECT_LT(outcome.peakGrowthKB * 1024, static_cast<std::int64_t>(2 * 100'000 * sizeof(PCBObject)));

    // Sixteen entries of 64 MiB of zeros, each a separate stream, inflated side by side: the import's
    // byte budget counts them as they grow, so every worker stops once the total reaches it.
    Bytes stream = zeroBombStream(1);
    std::vector<ZipItem> items;
    for (int i = 0; i < 16; ++i)
        items.push_back(ZipItem("l" + std::to_string(i) + ".gbr").deflated().declaring(std::int64_t{1} << 26).withPayload(stream));
    const Bytes bomb = buildZip(items);
    const auto inflated = corvane::testing::runInChild([&] {
        ImportAllowance::Ceilings ceilings;
        ceilings.bytes = std::uint64_t{128} << 20;
        ImportAllowance allowance(ceilings);
        const AllowanceScope scope(allowance);
        return errorText([&] { PackageImporter{}.importZIPData(bomb, "bomb.zip"); });
    });
    ASSERT_TRUE(inflated.finished);
    EXPECT_EQ(inflated.text, "Could not import: 'bomb.zip' is too large to import (more than 128 MB of data).");
    EXPECT_LT(inflated.peakGrowthKB, 128 * 1024 + 32 * 1024);
}

TEST(PackageImporterCeilings, OnlyRegularFilesWithinTheCeilingAreRead) {
    TempDir dir;
    // A link to an endless device and a pipe nobody writes to: refused at once, never read or waited on.
    const fs::path zero = dir.path / "zero.gbr";
    fs::create_symlink("/dev/zero", zero);
    const fs::path fifo = dir.path / "pipe.gbr";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto outcome = corvane::testing::runInChild(
        [&] {
            return errorText([&] { PackageImporter{}.importAny(zero); }) + "|" +
                   errorText([&] { PackageImporter{}.importAny(fifo); });
        },
        30);
    ASSERT_TRUE(outcome.finished) << "the read hung";
    EXPECT_EQ(outcome.text, "Could not read 'zero.gbr': Not a regular file|Could not read 'pipe.gbr': Not a regular file");
    EXPECT_LT(outcome.peakGrowthKB, 64 * 1024);

    // A file past the ceiling is refused from its size, before any byte is read (sparse: no disk used).
    const fs::path big = dir.write("big.gbr", "");
    fs::resize_file(big, kMaxEntryBytes + 1);
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(big); }),
              "Could not import: 'big.gbr' is too large to import (more than 512 MB in one file).");
    // In a folder, such files are left out like unreadable ones; links are never followed.
    dir.write("folder/top.gtl", kGerber);
    fs::create_symlink("/dev/zero", dir.path / "folder" / "zero.gbr");
    fs::rename(big, dir.path / "folder" / "big.gbr");
    EXPECT_EQ(names(PackageImporter{}.importAny(dir.path / "folder")), (std::vector<std::string>{"top.gtl"}));
}
