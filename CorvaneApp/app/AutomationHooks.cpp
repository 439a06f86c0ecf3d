#include "app/AutomationHooks.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>

#include <QBuffer>
#include <QCoreApplication>
#include <QLayout>
#include <QMainWindow>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPixmap>
#include <QThreadPool>

#include "app/AppDelegate.hpp"
#include "canvas/CanvasContainerView.hpp"
#include "canvas/GLBoardRenderer.hpp"
#include "canvas/ScreenshotController.hpp"
#include "io/FileIO.hpp"
#include "model/AppModel.hpp"

namespace corvane {

namespace {

std::optional<std::string> variable(const char* name) {
    if (!qEnvironmentVariableIsSet(name)) return std::nullopt;
    return qgetenv(name).toStdString();
}

// One write per message, so lines of concurrent writers never interleave.
void writeLine(const std::string& text) {
    const std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::filesystem::path toPath(const std::string& text) { return std::filesystem::path(text); }

// Whether a decimal text that does not fit a double is too large (true) or too small (false) in magnitude.
bool overflowsRatherThanUnderflows(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::int64_t magnitude = 0;  // decimal exponent of the first non-zero digit
    bool seenDigit = false, seenPoint = false;
    std::int64_t position = 0;  // digits before the point, then minus the digits after it
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            seenPoint = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        if (!seenPoint) ++position;
        else --position;
        if (c != '0' && !seenDigit) {
            seenDigit = true;
            magnitude = seenPoint ? position : position - 1;
        }
    }
    if (!seenDigit) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        const std::string_view exponent = text.substr(i + 1);
        std::size_t start = (!exponent.empty() && exponent[0] == '+') ? 1 : 0;
        std::int64_t e = 0;
        const auto [ptr, ec] = std::from_chars(exponent.data() + start, exponent.data() + exponent.size(), e);
        (void)ptr;
        if (ec == std::errc::result_out_of_range) return !exponent.empty() && exponent[0] != '-';
        return magnitude + e >= 0;
    }
    return magnitude >= 0;
}

// A widget put into the layout of a shown one is shown by a queued call, not at once.
bool waitsToBeShown(const QWidget* w) {
    const QWidget* parent = w->parentWidget();
    return !w->isWindow() && parent && parent->isVisible() && w->testAttribute(Qt::WA_WState_Hidden) &&
           !w->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

// Writes the file atomically; the reason of a failure, without the path, which the caller prints. A capture
// is made again by running the script again, so it is not flushed to disk first: on a busy disk the flush
// took longer than the capture.
std::optional<std::string> writeFile(const std::string& path, const Bytes& bytes) {
    try {
        atomicWriteFile(toPath(path), bytes, 0644, Durability::cached);
        return std::nullopt;
    } catch (const FileWriteError& e) {
        std::string reason = e.what();
        const std::string prefix = "Could not write '" + toPath(path).string() + "': ";
        if (reason.rfind(prefix, 0) == 0) reason.erase(0, prefix.size());
        return reason;
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
}

} // namespace

// ---- Environment and delay ----------------------------------------------------------------------------------

AutomationEnvironment AutomationEnvironment::fromProcess() {
    AutomationEnvironment env;
    env.importPath = variable("CORVANE_IMPORT");
    env.compareA = variable("CORVANE_COMPARE_A");
    env.compareB = variable("CORVANE_COMPARE_B");
    env.snapshotPath = variable("CORVANE_METAL_SNAPSHOT");
    env.screenshotPath = variable("CORVANE_SCREENSHOT");
    env.delay = variable("CORVANE_SCREENSHOT_DELAY");
    return env;
}

bool AutomationEnvironment::empty() const {
    return !importPath && !compareA && !compareB && !snapshotPath && !screenshotPath;
}

double captureDelaySeconds(const std::optional<std::string>& text) {
    constexpr double fallback = 4.0;
    const std::string_view whole = text ? std::string_view(*text) : std::string_view("4");
    std::string_view digits = whole;
    // The platform's number reading takes a leading "+", which from_chars does not.
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) return fallback;
    }
    if (digits.empty()) return fallback;
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                           std::chars_format::general);
    if (end != digits.data() + digits.size()) return fallback;
    if (ec == std::errc::result_out_of_range) {
        const bool negative = digits.front() == '-';
        if (negative || !overflowsRatherThanUnderflows(digits)) return 0.0;
        return std::numeric_limits<double>::infinity();
    }
    if (ec != std::errc()) return fallback;
    if (std::isnan(value)) return fallback;
    if (value < 0) return 0.0;
    return value;
}

int captureDelayMilliseconds(double seconds) {
    if (!(seconds > 0)) return 0;
    const double ms = seconds * 1000.0;
    // Converting a double past the int range is undefined: the largest interval stands for "never".
    if (!(ms < static_cast<double>(INT_MAX))) return INT_MAX;
    return static_cast<int>(std::llround(ms));
}

// ---- Hooks -------------------------------------------------------------------------------------------------

AutomationHooks::AutomationHooks(AppDelegate* delegate) : QObject(QCoreApplication::instance()), delegate_(delegate) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &AutomationHooks::fire);
}

