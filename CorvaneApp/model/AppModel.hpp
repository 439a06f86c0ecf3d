#pragma once
// The desktop program's one state object: the board on screen, its layers, checks, comparison, camera and
// measurements, and the user settings. GUI thread only: background work hands its results back through
// queued calls before anything here is touched.
#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include "checks/DiffEngine.hpp"
#include "checks/MeasureEngine.hpp"
#include "store/RevisionStore.hpp"
#include "model/CameraState.hpp"
#include "import/PackageImporter.hpp"
#include "model/Annotation.hpp"
#include "model/BoardRenderer.hpp"
#include "model/LayerState.hpp"
#include "model/Model.hpp"
#include "model/Tool.hpp"

namespace corvane {

struct BoardSummaryEngine;

// The three groups of one compare row: in both revisions, only in A, only in B.
struct CompareGroups {
    std::vector<PCBObject> same;
    std::vector<PCBObject> removed;
    std::vector<PCBObject> added;
};

class AppModel : public QObject {
    Q_OBJECT
public:
    using PackagePtr = std::shared_ptr<const PCBPackage>;

    // Settings keys; "launchedOnce" belongs to the application delegate, which shares these settings.
    static constexpr const char* unitsKey = "units";
    static constexpr const char* presetsKey = "presets";
    static constexpr const char* activePresetKey = "activePreset";
    static constexpr const char* launchedOnceKey = "launchedOnce";

    static constexpr std::size_t maxMeasurements = 20;
    static constexpr double compareToleranceMM = 0.0001;
    // The span "Locate" shows around a finding, and the least a change is shown with: enough of the board
    // around a place to tell where on it the place is.
    static constexpr double locateSpanMM = 12.0;
    static constexpr double summaryTimeBudget = 2.0;
    // Boards with more objects than this are summarised on a worker thread, so that the board is shown
    // first; smaller ones at once.
    static constexpr std::size_t summaryInlineObjects = 20000;

    // Restores the settings from `settings`, or from QSettings("Corvane", "Corvane") when none is given.
    explicit AppModel(std::unique_ptr<QSettings> settings = nullptr, QObject* parent = nullptr);
    ~AppModel() override;

    static std::vector<ManufacturingPreset> builtInPresets();
    QSettings& settings() { return *settings_; }

