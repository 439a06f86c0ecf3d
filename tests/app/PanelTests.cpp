#include <gtest/gtest.h>

#include <functional>

#include <QAction>
#include <QPainter>
#include <QApplication>
#include <QColorDialog>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "LookChecks.hpp"
#include "app/AutomationHooks.hpp"
#include "PanelTestSupport.hpp"
#include "model/NotificationHub.hpp"
#include "panels/DetailsPanel.hpp"
#include "panels/LayerRow.hpp"
#include "panels/PanelStyle.hpp"
#include "panels/SidebarView.hpp"
#include "sheets/DrillSheet.hpp"
#include "window/ToolPicker.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

DiffChange change(const char* kind, double x, double y) {
    BBox box = BBox::empty();
    box.include(Vec2{x - 0.5, y - 0.5});
    box.include(Vec2{x + 0.5, y + 0.5});
    return DiffChange{kind, "Flash (Pad)", {x, y}, box, "pad"};
}

CompareRow compareRow(const std::string& key, std::size_t added, std::size_t removed) {
    CompareRow row;
    row.layerKey = key;
    for (std::size_t i = 0; i < added; ++i) row.added.push_back(change("Added", 1.0 + double(i), 2.005));
    for (std::size_t i = 0; i < removed; ++i) row.removed.push_back(change("Removed", -3.25, double(i)));
    row.addedCount = static_cast<std::int64_t>(added);
    row.removedCount = static_cast<std::int64_t>(removed);
    return row;
}

void showCompare(AppModel& m, std::vector<CompareRow> rows) {
    PackageDiff diff;
    diff.nameA = "A";
    diff.nameB = "B";
    m.setCompareDiff(diff);
    m.setCompareRows(std::move(rows));
}

std::vector<std::string> rowIds(const AppModel& m) {
    std::vector<std::string> ids;
    for (const auto& l : m.layerStates()) ids.push_back(l.id);
    return ids;
}

} // namespace

TEST(SummaryGrid, RowsInMillimetresAndMil) {
    BoardSummary s{50, 30, 4, 120, 36, 0.15, 0.2, false, 0.3, 30, 6};
    using Rows = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(SummaryGrid::rows(s, Units::mm),
              (Rows{{"Board", "50.00 mm \u00D7 30.00 mm"},
                    {"Layers", "4 copper"},
                    {"Pads", "120"},
                    {"Drills", "36 (30 PTH / 6 NPTH)"},
                    {"Min Track", "0.15 mm"},
                    {"Min Space", "0.20 mm (est.)"},
                    {"Smallest Drill", "0.30 mm"}}));
    const auto mil = SummaryGrid::rows(s, Units::mil);
    EXPECT_EQ(mil[0].second, "1968.5 mil \u00D7 1181.1 mil");
    EXPECT_EQ(mil[4].second, "5.9 mil");
    s.minSpaceReliable = true;
    EXPECT_EQ(SummaryGrid::rows(s, Units::mm)[5].second, "0.20 mm");

    BoardSummary bare{10, 5, 0, 0, 0};
    const auto four = SummaryGrid::rows(bare, Units::mm);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(four[3].first, "Drills");
}

TEST(Sidebar, SectionsFollowTheModelAndUnitsSwitchAtOnce) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    EXPECT_FALSE(child(&sidebar, "sidebar.layersHeader")->isHidden());
    EXPECT_TRUE(child(&sidebar, "sidebar.summaryHeader")->isHidden());
    EXPECT_TRUE(child(&sidebar, "sidebar.differencesHeader")->isHidden());
    EXPECT_TRUE(sidebar.findChildren<LayerRow*>().empty());

    f.model->loadPackage(sampleBoard());
    EXPECT_EQ(sidebar.findChildren<LayerRow*>().size(), 3u);
    ASSERT_FALSE(child(&sidebar, "sidebar.summary")->isHidden());
    auto* grid = child<SummaryGrid>(&sidebar, "sidebar.summary");
    EXPECT_EQ(grid->shownRows()[0].second, "40.00 mm \u00D7 30.00 mm");
    f.model->setUnits(Units::mil);
    EXPECT_EQ(grid->shownRows()[0].second, "1574.8 mil \u00D7 1181.1 mil");
    EXPECT_EQ(text(child<QLabel>(child(grid, "summary:Board"), "summary.value")), "1574.8 mil \u00D7 1181.1 mil");
}

