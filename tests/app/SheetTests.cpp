#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "LookChecks.hpp"
#include "app/AutomationHooks.hpp"
#include "PanelTestSupport.hpp"
#include "model/NotificationHub.hpp"
#include "sheets/ChecksSheet.hpp"
#include "sheets/DrillSheet.hpp"
#include "sheets/PresetSheet.hpp"
#include "sheets/SheetPresenter.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::vector<std::string> labelTexts(const QWidget* parent, const char* name) {
    std::vector<std::string> out;
    for (auto* l : parent->findChildren<QLabel*>(name)) out.push_back(l->text().toStdString());
    return out;
}

std::vector<std::string> presetNames(const AppModel& m) {
    std::vector<std::string> names;
    for (const auto& p : m.presets()) names.push_back(p.name);
    return names;
}

DrillFileStats drillStats(const std::string& name, std::vector<DrillStat> stats, std::int64_t pth, std::int64_t npth) {
    return DrillFileStats{name, std::move(stats), pth, npth};
}

} // namespace

TEST(DrillSheet, NoneOneAndTwoFilesInMillimetresAndMil) {
    PanelFixture f;
    DrillSheet sheet(f.model.get());
    EXPECT_EQ(text(child<QLabel>(&sheet, "drill.none")), "No drill files in this package.");
    EXPECT_TRUE(child(&sheet, "done"));

    f.model->setDrillFiles({drillStats("a.drl", {{0.3, Plating::pth, 4}, {1.0, Plating::npth, 2}, {3.175, Plating::unknown, 1}}, 4, 2)});
    EXPECT_FALSE(child(&sheet, "drill.none"));
    auto* block = child(&sheet, "drill.block:a.drl");
    ASSERT_TRUE(block);
    EXPECT_EQ(labelTexts(block, "drill.diameter"), (std::vector<std::string>{"0.300 mm", "1.000 mm", "3.175 mm"}));
    EXPECT_EQ(labelTexts(block, "drill.type"), (std::vector<std::string>{"PTH", "NPTH", "\u2014"}));
    EXPECT_EQ(labelTexts(block, "drill.count"), (std::vector<std::string>{"\u00D7 4", "\u00D7 2", "\u00D7 1"}));
    EXPECT_EQ(text(child<QLabel>(block, "drill.total")), "7");
    EXPECT_EQ(text(child<QLabel>(block, "drill.pth")), "4 PTH");
    EXPECT_EQ(text(child<QLabel>(block, "drill.npth")), "2 NPTH");

    f.model->setDrillFiles({drillStats("a.drl", {}, 0, 0), drillStats("b.drl", {{0.254, Plating::pth, 9}}, 9, 0)});
    ASSERT_TRUE(child(&sheet, "drill.block:b.drl"));
    EXPECT_EQ(text(child<QLabel>(child(&sheet, "drill.block:a.drl"), "drill.total")), "0");
    EXPECT_EQ(labelTexts(&sheet, "drill.fileName"), (std::vector<std::string>{"a.drl", "b.drl"}));
    f.model->setUnits(Units::mil);
    EXPECT_EQ(text(child<QLabel>(child(&sheet, "drill.block:b.drl"), "drill.diameter")), "10.0 mil");
}

TEST(DrillSheet, ManyFilesScrollAndKeepDoneOnScreen) {
    PanelFixture f;
    std::vector<DrillFileStats> files;
    for (int i = 0; i < 12; ++i) files.push_back(drillStats("f" + std::to_string(i) + ".drl", {{0.3, Plating::pth, 1}}, 1, 0));
    f.model->setDrillFiles(files);
    DrillSheet sheet(f.model.get());
    sheet.resize(460, 320);
    sheet.show();
    QApplication::processEvents();
    auto* done = child(&sheet, "done");
    EXPECT_LE(done->mapTo(&sheet, QPoint(0, done->height())).y(), sheet.height());
    EXPECT_LE(sheet.height(), 400);
}