    // ---- State ------------------------------------------------------------------------------------------
    const PackagePtr& package() const { return package_; }
    // Every assignment rebuilds the layer list.
    void setPackage(PackagePtr package);
    const std::vector<LayerState>& layerStates() const { return layerStates_; }
    void setLayerStates(std::vector<LayerState> states);
    const std::string& statusMessage() const { return statusMessage_; }
    void setStatusMessage(std::string message);
    const std::optional<BoardSummary>& boardSummary() const { return boardSummary_; }
    void setBoardSummary(std::optional<BoardSummary> summary);
    // True while a large board's summary (either revision's in compare mode) is being made; boardSummaryChanged
    // or compareBaseSummaryChanged follows when it is assigned.
    bool summaryPending() const { return summaryPending_ || baseSummaryPending_; }
    const std::vector<DrillFileStats>& drillFiles() const { return drillFiles_; }
    void setDrillFiles(std::vector<DrillFileStats> files);
    Units units() const { return units_; }
    // Every assignment is written to the settings.
    void setUnits(Units units);
    bool showGrid() const { return showGrid_; }
    void setShowGrid(bool on);
    bool showOrigin() const { return showOrigin_; }
    void setShowOrigin(bool on);
    bool showCrosshair() const { return showCrosshair_; }
    void setShowCrosshair(bool on);
    const CameraState& camera() const { return camera_; }
    // Copies the camera into the renderer, asks for the overlay to be redrawn and signals cameraChanged.
    void setCamera(const CameraState& camera);
    Tool tool() const { return tool_; }
    void setTool(Tool tool);
    const std::optional<HitResult>& selection() const { return selection_; }
    void setSelection(std::optional<HitResult> hit);
    const std::vector<BoardMeasurement>& measurements() const { return measurements_; }
    void setMeasurements(std::vector<BoardMeasurement> list);
    const std::vector<Annotation>& annotations() const { return annotations_; }
    void setAnnotations(std::vector<Annotation> list);
    const std::optional<Vec2>& pendingMeasureAnchor() const { return pendingMeasureAnchor_; }
    void setPendingMeasureAnchor(std::optional<Vec2> point);
    const std::optional<Annotation>& pendingAnnotationPreview() const { return pendingAnnotationPreview_; }
    void setPendingAnnotationPreview(std::optional<Annotation> preview);
    const std::optional<Vec2>& cursorWorld() const { return cursorWorld_; }
    void setCursorWorld(std::optional<Vec2> point);
    // The place "Locate" went to, marked on the canvas until the next click on it.
    const std::optional<Vec2>& locatedPoint() const { return locatedPoint_; }
    // The box of the object at that place, if one is there: the mark stands around it, not over it.
    const std::optional<BBox>& locatedObjectBox() const { return locatedObjectBox_; }
    void setLocatedPoint(std::optional<Vec2> point, std::optional<BBox> objectBox = std::nullopt);
    const std::optional<Vec2>& pendingTextLocation() const { return pendingTextLocation_; }
    void setPendingTextLocation(std::optional<Vec2> point) { pendingTextLocation_ = point; }
    const PackagePtr& compareBase() const { return compareBase_; }
    void setCompareBase(PackagePtr base);
    const std::string& compareBaseName() const { return compareBaseName_; }
    // The names of the revisions compared, A's and the shown one's; outside compare mode both are the shown
    // board's (empty without one).
    std::array<std::string, 2> revisionNames() const;
    // The headings of the revisions compared, "Revision A — <base>" and "Revision B — <shown>".
    std::array<std::string, 2> revisionTitles() const;
    void setCompareBaseName(std::string name);
    const std::optional<PackageDiff>& compareDiff() const { return compareDiff_; }
    void setCompareDiff(std::optional<PackageDiff> diff);
    const std::vector<CompareRow>& compareRows() const { return compareRows_; }
    void setCompareRows(std::vector<CompareRow> rows);
    const std::optional<DiffChange>& compareHighlight() const { return compareHighlight_; }
    void setCompareHighlight(std::optional<DiffChange> change);
    const std::optional<DFMReport>& dfmReport() const { return dfmReport_; }
    void setDfmReport(std::optional<DFMReport> report);
    // Revision A of a comparison, held whole as the shown revision is: its summary, drill tables and checks.
    const std::optional<BoardSummary>& compareBaseSummary() const { return compareBaseSummary_; }
    void setCompareBaseSummary(std::optional<BoardSummary> summary);
    const std::vector<DrillFileStats>& compareBaseDrillFiles() const { return compareBaseDrillFiles_; }
    void setCompareBaseDrillFiles(std::vector<DrillFileStats> files);
    const std::optional<DFMReport>& compareBaseReport() const { return compareBaseReport_; }
    void setCompareBaseReport(std::optional<DFMReport> report);
    // True from the request of a check run until its report is assigned (or the run failed).
    bool checksPending() const { return checkRunsPending_ > 0; }
    const std::vector<ManufacturingPreset>& presets() const { return presets_; }
    // Does not write the settings; savePresets() does.
    void setPresets(std::vector<ManufacturingPreset> list);
    const std::optional<ManufacturingPreset>& activePreset() const { return activePreset_; }
    // Every assignment is written to the settings and runs the checks again.
    void setActivePreset(std::optional<ManufacturingPreset> preset);
    void savePresets();
    // Made on first use.
    RevisionStore& revisionStore();
    const MeasureEngine& measureEngine() const { return measureEngine_; }
    // A spatial index of the current package's objects for hit tests and snapping under the pointer,
    // built on first use for each package; null without a package.
    const MeasureIndex* measureIndex() const;
    const PackageImporter& importer() const { return importer_; }
    const std::set<std::string>& soloSet() const { return soloSet_; }
    // Held without ownership. A renderer that is a QObject reads as null once destroyed; any other must be
    // taken back with setRenderer(nullptr) before it goes.
    BoardRenderer* renderer() const;
    void setRenderer(BoardRenderer* renderer);
    QWidget* canvasView() const { return canvasView_; }
    void setCanvasView(QWidget* view) { canvasView_ = view; }
    QSizeF canvasSize() const { return canvasSize_; }
    bool hasFitted() const { return hasFitted_; }
    void setHasFitted(bool fitted) { hasFitted_ = fitted; }
    const QImage& lastScreenshot() const { return lastScreenshot_; }
    void setLastScreenshot(QImage image);
    // The file or folder the open board was imported from; absent for a board built in memory. Storing a
    // revision reads the source again, since the model keeps the parsed board only.
    const std::optional<std::filesystem::path>& packageSourceURL() const { return packageSourceURL_; }
    void setPackageSourceURL(std::optional<std::filesystem::path> url);

