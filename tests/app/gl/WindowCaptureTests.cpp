// The program on a real display (Xvfb): the GPU snapshot hook, and the window itself grabbed for the gallery.
#include <filesystem>
#include <memory>

#include <QApplication>
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
#include "WindowTestSupport.hpp"
#include "import/PackageImporter.hpp"
#include "model/AppModel.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

#ifdef CORVANE_PROGRAM
TEST(WindowCapture, GpuSnapshotOfTheFittedBoard) {
    CORVANE_REQUIRE_GL();
    QTemporaryDir home;
    const QString zip = home.filePath("probe.zip"), png = home.filePath("probe.png");
    writeFile(zip.toStdString(), probeBoardZip());
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("CORVANE_IMPORT", zip);
    env.insert("CORVANE_METAL_SNAPSHOT", png);
    env.insert("CORVANE_SCREENSHOT_DELAY", "0.5");
    env.remove("CORVANE_SCREENSHOT");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(CORVANE_PROGRAM), {});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_NE(err.find("metal available: true\n"), std::string::npos) << err;
    const std::string written = "metal snapshot written: " + png.toStdString() + " (" + std::to_string(image.width()) +
                                "x" + std::to_string(image.height()) + ")\n";
    EXPECT_NE(err.find(written), std::string::npos) << err;
    expectProbeBoard(image);
    QDir().mkpath(QDir::currentPath() + "/shots");
    image.save(QDir::currentPath() + "/shots/gpu-snapshot.png");
}
#endif

// The real window as a user meets it, empty and on a real board, at its default and at its smallest size, in
// mil and comparing two revisions: the grabs are kept under shots/ for people to look at and checked as a look
// would check them. CORVANE_GALLERY_PACKAGE names another package to look at (a large one, say).
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
        writeFile(package, realBoardZip());
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
    if (gallery.empty())
        basePath = writeAndReturn(folderPath(dir) / "core-revA.zip",
                                  realBoardZip({"core.GTL", "core.GBL", "core.GTS", "core.GBS", "core.GBP", "core.GTO",
                                                "core.GBO", "core.TXT"}));
    if (!basePath.empty()) {
        const auto base = std::make_shared<const PCBPackage>(PackageImporter().importAny(basePath));
        model.startCompare(base, basePath.filename().string(), model.package());
        QTRY_VERIFY_WITH_TIMEOUT(!model.checksPending() && !model.summaryPending(), 300000);
        showAt(AppDelegate::contentSize, "window-compare");
        showAt(AppDelegate::minimumContentSize, "window-compare-smallest");
    }
}

} // namespace
