#include <gtest/gtest.h>

#include "ChildRun.hpp"
#include "TempDir.hpp"

#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <cmath>
#include <map>
#include <thread>

#include "io/ArchiveBuilder.hpp"
#include "import/ContentRoles.hpp"
#include "import/GerberParser.hpp"
#include "import/PackageImporter.hpp"
#include "io/VellZipWriter.hpp"

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
    // Read in parts side by side, the same package.
    const PCBPackage inParts = PackageImporter{.readInParts = true}.importAny(zip);
    EXPECT_EQ(names(inParts), names(pkg));
    EXPECT_EQ(inParts.warnings, pkg.warnings);
    EXPECT_EQ(inParts.files[2].dataHash, pkg.files[2].dataHash);
}

TEST(PackageImporterZip, NothingToImportAndNotAZip) {
    TempDir dir;
    const fs::path onlyJunk = dir.writeBytes("junk.zip", zipOf({{"__MACOSX/a.gbr", kGerber}, {".x/b.gbr", kGerber}}));
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(onlyJunk); }), "No Gerber/Drill files found in the package.");
    const fs::path text = dir.write("fake.zip", "not a zip");
    EXPECT_EQ(errorText([&] { PackageImporter{}.importZIP(text); }), "Could not import: 'fake.zip' is not a ZIP archive.");
    for (const PackageImporter importer : {PackageImporter{}, PackageImporter{.readInParts = true}}) {
        EXPECT_EQ(errorText([&] { importer.importAny(text); }), "Could not import: 'fake.zip' is not a ZIP archive.");
        EXPECT_EQ(errorText([&] { importer.importAny(dir.path / "missing.zip"); }).rfind("Could not read 'missing.zip'", 0), 0u);
    }
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
    // Tools' layer names without a layer extension, and rout and Zuken drill files; not what merely looks alike.
    for (const char* n : {"tl", "KO", "sieb1", "stp0", "Symbol-A.fph", "Conductive-2.fph", "ncroute.rou", "x_Drill_thru_nplt.fdr"})
        EXPECT_TRUE(PackageImporter::supportedExtension(n)) << n;
    for (const char* n : {"README", "readme", "Makefile", "to-do", "a.fph", "Symbol-A.pdf", "tl.pdf", "board.stp"})
        EXPECT_FALSE(PackageImporter::supportedExtension(n)) << n;

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

    // Where nothing else names an outer side, layer groups numbered by name run through the stack: the old
    // gEDA pcb's group1 (component side) and group2 (solder side), pcb-rnd's numbered job group0 to group3.
    EXPECT_EQ(roles("pcb17.zip", {{"b.pcb.output_group2.grb", kGerber}, {"b.pcb.output_group1.grb", kGerber}}),
              (Roles{{"b.pcb.output_group1.grb", "Top Copper"}, {"b.pcb.output_group2.grb", "Bottom Copper"}}));
    EXPECT_EQ(roles("rnd.zip", {{"b.group3.gbr", kGerber}, {"b.group1.gbr", kGerber}, {"b.group0.gbr", kGerber},
                                {"b.group2.gbr", kGerber}}),
              (Roles{{"b.group0.gbr", "Top Copper"}, {"b.group1.gbr", "Inner 1 Copper"}, {"b.group2.gbr", "Inner 2 Copper"},
                     {"b.group3.gbr", "Bottom Copper"}}));
    // Planes named by function beside them are no numbered groups: they stay inner.
    EXPECT_EQ(roles("planes.zip", {{"b.top.gbr", kGerber}, {"b.gnd.gbr", kGerber}, {"b.pwr.gbr", kGerber}}),
              (Roles{{"b.top.gbr", "Top Copper"}, {"b.gnd.gbr", "Inner 1 Copper"}, {"b.pwr.gbr", "Inner 2 Copper"}}));

    // Four-layer stacks as each tool names them: top, two inner layers in order, bottom.
    const std::vector<std::vector<std::string>> stacks = {
        {"board_lyr1_GAF.art", "board_lyr2.art", "board_lyr3.art", "board_lyr4_GAF.art"},  // Allegro
        {"l1_top.art", "l2_gnd.art", "l3_sig.art", "l4_bottom.art"},                       // Allegro films
        {"TOP.art", "GND2.art", "PWR.art", "BOTTOM.art"},                                  // OrCAD
        {"EtchLayer1Top.gdo", "EtchLayer2.gdo", "EtchLayer3.gdo", "EtchLayer4Bottom.gdo"}, // Xpedition
        {"artwork_1.grb", "artwork_2.grb", "artwork_3.grb", "artwork_4.grb"},              // Mentor
        {"b.top.gbr", "b.group2.gbr", "b.group3.gbr", "b.bottom.gbr"},                     // gEDA
        {"copper_top_l1.gbr", "copper_inner_l2.gbr", "copper_inner_l15.gbr", "copper_bottom_l16.gbr"},  // Eagle CAM
        {"b.cmp", "b.ly2", "b.ly3", "b.sol"},                                              // Eagle
        {"b.GTL", "b.G2L", "b.G3L", "b.GBL"},
    };
    for (const auto& names : stacks) {
        SCOPED_TRACE(names[1]);
        std::vector<std::pair<std::string, std::string>> files;
        for (auto it = names.rbegin(); it != names.rend(); ++it) files.emplace_back(*it, kGerber);  // order of names is no help
        EXPECT_EQ(roles("stack.zip", files), (Roles{{names[0], "Top Copper"}, {names[1], "Inner 1 Copper"},
                                                    {names[2], "Inner 2 Copper"}, {names[3], "Bottom Copper"}}));
    }
}

