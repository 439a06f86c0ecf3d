// Layout of the review report checked on the recording canvas, measured with the real text engine.
#include "ReportTestSupport.hpp"
#include "checks/DFMEngine.hpp"
#include "import/PackageImporter.hpp"

using namespace corvane;
using namespace corvane::reporttest;
using Op = RecordingCanvas::Op;

namespace {

const std::string kDash = "\xE2\x80\x94";
const std::string kEllipsis = "\xE2\x80\xA6";

// Layout positions depend on Helvetica's metrics; on another face every width-based check drifts.
void requireHelveticaMetrics() {
    TextEngine engine;
    for (bool bold : {false, true}) {
        const std::string family = engine.resolvedFamily(FontSpec{bold, 10});
        ASSERT_EQ(family, "Nimbus Sans") << "\"Helvetica\" must resolve to Nimbus Sans (fonts-urw-base35) for the "
                                            "report's metrics; fontconfig gave \"" << family << "\"";
    }
}

class ReportLayout : public ::testing::Test {
protected:
    void SetUp() override { requireHelveticaMetrics(); }

    RecordingCanvas record(const ReportInput& in) {
        ReportPDFRenderer renderer(in);
        RecordingCanvas canvas;
        renderer.drawReport(canvas);
        return canvas;
    }
    // A renderer attached to a recording canvas, one page begun, for testing a single block.
    struct Attached {
        ReportPDFRenderer renderer;
        RecordingCanvas canvas;
        explicit Attached(ReportInput in) : renderer(std::move(in)) {
            renderer.ctx = &canvas;
            renderer.beginPage();
        }
    };

    static std::vector<std::string> textsOf(const RecordingCanvas::Page& page) {
        std::vector<std::string> out;
        for (const Op* op : page.texts()) out.push_back(op->text);
        return out;
    }
    static const Op& textOp(const RecordingCanvas::Page& page, const std::string& text) {
        const Op* op = page.findText(text);
        if (!op) throw std::runtime_error("no text \"" + text + "\" on the page");
        return *op;
    }
    double rightEnd(const Op& op) { return op.at.x + engine.width(op.font, op.text); }
    double centre(const Op& op) { return op.at.x + engine.width(op.font, op.text) / 2; }

    TextEngine engine;
};

TEST_F(ReportLayout, FontsResolveToTheHelveticaCloneWithItsAdvances) {
    // Digits have no kerning pairs: ten of them are 5560/1000 em in Helvetica's metrics.
    EXPECT_NEAR(engine.width(FontSpec{false, 8.5}, "0123456789"), 5.560 * 8.5, 0.01);
    // "Page 3" kerns P-a by -40/1000 em.
    EXPECT_NEAR(engine.width(FontSpec{false, 10}, "Page 3"), 31.69 - 0.4, 0.02);
    // Kerning is on: "AV" is narrower than "A" plus "V".
    EXPECT_LT(engine.width(FontSpec{false, 10}, "AV"),
              engine.width(FontSpec{false, 10}, "A") + engine.width(FontSpec{false, 10}, "V") - 0.5);
    EXPECT_GT(engine.width(FontSpec{true, 10}, "Page 3"), engine.width(FontSpec{false, 10}, "Page 3"));
}

TEST_F(ReportLayout, MinimalInputGivesFourPagesWithTheirFixedTexts) {
    const RecordingCanvas c = record(minimalInput());
    ASSERT_EQ(c.pages.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& page = c.pages[i];
        EXPECT_TRUE(page.ended);
        const Op& name = textOp(page, "Sensor Board");
        EXPECT_EQ(name.at, (Vec2{56, 810}));
        EXPECT_EQ(name.font, (FontSpec{false, 8.5}));
        const Op& number = textOp(page, "Page " + std::to_string(i + 1));
        EXPECT_DOUBLE_EQ(number.at.y, 810);
        EXPECT_NEAR(rightEnd(number), 539, 1e-9);
        const auto rules = page.ofKind(Op::Kind::polyline);
        ASSERT_FALSE(rules.empty());
        EXPECT_EQ(rules[0]->points, (std::vector<Vec2>{{56, 800}, {539, 800}}));
        EXPECT_DOUBLE_EQ(rules[0]->lineWidth, 0.6);
    }
    // Cover
    const auto& cover = c.pages[0];
    EXPECT_EQ(textOp(cover, "Sensor Board").font.size, 8.5);
    const auto coverTexts = cover.texts();
    const Op* title = nullptr;
    for (const Op* op : coverTexts)
        if (op->text == "Sensor Board" && op->font.size == 30) title = op;
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->at, (Vec2{56, 576}));
    EXPECT_TRUE(title->font.bold);
    EXPECT_EQ(textOp(cover, "PCB Manufacturing Review Report").at, (Vec2{56, 550}));
    EXPECT_EQ(textOp(cover, "Revision: RevA").at, (Vec2{56, 529}));
    EXPECT_EQ(textOp(cover, "Board Summary").at, (Vec2{56, 473}));
    EXPECT_EQ(textOp(cover, "No board summary available.").at, (Vec2{56, 449}));
    const Op& footer = textOp(cover, "Generated locally by Corvane " + kDash + " 100% on-device, no upload.");
    EXPECT_DOUBLE_EQ(footer.at.y, 40);
    EXPECT_NEAR(centre(footer), 297.5, 1e-9);
    // Layer summary
    const auto& layers = c.pages[1];
    EXPECT_EQ(textsOf(layers), (std::vector<std::string>{"Sensor Board", "Page 2", "Layer Summary", "Revision: RevA",
                                                         "No files.", "Drill Summary", "Revision: RevA", "No drills."}));
    EXPECT_EQ(textOp(layers, "Layer Summary").at, (Vec2{56, 776}));
    EXPECT_EQ(textOp(layers, "No files.").at, (Vec2{56, 730}));
    EXPECT_EQ(textOp(layers, "Drill Summary").at, (Vec2{56, 702}));
    EXPECT_EQ(textOp(layers, "No drills.").at, (Vec2{70, 664}));
    // Warnings and measurements
    EXPECT_EQ(textOp(c.pages[2], "Warnings").at, (Vec2{56, 776}));
    EXPECT_EQ(textOp(c.pages[2], "No DFM check was run for this report.").at, (Vec2{56, 748}));
    EXPECT_EQ(textOp(c.pages[3], "Measurements").at, (Vec2{56, 776}));
    EXPECT_EQ(textOp(c.pages[3], "No measurements recorded.").at, (Vec2{56, 748}));
    EXPECT_NE(c.pages[3].findText(footer.text), nullptr);
    EXPECT_EQ(c.pages[2].findText(footer.text), nullptr);
}