TEST(ChecksSheet, CountsPassedStateWarningsAndPresetMenu) {
    PanelFixture f;
    f.model->setActivePreset(std::nullopt);
    ChecksSheet sheet(f.model.get());
    // Nothing is said to have passed that has not run: no board, or checks still running.
    EXPECT_TRUE(child(&sheet, "checks.counts")->isHidden());
    EXPECT_TRUE(child(&sheet, "checks.passed")->isHidden());
    ASSERT_TRUE(child(&sheet, "checks.noBoard"));
    auto* preset = child<QToolButton>(&sheet, "checks.preset");
    EXPECT_EQ(preset->text().toStdString(), "Preset: None");
    f.model->loadPackage(sampleBoard());
    EXPECT_TRUE(child(&sheet, "checks.passed")->isHidden());
    ASSERT_TRUE(child(&sheet, "checks.pending"));
    EXPECT_EQ(text(child<QLabel>(child(&sheet, "checks.pending"), QString())), "The checks are running\u2026");

    f.model->setDfmReport(DFMReport({}, std::nullopt, Date{}));
    EXPECT_EQ(text(child<QLabel>(&sheet, "checks.counts")), "0 errors \u00B7 0 warnings");
    EXPECT_FALSE(child(&sheet, "checks.passed")->isHidden());

    f.model->setDfmReport(DFMReport({CheckIssue{"i", CheckSeverity::info, "Note", "fyi", std::nullopt, std::nullopt},
                                     CheckIssue{"w", CheckSeverity::warning, "Thin", "too thin", "top.gbr", Vec2{3, 4}},
                                     CheckIssue{"e", CheckSeverity::error, "Broken", "bad", std::nullopt, std::nullopt}},
                                    std::nullopt, Date{}));
    EXPECT_EQ(text(child<QLabel>(&sheet, "checks.counts")), "1 error \u00B7 1 warning");
    EXPECT_TRUE(child(&sheet, "checks.passed")->isHidden());
    const auto rows = sheet.findChildren<QWidget*>("checks.issue");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(text(child<QLabel>(rows[1], "checks.title")), "Thin");
    EXPECT_EQ(child(rows[1], "checks.severity")->property("symbol").toString(), "exclamationmark.triangle.fill");
    EXPECT_EQ(text(child<QLabel>(rows[1], "checks.file")), "top.gbr");
    EXPECT_EQ(child(rows[2], "checks.severity")->property("symbol").toString(), "info.circle.fill");
    EXPECT_FALSE(child(rows[2], "checks.locate"));
    EXPECT_FALSE(child(rows[2], "checks.file"));

    // "Locate" goes to the finding and marks it until the next click on the canvas.
    f.model->canvasSizeChanged(QSizeF(600, 480));
    child<QPushButton>(rows[1], "checks.locate")->click();
    EXPECT_EQ(f.model->camera().center.x, 3.0);
    EXPECT_EQ(f.model->camera().center.y, 4.0);
    EXPECT_DOUBLE_EQ(f.model->camera().pxPerMM, 480 / 12.0);
    EXPECT_EQ(f.model->locatedPoint(), (Vec2{3, 4}));

    // The package's own warnings are listed with the files they name; the checks' passing is said of them alone.
    PCBPackage warned = sampleBoard();
    warned.warnings = {"Not read: notes.pdf, fab.txt", "Drill file 'board.drl' does not line up with the board; it may use another origin.",
                       "12 footprint graphics were not read."};
    f.model->loadPackage(std::move(warned));
    EXPECT_FALSE(f.model->locatedPoint());
    f.model->setDfmReport(DFMReport({}, std::nullopt, Date{}));
    EXPECT_TRUE(child(&sheet, "checks.passed")->isHidden());
    ASSERT_TRUE(child(&sheet, "checks.passedLine"));
    EXPECT_EQ(text(child<QLabel>(&sheet, "checks.packageWarnings")), "Package warnings (3)");
    const auto warnings = sheet.findChildren<QWidget*>("checks.packageWarning");
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(text(child<QLabel>(warnings[0], "checks.warningFiles")), "Files: notes.pdf, fab.txt");
    EXPECT_EQ(text(child<QLabel>(warnings[1], "checks.warningFiles")), "File: board.drl");
    EXPECT_FALSE(child(warnings[2], "checks.warningFiles"));
}