TEST(PackageImporterRoles, ToolsNamesWithoutLayerExtensions) {
    TempDir dir;
    using Roles = std::map<std::string, std::string>;
    auto import = [&](const std::string& zipName, const std::vector<std::pair<std::string, std::string>>& files) {
        return PackageImporter{}.importAny(dir.writeBytes(zipName, zipOf(files)));
    };
    auto roles = [](const PCBPackage& pkg) {
        Roles out;
        for (const auto& f : pkg.files) out[f.fileName] = f.layerType.displayName();
        return out;
    };
    // A CAM tool's bare names beside a readme without an extension, which is named as not read.
    const PCBPackage cam = import("cam.zip", {{"cam/tl", kGerber}, {"cam/bl", kGerber}, {"cam/ts", kGerber},
                                              {"cam/bs", kGerber}, {"cam/to", kGerber}, {"cam/bo", kGerber},
                                              {"cam/ko", kGerber}, {"cam/README", "Layers: tl bl ts bs to bo ko\n"},
                                              {"cam/drill.drl", kDrill}});
    EXPECT_EQ(roles(cam), (Roles{{"tl", "Top Copper"}, {"bl", "Bottom Copper"}, {"ts", "Top Solder Mask"},
                                 {"bs", "Bottom Solder Mask"}, {"to", "Top Silkscreen"}, {"bo", "Bottom Silkscreen"},
                                 {"ko", "Board Outline"}, {"drill.drl", "Drill"}}));
    ASSERT_FALSE(cam.warnings.empty());
    EXPECT_EQ(cam.warnings[0], "Not read: README");
    // Zuken: four copper layers numbered through the stack, A and B sides, and drill data in Excellon whose
    // board name holds "routed".
    const PCBPackage zuken =
        import("zuken.zip", {{"Gerber/Conductive-4.fph", kGerber}, {"Gerber/Conductive-2.fph", kGerber},
                             {"Gerber/Conductive-1.fph", kGerber}, {"Gerber/Conductive-3.fph", kGerber},
                             {"Gerber/Resist-A.fph", kGerber}, {"Gerber/Resist-B.fph", kGerber},
                             {"Gerber/Symbol-A.fph", kGerber}, {"Gerber/Symbol-B.fph", kGerber},
                             {"Gerber/MetalMask-A.fph", kGerber}, {"Gerber/MetalMask-B.fph", kGerber},
                             {"Drill/8seg_Driver__routed_Drill_thru_plt.fdr", kDrill},
                             {"Drill/8seg_Driver__routed_Drill_thru_nplt.fdr", kDrill}});
    EXPECT_EQ(roles(zuken),
              (Roles{{"Conductive-1.fph", "Top Copper"}, {"Conductive-2.fph", "Inner 1 Copper"},
                     {"Conductive-3.fph", "Inner 2 Copper"}, {"Conductive-4.fph", "Bottom Copper"},
                     {"Resist-A.fph", "Top Solder Mask"}, {"Resist-B.fph", "Bottom Solder Mask"},
                     {"Symbol-A.fph", "Top Silkscreen"}, {"Symbol-B.fph", "Bottom Silkscreen"},
                     {"MetalMask-A.fph", "Top Paste"}, {"MetalMask-B.fph", "Bottom Paste"},
                     {"8seg_Driver__routed_Drill_thru_plt.fdr", "Drill"}, {"8seg_Driver__routed_Drill_thru_nplt.fdr", "Drill"}}));
    for (const auto& f : zuken.files) {
        if (f.layerType.isDrill()) {
            EXPECT_TRUE(f.drill && f.drill->hits.size() == 1) << f.fileName;
        }
    }
    // German short names.
    EXPECT_EQ(roles(import("de.zip", {{"sieb0", kGerber}, {"sieb1", kGerber}, {"stp0", kGerber}, {"stp1", kGerber},
                                      {"board.gtl", kGerber}})),
              (Roles{{"sieb0", "Bottom Paste"}, {"sieb1", "Top Paste"}, {"stp0", "Bottom Solder Mask"},
                     {"stp1", "Top Solder Mask"}, {"board.gtl", "Top Copper"}}));
}

namespace {

// The layers of a small board as CAD tools draw them: a 40 x 30 mm board with four holes, pads ringing them
// on copper (with tracks between) and mask, a drill drawing of crosses on the holes with a legend beside
// the board, and the board's edge.
struct SmallBoard {
    static constexpr double holes[4][2] = {{10, 10}, {30, 10}, {30, 20}, {10, 20}};

    static std::string mm(double v) { return std::to_string(static_cast<long long>(std::llround(v * 1e6))); }
    static std::string at(double x, double y) { return "X" + mm(x) + "Y" + mm(y); }
    static std::string header(const std::string& apertures) {
        return "G04 Layer written by a CAD tool*\n%FSLAX46Y46*%\n%MOMM*%\n" + apertures;
    }
    static std::string pads(double size, bool tracks) {
        std::string text = header("%ADD10C," + std::to_string(size) + "*%\n%ADD11C,0.25*%\n") + "D10*\n";
        for (const auto& h : holes) text += at(h[0], h[1]) + "D03*\n";
        if (tracks) {
            text += "D11*\n" + at(10, 10) + "D02*\n";
            for (const auto& h : holes) text += at(h[0], h[1]) + "D01*\n";
        }
        return text + "M02*\n";
    }
    static std::string copper() { return pads(1.6, true); }
    static std::string mask() { return pads(1.8, false); }
    static std::string drawing() {
        std::string text = header("%ADD12C,0.1*%\n") + "D12*\n";
        for (const auto& h : holes)
            text += at(h[0] - 0.5, h[1]) + "D02*\n" + at(h[0] + 0.5, h[1]) + "D01*\n" + at(h[0], h[1] - 0.5) + "D02*\n" +
                    at(h[0], h[1] + 0.5) + "D01*\n";
        // The legend below the board: a symbol and the letters of its hole size.
        for (int k = 0; k < 6; ++k) text += at(5 + 2 * k, -10) + "D02*\n" + at(6 + 2 * k, -8) + "D01*\n";
        return text + "M02*\n";
    }
    static std::string edge(double x0, double y0, double x1, double y1) {
        return header("%ADD13C,0.15*%\n") + "D13*\n" + at(x0, y0) + "D02*\n" + at(x1, y0) + "D01*\n" + at(x1, y1) +
               "D01*\n" + at(x0, y1) + "D01*\n" + at(x0, y0) + "D01*\nM02*\n";
    }
    static std::string outline() { return edge(0, 0, 40, 30); }
    // The pieces of a drawing: D01 strokes after one D02, and a row of short strokes as text drawn by a plotter.
    static std::string path(const std::vector<std::pair<double, double>>& points) {
        std::string text = at(points[0].first, points[0].second) + "D02*\n";
        for (std::size_t k = 1; k < points.size(); ++k) text += at(points[k].first, points[k].second) + "D01*\n";
        return text;
    }
    static std::string rectangle(double x0, double y0, double x1, double y1) {
        return path({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}});
    }
    static std::string text(double x, double y, int letters) {
        std::string out;
        for (int k = 0; k < letters; ++k) out += path({{x + 1.2 * k, y}, {x + 1.2 * k + 0.4, y + 1}, {x + 1.2 * k + 0.8, y}});
        return out;
    }
    static std::string flashed(double size) {
        std::string text = "%ADD20C," + std::to_string(size) + "*%\nD20*\n";
        for (const auto& h : holes) text += at(h[0], h[1]) + "D03*\n";
        return text;
    }
    static std::string drill() {
        std::string text = "M48\nMETRIC\nT1C0.800\n%\nT1\n";
        for (const auto& h : holes) text += "X" + std::to_string(h[0]) + "Y" + std::to_string(h[1]) + "\n";
        return text + "M30\n";
    }
};

