#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>

#include "Builders.hpp"
#include "checks/BoardSummaryEngine.hpp"
#include "checks/CopperFilms.hpp"
#include "checks/CopperSpacing.hpp"
#include "checks/DFMEngine.hpp"
#include "import/GerberParser.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

// A board of 20 plated holes, 0.8 mm, on a 2.54 mm grid of 5 columns and 4 rows.
std::vector<Vec2> holes() {
    std::vector<Vec2> out;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 5; ++i) out.push_back({5 + 2.54 * i, 5 + 2.54 * j});
    return out;
}

std::string at(Vec2 p) {
    return "X" + std::to_string(std::llround(p.x * 1e6)) + "Y" + std::to_string(std::llround(p.y * 1e6));
}
std::string flash(Vec2 p) { return at(p) + "D03*\n"; }
std::string line(Vec2 a, Vec2 b) { return at(a) + "D02*\n" + at(b) + "D01*\n"; }

PackageFile layer(std::string name, CopperLayerID side, const std::string& head, const std::string& body) {
    const std::string text = head + "%FSLAX46Y46*%\n%MOMM*%\n" + body + "M02*\n";
    PackageFile f = copperFile(name, {}, side);
    f.gerber = GerberParser().parse(name, std::string_view(text));
    return f;
}

// Drawn copper: a 1.6 mm pad on every hole, the pads of each row joined by a 0.3 mm track, so the
// rows are 0.94 mm apart. The pads are D10 of `padApertures`.
PackageFile signalLayer(std::string name, CopperLayerID side, const std::string& padApertures = "%ADD10C,1.6*%\n") {
    std::string body = padApertures + "%ADD19C,0.3*%\nD10*\n";
    for (const Vec2& h : holes()) body += flash(h);
    body += "D19*\n";
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) body += line({5 + 2.54 * i, 5 + 2.54 * j}, {5 + 2.54 * (i + 1), 5 + 2.54 * j});
    return layer(std::move(name), side, "", body);
}

// A plane film: what it draws on the holes, 2.4 mm across (0.14 mm apart if read as pads), a
// 0.5 mm split line between two columns and a 0.25 mm border.
std::string filmBody(const std::string& onHoles) {
    std::string body = onHoles + "%LPD*%\n%ADD20C,0.5*%\n%ADD21C,0.25*%\n";
    body += "D20*\n" + line({5 + 2.54 * 2.5, 2}, {5 + 2.54 * 2.5, 16});
    body +=
        "D21*\n" + line({2, 2}, {18, 2}) + line({18, 2}, {18, 16}) + line({18, 16}, {2, 16}) + line({2, 16}, {2, 2});
    return body;
}

// Apertures, then one flash per hole: of D10 and D11 in turn.
std::string flashes(const std::string& apertures, bool alternate = true) {
    std::string body = apertures;
    const auto h = holes();
    for (std::size_t k = 0; k < h.size(); ++k) body += (alternate && k % 2 ? "D11*\n" : "D10*\n") + flash(h[k]);
    return body;
}

PCBPackage board(PackageFile inner) {
    std::vector<DrillTool> tools{DrillTool{1, 0.8, Plating::pth}};
    std::vector<DrillHit> hits;
    for (const Vec2& h : holes()) hits.push_back(DrillHit{h, 1, Plating::pth});
    return package({signalLayer("board.gtl", CopperLayerID::top()), std::move(inner),
                    signalLayer("board.gbl", CopperLayerID::bottom()), drillFile("board.drl", tools, hits)});
}

std::vector<films::CopperFilm> filmsOf(const PCBPackage& pkg) { return films::copperFilms(pkg); }

const std::string kPrimitiveThermal = "%AMTHERMAL*\n7,0,0,2.4,1.4,0.4,45*%\n%ADD10THERMAL*%\n%ADD11C,2.4*%\n";
const std::string kAntipads = "%ADD10C,2.4*%\n";

} // namespace

TEST(CopperFilms, NegativeImagesAndPolaritiesAreFilms) {
    // A film of plain antipads only, said negative by %IPNEG or by its X2 polarity; without either
    // and without a plane's name it is drawn copper.
    const std::string antipads = filmBody(flashes(kAntipads, false));
    const std::vector<std::pair<std::string, std::optional<films::FilmEvidence>>> cases{
        {"%IPNEG*%\n", films::FilmEvidence::imagePolarity},
        {"%TF.FileFunction,Copper,L2,Inr*%\n%TF.FilePolarity,Negative*%\n", films::FilmEvidence::filePolarity},
        {"", std::nullopt}};
    for (const auto& [head, evidence] : cases) {
        const PCBPackage pkg = board(layer("layer2.gbr", CopperLayerID::inner(2), head, antipads));
        const auto found = filmsOf(pkg);
        ASSERT_EQ(found.size(), evidence ? 1u : 0u) << head;
        if (evidence) {
            EXPECT_EQ(found[0].file, 1u);
            EXPECT_EQ(found[0].evidence, *evidence);
        }
    }
}