    // ---- Loading and layers -----------------------------------------------------------------------------
    // Imports a file or folder on a worker thread and installs the result; returns at once.
    void importURL(const std::filesystem::path& url);
    // Starts reading `url` at once, on a thread of its own, and returns: the first importURL of the same path
    // takes what it read instead of reading it again. For the files a launch is handed, so that reading
    // them overlaps the making of the window.
    static void prefetchImport(const std::filesystem::path& url);
    void loadPackage(PackagePtr package);
    void loadPackage(PCBPackage package) { loadPackage(std::make_shared<const PCBPackage>(std::move(package))); }
    void clearCompare();
    void rebuildLayers();
    void syncRenderer();
    // Runs the manufacturing checks on a worker thread, of both revisions in compare mode; each run assigns
    // its report when it ends.
    void recheck();
    void toggleSolo(const std::string& id);
    void setLayerVisible(const std::string& id, bool visible);
    void setLayerColor(const std::string& id, const QColor& color);
    void moveLayer(const std::string& id, bool up);
    void setManualLayerType(const std::string& fileName, const LayerType& type);

    static bool isNegativePlane(const PackageFile& file);
    // The box a negative plane fills: the board outline's, else the file's own extent; none without either. A
    // plane filled past the outline would show mask where the board has none.
    static std::optional<BBox> negativePlaneBox(const PCBPackage& package, const PackageFile& file);
    static double defaultOpacity(const LayerType& type);
    static QColor defaultLayerColor(const LayerType& type);
    // One drill table per drill file of the package, in file order.
    static std::vector<DrillFileStats> drillTables(const PCBPackage& package);
    // Red, green and blue of the colour in sRGB with alpha 1; white for an invalid colour.
    static BoardRenderer::Color simdColor(const QColor& color);
    static std::string layerRendererID(const std::string& fileName) { return "layer:" + fileName; }
    // Positions of the current package's files in the order every canvas draws them, the side facing away
    // first (the bottom one unless `mirrored`); the layer list keeps its own order.
    std::vector<std::size_t> filesInDrawingOrder(bool mirrored) const;

    // ---- Comparison, camera, measurements ---------------------------------------------------------------
    void startCompare(PackagePtr base, const std::string& baseName, PackagePtr revised);
    static CompareGroups compareGroupedObjects(const CompareRow& row, const PCBPackage& base, const PCBPackage& revised);
    // The groups of a row of the current comparison, computed once per comparison; null outside compare
    // mode or for a key that is not a row.
    std::shared_ptr<const CompareGroups> compareGroups(const std::string& layerKey);
    // The same without keeping them: those computed already, else made now.
    std::shared_ptr<const CompareGroups> compareGroupsFor(const std::string& layerKey) const;
    // Shows the comparison `source` shows, sharing its groups and meshes; checks and summaries stay as they
    // are. For a private copy of what the canvas shows (the report's picture).
    void adoptComparison(const AppModel& source);
    // The layer keys of the current comparison's rows in drawing order, as filesInDrawingOrder orders files.
    std::vector<std::string> compareKeysInDrawingOrder(bool mirrored) const;
    // The row a file belongs to in a comparison: its role's name, or "Drill" for every drill file.
    static std::string compareKey(const PackageFile& file);
    void fitBBox(const BBox& box);
    void zoomTo(Vec2 position, double spanMM);
    // zoomTo, and the place marked until the next click on the canvas. With `viewArea` (canvas points) the place
    // is shown in that part of the canvas, the span across its shorter side: the part a sheet over the canvas
    // leaves free.
    void locate(Vec2 position, double spanMM, std::optional<QRectF> viewArea = std::nullopt);
    // The box of the object a located place is on, for the mark to stand around: the largest pad, hole or other
    // small object of any layer there; none between objects or on a long one.
    static std::optional<BBox> locatedObjectBox(const PCBPackage& package, Vec2 at);
    // Highlights a change and shows it with its surroundings: its box, and at least the span Locate shows.
    void showChange(const DiffChange& change);
    void canvasSizeChanged(QSizeF size);
    void addMeasurement(BoardMeasurement measurement);
    void clearMeasurements();

Q_SIGNALS:
    void packageChanged();
    void layerStatesChanged();
    void statusMessageChanged();
    void boardSummaryChanged();
    void drillFilesChanged();
    void unitsChanged();
    void showGridChanged();
    void showOriginChanged();
    void showCrosshairChanged();
    void cameraChanged();
    void toolChanged();
    void selectionChanged();
    void measurementsChanged();
    void annotationsChanged();
    void pendingMeasureAnchorChanged();
    void pendingAnnotationPreviewChanged();
    void cursorWorldChanged();
    void locatedPointChanged();
    void compareBaseChanged();
    void compareBaseNameChanged();
    void compareDiffChanged();
    void compareRowsChanged();
    void compareHighlightChanged();
    void dfmReportChanged();
    void compareBaseSummaryChanged();
    void compareBaseDrillFilesChanged();
    void compareBaseReportChanged();
    void presetsChanged();
    void activePresetChanged();
    void soloChanged();
    void lastScreenshotChanged();
    void packageSourceChanged();
    // An import started by importURL ended, with its package installed or its failure in the status line.
    void importFinished(bool succeeded);
    // A check run started by recheck ended (its report assigned, unless the run failed).
    void checksFinished();

private:
    struct CompareRowCache;

