#pragma once
// Start-up hooks driven by the environment, so scripts can load boards, show a comparison and capture the
// canvas (PNG) or the window content (PDF) without any user input:
//   CORVANE_IMPORT            a package, file or folder to import ("" = the working directory)
//   CORVANE_COMPARE_A / _B    two ZIP archives to compare (A alone does nothing)
//   CORVANE_METAL_SNAPSHOT    PNG of the board canvas after the delay, then exit
//   CORVANE_SCREENSHOT        PDF of the window content after the delay, then exit
//   CORVANE_SCREENSHOT_DELAY  seconds before a capture, default 4
// Exit codes: 0 written; 2 no window for the PDF; 3 no canvas for the PNG; 4 the canvas gave no image;
// 5 the file could not be written.
#include <filesystem>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

namespace corvane {

class AppDelegate;
class AppModel;

// The hook variables as read once from the process environment; a variable set to "" counts as set.
struct AutomationEnvironment {
    std::optional<std::string> importPath;
    std::optional<std::string> compareA;
    std::optional<std::string> compareB;
    std::optional<std::string> snapshotPath;
    std::optional<std::string> screenshotPath;
    std::optional<std::string> delay;

    static AutomationEnvironment fromProcess();
    bool empty() const;
};

// The capture delay in seconds: the whole text must be one number (a leading "+" allowed), else 4. Negative
// gives 0 and NaN gives 4; an infinite delay stays infinite.
double captureDelaySeconds(const std::optional<std::string>& text);
// The delay as a timer interval: rounded milliseconds, at most the largest interval a timer takes.
int captureDelayMilliseconds(double seconds);
// Where CORVANE_IMPORT's value points: that path, or the working directory for "".
std::filesystem::path importLocation(const std::string& path);

class AutomationHooks : public QObject {
    Q_OBJECT
public:
    static constexpr int maxWaitPastDelayMs = 60'000;
    // Rounds of queued work a capture delivers at most before it grabs; each round may queue the next.
    static constexpr int maxSettleRounds = 30;
    static constexpr int layoutDepth = 10;

    // Starts the hooks the environment asks for; returns at once. The hooks outlive the delegate, so a capture
    // that finds it gone can still report that.
    static void start(AppDelegate* delegate, const AutomationEnvironment& environment);
    // Starts reading what `environment` asks to import, for start() to take once the window is made, and asks
    // for the canvas capture's own scene.
    static void prefetch(const AutomationEnvironment& environment);
    // Delivers what work that just ended left queued (widgets to show, layouts to redo), so that `window`
    // shows every widget that work made, laid out, as a person looking at it would see it.
    static void settleWindow(QWidget* window);

private:
    explicit AutomationHooks(AppDelegate* delegate);

    enum class Capture { none, png, pdf };

    void startImport(const std::string& path);
    void startCompare(const std::string& pathA, const std::string& pathB);
    // Waits for the checks and (for the window's picture) the summaries the last import or comparison started.
    void awaitFollowUps(AppModel& model);
    void scheduleCapture(Capture capture, const std::string& path, int delayMs);
    bool busy() const { return importPending_ || checksPending_ || summaryPending_ || comparePending_; }
    void workEnded();
    void fire();

    [[noreturn]] void capturePNG();
    [[noreturn]] void capturePDF();
    [[noreturn]] void finish(int code);

    QPointer<AppDelegate> delegate_;
    bool importPending_ = false;
    bool checksPending_ = false;
    bool summaryPending_ = false;
    bool comparePending_ = false;
    Capture capture_ = Capture::none;
    std::string capturePath_;
    bool due_ = false;
    bool fired_ = false;
    // The window whose repaints wait for a capture that is due (scheduleCapture).
    QPointer<QWidget> heldWindow_;
    QTimer deadline_;
};

} // namespace corvane