TEST(CopperFilms, PlaneFilmsDrawnPositiveAreKnownByWhatTheyDrawOnTheHoles) {
    // Thermal reliefs as the thermal primitive, as macros named for them whose spokes and holes are
    // exposure-off primitives (PADS), as four arcs per hole, as short chords round the holes that
    // have no antipad, and as antipads cut by clear spokes; rings as macros named for them.
    const std::string pads = "%AMTER*\n1,1,$1,0,0*\n1,0,$1-$2,0,0*\n21,0,$3,$4,0,0,45*\n21,0,$3,$4,0,0,135*%\n"
                             "%AMANN*\n1,1,$1,0,0*\n1,0,$2,0,0*%\n%ADD10TER,2.4X0.5X2.6X0.4*%\n%ADD11ANN,2.4X1.4*%\n";
    std::string arcs = "%ADD12C,0.2*%\nG75*\n";
    std::string spokes = "%ADD11C,2.4*%\n%ADD12C,0.3*%\n";
    // Antipads on every other hole and, on the rest, thermals as two chords per quadrant.
    std::string chords = "%ADD11C,2.4*%\n%ADD12C,0.2*%\n";
    for (std::size_t k = 0; k < holes().size(); ++k) {
        const Vec2 h = holes()[k];
        if (k % 2 == 0) {
            chords += "D11*\n" + flash(h);
            continue;
        }
        chords += "D12*\n";
        for (int q = 0; q < 4; ++q) {
            auto corner = [&](double a) { return h + Vec2{0.9 * std::cos(a), 0.9 * std::sin(a)}; };
            const double a0 = q * 1.5707963267948966 + 0.3, a1 = (q + 1) * 1.5707963267948966 - 0.3;
            chords += line(corner(a0), corner((a0 + a1) / 2)) + line(corner((a0 + a1) / 2), corner(a1));
        }
    }
    for (const Vec2& h : holes()) {
        for (int q = 0; q < 4; ++q) {
            const double a0 = q * 1.5707963267948966 + 0.2, a1 = (q + 1) * 1.5707963267948966 - 0.2;
            const Vec2 s = h + Vec2{std::cos(a0), std::sin(a0)}, e = h + Vec2{std::cos(a1), std::sin(a1)};
            arcs += "D12*\n" + at(s) + "D02*\nG03" + at(e) + "I" + std::to_string(std::llround(-std::cos(a0) * 1e6)) +
                    "J" + std::to_string(std::llround(-std::sin(a0) * 1e6)) + "D01*\n";
        }
        spokes += "%LPD*%\nD11*\n" + flash(h) + "%LPC*%\nD12*\n" + line(h + Vec2{-1.2, 0}, h + Vec2{1.2, 0}) +
                  line(h + Vec2{0, -1.2}, h + Vec2{0, 1.2});
    }
    const std::vector<std::pair<std::string, std::string>> films{
        {"primitive thermal", filmBody(flashes(kPrimitiveThermal))},
        {"named macros", filmBody(flashes(pads))},
        {"rings", filmBody(flashes("%AMANNULUS*\n1,1,$1,0,0*\n1,0,$2,0,0*%\n%ADD10ANNULUS,2.4X1.2*%\n", false))},
        {"arcs", filmBody(arcs)},
        {"chords", filmBody(chords)},
        {"clear spokes", filmBody(spokes)}};
    for (const auto& [form, body] : films) {
        const PCBPackage pkg = board(layer("layer3.gbr", CopperLayerID::inner(3), "", body));
        const auto found = filmsOf(pkg);
        ASSERT_EQ(found.size(), 1u) << form;
        EXPECT_EQ(found[0].file, 1u);
        EXPECT_EQ(found[0].evidence, films::FilmEvidence::drawnClearances);
    }
    // Antipads alone, larger than the pads of the drawn copper on the same holes, are a film only
    // in a file whose name calls it a plane.
    const std::string antipads = filmBody(flashes(kAntipads, false));
    EXPECT_EQ(filmsOf(board(layer("Power-Plane (GND).gbr", CopperLayerID::inner(3), "", antipads))).size(), 1u);
    EXPECT_EQ(filmsOf(board(layer("L3_gnd.art", CopperLayerID::inner(3), "", antipads))).size(), 1u);
    // Without a drill file (a film sent alone) thermal reliefs still tell, standing on the flashes
    // themselves; antipads alone, or pads joined by tracks, do not.
    for (const auto& [body, films] : {std::pair{filmBody(flashes(kPrimitiveThermal)), 1u}, {antipads, 0u}}) {
        PCBPackage alone = board(layer("Power-Plane (GND).gbr", CopperLayerID::inner(3), "", body));
        alone.files.pop_back();
        const auto found = filmsOf(alone);
        ASSERT_EQ(found.size(), films);
        if (films) {
            EXPECT_EQ(found[0].file, 1u);
        }
    }
}

