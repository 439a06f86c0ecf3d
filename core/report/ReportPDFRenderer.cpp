#include "ReportPDFRenderer.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <tuple>

#include "CairoPdfCanvas.hpp"

namespace corvane {

namespace {

std::string pad2(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

std::string plural(std::int64_t n, std::string_view one, std::string_view many) {
    return formatInt(n) + std::string(n == 1 ? one : many);
}

// The number of drawable objects of a file without building the object list.
std::int64_t objectCount(const PackageFile& file) {
    std::int64_t n = 0;
    if (file.gerber) n += static_cast<std::int64_t>(file.gerber->objects.size());
    if (file.drill) n += file.drill->totalCount();
    return n;
}

std::string platingText(const DrillStat& row) {
    switch (row.plated) {
    case Plating::pth: return row.slot ? "PTH slot" : "PTH";
    case Plating::npth: return row.slot ? "NPTH slot" : "NPTH";
    case Plating::unknown: break;
    }
    return row.slot ? "Slot" : "Drill";
}

// "44 / 4", and the holes whose plating the drill files do not give, so that "0 / 0" never stands for
// 169 holes of unknown plating.
std::string platingCountsText(const BoardSummary& s) {
    std::string text = formatInt(s.pthCount) + " / " + formatInt(s.npthCount);
    if (const std::int64_t unstated = BoardSummaryEngine::unstatedPlatingCount(s); unstated > 0)
        text += " (" + formatInt(unstated) + " not stated)";
    return text;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Cairo cannot make an image surface with a side beyond 32767 pixels.
constexpr int maxImageSide = 32767;

bool usableImage(const RasterImage& image) {
    return image.width >= 1 && image.height >= 1 && image.width <= maxImageSide && image.height <= maxImageSide &&
           image.pixels &&
           image.pixels->size() >= static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
}

} // namespace

ReportPDFRenderer::ReportPDFRenderer(ReportInput in)
    : input(std::move(in)), isCompare(input.nameB.has_value() && !input.nameB->empty()) {}

// ---- text primitives -------------------------------------------------------------------------

void ReportPDFRenderer::drawText(std::string_view text, const FontSpec& font, const RGBAColor& color, double x, double y) {
    if (!ctx) return;
    ctx->drawText(TextEngine::singleLine(text), font, color, x, y);
}

void ReportPDFRenderer::drawRightAligned(std::string_view text, const FontSpec& font, const RGBAColor& color,
                                         double right, double y) {
    if (!ctx) return;
    const std::string clean = TextEngine::singleLine(text);
    ctx->drawText(clean, font, color, right - text_.width(font, clean), y);
}

void ReportPDFRenderer::drawCentred(std::string_view text, const FontSpec& font, const RGBAColor& color, double y) {
    if (!ctx) return;
    const std::string clean = TextEngine::singleLine(text);
    ctx->drawText(clean, font, color, ReportPage::centerX - text_.width(font, clean) / 2, y);
}

void ReportPDFRenderer::drawRule(double y, double lineWidth) {
    if (!ctx) return;
    ctx->strokePolyline({Vec2{ReportPage::left, y}, Vec2{ReportPage::right, y}}, lightGray, lineWidth, LineCap::butt);
}

void ReportPDFRenderer::breakIfBelow(double h) {
    if (cursorY - h < ReportPage::lowest) beginPage();
}

// ---- page frame ------------------------------------------------------------------------------

void ReportPDFRenderer::beginPage() {
    if (pageNumber >= 1 && ctx) ctx->endPage();
    if (ctx) ctx->beginPage();
    pageNumber += 1;
    drawText(input.projectName, smallFont, midGray, ReportPage::left, ReportPage::headerBaseline);
    drawRightAligned("Page " + formatInt(pageNumber), smallFont, midGray, ReportPage::right, ReportPage::headerBaseline);
    drawRule(ReportPage::headerRuleY, 0.6);
    cursorY = ReportPage::top;
}

void ReportPDFRenderer::drawSectionHeading(std::string_view title, std::optional<std::string_view> subtitle) {
    drawText(title, headingFont, ink, ReportPage::left, cursorY);
    cursorY -= 24;
    if (subtitle) {
        drawText(*subtitle, bodyFont, midGray, ReportPage::left, cursorY);
        cursorY -= 18;
    }
    cursorY -= 4;
}

// ---- text layout -----------------------------------------------------------------------------

std::vector<std::string> ReportPDFRenderer::wrap(std::string_view text, const FontSpec& font, double maxWidth) {
    const std::string valid = isValidUTF8(text) ? std::string(text) : sanitizeUTF8(text);
    std::vector<std::string> lines;
    std::size_t paraStart = 0;
    while (true) {
        const std::size_t paraEnd = std::min(valid.find('\n', paraStart), valid.size());
        const std::string_view para(valid.data() + paraStart, paraEnd - paraStart);
        std::string line;
        std::size_t wordStart = 0;
        while (true) {
            const std::size_t wordEnd = std::min(para.find(' ', wordStart), para.size());
            const std::string_view word = para.substr(wordStart, wordEnd - wordStart);
            std::string candidate = line.empty() ? std::string(word) : line + " " + std::string(word);
            if (line.empty() || text_.width(font, candidate) <= maxWidth) {
                line = std::move(candidate);
            } else {
                lines.push_back(std::move(line));
                line = std::string(word);
            }
            if (wordEnd >= para.size()) break;
            wordStart = wordEnd + 1;
        }
        lines.push_back(std::move(line));
        if (paraEnd >= valid.size()) break;
        paraStart = paraEnd + 1;
    }
    return lines;
}

std::string ReportPDFRenderer::truncate(std::string_view text, const FontSpec& font, double maxWidth) {
    return text_.truncate(text, font, maxWidth);
}

std::string ReportPDFRenderer::dateString(Date date) {
    static constexpr const char* months[] = {"January", "February", "March",     "April",   "May",      "June",
                                             "July",    "August",   "September", "October", "November", "December"};
    const double unixSeconds = std::floor(date.timeIntervalSince1970());
    // About ±30,000 years: far inside time_t and the broken-down year.
    if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1.0e12) return {};
    const auto seconds = static_cast<std::time_t>(unixSeconds);
    tzset();
    std::tm local{};
    if (!localtime_r(&seconds, &local) || local.tm_mon < 0 || local.tm_mon > 11) return {};
    std::string year = std::to_string(local.tm_year + 1900);
    while (year.size() < 4) year.insert(0, "0");
    return std::string(months[local.tm_mon]) + " " + std::to_string(local.tm_mday) + ", " + year + " \xC2\xB7 " +
           pad2(local.tm_hour) + ":" + pad2(local.tm_min);
}

// ---- drawings and tables ---------------------------------------------------------------------

void ReportPDFRenderer::drawPCBBadge(Vec2 origin, double w, double h) {
    if (!ctx) return;
    const double x = origin.x, y = origin.y;
    ctx->fillRoundedRect(PageRect{x, y, w, h}, 8, pcbGreen);
    ctx->strokePolyline({{x + 14, y + 0.74 * h}, {x + 0.42 * w, y + 0.74 * h}, {x + 0.6 * w, y + 0.56 * h},
                         {x + w - 14, y + 0.56 * h}},
                        copper, 2, LineCap::round);
    ctx->strokePolyline({{x + 14, y + 0.38 * h}, {x + 0.28 * w, y + 0.38 * h}, {x + 0.42 * w, y + 0.2 * h},
                         {x + w - 14, y + 0.2 * h}},
                        copper, 2, LineCap::round);
    ctx->fillRect(PageRect{x + 0.4 * w, y + 0.34 * h, 0.3 * w, 0.3 * h}, pcbDarkGreen);
    drawText("Corvane", boldSmallFont, copper, x + 0.4 * w + 4, y + 0.34 * h + 0.15 * h - 3.5);
    for (const Vec2 pad : {Vec2{x + 0.16 * w, y + 0.74 * h}, Vec2{x + 0.16 * w, y + 0.2 * h},
                           Vec2{x + 0.86 * w, y + 0.56 * h}, Vec2{x + 0.86 * w, y + 0.2 * h},
                           Vec2{x + 0.3 * w, y + 0.55 * h}})
        ctx->fillCircle(pad, 9, copper);
}

std::vector<std::pair<std::string, std::string>> ReportPDFRenderer::summaryRows(const std::optional<BoardSummary>& summary,
                                                                                BoardSizeSource sizeSource) {
    if (!summary) return {};
    const BoardSummary& s = *summary;
    auto mm3 = [](const std::optional<double>& v) { return v ? formatFixed(*v, 3) + " mm" : std::string("\xE2\x80\x94"); };
    std::string minSpace = mm3(s.minSpaceMM);
    if (s.minSpaceMM && !s.minSpaceReliable) minSpace += " (estimated)";
    std::string size = formatFixed(s.widthMM, 1) + " \xC3\x97 " + formatFixed(s.heightMM, 1) + " mm";
    // Without an outline the size is the extent of the copper, masks and holes: not the edge of the board.
    if (sizeSource == BoardSizeSource::layerExtent) size += " (extent of all layers)";
    return {
        {"Board size", std::move(size)},
        {"Copper layers", formatInt(s.copperLayerCount)},
        {"Pads", formatInt(s.padCount)},
        {"Drill hits", formatInt(s.drillCount)},
        {"PTH / NPTH", platingCountsText(s)},
        {"Min track", mm3(s.minTrackMM)},
        {"Min space", minSpace},
        {"Smallest drill", mm3(s.smallestDrillMM)},
    };
}

double ReportPDFRenderer::drawSummaryTable(double top) {
    double y = top;
    drawText("Board Summary", headingFont, ink, ReportPage::left, y);
    y -= 24;
    if (!input.summaryA && !input.summaryB) {
        drawText("No board summary available.", bodyFont, midGray, ReportPage::left, y);
        return y - 14;
    }
    const auto rowsA = summaryRows(input.summaryA, BoardSummaryEngine::sizeSource(input.packageA));
    const auto rowsB = summaryRows(input.summaryB, input.packageB ? BoardSummaryEngine::sizeSource(*input.packageB)
                                                                  : BoardSizeSource::outline);
    if (isCompare) {
        drawRightAligned(truncate("Revision A: " + input.nameA, boldSmallFont, 150), boldSmallFont, midGray, 330, y);
        drawRightAligned(truncate("Revision B: " + input.nameB.value_or(""), boldSmallFont, 150), boldSmallFont,
                         midGray, ReportPage::right, y);
        y -= 18;
    }
    const std::size_t rows = std::max(rowsA.size(), rowsB.size());
    for (std::size_t i = 0; i < rows; ++i) {
        const std::string label = i < rowsA.size() ? rowsA[i].first : i < rowsB.size() ? rowsB[i].first : "";
        drawText(label, boldBodyFont, ink, ReportPage::left, y);
        if (!isCompare) {
            if (i < rowsA.size()) drawText(rowsA[i].second, bodyFont, ink, 246, y);
        } else {
            if (i < rowsA.size()) drawRightAligned(rowsA[i].second, bodyFont, ink, 330, y);
            if (i < rowsB.size()) drawRightAligned(rowsB[i].second, bodyFont, ink, ReportPage::right, y);
        }
        drawRule(y - 5, 0.4);
        y -= 19;
    }
    return y;
}

void ReportPDFRenderer::drawPackageFileTable(const PCBPackage& package, std::string_view label) {
    breakIfBelow(42);
    drawText(label, subheadingFont, ink, ReportPage::left, cursorY);
    cursorY -= 18;
    if (package.files.empty()) {
        drawText("No files.", bodyFont, midGray, ReportPage::left, cursorY);
        cursorY -= 14;
        return;
    }
    for (const auto& file : package.files) {
        breakIfBelow(rowH);
        if (ctx) {
            drawText(truncate(file.fileName, bodyFont, 205), bodyFont, ink, ReportPage::left, cursorY);
            drawText(truncate(file.layerType.displayName(), bodyFont, 170), bodyFont, midGray, 271, cursorY);
            drawRightAligned(plural(objectCount(file), " object", " objects"), bodyFont, midGray, ReportPage::right,
                             cursorY);
            drawRule(cursorY - 4, 0.35);
        }
        cursorY -= rowH;
    }
}

void ReportPDFRenderer::drawDrillStats(const std::vector<DrillStat>& stats, std::string_view label) {
    breakIfBelow(28);
    drawText(label, boldBodyFont, ink, ReportPage::left, cursorY);
    cursorY -= 16;
    if (stats.empty()) {
        drawText("No drills.", bodyFont, midGray, 70, cursorY);
        cursorY -= 14;
        return;
    }
    for (const auto& row : stats) {
        breakIfBelow(bodyLineH);
        drawText("\xC3\x98" + formatFixed(row.diameterMM, 3) + " mm " + platingText(row) + " \xC3\x97 " +
                     formatInt(row.count),
                 bodyFont, ink, 70, cursorY);
        cursorY -= bodyLineH;
    }
}

void ReportPDFRenderer::drawWrappedParagraph(std::string_view text, const FontSpec& font, const RGBAColor& color,
                                             double maxWidth) {
    for (const auto& line : wrap(text, font, maxWidth)) {
        if (line.empty()) continue;
        breakIfBelow(13);
        drawText(line, font, color, ReportPage::left, cursorY);
        cursorY -= 13;
    }
}

void ReportPDFRenderer::drawFooter() {
    drawCentred("Generated locally by Corvane \xE2\x80\x94 100% on-device, no upload.", smallFont, midGray,
                ReportPage::footerBaseline);
}

// ---- pages -----------------------------------------------------------------------------------

void ReportPDFRenderer::drawCoverPage() {
    beginPage();
    drawPCBBadge(Vec2{56, 626}, 190, 132);
    double size = titleFont.size;
    while (size > 11 && text_.width(FontSpec{true, size}, input.projectName) > ReportPage::contentWidth) size -= 1;
    drawText(input.projectName, FontSpec{true, size}, ink, ReportPage::left, 576);
    drawText("PCB Manufacturing Review Report", subtitleFont, midGray, ReportPage::left, 550);
    const std::string revision = isCompare ? "Revision A: " + input.nameA + "  \xE2\x86\x92  Revision B: " + *input.nameB
                                           : "Revision: " + input.nameA;
    drawText(revision, boldBodyFont, ink, ReportPage::left, 529);
    drawText("Generated " + dateString(input.generatedAt), bodyFont, midGray, ReportPage::left, 513);
    drawSummaryTable(473);
    drawFooter();
}

void ReportPDFRenderer::drawLayerSummaryPages() {
    beginPage();
    drawSectionHeading("Layer Summary");
    const std::string labelA = (isCompare ? "Revision A \xE2\x80\x94 " : "Revision: ") + input.nameA;
    const std::string labelB = "Revision B \xE2\x80\x94 " + input.nameB.value_or("");
    drawPackageFileTable(input.packageA, labelA);
    if (isCompare && input.packageB) {
        cursorY -= 10;
        drawPackageFileTable(*input.packageB, labelB);
    }
    cursorY -= 14;
    breakIfBelow(70);
    drawText("Drill Summary", headingFont, ink, ReportPage::left, cursorY);
    cursorY -= 22;
    drawDrillStats(input.drillStatsA, labelA);
    if (isCompare) drawDrillStats(input.drillStatsB, labelB);
}

void ReportPDFRenderer::drawDifferencePages(const PackageDiff& diff) {
    beginPage();
    const auto layerCount = static_cast<std::int64_t>(diff.layers.size());
    drawSectionHeading("Differences", "Total: " + formatInt(diff.totalChanges()) + " changes across " +
                                          plural(layerCount, " matched layer", " matched layers"));
    // Files with no counterpart in the other revision (a layer added or dropped) are changes too.
    for (const auto& [name, files] : {std::pair{&diff.nameA, &diff.unmatchedFilesA},
                                      std::pair{&diff.nameB, &diff.unmatchedFilesB}}) {
        for (const auto& file : *files)
            drawWrappedParagraph("Only in " + *name + ": " + file, bodyFont, ink, ReportPage::contentWidth);
    }
    if (!diff.unmatchedFilesA.empty() || !diff.unmatchedFilesB.empty()) cursorY -= 8;
    constexpr std::size_t listed = 12;
    for (const auto& layer : diff.layers) {
        const auto added = static_cast<std::int64_t>(layer.added.size());
        const auto removed = static_cast<std::int64_t>(layer.removed.size());
        const std::int64_t total = added + removed;
        breakIfBelow(56);
        drawText(layer.layerKey + " \xE2\x80\x94 " + plural(total, " change", " changes") + " (" + formatInt(added) +
                     " added, " + formatInt(removed) + " removed)",
                 subheadingFont, ink, ReportPage::left, cursorY);
        cursorY -= 18;
        for (std::size_t i = 0; i < listed && i < layer.added.size() + layer.removed.size(); ++i) {
            const bool isAdded = i < layer.added.size();
            const DiffChange& change = isAdded ? layer.added[i] : layer.removed[i - layer.added.size()];
            breakIfBelow(bodyLineH);
            if (ctx) {
                std::string line = std::string(isAdded ? "+" : "-") + " " + change.kind + " \xE2\x80\x94 " +
                                   change.objectType + " at (" + formatFixed(change.position.x, 3) + ", " +
                                   formatFixed(change.position.y, 3) + ") mm";
                if (!change.description.empty()) line += " \xE2\x80\x94 " + change.description;
                drawText(truncate(line, bodyFont, 471), bodyFont, isAdded ? ink : midGray, 68, cursorY);
            }
            cursorY -= bodyLineH;
        }
        if (total > static_cast<std::int64_t>(listed)) {
            breakIfBelow(smallLineH);
            drawText("\xE2\x80\xA6 and " + formatInt(total - static_cast<std::int64_t>(listed)) + " more.", smallFont,
                     midGray, 68, cursorY);
            cursorY -= smallLineH;
        }
        cursorY -= 6;
    }
}

void ReportPDFRenderer::drawWarningsPage() {
    beginPage();
    drawSectionHeading("Warnings");
    if (!isCompare) {
        drawRevisionWarnings(input.dfm, &input.packageA);
        return;
    }
    // Both revisions whole: each with its own checks and its package's warnings.
    const PCBPackage* packageB = input.packageB ? &*input.packageB : nullptr;
    for (const auto& [label, dfm, package] :
         {std::tuple{"Revision A \xE2\x80\x94 " + input.nameA, &input.dfmA, &input.packageA},
          std::tuple{"Revision B \xE2\x80\x94 " + input.nameB.value_or(""), &input.dfm, packageB}}) {
        breakIfBelow(42);
        drawText(label, subheadingFont, ink, ReportPage::left, cursorY);
        drawRule(cursorY - 5, 0.6);
        cursorY -= 20;
        drawRevisionWarnings(*dfm, package);
        cursorY -= 8;
    }
}

void ReportPDFRenderer::drawRevisionWarnings(const std::optional<DFMReport>& dfm, const PCBPackage* package) {
    const std::vector<PackageWarning> warnings = package ? packageWarnings(*package, dfm) : std::vector<PackageWarning>{};
    if (!dfm) {
        drawWrappedParagraph("No DFM check was run for this report.", bodyFont, midGray, ReportPage::contentWidth);
        drawPackageWarnings(warnings);
        return;
    }
    if (dfm->presetName) {
        drawText("Preset: " + *dfm->presetName + "   \xC2\xB7   Checked " + dateString(dfm->checkedAt), bodyFont,
                 midGray, ReportPage::left, cursorY);
        cursorY -= 18;
    }
    if (dfm->issues.empty() && warnings.empty()) {
        drawWrappedParagraph("No issues found.", bodyFont, ink, ReportPage::contentWidth);
        return;
    }
    // The package's own warnings are findings too: "no issues" is said of the checks alone.
    if (dfm->issues.empty()) {
        drawWrappedParagraph("The manufacturing checks found no issues.", bodyFont, ink, ReportPage::contentWidth);
        cursorY -= 6;
    } else {
        drawCheckGroups(*dfm);
    }
    drawPackageWarnings(warnings);
}

void ReportPDFRenderer::drawCheckGroups(const DFMReport& report) {
    for (const CheckSeverity severity : CheckSeverity::allCases()) {
        std::vector<const CheckIssue*> group;
        for (const auto& issue : report.issues)
            if (issue.severity == severity) group.push_back(&issue);
        if (group.empty()) continue;
        const char* name = severity == CheckSeverity::error ? "Errors" : severity == CheckSeverity::warning ? "Warnings" : "Info";
        breakIfBelow(42);
        drawText(std::string(name) + " (" + formatInt(static_cast<std::int64_t>(group.size())) + ")", subheadingFont,
                 ink, ReportPage::left, cursorY);
        cursorY -= 16;
        for (const CheckIssue* issue : group) {
            breakIfBelow(28);
            std::string head = upper(severity.rawValue());
            head.insert(0, 1, '[');
            head.append("] ").append(issue->title);
            drawText(head, boldBodyFont, ink, ReportPage::left, cursorY);
            cursorY -= 13;
            std::string detail = issue->message;
            if (issue->fileName) detail += "  (" + *issue->fileName + ")";
            drawDetailLines(detail);
            cursorY -= 4;
        }
        cursorY -= 6;
    }
}

void ReportPDFRenderer::drawPackageWarnings(const std::vector<PackageWarning>& warnings) {
    if (warnings.empty()) return;
    breakIfBelow(42);
    drawText("Package warnings (" + formatInt(static_cast<std::int64_t>(warnings.size())) + ")", subheadingFont, ink,
             ReportPage::left, cursorY);
    cursorY -= 16;
    for (const PackageWarning& warning : warnings) {
        breakIfBelow(28);
        bool first = true;
        for (const auto& line : wrap(warning.text, bodyFont, ReportPage::contentWidth)) {
            if (line.empty()) continue;
            if (!first) breakIfBelow(13);
            first = false;
            drawText(line, bodyFont, ink, ReportPage::left, cursorY);
            cursorY -= 13;
        }
        if (!warning.files.empty()) drawDetailLines(warning.filesText());
        cursorY -= 4;
    }
    cursorY -= 6;
}

void ReportPDFRenderer::drawDetailLines(std::string_view text) {
    for (const auto& line : wrap(text, bodyFont, 469)) {
        if (line.empty()) continue;
        breakIfBelow(smallLineH);
        drawText(line, bodyFont, midGray, 70, cursorY);
        cursorY -= smallLineH;
    }
}

void ReportPDFRenderer::drawScreenshotPages() {
    const auto& shots = input.screenshots;
    for (std::size_t first = 0; first < shots.size(); first += 2) {
        beginPage();
        drawSectionHeading(first == 0 ? "Screenshots" : "Screenshots (continued)");
        const double maxH = std::min((cursorY - ReportPage::lowest - 52 - 24) * 0.5, 340.0);
        for (std::size_t i = first; i < shots.size() && i < first + 2; ++i) {
            const ReportScreenshot& shot = shots[i];
            // A picture without pixels, with fewer than its size claims or too large to embed keeps its
            // place but shows nothing.
            if (!usableImage(shot.image)) continue;
            const double iw = shot.image.width, ih = shot.image.height;
            const double s = std::min(ReportPage::contentWidth / iw, maxH / ih);
            const double dw = s * iw, dh = s * ih;
            const PageRect frame{(ReportPage::width - dw) / 2, cursorY - dh, dw, dh};
            if (ctx) {
                ctx->drawImage(shot.image, frame);
                ctx->strokeRect(frame, lightGray, 0.5);
            }
            drawCentred(truncate(shot.caption, smallFont, ReportPage::contentWidth), smallFont, midGray, frame.y - 12);
            cursorY = frame.y - captionGap;
        }
    }
}

void ReportPDFRenderer::drawMeasurementsPage() {
    beginPage();
    drawSectionHeading("Measurements");
    if (input.measurements.empty()) {
        drawWrappedParagraph("No measurements recorded.", bodyFont, midGray, ReportPage::contentWidth);
    } else {
        for (const auto& measurement : input.measurements) {
            breakIfBelow(bodyLineH);
            drawText("\xE2\x80\xA2", bodyFont, ink, ReportPage::left, cursorY);
            for (const auto& line : wrap(measurement, bodyFont, 469)) {
                if (line.empty()) continue;
                breakIfBelow(bodyLineH);
                drawText(line, bodyFont, ink, 70, cursorY);
                cursorY -= bodyLineH;
            }
        }
    }
    drawFooter();
}

// ---- document --------------------------------------------------------------------------------

void ReportPDFRenderer::drawReport(PageCanvas& canvas) {
    struct Release {
        PageCanvas*& ctx;
        ~Release() { ctx = nullptr; }
    } release{ctx};
    ctx = &canvas;
    // A second document from the same renderer starts its page count afresh.
    pageNumber = 0;
    cursorY = 0;
    drawCoverPage();
    drawLayerSummaryPages();
    if (input.diff && !input.diff->layers.empty()) drawDifferencePages(*input.diff);
    drawWarningsPage();
    if (!input.screenshots.empty()) drawScreenshotPages();
    drawMeasurementsPage();
    if (pageNumber >= 1) canvas.endPage();
}

std::vector<std::uint8_t> ReportPDFRenderer::render() {
    CairoPdfCanvas canvas(text_, ReportPage::width, ReportPage::height,
                          {input.projectName + " \xE2\x80\x94 PCB Manufacturing Review Report", "Corvane"});
    if (!canvas.ok()) throw ReportPDFError::contextUnavailable();
    drawReport(canvas);
    auto bytes = canvas.finish(false);
    if (!bytes) throw ReportPDFError::contextUnavailable();
    return std::move(*bytes);
}

std::vector<std::uint8_t> ReportGenerator::generatePDF(const ReportInput& input) const {
    ReportPDFRenderer renderer(input);
    return renderer.render();
}

} // namespace corvane
