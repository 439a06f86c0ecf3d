// The GUI thread while the sheets' long work runs: two 100 MB revisions imported by the compare sheet, then
// the compare-mode report rendered and written. An event-loop probe ticks every 5 ms; the counter maxGapMs
// is the longest time the loop went without a tick. The import gap ends when the comparison starts (the
// comparison has its own budget).
#include <benchmark/benchmark.h>

#include "AppBenchMain.hpp"

#include <chrono>
#include <filesystem>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include "io/FileIO.hpp"
#include "io/VellZipWriter.hpp"
#include "sheets/CompareSheet.hpp"
#include "canvas/ScreenshotController.hpp"
#include "sheets/ReportSheet.hpp"
#include "dialogs/UIServices.hpp"

using namespace corvane;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t revisionBytes = 100u << 20;

// Tracks of a copper layer, padded with comment lines to the size asked for.
std::vector<std::uint8_t> bigGerber(std::size_t bytes, int shift) {
    std::string g = "%FSLAX46Y46*%\n%MOMM*%\n%TF.FileFunction,Copper,L1,Top*%\n%ADD10C,0.200000*%\nD10*\n";
    g.reserve(bytes + 64);
    for (int i = 0; i < 400000; ++i) {
        const int x = (i % 1000) * 200000, y = (i / 1000) * 200000 + (i % 97 == 0 ? shift : 0);
        g += "X" + std::to_string(x) + "Y" + std::to_string(y) + "D02*\nX" + std::to_string(x + 150000) + "Y" +
             std::to_string(y) + "D01*\n";
    }
    const std::string pad = "G04 padding padding padding padding padding padding padding padding*\n";
    while (g.size() + pad.size() + 6 < bytes) g += pad;
    g += "M02*\n";
    return {g.begin(), g.end()};
}

struct Probe {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 maxGap = 0;
    bool running = false;

    Probe() {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        clock.start();
        last = 0;
        maxGap = 0;
        running = true;
        timer.start();
    }
    void tick() {
        if (!running) return;
        const qint64 now = clock.elapsed();
        maxGap = std::max(maxGap, now - last);
        last = now;
    }
    void stop() {
        tick();
        running = false;
        timer.stop();
    }
};

struct Fixture {
    QTemporaryDir dir;
    AppModel model{std::make_unique<QSettings>(dir.filePath("bench.conf"), QSettings::IniFormat)};
    fs::path a = fs::path(dir.path().toStdString()) / "RevA.zip";
    fs::path b = fs::path(dir.path().toStdString()) / "RevB.zip";
    Fixture() {
        atomicWriteFile(a, VellZipWriter::archive({{"board-F_Cu.gbr", bigGerber(revisionBytes, 0)}}));
        atomicWriteFile(b, VellZipWriter::archive({{"board-F_Cu.gbr", bigGerber(revisionBytes, 50000)}}));
    }
};

Fixture& fixture() {
    static Fixture* f = new Fixture();
    return *f;
}

void BM_CompareImportGap(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.model.clearCompare();
        auto* sheet = new CompareSheet(&f.model);
        sheet->show();
        sheet->setBaseURL(f.a);
        sheet->setRevisedURL(f.b);
        Probe probe;
        QEventLoop loop;
        QElapsedTimer total;
        qint64 importMs = 0;
        auto started = QObject::connect(&f.model, &AppModel::compareBaseChanged, [&] {
            if (!probe.running) return;
            probe.stop();
            importMs = total.elapsed();
        });
        QObject::connect(sheet, &QDialog::finished, &loop, &QEventLoop::quit);
        total.start();
        probe.start();
        sheet->run();
        loop.exec();
        QObject::disconnect(started);
        state.counters["maxGapMs"] = double(probe.maxGap);
        state.counters["importMs"] = double(importMs);
        state.counters["totalMs"] = double(total.elapsed());
    }
}
BENCHMARK(BM_CompareImportGap)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReportExportGap(benchmark::State& state) {
    Fixture& f = fixture();
    QTemporaryDir out;
    // Saves into a scratch folder and opens nothing.
    struct Quiet : UIServices {
        fs::path folder;
        std::optional<fs::path> chooseReportPath(QWidget*, const QString& name) override {
            return folder / name.toStdString();
        }
        void openFile(const fs::path&) override {}
    };
    auto quiet = std::make_unique<Quiet>();
    quiet->folder = out.path().toStdString();
    UIServices::install(std::move(quiet));
    // A window-sized canvas, so the report carries the board picture.
    f.model.canvasSizeChanged(QSizeF(1280, 820));
    for (auto _ : state) {
        auto* sheet = new ReportSheet(&f.model);
        sheet->show();
        Probe probe;
        QEventLoop loop;
        QObject::connect(sheet, &ReportSheet::exportFinished, &loop, &QEventLoop::quit);
        probe.start();
        sheet->exportPDF();
        loop.exec();
        probe.stop();
        state.counters["maxGapMs"] = double(probe.maxGap);
        state.counters["comparing"] = f.model.compareDiff() ? 1 : 0;
        state.counters["picture"] = ScreenshotController::makeImage(f.model, 2.0) ? 1 : 0;
        sheet->close();
    }
    UIServices::install(nullptr);
}
BENCHMARK(BM_ReportExportGap)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) { return runAppBenchmarks(argc, argv); }
