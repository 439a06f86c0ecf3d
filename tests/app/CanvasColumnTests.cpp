// The canvas column's own views: tool picker, status bar, welcome panel and the sample loader.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "LookChecks.hpp"
#include "PanelTestSupport.hpp"
#include "WindowTestSupport.hpp"
#include "model/NotificationHub.hpp"
#include "window/StatusBarView.hpp"
#include "window/ToolPicker.hpp"
#include "window/WelcomeView.hpp"

namespace corvane::testing {
namespace {

// Runs the test body with the working directory set to a fresh folder.
struct InFolder {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    InFolder() { QDir::setCurrent(dir.path()); }
    ~InFolder() { QDir::setCurrent(previous); }
};

TEST(ToolPicker, HighlightsExactlyTheCurrentToolAndEveryClickDropsThePendingPoint) {
    PanelFixture f;
    ToolPicker picker(*f.model);
    auto* inspect = child<ToolButton>(&picker, "tool.select");
    auto* measure = child<ToolButton>(&picker, "tool.measureDistance");
    auto* deltaX = child<ToolButton>(&picker, "tool.measureX");
    ASSERT_TRUE(inspect && measure && deltaX);
    EXPECT_EQ(inspect->text(), "Inspect");
    EXPECT_EQ(child<ToolButton>(&picker, "tool.annotateArrow")->text(), "\u2197 Arrow");
    EXPECT_EQ(child<ToolButton>(&picker, "tool.annotateRect")->text(), "\u25AD Rect");
    EXPECT_EQ(child<ToolButton>(&picker, "tool.annotateText")->text(), "T Text");
    EXPECT_EQ(deltaX->text(), "\u0394X");

    auto highlighted = [&] {
        std::vector<std::string> out;
        for (ToolButton* b : picker.findChildren<ToolButton*>())
            if (b->isChecked() && b->font().bold()) out.push_back(b->objectName().toStdString());
            else EXPECT_FALSE(b->isChecked() || b->font().bold()) << b->objectName().toStdString();
        return out;
    };
    EXPECT_EQ(highlighted(), std::vector<std::string>{"tool.select"});

    deltaX->click();
    f.model->setPendingMeasureAnchor(Vec2{1, 2});
    deltaX->click();  // the current tool again still drops the point
    EXPECT_EQ(f.model->tool(), Tool::measureX);
    EXPECT_FALSE(f.model->pendingMeasureAnchor().has_value());
    f.model->setPendingMeasureAnchor(Vec2{1, 2});
    measure->click();
    EXPECT_EQ(f.model->tool(), Tool::measureDistance);
    EXPECT_FALSE(f.model->pendingMeasureAnchor().has_value());
    EXPECT_EQ(highlighted(), std::vector<std::string>{"tool.measureDistance"});

    f.model->setTool(Tool::select);  // as Escape on the canvas does
    EXPECT_EQ(highlighted(), std::vector<std::string>{"tool.select"});
}

TEST(ToolPicker, ClearAnnotationsLeavesMeasurementsAlone) {
    PanelFixture f;
    f.model->loadPackage(sampleBoard());
    const auto measurements = f.model->measurements().size();
    Annotation a;
    a.kind = Annotation::Kind::text;
    a.text = "check";
    f.model->setAnnotations({a});
    ToolPicker picker(*f.model);
    child<QAbstractButton>(&picker, "tool.clearAnnotations")->click();
    EXPECT_TRUE(f.model->annotations().empty());
    EXPECT_EQ(f.model->measurements().size(), measurements);
}

TEST(StatusBar, ReadsThePackageCursorZoomAndMessage) {
    PanelFixture f;
    StatusBarView bar(*f.model);
    EXPECT_EQ(text(child<QLabel>(&bar, "status.package")), "Drop a manufacturer ZIP to start");
    EXPECT_TRUE(child<QLabel>(&bar, "status.fileCount")->isHidden());
    EXPECT_TRUE(child<QLabel>(&bar, "status.cursor")->isHidden());
    EXPECT_EQ(text(child<QLabel>(&bar, "status.zoom")), "8.0\u00D7");

    PCBPackage single = sampleBoard("one");
    single.files.resize(1);
    f.model->loadPackage(std::move(single));
    EXPECT_EQ(text(child<QLabel>(&bar, "status.package")), "one");
    EXPECT_EQ(text(child<QLabel>(&bar, "status.fileCount")), "1 files");

    f.model->setCursorWorld(Vec2{25.4, -2.54});
    EXPECT_FALSE(child<QLabel>(&bar, "status.cursor")->isHidden());
    EXPECT_EQ(text(child<QLabel>(&bar, "status.cursor")), "X 25.400  Y -2.540 mm");
    f.model->setUnits(Units::mil);
    EXPECT_EQ(text(child<QLabel>(&bar, "status.cursor")), "X 1000.0  Y -100.0 mil");
    f.model->setCursorWorld(std::nullopt);
    EXPECT_TRUE(child<QLabel>(&bar, "status.cursor")->isHidden());

    CameraState camera = f.model->camera();
    camera.pxPerMM = 123.456;
    f.model->setCamera(camera);
    EXPECT_EQ(text(child<QLabel>(&bar, "status.zoom")), "123.5\u00D7");

    f.model->setStatusMessage("Layer type of a.gbr set to Top Copper");
    EXPECT_EQ(text(child<QLabel>(&bar, "status.message")), "Layer type of a.gbr set to Top Copper");
}

// A status bar at the foot of a column, as the window lays it out under the canvas.
StatusBarView* statusBarAtTheFoot(QWidget& column, AppModel& model) {
    auto* stack = new QVBoxLayout(&column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addStretch(1);
    auto* bar = new StatusBarView(model, &column);
    bar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    stack->addWidget(bar);
    return bar;
}

TEST(StatusBar, ALongMessageGetsALineOfItsOwnAndTheSwitchesStay) {
    PanelFixture f;
    QWidget column;
    auto* bar = statusBarAtTheFoot(column, *f.model);
    column.resize(480, 300);  // the canvas column of the smallest window
    column.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&column));
    f.model->loadPackage(sampleBoard());
    f.model->setCursorWorld(Vec2{-1234.567, -158.496});
    const std::string failure = "Import failed: Could not import: '/home/someone/Downloads/customer-boards/"
                                "LimeSDR-QPCIe_1v2-fabrication-outputs-final.xml' is an IPC-2581 file, which "
                                "cannot be read.";
    f.model->setStatusMessage(failure);
    AutomationHooks::settleWindow(&column);
    auto* line = child<ui::WrappedLabel>(bar, "status.messageLine");
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->isVisible());
    EXPECT_FALSE(child(bar, "status.message")->isVisible());
    EXPECT_EQ(line->text().toStdString(), failure);
    EXPECT_EQ(line->toolTip().toStdString(), failure);
    // Laid out whole: as many lines as the text needs at that width, all inside the bar.
    EXPECT_GE(line->height(), line->heightForWidth(line->width()));
    EXPECT_GE(line->height(), 2 * line->fontMetrics().lineSpacing());
    EXPECT_LE(line->geometry().bottom(), bar->height());
    for (const char* name : {"status.cursor", "status.zoom", "status.grid", "status.origin", "status.crosshair"}) {
        QWidget* w = child(bar, name);
        EXPECT_TRUE(w->isVisible()) << name;
        EXPECT_GE(w->width(), w->sizeHint().width()) << name;
        EXPECT_LE(w->geometry().right(), bar->width()) << name;
    }
    EXPECT_EQ(lookProblems(bar), std::vector<std::string>{});

