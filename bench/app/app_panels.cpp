// Panel updates on a large board: 40 layers in the sidebar, 20 compare rows of 60 lines, the inspector
// and the checks sheet open. Each iteration includes the layout pass that follows the change.
#include <benchmark/benchmark.h>

#include "AppBenchMain.hpp"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

#include "panels/DetailsPanel.hpp"
#include "panels/SidebarView.hpp"
#include "sheets/ChecksSheet.hpp"

using namespace corvane;

namespace {

struct Scene {
    QTemporaryDir dir;
    AppModel model{std::make_unique<QSettings>(dir.filePath("bench.conf"), QSettings::IniFormat)};
    SidebarView sidebar{&model};
    DetailsPanel inspector{&model};
    ChecksSheet checks{&model};

    Scene() {
        PCBPackage p;
        p.name = "bench";
        for (int i = 0; i < 40; ++i) {
            PackageFile f;
            f.fileName = "layer" + std::to_string(i) + ".gbr";
            f.relativePath = f.fileName;
            f.format = SourceFormat::gerberX2;
            f.layerType = LayerType::copper(CopperLayerID::inner(i + 1));
            GerberDocument doc;
            PCBObject o(PCBObjectKind::flash({double(i), 0}), 10, ApertureShape::circle(1), Polarity::dark, std::nullopt,
                        std::nullopt, std::nullopt, std::nullopt, 0);
            doc.objects.push_back(o);
            doc.bbox.include(o.bbox);
            f.gerber = std::move(doc);
            p.files.push_back(std::move(f));
        }
        model.loadPackage(std::move(p));
        PackageDiff diff;
        std::vector<CompareRow> rows;
        for (int r = 0; r < 20; ++r) {
            CompareRow row;
            row.layerKey = "Inner " + std::to_string(r + 1) + " Copper";
            for (int i = 0; i < 30; ++i) {
                row.added.push_back(DiffChange{"Added", "Flash (Pad)", {double(i), 1}, BBox::empty(), ""});
                row.removed.push_back(DiffChange{"Removed", "Flash (Pad)", {double(i), 2}, BBox::empty(), ""});
            }
            row.addedCount = row.removedCount = 30;
            rows.push_back(std::move(row));
        }
        model.setCompareDiff(diff);
        model.setCompareRows(std::move(rows));
        sidebar.resize(280, 900);
        inspector.resize(280, 700);
        sidebar.show();
        inspector.show();
        QApplication::processEvents();
    }
};

Scene& scene() {
    static Scene* s = new Scene();
    return *s;
}

void BM_LayerCommand(benchmark::State& state) {
    Scene& s = scene();
    bool visible = false;
    for (auto _ : state) {
        s.model.setLayerVisible("layer7.gbr", visible);
        s.model.toggleSolo("layer9.gbr");
        QApplication::processEvents();
        visible = !visible;
    }
}
BENCHMARK(BM_LayerCommand)->Unit(benchmark::kMillisecond);

void BM_UnitSwitch(benchmark::State& state) {
    Scene& s = scene();
    bool mil = true;
    for (auto _ : state) {
        s.model.setUnits(mil ? Units::mil : Units::mm);
        QApplication::processEvents();
        mil = !mil;
    }
}
BENCHMARK(BM_UnitSwitch)->Unit(benchmark::kMillisecond);

// Argument 1: with the checks sheet open as well, listing every issue.
void BM_NewCheckReport(benchmark::State& state) {
    Scene& s = scene();
    s.checks.setVisible(state.range(0) == 1);
    std::vector<CheckIssue> issues;
    for (int i = 0; i < 200; ++i)
        issues.push_back(CheckIssue{"r", i % 3 == 0 ? CheckSeverity::error : CheckSeverity::warning,
                                    "Issue " + std::to_string(i), "message", "layer1.gbr", Vec2{double(i), 0}});
    for (auto _ : state) {
        s.model.setDfmReport(DFMReport(issues, std::nullopt, Date{}));
        QApplication::processEvents();
    }
}
BENCHMARK(BM_NewCheckReport)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) { return runAppBenchmarks(argc, argv); }
