// The program on a real display (Xvfb): the GPU snapshot hook, and the window itself grabbed for the gallery.
#include <algorithm>
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QScreen>
#include <QDir>
#include <QMainWindow>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "GLTestSupport.hpp"
#include "LookChecks.hpp"
#include "RevisionFiles.hpp"
#include "WindowTestSupport.hpp"
#include "model/NotificationHub.hpp"
#include "sheets/ReportSheet.hpp"
#include "sheets/SheetPresenter.hpp"
#include "window/MainWindowView.hpp"
#include "import/PackageImporter.hpp"
#include "model/AppModel.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

#ifdef CORVANE_PROGRAM
// The capture with the window drawn first (a delay) and with the window's frame held for it (none): the same
// fitted board, pixel for pixel.
TEST(WindowCapture, GpuSnapshotOfTheFittedBoard) {
    CORVANE_REQUIRE_GL();
    QTemporaryDir home;
    const QString zip = home.filePath("probe.zip");
    writeFile(zip.toStdString(), probeBoardZip());
    const auto capture = [&](const QString& delay) {
        const QString png = home.filePath("probe-" + delay + ".png");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("CORVANE_IMPORT", zip);
        env.insert("CORVANE_METAL_SNAPSHOT", png);
        env.insert("CORVANE_SCREENSHOT_DELAY", delay);
        env.remove("CORVANE_SCREENSHOT");
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(CORVANE_PROGRAM), {});
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0);
        const QImage image(png);
        const std::string err = process.readAllStandardError().toStdString();
        EXPECT_NE(err.find("metal available: true\n"), std::string::npos) << err;
        const std::string written = "metal snapshot written: " + png.toStdString() + " (" +
                                    std::to_string(image.width()) + "x" + std::to_string(image.height()) + ")\n";
        EXPECT_NE(err.find(written), std::string::npos) << err;
        return image;
    };
    const QImage image = capture("0.5");
    ASSERT_FALSE(image.isNull());
    expectProbeBoard(image);
    QDir().mkpath(QDir::currentPath() + "/shots");
    image.save(QDir::currentPath() + "/shots/gpu-snapshot.png");
    EXPECT_TRUE(capture("0") == image);
}
#endif

// Drawings a CAD tool writes beside the board (user, comment and engineering layers), which the classifier
// leaves without a role: revision 2 of each has more lines, drawing 4 only revision 1 has.
std::vector<VellZipWriter::Entry> userDrawings(int revision) {
    std::vector<VellZipWriter::Entry> out;
    const char* names[] = {"core-Dwgs_User.gbr", "core-Cmts_User.gbr", "core-Eco1_User.gbr", "core-Eco2_User.gbr"};
    for (int i = 0; i < 4; ++i) {
        if (i == 3 && revision == 2) continue;
        std::string text = "%FSLAX46Y46*%\n%MOMM*%\n%ADD10C,0.100*%\nD10*\n";
        const int lines = 2 + (revision == 2 ? i + 1 : 0);
        for (int j = 0; j < lines; ++j) {
            const std::string y = std::to_string(40000000 + 1000000 * (j + 4 * i));
            text += "X0Y" + y + "D02*\nX20000000Y" + y + "D01*\n";
        }
        text += "M02*\n";
        out.push_back({names[i], std::vector<std::uint8_t>(text.begin(), text.end())});
    }
    return out;
}

// The gallery board's top copper with every `every`-th pad left out: revision A, before they were added.
VellZipWriter::Entry topCopperWithoutSomePads(int every) {
    QFile f(QString::fromStdString((std::filesystem::path(CORVANE_TEST_DATA) / "boards" / "particle-core" / "core.GTL").string()));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    std::vector<std::uint8_t> out;
    int flashes = 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.endsWith("D03*") && ++flashes % every == 0) continue;
        out.insert(out.end(), line.begin(), line.end());
        out.push_back('\n');
    }
    return {"core.GTL", out};
}

// A grab of the screen where the window is, so that a sheet open over it is in the picture too.
void keepScreenGrab(QWidget* window, const QString& name) {
    AutomationHooks::settleWindow(window);
    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    QDir().mkpath(QDir::currentPath() + "/shots");
    shot.save(QDir::currentPath() + "/shots/" + name + ".png");
}

