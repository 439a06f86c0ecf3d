#include "app/AppDelegate.hpp"

#include <QApplication>
#include <QFileOpenEvent>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>

#include "app/AutomationHooks.hpp"
#include "app/MainMenu.hpp"
#include "dialogs/UIServices.hpp"
#include "model/AppModel.hpp"
#include "model/NotificationHub.hpp"
#include "window/BoardCommands.hpp"
#include "window/MainWindowView.hpp"

namespace corvane {

AppDelegate::AppDelegate(std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent), model_(std::make_unique<AppModel>(std::move(settings))) {
    // Frame changes are saved once they settle, as a window autosave would.
    geometrySaver_.setSingleShot(true);
    geometrySaver_.setInterval(400);
    connect(&geometrySaver_, &QTimer::timeout, this, &AppDelegate::saveWindowGeometry);
    if (qApp) qApp->installEventFilter(this);
}

AppDelegate::~AppDelegate() {
    if (qApp) qApp->removeEventFilter(this);
    window_.reset();  // the views observe the model: they go first
}

void AppDelegate::applicationDidFinishLaunching() {
    buildWindow();
    buildMenu();
    if (window_) {
        window_->raise();
        window_->activateWindow();
    }
    registerOpenHandler();
    runAutomationHooks();
}

void AppDelegate::buildWindow() {
    if (window_) return;
    window_ = std::make_unique<QMainWindow>();
    window_->setObjectName("mainWindow");
    window_->setWindowTitle(QStringLiteral("Corvane"));
    view_ = new MainWindowView(*model_, window_.get());
    window_->setCentralWidget(view_);
    window_->addToolBar(Qt::TopToolBarArea, view_->toolbar());
    window_->setUnifiedTitleAndToolBarOnMac(true);
    // The menu bar is inside the window here, so the bars are added to the content size.
    window_->menuBar()->setNativeMenuBar(false);
    window_->menuBar()->setObjectName("menuBar");
    buildMenu();  // the bar's height counts in the window size

    window_->layout()->activate();
    const QSize bars(0, window_->menuBar()->sizeHint().height() + view_->toolbar()->sizeHint().height());
    window_->setMinimumSize(minimumContentSize + bars);
    window_->resize(contentSize + bars);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    QSettings& settings = model_->settings();
    const QByteArray saved = settings.value(windowAutosaveName).toByteArray();
    if (!saved.isEmpty()) window_->restoreGeometry(saved);
    window_->installEventFilter(this);
    window_->show();

    if (!settings.value(launchedOnceKey, false).toBool()) {
        settings.setValue(launchedOnceKey, true);
        settings.sync();
    }
}

void AppDelegate::buildMenu() {
    // Built once: the window needs it for its size before launching has finished.
    if (!window_ || !window_->menuBar()->actions().isEmpty()) return;
    buildMainMenu(*window_->menuBar(), *this);
}

void AppDelegate::registerOpenHandler() {
    QPointer<AppDelegate> self(this);
    Notifications::observe(Notifications::corvaneOpen, this, [self] {
        if (self) self->openPanel();
    });
}

void AppDelegate::openPanel() {
    BoardCommands::openImportPanel(*model_, window_.get(), QString::fromUtf8(openPanelMessage));
}

void AppDelegate::openURLs(const std::vector<std::filesystem::path>& urls) {
    for (const auto& url : urls) model_->importURL(url);
}

void AppDelegate::prefetchLaunchImports(const std::vector<std::filesystem::path>& urls) {
    AutomationHooks::prefetch(AutomationEnvironment::fromProcess());
    for (const auto& url : urls) AppModel::prefetchImport(url);
}

void AppDelegate::runAutomationHooks() { AutomationHooks::start(this, AutomationEnvironment::fromProcess()); }

void AppDelegate::saveWindowGeometry() {
    if (!window_) return;
    QSettings& settings = model_->settings();
    settings.setValue(windowAutosaveName, window_->saveGeometry());
    settings.sync();
}

void AppDelegate::showAbout() {
    UIServices::current().alert(
        window_.get(), QStringLiteral("Corvane 1.0"),
        QStringLiteral("Review PCB manufacturing files on your computer before you send them to production.\n\n"
                       "Gerber RS-274X \u00B7 Gerber X2 \u00B7 Excellon \u00B7 ZIP packages \u00B7 KiCad \u00B7 ODB++\n"
                       "100% local \u2014 no upload, ever."));
}

void AppDelegate::showPrivacy() {
    UIServices::current().alert(
        window_.get(), QStringLiteral("100% Local PCB Review"),
        QStringLiteral("PCB manufacturing data is highly sensitive IP.\n\n"
                       "Corvane never uploads your files. All parsing, rendering, comparison,\n"
                       "checks and reports are generated on this computer. There is no account and\n"
                       "no network access in the review pipeline."));
}

void AppDelegate::exportReport() { Notifications::post(Notifications::openReportSheet); }
void AppDelegate::copyShot() { BoardCommands::copyScreenshot(*model_); }
void AppDelegate::fitBoard() { BoardCommands::fitBoard(*model_); }
void AppDelegate::zoomIn() { BoardCommands::zoomIn(*model_); }
void AppDelegate::zoomOut() { BoardCommands::zoomOut(*model_); }
void AppDelegate::toggleMirror() { BoardCommands::toggleMirror(*model_); }
void AppDelegate::unitsMM() { model_->setUnits(Units::mm); }
void AppDelegate::unitsMil() { model_->setUnits(Units::mil); }
void AppDelegate::openCompare() { Notifications::post(Notifications::openCompareSheet); }
void AppDelegate::openDrill() { Notifications::post(Notifications::openDrillSheet); }
void AppDelegate::openChecks() { Notifications::post(Notifications::openChecksSheet2); }
void AppDelegate::openPresets() { Notifications::post(Notifications::openPresetSheet); }
void AppDelegate::openWorkspace() { Notifications::post(Notifications::openWorkspaceSheet); }

void AppDelegate::quit() {
    saveWindowGeometry();
    QCoreApplication::quit();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FileOpen) {
        const auto* open = static_cast<QFileOpenEvent*>(event);
        if (!open->file().isEmpty()) {
            openURLs({std::filesystem::path(open->file().toStdString())});
            return true;
        }
    }
    if (window_ && watched == window_.get()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize: geometrySaver_.start(); break;
        case QEvent::Close: saveWindowGeometry(); break;
        default: break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace corvane
