#pragma once
// What the main window takes from the board canvas. Until the canvas is built, CanvasPlaceholder.cpp
// provides a stand-in that tells the model its size and holds no renderer.
class QWidget;

namespace corvane {

class AppModel;

// The canvas column's board view for `model`: it registers itself as the model's canvas view (and renderer,
// when it has one) and reports its size to the model.
QWidget* makeCanvasHost(AppModel& model, QWidget* parent);
// Puts a screenshot of the board on the clipboard; false when no image could be made (no board, no canvas).
bool copyBoardScreenshot(AppModel& model);

} // namespace corvane
