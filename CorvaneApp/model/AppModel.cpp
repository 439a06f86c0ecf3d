#include "AppModel.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cmath>
#include <exception>
#include <functional>
#include <future>
#include <limits>
#include <new>
#include <iterator>
#include <map>
#include <numeric>
#include <mutex>
#include <thread>
#include <utility>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <QCoreApplication>
#include <QEvent>
#include <QThreadPool>

#include "checks/BoardSummaryEngine.hpp"
#include "render/SoftwareRenderer.hpp"
#include "checks/DFMEngine.hpp"
#include "render/LayerDrawOrder.hpp"
#include "import/DocumentCache.hpp"
#include "import/LayerOrder.hpp"
#include "io/FileIO.hpp"
#include "model/Codable.hpp"
#include "model/Format.hpp"
#include "model/NotificationHub.hpp"
#include "model/ParallelFor.hpp"

namespace corvane {

namespace {

const BoardRenderer::Color kSameColor{0.55f, 0.57f, 0.60f, 1.0f};
const BoardRenderer::Color kRemovedColor{1.0f, 0.28f, 0.28f, 1.0f};
const BoardRenderer::Color kAddedColor{0.30f, 0.90f, 0.40f, 1.0f};
constexpr float kSameOpacity = 0.5f;
constexpr float kChangeOpacity = 0.95f;
// How near a located place an object's box must come for the place to be on it: inside it, give or take the
// rounding of the place's coordinates.
constexpr double kLocatedObjectToleranceMM = 0.005;
// Objects up to this size at a located place are ringed whole: pads, holes, small features. A longer one (a
// track, a pour) would ring half the view.
constexpr double kRingedWholeMM = 4.0;

// The canvas meshes are seen at any zoom up to their detail scale: their arcs stand at most a micrometre off
// the circle, a quarter pixel up to 250 pixels per millimetre. Small arcs keep the engine's few pieces.
constexpr double kCanvasArcChordToleranceMM = 0.001;
// Meshes made for a scale keep every curve within an eighth of a pixel of its circle there (and closer at the
// coarser views that use them), finer than the canvas's four samples per pixel tell apart, and with as few
// triangles as that allows: the triangles are held by the program and again by the driver.
constexpr double kDetailTolerancePx = 1.0 / 8.0;
// The scales meshes are made for step by this factor, so that zooming makes them again only now and then.
constexpr double kDetailScaleStep = 4.0;
// From this scale on, meshes have every piece the fixed counts give.
constexpr double kFullDetailScale = 1024.0;

// `scale` 0: full detail, good at any zoom.
Tessellator canvasGeometry(double scale = 0) {
    Tessellator geom;
    geom.arcChordToleranceMM = kCanvasArcChordToleranceMM;
    if (scale > 0) geom.detailToleranceMM = kDetailTolerancePx / scale;
    return geom;
}

// The scale of the meshes for a view of `pxPerMM`: the least step at or above it, or 0 for full detail.
double detailScaleFor(double pxPerMM) {
    if (!(pxPerMM > 0) || !std::isfinite(pxPerMM)) return 0;
    double scale = 1.0 / 1024.0;
    while (scale < pxPerMM && scale < kFullDetailScale) scale *= kDetailScaleStep;
    return scale >= kFullDetailScale ? 0 : scale;
}

// The scale fitBBox gives a board on a canvas, 0 when it would not fit it.
double fittedScale(const BBox& box, QSizeF canvas) {
    if (!box.isValid() || !(canvas.width() > 10)) return 0;
    const double k = std::min(canvas.width() / std::max(1.6 * box.width(), 0.5),
                              canvas.height() / std::max(1.6 * box.height(), 0.5));
    return k > 0 && std::isfinite(k) ? k : 0;
}

// Worker results reach the GUI thread through an object that is never destroyed, so that a result arriving
// while the application shuts down has a valid receiver; the model itself may be gone, hence the guards.
// Made by the first model, on the GUI thread.
QObject* guiDispatcher() {
    static QObject* dispatcher = new QObject();
    return dispatcher;
}

template <class F>
void onGuiThread(F&& body) {
    QMetaObject::invokeMethod(guiDispatcher(), std::forward<F>(body), Qt::QueuedConnection);
}

// Work that can wait for the window: posted behind every event already waiting on the GUI thread, repaint
// requests included (they wait at low priority), so that what a change shows is drawn before the work
// starts and competes with the drawing for the processors.
class DeferredWork : public QEvent {
public:
    explicit DeferredWork(std::function<void()> body) : QEvent(kind()), body_(std::move(body)) {}
    static QEvent::Type kind() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    void run() { body_(); }

private:
    std::function<void()> body_;
};

class DeferredWorkRunner : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() != DeferredWork::kind()) return QObject::event(e);
        static_cast<DeferredWork*>(e)->run();
        return true;
    }
};

void afterPendingRepaints(std::function<void()> body) {
    static QObject* runner = new DeferredWorkRunner();
    QCoreApplication::postEvent(runner, new DeferredWork(std::move(body)), std::numeric_limits<int>::min());
}

// A revision is named as its package is, an archive by its name without ".zip", so that A and B read alike.
std::string revisionName(const std::string& fileName) {
    constexpr std::string_view zip = ".zip";
    if (fileName.size() > zip.size() && asciiLower(fileName.substr(fileName.size() - zip.size())) == zip)
        return fileName.substr(0, fileName.size() - zip.size());
    return fileName;
}

bool rowTakes(const CompareRow& row, const PackageFile& file, const std::string& rowFileName) {
    if (!rowFileName.empty()) return file.fileName == rowFileName;
    return file.layerType.displayName() == row.layerKey || (row.layerKey == "Drill" && file.drill);
}

// The rows of a comparison, one per matched layer, in the order a reviewer reads them: copper first, then the
// rest, each with its most changed layers first. A role that several pairs of files share (mechanical layers
// the classifier could not place, say) names each of its rows, and the diff's result, by the shown
// revision's file, so the rows can be told apart.
std::vector<CompareRow> compareRowsOf(PackageDiff& diff, const PCBPackage& revised) {
    std::map<std::string, int> roleCount;
    for (const auto& l : diff.layers) ++roleCount[l.layerKey];
    std::set<std::string> used;
    struct Ranked {
        CompareRow row;
        bool copper;
    };
    std::vector<Ranked> ranked;
    ranked.reserve(diff.layers.size());
    for (auto& l : diff.layers) {
        CompareRow row{l.layerKey, static_cast<std::int64_t>(l.added.size()), static_cast<std::int64_t>(l.removed.size()),
                       l.added, l.removed};
        // The drill row joins every drill file of each revision; any other row compares one file with one.
        if (l.layerKey != "Drill") {
            row.fileNameA = l.fileNameA;
            row.fileNameB = l.fileNameB;
        }
        if (roleCount[l.layerKey] > 1) {
            const std::string file = l.fileNameB.empty() ? l.fileNameA : l.fileNameB;
            l.layerKey = used.count(file) ? l.layerKey + " \u2014 " + file : file;
            row.layerKey = l.layerKey;
        }
        used.insert(row.layerKey);
        const auto shown = std::find_if(revised.files.begin(), revised.files.end(),
                                        [&](const PackageFile& f) { return !row.fileNameB.empty() && f.fileName == row.fileNameB; });
        ranked.push_back(Ranked{std::move(row), shown != revised.files.end() && shown->layerType.isCopper()});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        if (a.copper != b.copper) return a.copper;
        return a.row.addedCount + a.row.removedCount > b.row.addedCount + b.row.removedCount;
    });
    std::vector<CompareRow> rows;
    rows.reserve(ranked.size());
    for (auto& r : ranked) rows.push_back(std::move(r.row));
    return rows;
}

