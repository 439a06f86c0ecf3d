// The generated PDF read back with poppler: metadata, page texts, positions of right-aligned texts,
// embedded pictures.
#include <cairo.h>
#include <cstring>
#include <thread>

#include "ReportTestSupport.hpp"
#include "report/CairoPdfCanvas.hpp"

using namespace corvane;
using namespace corvane::reporttest;

namespace {

RecordingCanvas recordPages(const ReportInput& in) {
    ReportPDFRenderer renderer(in);
    RecordingCanvas canvas;
    renderer.drawReport(canvas);
    return canvas;
}

// Every text the layout drew on a page is found in the text poppler extracts from the same page.
void expectEveryTextExtractable(const ReportInput& in) {
    const RecordingCanvas recorded = recordPages(in);
    const PdfFile pdf(ReportGenerator{}.generatePDF(in));
    const auto pages = pdf.pages();
    ASSERT_EQ(pages.size(), recorded.pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::string extracted = withoutSpaces(pages[i]);
        for (const auto* op : recorded.pages[i].texts())
            EXPECT_NE(extracted.find(withoutSpaces(op->text)), std::string::npos)
                << "page " << i + 1 << ": \"" << op->text << "\" not extracted";
    }
}

// The right end (xMax) of the word that follows "Page" in the header of a page, from pdftotext -bbox.
double pageNumberRightEnd(const PdfFile& pdf, int page) {
    const std::string html = pdf.bbox(page);
    const std::size_t pageWord = html.find(">Page</word>");
    if (pageWord == std::string::npos) return -1;
    const std::size_t next = html.find("<word", pageWord);
    const std::size_t xMax = html.find("xMax=\"", next);
    if (next == std::string::npos || xMax == std::string::npos) return -1;
    double v = -1;
    const std::size_t start = xMax + 6;
    parseDouble(std::string_view(html).substr(start, html.find('"', start) - start), v);
    return v;
}

struct Pixel {
    int r, g, b;
};

// One page rasterised by poppler at 72 dpi, so one pixel is one point; row 0 is the top of the page.
class PageRaster {
public:
    PageRaster(const PdfFile& pdf, int page) {
        const auto stem = std::filesystem::temp_directory_path() / ("corvane-report-raster-" + std::to_string(::getpid()));
        const std::string p = std::to_string(page);
        run("pdftoppm -r 72 -png -singlefile -f " + p + " -l " + p + " " + pdf.quoted() + " '" + stem.string() + "'");
        png_ = stem.string() + ".png";
        surface_ = cairo_image_surface_create_from_png(png_.c_str());
    }
    ~PageRaster() {
        cairo_surface_destroy(surface_);
        std::error_code ec;
        std::filesystem::remove(png_, ec);
    }
    bool ok() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
    // The pixel under the page point (x, y), y measured upwards.
    Pixel at(double x, double y) const {
        const int col = static_cast<int>(x), row = static_cast<int>(842 - y);
        const auto* data = cairo_image_surface_get_data(surface_);
        const int stride = cairo_image_surface_get_stride(surface_);
        std::uint32_t v;
        std::memcpy(&v, data + row * stride + col * 4, 4);
        return Pixel{static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)};
    }

private:
    std::string png_;
    cairo_surface_t* surface_ = nullptr;
};

void expectColor(Pixel p, double r, double g, double b) {
    EXPECT_NEAR(p.r, r * 255, 3);
    EXPECT_NEAR(p.g, g * 255, 3);
    EXPECT_NEAR(p.b, b * 255, 3);
}

bool fontCovers(const std::string& hexCodePoint) {
    return !run("fc-list ':charset=" + hexCodePoint + "' family 2>/dev/null").empty();
}

class ReportPDF : public ::testing::Test {
protected:
    void SetUp() override {
        TextEngine engine;
        ASSERT_EQ(engine.resolvedFamily(FontSpec{false, 10}), "Nimbus Sans")
            << "\"Helvetica\" must resolve to Nimbus Sans (install fonts-urw-base35)";
        ASSERT_FALSE(run("command -v pdftotext").empty()) << "poppler-utils is needed for these tests";
    }
    ScopedTimeZone utc_{"UTC"};
};

