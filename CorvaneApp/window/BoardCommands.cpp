#include "window/BoardCommands.hpp"

#include <algorithm>

#include "dialogs/UIServices.hpp"
#include "model/AppModel.hpp"
#include "canvas/ScreenshotController.hpp"

namespace corvane::BoardCommands {

void fitBoard(AppModel& model) {
    if (!model.package()) return;
    const BBox box = model.package()->boardBBox();
    if (!box.isValid()) return;
    model.setHasFitted(true);
    model.fitBBox(box);
}

void zoomIn(AppModel& model) {
    CameraState camera = model.camera();
    camera.pxPerMM = std::min(camera.pxPerMM * zoomStep, CameraState::maxPxPerMM);
    model.setCamera(camera);
}

void zoomOut(AppModel& model) {
    CameraState camera = model.camera();
    camera.pxPerMM = std::max(camera.pxPerMM / zoomStep, CameraState::minPxPerMM);
    model.setCamera(camera);
}

void toggleMirror(AppModel& model) {
    CameraState camera = model.camera();
    camera.mirrored = !camera.mirrored;
    model.setCamera(camera);
}

void copyScreenshot(AppModel& model) {
    // Claiming a copy that did not happen would leave the user pasting an older picture.
    model.setStatusMessage(ScreenshotController::copyScreenshot(model) ? "Screenshot copied to clipboard"
                                                      : "Nothing copied \u2014 no board on the canvas");
}

void openImportPanel(AppModel& model, QWidget* parent, const QString& message) {
    if (const auto path = UIServices::current().chooseImportPath(parent, message)) model.importURL(*path);
}

} // namespace corvane::BoardCommands
