// The main window as the delegate builds it: size and frame, menus and their commands, the toolbar, sheets,
// dialogs and dropped files.
#include <gtest/gtest.h>

#include <map>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileOpenEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "LookChecks.hpp"
#include "PanelTestSupport.hpp"
#include "WindowTestSupport.hpp"
#include "model/NotificationHub.hpp"
#include "sheets/ChecksSheet.hpp"
#include "sheets/SheetPresenter.hpp"
#include "window/MainWindowView.hpp"
#include "window/WelcomeView.hpp"

namespace corvane::testing {
namespace {

struct DelegateFixture {
    ScratchSettings settings;
    ScriptedDialogs dialogs;
    std::unique_ptr<AppDelegate> delegate;

    DelegateFixture() { launch(); }
    void launch() {
        delegate.reset();
        delegate = std::make_unique<AppDelegate>(settings.open());
        delegate->buildWindow();
        delegate->buildMenu();
        delegate->registerOpenHandler();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(delegate->window()));
    }
    AppModel& model() { return delegate->model(); }
    QMainWindow& window() { return *delegate->window(); }
    QAction* action(const char* name) { return window().findChild<QAction*>(name); }
    QWidget* toolbarWidget(const char* name) { return window().findChild<QToolBar*>("toolbar")->findChild<QWidget*>(name); }
};

std::vector<std::string> menuTitles(QMenu* menu) {
    std::vector<std::string> out;
    for (QAction* a : menu->actions()) out.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return out;
}

TEST(MainWindow, ContentIsTheGivenSizeWithTheMenuBarInsideAndKeepsItsMinimum) {
    DelegateFixture f;
    EXPECT_EQ(f.window().windowTitle(), "Corvane");
    EXPECT_FALSE(f.window().menuBar()->isNativeMenuBar());
    EXPECT_EQ(f.window().centralWidget()->size(), QSize(1280, 820));

    f.window().resize(400, 300);  // below the minimum
    QApplication::processEvents();
    EXPECT_EQ(f.window().centralWidget()->size(), QSize(940, 600));

    // The side panels keep to their ranges at the smallest window.
    auto* splitter = f.window().findChild<QSplitter*>("mainSplitter");
    ASSERT_NE(splitter, nullptr);
    ASSERT_EQ(splitter->count(), 3);
    EXPECT_GE(splitter->widget(0)->width(), MainWindowView::sidebarMinWidth);
    EXPECT_LE(splitter->widget(0)->width(), MainWindowView::sidebarMaxWidth);
    EXPECT_GE(splitter->widget(2)->width(), MainWindowView::inspectorMinWidth);
    EXPECT_LE(splitter->widget(2)->width(), MainWindowView::inspectorMaxWidth);
}

TEST(MainWindow, FirstLaunchIsRememberedAndTheSavedFrameComesBack) {
    DelegateFixture f;
    EXPECT_TRUE(f.settings.open()->value("launchedOnce").toBool());
    f.window().resize(1100, 760);
    f.window().move(37, 41);
    QApplication::processEvents();
    f.delegate->saveWindowGeometry();
    const QSize saved = f.window().size();

    f.launch();
    EXPECT_TRUE(f.settings.open()->value("launchedOnce").toBool());
    EXPECT_EQ(f.window().size(), saved);
}

TEST(MainWindow, MenuBarHasTheFiveMenusWithTheirItemsAndShortcuts) {
    DelegateFixture f;
    std::vector<std::string> menus;
    for (QAction* a : f.window().menuBar()->actions()) menus.push_back(a->text().toStdString());
    EXPECT_EQ(menus, (std::vector<std::string>{"Corvane", "File", "View", "Tools", "Help"}));

    EXPECT_EQ(menuTitles(f.window().findChild<QMenu*>("menu.app")),
              (std::vector<std::string>{"About Corvane", "-", "Preferences\u2026", "-", "Quit Corvane"}));
    EXPECT_EQ(menuTitles(f.window().findChild<QMenu*>("menu.file")),
              (std::vector<std::string>{"Open Package\u2026", "Export PDF Report\u2026", "-", "Copy Screenshot"}));
    EXPECT_EQ(menuTitles(f.window().findChild<QMenu*>("menu.view")),
              (std::vector<std::string>{"Fit Board", "Zoom In", "Zoom Out", "-", "Bottom View (Mirror)", "Units"}));
    EXPECT_EQ(menuTitles(f.window().findChild<QMenu*>("menu.units")), (std::vector<std::string>{"Millimetres", "Mil"}));
    EXPECT_EQ(menuTitles(f.window().findChild<QMenu*>("menu.tools")),
              (std::vector<std::string>{"Gerber Compare\u2026", "Drill View\u2026", "Quick Checks\u2026",
                                        "Manufacturing Presets\u2026", "Revision Workspace\u2026"}));
    EXPECT_EQ(menuTitles(f.window().findChild<QMenu*>("menu.help")),
              (std::vector<std::string>{"Privacy: 100% Local Review"}));

    const std::vector<std::pair<const char*, const char*>> keys = {
        {"action.preferences", "Ctrl+,"}, {"action.quit", "Ctrl+Q"},       {"action.openFile", "Ctrl+O"},
        {"action.exportReport", "Ctrl+E"}, {"action.copyShot", "Ctrl+C"},  {"action.fitBoard", "Ctrl+F"},
        {"action.zoomOut", "Ctrl+-"},      {"action.toggleMirror", "Ctrl+M"}, {"action.openCompare", "Ctrl+K"},
        {"action.openDrill", "Ctrl+D"},    {"action.openChecks", "Ctrl+L"}, {"action.openWorkspace", "Ctrl+W"},
        {"action.openPresets", ""},        {"action.about", ""},            {"action.privacy", ""}};
    for (const auto& [name, key] : keys) {
        QAction* a = f.action(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->shortcut().toString(QKeySequence::PortableText).toStdString(), key) << name;
    }
    EXPECT_EQ(f.action("action.zoomIn")->shortcuts(),
              (QList<QKeySequence>{QKeySequence("Ctrl++"), QKeySequence("Ctrl+=")}));
    EXPECT_FALSE(f.action("action.preferences")->isEnabled());
    EXPECT_TRUE(f.action("action.about")->isEnabled());
}

TEST(MainWindow, ZoomStopsAtItsLimitsAndWorksWithoutABoard) {
    DelegateFixture f;
    int overlayPosts = 0;
    QObject context;
    Notifications::observe(Notifications::overlayNeedsDisplay, &context, [&] { ++overlayPosts; });

    CameraState camera = f.model().camera();
    camera.pxPerMM = 3500;
    f.model().setCamera(camera);
    overlayPosts = 0;
    f.action("action.zoomIn")->trigger();
    EXPECT_EQ(f.model().camera().pxPerMM, 4000);
    EXPECT_EQ(overlayPosts, 1);

    camera.pxPerMM = 0.06;
    f.model().setCamera(camera);
    f.action("action.zoomOut")->trigger();
    EXPECT_DOUBLE_EQ(f.model().camera().pxPerMM, 0.05);

    camera.pxPerMM = 8;
    f.model().setCamera(camera);
    QTest::keyClick(&f.window(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(f.model().camera().pxPerMM, 10);
    EXPECT_EQ(f.model().camera().center, camera.center);
}

TEST(MainWindow, FitWithoutABoardOrWithAnEmptyBoardChangesNothing) {
    DelegateFixture f;
    const CameraState before = f.model().camera();
    f.action("action.fitBoard")->trigger();
    static_cast<QAbstractButton*>(f.toolbarWidget("toolbar.fit"))->click();
    EXPECT_EQ(f.model().camera(), before);
    EXPECT_FALSE(f.model().hasFitted());

    PCBPackage empty;
    empty.name = "empty";
    empty.files.push_back(gerberFile("empty.gbr", LayerType::unknown(), {}));
    f.model().loadPackage(std::move(empty));
    const CameraState loaded = f.model().camera();
    f.action("action.fitBoard")->trigger();
    EXPECT_EQ(f.model().camera(), loaded);
    EXPECT_FALSE(f.model().hasFitted());

    f.model().loadPackage(sampleBoard());
    CameraState away = f.model().camera();
    away.center = Vec2{500, 500};
    f.model().setCamera(away);
    f.action("action.fitBoard")->trigger();
    EXPECT_TRUE(f.model().hasFitted());
    EXPECT_DOUBLE_EQ(f.model().camera().center.x, 20);
    EXPECT_DOUBLE_EQ(f.model().camera().center.y, 15);
}

TEST(MainWindow, MirrorFlipsTheCameraAndTheViewButtonNamesTheSideShown) {
    DelegateFixture f;
    auto* view = static_cast<QToolButton*>(f.toolbarWidget("toolbar.view"));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->text(), "Top View");
    EXPECT_EQ(view->toolTip(), "Flip top/bottom view (mirror)");
    view->click();
    EXPECT_TRUE(f.model().camera().mirrored);
    EXPECT_EQ(view->text(), "Bottom View");
    f.action("action.toggleMirror")->trigger();
    EXPECT_FALSE(f.model().camera().mirrored);
    EXPECT_EQ(view->text(), "Top View");
}

TEST(MainWindow, ToolbarHasItsItemsInOrderWithTooltipsAndTheUnitsMenu) {
    DelegateFixture f;
    auto* toolbar = f.window().findChild<QToolBar*>("toolbar");
    ASSERT_NE(toolbar, nullptr);
    std::vector<std::string> items;
    for (QAction* a : toolbar->actions()) items.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    ASSERT_EQ(items.size(), 11u);
    items.pop_back();  // the units menu, a widget of its own
    EXPECT_EQ(items, (std::vector<std::string>{"Open Package", "-", "Compare", "Drill", "Checks", "Report", "-",
                                               "Fit", "Top View", "-"}));
    const std::vector<std::pair<const char*, const char*>> tips = {
        {"toolbar.open", "Import a manufacturer ZIP, folder or single Gerber file"},
        {"toolbar.compare", "Compare two revisions"},
        {"toolbar.drill", "Drill view with PTH/NPTH statistics"},
        {"toolbar.checks", "Quick checks against your factory preset"},
        {"toolbar.report", "Export PDF report"},
        {"toolbar.fit", ""}};
    for (const auto& [name, tip] : tips) EXPECT_EQ(f.toolbarWidget(name)->toolTip().toStdString(), tip) << name;
    EXPECT_EQ(f.toolbarWidget("toolbar.open")->property("symbol").toString(), "shippingbox");

    auto* units = static_cast<QToolButton*>(f.toolbarWidget("toolbar.units"));
    EXPECT_EQ(units->text(), "MM");
    units->menu()->findChild<QAction*>("toolbar.units.mil")->trigger();
    EXPECT_EQ(f.model().units(), Units::mil);
    EXPECT_EQ(units->text(), "MIL");
    EXPECT_EQ(f.settings.open()->value("units").toString(), "mil");
    f.action("action.unitsMM")->trigger();
    EXPECT_EQ(units->text(), "MM");
}

TEST(MainWindow, MenuCommandsOpenTheirSheetsAndASecondRequestKeepsOneSheet) {
    DelegateFixture f;
    const std::vector<std::pair<const char*, const char*>> commands = {
        {"action.openCompare", "sheet.compare"},   {"action.openDrill", "sheet.drill"},
        {"action.openChecks", "sheet.checks"},     {"action.openPresets", "sheet.presets"},
        {"action.openWorkspace", "sheet.workspace"}, {"action.exportReport", "sheet.report"}};
    for (const auto& [command, sheetName] : commands) {
        f.action(command)->trigger();
        f.action(command)->trigger();
        QApplication::processEvents();
        const auto sheets = visibleChildren<QDialog>(&f.window(), sheetName);
        ASSERT_EQ(sheets.size(), 1u) << sheetName;
        // The compare and report sheets close with "Cancel"; the others with "Done".
        auto* close = sheets.front()->findChild<QPushButton*>("done");
        if (!close) close = sheets.front()->findChild<QPushButton*>(QString(sheetName).mid(6) + ".cancel");
        ASSERT_TRUE(close) << sheetName;
        close->click();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(visibleChildren<QDialog>(&f.window(), sheetName).empty()) << sheetName;
    }
    // The toolbar opens the same sheets.
    static_cast<QAbstractButton*>(f.toolbarWidget("toolbar.drill"))->click();
    EXPECT_EQ(visibleChildren<QDialog>(&f.window(), "sheet.drill").size(), 1u);
}

QRect globalRect(const QWidget* w) { return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()); }

// At the smallest window every sheet opens over the canvas: inside the window, below the tool row, above the
// status bar and clear of the side panels' values, with nothing in it cut; a long list scrolls inside it.
TEST(MainWindow, AtTheSmallestSizeEverySheetFitsOverTheCanvasWithNothingCut) {
    DelegateFixture f;
    f.window().resize(f.window().size() - f.window().centralWidget()->size() + AppDelegate::minimumContentSize);
    QTRY_COMPARE(f.window().centralWidget()->size(), AppDelegate::minimumContentSize);
    // A board with much to show: findings, package warnings with long file names, several drill files, a
    // preset with a long name, a stored revision.
    PCBPackage board = sampleBoard("LimeSDR-QPCIe_1v2-fabrication");
    board.files.push_back(board.files[2]);
    board.files.back().fileName = "LimeSDR-QPCIe_1v2-fabrication-NPTH-slots-and-mounting-holes.drl";
    board.warnings = {"Not read: LimeSDR-QPCIe_1v2-fabrication-assembly-drawing.pdf, LimeSDR-QPCIe_1v2-BOM.csv and 3 more",
                      "Drill file 'board.drl' does not line up with the board; it may use another origin."};
    f.model().loadPackage(board);
    QTRY_VERIFY_WITH_TIMEOUT(!f.model().checksPending(), 20000);
    f.model().setActivePreset(ManufacturingPreset{"JLCPCB 6-layer (editable)", 0.09, 0.09, 0.2, 0.13});
    QTRY_VERIFY_WITH_TIMEOUT(!f.model().checksPending(), 20000);
    std::vector<CheckIssue> issues;
    for (int i = 0; i < 12; ++i)
        issues.push_back(CheckIssue{"trace", CheckSeverity::warning, "Trace below minimum",
                                    "Track of 0.080 mm is narrower than the preset's 0.090 mm.",
                                    std::string("LimeSDR-QPCIe_1v2-fabrication-top_copper.gbr"), Vec2{1.0 * i, 2}});
    issues.push_back(CheckIssue{"outline", CheckSeverity::error, "Missing board outline",
                                "Missing board outline: no file in the package was classified as the board outline "
                                "(profile) layer.",
                                std::nullopt, std::nullopt});
    f.model().setDfmReport(DFMReport(issues, f.model().activePreset()->name, Date::now()));
    f.model().revisionStore().addPackage(*f.model().package(), boardZip(), "LimeSDR-QPCIe_1v2-fabrication", "Rev A");

    QWidget* canvas = f.window().findChild<QWidget*>("canvasStack");
    QWidget* tools = f.window().findChild<QWidget*>("toolPicker");
    QWidget* status = f.window().findChild<QWidget*>("statusBar");
    ASSERT_TRUE(canvas && tools && status);
    const QRect content = globalRect(f.window().centralWidget());
    for (const char* name : {Notifications::openChecksSheet2, Notifications::openDrillSheet, Notifications::openWorkspaceSheet,
                             Notifications::openPresetSheet, Notifications::openCompareSheet, Notifications::openReportSheet}) {
        f.delegate->mainView()->presentSheet(name);
        QDialog* sheet = f.delegate->mainView()->sheets()->sheet(name);
        ASSERT_TRUE(sheet) << name;
        AutomationHooks::settleWindow(sheet);
        const QRect r = globalRect(sheet);
        EXPECT_TRUE(content.contains(r)) << name;
        EXPECT_TRUE(globalRect(canvas).contains(r)) << name;
        EXPECT_FALSE(r.intersects(globalRect(tools))) << name;
        EXPECT_FALSE(r.intersects(globalRect(status))) << name;
        // What the sheet holds keeps inside it: every button outside its scrolling lists is on screen.
        for (auto* button : sheet->findChildren<QPushButton*>()) {
            bool scrolled = false;
            for (QWidget* up = button->parentWidget(); up && up != sheet; up = up->parentWidget())
                scrolled = scrolled || qobject_cast<QScrollArea*>(up);
            if (button->isVisible() && !scrolled) {
                EXPECT_TRUE(sheet->rect().contains(QRect(button->mapTo(sheet, QPoint(0, 0)), button->size())))
                    << name << " " << button->text().toStdString();
            }
        }
        EXPECT_EQ(lookProblems(sheet), std::vector<std::string>{}) << name;
        sheet->grab().save(QDir::currentPath() + "/shots/smallest-" + sheet->objectName() + ".png");
        sheet->reject();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// "Locate" keeps the checks sheet open beside the place it goes to, at the default and the smallest window:
// the place and its mark are on the canvas and clear of the sheet, and the sheet stays where it was put for the
// next finding.
TEST(MainWindow, LocateShowsThePlaceBesideTheChecksSheet) {
    DelegateFixture f;
    f.model().loadPackage(sampleBoard());
    QTRY_VERIFY_WITH_TIMEOUT(!f.model().checksPending(), 20000);
    const Vec2 places[] = {{10, 10}, {30, 20}};
    std::vector<CheckIssue> issues;
    for (const Vec2& at : places)
        issues.push_back(CheckIssue{"annular", CheckSeverity::warning, "Annular ring below minimum",
                                    "Ring of 0.10 mm is narrower than the preset's 0.13 mm.", std::string("board.drl"), at});
    f.model().setDfmReport(DFMReport(issues, std::nullopt, Date::now()));
    constexpr int kMarkReachPx = 24;  // the mark's outer ring and ticks around the place
    for (const QSize size : {AppDelegate::contentSize, AppDelegate::minimumContentSize}) {
        f.window().resize(f.window().size() - f.window().centralWidget()->size() + size);
        QTRY_COMPARE(f.window().centralWidget()->size(), size);
        f.delegate->mainView()->presentSheet(Notifications::openChecksSheet2);
        QDialog* sheet = f.delegate->mainView()->sheets()->sheet(Notifications::openChecksSheet2);
        ASSERT_TRUE(sheet);
        AutomationHooks::settleWindow(sheet);
        const auto locates = sheet->findChildren<QPushButton*>("checks.locate");
        ASSERT_EQ(locates.size(), 2u);
        QPoint placed;
        for (std::size_t i = 0; i < 2; ++i) {
            locates[i]->click();
            AutomationHooks::settleWindow(sheet);
            EXPECT_TRUE(sheet->isVisible());
            EXPECT_EQ(f.model().locatedPoint(), places[i]);
            QWidget* canvas = f.model().canvasView();
            const QPointF at = CanvasTransform(QSizeF(canvas->size()), f.model().camera()).toViewPoint(places[i]);
            const QPoint global = canvas->mapToGlobal(at.toPoint());
            const QRect mark(global - QPoint(kMarkReachPx, kMarkReachPx), QSize(2 * kMarkReachPx, 2 * kMarkReachPx));
            EXPECT_TRUE(globalRect(canvas).contains(mark)) << size.width() << " #" << i;
            EXPECT_FALSE(sheet->frameGeometry().intersects(mark)) << size.width() << " #" << i;
            EXPECT_TRUE(globalRect(f.window().centralWidget()).contains(sheet->frameGeometry())) << size.width();
            // Still the span Locate shows, across the part of the canvas the place is shown in.
            EXPECT_LE(f.model().camera().pxPerMM, std::min(canvas->width(), canvas->height()) / AppModel::locateSpanMM);
            if (i == 0) placed = sheet->pos();
            else EXPECT_EQ(sheet->pos(), placed) << "moved again for the next finding";
        }
        sheet->reject();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST(ChecksSheetPlacement, StaysWhereItLeavesRoomElseMovesToTheSideThatLeavesMost) {
    const QRect window(0, 0, 1280, 860), canvas(260, 70, 740, 740);
    // Over the upper part of a large canvas: the part below it is free enough.
    const QRect top(350, 78, 560, 400);
    const auto stay = ChecksSheet::placementBeside(top, canvas, window);
    EXPECT_EQ(stay.sheet, top);
    EXPECT_EQ(stay.free, QRect(260, 478, 740, 332));
    // The smallest window: centred, it leaves a strip too thin to show anything. Against the window's right edge
    // (the inspector is wider than the layer list) it leaves the larger part of the canvas, on the left.
    const QRect smallWindow(0, 0, 940, 640), smallCanvas(220, 70, 480, 520);
    const QRect centred(250, 78, 420, 400);
    const auto moved = ChecksSheet::placementBeside(centred, smallCanvas, smallWindow);
    EXPECT_EQ(moved.sheet, QRect(512, 78, 420, 400));
    EXPECT_EQ(moved.free, QRect(220, 70, 292, 520));
    EXPECT_GE(std::min(moved.free.width(), moved.free.height()), ChecksSheet::leastFreeSidePx);
    // A sheet beside the canvas leaves it all.
    EXPECT_EQ(ChecksSheet::placementBeside(QRect(0, 0, 200, 200), smallCanvas, smallWindow).free, smallCanvas);
}

TEST(MainWindow, AboutAndPrivacySayThisComputer) {
    DelegateFixture f;
    f.action("action.about")->trigger();
    f.action("action.privacy")->trigger();
    const auto& alerts = f.dialogs.services->alerts;
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].message, "Corvane 1.0");
    EXPECT_EQ(alerts[0].informative,
              "Review PCB manufacturing files on your computer before you send them to production.\n\n"
              "Gerber RS-274X \u00B7 Gerber X2 \u00B7 Excellon \u00B7 ZIP packages \u00B7 KiCad \u00B7 ODB++\n"
              "100% local \u2014 no upload, ever.");
    EXPECT_EQ(alerts[1].message, "100% Local PCB Review");
    EXPECT_EQ(alerts[1].informative,
              "PCB manufacturing data is highly sensitive IP.\n\nCorvane never uploads your files. All parsing, "
              "rendering, comparison,\nchecks and reports are generated on this computer. There is no account and\n"
              "no network access in the review pipeline.");
}

TEST(MainWindow, OpenDialogsImportTheChoiceAndCancelDoesNothing) {
    DelegateFixture f;
    QTemporaryDir dir;
    const auto zip = folderPath(dir) / "board.zip";
    writeFile(zip, boardZip());
    auto& services = *f.dialogs.services;

    services.importAnswers.push_back(std::nullopt);
    f.action("action.openFile")->trigger();
    EXPECT_EQ(f.model().statusMessage(), "");

    services.importAnswers.push_back(zip);
    QSignalSpy finished(&f.model(), &AppModel::importFinished);
    static_cast<QAbstractButton*>(f.toolbarWidget("toolbar.open"))->click();
    EXPECT_EQ(f.model().statusMessage(), "Importing board.zip\u2026");
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_NE(f.model().package(), nullptr);
    EXPECT_EQ(f.model().package()->name, "board");

    // The welcome panel's button asks through the delegate, with the menu's wording.
    ASSERT_EQ(services.importMessages.size(), 2u);
    EXPECT_EQ(services.importMessages[0], "Choose a manufacturer package (ZIP), folder of Gerbers, or single file");
    EXPECT_EQ(services.importMessages[1], "Choose a manufacturer package (ZIP), a folder of Gerbers, or a single file");
    Notifications::post(Notifications::corvaneOpen);
    ASSERT_EQ(services.importMessages.size(), 3u);
    EXPECT_EQ(services.importMessages[2], services.importMessages[0]);
}

TEST(MainWindow, CopyScreenshotSaysWhenNothingWasCopied) {
    DelegateFixture f;
    f.action("action.copyShot")->trigger();
    EXPECT_EQ(f.model().statusMessage(), "Nothing copied \u2014 no board on the canvas");
    f.model().setStatusMessage("");
    f.window().findChild<QAbstractButton*>("tool.copyScreenshot")->click();
    EXPECT_EQ(f.model().statusMessage(), "Nothing copied \u2014 no board on the canvas");
}

TEST(MainWindow, ADropImportsTheFirstFileOnly) {
    DelegateFixture f;
    QTemporaryDir dir;
    std::vector<QUrl> urls;
    for (const char* name : {"first.zip", "second.zip", "third.zip"}) {
        writeFile(folderPath(dir) / name, boardZip());
        urls.push_back(QUrl::fromLocalFile(dir.filePath(name)));
    }
    MainWindowView* view = f.delegate->mainView();
    EXPECT_FALSE(view->handleDrop({}));
    EXPECT_EQ(f.model().statusMessage(), "");

    QSignalSpy finished(&f.model(), &AppModel::importFinished);
    EXPECT_TRUE(view->handleDrop(QList<QUrl>(urls.begin(), urls.end())));
    EXPECT_EQ(f.model().statusMessage(), "Importing first.zip\u2026");
    ASSERT_TRUE(finished.wait(10000));
    QTest::qWait(200);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(f.model().package()->sourceFileName, "first.zip");
    EXPECT_TRUE(f.delegate->mainView()->welcomeView()->isHidden());
}

TEST(MainWindow, FilesHandedOverEachStartAnImport) {
    DelegateFixture f;
    QTemporaryDir dir;
    writeFile(folderPath(dir) / "a.zip", boardZip());
    writeFile(folderPath(dir) / "b.zip", boardZip());
    QSignalSpy finished(&f.model(), &AppModel::importFinished);
    f.delegate->openURLs({folderPath(dir) / "a.zip", folderPath(dir) / "b.zip"});
    EXPECT_EQ(f.model().statusMessage(), "Importing b.zip\u2026");
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 10000);
}

} // namespace
} // namespace corvane::testing

