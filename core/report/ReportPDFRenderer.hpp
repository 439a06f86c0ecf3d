#pragma once
// The PDF review report: its input, its page toolkit and its pages.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "checks/BoardSummaryEngine.hpp"
#include "checks/PackageWarnings.hpp"
#include "PageCanvas.hpp"
#include "render/RasterImage.hpp"
#include "TextEngine.hpp"
#include "model/Model.hpp"

namespace corvane {

struct ReportScreenshot {
    RasterImage image;
    std::string caption;  // one line, centred under the picture
};

struct ReportInput {
    std::string projectName;
    std::string nameA;
    std::optional<std::string> nameB;  // a non-empty name switches the report into compare mode
    PCBPackage packageA;
    std::optional<PCBPackage> packageB;
    std::optional<BoardSummary> summaryA;
    std::optional<BoardSummary> summaryB;
    std::vector<DrillStat> drillStatsA;
    std::vector<DrillStat> drillStatsB;
    std::optional<PackageDiff> diff;
    std::optional<DFMReport> dfm;  // the checks of the board on screen: revision B's in compare mode
    std::vector<ReportScreenshot> screenshots;
    std::vector<std::string> measurements;  // one finished line each
    Date generatedAt;
    // In compare mode, revision A's checks, so that both revisions are reported whole.
    std::optional<DFMReport> dfmA;
};

class ReportPDFError : public CorvaneError {
public:
    enum class Case { contextUnavailable };
    explicit ReportPDFError(Case c) : CorvaneError("The PDF report could not be created."), case_(c) {}
    static ReportPDFError contextUnavailable() { return ReportPDFError(Case::contextUnavailable); }
    Case errorCase() const { return case_; }
    bool operator==(const ReportPDFError& o) const { return case_ == o.case_; }

private:
    Case case_;
};

// A4 portrait in PDF points, y up; text positions are the left ends of baselines.
struct ReportPage {
    static constexpr double width = 595;
    static constexpr double height = 842;
    static constexpr double left = 56;
    static constexpr double right = 539;
    static constexpr double contentWidth = 483;
    static constexpr double centerX = 297.5;
    static constexpr double headerBaseline = 810;
    static constexpr double headerRuleY = 800;
    static constexpr double top = 776;        // cursor after beginPage
    static constexpr double lowest = 64;      // lowest baseline the page-break rule allows
    static constexpr double footerBaseline = 40;
};

// Draws one report; used once. Drawing helpers do nothing visible without a canvas but still move the
// cursor, so layouts can be measured on their own.
class ReportPDFRenderer {
public:
    explicit ReportPDFRenderer(ReportInput input);

    const FontSpec titleFont{true, 30};
    const FontSpec subtitleFont{false, 14};
    const FontSpec headingFont{true, 16};
    const FontSpec subheadingFont{true, 11.5};
    const FontSpec bodyFont{false, 10};
    const FontSpec boldBodyFont{true, 10};
    const FontSpec smallFont{false, 8.5};
    const FontSpec boldSmallFont{true, 8.5};
    const RGBAColor ink{0.1, 0.12, 0.14, 1};
    const RGBAColor midGray{0.42, 0.45, 0.48, 1};
    const RGBAColor lightGray{0.8, 0.82, 0.84, 1};
    const RGBAColor pcbGreen{0.05, 0.38, 0.17, 1};
    const RGBAColor pcbDarkGreen{0.02, 0.26, 0.12, 1};
    const RGBAColor copper{0.82, 0.56, 0.16, 1};
    const double bodyLineH = 14;
    const double smallLineH = 12;
    const double rowH = 17;
    const double captionGap = 26;

    const ReportInput input;
    const bool isCompare;
    PageCanvas* ctx = nullptr;
    std::int64_t pageNumber = 0;
    double cursorY = 0;

    // The whole report as PDF bytes; throws ReportPDFError when Cairo cannot make or finish it.
    std::vector<std::uint8_t> render();
    // Every page in order onto `canvas`, ending the last one; the canvas is released afterwards.
    void drawReport(PageCanvas& canvas);

    void beginPage();
    void drawSectionHeading(std::string_view title, std::optional<std::string_view> subtitle = std::nullopt);
    std::vector<std::string> wrap(std::string_view text, const FontSpec& font, double maxWidth);
    std::string truncate(std::string_view text, const FontSpec& font, double maxWidth);
    static std::string dateString(Date date);
    void drawPCBBadge(Vec2 origin, double width, double height);
    // The size is marked when it is the extent of all layers rather than the outline's.
    static std::vector<std::pair<std::string, std::string>> summaryRows(const std::optional<BoardSummary>& summary,
                                                                        BoardSizeSource sizeSource = BoardSizeSource::outline);
    double drawSummaryTable(double top);
    void drawPackageFileTable(const PCBPackage& package, std::string_view label);
    void drawDrillStats(const std::vector<DrillStat>& stats, std::string_view label);

    void drawCoverPage();
    void drawLayerSummaryPages();
    void drawDifferencePages(const PackageDiff& diff);
    void drawWarningsPage();
    void drawScreenshotPages();
    void drawMeasurementsPage();

    // Measuring with the engine that draws.
    double textWidth(std::string_view text, const FontSpec& font) { return text_.width(font, text); }

private:
    void drawText(std::string_view text, const FontSpec& font, const RGBAColor& color, double x, double y);
    void drawRightAligned(std::string_view text, const FontSpec& font, const RGBAColor& color, double right, double y);
    void drawCentred(std::string_view text, const FontSpec& font, const RGBAColor& color, double y);
    void drawRule(double y, double lineWidth);
    void breakIfBelow(double h);
    void drawWrappedParagraph(std::string_view text, const FontSpec& font, const RGBAColor& color, double maxWidth);
    // One revision's part of the warnings page: its package's warnings, then its check findings by severity.
    void drawRevisionWarnings(const std::optional<DFMReport>& dfm, const PCBPackage* package);
    void drawPackageWarnings(const std::vector<PackageWarning>& warnings);
    void drawCheckGroups(const DFMReport& report);
    // A finding's detail: grey lines wrapped to 469 points from x = 70.
    void drawDetailLines(std::string_view text);
    void drawFooter();

    TextEngine text_;
};

struct ReportGenerator {
    // The finished report as PDF bytes; touches no file.
    std::vector<std::uint8_t> generatePDF(const ReportInput& input) const;
};

} // namespace corvane