std::shared_ptr<const TessellatedLayer> tessellateShared(const Tessellator& geom, const std::vector<PCBObject>& objects) {
    return std::make_shared<const TessellatedLayer>(geom.tessellate(objects));
}

// A negative plane: its box filled, with every feature of the file cut out of it.
TessellatedLayer negativePlaneMesh(TessellatedLayer features, const BBox& box) {
    TessellatedLayer plane;
    plane.dark.addQuad(Vec2{box.minX, box.minY}, Vec2{box.maxX, box.minY}, Vec2{box.maxX, box.maxY},
                       Vec2{box.minX, box.maxY});
    plane.clear = std::move(features.clear);
    plane.clear.append(features.dark);
    // The features' thin strokes are cut out at least a pixel wide, as they would be drawn.
    plane.centreLines = std::move(features.centreLines);
    plane.runs.push_back(PolarityRun{Polarity::dark, 0, plane.dark.vertexCount()});
    if (!plane.clear.empty())
        plane.runs.push_back(PolarityRun{Polarity::clear, 0, plane.clear.vertexCount(), 0,
                                         static_cast<std::int64_t>(plane.centreLines.size() / 2)});
    return plane;
}

bool isUsableCanvas(QSizeF size) { return size.width() >= 10 && size.height() >= 10; }

// How long an early import waits for the window to give its canvas a size before it leaves the meshes to the
// import that takes it.
constexpr auto kCanvasSizeWait = std::chrono::seconds(10);

// The canvas's first usable size, for work begun before the window existed.
struct LaunchCanvas {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<QSizeF> size;
};

LaunchCanvas& launchCanvas() {
    static LaunchCanvas canvas;
    return canvas;
}

// Hands memory that work just freed back to the system: the allocator keeps it for the thread that freed
// it, and a summary's working set is large and not needed again.
void releaseFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

struct AppModel::EarlyImport {
    std::shared_future<PackagePtr> package;
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<bool> taken{false}; // an importURL took the import: meshes not begun by then are not wanted
    bool making = false;
    bool made = false;
    double scale = 0;
    LayerMeshes meshes;
};

namespace {
std::mutex earlyImportsMutex;
} // namespace

std::map<std::filesystem::path, std::shared_ptr<AppModel::EarlyImport>>& AppModel::earlyImports() {
    static std::map<std::filesystem::path, std::shared_ptr<EarlyImport>> imports;
    return imports;
}

struct AppModel::CompareRowCache {
    std::shared_ptr<const CompareGroups> groups;
    std::shared_ptr<const TessellatedLayer> same, removed, added;
};

// ---- Construction and settings ----------------------------------------------------------------------------

AppModel::AppModel(std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent), settings_(settings ? std::move(settings) : std::make_unique<QSettings>("Corvane", "Corvane")) {
    guiDispatcher();
    presets_ = builtInPresets();
    restoreSettings();
}

AppModel::~AppModel() = default;

std::vector<ManufacturingPreset> AppModel::builtInPresets() {
    return {
        ManufacturingPreset{"Custom", 0.1, 0.1, 0.2, 0.15},
        ManufacturingPreset{"JLCPCB (editable)", 0.1, 0.1, 0.2, 0.15},
        ManufacturingPreset{"PCBWay (editable)", 0.1, 0.1, 0.2, 0.15},
    };
}

void AppModel::restoreSettings() {
    // Assigned directly: restoring is not a change to write back.
    units_ = settings_->value(unitsKey).toString() == QStringLiteral("mil") ? Units::mil : Units::mm;

    if (settings_->contains(presetsKey)) {
        const QByteArray data = settings_->value(presetsKey).toByteArray();
        try {
            presets_ = decodeJSON<std::vector<ManufacturingPreset>>(std::string_view(data.constData(), data.size()));
        } catch (const std::exception&) {
            // An unreadable list leaves the built-in presets in place.
        }
    }

    std::optional<ManufacturingPreset> active;
    if (settings_->contains(activePresetKey)) {
        const std::string name = settings_->value(activePresetKey).toString().toStdString();
        for (const auto& p : presets_) {
            if (p.name == name) {
                active = p;
                break;
            }
        }
    }
    // Through the setter once, so a name that matches nothing is removed from the settings.
    setActivePreset(std::move(active));
}

void AppModel::writeActivePresetSetting() {
    if (activePreset_) settings_->setValue(activePresetKey, QString::fromStdString(activePreset_->name));
    else settings_->remove(activePresetKey);
    settings_->sync();
}

