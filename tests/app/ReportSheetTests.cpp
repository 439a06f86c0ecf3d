#include <gtest/gtest.h>

#include <cstdio>

#include <QCheckBox>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "LookChecks.hpp"
#include "PanelTestSupport.hpp"
#include "RevisionFiles.hpp"
#include "WindowTestSupport.hpp"
#include "CanvasTestSupport.hpp"
#include "sheets/ReportSheet.hpp"

using namespace corvane;
using namespace corvane::testing;

namespace {

std::string pdfText(const fs::path& pdf) {
    QProcess p;
    p.start("pdftotext", {QString::fromStdString(pdf.string()), "-"});
    if (!p.waitForFinished(30000)) return "<pdftotext failed>";
    return p.readAllStandardOutput().toStdString();
}

struct ReportFixture : PanelFixture {
    QTemporaryDir out;
    ScopedServices services;
    std::vector<QString> proposed;
    fs::path target = fs::path(out.path().toStdString()) / "Rev3-Report.pdf";

    ReportFixture() {
        model->loadPackage(sampleBoard("Rev3"));
        services->reportPathAnswer = [this](QWidget*, const QString& name) {
            proposed.push_back(name);
            return std::optional<fs::path>(target);
        };
        // A canvas of some size, so the screenshot can be drawn.
        model->canvasSizeChanged(QSizeF(400, 300));
    }
};

} // namespace

TEST(ReportSheet, ExportProposesTheNameWritesOpensAndCloses) {
    ReportFixture f;
    f.model->addMeasurement(f.model->measureEngine().distanceMeasurement({0, 0}, {3, 4}, MeasurementKind::pointToPoint, Units::mm));
    QPointer<ReportSheet> sheet = new ReportSheet(f.model.get());
    sheet->show();
    QSignalSpy finished(sheet.data(), &ReportSheet::exportFinished);
    child<QPushButton>(sheet.data(), "report.export")->click();
    EXPECT_TRUE(sheet->busy());
    EXPECT_FALSE(child<QPushButton>(sheet.data(), "report.export")->isEnabled());
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(finished.front().front().toBool());
    EXPECT_EQ(f.proposed, (std::vector<QString>{"Rev3-Report.pdf"}));
    EXPECT_EQ(f.services->opened, (std::vector<fs::path>{f.target}));
    EXPECT_EQ(text(child<QLabel>(sheet.data(), "report.result")), "Saved Rev3-Report.pdf");
    EXPECT_FALSE(sheet->isVisible());
    // The sheet has closed: the status line says where the report went.
    EXPECT_EQ(f.model->statusMessage(), "Report saved to " + f.target.string());
    const std::string body = pdfText(f.target);
    EXPECT_NE(body.find("Screenshots"), std::string::npos);
    EXPECT_NE(body.find("Rev3 \u2014 top view"), std::string::npos);
    EXPECT_NE(body.find("Point \u2192 Point: "), std::string::npos) << body;
}

TEST(ReportSheet, BothOptionsOffLeaveOutPictureAndMeasurements) {
    ReportFixture f;
    f.model->addMeasurement(f.model->measureEngine().distanceMeasurement({0, 0}, {3, 4}, MeasurementKind::pointToPoint, Units::mm));
    ReportSheet sheet(f.model.get());
    child<QCheckBox>(&sheet, "report.includeScreenshot")->setChecked(false);
    child<QCheckBox>(&sheet, "report.includeMeasurements")->setChecked(false);
    QSignalSpy finished(&sheet, &ReportSheet::exportFinished);
    sheet.exportPDF();
    ASSERT_TRUE(finished.wait(30000));
    const std::string body = pdfText(f.target);
    EXPECT_NE(body.find("No measurements recorded."), std::string::npos) << body;
    EXPECT_EQ(body.find("Screenshots"), std::string::npos);
}

TEST(ReportSheet, CancelledChooserLeavesTheSheetIdle) {
    ReportFixture f;
    f.services->reportPathAnswer = [](QWidget*, const QString&) { return std::optional<fs::path>(); };
    ReportSheet sheet(f.model.get());
    sheet.show();
    sheet.exportPDF();
    EXPECT_FALSE(sheet.busy());
    EXPECT_TRUE(child<QPushButton>(&sheet, "report.export")->isEnabled());
    EXPECT_TRUE(child(&sheet, "report.result")->isHidden());
    EXPECT_TRUE(child(&sheet, "report.error")->isHidden());
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_FALSE(fs::exists(f.target));
}