TEST(Sidebar, CompareRowsCutAtThirtyPerGroupWithTheMoreLine) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    showCompare(*f.model, {compareRow("Top Copper", 40, 40), compareRow("Bottom Copper", 50, 0),
                           compareRow("Drill", 30, 30)});
    EXPECT_FALSE(child(&sidebar, "sidebar.differencesHeader")->isHidden());

    auto* top = sidebar.compareRow("Top Copper");
    ASSERT_TRUE(top);
    EXPECT_EQ(text(child<QLabel>(top, "compare.count")), "80 changes");
    const auto lines = top->findChildren<ChangeButton*>();
    ASSERT_EQ(lines.size(), 60u);
    EXPECT_EQ(lines[0]->text().toStdString(), "+ Flash (Pad) @ (1.00, 2.00)");
    EXPECT_EQ(lines[30]->text().toStdString(), "\u2212 Flash (Pad) @ (-3.25, 0.00)");
    EXPECT_EQ(text(child<QLabel>(top, "compare.more")), "\u2026 20 more");

    auto* bottom = sidebar.compareRow("Bottom Copper");
    EXPECT_EQ(bottom->findChildren<ChangeButton*>().size(), 30u);
    EXPECT_FALSE(child(bottom, "compare.more"));
    EXPECT_FALSE(child(sidebar.compareRow("Drill"), "compare.more"));
    // One change is one.
    EXPECT_EQ(CompareRowView::headerCountText(compareRow("Top Silkscreen", 1, 0)), "1 change");
    EXPECT_EQ(CompareRowView::headerCountText(compareRow("Top Silkscreen", 0, 0)), "0 changes");
    EXPECT_EQ(CompareRowView::moreText(compareRow("X", 50, 22)).toStdString(), "\u2026 12 more");

    // Positions stay raw millimetres in mil.
    f.model->setUnits(Units::mil);
    EXPECT_EQ(top->findChildren<ChangeButton*>()[0]->text().toStdString(), "+ Flash (Pad) @ (1.00, 2.00)");

    // Other changes on the same layer rebuild its row in place.
    showCompare(*f.model, {compareRow("Top Copper", 2, 1)});
    EXPECT_EQ(sidebar.compareRow("Top Copper"), top);
    EXPECT_EQ(top->findChildren<ChangeButton*>().size(), 3u);
    EXPECT_EQ(text(child<QLabel>(top, "compare.count")), "3 changes");

    f.model->clearCompare();
    EXPECT_TRUE(child(&sidebar, "sidebar.differencesHeader")->isHidden());
    EXPECT_FALSE(sidebar.compareRow("Top Copper"));
}

TEST(Sidebar, FilesOfOnlyOneRevisionAreListedUnderTheDifferences) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    sidebar.resize(260, 600);
    PCBPackage a = sampleBoard(), b = sampleBoard();
    a.name = "RevA";
    b.name = "RevB";
    b.files.push_back(b.files[0]);
    b.files.back().fileName = "a-very-long-common-prefix-of-every-file-in-this-package-F_Paste.gbr";
    b.files.back().layerType = LayerType::paste(CopperLayerID::top());
    f.model->startCompare(std::make_shared<const PCBPackage>(a), "RevA.zip", std::make_shared<const PCBPackage>(b));
    const auto lines = sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched");
    ASSERT_EQ(lines.size(), 1u);
    const std::string whole = "Only in RevB: " + b.files.back().fileName;
    EXPECT_EQ(text(lines[0]), whole);
    EXPECT_EQ(lines[0]->toolTip().toStdString(), whole);
    f.model->clearCompare();
    EXPECT_TRUE(sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched").isEmpty());
}

// Right after a comparison of two deep stacks, what it found is in view without scrolling: the layer rows
// (which do not apply to its picture) fold away, the files only one revision has and the changed layers
// follow the header at once, copper first, and the summaries of both revisions come after them.
TEST(Sidebar, AComparisonShowsItsDifferencesWithoutScrolling) {
    PanelFixture f;
    f.model->canvasSizeChanged(QSizeF(700, 560));
    SidebarView sidebar(f.model.get());
    sidebar.resize(260, 560);
    sidebar.show();
    const auto deepStack = [](const std::string& name) {
        PCBPackage p = sampleBoard(name);
        for (int i = 1; i <= 14; ++i)
            p.files.push_back(gerberFile("card-User" + std::to_string(i) + ".gbr", LayerType::unknown(),
                                         {stroke({0, double(i)}, {40, double(i)}, 0.1)}));
        return p;
    };
    PCBPackage a = deepStack("RevA"), b = deepStack("RevB");
    b.files[0].gerber->objects.push_back(stroke({25, 5}, {30, 5}));
    b.files[4].gerber->objects.push_back(stroke({1, 1}, {2, 2}, 0.1));
    b.files[4].gerber->objects.push_back(stroke({1, 2}, {2, 3}, 0.1));
    b.files.push_back(gerberFile("card-F_Paste.gbr", LayerType::paste(CopperLayerID::top()), {disc({10, 10})}));
    f.model->loadPackage(b);
    AutomationHooks::settleWindow(&sidebar);
    EXPECT_TRUE(sidebar.layersShown());
    // The reviewer had scrolled down the deep layer list, to its summary, before comparing.
    QScrollBar* scroll = sidebar.verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    scroll->setValue(scroll->maximum());
    f.model->startCompare(std::make_shared<const PCBPackage>(a), "RevA.zip", std::make_shared<const PCBPackage>(b));
    AutomationHooks::settleWindow(&sidebar);

    EXPECT_FALSE(sidebar.layersShown());
    const QRect view = sidebar.viewport()->rect();
    const auto inView = [&](const QWidget* w) {
        return w && w->isVisible() && view.contains(QRect(w->mapTo(sidebar.viewport(), QPoint(0, 0)), w->size()));
    };
    EXPECT_TRUE(inView(child(&sidebar, "sidebar.differencesHeader")));
    const auto unmatched = sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched");
    ASSERT_EQ(unmatched.size(), 1u);
    EXPECT_TRUE(inView(unmatched[0]));
    EXPECT_EQ(text(unmatched[0]), "Only in RevB: card-F_Paste.gbr");
    const auto& rows = f.model->compareRows();
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0].layerKey, "Top Copper");
    EXPECT_EQ(rows[1].layerKey, "card-User2.gbr");  // the most changed of the drawings, named by its file
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(inView(child(sidebar.compareRow(rows[i].layerKey), "compare.key"))) << i;
        // Each with its changes, the first of them in view too.
        const auto lines = sidebar.compareRow(rows[i].layerKey)->findChildren<ChangeButton*>("compare.change");
        ASSERT_FALSE(lines.empty()) << i;
        EXPECT_TRUE(inView(lines.front())) << i;
    }
    // The summaries follow the differences, so one made later does not push them down.
    const QWidget* summary = child(&sidebar, "sidebar.summaryHeader");
    EXPECT_GT(summary->mapTo(&sidebar, QPoint(0, 0)).y(),
              child(&sidebar, "sidebar.differencesHeader")->mapTo(&sidebar, QPoint(0, 0)).y());

    // The reviewer opens the layer rows and scrolls down them; comparing again (another revision A) folds them
    // once more and brings the new differences into view.
    sidebar.toggleLayers();
    AutomationHooks::settleWindow(&sidebar);
    scroll->setValue(scroll->maximum());
    ASSERT_FALSE(inView(child(&sidebar, "sidebar.differencesHeader")));
    PCBPackage older = deepStack("RevA0");
    older.files[3].gerber->objects.push_back(stroke({1, 1}, {2, 2}, 0.1));
    f.model->startCompare(std::make_shared<const PCBPackage>(older), "RevA0.zip", std::make_shared<const PCBPackage>(b));
    AutomationHooks::settleWindow(&sidebar);
    EXPECT_FALSE(sidebar.layersShown());
    EXPECT_TRUE(inView(child(&sidebar, "sidebar.differencesHeader")));
    for (const auto* line : sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched")) EXPECT_TRUE(inView(line));
    EXPECT_TRUE(inView(child(sidebar.compareRow(f.model->compareRows()[0].layerKey), "compare.key")));

    // Leaving the comparison brings the layer rows back.
    f.model->loadPackage(b);
    EXPECT_TRUE(sidebar.layersShown());
}