void AutomationHooks::start(AppDelegate* delegate, const AutomationEnvironment& environment) {
    if (environment.empty() || !QCoreApplication::instance()) return;
    auto* hooks = new AutomationHooks(delegate);
    if (environment.importPath) hooks->startImport(*environment.importPath);
    if (environment.compareA && environment.compareB) hooks->startCompare(*environment.compareA, *environment.compareB);
    // The PNG capture runs first and ends the process, so with both set the PDF would never run.
    if (environment.snapshotPath) {
        hooks->scheduleCapture(Capture::png, *environment.snapshotPath,
                               captureDelayMilliseconds(captureDelaySeconds(environment.delay)));
    } else if (environment.screenshotPath) {
        hooks->scheduleCapture(Capture::pdf, *environment.screenshotPath,
                               captureDelayMilliseconds(captureDelaySeconds(environment.delay)));
    }
}

std::filesystem::path importLocation(const std::string& path) {
    if (!path.empty()) return toPath(path);
    std::error_code error;
    return std::filesystem::current_path(error);
}

void AutomationHooks::prefetch(const AutomationEnvironment& environment) {
    if (environment.importPath) AppModel::prefetchImport(importLocation(*environment.importPath));
    if (environment.snapshotPath) GLBoardRenderer::prepareCaptureScene();
}

void AutomationHooks::startImport(const std::string& path) {
    if (!delegate_) return;
    AppModel& model = delegate_->model();
    const std::filesystem::path url = importLocation(path);
    importPending_ = true;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(&model, &AppModel::importFinished, this, [this, connection](bool succeeded) {
        disconnect(*connection);
        importPending_ = false;
        AppModel* model = delegate_ ? &delegate_->model() : nullptr;
        if (!succeeded) {
            std::string description = model ? model->statusMessage() : std::string();
            const std::string prefix = "Import failed: ";
            if (description.rfind(prefix, 0) == 0) description.erase(0, prefix.size());
            writeLine("import failed: " + description);
        } else if (model && model->package()) {
            awaitFollowUps(*model);
        }
        workEnded();
    });
    model.importURL(url);
}

void AutomationHooks::startCompare(const std::string& pathA, const std::string& pathB) {
    if (!delegate_) return;
    comparePending_ = true;
    const PackageImporter importer = delegate_->model().importer();
    QPointer<AutomationHooks> self(this);
    QThreadPool::globalInstance()->start([self, importer, pathA, pathB] {
        std::shared_ptr<const PCBPackage> a, b;
        std::string failure;
        try {
            a = std::make_shared<const PCBPackage>(importer.importZIP(toPath(pathA)));
            b = std::make_shared<const PCBPackage>(importer.importZIP(toPath(pathB)));
        } catch (const std::exception& e) {
            failure = e.what();
            a.reset();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, a, b, failure, pathA] {
                if (!self) return;
                self->comparePending_ = false;
                if (!a || !b) writeLine("compare failed: " + failure);
                else if (self->delegate_) {
                    AppModel& model = self->delegate_->model();
                    model.startCompare(a, lastPathComponent(toPath(pathA)), b);
                    self->awaitFollowUps(model);
                }
                self->workEnded();
            },
            Qt::QueuedConnection);
    });
}

void AutomationHooks::awaitFollowUps(AppModel& model) {
    // Loading a package or comparing two started check runs. The window's picture shows their findings and
    // waits for them; the canvas's does not show them, so its capture is not held up by them.
    if (capture_ != Capture::png && model.checksPending()) {
        checksPending_ = true;
        auto checks = std::make_shared<QMetaObject::Connection>();
        *checks = connect(&model, &AppModel::checksFinished, this, [this, checks, &model] {
            if (model.checksPending()) return;
            disconnect(*checks);
            checksPending_ = false;
            workEnded();
        });
    }
    // A large board's summary comes after the board; the window's picture shows it, the canvas's does not.
    if (capture_ != Capture::pdf || !model.summaryPending()) return;
    summaryPending_ = true;
    auto connections = std::make_shared<std::vector<QMetaObject::Connection>>();
    const auto summarised = [this, connections, &model] {
        if (model.summaryPending()) return;
        for (const auto& c : *connections) disconnect(c);
        summaryPending_ = false;
        workEnded();
    };
    connections->push_back(connect(&model, &AppModel::boardSummaryChanged, this, summarised));
    connections->push_back(connect(&model, &AppModel::compareBaseSummaryChanged, this, summarised));
}

void AutomationHooks::scheduleCapture(Capture capture, const std::string& path, int delayMs) {
    capture_ = capture;
    capturePath_ = path;
    // A canvas capture due at once that waits only for its board is drawn for itself and then ends the
    // process: the window's first frame would come before it on the GUI thread and be seen by nobody. On
    // software OpenGL composing a window that holds the canvas took longer than a tenth of a second, and
    // memory of its own; the window's repaints wait until the capture.
    AppModel* model = delegate_ ? &delegate_->model() : nullptr;
    if (capture == Capture::png && delayMs == 0 && busy() && model && model->renderer() && delegate_->window()) {
        heldWindow_ = delegate_->window();
        heldWindow_->setUpdatesEnabled(false);
    }
    // A precise timer: Qt lets coarse timers of seconds fire up to 5% early.
    QTimer::singleShot(delayMs, Qt::PreciseTimer, this, [this] {
        due_ = true;
        if (!busy()) fire();
        else deadline_.start(maxWaitPastDelayMs);  // work still running: wait for it, but not forever
    });
}