void AppModel::savePresets() {
    std::string text;
    try {
        text = encodeJSON(presets_);
    } catch (const std::exception&) {
        return;  // a list that cannot be written keeps the stored one
    }
    settings_->setValue(presetsKey, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    settings_->sync();
}

RevisionStore& AppModel::revisionStore() {
    if (!revisionStore_) revisionStore_ = std::make_unique<RevisionStore>();
    return *revisionStore_;
}

// ---- Plain setters ----------------------------------------------------------------------------------------

const MeasureIndex* AppModel::measureIndex() const {
    if (!package_) return nullptr;
    if (measureIndexPackage_ != package_) {
        measureIndex_ = std::make_unique<const MeasureIndex>(package_->files);
        measureIndexPackage_ = package_;
    }
    return measureIndex_.get();
}

void AppModel::setPackage(PackagePtr package) {
    package_ = std::move(package);
    layerMeshes_.clear();
    meshScale_ = meshScaleForView();
    if (preparedPackage_ && preparedPackage_ == package_ && preparedScale_ == meshScale_)
        layerMeshes_ = std::move(preparedMeshes_);
    preparedPackage_.reset();
    preparedMeshes_.clear();
    compareCache_.clear();
    Q_EMIT packageChanged();
    rebuildLayers();
}

void AppModel::setLayerStates(std::vector<LayerState> states) {
    layerStates_ = std::move(states);
    Q_EMIT layerStatesChanged();
}

void AppModel::setStatusMessage(std::string message) {
    statusMessage_ = std::move(message);
    Q_EMIT statusMessageChanged();
}

void AppModel::setBoardSummary(std::optional<BoardSummary> summary) {
    boardSummary_ = std::move(summary);
    Q_EMIT boardSummaryChanged();
}

void AppModel::setDrillFiles(std::vector<DrillFileStats> files) {
    drillFiles_ = std::move(files);
    Q_EMIT drillFilesChanged();
}

void AppModel::setUnits(Units units) {
    units_ = units;
    settings_->setValue(unitsKey, units_ == Units::mil ? QStringLiteral("mil") : QStringLiteral("mm"));
    settings_->sync();
    Q_EMIT unitsChanged();
}

void AppModel::setShowGrid(bool on) {
    showGrid_ = on;
    Q_EMIT showGridChanged();
}

void AppModel::setShowOrigin(bool on) {
    showOrigin_ = on;
    Q_EMIT showOriginChanged();
}

void AppModel::setShowCrosshair(bool on) {
    showCrosshair_ = on;
    Q_EMIT showCrosshairChanged();
}

void AppModel::setCamera(const CameraState& camera) {
    const bool turned = camera.mirrored != camera_.mirrored;
    camera_ = camera;
    // Turning the board over changes which side is drawn first.
    if (turned) syncRenderer();
    applyCamera();
}

void AppModel::applyCamera() {
    refreshMeshDetail();
    if (auto* r = renderer()) r->setCamera(camera_);
    Notifications::post(Notifications::overlayNeedsDisplay);
    Q_EMIT cameraChanged();
}

void AppModel::setTool(Tool tool) {
    tool_ = tool;
    Q_EMIT toolChanged();
}

void AppModel::setSelection(std::optional<HitResult> hit) {
    selection_ = std::move(hit);
    Q_EMIT selectionChanged();
}

void AppModel::setMeasurements(std::vector<BoardMeasurement> list) {
    measurements_ = std::move(list);
    Q_EMIT measurementsChanged();
}

void AppModel::setAnnotations(std::vector<Annotation> list) {
    annotations_ = std::move(list);
    Q_EMIT annotationsChanged();
}

void AppModel::setPendingMeasureAnchor(std::optional<Vec2> point) {
    pendingMeasureAnchor_ = point;
    Q_EMIT pendingMeasureAnchorChanged();
}

void AppModel::setPendingAnnotationPreview(std::optional<Annotation> preview) {
    pendingAnnotationPreview_ = std::move(preview);
    Q_EMIT pendingAnnotationPreviewChanged();
}

void AppModel::setCursorWorld(std::optional<Vec2> point) {
    cursorWorld_ = point;
    Q_EMIT cursorWorldChanged();
}

void AppModel::setLocatedPoint(std::optional<Vec2> point, std::optional<BBox> objectBox) {
    if (!point) objectBox.reset();
    if (point == locatedPoint_ && objectBox == locatedObjectBox_) return;
    locatedPoint_ = point;
    locatedObjectBox_ = objectBox;
    Notifications::post(Notifications::overlayNeedsDisplay);
    Q_EMIT locatedPointChanged();
}

void AppModel::setCompareBase(PackagePtr base) {
    compareBase_ = std::move(base);
    compareCache_.clear();
    Q_EMIT compareBaseChanged();
}

void AppModel::setCompareBaseName(std::string name) {
    compareBaseName_ = std::move(name);
    Q_EMIT compareBaseNameChanged();
}

void AppModel::setCompareDiff(std::optional<PackageDiff> diff) {
    compareDiff_ = std::move(diff);
    compareCache_.clear();
    Q_EMIT compareDiffChanged();
}

void AppModel::setCompareRows(std::vector<CompareRow> rows) {
    compareRows_ = std::move(rows);
    compareCache_.clear();
    Q_EMIT compareRowsChanged();
}

void AppModel::setCompareHighlight(std::optional<DiffChange> change) {
    compareHighlight_ = std::move(change);
    Q_EMIT compareHighlightChanged();
}

void AppModel::setDfmReport(std::optional<DFMReport> report) {
    dfmReport_ = std::move(report);
    Q_EMIT dfmReportChanged();
}

void AppModel::setCompareBaseSummary(std::optional<BoardSummary> summary) {
    compareBaseSummary_ = std::move(summary);
    Q_EMIT compareBaseSummaryChanged();
}

void AppModel::setCompareBaseDrillFiles(std::vector<DrillFileStats> files) {
    compareBaseDrillFiles_ = std::move(files);
    Q_EMIT compareBaseDrillFilesChanged();
}

void AppModel::setCompareBaseReport(std::optional<DFMReport> report) {
    compareBaseReport_ = std::move(report);
    Q_EMIT compareBaseReportChanged();
}

void AppModel::setPresets(std::vector<ManufacturingPreset> list) {
    presets_ = std::move(list);
    Q_EMIT presetsChanged();
}

void AppModel::setActivePreset(std::optional<ManufacturingPreset> preset) {
    activePreset_ = std::move(preset);
    writeActivePresetSetting();
    Q_EMIT activePresetChanged();
    recheck();
}

BoardRenderer* AppModel::renderer() const {
    // A renderer that is also a QObject (the GPU canvas) reads as gone once it is destroyed.
    if (rendererIsObject_ && !rendererObject_) return nullptr;
    return renderer_;
}

void AppModel::setRenderer(BoardRenderer* renderer) {
    renderer_ = renderer;
    rendererObject_ = dynamic_cast<QObject*>(renderer);
    rendererIsObject_ = rendererObject_ != nullptr;
}

void AppModel::setPackageSourceURL(std::optional<std::filesystem::path> url) {
    packageSourceURL_ = std::move(url);
    Q_EMIT packageSourceChanged();
}

void AppModel::setLastScreenshot(QImage image) {
    lastScreenshot_ = std::move(image);
    Q_EMIT lastScreenshotChanged();
}

// ---- Import and installation ------------------------------------------------------------------------------

void AppModel::prefetchImport(const std::filesystem::path& url) {
    auto promise = std::make_shared<std::promise<PackagePtr>>();
    auto early = std::make_shared<EarlyImport>();
    early->package = promise->get_future().share();
    {
        std::lock_guard lock(earlyImportsMutex);
        if (!earlyImports().emplace(url, early).second) return;
    }
    // A thread of its own, detached: nothing at exit waits for a read nobody took.
    std::thread([promise, early, url] {
        PackagePtr package;
        try {
            package = std::make_shared<const PCBPackage>(PackageImporter{}.importAny(url));
            promise->set_value(package);
        } catch (...) {
            promise->set_exception(std::current_exception());
            return;
        }
        makeEarlyMeshes(*early, *package);
    }).detach();
}

std::shared_ptr<AppModel::EarlyImport> AppModel::takeEarlyImport(const std::filesystem::path& url) {
    std::lock_guard lock(earlyImportsMutex);
    const auto it = earlyImports().find(url);
    if (it == earlyImports().end()) return nullptr;
    std::shared_ptr<EarlyImport> taken = std::move(it->second);
    earlyImports().erase(it);
    return taken;
}

double AppModel::launchDetailScale(const BBox& board, QSizeF canvas) {
    return detailScaleFor(fittedScale(board, isUsableCanvas(canvas) ? canvas : QSizeF()));
}

void AppModel::makeEarlyMeshes(EarlyImport& early, const PCBPackage& package) {
    LaunchCanvas& launch = launchCanvas();
    QSizeF canvas;
    {
        std::unique_lock lock(launch.mutex);
        launch.changed.wait_for(lock, kCanvasSizeWait, [&] { return launch.size.has_value() || early.taken.load(); });
        if (!launch.size) return;
        canvas = *launch.size;
    }
    {
        std::lock_guard lock(early.mutex);
        if (early.taken) return;
        early.making = true;
        early.scale = launchDetailScale(package.boardBBox(), canvas);
    }
    LayerMeshes meshes;
    bool made = false;
    try {
        meshes = makeLayerMeshes(package, early.scale);
        made = true;
    } catch (const std::bad_alloc&) {
        // Left to the import that takes it, which says so.
    }
    {
        std::lock_guard lock(early.mutex);
        early.making = false;
        early.made = made;
        early.meshes = std::move(meshes);
    }
    early.finished.notify_all();
}

std::optional<AppModel::LayerMeshes> AppModel::takeEarlyMeshes(EarlyImport& early, double scale) {
    std::unique_lock lock(early.mutex);
    early.taken = true;
    {
        // Through the canvas's lock, so that an import about to wait for a canvas sees it taken.
        std::lock_guard canvasLock(launchCanvas().mutex);
    }
    launchCanvas().changed.notify_all(); // an import still waiting for a canvas gives up
    early.finished.wait(lock, [&] { return !early.making; });
    if (!early.made || early.scale != scale) return std::nullopt;
    early.made = false;
    return std::move(early.meshes);
}

void AppModel::announceCanvasSize(QSizeF size) {
    if (!isUsableCanvas(size)) return;
    LaunchCanvas& launch = launchCanvas();
    {
        std::lock_guard lock(launch.mutex);
        if (launch.size) return;
        launch.size = size;
    }
    launch.changed.notify_all();
}

void AppModel::importURL(const std::filesystem::path& url) {
    const std::string name = lastPathComponent(url);
    setStatusMessage("Importing " + name + "\u2026");

    QPointer<AppModel> guard(this);
    const PackageImporter importer = importer_;
    const QSizeF canvas = isUsableCanvas(canvasSize_) ? canvasSize_ : QSizeF();
    std::shared_ptr<EarlyImport> early = takeEarlyImport(url);
    QThreadPool::globalInstance()->start([guard, importer, url, name, canvas, early] {
        const auto start = std::chrono::steady_clock::now();
        PackagePtr package;
        std::string failure;
        try {
            // An import of the same path started earlier gives its package or its failure.
            package = early ? early->package.get() : std::make_shared<const PCBPackage>(importer.importAny(url));
        } catch (const std::exception& e) {
            failure = e.what();
        }
        LayerMeshes meshes;
        double scale = 0;
        std::vector<DrillFileStats> drills;
        std::optional<BoardSummary> summary;
        if (package) {
            // The cache shares the package shown; it is only a cache, so a file that cannot be read again
            // still shows its board.
            try {
                DocumentCache::shared().store(package, PackageImporter::fileShortHash(url));
            } catch (const std::exception&) {
            }
            // The board's geometry is made here too, for the view it will be fitted to, so that the window can
            // draw it as soon as it has it.
            scale = launchDetailScale(package->boardBBox(), canvas);
            try {
                std::optional<LayerMeshes> made = early ? takeEarlyMeshes(*early, scale) : std::nullopt;
                meshes = made ? std::move(*made) : makeLayerMeshes(*package, scale);
                // Loading reads these at once: they are made here, where they keep no one waiting.
                drills = drillTables(*package);
                if (summaryObjectCount(*package) <= summaryInlineObjects) {
                    try {
                        summary = summaryEngine().summarize(*package);
                    } catch (const std::exception&) {
                    }
                }
            } catch (const std::bad_alloc&) {
                // Refused like an import past its ceilings: the board shown so far stays.
                package.reset();
                failure = "'" + name + "' is too large to draw (not enough memory).";
            }
        }
        onGuiThread([guard, package, failure, name, start, url, scale, meshes = std::move(meshes),
                     drills = std::move(drills), summary = std::move(summary)]() mutable {
            if (!guard) return;
            if (!package) {
                guard->setStatusMessage("Import failed: " + failure);
                Q_EMIT guard->importFinished(false);
                return;
            }
            guard->preparedPackage_ = package;
            guard->preparedMeshes_ = std::move(meshes);
            guard->preparedScale_ = scale;
            guard->preparedDrillFiles_ = std::move(drills);
            guard->preparedSummary_ = std::move(summary);
            guard->loadPackage(package);
            guard->setPackageSourceURL(url);
            const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
            guard->setStatusMessage(name + " \u2014 " + std::to_string(package->files.size()) + " files, " +
                                    formatFixed(elapsed.count(), 0) + " ms");
            Q_EMIT guard->importFinished(true);
        });
    });
}

void AppModel::loadPackage(PackagePtr package) {
    if (!package) return;
    // The checks of the new board count as pending from the start: every view that redraws for it says so.
    ++checkRunsPending_;
    // The upload that leaving compare mode would make is redone at once for the new package.
    resetCompareState();
    setPackageSourceURL(std::nullopt);
    // The board is fitted below: its meshes are made for that view right away, not for the one before.
    const BBox fitted = package->boardBBox();
    if (isUsableCanvas(canvasSize_) && fitted.isValid()) plannedViewScale_ = fittedScale(fitted, canvasSize_);
    const bool prepared = preparedPackage_ == package;
    std::vector<DrillFileStats> drills = prepared ? std::move(preparedDrillFiles_) : drillTables(*package);
    std::optional<BoardSummary> summary = prepared ? std::move(preparedSummary_) : std::nullopt;
    preparedDrillFiles_.clear();
    preparedSummary_.reset();
    setPackage(package);
    plannedViewScale_.reset();
    setDfmReport(std::nullopt);
    setMeasurements({});
    setAnnotations({});
    setSelection(std::nullopt);
    setPendingMeasureAnchor(std::nullopt);
    setLocatedPoint(std::nullopt);

    setDrillFiles(std::move(drills));
    refreshSummary(Revision::shown, std::move(summary));
    showBoardDimensions(true);

    const BBox board = package->boardBBox();
    if (canvasSize_.width() > 10 && isUsableCanvas(canvasSize_) && board.isValid()) {
        hasFitted_ = true;
        fitBBox(board);
    }
    // The board is drawn first; the checks fill in after.
    QPointer<AppModel> guard(this);
    afterPendingRepaints([guard] {
        if (!guard) return;
        --guard->checkRunsPending_;
        guard->recheck();
    });
}

std::vector<DrillFileStats> AppModel::drillTables(const PCBPackage& package) {
    std::vector<DrillFileStats> drills;
    for (const auto& f : package.files) {
        if (!f.drill) continue;
        const auto plating = f.drill->platingCounts();
        drills.push_back(DrillFileStats{f.fileName, f.drill->stats(), plating.pth, plating.npth});
    }
    return drills;
}

void AppModel::assignSummary(Revision revision, std::optional<BoardSummary> summary) {
    if (revision == Revision::shown) setBoardSummary(std::move(summary));
    else setCompareBaseSummary(std::move(summary));
}

std::size_t AppModel::summaryObjectCount(const PCBPackage& package) {
    std::size_t objects = 0;
    for (const auto& f : package.files)
        objects += (f.gerber ? f.gerber->objects.size() : 0) + (f.drill ? static_cast<std::size_t>(f.drill->totalCount()) : 0);
    return objects;
}

BoardSummaryEngine AppModel::summaryEngine() {
    BoardSummaryEngine engine;
    engine.timeBudget = summaryTimeBudget;
    return engine;
}

void AppModel::refreshSummary(Revision revision, std::optional<BoardSummary> made) {
    const PackagePtr package = revision == Revision::shown ? package_ : compareBase_;
    if (!package) return;
    std::uint64_t& runs = revision == Revision::shown ? summaryRun_ : baseSummaryRun_;
    bool& pending = revision == Revision::shown ? summaryPending_ : baseSummaryPending_;
    const std::uint64_t run = ++runs;
    const BoardSummaryEngine engine = summaryEngine();
    if (summaryObjectCount(*package) <= summaryInlineObjects) {
        pending = false;
        assignSummary(revision, made ? std::move(made) : engine.summarize(*package));
        return;
    }
    // A large board is drawn before its summary is made; the result is taken only if no later run began.
    pending = true;
    assignSummary(revision, std::nullopt);
    QPointer<AppModel> guard(this);
    const auto current = [revision](AppModel& m, std::uint64_t r) {
        return (revision == Revision::shown ? m.summaryRun_ : m.baseSummaryRun_) == r;
    };
    afterPendingRepaints([guard, engine, package, run, revision, current] {
        if (!guard || !current(*guard, run)) return;
        // Nobody waits for the summary but the panel that shows it: it runs behind everything else.
        runInBackground([guard, engine, package, run, revision, current] {
            std::optional<BoardSummary> summary;
            try {
                summary = engine.summarize(*package);
            } catch (const std::exception&) {
            }
            releaseFreedMemory();
            onGuiThread([guard, run, revision, current, summary = std::move(summary)] {
                if (!guard || !current(*guard, run)) return;
                (revision == Revision::shown ? guard->summaryPending_ : guard->baseSummaryPending_) = false;
                guard->assignSummary(revision, summary);
            });
        });
    });
}

void AppModel::resetCompareState() {
    setLocatedPoint(std::nullopt);
    setCompareBase(nullptr);
    setCompareDiff(std::nullopt);
    setCompareRows({});
    setCompareHighlight(std::nullopt);
    ++baseSummaryRun_;  // a summary of the old revision A still being made is not wanted any more
    baseSummaryPending_ = false;
    setCompareBaseSummary(std::nullopt);
    setCompareBaseDrillFiles({});
    setCompareBaseReport(std::nullopt);
}

void AppModel::clearCompare() {
    resetCompareState();
    syncRenderer();
}

// ---- Layers -----------------------------------------------------------------------------------------------

double AppModel::defaultOpacity(const LayerType& type) {
    if (type.as<LayerType::SolderMask>()) return 0.45;
    if (type.as<LayerType::Paste>()) return 0.8;
    if (type.as<LayerType::Silkscreen>()) return 0.9;
    return 1.0;
}

QColor AppModel::defaultLayerColor(const LayerType& type) {
    const RGBAColor c = SoftwareRenderer::defaultColor(type);
    QColor color = QColor::fromRgbF(static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                                    static_cast<float>(c.a));
    return color.isValid() ? color : QColor(0, 122, 255);  // the system blue
}

BoardRenderer::Color AppModel::simdColor(const QColor& color) {
    if (!color.isValid()) return {1.0f, 1.0f, 1.0f, 1.0f};
    const QColor rgb = color.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), 1.0f};
}