// Scrolled to its end, the findings list ends with its last finding, not with empty space below it.
TEST(ChecksSheet, TheListEndsAtItsLastFinding) {
    PanelFixture f;
    PCBPackage warned = sampleBoard("LimeSDR-QPCIe_1v2-fabrication");
    for (int i = 0; i < 6; ++i)
        warned.warnings.push_back("Not read: LimeSDR-QPCIe_1v2-fabrication-assembly-drawing-" + std::to_string(i) +
                                  ".pdf, LimeSDR-QPCIe_1v2-BOM.csv and 3 more");
    f.model->loadPackage(std::move(warned));
    std::vector<CheckIssue> issues;
    for (int i = 0; i < 8; ++i)
        issues.push_back(CheckIssue{"trace", CheckSeverity::warning, "Trace below minimum",
                                    "Track of 0.080 mm is narrower than the preset's 0.090 mm, which the factory needs "
                                    "for an etched track of this copper weight.",
                                    std::string("LimeSDR-QPCIe_1v2-fabrication-top_copper.gbr"), Vec2{1.0 * i, 2}});
    f.model->setDfmReport(DFMReport(issues, std::nullopt, Date{}));
    ChecksSheet sheet(f.model.get());
    for (const QSize size : {QSize(560, 400), QSize(420, 400), QSize(760, 520)}) {
        sheet.resize(size);
        sheet.show();
        AutomationHooks::settleWindow(&sheet);
        auto* list = child<QScrollArea>(&sheet, "checks.list");
        ASSERT_TRUE(list);
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        QApplication::processEvents();
        const auto rows = list->widget()->findChildren<QWidget*>("checks.packageWarning");
        ASSERT_FALSE(rows.empty());
        const QWidget* last = rows.back();
        const int bottom = last->mapTo(list->viewport(), QPoint(0, last->height())).y();
        EXPECT_LE(bottom, list->viewport()->height()) << size.width();
        // A list that scrolls at all scrolls just far enough to show its end.
        if (list->verticalScrollBar()->maximum() > 0) {
            EXPECT_GE(bottom, list->viewport()->height() - 24) << size.width() << ": empty space below the last finding";
        }
    }
}

TEST(ChecksSheet, ChoosingAPresetPersistsItAndRerunsTheChecks) {
    PanelFixture f;
    f.model->loadPackage(sampleBoard());
    QSignalSpy ran(f.model.get(), &AppModel::checksFinished);
    ASSERT_TRUE(ran.wait(10000));
    ChecksSheet sheet(f.model.get());
    QMenu* menu = child<QToolButton>(&sheet, "checks.preset")->menu();
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), static_cast<int>(f.model->presets().size()) + 1);
    EXPECT_EQ(actions[0]->text().toStdString(), "None");
    const std::string chosen = f.model->presets().back().name;
    actions.back()->trigger();
    EXPECT_EQ(f.model->settings().value(AppModel::activePresetKey).toString().toStdString(), chosen);
    EXPECT_EQ(child<QToolButton>(&sheet, "checks.preset")->text().toStdString(), "Preset: " + chosen);
    ASSERT_TRUE(ran.wait(10000));
    ASSERT_TRUE(f.model->dfmReport());
    EXPECT_EQ(f.model->dfmReport()->presetName, chosen);

    child<QToolButton>(&sheet, "checks.preset")->menu()->actions()[0]->trigger();
    EXPECT_FALSE(f.model->settings().contains(AppModel::activePresetKey));
}