// In a column as narrow as the smallest window gives it, each "Only in" line still says which revision has the
// file and ends with what tells the file apart, and a row named by its file keeps the part after the start that
// all the package's files share: the project's name gives way, not "Dwgs_User".
TEST(Sidebar, NarrowDifferencesKeepTheRevisionAndWhatTellsTheFilesApart) {
    PanelFixture f;
    f.model->canvasSizeChanged(QSizeF(480, 500));
    const auto revision = [](const std::string& name, bool b) {
        PCBPackage p = sampleBoard(name);
        for (auto& file : p.files) file.fileName = "LimeSDR-QPCIe_1v2-" + file.fileName;
        for (const char* role : {"Cmts_User", "Dwgs_User", "Eco1_User"}) {
            if (b && std::string(role) == "Cmts_User") continue;
            std::vector<PCBObject> lines{stroke({0, 1}, {9, 1}, 0.1)};
            if (b) lines.push_back(stroke({0, 2}, {9, 2}, 0.1));
            p.files.push_back(gerberFile(std::string("LimeSDR-QPCIe_1v2-") + role + ".gbr", LayerType::unknown(), lines));
        }
        if (b)
            p.files.push_back(gerberFile("LimeSDR-QPCIe_1v2-F_Paste.gbr", LayerType::paste(CopperLayerID::top()),
                                         {disc({10, 10})}));
        return std::make_shared<const PCBPackage>(p);
    };
    SidebarView sidebar(f.model.get());
    sidebar.resize(205, 500);
    sidebar.show();
    f.model->startCompare(revision("LimeSDR-QPCIe_RevA", false), "LimeSDR-QPCIe_RevA.zip",
                          revision("LimeSDR-QPCIe_RevB", true));
    AutomationHooks::settleWindow(&sidebar);

    const auto unmatched = sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched");
    ASSERT_EQ(unmatched.size(), 2u);
    // The revisions' names are long too: each keeps its start and the end that tells A from B.
    const std::pair<const char*, const char*> expected[] = {{"RevA: \u2026", "Cmts_User.gbr"},
                                                            {"RevB: \u2026", "F_Paste.gbr"}};
    for (std::size_t i = 0; i < 2; ++i) {
        const QString shown = unmatched[i]->shownText();
        EXPECT_NE(shown.toStdString(), text(unmatched[i])) << "the column is too narrow for the whole line";
        EXPECT_TRUE(shown.startsWith("Only in ")) << shown.toStdString();
        EXPECT_TRUE(shown.contains(expected[i].first)) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(expected[i].second)) << shown.toStdString();
        EXPECT_LE(unmatched[i]->fontMetrics().horizontalAdvance(shown), unmatched[i]->contentsRect().width());
    }
    for (const char* file : {"Dwgs_User.gbr", "Eco1_User.gbr"}) {
        CompareRowView* row = sidebar.compareRow(std::string("LimeSDR-QPCIe_1v2-") + file);
        ASSERT_TRUE(row) << file;
        auto* key = child<ui::ElidedLabel>(row, "compare.key");
        EXPECT_EQ(key->shownText().toStdString(), std::string("\u2026") + file);
        EXPECT_EQ(text(key), std::string("LimeSDR-QPCIe_1v2-") + file);  // the whole name in its text and tooltip
    }
    // With a short revision name the name stays whole.
    PCBPackage shortA = *revision("RevA", false), shortB = *revision("RevB", true);
    f.model->startCompare(std::make_shared<const PCBPackage>(shortA), "RevA.zip", std::make_shared<const PCBPackage>(shortB));
    AutomationHooks::settleWindow(&sidebar);
    const auto shortLines = sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched");
    ASSERT_EQ(shortLines.size(), 2u);
    EXPECT_EQ(shortLines[0]->shownText().toStdString(), "Only in RevA: \u2026Cmts_User.gbr");
    EXPECT_EQ(shortLines[1]->shownText().toStdString(), "Only in RevB: \u2026F_Paste.gbr");
    // However narrow, a line is shortened within its width.
    sidebar.resize(90, 500);
    AutomationHooks::settleWindow(&sidebar);
    for (auto* line : shortLines)
        EXPECT_LE(line->fontMetrics().horizontalAdvance(line->shownText()), line->contentsRect().width());
}