std::map<std::string, std::string> rolesOf(const PCBPackage& p) {
    std::map<std::string, std::string> out;
    for (const auto& f : p.files) out[f.fileName] = f.layerType.displayName();
    return out;
}

} // namespace

TEST(PackageImporterRoles, ContentPlacesFilesWhoseNamesSayNothing) {
    TempDir dir;
    using B = SmallBoard;
    // A tool's own numbered extensions for every layer, in the order it wrote them.
    const PCBPackage pkg = PackageImporter{}.importAny(dir.writeBytes(
        "job.zip", zipOf({{"job.001", B::copper()}, {"job.002", B::mask()}, {"job.003", B::mask()}, {"job.004", B::copper()},
                          {"job.005", B::copper()}, {"job.006", B::outline()}, {"job.007", B::drawing()},
                          {"job.008", B::drill()}})));
    EXPECT_EQ(rolesOf(pkg), (std::map<std::string, std::string>{
                                {"job.001", "Top Copper"}, {"job.002", "Top Solder Mask"}, {"job.003", "Bottom Solder Mask"},
                                {"job.004", "Inner 1 Copper"}, {"job.005", "Bottom Copper"}, {"job.006", "Board Outline"},
                                {"job.007", "Unknown"}, {"job.008", "Drill"}}));
    // Each inferred role is named once, so it can be corrected; none is also called a misclassification.
    EXPECT_EQ(pkg.warnings, (std::vector<std::string>{
                                "Inferred from content: 'job.001' is Top Copper.",
                                "Inferred from content: 'job.002' is Top Solder Mask.",
                                "Inferred from content: 'job.003' is Bottom Solder Mask.",
                                "Inferred from content: 'job.004' is Inner 1 Copper.",
                                "Inferred from content: 'job.005' is Bottom Copper.",
                                "Inferred from content: 'job.007' is a drill drawing (documentation).",
                                "Inferred from content: 'job.006' is Board Outline."}));

    // A name that says a side, if nothing else, gives the side; the unnamed file takes the other.
    const PCBPackage sided = PackageImporter{}.importAny(dir.writeBytes(
        "sided.zip", zipOf({{"seite_unten.001", B::copper()}, {"plot.002", B::copper()}, {"nc.003", B::drill()}})));
    EXPECT_EQ(rolesOf(sided), (std::map<std::string, std::string>{
                                  {"seite_unten.001", "Bottom Copper"}, {"plot.002", "Top Copper"}, {"nc.003", "Drill"}}));
    // Without drill holes nothing is inferred: the files stay unknown, each named once.
    const PCBPackage bare = PackageImporter{}.importAny(dir.writeBytes("bare.zip", zipOf({{"a.001", B::copper()}})));
    EXPECT_EQ(bare.warnings, (std::vector<std::string>{"Potential layer misclassification: 'a.001' (Unknown)."}));
}

TEST(PackageImporterRoles, OutlineFromTheOnlyClosedContourAroundTheCopper) {
    TempDir dir;
    using B = SmallBoard;
    // Altium: the board shape on a mechanical layer, dimensions (open lines) on another.
    const std::string dimensions = B::header("%ADD10C,0.1*%\n") + "D10*\n" + B::at(0, -5) + "D02*\n" + B::at(40, -5) +
                                   "D01*\n" + B::at(0, -6) + "D02*\n" + B::at(0, -4) + "D01*\nM02*\n";
    auto import = [&](const std::string& zip, std::vector<std::pair<std::string, std::string>> extra) {
        std::vector<std::pair<std::string, std::string>> files = {{"b.GTL", B::copper()}, {"b.GBL", B::copper()},
                                                                  {"b.TXT", B::drill()}};
        files.insert(files.end(), extra.begin(), extra.end());
        return PackageImporter{}.importAny(dir.writeBytes(zip, zipOf(files)));
    };
    const PCBPackage pkg = import("altium.zip", {{"b.GM1", B::outline()}, {"b.GM2", dimensions}});
    EXPECT_EQ(rolesOf(pkg).at("b.GM1"), "Board Outline");
    EXPECT_EQ(rolesOf(pkg).at("b.GM2"), "Unknown");
    EXPECT_EQ(std::count(pkg.warnings.begin(), pkg.warnings.end(), "Inferred from content: 'b.GM1' is Board Outline."), 1);
    // A file named as the outline wins; two closed contours around the copper (the board and a sheet frame)
    // leave the choice open, as do two files each holding one.
    EXPECT_EQ(rolesOf(import("named.zip", {{"b.GKO", B::outline()}, {"b.GM1", B::outline()}})).at("b.GM1"), "Unknown");
    const std::string framed = B::outline().substr(0, B::outline().find("M02")) + B::at(-2, -2) + "D02*\n" +
                               B::at(42, -2) + "D01*\n" + B::at(42, 32) + "D01*\n" + B::at(-2, 32) + "D01*\n" +
                               B::at(-2, -2) + "D01*\nM02*\n";
    EXPECT_EQ(rolesOf(import("framed.zip", {{"b.GM1", framed}})).at("b.GM1"), "Unknown");
    EXPECT_EQ(rolesOf(import("two.zip", {{"b.GM1", B::outline()}, {"b.GM3", B::outline()}})).at("b.GM1"), "Unknown");
    // A sheet far larger than the copper is no outline, nor a contour that does not go round it.
    EXPECT_EQ(rolesOf(import("sheet.zip", {{"b.GM1", B::edge(-150, -150, 250, 200)}})).at("b.GM1"), "Unknown");
    EXPECT_EQ(rolesOf(import("inside.zip", {{"b.GM1", B::edge(12, 12, 28, 18)}})).at("b.GM1"), "Unknown");
}