TEST(PresetSheet, SaveReplacesInPlaceOrAppendsAndDeleteRemovesEveryNamesake) {
    PanelFixture f;
    f.model->setPresets({{"A", 0.1, 0.1, 0.2, 0.15}, {"B", 0.2, 0.2, 0.3, 0.1}, {"A", 0.3, 0.3, 0.4, 0.2}});
    PresetSheet sheet(f.model.get());
    auto* list = child<QTreeWidget>(&sheet, "presets.list");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(1)->text(1).toStdString(), "0.20/0.20/0.30");

    sheet.pickRow(1);
    EXPECT_EQ(sheet.draft().name, "B");
    auto* trace = child<QLineEdit>(&sheet, "presets.minTrace");
    QTest::keyClicks(trace, "5");  // "0.2" becomes "0.25"
    EXPECT_DOUBLE_EQ(sheet.draft().minTraceMM, 0.25);
    child<QPushButton>(&sheet, "presets.save")->click();
    EXPECT_EQ(presetNames(*f.model), (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_DOUBLE_EQ(f.model->presets()[1].minTraceMM, 0.25);
    EXPECT_EQ(list->topLevelItem(1)->text(1).toStdString(), "0.25/0.20/0.30");

    auto* name = child<QLineEdit>(&sheet, "presets.name");
    name->selectAll();
    QTest::keyClicks(name, "C");
    child<QPushButton>(&sheet, "presets.save")->click();
    EXPECT_EQ(presetNames(*f.model), (std::vector<std::string>{"A", "B", "A", "C"}));

    sheet.deletePresets("A");
    EXPECT_EQ(presetNames(*f.model), (std::vector<std::string>{"B", "C"}));
    // Saved to the settings each time.
    AppModel reread(f.settings.open());
    EXPECT_EQ(presetNames(reread), (std::vector<std::string>{"B", "C"}));
}

TEST(PresetSheet, UseForChecksWithKnownAndNewNames) {
    PanelFixture f;
    f.model->setPresets({{"Fab", 0.1, 0.1, 0.2, 0.15}});
    f.model->savePresets();
    PresetSheet sheet(f.model.get());
    auto* name = child<QLineEdit>(&sheet, "presets.name");
    name->selectAll();
    QTest::keyClicks(name, "Fab");
    auto* drill = child<QLineEdit>(&sheet, "presets.minDrill");
    drill->selectAll();
    QTest::keyClicks(drill, "0.5");
    child<QPushButton>(&sheet, "presets.use")->click();
    EXPECT_EQ(presetNames(*f.model), (std::vector<std::string>{"Fab"}));
    EXPECT_DOUBLE_EQ(f.model->presets()[0].minDrillMM, 0.2);  // the stored one is left alone
    ASSERT_TRUE(f.model->activePreset());
    EXPECT_DOUBLE_EQ(f.model->activePreset()->minDrillMM, 0.5);
    EXPECT_EQ(f.model->settings().value(AppModel::activePresetKey).toString(), "Fab");

    name->selectAll();
    QTest::keyClicks(name, "New");
    child<QPushButton>(&sheet, "presets.use")->click();
    EXPECT_EQ(presetNames(*f.model), (std::vector<std::string>{"Fab", "New"}));
    EXPECT_EQ(f.model->activePreset()->name, "New");
    AppModel reread(f.settings.open());
    EXPECT_EQ(presetNames(reread), (std::vector<std::string>{"Fab", "New"}));
}

TEST(PresetSheet, NumberFieldsTakeAnyFiniteNumberAndEnterDoesNotClose) {
    PanelFixture f;
    PresetSheet sheet(f.model.get());
    sheet.show();
    auto* space = child<QLineEdit>(&sheet, "presets.minSpace");
    space->selectAll();
    QTest::keyClicks(space, "-2");
    EXPECT_DOUBLE_EQ(sheet.draft().minSpaceMM, -2.0);
    space->selectAll();
    QTest::keyClicks(space, "abc");
    EXPECT_DOUBLE_EQ(sheet.draft().minSpaceMM, -2.0);
    auto* name = child<QLineEdit>(&sheet, "presets.name");
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), 0);
}

TEST(PresetSheet, RowContextMenuDeletes) {
    PanelFixture f;
    f.model->setPresets({{"A", 0.1, 0.1, 0.2, 0.15}, {"B", 0.2, 0.2, 0.3, 0.1}});
    PresetSheet sheet(f.model.get());
    sheet.show();
    QApplication::processEvents();
    auto* list = child<QTreeWidget>(&sheet, "presets.list");
    const QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
    QTimer::singleShot(50, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), "Delete");
        menu->actions()[0]->trigger();
        menu->close();
    });
    Q_EMIT list->customContextMenuRequested(at);
    EXPECT_EQ(presetNames(*f.model), (std::vector<std::string>{"A"}));
}

