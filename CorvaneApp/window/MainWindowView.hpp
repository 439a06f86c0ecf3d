#pragma once
// The content of the main window: sidebar, canvas column (tool picker, canvas with the welcome panel over it,
// status bar) and inspector side by side; the window toolbar; the six sheets; dropped files.
#include <filesystem>
#include <memory>

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QDialog;
class QSplitter;
class QString;
class QToolBar;
class QToolButton;
class QAction;

namespace corvane {

class AppModel;
class CanvasHost;
class SheetPresenter;
class WelcomeView;

class MainWindowView : public QWidget {
    Q_OBJECT
public:
    static constexpr int sidebarMinWidth = 220, sidebarWidth = 260, sidebarMaxWidth = 340;
    static constexpr int inspectorMinWidth = 240, inspectorWidth = 280, inspectorMaxWidth = 360;
    static constexpr const char* openPanelMessage =
        "Choose a manufacturer package (ZIP), a folder of Gerbers, or a single file";

    explicit MainWindowView(AppModel& model, QWidget* parent = nullptr);
    ~MainWindowView() override;

    // The window toolbar; the window that shows this view adopts it.
    QToolBar* toolbar() const { return toolbar_; }
    QSplitter* splitter() const { return splitter_; }
    WelcomeView* welcomeView() const { return welcome_; }
    QWidget* canvasHost() const { return canvas_; }

    void openPanel();
    void toggleMirror();
    void fitBoard();
    // Imports the first local file among `urls`; false when there is none to take.
    bool handleDrop(const QList<QUrl>& urls);
    // Shows the sheet that the notification `name` asks for, or raises it when it is already open.
    void presentSheet(const QString& name);
    SheetPresenter* sheets() const { return sheets_; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildToolbar();
    void refreshToolbar();
    void refreshWelcome();

    QPointer<AppModel> model_;
    QToolBar* toolbar_ = nullptr;
    QAction* viewAction_ = nullptr;
    QToolButton* unitsButton_ = nullptr;
    QSplitter* splitter_ = nullptr;
    QWidget* canvas_ = nullptr;
    WelcomeView* welcome_ = nullptr;
    std::unique_ptr<CanvasHost> canvasHost_;
    bool sizedOnce_ = false;
    SheetPresenter* sheets_ = nullptr;
};

} // namespace corvane