TEST(Sidebar, ClickAnywhereOnAChangeLineHighlightsAndFits) {
    PanelFixture f;
    f.model->canvasSizeChanged(QSizeF(800, 600));
    SidebarView sidebar(f.model.get());
    sidebar.resize(400, 600);
    sidebar.show();
    showCompare(*f.model, {compareRow("Top Copper", 2, 0)});
    QApplication::processEvents();
    auto* line = sidebar.compareRow("Top Copper")->findChildren<ChangeButton*>()[1];
    ASSERT_GT(line->width(), line->sizeHint().width());
    QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(line->width() - 3, line->height() / 2));
    ASSERT_TRUE(f.model->compareHighlight());
    EXPECT_EQ(f.model->compareHighlight()->position.x, 2.0);
    EXPECT_EQ(f.model->camera().center.x, 2.0);
    // A 1 mm pad is shown with what is around it, the span Locate shows.
    EXPECT_DOUBLE_EQ(f.model->camera().pxPerMM, 600 / AppModel::locateSpanMM);
}

TEST(LayerRows, TextsIconsAndOrderButtons) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    f.model->loadPackage(sampleBoard());
    auto* drill = sidebar.layerRow("board.drl");
    ASSERT_TRUE(drill);
    EXPECT_EQ(drill->objectName().toStdString(), "layerRow:board.drl");
    EXPECT_EQ(text(child<QLabel>(drill, "layerRow.detail")), "Drill \u00B7 3");
    EXPECT_EQ(text(child<QLabel>(drill, "layerRow.name")), "board.drl");

    auto* eye = child<QToolButton>(drill, "layerRow.visible");
    EXPECT_EQ(eye->property("symbol").toString(), "eye");
    eye->click();
    EXPECT_EQ(eye->property("symbol").toString(), "eye.slash");
    EXPECT_EQ(sidebar.layerRow("board.drl"), drill);  // updated in place
    eye->click();
    EXPECT_EQ(eye->property("symbol").toString(), "eye");

    auto* solo = child<QToolButton>(drill, "layerRow.solo");
    EXPECT_FALSE(solo->property("soloed").toBool());
    solo->click();
    EXPECT_TRUE(f.model->soloSet().count("board.drl"));
    EXPECT_TRUE(solo->property("soloed").toBool());

    const auto before = rowIds(*f.model);
    child<QToolButton>(sidebar.layerRow(before.front()), "layerRow.up")->click();
    child<QToolButton>(sidebar.layerRow(before.back()), "layerRow.down")->click();
    EXPECT_EQ(rowIds(*f.model), before);
    child<QToolButton>(sidebar.layerRow(before.back()), "layerRow.up")->click();
    const auto moved = rowIds(*f.model);
    EXPECT_EQ(moved[moved.size() - 2], before.back());
    // The sidebar's row widgets follow the new order.
    auto* box = sidebar.layerRow(moved[0])->parentWidget()->layout();
    ASSERT_TRUE(box);
}