TEST(PresetSheet, NumberFieldsFollowTheUserLocale) {
    PanelFixture f;
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    {
        PresetSheet sheet(f.model.get());
        auto* trace = child<QLineEdit>(&sheet, "presets.minTrace");
        EXPECT_EQ(trace->text(), "0,1");
        trace->selectAll();
        QTest::keyClicks(trace, "0,25");
        EXPECT_DOUBLE_EQ(sheet.draft().minTraceMM, 0.25);
        sheet.savePreset();
        // The list shows fixed decimals with a point whatever the locale.
        EXPECT_EQ(child<QTreeWidget>(&sheet, "presets.list")->findItems("My Factory", Qt::MatchExactly).front()->text(1),
                  "0.25/0.10/0.20");
    }
    QLocale::setDefault(saved);
}

TEST(Sheets, PresenterOpensFreshSheetsAndPresetsOverChecks) {
    PanelFixture f;
    QWidget window;
    window.resize(900, 600);
    window.show();
    SheetPresenter presenter(&window, f.model.get());
    Notifications::post(Notifications::openPresetSheet);
    auto* first = qobject_cast<PresetSheet*>(presenter.sheet(Notifications::openPresetSheet));
    ASSERT_TRUE(first);
    child<QLineEdit>(first, "presets.name")->setText("typed");
    Notifications::post(Notifications::openPresetSheet);
    EXPECT_EQ(presenter.sheet(Notifications::openPresetSheet), first);  // raised, not doubled
    QPointer<QDialog> gone = first;
    child<QPushButton>(first, "done")->click();
    QTRY_VERIFY(!gone);

    Notifications::post(Notifications::openPresetSheet);
    auto* second = qobject_cast<PresetSheet*>(presenter.sheet(Notifications::openPresetSheet));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->draft(), PresetSheet::initialDraft());
    EXPECT_EQ(child<QLineEdit>(second, "presets.name")->text(), "My Factory");
    child<QPushButton>(second, "done")->click();

    Notifications::post(Notifications::openChecksSheet2);
    QDialog* checks = presenter.sheet(Notifications::openChecksSheet2);
    ASSERT_TRUE(checks);
    QTRY_COMPARE(QApplication::activeModalWidget(), checks);
    child<QPushButton>(checks, "checks.editPresets")->click();
    QDialog* presets = presenter.sheet(Notifications::openPresetSheet);
    ASSERT_TRUE(presets);
    EXPECT_EQ(presets->parentWidget(), checks);
    EXPECT_TRUE(checks->isVisible());
}

TEST(Gallery, DrillChecksAndPresetSheetsLookRight) {
    PanelFixture f;
    f.model->setDrillFiles({drillStats("a-long-package-name-shared-by-every-file-of-it-PTH.drl",
                                       {{0.3, Plating::pth, 40}, {1.0, Plating::npth, 4}, {1.2, Plating::pth, 3, true},
                                        {0.8, Plating::unknown, 2, true}},
                                       43, 4)});
    f.model->setDfmReport(DFMReport({CheckIssue{"w", CheckSeverity::warning, "Thin track", "0.08 mm below 0.10 mm",
                                                "top.gbr", Vec2{3, 4}},
                                     CheckIssue{"e", CheckSeverity::error, "Missing board outline",
                                                "Missing board outline: no file in the package was classified as the "
                                                "board outline (profile) layer.",
                                                std::nullopt, std::nullopt}},
                                    "My Factory", Date{}));
    DrillSheet drill(f.model.get());
    drill.show();
    expectLooksRight(&drill, "sheet-drill");
    ChecksSheet checks(f.model.get());
    checks.show();
    expectLooksRight(&checks, "sheet-checks");
    PresetSheet presets(f.model.get());
    presets.show();
    expectLooksRight(&presets, "sheet-presets");
}