TEST_F(ReportLayout, DateTextIsEnglishInTheLocalZone) {
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(ReportPDFRenderer::dateString(sampleDate()), "March 5, 2026 \xC2\xB7 14:07");
    EXPECT_EQ(ReportPDFRenderer::dateString(Date::fromUnix(0)), "January 1, 1970 \xC2\xB7 00:00");
    EXPECT_EQ(ReportPDFRenderer::dateString(Date{std::numeric_limits<double>::quiet_NaN()}), "");
    {
        ScopedTimeZone tokyo("Asia/Tokyo");
        EXPECT_EQ(ReportPDFRenderer::dateString(sampleDate()), "March 5, 2026 \xC2\xB7 23:07");
    }
    const RecordingCanvas c = record(minimalInput());
    EXPECT_EQ(textOp(c.pages[0], "Generated March 5, 2026 \xC2\xB7 14:07").at, (Vec2{56, 513}));
}

TEST_F(ReportLayout, WrapFillsGreedilyAndKeepsEmptyParagraphsAndWords) {
    ReportPDFRenderer r(minimalInput());
    const FontSpec body{false, 10};
    EXPECT_EQ(r.wrap("", body, 100), (std::vector<std::string>{""}));
    EXPECT_EQ(r.wrap("a\n\nb", body, 100), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(r.wrap("a  b", body, 100), (std::vector<std::string>{"a  b"}));
    const std::string longWord(80, 'W');
    EXPECT_EQ(r.wrap("x " + longWord + " y", body, 100), (std::vector<std::string>{"x", longWord, "y"}));

    const std::string text = "The quick brown fox jumps over the lazy dog and keeps running far beyond the hill";
    const double width = 120;
    const auto lines = r.wrap(text, body, width);
    ASSERT_GT(lines.size(), 2u);
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(r.textWidth(lines[i], body), width) << lines[i];
        if (i + 1 < lines.size()) {  // greedy: the next line's first word would not have fitted
            const std::string next = lines[i + 1].substr(0, lines[i + 1].find(' '));
            EXPECT_GT(r.textWidth(lines[i] + " " + next, body), width);
        }
        joined += (i ? " " : "") + lines[i];
    }
    EXPECT_EQ(joined, text);
}

TEST_F(ReportLayout, TruncateCutsWholeCharactersAndAddsTheEllipsis) {
    ReportPDFRenderer r(minimalInput());
    const FontSpec body{false, 10};
    EXPECT_EQ(r.truncate("short.gbr", body, 205), "short.gbr");
    EXPECT_EQ(r.truncate("anything", body, 1), kEllipsis);
    EXPECT_EQ(r.truncate("", body, 0), "");

    const std::string name = "very-long-manufacturing-file-name-for-the-top-copper-layer-rev-c.gtl";
    const std::string cut = r.truncate(name, body, 205);
    ASSERT_GT(cut.size(), kEllipsis.size());
    ASSERT_EQ(cut.substr(cut.size() - kEllipsis.size()), kEllipsis);
    const std::string kept = cut.substr(0, cut.size() - kEllipsis.size());
    EXPECT_EQ(name.substr(0, kept.size()), kept);
    EXPECT_LE(r.textWidth(cut, body), 205);
    EXPECT_GT(r.textWidth(name.substr(0, kept.size() + 1) + kEllipsis, body), 205);

    // e + combining acute: the pair goes or stays together, and no byte is split.
    std::string accents;
    for (int i = 0; i < 60; ++i) accents += "e\xCC\x81";
    for (double w : {30.0, 47.5, 61.0}) {
        const std::string t = r.truncate(accents, body, w);
        const std::string k = t.substr(0, t.size() - kEllipsis.size());
        EXPECT_TRUE(isValidUTF8(t));
        EXPECT_EQ(k.size() % 3, 0u) << w;
    }
    // CJK and invalid bytes
    const std::string cjk = r.truncate("\xE5\x9F\xBA\xE6\x9D\xBF\xE8\xA8\xAD\xE8\xA8\x88\xE5\x9B\xB3-\xFF\xFE-board", body, 40);
    EXPECT_TRUE(isValidUTF8(cjk));
    EXPECT_LE(r.textWidth(cjk, body), 40);
}