TEST(PackageImporterRoles, DrillDrawingsAreDocumentation) {
    TempDir dir;
    using B = SmallBoard;
    // OrCAD's .drd written as Gerber: a drawing of the holes, beside the real drill data; by name, Mentor's.
    const PCBPackage pkg = PackageImporter{}.importAny(dir.writeBytes(
        "orcad.zip", zipOf({{"TOP.art", B::copper()}, {"board.drd", B::drawing()}, {"board-1-2.drl", B::drill()},
                            {"DrillDrawingThrough.gdo", B::drawing()}})));
    EXPECT_EQ(rolesOf(pkg), (std::map<std::string, std::string>{{"TOP.art", "Top Copper"},
                                                                 {"board.drd", "Unknown"},
                                                                 {"board-1-2.drl", "Drill"},
                                                                 {"DrillDrawingThrough.gdo", "Unknown"}}));
    EXPECT_EQ(pkg.warnings, (std::vector<std::string>{"Inferred from content: 'board.drd' is a drill drawing (documentation)."}));
    // Drill data written as Gerber, pads the size of their holes and nothing else, stays drill.
    const std::string flashes = SmallBoard::pads(0.8, false);
    const PCBPackage data = PackageImporter{}.importAny(
        dir.writeBytes("data.zip", zipOf({{"TOP.art", B::copper()}, {"board.drd", flashes}, {"board-1-2.drl", B::drill()}})));
    EXPECT_EQ(rolesOf(data).at("board.drd"), "Drill");
}

TEST(PackageImporterRoles, DrawingsAreDocumentationNeverCopperOrMask) {
    TempDir dir;
    using B = SmallBoard;
    auto import = [&](const std::string& zip, const std::string& name, const std::string& content) {
        return PackageImporter{}.importAny(dir.writeBytes(
            zip, zipOf({{"b.GTL", B::copper()}, {"b.GBL", B::copper()}, {"b.TXT", B::drill()}, {name, content}})));
    };
    const std::string drawn = "Inferred from content: 'sheet.art' is a drawing (documentation).";
    // A 1 mm circle flashed on each hole, a sheet frame and two parallel lines 0.21 mm apart: a fabrication
    // drawing, not an inner layer whose lines are 0.01 mm apart.
    const std::string fab = B::header("%ADD12C,0.1*%\n") + B::flashed(1.0) + "D12*\n" + B::rectangle(-20, -20, 60, 50) +
                            B::path({{12, 15}, {28, 15}}) + B::path({{12, 15.21}, {28, 15.21}}) + "M02*\n";
    const PCBPackage pkg = import("fab.zip", "sheet.art", fab);
    EXPECT_EQ(rolesOf(pkg).at("sheet.art"), "Unknown");
    EXPECT_EQ(std::count(pkg.warnings.begin(), pkg.warnings.end(), drawn), 1);
    EXPECT_EQ(pkg.copperLayerIDs().size(), 2u);
    // The same within the board (the frame left out), and with symbols larger than the copper's pads beside
    // notes and a stackup table on the sheet (as Allegro draws the fabrication).
    EXPECT_EQ(rolesOf(import("inside.zip", "sheet.art", B::header("%ADD12C,0.1*%\n") + B::flashed(1.0) + "D12*\n" +
                                                      B::path({{12, 15}, {28, 15}}) + B::path({{12, 15.21}, {28, 15.21}}) + "M02*\n"))
                  .at("sheet.art"),
              "Unknown");
    const std::string sheet = B::header("%ADD12C,0.1*%\n") + B::flashed(2.5) + "D12*\n" + B::rectangle(-40, -60, 120, 80) +
                              B::text(50, 40, 12) + B::rectangle(50, 0, 90, 20) + B::path({{50, 10}, {90, 10}}) + B::text(52, 12, 8) +
                              "M02*\n";
    const PCBPackage allegro = import("allegro.zip", "sheet.art", sheet);
    EXPECT_EQ(rolesOf(allegro).at("sheet.art"), "Unknown");
    EXPECT_EQ(std::count(allegro.warnings.begin(), allegro.warnings.end(), drawn), 1);

    // An assembly drawing: the parts' pins as the copper has them, their leads running to the bodies, the
    // bodies and the reference designators; nothing joins one pin to another.
    std::string assembly = B::header("%ADD12C,0.1*%\n") + B::flashed(1.6) + "D12*\n";
    for (const auto& h : B::holes) {
        const double body = h[0] < 20 ? h[0] + 3 : h[0] - 3;
        assembly += B::path({{h[0], h[1]}, {body, h[1]}}) + B::rectangle(body, h[1] - 1, body + (h[0] < 20 ? 4 : -4), h[1] + 1) +
                    B::text(body, h[1] + 2, 2);
    }
    EXPECT_EQ(rolesOf(import("assembly.zip", "sheet.art", assembly + "M02*\n")).at("sheet.art"), "Unknown");

    // A plane drawn as a film stays copper: clearances larger than the pads where unconnected, thermals the
    // pads' size where connected, and split lines; how it is checked is the checks' affair.
    std::string film = B::header("%ADD12C,0.3*%\n%ADD21C,2.2*%\n%ADD22C,1.6*%\n") + "D21*\n" + B::at(10, 10) + "D03*\nD22*\n";
    for (int k = 1; k < 4; ++k) film += B::at(B::holes[k][0], B::holes[k][1]) + "D03*\n";
    film += "D12*\n" + B::path({{2, 15}, {38, 15}}) + B::path({{20, 2}, {20, 28}}) + B::path({{2, 25}, {38, 25}}) + "M02*\n";
    EXPECT_EQ(rolesOf(import("film.zip", "plane.art", film)).at("plane.art"), "Inner 1 Copper");

    // Files that say they are drawings (a drill map, an assembly drawing) are documentation whatever they draw.
    // Drawings its tools name so (OrCAD's and pcb-rnd's .asb, pcb-rnd's .fab) stay documentation, though
    // pcb-rnd's assembly drawing flashes the pads on the holes as a solder mask does.
    EXPECT_EQ(rolesOf(import("asb.zip", "b.asb", B::mask())).at("b.asb"), "Unknown");
    EXPECT_EQ(rolesOf(import("fabname.zip", "b.fab", B::copper())).at("b.fab"), "Unknown");
    const PCBPackage kicad = import("kicad.zip", "b-drl_map.gbr", "%TF.FileFunction,Drillmap*%\n" + B::drawing());
    EXPECT_EQ(rolesOf(kicad).at("b-drl_map.gbr"), "Unknown");
    EXPECT_EQ(std::count(kicad.warnings.begin(), kicad.warnings.end(),
                         "Inferred from content: 'b-drl_map.gbr' is a drill drawing (documentation)."),
              1);
    const PCBPackage fabLayer = import("fablayer.zip", "b-F_Fab.gbr", "G04 #@! TF.FileFunction,AssemblyDrawing,Top*\n" + B::copper());
    EXPECT_EQ(rolesOf(fabLayer).at("b-F_Fab.gbr"), "Unknown");
    EXPECT_EQ(std::count(fabLayer.warnings.begin(), fabLayer.warnings.end(),
                         "Inferred from content: 'b-F_Fab.gbr' is a drawing (documentation)."),
              1);
}