TEST(CopperFilms, DrawnCopperOnTheHolesIsNoFilm) {
    // Pads on every hole with tracks between them, plain or as thermal macros; a pour over the
    // holes; a plane named so but painted with strokes; a layer named for a plane that flashes
    // isolated pads on the holes, as large as the other layers' pads. All drawn copper.
    std::string pour = "%ADD10C,1.6*%\nG36*\n" + line({1, 1}, {19, 1}) + at({19, 17}) + "D01*\n" + at({1, 17}) +
                       "D01*\n" + at({1, 1}) + "D01*\nG37*\nD10*\n";
    std::string painted = "%ADD10C,1.6*%\n%ADD11C,0.5*%\nD10*\n";
    for (const Vec2& h : holes()) pour += flash(h), painted += flash(h);
    painted += "D11*\n";
    for (int k = 0; k < 300; ++k) painted += line({1, 1 + 0.05 * k}, {19, 1 + 0.05 * k});
    const std::vector<PackageFile> layers{
        signalLayer("layer2.gbr", CopperLayerID::inner(2)),
        signalLayer("layer2.gbr", CopperLayerID::inner(2), kPrimitiveThermal),
        layer("gnd_plane.gbr", CopperLayerID::inner(2), "", pour),
        layer("gnd_plane.gbr", CopperLayerID::inner(2), "", painted),
        layer("gnd.gbr", CopperLayerID::inner(2), "", flashes("%ADD10C,1.6*%\n", false))};
    for (const PackageFile& f : layers) EXPECT_TRUE(filmsOf(board(f)).empty()) << f.fileName;
}

TEST(CopperFilms, FilmsAreLeftOutOfTheChecksAndTheSummaryAndNamed) {
    const PCBPackage pkg =
        board(layer("layer3.gbr", CopperLayerID::inner(3), "", filmBody(flashes(kPrimitiveThermal))));
    // Read as copper the film's antipads would be pads 0.14 mm apart and its border a 0.25 mm track.
    const BoardSummary s = BoardSummaryEngine().summarize(pkg);
    EXPECT_EQ(s.copperLayerCount, 3);
    EXPECT_EQ(s.padCount, 40);
    ASSERT_TRUE(s.minSpaceMM);
    EXPECT_NEAR(*s.minSpaceMM, 0.94, 1e-9);
    EXPECT_EQ(s.minTrackMM, 0.3);
    EXPECT_TRUE(spacing::checkCopperSpacing(pkg, 0.5, spacing::Clock::now() + std::chrono::seconds(30)).issues.empty());

    const DFMReport report = DFMEngine().runChecks(pkg, ManufacturingPreset{"Fab", 0.28, 0.5, 0.3, 0.1});
    std::vector<const CheckIssue*> films;
    for (const auto& issue : report.issues) {
        EXPECT_NE(issue.id, "minSpaceBelowPreset");
        EXPECT_NE(issue.id, "minTraceBelowPreset");
        if (issue.id == "copperFilmNotMeasured") films.push_back(&issue);
    }
    ASSERT_EQ(films.size(), 1u);
    EXPECT_EQ(films[0]->severity, CheckSeverity::warning);
    EXPECT_EQ(films[0]->title, "Copper film not measured");
    EXPECT_EQ(films[0]->message,
              "Copper film not measured: 'layer3.gbr' draws a plane's antipads and thermal reliefs on the holes and no "
              "tracks, so it shows where its copper is not; it is left out of the copper spacing check and of the "
              "board's pads, min track and min space.");
    EXPECT_EQ(films[0]->fileName, "layer3.gbr");
    // Without a preset the film is named all the same: the summary leaves it out either way.
    const DFMReport plain = DFMEngine().runChecks(pkg);
    EXPECT_EQ(std::count_if(plain.issues.begin(), plain.issues.end(),
                            [](const CheckIssue& i) { return i.id == "copperFilmNotMeasured"; }),
              1);

    // A film that says it is negative (%IPNEG), its antipads 0.14 mm apart if read as pads: left out the same,
    // and named for what it says.
    const PCBPackage negative = board(layer("layer2.gbr", CopperLayerID::inner(2), "%IPNEG*%\n", filmBody(flashes(kAntipads, false))));
    const BoardSummary n = BoardSummaryEngine().summarize(negative);
    ASSERT_TRUE(n.minSpaceMM);
    EXPECT_NEAR(*n.minSpaceMM, 0.94, 1e-9);
    EXPECT_TRUE(spacing::checkCopperSpacing(negative, 0.5, spacing::Clock::now() + std::chrono::seconds(30)).issues.empty());
    const DFMReport named = DFMEngine().runChecks(negative);
    const auto film = std::find_if(named.issues.begin(), named.issues.end(),
                                   [](const CheckIssue& i) { return i.id == "copperFilmNotMeasured"; });
    ASSERT_NE(film, named.issues.end());
    EXPECT_EQ(film->message, "Copper film not measured: 'layer2.gbr' has a negative image (%IPNEG), so it shows where its "
                             "copper is not; it is left out of the copper spacing check and of the board's pads, min "
                             "track and min space.");
}