// Every file of a package starts alike ("video-", "ESP32_RevA-"): a narrow row drops that start first and
// elides in the middle, so the end that tells the files apart stays; the count is never cut.
TEST(LayerRows, NarrowRowsKeepWhatTellsFilesApartAndTheWholeCount) {
    EXPECT_EQ(SidebarView::sharedStart({"video-top_copper.gbr", "video-GND_layer.gbr", "video.drl"}), "video-");
    EXPECT_EQ(SidebarView::sharedStart({"ESP32_RevA-F_Cu.gbr", "ESP32_RevA-B_Cu.gbr", "ESP32_RevA-F_Mask.gbr"}),
              "ESP32_RevA-");
    EXPECT_EQ(SidebarView::sharedStart({"kicad-Edge.Cuts.gbr", "kicad-F.Cu.gbr"}), "kicad-");
    EXPECT_EQ(SidebarView::sharedStart({"top.gtl", "bottom.gbl"}), "");

    PanelFixture f;
    PCBPackage board = sampleBoard();
    board.files[0].fileName = "LimeSDR-QPCIe_1v2-fabrication-top_copper.gbr";
    board.files[1].fileName = "LimeSDR-QPCIe_1v2-fabrication-board_outline.gbr";
    board.files[0].gerber->objects.resize(12345, board.files[0].gerber->objects[0]);
    f.model->loadPackage(std::move(board));
    SidebarView sidebar(f.model.get());
    sidebar.resize(220, 400);
    sidebar.show();
    AutomationHooks::settleWindow(&sidebar);
    auto* row = sidebar.layerRow("LimeSDR-QPCIe_1v2-fabrication-top_copper.gbr");
    auto* name = child<ui::ElidedLabel>(row, "layerRow.name");
    auto* detail = child<QLabel>(row, "layerRow.detail");
    EXPECT_EQ(name->shownText().front(), QChar(0x2026));
    EXPECT_TRUE(name->shownText().endsWith(".gbr")) << name->shownText().toStdString();
    EXPECT_EQ(name->toolTip().toStdString(), "LimeSDR-QPCIe_1v2-fabrication-top_copper.gbr");
    // The role and count stand whole under the name; too narrow for one line, they wrap at a blank.
    EXPECT_EQ(detail->text().toStdString(), "Top Copper \u00B7 12345");
    EXPECT_TRUE(detail->wordWrap());
    EXPECT_GE(detail->width(), detail->fontMetrics().horizontalAdvance("Top Copper"));
    EXPECT_EQ(lookProblems(&sidebar), std::vector<std::string>{});
}

TEST(LayerRows, DrillRowCountsHitsAndSlots) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    PCBPackage board = sampleBoard();
    board.files[2].drill->slots.push_back(PCBObject(PCBObjectKind::slot({1, 1}, {3, 1}, 0.8, true), std::nullopt,
                                                    std::nullopt, Polarity::dark, std::nullopt, std::nullopt,
                                                    std::nullopt, std::nullopt, 0));
    f.model->loadPackage(std::move(board));
    EXPECT_EQ(text(child<QLabel>(sidebar.layerRow("board.drl"), "layerRow.detail")), "Drill \u00B7 4");
    // The plated slot has its own table row and counts as plated, so the counts add up as they do on screen.
    const DrillFileStats& drills = f.model->drillFiles().at(0);
    EXPECT_EQ(drills.pthCount, 2);
    EXPECT_EQ(drills.stats.back(), (DrillStat{0.8, Plating::pth, 1, true}));
    EXPECT_EQ(DrillSheet::rowTexts(drills.stats.back(), Units::mm), (std::array<std::string, 3>{"0.800 mm", "PTH slot", "\u00D7 1"}));
    EXPECT_EQ(DrillSheet::total(drills), 4);
    const auto summary = SummaryGrid::rows(*f.model->boardSummary(), Units::mm);
    // The hit whose plating the file leaves open is counted as such, not left out of the figures.
    EXPECT_EQ(summary[3], (std::pair<std::string, std::string>{"Drills", "4 (2 PTH / 1 NPTH / 1 not stated)"}));
}

TEST(LayerRows, DoubleClickShowsAndTogglesSolo) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    f.model->loadPackage(sampleBoard());
    f.model->setLayerVisible("board-F_Cu.gbr", false);
    auto* row = sidebar.layerRow("board-F_Cu.gbr");
    QTest::mouseDClick(row, Qt::LeftButton, {}, QPoint(row->width() / 2, 2));
    EXPECT_TRUE(f.model->layerStates()[0].visible);
    EXPECT_TRUE(f.model->soloSet().count("board-F_Cu.gbr"));
    QTest::mouseDClick(row, Qt::LeftButton, {}, QPoint(row->width() / 2, 2));
    EXPECT_TRUE(f.model->layerStates()[0].visible);
    EXPECT_FALSE(f.model->soloSet().count("board-F_Cu.gbr"));
}

TEST(LayerRows, RoleMenuRetypesThroughAQueuedCall) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    f.model->loadPackage(sampleBoard());
    auto* row = sidebar.layerRow("board-Edge_Cuts.gbr");
    std::unique_ptr<QMenu> menu(row->buildTypeMenu(nullptr));
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 15);
    EXPECT_EQ(actions[3]->text().toStdString(), "Inner 2");
    EXPECT_EQ(actions[14]->text().toStdString(), "Unknown");
    actions[3]->trigger();
    EXPECT_EQ(f.model->package()->files[1].layerType, LayerType::outline());  // not yet: queued
    QTRY_COMPARE(f.model->package()->files[1].layerType, LayerType::copper(CopperLayerID::inner(2)));
    EXPECT_EQ(f.model->package()->files[1].confidence, DetectionConfidence::manual);
    EXPECT_EQ(text(child<QLabel>(sidebar.layerRow("board-Edge_Cuts.gbr"), "layerRow.detail")), "Inner 2 Copper \u00B7 4");
    EXPECT_EQ(f.model->statusMessage(), "Layer type of board-Edge_Cuts.gbr set to Inner 2 Copper");

    // An action without the row's data is ignored.
    QAction stray("Top Copper");
    LayerTypeTarget::shared().pick(&stray);
    stray.setData(QVariantList{QString("x"), 3});
    LayerTypeTarget::shared().pick(&stray);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.model->package()->files[1].layerType, LayerType::copper(CopperLayerID::inner(2)));
}