std::vector<std::size_t> AppModel::filesInCategoryOrder() const {
    std::vector<std::size_t> order;
    if (!package_) return order;
    order.reserve(package_->files.size());
    for (std::size_t i = 0; i < package_->files.size(); ++i) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        return layerOrder(package_->files[a].layerType) < layerOrder(package_->files[b].layerType);
    });
    return order;
}

std::vector<std::size_t> AppModel::filesInDrawingOrder(bool mirrored) const {
    if (!package_) return {};
    std::vector<LayerType> types;
    types.reserve(package_->files.size());
    for (const auto& f : package_->files) types.push_back(f.layerType);
    return layerDrawOrder(types, mirrored ? ViewedSide::bottom : ViewedSide::top);
}

void AppModel::rebuildLayers() {
    if (!package_) {
        setLayerStates({});
        return;
    }
    std::vector<LayerState> states;
    states.reserve(package_->files.size());
    for (std::size_t i : filesInCategoryOrder()) {
        const PackageFile& f = package_->files[i];
        LayerState s;
        s.id = f.fileName;
        s.displayName = f.fileName;
        s.typeName = f.layerType.displayName();
        s.visible = true;
        s.opacity = defaultOpacity(f.layerType);
        s.color = defaultLayerColor(f.layerType);
        s.categoryOrder = layerOrder(f.layerType);
        s.objectCount = f.gerber ? static_cast<std::int64_t>(f.gerber->objects.size()) : f.drill ? f.drill->totalCount() : 0;
        states.push_back(std::move(s));
    }
    setLayerStates(std::move(states));
    syncRenderer();
}

