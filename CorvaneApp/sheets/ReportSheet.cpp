#include "sheets/ReportSheet.hpp"

#include <cstring>

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QThreadPool>
#include <QVBoxLayout>

#include "checks/BoardSummaryEngine.hpp"
#include "io/FileIO.hpp"
#include "panels/PanelStyle.hpp"
#include "dialogs/UIServices.hpp"
#include "canvas/ScreenshotController.hpp"

namespace corvane {

using namespace ui;

ReportSheet::ReportSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.report", "doc.richtext.fill", indigo(), "PDF Report", 14), model_(model) {
    setMinimumWidth(minimumSheetWidth);
    setPreferredSize(QSize(460, 0));
    QVBoxLayout* stack = body();
    includeScreenshot_ = new QCheckBox("Include annotated screenshot", this);
    includeScreenshot_->setObjectName("report.includeScreenshot");
    includeScreenshot_->setChecked(true);
    includeMeasurements_ = new QCheckBox("Include measurements", this);
    includeMeasurements_->setObjectName("report.includeMeasurements");
    includeMeasurements_->setChecked(true);
    stack->addWidget(includeScreenshot_);
    stack->addWidget(includeMeasurements_);
    auto* contents = textLabel("Contents: project, revisions, board dimensions, layer summary, drill summary, differences, "
                               "screenshots, measurements, warnings.",
                               captionFont(), secondaryColor(), this);
    contents->setWordWrap(true);
    stack->addWidget(contents);
    result_ = textLabel(QString(), captionFont(), green(), this);
    result_->setObjectName("report.result");
    // Import and write errors name files and paths: shown whole, wrapped inside a long path if need be.
    error_ = new WrappedLabel(this);
    error_->setFont(captionFont());
    setTextColor(error_, orange());
    error_->setObjectName("report.error");
    stack->addWidget(result_);
    stack->addWidget(error_);
    QHBoxLayout* buttons = footerRow();
    buttons->addStretch(1);
    auto* cancel = plainButton("Cancel", this);
    cancel->setObjectName("report.cancel");
    export_ = new QPushButton("Export PDF\u2026", this);
    export_->setObjectName("report.export");
    export_->setDefault(true);
    buttons->addWidget(cancel);
    buttons->addWidget(export_);
    progress_ = busyIndicator("report.progress", this);
    layout()->addWidget(progress_);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(export_, &QPushButton::clicked, this, &ReportSheet::exportPDF);
    connect(model, &AppModel::packageChanged, this, &ReportSheet::syncState);
    syncState();
}

void ReportSheet::syncState() {
    export_->setEnabled(model_ && model_->package() && !busy_);
    progress_->setVisible(busy_);
    result_->setVisible(!result_->text().isEmpty());
    error_->setVisible(!error_->text().isEmpty());
}

QString ReportSheet::proposedName(const AppModel& model) {
    return qs((model.package() ? model.package()->name : std::string("Corvane")) + "-Report.pdf");
}

RasterImage ReportSheet::rasterImage(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    RasterImage out;
    out.width = argb.width();
    out.height = argb.height();
    auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(out.width) * out.height);
    for (int y = 0; y < out.height; ++y)
        std::memcpy(pixels->data() + static_cast<std::size_t>(y) * out.width, argb.constScanLine(y),
                    static_cast<std::size_t>(out.width) * 4);
    out.pixels = std::move(pixels);
    return out;
}

namespace {

// A private copy of what the board picture shows. Painting a large board takes a second or more, so it is
// painted in the worker from this copy while the user goes on changing the real model. The copy shares the
// real model's settings file and writes nothing it does not already hold.
std::shared_ptr<AppModel> pictureScene(AppModel& model) {
    auto scene = std::make_shared<AppModel>(std::make_unique<QSettings>(model.settings().fileName(), model.settings().format()));
    scene->setUnits(model.units());
    scene->setHasFitted(true);  // keeps the camera below, which a first canvas size would replace
    scene->setPackage(model.package());
    scene->setLayerStates(model.layerStates());
    for (const auto& id : model.soloSet()) scene->toggleSolo(id);
    scene->setShowGrid(model.showGrid());
    scene->setShowOrigin(model.showOrigin());
    scene->setShowCrosshair(model.showCrosshair());
    scene->setMeasurements(model.measurements());
    scene->setAnnotations(model.annotations());
    scene->setSelection(model.selection());
    // A comparison is pictured as the canvas shows it: its differences.
    scene->adoptComparison(model);
    scene->setCompareHighlight(model.compareHighlight());
    scene->setLocatedPoint(model.locatedPoint(), model.locatedObjectBox());
    scene->canvasSizeChanged(model.canvasSize());
    scene->setCamera(model.camera());
    return scene;
}

} // namespace

