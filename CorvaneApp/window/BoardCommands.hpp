#pragma once
// The commands that the menu bar, the toolbar, the tool picker and the welcome view share.
#include <QString>

class QWidget;

namespace corvane {

class AppModel;

namespace BoardCommands {

// Fits the camera to the loaded board; nothing without a package or with an empty board box.
void fitBoard(AppModel& model);
// Scale × 1.25 up to 4000, or ÷ 1.25 down to 0.05; the centre stays. Works without a package too.
void zoomIn(AppModel& model);
void zoomOut(AppModel& model);
// Flips between the top and the bottom view.
void toggleMirror(AppModel& model);
// Copies a screenshot of the board to the clipboard and says in the status line whether it did.
void copyScreenshot(AppModel& model);
// Asks for a package with `message` and imports the choice; a cancelled dialog does nothing.
void openImportPanel(AppModel& model, QWidget* parent, const QString& message);

inline constexpr double zoomStep = 1.25;

} // namespace BoardCommands
} // namespace corvane