std::array<std::string, 2> AppModel::revisionNames() const {
    const std::string shown = package_ ? package_->name : std::string();
    if (!compareBase_) return {shown, shown};
    return {compareBaseName_.empty() ? compareBase_->name : compareBaseName_, shown};
}

std::array<std::string, 2> AppModel::revisionTitles() const {
    const auto names = revisionNames();
    return {"Revision A \u2014 " + names[0], "Revision B \u2014 " + names[1]};
}

bool AppModel::isNegativePlane(const PackageFile& file) {
    if (!file.gerber) return false;
    if (file.filePolarityNegative()) return true;
    if (!file.layerType.as<LayerType::SolderMask>() || file.gerber->objects.empty()) return false;
    return std::all_of(file.gerber->objects.begin(), file.gerber->objects.end(),
                       [](const PCBObject& o) { return o.polarity == Polarity::clear; });
}

std::optional<BBox> AppModel::negativePlaneBox(const PCBPackage& package, const PackageFile& file) {
    if (const BBox outline = package.outlineBBox(); outline.isValid()) return outline;
    if (file.gerber && file.gerber->bbox.isValid()) return file.gerber->bbox;
    return std::nullopt;
}

void AppModel::ensureLayerMeshes(const std::vector<std::size_t>& fileIndices) {
    std::vector<std::size_t> missing;
    for (std::size_t i : fileIndices)
        if (!layerMeshes_.count(package_->files[i].fileName)) missing.push_back(i);
    if (missing.empty()) return;
    layerMeshes_.merge(makeLayerMeshes(*package_, std::move(missing), meshScale_));
}

double AppModel::meshScaleForView() const {
    // Without a canvas the view is not known: full detail is right for any.
    if (!isUsableCanvas(canvasSize_)) return 0;
    return detailScaleFor(plannedViewScale_.value_or(camera_.pxPerMM));
}

void AppModel::refreshMeshDetail() {
    if (!package_ || compareDiff_ || meshScaleForView() == meshScale_) return;
    // Zoomed past what the meshes were made for, or far below it: made again for this view.
    layerMeshes_.clear();
    meshScale_ = meshScaleForView();
    syncRenderer();
}

AppModel::LayerMeshes AppModel::makeLayerMeshes(const PCBPackage& package, double scale) {
    std::vector<std::size_t> all(package.files.size());
    std::iota(all.begin(), all.end(), std::size_t{0});
    return makeLayerMeshes(package, std::move(all), scale);
}