TEST(LayerRows, RoleMenuOffersTheInnerLayersOfTheStack) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    // A 14-layer card, one of its inner layers not recognised.
    PCBPackage card;
    card.name = "card";
    for (int n = 1; n <= 14; ++n) {
        const LayerType type = n == 1    ? LayerType::copper(CopperLayerID::top())
                               : n == 14 ? LayerType::copper(CopperLayerID::bottom())
                               : n == 10 ? LayerType::unknown()
                                         : LayerType::copper(CopperLayerID::inner(n - 1));
        card.files.push_back(gerberFile("L" + std::to_string(n) + ".gbr", type, {stroke({0, 0}, {10, static_cast<double>(n)})}));
    }
    f.model->loadPackage(std::move(card));
    std::unique_ptr<QMenu> menu(sidebar.layerRow("L10.gbr")->buildTypeMenu(nullptr));
    std::vector<std::string> titles;
    for (auto* a : menu->actions()) titles.push_back(a->text().toStdString());
    ASSERT_EQ(titles.size(), 15u + 8u);
    for (int n = 1; n <= 12; ++n) EXPECT_EQ(titles[static_cast<std::size_t>(1 + n)], "Inner " + std::to_string(n));
    EXPECT_EQ(titles[14], "Top Solder Mask");
    EXPECT_EQ(titles.back(), "Unknown");
    menu->actions()[10]->trigger();  // Inner 9
    QTRY_COMPARE(f.model->package()->files[9].layerType, LayerType::copper(CopperLayerID::inner(9)));
    EXPECT_EQ(f.model->statusMessage(), "Layer type of L10.gbr set to Inner 9 Copper");
    // The fixed roles keep their codes whatever the menu's length.
    menu->actions()[14]->trigger();
    QTRY_COMPARE(f.model->package()->files[9].layerType, LayerType::solderMask(CopperLayerID::top()));

    // A small board keeps the four; a file claiming an absurd inner number does not make the menu absurd.
    PCBPackage small = sampleBoard();
    EXPECT_EQ(innerLayersOffered(small, "board-Edge_Cuts.gbr"), 4);
    small.files[1].layerType = LayerType::copper(CopperLayerID::inner(1'000'000'000));
    EXPECT_LE(innerLayersOffered(small, "board-F_Cu.gbr"), 100);
    EXPECT_EQ(layerMenuEntries(innerLayersOffered(small, "board-F_Cu.gbr")).size(),
              layerRoles().size() + static_cast<std::size_t>(innerLayersOffered(small, "board-F_Cu.gbr") - 4));
    EXPECT_FALSE(layerRoleOfCode(-1));
    EXPECT_FALSE(layerRoleOfCode(1'000'000));
}

TEST(LayerRows, PresentedMenuPopsUpAndPicks) {
    PanelFixture f;
    QWidget window;
    auto* sidebar = new SidebarView(f.model.get(), &window);
    window.resize(300, 400);
    window.show();
    f.model->loadPackage(sampleBoard());
    QTimer::singleShot(50, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        menu->actions()[1]->trigger();
        menu->close();
    });
    sidebar->layerRow("board-F_Cu.gbr")->presentTypeMenu();
    QTRY_COMPARE(f.model->package()->files[0].layerType, LayerType::copper(CopperLayerID::bottom()));
}

TEST(LayerRows, ColourPopupSurvivesColourChangesAndThrottles) {
    PanelFixture f;
    SidebarView sidebar(f.model.get());
    sidebar.show();
    f.model->loadPackage(sampleBoard());
    f.model->setLayerColor("board-F_Cu.gbr", QColor(10, 20, 30));
    auto* row = sidebar.layerRow("board-F_Cu.gbr");
    child<QToolButton>(row, "layerRow.swatch")->click();
    QPointer<LayerColorPopup> popup = row->colorPopup();
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->picker()->currentColor(), QColor(10, 20, 30));  // the model's colour
    EXPECT_TRUE(popup->picker()->testOption(QColorDialog::ShowAlphaChannel));

    popup->picker()->setCurrentColor(QColor(200, 0, 0));
    EXPECT_EQ(f.model->layerStates()[0].color.red(), 200);  // the first goes through at once
    popup->picker()->setCurrentColor(QColor(0, 200, 0));
    popup->picker()->setCurrentColor(QColor(0, 0, 200, 100));
    EXPECT_EQ(f.model->layerStates()[0].color.red(), 200);         // held back
    QTRY_COMPARE(f.model->layerStates()[0].color, QColor(0, 0, 200, 100));  // the latest, alpha kept
    ASSERT_TRUE(popup);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(sidebar.layerRow("board-F_Cu.gbr"), row);
    EXPECT_EQ(child<QToolButton>(row, "layerRow.swatch")->property("color").value<QColor>(), QColor(0, 0, 200, 100));
}