    // A message that fits goes back on the line, and the bar is one line high again.
    column.resize(700, 300);
    f.model->setCursorWorld(std::nullopt);
    f.model->setStatusMessage("Ready");
    AutomationHooks::settleWindow(&column);
    EXPECT_FALSE(line->isVisible());
    EXPECT_TRUE(child(bar, "status.message")->isVisible());
    EXPECT_LT(bar->height(), 2 * line->fontMetrics().lineSpacing() + 8);
}

// The pointer coming onto the canvas and leaving it changes the cursor text only: the package name stays in
// view, and nothing else on the bar moves, so the canvas above keeps its size.
TEST(StatusBar, ThePointerMovingOverTheCanvasMovesNothingElse) {
    PanelFixture f;
    QWidget column;
    auto* bar = statusBarAtTheFoot(column, *f.model);
    f.model->loadPackage(sampleBoard("ESP32_RevB"));
    f.model->setStatusMessage("Compare ESP32_RevA \u2192 ESP32_RevB: 12 changes");
    auto* name = child<ui::ElidedLabel>(bar, "status.package");
    for (int width : {480, 740, 1000}) {
        column.resize(width, 300);
        column.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&column));
        std::vector<std::pair<QString, QRect>> seen;
        for (const std::optional<Vec2>& at : {std::optional<Vec2>(), std::optional<Vec2>(Vec2{-123.456, 78.9}),
                                              std::optional<Vec2>(Vec2{5, 5}), std::optional<Vec2>()}) {
            f.model->setCursorWorld(at);
            AutomationHooks::settleWindow(&column);
            EXPECT_TRUE(name->shownText().startsWith("ESP32")) << width << ": " << name->shownText().toStdString();
            seen.emplace_back(name->shownText(), bar->geometry());
            for (const char* part : {"status.message", "status.messageLine", "status.grid", "status.zoom"})
                seen.emplace_back(QString::number(child(bar, part)->isVisible()), child(bar, part)->geometry());
        }
        const std::size_t perMove = seen.size() / 4;
        for (std::size_t i = perMove; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i % perMove]) << width << " #" << i;
    }
    EXPECT_EQ(StatusBarView::warningsText(1), "1 package warning");
    EXPECT_EQ(StatusBarView::warningsText(3), "3 package warnings");
}