namespace corvane::testing {
namespace {

TEST(PackageFileDialog, TakesAFolderInsteadOfEnteringIt) {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("gerbers");
    PackageFileDialog dialog(nullptr, "Choose");
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    dialog.setDirectory(dir.path());
    dialog.selectFile(dir.filePath("gerbers"));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_TRUE(dialog.chosenPath().has_value());
    EXPECT_EQ(*dialog.chosenPath(), folderPath(dir) / "gerbers");

    PackageFileDialog cancelled(nullptr, "Choose");
    cancelled.reject();
    EXPECT_FALSE(cancelled.chosenPath().has_value());
}

// The entry that puts the program in application menus and "Open With" lists: every board type the preview
// program registers, ZIP packages and ODB++ jobs, opened all at once as the command line opens them.
TEST(DesktopEntry, OpensTheBoardTypesZipPackagesAndOdbJobs) {
    const auto lines = [](const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    };
    std::map<QString, QString> entry;
    const QStringList entryLines = lines(QStringLiteral(CORVANE_SOURCE_DIR "/CorvaneApp/corvane.desktop"));
    ASSERT_FALSE(entryLines.isEmpty());
    EXPECT_EQ(entryLines.front(), "[Desktop Entry]");
    for (const QString& line : entryLines.mid(1)) {
        const auto eq = line.indexOf(u'=');
        ASSERT_GT(eq, 0) << line.toStdString();
        EXPECT_TRUE(entry.emplace(line.left(eq), line.mid(eq + 1)).second) << "twice: " << line.toStdString();
    }
    EXPECT_EQ(entry["Type"], "Application");
    EXPECT_EQ(entry["Name"], "Corvane");
    EXPECT_EQ(entry["Exec"], "corvane %F");
    EXPECT_EQ(entry["TryExec"], "corvane");
    ASSERT_TRUE(entry["MimeType"].endsWith(u';'));
    const QStringList types = entry["MimeType"].split(u';', Qt::SkipEmptyParts);
    QStringList expected{"application/zip", "application/x-compressed-tar"};
    for (const QString& line : lines(QStringLiteral(CORVANE_SOURCE_DIR "/Boardpeek/corvane-board.xml"))) {
        const auto at = line.indexOf(QStringLiteral("<mime-type type=\""));
        if (at >= 0) expected << line.mid(at + 17).section(u'"', 0, 0);
    }
    EXPECT_EQ(expected.size(), 5);
    for (const QString& type : expected) EXPECT_TRUE(types.contains(type)) << type.toStdString();
}

TEST(MainWindow, TheSystemsOpenFileRequestImports) {
    DelegateFixture f;
    QTemporaryDir dir;
    writeFile(folderPath(dir) / "handed.zip", boardZip());
    QFileOpenEvent event(dir.filePath("handed.zip"));
    QSignalSpy finished(&f.model(), &AppModel::importFinished);
    QApplication::sendEvent(qApp, &event);
    EXPECT_EQ(f.model().statusMessage(), "Importing handed.zip\u2026");
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(f.model().package()->name, "handed");
}

} // namespace
} // namespace corvane::testing
