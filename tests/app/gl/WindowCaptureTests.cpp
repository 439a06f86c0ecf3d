// The program on a real display (Xvfb): the GPU snapshot hook, and the window itself grabbed for the gallery.
#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "GLTestSupport.hpp"
#include "WindowTestSupport.hpp"
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

// The real window, empty, with a board and in mil, kept under shots/ for people to look at.
TEST(WindowCapture, GalleryOfTheMainWindow) {
    ScratchSettings settings;
    AppDelegate delegate(settings.open());
    delegate.buildWindow();
    delegate.buildMenu();
    QMainWindow* window = delegate.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->centralWidget()->size(), AppDelegate::contentSize);
    const QString folder = QDir::currentPath() + "/shots";
    QDir().mkpath(folder);
    QTest::qWait(200);
    EXPECT_TRUE(window->grab().save(folder + "/window-empty.png"));

    QTemporaryDir dir;
    writeFile(folderPath(dir) / "probe.zip", probeBoardZip());
    QSignalSpy finished(&delegate.model(), &AppModel::importFinished);
    delegate.openURLs({folderPath(dir) / "probe.zip"});
    ASSERT_TRUE(finished.wait(20000));
    delegate.model().setCursorWorld(Vec2{25.4, 12.7});
    QTest::qWait(300);
    EXPECT_TRUE(window->grab().save(folder + "/window-board.png"));
    delegate.unitsMil();
    QTest::qWait(200);
    EXPECT_TRUE(window->grab().save(folder + "/window-board-mil.png"));
}

} // namespace
