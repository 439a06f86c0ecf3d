#pragma once
// The board as the canvas shows it, painted with QPainter independently of the GPU: the screenshot image
// for the clipboard and the report, and the layer painting of the software canvas.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QSizeF>

#include "model/CameraState.hpp"
#include "canvas/CanvasTransform.hpp"
#include "model/GeometryEngine.hpp"
#include "model/Model.hpp"

namespace corvane {

class AppModel;

struct ScreenshotController {
    // Caption drawn at the bottom left of every screenshot, before the package name.
    static constexpr const char* captionPrefix = "Corvane \u2014 ";

    // The arc and cap settings the painters use at `pxPerMM` device pixels per millimetre.
    static GeometryEngine geometry(double pxPerMM);

    // Paints `objects` in order through `transform` (board mm to target units, y down), `pxScale` target units
    // per millimetre for widths and diameters: dark objects, drill hits and slots in `color` (its alpha is the
    // layer's opacity), clear objects erasing what is under them. Flashes take their
    // aperture's true shape, as the GPU canvas draws it: rectangles, obrounds (rectangles with round ends),
    // polygons with their rotation and evaluated macro outlines; other shapes are circles of their bounding
    // diameter. Objects wholly outside the target are skipped.
    static void drawLayer(std::span<const PCBObject> objects, QPainter& painter, const CanvasTransform& transform,
                          double pxScale, const QColor& color, const GeometryEngine& geom);

    // One layer to paint: its objects in file order and its colour with the layer's opacity as alpha. With
    // `negativePlane` the layer is that box filled with every object cut out of it.
    struct LayerJob {
        std::span<const PCBObject> objects;
        QColor color;
        std::optional<BBox> negativePlane;
    };
    // Paints the layers in order onto `target` (logical size `size`, its own device pixel ratio) through
    // `camera`, each on its own so that its clear objects erase only that layer, then laid over what is
    // below, as the GPU canvas composes them. Horizontal bands of the target are painted in parallel.
    static void paintLayerJobs(QImage& target, const QSizeF& size, const CameraState& camera,
                               const std::vector<LayerJob>& jobs);
    // The visible layers of the model's package as the canvas draws them in normal mode: files by layer
    // category, the layer list's colours and opacities, negative planes as cut-out boards.
    static void paintLayers(QImage& target, const QSizeF& size, const CameraState& camera, const AppModel& model);
    // The comparison as the canvas draws it in compare mode: each row's objects in both revisions in grey,
    // those only in revision A in red, those only in B in green.
    static void paintCompare(QImage& target, const QSizeF& size, const CameraState& camera, const AppModel& model);
    // "Corvane — <package>", or "Corvane — <A> → <B>" for a comparison.
    static QString caption(const AppModel& model);

    // The board as the canvas shows it (a comparison's differences in compare mode), the overlay without its
    // interactive parts and a caption, at `scale` image pixels per canvas point. None without a package, for a canvas of 2 points or less either way, or when the image cannot
    // be made.
    static std::optional<QImage> makeImage(const AppModel& model, double scale);
    // makeImage at scale 2, remembered as the model's last screenshot and put on the clipboard as an image
    // and as "image/png". None (clipboard and model untouched) when no image can be made.
    static std::optional<QImage> copyScreenshot(AppModel& model);

    // An image as PNG file bytes, by the core's encoder: several times quicker than Qt's, for the same
    // pixels. None for a null image or one that cannot be encoded.
    static std::optional<std::vector<std::uint8_t>> pngData(const QImage& image);
};

} // namespace corvane