TEST(PackageImporterRoles, TheBoardsSizeComesFromItsEdge) {
    TempDir dir;
    using B = SmallBoard;
    auto import = [&](const std::string& zip, const std::string& name, const std::string& content) {
        return PackageImporter{}.importAny(dir.writeBytes(
            zip, zipOf({{"b.GTL", B::copper()}, {"b.GBL", B::copper()}, {"b.TXT", B::drill()}, {name, content}})));
    };
    // A mechanical layer as Altium writes a fabrication drawing on it: the board's edge, a stackup table and
    // notes beside it, dimension lines, and a panel frame far around.
    const std::string notes = B::rectangle(50, 0, 90, 20) + B::path({{50, 10}, {90, 10}}) + B::text(52, 12, 8) +
                              B::text(0, -12, 20) + B::path({{0, -5}, {40, -5}}) + B::path({{0, -6}, {0, -4}});
    const std::string mechanical = B::header("%ADD10C,0.15*%\n") + "D10*\n" + B::rectangle(0, 0, 40, 30) + notes +
                                   B::rectangle(-100, -80, 160, 120) + "M02*\n";
    const PCBPackage named = import("named.zip", "b.GKO", mechanical);
    ASSERT_EQ(rolesOf(named).at("b.GKO"), "Board Outline");
    EXPECT_EQ(named.boardBBox(), (BBox{0, 0, 40, 30}));
    // The same without the panel frame on a layer no name places: the board's edge is inferred, and only
    // the edge sets the board.
    const std::string drawing = B::header("%ADD10C,0.15*%\n") + "D10*\n" + B::rectangle(0, 0, 40, 30) + notes + "M02*\n";
    const PCBPackage inferred = import("inferred.zip", "b.GM1", drawing);
    ASSERT_EQ(rolesOf(inferred).at("b.GM1"), "Board Outline");
    EXPECT_EQ(inferred.boardBBox(), (BBox{0, 0, 40, 30}));
    // Several closed contours around the copper beside the notes (the board, its keep-out, a second frame):
    // not the outline, and the board is the extent of its copper and holes.
    const std::string several = B::header("%ADD10C,0.15*%\n") + "D10*\n" + B::rectangle(0, 0, 40, 30) +
                                B::rectangle(1, 1, 39, 29) + B::rectangle(-2, -2, 42, 32) + notes + "M02*\n";
    const PCBPackage documentation = import("several.zip", "b.GKO", several);
    EXPECT_EQ(rolesOf(documentation).at("b.GKO"), "Unknown");
    EXPECT_EQ(std::count(documentation.warnings.begin(), documentation.warnings.end(),
                         "Inferred from content: 'b.GKO' is a drawing (documentation)."),
              1);
    EXPECT_FALSE(documentation.outlineBBox().isValid());
    const BBox copper = documentation.files[0].gerber->bbox;
    EXPECT_EQ(documentation.boardBBox(), copper);
    // The edge goes round the holes, all drilled within the board, where copper reaches beyond it (a test
    // coupon, a tool's marks); not round a drawing of the parts, which holds the board's edge too.
    const std::string coupon = B::copper().substr(0, B::copper().find("M02")) + "D11*\n" + B::path({{-10, 40}, {50, 40}}) + "M02*\n";
    const PCBPackage marked = PackageImporter{}.importAny(dir.writeBytes(
        "coupon.zip", zipOf({{"b.GTL", coupon}, {"b.GBL", B::copper()}, {"b.TXT", B::drill()}, {"b.GM1", B::outline()}})));
    EXPECT_EQ(rolesOf(marked).at("b.GM1"), "Board Outline");
    std::string parts = B::header("%ADD10C,0.15*%\n") + "D10*\n" + B::rectangle(0, 0, 40, 30);
    for (const auto& h : B::holes) parts += B::rectangle(h[0] - 2, h[1] - 2, h[0] + 2, h[1] + 2) + B::text(h[0] - 2, h[1] + 3, 2);
    EXPECT_EQ(rolesOf(import("parts.zip", "b.GM1", parts + "M02*\n")).at("b.GM1"), "Unknown");
    // Without an outline, a sheet every film draws (a frame, a dimension line, a title whose last words differ
    // from film to film, as an old tool plots its films) is no part of the board; a top copper that reaches
    // beyond the holes on its own (a part far from any hole) is.
    auto films = [&](const std::string& zip, const std::string& top, const std::string& bottom, const std::string& mask) {
        return PackageImporter{}.importAny(
            dir.writeBytes(zip, zipOf({{"b.GTL", top}, {"b.GBL", bottom}, {"b.GTS", mask}, {"b.TXT", B::drill()}})));
    };
    auto sheet = [](const std::string& film, int titleLetters) {
        return film.substr(0, film.find("M02")) + "D11*\n" + B::rectangle(-40, -40, 80, 70) + B::path({{0, -20}, {40, -20}}) +
               B::text(-30, 60, 12) + B::text(0, 60, titleLetters) + "M02*\n";
    };
    const BBox board = films("unsheeted.zip", B::copper(), B::copper(), B::mask()).boardBBox();
    EXPECT_EQ(films("sheeted.zip", sheet(B::copper(), 3), sheet(B::copper(), 5), sheet(B::mask(), 4)).boardBBox(), board);
    const std::string reaching = B::copper().substr(0, B::copper().find("M02")) + "D10*\n" + B::at(70, 15) + "D03*\nM02*\n";
    EXPECT_GT(films("reaching.zip", reaching, B::copper(), B::mask()).boardBBox().maxX, 70.0);

    // A plain outline of two contours, with nothing else, keeps its name's role and its whole drawing.
    const std::string twice = B::header("%ADD10C,0.15*%\n") + "D10*\n" + B::rectangle(0, 0, 40, 30) +
                              B::rectangle(-1, -1, 41, 31) + "M02*\n";
    const PCBPackage plain = import("twice.zip", "b.GKO", twice);
    EXPECT_EQ(rolesOf(plain).at("b.GKO"), "Board Outline");
    EXPECT_EQ(plain.boardBBox(), (BBox{-1, -1, 41, 31}));
}