TEST(StatusBar, SwitchesWriteTheModelAndFollowIt) {
    PanelFixture f;
    StatusBarView bar(*f.model);
    auto* grid = child<QCheckBox>(&bar, "status.grid");
    auto* origin = child<QCheckBox>(&bar, "status.origin");
    auto* crosshair = child<QCheckBox>(&bar, "status.crosshair");
    EXPECT_TRUE(grid->isChecked() && origin->isChecked() && crosshair->isChecked());
    grid->click();
    EXPECT_FALSE(f.model->showGrid());
    origin->click();
    EXPECT_FALSE(f.model->showOrigin());
    crosshair->click();
    EXPECT_FALSE(f.model->showCrosshair());
    f.model->setShowGrid(true);
    EXPECT_TRUE(grid->isChecked());
}

TEST(WelcomeView, ShowsItsTextsAndAsksForTheOpenDialog) {
    PanelFixture f;
    WelcomeView welcome(*f.model);
    EXPECT_EQ(text(child<QLabel>(&welcome, "welcome.title")), "Corvane");
    EXPECT_EQ(text(child<QLabel>(&welcome, "welcome.subtitle")),
              "Review PCB manufacturing files on your computer\nbefore you send them to production.");
    EXPECT_EQ(text(child<QLabel>(&welcome, "welcome.dropPrompt")), "Drop a manufacturer package .zip here");
    EXPECT_EQ(text(child<QLabel>(&welcome, "welcome.privacy")),
              "100% local PCB review \u2014 your design never leaves this computer.");
    EXPECT_EQ(text(child<QLabel>(&welcome, "welcome.formats")),
              "Gerber RS-274X \u00B7 Gerber X2 \u00B7 Excellon drill \u00B7 ZIP packages\n"
              "KiCad boards (.kicad_pcb) \u00B7 ODB++ jobs (.tgz) \u00B7 folders");
    EXPECT_EQ(child<QLabel>(&welcome, "welcome.symbol")->property("symbol").toString(), "cpu");
    EXPECT_EQ(child<QAbstractButton>(&welcome, "welcome.open")->text(), "Open Package\u2026");
    EXPECT_EQ(child<QAbstractButton>(&welcome, "welcome.sample")->text(), "Open Sample Board (ESP32 Rev A)");

    int opens = 0;
    QObject context;
    Notifications::observe(Notifications::corvaneOpen, &context, [&] { ++opens; });
    child<QAbstractButton>(&welcome, "welcome.open")->click();
    EXPECT_EQ(opens, 1);
}

TEST(WelcomeView, SampleButtonWithoutASampleOnlySaysSo) {
    InFolder folder;
    PanelFixture f;
    WelcomeView welcome(*f.model);
    child<QAbstractButton>(&welcome, "welcome.sample")->click();
    EXPECT_EQ(f.model->statusMessage(), "Sample not found \u2014 run scripts/make_samples.sh first.");
    QTest::qWait(100);
    EXPECT_EQ(f.model->package(), nullptr);
}

TEST(WelcomeView, SampleButtonImportsTheWorkingDirectorysSample) {
    InFolder folder;
    QDir(folder.dir.path()).mkpath("Samples");
    writeFile(folderPath(folder.dir) / "Samples" / "ESP32_RevA.zip", boardZip());
    PanelFixture f;
    WelcomeView welcome(*f.model);
    QSignalSpy finished(f.model.get(), &AppModel::importFinished);
    child<QAbstractButton>(&welcome, "welcome.sample")->click();
    EXPECT_EQ(f.model->statusMessage(), "Importing ESP32_RevA.zip\u2026");
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_NE(f.model->package(), nullptr);
    EXPECT_EQ(f.model->package()->name, "ESP32_RevA");
    const auto candidates = SampleLoader::candidates();
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[1].filename(), "ESP32_RevA.zip");
    EXPECT_EQ(candidates[1].parent_path().filename(), "corvane");
}

} // namespace
} // namespace corvane::testing
