#pragma once
// The GPU canvas's part of the start-up and of the captures, kept apart from the model's headers.
#include <QImage>

class QWidget;

namespace corvane {

// Installs the OpenGL context format of the board canvas; call before the QApplication exists.
void installCanvasSurfaceFormat();
// One frame of the GPU board view inside `canvas`, at the view's pixel size; null without a GPU view or
// when it yields no image.
QImage renderGPUCanvas(QWidget* canvas);

} // namespace corvane