AppModel::LayerMeshes AppModel::makeLayerMeshes(const PCBPackage& pkg, std::vector<std::size_t> fileIndices,
                                                double scale) {
    // The largest files first, so that no thread is left with a big one at the end.
    auto weight = [&pkg](std::size_t i) {
        const auto& f = pkg.files[i];
        return (f.gerber ? f.gerber->objects.size() : 0) + (f.drill ? static_cast<std::size_t>(f.drill->totalCount()) : 0);
    };
    std::stable_sort(fileIndices.begin(), fileIndices.end(), [&](std::size_t a, std::size_t b) { return weight(a) > weight(b); });

    const Tessellator geom = canvasGeometry(scale);
    std::vector<std::shared_ptr<const TessellatedLayer>> made(fileIndices.size());
    parallelFor(fileIndices.size(), [&](std::size_t k) {
        const PackageFile& f = pkg.files[fileIndices[k]];
        TessellatedLayer layer = f.gerber && !f.drill ? geom.tessellate(f.gerber->objects) : geom.tessellate(f.objects());
        if (isNegativePlane(f))
            if (const auto box = negativePlaneBox(pkg, f)) layer = negativePlaneMesh(std::move(layer), *box);
        made[k] = std::make_shared<const TessellatedLayer>(std::move(layer));
    });
    LayerMeshes meshes;
    for (std::size_t k = 0; k < fileIndices.size(); ++k) meshes.emplace(pkg.files[fileIndices[k]].fileName, std::move(made[k]));
    return meshes;
}

void AppModel::syncRenderer() {
    BoardRenderer* r = renderer();
    if (!r || !package_) return;
    r->removeAllLayers();
    if (compareDiff_) {
        syncCompareRenderer();
        return;
    }

    auto stateFor = [this](const std::string& id) -> const LayerState* {
        for (const auto& s : layerStates_)
            if (s.id == id) return &s;
        return nullptr;
    };
    std::vector<std::size_t> order;
    for (std::size_t i : filesInDrawingOrder(camera_.mirrored))
        if (stateFor(package_->files[i].fileName)) order.push_back(i);
    ensureLayerMeshes(order);

    // Solo ids of layers that no longer exist are ignored.
    const bool soloActive = std::any_of(layerStates_.begin(), layerStates_.end(),
                                        [this](const LayerState& s) { return soloSet_.count(s.id) > 0; });
    for (std::size_t i : order) {
        const std::string& name = package_->files[i].fileName;
        const LayerState& s = *stateFor(name);
        const bool visible = s.visible && !(soloActive && !soloSet_.count(s.id));
        r->setLayer(layerRendererID(name), simdColor(s.color), static_cast<float>(s.opacity), visible, layerMeshes_.at(name));
    }
}

void AppModel::recheck() {
    runChecks(Revision::shown);
    if (compareBase_) runChecks(Revision::base);
}

void AppModel::runChecks(Revision revision) {
    const PackagePtr package = revision == Revision::shown ? package_ : compareBase_;
    if (!package) return;
    QPointer<AppModel> guard(this);
    std::optional<ManufacturingPreset> preset = activePreset_;
    ++checkRunsPending_;
    runInBackground([guard, package, preset, revision] {
        std::optional<DFMReport> report;
        try {
            report = DFMEngine().runChecks(*package, preset);
        } catch (const std::exception&) {
        }
        onGuiThread([guard, package, report, revision] {
            if (!guard) return;
            --guard->checkRunsPending_;
            // Revision A's report is taken only while that revision is still compared.
            if (report && revision == Revision::shown) guard->setDfmReport(report);
            if (report && revision == Revision::base && guard->compareBase_ == package) guard->setCompareBaseReport(report);
            Q_EMIT guard->checksFinished();
        });
    });
}

void AppModel::toggleSolo(const std::string& id) {
    if (!soloSet_.erase(id)) soloSet_.insert(id);
    syncRenderer();
    Q_EMIT soloChanged();
}

void AppModel::setLayerVisible(const std::string& id, bool visible) {
    for (auto& s : layerStates_) {
        if (s.id != id) continue;
        s.visible = visible;
        Q_EMIT layerStatesChanged();
        syncRenderer();
        return;
    }
}

void AppModel::setLayerColor(const std::string& id, const QColor& color) {
    for (auto& s : layerStates_) {
        if (s.id != id) continue;
        s.color = color;
        Q_EMIT layerStatesChanged();
        syncRenderer();
        return;
    }
}

void AppModel::moveLayer(const std::string& id, bool up) {
    const auto it = std::find_if(layerStates_.begin(), layerStates_.end(), [&](const LayerState& s) { return s.id == id; });
    if (it == layerStates_.end()) return;
    const auto i = static_cast<std::ptrdiff_t>(it - layerStates_.begin());
    const std::ptrdiff_t target = up ? i - 1 : i + 1;
    if (target < 0 || target >= static_cast<std::ptrdiff_t>(layerStates_.size())) return;
    std::swap(layerStates_[static_cast<std::size_t>(i)], layerStates_[static_cast<std::size_t>(target)]);
    Q_EMIT layerStatesChanged();
    syncRenderer();
}

void AppModel::setManualLayerType(const std::string& fileName, const LayerType& type) {
    if (!package_) return;
    auto changed = std::make_shared<PCBPackage>(*package_);
    const auto it = std::find_if(changed->files.begin(), changed->files.end(),
                                 [&](const PackageFile& f) { return f.fileName == fileName; });
    if (it == changed->files.end()) return;
    it->layerType = type;
    it->confidence = DetectionConfidence::manual;
    setPackage(std::move(changed));
    setStatusMessage("Layer type of " + fileName + " set to " + type.displayName());
    // The summary and the checks judge layer roles: an outline just set is no longer missing. The board's
    // size follows the roles too, in the summary and in the "Board Dimensions" measurement alike.
    refreshSummary();
    showBoardDimensions(false);
    recheck();
}

// ---- Comparison -------------------------------------------------------------------------------------------

void AppModel::startCompare(PackagePtr base, const std::string& baseName, PackagePtr revised) {
    if (!base || !revised) return;
    // Everything below uploads again, so leaving the old mode sends nothing of its own.
    resetCompareState();

    // The rows are the layers both revisions have; their groups and meshes do not need the comparison's
    // result, so they are made while it runs.
    auto diffRun = std::async(std::launch::async, [&base, &revised] {
        return DiffEngine{compareToleranceMM}.compare(*base, *revised);
    });
    std::map<std::string, std::shared_ptr<const CompareRowCache>> prepared;
    std::exception_ptr failure;
    try {
        const unsigned threads = std::max(1u, std::thread::hardware_concurrency() - 1);
        std::vector<CompareRow> shared;
        for (auto& key : sharedLayerKeys(*base, *revised)) shared.push_back(CompareRow{std::move(key)});
        prepared = makeCompareCaches(shared, *base, *revised, threads);
    } catch (...) {
        failure = std::current_exception();
    }
    PackageDiff diff = diffRun.get();
    if (failure) std::rethrow_exception(failure);

    // The rows are made first so that the comparison itself can be moved into place.
    std::vector<CompareRow> rows = compareRowsOf(diff, *revised);
    const std::string nameA = revisionName(baseName);
    const std::string status = "Compare " + nameA + " \u2192 " + diff.nameB + ": " +
                               std::to_string(diff.totalChanges()) + (diff.totalChanges() == 1 ? " change" : " changes");

    setCompareBase(base);
    setCompareBaseName(nameA);
    setCompareDiff(std::move(diff));
    setPackage(revised);
    setCompareRows(std::move(rows));
    compareCache_ = std::move(prepared);
    setStatusMessage(status);

    const BBox board = revised->boardBBox();
    if (canvasSize_.width() > 10 && isUsableCanvas(canvasSize_) && board.isValid()) {
        hasFitted_ = true;
        fitBBox(board);
    }
    syncRenderer();
    holdBothRevisions();
}