TEST_F(ReportLayout, TruncatingAPathologicalNameStaysFast) {
    ReportPDFRenderer r(minimalInput());
    std::string name;
    for (int i = 0; i < 10000; ++i) name += static_cast<char>('a' + i % 26);
    const std::string cut = r.truncate(name, FontSpec{false, 10}, 205);
    EXPECT_LE(r.textWidth(cut, FontSpec{false, 10}), 205);
    EXPECT_EQ(name.substr(0, cut.size() - kEllipsis.size()), cut.substr(0, cut.size() - kEllipsis.size()));
}

TEST_F(ReportLayout, TextsAreMadeValidAndSingleLine) {
    ReportInput in = minimalInput();
    in.projectName = "Bad\xC3name\twith\ncontrols";
    in.packageA.files.push_back(gerberFile("\xE5\x9F\xBA\xE6\x9D\xBF\xFF.gtl", LayerType::copper(CopperLayerID::top()), 2));
    const RecordingCanvas c = record(in);
    ASSERT_EQ(c.pages.size(), 4u);
    for (const auto& page : c.pages)
        for (const Op* op : page.texts()) {
            EXPECT_TRUE(isValidUTF8(op->text)) << op->text;
            for (unsigned char ch : op->text) EXPECT_GE(ch, 0x20) << op->text;
        }
    EXPECT_NE(c.pages[0].findText("Bad\xEF\xBF\xBDname with controls"), nullptr);
    EXPECT_NE(c.pages[1].findText("\xE5\x9F\xBA\xE6\x9D\xBF\xEF\xBF\xBD.gtl"), nullptr);
}

TEST_F(ReportLayout, BadgeIsDrawnFromItsOrigin) {
    const RecordingCanvas c = record(minimalInput());
    const auto& cover = c.pages[0];
    const auto rounded = cover.ofKind(Op::Kind::roundedRect);
    ASSERT_EQ(rounded.size(), 1u);
    EXPECT_EQ(rounded[0]->rect, (PageRect{56, 626, 190, 132}));
    EXPECT_EQ(rounded[0]->radius, 8);
    EXPECT_EQ(rounded[0]->color, (RGBAColor{0.05, 0.38, 0.17, 1}));
    const auto traces = cover.ofKind(Op::Kind::polyline);
    ASSERT_EQ(traces.size(), 3u);  // header rule, two traces
    EXPECT_EQ(traces[1]->cap, LineCap::round);
    EXPECT_DOUBLE_EQ(traces[1]->lineWidth, 2);
    ASSERT_EQ(traces[1]->points.size(), 4u);
    EXPECT_NEAR(traces[1]->points[0].x, 70, 1e-9);
    EXPECT_NEAR(traces[1]->points[0].y, 626 + 0.74 * 132, 1e-9);
    EXPECT_NEAR(traces[2]->points[3].x, 56 + 190 - 14, 1e-9);
    EXPECT_NEAR(traces[2]->points[3].y, 626 + 0.2 * 132, 1e-9);
    const auto chip = cover.ofKind(Op::Kind::fillRect);
    ASSERT_EQ(chip.size(), 1u);
    EXPECT_NEAR(chip[0]->rect.x, 56 + 76, 1e-9);
    EXPECT_NEAR(chip[0]->rect.width, 57, 1e-9);
    const Op& lettering = textOp(cover, "Corvane");
    EXPECT_NEAR(lettering.at.x, 56 + 76 + 4, 1e-9);
    EXPECT_NEAR(lettering.at.y, 626 + 0.49 * 132 - 3.5, 1e-9);
    EXPECT_EQ(lettering.font, (FontSpec{true, 8.5}));
    const auto pads = cover.ofKind(Op::Kind::circle);
    ASSERT_EQ(pads.size(), 5u);
    for (const Op* pad : pads) EXPECT_DOUBLE_EQ(pad->radius, 4.5);
    EXPECT_NEAR(pads[4]->at.x, 56 + 0.3 * 190, 1e-9);
}

TEST_F(ReportLayout, CoverTitleShrinksToFitDownToEleven) {
    ReportInput in = minimalInput();
    in.projectName = std::string(25, 'M');
    RecordingCanvas c = record(in);
    const Op* title = nullptr;
    for (const Op* op : c.pages[0].texts())
        if (op->text == in.projectName && op->at.y == 576) title = op;
    ASSERT_NE(title, nullptr);
    EXPECT_LE(engine.width(title->font, title->text), 483);
    EXPECT_GT(engine.width(FontSpec{true, title->font.size + 1}, title->text), 483);

    in.projectName = std::string(200, 'M');
    c = record(in);
    title = nullptr;
    for (const Op* op : c.pages[0].texts())
        if (op->text == in.projectName && op->at.y == 576) title = op;
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->font.size, 11);
}