TEST(ReportSheet, FailedWriteShowsTheErrorAndOpensNothing) {
    ReportFixture f;
    f.target = fs::path(f.out.path().toStdString()) / "missing" / "folder" / "Rev3-Report.pdf";
    ReportSheet sheet(f.model.get());
    sheet.show();
    QSignalSpy finished(&sheet, &ReportSheet::exportFinished);
    sheet.exportPDF();
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_FALSE(finished.front().front().toBool());
    EXPECT_EQ(text(child<QLabel>(&sheet, "report.error")).rfind("Failed: ", 0), 0u);
    EXPECT_GT(text(child<QLabel>(&sheet, "report.error")).size(), 8u);
    EXPECT_TRUE(f.services->opened.empty());
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_FALSE(sheet.busy());
}


// Exports the report of the fixture's board and gives the text of the PDF, or "" when the export failed.
static std::string exportedText(ReportFixture& f) {
    ReportSheet sheet(f.model.get());
    QSignalSpy finished(&sheet, &ReportSheet::exportFinished);
    sheet.exportPDF();
    if (!finished.wait(30000) || !finished.front().front().toBool()) {
        ADD_FAILURE() << "the report was not exported";
        return {};
    }
    return pdfText(f.target);
}

TEST(ReportSheet, DisabledWithoutABoardAndCompareModeNamesBothRevisions) {
    PanelFixture empty;
    ReportSheet idle(empty.model.get());
    EXPECT_FALSE(child<QPushButton>(&idle, "report.export")->isEnabled());
    EXPECT_EQ(ReportSheet::proposedName(*empty.model), "Corvane-Report.pdf");

    ReportFixture f;
    PCBPackage rev2 = sampleBoard("Rev2");
    rev2.warnings = {"Not read: Rev2-assembly.pdf"};
    auto base = std::make_shared<const PCBPackage>(std::move(rev2));
    f.model->startCompare(base, "", f.model->package());
    // Both revisions whole: each one's summary, drills and checks, and revision A's package warning.
    QTRY_VERIFY_WITH_TIMEOUT(!f.model->checksPending(), 20000);
    const std::string body = exportedText(f);
    // Without a base name revision A goes by its own package's name, as in the sidebar, never by B's.
    EXPECT_NE(body.find("Revision A \u2014 Rev2"), std::string::npos) << body;
    EXPECT_EQ(body.find("Revision A \u2014 Rev3"), std::string::npos) << body;
    EXPECT_EQ(body.find("No drills."), std::string::npos) << body;
    EXPECT_EQ(body.find("No DFM check was run"), std::string::npos) << body;
    EXPECT_NE(body.find("Package warnings (1)"), std::string::npos) << body;
    EXPECT_NE(body.find("File: Rev2-assembly.pdf"), std::string::npos) << body;
    EXPECT_NE(body.find("Revision B \u2014 Rev3"), std::string::npos) << body;
}

// The count of pixels of an image the PDF holds that are within a few levels of `color`.
std::size_t pixelsLike(const fs::path& pdf, const QColor& color) {
    QTemporaryDir dir;
    QProcess p;
    p.start("pdfimages", {"-png", QString::fromStdString(pdf.string()), dir.filePath("image")});
    if (!p.waitForFinished(30000)) return 0;
    std::size_t n = 0;
    for (const QString& name : QDir(dir.path()).entryList({"image-*.png"})) {
        const QImage image(dir.filePath(name));
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (colourDistance(image.pixelColor(x, y), color) <= 12) ++n;
    }
    return n;
}

// A comparison's report pictures what the canvas shows, its differences, and its caption says so and from
// which side; a single board's says the side it is seen from.
TEST(ReportSheet, ThePictureIsTheCanvasAndItsCaptionSaysWhatAndFromWhichSide) {
    ReportFixture f;
    CameraState camera = f.model->camera();
    camera.mirrored = true;
    f.model->setCamera(camera);
    EXPECT_EQ(ReportSheet::screenshotCaption(*f.model).toStdString(), "Rev3 \u2014 bottom view");
    PCBPackage rev2 = sampleBoard("Rev2");
    rev2.files[0].gerber->objects.pop_back();  // revision B adds the pad
    f.model->startCompare(std::make_shared<const PCBPackage>(std::move(rev2)), "Rev2.zip", f.model->package());
    f.model->setCamera(camera);
    const std::string caption = "Rev2 \u2192 Rev3 \u2014 differences, bottom view (grey in both, red only in A, green only in B)";
    EXPECT_EQ(ReportSheet::screenshotCaption(*f.model).toStdString(), caption);
    const std::string body = exportedText(f);
    EXPECT_NE(body.find("Rev2 \u2192 Rev3 \u2014 differences, bottom view"), std::string::npos) << body;
    EXPECT_EQ(body.find("top view"), std::string::npos) << body;
    // The added pad, in the differences' green, is in the picture.
    EXPECT_GT(pixelsLike(f.target, over(SystemColors::green(), 0.95, SystemColors::canvasBackground())), 40u);
}

TEST(Gallery, ReportSheetLooksRight) {
    ReportFixture f;
    ReportSheet sheet(f.model.get());
    sheet.show();
    expectLooksRight(&sheet, "sheet-report");
}
