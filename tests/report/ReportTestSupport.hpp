#pragma once
// Inputs and PDF tooling shared by the report tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "Builders.hpp"
#include "report/ReportPDFRenderer.hpp"

namespace corvane::reporttest {

// A file of `objectCount` pads; the report only counts them.
inline PackageFile gerberFile(const std::string& name, LayerType type, int objectCount) {
    std::vector<PCBObject> pads;
    for (int i = 0; i < objectCount; ++i) pads.push_back(testing::pad(Vec2{double(i), double(i)}, ApertureShape::circle(0.5)));
    return testing::gerberFile(name, std::move(type), std::move(pads));
}

inline PackageFile drillFile(const std::string& name, int hits, int slots) {
    std::vector<DrillHit> hitList;
    for (int i = 0; i < hits; ++i) hitList.push_back(DrillHit{Vec2{double(i), 0}, 1, Plating::pth});
    PackageFile f = testing::drillFile(name, {DrillTool{1, 0.3, Plating::pth}}, std::move(hitList));
    for (int i = 0; i < slots; ++i)
        f.drill->slots.push_back(testing::makeObject(PCBObjectKind::slot(Vec2{0, 0}, Vec2{1, 0}, 0.8, true)));
    return f;
}

inline PCBPackage samplePackage(const std::string& name) {
    PCBPackage p;
    p.name = name;
    p.sourceFileName = name + ".zip";
    p.files.push_back(gerberFile(name + "-F_Cu.gtl", LayerType::copper(CopperLayerID::top()), 1));
    p.files.push_back(gerberFile(name + "-B_Cu.gbl", LayerType::copper(CopperLayerID::bottom()), 0));
    p.files.push_back(gerberFile(name + "-Edge_Cuts.gm1", LayerType::outline(), 4));
    p.files.push_back(drillFile(name + ".drl", 12, 1));
    return p;
}

inline BoardSummary sampleSummary(double width) {
    BoardSummary s;
    s.widthMM = width;
    s.heightMM = 40.04;
    s.copperLayerCount = 2;
    s.padCount = 120;
    s.drillCount = 48;
    s.minTrackMM = 0.15;
    s.minSpaceMM = 0.1499;
    s.minSpaceReliable = false;
    s.smallestDrillMM = 0.3;
    s.pthCount = 44;
    s.npthCount = 4;
    return s;
}

inline DiffChange change(const std::string& kind, double x, double y, const std::string& description = "") {
    return DiffChange{kind, "Track / Line", Vec2{x, y}, BBox{x, y, x, y}, description};
}

inline LayerDiffResult layerDiff(const std::string& key, int added, int removed) {
    LayerDiffResult r;
    r.layerKey = key;
    r.fileNameA = "a.gtl";
    r.fileNameB = "b.gtl";
    for (int i = 0; i < added; ++i) r.added.push_back(change("Added", i, 1.5, i == 0 ? "circle \xC3\x98" "0.500" : ""));
    for (int i = 0; i < removed; ++i) r.removed.push_back(change("Removed", i, -2.25));
    return r;
}

inline RasterImage solidImage(int w, int h, std::uint32_t argb = 0xFF204060u) {
    RasterImage img;
    img.width = w;
    img.height = h;
    img.pixels = std::make_shared<const std::vector<std::uint32_t>>(static_cast<std::size_t>(w) * h, argb);
    return img;
}

// 2026-03-05 14:07:30 UTC
inline Date sampleDate() { return Date::fromUnix(1772719650.0); }

inline ReportInput minimalInput() {
    ReportInput in;
    in.projectName = "Sensor Board";
    in.nameA = "RevA";
    in.generatedAt = sampleDate();
    return in;
}

inline ReportInput fullInput(bool compare) {
    ReportInput in = minimalInput();
    in.packageA = samplePackage("RevA");
    in.summaryA = sampleSummary(60);
    in.drillStatsA = {DrillStat{0.3, Plating::pth, 12}, DrillStat{3.2, Plating::npth, 4}};
    if (compare) {
        in.nameB = "RevB";
        in.packageB = samplePackage("RevB");
        in.summaryB = sampleSummary(61.26);
        in.drillStatsB = {DrillStat{0.35, Plating::unknown, 7}};
        PackageDiff diff;
        diff.nameA = "RevA";
        diff.nameB = "RevB";
        diff.layers = {layerDiff("Top Copper", 10, 3), layerDiff("Bottom Copper", 1, 0), layerDiff("Drill", 0, 0)};
        in.diff = diff;
    }
    in.dfm = DFMReport({CheckIssue{"trace", CheckSeverity::warning, "Trace below minimum",
                                   "Track of 0.100 mm is narrower than 0.150 mm.", std::string("RevA-F_Cu.gtl"),
                                   Vec2{1, 2}},
                        CheckIssue{"drill", CheckSeverity::error, "Drill below minimum", "Hole of 0.150 mm.",
                                   std::nullopt, std::nullopt}},
                       std::string("Standard"), sampleDate());
    in.screenshots = {ReportScreenshot{solidImage(120, 90), "Top view \xE2\x80\x94 RevA"}};
    in.measurements = {"Point \xE2\x86\x92 Point: 12.500 mm", "Board Dimensions: 60.000 \xC3\x97 40.040 mm"};
    return in;
}

// Sets TZ for one test and puts the old value back afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_) setenv("TZ", old_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

// Runs a shell command and returns its standard output.
inline std::string run(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
    return out;
}

// A PDF written to a temporary file for poppler's tools; removed with the object.
class PdfFile {
public:
    explicit PdfFile(const std::vector<std::uint8_t>& bytes) {
        static int serial = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("corvane-report-" + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".pdf");
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~PdfFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    std::string quoted() const { return "'" + path_.string() + "'"; }
    std::string info() const { return run("pdfinfo " + quoted() + " 2>&1"); }
    // One text per page, as pdftotext reads it.
    std::vector<std::string> pages() const {
        const std::string all = run("pdftotext -enc UTF-8 " + quoted() + " - 2>/dev/null");
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t ff; (ff = all.find('\f', start)) != std::string::npos; start = ff + 1)
            out.push_back(all.substr(start, ff - start));
        return out;
    }
    std::string bbox(int page) const {
        const std::string p = std::to_string(page);
        return run("pdftotext -enc UTF-8 -bbox -f " + p + " -l " + p + " " + quoted() + " - 2>/dev/null");
    }

private:
    std::filesystem::path path_;
};

// The value of one "Key:   value" line of pdfinfo.
inline std::string infoField(const std::string& info, const std::string& key) {
    const std::size_t at = info.find(key + ":");
    if (at == std::string::npos) return {};
    std::size_t start = info.find_first_not_of(' ', at + key.size() + 1);
    const std::size_t end = info.find('\n', start);
    return info.substr(start, end - start);
}

inline std::string withoutSpaces(const std::string& s) {
    std::string out;
    for (char c : s)
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') out.push_back(c);
    return out;
}

} // namespace corvane::reporttest