TEST(PackageImporterRoles, TheSameRolesWhateverTheThreads) {
    TempDir dir;
    // A package large enough for its files to be examined side by side: a grid of holes, copper with pads
    // on them and tracks between them, and masks, none placed by its name.
    constexpr int kSide = 80;
    std::string drill = "M48\nMETRIC\nT1C0.6\n%\nT1\n";
    auto layer = [&](double pad, bool tracks) {
        std::string text = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C," + std::to_string(pad) + "*%\n%ADD11C,0.2*%\nD10*\n";
        for (int i = 0; i < kSide; ++i)
            for (int j = 0; j < kSide; ++j) text += SmallBoard::at(2.0 * i, 2.0 * j) + "D03*\n";
        if (tracks) {
            text += "D11*\n";
            for (int i = 0; i + 1 < kSide; ++i)
                for (int j = 0; j < kSide; ++j) text += SmallBoard::path({{2.0 * i, 2.0 * j}, {2.0 * i + 2, 2.0 * j}});
        }
        return text + "M02*\n";
    };
    for (int i = 0; i < kSide; ++i)
        for (int j = 0; j < kSide; ++j) drill += "X" + std::to_string(2 * i) + ".0Y" + std::to_string(2 * j) + ".0\n";
    const Bytes zip = zipOf({{"job.001", layer(1.2, true)}, {"job.002", layer(1.4, false)}, {"job.003", layer(1.2, true)},
                             {"job.004", layer(1.2, true)}, {"job.005", layer(1.4, false)}, {"job.006", drill + "M30\n"}});
    const fs::path path = dir.writeBytes("grid.zip", zip);
    const PCBPackage first = PackageImporter{}.importAny(path);
    EXPECT_EQ(rolesOf(first), (std::map<std::string, std::string>{
                                  {"job.001", "Top Copper"}, {"job.002", "Top Solder Mask"}, {"job.003", "Inner 1 Copper"},
                                  {"job.004", "Bottom Copper"}, {"job.005", "Bottom Solder Mask"}, {"job.006", "Drill"}}));
    for (int run = 0; run < 2; ++run) {
        const PCBPackage again = PackageImporter{}.importAny(path);
        EXPECT_EQ(rolesOf(again), rolesOf(first));
        EXPECT_EQ(again.warnings, first.warnings);
    }
}

TEST(PackageImporterRoles, ContentPastTheTimeBudgetKeepsTheRolesOfTheNames) {
    TempDir dir;
    using B = SmallBoard;
    const Bytes zip = zipOf({{"job.001", B::copper()}, {"job.002", B::mask()}, {"b.GKO", B::outline()}, {"job.008", B::drill()}});
    PackageImporter importer;
    importer.timeBudget = 0;
    const PCBPackage pkg = importer.importAny(dir.writeBytes("job.zip", zip));
    EXPECT_EQ(rolesOf(pkg), (std::map<std::string, std::string>{
                                {"job.001", "Unknown"}, {"job.002", "Unknown"}, {"b.GKO", "Board Outline"}, {"job.008", "Drill"}}));
    EXPECT_EQ(std::count(pkg.warnings.begin(), pkg.warnings.end(),
                         "Import time budget reached before the content of 'job.001', 'job.002' was examined: "
                         "the roles their names gave are kept."),
              1);
    EXPECT_FALSE(pkg.files[0].boardEdgeBox);
    // A clock that has passed the deadline by the first look at it: the same, the rules never start.
    std::vector<PackageFile> files = pkg.files;
    RoleDeadline passed;
    passed.at = RoleDeadline::Clock::time_point{} + std::chrono::hours(1);
    passed.now = [] { return RoleDeadline::Clock::time_point{} + std::chrono::hours(2); };
    EXPECT_EQ(inferRolesFromContent(files, passed).size(), 1u);
    // Within the budget the same files get their roles.
    EXPECT_EQ(rolesOf(PackageImporter{}.importAny(dir.writeBytes("again.zip", zip))).at("job.001"), "Top Copper");
}