TEST_F(ReportLayout, SummaryRowsAndTableInBothModes) {
    const auto rows = ReportPDFRenderer::summaryRows(sampleSummary(60));
    using Row = std::pair<std::string, std::string>;
    EXPECT_EQ(rows, (std::vector<Row>{{"Board size", "60.0 \xC3\x97 40.0 mm"},
                                      {"Copper layers", "2"},
                                      {"Pads", "120"},
                                      {"Drill hits", "48"},
                                      {"PTH / NPTH", "44 / 4"},
                                      {"Min track", "0.150 mm"},
                                      {"Min space", "0.150 mm (estimated)"},
                                      {"Smallest drill", "0.300 mm"}}));
    BoardSummary bare;
    const auto bareRows = ReportPDFRenderer::summaryRows(bare);
    EXPECT_EQ(bareRows[5].second, kDash);
    EXPECT_EQ(bareRows[6].second, kDash);
    EXPECT_TRUE(ReportPDFRenderer::summaryRows(std::nullopt).empty());
    // Without an outline the size is the box of every layer, and says so; holes of no stated plating are
    // counted, not hidden behind "0 / 0".
    BoardSummary eagle = sampleSummary(60);
    eagle.drillCount = 169;
    eagle.pthCount = eagle.npthCount = 0;
    const auto eagleRows = ReportPDFRenderer::summaryRows(eagle, BoardSizeSource::layerExtent);
    EXPECT_EQ(eagleRows[0].second, "60.0 \xC3\x97 40.0 mm (extent of all layers)");
    EXPECT_EQ(eagleRows[4].second, "0 / 0 (169 not stated)");

    ReportInput single = minimalInput();
    single.packageA = samplePackage("RevA");
    single.summaryA = sampleSummary(60);
    Attached s(single);
    const double after = s.renderer.drawSummaryTable(473);
    EXPECT_DOUBLE_EQ(after, 473 - 24 - 8 * 19);
    EXPECT_DOUBLE_EQ(s.renderer.cursorY, 776);
    const auto& page = s.canvas.pages[0];
    EXPECT_EQ(textOp(page, "Board size").at, (Vec2{56, 449}));
    EXPECT_TRUE(textOp(page, "Board size").font.bold);
    EXPECT_EQ(textOp(page, "60.0 \xC3\x97 40.0 mm").at, (Vec2{246, 449}));
    EXPECT_EQ(textOp(page, "0.300 mm").at, (Vec2{246, 449 - 7 * 19}));

    ReportInput cmp = fullInput(true);
    cmp.nameA = "A-revision-with-a-rather-long-name-that-cannot-fit";
    Attached c(cmp);
    c.renderer.drawSummaryTable(473);
    const auto& cpage = c.canvas.pages[0];
    const Op* headA = nullptr;
    for (const Op* op : cpage.texts())
        if (op->text.rfind("Revision A: ", 0) == 0) headA = op;
    ASSERT_NE(headA, nullptr);
    EXPECT_EQ(headA->text.substr(headA->text.size() - 3), kEllipsis);
    EXPECT_LE(engine.width(headA->font, headA->text), 150);
    EXPECT_NEAR(rightEnd(*headA), 330, 1e-9);
    EXPECT_NEAR(rightEnd(textOp(cpage, "Revision B: RevB")), 539, 1e-9);
    EXPECT_DOUBLE_EQ(textOp(cpage, "Board size").at.y, 449 - 18);
    EXPECT_NEAR(rightEnd(textOp(cpage, "60.0 \xC3\x97 40.0 mm")), 330, 1e-9);
    EXPECT_NEAR(rightEnd(textOp(cpage, "61.3 \xC3\x97 40.0 mm")), 539, 1e-9);
}

TEST_F(ReportLayout, FileTableRowsCountsAndPageBreaks) {
    ReportInput in = minimalInput();
    Attached a(in);
    PCBPackage pkg = samplePackage("RevA");
    pkg.files.push_back(gerberFile(std::string(90, 'x') + ".gbr", LayerType::silkscreen(CopperLayerID::inner(3)), 7));
    a.renderer.cursorY = 100;  // 100 - 42 < 64: the label moves to a new page
    a.renderer.drawPackageFileTable(pkg, "Revision: RevA");
    ASSERT_EQ(a.canvas.pages.size(), 2u);
    const auto& page = a.canvas.pages[1];
    EXPECT_EQ(textOp(page, "Revision: RevA").at, (Vec2{56, 776}));
    EXPECT_EQ(textOp(page, "Revision: RevA").font, (FontSpec{true, 11.5}));
    EXPECT_EQ(textOp(page, "RevA-F_Cu.gtl").at, (Vec2{56, 758}));
    EXPECT_EQ(textOp(page, "Top Copper").at, (Vec2{271, 758}));
    EXPECT_NEAR(rightEnd(textOp(page, "1 object")), 539, 1e-9);
    EXPECT_NE(page.findText("0 objects"), nullptr);
    EXPECT_NE(page.findText("13 objects"), nullptr);  // 12 hits + 1 slot
    EXPECT_NE(page.findText("Drill"), nullptr);
    const Op* longName = nullptr;
    for (const Op* op : page.texts())
        if (op->text.rfind("xxxx", 0) == 0) longName = op;
    ASSERT_NE(longName, nullptr);
    EXPECT_LE(engine.width(longName->font, longName->text), 205);
    EXPECT_EQ(longName->at.y, 758 - 4 * 17);
    EXPECT_NE(page.findText("Inner 3 Silkscreen"), nullptr);
    EXPECT_DOUBLE_EQ(a.renderer.cursorY, 758 - 5 * 17);

    // 40 files: every row keeps 17 points above the lowest baseline, and the table runs onto a second page.
    ReportInput many = minimalInput();
    for (int i = 0; i < 40; ++i)
        many.packageA.files.push_back(gerberFile("file-" + std::to_string(i) + ".gbr", LayerType::unknown(), i));
    const RecordingCanvas c = record(many);
    ASSERT_EQ(c.pages.size(), 5u);
    int rows = 0;
    double lowest = 1e9;
    for (std::size_t p = 1; p <= 2; ++p)
        for (const Op* op : c.pages[p].texts())
            if (op->text.rfind("file-", 0) == 0) {
                ++rows;
                lowest = std::min(lowest, op->at.y);
                EXPECT_GE(op->at.y - 17, 64) << op->text;
            }
    EXPECT_EQ(rows, 40);
    EXPECT_LT(lowest - 17 - 17, 64);  // the first page was filled before breaking
    // The page after the break starts at the top with the next file.
    const auto second = c.pages[2].texts();
    ASSERT_GE(second.size(), 3u);
    EXPECT_EQ(second[2]->at.y, 776);
}

