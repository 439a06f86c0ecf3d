// The PDF report fed random texts (any bytes) and random numbers (non-finite and huge ones
// included) in every field it prints: it finishes with PDF bytes or its own error, never a crash, a
// sanitizer report or a hang, and puts only valid, printable text at finite places on its pages.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "report/ReportPDFRenderer.hpp"
#include "model/Format.hpp"

namespace {

using namespace corvane;

// Enough to wrap lines and break pages; every report costs a text engine of its own, so keep runs short.
constexpr std::size_t kMaxText = 120;
constexpr std::size_t kMaxItems = 8;

// Any double: finite, infinite, NaN, subnormal.
double anyNumber(FuzzedDataProvider& in) {
    const std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string text(FuzzedDataProvider& in) { return in.ConsumeRandomLengthString(kMaxText); }

std::optional<double> maybeNumber(FuzzedDataProvider& in) {
    if (!in.ConsumeBool()) return std::nullopt;
    return anyNumber(in);
}

std::size_t count(FuzzedDataProvider& in) { return in.ConsumeIntegralInRange<std::size_t>(0, kMaxItems); }

LayerType layerType(FuzzedDataProvider& in) {
    const CopperLayerID side = in.ConsumeBool() ? CopperLayerID::top()
                                                : CopperLayerID::inner(in.ConsumeIntegral<std::int64_t>());
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: return LayerType::copper(side);
    case 1: return LayerType::solderMask(side);
    case 2: return LayerType::silkscreen(side);
    case 3: return LayerType::paste(side);
    case 4: return LayerType::outline();
    case 5: return LayerType::drill();
    default: return LayerType::unknown();
    }
}

PCBPackage package(FuzzedDataProvider& in) {
    PCBPackage p;
    p.name = text(in);
    p.sourceFileName = text(in);
    for (std::size_t i = count(in); i > 0; --i) {
        PackageFile f;
        f.fileName = text(in);
        f.relativePath = text(in);
        f.layerType = layerType(in);
        p.files.push_back(std::move(f));
    }
    for (std::size_t i = count(in); i > 0; --i) p.warnings.push_back(text(in));
    p.importedAt = Date{anyNumber(in)};
    return p;
}

BoardSummary summary(FuzzedDataProvider& in) {
    BoardSummary s;
    s.widthMM = anyNumber(in);
    s.heightMM = anyNumber(in);
    s.copperLayerCount = in.ConsumeIntegral<std::int64_t>();
    s.padCount = in.ConsumeIntegral<std::int64_t>();
    s.drillCount = in.ConsumeIntegral<std::int64_t>();
    s.minTrackMM = maybeNumber(in);
    s.minSpaceMM = maybeNumber(in);
    s.minSpaceReliable = in.ConsumeBool();
    s.smallestDrillMM = maybeNumber(in);
    s.pthCount = in.ConsumeIntegral<std::int64_t>();
    s.npthCount = in.ConsumeIntegral<std::int64_t>();
    return s;
}

std::vector<DrillStat> drillStats(FuzzedDataProvider& in) {
    std::vector<DrillStat> out;
    for (std::size_t i = count(in); i > 0; --i)
        out.push_back(DrillStat{anyNumber(in), in.ConsumeBool() ? Plating::pth : Plating::npth,
                                in.ConsumeIntegral<std::int64_t>()});
    return out;
}

DiffChange change(FuzzedDataProvider& in) {
    DiffChange c;
    c.kind = text(in);
    c.objectType = text(in);
    c.position = Vec2{anyNumber(in), anyNumber(in)};
    c.bbox = BBox{anyNumber(in), anyNumber(in), anyNumber(in), anyNumber(in)};
    c.description = text(in);
    return c;
}

PackageDiff diff(FuzzedDataProvider& in) {
    PackageDiff d;
    d.nameA = text(in);
    d.nameB = text(in);
    for (std::size_t i = count(in); i > 0; --i) {
        LayerDiffResult l;
        l.layerKey = text(in);
        l.fileNameA = text(in);
        l.fileNameB = text(in);
        for (std::size_t k = count(in); k > 0; --k) l.added.push_back(change(in));
        for (std::size_t k = count(in); k > 0; --k) l.removed.push_back(change(in));
        d.layers.push_back(std::move(l));
    }
    for (std::size_t i = count(in); i > 0; --i) d.unmatchedFilesA.push_back(text(in));
    for (std::size_t i = count(in); i > 0; --i) d.unmatchedFilesB.push_back(text(in));
    return d;
}

DFMReport dfm(FuzzedDataProvider& in) {
    std::vector<CheckIssue> issues;
    for (std::size_t i = count(in); i > 0; --i) {
        CheckIssue issue;
        issue.id = text(in);
        issue.severity = static_cast<CheckSeverity::Value>(in.ConsumeIntegralInRange(0, 2));
        issue.title = text(in);
        issue.message = text(in);
        if (in.ConsumeBool()) issue.fileName = text(in);
        if (in.ConsumeBool()) issue.position = Vec2{anyNumber(in), anyNumber(in)};
        issues.push_back(std::move(issue));
    }
    std::optional<std::string> preset;
    if (in.ConsumeBool()) preset = text(in);
    return DFMReport(std::move(issues), std::move(preset), Date{anyNumber(in)});
}

// A small picture of random pixels under a random caption.
ReportScreenshot screenshot(FuzzedDataProvider& in) {
    RasterImage image;
    image.width = in.ConsumeIntegralInRange(1, 16);
    image.height = in.ConsumeIntegralInRange(1, 16);
    auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(image.width * image.height));
    for (auto& p : *pixels) p = in.ConsumeIntegral<std::uint32_t>();
    image.pixels = std::move(pixels);
    return ReportScreenshot{std::move(image), text(in)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ReportInput input;
    input.projectName = text(in);
    input.nameA = text(in);
    if (in.ConsumeBool()) input.nameB = text(in);
    input.packageA = package(in);
    if (in.ConsumeBool()) input.packageB = package(in);
    if (in.ConsumeBool()) input.summaryA = summary(in);
    if (in.ConsumeBool()) input.summaryB = summary(in);
    input.drillStatsA = drillStats(in);
    input.drillStatsB = drillStats(in);
    if (in.ConsumeBool()) input.diff = diff(in);
    if (in.ConsumeBool()) input.dfm = dfm(in);
    for (std::size_t i = in.ConsumeIntegralInRange<std::size_t>(0, 2); i > 0; --i) input.screenshots.push_back(screenshot(in));
    for (std::size_t i = count(in); i > 0; --i) input.measurements.push_back(text(in));
    input.generatedAt = Date{anyNumber(in)};
    if (in.ConsumeBool()) {
        try {
            (void)ReportGenerator{}.generatePDF(input);
        } catch (const ReportPDFError&) {
        }
        return 0;
    }
    // The same layout recorded: what reaches a page is text the canvas may take, at a finite place.
    RecordingCanvas canvas;
    ReportPDFRenderer(input).drawReport(canvas);
    for (const auto& page : canvas.pages)
        for (const auto* op : page.texts()) {
            if (!isValidUTF8(op->text) || !std::isfinite(op->at.x) || !std::isfinite(op->at.y)) std::abort();
            for (unsigned char c : op->text)
                if (c < 0x20 || c == 0x7F) std::abort();
        }
    return 0;
}