    void restoreSettings();
    void writeActivePresetSetting();
    void resetCompareState();
    void syncCompareRenderer();
    using LayerMeshes = std::unordered_map<std::string, std::shared_ptr<const TessellatedLayer>>;
    // The renderer geometry of every file of the current package that has a layer row, made at most once
    // per package.
    void ensureLayerMeshes(const std::vector<std::size_t>& fileIndices);
    // The meshes of the files `fileIndices` of `package` by file name, made in parallel, largest first, with
    // the detail a view of `scale` pixels per millimetre needs (0: full detail).
    static LayerMeshes makeLayerMeshes(const PCBPackage& package, std::vector<std::size_t> fileIndices, double scale);
    // The same of every file of `package`.
    static LayerMeshes makeLayerMeshes(const PCBPackage& package, double scale);
    // An import a launch started before its window (prefetchImport): the package, and the board's meshes,
    // made as soon as the canvas has a size to fit the board to instead of after the window is built.
    struct EarlyImport;
    // Early imports by path, until an importURL takes one (under a lock of their own).
    static std::map<std::filesystem::path, std::shared_ptr<EarlyImport>>& earlyImports();
    // The early import of `url`, if there is one; it is taken once.
    static std::shared_ptr<EarlyImport> takeEarlyImport(const std::filesystem::path& url);
    // The meshes of an early import's package for the canvas's first usable size, once it has one.
    static void makeEarlyMeshes(EarlyImport& early, const PCBPackage& package);
    // The meshes an early import made for `scale`, waiting for them if they are being made; none when they
    // were not begun, were made for another scale or failed. Stops the import from beginning them later.
    static std::optional<LayerMeshes> takeEarlyMeshes(EarlyImport& early, double scale);
    // Hands the canvas's size to early imports waiting for one.
    static void announceCanvasSize(QSizeF size);
    // The detail scale of the meshes for a board box on a canvas of that size.
    static double launchDetailScale(const BBox& board, QSizeF canvas);
    // The detail scale the meshes need for the view: that of the camera, or of the fit about to be made.
    double meshScaleForView() const;
    // Makes the meshes again when the view needs another detail than they were made for.
    void refreshMeshDetail();
    void ensureCompareCaches();
    static std::shared_ptr<const CompareRowCache> makeCompareRowCache(const CompareRow& row, const PCBPackage& base,
                                                                      const PCBPackage& revised);
    static std::map<std::string, std::shared_ptr<const CompareRowCache>> makeCompareCaches(
        const std::vector<CompareRow>& rows, const PCBPackage& base, const PCBPackage& revised,
        unsigned maxThreads = std::thread::hardware_concurrency());
    // Layer keys of rows a comparison of the two will have, known before it has run: the roles that one file
    // on each side has, and the drill files.
    static std::vector<std::string> sharedLayerKeys(const PCBPackage& a, const PCBPackage& b);
    std::vector<std::size_t> filesInCategoryOrder() const;
    // The board on screen, or revision A of a comparison.
    enum class Revision { shown, base };
    // `made`: the summary of that revision's package, made already (for a board summarised at once).
    void refreshSummary(Revision revision = Revision::shown, std::optional<BoardSummary> made = std::nullopt);
    // The objects a summary of `package` looks at: more than summaryInlineObjects are summarised on a worker.
    static std::size_t summaryObjectCount(const PCBPackage& package);
    static BoardSummaryEngine summaryEngine();
    // Measures the "Board Dimensions" measurement anew from the package's board box, in its place first in
    // the list; adds it when absent only if asked, and drops it when the board has no box.
    void showBoardDimensions(bool addWhenAbsent);
    void assignSummary(Revision revision, std::optional<BoardSummary> summary);
    void runChecks(Revision revision);
    void holdBothRevisions();
    void applyCamera();