TEST_F(ReportLayout, DrillRowsAndCompareLabels) {
    const RecordingCanvas c = record(fullInput(true));
    const auto& page = c.pages[1];
    EXPECT_NE(page.findText("Revision A \xE2\x80\x94 RevA"), nullptr);
    EXPECT_NE(page.findText("Revision B \xE2\x80\x94 RevB"), nullptr);
    const Op& row = textOp(page, "\xC3\x98" "0.300 mm PTH \xC3\x97 12");
    EXPECT_EQ(row.at.x, 70);
    EXPECT_NE(page.findText("\xC3\x98" "3.200 mm NPTH \xC3\x97 4"), nullptr);
    EXPECT_NE(page.findText("\xC3\x98" "0.350 mm Drill \xC3\x97 7"), nullptr);
    // Label, −16, the rows 14 apart.
    const Op& drillHeading = textOp(page, "Drill Summary");
    EXPECT_DOUBLE_EQ(row.at.y, drillHeading.at.y - 22 - 16);
    EXPECT_DOUBLE_EQ(textOp(page, "\xC3\x98" "3.200 mm NPTH \xC3\x97 4").at.y, row.at.y - 14);
    // Slot rows name their plating and that they are slots.
    ReportInput slots = fullInput(true);
    slots.drillStatsA.push_back(DrillStat{1.0, Plating::pth, 3, true});
    slots.drillStatsB = {DrillStat{0.8, Plating::unknown, 2, true}};
    const RecordingCanvas withSlots = record(slots);
    EXPECT_NE(withSlots.pages[1].findText("\xC3\x98" "1.000 mm PTH slot \xC3\x97 3"), nullptr);
    EXPECT_NE(withSlots.pages[1].findText("\xC3\x98" "0.800 mm Slot \xC3\x97 2"), nullptr);
    const RecordingCanvas cover = record(fullInput(true));
    EXPECT_NE(cover.pages[0].findText("Revision A: RevA  \xE2\x86\x92  Revision B: RevB"), nullptr);

    // An empty second name with a second package is a single-revision report.
    ReportInput in = fullInput(true);
    in.nameB = "";
    in.diff.reset();
    const RecordingCanvas s = record(in);
    EXPECT_NE(s.pages[0].findText("Revision: RevA"), nullptr);
    EXPECT_EQ(s.pages[1].findText("RevB-F_Cu.gtl"), nullptr);
    EXPECT_EQ(s.pages[1].findText("\xC3\x98" "0.350 mm Drill \xC3\x97 7"), nullptr);
    EXPECT_EQ(s.pages[0].findText("61.3 \xC3\x97 40.0 mm"), nullptr);

    // Compare mode without a second package still lists B's drills.
    in = fullInput(true);
    in.packageB.reset();
    const RecordingCanvas nb = record(in);
    EXPECT_EQ(nb.pages[1].findText("RevB-F_Cu.gtl"), nullptr);
    EXPECT_NE(nb.pages[1].findText("\xC3\x98" "0.350 mm Drill \xC3\x97 7"), nullptr);
}