void AutomationHooks::workEnded() {
    if (due_ && !busy()) fire();
}

void AutomationHooks::fire() {
    if (fired_) return;
    fired_ = true;
    deadline_.stop();
    if (heldWindow_) heldWindow_->setUpdatesEnabled(true);
    if (capture_ == Capture::png) {
        // The canvas's picture needs its size, not the repaints and the results of work that are waiting:
        // it is drawn for the capture itself.
        for (int level = 0; level < layoutDepth; ++level) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        capturePNG();
    }
    if (capture_ == Capture::pdf) {
        settleWindow(delegate_ ? delegate_->window() : nullptr);
        capturePDF();
    }
}

void AutomationHooks::settleWindow(QWidget* window) {
    // The work that just ended made rows and changed texts in this same turn of the event loop: their widgets
    // are shown by queued calls and laid out by posted requests, each of which may post more. Deliver them
    // until nothing waits to be shown, then once more for the layouts the last showing asked for.
    int round = 0;
    for (; round < maxSettleRounds; ++round) {
        QCoreApplication::sendPostedEvents();
        const auto children = window ? window->findChildren<QWidget*>() : QList<QWidget*>();
        if (std::none_of(children.begin(), children.end(), waitsToBeShown)) break;
    }
    // A layout redone asks its parent's to be redone in turn, one level per round: a scroll area's content
    // is the deepest the window has.
    for (int level = 0; level < layoutDepth && round < maxSettleRounds; ++level, ++round) QCoreApplication::sendPostedEvents();
}

void AutomationHooks::capturePNG() {
    if (!delegate_) finish(3);
    AppModel& model = delegate_->model();
    QWidget* canvas = model.canvasView();
    if (!canvas) finish(3);
    const bool gpu = model.renderer() != nullptr;
    writeLine(std::string("metal available: ") + (gpu ? "true" : "false"));

    QImage image;
    auto* container = qobject_cast<CanvasContainerView*>(canvas);
    if (gpu) {
        if (GLBoardRenderer* view = container ? container->renderer() : nullptr; view && !view->hasFailed()) {
            const double ratio = view->devicePixelRatioF();
            const QSize pixels(static_cast<int>(view->width() * ratio), static_cast<int>(view->height() * ratio));
            if (!pixels.isEmpty()) image = view->captureImage(pixels, ratio);
        }
    } else {
        // The software canvas with the overlay over it, as the window shows them.
        if (QLayout* layout = canvas->layout()) layout->activate();
        const QPixmap pixmap = canvas->grab();
        if (!pixmap.isNull()) image = pixmap.toImage();
    }
    if (image.isNull()) finish(4);
    const auto bytes = ScreenshotController::pngData(image);
    const auto failure = bytes ? writeFile(capturePath_, *bytes) : std::optional<std::string>("the image could not be encoded as PNG");
    if (failure) {
        writeLine("snapshot write failed: " + capturePath_ + ": " + *failure);
        finish(5);
    }
    if (gpu) {
        writeLine("metal snapshot written: " + capturePath_ + " (" + std::to_string(image.width()) + "x" +
                  std::to_string(image.height()) + ")");
    } else {
        writeLine("software snapshot written: " + capturePath_);
    }
    finish(0);
}

void AutomationHooks::capturePDF() {
    QMainWindow* window = delegate_ ? delegate_->window() : nullptr;
    QWidget* content = window ? window->centralWidget() : nullptr;
    if (!content) finish(2);

    QByteArray data;
    bool drawn = false;
    {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Corvane"));
        writer.setResolution(72);  // one device pixel per point
        const QPageSize page(QSizeF(content->width(), content->height()), QPageSize::Point, QString(),
                             QPageSize::ExactMatch);
        writer.setPageLayout(QPageLayout(page, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        QPainter painter;
        if (painter.begin(&writer)) {
            content->render(&painter);
            drawn = painter.end();
        }
    }
    const auto failure = drawn ? writeFile(capturePath_, Bytes(data.begin(), data.end()))
                               : std::optional<std::string>("the PDF could not be drawn");
    if (failure) {
        writeLine("screenshot write failed: " + capturePath_ + ": " + *failure);
        finish(5);
    }
    writeLine("screenshot written: " + capturePath_);
    finish(0);
}

void AutomationHooks::finish(int code) {
    std::fflush(stderr);
    std::fflush(stdout);
    if (delegate_) delegate_->model().settings().sync();
    // Ending here, on the GUI thread, without running destructors: nothing can race the teardown.
    std::_Exit(code);
}

} // namespace corvane