TEST(Inspector, SectionsBeforeAndAfterALoad) {
    PanelFixture f;
    DetailsPanel panel(f.model.get());
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.hint")), DetailsPanel::hintText);
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.measurementsHeader")), "Measurements (last 0)");
    EXPECT_TRUE(child(&panel, "inspector.measurementsHint"));
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.noChecks")), "No checks run yet.");
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.privacy")), "100% local \u2014 files never leave this computer");

    f.model->loadPackage(sampleBoard());
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.measurementsHeader")), "Measurements (last 1)");
    EXPECT_FALSE(child(&panel, "inspector.measurementsHint"));
    f.model->addMeasurement(f.model->measureEngine().distanceMeasurement({0, 0}, {3, 4}, MeasurementKind::pointToPoint, Units::mm));
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.measurementsHeader")), "Measurements (last 2)");
    child<QPushButton>(&panel, "inspector.clear")->click();
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.measurementsHeader")), "Measurements (last 1)");

    HitResult hit{f.model->package()->files[0].gerber->objects[2], "board-F_Cu.gbr",
                  LayerType::copper(CopperLayerID::top()), 0};
    f.model->setSelection(hit);
    EXPECT_FALSE(child(&panel, "inspector.hint"));
    const auto rows = f.model->measureEngine().inspect(hit, Units::mm);
    ASSERT_FALSE(rows.empty());
    const QString first = QString::fromStdString("inspector.row:" + rows[0].first);
    EXPECT_EQ(text(child<QLabel>(child(&panel, first), "inspector.value")), rows[0].second);
}

// A selected object of a file with a long name, in the inspector at its least width: the file name wraps inside
// the column, and every value (the Type among them) stands whole inside the panel, on as many lines as it takes.
TEST(Inspector, ALongFileNameLeavesEveryValueWholeInsideThePanel) {
    PanelFixture f;
    PCBPackage board = sampleBoard();
    board.files[0].fileName = "LimeSDR-QPCIe_1v2-fabrication-LimeSDR-QPCIe_1v2-F_Cu_with_thermal_reliefs.gbr";
    f.model->loadPackage(board);
    const PackageFile& copper = f.model->package()->files[0];
    f.model->setSelection(HitResult{copper.gerber->objects[2], copper.fileName, copper.layerType, 0});
    DetailsPanel panel(f.model.get());
    panel.resize(220, 700);
    panel.show();
    AutomationHooks::settleWindow(&panel);
    const QRect view = panel.viewport()->rect();
    const auto values = panel.findChildren<ui::WrappedLabel*>("inspector.value");
    ASSERT_GE(values.size(), 5);
    bool sawType = false;
    for (const auto* value : values) {
        const QRect at(value->mapTo(panel.viewport(), QPoint(0, 0)), value->size());
        EXPECT_GE(at.left(), view.left()) << value->text().toStdString();
        EXPECT_LE(at.right(), view.right()) << value->text().toStdString();
        const int lines = value->linesAt(value->contentsRect().width());
        EXPECT_LE(lines * value->fontMetrics().lineSpacing(), value->contentsRect().height() + 2) << value->text().toStdString();
        if (value->parentWidget()->objectName() == "inspector.row:Type") {
            sawType = true;
            EXPECT_EQ(value->text().toStdString(), "Flash (Pad)");
            EXPECT_EQ(lines, 1);  // short enough for one line: never cut to "Flash (Pa"
        }
        if (value->text().startsWith("LimeSDR")) {
            EXPECT_GT(lines, 1);  // wrapped, not cut
        }
    }
    EXPECT_TRUE(sawType);
    EXPECT_EQ(lookProblems(&panel), std::vector<std::string>{});
}

TEST(Inspector, ChecksShowCountsAndTheFirstSixIssues) {
    PanelFixture f;
    DetailsPanel panel(f.model.get());
    std::vector<CheckIssue> issues;
    for (int i = 0; i < 8; ++i)
        issues.push_back(CheckIssue{"r" + std::to_string(i), i < 2 ? CheckSeverity::info : CheckSeverity::warning,
                                    "Issue " + std::to_string(i), "message", std::nullopt, std::nullopt});
    issues.push_back(CheckIssue{"e", CheckSeverity::error, "Broken", "m", std::nullopt, std::nullopt});
    f.model->setDfmReport(DFMReport(issues, std::nullopt, Date{}));
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.errorCount")), "1");
    EXPECT_EQ(text(child<QLabel>(&panel, "inspector.warningCount")), "6");
    const auto shown = panel.findChildren<QLabel*>("inspector.issueTitle");
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0]->text().toStdString(), "Broken");

    int opened = 0;
    QObject context;
    Notifications::observe(Notifications::openChecksSheet2, &context, [&] { ++opened; });
    child<QPushButton>(&panel, "inspector.details")->click();
    EXPECT_EQ(opened, 1);
}