TEST_F(ReportLayout, DifferencesListTwelveChangesPerLayer) {
    ReportInput in = minimalInput();
    in.nameB = "RevB";
    PackageDiff diff;
    diff.layers = {layerDiff("Top Copper", 10, 3),     layerDiff("Bottom Copper", 12, 0),
                   layerDiff("Drill", 0, 0),           layerDiff("Top Silkscreen", 1, 0),
                   layerDiff("Inner 1 Copper", 12, 1), layerDiff("Inner 2 Copper", 0, 2)};
    in.diff = diff;
    const RecordingCanvas c = record(in);
    ASSERT_EQ(c.pages.size(), 6u);
    const auto& page = c.pages[2];
    EXPECT_EQ(textOp(page, "Differences").at, (Vec2{56, 776}));
    EXPECT_EQ(textOp(page, "Total: 41 changes across 6 matched layers").at, (Vec2{56, 752}));
    const Op& top = textOp(page, "Top Copper " + kDash + " 13 changes (10 added, 3 removed)");
    EXPECT_EQ(top.at, (Vec2{56, 730}));
    EXPECT_EQ(top.font, (FontSpec{true, 11.5}));
    const Op& first = textOp(page, "+ Added " + kDash + " Track / Line at (0.000, 1.500) mm " + kDash +
                                       " circle \xC3\x98" "0.500");
    EXPECT_EQ(first.at, (Vec2{68, 712}));
    EXPECT_EQ(first.color, (RGBAColor{0.1, 0.12, 0.14, 1}));
    const Op& removed = textOp(page, "- Removed " + kDash + " Track / Line at (1.000, -2.250) mm");
    EXPECT_EQ(removed.color, (RGBAColor{0.42, 0.45, 0.48, 1}));
    EXPECT_EQ(removed.at.y, 712 - 11 * 14);
    EXPECT_EQ(page.findText("- Removed " + kDash + " Track / Line at (2.000, -2.250) mm"), nullptr);
    const Op& more = textOp(page, kEllipsis + " and 1 more.");
    EXPECT_EQ(more.at, (Vec2{68, 712 - 12 * 14}));
    EXPECT_EQ(more.font, (FontSpec{false, 8.5}));
    // Twelve exactly: no "more" line; the layer line follows after the 6-point gap.
    const Op& bottom = textOp(page, "Bottom Copper " + kDash + " 12 changes (12 added, 0 removed)");
    EXPECT_EQ(bottom.at.y, more.at.y - 12 - 6);
    const Op& drill = textOp(page, "Drill " + kDash + " 0 changes (0 added, 0 removed)");
    EXPECT_EQ(drill.at.y, bottom.at.y - 18 - 12 * 14 - 6);
    EXPECT_EQ(textOp(page, "Top Silkscreen " + kDash + " 1 change (1 added, 0 removed)").at.y, drill.at.y - 18 - 6);
    const Op& inner1 = textOp(page, "Inner 1 Copper " + kDash + " 13 changes (12 added, 1 removed)");
    EXPECT_EQ(inner1.at.y, 272);
    EXPECT_EQ(textOp(page, kEllipsis + " and 1 more.").at.y, 544);  // the first layer's
    // After Inner 1 the cursor stands at 68; a layer line needs 56 points, so it opens a page.
    EXPECT_EQ(textOp(c.pages[3], "Inner 2 Copper " + kDash + " 2 changes (0 added, 2 removed)").at.y, 776);
    EXPECT_EQ(textOp(c.pages[4], "Warnings").at.y, 776);

    PackageDiff one;
    one.layers = {layerDiff("Top Copper", 1, 0)};
    in.diff = one;
    EXPECT_NE(record(in).pages[2].findText("Total: 1 changes across 1 matched layer"), nullptr);
    // Files without a counterpart are listed first, each with the revision that has it.
    one.nameA = "RevA";
    one.nameB = "RevB";
    one.unmatchedFilesA = {"RevA-B_Paste.gbp"};
    one.unmatchedFilesB = {"RevB-F_Paste.gtp", "RevB-User.gbr"};
    in.diff = one;
    const RecordingCanvas unmatched = record(in);
    const Op& onlyA = textOp(unmatched.pages[2], "Only in RevA: RevA-B_Paste.gbp");
    EXPECT_EQ(onlyA.at, (Vec2{56, 730}));
    EXPECT_EQ(textOp(unmatched.pages[2], "Only in RevB: RevB-F_Paste.gtp").at.y, 730 - 13);
    EXPECT_EQ(textOp(unmatched.pages[2], "Only in RevB: RevB-User.gbr").at.y, 730 - 26);
    EXPECT_LT(textOp(unmatched.pages[2], "Top Copper " + kDash + " 1 change (1 added, 0 removed)").at.y, 730 - 26);
    in.diff = PackageDiff{};
    const RecordingCanvas none = record(in);
    EXPECT_EQ(none.pages.size(), 4u);
    EXPECT_NE(none.pages[2].findText("Warnings"), nullptr);
}

TEST_F(ReportLayout, LongChangeLinesAreTruncated) {
    ReportInput in = minimalInput();
    PackageDiff diff;
    diff.layers = {layerDiff("Top Copper", 0, 0)};
    diff.layers[0].added.push_back(change("Added", 1, 1, std::string(200, 'd')));
    in.diff = diff;
    const RecordingCanvas c = record(in);
    const auto texts = c.pages[2].texts();
    const Op* line = nullptr;
    for (const Op* op : texts)
        if (op->text.rfind("+ Added", 0) == 0) line = op;
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text.substr(line->text.size() - 3), kEllipsis);
    EXPECT_LE(engine.width(line->font, line->text), 471);
}

TEST_F(ReportLayout, WarningsGroupBySeverity) {
    ScopedTimeZone utc("UTC");
    ReportInput in = minimalInput();
    in.dfm = DFMReport({CheckIssue{"a", CheckSeverity::warning, "Thin trace", "Too thin.", std::string("top.gtl"), Vec2{}},
                        CheckIssue{"b", CheckSeverity::warning, "Close pads", "Too close.", std::nullopt, std::nullopt}},
                       std::string("JLC"), sampleDate());
    RecordingCanvas c = record(in);
    const auto& page = c.pages[2];
    EXPECT_EQ(textOp(page, "Preset: JLC   \xC2\xB7   Checked March 5, 2026 \xC2\xB7 14:07").at, (Vec2{56, 748}));
    EXPECT_EQ(textOp(page, "Warnings (2)").at, (Vec2{56, 730}));
    EXPECT_EQ(page.findText("Errors (0)"), nullptr);
    EXPECT_EQ(page.findText("Info (0)"), nullptr);
    EXPECT_EQ(textOp(page, "[WARNING] Thin trace").at, (Vec2{56, 714}));
    EXPECT_EQ(textOp(page, "Too thin.  (top.gtl)").at, (Vec2{70, 701}));
    EXPECT_EQ(textOp(page, "[WARNING] Close pads").at, (Vec2{56, 701 - 12 - 4}));
    EXPECT_EQ(textOp(page, "Too close.").at.x, 70);

    in.dfm = DFMReport({}, std::nullopt, sampleDate());
    c = record(in);
    EXPECT_EQ(textOp(c.pages[2], "No issues found.").at, (Vec2{56, 748}));

    // Errors come first whatever the input order; a long detail wraps at 469 points.
    in.dfm = DFMReport({CheckIssue{"i", CheckSeverity::info, "Note", std::string(30, 'n') + " " + std::string(300, 'w'),
                                   std::nullopt, std::nullopt},
                        CheckIssue{"e", CheckSeverity::error, "Broken", "Bad.", std::nullopt, std::nullopt}},
                       std::nullopt, sampleDate());
    c = record(in);
    const auto texts = textsOf(c.pages[2]);
    const auto pos = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
    EXPECT_LT(pos("Errors (1)"), pos("Info (1)"));
    EXPECT_EQ(textOp(c.pages[2], "Errors (1)").at.y, 748);
    EXPECT_NE(c.pages[2].findText(std::string(30, 'n')), nullptr);
    EXPECT_NE(c.pages[2].findText(std::string(300, 'w')), nullptr);
}