    std::unique_ptr<QSettings> settings_;

    PackagePtr package_;
    std::vector<LayerState> layerStates_;
    std::string statusMessage_;
    std::optional<BoardSummary> boardSummary_;
    std::vector<DrillFileStats> drillFiles_;
    Units units_ = Units::mm;
    bool showGrid_ = true;
    bool showOrigin_ = true;
    bool showCrosshair_ = true;
    CameraState camera_;
    Tool tool_ = Tool::select;
    std::optional<HitResult> selection_;
    std::vector<BoardMeasurement> measurements_;
    std::vector<Annotation> annotations_;
    std::optional<Vec2> pendingMeasureAnchor_;
    std::optional<Annotation> pendingAnnotationPreview_;
    std::optional<Vec2> cursorWorld_;
    std::optional<Vec2> pendingTextLocation_;
    std::optional<Vec2> locatedPoint_;
    std::optional<BBox> locatedObjectBox_;
    PackagePtr compareBase_;
    std::string compareBaseName_;
    std::optional<PackageDiff> compareDiff_;
    std::vector<CompareRow> compareRows_;
    std::optional<DiffChange> compareHighlight_;
    std::optional<DFMReport> dfmReport_;
    std::optional<BoardSummary> compareBaseSummary_;
    std::vector<DrillFileStats> compareBaseDrillFiles_;
    std::optional<DFMReport> compareBaseReport_;
    std::vector<ManufacturingPreset> presets_;
    std::optional<ManufacturingPreset> activePreset_;
    std::unique_ptr<RevisionStore> revisionStore_;
    const MeasureEngine measureEngine_{};
    mutable std::unique_ptr<const MeasureIndex> measureIndex_;
    mutable PackagePtr measureIndexPackage_;  // held, so its address cannot be reused by another package
    const PackageImporter importer_{};
    std::set<std::string> soloSet_;
    BoardRenderer* renderer_ = nullptr;
    QPointer<QObject> rendererObject_;
    bool rendererIsObject_ = false;
    QPointer<QWidget> canvasView_;
    QSizeF canvasSize_{0, 0};
    bool hasFitted_ = false;
    QImage lastScreenshot_;
    std::optional<std::filesystem::path> packageSourceURL_;

    // Meshes of the current package by file name, dropped whenever the package is assigned.
    LayerMeshes layerMeshes_;
    // The detail scale of layerMeshes_ (0: full detail).
    double meshScale_ = 0;
    // The scale of the fit a load is about to make, while it assigns the package.
    std::optional<double> plannedViewScale_;
    // Meshes an import made on its worker together with its package, for a detail scale, taken over when that
    // package is assigned for a view of that scale.
    PackagePtr preparedPackage_;
    LayerMeshes preparedMeshes_;
    double preparedScale_ = 0;
    // Made on the import's worker too: the drill tables and, for a board summarised at once, its summary.
    std::vector<DrillFileStats> preparedDrillFiles_;
    std::optional<BoardSummary> preparedSummary_;
    // The summary run whose result is still wanted; a result of an earlier run is dropped.
    std::uint64_t summaryRun_ = 0;
    bool summaryPending_ = false;
    std::uint64_t baseSummaryRun_ = 0;
    bool baseSummaryPending_ = false;
    int checkRunsPending_ = 0;
    // Groups and meshes of the current comparison by layer key, dropped whenever it changes.
    std::map<std::string, std::shared_ptr<const CompareRowCache>> compareCache_;
};

} // namespace corvane
