#pragma once
// The application delegate: the one model, the main window, the menu bar, the open dialog, the alerts, the
// menu commands, the files handed over by the system or the command line, and the automation hooks.
#include <filesystem>
#include <memory>
#include <vector>

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QSize>
#include <QTimer>

namespace corvane {

class AppModel;
class MainWindowView;
class AutomationHooks;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr const char* windowAutosaveName = "CorvaneMain";
    static constexpr const char* launchedOnceKey = "launchedOnce";
    static constexpr const char* openPanelMessage = "Choose a manufacturer package (ZIP), folder of Gerbers, or single file";
    static constexpr QSize contentSize{1280, 820};
    static constexpr QSize minimumContentSize{940, 600};

    // The model reads `settings`, or QSettings("Corvane", "Corvane") when none is given.
    explicit AppDelegate(std::unique_ptr<QSettings> settings = nullptr, QObject* parent = nullptr);
    ~AppDelegate() override;

    AppModel& model() { return *model_; }
    QMainWindow* window() const { return window_.get(); }
    MainWindowView* mainView() const { return view_; }

    // Builds and shows the window and the menus, listens for open requests, then runs the automation hooks.
    void applicationDidFinishLaunching();
    // Files handed over at launch or by the system: each starts its own import.
    void openURLs(const std::vector<std::filesystem::path>& urls);
    // Starts reading what the launch will import, the files handed over and the automation's, before the
    // window is made: the window takes as long to appear as a large board to read.
    static void prefetchLaunchImports(const std::vector<std::filesystem::path>& urls);

    void buildWindow();
    void buildMenu();
    void registerOpenHandler();
    void openPanel();
    void runAutomationHooks();
    void saveWindowGeometry();

    // Menu commands.
    void showAbout();
    void showPrivacy();
    void exportReport();
    void copyShot();
    void fitBoard();
    void zoomIn();
    void zoomOut();
    void toggleMirror();
    void unitsMM();
    void unitsMil();
    void openCompare();
    void openDrill();
    void openChecks();
    void openPresets();
    void openWorkspace();
    void quit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<QMainWindow> window_;
    MainWindowView* view_ = nullptr;
    QTimer geometrySaver_;
};

} // namespace corvane