TEST_F(ReportPDF, MinimalReportHasFourPagesTitleAndCreator) {
    const auto bytes = ReportGenerator{}.generatePDF(minimalInput());
    ASSERT_GT(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "%PDF-");
    const PdfFile pdf(bytes);
    const std::string info = pdf.info();
    EXPECT_EQ(infoField(info, "Title"), "Sensor Board \xE2\x80\x94 PCB Manufacturing Review Report");
    EXPECT_EQ(infoField(info, "Creator"), "Corvane");
    EXPECT_EQ(infoField(info, "Pages"), "4");
    EXPECT_EQ(infoField(info, "Page size"), "595 x 842 pts (A4)");

    const auto pages = pdf.pages();
    ASSERT_EQ(pages.size(), 4u);
    const char* headings[] = {"PCB Manufacturing Review Report", "Layer Summary", "Warnings", "Measurements"};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NE(pages[i].find("Page " + std::to_string(i + 1)), std::string::npos) << pages[i];
        EXPECT_NE(pages[i].find(headings[i]), std::string::npos) << pages[i];
        EXPECT_NEAR(pageNumberRightEnd(pdf, static_cast<int>(i) + 1), 539, 0.5);
    }
    EXPECT_NE(pages[0].find("Generated March 5, 2026 \xC2\xB7 14:07"), std::string::npos);
    EXPECT_NE(pages[0].find("No board summary available."), std::string::npos);
    EXPECT_NE(pages[2].find("No DFM check was run for this report."), std::string::npos);
    EXPECT_NE(pages[3].find("Generated locally by Corvane \xE2\x80\x94 100% on-device, no upload."), std::string::npos);
}

TEST_F(ReportPDF, EveryTextIsExtractableInBothModes) {
    expectEveryTextExtractable(fullInput(false));
    expectEveryTextExtractable(fullInput(true));
}

TEST_F(ReportPDF, LongListsBreakOntoFurtherPages) {
    ReportInput in = fullInput(true);
    for (int i = 0; i < 40; ++i)
        in.packageA.files.push_back(gerberFile("layer-" + std::to_string(i) + ".gbr", LayerType::unknown(), i));
    in.diff->layers.push_back(layerDiff("Inner 1 Copper", 30, 20));
    in.screenshots = {ReportScreenshot{solidImage(1200, 900), "One"}, ReportScreenshot{solidImage(900, 1200), "Two"},
                      ReportScreenshot{solidImage(300, 200), "Three"}};
    for (int i = 0; i < 70; ++i) in.measurements.push_back("Y Delta: " + std::to_string(i) + ".000 mm");
    expectEveryTextExtractable(in);

    const PdfFile pdf(ReportGenerator{}.generatePDF(in));
    const auto pages = pdf.pages();
    ASSERT_GE(pages.size(), 9u);
    EXPECT_NE(pages[2].find("layer-39.gbr"), std::string::npos);  // the file table ran onto page 3
    std::size_t screenshotsPage = 0;
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (pages[i].find("Screenshots") != std::string::npos && !screenshotsPage) screenshotsPage = i;
    ASSERT_GT(screenshotsPage, 0u);
    EXPECT_NE(pages[screenshotsPage + 1].find("Screenshots (continued)"), std::string::npos);
    EXPECT_NE(pages.back().find("Generated locally by Corvane"), std::string::npos);
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_NEAR(pageNumberRightEnd(pdf, static_cast<int>(i) + 1), 539, 0.5) << "page " << i + 1;

    // Each picture is embedded once, at its own resolution.
    const std::string images = run("pdfimages -list " + pdf.quoted() + " 2>/dev/null");
    EXPECT_NE(images.find(" 1200   900 "), std::string::npos) << images;
    EXPECT_NE(images.find("  900  1200 "), std::string::npos) << images;
    EXPECT_NE(images.find("  300   200 "), std::string::npos) << images;
}

TEST_F(ReportPDF, ForeignNamesNeverBlankTheRestOfTheReport) {
    ReportInput in = fullInput(true);
    const std::string cjk = "\xE5\x9F\xBA\xE6\x9D\xBF";  // 基板
    in.projectName = cjk + " board \xC3\x28 rev";          // CJK and an invalid byte pair
    in.nameA = "A\xFF";
    in.packageA.files.push_back(gerberFile(cjk + "\xFE\xFF-top.gtl", LayerType::copper(CopperLayerID::top()), 5));
    in.measurements.push_back("Note\x01with\x1b" "controls");
    const RecordingCanvas recorded = recordPages(in);
    const PdfFile pdf(ReportGenerator{}.generatePDF(in));
    const auto pages = pdf.pages();
    ASSERT_EQ(pages.size(), recorded.pages.size());
    EXPECT_EQ(infoField(pdf.info(), "Title"),
              cjk + " board \xEF\xBF\xBD( rev \xE2\x80\x94 PCB Manufacturing Review Report");
    EXPECT_NE(pages[1].find("Layer Summary"), std::string::npos);
    EXPECT_NE(pages[1].find("-top.gtl"), std::string::npos);
    EXPECT_NE(pages[1].find("Revision A \xE2\x80\x94 A\xEF\xBF\xBD"), std::string::npos);
    EXPECT_NE(pages.back().find("Note with controls"), std::string::npos);
    EXPECT_NE(pages.back().find("Generated locally by Corvane"), std::string::npos);
    // The CJK glyphs come from whichever installed face covers them; without one they show as boxes.
    if (fontCovers("57fa")) {
        EXPECT_NE(pages[1].find(cjk), std::string::npos);
    }
}