// The real window as a user meets it, empty and on a real board, at its default and at its smallest size, in
// mil and comparing two revisions, with Locate and a comparison's report: the grabs are kept under shots/ for
// people to look at and checked as a look would check them. CORVANE_GALLERY_PACKAGE names another package to
// look at (a large one, say).
TEST(WindowCapture, TheWindowAtItsDefaultAndSmallestSizesOnARealBoard) {
    ScratchSettings settings;
    AppDelegate delegate(settings.open());
    delegate.buildWindow();
    delegate.buildMenu();
    QMainWindow* window = delegate.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QWidget* content = window->centralWidget();
    EXPECT_EQ(content->size(), AppDelegate::contentSize);
    QTest::qWait(200);
    expectLooksRight(window, "window-empty");

    QTemporaryDir dir;
    std::filesystem::path package = qEnvironmentVariable("CORVANE_GALLERY_PACKAGE").toStdString();
    if (package.empty()) {
        package = folderPath(dir) / "core.zip";
        writeFile(package, realBoardZip({}, userDrawings(2)));
    }
    AppModel& model = delegate.model();
    QSignalSpy imported(&model, &AppModel::importFinished);
    QSignalSpy checked(&model, &AppModel::checksFinished);
    delegate.openURLs({package});
    ASSERT_TRUE(imported.wait(300000));
    ASSERT_TRUE(imported.at(0).at(0).toBool()) << model.statusMessage();
    ASSERT_TRUE(checked.count() > 0 || checked.wait(300000));
    // A pad in the inspector and the pointer over the board, as after a click.
    for (const auto& f : model.package()->files) {
        if (model.selection() || !f.gerber || !f.layerType.isCopper()) continue;
        for (const auto& o : f.gerber->objects) {
            if (!o.kind.as<PCBObjectKind::Flash>()) continue;
            model.setSelection(HitResult{o, f.fileName, f.layerType, 0});
            model.setCursorWorld(o.bbox.center());
            break;
        }
    }
    EXPECT_TRUE(model.selection());

    const auto showAt = [&](QSize size, const QString& name) {
        window->resize(window->size() - content->size() + size);
        QTRY_COMPARE(content->size(), size);
        QTest::qWait(300);
        expectLooksRight(window, name);
    };
    showAt(AppDelegate::contentSize, "window-board");
    showAt(AppDelegate::minimumContentSize, "window-board-smallest");
    // However many layers, the board summary below them can be scrolled to.
    auto* sidebar = window->findChild<QScrollArea*>("sidebar");
    QWidget* summary = window->findChild<QWidget*>("sidebar.summaryHeader");
    ASSERT_TRUE(sidebar && summary);
    sidebar->ensureWidgetVisible(summary);
    EXPECT_FALSE(summary->visibleRegion().isEmpty());
    sidebar->verticalScrollBar()->setValue(0);
    delegate.unitsMil();
    showAt(AppDelegate::minimumContentSize, "window-board-mil-smallest");
    delegate.unitsMM();

    // The revision without its top paste against the package: a layer only one side has. With
    // CORVANE_GALLERY_BASE the gallery package is compared with that earlier revision instead.
    const std::string gallery = qEnvironmentVariable("CORVANE_GALLERY_PACKAGE").toStdString();
    const std::string earlier = qEnvironmentVariable("CORVANE_GALLERY_BASE").toStdString();
    std::filesystem::path basePath = earlier;
    if (gallery.empty()) {
        auto entries = userDrawings(1);
        entries.push_back(topCopperWithoutSomePads(25));
        basePath = writeAndReturn(folderPath(dir) / "core-revA.zip",
                                  realBoardZip({"core.GBL", "core.GTS", "core.GBS", "core.GBP", "core.GTO", "core.GBO",
                                                "core.TXT"},
                                               std::move(entries)));
    }
    if (basePath.empty()) return;
    const auto base = std::make_shared<const PCBPackage>(PackageImporter().importAny(basePath));
    model.startCompare(base, basePath.filename().string(), model.package());
    QTRY_VERIFY_WITH_TIMEOUT(!model.checksPending() && !model.summaryPending(), 300000);
    // Right after the comparison its differences are in view: the files only one revision has and the first
    // changed layers, without scrolling.
    const auto expectDifferencesInView = [&](const char* size) {
        AutomationHooks::settleWindow(window);
        const QRect view = sidebar->viewport()->rect();
        const auto inView = [&](const QWidget* w) {
            return w && w->isVisible() && view.contains(QRect(w->mapTo(sidebar->viewport(), QPoint(0, 0)), w->size()));
        };
        EXPECT_TRUE(inView(window->findChild<QWidget*>("sidebar.differencesHeader"))) << size;
        const auto unmatched = sidebar->findChildren<QWidget*>("compare.unmatched");
        EXPECT_FALSE(unmatched.empty());
        for (const QWidget* line : unmatched) EXPECT_TRUE(inView(line)) << size;
        const auto& rows = model.compareRows();
        for (std::size_t i = 0; i < rows.size() && i < 3; ++i)
            EXPECT_TRUE(inView(window->findChild<QWidget*>(QString::fromStdString("compareRow:" + rows[i].layerKey))))
                << size << " " << rows[i].layerKey;
    };
    sidebar->verticalScrollBar()->setValue(0);
    showAt(AppDelegate::contentSize, "window-compare");
    expectDifferencesInView("default");
    showAt(AppDelegate::minimumContentSize, "window-compare-smallest");
    expectDifferencesInView("smallest");
    std::vector<std::string> keys;
    for (const auto& row : model.compareRows()) keys.push_back(row.layerKey);
    if (gallery.empty()) {
        EXPECT_EQ(keys.front(), "Top Copper");
        for (const char* drawing : {"core-Dwgs_User.gbr", "core-Cmts_User.gbr", "core-Eco1_User.gbr"})
            EXPECT_NE(std::find(keys.begin(), keys.end(), drawing), keys.end()) << drawing;
    }

    // Locate with the checks sheet open, at both sizes: two findings on pads revision B added (on another
    // package, its first added pads, or changes of any kind).
    std::vector<std::pair<Vec2, std::string>> pads;
    for (const bool anyKind : {false, true})
        for (const auto& row : model.compareRows())
            for (const auto& change : row.added)
                if ((anyKind || change.objectType == "Flash (Pad)") && pads.size() < 2)
                    pads.emplace_back(change.position, row.fileNameB);
    if (gallery.empty()) {
        ASSERT_EQ(pads.size(), 2u);
    }
    // Added to the findings the checks made, so that the sheet and the counts read as they do after a real run.
    std::vector<CheckIssue> issues = model.dfmReport() ? model.dfmReport()->issues : std::vector<CheckIssue>{};
    for (const auto& [at, file] : pads)
        issues.push_back(CheckIssue{"annular", CheckSeverity::warning, "Annular ring below minimum",
                                    "Ring of 0.10 mm is narrower than the preset's 0.13 mm.", file, at});
    model.setDfmReport(DFMReport(issues, std::nullopt, Date::now()));
    constexpr int kMarkReachPx = 24;  // the mark's outer ring and ticks around the place
    for (const QSize size : {AppDelegate::contentSize, AppDelegate::minimumContentSize}) {
        if (pads.empty()) break;
        window->resize(window->size() - content->size() + size);
        QTRY_COMPARE(content->size(), size);
        delegate.mainView()->presentSheet(Notifications::openChecksSheet2);
        QDialog* sheet = delegate.mainView()->sheets()->sheet(Notifications::openChecksSheet2);
        ASSERT_TRUE(sheet);
        AutomationHooks::settleWindow(sheet);
        const auto locates = sheet->findChildren<QPushButton*>("checks.locate");
        ASSERT_FALSE(locates.empty());
        locates.back()->click();
        QTest::qWait(300);
        const QString name = size == AppDelegate::contentSize ? "window-locate" : "window-locate-smallest";
        keepScreenGrab(window, name);
        QWidget* canvas = model.canvasView();
        EXPECT_EQ(model.locatedPoint(), pads.back().first);
        const QPointF at = CanvasTransform(QSizeF(canvas->size()), model.camera()).toViewPoint(pads.back().first);
        const QPoint global = canvas->mapToGlobal(at.toPoint());
        const QRect mark(global - QPoint(kMarkReachPx, kMarkReachPx), QSize(2 * kMarkReachPx, 2 * kMarkReachPx));
        EXPECT_FALSE(sheet->frameGeometry().intersects(mark)) << name.toStdString();
        EXPECT_TRUE(QRect(canvas->mapToGlobal(QPoint(0, 0)), canvas->size()).contains(mark)) << name.toStdString();
        sheet->reject();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The comparison's report, its pages kept as pictures.
    window->resize(window->size() - content->size() + AppDelegate::contentSize);
    QTRY_COMPARE(content->size(), AppDelegate::contentSize);
    model.fitBBox(model.package()->boardBBox());
    const QString pdf = QDir::currentPath() + "/shots/report-compare.pdf";
    ScopedServices services;
    services->reportPathAnswer = [&](QWidget*, const QString&) { return std::optional<std::filesystem::path>(pdf.toStdString()); };
    ReportSheet report(&model);
    QSignalSpy exported(&report, &ReportSheet::exportFinished);
    report.exportPDF();
    ASSERT_TRUE(exported.wait(120000));
    ASSERT_TRUE(exported.front().front().toBool());
    QProcess pages;
    pages.start("pdftoppm", {"-r", "60", "-png", pdf, QDir::currentPath() + "/shots/report-compare"});
    EXPECT_TRUE(pages.waitForFinished(60000));
}

} // namespace