void AppModel::holdBothRevisions() {
    // However the comparison was started, each revision is held whole: its drill tables, summary and checks,
    // so that nothing shown of either stands for a check that did not run.
    // The comparison is drawn first; the checks fill in after, pending from now on.
    ++checkRunsPending_;
    setDrillFiles(drillTables(*package_));
    setCompareBaseDrillFiles(drillTables(*compareBase_));
    refreshSummary(Revision::shown);
    refreshSummary(Revision::base);
    setDfmReport(std::nullopt);
    setCompareBaseReport(std::nullopt);
    QPointer<AppModel> guard(this);
    const PackagePtr base = compareBase_;
    afterPendingRepaints([guard, base] {
        if (!guard) return;
        --guard->checkRunsPending_;
        if (guard->compareBase_ == base) guard->recheck();
        else Q_EMIT guard->checksFinished();
    });
}

std::string AppModel::compareKey(const PackageFile& file) {
    return file.layerType.isDrill() ? std::string("Drill") : file.layerType.displayName();
}

std::vector<std::string> AppModel::compareKeysInDrawingOrder(bool mirrored) const {
    std::vector<LayerType> types;
    std::vector<std::string> keys;
    for (const auto& row : compareRows_) {
        // The role of the first file of either revision that belongs to the row.
        std::optional<LayerType> type;
        for (const auto& [p, fileName] : {std::pair{package_, row.fileNameB}, std::pair{compareBase_, row.fileNameA}}) {
            if (!p || type) continue;
            for (const auto& f : p->files) {
                if (!rowTakes(row, f, fileName)) continue;
                type = f.layerType;
                break;
            }
        }
        types.push_back(type.value_or(LayerType::unknown()));
        keys.push_back(row.layerKey);
    }
    std::vector<std::string> ordered;
    ordered.reserve(keys.size());
    for (std::size_t i : layerDrawOrder(types, mirrored ? ViewedSide::bottom : ViewedSide::top)) ordered.push_back(keys[i]);
    return ordered;
}

std::vector<std::string> AppModel::sharedLayerKeys(const PCBPackage& a, const PCBPackage& b) {
    // Only a role with one file on each side is sure to be one row of that name: one that several files
    // share is paired file by file. The drill row takes every drill file.
    auto keysOf = [](const PCBPackage& p) {
        std::map<std::string, int> count;
        for (const auto& f : p.files) ++count[compareKey(f)];
        std::set<std::string> keys;
        for (const auto& [key, n] : count)
            if (n == 1 || key == "Drill") keys.insert(key);
        return keys;
    };
    const auto ka = keysOf(a), kb = keysOf(b);
    std::vector<std::string> shared;
    std::set_intersection(ka.begin(), ka.end(), kb.begin(), kb.end(), std::back_inserter(shared));
    return shared;
}

CompareGroups AppModel::compareGroupedObjects(const CompareRow& row, const PCBPackage& base, const PCBPackage& revised) {
    auto objectsFor = [&row](const PCBPackage& pkg, const std::string& fileName) {
        std::vector<PCBObject> list;
        for (const auto& f : pkg.files) {
            if (!rowTakes(row, f, fileName)) continue;
            if (f.gerber && !f.drill) {
                list.insert(list.end(), f.gerber->objects.begin(), f.gerber->objects.end());
                continue;
            }
            auto objs = f.objects();
            list.insert(list.end(), std::make_move_iterator(objs.begin()), std::make_move_iterator(objs.end()));
        }
        return list;
    };
    std::vector<PCBObject> a = objectsFor(base, row.fileNameA);
    std::vector<PCBObject> b = objectsFor(revised, row.fileNameB);

    // Rows that join several files repeat stored indices (drill hits start at 0 in every file), so list A
    // is numbered by position for the match and given its own indices back afterwards.
    std::vector<std::int64_t> stored(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        stored[i] = a[i].index;
        a[i].index = static_cast<std::int64_t>(i);
    }
    ObjectDiff diff = DiffEngine{compareToleranceMM}.compareObjects(a, b);
    std::vector<bool> isRemoved(a.size(), false);
    for (auto& o : diff.removed) {
        const auto pos = static_cast<std::size_t>(o.index);
        isRemoved[pos] = true;
        o.index = stored[pos];
    }
    CompareGroups groups;
    groups.same.reserve(a.size() - std::min(a.size(), diff.removed.size()));
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isRemoved[i]) continue;
        a[i].index = stored[i];
        groups.same.push_back(std::move(a[i]));
    }
    groups.removed = std::move(diff.removed);
    groups.added = std::move(diff.added);
    return groups;
}

std::shared_ptr<const AppModel::CompareRowCache> AppModel::makeCompareRowCache(const CompareRow& row,
                                                                               const PCBPackage& base,
                                                                               const PCBPackage& revised) {
    const Tessellator geom = canvasGeometry();
    auto cache = std::make_shared<CompareRowCache>();
    auto groups = std::make_shared<CompareGroups>(compareGroupedObjects(row, base, revised));
    cache->same = tessellateShared(geom, groups->same);
    cache->removed = tessellateShared(geom, groups->removed);
    cache->added = tessellateShared(geom, groups->added);
    cache->groups = std::move(groups);
    return cache;
}

std::map<std::string, std::shared_ptr<const AppModel::CompareRowCache>>
AppModel::makeCompareCaches(const std::vector<CompareRow>& rows, const PCBPackage& base, const PCBPackage& revised,
                            unsigned maxThreads) {
    std::vector<std::shared_ptr<const CompareRowCache>> made(rows.size());
    parallelFor(rows.size(), [&](std::size_t i) { made[i] = makeCompareRowCache(rows[i], base, revised); }, maxThreads);
    std::map<std::string, std::shared_ptr<const CompareRowCache>> out;
    for (std::size_t i = 0; i < rows.size(); ++i) out.emplace(rows[i].layerKey, std::move(made[i]));
    return out;
}

void AppModel::ensureCompareCaches() {
    if (!package_ || !compareBase_ || !compareDiff_) return;
    std::vector<CompareRow> missing;
    for (const auto& row : compareRows_)
        if (!compareCache_.count(row.layerKey))
            missing.push_back(CompareRow{row.layerKey, 0, 0, {}, {}, row.fileNameA, row.fileNameB});
    if (missing.empty()) return;
    compareCache_.merge(makeCompareCaches(missing, *compareBase_, *package_));
}

std::shared_ptr<const CompareGroups> AppModel::compareGroups(const std::string& layerKey) {
    ensureCompareCaches();
    const auto it = compareCache_.find(layerKey);
    return it == compareCache_.end() ? nullptr : it->second->groups;
}

std::shared_ptr<const CompareGroups> AppModel::compareGroupsFor(const std::string& layerKey) const {
    if (!package_ || !compareBase_ || !compareDiff_) return nullptr;
    if (const auto it = compareCache_.find(layerKey); it != compareCache_.end()) return it->second->groups;
    const auto row = std::find_if(compareRows_.begin(), compareRows_.end(),
                                  [&](const CompareRow& r) { return r.layerKey == layerKey; });
    if (row == compareRows_.end()) return nullptr;
    return std::make_shared<const CompareGroups>(compareGroupedObjects(*row, *compareBase_, *package_));
}