TEST_F(ReportPDF, EmptyPackageInCompareMode) {
    ReportInput in = minimalInput();
    in.nameB = "RevB";
    in.packageB = PCBPackage{};
    const PdfFile pdf(ReportGenerator{}.generatePDF(in));
    const auto pages = pdf.pages();
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_NE(pages[0].find("Revision A: RevA \xE2\x86\x92 Revision B: RevB"), std::string::npos) << pages[0];
    EXPECT_NE(pages[1].find("No files."), std::string::npos);
    EXPECT_NE(pages[1].find("Revision B \xE2\x80\x94 RevB"), std::string::npos);
    expectEveryTextExtractable(in);
}

TEST_F(ReportPDF, ShapesAndPicturesLandWhereTheLayoutPutsThem) {
    ReportInput in = minimalInput();
    in.screenshots = {ReportScreenshot{solidImage(1200, 900, 0xFF336699u), "View"}};
    const PdfFile pdf(ReportGenerator{}.generatePDF(in));
    const PageRaster cover(pdf, 1);
    ASSERT_TRUE(cover.ok());
    expectColor(cover.at(10, 10), 1, 1, 1);
    expectColor(cover.at(61, 692), 0.05, 0.38, 0.17);   // badge board, left of the traces
    expectColor(cover.at(150, 674), 0.02, 0.26, 0.12);  // chip, below its lettering
    expectColor(cover.at(56 + 0.86 * 190, 626 + 0.2 * 132), 0.82, 0.56, 0.16);  // a pad
    expectColor(cover.at(61, 621), 1, 1, 1);            // just below the badge
    const PageRaster shots(pdf, 4);
    ASSERT_TRUE(shots.ok());
    // The picture fills 748 − 304 … 748 vertically, centred horizontally.
    expectColor(shots.at(297, 600), 0.2, 0.4, 0.6);
    expectColor(shots.at(297, 452), 0.2, 0.4, 0.6);
    expectColor(shots.at(297, 754), 1, 1, 1);
    expectColor(shots.at(120, 438), 1, 1, 1);            // below the frame, beside the caption
}

TEST_F(ReportPDF, ReportsCanBeMadeOnSeveralThreadsAtOnce) {
    std::vector<std::vector<std::uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < results.size(); ++i)
        threads.emplace_back([&results, i] { results[i] = ReportGenerator{}.generatePDF(fullInput(i % 2 == 0)); });
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < results.size(); ++i) {
        const PdfFile pdf(results[i]);
        EXPECT_EQ(infoField(pdf.info(), "Pages"), std::to_string(recordPages(fullInput(i % 2 == 0)).pages.size()));
    }
}

} // namespace

namespace {

TEST(CairoPdfCanvas, ADrawingErrorFailsTheDocumentInsteadOfBlankingIt) {
    TextEngine engine;
    {
        CairoPdfCanvas canvas(engine, 595, 842, {"T", "C"});
        ASSERT_TRUE(canvas.ok());
        canvas.drawText("fine", FontSpec{}, RGBAColor{}, 56, 700);
        canvas.endPage();
        const auto bytes = canvas.finish(false);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(infoField(PdfFile(*bytes).info(), "Pages"), "1");
    }
    {
        // The renderer never hands the canvas invalid UTF-8; if anything did, Cairo's sticky error
        // must surface instead of a document whose later pages are silently empty.
        CairoPdfCanvas canvas(engine, 595, 842, {"T", "C"});
        canvas.drawText("bad \xFF\xFE bytes", FontSpec{}, RGBAColor{}, 56, 700);
        canvas.endPage();
        canvas.drawText("second page", FontSpec{}, RGBAColor{}, 56, 700);
        EXPECT_FALSE(canvas.finish(true).has_value());
    }
}

} // namespace