// The package's own warnings are findings of the review: listed with the files they name, never hidden behind
// "No issues found.", and in compare mode each revision is reported whole.
TEST_F(ReportLayout, WarningsListThePackagesOwnWarningsWithTheirFiles) {
    ReportInput in = minimalInput();
    in.packageA = samplePackage("RevA");
    in.packageA.warnings = {"Not read: drawing.pdf, readme.txt and 2 more",
                            "RevA-F_Cu.gtl: No unit command; inches assumed.",
                            "Drill file 'RevA.drl' does not line up with the board; it may use another origin.",
                            "2800 footprint graphics were not read.",
                            "RevA-F_Cu.gtl: No unit command; inches assumed."};
    in.dfm = DFMReport({}, std::nullopt, sampleDate());
    RecordingCanvas c = record(in);
    const auto& page = c.pages[2];
    EXPECT_EQ(page.findText("No issues found."), nullptr);
    EXPECT_EQ(textOp(page, "The manufacturing checks found no issues.").at, (Vec2{56, 748}));
    EXPECT_EQ(textOp(page, "Package warnings (4)").at, (Vec2{56, 729}));
    EXPECT_EQ(textOp(page, "Not read: drawing.pdf, readme.txt and 2 more").at, (Vec2{56, 713}));
    EXPECT_EQ(textOp(page, "Files: drawing.pdf, readme.txt").at, (Vec2{70, 700}));
    EXPECT_NE(page.findText("File: RevA-F_Cu.gtl"), nullptr);
    EXPECT_NE(page.findText("File: RevA.drl"), nullptr);
    EXPECT_NE(page.findText("2800 footprint graphics were not read."), nullptr);
    // The same warning twice is listed once; one that names no file has no file line.
    const auto texts = textsOf(page);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "RevA-F_Cu.gtl: No unit command; inches assumed."), 1);
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(), [](const std::string& t) { return t.rfind("File", 0) == 0; }), 3);

    // Without a check run the warnings are still listed.
    in.dfm.reset();
    c = record(in);
    EXPECT_NE(c.pages[2].findText("No DFM check was run for this report."), nullptr);
    EXPECT_NE(c.pages[2].findText("Package warnings (4)"), nullptr);

    // A file the checks name as unrecognised is not warned of again as doubtfully classified.
    PackageFile mech = in.packageA.files.front();
    mech.fileName = "RevA.GM14";
    mech.layerType = LayerType::unknown();
    mech.confidence = DetectionConfidence::low;
    in.packageA.files.push_back(mech);
    in.packageA.warnings = {PackageImporter::doubtfulRoleWarning(mech)};
    c = record(in);
    EXPECT_NE(c.pages[2].findText("Potential layer misclassification: 'RevA.GM14' (Unknown)."), nullptr);
    in.dfm = DFMEngine().runChecks(in.packageA);
    c = record(in);
    EXPECT_NE(c.pages[2].findText("[WARNING] Unrecognized layer"), nullptr);
    EXPECT_EQ(c.pages[2].findText("Potential layer misclassification: 'RevA.GM14' (Unknown)."), nullptr);

    // Compare mode: revision A's checks and warnings, then revision B's.
    ReportInput cmp = fullInput(true);
    cmp.packageA.warnings = {"Not read: notes.txt"};
    cmp.dfmA = DFMReport({CheckIssue{"outline", CheckSeverity::error, "Missing board outline", "No outline.",
                                     std::nullopt, std::nullopt}},
                         std::string("Standard"), sampleDate());
    c = record(cmp);
    const RecordingCanvas::Page* warnings = nullptr;
    for (const auto& p : c.pages)
        if (p.findText("Warnings") && p.findText("Revision A \xE2\x80\x94 RevA")) warnings = &p;
    ASSERT_NE(warnings, nullptr);
    const auto order = textsOf(*warnings);
    const auto at = [&](const std::string& t) { return std::find(order.begin(), order.end(), t) - order.begin(); };
    EXPECT_LT(at("Revision A \xE2\x80\x94 RevA"), at("[ERROR] Missing board outline"));
    EXPECT_LT(at("[ERROR] Missing board outline"), at("Package warnings (1)"));
    EXPECT_LT(at("Package warnings (1)"), at("Revision B \xE2\x80\x94 RevB"));
    EXPECT_LT(at("Revision B \xE2\x80\x94 RevB"), at("[ERROR] Drill below minimum"));
    EXPECT_EQ(std::count(order.begin(), order.end(), "Errors (1)"), 2);
}