void AppModel::adoptComparison(const AppModel& source) {
    if (!source.compareDiff_ || !source.compareBase_ || !source.package_) return;
    setCompareBase(source.compareBase_);
    setCompareBaseName(source.compareBaseName_);
    setCompareDiff(source.compareDiff_);
    setPackage(source.package_);
    setCompareRows(source.compareRows_);
    setCompareHighlight(source.compareHighlight_);
    compareCache_ = source.compareCache_;
}

void AppModel::syncCompareRenderer() {
    BoardRenderer* r = renderer();
    if (!package_ || !compareBase_ || !compareDiff_ || !r) return;
    ensureCompareCaches();
    for (const auto& key : compareKeysInDrawingOrder(camera_.mirrored)) {
        const auto it = compareCache_.find(key);
        if (it == compareCache_.end()) continue;
        const CompareRowCache& c = *it->second;
        if (c.groups->same.empty() && c.groups->removed.empty() && c.groups->added.empty()) continue;
        const std::string prefix = "diff:" + key;
        r->setLayer(prefix + ":same", kSameColor, kSameOpacity, true, c.same);
        r->setLayer(prefix + ":removed", kRemovedColor, kChangeOpacity, true, c.removed);
        r->setLayer(prefix + ":added", kAddedColor, kChangeOpacity, true, c.added);
    }
}

// ---- Camera -----------------------------------------------------------------------------------------------

void AppModel::fitBBox(const BBox& box) {
    if (!box.isValid()) return;
    const double W = canvasSize_.width(), H = canvasSize_.height();
    if (!(W > 10)) return;
    const double k = std::min(W / std::max(1.6 * box.width(), 0.5), H / std::max(1.6 * box.height(), 0.5));
    const Vec2 center = box.center();
    // A scale of zero or one that is not finite would make every later mapping from the view divide by it.
    if (!(k > 0) || !std::isfinite(k) || !std::isfinite(center.x) || !std::isfinite(center.y)) return;
    camera_.center = center;
    camera_.pxPerMM = k;
    applyCamera();
}

void AppModel::zoomTo(Vec2 position, double spanMM) {
    if (!std::isfinite(position.x) || !std::isfinite(position.y)) return;
    camera_.center = position;
    const double W = canvasSize_.width(), H = canvasSize_.height();
    if (W > 10) {
        const double k = std::min(W, H) / std::max(spanMM, 0.5);
        if (k > 0 && std::isfinite(k)) camera_.pxPerMM = k;
    }
    applyCamera();
}

void AppModel::locate(Vec2 position, double spanMM, std::optional<QRectF> viewArea) {
    if (!std::isfinite(position.x) || !std::isfinite(position.y)) return;
    const QRectF whole(QPointF(0, 0), canvasSize_);
    const QRectF area = viewArea ? viewArea->intersected(whole) : whole;
    if (!viewArea || !(area.width() > 10) || !(area.height() > 10) || !(canvasSize_.width() > 10)) {
        zoomTo(position, spanMM);
    } else {
        const double k = std::min(area.width(), area.height()) / std::max(spanMM, 0.5);
        if (k > 0 && std::isfinite(k)) camera_.pxPerMM = k;
        // The centre that maps the place to the middle of the area, as the canvas maps board points.
        const double s = camera_.mirrored ? -1.0 : 1.0;
        const QPointF middle = area.center();
        camera_.center = Vec2{position.x - s * (middle.x() - canvasSize_.width() / 2) / camera_.pxPerMM,
                              position.y + (middle.y() - canvasSize_.height() / 2) / camera_.pxPerMM};
        applyCamera();
    }
    setLocatedPoint(position, package_ ? locatedObjectBox(*package_, position) : std::nullopt);
}

std::optional<BBox> AppModel::locatedObjectBox(const PCBPackage& package, Vec2 at) {
    // A finding's place is on objects (a pad and the hole in it, say) or between them. The largest small one it
    // is on, of any layer, is ringed whole, so the mark shows what is there instead of covering it; a long track
    // or a pour is not ringed.
    std::optional<BBox> best;
    const auto consider = [&](const BBox& box) {
        if (!box.isValid() || std::max(box.width(), box.height()) > kRingedWholeMM) return;
        const double t = kLocatedObjectToleranceMM;
        if (at.x < box.minX - t || at.x > box.maxX + t || at.y < box.minY - t || at.y > box.maxY + t) return;
        if (!best || box.width() * box.height() > best->width() * best->height()) best = box;
    };
    for (const auto& file : package.files) {
        if (file.gerber && !file.drill) {
            for (const auto& o : file.gerber->objects) consider(o.bbox);
            continue;
        }
        for (const auto& o : file.objects()) consider(o.bbox);
    }
    return best;
}

void AppModel::showChange(const DiffChange& change) {
    setCompareHighlight(change);
    if (!change.bbox.isValid()) return;
    fitBBox(change.bbox);
    // A pad fitted alone fills the canvas with nothing around it to tell where it is.
    const double W = canvasSize_.width(), H = canvasSize_.height();
    if (W > 10 && camera_.pxPerMM > std::min(W, H) / locateSpanMM) zoomTo(change.bbox.center(), locateSpanMM);
}

void AppModel::canvasSizeChanged(QSizeF size) {
    const QSizeF old = canvasSize_;
    canvasSize_ = size;
    announceCanvasSize(size);
    refreshMeshDetail();
    if (isUsableCanvas(old) || !isUsableCanvas(size) || hasFitted_ || !package_) return;
    const BBox board = package_->boardBBox();
    if (!board.isValid()) return;
    hasFitted_ = true;
    fitBBox(board);
}

// ---- Measurements -----------------------------------------------------------------------------------------

void AppModel::addMeasurement(BoardMeasurement measurement) {
    auto list = measurements_;
    const bool hasDimensions = std::any_of(list.begin(), list.end(), [](const BoardMeasurement& m) {
        return m.kind == MeasurementKind::boardDimensions;
    });
    list.insert(list.begin() + (hasDimensions ? 1 : 0), std::move(measurement));
    if (list.size() > maxMeasurements) list.resize(maxMeasurements);
    setMeasurements(std::move(list));
}

void AppModel::showBoardDimensions(bool addWhenAbsent) {
    if (!package_) return;
    auto list = measurements_;
    const auto shown = std::find_if(list.begin(), list.end(),
                                    [](const BoardMeasurement& m) { return m.kind == MeasurementKind::boardDimensions; });
    auto fresh = measureEngine_.boardDimensionMeasurement(*package_, units_);
    if (shown == list.end()) {
        if (!addWhenAbsent || !fresh) return;
        list.insert(list.begin(), std::move(*fresh));
        if (list.size() > maxMeasurements) list.resize(maxMeasurements);
    } else if (fresh) {
        // The same measurement, measured anew: it keeps its place and its identity.
        fresh->id = shown->id;
        fresh->createdAt = shown->createdAt;
        *shown = std::move(*fresh);
    } else {
        list.erase(shown);
    }
    setMeasurements(std::move(list));
}

void AppModel::clearMeasurements() {
    auto list = measurements_;
    std::erase_if(list, [](const BoardMeasurement& m) { return m.kind != MeasurementKind::boardDimensions; });
    setMeasurements(std::move(list));
}

} // namespace corvane