TEST(PackageImporterRoles, APileOnOneSpotIsNoLayer) {
    TempDir dir;
    // Thousands of holes, pads, strokes and joints on one spot, as hostile files have them: looked at as
    // one place, with no role for what cannot be a board.
    std::string drill = "M48\nMETRIC\nT1C0.3\n%\nT1\n", pads = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.6*%\nD10*\n";
    for (int k = 0; k < 3000; ++k) {
        drill += "X1.0Y1.0\n";
        pads += "X1000000Y1000000D03*\nX1000000Y1000000D02*\nX1000100Y1000000D01*\n";
    }
    const PCBPackage pkg = PackageImporter{}.importAny(
        dir.writeBytes("pile.zip", zipOf({{"board.drl", drill + "M30\n"}, {"layer.gbr", pads + "M02*\n"}})));
    EXPECT_EQ(rolesOf(pkg).at("layer.gbr"), "Unknown");
    // The same at the sizes that once kept the rules busy for minutes: 100,000 and 400,000 pads on as many
    // holes on one spot, 200,000 holes of 30 mm under as many strokes. Examined within the import's budget,
    // with room to spare, as nothing is left to the names.
    for (const char* name : {"zip_pads_on_holes_100k.zip", "zip_pads_on_holes_400k.zip", "zip_drill_symbols_200k.zip"}) {
        const PCBPackage hostile = PackageImporter{}.importAny(std::string(CORVANE_TEST_DATA) + "/hostile/" + name);
        EXPECT_EQ(rolesOf(hostile), (std::map<std::string, std::string>{{"board.drl", "Drill"}, {"layer.gbr", "Unknown"}})) << name;
        for (const auto& w : hostile.warnings) EXPECT_EQ(w.find("time budget"), std::string::npos) << name << ": " << w;
    }
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

TEST(PackageImporterDrills, AllegroRoutFileIsReadWithItsSlots) {
    TempDir dir;
    // Header-less, its tool table in comments and its number format in nc_param.txt beside it.
    const std::string rout = ";LEADER: 12\n;HEADER:\n;DESTINATION: NC ROUTE\n"
                             ";Holesize 1. = 78.740158 Tolerance = +0.000000/-0.000000 NON_PLATED MILS Quantity = 1\n"
                             "%\nG90\nT01\nG00X0100000Y0100000\nM15\nG01X0300000Y0100000\nG01X0300000Y0200000\nM16\nM30\n";
    const PCBPackage pkg = PackageImporter{}.importAny(dir.writeBytes(
        "allegro.zip", zipOf({{"nc/nc_param.txt", "FORMAT 2.5\nOUTPUT-UNITS ENGLISH\n"}, {"nc/board_NCROUTE.rou", rout}})));
    ASSERT_EQ(pkg.files.size(), 1u);
    const PackageFile& f = pkg.files[0];
    EXPECT_EQ(f.layerType, LayerType::drill());
    EXPECT_EQ(f.format, SourceFormat::excellon);
    ASSERT_TRUE(f.drill);
    EXPECT_TRUE(f.drill->hits.empty());
    ASSERT_EQ(f.drill->slots.size(), 2u);
    const auto* second = f.drill->slots[1].kind.as<PCBObjectKind::Slot>();
    EXPECT_NEAR(second->start.x, 3 * 25.4, 1e-9);
    EXPECT_NEAR(second->end.y, 2 * 25.4, 1e-9);
    EXPECT_NEAR(second->diameterMM, 2.0, 1e-6);
    EXPECT_TRUE(pkg.warnings.empty()) << pkg.warnings.front();
}

TEST(PackageImporterWarnings, FilesTheNameFilterLeavesOutAreNamed) {
    TempDir dir;
    // Names that say nothing are read for their content: Gerber and drill data is kept, anything else named.
    std::vector<std::pair<std::string, std::string>> files = {
        {"board.Top", kGerber}, {"board.fph", kGerber}, {"DRILL", kDrill}, {"docs/.DS_Store", "junk"},
        {"board.pdf", kGerber}};
    for (int i = 0; i < 12; ++i) files.emplace_back("note" + std::to_string(i) + ".rst", "Made for 1.6 mm FR-4.\n");
    const PCBPackage pkg = PackageImporter{}.importAny(dir.writeBytes("target.zip", zipOf(files)));
    EXPECT_EQ(names(pkg), (std::vector<std::string>{"board.Top", "DRILL", "board.fph"}));
    ASSERT_FALSE(pkg.warnings.empty());
    EXPECT_EQ(pkg.warnings[0], "Not read: board.pdf, note0.rst, note1.rst, note2.rst, note3.rst, note4.rst, note5.rst, "
                               "note6.rst, note7.rst, note8.rst and 3 more");
    // A binary file under a layer's name (Protel's binary drill file beside its text one) is named, not read.
    const PCBPackage protel = PackageImporter{}.importAny(dir.writeBytes(
        "protel.zip", zipOf({{"b.TXT", kDrill}, {"b.DRL", std::string("T\x07\x02\x80T\x04\x08\x80#\x01v")}})));
    EXPECT_EQ(names(protel), (std::vector<std::string>{"b.TXT"}));
    EXPECT_EQ(std::count(protel.warnings.begin(), protel.warnings.end(), "Skipped unrecognized file: b.DRL"), 1);
    // Packages of such names alone still end in the plain error.
    EXPECT_EQ(errorText([&] { PackageImporter{}.importAny(dir.writeBytes("zuken.zip", zipOf({{"a.fph", "text"}, {"b", "x"}}))); }),
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
    auto drill = [](const std::vector<std::pair<double, double>>& hits) {
        std::string text = "M48\nMETRIC\nT1C0.8\n%\nT1\n";
        for (const auto& [x, y] : hits) text += "X" + std::to_string(x) + "Y" + std::to_string(y) + "\n";
        return text + "M30\n";
    };
    auto alignmentWarnings = [&](const std::string& zip, const std::vector<std::pair<std::string, std::string>>& files) {
        std::vector<std::string> out;
        for (const auto& w : PackageImporter{}.importAny(dir.writeBytes(zip, zipOf(files))).warnings)
            if (w.starts_with("Drill file")) out.push_back(w);
        return out;
    };
    // A 100 x 50 mm outline with copper in one corner only (kGerber draws 0..1 mm): holes on the board but
    // far from the copper are judged against the outline.
    const std::string outline = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.1*%\nD10*\nX0Y0D02*\nX100000000Y0D01*\n"
                                "X100000000Y50000000D01*\nX0Y50000000D01*\nX0Y0D01*\nM02*\n";
    EXPECT_TRUE(alignmentWarnings("board.zip", {{"b-Edge_Cuts.gbr", outline}, {"b-F_Cu.gbr", kGerber},
                                                {"b.drl", drill({{50, 25}, {90, 45}, {95, 5}})}})
                    .empty());
    // Without an outline the copper's box stands for the board: mounting holes 3 mm beside it are on the board.
    EXPECT_TRUE(alignmentWarnings("mounting.zip", {{"b-F_Cu.gbr", kGerber}, {"b-NPTH.drl", drill({{-3, 0}, {4, 0}, {0, 3}})}})
                    .empty());
    // Written against another origin: most holes far off. Half of them off is not most.
    const std::vector<std::pair<double, double>> far = {{150, -95}, {160, -95}, {170, -95}};
    EXPECT_EQ(alignmentWarnings("origin.zip", {{"b-Edge_Cuts.gbr", outline}, {"b.drl", drill({{50, 25}})},
                                               {"b-NPTH.drl", drill({{50, 25}, far[0], far[1], far[2]})}}),
              (std::vector<std::string>{"Drill file 'b-NPTH.drl' does not line up with the board; it may use another origin."}));
    EXPECT_TRUE(alignmentWarnings("half.zip", {{"b-Edge_Cuts.gbr", outline},
                                               {"b.drl", drill({{50, 25}, {60, 25}, far[0], far[1]})}})
                    .empty());
    // Without an outline such a drill file is warned about and is no part of the board's box, which the
    // copper and the holes that line up with it give (a KiCad drill file at the auxiliary origin, an old
    // gEDA drill file whose numbers cannot be placed).
    const PCBPackage loose = PackageImporter{}.importAny(dir.writeBytes(
        "loose.zip", zipOf({{"b-F_Cu.gbr", kGerber}, {"b-PTH.drl", drill({{0.5, 0.5}, {2, 0.5}})}, {"b-NPTH.drl", drill(far)}})));
    const auto copper = std::find_if(loose.files.begin(), loose.files.end(), [](const PackageFile& f) { return f.layerType.isCopper(); });
    ASSERT_NE(copper, loose.files.end());
    const auto aligned = std::find_if(loose.files.begin(), loose.files.end(), [](const PackageFile& f) { return f.fileName == "b-PTH.drl"; });
    ASSERT_NE(aligned, loose.files.end());
    BBox expected = copper->gerber->bbox;
    expected.include(aligned->drill->bbox);
    EXPECT_EQ(loose.boardBBox(), expected);
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

    // An entry of 36 MB under a ceiling of 64 MB of data is read, however well it compresses: its buffer
    // costs its size, not the sizes it grew through on the way (which added up to 76 MB).
    const fs::path comment = dir.writeBytes(
        "comment.zip", buildZip({ZipItem("top.gtl", "G04 " + std::string(36'000'000, 'x') + "*\n" + kGerber).deflated()}));
    ImportAllowance::Ceilings bytes;
    bytes.bytes = std::uint64_t{64} << 20;
    EXPECT_EQ(importWithin(comment, bytes), "(no error)");

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

TEST(PackageImporterCeilings, MemoryRunningOutEndsTheImportWithAClearError) {
    // Two million strokes under a cap of 256 MB of data more than the test program holds: the object table
    // cannot be had, and the import ends with its error instead of an uncaught std::bad_alloc.
    TempDir dir;
    const fs::path file = dir.write("strokes.gtl", strokesOnOneLine(2'000'000));
    const auto outcome = corvane::testing::runInChild([&] {
        rlimit limit{};
        ::getrlimit(RLIMIT_DATA, &limit);
        limit.rlim_cur = static_cast<rlim_t>(corvane::testing::procStatusKB("VmData") * 1024 + (std::int64_t{256} << 20));
        if (::setrlimit(RLIMIT_DATA, &limit) != 0) return std::string("no cap");
        return errorText([&] { PackageImporter{}.importAny(file); });
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "Could not import: 'strokes.gtl' is too large to import (not enough memory).");
}

TEST(PackageImporterDrills, AParameterFileOfOneEndlessLineCostsNoMoreThanItsBytes) {
    // nc_param.txt of one 60 MB line of words: its first two words give the places, and reading it takes the
    // bytes and no copy or list of its words (it took twelve times the line).
    std::string line = "INTEGER-PLACES 3";
    line.reserve(60'000'100);
    for (int i = 0; i < 30'000'000; ++i) line += " x";
    const Bytes zip = zipOf({{"nc_param.txt", line + "\nDECIMAL-PLACES 5\nOUTPUT-UNITS ENGLISH\n"},
                             {"board-1-4.drl", ";Holesize 1. = 12.0 PLATED MILS\nT01\nX123456Y65432\nM00\n"}});
    line = {};
    const auto outcome = corvane::testing::runInChild([&] {
        const PCBPackage pkg = PackageImporter{}.importZIPData(zip, "minnow.zip");
        return formatFixed(pkg.files.at(0).drill->hits.at(0).position.x / 25.4, 5);
    });
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.text, "1.23456");
    EXPECT_LT(outcome.peakGrowthKB, 200 * 1024);
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
    // The head of a file (what the revision store sniffs) is read whatever the file's size; anything but a
    // regular file is refused as a whole read is.
    EXPECT_EQ(readFileHead(big, 74), Bytes(74, 0));
    EXPECT_EQ(readFileHead(dir.write("short.gbr", "G04*"), 74), Bytes({'G', '0', '4', '*'}));
    EXPECT_THROW(readFileHead(zero, 74), FileReadError);
    EXPECT_THROW(readFileHead(fifo, 74), FileReadError);
    // A ZIP package is read where it is needed, by several threads at once, in ranges that overlap and
    // share blocks: each range holds the bytes of a whole read. The same refusals.
    std::string varied(2'500'017, '\0');
    for (std::size_t i = 0; i < varied.size(); ++i) varied[i] = static_cast<char>((i * 2654435761u) >> 13);
    const fs::path several = dir.write("several.bin", varied);
    {
        const FileOnDemand onDemand(several);
        const Bytes whole = readWholeFile(several);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges{
            {2'499'990, 100}, {0, 30}, {16'380, 10}, {16'383, 1}};
        for (std::uint64_t at = 7; at < varied.size(); at += 301'111) ranges.emplace_back(at, 450'000);
        std::vector<std::thread> readers;
        for (const auto& [at, length] : ranges)
            readers.emplace_back([&, at = at, length = length] { onDemand.need(at, length); });
        for (auto& t : readers) t.join();
        for (const auto& [at, length] : ranges) {
            const auto end = std::min<std::uint64_t>(at + length, whole.size());
            EXPECT_TRUE(std::equal(whole.begin() + at, whole.begin() + end, onDemand.bytes().begin() + at)) << at;
        }
        EXPECT_FALSE(onDemand.changed());
    }
    EXPECT_THROW(FileOnDemand{zero}, FileReadError);
    EXPECT_THROW(FileOnDemand{fifo}, FileReadError);
    // A file cut short after it was opened reads as zeros past its new end and counts as changed; so does
    // one that grew, though every byte asked for was there.
    {
        const fs::path shrinking = dir.write("shrinking.bin", varied);
        const FileOnDemand onDemand(shrinking);
        fs::resize_file(shrinking, 40'000);
        onDemand.need(30'000, 20'000);
        EXPECT_TRUE(std::equal(varied.begin() + 30'000, varied.begin() + 40'000, onDemand.bytes().begin() + 30'000,
                               [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));
        EXPECT_TRUE(std::all_of(onDemand.bytes().begin() + 40'000, onDemand.bytes().begin() + 50'000,
                                [](std::uint8_t b) { return b == 0; }));
        EXPECT_TRUE(onDemand.changed());
        const fs::path growing = dir.write("growing.bin", "abc");
        const FileOnDemand grown(growing);
        grown.need(0, 3);
        EXPECT_FALSE(grown.changed());
        std::ofstream(growing, std::ios::app) << "d";
        EXPECT_TRUE(grown.changed());
    }
    const fs::path bigZip = dir.write("big.zip", std::string("PK\x03\x04", 4));
    fs::resize_file(bigZip, kMaxEntryBytes + 1);
    for (const PackageImporter importer : {PackageImporter{}, PackageImporter{.readInParts = true}})
        EXPECT_EQ(errorText([&] { importer.importAny(bigZip); }),
                  "Could not import: 'big.zip' is too large to import (more than 512 MB in one file).");
    // In a folder, such files are left out like unreadable ones; links are never followed.
    dir.write("folder/top.gtl", kGerber);
    fs::create_symlink("/dev/zero", dir.path / "folder" / "zero.gbr");
    fs::rename(big, dir.path / "folder" / "big.gbr");
    EXPECT_EQ(names(PackageImporter{}.importAny(dir.path / "folder")), (std::vector<std::string>{"top.gtl"}));
}