TEST_F(ReportLayout, ScreenshotsTwoToAPage) {
    ReportInput in = minimalInput();
    in.screenshots = {ReportScreenshot{solidImage(1200, 900), "First"}, ReportScreenshot{solidImage(0, 900), "Empty"},
                      ReportScreenshot{solidImage(400, 1000), "Tall"}};
    const RecordingCanvas c = record(in);
    ASSERT_EQ(c.pages.size(), 6u);
    EXPECT_NE(c.pages[3].findText("Screenshots"), nullptr);
    EXPECT_NE(c.pages[4].findText("Screenshots (continued)"), nullptr);
    EXPECT_NE(c.pages[5].findText("Measurements"), nullptr);

    const auto images = c.pages[3].ofKind(Op::Kind::image);
    ASSERT_EQ(images.size(), 1u);  // the zero-width picture takes the second place but draws nothing
    EXPECT_EQ(c.pages[3].findText("Empty"), nullptr);
    const double maxH = (748 - 64 - 52 - 24) * 0.5;  // 304
    const double s = std::min(483.0 / 1200, maxH / 900);
    const PageRect frame{(595 - s * 1200) / 2, 748 - s * 900, s * 1200, s * 900};
    EXPECT_EQ(images[0]->rect, frame);
    EXPECT_EQ(images[0]->imageWidth, 1200);
    const auto frames = c.pages[3].ofKind(Op::Kind::strokeRect);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->rect, frame);
    EXPECT_DOUBLE_EQ(frames[0]->lineWidth, 0.5);
    const Op& caption = textOp(c.pages[3], "First");
    EXPECT_DOUBLE_EQ(caption.at.y, frame.y - 12);
    EXPECT_NEAR(centre(caption), 297.5, 1e-9);

    const auto tall = c.pages[4].ofKind(Op::Kind::image);
    ASSERT_EQ(tall.size(), 1u);
    EXPECT_DOUBLE_EQ(tall[0]->rect.height, maxH);
    EXPECT_DOUBLE_EQ(tall[0]->rect.y, 748 - maxH);

    // A picture whose buffer is shorter than its size claims is treated like an empty one.
    RasterImage broken = solidImage(10, 10);
    broken.height = 20;
    in.screenshots = {ReportScreenshot{broken, "Broken"}};
    const RecordingCanvas b = record(in);
    EXPECT_TRUE(b.pages[3].ofKind(Op::Kind::image).empty());
    EXPECT_EQ(b.pages[3].findText("Broken"), nullptr);
}

TEST_F(ReportLayout, MeasurementsHaveBulletsAndWrap) {
    ReportInput in = minimalInput();
    const std::string longLine = "Track Width: " + std::string(40, 'a') + " " + std::string(40, 'b') + " " +
                                 std::string(40, 'c');
    in.measurements = {"X Delta: 1.000 mm", longLine};
    for (int i = 0; i < 60; ++i) in.measurements.push_back("Pad Size: " + std::to_string(i));
    const RecordingCanvas c = record(in);
    const auto& page = c.pages[3];
    std::vector<const Op*> bullets;
    for (const Op* op : page.texts())
        if (op->text == "\xE2\x80\xA2") bullets.push_back(op);
    ASSERT_GE(bullets.size(), 2u);
    EXPECT_EQ(bullets[0]->at, (Vec2{56, 748}));
    EXPECT_EQ(textOp(page, "X Delta: 1.000 mm").at, (Vec2{70, 748}));
    EXPECT_EQ(bullets[1]->at.y, 734);
    const auto wrapped = ReportPDFRenderer(in).wrap(longLine, FontSpec{false, 10}, 469);
    ASSERT_GT(wrapped.size(), 1u);
    for (std::size_t i = 0; i < wrapped.size(); ++i)
        EXPECT_EQ(textOp(page, wrapped[i]).at, (Vec2{70, 734 - 14.0 * i}));
    // The list runs onto a second page; the footer is on the last one only.
    ASSERT_EQ(c.pages.size(), 5u);
    const std::string footer = "Generated locally by Corvane " + kDash + " 100% on-device, no upload.";
    EXPECT_EQ(page.findText(footer), nullptr);
    EXPECT_NE(c.pages[4].findText(footer), nullptr);
    for (const auto& p : c.pages)
        for (const Op* op : p.texts())
            if (op->at.y < 64) {
                EXPECT_EQ(op->text, footer);
            }
}

TEST_F(ReportLayout, HelpersWithoutACanvasOnlyMoveTheCursor) {
    ReportPDFRenderer r(fullInput(true));
    r.beginPage();
    EXPECT_EQ(r.pageNumber, 1);
    r.drawSectionHeading("Heading", std::string_view("Sub"));
    EXPECT_DOUBLE_EQ(r.cursorY, 776 - 24 - 18 - 4);
    r.drawPackageFileTable(r.input.packageA, "A");
    EXPECT_DOUBLE_EQ(r.cursorY, 730 - 18 - 4 * 17);
}

TEST_F(ReportLayout, ARendererDrawnTwiceNumbersItsPagesAfresh) {
    ReportPDFRenderer r(minimalInput());
    RecordingCanvas first, second;
    r.drawReport(first);
    r.drawReport(second);
    ASSERT_EQ(second.pages.size(), 4u);
    EXPECT_NE(second.pages[0].findText("Page 1"), nullptr);
    EXPECT_EQ(r.ctx, nullptr);
}

TEST(ReportPDFError, DescribesTheFailure) {
    const ReportPDFError e = ReportPDFError::contextUnavailable();
    EXPECT_STREQ(e.what(), "The PDF report could not be created.");
    EXPECT_EQ(e, ReportPDFError::contextUnavailable());
    const CorvaneError& base = e;
    EXPECT_STREQ(base.what(), "The PDF report could not be created.");
}

} // namespace
