#pragma once
#include <QEvent>
#include <QImage>
#include <QOpenGLWidget>
#include <QSurfaceFormat>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/BoardRenderer.hpp"

class QOffscreenSurface;
class QOpenGLContext;

namespace corvane {

namespace gl {
class Scene;
}

// The GPU board canvas: OpenGL 3.3 core in a QOpenGLWidget. Each visible layer is drawn with 4× multisampling
// into one scratch target, its dark runs blending and its clear runs erasing, then resolved and composited in
// upload order over the background; each pass covers only the pixels the layer's ink can reach. Frames are drawn only when something changed (an upload, a camera write,
// a resize or an expose), never continuously: on software OpenGL a redraw loop would take every core.
//
// Uploads and camera writes may come before the widget has a context; the meshes stay on the CPU (shared
// with the caller) and reach the GPU when a context is current.
class GLBoardRenderer : public QOpenGLWidget, public BoardRenderer {
    Q_OBJECT
public:
    explicit GLBoardRenderer(QWidget* parent);
    ~GLBoardRenderer() override;

    // OpenGL 3.3 core without samples, for every surface and window; install it as the default before the
    // QApplication exists. The canvas multisamples its layers in passes of its own.
    static QSurfaceFormat surfaceFormat();
    static void installDefaultSurfaceFormat();
    // The canvas's own context: as above, but where probe() found a driver that rasterises on the processor,
    // the compatibility profile, whose draws read the layers' vertices in place instead of from a copy the
    // driver keeps.
    static QSurfaceFormat canvasFormat();
    // What probe() found: whether canvases made from now on read vertices in place (where the driver
    // rasterises on the processor, which they check again). Tests set it to draw both ways; returns what it was.
    static bool setReadsVerticesInPlace(bool inPlace);

    // True when the GPU canvas can run here: a windowing platform (not "offscreen" or "minimal"), a context of
    // at least OpenGL 3.3 and shaders that compile. Otherwise the canvas uses its software view.
    static bool probe();
    // Starts loading the OpenGL driver on a thread of its own while the program builds its window; probe()
    // waits for it. Needs the QGuiApplication.
    static void startLoadingDriver();
    // Asks probe() to make a context and scene of their own for captureImage() on a thread beside the window,
    // compiling the code of every pass there: on software OpenGL that took a tenth of a second of the GUI
    // thread at the first frame. For a launch that captures the canvas; call before the canvas is made.
    // Returns what was asked before; tests ask for none again.
    static bool prepareCaptureScene(bool wanted = true);

    using BoardRenderer::setLayer;
    void removeAllLayers() override;
    void setLayer(const std::string& id, const Color& color, float opacity, bool visible,
                  std::shared_ptr<const TessellatedLayer> meshes) override;
    const CameraState& camera() const override { return camera_; }
    void setCamera(const CameraState& camera) override;

    // Draws one frame synchronously into a single-sample target of `pixelSize` pixels, for a view of
    // pixelSize / devicePixelRatio points, and reads it back: RGBA, premultiplied, world +y towards the top
    // row, tight rows. Uses the widget's context when it has one, else a context of its own on an offscreen
    // surface, so it works for a widget never shown. A null image when no context or target can be made.
    QImage renderToImage(const QSize& pixelSize, double devicePixelRatio);
    // renderToImage() through the scene prepareCaptureScene() asked for, once it is ready: the same pixels.
    QImage captureImage(const QSize& pixelSize, double devicePixelRatio);
    // The widget's current picture at its own size and pixel ratio.
    QImage snapshot();

    // True after initializeGL failed; glFailed() was emitted then, once, from the event loop.
    bool hasFailed() const { return failed_; }
    // Frames drawn into the widget so far; an idle canvas draws none.
    std::uint64_t framesDrawn() const { return framesDrawn_; }
    // Triangles the last frame left out because they cover no sample of the target.
    std::int64_t trianglesLeftOut() const;

Q_SIGNALS:
    void glFailed();

protected:
    bool event(QEvent* e) override;
    void initializeGL() override;
    void paintGL() override;

private:
    friend class gl::Scene;

    struct RenderLayer {
        std::string id;
        Color color{};
        float opacity = 1;
        bool visible = true;
        std::shared_ptr<const TessellatedLayer> meshes;
        std::uint64_t serial = 0;  // identity of this layer object, for the GPU buffers kept per context
        std::uint64_t version = 0; // changes whenever the meshes change
        std::int64_t darkVertices = 0;
        std::int64_t clearVertices = 0;
        std::int64_t lineVertices = 0;
        // Runs as ranges into one buffer holding the dark vertices, then the clear ones, then the centre lines.
        struct Run {
            bool clear;
            std::int64_t first;
            std::int64_t count;
            std::int64_t lineFirst = 0;
            std::int64_t lineCount = 0;
        };
        std::vector<Run> runs;
        // Extent of the dark triangles the runs draw: nothing outside it can show. Empty when none.
        BBox inkBox = BBox::empty();
    };

    static BBox inkBoxOf(const RenderLayer& layer);
    static void assignMeshes(RenderLayer& layer, std::shared_ptr<const TessellatedLayer> meshes);
    // Makes the first board's frame ready while there is none to draw: on software OpenGL its target and the
    // code of every pass it takes are made at first use, which took longer than drawing a small board.
    void warmUp();
    static QEvent::Type warmUpEvent();
    // The warm-up's shape as a layer of its own, and a camera on it.
    static std::pair<RenderLayer, CameraState> warmUpFrame();
    static void startMakingCaptureScene();
    static std::vector<RenderLayer::Run> buildRuns(const TessellatedLayer& meshes, std::int64_t darkVertices,
                                                   std::int64_t clearVertices, std::int64_t lineVertices);
    void releaseWidgetScene();
    void releaseOffscreenScene();
    gl::Scene* offscreenScene();

    std::vector<RenderLayer> layers_;
    CameraState camera_;
    std::uint64_t nextSerial_ = 1;
    bool failed_ = false;
    bool warmedUp_ = false;
    std::uint64_t framesDrawn_ = 0;
    // Changes with every change of what is drawn (layers, their meshes or looks, the camera).
    std::uint64_t contentVersion_ = 0;
    // What the widget's framebuffer holds: drawn at that version, in those pixels, for that view size.
    struct PaintedFrame {
        std::uint64_t version = 0;
        QSize pixels;
        QSize view;
    };
    std::optional<PaintedFrame> painted_;
    std::unique_ptr<gl::Scene> widgetScene_;
    // A context of our own for read-backs while the widget has none.
    std::unique_ptr<QOffscreenSurface> offscreenSurface_;
    std::unique_ptr<QOpenGLContext> offscreenContext_;
    std::unique_ptr<gl::Scene> offscreenScene_;
};

} // namespace corvane
