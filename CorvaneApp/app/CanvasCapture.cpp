#include "app/CanvasCapture.hpp"

#include <QWidget>

#include "canvas/MetalBoardRenderer.hpp"

namespace corvane {

void installCanvasSurfaceFormat() { MetalBoardRenderer::installDefaultSurfaceFormat(); }

QImage renderGPUCanvas(QWidget* canvas) {
    if (!canvas) return {};
    auto* view = qobject_cast<MetalBoardRenderer*>(canvas);
    if (!view) view = canvas->findChild<MetalBoardRenderer*>();
    if (!view || view->hasFailed()) return {};
    const double ratio = view->devicePixelRatioF();
    const QSize pixels(static_cast<int>(view->width() * ratio), static_cast<int>(view->height() * ratio));
    if (pixels.isEmpty()) return {};
    return view->renderToImage(pixels, ratio);
}

} // namespace corvane