QString ReportSheet::screenshotCaption(const AppModel& model) {
    const char* side = model.camera().mirrored ? "bottom view" : "top view";
    if (model.compareDiff() && model.compareBase()) {
        const auto names = model.revisionNames();
        return qs(names[0] + " \u2192 " + names[1] + " \u2014 differences, " + side +
                  " (grey in both, red only in A, green only in B)");
    }
    return qs((model.package() ? model.package()->name : std::string()) + " \u2014 " + side);
}

void ReportSheet::exportPDF() {
    if (busy_ || !model_ || !model_->package()) return;
    busy_ = true;
    syncState();
    const auto url = UIServices::current().chooseReportPath(this, proposedName(*model_));
    // The package cannot go while the chooser runs (nothing unloads one), but the model itself might.
    if (!url || !model_ || !model_->package()) {
        busy_ = false;
        syncState();
        return;
    }
    std::shared_ptr<AppModel> scene;
    if (includeScreenshot_->isChecked()) scene = pictureScene(*model_);

    // Everything the report needs, taken now: later changes of the model do not reach this report.
    const AppModel::PackagePtr P = model_->package();
    const AppModel::PackagePtr B = model_->compareBase();
    // Revision A is named as the sidebar and the inspector name it; a single board by its own name, never by
    // that of a comparison left behind.
    const std::string nameA = B ? model_->revisionNames()[0] : P->name;
    const QString caption = screenshotCaption(*model_);
    const auto summary = model_->boardSummary();
    std::vector<DrillStat> currentDrills;
    for (const auto& file : model_->drillFiles()) currentDrills.insert(currentDrills.end(), file.stats.begin(), file.stats.end());
    const auto diff = model_->compareDiff();
    const auto dfm = model_->dfmReport();
    // Revision A of a comparison is held whole by the model: its checks, drills and (when made) summary.
    const auto dfmA = model_->compareBaseReport();
    const auto summaryA = model_->compareBaseSummary();
    std::vector<DrillStat> baseDrills;
    for (const auto& file : model_->compareBaseDrillFiles()) baseDrills.insert(baseDrills.end(), file.stats.begin(), file.stats.end());
    std::vector<std::string> measurements;
    if (includeMeasurements_->isChecked())
        for (const auto& m : model_->measurements()) measurements.push_back(std::string(m.kind.rawValue()) + ": " + m.label);
    const Date now = Date::now();

    QPointer<ReportSheet> guard(this);
    QPointer<AppModel> model = model_;
    const std::filesystem::path target = *url;
    QThreadPool::globalInstance()->start([=]() mutable {
        std::string failure;
        try {
            // Only read here; the scene goes back to the GUI thread to be destroyed there.
            std::optional<RasterImage> picture;
            if (scene)
                if (const auto image = ScreenshotController::makeImage(*scene, 2.0)) picture = rasterImage(*image);
            ReportInput input;
            input.projectName = P->name;
            input.nameA = nameA;
            if (B) {
                input.nameB = P->name;
                input.packageA = *B;
                input.packageB = *P;
                input.summaryA = summaryA ? summaryA : BoardSummaryEngine{}.summarize(*B);
                input.summaryB = summary;
                input.drillStatsA = baseDrills;
                input.drillStatsB = currentDrills;
                input.dfmA = dfmA;
            } else {
                input.packageA = *P;
                input.summaryA = summary;
                input.drillStatsA = currentDrills;
            }
            input.diff = diff;
            input.dfm = dfm;
            if (picture) input.screenshots.push_back(ReportScreenshot{*picture, ss(caption)});
            input.measurements = measurements;
            input.generatedAt = now;
            const auto pdf = ReportGenerator{}.generatePDF(input);
            atomicWriteFile(target, pdf);
        } catch (const std::exception& e) {
            failure = e.what();
        }
        QMetaObject::invokeMethod(
            qApp,
            // The worker keeps no reference to the scene, so its last owner is this call on the GUI thread.
            [guard, model, target, failure, scene = std::move(scene)]() mutable {
                scene.reset();
                // The file was asked for and written: it opens even when the sheet has been closed meanwhile, and
                // the status line says where it went, since the sheet closes.
                if (failure.empty()) {
                    if (model) model->setStatusMessage("Report saved to " + target.string());
                    UIServices::current().openFile(target);
                }
                if (!guard) return;
                guard->busy_ = false;
                if (failure.empty()) {
                    guard->result_->setText(qs("Saved " + target.filename().string()));
                    guard->syncState();
                    Q_EMIT guard->exportFinished(true);
                    guard->accept();
                } else {
                    guard->error_->setWholeText(qs("Failed: " + failure));
                    guard->syncState();
                    Q_EMIT guard->exportFinished(false);
                }
            },
            Qt::QueuedConnection);
    });
}

} // namespace corvane