// No installed font has U+24C8 or U+26BF, which the solo button and the privacy mark once were: Qt drew its
// missing-glyph box. Every symbol is drawn by the program now, and titles that use a symbol character fall
// back to a drawn one where the font lacks it.
TEST(Symbols, EverySymbolIsDrawnAndNoneIsTheMissingGlyphBox) {
    const QFont font = ui::pixelFont(14);
    EXPECT_FALSE(ui::drawsEveryCharacter("\u24C8", font));
    EXPECT_FALSE(ui::drawsEveryCharacter("Privacy \u26BF", font));
    EXPECT_TRUE(ui::drawsEveryCharacter("Inspect \u0394X \u2197 Arrow \u25AD \u00B7 \u00D7 \u2212 \u2014 \u2026 \u2192", font));

    const auto render = [](const std::function<void(QPainter&)>& paint) {
        QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        paint(p);
        return image;
    };
    const auto ink = [](const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += qAlpha(image.pixel(x, y)) > 64;
        return n;
    };
    const QImage box = render([&](QPainter& p) {
        p.setFont(font);
        p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, "\u24C8");
    });
    ASSERT_GT(ink(box), 6);
    for (const QString& name : knownSymbols()) {
        const QImage drawn = render([&](QPainter& p) { p.drawPixmap(0, 0, symbolPixmap(name, Qt::black, 16)); });
        EXPECT_GT(ink(drawn), 6) << name.toStdString();
        EXPECT_NE(drawn, box) << name.toStdString();
        // An icon asked for again is the one drawn before, pixel for pixel; another colour is another icon.
        const QIcon first = symbolIcon(name, Qt::black), again = symbolIcon(name, Qt::black);
        EXPECT_EQ(first.pixmap(16).toImage(), symbolPixmap(name, Qt::black, 16).toImage()) << name.toStdString();
        EXPECT_EQ(again.pixmap(16).toImage(), first.pixmap(16).toImage()) << name.toStdString();
        EXPECT_NE(symbolIcon(name, Qt::red).pixmap(16).toImage(), first.pixmap(16).toImage()) << name.toStdString();
    }

    // A font that lacks "\u25AD" and may not borrow it: the tool button draws a rectangle, not the box.
    QFont noRectangle(QStringLiteral("Nimbus Sans"));
    noRectangle.setPixelSize(11);
    noRectangle.setStyleStrategy(QFont::NoFontMerging);
    ASSERT_FALSE(ui::drawsEveryCharacter("\u25AD Rect", noRectangle));
    ToolButton button(ToolPicker::buttonTitle(Tool::annotateRect), nullptr);
    button.setFont(noRectangle);
    button.resize(button.sizeHint());
    QImage boxed(button.size(), QImage::Format_ARGB32_Premultiplied);
    boxed.fill(Qt::transparent);
    button.render(&boxed);
    QImage expected = boxed;
    expected.fill(Qt::transparent);
    {
        QPainter p(&expected);
        p.setFont(noRectangle);
        p.setPen(button.palette().color(QPalette::ButtonText));
        p.drawText(QRect(QPoint(0, 0), button.size()), Qt::AlignCenter, button.text());
    }
    EXPECT_NE(boxed, expected);

    // The look checks of the gallery tests see a box, a clipped text and a wrapped word cut at the edge.
    QWidget host;
    auto* missing = new QLabel("Solo \u24C8", &host);
    missing->setObjectName("missing");
    auto* clipped = new QLabel("(120.345, 67.890) mm", &host);
    clipped->setObjectName("clipped");
    clipped->setGeometry(0, 20, 40, 16);
    auto* wrapped = new QLabel("Position (120.345, 67.890) mm", &host);
    wrapped->setObjectName("wrapped");
    wrapped->setWordWrap(true);
    wrapped->setGeometry(0, 40, 30, 80);
    host.show();
    const std::string problems = joined(lookProblems(&host));
    EXPECT_NE(problems.find("missing \"Solo \u24C8\": a character is drawn as the missing-glyph box"), std::string::npos)
        << problems;
    EXPECT_NE(problems.find("clipped \"(120.345, 67.890) mm\": clipped"), std::string::npos) << problems;
    EXPECT_NE(problems.find("wrapped \"Position (120.345, 67.890) mm\": a wrapped line is clipped (67.890))"),
              std::string::npos)
        << problems;
}

// The side columns at their least widths, with file names sharing a long prefix, a layer only one revision
// has, a selected object and measurements: nothing cut, wrapped inside a number or drawn as a box.
TEST(Gallery, SidebarInCompareModeAndInspectorLookRight) {
    PanelFixture f;
    PCBPackage board = sampleBoard("ESP32_RevA");
    for (auto& file : board.files) file.fileName = "ESP32_RevA-ESP32_RevA-ESP32_RevA-" + file.fileName;
    PCBPackage revised = board;
    revised.name = "ESP32_RevB";
    revised.files.push_back(revised.files[0]);
    revised.files.back().fileName = "ESP32_RevA-ESP32_RevA-ESP32_RevA-F_Paste.gbr";
    revised.files.back().layerType = LayerType::paste(CopperLayerID::top());
    f.model->loadPackage(board);
    const PackageFile& copper = f.model->package()->files[0];
    f.model->setSelection(HitResult{copper.gerber->objects[0], copper.fileName, copper.layerType, 0});
    SidebarView sidebar(f.model.get());
    sidebar.resize(220, 900);
    sidebar.show();
    expectLooksRight(&sidebar, "sidebar");
    f.model->startCompare(f.model->package(), "ESP32_RevA.zip", std::make_shared<const PCBPackage>(revised));
    f.model->setCompareRows({compareRow("Top Copper", 40, 40), compareRow("Drill", 3, 1)});
    ASSERT_EQ(sidebar.findChildren<ui::ElidedLabel*>("compare.unmatched").size(), 1);
    expectLooksRight(&sidebar, "sidebar-compare");
    DetailsPanel panel(f.model.get());
    panel.resize(240, 600);
    panel.show();
    expectLooksRight(&panel, "inspector");
    f.model->setUnits(Units::mil);
    expectLooksRight(&panel, "inspector-mil");
}
